/* The clipboard: text, a list of files and images moved between programs. The process keeps a
   clipboard of its own; where the desktop's clipboard can be reached (wl-copy and wl-paste on Wayland,
   xclip on X11, found on PATH), reads come from it and writes go to it as well.

   - Formats (platform/clipboard_formats.def): text is UTF-8; files are a URI list ("file://" URIs with
     %-escapes, one a line); png, jpeg and gif are the files' bytes; pixels (the process's own) are the
     width and height as two 32-bit words, then the 32-bit pixels row by row, top row first.
   - A write offers every entry given to this process's clipboard; the desktop takes the first entry it
     has a media type for.
   - The desktop's clipboard is tried three times, 1 ms apart, before it counts as unreachable.

   Rules: nothing here knows of cells; file paths are bytes as the system gives them. */
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oka::platform::clipboard {

enum class Format : uint8_t {
#define OKA_CLIPBOARD_FORMAT(Name, media) Name,
#include "platform/clipboard_formats.def"
};

struct Entry {
    Format format;
    std::vector<uint8_t> bytes;
};

// What a read found.
struct Content {
    bool reached = false;        // false: the clipboard could not be reached
    std::optional<Entry> entry;  // the first format present in read order; none when it holds none
};

Content read();
// Replaces the clipboard's content by the entries (none empties it); false when it cannot be reached.
bool write(const std::vector<Entry>& entries);

// The files of a URI list, and the list of files.
std::vector<std::string> files_of(const std::vector<uint8_t>& uri_list);
std::vector<uint8_t> uri_list_of(const std::vector<std::string>& files);

}  // namespace oka::platform::clipboard
