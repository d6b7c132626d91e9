// The machine as the debug information library sees it, and the report of
// a runtime error at its source line for the vexl program.
#pragma once

#include <iosfwd>
#include <string>

#include "debuginfo.h"
#include "fault_report.h"
#include "machine.h"

namespace vm {

// Read-only view of a machine for the frame walker and the reports.
class MachineView : public debuginfo::MachineState {
public:
    explicit MachineView(const Machine& m) : m_(m) {}
    Word pc() const override { return m_.pc(); }
    Word reg(unsigned r) const override { return m_.reg(r); }
    Word memory(Word address) const override { return m_.memory(address); }
    std::optional<Word> code(Word address) const override {
        if (address >= m_.code().size()) return std::nullopt;
        return m_.code()[address];
    }

private:
    const Machine& m_;
};

// The report of a runtime error of the machine at its source line, with the
// active calls (debuginfo::fault_report for the machine's fault).
std::string fault_report(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault);
// The same line by line, each with the source line it names.
std::vector<debuginfo::ReportLine> fault_report_lines(const debuginfo::DebugInfo& info, const Machine& machine,
                                                     Fault fault);
// The cause alone, e.g. "division by zero in 'div'".
std::string fault_cause(const debuginfo::DebugInfo& info, const Machine& machine, Fault fault);

// What the report of a runtime error reads from files: the image's debug
// file and the source it names. A confined run cannot open files, so vexl
// reads them after loading and before the run.
struct ReportFiles {
    debuginfo::LoadResult debug;
    debuginfo::SourceText source;
};
ReportFiles read_report_files(const Machine& machine, const std::string& image_argument);

// After a run that ended with a runtime error: when the image's debug file
// is there and describes it, writes the source location and the active
// calls to err; a damaged or stale debug file, or a changed source, gets a
// one-line note; without one nothing is written. `image_argument` is the
// name as vexl got it; `files`, when given, what read_report_files() read.
void report_source_location(const Machine& machine, const std::string& image_argument, const RunResult& result,
                            std::ostream& err, const ReportFiles* files = nullptr);

// The name of the debug file vexl reads for the image argument.
std::string debug_file_for(const std::string& image_argument);

}  // namespace vm
