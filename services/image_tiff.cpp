// The TIFF container through libtiff, over memory: the first image of the file. 8-bit RGB and RGBA in
// strips of interleaved samples are read as they lie, so straight alpha stays exact; every other kind
// goes through the library's RGBA reader, whose colours come premultiplied and are divided back.
// Written as 8-bit RGBA with unassociated alpha, LZW-compressed. The library's messages are silenced:
// a bad file is an answer, not a report.
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "runtime/image_store.h"
#include "services/image_codecs.h"

namespace oka::image_codecs::tiff {

namespace {

constexpr tmsize_t kMaxAllocation = tmsize_t(os_image::kMaxPixels * 4);

// A file in memory: the bytes read, or those written.
struct Memory {
    std::span<const uint8_t> input;
    std::vector<uint8_t> output;
    bool writing = false;
    uint64_t at = 0;

    uint64_t size() const { return writing ? output.size() : input.size(); }
    const uint8_t* data() const { return writing ? output.data() : input.data(); }
};

Memory& memory_of(thandle_t handle) { return *static_cast<Memory*>(handle); }

tmsize_t read_memory(thandle_t handle, void* out, tmsize_t count) {
    Memory& m = memory_of(handle);
    uint64_t n = m.at >= m.size() ? 0 : std::min<uint64_t>(uint64_t(count), m.size() - m.at);
    std::memcpy(out, m.data() + m.at, size_t(n));
    m.at += n;
    return tmsize_t(n);
}

tmsize_t write_memory(thandle_t handle, void* bytes, tmsize_t count) {
    Memory& m = memory_of(handle);
    if (!m.writing) return -1;
    if (m.at + uint64_t(count) > m.output.size()) m.output.resize(size_t(m.at) + size_t(count));
    std::memcpy(m.output.data() + m.at, bytes, size_t(count));
    m.at += uint64_t(count);
    return count;
}

toff_t seek_memory(thandle_t handle, toff_t offset, int whence) {
    Memory& m = memory_of(handle);
    uint64_t base = whence == SEEK_CUR ? m.at : whence == SEEK_END ? m.size() : 0;
    m.at = base + offset;
    return m.at;
}

toff_t size_of_memory(thandle_t handle) { return memory_of(handle).size(); }
int close_memory(thandle_t) { return 0; }
int map_memory(thandle_t, void**, toff_t*) { return 0; }
void unmap_memory(thandle_t, void*, toff_t) {}
int quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* open_memory(Memory& memory, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxAllocation);
    TIFF* tif = TIFFClientOpenExt("image", mode, &memory, read_memory, write_memory, seek_memory, close_memory,
                                  size_of_memory, map_memory, unmap_memory, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

template <class T>
T field(TIFF* tif, ttag_t tag) {
    T value{};
    TIFFGetFieldDefaulted(tif, tag, &value);
    return value;
}

// Whether the image is 8-bit RGB or RGBA (alpha unassociated or unnamed) in strips of interleaved samples.
bool plain_rgb_q(TIFF* tif) {
    uint16_t samples = field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL);
    if (field<uint16_t>(tif, TIFFTAG_BITSPERSAMPLE) != 8 ||
        field<uint16_t>(tif, TIFFTAG_PHOTOMETRIC) != PHOTOMETRIC_RGB ||
        field<uint16_t>(tif, TIFFTAG_PLANARCONFIG) != PLANARCONFIG_CONTIG || TIFFIsTiled(tif) ||
        (samples != 3 && samples != 4))
        return false;
    if (samples == 3) return true;
    uint16_t extras = 0;
    uint16_t* kinds = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds);
    return extras == 1 && kinds && kinds[0] != EXTRASAMPLE_ASSOCALPHA;
}

bool read_plain(TIFF* tif, PixelRows& pixels, uint32_t width, uint32_t height) {
    uint16_t samples = field<uint16_t>(tif, TIFFTAG_SAMPLESPERPIXEL);
    if (TIFFScanlineSize64(tif) != uint64_t(width) * samples) return false;
    std::vector<uint8_t> line(size_t(width) * samples);
    for (uint32_t row = 0; row < height; row++) {
        if (TIFFReadScanline(tif, line.data(), row, 0) < 0) return false;
        for (uint32_t x = 0; x < width; x++) {
            const uint8_t* s = line.data() + size_t(x) * samples;
            uint32_t alpha = samples == 4 ? s[3] : 255;
            pixels.row(row)[x] = alpha << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
        }
    }
    return true;
}

uint8_t unpremultiplied(uint32_t colour, uint32_t alpha) {
    return alpha == 0 ? 0 : uint8_t(std::min<uint32_t>(255, (colour * 255 + alpha / 2) / alpha));
}

bool read_any(TIFF* tif, PixelRows& pixels, uint32_t width, uint32_t height) {
    if (!TIFFReadRGBAImageOriented(tif, width, height, pixels.row(0), ORIENTATION_TOPLEFT, 1)) return false;
    for (uint32_t& p : std::span(pixels.row(0), size_t(width) * height)) {
        uint32_t a = TIFFGetA(p);
        p = a << 24 | uint32_t(unpremultiplied(TIFFGetR(p), a)) << 16 | uint32_t(unpremultiplied(TIFFGetG(p), a)) << 8 |
            unpremultiplied(TIFFGetB(p), a);
    }
    return true;
}

bool write_pixels(TIFF* tif, const os_image::Record& record) {
    uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    bool ok =
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, record.width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, record.height) &&
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) &&
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra) && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW) &&
        TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> line(size_t(record.width) * 4);
    for (uint32_t row = 0; ok && row < record.height; row++) {
        for (uint32_t x = 0; x < record.width; x++) {
            uint32_t p = record.pixels[size_t(row) * record.width + x];
            uint8_t* d = line.data() + size_t(x) * 4;
            d[0] = uint8_t(p >> 16), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p), d[3] = uint8_t(p >> 24);
        }
        ok = TIFFWriteScanline(tif, line.data(), row, 0) >= 0;
    }
    return ok && TIFFFlush(tif);
}

}  // namespace

int32_t decode(std::span<const uint8_t> bytes) {
    Memory memory;
    memory.input = bytes;
    TIFF* tif = open_memory(memory, "rm");
    if (!tif) return -1;
    uint32_t width = field<uint32_t>(tif, TIFFTAG_IMAGEWIDTH), height = field<uint32_t>(tif, TIFFTAG_IMAGELENGTH);
    std::optional<PixelRows> pixels;
    bool read = width > 0 && height > 0 && os_image::fits_q(width, height);
    if (read) {
        pixels.emplace(width, height);
        read = plain_rgb_q(tif) ? read_plain(tif, *pixels, width, height) : read_any(tif, *pixels, width, height);
    }
    TIFFClose(tif);
    if (!read) return -1;
    return os_image::make_from(width, height, pixels->data());
}

std::optional<std::vector<uint8_t>> encode(int32_t pixels) {
    Memory memory;
    memory.writing = true;
    TIFF* tif = open_memory(memory, "w");
    if (!tif) return {};
    bool ok = write_pixels(tif, os_image::record(pixels));
    TIFFClose(tif);
    if (!ok) return {};
    return std::move(memory.output);
}

}  // namespace oka::image_codecs::tiff
