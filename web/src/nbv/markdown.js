// Markdown for notebook cells and text/markdown outputs. Temporary stand-in until the shared
// Markdown pipeline is wired in.

import DOMPurify from 'dompurify';
import { h } from './dom.js';

export function renderMarkdown(text) {
  const body = h('div', { className: 'markdown-body nbv-markdown' });
  const marked = globalThis.marked;
  if (!marked) {
    body.appendChild(h('pre', { className: 'nbv-text' }, text));
    return { node: body, enhance: null };
  }
  const html = marked.parse(text, { async: false, gfm: true });
  body.appendChild(DOMPurify.sanitize(html, { RETURN_DOM_FRAGMENT: true }));
  return { node: body, enhance: null };
}
