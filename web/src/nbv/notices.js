// The bracketed notices that the extension writes into shortened outputs. The viewer shows them
// as quiet notes, apart from the output text around them.

import { h } from './dom.js';

const inlineNoticePattern =
  /\[\.\.\. Lumivale Quick Look truncated [^\n]*?\.\.\.\]|\[Lumivale Quick Look used text\/plain because text\/html output was [^\n]*?\.\]/g;

const omittedHTMLPattern = /^\s*<pre>(\[Lumivale Quick Look omitted a large HTML output: [^<]*\])<\/pre>\s*$/;

// Splits text into plain pieces and notices: [{text, notice: boolean}].
export function splitNotices(text) {
  const pieces = [];
  let last = 0;
  inlineNoticePattern.lastIndex = 0;
  for (let match = inlineNoticePattern.exec(text); match; match = inlineNoticePattern.exec(text)) {
    if (match.index > last) pieces.push({ text: text.slice(last, match.index), notice: false });
    pieces.push({ text: match[0], notice: true });
    last = match.index + match[0].length;
  }
  if (last < text.length) pieces.push({ text: text.slice(last), notice: false });
  return pieces;
}

// Fills `parent` with `text`, where plain pieces go through `renderPlain(piece) -> Node` and the
// notices become <span class="nbv-inline-notice">.
export function appendTextWithNotices(parent, text, renderPlain) {
  for (const piece of splitNotices(text)) {
    if (piece.notice) parent.appendChild(h('span', { className: 'nbv-inline-notice', role: 'note' }, piece.text));
    else parent.appendChild(renderPlain(piece.text));
  }
  return parent;
}

// The notice text when an HTML output is the extension's stand-in for an omitted one, else null.
export function omittedHTMLNotice(html) {
  const match = omittedHTMLPattern.exec(html);
  return match ? match[1] : null;
}
