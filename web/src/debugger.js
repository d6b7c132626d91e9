// Debugger mode of the page.
export class Debugger {
  constructor(page) { this.page = page; }
  start() { this.page.setStatus('The debugger is not available in this build.'); }
  close() {}
}
