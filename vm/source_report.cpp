// Runtime errors at source lines for vexl.
#include "source_report.h"

#include <ostream>

#include "fault_report.h"

namespace vm {

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
    debuginfo::Fault fault = debuginfo::Fault::other;
    switch (result.fault) {
    case Fault::illegal_memory_access: fault = debuginfo::Fault::illegal_memory_access; break;
    case Fault::illegal_operation: fault = debuginfo::Fault::illegal_operation; break;
    case Fault::zero_divide: fault = debuginfo::Fault::zero_divide; break;
    case Fault::none:
    case Fault::other: break;
    }
    err << debuginfo::fault_report(*debug.info, MachineView(machine), fault) << std::flush;
}

}  // namespace vm
