// Helpers shared by the compiler's unit tests (see support.h).
#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "diagnostics.h"
#include "frontend.h"

namespace vexltest {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "vexlc-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Make sure directories the tests made read-only can be removed.
    for (const auto& e : fs::recursive_directory_iterator(path_, ec))
        if (e.is_directory(ec)) fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void write_file(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<int> ScanResult::codes() const {
    std::vector<int> out;
    for (const Token& t : tokens) out.push_back(t.code);
    return out;
}

namespace {

// An anonymous file holding `source`, positioned at its start, handed to
// the scanner and released again on scope exit (also when a fatal error
// unwinds through the scanner).
class ScannerInput {
public:
    explicit ScannerInput(const std::string& source) : file_(std::tmpfile()) {
        if (!file_) throw std::runtime_error("tmpfile failed");
        std::fwrite(source.data(), 1, source.size(), file_);
        std::rewind(file_);
        scanner_start(file_);
    }
    ~ScannerInput() {
        scanner_finish();
        std::fclose(file_);
    }
    ScannerInput(const ScannerInput&) = delete;
    ScannerInput& operator=(const ScannerInput&) = delete;

private:
    std::FILE* file_;
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

RunResult run_vexlc(const std::vector<std::string>& args, const fs::path& dir) {
    TempDir capture;
    const fs::path out_file = capture / "stdout", err_file = capture / "stderr";
    std::vector<std::string> argv{VEXLC_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    RunResult r;
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.out = read_file(out_file);
    r.err = read_file(err_file);
    return r;
}

}  // namespace vexltest
