// Properties of the generated programs that the compiler alone would not
// reveal: determinism, the lexical limits that keep vexlc silent, the use
// of every construct across a sample, and a well-formed input file.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "generator.h"

namespace {

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
    const std::regex text("\"((?:[^\"\\\\\\n]|\\\\.)*)\"");
    for (std::uint64_t seed = 1; seed <= 150; ++seed) {
        const std::string src = proggen::generate(seed).source;
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string code;  // the source without texts and comments
        std::istringstream lines(src);
        for (std::string line; std::getline(lines, line);) {
            ASSERT_EQ(line.find('\t'), std::string::npos) << line;
            ASSERT_EQ(line.find('\r'), std::string::npos) << line;
            for (std::sregex_iterator m(line.begin(), line.end(), text), end; m != end; ++m) {
                const std::string body = (*m)[1];
                EXPECT_FALSE(body.empty()) << line;
                EXPECT_EQ(body.find('%'), std::string::npos) << line;
                for (std::size_t i = 0; i + 1 < body.size(); ++i) {
                    if (body[i] != '\\') continue;
                    const char e = body[++i];  // escapes pair up: a doubled backslash and an x is no escape
                    EXPECT_FALSE(e == 'x' || (e >= '0' && e <= '7')) << line;
                }
            }
            std::string stripped = std::regex_replace(line, text, "\"\"");
            if (auto c = stripped.find("//"); c != std::string::npos) stripped.erase(c);
            code += stripped + "\n";
        }
        code = std::regex_replace(code, std::regex("/\\*[^*]*\\*/"), " ");
        for (std::size_t i = 0; i < code.size();) {
            if (std::isalpha(static_cast<unsigned char>(code[i])) || code[i] == '_') {
                std::size_t j = i;
                while (j < code.size() && (std::isalnum(static_cast<unsigned char>(code[j])) || code[j] == '_')) ++j;
                EXPECT_LT(j - i, 32u) << code.substr(i, j - i);
                EXPECT_NE(code.substr(i, j - i), "main");
                i = j;
            } else if (std::isdigit(static_cast<unsigned char>(code[i]))) {
                std::size_t j = i;
                while (j < code.size() && std::isdigit(static_cast<unsigned char>(code[j]))) ++j;
                const std::string digits = code.substr(i, j - i);
                EXPECT_TRUE(digits.size() < 5 || (digits.size() == 5 && digits <= "32767")) << digits;
                EXPECT_TRUE(digits == "0" || digits[0] != '0') << digits;  // "007" would be three literals
                i = j;
            } else {
                ++i;
            }
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
        "false", "\\n", "\\t", "//", "/*", ", ", "[",
    };
    for (const char* n : needles) EXPECT_NE(all.find(n), std::string::npos) << "never generated: " << n;
    EXPECT_TRUE(std::regex_search(all, std::regex("input [a-z0-9_]+\\[")));       // input into an element
    EXPECT_TRUE(std::regex_search(all, std::regex("\n(int|bool) [a-z0-9_]+\\[")));  // global array
    EXPECT_TRUE(std::regex_search(all, std::regex(" := [a-z0-9_]+\\(")));          // call as a value
    EXPECT_TRUE(std::regex_search(all, std::regex("\n    [a-z0-9_]+\\(.*\\);")));   // call statement
}

// Every function called before its definition at least once in a sample,
// and a program never declares an uninitialised global after an
// initialised one unless asked to.
TEST(Proggen, CallsBeforeDefinitionsAndGlobalOrder) {
    bool forward_call = false;
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        const std::string src = proggen::generate(seed).source;
        std::smatch m;
        const std::regex def("function [a-z]+ ([a-z0-9_]+)\\(");
        for (auto it = std::sregex_iterator(src.begin(), src.end(), def); it != std::sregex_iterator(); ++it) {
            const auto name = (*it)[1].str();
            const auto first_use = src.find(name + "(");
            if (first_use < static_cast<std::size_t>(it->position(0))) forward_call = true;
        }
        std::istringstream lines(src);
        bool seen_initialised = false;
        for (std::string line; std::getline(lines, line) && line.rfind("function", 0) != 0;) {
            if (line.empty() || line[0] == '/') continue;
            std::string decl = line;
            const bool initialised = decl.find(":=") != std::string::npos;
            // A statement holds items of one kind except when all are initialised.
            if (!initialised || decl.find(", ") == std::string::npos) {
                EXPECT_FALSE(seen_initialised && !initialised) << "seed " << seed << ": " << line;
            }
            seen_initialised = seen_initialised || initialised;
        }
    }
    EXPECT_TRUE(forward_call);
}

// The input is decimal numbers, optionally with a plus sign, separated by
// blanks and newlines.
TEST(Proggen, InputIsNumbers) {
    bool some = false;
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        const std::string in = proggen::generate(seed).input;
        std::istringstream s(in);
        for (std::string tok; s >> tok;) {
            some = true;
            ASSERT_TRUE(std::regex_match(tok, std::regex("[-+]?(0|[1-9][0-9]*)"))) << tok;
            const long v = std::stol(tok);
            EXPECT_TRUE(v >= -16000 && v <= 16000) << tok;
        }
    }
    EXPECT_TRUE(some);
}

}  // namespace
