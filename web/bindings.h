// Shared by the browser bindings (binding.cpp, debugging.cpp): texts and
// images as they cross to JavaScript, and the debug information of a
// compilation.
#pragma once

#include <emscripten/val.h>

#include <optional>
#include <string>
#include <vector>

#include "debuginfo.h"
#include "image.h"
#include "machine.h"

namespace web {

// A Uint8Array holding a copy of the bytes.
emscripten::val bytes(const std::string& s);
// The words of an image given as a Uint8Array of its file bytes.
std::vector<image::Word> words_of(const emscripten::val& image_bytes);

// The debug information in a ".dbg" text, if it is sound.
std::optional<debuginfo::DebugInfo> read_debug_info(const std::string& text);
// The line table flattened: address, line, address, line, ...
emscripten::val line_table(const debuginfo::DebugInfo& info);
emscripten::val global_names(const debuginfo::DebugInfo& info);
// The lines that place a runtime error in the source (its cause, then the
// active calls, innermost first), as {line, text}.
emscripten::val fault_lines(const debuginfo::DebugInfo& info, const vm::Machine& machine, vm::Fault fault);

}  // namespace web
