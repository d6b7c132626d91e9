// The source an image was compiled from, found as the tools look for it.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "debuginfo.h"

namespace debuginfo {

namespace {

bool read_file(const std::string& name, std::string& text) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec)) return false;
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    text = std::move(buffer).str();
    return true;
}

}  // namespace

SourceText load_source(const DebugInfo& info, const std::string& image_name) {
    SourceText s;
    std::string text;
    // As the compiler was given it, else beside the image.
    if (read_file(info.source, text)) {
        s.file = info.source;
    } else {
        const std::filesystem::path beside =
            std::filesystem::path(image_name).parent_path() / std::filesystem::path(info.source).filename();
        if (read_file(beside.string(), text)) s.file = beside.string();
    }
    if (!s.found()) return s;
    s.changed = !info.source_matches(text);
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        s.lines.push_back(std::move(line));
    }
    return s;
}

const std::string& SourceText::line(int n) const {
    static const std::string none;
    if (n < 1 || std::size_t(n) > lines.size()) return none;
    return lines[std::size_t(n) - 1];
}

std::string source_note(const SourceText& source) {
    if (!source.changed) return {};
    return source.file + ": source changed since the debug information was written";
}

}  // namespace debuginfo
