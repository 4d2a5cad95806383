#include "platform/virtual_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>

namespace oka::platform {

namespace {

constexpr uint64_t kSpaceBytes = uint64_t(1) << 32;
// Never handed out, so that offset 0 stays an invalid address; as large as one of the system's large
// pages, so that the ranges handed out first (the heap image's) start on a boundary of them.
constexpr uint64_t kNullGuard = 2 << 20;

uint32_t page = 0;  // the system's page size, 0 until the space is reserved
uint64_t committed = 0;

// Free ranges by start offset (first fit keeps live ranges low and the free ones coalesced) and the
// sizes of the ranges handed out.
std::map<uint64_t, uint64_t> free_ranges;
std::map<uint64_t, uint64_t> used_ranges;

// The address of an offset into the space.
uint8_t* at(uint64_t offset) { return reinterpret_cast<uint8_t*>(kSpaceAddress + offset); }

}  // namespace

void reserve_space() {
    if (page) return;
    void* wanted = reinterpret_cast<void*>(kSpaceAddress);
    void* p =
        mmap(wanted, kSpaceBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (p != wanted) {
        std::fputs("*** cannot reserve the 4 GiB language memory\n", stderr);
        std::exit(94);
    }
    page = uint32_t(sysconf(_SC_PAGESIZE));
    free_ranges[kNullGuard] = kSpaceBytes - kNullGuard;
}

uint32_t page_size() { return page; }

uint32_t alloc_virtual(uint32_t bytes) {
    if (!page || bytes == 0) return 0;
    uint64_t size = (uint64_t(bytes) + page - 1) / page * page;
    for (auto it = free_ranges.begin(); it != free_ranges.end(); ++it) {
        if (it->second < size) continue;
        uint64_t start = it->first;
        if (mprotect(at(start), size, PROT_READ | PROT_WRITE) != 0) return 0;
        uint64_t rest = it->second - size;
        free_ranges.erase(it);
        if (rest) free_ranges[start + size] = rest;
        used_ranges[start] = size;
        committed += size;
        return uint32_t(start);
    }
    return 0;
}

bool free_virtual(uint32_t offset) {
    auto used = used_ranges.find(offset);
    if (used == used_ranges.end()) return false;
    uint64_t start = used->first, size = used->second;
    // Give the pages back to the system but keep the addresses reserved: fresh inaccessible pages
    // replace them, which also ends a range's mapping of a file.
    mmap(at(start), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    used_ranges.erase(used);
    committed -= size;

    auto next = free_ranges.lower_bound(start);
    if (next != free_ranges.end() && next->first == start + size) {
        size += next->second;
        next = free_ranges.erase(next);
    }
    if (next != free_ranges.begin()) {
        auto prev = std::prev(next);
        if (prev->first + prev->second == start) {
            prev->second += size;
            return true;
        }
    }
    free_ranges[start] = size;
    return true;
}

bool is_range_start(uint32_t offset) { return used_ranges.count(offset) != 0; }

std::vector<CommittedRange> committed_ranges() {
    std::vector<CommittedRange> ranges;
    for (auto [start, size] : used_ranges) ranges.push_back({uint32_t(start), uint32_t(size)});
    return ranges;
}

bool adopt_ranges(std::span<const CommittedRange> ranges, std::span<const PageRun> runs) {
    if (!page) return false;
    auto release_all = [] {
        while (!used_ranges.empty()) free_virtual(uint32_t(used_ranges.begin()->first));
    };
    release_all();
    // A fresh reservation: the page tables of the memory given up go with it, so that the adopted
    // ranges can have large pages (a table left in place keeps its stretch on small pages).
    mmap(at(0), kSpaceBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    for (const CommittedRange& r : ranges) {
        auto free = free_ranges.upper_bound(r.offset);
        bool inside = free != free_ranges.begin() && r.bytes % page == 0 && r.offset % page == 0 &&
                      std::prev(free)->first + std::prev(free)->second >= uint64_t(r.offset) + r.bytes;
        if (!inside || mprotect(at(r.offset), r.bytes, PROT_READ | PROT_WRITE) != 0) {
            release_all();
            return false;
        }
        free = std::prev(free);
        uint64_t free_end = free->first + free->second;
        // The range splits the free range it lies in.
        uint64_t before = r.offset - free->first;
        if (before)
            free->second = before;
        else
            free_ranges.erase(free);
        if (uint64_t(r.offset) + r.bytes < free_end)
            free_ranges[r.offset + uint64_t(r.bytes)] = free_end - r.offset - r.bytes;
        used_ranges[r.offset] = r.bytes;
        committed += r.bytes;
    }
    // Large pages where the ranges cover them (advice: a system without them ignores it): a first touch
    // of each small page costs a process more than the copy of what it holds, notably under a
    // hypervisor that shadows page tables.
    if (!ranges.empty())
        madvise(at(ranges.front().offset), ranges.back().offset + uint64_t(ranges.back().bytes) - ranges.front().offset,
                MADV_HUGEPAGE);
    for (const PageRun& run : runs) {
        auto range = used_ranges.upper_bound(run.offset);
        bool inside = range != used_ranges.begin() && run.bytes % page == 0 && run.offset % page == 0 &&
                      std::prev(range)->first + std::prev(range)->second >= uint64_t(run.offset) + run.bytes;
        if (!inside) {
            release_all();
            return false;
        }
        std::memcpy(at(run.offset), run.from, run.bytes);
    }
    return true;
}

uint64_t committed_bytes() { return committed; }

}  // namespace oka::platform
