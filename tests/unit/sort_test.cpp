#include "runtime/sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/virtual_memory.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/throw.h"
#include "test_support.h"

namespace oka {
namespace {

// --- Test elements ---

// Each element is `width` bytes: its key, big-endian in the first `key_bytes`, then its position in
// the input, so that elements with equal keys stay distinguishable.
struct Layout {
    uint32_t width;
    uint32_t key_bytes;
};

// Byte-wise widths and word-wise widths, with keys short enough to repeat.
constexpr Layout kLayouts[] = {{1, 1}, {3, 1}, {4, 2}, {16, 4}};
constexpr Layout kWideKeys = {8, 4};

struct Elements {
    Layout layout;
    std::vector<uint8_t> bytes;

    uint32_t count() const { return uint32_t(bytes.size() / layout.width); }
    uint8_t* data() { return bytes.data(); }
    uint8_t* end() { return bytes.data() + bytes.size(); }
    uint8_t* at(uint32_t i) { return bytes.data() + size_t(i) * layout.width; }
    std::string element(uint32_t i) const {
        return std::string(bytes.begin() + i * layout.width, bytes.begin() + (i + 1) * layout.width);
    }
    std::string key(uint32_t i) const { return element(i).substr(0, layout.key_bytes); }
};

Elements make_elements(Layout layout, const std::vector<uint32_t>& keys) {
    Elements e{layout, std::vector<uint8_t>(keys.size() * layout.width)};
    for (uint32_t i = 0; i < keys.size(); ++i) {
        uint8_t* p = e.at(i);
        for (uint32_t k = 0; k < layout.key_bytes; ++k) p[k] = uint8_t(keys[i] >> (8 * (layout.key_bytes - 1 - k)));
        for (uint32_t k = layout.key_bytes, j = 0; k < layout.width; ++k, ++j)
            p[k] = uint8_t(j < 4 ? i >> (8 * j) : i * 31 + j);
    }
    return e;
}

std::vector<std::string> split(const Elements& e) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < e.count(); ++i) out.push_back(e.element(i));
    return out;
}

std::vector<std::string> keys_of(const Elements& e) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < e.count(); ++i) out.push_back(e.key(i));
    return out;
}

// The oracle for merge_sort: the elements in std::stable_sort's order.
std::vector<std::string> stable_sorted(const Elements& e) {
    std::vector<std::string> v = split(e);
    std::stable_sort(v.begin(), v.end(), [&](const std::string& a, const std::string& b) {
        return a.compare(0, e.layout.key_bytes, b, 0, e.layout.key_bytes) < 0;
    });
    return v;
}

std::vector<std::string> sorted_keys(const Elements& e) {
    std::vector<std::string> keys = keys_of(e);
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool is_permutation_of(const Elements& result, const Elements& input) {
    std::vector<std::string> a = split(result), b = split(input);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// --- Comparisons ---

// A three-way memcmp of the keys: its results range over all ints, not only -1, 0 and 1.
int by_key(const void* a, const void* b, intptr_t key_bytes, intptr_t) { return std::memcmp(a, b, size_t(key_bytes)); }

// Answers 1 when a sorts after b and 0 otherwise: the sorts must not read anything into the sign.
int after_only(const void* a, const void* b, intptr_t key_bytes, intptr_t) {
    return std::memcmp(a, b, size_t(key_bytes)) > 0;
}

// Counts the comparisons, notes those that see an element outside the array (one parked in the
// merge buffer), and throws on the call numbered `throw_at` when it is not 0.
struct Tally {
    uint32_t key_bytes;
    const uint8_t* base;
    const uint8_t* end;
    uint64_t throw_at = 0;
    uint64_t calls = 0;
    uint64_t parked_first = 0;
    uint64_t parked_second = 0;
};

int tallied(const void* a, const void* b, intptr_t tally_address, intptr_t) {
    Tally& t = *reinterpret_cast<Tally*>(tally_address);
    auto outside = [&](const void* p) { return p < t.base || p >= t.end; };
    if (++t.calls == t.throw_at) throw Throw{kThrowError};
    t.parked_first += outside(a);
    t.parked_second += outside(b);
    return by_key(a, b, t.key_bytes, 0);
}

using Sort = void (*)(void*, uint32_t, uint32_t, intptr_t, intptr_t, SortCompare);

struct NamedSort {
    const char* name;
    Sort sort;
};
constexpr NamedSort kSorts[] = {{"merge_sort", sort::merge_sort}, {"qsort", sort::qsort}};

uint64_t tally_sort(Sort sort_fn, Elements& e, Tally& t) {
    t.base = e.data();
    t.end = e.end();
    sort_fn(e.data(), e.count(), e.layout.width, reinterpret_cast<intptr_t>(&t), 0, tallied);
    return t.calls;
}

// --- Inputs ---

using Keys = std::vector<uint32_t>;

template <class KeyAt>
Keys generate(uint32_t n, KeyAt key_at) {
    Keys k(n);
    for (uint32_t i = 0; i < n; ++i) k[i] = key_at(i);
    return k;
}

Keys random_keys(uint32_t n, std::mt19937& rng) {
    return generate(n, [&](uint32_t) { return uint32_t(rng()); });
}
Keys few_keys(uint32_t n, std::mt19937& rng) {
    return generate(n, [&](uint32_t) { return uint32_t(rng() % 4); });
}
Keys ascending(uint32_t n, std::mt19937&) {
    return generate(n, [](uint32_t i) { return i; });
}
Keys descending(uint32_t n, std::mt19937&) {
    return generate(n, [n](uint32_t i) { return n - i; });
}
Keys all_equal(uint32_t n, std::mt19937&) { return Keys(n, 7); }
Keys organ_pipe(uint32_t n, std::mt19937&) {
    return generate(n, [n](uint32_t i) { return std::min(i, n - 1 - i); });
}
Keys sawtooth(uint32_t n, std::mt19937&) {
    return generate(n, [](uint32_t i) { return i % 37; });
}
Keys descending_pairs(uint32_t n, std::mt19937&) {
    return generate(n, [n](uint32_t i) { return (n - i) / 2; });
}

// Swaps about one key in fifty with a random other one.
Keys disturbed(Keys k, std::mt19937& rng) {
    for (size_t i = 0; i < k.size() / 50; ++i) std::swap(k[rng() % k.size()], k[rng() % k.size()]);
    return k;
}
Keys mostly_ascending(uint32_t n, std::mt19937& rng) { return disturbed(ascending(n, rng), rng); }
Keys mostly_descending(uint32_t n, std::mt19937& rng) { return disturbed(descending(n, rng), rng); }

// Ascending runs, some of a few keys and some of hundreds, each starting at a random key.
Keys mixed_runs(uint32_t n, std::mt19937& rng) {
    uint32_t run_left = 0, key = 0;
    return generate(n, [&](uint32_t) {
        if (run_left == 0) {
            run_left = 1 + rng() % (rng() % 2 ? 5 : 300);
            key = rng() % 1000;
        }
        --run_left;
        return key += rng() % 3;
    });
}

// Strictly descending blocks of ten keys, each reversed whole by the run scan.
Keys descending_blocks(uint32_t n, std::mt19937&) {
    return generate(n, [](uint32_t i) { return 9 - i % 10; });
}
// One strictly descending run over the first half, then keys it holds again.
Keys descending_then_repeats(uint32_t n, std::mt19937&) {
    return generate(n, [n](uint32_t i) { return i < n / 2 ? n / 2 - i : i % 7; });
}
Keys alternating(uint32_t n, std::mt19937&) {
    return generate(n, [](uint32_t i) { return i % 2; });
}

struct Pattern {
    const char* name;
    Keys (*make)(uint32_t n, std::mt19937& rng);
};

const Pattern kPatterns[] = {
    {"random", random_keys},
    {"few keys", few_keys},
    {"ascending", ascending},
    {"descending", descending},
    {"all equal", all_equal},
    {"organ pipe", organ_pipe},
    {"sawtooth", sawtooth},
    {"mostly ascending", mostly_ascending},
    {"mostly descending", mostly_descending},
    {"descending pairs", descending_pairs},
    {"mixed runs", mixed_runs},
};

constexpr uint32_t kSizes[] = {0, 1, 2, 3, 5, 7, 8, 9, 23, 24, 25, 47, 48, 49, 97, 98, 255, 256, 257, 1000, 1025, 4099};

// Runs `check` on every layout, size and pattern.
template <class Check>
void for_each_input(Check check) {
    std::mt19937 rng(2024);
    for (Layout layout : kLayouts)
        for (uint32_t n : kSizes)
            for (const Pattern& pattern : kPatterns) {
                SCOPED_TRACE(testing::Message()
                             << "width " << layout.width << ", " << n << " elements, " << pattern.name);
                check(make_elements(layout, pattern.make(n, rng)));
            }
}

// --- Building blocks ---

TEST(SortSwapBytes, ExchangesTwoElementsAndNothingElse) {
    struct Case {
        uint32_t width;
        bool bytewise;
    };
    for (Case c : {Case{1, true}, Case{3, true}, Case{4, true}, Case{4, false}, Case{16, true}, Case{16, false}}) {
        SCOPED_TRACE(testing::Message() << "width " << c.width << (c.bytewise ? " bytewise" : " wordwise"));
        std::vector<uint8_t> bytes(3 * c.width);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i + 1);
        std::vector<uint8_t> expected = bytes;
        std::swap_ranges(expected.begin(), expected.begin() + c.width, expected.begin() + 2 * c.width);
        sort::swap_bytes(&bytes[0], &bytes[2 * c.width], c.width, c.bytewise);
        EXPECT_EQ(bytes, expected);
    }
}

// Keys in, then the length of the run found and the input positions in the order left behind.
struct RunCase {
    Keys keys;
    uint32_t run_length;
    std::vector<uint32_t> order;
};

TEST(SortFindRun, ExtendsAscendingRunsAndReversesStrictlyDescendingOnes) {
    const RunCase cases[] = {
        {{4}, 1, {0}},
        {{1, 2, 2, 3, 0}, 4, {0, 1, 2, 3, 4}},
        {{2, 2, 2}, 3, {0, 1, 2}},
        {{2, 1}, 2, {1, 0}},
        {{4, 3, 2, 1}, 4, {3, 2, 1, 0}},
        {{5, 4, 3, 1, 2}, 4, {3, 2, 1, 0, 4}},
        {{3, 2, 2, 1}, 2, {1, 0, 2, 3}},  // an equal pair ends a descending run: reversing it would swap them
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case with " << c.keys.size() << " keys, first " << c.keys[0]);
        Elements e = make_elements({3, 1}, c.keys);
        const Elements input = e;
        uint8_t* run_end = sort::find_run(e.data(), e.end(), 3, 1, 0, by_key);
        EXPECT_EQ(run_end, e.at(c.run_length));
        for (uint32_t i = 0; i < c.order.size(); ++i) EXPECT_EQ(e.element(i), input.element(c.order[i])) << "at " << i;
    }
}

TEST(SortMerge, MergesStablyWhicheverRunIsParked) {
    struct Case {
        Keys left, right;
    };
    const Case cases[] = {
        {{1, 3, 5}, {2, 2, 4, 6, 8}},  // left parked
        {{1, 2, 4, 6, 8}, {2, 3}},     // right parked
        {{5, 5}, {5, 5, 5}},           // equal keys, left parked
        {{5, 5, 5}, {5, 5}},           // equal keys, right parked
        {{1, 2}, {3, 4}},              // in order already
        {{7, 8, 9}, {1, 2}},           // the whole right run goes first
        {{1}, {1}},                    // one element each
        {{9}, {1, 2, 3, 9}},           // the parked element goes after its equal
    };
    for (const Case& c : cases) {
        Keys keys = c.left;
        keys.insert(keys.end(), c.right.begin(), c.right.end());
        SCOPED_TRACE(testing::Message() << c.left.size() << " + " << c.right.size() << " keys, first " << keys[0]);
        for (Layout layout : kLayouts) {
            Elements e = make_elements(layout, keys);
            const std::vector<std::string> expected = stable_sorted(e);
            // The buffer holds exactly the shorter run; guard bytes behind it must stay untouched.
            const size_t parked = std::min(c.left.size(), c.right.size()) * layout.width;
            std::vector<uint8_t> temp(parked + 64, 0xEE);
            sort::merge(e.data(), e.at(uint32_t(c.left.size())), e.end(), temp.data(), layout.width, layout.key_bytes,
                        0, by_key);
            EXPECT_EQ(split(e), expected) << "width " << layout.width;
            EXPECT_EQ(std::count(temp.begin() + parked, temp.end(), 0xEE), 64);
        }
    }
}

// --- merge_sort ---

TEST(SortMergeSort, MatchesStableSortWithEitherKindOfComparison) {
    for (SortCompare compare : {by_key, after_only})
        for_each_input([&](Elements e) {
            const std::vector<std::string> expected = stable_sorted(e);
            sort::merge_sort(e.data(), e.count(), e.layout.width, e.layout.key_bytes, 0, compare);
            ASSERT_EQ(split(e), expected);
        });
}

TEST(SortMergeSort, KeepsEqualKeysInInputOrder) {
    const Pattern cases[] = {
        {"strictly descending blocks", descending_blocks},
        {"descending run, then its keys again", descending_then_repeats},
        {"descending pairs", descending_pairs},
        {"alternating", alternating},
        {"few keys", few_keys},
    };
    std::mt19937 rng(7);
    for (const Pattern& pattern : cases)
        for (uint32_t n : {20u, 100u, 3000u}) {
            SCOPED_TRACE(testing::Message() << pattern.name << ", " << n << " elements");
            Elements e = make_elements(kWideKeys, pattern.make(n, rng));
            sort::merge_sort(e.data(), n, kWideKeys.width, kWideKeys.key_bytes, 0, by_key);
            // Keys ascend, and among equal keys the input positions (the bytes after the key) ascend.
            for (uint32_t i = 1; i < n; ++i) {
                uint32_t previous_position, position;
                std::memcpy(&previous_position, e.at(i - 1) + 4, 4);
                std::memcpy(&position, e.at(i) + 4, 4);
                ASSERT_LE(e.key(i - 1), e.key(i)) << "at " << i;
                if (e.key(i - 1) == e.key(i)) {
                    ASSERT_LT(previous_position, position) << "at " << i;
                }
            }
        }
}

// Short natural runs grow to 24 elements by insertion before any merge. A merge parks the shorter run
// in the buffer, so a comparison that sees a parked element shows which run was parked.
TEST(SortMergeSort, GrowsShortRunsToTwentyFourBeforeMerging) {
    struct Case {
        uint32_t count;
        Pattern pattern;
        bool parked_first, parked_second;
    };
    const Case cases[] = {
        {23, {"random", random_keys}, false, false},     // one run made by insertion only
        {23, {"descending", descending}, false, false},  // one natural run, reversed
        {24, {"random", random_keys}, false, false},
        {25, {"ascending", ascending}, false, false},  // one natural run
        {25, {"random", random_keys}, false, true},    // runs of 24 and 1: the single element is parked
        {48, {"random", random_keys}, true, false},    // two runs of 24: the left one is parked
    };
    std::mt19937 rng(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " elements, " << c.pattern.name);
        Elements e = make_elements(kWideKeys, c.pattern.make(c.count, rng));
        const std::vector<std::string> expected = stable_sorted(e);
        Tally t{kWideKeys.key_bytes, nullptr, nullptr};
        tally_sort(sort::merge_sort, e, t);
        EXPECT_EQ(split(e), expected);
        EXPECT_EQ(t.parked_first > 0, c.parked_first);
        EXPECT_EQ(t.parked_second > 0, c.parked_second);
    }
}

// The merge order keeps the total work near n log2 n even when run lengths are very uneven.
TEST(SortMergeSort, ComparisonCountStaysNearNLogN) {
    const uint32_t n = 100000;
    for (const Pattern& pattern : kPatterns) {
        SCOPED_TRACE(pattern.name);
        std::mt19937 rng(5);
        Elements e = make_elements(kWideKeys, pattern.make(n, rng));
        Tally t{kWideKeys.key_bytes, nullptr, nullptr};
        EXPECT_LE(tally_sort(sort::merge_sort, e, t), uint64_t(1.2 * n * std::log2(n)));
    }
}

// --- qsort ---

TEST(SortQsort, MatchesSortWithEitherKindOfComparison) {
    for (SortCompare compare : {by_key, after_only})
        for_each_input([&](Elements e) {
            const Elements input = e;
            sort::qsort(e.data(), e.count(), e.layout.width, e.layout.key_bytes, 0, compare);
            ASSERT_EQ(keys_of(e), sorted_keys(input));
            ASSERT_TRUE(is_permutation_of(e, input));
        });
}

// Every shape costs O(n log n) comparisons; equal keys and nearly sorted inputs cost less.
TEST(SortQsort, ComparisonCountFitsEachShape) {
    const uint32_t n = 100000;
    const double log_n = std::log2(n);
    struct Case {
        Pattern pattern;
        double per_element;  // comparisons allowed per element
    };
    const Case cases[] = {
        {{"random", random_keys}, 2 * log_n},
        {{"organ pipe", organ_pipe}, 2 * log_n},
        {{"sawtooth", sawtooth}, 2 * log_n},
        {{"descending pairs", descending_pairs}, 2 * log_n},
        {{"mixed runs", mixed_runs}, 2 * log_n},
        {{"ascending", ascending}, 1.3 * log_n},  // even splits, nothing moves
        {{"descending", descending}, 1.3 * log_n},
        {{"mostly ascending", mostly_ascending}, 1.3 * log_n},
        {{"mostly descending", mostly_descending}, 1.3 * log_n},
        {{"few keys", few_keys}, 8},    // a three-way pass per key, or so
        {{"all equal", all_equal}, 6},  // one three-way pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern.name);
        std::mt19937 rng(5);
        Elements e = make_elements(kWideKeys, c.pattern.make(n, rng));
        Tally t{kWideKeys.key_bytes, nullptr, nullptr};
        EXPECT_LE(tally_sort(sort::qsort, e, t), uint64_t(c.per_element * n));
    }
}

// A comparison that fixes the values of the elements only as it is asked about them, always so that
// the pivot candidate ends up small: it drives a quicksort without a fallback to quadratic time.
struct Adversary {
    std::vector<uint32_t> value;
    uint32_t gas;  // the value of every element not yet fixed: above all fixed ones
    uint32_t fixed = 0;
    uint32_t candidate = 0;
    uint64_t calls = 0;

    explicit Adversary(uint32_t n) : value(n, n), gas(n) {}

    int compare(uint32_t x, uint32_t y) {
        ++calls;
        if (value[x] == gas && value[y] == gas) value[x == candidate ? x : y] = fixed++;
        if (value[x] == gas)
            candidate = x;
        else if (value[y] == gas)
            candidate = y;
        return value[x] > value[y] ? 1 : value[x] < value[y] ? -1 : 0;
    }

    static int call(const void* a, const void* b, intptr_t self, intptr_t) {
        uint32_t x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        return reinterpret_cast<Adversary*>(self)->compare(x, y);
    }
};

TEST(SortQsort, AdversaryCannotForceQuadraticTime) {
    for (uint32_t n : {1000u, 20000u}) {
        SCOPED_TRACE(testing::Message() << n << " elements");
        Adversary adversary(n);
        std::vector<uint32_t> items(n);
        for (uint32_t i = 0; i < n; ++i) items[i] = i;
        sort::qsort(items.data(), n, 4, reinterpret_cast<intptr_t>(&adversary), 0, Adversary::call);
        EXPECT_LE(adversary.calls, uint64_t(8 * n * std::log2(n)));
        for (uint32_t i = 1; i < n; ++i) ASSERT_LT(adversary.value[items[i - 1]], adversary.value[items[i]]);
    }
}

// --- Faults ---

constexpr size_t kGuard = 256;

// Answers at random, and counts the element addresses that fall into the guard zones around the array
// or off an element boundary inside it (the merge buffer lies elsewhere: addresses beyond the guard
// zones are not counted).
struct Chaos {
    std::mt19937 rng;
    const std::vector<uint8_t>& guarded;  // the array, with kGuard bytes on either side
    uint32_t width;
    uint64_t strays = 0;

    void check(const void* element) {
        const auto p = static_cast<const uint8_t*>(element);
        const uint8_t* base = guarded.data() + kGuard;
        const uint8_t* end = guarded.data() + guarded.size() - kGuard;
        const bool near = p >= guarded.data() && p < guarded.data() + guarded.size();
        if (near && (p < base || p >= end || (p - base) % width != 0)) ++strays;
    }

    static int call(const void* a, const void* b, intptr_t self, intptr_t) {
        Chaos& c = *reinterpret_cast<Chaos*>(self);
        c.check(a);
        c.check(b);
        return int(c.rng() % 5) - 2;
    }
};

TEST(SortFaults, InconsistentComparisonStaysInsideTheArray) {
    std::mt19937 rng(99);
    for (const NamedSort& s : kSorts)
        for (Layout layout : kLayouts)
            for (uint32_t n : {2u, 8u, 9u, 25u, 60u, 100u, 1000u, 5000u}) {
                SCOPED_TRACE(testing::Message() << s.name << ", width " << layout.width << ", " << n << " elements");
                const Elements input = make_elements(layout, random_keys(n, rng));
                std::vector<uint8_t> guarded(kGuard, 0xC5);
                guarded.insert(guarded.end(), input.bytes.begin(), input.bytes.end());
                guarded.insert(guarded.end(), kGuard, 0xC5);
                uint8_t* base = guarded.data() + kGuard;
                const size_t bytes = input.bytes.size();
                Chaos chaos{std::mt19937(n), guarded, layout.width};
                s.sort(base, n, layout.width, reinterpret_cast<intptr_t>(&chaos), 0, Chaos::call);
                EXPECT_EQ(chaos.strays, 0u);
                EXPECT_EQ(std::count(guarded.begin(), guarded.begin() + kGuard, 0xC5), ptrdiff_t(kGuard));
                EXPECT_EQ(std::count(guarded.end() - kGuard, guarded.end(), 0xC5), ptrdiff_t(kGuard));
                const Elements result{layout, std::vector<uint8_t>(base, base + bytes)};
                EXPECT_TRUE(is_permutation_of(result, input));
            }
}

// A comparison may end in a non-local exit at any call: merge_sort must then drop the elements it
// parked back into the array and return its buffer to the heap.
TEST(SortFaults, ThrowingComparisonLeavesAPermutationAndNoLeak) {
    std::mt19937 rng(31);
    for (const NamedSort& s : kSorts)
        for (Layout layout : kLayouts)
            for (uint32_t n : {30u, 100u, 1000u}) {
                const Elements input = make_elements(layout, random_keys(n, rng));
                Tally all{layout.key_bytes, nullptr, nullptr};
                Elements whole = input;
                const uint64_t total_calls = tally_sort(s.sort, whole, all);
                for (uint64_t throw_at = 1; throw_at <= total_calls; throw_at += 1 + total_calls / 60) {
                    SCOPED_TRACE(testing::Message() << s.name << ", width " << layout.width << ", " << n
                                                    << " elements, throw at call " << throw_at);
                    Elements e = input;
                    Tally t{layout.key_bytes, nullptr, nullptr, throw_at};
                    const uint64_t heap_before = sys::heap_total();
                    EXPECT_THROW(tally_sort(s.sort, e, t), Throw);
                    EXPECT_EQ(sys::heap_total(), heap_before);
                    EXPECT_TRUE(is_permutation_of(e, input));
                }
            }
}

TEST(SortFaults, OversizedMergeBufferRaisesBeforeAnyElementMoves) {
    struct Case {
        uint32_t count, width;
    };
    for (Case c : {Case{4, 1u << 30}, Case{0xFFFFFFFF, 2}, Case{0x10000, 0x10000}}) {
        SCOPED_TRACE(testing::Message() << c.count << " elements of " << c.width << " bytes");
        std::vector<uint8_t> bytes(64, 0x5A);
        Tally t{1, nullptr, nullptr};
        const uint64_t heap_before = sys::heap_total();
        EXPECT_EQ(test::error_of([&] {
                      sort::merge_sort(bytes.data(), c.count, c.width, reinterpret_cast<intptr_t>(&t), 0, tallied);
                  }),
                  Err::script_too_long);
        EXPECT_EQ(t.calls, 0u);
        EXPECT_EQ(sys::heap_total(), heap_before);
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0x5A), 64);
    }
}

// The radix sort orders items by their high 32 bits as unsigned and keeps the input order of equal
// keys (the low bits number the input here). The key sets cover both passes, each pass alone (keys
// that differ only in one 16-bit digit), the extremes of the range and runs of one key.
TEST(SortRadix, MatchesStableSortByTheHighWord) {
    struct Case {
        const char* name;
        uint32_t (*key)(std::mt19937& rng, uint32_t i);
    };
    const Case cases[] = {
        {"any keys", [](std::mt19937& rng, uint32_t) { return uint32_t(rng()); }},
        {"few keys", [](std::mt19937& rng, uint32_t) { return uint32_t(rng() % 5) * 0x10001u; }},
        {"low digit only", [](std::mt19937& rng, uint32_t) { return 0x7FFF0000u | uint32_t(rng() & 0xFFFF); }},
        {"high digit only", [](std::mt19937& rng, uint32_t) { return uint32_t(rng() & 0xFFFF) << 16 | 0x1234u; }},
        {"extremes", [](std::mt19937& rng, uint32_t) { return rng() % 2 ? 0xFFFFFFFFu : 0u; }},
        {"one key", [](std::mt19937&, uint32_t) { return 42u; }},
        {"descending", [](std::mt19937&, uint32_t i) { return 0xFFFFFFFFu - i * 65537u; }},
    };
    std::mt19937 rng(11);
    for (const Case& c : cases)
        for (uint32_t n : {0u, 1u, 2u, 100u, 70000u}) {
            SCOPED_TRACE(testing::Message() << c.name << ", " << n << " items");
            std::vector<uint64_t> items(n);
            for (uint32_t i = 0; i < n; i++) items[i] = uint64_t(c.key(rng, i)) << 32 | i;
            std::vector<uint64_t> expected = items;
            std::stable_sort(expected.begin(), expected.end(),
                             [](uint64_t a, uint64_t b) { return a >> 32 < b >> 32; });
            sort::radix_sort(items.data(), n);
            ASSERT_EQ(items, expected);
        }
}

// Large series may take all of the language memory; a stable sort must still run then. In a child
// process, so that the filled memory stays there.
TEST(SortFaults, MergeSortRunsWhenTheLanguageMemoryIsFull) {
    EXPECT_EXIT(
        {
            std::mt19937 rng(5);
            Elements e = make_elements(kWideKeys, random_keys(10000, rng));  // a buffer of whole pages
            const std::vector<std::string> expected = stable_sorted(e);
            for (uint32_t chunk = 1u << 28; chunk >= platform::page_size(); chunk /= 2)
                while (platform::alloc_virtual(chunk)) {
                }
            sort::merge_sort(e.data(), e.count(), e.layout.width, e.layout.key_bytes, 0, by_key);
            std::exit(split(e) == expected ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace oka
