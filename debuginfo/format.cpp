// The ".dbg" text format: writer and strict reader (docs/debug-format.md).
//
// One record per line, fields separated by single blanks:
//   vexl-debug VERSION
//   source NAME                       (the rest of the line)
//   source-hash BYTES CHECKSUM        (version 2)
//   image WORDS CHECKSUM
//   line ADDRESS LINE                 (any number, ascending addresses)
//   function NAME ENTRY END RESULT LINE BODY   (BODY from version 2)
//     param NAME TYPE QUAL OFFSET     (belong to the function above)
//     local NAME TYPE QUAL SIZE OFFSET
//   global NAME TYPE QUAL SIZE ADDRESS
//   element ADDRESS KIND NAME         (version 2; ascending addresses)
//   end
// The reader checks every field and the order of the records; the first
// fault rejects the file.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "debuginfo.h"

namespace debuginfo {

namespace {

constexpr const char* kMagic = "vexl-debug";
// Larger files are not read at all: an image of 65,536 words cannot need
// more than a few megabytes of debug text.
constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;

std::string hex4(Word w) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04x", unsigned(w));
    return buf;
}

void write_variable(std::string& out, const Variable& v) {
    out += storage_name(v.storage);
    out += ' ';
    out += v.name;
    out += ' ';
    out += type_name(v.type);
    out += v.is_const ? " const" : " var";
    if (v.storage != Storage::Parameter) out += ' ' + std::to_string(v.array_size);
    out += ' ';
    out += v.storage == Storage::Global ? hex4(static_cast<Word>(v.location)) : std::to_string(v.location);
    out += '\n';
}

std::string hex16(std::uint64_t v) {
    char sum[24];
    std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(v));
    return sum;
}

const char* kind_name(ElementSite::Kind k) { return k == ElementSite::Kind::check ? "check" : "access"; }

}  // namespace

std::string write(const DebugInfo& info) {
    const bool v2 = info.version >= 2, v3 = info.version >= 3;
    std::string out;
    out += kMagic;
    out += ' ' + std::to_string(info.version) + '\n';
    out += "source " + info.source + '\n';
    if (v2) {
        const SourceStamp stamp = info.source_stamp.value_or(SourceStamp{0, checksum(std::string_view())});
        out += "source-hash " + std::to_string(stamp.bytes) + ' ' + hex16(stamp.checksum) + '\n';
    }
    out += "image " + std::to_string(info.image_words) + ' ' + hex16(info.checksum) + '\n';
    for (const LineEntry& e : info.lines) out += "line " + hex4(e.address) + ' ' + std::to_string(e.line) + '\n';
    for (const Function& f : info.functions) {
        out += "function " + f.name + ' ' + hex4(f.entry) + ' ' + hex4(f.end) + ' ' + type_name(f.result) + ' ' +
               std::to_string(f.line) + (v2 ? ' ' + hex4(f.body) : std::string()) +
               (v3 ? ' ' + std::to_string(f.header) : std::string()) + '\n';
        for (const Variable& v : f.parameters) write_variable(out, v);
        for (const Variable& v : f.locals) write_variable(out, v);
        if (v3)
            for (Word r : f.returns) out += "return " + hex4(r) + '\n';
    }
    for (const Variable& v : info.globals) write_variable(out, v);
    if (v2)
        for (const ElementSite& e : info.elements)
            out += "element " + hex4(e.address) + ' ' + kind_name(e.kind) + ' ' + e.array + '\n';
    out += "end\n";
    return out;
}

namespace {

// Reads the records of one file; every check failure throws Reject with
// the message for ReadResult::error.
struct Reject {
    std::string message;
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    DebugInfo run() {
        if (text_.size() > kMaxFileBytes) throw Reject{"file too large"};
        header();
        source();
        if (info_.version >= 2) source_hash();
        image();
        while (peek_kind() == "line") line_record();
        while (peek_kind() == "function") function_record();
        while (peek_kind() == "global") info_.globals.push_back(variable(Storage::Global, global_names_));
        if (info_.version >= 2)
            while (peek_kind() == "element") element_record();
        if (!next_line()) throw Reject{"truncated: no \"end\" record"};
        split();
        if (fields_.size() != 1 || fields_[0] != "end") fail("unexpected record \"" + std::string(kind()) + "\"");
        if (pos_ != text_.size()) fail("text after the \"end\" record");
        return std::move(info_);
    }

private:
    // ---- Lines and fields ----
    bool next_line() {
        if (pos_ >= text_.size()) return false;
        const auto nl = text_.find('\n', pos_);
        if (nl == std::string_view::npos) {
            ++line_no_;
            throw Reject{std::to_string(line_no_) + ": line does not end with a newline"};
        }
        line_ = text_.substr(pos_, nl - pos_);
        pos_ = nl + 1;
        ++line_no_;
        return true;
    }
    // The record kind of the next line without consuming it ("" at the end).
    std::string_view peek_kind() const {
        if (pos_ >= text_.size()) return {};
        std::string_view rest = text_.substr(pos_);
        return rest.substr(0, rest.find_first_of(" \n"));
    }
    std::string_view kind() const { return fields_.empty() ? std::string_view{} : fields_[0]; }

    // Splits line_ at single blanks; empty fields (double blanks, leading or
    // trailing blanks) and control characters are faults.
    void split() {
        fields_.clear();
        for (unsigned char c : line_)
            if (c < 0x20 || c == 0x7F) fail("control character in the record");
        std::size_t start = 0;
        while (true) {
            const auto sp = line_.find(' ', start);
            std::string_view f = line_.substr(start, sp == std::string_view::npos ? sp : sp - start);
            if (f.empty()) fail("empty field (stray blank)");
            fields_.push_back(f);
            if (sp == std::string_view::npos) break;
            start = sp + 1;
        }
    }
    void expect(std::string_view kind_name, std::size_t count) {
        if (!next_line()) throw Reject{"truncated: expected a \"" + std::string(kind_name) + "\" record"};
        split();
        if (kind() != kind_name) fail("expected a \"" + std::string(kind_name) + "\" record");
        if (fields_.size() != count)
            fail("\"" + std::string(kind_name) + "\" record needs " + std::to_string(count - 1) + " fields");
    }

    [[noreturn]] void fail(const std::string& message) const {
        throw Reject{std::to_string(line_no_) + ": " + message};
    }

    // ---- Field values ----
    long number(std::string_view f, long lo, long hi, const char* what) const {
        long v = 0;
        const char* b = f.data();
        const char* e = b + f.size();
        // Canonical decimal only: no plus sign, no leading zeros.
        const bool lead_zero = (f.size() > 1 && f[0] == '0') || (f.size() > 2 && f[0] == '-' && f[1] == '0');
        const auto r = std::from_chars(b, e, v);
        if (r.ec != std::errc() || r.ptr != e || lead_zero || f == "-0")
            fail(std::string("bad ") + what + " \"" + std::string(f) + "\"");
        if (v < lo || v > hi) fail(std::string(what) + " " + std::string(f) + " out of range");
        return v;
    }
    Word address(std::string_view f, const char* what) const {
        unsigned v = 0;
        if (f.size() != 6 || f[0] != '0' || f[1] != 'x') fail(std::string("bad ") + what + " \"" + std::string(f) + "\"");
        for (char c : f.substr(2)) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else fail(std::string("bad ") + what + " \"" + std::string(f) + "\"");
            v = v * 16 + unsigned(d);
        }
        return static_cast<Word>(v);
    }
    Type type(std::string_view f, bool allow_void) const {
        if (f == "int") return Type::Int;
        if (f == "bool") return Type::Bool;
        if (f == "void" && allow_void) return Type::Void;
        fail("bad type \"" + std::string(f) + "\"");
    }
    std::string name(std::string_view f, std::set<std::string>& seen, const char* what) const {
        std::string n(f);
        if (!seen.insert(n).second) fail(std::string(what) + " \"" + n + "\" appears twice");
        return n;
    }

    // ---- Records ----
    void header() {
        if (!next_line()) throw Reject{"empty file"};
        split();
        if (kind() != kMagic || fields_.size() != 2) fail("not a debug information file");
        const long version = number(fields_[1], 0, 1 << 30, "version");
        if (version < kOldestFormatVersion || version > kFormatVersion)
            fail("format version " + std::to_string(version) + " (this program reads versions " +
                 std::to_string(kOldestFormatVersion) + " to " + std::to_string(kFormatVersion) + ")");
        info_.version = int(version);
    }
    std::uint64_t hex_checksum(std::string_view sum) const {
        if (sum.size() != 16) fail("bad checksum \"" + std::string(sum) + "\"");
        std::uint64_t v = 0;
        for (char c : sum) {
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else fail("bad checksum \"" + std::string(sum) + "\"");
            v = v * 16 + unsigned(d);
        }
        return v;
    }
    void source_hash() {
        expect("source-hash", 3);
        SourceStamp stamp;
        stamp.bytes = std::uint64_t(number(fields_[1], 0, 0x7FFFFFFF, "source length"));
        stamp.checksum = hex_checksum(fields_[2]);
        info_.source_stamp = stamp;
    }
    void element_record() {
        expect("element", 4);
        ElementSite e;
        e.address = address(fields_[1], "address");
        in_image(e.address, "address");
        if (fields_[2] == "access") e.kind = ElementSite::Kind::access;
        else if (fields_[2] == "check") e.kind = ElementSite::Kind::check;
        else fail("bad element kind \"" + std::string(fields_[2]) + "\"");
        e.array = std::string(fields_[3]);
        if (!info_.elements.empty() && e.address <= info_.elements.back().address)
            fail("element addresses must ascend");
        if (!info_.array_of(e)) fail("no array \"" + e.array + "\" is seen at " + hex4(e.address));
        info_.elements.push_back(std::move(e));
    }
    void source() {
        if (!next_line()) throw Reject{"truncated: expected a \"source\" record"};
        if (line_.substr(0, 7) != "source " || line_.size() == 7) fail("expected a \"source\" record");
        for (unsigned char c : line_)
            if (c < 0x20 || c == 0x7F) fail("control character in the source name");
        info_.source = std::string(line_.substr(7));
    }
    void image() {
        expect("image", 3);
        info_.image_words = static_cast<std::uint32_t>(number(fields_[1], 0, 65536, "word count"));
        info_.checksum = hex_checksum(fields_[2]);
    }
    void in_image(Word a, const char* what) const {
        if (a >= info_.image_words) fail(std::string(what) + " " + hex4(a) + " beyond the image");
    }
    void line_record() {
        expect("line", 3);
        LineEntry e;
        e.address = address(fields_[1], "address");
        e.line = static_cast<int>(number(fields_[2], 0, 0x7FFFFFFF, "line number"));
        in_image(e.address, "address");
        if (!info_.lines.empty() && e.address <= info_.lines.back().address)
            fail("line addresses must ascend");
        info_.lines.push_back(e);
    }
    void function_record() {
        expect("function", info_.version >= 3 ? 8 : info_.version >= 2 ? 7 : 6);
        Function f;
        f.name = name(fields_[1], function_names_, "function");
        f.entry = address(fields_[2], "entry");
        f.end = address(fields_[3], "end");
        f.result = type(fields_[4], true);
        f.line = static_cast<int>(number(fields_[5], 1, 0x7FFFFFFF, "line number"));
        in_image(f.entry, "entry");
        // end may equal the word count only when that fits in an address.
        if (f.end <= f.entry || f.end > info_.image_words) fail("bad end " + hex4(f.end));
        // Version 1 does not record the body: the end of the calling
        // convention's prologue stands for it (within the function).
        f.body = static_cast<Word>(std::min<unsigned>(f.entry + kPrologueWords, f.end - 1u));
        if (info_.version >= 2) {
            f.body = address(fields_[6], "body");
            if (f.body < f.entry || f.body >= f.end) fail("body " + hex4(f.body) + " outside the function");
        }
        if (info_.version >= 3) {
            f.header = static_cast<int>(number(fields_[7], 1, f.line, "header line"));
        } else {
            // Earlier versions do not record the header: the function's
            // first line of code stands for it (the line records come first).
            f.header = f.line;
            for (const LineEntry& e : info_.lines)
                if (e.address >= f.entry && e.address < f.end && e.line > 0) {
                    f.header = std::min(e.line, f.line);
                    break;
                }
        }
        if (!info_.functions.empty() && f.entry < info_.functions.back().end)
            fail("function \"" + f.name + "\" overlaps the one before");
        std::set<std::string> names;
        while (peek_kind() == "param") f.parameters.push_back(variable(Storage::Parameter, names));
        while (peek_kind() == "local") f.locals.push_back(variable(Storage::Local, names));
        while (info_.version >= 3 && peek_kind() == "return") {
            expect("return", 2);
            const Word r = address(fields_[1], "address");
            if (!f.contains(r)) fail("return " + hex4(r) + " outside the function");
            if (!f.returns.empty() && r <= f.returns.back()) fail("return addresses must ascend");
            f.returns.push_back(r);
        }
        info_.functions.push_back(std::move(f));
    }
    Variable variable(Storage storage, std::set<std::string>& names) {
        const char* kind_name = storage_name(storage);
        expect(kind_name, storage == Storage::Parameter ? 5 : 6);
        Variable v;
        v.storage = storage;
        v.name = name(fields_[1], names, "variable");
        v.type = type(fields_[2], false);
        if (fields_[3] == "const") v.is_const = true;
        else if (fields_[3] != "var") fail("bad qualifier \"" + std::string(fields_[3]) + "\"");
        std::string_view loc = fields_.back();
        if (storage != Storage::Parameter)
            v.array_size = static_cast<std::uint16_t>(number(fields_[4], 0, 65535, "array size"));
        if (storage == Storage::Global) v.location = address(loc, "address");
        else v.location = static_cast<int>(number(loc, -32768, 32767, "offset"));
        return v;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_no_ = 0;
    std::string_view line_;
    std::vector<std::string_view> fields_;
    DebugInfo info_;
    std::set<std::string> function_names_;
    std::set<std::string> global_names_;
};

}  // namespace

ReadResult read(std::string_view text) {
    ReadResult result;
    try {
        result.info = Reader(text).run();
    } catch (const Reject& r) {
        result.error = r.message;
    }
    return result;
}

LoadResult load_for_image(const std::string& image_name, const std::vector<Word>& words) {
    const std::string file = debug_file_name(image_name);
    std::ifstream in(file, std::ios::binary);
    return load_for_image(in, file, words);
}

LoadResult load_for_image(std::istream& in, const std::string& file, const std::vector<Word>& words) {
    LoadResult result;
    result.file = file;
    if (!in) return result;  // missing
    std::string text;
    std::vector<char> buf(std::size_t{1} << 16);  // not on the stack: vexl may run with very little
    while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0) {
        text.append(buf.data(), static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) break;
    }
    if (in.bad()) {
        result.status = LoadResult::Status::damaged;
        result.message = "cannot be read";
        return result;
    }
    ReadResult r = read(text);
    if (!r.info) {
        result.status = LoadResult::Status::damaged;
        result.message = r.error;
        return result;
    }
    if (!r.info->matches(words)) {
        result.status = LoadResult::Status::stale;
        result.message = "describes another image (compiled before the image was rebuilt?)";
        return result;
    }
    result.status = LoadResult::Status::ok;
    result.info = std::move(r.info);
    return result;
}

std::string load_note(const LoadResult& result) {
    switch (result.status) {
    case LoadResult::Status::ok:
    case LoadResult::Status::missing: return {};
    case LoadResult::Status::damaged: {
        // Reader messages that name a line read "LINE: ...".
        const bool has_line = !result.message.empty() && result.message[0] >= '0' && result.message[0] <= '9';
        return result.file + (has_line ? ":" : ": ") + result.message + " (debug information ignored)";
    }
    case LoadResult::Status::stale: return result.file + ": " + result.message + "; debug information ignored";
    }
    return {};
}

}  // namespace debuginfo
