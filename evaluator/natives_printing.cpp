// The printing natives: print and prin.
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "runtime/print_hooks.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace oka::natives {

namespace {

// The block that print reduces its block argument into. Its head marks where the values of the print
// in progress begin, so that a print from inside the reduction uses the space after them.
Cell print_buffer;

// The space of the print buffer after the values of any print in progress, lent to one print's
// reduction: its values are dropped and the head put back however that print ends.
class BufferLoan {
public:
    BufferLoan() : mark_(print_buffer.head()) { print_buffer.set_head(series::rs_buffer_length_q(print_buffer)); }
    ~BufferLoan() {
        block::rs_clear(print_buffer);
        print_buffer.set_head(mark_);
    }
    BufferLoan(const BufferLoan&) = delete;
    BufferLoan& operator=(const BufferLoan&) = delete;

private:
    uint32_t mark_;
};

// Sends a value to the print hooks: text as it is, any other value formed.
void emit(const Cell& value, bool newline) {
    Cell* text = stack::push(value);
    if (!text->is(Type::String)) {
        text = string::rs_make_at(stack::push_next(), 16);
        actions::call<Act::form>(stack::top - 2, text, nullptr, 0x7FFFFFFF);
    }
    io::call_print_hooks(text, newline);
}

void do_print(bool newline) {
    Cell value = *stack::arguments();
    if (value.is(Type::Block)) {
        BufferLoan loan;
        interpreter::reduce_into(value, print_buffer);
        emit(print_buffer, newline);
    } else {
        emit(value, newline);
    }
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
