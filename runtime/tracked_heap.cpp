/* The tracked heap: every block is linked into one list so the whole heap can be freed at once.

   Blocks live in the language memory region, so a fixed series made from one has a 32-bit address
   like any other buffer. Small blocks come from size-class free lists carved out of arenas; large ones
   get pages of their own. A block never moves except through resize. */
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/signals.h"
#include "platform/virtual_memory.h"
#include "runtime/addr_list.h"
#include "runtime/fatal.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"

namespace oka::sys {

namespace {

struct BlockHeader {
    Addr prev;
    Addr next;
    uint32_t size;  // the size the caller asked for
    uint32_t tag;   // kLiveTag while the block is allocated, so a stray pointer is never freed
};
static_assert(sizeof(BlockHeader) == 16);

constexpr uint32_t kLiveTag = 0x0CA11EDu;
constexpr uint32_t kSmallLimit = 4096;  // gross sizes up to this come from the size-class lists
constexpr uint32_t kArenaBytes = 256 * 1024;

Addr list_head = 0, list_tail = 0;
uint64_t total = 0;
Addr free_lists[kSmallLimit / 16 + 1];
Addr arena_next = 0, arena_end = 0;
std::vector<Addr> arenas;

BlockHeader* header(Addr block) { return mem::ptr<BlockHeader>(block); }
Addr block_of(const void* p) { return mem::addr(p) - sizeof(BlockHeader); }
void* user_of(Addr block) { return mem::ptr(block + sizeof(BlockHeader)); }

uint32_t gross_size(uint32_t size) { return round_up(size + sizeof(BlockHeader), 16); }
bool is_small(uint32_t size) { return gross_size(size) <= kSmallLimit; }
uint32_t capacity_of(uint32_t size) {
    return is_small(size) ? gross_size(size) : round_up(size + sizeof(BlockHeader), platform::page_size());
}

// The report names the allocation site: the code that called the heap.
[[noreturn]] void out_of_memory(void* return_address) { quit(94, platform::code_offset(uintptr_t(return_address))); }

Addr carve_small(uint32_t gross) {
    if (Addr free = free_lists[gross / 16]) {
        free_lists[gross / 16] = *mem::ptr<Addr>(free);
        return free;
    }
    if (arena_end - arena_next < gross) {
        Addr arena = platform::alloc_virtual(kArenaBytes);
        if (!arena) return 0;
        arenas.push_back(arena);
        arena_next = arena;
        arena_end = arena + kArenaBytes;
    }
    Addr block = arena_next;
    arena_next += gross;
    return block;
}

// A block of memory for `size` user bytes, not yet linked into the list.
Addr take(uint32_t size) {
    if (size > 0x7FFFFFF0u) return 0;
    return is_small(size) ? carve_small(gross_size(size)) : platform::alloc_virtual(size + sizeof(BlockHeader));
}

void give_back(Addr block) {
    uint32_t size = header(block)->size;
    header(block)->tag = 0;
    if (is_small(size)) {
        uint32_t gross = gross_size(size);
        *mem::ptr<Addr>(block) = free_lists[gross / 16];
        free_lists[gross / 16] = block;
    } else {
        platform::free_virtual(block);
    }
}

// Puts `block` in the list position of `old`.
void replace_in_list(Addr old, Addr block) {
    BlockHeader* h = header(block);
    h->prev = header(old)->prev;
    h->next = header(old)->next;
    if (h->prev)
        header(h->prev)->next = block;
    else
        list_head = block;
    if (h->next)
        header(h->next)->prev = block;
    else
        list_tail = block;
}

bool inside_arena(Addr block) {
    for (Addr arena : arenas)
        if (block >= arena && block < arena + kArenaBytes) return true;
    return false;
}

// A pointer may be anything; only memory that is still mapped is read to check it.
bool is_live_block(const void* p) {
    auto address = reinterpret_cast<uintptr_t>(p);
    if (address < mem::kBase + sizeof(BlockHeader) || address >= mem::kBase + (uint64_t(1) << 32)) return false;
    Addr block = block_of(p);
    bool mapped = inside_arena(block) || platform::is_range_start(block);
    return mapped && header(block)->tag == kLiveTag;
}

void* allocate_from(uint32_t size, void* caller) {
    Addr block = take(size);
    if (!block) out_of_memory(caller);
    *header(block) = {0, 0, size, kLiveTag};
    list_append<BlockHeader>(block, list_head, list_tail);
    total += uint64_t(size) + sizeof(BlockHeader);
    return user_of(block);
}

}  // namespace

void* allocate(uint32_t size) { return allocate_from(size, __builtin_return_address(0)); }

void* allocate_zeroed(uint32_t size) {
    void* p = allocate_from(size, __builtin_return_address(0));
    std::memset(p, 0, size);
    return p;
}

void free(void* p) {
    if (!is_live_block(p)) return;
    Addr block = block_of(p);
    list_unlink<BlockHeader>(block, list_head, list_tail);
    total -= uint64_t(header(block)->size) + sizeof(BlockHeader);
    give_back(block);
}

void* resize(void* p, uint32_t size) {
    if (!p) return allocate_from(size, __builtin_return_address(0));
    if (size == 0) {
        free(p);
        return nullptr;
    }
    Addr old = block_of(p);
    uint32_t old_size = header(old)->size;
    total += uint64_t(size) - old_size;
    if (capacity_of(size) == capacity_of(old_size) && is_small(size) == is_small(old_size)) {
        header(old)->size = size;
        return p;
    }
    Addr block = take(size);
    if (!block) out_of_memory(__builtin_return_address(0));
    header(block)->size = size;
    header(block)->tag = kLiveTag;
    std::memcpy(user_of(block), p, std::min(size, old_size));
    replace_in_list(old, block);
    give_back(old);
    return user_of(block);
}

void free_all() {
    for (Addr block = list_head; block;) {
        Addr next = header(block)->next;
        if (!is_small(header(block)->size)) platform::free_virtual(block);
        block = next;
    }
    for (Addr arena : arenas) platform::free_virtual(arena);
    arenas.clear();
    std::memset(free_lists, 0, sizeof free_lists);
    list_head = list_tail = 0;
    arena_next = arena_end = 0;
    total = 0;
}

void release_heap() { free_all(); }

void keep_in_images() {
    image_state::keep(list_head, list_tail, arena_next, arena_end, total, free_lists);
    image_state::keep({[] {
                           const auto* bytes = reinterpret_cast<const uint8_t*>(arenas.data());
                           return image_state::Bytes(bytes, bytes + arenas.size() * sizeof(Addr));
                       },
                       [](std::span<const uint8_t> bytes) {
                           arenas.resize(bytes.size() / sizeof(Addr));
                           std::memcpy(arenas.data(), bytes.data(), bytes.size());
                       }});
}

uint64_t heap_total() { return total; }

uint32_t block_size(const void* p) { return is_live_block(p) ? header(block_of(p))->size : 0; }

}  // namespace oka::sys
