// Calls, call arguments and return.
#include "node.h"

int func_call::translate() { return 0; }
int actual_parameter::translate_arguments(std::vector<ValueType>&, bool) { return 0; }
int func_call_statement::translate() { return 0; }
int return_statement::translate() { return 0; }
