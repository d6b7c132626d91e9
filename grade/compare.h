// Comparing a program's output with a test's expectation, and the line
// difference the reports show for a wrong answer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace grade {

enum class Match {
#define GRADE_MATCH(id, name) id,
#include "matches.def"
#undef GRADE_MATCH
};

const char* match_name(Match match);
// False when `name` names no way of comparing.
bool match_named(std::string_view name, Match& match);
// "\"exact\", \"trim\" or \"regex\"" for the complaints.
std::string match_choices();

// One test's expected output, ready to be compared with many outputs.
class Expectation {
public:
    // Throws std::invalid_argument with the reason when `expected` is a
    // pattern (Match::regex) that does not compile.
    Expectation(Match match, std::string expected);
    ~Expectation();
    Expectation(const Expectation&) = delete;
    Expectation& operator=(const Expectation&) = delete;

    // `output` is the program's output as written (CP932); a pattern is
    // matched against its UTF-8 form.
    bool matches(std::string_view output) const;

private:
    Match match_;
    std::string expected_;
    struct Pattern;
    std::unique_ptr<Pattern> pattern_;
};

// Without the trailing blanks of each line and the newlines at the end.
std::string trimmed(std::string_view text);

struct DiffLine {
    char kind;  // ' ' in both, '-' only expected, '+' only in the output
    std::string text;
};
// The lines of `expected` and `actual` as a shortest edit script (longest
// common subsequence); a part too large for that comes as all '-' then all
// '+'. A last line without its newline counts like one with it.
std::vector<DiffLine> diff_lines(std::string_view expected, std::string_view actual);

}  // namespace grade
