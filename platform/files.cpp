#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace oka::platform {

int open_file(const char* path, uint32_t modes) {
    if (!(modes & kOpenWrite)) {
        int fd = open(path, O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (fd >= 0 && (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
            close(fd);
            return -1;
        }
        return fd;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!(modes & (kOpenAppend | kOpenSeek))) flags |= O_TRUNC;
    return open(path, flags, 0666);
}

void close_file(int fd) { close(fd); }

int64_t file_size(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    return int64_t(info.st_size);
}

bool seek_file(int fd, int64_t offset) { return lseek(fd, off_t(offset), SEEK_SET) >= 0; }

bool seek_end(int fd) { return lseek(fd, 0, SEEK_END) >= 0; }

int64_t read_data(int fd, void* buffer, size_t n) {
    auto* next = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < n) {
        ssize_t got = read(fd, next + done, n - done);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += size_t(got);
    }
    return int64_t(done);
}

int64_t write_data(int fd, const void* bytes, size_t n) {
    auto* next = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (done < n) {
        ssize_t written = write(fd, next + done, n - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += size_t(written);
    }
    return int64_t(done);
}

int64_t size_of(const char* path) {
    int fd = open_file(path, kOpenRead);
    if (fd < 0) return -1;
    int64_t size = file_size(fd);
    close_file(fd);
    return size;
}

std::optional<FileTime> modified_time(const char* path) {
    struct stat info;
    tm fields;
    if (stat(path, &info) != 0 || !gmtime_r(&info.st_mtim.tv_sec, &fields)) return std::nullopt;
    return FileTime{
        fields.tm_year + 1900,        fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
        int32_t(info.st_mtim.tv_nsec)};
}

namespace {

// A folder entry's kind, following a symbolic link to what it names as stat does.
bool entry_is_dir(DIR* folder, const dirent* entry) {
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return entry->d_type == DT_DIR;
    struct stat info;
    return fstatat(dirfd(folder), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<std::vector<std::string>> list_dir(const char* path) {
    DIR* folder = opendir(path);
    if (!folder) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (entry_is_dir(folder, entry)) name += '/';
        names.push_back(std::move(name));
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

bool path_exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

bool make_directory(const char* path) { return mkdir(path, 0777) == 0; }

bool delete_file(const char* path) { return unlink(path) == 0; }

bool delete_dir(const char* path) { return rmdir(path) == 0; }

bool rename_file(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system that cannot refuse to replace: the target is looked for first.
    struct stat info;
    return lstat(to, &info) != 0 && errno == ENOENT && rename(from, to) == 0;
}

}  // namespace oka::platform
