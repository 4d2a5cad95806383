// Helpers of the string!, char! and issue! tests: texts made from UTF-8 and read back as UTF-8, and
// refinement lists for the stack entry points; on top of series_testing.h.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "datatypes/string.h"
#include "series_testing.h"

namespace oka::test {

// A string! loaded from UTF-8, kept for the rest of the test.
inline Cell str(std::string_view utf8) {
    std::string bytes(utf8);  // outside the series buffers, as loading asks
    Cell string;
    string::load_at(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), &string, unicode::kUtf8);
    return keep(string);
}

// The code points of a string from its head, as UTF-8.
inline std::string utf8(const Cell& string) {
    std::string out;
    for (char32_t c : code_points(string)) {
        uint8_t bytes[4];
        out.append(reinterpret_cast<const char*>(bytes), unicode::cp_to_utf8(c, bytes));
    }
    return out;
}

// A binary! holding the bytes given, kept for the rest of the test.
inline Cell binary_of(std::string_view bytes) {
    Node node = alloc::alloc_bytes(uint32_t(bytes.size()));
    std::memcpy(alloc::alloc_tail_bytes(node, uint32_t(bytes.size())).get(), bytes.data(), bytes.size());
    return keep(Cell::of(Type::Binary).set_node(node));
}

inline uint32_t unit_of(const Cell& string) { return mem::buffer(string.node())->unit(); }

// The refinement list of an entry point: each pair gives a refinement's index in the action's list and
// the frame position of its argument (any position for a refinement without one).
inline std::vector<int32_t> given(std::initializer_list<std::pair<int, int32_t>> refinements) {
    std::vector<int32_t> list(16, -1);
    for (auto [index, position] : refinements) list[index] = position;
    return list;
}

}  // namespace oka::test
