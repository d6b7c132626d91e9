// The browser's view of the toolchain: a few functions over the same
// compiler, machine and listing the command-line programs use. The page's
// worker calls them through embind; texts cross as byte arrays so that the
// page decides how to decode them.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "driver.h"
#include "listing.h"
#include "machine.h"

using emscripten::val;

namespace {

val bytes(const std::string& s) {
    val array = val::global("Uint8Array").new_(s.size());
    array.call<void>("set", val(emscripten::typed_memory_view(s.size(),
                                                            reinterpret_cast<const unsigned char*>(s.data()))));
    return array;
}

std::string read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<image::Word> words_of(const std::string& image_bytes) {
    std::istringstream in(image_bytes);
    return image::read_words(in);
}

void write_file(const char* name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

// One compilation in the in-memory file system: the source goes in as
// prog.vxl, the compiler's standard error, prog.c and prog.exec come out.
val compile_source(const std::string& source) {
    chdir("/tmp");  // the summary line names the source as the user sees it
    std::remove("/tmp/prog.c");
    std::remove("/tmp/prog.exec");
    write_file("/tmp/prog.vxl", source);
    std::fflush(stderr);
    std::FILE* err = std::freopen("/tmp/stderr", "wb", stderr);
    const char* argv[] = {"vexlc", "prog.vxl", nullptr};
    int status = ::compile(2, argv);
    std::fflush(stderr);
    if (err) std::freopen("/dev/stderr", "wb", stderr);

    std::string image = read_file("/tmp/prog.exec");
    std::vector<image::Word> words = words_of(image);
    val result = val::object();
    result.set("status", status);
    result.set("stderr", bytes(read_file("/tmp/stderr")));
    result.set("ctext", bytes(read_file("/tmp/prog.c")));
    result.set("image", bytes(image));
    result.set("listing", words.empty() ? std::string() : image::list_image(words));
    return result;
}

// One run of an image, resumable in slices of steps so that the worker
// can hand out the output as it grows and stop an endless loop.
class Run {
public:
    Run(const val& image, const std::string& input) : in_(input) {
        auto b = emscripten::convertJSArrayToNumberVector<unsigned char>(image);
        machine_.load(words_of(std::string(b.begin(), b.end())));
    }

    // Runs at most `steps` instructions; "finished", "fault" or "limit".
    std::string resume(double steps) {
        auto r = machine_.execute_capped(static_cast<std::uint64_t>(steps));
        steps_ += r.steps;
        switch (r.end) {
        case vm::RunResult::End::finished: return "finished";
        case vm::RunResult::End::fault: return "fault";
        case vm::RunResult::End::step_limit: break;
        }
        return "limit";
    }

    // What the program wrote (and, after a fault, the register dump) since
    // the last call, and the error line.
    val take_output() { return take(out_); }
    val take_errors() { return take(err_); }
    double steps() const { return static_cast<double>(steps_); }
    unsigned pc() const { return machine_.pc(); }
    val registers() const {
        val r = val::array();
        for (auto w : machine_.registers()) r.call<void>("push", static_cast<unsigned>(w));
        return r;
    }

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
    std::uint64_t steps_ = 0;
};

}  // namespace

EMSCRIPTEN_BINDINGS(vexl) {
    emscripten::function("compile", &compile_source);
    emscripten::class_<Run>("Run")
        .constructor<val, std::string>()
        .function("resume", &Run::resume)
        .function("takeOutput", &Run::take_output)
        .function("takeErrors", &Run::take_errors)
        .function("steps", &Run::steps)
        .function("pc", &Run::pc)
        .function("registers", &Run::registers);
}
