/* The C++ state a heap image carries: what C++ globals hold of the language memory as the boot leaves
   it (stack pointers, the allocator's and collector's lists, cached nodes and cells, flags the boot
   sets), saved with the memory and restored over the globals when start-up maps the image.

   Every registered root (runtime/root.h) is carried without more ado. Other state is kept by the
   module that owns it, from its init: plain bytes with keep, and what lives in C++ containers through a
   hook that saves it as bytes and restores it from them. The pieces are saved and restored in the order
   they were kept, so a module keeps its state in its init, which every start-up runs the same way.

   Rules: nothing here allocates language memory; a restore checks every piece's size before it writes
   anything, so a refused image leaves the state as it was. */
#pragma once

#include <cstdint>
#include <span>
#include <type_traits>
#include <vector>

namespace oka::image_state {

using Bytes = std::vector<uint8_t>;

// Keeps the `bytes` bytes at `at`, a C++ global, in every image from now on.
void keep(void* at, uint32_t bytes);
// Keeps each of `globals` as its bytes, in the order given.
template <class... T>
void keep(T&... globals) {
    static_assert(sizeof...(T) > 0);
    static_assert((std::is_trivially_copyable_v<T> && ...), "state held in C++ containers is kept through a hook");
    (keep(static_cast<void*>(&globals), uint32_t(sizeof globals)), ...);
}

// State held in C++ containers: `save` gives it as bytes, `restore` puts back what save gave.
struct Hook {
    Bytes (*save)();
    void (*restore)(std::span<const uint8_t> bytes);
};
void keep(Hook hook);

// The state now, one piece per registered root, then per piece kept, in order.
std::vector<Bytes> save();
// True when `pieces` are as many as save gives and each fixed-size one has its size: restore may then
// put them back.
bool fits(std::span<const std::span<const uint8_t>> pieces);
// Puts back the pieces save gave (fits holds).
void restore(std::span<const std::span<const uint8_t>> pieces);

}  // namespace oka::image_state
