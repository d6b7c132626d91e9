// Message framing of the protocol: "Content-Length: N" headers, an empty
// line, then N bytes of JSON.
#pragma once

#include <cstdio>
#include <string>

namespace lsp {

enum class ReadStatus {
    Message,  // body holds one message
    Broken,   // a frame without a usable length, or too long: skipped
    End,      // end of input
};

// The largest body accepted; longer ones are read and dropped.
constexpr std::size_t kMaxMessage = std::size_t{256} << 20;

ReadStatus read_message(std::FILE* in, std::string& body);
// Writes one frame and flushes; false when the other side is gone.
bool write_message(std::FILE* out, const std::string& body);

}  // namespace lsp
