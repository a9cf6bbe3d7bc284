// Code highlighting with Prism (loaded by the page with `window.Prism = {manual: true}` set
// before its core, so Prism never runs on its own).
//
//   LANGUAGE_ALIASES: fence label (lower case) -> Prism grammar name
//   prismLanguageFor(label) -> the name of a loaded grammar for a fence label, or null
//   highlightCode(root): highlights every <pre><code class="language-…"> whose language is
//       loaded; blocks in other languages stay plain. Never throws.

export const LANGUAGE_ALIASES = Object.freeze({
  js: 'javascript', mjs: 'javascript', cjs: 'javascript', jsx: 'javascript', node: 'javascript',
  ts: 'typescript', tsx: 'typescript', mts: 'typescript', cts: 'typescript',
  py: 'python', py3: 'python', python3: 'python', ipython: 'python', ipython3: 'python', gyp: 'python',
  rb: 'ruby', gemspec: 'ruby', rake: 'ruby',
  sh: 'bash', shell: 'bash', zsh: 'bash', ksh: 'bash', bash: 'bash',
  console: 'shell-session', 'sh-session': 'shell-session', shellsession: 'shell-session', terminal: 'shell-session',
  html: 'markup', htm: 'markup', xhtml: 'markup', xml: 'markup', svg: 'markup', plist: 'markup', vue: 'markup',
  'c++': 'cpp', cc: 'cpp', cxx: 'cpp', hpp: 'cpp', hh: 'cpp', hxx: 'cpp', 'objective-c++': 'cpp', objcpp: 'cpp',
  h: 'c', objc: 'c', 'objective-c': 'c',
  yml: 'yaml', golang: 'go', rs: 'rust', jsonc: 'json', json5: 'json', geojson: 'json', ipynb: 'json',
  psql: 'sql', mysql: 'sql', sqlite: 'sql', postgres: 'sql', postgresql: 'sql',
});

export function prismLanguageFor(label) {
  const Prism = globalThis.Prism;
  if (!Prism || !Prism.languages || !label) return null;
  const name = String(label).trim().toLowerCase();
  for (const candidate of [LANGUAGE_ALIASES[name], name]) {
    if (candidate && Object.prototype.hasOwnProperty.call(Prism.languages, candidate) &&
        typeof Prism.languages[candidate] === 'object') {
      return candidate;
    }
  }
  return null;
}

function fenceLanguage(code) {
  for (const name of code.classList) {
    if (name.startsWith('language-')) return name.slice('language-'.length);
  }
  return null;
}

export function highlightCode(root) {
  const Prism = globalThis.Prism;
  if (!Prism || typeof Prism.highlightElement !== 'function') return;
  for (const code of root.querySelectorAll('pre > code[class*="language-"]')) {
    if (code.dataset.highlighted) continue;
    const label = fenceLanguage(code);
    const language = prismLanguageFor(label);
    if (!language) continue;
    code.dataset.highlighted = 'true';
    for (const name of [...code.classList]) if (name.startsWith('language-')) code.classList.remove(name);
    code.classList.add(`language-${language}`);
    code.parentElement.classList.add(`language-${language}`);
    try {
      Prism.highlightElement(code, false);
    } catch {
      // A grammar that fails on this text leaves the block plain.
    }
  }
}
