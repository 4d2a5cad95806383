// The heap image's file format: what is written reads back, and an image of another build, a truncated
// one or one with any byte changed is refused with its reason, never read past its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

#include "boot/heap_image.h"

using namespace oka;

namespace {

constexpr uint32_t kPage = 4096;
const heap_image::Stamp kStamp{0x1234'5678'9ABC'DEF0, kPage, 0x60000000};

// A stand-in for the space: the pages of three ranges filled with a pattern of their offsets, but for
// a page in the middle of the second range and the whole of the third, which are zero.
struct Space {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(10 * kPage);
    std::vector<heap_image::Range> ranges{{kPage, kPage}, {3 * kPage, 3 * kPage}, {7 * kPage, 2 * kPage}};
    std::vector<uint8_t> root = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<uint8_t> flag = {1};
    std::vector<uint8_t> nothing;

    Space() {
        for (size_t i = 0; i < bytes.size(); i++) bytes[i] = uint8_t(i * 7 + i / kPage);
        std::fill(bytes.begin() + 4 * kPage, bytes.begin() + 5 * kPage, 0);
        std::fill(bytes.begin() + 7 * kPage, bytes.end(), 0);
    }
    std::vector<uint8_t> image(const heap_image::Stamp& stamp = kStamp) const {
        std::vector<std::span<const uint8_t>> pieces{root, flag, nothing};
        return heap_image::write(stamp, ranges, bytes.data(), pieces);
    }
};

// Why the image in `file` is refused, its pages read from the file itself; "" when it is not.
std::string refusal(const std::vector<uint8_t>& file) {
    auto checked = heap_image::check(file, kStamp);
    if (auto* reason = std::get_if<std::string>(&checked)) return *reason;
    const auto& contents = std::get<heap_image::Contents>(checked);
    return heap_image::check_pages(contents, std::span(file).subspan(contents.pages_at, contents.page_bytes));
}

}  // namespace

// The ranges come back whole from the runs of pages the file holds; the zero pages take no room in it.
TEST(HeapImage, ReadsBackTheRangesAndPiecesWritten) {
    Space space;
    std::vector<uint8_t> file = space.image();
    auto checked = heap_image::check(file, kStamp);
    ASSERT_TRUE(std::holds_alternative<heap_image::Contents>(checked)) << std::get<std::string>(checked);
    const auto& contents = std::get<heap_image::Contents>(checked);
    EXPECT_EQ(refusal(file), "");
    ASSERT_EQ(contents.ranges.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(contents.ranges[i].offset, space.ranges[i].offset);
        EXPECT_EQ(contents.ranges[i].bytes, space.ranges[i].bytes);
    }
    EXPECT_EQ(contents.pages_at % kPage, 0u) << "the pages must be mappable from the file";
    EXPECT_EQ(contents.page_bytes, 3 * kPage) << "only the pages that are not all zero are written";
    EXPECT_EQ(file.size(), contents.pages_at + contents.page_bytes);
    std::vector<uint8_t> loaded(space.bytes.size(), 0xEE);
    for (const heap_image::Range& r : contents.ranges) std::fill_n(loaded.begin() + r.offset, r.bytes, 0);
    const uint8_t* from = file.data() + contents.pages_at;
    for (const heap_image::Range& r : contents.runs) {
        std::copy_n(from, r.bytes, loaded.begin() + r.offset);
        from += r.bytes;
    }
    for (const heap_image::Range& r : space.ranges)
        EXPECT_EQ(std::memcmp(loaded.data() + r.offset, space.bytes.data() + r.offset, r.bytes), 0)
            << "range at " << r.offset;
    ASSERT_EQ(contents.pieces.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(contents.pieces[0].begin(), contents.pieces[0].end()), space.root);
    EXPECT_EQ(std::vector<uint8_t>(contents.pieces[1].begin(), contents.pieces[1].end()), space.flag);
    EXPECT_TRUE(contents.pieces[2].empty());
}

TEST(HeapImage, RefusesAnotherBuildOrPageSizeOrSpace) {
    Space space;
    heap_image::Stamp other_build = kStamp, other_page = kStamp, other_space = kStamp;
    other_build.build++;
    other_page.page_size = 2 * kPage;
    other_space.space_address = 0x300000000000;
    for (const heap_image::Stamp& stamp : {other_build, other_page, other_space})
        EXPECT_EQ(refusal(space.image(stamp)), "made by another build");
    EXPECT_EQ(refusal(std::vector<uint8_t>(100, 'x')), "not a heap image");
    EXPECT_EQ(refusal({}), "truncated");
}

// Every length short of the whole file, and every byte changed, is refused: the header by its own
// checksum, the tables and pieces by theirs, the pages by their thirds'.
TEST(HeapImage, RefusesEveryTruncationAndEveryChangedByte) {
    std::vector<uint8_t> file = Space().image();
    for (size_t length = 0; length < file.size(); length += length < 200 ? 1 : 509) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + long(length));
        EXPECT_NE(refusal(cut), "") << "cut to " << length << " bytes";
    }
    for (size_t at = 0; at < file.size(); at += at < 200 ? 1 : 97) {
        std::vector<uint8_t> changed = file;
        changed[at] ^= 0x10;
        EXPECT_NE(refusal(changed), "") << "byte " << at << " changed";
    }
    std::vector<uint8_t> longer = file;
    longer.push_back(0);
    EXPECT_EQ(refusal(longer), "bytes after its end");
}

TEST(HeapImage, TheRefusalLineSaysWhatStartsInstead) {
    EXPECT_EQ(heap_image::refusal_line("truncated"),
              "*** Heap image refused: truncated; starting from the boot data\n");
}
