// Helpers shared by the compiler's unit tests (see support.h).
#include "support.h"

#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "diagnostics.h"
#include "frontend.h"

namespace vexltest {

std::string to_cp932(std::string_view utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 conversion");
    std::string in(utf8), out(utf8.size() * 2 + 1, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t src_left = in.size(), dst_left = out.size();
    const std::size_t done = iconv(cd, &src, &src_left, &dst, &dst_left);
    iconv_close(cd);
    if (done == static_cast<std::size_t>(-1)) throw std::runtime_error("not convertible to CP932: " + in);
    out.resize(out.size() - dst_left);
    return out;
}

std::vector<int> ScanResult::codes() const {
    std::vector<int> out;
    for (const Token& t : tokens) out.push_back(t.code);
    return out;
}

namespace {

// `source` in text mode handed to the scanner, and released again on scope
// exit (also when a fatal error unwinds through the scanner).
class ScannerInput {
public:
    explicit ScannerInput(const std::string& source) : text_(text_mode(source)) { scanner_start(text_); }
    ~ScannerInput() { scanner_finish(); }
    ScannerInput(const ScannerInput&) = delete;
    ScannerInput& operator=(const ScannerInput&) = delete;

private:
    std::string text_;
};

void reset_globals() {
    diagnostics.clear();
    parse_root = nullptr;
    free_all_nodes();
    free_token_texts();
}

}  // namespace

ScanResult scan(const std::string& source) {
    reset_globals();
    ScanResult r;
    ScannerInput input(source);
    while (int code = next_token()) {
        r.tokens.push_back({code, line_number});
        if (r.tokens.size() > 10'000'000) throw std::runtime_error("scanner does not stop");
    }
    // End of input is sticky.
    if (next_token() != 0) throw std::runtime_error("token after end of input");
    r.diagnostics = diagnostics.text();
    return r;
}

ParseResult parse_text(const std::string& source) {
    reset_globals();
    ParseResult r;
    {
        ScannerInput input(source);
        r.result = parse();
    }
    r.root = parse_root;
    r.diagnostics = diagnostics.text();
    return r;
}

std::vector<statement*> body_statements(const ParseResult& r) {
    std::vector<statement*> out;
    if (!r.root || !r.root->funcs) return out;
    // The first definition is the leftmost leaf of the definitions.
    ParseNode* first = r.root->funcs->first;
    while (auto* inner = dynamic_cast<define_functions*>(first)) first = inner->first;
    auto* f = dynamic_cast<define_function*>(first);
    if (!f) return out;
    for (statement_s* s = f->body; s && (s->first || s->rest); s = s->rest) out.push_back(s->first);
    return out;
}

ProcessResult run_vexlc(const std::vector<std::string>& args, const fs::path& dir) {
    std::vector<std::string> argv{VEXLC_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    // Generous: the largest sources take seconds under the sanitizers.
    return run_process({argv, dir, "", 120000});
}

}  // namespace vexltest
