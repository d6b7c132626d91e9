// The heat map of a run: each line with code shaded by how often it was
// entered (five shades on a logarithmic scale of the run's largest count),
// lines whose code never ran marked, and the counts in the line's title.
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView } from '@codemirror/view';

const setHeat = StateEffect.define();

export const heatField = StateField.define({
  create: () => Decoration.none,
  update(deco, tr) {
    if (tr.docChanged) deco = Decoration.none;
    for (const e of tr.effects) {
      if (!e.is(setHeat)) continue;
      const counts = e.value || [];
      const doc = tr.state.doc;
      const top = Math.max(1, ...counts.map((c) => c.count));
      const marks = counts.filter((c) => c.line >= 1 && c.line <= doc.lines).map((c) => {
        const shade = c.count === 0 ? 'never-run'
          : `heat-${Math.min(4, Math.floor((4 * Math.log(c.count)) / Math.log(top + 1)))}`;
        const title = c.count === 0 ? 'never ran'
          : `entered ${c.count} time${c.count === 1 ? '' : 's'}, ${c.instructions} instructions`;
        return Decoration.line({ class: shade, attributes: { title, 'data-count': String(c.count) } })
          .range(doc.line(c.line).from);
      });
      deco = Decoration.set(marks, true);
    }
    return deco;
  },
  provide: (f) => EditorView.decorations.from(f),
});

// counts: [{line, count, instructions}] for the lines with code; null clears.
export function showHeat(view, counts) {
  view.dispatch({ effects: setHeat.of(counts) });
}
