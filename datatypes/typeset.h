/* typeset!: a set of datatypes held entirely in one cell.

   Payload words 1 to 3 hold 96 type bits. The bit of type id t lies in payload byte t >> 3, the bytes
   counted in memory order from the first byte of word 1, under the mask 0x80 >> (t & 7): the most
   significant bit of a byte comes first. Id 0 names no type. Bits above the highest registered id are
   zero, except after complement and in the any-type set of make_any; every walk over a set ignores
   them, and ids that no registered datatype has.

   A typeset cell refers to no series: it may be copied freely and kept across allocations. */
#pragma once

#include <array>
#include <bit>
#include <cstring>

#include "runtime/memory.h"
#include "runtime/types.h"

namespace oka::typeset {

// The codes of the operations do_bitwise serves: the bitwise actions' and the set natives'.
enum class Op : int32_t {
    or_ = 5,
    and_ = 6,
    xor_ = 7,
    unique = 8,
    union_ = 9,
    intersect = 10,
    exclude = 11,
    difference = 12
};

// The bits an operation gives for bits a of its first set and b of its second (unique: a itself);
// bitset! combines its bytes with it too.
uint32_t combine(Op op, uint32_t a, uint32_t b);

void init();

void clear(Cell* typeset);
// The number of registered types in the set.
int32_t count(const Cell& typeset);
// Where the bit of a type id lies: a payload word and the mask within it; ids beyond the 96 bits have
// an empty mask. A table, since every argument of every call is checked against a typeset.
struct TypeBit {
    uint32_t word;  // 0 to 2, in type_bits()
    uint32_t mask;
};
inline constexpr auto kTypeBits = [] {
    std::array<TypeBit, 256> bits{};
    for (uint32_t id = 0; id < bits.size(); id++) {
        uint32_t byte = id >> 3;
        bits[id] = id < 96 ? TypeBit{byte >> 2, (0x80u >> (id & 7)) << (8 * (byte & 3))} : TypeBit{0, 0};
    }
    return bits;
}();

constexpr TypeBit bit_of(Type type) { return kTypeBits[uint8_t(type)]; }

// Every argument of every call is checked so: the bits of the ids below 64 are read as one word, where
// the bit of id t is bit t ^ 7 (bytes in memory order, each from its most significant bit).
inline bool has_q(const Cell& typeset, Type type) {
    static_assert(std::endian::native == std::endian::little);
    uint32_t id = uint8_t(type);
    if (id >= 64) {
        TypeBit bit = bit_of(type);
        return typeset.type_bits()[bit.word] & bit.mask;
    }
    return (typeset.low_type_bits() >> (id ^ 7)) & 1;
}

// ---- constructors ----

Cell* push(const Cell& typeset);
// The typeset of the types of a mask.
Cell from_mask(TypeMask types);
// Append to a block a typeset of three raw payload words; one of every type but unset!; one made from
// the type block of a function spec, where a word stands for its value, a word whose value is a word
// means object! and a nested block is skipped (any other value raises script invalid-type-spec).
BufPtr<Cell> make_in(const Cell& block, uint32_t word1, uint32_t word2, uint32_t word3);
BufPtr<Cell> make_any(const Cell& block);
BufPtr<Cell> make_from_block(const Cell& block, const Cell& spec);

// Adds a datatype!, the types of a typeset!, or those of the value of a word! to the set; any other
// value raises script invalid-arg with it.
void set_type(Cell* typeset, const Cell& value);

// The operation on the typeset in frame argument 1 and the typeset! or datatype! in argument 2 (any
// other value there raises script invalid-arg); the new set replaces argument 1 in the result slot.
void do_bitwise(Op op);

// Appends the name words of the set's types, in id order.
void to_block(const Cell& typeset, const Cell& block);

// The text of form and mold: "make typeset! [" and the type names, one space apart, then "]"; with
// `only` the names alone. Returns the part budget left.
int32_t mold_body(Cell* value, Cell* buffer, bool only, Cell* limit, int32_t part);

}  // namespace oka::typeset
