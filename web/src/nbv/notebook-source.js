// Opens the notebook embedded in the page: its head at once and its cells as they are laid
// out, so that a notebook of a hundred megabytes shows its first cells without parsing the rest
// first. Texts the scanner does not expect are parsed whole, as JSON.parse reads them.
//
//   openNotebook(text, earlier) -> { ok: true, notebook, continuesEarlier } | { ok: false, message }
// Throws the parser's SyntaxError when the text is not JSON (and, later, `notebook.cellAt`
// does for a cell whose text is not).
//
// `earlier` ({ spans, cells, scan }) are cells found and read while the text was still arriving,
// and the scan that found them (see arriving-cells.js): when the whole text has the same cells at the same places, the notebook
// takes them over instead of reading them again, and `continuesEarlier` is true.

import { completeArrivalScan, scanNotebookText } from './cell-scan.js';
import { readNotebook, readNotebookLazily } from './notebook-model.js';

function sameSpans(earlier, cells) {
  return (
    earlier.spans.length <= cells.length &&
    earlier.spans.every((span, index) => span.start === cells[index].start && span.end === cells[index].end)
  );
}

export function openNotebook(text, earlier = null) {
  // The cells found while the text arrived are not looked for again.
  const scanned = (earlier?.scan && completeArrivalScan(text, earlier.scan)) || scanNotebookText(text);
  if (scanned) {
    const head = JSON.parse(scanned.headText);
    const { cells } = scanned;
    const continuesEarlier = earlier !== null && sameSpans(earlier, cells);
    let source = text;
    const notebook = readNotebookLazily(
      head,
      (index) => source.slice(cells[index].start, cells[index].end),
      cells.map((cell) => cell.type),
      () => {
        // Every cell is read: the page's text is no longer needed.
        source = '';
      },
      continuesEarlier ? earlier.cells : [],
    );
    if (notebook) return { ok: true, notebook, continuesEarlier };
  }
  return { ...readNotebook(JSON.parse(text)), continuesEarlier: false };
}
