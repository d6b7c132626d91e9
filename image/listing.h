// The image listing: one text line per instruction of an image, decoded with
// the shared opcode table. Used by vexldump and by the golden tests, whose
// ".lst" files hold this exact text.
#pragma once

#include <string>
#include <vector>

#include "image.h"

namespace image {

// Lists the words from word 0 to the end. Each line is
//   "AAAA: WWWW WWWW  TEXT"
// with the address, the instruction's words (for OUTS only its first word)
// padded to 9 columns, two blanks and the instruction as text. A word that
// does not start a complete instruction is listed as "DW 0x...." on its own.
std::string list_image(const std::vector<Word>& words);

// The line list_image() gives the instruction at `pc` of `code`, without
// its line end: the words of that instruction alone (up to the terminator
// for OUTS), listed at address pc. "" when pc lies beyond the code.
std::string list_instruction(const std::vector<Word>& code, std::size_t pc);
// Where the instruction's text starts in such a line.
constexpr std::size_t kListingTextColumn = 17;

}  // namespace image
