// Code cell outputs: streams, rich results (by the richest MIME type that can be shown safely),
// errors with ANSI-coloured tracebacks, and notices for what a preview does not run (JavaScript,
// widgets, unknown types).
//
//   renderOutputs(cell, context) -> HTMLElement | null
//   context = { renderMarkdown(text) -> Node, typesetLatex(text) -> Node | null,
//               outputStyles: CSSStyleSheet | null }

import { ansiToFragment, applyCarriageReturns, stripAnsi } from './ansi.js';
import { h, notice } from './dom.js';
import { jsonView } from './json-view.js';
import { whenNearScreen } from './near-screen.js';
import { joinText, describeValue } from './notebook-model.js';
import { appendTextWithNotices, omittedHTMLNotice } from './notices.js';
import { sanitizeHTMLOutput, sanitizeSVG } from './sanitize-output.js';

const imageTypes = ['image/png', 'image/jpeg', 'image/gif', 'image/webp', 'image/bmp'];

// Types a preview deliberately does not run: shown as a notice, like an untrusted notebook.
const scriptTypes = new Set([
  'application/javascript',
  'text/javascript',
  'application/x-javascript',
  'application/ecmascript',
  'text/ecmascript',
]);
const widgetType = 'application/vnd.jupyter.widget-view+json';

function isScriptType(mime) {
  return scriptTypes.has(mime) || /^application\/vnd\.bokehjs_(exec|load)/.test(mime);
}

function textBlock(text, className) {
  const pre = h('pre', { className });
  appendTextWithNotices(pre, applyCarriageReturns(text), (piece) => ansiToFragment(piece));
  return pre;
}

function prompt(label, className) {
  return h('div', { className: `nbv-prompt ${className}`, 'aria-hidden': 'true' }, label);
}

function renderStream(output) {
  const isError = output.name === 'stderr';
  return h(
    'div',
    { className: `nbv-output-area nbv-stream nbv-stream-${isError ? 'stderr' : 'stdout'}`, dataset: { mimeType: `application/vnd.jupyter.${isError ? 'stderr' : 'stdout'}` } },
    textBlock(output.text, 'nbv-text'),
  );
}

function renderError(output) {
  const area = h('div', { className: 'nbv-output-area nbv-error', dataset: { mimeType: 'application/vnd.jupyter.error' } });
  const heading = [output.ename, output.evalue].filter(Boolean).join(': ');
  if (heading) area.appendChild(h('div', { className: 'nbv-error-header' }, heading));
  const lines = output.traceback.slice();
  // IPython ends the traceback with the same "Name: value" line as the header: show it once.
  if (heading && lines.length && stripAnsi(lines[lines.length - 1]).trim() === heading.trim()) lines.pop();
  const traceback = lines.join('\n');
  if (traceback.trim()) area.appendChild(textBlock(traceback, 'nbv-text nbv-traceback'));
  return area;
}

function base64Of(value) {
  return joinText(value).replace(/\s+/g, '');
}

function dimension(value) {
  return Number.isFinite(value) && value > 0 ? Math.round(value) : null;
}

// The pixel size written in a PNG's or GIF's header (the first few base64 characters), or null.
// An image given its size holds its room before it is decoded, so that images can load lazily
// and decode off the main thread without moving the text around them.
export function headerSize(mime, base64) {
  let bytes;
  try {
    bytes = atob(base64.slice(0, 32));
  } catch {
    return null;
  }
  const at = (i) => bytes.charCodeAt(i);
  if (mime === 'image/png' && bytes.length >= 24 && bytes.startsWith('\x89PNG\r\n\x1a\n') && bytes.slice(12, 16) === 'IHDR') {
    const big = (i) => ((at(i) << 24) | (at(i + 1) << 16) | (at(i + 2) << 8) | at(i + 3)) >>> 0;
    return { width: big(16), height: big(20) };
  }
  if (mime === 'image/gif' && bytes.length >= 10 && /^GIF8[79]a/.test(bytes)) {
    return { width: at(6) | (at(7) << 8), height: at(8) | (at(9) << 8) };
  }
  return null;
}

function imageElement(src, mime, metadata, alt, intrinsic = null) {
  const image = h('img', { className: 'nbv-image', alt, decoding: 'async', loading: 'lazy' });
  const sizes = metadata && typeof metadata === 'object' ? metadata[mime] : null;
  const given = sizes && typeof sizes === 'object';
  if (given) {
    const width = dimension(sizes.width);
    const height = dimension(sizes.height);
    if (width) image.width = width;
    if (height) image.height = height;
    if (sizes.unconfined === true) image.classList.add('nbv-unconfined');
  }
  if (!(given && (dimension(sizes.width) || dimension(sizes.height))) && intrinsic) {
    const width = dimension(intrinsic.width);
    const height = dimension(intrinsic.height);
    if (width && height) {
      image.width = width;
      image.height = height;
    }
  }
  image.addEventListener(
    'error',
    () => image.replaceWith(notice(`This ${mime} image could not be decoded.`, 'warning')),
    { once: true },
  );
  if (src !== null) image.src = src;
  return image;
}

// Base64 as the browser decodes it in a data: URL; checked natively (a regular expression over
// a few hundred kilobytes per image costs more than decoding it).
function isBase64(data) {
  try {
    atob(data);
    return true;
  } catch {
    return false;
  }
}

// The image's data is checked and handed to the image (which parses the whole data: URL) only
// as the image approaches the screen: a notebook of many large images lays out all its cells
// without touching the data of those the reader has not come near.
function renderImage(mime, value, metadata) {
  const data = base64Of(value);
  if (!data) return notice(`This ${mime} output is empty.`, 'warning');
  const image = imageElement(null, mime, metadata, 'Output image', headerSize(mime, data));
  const load = () => {
    if (isBase64(data)) image.src = `data:${mime};base64,${data}`;
    else image.replaceWith(notice(`This ${mime} image could not be decoded.`, 'warning'));
  };
  whenNearScreen(image, load);
  return image;
}

function renderSVG(value, metadata) {
  const svg = sanitizeSVG(joinText(value));
  if (!svg) return notice('This SVG output holds nothing that can be shown.', 'warning');
  const url = URL.createObjectURL(new Blob([svg], { type: 'image/svg+xml' }));
  return imageElement(url, 'image/svg+xml', metadata, 'SVG output');
}

function renderHTML(value, context) {
  const html = joinText(value);
  const omitted = omittedHTMLNotice(html);
  if (omitted) return notice(omitted, 'bounded');
  const { fragment, hadScript } = sanitizeHTMLOutput(html);
  const host = h('div', { className: 'nbv-html' });
  // Each HTML output lives in its own shadow root: the styles it brings (pandas, Styler) apply to
  // itself only and can never restyle or hide the rest of the page.
  const shadow = host.attachShadow({ mode: 'open' });
  if (context.outputStyles) shadow.adoptedStyleSheets = [context.outputStyles];
  const body = h('div', { className: 'nbv-html-body' });
  body.appendChild(fragment);
  shadow.appendChild(body);
  const visible = (body.textContent || '').trim() || body.querySelector('img, svg, video, audio, canvas, table, input');
  if (hadScript && !visible) return notice('JavaScript output is disabled in the preview.', 'info');
  if (hadScript) return h('div', {}, host, notice('Scripts in this output are disabled in the preview.', 'info'));
  return host;
}

function renderJSON(value) {
  let parsed = value;
  if (typeof value === 'string' || Array.isArray(value)) {
    const text = joinText(value);
    try {
      parsed = JSON.parse(text);
    } catch {
      return h('pre', { className: 'nbv-text' }, text);
    }
  }
  return jsonView(parsed);
}

function renderLatex(value, context) {
  const text = joinText(value);
  const typeset = context.typesetLatex ? context.typesetLatex(text) : null;
  return typeset || h('pre', { className: 'nbv-text nbv-latex-source' }, text);
}

function renderPlain(value) {
  return textBlock(joinText(value), 'nbv-text');
}

function friendlyName(mime) {
  if (mime === widgetType) return 'Interactive widget';
  if (/plotly/.test(mime)) return 'Plotly chart';
  if (/vega/.test(mime)) return 'Vega chart';
  if (/bokeh/.test(mime)) return 'Bokeh plot';
  if (mime === 'application/pdf') return 'PDF';
  return mime;
}

// Picks what to show for one MIME bundle: [{mime, node}], usually one entry, plus a notice when
// a richer representation could not be shown.
export function renderMimeBundle(data, metadata, context) {
  const types = Object.keys(data);
  const has = (mime) => types.includes(mime) && data[mime] !== null && data[mime] !== undefined;
  const unshown = types.filter((mime) => mime === widgetType || isScriptType(mime) || /^application\/vnd\./.test(mime) || mime === 'application/pdf');
  const parts = [];
  const widgetNotice = () => notice('Interactive widget: widgets need a running kernel and are not shown in the preview.', 'info');

  let chosen = null;
  if (has(widgetType)) {
    parts.push({ mime: widgetType, node: widgetNotice() });
  } else if (has('text/html')) chosen = ['text/html', () => renderHTML(data['text/html'], context)];
  else if (has('image/svg+xml')) chosen = ['image/svg+xml', () => renderSVG(data['image/svg+xml'], metadata)];
  else {
    const image = imageTypes.find(has);
    if (image) chosen = [image, () => renderImage(image, data[image], metadata)];
    else if (has('text/markdown')) chosen = ['text/markdown', () => context.renderMarkdown(joinText(data['text/markdown']))];
    else if (has('text/latex')) chosen = ['text/latex', () => renderLatex(data['text/latex'], context)];
    else if (has('application/json')) chosen = ['application/json', () => renderJSON(data['application/json'])];
    else {
      const jsonLike = types.find((mime) => /^application\/(?!vnd\.)[^/]*\+json$/.test(mime));
      if (jsonLike) chosen = [jsonLike, () => renderJSON(data[jsonLike])];
    }
  }
  if (!chosen && has('text/plain')) {
    const richer = unshown.filter((mime) => mime !== widgetType);
    if (richer.length) {
      const what = richer.some(isScriptType) ? 'JavaScript output is disabled in the preview' : `${friendlyName(richer[0])} output is not shown in the preview`;
      parts.push({ mime: richer[0], node: notice(`${what}; showing its text form.`, 'info') });
    }
    chosen = ['text/plain', () => renderPlain(data['text/plain'])];
  }
  if (chosen) {
    let node;
    try {
      node = chosen[1]();
    } catch (error) {
      node = notice(`This ${chosen[0]} output could not be shown (${error && error.message ? error.message : error}).`, 'warning');
    }
    parts.push({ mime: chosen[0], node });
  } else if (!parts.length) {
    if (types.some(isScriptType)) parts.push({ mime: types.find(isScriptType), node: notice('JavaScript output is disabled in the preview.', 'info') });
    else if (types.length) parts.push({ mime: types[0], node: notice(`${friendlyName(types[0])} output is not shown in the preview.`, 'info') });
  }
  return parts;
}

function renderDataOutput(output, context) {
  const parts = renderMimeBundle(output.data, output.metadata, context);
  return parts.map(({ mime, node }) => {
    const area = h('div', { className: 'nbv-output-area nbv-rich', dataset: { mimeType: mime } }, node);
    if (node.classList && node.classList.contains('nbv-notice')) area.classList.add('nbv-notice-area');
    else if (mime.startsWith('image/')) area.classList.add('nbv-image-output');
    return area;
  });
}

// Adjacent stream outputs of the same stream are shown as one block, as Jupyter does.
function mergeStreams(outputs) {
  const merged = [];
  for (const output of outputs) {
    const previous = merged[merged.length - 1];
    if (output.kind === 'stream' && previous && previous.kind === 'stream' && previous.name === output.name) {
      merged[merged.length - 1] = { ...previous, text: previous.text + output.text };
    } else merged.push(output);
  }
  return merged;
}

export function renderOutputs(cell, context) {
  if (!cell.outputs.length) return null;
  // "scrolled" is the classic notebook's collapsed-into-a-scroll-box state of long outputs.
  const container = h('div', { className: `nbv-outputs${cell.metadata && cell.metadata.scrolled === true ? ' nbv-scrolled' : ''}` });
  for (const output of mergeStreams(cell.outputs)) {
    let areas;
    try {
      if (output.kind === 'stream') areas = [renderStream(output)];
      else if (output.kind === 'error') areas = [renderError(output)];
      else if (output.kind === 'data') {
        areas = renderDataOutput(output, context);
        if (output.problem) areas.unshift(notice(output.problem, 'warning'));
      } else areas = [notice(output.problem || `An output could not be shown: ${describeValue(output).slice(0, 200)}`, 'warning')];
    } catch (error) {
      areas = [notice(`An output could not be shown (${error && error.message ? error.message : error}).`, 'warning')];
    }
    areas.forEach((area, index) => {
      const label = output.kind === 'data' && output.isResult && index === areas.length - 1
        ? `Out[${output.executionCount ?? ' '}]:`
        : '';
      container.appendChild(h('div', { className: 'nbv-output' }, prompt(label, 'nbv-prompt-out'), area));
    });
  }
  return container;
}
