#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {

// The path with a symbolic link at its end followed, as far as it leads to something that exists.
std::string followed(const char* path) {
    struct stat info;
    if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* target = realpath(path, nullptr);
    if (!target) return path;
    std::string resolved = target;
    std::free(target);
    return resolved;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The permissions a new file gets: those asked for, less the process's mask.
mode_t new_file_mode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

NewFile::~NewFile() {
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

int NewFile::open(const char* path) {
    path_ = followed(path);
    struct stat old;
    bool exists = stat(path_.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (exists && access(path_.c_str(), W_OK) != 0) return errno;
    // A link that names nothing yet is written through, making the file it names.
    bool replaced = exists ? S_ISREG(old.st_mode) && old.st_nlink == 1 : lstat(path_.c_str(), &old) != 0;
    if (replaced) {
        std::string name = folder_of(path_) + "/.oka-XXXXXX";
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            fd_ = fd;
            temporary_ = std::move(name);
            if (exists) {
                // Where the process may not give the file away, it becomes the process's own. The owner
                // goes first: changing it clears the set-user-id bits that the mode then restores.
                [[maybe_unused]] int given = fchown(fd_, old.st_uid, old.st_gid);
            }
            fchmod(fd_, exists ? old.st_mode & 07777 : new_file_mode());
            return 0;
        }
        if (errno != EACCES && errno != EPERM) return errno;
    }
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0 ? 0 : errno;
}

int NewFile::finish() {
    int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) return errno;
    if (temporary_.empty()) return 0;
    if (rename(temporary_.c_str(), path_.c_str()) != 0) return errno;
    temporary_.clear();
    return 0;
}

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
    struct stat info;
    if (stat(path, &info) != 0 || S_ISDIR(info.st_mode) || access(path, R_OK) != 0) return -1;
    return S_ISREG(info.st_mode) ? int64_t(info.st_size) : 0;
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

std::string error_text(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace oka::platform
