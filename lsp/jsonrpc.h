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

// The largest body accepted.
constexpr std::size_t kMaxMessage = std::size_t{256} << 20;

// Reads frames from a file descriptor. A frame whose header has no usable
// length is reported broken, and reading goes on at the next
// "Content-Length:" header, wherever it starts: a broken frame never
// swallows the one after it.
class Reader {
public:
    explicit Reader(int fd) : fd_(fd) {}
    ReadStatus read(std::string& body);
    // Whether more input is there to read without waiting.
    bool pending();

private:
    int byte();  // the next byte, or -1 at the end
    bool header_line(std::string& line);
    int fd_;
    std::string buffer_;
    std::size_t next_ = 0;
    bool end_ = false;
};

// Writes one frame and flushes; false when the other side is gone.
bool write_message(std::FILE* out, const std::string& body);

}  // namespace lsp
