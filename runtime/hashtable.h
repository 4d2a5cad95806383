/* Hashing and hash tables.

   Hashing: MurmurHash3 (x86, 32-bit) with one process-wide seed, and the hash of a value by its type.
   Equal values hash alike under the equality their tables use: text and words ignore letter case.

   Tables: one open-addressing design indexes every associative structure (hash! and map! values,
   the symbol table, context word tables, the ownership table, scratch tables). A table never owns
   what it indexes: its buckets hold positions into a separate values series, so the values keep their
   order and the table can be rebuilt from them at any time. A table is the node of a byte series
   holding a Record; the record names the series of its bucket states, its bucket array and the rest.
   Buckets number a power of two (at least 4), each in one of three states (a map keeps them in its
   bucket array, beside each key's hash, and needs no deleted one); an insertion that finds
   `occupied` at `upper_bound` first resizes or re-hashes the table. A probe starts at the bucket the
   hash's low bits name and steps 1, 2, 3 ... buckets further on, wrapping, until an empty bucket, a
   match, or the sequence comes back to its first bucket.

   Kinds, by what the buckets index and how keys compare:
     kValues   every cell of a block, compared by type and `=`; equal values share one bucket, whose
               positions are kept in a chain; a position index maps each cell back to its bucket.
     kMapKeys  the keys of a key/value block (every second cell), compared by `==`; each bucket holds
               its key's hash beside its position, so that a probe reads one series, compares only
               keys of the same hash, and growing reads no key.
     kNames    the symbol table (by name) and context word tables (by symbol id), through
               symbol_lookup and context_lookup.
     kRecords  records in a record buffer, keyed by the 32-bit word 1 of their first cell.
     kOwners   as kRecords, with 64-byte records keyed by a series node (the ownership table).

   Collector rules: a table is collector-managed; the caller keeps its node reachable (a value, or a
   global the collector knows) and roots the cells it passes in. Anything that inserts, resizes,
   copies or adds a symbol or word may allocate, and so may find (a stale kValues table is rebuilt
   first): a key cell passed by pointer must not lie in a movable series buffer (copy it to the data
   stack first), nor may the bytes of a name, and a value area handed out as a BufPtr is valid until
   the next allocation. The hash functions never allocate a series.

   The pointer map (ptr_map) maps 32-bit keys to 32-bit values in tracked-heap memory, outside the
   collector's reach; its user destroys it. */
#pragma once

#include <string>

#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/dispatch.h"
#include "runtime/memory.h"

namespace oka {

namespace hashtable {

// ---- Hashing ----

// The seed of every seeded hash; fixed at start-up, never changed afterwards.
void set_seed(uint32_t seed);
uint32_t seed();

uint32_t murmur3(const uint8_t* bytes, uint32_t length);
// The MurmurHash3 finaliser alone, unseeded.
uint32_t hash_int(uint32_t key);
// A string-like cell's code points from its head, each upper-cased and hashed as one 32-bit block.
uint32_t hash_string(const Cell& string);
// A symbol cell's UTF-8 name with A-Z lowered, so that letter-case variants share a probe sequence.
uint32_t hash_name(const Cell& symbol);
// The bytes with A-Z lowered, in a scratch buffer shared by every call (valid until the next one).
const uint8_t* lower_ascii(const uint8_t* bytes, uint32_t length);
uint32_t hash_value(const Cell& value);
// True for the types whose hash rests on a node or another address, which node compaction changes.
bool identity_type_q(const Cell& value);
// The smallest power of two not below n (0 gives 0).
uint32_t round_pow2(uint32_t n);

// ---- Tables ----

enum Kind : uint32_t { kValues = 0, kMapKeys = 1, kNames = 2, kRecords = 3, kOwners = 4 };

// The data of a table's byte series: twelve 32-bit fields.
struct Record {
    uint32_t count;        // entries in use (kValues: buckets in use, one per distinct value)
    uint32_t index;        // kValues: node of the position index; kRecords, kOwners: bytes per record
    Node chains;           // kValues: node of the array of chain nodes (element k names chain k)
    Node flags;            // node of the bucket states, two bits per bucket (0 for kMapKeys)
    Node keys;             // node of the bucket array: a position, -k for chain k, or a record's offset;
                           // kMapKeys: a (hash, position) pair, position -1 for an empty bucket
    Node values;           // node of the indexed block, or of the record buffer
    uint32_t occupied;     // buckets in use or deleted
    uint32_t buckets;      // a power of two
    uint32_t upper_bound;  // `occupied` at which an insertion first resizes
    uint32_t kind;
    uint32_t stamp;  // 0, collector::node_cycles + 1 when the keys were last hashed, or kStale
    // kValues: what every position adds to become its key (in the bucket array and the chains) and its
    // place in the position index. A change near the head moves it instead of renumbering the cells
    // behind the change; 0 for the other kinds.
    uint32_t base;
};
static_assert(sizeof(Record) == 48);

BufPtr<Record> record(Node table);

// A new table for `size` entries. Over a block (kinds 0-2) it indexes the block's cells from its head
// (every second cell for kMapKeys); otherwise it makes its own values series. Record tables take
// records of `extra` + 1 cells.
Node init(uint32_t size, const Cell* block, Kind kind, uint32_t extra = 0);

// Indexes the cell at `position` of the values block (kinds 0-2). True when a kValues table had to
// be rebuilt from its whole block instead, which indexed that cell with all the others.
bool put_key(Node table, uint32_t position);
void put(Node table, uint32_t position);
// Puts every step-th cell from `first` to the tail. Building a map (kMapKeys) keeps a key's first
// position and its last value: a repeated key has its value copied over the earlier one and the
// repeated pair is removed from the block.
void add_values(Node table, uint32_t first, uint32_t step);

// How find looks: the compare op, and for a kValues table the positions it accepts: from `start` in
// steps of `skip` (0 or 1: every position), backwards with `reverse`, and below `start` with `last`.
struct Search {
    uint32_t start = 0;
    uint32_t skip = 0;
    int32_t op = kCompareEqual;
    bool reverse = false;
    bool last = false;
};
// The position of the cell equal to `key` as `search` says, or -1. A kMapKeys table finds the words
// of a key as the set-word it stores.
int32_t find(Node table, Cell* key, const Search& search = {});

// A probe of a map's table (kMapKeys) for a key: the position of its key cell, or -1 and the bucket an
// entry of the key takes; and the key's hash.
struct KeyProbe {
    int32_t position;
    int32_t bucket;
    uint32_t hash;
};
// Looks for the key (fixed) under compare op `op`, the words of a key as the set-word a map stores.
// Integer and word keys are compared in the probe itself; nothing else allocates.
KeyProbe probe_key(Node table, Cell* key, int32_t op);
// Indexes the key cell at `position`, which a probe of that key just missed (nothing but the block's
// tail changed since): in the bucket the probe landed on, or, when the table must grow first, in the
// first free bucket of the key's probe sequence. Saves a map's insertion a second probe.
void add_key(Node table, const KeyProbe& probe, uint32_t position);

// Where get_next stopped in a key's probe sequence; a fresh cursor starts at its beginning.
struct Cursor {
    int32_t bucket = -1;
    uint32_t step = 0;
};
// The next position, in probe order, whose cell has the key's type and equals it under `=`, or -1 at
// the end (kMapKeys, where such keys are separate entries of one probe sequence).
int32_t get_next(Node table, Cell* key, Cursor& cursor);

// Removes the entry of one position. kMapKeys: the value cell behind the key is emptied (header 0)
// and the key keeps its bucket. kValues: the position leaves its bucket, which is deleted with it when
// it was the last one there.
void delete_(Node table, uint32_t position);
// Removes the entries of `count` positions from `first` (kValues).
void remove_range(Node table, uint32_t first, uint32_t count);
// After the block moved `count` cells from `first` by `shift` positions (kValues): renumbers their
// entries and, with `move_index`, moves their position-index entries along, first removing the
// entries of the cells a move down overwrote. Gives up (returns true, nothing done) above 30000
// positions: rebuilding is cheaper then.
bool refresh_range(Node table, int32_t shift, uint32_t first, uint32_t count, bool move_index);
// The same for a change behind the first `count` cells that moved every cell after it by `shift`
// (kValues; the entries of removed cells are gone already; the base must be `shift` at least): the base
// takes the shift, so that only the entries of those `count` cells are renumbered, the other way. Gives
// up (returns true, nothing done) above 30000 positions, and when the base would pass twice the number
// of values: rebuilding starts it again from 0.
bool refresh_front(Node table, int32_t shift, uint32_t count);
// After the block moved `count` cells from `first` to `destination` (kValues): renumbers the moved
// cells and the cells they passed over, and rotates their position-index entries.
void move_range(Node table, uint32_t destination, uint32_t first, uint32_t count);

// Record tables: the value area (the record's second cell on) of a key's record, made when the key is
// new. The record's first cell holds the key (type kRecordType marks the record live); every cell of
// the value area is reset to unset!.
BufPtr<Cell> put_block_key(Node table, uint32_t key);
BufPtr<Cell> get(Node table, uint32_t key);  // null when absent
// Marks the key's record deleted and empties its value area, whose cells may name what is freed next;
// false when the key is absent.
bool delete_key(Node table, uint32_t key);

// An independent copy of the table, indexing `values` (which holds what the table's values did).
Node copy(Node table, Node values);
// Empties the table and its values series.
void clear(Node table);
// Forgets every entry of a kValues table without allocating and marks it stale, so that the next find
// rebuilds it from its block: what a change of the block whose re-indexing failed half-way leaves.
void mark_stale(Node table);
bool stale_q(Node table);

// ---- Re-hashing ----

// Rebuilds the table for `size` entries: kValues from its block, record tables from their live
// records (deleted ones dropped), kinds 1 and 2 in place.
void resize(Node table, uint32_t size);
void resize_keys(Node table, uint32_t size);
void resize_indexed(Node table, uint32_t size);
// Re-hashes a table of kind 1 or 2 in place to round_pow2(size) buckets, unless its entries would
// not fit under the new bound.
void grow_values(Node table, uint32_t size);
// Re-hashes a table whose keys were hashed before node compaction moved the nodes they rest on: a
// kValues table is rebuilt from its block, a record table in place (rebuild).
void check_rebuild(Node table);
void rebuild(Node table);

// ---- The collector's hooks ----

// Calls visit(node, hold) for each series the table is made of: the bucket states, the bucket array,
// for kValues the position index, the chain array and each chain, and
// the values series, whose cells the table holds (a kOwners table holds them weakly: kept, not
// walked). A table in the making names 0 for what it does not have yet. Marking and the collector's
// heap check both walk a table so.
template <class Visit>
void visit_series(Node table, Visit visit) {
    Record r = *record(table);
    visit(r.flags, collector::Hold::Bytes);
    visit(r.keys, collector::Hold::Bytes);
    if (r.kind == kValues) {
        visit(r.index, collector::Hold::Bytes);
        visit(r.chains, collector::Hold::Bytes);
        for (uint32_t k = 1; r.chains && k <= array::length_q(r.chains); k++)
            visit(array::pick_ptr(r.chains, k), collector::Hold::Bytes);
    }
    visit(r.values, r.kind == kOwners ? collector::Hold::Bytes : collector::Hold::Cells);
}

// Marks the table's own series and, through its values series, what its entries hold. A kOwners table
// is held weakly: its records keep nothing alive.
void mark(Node table);
// After marking, on a table held weakly: deletes every live record whose key series, or whose owner
// (the record's third cell, an object), the collector did not reach.
void sweep_weak(Node table);
// What is wrong with a table that no operation is changing, or "" when nothing is: its kind, its
// bucket count and the sizes of its bucket series, the bucket states against its counts, and each key in
// use against its values series. The heap check calls it once it has found the table's series sound;
// it never allocates.
std::string fault(Node table);

// ---- Symbols and words ----

// The id (position + 1) of a name in the symbol table indexed by `table`, added when missing. An
// exact match wins; else a new entry is made, whose alias is the id of the first entry that matches
// with ASCII case ignored (-1 when none does). With `ignore_case` the first entry that matches with
// case ignored is the answer, and a miss makes a canonical entry.
uint32_t symbol_lookup(Node table, const uint8_t* name, uint32_t length, bool ignore_case);
// The position of a symbol's word in a context's word table, comparing canonical ids with
// `ignore_case`, raw ids without; -1 when absent. With a `context` node the lookup adds: a found word's
// position goes to `position` too, and a missing word is appended to the word block (a word! bound to
// `context` at its position) and indexed, its position goes to `position` and the result is -1.
int32_t context_lookup(Node table, uint32_t symbol, bool ignore_case, Node context, int32_t& position);

}  // namespace hashtable

namespace ptr_map {

// Six 32-bit fields in the tracked heap; the flag and pair arrays are tracked-heap blocks too.
struct PtrMap {
    uint32_t count;
    Addr flags;
    Addr pairs;  // a key and a value per bucket
    uint32_t occupied;
    uint32_t buckets;
    uint32_t upper_bound;
};
static_assert(sizeof(PtrMap) == 24);

PtrMap* make(uint32_t expected);
// Stores the value under the key; true when the key was present already.
bool put(PtrMap* map, uint32_t key, uint32_t value);
// The stored value, or null.
uint32_t* get(PtrMap* map, uint32_t key);
void resize(PtrMap* map, uint32_t size);
void destroy(PtrMap* map);

}  // namespace ptr_map

}  // namespace oka
