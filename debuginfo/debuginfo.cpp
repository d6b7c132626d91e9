// The debug information model, its lookups and the checksum.
#include "debuginfo.h"

#include <algorithm>

namespace debuginfo {

const char* type_name(Type t) {
    switch (t) {
    case Type::Void: return "void";
    case Type::Int: return "int";
    case Type::Bool: return "bool";
    }
    return "?";
}

const char* storage_name(Storage s) {
    switch (s) {
    case Storage::Global: return "global";
    case Storage::Parameter: return "param";
    case Storage::Local: return "local";
    }
    return "?";
}

std::optional<Word> Variable::address(Word bp, int index) const {
    const long base = storage == Storage::Global ? 0 : long(bp);
    const long a = base + long(location) - long(index);
    if (a < 0 || a > 0xFFFF) return std::nullopt;
    return static_cast<Word>(a);
}

bool DebugInfo::matches(const std::vector<Word>& words) const {
    return words.size() == image_words && checksum == debuginfo::checksum(words);
}

int DebugInfo::line_at(Word pc) const {
    auto it = std::upper_bound(lines.begin(), lines.end(), pc,
                               [](Word a, const LineEntry& e) { return a < e.address; });
    if (it == lines.begin()) return 0;
    return std::prev(it)->line;
}

const Function* DebugInfo::function_at(Word pc) const {
    auto it = std::upper_bound(functions.begin(), functions.end(), pc,
                               [](Word a, const Function& f) { return a < f.entry; });
    if (it == functions.begin()) return nullptr;
    const Function& f = *std::prev(it);
    return f.contains(pc) ? &f : nullptr;
}

const Function* DebugInfo::find_function(std::string_view name) const {
    for (const Function& f : functions)
        if (f.name == name) return &f;
    return nullptr;
}

const Variable* DebugInfo::find_variable(std::string_view name, Word pc) const {
    if (const Function* f = function_at(pc)) {
        for (const Variable& v : f->parameters)
            if (v.name == name) return &v;
        for (const Variable& v : f->locals)
            if (v.name == name) return &v;
    }
    for (const Variable& v : globals)
        if (v.name == name) return &v;
    return nullptr;
}

const Variable* DebugInfo::variable_at(Word pc, unsigned base, Word offset) const {
    const int off = std::int16_t(offset);
    if (base == image::GR4) {
        // Globals are addressed from GR4, which holds 0xFFFF.
        const int address = (0xFFFF + off) & 0xFFFF;
        for (const Variable& v : globals)
            if (v.location == address) return &v;
        return nullptr;
    }
    if (base != image::BP) return nullptr;
    const Function* f = function_at(pc);
    if (!f) return nullptr;
    for (const Variable& v : f->parameters)
        if (v.location == off) return &v;
    for (const Variable& v : f->locals)
        if (v.location == off) return &v;
    return nullptr;
}

std::vector<Word> DebugInfo::addresses_of_line(int line) const {
    std::vector<Word> result;
    if (line <= 0) return result;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].line == line && (i == 0 || lines[i - 1].line != line)) result.push_back(lines[i].address);
    return result;
}

unsigned DebugInfo::global_words() const {
    unsigned words = 0;
    for (const Variable& v : globals) words += v.is_array() ? v.array_size : 1;
    return words;
}

const ElementSite* DebugInfo::element_at(Word pc) const {
    auto it = std::lower_bound(elements.begin(), elements.end(), pc,
                               [](const ElementSite& e, Word a) { return e.address < a; });
    return it != elements.end() && it->address == pc ? &*it : nullptr;
}

const Variable* DebugInfo::array_of(const ElementSite& site) const {
    const Variable* v = find_variable(site.array, site.address);
    return v && v->is_array() ? v : nullptr;
}

bool DebugInfo::source_matches(std::string_view text) const {
    return !source_stamp || (source_stamp->bytes == text.size() && source_stamp->checksum == debuginfo::checksum(text));
}

std::uint64_t checksum(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char b : bytes) {
        h ^= b;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::uint64_t checksum(const std::vector<Word>& words) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    auto byte = [&h](unsigned b) {
        h ^= b;
        h *= 0x100000001b3ULL;
    };
    for (Word w : words) {
        byte(w >> 8);
        byte(w & 0xFF);
    }
    return h;
}

std::string debug_file_name(const std::string& image_name) {
    std::string name = image_name;
    const auto pos = name.rfind(".exec");
    if (pos == std::string::npos) return name + ".dbg";
    return name.replace(pos, 5, ".dbg");
}

}  // namespace debuginfo
