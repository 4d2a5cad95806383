/* The natives table: the built-in functions of the run-time by their fixed slot (evaluator/natives.def).
   The evaluator's natives are in it from the start; the services add theirs at start-up
   (services/natives.h).

   A native! value holds its slot; the interpreter calls the entry point of that slot with the native's
   arguments in the current frame (argument k at frame base + k, the refinements' arguments after the
   mandatory ones in the order they were given) and one integer per refinement, in the order of the spec block: -1 when
   absent, else the frame position of its first argument. The result goes to the result slot. The
   interpreter has checked the argument types before the call. */
#pragma once

#include <span>
#include <string_view>

#include "runtime/cell.h"

namespace oka::natives {

// An entry point reads its refinements by name through evaluator/refinements.h.
using Entry = void (*)(const int32_t* refinements);

// The slot of each native, by its entry point's name: equal_q_slot is the slot of equal?.
enum Slot : uint32_t {
#define OKA_NATIVE(slot, Name, word, spec, family) Name##_slot = slot,
#include "evaluator/natives.def"
};

// The spec text of each native, with its brackets, by slot - 1.
inline constexpr std::string_view kSpecs[] = {
#define OKA_NATIVE(slot, Name, word, spec, family) spec,
#include "evaluator/natives.def"
};

// Makes the print buffer.
void init();
void init_print_buffer();
// The entry point of a slot (1-based); a slot without one raises internal feature-na when called.
Entry entry(uint32_t slot);
// A native of a layer above the evaluator: its slot and entry point.
struct Row {
    Slot slot;
    Entry entry;
};
// Puts the entry points of a layer's natives in their slots (once, at start-up).
void add_entries(std::span<const Row> rows);
// The name and spec text of a filled slot, for making the native! values at start-up.
const char* word_of(uint32_t slot);
const char* spec_of(uint32_t slot);
uint32_t count();

// Runs a file or URL as a script, as do does: through the library's do-file, with a tracer function (or
// none) and the value do/args gives it (or none). The script's value is pushed.
Cell* run_script(const Cell& file, const Cell& tracer, const Cell& args);

// A byte total as the memory natives answer it: integer!, or float! beyond the integer range.
Cell* make_size_at(Cell* cell, uint64_t bytes);
// Appends one to a block.
void push_size(const Cell& block, uint64_t bytes);

// The evaluator's entry points (natives_<family>.cpp).
#define OKA_NATIVE(slot, Name, word, spec, family) void Name##_s(const int32_t* refinements);
#define OKA_SERVICES_NATIVE(slot, Name, word, spec, family)
#include "evaluator/natives.def"

}  // namespace oka::natives
