/* The code tables of DEFLATE that the compressor and the inflater share: for each length symbol
   (257-285) and each distance code (0-29), the first value it stands for and its count of extra bits.
   Each range of symbols holds four (lengths) or two (distances) codes of one width, the width growing
   by one bit from range to range; the length 258 has a symbol of its own. */
#pragma once

#include <array>
#include <cstdint>

namespace oka::deflate {

struct Base {
    uint16_t base;
    uint8_t extra;
};

inline constexpr std::array<Base, 29> kLengthBases = [] {
    std::array<Base, 29> t{};
    uint32_t base = 3;
    for (uint32_t i = 0; i < 28; i++) {
        uint8_t extra = uint8_t(i < 8 ? 0 : i / 4 - 1);
        t[i] = {uint16_t(base), extra};
        base += 1u << extra;
    }
    t[28] = {258, 0};
    return t;
}();

inline constexpr std::array<Base, 30> kDistanceBases = [] {
    std::array<Base, 30> t{};
    uint32_t base = 1;
    for (uint32_t i = 0; i < 30; i++) {
        uint8_t extra = uint8_t(i < 4 ? 0 : i / 2 - 1);
        t[i] = {uint16_t(base), extra};
        base += 1u << extra;
    }
    return t;
}();

static_assert(kLengthBases[8].base == 11 && kLengthBases[27].base == 227 && kLengthBases[27].extra == 5);
static_assert(kDistanceBases[29].base == 24577 && kDistanceBases[29].extra == 13);

}  // namespace oka::deflate
