/* The value cell: every language value is one 16-byte cell, and the layouts of its payload.

   Word 0 is the header: bits 0-7 the type id, bit 30 the new-line-before flag, other bits per type.
   Words 1 to 3 are the payload, laid out as the layout of its type says: runtime/types.def gives each
   type its layout, runtime/type_layouts.def each layout its fields (a series keeps its head in word 1
   and its node in word 2, a float its double in words 2 and 3, low half first).

   Rules:
   - Payload words are read and written through the accessors of their fields, made from the layout
     table: value.head(), value.set_node(node). The check build asserts on every access that the
     cell's type has a layout with that field, so a cell's type is set before its payload is written:
     Cell::of(Type::Block).set_node(node). Only the collector and this header name the words data1 to
     data3 themselves (tools/check-payload).
   - A Cell copied into a C++ local is not a root for the collector, and a Cell* into a series buffer
     is a buffer pointer (runtime/memory.h): neither may be kept across an allocation. */
#pragma once

#include <array>
#include <cstring>
#include <string_view>
#include <type_traits>

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

// Type ids beyond the datatypes: the registry has room for ids 0 to 56. 56 marks a bounded string
// view, read as a string limited to payload word 3 units from its head; 55 the first cell of a hash
// table's record (runtime/hashtable.h), which holds the record's key.
inline constexpr int kTypeTableSize = 57;
inline constexpr uint8_t kRecordType = 55;
inline constexpr uint8_t kBoundedStringType = 56;

inline constexpr uint32_t kCellNewLine = 1u << 30;

// ---- the layouts of the payload ----

// The C++ types of the fields that span all three payload words.
using Words3 = std::array<uint32_t, 3>;
using Float32x3 = std::array<float, 3>;
using Bytes12 = std::array<uint8_t, 12>;

enum class Layout : uint8_t {
#define OKA_LAYOUT(name, hash) name,
#include "runtime/type_layouts.def"
};

inline constexpr int kLayoutCount = 0
#define OKA_LAYOUT(name, hash) +1
#include "runtime/type_layouts.def"
    ;
static_assert(kLayoutCount == 31, "a cell's payload has one of 31 layouts");

enum class Field : uint8_t {
#define OKA_FIELD(name, word, type) name,
#include "runtime/type_layouts.def"
};

inline constexpr int kFieldCount = 0
#define OKA_FIELD(name, word, type) +1
#include "runtime/type_layouts.def"
    ;
static_assert(kFieldCount == 47, "the layouts name 47 payload fields");

namespace payload {

// The layout of every value of a type byte, so that a lookup needs no bounds check; ids that name no
// datatype have no payload, but for the bounded string view and the record cell.
inline constexpr auto kLayouts = [] {
    std::array<Layout, 256> layouts{};
#define OKA_TYPE(id, Name, text, Parent, layout, classes) layouts[id] = Layout::layout;
#include "runtime/types.def"
#undef OKA_TYPE
    layouts[kBoundedStringType] = Layout::bounded_text;
    layouts[kRecordType] = Layout::record;
    return layouts;
}();

// The payload word each field starts at, and its size in bytes.
inline constexpr uint8_t kFieldWords[] = {
#define OKA_FIELD(name, word, type) word,
#include "runtime/type_layouts.def"
};
inline constexpr uint8_t kFieldSizes[] = {
#define OKA_FIELD(name, word, type) sizeof(type),
#include "runtime/type_layouts.def"
};

// The type ids whose layout has each field: bit t for type id t.
inline constexpr auto kFieldTypes = [] {
    std::array<uint64_t, kLayoutCount> types_of{};
    for (int id = 0; id < 64; id++) types_of[uint8_t(kLayouts[id])] |= uint64_t(1) << id;
    std::array<uint64_t, kFieldCount> fields{};
#define OKA_HOLDS(layout, field, hold) fields[uint8_t(Field::field)] |= types_of[uint8_t(Layout::layout)];
#include "runtime/type_layouts.def"
    return fields;
}();
static_assert(kTypeTableSize <= 64, "a field's mask has a bit for every type id");

// The type ids whose layout names nothing the collector follows: the cell holds the whole value.
inline constexpr uint64_t kSelfContainedTypes = [] {
    std::array<bool, kLayoutCount> refers{};
#define OKA_HOLDS(layout, field, hold) refers[uint8_t(Layout::layout)] |= std::string_view(#hold) != "plain";
#include "runtime/type_layouts.def"
    uint64_t types = 0;
    for (int id = 0; id < 64; id++)
        if (!refers[uint8_t(kLayouts[id])]) types |= uint64_t(1) << id;
    return types;
}();

// What a layout's values hash by when their type has no hash of its own: the payload words of its
// plain fields (bit w for word w), or those of the field that is its identity, with a series' head.
struct LayoutHash {
    uint8_t words = 0;
    bool identity = false;
    bool identity_held = false;  // the identity field is a field of the layout
};

constexpr uint8_t words_of(Field field) {
    uint8_t words = 0;
    for (int k = 0; k < (kFieldSizes[uint8_t(field)] + 3) / 4; k++)
        words |= uint8_t(1u << (kFieldWords[uint8_t(field)] + k));
    return words;
}

inline constexpr auto kLayoutHashes = [] {
    std::array<LayoutHash, kLayoutCount> hashes{};
    std::array<std::string_view, kLayoutCount> by{};
#define OKA_LAYOUT(name, hash)         \
    by[uint8_t(Layout::name)] = #hash; \
    hashes[uint8_t(Layout::name)].identity = by[uint8_t(Layout::name)] != "content";
#include "runtime/type_layouts.def"
#define OKA_HOLDS(layout, field, hold)                                                                 \
    {                                                                                                  \
        LayoutHash& hash = hashes[uint8_t(Layout::layout)];                                            \
        bool named = by[uint8_t(Layout::layout)] == #field;                                            \
        hash.identity_held |= named;                                                                   \
        if (hash.identity ? named || Field::field == Field::head : std::string_view(#hold) == "plain") \
            hash.words |= words_of(Field::field);                                                      \
    }
#include "runtime/type_layouts.def"
    return hashes;
}();

constexpr bool fields_fit() {
    for (int f = 0; f < kFieldCount; f++)
        if (kFieldWords[f] < 1 || 4 * kFieldWords[f] + kFieldSizes[f] > 16 || kFieldTypes[f] == 0) return false;
    return true;
}
static_assert(fields_fit(), "every field lies in words 1 to 3 and belongs to a layout of some type");

constexpr bool hashes_fit() {
    for (const LayoutHash& hash : kLayoutHashes)
        if (hash.identity && !hash.identity_held) return false;
    return true;
}
static_assert(hashes_fit(), "a layout hashed by identity names one of its own fields");

// What the check build reports when a field is read or written in a cell whose layout lacks it.
[[noreturn]] void field_refused(Field field, uint8_t type, const char* file, int line);
[[noreturn]] void content_refused(uint8_t type, const char* file, int line);

}  // namespace payload

constexpr Layout type_layout(Type type) { return payload::kLayouts[uint8_t(type)]; }

// Whether a type's values hash by their identity (a node) when the type has no hash of its own.
constexpr bool hashes_by_identity(Type type) { return payload::kLayoutHashes[uint8_t(type_layout(type))].identity; }

// The check build passes the place of each access to the accessors, so that a refused one names it.
#if OKA_CHECKS
#define OKA_PAYLOAD_CALLER const char *caller_file = __builtin_FILE(), int caller_line = __builtin_LINE()
#define OKA_PAYLOAD_AND_CALLER , OKA_PAYLOAD_CALLER
#define OKA_PAYLOAD_CHECK(field) check_field(Field::field, caller_file, caller_line)
#else
#define OKA_PAYLOAD_CALLER
#define OKA_PAYLOAD_AND_CALLER
#define OKA_PAYLOAD_CHECK(field) ((void)0)
#endif

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;

private:
    // The helpers come before the accessors: clang makes a member template usable in a constant
    // expression (a constexpr Cell) only once it has seen its body.
    constexpr uint32_t& word_at(int word) { return word == 1 ? data1 : word == 2 ? data2 : data3; }
    constexpr uint32_t word_at(int word) const { return word == 1 ? data1 : word == 2 ? data2 : data3; }

    // The fields of one word are read and written as words, which constant cells can be made of; the
    // wider ones through memcpy.
    template <class T, int word>
    constexpr T read() const {
        if constexpr (std::is_same_v<T, bool>)
            return word_at(word) != 0;
        else if constexpr (std::is_enum_v<T>)
            return T(word_at(word));
        else if constexpr (sizeof(T) == 4 && std::is_integral_v<T>)
            return T(word_at(word));
        else {
            T value;
            std::memcpy(&value, reinterpret_cast<const char*>(this) + 4 * word, sizeof value);
            return value;
        }
    }
    template <class T, int word>
    constexpr void write(T value) {
        if constexpr (std::is_enum_v<T> || std::is_same_v<T, bool> || (sizeof(T) == 4 && std::is_integral_v<T>))
            word_at(word) = uint32_t(value);
        else
            std::memcpy(reinterpret_cast<char*>(this) + 4 * word, &value, sizeof value);
    }
#if OKA_CHECKS
    constexpr void check_field(Field field, const char* file, int line) const {
        uint8_t id = header & 0xFF;
        if (id >= 64 || !(payload::kFieldTypes[uint8_t(field)] >> id & 1))
            payload::field_refused(field, id, file, line);
    }
#endif

public:
    // A cell of the type (and header flags) with an empty payload, ready for its fields to be set.
    static constexpr Cell of(Type type, uint32_t flags = 0) { return Cell{uint8_t(type) | flags, 0, 0, 0}; }

    Type type() const { return Type(header & 0xFF); }
    bool is(Type t) const { return type() == t; }
    // Replaces the type byte and keeps the other header bits.
    void set_type(Type t) { header = (header & ~0xFFu) | uint8_t(t); }
    bool new_line() const { return header & kCellNewLine; }
    void clear_new_line() { header &= ~kCellNewLine; }

    // One reader and one writer per field of runtime/type_layouts.def; writers return the cell.
#define OKA_FIELD(name, word, type)                                 \
    constexpr type name(OKA_PAYLOAD_CALLER) const {                 \
        OKA_PAYLOAD_CHECK(name);                                    \
        return read<type, word>();                                  \
    }                                                               \
    constexpr Cell& set_##name(type value OKA_PAYLOAD_AND_CALLER) { \
        OKA_PAYLOAD_CHECK(name);                                    \
        write<type, word>(value);                                   \
        return *this;                                               \
    }
#include "runtime/type_layouts.def"

    // The three payload words of a value that its cell holds whole (a number, a tuple, a date: no
    // layout field names a node), to hash, seed or compare it as bits.
    constexpr Words3 content_words(OKA_PAYLOAD_CALLER) const {
#if OKA_CHECKS
        uint8_t id = header & 0xFF;
        if (id >= 64 || !(payload::kSelfContainedTypes >> id & 1))
            payload::content_refused(id, caller_file, caller_line);
#endif
        return {data1, data2, data3};
    }
    // The payload words the value hashes by when its type has no hash of its own, the others as 0.
    constexpr Words3 hash_words() const {
        uint8_t words = payload::kLayoutHashes[uint8_t(payload::kLayouts[header & 0xFF])].words;
        return {words & 2 ? data1 : 0, words & 4 ? data2 : 0, words & 8 ? data3 : 0};
    }
    // Whether the two cells' payloads hold the same words, whatever they mean.
    constexpr bool same_payload(const Cell& other) const {
        return data1 == other.data1 && data2 == other.data2 && data3 == other.data3;
    }
};
static_assert(sizeof(Cell) == 16, "a value cell is 16 bytes");

// Writes `value` to `target` with one 16-byte store. A cell built field by field and then copied whole
// makes the processor wait until every field's store has reached the cache before the copy can read
// it; the store of a whole cell is forwarded to the copy at once. The makers of the cells that hot
// code builds most (integer!, float!) write them so.
OKA_ALWAYS_INLINE Cell* store_whole(Cell* target, const Cell& value) {
    using Words = uint64_t __attribute__((vector_size(16)));
    Words words = {value.header | uint64_t(value.data1) << 32, value.data2 | uint64_t(value.data3) << 32};
    std::memcpy(target, &words, sizeof words);
    return target;
}

// Copies the whole cell; a cell copied onto itself is left as it is.
inline Cell* copy_cell(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

}  // namespace oka
