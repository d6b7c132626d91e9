// vexlc -Wc-compat: warnings where the C translation of a program would not
// compile, or would compute something else than the machine. Runs over the
// translated tree; adds warnings to the diagnostics list.
#pragma once

class program;

void check_c_compat(const program* root);
