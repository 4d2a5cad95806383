// read-clipboard and write-clipboard: values to and from the clipboard's formats (platform/clipboard.h).
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "library/routines.h"
#include "platform/clipboard.h"
#include "platform/os.h"
#include "runtime/error.h"
#include "runtime/image_store.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::library {

namespace {

namespace clipboard = platform::clipboard;
using clipboard::Entry;
using clipboard::Format;

Cell* text_at(Cell* cell, Type type, const std::string& text) {
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    *cell = Cell::of(type).set_node(node);
    return cell;
}

// The files as a block of file! values, made in `cell`.
void files_at(Cell* cell, const std::vector<uint8_t>& uri_list) {
    Cell* files = block::make_at(stack::push_next(), 4);
    for (const std::string& path : clipboard::files_of(uri_list))
        block::rs_append(*files, *text_at(stack::push_next(), Type::File, path)), stack::pop(1);
    *cell = *files;
    stack::pop(1);
}

// An image of the process's own pixels format: width, height, then the pixels.
void pixels_at(Cell* cell, const std::vector<uint8_t>& bytes) {
    uint32_t size[2] = {0, 0};
    if (bytes.size() >= 8) std::memcpy(size, bytes.data(), 8);
    if (!os_image::fits_q(size[0], size[1]) || bytes.size() - 8 != uint64_t(size[0]) * size[1] * 4)
        return (void)none::make_at(cell);
    image::make_from_argb(cell, size[0], size[1], bytes.data() + 8);
}

void value_at(Cell* cell, const Entry& entry) {
    switch (entry.format) {
    case Format::text: text_at(cell, Type::String, std::string(entry.bytes.begin(), entry.bytes.end())); break;
    case Format::files: files_at(cell, entry.bytes); break;
    case Format::pixels: pixels_at(cell, entry.bytes); break;
    default:  // an image file
        *cell = *image::load_binary(*binary::load(entry.bytes.data(), uint32_t(entry.bytes.size())));
        stack::pop(2);
    }
}

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::string absolute(std::string path) {
    if (path.starts_with('/')) return path;
    std::string folder = platform::get_current_dir();
    if (!folder.ends_with('/')) folder += '/';
    return folder + path;
}

std::vector<std::string> paths_of(const Cell& block) {
    std::vector<std::string> paths;
    uint32_t length = block::rs_length_q(block);
    for (uint32_t i = block.head(); i < length; i++) {
        const Cell& value = *block::rs_abs_at(block, i);
        if (!value.is(Type::File) && !value.is(Type::String)) fire(Err::script_invalid_arg, &value);
        paths.push_back(absolute(file::os_path_checked(value)));
    }
    return paths;
}

// An image as PNG bytes and as the process's own pixels; nothing for an image without pixels.
std::vector<Entry> image_entries(const Cell& image) {
    if (image::pixel_count(image) == 0) return {};
    std::vector<uint8_t> png = binary::encode(image::encode(image, 1), -1, {});
    stack::pop(1);
    uint32_t size[2] = {image::width_of(image), image::height_of(image)};
    std::vector<uint8_t> pixels(8);
    std::memcpy(pixels.data(), size, 8);
    os_image::Lock lock(image::pixels_of(image), false);
    auto words = reinterpret_cast<const uint8_t*>(lock.pixels().data());
    pixels.insert(pixels.end(), words, words + lock.pixels().size_bytes());
    return {{Format::png, std::move(png)}, {Format::pixels, std::move(pixels)}};
}

std::vector<Entry> entries_of(const Cell& value) {
    switch (value.type()) {
    case Type::None: return {};
    case Type::String: return {{Format::text, bytes_of(binary::utf8_of(value))}};
    case Type::Block: return {{Format::files, clipboard::uri_list_of(paths_of(value))}};
    case Type::Image: return image_entries(value);
    default: fire(Err::script_invalid_arg, &value);
    }
}

}  // namespace

// false when the clipboard cannot be reached, none when it holds none of the formats.
void read_clipboard_r(Cell* arguments) {
    clipboard::Content content = clipboard::read();
    if (!content.reached) return (void)logic::make_at(arguments, false);
    if (!content.entry) return (void)none::make_at(arguments);
    value_at(arguments, *content.entry);
}

void write_clipboard_r(Cell* arguments) { logic::make_at(arguments, clipboard::write(entries_of(arguments[0]))); }

}  // namespace oka::library
