// text/latex outputs (SymPy, IPython.display.Math/Latex): typeset with KaTeX when the page has it.
// A whole-output formula ($$…$$, $…$, \[…\], \(…\), or a bare environment) is shown in display
// mode; anything else is left to the caller (shown as its source).

import { katexWaiting, loadedKatex, startKatex } from '../shared/katex-library.js';
import { h } from './dom.js';

const delimiters = [
  [/^\$\$([\s\S]*)\$\$$/, true],
  [/^\\\[([\s\S]*)\\\]$/, true],
  [/^\$([\s\S]*)\$$/, false],
  [/^\\\(([\s\S]*)\\\)$/, false],
];

function formulaOf(text) {
  const trimmed = text.trim();
  for (const [pattern, display] of delimiters) {
    const match = pattern.exec(trimmed);
    if (match && !match[1].includes('$')) return { tex: match[1], display };
  }
  if (/^\\begin\{[a-zA-Z*]+\}[\s\S]*\\end\{[a-zA-Z*]+\}$/.test(trimmed)) return { tex: trimmed, display: true };
  return null;
}

export function typesetLatex(text) {
  const formula = formulaOf(text);
  if (!formula) return null;
  // An output is laid out finished: the page's inert KaTeX is started now if need be.
  const katex = loadedKatex() ?? (katexWaiting(document) ? startKatex(document) : null);
  if (!katex || typeof katex.renderToString !== 'function') return null;
  try {
    const html = katex.renderToString(formula.tex, {
      displayMode: formula.display,
      throwOnError: true,
      trust: false,
      output: 'htmlAndMathml',
    });
    const container = h('div', { className: 'nbv-latex' });
    // KaTeX escapes all text it renders, and without `trust` it emits no links or raw HTML.
    container.innerHTML = html;
    return container;
  } catch {
    return null;
  }
}
