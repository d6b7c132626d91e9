// Runtime errors at source lines for vexl.
#include "source_report.h"

#include <fstream>
#include <ostream>

#include "fault_report.h"

namespace vm {

std::string fault_report(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault) {
    debuginfo::Fault kind = debuginfo::Fault::other;
    switch (fault) {
    case Fault::illegal_memory_access: kind = debuginfo::Fault::illegal_memory_access; break;
    case Fault::illegal_operation: kind = debuginfo::Fault::illegal_operation; break;
    case Fault::zero_divide: kind = debuginfo::Fault::zero_divide; break;
    case Fault::none:
    case Fault::other: break;
    }
    return debuginfo::fault_report(info, MachineView(machine), kind);
}

std::string debug_file_for(const std::string& image_argument) {
    // The image name as the loader completed it.
    std::string image_name = image_argument;
    if (image_name.rfind(".exec") == std::string::npos) image_name += ".exec";
    return debuginfo::debug_file_name(image_name);
}

void report_source_location(const Machine& machine, const std::string& image_argument, const RunResult& result,
                            std::ostream& err, std::istream* debug_file) {
    if (result.end != RunResult::End::fault) return;
    std::ifstream own;
    if (!debug_file) {
        own.open(debug_file_for(image_argument), std::ios::binary);
        debug_file = &own;
    }
    const debuginfo::LoadResult debug =
        debuginfo::load_for_image(*debug_file, debug_file_for(image_argument), machine.code());
    if (!debug.info) {
        if (const std::string note = debuginfo::load_note(debug); !note.empty()) err << "vexl: " << note << '\n';
        return;
    }
    err << fault_report(*debug.info, machine, result.fault) << std::flush;
}

}  // namespace vm
