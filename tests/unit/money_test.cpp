// money!: the bytes of a value, which serialised money keeps as they stand.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "datatypes/money.h"

using namespace oka;

namespace {

constexpr uint32_t kSignBit = 1u << 14;

// Bytes 4 to 15 of a cell: the currency byte, then 22 packed decimal digits.
std::array<uint8_t, 12> payload_of(const Cell& cell) {
    std::array<uint8_t, 12> bytes;
    std::memcpy(bytes.data(), reinterpret_cast<const uint8_t*>(&cell) + 4, bytes.size());
    return bytes;
}

}  // namespace

TEST(Money, CellLayout) {
    struct Case {
        bool negative;
        const char* whole;
        const char* fraction;
        uint32_t header;
        std::array<uint8_t, 12> payload;
    } cases[] = {
        // 17 whole digits, then 5 decimals: 00000000000001234.50000
        {true, "1234", "5", 49 | kSignBit, {0, 0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x00, 0x00}},
        {false,
         "99999999999999999",
         "99999",
         49,
         {0, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99}},
        {false, "", "00001", 49, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}},
        // a zero carries no sign
        {true, "0", "", 49, {}},
    };
    for (const Case& c : cases) {
        Cell cell{};
        ASSERT_TRUE(money::make_at(&cell, c.negative, "", c.whole, c.fraction)) << c.whole;
        EXPECT_EQ(cell.header, c.header) << c.whole;
        EXPECT_EQ(payload_of(cell), c.payload) << c.whole;
    }
    Cell cell{};
    EXPECT_FALSE(money::make_at(&cell, false, "", "123456789012345678", ""));
    EXPECT_FALSE(money::make_at(&cell, false, "", "1", "123456"));
    EXPECT_TRUE(money::make_at(&cell, false, "", "000000000000000000001", ""));
}
