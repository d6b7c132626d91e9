// vexl-lsp as an editor meets it: a scripted session over pipes, and the
// ways a session can go wrong.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"

#include <chrono>
#include <string>

using json = nlohmann::json;

namespace {

// The server as a child process with both ends of its standard streams.
class Session {
public:
    Session() {
        signal(SIGPIPE, SIG_IGN);
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]), close(in[1]), close(out[0]), close(out[1]);
            execl(VEXL_LSP_PATH, "vexl-lsp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Session() {
        if (to_ >= 0) close(to_);
        close(from_);
        if (pid_ > 0) wait_exit();
    }
    void raw(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t n = write(to_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) throw std::runtime_error("server gone");
            done += static_cast<std::size_t>(n);
        }
    }
    void send(const json& m) {
        std::string body = m.dump();
        raw("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }
    json request(int id, const std::string& method, const json& params = json::object()) {
        send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}});
        for (;;) {
            json m = receive();
            if (m.value("id", json()) == id) return m;
        }
    }
    void notify(const std::string& method, const json& params) {
        send({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
    }
    // The next message; fails the test after 10 s of silence.
    json receive() {
        std::string header;
        while (header.size() < 4 || header.compare(header.size() - 4, 4, "\r\n\r\n") != 0) header += byte();
        std::size_t length = std::stoul(header.substr(header.find(':') + 1));
        std::string body;
        while (body.size() < length) body += byte();
        return json::parse(body);
    }
    void close_input() {
        close(to_);
        to_ = -1;
    }
    int wait_exit() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    char byte() {
        pollfd p{from_, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0) throw std::runtime_error("no answer");
        char c;
        if (read(from_, &c, 1) != 1) throw std::runtime_error("server closed its output");
        return c;
    }
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
};

const char* const kUri = "file:///tmp/prog.vxl";

json position(int line, int character) { return {{"line", line}, {"character", character}}; }
json at(int line, int character) {
    return {{"textDocument", {{"uri", kUri}}}, {"position", position(line, character)}};
}

// Line 2 holds Japanese text before the fault, line 6 one with no CP932 form.
const char* const kProgram =
    "int total;\n"
    "function int twice(int n) {\n"
    "  output \"二倍\"; return n * 2 +;\n"
    "}\n"
    "function void start() {\n"
    "  int k;\n"
    "  k := twice(3); total := k; // \xF0\x9F\x98\x80\n"
    "  output total;\n"
    "}\n";

}  // namespace

TEST(LanguageServer, ScriptedSession) {
    Session s;
    EXPECT_EQ(s.request(1, "textDocument/hover", at(0, 0))["error"]["code"], -32002);
    json init = s.request(2, "initialize", {{"processId", nullptr}, {"capabilities", json::object()}});
    const json& caps = init["result"]["capabilities"];
    for (const char* c : {"hoverProvider", "definitionProvider", "referencesProvider", "documentSymbolProvider",
                          "completionProvider", "semanticTokensProvider", "textDocumentSync"})
        EXPECT_TRUE(caps.contains(c)) << c;
    s.notify("initialized", json::object());

    s.notify("textDocument/didOpen",
             {{"textDocument", {{"uri", kUri}, {"languageId", "vexl"}, {"version", 1}, {"text", kProgram}}}});
    json d = s.receive();
    ASSERT_EQ(d["method"], "textDocument/publishDiagnostics");
    const json& list = d["params"]["diagnostics"];
    ASSERT_GE(list.size(), 2u) << d.dump();
    // Whole lines, their ends counted in UTF-16: the emoji takes two units.
    EXPECT_EQ(list[0]["range"]["start"], position(6, 0)) << d.dump();
    EXPECT_EQ(list[0]["range"]["end"], position(6, 34));
    EXPECT_EQ(list[0]["message"], "Shift-JISで表せない文字があります");
    // Token ranges: the ';' where the expression broke off, counted in UTF-16.
    std::string line_2;
    for (const auto& item : list)
        if (item["range"]["start"]["line"] == 2 && item["code"] == "ParseError") {
            EXPECT_EQ(item["range"]["start"]["character"], 29);
            EXPECT_EQ(item["range"]["end"]["character"], 30);
            EXPECT_EQ(item["severity"], 1);
            line_2 += item["message"].get<std::string>() + "|";
        }
    EXPECT_NE(line_2.find("expressionを無視します|"), std::string::npos) << d.dump();

    // Mend both faults with ranges placed after the Japanese text.
    s.notify("textDocument/didChange",
             {{"textDocument", {{"uri", kUri}, {"version", 2}}},
              {"contentChanges",
               {{{"range", {{"start", position(6, 32)}, {"end", position(6, 34)}}}, {"text", ""}},
                {{"range", {{"start", position(2, 28)}, {"end", position(2, 29)}}}, {"text", ""}}}}});
    d = s.receive();
    EXPECT_EQ(d["params"]["version"], 2);
    EXPECT_EQ(d["params"]["diagnostics"], json::array()) << d.dump();

    json hover = s.request(3, "textDocument/hover", at(6, 3));
    EXPECT_NE(hover["result"]["contents"]["value"].get<std::string>().find("int k"), std::string::npos);
    hover = s.request(4, "textDocument/hover", at(6, 9));
    EXPECT_NE(hover["result"]["contents"]["value"].get<std::string>().find("function int twice(int n)"),
              std::string::npos) << hover.dump();

    json def = s.request(5, "textDocument/definition", at(7, 10));
    EXPECT_EQ(def["result"]["range"]["start"], position(0, 4)) << def.dump();
    json refs = s.request(6, "textDocument/references",
                          {{"textDocument", {{"uri", kUri}}}, {"position", position(0, 5)},
                           {"context", {{"includeDeclaration", false}}}});
    EXPECT_EQ(refs["result"].size(), 2u) << refs.dump();

    json symbols = s.request(7, "textDocument/documentSymbol", {{"textDocument", {{"uri", kUri}}}});
    std::string names;
    for (const auto& sym : symbols["result"]) names += sym["name"].get<std::string>() + " ";
    EXPECT_EQ(names, "total twice start ");
    EXPECT_EQ(symbols["result"][1]["children"][0]["name"], "n");

    // In start: its own local, the globals and functions, not twice's n.
    json completion = s.request(8, "textDocument/completion", at(7, 2));
    std::string labels = " ";
    for (const auto& item : completion["result"]) labels += item["label"].get<std::string>() + " ";
    for (const char* want : {" k ", " total ", " twice ", " while ", " output "})
        EXPECT_NE(labels.find(want), std::string::npos) << want;
    EXPECT_EQ(labels.find(" n "), std::string::npos);

    json tokens = s.request(9, "textDocument/semanticTokens/full", {{"textDocument", {{"uri", kUri}}}});
    EXPECT_EQ(tokens["result"]["data"].size() % 5, 0u);
    EXPECT_GT(tokens["result"]["data"].size(), 100u);

    EXPECT_EQ(s.request(10, "workspace/unheardOf")["error"]["code"], -32601);
    s.raw("Content-Length: 9\r\n\r\n{not json");
    EXPECT_EQ(s.receive()["error"]["code"], -32700);
    EXPECT_EQ(s.request(11, "textDocument/hover", {{"textDocument", 7}})["error"]["code"], -32602);

    EXPECT_EQ(s.request(12, "shutdown")["result"], nullptr);
    s.notify("exit", json::object());
    EXPECT_EQ(s.wait_exit(), 0);
}

// Formatting answers with the changed lines only; a range keeps the lines
// outside it; a text that cannot be formatted gets no edit.
TEST(LanguageServer, Formatting) {
    Session s;
    json init = s.request(1, "initialize", {{"capabilities", json::object()}});
    EXPECT_EQ(init["result"]["capabilities"]["documentFormattingProvider"], true);
    EXPECT_EQ(init["result"]["capabilities"]["documentRangeFormattingProvider"], true);
    s.notify("textDocument/didOpen", {{"textDocument", {{"uri", kUri}, {"languageId", "vexl"}, {"version", 1},
                                      {"text", "int g;\nfunction void start() {\noutput  \"é\";\n  g:=1;\n}\n"}}}});
    const json doc = {{"uri", kUri}};
    json edits = s.request(2, "textDocument/formatting", {{"textDocument", doc}, {"options", json::object()}})["result"];
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0]["range"], json({{"start", position(2, 0)}, {"end", position(4, 0)}}));
    EXPECT_EQ(edits[0]["newText"], "    output \"é\";\n    g := 1;\n");
    edits = s.request(3, "textDocument/rangeFormatting",
                      {{"textDocument", doc}, {"range", {{"start", position(3, 0)}, {"end", position(4, 0)}}},
                       {"options", json::object()}})["result"];
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0]["range"], json({{"start", position(3, 0)}, {"end", position(4, 0)}}));
    EXPECT_EQ(edits[0]["newText"], "    g := 1;\n");
    s.notify("textDocument/didChange", {{"textDocument", {{"uri", kUri}, {"version", 2}}},
                                        {"contentChanges", {{{"text", "x := 1; #"}}}}});
    EXPECT_EQ(s.request(4, "textDocument/formatting", {{"textDocument", doc}, {"options", json::object()}})["result"],
              json::array());
}

TEST(LanguageServer, ClientThatDisappears) {
    Session s;
    s.request(1, "initialize", {{"capabilities", json::object()}});
    // Half a frame, then nothing: the server ends (status 1, no shutdown).
    s.raw("Content-Length: 500\r\n\r\n{\"jsonrpc\":");
    s.close_input();
    EXPECT_EQ(s.wait_exit(), 1);
}

// The command line: --stdio (what clients pass) is the default; anything
// else is refused before a byte of the protocol, GNU style.
TEST(LanguageServer, CommandLine) {
    using vexltest::run_process;
    EXPECT_TRUE(run_process({{VEXL_LSP_PATH, "--version"}}).exited_with(0));
    const vexltest::ProcessResult help = run_process({{VEXL_LSP_PATH, "--help"}});
    EXPECT_TRUE(help.exited_with(0));
    EXPECT_NE(help.out.find("--stdio"), std::string::npos);
    for (const char* arg : {"--bogus", "file.vxl", "--stdio=1"}) {
        const vexltest::ProcessResult r = run_process({{VEXL_LSP_PATH, arg}});
        EXPECT_TRUE(r.exited_with(2)) << arg;
        EXPECT_EQ(r.out, "") << arg;
        EXPECT_NE(r.err.find("Try 'vexl-lsp --help'"), std::string::npos) << arg;
    }
}

// Frames that cannot be read never take the next one with them: a header
// without a length, a length with a trailing blank, an absurd length.
TEST(LanguageServer, BrokenFramesSpareTheNext) {
    Session s;
    s.request(1, "initialize", {{"capabilities", json::object()}});
    auto frame = [](const std::string& header, int id) {
        const std::string body = json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "shutdown"}}.dump();
        return header + (header.empty() ? "Content-Length: " + std::to_string(body.size()) : "") + "\r\n\r\n" + body;
    };
    const std::string body = json{{"jsonrpc", "2.0"}, {"id", 2}, {"method", "textDocument/unheardOf"}}.dump();
    s.raw("Content-Length: " + std::to_string(body.size()) + " \r\n\r\n" + body);
    EXPECT_EQ(s.receive()["id"], 2);
    s.raw("Content-Type: application/json\r\n\r\n" + body + frame("", 3));
    EXPECT_EQ(s.receive()["error"]["code"], -32700);
    EXPECT_EQ(s.receive()["id"], 3);
    s.raw("Content-Length: 99999999999999999999999\r\n\r\n" + body + frame("", 4));
    EXPECT_EQ(s.receive()["error"]["code"], -32700);
    EXPECT_EQ(s.receive()["id"], 4);
    s.notify("exit", json::object());
    EXPECT_EQ(s.wait_exit(), 0);
}
