/* Cycle detection for form, mold, compare and deep copy.

   One stack holds the nodes of the values whose form, mold, comparison or deep copy is in progress;
   a value found on it is written as a short cycle marker instead of being entered again. The stack
   also bounds nesting: a value nested 1000 levels deep raises internal too-deep (with the stack
   emptied first), so deep structures never exhaust the C++ stack. */
#pragma once

#include "runtime/cell.h"

namespace oka::cycles {

inline constexpr uint32_t kDepth = 1000;

void init();
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();
// Raises internal too-deep when kDepth - 1 nodes are already pending.
void push(Node node);
void pop();
void pop_n(uint32_t n);
void reset();
bool find_q(Node node);
uint32_t depth();

// The node that identifies a value on the stack: the context of a value of the object layout (object!,
// error!, port!), else the series node.
Node node_of(const Cell& value);

// When the value is on the stack: appends its cycle marker ("..." when not molding) to the string
// `buffer`, lowers *part by the marker's length and returns true.
bool detect_q(const Cell& value, Cell* buffer, int32_t* part, bool mold);

// Pushes the node of a value for the life of the scope.
class Scope {
public:
    explicit Scope(const Cell& value) { push(node_of(value)); }
    ~Scope() { pop(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace oka::cycles
