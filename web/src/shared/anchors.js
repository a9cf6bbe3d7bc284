// Heading anchors and in-document links, as on GitHub.
//
//   headingSlug(text) -> the slug GitHub gives a heading with this text (github-slugger: lower
//       case, punctuation and symbols dropped, letters, marks and numbers of any script kept,
//       spaces to hyphens)
//   uniqueSlug(base, usedIds) -> base, or base-1, base-2 … : the first not in usedIds (added)
//   isolateDocumentIds(root, usedIds): prefixes every id and name a document wrote itself with
//       "user-content-" (as GitHub does), so that no document element can stand in for the
//       page's own elements (getElementById) or for a global (named access on window)
//   addHeadingAnchors(root, {idPrefix, usedIds}): gives every heading its slug as id and a
//       link mark to itself; run after isolateDocumentIds on a sanitized fragment
//   installFragmentNavigation(doc, container): makes "#name" links, and the page's own URL
//       fragment, reach "name" or, failing that, "user-content-name"
//
// Ids: a heading's id is its plain slug, so `[see](#install)`, a URL ending in #install and the
// panel's fragment links reach it without any script. Only slugs that fall into the page's own
// id namespaces (lumivale-…, nbv-…) take the "user-content-" prefix; links to them still work
// through installFragmentNavigation.

import { slug } from 'github-slugger';

const USER_CONTENT = 'user-content-';
const PAGE_NAMESPACE = /^(?:lumivale|nbv)(?:-|$)/;
// Ids the page's own Markdown extensions write (footnotes): not identifiers, not page ids.
const GENERATED_ID = /^(?:[\w-]*-)?fn(?:ref)?-[\w-]+$/;

const LINK_ICON =
  '<svg class="octicon octicon-link" viewBox="0 0 16 16" width="16" height="16" aria-hidden="true" fill="currentColor"><path d="m7.775 3.275 1.25-1.25a3.5 3.5 0 1 1 4.95 4.95l-2.5 2.5a3.5 3.5 0 0 1-4.95 0 .751.751 0 0 1 .018-1.042.751.751 0 0 1 1.042-.018 1.998 1.998 0 0 0 2.83 0l2.5-2.5a2.002 2.002 0 0 0-2.83-2.83l-1.25 1.25a.751.751 0 0 1-1.042-.018.751.751 0 0 1-.018-1.042Zm-4.69 9.64a1.998 1.998 0 0 0 2.83 0l1.25-1.25a.751.751 0 0 1 1.042.018.751.751 0 0 1 .018 1.042l-1.25 1.25a3.5 3.5 0 1 1-4.95-4.95l2.5-2.5a3.5 3.5 0 0 1 4.95 0 .751.751 0 0 1-.018 1.042.751.751 0 0 1-1.042.018 1.998 1.998 0 0 0-2.83 0l-2.5 2.5a1.998 1.998 0 0 0 0 2.83Z"></path></svg>';

export const headingSlug = (text) => slug(String(text ?? ''));

export function uniqueSlug(base, usedIds) {
  let id = base;
  for (let n = 1; usedIds.has(id); n += 1) id = `${base}-${n}`;
  usedIds.add(id);
  return id;
}

export function isolateDocumentIds(root, usedIds = new Set()) {
  for (const element of root.querySelectorAll('[id], [name]')) {
    for (const attribute of ['id', 'name']) {
      let value = element.getAttribute(attribute);
      if (value === null) continue;
      const generated = attribute === 'id' && GENERATED_ID.test(value) && !PAGE_NAMESPACE.test(value);
      if (!value.startsWith(USER_CONTENT) && !generated) {
        value = USER_CONTENT + value;
        element.setAttribute(attribute, value);
      }
      // Headings numbered later keep clear of the document's own ids.
      if (attribute === 'id') usedIds.add(value);
    }
  }
}

// Parts of a heading that are not its words: the link mark, KaTeX's hidden MathML and the
// placeholders of images that are not shown (an image's text is not a heading's on GitHub).
const NOT_WORDS = '.lumivale-heading-anchor, .katex-mathml, .lumivale-image-placeholder';

const ELEMENT_NODE = 1;
const TEXT_NODE = 3;
const CDATA_SECTION_NODE = 4;

// The heading's text nodes in document order, leaving out those parts. Read in place: headings
// are read for their anchors, slugs and outline entries, and copying each costs more.
function headingWords(heading, { shortcodes = false } = {}) {
  if (!heading.firstElementChild) return heading.textContent;
  let words = '';
  let node = heading.firstChild;
  while (node) {
    let inside = false;
    if (node.nodeType === TEXT_NODE || node.nodeType === CDATA_SECTION_NODE) {
      words += node.data;
    } else if (node.nodeType === ELEMENT_NODE && !node.matches(NOT_WORDS)) {
      if (shortcodes && node.matches('.lumivale-emoji[data-shortcode]')) words += `:${node.dataset.shortcode}:`;
      else inside = Boolean(node.firstChild);
    }
    if (inside) {
      node = node.firstChild;
      continue;
    }
    while (node !== heading && !node.nextSibling) node = node.parentNode;
    node = node === heading ? null : node.nextSibling;
  }
  return words;
}

// The heading's text as a reader sees it, on one line.
export const headingText = (heading) => headingWords(heading).replace(/\s+/g, ' ').trim();

// The text GitHub slugs: emoji written as shortcodes count as their shortcode (":tada:" gives
// "tada"), as GitHub makes anchors before it replaces shortcodes.
const slugSource = (heading) => headingWords(heading, { shortcodes: true });

// The link mark's icon, parsed once (Markdown is built in a fresh inert document each time;
// a clone is adopted by whichever document it is appended to).
let parsedIcons = null;
function linkIcon() {
  if (!parsedIcons) {
    const template = document.createElement('template');
    template.innerHTML = LINK_ICON;
    parsedIcons = template.content;
  }
  return parsedIcons;
}

export function addHeadingAnchors(root, { idPrefix = '', usedIds = new Set() } = {}) {
  const doc = root.ownerDocument || document;
  for (const heading of root.querySelectorAll('h1, h2, h3, h4, h5, h6')) {
    if (heading.querySelector(':scope > .lumivale-heading-anchor')) continue;
    // A heading's own id from the document (already isolated) stays reachable on an empty mark.
    if (heading.id) {
      const mark = doc.createElement('span');
      mark.id = heading.id;
      heading.prepend(mark);
    }
    let base = `${idPrefix}${headingSlug(slugSource(heading)) || 'section'}`;
    if (PAGE_NAMESPACE.test(base)) base = USER_CONTENT + base;
    heading.id = uniqueSlug(base, usedIds);
    const anchor = doc.createElement('a');
    anchor.className = 'anchor lumivale-heading-anchor';
    anchor.href = `#${heading.id}`;
    anchor.setAttribute('aria-label', `Link to this section: ${headingText(heading)}`);
    anchor.appendChild(linkIcon().cloneNode(true));
    heading.prepend(anchor);
  }
}

// The element a fragment names inside the container: the id itself, or the document's own
// (prefixed) id. Percent-encoded fragments (non-ASCII slugs in a URL) are decoded first.
export function fragmentTarget(doc, container, fragment) {
  let name = String(fragment ?? '').replace(/^#/, '');
  if (!name) return null;
  try {
    name = decodeURIComponent(name);
  } catch {
    // Not percent-encoded text: use as written.
  }
  for (const id of [name, USER_CONTENT + name]) {
    const found = doc.getElementById(id);
    if (found && container.contains(found)) return found;
  }
  return null;
}

function scrollToTarget(target) {
  target.scrollIntoView({ block: 'start' });
  if (target.matches('h1, h2, h3, h4, h5, h6') || target.tabIndex >= 0) return;
  // Move keyboard focus along (without scrolling again) so Tab continues from the target.
  target.setAttribute('tabindex', '-1');
  target.focus({ preventScroll: true });
}

export function installFragmentNavigation(doc, container) {
  const view = doc.defaultView;
  container.addEventListener('click', (event) => {
    if (event.defaultPrevented || event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey) return;
    const link = event.target.closest?.('a[href^="#"]');
    if (!link || !container.contains(link)) return;
    const target = fragmentTarget(doc, container, link.getAttribute('href'));
    if (!target) return;
    event.preventDefault();
    const hash = `#${target.id}`;
    if (view.location.hash !== hash) {
      try {
        view.history.pushState(null, '', hash);
      } catch {
        // Pages without a history (some embedded views) still scroll.
      }
    }
    scrollToTarget(target);
  });
  const followHash = () => {
    const target = fragmentTarget(doc, container, view.location.hash);
    if (target) scrollToTarget(target);
  };
  view.addEventListener('hashchange', followHash);
  // The URL's fragment was looked up before the content existed: go there now.
  if (view.location.hash) followHash();
}
