// A collapsible, read-only view of a JSON value (application/json outputs), like the JSON
// renderer of JupyterLab: objects and arrays are <details> elements, the first levels open.

import { h } from './dom.js';

const maxChildrenShown = 1000;
const maxDepth = 200;

function scalar(value) {
  if (value === null) return h('span', { className: 'nbv-json-null' }, 'null');
  switch (typeof value) {
    case 'string':
      return h('span', { className: 'nbv-json-string' }, JSON.stringify(value));
    case 'number':
      return h('span', { className: 'nbv-json-number' }, String(value));
    case 'boolean':
      return h('span', { className: 'nbv-json-boolean' }, String(value));
    default:
      return h('span', {}, String(value));
  }
}

function summary(value) {
  if (Array.isArray(value)) return `Array(${value.length})`;
  const keys = Object.keys(value);
  return `{${keys.slice(0, 4).join(', ')}${keys.length > 4 ? ', …' : ''}}`;
}

function node(key, value, depth) {
  const label = key === null ? null : h('span', { className: 'nbv-json-key' }, `${key}: `);
  if (value === null || typeof value !== 'object') {
    return h('div', { className: 'nbv-json-entry' }, label, scalar(value));
  }
  if (depth >= maxDepth) return h('div', { className: 'nbv-json-entry' }, label, '…');
  const entries = Array.isArray(value) ? value.map((item, index) => [index, item]) : Object.entries(value);
  const details = h('details', { className: 'nbv-json-entry', open: depth < 2 });
  details.appendChild(h('summary', {}, label, h('span', { className: 'nbv-json-summary' }, summary(value))));
  // Children are built when first opened, so a huge value costs nothing until it is looked at.
  const fill = () => {
    if (details.nbvFilled) return;
    details.nbvFilled = true;
    const body = h('div', { className: 'nbv-json-children' });
    for (const [childKey, childValue] of entries.slice(0, maxChildrenShown)) body.appendChild(node(childKey, childValue, depth + 1));
    if (entries.length > maxChildrenShown) body.appendChild(h('div', { className: 'nbv-json-more' }, `… ${entries.length - maxChildrenShown} more`));
    details.appendChild(body);
  };
  if (details.open) fill();
  else details.addEventListener('toggle', fill);
  return details;
}

export function jsonView(value) {
  return h('div', { className: 'nbv-json' }, node(null, value, 0));
}
