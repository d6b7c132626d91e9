// vexl-lsp: the language server of the language, speaking the Language
// Server Protocol on standard input and output.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "version.h"
#include "jsonrpc.h"
#include "options.h"
#include "server.h"

namespace {

enum class Option {
#define VEXL_LSP_OPTION(id, name, argument, help) id,
#include "options.def"
#undef VEXL_LSP_OPTION
};

constexpr cli::OptionRow kOptions[] = {
#define VEXL_LSP_OPTION(id, name, argument, help) {name, argument, help},
#include "options.def"
#undef VEXL_LSP_OPTION
};

std::string help_text() {
    return "Usage: vexl-lsp [--stdio]\n"
           "Language server for .vxl programs: speaks the Language Server Protocol\n"
           "on standard input and output. Editors start it; see docs/editors.md.\n"
           "\n" +
           cli::help_listing(kOptions);
}

}  // namespace

int main(int argc, char** argv) {
    const cli::CommandLine line = cli::parse(kOptions, argc, argv);
    if (!line.error.empty() || !line.operands.empty()) {
        const std::string complaint =
            !line.error.empty() ? line.error : "unexpected argument '" + line.operands.front() + "'";
        std::fprintf(stderr, "vexl-lsp: %s\nTry 'vexl-lsp --help' for more information.\n", complaint.c_str());
        return 2;
    }
    for (const cli::ParsedOption& o : line.options) {
        switch (static_cast<Option>(o.row)) {
        case Option::stdio: break;
        case Option::help: std::fputs(help_text().c_str(), stdout); return 0;
        case Option::version: std::puts("vexl-lsp " VEXL_VERSION); return 0;
        }
    }
    // A client that went away shows as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    bool connected = true;
    lsp::Server server([&](const lsp::json& message) {
        if (connected)
            connected = lsp::write_message(stdout, message.dump(-1, ' ', false, lsp::json::error_handler_t::replace));
    });
    // Everything already waiting is read before any of it is handled: a
    // burst of changes is analysed once, and a request cancelled meanwhile
    // is not run at all.
    lsp::Reader reader(0);
    std::vector<std::string> batch;
    std::string body;
    for (;;) {
        batch.clear();
        do {
            lsp::ReadStatus status = reader.read(body);
            if (status == lsp::ReadStatus::End) {
                if (!server.handle_all(batch)) return server.exit_code();
                return 1;  // the client is gone
            }
            if (status == lsp::ReadStatus::Broken) server.broken_frame();
            else batch.push_back(std::move(body));
        } while (reader.pending() && batch.size() < 1000);
        if (!server.handle_all(batch)) return server.exit_code();
        if (!connected) return 1;
        server.idle();
    }
}
