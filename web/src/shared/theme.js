// Colour-scheme helpers and the style sheet shared by both pages (GitHub-like syntax colours for
// Prism in light and dark, diagram boxes and their error box, remote-image placeholders, math
// and plain-text fallbacks).
//
//   prefersDarkColorScheme() -> boolean
//   onColorSchemeChange(callback(isDark)) -> unsubscribe()
//   installSharedStyles(doc = document): adds the shared <style> once (idempotent)

import readingCSS from './reading.css';
import sharedCSS from './shared.css';

const DARK_QUERY = '(prefers-color-scheme: dark)';

export function prefersDarkColorScheme() {
  return typeof matchMedia === 'function' && matchMedia(DARK_QUERY).matches;
}

export function onColorSchemeChange(callback) {
  if (typeof matchMedia !== 'function') return () => {};
  const query = matchMedia(DARK_QUERY);
  const listener = (event) => callback(event.matches);
  query.addEventListener('change', listener);
  return () => query.removeEventListener('change', listener);
}

export function installSharedStyles(doc = document) {
  if (doc.getElementById('lumivale-shared-styles')) return;
  const style = doc.createElement('style');
  style.id = 'lumivale-shared-styles';
  style.textContent = sharedCSS + readingCSS;
  (doc.head || doc.documentElement).appendChild(style);
}
