// Cuts a long Markdown text into runs of whole top-level blocks, so that a large document can be
// converted and shown a piece at a time and still read exactly as if converted whole.
//
//   markdownPieces(text, {firstSize, size}) -> generator of the pieces below, one at a time
//   splitMarkdownBlocks(text, {firstSize, size}) -> [string] whose concatenation is the text
//       (line ends normalised to "\n"); each piece but the last holds at least `size`
//       characters (the first at least `firstSize`), and every cut lies where no block can run on:
//       at a line that follows a blank line, starts at column 0 and is not a list item, outside
//       fenced code, display mathematics, HTML comments and open raw HTML elements.
//   linkDefinitionLines(text) -> the reference-link definitions (with the indented lines that
//       may carry their destination and title), outside fenced code: converting them first lets a link find its definition even
//       when the definition comes in a later piece.
//   headingLines(text) -> the ATX heading lines ("## Title") that start a top-level block, outside
//       fenced code, HTML comments and display mathematics, in document order
//   eachHeadingLine(text) -> the same lines one at a time, reading the text only as far as asked
//   pieceConverter(library, text, makeParser) -> (piece) => HTML: converts the pieces of `text`
//       with one parser (from makeParser(), a marked instance) whose reference-link definitions
//       are shared by every piece and known before the first.

const FENCE = /^ {0,3}(`{3,}|~{3,})/;
const LIST_ITEM = /^(?:[-*+]|\d{1,9}[.)])(?:[ \t]|$)/;
const HTML_OPEN = /<([A-Za-z][\w-]*)\b[^>]*?(\/?)>/g;
const HTML_CLOSE = /<\/([A-Za-z][\w-]*)\s*>/g;
const VOID_ELEMENTS = new Set([
  'area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'link', 'meta', 'source', 'track', 'wbr',
]);
const LINK_DEFINITION = /^ {0,3}\[(?!\^)(?:\\.|[^\\\]])+\]:/;
const DEFINITION_CONTINUATION = /^[ \t]+\S/;

// Line ends as "\n" only; most texts have no other kind, and are taken as they are.
const withNewlines = (text) => (text.includes('\r') ? text.replace(/\r\n?/g, '\n') : text);

// Fences (` ~), comments and raw HTML (<), display mathematics ($$) and environments (\\begin).
const STATE_CHARACTERS = /[`~<$\\]/;

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
      // Most lines are prose, with none of the characters that open or close the states below.
      if (!STATE_CHARACTERS.test(line)) return false;
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
    // True while the lines fed are code, a comment or mathematics rather than Markdown.
    opaque() {
      return Boolean(fence) || inComment || inMath || inEnvironment;
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

// Pieces one at a time (the first is ready without reading the rest of the text).
export function* markdownPieces(text, { firstSize = 8000, size = 16000 } = {}) {
  const source = withNewlines(String(text));
  const scanner = blockScanner();
  let first = true;
  let start = 0;
  let previousBlank = false;
  for (let at = 0; at < source.length; ) {
    const newline = source.indexOf('\n', at);
    const end = newline < 0 ? source.length : newline;
    const line = source.slice(at, end);
    if (at - start >= (first ? firstSize : size) && scanner.mayCutBefore(line, previousBlank)) {
      yield source.slice(start, at);
      start = at;
      first = false;
    }
    scanner.line(line);
    previousBlank = !line.trim();
    at = end + 1;
  }
  yield source.slice(start);
}

const ATX_HEADING = /^ {0,3}#{1,6}(?:[ \t]|$)/;

export function* eachHeadingLine(text) {
  const source = withNewlines(String(text));
  const scanner = blockScanner();
  for (let at = 0; at < source.length; ) {
    const newline = source.indexOf('\n', at);
    const end = newline < 0 ? source.length : newline;
    const line = source.slice(at, end);
    const heading = line.includes('#') && !scanner.opaque() && ATX_HEADING.test(line);
    scanner.line(line);
    at = end + 1;
    if (heading) yield line;
  }
}

export function headingLines(text) {
  return [...eachHeadingLine(text)];
}

export function splitMarkdownBlocks(text, sizes) {
  return [...markdownPieces(text, sizes)];
}

export function linkDefinitionLines(text) {
  const lines = withNewlines(String(text)).split('\n');
  const scanner = blockScanner();
  const found = [];
  for (let i = 0; i < lines.length; i += 1) {
    const line = lines[i];
    if (scanner.line(line) || !LINK_DEFINITION.test(line)) continue;
    // The destination and the title may each stand on a line of their own.
    let definition = line;
    for (let next = i + 1; next <= i + 2 && next < lines.length && DEFINITION_CONTINUATION.test(lines[next]); next += 1) {
      definition += `\n${lines[next]}`;
    }
    found.push(definition);
  }
  return found.join('\n\n');
}

export function pieceConverter(library, text, makeParser) {
  const parser = makeParser();
  if (typeof library.Lexer !== 'function') return (piece) => parser.parse(piece);
  const links = Object.create(null);
  const lex = (source, options) => {
    const lexer = new library.Lexer(options);
    lexer.tokens.links = links;
    return lexer.lex(source);
  };
  parser.use({
    hooks: {
      provideLexer() {
        return this.block ? lex : false;
      },
    },
  });
  if (text.includes(']:') && /^ {0,3}\[[^\]\n]+\]:/m.test(text)) {
    const definitions = linkDefinitionLines(text);
    if (definitions) parser.parse(definitions);
  }
  return (piece) => parser.parse(piece);
}
