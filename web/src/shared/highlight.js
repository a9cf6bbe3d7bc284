// Code highlighting with Prism (loaded by the page with `window.Prism = {manual: true}` set
// before its core, so Prism never runs on its own).
//
//   LANGUAGE_ALIASES: fence label (lower case) -> Prism grammar name: the renderer's own alias
//       table (read from it at build time), so a page honours exactly the labels whose grammars
//       the renderer puts into it
//   prismLanguageFor(label) -> the name of a loaded grammar for a fence label, or null
//   highlightCode(root): highlights every <pre><code class="language-…"> whose language is
//       loaded; blocks in other languages stay plain. Never throws.

import { FENCE_ALIASES } from 'lumivale:fence-languages';

export const LANGUAGE_ALIASES = Object.freeze({ ...FENCE_ALIASES });

export function prismLanguageFor(label) {
  const Prism = globalThis.Prism;
  if (!Prism || !Prism.languages || !label) return null;
  const name = String(label).trim().toLowerCase();
  for (const candidate of [LANGUAGE_ALIASES[name], name]) {
    if (candidate && Object.prototype.hasOwnProperty.call(Prism.languages, candidate) &&
        typeof Prism.languages[candidate] === 'object') {
      return candidate;
    }
  }
  return null;
}

function fenceLanguage(code) {
  for (const name of code.classList) {
    if (name.startsWith('language-')) return name.slice('language-'.length);
  }
  return null;
}

export function highlightCode(root) {
  const Prism = globalThis.Prism;
  if (!Prism || typeof Prism.highlightElement !== 'function') return;
  for (const code of root.querySelectorAll('pre > code[class*="language-"]')) {
    if (code.dataset.highlighted) continue;
    const label = fenceLanguage(code);
    const language = prismLanguageFor(label);
    if (!language) continue;
    code.dataset.highlighted = 'true';
    for (const name of [...code.classList]) if (name.startsWith('language-')) code.classList.remove(name);
    code.classList.add(`language-${language}`);
    code.parentElement.classList.add(`language-${language}`);
    try {
      Prism.highlightElement(code, false);
    } catch {
      // A grammar that fails on this text leaves the block plain.
    }
  }
}
