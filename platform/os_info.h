/* The description of the system the process runs on, as the library's os-info routine gives it.

   Rules: a failure to read it is answered with "Linux" and unknown parts, never an exception. */
#pragma once

#include <string>

namespace oka::platform {

struct OsInfo {
    std::string name;          // the system's name and release, "Linux 6.1.0-13-amd64"
    std::string architecture;  // the processor's, as the language names it: "x86-64", "ARM64" ...
    int version[3];            // the first three numbers of the release
    int build;                 // the number after them, 0 when there is none
};
OsInfo os_info();

}  // namespace oka::platform
