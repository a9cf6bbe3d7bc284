// Standalone.html pages written by qlmanage, opened on their own in headless Chromium: every
// local image resolves through the embedded attachments, diagrams are drawn, nothing errs.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { buildDir, extensionResourcesDir, launchChromium, openPage, screenshot } from './lib/browser.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));
const qlmanage = path.join(buildDir(), 'qlmanage');
const resources = extensionResourcesDir('MarkdownLens');
const skip = !existsSync(qlmanage)
  ? `qlmanage not built: ${qlmanage}`
  : existsSync(path.join(resources, 'markdown-template.html'))
    ? false
    : `page resources not built: ${resources}`;

const scratch = mkdtempSync(path.join(os.tmpdir(), 'lumivale-standalone-'));
const out = path.join(scratch, 'out');
let browser;

before(async () => {
  if (skip) return;
  execFileSync('bash', [path.join(here, '..', 'e2e', 'make_fixtures.sh'), scratch]);
  const docs = path.join(scratch, 'docs');
  const app = path.join(buildDir(), 'Lumivale Quick Look.app');
  const run = spawnSync(qlmanage, ['--app', app, '-q', '-o', out, ...['notes.md', 'flow.mermaid', 'seq.mmd'].map((f) => path.join(docs, f))]);
  assert.equal(run.status, 0, String(run.stderr));
  browser = await launchChromium();
});
after(async () => {
  await browser?.close();
  rmSync(scratch, { recursive: true, force: true });
});

async function open(name) {
  const opened = await openPage(browser, path.join(out, `${name}.qlpreview`, 'Standalone.html'), { colorScheme: 'light' });
  assert.ok(opened.ready, `${name}: the page never became ready`);
  return opened;
}

describe('standalone pages', { skip }, () => {
  test('every inlined image of a Markdown document shows', async () => {
    const { page, consoleErrors, pageErrors } = await open('notes.md');
    const images = await page.$$eval('img', (imgs) =>
      imgs.map((img) => ({ alt: img.alt, src: img.getAttribute('src') || '', width: img.naturalWidth, complete: img.complete })));
    const local = images.filter((img) => img.src.startsWith('data:'));
    assert.deepEqual(local.map((img) => img.alt).sort(),
      ['gif', 'jpeg', 'png', 'png again', 'sibling', 'space', 'svg'].sort());
    for (const img of local) assert.ok(img.width > 0, `${img.alt} did not load`);
    assert.ok(!images.some((img) => img.src.startsWith('cid:')), 'a cid: reference was left unresolved');
    assert.ok(await page.$('svg[id^="mermaid"], .mermaid svg, pre.mermaid svg, svg'), 'the diagram was not drawn');
    await screenshot(page, 'standalone-notes');
    assert.deepEqual(pageErrors, []);
    assert.deepEqual(consoleErrors, []);
    await page.close();
  });

  for (const name of ['flow.mermaid', 'seq.mmd']) {
    test(`${name} is drawn as a diagram`, async () => {
      const { page, consoleErrors, pageErrors } = await open(name);
      const svgText = await page.$$eval('svg', (svgs) => svgs.map((svg) => svg.textContent).join(' '));
      assert.match(svgText, name === 'flow.mermaid' ? /start[\s\S]*finish/ : /Alice[\s\S]*Bob/);
      await screenshot(page, `standalone-${name.replace('.', '-')}`);
      assert.deepEqual(pageErrors, []);
      assert.deepEqual(consoleErrors, []);
      await page.close();
    });
  }
});
