// Code cell sources: shown as plain text at once, highlighted with Prism later (see
// highlightCode), in the kernel's language. A leading cell magic ("%%bash", "%%sql", ...) switches
// the rest of the cell to that language when a grammar exists for it.

import { h } from './dom.js';
import { grammarFor } from './languages.js';

const magicLanguages = {
  bash: 'bash',
  sh: 'bash',
  script: 'bash',
  sql: 'sql',
  html: 'markup',
  svg: 'markup',
  javascript: 'javascript',
  js: 'javascript',
  latex: 'latex',
  markdown: 'markdown',
  python: 'python',
  python3: 'python',
  ruby: 'ruby',
  perl: 'perl',
  R: 'r',
};

// Splits a leading cell magic off the source: {magicLine, body, language}.
export function splitCellMagic(source, kernelLanguage) {
  const match = /^(%%([A-Za-z0-9_]+)[^\n]*)(\n|$)/.exec(source);
  if (!match) return { magicLine: '', body: source, language: kernelLanguage };
  const name = match[2];
  const language = magicLanguages[name] ?? magicLanguages[name.toLowerCase()] ?? kernelLanguage;
  return { magicLine: match[1], body: source.slice(match[0].length), language, separator: match[3] };
}

export function createCodeBlock(source, language) {
  const code = h('code', { className: `language-${language}` }, source);
  const pre = h('pre', { className: 'nbv-source' }, code);
  pre.nbvSource = source;
  pre.nbvLanguage = language;
  return pre;
}

function highlighted(text, language) {
  const found = grammarFor(language);
  if (!found) return null;
  try {
    return { html: globalThis.Prism.highlight(text, found.grammar, found.name), name: found.name };
  } catch {
    return null;
  }
}

function escapeHTML(text) {
  return text.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

// Highlights a block made by createCodeBlock. Prism escapes the text it tokenizes, so its HTML
// holds only spans and text from the source.
export function highlightCode(pre) {
  if (pre.nbvHighlighted) return;
  pre.nbvHighlighted = true;
  const code = pre.firstChild;
  const { magicLine, body, language, separator } = splitCellMagic(pre.nbvSource, pre.nbvLanguage);
  const result = highlighted(body, language);
  if (!result && !magicLine) return;
  const magicHTML = magicLine ? `<span class="token nbv-magic">${escapeHTML(magicLine)}</span>${separator}` : '';
  code.innerHTML = magicHTML + (result ? result.html : escapeHTML(body));
  if (result) code.className = `language-${result.name}`;
  pre.dataset.highlighted = result ? result.name : 'plain';
}
