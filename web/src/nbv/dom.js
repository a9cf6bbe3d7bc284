// Small DOM helpers shared by the viewer's modules.

// h('div', {className: 'x', dataset: {a: '1'}}, child, 'text', ...) -> HTMLElement.
// Children may be nodes, strings (added as text, never parsed as HTML), arrays, null or false.
export function h(tag, properties = {}, ...children) {
  const element = document.createElement(tag);
  for (const [key, value] of Object.entries(properties || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'dataset') Object.assign(element.dataset, value);
    else if (key === 'className') element.className = value;
    else if (key === 'text') element.textContent = value;
    else if (key.startsWith('aria-') || key === 'role' || key === 'title' || key === 'lang') element.setAttribute(key, value);
    else element[key] = value;
  }
  append(element, children);
  return element;
}

export function append(parent, children) {
  for (const child of children) {
    if (child === null || child === undefined || child === false) continue;
    if (Array.isArray(child)) append(parent, child);
    else if (typeof child === 'string') parent.appendChild(document.createTextNode(child));
    else parent.appendChild(child);
  }
  return parent;
}

// A quiet, bordered note in the page: used for shortened outputs, disabled scripts and widgets,
// and values the viewer could not make sense of.
export function notice(text, kind = 'info') {
  return h('div', { className: `nbv-notice nbv-notice-${kind}`, role: 'note' }, text);
}
