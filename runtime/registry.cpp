#include "runtime/registry.h"

#include <cstdlib>
#include <cstring>

#include "runtime/fatal.h"
#include "runtime/types.h"

namespace oka::datatype {

namespace {

TypeName type_names[kTypeTableSize];
AnyAction action_table[kTypeTableSize][kActionCount];
Type highest = Type::Void;
bool action_rows_filled[kTypeTableSize];

[[noreturn]] void report_wrong_count(Type id, size_t found) {
    sys::prin_items({"*** Datatype Error: invalid actions count for type: ", int32_t(id),
                     "\n*** Found: ", int32_t(found), "\n*** Expected: ", int32_t(kActionCount), "\n"});
    std::exit(1);
}

// A type's name and its length without the closing "!".
TypeName name_entry(const char* name) { return {name, uint32_t(std::strlen(name) - 1)}; }

AnyAction resolve(const ActionSlot& value, Type parent, int slot) {
    if (!value.inherit) return value.fn;
    // A type without a parent has nothing to inherit: the slot is unsupported.
    return parent == Type::Void ? nullptr : action_table[int(parent)][slot];
}

}  // namespace

void register_(Type id, Type parent, const char* name, std::span<const ActionSlot> slots) {
    OKA_ASSERT(int(id) < kTypeTableSize && (parent == Type::Void || action_rows_filled[int(parent)]));
    if (id > highest) highest = id;
    action_rows_filled[int(id)] = true;
    type_names[int(id)] = name_entry(name);
    if (slots.size() != size_t(kActionCount)) report_wrong_count(id, slots.size());
    for (int k = 0; k < kActionCount; k++) action_table[int(id)][k] = resolve(slots[k], parent, k);
}

void register_(Type id, std::initializer_list<ActionEntry> entries) {
    ActionSlot row[kActionCount];
    for (ActionSlot& slot : row) slot = kUnsupported;
    for (const ActionEntry& e : entries) row[int(e.slot) - 1] = e.value;
    register_(id, type_parent(id), type_text(id), row);
}

Type highest_type() { return highest; }

bool registered_q(Type id) { return int(id) < kTypeTableSize && action_rows_filled[int(id)]; }

// A type that is not registered (yet) still has its name, so that its datatype! value can be shown.
const TypeName& type_name(Type id) {
    TypeName& entry = type_names[int(id)];
    if (!entry.name && type_text(id)) entry = name_entry(type_text(id));
    return entry;
}

AnyAction action_entry(Type id, Act slot) { return action_table[int(id)][int(slot) - 1]; }

}  // namespace oka::datatype
