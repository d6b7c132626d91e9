// Frames of the protocol on a byte stream.
#include "jsonrpc.h"

#include <cctype>
#include <cstdlib>
#include <strings.h>

namespace lsp {

// Reads one header line without its CR LF; false at end of input.
static bool read_header_line(std::FILE* in, std::string& line) {
    line.clear();
    for (int c; (c = std::getc(in)) != EOF;) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        if (line.size() < 4096) line += static_cast<char>(c);
    }
    return !line.empty();
}

ReadStatus read_message(std::FILE* in, std::string& body) {
    std::string line;
    long long length = -1;
    bool any = false;
    for (;;) {
        if (!read_header_line(in, line)) return ReadStatus::End;
        if (line.empty()) {
            if (any) break;
            continue;  // stray blank lines between frames
        }
        any = true;
        static constexpr char kLength[] = "content-length:";
        if (line.size() > sizeof kLength - 1 && strncasecmp(line.c_str(), kLength, sizeof kLength - 1) == 0) {
            const char* p = line.c_str() + sizeof kLength - 1;
            while (*p == ' ' || *p == '\t') ++p;
            char* end;
            long long n = std::strtoll(p, &end, 10);
            length = (end != p && *end == '\0' && n >= 0) ? n : -1;
        }
    }
    if (length < 0) return ReadStatus::Broken;
    if (static_cast<unsigned long long>(length) > kMaxMessage) {
        for (long long i = 0; i < length; ++i)
            if (std::getc(in) == EOF) return ReadStatus::End;
        return ReadStatus::Broken;
    }
    body.resize(static_cast<std::size_t>(length));
    if (std::fread(body.data(), 1, body.size(), in) != body.size()) return ReadStatus::End;
    return ReadStatus::Message;
}

bool write_message(std::FILE* out, const std::string& body) {
    std::fprintf(out, "Content-Length: %zu\r\n\r\n", body.size());
    std::fwrite(body.data(), 1, body.size(), out);
    return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace lsp
