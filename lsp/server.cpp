// Handlers of the language server.
#include "server.h"

#include "charset.h"

namespace lsp {
namespace {

// JSON-RPC and protocol error codes.
constexpr int kParseError = -32700, kInvalidRequest = -32600, kMethodNotFound = -32601,
              kInvalidParams = -32602, kInternalError = -32603, kServerNotInitialized = -32002;

// Full text on open, changes as ranges.
json sync_options() { return {{"openClose", true}, {"change", 2}}; }

json completion_options() { return {{"triggerCharacters", json::array()}}; }

// Semantic token types, in the order of TokenClass.
const char* const kTokenTypes[] = {"keyword", "type", "number", "string", "variable", "parameter", "function",
                                   "operator"};
json semantic_tokens_options() {
    return {{"legend", {{"tokenTypes", kTokenTypes}, {"tokenModifiers", {"declaration", "readonly"}}}},
            {"full", true}};
}

struct Keyword {
    const char* word;
    const char* description;
};
constexpr Keyword kKeywords[] = {
#define KEYWORD(word, description) {word, description},
#include "keywords.def"
#undef KEYWORD
};

json position_json(Position p) { return {{"line", p.line}, {"character", p.character}}; }

Position position_from(const json& p) {
    Position pos;
    pos.line = std::max(0, p.at("line").get<int>());
    pos.character = std::max(0, p.at("character").get<int>());
    return pos;
}

const char* kind_text(SymbolKind k) {
    switch (k) {
    case SymbolKind::Function: return "function";
    case SymbolKind::Global: return "global variable";
    case SymbolKind::Parameter: return "parameter";
    case SymbolKind::Local: return "local variable";
    }
    return "";
}

}  // namespace

const Document* Server::document(const std::string& uri) const {
    auto it = documents_.find(uri);
    return it == documents_.end() ? nullptr : &it->second;
}

bool Server::handle(const std::string& body) {
    json message = json::parse(body, nullptr, false);
    if (message.is_discarded() || !message.is_object()) {
        reply_error(nullptr, message.is_discarded() ? kParseError : kInvalidRequest,
                    message.is_discarded() ? "invalid JSON" : "a message must be an object");
        return !exited_;
    }
    dispatch(message);
    return !exited_;
}

void Server::broken_frame() { reply_error(nullptr, kParseError, "unreadable message header"); }

void Server::reply_error(const json& id, int code, const std::string& text) {
    send_({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}});
}

void Server::dispatch(const json& message) {
    auto method_it = message.find("method");
    auto id_it = message.find("id");
    bool request = id_it != message.end();
    json id = request ? *id_it : json();
    if (request && !id.is_string() && !id.is_number_integer()) {
        reply_error(nullptr, kInvalidRequest, "invalid id");
        return;
    }
    if (method_it == message.end() || !method_it->is_string()) {
        if (request && !message.contains("result") && !message.contains("error"))
            reply_error(id, kInvalidRequest, "no method");
        return;  // an answer to a request of ours, or nothing usable
    }
    const std::string method = *method_it;
    using Handler = json (Server::*)(const json&);
    static const std::map<std::string, Handler> table = {
#define LSP_METHOD(name, handler, key, value) {name, &Server::handler},
#include "methods.def"
#undef LSP_METHOD
    };
    auto handler = table.find(method);
    if (!initialized_ && method != "initialize" && method != "exit") {
        if (request) reply_error(id, kServerNotInitialized, "not initialized");
        return;
    }
    if (shut_down_ && method != "exit") {
        if (request) reply_error(id, kInvalidRequest, "shut down");
        return;
    }
    if (handler == table.end()) {
        if (request) reply_error(id, kMethodNotFound, "unknown method " + method);
        return;
    }
    static const json kNoParams = json::object();
    auto params_it = message.find("params");
    const json& params = params_it == message.end() ? kNoParams : *params_it;
    try {
        json result = (this->*handler->second)(params);
        if (request) send_({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
    } catch (const json::exception& e) {
        if (request) reply_error(id, kInvalidParams, e.what());
    } catch (const std::exception& e) {
        if (request) reply_error(id, kInternalError, e.what());
    }
}

// ---- Lifecycle ------------------------------------------------------------

json Server::initialize(const json&) {
    initialized_ = true;
    json capabilities = json::object();
#define LSP_METHOD(name, handler, key, value) \
    if (*key) capabilities[key] = value;
#include "methods.def"
#undef LSP_METHOD
    capabilities["positionEncoding"] = "utf-16";
    return {{"capabilities", capabilities}, {"serverInfo", {{"name", "vexl-lsp"}, {"version", "1.0"}}}};
}

json Server::ignore(const json&) { return nullptr; }

json Server::shutdown(const json&) {
    shut_down_ = true;
    return nullptr;
}

json Server::quit(const json&) {
    exited_ = true;
    return nullptr;
}

// ---- Documents ------------------------------------------------------------

void Server::analyse(const std::string& uri, Document& doc) {
    doc.analysis = std::make_shared<const Analysis>(lsp::analyse(doc.text));
    publish(uri, doc);
}

void Server::publish(const std::string& uri, const Document& doc) {
    const Analysis& a = *doc.analysis;
    json list = json::array();
    int last = static_cast<int>(a.line_lengths.size()) - 1;
    for (const auto& d : a.diagnostics) {
        int line = std::min(std::max(d.line, 1) - 1, last);
        json item = {{"range", {{"start", position_json({line, 0})},
                                {"end", position_json({line, a.line_lengths[line]})}}},
                     {"severity", d.warning ? 2 : 1},
                     {"source", "vexlc"},
                     {"message", d.text}};
        if (!d.kind.empty()) item["code"] = d.kind;
        list.push_back(std::move(item));
    }
    send_({{"jsonrpc", "2.0"},
           {"method", "textDocument/publishDiagnostics"},
           {"params", {{"uri", uri}, {"version", doc.version}, {"diagnostics", list}}}});
}

json Server::did_open(const json& params) {
    const json& item = params.at("textDocument");
    std::string uri = item.at("uri");
    Document doc;
    doc.text = item.at("text");
    doc.version = item.value("version", 0LL);
    analyse(uri, documents_[uri] = std::move(doc));
    return nullptr;
}

json Server::did_change(const json& params) {
    std::string uri = params.at("textDocument").at("uri");
    auto it = documents_.find(uri);
    if (it == documents_.end()) return nullptr;
    Document& doc = it->second;
    for (const auto& change : params.at("contentChanges")) {
        if (change.contains("range")) {
            const json& r = change.at("range");
            doc.replace(position_from(r.at("start")), position_from(r.at("end")), change.at("text"));
        } else {
            doc.text = change.at("text");
        }
    }
    doc.version = params.at("textDocument").value("version", doc.version + 1);
    analyse(uri, doc);
    return nullptr;
}

json Server::did_close(const json& params) {
    std::string uri = params.at("textDocument").at("uri");
    if (documents_.erase(uri)) send_({{"jsonrpc", "2.0"},
                                      {"method", "textDocument/publishDiagnostics"},
                                      {"params", {{"uri", uri}, {"diagnostics", json::array()}}}});
    return nullptr;
}

// ---- Questions about a place ------------------------------------------------

Server::At Server::at(const json& params) const {
    At at;
    at.uri = params.at("textDocument").at("uri");
    if (params.contains("position")) at.position = position_from(params.at("position"));
    const Document* doc = document(at.uri);
    if (!doc) return at;
    at.analysis = doc->analysis.get();
    at.token = at.analysis->token_at(at.position);
    // Just after a name (the cursor at its end) still means that name.
    if (at.token >= 0 && at.analysis->tokens[at.token].symbol < 0 && at.position.character > 0) {
        int before = at.analysis->token_at({at.position.line, at.position.character - 1});
        if (before >= 0) at.token = before;
    }
    if (at.token >= 0) at.symbol = at.analysis->tokens[at.token].symbol;
    return at;
}

json Server::range_of(const Analysis& a, int token) const {
    return {{"start", position_json(a.tokens[token].start)}, {"end", position_json(a.tokens[token].end)}};
}

json Server::hover(const json& params) {
    At at = this->at(params);
    if (at.symbol < 0) return nullptr;
    const Symbol& s = at.analysis->symbols[at.symbol];
    std::string text = "```vexl\n" + s.detail + "\n```\n" + kind_text(s.kind);
    if (!s.scope.empty()) text += " of " + s.scope;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", range_of(*at.analysis, at.token)}};
}

json Server::definition(const json& params) {
    At at = this->at(params);
    if (at.symbol < 0) return nullptr;
    int decl = at.analysis->symbols[at.symbol].declaration;
    if (decl < 0) return nullptr;
    return {{"uri", at.uri}, {"range", range_of(*at.analysis, decl)}};
}

json Server::references(const json& params) {
    At at = this->at(params);
    json list = json::array();
    if (at.symbol < 0) return list;
    bool with_declaration = params.value("/context/includeDeclaration"_json_pointer, true);
    const Symbol& s = at.analysis->symbols[at.symbol];
    for (int use : s.uses)
        if (with_declaration || use != s.declaration)
            list.push_back({{"uri", at.uri}, {"range", range_of(*at.analysis, use)}});
    return list;
}

json Server::document_symbol(const json& params) {
    At at = this->at(params);
    json list = json::array();
    if (!at.analysis) return list;
    const Analysis& a = *at.analysis;
    auto entry = [&](const Symbol& s, int kind, json range) {
        json selection = range_of(a, s.declaration);
        return json{{"name", s.name}, {"detail", s.detail}, {"kind", kind}, {"range", range},
                    {"selectionRange", selection}, {"children", json::array()}};
    };
    std::map<std::string, std::size_t> functions;  // name -> index in list
    for (const auto& s : a.symbols) {
        if (s.declaration < 0) continue;
        if (s.kind == SymbolKind::Function) {
            json range = {{"start", position_json(a.tokens[s.first_token].start)},
                          {"end", position_json(a.tokens[s.last_token].end)}};
            functions[s.name] = list.size();
            list.push_back(entry(s, 12, range));
        } else if (s.kind == SymbolKind::Global) {
            list.push_back(entry(s, 13, range_of(a, s.declaration)));
        } else if (auto f = functions.find(s.scope); f != functions.end()) {
            list[f->second]["children"].push_back(entry(s, 13, range_of(a, s.declaration)));
        }
    }
    return list;
}

json Server::completion(const json& params) {
    At at = this->at(params);
    json items = json::array();
    for (const auto& k : kKeywords) items.push_back({{"label", k.word}, {"kind", 14}, {"detail", k.description}});
    if (!at.analysis) return items;
    const Analysis& a = *at.analysis;
    int fn = a.function_at(at.position);
    std::string scope = fn >= 0 ? a.symbols[fn].name : "";
    for (const auto& s : a.symbols) {
        bool visible = s.kind == SymbolKind::Function || s.kind == SymbolKind::Global || s.scope == scope;
        if (!visible || s.declaration < 0) continue;
        items.push_back({{"label", s.name}, {"kind", s.kind == SymbolKind::Function ? 3 : 6}, {"detail", s.detail}});
    }
    return items;
}

json Server::semantic_tokens(const json& params) {
    At at = this->at(params);
    json data = json::array();
    if (!at.analysis) return {{"data", data}};
    const Analysis& a = *at.analysis;
    Position last;
    for (int i = 0; i < static_cast<int>(a.tokens.size()); ++i) {
        const Token& t = a.tokens[i];
        int modifiers = 0;
        if (t.symbol >= 0) {
            const Symbol& s = a.symbols[t.symbol];
            if (s.declaration == i) modifiers |= 1;
            if (s.detail.rfind("const ", 0) == 0) modifiers |= 2;
        }
        int delta_line = t.start.line - last.line;
        int delta_char = delta_line == 0 ? t.start.character - last.character : t.start.character;
        data.push_back(delta_line);
        data.push_back(delta_char);
        data.push_back(t.end.character - t.start.character);
        data.push_back(static_cast<int>(t.cls));
        data.push_back(modifiers);
        last = t.start;
    }
    return {{"data", data}};
}

}  // namespace lsp
