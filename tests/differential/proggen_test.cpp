// Properties of the generated programs that the compiler alone would not
// reveal: determinism, the lexical limits that keep vexlc silent, the use
// of every construct across a sample, and a well-formed input file.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "generator.h"

namespace {

bool ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The bodies of the string literals on a line (escapes kept as written),
// and the line with every literal reduced to "" and a line comment removed.
std::vector<std::string> split_texts(const std::string& line, std::string& code) {
    std::vector<std::string> texts;
    code.clear();
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '/' && i + 1 < line.size() && line[i + 1] == '/') break;
        if (line[i] != '"') {
            code += line[i];
            continue;
        }
        std::string body;
        for (++i; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) body += line[i++];
            body += line[i];
        }
        texts.push_back(body);
        code += "\"\"";
    }
    return texts;
}

// Whether text holds before, an identifier, then after.
bool has_named(const std::string& text, const std::string& before, const std::string& after) {
    for (std::size_t p = text.find(before); p != std::string::npos; p = text.find(before, p + 1)) {
        std::size_t j = p + before.size();
        const std::size_t start = j;
        while (j < text.size() && ident_char(text[j])) ++j;
        if (j > start && text.compare(j, after.size(), after) == 0) return true;
    }
    return false;
}

TEST(Proggen, SameSeedSameProgramAndInput) {
    const auto a = proggen::generate(12345), b = proggen::generate(12345);
    EXPECT_EQ(a.source, b.source);
    EXPECT_EQ(a.input, b.input);
    EXPECT_NE(a.source, proggen::generate(12346).source);
}

// Identifiers below 32 bytes, integer literals up to 32767 (no warning),
// texts without '%' or numeric escapes, and only blanks and newlines as
// white space (a tab is an illegal character).
TEST(Proggen, LexicalLimits) {
    for (std::uint64_t seed = 1; seed <= 150; ++seed) {
        const std::string src = proggen::generate(seed).source;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string code;  // the source without texts and comments
        std::istringstream lines(src);
        for (std::string line, stripped; std::getline(lines, line);) {
            ASSERT_EQ(line.find('\t'), std::string::npos) << line;
            ASSERT_EQ(line.find('\r'), std::string::npos) << line;
            for (const std::string& body : split_texts(line, stripped)) {
                EXPECT_FALSE(body.empty()) << line;
                EXPECT_EQ(body.find('%'), std::string::npos) << line;
                for (std::size_t i = 0; i + 1 < body.size(); ++i) {
                    if (body[i] != '\\') continue;
                    const char e = body[++i];  // escapes pair up: a doubled backslash and an x is no escape
                    EXPECT_FALSE(e == 'x' || (e >= '0' && e <= '7')) << line;
                }
            }
            code += stripped + "\n";
        }
        for (std::size_t c; (c = code.find("/*")) != std::string::npos;) code.erase(c, code.find("*/", c) + 2 - c);
        for (std::size_t i = 0; i < code.size();) {
            std::size_t j = i;
            if (std::isalpha(static_cast<unsigned char>(code[i])) || code[i] == '_') {
                while (j < code.size() && ident_char(code[j])) ++j;
                EXPECT_LT(j - i, 32u) << code.substr(i, j - i);
                EXPECT_NE(code.substr(i, j - i), "main");
            } else if (std::isdigit(static_cast<unsigned char>(code[i]))) {
                while (j < code.size() && std::isdigit(static_cast<unsigned char>(code[j]))) ++j;
                const std::string digits = code.substr(i, j - i);
                EXPECT_TRUE(digits.size() < 5 || (digits.size() == 5 && digits <= "32767")) << digits;
                EXPECT_TRUE(digits == "0" || digits[0] != '0') << digits;  // "007" would be three literals
            } else {
                ++j;
            }
            i = j;
        }
    }
}

// An unbraced body (after an if, else or for header) is one statement on
// the next line, indented further.
TEST(Proggen, UnbracedBodiesAreNeverEmpty) {
    auto indent = [](const std::string& l) { return l.find_first_not_of(' '); };
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        std::istringstream s(proggen::generate(seed).source);
        std::vector<std::string> lines;
        for (std::string l; std::getline(s, l);) lines.push_back(l);
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
            const std::string& l = lines[i];
            const std::size_t at = indent(l);
            if (at == std::string::npos || l.back() == ';' || l.back() == '{' || l.back() == '}') continue;
            const bool header = l.compare(at, 3, "if ") == 0 || l.compare(at, 4, "for ") == 0 ||
                                l.compare(at, 4, "else") == 0 || l.compare(at, 6, "} else") == 0;
            if (!header) continue;
            EXPECT_GT(indent(lines[i + 1]), at) << "seed " << seed << ", line " << i + 1 << ": " << l;
        }
    }
}

// Over a sample of seeds every statement form, operator and kind of
// declaration occurs somewhere.
TEST(Proggen, SampleUsesEveryConstruct) {
    std::string all;
    for (std::uint64_t seed = 1; seed <= 100; ++seed) all += proggen::generate(seed).source;
    const char* needles[] = {
        " and ", " or ", " xor ", "not ", " = ", " >< ", " < ", " <= ", " > ", " >= ", " + ", " - ", " * ",
        " div ", " mod ", ":= - ", ":= + ", "while (", "do {", "} while (", "for (", "for (;", "; )", "for (;;)",
        "break;", "continue;", "return;", "return ", "input ", "output \"", "output ", "const int", "const bool",
        "} else", "function int", "function bool", "function void", "(const int pd", "if (pd > 0)", "true",
        "false", "\\n", "\\t", "//", "/*", ", ", "[", " + 0 * ",
    };
    for (const char* n : needles) EXPECT_NE(all.find(n), std::string::npos) << "never generated: " << n;
    EXPECT_TRUE(has_named(all, "input ", "["));                                     // input into an element
    EXPECT_TRUE(has_named(all, "\nint ", "[") || has_named(all, "\nbool ", "["));  // global array
    EXPECT_TRUE(has_named(all, " := ", "("));                                       // call as a value
    EXPECT_TRUE(has_named(all, "\n    ", "("));                                     // call statement
}

// Some function is called before its definition in a sample, and a
// program never declares an uninitialised global after an initialised one
// unless asked to.
TEST(Proggen, CallsBeforeDefinitionsAndGlobalOrder) {
    bool forward_call = false;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        const std::string src = proggen::generate(seed).source;
        for (std::size_t p = src.find("\nfunction "); p != std::string::npos; p = src.find("\nfunction ", p + 1)) {
            const std::size_t name = src.find(' ', p + 10) + 1;
            const std::string callee = src.substr(name, src.find('(', name) - name);
            if (src.find(callee + "(") < name) forward_call = true;
        }
        std::istringstream lines(src);
        bool seen_initialised = false;
        for (std::string line; std::getline(lines, line) && line.rfind("function", 0) != 0;) {
            if (line.empty() || line[0] == '/') continue;
            const bool initialised = line.find(":=") != std::string::npos;
            // One statement holds items of one kind unless all are initialised.
            if (!initialised || line.find(", ") == std::string::npos) {
                EXPECT_FALSE(seen_initialised && !initialised) << "seed " << seed << ": " << line;
            }
            seen_initialised = seen_initialised || initialised;
        }
    }
    EXPECT_TRUE(forward_call);
}

// The input is decimal numbers, optionally signed, within the values the
// generator lets variables hold, separated by blanks and newlines.
TEST(Proggen, InputIsNumbers) {
    bool some = false;
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        std::istringstream s(proggen::generate(seed).input);
        for (std::string tok; s >> tok;) {
            some = true;
            const std::size_t digits = tok[0] == '-' || tok[0] == '+' ? 1 : 0;
            ASSERT_LT(digits, tok.size()) << tok;
            for (std::size_t i = digits; i < tok.size(); ++i) {
                ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(tok[i]))) << tok;
            }
            const long v = std::stol(tok);
            EXPECT_TRUE(v >= -16000 && v <= 16000) << tok;
        }
    }
    EXPECT_TRUE(some);
}

}  // namespace
