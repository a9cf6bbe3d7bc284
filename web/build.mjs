#!/usr/bin/env node
// Produces the page resources of both preview extensions from the pinned npm packages and our
// own page sources:
//
//   node web/build.mjs --markdown-resources <dir> --notebook-resources <dir>
//
// MarkdownLens: <dir>/markdown-template.html and <dir>/markdown/*.{css,js}
// NotebookLens: <dir>/notebook-template.html and <dir>/notebook/*.{css,js}
//
// Library files are taken minified from the packages where they ship one and minified with
// esbuild otherwise. KaTeX's fonts are inlined into its style sheet (a preview page cannot load
// font files). Every Prism language file carries its dependencies, each guarded, so that any
// selection of them works when loaded in ascending name order. Our page scripts are bundled
// with esbuild (IIFE, minified); the Markdown page script is inlined into its template.
//
// The renderer's fence tables (PreviewCore/ContentDetection.cpp: label aliases and the Prism
// components a fence may select) are the one source of the Markdown page's languages: the
// language files built here and the aliases the page honours (the module
// "lumivale:fence-languages") are read from them, so that the page and the renderer cannot drift.

import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { buildMermaidModules } from './build-mermaid.mjs';

const webDir = path.dirname(fileURLToPath(import.meta.url));
const modulesDir = path.join(webDir, 'node_modules');
const fenceTablesFile = path.join(webDir, '..', 'PreviewCore', 'ContentDetection.cpp');

function fail(message) {
  console.error(`web/build.mjs: ${message}`);
  process.exit(1);
}

if (!existsSync(path.join(modulesDir, 'esbuild')) || !existsSync(path.join(modulesDir, 'marked'))) {
  fail(`${modulesDir} is missing or incomplete: run scripts/setup.sh (npm ci in web/)`);
}
const esbuild = await import(path.join(modulesDir, 'esbuild/lib/main.js')).then((m) => m.default ?? m);

// ---------------------------------------------------------------------------------------------
// Command line

function parseArguments(argv) {
  const options = {};
  for (let i = 0; i < argv.length; i += 1) {
    const argument = argv[i];
    if (argument === '--markdown-resources' || argument === '--notebook-resources') {
      if (i + 1 >= argv.length) fail(`${argument} needs a directory`);
      options[argument === '--markdown-resources' ? 'markdown' : 'notebook'] = path.resolve(argv[++i]);
    } else {
      fail(`unknown argument "${argument}" (usage: --markdown-resources <dir> --notebook-resources <dir>)`);
    }
  }
  if (!options.markdown && !options.notebook) {
    fail('nothing to do (usage: --markdown-resources <dir> --notebook-resources <dir>)');
  }
  return options;
}

// ---------------------------------------------------------------------------------------------
// Helpers

const packageFile = (...parts) => path.join(modulesDir, ...parts);
const readPackageFile = (...parts) => readFileSync(packageFile(...parts), 'utf8');

function writeText(file, text) {
  mkdirSync(path.dirname(file), { recursive: true });
  // Rewrite only on change so that timestamps stay put and dependants are not rebuilt.
  if (existsSync(file) && readFileSync(file, 'utf8') === text) return;
  writeFileSync(file, text);
}

// A script pasted into a <script> element must not contain "</script" (it would close the
// element) nor "<!--" followed by "<script" (the HTML parser would enter its double-escaped
// state and no longer see the closing tag).
function checkInlineScript(name, text) {
  if (/<\/script/i.test(text)) fail(`${name} contains "</script"`);
  const comment = text.indexOf('<!--');
  if (comment >= 0 && /<script[\s/>]/i.test(text.slice(comment))) {
    fail(`${name} contains "<!--" followed by "<script": it cannot be inlined safely`);
  }
  return text;
}

async function minifyCSS(css, name) {
  const result = await esbuild.transform(css, { loader: 'css', minify: true, sourcefile: name, logLevel: 'silent' });
  return result.code.trim();
}

async function minifyJS(js, name) {
  const result = await esbuild.transform(js, {
    loader: 'js',
    minify: true,
    sourcefile: name,
    legalComments: 'inline',
    target: 'es2020',
    logLevel: 'silent',
  });
  return checkInlineScript(name, result.code.trim());
}

// The module "lumivale:fence-languages", which page code imports for the renderer's tables.
const fenceLanguagesPlugin = {
  name: 'fence-languages',
  setup(build) {
    build.onResolve({ filter: /^lumivale:fence-languages$/ }, (args) => ({ path: args.path, namespace: 'lumivale' }));
    build.onLoad({ filter: /.*/, namespace: 'lumivale' }, () => {
      const { aliases, components } = fenceLanguageTables();
      return {
        contents: `export const FENCE_ALIASES = ${JSON.stringify(aliases)};\n` +
          `export const FENCE_COMPONENTS = ${JSON.stringify(components)};\n`,
        loader: 'js',
      };
    });
  },
};

// The module "lumivale:emoji": GitHub's emoji table (gemoji) as one compact text,
// "name emoji,name emoji,…" (names are [a-z0-9_+-], emoji hold neither spaces nor commas), read
// by the page only when a document holds a shortcode.
const emojiPlugin = {
  name: 'emoji',
  setup(build) {
    build.onResolve({ filter: /^lumivale:emoji$/ }, (args) => ({ path: args.path, namespace: 'lumivale-emoji' }));
    build.onLoad({ filter: /.*/, namespace: 'lumivale-emoji' }, async () => {
      const { gemoji } = await import(packageFile('gemoji', 'index.js'));
      const pairs = [];
      for (const { emoji, names } of gemoji) {
        for (const name of names) {
          if (!/^[a-z0-9_+-]+$/.test(name) || /[\s,]/.test(emoji)) fail(`gemoji entry ${name} does not fit the table`);
          pairs.push(`${name} ${emoji}`);
        }
      }
      if (pairs.length < 1000) fail('the gemoji table looks incomplete');
      return { contents: `export const EMOJI_TABLE = ${JSON.stringify(pairs.join(','))};\n`, loader: 'js' };
    });
  },
};

// Bundles one of our page entry points into a minified IIFE. CSS files imported by page modules
// arrive as text (the modules inject them as <style>).
async function bundle(entryPoint) {
  const result = await esbuild.build({
    entryPoints: [entryPoint],
    bundle: true,
    format: 'iife',
    minify: true,
    write: false,
    target: 'chrome110',
    platform: 'browser',
    legalComments: 'inline',
    charset: 'utf8',
    loader: { '.css': 'text' },
    plugins: [fenceLanguagesPlugin, emojiPlugin],
    logLevel: 'silent',
  });
  return checkInlineScript(path.relative(webDir, entryPoint), result.outputFiles[0].text.trim());
}

// ---------------------------------------------------------------------------------------------
// Library assets

// github-markdown.css follows the system colour scheme (light and dark in one sheet).
const githubCSS = () => minifyCSS(readPackageFile('github-markdown-css', 'github-markdown.css'), 'github-markdown.css');

// KaTeX's sheet with every font as a data: URL. Only the woff2 face is kept in each src list:
// every engine that runs these pages reads woff2.
function katexCSS() {
  const css = readPackageFile('katex', 'dist', 'katex.min.css');
  const fontsDir = packageFile('katex', 'dist', 'fonts');
  let missing = null;
  const inlined = css.replace(/src:([^;}]*)/g, (declaration, sources) => {
    const woff2 = /url\((['"]?)(fonts\/[^'")]+\.woff2)\1\)/.exec(sources);
    if (!woff2) return declaration;
    const fontFile = path.join(fontsDir, path.basename(woff2[2]));
    if (!existsSync(fontFile)) {
      missing = fontFile;
      return declaration;
    }
    const data = readFileSync(fontFile).toString('base64');
    return `src:url(data:font/woff2;base64,${data}) format("woff2")`;
  });
  if (missing) fail(`KaTeX font ${missing} not found`);
  if (/url\((['"]?)fonts\//.test(inlined)) fail('katex.min.css still refers to font files');
  return inlined;
}

const prismThemeCSS = () => readPackageFile('prismjs', 'themes', 'prism.min.css');

const markedJS = () => minifyJS(readPackageFile('marked', 'lib', 'marked.umd.js'), 'marked.umd.js');
const katexJS = () => checkInlineScript('katex.min.js', readPackageFile('katex', 'dist', 'katex.min.js'));
const copyTexJS = () =>
  checkInlineScript('copy-tex.min.js', readPackageFile('katex', 'dist', 'contrib', 'copy-tex.min.js'));
// Mermaid's ES module build as one classic script that runs only the modules a diagram uses
// (web/build-mermaid.mjs). Built once per run: both extensions carry it.
let mermaidText = null;
async function mermaidJS() {
  mermaidText ??= buildMermaidModules({
    esbuild,
    distDir: packageFile('mermaid', 'dist'),
    runtimeFile: path.join(webDir, 'src', 'mermaid', 'runtime.js'),
  });
  return checkInlineScript('mermaid.min.js', await mermaidText);
}

// ---------------------------------------------------------------------------------------------
// Prism

const prismComponents = JSON.parse(readPackageFile('prismjs', 'components.json')).languages;

// The renderer's two fence tables, read from its source: `aliases` (lower-case label -> Prism
// component) and `components` (component -> the components it needs loaded too).
let fenceTables = null;
function fenceLanguageTables() {
  if (fenceTables) return fenceTables;
  const source = readFileSync(fenceTablesFile, 'utf8');
  const tableBody = (name) => {
    const found = new RegExp(`& ${name}\\(\\) \\{[^]*?table\\{([^]*?)\\};`).exec(source);
    if (!found) fail(`${fenceTablesFile}: the ${name}() table is not where the build expects it`);
    return found[1];
  };
  const aliases = {};
  for (const [, label, component] of tableBody('aliases').matchAll(/\{"([^"]+)",\s*"([^"]+)"\}/g)) {
    aliases[label] = component;
  }
  const components = {};
  for (const [, name, needs] of tableBody('components').matchAll(/\{"([^"]+)",\s*\{([^}]*)\}\}/g)) {
    components[name] = [...needs.matchAll(/"([^"]+)"/g)].map((m) => m[1]);
  }
  if (Object.keys(aliases).length === 0 || Object.keys(components).length === 0) {
    fail(`${fenceTablesFile}: the fence tables could not be read`);
  }
  for (const [label, component] of Object.entries(aliases)) {
    if (!components[component]) fail(`fence alias ${label} names ${component}, which is no component`);
  }
  fenceTables = { aliases, components };
  return fenceTables;
}

// Every Prism language file a Markdown page may carry: each component and what it needs.
function markdownPrismLanguages() {
  const { components } = fenceLanguageTables();
  const names = new Set(Object.keys(components));
  for (const needs of Object.values(components)) needs.forEach((name) => names.add(name));
  return [...names].sort();
}

const asList = (value) => (value === undefined ? [] : Array.isArray(value) ? value : [value]);

// The required components of `name`, dependencies first (depth-first, each once).
function requiredComponents(name, seen = new Set()) {
  const order = [];
  for (const dependency of asList(prismComponents[name]?.require)) {
    if (seen.has(dependency)) continue;
    seen.add(dependency);
    order.push(...requiredComponents(dependency, seen), dependency);
  }
  return order;
}

function prismComponentJS(name) {
  const file = packageFile('prismjs', 'components', `prism-${name}.min.js`);
  if (!existsSync(file)) fail(`Prism component ${name} not found`);
  return readFileSync(file, 'utf8').trim();
}

const guarded = (name, code) => `if(!Prism.languages[${JSON.stringify(name)}]){${code}}`;

// One self-sufficient language file: its dependencies and itself, each defined only when not yet
// present, all skipped when Prism's core is absent. Markup gets the script/style embedding that
// the css and javascript components add when they are loaded after it; in ascending name order
// they come first, so markup re-applies them.
function prismLanguageJS(name) {
  const parts = requiredComponents(name).map((dependency) => guarded(dependency, prismComponentJS(dependency)));
  parts.push(guarded(name, prismComponentJS(name)));
  if (name === 'markup') {
    parts.push(`if(Prism.languages.css){${prismComponentJS('css')}}`);
    parts.push(`if(Prism.languages.javascript){${prismComponentJS('javascript')}}`);
  }
  return checkInlineScript(`prism-lang-${name}`, `if(typeof Prism!=="undefined"){${parts.join('\n')}}`);
}

const prismCoreJS = () => checkInlineScript('prism-core.min.js', prismComponentJS('core'));

// The notebook viewer's Prism: core and Prism's default languages, in Prism's own order.
function prismBundleJS() {
  const parts = [prismComponentJS('core'), ...['markup', 'css', 'clike', 'javascript'].map(prismComponentJS)];
  return checkInlineScript('prism.min.js', parts.join('\n'));
}

// ---------------------------------------------------------------------------------------------
// Our pages

// The Markdown template carries one build-time placeholder, replaced by the bundled page script.
const PAGE_SCRIPT_PLACEHOLDER = '<!-- @PAGE_SCRIPT@ -->';
const MARKDOWN_TOKENS = [
  'GITHUB_CSS', 'KATEX_CSS', 'PRISM_CSS', 'MARKED_JS', 'KATEX_JS', 'COPY_TEX_JS', 'MERMAID_JS', 'PRISM_JS',
  'MARKDOWN_JSON',
];

// The template is split at every "%%" by the renderer: besides the tokens, nothing in it (our
// inlined script included) may hold the delimiter.
function checkTemplateTokens(name, text, allowed) {
  const pieces = text.split('%%');
  if (pieces.length % 2 === 0) fail(`${name}: unbalanced "%%" delimiter`);
  for (let i = 1; i < pieces.length; i += 2) {
    if (!allowed.includes(pieces[i])) fail(`${name}: unexpected token "%%${pieces[i].slice(0, 40)}%%"`);
  }
}

async function markdownTemplate() {
  const template = readFileSync(path.join(webDir, 'markdown-template.html'), 'utf8');
  if (!template.includes(PAGE_SCRIPT_PLACEHOLDER)) fail(`markdown-template.html lacks ${PAGE_SCRIPT_PLACEHOLDER}`);
  const script = await bundle(path.join(webDir, 'src', 'markdown', 'main.js'));
  const page = template.replace(PAGE_SCRIPT_PLACEHOLDER, () => `<script>${script}</script>`);
  checkTemplateTokens('markdown-template.html', page, MARKDOWN_TOKENS);
  return page;
}

// ---------------------------------------------------------------------------------------------
// Output

async function buildMarkdownResources(dir) {
  const assets = path.join(dir, 'markdown');
  writeText(path.join(dir, 'markdown-template.html'), await markdownTemplate());
  writeText(path.join(assets, 'github-markdown.min.css'), await githubCSS());
  writeText(path.join(assets, 'katex.min.css'), katexCSS());
  writeText(path.join(assets, 'prism.min.css'), prismThemeCSS());
  writeText(path.join(assets, 'marked.min.js'), await markedJS());
  writeText(path.join(assets, 'katex.min.js'), katexJS());
  writeText(path.join(assets, 'copy-tex.min.js'), copyTexJS());
  writeText(path.join(assets, 'mermaid.min.js'), await mermaidJS());
  writeText(path.join(assets, 'prism-core.min.js'), prismCoreJS());
  for (const name of markdownPrismLanguages()) {
    writeText(path.join(assets, `prism-lang-${name}.min.js`), prismLanguageJS(name));
  }
}

async function buildNotebookResources(dir) {
  const assets = path.join(dir, 'notebook');
  writeText(path.join(assets, 'prism.min.css'), prismThemeCSS());
  writeText(path.join(assets, 'katex.min.css'), katexCSS());
  writeText(path.join(assets, 'marked.min.js'), await markedJS());
  writeText(path.join(assets, 'prism.min.js'), prismBundleJS());
  writeText(path.join(assets, 'prism-python.min.js'), prismLanguageJS('python'));
  writeText(path.join(assets, 'katex.min.js'), katexJS());
  writeText(path.join(assets, 'mermaid.min.js'), await mermaidJS());
  writeText(path.join(assets, 'nbv.js'), await bundle(path.join(webDir, 'src', 'nbv', 'main.js')));
  writeText(path.join(dir, 'notebook-template.html'), readFileSync(path.join(webDir, 'notebook-template.html'), 'utf8'));
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  try {
    if (options.markdown) await buildMarkdownResources(options.markdown);
    if (options.notebook) await buildNotebookResources(options.notebook);
  } catch (error) {
    // esbuild reports syntax errors with their locations in `errors`.
    const details = error.errors?.map((e) => `${e.location?.file}:${e.location?.line}: ${e.text}`).join('\n');
    fail(details || error.stack || String(error));
  }
}

await main();
