// Reading aids on both preview pages in a real browser: GitHub heading ids and link marks, the
// outline column that follows the scroll, in-document links and URL fragments, copy buttons,
// front matter and emoji shortcodes; and that hostile headings, front matter and forged ids stay
// inert. Screenshots (light and dark, wide and narrow) go under <build>/screenshots/.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { writeFileSync } from 'node:fs';
import { pathToFileURL } from 'node:url';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { buildDir, launchChromium, openPage, screenshot } from './lib/browser.mjs';
import { renderedPages } from './lib/rendered-pages.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const markdown = renderedPages({
  extension: 'MarkdownLens',
  template: 'markdown-template.html',
  tool: 'render-markdown',
  toolEnv: 'LUMIVALE_RENDER_MARKDOWN',
  fixtures: path.join(here, 'fixtures'),
  fileExtension: '.md',
});
const notebook = renderedPages({
  extension: 'NotebookLens',
  template: 'notebook-template.html',
  tool: 'render-notebook',
  toolEnv: 'LUMIVALE_RENDER_NOTEBOOK',
  fixtures: path.join(here, 'fixtures', 'notebooks'),
  fileExtension: '.ipynb',
});

let browser;
before(async () => {
  if (!markdown.skipReason || !notebook.skipReason) browser = await launchChromium();
});
after(async () => {
  await browser?.close();
});

function assertCleanLoad(result) {
  assert.equal(result.ready, true, 'page never reported ready');
  assert.deepEqual(result.pageErrors, [], 'uncaught exceptions');
  assert.deepEqual(result.consoleErrors, [], 'console errors');
  assert.deepEqual(result.requests.filter((url) => !url.startsWith('blob:')), [], 'the page made requests');
}

// Records what the page copies: through the clipboard API, or (without it) through the copy
// event of the editing command the page falls back to.
const recordCopies = (withClipboardAPI) => async (page) => {
  await page.addInitScript((useAPI) => {
    window.__copied = [];
    const clipboard = useAPI ? { writeText: async (text) => void window.__copied.push(text) } : undefined;
    Object.defineProperty(Navigator.prototype, 'clipboard', { get: () => clipboard, configurable: true });
    document.addEventListener('copy', (event) => {
      const area = event.target;
      if (area && area.localName === 'textarea') window.__copied.push(area.value.slice(area.selectionStart, area.selectionEnd));
    });
  }, withClipboardAPI);
};

// What the reader sees in the window (the outline column is sticky: a full-page shot hides that).
const windowShot = (page, name) => page.screenshot({ path: path.join(buildDir(), 'screenshots', `${name}.png`) });

const headingTop = (page, id) => page.evaluate((target) => document.getElementById(target).getBoundingClientRect().top, id);

const GUIDE_IDS = [
  'orbit-toolkit-rocket', 'contents', 'install', 'usage', 'quick-start', 'configuration', 'propagation',
  'frames--epochs', 'plotting', 'faq', 'troubleshooting', 'faq-1', 'c-notes', 'привет-мир', 'émojis--in-headings',
  'sparkles-new-in-24', 'punctuation-whats-new-v20----quoted--code', 'snake_case-and-kebab-case', 'mermaid', 'appendix',
];

for (const colorScheme of ['light', 'dark']) {
  describe(`Markdown page reading aids (${colorScheme})`, { skip: markdown.skipReason }, () => {
    test('front matter, emoji, GitHub ids, outline beside the text, links and copy', async () => {
      const result = await openPage(browser, markdown.renderFixture('reading-guide'), {
        colorScheme, viewport: { width: 1280, height: 900 }, beforeLoad: recordCopies(true),
      });
      const { page } = result;
      try {
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const content = document.getElementById('lumivale-content');
          const table = content.firstElementChild;
          const nav = document.querySelector('nav.lumivale-outline');
          const intro = content.querySelector('h1 + p');
          return {
            first: table.className,
            keys: [...table.querySelectorAll('th')].map((th) => th.textContent),
            values: [...table.querySelectorAll('td')].map((td) => td.textContent),
            rules: content.querySelectorAll('hr').length,
            ids: [...content.querySelectorAll('h1, h2, h3, h4, h5, h6')].map((h) => h.id),
            anchors: [...content.querySelectorAll('h2 > a.lumivale-heading-anchor')].slice(0, 2).map((a) => a.getAttribute('href')),
            title: content.querySelector('h1').textContent,
            intro: intro.textContent,
            literal: [...intro.querySelectorAll('code, a[href^="https:"]')].map((e) => e.textContent),
            hrefs: [...intro.querySelectorAll('a[href^="https:"]')].map((a) => a.getAttribute('href')),
            outline: [...nav.querySelectorAll('a')].map((a) => [a.getAttribute('href'), a.textContent]),
            beside: nav.getBoundingClientRect().left >= content.getBoundingClientRect().right - 1,
            copyButtons: content.querySelectorAll('.lumivale-code-block > button.lumivale-copy-button').length,
            mermaidButtons: content.querySelectorAll('.lumivale-diagram button').length,
          };
        });
        assert.equal(dom.first, 'lumivale-front-matter', 'the front matter is the first thing shown, as a table');
        assert.deepEqual(dom.keys, ['title', 'version', 'tags', 'authors', 'license', 'summary']);
        assert.deepEqual(dom.values, [
          'Orbit Toolkit', '2.4.1', 'astronomy, orbital mechanics, cli',
          '{name: Ada Orbit, email: ada@example.org}, {name: Lin Kepler}', 'MIT',
          'Tools for computing and plotting satellite orbits.',
        ]);
        assert.equal(dom.rules, 0, 'no rule left over from the front matter');
        assert.deepEqual(dom.ids, GUIDE_IDS);
        assert.deepEqual(dom.anchors, ['#contents', '#install']);
        assert.equal(dom.title, 'Orbit Toolkit 🚀');
        assert.match(dom.intro, /command line 🎉 and plot them 👍/);
        assert.deepEqual(dom.literal, [':smile:', 'https://example.org/:smile:/page', 'links']);
        assert.deepEqual(dom.hrefs, ['https://example.org/:smile:/page', 'https://example.org/a:smile:b']);
        assert.equal(dom.outline.length, GUIDE_IDS.length);
        assert.deepEqual(dom.outline[0], ['#orbit-toolkit-rocket', 'Orbit Toolkit 🚀']);
        assert.deepEqual(dom.outline[13], [`#${encodeURIComponent('привет-мир')}`, 'Привет мир']);
        assert.ok(dom.beside, 'the outline is a column beside the text, not over it');
        assert.equal(dom.copyButtons, 2);
        assert.equal(dom.mermaidButtons, 0);
        await screenshot(page, `reading-markdown-${colorScheme}`);

        // The outline follows the scroll.
        await page.evaluate(() => {
          const target = document.getElementById('troubleshooting');
          window.scrollTo(0, target.getBoundingClientRect().top + window.scrollY - 40);
        });
        await page.waitForFunction(() => document.querySelector('.lumivale-outline [aria-current]')?.textContent === 'Troubleshooting');

        // In-document links: to a heading, and to an anchor the document wrote itself.
        await page.click('#lumivale-content h1 + p a[href="#install"]');
        assert.ok(Math.abs((await headingTop(page, 'install')) - 12) < 3, 'the link scrolled to #install');
        assert.equal(await page.evaluate(() => location.hash), '#install');
        await page.click('#lumivale-content h1 + p a[href="#legacy-anchor"]');
        assert.ok(Math.abs(await headingTop(page, 'user-content-legacy-anchor')) < 3);

        // An outline entry from the keyboard: focus moves to the heading it names.
        await page.focus('.lumivale-outline a[href="#c-notes"]');
        await page.keyboard.press('Enter');
        assert.equal(await page.evaluate(() => document.activeElement.id), 'c-notes');
        assert.ok(Math.abs((await headingTop(page, 'c-notes')) - 12) < 3);

        // Copy from the keyboard gives the fence's exact text.
        await page.focus('.lumivale-code-block .lumivale-copy-button');
        await page.keyboard.press('Enter');
        await page.waitForFunction(() => window.__copied.length === 1);
        assert.deepEqual(await page.evaluate(() => window.__copied), [
          'pip install orbit-toolkit   # installs the "orbit" command\norbit --version && echo "ok <done>"',
        ]);
        await page.mouse.move(0, 0);
        await windowShot(page, `reading-markdown-window-${colorScheme}`);
      } finally {
        await page.close();
      }
    });

    test('hostile headings, front matter and forged ids stay inert', async () => {
      const result = await openPage(browser, markdown.renderFixture('reading-hostile'), { colorScheme });
      const { page } = result;
      try {
        await page.waitForTimeout(300); // delayed handlers (onerror) get their chance
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const content = document.getElementById('lumivale-content');
          const nav = document.querySelector('nav.lumivale-outline');
          const ids = [...document.querySelectorAll('[id]')].map((e) => e.id);
          return {
            pwned: window.__pwned ?? null,
            polluted: Object.prototype.polluted ?? null,
            resolver: typeof window.lumivaleResolveAttachment,
            contentIsArticle: content.localName,
            libraryElement: document.getElementById('lumivale-mermaid-script')?.localName,
            diagrams: content.querySelectorAll('.lumivale-diagram svg').length,
            duplicateIds: ids.filter((id, i) => ids.indexOf(id) !== i),
            pageIdsInContent: [...content.querySelectorAll('[id], [name]')]
              .filter((e) => /^(lumivale|nbv)/i.test(e.id || e.getAttribute('name'))).length,
            frontMatter: [...content.querySelectorAll('.lumivale-front-matter td')].map((td) => td.textContent),
            frontMatterElements: content.querySelectorAll('.lumivale-front-matter td *').length,
            outlineMarkup: [...nav.querySelectorAll('a')].filter((a) => a.children.length).length,
            outlineButtons: [...nav.querySelectorAll('button')].map((b) => b.className),
            outlineLinks: [...nav.querySelectorAll('a')].map((a) => a.getAttribute('href')).filter((h) => !h.startsWith('#')),
            headings: [...content.querySelectorAll('h1, h2')].slice(0, 6).map((h) => h.id),
          };
        });
        assert.equal(dom.pwned, null);
        assert.equal(dom.polluted, null);
        assert.equal(dom.resolver, 'undefined', 'no document element stands in for the resolver');
        assert.equal(dom.contentIsArticle, 'article');
        assert.equal(dom.libraryElement, 'script', 'the diagram library is read from the page, not the document');
        assert.equal(dom.diagrams, 1);
        assert.deepEqual(dom.duplicateIds, []);
        assert.equal(dom.pageIdsInContent, 0);
        assert.deepEqual(dom.frontMatter.slice(0, 3), [
          '<img src=x onerror="window.__pwned = 1">', '{polluted: yes}', '<script>window.__pwned = 2</script>',
        ]);
        assert.equal(dom.frontMatterElements, 0, 'front matter values are text');
        assert.equal(dom.outlineMarkup, 0, 'outline entries are text');
        assert.deepEqual(dom.outlineButtons, ['lumivale-outline-toggle']);
        assert.deepEqual(dom.outlineLinks, []);
        assert.deepEqual(dom.headings, [
          'heading-with-an-image', 'window__pwned--4', 'user-content-lumivale-mermaid-script-1', 'javascript-link-heading',
          'outline-entry-button', 'section-1',
        ]);
      } finally {
        await page.close();
      }
    });
  });
}

// A document long enough to be built a run of blocks at a time, with headings of every kind the
// outline must name as the page does: duplicates, emoji shortcodes, code, mathematics, and lines
// inside code that only look like headings. `extra` goes into the middle of the document.
function longDocument(extra = '', { math = true } = {}) {
  const prose = 'Words of a section that go on for a while so that the document grows long. '.repeat(12);
  let text = '# Long guide\n\n';
  for (let n = 0; n < 80; n += 1) {
    if (n === 40) text += extra;
    text += `## Part ${n} :rocket: with \`code\`${math ? ` and $x^${n}$` : ''}\n\n${prose}\n\n### Notes\n\n${prose}\n\n`;
    text += '```python\n# not a heading\nprint(1)\n```\n\n';
  }
  return text;
}

function renderLong(name, text) {
  const input = path.join(markdown.scratch, `${name}.md`);
  const output = path.join(markdown.scratch, `${name}.html`);
  writeFileSync(input, text);
  execFileSync(markdown.renderTool, [input, output], { stdio: 'pipe' });
  return output;
}

// Runs in the page before its scripts: when the outline got its first entry and when the
// document's last heading was shown; the first entry element is kept to see whether it stays.
function watchOutline() {
  window.__outline = { firstEntry: null, lastHeading: null, entry: null, firstText: null, firstEntries: 0 };
  new MutationObserver(() => {
    const now = performance.now();
    if (window.__outline.firstText === null && document.querySelector('#lumivale-content > *')) window.__outline.firstText = now;
    const entry = document.querySelector('.lumivale-outline li');
    if (entry && !window.__outline.entry) {
      const firstEntries = document.querySelectorAll('.lumivale-outline li').length;
      Object.assign(window.__outline, { entry, firstEntry: now, firstEntries });
    }
    if (!window.__outline.lastHeading && document.querySelector('#lumivale-content h2[id^="part-79"]')) window.__outline.lastHeading = now;
  }).observe(document, { childList: true, subtree: true });
}

const outlineAgainstHeadings = (page) =>
  page.evaluate(() => {
    const nav = document.querySelector('nav.lumivale-outline');
    const words = (heading) => {
      const copy = heading.cloneNode(true);
      for (const part of copy.querySelectorAll('.lumivale-heading-anchor, .katex-mathml')) part.remove();
      return copy.textContent.replace(/\s+/g, ' ').trim();
    };
    return {
      entries: [...nav.querySelectorAll('a')].map((a) => [a.getAttribute('href'), a.textContent]),
      headings: [...document.querySelectorAll('#lumivale-content :is(h1, h2, h3, h4, h5, h6)')].map((h) => [`#${encodeURIComponent(h.id)}`, words(h)]),
      sameFirstEntry: nav.querySelector('li') === window.__outline.entry,
      firstEntry: window.__outline.firstEntry,
      lastHeading: window.__outline.lastHeading,
      firstText: window.__outline.firstText,
      firstEntries: window.__outline.firstEntries,
      // How many entries the column shows, scrolled to its top.
      entriesInSight: (() => {
        const list = nav.querySelector('ol');
        list.scrollTop = 0;
        const bottom = list.getBoundingClientRect().bottom;
        return [...list.children].filter((item) => item.getBoundingClientRect().top < bottom).length;
      })(),
    };
  });

// Opens a long document in a wide window, checks that it loads cleanly and hands its outline and
// headings (see outlineAgainstHeadings) to `check`.
async function withLongDocument(name, text, check) {
  const result = await openPage(browser, renderLong(name, text), {
    viewport: { width: 1280, height: 900 }, beforeLoad: (page) => page.addInitScript(watchOutline),
  });
  try {
    assertCleanLoad(result);
    await check(await outlineAgainstHeadings(result.page), result.page);
  } finally {
    await result.page.close();
  }
}

describe('Outline of a long Markdown document', { skip: markdown.skipReason }, () => {
  test('comes with the first screen and names the headings shown, with their ids', async () => {
    await withLongDocument('long-guide', longDocument(), async (dom, page) => {
      assert.equal(dom.headings.length, 161);
      assert.deepEqual(dom.entries, dom.headings);
      assert.deepEqual(dom.entries.slice(1, 4), [
        ['#part-0-rocket-with-code-and-x0', 'Part 0 🚀 with code and x0'], ['#notes', 'Notes'], ['#part-1-rocket-with-code-and-x1', 'Part 1 🚀 with code and x1'],
      ]);
      assert.deepEqual(dom.entries[4], ['#notes-1', 'Notes']);
      assert.ok(dom.firstEntry < dom.lastHeading, 'the outline waited for the whole document');
      assert.ok(dom.sameFirstEntry, 'the outline was built twice');
      // Once everything is shown an entry reaches its heading, and scrolling marks the section.
      await page.click('.lumivale-outline a[href="#part-60-rocket-with-code-and-x60"]');
      assert.ok(Math.abs((await headingTop(page, 'part-60-rocket-with-code-and-x60')) - 12) < 3);
      // (Blocks off screen take their real height once shown: scroll again after a frame.)
      await page.evaluate(async () => {
        const heading = document.getElementById('notes-30');
        heading.scrollIntoView();
        await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 50)));
        heading.scrollIntoView();
      });
      await page.waitForFunction(() => document.querySelector('.lumivale-outline [aria-current]')?.getAttribute('href') === '#notes-30');
    });
  });

  test('shows the entries in sight with the first text, and the rest once it is painted', async () => {
    await withLongDocument('long-plain', longDocument('', { math: false }), (dom) => {
      assert.equal(dom.headings.length, 161);
      // Ids stay unique across the entries made before and after the first paint.
      assert.deepEqual(dom.entries, dom.headings);
      assert.deepEqual(dom.entries[60], ['#notes-29', 'Notes']);
      assert.equal(dom.firstEntry, dom.firstText, 'the outline came after the first text');
      assert.ok(dom.firstEntry < dom.lastHeading, 'the outline waited for the whole document');
      assert.ok(dom.firstEntries >= dom.entriesInSight && dom.entriesInSight > 20, `${dom.firstEntries} entries first, ${dom.entriesInSight} in sight`);
      assert.ok(dom.firstEntries < dom.entries.length, 'every entry was made before the first paint');
      assert.ok(dom.sameFirstEntry, 'the outline was built twice');
    });
  });

  test('is made again from the headings shown when the Markdown foretold them wrongly', async () => {
    // A setext heading is not among the heading lines the outline is first made from.
    const text = longDocument('Underlined part\n---------------\n\nText.\n\n');
    await withLongDocument('long-setext', text, (dom) => {
      assert.equal(dom.headings.length, 162);
      assert.deepEqual(dom.entries, dom.headings);
      assert.ok(dom.entries.some(([href]) => href === '#underlined-part'));
      assert.equal(dom.sameFirstEntry, false);
    });
  });
});

describe('Markdown page reading aids in a narrow window', { skip: markdown.skipReason }, () => {
  test('the outline folds above the text and opens from the keyboard', async () => {
    const result = await openPage(browser, markdown.renderFixture('reading-guide'), {
      viewport: { width: 700, height: 800 }, beforeLoad: recordCopies(false),
    });
    const { page } = result;
    try {
      assertCleanLoad(result);
      const state = () => page.evaluate(() => {
        const nav = document.querySelector('nav.lumivale-outline');
        const list = nav.querySelector('ol');
        const article = document.getElementById('lumivale-content');
        return {
          expanded: nav.querySelector('button').getAttribute('aria-expanded'),
          listShown: list.getBoundingClientRect().height > 0,
          above: nav.getBoundingClientRect().bottom <= article.getBoundingClientRect().top + 1,
          overflow: document.documentElement.scrollWidth > window.innerWidth,
        };
      });
      assert.deepEqual(await state(), { expanded: 'false', listShown: false, above: true, overflow: false });
      await page.focus('.lumivale-outline-toggle');
      await page.keyboard.press('Enter');
      assert.deepEqual(await state(), { expanded: 'true', listShown: true, above: true, overflow: false });
      await windowShot(page, 'reading-markdown-narrow');

      // Without the clipboard API the copy still gives the exact text.
      await page.locator('.lumivale-code-block .lumivale-copy-button').nth(1).click();
      await page.waitForFunction(() => window.__copied.length === 1);
      assert.deepEqual(await page.evaluate(() => window.__copied), [
        'from orbit import Orbit\n\no = Orbit.from_elements(a=7000, e=0.001)  # km\nprint(o.period)',
      ]);
    } finally {
      await page.close();
    }
  });

  test('a URL fragment reaches its heading once the document is shown', async () => {
    const page = await browser.newPage({ viewport: { width: 1024, height: 800 } });
    try {
      const url = pathToFileURL(markdown.renderFixture('reading-guide')).href;
      await page.goto(`${url}#${encodeURIComponent('привет-мир')}`);
      await page.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true');
      await page.waitForFunction(() => Math.abs(document.getElementById('привет-мир').getBoundingClientRect().top - 12) < 3);
    } finally {
      await page.close();
    }
  });
});

for (const colorScheme of ['light', 'dark']) {
  describe(`Notebook page reading aids (${colorScheme})`, { skip: notebook.skipReason }, () => {
    test('the outline lists the Markdown cells\' headings; code cells copy their exact source', async () => {
      const result = await openPage(browser, notebook.renderFixture('sections'), {
        colorScheme, viewport: { width: 1280, height: 900 }, beforeLoad: recordCopies(true),
      });
      const { page } = result;
      try {
        assertCleanLoad(result);
        const dom = await page.evaluate(() => {
          const main = document.getElementById('nbv-cells');
          const nav = document.querySelector('nav.lumivale-outline');
          return {
            ids: [...main.querySelectorAll('h1, h2, h3')].map((h) => h.id),
            outline: [...nav.querySelectorAll('a')].map((a) => a.textContent),
            beside: nav.getBoundingClientRect().left >= main.querySelector('.nbv-cell').getBoundingClientRect().right - 1,
            buttons: main.querySelectorAll('.nbv-code-cell button.lumivale-copy-button').length,
          };
        });
        assert.deepEqual(dom.ids.slice(0, 6), ['orbit-survey-telescope', '1-loading-the-data', '2-cleaning', '3-exploration', 'distributions', '4-feature-engineering']);
        assert.equal(dom.ids.length, 14);
        assert.deepEqual(dom.outline.slice(0, 2), ['Orbit survey 🔭', '1. Loading the data']);
        assert.equal(dom.outline.length, 14);
        assert.ok(dom.beside);
        assert.equal(dom.buttons, 12);
        await screenshot(page, `reading-notebook-${colorScheme}`);

        // A link between cells scrolls below the sticky header; the outline follows.
        await page.click('#nbv-cells a[href="#6-tuning"]');
        const top = await headingTop(page, '6-tuning');
        const header = await page.evaluate(() => document.querySelector('.nbv-header').getBoundingClientRect().bottom);
        assert.ok(top >= header && top < header + 40, `heading at ${top}, header ends at ${header}`);
        await page.waitForFunction(() => document.querySelector('.lumivale-outline [aria-current]')?.textContent === '6. Tuning');
        await windowShot(page, `reading-notebook-window-${colorScheme}`);

        await page.locator('.nbv-code-cell .lumivale-copy-button').nth(1).click();
        await page.waitForFunction(() => window.__copied.length === 1);
        assert.deepEqual(await page.evaluate(() => window.__copied), [
          '%%time\nresult_2 = step(2, tolerance=1e-6)\nprint(result_2)',
        ]);
      } finally {
        await page.close();
      }
    });
  });
}
