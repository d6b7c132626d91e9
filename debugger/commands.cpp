// The debugger's commands: the table expanded from commands.def, the
// lookup of a command word, and one handler per command.
#include <algorithm>
#include <cctype>
#include <charconv>

#include "options.h"
#include "session_impl.h"

namespace debugger {

namespace {

using Impl = Session::Impl;
using debuginfo::Type;
using debuginfo::Variable;

struct CommandRow {
    const char* name;
    const char* forms;
    const char* arguments;
    const char* help;
    Impl::Handler handler;
};

constexpr CommandRow kCommands[] = {
#define DEBUG_COMMAND(name, forms, arguments, help) {#name, forms, arguments, help, &Impl::cmd_##name},
#include "commands.def"
};

constexpr CommandRow kInfoCommands[] = {
#define INFO_COMMAND(name, forms, help) {#name, forms, "", help, &Impl::info_##name},
#include "commands.def"
};

// Commands that an empty line repeats at a terminal.
bool repeats(std::string_view name) {
    for (const char* n : {"continue", "step", "next", "stepi", "nexti", "finish", "list", "up", "down"})
        if (name == n) return true;
    return false;
}

std::vector<std::string> split(std::string_view s) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
        std::size_t j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j]))) ++j;
        if (j > i) words.emplace_back(s.substr(i, j - i));
        i = j;
    }
    return words;
}

bool has_form(const CommandRow& row, std::string_view word) {
    for (const std::string& form : split(row.forms))
        if (form == word) return true;
    return false;
}

// A name, one of its short forms, or a prefix of exactly one name.
template <std::size_t N>
const CommandRow& find_row(const CommandRow (&rows)[N], std::string_view word, const char* kind) {
    for (const CommandRow& row : rows)
        if (word == row.name || has_form(row, word)) return row;
    std::vector<const CommandRow*> matches;
    for (const CommandRow& row : rows)
        if (std::string_view(row.name).starts_with(word)) matches.push_back(&row);
    if (matches.size() == 1) return *matches.front();
    if (matches.empty())
        throw CommandError(std::string("Undefined ") + kind + "command: \"" + std::string(word) +
                           "\".  Try \"help\".");
    std::string names;
    for (const CommandRow* row : matches) names += std::string(names.empty() ? "" : ", ") + row->name;
    throw CommandError("Ambiguous " + std::string(kind) + "command \"" + std::string(word) + "\": " +
                       names + ".");
}

// A decimal or 0x-hexadecimal integer with an optional minus sign.
std::optional<long> parse_int(std::string_view s) {
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.remove_prefix(1);
    }
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    long value = 0;
    if (s.empty() || s[0] == '-' || s[0] == '+') return std::nullopt;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
    return negative ? -value : value;
}

long parse_count(std::string_view s, const char* what) {
    if (s.empty()) return 1;
    const std::optional<long> n = parse_int(trim(s));
    if (!n || *n < 0) throw CommandError(std::string("Invalid ") + what + " \"" + std::string(s) + "\".");
    return *n;
}

bool is_identifier(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// Register names for $NAME: the image format's, and pc as 7.
int register_number(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "pc") return 7;
    for (unsigned r = 0; r < unsigned(image::kRegisterCount); ++r) {
        std::string n = image::register_name(r);
        for (char& c : n) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (lower == n) return int(r);
    }
    return -1;
}

void wrap(std::string& out, std::string_view text, std::size_t indent) {
    out += std::string(indent, ' ');
    cli::append_wrapped(out, text, indent);
    out += '\n';
}

}  // namespace

// ---- expressions and values ---------------------------------------------------

// NAME, NAME[INDEX] (INDEX a number or a scalar variable) or $REGISTER.
Expression Impl::parse_expression(std::string_view raw, bool allow_registers) const {
    const std::string text = trim(raw);
    Expression e;
    e.text = text;
    if (!text.empty() && text[0] == '$') {
        e.reg = register_number(std::string_view(text).substr(1));
        if (e.reg < 0 || !allow_registers) throw CommandError("Invalid register \"" + text + "\".");
        return e;
    }
    std::string name = text;
    std::string index_text;
    if (const std::size_t open = text.find('['); open != std::string::npos) {
        if (text.back() != ']') throw CommandError("Missing ']' in \"" + text + "\".");
        name = trim(std::string_view(text).substr(0, open));
        index_text = trim(std::string_view(text).substr(open + 1, text.size() - open - 2));
        if (index_text.empty()) throw CommandError("Missing index in \"" + text + "\".");
    }
    if (!is_identifier(name)) throw CommandError("Cannot read \"" + text + "\": expected NAME or NAME[INDEX].");
    const debuginfo::DebugInfo& di = info();
    if (state == State::stopped) {
        e.variable = di.find_variable(name, selected().pc);
    } else {
        for (const Variable& g : di.globals)
            if (g.name == name) e.variable = &g;
    }
    if (!e.variable) throw CommandError("No symbol \"" + name + "\" in current context.");
    if (index_text.empty()) return e;
    if (!e.variable->is_array()) throw CommandError("\"" + name + "\" is not an array.");
    std::optional<long> index = parse_int(index_text);
    if (!index) {
        const Expression i = parse_expression(index_text, false);
        if (i.variable->is_array() && i.index < 0)
            throw CommandError("The index \"" + index_text + "\" is an array.");
        index = long(std::int16_t(read_words(i).front()));
    }
    if (*index < 0 || *index >= long(e.variable->array_size))
        throw CommandError("Index " + std::to_string(*index) + " is outside " + name + "[" +
                           std::to_string(e.variable->array_size) + "].");
    e.index = int(*index);
    return e;
}

Word Impl::address_of(const Variable& v, int index) const {
    const Word bp = v.storage == debuginfo::Storage::Global ? 0 : selected().bp;
    const std::optional<Word> a = v.address(bp, std::max(index, 0));
    if (!a) throw CommandError("Cannot access memory of \"" + v.name + "\".");
    return *a;
}

std::vector<Word> Impl::read_words(const Expression& e) const {
    require_running();
    if (e.reg >= 0) return {e.reg == 7 ? machine().pc() : machine().reg(unsigned(e.reg))};
    const Variable& v = *e.variable;
    const std::size_t count = v.is_array() && e.index < 0 ? v.array_size : 1;
    const Word first = address_of(v, e.index);
    // Element i of an array lies at the address of element 0 minus i.
    if (count > std::size_t(first) + 1) throw CommandError("Cannot access memory of \"" + v.name + "\".");
    std::vector<Word> words(count);
    for (std::size_t i = 0; i < count; ++i) words[i] = machine().memory(Word(first - i));
    return words;
}

std::string Impl::format_word(Word w, Type type, bool hex) const {
    if (hex) return hex4(w);
    if (type == Type::Bool) return w ? "true" : "false";
    return std::to_string(int(std::int16_t(w)));
}

// Arrays as {1, 2, 3}; ten or more equal elements in a row are written
// once with "<repeats N times>", and at most 200 elements are shown.
std::string Impl::format_words(const std::vector<Word>& words, Type type, bool array, bool hex) const {
    if (!array) return format_word(words.front(), type, hex);
    constexpr std::size_t kRepeats = 10, kShown = 200;
    std::string text = "{";
    std::size_t shown = 0;
    for (std::size_t i = 0; i < words.size();) {
        std::size_t run = 1;
        while (i + run < words.size() && words[i + run] == words[i]) ++run;
        if (shown >= kShown) {
            text += "...";
            break;
        }
        if (i > 0) text += ", ";
        if (run >= kRepeats) {
            text += format_word(words[i], type, hex) + " <repeats " + std::to_string(run) + " times>";
            i += run;
            shown += kRepeats;
        } else {
            text += format_word(words[i], type, hex);
            ++i;
            ++shown;
        }
    }
    return text + "}";
}

std::string Impl::value_text(const Expression& e, bool hex) const {
    const std::vector<Word> words = read_words(e);
    if (e.reg >= 0) {
        const bool address = e.reg == 7 || e.reg == image::BP || e.reg == image::SP;
        return format_word(words.front(), Type::Int, hex || address);
    }
    return format_words(words, e.variable->type, e.variable->is_array() && e.index < 0, hex);
}

void Impl::show_displays() {
    if (state != State::stopped) return;
    for (const Display& d : displays) {
        try {
            say(std::to_string(d.number) + ": " + d.text + " = " + value_text(parse_expression(d.text, true), false) +
                "\n");
        } catch (const CommandError&) {
            // Not visible where the program stopped: shown again once it is.
        }
    }
}

// ---- the command line ----------------------------------------------------------

bool Impl::execute(std::string_view raw) {
    std::string line = trim(raw);
    if (line.empty()) {
        if (!repeat_on_empty || last_command.empty()) return true;
        line = last_command;
    }
    if (line[0] == '#') return true;
    // The command word ends at a blank or at the "/" of print/x and x/8x.
    const std::size_t end = line.find_first_of(" \t/");
    const std::string word = line.substr(0, end);
    const std::string args = end == std::string::npos ? "" : trim(std::string_view(line).substr(end));
    try {
        const CommandRow& row = find_row(kCommands, word, "");
        last_command = repeats(row.name) ? line : "";
        (this->*row.handler)(args);
        return true;
    } catch (const std::exception& e) {
        sinks.error(std::string(e.what()) + "\n");
        return false;
    }
}

// ---- breakpoints and watchpoints -----------------------------------------------

void Impl::cmd_break(std::string_view args) {
    std::string text = trim(args);
    Word address = 0;
    if (text.empty()) {
        require_running();
        address = selected().pc;
    } else if (text[0] == '*') {
        const std::optional<long> a = parse_int(trim(std::string_view(text).substr(1)));
        if (!a || *a < 0 || *a >= long(prog.words.size()))
            throw CommandError("No code at address \"" + text.substr(1) + "\".");
        address = Word(*a);
    } else {
        const debuginfo::DebugInfo& di = info();
        if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
            const std::string file = text.substr(0, colon);
            const std::string base = di.source.substr(di.source.find_last_of('/') + 1);
            if (file != di.source && file != base) throw CommandError("No source file named " + file + ".");
            text = text.substr(colon + 1);
        }
        if (const std::optional<long> line = parse_int(text)) {
            // A line without code: the next line that has some.
            int last = 0;
            for (const debuginfo::LineEntry& e : di.lines) last = std::max(last, e.line);
            std::vector<Word> at;
            for (long l = std::max(*line, 1L); l <= last && at.empty(); ++l) at = di.addresses_of_line(int(l));
            if (at.empty()) throw CommandError("Line " + text + " has no code.");
            address = at.front();
        } else if (const debuginfo::Function* f = di.find_function(text)) {
            // The first line of code inside the function, past its prologue.
            address = f->entry;
            for (Word a = f->entry; a < f->end && a < line_starts.size(); ++a) {
                if (line_starts[a] > 0) {
                    address = a;
                    break;
                }
            }
        } else {
            throw CommandError("Function \"" + text + "\" not defined.");
        }
    }
    Breakpoint b{next_number++, address, 0};
    breakpoints.push_back(b);
    std::string where = "Breakpoint " + std::to_string(b.number) + " at " + hex4(address);
    if (prog.info && prog.info->line_at(address) > 0)
        where += ": file " + prog.info->source + ", line " + std::to_string(prog.info->line_at(address));
    say(where + ".\n");
}

void Impl::cmd_delete(std::string_view args) {
    const std::vector<std::string> numbers = split(args);
    if (!numbers.empty() && numbers[0] == "display") return cmd_undisplay(args.substr(args.find("display") + 7));
    if (numbers.empty()) {
        breakpoints.clear();
        watchpoints.clear();
        return;
    }
    for (const std::string& n : numbers) {
        const long number = parse_count(n, "breakpoint number");
        const auto b = std::erase_if(breakpoints, [&](const Breakpoint& x) { return x.number == number; });
        const auto w = std::erase_if(watchpoints, [&](const Watchpoint& x) { return x.number == number; });
        if (b + w == 0) throw CommandError("No breakpoint number " + n + ".");
    }
}

void Impl::cmd_watch(std::string_view args) {
    if (trim(args).empty()) throw CommandError("Argument required (expression to watch).");
    const Expression e = parse_expression(args, false);
    Watchpoint w;
    w.number = next_number++;
    w.text = e.text;
    w.variable = e.variable;
    w.index = e.index;
    w.local = e.variable->storage != debuginfo::Storage::Global;
    w.depth = depth - std::int64_t(frame_index);
    if (state == State::stopped) {
        w.address = address_of(*e.variable, e.index);
        w.value = read_words(e);
    } else {
        w.address = e.variable->address(0, std::max(e.index, 0)).value_or(0);
        w.value.assign(e.variable->is_array() && e.index < 0 ? e.variable->array_size : 1, 0);
    }
    watchpoints.push_back(std::move(w));
    say("Watchpoint " + std::to_string(watchpoints.back().number) + ": " + e.text + "\n");
}

// ---- running -------------------------------------------------------------------

void Impl::cmd_run(std::string_view args) {
    const std::string text = trim(args);
    if (!text.empty()) {
        if (text[0] != '<' || trim(std::string_view(text).substr(1)).empty())
            throw CommandError("The program takes no arguments; give its input as \"run < FILE\".");
        input_file = trim(std::string_view(text).substr(1));
    }
    start();
    // A breakpoint on the very first instruction stops before it runs.
    for (Breakpoint& b : breakpoints) {
        if (b.address == machine().pc()) {
            ++b.hits;
            say("\nBreakpoint " + std::to_string(b.number) + ", ");
            report_stop(Stop::breakpoint);
            return;
        }
    }
    resume(Mode::cont);
}

void Impl::cmd_continue(std::string_view) {
    require_running();
    if (!faulted) say("Continuing.\n");
    resume(Mode::cont);
}

void Impl::cmd_step(std::string_view args) {
    info();
    resume(Mode::step, std::uint64_t(parse_count(args, "count")));
}

void Impl::cmd_next(std::string_view args) {
    info();
    resume(Mode::next, std::uint64_t(parse_count(args, "count")));
}

void Impl::cmd_finish(std::string_view) { resume(Mode::finish); }
void Impl::cmd_stepi(std::string_view args) { resume(Mode::stepi, std::uint64_t(parse_count(args, "count"))); }
void Impl::cmd_nexti(std::string_view args) { resume(Mode::nexti, std::uint64_t(parse_count(args, "count"))); }

void Impl::cmd_kill(std::string_view) {
    require_running();
    end_program();
    say("[program killed]\n");
}

// ---- data ----------------------------------------------------------------------

void Impl::cmd_print(std::string_view args) {
    std::string text = trim(args);
    bool hex = false;
    if (text.starts_with("/")) {
        const std::size_t end = text.find(' ');
        const std::string format = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        if (format != "x" && format != "d") throw CommandError("Undefined output format \"" + format + "\".");
        hex = format == "x";
        text = end == std::string::npos ? "" : trim(std::string_view(text).substr(end));
    }
    if (text.empty()) throw CommandError("Argument required (expression to print).");
    const std::string value = value_text(parse_expression(text, true), hex);
    say("$" + std::to_string(++history) + " = " + value + "\n");
}

void Impl::cmd_set(std::string_view args) {
    std::string text = trim(args);
    for (const char* prefix : {"variable ", "var "})
        if (text.starts_with(prefix)) text = trim(std::string_view(text).substr(std::string_view(prefix).size()));
    const std::size_t eq = text.find('=');
    if (eq == std::string::npos) throw CommandError("Usage: set var NAME = VALUE.");
    const Expression e = parse_expression(std::string_view(text).substr(0, eq), true);
    const std::string value_text = trim(std::string_view(text).substr(eq + 1));
    std::optional<long> v = parse_int(value_text);
    if (value_text == "true") v = 1;
    if (value_text == "false") v = 0;
    if (!v) throw CommandError("Invalid value \"" + value_text + "\": an integer, true or false.");
    if (*v < -32768 || *v > 65535) throw CommandError("The value " + value_text + " does not fit in 16 bits.");
    const Word w = Word(*v);
    require_running();
    if (e.reg == 7) {
        machine_->set_pc(w);
    } else if (e.reg >= 0) {
        machine_->set_reg(unsigned(e.reg), w);
    } else {
        if (e.variable->is_array() && e.index < 0) throw CommandError("Cannot assign to a whole array.");
        machine_->set_memory(address_of(*e.variable, e.index), w);
    }
    // A change made here is no change by the program.
    for (Watchpoint& wp : watchpoints)
        for (std::size_t i = 0; i < wp.value.size(); ++i) wp.value[i] = machine().memory(Word(wp.address - i));
}

void Impl::cmd_display(std::string_view args) {
    const std::string text = trim(args);
    if (text.empty()) return show_displays();
    std::string value;
    if (state == State::stopped) value = value_text(parse_expression(text, true), false);
    displays.push_back({next_display++, text});
    if (!value.empty()) say(std::to_string(displays.back().number) + ": " + text + " = " + value + "\n");
}

void Impl::cmd_undisplay(std::string_view args) {
    const std::vector<std::string> numbers = split(args);
    if (numbers.empty()) displays.clear();
    for (const std::string& n : numbers) {
        const long number = parse_count(n, "display number");
        if (std::erase_if(displays, [&](const Display& d) { return d.number == number; }) == 0)
            throw CommandError("No display number " + n + ".");
    }
}

// x ADDRESS [COUNT] or x/COUNT[FORMAT] ADDRESS: words of data memory, eight
// to a line.
void Impl::cmd_x(std::string_view args) {
    std::string text = trim(args);
    long count = 1;
    bool hex = true;
    if (text.starts_with("/")) {
        const std::size_t end = text.find(' ');
        std::string format = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        if (!format.empty() && (format.back() == 'x' || format.back() == 'd')) {
            hex = format.back() == 'x';
            format.pop_back();
        }
        if (!format.empty()) count = parse_count(format, "count");
        text = end == std::string::npos ? "" : trim(std::string_view(text).substr(end));
    } else if (const std::vector<std::string> parts = split(text); parts.size() == 2) {
        count = parse_count(parts[1], "count");
        text = parts[0];
    }
    if (text.empty()) throw CommandError("Argument required (starting address).");
    require_running();
    long address = 0;
    if (text[0] == '&') {
        const Expression e = parse_expression(std::string_view(text).substr(1), false);
        address = address_of(*e.variable, e.index);
    } else if (text[0] == '$') {
        address = read_words(parse_expression(text, true)).front();
    } else if (const std::optional<long> a = parse_int(text)) {
        address = *a;
    } else {
        throw CommandError("Invalid address \"" + text + "\": a number, &NAME or $REGISTER.");
    }
    if (address < 0 || address > 0xFFFF) throw CommandError("Address " + text + " is outside data memory.");
    count = std::min(count, 0x10000L - address);
    std::string out;
    for (long i = 0; i < count; ++i) {
        if (i % 8 == 0) out += (i ? "\n" : "") + hex4(unsigned(address + i)) + ":";
        out += "\t" + format_word(machine().memory(Word(address + i)), Type::Int, hex);
    }
    if (count > 0) say(out + "\n");
}

// ---- frames --------------------------------------------------------------------

void Impl::cmd_backtrace(std::string_view) {
    require_running();
    const std::vector<debuginfo::Frame> fs = frames();
    for (std::size_t i = 0; i < fs.size(); ++i)
        say("#" + std::to_string(i) + "  " + frame_text(fs[i], i == 0) + "\n");
}

void Impl::cmd_frame(std::string_view args) {
    require_running();
    const std::vector<debuginfo::Frame> fs = frames();
    if (!trim(args).empty()) {
        const long n = parse_count(args, "frame number");
        if (std::size_t(n) >= fs.size()) throw CommandError("No frame at level " + trim(args) + ".");
        frame_index = std::size_t(n);
    }
    frame_index = std::min(frame_index, fs.size() - 1);
    say("#" + std::to_string(frame_index) + "  " + location_text(fs[frame_index], frame_index == 0));
}

void Impl::cmd_up(std::string_view args) {
    require_running();
    const std::size_t levels = frames().size();
    if (frame_index + 1 >= levels) throw CommandError("Initial frame selected; you cannot go up.");
    frame_index = std::min(levels - 1, frame_index + std::size_t(parse_count(args, "count")));
    cmd_frame("");
}

void Impl::cmd_down(std::string_view args) {
    require_running();
    if (frame_index == 0) throw CommandError("Bottom (innermost) frame selected; you cannot go down.");
    const std::size_t n = std::size_t(parse_count(args, "count"));
    frame_index = n > frame_index ? 0 : frame_index - n;
    cmd_frame("");
}

// ---- info ----------------------------------------------------------------------

void Impl::cmd_info(std::string_view args) {
    const std::vector<std::string> words = split(args);
    if (words.empty()) throw CommandError("\"info\" must be followed by the name of an info command.");
    const CommandRow& row = find_row(kInfoCommands, words[0], "info ");
    (this->*row.handler)(trim(args.substr(args.find(words[0]) + words[0].size())));
}

void Impl::info_registers(std::string_view args) {
    require_running();
    std::vector<std::string> names = split(args);
    if (names.empty()) names = {"GR0", "GR1", "GR2", "GR3", "GR4", "bp", "sp", "pc", "flags"};
    std::string out;
    char line[80];
    for (std::string name : names) {
        if (name.starts_with("$")) name.erase(0, 1);
        if (name == "flags") {
            const bool zf = machine().zero_flag(), sf = machine().sign_flag();
            std::snprintf(line, sizeof line, "%-15s[%s%s ]     ZF=%d SF=%d\n", "flags", zf ? " ZF" : "",
                          sf ? " SF" : "", int(zf), int(sf));
            out += line;
            continue;
        }
        const int r = register_number(name);
        if (r < 0) throw CommandError("Invalid register \"" + name + "\".");
        const Word v = r == 7 ? machine().pc() : machine().reg(unsigned(r));
        const std::string label = r == 7 ? "pc" : image::register_name(unsigned(r));
        if (r == 7 || r == image::BP || r == image::SP)
            std::snprintf(line, sizeof line, "%-15s0x%04x\n", label.c_str(), unsigned(v));
        else
            std::snprintf(line, sizeof line, "%-15s0x%04x   %d\n", label.c_str(), unsigned(v), int(std::int16_t(v)));
        out += line;
    }
    say(out);
}

void Impl::info_locals(std::string_view) {
    require_running();
    const debuginfo::Frame f = selected();
    if (!f.function) throw CommandError("No symbol table info available.");
    if (f.function->locals.empty()) return say("No locals.\n");
    for (const Variable& v : f.function->locals) say(v.name + " = " + value_text(parse_expression(v.name, false), false) + "\n");
}

void Impl::info_args(std::string_view) {
    require_running();
    const debuginfo::Frame f = selected();
    if (!f.function) throw CommandError("No symbol table info available.");
    if (f.function->parameters.empty()) return say("No arguments.\n");
    for (const Variable& v : f.function->parameters)
        say(v.name + " = " + value_text(parse_expression(v.name, false), false) + "\n");
}

void Impl::info_breakpoints(std::string_view) {
    if (breakpoints.empty() && watchpoints.empty()) return say("No breakpoints or watchpoints.\n");
    std::vector<std::pair<int, std::string>> rows;
    char line[160];
    for (const Breakpoint& b : breakpoints) {
        std::string what;
        if (prog.info) {
            const debuginfo::Function* f = prog.info->function_at(b.address);
            const int l = prog.info->line_at(b.address);
            if (f) what = "in " + f->name + " ";
            if (l > 0) what += "at " + prog.info->source + ":" + std::to_string(l);
        }
        std::snprintf(line, sizeof line, "%-8d%-15s%-10s%s", b.number, "breakpoint", hex4(b.address).c_str(),
                      what.c_str());
        std::string row = trim(line) + "\n";
        if (b.hits > 0)
            row += "\tbreakpoint already hit " + std::to_string(b.hits) + (b.hits == 1 ? " time\n" : " times\n");
        rows.emplace_back(b.number, row);
    }
    for (const Watchpoint& w : watchpoints) {
        std::snprintf(line, sizeof line, "%-8d%-15s%-10s%s\n", w.number, "watchpoint", "", w.text.c_str());
        rows.emplace_back(w.number, line);
    }
    std::sort(rows.begin(), rows.end());
    std::string out = "Num     Type           Address   What\n";
    for (const auto& row : rows) out += row.second;
    say(out);
}

void Impl::info_display(std::string_view) {
    if (displays.empty()) return say("There are no auto-display expressions now.\n");
    std::string out = "Auto-display expressions now in effect:\nNum Expression\n";
    for (const Display& d : displays) out += std::to_string(d.number) + ":   " + d.text + "\n";
    say(out);
}

// ---- source --------------------------------------------------------------------

void Impl::cmd_list(std::string_view args) {
    const debuginfo::DebugInfo& di = info();
    const std::string text = trim(args);
    const int lines = int(prog.source.size());
    if (lines == 0) throw CommandError(di.source + ": No such file or directory.");
    int first = 0, last = 0;
    auto around = [&](int center) {
        first = std::max(1, center - 5);
        last = first + 9;
    };
    if (text.empty()) {
        if (list_next > 0) {
            first = list_next;
            last = first + 9;
        } else if (state == State::stopped && selected().line > 0) {
            around(selected().line);
        } else if (const debuginfo::Function* f = di.find_function("start")) {
            around(f->line);
        } else {
            around(1);
        }
    } else if (const std::size_t comma = text.find(','); comma != std::string::npos) {
        const std::optional<long> a = parse_int(trim(std::string_view(text).substr(0, comma)));
        const std::optional<long> b = parse_int(trim(std::string_view(text).substr(comma + 1)));
        if (!a || !b || *a < 1 || *b < *a) throw CommandError("Invalid line range \"" + text + "\".");
        first = int(std::min<long>(*a, lines + 1));
        last = int(std::min<long>(*b, lines + 1));
    } else if (const std::optional<long> n = parse_int(text)) {
        if (*n > lines)
            throw CommandError("Line number " + text + " out of range; \"" + di.source + "\" has " +
                               std::to_string(lines) + " lines.");
        around(int(std::max<long>(*n, 1)));
    } else if (const debuginfo::Function* f = di.find_function(text)) {
        around(f->line);
    } else {
        throw CommandError("Function \"" + text + "\" not defined.");
    }
    if (first > lines)
        throw CommandError("Line number " + std::to_string(first) + " out of range; \"" + di.source + "\" has " +
                           std::to_string(lines) + " lines.");
    last = std::min(last, lines);
    std::string out;
    for (int l = first; l <= last; ++l) out += source_text(l);
    say(out);
    list_next = last + 1;
}

// ---- the session ---------------------------------------------------------------

void Impl::cmd_help(std::string_view args) {
    const std::string text = trim(args);
    std::string out;
    if (!text.empty()) {
        const CommandRow& row = find_row(kCommands, text, "");
        out = std::string("Usage: ") + row.name + (*row.arguments ? std::string(" ") + row.arguments : "") + "\n";
        if (*row.forms) out += "Short forms: " + std::string(row.forms) + "\n";
        wrap(out, row.help, 0);
        if (std::string_view(row.name) == "info")
            for (const CommandRow& sub : kInfoCommands) out += std::string("  info ") + sub.name + " -- " + sub.help + "\n";
        return say(out);
    }
    out = "Commands (a unique prefix of a name also works; an empty line at a terminal\n"
          "repeats step, next, continue and list):\n\n";
    for (const CommandRow& row : kCommands) {
        std::string head = std::string("  ") + row.name;
        for (const std::string& form : split(row.forms)) head += ", " + form;
        if (*row.arguments) head += std::string(" ") + row.arguments;
        out += head + "\n";
        wrap(out, row.help, 6);
    }
    out += "\n";
    for (const CommandRow& sub : kInfoCommands) out += std::string("  info ") + sub.name + " -- " + sub.help + "\n";
    say(out);
}

void Impl::cmd_quit(std::string_view) { quit = true; }

std::vector<std::string> Session::command_names() {
    std::vector<std::string> names;
    for (const CommandRow& row : kCommands) names.emplace_back(row.name);
    return names;
}

}  // namespace debugger
