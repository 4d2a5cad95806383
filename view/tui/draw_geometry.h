/* The shapes of the draw raster as cells: lines, filled triangles and ellipses. Each walk calls back
   with the cells of its shape, in a fixed order; the raster decides what a cell becomes.

   Rules: coordinates are absolute cells, at most kFar from 0, so that every product below fits 64
   bits; lines and triangle rows are clipped here, ellipse points are not (their fills need the points
   outside). No walk allocates. */
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace oka::draw::geometry {

// The farthest a coordinate may lie from 0, and the largest radius: beyond any screen, and small enough
// that the squares and products of the walks fit 64 bits.
inline constexpr int64_t kFar = int64_t(1) << 20;

inline int64_t near(int64_t value) { return std::clamp(value, -kFar, kFar); }

// A rectangle of cells: left and top included, right and bottom not.
struct Rect {
    int64_t left, top, right, bottom;
    bool contains(int64_t x, int64_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool empty() const { return left >= right || top >= bottom; }
};

// The part of a segment inside a rectangle widened by `margin` on each side, its ends rounded to cells;
// false when none is. An end already inside is kept as it is.
inline bool clip_segment(int64_t& x0, int64_t& y0, int64_t& x1, int64_t& y1, const Rect& rect, int64_t margin) {
    double left = double(rect.left - margin), right = double(rect.right - 1 + margin);
    double top = double(rect.top - margin), bottom = double(rect.bottom - 1 + margin);
    double dx = double(x1 - x0), dy = double(y1 - y0), t0 = 0.0, t1 = 1.0;
    // Each side cuts the parameter range of the segment (p t <= q for the points inside).
    double p[] = {-dx, dx, -dy, dy};
    double q[] = {double(x0) - left, right - double(x0), double(y0) - top, bottom - double(y0)};
    for (int i = 0; i < 4; i++) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
    int64_t ax = x0, ay = y0;
    if (t1 < 1.0) {
        x1 = std::llround(double(ax) + t1 * dx);
        y1 = std::llround(double(ay) + t1 * dy);
    }
    if (t0 > 0.0) {
        x0 = std::llround(double(ax) + t0 * dx);
        y0 = std::llround(double(ay) + t0 * dy);
    }
    return true;
}

// How far beyond the clip rectangle a line is walked cell by cell: a line whose ends both lie within it
// takes exactly the cells of the all-octant Bresenham walk; farther ends are first moved onto its edge.
inline constexpr int64_t kLineMargin = 1024;

// The cells of the line from (x0, y0) to (x1, y1) that lie inside `clip`, from the first end.
template <class Plot>
void line(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const Rect& clip, Plot&& plot) {
    if (clip.empty() || !clip_segment(x0, y0, x1, y1, clip, kLineMargin)) return;
    int64_t dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = y1 > y0 ? y0 - y1 : y1 - y0;
    int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    while (true) {
        if (clip.contains(x0, y0)) plot(x0, y0);
        if (x0 == x1 && y0 == y1) return;
        int64_t e2 = 2 * err;
        if (e2 >= dy) {
            if (x0 == x1) return;
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            if (y0 == y1) return;
            err += dx;
            y0 += sy;
        }
    }
}

// The rows of the filled triangle inside `clip`: span(y, from, to) for each row from the top vertex to
// the row before the bottom one, `from` <= `to`, both clipped (a row wholly outside is left out). The
// edges are interpolated and truncated.
template <class Span>
void triangle_rows(int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t x2, int64_t y2, const Rect& clip,
                   Span&& span) {
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    if (y1 > y2) std::swap(x1, x2), std::swap(y1, y2);
    if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
    for (int64_t y = std::max(y0, clip.top); y < std::min(y2, clip.bottom); y++) {
        int64_t a = x0 + (x2 - x0) * (y - y0) / (y2 - y0);
        int64_t b = y < y1 ? x0 + (x1 - x0) * (y - y0) / (y1 - y0) : x1 + (x2 - x1) * (y - y1) / (y2 - y1);
        int64_t from = std::max(std::min(a, b), clip.left), to = std::min(std::max(a, b), clip.right - 1);
        if (from <= to) span(y, from, to);
    }
}

// The points of the ellipse of centre (cx, cy) and radii a (across) and b (down), both at most kFar:
// plot(x, y) for each, the four quadrants together from the widest row, then the tips of a tall one.
template <class Plot>
void ellipse(int64_t cx, int64_t cy, int64_t a, int64_t b, Plot&& plot) {
    int64_t x = -a, y = 0;
    int64_t dx = b * b * (1 - 2 * a), dy = a * a, err = dx + a * a;
    while (x <= 0) {
        plot(cx - x, cy + y);
        plot(cx + x, cy + y);
        plot(cx + x, cy - y);
        plot(cx - x, cy - y);
        int64_t e2 = 2 * err;
        if (e2 >= dx) {
            dx += 2 * b * b;
            err += dx;
            x++;
        }
        if (e2 <= dy) {
            dy += 2 * a * a;
            err += dy;
            y++;
        }
    }
    while (y + 1 < b) {
        y++;
        plot(cx, cy + y);
        plot(cx, cy - y);
    }
}

}  // namespace oka::draw::geometry
