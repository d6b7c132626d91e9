// Runtime errors at source lines for vexl.
#include "source_report.h"

#include <fstream>
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
    case Fault::stack_overflow: kind = debuginfo::Fault::stack_overflow; break;
    case Fault::none:
    case Fault::other: break;
    }
    return kind;
}

}  // namespace

std::string fault_report(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault) {
    return debuginfo::fault_report(info, MachineView(machine), fault_kind(fault));
}

std::vector<debuginfo::ReportLine> fault_report_lines(const debuginfo::DebugInfo& info, const Machine& machine,
                                                     Fault fault) {
    return debuginfo::fault_report_lines(info, MachineView(machine), fault_kind(fault));
}

std::string fault_cause(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault) {
    return debuginfo::fault_cause(info, MachineView(machine), fault_kind(fault));
}

std::string debug_file_for(const std::string& image_argument) {
    // The image name as the loader completed it.
    std::string image_name = image_argument;
    if (image_name.rfind(".exec") == std::string::npos) image_name += ".exec";
    return debuginfo::debug_file_name(image_name);
}

ReportFiles read_report_files(const Machine& machine, const std::string& image_argument) {
    ReportFiles files;
    std::ifstream in(debug_file_for(image_argument), std::ios::binary);
    files.debug = debuginfo::load_for_image(in, debug_file_for(image_argument), machine.code());
    if (files.debug.info) {
        std::string image_name = image_argument;
        if (image_name.rfind(".exec") == std::string::npos) image_name += ".exec";
        files.source = debuginfo::load_source(*files.debug.info, image_name);
    }
    return files;
}

void report_source_location(const Machine& machine, const std::string& image_argument, const RunResult& result,
                            std::ostream& err, const ReportFiles* files) {
    if (result.end != RunResult::End::fault) return;
    ReportFiles own;
    if (!files) {
        own = read_report_files(machine, image_argument);
        files = &own;
    }
    if (!files->debug.info) {
        if (const std::string note = debuginfo::load_note(files->debug); !note.empty()) err << "vexl: " << note << '\n';
        return;
    }
    if (const std::string note = debuginfo::source_note(files->source); !note.empty()) err << "vexl: " << note << '\n';
    err << fault_report(*files->debug.info, machine, result.fault) << std::flush;
}

}  // namespace vm
