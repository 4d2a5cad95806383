/* handle!: an opaque reference to an external resource, with its class. A child of integer! that
   takes none of its actions: it forms as eight hexadecimal digits and "h", molds as "handle!" (with
   /all as a construction naming its class), and compares with handles by value alone.

   Cell: payload word 1 the class (HandleClass), word 2 the value, word 3 always -1: a handle! holds no
   slot of the run-time's handle table, so the collector has nothing to keep for it.

   Rules: every handle! is made by make_at, which sets word 3 to -1; the classes are the rows of
   datatypes/handle_classes.def, in their order. */
#pragma once

#include "runtime/stack.h"

namespace oka {

enum class HandleClass : uint32_t {
#define OKA_HANDLE_CLASS(Name, text) Name,
#include "datatypes/handle_classes.def"
#undef OKA_HANDLE_CLASS
};

}  // namespace oka

namespace oka::handle {

// Registers handle! (after integer!).
void init();

inline Cell* make_at(Cell* cell, int32_t value, HandleClass kind) {
    *cell = Cell::of(Type::Handle).set_handle_class(uint32_t(kind)).set_handle_value(value).set_slot(-1);
    return cell;
}
// The null handle: value 0 of the null class, the value of the word null-handle.
inline Cell* push_null() { return make_at(stack::push_next(), 0, HandleClass::null); }

}  // namespace oka::handle
