// The reading aids a finished page adds around its content: front matter shown as a table, the
// outline of its headings and in-document links that reach headings and the document's anchors.
//
//   takeFrontMatter(markdown) -> {body, beforeInsert(fragment)}: the Markdown without its front
//       matter, and the step that puts the front matter's table at the top of the first
//       rendered fragment (a no-op without front matter)
//   addReadingAids(content, {label}): after the page's first screen is shown (in an idle
//       moment), builds the outline when the document is long enough, and makes fragment links
//       and the URL's fragment reach their targets

import { installFragmentNavigation } from './anchors.js';
import { frontMatterElement, splitFrontMatter } from './front-matter.js';
import { buildOutline, wantsOutline } from './outline.js';

export function takeFrontMatter(markdown) {
  const { frontMatter, body } = splitFrontMatter(markdown);
  return {
    body,
    beforeInsert(fragment) {
      if (frontMatter === null) return;
      const doc = fragment.ownerDocument || document;
      fragment.prepend(frontMatterElement(doc, frontMatter));
    },
  };
}

function whenIdle(view) {
  return new Promise((resolve) => {
    if (typeof view.requestIdleCallback === 'function') view.requestIdleCallback(() => resolve(), { timeout: 500 });
    else view.setTimeout(resolve, 50);
  });
}

export async function addReadingAids(content, { label = 'Outline' } = {}) {
  const doc = content.ownerDocument;
  const view = doc.defaultView;
  await whenIdle(view);
  const headings = [...content.querySelectorAll('h1, h2, h3, h4, h5, h6')].filter((heading) => heading.id);
  const outline = wantsOutline(headings, content) ? buildOutline({ doc, content, headings, label }) : null;
  // Last: the outline column narrows the text, which moves every heading.
  installFragmentNavigation(doc, content);
  return outline;
}
