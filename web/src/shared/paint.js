// Waiting for the browser to show what is in the page now.
//
//   afterNextPaint(view = globalThis, {hiddenWaitMs = 250}) -> Promise: resolves in the task
//       after the next animation frame, i.e. once the frame holding the page as it is now has
//       been handed to the compositor. A hidden page paints no frames: it goes on after
//       hiddenWaitMs instead.
//   nextTask() -> Promise: resolves in a task of its own, after the browser has had the chance
//       to handle input and paint (scheduler.yield where there is one).

export function afterNextPaint(view = globalThis, { hiddenWaitMs = 250 } = {}) {
  return new Promise((resolve) => {
    let done = false;
    const finish = () => {
      if (done) return;
      done = true;
      resolve();
    };
    if (typeof view.requestAnimationFrame === 'function') view.requestAnimationFrame(() => view.setTimeout(finish, 0));
    view.setTimeout(finish, hiddenWaitMs);
  });
}

export function nextTask() {
  if (typeof globalThis.scheduler?.yield === 'function') return globalThis.scheduler.yield();
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => resolve();
    channel.port2.postMessage(null);
  });
}
