// Statement wrapper, statement lists and control flow.
#include "node.h"

int statement::translate() { return 0; }
int statement_s::translate() { return 0; }
int if_statement::translate() { return 0; }
int while_statement::translate() { return 0; }
int do_while_statement::translate() { return 0; }
int for_statement::translate() { return 0; }
int break_statement::translate() { return 0; }
int continue_statement::translate() { return 0; }
