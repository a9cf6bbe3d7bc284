// The notebook viewer ("nbv"): reads the notebook embedded in the page, lays out its cells in
// order, and enhances them (highlighting, mathematics, diagrams). Cells are laid out in small
// time-sliced batches so the first screen appears at once even for notebooks with thousands of
// cells; enhancement runs first for the cells on screen (IntersectionObserver), then for all the
// others in order. <html data-lumivale-ready="true"> is set when everything is done.
//
// A big notebook's JSON takes the browser a while to read into the page. While it does, the
// first cells are already shown from the part that has arrived (arriving-cells.js), as the
// whole text would show them: in the kernel's language that the metadata ahead of the cells
// names (Python when the metadata comes after them), and nothing before the outline's column is
// known to be wanted. Once the whole text is there, the viewer goes on from the cells shown when the
// whole text agrees, and otherwise shows the notebook afresh; the header fills in then.

import { h, notice } from './dom.js';
import { openNotebook } from './notebook-source.js';
import { watchArrivingCells } from './arriving-cells.js';
import { metadataLanguage, readCell } from './notebook-model.js';
import { renderCell } from './cells.js';
import { createScheduler } from './scheduler.js';
import { forgetHeadingIds, installMarkdownStyles, renderMarkdown } from './markdown.js';
import { typesetLatex } from './latex.js';
import outputCSS from './output.css';
import { redrawDiagrams, whenDiagramsDrawn } from '../shared/diagrams.js';
import { whenMathTypeset } from '../shared/math.js';
import { addReadingAids, cancelOutline, expectsOutline, outlineLikely, reserveOutline, reserveOutlineColumn } from '../shared/reading.js';
import { growingOutline } from '../shared/outline.js';
import { onColorSchemeChange } from '../shared/theme.js';

const dataElementId = 'lumivale-notebook';

// The notebook's JSON text. The page's data element ends at the first "</script" (the extension
// escapes that sequence inside the JSON); cutting there also recovers the text when an unusual
// page made the HTML parser run the element on to the end of the document. The template closes
// the JSON with "-->" (see there), which is not part of it.
function withoutClosingArrow(text) {
  let end = text.length;
  while (end > 0 && /\s/.test(text[end - 1])) end -= 1;
  return text.startsWith('-->', end - 3) ? text.slice(0, end - 3) : null;
}

export function embeddedNotebookText(element) {
  const text = element ? element.textContent : '';
  const closed = withoutClosingArrow(text);
  if (closed !== null) return closed;
  // No closing arrow: the element may have run on (only then is there a "</script" to find).
  const cut = text.indexOf('</script');
  if (cut < 0) return text;
  return withoutClosingArrow(text.slice(0, cut)) ?? text.slice(0, cut);
}

function setReady() {
  document.documentElement.dataset.lumivaleReady = 'true';
}

function showFailure(main, title, detail) {
  main.replaceChildren(
    h('div', { className: 'nbv-failure', role: 'alert' }, h('h2', {}, title), detail ? h('p', {}, detail) : null),
  );
}

function describeLanguage(notebook) {
  const language = notebook.language ? notebook.language.charAt(0).toUpperCase() + notebook.language.slice(1) : '';
  return notebook.kernelName && notebook.kernelName.toLowerCase() !== notebook.language ? notebook.kernelName : language;
}

function fillHeader(notebook) {
  const meta = document.getElementById('nbv-meta');
  if (!meta) return;
  forgetHeaderReservation(meta);
  const codeCells = notebook.codeCellCount;
  const items = [
    describeLanguage(notebook),
    `${notebook.cellCount} ${notebook.cellCount === 1 ? 'cell' : 'cells'}`,
    codeCells ? `${codeCells} code` : null,
    notebook.nbformat ? `nbformat ${notebook.nbformat}${notebook.nbformatMinor !== null ? `.${notebook.nbformatMinor}` : ''}` : null,
  ].filter(Boolean);
  meta.replaceChildren(...items.map((item, index) => h('span', { className: index === 0 ? 'nbv-kernel' : 'nbv-meta-item' }, item)));
}

// While the cells arrive, the header's details (counted over the whole text) are not
// known yet: typical ones hold their place, unseen, so that the header does not grow under the
// cells shown when the details come (a narrow header wraps them onto a second line).
function reserveHeader() {
  const meta = document.getElementById('nbv-meta');
  if (!meta || meta.firstChild) return;
  fillHeader({ language: 'python', kernelName: 'Python 3', cellCount: 1000, codeCellCount: 500, nbformat: 4, nbformatMinor: 5 });
  meta.setAttribute('style', 'visibility: hidden');
  meta.setAttribute('aria-hidden', 'true');
}

function forgetHeaderReservation(meta = document.getElementById('nbv-meta')) {
  if (!meta || meta.getAttribute('aria-hidden') !== 'true') return;
  meta.replaceChildren();
  meta.removeAttribute('style');
  meta.removeAttribute('aria-hidden');
}

// The Markdown cells' sources, read only as far as the outline's decision needs them: a big
// notebook's code cells and outputs stay unparsed. A cell that cannot be read ends the list; the
// layout reports it when it reaches that cell.
function* markdownSources(notebook) {
  for (let index = 0; index < notebook.cellCount; index += 1) {
    if (notebook.typeAt(index) !== 'markdown') continue;
    let cell;
    try {
      cell = notebook.cellAt(index);
    } catch {
      return;
    }
    yield cell.source;
  }
}

function outputStyleSheet() {
  try {
    const sheet = new CSSStyleSheet();
    sheet.replaceSync(outputCSS);
    return sheet;
  } catch {
    return null;
  }
}

// The language cells shown before the whole text is there are laid out in: the one the
// metadata names when it comes before the cells (as the extension writes it), else the one
// notebooks overwhelmingly name.
const assumedLanguage = 'python';

function earlyLanguage(text, span) {
  if (!span) return assumedLanguage;
  try {
    return metadataLanguage(JSON.parse(text.slice(span.start, span.end))) ?? assumedLanguage;
  } catch {
    // Not JSON: the whole text will say so.
    return assumedLanguage;
  }
}
// How far ahead cells are laid out while the text arrives: this many cells at a time, until
// the cells reach this many screens below the top of the window.
const earlyCellsAhead = 16;
const earlyScreensAhead = 3;
// How much of the text must have arrived before the first cells are shown on a guess about the
// outline (see outlineLikely): a few cells with large outputs. A smaller notebook is there whole
// soon enough, and its page is never shown twice.
const earlyOutlineGuessLength = 1 << 20;

function cellContext(language) {
  return { language, outputStyles: outputStyleSheet(), renderMarkdown, typesetLatex };
}

// Lays out and enhances the cells `source` supplies ({cellAt, available}; see createScheduler
// for `count` and `available`). `unreadable(error)` shows the failure for a cell whose text is
// not JSON; `onFlush()` runs after each run of cells entered the page. Without `count`, the
// cells are still arriving: handOver(source, count, unreadable) goes on with every cell of the
// whole text.
function showCells(main, { source: firstSource, count = null, context, outlineFrame, unreadable: firstUnreadable, onFlush = () => {} }) {
  let source = firstSource;
  let unreadable = firstUnreadable;
  // The outline fills in with the cells, so its column is complete with the first screen.
  const outline = outlineFrame && growingOutline({ doc: document, content: main, frame: outlineFrame });
  let newHeadings = [];
  const scheduler = createScheduler({
    count,
    available: (index) => source.available(index),
    render: (index) => {
      let cell;
      try {
        cell = source.cellAt(index);
      } catch (error) {
        // A cell's text that is not JSON makes the whole text invalid, as a full parse would
        // have found before showing anything.
        scheduler.stop();
        cancelOutline(outlineFrame);
        unreadable(error);
        return { element: document.createElement('section'), enhance: null };
      }
      const view = renderCell(cell, context);
      const headings = outline ? [...view.element.querySelectorAll('h1, h2, h3, h4, h5, h6')] : [];
      newHeadings.push(...headings);
      if (headings.length && view.enhance) {
        // Typeset mathematics changes a heading's words: its entry follows at once.
        const { enhance } = view;
        view.enhance = async () => {
          await enhance();
          outline.refresh(headings);
          whenMathTypeset().then(() => outline.refresh(headings));
        };
      }
      return view;
    },
    container: main,
    onFlush: () => {
      if (outline && newHeadings.length) {
        outline.add(newHeadings);
        newHeadings = [];
      }
      onFlush();
    },
    onDone: async () => {
      await whenDiagramsDrawn();
      await whenMathTypeset();
      await addReadingAids(main, { frame: outlineFrame, grown: outline });
      setReady();
      // Diagrams are drawn in the colours of the current scheme: redraw them when it changes.
      onColorSchemeChange(() => {
        redrawDiagrams(main);
      });
    },
  });
  scheduler.start();
  return {
    scheduler,
    outlineFrame,
    context,
    handOver(wholeSource, wholeCount, wholeUnreadable) {
      source = wholeSource;
      unreadable = wholeUnreadable;
      scheduler.finish(wholeCount);
    },
  };
}

// The cells shown while the notebook's JSON arrives; null once start() has taken over.
let early = null;

function startEarly() {
  const main = document.getElementById('nbv-cells');
  if (!main || main.dataset.started) return;
  const read = [];
  let unreadableFrom = Infinity;
  let shown = null;
  const cellAt = (index) => {
    if (read[index] === undefined) read[index] = readCell(JSON.parse(arriving.cellText(index)), index, false);
    return read[index];
  };
  // A cell whose text is not JSON is not shown, nor any after it: the whole text decides.
  const readable = (index) => {
    if (index >= unreadableFrom || index >= arriving.scan.cells.length) return false;
    try {
      cellAt(index);
      return true;
    } catch {
      unreadableFrom = index;
      return false;
    }
  };
  function* markdownSoFar() {
    for (let index = 0; index < arriving.scan.cells.length; index += 1) {
      if (arriving.scan.cells[index].type !== 'markdown') continue;
      if (!readable(index)) return;
      yield read[index].source;
    }
  }
  // Cells are laid out only a few screens ahead of the reader while the text arrives (and as
  // far as the outline's column shows entries): the browser reads the text on the same thread,
  // and the rest follows once it is all there.
  let limit = earlyCellsAhead;
  const available = (index) => index < limit && readable(index);
  const outlineShort = () => {
    const frame = shown && shown.outlineFrame;
    if (!frame || getComputedStyle(frame.nav).position !== 'fixed') return false;
    return frame.list.clientHeight > 0 && frame.list.scrollHeight <= frame.list.clientHeight;
  };
  let ended = false;
  const moreIfNear = () => {
    // Once the whole text is there, every cell is available: nothing to measure for.
    if (!shown || ended) return;
    if (main.getBoundingClientRect().bottom > window.innerHeight * earlyScreensAhead && !outlineShort()) return;
    limit = shown.scheduler.laidOut + earlyCellsAhead;
    shown.scheduler.more();
  };
  const onCells = () => {
    if (shown) {
      moreIfNear();
      shown.scheduler.more();
      return;
    }
    // The outline's column would move every cell shown before it: it is reserved, or not,
    // before the first cell, from the Markdown arrived so far; in a big notebook, on a guess
    // once a megabyte has arrived. The whole text has the last word: if it decides otherwise,
    // the page is shown afresh (see openAndShow).
    const settled = arriving.text().length >= earlyOutlineGuessLength;
    const likely = outlineLikely(markdownSoFar(), { settled });
    if (likely === null) return;
    const outlineFrame = likely ? reserveOutlineColumn(main) : null;
    installMarkdownStyles(document);
    reserveHeader();
    shown = showCells(main, {
      source: { cellAt, available },
      context: cellContext(earlyLanguage(arriving.text(), arriving.scan.metadata)),
      outlineFrame,
      unreadable: () => {},
      onFlush: moreIfNear,
    });
    window.addEventListener('scroll', moreIfNear, { passive: true });
  };
  const arriving = watchArrivingCells(() => document.getElementById(dataElementId), onCells);
  early = {
    // Ends the watch: what was found and read, and what is shown.
    end() {
      ended = true;
      arriving.stop();
      window.removeEventListener('scroll', moreIfNear);
      return { spans: arriving.scan.cells.slice(0, read.length), cells: read, scan: arriving.scan, shown };
    },
  };
}

export function start() {
  const main = document.getElementById('nbv-cells');
  if (!main) return;
  if (main.dataset.started) return;
  main.dataset.started = 'true';
  installMarkdownStyles(document);

  const earlier = early ? early.end() : null;
  early = null;
  let shown = earlier && earlier.shown;
  // The page shows what the whole text gives alone.
  const discardShown = () => {
    if (!shown) return;
    shown.scheduler.stop();
    cancelOutline(shown.outlineFrame);
    main.replaceChildren();
    forgetHeadingIds();
    forgetHeaderReservation();
    shown = null;
  };

  try {
    openAndShow(main, earlier, discardShown, () => shown);
  } catch (error) {
    discardShown();
    throw error;
  }
}

// Reads the whole text and shows it: from the cells shown while it arrived (`stillShown()`)
// when it agrees with them, else afresh (`discardShown()` takes them away first).
function openAndShow(main, earlier, discardShown, stillShown) {
  const unreadable = (error) => {
    discardShown();
    showFailure(main, 'This notebook could not be read', `Its JSON text is not valid (${error.message}).`);
    setReady();
  };
  let read;
  try {
    read = openNotebook(embeddedNotebookText(document.getElementById(dataElementId)), earlier);
  } catch (error) {
    unreadable(error);
    return;
  }
  if (!read.ok) {
    discardShown();
    showFailure(main, 'Not a Jupyter notebook', read.message);
    setReady();
    return;
  }
  const { notebook } = read;
  let shown = stillShown();
  const agrees = (early) =>
    read.continuesEarlier &&
    notebook.language === early.context.language &&
    !notebook.problems.length &&
    Boolean(early.outlineFrame) === expectsOutline(markdownSources(notebook));
  if (shown && !agrees(shown)) {
    discardShown();
    shown = null;
  }
  fillHeader(notebook);
  document.documentElement.dataset.kernelLanguage = notebook.language;
  if (shown) {
    // Go on from the cells shown, now with every cell of the whole text.
    shown.handOver({ cellAt: notebook.cellAt, available: () => true }, notebook.cellCount, unreadable);
    return;
  }
  for (const problem of notebook.problems) main.appendChild(notice(problem, 'warning'));
  if (!notebook.cellCount) {
    main.appendChild(h('p', { className: 'nbv-empty' }, 'This notebook has no cells.'));
    setReady();
    return;
  }
  showCells(main, {
    source: { cellAt: notebook.cellAt, available: () => true },
    count: notebook.cellCount,
    context: cellContext(notebook.language),
    outlineFrame: reserveOutline(main, markdownSources(notebook)),
    unreadable,
  });
}

function boot() {
  try {
    start();
  } catch (error) {
    const main = document.getElementById('nbv-cells');
    if (main) showFailure(main, 'This notebook could not be shown', String(error && error.message ? error.message : error));
    setReady();
  }
}

globalThis.lumivaleNotebookViewer = { start: boot };
if (document.readyState === 'loading') {
  try {
    startEarly();
  } catch {
    // Nothing is shown before the whole text is there.
    early = null;
  }
  document.addEventListener('DOMContentLoaded', boot, { once: true });
} else {
  boot();
}
