// Turns text with ANSI escape sequences (as in IPython tracebacks and coloured program output)
// into a DocumentFragment of text nodes and styled <span>s. Only SGR sequences (ESC [ ... m) are
// interpreted; every other escape sequence is dropped. Colours of the 16-colour palette become
// classes (ansi-red-fg, ansi-bright-blue-bg, ...) so the page theme decides the exact shade;
// 256-colour and true-colour values become inline colours.

const paletteNames = ['black', 'red', 'green', 'yellow', 'blue', 'magenta', 'cyan', 'white'];

// xterm's 256-colour cube and grey ramp, for 38;5;n and 48;5;n with n >= 16.
function xterm256(n) {
  if (n < 16) return null;
  if (n >= 232) {
    const level = 8 + (n - 232) * 10;
    return `rgb(${level}, ${level}, ${level})`;
  }
  const index = n - 16;
  const steps = [0, 95, 135, 175, 215, 255];
  const r = steps[Math.floor(index / 36)];
  const g = steps[Math.floor(index / 6) % 6];
  const b = steps[index % 6];
  return `rgb(${r}, ${g}, ${b})`;
}

function paletteClass(n, layer) {
  return n < 8 ? `ansi-${paletteNames[n]}-${layer}` : `ansi-bright-${paletteNames[n - 8]}-${layer}`;
}

function freshState() {
  return { fg: null, bg: null, bold: false, faint: false, italic: false, underline: false, inverse: false };
}

// Applies one SGR parameter list to the state. Colours are {palette: n} or {css: 'rgb(...)'}.
function applySGR(state, params) {
  if (params.length === 0) params = [0];
  for (let i = 0; i < params.length; i += 1) {
    const code = params[i];
    if (code === 0 || Number.isNaN(code)) Object.assign(state, freshState());
    else if (code === 1) state.bold = true;
    else if (code === 2) state.faint = true;
    else if (code === 3) state.italic = true;
    else if (code === 4) state.underline = true;
    else if (code === 7) state.inverse = true;
    else if (code === 21 || code === 22) state.bold = state.faint = false;
    else if (code === 23) state.italic = false;
    else if (code === 24) state.underline = false;
    else if (code === 27) state.inverse = false;
    else if (code >= 30 && code <= 37) state.fg = { palette: code - 30 };
    else if (code >= 90 && code <= 97) state.fg = { palette: code - 90 + 8 };
    else if (code >= 40 && code <= 47) state.bg = { palette: code - 40 };
    else if (code >= 100 && code <= 107) state.bg = { palette: code - 100 + 8 };
    else if (code === 39) state.fg = null;
    else if (code === 49) state.bg = null;
    else if (code === 38 || code === 48) {
      const layer = code === 38 ? 'fg' : 'bg';
      const mode = params[i + 1];
      if (mode === 5 && i + 2 < params.length) {
        const n = params[i + 2];
        if (n >= 0 && n <= 255) state[layer] = n < 16 ? { palette: n } : { css: xterm256(n) };
        i += 2;
      } else if (mode === 2 && i + 4 < params.length) {
        const [r, g, b] = params.slice(i + 2, i + 5).map((v) => Math.min(Math.max(v || 0, 0), 255));
        state[layer] = { css: `rgb(${r}, ${g}, ${b})` };
        i += 4;
      } else {
        // Malformed extended colour: ignore the rest of this sequence.
        break;
      }
    }
  }
}

function isPlain(state) {
  return !state.fg && !state.bg && !state.bold && !state.faint && !state.italic && !state.underline && !state.inverse;
}

function styledSpan(document, state, text) {
  const span = document.createElement('span');
  let fg = state.fg;
  let bg = state.bg;
  if (state.inverse) {
    [fg, bg] = [bg || { role: 'default-bg' }, fg || { role: 'default-fg' }];
  }
  const classes = [];
  const apply = (colour, layer) => {
    if (!colour) return;
    if (colour.palette !== undefined) {
      classes.push(paletteClass(colour.palette, layer));
    } else if (colour.css) {
      // Exact colours go through a custom property so the dark theme can lighten them.
      classes.push(`ansi-rgb-${layer}`);
      span.style.setProperty(`--ansi-${layer}`, colour.css);
    } else if (colour.role) {
      classes.push(`ansi-${colour.role}-${layer}`);
    }
  };
  apply(fg, 'fg');
  apply(bg, 'bg');
  if (state.bold) classes.push('ansi-bold');
  if (state.faint) classes.push('ansi-faint');
  if (state.italic) classes.push('ansi-italic');
  if (state.underline) classes.push('ansi-underline');
  if (classes.length) span.className = classes.join(' ');
  span.textContent = text;
  return span;
}

// Escape sequences: CSI (ESC [ params final), OSC (ESC ] ... BEL or ESC \), and lone two-byte
// escapes. Only CSI ... m changes styling.
const escapePattern = /\u001b(?:\[([0-9;:?]*)([@-~])|\][^\u0007\u001b]*(?:\u0007|\u001b\\)?|[@-Z\\-_]?)/g;

export function ansiToFragment(text, document = globalThis.document) {
  const fragment = document.createDocumentFragment();
  const state = freshState();
  let last = 0;
  const emit = (chunk) => {
    if (!chunk) return;
    fragment.appendChild(isPlain(state) ? document.createTextNode(chunk) : styledSpan(document, state, chunk));
  };
  escapePattern.lastIndex = 0;
  for (let match = escapePattern.exec(text); match; match = escapePattern.exec(text)) {
    emit(text.slice(last, match.index));
    last = escapePattern.lastIndex;
    if (match[2] === 'm') {
      const params = match[1] === '' ? [] : match[1].split(/[;:]/).map((p) => (p === '' ? 0 : Number.parseInt(p, 10)));
      applySGR(state, params);
    }
    if (match[0].length === 0) escapePattern.lastIndex += 1;
  }
  emit(text.slice(last));
  return fragment;
}

// Text with all escape sequences removed (for titles and plain comparisons).
export function stripAnsi(text) {
  return text.replace(escapePattern, '');
}

// Resolves carriage returns the way a terminal shows them: text after a lone "\r" overwrites the
// line from its start (progress bars), and backspaces delete the previous character.
export function applyCarriageReturns(text) {
  if (!text.includes('\r') && !text.includes('\b')) return text;
  const lines = text.replace(/\r\n/g, '\n').split('\n');
  return lines
    .map((line) => {
      let current = line;
      if (current.includes('\r')) {
        const parts = current.split('\r').filter((part, index, all) => part !== '' || index === all.length - 1);
        current = parts.length ? parts[parts.length - 1] : '';
        // A shorter overwrite keeps the tail of the longer line, like a terminal does.
        for (let i = parts.length - 2; i >= 0; i -= 1) {
          if (parts[i].length > current.length) current += parts[i].slice(current.length);
          break;
        }
      }
      while (current.includes('\b')) current = current.replace(/[^\x08]\x08|^\x08+/, '');
      return current;
    })
    .join('\n');
}
