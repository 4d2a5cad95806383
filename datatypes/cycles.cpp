#include "datatypes/cycles.h"

#include <cstring>

#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"
#include "runtime/types.h"

namespace oka::cycles {

namespace {

Node* base = nullptr;
Node* top = nullptr;
Node* limit = nullptr;

// The marker of a value met again while molding; forming writes "..." for every type.
const char* mold_marker(Type type) {
    switch (type) {
    case Type::Block:
    case Type::Hash: return "[...]";
    case Type::Paren: return "(...)";
    case Type::Map: return "#[...]";
    case Type::Object: return "make object! [...]";
    default: return "...";
    }
}

}  // namespace

void init() {
    base = top = static_cast<Node*>(sys::allocate(kDepth * sizeof(Node)));
    limit = base + kDepth;
}

void keep_in_images() { image_state::keep(base, top, limit); }

void push(Node node) {
    *top++ = node;
    if (top == limit) {
        reset();
        fire(Err::internal_too_deep);
    }
}

void pop() {
    if (top > base) top--;
}

void pop_n(uint32_t n) { top = uint32_t(top - base) < n ? base : top - n; }

void reset() { top = base; }

bool find_q(Node node) {
    for (Node* p = base; p < top; p++)
        if (*p == node) return true;
    return false;
}

uint32_t depth() { return uint32_t(top - base); }

Node node_of(const Cell& value) { return type_layout(value.type()) == Layout::object ? value.context() : value.node(); }

bool detect_q(const Cell& value, Cell* buffer, int32_t* part, bool mold) {
    if (!find_q(node_of(value))) return false;
    const char* marker = mold ? mold_marker(value.type()) : "...";
    uint32_t length = uint32_t(std::strlen(marker));
    string::concatenate_literal(buffer, marker, length);
    *part -= int32_t(length);
    return true;
}

}  // namespace oka::cycles
