/* What the files of vector! share: reading and writing an element as a number, in place. An element
   is read as an integer (char and integer elements, exact in 64 bits) or as a double (float and
   percent elements); a number written into an element keeps the low bits of an integer or is rounded
   to the element's float precision. None of these allocates. */
#pragma once

#include <algorithm>
#include <cstring>

#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "runtime/memory.h"

namespace oka::vector {

// A char element of 1 or 2 bytes holds a code point unsigned; every other integer element is signed.
inline int64_t read_int(const uint8_t* at, uint32_t size, Type element) {
    bool code_point = element == Type::Char;
    switch (size) {
    case 1: return code_point ? int64_t(*at) : int64_t(int8_t(*at));
    case 2: {
        uint16_t bits;
        std::memcpy(&bits, at, 2);
        return code_point ? int64_t(bits) : int64_t(int16_t(bits));
    }
    default: {
        int32_t bits;
        std::memcpy(&bits, at, 4);
        return bits;
    }
    }
}

inline double read_float(const uint8_t* at, uint32_t size) {
    if (size == 4) {
        float single;
        std::memcpy(&single, at, 4);
        return single;
    }
    double value;
    std::memcpy(&value, at, 8);
    return value;
}

// Any element as a double, integers exactly.
inline double read_number(const uint8_t* at, uint32_t size, Type element) {
    return floating_q(element) ? read_float(at, size) : double(read_int(at, size, element));
}

// The low `size` bytes of the value (units are little-endian).
inline void write_int(uint8_t* at, uint32_t size, int64_t value) {
    uint64_t bits = uint64_t(value);
    std::memcpy(at, &bits, size);
}

inline void write_float(uint8_t* at, uint32_t size, double value) {
    if (size == 4) {
        float single = float(value);
        std::memcpy(at, &single, 4);
    } else {
        std::memcpy(at, &value, 8);
    }
}

// The element at `at` as a value of the element type, made in `out`.
Cell* element_value(const uint8_t* at, uint32_t size, Type element, Cell* out);

// The element at an absolute index.
inline BufPtr<uint8_t> element_at(const Cell& vector, uint32_t index) { return series::unit_at(vector, index); }

// The head of a position, a head past the tail counting as the tail.
inline uint32_t clamped_head(const Cell& vector) { return std::min(vector.head(), series::rs_buffer_length_q(vector)); }

}  // namespace oka::vector
