// Footnotes for marked, rendered like GitHub: references `[^label]` become numbered superscript
// links, definitions `[^label]: text` (continued by indented lines) are collected into a
// <section class="footnotes"> at the end of the document, each with a link back.
//
//   footnoteExtension({idPrefix = ''}) -> marked extension; use one per parse (it keeps the
//       definitions and numbering of one document).

import { escapeHTML, firstParagraph } from './math.js';

const DEFINITION = /^ {0,3}\[\^([^\]\s]+)\]:[ \t]*([^\n]*(?:\n(?:[ \t]*\n)*(?: {2,}|\t)[^\n]*)*)(?:\n+|$)/;
const REFERENCE = /^\[\^([^\]\s]+)\]/;

const slug = (label) => encodeURIComponent(label.toLowerCase()).replace(/%/g, '');

export function footnoteExtension({ idPrefix = '' } = {}) {
  const defined = new Set();
  const definitionHTML = new Map();
  const order = [];
  const referenceCount = new Map();

  const noteId = (label) => `${idPrefix}fn-${slug(label)}`;
  const refId = (label, n) => `${idPrefix}fnref-${slug(label)}${n > 1 ? `-${n}` : ''}`;

  return {
    extensions: [
      {
        name: 'footnoteDefinition',
        level: 'block',
        start(src) {
          const match = /^ {0,3}\[\^[^\]\s]+\]:/m.exec(firstParagraph(src));
          return match ? match.index : undefined;
        },
        tokenizer(src) {
          const match = DEFINITION.exec(src);
          if (!match) return undefined;
          const label = match[1].toLowerCase();
          defined.add(label);
          const body = match[2].replace(/^(?: {1,4}|\t)/gm, '');
          return { type: 'footnoteDefinition', raw: match[0], label, tokens: this.lexer.blockTokens(body, []) };
        },
        renderer(token) {
          if (!definitionHTML.has(token.label)) definitionHTML.set(token.label, this.parser.parse(token.tokens));
          return '';
        },
      },
      {
        name: 'footnoteReference',
        level: 'inline',
        start(src) {
          const index = src.indexOf('[^');
          return index >= 0 ? index : undefined;
        },
        tokenizer(src) {
          const match = REFERENCE.exec(src);
          if (!match || !defined.has(match[1].toLowerCase())) return undefined;
          return { type: 'footnoteReference', raw: match[0], label: match[1].toLowerCase() };
        },
        renderer(token) {
          if (!referenceCount.has(token.label)) order.push(token.label);
          const count = (referenceCount.get(token.label) || 0) + 1;
          referenceCount.set(token.label, count);
          const number = order.indexOf(token.label) + 1;
          return `<sup><a href="#${noteId(token.label)}" id="${refId(token.label, count)}" data-footnote-ref>${number}</a></sup>`;
        },
      },
    ],
    hooks: {
      postprocess(html) {
        const notes = order.filter((label) => definitionHTML.has(label));
        if (notes.length === 0) return html;
        const items = notes.map((label) => {
          const backrefs = [];
          for (let n = 1; n <= referenceCount.get(label); n += 1) {
            backrefs.push(
              `<a href="#${refId(label, n)}" class="data-footnote-backref" aria-label="Back to reference ${escapeHTML(label)}">↩${n > 1 ? `<sup>${n}</sup>` : ''}</a>`,
            );
          }
          let body = definitionHTML.get(label).trim();
          const links = ` ${backrefs.join(' ')}`;
          body = body.endsWith('</p>') ? `${body.slice(0, -4)}${links}</p>` : `${body}<p>${links}</p>`;
          return `<li id="${noteId(label)}">\n${body}\n</li>`;
        });
        return `${html}<section class="footnotes" data-footnotes>\n<h2 class="sr-only">Footnotes</h2>\n<ol>\n${items.join('\n')}\n</ol>\n</section>\n`;
      },
    },
  };
}
