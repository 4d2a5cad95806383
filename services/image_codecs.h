/* The image codecs: bytes of an image file decoded into new pixels of the image layer
   (runtime/image_store.h), and pixels encoded into a container. They are the codecs of image!, which
   start-up hands to image::init.

   - The containers, by number: 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF (services/image_containers.def).
   - The caller names the container from the bytes' signature (image::signature_of).
   - Decoding takes the first image of the file, straight BGRA whatever the file's pixel format. Data
     that no decoder reads (a signature of no container, a size or an offset the data does not hold, a
     truncated or corrupt file, an image the store cannot hold) gives no pixels; nothing is read past
     the data.
   - Encoding gives the whole file, or nothing when the encoder fails.

   Rules: nothing here allocates language memory; decoding makes one record of the image layer (its
   handle is the caller's to name at once) and raises nothing. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "datatypes/image.h"

namespace oka::image_codecs {

// The codecs of image!, for its registration.
const image::Codecs& codecs();

// The pixels a decoder fills, width x height of them, row by row as the file's data arrives. The room is
// taken but not cleared: its memory becomes the process's only as rows are written, so that a file
// that declares a size its data cannot fill (68 bytes declaring 16384 x 16384 pixels) costs no more
// than the rows it holds before the decoder finds the rest missing.
class PixelRows {
public:
    PixelRows(uint32_t width, uint32_t height) : pixels_(new uint32_t[size_t(width) * height]), width_(width) {}
    uint32_t* row(uint32_t y) { return pixels_.get() + size_t(y) * width_; }
    const uint32_t* data() const { return pixels_.get(); }

private:
    std::unique_ptr<uint32_t[]> pixels_;
    uint32_t width_;
};

// Each container's codec.
#define OKA_CONTAINER(number, Name)                             \
    namespace Name {                                            \
    int32_t decode(std::span<const uint8_t> bytes);             \
    std::optional<std::vector<uint8_t>> encode(int32_t pixels); \
    }
#include "services/image_containers.def"
#undef OKA_CONTAINER

}  // namespace oka::image_codecs
