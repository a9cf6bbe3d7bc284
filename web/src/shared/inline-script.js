// Runs a library that the page carries as inert text. The page's policy allows inline scripts
// only, and an inline script runs when it is inserted; it is removed again at once.
//
//   runInlineScript(doc, text): runs `text` as a classic script (an error in it is reported to
//       the page's error handlers, as any script's would be)

export function runInlineScript(doc, text) {
  const script = doc.createElement('script');
  script.textContent = text;
  try {
    (doc.head || doc.documentElement).appendChild(script);
  } finally {
    script.remove();
  }
}
