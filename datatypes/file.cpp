#include "datatypes/file.h"

#include <algorithm>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "platform/os.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::file {

namespace {

bool control_q(uint32_t code_point) { return code_point < 32 || (code_point >= 127 && code_point < 160); }

bool bare_q(uint32_t code_point) {
    return (code_point >= 0x80 && !control_q(code_point)) || url::bare_q(url::Table::file, code_point);
}

// What a quoted file literal writes for a character: the escape that keeps it from ending the literal
// or starting an escape, or nothing when the character stands as it is.
std::string_view quoted_escape(uint32_t code_point) {
    switch (code_point) {
    case '^': return "^^";
    case '"': return "^(22)";
    case '\n': return "^/";
    case 0: return "^@";
    default: return {};
    }
}

void write_char(Cell* buffer, uint32_t code_point, bool quoted, int32_t& written) {
    std::string_view escape = quoted ? quoted_escape(code_point) : std::string_view{};
    if (escape.empty() && quoted && control_q(code_point)) {
        uint32_t before = string::rs_length_q(*buffer);
        string::mold_escape_char(buffer, code_point, false);
        written += int32_t(string::rs_length_q(*buffer) - before);
    } else if (escape.empty()) {
        string::append_char(buffer->node(), code_point);
        written++;
    } else {
        string::concatenate_literal(buffer, escape.data(), uint32_t(escape.size()));
        written += int32_t(escape.size());
    }
}

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    string::Text text = string::text_of(*value);
    uint32_t count = options.limit ? std::min(text.length, uint32_t(std::max(part, 0))) : text.length;
    std::u32string chars(count, U'\0');
    for (uint32_t i = 0; i < count; i++) chars[i] = char32_t(text.at(i));
    bool quoted = chars.empty() || !std::all_of(chars.begin(), chars.end(), bare_q);
    string::concatenate_literal(buffer, quoted ? "%\"" : "%", quoted ? 2 : 1);
    int32_t written = quoted ? 2 : 1;
    for (char32_t c : chars) write_char(buffer, c, quoted, written);
    if (quoted) {
        string::concatenate_literal(buffer, "\"", 1);
        written++;
    }
    return part - written;
}

bool absolute_q(const Cell& path) { return string::rs_length_q(path) > 0 && string::text_of(path).at(0) == '/'; }

}  // namespace

void init(std::span<const ActionEntry> file_system) {
    string::register_text_child(Type::File,
                                {
                                    {Act::reflect, kUnsupported},
                                    inherits<Act::form>(),
                                    implements<Act::mold>(mold),
                                },
                                file_system);
}

std::optional<std::string> os_path(const Cell& path) {
    std::string text = binary::utf8_of(path);
    if (text.find('\0') != text.npos) return std::nullopt;
    return text;
}

std::string os_path_checked(const Cell& path) {
    std::optional<std::string> text = os_path(path);
    if (!text) fire(Err::script_invalid_arg, &path);
    return *text;
}

void to_local(const Cell& path, Cell* target, bool full) {
    if (full && !absolute_q(path)) {
        Cell* folder = push_current_dir();
        string::concatenate(*target, *folder, -1, 0, string::Mode::append);
        stack::pop(1);
    }
    string::concatenate(*target, path, -1, 0, string::Mode::append);
}

Cell* push_current_dir() {
    std::string folder = platform::get_current_dir();
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return string::load(reinterpret_cast<const uint8_t*>(folder.data()), uint32_t(folder.size()), unicode::kUtf8);
}

}  // namespace oka::file
