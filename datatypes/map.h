/* map!: the associative array, written #[key value ...].

   A map cell holds 0 in word 1 (a head that only foreach moves, over a copy), in word 2 the node of
   its entry block and in word 3 the node of a kMapKeys table (runtime/hashtable.h) that indexes the
   keys of that block. The block holds the entries as key, value, key, value ... in the order they were
   added; new entries go to its tail. The table's count is the number of live entries, the length of
   the map.

   Keys: the 24 types valid_key_type_q accepts. A key is normalised when its entry is added: a word of
   any of the four types is stored as a set-word, a text or binary as a private copy from its head;
   the other types as they are. A lookup finds the words of a key as the set-word stored, and compares
   with `=` (text and words without regard to case), with `==` under /case, and keys of different
   types never match. A text or binary key leaves the map only as a copy (find, reflect, foreach,
   set): changing what a caller holds must not change a key under its hash.

   Vacant entries: removing a key empties its value cell (header word 0, a cell of no type) and the
   key stays in the block and the table; the count drops. Every reader treats such an entry as absent
   and never hands out its value cell; setting the key again fills the same pair, so a revived key
   keeps its first place. Only clear drops vacant entries.

   Rules: a routine may allocate unless it says otherwise; the cells it is given must be fixed (on the
   data stack, a frame argument or a lexer slot). Adding an entry makes every allocation it needs
   before the map shows it: a failure leaves the map as it was. */
#pragma once

#include "runtime/cell.h"
#include "runtime/types.h"

namespace oka::map {

// Registers map!.
void init();

// Whether a map takes keys of the type.
bool valid_key_type_q(Type type);
// The number of live entries.
uint32_t rs_length_q(const Cell& map);

// Turns `block` (fixed, a block of keys and values at its head 0) into a map of its pairs, indexed for
// `size` entries: a key met again gives its value to its first entry and its pair leaves the block,
// and each key is normalised. A key of a type a map does not take raises script invalid-path with the
// key and its datatype.
Cell* make_at(Cell* block, uint32_t size);

// The put action: stores `value` under `key` as a path assignment does, adding the entry when the key
// has none; answers the value.
const Cell* put(Cell* map, Cell* key, Cell* value, bool case_);
// Adds or updates the pairs of a block, hash! or map (its live entries) in order, a later pair
// overwriting an earlier value; an odd number of cells raises script invalid-arg with the block.
// The pairs before a failure stay added. Answers the map.
const Cell* extend(Cell* map, Cell* spec, bool case_);

// Pushes a new block of the map's keys as stored (text copied), each on a new line, and their
// values: the body, which makes the same map again.
Cell* push_body(const Cell& map);

// foreach over a map: moves the map's head (a cell index of its entry block) past vacant entries;
// false when it reached the end.
bool rs_skip_vacant(Cell* map);
// Pushes the key (a set-word key as a word!, a text as a copy) and the value of each of the next
// `count` / 2 live entries from the head, two nones for each past the end, on the data stack, and
// moves the head past them. Answers the first of the cells.
Cell* push_entries(Cell* map, uint32_t count);

}  // namespace oka::map
