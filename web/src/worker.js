// The playground's worker: owns the WebAssembly module (compiler, machine,
// listing) and runs programs here, so an endless loop never blocks the page.
// The page stops a run early by ending the worker.
import createVexl from 'vexl-module';

const ready = createVexl();
const SLICE = 2_000_000;  // instructions between two reports of the output

function compile(m, msg) {
  const t0 = performance.now();
  const r = m.compile(msg.source);
  return {
    status: r.status, stderr: r.stderr, ctext: r.ctext, image: r.image,
    listing: r.listing, ms: performance.now() - t0,
  };
}

// Runs in slices; the first slice's output travels with the compilation,
// so that a short program shows its output in one step.
function run(m, id, compiled, input, limit) {
  const t0 = performance.now();
  const run = new m.Run(compiled.image, input);
  try {
    let end = run.resume(Math.min(SLICE, limit));
    postMessage({ type: 'compiled', id, ...compiled, output: run.takeOutput() });
    while (end === 'limit' && run.steps() < limit) {
      end = run.resume(Math.min(SLICE, limit - run.steps()));
      const out = run.takeOutput();
      if (out.length) postMessage({ type: 'output', id, bytes: out }, [out.buffer]);
    }
    return {
      end, steps: run.steps(), errors: run.takeErrors(), output: run.takeOutput(), pc: run.pc(),
      registers: run.registers(), compileMs: compiled.ms, runMs: performance.now() - t0,
    };
  } finally {
    run.delete();
  }
}

onmessage = async (e) => {
  const msg = e.data;
  const m = await ready;
  try {
    if (msg.type === 'warm') {
      warmUp(m, msg.sources);
      postMessage({ type: 'ready' });
    } else if (msg.type === 'build') {
      const compiled = compile(m, msg);
      if (msg.run && compiled.image.length) {
        postMessage({ type: 'done', id: msg.id, ...run(m, msg.id, compiled, msg.input, msg.limit) });
      } else {
        postMessage({ type: 'compiled', id: msg.id, ...compiled });
      }
    }
  } catch (err) {
    postMessage({ type: 'failed', id: msg.id, message: String(err && err.message || err) });
  }
};
// Compiling and running the examples once at start warms the module up (the
// browser compiles and optimises WebAssembly functions as they get used), so
// that the user's first run is as quick as the ones after it.
function warmUp(m, sources) {
  for (const source of sources) {
    const r = m.compile(source);
    if (!r.image.length) continue;
    const run = new m.Run(r.image, '3 1 4 1 5 9 2 6 -1 0');
    run.resume(200_000);
    run.delete();
  }
}
