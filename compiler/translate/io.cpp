// Input and output statements.
#include "node.h"

int input_statement::translate() { return 0; }
int output_statement::translate() { return 0; }
