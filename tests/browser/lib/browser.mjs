// Browser-test harness: starts Debian's Chromium through playwright-core, opens a rendered
// page from disk, waits until the page reports that rendering has finished, and collects what
// went wrong on the way (console errors, uncaught exceptions, network requests).
//
//   launchChromium() -> Browser
//   openPage(browser, htmlFilePath, {colorScheme, viewport, timeout, beforeLoad})
//       -> {page, consoleErrors, pageErrors, requests, ready}
//   screenshot(page, name) -> path of <build>/screenshots/<name>.png
//   buildDir(), appBundleDir(), extensionResourcesDir(name)
//
// The build directory comes from LUMIVALE_BUILD_DIR (ctest sets it; default: build/ in this
// checkout, wherever it was cloned). playwright-core
// is resolved through NODE_PATH (set by ctest) and falls back to the repository's web/node_modules.

import { createRequire } from 'node:module';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const repoRoot = path.resolve(here, '../../..');

function loadPlaywright() {
  const require = createRequire(import.meta.url);
  try {
    return require('playwright-core');
  } catch {
    return require(path.join(repoRoot, 'web/node_modules/playwright-core'));
  }
}

const { chromium } = loadPlaywright();

export function buildDir() {
  return process.env.LUMIVALE_BUILD_DIR || path.join(repoRoot, 'build');
}

export function appBundleDir() {
  return path.join(buildDir(), 'Lumivale Quick Look.app');
}

// The Resources folder of an extension, e.g. extensionResourcesDir('MarkdownLens').
export function extensionResourcesDir(extensionName) {
  return path.join(appBundleDir(), 'Contents/PlugIns', `${extensionName}.appex`, 'Contents/Resources');
}

// Playwright gives every launch a fresh temporary profile (it refuses --user-data-dir in args),
// which is the "new empty user-data-dir" we want; the remaining flags keep Chromium from
// reaching the network on its own.
export async function launchChromium() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    chromiumSandbox: false,
    args: [
      '--headless',
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// Opens htmlFilePath as a file:// URL in a new context with the given colour scheme and waits
// until <html data-lumivale-ready="true"> or the timeout. Never throws on a timeout: `ready`
// tells whether the page finished. `requests` lists every URL the page asked for except the
// page itself. `beforeLoad(page)` runs before navigation (e.g. to add init scripts).
export async function openPage(browser, htmlFilePath, options = {}) {
  const {
    colorScheme = 'light',
    viewport = { width: 1024, height: 900 },
    timeout = 30000,
    beforeLoad,
  } = options;
  const page = await browser.newPage({ colorScheme, viewport });
  const consoleErrors = [];
  const pageErrors = [];
  const requests = [];
  const pageURL = pathToFileURL(path.resolve(htmlFilePath)).href;

  page.on('console', (message) => {
    if (message.type() === 'error') consoleErrors.push(message.text());
  });
  page.on('pageerror', (error) => pageErrors.push(String(error && error.stack ? error.stack : error)));
  page.on('request', (request) => {
    if (request.url() !== pageURL) requests.push(request.url());
  });
  if (beforeLoad) await beforeLoad(page);

  await page.goto(pageURL, { waitUntil: 'load', timeout });
  let ready = true;
  try {
    await page.waitForFunction(() => document.documentElement.dataset.lumivaleReady === 'true', null, {
      timeout,
      polling: 50,
    });
  } catch {
    ready = false;
  }
  return { page, consoleErrors, pageErrors, requests, ready };
}

// Full-page screenshot into <build>/screenshots/<name>.png; returns the file path.
export async function screenshot(page, name) {
  const directory = path.join(buildDir(), 'screenshots');
  mkdirSync(directory, { recursive: true });
  const file = path.join(directory, `${name}.png`);
  await page.screenshot({ path: file, fullPage: true });
  return file;
}
