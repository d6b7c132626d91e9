// Debugger mode of the page: the worker holds a debugger session on the
// program compiled with debug information; the buttons send it the usual
// commands (step, next, finish, continue, and back: reverse-step,
// reverse-next, reverse-continue) and after every stop the page shows the
// views (variables, registers and flags, the call stack, the machine),
// marks the current line in the editor and sets the timeline: the whole
// recorded run, in instructions, which goes to any moment of it.
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView } from '@codemirror/view';

const setCurrent = StateEffect.define();
const currentLine = StateField.define({
  create: () => Decoration.none,
  update(deco, tr) {
    deco = deco.map(tr.changes);
    for (const e of tr.effects) {
      if (!e.is(setCurrent)) continue;
      deco = e.value == null ? Decoration.none
        : Decoration.set([Decoration.line({ class: 'cm-current-line' }).range(tr.state.doc.line(e.value).from)]);
    }
    return deco;
  },
  provide: (f) => EditorView.decorations.from(f),
});

const $ = (id) => document.getElementById(id);

export class Debugger {
  constructor(page) {
    this.page = page;
    this.active = false;
    page.view.dispatch({ effects: StateEffect.appendConfig.of(currentLine) });
    const buttons = {
      step: 'dbg-step', next: 'dbg-next', finish: 'dbg-finish', continue: 'dbg-continue',
      'reverse-step': 'stepback', 'reverse-next': 'nextback', 'reverse-continue': 'continueback',
    };
    for (const [command, id] of Object.entries(buttons)) {
      $(id).addEventListener('click', () => this.command(command));
    }
    $('timeline').addEventListener('change', () => this.seek(Number($('timeline').value)));
    $('dbg-quit').addEventListener('click', () => { this.page.finish(); this.close(); });
  }

  start() {
    const { page } = this;
    page.resetPanels();
    page.writeHash();
    $('debugger').hidden = false;
    $('dbg-log').textContent = '';
    this.setViews({});
    this.output = new Uint8Array(0);  // every byte the program wrote, once
    this.shown = null;  // the machine view's values at the last stop
    $('machine').replaceChildren();
    $('timeline').max = 0;
    $('timeline').value = 0;
    this.active = true;
    this.busy(true);
    page.setStatus('Starting the debugger…');
    this.decoder = new TextDecoder('utf-8');
    document.body.dataset.state = 'debugging';
    page.send({ type: 'debug-start', source: page.source(), input: page.input(), breakpoints: page.breakpoints() },
      (msg) => this.onMessage(msg));
  }

  command(text) {
    if (!this.active) return;
    this.busy(true);
    this.page.resend({ type: 'debug', command: text, breakpoints: this.page.breakpoints() });
  }

  seek(instruction) {
    if (!this.active) return;
    this.busy(true);
    this.page.resend({ type: 'debug-seek', instruction });
  }

  onMessage(msg) {
    const { page } = this;
    if (msg.type === 'compiled') {
      page.showCompilation(msg);
      if (!msg.image.length) { page.setStatus('Compilation failed'); this.close(); page.finish(); }
      return;
    }
    if (msg.type === 'failed') {
      page.showRuntimeError(`Internal error: ${msg.message}`, null);
      this.close();
      page.finish();
      return;
    }
    if (msg.type !== 'stopped') return;
    if (msg.program?.length) {
      const all = new Uint8Array(this.output.length + msg.program.length);
      all.set(this.output);
      all.set(msg.program, this.output.length);
      this.output = all;
    }
    // The output as it stood at this moment of the run.
    const upTo = msg.record ? Math.min(msg.record.output, this.output.length) : this.output.length;
    page.setOutput(new TextDecoder('utf-8').decode(this.output.subarray(0, upTo)));
    this.showRecord(msg.record);
    this.showMachine(msg.machine);
    const log = $('dbg-log');
    log.textContent += msg.console + (msg.error ? msg.error : '');
    log.scrollTop = log.scrollHeight;
    this.setViews(msg.views || {});
    page.view.dispatch({ effects: setCurrent.of(msg.line || null) });
    if (msg.line) page.jumpToLine(msg.line, false);
    $('dbg-where').textContent = msg.where || '';
    this.busy(false);
    if (!msg.running) {
      page.setStatus('The program has ended');
      for (const id of ['dbg-step', 'dbg-next', 'dbg-finish', 'dbg-continue']) $(id).disabled = true;
      const back = !!msg.record && msg.record.end > 0;
      for (const id of ['stepback', 'nextback', 'continueback', 'timeline']) $(id).disabled = !back;
    } else {
      page.setStatus(msg.line ? `Stopped at line ${msg.line}` : 'Stopped');
    }
    document.body.dataset.state = msg.running ? 'stopped' : 'ended';
  }

  setViews(v) {
    $('dbg-variables').textContent = v.variables || '';
    $('dbg-registers').textContent = v.registers || '';
    $('dbg-stack').textContent = v.stack || '';
  }

  busy(on) {
    for (const id of ['dbg-step', 'dbg-next', 'dbg-finish', 'dbg-continue', 'stepback', 'nextback', 'continueback',
      'timeline']) $(id).disabled = on;
    $('stop').disabled = !on;
    // Until the worker answers, the page is neither stopped nor ended.
    if (on) document.body.dataset.state = 'busy';
  }

  showRecord(record) {
    const t = $('timeline');
    if (!record) { t.max = 0; t.value = 0; $('timeline-at').textContent = ''; return; }
    t.max = record.end;
    t.value = record.now;
    $('timeline-at').textContent = `instruction ${record.now} of ${record.end}`
      + (record.now < record.end ? ' (replaying)' : '');
  }

  // The machine view: the frames along the bp chain with their parameters
  // and locals, the globals, the registers and flags, and the data words
  // written since the last stop; what changed since then is highlighted.
  showMachine(m) {
    const box = $('machine');
    if (!m) { box.replaceChildren(); this.shown = null; return; }
    const before = this.shown || new Map();
    const now = new Map();
    const el = (tag, cls, text) => {
      const e = document.createElement(tag);
      if (cls) e.className = cls;
      if (text != null) e.textContent = text;
      return e;
    };
    const value = (key, label, text) => {
      now.set(key, text);
      const changed = this.shown && before.get(key) !== text;
      const row = el('div', changed ? 'value changed' : 'value', `${label} = ${text}`);
      row.dataset.key = key;
      return row;
    };
    const hex4 = (v) => `0x${v.toString(16).padStart(4, '0')}`;
    const frames = el('div', 'frames');
    frames.append(el('h3', null, 'Stack frames'));
    // Frames are matched from the outermost, which stays put while calls come and go.
    const depth = m.frames.length;
    for (const f of m.frames) {
      const id = `${depth - f.level}:${f.function}`;
      const frame = el('div', 'frame');
      frame.append(el('div', 'frame-head', `#${f.level} ${f.name} (bp ${hex4(f.bp)})`
        + (f.line ? ` line ${f.line}` : '')));
      for (const v of f.args) frame.append(value(`${id}:${v.name}`, v.name, v.text));
      for (const v of f.locals) frame.append(value(`${id}:${v.name}`, v.name, v.text));
      frames.append(frame);
    }
    const globals = el('div', 'globals');
    globals.append(el('h3', null, 'Globals'));
    for (const v of m.globals) globals.append(value(`g:${v.name}`, v.name, v.text));
    const regs = el('div', 'registers');
    regs.append(el('h3', null, 'Registers and flags'));
    for (const r of m.registers) regs.append(value(`r:${r.name}`, r.name, hex4(r.value)));
    regs.append(value('f:ZF', 'ZF', String(+m.zeroFlag)));
    regs.append(value('f:SF', 'SF', String(+m.signFlag)));
    const memory = el('div', 'memory');
    memory.append(el('h3', null, 'Memory written'));
    for (const w of this.shown ? m.written : []) {
      memory.append(el('div', 'word changed', `${hex4(w.address)}: ${hex4(w.old)} → ${hex4(w.value)}`));
    }
    box.replaceChildren(frames, globals, regs, memory);
    this.shown = now;
  }

  close() {
    if (!this.active) return;
    this.active = false;
    $('debugger').hidden = true;
    this.page.view.dispatch({ effects: setCurrent.of(null) });
  }
}
