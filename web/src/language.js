// Syntax highlighting of vexl sources for the editor: a small stream
// tokenizer with the language's keywords, literals, comments and operators.
import { StreamLanguage } from '@codemirror/language';

const keywords = new Set(['const', 'function', 'return', 'if', 'else', 'while', 'do', 'for',
  'break', 'continue', 'input', 'output']);
const types = new Set(['void', 'int', 'bool']);
const wordOperators = new Set(['and', 'or', 'xor', 'not', 'div', 'mod']);

export const vexl = StreamLanguage.define({
  name: 'vexl',
  startState: () => ({ inComment: false }),
  token(stream, state) {
    if (state.inComment) {
      if (stream.skipTo('*/')) { stream.match('*/'); state.inComment = false; }
      else stream.skipToEnd();
      return 'blockComment';
    }
    if (stream.eatSpace()) return null;
    if (stream.match('/*')) { state.inComment = true; return 'blockComment'; }
    if (stream.match('//')) { stream.skipToEnd(); return 'lineComment'; }
    if (stream.match(/^"(\\"|[^"])*"/)) return 'string';
    if (stream.match(/^[0-9]+/)) return 'number';
    if (stream.match(/^[A-Za-z_][A-Za-z0-9_]*/)) {
      const w = stream.current();
      if (keywords.has(w)) return 'keyword';
      if (types.has(w)) return 'typeName';
      if (wordOperators.has(w)) return 'operatorKeyword';
      if (w === 'true' || w === 'false') return 'bool';
      return 'variableName';
    }
    if (stream.match(/^(:=|><|<=|>=|[-+*<>=])/)) return 'operator';
    stream.next();
    return 'punctuation';
  },
  languageData: { commentTokens: { line: '//', block: { open: '/*', close: '*/' } } },
});
