// The module table at the head of our mermaid.min.js (a classic script, not an ES module).
//
// mermaid.min.js holds Mermaid's own ES module build, each module turned into a factory that this
// table runs on first use:
//
//   define(name, factory)   registers a module; factory(require, load, exportAs) is its body
//   require(name)           the module's exports, running it (and what it imports) once
//   load(name)              Promise of the exports: what Mermaid's `import()` became
//   start()                 runs Mermaid and sets globalThis.mermaid
//
// Run as one script, the file defines every module and starts Mermaid: it works anywhere. A page
// that knows the file's layout (web/src/shared/mermaid-library.js) can instead define only the
// modules a diagram needs, a few at a time, through two hooks:
//
//   provide(name)           defines a module that is not defined yet (synchronously)
//   prepare(name) -> Promise   gets a module and its imports defined and run before load()
//                              hands it out, in as many steps as the page likes
(() => {
  const scope = globalThis;
  if (scope.__lumivaleMermaidModules) return;
  const factories = Object.create(null);
  const records = Object.create(null);
  const modules = {
    provide: null,
    prepare: null,
    define(name, factory) {
      if (!(name in factories)) factories[name] = factory;
    },
    isDefined: (name) => name in factories,
    isEvaluated: (name) => name in records,
    require(name) {
      const record = records[name];
      if (record) {
        if (record.failure) throw record.failure;
        return record.exports; // also while it runs (an import cycle), as in ES modules
      }
      if (!(name in factories) && modules.provide) modules.provide(name);
      const factory = factories[name];
      if (!factory) throw new Error(`Mermaid module "${name}" is missing`);
      const exports = Object.defineProperty({}, '__esModule', { value: true });
      const exportAs = (getters) => {
        for (const key of Object.keys(getters)) {
          Object.defineProperty(exports, key, { get: getters[key], enumerable: true });
        }
      };
      records[name] = { exports, failure: null };
      try {
        factory(modules.require, modules.load, exportAs);
      } catch (error) {
        records[name].failure = error;
        throw error;
      }
      return exports;
    },
    load(name) {
      return Promise.resolve(modules.prepare ? modules.prepare(name) : undefined).then(() => modules.require(name));
    },
    start(name) {
      const mermaid = modules.require(name).default;
      scope.mermaid = mermaid;
      return mermaid;
    },
  };
  scope.__lumivaleMermaidModules = modules;
})();
