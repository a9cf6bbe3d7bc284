// Progressive layout and lazy enhancement of the cells.
//
// Work runs in slices of a few milliseconds, yielding to the browser in between so it can paint
// and scroll. In each slice, in priority order: enhance cells that are on or near the screen,
// lay out the next cells, and finally enhance the remaining cells in document order. `onDone`
// runs once every cell is laid out and enhanced; `stop()` ends the work where it is (nothing
// more enters the page and `onDone` does not run). `onFlush` runs each time a run of laid-out
// cells has entered the page.
//
// The cells may still be arriving: without `count`, `available(index)` says whether cell `index`
// can be laid out yet, `more()` says that it may have changed and `finish(count)` gives the
// number of cells once it is known. Work waits while the next cell has not arrived.

const firstSliceMs = 50;
const sliceMs = 24;
const nearScreenMargin = '1200px 0px';
// The first cells are enhanced right after they are laid out, so the first screen appears
// highlighted and typeset rather than changing a moment later.
const eagerCount = 12;

function yieldToBrowser() {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(null);
  });
}

export function createScheduler({ count = null, available = () => true, render, container, onFlush = () => {}, onDone }) {
  let total = count;
  const enhancers = [];
  const enhanced = [];
  const elements = [];
  const priority = [];
  let nextToRender = 0;
  let nextToEnhance = 0;
  let observer = null;
  let stopped = false;
  let wake = null;
  // Cells laid out in one slice enter the page together, at the end of the slice.
  const pending = document.createDocumentFragment();
  const flush = () => {
    if (!pending.firstChild || stopped) return;
    container.appendChild(pending);
    onFlush();
  };
  const signal = () => {
    if (!wake) return;
    const resolve = wake;
    wake = null;
    resolve();
  };

  if (typeof IntersectionObserver === 'function') {
    observer = new IntersectionObserver(
      (entries) => {
        for (const entry of entries) {
          if (!entry.isIntersecting) continue;
          const index = Number(entry.target.dataset.cellIndexInView);
          if (!enhanced[index]) priority.push(index);
          observer.unobserve(entry.target);
        }
      },
      { rootMargin: nearScreenMargin },
    );
  }

  function layOut(index) {
    let view;
    try {
      view = render(index);
    } catch (error) {
      view = { element: document.createElement('section'), enhance: null };
      view.element.textContent = `Cell ${index + 1} could not be shown: ${error && error.message ? error.message : error}`;
    }
    elements[index] = view.element;
    enhancers[index] = view.enhance;
    enhanced[index] = false;
    view.element.dataset.cellIndexInView = String(index);
    pending.appendChild(view.element);
    if (!view.enhance) enhanced[index] = true;
    else if (observer) observer.observe(view.element);
  }

  async function enhance(index) {
    if (enhanced[index]) return;
    enhanced[index] = true;
    const task = enhancers[index];
    enhancers[index] = null;
    if (observer && elements[index]) observer.unobserve(elements[index]);
    try {
      await task();
    } catch {
      // The cell stays as laid out.
    }
  }

  // One unit of work: 'worked', 'wait' (the next cell has not arrived) or 'done'.
  async function step() {
    if (stopped) return 'done';
    while (priority.length) {
      const index = priority.shift();
      if (!enhanced[index]) {
        await enhance(index);
        return 'worked';
      }
    }
    if ((total === null || nextToRender < total) && available(nextToRender)) {
      layOut(nextToRender);
      if (nextToRender < eagerCount) priority.push(nextToRender);
      nextToRender += 1;
      return 'worked';
    }
    while (nextToEnhance < nextToRender && enhanced[nextToEnhance]) nextToEnhance += 1;
    if (nextToEnhance < nextToRender) {
      await enhance(nextToEnhance);
      return 'worked';
    }
    return total !== null && nextToRender >= total ? 'done' : 'wait';
  }

  // The first slice ends as soon as the first cells are laid out and enhanced: they fill the
  // first screen, which is painted before anything else is done.
  const firstScreenDone = () => nextToRender >= Math.min(total ?? eagerCount, eagerCount) && priority.length === 0;

  async function run() {
    let budget = firstSliceMs;
    for (let first = true; ; first = false) {
      const deadline = performance.now() + budget;
      let state = 'worked';
      while (state === 'worked' && performance.now() < deadline && !(first && firstScreenDone())) state = await step();
      flush();
      if (state === 'done') break;
      budget = sliceMs;
      if (state === 'wait') {
        await new Promise((resolve) => {
          wake = resolve;
        });
        if (stopped) return;
      } else {
        await yieldToBrowser();
      }
    }
    if (observer) observer.disconnect();
    if (!stopped) onDone();
  }

  return {
    start() {
      run();
    },
    stop() {
      stopped = true;
      signal();
    },
    more: signal,
    finish(count) {
      total = count;
      signal();
    },
    // How many cells are laid out (in the page or about to enter it at the end of the slice).
    get laidOut() {
      return nextToRender;
    },
  };
}
