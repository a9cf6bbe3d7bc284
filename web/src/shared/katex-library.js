// KaTeX as the Markdown page carries it: its script as inert text (<script type="text/plain"
// id="lumivale-katex-script">) and its style sheet inside <template id="lumivale-katex-style">,
// so that the browser neither compiles the one nor parses the other (300 KB of inlined fonts)
// before the document's words are on screen. Both are started together, once, when formulas
// are to be typeset; the style sheet takes the template's place, so the cascade stays in the
// order the page gives it. Pages that carry KaTeX as an ordinary script have it loaded from
// the start.
//
//   loadedKatex() -> katex | null
//   katexWaiting(doc) -> boolean: the page carries KaTeX that has not been started yet
//   startKatex(doc) -> katex | null: starts it (at most once) and returns it

import { runInlineScript } from './inline-script.js';

const SCRIPT_ID = 'lumivale-katex-script';
const STYLE_ID = 'lumivale-katex-style';

export function loadedKatex() {
  const katex = globalThis.katex;
  return katex && typeof katex.render === 'function' ? katex : null;
}

export function katexWaiting(doc = document) {
  return !loadedKatex() && Boolean(doc.getElementById(SCRIPT_ID)?.hasChildNodes());
}

export function startKatex(doc = document) {
  if (loadedKatex()) return loadedKatex();
  const style = doc.getElementById(STYLE_ID);
  if (style && style.tagName === 'TEMPLATE') style.replaceWith(style.content);
  const script = doc.getElementById(SCRIPT_ID);
  if (!script || !script.hasChildNodes()) return null;
  const text = script.textContent;
  // Emptied first: whatever happens, the library is started only once.
  script.replaceChildren();
  runInlineScript(doc, text);
  return loadedKatex();
}
