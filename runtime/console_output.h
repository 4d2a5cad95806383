/* The console writer: where every piece of text the run-time prints ends.

   Text arrives as units of 1, 2 or 4 bytes, each unit a code point (1-byte units are Latin-1), and
   leaves as UTF-8 on standard output (file descriptor 1). ANSI escape sequences are code points like
   any other and reach the terminal unchanged. A line ends with a single LF. C text (prin_cstring and
   the number prints) is already bytes and is written as it stands.

   Rules: unit text is batched through one 1024-byte buffer, written whenever more than 1020 bytes are
   pending, and every entry point empties it before it returns (a throw included), so writers never
   interleave. Each piece written is then handed to the part hooks (runtime/print_hooks.h). A code
   point above U+10FFFF raises invalid-char; a surrogate code point becomes U+FFFD, so the output is
   always valid UTF-8. */
#pragma once

#include <cstdint>

namespace oka::console {

// Takes the buffers from the tracked heap and notes whether standard output is a terminal. Only
// prin_cstring may run before it (a start-up failure must still be reported).
void init_output();
bool output_is_terminal();

// Writes byte_length bytes of `unit`-byte text, then a line end when `newline` is set. A unit size
// other than 1, 2 or 4 ends the process with runtime error 101.
void write_text(const void* text, uint32_t byte_length, int unit, bool newline);

// write_text for each unit size; print_* adds the line end.
void prin_latin1(const void* text, uint32_t byte_length);
void print_latin1(const void* text, uint32_t byte_length);
void prin_ucs2(const void* text, uint32_t byte_length);
void print_ucs2(const void* text, uint32_t byte_length);
void prin_ucs4(const void* text, uint32_t byte_length);
void print_ucs4(const void* text, uint32_t byte_length);

// Numbers as "%i", "%02X", "%08X", "%.16g" and "%.7g".
void prin_int(int32_t value);
void prin_hex2(uint32_t value);
void prin_hex8(uint32_t value);
void prin_float64(double value);
void prin_float32(float value);

}  // namespace oka::console

namespace oka::sys {

// Writes NUL-terminated bytes as they stand.
void prin_cstring(const char* text);

}  // namespace oka::sys
