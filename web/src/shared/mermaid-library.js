// Runs the Mermaid library from the text the page carries, a module at a time.
//
// Our mermaid.min.js (web/build-mermaid.mjs) is Mermaid's ES module build as a table of module
// factories: a small runtime, then each module behind a marker comment naming it and its static
// imports, then a line that starts Mermaid. Run whole it works like Mermaid's own file, but the
// browser would parse every diagram type and layout engine in one long task. Here each module
// that a diagram needs is defined (compiled) and then run, in tasks of about SLICE_MS (a large
// module gets one of its own), with the browser free to paint and scroll in between, and
// modules no diagram on the page uses are never compiled at all. A text without markers (any other build of the library) is run whole.
//
//   splitMermaidModules(text) -> {runtime, modules: Map(name -> {imports, text})} | null
//   startMermaid(doc, text, {pause}) -> Promise<mermaid|null>: runs the library from its text;
//       pause() -> Promise is awaited between steps (default: until the next task)

import { runInlineScript } from './inline-script.js';
import { nextTask } from './paint.js';

const MARKER = '/*@lumivale-mermaid-';
const MODULE_MARKER = /^\/\*@lumivale-mermaid-module ([\w.-]+) ([\w.,-]*)@\*\/$/;
const START_MARKER = '/*@lumivale-mermaid-start@*/';
const ENTRY = 'mermaid';
// Work per task while the library starts: below the 50 ms at which a task holds back input.
const SLICE_MS = 30;

export function splitMermaidModules(text) {
  const first = text.indexOf(`\n${MARKER}`);
  if (first < 0) return null;
  const modules = new Map();
  let at = first + 1;
  while (at < text.length) {
    const lineEnd = text.indexOf('\n', at);
    if (lineEnd < 0) return null;
    const marker = text.slice(at, lineEnd);
    const next = text.indexOf(`\n${MARKER}`, lineEnd);
    if (marker === START_MARKER) break;
    const match = MODULE_MARKER.exec(marker);
    if (!match || next < 0) return null;
    modules.set(match[1], { imports: match[2] ? match[2].split(',') : [], text: text.slice(lineEnd + 1, next + 1) });
    at = next + 1;
  }
  if (!modules.has(ENTRY)) return null;
  return { runtime: text.slice(0, first + 1), modules };
}

const loadedMermaid = () => {
  const mermaid = globalThis.mermaid;
  return mermaid && typeof mermaid.render === 'function' ? mermaid : null;
};

export async function startMermaid(doc, text, { pause = nextTask } = {}) {
  if (loadedMermaid()) return loadedMermaid();
  const layout = splitMermaidModules(text);
  if (!layout) {
    runInlineScript(doc, text);
    return loadedMermaid();
  }
  runInlineScript(doc, layout.runtime);
  const table = globalThis.__lumivaleMermaidModules;
  if (!table || typeof table.define !== 'function') return null;

  const define = (name) => {
    const module = layout.modules.get(name);
    if (module && !table.isDefined(name)) runInlineScript(doc, module.text);
  };
  // A module's static imports, each before the modules that import it (the order in which ES
  // modules run them).
  const inOrder = (name, order = [], seen = new Set()) => {
    if (seen.has(name)) return order;
    seen.add(name);
    for (const imported of layout.modules.get(name)?.imports ?? []) inOrder(imported, order, seen);
    order.push(name);
    return order;
  };
  // Steps run back to back until they have taken SLICE_MS, then the browser gets a turn: small
  // modules share a task, a large one has its own.
  let sliceStart = performance.now();
  const step = async (work) => {
    work();
    if (performance.now() - sliceStart >= SLICE_MS) {
      await pause();
      sliceStart = performance.now();
    }
  };
  table.provide = define;
  table.prepare = async (name) => {
    sliceStart = performance.now();
    for (const module of inOrder(name)) {
      if (table.isEvaluated(module)) continue;
      if (!table.isDefined(module)) await step(() => define(module));
      await step(() => table.require(module));
    }
  };
  await table.prepare(ENTRY);
  return table.start(ENTRY);
}
