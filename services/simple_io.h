/* The file services: whole files read into a binary!, a string! or a block of lines and written back,
   folders listed and deleted, files renamed, deleted and asked when they were last written. They are
   the file-system actions of file! (read, write, query, delete, rename), which start-up hands to
   file::init; the system calls are the platform's (platform/files.h).

   - Text goes out as UTF-8 and comes in from it; a line written with /lines ends with LF, and a line
     read with /lines loses its LF and a CR before it. Other line ends pass unchanged.
   - A path that ends with "/", or that is "." or ".." or ends with "/." or "/..", names a folder: read
     lists it (its sub-folders' names ending in "/", in byte order) and delete removes it.
   - /part and /seek count bytes; each must be a non-negative integer!. A seek at or past the end reads
     nothing. A file that tells no size (a pipe, a file of /proc) is read once to its end.
   - A write that replaces a file (without /append or /seek) goes to a new file that takes the old
     one's place once it is whole (platform::NewFile): a write that fails leaves the old file.
   - Failures: a file that cannot be opened or read, or a folder that cannot be listed, raises access
     cannot-open with the file; one that cannot be written raises access cannot-write with the file and
     the system's reason; a result of 2 GiB or more raises internal no-memory; delete and rename answer
     false.

   Rules: every routine may allocate, raise, and touch the file system. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>

#include "runtime/registry.h"

namespace oka::simple_io {

// The most bytes a series holds: what comes from outside (a file, a server, a child's output) beyond
// that raises internal no-memory instead of growing without end.
inline constexpr size_t kLargestSeries = std::numeric_limits<int32_t>::max();

// The file-system actions of file!, for its registration.
std::span<const ActionEntry> file_actions();

// True when the spelling of a file! or string! names a folder (see above).
bool dir_q(const Cell& path);

// Bytes as read: a new binary! with `binary`, a block of the lines' strings with `lines`, else a string!
// of their UTF-8 text (invalid UTF-8 raises access invalid-utf8). Pushed on the data stack.
const Cell* bytes_to_value(const uint8_t* bytes, size_t length, bool binary, bool lines);

// The system's or a library's words for a failure ("No space left on device"), as a string! pushed on
// the data stack: the reason an access error gives.
Cell* reason_of(const std::string& text);

// ---- HTTP ----

// The actions of url! that reach out (open, read, write), for its registration.
std::span<const ActionEntry> url_actions();

// A map! of response header lines "Name: value", each ended by LF or CR LF (the last one may end with
// the text): the word of each name, case ignored, to its value as a string, or to a block of its values
// in order when the name comes more than once. The space after the colon is dropped; a line without a
// colon is skipped. Pushed on the data stack.
Cell* parse_headers(std::string_view text);

}  // namespace oka::simple_io
