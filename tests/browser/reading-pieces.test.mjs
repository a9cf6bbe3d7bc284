// The page's reading aids that need no browser: heading slugs numbered as GitHub numbers them,
// and the front-matter reader (its YAML subset, its refusals and its handling of hostile keys).
// Runs under node with the pinned packages.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { headingSlug, uniqueSlug } from '../../web/src/shared/anchors.js';
import { compactText, parseFrontMatter, splitFrontMatter } from '../../web/src/shared/front-matter.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../web/package.json'));

test('heading slugs and their numbering match github-slugger', async () => {
  const { default: GithubSlugger } = await import(require.resolve('github-slugger'));
  const headings = ['Install', 'Install', 'Install 1', 'install-1', 'Install', 'Привет non-latin 你好', '😄 emoji',
    "What's new? (v2.0)", 'C++ & C#', 'snake_case', '  spaced  out  ', '', ''];
  const reference = new GithubSlugger();
  const used = new Set();
  const ours = headings.map((text) => uniqueSlug(headingSlug(text), used));
  assert.deepEqual(ours, headings.map((text) => reference.slug(text)));
  assert.deepEqual(ours.slice(0, 8), [
    'install', 'install-1', 'install-1-1', 'install-1-2', 'install-2', 'привет-non-latin-你好', '-emoji', 'whats-new-v20',
  ]);
});

test('front matter is taken only from the very top, closed by --- or ...', () => {
  assert.deepEqual(splitFrontMatter('---\ntitle: A\n---\n# Body\n'), { frontMatter: 'title: A', body: '# Body\n' });
  assert.deepEqual(splitFrontMatter('\uFEFF---\r\ntitle: A\r\n...\r\ntext'), { frontMatter: 'title: A', body: 'text' });
  for (const text of ['text\n---\ntitle: A\n---\n', '---\ntitle: A\nno closing line\n', '---\n---\n', '----\na: b\n---\n']) {
    assert.deepEqual(splitFrontMatter(text), { frontMatter: null, body: text }, JSON.stringify(text));
  }
});

test('the YAML subset: scalars, quotes, lists, nested maps and block scalars', () => {
  const entries = parseFrontMatter(
    [
      'title: "Orbit: \\"toolkit\\""   # a comment',
      "quoted: 'it''s # not a comment'",
      'tags: [astronomy, "orbital, mechanics", cli]',
      'empty:',
      'authors:',
      '  - name: Ada',
      '    email: ada@example.org',
      '  - Lin',
      'plain: a # comment',
      'url: https://example.org/a:b',
      'summary: >',
      '  folded',
      '  lines',
      '',
      'notes: |',
      '  kept',
      '    indented',
      'steps:',
      '- one',
      '- two',
    ].join('\n'),
  );
  assert.deepEqual(entries, [
    ['title', 'Orbit: "toolkit"'],
    ['quoted', "it's # not a comment"],
    ['tags', ['astronomy', 'orbital, mechanics', 'cli']],
    ['empty', ''],
    ['authors', [{ entries: [['name', 'Ada'], ['email', 'ada@example.org']] }, 'Lin']],
    ['plain', 'a'],
    ['url', 'https://example.org/a:b'],
    ['summary', 'folded lines'],
    ['notes', 'kept\n  indented'],
    ['steps', ['one', 'two']],
  ]);
  assert.equal(compactText(entries[4][1]), '{name: Ada, email: ada@example.org}, Lin');
});

test('text that is not a mapping in the subset is refused, never half read', () => {
  for (const text of ['just a sentence', '- a\n- b', 'a: b\n  c: d', 'a: "unterminated', 'a: b\nnot a pair', '  a: b']) {
    assert.equal(parseFrontMatter(text), null, JSON.stringify(text));
  }
  // Deep nesting is refused instead of recursing without bound.
  const deep = Array.from({ length: 200 }, (_, i) => `${'  '.repeat(i)}k${i}:`).join('\n');
  assert.equal(parseFrontMatter(deep), null);
});

test('hostile keys stay text and touch no prototype', () => {
  const entries = parseFrontMatter('__proto__: {polluted: yes}\nconstructor:\n  prototype:\n    polluted: yes\n');
  assert.deepEqual(entries.map(([key]) => key), ['__proto__', 'constructor']);
  assert.equal(compactText(entries[1][1]), '{prototype: {polluted: yes}}');
  assert.equal({}.polluted, undefined);
  assert.equal(Object.prototype.polluted, undefined);
});
