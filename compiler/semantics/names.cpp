// The record of declared and used names.
#include "names.h"

#include "symbols.h"

int NameIndex::declare(NamedEntity entity) {
    if (!enabled) return -1;
    const int index = static_cast<int>(entities.size());
    sites.push_back({entity.declared, index, true});
    entities.push_back(std::move(entity));
    return index;
}

std::optional<std::int16_t> NameIndex::constant_value(const expression* e) const {
    if (!e) return std::nullopt;
    auto wrap = [](int v) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(v)); };
    if (auto* l = dynamic_cast<const literal*>(e)) return static_cast<std::int16_t>(l->value);
    if (auto* v = dynamic_cast<const exp_variable*>(e)) {
        if (v->subscript) return std::nullopt;
        const VariableEntry* entry = map_manager.find_variable(v->name);
        if (!entry || !entry->is_const || entry->entity < 0) return std::nullopt;
        return entities[static_cast<std::size_t>(entry->entity)].value;
    }
    if (e->op == kCall) return std::nullopt;
    const auto a = constant_value(e->left);
    if (!a) return std::nullopt;
    switch (e->op) {
    case kParen:
    case kPlus: return a;
    case kMinus: return wrap(-*a);
    case kNot: return static_cast<std::int16_t>(!*a);
    default: break;
    }
    const auto b = constant_value(e->right);
    if (!b) return std::nullopt;
    switch (e->op) {
    case kOr: return wrap(*a | *b);
    case kAnd: return wrap(*a & *b);
    case kXor: return wrap(*a ^ *b);
    case kEq: return static_cast<std::int16_t>(*a == *b);
    case kNe: return static_cast<std::int16_t>(*a != *b);
    case kLt: return static_cast<std::int16_t>(*a < *b);
    case kLe: return static_cast<std::int16_t>(*a <= *b);
    case kGt: return static_cast<std::int16_t>(*a > *b);
    case kGe: return static_cast<std::int16_t>(*a >= *b);
    case kAdd: return wrap(*a + *b);
    case kSub: return wrap(*a - *b);
    case kMul: return wrap(*a * *b);
    default: return std::nullopt;  // div and mod: left to the machine
    }
}

void NameIndex::clear() {
    enabled = false;
    entities.clear();
    sites.clear();
}
