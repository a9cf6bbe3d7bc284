// The reading aids a finished page adds around its content: front matter shown as a table, the
// outline of its headings and in-document links that reach headings and the document's anchors.
//
//   takeFrontMatter(markdown) -> {body, beforeInsert(fragment)}: the Markdown without its front
//       matter, and the step that puts the front matter's table at the top of the first
//       rendered fragment (a no-op without front matter)
//   reserveOutline(content, texts, {label}) -> frame | null: when the Markdown texts are long
//       and hold headings, the outline column is made at once (empty), before the text is
//       shown, so that the text never reflows when the outline arrives
//   expectsOutline(texts) -> boolean: whether reserveOutline makes the column for these texts
//   outlineLikely(texts, {settled}) -> boolean | null: for a document still arriving, whether
//       to reserve the column now: true when the texts so far want it; null (wait) otherwise,
//       until `settled` (so much has arrived that the reader should not wait longer): then a
//       guess, true when the texts hold enough headings (most such documents go on to want the
//       outline; the caller checks against the whole text)
//   reserveOutlineColumn(content, {label}) -> frame: the column, made unconditionally
//   cancelOutline(frame): takes a reserved column away (the document could not be shown)
//   outlineAhead(content, makeHeadingRuns, {label, frame}) -> Promise<outline | null>: fills the
//       reserved frame from stand-in headings made from the Markdown of a long document whose
//       text is still being built (see headingRunsOfMarkdown): makeHeadingRuns(firstCount)
//       gives an iterator of runs of them, the first of `firstCount` headings. The first run's
//       entries come with the first screen, the others right after it is shown.
//   addReadingAids(content, {label, frame, grown, ahead}): right after the page's first screen
//       is shown, fills the outline (or, without a frame, builds one when the rendered document
//       is long enough; with `grown`, a growingOutline already filled in that frame, keeps it
//       or takes it away; with `ahead`, the outline made by outlineAhead, keeps that one when
//       its entries match the headings shown), and makes fragment links and the URL's
//       fragment reach their targets

import { headingText, installFragmentNavigation } from './anchors.js';
import { frontMatterElement, splitFrontMatter } from './front-matter.js';
import { mathPending } from './math.js';
import { MIN_HEADINGS, buildOutline, outlineFrame, removeOutlineFrame, wantsOutline } from './outline.js';

// Less than the height of an outline entry in CSS pixels (a line of 12.5 px text and its padding
// come to about 24): the window's height over this is more entries than the column shows.
const OUTLINE_ENTRY_MIN_HEIGHT = 20;

// About two screens of prose.
const LONG_TEXT = 3000;
const HEADING_LINE = /^ {0,3}#{1,6}(?:[ \t]|$)/gm;

// Counts heading lines only up to what the decision needs: cheap even for megabytes of text.
function countTowardsOutline(texts) {
  let length = 0;
  let headings = 0;
  for (const text of texts) {
    length += text.length;
    HEADING_LINE.lastIndex = 0;
    while (headings < MIN_HEADINGS && HEADING_LINE.exec(text)) headings += 1;
    if (headings >= MIN_HEADINGS && length >= LONG_TEXT) break;
  }
  return { headings, long: length >= LONG_TEXT };
}

export function expectsOutline(texts) {
  const { headings, long } = countTowardsOutline(texts);
  return headings >= MIN_HEADINGS && long;
}

export function outlineLikely(texts, { settled = false } = {}) {
  const { headings, long } = countTowardsOutline(texts);
  if (headings >= MIN_HEADINGS && long) return true;
  return settled ? headings >= MIN_HEADINGS : null;
}

export function reserveOutlineColumn(content, { label = 'Outline' } = {}) {
  return outlineFrame(content.ownerDocument, content, label);
}

export function cancelOutline(frame) {
  if (frame) removeOutlineFrame(frame);
}

export function reserveOutline(content, texts, { label = 'Outline' } = {}) {
  if (!expectsOutline(texts)) return null;
  return reserveOutlineColumn(content, { label });
}

export function takeFrontMatter(markdown) {
  const { frontMatter, body } = splitFrontMatter(markdown);
  return {
    body,
    beforeInsert(fragment) {
      if (frontMatter === null) return;
      const doc = fragment.ownerDocument || document;
      fragment.prepend(frontMatterElement(doc, frontMatter));
    },
  };
}

// Right after the frame that shows the document: its first screen is painted before the outline
// is built, and nothing else (diagrams still starting, say) holds the outline back.
function afterNextPaint(view) {
  return new Promise((resolve) => {
    if (typeof view.requestAnimationFrame === 'function') view.requestAnimationFrame(() => view.setTimeout(resolve, 0));
    else view.setTimeout(resolve, 0);
  });
}

export async function outlineAhead(content, makeHeadingRuns, { label = 'Outline', frame = null } = {}) {
  if (!frame) return null;
  const doc = content.ownerDocument;
  const view = doc.defaultView;
  const runs = makeHeadingRuns(Math.ceil(view.innerHeight / OUTLINE_ENTRY_MIN_HEIGHT));
  // As many entries as the column can show come with the first screen, when their words are
  // final (a formula still waiting for KaTeX would show its TeX); the rest follow right after
  // the first screen is painted.
  const first = runs.next().value ?? [];
  let outline = null;
  const listable = first.some((heading) => heading.id && headingText(heading));
  if (first.length >= MIN_HEADINGS && listable && !first.some(mathPending)) {
    outline = buildOutline({ doc, content, headings: first, label, frame });
  }
  await afterNextPaint(view);
  if (!frame.nav.isConnected) return null;
  const rest = [];
  for (const run of runs) rest.push(...run);
  if (outline) {
    outline.add(rest);
    return outline;
  }
  const headings = [...first, ...rest];
  if (headings.length < MIN_HEADINGS) return null;
  return buildOutline({ doc, content, headings, label, frame });
}

export async function addReadingAids(content, { label = 'Outline', frame = null, grown = null, ahead = null } = {}) {
  const doc = content.ownerDocument;
  const view = doc.defaultView;
  await afterNextPaint(view);
  const headings = [...content.querySelectorAll('h1, h2, h3, h4, h5, h6')].filter((heading) => heading.id);
  let outline = (await ahead) ?? null;
  if (outline && !outline.settle(headings)) {
    outline.remove();
    outline = null;
  }
  if (outline) {
    // Made ahead and matching what is shown: nothing to redo.
  } else if (grown) {
    // Filled while the page was laid out: only its words may have changed since.
    if (headings.length >= MIN_HEADINGS && grown.count) {
      grown.refresh();
      outline = grown;
    } else {
      removeOutlineFrame(frame);
    }
  } else if (frame ? headings.length >= MIN_HEADINGS : wantsOutline(headings, content)) {
    outline = buildOutline({ doc, content, headings, label, frame });
  } else if (frame) {
    removeOutlineFrame(frame);
  }
  // Last: the outline column narrows the text, which moves every heading.
  installFragmentNavigation(doc, content);
  return outline;
}
