#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/words.h"
#include "runtime/console_output.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/image_store.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/stack.h"

namespace oka::image {

namespace {

Cell* arg(int k) { return stack::arguments() + k; }

Codecs codecs;

// The signatures that start image files, in the order they are tried, with their containers.
struct Signature {
    std::string_view bytes;
    int container;
};
using namespace std::string_view_literals;
constexpr Signature kSignatures[] = {
    {"\x89PNG"sv, 1}, {"\xFF\xD8\xFF"sv, 3}, {"BM"sv, 0},    {"GIF87a"sv, 2},
    {"GIF89a"sv, 2},  {"II*\0"sv, 4},        {"MM\0*"sv, 4},
};
static_assert(std::size(kSignatures) == 7, "PNG, JPEG, BMP, two of GIF and two of TIFF");

// ---- records ----

Cell* empty_at(Cell* cell, uint32_t width = 0, uint32_t height = 0) {
    *cell = Cell::of(Type::Image).set_image_size(height << 16 | width);
    return cell;
}

// Makes `cell` (fixed) an image over new pixels that `make_pixels` gives as a handle of the image
// layer. The record is allocated first: the pixels' handle is kept only through a record, so nothing may
// collect between making the pixels and naming them from the cell.
template <class MakePixels>
Cell* image_at(Cell* cell, MakePixels make_pixels) {
    Node record = alloc::alloc_series(sizeof(int32_t), 1, 0);
    int32_t handle = make_pixels();
    *mem::ptr<int32_t>(mem::buffer(record)->offset) = handle;
    *cell =
        Cell::of(Type::Image).set_node(record).set_image_size(os_image::height(handle) << 16 | os_image::width(handle));
    return cell;
}

// ---- pixels as tuples ----

// The first four bytes of a tuple as one word, the first byte lowest.
uint32_t tuple_word(const Cell& tuple) {
    uint32_t word;
    std::memcpy(&word, tuple.tuple_bytes().data(), sizeof word);
    return word;
}

uint32_t pixel_of_tuple(const Cell& tuple) {
    Bytes12 bytes = tuple.tuple_bytes();
    uint32_t alpha = tuple::length_of(tuple) >= 4 ? 255u - bytes[3] : 255u;
    return alpha << 24 | uint32_t(bytes[0]) << 16 | uint32_t(bytes[1]) << 8 | bytes[2];
}

Cell* tuple_of_pixel(Cell* cell, uint32_t pixel) {
    const uint8_t bytes[4] = {uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel), uint8_t(255 - (pixel >> 24))};
    return tuple::make_at(cell, bytes, 4);
}

// ---- positions ----

// The absolute pixel index that an index (an integer, or a pair column x row) names from the head:
// one-based counts index 1 as the head. `outside` is set when the index lies outside the image;
// the result is then clamped to 0 or the tail.
uint32_t get_position(const Cell& image, const Cell& index, bool one_based, bool* outside = nullptr) {
    int64_t w = width_of(image), n = pixel_count(image), i = 0;
    bool out = false;
    if (index.is(Type::Pair)) {
        int64_t x = pair::x_of(index), y = pair::y_of(index), h = height_of(image);
        out = one_based ? x > w || x <= 0 || y > h || y <= 0 : x >= w || x < 0 || y >= h || y < 0;
        if (one_based && y > 0) y--;
        i = y * w + x;
    } else if (index.is(Type::Integer)) {
        i = integer::get(index);
    } else {
        fire(Err::script_invalid_arg, &index);
    }
    int64_t pos = int64_t(image.head()) + i - (one_based && i > 0 ? 1 : 0);
    if (pos < 0 || pos >= n) {
        pos = pos < 0 ? 0 : n;
        i = 0;
    }
    if (outside) *outside = out || i == 0;
    return uint32_t(pos);
}

// ---- planes ----

BufPtr<uint8_t> bytes_from_head(const Cell& binary, uint32_t* count) {
    *count = series::rs_length_q(binary);
    return series::unit_at(binary, std::min(binary.head(), series::rs_buffer_length_q(binary)));
}

void set_plane_from_bytes(std::span<uint32_t> pixels, const Cell& binary, Plane plane) {
    uint32_t count;
    BufPtr<uint8_t> at = bytes_from_head(binary, &count);
    const uint8_t* bytes = at.get();
    switch (plane) {
    case Plane::argb: std::memcpy(pixels.data(), bytes, std::min<size_t>(pixels.size() * 4, count)); return;
    case Plane::rgb:
        for (size_t i = 0; i < std::min<size_t>(pixels.size(), count / 3); i++)
            pixels[i] = (pixels[i] & 0xFF000000) | uint32_t(bytes[3 * i]) << 16 | uint32_t(bytes[3 * i + 1]) << 8 |
                        bytes[3 * i + 2];
        return;
    case Plane::alpha:
        for (size_t i = 0; i < std::min<size_t>(pixels.size(), count); i++)
            pixels[i] = (pixels[i] & 0x00FFFFFF) | uint32_t(255 - bytes[i]) << 24;
        return;
    }
}

// A tuple's or an integer's payload word v, r in its lowest byte.
void set_plane_from_word(std::span<uint32_t> pixels, uint32_t v, Plane plane) {
    uint32_t colour = (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
    for (uint32_t& p : pixels) {
        switch (plane) {
        case Plane::argb: p = (255 - (v >> 24)) << 24 | colour; break;
        case Plane::rgb: p = (p & 0xFF000000) | colour; break;
        case Plane::alpha: p = (p & 0x00FFFFFF) | ((255 - v) & 0xFF) << 24; break;
        }
    }
}

const Cell* set_data(Cell* image, Cell* value, Plane plane) {
    if (!value->is(Type::Binary) && !value->is(Type::Tuple) && !value->is(Type::Integer))
        fire(Err::script_invalid_arg, value);
    if (pixel_count(*image) == 0) return value;
    os_image::Lock lock(pixels_of(*image), true);
    if (value->is(Type::Binary))
        set_plane_from_bytes(lock.pixels(), *value, plane);
    else
        set_plane_from_word(lock.pixels(), value->is(Type::Tuple) ? tuple_word(*value) : uint32_t(value->int32()),
                            plane);
    return value;
}

// ---- make, to, copy ----

// The pixels of a new image from its planes (white and opaque where they run out) or one colour.
int32_t make_pixels(uint32_t w, uint32_t h, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    if (colour) return os_image::make(w, h, pixel_of_tuple(*colour));
    int32_t handle = os_image::make(w, h, 0xFFFFFFFF);
    os_image::Lock lock(handle, true);
    if (rgb) set_plane_from_bytes(lock.pixels(), *rgb, Plane::rgb);
    if (alpha) set_plane_from_bytes(lock.pixels(), *alpha, Plane::alpha);
    return handle;
}

Cell* make_sized(Cell* cell, const Cell& size, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    int64_t w = std::max(pair::x_of(size), 0), h = std::max(pair::y_of(size), 0);
    if (!os_image::fits_q(w, h)) fire(Err::script_out_of_range, &size);
    if (w == 0 || h == 0) return empty_at(cell, uint32_t(w), uint32_t(h));
    return image_at(cell, [&] { return make_pixels(uint32_t(w), uint32_t(h), rgb, alpha, colour); });
}

Cell* copy_rect(const Cell& image, Cell* result, uint32_t x, uint32_t y, int64_t w, int64_t h) {
    if (w < 1 || h < 1) return empty_at(result);
    Cell source = image;  // the argument stays on the stack, so its record lives through the allocation
    return image_at(result, [&] { return os_image::copy_rect(pixels_of(source), x, y, uint32_t(w), uint32_t(h)); });
}

// copy /part with a pair: a rectangle from the head's column and row; a negative pair reaches up and left.
Cell* copy_part_pair(const Cell& image, Cell* result, const Cell& part) {
    int64_t w = width_of(image), h = height_of(image), o = image.head();
    int64_t px = pair::x_of(part), py = pair::y_of(part), x = o % w, y = o / w;
    if (px > 0 && py > 0 && o < w * h)
        return copy_rect(image, result, uint32_t(x), uint32_t(y), std::min(w - x, px), std::min(h - y, py));
    if (!(px < 0 && py < 0 && o > 0)) return empty_at(result);
    int64_t width = -px, height = -py;
    if (x == 0) x = w;
    if (width > x)
        width = x, x = 0;
    else
        x -= width;
    if (y < h) y++;
    if (height > y)
        height = y, y = 0;
    else
        y -= height;
    return copy_rect(image, result, uint32_t(x), uint32_t(y), width, height);
}

const Cell* copy(Cell* value, Cell* result, const CopyOptions& options) {
    int64_t w = width_of(*value), h = height_of(*value), o = value->head();
    if (w == 0 || h == 0) return empty_at(result);
    const Cell* part = options.part;
    if (!part) return copy_rect(*value, result, uint32_t(o % w), uint32_t(o / w), w - o % w, h - o / w);
    if (part->is(Type::Integer)) fire(Err::internal_not_done);
    if (part->is(Type::Pair)) return copy_part_pair(*value, result, *part);
    if (!part->is(Type::Image) || part->node() != value->node()) error::fire_refinement("part", part);
    int64_t s = std::min(value->head(), part->head()), e = std::max(value->head(), part->head());
    return copy_rect(*value, result, uint32_t(s % w), uint32_t(s / w), e % w - s % w, e / w - s / w);
}

const Cell* make(Cell* proto, Cell* spec, Type) {
    Cell* result = stack::push_next();
    empty_at(result);
    if (spec->is(Type::Pair)) return make_sized(result, *spec, nullptr, nullptr, nullptr);
    if (!spec->is(Type::Block)) return actions::call<Act::to>(proto, spec, Type::Image);
    uint32_t length = series::rs_length_q(*spec);
    if (length == 0) {
        if (!proto->is(Type::Image)) fire(Err::script_invalid_arg, spec);
        return copy(proto, result, {});
    }
    Cell items[3];
    for (uint32_t i = 0; i < std::min(length, 3u); i++) items[i] = *block::rs_abs_at(*spec, spec->head() + i);
    if (!items[0].is(Type::Pair)) fire(Err::script_invalid_arg, &items[0]);
    const Cell *rgb = nullptr, *colour = nullptr, *alpha = nullptr;
    if (length > 1) {
        if (items[1].is(Type::Binary))
            rgb = &items[1];
        else if (items[1].is(Type::Tuple))
            colour = &items[1];
        else
            fire(Err::script_invalid_arg, &items[1]);
    }
    if (length > 2) {
        if (!items[2].is(Type::Binary)) fire(Err::script_invalid_arg, &items[2]);
        alpha = &items[2];
    }
    // The binaries stay in the spec block, which the frame holds, through the allocation.
    return make_sized(result, items[0], rgb, alpha, colour);
}

// A face: an object with the fields every face has.
bool is_face(const Cell& value) {
    if (!value.is(Type::Object)) return false;
    for (const char* name : {"type", "offset", "size", "parent", "pane", "state", "para", "font", "actors"})
        if (object::find_word(value, symbol::make(name)) < 0) return false;
    return true;
}

const Cell* to(Cell*, Cell* spec, Type) {
    // The text-mode views make no image of a face: converting one gives none rather than failing.
    if (is_face(*spec)) return stack::push(none::value);
    if (!spec->is(Type::Image)) error::fire_on_type(Err::script_bad_to_arg, Type::Image, spec);
    return copy(spec, stack::push_next(), {});
}

// ---- pick, poke, change ----

Cell picked;

// The index as a cell: a caller from C++ (foreach) may give only the number.
Cell index_value(int32_t index, const Cell* index_cell) {
    Cell value;
    return index_cell ? *index_cell : *integer::make_at(&value, index);
}

const Cell* pick(Cell* image, int32_t index, Cell* index_cell) {
    bool outside;
    uint32_t pos = get_position(*image, index_value(index, index_cell), true, &outside);
    if (outside || pos >= pixel_count(*image)) return &none::value;
    return tuple_of_pixel(&picked, os_image::get_pixel(pixels_of(*image), pos));
}

const Cell* poke(Cell* image, int32_t index, Cell* value, Cell* index_cell) {
    bool outside;
    Cell where = index_value(index, index_cell);
    uint32_t pos = get_position(*image, where, true, &outside);
    if (outside || pos >= pixel_count(*image)) fire(Err::script_out_of_range, &where);
    if (!value->is(Type::Tuple)) fire(Err::script_invalid_arg, value);
    os_image::set_pixel(pixels_of(*image), pos, pixel_of_tuple(*value));
    return value;
}

// Pastes the source from its first pixel with its top-left corner at the head, clipped at the right and
// bottom edges; the head moves just past the pasted block's last row.
void paste(Cell* image, const Cell& source) {
    uint32_t w = width_of(*image), h = height_of(*image), head = image->head();
    uint32_t sw = width_of(source), sh = height_of(source), x0 = head % w, y0 = head / w;
    if (sw == 0 || sh == 0) return;
    uint32_t columns = std::min(sw, w - x0), rows = std::min(sh, h - y0);
    os_image::Lock to(pixels_of(*image), true);
    os_image::Lock from(pixels_of(source), false);
    for (uint32_t row = 0; row < rows; row++)
        std::copy_n(from.pixels().begin() + ptrdiff_t(size_t(row) * sw), columns,
                    to.pixels().begin() + ptrdiff_t(size_t(y0 + row) * w + x0));
    image->set_head((y0 + rows - 1) * w + x0 + columns);
}

void change(Cell* image, Cell* value, const EditOptions& options) {
    if (options.dup > 1 || options.part >= 0) fire(Err::internal_not_done);
    if (value->is(Type::Tuple)) {
        if (image->head() >= pixel_count(*image)) fire(Err::script_out_of_range, value);
        os_image::set_pixel(pixels_of(*image), image->head(), pixel_of_tuple(*value));
        image->set_head(image->head() + 1);
        return;
    }
    if (!value->is(Type::Image)) error::fire_on_type(Err::script_invalid_arg, value->type());
    if (image->head() < pixel_count(*image)) paste(image, *value);
}

// ---- comparison ----

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (!value2->is(Type::Image)) return -2;
    bool same = value1->node() == value2->node() && value1->head() == value2->head();
    if (op == kCompareSame) return same ? 0 : -1;
    if (same && op <= kCompareStrictEqual) return 0;
    if (op > kCompareStrictEqual && op != kCompareSort && op != kCompareCaseSort && op != kCompareFind) return -2;
    uint32_t n1 = pixel_count(*value1), n2 = pixel_count(*value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    os_image::Lock a(pixels_of(*value1), false), b(pixels_of(*value2), false);
    int order = std::memcmp(a.pixels().data(), b.pixels().data(), size_t(n1) * 4);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// ---- text form ----

int32_t write_line(Cell* buffer, int32_t level, int32_t part) {
    part = string::write_token(buffer, "\n", false, part);
    return block::write_indent(buffer, level, part);
}

// The hexadecimal block of one plane of the pixels: the colours or the transparency.
int32_t write_plane(Cell* buffer, std::span<const uint32_t> pixels, bool alpha, bool flat, int32_t d, int32_t part,
                    bool limited) {
    part = string::write_token(buffer, " #{", false, part);
    size_t count = pixels.size();
    if (alpha || (!flat && count > 7)) part = write_line(buffer, d, part);
    for (size_t i = 0; i < count && !(limited && part < 1); i++) {
        uint32_t p = pixels[i];
        if (alpha) {
            part = string::write_token(buffer, string::byte_to_hex(uint8_t(255 - (p >> 24))), false, part);
        } else {
            for (int shift : {16, 8, 0})
                part = string::write_token(buffer, string::byte_to_hex(uint8_t(p >> shift)), false, part);
        }
        if (!flat && (i + 1) % 10 == 0) part = write_line(buffer, d, part);
    }
    if (alpha)
        part = write_line(buffer, d - 1, part);
    else if (!flat && count > 7 && count % 10 != 0)
        part = write_line(buffer, d - 1, part);
    return string::write_token(buffer, "}", false, part);
}

// Every pixel is written, from the first, whatever the head: the size written is the size of what
// follows, so that the text makes the same image again.
int32_t write_image(const Cell& image, Cell* buffer, const MoldOptions& options, int32_t part, int32_t d) {
    if (!options.only) part = string::write_token(buffer, "make image! [", false, part);
    std::string size = std::to_string(width_of(image)) + "x" + std::to_string(height_of(image));
    part = string::write_token(buffer, size.c_str(), false, part);
    if (!image.node()) {
        part = string::write_token(buffer, " #{}", false, part);
    } else {
        os_image::Lock lock(pixels_of(image), false);
        std::span<const uint32_t> pixels = lock.pixels();
        bool limited = options.limit != nullptr;
        part = write_plane(buffer, pixels, false, options.flat, d, part, limited);
        bool translucent = std::ranges::any_of(pixels, [](uint32_t p) { return p >> 24 != 255; });
        if (translucent && !(limited && part < 1))
            part = write_plane(buffer, pixels, true, options.flat, d, part, limited);
    }
    return options.only ? part : string::write_token(buffer, "]", false, part);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return write_image(*value, buffer, {}, part, 0); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent) {
    return write_image(*value, buffer, options, part, indent + 1);
}

// ---- paths ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    if (element->is(Type::Integer) || element->is(Type::Pair))
        return value ? poke(parent, 0, value, element) : pick(parent, 0, element);
    if (element->is(Type::Word)) {
        uint32_t symbol = element->symbol();
        if (symbol::named_q(symbol, Sym::size) && !value)
            return pair::push(int32_t(width_of(*parent)), int32_t(height_of(*parent)));
        for (auto [name, plane] :
             {std::pair{Sym::rgb, Plane::rgb}, {Sym::alpha, Plane::alpha}, {Sym::argb, Plane::argb}})
            if (symbol::named_q(symbol, name))
                return value ? set_data(parent, value, plane) : extract_data(*parent, plane);
    }
    fire(Err::script_invalid_path, step.path, element);
}

// ---- movement ----

void at() { arg(0)->set_head(get_position(*arg(0), *arg(1), true)); }
void skip() { arg(0)->set_head(get_position(*arg(0), *arg(1), false)); }
void back() {
    if (arg(0)->head() > 0) arg(0)->set_head(arg(0)->head() - 1);
}
void next() {
    if (arg(0)->head() < pixel_count(*arg(0))) arg(0)->set_head(arg(0)->head() + 1);
}
void tail() { arg(0)->set_head(pixel_count(*arg(0))); }
void tail_q() { logic::box(image::tail_q(*arg(0))); }
int32_t length_q(Cell* image) { return int32_t(pixel_count(*image)); }

// The bytes of a binary from its head; valid until the next allocation.
std::span<const uint8_t> bytes_of(const Cell& binary) {
    uint32_t count;
    BufPtr<uint8_t> at = bytes_from_head(binary, &count);
    return {at.get(), count};
}

}  // namespace

int signature_of(const Cell& binary) {
    std::span<const uint8_t> bytes = bytes_of(binary);
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (const Signature& s : kSignatures)
        if (text.starts_with(s.bytes)) return s.container;
    return -1;
}

Cell* load_binary(const Cell& binary) {
    int container = signature_of(binary);
    if (container < 0) return none::push();
    Cell source = binary;  // a frame's argument: its buffer lives through the record's allocation
    return image_at(stack::push_next(), [&] {
        int32_t handle = codecs.decode(bytes_of(source), container);
        if (handle < 0) fire(Err::access_bad_media);
        return handle;
    });
}

Cell* encode(const Cell& image, int32_t container) {
    if (container < 0 || container >= kContainerCount) {
        console::write_text("Cannot find image encoder", 25, 1, true);
        return nullptr;
    }
    if (pixel_count(image) == 0) fire(Err::access_bad_media);
    std::optional<std::vector<uint8_t>> file = codecs.encode(pixels_of(image), container);
    if (!file) fire(Err::access_bad_media);
    return binary::load(file->data(), uint32_t(file->size()));
}

Cell* make_from_argb(Cell* cell, uint32_t width, uint32_t height, const uint8_t* argb) {
    if (width == 0 || height == 0) return empty_at(cell, width, height);
    return image_at(cell, [&] { return os_image::make_from(width, height, argb); });
}

int32_t pixels_of(const Cell& image) { return *mem::ptr<int32_t>(mem::buffer(image.node())->offset); }

Cell* extract_data(const Cell& image, Plane plane) {
    static constexpr uint32_t kBytes[] = {1, 3, 4};
    uint32_t n = pixel_count(image), size = n * kBytes[int(plane)];
    Cell source = image;
    Cell* result = binary::make_at(stack::push_next(), size);
    if (n == 0) return result;
    os_image::Lock lock(pixels_of(source), false);
    BufPtr<SeriesBuffer> b = mem::buffer(result->node());
    uint8_t* out = mem::ptr<uint8_t>(b->offset);
    for (uint32_t p : lock.pixels()) {
        switch (plane) {
        case Plane::alpha: *out++ = uint8_t(255 - (p >> 24)); break;
        case Plane::rgb: *out++ = uint8_t(p >> 16), *out++ = uint8_t(p >> 8), *out++ = uint8_t(p); break;
        case Plane::argb: std::memcpy(out, &p, 4), out += 4; break;
        }
    }
    b->tail = b->offset + size;
    return result;
}

void init(const Codecs& given) {
    codecs = given;
    datatype::register_(Type::Image, {
                                         implements<Act::make>(make),
                                         implements<Act::to>(to),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         implements<Act::at>(at),
                                         implements<Act::back>(back),
                                         implements<Act::change>(change),
                                         implements<Act::copy>(copy),
                                         inherits<Act::head>(),
                                         inherits<Act::head_q>(),
                                         inherits<Act::index_q>(),
                                         implements<Act::length_q>(length_q),
                                         implements<Act::next>(next),
                                         implements<Act::pick>(pick),
                                         implements<Act::poke>(poke),
                                         implements<Act::skip>(skip),
                                         implements<Act::tail>(tail),
                                         implements<Act::tail_q>(tail_q),
                                         inherits<Act::modify>(),
                                     });
}

}  // namespace oka::image
