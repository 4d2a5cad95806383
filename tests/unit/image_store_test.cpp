// The image layer's pixel store: the geometry of its copies, its bounds, the sizes it refuses, and the
// pixels' life in the handle table as long as an image! value names them.
#include <gtest/gtest.h>

#include <vector>

#include "datatypes/image.h"
#include "datatypes/pair.h"
#include "runtime/collector.h"
#include "runtime/handles.h"
#include "runtime/image_store.h"
#include "test_support.h"

namespace oka {
namespace {

// The pixels of a new image of the given size, kept for the rest of the test (pixels that no value names
// go at the next collection), pixel i being i + 1.
int32_t numbered(uint32_t width, uint32_t height) {
    Cell size;
    pair::make_at(&size, int32_t(width), int32_t(height));
    int32_t handle = image::pixels_of(test::run(actions::make_s, {test::type_cell(Type::Image), size}));
    os_image::Lock lock(handle, true);
    for (uint32_t i = 0; i < width * height; i++) lock.pixels()[i] = i + 1;
    return handle;
}

std::vector<uint32_t> pixels(int32_t handle) {
    os_image::Lock lock(handle, false);
    return {lock.pixels().begin(), lock.pixels().end()};
}

void release(int32_t handle) { handles::free(handle, true); }

TEST(ImageStore, CopiesKeepTheirGeometry) {
    int32_t source = numbered(3, 2);  // 1 2 3 / 4 5 6
    struct Case {
        const char* what;
        int32_t made;
        uint32_t width, height;
        std::vector<uint32_t> pixels;
    } cases[] = {
        {"clone", os_image::clone(source), 3, 2, {1, 2, 3, 4, 5, 6}},
        {"inner rectangle", os_image::copy_rect(source, 1, 0, 2, 2), 2, 2, {2, 3, 5, 6}},
        {"one pixel", os_image::copy_rect(source, 2, 1, 1, 1), 1, 1, {6}},
        {"flip", os_image::flip_vertical(source), 3, 2, {4, 5, 6, 1, 2, 3}},
        {"scaled up", os_image::resize(source, 6, 4), 6, 4, {1, 1, 2, 2, 3, 3, 1, 1, 2, 2, 3, 3,
                                                             4, 4, 5, 5, 6, 6, 4, 4, 5, 5, 6, 6}},
        {"scaled down", os_image::resize(source, 2, 1), 2, 1, {1, 2}},
        {"one column", os_image::resize(source, 1, 2), 1, 2, {1, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(os_image::width(c.made), c.width) << c.what;
        EXPECT_EQ(os_image::height(c.made), c.height) << c.what;
        EXPECT_EQ(pixels(c.made), c.pixels) << c.what;
        release(c.made);
    }
    EXPECT_EQ(pixels(source), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6})) << "the copies share nothing";
}

TEST(ImageStore, SinglePixelsAreCheckedAgainstTheSize) {
    int32_t handle = numbered(2, 2);
    EXPECT_EQ(os_image::get_pixel(handle, 3), 4u);
    os_image::set_pixel(handle, 3, 0x80FF0000);
    EXPECT_EQ(os_image::get_pixel(handle, 3), 0x80FF0000u);
    EXPECT_EQ(test::error_of([&] { os_image::get_pixel(handle, 4); }), Err::script_out_of_range);
    EXPECT_EQ(test::error_of([&] { os_image::set_pixel(handle, 0xFFFFFFFF, 0); }), Err::script_out_of_range);
    EXPECT_EQ(pixels(handle), (std::vector<uint32_t>{1, 2, 3, 0x80FF0000}));
}

TEST(ImageStore, SizesItCannotHoldAreRefused) {
    struct Case {
        int64_t width, height;
        bool fits;
    } cases[] = {
        {0, 0, true},   {1, 1, true},         {65535, 1, true},      {65536, 1, false},     {1, 65536, false},
        {-1, 2, false}, {16384, 16384, true}, {16384, 16385, false}, {65535, 65535, false},
    };
    for (const Case& c : cases) EXPECT_EQ(os_image::fits_q(c.width, c.height), c.fits) << c.width << "x" << c.height;
    EXPECT_EQ(test::error_of([] { os_image::make(0, 5, 0); }), Err::internal_no_memory);
    EXPECT_EQ(test::error_of([] { os_image::make(65536, 1, 0); }), Err::internal_no_memory);
}

TEST(ImageStore, PixelsLiveWhileAnImageNamesThem) {
    Cell* saved = stack::top;
    Cell proto = test::type_cell(Type::Image), size;
    pair::make_at(&size, 2, 1);
    const Cell* made = datatype::action<Act::make>(Type::Image)(&proto, &size, Type::Image);
    int32_t handle = image::pixels_of(*made);
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_FALSE(handles::slot(handle).kind & handles::kSlotFree);
    EXPECT_EQ(image::pixels_of(*made), handle) << "the record moves, the handle it names stays";
    EXPECT_EQ(pixels(handle), (std::vector<uint32_t>{0xFFFFFFFF, 0xFFFFFFFF}));
    stack::top = saved;
    collector::do_cycle();
    EXPECT_TRUE(handles::slot(handle).kind & handles::kSlotFree);
}

}  // namespace
}  // namespace oka
