/* Small services of the operating system: working directory, environment, sleeping, the clock and the
   calendar, reading a whole file, and the standard output.

   Paths and environment strings are UTF-8 and passed through unchanged. Nothing here throws or prints;
   failures show in the return value wherever the caller can act on them.

   Dates are packed in the run-time's date word: year << 17 | month << 12 | day << 7 | zone, where
   bit 16 (set when the value also holds a time of day) stays clear. The 7-bit zone is the offset from
   UTC: bit 6 set when it is negative, bits 2-5 its whole hours, bits 0-1 its remaining quarter hours. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace oka::platform {

// The absolute working directory, or "" when it cannot be named (it was removed, say).
std::string get_current_dir();
bool set_current_dir(const char* utf8_path);

// The path of the running program, "" when it cannot be found.
std::string program_path();
// The identity of the running program's build as loaded: the build ID the linker gave it, folded to 64
// bits, with the address the program is loaded at (0 for a position-dependent one, whose functions
// have the same addresses in every run); 0 when it has no build ID.
uint64_t program_build_id();

// nullptr when `name` is not set. set_env with a null value removes the variable.
const char* get_env(const char* name);
bool set_env(const char* name, const char* value);
// Every variable of the environment as its name and value, in the environment's order. The name ends at
// the first "=" after its first character, so a name that begins with "=" keeps it.
std::vector<std::pair<std::string, std::string>> list_env();

// Sleeps sleep_millis(seconds) milliseconds: whole milliseconds, and at least one, so that a sleep
// always yields the processor.
void sleep(double seconds);
uint32_t sleep_millis(double seconds);

// The UTC time of day in seconds since midnight; whole unless precise, which adds the fraction.
double get_time(bool precise);

// Today's date word: the UTC date with zone 0, or the local date with the local offset from UTC.
uint32_t get_date(bool utc);
// The moment, read once from the clock: today's date word as get_date packs it, the time of day there
// in seconds (whole unless precise) and the offset from UTC in seconds (0 with utc), which the zone of
// the date word holds only to the quarter hour.
struct Calendar {
    uint32_t date;
    double seconds;
    int32_t offset;
};
Calendar read_calendar(bool utc, bool precise);
uint32_t pack_date(int year, int month, int day, uint32_t zone);
uint32_t pack_zone(int offset_minutes);

// Reads the whole file into `contents`; false when it cannot be opened or read (a directory, say) or
// holds more than `limit` bytes (a device that never ends, say).
bool read_file(const char* utf8_path, std::string& contents, size_t limit);

bool stdout_is_terminal();

// Writes all n bytes, resuming after partial writes and interruptions; stops at any other error.
void write_all(int fd, const void* bytes, size_t n);

}  // namespace oka::platform
