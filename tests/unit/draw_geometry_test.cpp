// The cells of the draw raster's shapes: lines as the all-octant Bresenham walk takes them, clipped;
// triangle rows; ellipse points.
#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "view/tui/draw_geometry.h"

namespace oka::draw {
namespace {

using Cells = std::vector<std::pair<int64_t, int64_t>>;
constexpr geometry::Rect kWide{-100, -100, 100, 100};

// The walk as written down, with no clipping and no stop but the end point.
Cells plain_line(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    Cells cells;
    int64_t dx = x1 > x0 ? x1 - x0 : x0 - x1, dy = -(y1 > y0 ? y1 - y0 : y0 - y1);
    int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1, err = dx + dy;
    while (true) {
        cells.push_back({x0, y0});
        int64_t e2 = 2 * err;
        if (e2 >= dy) {
            if (x0 == x1) break;
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            if (y0 == y1) break;
            err += dx;
            y0 += sy;
        }
    }
    return cells;
}

Cells line(int64_t x0, int64_t y0, int64_t x1, int64_t y1, const geometry::Rect& clip) {
    Cells cells;
    geometry::line(x0, y0, x1, y1, clip, [&](int64_t x, int64_t y) { cells.push_back({x, y}); });
    return cells;
}

TEST(DrawGeometry, LinesTakeTheCellsOfTheWalkInEveryOctant) {
    for (int64_t x1 = -6; x1 <= 6; x1++)
        for (int64_t y1 = -6; y1 <= 6; y1++)
            EXPECT_EQ(line(0, 0, x1, y1, kWide), plain_line(0, 0, x1, y1)) << x1 << "x" << y1;
}

// A line keeps the cells of its walk that lie inside the clip rectangle, however far its ends lie:
// nothing left of or above it is written, and a line off an edge stops there.
TEST(DrawGeometry, LinesAreClipped) {
    geometry::Rect face{2, 1, 12, 6};
    Cells expected;
    for (auto cell : plain_line(-40, -3, 50, 9))
        if (face.contains(cell.first, cell.second)) expected.push_back(cell);
    EXPECT_EQ(line(-40, -3, 50, 9, face), expected);
    Cells right = line(5, 2, 900, 2, face);
    EXPECT_EQ(right.size(), 7u);
    EXPECT_EQ(right.back(), (std::pair<int64_t, int64_t>{11, 2}));
    EXPECT_TRUE(line(-50, -50, -1, 0, face).empty());

    // ends far beyond the margin walked cell by cell come onto it first: the cells stay on the line's
    // course, inside the face
    Cells far = line(-geometry::kFar, 3, geometry::kFar, 3, face);
    EXPECT_EQ(far.size(), 10u);
    for (auto cell : far) EXPECT_TRUE(face.contains(cell.first, cell.second));
    Cells diagonal = line(-geometry::kFar, -geometry::kFar, geometry::kFar, geometry::kFar, face);
    for (auto cell : diagonal) EXPECT_EQ(cell.first, cell.second);
    EXPECT_EQ(diagonal.size(), 4u);
}

TEST(DrawGeometry, TriangleRowsRunFromTheTopToTheRowBeforeTheBottom) {
    std::vector<std::vector<int64_t>> rows;
    auto collect = [&](int64_t y, int64_t from, int64_t to) { rows.push_back({y, from, to}); };
    geometry::triangle_rows(0, 4, 4, 0, 8, 4, kWide, collect);
    EXPECT_EQ(rows, (std::vector<std::vector<int64_t>>{{0, 4, 4}, {1, 3, 5}, {2, 2, 6}, {3, 1, 7}}));

    rows.clear();
    geometry::triangle_rows(0, 4, 4, 0, 8, 4, geometry::Rect{2, 2, 6, 100}, collect);
    EXPECT_EQ(rows, (std::vector<std::vector<int64_t>>{{2, 2, 5}, {3, 2, 5}}));

    rows.clear();
    geometry::triangle_rows(0, 3, 5, 3, 9, 3, kWide, collect);
    EXPECT_TRUE(rows.empty());
}

// A circle of radius r is an ellipse of radii 2r and r: `circle 10x5 3` covers 13 columns and 7 rows,
// every row of the outline symmetric about the centre.
TEST(DrawGeometry, EllipsePoints) {
    std::set<std::pair<int64_t, int64_t>> points;
    geometry::ellipse(10, 5, 6, 3, [&](int64_t x, int64_t y) { points.insert({x, y}); });
    int64_t left = 100, right = -100, top = 100, bottom = -100;
    for (auto [x, y] : points) {
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        EXPECT_TRUE(points.count({20 - x, y}) && points.count({x, 10 - y}));
    }
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(int64_t(4), int64_t(16)));
    EXPECT_EQ(std::make_pair(top, bottom), std::make_pair(int64_t(2), int64_t(8)));

    // the tips of a tall ellipse, and the flat ones, end
    points.clear();
    geometry::ellipse(0, 0, 0, 4, [&](int64_t x, int64_t y) { points.insert({x, y}); });
    EXPECT_EQ(points.size(), 7u);
    points.clear();
    geometry::ellipse(0, 0, 3, 0, [&](int64_t x, int64_t y) { points.insert({x, y}); });
    EXPECT_EQ(points.size(), 7u);
}

}  // namespace
}  // namespace oka::draw
