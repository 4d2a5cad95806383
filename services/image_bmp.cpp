// The BMP container: Windows bitmaps of 1, 4, 8 (with a palette), 16, 24 and 32 bits a pixel,
// uncompressed or with bit-field masks, bottom-up or top-down, under the core header or any of the
// info headers; compressed (run-length) bitmaps are not read. Written as 32 bits a pixel with an
// alpha mask under the version-4 header, bottom-up, so that the alpha survives.
#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/image_store.h"
#include "services/image_codecs.h"

namespace oka::image_codecs::bmp {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kV4HeaderSize = 108;
enum Compression : uint32_t { rgb = 0, bitfields = 3, alpha_bitfields = 6 };

// Little-endian reads that fail (answer nothing) past the data.
struct Bytes {
    std::span<const uint8_t> data;
    bool ok = true;

    uint32_t read(uint64_t at, int count) {
        if (at + uint64_t(count) > data.size()) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (int i = count - 1; i >= 0; i--) value = value << 8 | data[size_t(at) + size_t(i)];
        return value;
    }
    uint32_t u16(uint64_t at) { return read(at, 2); }
    uint32_t u32(uint64_t at) { return read(at, 4); }
};

// A colour channel under a mask, scaled to 8 bits; `absent` when the mask is empty.
struct Channel {
    uint32_t mask, shift, bits;

    explicit Channel(uint32_t m)
        : mask(m), shift(m ? uint32_t(std::countr_zero(m)) : 0), bits(uint32_t(std::popcount(m))) {}
    uint32_t of(uint32_t value, uint32_t absent) const {
        if (!mask) return absent;
        uint32_t v = (value & mask) >> shift;
        if (bits >= 8) return v >> (bits - 8);
        uint32_t max = (1u << bits) - 1;
        return (v * 255 + max / 2) / max;
    }
};

struct Layout {
    uint32_t width = 0, height = 0, bpp = 0;
    bool top_down = false;
    uint32_t masks[4] = {};  // red, green, blue, alpha
    uint64_t palette_at = 0, palette_count = 0, palette_entry = 4;
    uint64_t pixels_at = 0, stride = 0;
};

bool supported_depth(uint32_t bpp) { return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32; }

// The masks of a bitmap without its own: 5-5-5 for 16 bits, 8-8-8 for 24 and 32, no alpha.
void default_masks(Layout& l) {
    static constexpr uint32_t k16[4] = {0x7C00, 0x03E0, 0x001F, 0}, k32[4] = {0xFF0000, 0xFF00, 0xFF, 0};
    std::copy_n(l.bpp == 16 ? k16 : k32, 4, l.masks);
}

// The geometry of the bitmap, checked against the data: every byte it names lies inside.
std::optional<Layout> read_layout(Bytes& b) {
    if (b.data.size() < kFileHeaderSize + kCoreHeaderSize || b.data[0] != 'B' || b.data[1] != 'M') return {};
    Layout l;
    l.pixels_at = b.u32(10);
    uint32_t header = b.u32(14), compression = rgb, colours = 0;
    int64_t width, height;
    if (header == kCoreHeaderSize) {
        width = b.u16(18), height = b.u16(20), l.bpp = b.u16(24);
        l.palette_entry = 3;
    } else if (header >= kInfoHeaderSize) {
        width = int32_t(b.u32(18)), height = int32_t(b.u32(22)), l.bpp = b.u16(28);
        compression = b.u32(30), colours = b.u32(46);
    } else {
        return {};
    }
    if (!b.ok || !supported_depth(l.bpp)) return {};
    l.top_down = height < 0;
    height = height < 0 ? -height : height;
    if (width < 1 || height < 1 || !os_image::fits_q(width, height)) return {};
    l.width = uint32_t(width), l.height = uint32_t(height);
    l.palette_at = kFileHeaderSize + header;
    default_masks(l);
    if (compression == bitfields || compression == alpha_bitfields) {
        if (l.bpp != 16 && l.bpp != 32) return {};
        // The masks follow the 40 bytes of the info header, inside a longer one or after a bare one;
        // the alpha mask only where the header holds it or the compression says so.
        int count = compression == alpha_bitfields || header >= kInfoHeaderSize + 16 ? 4 : 3;
        for (int i = 0; i < 4; i++) l.masks[i] = i < count ? b.u32(kFileHeaderSize + kInfoHeaderSize + 4 * i) : 0;
    } else if (compression != rgb) {
        return {};
    }
    if (l.bpp <= 8) {
        l.palette_count = colours ? colours : 1u << l.bpp;
        if (l.palette_count > (1u << l.bpp) || l.palette_at + l.palette_count * l.palette_entry > b.data.size())
            return {};
    }
    l.stride = (uint64_t(l.width) * l.bpp + 31) / 32 * 4;
    if (!b.ok || l.pixels_at + l.stride * l.height > b.data.size()) return {};
    return l;
}

// The pixels, top row first; nothing when a palette index names no colour.
std::optional<std::vector<uint32_t>> read_pixels(Bytes& b, const Layout& l) {
    std::vector<uint32_t> pixels(size_t(l.width) * l.height);
    const Channel red(l.masks[0]), green(l.masks[1]), blue(l.masks[2]), alpha(l.masks[3]);
    for (uint32_t row = 0; row < l.height; row++) {
        uint64_t at = l.pixels_at + uint64_t(l.top_down ? row : l.height - 1 - row) * l.stride;
        const uint8_t* line = b.data.data() + at;
        uint32_t* out = pixels.data() + size_t(row) * l.width;
        for (uint32_t x = 0; x < l.width; x++) {
            if (l.bpp <= 8) {
                uint64_t bit = uint64_t(x) * l.bpp;
                uint32_t index = line[bit / 8] >> (8 - l.bpp - bit % 8) & ((1u << l.bpp) - 1);
                if (index >= l.palette_count) return {};
                const uint8_t* entry = b.data.data() + l.palette_at + index * l.palette_entry;
                out[x] = 0xFF000000u | uint32_t(entry[2]) << 16 | uint32_t(entry[1]) << 8 | entry[0];
            } else if (l.bpp == 24) {
                const uint8_t* p = line + 3 * size_t(x);
                out[x] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            } else {
                uint32_t v = b.read(at + uint64_t(x) * (l.bpp / 8), int(l.bpp / 8));
                out[x] = alpha.of(v, 255) << 24 | red.of(v, 0) << 16 | green.of(v, 0) << 8 | blue.of(v, 0);
            }
        }
    }
    return pixels;
}

void put(std::vector<uint8_t>& out, uint32_t value, int count) {
    for (int i = 0; i < count; i++) out.push_back(uint8_t(value >> (8 * i)));
}

}  // namespace

int32_t decode(std::span<const uint8_t> bytes) {
    Bytes b{bytes};
    std::optional<Layout> layout = read_layout(b);
    if (!layout) return -1;
    std::optional<std::vector<uint32_t>> pixels = read_pixels(b, *layout);
    if (!pixels) return -1;
    return os_image::make_from(layout->width, layout->height, pixels->data());
}

std::optional<std::vector<uint8_t>> encode(int32_t pixels) {
    const os_image::Record& r = os_image::record(pixels);
    uint32_t data_size = r.width * r.height * 4, offset = kFileHeaderSize + kV4HeaderSize;
    std::vector<uint8_t> out;
    out.reserve(offset + data_size);
    out.push_back('B'), out.push_back('M');
    put(out, offset + data_size, 4), put(out, 0, 4), put(out, offset, 4);
    put(out, kV4HeaderSize, 4), put(out, r.width, 4), put(out, r.height, 4);  // bottom-up
    put(out, 1, 2), put(out, 32, 2), put(out, bitfields, 4), put(out, data_size, 4);
    put(out, 2835, 4), put(out, 2835, 4), put(out, 0, 4), put(out, 0, 4);  // 72 dpi, no palette
    for (uint32_t mask : {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0xFF000000u}) put(out, mask, 4);
    put(out, 0x73524742, 4);  // the colour space: sRGB
    out.resize(offset);       // no end points, no gamma
    os_image::Lock lock(pixels, false);
    for (uint32_t row = r.height; row-- > 0;)
        for (uint32_t x = 0; x < r.width; x++) put(out, lock.pixels()[size_t(row) * r.width + x], 4);
    return out;
}

}  // namespace oka::image_codecs::bmp
