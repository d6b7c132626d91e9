// Handlers of the language server.
#include "server.h"

#include <algorithm>
#include <climits>

#include "charset.h"
#include "format.h"
#include "node.h"
#include "parser.hpp"
#include "version.h"

namespace lsp {
namespace {

// JSON-RPC and protocol error codes.
constexpr int kParseError = -32700, kInvalidRequest = -32600, kMethodNotFound = -32601,
              kInvalidParams = -32602, kInternalError = -32603, kServerNotInitialized = -32002,
              kRequestFailed = -32803, kRequestCancelled = -32800;

// Full text on open, changes as ranges.
json sync_options() { return {{"openClose", true}, {"change", 2}}; }

json completion_options() { return {{"triggerCharacters", json::array()}}; }
json signature_help_options() { return {{"triggerCharacters", {"(", ","}}, {"retriggerCharacters", {","}}}; }
json rename_options() { return {{"prepareProvider", true}}; }
json code_action_options() { return {{"codeActionKinds", {"quickfix"}}}; }

// Semantic token types, in the order of TokenClass.
const char* const kTokenTypes[] = {"keyword", "type", "number", "string", "variable", "parameter", "function",
                                   "operator"};
json semantic_tokens_options() {
    return {{"legend", {{"tokenTypes", kTokenTypes}, {"tokenModifiers", {"declaration", "readonly"}}}},
            {"full", {{"delta", true}}},
            {"range", true}};
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

bool is_keyword(const std::string& word) {
    return std::any_of(std::begin(kKeywords), std::end(kKeywords), [&](const Keyword& k) { return word == k.word; });
}

json position_json(Position p) { return {{"line", p.line}, {"character", p.character}}; }
json range_json(Range r) { return {{"start", position_json(r.start)}, {"end", position_json(r.end)}}; }

// A coordinate as the protocol sends it (an unsigned integer), clamped to
// what an int holds: no position wraps around.
int coordinate(const json& v) {
    if (v.is_number_unsigned()) return static_cast<int>(std::min<std::uint64_t>(v.get<std::uint64_t>(), INT_MAX));
    if (v.is_number_integer()) return static_cast<int>(std::clamp<std::int64_t>(v.get<std::int64_t>(), 0, INT_MAX));
    if (v.is_number_float()) return static_cast<int>(std::clamp(v.get<double>(), 0.0, static_cast<double>(INT_MAX)));
    throw json::type_error::create(302, "a position needs numbers", &v);
}

Position position_from(const json& p) { return {coordinate(p.at("line")), coordinate(p.at("character"))}; }

const char* kind_text(SymbolKind k) {
    switch (k) {
    case SymbolKind::Function: return "function";
    case SymbolKind::Global: return "global variable";
    case SymbolKind::Parameter: return "parameter";
    case SymbolKind::Local: return "local variable";
    }
    return "";
}

bool valid_name(const std::string& name) {
    if (name.empty() || name.size() > 255 || is_keyword(name)) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

json text_edit(Range r, const std::string& text) { return {{"range", range_json(r)}, {"newText", text}}; }

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

bool Server::handle_all(const std::vector<std::string>& bodies) {
    std::vector<json> messages;
    std::set<std::string> cancelled;  // ids as JSON text
    for (const auto& body : bodies) {
        json m = json::parse(body, nullptr, false);
        if (m.is_object() && m.value("method", json()) == "$/cancelRequest" && m.contains("params") &&
            m["params"].is_object() && m["params"].contains("id"))
            cancelled.insert(m["params"]["id"].dump());
        messages.push_back(std::move(m));
    }
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const json& m = messages[i];
        if (m.is_object() && m.contains("id") && m.contains("method") && cancelled.count(m["id"].dump())) {
            reply_error(m["id"], kRequestCancelled, "cancelled");
            continue;
        }
        if (!handle(bodies[i])) return false;
    }
    return true;
}

void Server::idle() {
    for (auto& [uri, doc] : documents_)
        if (doc.stale) fresh(uri, doc);
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
    if (initialized_ && method == "initialize") {
        if (request) reply_error(id, kInvalidRequest, "already initialized");
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
    } catch (const std::runtime_error& e) {
        if (request) reply_error(id, kRequestFailed, e.what());
    } catch (const std::exception& e) {
        if (request) reply_error(id, kInternalError, e.what());
    }
}

// ---- Lifecycle ------------------------------------------------------------

json Server::initialize(const json& params) {
    initialized_ = true;
    if (params.contains("initializationOptions")) apply_settings(params["initializationOptions"]);
    json capabilities = json::object();
#define LSP_METHOD(name, handler, key, value) \
    if (*key) capabilities[key] = value;
#include "methods.def"
#undef LSP_METHOD
    capabilities["positionEncoding"] = "utf-16";
    return {{"capabilities", capabilities}, {"serverInfo", {{"name", "vexl-lsp"}, {"version", VEXL_VERSION}}}};
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

// Settings: {"cCompat": bool, "language": "ja"|"en"}, also under "vexl".
void Server::apply_settings(const json& options) {
    if (!options.is_object()) return;
    const json& o = options.contains("vexl") && options["vexl"].is_object() ? options["vexl"] : options;
    if (o.contains("cCompat") && o["cCompat"].is_boolean()) settings_.c_compat = o["cCompat"];
    if (o.contains("language") && o["language"].is_string()) {
        const std::string language = o["language"];
        if (language == "ja" || language == "en") settings_.language = language;
    }
}

json Server::did_change_configuration(const json& params) {
    const Settings before = settings_;
    if (params.contains("settings")) apply_settings(params["settings"]);
    if (before.c_compat != settings_.c_compat || before.language != settings_.language)
        for (auto& [uri, doc] : documents_) doc.stale = true;
    return nullptr;
}

// ---- Documents ------------------------------------------------------------

const Analysis& Server::fresh(const std::string& uri, Document& doc) {
    if (doc.stale || !doc.analysis) {
        doc.analysis = std::make_shared<const Analysis>(lsp::analyse(doc.text, settings_, doc.last_complete.get(), doc.analysis.get()));
        if (doc.analysis->complete) doc.last_complete = doc.analysis;
        doc.stale = false;
        publish(uri, doc);
    }
    return *doc.analysis;
}

void Server::publish(const std::string& uri, const Document& doc) {
    const Analysis& a = *doc.analysis;
    json list = json::array();
    for (const auto& d : a.diagnostics) {
        json item = {{"range", range_json(d.range)},
                     {"severity", d.warning ? 2 : 1},
                     {"source", "vexlc"},
                     {"message", d.text}};
        if (!d.kind.empty()) item["code"] = d.kind;
        if (d.unnecessary) item["tags"] = {1};
        if (d.related)
            item["relatedInformation"] = {{{"location", {{"uri", uri}, {"range", range_json(*d.related)}}},
                                           {"message", "the earlier declaration"}}};
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
    if (item.contains("version") && item["version"].is_number_integer()) doc.version = item["version"];
    documents_[uri] = std::move(doc);
    return nullptr;
}

json Server::did_change(const json& params) {
    const json& item = params.at("textDocument");
    std::string uri = item.at("uri");
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
    doc.stale = true;
    // A version of null (allowed for a change) counts on from the last.
    if (item.contains("version") && item["version"].is_number_integer()) doc.version = item["version"];
    else ++doc.version;
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

Server::At Server::at(const json& params) {
    At at;
    at.uri = params.at("textDocument").at("uri");
    if (params.contains("position")) at.position = position_from(params.at("position"));
    auto it = documents_.find(at.uri);
    if (it == documents_.end()) return at;
    at.doc = &it->second;
    at.analysis = &fresh(at.uri, it->second);
    at.token = at.analysis->token_at(at.position);
    // Just after a name (the cursor at its end) still means that name.
    if (at.token >= 0 && at.analysis->tokens[static_cast<std::size_t>(at.token)].symbol < 0 && at.position.character > 0) {
        int before = at.analysis->token_at({at.position.line, at.position.character - 1});
        if (before >= 0) at.token = before;
    }
    if (at.token >= 0) at.symbol = at.analysis->tokens[static_cast<std::size_t>(at.token)].symbol;
    return at;
}

json Server::range_of(const Analysis& a, int token) const {
    const Token& t = a.tokens[static_cast<std::size_t>(token)];
    return range_json({t.start, t.end});
}

json Server::hover(const json& params) {
    At at = this->at(params);
    if (at.symbol < 0) return nullptr;
    const Symbol& s = at.analysis->symbols[static_cast<std::size_t>(at.symbol)];
    std::string detail = s.detail;
    if (s.value) detail += " = " + (s.type == "bool" ? std::string(*s.value ? "true" : "false") : std::to_string(*s.value));
    std::string text = "```vexl\n" + detail + "\n```\n" + kind_text(s.kind);
    if (!s.scope.empty()) text += " of " + s.scope;
    return {{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", range_of(*at.analysis, at.token)}};
}

json Server::definition(const json& params) {
    At at = this->at(params);
    if (at.symbol < 0) return nullptr;
    int decl = at.analysis->symbols[static_cast<std::size_t>(at.symbol)].declaration;
    if (decl < 0) return nullptr;
    return {{"uri", at.uri}, {"range", range_of(*at.analysis, decl)}};
}

json Server::references(const json& params) {
    At at = this->at(params);
    json list = json::array();
    if (at.symbol < 0) return list;
    bool with_declaration = params.value("/context/includeDeclaration"_json_pointer, true);
    const Symbol& s = at.analysis->symbols[static_cast<std::size_t>(at.symbol)];
    for (int use : s.uses)
        if (with_declaration || use != s.declaration)
            list.push_back({{"uri", at.uri}, {"range", range_of(*at.analysis, use)}});
    return list;
}

json Server::document_highlight(const json& params) {
    At at = this->at(params);
    json list = json::array();
    if (at.symbol < 0) return list;
    const Analysis& a = *at.analysis;
    const Symbol& s = a.symbols[static_cast<std::size_t>(at.symbol)];
    for (int use : s.uses) {
        // Text for the declaration, Write for a store, Read otherwise.
        int kind = 2;
        const auto next = static_cast<std::size_t>(use) + 1;
        if (use == s.declaration) kind = 1;
        else if (next < a.tokens.size() && a.tokens[next].code == ASSIGN) kind = 3;
        else if (use > 0 && a.tokens[static_cast<std::size_t>(use) - 1].code == INPUT) kind = 3;
        list.push_back({{"range", range_of(a, use)}, {"kind", kind}});
    }
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
            const int first = s.first_token >= 0 ? s.first_token : s.declaration;
            const int last = s.last_token >= first ? s.last_token : s.declaration;
            json range = range_json({a.tokens[static_cast<std::size_t>(first)].start,
                                     a.tokens[static_cast<std::size_t>(last)].end});
            functions[s.name] = list.size();
            list.push_back(entry(s, 12, range));
        } else if (s.kind == SymbolKind::Global) {
            list.push_back(entry(s, s.is_const ? 14 : 13, range_of(a, s.declaration)));
        } else if (auto f = functions.find(s.scope); f != functions.end()) {
            list[f->second]["children"].push_back(entry(s, s.is_const ? 14 : 13, range_of(a, s.declaration)));
        }
    }
    // In the order of the text.
    auto start = [](const json& e) {
        return Position{e["range"]["start"]["line"].get<int>(), e["range"]["start"]["character"].get<int>()};
    };
    std::vector<json> sorted(list.begin(), list.end());
    std::stable_sort(sorted.begin(), sorted.end(), [&](const json& x, const json& y) { return start(x) < start(y); });
    return sorted;
}

json Server::completion(const json& params) {
    At at = this->at(params);
    json items = json::array();
    for (const auto& k : kKeywords) items.push_back({{"label", k.word}, {"kind", 14}, {"detail", k.description}});
    if (!at.analysis) return items;
    const Analysis& a = *at.analysis;
    int fn = a.function_at(at.position);
    std::string scope = fn >= 0 ? a.symbols[static_cast<std::size_t>(fn)].name : "";
    for (const auto& s : a.symbols) {
        bool visible = s.kind == SymbolKind::Function || s.kind == SymbolKind::Global || s.scope == scope;
        if (!visible || s.declaration < 0) continue;
        items.push_back({{"label", s.name}, {"kind", s.kind == SymbolKind::Function ? 3 : s.is_const ? 21 : 6},
                         {"detail", s.detail}});
    }
    return items;
}

// The call around the cursor: the innermost "NAME (" not yet closed before
// it, and how many commas of that call come before the cursor.
json Server::signature_help(const json& params) {
    At at = this->at(params);
    if (!at.analysis) return nullptr;
    const Analysis& a = *at.analysis;
    int depth = 0, commas = 0, open = -1;
    for (int i = static_cast<int>(a.tokens.size()) - 1; i >= 0; --i) {
        const Token& t = a.tokens[static_cast<std::size_t>(i)];
        if (!(t.start < at.position)) continue;
        if (t.code == ';' || t.code == '{' || t.code == '}') break;
        if (t.code == ')') ++depth;
        else if (t.code == '(' && depth > 0) --depth;
        else if (t.code == '(') {
            if (i > 0 && a.tokens[static_cast<std::size_t>(i) - 1].code == IDENT) {
                open = i - 1;
                break;
            }
            commas = 0;  // a parenthesised expression inside the call
        } else if (t.code == ',' && depth == 0) {
            ++commas;
        }
    }
    if (open < 0) return nullptr;
    const std::string name(a.text_of(open));
    auto fn = std::find_if(a.symbols.begin(), a.symbols.end(),
                           [&](const Symbol& s) { return s.kind == SymbolKind::Function && s.name == name; });
    if (fn == a.symbols.end()) return nullptr;
    std::string label = fn->type + " " + fn->name + "(";
    json parameters = json::array();
    for (std::size_t k = 0; k < fn->parameters.size(); ++k) {
        if (k) label += ", ";
        const std::string& p = a.symbols[static_cast<std::size_t>(fn->parameters[k])].detail;
        const auto begin = charset::utf16_length(label);
        label += p;
        parameters.push_back({{"label", {begin, charset::utf16_length(label)}}});
    }
    label += ")";
    json signature = {{"label", label}, {"parameters", parameters}};
    return {{"signatures", {signature}}, {"activeSignature", 0},
            {"activeParameter", std::min<int>(commas, std::max<int>(0, static_cast<int>(fn->parameters.size()) - 1))}};
}

json Server::prepare_rename(const json& params) {
    At at = this->at(params);
    if (at.symbol < 0 || at.analysis->symbols[static_cast<std::size_t>(at.symbol)].declaration < 0) return nullptr;
    return {{"range", range_of(*at.analysis, at.token)},
            {"placeholder", at.analysis->text_of(at.token)}};
}

json Server::rename(const json& params) {
    At at = this->at(params);
    const std::string name = params.at("newName");
    if (at.symbol < 0) throw std::runtime_error("no name to rename here");
    if (!valid_name(name)) throw std::runtime_error("'" + name + "' is no valid name");
    const Analysis& a = *at.analysis;
    const Symbol& s = a.symbols[static_cast<std::size_t>(at.symbol)];
    // The compiler keeps one name space for functions and one for the
    // variables in scope: globals and the current function's own.
    for (const auto& other : a.symbols) {
        if (&other == &s || other.name != name) continue;
        bool clash;
        if (s.kind == SymbolKind::Function) clash = other.kind == SymbolKind::Function;
        else if (s.kind == SymbolKind::Global) clash = other.kind != SymbolKind::Function;
        else clash = other.kind == SymbolKind::Global || (other.kind != SymbolKind::Function && other.scope == s.scope);
        if (clash) throw std::runtime_error("'" + name + "' is already declared (" + other.detail + ")");
    }
    json edits = json::array();
    for (int use : s.uses) edits.push_back({{"range", range_of(a, use)}, {"newText", name}});
    return {{"changes", {{at.uri, edits}}}};
}

json Server::code_action(const json& params) {
    At at = this->at(params);
    json actions = json::array();
    if (!at.analysis) return actions;
    const Analysis& a = *at.analysis;
    const json& wanted = params.value("/context/diagnostics"_json_pointer, json::array());
    auto edit_action = [&](const std::string& title, const json& diagnostic, json edits) {
        actions.push_back({{"title", title},
                           {"kind", "quickfix"},
                           {"diagnostics", {diagnostic}},
                           {"isPreferred", true},
                           {"edit", {{"changes", {{at.uri, std::move(edits)}}}}}});
    };
    for (const json& d : wanted) {
        const std::string code = d.value("code", "");
        const Position start = position_from(d.at("range").at("start"));
        const int t = a.token_at(start);
        if (code == "VariableNotDeclared" && t >= 0) {
            // "int NAME;" as the first line of the function's body (or of the program).
            const std::string name(a.text_of(t));
            Position where{0, 0};
            std::string indent;
            const int fn = a.function_at(start);
            if (fn >= 0) {
                const Symbol& f = a.symbols[static_cast<std::size_t>(fn)];
                for (int i = f.first_token; i <= f.last_token; ++i)
                    if (a.tokens[static_cast<std::size_t>(i)].code == '{') {
                        where = {a.tokens[static_cast<std::size_t>(i)].end.line + 1, 0};
                        break;
                    }
                indent = "    ";
            }
            const bool boolean = t + 2 < static_cast<int>(a.tokens.size()) &&
                                 a.tokens[static_cast<std::size_t>(t) + 1].code == ASSIGN &&
                                 a.tokens[static_cast<std::size_t>(t) + 2].code == BOOLEAN;
            edit_action("Declare '" + name + "'", d,
                        {text_edit({where, where}, indent + (boolean ? "bool " : "int ") + name + ";\n")});
        } else if (code == "UnusedVariable" && t >= 0) {
            // The declaration statement, or its one name in a list.
            int first = t, last = t;
            while (first > 0 && a.tokens[static_cast<std::size_t>(first) - 1].code != ';' &&
                   a.tokens[static_cast<std::size_t>(first) - 1].code != '{')
                --first;
            while (last + 1 < static_cast<int>(a.tokens.size()) && a.tokens[static_cast<std::size_t>(last)].code != ';') ++last;
            int names = 0, depth = 0;
            for (int i = first; i <= last; ++i) {
                const int c = a.tokens[static_cast<std::size_t>(i)].code;
                depth += c == '(' || c == '[' ? 1 : c == ')' || c == ']' ? -1 : 0;
                if (c == ',' && depth == 0) ++names;
            }
            Range cut;
            if (names == 0) {
                cut = {a.tokens[static_cast<std::size_t>(first)].start, a.tokens[static_cast<std::size_t>(last)].end};
                // The whole line when the statement is all it holds.
                const bool alone_before = first == 0 || a.tokens[static_cast<std::size_t>(first) - 1].end.line < cut.start.line;
                const bool alone_after = last + 1 >= static_cast<int>(a.tokens.size()) ||
                                         a.tokens[static_cast<std::size_t>(last) + 1].start.line > cut.end.line;
                if (alone_before && alone_after) cut = {{cut.start.line, 0}, {cut.end.line + 1, 0}};
            } else {
                // From the name to the next comma, or from the comma before it.
                int end = t;
                depth = 0;
                while (end + 1 <= last) {
                    const int c = a.tokens[static_cast<std::size_t>(end) + 1].code;
                    if (depth == 0 && (c == ',' || c == ';')) break;
                    depth += c == '(' || c == '[' ? 1 : c == ')' || c == ']' ? -1 : 0;
                    ++end;
                }
                if (a.tokens[static_cast<std::size_t>(end) + 1].code == ',')
                    cut = {a.tokens[static_cast<std::size_t>(t)].start, a.tokens[static_cast<std::size_t>(end) + 2].start};
                else
                    cut = {a.tokens[static_cast<std::size_t>(t) - 1].start, a.tokens[static_cast<std::size_t>(end)].end};
            }
            edit_action("Remove unused '" + std::string(a.text_of(t)) + "'", d, {text_edit(cut, "")});
        } else if (code == "ParseError") {
            // "NAME = value;" (or NAME[i] = value) as a statement means ":=".
            for (int i = t >= 0 ? t : 0; i < static_cast<int>(a.tokens.size()) && i <= t + 1; ++i) {
                const Token& eq = a.tokens[static_cast<std::size_t>(i)];
                if (eq.code != '=' || i == 0) continue;
                const int before = a.tokens[static_cast<std::size_t>(i) - 1].code;
                if (before == IDENT || before == ']') edit_action("Write ':=' for '='", d, {text_edit({eq.start, eq.end}, ":=")});
                break;
            }
        }
    }
    return actions;
}

json Server::folding_range(const json& params) {
    At at = this->at(params);
    json list = json::array();
    if (!at.analysis) return list;
    const Analysis& a = *at.analysis;
    std::vector<int> open;
    for (int i = 0; i < static_cast<int>(a.tokens.size()); ++i) {
        const Token& t = a.tokens[static_cast<std::size_t>(i)];
        if (t.code == '{') open.push_back(i);
        else if (t.code == '}' && !open.empty()) {
            const Token& o = a.tokens[static_cast<std::size_t>(open.back())];
            open.pop_back();
            if (t.start.line - 1 > o.start.line)
                list.push_back({{"startLine", o.start.line}, {"endLine", t.start.line - 1}, {"kind", "region"}});
        }
    }
    return list;
}

// Five numbers per token between two positions, as the protocol packs them.
std::vector<int> Server::token_data(const Analysis& a, Position from, Position to) const {
    std::vector<int> data;
    Position last;
    for (int i = 0; i < static_cast<int>(a.tokens.size()); ++i) {
        const Token& t = a.tokens[static_cast<std::size_t>(i)];
        if (t.start < from || !(t.start < to)) continue;
        int modifiers = 0;
        if (t.symbol >= 0) {
            const Symbol& s = a.symbols[static_cast<std::size_t>(t.symbol)];
            if (s.declaration == i) modifiers |= 1;
            if (s.is_const) modifiers |= 2;
        }
        int delta_line = t.start.line - last.line;
        int delta_char = delta_line == 0 ? t.start.character - last.character : t.start.character;
        data.insert(data.end(), {delta_line, delta_char, t.end.character - t.start.character, static_cast<int>(t.cls),
                                 modifiers});
        last = t.start;
    }
    return data;
}

json Server::semantic_tokens(const json& params) {
    At at = this->at(params);
    if (!at.analysis) return {{"data", json::array()}};
    at.doc->tokens_sent = token_data(*at.analysis, {0, 0}, {INT_MAX, INT_MAX});
    at.doc->tokens_id = std::to_string(++tokens_serial_);
    return {{"resultId", at.doc->tokens_id}, {"data", at.doc->tokens_sent}};
}

json Server::semantic_tokens_delta(const json& params) {
    At at = this->at(params);
    if (!at.analysis) return {{"data", json::array()}};
    std::vector<int> data = token_data(*at.analysis, {0, 0}, {INT_MAX, INT_MAX});
    const bool known = params.value("previousResultId", "") == at.doc->tokens_id && !at.doc->tokens_id.empty();
    std::vector<int> old = std::move(at.doc->tokens_sent);
    at.doc->tokens_sent = data;
    at.doc->tokens_id = std::to_string(++tokens_serial_);
    if (!known) return {{"resultId", at.doc->tokens_id}, {"data", data}};
    // One edit: what lies between the common beginning and end.
    std::size_t prefix = 0, suffix = 0;
    while (prefix < old.size() && prefix < data.size() && old[prefix] == data[prefix]) ++prefix;
    while (suffix < old.size() - prefix && suffix < data.size() - prefix &&
           old[old.size() - 1 - suffix] == data[data.size() - 1 - suffix])
        ++suffix;
    json edits = json::array();
    if (prefix != old.size() || old.size() != data.size())
        edits.push_back({{"start", prefix},
                         {"deleteCount", old.size() - prefix - suffix},
                         {"data", std::vector<int>(data.begin() + static_cast<long>(prefix),
                                                   data.end() - static_cast<long>(suffix))}});
    return {{"resultId", at.doc->tokens_id}, {"edits", edits}};
}

json Server::semantic_tokens_range(const json& params) {
    At at = this->at(params);
    if (!at.analysis) return {{"data", json::array()}};
    const json& r = params.at("range");
    return {{"data", token_data(*at.analysis, position_from(r.at("start")), position_from(r.at("end")))}};
}

// ---- formatting (vexlc --format) ---------------------------------------------

namespace {

// The edit that turns `before` into the formatted text: the lines between
// their common first and last lines replaced; none when nothing changes or
// the text cannot be formatted.
json format_edit(const std::string& before, const format::Result& r) {
    json edits = json::array();
    if (!r.ok || r.text == before) return edits;
    auto lines = [](const std::string& text) {
        std::vector<std::string_view> out;
        std::string_view rest(text);
        for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1))
            out.push_back(rest.substr(0, end + 1));
        out.push_back(rest);  // after the last line break (maybe empty)
        return out;
    };
    const auto a = lines(before), b = lines(r.text);
    std::size_t head = 0;
    while (head + 1 < a.size() && head + 1 < b.size() && a[head] == b[head]) ++head;
    std::size_t tail = 0;
    while (tail + 1 < a.size() - head && tail + 1 < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::string text;
    for (std::size_t k = head; k < b.size() - tail; ++k) text += b[k];
    const std::size_t end_line = a.size() - 1 - tail;
    const int end_character = tail == 0 ? static_cast<int>(charset::utf16_length(a[end_line])) : 0;
    const std::size_t to_line = tail == 0 ? end_line : end_line + 1;
    edits.push_back({{"range", {{"start", {{"line", head}, {"character", 0}}},
                                {"end", {{"line", to_line}, {"character", end_character}}}}},
                     {"newText", text}});
    return edits;
}

}  // namespace

json Server::formatting(const json& params) {
    const Document* d = document(params.at("textDocument").at("uri"));
    if (!d) return nullptr;
    return format_edit(d->text, format::format_source(d->text));
}

json Server::range_formatting(const json& params) {
    const Document* d = document(params.at("textDocument").at("uri"));
    if (!d) return nullptr;
    const Position from = position_from(params.at("range").at("start"));
    const Position to = position_from(params.at("range").at("end"));
    // A range that ends at the start of a line leaves that line out.
    const int last = to.line > from.line && to.character == 0 ? to.line - 1 : to.line;
    return format_edit(d->text, format::format_lines(d->text, from.line + 1, last + 1));
}

}  // namespace lsp
