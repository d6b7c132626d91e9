// The command line of vexlc around one in-memory compilation: it finds and
// reads the source, prints the diagnostics and the summary line, and writes
// the two output files when no error was listed.
#include "version.h"
#include "driver.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <span>

#include "compile.h"
#include "debuginfo.h"
#include "diagnostics.h"
#include "format.h"
#include "options.h"
#include "report.h"
#include "streams.h"

namespace {

enum class OptionId {
#define VEXLC_COMMAND(id, name, help) id,
#define VEXLC_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXLC_COMMAND
#undef VEXLC_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define VEXLC_COMMAND(id, name, help) {name, "", help},
#define VEXLC_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef VEXLC_COMMAND
#undef VEXLC_OPTION
};

constexpr const char* kVersion = "vexlc " VEXL_VERSION "\n";

[[maybe_unused]] void assign(bool& flag, std::string) { flag = true; }
[[maybe_unused]] void assign(std::string& field, std::string value) { field = std::move(value); }

void set_option(CompileOptions& options, OptionId id, std::string value) {
    (void)options;
    (void)value;
    switch (id) {
#define VEXLC_COMMAND(id, name, help) case OptionId::id: break;
#define VEXLC_OPTION(id, name, argument, help) case OptionId::id: assign(options.id, std::move(value)); break;
#include "options.def"
#undef VEXLC_COMMAND
#undef VEXLC_OPTION
    }
}

void write_stdout(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int bad_usage(const std::string& complaint) {
    write_stderr("vexlc: " + complaint + "\nTry 'vexlc --help' for more information.\n");
    return 2;
}

std::string help_text() {
    return "Usage: vexlc [OPTION]... FILE\n"
           "Compiles the source FILE (FILE.vxl when FILE does not exist) into an image\n"
           "(.exec) and a C translation (.c), written only when no error was found.\n"
           "\n" +
           cli::help_listing(kOptions) +
           "  --                    end of options (for a file name starting with '-')\n"
           "\n"
           "Exit status: 0 compiled (warnings allowed); 1 errors were listed; 2 bad command\n"
           "line or unreadable source; 255 compilation stopped by a fatal error.\n";
}

// Opens a readable regular file; anything else (a directory, a device)
// counts as a file that cannot be opened.
std::FILE* open_source(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return nullptr;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

ReportStyle style_of(const CompileOptions& options) {
    ReportStyle style;
    style.format = report_format_named(options.diagnostics_format).value_or(ReportFormat::plain);
    style.charset = catalog::charset_named(options.diagnostics_charset).value_or(catalog::Charset::cp932);
    style.language = catalog::language_named(options.diagnostics_language).value_or(catalog::Language::ja);
    style.utf8_source = catalog::charset_named(options.input_charset) == catalog::Charset::utf8;
    return style;
}

// Prints the listing and the fatal message; the status of a stopped run.
int stop(DiagnosticSet set, const FatalStop& fatal, std::string_view source, const ReportStyle& style) {
    set.fatal = fatal;
    write_stderr(report(set, source, style));
    return -1;
}

// vexlc --format [-i] FILE: the source in the canonical layout, on
// standard output or in place of the file (written beside it and renamed
// over it, so the file is never half written).
int format_file(const std::string& name, bool in_place) {
    std::FILE* f = open_source(name);
    if (!f) {
        write_stderr("vexlc: cannot open '" + name + "'\n");
        return 2;
    }
    const std::string bytes = read_source(f);
    std::fclose(f);
    const format::Result r = format::format_source(bytes);
    if (!r.ok) {
        write_stderr(name + ":" + std::to_string(r.line) + ": error: " + r.error + " (not formatted)\n");
        return 1;
    }
    if (!in_place) {
        write_stdout(r.text);
        return 0;
    }
    if (r.text == bytes) return 0;
    struct stat st;
    const bool have_mode = stat(name.c_str(), &st) == 0;
    const std::string temporary = name + ".vexlc-format.tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    bool written = out && std::fwrite(r.text.data(), 1, r.text.size(), out) == r.text.size();
    if (out) written = std::fflush(out) == 0 && fsync(fileno(out)) == 0 && written;
    if (out && std::fclose(out) != 0) written = false;
    if (written && have_mode) chmod(temporary.c_str(), st.st_mode & 07777);
    if (!written || std::rename(temporary.c_str(), name.c_str()) != 0) {
        std::remove(temporary.c_str());
        write_stderr("vexlc: cannot write '" + name + "'\n");
        return 2;
    }
    return 0;
}

int compile_file(const std::string& argument, const CompileOptions& options) {
    const ReportStyle style = style_of(options);
    const OutputNames names = output_names(argument);
    std::string input_name = argument;
    std::FILE* source = open_source(input_name);
    if (!source) {
        input_name += ".vxl";
        source = open_source(input_name);
        if (!source) {
            DiagnosticSet none;
            none.input_name = argument;
            return stop(none, FatalStop{catalog::Text::CantOpenInFile, {}, {}}, {}, style);
        }
    }
    const std::string bytes = read_source(source);
    std::fclose(source);

    const CompileResult result = compile_source(input_name, bytes, options);
    if (result.fatal) return stop(result, *result.fatal, bytes, style);
    write_stderr(report(result, bytes, style));
    if (result.status == 0) {
        try {
            write_image_file(names.exec_name, result.words);
            write_c_file(names.c_name, result.c_text);
            if (options.g) write_c_file(debuginfo::debug_file_name(names.exec_name), result.debug_text);
        } catch (const fatal_error::FatalError& e) {
            return stop(result, FatalStop{e.id, e.values, {}}, bytes, style);
        }
    }
    return result.status;
}

}  // namespace

OutputNames output_names(const std::string& argument) {
    OutputNames names;
    std::string base = argument;
    auto vxl = base.rfind(".vxl");
    if (vxl == std::string::npos) base += ".exec";
    else base.replace(vxl, 4, ".exec");
    names.exec_name = base;
    base.replace(base.rfind(".exec"), 5, ".c");
    names.c_name = base;
    return names;
}

std::string read_source(std::FILE* source) {
    std::string bytes;
    char buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, source)) > 0) bytes.append(buffer, n);
    if (std::ferror(source)) {
        write_stderr("input in flex scanner failed\n");
        std::exit(2);
    }
    return bytes;
}

int compile(int argc, const char* const* argv) {
    if (argc < 2) {
        write_stdout("Usage: vexlc inputfile\n");
        return 0;
    }
    const cli::CommandLine line = cli::parse(kOptions, argc, argv);
    if (!line.error.empty()) return bad_usage(line.error);
    CompileOptions options;
    for (const cli::ParsedOption& o : line.options) {
        const auto id = static_cast<OptionId>(o.row);
        if (id == OptionId::help) {
            write_stdout(help_text());
            return 0;
        }
        if (id == OptionId::version) {
            write_stdout(kVersion);
            return 0;
        }
        // A charset goes by any of its usual names, so these two are
        // checked here rather than as a list of choices.
        if ((id == OptionId::diagnostics_charset || id == OptionId::input_charset) && !catalog::charset_named(o.value))
            return bad_usage("invalid argument '" + o.value + "' for '" + kOptions[o.row].name +
                             "' (valid: cp932|utf-8)");
        set_option(options, id, o.value);
    }
    // Only the first file is compiled; further ones are ignored.
    if (line.operands.empty()) return bad_usage("missing file operand");
    if (options.i && !options.format) return bad_usage("option '-i' needs '--format'");
    if (options.format) return format_file(line.operands.front(), options.i);
    return compile_file(line.operands.front(), options);
}
