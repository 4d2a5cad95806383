/* The random generator: the one process-wide source behind every `random` action.

   A twister of 624 32-bit words whose right shifts are arithmetic (they copy the sign bit), so its
   numbers are its own and not those of the textbook generator. Seeding tempers the seeded words
   themselves for the first 624 draws; the first twist comes with draw 625. Secure draws come from the
   kernel's random source instead. One thread uses it: the state is an unguarded global. */
#pragma once

#include <cstdint>

namespace oka::random {

// Seeds the generator with 19650218 and fixes the hash tables' seed. Runs once at start-up, before
// any hash table exists.
void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();
void seed(uint32_t value);

// The next draw of the twister, any of the 2^32 values.
int32_t next();
// A draw from the kernel's random source, 0 to 2147483647.
int32_t next_secure();
// A uniform integer from 1 to n, from n to -1 when n is negative, 0 for 0; from the secure source
// when asked.
int32_t int_(bool secure, int32_t n);

}  // namespace oka::random
