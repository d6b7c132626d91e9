#include <cstdio>
int main(int argc, char**) {
    if (argc < 2) { std::puts("Usage: vexlc inputfile"); return 0; }
    return 0;
}
