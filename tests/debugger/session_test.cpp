// The debugger core as a library, as the playground drives it: the three
// sinks stay apart, input comes from a text, an empty line repeats only
// when asked to, and an interrupt stops a running program.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

}  // namespace
