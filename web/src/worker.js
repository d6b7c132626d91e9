// The playground's worker: owns the WebAssembly module (compiler, machine,
// listing) and runs programs here, so an endless loop never blocks the page.
// The page stops a run early by ending the worker.
import createVexl from 'vexl-module';

const ready = createVexl();
const SLICE = 2_000_000;  // instructions between two reports of the output

const MAX_OUTPUT = 1 << 20;  // bytes of program output the page takes

function compile(m, msg) {
  const t0 = performance.now();
  const r = m.compile(msg.source, msg.language || 'ja');
  return {
    status: r.status, stderr: r.stderr, ctext: r.ctext, image: r.image, listing: r.listing,
    debugText: r.debugText, lines: r.lines, cMarks: r.cMarks, globals: r.globals || [], ms: performance.now() - t0,
  };
}

// Runs in slices; the first slice's output travels with the compilation,
// so that a short program shows its output in one step.
function run(m, id, compiled, input, limit) {
  const t0 = performance.now();
  const run = new m.Run(compiled.image, input, compiled.debugText);
  let written = 0;
  const slice = () => {
    const end = run.resume(Math.min(SLICE, limit - run.steps()), MAX_OUTPUT - written);
    const out = run.takeOutput();
    written += out.length;
    return [end, out];
  };
  try {
    let [end, out] = slice();
    postMessage({ type: 'compiled', id, ...compiled, output: out });
    while (end === 'steps' && run.steps() < limit) {
      [end, out] = slice();
      if (out.length) postMessage({ type: 'output', id, bytes: out }, [out.buffer]);
    }
    return {
      end, steps: run.steps(), errors: run.takeErrors(), output: run.takeOutput(),
      where: end === 'fault' ? run.where() : [], compileMs: compiled.ms, runMs: performance.now() - t0,
    };
  } finally {
    run.delete();
  }
}

// ---- debugging -------------------------------------------------------------

let session = null;  // {debug, globals, breaks: Map(line -> number)}

function say(acc, r) {
  acc.console += r.console;
  acc.error += r.error;
  if (r.program.length) acc.program.push(r.program);
}

// Makes the session's breakpoints those of the editor's gutter.
function syncBreakpoints(acc, lines) {
  const wanted = new Set(lines);
  for (const [line, number] of session.breaks) {
    if (!wanted.has(line)) { say(acc, session.debug.execute(`delete ${number}`)); session.breaks.delete(line); }
  }
  for (const line of wanted) {
    if (session.breaks.has(line)) continue;
    const r = session.debug.execute(`break ${line}`);
    say(acc, r);
    const m = /Breakpoint (\d+)/.exec(r.console);
    if (m) session.breaks.set(line, Number(m[1]));
  }
}

// What the page shows after every stop.
function stopped(id, acc) {
  const d = session.debug;
  const quiet = (c) => { const r = d.execute(c); return r.console + r.error; };
  const running = d.running();
  let views = {};
  let line = 0;
  let where = '';
  if (running) {
    const stack = quiet('backtrace');
    const m = /:(\d+)/.exec(stack.split('\n')[0]);
    line = m ? Number(m[1]) : 0;
    where = stack.split('\n')[0].replace(/^#0\s+/, '');
    const globals = session.globals.map((g) => quiet(`print ${g}`).replace(/^\$\d+ = /, `${g} = `)).join('');
    views = {
      stack,
      registers: quiet('info registers'),
      variables: quiet('info args') + quiet('info locals') + (globals ? `globals:\n${globals}` : ''),
    };
  }
  const program = new Uint8Array(acc.program.reduce((n, b) => n + b.length, 0));
  acc.program.reduce((at, b) => { program.set(b, at); return at + b.length; }, 0);
  postMessage({ type: 'stopped', id, console: acc.console, error: acc.error, program, running, line, where, views });
}

function debugStart(m, msg) {
  const compiled = compile(m, { ...msg, debug: true });
  postMessage({ type: 'compiled', id: msg.id, ...compiled });
  if (!compiled.image.length) return;
  session?.debug.delete();
  session = {
    debug: new m.Debug(compiled.image, compiled.debugText, msg.source, msg.input),
    globals: compiled.globals, breaks: new Map(),
  };
  const acc = { console: '', error: '', program: [] };
  syncBreakpoints(acc, msg.breakpoints);
  // Without a breakpoint the session stops at the first line of start.
  if (!msg.breakpoints.length) say(acc, session.debug.execute('break start'));
  say(acc, session.debug.execute('run'));
  stopped(msg.id, acc);
}

function debugCommand(msg) {
  const acc = { console: '', error: '', program: [] };
  syncBreakpoints(acc, msg.breakpoints);
  say(acc, session.debug.execute(msg.command));
  stopped(msg.id, acc);
}

onmessage = async (e) => {
  const msg = e.data;
  const m = await ready;
  try {
    if (msg.type === 'warm') {
      warmUp(m, msg.sources);
      postMessage({ type: 'ready' });
    } else if (msg.type === 'debug-start') {
      debugStart(m, msg);
    } else if (msg.type === 'debug') {
      debugCommand(msg);
    } else if (msg.type === 'format') {
      postMessage({ type: 'formatted', id: msg.id, ...m.format(msg.source) });
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
    const r = m.compile(source, 'ja');
    if (!r.image.length) continue;
    const run = new m.Run(r.image, '3 1 4 1 5 9 2 6 -1 0', r.debugText);
    run.resume(200_000, MAX_OUTPUT);
    run.delete();
  }
}
