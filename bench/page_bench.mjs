#!/usr/bin/env node
// How fast a preview page feels: opens rendered pages from disk in a warm headless Chromium
// (Debian's, through playwright-core) and reports, per document, the median over RUNS loads of
//
//   text     navigation start to the first frame that holds the document's own words;
//   screen   to the last change inside the first screen (text, highlighting, mathematics,
//            diagrams, images), i.e. when the first screen is complete;
//   all      to everything drawn (the page's data-lumivale-ready, or the last change anywhere);
//   task     the longest main-thread task (PerformanceObserver "longtask"), and after the first
//            text, the longest one while the rest renders (a scroll would wait that long);
//
// beside a trivial page's times in the same run.
//
//   node bench/page_bench.mjs [BUILD_DIR] [RUNS] [--compare APP_BUNDLE] [NAME...]
//
// BUILD_DIR defaults to build/ (needs the app bundle and build/tools/render-markdown and
// render-notebook); RUNS defaults to 5. The documents are generated once into
// BUILD_DIR/bench-pages (bench/make_documents.py and bench/make_notebooks.py) and rendered with
// the extensions' renderers from the build's app bundle. With --compare, each document is also
// rendered with the page resources of another app bundle (say, one built from an earlier
// commit) and both pages are measured in turn in the same browser, so that the machine's load
// weighs on both alike. NAMEs pick documents (e.g. readme-diagrams manual).

import { execFileSync } from 'node:child_process';
import { existsSync, mkdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { createRequire } from 'node:module';

const here = path.dirname(fileURLToPath(import.meta.url));
const repoRoot = path.resolve(here, '..');
const require = createRequire(import.meta.url);
let playwright;
try {
  playwright = require('playwright-core');
} catch {
  playwright = require(path.join(repoRoot, 'web/node_modules/playwright-core'));
}

const args = process.argv.slice(2);
const compareAt = args.indexOf('--compare');
const compareApp = compareAt >= 0 ? path.resolve(args.splice(compareAt, 2)[1]) : null;
const build = path.resolve(args[0] || path.join(repoRoot, 'build'));
const runs = Number(args[1] || 5);
const only = new Set(args.slice(2));
const data = path.join(build, 'bench-pages');
const pages = path.join(data, 'pages');
const viewport = { width: 1024, height: 900 };

// Where each kind of page puts the document's own words.
const MARKDOWN_TEXT = '#lumivale-content';
const NOTEBOOK_TEXT = '#nbv-cells > .nbv-cell';

const documents = [
  { name: 'readme-plain', file: path.join(data, 'readme-plain.md'), text: MARKDOWN_TEXT },
  { name: 'readme-diagrams', file: path.join(data, 'readme-diagrams.md'), text: MARKDOWN_TEXT },
  { name: 'welcome', file: path.join(repoRoot, 'examples/welcome.md'), text: MARKDOWN_TEXT },
  { name: 'manual', file: path.join(data, 'manual.md'), text: MARKDOWN_TEXT },
  { name: 'cells-2000', file: path.join(data, 'cells-2000.ipynb'), text: NOTEBOOK_TEXT },
  { name: 'images-100mb', file: path.join(data, 'images-100mb.ipynb'), text: NOTEBOOK_TEXT },
].filter((document) => !only.size || only.has(document.name));

// Renders a document with the renderer of its kind, from the given app bundle's resources.
function render(file, app, output) {
  const notebook = file.endsWith('.ipynb');
  const tool = path.join(build, 'tools', notebook ? 'render-notebook' : 'render-markdown');
  if (!existsSync(tool)) throw new Error(`missing ${tool} (build the project first)`);
  const appex = path.join(app, 'Contents/PlugIns', notebook ? 'NotebookLens.appex' : 'MarkdownLens.appex');
  execFileSync(tool, ['--bundle', appex, file, output], { stdio: ['ignore', 'ignore', 'inherit'] });
  return output;
}

function prepare() {
  mkdirSync(data, { recursive: true });
  if (!existsSync(path.join(data, 'manual.md'))) {
    execFileSync('python3', [path.join(here, 'make_documents.py'), data], { stdio: 'inherit' });
  }
  const notebooks = ['cells-2000.ipynb', 'images-100mb.ipynb'].filter((name) => !existsSync(path.join(data, name)));
  if (notebooks.length) {
    execFileSync('python3', [path.join(here, 'make_notebooks.py'), data, ...notebooks], { stdio: 'inherit' });
  }
  rmSync(pages, { recursive: true, force: true });
  mkdirSync(pages, { recursive: true });
  const app = path.join(build, 'Lumivale Quick Look.app');
  for (const document of documents) {
    document.page = render(document.file, app, path.join(pages, `${document.name}.html`));
    document.bytes = statSync(document.file).size;
    if (compareApp) document.before = render(document.file, compareApp, path.join(pages, `${document.name}.before.html`));
  }
  const trivial = path.join(pages, 'trivial.html');
  writeFileSync(trivial, '<!DOCTYPE html><html lang="en"><meta charset="utf-8"><title>t</title><p>Hello, reader.</p></html>\n');
  return { name: 'trivial page', page: trivial, text: 'p', bytes: 0 };
}

// Runs in the page before any of its own scripts: records the first frame that holds the
// document's words, every change to the DOM with its time, image loads, long tasks and the
// moment the page says it is ready. Nothing here forces layout while the page works.
function probe(textSelector) {
  const record = { firstText: null, ready: null, longTasks: [], changes: [], images: [] };
  window.__pageBench = record;
  try {
    new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) record.longTasks.push([entry.startTime, entry.duration]);
    }).observe({ type: 'longtask', buffered: true });
  } catch {
    // No long-task timing in this browser: the column stays empty.
  }
  const frame = () => {
    if (record.firstText === null) {
      const element = document.querySelector(textSelector);
      if (element && element.textContent.trim()) record.firstText = performance.now();
    }
    if (record.firstText === null) requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
  new MutationObserver((mutations) => {
    const now = performance.now();
    for (const mutation of mutations) {
      if (mutation.type === 'childList') {
        for (const node of mutation.addedNodes) record.changes.push([now, node]);
      } else if (mutation.attributeName === 'data-lumivale-ready') {
        if (record.ready === null && document.documentElement.dataset.lumivaleReady === 'true') record.ready = now;
      } else {
        record.changes.push([now, mutation.target]);
      }
    }
  }).observe(document, { subtree: true, childList: true, attributes: true, characterData: true });
  document.addEventListener(
    'load',
    (event) => {
      if (event.target instanceof HTMLImageElement) record.images.push([performance.now(), event.target]);
    },
    true,
  );
}

// After the page is done: which recorded changes lie in the first screen, and the figures.
function collect() {
  const record = window.__pageBench;
  const height = window.innerHeight;
  const skip = new Set([document.documentElement, document.body, document.head]);
  const inFirstScreen = (node) => {
    const element = node.nodeType === Node.ELEMENT_NODE ? node : node.parentElement;
    if (!element || !element.isConnected || skip.has(element) || element.closest('head')) return false;
    const rect = element.getBoundingClientRect();
    return rect.bottom > 0 && rect.top < height && rect.width > 0 && rect.height > 0 && rect.height < 4 * height;
  };
  window.scrollTo(0, 0);
  let screen = record.firstText ?? 0;
  let last = 0;
  for (const [time, node] of [...record.changes, ...record.images]) {
    if (node.isConnected && !(node.nodeType === Node.ELEMENT_NODE && skip.has(node))) last = Math.max(last, time);
    if (time > screen && inFirstScreen(node)) screen = time;
  }
  const firstText = record.firstText ?? NaN;
  const longest = Math.max(0, ...record.longTasks.map(([, duration]) => duration));
  const after = Math.max(0, ...record.longTasks.filter(([start]) => start >= firstText).map(([, d]) => d));
  const all = Math.max(record.ready ?? 0, last, screen);
  return { text: firstText, screen, all, longest, after, scrollY: window.scrollY };
}

async function measure(browser, document, file = document.page) {
  const page = await browser.newPage({ viewport });
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  await page.addInitScript(probe, document.text);
  await page.goto(pathToFileURL(file).href, { waitUntil: 'load', timeout: 120000 });
  if (document.name !== 'trivial page') {
    await page.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true', null, {
      timeout: 120000,
      polling: 100,
    });
  }
  // Let anything the page left for later (lazy diagrams, images near the screen) settle.
  await page.waitForTimeout(700);
  const figures = await page.evaluate(collect);
  await page.close();
  if (errors.length) throw new Error(`${document.name}: ${errors.join('; ')}`);
  return figures;
}

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
};
const seconds = (ms) => (Number.isFinite(ms) ? (ms / 1000).toFixed(2) : '-').padStart(6);

async function main() {
  const trivial = prepare();
  const browser = await playwright.chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  console.log(`${'document'.padEnd(16)} ${'MB'.padStart(6)} | ${'text'.padStart(6)} ${'screen'.padStart(6)} ${'all'.padStart(6)} | ${'task'.padStart(6)} ${'after'.padStart(6)}   (median of ${runs}, seconds)`);
  try {
    for (const document of [trivial, ...documents]) {
      const variants = [[document.name, document.page]];
      if (document.before) variants.push([`  before`, document.before]);
      const results = variants.map(() => []);
      for (const [, file] of variants) await measure(browser, document, file); // warm-up loads
      for (let run = 0; run < runs; run += 1) {
        for (const [index, [, file]] of variants.entries()) results[index].push(await measure(browser, document, file));
      }
      for (const [index, [label]] of variants.entries()) {
        const pick = (key) => median(results[index].map((result) => result[key]));
        console.log(
          `${label.padEnd(16)} ${(document.bytes / 1e6).toFixed(2).padStart(6)} | ${seconds(pick('text'))} ${seconds(pick('screen'))} ${seconds(pick('all'))} | ${seconds(pick('longest'))} ${seconds(pick('after'))}`,
        );
      }
    }
  } finally {
    await browser.close();
  }
  console.log('text: document words in a frame; screen: first screen complete; all: everything drawn;');
  console.log('task: longest main-thread task; after: longest task after the first text');
  console.log(`Chromium ${browser.version()}, ${os.cpus().length} cores, load average ${os.loadavg().map((v) => v.toFixed(2)).join(' ')}`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
