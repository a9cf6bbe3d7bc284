// Mathematics: a marked extension that keeps TeX away from Markdown, and KaTeX typesetting.
//
//   mathExtension() -> marked extension: `$…$` inline, `$$…$$` display (own lines or inline),
//       \begin{equation|align|gather|multline|alignat|CD}…\end{…} blocks and ```math fences are
//       emitted as <span|div class="math math-inline|math-display"> holding the escaped TeX.
//       Inline `$` rules (as in pandoc): the opening `$` is followed by a non-space, the closing
//       `$` preceded by a non-space and not followed by a digit, so "$5 and $10" stays prose;
//       `\$` is a literal dollar.
//   typesetMath(root): renders every such element with KaTeX (errors shown inline, never
//       thrown); without KaTeX the TeX source stays readable between its delimiters.

const INLINE_DISPLAY = /^\$\$(?!\$)((?:\\[\s\S]|[^\\$]|\$(?!\$))+?)\$\$/;
const INLINE = /^\$(?![\s$])((?:\\[\s\S]|[^\\$\n]|\n(?![ \t]*\n))+?)(?<![\s\\])\$(?!\d)/;
const BLOCK_DOLLARS = /^ {0,3}\$\$((?:\\[\s\S]|[^\\$]|\$(?!\$))*?)\$\$[ \t]*(?:\n+|$)/;
const BLOCK_ENVIRONMENT =
  /^ {0,3}(\\begin\{(equation|align|alignat|gather|multline|flalign|CD)(\*?)\}[\s\S]*?\\end\{\2\3\})[ \t]*(?:\n+|$)/;

export function escapeHTML(text) {
  return String(text).replace(/[&<>"']/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', "'": '&#39;' })[c]);
}

const mathHTML = (tex, display, block) =>
  block
    ? `<div class="math math-display">${escapeHTML(tex)}</div>\n`
    : `<span class="math ${display ? 'math-display' : 'math-inline'}">${escapeHTML(tex)}</span>`;

// marked asks block extensions where they might interrupt the paragraph that starts `src`; a
// paragraph ends at the first blank line, so searching further would only make long documents
// quadratic.
export function firstParagraph(src) {
  const end = src.indexOf('\n\n');
  return end < 0 ? src : src.slice(0, end + 1);
}

// Position of the first "$" that is not escaped by a backslash, or -1.
function firstUnescapedDollar(src) {
  for (let i = src.indexOf('$'); i >= 0; i = src.indexOf('$', i + 1)) {
    let backslashes = 0;
    for (let j = i - 1; j >= 0 && src[j] === '\\'; j -= 1) backslashes += 1;
    if (backslashes % 2 === 0) return i;
  }
  return -1;
}

export function mathExtension() {
  return {
    extensions: [
      {
        name: 'blockMath',
        level: 'block',
        start(src) {
          const match = /^ {0,3}(?:\$\$|\\begin\{)/m.exec(firstParagraph(src));
          return match ? match.index : undefined;
        },
        tokenizer(src) {
          let match = BLOCK_DOLLARS.exec(src);
          if (match && match[1].trim()) {
            return { type: 'blockMath', raw: match[0], text: match[1].trim() };
          }
          match = BLOCK_ENVIRONMENT.exec(src);
          if (match) return { type: 'blockMath', raw: match[0], text: match[1].trim() };
          return undefined;
        },
        renderer: (token) => mathHTML(token.text, true, true),
      },
      {
        name: 'inlineMath',
        level: 'inline',
        start(src) {
          const index = firstUnescapedDollar(src);
          return index >= 0 ? index : undefined;
        },
        tokenizer(src) {
          let match = INLINE_DISPLAY.exec(src);
          if (match && match[1].trim()) {
            return { type: 'inlineMath', raw: match[0], text: match[1].trim(), display: true };
          }
          match = INLINE.exec(src);
          if (match) return { type: 'inlineMath', raw: match[0], text: match[1], display: false };
          return undefined;
        },
        renderer: (token) => mathHTML(token.text, token.display, false),
      },
    ],
    renderer: {
      code(token) {
        if ((token.lang || '').trim().toLowerCase() !== 'math') return false;
        return mathHTML(token.text, true, true);
      },
    },
    hooks: {
      // Keep "_" and "*" inside $…$ from pairing with emphasis delimiters outside it.
      emStrongMask(src) {
        return src.replace(/\$\$[^$]+?\$\$|\$(?![\s$])[^$\n]+?(?<![\s\\])\$(?!\d)/g, (span) =>
          span[0] + 'a'.repeat(span.length - 2) + span[span.length - 1],
        );
      },
    },
  };
}

export function typesetMath(root) {
  const elements = root.querySelectorAll('.math.math-inline, .math.math-display');
  const katex = globalThis.katex;
  for (const element of elements) {
    if (element.dataset.mathRendered) continue;
    element.dataset.mathRendered = 'true';
    const tex = element.textContent;
    const display = element.classList.contains('math-display');
    if (!katex || typeof katex.render !== 'function') {
      element.classList.add('math-source');
      element.textContent = display ? `$$${tex}$$` : `$${tex}$`;
      continue;
    }
    try {
      katex.render(tex, element, {
        displayMode: display,
        throwOnError: false,
        output: 'htmlAndMathml',
        trust: false,
        strict: 'ignore',
        maxExpand: 1000,
        maxSize: 50,
      });
    } catch (error) {
      element.classList.add('math-source');
      element.textContent = display ? `$$${tex}$$` : `$${tex}$`;
      element.title = String(error && error.message ? error.message : error);
    }
  }
}
