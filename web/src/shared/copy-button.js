// Copy buttons for code: the page's own <button>s (documents cannot make buttons: the sanitizer
// removes them), each copying exactly the code's source text.
//
//   copyButton(doc, sourceText: () => string) -> HTMLButtonElement
//   addCopyButtons(root): wraps every Markdown code block (<pre><code>) in root with a copy
//       button; Mermaid blocks are left alone (they become diagrams: a picture has no code to
//       copy, and display mathematics is copied as TeX by selecting it)
//   copyText(doc, text) -> Promise<boolean>: the clipboard API, or the editing command when
//       the page may not use it (documents from a file, embedded views)

const COPY_ICON =
  '<svg class="lumivale-copy-icon" viewBox="0 0 16 16" width="16" height="16" aria-hidden="true" fill="currentColor"><path d="M0 6.75C0 5.784.784 5 1.75 5h1.5a.75.75 0 0 1 0 1.5h-1.5a.25.25 0 0 0-.25.25v7.5c0 .138.112.25.25.25h7.5a.25.25 0 0 0 .25-.25v-1.5a.75.75 0 0 1 1.5 0v1.5A1.75 1.75 0 0 1 9.25 16h-7.5A1.75 1.75 0 0 1 0 14.25Z"></path><path d="M5 1.75C5 .784 5.784 0 6.75 0h7.5C15.216 0 16 .784 16 1.75v7.5A1.75 1.75 0 0 1 14.25 11h-7.5A1.75 1.75 0 0 1 5 9.25Zm1.75-.25a.25.25 0 0 0-.25.25v7.5c0 .138.112.25.25.25h7.5a.25.25 0 0 0 .25-.25v-7.5a.25.25 0 0 0-.25-.25Z"></path></svg>';
const CHECK_ICON =
  '<svg class="lumivale-copied-icon" viewBox="0 0 16 16" width="16" height="16" aria-hidden="true" fill="currentColor"><path d="M13.78 4.22a.75.75 0 0 1 0 1.06l-7.25 7.25a.75.75 0 0 1-1.06 0L2.22 9.28a.751.751 0 0 1 .018-1.042.751.751 0 0 1 1.042-.018L6 10.94l6.72-6.72a.75.75 0 0 1 1.06 0Z"></path></svg>';

const LABEL = 'Copy code';
const CONFIRMATION_MS = 2000;

function copyWithCommand(doc, text) {
  const area = doc.createElement('textarea');
  area.value = text;
  area.setAttribute('readonly', '');
  area.style.cssText = 'position:fixed;top:0;left:0;width:1px;height:1px;opacity:0;';
  const previous = doc.activeElement;
  doc.body.appendChild(area);
  area.focus({ preventScroll: true });
  area.select();
  let copied = false;
  try {
    copied = doc.execCommand('copy');
  } catch {
    copied = false;
  }
  area.remove();
  previous?.focus?.({ preventScroll: true });
  return copied;
}

export async function copyText(doc, text) {
  const clipboard = doc.defaultView?.navigator?.clipboard;
  if (clipboard && typeof clipboard.writeText === 'function') {
    try {
      await clipboard.writeText(text);
      return true;
    } catch {
      // Not allowed here (no secure context or no permission): the editing command may be.
    }
  }
  return copyWithCommand(doc, text);
}

// The icons, parsed once (a notebook may have thousands of code cells); a clone is adopted by
// whichever document it is appended to.
let parsedIcons = null;
function iconsFor() {
  if (!parsedIcons) {
    const template = document.createElement('template');
    template.innerHTML = COPY_ICON + CHECK_ICON;
    parsedIcons = template.content;
  }
  return parsedIcons;
}

export function copyButton(doc, sourceText) {
  const button = doc.createElement('button');
  button.type = 'button';
  button.className = 'lumivale-copy-button';
  button.setAttribute('aria-label', LABEL);
  button.title = LABEL;
  button.appendChild(iconsFor().cloneNode(true));
  let reset = null;
  button.addEventListener('click', async () => {
    // The button's document now: a Markdown fragment is built in an inert one and adopted.
    const copied = await copyText(button.ownerDocument, sourceText());
    button.dataset.copied = copied ? 'true' : 'false';
    button.setAttribute('aria-label', copied ? 'Copied' : 'Copy failed');
    button.title = copied ? 'Copied' : 'Copy failed';
    clearTimeout(reset);
    reset = setTimeout(() => {
      delete button.dataset.copied;
      button.setAttribute('aria-label', LABEL);
      button.title = LABEL;
    }, CONFIRMATION_MS);
  });
  return button;
}

// A fenced block's text ends with the newline the Markdown renderer adds after the last line.
const fenceSource = (code) => code.textContent.replace(/\n$/, '');

export function addCopyButtons(root) {
  const doc = root.ownerDocument || document;
  for (const code of root.querySelectorAll('pre > code')) {
    const pre = code.parentElement;
    if (code.classList.contains('language-mermaid') || pre.parentElement?.classList.contains('lumivale-code-block')) continue;
    const wrapper = doc.createElement('div');
    wrapper.className = 'lumivale-code-block';
    pre.replaceWith(wrapper);
    wrapper.append(pre, copyButton(doc, () => fenceSource(code)));
  }
}
