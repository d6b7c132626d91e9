// Random edit sequences against the language server, in-process: each
// sequence opens an example program, mangles it with insertions and
// deletions of tokens and bytes, and asks about random places after every
// change. Any crash, sanitizer report or broken answer fails the run.
//
//   lsp_edit_fuzz [--sequences N] [--seed S] EXAMPLES_DIR
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "charset.h"
#include "server.h"

using lsp::json;

namespace {

[[noreturn]] void fail(const std::string& what, const json& m) {
    std::fprintf(stderr, "lsp_edit_fuzz: %s\n%s\n", what.c_str(), m.dump().substr(0, 2000).c_str());
    std::exit(1);
}

// Pieces an editing user (or a confused one) types.
const char* const kPieces[] = {
    "function", "int", "bool", "void", "const", "if", "else", "while", "do", "for", "return", "break",
    "continue", "input", "output", "and", "or", "xor", "not", "div", "mod", "true", "false", ":=", "><",
    "<=", ">=", "(", ")", "{", "}", "[", "]", ";", ",", "+", "-", "*", "=", "<", ">", "&", "x", "start",
    "main", "0", "32768", "99999999999", "\"text\"", "\"", "\\\"", "/*", "*/", "//", "\n", "\r\n", "\t",
    " ", "日本語", "\xE3\x80\x80", "ｱ", "\xF0\x9F\x98\x80", "\r", "%", "#", "\x01"};

class Fuzzer {
public:
    explicit Fuzzer(unsigned seed) : rng_(seed), server_([this](const json& m) { check(m); }) {}

    void run(const std::vector<std::string>& programs, int sequences) {
        request("initialize", {{"capabilities", json::object()}});
        // One document far larger than any program a person writes.
        std::string huge;
        while (huge.size() < (1u << 20)) huge += programs[0];
        open("file:///huge.vxl", huge);
        for (int s = 0; s < sequences; ++s) {
            const std::string uri = "file:///f" + std::to_string(s % 4) + ".vxl";
            open(uri, programs[pick(programs.size())]);
            for (int e = 1 + static_cast<int>(pick(8)); e > 0; --e) {
                edit(uri);
                ask(uri);
            }
            if (pick(10) == 0) junk();
        }
        request("shutdown", nullptr);
        notify("exit", nullptr);
    }

private:
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    lsp::Position random_position() {
        // Mostly inside the text, sometimes beyond its lines and columns.
        int lines = static_cast<int>(std::count(text_.begin(), text_.end(), '\n')) + 1;
        return {static_cast<int>(pick(lines + 2)), static_cast<int>(pick(pick(4) == 0 ? 200 : 40))};
    }
    static json pos(lsp::Position p) { return {{"line", p.line}, {"character", p.character}}; }

    void open(const std::string& uri, const std::string& text) {
        text_ = text;
        notify("textDocument/didOpen",
               {{"textDocument", {{"uri", uri}, {"languageId", "vexl"}, {"version", ++version_}, {"text", text}}}});
    }

    std::string random_text() {
        std::string t;
        switch (pick(3)) {
        case 0: t = kPieces[pick(std::size(kPieces))]; break;
        case 1:  // random characters, valid UTF-8 as the protocol carries
            for (int n = 1 + static_cast<int>(pick(6)); n > 0; --n) {
                char32_t c = static_cast<char32_t>(pick(4) == 0 ? pick(0x110000) : pick(0x100));
                if (c >= 0xD800 && c < 0xE000) c = 0x3042;
                charset::append_utf8(t, c);
            }
            break;
        default:
            for (int n = 1 + static_cast<int>(pick(4)); n > 0; --n) t += std::string(kPieces[pick(std::size(kPieces))]) + " ";
        }
        return t;
    }

    void edit(const std::string& uri) {
        json change;
        if (pick(20) == 0) {
            text_ = random_text();
            change = {{"text", text_}};
        } else {
            lsp::Position a = random_position(), b = pick(2) ? a : random_position();
            if (b.line < a.line || (b.line == a.line && b.character < a.character)) std::swap(a, b);
            std::string with = pick(3) == 0 ? "" : random_text();
            lsp::Document doc;
            doc.text = text_;
            doc.replace(a, b, with);
            text_ = doc.text;
            change = {{"range", {{"start", pos(a)}, {"end", pos(b)}}}, {"text", with}};
        }
        notify("textDocument/didChange",
               {{"textDocument", {{"uri", uri}, {"version", ++version_}}}, {"contentChanges", {change}}});
        const lsp::Document* doc = server_.document(uri);
        if (!doc || doc->text != text_) fail("the server's text differs from the client's", json(text_));
    }

    void ask(const std::string& uri) {
        static const char* const kQuestions[] = {"textDocument/hover", "textDocument/definition",
                                                 "textDocument/references", "textDocument/completion"};
        json at = {{"textDocument", {{"uri", uri}}}, {"position", pos(random_position())},
                   {"context", {{"includeDeclaration", pick(2) == 0}}}};
        request(kQuestions[pick(std::size(kQuestions))], at);
        if (pick(4) == 0) request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", uri}}}});
        if (pick(4) == 0) request("textDocument/documentSymbol", {{"textDocument", {{"uri", uri}}}});
    }

    // Messages no editor should send.
    void junk() {
        static const char* const kJunk[] = {
            "", "{", "[]", "null", "{\"id\":1}", "{\"jsonrpc\":\"2.0\",\"id\":[1],\"method\":\"shutdown\"}",
            "{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"textDocument/hover\",\"params\":{\"position\":7}}",
            "{\"jsonrpc\":\"2.0\",\"method\":\"textDocument/didChange\",\"params\":{\"textDocument\":{\"uri\":\"file:///f0.vxl\"},"
            "\"contentChanges\":[{\"range\":{\"start\":{\"line\":-5,\"character\":-1},\"end\":{\"line\":1}},\"text\":\"x\"}]}}",
            "{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":\"textDocument/didOpen\",\"params\":{\"textDocument\":{\"uri\":5}}}",
            "\xff\xfe garbage"};
        server_.handle(kJunk[pick(std::size(kJunk))]);
        // The junk may have edited f0 behind our back: take the server's text.
        if (const lsp::Document* doc = server_.document("file:///f0.vxl")) (void)doc;
        text_.clear();
    }

    // Changes are analysed when the input runs dry; sometimes a few come
    // in one burst.
    void notify(const std::string& method, const json& params) {
        server_.handle(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump());
        if (pick(3) != 0) server_.idle();
    }
    void request(const std::string& method, const json& params) {
        server_.handle(json{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump());
    }

    // Every answer must be well formed; published ranges must lie on lines
    // of the document.
    void check(const json& m) {
        std::string dumped = m.dump(-1, ' ', false, json::error_handler_t::strict);
        if (m.value("method", "") == "textDocument/publishDiagnostics") {
            for (const auto& d : m["params"]["diagnostics"]) {
                const json& r = d["range"];
                const int a = r["start"]["line"], b = r["end"]["line"];
                if (a < 0 || b < a || (a == b && r["start"]["character"] > r["end"]["character"]))
                    fail("a range that ends before it starts", m);
            }
        } else if (m.contains("result") && m["result"].is_object() && m["result"].contains("data")) {
            if (m["result"]["data"].size() % 5 != 0) fail("semantic tokens not in fives", m);
        }
        ++messages_;
    }

    std::mt19937 rng_;
    lsp::Server server_;
    std::string text_;
    long long version_ = 0;
    int id_ = 0;

public:
    long messages_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int sequences = 300;
    unsigned seed = 1;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--sequences" && i + 1 < argc) sequences = std::atoi(argv[++i]);
        else if (a == "--seed" && i + 1 < argc) seed = static_cast<unsigned>(std::atol(argv[++i]));
        else dir = a;
    }
    std::vector<std::string> programs;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".vxl") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        // Documents reach the server as Unicode: decode the examples.
        programs.push_back(charset::cp932_to_utf8(text.str()));
    }
    if (programs.empty()) {
        std::fprintf(stderr, "usage: lsp_edit_fuzz [--sequences N] [--seed S] EXAMPLES_DIR\n");
        return 2;
    }
    std::sort(programs.begin(), programs.end());
    auto t0 = std::chrono::steady_clock::now();
    Fuzzer fuzzer(seed);
    fuzzer.run(programs, sequences);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%d edit sequences, %ld messages, %.1f s\n", sequences, fuzzer.messages_, seconds);
    return 0;
}
