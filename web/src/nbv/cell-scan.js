// Finds the cells of a notebook's JSON text without parsing it, so that the first cells can be
// parsed and shown while the rest (which may be a hundred megabytes of images) waits.
//
//   scanNotebookText(text) -> { headText, cells: [{ start, end, type }] } | null
//
// `headText` is the text with the top-level "cells" array emptied ("[]"); `text.slice(start,
// end)` is each cell's JSON text and `type` its "cell_type" when that is a string (else null).
// Strings are skipped with indexOf over quotes, counting the backslashes before each quote, so
// their contents (base64, escapes, brackets) are never read character by character.
//
// The scanner checks structure only; values are checked by JSON.parse of the pieces. When the
// head and every cell parse, the whole text is valid JSON and parses to the head with these
// cells. Anything unexpected (no top-level object, no "cells" array, "cells" given twice, text
// that ends early) gives null: the caller then parses the whole text as before.
//
//   createArrivalScan() -> scan; scanArrivedCells(text, scan) -> scan;
//   completeArrivalScan(wholeText, scan) -> scanNotebookText's result | null
//
// The same cells found in the first part of a text that is still arriving: each call is given
// the text so far (which only grows) and adds to `scan.cells` every cell that is complete in
// it, with the same spans and types scanNotebookText gives for the whole text. `scan.closed`
// is set at the end of the cells array; `scan.unusable` when the text does not have the shape
// the scanner expects (then the whole text decides, as above). `scan.metadata` is the span of
// the top-level "metadata" when it comes before the cells (the extension writes it there).

const QUOTE = 0x22;
const BACKSLASH = 0x5c;
const COMMA = 0x2c;
const COLON = 0x3a;

function isSpace(code) {
  return code === 0x20 || code === 0x0a || code === 0x0d || code === 0x09;
}

function skipSpace(text, at) {
  while (at < text.length && isSpace(text.charCodeAt(at))) at += 1;
  return at;
}

// The index just past the string whose opening quote is at `at`, or -1.
export function stringEnd(text, at) {
  let from = at + 1;
  for (;;) {
    const quote = text.indexOf('"', from);
    if (quote < 0) return -1;
    let before = quote - 1;
    while (before > at && text.charCodeAt(before) === BACKSLASH) before -= 1;
    // An even number of backslashes escape each other, not the quote.
    if ((quote - 1 - before) % 2 === 0) return quote + 1;
    from = quote + 1;
  }
}

// The index just past the value that starts at `at`, or -1.
function valueEnd(text, at) {
  const first = text.charCodeAt(at);
  if (first === QUOTE) return stringEnd(text, at);
  if (first === 0x7b || first === 0x5b) {
    let depth = 0;
    for (let i = at; i < text.length; ) {
      const code = text.charCodeAt(i);
      if (code === QUOTE) {
        i = stringEnd(text, i);
        if (i < 0) return -1;
        continue;
      }
      if (code === 0x7b || code === 0x5b) depth += 1;
      else if (code === 0x7d || code === 0x5d) {
        depth -= 1;
        if (depth === 0) return i + 1;
      }
      i += 1;
    }
    return -1;
  }
  // A number or a literal: up to the next delimiter (JSON.parse checks what it is).
  let i = at;
  while (i < text.length) {
    const code = text.charCodeAt(i);
    if (code === COMMA || code === 0x5d || code === 0x7d || isSpace(code)) break;
    i += 1;
  }
  return i > at ? i : -1;
}

// A member name as JSON.parse reads it (escapes resolved only where there are any).
function memberName(text, start, end) {
  const raw = text.slice(start + 1, end - 1);
  return raw.includes('\\') ? JSON.parse(text.slice(start, end)) : raw;
}

// Walks the members of the object at `at`, calling visit(nameStart, nameEnd, valueStart) for
// each: it returns the index just past the value when it read the value itself, else undefined.
// The index just past the object, or -1.
function objectEnd(text, at, visit) {
  let i = skipSpace(text, at + 1);
  if (text.charCodeAt(i) === 0x7d) return i + 1;
  for (;;) {
    if (text.charCodeAt(i) !== QUOTE) return -1;
    const nameEnd = stringEnd(text, i);
    if (nameEnd < 0) return -1;
    const nameStart = i;
    i = skipSpace(text, nameEnd);
    if (text.charCodeAt(i) !== COLON) return -1;
    const start = skipSpace(text, i + 1);
    const end = visit(nameStart, nameEnd, start) ?? valueEnd(text, start);
    if (end < 0) return -1;
    i = skipSpace(text, end);
    const code = text.charCodeAt(i);
    if (code === 0x7d) return i + 1;
    if (code !== COMMA) return -1;
    i = skipSpace(text, i + 1);
  }
}

// One cell's span and its "cell_type" (the last one given, as JSON.parse keeps).
function scanCell(text, at) {
  if (text.charCodeAt(at) !== 0x7b) {
    const end = valueEnd(text, at);
    return end < 0 ? null : { start: at, end, type: null };
  }
  let type = null;
  const end = objectEnd(text, at, (nameStart, nameEnd, start) => {
    if (nameEnd - nameStart > 64 || memberName(text, nameStart, nameEnd) !== 'cell_type') return undefined;
    const valueStop = valueEnd(text, start);
    if (valueStop >= 0) type = text.charCodeAt(start) === QUOTE ? memberName(text, start, valueStop) : null;
    return valueStop;
  });
  return end < 0 ? null : { start: at, end, type };
}

// The cells of the array at `at`, and the index just past it; null when it is not one.
function scanCells(text, at) {
  const cells = [];
  let i = skipSpace(text, at + 1);
  if (text.charCodeAt(i) === 0x5d) return { cells, end: i + 1 };
  for (;;) {
    const cell = scanCell(text, i);
    if (!cell) return null;
    cells.push(cell);
    i = skipSpace(text, cell.end);
    const code = text.charCodeAt(i);
    if (code === 0x5d) return { cells, end: i + 1 };
    if (code !== COMMA) return null;
    i = skipSpace(text, i + 1);
  }
}

export function scanNotebookText(text) {
  try {
    const open = skipSpace(text, 0);
    if (text.charCodeAt(open) !== 0x7b) return null;
    let found = null;
    let twice = false;
    const end = objectEnd(text, open, (nameStart, nameEnd, start) => {
      if (nameEnd - nameStart > 64 || memberName(text, nameStart, nameEnd) !== 'cells') return undefined;
      twice = twice || found !== null;
      if (text.charCodeAt(start) !== 0x5b) {
        found = false;
        return undefined;
      }
      const scanned = scanCells(text, start);
      found = scanned && { start, end: scanned.end, cells: scanned.cells };
      return scanned ? scanned.end : -1;
    });
    if (end < 0 || twice || !found) return null;
    return {
      headText: `${text.slice(0, found.start)}[]${text.slice(found.end)}`,
      cells: found.cells,
    };
  } catch {
    // A member name that does not parse: the whole text will not either.
    return null;
  }
}

export function createArrivalScan() {
  return { cellsStart: -1, cellsEnd: -1, next: -1, expectCell: true, cells: [], metadata: null, closed: false, unusable: false };
}

// Where the top-level "cells" array starts; -1 while the text so far does not tell, -2 when the
// text does not start as a notebook the scanner reads. A "metadata" member before the cells is
// noted in `scan.metadata`.
function arrivedCellsStart(text, scan) {
  const open = skipSpace(text, 0);
  if (open >= text.length) return -1;
  if (text.charCodeAt(open) !== 0x7b) return -2;
  let i = skipSpace(text, open + 1);
  for (;;) {
    if (i >= text.length) return -1;
    if (text.charCodeAt(i) !== QUOTE) return -2;
    const nameEnd = stringEnd(text, i);
    if (nameEnd < 0) return -1;
    const nameStart = i;
    i = skipSpace(text, nameEnd);
    if (i >= text.length) return -1;
    if (text.charCodeAt(i) !== COLON) return -2;
    const start = skipSpace(text, i + 1);
    if (start >= text.length) return -1;
    if (nameEnd - nameStart <= 64 && memberName(text, nameStart, nameEnd) === 'cells') {
      return text.charCodeAt(start) === 0x5b ? start : -2;
    }
    const end = valueEnd(text, start);
    if (end < 0) return -1;
    if (nameEnd - nameStart <= 64 && memberName(text, nameStart, nameEnd) === 'metadata') scan.metadata = { start, end };
    i = skipSpace(text, end);
    if (i >= text.length) return -1;
    if (text.charCodeAt(i) !== COMMA) return -2;
    i = skipSpace(text, i + 1);
  }
}

export function scanArrivedCells(text, scan) {
  if (scan.closed || scan.unusable) return scan;
  try {
    if (scan.cellsStart < 0) {
      const start = arrivedCellsStart(text, scan);
      if (start === -2) scan.unusable = true;
      if (start < 0) return scan;
      scan.cellsStart = start;
      scan.next = start + 1;
    }
    for (;;) {
      const i = skipSpace(text, scan.next);
      if (i >= text.length) return scan;
      const code = text.charCodeAt(i);
      if (code === 0x5d && (!scan.expectCell || scan.cells.length === 0)) {
        scan.closed = true;
        scan.cellsEnd = i + 1;
        return scan;
      }
      if (!scan.expectCell) {
        if (code !== COMMA) {
          scan.unusable = true;
          return scan;
        }
        scan.next = i + 1;
        scan.expectCell = true;
        continue;
      }
      // Only objects: a cell of another kind is left to the whole text.
      if (code !== 0x7b) {
        scan.unusable = true;
        return scan;
      }
      // An object that does not end in the text so far is still arriving (or not JSON, which
      // the whole text's parse reports).
      const cell = scanCell(text, i);
      if (!cell) return scan;
      scan.cells.push(cell);
      scan.next = cell.end;
      scan.expectCell = false;
    }
  } catch {
    // A member name that does not parse.
    scan.unusable = true;
    return scan;
  }
}

// What scanNotebookText(text) gives, from an arrival scan of the text's first part: the cells
// already found are not read again, only the text after them. Null when the scan cannot tell
// (the caller then scans the whole text, which may still read it) or the text does not read.
export function completeArrivalScan(text, scan) {
  try {
    scanArrivedCells(text, scan);
    if (!scan.closed || scan.unusable) return null;
    // The members after the cells: none may be "cells" again.
    let i = skipSpace(text, scan.cellsEnd);
    for (;;) {
      const code = text.charCodeAt(i);
      if (code === 0x7d) break;
      if (code !== COMMA) return null;
      i = skipSpace(text, i + 1);
      if (text.charCodeAt(i) !== QUOTE) return null;
      const nameEnd = stringEnd(text, i);
      if (nameEnd < 0 || (nameEnd - i <= 64 && memberName(text, i, nameEnd) === 'cells')) return null;
      i = skipSpace(text, nameEnd);
      if (text.charCodeAt(i) !== COLON) return null;
      const end = valueEnd(text, skipSpace(text, i + 1));
      if (end < 0) return null;
      i = skipSpace(text, end);
    }
    return {
      headText: `${text.slice(0, scan.cellsStart)}[]${text.slice(scan.cellsEnd)}`,
      cells: scan.cells,
    };
  } catch {
    // A member name that does not parse.
    return null;
  }
}
