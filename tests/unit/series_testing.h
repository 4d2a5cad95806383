// Helpers of the series and block tests: blocks and texts built in C++, on top of test_support.h.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "test_support.h"

namespace oka::test {

inline Cell logic_cell(bool flag) { return flag ? logic::true_value : logic::false_value; }

// The value with the new-line marker: it begins a new line when molded inside a block.
inline Cell line(Cell value) {
    value.header |= kCellNewLine;
    return value;
}

// A new block, kept for the rest of the test.
inline Cell new_block(uint32_t capacity) {
    Cell block;
    block::make_at(&block, int32_t(capacity));
    return keep(block);
}

inline Cell block_of(std::initializer_list<Cell> items) {
    Cell block = new_block(uint32_t(items.size()));
    for (const Cell& item : items) block::rs_append(block, item);
    return block;
}

inline Cell ints(std::initializer_list<int32_t> values) {
    Cell block = new_block(uint32_t(values.size()));
    for (int32_t v : values) block::rs_append(block, int_cell(v));
    return block;
}

inline Cell at_head(Cell series, uint32_t head) { return series.set_head(head); }

inline Cell with_type(Cell value, Type type) {
    value.set_type(type);
    return value;
}

// A string! in a buffer of the given unit holding the code points.
inline Cell text_of_unit(const std::u32string& text, uint32_t unit) {
    Cell string = keep(Cell::of(Type::String).set_node(alloc::alloc_codepoints(uint32_t(text.size()), unit)));
    BufPtr<uint8_t> out = alloc::alloc_tail_bytes(string.node(), uint32_t(text.size()) * unit);
    for (size_t i = 0; i < text.size(); i++) std::memcpy(out.get() + i * unit, &text[i], unit);
    return string;
}

inline std::u32string code_points(const Cell& string) {
    std::u32string out;
    for (uint32_t i = string.head(); i < series::rs_buffer_length_q(string); i++)
        out += char32_t(series::read_unit(string, i));
    return out;
}

inline std::string mold_with(const Cell& value, std::vector<int32_t> refinements) {
    return text_of(run(actions::mold_s, {value}, std::move(refinements)));
}

// Blocks nested `depth` levels deep: [[[...]]].
inline Cell nested(int depth) {
    Cell outer = block_of({});
    Cell inner = outer;
    for (int i = 0; i < depth; i++) {
        Cell next = block_of({});
        block::rs_append(inner, next);
        inner = next;
    }
    return outer;
}

}  // namespace oka::test

// The name under which the first users of these helpers know them.
namespace oka {
namespace harness = test;
}
