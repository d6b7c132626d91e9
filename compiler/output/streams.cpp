// Word and C text collectors and the writing of the two output files.
#include "streams.h"

#include <fstream>
#include <stdexcept>

#include "diagnostics.h"

WordStream word_stream;
CTextStream c_text;

WordStream& WordStream::emit(unsigned word) {
    if (!enabled) return *this;
    if (words_.size() >= image::kMaxWords) {
        if (stop_when_full) throw fatal_error::OverSomeErrors(65535);
        overflowed = true;
        return *this;
    }
    words_.push_back(static_cast<Word>(word & 0xFFFF));
    return *this;
}

void WordStream::patch(Word index, unsigned value) {
    if (!enabled) return;  // a patch made while the stream is off is dropped
    if (index >= words_.size()) throw std::out_of_range("invalid vector<T> subscript");
    words_[index] = static_cast<Word>(value & 0xFFFF);
}

bool WordStream::write_file() const {
    if (!enabled || diagnostics.error_count != 0) return false;
    write_image_file(file_name, words_);
    return true;
}

void WordStream::clear() {
    words_.clear();
    file_name.clear();
    enabled = true;
    stop_when_full = true;
    overflowed = false;
}

CTextStream& CTextStream::append(const std::string& text) {
    if (enabled) text_ += text;
    return *this;
}

CTextStream& CTextStream::append_int(long n) {
    if (enabled) text_ += std::to_string(n);
    return *this;
}

std::optional<char> CTextStream::last_char() const {
    if (text_.empty()) return std::nullopt;
    return text_.back();
}

void CTextStream::insert(std::size_t position, const std::string& text) {
    text_.insert(position, text);
}

void CTextStream::indent() {
    if (enabled && last_char() == '\n') text_.append(static_cast<std::size_t>(depth > 0 ? depth : 0), '\t');
}

bool CTextStream::write_file() const {
    if (!enabled || diagnostics.error_count != 0) return false;
    write_c_file(file_name, text_);
    return true;
}

void CTextStream::clear() {
    text_.clear();
    file_name.clear();
    depth = 0;
    enabled = true;
}

void write_image_file(const std::string& name, const std::vector<image::Word>& words) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    if (!out) throw fatal_error::CantOpenOutFile(name);
    image::write_words(out, words);
}

void write_c_file(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::trunc);
    if (!out) throw fatal_error::CantOpenOutFile(name);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}
