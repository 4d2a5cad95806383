/* file!: a string holding a file path in the language's notation, a child of url! with its layout.
   Paths are POSIX paths as they stand: "/" separates the folders, a path that starts with "/" is
   absolute, one that ends with "/" names a folder.

   A file molds as "%" and its text: bare when every character may stand in a file literal, else between
   double quotes ("%" and "" for an empty one). A quoted literal reads caret escapes as a string does, so
   the few characters that would end it or start an escape are written as escapes: "^^" for a caret,
   "^(22)" for a double quote, "^/" for a line feed, "^@" for NUL; the other control characters are
   escaped as a string molds them ("^[" for escape), so that a name never reaches a terminal as a
   control sequence. An unquoted literal decodes percent escapes (%a%20b is "a b").

   It takes its constructors, form, path (joining: %dir/:name), comparison and series actions from
   url!; the file-system actions (read, write, query, delete, rename) are the I/O services', handed to
   init by start-up.

   Rules: as string!'s (datatypes/string.h): mold, to_local and the current folder allocate; os_path
   does not. */
#pragma once

#include <optional>
#include <span>
#include <string>

#include "runtime/registry.h"

namespace oka::file {

// Registers file! (after url!) with the file-system actions given.
void init(std::span<const ActionEntry> file_system);

// The path of a file! or string! from its head as the system takes it: UTF-8, nothing when it holds a
// NUL, which would cut it short.
std::optional<std::string> os_path(const Cell& path);
// The same, where a path holding a NUL raises script invalid-arg with it.
std::string os_path_checked(const Cell& path);
// Appends the path's system form to the string: the text as it stands, and with `full` a relative path
// after the current folder.
void to_local(const Cell& path, Cell* target, bool full);
// The current folder as a new string! pushed on the data stack, ending in "/".
Cell* push_current_dir();

}  // namespace oka::file
