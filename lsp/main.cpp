// vexl-lsp: the language server of the language, speaking the Language
// Server Protocol on standard input and output.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "jsonrpc.h"
#include "server.h"

static const char kUsage[] =
    "Usage: vexl-lsp [--stdio]\n"
    "Language server for .vxl programs: speaks the Language Server Protocol\n"
    "on standard input and output. Editors start it; see docs/editors.md.\n"
    "\n"
    "  --stdio     talk on standard input and output (the default)\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n";

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("vexl-lsp 1.0");
            return 0;
        }
        if (std::strcmp(argv[i], "--stdio") != 0) {
            std::fprintf(stderr, "vexl-lsp: unknown option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    // A client that went away shows as a failed write, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
    bool connected = true;
    lsp::Server server([&](const lsp::json& message) {
        if (connected)
            connected = lsp::write_message(stdout, message.dump(-1, ' ', false, lsp::json::error_handler_t::replace));
    });
    std::string body;
    for (;;) {
        lsp::ReadStatus status = lsp::read_message(stdin, body);
        if (status == lsp::ReadStatus::End || !connected) return 1;  // the client is gone
        if (status == lsp::ReadStatus::Broken) {
            server.broken_frame();
            continue;
        }
        if (!server.handle(body)) return server.exit_code();
    }
}
