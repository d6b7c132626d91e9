// The debugger's command language: the table expanded from commands.def,
// the lookup of a command word, and one handler per command. The handlers
// call the core (session.cpp) and format what it returns.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <filesystem>

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
#define DEBUG_COMMAND_NAMED(name, spelled, forms, arguments, help) {spelled, forms, arguments, help, &Impl::cmd_##name},
#include "commands.def"
};

constexpr CommandRow kInfoCommands[] = {
#define INFO_COMMAND(name, forms, help) {#name, forms, "", help, &Impl::info_##name},
#include "commands.def"
};

// Commands that an empty line repeats at a terminal.
bool repeats(std::string_view name) {
    for (const char* n : {"continue", "step", "next", "stepi", "nexti", "finish", "list", "up", "down", "reverse-step",
                          "reverse-next", "reverse-stepi", "reverse-nexti", "reverse-continue"})
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

void wrap(std::string& out, std::string_view text, std::size_t indent) {
    out += std::string(indent, ' ');
    cli::append_wrapped(out, text, indent);
    out += '\n';
}

}  // namespace


// ---- formatting what the core returns ----------------------------------------

// The frame line and the source line (or the instruction, where the code
// has no line) of a stop or a selected frame.
std::string Impl::location_text(const FrameView& f) const {
    std::string text = f.text + "\n";
    if (f.location.line > 0) return text + source_text(f.location.line);
    return text + instruction_text(f.location.pc);
}

void Impl::show_stop(const StopEvent& e) {
    if (!condition_error.empty()) sinks.error(condition_error);
    std::string out;
    for (const WatchHit& w : e.watches) {
        if (w.scope_ended)
            out += "\nWatchpoint " + std::to_string(w.number) +
                   " deleted because the program has left the block in\n"
                   "which its expression is valid.\n";
        else
            out += "\nWatchpoint " + std::to_string(w.number) + ": " + w.expression + "\n\nOld value = " +
                   w.old_value.text + "\nNew value = " + w.new_value.text + "\n";
    }
    for (int n : e.breakpoints) {
        const bool temporary = std::find(temporaries_hit.begin(), temporaries_hit.end(), n) != temporaries_hit.end();
        out += std::string("\n") + (temporary ? "Temporary breakpoint " : "Breakpoint ") + std::to_string(n) + ", ";
        // Two breakpoints at one place: gdb names the first only.
        break;
    }
    if (e.replayed_output > 0)
        out += "(Replayed: " + std::to_string(e.replayed_output) + " byte" + (e.replayed_output == 1 ? "" : "s") +
               " of output already written, not written again.)\n";
    switch (e.reason) {
    case StopReason::exited: return say(out + "[program exited normally]\n");
    case StopReason::fault:
        out += "\nProgram stopped by a runtime error: " + e.fault->message +
               (e.fault->cause.empty() ? "" : " (" + e.fault->cause + ")") + "\n";
        break;
    case StopReason::interrupted: out += "\nProgram interrupted.\n"; break;
    default: break;
    }
    if (e.history_end) out += "\nNo more reverse-execution history.\n";
    const std::vector<debuginfo::Frame> fs = frames();
    say(out + location_text(frame_view(fs.front(), 0)));
    if (e.returned) {
        history.push_back(*e.returned);
        say("Value returned is $" + std::to_string(history.size()) + " = " + e.returned->text + "\n");
    }
    show_displays();
}

void Impl::show_displays() {
    if (state != State::stopped) return;
    for (const Display& d : displays) {
        if (!d.enabled) continue;
        try {
            const Value v = value_of(eval(d.text), d.text, d.format);
            say(std::to_string(d.number) + ": " + (d.format ? std::string("/") + d.format + " " : "") + d.text +
                " = " + v.text + "\n");
        } catch (const std::exception&) {
            // Not visible where the program stopped: shown again once it is.
        }
    }
}

std::string Impl::breakpoint_text(int number, Word address) const {
    std::string where = "Breakpoint " + std::to_string(number) + " at " + hex4(address);
    if (prog.info && prog.info->line_at(address) > 0)
        where += ": file " + prog.info->source + ", line " + std::to_string(prog.info->line_at(address));
    return where + ".\n";
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

namespace {

void no_arguments(std::string_view args, const char* command) {
    if (!trim(args).empty())
        throw CommandError(std::string("The \"") + command + "\" command does not take any arguments.");
}

// "LOCATION if EXPR": the two parts.
std::pair<std::string, std::string> split_condition(std::string_view args) {
    const std::string text = trim(args);
    if (text == "if" || text.starts_with("if ")) return {"", trim(std::string_view(text).substr(2))};
    const std::size_t at = text.find(" if ");
    if (at == std::string::npos) return {text, ""};
    return {trim(std::string_view(text).substr(0, at)), trim(std::string_view(text).substr(at + 4))};
}

// "/FMT REST": the format letter and the rest.
char take_format(std::string& text, const char* allowed) {
    if (!text.starts_with("/")) return 0;
    const std::size_t end = text.find(' ');
    const std::string format = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    if (format.size() != 1 || !std::strchr(allowed, format[0]))
        throw CommandError("Undefined output format \"" + format + "\".");
    text = end == std::string::npos ? "" : trim(std::string_view(text).substr(end));
    return format[0];
}

}  // namespace

// ---- breakpoints and watchpoints -----------------------------------------------

void Impl::cmd_break(std::string_view args) {
    auto [where, condition] = split_condition(args);
    if (!trim(args).empty() && trim(args).starts_with("if") && condition.empty() && where.empty())
        throw CommandError("Argument required (boolean expression).");
    Word address = 0;
    if (where.empty()) {
        require_running();
        address = selected().pc;
    } else {
        address = parse_location(where);
    }
    const int n = add_breakpoint(address, condition, false);
    say(breakpoint_text(n, address));
}

void Impl::cmd_tbreak(std::string_view args) {
    auto [where, condition] = split_condition(args);
    Word address = 0;
    if (where.empty()) {
        require_running();
        address = selected().pc;
    } else {
        address = parse_location(where);
    }
    const int n = add_breakpoint(address, condition, true);
    std::string text = breakpoint_text(n, address);
    say("Temporary b" + text.substr(1));
}

namespace {

template <typename T>
T* find_numbered(std::vector<T>& items, long number) {
    for (T& item : items)
        if (item.number == number) return &item;
    return nullptr;
}

}  // namespace

void Impl::cmd_condition(std::string_view args) {
    const std::vector<std::string> words = split(args);
    if (words.empty()) throw CommandError("Argument required (breakpoint number).");
    const long number = parse_count(words[0], "breakpoint number");
    Breakpoint* b = find_numbered(breakpoints, number);
    if (!b) throw CommandError("No breakpoint number " + words[0] + ".");
    const std::string expr = trim(std::string_view(trim(args)).substr(words[0].size()));
    if (expr.empty()) {
        b->condition.clear();
        return say("Breakpoint " + words[0] + " now unconditional.\n");
    }
    check_condition(expr, b->address);
    b->condition = expr;
}

void Impl::cmd_ignore(std::string_view args) {
    const std::vector<std::string> words = split(args);
    if (words.size() != 2) throw CommandError("Argument required (a breakpoint number and a count).");
    const long number = parse_count(words[0], "breakpoint number");
    Breakpoint* b = find_numbered(breakpoints, number);
    if (!b) throw CommandError("No breakpoint number " + words[0] + ".");
    const long count = parse_count(words[1], "count");
    b->ignore = int(std::min(count, 1L << 30));
    if (count == 0) return say("Will stop next time breakpoint " + words[0] + " is reached.\n");
    say("Will ignore next " + (count == 1 ? std::string("crossing") : std::to_string(count) + " crossings") +
        " of breakpoint " + words[0] + ".\n");
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

namespace {

void set_enabled(Impl& s, std::string_view args, bool on) {
    const std::vector<std::string> numbers = split(args);
    if (!numbers.empty() && numbers[0] == "display") {
        const std::vector<std::string> rest(numbers.begin() + 1, numbers.end());
        for (Display& d : s.displays)
            if (rest.empty()) d.enabled = on;
        for (const std::string& n : rest) {
            Display* d = find_numbered(s.displays, parse_count(n, "display number"));
            if (!d) throw CommandError("No display number " + n + ".");
            d->enabled = on;
        }
        return;
    }
    if (numbers.empty()) {
        for (Breakpoint& b : s.breakpoints) b.enabled = on;
        for (Watchpoint& w : s.watchpoints) w.enabled = on;
        return;
    }
    for (const std::string& n : numbers) {
        const long number = parse_count(n, "breakpoint number");
        if (Breakpoint* b = find_numbered(s.breakpoints, number)) b->enabled = on;
        else if (Watchpoint* w = find_numbered(s.watchpoints, number)) w->enabled = on;
        else throw CommandError("No breakpoint number " + n + ".");
    }
}

}  // namespace

void Impl::cmd_disable(std::string_view args) { set_enabled(*this, args, false); }
void Impl::cmd_enable(std::string_view args) { set_enabled(*this, args, true); }

void Impl::cmd_watch(std::string_view args) {
    const int n = add_watchpoint(args);
    say("Watchpoint " + std::to_string(n) + ": " + watchpoints.back().text + "\n");
}

// ---- running -------------------------------------------------------------------

void Impl::cmd_run(std::string_view args) {
    const std::string text = trim(args);
    if (!text.empty()) {
        if (text[0] != '<' || trim(std::string_view(text).substr(1)).empty())
            throw CommandError("The program takes no arguments; give its input as \"run < FILE\".");
        input_file = trim(std::string_view(text).substr(1));
    }
    start();  // opens the input and says so before anything runs
    say("Starting program: " + prog.image_name + "\n");
    show_stop(go());
}

void Impl::cmd_start(std::string_view args) {
    const debuginfo::DebugInfo& di = info();
    const debuginfo::Function* f = di.find_function("start");
    if (!f) throw CommandError("No function \"start\" in this program.");
    const Word address = parse_location("start");
    const int n = add_breakpoint(address, "", true);
    say("Temporary b" + breakpoint_text(n, address).substr(1));
    try {
        cmd_run(args);
    } catch (...) {
        std::erase_if(breakpoints, [&](const Breakpoint& b) { return b.number == n; });
        throw;
    }
}

void Impl::cmd_continue(std::string_view args) {
    require_running();
    const std::string text = trim(args);
    std::uint64_t count = 1;
    if (!text.empty()) {
        count = std::uint64_t(parse_count(text, "count"));
        if (count == 0) count = 1;
        if (last_stop && !last_stop->breakpoints.empty())
            say("Will ignore next " + std::to_string(count - 1) + " crossings of breakpoint " +
                std::to_string(last_stop->breakpoints.front()) + ".  ");
        else if (!faulted)
            say("Not stopped at any breakpoint; argument ignored.\n");
    }
    if (!faulted) say("Continuing.\n");
    show_stop(resume(Motion::cont, count));
}

void Impl::cmd_step(std::string_view args) {
    info();
    show_stop(resume(Motion::step, std::uint64_t(parse_count(args, "count"))));
}

void Impl::cmd_next(std::string_view args) {
    info();
    show_stop(resume(Motion::next, std::uint64_t(parse_count(args, "count"))));
}

void Impl::cmd_until(std::string_view args) {
    info();
    if (trim(args).empty()) return show_stop(resume(Motion::until, 1));
    show_stop(run_to({parse_location(args)}));
}

void Impl::cmd_advance(std::string_view args) {
    if (trim(args).empty()) throw CommandError("Argument required (a location).");
    show_stop(run_to({parse_location(args)}));
}

void Impl::cmd_finish(std::string_view args) {
    no_arguments(args, "finish");
    require_running();
    const std::vector<debuginfo::Frame> fs = frames();
    if (!faulted && frame_index + 1 < fs.size() && fs[frame_index + 1].function)
        say("Run till exit from #" + std::to_string(frame_index) + "  " +
            frame_view(fs[frame_index], frame_index).text + "\n");
    show_stop(resume(Motion::finish, 1));
}

void Impl::cmd_stepi(std::string_view args) { show_stop(resume(Motion::stepi, std::uint64_t(parse_count(args, "count")))); }
void Impl::cmd_nexti(std::string_view args) { show_stop(resume(Motion::nexti, std::uint64_t(parse_count(args, "count")))); }

// ---- going back (the recording every run keeps) -------------------------------

void Impl::cmd_reverse_step(std::string_view args) {
    info();
    show_stop(reverse(Motion::step, std::uint64_t(parse_count(args, "count"))));
}
void Impl::cmd_reverse_next(std::string_view args) {
    info();
    show_stop(reverse(Motion::next, std::uint64_t(parse_count(args, "count"))));
}
void Impl::cmd_reverse_continue(std::string_view args) {
    no_arguments(args, "reverse-continue");
    say("Continuing backwards.\n");
    show_stop(reverse(Motion::cont, 1));
}
void Impl::cmd_reverse_finish(std::string_view args) {
    no_arguments(args, "reverse-finish");
    if (recording && state == State::stopped) {
        const std::vector<debuginfo::Frame> fs = frames();
        if (frame_index + 1 < fs.size() && fs[frame_index + 1].function)
            say("Run back to call of #" + std::to_string(frame_index) + "  " +
                frame_view(fs[frame_index], frame_index).text + "\n");
    }
    show_stop(reverse(Motion::finish, 1));
}
void Impl::cmd_reverse_stepi(std::string_view args) {
    show_stop(reverse(Motion::stepi, std::uint64_t(parse_count(args, "count"))));
}
void Impl::cmd_reverse_nexti(std::string_view args) {
    show_stop(reverse(Motion::nexti, std::uint64_t(parse_count(args, "count"))));
}

void Impl::info_record(std::string_view) {
    if (!recording || state == State::idle) return say("No recording: the program is not being run.\n");
    say("Recording of the run: " + std::to_string(recording->end()) + " instructions.\n" +
        (recording->replaying() ? "Replaying: at instruction " + std::to_string(recording->now()) + ".\n"
                                : "At the end of the recording.\n") +
        std::to_string(recording->snapshots()) + " snapshots, one every " + std::to_string(recording->interval()) +
        " instructions, " + std::to_string((recording->bytes() + 1023) / 1024) + " KiB.\n");
}

void Impl::cmd_kill(std::string_view args) {
    no_arguments(args, "kill");
    require_running();
    end_program();
    say("[program killed]\n");
}

// ---- data ----------------------------------------------------------------------

void Impl::cmd_print(std::string_view args) {
    std::string text = trim(args);
    const char format = take_format(text, "xdutoc");
    Value v;
    if (text.empty()) {
        // print alone: the last value again.
        if (history.empty()) throw CommandError("Argument required (expression to print).");
        v = history.back();
        if (format) v.text = format_words(v.words, v.type, v.array, format);
    } else if (const std::size_t at = find_assignment(text); at != std::string::npos) {
        const Operand target = eval(std::string_view(text).substr(0, at));
        assign(target, eval(std::string_view(text).substr(at + 2)));
        v = value_of(eval(std::string_view(text).substr(0, at)), text, format);
    } else {
        v = value_of(eval(text), text, format);
    }
    history.push_back(v);
    say("$" + std::to_string(history.size()) + " = " + v.text + "\n");
}

void Impl::cmd_set(std::string_view args) {
    std::string text = trim(args);
    for (const char* prefix : {"variable ", "var "})
        if (text.starts_with(prefix)) text = trim(std::string_view(text).substr(std::string_view(prefix).size()));
    std::size_t eq = find_assignment(text);
    std::size_t rhs = eq + 2;
    if (eq == std::string::npos) {
        eq = text.find('=');
        rhs = eq + 1;
    }
    if (eq == std::string::npos) throw CommandError("Usage: set var NAME = VALUE.");
    const Operand target = eval(std::string_view(text).substr(0, eq));
    if (target.reg < 0 && !target.address) throw CommandError("Left operand of assignment is not an lvalue.");
    assign(target, eval(std::string_view(text).substr(rhs)));
}

void Impl::cmd_display(std::string_view args) {
    std::string text = trim(args);
    const char format = take_format(text, "xdutoc");
    if (text.empty()) {
        if (format) throw CommandError("Argument required (expression to display).");
        return show_displays();
    }
    std::string value;
    if (state == State::stopped) value = value_of(eval(text), text, format).text;
    displays.push_back({next_display++, text, format, true});
    if (!value.empty())
        say(std::to_string(displays.back().number) + ": " + (format ? std::string("/") + format + " " : "") + text +
            " = " + value + "\n");
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

namespace {

std::string type_text(const debuginfo::Variable& v) {
    return std::string(debuginfo::type_name(v.type)) + (v.is_array() ? " [" + std::to_string(v.array_size) + "]" : "");
}

std::string function_signature(const debuginfo::Function& f, bool names) {
    std::string text = std::string(debuginfo::type_name(f.result)) + " (";
    for (std::size_t i = 0; i < f.parameters.size(); ++i)
        text += (i ? ", " : "") + std::string(debuginfo::type_name(f.parameters[i].type)) +
                (names ? " " + f.parameters[i].name : "");
    return text + ")";
}

}  // namespace

void Impl::cmd_ptype(std::string_view args) {
    const std::string text = trim(args);
    if (text.empty()) throw CommandError("Argument required (one or more choices).");
    if (is_identifier(text)) {
        const debuginfo::DebugInfo& di = info();
        const debuginfo::Variable* v = state == State::stopped ? di.find_variable(text, selected().pc) : nullptr;
        if (!v)
            for (const Variable& g : di.globals)
                if (g.name == text) v = &g;
        if (v) return say("type = " + std::string(v->is_const ? "const " : "") + type_text(*v) + "\n");
        if (const debuginfo::Function* f = di.find_function(text))
            return say("type = function " + function_signature(*f, true) + "\n");
    }
    const Operand o = eval(text);
    std::string type = debuginfo::type_name(o.type);
    if (o.array) type += " [" + std::to_string(o.words.size()) + "]";
    say("type = " + type + "\n");
}

void Impl::cmd_whatis(std::string_view args) { cmd_ptype(args); }

// x ADDRESS [COUNT] or x/COUNT[FORMAT] ADDRESS: words of data memory, eight
// to a line; /s: the words up to a 0 as characters.
void Impl::cmd_x(std::string_view args) {
    std::string text = trim(args);
    long count = 1;
    char format = 'x';
    if (text.starts_with("/")) {
        const std::size_t end = text.find(' ');
        std::string letters = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        if (!letters.empty() && std::strchr("xdus", letters.back())) {
            format = letters.back();
            letters.pop_back();
        }
        if (!letters.empty()) count = parse_count(letters, "count");
        text = end == std::string::npos ? "" : trim(std::string_view(text).substr(end));
    } else if (const std::vector<std::string> parts = split(text); parts.size() == 2) {
        count = parse_count(parts[1], "count");
        text = parts[0];
    }
    if (text.empty()) throw CommandError("Argument required (starting address).");
    require_running();
    long address = 0;
    if (text[0] == '&') {
        const Operand o = eval(std::string_view(text).substr(1));
        if (!o.address) throw CommandError("Attempt to take address of a value not located in memory.");
        address = *o.address;
    } else if (text[0] == '$') {
        address = eval(text).words.front();
    } else if (const std::optional<long> a = parse_int(text)) {
        address = *a;
    } else {
        throw CommandError("Invalid address \"" + text + "\": a number, &NAME or $REGISTER.");
    }
    if (address < 0 || address > 0xFFFF) throw CommandError("Address " + text + " is outside data memory.");
    std::string out;
    if (format == 's') {
        // COUNT strings, each up to a 0 word (at most 200 characters shown).
        for (long n = 0; n < count && address <= 0xFFFF; ++n) {
            std::string s;
            long a = address;
            for (; a <= 0xFFFF && machine().memory(Word(a)) != 0; ++a) {
                if (s.size() >= 200) {
                    s += "\"...";
                    break;
                }
                const Word w = machine().memory(Word(a));
                if (w == '"' || w == '\\') s += '\\', s += char(w);
                else if (w == '\n') s += "\\n";
                else if (w == '\t') s += "\\t";
                else if (w >= 32 && w < 127) s += char(w);
                else {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\%03o", unsigned(w) & 0777u);
                    s += esc;
                }
            }
            out += hex4(unsigned(address)) + ":\t\"" + s + (s.ends_with("\"...") ? "\n" : "\"\n");
            while (a <= 0xFFFF && machine().memory(Word(a)) != 0) ++a;
            address = a + 1;
        }
        return say(out);
    }
    count = std::min(count, 0x10000L - address);
    for (long i = 0; i < count; ++i) {
        if (i % 8 == 0) out += (i ? "\n" : "") + hex4(unsigned(address + i)) + ":";
        out += "\t" + format_word(machine().memory(Word(address + i)), Type::Int, format);
    }
    if (count > 0) say(out + "\n");
}

// ---- frames --------------------------------------------------------------------

void Impl::cmd_backtrace(std::string_view args) {
    require_running();
    bool full = false;
    long limit = 0;  // > 0 innermost, < 0 outermost
    for (const std::string& w : split(args)) {
        if (w == "full" || w == "-full") {
            full = true;
        } else if (const std::optional<long> n = parse_int(w); n && !limit) {
            limit = *n;
        } else {
            throw CommandError("No symbol \"" + w + "\" in current context.");
        }
    }
    const std::vector<FrameView> fs = backtrace();
    std::size_t first = 0, last = fs.size();
    if (limit > 0) last = std::min(fs.size(), std::size_t(limit));
    if (limit < 0) first = fs.size() - std::min(fs.size(), std::size_t(-limit));
    std::string out;
    for (std::size_t i = first; i < last; ++i) {
        out += "#" + std::to_string(i) + "  " + fs[i].text + "\n";
        if (!full) continue;
        const std::vector<Value> vars = variables_of(
            prog.info && prog.info->function_at(fs[i].location.pc) ? prog.info->function_at(fs[i].location.pc)->locals
                                                                  : std::vector<Variable>{},
            i);
        if (vars.empty()) out += "No locals.\n";
        for (const Value& v : vars) out += "        " + v.expression + " = " + v.text + "\n";
    }
    if (last < fs.size()) out += "(More stack frames follow...)\n";
    say(out);
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
    list_next = 0;
    say("#" + std::to_string(frame_index) + "  " +
        location_text(frame_view(fs[frame_index], frame_index)));
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
        Operand o;
        try {
            o = eval("$" + name);
        } catch (const EvalError&) {
            throw CommandError("Invalid register \"" + name + "\".");
        }
        const Word v = o.words.front();
        const std::string label = o.reg == 7 ? "pc" : image::register_name(unsigned(o.reg));
        if (o.reg == 7 || o.reg == image::BP || o.reg == image::SP)
            std::snprintf(line, sizeof line, "%-15s0x%04x\n", label.c_str(), unsigned(v));
        else
            std::snprintf(line, sizeof line, "%-15s0x%04x   %d\n", label.c_str(), unsigned(v), int(std::int16_t(v)));
        out += line;
    }
    say(out);
}

void Impl::info_locals(std::string_view args) {
    no_arguments(args, "info locals");
    require_running();
    const debuginfo::Frame f = selected();
    if (!f.function) throw CommandError("No symbol table info available.");
    if (f.function->locals.empty()) return say("No locals.\n");
    for (const Value& v : variables_of(f.function->locals, frame_index)) say(v.expression + " = " + v.text + "\n");
}

void Impl::info_args(std::string_view args) {
    no_arguments(args, "info args");
    require_running();
    const debuginfo::Frame f = selected();
    if (!f.function) throw CommandError("No symbol table info available.");
    if (f.function->parameters.empty()) return say("No arguments.\n");
    for (const Value& v : variables_of(f.function->parameters, frame_index)) say(v.expression + " = " + v.text + "\n");
}

namespace {

// Where the words of a variable of a frame lie: "n at 0xffe5",
// "buf[0..2] at 0xffe1..0xffdf".
std::string slot_text(const debuginfo::Variable& v, Word bp) {
    const std::optional<Word> first = v.address(bp, 0);
    const std::optional<Word> last = v.address(bp, v.is_array() ? v.array_size - 1 : 0);
    if (!first || !last) return "  " + v.name + " outside data memory\n";
    if (!v.is_array()) return "  " + v.name + " at " + hex4(*first) + "\n";
    return "  " + v.name + "[0.." + std::to_string(v.array_size - 1) + "] at " + hex4(*first) + ".." + hex4(*last) + "\n";
}

}  // namespace

void Impl::info_frame(std::string_view args) {
    no_arguments(args, "info frame");
    require_running();
    const std::vector<debuginfo::Frame> fs = frames();
    const std::size_t i = std::min(frame_index, fs.size() - 1);
    const debuginfo::Frame& f = fs[i];
    const FrameView v = frame_view(f, i);
    const Location& l = v.location;
    // The frame holds the caller's bp at bp+1, the return address at bp+2
    // and the arguments from bp+3 (see debuginfo/frames.cpp); an outer
    // frame's sp is where its CALL pushed the return address.
    std::string out = "Stack level " + std::to_string(i) + ", frame at " + hex4(v.bp) + ":\n pc = " + hex4(l.pc) +
                      " in " + debuginfo::frame_function(f);
    if (l.line > 0) out += " (" + l.file + ":" + std::to_string(l.line) + ")";
    if (f.function) out += "; saved pc = " + hex4(machine().memory(Word(v.bp + 2)));
    out += "\n";
    if (i + 1 < fs.size()) out += " called by frame at " + hex4(fs[i + 1].bp);
    if (i + 1 < fs.size() && i > 0) out += ",";
    if (i > 0) out += " caller of frame at " + hex4(fs[i - 1].bp);
    if (i + 1 < fs.size() || i > 0) out += "\n";
    const Word sp = i == 0 ? machine().reg(image::SP) : Word(fs[i - 1].bp + 2);
    out += " bp = " + hex4(v.bp) + ", sp = " + hex4(sp) + "\n";
    if (f.function) {
        out += " Arglist at " + hex4(Word(v.bp + 3)) + ", args:";
        for (std::size_t k = 0; k < v.args.size(); ++k)
            out += (k ? ", " : " ") + v.args[k].expression + "=" + v.args[k].text;
        out += "\n";
        for (const debuginfo::Variable& p : f.function->parameters) out += slot_text(p, v.bp);
        out += " Locals at " + hex4(v.bp) + ", Previous frame's sp is " + hex4(Word(v.bp + 2)) + "\n";
        for (const debuginfo::Variable& local : f.function->locals) out += slot_text(local, v.bp);
        out += " Saved registers:\n  bp at " + hex4(Word(v.bp + 1)) + ", pc at " + hex4(Word(v.bp + 2)) + "\n";
    }
    say(out);
}

void Impl::info_breakpoints(std::string_view) {
    if (breakpoints.empty() && watchpoints.empty()) return say("No breakpoints or watchpoints.\n");
    std::vector<std::pair<int, std::string>> rows;
    char line[200];
    for (const Breakpoint& b : breakpoints) {
        std::string what;
        if (prog.info) {
            const debuginfo::Function* f = prog.info->function_at(b.address);
            const int l = prog.info->line_at(b.address);
            if (f) what = "in " + f->name + " ";
            if (l > 0) what += "at " + prog.info->source + ":" + std::to_string(l);
        }
        std::snprintf(line, sizeof line, "%-8d%-15s%-5s%-4s%-10s%s", b.number, b.temporary ? "tbreakpoint" : "breakpoint",
                      b.temporary ? "del" : "keep", b.enabled ? "y" : "n", hex4(b.address).c_str(), what.c_str());
        std::string row = trim(line) + "\n";
        if (!b.condition.empty()) row += "\tstop only if " + b.condition + "\n";
        if (b.hits > 0)
            row += "\tbreakpoint already hit " + std::to_string(b.hits) + (b.hits == 1 ? " time\n" : " times\n");
        if (b.ignore > 0) row += "\tWill ignore next " + std::to_string(b.ignore) + " crossings of breakpoint.\n";
        rows.emplace_back(b.number, row);
    }
    for (const Watchpoint& w : watchpoints) {
        std::snprintf(line, sizeof line, "%-8d%-15s%-5s%-4s%-10s%s", w.number, "watchpoint", "keep",
                      w.enabled ? "y" : "n", "", w.text.c_str());
        std::string row = trim(line) + "\n";
        if (w.hits > 0)
            row += "\tbreakpoint already hit " + std::to_string(w.hits) + (w.hits == 1 ? " time\n" : " times\n");
        rows.emplace_back(w.number, row);
    }
    std::sort(rows.begin(), rows.end());
    std::string out = "Num     Type           Disp Enb Address   What\n";
    for (const auto& row : rows) out += row.second;
    say(out);
}

void Impl::info_display(std::string_view) {
    if (displays.empty()) return say("There are no auto-display expressions now.\n");
    std::string out = "Auto-display expressions now in effect:\nNum Enb Expression\n";
    for (const Display& d : displays)
        out += std::to_string(d.number) + ":   " + (d.enabled ? "y" : "n") + "  " +
               (d.format ? std::string("/") + d.format + " " : "") + d.text + "\n";
    say(out);
}

void Impl::info_line(std::string_view args) {
    const debuginfo::DebugInfo& di = info();
    const std::string text = trim(args);
    int line = 0;
    if (text.empty()) {
        if (state == State::stopped) line = selected().line;
        if (line == 0) throw CommandError("No line number information available.");
    } else if (text[0] == '*') {
        line = di.line_at(parse_location(text));
    } else {
        line = parse_line_spec(text);
        if (line == 0) line = di.line_at(parse_location(text));
    }
    const std::vector<Word> at = di.addresses_of_line(line);
    if (at.empty())
        return say("Line " + std::to_string(line) + " of \"" + di.source + "\" contains no code.\n");
    // The run of code from the first address to where the next line begins.
    Word end = at.front() + 1;
    while (end < prog.words.size() && di.line_at(end) == line) ++end;
    std::string where;
    if (const debuginfo::Function* f = di.function_at(at.front()))
        where = " <" + f->name + (at.front() > f->entry ? "+" + std::to_string(at.front() - f->entry) : "") + ">";
    say("Line " + std::to_string(line) + " of \"" + di.source + "\" starts at address " + hex4(at.front()) + where +
        " and ends at " + hex4(end) + ".\n");
}

void Impl::info_functions(std::string_view args) {
    const debuginfo::DebugInfo& di = info();
    const std::string part = trim(args);
    std::vector<const debuginfo::Function*> fs;
    for (const debuginfo::Function& f : di.functions)
        if (f.name.find(part) != std::string::npos) fs.push_back(&f);
    std::sort(fs.begin(), fs.end(), [](auto* a, auto* b) { return a->name < b->name; });
    std::string out = part.empty() ? "All defined functions:\n" : "All functions matching \"" + part + "\":\n";
    if (!fs.empty()) out += "\nFile " + di.source + ":\n";
    for (const debuginfo::Function* f : fs) {
        std::string params;
        for (std::size_t i = 0; i < f->parameters.size(); ++i)
            params += (i ? ", " : "") + std::string(debuginfo::type_name(f->parameters[i].type)) + " " +
                      f->parameters[i].name;
        out += std::to_string(f->header) + ":\tfunction " + debuginfo::type_name(f->result) + " " + f->name + "(" +
               params + ");\n";
    }
    say(out);
}

void Impl::info_variables(std::string_view args) {
    const debuginfo::DebugInfo& di = info();
    const std::string part = trim(args);
    std::vector<const Variable*> vs;
    for (const Variable& v : di.globals)
        if (v.name.find(part) != std::string::npos) vs.push_back(&v);
    std::sort(vs.begin(), vs.end(), [](auto* a, auto* b) { return a->name < b->name; });
    std::string out = part.empty() ? "All defined variables:\n" : "All variables matching \"" + part + "\":\n";
    if (!vs.empty()) out += "\nFile " + di.source + ":\n";
    for (const Variable* v : vs)
        out += std::string("\t") + (v->is_const ? "const " : "") + debuginfo::type_name(v->type) + " " + v->name +
               (v->is_array() ? "[" + std::to_string(v->array_size) + "]" : "") + ";\n";
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
            around(f->header);
        } else {
            around(1);
        }
    } else if (const std::size_t comma = text.find(','); comma != std::string::npos) {
        const std::optional<long> a = parse_int(trim(std::string_view(text).substr(0, comma)));
        const std::optional<long> b = parse_int(trim(std::string_view(text).substr(comma + 1)));
        if (!a || !b || *a < 1 || *b < *a) throw CommandError("Invalid line range \"" + text + "\".");
        first = int(std::min<long>(*a, lines + 1));
        last = int(std::min<long>(*b, lines + 1));
    } else {
        std::string name = text;
        if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
            if (!source_matches(text.substr(0, colon)))
                throw CommandError("No source file named " + text.substr(0, colon) + ".");
            name = trim(std::string_view(text).substr(colon + 1));
        }
        if (const std::optional<long> n = parse_int(name)) {
            if (*n > lines || *n < 1)
                throw CommandError("Line number " + name + " out of range; \"" + di.source + "\" has " +
                                   std::to_string(lines) + " lines.");
            around(int(*n));
        } else if (const debuginfo::Function* f = di.find_function(name)) {
            around(f->header);
        } else {
            throw CommandError("Function \"" + name + "\" not defined.");
        }
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

// ---- completion ----------------------------------------------------------------

// The words that may follow: command names first; info subcommands after
// "info"; after any other command, the names of variables (those visible
// where the program stopped, else the globals) and functions.
std::vector<std::string> Impl::completions(std::string_view before, std::string_view word) const {
    std::vector<std::string> out;
    const std::vector<std::string> words = split(before);
    auto add = [&](const std::string& name) {
        if (name.starts_with(word) && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
    };
    if (words.empty()) {
        for (const CommandRow& row : kCommands) add(row.name);
        return out;
    }
    try {
        const CommandRow& row = find_row(kCommands, words[0], "");
        if (std::string_view(row.name) == "info" || std::string_view(row.name) == "help") {
            if (words.size() == 1) {
                if (std::string_view(row.name) == "info")
                    for (const CommandRow& sub : kInfoCommands) add(sub.name);
                else
                    for (const CommandRow& c : kCommands) add(c.name);
            }
            return out;
        }
    } catch (const CommandError&) {
        return out;
    }
    if (!prog.info) return out;
    if (state == State::stopped)
        if (const debuginfo::Function* f = prog.info->function_at(selected().pc)) {
            for (const Variable& v : f->parameters) add(v.name);
            for (const Variable& v : f->locals) add(v.name);
        }
    for (const Variable& v : prog.info->globals) add(v.name);
    for (const debuginfo::Function& f : prog.info->functions) add(f.name);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Session::command_names() {
    std::vector<std::string> names;
    for (const CommandRow& row : kCommands) names.emplace_back(row.name);
    return names;
}

std::vector<std::string> Session::info_names() {
    std::vector<std::string> names;
    for (const CommandRow& row : kInfoCommands) names.emplace_back(row.name);
    return names;
}

}  // namespace debugger
