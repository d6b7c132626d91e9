// The debugger's expression evaluator against the machine's arithmetic and
// the language's precedences, over a scope of fixed values.
#include <gtest/gtest.h>

#include "expression.h"

namespace {

using debugger::EvalError;
using debugger::Operand;
using image::Word;

class FixedScope : public debugger::Scope {
public:
    FixedScope() {
        a_.name = "a";
        a_.type = debuginfo::Type::Int;
        a_.array_size = 3;
        a_.location = 100;
        n_.name = "n";
        n_.location = 90;
    }
    Operand variable(std::string_view name) const override {
        Operand o;
        if (name == "n") {
            o.variable = &n_;
            o.name = "n";
            o.address = Word(90);
            o.words = {Word(-7)};
            return o;
        }
        if (name != "a") throw EvalError("No symbol");
        o.variable = &a_;
        o.name = "a";
        o.array = true;
        o.address = Word(100);
        o.words = {10, 20, 30};
        return o;
    }
    Operand element(const Operand& array, long index) const override {
        if (index < 0 || index >= 3) throw EvalError("Index");
        Operand o = array;
        o.array = false;
        o.index = int(index);
        o.address = Word(100 - index);
        o.words = {array.words[std::size_t(index)]};
        return o;
    }
    Operand reg(std::string_view) const override { throw EvalError("no registers"); }
    Operand history(long n, bool relative) const override {
        Operand o;
        o.words = {Word(relative ? 1000 + n : n)};
        return o;
    }
    Word memory(Word address) const override { return Word(100 - address) * 10 + 10; }

private:
    debuginfo::Variable a_, n_;
};

std::string eval(std::string_view text) {
    const Operand o = debugger::evaluate(text, FixedScope());
    std::string out;
    for (Word w : o.words) out += (out.empty() ? "" : ",") + std::to_string(int(std::int16_t(w)));
    return (o.type == debuginfo::Type::Bool ? "b" : "") + out;
}

TEST(Expression, MachineArithmeticAndPrecedence) {
    EXPECT_EQ(eval("1 + 2 * 3"), "7");
    EXPECT_EQ(eval("- 2 * 3 + 1"), "-5");
    EXPECT_EQ(eval("n div 2"), "-3");  // truncating, as DIV
    EXPECT_EQ(eval("n mod 2"), "-1");
    EXPECT_EQ(eval("32767 + 1"), "-32768");  // 16-bit wrap-around
    // Comparisons decide by the 16-bit difference, as CMP does: this
    // difference overflows, so "<" holds the wrong way round.
    EXPECT_EQ(eval("30000 < -30000"), "b1");
    EXPECT_EQ(eval("1 < 2 = true"), "b1");
    EXPECT_EQ(eval("true or false and false"), "b0");  // one level, left to right
    EXPECT_EQ(eval("not false = true"), "b1");
    EXPECT_EQ(eval("a[n + 8] = 20"), "b1");
    EXPECT_EQ(eval("a[2 - 1]"), "20");
    EXPECT_EQ(eval("a[1]@2"), "20,30");
    EXPECT_EQ(eval("$ + $$ + $3 + $$2"), std::to_string(1000 + 1001 + 3 + 1002));
}

TEST(Expression, RefusesWhatTheLanguageRefuses) {
    for (const char* text : {"1 + true", "not 1", "a + 1", "a[true]", "n[0]", "1 div 0", "f(1)", "1 +",
                             "(1", "a[3]", "1 @ 2", "a[0]@0", "70000", "1 / 2", "and"})
        EXPECT_THROW(eval(text), EvalError) << text;
    EXPECT_EQ(debugger::find_assignment("a[i := 1] := 2"), 10u);
    EXPECT_EQ(debugger::find_assignment("i = 2"), std::string_view::npos);
}

}  // namespace
