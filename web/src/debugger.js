// Debugger mode of the page: the worker holds a debugger session on the
// program compiled with debug information; the buttons send it the usual
// commands (step, next, finish, continue) and after every stop the page
// asks for the views (variables, registers and flags, the call stack) and
// marks the current line in the editor.
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
    const buttons = { step: 'dbg-step', next: 'dbg-next', finish: 'dbg-finish', continue: 'dbg-continue' };
    for (const [command, id] of Object.entries(buttons)) {
      $(id).addEventListener('click', () => this.command(command));
    }
    $('dbg-quit').addEventListener('click', () => { this.page.finish(); this.close(); });
  }

  start() {
    const { page } = this;
    page.resetPanels();
    page.writeHash();
    $('debugger').hidden = false;
    $('dbg-log').textContent = '';
    this.setViews({});
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
    if (msg.program?.length) page.appendOutput(this.decoder.decode(msg.program, { stream: true }));
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
    for (const id of ['dbg-step', 'dbg-next', 'dbg-finish', 'dbg-continue']) $(id).disabled = on;
    $('stop').disabled = !on;
  }

  close() {
    if (!this.active) return;
    this.active = false;
    $('debugger').hidden = true;
    this.page.view.dispatch({ effects: setCurrent.of(null) });
  }
}
