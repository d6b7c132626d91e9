// The debugger core as a library, as the playground drives it: the three
// sinks stay apart, input comes from a text, an empty line repeats only
// when asked to, and an interrupt stops a running program.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "compile.h"
#include "session.h"

namespace {

using image::make_word;

struct Captured {
    std::string program, console, error;
    debugger::Sinks sinks() {
        return {[this](std::string_view t) { program += t; }, [this](std::string_view t) { console += t; },
                [this](std::string_view t) { error += t; }};
    }
};

debugger::Program program_of(std::vector<image::Word> words) {
    debugger::Program p;
    p.image_name = "t.exec";
    p.words = std::move(words);
    return p;
}

TEST(Session, SinksStayApartAndInputComesFromText) {
    Captured c;
    // INI GR1; OUTI GR1; DIV GR1,GR2 (by zero)
    debugger::Session s(program_of({make_word(image::INI_R, 1), make_word(image::OUTI_R, 1),
                                    make_word(image::DIV_R, 1, 2)}),
                        c.sinks());
    s.set_input_text("42\n");
    EXPECT_TRUE(s.execute("run"));
    EXPECT_EQ(c.program, "42");  // no register dump after the runtime error
    EXPECT_NE(c.console.find("Zero Divide Error"), std::string::npos);
    EXPECT_EQ(c.error, "");
    EXPECT_TRUE(s.running());
    EXPECT_FALSE(s.execute("continue"));
    EXPECT_NE(c.error.find("cannot go on"), std::string::npos);
    // Every run reads the text from its beginning.
    EXPECT_TRUE(s.execute("run"));
    EXPECT_EQ(c.program, "4242");
}

TEST(Session, EmptyLineRepeatsOnlyWhenAsked) {
    Captured c;
    debugger::Session s(program_of({0, 0, 0, 0}), c.sinks());
    s.execute("break *0");
    s.execute("run");
    s.execute("stepi");
    s.execute("");
    EXPECT_EQ(c.console.find("0x0002 in"), std::string::npos);
    s.set_repeat_on_empty(true);
    s.execute("stepi");
    s.execute("");
    EXPECT_NE(c.console.find("0x0003 in"), std::string::npos);
    EXPECT_TRUE(s.execute("quit"));
    EXPECT_TRUE(s.quit_requested());
}

TEST(Session, InterruptStopsAnEndlessLoop) {
    Captured c;
    debugger::Session s(program_of({make_word(image::JUMP), 0}), c.sinks());
    // Interrupts until the run has seen one (one sent before the run
    // starts is forgotten, as a Ctrl-C at the prompt is).
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        while (!done) {
            s.interrupt();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_TRUE(s.execute("run"));
    done = true;
    stopper.join();
    EXPECT_NE(c.console.find("Program interrupted."), std::string::npos);
}

// ---- the structured API, on a compiled program ----------------------------

debugger::Program compiled(const std::string& source) {
    CompileOptions options;
    options.g = true;
    const CompileResult r = compile_source("t.vxl", source, options);
    EXPECT_EQ(r.status, 0);
    debugger::Program p = program_of(r.words);
    p.info = debuginfo::read(r.debug_text).info;
    std::istringstream in(source);
    for (std::string line; std::getline(in, line);) p.source.push_back(line);
    return p;
}

const char* const kWatched =
    "int g;\n"                            // 1
    "int a[3];\n"                         // 2
    "function int twice(int n) {\n"       // 3
    "    int k;\n"                        // 4
    "    k := n + n;\n"                   // 5
    "    return k;\n"                     // 6
    "}\n"                                 // 7
    "function void start() {\n"           // 8
    "    int i;\n"                        // 9
    "    for (i := 0; i < 3; i := i + 1) {\n"  // 10
    "        a[i] := twice(i);\n"         // 11
    "    }\n"                             // 12
    "    g := a[2];\n"                    // 13
    "    output g;\n"                     // 14
    "}\n";                                // 15

TEST(SessionApi, BreakpointsConditionsAndStops) {
    Captured c;
    debugger::Session s(compiled(kWatched), c.sinks());
    std::string error;
    const std::optional<int> b = s.add_breakpoint("11", "i = 2", false, &error);
    ASSERT_TRUE(b) << error;
    EXPECT_FALSE(s.add_breakpoint("0", {}, false, &error));
    EXPECT_NE(error.find("out of range"), std::string::npos);
    std::optional<debugger::StopEvent> e = s.run();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->reason, debugger::StopReason::breakpoint);
    EXPECT_EQ(e->breakpoints, std::vector<int>{*b});
    EXPECT_EQ(e->location->line, 11);
    EXPECT_EQ(s.evaluate("i")->text, "2");
    EXPECT_EQ(s.evaluate("a[i - 1] * 10 + 1")->text, "21");
    EXPECT_EQ(s.evaluate("not (i = 2) or true")->text, "true");
    EXPECT_FALSE(s.evaluate("i + true", &error));
    EXPECT_EQ(s.breakpoints().front().hits, 1);  // passes 0 and 1 did not hold
    // Stepping into twice and out again lands on a line start of start.
    e = s.resume(debugger::Motion::step);
    EXPECT_EQ(e->location->function, "twice");
    EXPECT_EQ(s.backtrace().at(0).args.at(0).text, "2");
    EXPECT_EQ(s.backtrace().at(1).location.function, "start");
    EXPECT_EQ(s.backtrace().at(1).name, "start");
    EXPECT_EQ(s.backtrace().at(0).text, "twice (n=2) at t.vxl:5");
    e = s.resume(debugger::Motion::next, 3);
    EXPECT_EQ(e->location->function, "start");
    EXPECT_TRUE(e->location->line_start);
    EXPECT_EQ(s.locals(0).at(0).expression, "i");
    EXPECT_EQ(c.console, "");  // the structured face writes nothing
}

TEST(SessionApi, OneWriteSeenByTwoWatchpointsIsOneStop) {
    Captured c;
    debugger::Session s(compiled(kWatched), c.sinks());
    ASSERT_TRUE(s.add_watchpoint("g"));
    ASSERT_TRUE(s.add_watchpoint("g"));
    std::optional<debugger::StopEvent> e = s.run();
    ASSERT_EQ(e->reason, debugger::StopReason::watchpoint);
    ASSERT_EQ(e->watches.size(), 2u);
    EXPECT_EQ(e->watches[0].new_value.text, "4");
    EXPECT_EQ(e->watches[1].new_value.text, "4");
    e = s.resume(debugger::Motion::cont);
    EXPECT_EQ(e->reason, debugger::StopReason::exited);
    EXPECT_FALSE(s.running());
    EXPECT_EQ(c.program, "4");
}

TEST(SessionApi, WatchedFrameEndsForAllItsWatchpointsAtOnce) {
    Captured c;
    debugger::Session s(compiled(kWatched), c.sinks());
    ASSERT_TRUE(s.add_breakpoint("twice", "n = 1"));
    s.run();
    ASSERT_TRUE(s.add_watchpoint("k"));
    ASSERT_TRUE(s.add_watchpoint("n"));
    std::optional<debugger::StopEvent> e = s.resume(debugger::Motion::cont);
    ASSERT_EQ(e->watches.size(), 1u);  // k := n + n
    e = s.resume(debugger::Motion::cont);
    ASSERT_EQ(e->watches.size(), 2u);
    EXPECT_TRUE(e->watches[0].scope_ended && e->watches[1].scope_ended);
    EXPECT_EQ(s.breakpoints().size(), 1u);
}

}  // namespace

