/* Non-local exits: break, continue, return, exit, throw, errors and quit.

   Every non-local exit is one C++ exception, Throw, carrying a 32-bit code; the value it carries (a
   thrown value, an error) sits in a rooted slot, never in the exception. A protected call runs code
   with a catch level: a throw whose code is at most the level (unsigned) is caught there, any other
   passes on. RAII guards restore what a throw must restore (stack tops, modes, locks). */
#pragma once

#include <cstdint>

namespace oka {

enum ThrowCode : uint32_t {
    kThrowError = 0x7FFFFFFF,
    kThrowBreak = 0x7FFFFFFE,
    kThrowContinue = 0x7FFFFFFD,
    kThrowReturn = 0x7FFFFFFC,
    kThrowExit = 0x7FFFFFFB,
    kThrowThrow = 0x7FFFFFFA,
    kThrowQuit = 0x0BADCAFE,  // quit with status 0, taken by the outermost frame
};

inline constexpr uint32_t kCatchAll = 0xFFFFFFFF;

struct Throw {
    uint32_t code;
};

namespace sys {

[[noreturn]] void throw_(uint32_t code);

// Runs `body` as a protected call at `level`: returns 0 when it returns normally, the code of a throw
// it caught (code <= level), and lets any other throw pass on.
template <class F>
uint32_t protect(uint32_t level, F&& body) {
    try {
        body();
        return 0;
    } catch (const Throw& t) {
        if (t.code > level) throw;
        return t.code;
    }
}

}  // namespace sys

}  // namespace oka
