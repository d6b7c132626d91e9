// The names of a program as the translation resolves them: every function,
// global, parameter and local with its declaration, and every place a name
// is declared or used. Kept only when a tool asks for it (the language
// server, through CompileOptions::record_names and the inspect hook).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "node.h"

struct NamedEntity {
    enum class Kind { Function, Global, Parameter, Local };
    Kind kind = Kind::Global;
    std::string name;
    std::string scope;          // the function of a parameter or local
    ValueType type = kInt;      // a variable's type, a function's result
    bool is_const = false;
    bool is_array = false;
    std::uint16_t size = 1;     // an array's element count
    std::optional<std::int16_t> value;  // a constant whose initialiser is a constant expression
    SourceSpan declared;        // the declaring name
    SourceSpan extent;          // a function's whole definition
    std::vector<int> parameters;  // a function's parameters, in order (entity indexes)
};

// One place a name stands: its declaration or a use.
struct NameSite {
    SourceSpan span;
    int entity;
    bool declaration;
};

class NameIndex {
public:
    bool enabled = false;
    std::vector<NamedEntity> entities;
    std::vector<NameSite> sites;  // in translation order; a use may repeat

    // Records an entity and its declaration; its index, or -1 while off.
    int declare(NamedEntity entity);
    void use(const SourceSpan& at, int entity) {
        if (enabled && entity >= 0) sites.push_back({at, entity, false});
    }
    // The value of an expression made of literals, operators and constants
    // already recorded, as the machine computes it; none for anything else.
    std::optional<std::int16_t> constant_value(const expression* e) const;
    void clear();
};
