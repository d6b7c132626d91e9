// The compiler driver: runs one compilation from the command line to the
// two output files, and is the only place that catches fatal errors.
#include "driver.h"

#include <pthread.h>
#include <sys/stat.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "catalog.h"
#include "diagnostics.h"
#include "frontend.h"
#include "../translate/emit.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

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

// Opens a readable regular file; anything else (a directory, a device)
// counts as a file that cannot be opened.
static std::FILE* open_source(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return nullptr;
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

// Everything a compilation leaves in the global objects.
static void reset_compilation() {
    diagnostics.clear();
    word_stream.clear();
    c_text.clear();
    map_manager.clear();
    debug_recorder.clear();
    parse_root = nullptr;
    free_all_nodes();
    free_token_texts();
}

static void fatal(const std::string& text) {
    diagnostics.print_all();
    write_stderr(text);
}

static int compile_file(const char* argument);

// The translation recurses once per level of nesting in the source, and
// the deepest source the parser accepts needs more than a main thread's
// usual 8 MiB of stack, so the compilation runs on a thread of its own.
constexpr std::size_t kCompilerStack = std::size_t{256} << 20;

int compile(int argc, const char* const* argv) {
    debug_recorder.enabled = false;
    gen::check_subscripts = false;
    for (; argc > 2; --argc, ++argv) {
        const std::string option = argv[1];
        if (option == "-g") debug_recorder.enabled = true;
        else if (option == "-fcheck-subscripts") gen::check_subscripts = true;
        else break;
    }
    if (argc < 2) {
        std::fputs("Usage: vexlc inputfile\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    struct Job {
        const char* argument;
        int status;
    } job{argv[1], -1};
    auto run = [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        j->status = compile_file(j->argument);
        return nullptr;
    };
    pthread_attr_t attr;
    pthread_t thread;
    if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, kCompilerStack) != 0 ||
        pthread_create(&thread, &attr, run, &job) != 0) {
        run(&job);  // no thread to be had: compile on this one
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
    return job.status;
}

static int compile_file(const char* argument) {
    reset_compilation();
    int status = 0;
    std::FILE* source = nullptr;
    try {
        OutputNames names = output_names(argument);
        word_stream.file_name = names.exec_name;
        c_text.file_name = names.c_name;

        std::string input_name = argument;
        source = open_source(input_name);
        if (!source) {
            input_name += ".vxl";
            source = open_source(input_name);
            if (!source) throw fatal_error::CantOpenInFile();
        }

        scanner_start(source);
        parse();
        scanner_finish();
        std::fclose(source);
        source = nullptr;

        if (parse_root) parse_root->declare();
        else diagnostics.error<error::BadTree>(1, "parse_tree");
        if (parse_root) parse_root->translate();

        diagnostics.print_all();
        write_stderr(input_name + catalog::kSummaryErrors + std::to_string(diagnostics.error_count) +
                     catalog::kSummaryWarnings + std::to_string(diagnostics.warning_count) + "\n");
        word_stream.write_file();
        c_text.write_file();
        if (debug_recorder.enabled && diagnostics.error_count == 0)
            debug_recorder.write_file(debuginfo::debug_file_name(names.exec_name), input_name, word_stream.words());
        // A compilation with errors must not look like a success to a build
        // step that would then run a stale image.
        status = diagnostics.error_count > 0 ? 1 : 0;
    } catch (const std::out_of_range&) {
        fatal(std::string(catalog::kOutOfRange) + "\n" + catalog::kAbort + "\n");
        status = -1;
    } catch (const fatal_error::FatalError& e) {
        fatal(e.message());
        status = -1;
    } catch (...) {
        fatal(std::string(catalog::kOtherException) + "\n" + catalog::kAbort + "\n");
        status = -1;
    }
    if (source) {
        scanner_finish();
        std::fclose(source);
    }
    parse_root = nullptr;
    free_all_nodes();
    free_token_texts();
    return status;
}
