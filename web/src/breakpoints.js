// Breakpoints in the editor's gutter: a click on a line number's left
// toggles a breakpoint; the set follows the lines as the text changes.
import { StateField, StateEffect, RangeSet } from '@codemirror/state';
import { gutter, GutterMarker, EditorView } from '@codemirror/view';

const toggle = StateEffect.define({ map: (pos, mapping) => mapping.mapPos(pos) });

const marker = new (class extends GutterMarker {
  toDOM() {
    const span = document.createElement('span');
    span.className = 'breakpoint';
    span.textContent = '●';
    return span;
  }
})();

const field = StateField.define({
  create: () => RangeSet.empty,
  update(set, tr) {
    set = set.map(tr.changes);
    for (const e of tr.effects) {
      if (!e.is(toggle)) continue;
      let on = false;
      set.between(e.value, e.value, () => { on = true; });
      set = on ? set.update({ filter: (from) => from !== e.value })
        : set.update({ add: [marker.range(e.value)] });
    }
    return set;
  },
});

export function toggleBreakpoint(view, line) {
  view.dispatch({ effects: toggle.of(view.state.doc.line(line).from) });
}

export function breakpointLines(state) {
  const lines = [];
  const cursor = state.field(field).iter();
  for (; cursor.value; cursor.next()) lines.push(state.doc.lineAt(cursor.from).number);
  return lines;
}

export const breakpointGutter = [
  field,
  gutter({
    class: 'cm-breakpoint-gutter',
    markers: (v) => v.state.field(field),
    initialSpacer: () => marker,
    domEventHandlers: {
      mousedown(view, block) {
        view.dispatch({ effects: toggle.of(block.from) });
        return true;
      },
    },
  }),
  EditorView.baseTheme({ '.cm-breakpoint-gutter .cm-gutterElement': { color: '#c00', cursor: 'pointer', paddingLeft: '4px' } }),
];
