// What the documentation generators share: a block of a document between
// two marker lines, printed, checked or replaced from a command line.
//
//   PROGRAM              print the generated block
//   PROGRAM --check DOC  exit 1 unless DOC holds exactly that block
//   PROGRAM --update DOC replace the block in DOC
#pragma once

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace docgen {

inline bool read_file(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

// A generated block: its first and last lines, what it is called in
// messages ("opcode table") and where it comes from.
struct Block {
    const char* program;
    const char* what;
    const char* source;
    const char* begin;
    const char* end;
};

// Splits DOC around the block; false when the markers are missing.
inline bool split(const Block& block, const std::string& doc, std::string& before, std::string& after) {
    const auto b = doc.find(block.begin);
    if (b == std::string::npos) return false;
    auto e = doc.find(block.end, b);
    if (e == std::string::npos) return false;
    e += std::string(block.end).size();
    if (e < doc.size() && doc[e] == '\n') ++e;
    before = doc.substr(0, b);
    after = doc.substr(e);
    return true;
}

// The generator's main: TABLE is the generated block, markers included.
inline int run(const Block& block, const std::string& table, int argc, char** argv) {
    if (argc == 1) {
        std::cout << table;
        return 0;
    }
    const std::string mode = argv[1];
    if (argc != 3 || (mode != "--check" && mode != "--update")) {
        std::cerr << "usage: " << block.program << " [--check DOC | --update DOC]\n";
        return 2;
    }
    const std::string path = argv[2];
    std::string doc, before, after;
    if (!read_file(path, doc) || !split(block, doc, before, after)) {
        std::cerr << block.program << ": " << path << ": no " << block.what << " markers\n";
        return 1;
    }
    const std::string updated = before + table + after;
    if (mode == "--check") {
        if (updated == doc) return 0;
        std::cerr << path << ": the " << block.what << " differs from " << block.source << ";"
                  << " rebuild the update-docs target and commit the result\n";
        return 1;
    }
    if (updated != doc) {
        std::ofstream out(path, std::ios::binary);
        out << updated;
        if (!out.flush()) {
            std::cerr << block.program << ": cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}

}  // namespace docgen
