/* Raster operations on raw pixel buffers (32-bit words, rows without padding, as the image layer keeps
   them): 2-D vectors, a rectangle copy, the mapping of a whole buffer into any quadrilateral with
   bilinear sampling, a resize built on it, corner mirroring and a YUY2 converter. They serve drawing
   back ends that render images themselves; place_image (datatypes/image.h) combines them for an image!.

   - A quadrilateral's corners run p0, p1, p2, p3; its edges p0->p1, p1->p2, p2->p3, p3->p0. A point is
     inside when it lies right of none of the edges.
   - A mapping whose placement the image layer could not hold (a side above 65535 or too many pixels)
     gives no buffer, as does a source without pixels; a destination pixel whose source coordinates are
     not finite (a quadrilateral folded onto a line) stays 0.

   Rules: nothing here allocates language memory or raises; buffers handed in must hold the sizes given. */
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace oka::image_ops {

struct Vector {
    double x = 0, y = 0;
};
struct Point {
    float x = 0, y = 0;
};
using Quad = std::array<Point, 4>;
// Where a mapped buffer lies: its top left corner and its size.
struct Placement {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
using Pixels = std::vector<uint32_t>;

double length(Vector v);
// Divides both coordinates by the length.
void normalize(Vector& v);
Vector vector_between(double x1, double y1, double x2, double y2);
double cross(Vector a, Vector b);
// True when the point lies right of the edge from (x1, y1) to (x2, y2).
bool right_of_q(double x, double y, double x1, double y1, double x2, double y2);
bool inside_quad_q(const Quad& quad, double x, double y);

// Copies the rectangle at (x, y) of `width` x `height` pixels, cut at the source's right and bottom
// edges, row after row into `destination` (rows of the cut width). False, copying nothing, when (x, y)
// lies outside the source.
bool copy_rect(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y, int32_t width,
               int32_t height, uint32_t* destination);

// The source mapped into the quadrilateral (its corners running either way round), over the
// quadrilateral's bounding box (transparent black outside it), and that box as `placement`; nothing
// when the source has no pixels.
std::optional<Pixels> transform(const uint32_t* source, int32_t width, int32_t height, const Quad& quad,
                                Placement& placement);
// The source scaled to the new size; nothing when the mapping does not give exactly that size.
std::optional<Pixels> resize(const uint32_t* source, int32_t width, int32_t height, int32_t new_width,
                             int32_t new_height);

// Reflects the corners' x (or y) about c.
void mirror_x(Quad& quad, float c);
void mirror_y(Quad& quad, float c);

// Converts `width` x `height` pixels of YUY2 (Y0 U Y1 V for each two pixels; a row of an odd width
// ends with a whole group, of which only Y0 is used) into opaque words r, g, b, 255 in memory.
void yuy2_to_argb(int32_t width, int32_t height, const uint8_t* yuy2, uint32_t* destination);

}  // namespace oka::image_ops
