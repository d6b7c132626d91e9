// Debug information: what ties the words of an image back to its source.
//
// The compiler fills a DebugInfo while it translates (with -g) and writes it
// as the ".dbg" side file beside the image; the machine, the listing tool,
// the debugger and the playground read it back. The file format is
// described in docs/debug-format.md; write() and read() are its only
// producer and consumer.
//
// The reader trusts nothing: every record is checked (syntax, ranges,
// order, references) and a file that fails any check is rejected as a
// whole with a message naming the line. Nothing here depends on the
// machine: the frame walker sees it through MachineState.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image.h"

namespace debuginfo {

using image::Word;

// Version written by the compiler; the reader accepts this one and every
// earlier one down to kOldestFormatVersion. Version 2 added the source's
// stamp, each function's body address and the element access sites;
// version 3 each function's header line and return instructions.
constexpr int kFormatVersion = 3;
constexpr int kOldestFormatVersion = 1;

// Words of every function's prologue by the calling convention: PUSH bp
// (saves the caller's bp), LD bp,sp (sets the frame base). The words that
// reserve locals may follow before the body.
constexpr unsigned kPrologueWords = 2;

// Value types as the language names them.
enum class Type : std::uint8_t { Void, Int, Bool };
const char* type_name(Type t);  // "void", "int", "bool"

// The code of `line` begins at `address`. Line 0 marks words that belong to
// no source line (the start-up code between the globals and the functions,
// the final word).
struct LineEntry {
    Word address = 0;
    int line = 0;
};

enum class Storage : std::uint8_t { Global, Parameter, Local };
const char* storage_name(Storage s);  // "global", "param", "local"

struct Variable {
    Storage storage = Storage::Global;
    std::string name;
    Type type = Type::Int;
    bool is_const = false;
    // Number of elements of an array, 0 for a scalar.
    std::uint16_t array_size = 0;
    // Global: the data address of the variable (of element 0 for an array).
    // Parameter and local: the offset from bp. Element i of an array lies
    // at location - i.
    int location = 0;

    bool is_array() const { return array_size != 0; }
    // Data address of the scalar or of element `index` of the array, for a
    // frame whose bp is `bp` (ignored for globals); nullopt when the word
    // lies outside data memory. The index is not checked against the size.
    std::optional<Word> address(Word bp, int index = 0) const;
};

struct Function {
    std::string name;
    Word entry = 0;  // first word of the function
    Word end = 0;    // first word after it
    Type result = Type::Void;
    std::vector<Variable> parameters;  // in declaration order
    std::vector<Variable> locals;      // in declaration order
    // Line of the definition (where the compiler reports the function).
    int line = 0;
    // First word after the prologue (PUSH bp, LD bp,sp and the words that
    // reserve the locals declared before any initialiser): where the frame
    // is complete. Version 1 files do not record it: the reader takes the
    // end of the two words of the calling convention (kPrologueWords).
    Word body = 0;
    // Line where the definition begins (its `function` keyword). Files
    // before version 3 do not record it: the reader takes the first line of
    // the function's code (or `line`).
    int header = 0;
    // The RET of each of the function's epilogues (after LD sp,bp; POP bp:
    // bp is the caller's again), ascending. Version 3 on.
    std::vector<Word> returns;

    bool contains(Word pc) const { return pc >= entry && pc < end; }
};

// An instruction that reads or writes an array element through the
// element's address in GR1 (the index in GR2), or the instruction a failed
// subscript check stops at (the index in GR2).
struct ElementSite {
    enum class Kind : std::uint8_t { access, check };
    Word address = 0;
    Kind kind = Kind::access;
    std::string array;  // the array's name, as seen from the site
};

// What identifies the source text a file was compiled from.
struct SourceStamp {
    std::uint64_t bytes = 0;     // its length
    std::uint64_t checksum = 0;  // checksum() of its bytes
};

struct DebugInfo {
    int version = kFormatVersion;  // of the file it was read from, and to be written
    std::string source;            // the source file's name as given to the compiler
    std::optional<SourceStamp> source_stamp;  // version 2 on
    std::uint32_t image_words = 0; // length of the image it describes
    std::uint64_t checksum = 0;    // checksum() of that image
    std::vector<LineEntry> lines;  // strictly ascending addresses
    std::vector<Function> functions;  // ascending entries, not overlapping
    std::vector<Variable> globals;    // in declaration order
    std::vector<ElementSite> elements;  // ascending addresses (version 2 on)

    // Whether this information describes exactly these words.
    bool matches(const std::vector<Word>& words) const;

    // Source line of the code at pc: that of the last entry at or before
    // pc; 0 when there is none or it is a line-0 entry.
    int line_at(Word pc) const;
    // The function whose code holds pc, or null.
    const Function* function_at(Word pc) const;
    const Function* find_function(std::string_view name) const;
    // The variable `name` as seen from code at pc: a parameter or local of
    // the function holding pc, else a global; null when none is visible.
    const Variable* find_variable(std::string_view name, Word pc) const;
    // The variable a memory operand (base register GR4 or bp, the operand
    // word as offset) addresses in code at pc: a scalar, or element 0 of an
    // array; null when none.
    const Variable* variable_at(Word pc, unsigned base, Word offset) const;
    // First address of each run of code belonging to `line` (where a
    // breakpoint on the line goes); empty when the line has no code.
    std::vector<Word> addresses_of_line(int line) const;
    // Words the globals occupy at the top of data memory.
    unsigned global_words() const;
    // The element site at pc, or null; and the array it reaches.
    const ElementSite* element_at(Word pc) const;
    const Variable* array_of(const ElementSite& site) const;
    // Whether `text` is the source the information was written for; true
    // when the file records no stamp (version 1).
    bool source_matches(std::string_view text) const;
};

// Checksum of an image: 64-bit FNV-1a over its bytes as the image file
// holds them (each word high byte first).
std::uint64_t checksum(const std::vector<Word>& words);
// The same over the bytes of a text (the source's stamp).
std::uint64_t checksum(std::string_view bytes);

// The file text of `info`, in the format's canonical form.
std::string write(const DebugInfo& info);

// Parses and checks a debug file. On failure `info` is empty and `error`
// says why, as "LINE: message" (or a message without a line when the file
// as a whole is at fault, e.g. truncated).
struct ReadResult {
    std::optional<DebugInfo> info;
    std::string error;
};
ReadResult read(std::string_view text);

// The debug file that belongs to an image: the last ".exec" of the name
// becomes ".dbg", or ".dbg" is appended when there is none.
std::string debug_file_name(const std::string& image_name);

// The debug file of an image, as the tools look for it.
struct LoadResult {
    enum class Status : std::uint8_t {
        ok,       // read, checked and matching the image
        missing,  // no such file
        damaged,  // unreadable or rejected by the reader
        stale,    // well-formed but describes another image
    };
    Status status = Status::missing;
    std::optional<DebugInfo> info;  // set when ok
    std::string file;               // the debug file's name
    std::string message;            // why, for damaged and stale
};
LoadResult load_for_image(const std::string& image_name, const std::vector<Word>& words);
// The same from the debug file opened already (`in` not open: missing).
LoadResult load_for_image(std::istream& in, const std::string& file, const std::vector<Word>& words);
// One line for a damaged or stale file, e.g.
// "prog.dbg: ignored: describes another image (stale?)"; empty otherwise.
std::string load_note(const LoadResult& result);

// The source an image was compiled from: the file the debug information
// names as given to the compiler, else the file of that name beside the
// image. Lines without their line ends (a CR before LF dropped).
struct SourceText {
    std::string file;  // the file read; empty when none was found
    std::vector<std::string> lines;
    bool changed = false;  // found, but not the text the information was written for
    bool found() const { return !file.empty(); }
    // The text of line `n` (1-based), or "" when there is no such line.
    const std::string& line(int n) const;
};
SourceText load_source(const DebugInfo& info, const std::string& image_name);
// "prog.vxl: source changed since the debug information was written" for a
// changed source; empty otherwise.
std::string source_note(const SourceText& source);

// ---- Frames ---------------------------------------------------------------

// What the frame walker needs of a stopped machine.
class MachineState {
public:
    virtual ~MachineState() = default;
    virtual Word pc() const = 0;
    virtual Word reg(unsigned r) const = 0;           // 0-6 as in the image format
    virtual Word memory(Word address) const = 0;      // data memory
    // The code word at `address`, or nullopt beyond the loaded image.
    virtual std::optional<Word> code(Word address) const = 0;
};

// One active call, innermost first. For the innermost frame pc is where
// the machine stopped; for the others it is the CALL that is waiting.
struct Frame {
    Word pc = 0;
    int line = 0;                        // 0 when unknown
    const Function* function = nullptr;  // null outside every function
    // bp of the frame: where its parameters and locals are found. Only
    // meaningful when function is set.
    Word bp = 0;
};

// Walks the saved bp chain from the machine's state. Stops at the first
// frame outside every function (included when it has a line: a call made
// by a global initialiser), at a return address that does not follow a
// CALL, at a frame already visited, or after max_frames frames.
std::vector<Frame> walk_frames(const DebugInfo& info, const MachineState& state,
                               std::size_t max_frames = 65536);

// One formatting of a frame for every tool that shows one. The function
// a frame is in: its name; "<global initialisation>" for the code of a
// global's initialiser (outside every function, with a line); "??" for
// code of no line outside every function.
std::string frame_function(const Frame& frame);

// A frame as the debugger's backtrace and stops show it:
//   "f (n=3) at prog.vxl:9", "0x0037 in f (n=3) at prog.vxl:9",
//   "0x0004 in <global initialisation> at prog.vxl:2", "0x0006 in ?? ()"
// with the pc before it when `show_pc` (not at the beginning of a line, or
// an outer frame), and the arguments as the caller gives them.
struct FrameArgument {
    std::string name;
    std::string text;
};
// `source` names the file (DebugInfo::source).
std::string frame_text(std::string_view source, const Frame& frame, const std::vector<FrameArgument>& args,
                       bool show_pc);

// A frame as a runtime error report lists it: "FILE:LINE: in FUNCTION"
// ("FILE: in ?? at 0x0003" for code of no line outside every function).
std::string describe_frame(const DebugInfo& info, const Frame& frame);

}  // namespace debuginfo
