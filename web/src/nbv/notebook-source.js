// Opens the notebook embedded in the page: its head at once and its cells as they are laid
// out, so that a notebook of a hundred megabytes shows its first cells without parsing the rest
// first. Texts the scanner does not expect are parsed whole, as JSON.parse reads them.
//
//   openNotebook(text) -> { ok: true, notebook } | { ok: false, message }
// Throws the parser's SyntaxError when the text is not JSON (and, later, `notebook.cellAt`
// does for a cell whose text is not).

import { scanNotebookText } from './cell-scan.js';
import { readNotebook, readNotebookLazily } from './notebook-model.js';

export function openNotebook(text) {
  const scanned = scanNotebookText(text);
  if (scanned) {
    const head = JSON.parse(scanned.headText);
    const { cells } = scanned;
    let source = text;
    const notebook = readNotebookLazily(
      head,
      (index) => source.slice(cells[index].start, cells[index].end),
      cells.map((cell) => cell.type),
      () => {
        // Every cell is read: the page's text is no longer needed.
        source = '';
      },
    );
    if (notebook) return { ok: true, notebook };
  }
  return readNotebook(JSON.parse(text));
}
