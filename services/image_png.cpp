// The PNG container through libpng: every colour type and depth read as 8-bit straight BGRA, the
// palette and transparency chunk expanded, 16-bit samples rounded to 8 bits, interlaced images
// whole, no gamma applied (the pixels as the file holds them); written as 8-bit RGBA.
//
// libpng reports errors by a long jump to the point its caller set. Each entry below sets it once;
// what the work under it changes lives in a State that the entry holds through a pointer made before
// the jump point, and the jump passes over no C++ frame with objects to destroy (the callbacks make
// none), so nothing is left half made, undestroyed or indeterminate.
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <optional>

#include "runtime/image_store.h"
#include "services/image_codecs.h"

namespace oka::image_codecs::png {

namespace {

struct State {
    std::span<const uint8_t> input;
    size_t at = 0;
    uint32_t width = 0, height = 0;
    bool done = false;  // the work under the jump point ended
    std::optional<PixelRows> decoded;
    std::vector<uint32_t> pixels;  // a copy of those encoded, which libpng takes as writable rows
    std::vector<png_bytep> rows;
    std::vector<uint8_t> output;
};

// Errors end the codec's work at its jump point, quietly: a bad file is an answer, not a report.
[[noreturn]] void on_error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void on_warning(png_structp, png_const_charp) {}

void read_input(png_structp png, png_bytep out, size_t count) {
    auto* state = static_cast<State*>(png_get_io_ptr(png));
    if (count > state->input.size() - state->at) png_error(png, "the data ends inside the file");
    std::memcpy(out, state->input.data() + state->at, count);
    state->at += count;
}

void write_output(png_structp png, png_bytep bytes, size_t count) {
    auto* state = static_cast<State*>(png_get_io_ptr(png));
    state->output.insert(state->output.end(), bytes, bytes + count);
}

void flush_output(png_structp) {}

// Points the row pointers at the rows of the pixels.
void point_rows(State& state, uint32_t* pixels, uint32_t width, uint32_t height) {
    state.rows.resize(height);
    for (uint32_t y = 0; y < height; y++) state.rows[y] = reinterpret_cast<png_bytep>(pixels + size_t(y) * width);
}

// Reads the file into state.pixels after the transformations to 8-bit BGRA; false when the image is
// larger than the store holds. Runs under the jump point.
bool read_pixels(png_structp png, png_infop info, State& state) {
    png_read_info(png, info);
    uint32_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    state.width = width, state.height = height;
    if (!os_image::fits_q(width, height)) return false;
    png_byte colour = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_scale_16(png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) return false;
    state.decoded.emplace(width, height);
    point_rows(state, state.decoded->row(0), width, height);
    png_read_image(png, state.rows.data());
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

int32_t decode(std::span<const uint8_t> bytes) {
    auto state = std::make_unique<State>();
    state->input = bytes;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return -1;
    png_infop info = png_create_info_struct(png);
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_read_fn(png, state.get(), read_input);
        state->done = read_pixels(png, info, *state);
    }
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!state->done) return -1;
    return os_image::make_from(state->width, state->height, state->decoded->data());
}

std::optional<std::vector<uint8_t>> encode(int32_t pixels) {
    const os_image::Record& record = os_image::record(pixels);
    auto state = std::make_unique<State>();
    state->pixels = record.pixels;
    point_rows(*state, state->pixels.data(), record.width, record.height);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, on_error, on_warning);
    if (!png) return {};
    png_infop info = png_create_info_struct(png);
    if (info && !setjmp(png_jmpbuf(png))) {
        png_set_write_fn(png, state.get(), write_output, flush_output);
        png_set_IHDR(png, info, record.width, record.height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        png_write_image(png, state->rows.data());
        png_write_end(png, nullptr);
        state->done = true;
    }
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!state->done) return {};
    return std::move(state->output);
}

}  // namespace oka::image_codecs::png
