#include "platform/clipboard.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string_view>

#include "platform/process.h"

namespace oka::platform::clipboard {

namespace {

constexpr const char* kMediaTypes[] = {
#define OKA_CLIPBOARD_FORMAT(Name, media) media,
#include "platform/clipboard_formats.def"
};
constexpr size_t kFormatCount = std::size(kMediaTypes);
static_assert(kFormatCount == 6, "text, files, three image files and the pixels");

std::vector<Entry> own;  // this process's clipboard

// A desktop clipboard reached through its command-line tools; "{}" stands for the media type.
struct Desktop {
    const char* environment;  // set when the desktop runs
    std::vector<std::string> list, read, write, clear;
};

const Desktop kDesktops[] = {
    {"WAYLAND_DISPLAY",
     {"wl-paste", "--list-types"},
     {"wl-paste", "--no-newline", "--type", "{}"},
     {"wl-copy", "--type", "{}"},
     {"wl-copy", "--clear"}},
    {"DISPLAY",
     {"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"},
     {"xclip", "-selection", "clipboard", "-o", "-t", "{}"},
     {"xclip", "-selection", "clipboard", "-i", "-t", "{}"},
     {"xclip", "-selection", "clipboard", "-i", "/dev/null"}},
};

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

const Desktop* desktop() {
    for (const Desktop& d : kDesktops) {
        const char* running = std::getenv(d.environment);
        if (running && *running && on_path(d.list[0]) && on_path(d.write[0])) return &d;
    }
    return nullptr;
}

std::vector<std::string> with_media(std::vector<std::string> command, std::string_view media) {
    for (std::string& argument : command)
        if (argument == "{}") argument = media;
    return command;
}

// Runs a tool, three times at most, 1 ms apart, until it succeeds. Its output is not read when
// `output` is null: a tool that stays behind to serve the clipboard keeps no pipe of ours open.
bool run_tool(const std::vector<std::string>& command, const std::vector<uint8_t>* input, std::string* output) {
    for (int attempt = 0; attempt < 3; attempt++) {
        if (attempt) usleep(1000);
        ChildProcess child;
        child.arguments = command;
        if (input) child.input = {Stream::Kind::pipe, "", std::string(input->begin(), input->end())};
        if (output) child.output.kind = Stream::Kind::pipe;
        if (run_process(child) == 0) {
            if (output) *output = std::move(child.output.bytes);
            return true;
        }
    }
    return false;
}

// The format whose media type the desktop offers, the text types a desktop may name otherwise too.
bool offered_q(const std::vector<std::string>& types, Format format) {
    const char* media = kMediaTypes[size_t(format)];
    for (const std::string& type : types) {
        if (media && type == media) return true;
        if (format == Format::text && (type == "text/plain" || type == "UTF8_STRING")) return true;
    }
    return false;
}

Content read_desktop(const Desktop& d) {
    std::string listed;
    if (!run_tool(d.list, nullptr, &listed)) return {true, std::nullopt};  // nothing copied
    std::vector<std::string> types;
    std::istringstream lines(listed);
    for (std::string line; std::getline(lines, line);) types.push_back(line);
    for (size_t f = 0; f < kFormatCount; f++) {
        if (!offered_q(types, Format(f))) continue;
        std::string bytes;
        if (!run_tool(with_media(d.read, kMediaTypes[f]), nullptr, &bytes)) return {};
        return {true, Entry{Format(f), std::vector<uint8_t>(bytes.begin(), bytes.end())}};
    }
    return {true, std::nullopt};
}

bool write_desktop(const Desktop& d, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries)
        if (const char* media = kMediaTypes[size_t(entry.format)])
            return run_tool(with_media(d.write, media), &entry.bytes, nullptr);
    return run_tool(d.clear, nullptr, nullptr);
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

Content read() {
    if (const Desktop* d = desktop()) return read_desktop(*d);
    for (size_t f = 0; f < kFormatCount; f++)
        for (const Entry& entry : own)
            if (entry.format == Format(f)) return {true, entry};
    return {true, std::nullopt};
}

bool write(const std::vector<Entry>& entries) {
    own = entries;
    const Desktop* d = desktop();
    return !d || write_desktop(*d, entries);
}

std::vector<std::string> files_of(const std::vector<uint8_t>& uri_list) {
    std::vector<std::string> files;
    std::istringstream lines(std::string(uri_list.begin(), uri_list.end()));
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string_view uri = line;
        if (!uri.starts_with("file://")) continue;
        uri.remove_prefix(7);
        uri.remove_prefix(std::min(uri.find('/'), uri.size()));  // a host name, usually none
        std::string path;
        for (size_t i = 0; i < uri.size(); i++) {
            int high = i + 2 < uri.size() && uri[i] == '%' ? hex_digit(uri[i + 1]) : -1;
            int low = high >= 0 ? hex_digit(uri[i + 2]) : -1;
            if (low >= 0) {
                path += char(high << 4 | low);
                i += 2;
            } else {
                path += uri[i];
            }
        }
        if (!path.empty()) files.push_back(path);
    }
    return files;
}

std::vector<uint8_t> uri_list_of(const std::vector<std::string>& files) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string list;
    for (const std::string& file : files) {
        list += "file://";
        for (unsigned char c : file) {
            bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                         std::string_view("/-._~").find(char(c)) != std::string_view::npos;
            if (plain) {
                list += char(c);
            } else {
                list += '%';
                list += kHex[c >> 4];
                list += kHex[c & 15];
            }
        }
        list += "\r\n";
    }
    return {list.begin(), list.end()};
}

}  // namespace oka::platform::clipboard
