// The debug information library: the file format round trip, the reader's
// rejections, the lookups and the frame walker on a hand-built stack.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "debuginfo.h"

namespace {

using debuginfo::DebugInfo;
using debuginfo::Storage;
using debuginfo::Type;
using debuginfo::Variable;
using image::Word;

// A program with a global g, a global array t[3], start at 0x0010-0x0020
// and f(n) at 0x0020-0x0030 with a local array buf[2].
// Written in version 1, which the reader keeps reading.
DebugInfo sample(const std::vector<Word>& image) {
    DebugInfo d;
    d.version = 1;
    d.source = "dir with blank/prog.vxl";
    d.image_words = static_cast<std::uint32_t>(image.size());
    d.checksum = debuginfo::checksum(image);
    d.lines = {{0x0004, 1}, {0x000c, 0}, {0x0010, 5}, {0x0016, 6}, {0x0020, 9}, {0x0024, 10}, {0x0028, 9}};
    // Bodies and headers as the reader takes them from a version 1 file:
    // after the two words of the calling convention's prologue; the first
    // line of code, or the definition's line when that comes first.
    debuginfo::Function start{"start", 0x0010, 0x0020, Type::Void, {}, {}, 4, 0x0012, 4, {}};
    debuginfo::Function f{"f", 0x0020, 0x0030, Type::Int, {}, {}, 8, 0x0022, 8, {}};
    f.parameters.push_back(Variable{Storage::Parameter, "n", Type::Int, false, 0, 3});
    f.locals.push_back(Variable{Storage::Local, "buf", Type::Bool, false, 2, 0});
    d.functions = {start, f};
    d.globals.push_back(Variable{Storage::Global, "g", Type::Int, true, 0, 0xFFFF});
    d.globals.push_back(Variable{Storage::Global, "t", Type::Int, false, 3, 0xFFFE});
    return d;
}

const std::vector<Word> kImage(0x31, 0x0000);

TEST(DebugFormat, RoundTripIsExact) {
    const std::string text = debuginfo::write(sample(kImage));
    const auto r = debuginfo::read(text);
    ASSERT_TRUE(r.info) << r.error;
    EXPECT_EQ(debuginfo::write(*r.info), text);
    EXPECT_TRUE(r.info->matches(kImage));
    std::vector<Word> other = kImage;
    other[7] = 1;
    EXPECT_FALSE(r.info->matches(other));
    const std::string head = "vexl-debug 1\nsource dir with blank/prog.vxl\nimage 49 ";
    EXPECT_EQ(text.substr(0, head.size()), head);
}

// Each damage to a good file, and the start of the message it must give.
TEST(DebugFormat, ReaderRejectsDamage) {
    const std::string good = debuginfo::write(sample(kImage));
    auto replace = [&good](const std::string& from, const std::string& to) {
        std::string s = good;
        const auto pos = s.find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        return s.replace(pos, from.size(), to);
    };
    const std::map<std::string, std::string> cases = {
        {"", "empty file"},
        {"hello\n", "1: not a debug information file"},
        {replace("vexl-debug 1", "vexl-debug 4"), "1: format version 4"},
        {replace("vexl-debug 1", "vexl-debug 0"), "1: format version 0"},
        {good.substr(0, good.size() - 4), "truncated"},
        {good.substr(0, good.size() - 1), "17: line does not end"},
        {good + "line 0x0001 1\n", "17: text after"},
        {replace("line 0x0016 6", "line 0x0010 6"), "7: line addresses must ascend"},
        {replace("line 0x0016 6", "line 0x0040 6"), "7: address 0x0040 beyond the image"},
        {replace("line 0x0016 6", "line 0x16 6"), "7: bad address"},
        {replace("line 0x0016 6", "line 0x0016 06"), "7: bad line number"},
        {replace("line 0x0016 6", "line 0x0016  6"), "7: empty field"},
        {replace("line 0x0016 6", "line 0x0016\t6"), "7: control character"},
        {replace("function f 0x0020 0x0030", "function f 0x0018 0x0030"), "12: function \"f\" overlaps"},
        {replace("function f 0x0020 0x0030", "function f 0x0020 0x0020"), "12: bad end"},
        {replace("function f 0x0020 0x0030", "function start 0x0020 0x0030"), "12: function \"start\" appears"},
        {replace("int 8\n", "float 8\n"), "12: bad type"},
        {replace("param n int var 3", "param n int var 40000"), "13: offset 40000 out of range"},
        {replace("local buf bool var 2 0", "local n bool var 2 0"), "14: variable \"n\" appears twice"},
        {replace("local buf bool var", "local buf void var"), "14: bad type"},
        {replace("global g int const", "global g int constant"), "15: bad qualifier"},
        {replace("global g int const 0 0xffff", "global g int const 0"), "15: \"global\" record needs 5"},
        {replace("param n", "oops n"), "13: unexpected record"},
    };
    for (const auto& [text, message] : cases) {
        const auto r = debuginfo::read(text);
        EXPECT_FALSE(r.info) << text;
        EXPECT_EQ(r.error.substr(0, message.size()), message) << r.error;
    }
}

// Version 2: the source's stamp, each function's body and the element
// sites, each checked; a version 1 file has none of them.
TEST(DebugFormat, Version2RecordsSourceBodiesAndElementSites) {
    DebugInfo d = sample(kImage);
    d.version = 2;
    d.source_stamp = debuginfo::SourceStamp{11, debuginfo::checksum(std::string_view("int x;\nfoo\n"))};
    d.functions[0].body = 0x0012;
    d.functions[1].body = 0x0025;
    d.elements = {{0x0014, debuginfo::ElementSite::Kind::access, "t"},
                  {0x0026, debuginfo::ElementSite::Kind::check, "buf"}};
    const std::string good = debuginfo::write(d);
    EXPECT_NE(good.find("\nsource-hash 11 "), std::string::npos);
    EXPECT_NE(good.find("\nfunction f 0x0020 0x0030 int 8 0x0025\n"), std::string::npos);
    EXPECT_NE(good.find("\nelement 0x0026 check buf\nend\n"), std::string::npos);
    const auto r = debuginfo::read(good);
    ASSERT_TRUE(r.info) << r.error;
    EXPECT_EQ(debuginfo::write(*r.info), good);
    EXPECT_EQ(r.info->functions[1].body, 0x0025);
    EXPECT_TRUE(r.info->source_matches("int x;\nfoo\n"));
    EXPECT_FALSE(r.info->source_matches("int x;\nfoo \n"));
    ASSERT_NE(r.info->element_at(0x0026), nullptr);
    EXPECT_EQ(r.info->array_of(*r.info->element_at(0x0026))->name, "buf");
    EXPECT_EQ(r.info->element_at(0x0025), nullptr);

    auto replace = [&good](const std::string& from, const std::string& to) {
        std::string s = good;
        const auto pos = s.find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        return s.replace(pos, from.size(), to);
    };
    const std::map<std::string, std::string> cases = {
        {replace("source-hash 11 ", "source-hash -1 "), "3: source length -1 out of range"},
        {replace("source-hash", "image"), "3: expected a \"source-hash\" record"},
        {replace("int 8 0x0025", "int 8"), "13: \"function\" record needs 6"},
        {replace("int 8 0x0025", "int 8 0x0030"), "13: body 0x0030 outside"},
        {replace("element 0x0026 check buf", "element 0x0013 check buf"), "19: element addresses must ascend"},
        {replace("element 0x0026 check buf", "element 0x0026 check g"), "19: no array \"g\""},
        {replace("element 0x0026 check buf", "element 0x0016 check buf"), "19: no array \"buf\""},
        {replace("element 0x0026 check", "element 0x0026 read"), "19: bad element kind"},
    };
    for (const auto& [text, message] : cases) {
        const auto bad = debuginfo::read(text);
        EXPECT_FALSE(bad.info) << text;
        EXPECT_EQ(bad.error.substr(0, message.size()), message) << bad.error;
    }
    // Version 1 has no such records: an element record there is unknown.
    const std::string v1 = debuginfo::write(sample(kImage));
    std::string with_element = v1;
    with_element.insert(with_element.size() - 4, "element 0x0014 access t\n");
    EXPECT_FALSE(debuginfo::read(with_element).info);
    EXPECT_TRUE(debuginfo::read(v1).info->source_matches("anything"));
}

// Version 3: each function's header line and the RETs of its epilogues,
// which the frame walker goes by instead of the instruction words.
TEST(DebugFormat, Version3RecordsHeadersAndReturns) {
    DebugInfo d = sample(kImage);
    d.version = 3;
    d.functions[1].header = 7;
    d.functions[1].returns = {0x0027, 0x002f};
    const std::string good = debuginfo::write(d);
    EXPECT_NE(good.find("\nfunction f 0x0020 0x0030 int 8 0x0022 7\n"), std::string::npos);
    EXPECT_NE(good.find("\nlocal buf bool var 2 0\nreturn 0x0027\nreturn 0x002f\nglobal"), std::string::npos);
    const auto r = debuginfo::read(good);
    ASSERT_TRUE(r.info) << r.error;
    EXPECT_EQ(debuginfo::write(*r.info), good);
    auto replace = [&good](const std::string& from, const std::string& to) {
        std::string s = good;
        return s.replace(s.find(from), from.size(), to);
    };
    const std::map<std::string, std::string> cases = {
        {replace("0x0022 7\n", "0x0022 9\n"), "13: header line 9 out of range"},
        {replace("0x0022 7\n", "0x0022\n"), "13: \"function\" record needs 7"},
        {replace("return 0x002f", "return 0x0030"), "17: return 0x0030 outside"},
        {replace("return 0x002f", "return 0x0027"), "17: return addresses must ascend"},
    };
    for (const auto& [text, message] : cases) {
        const auto bad = debuginfo::read(text);
        EXPECT_FALSE(bad.info) << text;
        EXPECT_EQ(bad.error.substr(0, message.size()), message) << bad.error;
    }

    // The walker takes the recorded RET for one: bp is the caller's there
    // and the return address on top of the stack, whatever the word.
    class AtReturn : public debuginfo::MachineState {
    public:
        Word pc() const override { return 0x0027; }
        Word reg(unsigned r) const override { return r == image::BP ? 0xfffa : r == image::SP ? 0xfff1 : 0; }
        Word memory(Word a) const override { return a == 0xfff2 ? 0x0016 : a == 0xfffc ? 0x000e : 0; }
        std::optional<Word> code(Word a) const override {
            return a == 0x0014 || a == 0x000c ? image::make_word(image::CALL, 0, image::GR3) : 0;
        }
    };
    const auto frames = debuginfo::walk_frames(*r.info, AtReturn());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].function->name, "start");
    EXPECT_EQ(frames[1].bp, 0xfffa);
}

// The fuzzer's seeds stay accepted files of both versions.
TEST(DebugFormat, FuzzSeedsAreReadAndReproduced) {
    int versions[4] = {};
    for (const auto& entry : std::filesystem::directory_iterator(VEXL_FUZZ_SEEDS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto r = debuginfo::read(text);
        ASSERT_TRUE(r.info) << entry.path() << ": " << r.error;
        EXPECT_EQ(debuginfo::write(*r.info), text) << entry.path();
        ++versions[r.info->version];
    }
    EXPECT_GT(versions[1], 0);
    EXPECT_GT(versions[2], 0);
    EXPECT_GT(versions[3], 0);
}

TEST(DebugInfoLookup, LinesFunctionsAndVariables) {
    const DebugInfo d = sample(kImage);
    EXPECT_EQ(d.line_at(0x0003), 0);
    EXPECT_EQ(d.line_at(0x0005), 1);
    EXPECT_EQ(d.line_at(0x000e), 0);  // start-up code
    EXPECT_EQ(d.line_at(0x0017), 6);
    EXPECT_EQ(d.line_at(0xFFFF), 9);
    EXPECT_EQ(d.function_at(0x000f), nullptr);
    EXPECT_EQ(d.function_at(0x001f)->name, "start");
    EXPECT_EQ(d.function_at(0x0020)->name, "f");
    EXPECT_EQ(d.function_at(0x0030), nullptr);
    EXPECT_EQ(d.addresses_of_line(9), (std::vector<Word>{0x0020, 0x0028}));
    EXPECT_TRUE(d.addresses_of_line(7).empty());

    EXPECT_EQ(d.find_variable("n", 0x0025)->storage, Storage::Parameter);
    EXPECT_EQ(d.find_variable("n", 0x0015), nullptr);  // not visible in start
    const Variable* t = d.find_variable("t", 0x0025);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->address(0x1234, 2), Word{0xFFFC});
    const Variable* buf = d.find_variable("buf", 0x0025);
    EXPECT_EQ(buf->address(0x8000, 1), Word{0x7FFF});
    EXPECT_EQ(buf->address(0x0000, 1), std::nullopt);
    EXPECT_EQ(d.global_words(), 4u);
    EXPECT_EQ(debuginfo::debug_file_name("a/prog.exec"), "a/prog.dbg");
    EXPECT_EQ(debuginfo::debug_file_name("prog.exec.bak"), "prog.dbg.bak");
    EXPECT_EQ(debuginfo::debug_file_name("prog"), "prog.dbg");
}

// A machine state made of maps: unset words read as 0.
class FakeState : public debuginfo::MachineState {
public:
    Word pc_ = 0;
    std::array<Word, 7> regs{};
    std::map<Word, Word> mem, code_words;
    Word pc() const override { return pc_; }
    Word reg(unsigned r) const override { return regs.at(r); }
    Word memory(Word a) const override {
        auto it = mem.find(a);
        return it == mem.end() ? 0 : it->second;
    }
    std::optional<Word> code(Word a) const override {
        if (a >= kImage.size()) return std::nullopt;
        auto it = code_words.find(a);
        return it == code_words.end() ? 0 : it->second;
    }
};

TEST(FrameWalker, FollowsTheBpChainAndStopsAtTheStartUpCode) {
    const DebugInfo d = sample(kImage);
    FakeState s;
    const Word call = image::make_word(image::CALL, 0, image::GR3);
    s.code_words = {{0x000c, call}, {0x0014, call}, {0x0024, call}};
    // start's frame at bp 0xfffa (called from 0x000c), f called from
    // start at 0x0014 (bp 0xfff5), f calling itself at 0x0024 (bp 0xfff0).
    s.mem = {{0xfffc, 0x000e}, {0xfffb, 0x0000}, {0xfff7, 0x0016}, {0xfff6, 0xfffa},
             {0xfff2, 0x0026}, {0xfff1, 0xfff5}};
    s.pc_ = 0x0029;
    s.regs[image::BP] = 0xfff0;
    s.regs[image::SP] = 0xffee;
    auto frames = debuginfo::walk_frames(d, s);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(debuginfo::describe_frame(d, frames[0]), "dir with blank/prog.vxl:9: in f");
    EXPECT_EQ(debuginfo::describe_frame(d, frames[1]), "dir with blank/prog.vxl:10: in f");
    EXPECT_EQ(frames[1].bp, 0xfff5);
    EXPECT_EQ(debuginfo::describe_frame(d, frames[2]), "dir with blank/prog.vxl:5: in start");
    EXPECT_EQ(debuginfo::walk_frames(d, s, 2).size(), 2u);

    // In f's prologue the frame is not built yet, known from the body
    // address alone (the words there are never looked at). At the first
    // word the return address is on top of the stack and bp is still the
    // caller's; after the second the caller's bp is on top.
    s.pc_ = 0x0020;
    s.regs[image::BP] = 0xfff5;
    s.regs[image::SP] = 0xfff1;
    frames = debuginfo::walk_frames(d, s);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bp, 0xfff0);
    EXPECT_EQ(frames[1].line, 10);
    s.pc_ = 0x0021;
    s.regs[image::SP] = 0xfff0;
    frames = debuginfo::walk_frames(d, s);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bp, 0xfff0);
    EXPECT_EQ(frames[1].bp, 0xfff5);
    s.regs[image::SP] = 0xffee;

    // A frame chain that points back at itself ends instead of looping.
    s.pc_ = 0x0029;
    s.regs[image::BP] = 0xfff0;
    s.mem[0xfff1] = 0xfff0;
    EXPECT_EQ(debuginfo::walk_frames(d, s).size(), 1u);

    // Outside every function: one frame, described by its address.
    s.pc_ = 0x0003;
    frames = debuginfo::walk_frames(d, s);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(debuginfo::describe_frame(d, frames[0]), "dir with blank/prog.vxl: in ?? at 0x0003");
}

// The report and the debugger name a frame alike: a function, a global's
// initialiser (outside every function, with a line), or unknown code.
TEST(FrameWalker, OneNamingOfFramesForReportAndDebugger) {
    const DebugInfo d = sample(kImage);
    const debuginfo::Frame in_f{0x0029, 9, &d.functions[1], 0xfff0};
    const debuginfo::Frame init{0x0006, 1, nullptr, 0};
    const debuginfo::Frame nowhere{0x0003, 0, nullptr, 0};
    EXPECT_EQ(debuginfo::describe_frame(d, init), "dir with blank/prog.vxl:1: in <global initialisation>");
    EXPECT_EQ(debuginfo::frame_text(d.source, init, {}, true), "0x0006 in <global initialisation> at dir with blank/prog.vxl:1");
    EXPECT_EQ(debuginfo::frame_text(d.source, nowhere, {}, true), "0x0003 in ?? ()");
    EXPECT_EQ(debuginfo::frame_text(d.source, in_f, {{"n", "3"}}, false), "f (n=3) at dir with blank/prog.vxl:9");
    EXPECT_EQ(debuginfo::frame_text(d.source, in_f, {{"n", "3"}}, true), "0x0029 in f (n=3) at dir with blank/prog.vxl:9");
}

// A version 1 file records no body: the reader takes the end of the
// calling convention's two prologue words.
TEST(DebugFormat, VersionOneBodyFollowsTheCallingConvention) {
    const auto r = debuginfo::read(debuginfo::write(sample(kImage)));
    ASSERT_TRUE(r.info) << r.error;
    EXPECT_EQ(r.info->functions[0].body, 0x0012);
    EXPECT_EQ(r.info->functions[1].body, 0x0022);
}

}  // namespace
