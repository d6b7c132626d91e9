// The language server: one handler per method (methods.def), the open
// documents, and the answers built from their analyses. Transport-free:
// handle() takes one message and send() receives every outgoing one.
//
// A change only updates the text; the analysis runs when an answer needs it
// or when the input has no more messages waiting (idle()), so a burst of
// changes is analysed once, on its latest text.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "document.h"

namespace lsp {

using json = nlohmann::json;

class Server {
public:
    explicit Server(std::function<void(const json&)> send) : send_(std::move(send)) {}

    // Handles one message body (any bytes). Returns false once "exit" came.
    bool handle(const std::string& body);
    // Handles messages read together: a request cancelled by a later
    // "$/cancelRequest" among them is answered as cancelled without being
    // run. Returns false once "exit" came.
    bool handle_all(const std::vector<std::string>& bodies);
    // Analyses every changed document and publishes its diagnostics.
    void idle();
    // What the process ends with after "exit": 0 after "shutdown", else 1.
    int exit_code() const { return shut_down_ ? 0 : 1; }
    // Answers a frame that could not be read.
    void broken_frame();

    const Document* document(const std::string& uri) const;

private:
    // The handlers named in methods.def; each returns a request's result.
    json initialize(const json& params);
    json ignore(const json& params);
    json shutdown(const json& params);
    json quit(const json& params);
    json did_change_configuration(const json& params);
    json did_open(const json& params);
    json did_change(const json& params);
    json did_close(const json& params);
    json hover(const json& params);
    json definition(const json& params);
    json references(const json& params);
    json document_highlight(const json& params);
    json document_symbol(const json& params);
    json completion(const json& params);
    json signature_help(const json& params);
    json prepare_rename(const json& params);
    json rename(const json& params);
    json code_action(const json& params);
    json folding_range(const json& params);
    json semantic_tokens(const json& params);
    json semantic_tokens_delta(const json& params);
    json semantic_tokens_range(const json& params);
    json formatting(const json& params);
    json range_formatting(const json& params);

    void dispatch(const json& message);
    void reply_error(const json& id, int code, const std::string& text);
    void publish(const std::string& uri, const Document& doc);
    // The document's analysis of its current text (analysing it if stale).
    const Analysis& fresh(const std::string& uri, Document& doc);
    void apply_settings(const json& options);
    // The analysis and token under a request's textDocument/position.
    struct At {
        std::string uri;
        Document* doc = nullptr;
        const Analysis* analysis = nullptr;
        Position position;
        int token = -1;
        int symbol = -1;
    };
    At at(const json& params);
    json range_of(const Analysis& a, int token) const;
    std::vector<int> token_data(const Analysis& a, Position from, Position to) const;

    std::function<void(const json&)> send_;
    std::map<std::string, Document> documents_;
    Settings settings_;
    long long tokens_serial_ = 0;
    bool initialized_ = false;
    bool shut_down_ = false;
    bool exited_ = false;
};

}  // namespace lsp
