// Bundles the playground into one folder of static files:
//   node build.mjs MODULE.js EXAMPLES_DIR OUT_DIR
// MODULE.js is the WebAssembly module built by emscripten (single file).
// The worker is bundled first and carried inside the page's script as
// text, so the page also works when opened from a folder.
import * as esbuild from 'esbuild';
import { readFileSync, readdirSync, existsSync, mkdirSync, copyFileSync } from 'node:fs';
import { join, dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const [moduleJs, examplesDir, outDir] = process.argv.slice(2).map((p) => resolve(p));
if (!outDir) {
  console.error('usage: node build.mjs MODULE.js EXAMPLES_DIR OUT_DIR');
  process.exit(2);
}

function examples() {
  const text = (name) => (existsSync(join(examplesDir, name)) ? readFileSync(join(examplesDir, name), 'utf8') : '');
  return readdirSync(examplesDir).filter((f) => f.endsWith('.vxl')).sort().map((f) => {
    const name = f.slice(0, -4);
    return { name, source: text(f), input: text(`${name}.in`), output: text(`${name}.out`) };
  });
}

// Resolves the page's three virtual modules.
function virtualModules(workerText) {
  return {
    name: 'virtual',
    setup(build) {
      build.onResolve({ filter: /^vexl-(examples|worker)$/ }, (a) => ({ path: a.path, namespace: 'virtual' }));
      build.onLoad({ filter: /.*/, namespace: 'virtual' }, (a) => (a.path === 'vexl-examples'
        ? { contents: JSON.stringify(examples()), loader: 'json' }
        : { contents: workerText, loader: 'text' }));
    },
  };
}

const common = { bundle: true, minify: true, format: 'iife', target: 'es2020', logLevel: 'warning' };
const worker = await esbuild.build({
  ...common,
  entryPoints: [join(here, 'src/worker.js')],
  alias: { 'vexl-module': moduleJs },
  // The module's Node.js branch is never taken in a browser.
  external: ['fs', 'path', 'crypto'],
  write: false,
});
mkdirSync(outDir, { recursive: true });
await esbuild.build({
  ...common,
  entryPoints: [join(here, 'src/main.js')],
  outfile: join(outDir, 'playground.js'),
  plugins: [virtualModules(worker.outputFiles[0].text)],
});
copyFileSync(join(here, 'index.html'), join(outDir, 'index.html'));
copyFileSync(join(here, 'playground.css'), join(outDir, 'playground.css'));
