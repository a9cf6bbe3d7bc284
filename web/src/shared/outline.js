// The outline of a long document: its headings as a side column beside the text, marking the
// section being read (IntersectionObserver) and jumping to a heading on click. On narrow windows
// it sits folded above the text behind a toggle button; it never lies over the text.
//
//   wantsOutline(headings, content) -> boolean: at least MIN_HEADINGS headings in a document
//       taller than MIN_SCREENS window heights
//   outlineFrame(doc, content, label) -> the empty outline column (a <nav> with its toggle),
//       placed right after `content`; the page's <body> gets the class lumivale-with-outline
//       (see reading.css for the layout). A page that expects an outline makes the frame before
//       its text is shown, so that the text is laid out at its final width from the start.
//   removeOutlineFrame(frame): takes the column away again
//   buildOutline({doc, content, headings, label, frame}) -> {element, update(), settle(headings),
//       remove()} | null
//       Fills the frame (made now if not given). Entries are made by the page from the
//       headings' text (never from document markup) and link to the headings' ids. The headings
//       may be detached stand-ins made from the Markdown (a long document still being built);
//       settle(shownHeadings) then takes the headings that were shown in their place, and
//       returns false when they differ (the caller builds the outline again after remove()).

import { headingText } from './anchors.js';

export const MIN_HEADINGS = 3;
const MIN_SCREENS = 1.5;
// A heading is "being read" once it has crossed this fraction of the window from its top.
const READING_LINE = 0.25;
const NARROW = '(max-width: 1011px)';

export function wantsOutline(headings, content) {
  const view = content.ownerDocument.defaultView;
  return headings.length >= MIN_HEADINGS && content.scrollHeight > view.innerHeight * MIN_SCREENS;
}

// The last heading whose top is above the reading line (headings are in document order).
function headingBeingRead(headings, line) {
  let low = 0;
  let high = headings.length - 1;
  let found = -1;
  while (low <= high) {
    const middle = (low + high) >> 1;
    if (headings[middle].getBoundingClientRect().top <= line) {
      found = middle;
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return Math.max(found, 0);
}

function setExpanded(nav, toggle, expanded) {
  toggle.setAttribute('aria-expanded', String(expanded));
  nav.classList.toggle('lumivale-outline-collapsed', !expanded);
  nav.ownerDocument.body.classList.toggle('lumivale-outline-folded', !expanded);
}

export function outlineFrame(doc, content, label = 'Outline') {
  const view = doc.defaultView;
  const nav = doc.createElement('nav');
  nav.className = 'lumivale-outline';
  nav.setAttribute('aria-label', label);
  const toggle = doc.createElement('button');
  toggle.type = 'button';
  toggle.className = 'lumivale-outline-toggle';
  toggle.setAttribute('aria-controls', 'lumivale-outline-list');
  toggle.textContent = label;
  const list = doc.createElement('ol');
  list.id = 'lumivale-outline-list';
  list.className = 'lumivale-outline-list';
  nav.append(toggle, list);
  const narrow = view.matchMedia?.(NARROW);
  setExpanded(nav, toggle, !narrow?.matches);
  toggle.addEventListener('click', () => setExpanded(nav, toggle, toggle.getAttribute('aria-expanded') !== 'true'));
  narrow?.addEventListener?.('change', (event) => setExpanded(nav, toggle, !event.matches));
  content.after(nav);
  doc.body.classList.add('lumivale-with-outline');
  return { nav, list };
}

export function removeOutlineFrame({ nav }) {
  nav.ownerDocument.body.classList.remove('lumivale-with-outline', 'lumivale-outline-folded');
  nav.remove();
}

// Headings as the outline compares them: level, id and text.
const headingKey = (heading) => `${heading.tagName}#${heading.id}#${headingText(heading)}`;

export function buildOutline({ doc = document, content, headings, label = 'Outline', frame = null }) {
  const view = doc.defaultView;
  // `listed` may first hold stand-ins for headings not shown yet (see settle below).
  const listed = headings.filter((heading) => heading.id && headingText(heading));
  if (!listed.length) {
    if (frame) removeOutlineFrame(frame);
    return null;
  }
  const topLevel = Math.min(...listed.map((heading) => Number(heading.tagName[1])));
  const { nav, list } = frame ?? outlineFrame(doc, content, label);

  const links = listed.map((entry, index) => {
    const item = doc.createElement('li');
    item.className = `lumivale-outline-level-${Math.min(Number(entry.tagName[1]) - topLevel + 1, 4)}`;
    const link = doc.createElement('a');
    link.href = `#${encodeURIComponent(entry.id)}`;
    link.textContent = headingText(entry);
    link.addEventListener('click', (event) => {
      const heading = listed[index];
      if (event.button !== 0 || event.metaKey || event.ctrlKey || event.shiftKey) return;
      // A heading not shown yet: the link sets the URL's fragment, which the page follows once
      // the whole document is in.
      if (!heading.isConnected) return;
      event.preventDefault();
      try {
        if (view.location.hash !== `#${heading.id}`) view.history.pushState(null, '', `#${heading.id}`);
      } catch {
        // No history in some embedded views: the jump still happens.
      }
      heading.scrollIntoView({ block: 'start' });
      heading.setAttribute('tabindex', '-1');
      heading.focus({ preventScroll: true });
      markCurrent(index);
    });
    item.appendChild(link);
    list.appendChild(item);
    return link;
  });

  let current = -1;
  function markCurrent(index) {
    if (index === current) return;
    links[current]?.removeAttribute('aria-current');
    current = index;
    const link = links[current];
    if (!link) return;
    link.setAttribute('aria-current', 'location');
    // Keep the entry in sight inside the outline's own scroll area (never scrolls the page).
    if (list.scrollHeight > list.clientHeight) {
      const top = link.offsetTop - list.offsetTop;
      if (top < list.scrollTop || top + link.offsetHeight > list.scrollTop + list.clientHeight) {
        list.scrollTop = top - list.clientHeight / 3;
      }
    }
  }
  const shown = () => listed.every((heading) => heading.isConnected);
  const update = () => {
    if (shown()) markCurrent(headingBeingRead(listed, view.innerHeight * READING_LINE));
  };

  // Headings crossing the reading line are what changes the section being read.
  let pending = false;
  const observer = new view.IntersectionObserver(
    () => {
      if (pending) return;
      pending = true;
      view.requestAnimationFrame(() => {
        pending = false;
        update();
      });
    },
    { rootMargin: `0px 0px -${100 - READING_LINE * 100}% 0px` },
  );
  const watch = () => listed.forEach((heading) => observer.observe(heading));
  // Until the headings are shown the reader is at the top of the document.
  if (shown()) {
    watch();
    update();
  } else {
    markCurrent(0);
  }

  // Swaps the stand-ins for the headings now shown. True when they match entry for entry (the
  // entries stay as they are); false when the outline must be built again from `shownHeadings`.
  const settle = (shownHeadings) => {
    const actual = shownHeadings.filter((heading) => heading.id && headingText(heading));
    if (actual.length !== listed.length || actual.some((heading, i) => headingKey(heading) !== headingKey(listed[i]))) {
      return false;
    }
    listed.splice(0, listed.length, ...actual);
    watch();
    update();
    return true;
  };
  const remove = () => {
    observer.disconnect();
    list.replaceChildren();
  };
  return { element: nav, update, settle, remove };
}
