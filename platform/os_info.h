/* What the library's small system routines ask of the operating system: whether a path exists, making
   one directory, and the description of the system the process runs on.

   Rules: paths are UTF-8; failures are plain false answers, never exceptions. */
#pragma once

#include <string>

namespace oka::platform {

// True when the path names an existing file or directory.
bool path_exists(const char* utf8_path);
// Makes one directory (its parent must exist); false on failure.
bool make_directory(const char* utf8_path);

struct OsInfo {
    std::string name;          // the system's name and release, "Linux 6.1.0-13-amd64"
    std::string architecture;  // the processor's, as the language names it: "x86-64", "ARM64" ...
    int version[3];            // the first three numbers of the release
    int build;                 // the number after them, 0 when there is none
};
OsInfo os_info();

}  // namespace oka::platform
