#include "runtime/image_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/image_store.h"

namespace oka::image_ops {

double length(Vector v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void normalize(Vector& v) {
    double l = length(v);
    v.x /= l, v.y /= l;
}

Vector vector_between(double x1, double y1, double x2, double y2) { return {x2 - x1, y2 - y1}; }

double cross(Vector a, Vector b) { return a.x * b.y - a.y * b.x; }

bool right_of_q(double x, double y, double x1, double y1, double x2, double y2) {
    return cross(vector_between(x1, y1, x, y), vector_between(x1, y1, x2, y2)) > 0.0;
}

bool inside_quad_q(const Quad& quad, double x, double y) {
    for (size_t i = 0; i < 4; i++) {
        const Point &a = quad[i], &b = quad[(i + 1) % 4];
        if (right_of_q(x, y, a.x, a.y, b.x, b.y)) return false;
    }
    return true;
}

bool copy_rect(const uint32_t* source, int32_t source_width, int32_t source_height, int32_t x, int32_t y, int32_t width,
               int32_t height, uint32_t* destination) {
    if (x < 0 || y < 0 || x >= source_width || y >= source_height) return false;
    int32_t row = std::clamp(width, 0, source_width - x), rows = std::clamp(height, 0, source_height - y);
    for (int32_t j = 0; j < rows; j++)
        std::memcpy(destination + size_t(j) * row, source + size_t(y + j) * source_width + x, size_t(row) * 4);
    return true;
}

namespace {

// A coordinate of the bounding box, truncated toward zero; nothing outside what a placement can hold.
std::optional<int32_t> truncated(float value) {
    if (!(std::fabs(value) < 2147483648.0f)) return std::nullopt;
    return int32_t(value);
}

Vector unit_edge(const Point& from, const Point& to) {
    Vector v = vector_between(from.x, from.y, to.x, to.y);
    normalize(v);
    return v;
}

// Inside a quadrilateral of either winding: on one side of every edge, or on it. (inside_quad_q takes
// only the corners that run clockwise on the screen; the mapping takes both.)
bool within_q(const Quad& quad, double x, double y) {
    bool right = false, left = false;
    for (size_t i = 0; i < 4; i++) {
        const Point &a = quad[i], &b = quad[(i + 1) % 4];
        double side = cross(vector_between(a.x, a.y, x, y), vector_between(a.x, a.y, b.x, b.y));
        right |= side > 0, left |= side < 0;
    }
    return !(right && left);
}

double distance_to_edge(double x, double y, const Point& start, Vector edge) {
    return std::fabs(cross(vector_between(start.x, start.y, x, y), edge));
}

// The source pixel at (u, v), sampled between its four neighbours; 0 outside the source.
uint32_t bilinear(const uint32_t* source, int32_t width, int32_t height, double u, double v) {
    if (!(u > -1 && v > -1 && u < width && v < height)) return 0;  // truncation takes (-1, 0) to 0
    int32_t ix = int32_t(u), iy = int32_t(v);
    int32_t ix1 = std::min(ix + 1, width - 1), iy1 = std::min(iy + 1, height - 1);
    float fx = std::max(float(u - ix), 0.0f), fy = std::max(float(v - iy), 0.0f);
    uint32_t s00 = source[size_t(iy) * width + ix], s10 = source[size_t(iy) * width + ix1];
    uint32_t s01 = source[size_t(iy1) * width + ix], s11 = source[size_t(iy1) * width + ix1];
    uint32_t pixel = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        auto byte = [shift](uint32_t p) { return float((p >> shift) & 0xFF); };
        float value = (1 - fx) * (1 - fy) * byte(s00) + fx * (1 - fy) * byte(s10) + (1 - fx) * fy * byte(s01) +
                      fx * fy * byte(s11);
        pixel |= uint32_t(value) << shift;
    }
    return pixel;
}

}  // namespace

std::optional<Pixels> transform(const uint32_t* source, int32_t width, int32_t height, const Quad& quad,
                                Placement& placement) {
    if (width < 1 || height < 1) return std::nullopt;
    float min_x = quad[0].x, max_x = quad[0].x, min_y = quad[0].y, max_y = quad[0].y;
    for (const Point& p : quad) {
        min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
        min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
    }
    std::optional<int32_t> x = truncated(min_x), y = truncated(min_y), w = truncated(max_x - min_x),
                           h = truncated(max_y - min_y);
    if (!x || !y || !w || !h || !os_image::fits_q(*w, *h)) return std::nullopt;
    placement = {*x, *y, *w, *h};
    const Vector edges[4] = {unit_edge(quad[0], quad[1]), unit_edge(quad[1], quad[2]), unit_edge(quad[2], quad[3]),
                             unit_edge(quad[3], quad[0])};
    Pixels out(size_t(*w) * size_t(*h), 0);
    for (int32_t j = 0; j < *h; j++) {
        for (int32_t i = 0; i < *w; i++) {
            double px = double(i) + *x, py = double(j) + *y;
            if (!within_q(quad, px, py)) continue;
            double d[4];
            for (size_t e = 0; e < 4; e++) d[e] = distance_to_edge(px, py, quad[e], edges[e]);
            double u = d[3] / (d[3] + d[1]) * width, v = d[0] / (d[0] + d[2]) * height;
            out[size_t(j) * *w + i] = bilinear(source, width, height, u, v);
        }
    }
    return out;
}

std::optional<Pixels> resize(const uint32_t* source, int32_t width, int32_t height, int32_t new_width,
                             int32_t new_height) {
    float w = float(new_width), h = float(new_height);
    Placement placement;
    std::optional<Pixels> out = transform(source, width, height, Quad{{{0, 0}, {w, 0}, {w, h}, {0, h}}}, placement);
    if (!out || placement.width != new_width || placement.height != new_height) return std::nullopt;
    return out;
}

void mirror_x(Quad& quad, float c) {
    for (Point& p : quad) p.x = 2 * c - p.x;
}

void mirror_y(Quad& quad, float c) {
    for (Point& p : quad) p.y = 2 * c - p.y;
}

namespace {

uint32_t clamp_byte(int32_t value) { return uint32_t(std::clamp(value, 0, 255)); }

// One opaque pixel of luma y and chroma u, v (each less 128); the shifts round toward minus infinity.
uint32_t yuv_pixel(int32_t y, int32_t u, int32_t v) {
    uint32_t r = clamp_byte(y + ((v * 91881) >> 16));
    uint32_t g = clamp_byte(y - ((v * 46792) >> 16) - ((u * 21889) >> 16));
    uint32_t b = clamp_byte(y + ((u * 116129) >> 16));
    return 255u << 24 | b << 16 | g << 8 | r;
}

}  // namespace

void yuy2_to_argb(int32_t width, int32_t height, const uint8_t* yuy2, uint32_t* destination) {
    for (int32_t row = 0; row < height; row++) {
        for (int32_t i = 0; i < width; i += 2, yuy2 += 4) {
            int32_t u = yuy2[1] - 128, v = yuy2[3] - 128;
            *destination++ = yuv_pixel(yuy2[0], u, v);
            if (i + 1 < width) *destination++ = yuv_pixel(yuy2[2], u, v);
        }
    }
}

}  // namespace oka::image_ops
