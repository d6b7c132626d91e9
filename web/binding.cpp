// The browser's view of the toolchain: a few functions over the same
// compiler, machine and listing the command-line programs use. The page's
// worker calls them through embind; texts cross as byte arrays so that the
// page decides how to decode them.
#include <emscripten/bind.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bindings.h"
#include "driver.h"
#include "listing.h"
#include "recorder.h"

using emscripten::val;

namespace web {

val bytes(const std::string& s) {
    val array = val::global("Uint8Array").new_(s.size());
    array.call<void>("set", val(emscripten::typed_memory_view(
                                s.size(), reinterpret_cast<const unsigned char*>(s.data()))));
    return array;
}

std::vector<image::Word> words_of(const val& image_bytes) {
    auto b = emscripten::convertJSArrayToNumberVector<unsigned char>(image_bytes);
    std::istringstream in(std::string(b.begin(), b.end()));
    return image::read_words(in);
}

namespace {

std::string read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One compilation in the in-memory file system: the source goes in as
// prog.vxl, the compiler's standard error, prog.c, prog.exec and the debug
// information come out.
val compile(const std::string& source) {
    chdir("/tmp");  // the summary line names the source as the user sees it
    for (const char* name : {"prog.c", "prog.exec", "prog.dbg"}) std::remove(name);
    std::ofstream("prog.vxl", std::ios::binary) << source;
    std::fflush(stderr);
    std::FILE* err = std::freopen("stderr.txt", "wb", stderr);
    // With -g the image and the C text are those of a plain compilation.
    const char* argv[] = {"vexlc", "-g", "prog.vxl", nullptr};
    int status = ::compile(3, argv);
    std::fflush(stderr);
    if (err) std::freopen("/dev/stderr", "wb", stderr);

    std::string image = read_file("prog.exec");
    std::istringstream image_in(image);
    std::vector<image::Word> words = image::read_words(image_in);
    std::string debug_text = read_file("prog.dbg");
    val result = val::object();
    result.set("status", status);
    result.set("stderr", bytes(read_file("stderr.txt")));
    result.set("ctext", bytes(read_file("prog.c")));
    result.set("image", bytes(image));
    result.set("listing", words.empty() ? std::string() : image::list_image(words));
    result.set("debugText", debug_text);
    val c_lines = val::array();
    for (auto [offset, line] : debug_recorder.c_text_lines()) {
        c_lines.call<void>("push", static_cast<double>(offset));
        c_lines.call<void>("push", line);
    }
    result.set("cMarks", c_lines);
    if (auto info = read_debug_info(debug_text)) {
        result.set("lines", line_table(*info));
        result.set("globals", global_names(*info));
    }
    return result;
}

// One run of an image, resumable in slices of steps so that the worker
// can hand out the output as it grows and stop an endless loop.
class Run {
public:
    Run(const val& image, const std::string& input, const std::string& debug_text)
        : in_(input), info_(read_debug_info(debug_text)) {
        machine_.load(words_of(image));
    }

    // Runs at most `steps` instructions and writes at most `output` more
    // bytes: "finished", "fault", "steps" or "output".
    std::string resume(double steps, double output) {
        vm::Limits limits;
        limits.max_steps = static_cast<std::uint64_t>(steps);
        limits.max_output = static_cast<std::uint64_t>(output);
        vm::Stats stats;
        auto r = machine_.execute(limits, &stats);
        steps_ += stats.steps;
        fault_ = r.fault;
        switch (r.end) {
        case vm::RunResult::End::finished: return "finished";
        case vm::RunResult::End::fault: return "fault";
        case vm::RunResult::End::output_limit: return "output";
        case vm::RunResult::End::step_limit: break;
        }
        return "steps";
    }

    // What the program wrote (and, after a fault, the register dump) since
    // the last call, and the error line.
    val take_output() { return take(out_); }
    val take_errors() { return take(err_); }
    double steps() const { return static_cast<double>(steps_); }
    // Where the run failed in the source (empty without debug information).
    val where() const { return info_ ? fault_lines(*info_, machine_, fault_) : val::array(); }

private:
    static val take(std::ostringstream& s) {
        val b = bytes(s.str());
        s.str({});
        return b;
    }

    std::istringstream in_;
    std::ostringstream out_;
    std::ostringstream err_;
    vm::Machine machine_{in_, out_, err_};
    std::optional<debuginfo::DebugInfo> info_;
    std::uint64_t steps_ = 0;
    vm::Fault fault_ = vm::Fault::none;
};

}  // namespace

EMSCRIPTEN_BINDINGS(vexl) {
    emscripten::function("compile", &compile);
    emscripten::class_<Run>("Run")
        .constructor<val, std::string, std::string>()
        .function("resume", &Run::resume)
        .function("takeOutput", &Run::take_output)
        .function("takeErrors", &Run::take_errors)
        .function("steps", &Run::steps)
        .function("where", &Run::where);
}

}  // namespace web
