#include "runtime/case_folding.h"

#include <array>
#include <limits>
#include <utility>

#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/unicode_tables.inc"

namespace oka {

namespace case_folding {

namespace {

constexpr uint32_t kBmpSize = 0x10000;
constexpr uint32_t kBlockSize = 256;

// A map of the code points below U+10000 in two stages: the high byte of a code point picks a block
// of 256 entries, the low byte the entry, which holds the mapped code point, or 0 when the code point
// maps to itself. Block 0 is all zeros and stands for every block without a mapping. The maps are
// built at compile time: start-up fills nothing, and a run reads the few blocks its text needs.
template <size_t Blocks>
struct BmpMap {
    std::array<uint8_t, kBmpSize / kBlockSize> block_of{};
    std::array<std::array<uint32_t, kBlockSize>, Blocks> entries{};

    constexpr uint32_t operator[](uint32_t code_point) const {
        return entries[block_of[code_point / kBlockSize]][code_point % kBlockSize];
    }
};

// The blocks a map needs: the empty one, and one per high byte that the sources start with.
constexpr size_t blocks_needed(std::span<const CasePair> pairs) {
    std::array<bool, kBmpSize / kBlockSize> seen{};
    size_t blocks = 1;
    for (const CasePair& pair : pairs)
        if (!std::exchange(seen[pair.from / kBlockSize], true)) blocks++;
    return blocks;
}

template <size_t Blocks>
constexpr BmpMap<Blocks> build_map(std::span<const CasePair> pairs) {
    static_assert(Blocks <= 256, "a block number fits a byte");
    BmpMap<Blocks> map;
    uint8_t used = 0;
    for (const CasePair& pair : pairs) {
        uint8_t& block = map.block_of[pair.from / kBlockSize];
        if (!block) block = ++used;
        map.entries[block][pair.from % kBlockSize] = pair.to;
    }
    return map;
}

constexpr auto kToUpper = build_map<blocks_needed(kToUpperBmp)>(kToUpperBmp);
constexpr auto kToLower = build_map<blocks_needed(kToLowerBmp)>(kToLowerBmp);

// The pairs are sorted by source, so the scan stops at the first source past the code point.
uint32_t scan(std::span<const CasePair> pairs, uint32_t code_point) {
    if (code_point < pairs.front().from || code_point > pairs.back().from) return code_point;
    for (const CasePair& pair : pairs) {
        if (pair.from == code_point) return pair.to;
        if (pair.from > code_point) break;
    }
    return code_point;
}

// Changes units [i, end) in place. Stops at the first unit whose changed code point does not fit the
// unit and returns its index (end when there is none).
template <class Unit>
uint32_t change_units(uint8_t* data, uint32_t i, uint32_t end, bool upper) {
    for (; i < end; i++) {
        uint32_t changed = change_char(unicode::unit_at<Unit>(data, i), upper);
        if (changed > std::numeric_limits<Unit>::max()) break;
        unicode::set_unit_at<Unit>(data, i, changed);
    }
    return i;
}

}  // namespace

uint32_t change_char(uint32_t code_point, bool upper) {
    if (code_point >= kBmpSize) return scan(upper ? kToUpperSupplementary : kToLowerSupplementary, code_point);
    uint32_t mapped = upper ? kToUpper[code_point] : kToLower[code_point];
    return mapped ? mapped : code_point;
}

// The walk goes on at the same index after a widening: that unit is read again from the wider buffer.
void change_part(Node node, uint32_t index, uint32_t count, bool upper) {
    uint32_t end = index + count;
    OKA_ASSERT(end <= mem::buffer(node)->length());
    for (uint32_t i = index; i < end;) {
        BufPtr<SeriesBuffer> b = mem::buffer(node);
        uint32_t unit = b->unit();
        uint8_t* data = mem::ptr(b->offset);
        i = unicode::with_unit(unit, [&]<class Unit>(Unit) { return change_units<Unit>(data, i, end, upper); });
        if (i < end) unicode::widen(node, unicode::unit_for(change_char(unicode::unit_at(data, unit, i), upper)));
    }
}

}  // namespace case_folding

bool char_width::in_ranges_q(uint32_t code_point, std::span<const CodeRange> ranges) {
    if (ranges.empty() || code_point < ranges.front().first || code_point > ranges.back().last) return false;
    for (const CodeRange& range : ranges) {
        if (code_point < range.first) return false;
        if (code_point <= range.last) return true;
    }
    return false;
}

int char_width_q(uint32_t code_point) {
    if (code_point == 0) return 0;
    if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) return 1;
    if (char_width::in_ranges_q(code_point, char_width::kZeroWidth)) return 0;
    return char_width::in_ranges_q(code_point, char_width::kWide) ? 2 : 1;
}

}  // namespace oka
