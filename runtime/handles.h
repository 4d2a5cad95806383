/* The external-resource handle table.

   Objects that live outside the language memory (file descriptors, library objects, pixel buffers) are
   held in one table of slots; a handle! value refers to its slot by index. Each slot has a kind, and
   each kind a release callback. The collector marks the slots that reachable handle! values name and
   then sweeps: every unmarked slot in use has its object released and goes back to the free list.
   The table grows by doubling and never shrinks. */
#pragma once

#include <cstdint>

namespace oka::handles {

using Release = void (*)(void* object);

enum : uint32_t {
    kKindMask = 0xFF,
    kSlotFree = 1u << 30,
    kSlotMarked = 1u << 31,
};

struct Slot {
    uint32_t kind;  // kind id in bits 0-7, plus kSlotFree or kSlotMarked
    void* object;
    int32_t next;  // the next slot of the same list (free or in use), -1 at the end
};

inline constexpr uint32_t kInitialSlots = 1000;
inline constexpr int kMaxKinds = 20;

void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();
// Returns the 1-based kind id.
int register_kind(const char* name, Release release);
const char* kind_name(int kind);

int32_t alloc(void* object, int kind);
// Releases an object through the callback of the kind in the low byte of `kind_word` (none for 0).
void release(uint32_t kind_word, void* object);
void set_object(int32_t index, void* object);
void free(int32_t index, bool release_object);

const Slot& slot(int32_t index);
uint32_t capacity();

// Marks a slot; a non-null object replaces the slot's object. Returns true when it was not marked.
bool mark(int32_t index, void* object);
void for_each(int kind, void (*callback)(int kind, void* object));
// After marking: releases every unmarked slot in use and clears the marks.
void sweep();

// For the table's own tests: while one lives, a fresh table with no kinds (as init makes it) stands in
// for the run-time's, which is put back whole when it ends, so that the handles that values of the
// run-time hold stay theirs.
class FreshTableForTests {
public:
    FreshTableForTests();
    ~FreshTableForTests();
    FreshTableForTests(const FreshTableForTests&) = delete;
    FreshTableForTests& operator=(const FreshTableForTests&) = delete;

private:
    struct Saved;
    Saved* saved_;
};

}  // namespace oka::handles
