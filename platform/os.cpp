#include "platform/os.h"

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace oka::platform {

std::string program_path() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    return length > 0 && size_t(length) < sizeof path ? std::string(path, size_t(length)) : "";
}

uint64_t program_build_id() {
    uint64_t id = 0;
    // The first object listed is the program itself; its notes follow each other in its note segments.
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            for (int i = 0; i < info->dlpi_phnum; i++) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_NOTE) continue;
                auto* at = reinterpret_cast<const uint8_t*>(info->dlpi_addr + segment.p_vaddr);
                const uint8_t* end = at + segment.p_memsz;
                while (at + sizeof(ElfW(Nhdr)) <= end) {
                    auto* note = reinterpret_cast<const ElfW(Nhdr)*>(at);
                    const uint8_t* desc = at + sizeof(ElfW(Nhdr)) + ((note->n_namesz + 3) & ~3u);
                    if (note->n_type == NT_GNU_BUILD_ID && desc + note->n_descsz <= end) {
                        auto& id = *static_cast<uint64_t*>(found);
                        for (uint32_t k = 0; k < note->n_descsz; k++) id = id * 0x100000001B3u ^ desc[k];
                        id ^= info->dlpi_addr;
                        return 1;
                    }
                    at = desc + ((note->n_descsz + 3) & ~3u);
                }
            }
            return 1;
        },
        &id);
    return id;
}

std::string get_current_dir() {
    std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
    return path ? path.get() : "";
}

bool set_current_dir(const char* utf8_path) { return chdir(utf8_path) == 0; }

const char* get_env(const char* name) { return std::getenv(name); }

bool set_env(const char* name, const char* value) { return (value ? setenv(name, value, 1) : unsetenv(name)) == 0; }

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> variables;
    for (char** entry = environ; entry && *entry; entry++) {
        std::string_view text(*entry);
        size_t equals = text.find('=', 1);
        if (equals == text.npos) equals = text.size();
        variables.emplace_back(text.substr(0, equals), text.substr(std::min(equals + 1, text.size())));
    }
    return variables;
}

void sleep(double seconds) {
    uint32_t millis = sleep_millis(seconds);
    timespec rest{time_t(millis / 1000), long(millis % 1000) * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) continue;  // resume with the time left
}

uint32_t sleep_millis(double seconds) {
    double millis = seconds * 1000;
    if (!(millis >= 1)) return 1;  // NaN too
    return millis < UINT32_MAX ? uint32_t(millis) : UINT32_MAX;
}

double get_time(bool precise) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    double seconds = double(now.tv_sec % 86400);  // the system clock counts days of exactly 86400 s
    return precise ? seconds + now.tv_nsec * 1e-9 : seconds;
}

uint32_t get_date(bool utc) { return read_calendar(utc, false).date; }

Calendar read_calendar(bool utc, bool precise) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields;
    if (utc) {
        gmtime_r(&now.tv_sec, &fields);  // tm_gmtoff 0
    } else {
        tzset();  // a TZ set since the last call takes effect
        localtime_r(&now.tv_sec, &fields);
    }
    uint32_t zone = pack_zone(int(fields.tm_gmtoff / 60));
    double seconds = fields.tm_hour * 3600 + fields.tm_min * 60 + fields.tm_sec;
    return {pack_date(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, zone),
            precise ? seconds + now.tv_nsec * 1e-9 : seconds, int32_t(fields.tm_gmtoff)};
}

uint32_t pack_date(int year, int month, int day, uint32_t zone) {
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | zone;
}

uint32_t pack_zone(int offset_minutes) {
    uint32_t sign = offset_minutes < 0 ? 1 << 6 : 0;
    int magnitude = std::abs(offset_minutes);
    uint32_t hours = std::min(magnitude / 60, 15);  // the widest the field holds
    uint32_t quarters = magnitude % 60 / 15;
    return sign | hours << 2 | quarters;
}

bool read_file(const char* utf8_path, std::string& contents, size_t limit) {
    int fd = open(utf8_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char block[65536];
    ssize_t got = -1;
    while (contents.size() <= limit && (got = read(fd, block, sizeof block)) != 0) {
        if (got > 0)
            contents.append(block, size_t(got));
        else if (errno != EINTR)
            break;
    }
    close(fd);
    return got == 0 && contents.size() <= limit;
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

void write_all(int fd, const void* bytes, size_t n) {
    auto* next = static_cast<const char*>(bytes);
    while (n > 0) {
        ssize_t written = write(fd, next, n);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        next += written;
        n -= size_t(written);
    }
}

}  // namespace oka::platform
