// The Markdown preview page: reads the document embedded by the renderer, renders it into
// <article id="lumivale-content">, and marks <html data-lumivale-ready="true"> when text,
// mathematics, highlighting and diagrams are all done (also when something failed: the page
// then shows what it could).

import { redrawDiagrams } from '../shared/diagrams.js';
import { addReadingAids, cancelOutline, outlineAhead, reserveOutline, takeFrontMatter } from '../shared/reading.js';
import { headingRunsOfMarkdown, renderMarkdownInto, renderMarkdownProgressively, showPlainText } from '../shared/markdown.js';
import { installSharedStyles, onColorSchemeChange } from '../shared/theme.js';

// The renderer embeds the Markdown as one JSON string literal inside
// <script type="application/json" id="lumivale-markdown">, followed by "-->" (see the template).
function readEmbeddedMarkdown() {
  const element = document.getElementById('lumivale-markdown');
  if (!element) return '';
  const text = element.textContent.replace(/-->\s*$/, '').trim();
  if (!text) return '';
  const value = JSON.parse(text);
  return typeof value === 'string' ? value : '';
}

function markDiagramDocument(content) {
  // A Mermaid source file arrives as a document of one diagram: give it the whole page.
  const children = content.children;
  if (children.length === 1 && /lumivale-diagram/.test(children[0].className)) {
    document.body.classList.add('lumivale-diagram-document');
  }
}

// Beyond this many top-level blocks, off-screen blocks are left out of layout (content-visibility)
// so that pages with thousands of formulas or code blocks stay quick to open.
const LONG_DOCUMENT_BLOCKS = 300;

// Beyond this length a document is built a run of blocks at a time, its first screen first.
// Footnotes are numbered over the whole document, so a document with footnotes is built whole.
const PROGRESSIVE_LENGTH = 64 * 1024;
const isProgressive = (markdown) => markdown.length > PROGRESSIVE_LENGTH && !markdown.includes('[^');

async function main() {
  installSharedStyles(document);
  const content = document.getElementById('lumivale-content');
  let markdown = '';
  try {
    markdown = readEmbeddedMarkdown();
  } catch (error) {
    content.textContent = 'This document could not be read.';
    console.error('Embedded Markdown is not valid JSON:', error);
    return;
  }
  const parts = takeFrontMatter(markdown);
  const outlineFrame = reserveOutline(content, [parts.body]);
  let readingAids = null;
  try {
    if (isProgressive(markdown)) {
      content.classList.add('lumivale-long-document');
      // The outline comes with the first screen, made from the Markdown's headings while the
      // rest of the text is built; the headings shown at the end take the stand-ins' place.
      let ahead = null;
      await renderMarkdownProgressively(content, parts.body, {
        beforeInsert: parts.beforeInsert,
        afterInsert() {
          ahead = outlineAhead(content, (firstCount) => headingRunsOfMarkdown(parts.body, { firstCount }), { frame: outlineFrame });
        },
      });
      readingAids = addReadingAids(content, { frame: outlineFrame, ahead });
    } else {
      await renderMarkdownInto(content, parts.body, {
        beforeInsert(fragment) {
          if (fragment.childElementCount > LONG_DOCUMENT_BLOCKS) content.classList.add('lumivale-long-document');
          parts.beforeInsert(fragment);
        },
        // The outline comes with the first screen, not after the diagrams are drawn.
        afterInsert() {
          readingAids = addReadingAids(content, { frame: outlineFrame });
        },
      });
    }
    markDiagramDocument(content);
    await (readingAids ?? addReadingAids(content, { frame: outlineFrame }));
    onColorSchemeChange(() => {
      redrawDiagrams(content);
    });
  } catch (error) {
    console.error('Markdown rendering failed, showing plain text:', error);
    cancelOutline(outlineFrame);
    showPlainText(content, markdown);
  }
}

main().finally(() => {
  document.documentElement.dataset.lumivaleReady = 'true';
});
