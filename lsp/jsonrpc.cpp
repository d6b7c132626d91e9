// Frames of the protocol on a byte stream.
#include "jsonrpc.h"

#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

namespace lsp {

int Reader::byte() {
    if (next_ == buffer_.size()) {
        if (end_) return -1;
        buffer_.resize(65536);
        next_ = 0;
        ssize_t n;
        do n = ::read(fd_, buffer_.data(), buffer_.size());
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            end_ = true;
            buffer_.clear();
            return -1;
        }
        buffer_.resize(static_cast<std::size_t>(n));
    }
    return static_cast<unsigned char>(buffer_[next_++]);
}

bool Reader::pending() {
    if (next_ < buffer_.size()) return true;
    if (end_) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

// Reads one header line without its CR LF; false at end of input. A line
// holding "Content-Length:" after other text (a body without a length
// before it) starts at that header.
bool Reader::header_line(std::string& line) {
    line.clear();
    for (int c; (c = byte()) >= 0;) {
        if (c == '\n') break;
        if (line.size() < 4096) line += static_cast<char>(c);
        else line.erase(0, 2048);  // a long line keeps only its end, where a header may start
    }
    if (line.empty() && end_ && next_ >= buffer_.size()) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    static constexpr char kLength[] = "content-length:";
    if (line.size() > sizeof kLength - 1)
        for (std::size_t at = line.size() - (sizeof kLength - 1); at > 0; --at)
            if (strncasecmp(line.c_str() + at, kLength, sizeof kLength - 1) == 0) {
                line.erase(0, at);
                break;
            }
    return true;
}

ReadStatus Reader::read(std::string& body) {
    std::string line;
    long long length = -1;
    bool any = false, broken = false;
    for (;;) {
        if (!header_line(line)) return ReadStatus::End;
        if (line.empty()) {
            if (any) break;
            continue;  // stray blank lines between frames
        }
        any = true;
        static constexpr char kLength[] = "content-length:";
        if (line.size() > sizeof kLength - 1 && strncasecmp(line.c_str(), kLength, sizeof kLength - 1) == 0) {
            const char* p = line.c_str() + sizeof kLength - 1;
            while (*p == ' ' || *p == '\t') ++p;
            const char* digits = p;
            unsigned long long n = 0;
            bool too_long = false;
            for (; *p >= '0' && *p <= '9'; ++p) {
                n = n * 10 + static_cast<unsigned>(*p - '0');
                if (n > kMaxMessage) too_long = true, n = kMaxMessage + 1;
            }
            while (*p == ' ' || *p == '\t') ++p;
            const bool ok = p != digits && *p == '\0' && !too_long;
            length = ok ? static_cast<long long>(n) : -1;
            broken = !ok;
        }
    }
    if (length < 0 || broken) return ReadStatus::Broken;
    body.resize(static_cast<std::size_t>(length));
    for (std::size_t done = 0; done < body.size();) {
        if (next_ == buffer_.size()) {  // refill, taking its first byte
            const int c = byte();
            if (c < 0) return ReadStatus::End;
            body[done++] = static_cast<char>(c);
            continue;
        }
        const std::size_t take = std::min(body.size() - done, buffer_.size() - next_);
        std::memcpy(body.data() + done, buffer_.data() + next_, take);
        next_ += take;
        done += take;
    }
    return ReadStatus::Message;
}

bool write_message(std::FILE* out, const std::string& body) {
    std::fprintf(out, "Content-Length: %zu\r\n\r\n", body.size());
    std::fwrite(body.data(), 1, body.size(), out);
    return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace lsp
