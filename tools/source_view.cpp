// The source-annotated listing of vexldump.
#include "source_view.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "listing.h"

namespace source_view {

namespace {

bool read_lines(const std::string& file, std::vector<std::string>& lines) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return true;
}

std::string hex4(unsigned w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", w);
    return buf;
}

// The variable a memory operand at pc addresses, as " ; name" or " ; name[]"
// for an element (addressed through GR1 after LD GR1,base; POP GR2;
// SUB GR1,GR2), or "".
std::string operand_note(const std::vector<image::Word>& words, const debuginfo::DebugInfo& info, std::size_t pc) {
    const image::Word w = words[pc];
    const image::OpInfo& op = image::op_info(image::opcode_of(w));
    if ((op.form != image::Form::M && op.form != image::Form::A) || image::opcode_of(w) == image::LAD ||
        pc + 1 >= words.size())
        return {};
    const unsigned x = image::field_x(w);
    const image::Word adr = words[pc + 1];
    const auto at = static_cast<image::Word>(pc);
    if (x == image::GR4 || x == image::BP) {
        const debuginfo::Variable* v = info.variable_at(at, x, adr);
        return v ? "  ; " + v->name : std::string();
    }
    if (x != image::GR1 || pc < 3) return {};
    const image::Word load = words[pc - 3];
    if (words[pc - 2] != image::make_word(image::POP, image::GR2) ||
        words[pc - 1] != image::make_word(image::SUB_R, image::GR1, image::GR2) ||
        image::opcode_of(load) != image::LD_R || image::field_r(load) != image::GR1)
        return {};
    const debuginfo::Variable* v = info.variable_at(at, image::field_x(load), adr);
    return v && v->is_array() ? "  ; " + v->name + "[]" : std::string();
}

}  // namespace

const std::string& Source::line(int n) const {
    static const std::string none;
    if (n < 1 || static_cast<std::size_t>(n) > lines.size()) return none;
    return lines[static_cast<std::size_t>(n) - 1];
}

Source load_source(const debuginfo::DebugInfo& info, const std::string& image_name) {
    Source s;
    s.name = info.source;
    s.found = read_lines(info.source, s.lines);
    if (!s.found) {
        const auto beside = std::filesystem::path(image_name).parent_path() /
                            std::filesystem::path(info.source).filename();
        s.lines.clear();
        s.found = read_lines(beside.string(), s.lines);
    }
    return s;
}

std::string annotated_listing(const std::vector<image::Word>& words, const debuginfo::DebugInfo& info,
                              const Source& source) {
    const std::string listing = image::list_image(words);
    std::string out;
    int shown = 0;  // highest source line shown so far
    std::size_t e = 0;  // next line table entry
    std::size_t f = 0;  // next function
    // A gap of more lines than this shows only the line itself.
    constexpr int kMaxRun = 8;
    for (std::size_t start = 0; start < listing.size();) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string text = listing.substr(start, end - start);
        start = end + 1;
        const std::size_t pc = std::stoul(text.substr(0, text.find(':')), nullptr, 16);

        while (f < info.functions.size() && info.functions[f].entry < pc) ++f;
        if (f < info.functions.size() && info.functions[f].entry == pc)
            out += "\n" + hex4(unsigned(pc)) + " <" + info.functions[f].name + ">:\n";
        while (e < info.lines.size() && info.lines[e].address < pc) ++e;
        if (e < info.lines.size() && info.lines[e].address == pc && info.lines[e].line > 0) {
            const int line = info.lines[e].line;
            const int from = line > shown && line - shown <= kMaxRun ? shown + 1 : line;
            for (int n = from; n <= line; ++n) {
                char head[24];
                std::snprintf(head, sizeof head, "%6d | ", n);
                out += head + source.line(n) + "\n";
            }
            if (line > shown) shown = line;
        }
        out += text;
        if (pc < words.size()) out += operand_note(words, info, pc);
        out += '\n';
    }
    return out;
}

}  // namespace source_view
