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
// missing and empties it unless kOpenAppend or kOpenSeek is given. A file descriptor, or -1 with errno
// telling why.
int open_file(const char* path, uint32_t modes);
void close_file(int fd);

// A file written anew as a whole. The bytes go to a temporary file in the same folder, which takes the
// old file's place (rename) only once every byte is written and the file closed: a write that cannot
// finish (a full disk) leaves the old file as it was. The new file gets the old one's permissions (and
// owner, where the process may set it), or those a new file would get. A symbolic link is followed: the
// file it names is replaced, or made. What a temporary file cannot stand in for is written in place,
// emptied first: something that is no regular file (a device, a pipe), a file of more than one name (a
// hard link would lose it), and a file in a folder where the process may not make one.
class NewFile {
public:
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    // An unfinished file is abandoned: a temporary file is removed, the old file kept.
    ~NewFile();

    // Opens the file to write to: 0, or the errno of the failure (a file that may not be written
    // fails as opening it for writing would).
    int open(const char* path);
    int fd() const { return fd_; }
    // Closes the file and puts it in place: 0, or the errno of the failure, which leaves the old file.
    int finish();

private:
    int fd_ = -1;
    std::string path_, temporary_;  // temporary_: empty when writing in place
};

// The size in bytes of an open file: 0 for one that tells none (a pipe, a device, a file of /proc),
// whose bytes are known only once read to the end.
int64_t file_size(int fd);
// Moves to a byte offset from the start, or to the end.
bool seek_file(int fd, int64_t offset);
bool seek_end(int fd);

// Reads up to n bytes, going on after short reads until n are read or the file ends: the count read, or
// -1 when reading failed.
int64_t read_data(int fd, void* buffer, size_t n);
// Writes all n bytes, resuming after partial writes: n, or -1 with errno when writing failed.
int64_t write_data(int fd, const void* bytes, size_t n);

// The size of the file the path names, from its entry (nothing is opened, so a pipe answers at once):
// -1 for a folder, a file that is missing or that may not be read; 0 for what tells no size (a pipe, a
// device).
int64_t size_of(const char* path);

// A moment of the UTC calendar.
struct FileTime {
    int32_t year, month, day, hour, minute, second, nanoseconds;
};
// The time the file or folder was last written to, in UTC.
std::optional<FileTime> modified_time(const char* path);

// The names in a folder, as the system gives their bytes, "." and ".." left out, each folder's with "/"
// appended, in byte order. Nothing when the folder cannot be listed.
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

// The system's text for an errno value ("No space left on device").
std::string error_text(int error);

}  // namespace oka::platform
