// Program node, function definitions and parameters.
#include "node.h"

int program::declare() { return 0; }
int program::translate() { return 0; }
int define_functions::declare() { return 0; }
int define_functions::translate() { return 0; }
int define_function::declare() { return 0; }
int define_function::translate() { return 0; }
int declare_parameters::translate() { return 0; }
int declare_parameters::signature(FunctionEntry&) { return 0; }
int declare_parameter::translate() { return 0; }
int declare_parameter::signature(FunctionEntry&) { return 0; }
