// Entry point of vexlc.
#include "driver.h"

int main(int argc, char** argv) { return compile(argc, argv); }
