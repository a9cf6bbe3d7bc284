// Long Markdown documents are converted a run of blocks at a time (web/src/shared/blocks.js):
// the pieces must convert to exactly the HTML of the whole document, whatever constructs run
// across the places where a document could be cut. Runs under node with the pinned marked.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { headingLines, pieceConverter, splitMarkdownBlocks } from '../../web/src/shared/blocks.js';
import { mathExtension } from '../../web/src/shared/math.js';

const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(path.join(here, '../../web/package.json'));
const marked = require('marked');

const makeParser = () => new marked.Marked({ gfm: true, breaks: false, async: false }).use(mathExtension());

// Every construct that may hold blank lines or column-0 text, each followed by prose, repeated
// so that small pieces cut the document in many places.
const SECTION = (n) => `## Section ${n}

Prose with a [reference link][ref-${n}] defined at the very end, and [another][shared].

- a loose list item

- another item, after a blank line
  continued

1. ordered
2. list

\`\`\`python
# not a heading inside code

def f():
    return ${n}
\`\`\`

~~~~
\`\`\`
still code
~~~~

<!-- a comment

# not a heading inside a comment
-->

<details>
<summary>More</summary>

Markdown inside an HTML block, after a blank line.

</details>

$$
a_${n} = b

# not a heading inside display mathematics
$$

\\begin{align}
x &= y

z &= w
\\end{align}

> a quotation
>
> over two paragraphs

| a | b |
|---|---|
| ${n} | $x$ |

Setext heading ${n}
-------------------

    indented code

    after a blank line

Text closing section ${n}.
`;

function documentOf(sections) {
  let text = '# Title\n\n';
  for (let n = 0; n < sections; n += 1) text += `${SECTION(n)}\n`;
  for (let n = 0; n < sections; n += 1) text += `[ref-${n}]: https://example.com/${n} "Title ${n}"\n`;
  return `${text}[shared]:\n  https://example.com/shared\n`;
}

test('pieces put back together are the document', () => {
  const text = documentOf(6).replace(/\n/g, (_, i) => (i % 7 ? '\n' : '\r\n'));
  const pieces = splitMarkdownBlocks(text, { firstSize: 40, size: 120 });
  assert.ok(pieces.length > 20, `only ${pieces.length} pieces`);
  assert.equal(pieces.join(''), text.replace(/\r\n?/g, '\n'));
});

test('converted piece by piece, a document gives the HTML of the whole', () => {
  const text = documentOf(8);
  const whole = makeParser().parse(text);
  assert.match(whole, /href="https:\/\/example.com\/3" title="Title 3"/, 'the fixture uses reference links');
  // Pieces of one character are cut at every place the splitter allows.
  for (const sizes of [{ firstSize: 1, size: 1 }, { firstSize: 200, size: 700 }, { firstSize: 8000, size: 16000 }]) {
    const pieces = splitMarkdownBlocks(text, sizes);
    const convert = pieceConverter(marked, text, makeParser);
    assert.equal(pieces.map(convert).join(''), whole, `pieces of ${JSON.stringify(sizes)}`);
  }
});

test('the heading lines found without converting are the ATX headings marked finds', () => {
  const text = documentOf(5);
  const atx = makeParser()
    .lexer(text)
    .filter((token) => token.type === 'heading' && /^ {0,3}#/.test(token.raw))
    .map((token) => token.raw.trim());
  assert.equal(atx.length, 6, 'the fixture has a title and one ATX heading per section');
  // Not the lines inside code, comments or mathematics that look like headings.
  assert.deepEqual(headingLines(text.replace(/\n/g, '\r\n')), atx);
});
