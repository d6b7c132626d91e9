// vexl: runs one executable image. Program output goes to standard output,
// input comes from standard input, "file not found:" and runtime errors go
// to standard error.
#include <exception>
#include <iostream>

#include "machine.h"

int main(int argc, char** argv) {
    // The machine flushes standard output itself before every input and
    // every error line, so the C stdio synchronisation is not needed.
    std::ios::sync_with_stdio(false);
    if (argc != 2) {
        std::cout << "Usage:vexl.exe filename\n" << std::flush;
        return 0;
    }
    try {
        vm::Machine machine(std::cin, std::cout, std::cerr);
        return machine.run_file(argv[1]);
    } catch (const std::exception& e) {
        // Allocation failures outside the loop (a huge image while loading).
        std::cout.flush();
        std::cerr << "Error:" << e.what() << '\n';
        return 1;
    }
}
