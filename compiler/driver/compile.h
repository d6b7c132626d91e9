// One compilation in memory: source bytes in, diagnostics, image words and
// C text out; no file is read or written. The command line (driver.h), the
// language server and the browser build all compile through here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "catalog.h"
#include "image.h"
#include "record.h"

class program;
class MapManager;
class NameIndex;
struct ScannedToken;

namespace option_field {
// The type and initial value of an options.def field: a flag is a bool, an
// option with an argument a string holding its first choice (or nothing).
constexpr bool is_flag(std::string_view argument) { return argument.empty(); }
template <bool Flag> auto initial(std::string_view argument) {
    if constexpr (Flag) {
        return false;
    } else {
        const std::size_t bar = argument.find('|');
        return std::string(bar == std::string_view::npos ? std::string_view() : argument.substr(0, bar));
    }
}
}  // namespace option_field

struct CompileOptions {
#define VEXLC_COMMAND(id, name, help)
#define VEXLC_OPTION(id, name, argument, help)                                              \
    std::conditional_t<option_field::is_flag(argument), bool, std::string> id =             \
        option_field::initial<option_field::is_flag(argument)>(argument);
#include "options.def"
#undef VEXLC_COMMAND
#undef VEXLC_OPTION

    // Called once both passes are over (or a fatal error stopped them), before
    // the tree is freed: the root (null when parsing built none) and the
    // symbol table, in which only the functions are left. Runs on the
    // compiler's thread.
    std::function<void(const program* root, const MapManager& symbols)> inspect;
    // For inspect: keep every declaration and use of a name in symbols.names,
    // and every token the parser was given in `tokens`.
    bool record_names = false;
    // Check the whole program even past a full image (which is still
    // reported, as the fatal error, at the statement that filled it).
    bool check_past_full_image = false;
    std::vector<ScannedToken>* tokens = nullptr;
    // Leave the C translation out (a tool that wants only the diagnostics
    // and names): CompileResult::c_text stays empty.
    bool no_c_text = false;
    // With record_names: receives the names recorded (moved there after
    // inspect, not copied).
    NameIndex* names = nullptr;
};

// The diagnostics (input_name, diagnostics, counts, fatal: record.h, printed
// by report.h) and the outputs.
struct CompileResult : DiagnosticSet {
    // 0 compiled (warnings allowed), 1 errors were listed, -1 stopped early.
    int status = 0;
    std::vector<image::Word> words;  // the image (whole only when status is 0)
    std::string c_text;              // the C translation (likewise)
    std::string debug_text;          // the debug information file, with -g and status 0
};

// Compiles `source` (read as text: CR LF counts as one newline). `name` is
// the input name the summary line shows. Runs on a thread with a large
// stack when one can be had; not reentrant (the compiler's state is global).
CompileResult compile_source(const std::string& name, std::string_view source, const CompileOptions& options = {});
// The same on the calling thread, for a caller that keeps a thread with a
// large stack of its own (the language server compiles on every change).
CompileResult compile_source_on_this_thread(const std::string& name, std::string_view source,
                                            const CompileOptions& options = {});
