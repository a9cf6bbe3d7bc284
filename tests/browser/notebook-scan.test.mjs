// The notebook page parses the embedded JSON a cell at a time (web/src/nbv/cell-scan.js): the
// pieces must read back exactly as JSON.parse reads the whole text, and a text JSON.parse
// rejects must never read back whole from its pieces. Runs under node.

import { describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { completeArrivalScan, createArrivalScan, scanArrivedCells, scanNotebookText } from '../../web/src/nbv/cell-scan.js';
import { openNotebook } from '../../web/src/nbv/notebook-source.js';
import { readNotebook } from '../../web/src/nbv/notebook-model.js';

// The value the pieces give, or null when the scanner declines or a piece does not parse.
function fromPieces(text) {
  const scanned = scanNotebookText(text);
  if (!scanned) return null;
  try {
    const head = JSON.parse(scanned.headText);
    head.cells = scanned.cells.map(({ start, end }) => JSON.parse(text.slice(start, end)));
    return { head, types: scanned.cells.map((cell) => cell.type) };
  } catch {
    return null;
  }
}

function parses(text) {
  try {
    return { value: JSON.parse(text) };
  } catch {
    return null;
  }
}

// A scan of the text's first half, completed over the whole text, gives what a scan of the
// whole text gives (or declines, leaving it to that scan).
function assertCompletesAsWhole(text, firstPart = text.length >> 1) {
  const scan = createArrivalScan();
  scanArrivedCells(text.slice(0, firstPart), scan);
  const completed = completeArrivalScan(text, scan);
  if (completed) assert.deepEqual(completed, scanNotebookText(text), JSON.stringify(text.slice(0, 200)));
  return completed !== null;
}

// Whatever the text, the pieces never disagree with JSON.parse.
function assertAgrees(text) {
  assertCompletesAsWhole(text);
  const pieces = fromPieces(text);
  const whole = parses(text);
  if (!pieces) return false;
  assert.ok(whole, `pieces read back a text JSON.parse rejects: ${JSON.stringify(text.slice(0, 200))}`);
  assert.deepEqual(pieces.head, whole.value);
  const types = whole.value.cells.map((cell) =>
    cell && typeof cell === 'object' && !Array.isArray(cell) && typeof cell.cell_type === 'string' ? cell.cell_type : null,
  );
  assert.deepEqual(pieces.types, types);
  return true;
}

const tricky = [
  '\\', '"', '\\"', '\\\\"', '"]}', '{[', '}]},{', '\u2028\u2029', '\u0000', '😀', 'é\ud83d\ude00',
  '</script>', '<!--', 'cells', '"cells":[', ' \\\\\\"\\\\ ', '\n\t\r',
];

describe('Notebook cell scanner', () => {
  test('escapes, brackets and quotes inside strings never end a cell early', () => {
    for (const piece of tricky) {
      const cells = [
        { cell_type: 'code', source: [piece, `x${piece}`], outputs: [{ text: piece, data: { [piece]: [piece, { [piece]: piece }] } }] },
        { cell_type: 'markdown', source: piece, metadata: { tags: [piece, [], {}, [[piece]]] } },
        { cell_type: piece, source: '' },
      ];
      const value = { metadata: { note: piece, language_info: { name: 'python' } }, cells, nbformat: 4, after: piece };
      for (const text of [JSON.stringify(value), JSON.stringify(value, null, 1), JSON.stringify(value, null, '\t')]) {
        assert.ok(assertAgrees(text), `declined ${JSON.stringify(piece)}`);
        const escapedSlashes = text.replace(/\//g, '\\/');
        assert.ok(assertAgrees(escapedSlashes));
      }
    }
  });

  test('member names with escapes, duplicate members and cells of every kind', () => {
    const accepted = [
      '{"cel\\u006cs": [{"cell\\u005ftype": "code"}, {"cell_type": "raw", "cell_type": "code"}]}',
      '{"cells": [1, -2.5e+3, true, false, null, "text", [], [[]], {}, {"cell_type": 7}, {"cell_type": "m\\u0061rkdown"}]}',
      ' \r\n\t{ "cells" : [ { "cell_type" : "code" } , { } ] , "x" : { "cells" : 1 } } \n ',
      '{"cells": []}',
      '{"\\u0063\\u0065\\u006c\\u006c\\u0073": [{"\\u0063\\u0065\\u006c\\u006c\\u005f\\u0074\\u0079\\u0070\\u0065": "code"}]}',
      '{"metadata": {"cells": "no"}, "a": ["cells", {"cells": []}], "cells": [{"cell_type": "code"}]}',
    ];
    for (const text of accepted) assert.ok(assertAgrees(text), text);
    // Completed from any first part, as the page does when the whole text is there.
    const ahead = '{"metadata": {"cells": 1}, "nbformat": 4, "cells": [{"cell_type": "code"}, {"a": "]}"}], "x": {"cells": []}}';
    for (let cut = 0; cut <= ahead.length; cut += 1) assertCompletesAsWhole(ahead, cut);
    assert.equal(assertCompletesAsWhole(ahead, ahead.length), true);
    const declined = [
      '[]', '"cells"', '{}', '{"cells": {}}', '{"cells": 1}', '{"cells": [], "cells": []}',
      '{"cells": [], "cel\\u006cs": [1]}', '{"cells": [{"a": 1}', '{"cells": [1 2]}', '{"cells": ["unterminated]}',
      '{"cells": [], "x"}', '', '   ',
    ];
    for (const text of declined) assert.equal(fromPieces(text), null, text);
    for (const text of declined) assert.equal(assertCompletesAsWhole(text, text.length), false, text);
  });

  test('damaged texts: never read back whole unless JSON.parse reads them the same', () => {
    let seed = 7;
    const random = (n) => {
      seed = (seed * 1103515245 + 12345) & 0x7fffffff;
      return seed % n;
    };
    const value = {
      cells: tricky.map((piece, n) => ({ cell_type: n % 2 ? 'code' : 'markdown', source: [piece, 'line'], outputs: [[n, piece, { k: null }]] })),
      metadata: { kernelspec: { language: 'python' } },
      nbformat: 4,
    };
    const text = JSON.stringify(value, null, random(2) ? 1 : 0);
    const alphabet = ['"', '\\', '{', '}', '[', ']', ',', ':', ' ', 'a', '1', 'u'];
    let agreed = 0;
    for (let round = 0; round < 2000; round += 1) {
      const at = random(text.length);
      const change = random(3);
      const damaged =
        change === 0 ? text.slice(0, at) + text.slice(at + 1)
          : change === 1 ? text.slice(0, at) + alphabet[random(alphabet.length)] + text.slice(at)
            : text.slice(0, at) + alphabet[random(alphabet.length)] + text.slice(at + 1);
      if (assertAgrees(damaged)) agreed += 1;
    }
    assert.ok(agreed > 100, `only ${agreed} damaged texts still read back`);
  });
});

// The cells found in a text that is still arriving: given every prefix in turn (as the page
// sees the text grow), only whole cells are found, each as the whole text's scan has it.
function assertArrivesAsWhole(text, step = 1) {
  const whole = scanNotebookText(text);
  const scan = createArrivalScan();
  for (let length = 0; length <= text.length; length = Math.min(text.length, length + step) + (length === text.length ? 1 : 0)) {
    const prefix = text.slice(0, length);
    scanArrivedCells(prefix, scan);
    if (scan.unusable) return 'unusable';
    // (Cells found early in a text that turns out invalid are fine: the whole text decides.)
    for (const cell of scan.cells) assert.ok(cell.end <= length, `a cell past the text so far: ${JSON.stringify(prefix)}`);
    if (whole) assert.deepEqual(scan.cells, whole.cells.slice(0, scan.cells.length), JSON.stringify(prefix));
    // Once a cell's closing bracket is there, it is found.
    if (whole) {
      const complete = whole.cells.filter((cell) => cell.end <= length && text[cell.start] === '{').length;
      const beforeOther = whole.cells.findIndex((cell) => text[cell.start] !== '{');
      assert.equal(scan.cells.length, beforeOther < 0 ? complete : Math.min(complete, beforeOther), JSON.stringify(prefix));
    }
  }
  if (scan.closed && whole) assert.deepEqual(completeArrivalScan(text, scan), whole);
  return scan.closed ? 'closed' : 'open';
}

describe('Notebook cells found while the text arrives', () => {
  test('every prefix gives only whole cells, as the whole text has them', () => {
    for (const piece of tricky) {
      const value = {
        metadata: { note: piece, language_info: { name: 'python' } },
        cells: [
          { cell_type: 'code', execution_count: 12, source: [piece, `x${piece}`], outputs: [{ text: piece, n: -1.5e3, ok: true, none: null }] },
          { cell_type: 'markdown', source: piece, metadata: { tags: [piece, [], {}, [[piece]]] } },
          { cell_type: piece, source: '', n: 10 },
        ],
        nbformat: 4,
      };
      for (const text of [JSON.stringify(value), JSON.stringify(value, null, 1).replace(/\//g, '\\/')]) {
        assert.equal(assertArrivesAsWhole(text), 'closed', text);
      }
    }
  });

  test('texts of other shapes are left to the whole text', () => {
    assert.equal(assertArrivesAsWhole('{"cells": [{"cell_type": "code"}, 7, {"cell_type": "raw"}]}'), 'unusable');
    assert.equal(assertArrivesAsWhole('[{"cells": []}]'), 'unusable');
    assert.equal(assertArrivesAsWhole('{"cells": {"a": 1}}'), 'unusable');
    assert.equal(assertArrivesAsWhole('{"metadata": {}, "cells": [{"a": 1} {"b": 2}]}'), 'unusable');
    assert.equal(assertArrivesAsWhole('{"cells": []}'), 'closed');
    // A cell whose frame never closes is never found, however much follows.
    assert.equal(assertArrivesAsWhole('{"cells": [{"a": [1, 2}, {"b": 2}]}'), 'open');
  });
});

describe('Notebook read a cell at a time', () => {
  const notebook = {
    cells: [
      { cell_type: 'markdown', source: ['# Title\n', 'text'], metadata: {} },
      { cell_type: 'code', execution_count: 3, source: 'print(1)', outputs: [{ output_type: 'stream', name: 'stdout', text: ['1\n'] }], metadata: {} },
      { cell_type: 'heading', level: 2, source: 'Old' },
      { cell_type: 'raw', source: 'raw' },
      42,
    ],
    metadata: { kernelspec: { display_name: 'Python 3', language: 'python', name: 'python3' } },
    nbformat: 4,
    nbformat_minor: 5,
  };

  test('reads the same notebook as a full parse', () => {
    const lazy = openNotebook(JSON.stringify(notebook));
    const full = readNotebook(notebook);
    assert.ok(lazy.ok && full.ok);
    for (const key of ['nbformat', 'nbformatMinor', 'language', 'kernelName', 'cellCount', 'codeCellCount', 'problems']) {
      assert.deepEqual(lazy.notebook[key], full.notebook[key], key);
    }
    assert.deepEqual(lazy.notebook.cellAt(1), full.notebook.cells[1]);
    assert.deepEqual(lazy.notebook.cells, full.notebook.cells);
  });

  test('a cell whose text is not JSON fails when it is read, the others read', () => {
    const text = JSON.stringify(notebook).replace('"raw","source":"raw"', '"raw","source":"r\\qaw"');
    const opened = openNotebook(text);
    assert.ok(opened.ok);
    assert.equal(opened.notebook.cellAt(0).type, 'markdown');
    assert.throws(() => opened.notebook.cellAt(3), SyntaxError);
  });

  test('notebooks the pieces cannot describe are parsed whole', () => {
    // No language in the metadata: it comes from the cells.
    const unnamed = { cells: [{ cell_type: 'code', language: 'julia', source: '' }], metadata: {}, nbformat: 4 };
    assert.equal(openNotebook(JSON.stringify(unnamed)).notebook.language, 'julia');
    const old = { worksheets: [{ cells: [{ cell_type: 'code', input: 'x', language: 'python' }] }], metadata: {}, nbformat: 3 };
    assert.equal(openNotebook(JSON.stringify(old)).notebook.cellAt(0).source, 'x');
    assert.throws(() => openNotebook('{"cells": ['), SyntaxError);
    assert.match(openNotebook('[1]').message, /JSON array/);
  });
});
