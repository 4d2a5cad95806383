/* Fundamental definitions shared by every file of the run-time.

   Addresses: the language memory is one reserved region of 4 GiB (runtime/memory.h). Every address the
   memory model keeps in 32 bits (a node, a series buffer, a frame link) is an offset into that region;
   0 is the null address.

   Checks: OKA_CHECKS builds (the test build) assert internal invariants and the buffer-pointer rule of
   runtime/memory.h. A failed assertion ends the process with runtime error 98. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka {

using Addr = uint32_t;  // an offset into the language memory region, 0 = null
using Node = Addr;      // the address of a node slot, which holds the address of a series buffer

#if OKA_CHECKS
inline constexpr bool kChecks = true;
#else
inline constexpr bool kChecks = false;
#endif

[[noreturn]] void assertion_failed(const char* expression, const char* file, int line);

}  // namespace oka

// The few small functions that every evaluation step runs, which compilers would otherwise leave out of
// line inside the large functions of the interpreter.
#define OKA_ALWAYS_INLINE [[gnu::always_inline]] inline

#if OKA_CHECKS
#define OKA_ASSERT(cond) ((cond) ? (void)0 : ::oka::assertion_failed(#cond, __FILE__, __LINE__))
#else
#define OKA_ASSERT(cond) ((void)0)
#endif
