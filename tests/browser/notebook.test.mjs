// The notebook preview page in a real browser: notebooks from fixtures/notebooks rendered by the
// render-notebook tool (the extension's renderer), checked in the DOM in both colour schemes,
// with screenshots under <build>/screenshots/. Pages with missing assets or a broken embedded
// notebook are made from the built template directly.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import zlib from 'node:zlib';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { buildDir, launchChromium, openPage, screenshot } from './lib/browser.mjs';
import { renderedPages } from './lib/rendered-pages.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const fixtures = path.join(here, 'fixtures', 'notebooks');
const { resources, scratch, resourcesSkip, skipReason, renderTool, renderFixture } = renderedPages({
  extension: 'NotebookLens',
  template: 'notebook-template.html',
  tool: 'render-notebook',
  toolEnv: 'LUMIVALE_RENDER_NOTEBOOK',
  fixtures,
  fileExtension: '.ipynb',
});

let browser;
before(async () => {
  if (!resourcesSkip) browser = await launchChromium();
});
after(async () => {
  await browser?.close();
});

// A page from the template with the given notebook JSON text and only some assets present.
function pageFromTemplate(name, notebookJSON, assets) {
  const files = {
    PRISM_CSS: 'prism.min.css', KATEX_CSS: 'katex.min.css', MARKED_JS: 'marked.min.js', PRISM_JS: 'prism.min.js',
    PRISM_PYTHON_JS: 'prism-python.min.js', KATEX_JS: 'katex.min.js', NBV_JS: 'nbv.js', MERMAID_JS: 'mermaid.min.js',
  };
  const values = { NOTEBOOK_JSON: notebookJSON, FILENAME: `${name}.ipynb` };
  for (const token of assets) values[token] = readFileSync(path.join(resources, 'notebook', files[token]), 'utf8');
  const pieces = readFileSync(path.join(resources, 'notebook-template.html'), 'utf8').split('%%');
  const output = path.join(scratch, `${name}.html`);
  writeFileSync(output, pieces.map((piece, i) => (i % 2 ? values[piece] ?? '' : piece)).join(''));
  return output;
}

// Requests other than blob: URLs the page made itself (SVG outputs are shown from blobs).
const foreignRequests = (requests) => requests.filter((url) => !url.startsWith('blob:'));

function assertCleanLoad(result) {
  assert.equal(result.ready, true, 'page never reported ready');
  assert.deepEqual(result.pageErrors, [], 'uncaught exceptions');
  assert.deepEqual(result.consoleErrors, [], 'console errors');
  assert.deepEqual(foreignRequests(result.requests), [], 'the page made requests');
}

// Brings every image into view and waits until it is decoded; returns [{alt, width}].
async function loadImages(page, selector) {
  return page.evaluate(async (selector) => {
    const images = [];
    const collect = (root) => {
      for (const element of root.querySelectorAll('*')) {
        if (element.matches(selector)) images.push(element);
        if (element.shadowRoot) collect(element.shadowRoot);
      }
    };
    collect(document);
    const results = [];
    for (const image of images) {
      image.scrollIntoView();
      try {
        await image.decode();
      } catch {
        // reported as width 0
      }
      results.push({ alt: image.alt, src: image.src.slice(0, 24), width: image.naturalWidth });
    }
    window.scrollTo(0, 0);
    return results;
  }, selector);
}

async function withPage(file, options, check) {
  const result = await openPage(browser, file, options);
  try {
    await check(result);
  } finally {
    await result.page.close();
  }
}

for (const colorScheme of ['light', 'dark']) {
  describe(`Notebook page (${colorScheme})`, { skip: skipReason }, () => {
    test('cells, prompts, Markdown with math and a diagram, highlighted code, every kind of output', async () => {
      await withPage(renderFixture('showcase'), { colorScheme }, async (result) => {
        const { page } = result;
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const all = (selector) => [...document.querySelectorAll(selector)];
          const text = (selector) => document.querySelector(selector)?.textContent ?? null;
          const style = (selector) => {
            const element = document.querySelector(selector);
            return element ? getComputedStyle(element).backgroundColor : null;
          };
          const outputOf = (mime) => document.querySelector(`.nbv-output-area[data-mime-type="${mime}"]`);
          return {
            title: text('.nbv-filename'),
            kernel: text('.nbv-kernel'),
            cellTypes: all('.nbv-cell').map((cell) => cell.dataset.cellType),
            inPrompts: all('.nbv-prompt-in').map((p) => p.textContent),
            outPrompts: all('.nbv-prompt-out').map((p) => p.textContent).filter(Boolean),
            markdownMath: all('.nbv-markdown-cell .katex').length,
            diagram: Boolean(document.querySelector('.nbv-markdown-cell .lumivale-diagram svg')),
            highlightedCells: all('pre.nbv-source[data-highlighted="python"]').length,
            keywordTokens: all('pre.nbv-source .token.keyword').length,
            bashCell: document.querySelector('pre.nbv-source[data-highlighted="bash"]') !== null,
            magicTokens: all('.token.nbv-magic').map((t) => t.textContent),
            stdout: all('.nbv-stream-stdout').map((s) => s.textContent),
            stderr: text('.nbv-stream-stderr'),
            stdoutBackground: style('.nbv-stream-stdout'),
            stderrBackground: style('.nbv-stream-stderr'),
            errorHeader: text('.nbv-error-header'),
            ansiClasses: all('.nbv-traceback span').map((s) => s.className).join(' '),
            ansiExact: all('.nbv-traceback span.ansi-rgb-fg').map((s) => s.style.getPropertyValue('--ansi-fg')),
            tableRows: outputOf('text/html')?.querySelector('.nbv-html')?.shadowRoot?.querySelectorAll('tbody tr').length,
            jsonKeys: all('.nbv-json-key').map((k) => k.textContent.trim()),
            latexTypeset: Boolean(outputOf('text/latex')?.querySelector('.katex')),
            markdownOutput: outputOf('text/markdown')?.querySelector('strong')?.textContent,
            notices: all('.nbv-notice').map((n) => n.textContent),
            raw: text('.nbv-raw'),
            ready: document.documentElement.dataset.lumivaleReady,
          };
        });
        assert.equal(dom.title, 'showcase.ipynb');
        assert.equal(dom.kernel, 'Python 3 (ipykernel)');
        assert.equal(dom.cellTypes.length, 16);
        assert.deepEqual(dom.cellTypes.filter((t) => t !== 'code'), ['markdown', 'markdown', 'raw']);
        assert.deepEqual(dom.inPrompts.slice(0, 3), ['In [1]:', 'In [2]:', 'In [3]:']);
        assert.equal(dom.inPrompts.at(-1), 'In [ ]:');
        assert.deepEqual(dom.outPrompts, ['Out[3]:', 'Out[7]:', 'Out[8]:', 'Out[9]:']);
        assert.ok(dom.markdownMath >= 2, 'inline and display math typeset');
        assert.ok(dom.diagram, 'Mermaid diagram drawn');
        assert.ok(dom.highlightedCells >= 10 && dom.keywordTokens > 5, 'Python cells highlighted');
        assert.ok(dom.bashCell, '%%bash cell highlighted as bash');
        assert.deepEqual(dom.magicTokens, ['%%javascript', '%%bash']);
        assert.deepEqual(dom.stdout.slice(1, 3), ['loading rows\n', 'done\n']);
        assert.equal(dom.stderr, 'warning: 3 rows skipped\n');
        assert.notEqual(dom.stderrBackground, dom.stdoutBackground, 'stderr stands apart from stdout');
        assert.equal(dom.errorHeader, 'ZeroDivisionError: division by zero');
        for (const name of ['ansi-red-fg', 'ansi-green-fg', 'ansi-bold', 'ansi-underline', 'ansi-bright-white-fg', 'ansi-blue-bg']) {
          assert.ok(dom.ansiClasses.includes(name), `traceback has ${name}`);
        }
        assert.ok(dom.ansiExact.includes('rgb(200, 120, 0)'), '24-bit colour kept');
        assert.ok(dom.ansiExact.includes('rgb(0, 135, 0)'), '256-colour index 28 mapped');
        assert.equal(dom.tableRows, 4);
        assert.deepEqual(dom.jsonKeys.slice(0, 2), ['model:', 'coef:']);
        assert.ok(dom.latexTypeset, 'text/latex typeset with KaTeX');
        assert.equal(dom.markdownOutput, 'bold');
        assert.ok(dom.notices.some((n) => n.startsWith('JavaScript output is disabled in the preview')));
        assert.ok(dom.notices.some((n) => n.startsWith('Interactive widget')));
        assert.equal(dom.raw, 'Raw **text** stays as written.\n');

        const images = await loadImages(page, 'img');
        assert.equal(images.length, 3, JSON.stringify(images));
        for (const image of images) assert.ok(image.width > 0, `image ${image.alt} (${image.src}) decoded`);
        assert.deepEqual(foreignRequests(result.requests), []);
        await screenshot(page, `notebook-showcase-${colorScheme}`);
      });
    });

    test('hostile notebook: no payload runs, nothing escapes its output, the page stays whole', async () => {
      await withPage(renderFixture('xss'), { colorScheme }, async (result) => {
        const { page } = result;
        assert.equal(result.ready, true);
        assert.deepEqual(result.pageErrors, []);
        // Not even a blocked request: media in diagram labels is dropped before Mermaid measures.
        assert.deepEqual(result.consoleErrors, []);
        assert.deepEqual(foreignRequests(result.requests).filter((url) => !url.startsWith('file:')), []);
        const dom = await page.evaluate(() => {
          const elements = [];
          const collect = (root) => {
            for (const element of root.querySelectorAll('*')) {
              elements.push(element);
              if (element.shadowRoot) collect(element.shadowRoot);
            }
          };
          collect(document.getElementById('nbv-cells'));
          const host = document.querySelector('.nbv-html');
          const overlay = [...host.shadowRoot.querySelectorAll('div')].find((d) => d.textContent === 'overlay');
          const hostBox = host.getBoundingClientRect();
          const overlayBox = overlay?.getBoundingClientRect();
          return {
            pwned: window.__nbvPwned ?? null,
            cells: document.querySelectorAll('.nbv-cell').length,
            lastCell: document.querySelector('.nbv-cell:last-child')?.textContent.trim(),
            bodyDisplay: getComputedStyle(document.body).display,
            mainVisibility: getComputedStyle(document.getElementById('nbv-cells')).visibility,
            scripts: elements.filter((e) => e.localName === 'script').length,
            handlers: elements.flatMap((e) => [...e.attributes].filter((a) => /^on/i.test(a.name)).map((a) => `${e.localName}.${a.name}`)),
            javascriptURLs: elements.filter((e) => /javascript:/i.test(e.getAttribute('href') || e.getAttribute('xlink:href') || '')).length,
            frames: elements.filter((e) => /^(iframe|object|embed|form)$/.test(e.localName)).length,
            overlayInside: overlayBox ? overlayBox.top >= hostBox.top - 1 && overlayBox.bottom <= hostBox.bottom + 1 : null,
            remotePlaceholders: [...host.shadowRoot.querySelectorAll('.lumivale-image-placeholder')].map((p) => p.textContent).join(' | '),
            notices: [...document.querySelectorAll('.nbv-notice')].map((n) => n.textContent),
          };
        });
        assert.equal(dom.pwned, null, 'a payload ran');
        assert.equal(dom.cells, 7);
        assert.equal(dom.lastCell, 'Last cell after all payloads.');
        assert.notEqual(dom.bodyDisplay, 'none');
        assert.equal(dom.mainVisibility, 'visible');
        assert.equal(dom.scripts, 0);
        assert.deepEqual(dom.handlers, []);
        assert.equal(dom.javascriptURLs, 0);
        assert.equal(dom.frames, 0);
        assert.equal(dom.overlayInside, true, 'position:fixed content stays inside its output');
        assert.match(dom.remotePlaceholders, /remote tracker https:\/\/example\.com\/tracker\.png/);
        assert.ok(dom.notices.includes('JavaScript output is disabled in the preview.'));
        const images = await loadImages(page, '.nbv-image');
        assert.equal(images.length, 1);
        assert.ok(images[0].width > 0, 'the sanitized SVG still draws');
        assert.equal(await page.evaluate(() => window.__nbvPwned ?? null), null);
        await screenshot(page, `notebook-xss-${colorScheme}`);
      });
    });

    test('nbformat 3 notebook with worksheets, heading cells and legacy output keys', async () => {
      await withPage(renderFixture('v3'), { colorScheme }, async (result) => {
        const { page } = result;
        assertCleanLoad(result);
        const dom = await page.evaluate(() => ({
          cells: [...document.querySelectorAll('.nbv-cell')].map((c) => c.dataset.cellType),
          heading: document.querySelector('.nbv-markdown-cell h1')?.textContent,
          prompts: [...document.querySelectorAll('.nbv-prompt')].map((p) => p.textContent).filter(Boolean),
          result: document.querySelector('.nbv-output-area[data-mime-type="text/plain"]')?.textContent,
          htmlCells: document.querySelector('.nbv-html')?.shadowRoot.querySelectorAll('td').length,
          error: document.querySelector('.nbv-error-header')?.textContent,
        }));
        assert.deepEqual(dom.cells, ['markdown', 'markdown', 'code', 'code', 'code']);
        assert.equal(dom.heading, 'Legacy notebook');
        assert.deepEqual(dom.prompts, ['In [1]:', 'Out[1]:', 'In [2]:', 'Out[2]:', 'In [3]:']);
        assert.equal(dom.result, '42');
        assert.equal(dom.htmlCells, 1);
        assert.equal(dom.error, 'ZeroDivisionError: integer division or modulo by zero');
        const images = await loadImages(page, '.nbv-image');
        assert.equal(images.length, 1);
        assert.ok(images[0].width > 0);
        await screenshot(page, `notebook-v3-${colorScheme}`);
      });
    });
  });
}

describe('Notebook page content', { skip: skipReason }, () => {
  test('shortened outputs show their notices apart from the text', async () => {
    await withPage(renderFixture('bounded'), {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        inline: [...document.querySelectorAll('.nbv-inline-notice')].map((n) => n.textContent),
        omitted: [...document.querySelectorAll('.nbv-notice')].map((n) => n.textContent),
        streamStart: document.querySelector('.nbv-stream')?.textContent.slice(0, 12),
      }));
      assert.equal(dom.inline.length, 3);
      assert.match(dom.inline[0], /^\[\.\.\. Lumivale Quick Look truncated 6\.7 KB from stream output; 721 lines omitted\./);
      assert.equal(dom.inline[1], '[Lumivale Quick Look used text/plain because text/html output was 1.2 MB.]');
      assert.match(dom.inline[2], /from traceback; 441 lines omitted/);
      assert.deepEqual(dom.omitted, ['[Lumivale Quick Look omitted a large HTML output: 2.5 MB. Open the notebook for the full output.]']);
      assert.equal(dom.streamStart, 'row 0\nrow 1\n');
      await screenshot(result.page, 'notebook-bounded');
    });
  });

  test('outputs the extension shortens arrive with their notices', async () => {
    const lines = Array.from({ length: 1500 }, (_, i) => `line ${i}\n`);
    const notebook = {
      cells: [
        { cell_type: 'code', execution_count: 1, source: 'noisy()', metadata: {}, outputs: [{ output_type: 'stream', name: 'stdout', text: lines }] },
        { cell_type: 'code', execution_count: 2, source: 'frame', metadata: {}, outputs: [{
          output_type: 'execute_result', execution_count: 2, metadata: {},
          data: { 'text/html': `<table>${'<tr><td>cell</td></tr>'.repeat(60000)}</table>`, 'text/plain': 'a  b\n1  2' },
        }] },
      ],
      metadata: {},
      nbformat: 4,
      nbformat_minor: 5,
    };
    const input = path.join(scratch, 'huge-outputs.ipynb');
    writeFileSync(input, JSON.stringify(notebook));
    const output = path.join(scratch, 'huge-outputs.html');
    execFileSync(renderTool, [input, output], { stdio: 'pipe' });
    await withPage(output, {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        notices: [...document.querySelectorAll('.nbv-inline-notice')].map((n) => n.textContent),
        firstLine: document.querySelector('.nbv-stream')?.textContent.split('\n')[0],
        lastLine: document.querySelector('.nbv-stream')?.textContent.trimEnd().split('\n').at(-1),
        html: document.querySelectorAll('.nbv-html').length,
        plain: document.querySelector('.nbv-output-area[data-mime-type="text/plain"]')?.textContent,
      }));
      assert.equal(dom.notices.length, 2, JSON.stringify(dom.notices));
      assert.match(dom.notices[0], /^\[\.\.\. Lumivale Quick Look truncated .* from stream output; \d+ lines omitted\./);
      assert.match(dom.notices[1], /^\[Lumivale Quick Look used text\/plain because text\/html output was 1\.\d MB\.\]$/);
      assert.equal(dom.firstLine, 'line 0');
      assert.equal(dom.lastLine, 'line 1499');
      assert.equal(dom.html, 0);
      assert.match(dom.plain, /a {2}b\n1 {2}2$/);
    });
  });

  test('values of unexpected shapes show notices and never stop the page', async () => {
    await withPage(renderFixture('odd-shapes'), {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        cells: document.querySelectorAll('.nbv-cell').length,
        last: document.querySelector('.nbv-cell:last-child')?.textContent.trim(),
        notices: document.querySelectorAll('.nbv-notice').length,
        singleText: [...document.querySelectorAll('.nbv-stream')].map((s) => s.textContent),
        numberPlain: [...document.querySelectorAll('.nbv-output-area[data-mime-type="text/plain"]')].map((s) => s.textContent),
      }));
      assert.equal(dom.cells, 9);
      assert.equal(dom.last, 'Still rendering after the odd cells.');
      assert.ok(dom.notices >= 8, `notices: ${dom.notices}`);
      assert.deepEqual(dom.singleText, ['single text, not a list\n']);
      assert.deepEqual(dom.numberPlain, ['12345']);
    });
  });

  test('a top-level array is reported as not a notebook', async () => {
    await withPage(renderFixture('top-level-array'), {}, async (result) => {
      assertCleanLoad(result);
      const failure = await result.page.evaluate(() => document.querySelector('.nbv-failure')?.textContent);
      assert.match(failure, /Not a Jupyter notebook.*JSON array/);
    });
  });

  test('the first cells are painted before KaTeX runs, and their formulas typeset after', async () => {
    const cells = [
      { cell_type: 'markdown', metadata: {}, source: ['# Loss\n', 'The loss is $L = \\sum_i (y_i - \\hat y_i)^2$.\n', '$$\n\\frac{1}{n}\n$$'] },
      { cell_type: 'code', execution_count: 1, metadata: {}, source: 'print(1)', outputs: [] },
    ];
    const input = path.join(scratch, 'math-cells.ipynb');
    writeFileSync(input, JSON.stringify({ cells, metadata: {}, nbformat: 4, nbformat_minor: 5 }));
    const output = path.join(scratch, 'math-cells.html');
    execFileSync(renderTool, [input, output], { stdio: 'pipe' });
    const noteKatex = () => {
      let katex;
      Object.defineProperty(window, 'katex', {
        configurable: true,
        get: () => katex,
        set(value) {
          window.__cellsBeforeKatex ??= document.querySelectorAll('.nbv-cell').length;
          katex = value;
        },
      });
    };
    await withPage(output, { beforeLoad: (page) => page.addInitScript(noteKatex) }, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        cellsBeforeKatex: window.__cellsBeforeKatex,
        typeset: document.querySelectorAll('.math .katex').length,
        waiting: document.querySelectorAll('.math-pending, .math-source').length,
        outline: document.querySelector('.lumivale-outline a')?.textContent ?? null,
      }));
      assert.deepEqual(dom, { cellsBeforeKatex: 2, typeset: 2, waiting: 0, outline: null });
    });
  });

  test('code is highlighted in the kernel language from the metadata', async () => {
    await withPage(renderFixture('r-kernel'), {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        language: document.querySelector('pre.nbv-source')?.dataset.highlighted,
        comments: document.querySelectorAll('pre.nbv-source .token.comment').length,
        kernel: document.querySelector('.nbv-kernel')?.textContent,
      }));
      assert.deepEqual(dom, { language: 'r', comments: 2, kernel: 'R' });
    });
  });

  test('cid: images resolve through the presenter hook before they reach the page', async () => {
    const beforeLoad = (page) =>
      page.addInitScript(() => {
        const pixel = 'data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==';
        window.lumivaleResolveAttachment = (id) => (id.startsWith('lumivale-asset-') ? pixel : null);
      });
    await withPage(renderFixture('cid-images'), { beforeLoad }, async (result) => {
      assertCleanLoad(result);
      const images = await loadImages(result.page, 'img');
      assert.deepEqual(images.map((i) => [i.alt, i.src.slice(0, 11), i.width > 0]), [
        ['chart', 'data:image/', true],
        ['from html', 'data:image/', true],
      ]);
      const placeholder = await result.page.evaluate(() => document.querySelector('.lumivale-image-placeholder')?.textContent);
      assert.match(placeholder, /example\.com\/remote\.png/);
    });
  });

  test('a long notebook shows its first cells at once and finishes in the background', async () => {
    const file = renderFixture('large');
    const page = await browser.newPage({ viewport: { width: 1024, height: 900 } });
    try {
      const errors = [];
      page.on('pageerror', (error) => errors.push(String(error)));
      page.on('console', (message) => message.type() === 'error' && errors.push(message.text()));
      await page.goto(`file://${file}`, { waitUntil: 'commit' });
      const first = await page.waitForFunction(
        () => document.querySelectorAll('.nbv-cell').length > 0 && {
          at: performance.now(),
          cells: document.querySelectorAll('.nbv-cell').length,
          ready: document.documentElement.dataset.lumivaleReady,
        },
        null,
        { polling: 'raf', timeout: 30000 },
      ).then((handle) => handle.jsonValue());
      assert.ok(first.at < 5000, `first cells after ${Math.round(first.at)} ms`);
      assert.ok(first.cells < 3000 && first.ready !== 'true', 'cells appear before the whole notebook is laid out');
      const firstHighlighted = await page.waitForFunction(() => document.querySelector('.nbv-cell pre.nbv-source[data-highlighted]'), null, { timeout: 10000 });
      assert.ok(firstHighlighted);
      await page.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true', null, { timeout: 120000, polling: 200 });
      const done = await page.evaluate(() => ({
        cells: document.querySelectorAll('.nbv-cell').length,
        plain: document.querySelectorAll('pre.nbv-source:not([data-highlighted])').length,
        lastPrompt: [...document.querySelectorAll('.nbv-prompt-in')].at(-1)?.textContent,
        at: performance.now(),
      }));
      assert.equal(done.cells, 3000);
      assert.equal(done.plain, 0, 'every code cell highlighted once ready');
      assert.equal(done.lastPrompt, 'In [2999]:');
      assert.deepEqual(errors, []);
      console.log(`large notebook: first ${first.cells} cells at ${Math.round(first.at)} ms, all 3000 ready at ${Math.round(done.at)} ms`);
      await page.screenshot({ path: path.join(buildDir(), 'screenshots', 'notebook-large.png') });
    } finally {
      await page.close();
    }
  });
});

// A PNG of the given size in one flat colour (stored, not compressed), as base64.
function flatPNG(width, height, rgb) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k += 1) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (bytes) => {
    let c = 0xffffffff;
    for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, 'latin1'), data]);
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const check = Buffer.alloc(4);
    check.writeUInt32BE(crc(body));
    return Buffer.concat([length, body, check]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8);
  const row = Buffer.concat([Buffer.from([0]), Buffer.from(Array.from({ length: width }, () => rgb).flat())]);
  const pixels = zlib.deflateSync(Buffer.concat(Array.from({ length: height }, () => row)));
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', pixels), chunk('IEND', Buffer.alloc(0)),
  ]).toString('base64');
}

describe('Notebook page outline', { skip: skipReason }, () => {
  test('fills in with the cells as they enter the page, in order, re-levelled by a higher heading', async () => {
    const prose = 'The loss falls as the model trains on each batch of samples. '.repeat(6);
    const section = (level, title) => ({ cell_type: 'markdown', metadata: {}, source: `${'#'.repeat(level)} ${title}\n\n${prose}` });
    const step = (n) => ({
      cell_type: 'code', execution_count: n, metadata: {}, source: `train(${n})`,
      outputs: [{ output_type: 'stream', name: 'stdout', text: Array.from({ length: 30 }, (_, i) => `step ${n}.${i}\n`) }],
    });
    const cells = [];
    for (let n = 1; n <= 300; n += 1) {
      // A level-one heading only deep in the notebook, long after the first entries are made.
      cells.push(n === 250 ? section(1, 'Part two') : section(3, `Step ${n}`), step(n));
    }
    const input = path.join(scratch, 'growing-outline.ipynb');
    writeFileSync(input, JSON.stringify({ cells, metadata: {}, nbformat: 4, nbformat_minor: 5 }));
    const output = path.join(scratch, 'growing-outline.html');
    execFileSync(renderTool, [input, output], { stdio: 'pipe' });
    // Each time cells enter the page: the outline's entries then, and the headings then in the page.
    const beforeLoad = (page) =>
      page.addInitScript(() => {
        window.__outlineSeen = [];
        new MutationObserver(() => {
          const main = document.getElementById('nbv-cells');
          if (!main || !main.querySelector('.nbv-cell')) return;
          window.__outlineSeen.push([
            document.querySelectorAll('.lumivale-outline-list a').length,
            main.querySelectorAll('h1[id], h3[id]').length,
          ]);
        }).observe(document, { childList: true, subtree: true });
      });
    await withPage(output, { beforeLoad, timeout: 60000 }, async (result) => {
      assertCleanLoad(result);
      const { seen, entries, headings } = await result.page.evaluate(() => ({
        seen: window.__outlineSeen,
        entries: [...document.querySelectorAll('.lumivale-outline-list li')].map((item) => [item.className, item.firstChild.getAttribute('href'), item.textContent]),
        headings: [...document.querySelectorAll('#nbv-cells h1, #nbv-cells h3')].map((h) => [h.tagName, `#${h.id}`, h.textContent.trim()]),
      }));
      // The cells arrive in several runs, and every run's headings are listed as it arrives.
      const runs = seen.filter(([, inPage], i) => i === 0 || inPage !== seen[i - 1][1]);
      assert.ok(runs.length > 2, `cells arrived in ${runs.length} runs`);
      assert.ok(runs[0][0] > 0 && runs[0][0] === runs[0][1], `first run: ${runs[0]}`);
      for (const [listed, inPage] of seen) assert.equal(listed, inPage, `${listed} entries for ${inPage} headings`);
      // At the end: one entry per heading, in document order, levels relative to the level-one heading.
      assert.equal(entries.length, 300);
      assert.deepEqual(entries.map(([, href, text]) => [href, text]), headings.map(([, href, text]) => [href, text]));
      entries.forEach(([level], i) => assert.equal(level, `lumivale-outline-level-${headings[i][0] === 'H1' ? 1 : 3}`, `entry ${i}`));
    });
  });
});

describe('Notebook page images', { skip: skipReason }, () => {
  test('output images hold their room and load only as they near the screen', async () => {
    const cells = Array.from({ length: 40 }, (_, n) => ({
      cell_type: 'code', execution_count: n + 1, metadata: {}, source: `plot(${n})`,
      outputs: [{ output_type: 'display_data', metadata: {},
        data: { 'image/png': flatPNG(320, 240, [40 + n * 5, 120, 200]), 'text/plain': `<Figure ${n}>` } }],
    }));
    // Data that is not base64 shows a notice in place of its image.
    cells.splice(1, 0, {
      cell_type: 'code', execution_count: null, metadata: {}, source: 'broken()',
      outputs: [{ output_type: 'display_data', metadata: {}, data: { 'image/png': 'not*base64!' } }],
    });
    const input = path.join(scratch, 'many-images.ipynb');
    writeFileSync(input, JSON.stringify({ cells, metadata: {}, nbformat: 4, nbformat_minor: 5 }));
    const output = path.join(scratch, 'many-images.html');
    execFileSync(renderTool, [input, output], { stdio: 'pipe' });
    await withPage(output, {}, async (result) => {
      assertCleanLoad(result);
      const images = await result.page.evaluate(() => {
        // Cells off the screen skip layout (content-visibility), and what a skipped image's box
        // measures depends on whether its cell was ever laid out: lay them all out to measure.
        const cells = [...document.querySelectorAll('.nbv-cell')];
        for (const cell of cells) cell.style.contentVisibility = 'visible';
        const found = [...document.querySelectorAll('img.nbv-image')].map((image) => ({
          width: image.getAttribute('width'),
          height: image.getAttribute('height'),
          box: image.getBoundingClientRect().height,
          loading: image.loading,
          decoding: image.decoding,
          loaded: image.naturalWidth > 0,
          handed: image.hasAttribute('src'),
        }));
        for (const cell of cells) cell.style.removeProperty('content-visibility');
        return found;
      });
      assert.equal(images.length, 40);
      assert.match(await result.page.evaluate(() => document.querySelector('[data-cell-index="1"]').textContent), /image\/png image could not be decoded/);
      for (const image of images) {
        assert.deepEqual([image.width, image.height, image.loading, image.decoding], ['320', '240', 'lazy', 'async']);
        assert.equal(image.box, 240, 'an image holds its room before it is decoded');
      }
      // The image on the first screen is shown (its decoding may finish a moment after ready).
      await result.page.waitForFunction(() => document.querySelector('img.nbv-image').naturalWidth === 320, null, { timeout: 10000 });
      assert.equal(images.at(-1).loaded, false, 'an image far below the screen was loaded at once');
      // Far below, an image has not even been given its data yet.
      assert.equal(images.at(-1).handed, false, 'an image far below the screen was given its data at once');
      assert.equal(images[0].handed, true);
      await result.page.evaluate(() => [...document.querySelectorAll('img.nbv-image')].at(-1).scrollIntoView());
      await result.page.waitForFunction(() => [...document.querySelectorAll('img.nbv-image')].at(-1).naturalWidth === 320);
      await screenshot(result.page, 'notebook-lazy-images');
      // Printing gives every image its data, those the reader never came near included.
      const waiting = await result.page.evaluate(() => {
        scrollTo(0, 0);
        const before = [...document.querySelectorAll('img.nbv-image')].filter((image) => !image.hasAttribute('src')).length;
        dispatchEvent(new Event('beforeprint'));
        const after = [...document.querySelectorAll('img.nbv-image')].filter((image) => !image.hasAttribute('src')).length;
        return { before, after };
      });
      assert.ok(waiting.before > 0, 'every image had its data before printing: nothing tested');
      assert.equal(waiting.after, 0);
    });
  });
});

describe('Notebook page without the renderer', { skip: resourcesSkip }, () => {
  const notebook = JSON.stringify({
    cells: [
      { cell_type: 'markdown', source: ['# Title\n', 'Some *text*.'] },
      { cell_type: 'code', execution_count: 1, source: 'print(1)', outputs: [{ output_type: 'stream', name: 'stdout', text: '1\n' }] },
    ],
    metadata: {},
    nbformat: 4,
    nbformat_minor: 5,
  }).replace(/\//g, '\\/');
  const allAssets = ['PRISM_CSS', 'MARKED_JS', 'PRISM_JS', 'PRISM_PYTHON_JS', 'NBV_JS'];

  test('without the viewer script the cell sources are still listed', async () => {
    await withPage(pageFromTemplate('no-viewer', notebook, ['PRISM_CSS', 'MARKED_JS']), {}, async (result) => {
      assertCleanLoad(result);
      const sources = await result.page.evaluate(() => [...document.querySelectorAll('.nbv-fallback-source')].map((p) => p.textContent));
      assert.deepEqual(sources, ['# Title\nSome *text*.', 'print(1)']);
    });
  });

  test('without marked and Prism, Markdown and code show as plain text', async () => {
    await withPage(pageFromTemplate('viewer-only', notebook, ['NBV_JS']), {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        markdown: document.querySelector('.nbv-markdown-cell')?.textContent,
        code: document.querySelector('pre.nbv-source')?.textContent,
        output: document.querySelector('.nbv-stream')?.textContent,
      }));
      assert.deepEqual(dom, { markdown: '# Title\nSome *text*.', code: 'print(1)', output: '1\n' });
    });
  });

  test('embedded JSON that does not parse gives a clear message', async () => {
    await withPage(pageFromTemplate('broken-json', '{"cells": [', allAssets), {}, async (result) => {
      assertCleanLoad(result);
      const failure = await result.page.evaluate(() => document.querySelector('.nbv-failure')?.textContent);
      assert.match(failure, /could not be read/);
    });
  });

  test('a cell far down whose JSON does not parse replaces the page with the message', async () => {
    // The page reads its cells as it lays them out: a broken cell is found after the first
    // screen, and must still leave only the message, as a full parse would.
    const cells = Array.from({ length: 60 }, (_, n) => ({ cell_type: 'markdown', source: `cell ${n}` }));
    const broken = JSON.stringify({ cells, metadata: { language_info: { name: 'python' } } })
      .replace('"cell 50"', '"cell \\q50"');
    await withPage(pageFromTemplate('broken-cell', broken, allAssets), {}, async (result) => {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        failure: document.querySelector('.nbv-failure')?.textContent,
        cells: document.querySelectorAll('.nbv-cell').length,
      }));
      assert.match(dom.failure, /could not be read/);
      assert.equal(dom.cells, 0);
    });
  });

  test('a notebook that opens an HTML comment and a script tag still renders in full', async () => {
    // "<!--<script" in the JSON keeps the HTML parser from closing the data element: the viewer
    // recovers the JSON from the text that follows.
    // The diagram library, which comes after the notebook in the page, must survive it too.
    const tricky = JSON.stringify({
      cells: [
        { cell_type: 'markdown', source: 'a <!--<script> b' },
        { cell_type: 'markdown', source: 'after' },
        { cell_type: 'markdown', source: '```mermaid\nflowchart LR\n  A --> B\n```\n' },
      ],
      metadata: {},
    });
    await withPage(pageFromTemplate('comment-script', tricky, [...allAssets, 'MERMAID_JS']), {}, async (result) => {
      assertCleanLoad(result);
      const cells = await result.page.evaluate(() => [...document.querySelectorAll('.nbv-cell')].map((c) => c.textContent.trim()));
      assert.equal(cells.length, 3);
      assert.equal(cells[1], 'after');
      assert.equal(await result.page.evaluate(() => document.querySelectorAll('.lumivale-diagram svg').length), 1);
    });
  });
});
