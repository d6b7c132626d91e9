// One compilation in memory: the run from source bytes through parsing and
// both passes to the collected results. It is the only place that catches
// fatal errors.
#include "compile.h"

#include <pthread.h>

#include <algorithm>
#include <stdexcept>

#include "charset.h"
#include "compat.h"
#include "diagnostics.h"
#include "emit.h"
#include "frontend.h"
#include "node.h"
#include "recorder.h"
#include "streams.h"
#include "symbols.h"

using catalog::Charset;
using catalog::Text;

namespace {

// Everything a compilation leaves in the global objects.
void reset_compilation() {
    diagnostics.clear();
    word_stream.clear();
    c_text.clear();
    map_manager.clear();
    debug_recorder.clear();
    parse_root = nullptr;
    first_syntax_error = {};
    translating_at = image_full_at = {};
    free_all_nodes();
    free_token_texts();
}

void run(const std::string& name, std::string_view source, const CompileOptions& options, CompileResult& r) {
    reset_compilation();
    r.input_name = name;
    debug_recorder.enabled = options.g;
    map_manager.names.enabled = options.record_names;
    token_log = options.tokens;
    word_stream.stop_when_full = !options.check_past_full_image;
    gen::check_subscripts = options.fcheck_subscripts;
    c_text.enabled = !options.no_c_text;
    // A UTF-8 source becomes the CP932 text it stands for; a character
    // without a CP932 form, or bytes that are no UTF-8, are an error of
    // their line (and a blank meanwhile).
    const std::string_view as_given = source;  // the bytes the debug information stamps
    charset::Converted converted;
    if (catalog::charset_named(options.input_charset) == Charset::utf8) {
        converted = charset::utf8_to_cp932(source, ' ');
        source = converted.bytes;
    }
    const std::string text = text_mode(source);
    try {
        for (int line : converted.bad_lines) {
            const auto& m = converted.malformed_lines;
            if (std::find(m.begin(), m.end(), line) != m.end()) diagnostics.error<error::InvalidUtf8>(line, "flex");
            else diagnostics.error<error::UnconvertibleCharacter>(line, "flex");
        }
        scanner_start(text);
        parse();

        if (parse_root) parse_root->declare();
        else diagnostics.error_at<error::BadTree>(first_syntax_error, 1, "parse_tree");
        if (parse_root) parse_root->translate();
        if (options.Wc_compat) check_c_compat(parse_root);
    } catch (const std::out_of_range&) {
        r.fatal = FatalStop{Text::OutOfRange, {}, {}};
    } catch (const fatal_error::FatalError& e) {
        r.fatal = FatalStop{e.id, e.values, translating_at};
    } catch (...) {
        r.fatal = FatalStop{Text::OtherException, {}, {}};
    }
    scanner_finish();
    if (!r.fatal && word_stream.overflowed)
        r.fatal = FatalStop{Text::OverSomeErrors, {"65535"}, image_full_at.known() ? image_full_at : translating_at};
    if (options.inspect) {
        try {
            options.inspect(parse_root, map_manager);
        } catch (...) {
            if (!r.fatal) r.fatal = FatalStop{Text::OtherException, {}, {}};
        }
    }
    if (options.names) *options.names = std::move(map_manager.names);

    for (const auto& d : diagnostics.items())
        r.diagnostics.push_back({d->line, d->is_warning(), d->node_name, d->id, d->values, d->span, d->related});
    r.error_count = diagnostics.error_count;
    r.warning_count = diagnostics.warning_count;
    r.words = word_stream.words();
    if (!options.no_c_text) r.c_text = c_text.text();
    // A compilation with errors must not look like a success to a build
    // step that would then run a stale image.
    r.status = r.fatal ? -1 : r.error_count > 0 ? 1 : 0;
    if (options.g && r.status == 0) r.debug_text = debuginfo::write(debug_recorder.finish(name, as_given, r.words));
    reset_compilation();
    debug_recorder.enabled = false;
    gen::check_subscripts = false;
    c_text.enabled = true;
    token_log = nullptr;
}

// The translation recurses once per level of nesting in the source, and
// the deepest source the parser accepts needs more than a main thread's
// usual 8 MiB of stack, so the compilation runs on a thread of its own.
constexpr std::size_t kCompilerStack = std::size_t{256} << 20;

}  // namespace

CompileResult compile_source_on_this_thread(const std::string& name, std::string_view source,
                                            const CompileOptions& options) {
    CompileResult result;
    run(name, source, options, result);
    return result;
}

CompileResult compile_source(const std::string& name, std::string_view source, const CompileOptions& options) {
    struct Job {
        const std::string& name;
        std::string_view source;
        const CompileOptions& options;
        CompileResult result;
    } job{name, source, options, {}};
    auto body = [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        run(j->name, j->source, j->options, j->result);
        return nullptr;
    };
    pthread_attr_t attr;
    pthread_t thread;
    if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, kCompilerStack) != 0 ||
        pthread_create(&thread, &attr, body, &job) != 0) {
        body(&job);  // no thread to be had: compile on this one
    } else {
        pthread_join(thread, nullptr);
    }
    pthread_attr_destroy(&attr);
    return std::move(job.result);
}
