// Table-driven UTF-8 <-> CP932 conversions.
#include "charset.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace charset {
namespace {

struct EncodePair {
    std::uint16_t unicode;
    std::uint16_t code;
};
struct DecodePair {
    std::uint16_t code;
    std::uint16_t unicode;
};

#include "cp932_table.inc"

}  // namespace

long to_cp932(char32_t c) {
    if (c < 0x80) return static_cast<long>(c);
    if (c > 0xFFFF) return -1;
    auto it = std::lower_bound(std::begin(kEncode), std::end(kEncode), c,
                               [](const EncodePair& p, char32_t v) { return p.unicode < v; });
    return it != std::end(kEncode) && it->unicode == c ? it->code : -1;
}

long from_cp932(unsigned code) {
    auto it = std::lower_bound(std::begin(kDecode), std::end(kDecode), code,
                               [](const DecodePair& p, unsigned v) { return p.code < v; });
    return it != std::end(kDecode) && it->code == code ? it->unicode : -1;
}

long decode_utf8(std::string_view text, std::size_t pos, std::size_t& length) {
    length = 1;
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char b = byte(pos);
    if (b < 0x80) return b;
    std::size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || pos + n > text.size()) return -1;
    char32_t c = b & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80) return -1;
        c = c << 6 | (byte(pos + i) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond the last plane.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[n] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) return -1;
    length = n;
    return static_cast<long>(c);
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

Converted utf8_to_cp932(std::string_view utf8, char replacement) {
    Converted out;
    out.bytes.reserve(utf8.size());
    int line = 1;
    for (std::size_t pos = 0; pos < utf8.size();) {
        std::size_t length;
        long c = decode_utf8(utf8, pos, length);
        pos += length;
        if (c == '\n') ++line;
        long code = c < 0 ? -1 : to_cp932(static_cast<char32_t>(c));
        if (code < 0) {
            out.bytes += replacement;
            if (out.bad_lines.empty() || out.bad_lines.back() != line) out.bad_lines.push_back(line);
            if (c < 0 && (out.malformed_lines.empty() || out.malformed_lines.back() != line))
                out.malformed_lines.push_back(line);
        } else if (code > 0xFF) {
            out.bytes += static_cast<char>(code >> 8);
            out.bytes += static_cast<char>(code & 0xFF);
        } else {
            out.bytes += static_cast<char>(code);
        }
    }
    return out;
}

std::string cp932_to_utf8(std::string_view cp932) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(cp932.size() * 3 / 2);
    for (std::size_t i = 0; i < cp932.size();) {
        auto b = static_cast<unsigned char>(cp932[i]);
        if (b < 0x80) {  // the same byte in both
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        long c = -1;
        std::size_t n = 1;
        if (is_lead_byte(b) && i + 1 < cp932.size()) {
            c = from_cp932(b << 8 | static_cast<unsigned char>(cp932[i + 1]));
            n = 2;
        }
        if (c < 0) {
            c = from_cp932(b);
            n = 1;
        }
        if (c < 0) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            append_utf8(out, static_cast<char32_t>(c));
        }
        i += n;
    }
    return out;
}

std::size_t utf16_length(std::string_view utf8) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        std::size_t length;
        long c = decode_utf8(utf8, pos, length);
        pos += length;
        units += c > 0xFFFF ? 2 : 1;
    }
    return units;
}

}  // namespace charset
