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

#include "runtime/cell.h"

namespace oka::image {

// Registers image! (after the image layer's init).
void init();

inline uint32_t width_of(const Cell& image) { return image.data3 & 0xFFFF; }
inline uint32_t height_of(const Cell& image) { return image.data3 >> 16; }
inline uint32_t pixel_count(const Cell& image) { return width_of(image) * height_of(image); }
inline bool tail_q(const Cell& image) { return image.data1 >= pixel_count(image); }

// The handle of the image's pixels; the image must have a record.
int32_t pixels_of(const Cell& image);

// The planes of an image as binaries: the transparency, r g b, or the pixel words as they lie.
enum class Plane : uint8_t { alpha = 0, rgb = 1, argb = 2 };

// A new binary! pushed on the data stack holding the plane of every pixel (the head does not count).
// Allocates.
Cell* extract_data(const Cell& image, Plane plane);

}  // namespace oka::image
