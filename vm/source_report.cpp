// Runtime errors at source lines for vexl.
#include "source_report.h"

#include <ostream>

#include "fault_report.h"

namespace vm {

namespace {

debuginfo::Fault fault_kind(Fault fault) {
    debuginfo::Fault kind = debuginfo::Fault::other;
    switch (fault) {
    case Fault::illegal_memory_access: kind = debuginfo::Fault::illegal_memory_access; break;
    case Fault::illegal_operation: kind = debuginfo::Fault::illegal_operation; break;
    case Fault::zero_divide: kind = debuginfo::Fault::zero_divide; break;
    case Fault::none:
    case Fault::other: break;
    }
    return kind;
}

}  // namespace

std::string fault_report(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault) {
    return debuginfo::fault_report(info, MachineView(machine), fault_kind(fault));
}

std::string fault_cause(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault) {
    return debuginfo::fault_cause(info, MachineView(machine), fault_kind(fault));
}

void report_source_location(const Machine& machine, const std::string& image_argument, const RunResult& result,
                            std::ostream& err) {
    if (result.end != RunResult::End::fault) return;
    // The image name as the loader completed it.
    std::string image_name = image_argument;
    if (image_name.rfind(".exec") == std::string::npos) image_name += ".exec";
    const debuginfo::LoadResult debug = debuginfo::load_for_image(image_name, machine.code());
    if (!debug.info) {
        if (const std::string note = debuginfo::load_note(debug); !note.empty()) err << "vexl: " << note << '\n';
        return;
    }
    err << fault_report(*debug.info, machine, result.fault) << std::flush;
}

}  // namespace vm
