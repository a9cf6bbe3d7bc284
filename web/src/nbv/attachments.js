// A Markdown cell's own images: `attachment:NAME` references are replaced by data: URLs built from
// the cell's "attachments" ({NAME: {MIME: base64}}), before the Markdown is converted, so the
// sanitizer only ever sees ordinary image URLs.

import { joinText } from './notebook-model.js';

const preferredTypes = ['image/png', 'image/jpeg', 'image/gif', 'image/webp', 'image/svg+xml'];

function dataURLFor(bundle) {
  if (!bundle || typeof bundle !== 'object' || Array.isArray(bundle)) return null;
  const types = Object.keys(bundle);
  const mime = preferredTypes.find((type) => types.includes(type)) || types.find((type) => type.startsWith('image/'));
  if (!mime) return null;
  if (mime === 'image/svg+xml') {
    // SVG attachments are plain text in the notebook; as an <img> source they cannot run script.
    const text = joinText(bundle[mime]);
    const isBase64 = /^[A-Za-z0-9+/=\s]+$/.test(text) && !text.trim().startsWith('<');
    return isBase64 ? `data:${mime};base64,${text.replace(/\s+/g, '')}` : `data:${mime};charset=utf-8,${encodeURIComponent(text)}`;
  }
  const data = joinText(bundle[mime]).replace(/\s+/g, '');
  return data ? `data:${mime};base64,${data}` : null;
}

function decodeName(name) {
  try {
    return decodeURIComponent(name);
  } catch {
    return name;
  }
}

export function resolveAttachmentReferences(source, attachments) {
  if (!attachments || !source.includes('attachment:')) return source;
  return source.replace(/attachment:([^\s)"'<>]+)/g, (whole, name) => {
    const bundle = attachments[name] ?? attachments[decodeName(name)];
    return dataURLFor(bundle) ?? whole;
  });
}
