// Progressive layout and lazy enhancement of the cells.
//
// Work runs in slices of a few milliseconds, yielding to the browser in between so it can paint
// and scroll. In each slice, in priority order: enhance cells that are on or near the screen,
// lay out the next cells, and finally enhance the remaining cells in document order. `onDone`
// runs once every cell is laid out and enhanced; `stop()` ends the work where it is (nothing
// more enters the page and `onDone` does not run). `onFlush` runs each time a run of laid-out
// cells has entered the page.

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

export function createScheduler({ count, render, container, onFlush = () => {}, onDone }) {
  const enhancers = new Array(count).fill(null);
  const enhanced = new Uint8Array(count);
  const elements = new Array(count).fill(null);
  const priority = [];
  let nextToRender = 0;
  let nextToEnhance = 0;
  let observer = null;
  let stopped = false;
  // Cells laid out in one slice enter the page together, at the end of the slice.
  const pending = document.createDocumentFragment();
  const flush = () => {
    if (!pending.firstChild || stopped) return;
    container.appendChild(pending);
    onFlush();
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
    view.element.dataset.cellIndexInView = String(index);
    pending.appendChild(view.element);
    if (!view.enhance) enhanced[index] = 1;
    else if (observer) observer.observe(view.element);
  }

  async function enhance(index) {
    if (enhanced[index]) return;
    enhanced[index] = 1;
    const task = enhancers[index];
    enhancers[index] = null;
    if (observer && elements[index]) observer.unobserve(elements[index]);
    try {
      await task();
    } catch {
      // The cell stays as laid out.
    }
  }

  // One unit of work; false when nothing is left.
  async function step() {
    if (stopped) return false;
    while (priority.length) {
      const index = priority.shift();
      if (!enhanced[index]) {
        await enhance(index);
        return true;
      }
    }
    if (nextToRender < count) {
      layOut(nextToRender);
      if (nextToRender < eagerCount) priority.push(nextToRender);
      nextToRender += 1;
      return true;
    }
    while (nextToEnhance < count && enhanced[nextToEnhance]) nextToEnhance += 1;
    if (nextToEnhance < count) {
      await enhance(nextToEnhance);
      return true;
    }
    return false;
  }

  // The first slice ends as soon as the first cells are laid out and enhanced: they fill the
  // first screen, which is painted before anything else is done.
  const firstScreenDone = () => nextToRender >= Math.min(count, eagerCount) && priority.length === 0;

  async function run() {
    let budget = firstSliceMs;
    for (let first = true; ; first = false) {
      const deadline = performance.now() + budget;
      let more = true;
      while (more && performance.now() < deadline && !(first && firstScreenDone())) more = await step();
      flush();
      if (!more) break;
      budget = sliceMs;
      await yieldToBrowser();
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
    },
  };
}
