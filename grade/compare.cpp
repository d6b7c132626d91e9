// Output comparison and line differences (see compare.h).
#include "compare.h"

#include <algorithm>
#include <stdexcept>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "charset.h"

namespace grade {

namespace {

constexpr const char* kMatchNames[] = {
#define GRADE_MATCH(id, name) name,
#include "matches.def"
#undef GRADE_MATCH
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

const char* match_name(Match match) { return kMatchNames[static_cast<int>(match)]; }

bool match_named(std::string_view name, Match& match) {
    for (std::size_t i = 0; i < std::size(kMatchNames); ++i)
        if (name == kMatchNames[i]) {
            match = static_cast<Match>(i);
            return true;
        }
    return false;
}

std::string match_choices() {
    std::string out;
    for (std::size_t i = 0; i < std::size(kMatchNames); ++i)
        out += (i == 0 ? "\"" : i + 1 == std::size(kMatchNames) ? " or \"" : ", \"") + std::string(kMatchNames[i]) + "\"";
    return out;
}

struct Expectation::Pattern {
    pcre2_code* code = nullptr;
    ~Pattern() { pcre2_code_free(code); }
};

Expectation::Expectation(Match match, std::string expected) : match_(match), expected_(std::move(expected)) {
    if (match_ == Match::trim) expected_ = trimmed(expected_);
    if (match_ != Match::regex) return;
    // The whole output must match: anchored at both ends, '.' and '$' as in
    // a multi-line text.
    int error = 0;
    PCRE2_SIZE offset = 0;
    pattern_ = std::make_unique<Pattern>();
    pattern_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expected_.data()), expected_.size(),
                                   PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_ANCHORED | PCRE2_ENDANCHORED |
                                       PCRE2_MULTILINE,
                                   &error, &offset, nullptr);
    if (!pattern_->code) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw std::invalid_argument("regular expression: " + std::string(reinterpret_cast<char*>(message)) +
                                    " at offset " + std::to_string(offset));
    }
}

Expectation::~Expectation() = default;

bool Expectation::matches(std::string_view output) const {
    switch (match_) {
    case Match::exact: return output == expected_;
    case Match::trim: return trimmed(output) == expected_;
    case Match::regex: break;
    }
    const std::string text = charset::cp932_to_utf8(output);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(pattern_->code, nullptr);
    // A bound on the work of one match, so that a pattern that backtracks
    // badly fails the test instead of holding the whole batch.
    pcre2_match_context* context = pcre2_match_context_create(nullptr);
    pcre2_set_match_limit(context, 10'000'000);
    const int rc = pcre2_match(pattern_->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, data,
                               context);
    pcre2_match_context_free(context);
    pcre2_match_data_free(data);
    return rc >= 0;
}

std::string trimmed(std::string_view text) {
    std::string out;
    for (std::string_view line : split_lines(text)) {
        std::size_t end = line.size();
        while (end > 0 && is_blank(line[end - 1])) --end;
        out.append(line.substr(0, end));
        out += '\n';
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

std::vector<DiffLine> diff_lines(std::string_view expected, std::string_view actual) {
    const std::vector<std::string_view> a = split_lines(expected), b = split_lines(actual);
    std::size_t head = 0, tail = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    std::vector<DiffLine> out;
    for (std::size_t i = 0; i < head; ++i) out.push_back({' ', std::string(a[i])});
    const std::size_t n = a.size() - head - tail, m = b.size() - head - tail;
    if (n * m <= 4'000'000) {
        // lcs[i][j]: the longest common subsequence of a[head+i..] and b[head+j..].
        std::vector<std::uint32_t> lcs((n + 1) * (m + 1), 0);
        auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return lcs[i * (m + 1) + j]; };
        for (std::size_t i = n; i-- > 0;)
            for (std::size_t j = m; j-- > 0;)
                at(i, j) = a[head + i] == b[head + j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
        std::size_t i = 0, j = 0;
        while (i < n || j < m) {
            if (i < n && j < m && a[head + i] == b[head + j]) {
                out.push_back({' ', std::string(a[head + i])});
                ++i, ++j;
            } else if (i < n && (j == m || at(i + 1, j) >= at(i, j + 1))) {
                out.push_back({'-', std::string(a[head + i++])});
            } else {
                out.push_back({'+', std::string(b[head + j++])});
            }
        }
    } else {
        for (std::size_t i = 0; i < n; ++i) out.push_back({'-', std::string(a[head + i])});
        for (std::size_t j = 0; j < m; ++j) out.push_back({'+', std::string(b[head + j])});
    }
    for (std::size_t i = a.size() - tail; i < a.size(); ++i) out.push_back({' ', std::string(a[i])});
    return out;
}

}  // namespace grade
