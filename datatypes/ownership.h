/* Ownership links: an object with change handlers owns the series held in its fields, and a change of an
   owned series in place is reported to its owner.

   One table (hash kind kOwners) maps the node of each owned series to three cells: the series value,
   the owner (an object!) and the word of the owner's field that holds it. A series buffer with an
   entry carries the owned flag (kSeriesOwned), so that the series actions learn cheaply that most
   series have no owner. Objects get no entry: binding one binds the values of its fields, and binding
   over an object's own fields marks its context cell with kOwnerFlag, which stops later walks there.

   Every action that modifies a series calls `check` before the change (which also drops the compiled
   forms made from it: runtime/memory.h, code_changing) with the action's event word
   and, when that reports the series as owned, again after the change with the past-tense word.

   Collector rules: the table (its node is collector::ownership_table) is a root of the collector held
   weakly: the entries of series or owners that nothing else keeps are dropped. bind allocates; the
   cells given to it are copied to the data stack first, so they may lie anywhere. unbind and owned_q
   never allocate. */
#pragma once

#include "datatypes/series.h"
#include "datatypes/words.h"
#include "runtime/memory.h"
#include "runtime/types.h"

namespace oka::ownership {

// On an object's context cell: the object has bound ownership over the values of its fields.
inline constexpr uint32_t kOwnerFlag = 1u << 16;

// Runs the owner's on-deep-change* handler with the owner, its field word, the changed series, the
// event word, the new value (none when there is none) and the changed range. Objects with change
// handlers set it; the cells are fixed.
using DeepChangeHandler = void (*)(const Cell& owner, const Cell& word, const Cell& target, const Cell& action,
                                   const Cell& new_value, int32_t index, int32_t count);
inline DeepChangeHandler fire_on_deep = nullptr;

// Makes the table: once, at start-up.
void init();

// Records `owner` as the owner of `value` through its field `word`: a series gets an entry unless it has
// one already, and a block-like value passes the owner on to each value from its head, an object to the
// value of each of its fields with that field's word (not to fields holding the owner itself). A value
// met again inside itself is not entered twice.
void bind(const Cell& value, const Cell& owner, const Cell& word);
// bind, then marks the owner's context cell with kOwnerFlag.
void bind_value(const Cell& value, const Cell& owner, const Cell& word);
// Drops the entry of a series, and of the values inside a block-like value or an object (not inside an
// object that owns its own fields' values: see kOwnerFlag).
void unbind(const Cell& value);
// unbind on `count` cells of a block buffer from an absolute index.
void unbind_range(Node block, uint32_t index, uint32_t count);

// The owner cell of a node's entry (the field word follows it), or null.
BufPtr<Cell> owned_q(Node node);

// The values that an entry can be made for: series and bitsets, held in a buffer of their own. image!
// keeps its owned flag in its cell and is left to its datatype.
inline bool has_entry_type(Type type) {
    return (is_a(type, TypeClass::series) && type != Type::Image) || type == Type::Bitset;
}

// check's work for a value whose buffer is flagged as owned.
bool report(const Cell& value, Word action, const Cell* new_value, int32_t index, int32_t count);

// Whether the series or bitset of `node` reports its changes to an owner.
inline bool owned_flag_q(Node node) { return mem::buffer(node)->flags & kSeriesOwned; }

// Whether a change of the series `value` must go through check: it has an owner, compiled forms were
// made from it, or a walk holds removals that the change must carry out first. A change that needs
// none of them may take a short path.
inline bool watched_q(const Cell& value) {
    return has_entry_type(value.type()) &&
           (series::removing_walks > 0 || (mem::buffer(value.node())->flags & (kSeriesOwned | kSeriesCompiled)));
}

// Reports a change of `value` to its owner when it has one with change handlers; returns whether it
// did. `new_value`, when given, is fixed; `index` and `count` locate the changed part (0-based unit
// index from the buffer start, unit count). The handler may run any code: it allocates. Removals that
// a walk holds for the series are carried out first (series::Removals); true then as well, since the
// series changed under the caller's plan. Every change of a series asks, so the common answer (no
// owner, nothing held) is given here, where it inlines.
inline bool check(const Cell& value, Word action, const Cell* new_value, int32_t index, int32_t count) {
    if (!has_entry_type(value.type())) return false;
    mem::code_changing(value.node());
    bool carried = series::removing_walks > 0 && series::carry_out_removals(value.node());
    if (!owned_flag_q(value.node())) return carried;
    return report(value, action, new_value, index, count) || carried;
}

}  // namespace oka::ownership
