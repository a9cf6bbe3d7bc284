// Resolution of "cid:" image references (attachments that travel beside the page).
//
//   resolveAttachmentURLs(root, resolve = globalThis.lumivaleResolveAttachment)
//
// Run it on sanitized content while it is still a detached fragment, so that the browser never
// requests a cid: URL it cannot load. For every <img src> and every srcset candidate (<img>,
// <source>) that starts with "cid:", `resolve(id)` (id without "cid:") gives the URL to use.
// Without a resolver, cid: URLs stay as they are (the preview panel resolves them itself),
// except in a page opened from a file: nothing serves cid: there, so every reference is one
// that cannot be resolved. An image that is not resolved loses its src (kept in
// data-lumivale-address) and replaceUnavailableImages() shows a placeholder for it.

const CID = /^\s*cid:/i;

const attachmentId = (url) => url.trim().slice(4);

function resolved(resolve, url) {
  try {
    const result = resolve(attachmentId(url));
    return typeof result === 'string' && result ? result : null;
  } catch {
    return null;
  }
}

function resolveSrcset(resolve, srcset) {
  const candidates = [];
  for (const candidate of srcset.split(',')) {
    const [url, ...descriptors] = candidate.trim().split(/\s+/);
    if (!url) continue;
    if (!CID.test(url)) {
      candidates.push(candidate.trim());
      continue;
    }
    const replacement = resolved(resolve, url);
    if (replacement) candidates.push([replacement, ...descriptors].join(' '));
  }
  return candidates.join(', ');
}

const nothingResolves = () => null;

export function resolveAttachmentURLs(root, resolve = globalThis.lumivaleResolveAttachment) {
  if (typeof resolve !== 'function') {
    if (globalThis.location?.protocol !== 'file:') return;
    resolve = nothingResolves;
  }
  for (const image of root.querySelectorAll('img[src]')) {
    const source = image.getAttribute('src');
    if (!CID.test(source)) continue;
    const replacement = resolved(resolve, source);
    if (replacement) {
      image.setAttribute('src', replacement);
    } else {
      image.removeAttribute('src');
      image.setAttribute('data-lumivale-address', source.trim());
    }
  }
  for (const element of root.querySelectorAll('img[srcset], source[srcset]')) {
    const srcset = element.getAttribute('srcset');
    if (!/cid:/i.test(srcset)) continue;
    const replacement = resolveSrcset(resolve, srcset);
    if (replacement) element.setAttribute('srcset', replacement);
    else element.removeAttribute('srcset');
  }
}
