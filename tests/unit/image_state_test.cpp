// The C++ state a heap image carries: saved with the registered roots, put back over the globals, and
// refused whole when the pieces are not those of this build's layout.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "datatypes/none.h"
#include "runtime/image_state.h"
#include "runtime/root.h"
#include "test_support.h"

using namespace oka;

namespace {

struct Counters {
    uint32_t a, b;
};
Counters counters{1, 2};
std::map<uint8_t, uint8_t> table{{1, 10}, {2, 20}};

image_state::Bytes save_table() {
    image_state::Bytes bytes;
    for (auto [key, value] : table) bytes.insert(bytes.end(), {key, value});
    return bytes;
}
void restore_table(std::span<const uint8_t> bytes) {
    table.clear();
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) table[bytes[i]] = bytes[i + 1];
}

}  // namespace

TEST(ImageState, PutsBackWhatWasSavedAndRefusesPiecesOfAnotherLayout) {
    static bool kept = false;
    if (!kept) {
        image_state::keep(counters);
        image_state::keep(image_state::Hook{save_table, restore_table});
        kept = true;
    }
    ASSERT_FALSE(runtime::registered_roots().empty());
    Cell* root = runtime::registered_roots().front();
    Cell root_before = *root;
    std::vector<image_state::Bytes> saved = image_state::save();
    std::vector<std::span<const uint8_t>> pieces(saved.begin(), saved.end());
    ASSERT_TRUE(image_state::fits(pieces));

    counters = {7, 8};
    table = {{3, 30}};
    *root = none::value;
    image_state::restore(pieces);
    EXPECT_EQ(counters.a, 1u);
    EXPECT_EQ(counters.b, 2u);
    EXPECT_EQ(table, (std::map<uint8_t, uint8_t>{{1, 10}, {2, 20}}));
    EXPECT_EQ(std::memcmp(root, &root_before, sizeof(Cell)), 0) << "a registered root is carried";

    std::vector<std::span<const uint8_t>> fewer(pieces.begin(), pieces.end() - 1);
    EXPECT_FALSE(image_state::fits(fewer));
    std::vector<std::span<const uint8_t>> more = pieces;
    more.push_back(pieces.back());
    EXPECT_FALSE(image_state::fits(more));
    image_state::Bytes wider(sizeof(Counters) + 4);
    std::vector<std::span<const uint8_t>> resized = pieces;
    resized[resized.size() - 2] = wider;
    EXPECT_FALSE(image_state::fits(resized)) << "a piece of another size is another layout";
}
