// The symbol table: every function (with signature, address and pending
// call sites) and every variable currently in scope (with type, flags and
// storage location). It also hands out each variable's base register and
// offset, which fixes the frame layout:
//   globals   GR4 (0xFFFF) + 0, -1, -2, ...
//   parameter i of a function      bp + 3 + i
//   locals    bp + 0, -1, ...       (an array's element i at offset - i)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "names.h"
#include "node.h"

struct VariableEntry {
    ValueType type = kVoid;
    int base = 4;            // register number: 4 (GR4) global, 5 (bp) local
    std::int16_t offset = 0; // for an array, the offset of element 0
    bool is_const = false;
    bool is_array = false;
    bool used = false;       // read somewhere in an expression
    bool is_parameter = false;
    std::uint16_t size = 1;  // words: the element count of an array
    SourceSpan declared;     // the declaring name
    int entity = -1;         // in MapManager::names, while recorded
};

struct FunctionEntry {
    ValueType result = kVoid;
    std::uint16_t address = 0;              // 0 until the body is translated
    std::vector<ValueType> parameter_types;
    std::vector<std::string> scope_names;   // variables declared in this scope
    int storage = 0;                        // words handed out so far
    std::vector<std::uint16_t> call_sites;  // CALL operand words to patch
    int nesting_depth = 0;                  // enclosing if branches and loop bodies
    bool returns_on_all_paths = false;
    std::vector<std::uint16_t> loops;       // break trampoline of each open loop
    SourceSpan declared;                    // the name in the (first) definition
    int entity = -1;                        // in MapManager::names, while recorded
};

class MapManager {
public:
    static constexpr const char* kGlobal = "@global";

    bool declare_function(const std::string& name, const SourceSpan& at = {});
    FunctionEntry* find_function(const std::string& name);
    // Declares a variable of the current scope named at `at`; false for a
    // name already declared (or no current scope).
    bool declare_variable(const std::string& name, std::uint16_t size, const SourceSpan& at = {});
    VariableEntry* find_variable(const std::string& name);
    // Ends the current scope: warns about unused variables (listed at
    // `line`, naming their declarations),
    // forgets them, and returns to the global scope.
    bool close_scope(int line);
    // The entry of the function whose body is being translated.
    FunctionEntry& current() { return functions_[current_scope]; }
    void clear();

    std::string current_scope = kGlobal;
    bool declaring_locals = false;
    // Every declaration and use of a name, when asked for (kept by clear()
    // only as far as its switch goes: it starts off).
    NameIndex names;

private:
    std::map<std::string, VariableEntry> variables_;
    std::map<std::string, FunctionEntry> functions_;
};

extern MapManager map_manager;
