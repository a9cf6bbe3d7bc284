// Mathematics: a marked extension that keeps TeX away from Markdown, and KaTeX typesetting.
//
//   mathExtension() -> marked extension: `$…$` inline, `$$…$$` display (own lines or inline),
//       \begin{equation|align|gather|multline|alignat|CD}…\end{…} blocks and ```math fences are
//       emitted as <span|div class="math math-inline|math-display"> holding the escaped TeX.
//       Inline `$` rules (as in pandoc): the opening `$` is followed by a non-space, the closing
//       `$` preceded by a non-space and not followed by a digit, so "$5 and $10" stays prose;
//       `\$` is a literal dollar.
//   typesetMath(root) -> Promise: renders every such element with KaTeX (errors shown inline,
//       never thrown), at once or, while the page's KaTeX is still inert, right after the text
//       is painted; without KaTeX the TeX source stays readable between its delimiters.
//   whenMathTypeset() -> Promise: resolves once no formula is waiting to be typeset.
//   mathPending(root) -> boolean: whether a formula under root is not typeset yet.

import { katexWaiting, loadedKatex, startKatex } from './katex-library.js';
import { afterNextPaint, nextTask } from './paint.js';

const INLINE_DISPLAY = /^\$\$(?!\$)((?:\\[\s\S]|[^\\$]|\$(?!\$))+?)\$\$/;
const INLINE = /^\$(?![\s$])((?:\\[\s\S]|[^\\$\n]|\n(?![ \t]*\n))+?)(?<![\s\\])\$(?!\d)/;
const BLOCK_DOLLARS = /^ {0,3}\$\$((?:\\[\s\S]|[^\\$]|\$(?!\$))*?)\$\$[ \t]*(?:\n+|$)/;
const BLOCK_ENVIRONMENT =
  /^ {0,3}(\\begin\{(equation|align|alignat|gather|multline|flalign|CD)(\*?)\}[\s\S]*?\\end\{\2\3\})[ \t]*(?:\n+|$)/;

export function escapeHTML(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

const mathHTML = (tex, display, block) =>
  block
    ? `<div class="math math-display">${escapeHTML(tex)}</div>\n`
    : `<span class="math ${display ? 'math-display' : 'math-inline'}">${escapeHTML(tex)}</span>`;

// marked asks block extensions where they might interrupt the paragraph that starts `src`; a
// paragraph ends at the first blank line, so searching further would only make long documents
// quadratic.
export function firstParagraph(src) {
  const end = src.indexOf('\n\n');
  return end < 0 ? src : src.slice(0, end + 1);
}

// Position of the first "$" that is not escaped by a backslash, or -1.
function firstUnescapedDollar(src) {
  for (let i = src.indexOf('$'); i >= 0; i = src.indexOf('$', i + 1)) {
    let backslashes = 0;
    for (let j = i - 1; j >= 0 && src[j] === '\\'; j -= 1) backslashes += 1;
    if (backslashes % 2 === 0) return i;
  }
  return -1;
}

export function mathExtension() {
  return {
    extensions: [
      {
        name: 'blockMath',
        level: 'block',
        start(src) {
          const match = /^ {0,3}(?:\$\$|\\begin\{)/m.exec(firstParagraph(src));
          return match ? match.index : undefined;
        },
        tokenizer(src) {
          let match = BLOCK_DOLLARS.exec(src);
          if (match && match[1].trim()) {
            return { type: 'blockMath', raw: match[0], text: match[1].trim() };
          }
          match = BLOCK_ENVIRONMENT.exec(src);
          if (match) return { type: 'blockMath', raw: match[0], text: match[1].trim() };
          return undefined;
        },
        renderer: (token) => mathHTML(token.text, true, true),
      },
      {
        name: 'inlineMath',
        level: 'inline',
        start(src) {
          const index = firstUnescapedDollar(src);
          return index >= 0 ? index : undefined;
        },
        tokenizer(src) {
          let match = INLINE_DISPLAY.exec(src);
          if (match && match[1].trim()) {
            return { type: 'inlineMath', raw: match[0], text: match[1].trim(), display: true };
          }
          match = INLINE.exec(src);
          if (match) return { type: 'inlineMath', raw: match[0], text: match[1], display: false };
          return undefined;
        },
        renderer: (token) => mathHTML(token.text, token.display, false),
      },
    ],
    renderer: {
      code(token) {
        if ((token.lang || '').trim().toLowerCase() !== 'math') return false;
        return mathHTML(token.text, true, true);
      },
    },
    hooks: {
      // Keep "_" and "*" inside $…$ from pairing with emphasis delimiters outside it.
      emStrongMask(src) {
        return src.replace(/\$\$[^$]+?\$\$|\$(?![\s$])[^$\n]+?(?<![\s\\])\$(?!\d)/g, (span) =>
          span[0] + 'a'.repeat(span.length - 2) + span[span.length - 1],
        );
      },
    },
  };
}

// Formulas given to typesetMath while the page's KaTeX was still inert (katex-library.js),
// typeset together once the text has been painted. Held as elements, not by their root: a
// fragment's formulas have moved into the page by then.
const waitingFormulas = new Set();
let waitingTypeset = null;
const TYPESET_SLICE_MS = 30;

const untypeset = (root) =>
  [...root.querySelectorAll('.math.math-inline, .math.math-display')].filter((element) => !element.dataset.mathRendered);

// Room for a display formula before it is typeset, in em of the text around it: a line per
// row, taller rows for fractions, integrals and sums with limits, and the display's margins.
function displayHeightEm(tex) {
  const rows = tex.split(/\\\\(?![a-zA-Z])/);
  const rowHeight = (row) =>
    /\\(?:sum|prod|bigcup|bigcap)_/.test(row) ? 3.4 : /\\(?:[dt]?frac|cfrac|binom|int|oint|over\b)/.test(row) ? 2.9 : 1.7;
  return rows.reduce((total, row) => total + rowHeight(row), 0) + 1.1;
}

// Until it is typeset, a formula keeps about its place but shows nothing (its TeX, set in the
// text's font, would flash up for a moment).
function holdPlace(element) {
  element.classList.add('math-pending');
  if (element.classList.contains('math-display')) element.style.minHeight = `${displayHeightEm(element.textContent).toFixed(2)}em`;
}

function typesetElement(element, katex) {
  element.dataset.mathRendered = 'true';
  if (element.classList.contains('math-pending')) {
    element.classList.remove('math-pending');
    element.removeAttribute('style');
  }
  const tex = element.textContent;
  const display = element.classList.contains('math-display');
  if (!katex) {
    element.classList.add('math-source');
    element.textContent = display ? `$$${tex}$$` : `$${tex}$`;
    return;
  }
  try {
    katex.render(tex, element, {
      displayMode: display,
      throwOnError: false,
      output: 'htmlAndMathml',
      trust: false,
      strict: 'ignore',
      maxExpand: 1000,
      maxSize: 50,
    });
  } catch (error) {
    element.classList.add('math-source');
    element.textContent = display ? `$$${tex}$$` : `$${tex}$`;
    element.title = String(error && error.message ? error.message : error);
  }
}

// Typesets every formula under `root`. With KaTeX loaded (or none on the page) that happens at
// once; a page that carries KaTeX still inert shows its text first and typesets in the task
// after that text is painted. Resolves when root's formulas are typeset. Errors are shown
// inline, never thrown.
export function typesetMath(root) {
  const elements = untypeset(root);
  if (!elements.length) return Promise.resolve();
  // The page's own document: a fragment built for it may belong to another (inert) one.
  const doc = globalThis.document;
  if (!katexWaiting(doc)) {
    const katex = loadedKatex();
    for (const element of elements) typesetElement(element, katex);
    return Promise.resolve();
  }
  for (const element of elements) {
    holdPlace(element);
    waitingFormulas.add(element);
  }
  waitingTypeset ??= afterNextPaint(doc.defaultView ?? globalThis).then(async () => {
    const katex = startKatex(doc);
    // In document order (the first screen first), in tasks short enough not to hold back
    // scrolling; formulas given meanwhile are typeset at once, KaTeX being loaded.
    let sliceStart = performance.now();
    for (const element of waitingFormulas) {
      waitingFormulas.delete(element);
      if (!element.dataset.mathRendered) typesetElement(element, katex);
      if (performance.now() - sliceStart > TYPESET_SLICE_MS) {
        await nextTask();
        sliceStart = performance.now();
      }
    }
    waitingTypeset = null;
  });
  return waitingTypeset;
}

// True while a formula under `root` waits for KaTeX (its TeX source still stands in its place).
export function mathPending(root) {
  return untypeset(root).length > 0;
}

export function whenMathTypeset() {
  return waitingTypeset ?? Promise.resolve();
}
