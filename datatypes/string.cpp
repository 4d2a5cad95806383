#include "datatypes/string.h"

#include <cstring>

#include "runtime/memory.h"

namespace oka::string {

Cell* rs_make_at(Cell* cell, uint32_t size) {
    Node node = alloc::alloc_codepoints(size ? size : 1, 1);
    *cell = Cell{uint8_t(Type::String), 0, node, 0};
    return cell;
}

void concatenate_literal(Cell* string, const char* text, uint32_t length) {
    Node node = string->data2;
    uint32_t unit = mem::buffer(node)->unit();
    BufPtr<uint8_t> out = alloc::alloc_tail_bytes(node, length * unit);
    for (uint32_t i = 0; i < length; i++) {
        OKA_ASSERT(uint8_t(text[i]) < 0x80);
        uint32_t cp = uint8_t(text[i]);
        uint8_t* unit_start = out.get() + i * unit;
        for (uint32_t b = 0; b < unit; b++) unit_start[b] = uint8_t(cp >> (8 * b));  // little-endian units
    }
}

int32_t write_token(Cell* buffer, const char* text, bool all, int32_t part) {
    uint32_t length = uint32_t(std::strlen(text));
    if (all) concatenate_literal(buffer, "#(", 2);
    concatenate_literal(buffer, text, length);
    if (all) concatenate_literal(buffer, ")", 1);
    return part - int32_t(length) - (all ? 3 : 0);
}

void clip_tail(Cell* string, int32_t limit) {
    BufPtr<SeriesBuffer> b = mem::buffer(string->data2);
    uint64_t tail = uint64_t(b->offset) + uint64_t(uint32_t(limit)) * b->unit();
    if (limit >= 0 && tail < b->tail) b->tail = Addr(tail);
}

}  // namespace oka::string
