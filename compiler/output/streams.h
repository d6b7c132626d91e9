// The two in-memory outputs of a compilation: the image words and the C
// text. Both are written to their files only at the end, and only when no
// error was listed; holding the whole image lets the code generators
// back-patch forward jumps and calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image.h"

class WordStream {
public:
    using Word = image::Word;

    // Appends the low 16 bits of `word`; throws fatal_error::OverSomeErrors
    // (65535) instead of growing the image beyond 65,536 words.
    WordStream& emit(unsigned word);
    // Instruction word built from its fields, e.g. emit(JUMP, 0, GR3).
    WordStream& emit(image::Opcode op, unsigned r = 0, unsigned x = 0) {
        return emit(image::make_word(op, r, x));
    }
    // Address of the next word emitted.
    Word position() const { return static_cast<Word>(words_.size()); }
    // Overwrites an emitted word; throws std::out_of_range past the end.
    void patch(Word index, unsigned value);
    // Writes the file when enabled and no error was counted; true if written.
    bool write_file() const;

    const std::vector<Word>& words() const { return words_; }
    void clear();

    std::string file_name;
    bool enabled = true;  // while false, emit and patch have no effect
    // Whether a full image ends the compilation (throws); when not, further
    // words are dropped and `overflowed` is set, so that a tool can check
    // the rest of the program.
    bool stop_when_full = true;
    bool overflowed = false;

private:
    std::vector<Word> words_;
};

class CTextStream {
public:
    CTextStream& append(const std::string& text);
    CTextStream& append_int(long n);
    std::size_t length() const { return text_.size(); }
    std::optional<char> last_char() const;
    // Inserts even while disabled (only the output statement uses it).
    void insert(std::size_t position, const std::string& text);
    // Starts a line: one tab per depth level when the text ends with a
    // newline, only while enabled.
    void indent();
    bool write_file() const;

    const std::string& text() const { return text_; }
    void clear();

    std::string file_name;
    int depth = 0;
    bool enabled = true;  // while false, append and append_int do nothing

private:
    std::string text_;
};

// Write a whole output file, truncating it; throw
// fatal_error::CantOpenOutFile when it cannot be opened. write_c_file
// writes any text file.
void write_image_file(const std::string& name, const std::vector<image::Word>& words);
void write_c_file(const std::string& name, const std::string& text);

extern WordStream word_stream;
extern CTextStream c_text;
