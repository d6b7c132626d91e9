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
      lineCounts: run.lineCounts(),
    };
  } finally {
    run.delete();
  }
}

// ---- debugging -------------------------------------------------------------

let session = null;  // {debug, breaks: Map(line -> breakpoint number)}

function say(acc, r) {
  acc.console += r.console;
  acc.error += r.error;
  if (r.program.length) acc.program.push(r.program);
}

// Makes the session's breakpoints those of the editor's gutter.
function syncBreakpoints(acc, lines) {
  const wanted = new Set(lines);
  for (const [line, number] of session.breaks) {
    if (!wanted.has(line)) { session.debug.deleteBreakpoint(number); session.breaks.delete(line); }
  }
  for (const line of wanted) {
    if (session.breaks.has(line)) continue;
    const r = session.debug.addBreakpoint(line);
    if (r.number) session.breaks.set(line, r.number);
    else acc.error += `${r.error}\n`;
  }
}

// The views, written from the session's structured state.
const hex4 = (v) => `0x${v.toString(16).padStart(4, '0')}`;

// The frame as the debugger's core formats it for every tool.
const frameText = (f) => f.text;

function registersText(s) {
  const rows = s.registers.map((r) => {
    const name = r.name.padEnd(15);
    const address = r.name === 'pc' || r.name === 'bp' || r.name === 'sp';
    const signed = r.value >= 0x8000 ? r.value - 0x10000 : r.value;
    return address ? `${name}${hex4(r.value)}` : `${name}${hex4(r.value)}   ${signed}`;
  });
  const flags = `${s.zeroFlag ? ' ZF' : ''}${s.signFlag ? ' SF' : ''}`;
  rows.push(`${'flags'.padEnd(15)}[${flags} ]     ZF=${+s.zeroFlag} SF=${+s.signFlag}`);
  return `${rows.join('\n')}\n`;
}

const valuesText = (values) => values.map((v) => `${v.name} = ${v.text}\n`).join('');

// What the page shows after every stop.
function stopped(id, acc) {
  const s = session.debug.state();
  let views = {};
  let line = 0;
  let where = '';
  if (s.running && s.frames.length) {
    const top = s.frames[0];
    line = top.line;
    where = frameText(top, true);
    const globals = valuesText(s.globals);
    views = {
      stack: s.frames.map((f, i) => `#${i}  ${frameText(f, i === 0)}\n`).join(''),
      registers: registersText(s),
      variables: valuesText(s.args) + valuesText(s.locals) + (globals ? `globals:\n${globals}` : ''),
    };
  }
  const program = new Uint8Array(acc.program.reduce((n, b) => n + b.length, 0));
  acc.program.reduce((at, b) => { program.set(b, at); return at + b.length; }, 0);
  // The machine view: frames with their variables, globals, registers and
  // flags, and the data words written since the last stop.
  const machine = s.running ? {
    frames: s.frames.map((f) => ({
      level: f.level, function: f.function, name: f.name, line: f.line, bp: f.bp, args: f.args, locals: f.locals,
    })),
    globals: s.globals, registers: s.registers, zeroFlag: s.zeroFlag, signFlag: s.signFlag, written: s.written,
  } : null;
  postMessage({
    type: 'stopped', id, console: acc.console, error: acc.error, program, running: s.running, line, where, views,
    stop: s.stop ? { reason: s.stop.reason, breakpoints: s.stop.breakpoints } : null,
    record: s.record || null, machine,
  });
}

function debugStart(m, msg) {
  const compiled = compile(m, { ...msg, debug: true });
  postMessage({ type: 'compiled', id: msg.id, ...compiled });
  if (!compiled.image.length) return;
  session?.debug.delete();
  session = {
    debug: new m.Debug(compiled.image, compiled.debugText, msg.source, msg.input),
    breaks: new Map(),
  };
  const acc = { console: '', error: '', program: [] };
  syncBreakpoints(acc, msg.breakpoints);
  // Without a breakpoint the session stops at the first line of start.
  if (!msg.breakpoints.length) say(acc, session.debug.execute('tbreak start'));
  say(acc, session.debug.execute('run'));
  stopped(msg.id, acc);
}

// The timeline: to the state after msg.instruction instructions.
function debugSeek(msg) {
  const acc = { console: '', error: '', program: [] };
  say(acc, session.debug.seek(msg.instruction));
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
    } else if (msg.type === 'debug-seek') {
      debugSeek(msg);
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
