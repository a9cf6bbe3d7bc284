// The diagram library as the pages carry it: our mermaid.min.js (Mermaid's ES module build as a
// table of modules, web/build-mermaid.mjs) and the page code that runs it a module at a time
// (web/src/shared/mermaid-library.js). Pages from fixtures/ rendered by the Markdown renderer.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, openPage } from './lib/browser.mjs';
import { renderedPages } from './lib/rendered-pages.mjs';
import { splitMermaidModules } from '../../web/src/shared/mermaid-library.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const { resources, scratch, resourcesSkip, skipReason, renderFixture } = renderedPages({
  extension: 'MarkdownLens',
  template: 'markdown-template.html',
  tool: 'render-markdown',
  toolEnv: 'LUMIVALE_RENDER_MARKDOWN',
  fixtures: path.join(here, 'fixtures'),
  fileExtension: '.md',
});

const libraryText = () => readFileSync(path.join(resources, 'markdown', 'mermaid.min.js'), 'utf8');

// diagram-above.md holds a flowchart near the top and a sequence diagram far below it.
const OPEN = '<script type="text/plain" id="lumivale-mermaid-script">';
function pageWithLibrary(name, change) {
  const html = readFileSync(renderFixture('diagram-above'), 'utf8');
  const start = html.indexOf(OPEN) + OPEN.length;
  const end = html.indexOf('</script>', start);
  assert.ok(start >= OPEN.length && end > start, 'the page carries the library');
  const output = path.join(scratch, `${name}.html`);
  writeFileSync(output, html.slice(0, start) + change(html.slice(start, end)) + html.slice(end));
  return output;
}

// Runs in the page before its scripts: the names of the modules whose scripts the page runs.
function watchDefinitions() {
  window.__defined = [];
  const append = Element.prototype.appendChild;
  Element.prototype.appendChild = function appendChild(node) {
    if (node instanceof HTMLScriptElement) {
      const match = /__lumivaleMermaidModules\.define\("([^"]+)"/.exec(node.textContent.slice(0, 400));
      if (match) window.__defined.push(match[1]);
    }
    return append.call(this, node);
  };
}

const diagrams = (page) =>
  page.evaluate(() => ({
    drawn: [...document.querySelectorAll('.lumivale-diagram svg')].map((svg) => svg.getAttribute('aria-roledescription')),
    failed: [...document.querySelectorAll('.lumivale-diagram-failed .lumivale-diagram-error-message')].map((e) => e.textContent),
    pending: document.querySelectorAll('.lumivale-diagram-pending, [aria-busy]').length,
  }));

let browser;
before(async () => {
  if (!skipReason) browser = await launchChromium();
});
after(async () => {
  await browser?.close();
});

describe('Mermaid library file', { skip: resourcesSkip }, () => {
  test('splits into a runtime and modules whose imports are all present', () => {
    const text = libraryText();
    const layout = splitMermaidModules(text);
    assert.ok(layout, 'the file has no module markers');
    assert.match(layout.runtime, /__lumivaleMermaidModules/);
    assert.ok(layout.modules.has('mermaid'), 'no entry module');
    assert.ok(layout.modules.size > 50, `only ${layout.modules.size} modules`);
    for (const [name, module] of layout.modules) {
      assert.match(module.text, new RegExp(`^(?://# allFunctionsCalledOnLoad\\n)?__lumivaleMermaidModules\\.define\\(${JSON.stringify(name)},`));
      for (const imported of module.imports) assert.ok(layout.modules.has(imported), `${name} imports missing ${imported}`);
    }
    // The pieces are the whole text but the markers and the start line.
    const pieces = layout.runtime.length + [...layout.modules.values()].reduce((sum, m) => sum + m.text.length, 0);
    assert.ok(pieces > text.length * 0.99 && pieces < text.length, 'pieces do not cover the file');
  });

  test('a text without markers is no module table', () => {
    assert.equal(splitMermaidModules('globalThis.mermaid = {};\n'), null);
    // A marker with nothing after it (a truncated file) is not taken as a table either.
    assert.equal(splitMermaidModules('x;\n/*@lumivale-mermaid-module mermaid @*/\n'), null);
  });
});

describe('Mermaid library in the page', { skip: skipReason }, () => {
  test('runs only the modules the diagrams use', async () => {
    const result = await openPage(browser, renderFixture('diagram-above'), {
      beforeLoad: (page) => page.addInitScript(watchDefinitions),
    });
    try {
      assert.equal(result.ready, true);
      assert.deepEqual([...result.pageErrors, ...result.consoleErrors], []);
      assert.deepEqual(await diagrams(result.page), { drawn: ['flowchart-v2', 'sequence'], failed: [], pending: 0 });
      const defined = await result.page.evaluate(() => window.__defined);
      const all = splitMermaidModules(libraryText()).modules;
      assert.equal(new Set(defined).size, defined.length, 'a module was defined twice');
      assert.ok(defined.length < all.size / 2, `${defined.length} of ${all.size} modules defined`);
      assert.ok(!defined.some((name) => /^(?:gantt|c4|gitGraph|mindmap|katex)/i.test(name)), `unused diagram types defined: ${defined}`);
      assert.ok(defined.some((name) => name.startsWith('sequenceDiagram')), 'the sequence diagram module was not defined');
    } finally {
      await result.page.close();
    }
  });

  test('the file run whole (no module markers) draws the same diagrams', async () => {
    const page = pageWithLibrary('whole-library', (text) => text.replaceAll('/*@lumivale-mermaid-', '/*@plain-'));
    const result = await openPage(browser, page, { beforeLoad: (p) => p.addInitScript(watchDefinitions) });
    try {
      assert.equal(result.ready, true);
      assert.deepEqual([...result.pageErrors, ...result.consoleErrors], []);
      assert.deepEqual(await diagrams(result.page), { drawn: ['flowchart-v2', 'sequence'], failed: [], pending: 0 });
      assert.deepEqual(await result.page.evaluate(() => window.__defined), [], 'modules were defined one by one');
    } finally {
      await result.page.close();
    }
  });

  test('a module missing from the file fails only the diagram that needs it', async () => {
    const page = pageWithLibrary('no-sequence-module', (text) => {
      const layout = splitMermaidModules(text);
      const name = [...layout.modules.keys()].find((key) => key.startsWith('sequenceDiagram'));
      return text.replace(layout.modules.get(name).text, '\n');
    });
    const result = await openPage(browser, page);
    try {
      assert.equal(result.ready, true);
      assert.deepEqual(result.pageErrors, []);
      const dom = await diagrams(result.page);
      assert.deepEqual(dom.drawn, ['flowchart-v2']);
      assert.equal(dom.failed.length, 1);
      assert.match(dom.failed[0], /sequenceDiagram-\w+" is missing/);
      assert.equal(dom.pending, 0);
    } finally {
      await result.page.close();
    }
  });
});
