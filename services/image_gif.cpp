// The GIF container through giflib: the first image of the file, its own rectangle, through its local
// or the global colour table, the transparent index of its graphic control block read as a clear pixel;
// written with a palette of our own: the image's colours themselves when they are few enough, else a
// fixed palette of 6 x 7 x 6 levels that each pixel takes its nearest colour from. GIF keeps one bit of
// alpha: a pixel less than half opaque is written clear.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "runtime/image_store.h"
#include "services/image_codecs.h"

namespace oka::image_codecs::gif {

namespace {

constexpr int kColours = 256;
constexpr int kLevels[3] = {6, 7, 6};  // red, green, blue of the fixed palette: 252 colours

struct Input {
    std::span<const uint8_t> bytes;
    size_t at = 0;
};

int read_input(GifFileType* gif, GifByteType* out, int count) {
    auto* input = static_cast<Input*>(gif->UserData);
    size_t n = std::min(size_t(std::max(count, 0)), input->bytes.size() - input->at);
    std::memcpy(out, input->bytes.data() + input->at, n);
    input->at += n;
    return int(n);
}

int write_output(GifFileType* gif, const GifByteType* bytes, int count) {
    static_cast<std::vector<uint8_t>*>(gif->UserData)
        ->insert(static_cast<std::vector<uint8_t>*>(gif->UserData)->end(), bytes, bytes + count);
    return count;
}

uint32_t colour_of(const GifColorType& c) { return uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue; }

// The pixels of the file's first image; nothing when it has none, no colour table, or an index past it.
std::optional<std::vector<uint32_t>> first_image(GifFileType* gif, uint32_t& width, uint32_t& height) {
    if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) return {};
    const SavedImage& image = gif->SavedImages[0];
    const ColorMapObject* map = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    width = uint32_t(std::max(image.ImageDesc.Width, 0)), height = uint32_t(std::max(image.ImageDesc.Height, 0));
    if (!map || !image.RasterBits || width == 0 || height == 0 || !os_image::fits_q(width, height)) return {};
    GraphicsControlBlock control{};
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif, 0, &control);
    std::vector<uint32_t> pixels(size_t(width) * height);
    for (size_t i = 0; i < pixels.size(); i++) {
        int index = image.RasterBits[i];
        if (index >= map->ColorCount) return {};
        pixels[i] = (index == control.TransparentColor ? 0u : 0xFF000000u) | colour_of(map->Colors[index]);
    }
    return pixels;
}

bool clear_q(uint32_t pixel) { return pixel >> 24 < 128; }

// The palette of the image and each pixel's index in it; index 0 is the clear colour when a pixel is
// clear.
struct Palette {
    std::vector<uint32_t> colours;
    std::vector<GifByteType> indexes;
    int clear = NO_TRANSPARENT_COLOR;
};

uint8_t fixed_index(uint32_t colour, int first) {
    int level[3];
    for (int c = 0; c < 3; c++) {
        int value = int(colour >> (16 - 8 * c) & 255);
        level[c] = (value * (kLevels[c] - 1) + 127) / 255;
    }
    return uint8_t(first + (level[0] * kLevels[1] + level[1]) * kLevels[2] + level[2]);
}

Palette palette_of(std::span<const uint32_t> pixels) {
    Palette p;
    bool clear = std::ranges::any_of(pixels, clear_q);
    if (clear) p.clear = 0, p.colours.push_back(0);
    int first = int(p.colours.size());
    std::map<uint32_t, uint8_t> exact;
    for (uint32_t pixel : pixels) {
        if (clear_q(pixel) || exact.contains(pixel & 0xFFFFFF)) continue;
        if (exact.size() + size_t(first) == kColours) {
            exact.clear();
            break;
        }
        exact.emplace(pixel & 0xFFFFFF, uint8_t(first + int(exact.size())));
    }
    bool few = !exact.empty() || std::ranges::all_of(pixels, clear_q);
    if (few) {
        p.colours.resize(size_t(first) + exact.size());
        for (auto [colour, index] : exact) p.colours[index] = colour;
    } else {
        for (int r = 0; r < kLevels[0]; r++)
            for (int g = 0; g < kLevels[1]; g++)
                for (int b = 0; b < kLevels[2]; b++)
                    p.colours.push_back(uint32_t(r * 255 / (kLevels[0] - 1)) << 16 |
                                        uint32_t(g * 255 / (kLevels[1] - 1)) << 8 |
                                        uint32_t(b * 255 / (kLevels[2] - 1)));
    }
    p.indexes.reserve(pixels.size());
    for (uint32_t pixel : pixels)
        p.indexes.push_back(clear_q(pixel) ? 0 : few ? exact[pixel & 0xFFFFFF] : fixed_index(pixel, first));
    return p;
}

bool write_image(GifFileType* gif, const os_image::Record& record, Palette& palette) {
    int size = 1 << GifBitSize(int(std::max<size_t>(palette.colours.size(), 2)));
    ColorMapObject* map = GifMakeMapObject(size, nullptr);
    if (!map) return false;
    for (size_t i = 0; i < palette.colours.size(); i++)
        map->Colors[i] = {GifByteType(palette.colours[i] >> 16), GifByteType(palette.colours[i] >> 8),
                          GifByteType(palette.colours[i])};
    bool ok = EGifPutScreenDesc(gif, int(record.width), int(record.height), 8, 0, map) == GIF_OK;
    GifFreeMapObject(map);
    if (ok && palette.clear != NO_TRANSPARENT_COLOR) {
        GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, palette.clear};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, int(record.width), int(record.height), false, nullptr) == GIF_OK;
    for (uint32_t row = 0; ok && row < record.height; row++)
        ok = EGifPutLine(gif, palette.indexes.data() + size_t(row) * record.width, int(record.width)) == GIF_OK;
    return ok;
}

}  // namespace

int32_t decode(std::span<const uint8_t> bytes) {
    Input input{bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, read_input, &error);
    if (!gif) return -1;
    uint32_t width = 0, height = 0;
    std::optional<std::vector<uint32_t>> pixels = first_image(gif, width, height);
    DGifCloseFile(gif, &error);
    if (!pixels) return -1;
    return os_image::make_from(width, height, pixels->data());
}

std::optional<std::vector<uint8_t>> encode(int32_t pixels) {
    const os_image::Record& record = os_image::record(pixels);
    Palette palette = palette_of(record.pixels);
    std::vector<uint8_t> output;
    int error = 0;
    GifFileType* gif = EGifOpen(&output, write_output, &error);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    bool ok = write_image(gif, record, palette);
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    if (!ok) return {};
    return output;
}

}  // namespace oka::image_codecs::gif
