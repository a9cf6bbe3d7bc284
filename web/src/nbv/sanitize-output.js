// Sanitizing of rich notebook outputs (text/html, image/svg+xml) with DOMPurify, using an instance
// of its own so its hooks never affect the Markdown sanitizer. Nothing that could run script
// survives; media may only come from data:, blob: or resolved cid: URLs, and anything else is
// replaced by a quiet placeholder that names the address it would have loaded.

import createDOMPurify from 'dompurify';
import { h } from './dom.js';

let purifier = null;

function isInlineURL(url) {
  return /^(data|blob):/i.test(url);
}

// Resolves a cid: URL through the presenter's hook; returns the URL to use, or null to leave it.
export function resolveCid(url) {
  const resolve = globalThis.lumivaleResolveAttachment;
  if (typeof resolve !== 'function') return url;
  try {
    const resolved = resolve(url.slice(4));
    return typeof resolved === 'string' && resolved ? resolved : url;
  } catch {
    return url;
  }
}

function allowedMediaURL(url) {
  const trimmed = url.trim();
  if (isInlineURL(trimmed)) return trimmed;
  if (/^cid:/i.test(trimmed)) return resolveCid(trimmed);
  return null;
}

export function remoteImagePlaceholder(alt, address) {
  const label = alt && alt.trim() ? alt.trim() : 'Image';
  return h(
    'span',
    { className: 'nbv-blocked-image', title: `Not loaded in the preview: ${address}` },
    h('span', { className: 'nbv-blocked-image-label' }, label),
    address ? h('span', { className: 'nbv-blocked-image-address' }, address) : null,
  );
}

function filterSrcset(value) {
  const candidates = value.split(',').map((candidate) => candidate.trim()).filter(Boolean);
  const kept = [];
  for (const candidate of candidates) {
    const [url, ...descriptor] = candidate.split(/\s+/);
    const allowed = allowedMediaURL(url);
    if (allowed) kept.push([allowed, ...descriptor].join(' '));
  }
  return kept.join(', ');
}

function instance() {
  if (purifier) return purifier;
  purifier = createDOMPurify(window);
  purifier.addHook('afterSanitizeAttributes', (node) => {
    const name = node.nodeName.toLowerCase();
    if (name === 'a' && node.hasAttribute('href')) {
      const href = node.getAttribute('href');
      if (/^[a-z][a-z0-9+.-]*:/i.test(href) && !/^(https?|mailto):/i.test(href)) node.removeAttribute('href');
      else {
        node.setAttribute('target', '_blank');
        node.setAttribute('rel', 'noopener noreferrer');
      }
    }
    if (node.hasAttribute('srcset')) {
      const kept = filterSrcset(node.getAttribute('srcset'));
      if (kept) node.setAttribute('srcset', kept);
      else node.removeAttribute('srcset');
    }
    for (const attribute of ['src', 'poster']) {
      if (!node.hasAttribute(attribute)) continue;
      const value = node.getAttribute(attribute);
      const allowed = allowedMediaURL(value);
      if (allowed) {
        if (allowed !== value) node.setAttribute(attribute, allowed);
      } else {
        node.removeAttribute(attribute);
        if (name === 'img') node.setAttribute('data-nbv-blocked', value);
      }
    }
  });
  return purifier;
}

const htmlConfig = {
  RETURN_DOM_FRAGMENT: true,
  FORCE_BODY: true,
  FORBID_TAGS: ['form', 'link', 'meta', 'base'],
  FORBID_ATTR: ['action', 'formaction', 'ping'],
};

// Sanitized DocumentFragment of an HTML output; `hadScript` tells whether scripts were removed.
export function sanitizeHTMLOutput(html) {
  const dompurify = instance();
  const fragment = dompurify.sanitize(html, htmlConfig);
  const hadScript = dompurify.removed.some((entry) => {
    const element = entry.element;
    return (element && element.nodeName && element.nodeName.toLowerCase() === 'script') || (entry.attribute && /^on/i.test(entry.attribute.name));
  });
  for (const image of fragment.querySelectorAll('img')) {
    if (image.hasAttribute('data-nbv-blocked') && !image.hasAttribute('src')) {
      image.replaceWith(remoteImagePlaceholder(image.getAttribute('alt') || '', image.getAttribute('data-nbv-blocked')));
    }
  }
  return { fragment, hadScript };
}

// Sanitized SVG document text (with its namespace declared), or null when nothing is left.
export function sanitizeSVG(svgText) {
  const dompurify = instance();
  const fragment = dompurify.sanitize(svgText, {
    USE_PROFILES: { svg: true, svgFilters: true },
    RETURN_DOM_FRAGMENT: true,
  });
  const svg = fragment.querySelector('svg');
  if (!svg) return null;
  return new XMLSerializer().serializeToString(svg);
}
