// The Markdown preview page in a real browser: documents from fixtures/ rendered by the
// render-markdown tool (the extension's renderer), checked in the DOM in both colour schemes,
// with screenshots under <build>/screenshots/.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchChromium, openPage, screenshot } from './lib/browser.mjs';
import { renderedPages } from './lib/rendered-pages.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const fixtures = path.join(here, 'fixtures');
const { resources, scratch, resourcesSkip, skipReason, renderTool, renderFixture } = renderedPages({
  extension: 'MarkdownLens',
  template: 'markdown-template.html',
  tool: 'render-markdown',
  toolEnv: 'LUMIVALE_RENDER_MARKDOWN',
  fixtures,
  fileExtension: '.md',
});

let browser;
before(async () => {
  if (!resourcesSkip) browser = await launchChromium();
});
after(async () => {
  await browser?.close();
});

// A page from the template with only some assets present (the others' tokens empty), as the
// renderer produces it when assets are missing.
function pageWithAssets(name, assets) {
  const files = {
    GITHUB_CSS: 'github-markdown.min.css', KATEX_CSS: 'katex.min.css', PRISM_CSS: 'prism.min.css',
    MARKED_JS: 'marked.min.js', KATEX_JS: 'katex.min.js', COPY_TEX_JS: 'copy-tex.min.js',
    MERMAID_JS: 'mermaid.min.js', PRISM_JS: 'prism-core.min.js',
  };
  const markdown = readFileSync(path.join(fixtures, `${name}.md`), 'utf8');
  const values = { MARKDOWN_JSON: JSON.stringify(markdown).replace(/\//g, '\\/') };
  for (const token of assets) values[token] = readFileSync(path.join(resources, 'markdown', files[token]), 'utf8');
  const pieces = readFileSync(path.join(resources, 'markdown-template.html'), 'utf8').split('%%');
  const page = pieces.map((piece, i) => (i % 2 ? values[piece] ?? '' : piece)).join('');
  const output = path.join(scratch, `${name}-${assets.length ? assets.join('-').toLowerCase() : 'bare'}.html`);
  writeFileSync(output, page);
  return output;
}

function assertCleanLoad(result) {
  assert.equal(result.ready, true, 'page never reported ready');
  assert.deepEqual(result.pageErrors, [], 'uncaught exceptions');
  assert.deepEqual(result.consoleErrors, [], 'console errors');
  assert.deepEqual(result.requests, [], 'the page made requests');
}

for (const colorScheme of ['light', 'dark']) {
  describe(`Markdown page (${colorScheme})`, { skip: skipReason }, () => {
    test('GFM, highlighted code, mathematics and a diagram', async () => {
      const result = await openPage(browser, renderFixture('features'), { colorScheme });
      const { page } = result;
      try {
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const content = document.getElementById('lumivale-content');
          const count = (selector) => content.querySelectorAll(selector).length;
          const mathParagraph = [...content.querySelectorAll('p')].find((p) => p.textContent.includes('Euler'));
          return {
            headings: [...content.querySelectorAll('h1, h2')].map((h) => h.id),
            tableRows: count('table tbody tr'),
            rightAligned: content.querySelector('table tbody td:last-child')?.getAttribute('align'),
            checkboxes: count('li.task-list-item > input[type=checkbox][disabled]'),
            checked: count('li.task-list-item > input[type=checkbox]:checked'),
            strikethrough: count('del'),
            autolinks: count('a[href="https://example.org/orbit"]'),
            javascriptTokens: count('pre.language-javascript .token.keyword'),
            pythonTokens: count('pre.language-python .token.keyword'),
            cppTokens: count('pre.language-cpp .token'),
            bashTokens: count('pre.language-bash .token'),
            inlineMath: mathParagraph?.querySelectorAll('.katex').length,
            mathParagraphText: mathParagraph?.textContent.replace(/\s+/g, ' '),
            displayMath: count('.katex-display'),
            mathErrors: count('.katex-error'),
            diagramSvgs: count('.lumivale-diagram svg'),
            diagramLabels: [...content.querySelectorAll('.lumivale-diagram svg')].map((svg) => svg.textContent).join(' '),
            footnoteRefs: count('sup a[data-footnote-ref]'),
            footnotes: count('section.footnotes li'),
            alerts: count('.markdown-alert-note'),
            pageBackground: getComputedStyle(document.documentElement).backgroundColor,
          };
        });
        assert.deepEqual(dom.headings.slice(0, 3), ['release-notes-for-orbit', 'table', 'tasks']);
        assert.equal(dom.tableRows, 3);
        assert.equal(dom.rightAligned, 'right');
        assert.equal(dom.checkboxes, 3);
        assert.equal(dom.checked, 2);
        assert.equal(dom.strikethrough, 1);
        assert.equal(dom.autolinks, 1);
        assert.ok(dom.javascriptTokens > 0, 'js fence highlighted');
        assert.ok(dom.pythonTokens > 0, 'python fence highlighted');
        assert.ok(dom.cppTokens > 0, 'c++ fence highlighted');
        assert.ok(dom.bashTokens > 0, 'sh fence highlighted');
        assert.equal(dom.inlineMath, 2, 'two inline formulas');
        assert.match(dom.mathParagraphText, /price of \$5 and \$10 stays/);
        assert.match(dom.mathParagraphText, /escaped \$ sign/);
        assert.equal(dom.displayMath, 1);
        assert.equal(dom.mathErrors, 0);
        assert.equal(dom.diagramSvgs, 1);
        assert.match(dom.diagramLabels, /Review/);
        assert.equal(dom.footnoteRefs, 1);
        assert.equal(dom.footnotes, 1);
        assert.equal(dom.alerts, 1);
        assert.equal(dom.pageBackground, colorScheme === 'dark' ? 'rgb(13, 17, 23)' : 'rgb(255, 255, 255)');
        await screenshot(page, `markdown-features-${colorScheme}`);
      } finally {
        await page.close();
      }
    });

    test('a diagram with a syntax error shows its source and the message', async () => {
      const result = await openPage(browser, renderFixture('mermaid-error'), { colorScheme });
      const { page } = result;
      try {
        assertCleanLoad(result);
        const dom = await page.evaluate(() => ({
          errorBoxes: document.querySelectorAll('.lumivale-diagram-error').length,
          message: document.querySelector('.lumivale-diagram-error-message')?.textContent ?? '',
          source: document.querySelector('.lumivale-diagram-error-source')?.textContent ?? '',
          drawn: document.querySelectorAll('.lumivale-diagram svg').length,
          strayMermaidNodes: document.body.querySelectorAll(':scope > :not(article, script)').length,
        }));
        assert.equal(dom.errorBoxes, 1);
        assert.match(dom.message, /\S/);
        assert.match(dom.source, /this is not mermaid/);
        assert.equal(dom.drawn, 1, 'the ::: mermaid container is drawn');
        assert.equal(dom.strayMermaidNodes, 0, 'no leftovers outside the article');
        await screenshot(page, `markdown-mermaid-error-${colorScheme}`);
      } finally {
        await page.close();
      }
    });

    test('hostile HTML never runs and nothing is fetched', async () => {
      const result = await openPage(browser, renderFixture('hostile'), { colorScheme });
      const { page } = result;
      try {
        await page.waitForTimeout(300); // give delayed handlers (onerror, onload, ontoggle) a chance
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const content = document.getElementById('lumivale-content');
          const elements = [...content.querySelectorAll('*')];
          return {
            pwned: window.__pwned ?? null,
            scripts: content.querySelectorAll('script').length,
            handlers: elements.filter((e) => [...e.attributes].some((a) => a.name.startsWith('on'))).length,
            javascriptURLs: elements.filter((e) =>
              [...e.attributes].some((a) => /^\s*javascript:/i.test(a.value))).length,
            embeds: content.querySelectorAll('iframe, object, embed, form, link, meta, style, video[src], video[poster]').length,
            styledURLs: elements.filter((e) => /url\(/i.test(e.getAttribute('style') || '')).length,
            placeholders: [...content.querySelectorAll('.lumivale-image-placeholder')].map((p) => p.textContent),
            images: content.querySelectorAll('img').length,
            closingText: content.textContent.includes('stays visible'),
          };
        });
        assert.equal(dom.pwned, null);
        assert.equal(dom.scripts, 0);
        assert.equal(dom.handlers, 0);
        assert.equal(dom.javascriptURLs, 0);
        assert.equal(dom.embeds, 0);
        assert.equal(dom.styledURLs, 0);
        assert.equal(dom.images, 0, 'every non-embedded image became a placeholder');
        assert.ok(dom.placeholders.some((text) => text.includes('Remote logo') && text.includes('https://tracker.example/logo.png')));
        assert.ok(dom.placeholders.some((text) => text.includes('//tracker.example/protocol-relative.png')));
        assert.ok(dom.closingText, 'text after the payloads is still shown');
        await screenshot(page, `markdown-hostile-${colorScheme}`);
      } finally {
        await page.close();
      }
    });
  });
}

// The page honours exactly the renderer's fence aliases: a label the renderer does not alias
// stays plain even when another fence has made its would-be grammar present.
describe('Markdown page fence labels', { skip: skipReason }, () => {
  test('follow the renderer\'s alias table', async () => {
    const result = await openPage(browser, renderFixture('fence-aliases'));
    try {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => {
        const count = (selector) => document.querySelectorAll(selector).length;
        return {
          rust: count('pre.language-rust code .token'),
          rs: count('code.language-rs'),
          rsTokens: count('code.language-rs .token'),
          session: count('pre.language-shell-session code .token'),
          console: count('code.language-console'),
          consoleTokens: count('code.language-console .token'),
          python: count('pre.language-python code .token'),
        };
      });
      assert.ok(dom.rust > 0, 'rust highlighted');
      assert.ok(dom.session > 0, 'shell-session highlighted');
      assert.ok(dom.python > 0, 'py, an alias of the renderer, highlighted as python');
      assert.deepEqual([dom.rs, dom.rsTokens, dom.console, dom.consoleTokens], [1, 0, 1, 0]);
    } finally {
      await result.page.close();
    }
  });
});

describe('Markdown page: text first', { skip: skipReason }, () => {
  // Runs in the page before its scripts: notes when the document's words first appear, how many
  // frames the browser produces after that, and the moment the diagram library defines itself.
  function watchOrder() {
    const order = { text: null, frames: 0, library: null };
    window.__order = order;
    const frame = () => {
      if (order.text) order.frames += 1;
      if (!order.library) requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
    new MutationObserver(() => {
      const content = document.getElementById('lumivale-content');
      if (!order.text && content && content.textContent.trim()) {
        order.text = {
          placeholders: content.querySelectorAll('.lumivale-diagram-pending[aria-busy="true"]').length,
          formulasWaiting: content.querySelectorAll('.math-pending').length,
          displayRoom: [...content.querySelectorAll('.math-display.math-pending')].map((e) => e.getBoundingClientRect().height),
        };
      }
    }).observe(document, { subtree: true, childList: true });
    // When a library defines its global: whether the text was shown then, and how many frames since.
    const noteDefinition = (global, key) => {
      let library;
      Object.defineProperty(window, global, {
        configurable: true,
        get: () => library,
        set(value) {
          if (!order[key]) order[key] = { textShown: Boolean(order.text), framesAfterText: order.frames };
          library = value;
        },
      });
    };
    noteDefinition('katex', 'katex');
    noteDefinition('mermaid', 'library');
  }

  test('the text is painted before the diagram library runs', async () => {
    const result = await openPage(browser, renderFixture('features'), { beforeLoad: (page) => page.addInitScript(watchOrder) });
    try {
      assertCleanLoad(result);
      const order = await result.page.evaluate(() => window.__order);
      assert.ok(order.text, 'the text never appeared');
      assert.ok(order.text.placeholders >= 1, 'diagrams hold a placeholder until drawn');
      assert.ok(order.library, 'the diagram library never ran');
      assert.equal(order.library.textShown, true, 'the diagram library ran before the text was shown');
      assert.ok(order.library.framesAfterText >= 1, 'no frame was painted between the text and the library');
      const drawn = await result.page.evaluate(() => ({
        svgs: document.querySelectorAll('.lumivale-diagram svg').length,
        pending: document.querySelectorAll('.lumivale-diagram-pending, [aria-busy]').length,
      }));
      assert.deepEqual(drawn, { svgs: 1, pending: 0 });
    } finally {
      await result.page.close();
    }
  });

  test('mathematics is typeset after the text is painted, in about the room held for it', async () => {
    const result = await openPage(browser, renderFixture('features'), { beforeLoad: (page) => page.addInitScript(watchOrder) });
    try {
      assertCleanLoad(result);
      const order = await result.page.evaluate(() => window.__order);
      assert.ok(order.text.formulasWaiting >= 3, 'the formulas were typeset before the text was shown');
      assert.ok(order.katex, 'KaTeX never ran');
      assert.equal(order.katex.textShown, true, 'KaTeX ran before the text was shown');
      assert.ok(order.katex.framesAfterText >= 1, 'no frame was painted between the text and KaTeX');
      const typeset = await result.page.evaluate(() => ({
        waiting: document.querySelectorAll('.math-pending, #lumivale-content .math[style]').length,
        formulas: document.querySelectorAll('.math .katex').length,
        displays: [...document.querySelectorAll('.math-display')].map((e) => e.getBoundingClientRect().height),
        styleInPlace: document.getElementById('lumivale-katex-style') === null &&
          [...document.querySelectorAll('head > style')].findIndex((e) => e.textContent.includes('KaTeX_Main')) === 1,
      }));
      assert.equal(typeset.waiting, 0);
      assert.equal(typeset.formulas, order.text.formulasWaiting);
      assert.equal(typeset.styleInPlace, true, "KaTeX's style sheet is not where the page put it");
      // The room held for a display formula is close to its typeset height, so the text below
      // it barely moves.
      order.text.displayRoom.forEach((room, i) => {
        assert.ok(Math.abs(room - typeset.displays[i]) <= 0.25 * typeset.displays[i], `display ${i}: held ${room}, took ${typeset.displays[i]}`);
      });
    } finally {
      await result.page.close();
    }
  });

  test('a long document typesets every formula, those of its first screen included', async () => {
    const section = (i) => `## Part ${i}\n\nInline $x_${i}^2$ and a display:\n\n$$\n\\frac{a_${i}}{b}\n$$\n\n${'Prose that fills the part. '.repeat(60)}\n\n`;
    const input = path.join(scratch, 'long-maths.md');
    writeFileSync(input, `# Long\n\n${Array.from({ length: 60 }, (_, i) => section(i)).join('')}`);
    const output = path.join(scratch, 'long-maths.html');
    execFileSync(renderTool, [input, output], { stdio: 'pipe' });
    const result = await openPage(browser, output);
    try {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        long: document.getElementById('lumivale-content').classList.contains('lumivale-long-document'),
        typeset: document.querySelectorAll('.math .katex').length,
        asSource: document.querySelectorAll('.math-source, .math-pending').length,
      }));
      assert.deepEqual(dom, { long: true, typeset: 120, asSource: 0 });
    } finally {
      await result.page.close();
    }
  });

  test('a diagram drawn above the reader keeps their place', async () => {
    // As soon as the text is in, the reader jumps to a heading below the first diagram.
    const jumpBelowDiagram = () => {
      const observer = new MutationObserver(() => {
        const target = document.getElementById('part-30');
        const diagram = document.querySelector('.lumivale-diagram-pending');
        if (!target || !diagram) return;
        observer.disconnect();
        target.scrollIntoView({ block: 'start' });
        window.__place = { top: target.getBoundingClientRect().top, placeholder: diagram.getBoundingClientRect().height };
      });
      observer.observe(document, { subtree: true, childList: true });
    };
    const result = await openPage(browser, renderFixture('diagram-above'), { beforeLoad: (page) => page.addInitScript(jumpBelowDiagram) });
    try {
      assertCleanLoad(result);
      const after = await result.page.evaluate(() => ({
        place: window.__place,
        top: document.getElementById('part-30').getBoundingClientRect().top,
        diagram: document.querySelector('.lumivale-diagram svg')?.closest('.lumivale-diagram').getBoundingClientRect().height,
        svgs: document.querySelectorAll('.lumivale-diagram svg').length,
      }));
      assert.ok(after.place, 'the page never showed the text before the diagrams');
      assert.equal(after.svgs, 2);
      assert.ok(Math.abs(after.diagram - after.place.placeholder) > 8, 'the diagram did not change height: nothing tested');
      assert.ok(Math.abs(after.top - after.place.top) <= 1, `the text moved from ${after.place.top} to ${after.top}`);
      await screenshot(result.page, 'markdown-diagram-above-kept-place');
    } finally {
      await result.page.close();
    }
  });
});

describe('Markdown page resources', { skip: resourcesSkip }, () => {
  const PNG = 'data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==';

  test('cid: images go through the presenter hook before insertion', { skip: skipReason }, async () => {
    const result = await openPage(browser, renderFixture('attachments'), {
      beforeLoad: (page) =>
        page.addInitScript((png) => {
          window.__asked = [];
          window.lumivaleResolveAttachment = (id) => {
            window.__asked.push(id);
            return id === 'lumivale-asset-0' ? png : null;
          };
        }, PNG),
    });
    const { page } = result;
    try {
      assertCleanLoad(result);
      const dom = await page.evaluate(() => ({
        asked: window.__asked,
        sources: [...document.querySelectorAll('#lumivale-content img')].map((img) => img.getAttribute('src')),
        loaded: [...document.querySelectorAll('#lumivale-content img')].every((img) => img.complete && img.naturalWidth === 1),
        placeholder: document.querySelector('.lumivale-image-placeholder')?.textContent ?? '',
      }));
      assert.deepEqual(dom.asked, ['lumivale-asset-0', 'lumivale-asset-7']);
      assert.deepEqual(dom.sources, [PNG]);
      assert.ok(dom.loaded);
      assert.match(dom.placeholder, /An unresolvable chart/);
    } finally {
      await page.close();
    }
  });

  // Without the hook, a presenter that serves cid: itself (the panel, here any address that is
  // not a file) gets the references as they are; a page opened from a file, where nothing can
  // serve them, shows each as an unavailable image.
  test('without the hook, cid: references are left for a presenter that serves them', { skip: skipReason }, async () => {
    const file = renderFixture('attachments');
    const served = await browser.newPage();
    try {
      await served.route('http://presenter.invalid/**', (route) =>
        route.fulfill({ contentType: 'text/html; charset=utf-8', body: readFileSync(file) }));
      await served.goto('http://presenter.invalid/attachments.html');
      await served.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true');
      const sources = await served.evaluate(() =>
        [...document.querySelectorAll('#lumivale-content img')].map((img) => img.getAttribute('src')));
      assert.deepEqual(sources, ['cid:lumivale-asset-0', 'cid:lumivale-asset-7']);
    } finally {
      await served.close();
    }

    const result = await openPage(browser, file);
    try {
      assert.equal(result.ready, true);
      const dom = await result.page.evaluate(() => ({
        images: document.querySelectorAll('#lumivale-content img').length,
        placeholders: [...document.querySelectorAll('.lumivale-image-placeholder')].map((p) => p.textContent),
      }));
      assert.equal(dom.images, 0);
      assert.equal(dom.placeholders.length, 2);
      assert.match(dom.placeholders[0], /A resolved chart/);
      assert.match(dom.placeholders[1], /An unresolvable chart/);
      assert.deepEqual(result.requests, [], 'the page asked for a cid: address');
    } finally {
      await result.page.close();
    }
  });

  test('diagrams are redrawn when the colour scheme changes', { skip: skipReason }, async () => {
    const result = await openPage(browser, renderFixture('features'), { colorScheme: 'light' });
    const { page } = result;
    try {
      assert.equal(result.ready, true);
      const light = await page.evaluate(() => document.querySelector('.lumivale-diagram svg').outerHTML);
      await page.emulateMedia({ colorScheme: 'dark' });
      await page.waitForFunction(
        (before) => document.querySelector('.lumivale-diagram svg')?.outerHTML !== before, light, { timeout: 15000 });
      assert.equal(await page.evaluate(() => document.querySelectorAll('.lumivale-diagram svg').length), 1);
      assert.deepEqual(result.pageErrors, []);
    } finally {
      await page.close();
    }
  });

  test('with every asset missing the document is shown as text', async () => {
    const result = await openPage(browser, pageWithAssets('features', []));
    try {
      assert.equal(result.ready, true);
      assert.deepEqual(result.pageErrors, []);
      const text = await result.page.evaluate(() => document.querySelector('pre.lumivale-plain-text')?.textContent ?? '');
      assert.match(text, /^# Release notes for Orbit/);
      await screenshot(result.page, 'markdown-no-assets');
    } finally {
      await result.page.close();
    }
  });

  test('with only marked, math and diagrams stay readable as source', async () => {
    const result = await openPage(browser, pageWithAssets('features', ['GITHUB_CSS', 'MARKED_JS']));
    try {
      assertCleanLoad(result);
      const dom = await result.page.evaluate(() => ({
        heading: document.querySelector('h1')?.textContent,
        mathSource: [...document.querySelectorAll('.math-source')].map((e) => e.textContent),
        diagramCode: document.querySelector('pre code.language-mermaid')?.textContent ?? '',
      }));
      assert.equal(dom.heading, 'Release notes for Orbit');
      assert.ok(dom.mathSource.includes('$e^{i\\pi} + 1 = 0$'));
      assert.match(dom.diagramCode, /A\[Write\] --> B\{Review\}/);
    } finally {
      await result.page.close();
    }
  });

  test('every Prism language file works alone and all together in ascending order', async () => {
    const names = ['bash', 'c', 'clike', 'cpp', 'css', 'go', 'java', 'javascript', 'json', 'markup', 'python',
      'ruby', 'rust', 'shell-session', 'sql', 'swift', 'typescript', 'yaml'];
    const script = (name) => readFileSync(path.join(resources, 'markdown', `${name}.min.js`), 'utf8');
    const page = await browser.newPage();
    try {
      const errors = [];
      page.on('pageerror', (error) => errors.push(String(error)));
      for (const selection of [...names.map((name) => [name]), names]) {
        await page.setContent('<!DOCTYPE html><title>prism</title>');
        await page.addScriptTag({ content: 'window.Prism = { manual: true };' });
        await page.addScriptTag({ content: [script('prism-core'), ...selection.map((n) => script(`prism-lang-${n}`))].join('\n') });
        const missing = await page.evaluate((wanted) => wanted.filter((n) => !window.Prism.languages[n]), selection);
        assert.deepEqual(missing, [], `after loading ${selection.join(', ')}`);
      }
      const embedded = await page.evaluate(() =>
        window.Prism.tokenize('<script>let a = 1;</script><style>p { color: red }</style>', window.Prism.languages.markup)
          .filter((t) => typeof t !== 'string').map((t) => t.type).join(' '));
      // Markup highlights embedded scripts and styles although css and javascript load before it.
      assert.match(embedded, /\bscript\b/);
      assert.match(embedded, /\bstyle\b/);
      assert.deepEqual(errors, []);
    } finally {
      await page.close();
    }
  });
});
