// Rich outputs (text/html, image/svg+xml) through the pages' shared sanitizer: nothing that could
// run script survives, media may only come from data:, blob: or cid: URLs (cid: resolved through
// the presenter's hook), and other images become quiet placeholders naming their address.

import { resolveAttachmentURLs } from '../shared/attachments.js';
import { replaceUnavailableImages, sanitizeToFragment } from '../shared/sanitize.js';

// Sanitized DocumentFragment of an HTML output, ready to insert. Style elements are kept: each
// HTML output lives in its own shadow root, so they only style that output. `hadScript` tells
// whether the output carried script (shown as a notice when nothing else is left).
export function sanitizeHTMLOutput(html) {
  const hadScript = /<script[\s>]|\son[a-z]+\s*=|javascript:/i.test(html);
  const fragment = sanitizeToFragment(html, { allowStyleElements: true });
  resolveAttachmentURLs(fragment);
  replaceUnavailableImages(fragment);
  for (const link of fragment.querySelectorAll('a[href]')) link.setAttribute('target', '_blank');
  return { fragment, hadScript };
}

// Sanitized SVG document text (namespaces declared, as an image needs), or null when nothing
// drawable is left.
export function sanitizeSVG(svgText) {
  const fragment = sanitizeToFragment(svgText);
  const svg = fragment.querySelector('svg');
  if (!svg) return null;
  return new XMLSerializer().serializeToString(svg);
}
