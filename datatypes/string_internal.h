/* What the files of string! share, with its children binary! and vector! for the splice and the
   search: runs of code points and the one splice that writes them into a buffer (units of any width,
   when the run's unit is the buffer's), the /part rule, the value that an editing action writes, and the
   positions a find or select tests.

   A Run names its code points by a node and an index, so that it survives the allocations of the
   splice that reads it, or lies in memory outside the series buffers. */
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "datatypes/string.h"

namespace oka::string {

struct Run {
    const uint8_t* bytes;  // code points outside the series buffers, or null for those of `node`
    Node node;
    // The index of the first unit in the buffer of `node`; in a run of one code point that has neither
    // bytes nor node, that code point itself, so that the run holds it.
    uint32_t start;
    uint32_t unit;
    uint32_t count;

    // The units of a run taken from a buffer.
    const uint8_t* buffer_units() const { return mem::ptr(mem::buffer(node)->offset + start * unit); }
    // The units of any run. A run of one code point gives the address of its own `start`, which makes
    // the compiler keep the run in memory: the hot paths whose runs come from buffers read
    // buffer_units() instead.
    const uint8_t* data() const {
        if (node) return buffer_units();
        return bytes ? bytes : reinterpret_cast<const uint8_t*>(&start);
    }
};

// The head of a position, a head past the tail counting as the tail.
OKA_ALWAYS_INLINE uint32_t clamped_head(const Cell& string) { return std::min(string.head(), rs_abs_length_q(string)); }

// The text of a string from its head, at most `part` code points of it when `part` is not negative.
inline Run run_of(const Cell& string, int32_t part = -1) {
    uint32_t head = clamped_head(string), length = rs_abs_length_q(string) - head;
    uint32_t count = part >= 0 ? std::min(length, uint32_t(part)) : length;
    return Run{nullptr, string.node(), head, mem::buffer(string.node())->unit(), count};
}
// One code point, held by the run, in the unit that appending it takes.
Run run_of_char(uint32_t code_point);

// The unit that the appending writers give a code point: 1 below 128, 2 below 65536, else 4.
constexpr uint32_t appending_unit(uint32_t code_point) { return code_point < 0x80 ? 1 : code_point < 0x10000 ? 2 : 4; }

// Copies `n` bytes, at least one word and at most two, as the first word and the last, which overlap
// when `n` is less than two words.
template <class Word>
void copy_both_ends(uint8_t* to, const uint8_t* from, uint32_t n) {
    Word first, last;
    std::memcpy(&first, from, sizeof first);
    std::memcpy(&last, from + n - sizeof last, sizeof last);
    std::memcpy(to, &first, sizeof first);
    std::memcpy(to + n - sizeof last, &last, sizeof last);
}

// Copies `n` bytes between areas that do not overlap. Most runs of text are a few bytes long, which
// word moves copy faster than a library call.
inline void copy_bytes(uint8_t* to, const uint8_t* from, uint32_t n) {
    if (n < 2) {
        if (n == 1) *to = *from;
    } else if (n < 4) {
        copy_both_ends<uint16_t>(to, from, n);
    } else if (n < 8) {
        copy_both_ends<uint32_t>(to, from, n);
    } else if (n <= 16) {
        copy_both_ends<uint64_t>(to, from, n);
    } else {
        std::memcpy(to, from, n);
    }
}

// copy_units' work for a wider destination unit, kept out of line so that the equal units' copy
// stays a plain move.
[[gnu::noinline]] void widen_units(uint8_t* to, uint32_t to_unit, const uint8_t* from, uint32_t from_unit,
                                   uint32_t count);

// Copies `count` code points from units of `from_unit` to units of `to_unit`, which is not narrower.
// The areas never overlap: a run is set aside before its own buffer changes under it, and a run
// appended from its own buffer lies below the tail.
inline void copy_units(uint8_t* to, uint32_t to_unit, const uint8_t* from, uint32_t from_unit, uint32_t count) {
    if (to_unit == from_unit)
        copy_bytes(to, from, count * to_unit);
    else
        widen_units(to, to_unit, from, from_unit, count);
}

// The common append: the run copied to the tail of a buffer that has the room for it in a unit no
// narrower than the run's. False, with nothing changed, in any other case. Never allocates. No buffer
// may exceed 2 GiB, so a run that fits needs no size check. `from` is the run's units.
inline bool appended_in_place(Node node, const Run& run, const uint8_t* from) {
    BufPtr<SeriesBuffer> b = mem::buffer(node);
    uint32_t unit = b->unit();
    uint64_t bytes = uint64_t(run.count) * unit;
    Addr at = b->tail;
    if (run.unit > unit || at + bytes > b->data_end()) return false;
    b->tail = at + uint32_t(bytes);
    copy_units(mem::ptr(at), unit, from, run.unit, run.count);
    return true;
}

// splice's work in every other case.
void splice_any(Node node, uint32_t index, uint32_t replaced, Run run, uint32_t dup);

// Writes the run at the tail of the buffer, as splice does at its length.
inline void append_text(Node node, const Run& run) {
    if (!appended_in_place(node, run, run.data())) splice_any(node, mem::buffer(node)->length(), 0, run, 1);
}

// Replaces `replaced` units at `index` of the buffer by `dup` copies of the run, first widening the
// buffer to the run's unit and growing it when full. A run may come from the buffer itself. Raises
// internal no-memory when the text would need 2 GiB or more. Every writer of text comes here, most of
// them to append, so that case is told here, where it inlines.
inline void splice(Node node, uint32_t index, uint32_t replaced, Run run, uint32_t dup = 1) {
    if (replaced == 0 && dup == 1 && index == mem::buffer(node)->length())
        append_text(node, run);
    else
        splice_any(node, index, replaced, run, dup);
}

// The code points of a string from its head, copied out of the buffer.
std::u32string code_points_of(const Cell& string);

// What the editing actions write for a value other than a char!: a string-like value's text from the
// head; the form of anything else (a tag! between its angle brackets, a block, paren or hash each of
// its values in turn unless `only`), made in a new string pushed on the data stack. At most `part` code
// points when `part` is not negative.
Run contribution(Cell* value, int32_t part, bool only);

// ---- the positions a search tests (find and select, vector! included) ----

// Where a search looks: forward it tests the positions from the head every `step` units; /last tests
// the same positions from the end of the range back; /reverse tests from the unit before the head back
// to the buffer start. `count` units of range lie from the head (before it with /reverse); a match
// lies wholly in the range, and /match tests one position only.
struct SearchPlan {
    int64_t head;
    int64_t count;
    int64_t step;
    uint32_t length;
    bool reverse;
    bool last;
    bool match;
};
// The plan of a find or select, from its refinements; nothing when no position can match. Raises
// internal not-done for /any and /with, script out-of-range for a /skip below 1.
std::optional<SearchPlan> plan_search(const Cell& series, const SelectOptions& options, bool match);

// Where a match starts (-1: none) and the units it covers.
struct Found {
    int64_t at;
    uint32_t length;
};
inline constexpr Found kNotFound{-1, 0};

// The first position of the plan where `matches(at)` holds for a match of `size` units.
template <class Matches>
Found scan(const SearchPlan& plan, int64_t size, Matches matches) {
    if (size == 0) return kNotFound;
    int64_t head = plan.head, step = plan.step;
    int64_t low = plan.reverse ? head - plan.count : head;
    int64_t high = plan.reverse ? plan.length : head + plan.count;
    int64_t first = plan.reverse ? std::min(head - 1, high - size)
                    : plan.last  ? head + (high - size - head) / step * step
                                 : head;
    int64_t stride = plan.reverse || plan.last ? -step : step;
    for (int64_t at = first; at >= low && at + size <= high; at += stride) {
        if (matches(uint32_t(at))) return Found{at, uint32_t(size)};
        if (plan.match) break;
    }
    return kNotFound;
}

}  // namespace oka::string
