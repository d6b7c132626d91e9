// vexldump: prints the listing of an executable image, one instruction per
// line, so an image can be read and compared as text. With --trace it runs
// the image on the machine instead (program input and output on the
// standard streams, as with vexl) and writes one line per executed
// instruction to standard error: the instruction's listing line, then the
// registers and flags after it. With the image's debug file (vexlc -g) the
// listing can show the source (--source), and a trace shows each source
// line as execution reaches it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "version.h"
#include "debuginfo.h"
#include "image.h"
#include "listing.h"
#include "options.h"
#include "machine.h"
#include "source_view.h"

namespace {

constexpr const char* kUsage = "usage: vexldump [--source] [--trace] IMAGE\n";

enum class Option {
#define VEXLDUMP_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXLDUMP_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define VEXLDUMP_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef VEXLDUMP_OPTION
};

void print_help() {
    std::string out = std::string(kUsage) + "\nLists an executable image one instruction per line on standard output.\n\n" +
                      cli::help_listing(kOptions) +
                      "  --                    end of options (for an image name starting with \"--\")\n";
    std::fputs(out.c_str(), stdout);
}

int fail(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "vexldump: %s: %s\n", file.c_str(), message.c_str());
    return 1;
}

// One of the two output channels of a traced run (standard output for the
// program, standard error for the trace and the machine's error line). Both
// are block-buffered for speed; whenever output switches from one channel
// to the other the peer is flushed first, so that a terminal or a 2>&1
// redirection shows program output and trace lines in execution order.
class Channel : public std::streambuf {
public:
    explicit Channel(std::FILE* file) : file_(file) {}
    void pair_with(Channel* peer) { peer_ = peer; }

    void write(const char* s, std::size_t n) {
        if (peer_->pending_) peer_->flush_file();
        std::fwrite(s, 1, n, file_);
        pending_ = true;
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        write(&ch, 1);
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        write(s, static_cast<std::size_t>(n));
        return n;
    }
    // The machine flushes its output before reading input and before an
    // error line: everything pending on either channel must be out by then.
    int sync() override {
        const bool ok = flush_file() & peer_->flush_file();
        return ok ? 0 : -1;
    }

private:
    bool flush_file() {
        pending_ = false;
        return std::fflush(file_) == 0;
    }

    std::FILE* file_;
    Channel* peer_ = nullptr;
    bool pending_ = false;
};

// Formats the trace lines. The listing text of an address is computed once
// and kept: code cannot change while the machine runs.
class Tracer {
public:
    Tracer(const std::vector<image::Word>& code, Channel& channel, const debuginfo::DebugInfo* info,
           const source_view::Source* source)
        // pc is 16 bits wide: words beyond 0xFFFF are never executed.
        : code_(code), listed_(std::min<std::size_t>(code.size(), 0x10000)), channel_(channel), info_(info),
          source_(source) {}

    void operator()(const vm::TraceStep& step) {
        if (info_) show_source(step.pc);
        const std::string& head = listing(step.pc);
        char regs[128];
        const int n = std::snprintf(
            regs, sizeof regs,
            "  GR0=%04X GR1=%04X GR2=%04X GR3=%04X GR4=%04X bp=%04X sp=%04X ZF=%d SF=%d\n",
            unsigned(step.regs[0]), unsigned(step.regs[1]), unsigned(step.regs[2]),
            unsigned(step.regs[3]), unsigned(step.regs[4]), unsigned(step.regs[image::BP]),
            unsigned(step.regs[image::SP]), int(step.zf), int(step.sf));
        line_ = head;
        line_.append(regs, static_cast<std::size_t>(n));
        channel_.write(line_.data(), line_.size());
    }

private:
    // "FILE:LINE: TEXT" when pc starts another source line than the last.
    void show_source(image::Word pc) {
        const int line = info_->line_at(pc);
        if (line == line_shown_) return;
        line_shown_ = line;
        if (line == 0) return;
        const std::string& text = source_->line(line);
        std::string out = info_->source + ":" + std::to_string(line) + ": ";
        out += text.substr(std::min(text.size(), text.find_first_not_of(" \t"))) + "\n";
        channel_.write(out.data(), out.size());
    }

    // The listing line of the one instruction at pc, padded to a fixed width
    // so the register columns line up (long texts of OUTS push them right).
    const std::string& listing(image::Word pc) {
        std::string& text = listed_[pc];
        if (!text.empty()) return text;
        // The words of this instruction alone: listed on their own, they give
        // exactly its line of the whole image's listing, at address 0.
        const image::OpInfo& info = image::op_info(image::opcode_of(code_[pc]));
        std::size_t end = pc + 1;
        if (info.form == image::Form::T) {
            while (end < code_.size() && code_[end] != 0) ++end;
            if (end < code_.size()) ++end;  // the terminator
        } else if (info.defined()) {
            end = std::min(code_.size(), std::size_t(pc) + info.words);
        }
        const std::vector<image::Word> words(code_.begin() + pc, code_.begin() + long(end));
        text = image::list_image(words);
        text.resize(text.find('\n'));
        char address[8];
        std::snprintf(address, sizeof address, "%04X", unsigned(pc));
        text.replace(0, 4, address);
        if (text.size() < kColumns) text.resize(kColumns, ' ');
        return text;
    }

    static constexpr std::size_t kColumns = 40;
    const std::vector<image::Word>& code_;
    std::vector<std::string> listed_;
    Channel& channel_;
    std::string line_;
    const debuginfo::DebugInfo* info_;
    const source_view::Source* source_;
    int line_shown_ = 0;
};

// Reads the image; on failure writes the "vexldump: FILE: ..." line and
// returns false.
bool read_image(const std::string& file, std::vector<image::Word>& words, int& status) {
    // An ifstream opens a directory without complaint and then reads
    // nothing, which would list it as an empty image.
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        status = fail(file, "is a directory");
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        status = fail(file, std::string("cannot open: ") + std::strerror(errno));
        return false;
    }
    words = image::read_words(in);
    if (in.bad()) {
        status = fail(file, "read error");
        return false;
    }
    return true;
}

// The image's debug information and source, if any; `required` (--source)
// says on standard error when they cannot be had.
struct Debug {
    std::optional<debuginfo::DebugInfo> info;
    source_view::Source source;
};
Debug load_debug(const std::string& file, const std::vector<image::Word>& words, bool required) {
    Debug d;
    debuginfo::LoadResult r = debuginfo::load_for_image(file, words);
    if (r.status == debuginfo::LoadResult::Status::missing) {
        if (required)
            std::fprintf(stderr, "vexldump: %s: no debug information (compile with vexlc -g); no source shown\n",
                         r.file.c_str());
        return d;
    }
    if (!r.info) {
        std::fprintf(stderr, "vexldump: %s\n", debuginfo::load_note(r).c_str());
        return d;
    }
    d.info = std::move(r.info);
    d.source = source_view::load_source(*d.info, file);
    if (!d.source.found)
        std::fprintf(stderr, "vexldump: %s: cannot read the source; only line numbers shown\n",
                     d.info->source.c_str());
    return d;
}

int list(const std::vector<image::Word>& words, const Debug& debug) {
    const std::string text = debug.info ? source_view::annotated_listing(words, *debug.info, debug.source)
                                        : image::list_image(words);
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        return fail("standard output", "write error");
    return 0;
}

// Runs the image like vexl: status 0 after a normal end, 1 after a runtime
// error (whose "Error:" line and register dump the machine writes itself).
int trace(std::vector<image::Word> words, const Debug& debug) {
    static char err_buffer[1 << 16];
    std::setvbuf(stderr, err_buffer, _IOFBF, sizeof err_buffer);
    Channel out_channel(stdout), err_channel(stderr);
    out_channel.pair_with(&err_channel);
    err_channel.pair_with(&out_channel);
    std::ostream out(&out_channel), err(&err_channel);

    vm::Machine machine(std::cin, out, err);
    machine.load(std::move(words));
    Tracer tracer(machine.code(), err_channel, debug.info ? &*debug.info : nullptr, &debug.source);
    const vm::TraceHook hook = [&tracer](const vm::TraceStep& step) { tracer(step); };
    const vm::RunResult result = machine.execute_traced(hook);

    const bool err_ok = std::fflush(stderr) == 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail("standard output", "write error");
    if (!err_ok) return 1;  // nowhere left to say so
    return result.end == vm::RunResult::End::fault ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Wrong use of any kind gets the usage line and status 1.
    const auto usage = [] {
        std::fputs(kUsage, stderr);
        return 1;
    };
    const cli::CommandLine line = cli::parse(kOptions, argc, argv, cli::Order::long_before_operands);
    if (!line.error.empty()) return usage();
    bool tracing = false, with_source = false;
    for (const cli::ParsedOption& o : line.options) {
        switch (static_cast<Option>(o.row)) {
        case Option::trace: tracing = true; break;
        case Option::source: with_source = true; break;
        case Option::help: print_help(); return 0;
        case Option::version: std::puts("vexldump " VEXL_VERSION); return 0;
        }
    }
    if (line.operands.size() != 1) return usage();
    const std::string& file = line.operands.front();

    std::vector<image::Word> words;
    int status = 0;
    if (!read_image(file, words, status)) return status;
    try {
        // A trace uses the debug file whenever it is there; the listing
        // only when asked to.
        const Debug debug = tracing || with_source ? load_debug(file, words, with_source) : Debug{};
        if (tracing) return trace(std::move(words), debug);
        return list(words, with_source ? debug : Debug{});
    } catch (const std::exception& e) {
        // Allocation failure for a huge image or the machine's memory.
        return fail(file, e.what());
    }
}
