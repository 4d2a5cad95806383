/* object!: a context of named fields (datatypes/context.h) plus a class id, and an optional record of
   change handlers. error! and port! share the cell and most of this code:

       word 1  context node (kind object, values on the heap, self flag; the self cell holds a copy of
               the object value, the one copy whose handler record is always current)
       word 2  class id: equal ids mean the same words in the same order
       word 3  node of the change-handler record, or 0

   The handler record is a block of four cells: cells 0 and 1 describe the on-change* and
   on-deep-change* fields (a pair! cell whose word 2 is the field position << 16 | the handler's locals
   count, 0xFFFF in the upper half for no handler, and whose word 3 is the spec node of the handler it
   was computed for); cells 2 and 3 hold those spec blocks, so that the collector keeps every node the
   record names alive and a recorded node can never be another function's.

   A field assigned through a set-word, a path or `set` calls the object's on-change* handler with the
   field word, the old and the new value; a series owned by a field (datatypes/ownership.h) reports its
   in-place changes to on-deep-change*. A handler may assign fields again: nesting is bounded only by
   the stacks, whose overflow raises internal stack-overflow.

   Rules: making, copying and every routine that may call a handler allocate and may run any code; the
   cells they are given are read first or must be fixed (on the data stack). */
#pragma once

#include "runtime/action_options.h"
#include "runtime/memory.h"

namespace oka::object {

void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();

// The next class id of the one global counter (the first id is 1).
uint32_t get_new_id();

// Makes the cell an empty object with room for `size` fields: class id 0, no handlers.
Cell* make_at(Cell* cell, uint32_t size);
// Pushes an object for an existing context (a context whose values block is still empty first gets
// one unset value per word) and copies it into the self cell.
Cell* push(Node context, uint32_t class_id);

// The position of a field (case ignored), or -1.
int32_t find_word(const Cell& object, uint32_t symbol);
// The value cell of a field, or the shared none value when the object has no such field.
const Cell* rs_select(const Cell& object, uint32_t symbol);
BufPtr<Cell> get_word(Node context, uint32_t position);
BufPtr<Cell> get_values(const Cell& object);
uint32_t get_size(const Cell& object);
// The field `name` of a value of any object type, none when it has no such field or is no object.
Cell field_of(const Cell& object, const char* name);

// ---- construction ----

// Makes `target` (fixed) a copy of an object of any object type: a new context with the same words,
// the same class id, the source's handler record with `keep_events` (none without), every value copied
// and every function! rebound to the copy.
// With `deep` (and no `types`) the string-like and block-like values are deep copies; with `types` (a
// datatype! or typeset!, null for none) the values of those types are copies, deep with `deep`. A deep
// typed copy that meets the source again inside raises internal no-cycle.
Cell* clone_object(const Cell& source, Cell* target, bool deep, const Cell* types, bool keep_events);
// construct: an object of the spec's set-words, each taking the value after its run of set-words (none
// at the end) unevaluated; without `only` the words true, yes, on, false, no, off and none stand for
// their values. With a prototype the object starts as a deep copy of it, keeps its class id unless
// fields were added, and gets its handlers. Pushed on the data stack.
Cell* construct(const Cell& spec, const Cell* prototype, bool only);
// Assigns the fields from `value` as `set` does: a block's values in field order (none past its end),
// an object's same-named fields, or with `only` (or any other value) the value itself to every field.
// Unless `any` or `some`, a block or object holding unset values raises script need-value first;
// with `some` none values leave their fields alone. The handler fields take only functions, and
// without notification: a short block cannot wipe out the handlers.
void set(const Cell& object, const Cell& value, bool any, bool only, bool some);
// The body of an object's context: its set-words and values in pairs that load back to the object
// (word values as lit-words, paths as lit-paths). Pushed on the data stack.
Cell* push_body(Node context);

// ---- change handlers ----

// Computes the object's handler record from its fields and stores it in the object (fixed) and its
// self cell; an object with on-deep-change* takes ownership of the series of its fields. A handler
// field holding no function! or routine! raises script bad-field-set.
void attach_events(Cell* object);
// Stores a value in a field and marks it assigned; with `notify` the object's on-change* handler, when
// it has one, is then called with `word`, the old and the new value.
void assign(Node context, uint32_t position, const Cell& word, const Cell& value, bool notify);

// ---- the actions error! shares ----

// mold of an object type: `header` ("make object! [") before the fields and "]" after them, unless
// `only`; the handler fields only with `all`. form writes what mold/only writes, with a null header.
int32_t mold_fields(Cell* value, Cell* buffer, const char* header, const MoldOptions& options, int32_t part,
                    int32_t indent);
// Compares the fields of two values of one object type.
int32_t compare_fields(Cell* value1, Cell* value2, int32_t op);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step);

}  // namespace oka::object
