// Cuts a long Markdown text into runs of whole top-level blocks, so that a large document can be
// converted and shown a piece at a time and still read exactly as if converted whole.
//
//   splitMarkdownBlocks(text, {firstSize, size}) -> [string] whose concatenation is the text
//       (line ends normalised to "\n"); each piece but the last holds at least `size`
//       characters (the first at least `firstSize`), and every cut lies where no block can run on:
//       at a line that follows a blank line, starts at column 0 and is not a list item, outside
//       fenced code, display mathematics, HTML comments and open raw HTML elements.
//   linkDefinitionLines(text) -> the reference-link definition lines (with a title on the next
//       line), outside fenced code: converting them first lets a link find its definition even
//       when the definition comes in a later piece.

const FENCE = /^ {0,3}(`{3,}|~{3,})/;
const LIST_ITEM = /^(?:[-*+]|\d{1,9}[.)])(?:[ \t]|$)/;
const HTML_OPEN = /<([A-Za-z][\w-]*)\b[^>]*?(\/?)>/g;
const HTML_CLOSE = /<\/([A-Za-z][\w-]*)\s*>/g;
const VOID_ELEMENTS = new Set([
  'area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link', 'meta', 'source', 'track', 'wbr',
]);
const LINK_DEFINITION = /^ {0,3}\[(?!\^)(?:\\.|[^\\\]])+\]:/;
const DEFINITION_TITLE = /^[ \t]+["'(]/;

// Line-by-line state of the constructs that may hold blank lines and column-0 text.
function blockScanner() {
  let fence = null; // the opening run of ` or ~ while inside fenced code
  let inComment = false;
  let inMath = false;
  let inEnvironment = false;
  let htmlDepth = 0;

  return {
    // Feeds one line; true when the line lies inside fenced code.
    line(line) {
      if (fence) {
        const match = FENCE.exec(line);
        if (match && match[1][0] === fence[0] && match[1].length >= fence.length && !line.slice(match[0].length).trim()) {
          fence = null;
        }
        return true;
      }
      if (inComment) {
        if (line.includes('-->')) inComment = false;
        return false;
      }
      const opening = FENCE.exec(line);
      if (opening && !(opening[1][0] === '`' && line.slice(opening[0].length).includes('`'))) {
        fence = opening[1];
        return true;
      }
      const comment = line.lastIndexOf('<!--');
      if (comment >= 0 && line.indexOf('-->', comment + 4) < 0) inComment = true;
      if (((line.match(/\$\$/g) || []).length & 1) === 1) inMath = !inMath;
      if (/\\begin\{/.test(line) && !/\\end\{/.test(line)) inEnvironment = true;
      else if (inEnvironment && /\\end\{/.test(line)) inEnvironment = false;
      if (line.includes('<')) {
        for (const [, name, selfClosing] of line.matchAll(HTML_OPEN)) {
          if (!selfClosing && !VOID_ELEMENTS.has(name.toLowerCase())) htmlDepth += 1;
        }
        htmlDepth = Math.max(0, htmlDepth - (line.match(HTML_CLOSE) || []).length);
      }
      return false;
    },
    // True when a new top-level block may start at the line about to be fed.
    mayCutBefore(line, previousBlank) {
      return (
        previousBlank && !fence && !inComment && !inMath && !inEnvironment && htmlDepth === 0 &&
        line.length > 0 && !/^\s/.test(line) && !LIST_ITEM.test(line)
      );
    },
  };
}

export function splitMarkdownBlocks(text, { firstSize = 8000, size = 16000 } = {}) {
  const lines = String(text).replace(/\r\n?/g, '\n').split('\n');
  const scanner = blockScanner();
  const pieces = [];
  let start = 0;
  let length = 0;
  let previousBlank = false;
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    const wanted = pieces.length === 0 ? firstSize : size;
    if (length >= wanted && scanner.mayCutBefore(line, previousBlank)) {
      pieces.push(`${lines.slice(start, i).join('\n')}\n`);
      start = i;
      length = 0;
    }
    scanner.line(line);
    length += line.length + 1;
    previousBlank = !line.trim();
  }
  pieces.push(lines.slice(start).join('\n'));
  return pieces;
}

export function linkDefinitionLines(text) {
  const lines = String(text).replace(/\r\n?/g, '\n').split('\n');
  const scanner = blockScanner();
  const found = [];
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    if (scanner.line(line) || !LINK_DEFINITION.test(line)) continue;
    found.push(DEFINITION_TITLE.test(lines[i + 1] ?? '') ? `${line}\n${lines[i + 1]}` : line);
  }
  return found.join('\n\n');
}
