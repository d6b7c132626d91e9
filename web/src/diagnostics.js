// The compiler's diagnostics as the page shows them: one entry per printed
// line, with its severity and source line where the line names one, in
// either language.
const kinds = { 'エラー': 'error', '警告': 'warning', error: 'error', warning: 'warning' };

export function parseDiagnostics(text) {
  const items = [];
  for (const line of text.split('\n')) {
    if (!line) continue;
    const m = /^(エラー|警告|error|warning)(?:\((\d+)\))?: /.exec(line);
    items.push({
      text: line,
      severity: m ? kinds[m[1]] : 'info',
      line: m && m[2] && Number(m[2]) > 0 ? Number(m[2]) : 0,
    });
  }
  return items;
}
