/* Files and folders of the operating system: opening, reading, writing and seeking files, their size and
   modification time, listing, deleting and renaming.

   Paths are NUL-terminated UTF-8, passed to the system unchanged. Nothing here throws, prints or knows
   of cells: a failure shows as -1, false or an empty answer, for the caller to turn into an error. Text
   is bytes here: no line ending is converted. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oka::platform {

// The modes of open_file, as bit flags.
inline constexpr uint32_t kOpenRead = 1, kOpenWrite = 2, kOpenAppend = 4, kOpenSeek = 8;

// Opens a file. Reading opens an existing file that is not a folder. Writing creates the file when it is
// missing and empties it unless kOpenAppend or kOpenSeek is given. A file descriptor, or -1.
int open_file(const char* path, uint32_t modes);
void close_file(int fd);

// The size in bytes of an open file: 0 for one that tells none (a pipe, a device, a file of /proc),
// whose bytes are known only once read to the end.
int64_t file_size(int fd);
// Moves to a byte offset from the start, or to the end.
bool seek_file(int fd, int64_t offset);
bool seek_end(int fd);

// Reads up to n bytes, going on after short reads until n are read or the file ends: the count read, or
// -1 when reading failed.
int64_t read_data(int fd, void* buffer, size_t n);
// Writes all n bytes, resuming after partial writes: n, or -1 when writing failed.
int64_t write_data(int fd, const void* bytes, size_t n);

// The size of the file the path names, or -1 when it cannot be opened for reading.
int64_t size_of(const char* path);

// A moment of the UTC calendar.
struct FileTime {
    int32_t year, month, day, hour, minute, second, nanoseconds;
};
// The time the file or folder was last written to, in UTC.
std::optional<FileTime> modified_time(const char* path);

// The names in a folder, "." and ".." left out, each folder's with "/" appended, in byte order.
// Nothing when the folder cannot be listed.
std::optional<std::vector<std::string>> list_dir(const char* path);

// True when the path names an existing file or folder.
bool path_exists(const char* path);
// Makes one folder (its parent must exist); false on failure.
bool make_directory(const char* path);

// Removes a file, or an empty folder.
bool delete_file(const char* path);
bool delete_dir(const char* path);
// Renames a file or folder; never replaces an existing target, which is a failure.
bool rename_file(const char* from, const char* to);

}  // namespace oka::platform
