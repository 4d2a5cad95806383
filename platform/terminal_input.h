/* What the bytes a terminal sends mean: keys (characters, control keys, and the named keys of
   platform/keys.def with their Shift, Alt and Ctrl modifiers), mouse reports in the SGR form, and the
   answer to a question for the cursor's position. One decoder serves the line editor and the views.

   decode_input reads the first event at the start of a buffer and says how many bytes it takes. A
   sequence that the buffer cuts short is `incomplete`, so that the caller keeps its bytes and decodes
   it whole once the rest arrived, unless the caller says that no more bytes will come (`ended`): then a
   lone Esc is the key Esc, a cut UTF-8 character U+FFFD and a cut escape sequence nothing.

   Esc followed by "[" starts a control sequence (its parameters, at most three kept, then a final
   byte), Esc "O" a key of the keypad form, Esc "P" and Esc "]" a device control string or an operating
   system command that runs to the string terminator (Esc "\" or BEL) and means nothing here. Esc before
   any other byte is the key Esc, and that byte the next key. Bytes that are no UTF-8 read as U+FFFD,
   one for each byte that starts no character, one for a whole sequence that decodes to an overlong form,
   a surrogate or a code point past U+10FFFF.

   Rules: no state and no I/O; every event but `incomplete` takes at least one byte. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::platform {

enum class Key : int {
#define KEY(name, code) name = code,
#include "platform/keys.def"
#undef KEY
};

inline constexpr int kKeyCount = 0
#define KEY(name, code) +1
#include "platform/keys.def"
#undef KEY
    ;
static_assert(kKeyCount == 26, "twenty-three named keys and three codes that are no key");

// The modifier bits of a key or a mouse report.
enum Modifier : uint32_t {
    kShift = 1,
    kAlt = 2,
    kControl = 4,
};

struct InputEvent {
    enum class Kind : uint8_t {
        key,            // `key`: a code point or a Key code, with `modifiers`
        mouse,          // `button` (the report's button byte), `x`, `y` (1-based), `released`
        cursor_report,  // `y` the row, `x` the column, 1-based
        ignored,        // a sequence that means nothing here
        incomplete,     // the buffer ends inside a sequence
    };
    Kind kind = Kind::ignored;
    uint32_t length = 0;  // the bytes the event takes
    int32_t key = 0;
    uint32_t modifiers = 0;
    int32_t button = 0, x = 0, y = 0;
    bool released = false;
};

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The first event of the `n` bytes at `bytes` (n > 0). With `ended`, no more bytes follow these.
InputEvent decode_input(const uint8_t* bytes, size_t n, bool ended);

}  // namespace oka::platform
