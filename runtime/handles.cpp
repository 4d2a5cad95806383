#include "runtime/handles.h"

#include <algorithm>
#include <iterator>

#include "runtime/base.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"

namespace oka::handles {

namespace {

struct Kind {
    const char* name;
    Release release;
};

Kind kinds[kMaxKinds];
int kind_count = 0;

Slot* slots = nullptr;
uint32_t slot_count = 0;
int32_t free_head = -1;
int32_t used_head = -1;

void reset(Slot& s) {
    s.kind = kSlotFree;
    s.object = nullptr;
}

// Threads slots [first, slot_count) into a free list in index order, ending at -1.
void link_free(uint32_t first) {
    for (uint32_t i = first; i < slot_count; i++) {
        reset(slots[i]);
        slots[i].next = i + 1 < slot_count ? int32_t(i + 1) : -1;
    }
}

void double_table() {
    uint32_t old = slot_count;
    slot_count *= 2;
    slots = static_cast<Slot*>(sys::resize(slots, slot_count * sizeof(Slot)));
    link_free(old);
    slots[free_head].next = int32_t(old);
}

void push_free(int32_t index) {
    reset(slots[index]);
    slots[index].next = free_head;
    free_head = index;
}

}  // namespace

void init() {
    kind_count = 0;
    slot_count = kInitialSlots;
    slots = static_cast<Slot*>(sys::allocate(slot_count * sizeof(Slot)));
    link_free(0);
    free_head = 0;
    used_head = -1;
}

// The kinds' callbacks are the same in every process of a build, which an image is made for.
void keep_in_images() { image_state::keep(kinds, kind_count, slots, slot_count, free_head, used_head); }

int register_kind(const char* name, Release release) {
    if (kind_count == kMaxKinds) assertion_failed("room for another handle kind", __FILE__, __LINE__);
    kinds[kind_count] = {name, release};
    return ++kind_count;
}

const char* kind_name(int kind) { return kind >= 1 && kind <= kind_count ? kinds[kind - 1].name : nullptr; }

int32_t alloc(void* object, int kind) {
    if (slots[free_head].next == -1) double_table();
    int32_t index = free_head;
    Slot& s = slots[index];
    free_head = s.next;
    s = {uint32_t(kind), object, used_head};
    used_head = index;
    return index;
}

void release(uint32_t kind_word, void* object) {
    int kind = int(kind_word & kKindMask);
    if (kind >= 1 && kind <= kind_count && kinds[kind - 1].release) kinds[kind - 1].release(object);
}

void set_object(int32_t index, void* object) {
    Slot& s = slots[index];
    if (s.object != object) release(s.kind, s.object);
    s.object = object;
}

void free(int32_t index, bool release_object) {
    if (release_object) release(slots[index].kind, slots[index].object);
    if (used_head == index) {
        used_head = slots[index].next;
    } else {
        for (int32_t i = used_head; i != -1; i = slots[i].next) {
            if (slots[i].next == index) {
                slots[i].next = slots[index].next;
                break;
            }
        }
    }
    push_free(index);
}

const Slot& slot(int32_t index) { return slots[index]; }

uint32_t capacity() { return slot_count; }

bool mark(int32_t index, void* object) {
    Slot& s = slots[index];
    bool fresh = !(s.kind & kSlotMarked);
    s.kind |= kSlotMarked;
    if (object) s.object = object;
    return fresh;
}

void for_each(int kind, void (*callback)(int kind, void* object)) {
    for (int32_t i = used_head; i != -1; i = slots[i].next)
        if (int(slots[i].kind & kKindMask) == kind) callback(kind, slots[i].object);
}

void sweep() {
    int32_t kept = -1;
    for (int32_t i = used_head; i != -1;) {
        int32_t next = slots[i].next;
        if (slots[i].kind & kSlotMarked) {
            slots[i].kind &= ~kSlotMarked;
            kept = i;
        } else {
            release(slots[i].kind, slots[i].object);
            if (kept == -1)
                used_head = next;
            else
                slots[kept].next = next;
            push_free(i);
        }
        i = next;
    }
}

struct FreshTableForTests::Saved {
    Kind kinds[kMaxKinds];
    int kind_count;
    Slot* slots;
    uint32_t slot_count;
    int32_t free_head, used_head;
};

FreshTableForTests::FreshTableForTests() : saved_(new Saved{{}, kind_count, slots, slot_count, free_head, used_head}) {
    std::copy(std::begin(kinds), std::end(kinds), saved_->kinds);
    init();
}

FreshTableForTests::~FreshTableForTests() {
    sys::free(slots);
    std::copy(std::begin(saved_->kinds), std::end(saved_->kinds), kinds);
    kind_count = saved_->kind_count;
    slots = saved_->slots;
    slot_count = saved_->slot_count;
    free_head = saved_->free_head;
    used_head = saved_->used_head;
    delete saved_;
}

}  // namespace oka::handles
