// Sanitizing of untrusted document HTML/SVG with DOMPurify, and neutralising of everything that
// would make the page reach the network.
//
//   sanitizeToFragment(html, {allowStyleElements = false}) -> DocumentFragment
//       Parsed in an inert document: nothing in it loads or runs until it is inserted.
//       Scripts, event handlers, javascript: URLs, frames, forms and SVG animation are removed;
//       CSS that could fetch (url(), @import) is dropped from style attributes and elements;
//       media/srcset/SVG references that are not data:, blob: or cid: are removed.
//   sanitizeHTML(html, options) -> string (the same, serialised)
//   isEmbeddedURL(url) -> true for data:, blob: and cid: URLs (what a preview may show)
//   isRemoteURL(url) -> true for http(s) and protocol-relative URLs
//   replaceUnavailableImages(root): turns every <img> whose source is neither embedded nor cid:
//       into a quiet placeholder showing its alt text and address (run before insertion)
//   imagePlaceholder(doc, alt, address) -> Element

import createDOMPurify from 'dompurify';

const EMBEDDED_URL = /^\s*(?:data|blob|cid):/i;
const REMOTE_URL = /^\s*(?:[a-z][a-z0-9+.-]*:)?\/\//i;
const FETCHING_CSS = /url\s*\(|@import|image-set\s*\(|expression\s*\(/i;

export const isEmbeddedURL = (url) => EMBEDDED_URL.test(String(url ?? ''));
export const isRemoteURL = (url) => REMOTE_URL.test(String(url ?? '')) || /^\s*https?:/i.test(String(url ?? ''));

// SVG elements whose href may point at another resource.
const SVG_REFERENCING = new Set(['image', 'use', 'feimage', 'pattern', 'lineargradient', 'radialgradient', 'filter', 'textpath', 'mpath', 'a']);

function neutraliseCSS(css) {
  return css.replace(/@import[^;]*;?/gi, '').replace(/url\s*\((?!\s*['"]?\s*data:)[^)]*\)/gi, 'none');
}

// Removes what could fetch or act from an element's attributes (the purifier has already dropped
// what its allow-lists refuse).
function neutraliseAttributes(node) {
  if (!node.getAttribute) return;
  const tag = node.nodeName.toLowerCase();

  const style = node.getAttribute('style');
  if (style && FETCHING_CSS.test(style)) node.removeAttribute('style');

  for (const name of ['srcset', 'imagesrcset']) {
    const value = node.getAttribute(name);
    if (value !== null && value.split(',').some((candidate) => candidate.trim() && !isEmbeddedURL(candidate))) {
      node.removeAttribute(name);
    }
  }
  if (tag !== 'img') {
    for (const name of ['src', 'poster', 'background']) {
      const value = node.getAttribute(name);
      if (value !== null && !isEmbeddedURL(value)) node.removeAttribute(name);
    }
  }
  if (SVG_REFERENCING.has(tag) && node.namespaceURI === 'http://www.w3.org/2000/svg') {
    for (const name of ['href', 'xlink:href']) {
      const value = node.getAttribute(name);
      if (value === null || value.trim().startsWith('#') || isEmbeddedURL(value)) continue;
      if (tag === 'a' && /^\s*(?:https?|mailto):/i.test(value)) continue;
      node.removeAttribute(name);
    }
  }
  if (tag === 'a' && node.hasAttribute('href')) {
    node.setAttribute('rel', 'noopener noreferrer');
  }
  if (tag === 'input') {
    if ((node.getAttribute('type') || '').toLowerCase() !== 'checkbox') {
      node.remove();
      return;
    }
    node.setAttribute('disabled', '');
  }
}

// DOMPurify parses a configuration into its allow-lists on every call unless the configuration is
// set once on the instance; a notebook sanitizes thousands of outputs, so each kind of call has
// an instance of its own with its configuration set, made when first needed.
const purifiers = new Map();

function purifierFor(returnFragment, allowStyleElements) {
  const key = `${returnFragment}/${allowStyleElements}`;
  let purifier = purifiers.get(key);
  if (purifier) return purifier;
  purifier = createDOMPurify(window);
  purifier.addHook('uponSanitizeElement', (node, data) => {
    if (data.tagName === 'style' && allowStyleElements && FETCHING_CSS.test(node.textContent || '')) {
      node.textContent = neutraliseCSS(node.textContent || '');
    }
  });
  purifier.addHook('afterSanitizeAttributes', neutraliseAttributes);
  purifier.setConfig({
    RETURN_DOM_FRAGMENT: returnFragment,
    FORBID_TAGS: [
      ...(allowStyleElements ? [] : ['style']),
      'form', 'button', 'select', 'option', 'textarea', 'dialog',
      'animate', 'animateMotion', 'animateTransform', 'set', 'discard',
      'base', 'link', 'meta', 'iframe', 'frame', 'frameset', 'object', 'embed', 'portal',
    ],
    FORBID_ATTR: ['formaction', 'action', 'ping', 'srcdoc', 'autofocus'],
    ADD_ATTR: allowStyleElements ? ['scoped'] : [],
    ALLOW_UNKNOWN_PROTOCOLS: false,
  });
  purifiers.set(key, purifier);
  return purifier;
}

function purify(html, options, returnFragment) {
  return purifierFor(returnFragment, Boolean(options.allowStyleElements)).sanitize(String(html ?? ''));
}

export function sanitizeToFragment(html, options = {}) {
  return purify(html, options, true);
}

export function sanitizeHTML(html, options = {}) {
  return purify(html, options, false);
}

const PICTURE_ICON =
  '<svg class="lumivale-image-placeholder-icon" viewBox="0 0 16 16" aria-hidden="true"><path d="M16 13.25A1.75 1.75 0 0 1 14.25 15H1.75A1.75 1.75 0 0 1 0 13.25V2.75C0 1.784.784 1 1.75 1h12.5c.966 0 1.75.784 1.75 1.75ZM1.75 2.5a.25.25 0 0 0-.25.25v10.5c0 .138.112.25.25.25h.94l.03-.03 6.077-6.078a1.75 1.75 0 0 1 2.412-.06L14.5 10.31V2.75a.25.25 0 0 0-.25-.25Zm12.5 11a.25.25 0 0 0 .25-.25v-.917l-4.298-3.889a.25.25 0 0 0-.344.009L4.81 13.5ZM7 6a2 2 0 1 1-3.999.001A2 2 0 0 1 7 6ZM5.5 6a.5.5 0 1 0-1 0 .5.5 0 0 0 1 0Z"></path></svg>';

export function imagePlaceholder(doc, alt, address) {
  const box = doc.createElement('span');
  box.className = 'lumivale-image-placeholder';
  box.setAttribute('role', 'img');
  const remote = isRemoteURL(address);
  const label = alt || (remote ? 'Remote image' : 'Image');
  box.setAttribute('aria-label', `${label} (${remote ? 'not loaded' : 'not available'})`);
  box.title = remote ? 'Remote images are not loaded in previews' : 'Image not available';
  const template = doc.createElement('template');
  template.innerHTML = PICTURE_ICON;
  box.appendChild(template.content);
  const text = doc.createElement('span');
  if (alt) {
    const altText = doc.createElement('span');
    altText.className = 'lumivale-image-placeholder-alt';
    altText.textContent = alt;
    text.append(altText, doc.createTextNode(' '));
  }
  const addressText = doc.createElement('span');
  addressText.className = 'lumivale-image-placeholder-address';
  addressText.textContent = address || '';
  text.appendChild(addressText);
  box.appendChild(text);
  return box;
}

export function replaceUnavailableImages(root) {
  const doc = root.ownerDocument || document;
  for (const image of root.querySelectorAll('img')) {
    const source = image.getAttribute('src') || '';
    if (source && isEmbeddedURL(source)) continue;
    const address = source || image.getAttribute('data-lumivale-address') || '';
    image.replaceWith(imagePlaceholder(doc, image.getAttribute('alt') || '', address));
  }
}
