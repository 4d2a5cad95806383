// Hashing, the hash tables of every kind, the symbol table and the pointer map.
#include "runtime/hashtable.h"

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/context.h"
#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/registry.h"
#include "runtime/symbol_table.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using hashtable::record;
using test::int_cell;

namespace {

// ---- Values and blocks ----

const uint8_t* bytes(std::string_view text) { return reinterpret_cast<const uint8_t*>(text.data()); }

Cell block_cell(Node block) { return Cell::of(Type::Block).set_node(block); }

// Blocks and tables made here are kept for the rest of the test.
Node new_block(uint32_t capacity) { return test::keep(block_cell(alloc::alloc_cells(capacity))).node(); }
Node kept(Node table) { return test::keep(Cell::of(Type::Hash).set_table(table)).table(); }

uint32_t append(Node block, const Cell& value) {
    uint32_t position = mem::buffer(block)->length();
    *alloc::alloc_tail_cell(block) = value;
    return position;
}

Node block_of_ints(std::initializer_list<int32_t> values) {
    Node block = new_block(uint32_t(values.size()));
    for (int32_t v : values) append(block, int_cell(v));
    return block;
}

Cell at(Node block, uint32_t position) { return mem::ptr<Cell>(mem::buffer(block)->offset)[position]; }
uint32_t length(Node block) { return mem::buffer(block)->length(); }

Node table_over(Node block, hashtable::Kind kind, uint32_t size = 0) {
    Cell cell = block_cell(block);
    return kept(hashtable::init(size ? size : length(block), &cell, kind));
}

int32_t find(Node table, Cell key, uint32_t start = 0) { return hashtable::find(table, &key, {.start = start}); }

uint32_t symbol_id(std::string_view name) { return symbol::lookup(bytes(name), uint32_t(name.size()), false); }
Cell word_cell(Type type, std::string_view name) { return Cell::of(type).set_symbol(symbol_id(name)).set_position(-1); }

bool has_compare(Type type) { return datatype::action_entry(type, Act::compare) != nullptr; }

// ---- The block code's moves, as the tables see them ----

// Takes `count` cells at `first` out of a block; answers the cells that were behind them.
uint32_t cut_cells(Node block, uint32_t first, uint32_t count) {
    uint32_t tail = length(block) - first - count;
    Cell* cells = mem::ptr<Cell>(mem::buffer(block)->offset);
    std::memmove(cells + first, cells + first + count, tail * sizeof(Cell));
    mem::buffer(block)->tail -= count * sizeof(Cell);
    return tail;
}

// Puts a value in a block at `position`; answers the cells behind it.
uint32_t open_cell(Node block, uint32_t position, const Cell& value) {
    uint32_t tail = length(block) - position;
    alloc::alloc_tail_cell(block);
    Cell* cells = mem::ptr<Cell>(mem::buffer(block)->offset);
    std::memmove(cells + position + 1, cells + position, tail * sizeof(Cell));
    cells[position] = value;
    return tail;
}

// Removes `count` cells at `first` from a kValues table's block, the table following.
void remove_cells(Node table, uint32_t first, uint32_t count) {
    hashtable::remove_range(table, first, count);
    uint32_t tail = cut_cells(record(table)->values, first, count);
    hashtable::refresh_range(table, -int32_t(count), first + count, tail, true);
}

// Inserts a value at `position` of a kValues table's block, the table following.
void insert_cell(Node table, uint32_t position, const Cell& value) {
    uint32_t tail = open_cell(record(table)->values, position, value);
    hashtable::refresh_range(table, 1, position, tail, true);
    hashtable::put(table, position);
}

// The same two moves as a change near the head makes them: the table renumbers the cells before the
// change, its base taking the shift (an insertion only while the base is as large); a table that gives
// up is rebuilt from its block.
void remove_cells_at_head(Node table, uint32_t first, uint32_t count) {
    hashtable::remove_range(table, first, count);
    cut_cells(record(table)->values, first, count);
    if (hashtable::refresh_front(table, -int32_t(count), first))
        hashtable::resize(table, length(record(table)->values));
}

void insert_cell_at_head(Node table, uint32_t position, const Cell& value) {
    uint32_t tail = open_cell(record(table)->values, position, value);
    bool gave_up = record(table)->base >= 1 ? hashtable::refresh_front(table, 1, position)
                                            : hashtable::refresh_range(table, 1, position, tail, true);
    if (gave_up)
        hashtable::resize(table, length(record(table)->values));
    else
        hashtable::put(table, position);
}

// Every position of `value` in the table, in order, found by searching on from the last one.
std::vector<int32_t> positions_of(Node table, const Cell& value) {
    std::vector<int32_t> found;
    for (int32_t p = find(table, value); p >= 0; p = find(table, value, uint32_t(p) + 1)) found.push_back(p);
    return found;
}

// Checks a kValues table against the values its block should hold.
void expect_indexes(Node table, const std::vector<int32_t>& values) {
    std::unordered_map<int32_t, std::vector<int32_t>> expected;
    for (size_t p = 0; p < values.size(); p++) expected[values[p]].push_back(int32_t(p));
    ASSERT_EQ(length(record(table)->values), values.size());
    EXPECT_EQ(record(table)->count, expected.size());
    for (const auto& [value, where] : expected) EXPECT_EQ(positions_of(table, int_cell(value)), where) << value;
}

// Sets the collector's node-cycle count for the life of the scope.
class NodeCycles {
public:
    explicit NodeCycles(uint32_t count) : saved_(collector::node_cycles) { collector::node_cycles = count; }
    ~NodeCycles() { collector::node_cycles = saved_; }

private:
    uint32_t saved_;
};

// Sets the hash seed for the life of the scope.
class Seed {
public:
    explicit Seed(uint32_t seed) : saved_(hashtable::seed()) { hashtable::set_seed(seed); }
    ~Seed() { hashtable::set_seed(saved_); }

private:
    uint32_t saved_;
};

}  // namespace

// ---- Hashing ----

TEST(HashFunctions, Murmur3MatchesPublishedVectors) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view bytes;
        uint32_t seed, hash;
    } cases[] = {
        {""sv, 0, 0},
        {""sv, 1, 0x514E28B7},
        {""sv, 0xFFFFFFFF, 0x81F16F39},
        {""sv, 1234, 0x0F2CC00B},
        {"\0"sv, 0, 0x514E28B7},
        {"\0\0"sv, 0, 0x30F4C306},
        {"\0\0\0"sv, 0, 0x85F0B427},
        {"\0\0\0\0"sv, 0, 0x2362F9DE},
        {"\x21"sv, 0, 0x72661CF4},
        {"\x21\x43"sv, 0, 0xA0F7B07A},
        {"\x21\x43\x65"sv, 0, 0x7E4A8634},
        {"\x21\x43\x65\x87"sv, 0, 0xF55B516B},
        {"\x21\x43\x65\x87"sv, 0x5082EDEE, 0x2362F9DE},
        {"\xFF\xFF\xFF\xFF"sv, 0, 0x76293B50},
        {"a"sv, 0x9747B28C, 0x7FA09EA6},
        {"aa"sv, 0x9747B28C, 0x5D211726},
        {"aaa"sv, 0x9747B28C, 0x283E0130},
        {"aaaa"sv, 0x9747B28C, 0x5A97808A},
        {"ab"sv, 0x9747B28C, 0x74875592},
        {"abc"sv, 0x9747B28C, 0xC84A62DD},
        {"abcd"sv, 0x9747B28C, 0xF0478627},
        {"Hello, world!"sv, 0x9747B28C, 0x24884CBA},
        {"Hello, world!"sv, 1234, 0xFAF6CDB3},
        {"Hello, world!"sv, 4321, 0xBF505788},
        {"\u03C0\u03C0\u03C0\u03C0\u03C0\u03C0\u03C0\u03C0"sv, 0x9747B28C, 0xD58063C1},
        {"The quick brown fox jumps over the lazy dog"sv, 0x9747B28C, 0x2FA826CD},
    };
    for (const Case& c : cases) {
        Seed seed(c.seed);
        EXPECT_EQ(hashtable::murmur3(bytes(c.bytes), uint32_t(c.bytes.size())), c.hash)
            << c.bytes.size() << " bytes, seed " << c.seed;
    }
}

TEST(HashFunctions, NothingHashesToTheFinalisedSeedAndTheRunTimeSeedIsFixed) {
    EXPECT_EQ(hashtable::seed(), 7340117u);
    for (uint32_t s : {0u, 1u, 7340117u, 0xDEADBEEFu}) {
        Seed seed(s);
        EXPECT_EQ(hashtable::murmur3(nullptr, 0), hashtable::hash_int(s));
    }
}

TEST(HashFunctions, LowerAsciiFoldsOnlyAsciiLetters) {
    auto lowered = [](std::string_view text) {
        const uint8_t* lower = hashtable::lower_ascii(bytes(text), uint32_t(text.size()));
        return std::string(reinterpret_cast<const char*>(lower), text.size());
    };
    EXPECT_EQ(lowered("AbZ-az@[`{\xC3\x89"), "abz-az@[`{\xC3\x89");      // @ [ ` { and the bytes of É stay
    EXPECT_EQ(lowered(std::string(1000, 'Q')), std::string(1000, 'q'));  // beyond the first scratch buffer
}

TEST(HashFunctions, StringsHashTheirUpperCasedCodePointsAsWords) {
    using harness::text_of_unit;
    // "abc" hashes as the 32-bit blocks of A, B and C with the length 12.
    const uint8_t blocks[] = {'A', 0, 0, 0, 'B', 0, 0, 0, 'C', 0, 0, 0};
    uint32_t abc = hashtable::murmur3(blocks, sizeof blocks);
    for (uint32_t unit : {1u, 2u, 4u}) {
        EXPECT_EQ(hashtable::hash_string(text_of_unit(U"abc", unit)), abc) << unit;
        EXPECT_EQ(hashtable::hash_string(text_of_unit(U"ABC", unit)), abc) << unit;
    }
    EXPECT_EQ(hashtable::hash_string(text_of_unit(U"\u00E9t\u00E9", 2)),
              hashtable::hash_string(text_of_unit(U"\u00C9T\u00C9", 1)));  // beyond ASCII too
    Cell from_head = harness::at_head(text_of_unit(U"xyzabc", 1), 3);
    EXPECT_EQ(hashtable::hash_string(from_head), abc);
    Cell view = text_of_unit(U"abcdef", 1);
    view.header = kBoundedStringType;
    view.set_limit(3);
    EXPECT_EQ(hashtable::hash_value(view), abc);
    view.set_limit(-1);  // no bound
    EXPECT_EQ(hashtable::hash_value(view), hashtable::hash_string(text_of_unit(U"abcdef", 1)));
}

TEST(HashFunctions, ValuesHashByTheirType) {
    auto murmur_of_words = [](const Cell& cell, int first, int count) {
        return hashtable::murmur3(reinterpret_cast<const uint8_t*>(&cell) + 4 * first, uint32_t(4 * count));
    };
    // The layout's words, the others zero.
    auto murmur_of_payload = [](uint32_t word1, uint32_t word2, uint32_t word3) {
        Words3 words{word1, word2, word3};
        return hashtable::murmur3(reinterpret_cast<const uint8_t*>(words.data()), sizeof words);
    };
    Cell tuple{uint8_t(Type::Tuple) | 3u << 19, 0x00030201, 0, 0};
    Cell money{uint8_t(Type::Money) | 1u << 14, 0x12340001, 0x56, 0x78};
    Cell money_on_new_line = money;
    money_on_new_line.header |= kCellNewLine;
    Cell positive_money = money;
    positive_money.header = uint8_t(Type::Money);
    Cell binary = test::keep(Cell{uint8_t(Type::Binary), 2, alloc::alloc_bytes(8), 0});
    std::memcpy(alloc::alloc_tail_bytes(binary.node(), 5).get(), "xyabc", 5);
    struct Case {
        Cell value;
        uint32_t hash;
    } cases[] = {
        {Cell{uint8_t(Type::Unset), 0, 0, 0}, uint32_t(-2)},
        {Cell{uint8_t(Type::None), 0, 0, 0}, uint32_t(-1)},
        {Cell{uint8_t(Type::Logic), 1, 0, 0}, murmur_of_payload(1, 0, 0)},
        {test::type_cell(Type::Block), murmur_of_payload(uint32_t(Type::Block), 0, 0)},
        {int_cell(-7), hashtable::hash_int(uint32_t(-7))},
        {test::char_cell(0x263A), hashtable::hash_int(0x263A)},
        {Cell{uint8_t(Type::Native), 1, 2, 42}, murmur_of_payload(0, 2, 0)},  // its spec
        {test::float_cell(2.5), murmur_of_words(test::float_cell(2.5), 2, 2)},
        {Cell{uint8_t(Type::Pair), 9, 3, 4}, murmur_of_words(Cell{0, 0, 3, 4}, 2, 2)},
        {Cell{uint8_t(Type::Block), 3, 0x1230, 9}, murmur_of_payload(3, 0x1230, 0)},  // head and node
        {Cell{uint8_t(Type::Function), 5, 6, 7}, murmur_of_payload(5, 0, 0)},         // its context
        {Cell{uint8_t(Type::Date), 5, 6, 7}, murmur_of_payload(5, 6, 7)},
        {tuple, hashtable::murmur3(bytes("\x01\x02\x03"), 3)},
        {binary, hashtable::murmur3(bytes("abc"), 3)},
        {money_on_new_line, hashtable::hash_value(money)},
        {Cell{uint8_t(Type::Bitset), 1, 2, 3}, murmur_of_payload(1, 2, 0)},
        {Cell{uint8_t(Type::Handle), 1, 2, 3}, hashtable::hash_int(2)},  // its value: handles equal by it
    };
    for (const Case& c : cases) EXPECT_EQ(hashtable::hash_value(c.value), c.hash) << int(c.value.type());
    EXPECT_NE(hashtable::hash_value(money), hashtable::hash_value(positive_money));
    EXPECT_EQ(hashtable::hash_value(test::float_cell(-0.0)), hashtable::hash_value(test::float_cell(0.0)));
}

// Values that hash by their identity spread over the buckets: bitsets, vectors and routines once all
// hashed to one bucket, which made a hash! of n of them cost n squared.
TEST(HashFunctions, ValuesOfEveryLayoutSpreadOverTheBuckets) {
    constexpr uint32_t kValues = 4096, kBuckets = 1024;
    for (int id = 1; id <= kTypeCount; id++) {
        Type type = Type(id);
        if (!hashes_by_identity(type) || !hashtable::identity_type_q(Cell::of(type))) continue;
        std::vector<bool> used(kBuckets);
        std::unordered_map<uint32_t, int> hashes;
        for (uint32_t k = 1; k <= kValues; k++) {
            Cell value = Cell{uint8_t(type), 64 * k, 64 * k, 64 * k};  // nodes of its own
            uint32_t hash = hashtable::hash_value(value);
            hashes[hash]++;
            used[hash % kBuckets] = true;
        }
        EXPECT_EQ(hashes.size(), kValues) << int(type);
        EXPECT_GT(std::count(used.begin(), used.end(), true), int(kBuckets * 9 / 10)) << int(type);
    }
}

TEST(HashFunctions, WordsHashByTheirCanonicalSymbol) {
    uint32_t hash = hashtable::hash_value(word_cell(Type::Word, "hash-word"));
    EXPECT_EQ(hashtable::hash_value(word_cell(Type::SetWord, "Hash-Word")), hash);
    EXPECT_EQ(hashtable::hash_value(word_cell(Type::Refinement, "HASH-WORD")), hash);
    EXPECT_NE(hashtable::hash_value(word_cell(Type::Word, "hash-words")), hash);
}

TEST(HashFunctions, IdentityTypesAndPowersOfTwo) {
    for (Type t : {Type::Block, Type::Path, Type::Hash, Type::Function, Type::Routine, Type::Object, Type::Map,
                   Type::Event, Type::Bitset, Type::Vector, Type::Context, Type::Native})
        EXPECT_TRUE(hashtable::identity_type_q(Cell{uint8_t(t), 0, 0, 0})) << int(t);
    for (Type t : {Type::Integer, Type::String, Type::File, Type::Binary, Type::Word, Type::Float, Type::Date})
        EXPECT_FALSE(hashtable::identity_type_q(Cell{uint8_t(t), 0, 0, 0})) << int(t);
    const uint32_t powers[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {4096, 4096}, {4097, 8192}};
    for (const auto& [n, p] : powers) EXPECT_EQ(hashtable::round_pow2(n), p) << n;
}

// ---- Tables ----

TEST(HashTable, SizesOfNewTables) {
    struct Case {
        uint32_t size;
        hashtable::Kind kind;
        uint32_t buckets, bound;
    } cases[] = {
        {3, hashtable::kValues, 8, 6},           {0, hashtable::kMapKeys, 8, 6},
        {4000, hashtable::kNames, 16384, 12615}, {3999, hashtable::kNames, 8192, 6307},
        {100, hashtable::kRecords, 256, 197},
    };
    for (const Case& c : cases) {
        Node table = kept(hashtable::init(c.size, nullptr, c.kind, 3));
        EXPECT_EQ(record(table)->buckets, c.buckets) << c.size;
        EXPECT_EQ(record(table)->upper_bound, c.bound) << c.size;
        EXPECT_EQ(record(table)->count, 0u);
        EXPECT_EQ(record(table)->kind, uint32_t(c.kind));
        // Every bucket empty: two state bits 10 each, or a map's (hash, position) pairs of all bits set.
        bool map = c.kind == hashtable::kMapKeys;
        EXPECT_EQ(record(table)->flags == 0, map);
        BufPtr<SeriesBuffer> states = mem::buffer(map ? record(table)->keys : record(table)->flags);
        EXPECT_TRUE(std::all_of(mem::ptr(states->offset),
                                mem::ptr(states->offset + (map ? 8 * c.buckets : c.buckets / 4)),
                                [map](uint8_t b) { return b == (map ? 0xFF : 0xAA); }));
    }
    Node records = kept(hashtable::init(10, nullptr, hashtable::kRecords, 3));
    EXPECT_EQ(record(records)->index, 64u);  // (extra + 1) cells a record
    EXPECT_EQ(record(records)->stamp, collector::node_cycles + 1);
}

// As start-up made it: the tests before this one may have added symbols enough to grow it since.
TEST(HashTable, TheSymbolIndexIsMadeAtStartUp) {
    EXPECT_EQ(test::startup_symbol_index.kind, uint32_t(hashtable::kNames));
    EXPECT_EQ(test::startup_symbol_index.buckets, 16384u);
    EXPECT_EQ(test::startup_symbol_index.upper_bound, 12615u);
    EXPECT_EQ(record(symbol::index)->values, symbol::table);
}

TEST(HashTable, EqualValuesShareOneBucketThroughAChain) {
    Node table = table_over(block_of_ints({7, 8, 7, 7}), hashtable::kValues);
    EXPECT_EQ(record(table)->count, 2u);
    Node chains = record(table)->chains;
    ASSERT_EQ(array::length_q(chains), 1u);
    EXPECT_EQ(array::length_q(array::pick_ptr(chains, 1)), 3u);
    EXPECT_EQ(positions_of(table, int_cell(7)), (std::vector<int32_t>{0, 2, 3}));

    hashtable::delete_(table, 2);
    hashtable::delete_(table, 0);
    EXPECT_EQ(record(table)->count, 2u);  // the bucket keeps its last position
    EXPECT_EQ(find(table, int_cell(7)), 3);
    hashtable::delete_(table, 3);
    EXPECT_EQ(record(table)->count, 1u);
    EXPECT_EQ(record(table)->occupied, 2u);  // deleted, not empty
    EXPECT_EQ(find(table, int_cell(7)), -1);
    EXPECT_EQ(array::pick_ptr(chains, 1), 0u);  // the emptied chain is dropped
    EXPECT_EQ(find(table, int_cell(8)), 1);
}

TEST(HashTable, FindsFromAStartInStepsBothWays) {
    Node table = table_over(block_of_ints({5, 1, 5, 5, 1, 1, 5, 1, 1, 5}), hashtable::kValues);
    struct Case {
        uint32_t start, skip;
        bool reverse, last;
        int32_t found;
    } cases[] = {
        {0, 0, false, false, 0},  {1, 1, false, false, 2}, {4, 0, false, false, 6}, {10, 0, false, false, -1},
        {1, 3, false, false, -1}, {0, 3, false, false, 0}, {3, 3, false, false, 3}, {4, 0, true, false, 9},
        {4, 0, false, true, 3},   {0, 0, false, true, -1}, {7, 2, false, true, 6},  {2, 2, true, false, 9},
    };
    for (const Case& c : cases) {
        Cell key = int_cell(5);
        EXPECT_EQ(
            hashtable::find(table, &key, {.start = c.start, .skip = c.skip, .reverse = c.reverse, .last = c.last}),
            c.found)
            << "start " << c.start << " skip " << c.skip << (c.reverse ? " reverse" : "") << (c.last ? " last" : "");
    }
    Cell float_five = test::float_cell(5.0);  // equal under = but of another type: another key
    EXPECT_EQ(find(table, float_five), -1);
}

TEST(HashTable, MapKeysKeepTheirFirstPlaceAndTheirLastValue) {
    Node block = block_of_ints({1, 10, 2, 20, 1, 30});
    Node table = table_over(block, hashtable::kMapKeys);
    ASSERT_EQ(length(block), 4u);  // the repeated pair left the block
    EXPECT_EQ(at(block, 1).int32(), 30);
    EXPECT_EQ(record(table)->count, 2u);
    EXPECT_EQ(find(table, int_cell(2)), 2);

    hashtable::delete_(table, 0);
    EXPECT_EQ(at(block, 1).header, 0u);  // the value is vacated, the key stays indexed
    EXPECT_EQ(record(table)->count, 1u);
    EXPECT_EQ(find(table, int_cell(1)), 0);
}

TEST(HashTable, MapWordKeysAreFoundAsSetWords) {
    if (!has_compare(Type::SetWord)) GTEST_SKIP() << "set-word! has no compare action yet";
    Node block = new_block(2);
    append(block, word_cell(Type::SetWord, "map-key"));
    append(block, int_cell(1));
    Node table = table_over(block, hashtable::kMapKeys);
    for (Type t : {Type::Word, Type::LitWord, Type::GetWord, Type::SetWord}) {
        Cell key = word_cell(t, "map-key");
        EXPECT_EQ(hashtable::find(table, &key), 0) << int(t);
    }
}

TEST(HashTable, AbcAndABCAreTwoMapKeysOfOneProbeSequence) {
    if (!has_compare(Type::String)) GTEST_SKIP() << "string! has no compare action yet";
    using harness::text_of_unit;
    Node block = new_block(4);
    append(block, text_of_unit(U"abc", 1));
    append(block, int_cell(1));
    append(block, text_of_unit(U"ABC", 1));
    append(block, int_cell(2));
    Node table = table_over(block, hashtable::kMapKeys);
    EXPECT_EQ(record(table)->count, 2u);
    Cell upper = text_of_unit(U"ABC", 1);
    EXPECT_EQ(hashtable::find(table, &upper, {.op = kCompareStrictEqual}), 2);
    Cell key = text_of_unit(U"Abc", 1);
    hashtable::Cursor cursor;
    std::vector<int32_t> equal;
    for (int32_t p; (p = hashtable::get_next(table, &key, cursor)) >= 0;) equal.push_back(p);
    std::sort(equal.begin(), equal.end());
    EXPECT_EQ(equal, (std::vector<int32_t>{0, 2}));
}

// Map keys added as a map adds them: a probe that misses lands where the key's entry goes, or the table
// grows first. Integers and words (compared in the probe) and texts (compared by their action), words
// and texts in two letter cases, against an oracle: == finds only the spelling put, = any spelling of
// it; the table stays sound as it grows.
TEST(HashTable, MapKeysAddedWhereTheirProbeLandedAgreeWithAnOracle) {
    if (!has_compare(Type::String) || !has_compare(Type::SetWord)) GTEST_SKIP() << "no compare actions yet";
    Node block = new_block(2);
    Node table = table_over(block, hashtable::kMapKeys, 1);
    std::unordered_map<std::string, int32_t> positions;  // by the key's kind and spelling
    std::unordered_map<int32_t, std::string> spellings;
    std::mt19937 random(47);
    auto lowered = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(), [](char c) { return char(std::tolower(c)); });
        return text;
    };
    for (int step = 0; step < 3000; step++) {
        uint32_t n = random() % 40;
        std::string prefix = random() % 2 ? "mk" : "MK";
        std::string spelling;
        Cell key;
        switch (random() % 3) {
        case 0:
            spelling = "i" + std::to_string(n);
            key = int_cell(int32_t(n));
            break;
        case 1:
            spelling = "w" + prefix + std::to_string(n);
            key = word_cell(Type::SetWord, prefix + std::to_string(n));
            break;
        default:
            spelling = "t" + prefix + std::to_string(n);
            std::string text = prefix + std::to_string(n);
            key = harness::text_of_unit(std::u32string(text.begin(), text.end()), 1);
        }
        Cell sought = key.is(Type::SetWord) ? harness::with_type(key, Type::Word) : key;
        hashtable::KeyProbe exact = hashtable::probe_key(table, &sought, kCompareStrictEqual);
        auto put = positions.find(spelling);
        ASSERT_EQ(exact.position, put == positions.end() ? -1 : put->second) << spelling;
        int32_t any_case = hashtable::probe_key(table, &sought, kCompareEqual).position;
        bool known = std::any_of(positions.begin(), positions.end(),
                                 [&](const auto& entry) { return lowered(entry.first) == lowered(spelling); });
        ASSERT_EQ(any_case >= 0, known) << spelling;
        if (any_case >= 0) {
            EXPECT_EQ(lowered(spellings[any_case]), lowered(spelling));
        }
        if (exact.position < 0 && random() % 2) {
            uint32_t position = append(block, key);
            append(block, int_cell(step));
            hashtable::add_key(table, exact, position);
            positions[spelling] = int32_t(position);
            spellings[int32_t(position)] = spelling;
        }
        if (step % 100 == 0) {
            ASSERT_EQ(hashtable::fault(table), "") << step;
        }
    }
    EXPECT_EQ(record(table)->count, positions.size());
    EXPECT_GE(record(table)->buckets, 256u);
}

TEST(HashTable, AFullTableDropsItsDeletedBucketsOrGrows) {
    // kValues: six values fill eight buckets; five of them leave the block.
    Node values = table_over(block_of_ints({1, 2, 3, 4, 5, 6}), hashtable::kValues, 3);
    remove_cells(values, 0, 5);
    EXPECT_EQ(record(values)->occupied, 6u);
    append(record(values)->values, int_cell(7));
    EXPECT_TRUE(hashtable::put_key(values, 1));  // rebuilt from the block
    EXPECT_EQ(record(values)->buckets, 16u);
    expect_indexes(values, {6, 7});

    // kMapKeys: emptied entries keep their buckets, and a full map always doubles.
    Node map = table_over(block_of_ints({1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}), hashtable::kMapKeys, 3);
    for (uint32_t key = 0; key < 10; key += 2) hashtable::delete_(map, key);
    EXPECT_EQ(record(map)->count, 1u);
    append(record(map)->values, int_cell(7));
    append(record(map)->values, int_cell(0));
    EXPECT_FALSE(hashtable::put_key(map, 12));
    EXPECT_EQ(record(map)->buckets, 16u);
    EXPECT_EQ(record(map)->occupied, 7u);
    for (int32_t key = 1; key <= 7; key++) EXPECT_EQ(find(map, int_cell(key)), 2 * (key - 1)) << key;

    // kRecords: a re-hash at the same size drops the deleted records.
    Node records = kept(hashtable::init(3, nullptr, hashtable::kRecords, 1));
    for (uint32_t key = 1; key <= 6; key++) hashtable::put_block_key(records, key);
    for (uint32_t key = 1; key <= 5; key++) hashtable::delete_key(records, key);
    hashtable::put_block_key(records, 7);
    EXPECT_EQ(record(records)->buckets, 8u);
    EXPECT_EQ(record(records)->occupied, 2u);
    EXPECT_EQ(mem::buffer(record(records)->values)->used_bytes(), 2 * 32u);  // the live record and the new one
    EXPECT_TRUE(hashtable::get(records, 6));
    EXPECT_FALSE(hashtable::get(records, 5));
}

TEST(HashTable, ContextWordTables) {
    Node words = new_block(4);
    Node table = table_over(words, hashtable::kNames, 4);
    const Node kContext = _context::global;  // any context: the table only stores it in the words it makes
    int32_t position = -2;
    EXPECT_EQ(hashtable::context_lookup(table, symbol_id("ctx-a"), false, 0, position), -1);
    EXPECT_EQ(position, -2);

    std::vector<std::string> names;
    for (int i = 0; i < 40; i++) names.push_back("ctx-word-" + std::to_string(i));
    for (size_t i = 0; i < names.size(); i++) {
        EXPECT_EQ(hashtable::context_lookup(table, symbol_id(names[i]), false, kContext, position), -1);
        EXPECT_EQ(position, int32_t(i));
        EXPECT_EQ(at(words, uint32_t(i)).context(), kContext);
        EXPECT_EQ(at(words, uint32_t(i)).position(), int32_t(i));
    }
    EXPECT_EQ(record(table)->buckets, 256u);  // 8 buckets, full with 6 words, grew 32-fold
    for (size_t i = 0; i < names.size(); i++)
        EXPECT_EQ(hashtable::context_lookup(table, symbol_id(names[i]), false, 0, position), int32_t(i));
    EXPECT_EQ(hashtable::context_lookup(table, symbol_id(names[5]), false, kContext, position), 5);
    EXPECT_EQ(position, 5);

    uint32_t variant = symbol_id("CTX-WORD-7");
    EXPECT_EQ(hashtable::context_lookup(table, variant, true, 0, position), 7);
    EXPECT_EQ(hashtable::context_lookup(table, variant, false, 0, position), -1);

    // A re-hash at the same number of buckets keeps every word.
    hashtable::grow_values(table, record(table)->buckets - 1);
    EXPECT_EQ(record(table)->buckets, 256u);
    for (size_t i = 0; i < names.size(); i++)
        EXPECT_EQ(hashtable::context_lookup(table, symbol_id(names[i]), false, 0, position), int32_t(i));
}

TEST(HashTable, RecordTablesAgreeWithAnOracle) {
    Node table = kept(hashtable::init(4, nullptr, hashtable::kRecords, 1));
    std::unordered_map<uint32_t, int32_t> oracle;
    std::mt19937 random(20240601);
    for (int step = 0; step < 6000; step++) {
        uint32_t key = random() % 700;
        switch (random() % 3) {
        case 0: {
            BufPtr<Cell> area = hashtable::put_block_key(table, key);
            EXPECT_EQ(area->header, uint32_t(Type::Unset));
            *area = int_cell(step);
            oracle[key] = step;
            break;
        }
        case 1: {
            bool present = oracle.erase(key) > 0;
            EXPECT_EQ(bool(hashtable::delete_key(table, key)), present) << key;
            break;
        }
        default: {
            BufPtr<Cell> area = hashtable::get(table, key);
            auto it = oracle.find(key);
            ASSERT_EQ(bool(area), it != oracle.end()) << key;
            if (area) {
                EXPECT_EQ(area->int32(), it->second) << key;
            }
        }
        }
        ASSERT_EQ(record(table)->count, oracle.size());
    }
    EXPECT_GT(record(table)->buckets, 256u);
}

TEST(HashTable, ValueTablesAgreeWithTheirBlockThroughEdits) {
    Node table = table_over(new_block(4), hashtable::kValues, 4);
    std::vector<int32_t> oracle;
    std::mt19937 random(7);
    for (int step = 0; step < 4000; step++) {
        int32_t value = int32_t(random() % 150);
        uint32_t where = oracle.empty() ? 0 : random() % oracle.size();
        switch (oracle.empty() ? 0 : random() % 4) {
        case 0:
        case 1:
            hashtable::put(table, append(record(table)->values, int_cell(value)));
            oracle.push_back(value);
            break;
        case 2:
            insert_cell(table, where, int_cell(value));
            oracle.insert(oracle.begin() + where, value);
            break;
        default: {
            uint32_t count = std::min<uint32_t>(1 + random() % 3, uint32_t(oracle.size()) - where);
            remove_cells(table, where, count);
            oracle.erase(oracle.begin() + where, oracle.begin() + where + count);
        }
        }
        if (step % 250 == 0) expect_indexes(table, oracle);
    }
    expect_indexes(table, oracle);
}

TEST(HashTable, ValueTablesAgreeWithTheirBlockThroughEditsNearTheHead) {
    Node table = table_over(new_block(4), hashtable::kValues, 4);
    std::vector<int32_t> oracle;
    std::mt19937 random(11);
    auto edit = [&](bool removing) {
        uint32_t where = oracle.empty() ? 0 : random() % std::min<size_t>(oracle.size(), 5);
        if (removing && !oracle.empty()) {
            uint32_t count = std::min<uint32_t>(1 + random() % 3, uint32_t(oracle.size()) - where);
            remove_cells_at_head(table, where, count);
            oracle.erase(oracle.begin() + where, oracle.begin() + where + count);
        } else {
            int32_t value = int32_t(random() % 150);
            insert_cell_at_head(table, where, int_cell(value));
            oracle.insert(oracle.begin() + where, value);
        }
    };
    // A long block first, then as many removals as insertions, then its end: the base grows past
    // what a rebuild takes back to 0, and insertions take it down again.
    for (int step = 0; step < 3000; step++) hashtable::put(table, append(record(table)->values, int_cell(step % 150)));
    oracle.resize(3000);
    for (int step = 0; step < 3000; step++) oracle[size_t(step)] = step % 150;
    for (int step = 0; step < 6000; step++) {
        edit(step % 3 == 0 ? false : step < 4500 || random() % 2);
        if (step % 500 == 0) expect_indexes(table, oracle);
    }
    expect_indexes(table, oracle);
}

TEST(HashTable, MovedRangesKeepTheirEntries) {
    struct Case {
        uint32_t destination, first, count;
        std::vector<int32_t> after;
    } cases[] = {
        {5, 1, 2, {1, 1, 2, 3, 2, 3, 4, 5}},  // right: the two cells end at the destination
        {0, 4, 2, {2, 3, 1, 2, 3, 1, 4, 5}},  // left
        {2, 1, 3, {1, 2, 3, 1, 2, 3, 4, 5}},  // into itself: nothing moves
    };
    for (const Case& c : cases) {
        Node block = block_of_ints({1, 2, 3, 1, 2, 3, 4, 5});
        Node table = table_over(block, hashtable::kValues);
        for (size_t p = 0; p < c.after.size(); p++)
            mem::ptr<Cell>(mem::buffer(block)->offset)[p] = int_cell(c.after[p]);
        hashtable::move_range(table, c.destination, c.first, c.count);
        expect_indexes(table, c.after);
    }
}

TEST(HashTable, RefreshingMoreThan30000PositionsGivesUp) {
    Node table = table_over(block_of_ints({1, 2, 3}), hashtable::kValues);
    EXPECT_FALSE(hashtable::refresh_range(table, 1, 0, 0, false));
    EXPECT_TRUE(hashtable::refresh_range(table, 1, 0, 30001, true));
    expect_indexes(table, {1, 2, 3});
}

TEST(HashTable, CopiesAreIndependent) {
    Node block = block_of_ints({4, 5, 4, 6, 4});
    Node table = table_over(block, hashtable::kValues);
    Node twin = kept(hashtable::copy(table, alloc::copy_series(block)));
    EXPECT_NE(record(twin)->values, record(table)->values);
    remove_cells(table, 0, 3);
    expect_indexes(table, {6, 4});
    expect_indexes(twin, {4, 5, 4, 6, 4});
}

TEST(HashTable, ClearForgetsEverything) {
    Node values = table_over(block_of_ints({1, 1, 2}), hashtable::kValues);
    Node records = kept(hashtable::init(4, nullptr, hashtable::kRecords, 1));
    hashtable::put_block_key(records, 9);
    for (Node table : {values, records}) {
        hashtable::clear(table);
        EXPECT_EQ(record(table)->count, 0u);
        EXPECT_EQ(record(table)->occupied, 0u);
        EXPECT_EQ(mem::buffer(record(table)->values)->length(), 0u);
    }
    EXPECT_EQ(find(values, int_cell(1)), -1);
    EXPECT_FALSE(hashtable::get(records, 9));
    hashtable::put(values, append(record(values)->values, int_cell(1)));
    expect_indexes(values, {1});
}

TEST(HashTable, TablesHashedFromNodesAreRebuiltAfterNodeCompaction) {
    Node block = new_block(3);
    for (int32_t i = 0; i < 3; i++) append(block, block_cell(block_of_ints({i})));
    Node values = table_over(block, hashtable::kValues);
    Node records = kept(hashtable::init(4, nullptr, hashtable::kRecords, 1));
    *hashtable::put_block_key(records, 0x1234) = int_cell(5);
    EXPECT_EQ(record(values)->stamp, collector::node_cycles + 1);
    uint32_t flags_before = record(values)->flags;

    NodeCycles compacted(collector::node_cycles + 1);
    collector::collecting = true;  // never during a collection
    EXPECT_EQ(find(values, at(block, 1)), 1);
    EXPECT_EQ(record(values)->flags, flags_before);
    collector::collecting = false;
    EXPECT_EQ(find(values, at(block, 2)), 2);
    EXPECT_NE(record(values)->flags, flags_before);
    EXPECT_EQ(record(values)->stamp, collector::node_cycles + 1);
    EXPECT_EQ(hashtable::get(records, 0x1234)->int32(), 5);
    EXPECT_EQ(record(records)->stamp, collector::node_cycles + 1);
}

// ---- Symbols ----

TEST(SymbolTable, CaseVariantsPointToTheFirstSpellingMet) {
    Node table = table_over(new_block(4), hashtable::kNames, 4);
    auto lookup = [&](std::string_view name, bool ignore_case = false) {
        return hashtable::symbol_lookup(table, bytes(name), uint32_t(name.size()), ignore_case);
    };
    auto alias_of = [&](uint32_t id) { return at(record(table)->values, id - 1).alias(); };
    uint32_t foo = lookup("foo"), Foo = lookup("Foo"), FOO = lookup("FOO");
    EXPECT_EQ(std::vector<uint32_t>({foo, Foo, FOO}), std::vector<uint32_t>({1, 2, 3}));
    EXPECT_EQ(alias_of(foo), -1);
    EXPECT_EQ(alias_of(Foo), int32_t(foo));
    EXPECT_EQ(alias_of(FOO), int32_t(foo));
    EXPECT_EQ(lookup("Foo"), Foo);
    EXPECT_EQ(lookup("fOO", true), foo);  // case ignored: the first spelling, nothing added
    EXPECT_EQ(length(record(table)->values), 3u);
    EXPECT_NE(lookup("\xC3\xA9t\xC3\xA9"), lookup("\xC3\x89t\xC3\x89"));  // only ASCII letters fold
    EXPECT_EQ(alias_of(lookup("\xC3\x89t\xC3\x89")), -1);

    for (int i = 0; i < 50; i++) lookup("grow-" + std::to_string(i));  // many times the first buckets
    EXPECT_GT(record(table)->buckets, 8u);
    EXPECT_EQ(lookup("FOO"), FOO);
    EXPECT_EQ(alias_of(lookup("fOo")), int32_t(foo));
    EXPECT_EQ(lookup("grow-17"), 6u + 17u);

    BufPtr<SeriesBuffer> name = mem::buffer(at(record(table)->values, foo - 1).utf8_name());
    EXPECT_EQ(name->used_bytes(), 3u);
    EXPECT_EQ(std::string_view(mem::ptr<char>(name->offset), 4), std::string_view("foo\0", 4));
}

TEST(SymbolTable, TheGlobalTableResolvesVariants) {
    uint32_t canonical = symbol_id("symbol-table-test");
    uint32_t variant = symbol_id("Symbol-Table-Test");
    EXPECT_NE(canonical, variant);
    EXPECT_EQ(symbol::resolve(canonical), canonical);
    EXPECT_EQ(symbol::resolve(variant), canonical);
    EXPECT_EQ(at(symbol::table, canonical - 1).type(), Type::Symbol);
}

// ---- The pointer map ----

TEST(PtrMap, AgreesWithAnOracleAndShrinks) {
    ptr_map::PtrMap* map = ptr_map::make(0);
    EXPECT_EQ(map->buckets, 8u);
    EXPECT_EQ(map->upper_bound, 6u);
    std::unordered_map<uint32_t, uint32_t> oracle;
    std::mt19937 random(99);
    for (int step = 0; step < 5000; step++) {
        uint32_t key = (random() % 3000) * 16;  // node-like addresses
        if (random() % 2) {
            EXPECT_EQ(ptr_map::put(map, key, uint32_t(step)), oracle.count(key) > 0);
            oracle[key] = uint32_t(step);
        } else {
            uint32_t* value = ptr_map::get(map, key);
            ASSERT_EQ(value != nullptr, oracle.count(key) > 0) << key;
            if (value) {
                EXPECT_EQ(*value, oracle[key]);
            }
        }
    }
    EXPECT_EQ(map->count, oracle.size());
    uint32_t buckets = map->buckets;
    ptr_map::resize(map, 4);  // too small for the entries: refused
    EXPECT_EQ(map->buckets, buckets);
    ptr_map::destroy(map);

    map = ptr_map::make(1000);
    for (uint32_t key = 1; key <= 10; key++) ptr_map::put(map, key, key * 2);
    ptr_map::resize(map, 16);
    EXPECT_EQ(map->buckets, 16u);
    for (uint32_t key = 1; key <= 10; key++) EXPECT_EQ(*ptr_map::get(map, key), key * 2);
    EXPECT_EQ(ptr_map::get(map, 11), nullptr);
    ptr_map::destroy(map);
    ptr_map::destroy(nullptr);
}
