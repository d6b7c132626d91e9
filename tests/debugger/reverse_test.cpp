// Going back in the debugger, held to going forward: for generated
// programs and a breakpoint on each of several lines, reverse-continue from
// the k-th hit lands on the (k-1)-th hit with the same instruction count,
// frames and values, and from the first on the start of the run; a
// timeline seek and reverse-stepi agree with the states a forward run
// passed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include "compile.h"
#include "generator.h"
#include "session.h"

namespace {

debugger::Program compiled(const std::string& source) {
    CompileOptions options;
    options.g = true;
    const CompileResult r = compile_source("p.vxl", source, options);
    EXPECT_EQ(r.status, 0);
    debugger::Program p;
    p.image_name = "p.exec";
    p.words = r.words;
    p.info = debuginfo::read(r.debug_text).info;
    std::istringstream in(source);
    for (std::string line; std::getline(in, line);) p.source.push_back(line);
    return p;
}

debugger::Sinks quiet(std::string& output) {
    return {[&output](std::string_view t) { output += t; }, [](std::string_view) {}, [](std::string_view) {}};
}

// What a stop shows: where, the frames with their arguments, the locals of
// the innermost frame and the globals.
std::string picture(const debugger::Session& s) {
    std::string out = std::to_string(s.record()->now) + ":";
    for (const debugger::FrameView& f : s.backtrace()) {
        out += " #" + std::to_string(f.level) + " " + f.location.function + ":" + std::to_string(f.location.line);
        for (const debugger::Value& v : f.args) out += " " + v.expression + "=" + v.text;
    }
    for (const debugger::Value& v : s.locals(0)) out += " " + v.expression + "=" + v.text;
    for (const debugger::Value& v : s.globals()) out += " " + v.expression + "=" + v.text;
    return out;
}

TEST(Reverse, ContinueBackLandsOnThePreviousHitOfGeneratedPrograms) {
    int checked = 0;
    // VEXL_ORACLE_SEEDS=N runs N seeds instead of 30 (a longer run by hand).
    const char* more = std::getenv("VEXL_ORACLE_SEEDS");
    const std::uint64_t seeds = more ? std::strtoull(more, nullptr, 10) : 30;
    for (std::uint64_t seed = 1; seed <= seeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const proggen::Program generated = proggen::generate(seed);
        const debugger::Program program = compiled(generated.source);
        ASSERT_TRUE(program.info);
        std::set<int> lines;
        for (const debuginfo::LineEntry& e : program.info->lines)
            if (e.line > 0) lines.insert(e.line);
        // Every third line with code.
        int n = 0;
        for (const int line : lines) {
            if (n++ % 3 != 0) continue;
            SCOPED_TRACE("line " + std::to_string(line));
            std::string output;
            debugger::Session s(program, quiet(output));
            s.set_input_text(generated.input);
            ASSERT_TRUE(s.add_breakpoint(std::to_string(line)));
            std::vector<std::string> hits;
            std::optional<debugger::StopEvent> e = s.run();
            while (e && e->reason == debugger::StopReason::breakpoint && hits.size() < 40) {
                hits.push_back(picture(s));
                e = s.resume(debugger::Motion::cont);
            }
            if (hits.empty()) continue;
            const std::string forward_output = output;
            // Back from wherever the forward run stopped (the end, or the hit
            // after the 40th).
            std::size_t k = hits.size();
            while (k > 0) {
                e = s.reverse(debugger::Motion::cont);
                ASSERT_TRUE(e);
                ASSERT_EQ(e->reason, debugger::StopReason::breakpoint);
                EXPECT_EQ(picture(s), hits[--k]);
                ++checked;
            }
            e = s.reverse(debugger::Motion::cont);
            ASSERT_TRUE(e);
            EXPECT_TRUE(e->history_end);
            EXPECT_EQ(s.record()->now, 0u);
            // Forward again: the same hits, and no output written twice.
            for (std::size_t i = 0; i < hits.size(); ++i) {
                e = s.resume(debugger::Motion::cont);
                ASSERT_TRUE(e);
                EXPECT_EQ(picture(s), hits[i]);
            }
            EXPECT_EQ(output.substr(0, forward_output.size()), forward_output);
            EXPECT_LE(output.size(), forward_output.size() + 65536);
            s.resume(debugger::Motion::cont);
        }
    }
    EXPECT_GT(checked, 300);
}

// A forward run stepped one instruction at a time passes states 0, 1, 2 ...;
// the timeline and reverse-stepi reach the same ones.
TEST(Reverse, SeekAndReverseStepiMatchTheStatesPassed) {
    const proggen::Program generated = proggen::generate(5);
    const debugger::Program program = compiled(generated.source);
    std::string output;
    debugger::Session s(program, quiet(output));
    s.set_input_text(generated.input);
    ASSERT_TRUE(s.add_breakpoint("*0"));
    ASSERT_TRUE(s.run());
    std::vector<debugger::Registers> passed;
    for (int i = 0; i < 3000 && s.running(); ++i) {
        passed.push_back(*s.registers());
        s.resume(debugger::Motion::stepi);
    }
    // The last stepi ended the program: the states before it were passed.
    const std::uint64_t end = s.record()->now;
    ASSERT_FALSE(s.running());
    ASSERT_EQ(end, passed.size());
    auto same = [](const debugger::Registers& a, const debugger::Registers& b) {
        return a.regs == b.regs && a.pc == b.pc && a.zero_flag == b.zero_flag && a.sign_flag == b.sign_flag;
    };
    for (const std::uint64_t at : {end / 3, end / 2, std::uint64_t(1), end - 1, std::uint64_t(0)}) {
        ASSERT_TRUE(s.seek(at));
        EXPECT_TRUE(same(*s.registers(), passed[at])) << at;
    }
    ASSERT_TRUE(s.seek(end));
    for (std::uint64_t k = 1; k <= 200; ++k) {
        ASSERT_TRUE(s.reverse(debugger::Motion::stepi));
        ASSERT_TRUE(same(*s.registers(), passed[end - k])) << k;
    }
    EXPECT_FALSE(s.seek(end + 1));
}

}  // namespace
