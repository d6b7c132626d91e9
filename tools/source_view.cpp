// The source-annotated listing of vexldump.
#include "source_view.h"

#include <cstdio>

#include "listing.h"

namespace source_view {

namespace {

std::string hex4(unsigned w) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", w);
    return buf;
}

// The variable a memory operand at pc addresses, as " ; name" or " ; name[]"
// for an element (an access site the compiler recorded), or "".
std::string operand_note(const std::vector<image::Word>& words, const debuginfo::DebugInfo& info, std::size_t pc) {
    const image::Word w = words[pc];
    const image::OpInfo& op = image::op_info(image::opcode_of(w));
    if ((op.form != image::Form::M && op.form != image::Form::A && op.form != image::Form::J) ||
        image::opcode_of(w) == image::LAD || pc + 1 >= words.size())
        return {};
    const unsigned x = image::field_x(w);
    const auto at = static_cast<image::Word>(pc);
    if (op.form == image::Form::J) {
        // A jump or call through GR3 (always 0) goes to its operand word.
        if (x != image::GR3) return {};
        const image::Word target = words[pc + 1];
        const debuginfo::Function* f = info.function_at(target);
        if (!f) return {};
        if (target == f->entry) return "  ; <" + f->name + ">";
        return "  ; <" + f->name + "+" + std::to_string(target - f->entry) + ">";
    }
    if (x == image::GR4 || x == image::BP) {
        const debuginfo::Variable* v = info.variable_at(at, x, words[pc + 1]);
        return v ? "  ; " + v->name : std::string();
    }
    const debuginfo::ElementSite* site = info.element_at(at);
    if (!site || site->kind != debuginfo::ElementSite::Kind::access) return {};
    const debuginfo::Variable* v = info.array_of(*site);
    return v ? "  ; " + v->name + "[]" : std::string();
}

}  // namespace

std::string annotated_listing(const std::vector<image::Word>& words, const debuginfo::DebugInfo& info,
                              const Source& source) {
    const std::string listing = image::list_image(words);
    std::string out;
    int shown = 0;  // highest source line shown so far
    std::size_t e = 0;  // next line table entry
    std::size_t f = 0;  // next function
    std::size_t g = 0;  // next function whose end is to come
    // A gap of more lines than this shows only the line itself.
    constexpr int kMaxRun = 8;
    auto show = [&](int from, int to) {
        for (int n = from; n <= to; ++n) {
            char head[24];
            std::snprintf(head, sizeof head, "%6d | ", n);
            out += head + source.line(n) + "\n";
        }
    };
    for (std::size_t start = 0; start < listing.size();) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string text = listing.substr(start, end - start);
        start = end + 1;
        const std::size_t pc = std::stoul(text.substr(0, text.find(':')), nullptr, 16);

        // A function's closing brace (its line) ends its code, above the
        // next function's label or the words after it.
        while (g < info.functions.size() && info.functions[g].end <= pc) {
            const int brace = info.functions[g++].line;
            if (brace <= shown) continue;
            show(brace - shown <= kMaxRun ? shown + 1 : brace, brace);
            shown = brace;
        }
        while (f < info.functions.size() && info.functions[f].entry < pc) ++f;
        if (f < info.functions.size() && info.functions[f].entry == pc)
            out += "\n" + hex4(unsigned(pc)) + " <" + info.functions[f].name + ">:\n";
        while (e < info.lines.size() && info.lines[e].address < pc) ++e;
        if (e < info.lines.size() && info.lines[e].address == pc && info.lines[e].line > 0) {
            const int line = info.lines[e].line;
            show(line > shown && line - shown <= kMaxRun ? shown + 1 : line, line);
            if (line > shown) shown = line;
        }
        out += text;
        if (pc < words.size()) out += operand_note(words, info, pc);
        out += '\n';
    }
    return out;
}

}  // namespace source_view
