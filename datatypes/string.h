/* string!: the text series, the routines that every producer of text writes through, and the actions
   of string! that its children file!, url!, tag!, email! and ref! (the string-like types) take over.

   A string cell holds its head index in payload word 1 and its node in word 2; word 3 is 0, or caches
   the node of the value's conversion scratch buffer (runtime/unicode.h). The buffer stores code points
   in units of 1, 2 or 4 bytes (flags bits 0-4): the narrowest unit that has held its text. A buffer
   widens in place when a wider code point is stored and narrows again only when rs_reset empties it.
   The appending writers (append_char, and through it every form and mold; the append, insert and
   change actions) widen a unit-1 buffer from code point 128 on, the positional writers
   (overwrite_char, insert_char, write_char) only above 255.

   Case: comparison, search, sorting and the set operations fold both sides through
   case_folding::change_char, one fold for every unit size, so the answer never depends on how a text
   happens to be stored: to upper case to match texts (as string hashes do), to lower case to order
   them.

   A symbol's string form (symbol::get_string) is shared with the symbol: the routines here read it
   and copy from it, and never hand it to script code.

   Rules: any routine may allocate unless it says otherwise. One that allocates reads the cells it is
   given before it allocates, except a cell it writes back into (a head it moves, a cell it makes),
   which must be fixed: on the data stack or a C++ local. A BufPtr or a Text handed out here is valid
   until the next allocation. */
#pragma once

#include <string_view>

#include "datatypes/series.h"
#include "runtime/action_options.h"
#include "runtime/registry.h"
#include "runtime/unicode.h"

namespace oka::string {

// Registers string!.
void init();
// Registers a string-like type (tag!, email!, ref!, url! and its child file!) with its parent's
// constructors, reflect, eval-path, compare, modify and series actions (append to take) but sort,
// nothing else, and the type's `own` and `more` entries over those.
void register_text_child(Type type, std::initializer_list<ActionEntry> own, std::span<const ActionEntry> more = {});

// ---- positions ----

using series::rs_length_q;  // units from the head to the tail
using series::rs_skip;
using series::rs_tail_q;
// Units from the buffer's first unit to the tail.
inline uint32_t rs_abs_length_q(const Cell& string) { return series::rs_buffer_length_q(string); }
// The head unit; a head past the tail is first set to the tail. Never allocates.
BufPtr<uint8_t> rs_head(Cell* string);
// Just past the last unit. Never allocates.
BufPtr<uint8_t> rs_tail(const Cell& string);
// The code point at an absolute index of the buffer. Never allocates.
uint32_t rs_abs_at(const Cell& string, uint32_t index);
// Empties the buffer, sets its unit back to 1 and the head to 0.
void rs_reset(Cell* string);

// The code points of a string from its head, read in place; a bounded view (type byte 56) shows at most
// the units its word 3 gives, when that is not negative. Valid until the next allocation.
struct Text {
    BufPtr<uint8_t> data;
    uint32_t unit;
    uint32_t length;

    uint32_t at(uint32_t i) const { return unicode::unit_at(data.get(), unit, i); }
};
Text text_of(const Cell& string);

// ---- constructors ----

// Makes `cell` an empty string! with room for `size` code points (1 when 0 is given), of unit 1 or `unit`.
Cell* rs_make_at(Cell* cell, uint32_t size);
Cell* make_at_unit(Cell* cell, uint32_t size, uint32_t unit);

// External text in an encoding of unicode::Encoding, loaded into a new string!: at `cell` (a new
// data-stack cell when null), at the tail of a block, on the data stack, at the tail of the root block.
// The bytes must not lie in a series buffer.
Cell* load_at(const uint8_t* bytes, uint32_t length, Cell* cell, int32_t encoding);
Cell* load_in(const uint8_t* bytes, uint32_t length, const Cell& block, int32_t encoding);
Cell* load(const uint8_t* bytes, uint32_t length, int32_t encoding);
Cell* load_in_root(const uint8_t* bytes, uint32_t length, int32_t encoding);
// UTF-8 bytes (outside the series buffers) as a new string! on the data stack. Invalid UTF-8, a cut
// final sequence included, raises access invalid-utf8 with a binary! of the bytes from the failure on.
Cell* load_utf8_checked(const uint8_t* bytes, uint32_t length);

// ---- writers ----

// Appends a code point at the tail.
void append_char(Node node, uint32_t code_point);
// Writes a code point at a unit index, growing the buffer to reach it and moving the tail past it
// when the index was at or past the tail.
void overwrite_char(Node node, uint32_t index, uint32_t code_point);
// Inserts a code point at a unit index, the units from there moving up by one.
void insert_char(Node node, uint32_t index, uint32_t code_point);
// Writes a code point over the unit at an index below the capacity; the tail stays.
void write_char(Node node, uint32_t index, uint32_t code_point);
// Removes `count` units (at most those up to the tail) at an index; nothing happens at or past the tail.
// Never allocates.
void remove_part(Node node, uint32_t index, uint32_t count);
inline void remove_char(Node node, uint32_t index) { remove_part(node, index, 1); }
// Lowers the tail to the unit index `limit` (counted from the buffer's first unit) when that lies
// below the capacity; never raises it. Never allocates.
void clip_tail(Cell* string, int32_t limit);

// Where concatenate writes: at the tail, inserted at an offset from the head, or over the units there.
enum class Mode { append, insert, overwrite };
// Copies the code points of `source` from its head, at most `part` of them when `part` is not negative,
// into `destination`; the offset counts from the destination's head (insert and overwrite). The
// destination first widens to the source's unit when that is wider; the source is never changed. The
// two may share a buffer.
void concatenate(const Cell& destination, const Cell& source, int32_t part, uint32_t offset, Mode mode);
// Appends the bytes of an ASCII literal, one code point each.
void concatenate_literal(Cell* string, const char* text, uint32_t length);
// Appends a token's text and returns the budget left; with `all` the text is written in construction
// syntax, between "#(" and ")".
int32_t write_token(Cell* buffer, const char* text, bool all, int32_t part);
// Moves `count` code points from the origin's head to the target's head, across buffers of any units.
void move_part(const Cell& origin, const Cell& target, uint32_t count);

// ---- hexadecimal text, in a buffer of each routine valid until its next call ----

// Eight upper-case digits, negative values in two's complement; `minimal` drops leading zeros ("00"
// for zero).
const char* to_hex(int32_t value, bool minimal);
// Two upper-case digits.
const char* byte_to_hex(uint8_t byte);

// ---- form and mold ----

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
// The quoted notation, or the braced one for long texts, texts with a double quote and texts of
// several lines; either reads back as the same text.
int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent);
// Appends one code point as molded text writes it: control characters, 127 and 128-159 (with `all`
// every code point above 127) as caret escapes, the double quote and the caret escaped.
void mold_escape_char(Cell* buffer, uint32_t code_point, bool all);
// How the literal of a string-like type writes its characters, beyond what mold_escape_char does:
// those in `hex` as "^(hex)", those in `raw` as they are, and with `caret_first` the first character as
// a caret escape that reads back as itself (for a first character that would begin another token).
struct Escapes {
    std::u32string_view hex = {};
    std::u32string_view raw = {};
    bool caret_first = false;
    // A line feed as "^J" rather than "^/", in a literal that a "/" would end.
    bool line_feed_by_letter = false;
};
// Appends the text of a string-like value from its head as the literal of its type writes it: each
// character as mold_escape_char writes it, but as `escapes` says. With options.limit at most `part`
// characters; gives `part` less the length of the text.
int32_t mold_escaped(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, const Escapes& escapes);

// ---- comparison and search ----

// The string comparison under a compare op: -1, 0 or 1, where 1 means unequal under the equality ops.
// The second value may be a bounded view. In `match` mode only the second value's length is compared:
// the first need only start with it. Never allocates.
int32_t equal_q(const Cell& value1, const Cell& value2, int32_t op, bool match);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// The parse dialect's test of a value at a string position: a string-like value by equal_q in match
// mode, a char! against the head code point (folded unless op is ==), a tag! with its angle brackets.
bool match_value_q(const Cell& position, const Cell& value, int32_t op);
// True when the text at the position is the tag's text between "<" and ">".
bool tag_delimited_q(const Cell& position, const Cell& tag);
// True when the head code point is in the bitset; beyond its stored bits, when the bitset is negated.
bool char_in_bitset_q(const Cell& position, const Cell& bitset);
// The absolute index of the first unit from the head that holds the code point, or -1.
int32_t rs_find_char(const Cell& string, uint32_t code_point);
// True when the code point occurs at the head or a multiple of `step` units after it; folded unless
// `case_`.
bool find_char_step(const Cell& string, uint32_t code_point, uint32_t step, bool case_);
// True when the text at the head starts with the bytes of the NUL-terminated literal.
bool match_q(const Cell& string, const char* literal);

const Cell* find(Cell* series, Cell* value, const FindOptions& options);
const Cell* select(Cell* series, Cell* value, const SelectOptions& options);
const Cell* sort(Cell* series, const SortOptions& options);

// ---- editing ----

void append(Cell* series, Cell* value, const EditOptions& options, bool append);
void change(Cell* series, Cell* value, const EditOptions& options);
void swap(Cell* series1, Cell* series2);
void trim(Cell* series, const TrimOptions& options);

// The set operations on the two strings in frame arguments 1 and 2 (unique: on argument 1 alone),
// records of `skip` units (at least 1) compared by their first code point, folded unless `case_`.
// The new string replaces argument 1.
using series::SetOp;
void do_set_op(bool case_, int32_t skip, SetOp op);

}  // namespace oka::string

namespace oka::case_folding {

// uppercase and lowercase: changes a char! or, from its head, a string-like value in place (all of it,
// or what a /part count or position covers) and returns it.
Cell* change_case(Cell* value, Cell* part, bool upper);

}  // namespace oka::case_folding
