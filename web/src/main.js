// The playground page: the editor, the panels and the conversation with the
// worker that compiles and runs. Everything the page needs is bundled into
// one script at build time; nothing is fetched at run time.
import { EditorView, basicSetup } from 'codemirror';
import { keymap } from '@codemirror/view';
import { Prec } from '@codemirror/state';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
import examples from 'vexl-examples';
import workerSource from 'vexl-worker';
import { vexl } from './language.js';
import { readShare, shareHash } from './share.js';
import { parseDiagnostics } from './diagnostics.js';
import { breakpointGutter, breakpointLines } from './breakpoints.js';
import { Debugger } from './debugger.js';
import { heatField, showHeat } from './heatmap.js';

const $ = (id) => document.getElementById(id);
const ui = {
  run: $('run'), debug: $('debug'), stop: $('stop'), share: $('share'), examples: $('examples'),
  limit: $('step-limit'), status: $('status'), input: $('input'), output: $('output'),
  runtimeError: $('runtime-error'), diagnostics: $('diagnostics'), ctext: $('ctext'),
  listing: $('listing'), language: $('language'), format: $('format'),
};

// ---- editor ---------------------------------------------------------------

const view = new EditorView({
  parent: $('editor'),
  doc: '',
  extensions: [
    Prec.highest(keymap.of([{ key: 'Mod-Enter', run: () => { compileAndRun(); return true; } }])),
    breakpointGutter,
    basicSetup,
    vexl,
    lintGutter(),
    heatField,
    EditorView.updateListener.of((u) => { if (u.docChanged) clearMarks(); }),
  ],
});

function source() { return view.state.doc.toString(); }

function setSource(text) {
  view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } });
}

// Selects line n; focus=false only scrolls it into view.
function jumpToLine(n, focus = true) {
  const line = view.state.doc.line(Math.max(1, Math.min(n, view.state.doc.lines)));
  if (!focus) {
    view.dispatch({ effects: EditorView.scrollIntoView(line.from, { y: 'nearest' }) });
    return;
  }
  view.dispatch({ selection: { anchor: line.from, head: line.to }, scrollIntoView: true });
  view.focus();
}

function clearMarks() {
  view.dispatch(setDiagnostics(view.state, []));
  showHeat(view, null);
}

// ---- examples and share links -------------------------------------------

for (const ex of examples) {
  const o = document.createElement('option');
  o.value = ex.name;
  o.textContent = ex.name;
  ui.examples.append(o);
}
ui.examples.addEventListener('change', () => {
  const ex = examples.find((e) => e.name === ui.examples.value);
  if (!ex) return;
  setSource(ex.source);
  ui.input.value = ex.input;
  resetPanels();
});

function loadFromHash() {
  const shared = readShare(location.hash);
  if (!shared) return false;
  setSource(shared.source);
  ui.input.value = shared.input;
  return true;
}
window.addEventListener('hashchange', loadFromHash);

function writeHash() {
  history.replaceState(null, '', shareHash(source(), ui.input.value));
}

ui.share.addEventListener('click', async () => {
  writeHash();
  try {
    await navigator.clipboard.writeText(location.href);
    setStatus('Link copied');
  } catch {
    setStatus('Link in the address bar');
  }
});

// ---- the worker ----------------------------------------------------------

const workerUrl = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
let worker = null;
let nextId = 1;
let current = null;  // the job the page waits for: {id, onMessage}

function startWorker() {
  worker = new Worker(workerUrl);
  worker.postMessage({ type: 'warm', sources: examples.map((e) => e.source) });
  worker.onmessage = (e) => {
    const msg = e.data;
    if (msg.type === 'ready') {
      if (document.body.dataset.ready) return;
      if (current) document.body.dataset.ready = '1';
      else preview();
      return;
    }
    if (current && msg.id === current.id) current.onMessage(msg);
  };
}
startWorker();

// Sends a job; its messages go to onMessage until finish() is called.
function send(msg, onMessage) {
  const id = nextId++;
  current = { id, onMessage };
  worker.postMessage({ ...msg, id });
  return id;
}

// Sends a further message of the current job.
function resend(msg) {
  if (current) worker.postMessage({ ...msg, id: current.id });
}

function finish() {
  current = null;
  ui.stop.disabled = true;
  document.body.dataset.state = 'idle';
}

// Ends a running job at once: the worker is replaced by a fresh one.
function stop(reason) {
  if (!current) return;
  worker.terminate();
  startWorker();
  showRuntimeError(reason, null);
  finish();
  debuggerUi.close();
}
ui.stop.addEventListener('click', () => stop('Stopped.'));

// ---- panels --------------------------------------------------------------

const utf8 = new TextDecoder('utf-8');

// Diagnostics are UTF-8 when the compiler writes them so, else Shift-JIS.
function decodeDiagnostics(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder('shift_jis').decode(bytes);
  }
}

function setStatus(text) { ui.status.textContent = text; }

function resetPanels() {
  ui.output.textContent = '';
  ui.runtimeError.hidden = true;
  ui.runtimeError.textContent = '';
  ui.diagnostics.replaceChildren();
  ui.ctext.replaceChildren();
  ui.listing.replaceChildren();
  clearMarks();
}

function showDiagnostics(text) {
  const items = parseDiagnostics(text);
  ui.diagnostics.replaceChildren(...items.map((d) => {
    const li = document.createElement('li');
    li.textContent = d.text;
    li.className = d.severity;
    if (d.line) {
      li.dataset.line = d.line;
      li.tabIndex = 0;
      li.addEventListener('click', () => jumpToLine(d.line));
    }
    return li;
  }));
  const doc = view.state.doc;
  const marks = items.filter((d) => d.line && d.line <= doc.lines).map((d) => {
    const line = doc.line(d.line);
    return { from: line.from, to: line.to, severity: d.severity, message: d.text };
  });
  view.dispatch(setDiagnostics(view.state, marks));
}

// One element per line; `lineOf(i)` gives the source line of line i, if known.
function fillLines(pre, text, lineOf) {
  const lines = text.split('\n');
  if (lines.length && lines[lines.length - 1] === '') lines.pop();
  pre.replaceChildren(...lines.map((t, i) => {
    const div = document.createElement('div');
    div.textContent = t || ' ';
    const src = lineOf(i, t);
    if (src) div.dataset.src = src;
    return div;
  }));
}

// Hovering a line of any panel highlights the same source line everywhere.
function highlightSource(line) {
  for (const el of document.querySelectorAll('.linked')) el.classList.remove('linked');
  if (!line) return;
  for (const el of document.querySelectorAll(`[data-src="${line}"]`)) el.classList.add('linked');
  const cm = view.dom.querySelectorAll('.cm-line');
  const first = view.state.doc.line(Math.min(line, view.state.doc.lines));
  const block = view.lineBlockAt(first.from);
  for (const el of cm) {
    if (view.posAtDOM(el) === block.from) el.classList.add('linked');
  }
}
for (const pane of [ui.ctext, ui.listing]) {
  pane.addEventListener('mouseover', (e) => highlightSource(e.target.closest('[data-src]')?.dataset.src));
  pane.addEventListener('mouseleave', () => highlightSource(null));
}
view.dom.addEventListener('mousemove', (e) => {
  const pos = view.posAtCoords({ x: e.clientX, y: e.clientY });
  highlightSource(pos == null ? null : view.state.doc.lineAt(pos).number);
});
view.dom.addEventListener('mouseleave', () => highlightSource(null));

// Source line of the code at an address: that of the last line-table
// entry at or before it (table: address, line, address, line, ...).
function lineAt(table, address) {
  let line = 0;
  for (let i = 0; i < table.length && table[i] <= address; i += 2) line = table[i + 1];
  return line;
}

// The listing with each source line written above its first words.
function showListing(listing, table) {
  const src = view.state.doc;
  const rows = [];
  let shown = 0;
  for (const text of listing.split('\n')) {
    if (!text) continue;
    const line = table ? lineAt(table, parseInt(text, 16)) : 0;
    if (line && line !== shown && line <= src.lines) {
      const head = document.createElement('div');
      head.className = 'src';
      head.textContent = `${line}: ${src.line(line).text.trim()}`;
      head.dataset.src = line;
      rows.push(head);
    }
    shown = line;
    const div = document.createElement('div');
    div.textContent = text;
    if (line) div.dataset.src = line;
    rows.push(div);
  }
  ui.listing.replaceChildren(...rows);
}

// Source line of each line of the C text: that of the compiler's last mark
// at or before the line's first byte (marks: offset, line, offset, line, ...).
// Lines of braces only are left out.
function cTextLines(bytes, marks) {
  const lines = [];
  let k = 0;
  let line = 0;
  for (let start = 0; start < bytes.length;) {
    let end = bytes.indexOf(10, start);
    if (end < 0) end = bytes.length;
    while (k < marks.length && marks[k] <= start) { line = marks[k + 1]; k += 2; }
    const text = bytes.subarray(start, end);
    lines.push(text.every((b) => b === 9 || b === 32 || b === 123 || b === 125) ? 0 : line);
    start = end + 1;
  }
  return lines;
}

function showCompilation(msg) {
  showDiagnostics(decodeDiagnostics(msg.stderr));
  const cLines = msg.cMarks && msg.lines ? cTextLines(msg.ctext, msg.cMarks) : [];
  fillLines(ui.ctext, utf8.decode(msg.ctext), (i) => cLines[i]);
  showListing(msg.listing, msg.lines);
}

function showRuntimeError(text, where) {
  ui.runtimeError.hidden = false;
  ui.runtimeError.replaceChildren();
  const head = document.createElement('div');
  head.textContent = text;
  ui.runtimeError.append(head);
  for (const place of where || []) {
    const a = document.createElement(place.line ? 'a' : 'div');
    a.textContent = place.text;
    if (place.line) {
      a.href = '#';
      a.addEventListener('click', (e) => { e.preventDefault(); jumpToLine(place.line); });
    }
    ui.runtimeError.append(a);
  }
}

// ---- compile and run -----------------------------------------------------

// Shows the translation of the source as loaded, without running it.
function preview() {
  send({ type: 'build', source: source(), language: ui.language.value, run: false }, (msg) => {
    showCompilation(msg);
    setStatus('Ready');
    finish();
    document.body.dataset.ready = '1';
  });
}

function compileAndRun() {
  if (current) stop('Stopped.');
  debuggerUi.close();
  resetPanels();
  writeHash();
  const limit = Math.max(1, Number(ui.limit.value) || 50_000_000);
  const started = performance.now();
  const outDecoder = new TextDecoder('utf-8');
  document.body.dataset.state = 'running';
  ui.stop.disabled = false;
  setStatus('Compiling…');
  send({ type: 'build', source: source(), language: ui.language.value, input: ui.input.value, run: true, limit }, (msg) => {
    if (msg.type === 'compiled') {
      if (msg.output) ui.output.textContent += outDecoder.decode(msg.output, { stream: true });
      showCompilation(msg);
      if (!msg.image.length) {
        setStatus(`Compilation failed (${msg.ms.toFixed(1)} ms)`);
        finish();
      } else {
        setStatus('Running…');
      }
    } else if (msg.type === 'output') {
      ui.output.textContent += outDecoder.decode(msg.bytes, { stream: true });
    } else if (msg.type === 'done') {
      ui.output.textContent += outDecoder.decode(msg.output);
      const ms = performance.now() - started;
      if (msg.end === 'fault') showRuntimeError(utf8.decode(msg.errors).trimEnd(), msg.where);
      else if (msg.end === 'steps') showRuntimeError(`Stopped after ${msg.steps} steps: the step limit.`, null);
      else if (msg.end === 'output') showRuntimeError('Stopped: the program wrote 1 MiB of output, as much as the page takes.', null);
      setStatus(`${msg.end === 'finished' ? 'Finished' : 'Ended'}: ${msg.steps} steps · `
        + `compile ${msg.compileMs.toFixed(1)} ms · run ${msg.runMs.toFixed(1)} ms · ${ms.toFixed(0)} ms in all`);
      document.body.dataset.lastRunMs = ms.toFixed(1);
      showHeat(view, msg.lineCounts);
      finish();
    } else if (msg.type === 'failed') {
      showRuntimeError(`Internal error: ${msg.message}`, null);
      finish();
    }
  });
}
ui.run.addEventListener('click', compileAndRun);
// The source in the canonical layout; a source that cannot be laid out
// stays as it is and the status names its line.
ui.format.addEventListener('click', () => {
  if (current) return;
  send({ type: 'format', source: source() }, (msg) => {
    finish();
    if (!msg.ok) {
      setStatus(`Not formatted: line ${msg.line}: ${msg.error}`);
      return;
    }
    if (msg.text !== source()) setSource(msg.text);
    setStatus('Formatted');
  });
});

// The messages in the other language: the translation is shown again.
ui.language.addEventListener('change', () => { if (!current) preview(); });

const debuggerUi = new Debugger({
  view, send, resend, finish, jumpToLine, setStatus, resetPanels, showCompilation, writeHash,
  source, input: () => ui.input.value, breakpoints: () => breakpointLines(view.state),
  appendOutput: (t) => { ui.output.textContent += t; },
  setOutput: (t) => { ui.output.textContent = t; },
  showRuntimeError,
});
ui.debug.addEventListener('click', () => {
  if (current) stop('Stopped.');
  debuggerUi.start();
});

// ---- start ---------------------------------------------------------------

if (!loadFromHash()) {
  const first = examples.find((e) => e.name === 'primes') || examples[0];
  if (first) { setSource(first.source); ui.input.value = first.input; ui.examples.value = first.name; }
}
document.body.dataset.state = 'idle';
// For scripts and tests driving the page.
window.playground = { view };
