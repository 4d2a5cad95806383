/* The static facts of the datatypes, generated from runtime/types.def: each type's name and parent,
   and the classes it belongs to (runtime/type_classes.def); the layout of its payload is runtime/cell.h's
   (type_layout).

   Rules:
   - runtime/types.def says these facts once: a new datatype is one row there and its own file under
     datatypes/. Code that asks whether a type belongs to a group asks is_a or type_layout, and a set
     of types it needs is built from class_mask and type_mask: it does not list the members of a class.
   - The layout is the one place that says what each payload word of a cell holds, and which name
     nodes, hash tables or handles: the collector follows a cell's references by its layout alone. A
     bounded string view (kBoundedStringType) has a layout of its own and belongs to no class.
   - The lookups are constexpr and branch-free (an entry of a table, a bit of a mask): the interpreter
     and the collector ask them for every value. */
#pragma once

#include <array>
#include <initializer_list>

#include "runtime/cell.h"

namespace oka {

enum class TypeClass : uint8_t {
#define OKA_TYPE_CLASS(name, typeset) name,
#include "runtime/type_classes.def"
#undef OKA_TYPE_CLASS
};

inline constexpr int kTypeClassCount = 0
#define OKA_TYPE_CLASS(name, typeset) +1
#include "runtime/type_classes.def"
#undef OKA_TYPE_CLASS
    ;
static_assert(kTypeClassCount == 11, "the run-time tests types for 11 classes");

// A set of types: the bit of type id t is bit t.
using TypeMask = uint64_t;
static_assert(kTypeTableSize <= 64, "a type mask has a bit for every type id");

constexpr TypeMask type_mask(std::initializer_list<Type> types) {
    TypeMask mask = 0;
    for (Type type : types) mask |= TypeMask(1) << uint8_t(type);
    return mask;
}

// Type ids stop below 64 (kTypeTableSize), so the shift is always defined.
constexpr bool in_mask(TypeMask mask, Type type) { return (mask >> uint8_t(type)) & 1; }

namespace type_facts {

struct Row {
    const char* name;  // as the language spells it, with its "!"
    Type parent;
    uint32_t classes;  // bit c for TypeClass c
};

// The rows of types.def by type id; ids that name no datatype have no name, no parent and no class.
inline constexpr auto kRows = [] {
// The class column of a row is an or of these.
#define OKA_TYPE_CLASS(name, typeset) [[maybe_unused]] constexpr uint32_t name = 1u << int(TypeClass::name);
#include "runtime/type_classes.def"
#undef OKA_TYPE_CLASS
    [[maybe_unused]] constexpr uint32_t no_class = 0;
    std::array<Row, kTypeTableSize> rows{};
#define OKA_TYPE(id, Name, text, Parent, layout, classes) rows[id] = {text, Type::Parent, classes};
#include "runtime/types.def"
#undef OKA_TYPE
    return rows;
}();

inline constexpr auto kClassMasks = [] {
    std::array<TypeMask, kTypeClassCount> masks{};
    for (int id = 0; id < kTypeTableSize; id++)
        for (int c = 0; c < kTypeClassCount; c++)
            if (kRows[id].classes >> c & 1) masks[c] |= TypeMask(1) << id;
    return masks;
}();

inline constexpr const char* kTypesetNames[] = {
#define OKA_TYPE_CLASS(name, typeset) typeset,
#include "runtime/type_classes.def"
#undef OKA_TYPE_CLASS
};

}  // namespace type_facts

// ---- what the layouts read in a cell's header ----

// The context layout: word 2 is the data-stack address of a running function's arguments, not the node
// of a values block, while kValuesOnStack is set.
inline constexpr uint32_t kValuesOnStack = 1u << 22;
// The event layout: word 2 names a series while kEventHoldsSeries is set.
inline constexpr uint32_t kEventHoldsSeries = 1u << 12;
// The op layout: header bits 16-23 hold the type of the native, action, function or routine it wraps.
inline constexpr uint32_t kOpWrappedShift = 16;
constexpr Type op_wrapped_type(const Cell& op) { return Type(op.header >> kOpWrappedShift & 0xFF); }

constexpr TypeMask class_mask(TypeClass c) { return type_facts::kClassMasks[uint8_t(c)]; }

constexpr bool is_a(Type type, TypeClass c) { return in_mask(class_mask(c), type); }

// The language's typeset that names the class ("any-word!"), or null when it has none.
constexpr const char* typeset_name(TypeClass c) { return type_facts::kTypesetNames[uint8_t(c)]; }

// A type's name with its "!" and its parent, as types.def gives them, for ids below kTypeTableSize;
// null and Void for ids that name no datatype.
constexpr const char* type_text(Type type) { return type_facts::kRows[uint8_t(type)].name; }
constexpr Type type_parent(Type type) { return type_facts::kRows[uint8_t(type)].parent; }

}  // namespace oka
