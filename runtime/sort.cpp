#include "runtime/sort.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "runtime/error.h"

namespace oka::sort {

namespace {

constexpr uint32_t kMinRun = 24;        // merge_sort extends shorter natural runs by insertion
constexpr size_t kSmallPart = 7;        // qsort finishes parts of at most this many by insertion
constexpr size_t kNintherPart = 40;     // from this size on, qsort's pivot is a median of nine
constexpr size_t kProbeStride = 97;     // qsort samples one neighbour pair in this many ...
constexpr uint32_t kProbeMargin = 512;  // ... and reverses when descending ones lead by count / this

// The element width and the caller's comparison: what every step of a sort needs.
struct Order {
    uint32_t width;
    bool bytewise;
    intptr_t user1, user2;
    SortCompare compare;

    Order(uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare)
        : width(width), bytewise(width % 4 != 0), user1(user1), user2(user2), compare(compare) {
        OKA_ASSERT(width > 0);
    }

    bool after(const uint8_t* a, const uint8_t* b) const { return compare(a, b, user1, user2) >= 1; }
    void swap(uint8_t* a, uint8_t* b) const { swap_bytes(a, b, width, bytewise); }
    uint8_t* at(uint8_t* base, size_t index) const { return base + index * width; }
    size_t count(const uint8_t* start, const uint8_t* end) const { return size_t(end - start) / width; }
};

void reverse(uint8_t* first, uint8_t* end, const Order& o) {
    for (uint8_t* last = end - o.width; first < last; first += o.width, last -= o.width) o.swap(first, last);
}

// Sorts [first, end) whose prefix [first, sorted_end) is sorted: each further element moves back
// while its predecessor sorts after it, so equal elements keep their order.
void insertion_sort(uint8_t* first, uint8_t* sorted_end, uint8_t* end, const Order& o) {
    for (uint8_t* next = sorted_end; next < end; next += o.width)
        for (uint8_t* p = next; p > first && o.after(p - o.width, p); p -= o.width) o.swap(p - o.width, p);
}

// --- Merge sort: natural runs, merged in the order their boundary powers give ---

uint8_t* find_run(uint8_t* start, uint8_t* end, const Order& o) {
    uint8_t* last = start + o.width;  // last element of the run so far
    if (last == end) return end;
    const bool descending = o.after(start, last);
    while (last + o.width < end && o.after(last, last + o.width) == descending) last += o.width;
    if (descending) reverse(start, last + o.width, o);
    return last + o.width;
}

// Elements parked in the merge buffer, and the place in the run where they belong once everything
// else is merged: the hole [hole, hole + (end - first)). Dropping whatever is still parked into the
// hole completes a merge, and leaves a permutation of the input when a comparison throws.
struct Parked {
    uint8_t* first;
    uint8_t* end;
    uint8_t* hole;

    ~Parked() { std::memcpy(hole, first, size_t(end - first)); }
};

// Parks the left run and fills the array from the start: the writes stay behind the reads of the
// right run. On equal keys the left element goes first.
void merge_forward(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* temp, const Order& o) {
    std::memcpy(temp, start, size_t(middle - start));
    Parked left{temp, temp + (middle - start), start};
    uint8_t* right = middle;
    while (left.first < left.end && right < end) {
        uint8_t* from;
        if (o.after(left.first, right)) {
            from = right;
            right += o.width;
        } else {
            from = left.first;
            left.first += o.width;
        }
        std::memcpy(left.hole, from, o.width);
        left.hole += o.width;
    }
}

// Parks the right run and fills the array from the end: the writes stay behind the reads of the left
// run, whose unmerged part ends where the hole begins. On equal keys the right element goes last.
void merge_backward(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* temp, const Order& o) {
    std::memcpy(temp, middle, size_t(end - middle));
    Parked right{temp, temp + (end - middle), middle};
    uint8_t* write = end;
    while (right.first < right.end && right.hole > start) {
        uint8_t* from;
        if (o.after(right.hole - o.width, right.end - o.width)) {
            right.hole -= o.width;
            from = right.hole;
        } else {
            right.end -= o.width;
            from = right.end;
        }
        write -= o.width;
        std::memcpy(write, from, o.width);
    }
}

void merge(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* temp, const Order& o) {
    if (middle - start <= end - middle)
        merge_forward(start, middle, end, temp, o);
    else
        merge_backward(start, middle, end, temp, o);
}

// Returns the end of the run at index `start`: the natural run found there, extended by insertion to
// kMinRun elements (or to the end of the array) when shorter.
uint32_t next_run(uint8_t* base, uint32_t start, uint32_t count, const Order& o) {
    uint8_t* first = o.at(base, start);
    const uint32_t run_end = start + uint32_t(o.count(first, find_run(first, o.at(base, count), o)));
    const uint32_t min_end = start + std::min(kMinRun, count - start);
    if (run_end < min_end) insertion_sort(first, o.at(base, run_end), o.at(base, min_end), o);
    return std::max(run_end, min_end);
}

// The power of the boundary between the adjacent runs [start, middle) and [middle, end) of an array of
// `count` elements: one more than the number of leading binary digits that the midpoints of the two
// runs, as fractions of `count`, have in common. Merging at boundaries in falling order of power
// approximates the cheapest merge tree for the runs found.
int boundary_power(uint32_t start, uint32_t middle, uint32_t end, uint32_t count) {
    // The midpoint (a + b) / 2 as a 32-bit binary fraction of count. Midpoints of adjacent runs lie at
    // least 1 / count > 2^-32 apart, so 32 digits tell them apart.
    auto fraction = [count](uint64_t a, uint64_t b) { return uint32_t(((a + b) << 31) / count); };
    return std::countl_zero(fraction(start, middle) ^ fraction(middle, end)) + 1;
}

// A run waiting to be merged with the runs after it: its first element and the power of the boundary
// at its end.
struct PendingRun {
    uint32_t start;
    int32_t power;
};

void merge_runs(uint8_t* base, uint32_t count, uint8_t* temp, const Order& o) {
    // The powers waiting on the stack rise strictly from 1 to at most bit_width(count) <= 32.
    std::array<PendingRun, 32> pending{};
    int depth = 0;

    // Merges the waiting runs whose end boundary has a power above `power` into the run [start, end)
    // and returns the merged run's start.
    auto merge_pending = [&](int power, uint32_t start, uint32_t end) {
        for (; depth > 0 && pending[depth - 1].power > power; --depth) {
            const uint32_t left = pending[depth - 1].start;
            merge(o.at(base, left), o.at(base, start), o.at(base, end), temp, o);
            start = left;
        }
        return start;
    };

    uint32_t start = 0;
    uint32_t end = next_run(base, 0, count, o);
    while (end < count) {
        const uint32_t next_end = next_run(base, end, count, o);
        const int power = boundary_power(start, end, next_end, count);
        start = merge_pending(power, start, end);
        OKA_ASSERT(depth < int(std::bit_width(count)));
        pending[depth++] = {start, power};
        start = end;
        end = next_end;
    }
    merge_pending(0, start, end);
}

// --- Quicksort: three-way partitions, introspective depth budget ---

// The median of three elements, by two or three comparisons.
uint8_t* median_of_three(uint8_t* a, uint8_t* b, uint8_t* c, const Order& o) {
    if (o.after(a, b)) std::swap(a, b);
    if (!o.after(b, c)) return b;
    return o.after(a, c) ? a : c;
}

// The median of the first, middle and last elements of [first, end); for a large part the median of
// three such medians, which keeps organ-pipe and sawtooth inputs from splitting lopsidedly.
uint8_t* choose_pivot(uint8_t* first, uint8_t* end, const Order& o) {
    const size_t n = o.count(first, end);
    uint8_t* middle = o.at(first, n / 2);
    uint8_t* last = end - o.width;
    if (n < kNintherPart) return median_of_three(first, middle, last, o);
    const size_t step = n / 8 * o.width;
    return median_of_three(median_of_three(first, first + step, first + 2 * step, o),
                           median_of_three(middle - step, middle, middle + step, o),
                           median_of_three(last - 2 * step, last - step, last, o), o);
}

// Exchanges the adjacent blocks [first, middle) and [middle, end), not keeping the order inside them.
void exchange_blocks(uint8_t* first, uint8_t* middle, uint8_t* end, const Order& o) {
    const size_t bytes = size_t(std::min(middle - first, end - middle));
    swap_bytes(first, end - bytes, uint32_t(bytes), o.bytewise);
}

// Where a partition left the keys equal to its pivot: [less_end, greater_start).
struct Split {
    uint8_t* less_end;
    uint8_t* greater_start;
};

// Splits [first, end) into keys less than, equal to and greater than a pivot. The pivot waits at
// `first` while the scan runs; equal keys are gathered at both ends as they are met and swapped into
// the middle at the end, so a part of equal keys costs one pass.
Split partition(uint8_t* first, uint8_t* end, const Order& o) {
    const size_t w = o.width;
    o.swap(first, choose_pivot(first, end, o));
    const uint8_t* pivot = first;
    // [first, equal_left) equal | [equal_left, left) less | [left, right) unscanned |
    // [right, equal_right) greater | [equal_right, end) equal
    uint8_t* equal_left = first + w;
    uint8_t* left = first + w;
    uint8_t* right = end;
    uint8_t* equal_right = end;
    for (;;) {
        for (; left < right; left += w) {
            if (o.after(pivot, left)) continue;  // less: stays
            if (o.after(left, pivot)) break;     // greater: waits for a less one from the right
            o.swap(equal_left, left);
            equal_left += w;
        }
        for (; left < right; right -= w) {
            if (o.after(right - w, pivot)) continue;
            if (o.after(pivot, right - w)) break;
            equal_right -= w;
            o.swap(right - w, equal_right);
        }
        if (left == right) break;
        right -= w;
        // Only an inconsistent comparison finds one element greater from the left and less from the right.
        if (left == right) break;
        o.swap(left, right);
        left += w;
    }
    exchange_blocks(first, equal_left, left, o);
    exchange_blocks(right, equal_right, end, o);
    return {first + (left - equal_left), end - (equal_right - right)};
}

// Restores the heap (largest on top) of `n` elements at `first` below `root`.
void sift_down(uint8_t* first, size_t root, size_t n, const Order& o) {
    for (size_t child; (child = 2 * root + 1) < n; root = child) {
        if (child + 1 < n && o.after(o.at(first, child + 1), o.at(first, child))) ++child;
        if (!o.after(o.at(first, child), o.at(first, root))) return;
        o.swap(o.at(first, root), o.at(first, child));
    }
}

void heap_sort(uint8_t* first, uint8_t* end, const Order& o) {
    const size_t n = o.count(first, end);
    for (size_t root = n / 2; root-- > 0;) sift_down(first, root, n, o);
    for (size_t last = n - 1; last > 0; --last) {
        o.swap(first, o.at(first, last));
        sift_down(first, 0, last, o);
    }
}

// Sorts [first, end), recursing into the smaller side of each split and looping on the larger, so the
// C++ stack holds at most log2(n) frames. A part still unsorted when the budget of splits runs out is
// heap sorted, which bounds the whole sort to O(n log n) comparisons.
void sort_part(uint8_t* first, uint8_t* end, int budget, const Order& o) {
    while (o.count(first, end) > kSmallPart) {
        if (budget-- == 0) return heap_sort(first, end, o);
        const Split split = partition(first, end, o);
        if (split.less_end - first < end - split.greater_start) {
            sort_part(first, split.less_end, budget, o);
            first = split.greater_start;
        } else {
            sort_part(split.greater_start, end, budget, o);
            end = split.less_end;
        }
    }
    insertion_sort(first, first, end, o);
}

// Whether the `count` elements at `first` run mostly downhill. From the first pair of unequal
// neighbours on, one neighbour pair in kProbeStride is sampled; descending pairs must outnumber the
// others by more than count / kProbeMargin.
bool mostly_descending(uint8_t* first, uint32_t count, const Order& o) {
    auto descending = [&](size_t i) { return o.after(o.at(first, i), o.at(first, i + 1)); };
    size_t i = 0;
    while (i + 1 < count && !descending(i) && !o.after(o.at(first, i + 1), o.at(first, i))) ++i;
    int64_t lead = 0;
    for (; i + 1 < count; i += kProbeStride) lead += descending(i) ? 1 : -1;
    return lead > int64_t(count / kProbeMargin);
}

}  // namespace

void swap_bytes(uint8_t* a, uint8_t* b, uint32_t width, bool bytewise) {
    if (bytewise) {
        std::swap_ranges(a, a + width, b);
        return;
    }
    for (uint32_t i = 0; i < width; i += 4) {
        uint32_t x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        std::memcpy(a + i, &y, 4);
        std::memcpy(b + i, &x, 4);
    }
}

uint8_t* find_run(uint8_t* start, uint8_t* end, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare) {
    return find_run(start, end, Order(width, user1, user2, compare));
}

void merge(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* temp, uint32_t width, intptr_t user1, intptr_t user2,
           SortCompare compare) {
    merge(start, middle, end, temp, Order(width, user1, user2, compare));
}

void merge_sort(void* base, uint32_t count, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare) {
    if (count < 2) return;
    const uint64_t buffer_bytes = uint64_t(count / 2) * width;
    if (buffer_bytes > uint64_t(INT32_MAX)) fire(Err::script_too_long);
    // The buffer comes from the C++ heap, not the language memory, so that a stable sort still runs when
    // large series fill that memory; a refusal is an error the script can catch, not the end of it.
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[buffer_bytes]);
    if (!buffer) fire(Err::internal_no_memory);
    merge_runs(static_cast<uint8_t*>(base), count, buffer.get(), Order(width, user1, user2, compare));
}

void qsort(void* base, uint32_t count, uint32_t width, intptr_t user1, intptr_t user2, SortCompare compare) {
    if (count < 2) return;
    const Order order(width, user1, user2, compare);
    uint8_t* first = static_cast<uint8_t*>(base);
    uint8_t* end = order.at(first, count);
    if (mostly_descending(first, count, order)) reverse(first, end, order);
    sort_part(first, end, 2 * int(std::bit_width(count)), order);
}

void radix_sort(uint64_t* items, uint32_t count) {
    if (count < 2) return;
    constexpr uint32_t kDigits = 1u << 16;
    std::vector<uint64_t> spare(count);
    std::vector<uint32_t> starts(kDigits);
    uint64_t *from = items, *to = spare.data();
    for (int shift = 32; shift < 64; shift += 16) {
        auto digit = [shift](uint64_t item) { return uint32_t(item >> shift) & (kDigits - 1); };
        std::fill(starts.begin(), starts.end(), 0u);
        for (uint32_t i = 0; i < count; i++) starts[digit(from[i])]++;
        if (starts[digit(from[0])] == count) continue;  // one digit for all: the pass would change nothing
        std::exclusive_scan(starts.begin(), starts.end(), starts.begin(), 0u);
        for (uint32_t i = 0; i < count; i++) to[starts[digit(from[i])]++] = from[i];
        std::swap(from, to);
    }
    if (from != items) std::copy_n(from, count, items);
}

}  // namespace oka::sort
