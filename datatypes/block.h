/* block!: the series of value cells. A block cell holds its head index in payload word 1 and its node
   in word 2 (a hash! keeps its table's node in word 3); header bit 30 of a cell inside a block marks a
   value that begins a new line when molded.

   Two layers live here: the buffer routines that the whole run-time uses to build and walk blocks, and
   the actions of block! (paren!, the path family and hash! inherit them); searching, sorting and the
   set operations are in block_search.cpp. The series-generic actions come from series!
   (datatypes/series.h). Every routine and action that changes the cells of a block tells the index of
   a hash! of it (hash::changed, datatypes/hash.h), and find and select of a hash! ask that index.

   Rules: a cell passed by const reference is read before anything allocates, so it may lie anywhere,
   even in a block that the routine grows; a cell passed by pointer must be fixed (on the data stack, in
   a fixed series or a C++ local), as the routine reads or writes it after allocating. Pointers into
   blocks returned here are valid until the next allocation. Recursive walks (form, mold, compare, deep
   copies) push the node of each block they enter on the cycle stack (datatypes/cycles.h), which bounds
   their nesting. */
#pragma once

#include "datatypes/series.h"
#include "runtime/action_options.h"

namespace oka::block {

// Molds of values inside blocks in progress; raised around each one.
inline int32_t mold_depth = 0;

// Registers block!.
void init();

// ---- buffer routines ----

using series::rs_length_q;
using series::rs_tail_q;
// Moves the head to the next cell when there is one; true when there is none (the head stays).
bool rs_next(Cell* block);
// The head cell; a head past the tail is first set to the tail.
BufPtr<Cell> rs_head(Cell* block);
// Just past the last cell.
BufPtr<Cell> rs_tail(const Cell& block);
// The cell at an absolute 0-based index of the buffer.
BufPtr<Cell> rs_abs_at(const Cell& block, uint32_t index);
// Cuts the buffer at the head, or at an absolute cell index.
void rs_clear(const Cell& block);
void rs_clear_at(const Cell& block, uint32_t index);
// Appends a copy of a value at the tail and returns the new cell. Allocates.
BufPtr<Cell> rs_append(const Cell& block, const Cell& value);
// Drops the last cell; a head that then lies past the tail is set to it.
void rs_remove_last(Cell* block);
// Stores a copy of a value over the cell at an absolute index. A hash! moves the cell's entry in its
// table: the old value's entry leaves before the new one's is put, so that no lookup finds the old
// value there. Allocates (a table may grow).
void rs_store(const Cell& block, uint32_t index, const Cell& value);
// Appends copies of the cells of `other` from its head. Allocates.
void rs_append_block(const Cell& block, const Cell& other);
// The cell after the first one from the head equal to `value` (the value's compare, op kCompareFind),
// or none when there is no match or the match is the last cell.
const Cell* rs_select(const Cell& block, const Cell& value);
// Removes the first cell equal to `value` (as rs_select compares), searching from the head or from the
// buffer start; false when none matched.
bool rs_remove_value(const Cell& block, const Cell& value, bool from_start);
// The cell after the first word (word!, set-word!, lit-word!, get-word!) of the same symbol as `word`,
// or none when there is none or it is the last cell.
const Cell* select_word(const Cell& block, const Cell& word, bool case_);

// Orders two cells: those of the same type, two words or two numbers by the first one's compare
// action under `op`, any other pair by type id. The cells may lie in buffers: they are copied to the
// data stack before the compare action runs. Allocates.
int32_t compare_cells(const Cell& a, const Cell& b, int32_t op);

// ---- copies ----

// The nested values a clone copies: none (the clone shares them with its source), the block! values,
// or the block!, paren! and path values (the code).
enum class Nested : uint8_t { shared, blocks, code };
// Pushes on the data stack a new block of the same type and header holding the cells from the head
// (room for one cell at least), the `nested` values in it cloned too, at every depth. Raises internal
// no-cycle for a block that contains itself. Allocates.
Cell* clone(const Cell& block, Nested nested);
// Replaces each value from the head, every `step` cells, whose type is the datatype or in the typeset
// `types` and that has a copy (a series, bitset!, object!, error!, map!) by its deep copy. Allocates.
void copy_types(const Cell& block, uint32_t step, const Cell& types);

// ---- insertion ----

// Where insert_value puts its cell: at the head, or at the buffer start when `at_start`; with `advance`
// the head moves past the new cell.
struct InsertMode {
    bool at_start = false;
    bool advance = false;
};
// Inserts one cell, growing the buffer to twice the needed size when full. Allocates.
void insert_value(Cell* block, const Cell& value, InsertMode mode);
// Inserts the cells of `other` from its head at the head of `block`. Allocates.
void insert_block(const Cell& block, const Cell& other);
// Frame helpers: insert argument 2 at the head of the block in argument 1, append it to that block,
// and append the result slot's value to the block in the cell below the result slot. Allocate.
void insert_arg();
void append_arg();
void append_last();

// ---- constructors ----

// Makes `cell` an empty block! with room for `capacity` cells (1 when below 1). Allocates.
Cell* make_at(Cell* cell, int32_t capacity);
// The same in a fixed (never moving) buffer, or in one whose cells are preset to unset!.
Cell* make_at_fixed(Cell* cell, int32_t capacity, bool fixed);
// Appends a new empty block in a fixed buffer (make_in) or an ordinary one (make_in_sized) to `parent`
// and returns its cell; with no parent, a cell of the run-time kept for it is used. Allocate.
Cell* make_in(const Cell* parent, int32_t capacity);
Cell* make_in_sized(const Cell* parent, int32_t capacity);
// Pushes a copy of a block cell, or a new empty block with room for `capacity` cells, on the data stack.
Cell* push(const Cell& block);
Cell* push_only_s(int32_t capacity);

// ---- mold ----

// Molds the cells of a block from its head, as mold does between the brackets: a space between values,
// or a line feed and `indent` levels of four spaces before a value with the new-line marker. Returns the
// part budget left. paren! writes its own brackets around it. Allocates.
int32_t mold_each(Cell* block, Cell* buffer, const MoldOptions& options, int32_t part, int32_t indent);
// Writes `level` levels of indentation, four spaces each; returns the part budget left.
int32_t write_indent(Cell* buffer, int32_t level, int32_t part);

// ---- searching, sorting and the set operations ----

// find and select test the positions from the head, every /skip cells, up to the /part limit or the
// tail; /last tests them from that end back to the buffer start, /reverse from before the head back.
// A datatype! matches the cells of its type, a typeset! those of its types, a block-like value the run
// of its cells from its head, each compared as one value under /only; values compare under `=` for
// finding (case ignored), == with /case, same? with /same. /any and /with do not apply to blocks.
const Cell* find(Cell* series, Cell* value, const FindOptions& options);
// The cell after the match (after the whole run for a run of cells), or none.
const Cell* select(Cell* series, Cell* value, const SelectOptions& options);
// Stores the value after the key, or appends the key and the value when the key is absent; a value
// equal to the one there under the finding `=` leaves that one in place.
const Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
// An integer element picks or pokes; a word! element reads the value after the same word of any word
// type; any other element selects. Setting pokes the value after the element found, or raises script
// bad-path-set with the path and the element.
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step);
// Orders the range in records compared cell by cell under the sort ordering (values of types that do
// not compare order by type id), or by a /compare function (series::call_sort_function). The records
// are sorted in a copy, so that a function may change the block meanwhile; when it changed the block's
// length the order is not written back and script protected is raised.
const Cell* sort(Cell* series, const SortOptions& options);
// The set operations on the blocks in frame arguments 1 and 2 (only 1 for unique): records of `skip`
// cells (`skip` at least 1), told apart by their first cell under `=` (== with `case_`); each record
// enters the result once, in the order met. The result's buffer replaces the one of argument 1, which
// is the result.
void do_set_op(bool case_, int32_t skip, series::SetOp op);

}  // namespace oka::block
