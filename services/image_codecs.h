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

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "datatypes/image.h"

namespace oka::image_codecs {

// The codecs of image!, for its registration.
const image::Codecs& codecs();

// Each container's codec.
#define OKA_CONTAINER(number, Name)                             \
    namespace Name {                                            \
    int32_t decode(std::span<const uint8_t> bytes);             \
    std::optional<std::vector<uint8_t>> encode(int32_t pixels); \
    }
#include "services/image_containers.def"
#undef OKA_CONTAINER

}  // namespace oka::image_codecs
