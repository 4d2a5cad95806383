// Raster operations on pixel buffers, and the placing of an image into a quadrilateral that drawing
// back ends use: nothing in the language reaches them, so they are tested here.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "datatypes/image.h"
#include "datatypes/pair.h"
#include "runtime/image_ops.h"
#include "runtime/image_store.h"
#include "runtime/stack.h"
#include "test_support.h"

namespace oka {
namespace {

using image_ops::Pixels;
using image_ops::Placement;
using image_ops::Quad;

// A buffer of width x height pixels, pixel i being i + 1 in every byte's low bits.
Pixels numbered(int32_t width, int32_t height) {
    Pixels p(size_t(width) * height);
    for (size_t i = 0; i < p.size(); i++) p[i] = 0xFF000000u | uint32_t(i + 1);
    return p;
}

Quad rectangle(float x, float y, float w, float h) { return {{{x, y}, {x + w, y}, {x + w, y + h}, {x, y + h}}}; }

TEST(ImageOps, VectorsAndTheInsideOfAQuadrilateral) {
    EXPECT_DOUBLE_EQ(image_ops::length({3, 4}), 5.0);
    image_ops::Vector v{3, 4};
    image_ops::normalize(v);
    EXPECT_DOUBLE_EQ(v.x, 0.6);
    EXPECT_DOUBLE_EQ(image_ops::cross({1, 0}, {0, 1}), 1.0);
    // Corners that run clockwise on the screen (y grows downwards): every inside point, the edges
    // included, lies on the non-right side of all four edges.
    Quad square = rectangle(0, 0, 10, 10);
    EXPECT_TRUE(image_ops::inside_quad_q(square, 5, 5));
    EXPECT_TRUE(image_ops::inside_quad_q(square, 0, 10));
    EXPECT_FALSE(image_ops::inside_quad_q(square, 5, -0.5));
    EXPECT_FALSE(image_ops::inside_quad_q(square, 10.5, 5));
    EXPECT_TRUE(image_ops::right_of_q(5, -5, 0, 0, 10, 0));
}

TEST(ImageOps, ARectangleCopyIsCutAtTheSourceEdges) {
    Pixels source = numbered(3, 2);  // 1 2 3 / 4 5 6
    Pixels out(4, 0);
    EXPECT_TRUE(image_ops::copy_rect(source.data(), 3, 2, 1, 0, 5, 5, out.data()));
    EXPECT_EQ(out, (Pixels{source[1], source[2], source[4], source[5]}));
    for (auto [x, y] : {std::pair{3, 0}, {0, 2}, {-1, 0}, {0, -1}})
        EXPECT_FALSE(image_ops::copy_rect(source.data(), 3, 2, x, y, 1, 1, out.data())) << x << "," << y;
}

TEST(ImageOps, MappingIntoTheSourceRectangleReproducesIt) {
    Pixels source = numbered(4, 3);
    std::optional<Pixels> same = image_ops::resize(source.data(), 4, 3, 4, 3);
    ASSERT_TRUE(same);
    EXPECT_EQ(*same, source);
    Placement placement;
    std::optional<Pixels> moved = image_ops::transform(source.data(), 4, 3, rectangle(7, -2, 4, 3), placement);
    ASSERT_TRUE(moved);
    EXPECT_EQ(*moved, source);
    EXPECT_EQ(placement.x, 7);
    EXPECT_EQ(placement.y, -2);
    std::optional<Pixels> doubled = image_ops::resize(source.data(), 4, 3, 8, 6);
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->size(), 48u);
    EXPECT_EQ((*doubled)[0], source[0]);
}

// Corners that run the other way round map too: here the source comes out flipped left to right (the
// sampling takes each pixel's corner, so the first column falls on the source's right edge, outside).
TEST(ImageOps, QuadrilateralsOfEitherWindingMap) {
    Pixels source = numbered(3, 1);
    Placement placement;
    std::optional<Pixels> flipped =
        image_ops::transform(source.data(), 3, 1, Quad{{{3, 0}, {0, 0}, {0, 1}, {3, 1}}}, placement);
    ASSERT_TRUE(flipped);
    EXPECT_EQ(*flipped, (Pixels{0, source[2], source[1]}));
}

TEST(ImageOps, PixelsOutsideARotatedQuadrilateralStayTransparentBlack) {
    Pixels white(4, 0xFFFFFFFF);
    Placement placement;
    std::optional<Pixels> diamond =
        image_ops::transform(white.data(), 2, 2, Quad{{{5, 0}, {10, 5}, {5, 10}, {0, 5}}}, placement);
    ASSERT_TRUE(diamond);
    EXPECT_EQ(placement.width, 10);
    EXPECT_EQ((*diamond)[0], 0u);
    EXPECT_EQ((*diamond)[9], 0u);
    EXPECT_NE((*diamond)[5 * 10 + 5], 0u);
}

// Quadrilaterals that give no area, no finite coordinates or no placement the image layer could hold,
// and sources without pixels: an empty result or none, never a crash.
TEST(ImageOps, DegenerateMappingsGiveNothingOrAnEmptyBuffer) {
    Pixels source = numbered(2, 2);
    Placement placement;
    std::optional<Pixels> line = image_ops::transform(source.data(), 2, 2, rectangle(0, 0, 5, 0), placement);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->empty());
    float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Quad& quad :
         {rectangle(0, 0, 1e9f, 1e9f), rectangle(0, 0, 70000, 1), rectangle(nan, 0, 1, 1), rectangle(3e9f, 0, 1, 1)})
        EXPECT_FALSE(image_ops::transform(source.data(), 2, 2, quad, placement));
    EXPECT_FALSE(image_ops::transform(source.data(), 0, 2, rectangle(0, 0, 2, 2), placement));
    // Three corners on one spot fold the quadrilateral: its pixels stay 0 instead of dividing by zero.
    std::optional<Pixels> folded =
        image_ops::transform(source.data(), 2, 2, Quad{{{0, 0}, {0, 0}, {0, 0}, {4, 4}}}, placement);
    ASSERT_TRUE(folded);
}

TEST(ImageOps, MirroringReflectsEachCorner) {
    Quad q = rectangle(1, 2, 3, 4);
    image_ops::mirror_x(q, 1);
    EXPECT_EQ(q[1].x, -2.0f);
    image_ops::mirror_y(q, 0);
    EXPECT_EQ(q[2].y, -6.0f);
}

TEST(ImageOps, Yuy2BecomesOpaqueWordsWithClampedChannels) {
    struct Case {
        std::vector<uint8_t> yuy2;
        int32_t width;
        Pixels expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {{128, 128, 128, 128}, 2, {0xFF808080, 0xFF808080}},
             {{255, 128, 0, 255}, 2, {0xFFFFA5FF, 0xFF0000B2}},  // red clamps at 255, green at 0
             {{10, 128, 20, 128, 30, 128, 0, 128}, 3, {0xFF0A0A0A, 0xFF141414, 0xFF1E1E1E}},
         }) {
        Pixels out(size_t(c.width), 0);
        image_ops::yuy2_to_argb(c.width, 1, c.yuy2.data(), out.data());
        EXPECT_EQ(out, c.expected) << c.width;
    }
    // A row of an odd width ends with a whole group: the next row starts at the next group.
    std::vector<uint8_t> rows = {10, 128, 20, 128, 30, 128, 0, 128, 40, 128, 50, 128, 60, 128, 0, 128};
    Pixels out(6, 0);
    image_ops::yuy2_to_argb(3, 2, rows.data(), out.data());
    EXPECT_EQ(out[3], 0xFF282828u);
}

class PlaceImage : public ::testing::Test {
protected:
    // A new 3x2 image numbered as `numbered` does, on the data stack.
    Cell* source() {
        Cell size;
        pair::make_at(&size, 3, 2);
        Cell* image = stack::push(test::run(actions::make_s, {test::type_cell(Type::Image), size}));
        os_image::Lock lock(image::pixels_of(*image), true);
        Pixels n = numbered(3, 2);
        std::copy(n.begin(), n.end(), lock.pixels().begin());
        return image;
    }
    static Cell point(int32_t x, int32_t y) {
        Cell c;
        pair::make_at(&c, x, y);
        return c;
    }
    static Pixels pixels_of(const Cell& image) {
        os_image::Lock lock(image::pixels_of(image), false);
        return {lock.pixels().begin(), lock.pixels().end()};
    }
    Cell* saved_ = stack::top;
    ~PlaceImage() override { stack::top = saved_; }
};

TEST_F(PlaceImage, OnePointPlacesTheWholeImageOrItsCrop) {
    Cell* image = source();
    Cell* result = stack::push_next();
    Placement placement;
    Cell at[] = {point(10, 20)};
    image::place(*image, result, std::nullopt, at, placement);
    ASSERT_TRUE(result->is(Type::Image));
    EXPECT_EQ(pixels_of(*result), numbered(3, 2));
    EXPECT_EQ(placement.x, 10);
    EXPECT_EQ(placement.width, 3);
    // A crop past the right edge is cut to the source: the last column's two pixels.
    image::place(*image, result, image::Crop{2, 0, 5, 5}, at, placement);
    EXPECT_EQ(pixels_of(*result), (Pixels{numbered(3, 2)[2], numbered(3, 2)[5]}));
    image::place(*image, result, image::Crop{3, 0, 1, 1}, at, placement);
    EXPECT_TRUE(result->is(Type::None));
}

TEST_F(PlaceImage, CornersRightToLeftMirrorAndTooManyPointsGiveNone) {
    Cell* image = source();
    Cell* result = stack::push_next();
    Placement placement;
    Cell backwards[] = {point(3, 0), point(0, 2)};
    image::place(*image, result, std::nullopt, backwards, placement);
    ASSERT_TRUE(result->is(Type::Image));
    EXPECT_EQ(placement.width, -3);
    EXPECT_EQ(placement.height, 2);
    Cell five[] = {point(0, 0), point(1, 0), point(1, 1), point(0, 1), point(2, 2)};
    image::place(*image, result, std::nullopt, five, placement);
    EXPECT_TRUE(result->is(Type::None));
    Cell three[] = {point(0, 0), point(3, 0), point(0, 2)};  // p0, p1 and p3: the same rectangle
    image::place(*image, result, std::nullopt, three, placement);
    EXPECT_EQ(pixels_of(*result), numbered(3, 2));
}

}  // namespace
}  // namespace oka
