// The debug recorder: line marks and scopes in, DebugInfo out.
#include "recorder.h"

#include <fstream>

#include "diagnostics.h"
#include "streams.h"
#include "symbols.h"

DebugRecorder debug_recorder;

namespace {

constexpr std::size_t kNoMark = static_cast<std::size_t>(-1);

debuginfo::Type type_of(ValueType t) {
    switch (t) {
    case kVoid: return debuginfo::Type::Void;
    case kBool: return debuginfo::Type::Bool;
    default: return debuginfo::Type::Int;
    }
}

}  // namespace

// Marks are taken only for words that are really emitted: a translation
// with the word stream switched off (the C-only pass of a for step or of
// call arguments) leaves no trace in the image.
bool DebugRecorder::active() const { return enabled && word_stream.enabled; }

void DebugRecorder::add(int line, bool open) {
    marks_.push_back(Mark{word_stream.position(), line, open, false, c_text.length()});
}

std::vector<std::pair<std::size_t, int>> DebugRecorder::c_text_lines() const {
    std::vector<std::pair<std::size_t, int>> lines;
    for (const Mark& m : marks_)
        if (!m.words_only) lines.emplace_back(m.c_offset, m.line);
    return lines;
}

void DebugRecorder::begin_statement(int line) {
    if (!active()) {
        open_statements_.push_back(kNoMark);
        return;
    }
    open_statements_.push_back(marks_.size());
    add(line, true);
}

void DebugRecorder::end_statement() {
    if (open_statements_.empty()) return;
    const std::size_t index = open_statements_.back();
    open_statements_.pop_back();
    // A statement without expressions keeps its own line, which is then
    // also the first line of the statements around it still waiting.
    if (index != kNoMark && marks_[index].open) {
        marks_[index].open = false;
        for (std::size_t i : open_statements_)
            if (i != kNoMark && marks_[i].open) {
                marks_[i].line = marks_[index].line;
                marks_[i].open = false;
            }
    }
}

void DebugRecorder::expression(int line) {
    if (!active()) return;
    for (std::size_t i : open_statements_)
        if (i != kNoMark && marks_[i].open) {
            marks_[i].line = line;
            marks_[i].open = false;
        }
    add(line, false);
}

void DebugRecorder::no_line() {
    if (active()) add(0, false);
}

void DebugRecorder::loop_head() {
    if (!active()) return;
    add(0, false);
    marks_.back().words_only = true;
}

void DebugRecorder::frame_ready() {
    if (active()) body_ = word_stream.position();
}

void DebugRecorder::locals_reserved() {
    // The reservation (LDI GR0,n; SUB sp,GR0) has just been emitted.
    if (active() && body_ != kNoBody && body_ + 3 == word_stream.position()) body_ = word_stream.position();
}

void DebugRecorder::function_header(int line) {
    header_ = line;
    returns_.clear();
}

void DebugRecorder::return_site() {
    if (active()) returns_.push_back(static_cast<image::Word>(word_stream.position()));
}

void DebugRecorder::add_site(const VariableEntry& v, debuginfo::ElementSite::Kind kind) {
    if (active()) sites_.push_back(Site{word_stream.position(), kind, v.base, v.offset});
}

void DebugRecorder::element_access(const VariableEntry& v) { add_site(v, debuginfo::ElementSite::Kind::access); }
void DebugRecorder::subscript_check(const VariableEntry& v) { add_site(v, debuginfo::ElementSite::Kind::check); }

void DebugRecorder::scope_closed(const std::string& name, const FunctionEntry& function, int line,
                                 const std::vector<std::pair<std::string, VariableEntry>>& variables) {
    if (!enabled) return;
    const bool global = name == MapManager::kGlobal;
    debuginfo::Function f;
    for (const auto& [var_name, entry] : variables) {
        debuginfo::Variable v;
        v.name = var_name;
        v.type = type_of(entry.type);
        v.is_const = entry.is_const;
        v.array_size = entry.is_array ? entry.size : 0;
        if (global) {
            v.storage = debuginfo::Storage::Global;
            v.location = (0xFFFF + entry.offset) & 0xFFFF;  // relative to GR4 = 0xFFFF
            globals_.push_back(v);
            continue;
        }
        v.location = entry.offset;
        v.storage = entry.is_parameter ? debuginfo::Storage::Parameter : debuginfo::Storage::Local;
        (entry.is_parameter ? f.parameters : f.locals).push_back(v);
    }
    if (global) return;
    f.name = name;
    f.entry = function.address;
    f.end = word_stream.position();
    f.body = body_ != kNoBody && body_ < f.end ? static_cast<image::Word>(body_) : f.entry;
    f.result = type_of(function.result);
    f.line = line;
    f.header = header_ > 0 && header_ <= line ? header_ : line;
    for (image::Word r : returns_)
        if (r >= f.entry && r < f.end) f.returns.push_back(r);
    returns_.clear();
    functions_.push_back(std::move(f));
}

debuginfo::DebugInfo DebugRecorder::finish(const std::string& source, std::string_view text,
                                           const std::vector<image::Word>& words) const {
    debuginfo::DebugInfo info;
    info.source = source;
    info.source_stamp = debuginfo::SourceStamp{text.size(), debuginfo::checksum(text)};
    info.image_words = static_cast<std::uint32_t>(words.size());
    info.checksum = debuginfo::checksum(words);
    info.functions = functions_;
    info.globals = globals_;

    // Marks come in ascending address order; of several at one address the
    // last one counts (earlier ones covered no words).
    std::vector<debuginfo::LineEntry> marks;
    for (std::size_t i = 0; i < marks_.size(); ++i) {
        if (marks_[i].address >= words.size()) break;
        if (i + 1 < marks_.size() && marks_[i + 1].address == marks_[i].address) continue;
        marks.push_back({marks_[i].address, marks_[i].line});
    }
    // The prologue of a function (and its local reservations) belongs to the
    // function's first line, not to whatever precedes the function.
    std::vector<debuginfo::LineEntry> lines;
    std::size_t m = 0;
    for (const debuginfo::Function& f : functions_) {
        while (m < marks.size() && marks[m].address < f.entry) lines.push_back(marks[m++]);
        if (m < marks.size() && marks[m].address == f.entry) continue;
        // When the function begins with a loop, its first line begins
        // after the loop's head, where every pass enters: the prologue
        // then belongs to the definition's line.
        const bool inside = m < marks.size() && marks[m].address < f.end && marks[m].line > 0;
        lines.push_back({f.entry, inside ? marks[m].line : f.line});
    }
    while (m < marks.size()) lines.push_back(marks[m++]);
    // The final word, reached when start returns, has no line.
    if (!words.empty() && (lines.empty() || lines.back().address < words.size() - 1))
        lines.push_back({static_cast<image::Word>(words.size() - 1), 0});
    for (const debuginfo::LineEntry& e : lines)
        if (info.lines.empty() || info.lines.back().line != e.line) info.lines.push_back(e);
    // Element sites name their array as the site sees it (the base
    // register and offset of element 0 found among the variables).
    for (const Site& s : sites_) {
        if (s.address >= words.size()) continue;
        const debuginfo::Variable* v = info.variable_at(s.address, unsigned(s.base), image::Word(s.offset));
        if (!v || !v->is_array() || (!info.elements.empty() && info.elements.back().address >= s.address))
            continue;
        info.elements.push_back({s.address, s.kind, v->name});
    }
    return info;
}

void DebugRecorder::clear() {
    marks_.clear();
    sites_.clear();
    body_ = kNoBody;
    header_ = 0;
    returns_.clear();
    open_statements_.clear();
    functions_.clear();
    globals_.clear();
}
