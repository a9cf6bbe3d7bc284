// Prism grammars for the kernels people run in Jupyter. The page ships Prism with its default
// languages and Python; the others are bundled here and evaluated only when a notebook needs
// them (each component registers itself on the global Prism, after its dependencies). Fence
// labels in Markdown cells take the renderer's aliases, as on the Markdown page; kernel and
// cell-magic names add their own for the grammars bundled here.

import { FENCE_ALIASES } from 'lumivale:fence-languages';

/* eslint-disable global-require */
const loaders = {
  clike: () => {},
  javascript: () => {},
  markup: () => {},
  css: () => {},
  python: () => {},
  c: () => require('prismjs/components/prism-c.js'),
  cpp: () => require('prismjs/components/prism-cpp.js'),
  java: () => require('prismjs/components/prism-java.js'),
  scala: () => require('prismjs/components/prism-scala.js'),
  kotlin: () => require('prismjs/components/prism-kotlin.js'),
  csharp: () => require('prismjs/components/prism-csharp.js'),
  fsharp: () => require('prismjs/components/prism-fsharp.js'),
  go: () => require('prismjs/components/prism-go.js'),
  ruby: () => require('prismjs/components/prism-ruby.js'),
  typescript: () => require('prismjs/components/prism-typescript.js'),
  r: () => require('prismjs/components/prism-r.js'),
  julia: () => require('prismjs/components/prism-julia.js'),
  bash: () => require('prismjs/components/prism-bash.js'),
  sql: () => require('prismjs/components/prism-sql.js'),
  rust: () => require('prismjs/components/prism-rust.js'),
  json: () => require('prismjs/components/prism-json.js'),
  latex: () => require('prismjs/components/prism-latex.js'),
  matlab: () => require('prismjs/components/prism-matlab.js'),
  haskell: () => require('prismjs/components/prism-haskell.js'),
  lua: () => require('prismjs/components/prism-lua.js'),
  yaml: () => require('prismjs/components/prism-yaml.js'),
  powershell: () => require('prismjs/components/prism-powershell.js'),
  ocaml: () => require('prismjs/components/prism-ocaml.js'),
  wolfram: () => require('prismjs/components/prism-wolfram.js'),
};

const dependencies = {
  c: ['clike'],
  cpp: ['c'],
  java: ['clike'],
  scala: ['java'],
  kotlin: ['clike'],
  csharp: ['clike'],
  fsharp: ['clike'],
  go: ['clike'],
  ruby: ['clike'],
  typescript: ['javascript'],
};

// Kernel and cell-magic language names mapped to Prism grammar names, after the fence aliases.
const aliases = {
  ...FENCE_ALIASES,
  python3: 'python',
  python2: 'python',
  ipython: 'python',
  ipython2: 'python',
  ipython3: 'python',
  sage: 'python',
  pypy3: 'python',
  'c++11': 'cpp',
  'c++14': 'cpp',
  'c++17': 'cpp',
  'c++20': 'cpp',
  xcpp: 'cpp',
  cling: 'cpp',
  'c#': 'csharp',
  cs: 'csharp',
  '.net-csharp': 'csharp',
  'f#': 'fsharp',
  '.net-fsharp': 'fsharp',
  '.net-powershell': 'powershell',
  pwsh: 'powershell',
  zsh: 'bash',
  script: 'bash',
  node: 'javascript',
  nodejs: 'javascript',
  octave: 'matlab',
  kt: 'kotlin',
  tex: 'latex',
  mathematica: 'wolfram',
  wl: 'wolfram',
  golang: 'go',
  yml: 'yaml',
};

export function grammarName(language) {
  const name = String(language || '').trim().toLowerCase();
  return aliases[name] || name;
}

function load(name, seen = new Set()) {
  if (seen.has(name)) return;
  seen.add(name);
  for (const dependency of dependencies[name] || []) load(dependency, seen);
  const Prism = globalThis.Prism;
  if (!Prism || !Prism.languages || Prism.languages[name]) return;
  const loader = loaders[name];
  if (!loader) return;
  try {
    loader();
  } catch {
    // A grammar that fails to register leaves its cells plain.
  }
}

// The Prism grammar for a language name, loading a bundled one when needed; null when Prism is
// absent or has no grammar for it.
export function grammarFor(language) {
  const Prism = globalThis.Prism;
  if (!Prism || !Prism.languages || typeof Prism.highlight !== 'function') return null;
  const name = grammarName(language);
  if (!Prism.languages[name]) load(name);
  return Prism.languages[name] ? { name, grammar: Prism.languages[name] } : null;
}
