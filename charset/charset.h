// Conversions between UTF-8 and CP932 (Shift-JIS with the usual vendor
// extensions), from tables generated at build time out of the host's
// iconv. Used by the compiler's charset options and by the language server,
// which must also work where the C library has no CP932 converter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace charset {

// True for the first byte of a two-byte CP932 character.
constexpr bool is_lead_byte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The CP932 code of a character (one byte, or lead * 256 + trail), or -1.
long to_cp932(char32_t c);
// The character of a CP932 code (as to_cp932 returns it), or -1.
long from_cp932(unsigned code);

// Decodes one UTF-8 character at text[pos]; sets `length` to the bytes it
// takes (at least 1). Returns -1 for a malformed sequence (length 1).
long decode_utf8(std::string_view text, std::size_t pos, std::size_t& length);
void append_utf8(std::string& out, char32_t c);

struct Converted {
    std::string bytes;
    // Lines (from 1) holding a character that has no CP932 form or a
    // malformed UTF-8 sequence, each once, in order.
    std::vector<int> bad_lines;
    // Those of bad_lines that hold a malformed UTF-8 sequence.
    std::vector<int> malformed_lines;
};
// UTF-8 to CP932; each character without a CP932 form becomes `replacement`.
Converted utf8_to_cp932(std::string_view utf8, char replacement = '?');

// CP932 to UTF-8; a byte that starts no CP932 character is written as \xHH.
std::string cp932_to_utf8(std::string_view cp932);

// Length in UTF-16 code units of a UTF-8 text (a malformed byte counts 1).
std::size_t utf16_length(std::string_view utf8);

}  // namespace charset
