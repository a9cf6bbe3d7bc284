// Builds our mermaid.min.js from Mermaid's ES module build (dist/mermaid.esm.min.mjs and the
// chunks it imports), so that a page runs only the parts of Mermaid its diagrams use.
//
// Mermaid's one-file build (dist/mermaid.min.js) is a single 5.6 MB function: the browser parses
// all of it, every diagram type and layout engine, in one main-thread task before the first
// diagram can be drawn. Its ES module build is the same code cut into about a hundred modules,
// with each diagram type, layout engine and the KaTeX it uses for labels behind an `import()`.
// A preview page cannot load modules (its policy allows inline scripts only), so each module is
// turned into a factory in a table (web/src/mermaid/runtime.js) with esbuild: its imports become
// calls into the table, its exports getters on the table's record, `import()` a call that the
// page may answer by defining the module then.
//
// The file stays one classic script that works on its own: run whole, it defines every module
// and starts Mermaid (setting globalThis.mermaid, as Mermaid's own file does). Each module also
// begins on a line of its own with a marker comment naming it and its static imports,
//
//   /*@lumivale-mermaid-module NAME DEP,DEP@*/
//
// (the module's script, which may begin with a compile-hint comment, starts on the next line)
// and the text after the last module, which starts Mermaid, with /*@lumivale-mermaid-start@*/.
// The runtime is everything before the first marker. web/src/shared/mermaid-library.js reads
// this layout; the two must change together.
//
//   buildMermaidModules({esbuild, distDir, runtimeFile}) -> Promise<string> (the file's text)
//   MERMAID_ENTRY: the name of Mermaid's entry module in the table

import { existsSync, readFileSync } from 'node:fs';
import path from 'node:path';

export const MERMAID_ENTRY = 'mermaid';
const MARKER = '/*@lumivale-mermaid-';
const TABLE = '__lumivaleMermaidModules';
const REQUIRE = '__lumivaleRequire';
const LOAD = '__lumivaleLoad';
const EXPORT = '__lumivaleExport';

const DYNAMIC_IMPORT = /\bimport\(\s*"(\.{1,2}\/[^"]+\.mjs)"\s*\)/g;
// esbuild's minified modules end with one export clause (legal comments may follow it).
const EXPORT_CLAUSE = /\bexport\s*\{([^{}]*)\}\s*;?((?:\s*\/\*[\s\S]*?\*\/)*\s*)$/;
const GENERATED_REQUIRE = /\brequire\("(\.{1,2}\/[^"]+\.mjs)"\)/g;
const IDENTIFIER = /^[A-Za-z_$][\w$]*$/;

// Modules whose functions nearly all run as soon as the module does: their scripts ask V8 to
// compile every function at once (an explicit compile hint) rather than parse each nested
// function again when it is first called. ELK, the layout engine Mermaid uses for flowcharts by
// default, is 1.7 MB of nested functions that its start-up walks through: compiled eagerly it
// costs about a quarter less in all.
const EAGER_MODULE = /^elk-/;
const COMPILE_HINT = '//# allFunctionsCalledOnLoad';

const count = (text, needle) => text.split(needle).length - 1;

// `export{a as b,c}` -> `__lumivaleExport({b:()=>a,c:()=>c});`: getters keep ES modules' live
// bindings, and the call comes first so that a module in an import cycle sees them early.
function exportCall(clause, fail) {
  const getters = [];
  for (const item of clause.split(',').map((part) => part.trim()).filter(Boolean)) {
    const [local, exported = local] = item.split(/\s+as\s+/);
    if (!IDENTIFIER.test(local) || !IDENTIFIER.test(exported)) fail(`unexpected export "${item}"`);
    getters.push(`${exported}:()=>${local}`);
  }
  return `${EXPORT}({${getters.join(',')}});`;
}

export async function buildMermaidModules({ esbuild, distDir, runtimeFile }) {
  const entryFile = path.join(distDir, 'mermaid.esm.min.mjs');
  const fail = (file, message) => {
    throw new Error(`${path.relative(distDir, file) || file}: ${message}`);
  };
  if (!existsSync(entryFile)) fail(entryFile, 'Mermaid\'s ES module build is missing');

  const names = new Map(); // file -> module name
  const nameOf = (file) => {
    if (!names.has(file)) {
      const name = file === entryFile ? MERMAID_ENTRY : path.basename(file, '.mjs');
      if ([...names.values()].includes(name)) fail(file, `two modules named ${name}`);
      names.set(file, name);
    }
    return names.get(file);
  };
  const resolve = (from, specifier) => {
    const file = path.resolve(path.dirname(from), specifier);
    if (!existsSync(file)) fail(from, `imports ${specifier}, which does not exist`);
    return file;
  };

  // One module: its text with import(), the export clause and (through esbuild's CommonJS
  // output) its imports turned into calls to the table.
  async function convert(file) {
    let source = readFileSync(file, 'utf8');
    if (source.includes(MARKER)) fail(file, `holds the marker ${MARKER}`);
    const loads = [];
    source = source.replace(DYNAMIC_IMPORT, (_, specifier) => {
      const target = resolve(file, specifier);
      loads.push(target);
      return `${LOAD}(${JSON.stringify(nameOf(target))})`;
    });
    const clause = EXPORT_CLAUSE.exec(source);
    if (clause) {
      source = exportCall(clause[1], (message) => fail(file, message)) +
        source.slice(0, clause.index) + clause[2];
    }
    const exportsBefore = count(source, 'module.exports');
    let { code } = await esbuild.transform(source, {
      format: 'cjs',
      minify: true,
      charset: 'ascii',
      legalComments: 'inline',
      sourcefile: path.basename(file),
      logLevel: 'silent',
    });
    if (count(code, 'module.exports') !== exportsBefore) fail(file, 'has exports besides its final export clause');
    const imports = [];
    code = code.replace(GENERATED_REQUIRE, (_, specifier) => {
      const target = resolve(file, specifier);
      imports.push(target);
      return `${REQUIRE}(${JSON.stringify(nameOf(target))})`;
    });
    if (/\bimport\(\s*["'`]\./.test(code)) fail(file, 'has an import() the build did not resolve');
    return { code: code.trim(), imports, loads };
  }

  // Every module reachable from the entry, by import or import(), converted a wave at a time.
  const modules = new Map(); // name -> {code, imports: [name]}
  nameOf(entryFile);
  for (let wave = [entryFile]; wave.length; ) {
    const converted = await Promise.all(wave.map(convert));
    const next = new Set();
    wave.forEach((file, index) => {
      const { code, imports, loads } = converted[index];
      modules.set(nameOf(file), { code, imports: imports.map(nameOf) });
      for (const target of [...imports, ...loads]) if (!modules.has(nameOf(target))) next.add(target);
    });
    wave = [...next].filter((file) => !wave.includes(file));
  }

  // Each module after the modules it imports (as ES modules run them), the entry's first.
  const order = [];
  const placed = new Set();
  const place = (name) => {
    if (placed.has(name)) return;
    placed.add(name);
    modules.get(name).imports.forEach(place);
    order.push(name);
  };
  place(MERMAID_ENTRY);
  [...modules.keys()].forEach(place);

  const runtime = (await esbuild.transform(readFileSync(runtimeFile, 'utf8'), {
    minify: true,
    charset: 'ascii',
    legalComments: 'none',
    logLevel: 'silent',
  })).code.trim();
  const version = JSON.parse(readFileSync(path.join(distDir, '..', 'package.json'), 'utf8')).version;
  const parts = [
    `/*! Mermaid ${version} (MIT, https://github.com/mermaid-js/mermaid), its ES module build as a table of modules */`,
    runtime,
  ];
  for (const name of order) {
    const { code, imports } = modules.get(name);
    parts.push(`${MARKER}module ${name} ${imports.join(',')}@*/`);
    if (EAGER_MODULE.test(name)) parts.push(COMPILE_HINT);
    parts.push(
      `${TABLE}.define(${JSON.stringify(name)},(function(${REQUIRE},${LOAD},${EXPORT}){"use strict";${code}\n}));`,
    );
  }
  parts.push(`${MARKER}start@*/`, `${TABLE}.start(${JSON.stringify(MERMAID_ENTRY)});`);
  return `${parts.join('\n')}\n`;
}
