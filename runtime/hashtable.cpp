#include "runtime/hashtable.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/array.h"
#include "runtime/case_folding.h"
#include "runtime/collector.h"
#include "runtime/dispatch.h"
#include "runtime/fatal.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/types.h"

namespace oka {

static_assert(std::endian::native == std::endian::little, "hash blocks and bucket-state words are little-endian");

namespace {

// ---- Sizes ----

constexpr double kLoad = 0.77;
constexpr uint32_t kMinSize = 4;  // entries a table is made for at least
constexpr uint32_t kMinBuckets = 4;

// The occupancy bound of a number of buckets. New tables, rebuilt kValues tables and the pointer map
// truncate it; tables re-hashed in place and rebuilt record tables round it, and so does the test
// whether the entries fit a re-hash at all.
uint32_t initial_bound(uint32_t buckets) { return uint32_t(kLoad * buckets); }
uint32_t rehash_bound(uint32_t buckets) { return uint32_t(0.5 + kLoad * buckets); }
uint32_t buckets_for(uint32_t entries) { return hashtable::round_pow2(uint32_t(entries / kLoad)); }

// The size a full table is rebuilt for: when deletions left at most half of its buckets in use, as
// many buckets again (the deleted ones dropped), else twice as many.
uint32_t regrow_size(uint32_t count, uint32_t buckets) { return 2 * count < buckets ? buckets - 1 : buckets + 1; }

// ---- Bucket states: two bits a bucket, sixteen buckets a word ----

enum BucketState : uint32_t { kInUse = 0, kDeleted = 1, kEmpty = 2 };
constexpr uint8_t kAllEmpty = 0xAA;

uint32_t flag_bytes(uint32_t buckets) { return std::max(buckets / 4, 4u); }

template <class Words>
uint32_t state(const Words& flags, uint32_t bucket) {
    return flags[bucket >> 4] >> 2 * (bucket & 15) & 3;
}

template <class Words>
void set_state(const Words& flags, uint32_t bucket, uint32_t new_state) {
    uint32_t shift = 2 * (bucket & 15);
    flags[bucket >> 4] = (flags[bucket >> 4] & ~(3u << shift)) | new_state << shift;
}

// A map's bucket: its key's hash and position, the position telling the bucket's state (a map's
// buckets are never deleted).
struct KeySlot {
    uint32_t hash;
    int32_t position;  // of the key cell, or kEmptySlot
};
static_assert(sizeof(KeySlot) == 8);
constexpr int32_t kEmptySlot = -1;
constexpr uint8_t kEmptySlots = 0xFF;  // the byte a series of empty slots is filled with

uint32_t slot_state(const KeySlot& slot) { return slot.position == kEmptySlot ? kEmpty : kInUse; }

// ---- Probing ----

// The probe sequence of a hash: its home bucket, then 1, 2, 3 ... buckets further on each time,
// wrapping, until it comes back home.
struct Probe {
    uint32_t mask, home, bucket, step;

    Probe(uint32_t hash, uint32_t buckets) : mask(buckets - 1), home(hash & mask), bucket(home), step(0) {}
    bool advance() {
        bucket = (bucket + ++step) & mask;
        return bucket != home;
    }
};

// Where a probe ended: the in-use bucket that matched, or the bucket an insertion takes (the last
// deleted bucket passed, else the empty one that ended the probe); -1 when there is none.
struct Landing {
    int32_t bucket;
    bool found;
};

// The one probe loop. From the probe's current bucket it passes deleted buckets, offers every in-use
// one to `match`, and ends at a match, at an empty bucket, or back home. `state_of` reads a bucket's
// state afresh at each step: a match may compare values, and a comparison may allocate.
template <class StateOf, class Match>
Landing walk(Probe& probe, StateOf state_of, Match match) {
    int32_t deleted = -1;
    do {
        switch (state_of(probe.bucket)) {
        case kEmpty: return {deleted >= 0 ? deleted : int32_t(probe.bucket), false};
        case kDeleted: deleted = int32_t(probe.bucket); break;
        default:
            if (match(probe.bucket)) return {int32_t(probe.bucket), true};
        }
    } while (probe.advance());
    return {deleted, false};
}

// For probes that look for a free bucket only.
bool no_match(uint32_t) { return false; }

// Re-inserts the in-use entries of the `old` bucket states into `fresh` in place: every entry is marked
// deleted in `old` (moved) and takes the first empty bucket of its probe in `fresh`; when that bucket
// still holds an unmoved entry, the two swap and the displaced one is placed in turn. `entries` must
// hold the larger of the two bucket counts.
template <class Flags, class Entries, class HashOf>
void kick_out(const Flags& old, const Flags& fresh, uint32_t old_buckets, uint32_t buckets, const Entries& entries,
              HashOf hash_of) {
    auto fresh_states = [&](uint32_t bucket) { return state(fresh, bucket); };
    for (uint32_t j = 0; j < old_buckets; j++) {
        if (state(old, j) != kInUse) continue;
        set_state(old, j, kDeleted);
        auto entry = entries[j];
        for (;;) {
            Probe probe(hash_of(entry), buckets);
            uint32_t b = uint32_t(walk(probe, fresh_states, no_match).bucket);
            set_state(fresh, b, kInUse);
            if (b >= old_buckets || state(old, b) != kInUse) {
                entries[b] = entry;
                break;
            }
            set_state(old, b, kDeleted);
            std::swap(entry, entries[b]);
        }
    }
}

}  // namespace

namespace hashtable {

namespace {

// ---- MurmurHash3, x86 32-bit ----

uint32_t hash_seed = 0;

uint32_t scramble(uint32_t k) { return std::rotl(k * 0xCC9E2D51u, 15) * 0x1B873593u; }
uint32_t mix_block(uint32_t h, uint32_t k) { return std::rotl(h ^ scramble(k), 13) * 5 + 0xE6546B64u; }
uint32_t finish(uint32_t h, uint32_t length) { return hash_int(h ^ length); }

// ---- Hashes of values ----

uint8_t lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

uint8_t* lower_buffer = nullptr;
uint32_t lower_capacity = 0;
constexpr uint32_t kLowerBufferSize = 256;

// A code point stored in `unit` bytes, little-endian.
uint32_t code_point_at(const uint8_t* at, uint32_t unit) {
    uint32_t code_point = 0;
    std::memcpy(&code_point, at, unit);
    return code_point;
}

// Payload words first .. first + count - 1 of the cell, as bytes in memory order.
template <class T>
uint32_t hash_bits(const T& value) {
    return murmur3(reinterpret_cast<const uint8_t*>(&value), sizeof value);
}

// A float, percent or time hashes its 8 bytes, zero without its sign: 0.0 and -0.0 are equal.
uint32_t hash_number(const Cell& number) {
    double value = number.f64() == 0.0 ? 0.0 : number.f64();
    return hash_bits(value);
}

uint32_t hash_pair(const Cell& pair) { return hash_bits(std::array<int32_t, 2>{pair.x(), pair.y()}); }

uint32_t hash_bytes(const Cell& binary) {
    BufPtr<SeriesBuffer> b = mem::buffer(binary.node());
    Addr head = b->offset + binary.head();
    return murmur3(mem::ptr(head), head < b->tail ? b->tail - head : 0);
}

// A tuple's byte count sits in header bits 19-22; its bytes follow the header.
uint32_t hash_tuple(const Cell& tuple) {
    return murmur3(reinterpret_cast<const uint8_t*>(&tuple) + 4, std::min(tuple.header >> 19 & 0xF, 12u));
}

// Money hashes with its sign (header bit 14) but none of the other header flags.
constexpr uint32_t kMoneySign = 1u << 14;
uint32_t hash_money(const Cell& money) {
    Cell bare = money;
    bare.header = uint8_t(Type::Money) | (money.header & kMoneySign);
    return murmur3(reinterpret_cast<const uint8_t*>(&bare), sizeof bare);
}

bool is_bounded_view(const Cell& cell) { return uint8_t(cell.header) == kBoundedStringType; }

// ---- The record and its series ----

template <class T>
BufPtr<T> items(Node series) {
    return BufPtr<T>(mem::ptr<T>(mem::buffer(series)->offset));
}

BufPtr<uint32_t> flags_of(Node table) { return items<uint32_t>(record(table)->flags); }
BufPtr<int32_t> keys_of(Node table) { return items<int32_t>(record(table)->keys); }
BufPtr<Cell> cell_at(Node table, uint32_t position) { return items<Cell>(record(table)->values) + position; }
uint32_t length_of(Node table) { return mem::buffer(record(table)->values)->length(); }
Kind kind_of(Node table) { return Kind(record(table)->kind); }

auto flag_states(Node table) {
    return [table](uint32_t bucket) { return state(flags_of(table), bucket); };
}

bool at_bound(Node table) { return record(table)->occupied >= record(table)->upper_bound; }
uint32_t regrow_size_of(Node table) { return regrow_size(record(table)->count, record(table)->buckets); }

void fill_series(Node series, uint8_t byte) {
    BufPtr<SeriesBuffer> b = mem::buffer(series);
    alloc::fill(mem::ptr(b->data_start()), mem::ptr(b->data_end()), byte);
}

// Parks a cell on the data stack for the life of the scope, so that the collector sees what it names:
// a table that nothing holds yet, or a series that is still read after it left its table.
class Hold {
public:
    explicit Hold(const Cell& cell) : cell_(stack::push(cell)) {}
    ~Hold() { stack::top = cell_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    Cell& cell() { return *cell_; }

private:
    Cell* cell_;
};

// Gives the table new, empty bucket states and a new bucket array: both are made before either is
// stored, so that a failed allocation leaves the table as it was.
void replace_buckets(Node table, uint32_t buckets, uint32_t bound) {
    Node flags = 0, keys = 0;
    if (kind_of(table) == kMapKeys) {
        keys = alloc::alloc_bytes_filled(buckets * sizeof(KeySlot), kEmptySlots);
    } else {
        Hold states(Cell::of(Type::Binary).set_node(alloc::alloc_bytes_filled(flag_bytes(buckets), kAllEmpty)));
        keys = alloc::alloc_bytes_filled(buckets * 4, 0);
        flags = states.cell().node();
    }
    BufPtr<Record> r = record(table);
    r->flags = flags;
    r->keys = keys;
    r->buckets = buckets;
    r->upper_bound = bound;
    r->count = r->occupied = 0;
}

// Puts `key` (a position, or a record's offset) in an empty or deleted bucket.
void claim(Node table, uint32_t bucket, int32_t key) {
    BufPtr<Record> r = record(table);
    BufPtr<uint32_t> flags = flags_of(table);
    if (state(flags, bucket) == kEmpty) r->occupied++;
    r->count++;
    keys_of(table)[bucket] = key;
    set_state(flags, bucket, kInUse);
}

Cell hash_cell(Node table, Node values) { return Cell::of(Type::Hash).set_node(values).set_table(table); }

// Keys hashed from node addresses must not change while a table is being rebuilt from them.
class NodeCompactionOff {
public:
    NodeCompactionOff() : saved_(collector::node_compaction) { collector::node_compaction = false; }
    ~NodeCompactionOff() { collector::node_compaction = saved_; }
    NodeCompactionOff(const NodeCompactionOff&) = delete;
    NodeCompactionOff& operator=(const NodeCompactionOff&) = delete;

private:
    bool saved_;
};

uint32_t next_stamp() { return collector::node_cycles + 1; }
// The stamp of a table that forgot its entries: no count of node compactions reaches it.
constexpr uint32_t kStale = UINT32_MAX;

// ---- Values and their buckets ----

// The type a key matches as: a bounded string view searches as the string! it shows.
Type key_type(const Cell& key) { return is_bounded_view(key) ? Type::String : key.type(); }

// Whether the value at `position` has the key's type and equals it under `op`.
bool holds(Node table, uint32_t position, Cell* key, int32_t op) {
    Cell* value = cell_at(table, position).get();
    return value->type() == key_type(*key) && actions::compare(value, key, op);
}

// ---- Kind 0: chains of equal values and the position index ----

constexpr int32_t kNoEntry = -1;  // an unused position-index entry: all bits set
// Renumbering more entries than this costs more than rebuilding the table.
constexpr uint32_t kMaxRefresh = 30000;
// A base may grow to twice the values, and to this many positions in a small table, before a rebuild
// takes it back to 0.
constexpr int64_t kMinRebase = 1024;

BufPtr<int32_t> index_of(Node table) { return items<int32_t>(record(table)->index); }
uint32_t index_entries(Node table) { return mem::buffer(record(table)->index)->size / 4; }

// A position's key: where the bucket array, the chains and the position index know it.
uint32_t key_of(Node table, uint32_t position) { return position + record(table)->base; }
uint32_t position_of(Node table, int32_t key) { return uint32_t(key) - record(table)->base; }

// The entry of a key in the position index: its bucket + 1, or kNoEntry.
int32_t index_entry(Node table, uint32_t key) { return key < index_entries(table) ? index_of(table)[key] : kNoEntry; }

// Makes room for `entries` entries: twice as many, the new ones unused.
void reserve_index(Node table, uint32_t entries) {
    if (entries > index_entries(table)) alloc::expand_series_filled(record(table)->index, 8 * int64_t(entries), 0xFF);
}

void set_index_entry(Node table, uint32_t key, int32_t entry) {
    reserve_index(table, key + 1);
    index_of(table)[key] = entry;
}

// Chain k is named by the bucket key -k.
Node chain_of(Node table, int32_t key) { return array::pick_ptr(record(table)->chains, uint32_t(-key)); }

uint32_t first_position(Node table, uint32_t bucket) {
    int32_t key = keys_of(table)[bucket];
    return position_of(table, key >= 0 ? key : array::pick_int(chain_of(table, key), 1));
}

// Turns a bucket's single position into a chain of one.
int32_t start_chain(Node table, uint32_t bucket, int32_t single) {
    Node chains = record(table)->chains;
    array::append_ptr(chains, 0);  // the slot first, so that the chain is reachable once it exists
    uint32_t k = array::length_q(chains);
    Node chain = array::make(2, 4);
    array::poke_ptr(chains, k, chain);
    array::append_int(chain, single);
    keys_of(table)[bucket] = -int32_t(k);
    return -int32_t(k);
}

void join_chain(Node table, uint32_t bucket, uint32_t member) {
    int32_t key = keys_of(table)[bucket];
    if (key >= 0) key = start_chain(table, bucket, key);
    array::append_int(chain_of(table, key), int32_t(member));
}

// Takes a position out of its bucket; the bucket is deleted with its last position.
void forget_position(Node table, uint32_t position) {
    uint32_t member = key_of(table, position);
    int32_t entry = index_entry(table, member);
    if (entry == kNoEntry) return;
    index_of(table)[member] = kNoEntry;
    uint32_t bucket = uint32_t(entry - 1);
    int32_t key = keys_of(table)[bucket];
    if (key < 0) {
        Node chain = chain_of(table, key);
        int32_t at = array::find_int(chain, int32_t(member));
        OKA_ASSERT(at >= 0);
        array::remove_at(chain, uint32_t(at), 4);
        if (array::length_q(chain) > 0) return;
        array::poke_ptr(record(table)->chains, uint32_t(-key), 0);
    }
    set_state(flags_of(table), bucket, kDeleted);
    record(table)->count--;
}

void forget_positions(Node table) {
    fill_series(record(table)->index, 0xFF);
    array::clear(record(table)->chains);
    record(table)->base = 0;
}

// Forgets every entry; the buckets stay as many.
void forget_all(Node table) {
    BufPtr<Record> r = record(table);
    r->count = r->occupied = 0;
    if (r->kind == kMapKeys)
        fill_series(r->keys, kEmptySlots);
    else
        fill_series(r->flags, kAllEmpty);
    if (r->kind == kValues) forget_positions(table);
}

// Renumbers the entries of keys lo .. hi - 1 through `moved`, which gives any key its new one. A chain
// may be reached from several of these keys and may hold keys outside them: each chain is renumbered
// once, member by member.
template <class Moved>
void renumber(Node table, uint32_t lo, uint32_t hi, Moved moved) {
    std::vector<bool> seen(array::length_q(record(table)->chains) + 1);
    for (uint32_t p = lo; p < hi; p++) {
        int32_t entry = index_entry(table, p);
        if (entry == kNoEntry) continue;
        BufPtr<int32_t> keys = keys_of(table);
        int32_t key = keys[entry - 1];
        if (key >= 0) {
            keys[entry - 1] = moved(key);
        } else if (!seen[-key]) {
            seen[-key] = true;
            Node chain = chain_of(table, key);
            BufPtr<int32_t> members = items<int32_t>(chain);
            for (uint32_t i = 0, n = array::length_q(chain); i < n; i++) members[i] = moved(members[i]);
        }
    }
}

// Moves the index entries of `count` keys from `first` by `shift`; the entries they leave behind become
// unused.
void shift_index(Node table, uint32_t first, uint32_t count, int32_t shift) {
    reserve_index(table, std::max(first, first + shift) + count);
    int32_t* index = index_of(table).get();
    std::memmove(index + first + shift, index + first, count * sizeof(int32_t));
    uint32_t left = std::min(uint32_t(std::abs(shift)), count);
    std::fill_n(shift > 0 ? index + first : index + first + count - left, left, kNoEntry);
}

// Which positions of a bucket of equal values a search takes, and which of them it prefers.
struct Window {
    int32_t start, skip, op;
    bool reverse, last;

    explicit Window(const Search& s)
        : start(int32_t(s.start)),
          skip(int32_t(std::max(s.skip, 1u))),
          op(s.op),
          reverse(s.reverse || s.last),
          last(s.last) {}

    bool accepts(int32_t m) const {
        if (last ? m >= start : m < start) return false;
        return (reverse ? start - 1 - m : m - start) % skip == 0;
    }
    bool better(int32_t m, int32_t best) const { return reverse ? m > best : m < best; }
};

int32_t best_member(Node table, uint32_t bucket, Cell* key, const Window& window) {
    int32_t single = keys_of(table)[bucket];
    Node chain = single < 0 ? chain_of(table, single) : 0;
    uint32_t members = chain ? array::length_q(chain) : 1;
    int32_t none = window.reverse ? -1 : int32_t(length_of(table));
    int32_t best = none;
    for (uint32_t i = 1; i <= members; i++) {
        int32_t m = int32_t(position_of(table, chain ? array::pick_int(chain, i) : single));
        if (window.accepts(m) && window.better(m, best) && holds(table, uint32_t(m), key, window.op)) best = m;
    }
    return best == none ? -1 : best;
}

// Gives a copied table a copy of one of the series its record names.
void copy_member(Node twin, Node Record::*member) {
    Node copied = alloc::copy_series(record(twin).get()->*member);
    record(twin).get()->*member = copied;
}

// ---- Kind 1: map keys in (hash, position) slots ----
//
// A map's bucket array holds each key's hash beside its position, and the bucket's state in the
// position: a probe reads one series and compares only the keys of its hash, and a re-hash reads no
// key. A map has no bucket-state series. Its buckets are never deleted: a removed key keeps its bucket
// (the entry is vacant) until clear empties them all.

BufPtr<KeySlot> slots_of(Node table) { return items<KeySlot>(record(table)->keys); }

auto slot_states(Node table) {
    return [table](uint32_t bucket) { return slot_state(slots_of(table)[bucket]); };
}

// Takes an empty bucket for a key.
void claim_slot(Node table, uint32_t bucket, KeySlot slot) {
    OKA_ASSERT(slot_state(slots_of(table)[bucket]) == kEmpty);
    slots_of(table)[bucket] = slot;
    BufPtr<Record> r = record(table);
    r->occupied++;
    r->count++;
}

// Re-hashes the slots into a new bucket array of `buckets` from their hashes alone; every slot keeps
// its bucket in use, vacant entries too.
void regrow_slots(Node table, uint32_t buckets) {
    Node fresh = alloc::alloc_bytes_filled(buckets * sizeof(KeySlot), kEmptySlots);
    // Nothing allocates from here on, so the new slots need no rooting until they are stored.
    const KeySlot* old = slots_of(table).get();
    KeySlot* slots = items<KeySlot>(fresh).get();
    for (uint32_t j = 0; j < record(table)->buckets; j++) {
        if (slot_state(old[j]) != kInUse) continue;
        Probe probe(old[j].hash, buckets);
        Landing at = walk(
            probe, [slots](uint32_t b) { return slot_state(slots[b]); }, no_match);
        slots[at.bucket] = old[j];
    }
    BufPtr<Record> r = record(table);
    r->keys = fresh;
    r->buckets = buckets;
    r->upper_bound = rehash_bound(buckets);
}

// ---- Map keys compared without their compare action ----
//
// Integer and word keys are the most common in maps, and their equality is simple enough to be
// compared in the probe itself: no action dispatch, and the table's series read once, since nothing
// in such a probe allocates. Their hash is computed there too.

// A map key's hash, as hash_value gives it, for these keys without its type switch.
uint32_t key_hash(const Cell& key) {
    if (key.is(Type::Integer)) return hash_int(uint32_t(key.int32()));
    if (key.is(Type::SetWord)) return hash_int(symbol::resolve(key.symbol()));
    return hash_value(key);
}

// Whether the key (words retyped to set-words, as maps store them) is compared here under `op`.
bool inline_key_q(const Cell& sought, int32_t op) {
    if (sought.is(Type::Integer)) return true;
    return sought.is(Type::SetWord) &&
           (op == kCompareEqual || op == kCompareFind || op == kCompareStrictEqual || op == kCompareSame);
}

// The equality the compare actions of integer! and the words give a stored key and such a key: the
// same number; the same symbol, letter case ignored but by == and same?, which also asks for the same
// binding.
bool same_inline_key(const Cell& stored, const Cell& sought, int32_t op) {
    if (stored.type() != sought.type()) return false;
    if (sought.is(Type::Integer)) return stored.int32() == sought.int32();
    if (op == kCompareEqual || op == kCompareFind)
        return symbol::resolve(stored.symbol()) == symbol::resolve(sought.symbol());
    return stored.symbol() == sought.symbol() && (op != kCompareSame || stored.context() == sought.context());
}

Landing walk_inline(Node table, Probe& probe, const Cell& sought, uint32_t hash, int32_t op) {
    const KeySlot* slots = slots_of(table).get();
    const Cell* cells = items<Cell>(record(table)->values).get();
    return walk(
        probe, [slots](uint32_t b) { return slot_state(slots[b]); },
        [&](uint32_t b) { return slots[b].hash == hash && same_inline_key(cells[slots[b].position], sought, op); });
}

// Map keys: a key met again gives its value to the earlier entry and its pair leaves the block (the
// cells behind it move down); a new key is indexed. True when the pair left.
bool merge_or_index_key(Node table, uint32_t position) {
    Cell key = *cell_at(table, position);  // rooted by the block, which still holds the key
    KeyProbe earlier = probe_key(table, &key, kCompareStrictEqual);
    if (earlier.position < 0) {
        add_key(table, earlier, position);
        return false;
    }
    OKA_ASSERT(position + 1 < length_of(table));
    *cell_at(table, uint32_t(earlier.position) + 1) = *cell_at(table, position + 1);
    BufPtr<SeriesBuffer> b = mem::buffer(record(table)->values);
    Cell* pair = mem::ptr<Cell>(b->offset) + position;
    std::memmove(pair, pair + 2, b->tail - mem::addr(pair + 2));
    b->tail -= 2 * sizeof(Cell);
    return true;
}

// Name tables grow sixteen- or thirty-two-fold: they only ever fill.
constexpr uint32_t kNameGrowth = 16;
void grow_names_when_full(Node table) {
    if (at_bound(table)) grow_values(table, kNameGrowth * regrow_size_of(table));
}

bool same_name(const uint8_t* a, const uint8_t* b, uint32_t length) {
    for (uint32_t i = 0; i < length; i++)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Whether the symbol at `position` is named `name`: byte for byte, or with ASCII case ignored.
bool names(Node table, uint32_t position, const uint8_t* name, uint32_t length, bool any_case) {
    BufPtr<SeriesBuffer> utf8 = mem::buffer(cell_at(table, position)->utf8_name());
    if (utf8->used_bytes() != length) return false;
    const uint8_t* bytes = mem::ptr(utf8->offset);
    return any_case ? same_name(bytes, name, length) : std::memcmp(bytes, name, length) == 0;
}

// The id of the symbol in a bucket, through its alias: the first variant of the name entered.
uint32_t canonical_id(Node table, uint32_t bucket) {
    uint32_t position = uint32_t(keys_of(table)[bucket]);
    int32_t alias = cell_at(table, position)->alias();
    return alias > 0 ? uint32_t(alias) : position + 1;
}

// The symbol's cell takes its name as it is appended: the room for the cell is made before the name, so
// that a failed allocation leaves no symbol without a name.
uint32_t add_symbol(Node table, uint32_t bucket, const uint8_t* name, uint32_t length, int32_t alias) {
    Node block = record(table)->values;
    alloc::reserve_tail_cell(block);
    Node utf8 = alloc::alloc_bytes(length + 1);
    BufPtr<SeriesBuffer> b = mem::buffer(utf8);
    std::memcpy(mem::ptr(b->offset), name, length);
    *mem::ptr(b->offset + length) = 0;
    b->tail = b->offset + length;
    uint32_t position = mem::buffer(block)->length();
    *alloc::alloc_tail_cell(block) = Cell::of(Type::Symbol).set_alias(alias).set_utf8_name(utf8);
    claim(table, bucket, int32_t(position));
    return position + 1;
}

int32_t add_word(Node table, uint32_t bucket, uint32_t symbol, Node context) {
    Node words = record(table)->values;
    uint32_t position = mem::buffer(words)->length();
    *alloc::alloc_tail_cell(words) =
        Cell::of(Type::Word).set_context(context).set_symbol(symbol).set_position(position);
    claim(table, bucket, int32_t(position));
    return int32_t(position);
}

// ---- Kinds 3 and 4: records ----

constexpr uint32_t kLiveRecord = kRecordType;  // the header of a live record's first cell, its key's cell
constexpr uint32_t kDeadRecord = 0;

uint32_t record_size(Node table) { return record(table)->index; }

BufPtr<Cell> cells_at(Node values, uint32_t offset) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(values)->offset + offset));
}
BufPtr<Cell> record_at(Node table, uint32_t offset) { return cells_at(record(table)->values, offset); }

Landing find_record(Node table, uint32_t key) {
    Probe probe(hash_int(key), record(table)->buckets);
    return walk(probe, flag_states(table),
                [&](uint32_t b) { return record_at(table, uint32_t(keys_of(table)[b]))->record_key() == key; });
}

int32_t append_record(Node table) {
    Node values = record(table)->values;
    uint32_t offset = mem::buffer(values)->used_bytes();
    alloc::alloc_tail_bytes(values, record_size(table));
    return int32_t(offset);
}

// Marks the record live with its key in its first cell, resets every cell of its value area to
// unset! and returns that area.
BufPtr<Cell> hand_out(Node table, uint32_t offset, uint32_t key) {
    BufPtr<Cell> cells = record_at(table, offset);
    *cells = Cell::of(Type(kRecordType)).set_record_key(key);
    for (uint32_t i = 1; i < record_size(table) / sizeof(Cell); i++) cells[i].header = uint8_t(Type::Unset);
    return cells + 1;
}

}  // namespace

// ---- Hashing ----

void set_seed(uint32_t seed) { hash_seed = seed; }
uint32_t seed() { return hash_seed; }

uint32_t murmur3(const uint8_t* bytes, uint32_t length) {
    uint32_t h = hash_seed;
    uint32_t whole = length & ~3u;
    for (uint32_t i = 0; i < whole; i += 4) {
        uint32_t block;
        std::memcpy(&block, bytes + i, 4);
        h = mix_block(h, block);
    }
    uint32_t tail = 0;
    for (uint32_t i = length; i > whole; i--) tail = tail << 8 | bytes[i - 1];
    return finish(h ^ scramble(tail), length);
}

uint32_t hash_int(uint32_t key) {
    key ^= key >> 16;
    key *= 0x85EBCA6Bu;
    key ^= key >> 13;
    key *= 0xC2B2AE35u;
    return key ^ key >> 16;
}

uint32_t hash_string(const Cell& string) {
    BufPtr<SeriesBuffer> b = mem::buffer(string.node());
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) sys::quit(101, OKA_CALLER_ADDRESS());
    uint64_t from = b->offset + uint64_t(string.head()) * unit;
    uint64_t to = b->tail;
    if (is_bounded_view(string) && string.limit() >= 0) to = std::min(to, from + uint64_t(string.limit()) * unit);
    uint32_t h = hash_seed;
    uint32_t count = 0;
    for (uint64_t at = from; at < to; at += unit, count++)
        h = mix_block(h, case_folding::change_char(code_point_at(mem::ptr(Addr(at)), unit), true));
    return finish(h, 4 * count);
}

uint32_t hash_name(const Cell& symbol) {
    BufPtr<SeriesBuffer> utf8 = mem::buffer(symbol.utf8_name());
    uint32_t length = utf8->used_bytes();
    return murmur3(lower_ascii(mem::ptr(utf8->offset), length), length);
}

const uint8_t* lower_ascii(const uint8_t* bytes, uint32_t length) {
    if (length > lower_capacity || !lower_buffer) {
        sys::free(lower_buffer);
        lower_capacity = std::max(length, kLowerBufferSize);
        lower_buffer = static_cast<uint8_t*>(sys::allocate(lower_capacity));
    }
    for (uint32_t i = 0; i < length; i++) lower_buffer[i] = lower(bytes[i]);
    return lower_buffer;
}

// Types hash by their layout's words (runtime/type_layouts.def) unless their equality asks for more:
// text and words ignore letter case, numbers the sign of zero, a handle its class.
uint32_t hash_value(const Cell& value) {
    if (is_bounded_view(value)) return hash_string(value);
    switch (value.type()) {
    case Type::Unset: return uint32_t(-2);
    case Type::None: return uint32_t(-1);
    case Type::Integer:
    case Type::Char: return hash_int(uint32_t(value.int32()));
    case Type::Handle: return hash_int(uint32_t(value.handle_value()));
    case Type::Word:
    case Type::SetWord:
    case Type::LitWord:
    case Type::GetWord:
    case Type::Refinement:
    case Type::Issue: return hash_int(symbol::resolve(value.symbol()));  // letter-case variants alike
    case Type::Symbol: return hash_name(value);
    case Type::String:
    case Type::File:
    case Type::Url:
    case Type::Tag:
    case Type::Email:
    case Type::Ref: return hash_string(value);
    case Type::Float:
    case Type::Percent:
    case Type::Time: return hash_number(value);
    case Type::Pair: return hash_pair(value);
    case Type::Tuple: return hash_tuple(value);
    case Type::Binary: return hash_bytes(value);
    case Type::Money: return hash_money(value);
    default: return hash_bits(value.hash_words());
    }
}

bool identity_type_q(const Cell& value) {
    constexpr TypeMask kHashedByContent = class_mask(TypeClass::any_string) | type_mask({Type::Binary});
    return !is_bounded_view(value) && hashes_by_identity(value.type()) && !in_mask(kHashedByContent, value.type());
}

uint32_t round_pow2(uint32_t n) { return n <= 1 ? n : std::bit_ceil(n); }

// ---- Tables ----

BufPtr<Record> record(Node table) { return items<Record>(table); }

Node init(uint32_t size, const Cell* block, Kind kind, uint32_t extra) {
    bool over_block = block && kind < kRecords;
    Node values = over_block ? block->node() : 0;
    uint32_t head = over_block ? block->head() : 0;
    Node table = alloc::alloc_bytes(sizeof(Record));
    std::memset(alloc::alloc_tail_bytes(table, sizeof(Record)).get(), 0, sizeof(Record));
    Hold hold(hash_cell(table, values));
    if (kind == kNames && size >= 4000) size *= 2;
    size = std::max(size, kMinSize);
    record(table)->kind = kind;
    if (kind >= kRecords) {
        record(table)->index = (extra + 1) * sizeof(Cell);
        record(table)->stamp = next_stamp();
    }
    uint32_t buckets = buckets_for(size);
    replace_buckets(table, buckets, initial_bound(buckets));
    if (kind == kValues) {
        Node index = alloc::alloc_bytes_filled(size * 4, 0xFF);
        record(table)->index = index;
        Node chains = array::make(0, 4);
        record(table)->chains = chains;
    }
    if (kind == kMapKeys) {
        Node hashes = alloc::alloc_bytes(size * 4);
        record(table)->index = hashes;
    }
    if (!over_block) {
        values = alloc::alloc_cells(size);
        hold.cell().set_node(values);
    }
    record(table)->values = values;
    if (over_block) add_values(table, head, kind == kMapKeys ? 2 : 1);
    return table;
}

bool put_key(Node table, uint32_t position) {
    Kind kind = kind_of(table);
    if (kind == kMapKeys) {
        Cell key = *cell_at(table, position);  // rooted by the block, which holds the key
        KeyProbe probe = probe_key(table, &key, kCompareStrictEqual);
        if (probe.position < 0) add_key(table, probe, position);
        return false;
    }
    if (at_bound(table)) {
        if (kind == kValues) {
            resize(table, regrow_size_of(table));  // indexes every cell of the block, this one too
            return true;
        }
        grow_values(table, regrow_size_of(table));
    }
    Cell key = *cell_at(table, position);  // rooted by the block, which holds the key
    if (kind == kValues && record(table)->stamp == 0 && identity_type_q(key)) record(table)->stamp = next_stamp();
    int32_t op = kind == kValues ? kCompareEqual : kCompareStrictEqual;
    Probe probe(hash_value(key), record(table)->buckets);
    Landing at =
        walk(probe, flag_states(table), [&](uint32_t b) { return holds(table, first_position(table, b), &key, op); });
    OKA_ASSERT(at.bucket >= 0);
    uint32_t member = key_of(table, position);
    if (!at.found)
        claim(table, uint32_t(at.bucket), int32_t(member));
    else if (kind == kValues)
        join_chain(table, uint32_t(at.bucket), member);
    if (kind == kValues) set_index_entry(table, member, at.bucket + 1);
    return false;
}

void put(Node table, uint32_t position) { put_key(table, position); }

void add_values(Node table, uint32_t first, uint32_t step) {
    bool map = kind_of(table) == kMapKeys;
    for (uint32_t p = first; p < length_of(table);) {
        if (!map) {
            if (put_key(table, p)) return;
        } else if (merge_or_index_key(table, p)) {
            continue;  // the repeated pair left the block: the next pair is at p now
        }
        p += step;
    }
}

int32_t find(Node table, Cell* key, const Search& search) {
    int32_t op = search.op;
    if (kind_of(table) == kMapKeys) return probe_key(table, key, op).position;
    check_rebuild(table);
    Cell sought = *key;  // the caller's key stays rooted
    Probe probe(hash_value(sought), record(table)->buckets);
    if (kind_of(table) != kValues) {
        Landing at = walk(probe, flag_states(table),
                          [&](uint32_t b) { return holds(table, uint32_t(keys_of(table)[b]), &sought, op); });
        return at.found ? keys_of(table)[at.bucket] : -1;
    }
    Window window(search);
    int32_t found = -1;
    walk(probe, flag_states(table), [&](uint32_t b) {
        if (!holds(table, first_position(table, b), &sought, kCompareEqual)) return false;
        found = best_member(table, b, &sought, window);
        return found >= 0;
    });
    return found;
}

KeyProbe probe_key(Node table, Cell* key, int32_t op) {
    Cell sought = *key;  // the caller's key stays rooted; the copy may be retyped
    if (is_a(sought.type(), TypeClass::any_word)) sought.set_type(Type::SetWord);  // as maps store them
    uint32_t hash = key_hash(sought);
    Probe probe(hash, record(table)->buckets);
    Landing at = inline_key_q(sought, op)
                     ? walk_inline(table, probe, sought, hash, op)
                     : walk(probe, slot_states(table), [&](uint32_t b) {
                           KeySlot slot = slots_of(table)[b];
                           return slot.hash == hash && holds(table, uint32_t(slot.position), &sought, op);
                       });
    return {at.found ? slots_of(table)[at.bucket].position : -1, at.bucket, hash};
}

void add_key(Node table, const KeyProbe& probe, uint32_t position) {
    OKA_ASSERT(probe.position < 0 && hash_value(*cell_at(table, position)) == probe.hash);
    int32_t bucket = probe.bucket;
    if (at_bound(table)) {
        grow_values(table, record(table)->buckets + 1);
        Probe free(probe.hash, record(table)->buckets);
        bucket = walk(free, slot_states(table), no_match).bucket;
    }
    OKA_ASSERT(bucket >= 0);
    claim_slot(table, uint32_t(bucket), {probe.hash, int32_t(position)});
}

int32_t get_next(Node table, Cell* key, Cursor& cursor) {
    OKA_ASSERT(kind_of(table) == kMapKeys);
    uint32_t hash = hash_value(*key);
    Probe probe(hash, record(table)->buckets);
    if (cursor.bucket >= 0) {
        probe.bucket = uint32_t(cursor.bucket);
        probe.step = cursor.step;
        if (!probe.advance()) return -1;
    }
    Landing at = walk(probe, slot_states(table), [&](uint32_t b) {
        KeySlot slot = slots_of(table)[b];
        return slot.hash == hash && holds(table, uint32_t(slot.position), key, kCompareEqual);
    });
    if (!at.found) return -1;
    cursor = {at.bucket, probe.step};
    return slots_of(table)[at.bucket].position;
}

void delete_(Node table, uint32_t position) {
    if (kind_of(table) == kValues) {
        forget_position(table, position);
        return;
    }
    OKA_ASSERT(kind_of(table) == kMapKeys);
    cell_at(table, position + 1)->header = 0;
    record(table)->count--;
}

void remove_range(Node table, uint32_t first, uint32_t count) {
    uint32_t length = length_of(table);
    count = std::min(count, first < length ? length - first : 0);
    if (first == 0 && count == length) {
        forget_all(table);
        return;
    }
    for (uint32_t p = first; p < first + count; p++) forget_position(table, p);
}

bool refresh_range(Node table, int32_t shift, uint32_t first, uint32_t count, bool move_index) {
    if (count > kMaxRefresh) return true;
    if (move_index && shift < 0)
        for (uint32_t p = first + shift; p < first; p++) forget_position(table, p);
    uint32_t lo = key_of(table, first), hi = lo + count;
    renumber(table, lo, hi, [=](int32_t k) { return uint32_t(k) >= lo && uint32_t(k) < hi ? k + shift : k; });
    if (move_index) shift_index(table, lo, count, shift);
    return false;
}

bool refresh_front(Node table, int32_t shift, uint32_t count) {
    uint32_t lo = record(table)->base, hi = lo + count;
    // Head removals raise the base for good, and the position index grows with it: a rebuild starts
    // both again from 0.
    int64_t base = int64_t(lo) - shift;
    OKA_ASSERT(base >= 0);
    if (count > kMaxRefresh || base > std::max<int64_t>(2 * int64_t(length_of(table)), kMinRebase)) return true;
    renumber(table, lo, hi, [=](int32_t k) { return uint32_t(k) >= lo && uint32_t(k) < hi ? k - shift : k; });
    shift_index(table, lo, count, -shift);
    record(table)->base = uint32_t(base);
    return false;
}

void move_range(Node table, uint32_t destination, uint32_t first, uint32_t count) {
    if (destination >= first && destination < first + count) return;
    int32_t shift = int32_t(destination - first);
    if (shift > 0) shift -= int32_t(count) - 1;
    // The moved cells shift; the cells they passed over close up behind them by `count` the other way.
    // All of it in keys, which are the positions moved by the base.
    uint32_t base = record(table)->base;
    uint32_t start = first + base;
    uint32_t lo = shift > 0 ? start : start + shift;
    uint32_t hi = shift > 0 ? start + count + shift : start + count;
    auto moved = [=](int32_t k) {
        uint32_t u = uint32_t(k);
        if (u < lo || u >= hi) return k;
        if (u >= start && u < start + count) return k + shift;
        return shift > 0 ? k - int32_t(count) : k + int32_t(count);
    };
    renumber(table, lo, hi, moved);
    reserve_index(table, hi);
    int32_t* index = index_of(table).get();
    std::vector<int32_t> before(index + lo, index + hi);
    for (uint32_t k = lo; k < hi; k++) index[moved(int32_t(k))] = before[k - lo];
}

BufPtr<Cell> put_block_key(Node table, uint32_t key) {
    check_rebuild(table);
    if (at_bound(table)) resize(table, regrow_size_of(table));
    Landing at = find_record(table, key);
    OKA_ASSERT(at.bucket >= 0);
    uint32_t bucket = uint32_t(at.bucket);
    if (!at.found) {
        // A deleted bucket takes back the record it had.
        bool fresh = state(flags_of(table), bucket) == kEmpty;
        claim(table, bucket, fresh ? append_record(table) : keys_of(table)[bucket]);
    }
    return hand_out(table, uint32_t(keys_of(table)[bucket]), key);
}

BufPtr<Cell> get(Node table, uint32_t key) {
    check_rebuild(table);
    Landing at = find_record(table, key);
    return at.found ? record_at(table, uint32_t(keys_of(table)[at.bucket])) + 1 : BufPtr<Cell>();
}

bool delete_key(Node table, uint32_t key) {
    check_rebuild(table);
    Landing at = find_record(table, key);
    if (!at.found) return false;
    set_state(flags_of(table), uint32_t(at.bucket), kDeleted);
    record(table)->count--;
    BufPtr<Cell> cells = record_at(table, uint32_t(keys_of(table)[at.bucket]));
    cells->header = kDeadRecord;
    // Growing the table holds its old records where the collector reads every cell.
    for (uint32_t i = 1; i < record_size(table) / sizeof(Cell); i++) cells[i] = Cell::of(Type::Unset);
    return true;
}

Node copy(Node table, Node values) {
    Hold hold(hash_cell(0, values));  // the values are often new, and nothing else holds them yet
    Node twin = alloc::copy_series(table);
    // Until a member is copied the twin names the original's, which stays alive anyway.
    hold.cell().set_table(twin);
    record(twin)->values = values;
    if (kind_of(twin) != kMapKeys) copy_member(twin, &Record::flags);
    copy_member(twin, &Record::keys);
    if (kind_of(twin) != kValues) return twin;
    copy_member(twin, &Record::index);
    copy_member(twin, &Record::chains);
    Node chains = record(twin)->chains;
    for (uint32_t k = 1; k <= array::length_q(chains); k++) {
        if (Node chain = array::pick_ptr(chains, k)) {
            Node copied = alloc::copy_series(chain);
            array::poke_ptr(chains, k, copied);
        }
    }
    return twin;
}

void clear(Node table) {
    forget_all(table);
    BufPtr<SeriesBuffer> values = mem::buffer(record(table)->values);
    values->tail = values->offset;
}

void mark_stale(Node table) {
    OKA_ASSERT(kind_of(table) == kValues);
    forget_all(table);
    record(table)->stamp = kStale;
}

bool stale_q(Node table) { return record(table)->stamp == kStale; }

// ---- Re-hashing ----

void resize(Node table, uint32_t size) {
    NodeCompactionOff keep_nodes;
    switch (kind_of(table)) {
    case kValues: resize_keys(table, size); break;
    case kMapKeys:
    case kNames: grow_values(table, size); break;
    default: resize_indexed(table, size);
    }
}

void resize_keys(Node table, uint32_t size) {
    uint32_t buckets = round_pow2(uint32_t(1.5 * size));
    // The bound follows the computed bucket count, before the minimum of four applies.
    replace_buckets(table, std::max(buckets, kMinBuckets), initial_bound(buckets));
    record(table)->stamp = 0;
    forget_positions(table);
    add_values(table, 0, 1);
}

// The new records block and buckets are all made before the table takes them, and re-keying the live
// records into them allocates nothing (the block has room for them): a failed allocation leaves the
// table as it was.
void resize_indexed(Node table, uint32_t size) {
    uint32_t buckets = std::max(round_pow2(size), kMinBuckets);
    uint32_t bytes = record_size(table);
    Node old = record(table)->values;
    Hold keep_old(Cell::of(Type::Block).set_node(old));  // the live records are copied out of it below
    Hold values(Cell::of(Type::Block)
                    .set_node(alloc::alloc_cells(std::max(record(table)->count, 1u) * (bytes / sizeof(Cell)))));
    replace_buckets(table, buckets, rehash_bound(buckets));
    record(table)->values = values.cell().node();
    record(table)->stamp = next_stamp();
    for (uint32_t offset = 0; offset < mem::buffer(old)->used_bytes(); offset += bytes) {
        if (cells_at(old, offset)->header != kLiveRecord) continue;
        BufPtr<Cell> area = put_block_key(table, cells_at(old, offset)->record_key());
        std::memcpy(area.get(), (cells_at(old, offset) + 1).get(), bytes - sizeof(Cell));
    }
}

void grow_values(Node table, uint32_t size) {
    uint32_t buckets = std::max(round_pow2(size), kMinBuckets);
    if (record(table)->count >= rehash_bound(buckets)) return;
    if (kind_of(table) == kMapKeys) {
        regrow_slots(table, buckets);  // a map's emptied entries keep their buckets
        return;
    }
    uint32_t old_buckets = record(table)->buckets;
    Node keys = record(table)->keys;
    if (buckets * 4 > mem::buffer(keys)->size) alloc::expand_series(keys, buckets * 4);
    Node fresh = alloc::alloc_bytes_filled(flag_bytes(buckets), kAllEmpty);
    // Nothing allocates from here on, so the new states need no rooting until they are stored.
    kick_out(flags_of(table), items<uint32_t>(fresh), old_buckets, buckets, keys_of(table),
             [table](int32_t key) { return hash_value(*cell_at(table, uint32_t(key))); });
    BufPtr<Record> r = record(table);
    r->flags = fresh;
    r->buckets = buckets;
    r->upper_bound = rehash_bound(buckets);
    r->occupied = r->count;
}

void check_rebuild(Node table) {
    uint32_t stamp = record(table)->stamp;
    if (stamp == 0 || stamp == next_stamp() || collector::collecting) return;
    if (kind_of(table) == kValues)
        resize(table, length_of(table));
    else
        rebuild(table);
}

void rebuild(Node table) {
    OKA_ASSERT(kind_of(table) >= kRecords);
    forget_all(table);
    uint32_t bytes = record_size(table);
    for (uint32_t offset = 0; offset < mem::buffer(record(table)->values)->used_bytes(); offset += bytes) {
        BufPtr<Cell> first = record_at(table, offset);
        if (first->header != kLiveRecord) continue;
        Probe probe(hash_int(first->record_key()), record(table)->buckets);
        claim(table, uint32_t(walk(probe, flag_states(table), no_match).bucket), int32_t(offset));
    }
    record(table)->stamp = next_stamp();
}

// ---- The collector's hooks ----

void mark(Node table) {
    if (!collector::keep(table)) return;
    visit_series(table, [](Node node, collector::Hold hold) {
        if (hold == collector::Hold::Cells)
            collector::mark_series(node);
        else
            collector::keep(node);
    });
}

void sweep_weak(Node table) {
    if (!table) return;
    uint32_t bytes = record_size(table);
    bool owners = kind_of(table) == kOwners;
    for (uint32_t offset = 0; offset < mem::buffer(record(table)->values)->used_bytes(); offset += bytes) {
        BufPtr<Cell> cells = record_at(table, offset);
        if (cells->header != kLiveRecord) continue;
        uint32_t key = cells->record_key();
        bool key_alive = collector::marked_q(key);
        if (key_alive && (!owners || collector::marked_q(cells[2].context()))) continue;
        if (owners && key_alive) mem::buffer(key)->flags &= ~kSeriesOwned;  // it outlived its owner
        delete_key(table, key);
        *cells = Cell{};
    }
}

namespace {

// What is wrong with the key of an in-use bucket, or "" when nothing is: a position (or chain) of the
// values block, or the offset of a live record.
std::string key_fault(Node table, int32_t key) {
    Record r = *record(table);
    if (r.kind >= kRecords) {
        uint32_t offset = uint32_t(key);
        if (offset % record_size(table) || offset >= mem::buffer(r.values)->used_bytes())
            return "names no record of the values series";
        return cells_at(r.values, offset)->header == kLiveRecord ? "" : "names a deleted record";
    }
    if (key < 0) return r.kind == kValues && uint32_t(-key) <= array::length_q(r.chains) ? "" : "names no chain";
    if (uint32_t(key) - r.base >= length_of(table)) return "names a position past the values";
    return "";
}

// The same for a map's bucket, which also holds its key's hash.
std::string slot_fault(Node table, const KeySlot& slot) {
    std::string wrong = key_fault(table, slot.position);
    if (!wrong.empty()) return wrong;
    if (slot.position % 2) return "names a map key at an odd position";
    return hash_value(*cell_at(table, uint32_t(slot.position))) == slot.hash ? "" : "holds another hash than its key's";
}

uint32_t bucket_state(Node table, uint32_t bucket) {
    return kind_of(table) == kMapKeys ? slot_state(slots_of(table)[bucket]) : state(flags_of(table), bucket);
}

}  // namespace

std::string fault(Node table) {
    if (mem::buffer(table)->used_bytes() < sizeof(Record)) return "its record is cut short";
    Record r = *record(table);
    if (r.kind > kOwners) return "kind " + std::to_string(r.kind) + " is no kind of table";
    bool map = r.kind == kMapKeys;
    if ((!r.flags && !map) || !r.keys || !r.values) return "it lacks a series of its own";
    if (r.buckets < kMinBuckets || !std::has_single_bit(r.buckets))
        return std::to_string(r.buckets) + " buckets, not a power of two of at least " + std::to_string(kMinBuckets);
    bool sized =
        map ? mem::buffer(r.keys)->size >= sizeof(KeySlot) * r.buckets
            : mem::buffer(r.flags)->size >= flag_bytes(r.buckets) && mem::buffer(r.keys)->size >= 4 * r.buckets;
    if (!sized) return "its bucket states or bucket array are too small for " + std::to_string(r.buckets) + " buckets";
    uint32_t in_use = 0, deleted = 0;
    for (uint32_t b = 0; b < r.buckets; b++) {
        uint32_t its_state = bucket_state(table, b);
        if (its_state == kDeleted) deleted++;
        if (its_state != kInUse) continue;
        in_use++;
        std::string wrong = map ? slot_fault(table, slots_of(table)[b]) : key_fault(table, keys_of(table)[b]);
        if (!wrong.empty()) return "bucket " + std::to_string(b) + " " + wrong;
    }
    // A map's emptied entries keep their buckets, and a re-hash in place keeps its count of occupied ones.
    if (map ? r.count > in_use : r.count != in_use)
        return std::to_string(in_use) + " buckets in use for a count of " + std::to_string(r.count);
    if (map ? r.occupied < in_use + deleted : r.occupied != in_use + deleted)
        return std::to_string(in_use + deleted) + " buckets in use or deleted for " + std::to_string(r.occupied) +
               " occupied";
    if (r.occupied > r.upper_bound || r.upper_bound > r.buckets)
        return std::to_string(r.occupied) + " occupied buckets against a bound of " + std::to_string(r.upper_bound) +
               " of " + std::to_string(r.buckets);
    return "";
}

// ---- Symbols and words ----

uint32_t symbol_lookup(Node table, const uint8_t* name, uint32_t length, bool ignore_case) {
    grow_names_when_full(table);
    uint32_t hash = murmur3(lower_ascii(name, length), length);
    auto probe_names = [&](bool any_case) {
        Probe probe(hash, record(table)->buckets);
        return walk(probe, flag_states(table),
                    [&](uint32_t b) { return names(table, uint32_t(keys_of(table)[b]), name, length, any_case); });
    };
    Landing first = probe_names(ignore_case);
    if (first.found)
        return ignore_case ? canonical_id(table, uint32_t(first.bucket)) : uint32_t(keys_of(table)[first.bucket]) + 1;
    OKA_ASSERT(first.bucket >= 0);
    int32_t alias = -1;
    if (!ignore_case) {
        Landing variant = probe_names(true);
        if (variant.found) alias = int32_t(canonical_id(table, uint32_t(variant.bucket)));
    }
    return add_symbol(table, uint32_t(first.bucket), name, length, alias);
}

int32_t context_lookup(Node table, uint32_t symbol, bool ignore_case, Node context, int32_t& position) {
    if (context) grow_names_when_full(table);
    uint32_t canonical = symbol::resolve(symbol);
    // Comparing ids allocates nothing, so the probe reads the table's series where they are: this
    // lookup runs for every word that binding, making a context or reading a field meets.
    Record r = *record(table);
    BufPtr<uint32_t> flags = items<uint32_t>(r.flags);
    BufPtr<int32_t> keys = items<int32_t>(r.keys);
    BufPtr<Cell> words = items<Cell>(r.values);
    Probe probe(hash_int(canonical), r.buckets);
    Landing at = walk(
        probe, [flags](uint32_t bucket) { return state(flags, bucket); },
        [&](uint32_t b) {
            uint32_t id = words[keys[b]].symbol();
            return id == symbol || (ignore_case && symbol::resolve(id) == canonical);
        });
    if (at.found) {
        int32_t found = keys[at.bucket];
        if (context) position = found;
        return found;
    }
    if (!context) return -1;
    OKA_ASSERT(at.bucket >= 0);
    position = add_word(table, uint32_t(at.bucket), symbol, context);
    return -1;
}

}  // namespace hashtable

namespace ptr_map {

namespace {

struct Pair {
    uint32_t key, value;
};

uint32_t* flags_of(PtrMap* map) { return mem::ptr<uint32_t>(map->flags); }
Pair* pairs_of(PtrMap* map) { return mem::ptr<Pair>(map->pairs); }

Addr new_flags(uint32_t buckets) {
    void* flags = sys::allocate(flag_bytes(buckets));
    std::memset(flags, kAllEmpty, flag_bytes(buckets));
    return mem::addr(flags);
}

Landing find_key(PtrMap* map, uint32_t key) {
    Probe probe(hashtable::hash_int(key), map->buckets);
    auto states = [map](uint32_t bucket) { return state(flags_of(map), bucket); };
    return walk(probe, states, [map, key](uint32_t b) { return pairs_of(map)[b].key == key; });
}

}  // namespace

PtrMap* make(uint32_t expected) {
    uint32_t buckets = buckets_for(std::max(expected, kMinSize));
    auto* map = static_cast<PtrMap*>(sys::allocate_zeroed(sizeof(PtrMap)));
    map->flags = new_flags(buckets);
    map->pairs = mem::addr(sys::allocate(buckets * sizeof(Pair)));
    map->buckets = buckets;
    map->upper_bound = initial_bound(buckets);
    return map;
}

bool put(PtrMap* map, uint32_t key, uint32_t value) {
    if (map->occupied >= map->upper_bound) resize(map, regrow_size(map->count, map->buckets));
    Landing at = find_key(map, key);
    OKA_ASSERT(at.bucket >= 0);
    Pair& pair = pairs_of(map)[at.bucket];
    pair.value = value;
    if (at.found) return true;
    if (state(flags_of(map), uint32_t(at.bucket)) == kEmpty) map->occupied++;
    map->count++;
    pair.key = key;
    set_state(flags_of(map), uint32_t(at.bucket), kInUse);
    return false;
}

uint32_t* get(PtrMap* map, uint32_t key) {
    Landing at = find_key(map, key);
    return at.found ? &pairs_of(map)[at.bucket].value : nullptr;
}

void resize(PtrMap* map, uint32_t size) {
    uint32_t buckets = std::max(hashtable::round_pow2(size), kMinBuckets);
    if (map->count >= rehash_bound(size)) return;
    uint32_t old_buckets = map->buckets;
    if (buckets > old_buckets) map->pairs = mem::addr(sys::resize(pairs_of(map), buckets * sizeof(Pair)));
    Addr fresh = new_flags(buckets);
    kick_out(flags_of(map), mem::ptr<uint32_t>(fresh), old_buckets, buckets, pairs_of(map),
             [](const Pair& pair) { return hashtable::hash_int(pair.key); });
    if (buckets < old_buckets) map->pairs = mem::addr(sys::resize(pairs_of(map), buckets * sizeof(Pair)));
    sys::free(flags_of(map));
    map->flags = fresh;
    map->buckets = buckets;
    map->upper_bound = initial_bound(buckets);
    map->occupied = map->count;
}

void destroy(PtrMap* map) {
    if (!map) return;
    sys::free(flags_of(map));
    sys::free(pairs_of(map));
    sys::free(map);
}

}  // namespace ptr_map

}  // namespace oka
