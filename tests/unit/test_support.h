// Helpers shared by the unit tests: running stack entry points on a fresh frame, and reading back
// the text of string results.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/time.h"
#include "evaluator/actions.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka::test {

// Values that test code holds in C++ locals across allocations: the helpers that make them keep them
// in this block, which the collector marks, until the next test starts (tests/unit/main.cpp).
inline Cell kept_values;

// Keeps a value alive for the rest of the test; answers it.
inline Cell keep(const Cell& value) {
    block::rs_append(kept_values, value);
    return value;
}

// Keeps a series (and, when it holds cells, what they refer to) alive for the rest of the test;
// answers its node.
inline Node keep_series(Node node) {
    Type type = mem::buffer(node)->unit() == sizeof(Cell) ? Type::Block : Type::Binary;
    keep(Cell::of(type).set_node(node));
    return node;
}

// The values of the global words at one moment, given back to them so that a test finds the global words
// as that moment left them, whatever the tests before it set or booted: a word made since has no value
// again (it stays known). The values themselves are not copied: a series a test changes in place stays
// changed.
class GlobalWords {
public:
    bool remembered_q() const { return values_.header != 0; }
    void remember() {
        Cell* saved = stack::top;
        values_ = *block::clone(values(), block::Nested::shared);
        stack::top = saved;
        runtime::register_root(&values_);
    }
    void restore() const {
        Cell now = values();
        uint32_t count = series::rs_length_q(values_);
        for (uint32_t i = 0; i < series::rs_length_q(now); i++)
            *block::rs_abs_at(now, i) = i < count ? *block::rs_abs_at(values_, i) : Cell::of(Type::Unset);
    }

private:
    static Cell values() { return Cell::of(Type::Block).set_node(_context::context_cell(_context::global)->values()); }
    Cell values_{};
};

// The global words as the run-time's start left them (before any test), and as they are once the library
// is booted (natives_testing.h): every test starts from the first, and those that run code from the second.
inline GlobalWords bare_global_words, booted_global_words;

// The record of the symbol index as the run-time's start made it, before any test added symbols.
inline hashtable::Record startup_symbol_index{};

inline Cell int_cell(int32_t value) { return Cell::of(Type::Integer).set_int32(value); }
inline Cell char_cell(uint32_t code_point) { return Cell::of(Type::Char).set_code_point(code_point); }
inline Cell type_cell(Type type) { return Cell::of(Type::Datatype).set_named_type(type); }
inline Cell float_cell(double value) { return Cell::of(Type::Float).set_f64(value); }
inline Cell time_cell(double seconds) {
    Cell c;
    return *time::make_at(&c, seconds);
}

// Runs a stack entry point on a new frame holding `args` (refinement positions as the entry point
// reads them, -1 = not given) and returns the result slot, kept; the frame is gone afterwards.
inline Cell run(void (*entry)(const int32_t*), std::initializer_list<Cell> args,
                std::vector<int32_t> refinements = {}) {
    struct Restore {
        Cell* base = stack::frame_base;
        Cell* top = stack::top;
        stack::CallFrame* calls = stack::call_top;
        ~Restore() {
            stack::frame_base = base;
            stack::top = top;
            stack::call_top = calls;
        }
    } restore;
    stack::frame_base = stack::top;
    for (const Cell& a : args) stack::push(a);
    refinements.resize(16, -1);
    entry(refinements.data());
    return keep(*stack::frame_base);
}

// The text of a string! value from its head (code points below 256 as bytes, others as '?').
inline std::string text_of(const Cell& string) {
    SeriesBuffer* b = mem::buffer(string.node()).get();
    std::string out;
    for (Addr a = b->offset + string.head() * b->unit(); a < b->tail; a += b->unit()) {
        uint32_t cp = 0;
        for (uint32_t i = 0; i < b->unit(); i++) cp |= uint32_t(*mem::ptr(a + i)) << (8 * i);
        out += cp < 256 ? char(cp) : '?';
    }
    return out;
}

inline std::string mold(const Cell& value) { return text_of(run(actions::mold_s, {value})); }
inline std::string mold_all(const Cell& value) { return text_of(run(actions::mold_s, {value}, {-1, 0})); }
inline std::string form(const Cell& value) { return text_of(run(actions::form_s, {value})); }
// The result's type and molded text, so that a failing case shows what it got.
inline std::string typed(const Cell& value) {
    return std::string(datatype::type_name(value.type()).name) + " " + mold(value);
}

// The id of the error that `body` raises (Err(0) when it raises none), caught as try catches it.
template <class F>
Err error_of(F body) {
    Cell error;
    if (!error::trap(body, &error)) return Err(0);
    return Err(integer::get(*error::field(error, error::kCode)));
}

}  // namespace oka::test
