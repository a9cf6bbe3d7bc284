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
//   buildOutline({doc, content, headings, label, frame}) -> outline | null
//       Fills the frame (made now if not given). Entries are made by the page from the
//       headings' text (never from document markup) and link to the headings' ids. The headings
//       may be detached stand-ins made from the Markdown (a long document still being built);
//       settle(shownHeadings) then takes the headings that were shown in their place, and
//       returns false when they differ (the caller builds the outline again after remove()).
//   growingOutline({doc, content, label, frame}) -> {element, update(), add(headings),
//       refresh(headings?), settle(headings), remove(), count}: the same outline filled a run
//       of headings at a time, as the page lays them out; refresh() re-reads entries' words
//       once headings are enhanced

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
  if (!headings.some((heading) => heading.id && headingText(heading))) {
    if (frame) removeOutlineFrame(frame);
    return null;
  }
  const outline = growingOutline({ doc, content, label, frame });
  outline.add(headings);
  return outline;
}

// An outline that takes its headings as the page lays them out (in document order), so that a
// long page's column fills in with its first screen instead of after its last cell.
export function growingOutline({ doc = document, content, label = 'Outline', frame = null }) {
  const view = doc.defaultView;
  const { nav, list } = frame ?? outlineFrame(doc, content, label);
  const listed = [];
  const links = [];
  const linkOf = new Map();
  let topLevel = 7;
  const levelOf = (heading) => Math.min(Number(heading.tagName[1]) - topLevel + 1, 4);

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
  // Stand-ins are never connected; until the headings are shown the reader is at the top.
  const shown = () => listed.every((heading) => heading.isConnected);
  const update = () => {
    if (!listed.length) return;
    markCurrent(shown() ? headingBeingRead(listed, view.innerHeight * READING_LINE) : 0);
  };

  // Headings crossing the reading line are what changes the section being read. The first
  // notice for a heading only tells where it starts: headings added below the reading line,
  // as a growing page adds them, change nothing (one already above it, after a jump, does).
  let pending = false;
  const noticed = new WeakSet();
  const observer = new view.IntersectionObserver(
    (entries) => {
      let crossed = false;
      for (const { target, isIntersecting, boundingClientRect, rootBounds } of entries) {
        crossed ||= isIntersecting || noticed.has(target) || boundingClientRect.top < (rootBounds?.top ?? 0);
        noticed.add(target);
      }
      if (pending || !crossed) return;
      pending = true;
      view.requestAnimationFrame(() => {
        pending = false;
        update();
      });
    },
    { rootMargin: `0px 0px -${100 - READING_LINE * 100}% 0px` },
  );

  function entry(index, heading, text) {
    const item = doc.createElement('li');
    const link = doc.createElement('a');
    link.href = `#${encodeURIComponent(heading.id)}`;
    link.textContent = text;
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
    return link;
  }

  // Adds the headings that have an id and words; levels are relative to the highest heading so
  // far (a higher one arriving later re-levels the entries made before it).
  function add(headings) {
    const fresh = [];
    for (const heading of headings) {
      const text = heading.id ? headingText(heading) : '';
      if (text) fresh.push([heading, text]);
    }
    if (!fresh.length) return;
    const highest = Math.min(...fresh.map(([heading]) => Number(heading.tagName[1])));
    if (highest < topLevel) {
      topLevel = highest;
      listed.forEach((heading, index) => {
        links[index].parentElement.className = `lumivale-outline-level-${levelOf(heading)}`;
      });
    }
    const items = doc.createDocumentFragment();
    for (const [heading, text] of fresh) {
      const link = entry(listed.length, heading, text);
      link.parentElement.className = `lumivale-outline-level-${levelOf(heading)}`;
      items.appendChild(link.parentElement);
      listed.push(heading);
      links.push(link);
      linkOf.set(heading, link);
      if (heading.isConnected) observer.observe(heading);
    }
    list.appendChild(items);
    // Headings added later lie below the ones before: the section being read stays the same.
    if (current < 0) update();
  }

  // Brings the entries' words up to date with their headings (typeset mathematics, say): all
  // of them, or those of the headings given.
  function refresh(headings = listed) {
    for (const heading of headings) {
      const link = linkOf.get(heading);
      const text = link && headingText(heading);
      if (text && link.textContent !== text) link.textContent = text;
    }
  }

  // Swaps stand-ins for the headings now shown. True when they match entry for entry (the
  // entries stay as they are); false when the outline must be built again from `shownHeadings`.
  function settle(shownHeadings) {
    const actual = shownHeadings.filter((heading) => heading.id && headingText(heading));
    if (actual.length !== listed.length || actual.some((heading, i) => headingKey(heading) !== headingKey(listed[i]))) {
      return false;
    }
    linkOf.clear();
    actual.forEach((heading, index) => {
      listed[index] = heading;
      linkOf.set(heading, links[index]);
      observer.observe(heading);
    });
    update();
    return true;
  }

  function remove() {
    observer.disconnect();
    list.replaceChildren();
  }

  return {
    element: nav,
    update,
    add,
    refresh,
    settle,
    remove,
    get count() {
      return listed.length;
    },
  };
}
