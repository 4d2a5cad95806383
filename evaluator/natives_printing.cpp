// The printing natives: print and prin.
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/print_hooks.h"
#include "runtime/root.h"
#include "runtime/throw.h"

namespace oka::natives {

namespace {

// The block that print reduces its block argument into. Its head marks where the values of the print
// in progress begin, so that a print from inside the reduction uses the space after them.
Cell print_buffer;

bool last_newline = false;

void release_buffer(uint32_t mark) {
    block::rs_clear(print_buffer);
    print_buffer.data1 = mark;
}

// The values of a block argument, reduced into the print buffer after the values of any outer print.
Cell reduce_to_buffer(const Cell& value, uint32_t mark) {
    print_buffer.data1 = series::rs_buffer_length_q(print_buffer);
    Cell reduced = print_buffer;
    uint32_t code = sys::protect(kCatchAll, [&] { interpreter::reduce_into(value, reduced); });
    if (code) {
        release_buffer(mark);
        sys::throw_(code);
    }
    return reduced;
}

void do_print(bool newline) {
    Cell value = *stack::arguments();
    uint32_t mark = print_buffer.data1;
    bool reduced = value.is(Type::Block);
    if (reduced) value = reduce_to_buffer(value, mark);
    Cell* text = stack::push(value);
    if (!value.is(Type::String)) {
        text = string::rs_make_at(stack::push_next(), 16);
        actions::call<Act::form>(stack::top - 2, text, nullptr, 0x7FFFFFFF);
    }
    io::call_print_hooks(text, newline);
    if (reduced) release_buffer(mark);
    last_newline = newline;
    unset::box();
    stack::keep();
}

}  // namespace

void init_print_buffer() {
    block::make_at(&print_buffer, 32);
    runtime::register_root(&print_buffer);
}

void print_s(const int32_t*) { do_print(true); }
void prin_s(const int32_t*) { do_print(false); }

}  // namespace oka::natives
