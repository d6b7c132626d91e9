// Fuzz target for the debug file reader. Any input must either be rejected
// with a message or be accepted as information that the writer reproduces
// byte for byte (the reader accepts only the canonical form), and whose
// lookups, frame walk and error report stay inside the data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "debuginfo.h"
#include "fault_report.h"

namespace {

// A machine state derived from the input bytes: every read is in range.
class ByteState : public debuginfo::MachineState {
public:
    ByteState(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    image::Word pc() const override { return word(0); }
    image::Word reg(unsigned r) const override { return word(2 + r); }
    image::Word memory(image::Word a) const override { return word(16 + a); }
    std::optional<image::Word> code(image::Word a) const override {
        if (a % 7 == 6) return std::nullopt;
        return word(a * 3u);
    }

private:
    image::Word word(std::size_t i) const {
        if (size_ == 0) return 0;
        return static_cast<image::Word>(data_[i % size_] << 8 | data_[(i + 1) % size_]);
    }
    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const debuginfo::ReadResult r = debuginfo::read(text);
    if (!r.info) {
        if (r.error.empty()) std::abort();
        return 0;
    }
    if (debuginfo::write(*r.info) != text) {
        std::fprintf(stderr, "accepted text is not reproduced by the writer\n");
        std::abort();
    }
    const debuginfo::DebugInfo& info = *r.info;
    const ByteState state(data, size);
    for (const auto& f : info.functions) {
        (void)info.function_at(f.entry);
        for (const auto& v : f.locals) (void)info.find_variable(v.name, f.entry);
    }
    for (const auto& e : info.lines) (void)info.addresses_of_line(e.line);
    for (const auto& frame : debuginfo::walk_frames(info, state, 64)) {
        (void)debuginfo::describe_frame(info, frame);
        (void)debuginfo::frame_text(info.source, frame, {{"n", "1"}}, size % 2 == 0);
    }
    (void)debuginfo::fault_report(info, state, static_cast<debuginfo::Fault>(size % 5));
    return 0;
}
