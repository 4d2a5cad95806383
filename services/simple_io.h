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
   - Failures: a file that cannot be opened, read or written, or a folder that cannot be listed, raises
     access cannot-open with the file; a result of 2 GiB or more raises internal no-memory; delete and
     rename answer false.

   Rules: every routine may allocate, raise, and touch the file system. */
#pragma once

#include <span>

#include "runtime/registry.h"

namespace oka::simple_io {

// The file-system actions of file!, for its registration.
std::span<const ActionEntry> file_actions();

// True when the spelling of a file! or string! names a folder (see above).
bool dir_q(const Cell& path);

}  // namespace oka::simple_io
