#include "platform/os_info.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <string_view>

namespace oka::platform {

namespace {

struct Architecture {
    std::string_view machine;
    const char* name;
};

constexpr Architecture kArchitectures[] = {
    {"x86_64", "x86-64"}, {"i386", "x86-32"}, {"i486", "x86-32"}, {"i586", "x86-32"}, {"i686", "x86-32"},
    {"aarch64", "ARM64"}, {"arm64", "ARM64"}, {"armv7l", "ARM"},  {"armv6l", "ARM"},  {"ia64", "IA-64"},
};

const char* architecture_of(std::string_view machine) {
    for (const Architecture& a : kArchitectures)
        if (a.machine == machine) return a.name;
    return "Unknown";
}

// Reads the numbers of a release text ("6.1.0-13-amd64": 6, 1, 0 and 13) into `numbers`; a number
// that is missing stays 0.
void read_numbers(const char* text, int* numbers, int count) {
    for (int i = 0; i < count; i++) numbers[i] = 0;
    for (int i = 0; i < count && *text; i++) {
        while (*text && (*text < '0' || *text > '9')) text++;
        char* end;
        numbers[i] = int(std::strtol(text, &end, 10) & 0xFFFF);
        text = end;
    }
}

}  // namespace

OsInfo os_info() {
    struct utsname names;
    if (uname(&names) != 0) return {"Linux", "Unknown", {0, 0, 0}, 0};
    int numbers[4];
    read_numbers(names.release, numbers, 4);
    return {std::string(names.sysname) + " " + names.release,
            architecture_of(names.machine),
            {numbers[0], numbers[1], numbers[2]},
            numbers[3]};
}

}  // namespace oka::platform
