// The server's answers, message by message in one process: what it finds
// while the text is broken, its diagnostics' ranges, and the editing
// methods (rename, signature help, quick fixes, ...).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "analysis.h"
#include "server.h"

using lsp::json;

namespace {

const char* const kUri = "file:///t.vxl";

class Client {
public:
    explicit Client(const json& options = json::object()) {
        request("initialize", {{"capabilities", json::object()}, {"initializationOptions", options}});
    }
    json request(const std::string& method, json params) {
        const int id = ++id_;
        server_.handle(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}}.dump());
        for (auto it = inbox_.rbegin(); it != inbox_.rend(); ++it)
            if (it->value("id", json()) == id) return *it;
        ADD_FAILURE() << "no answer to " << method;
        return {};
    }
    void notify(const std::string& method, json params) {
        server_.handle(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}}.dump());
    }
    void open(const std::string& text) {
        notify("textDocument/didOpen", {{"textDocument", {{"uri", kUri}, {"version", 1}, {"text", text}}}});
        server_.idle();
    }
    void change(int line, int character, int end_line, int end_character, const std::string& text,
                json version = 7) {
        notify("textDocument/didChange",
               {{"textDocument", {{"uri", kUri}, {"version", version}}},
                {"contentChanges", {{{"range", {{"start", pos(line, character)}, {"end", pos(end_line, end_character)}}},
                                     {"text", text}}}}});
    }
    // The diagnostics published last.
    json diagnostics() {
        server_.idle();
        for (auto it = inbox_.rbegin(); it != inbox_.rend(); ++it)
            if (it->value("method", "") == "textDocument/publishDiagnostics") return (*it)["params"];
        return {};
    }
    json at(const std::string& method, int line, int character, json extra = json::object()) {
        extra["textDocument"] = {{"uri", kUri}};
        extra["position"] = pos(line, character);
        return request(method, extra)["result"];
    }
    std::string hover(int line, int character) {
        const json r = at("textDocument/hover", line, character);
        return r.is_object() ? r["contents"]["value"].get<std::string>() : "";
    }
    static json pos(int line, int character) { return {{"line", line}, {"character", character}}; }
    lsp::Server& server() { return server_; }
    std::vector<json> inbox_;

private:
    lsp::Server server_{[this](const json& m) { inbox_.push_back(m); }};
    int id_ = 0;
};

// Line numbers (from 0) are those of the editor.
const char* const kProgram =
    "const int limit := 3 * 4 + 1;\n"             // 0
    "int solutions;\n"                            // 1
    "function int place(int row, int col) {\n"    // 2
    "    int i;\n"                                // 3
    "    i := row + col;\n"                       // 4
    "    return i;\n"                             // 5
    "}\n"                                         // 6
    "function void start() {\n"                   // 7
    "    int i;\n"                                // 8
    "    i := place(1, limit);\n"                 // 9
    "    solutions := i;\n"                       // 10
    "    output solutions;\n"                     // 11
    "}\n";                                        // 12

int symbol_count(const json& symbols) {
    int n = 0;
    for (const auto& s : symbols) n += 1 + static_cast<int>(s["children"].size());
    return n;
}

}  // namespace

// Typing breaks the tree: names keep answering everywhere, the broken
// function from the last complete analysis, and the missing tree is
// reported where the parser stumbled.
TEST(Server, KeepsAnsweringWhileTyping) {
    Client c;
    c.open(kProgram);
    EXPECT_EQ(c.diagnostics()["diagnostics"], json::array());
    const int symbols = symbol_count(c.at("textDocument/documentSymbol", 0, 0));
    EXPECT_EQ(symbols, 8);  // limit solutions place(row col i) start(i)

    // A call begun in start, a definition begun at the end (no tree), a
    // missing ';' after a local (the parser recovers).
    struct Edit {
        int line, character;
        const char* text;
        bool tree;
    } edits[] = {{10, 0, "place(", false}, {12, 1, "\nfunction void", false}, {8, 10, "", true}};
    for (const Edit& e : edits) {
        Client t;
        t.open(kProgram);
        if (*e.text) t.change(e.line, e.character, e.line, e.character, e.text);
        else t.change(8, 9, 8, 10, "");  // the ';' after "int i"
        const json d = t.diagnostics();
        bool bad_tree = false;
        for (const auto& item : d["diagnostics"])
            if (item["code"] == "BadTree") {
                bad_tree = true;
                EXPECT_GE(item["range"]["start"]["line"], e.line) << d.dump();
            }
        EXPECT_EQ(bad_tree, !e.tree) << e.text << d.dump();
        EXPECT_NE(t.hover(11, 12).find("int solutions"), std::string::npos) << e.text;
        EXPECT_NE(t.hover(4, 9).find("parameter of place"), std::string::npos) << e.text;
        EXPECT_NE(t.hover(0, 11).find("= 13"), std::string::npos) << e.text;
        EXPECT_GE(symbol_count(t.at("textDocument/documentSymbol", 0, 0)), symbols - 1) << e.text;
        const json def = t.at("textDocument/definition", 11, 12);
        ASSERT_TRUE(def.is_object()) << e.text;
        EXPECT_EQ(def["range"]["start"], Client::pos(1, 4)) << e.text;
        // Inside the broken function too, from the last complete analysis.
        if (!e.tree) {
            EXPECT_NE(t.hover(9, 5).find("local variable of start"), std::string::npos) << e.text;
        }
    }
}

// While a function stays broken, the text compiled without it changes only
// by whitespace, and its names are reused rather than compiled again: the
// analyses must be those of a compilation from scratch at every step, also
// after edits elsewhere (which allow no reuse).
TEST(Analysis, ReusedNamesMatchACompilation) {
    auto offset = [](const std::string& text, int line, int character) {
        std::size_t at = 0;
        while (line-- > 0) at = text.find('\n', at) + 1;
        return at + static_cast<std::size_t>(character);
    };
    std::string text = std::string(kProgram) + "function int twice(int v) {\n    return place(v, solutions);\n}\n";
    const lsp::Analysis complete = lsp::analyse(text);
    ASSERT_TRUE(complete.complete);
    struct Edit {
        int line, character, erase;
        const char* text;
        bool reuse;
    } edits[] = {{10, 0, 0, "if (", false}, {10, 4, 0, "yz", true},   {11, 0, 0, "\n  \n", true},
                 {10, 4, 2, "", true},      {10, 4, 0, "\t", true},  {16, 10, 0, " ", false},
                 {1, 4, 9, "count", false}, {10, 4, 0, " ", true}};
    lsp::Analysis previous = complete;
    int step = 0;
    for (const Edit& e : edits) {
        text.replace(offset(text, e.line, e.character), static_cast<std::size_t>(e.erase), e.text);
        const lsp::Analysis chained = lsp::analyse(text, {}, &complete, &previous);
        const lsp::Analysis fresh = lsp::analyse(text, {}, &complete);
        SCOPED_TRACE("step " + std::to_string(++step));
        ASSERT_FALSE(chained.complete);
        EXPECT_EQ(e.reuse, chained.left_out != nullptr && chained.left_out == previous.left_out);
        ASSERT_EQ(chained.tokens.size(), fresh.tokens.size());
        for (std::size_t i = 0; i < fresh.tokens.size(); ++i) {
            EXPECT_EQ(chained.tokens[i].symbol, fresh.tokens[i].symbol) << i;
            EXPECT_EQ(chained.tokens[i].cls, fresh.tokens[i].cls) << i;
        }
        ASSERT_EQ(chained.symbols.size(), fresh.symbols.size());
        for (std::size_t i = 0; i < fresh.symbols.size(); ++i) {
            const lsp::Symbol &x = chained.symbols[i], &y = fresh.symbols[i];
            EXPECT_EQ(x.name + x.scope + x.detail, y.name + y.scope + y.detail);
            EXPECT_EQ(x.declaration, y.declaration) << x.name;
            EXPECT_EQ(x.uses, y.uses) << x.name;
            EXPECT_EQ(x.first_token, y.first_token) << x.name;
            EXPECT_EQ(x.last_token, y.last_token) << x.name;
        }
        previous = chained;
    }
    EXPECT_EQ(text.find("int count;"), 30u);  // the edits went where meant
}

// Diagnostics name their tokens; unused variables are marked at their
// declarations, duplicates point at the first; a construct checked twice
// is reported once.
TEST(Server, PreciseDiagnostics) {
    Client c;
    c.open("int g, g;\n"
           "function void main() { }\n"
           "function void start() {\n"
           "    int unused; int v[2];\n"
           "    output 1 + true # ;\n"
           "    output f(y, y);\n"
           "    v := 1; unused[0] := 2; output v[false];\n"
           "}\n"
           "function int f(int a, int b) { return a; }\n");
    const json d = c.diagnostics()["diagnostics"];
    auto find = [&](const std::string& code) {
        for (const auto& item : d)
            if (item["code"] == code) return item;
        ADD_FAILURE() << code << " in " << d.dump();
        return json();
    };
    auto range = [](int l, int a, int b) { return json{{"start", Client::pos(l, a)}, {"end", Client::pos(l, b)}}; };
    EXPECT_EQ(find("var_AlreadyDec")["range"], range(0, 7, 8));
    EXPECT_EQ(find("var_AlreadyDec")["relatedInformation"][0]["location"]["range"], range(0, 4, 5));
    EXPECT_EQ(find("CFunctionName")["range"], range(1, 14, 18));
    json unused = find("UnusedVariable");
    EXPECT_EQ(unused["range"], range(3, 8, 14));
    EXPECT_EQ(unused["tags"], json::array({1}));
    EXPECT_EQ(find("IllegalCharacter")["range"], range(4, 20, 21));
    EXPECT_EQ(find("OperandNotOfType")["range"], range(4, 13, 14));
    int undeclared = 0;
    for (const auto& item : d) undeclared += item["code"] == "VariableNotDeclared";
    EXPECT_EQ(undeclared, 1) << d.dump();  // "y" twice on one line, one message
    EXPECT_EQ(find("VariableNotDeclared")["range"], range(5, 13, 14));
    EXPECT_EQ(find("SubscriptRequired")["range"], range(6, 4, 5));
    EXPECT_EQ(find("SubscriptOnScalar")["range"], range(6, 12, 18));
    EXPECT_EQ(find("SubscriptNotInt")["range"], range(6, 35, 36));

    // An image over its limit: the fatal error at the statement that filled it.
    std::string big = "function void start() {\n";
    for (int i = 0; i < 3000; ++i) big += "  output 1 + 2 + 3 + 4 + 5 + 6 + 7 + 8;\n";
    Client b;
    b.open(big + "  output zz;\n}\n");
    const json fatal = b.diagnostics()["diagnostics"];
    ASSERT_GE(fatal.size(), 2u);
    int line = -1;
    bool zz = false;
    for (const auto& item : fatal) {
        if (item["code"] == "OverSomeErrors") line = item["range"]["start"]["line"];
        zz |= item["code"] == "VariableNotDeclared";
    }
    EXPECT_GT(line, 100);
    EXPECT_LT(line, 3000);
    EXPECT_TRUE(zz) << "the rest of the program is still checked";
}

// -Wc-compat through the settings, at start and changed later.
TEST(Server, Settings) {
    const char* text = "int printf;\n"
                       "function int f() { return 1; }\n"
                       "function void start() {\n"
                       "    int f;\n"
                       "    output \"100%\";\n"
                       "    f := 1;\n"
                       "    if (true or f() = 1) { output f; }\n"
                       "}\n";
    Client plain;
    plain.open(text);
    auto warnings = [](const json& p) {
        int n = 0;
        for (const auto& item : p["diagnostics"]) n += item["severity"] == 2;
        return n;
    };
    const int without = warnings(plain.diagnostics());
    Client compat(json{{"cCompat", true}});
    compat.open(text);
    EXPECT_EQ(warnings(compat.diagnostics()), without + 4);  // printf, f like a function, %, or f()
    compat.notify("workspace/didChangeConfiguration", {{"settings", {{"vexl", {{"cCompat", false}}}}}});
    EXPECT_EQ(warnings(compat.diagnostics()), without);
    // The message language.
    compat.notify("workspace/didChangeConfiguration", {{"settings", {{"language", "en"}}}});
    const std::string english = compat.diagnostics()["diagnostics"][0]["message"];
    EXPECT_NE(english, plain.diagnostics()["diagnostics"][0]["message"].get<std::string>());
    EXPECT_TRUE(std::all_of(english.begin(), english.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
        << english;
}

TEST(Server, Rename) {
    Client c;
    c.open(kProgram);
    // prepareRename names the token; a keyword cannot be renamed.
    EXPECT_EQ(c.at("textDocument/prepareRename", 9, 5)["placeholder"], "i");
    EXPECT_TRUE(c.at("textDocument/prepareRename", 9, 20)["placeholder"] == "limit");
    EXPECT_TRUE(c.at("textDocument/prepareRename", 5, 5).is_null());
    // start's i: its own three places, not place's i.
    json edits = c.at("textDocument/rename", 8, 8, {{"newName", "k"}})["changes"][kUri];
    ASSERT_EQ(edits.size(), 3u);
    for (const auto& e : edits) EXPECT_GE(e["range"]["start"]["line"], 8);
    // A parameter, a function.
    EXPECT_EQ(c.at("textDocument/rename", 4, 10, {{"newName", "r"}})["changes"][kUri].size(), 2u);
    EXPECT_EQ(c.at("textDocument/rename", 9, 10, {{"newName", "put"}})["changes"][kUri].size(), 2u);
    // Clashes and bad names are refused.
    for (const char* bad : {"col", "limit", "while", "2x"}) {
        json r = c.request("textDocument/rename", {{"textDocument", {{"uri", kUri}}}, {"position", Client::pos(4, 10)},
                                                   {"newName", bad}});
        EXPECT_TRUE(r.contains("error")) << bad;
    }
}

TEST(Server, SignatureHighlightFoldingTokens) {
    Client c;
    c.open(kProgram);
    json sig = c.at("textDocument/signatureHelp", 9, 18);  // after "place(1, "
    EXPECT_EQ(sig["signatures"][0]["label"], "int place(int row, int col)");
    EXPECT_EQ(sig["activeParameter"], 1);
    EXPECT_EQ(sig["signatures"][0]["parameters"][1]["label"], json::array({19, 26}));
    EXPECT_EQ(c.at("textDocument/signatureHelp", 9, 15)["activeParameter"], 0);
    EXPECT_TRUE(c.at("textDocument/signatureHelp", 10, 5).is_null());

    json highlights = c.at("textDocument/documentHighlight", 10, 6);
    ASSERT_EQ(highlights.size(), 3u);
    EXPECT_EQ(highlights[1]["kind"], 3);  // solutions := i
    EXPECT_EQ(highlights[2]["kind"], 2);

    json folds = c.request("textDocument/foldingRange", {{"textDocument", {{"uri", kUri}}}})["result"];
    ASSERT_EQ(folds.size(), 2u);
    EXPECT_EQ(folds[0]["startLine"], 2);
    EXPECT_EQ(folds[0]["endLine"], 5);

    json full = c.request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", kUri}}}})["result"];
    json range = c.request("textDocument/semanticTokens/range",
                           {{"textDocument", {{"uri", kUri}}}, {"range", {{"start", Client::pos(9, 0)}, {"end", Client::pos(10, 0)}}}})["result"];
    EXPECT_EQ(range["data"].size(), 5u * 9);  // i := place ( 1 , limit ) ;
    c.change(9, 4, 9, 4, "i := 2; ");
    json delta = c.request("textDocument/semanticTokens/full/delta",
                           {{"textDocument", {{"uri", kUri}}}, {"previousResultId", full["resultId"]}})["result"];
    ASSERT_EQ(delta["edits"].size(), 1u);
    // Applying the edit to the old data gives the new full data.
    std::vector<int> data = full["data"];
    const json& e = delta["edits"][0];
    std::vector<int> inserted = e["data"];
    data.erase(data.begin() + e["start"].get<int>(), data.begin() + e["start"].get<int>() + e["deleteCount"].get<int>());
    data.insert(data.begin() + e["start"].get<int>(), inserted.begin(), inserted.end());
    json again = c.request("textDocument/semanticTokens/full", {{"textDocument", {{"uri", kUri}}}})["result"];
    EXPECT_EQ(json(data), again["data"]);

    EXPECT_NE(c.hover(0, 11).find("const int limit = 13"), std::string::npos);
}

TEST(Server, QuickFixes) {
    Client c;
    c.open("function void start() {\n"
           "    int a, b;\n"
           "    int c;\n"
           "    b := 1;\n"
           "    x := b;\n"
           "    b = 2;\n"
           "    output b;\n"
           "}\n");
    const json diagnostics = c.diagnostics()["diagnostics"];
    auto fixes = [&](const std::string& code) {
        json wanted = json::array();
        for (const auto& d : diagnostics)
            if (d["code"] == code) wanted.push_back(d);
        json r = c.request("textDocument/codeAction", {{"textDocument", {{"uri", kUri}}},
                                                       {"range", wanted.empty() ? json() : wanted[0]["range"]},
                                                       {"context", {{"diagnostics", wanted}}}})["result"];
        std::vector<json> edits;
        for (const auto& a : r) edits.push_back(a["edit"]["changes"][kUri][0]);
        return edits;
    };
    auto edit = [](int l1, int c1, int l2, int c2, const char* text) {
        return json{{"range", {{"start", Client::pos(l1, c1)}, {"end", Client::pos(l2, c2)}}}, {"newText", text}};
    };
    // "b = 2;" fails to parse, so only the syntax fix comes first.
    EXPECT_EQ(fixes("ParseError"), std::vector<json>{edit(5, 6, 5, 7, ":=")});
    c.change(5, 6, 5, 7, ":=");
    Client fixed;
    fixed.open("function void start() {\n"
               "    int a, b;\n"
               "    int c;\n"
               "    b := 1;\n"
               "    x := b;\n"
               "    output b;\n"
               "}\n");
    c.inbox_ = fixed.inbox_;
    const json d2 = fixed.diagnostics()["diagnostics"];
    auto fixes2 = [&](const std::string& code) {
        std::vector<json> out;
        for (const auto& d : d2) {
            if (d["code"] != code) continue;
            json r = fixed.request("textDocument/codeAction", {{"textDocument", {{"uri", kUri}}}, {"range", d["range"]},
                                                               {"context", {{"diagnostics", {d}}}}})["result"];
            for (const auto& a : r) out.push_back(a["edit"]["changes"][kUri][0]);
        }
        return out;
    };
    EXPECT_EQ(fixes2("VariableNotDeclared"), std::vector<json>{edit(1, 0, 1, 0, "    int x;\n")});
    // From a list, the name and its comma; a statement of its own, its line.
    EXPECT_EQ(fixes2("UnusedVariable"), (std::vector<json>{edit(1, 8, 1, 11, ""), edit(2, 0, 3, 0, "")}));
}

// Messages in one batch: a request cancelled within it is not run; a burst
// of changes is analysed once; a second initialize is refused; a null
// version still publishes; coordinates beyond an int do not wrap; a lone CR
// ends a line.
TEST(Server, ProtocolDetails) {
    Client c;
    c.open(kProgram);
    const std::size_t before = c.inbox_.size();
    std::vector<std::string> batch;
    for (int k = 0; k < 5; ++k)
        batch.push_back(json{{"jsonrpc", "2.0"}, {"method", "textDocument/didChange"},
                             {"params", {{"textDocument", {{"uri", kUri}, {"version", 10 + k}}},
                                         {"contentChanges", {{{"range", {{"start", Client::pos(12, 1)}, {"end", Client::pos(12, 1)}}},
                                                              {"text", "\n"}}}}}}}.dump());
    batch.push_back(json{{"jsonrpc", "2.0"}, {"id", 99}, {"method", "textDocument/hover"},
                         {"params", {{"textDocument", {{"uri", kUri}}}, {"position", Client::pos(11, 12)}}}}.dump());
    batch.push_back(json{{"jsonrpc", "2.0"}, {"method", "$/cancelRequest"}, {"params", {{"id", 99}}}}.dump());
    c.server().handle_all(batch);
    c.server().idle();
    ASSERT_EQ(c.inbox_.size(), before + 2) << c.inbox_.back().dump();
    EXPECT_EQ(c.inbox_[before]["error"]["code"], -32800);
    EXPECT_EQ(c.inbox_[before + 1]["params"]["version"], 14);

    EXPECT_EQ(c.request("initialize", {{"capabilities", json::object()}})["error"]["code"], -32600);

    c.change(0, 0, 0, 0, "// x\n", nullptr);
    EXPECT_EQ(c.diagnostics()["version"], 15);

    c.notify("textDocument/didChange",
             {{"textDocument", {{"uri", kUri}, {"version", 20}}},
              {"contentChanges", {{{"range", {{"start", {{"line", 4294967297LL}, {"character", 0}}},
                                              {"end", {{"line", 4294967297LL}, {"character", 0}}}}},
                                   {"text", "// end"}}}}});
    const lsp::Document* doc = c.server().document(kUri);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->text.substr(0, 5), "// x\n");
    EXPECT_EQ(doc->text.substr(doc->text.size() - 6), "// end");

    Client cr;
    cr.open("int a;\rfunction void start() {\r    a := 1; output a;\r}\r");
    EXPECT_NE(cr.hover(2, 19).find("int a"), std::string::npos);
    cr.change(2, 4, 2, 5, "a");  // a position on the third line is on the third line
    EXPECT_EQ(cr.server().document(kUri)->text, "int a;\rfunction void start() {\r    a := 1; output a;\r}\r");
}
