// The two output streams: emitting, back-patching and the image limit of
// the word stream; appending, inserting and indenting in the C text; the
// switches; and the writing of both files, which only happens without
// errors.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "catalog.h"
#include "diagnostics.h"
#include "streams.h"
#include "support.h"

using vexltest::read_file;
using vexltest::TempDir;
using vexltest::write_file;

namespace {

class StreamsTest : public testing::Test {
protected:
    void SetUp() override { diagnostics.clear(); }
    void TearDown() override { diagnostics.clear(); }
    WordStream words;
    CTextStream text;
    TempDir dir;
};

}  // namespace

TEST_F(StreamsTest, EmitKeepsTheLow16Bits) {
    words.emit(0x7100).emit(0x12345).emit(0xFFFFFFFFu);
    EXPECT_EQ(words.position(), 3);
    EXPECT_EQ(words.words(), (std::vector<image::Word>{0x7100, 0x2345, 0xFFFF}));
    words.emit(image::POP, image::GR0);
    words.emit(image::JUMP, 0, image::GR3);
    EXPECT_EQ(words.words().at(3), 0x7100);
    EXPECT_EQ(words.words().at(4), 0x6403);
}

TEST_F(StreamsTest, ImageHoldsAtMost65536Words) {
    for (int i = 0; i < 65536; ++i) words.emit(static_cast<unsigned>(i));
    EXPECT_EQ(words.words().size(), 65536u);
    EXPECT_EQ(words.position(), 0);  // the count as a 16-bit value
    try {
        words.emit(1);
        FAIL() << "no fatal error";
    } catch (const fatal_error::OverSomeErrors& e) {
        EXPECT_EQ(e.limit, 65535);
        EXPECT_EQ(e.message(), "エラーの数が65535を超えました\nコンパイルを中断します\n"_sj);
    }
    EXPECT_EQ(words.words().size(), 65536u);
    // switched off, nothing is appended and nothing is thrown
    words.enabled = false;
    EXPECT_NO_THROW(words.emit(1));
}

TEST_F(StreamsTest, PatchOverwritesEmittedWordsOnly) {
    const image::Word slot = words.position();
    words.emit(image::JUMP, 0, image::GR3).emit(0x0000);
    words.emit(0);
    words.patch(slot + 1, words.position());
    words.patch(0, 0x1FFFF);
    EXPECT_EQ(words.words(), (std::vector<image::Word>{0xFFFF, 3, 0}));
    try {
        words.patch(3, 1);
        FAIL() << "no range error";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "invalid vector<T> subscript");
    }
    EXPECT_THROW(words.patch(0xFFFF, 1), std::out_of_range);
    EXPECT_EQ(words.words(), (std::vector<image::Word>{0xFFFF, 3, 0}));
}

// A subtree translated with the word stream off leaves the image as it was.
TEST_F(StreamsTest, SwitchedOffWordStreamChangesNothing) {
    words.emit(5);
    words.enabled = false;
    words.emit(6);
    EXPECT_EQ(words.position(), 1);
    EXPECT_NO_THROW(words.patch(0, 7));
    EXPECT_NO_THROW(words.patch(1000, 7));
    EXPECT_EQ(words.words(), (std::vector<image::Word>{5}));
    words.enabled = true;
    words.emit(6);
    EXPECT_EQ(words.words(), (std::vector<image::Word>{5, 6}));
}

TEST_F(StreamsTest, CText) {
    EXPECT_EQ(text.last_char(), std::nullopt);
    text.append("int x").append(" = ").append_int(-32768).append(";");
    text.append_int(0).append_int(123);
    EXPECT_EQ(text.text(), "int x = -32768;0123");
    EXPECT_EQ(text.length(), text.text().size());
    EXPECT_EQ(text.last_char(), '3');

    text.enabled = false;
    text.append("lost").append_int(9);
    text.insert(0, "/*kept*/");  // the output statement inserts even now
    EXPECT_EQ(text.text(), "/*kept*/int x = -32768;0123");
    text.enabled = true;
    text.insert(text.length(), "!");
    EXPECT_EQ(text.last_char(), '!');
    EXPECT_THROW(text.insert(text.length() + 1, "x"), std::out_of_range);
}

TEST_F(StreamsTest, IndentOnlyAtTheStartOfALine) {
    text.depth = 2;
    text.indent();  // empty text: no line started yet
    EXPECT_EQ(text.text(), "");
    text.append("{\n");
    text.indent();
    text.append("x;");
    text.indent();  // mid-line
    text.append("\n");
    text.enabled = false;
    text.indent();
    text.enabled = true;
    text.depth = -1;
    text.indent();
    EXPECT_EQ(text.text(), "{\n\t\tx;\n");
}

TEST_F(StreamsTest, WriteFilesHighByteFirst) {
    words.file_name = (dir / "p.exec").string();
    text.file_name = (dir / "p.c").string();
    words.emit(0x7100).emit(0x1330).emit(0xFFFF);
    text.append("line 1\nline 2\n\x83\x41");
    diagnostics.warning<error::LargeInteger>(1, "flex", 32767);  // warnings do not stop the output
    EXPECT_TRUE(words.write_file());
    EXPECT_TRUE(text.write_file());
    EXPECT_EQ(read_file(dir / "p.exec"), std::string("\x71\x00\x13\x30\xFF\xFF", 6));
    EXPECT_EQ(read_file(dir / "p.c"), "line 1\nline 2\n\x83\x41");
    // a shorter image replaces a longer file completely
    WordStream shorter;
    shorter.file_name = words.file_name;
    shorter.emit(0x0102);
    EXPECT_TRUE(shorter.write_file());
    EXPECT_EQ(read_file(dir / "p.exec"), "\x01\x02");
    // an empty image is an empty file
    WordStream empty;
    empty.file_name = (dir / "e.exec").string();
    EXPECT_TRUE(empty.write_file());
    EXPECT_TRUE(std::filesystem::exists(dir / "e.exec"));
    EXPECT_EQ(read_file(dir / "e.exec"), "");
}

// After an error no file is written (the driver and golden tests show that
// for the program); a switched-off stream writes none either.
TEST_F(StreamsTest, SwitchedOffStreamsWriteNothing) {
    words.file_name = (dir / "new.exec").string();
    text.file_name = (dir / "new.c").string();
    words.emit(1);
    text.append("x");
    words.enabled = false;
    text.enabled = false;
    EXPECT_FALSE(words.write_file());
    EXPECT_FALSE(text.write_file());
    EXPECT_FALSE(std::filesystem::exists(dir / "new.exec"));
    EXPECT_FALSE(std::filesystem::exists(dir / "new.c"));
}
