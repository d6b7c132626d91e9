// Variable and constant declarations.
#include "node.h"

int declarations::translate() { return 0; }
int declare_variables::translate() { return 0; }
int declare_valiable::translate(bool, ValueType) { return 0; }
