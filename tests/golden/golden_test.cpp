// The golden runner: one test per case found under tests/golden/vm,
// tests/golden/compiler and examples/. With VEXL_BLESS=1 in the environment
// the cases rewrite their expectation files from the actual output instead
// of comparing (review the resulting diff before keeping it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>

#include "golden.h"

namespace golden {

// Test parameters print as their case id.
void PrintTo(const Case& c, std::ostream* os) { *os << c.id; }

namespace {

const std::vector<Case>& all_cases() {
    static const std::vector<Case> cases = discover(VEXL_GOLDEN_DIR, VEXL_EXAMPLES_DIR);
    return cases;
}

std::vector<Case> cases_under(const std::string& prefix) {
    std::vector<Case> picked;
    for (const Case& c : all_cases())
        if (c.id.starts_with(prefix)) picked.push_back(c);
    return picked;
}

bool blessing() {
    const char* b = std::getenv("VEXL_BLESS");
    return b != nullptr && std::string(b) == "1";
}

class Golden : public testing::TestWithParam<Case> {};

TEST_P(Golden, Case) {
    const Case& c = GetParam();
    const Tools tools{{VEXL_VEXLC}, VEXL_VEXL, VEXL_VEXLDUMP, VEXL_CC};
    const Outcome o = c.kind == Kind::Machine   ? check_machine_case(c, tools, blessing())
                      : c.kind == Kind::Runtime ? check_runtime_case(c, tools, blessing())
                                                : check_compiler_case(c, tools, blessing());
    for (const std::string& f : o.failures) ADD_FAILURE() << "case " << c.id << ": " << f;
    for (const std::string& b : o.blessed) std::cout << "case " << c.id << ": " << b << '\n';
    if (o.failures.empty() && !o.skipped.empty()) GTEST_SKIP() << o.skipped;
}

std::string name_of(const testing::TestParamInfo<Case>& info) { return info.param.test_name; }

INSTANTIATE_TEST_SUITE_P(vm, Golden, testing::ValuesIn(cases_under("vm/")), name_of);
INSTANTIATE_TEST_SUITE_P(compiler, Golden, testing::ValuesIn(cases_under("compiler/")), name_of);
INSTANTIATE_TEST_SUITE_P(runtime, Golden, testing::ValuesIn(cases_under("runtime/")), name_of);
INSTANTIATE_TEST_SUITE_P(examples, Golden, testing::ValuesIn(cases_under("examples/")), name_of);
// The compiler and example folders may well be empty.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Golden);

}  // namespace
}  // namespace golden
