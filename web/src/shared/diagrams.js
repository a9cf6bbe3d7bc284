// Mermaid diagrams: ```mermaid / ```mmd fences and `::: mermaid` containers (both arrive as
// <pre><code class="language-mermaid|mmd">) are drawn as SVG with securityLevel 'strict', in the
// theme of the current colour scheme. A diagram that cannot be drawn shows its error message
// and its source, never a blank.
//
//   renderDiagrams(root, {idPrefix}) -> Promise (resolves when every diagram is drawn or failed)
//   redrawDiagrams(root) -> Promise: draws them again (e.g. after a colour-scheme change)
//   mermaidContainerExtension() -> marked extension for `::: mermaid` … `:::` blocks

import { escapeHTML, firstParagraph } from './math.js';
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
    container.className = 'lumivale-diagram';
    container.replaceChildren(svgFragment(doc, svg));
    if (typeof bindFunctions === 'function') bindFunctions(container);
  } catch (error) {
    container.className = 'lumivale-diagram-failed';
    container.replaceChildren(errorBox(doc, source, errorMessage(error)));
  } finally {
    // Mermaid measures in scratch elements of its own; drop any it left behind.
    for (const leftover of [doc.getElementById(`d${id}`), doc.getElementById(`i${id}`)]) leftover?.remove();
  }
}

function drawAll(containers, idPrefix) {
  const mermaid = globalThis.mermaid;
  const work = queue.then(async () => {
    initialiseMermaid(mermaid);
    for (const container of containers) await drawOne(mermaid, container, idPrefix);
  });
  queue = work.catch(() => {});
  return work;
}

export function renderDiagrams(root, { idPrefix = '' } = {}) {
  const mermaid = globalThis.mermaid;
  if (!mermaid || typeof mermaid.render !== 'function') return Promise.resolve();
  const doc = root.ownerDocument || document;
  const containers = [];
  for (const code of root.querySelectorAll('pre > code')) {
    if (!isDiagramCode(code)) continue;
    const container = doc.createElement('div');
    container.className = 'lumivale-diagram';
    container.lumivaleDiagramSource = code.textContent;
    container.dataset.diagramIdPrefix = idPrefix;
    code.parentElement.replaceWith(container);
    containers.push(container);
  }
  return containers.length ? drawAll(containers, idPrefix) : Promise.resolve();
}

export function redrawDiagrams(root) {
  const mermaid = globalThis.mermaid;
  if (!mermaid || typeof mermaid.render !== 'function') return Promise.resolve();
  const containers = [...root.querySelectorAll('.lumivale-diagram, .lumivale-diagram-failed')].filter(
    (container) => typeof container.lumivaleDiagramSource === 'string',
  );
  if (!containers.length) return Promise.resolve();
  initialisedTheme = null;
  return drawAll(containers, containers[0].dataset.diagramIdPrefix || '');
}
