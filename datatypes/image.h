/* image!: a bitmap as a series of width x height pixels, row by row from the top, with a movable head.
   The language sees a pixel as a tuple r.g.b.a whose fourth byte is the transparency (0 opaque, 255
   fully transparent); whole planes of pixels are binaries through the path words rgb (3 bytes a pixel),
   alpha (the transparency, 1 byte) and argb (the 4 bytes as they lie: blue, green, red, alpha).

   Cell: payload word 1 the head (a 0-based pixel index, 0 to width x height), word 2 the image record,
   word 3 the size, height << 16 | width. The record is a small byte buffer whose first word is the
   handle of the pixels in the image layer (runtime/image_store.h): the collector keeps both through the
   record. An empty image (width or height 0) has no record: word 2 is 0.

   Rules: make, to and copy always make new pixels; cells that share a record share them. Pixel indexes
   are checked against the size before the store is touched; sizes the store cannot hold are refused
   (internal no-memory) before a record is made. Every constructor allocates, so the cells it is handed
   must be fixed (on the data stack). */
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "runtime/cell.h"
#include "runtime/image_ops.h"

namespace oka::image {

// The containers that images are encoded in, by number: BMP, PNG, GIF, JPEG, TIFF.
inline constexpr int kContainerCount = 5;

// The image codecs, which the services hand to init: new pixels from the bytes of a container (-1 when
// they cannot be read), and the file of pixels in a container (nothing when the encoder fails).
struct Codecs {
    int32_t (*decode)(std::span<const uint8_t> bytes, int container);
    std::optional<std::vector<uint8_t>> (*encode)(int32_t pixels, int container);
};

// Registers image! (after the image layer's init) with the codecs given.
void init(const Codecs& codecs);

inline uint32_t width_of(const Cell& image) { return image.image_size() & 0xFFFF; }
inline uint32_t height_of(const Cell& image) { return image.image_size() >> 16; }
inline uint32_t pixel_count(const Cell& image) { return width_of(image) * height_of(image); }
inline bool tail_q(const Cell& image) { return image.head() >= pixel_count(image); }

// The handle of the image's pixels; the image must have a record.
int32_t pixels_of(const Cell& image);

// The planes of an image as binaries: the transparency, r g b, or the pixel words as they lie.
enum class Plane : uint8_t { alpha = 0, rgb = 1, argb = 2 };

// The container whose signature starts the bytes from the binary's head, -1 for none.
int signature_of(const Cell& binary);
inline bool binary_is_image_q(const Cell& binary) { return signature_of(binary) >= 0; }
// The image that the bytes from the binary's head hold, pushed on the data stack; none when they start
// with no image signature. Raises access bad-media when they cannot be decoded. Allocates.
Cell* load_binary(const Cell& binary);
// The image encoded in a container (a number below kContainerCount) as a new binary! pushed on the data
// stack. Another number prints "Cannot find image encoder" and gives null, pushing nothing. Raises
// access bad-media for an image without pixels and when the encoder fails. Allocates.
Cell* encode(const Cell& image, int32_t container);

// Makes `cell` (fixed) an image of `width` x `height` pixels from their bytes as the argb plane lies, 4
// bytes a pixel (a width or height of 0 makes an empty image). The size must fit the image layer
// (os_image::fits_q) and the bytes must not lie in a series buffer. Allocates.
Cell* make_from_argb(Cell* cell, uint32_t width, uint32_t height, const uint8_t* argb);

// A rectangle of an image's pixels: its top left pixel and its size.
struct Crop {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
// Makes `result` (fixed) a new image of the source's pixels (or of the crop of them, its size cut to
// the source) mapped into the quadrilateral of one to four points (pair! or point2D!): one point is
// the top left corner of a rectangle of the crop's (or source's) size, two are opposite corners, three
// are p0, p1 and p3 of a parallelogram, four are the corners in order. Corners that run right to left
// (or bottom to top) are mirrored and the placement's width (or height) is negative. `result` is none
// for more than four points, a crop outside the source, or a mapping that gives no pixels. Allocates.
Cell* place(const Cell& source, Cell* result, const std::optional<Crop>& crop, std::span<const Cell> points,
            image_ops::Placement& placement);

// A new binary! pushed on the data stack holding the plane of every pixel (the head does not count).
// Allocates.
Cell* extract_data(const Cell& image, Plane plane);

}  // namespace oka::image
