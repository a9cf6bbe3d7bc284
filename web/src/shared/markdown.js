// Markdown to a finished, safe DOM, for the Markdown page and the notebook's Markdown cells.
//
//   renderMarkdownInto(container, markdownText, options) -> Promise<void>
//       marked (GFM, math, footnotes, `::: mermaid`) -> DOMPurify (detached fragment)
//       -> cid: images resolved, unavailable images replaced by placeholders -> insert
//       -> KaTeX -> Prism -> Mermaid (KaTeX after the first paint while the page's copy is inert). Replaces the container's children. Without marked, the
//       text is shown as preformatted plain text. Options:
//         resolveAttachment  (id) => url|null; default globalThis.lumivaleResolveAttachment
//         idPrefix           prefix for generated ids (headings, footnotes, diagrams); ''
//         math, highlight, diagrams   booleans, default true
//         beforeInsert       (fragment, container) => void, called with the finished fragment
//         afterInsert        (container) => void, called once the text is in place, before
//                            mathematics, highlighting and diagrams
//   markdownToHTML(markdownText, {idPrefix, math}) -> unsanitized HTML string (or null
//       without marked); callers must sanitize.
//   finishMarkdownFragment(fragment, {resolveAttachment, idPrefix}): the steps between sanitizing
//       and inserting (attachments, placeholders, document ids isolated, heading anchors, copy
//       buttons, task lists, alerts).
//   enhanceRendered(root, options) -> Promise: KaTeX, Prism and Mermaid on inserted content.
//   renderMarkdownProgressively(container, markdownText, options) -> Promise<void>
//       the same result as renderMarkdownInto for a long document, built a run of blocks at a
//       time: the first screen is shown at once and the rest follows in short tasks, so the
//       page never stops responding. Options as above (beforeInsert sees the first piece).
//       afterInsert is called once the first piece is in place.
//   headingRunsOfMarkdown(markdownText, {idPrefix, math, firstCount}) -> iterator of
//       [detached heading element]: the document's ATX headings as the page shows them (text,
//       ids), without converting the rest; what a long document's outline is made from before
//       all of it is built. In two runs: the first `firstCount` headings, then the others (read
//       and converted only when asked for), with the ids one conversion of all gives.
//   showPlainText(container, text): the fallback view.

import { addHeadingAnchors, isolateDocumentIds } from './anchors.js';
import { resolveAttachmentURLs } from './attachments.js';
import { eachHeadingLine, markdownPieces, pieceConverter } from './blocks.js';
import { renderDiagrams, mermaidContainerExtension } from './diagrams.js';
import { addCopyButtons } from './copy-button.js';
import { emojiExtension } from './emoji.js';
import { footnoteExtension } from './footnotes.js';
import { highlightCode } from './highlight.js';
import { mathExtension, typesetMath } from './math.js';
import { replaceUnavailableImages, sanitizeToFragment } from './sanitize.js';

function markdownParser(library, { idPrefix, math }) {
  const parser = new library.Marked({ gfm: true, breaks: false, async: false });
  if (math) parser.use(mathExtension());
  parser.use(footnoteExtension({ idPrefix }), mermaidContainerExtension(), emojiExtension());
  return parser;
}

export function markdownToHTML(markdownText, { idPrefix = '', math = true } = {}) {
  const library = globalThis.marked;
  if (!library || typeof library.Marked !== 'function') return null;
  return markdownParser(library, { idPrefix, math }).parse(String(markdownText ?? ''));
}

// Heading lines converted together; ids stay unique across the runs through `usedIds`.
function headingsOfLines(lines, { idPrefix, math, usedIds }) {
  const html = lines.length ? markdownToHTML(lines.join('\n\n'), { idPrefix, math }) : null;
  if (html === null) return [];
  const fragment = sanitizeToFragment(html);
  finishMarkdownFragment(fragment, { idPrefix, usedIds });
  if (math) typesetMath(fragment);
  return [...fragment.querySelectorAll('h1, h2, h3, h4, h5, h6')];
}

export function* headingRunsOfMarkdown(markdownText, { idPrefix = '', math = true, firstCount = Infinity } = {}) {
  const lines = eachHeadingLine(String(markdownText ?? ''));
  const usedIds = new Set();
  const first = [];
  for (let line = lines.next(); !line.done; line = lines.next()) {
    first.push(line.value);
    if (first.length >= firstCount) break;
  }
  const firstHeadings = headingsOfLines(first, { idPrefix, math, usedIds });
  yield firstHeadings;
  // Asked for later (the page's KaTeX has run by then, say): formulas the first run left
  // waiting are typeset now, so that every heading's words are final.
  if (math) for (const heading of firstHeadings) typesetMath(heading);
  const rest = [...lines];
  if (rest.length) yield headingsOfLines(rest, { idPrefix, math, usedIds });
}

export function showPlainText(container, text) {
  const doc = container.ownerDocument || document;
  const pre = doc.createElement('pre');
  pre.className = 'lumivale-plain-text';
  pre.textContent = String(text ?? '');
  container.replaceChildren(pre);
}

function markTaskLists(root) {
  for (const checkbox of root.querySelectorAll('li > input[type="checkbox"], li > p:first-child > input[type="checkbox"]')) {
    const item = checkbox.closest('li');
    item.classList.add('task-list-item');
    checkbox.classList.add('task-list-item-checkbox');
    item.parentElement?.classList.add('contains-task-list');
  }
}

// GitHub alerts: a blockquote whose first line is [!NOTE], [!TIP], [!IMPORTANT], [!WARNING] or
// [!CAUTION].
const ALERT_TITLES = { note: 'Note', tip: 'Tip', important: 'Important', warning: 'Warning', caution: 'Caution' };
const OUTLINE = 'fill="none" stroke="currentColor" stroke-width="1.5" stroke-linejoin="round"';
const ALERT_ICONS = {
  note: `<circle cx="8" cy="8" r="6.75" ${OUTLINE}/><rect x="7.25" y="7" width="1.5" height="4.5" rx=".75"/><circle cx="8" cy="4.75" r="1"/>`,
  tip: `<path d="M8 1.5a4.5 4.5 0 0 0-2.6 8.2c.4.3.6.7.6 1.1v.7h4v-.7c0-.4.2-.8.6-1.1A4.5 4.5 0 0 0 8 1.5Z" ${OUTLINE}/><rect x="6" y="13.5" width="4" height="1.5" rx=".75"/>`,
  important: `<rect x="1.75" y="1.75" width="12.5" height="9.5" rx="1.5" ${OUTLINE}/><path d="M4 11.25v3l3-3" ${OUTLINE}/><rect x="7.25" y="3.75" width="1.5" height="4" rx=".75"/><circle cx="8" cy="9.25" r=".9"/>`,
  warning: `<path d="M8 1.75 14.75 13.75H1.25Z" ${OUTLINE}/><rect x="7.25" y="5.5" width="1.5" height="4.5" rx=".75"/><circle cx="8" cy="11.75" r=".9"/>`,
  caution: `<path d="M5.3 1.75h5.4l3.55 3.55v5.4l-3.55 3.55H5.3L1.75 10.7V5.3Z" ${OUTLINE}/><rect x="7.25" y="4.25" width="1.5" height="4.75" rx=".75"/><circle cx="8" cy="11" r=".9"/>`,
};

function markAlerts(root) {
  const doc = root.ownerDocument || document;
  for (const quote of root.querySelectorAll('blockquote')) {
    const first = quote.firstElementChild;
    if (!first || first.tagName !== 'P') continue;
    const text = first.firstChild;
    if (!text || text.nodeType !== 3) continue;
    const match = /^\s*\[!(NOTE|TIP|IMPORTANT|WARNING|CAUTION)\][ \t]*(?:\n|$)/i.exec(text.data);
    if (!match) continue;
    const kind = match[1].toLowerCase();
    text.data = text.data.slice(match[0].length);
    if (text.data === '' && first.firstElementChild?.tagName === 'BR') first.firstElementChild.remove();
    if (!first.textContent.trim() && !first.querySelector('img')) first.remove();
    const alert = doc.createElement('div');
    alert.className = `markdown-alert markdown-alert-${kind}`;
    const title = doc.createElement('p');
    title.className = 'markdown-alert-title';
    const icon = doc.createElement('template');
    icon.innerHTML = `<svg class="octicon" viewBox="0 0 16 16" width="16" height="16" fill="currentColor" aria-hidden="true">${ALERT_ICONS[kind]}</svg>`;
    title.append(icon.content, ALERT_TITLES[kind]);
    alert.append(title, ...quote.childNodes);
    quote.replaceWith(alert);
  }
}

export function finishMarkdownFragment(fragment, { resolveAttachment, idPrefix = '', usedIds = new Set() } = {}) {
  resolveAttachmentURLs(fragment, resolveAttachment ?? globalThis.lumivaleResolveAttachment);
  replaceUnavailableImages(fragment);
  isolateDocumentIds(fragment, usedIds);
  addHeadingAnchors(fragment, { idPrefix, usedIds });
  addCopyButtons(fragment);
  markTaskLists(fragment);
  markAlerts(fragment);
}

// Each step is independent: one failing (or its library missing) leaves the others working.
// Formulas and code are done before this returns its promise unless the page's KaTeX is still
// inert (then the formulas follow right after the text is painted); diagrams always come later.
export async function enhanceRendered(root, { idPrefix = '', math = true, highlight = true, diagrams = true } = {}) {
  let typeset = null;
  if (math) {
    try {
      typeset = typesetMath(root);
    } catch (error) {
      console.warn('Mathematics could not be typeset:', error);
    }
  }
  if (highlight) {
    try {
      highlightCode(root);
    } catch (error) {
      console.warn('Code could not be highlighted:', error);
    }
  }
  await Promise.all([typeset, diagrams ? renderDiagrams(root, { idPrefix }) : null]);
}

export async function renderMarkdownInto(container, markdownText, options = {}) {
  const { idPrefix = '', math = true } = options;
  const html = markdownToHTML(markdownText, { idPrefix, math });
  if (html === null) {
    showPlainText(container, markdownText);
    return;
  }
  const fragment = sanitizeToFragment(html);
  finishMarkdownFragment(fragment, options);
  options.beforeInsert?.(fragment, container);
  container.replaceChildren(fragment);
  options.afterInsert?.(container);
  await enhanceRendered(container, options);
}

function yieldToBrowser() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(null);
  });
}

function afterPaint() {
  return new Promise((resolve) => {
    let done = false;
    const finish = () => {
      if (!done) resolve((done = true));
    };
    if (typeof requestAnimationFrame === 'function') requestAnimationFrame(() => setTimeout(finish, 0));
    setTimeout(finish, 100);
  });
}

// Work per task while the rest of a long document is built: well under the 50 ms at which a
// task starts to hold back scrolling and input.
const SLICE_MS = 24;

export async function renderMarkdownProgressively(container, markdownText, options = {}) {
  const library = globalThis.marked;
  const { idPrefix = '', math = true, highlight = true, diagrams = true } = options;
  if (!library || typeof library.Marked !== 'function') {
    showPlainText(container, markdownText);
    return;
  }
  const text = String(markdownText ?? '');
  const convert = pieceConverter(library, text, () => markdownParser(library, { idPrefix, math }));
  const usedIds = new Set();
  const drawn = [];
  let first = true;
  let sliceStart = performance.now();
  for (const piece of markdownPieces(text)) {
    const fragment = sanitizeToFragment(convert(piece));
    finishMarkdownFragment(fragment, { ...options, usedIds });
    // Typeset and highlight before insertion: the piece appears finished, in one layout.
    drawn.push(enhanceRendered(fragment, { idPrefix, math, highlight, diagrams }));
    if (first) {
      options.beforeInsert?.(fragment, container);
      container.replaceChildren(fragment);
      options.afterInsert?.(container);
      first = false;
      await afterPaint();
      sliceStart = performance.now();
    } else {
      container.appendChild(fragment);
      if (performance.now() - sliceStart > SLICE_MS) {
        await yieldToBrowser();
        sliceStart = performance.now();
      }
    }
  }
  await Promise.all(drawn);
}
