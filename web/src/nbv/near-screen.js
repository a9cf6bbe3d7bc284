// Work that waits until its element approaches the screen. A notebook's output image is handed
// its data (the browser parses the whole data: URL, often hundreds of kilobytes, on the page's
// thread) only then: a notebook of hundreds of large images lays out every cell without
// touching the data of the images the reader never scrolls to. Printing runs whatever still
// waits, so that a printed page has every image.
//
//   whenNearScreen(element, task): runs task() once, when element comes within about a screen
//       and a half of the viewport (at once where the browser cannot tell)

const NEAR_MARGIN = '150% 0px';

const waiting = new Map();
let observer = null;

function run(element) {
  const task = waiting.get(element);
  if (!task) return;
  waiting.delete(element);
  observer.unobserve(element);
  task();
}

function runEverythingWaiting() {
  for (const element of [...waiting.keys()]) {
    if (element.isConnected) run(element);
    else {
      // Taken out of the page (shown afresh): it will never be seen.
      waiting.delete(element);
      observer.unobserve(element);
    }
  }
}

function nearScreenObserver() {
  if (!observer) {
    observer = new IntersectionObserver(
      (entries) => {
        for (const entry of entries) if (entry.isIntersecting) run(entry.target);
      },
      { rootMargin: NEAR_MARGIN },
    );
    window.addEventListener('beforeprint', runEverythingWaiting);
  }
  return observer;
}

export function whenNearScreen(element, task) {
  if (typeof IntersectionObserver !== 'function') {
    task();
    return;
  }
  waiting.set(element, task);
  nearScreenObserver().observe(element);
}
