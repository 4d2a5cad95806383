// The JPEG container through libjpeg-turbo: grey and colour files read as opaque straight BGRA (a
// file the library warns about, corrupt or cut short, is refused); written at quality 90 from the
// colours (JPEG keeps no alpha).
//
// libjpeg reports errors through an exit routine that must not return: it long-jumps to the point the
// entry set. As for PNG, what the work under that point changes lives in a State held through a
// pointer made before it, and the jump passes over no C++ frame with objects to destroy.
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <memory>
#include <optional>

#include "runtime/image_store.h"
#include "services/image_codecs.h"

namespace oka::image_codecs::jpeg {

namespace {

constexpr int kQuality = 90;

struct State {
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    std::optional<PixelRows> decoded;
    std::vector<uint32_t> pixels;  // those encoded
    uint32_t width = 0, height = 0;
    bool done = false;  // the work under the jump point ended
    unsigned char* output = nullptr;
    unsigned long output_size = 0;
};

[[noreturn]] void on_error(j_common_ptr info) { std::longjmp(reinterpret_cast<State*>(info->err)->jump, 1); }
// A warning (level -1) means corrupt data that the library would paper over, such as a file cut
// short, whose missing rows it fills with grey: such a file is refused.
void on_message(j_common_ptr info, int level) {
    if (level < 0) on_error(info);
}

jpeg_error_mgr* quiet_errors(State& state) {
    jpeg_std_error(&state.errors);
    state.errors.error_exit = on_error;
    state.errors.emit_message = on_message;
    return &state.errors;
}

// Reads the file into state.pixels; false when the image is larger than the store holds. Runs under
// the jump point.
bool read_pixels(jpeg_decompress_struct& info, State& state, std::span<const uint8_t> bytes) {
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    state.width = info.output_width, state.height = info.output_height;
    if (!os_image::fits_q(state.width, state.height) || info.output_components != 4) return false;
    state.decoded.emplace(state.width, state.height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(state.decoded->row(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

void write_pixels(jpeg_compress_struct& info, State& state) {
    jpeg_mem_dest(&info, &state.output, &state.output_size);
    info.image_width = state.width, info.image_height = state.height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(state.pixels.data() + size_t(info.next_scanline) * state.width);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
}

}  // namespace

int32_t decode(std::span<const uint8_t> bytes) {
    auto state = std::make_unique<State>();
    auto info = std::make_unique<jpeg_decompress_struct>();
    info->err = quiet_errors(*state);
    if (!setjmp(state->jump)) {
        jpeg_create_decompress(info.get());
        state->done = read_pixels(*info, *state, bytes);
    }
    jpeg_destroy_decompress(info.get());
    if (!state->done) return -1;
    return os_image::make_from(state->width, state->height, state->decoded->data());
}

std::optional<std::vector<uint8_t>> encode(int32_t pixels) {
    const os_image::Record& record = os_image::record(pixels);
    auto state = std::make_unique<State>();
    state->pixels = record.pixels;
    state->width = record.width, state->height = record.height;
    auto info = std::make_unique<jpeg_compress_struct>();
    info->err = quiet_errors(*state);
    if (!setjmp(state->jump)) {
        jpeg_create_compress(info.get());
        write_pixels(*info, *state);
        state->done = true;
    }
    jpeg_destroy_compress(info.get());
    std::optional<std::vector<uint8_t>> file;
    if (state->done) file.emplace(state->output, state->output + state->output_size);
    std::free(state->output);
    return file;
}

}  // namespace oka::image_codecs::jpeg
