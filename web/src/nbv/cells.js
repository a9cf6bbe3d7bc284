// One notebook cell as DOM: prompts, source, Markdown, raw text and outputs.
//
//   renderCell(cell, context) -> { element, enhance: (() => Promise|void) | null }
// The element is complete and readable at once; `enhance` does the slower work (highlighting,
// mathematics, diagrams) and is run by the scheduler when the cell is near the screen.

import { resolveAttachmentReferences } from './attachments.js';
import { createCodeBlock, highlightCode } from './code.js';
import { h, notice } from './dom.js';
import { copyButton } from '../shared/copy-button.js';
import { renderOutputs } from './outputs.js';

function promptLabel(cell) {
  return `In [${cell.executionCount ?? ' '}]:`;
}

function cellSection(cell, extraClass) {
  return h('section', {
    className: `nbv-cell ${extraClass}`,
    dataset: { cellIndex: String(cell.index), cellType: cell.type },
  });
}

function renderCodeCell(cell, context, enhancers) {
  const section = cellSection(cell, 'nbv-code-cell');
  const source = createCodeBlock(cell.source, context.language);
  section.appendChild(
    h(
      'div',
      { className: 'nbv-input' },
      h('div', { className: 'nbv-prompt nbv-prompt-in', 'aria-hidden': 'true' }, promptLabel(cell)),
      h('div', { className: 'nbv-input-area' }, source, copyButton(document, () => cell.source)),
    ),
  );
  enhancers.push(() => highlightCode(source));
  const outputs = renderOutputs(cell, context);
  if (outputs) section.appendChild(outputs);
  if (cell.executionCount !== null) section.dataset.executionCount = String(cell.executionCount);
  return section;
}

function renderMarkdownCell(cell, context) {
  const section = cellSection(cell, 'nbv-markdown-cell');
  const text = resolveAttachmentReferences(cell.source, cell.attachments);
  section.appendChild(h('div', { className: 'nbv-prompt', 'aria-hidden': 'true' }));
  section.appendChild(h('div', { className: 'nbv-markdown-area' }, context.renderMarkdown(text)));
  return section;
}

function renderRawCell(cell) {
  const section = cellSection(cell, 'nbv-raw-cell');
  const format = cell.metadata && (cell.metadata.format || cell.metadata.raw_mimetype);
  section.appendChild(h('div', { className: 'nbv-prompt', 'aria-hidden': 'true' }));
  section.appendChild(
    h(
      'div',
      { className: 'nbv-raw-area' },
      typeof format === 'string' && format ? h('div', { className: 'nbv-raw-format' }, format) : null,
      h('pre', { className: 'nbv-raw' }, cell.source),
    ),
  );
  return section;
}

function renderUnknownCell(cell) {
  const section = cellSection(cell, 'nbv-unknown-cell');
  section.appendChild(h('div', { className: 'nbv-prompt', 'aria-hidden': 'true' }));
  section.appendChild(
    h('div', { className: 'nbv-raw-area' }, notice(cell.problem || 'This cell could not be read.', 'warning'), cell.source ? h('pre', { className: 'nbv-raw' }, cell.source) : null),
  );
  return section;
}

export function renderCell(cell, context) {
  const enhancers = [];
  // Markdown (cells and text/markdown outputs) reports its own deferred work.
  const cellContext = {
    ...context,
    renderMarkdown: (text) => {
      const { node, enhance } = context.renderMarkdown(text);
      if (enhance) enhancers.push(enhance);
      return node;
    },
  };
  let element;
  try {
    if (cell.type === 'code') element = renderCodeCell(cell, cellContext, enhancers);
    else if (cell.type === 'markdown') element = renderMarkdownCell(cell, cellContext);
    else if (cell.type === 'raw') element = renderRawCell(cell);
    else element = renderUnknownCell(cell);
  } catch (error) {
    element = cellSection(cell, 'nbv-unknown-cell');
    element.appendChild(notice(`This cell could not be shown (${error && error.message ? error.message : error}).`, 'warning'));
  }
  const enhance = enhancers.length
    ? async () => {
        for (const task of enhancers) {
          try {
            await task();
          } catch {
            // One failed enhancement leaves that part plain; the rest of the cell stays.
          }
        }
      }
    : null;
  return { element, enhance };
}
