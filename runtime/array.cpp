#include "runtime/array.h"

#include <cstring>

#include "runtime/memory.h"

namespace oka::array {

namespace {

uint8_t* first_item(Node array) { return mem::ptr(mem::buffer(array)->offset); }

template <class T>
T item(Node array, uint32_t i) {
    T value;
    std::memcpy(&value, first_item(array) + (i - 1) * sizeof(T), sizeof value);
    return value;
}

template <class T>
void append(Node array, T value) {
    std::memcpy(alloc::alloc_tail_bytes(array, sizeof value).get(), &value, sizeof value);
}

template <class T>
int32_t find(Node array, T value) {
    BufPtr<SeriesBuffer> b = mem::buffer(array);
    for (Addr at = b->offset; at + sizeof(T) <= b->tail; at += sizeof(T))
        if (std::memcmp(mem::ptr(at), &value, sizeof value) == 0) return int32_t(at - b->offset);
    return -1;
}

}  // namespace

Node make(uint32_t count, uint32_t unit) {
    Node array = alloc::alloc_bytes(count * unit);
    BufPtr<SeriesBuffer> b = mem::buffer(array);
    b->flags = (b->flags & ~kSeriesUnitMask) | unit;
    return array;
}

uint32_t length_q(Node array) { return mem::buffer(array)->length(); }

void clear(Node array) { mem::buffer(array)->tail = mem::buffer(array)->offset; }

void set_length(Node array, uint32_t n) {
    BufPtr<SeriesBuffer> b = mem::buffer(array);
    b->tail = b->offset + (n - 1) * b->unit();
}

Node copy(Node array) { return alloc::copy_series(array); }

uint32_t flags(Node array) { return mem::buffer(array)->flags; }

void append_byte(Node array, uint8_t byte) { append(array, byte); }

void append_bytes(Node array, const void* bytes, uint32_t n) {
    std::memcpy(alloc::alloc_tail_bytes(array, n).get(), bytes, n);
}

void append_int(Node array, int32_t value) { append(array, value); }
void append_ptr(Node array, Addr pointer) { append(array, pointer); }

uint8_t pick_byte(Node array, uint32_t i) { return item<uint8_t>(array, i); }
int32_t pick_int(Node array, uint32_t i) { return item<int32_t>(array, i); }
Addr pick_ptr(Node array, uint32_t i) { return item<Addr>(array, i); }

void poke_ptr(Node array, uint32_t i, Addr pointer) {
    std::memcpy(first_item(array) + (i - 1) * sizeof pointer, &pointer, sizeof pointer);
}

int32_t find_int(Node array, int32_t value) { return find(array, value); }
int32_t find_ptr(Node array, Addr pointer) { return find(array, pointer); }

void insert_int(Node array, int32_t value, uint32_t position) {
    if (mem::buffer(array)->data_end() - mem::buffer(array)->tail < sizeof value) alloc::expand_series(array, 0);
    BufPtr<SeriesBuffer> b = mem::buffer(array);
    uint8_t* at = mem::ptr(b->offset) + position * sizeof value;
    std::memmove(at + sizeof value, at, mem::ptr(b->tail) - at);
    std::memcpy(at, &value, sizeof value);
    b->tail += sizeof value;
}

void remove_ptr(Node array, Addr pointer) {
    int32_t at = find_ptr(array, pointer);
    if (at >= 0) remove_at(array, uint32_t(at), sizeof pointer);
}

void remove_at(Node array, uint32_t byte_offset, uint32_t n) {
    BufPtr<SeriesBuffer> b = mem::buffer(array);
    uint8_t* at = mem::ptr(b->offset + byte_offset);
    std::memmove(at, at + n, mem::ptr(b->tail) - (at + n));
    b->tail -= n;
}

}  // namespace oka::array
