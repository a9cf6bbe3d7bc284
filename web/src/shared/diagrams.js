// Mermaid diagrams: ```mermaid / ```mmd fences and `::: mermaid` containers (both arrive as
// <pre><code class="language-mermaid|mmd">) are drawn as SVG with securityLevel 'strict', in the
// theme of the current colour scheme. A diagram that cannot be drawn shows its error message
// and its source, never a blank.
//
// The page carries the Mermaid library as inert text (<script type="text/plain"
// id="lumivale-mermaid-script">, the page's last element). It is started only after the
// document's text has been painted, and then only the parts of it the diagrams use, in short
// tasks (mermaid-library.js). Until then each diagram holds a placeholder of about its size; a
// diagram that grows above what the reader is looking at keeps the view where it was.
//
//   renderDiagrams(root, {idPrefix}) -> Promise (resolves when every diagram is drawn or failed)
//   redrawDiagrams(root) -> Promise: draws them again (e.g. after a colour-scheme change)
//   whenDiagramsDrawn() -> Promise: resolves once no diagram is waiting to be drawn
//   mermaidAvailable(doc) -> boolean: the page has the library (loaded or still inert)
//   mermaidContainerExtension() -> marked extension for `::: mermaid` … `:::` blocks

import { escapeHTML, firstParagraph } from './math.js';
import { startMermaid } from './mermaid-library.js';
import { afterNextPaint, nextTask } from './paint.js';
import { prefersDarkColorScheme } from './theme.js';

const DIAGRAM_TIMEOUT_MS = 15000;
let diagramCounter = 0;
let initialisedTheme = null;
let queue = Promise.resolve();

export function mermaidContainerExtension() {
  const CONTAINER = /^ {0,3}:::[ \t]*(?:mermaid|mmd)[ \t]*\n([\s\S]*?)(?:\n {0,3}:::[ \t]*(?:\n+|$)|$)/i;
  return {
    extensions: [
      {
        name: 'mermaidContainer',
        level: 'block',
        start(src) {
          const match = /^ {0,3}:::[ \t]*(?:mermaid|mmd)[ \t]*$/im.exec(firstParagraph(src));
          return match ? match.index : undefined;
        },
        tokenizer(src) {
          const match = CONTAINER.exec(src);
          if (!match) return undefined;
          return { type: 'mermaidContainer', raw: match[0], text: match[1] };
        },
        renderer: (token) => `<pre><code class="language-mermaid">${escapeHTML(token.text)}</code></pre>\n`,
      },
    ],
  };
}

const LIBRARY_ELEMENT_ID = 'lumivale-mermaid-script';
let libraryLoad = null;

function loadedMermaid() {
  const mermaid = globalThis.mermaid;
  return mermaid && typeof mermaid.render === 'function' ? mermaid : null;
}

// The library's element comes last in the page: while the page is still being parsed it may
// not be there yet, and the diagrams wait for it (falling back to their source without it).
export function mermaidAvailable(doc = document) {
  // Once started, the library is on its way (its element is emptied then): later diagrams
  // queue behind it.
  if (loadedMermaid() || libraryLoad) return true;
  const element = doc.getElementById(LIBRARY_ELEMENT_ID);
  if (element) return element.hasChildNodes();
  return doc.readyState === 'loading';
}

function documentParsed(doc) {
  if (doc.readyState !== 'loading') return Promise.resolve();
  return new Promise((resolve) => doc.addEventListener('DOMContentLoaded', () => resolve(), { once: true }));
}

// The library, run once from its inert text (a module at a time, see mermaid-library.js), after
// the next paint so that it never holds back the document's text. Resolves to null when the page
// has no working library.
function loadMermaid(doc) {
  if (!libraryLoad) {
    libraryLoad = Promise.all([afterNextPaint(), documentParsed(doc)])
      .then(() => {
        if (loadedMermaid()) return loadedMermaid();
        const element = doc.getElementById(LIBRARY_ELEMENT_ID);
        if (!element || !element.hasChildNodes()) return null;
        const text = element.textContent;
        element.replaceChildren();
        return startMermaid(doc, text);
      })
      .catch((error) => {
        console.warn('The diagram library could not be started:', error);
        return null;
      });
  }
  return libraryLoad;
}

// Room held for a diagram before it is drawn, from its kind and length, so that drawing it
// moves the text around it as little as possible.
function placeholderHeight(source) {
  const lines = source.split('\n').filter((line) => line.trim() && !/^%{2}/.test(line.trim())).length;
  const kind = (source.trim().split(/\s/, 1)[0] || '').toLowerCase();
  const perLine = /^(?:sequencediagram|gantt|classdiagram|erdiagram|statediagram|statediagram-v2|timeline)$/.test(kind)
    ? 44
    : /^(?:flowchart|graph)$/.test(kind) && /^\s*(?:flowchart|graph)\s+(?:LR|RL)\b/i.test(source)
      ? 18
      : 36;
  return Math.max(96, Math.min(640, 40 + lines * perLine));
}

// Runs `change` on an element (it may return the element that took its place) and, when the
// element lies wholly above the view, scrolls by however much it grew or shrank, so that what
// the reader is looking at stays put.
function keepingView(element, change) {
  const view = element.ownerDocument.defaultView;
  const before = element.getBoundingClientRect();
  const replacement = change() || element;
  if (!view || before.bottom > 0 || !replacement.isConnected) return;
  const after = replacement.getBoundingClientRect();
  if (after.bottom !== before.bottom) view.scrollBy(0, after.bottom - before.bottom);
}

function isDiagramCode(code) {
  return [...code.classList].some((name) => /^language-(?:mermaid|mmd)$/i.test(name));
}

function initialiseMermaid(mermaid) {
  const theme = prefersDarkColorScheme() ? 'dark' : 'default';
  if (initialisedTheme === theme) return;
  mermaid.initialize({
    startOnLoad: false,
    securityLevel: 'strict',
    theme,
    suppressErrorRendering: true,
    // Labels are measured in the live page: media in a label would be requested there.
    dompurifyConfig: { FORBID_TAGS: ['img', 'picture', 'source', 'audio', 'video', 'image'] },
    fontFamily: '-apple-system, BlinkMacSystemFont, "Segoe UI", "Noto Sans", Helvetica, Arial, sans-serif',
  });
  initialisedTheme = theme;
}

function withTimeout(promise, ms) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`Diagram took longer than ${ms / 1000} s to draw`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Mermaid's SVG, parsed inertly and stripped of anything active before it enters the page.
function svgFragment(doc, svgText) {
  const template = doc.createElement('template');
  template.innerHTML = svgText;
  for (const element of template.content.querySelectorAll('script, iframe, object, embed')) element.remove();
  for (const element of template.content.querySelectorAll('*')) {
    for (const attribute of [...element.attributes]) {
      const name = attribute.name.toLowerCase();
      const value = attribute.value.trim().toLowerCase();
      if (name.startsWith('on') || ((name === 'href' || name === 'xlink:href') && /^(?:javascript|data:text\/html)/.test(value))) {
        element.removeAttribute(attribute.name);
      }
    }
  }
  return template.content;
}

function errorBox(doc, source, message) {
  const box = doc.createElement('div');
  box.className = 'lumivale-diagram-error';
  box.setAttribute('role', 'group');
  const title = doc.createElement('div');
  title.className = 'lumivale-diagram-error-title';
  title.textContent = 'Mermaid diagram could not be drawn';
  const text = doc.createElement('div');
  text.className = 'lumivale-diagram-error-message';
  text.textContent = message;
  const pre = doc.createElement('pre');
  pre.className = 'lumivale-diagram-error-source';
  const code = doc.createElement('code');
  code.textContent = source;
  pre.appendChild(code);
  box.append(title, text, pre);
  return box;
}

function errorMessage(error) {
  const message = error && (error.message || error.str) ? error.message || error.str : String(error);
  return message.replace(/^Error:\s*/, '').trim() || 'Unknown error';
}

async function drawOne(mermaid, container, idPrefix) {
  const doc = container.ownerDocument;
  const source = container.lumivaleDiagramSource;
  const id = `${idPrefix}mermaid-${++diagramCounter}`;
  try {
    const { svg, bindFunctions } = await withTimeout(mermaid.render(id, source), DIAGRAM_TIMEOUT_MS);
    keepingView(container, () => {
      container.className = 'lumivale-diagram';
      container.style.removeProperty('min-height');
      container.removeAttribute('aria-busy');
      container.replaceChildren(svgFragment(doc, svg));
    });
    if (typeof bindFunctions === 'function') bindFunctions(container);
  } catch (error) {
    keepingView(container, () => {
      container.className = 'lumivale-diagram-failed';
      container.style.removeProperty('min-height');
      container.removeAttribute('aria-busy');
      container.replaceChildren(errorBox(doc, source, errorMessage(error)));
    });
  } finally {
    // Mermaid measures in scratch elements of its own; drop any it left behind.
    for (const leftover of [doc.getElementById(`d${id}`), doc.getElementById(`i${id}`)]) leftover?.remove();
  }
}

// Without a working library a diagram stays readable as its source, as a plain code block.
function showSource(container) {
  const doc = container.ownerDocument;
  const pre = doc.createElement('pre');
  const code = doc.createElement('code');
  code.className = 'language-mermaid';
  code.textContent = container.lumivaleDiagramSource;
  pre.appendChild(code);
  keepingView(container, () => {
    container.replaceWith(pre);
    return pre;
  });
}

// Diagrams nearest the view are drawn first, then the others in document order.
function byDistanceFromView(containers) {
  const height = containers[0].ownerDocument.defaultView?.innerHeight ?? 0;
  const distance = (container) => {
    if (!container.isConnected) return Infinity;
    const rect = container.getBoundingClientRect();
    return rect.bottom < 0 ? -rect.bottom : Math.max(0, rect.top - height);
  };
  return containers
    .map((container, index) => ({ container, index, distance: distance(container) }))
    .sort((a, b) => a.distance - b.distance || a.index - b.index)
    .map((entry) => entry.container);
}

function drawAll(containers, idPrefix) {
  const doc = containers[0].ownerDocument;
  const work = queue.then(async () => {
    const mermaid = await loadMermaid(doc);
    if (!mermaid) {
      for (const container of containers) showSource(container);
      return;
    }
    initialiseMermaid(mermaid);
    // One diagram per task at most: the page stays responsive between them.
    for (const container of byDistanceFromView(containers)) {
      await drawOne(mermaid, container, idPrefix);
      await nextTask();
    }
  });
  queue = work.catch(() => {});
  return work;
}

export async function whenDiagramsDrawn() {
  let current;
  do {
    current = queue;
    await current;
  } while (current !== queue);
}

export function renderDiagrams(root, { idPrefix = '' } = {}) {
  const doc = root.ownerDocument || document;
  if (!mermaidAvailable(doc)) return Promise.resolve();
  const containers = [];
  for (const code of root.querySelectorAll('pre > code')) {
    if (!isDiagramCode(code)) continue;
    const container = doc.createElement('div');
    container.className = 'lumivale-diagram lumivale-diagram-pending';
    container.lumivaleDiagramSource = code.textContent;
    container.dataset.diagramIdPrefix = idPrefix;
    container.style.minHeight = `${placeholderHeight(container.lumivaleDiagramSource)}px`;
    container.setAttribute('aria-busy', 'true');
    code.parentElement.replaceWith(container);
    containers.push(container);
  }
  return containers.length ? drawAll(containers, idPrefix) : Promise.resolve();
}

export function redrawDiagrams(root) {
  if (!loadedMermaid()) return Promise.resolve();
  const containers = [...root.querySelectorAll('.lumivale-diagram, .lumivale-diagram-failed')].filter(
    (container) => typeof container.lumivaleDiagramSource === 'string',
  );
  if (!containers.length) return Promise.resolve();
  initialisedTheme = null;
  return drawAll(containers, containers[0].dataset.diagramIdPrefix || '');
}
