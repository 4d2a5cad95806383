/* The value cell: every language value is one 16-byte cell.

   Word 0 is the header: bits 0-7 the type id, bit 30 the new-line-before flag, other bits per type.
   Words 1 to 3 are the payload, laid out by each datatype (a series keeps its head index in word 1 and
   its node in word 2; a float keeps its double in words 2 and 3, low half first).

   Rules: a Cell copied into a C++ local is not a root for the collector, and a Cell* into a series
   buffer is a buffer pointer (runtime/memory.h): neither may be kept across an allocation. */
#pragma once

#include <cstring>

#include "runtime/base.h"

namespace oka {

enum class Type : uint8_t {
    Void = 0,  // no type: the parent of a type that has none
#define OKA_TYPE(id, Name, text, Parent, layout, classes) Name = id,
#include "runtime/types.def"
#undef OKA_TYPE
};

inline constexpr int kTypeCount = 0
#define OKA_TYPE(id, Name, text, Parent, layout, classes) +1
#include "runtime/types.def"
#undef OKA_TYPE
    ;
static_assert(kTypeCount == 54, "the language has 54 datatypes");

// Type ids beyond the datatypes: the registry has room for ids 0 to 56; 56 marks a bounded string
// view, read as a string limited to payload word 3 units from its head.
inline constexpr int kTypeTableSize = 57;
inline constexpr uint8_t kBoundedStringType = 56;

inline constexpr uint32_t kCellNewLine = 1u << 30;

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;

    Type type() const { return Type(header & 0xFF); }
    bool is(Type t) const { return type() == t; }
    // Replaces the type byte and keeps the other header bits.
    void set_type(Type t) { header = (header & ~0xFFu) | uint8_t(t); }
    bool new_line() const { return header & kCellNewLine; }
    void clear_new_line() { header &= ~kCellNewLine; }

    // The 64-bit payload of floats, times and percents (words 2 and 3, low half first).
    double f64() const {
        double d;
        std::memcpy(&d, &data2, sizeof d);
        return d;
    }
    void set_f64(double d) { std::memcpy(&data2, &d, sizeof d); }
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

// Copies the whole cell; a cell copied onto itself is left as it is.
inline Cell* copy_cell(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

}  // namespace oka
