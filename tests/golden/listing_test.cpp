// The image listing: every defined opcode once, register and operand forms,
// inline texts, and the words that do not decode.
#include <gtest/gtest.h>

#include <set>

#include "listing.h"

namespace image {
namespace {

struct Row {
    std::vector<Word> words;
    const char* text;  // the listing of the words, all at address 0
};

// One instance of every defined opcode, with varied registers and operands.
const Row kEveryOpcode[] = {
    {{0x0000}, "0000: 0000       NOP\n"},
    {{0x1012, 0x0003}, "0000: 1012 0003  LD GR1,3,GR2\n"},
    {{0x1105, 0xFFFE}, "0000: 1105 FFFE  ST GR0,-2,bp\n"},
    {{0x1214, 0xFFFF}, "0000: 1214 FFFF  LAD GR1,-1,GR4\n"},
    {{0x1340, 0xFFFF}, "0000: 1340 FFFF  LDI GR4,65535\n"},
    {{0x1410}, "0000: 1410       LD GR1,GR0\n"},
    {{0x2010, 0x0005}, "0000: 2010 0005  ADD GR1,0x0005\n"},
    {{0x2161}, "0000: 2161       ADD sp,GR1\n"},
    {{0x2220, 0x8000}, "0000: 2220 8000  SUB GR2,0x8000\n"},
    {{0x2312}, "0000: 2312       SUB GR1,GR2\n"},
    {{0x2436, 0x7FFF}, "0000: 2436 7FFF  MUL GR3,32767,sp\n"},
    {{0x2534}, "0000: 2534       MUL GR3,GR4\n"},
    {{0x2605, 0x8000}, "0000: 2605 8000  DIV GR0,-32768,bp\n"},
    {{0x2701}, "0000: 2701       DIV GR0,GR1\n"},
    {{0x2800, 0x0000}, "0000: 2800 0000  MOD GR0,0x0000\n"},
    {{0x2910}, "0000: 2910       MOD GR1,GR0\n"},
    {{0x3000, 0x00FF}, "0000: 3000 00FF  AND GR0,0x00FF\n"},
    {{0x3123}, "0000: 3123       AND GR2,GR3\n"},
    {{0x3200, 0x1234}, "0000: 3200 1234  OR GR0,0x1234\n"},
    {{0x3345}, "0000: 3345       OR GR4,bp\n"},
    {{0x3400, 0xABCD}, "0000: 3400 ABCD  XOR GR0,0xABCD\n"},
    {{0x3556}, "0000: 3556       XOR bp,sp\n"},
    {{0x4015, 0x0001}, "0000: 4015 0001  CMP GR1,1,bp\n"},
    {{0x4412}, "0000: 4412       CMP GR1,GR2\n"},
    {{0x6100, 0x0010}, "0000: 6100 0010  JMI 0x0010\n"},
    {{0x6203, 0x0020}, "0000: 6203 0020  JNZ 0x0020,GR3\n"},
    {{0x6300, 0x0000}, "0000: 6300 0000  JZE 0x0000\n"},
    {{0x6403, 0x000D}, "0000: 6403 000D  JUMP 0x000D,GR3\n"},
    {{0x6505, 0xFFFF}, "0000: 6505 FFFF  JPL 0xFFFF,bp\n"},
    {{0x7000, 0x0005}, "0000: 7000 0005  PUSH 0x0005\n"},
    {{0x7100}, "0000: 7100       POP GR0\n"},
    {{0x7250}, "0000: 7250       PUSH bp\n"},
    {{0x8003, 0x0040}, "0000: 8003 0040  CALL 0x0040,GR3\n"},
    {{0x8100}, "0000: 8100       RET\n"},
    {{0xF001, 0x0000}, "0000: F001 0000  OUTI 0,GR1\n"},
    {{0xF100}, "0000: F100       OUTI GR0\n"},
    {{0xF204, 0xFFFF}, "0000: F204 FFFF  OUTB -1,GR4\n"},
    {{0xF320}, "0000: F320       OUTB GR2\n"},
    {{0xF400, 0x0041, 0x0000}, "0000: F400       OUTS \"A\"\n"},
    {{0xF500, 0x0100}, "0000: F500 0100  INI 0x0100\n"},
    {{0xF630}, "0000: F630       INI GR3\n"},
};

TEST(Listing, EveryDefinedOpcode) {
    std::set<unsigned> listed;
    for (const Row& row : kEveryOpcode) {
        EXPECT_EQ(list_image(row.words), row.text);
        listed.insert(opcode_of(row.words[0]));
    }
    // A new row in the opcode table needs a row here too.
    for (unsigned op = 0; op < 256; ++op) {
        if (op_info(op).defined()) {
            EXPECT_TRUE(listed.count(op)) << "opcode " << op << " not tested";
        }
    }
}

TEST(Listing, FieldsTheOpcodeIgnoresAndMissingRegisters) {
    const Row rows[] = {
        {{0x70F0, 0x0005}, "0000: 70F0 0005  PUSH 0x0005\n"},  // r of an A form
        {{0x131F, 0x0002}, "0000: 131F 0002  LDI GR1,2\n"},    // x of LDI
        {{0x81FF}, "0000: 81FF       RET\n"},
        {{0x1470}, "0000: 1470       LD R7,GR0\n"},
        {{0x14F9}, "0000: 14F9       LD R15,R9\n"},
        {{0x107F, 0x0001}, "0000: 107F 0001  LD R7,1,R15\n"},
        {{0x6408, 0x0000}, "0000: 6408 0000  JUMP 0x0000,R8\n"},
        {{0x71A0}, "0000: 71A0       POP R10\n"},
    };
    for (const Row& row : rows) EXPECT_EQ(list_image(row.words), row.text);
}

TEST(Listing, InlineTexts) {
    // Printable characters as themselves, a backslash as one backslash, the
    // quote and everything else as the whole word in braces.
    EXPECT_EQ(list_image({0xF400, 'A', '\\', 'n', '"', ' ', '~', 0x7F, 0x1F, 0xFF82, '\\', 0x0000}),
              "0000: F400       OUTS \"A\\n{0022} ~{007F}{001F}{FF82}\\\"\n");
    // The next instruction follows the terminator.
    EXPECT_EQ(list_image({0xF400, 0x0000, 0xF400, 'B', 0x0000, 0x8100}),
              "0000: F400       OUTS \"\"\n"
              "0002: F400       OUTS \"B\"\n"
              "0005: 8100       RET\n");
    EXPECT_EQ(list_image({0x7250, 0xF400, 'A', 'B'}),
              "0000: 7250       PUSH bp\n"
              "0001: F400       OUTS \"AB... (no terminator)\n");
    EXPECT_EQ(list_image({0xF400}), "0000: F400       OUTS \"... (no terminator)\n");
}

// One instruction listed alone is its line of the whole listing.
TEST(Listing, OneInstruction) {
    const std::vector<Word> code{0x7250, 0xF400, 'B', 0x0000, 0x8003, 0x0000, 0x1310};
    EXPECT_EQ(list_instruction(code, 1), "0001: F400       OUTS \"B\"");
    EXPECT_EQ(list_instruction(code, 4), "0004: 8003 0000  CALL 0x0000,GR3");
    EXPECT_EQ(list_instruction(code, 6), "0006: 1310       DW 0x1310");
    EXPECT_EQ(list_instruction(code, 7), "");
    EXPECT_EQ(list_instruction(code, 4).substr(kListingTextColumn), "CALL 0x0000,GR3");
}

TEST(Listing, WordsThatDoNotDecode) {
    EXPECT_EQ(list_image({}), "");
    for (unsigned op = 0; op < 256; ++op) {
        if (op_info(op).defined()) continue;
        const Word w = static_cast<Word>(op << 8 | 0x12);
        char line[64];
        std::snprintf(line, sizeof line, "0000: %04X       DW 0x%04X\n0001: 0000       NOP\n", w, w);
        EXPECT_EQ(list_image({w, 0x0000}), line);
    }
    // An operand word beyond the end leaves the instruction word as data.
    EXPECT_EQ(list_image({0x7250, 0x8003}),
              "0000: 7250       PUSH bp\n"
              "0001: 8003       DW 0x8003\n");
    EXPECT_EQ(list_image({0x1310}), "0000: 1310       DW 0x1310\n");
}

TEST(Listing, AddressesBeyondFourDigits) {
    const std::string text = list_image(std::vector<Word>(0x10001, 0x0000));
    EXPECT_TRUE(text.ends_with("\nFFFF: 0000       NOP\n10000: 0000       NOP\n"));
}

}  // namespace
}  // namespace image
