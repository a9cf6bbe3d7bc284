// Finds the notebook's cells while the browser is still reading its JSON into the page: the
// HTML parser adds the data element's text in pieces, running other tasks in between, so the
// first cells of a big notebook are there long before the last ones.
//
//   watchArrivingCells(findElement, onCells) -> { scan, cellText(index), text(), stop() }
//
// Polls the text between the parser's steps (a timer, while the document is loading) and calls
// onCells() each time more complete cells are found (see scanArrivedCells for `scan`).
// `cellText(index)` is a found cell's JSON text, `text()` the text so far. Watching ends by itself at the end of the cells
// array, when the text is not of the expected shape or when the document has loaded.

import { createArrivalScan, scanArrivedCells } from './cell-scan.js';

// The element's text so far. Chromium keeps a script element's text in one text node and
// extends it as the parser goes; comparing lengths first avoids materialising the text (tens
// of megabytes) when nothing was added.
function textLength(element) {
  let length = 0;
  for (let node = element.firstChild; node; node = node.nextSibling) length += node.nodeType === 3 ? node.length : 0;
  return length;
}

function textOf(element) {
  const only = element.firstChild;
  return only && only === element.lastChild && only.nodeType === 3 ? only.data : element.textContent;
}

// Reading the text hands the page a new string as long as all that has arrived. A web engine
// fed through 64 KB pieces extends the text hundreds of times for a 20 MB notebook, and reading
// it each time cost seconds of copying and garbage collection. So the text is read again once
// READ_STEP more has arrived (or half as much again as was read), or READ_INTERVAL_MS after the
// last read: a few dozen reads for a whole notebook, and cells found soon after they arrive.
const READ_STEP = 1 << 20;
const READ_INTERVAL_MS = 100;

export function watchArrivingCells(findElement, onCells) {
  const scan = createArrivalScan();
  let text = '';
  let length = 0;
  let readAt = 0;
  let stopped = false;
  let timer = 0;

  function poll() {
    timer = 0;
    if (stopped) return;
    const element = findElement();
    const size = element ? textLength(element) : 0;
    const now = performance.now();
    const grown = size - length;
    if (grown && (grown >= Math.min(READ_STEP, length / 2) || now - readAt >= READ_INTERVAL_MS)) {
      length = size;
      readAt = now;
      text = textOf(element);
      const before = scan.cells.length;
      scanArrivedCells(text, scan);
      if (scan.cells.length > before) onCells();
    }
    if (scan.closed || scan.unusable || document.readyState !== 'loading') stopped = true;
    if (!stopped) timer = setTimeout(poll, 0);
  }
  poll();

  return {
    scan,
    cellText: (index) => text.slice(scan.cells[index].start, scan.cells[index].end),
    text: () => text,
    stop() {
      stopped = true;
      if (timer) clearTimeout(timer);
      timer = 0;
      text = '';
    },
  };
}
