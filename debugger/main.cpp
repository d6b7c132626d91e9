// vexldb: the stepping debugger. Loads an image (named as vexl takes it)
// with its debug file and reads commands: at a terminal with line editing
// and history, from a pipe or from --batch FILE without prompts. The
// program's output and the debugger's messages go to standard output, the
// errors of failed commands to standard error.
#include <editline/readline.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "version.h"
#include "options.h"
#include "session.h"

namespace {

enum class Option {
#define VEXLDB_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXLDB_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define VEXLDB_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef VEXLDB_OPTION
};

constexpr const char* kPrompt = "(vexldb) ";

void print_help() {
    std::string out =
        "Usage: vexldb [OPTION]... IMAGE\n"
        "Debugs an executable image (\".exec\" is appended when IMAGE does not contain\n"
        "it) with the debug file beside it (IMAGE.dbg, written by vexlc -g).\n\n";
    out += cli::help_listing(kOptions);
    out +=
        "\nCommands are read from the terminal (with line editing and history), from\n"
        "standard input when it is no terminal, or from --batch FILE. Type \"help\" for\n"
        "the commands.\n\n"
        "Exit status: 0 normally; 1 the image cannot be read, or a command read from a\n"
        "pipe or a batch file failed; 2 bad option.\n";
    std::fputs(out.c_str(), stdout);
}

int bad_usage(const std::string& message) {
    std::fprintf(stderr, "vexldb: %s\nTry 'vexldb --help' for more information.\n", message.c_str());
    return 2;
}

// Program output and debugger messages share standard output. A message
// after program output that did not end its line starts on a new one.
bool program_line_open = false;

void write_out(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

// Tab completes the command word from the command table; later words
// complete as file names (for run < FILE).
char* next_command_name(const char* text, int state) {
    static const std::vector<std::string> names = debugger::Session::command_names();
    static std::size_t index = 0;
    if (state == 0) index = 0;
    while (index < names.size()) {
        const std::string& name = names[index++];
        if (name.starts_with(text)) return strdup(name.c_str());
    }
    return nullptr;
}

char** complete(const char* text, int start, int) {
    if (start != 0) return nullptr;
    return rl_completion_matches(text, next_command_name);
}

debugger::Session* interrupt_target = nullptr;
volatile std::sig_atomic_t interrupted = 0;

// Ctrl-C: stops a running program; at the prompt, drops the line.
extern "C" void on_interrupt(int) {
    interrupted = 1;
    if (interrupt_target) interrupt_target->interrupt();
}

}  // namespace

int main(int argc, char** argv) {
    std::string batch, input;
    bool echo = false;
    const cli::CommandLine line = cli::parse(kOptions, argc, argv, cli::Order::long_before_operands);
    if (!line.error.empty()) return bad_usage(line.error);
    for (const cli::ParsedOption& o : line.options) {
        switch (static_cast<Option>(o.row)) {
        case Option::batch: batch = o.value; break;
        case Option::input: input = o.value; break;
        case Option::echo: echo = true; break;
        case Option::help: print_help(); return 0;
        case Option::version: std::puts("vexldb " VEXL_VERSION); return 0;
        }
    }
    if (line.operands.size() != 1)
        return bad_usage(line.operands.empty() ? "no image given" : "more than one image given");
    const char* const image = line.operands.front().c_str();

    std::string error, note;
    std::optional<debugger::Program> program = debugger::load_program(image, error, note);
    if (!program) {
        std::fprintf(stderr, "vexldb: %s\n", error.c_str());
        return 1;
    }
    std::ifstream batch_file;
    if (!batch.empty()) {
        batch_file.open(batch, std::ios::binary);
        if (!batch_file) {
            std::fprintf(stderr, "vexldb: %s: cannot open the command file\n", batch.c_str());
            return 1;
        }
    }
    const bool from_stdin = batch.empty();
    const bool interactive = from_stdin && isatty(STDIN_FILENO);

    debugger::Sinks sinks;
    sinks.program = [](std::string_view text) {
        write_out(text);
        if (!text.empty()) program_line_open = text.back() != '\n';
    };
    sinks.console = [](std::string_view text) {
        if (program_line_open) write_out("\n");
        program_line_open = false;
        write_out(text);
    };
    sinks.error = [](std::string_view text) {
        if (program_line_open) write_out("\n");
        program_line_open = false;
        std::fwrite(text.data(), 1, text.size(), stderr);
        std::fflush(stderr);
    };
    debugger::Session session(std::move(*program), sinks);
    if (!note.empty()) std::fprintf(stderr, "vexldb: %s\n", note.c_str());
    // The program reads standard input unless the commands come from there
    // through a pipe; then it gets an empty input unless --input says more.
    if (!input.empty())
        session.set_input_file(input);
    else if (!from_stdin || interactive)
        session.set_input_stream(&std::cin);
    session.set_repeat_on_empty(interactive);

    interrupt_target = &session;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    bool failed = false;
    std::istream& commands = from_stdin ? std::cin : batch_file;
    if (interactive) {
        using_history();
        rl_catch_signals = 0;  // Ctrl-C is ours (see on_interrupt)
        rl_attempted_completion_function = complete;
    }
    while (!session.quit_requested()) {
        std::string line;
        if (interactive) {
            interrupted = 0;
            char* text = readline(kPrompt);
            if (!text && interrupted) {
                write_out("Quit\n");
                continue;
            }
            if (!text) {
                write_out("quit\n");
                break;
            }
            line = text;
            std::free(text);
            if (!line.empty()) add_history(line.c_str());
        } else if (!std::getline(commands, line)) {
            break;
        }
        if (echo && !interactive) write_out(kPrompt + line + "\n");
        if (!session.execute(line)) failed = true;
    }
    return failed && !interactive ? 1 : 0;
}
