#include "runtime/console_output.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/os.h"
#include "platform/signals.h"
#include "platform/terminal.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/unicode.h"

namespace oka::console {

namespace {

constexpr uint32_t kBufferBytes = 1024;
constexpr uint32_t kFlushAbove = 1020;
static_assert(kFlushAbove + 4 <= kBufferBytes, "one more code point always fits before a flush");
constexpr uint32_t kFormatBytes = 64;

char* output = nullptr;  // the batch of UTF-8 bytes not yet written
uint32_t pending = 0;
char* format_buffer = nullptr;
bool terminal = false;

// A failed write loses that text: there is nowhere left to report it.
void write_out(const char* bytes, uint32_t length) {
    platform::out_write(bytes, length);
    io::call_print_part_hooks(bytes, length);
}

void flush() {
    uint32_t length = pending;
    pending = 0;
    if (length > 0) write_out(output, length);
}

[[noreturn]] void raise_invalid_char(uint32_t code_point) {
    flush();
    error::fire_with_integer(Err::script_invalid_char, int32_t(code_point));
}

// Every unit is a code point of its own, so a surrogate is never half of a pair here.
void put_code_point(uint32_t code_point) {
    if (code_point > unicode::kMaxCodePoint) raise_invalid_char(code_point);
    if (unicode::surrogate_q(code_point)) code_point = unicode::kReplacementCharacter;
    pending += unicode::cp_to_utf8(code_point, reinterpret_cast<uint8_t*>(output + pending));
    if (pending > kFlushAbove) flush();
}

template <class Unit>
void put_units(const uint8_t* text, uint32_t byte_length) {
    for (uint32_t at = 0; at + sizeof(Unit) <= byte_length; at += sizeof(Unit)) {
        Unit unit;
        std::memcpy(&unit, text + at, sizeof unit);  // text of any alignment
        put_code_point(unit);
    }
}

[[gnu::format(printf, 1, 2)]] void prin_formatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(format_buffer, kFormatBytes, format, args);
    va_end(args);
    sys::prin_cstring(format_buffer);
}

}  // namespace

void init_output() {
    output = static_cast<char*>(sys::allocate(kBufferBytes));
    format_buffer = static_cast<char*>(sys::allocate(kFormatBytes));
    terminal = isatty(1);
}

bool output_is_terminal() { return terminal; }

void write_text(const void* text, uint32_t byte_length, int unit, bool newline) {
    const auto* bytes = static_cast<const uint8_t*>(text);
    switch (unit) {
    case 1: put_units<uint8_t>(bytes, byte_length); break;
    case 2: put_units<uint16_t>(bytes, byte_length); break;
    case 4: put_units<uint32_t>(bytes, byte_length); break;
    default: sys::quit(101, OKA_CALLER_ADDRESS());
    }
    if (newline) output[pending++] = '\n';
    flush();
}

void prin_latin1(const void* text, uint32_t byte_length) { write_text(text, byte_length, 1, false); }
void print_latin1(const void* text, uint32_t byte_length) { write_text(text, byte_length, 1, true); }
void prin_ucs2(const void* text, uint32_t byte_length) { write_text(text, byte_length, 2, false); }
void print_ucs2(const void* text, uint32_t byte_length) { write_text(text, byte_length, 2, true); }
void prin_ucs4(const void* text, uint32_t byte_length) { write_text(text, byte_length, 4, false); }
void print_ucs4(const void* text, uint32_t byte_length) { write_text(text, byte_length, 4, true); }

void prin_int(int32_t value) { prin_formatted("%i", value); }
void prin_hex2(uint32_t value) { prin_formatted("%02X", value); }
void prin_hex8(uint32_t value) { prin_formatted("%08X", value); }
void prin_float64(double value) { prin_formatted("%.16g", value); }
void prin_float32(float value) { prin_formatted("%.7g", double(value)); }

}  // namespace oka::console

namespace oka::sys {

// C text goes out in one write, bypassing the batch (empty between entry points), so that the part
// hooks see it whole.
void prin_cstring(const char* text) { console::write_out(text, uint32_t(std::strlen(text))); }

}  // namespace oka::sys
