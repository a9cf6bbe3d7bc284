// YAML front matter ("---" … "---" at the very top of a Markdown file), shown as GitHub shows
// it: a compact table with the keys as headers and the values beneath.
//
//   splitFrontMatter(markdown) -> {frontMatter: string|null, body: string}
//   parseFrontMatter(text) -> [[key, value], …] or null when the text is not a mapping in the
//       YAML subset below; values are strings, arrays of values or {entries: [[key, value], …]}
//   frontMatterElement(doc, text) -> Element: the table, or the text as a code block when it
//       cannot be read as a mapping
//
// The subset: block mappings and sequences by indentation, plain, single- and double-quoted
// scalars, literal (|) and folded (>) block scalars, flow sequences of scalars, comments.
// Entries are kept as arrays, never as object properties, so keys like "__proto__" are plain
// text; everything reaches the page as text nodes, never as markup.

const OPENING = /^\uFEFF?---[ \t]*\r?\n/;
const CLOSING = /^(?:---|\.\.\.)[ \t]*$/;
const MAX_DEPTH = 24;

export function splitFrontMatter(markdown) {
  const text = String(markdown ?? '');
  const opening = OPENING.exec(text);
  if (!opening) return { frontMatter: null, body: text };
  const lines = text.slice(opening[0].length).split('\n');
  let offset = opening[0].length;
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i].replace(/\r$/, '');
    if (CLOSING.test(line)) {
      if (i === 0) return { frontMatter: null, body: text };
      return {
        frontMatter: lines.slice(0, i).join('\n').replace(/\r/g, ''),
        body: text.slice(offset + lines[i].length + 1),
      };
    }
    offset += lines[i].length + 1;
  }
  return { frontMatter: null, body: text };
}

class YamlSubsetError extends Error {}

const indentOf = (line) => line.length - line.trimStart().length;
const isBlank = (line) => /^\s*(?:#.*)?$/.test(line);

function unquote(text) {
  if (text.startsWith("'")) {
    if (!/'$/.test(text) || text.length < 2) throw new YamlSubsetError('unterminated quote');
    return text.slice(1, -1).replace(/''/g, "'");
  }
  if (text.startsWith('"')) {
    if (!/"$/.test(text) || text.length < 2) throw new YamlSubsetError('unterminated quote');
    try {
      return JSON.parse(text);
    } catch {
      return text.slice(1, -1);
    }
  }
  return text;
}

const QUOTED = /^(?:"(?:[^"\\]|\\.)*"|'(?:[^']|'')*')/;

// A scalar or flow sequence on one line, without its trailing comment.
function inlineValue(text) {
  let value = text.trim();
  if (value.startsWith('"') || value.startsWith("'")) {
    const quoted = QUOTED.exec(value);
    if (!quoted || !/^\s*(?:#.*)?$/.test(value.slice(quoted[0].length))) throw new YamlSubsetError('unterminated quote');
    return unquote(quoted[0]);
  }
  value = value.replace(/\s+#.*$/, '');
  if (value.startsWith('[') && value.endsWith(']')) {
    const inner = value.slice(1, -1).trim();
    const items = inner.match(/\s*(?:"(?:[^"\\]|\\.)*"|'(?:[^']|'')*'|[^,]*)\s*(?:,|$)/g) ?? [];
    return inner ? items.filter((item) => item !== '').map((item) => unquote(item.replace(/,$/, '').trim())) : [];
  }
  return value;
}

// "key: value" -> [key, rest] (rest may be empty), or null.
function splitKey(text) {
  const quoted = /^("(?:[^"\\]|\\.)*"|'(?:[^']|'')*')\s*:(?:\s+|$)/.exec(text);
  if (quoted) return [unquote(quoted[1]), text.slice(quoted[0].length)];
  const plain = /^([^\s#'"\[\]{},:-][^#:]*?|-[^\s#:][^#:]*?)\s*:(?:\s+|$)/.exec(text);
  return plain ? [plain[1], text.slice(plain[0].length)] : null;
}

class Reader {
  constructor(text) {
    this.lines = text.split('\n');
    this.index = 0;
  }

  skipBlank() {
    while (this.index < this.lines.length && isBlank(this.lines[this.index])) this.index += 1;
  }

  // The node that starts at the next non-blank line if it is indented at least `minIndent`.
  node(minIndent, depth) {
    if (depth > MAX_DEPTH) throw new YamlSubsetError('nested too deeply');
    this.skipBlank();
    if (this.index >= this.lines.length) return '';
    const line = this.lines[this.index];
    const indent = indentOf(line);
    if (indent < minIndent) return '';
    return /^-(?:\s|$)/.test(line.trimStart()) ? this.sequence(indent, depth) : this.mapping(indent, depth);
  }

  // A block scalar's lines (| keeps line breaks, > folds them into spaces).
  blockScalar(style, parentIndent) {
    const collected = [];
    let indent = null;
    while (this.index < this.lines.length) {
      const line = this.lines[this.index];
      if (line.trim() === '') {
        collected.push('');
        this.index += 1;
        continue;
      }
      const lineIndent = indentOf(line);
      if (lineIndent <= parentIndent) break;
      if (indent === null) indent = lineIndent;
      collected.push(line.slice(Math.min(indent, lineIndent)));
      this.index += 1;
    }
    while (collected.length && collected[collected.length - 1] === '') collected.pop();
    return style.startsWith('|') ? collected.join('\n') : collected.join(' ').replace(/ {2,}/g, ' ');
  }

  // The value after "key:" or "- ", given the text after it on the same line.
  value(rest, ownIndent, depth) {
    const trimmed = rest.trim();
    if (/^[|>][+-]?\s*(?:#.*)?$/.test(trimmed)) return this.blockScalar(trimmed, ownIndent);
    if (trimmed === '' || trimmed.startsWith('#')) {
      // A nested block, or a sequence at the key's own indentation (YAML allows both).
      this.skipBlank();
      const next = this.lines[this.index];
      if (next !== undefined && indentOf(next) === ownIndent && /^-(?:\s|$)/.test(next.trimStart())) {
        return this.sequence(ownIndent, depth + 1);
      }
      return this.node(ownIndent + 1, depth + 1);
    }
    return inlineValue(trimmed);
  }

  mapping(indent, depth) {
    const entries = [];
    for (;;) {
      this.skipBlank();
      if (this.index >= this.lines.length) break;
      const line = this.lines[this.index];
      const lineIndent = indentOf(line);
      if (lineIndent < indent) break;
      if (lineIndent > indent) throw new YamlSubsetError(`unexpected indentation on line ${this.index + 1}`);
      const pair = splitKey(line.trim());
      if (!pair) throw new YamlSubsetError(`line ${this.index + 1} is not "key: value"`);
      this.index += 1;
      entries.push([pair[0], this.value(pair[1], indent, depth)]);
    }
    return { entries };
  }

  sequence(indent, depth) {
    const items = [];
    for (;;) {
      this.skipBlank();
      if (this.index >= this.lines.length) break;
      const line = this.lines[this.index];
      const lineIndent = indentOf(line);
      if (lineIndent !== indent || !/^-(?:\s|$)/.test(line.trimStart())) break;
      const rest = line.trimStart().slice(1);
      const itemIndent = indent + 1 + (rest.length - rest.trimStart().length);
      if (splitKey(rest.trim())) {
        // "- key: value" starts a mapping whose keys line up with "key".
        this.lines[this.index] = ' '.repeat(itemIndent) + rest.trimStart();
        items.push(this.mapping(itemIndent, depth + 1));
      } else {
        this.index += 1;
        items.push(this.value(rest, indent, depth));
      }
    }
    return items;
  }
}

export function parseFrontMatter(text) {
  try {
    const reader = new Reader(String(text ?? '').replace(/\t/g, '  '));
    reader.skipBlank();
    if (reader.index >= reader.lines.length) return [];
    if (indentOf(reader.lines[reader.index]) !== 0) return null;
    const root = reader.node(0, 0);
    reader.skipBlank();
    if (reader.index < reader.lines.length || !root || !Array.isArray(root.entries)) return null;
    return root.entries;
  } catch (error) {
    if (error instanceof YamlSubsetError) return null;
    throw error;
  }
}

// Nested values as one line of text: lists comma-separated, mappings as {key: value, …}.
export function compactText(value) {
  if (typeof value === 'string') return value;
  if (Array.isArray(value)) return value.map((item) => (typeof item === 'string' ? item : compactText(item))).join(', ');
  if (value && Array.isArray(value.entries)) {
    return `{${value.entries.map(([key, item]) => `${key}: ${compactText(item)}`).join(', ')}}`;
  }
  return '';
}

export function frontMatterElement(doc, text) {
  const entries = parseFrontMatter(text);
  if (!entries) {
    const pre = doc.createElement('pre');
    pre.className = 'lumivale-front-matter lumivale-front-matter-text';
    const code = doc.createElement('code');
    code.className = 'language-yaml';
    code.textContent = text;
    pre.appendChild(code);
    return pre;
  }
  const table = doc.createElement('table');
  table.className = 'lumivale-front-matter';
  const head = table.createTHead().insertRow();
  const body = table.createTBody().insertRow();
  for (const [key, value] of entries) {
    const th = doc.createElement('th');
    th.textContent = key;
    head.appendChild(th);
    const td = body.insertCell();
    td.textContent = compactText(value);
    if (typeof value !== 'string') td.className = 'lumivale-front-matter-nested';
  }
  return table;
}
