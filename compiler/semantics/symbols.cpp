// Symbol table operations and the storage offset rule.
#include "symbols.h"

#include "diagnostics.h"
#include "recorder.h"

MapManager map_manager;

bool MapManager::declare_function(const std::string& name, const SourceSpan& at) {
    // "main" clashes with the C text's "#define start main".
    if (name == "main") diagnostics.warning_at<error::CFunctionName>(at, 0, "MapManager", name);
    auto [it, added] = functions_.emplace(name, FunctionEntry{});
    if (added) it->second.declared = at;
    return added;
}

FunctionEntry* MapManager::find_function(const std::string& name) {
    auto it = functions_.find(name);
    return it == functions_.end() ? nullptr : &it->second;
}

bool MapManager::declare_variable(const std::string& name, std::uint16_t size, const SourceSpan& at) {
    if (!variables_.emplace(name, VariableEntry{}).second) return false;
    FunctionEntry* scope = find_function(current_scope);
    if (!scope) return false;
    VariableEntry& v = variables_[name];
    v.base = current_scope == kGlobal ? 4 : 5;
    // Parameters count upward from bp+3; variables downward from bp+0 (or
    // from GR4 for globals, which have no parameters). 16-bit arithmetic.
    int offset = declaring_locals ? static_cast<int>(scope->parameter_types.size()) - scope->storage
                                  : scope->storage + 3;
    v.offset = static_cast<std::int16_t>(static_cast<std::uint16_t>(offset));
    v.is_parameter = !declaring_locals;
    v.size = size;
    v.declared = at;
    scope->scope_names.push_back(name);
    scope->storage += size;
    return true;
}

VariableEntry* MapManager::find_variable(const std::string& name) {
    auto it = variables_.find(name);
    return it == variables_.end() ? nullptr : &it->second;
}

bool MapManager::close_scope(int line) {
    FunctionEntry* scope = find_function(current_scope);
    if (!scope) return false;
    if (debug_recorder.enabled) {
        std::vector<std::pair<std::string, VariableEntry>> vars;
        for (const std::string& name : scope->scope_names)
            if (auto it = variables_.find(name); it != variables_.end()) vars.emplace_back(name, it->second);
        debug_recorder.scope_closed(current_scope, *scope, line, vars);
    }
    for (const std::string& name : scope->scope_names) {
        auto it = variables_.find(name);
        if (it != variables_.end() && !it->second.used)
            diagnostics.warning_at<error::UnusedVariable>(it->second.declared, line, "MapManager", name);
        variables_.erase(name);
    }
    current_scope = kGlobal;
    return true;
}

void MapManager::clear() {
    variables_.clear();
    functions_.clear();
    current_scope = kGlobal;
    declaring_locals = false;
    names.clear();
}
