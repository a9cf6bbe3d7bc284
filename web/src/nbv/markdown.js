// Markdown for notebook cells and text/markdown outputs, through the same pipeline as Markdown
// documents (marked with math, footnotes and Mermaid containers -> DOMPurify -> cid: images and
// placeholders -> KaTeX, Prism, Mermaid), split in two so the scheduler can defer the slow half:
//
//   renderMarkdown(text) -> { node, enhance }
//       node: the sanitized, readable content (built at once);
//       enhance(): typesets math and highlights code in it, and queues its diagrams, which are
//       drawn once the diagram library has run (after the first screen is painted; see
//       whenDiagramsDrawn in shared/diagrams.js). While the page's KaTeX is inert, the formulas
//       are typeset after the first paint (whenMathTypeset in shared/math.js).

import githubMarkdownCSS from 'github-markdown-css/github-markdown.css';
import { renderDiagrams } from '../shared/diagrams.js';
import { enhanceRendered, finishMarkdownFragment, markdownToHTML } from '../shared/markdown.js';
import { typesetMath } from '../shared/math.js';
import { sanitizeToFragment } from '../shared/sanitize.js';
import { installSharedStyles } from '../shared/theme.js';
import { h } from './dom.js';
import { grammarFor } from './languages.js';

// Heading ids are unique across the whole notebook, so links between cells work.
const usedIds = new Set();

// The cells laid out so far are gone (the page starts again): their ids are free.
export function forgetHeadingIds() {
  usedIds.clear();
}

// The Markdown page's styles: GitHub's Markdown sheet and the styles both pages share.
export function installMarkdownStyles(doc = document) {
  installSharedStyles(doc);
  if (doc.getElementById('nbv-github-markdown')) return;
  const style = doc.createElement('style');
  style.id = 'nbv-github-markdown';
  style.textContent = githubMarkdownCSS;
  const anchor = doc.getElementById('nbv-page-styles');
  if (anchor) anchor.before(style);
  else doc.head.appendChild(style);
}

// Fenced code in Markdown may use any language the viewer bundles, not only the page's defaults.
function loadFenceGrammars(root) {
  for (const code of root.querySelectorAll('pre > code[class*="language-"]')) {
    for (const name of code.classList) {
      if (name.startsWith('language-')) grammarFor(name.slice('language-'.length));
    }
  }
}

export function renderMarkdown(text) {
  const body = h('div', { className: 'markdown-body nbv-markdown' });
  const html = markdownToHTML(text, { idPrefix: '' });
  if (html === null) {
    body.appendChild(h('pre', { className: 'lumivale-plain-text' }, text));
    return { node: body, enhance: null };
  }
  const fragment = sanitizeToFragment(html);
  finishMarkdownFragment(fragment, { idPrefix: '', usedIds });
  body.appendChild(fragment);
  const needsWork = body.querySelector('.math, pre > code[class*="language-"]');
  const enhance = needsWork
    ? () => {
        loadFenceGrammars(body);
        // Formulas that wait for the page's KaTeX follow after the first paint (see
        // whenMathTypeset): the cell does not wait for them.
        typesetMath(body);
        const done = enhanceRendered(body, { idPrefix: '', math: false, diagrams: false });
        renderDiagrams(body, { idPrefix: '' });
        return done;
      }
    : null;
  return { node: body, enhance };
}
