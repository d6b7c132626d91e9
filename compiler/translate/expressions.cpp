// Expressions, variable references and assignments.
#include "node.h"

int expression::translate() { return 0; }
int literal::translate() { return 0; }
int exp_variable::translate() { return 0; }
int assignment::translate() { return 0; }
int assignment_statement::translate() { return 0; }
