// The notebook page while the browser is still reading its embedded JSON: the page is served
// over a local HTTP connection in two parts, so the first cells arrive, are shown and are
// checked before the rest (and the metadata after the cells) is sent. The finished page must be
// the page the whole text gives at once, with the cells shown early kept in place; a text that
// turns out invalid further on must end in the failure alone.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launchChromium } from './lib/browser.mjs';
import { renderedPages } from './lib/rendered-pages.mjs';

const { resources, scratch, resourcesSkip } = renderedPages({
  extension: 'NotebookLens',
  template: 'notebook-template.html',
  tool: 'render-notebook',
  toolEnv: 'LUMIVALE_RENDER_NOTEBOOK',
  fixtures: '',
  fileExtension: '.ipynb',
});

let browser;
let server;
// What the server sends for the next request: the page's first part, then the rest once
// `release` is called.
let nextResponse = null;
before(async () => {
  if (resourcesSkip) return;
  browser = await launchChromium();
  server = http.createServer((request, response) => {
    const pending = nextResponse;
    nextResponse = null;
    if (!pending) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' });
    response.write(pending.first);
    pending.released.then(() => response.end(pending.rest));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
});
after(async () => {
  await browser?.close();
  server?.closeAllConnections();
  server?.close();
});

const pixel = 'iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==';
const prose = 'The model is fitted to the data again with a smaller step, and the loss is compared with the one before. '.repeat(8);

// Cells of every common kind: headings with prose and mathematics, code with a stream, a
// result, an image and an error with terminal colours.
function cells(from, count) {
  const list = [];
  for (let index = from; index < from + count; index += 1) {
    list.push({ cell_type: 'markdown', metadata: {}, source: [`## Step ${index}\n`, '\n', `${prose}Its loss is $L_{${index}} = \\sum_i (y_i - \\hat y_i)^2$.\n`] });
    list.push({
      cell_type: 'code',
      execution_count: index,
      metadata: {},
      source: [`import numpy as np\n`, `def step_${index}(x):\n`, `    return np.sum(x ** 2)  # </b> "quoted" \\ path/to\n`],
      outputs: [
        { output_type: 'stream', name: 'stdout', text: [`epoch ${index}: loss 0.${index}\n`] },
        { output_type: 'execute_result', execution_count: index, metadata: {}, data: { 'text/plain': [`array([${index}, ${index + 1}])`] } },
        { output_type: 'display_data', metadata: {}, data: { 'image/png': pixel, 'text/plain': ['<Figure>'] } },
        ...(index % 3 === 0
          ? [{ output_type: 'error', ename: 'ValueError', evalue: `bad ${index}`, traceback: ['\u001b[0;31mValueError\u001b[0m: bad'] }]
          : []),
      ],
    });
  }
  return list;
}

const pythonMetadata = {
  kernelspec: { display_name: 'Python 3', language: 'python', name: 'python3' },
  language_info: { name: 'python', version: '3.11.2' },
};

const defaultTail = `,"metadata":${JSON.stringify(pythonMetadata)},"nbformat":4,"nbformat_minor":5}`;
// The JSON text is embedded as the extension writes it: every "/" escaped.
const escaped = (text) => text.replace(/\//g, '\\/');

// The notebook's JSON text from the cells' texts and what follows the cells array; `cut` is
// where the first `firstCount` cells end (plus `into` characters of the next one).
function notebookText(cellTexts, tail = defaultTail, firstCount = cellTexts.length, into = 0) {
  const json = escaped(`{"cells":[${cellTexts.join(',')}]${tail}`);
  const first = cellTexts.slice(0, firstCount).join(',');
  const cut = escaped(`{"cells":[${first}${into ? `,${cellTexts[firstCount].slice(0, into)}` : ''}`).length;
  return { json, cut };
}

function pageText(json) {
  const files = {
    PRISM_CSS: 'prism.min.css', KATEX_CSS: 'katex.min.css', MARKED_JS: 'marked.min.js', PRISM_JS: 'prism.min.js',
    PRISM_PYTHON_JS: 'prism-python.min.js', KATEX_JS: 'katex.min.js', NBV_JS: 'nbv.js', MERMAID_JS: 'mermaid.min.js',
  };
  const values = { NOTEBOOK_JSON: json, FILENAME: 'arriving.ipynb' };
  for (const [token, file] of Object.entries(files)) values[token] = readFileSync(path.join(resources, 'notebook', file), 'utf8');
  const pieces = readFileSync(path.join(resources, 'notebook-template.html'), 'utf8').split('%%');
  return pieces.map((piece, i) => (i % 2 ? values[piece] ?? '' : piece)).join('');
}

// Everything the finished page shows, as text.
function finishedPage() {
  const root = document.documentElement;
  return [
    root.dataset.lumivaleReady,
    root.dataset.kernelLanguage,
    document.body.className,
    document.querySelector('.nbv-header').outerHTML,
    document.getElementById('nbv-cells').outerHTML,
    document.querySelector('.lumivale-outline')?.outerHTML ?? 'no outline',
  ]
    .join('\n')
    .replace(/blob:[^"')\s]*/g, 'blob:')
    // Which outline entry is current follows the scroll position, and so does which output
    // images have been given their data.
    .replace(/ aria-current="location"/g, '')
    .replace(/(<img class="nbv-image[^>]*?) src="data:[^"]*"/g, '$1');
}

function recordChanges() {
  window.lastChange = 0;
  new MutationObserver(() => {
    window.lastChange = performance.now();
  }).observe(document, { subtree: true, childList: true, attributes: true, characterData: true });
}

async function waitUntilReady(page) {
  await page.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true', null, { timeout: 30000, polling: 50 });
}

// The page the whole text gives when it is all there at once.
async function pageAtOnce(json) {
  const file = path.join(scratch, `at-once-${Math.random().toString(36).slice(2)}.html`);
  writeFileSync(file, pageText(json));
  const page = await browser.newPage({ viewport: { width: 1024, height: 900 } });
  try {
    await page.goto(pathToFileURL(file).href, { waitUntil: 'load' });
    await waitUntilReady(page);
    await page.waitForTimeout(300);
    return await page.evaluate(finishedPage);
  } finally {
    await page.close();
  }
}

// Serves the page whose JSON is `first` + `rest`: calls whileArriving(page) once the page has
// shown what it makes of `first` (nothing changed for a while), then sends the rest. Returns
// the finished page, the page itself (to be closed by the caller) and its errors.
async function pageInTwoParts(first, rest, whileArriving, viewport = { width: 1024, height: 900 }) {
  const text = pageText(`${first}\u0000${rest}`);
  const cut = text.indexOf('\u0000');
  let release;
  nextResponse = { first: text.slice(0, cut), rest: text.slice(cut + 1), released: new Promise((resolve) => (release = resolve)) };
  const page = await browser.newPage({ viewport });
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  await page.addInitScript(recordChanges);
  await page.goto(`http://127.0.0.1:${server.address().port}/arriving.html`, { waitUntil: 'commit' });
  await page.waitForFunction(() => window.lastChange && performance.now() - window.lastChange > 400, null, { timeout: 20000, polling: 50 });
  const during = await whileArriving(page);
  release();
  await waitUntilReady(page);
  await page.waitForTimeout(300);
  return { page, errors, during, finished: await page.evaluate(finishedPage) };
}

// The two pages' texts agree; otherwise says where they first differ.
function assertSamePage(actual, expected, name = '') {
  if (actual === expected) return;
  let at = 0;
  while (actual[at] === expected[at]) at += 1;
  const around = (text) => JSON.stringify(text.slice(Math.max(0, at - 150), at + 150));
  assert.fail(`${name}: the page differs from the page the whole text gives at once at ${at}:\n${around(actual)}\n${around(expected)}`);
}

const texts = (list) => list.map((cell) => JSON.stringify(cell));

// What the page shows while the rest of the text is still to come.
const arrivingState = () => ({
  loading: document.readyState === 'loading',
  ready: document.documentElement.dataset.lumivaleReady,
  meta: document.getElementById('nbv-meta').innerText.trim(),
  outline: Boolean(document.querySelector('.lumivale-outline')),
  cells: document.querySelectorAll('.nbv-cell').length,
});

describe('Notebook page while its JSON arrives', { skip: resourcesSkip }, () => {
  test('the cells shown early are the finished page\'s own cells, in place, with the scroll kept', async () => {
    const early = texts(cells(1, 6));
    const late = texts(cells(7, 20));
    // The first part ends inside the thirteenth cell.
    const { json, cut } = notebookText([...early, ...late], defaultTail, early.length, Math.floor(late[0].length / 2));
    const { page, errors, during, finished } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), async (page) => {
      const state = await page.evaluate(arrivingState);
      await page.evaluate(() => {
        window.earlyCells = [...document.querySelectorAll('.nbv-cell')];
        // An output image is given its data only as it nears the screen: the same cell either way.
        window.cellHTML = (cell) => cell.outerHTML.replace(/blob:[^"')\s]*/g, 'blob:').replace(/(<img class="nbv-image[^>]*?) src="data:[^"]*"/g, '$1');
        window.earlyHTML = window.earlyCells.map(window.cellHTML);
        window.scrollTo(0, 400);
      });
      await page.waitForTimeout(300);
      // Where the cells on the screen are (off-screen cells have estimated heights until shown).
      await page.evaluate(() => {
        window.screenTops = window.earlyCells.map((cell) => cell.getBoundingClientRect()).map((box) => (box.bottom > 0 && box.top < window.innerHeight ? box.top : null));
      });
      return state;
    });
    try {
      assert.deepEqual(during, { loading: true, ready: 'false', meta: '', outline: true, cells: 12 });
      const kept = await page.evaluate(() => {
        const cells = [...document.querySelectorAll('.nbv-cell')];
        return {
          sameNodes: window.earlyCells.every((cell, index) => cell === cells[index]),
          sameHTML: window.earlyCells.every((cell, index) => window.cellHTML(cell) === window.earlyHTML[index]),
          onScreen: window.screenTops.filter((top) => top !== null).length > 0,
          sameTops: window.earlyCells.every((cell, index) => window.screenTops[index] === null || cell.getBoundingClientRect().top === window.screenTops[index]),
          scrollY: window.scrollY,
          cells: cells.length,
        };
      });
      assert.deepEqual(kept, { sameNodes: true, sameHTML: true, onScreen: true, sameTops: true, scrollY: 400, cells: 52 });
      assert.deepEqual(errors, []);
      assertSamePage(finished, await pageAtOnce(json));
      assert.match(finished, /Python 3.*52 cells.*26 code.*nbformat 4\.5/s);
    } finally {
      await page.close();
    }
  });

  test('while the text arrives, cells are laid out a few screens ahead of the reader, and more as they scroll', async () => {
    const { json, cut } = notebookText(texts(cells(1, 40)), defaultTail, 80);
    const count = () => document.querySelectorAll('.nbv-cell').length;
    const { page, errors, during } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), async (page) => {
      const before = await page.evaluate(count);
      const below = await page.evaluate(() => document.getElementById('nbv-cells').getBoundingClientRect().bottom / window.innerHeight);
      await page.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
      await page.waitForFunction((before) => document.querySelectorAll('.nbv-cell').length > before, before, { timeout: 10000 });
      return { before, below, loading: await page.evaluate(() => document.readyState === 'loading') };
    });
    try {
      assert.ok(during.before >= 12 && during.before < 80, `${during.before} cells laid out ahead`);
      assert.ok(during.below >= 3, 'fewer than three screens laid out');
      assert.equal(during.loading, true);
      assert.equal(await page.evaluate(count), 80);
      assert.deepEqual(errors, []);
    } finally {
      await page.close();
    }
  });

  test('at a narrow width, the header\'s details come without moving the cells shown', async () => {
    const { json, cut } = notebookText(texts(cells(1, 12)), defaultTail, 8);
    const place = () => ({
      header: document.querySelector('.nbv-header').getBoundingClientRect().height,
      firstCell: document.querySelector('.nbv-cell')?.getBoundingClientRect().top,
      meta: document.getElementById('nbv-meta').innerText.trim(),
    });
    const { page, errors, during } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), (page) => page.evaluate(place), { width: 360, height: 700 });
    try {
      const finished = await page.evaluate(place);
      assert.equal(during.meta, '', 'details shown before they are known');
      assert.ok(during.firstCell > 0);
      assert.deepEqual({ ...finished, meta: '' }, during);
      assert.match(finished.meta, /Python 3/);
      assert.deepEqual(errors, []);
    } finally {
      await page.close();
    }
  });

  test('a text that turns out invalid after the first cells are shown ends in the failure alone, as at once', async () => {
    const early = texts(cells(1, 6));
    const late = texts(cells(7, 4));
    const invalid = [
      // A late cell that is not JSON inside a well-formed frame, one whose frame is broken, and
      // metadata after the cells that is not JSON.
      { name: 'late cell', ...notebookText([...early, ...late, '{"cell_type":"markdown","source":tru}'], defaultTail, early.length) },
      { name: 'broken frame', ...notebookText([...early, ...late, '{"cell_type":"markdown","source":"x",}'], defaultTail, early.length) },
      { name: 'metadata', ...notebookText([...early, ...late], ',"metadata":{"kernelspec":nul},"nbformat":4}', early.length) },
      {
        name: 'cell among the first',
        ...notebookText([...early.slice(0, 10), '{"cell_type":"code","source":[1 2]}', ...early.slice(10), ...late], defaultTail, early.length + 1),
      },
    ];
    for (const { name, json, cut } of invalid) {
      const { page, errors, during, finished } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), (page) => page.evaluate(arrivingState));
      try {
        assert.equal(during.loading, true, name);
        assert.ok(during.cells > 0, `${name}: no cells shown early`);
        const end = await page.evaluate(() => ({
          children: [...document.getElementById('nbv-cells').children].map((child) => `${child.className}/${child.getAttribute('role')}`),
          title: document.querySelector('.nbv-failure h2')?.textContent,
          cells: document.querySelectorAll('.nbv-cell').length,
          outline: Boolean(document.querySelector('.lumivale-outline')) || document.body.classList.contains('lumivale-with-outline'),
        }));
        assert.deepEqual(end, { children: ['nbv-failure/alert'], title: 'This notebook could not be read', cells: 0, outline: false }, name);
        assert.deepEqual(errors, [], name);
        assertSamePage(finished, await pageAtOnce(json), name);
      } finally {
        await page.close();
      }
    }
  });

  test('a whole text that reads otherwise than its first part shows what the whole text gives', async () => {
    const early = texts(cells(1, 6));
    const late = texts(cells(7, 3));
    const cases = [
      // Highlighted as Python while arriving, R once the metadata says so.
      {
        name: 'another language',
        ...notebookText([...early, ...late], ',"metadata":{"kernelspec":{"display_name":"R","language":"R","name":"ir"}},"nbformat":4,"nbformat_minor":5}', early.length),
      },
      // A second "cells" member replaces the first, as JSON.parse reads it.
      {
        name: 'cells twice',
        ...notebookText([...early, ...late], `,"cells":[${texts(cells(40, 2)).join(',')}],"metadata":${JSON.stringify(pythonMetadata)},"nbformat":4}`, early.length),
      },
      // An old notebook's cells are read otherwise.
      { name: 'nbformat 3', ...notebookText([...early, ...late], `,"metadata":${JSON.stringify(pythonMetadata)},"nbformat":3}`, early.length) },
      { name: 'not a notebook', ...notebookText([...early, ...late], ',"metadata":{},"nbformat":4,"cells":7}', early.length) },
    ];
    for (const { name, json, cut } of cases) {
      const { page, errors, during, finished } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), (page) => page.evaluate(arrivingState));
      try {
        assert.ok(during.cells > 0, `${name}: no cells shown early`);
        assert.deepEqual(errors, [], name);
        assertSamePage(finished, await pageAtOnce(json), name);
      } finally {
        await page.close();
      }
    }
  });

  test('with the metadata ahead of the cells, as the extension writes it, the early cells are in its language and stay', async () => {
    const early = texts(cells(1, 6));
    const late = texts(cells(7, 3));
    const head = '{"metadata":{"kernelspec":{"display_name":"R","language":"R","name":"ir"}},"nbformat":4,"nbformat_minor":5,"cells":[';
    const json = escaped(`${head}${[...early, ...late].join(',')}]}`);
    const cut = escaped(`${head}${early.join(',')}`).length;
    const { page, errors, during, finished } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), async (page) => {
      await page.evaluate(() => {
        window.earlyCells = [...document.querySelectorAll('.nbv-cell')];
      });
      return page.evaluate(() => ({
        cells: document.querySelectorAll('.nbv-cell').length,
        languages: [...new Set([...document.querySelectorAll('.nbv-code-cell code[class^="language-"]')].map((code) => code.className))],
      }));
    });
    try {
      assert.ok(during.cells > 0, 'no cells shown early');
      assert.deepEqual(during.languages, ['language-r']);
      // Kept, not shown afresh: the page does not flash when the whole text is there.
      assert.equal(await page.evaluate(() => window.earlyCells.every((cell) => cell.isConnected)), true);
      assert.deepEqual(errors, []);
      assertSamePage(finished, await pageAtOnce(json));
    } finally {
      await page.close();
    }
  });

  test('the outline\'s column is reserved, or not, before the first cell, and the whole text has the last word', async () => {
    const heading = (index) => JSON.stringify({ cell_type: 'markdown', metadata: {}, source: `# Part ${index}\nShort.` });
    const headings = [heading(1), heading(2), heading(3)];
    const code = (index) => JSON.stringify({ cell_type: 'code', execution_count: index, metadata: {}, source: `x = ${index}`, outputs: [] });
    const codes = (count) => Array.from({ length: count }, (_, index) => code(index + 1));
    // Over a megabyte of output that shows as one small image.
    const heavyImage = Buffer.concat([Buffer.from(pixel, 'base64'), Buffer.alloc(900 * 1024)]).toString('base64');
    const heavy = JSON.stringify({ cell_type: 'code', execution_count: 9, metadata: {}, source: 'plot()', outputs: [{ output_type: 'display_data', metadata: {}, data: { 'image/png': heavyImage } }] });
    const longOutput = JSON.stringify({ cell_type: 'code', execution_count: 9, metadata: {}, source: 'x', outputs: [{ output_type: 'stream', name: 'stdout', text: 'x'.repeat(20000) }] });
    const cases = [
      // Three headings and little Markdown yet, the text still short: nothing is shown before
      // the column is known to be wanted (a small notebook is soon there whole).
      { name: 'small, undecided', list: [...headings, longOutput, ...texts(cells(1, 8))], firstCount: 4, shown: false, early: false, last: true },
      // A megabyte in, three headings: shown with the column, which the long Markdown further
      // on wants.
      { name: 'big, headings first', list: [...headings, heavy, ...texts(cells(1, 8))], firstCount: 4, shown: true, early: true, last: true },
      // The same guess, but the whole text never has Markdown enough for an outline: the page
      // is the one the whole text gives, without the column.
      { name: 'big, headings, little Markdown', list: [...headings, heavy, ...codes(3)], firstCount: 4, shown: true, early: true, last: false },
      // A megabyte in without headings: shown without the column; the outline that the
      // Markdown further on wants comes with the whole text.
      { name: 'big, no headings first', list: [heavy, ...codes(3), ...texts(cells(1, 8))], firstCount: 4, shown: true, early: false, last: true },
    ];
    for (const { name, list, firstCount, shown, early, last } of cases) {
      const { json, cut } = notebookText(list, defaultTail, firstCount);
      const { page, errors, during, finished } = await pageInTwoParts(json.slice(0, cut), json.slice(cut), (page) => page.evaluate(arrivingState));
      try {
        assert.equal(during.loading, true, name);
        assert.equal(during.cells > 0, shown, `${name}: cells shown while the text arrives`);
        assert.equal(during.outline, early, `${name}: the outline's column while the text arrives`);
        assert.deepEqual(errors, [], name);
        assert.equal(/lumivale-with-outline/.test(finished), last, `${name}: the finished page's outline`);
        assertSamePage(finished, await pageAtOnce(json), name);
      } finally {
        await page.close();
      }
    }
  });
});
