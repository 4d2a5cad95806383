// Raising errors: an error! value is made from the catalogue (or a ready-made one is refilled), named
// by the call it arose in, shown to the tracer, and thrown to the nearest try frame.
#include "evaluator/raise.h"

#include <cstdlib>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/cycles.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/natives.h"
#include "evaluator/trace.h"
#include "runtime/dispatch.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka {

namespace stack {

namespace {

// Prints an error that nothing catches, as print would, and ends the run as a failure. Nothing below
// is needed any more, so the report starts from an empty data stack: the error may be an overflow of it.
// Making the report allocates: should memory run out there, the no-memory error it raises comes back
// here, and only the run-time's record of that error can be printed.
[[noreturn]] void report_uncaught(const Cell& error) {
    static bool reporting = false;
    if (reporting) {
        error::print_raised();
        std::exit(-2);
    }
    reporting = true;
    Cell value = error;
    top = bottom;
    Cell* kept = push(value);
    Cell* buffer = string::rs_make_at(push_next(), 64);
    value = *kept;
    actions::call<Act::form>(&value, buffer, nullptr, 0x7FFFFFFF);
    io::print_string(buffer, true);
    std::exit(-2);
}

// Records the call stack's top in an error's stack field, unless that already holds a block.
void set_error_frame(Cell* error) {
    BufPtr<Cell> field = error::field(*error, error::kStack);
    if (!field->is(Type::Block)) integer::make_at(field.get(), int32_t(mem::addr(call_top)));
}

}  // namespace

void throw_error(const Cell& error) {
    Cell* value = push(error);                      // kept where the collector sees it while the stacks unroll
    if (trace::tracing) trace::fire_error(*value);  // before unrolling, so the tracer sees where it arose
    bool caught = false;
    if (call_top > call_bottom) {
        error::set_where(*value, get_call_name());
        set_error_frame(value);
        Cell* remembered = top;
        FrameKind last = unroll_to(kFrameTry, false);
        caught = last == kFrameTry || last == kFrameTryAll;
        top = remembered;
    }
    if (!caught) report_uncaught(*value);
    thrown = *value;
    push(thrown);
    sys::throw_(kThrowError);
}

}  // namespace stack

namespace error {

namespace {

// The word naming the innermost named call; when that call is an operator's, the word of the native or
// action the operator stands for.
Cell get_call_action_word() {
    Cell name = stack::get_call_name();
    Cell value = name.context() ? *word::get_cell(name) : none::value;
    if (!value.is(Type::Op)) return name;
    switch (op_wrapped_type(value)) {
    case Type::Native: return word::load(natives::word_of(value.entry()));
    case Type::Action: return word::load(kActionWords[value.entry() - 1]);
    default: return name;  // a function made an operator has no other name
    }
}

}  // namespace

void fire_in_function(Err id, Type type, int32_t argument_index) {
    Cell name = stack::get_call_name(), argument = get_call_arg_word(argument_index);
    Cell datatype = Cell::of(Type::Datatype).set_named_type(type);
    fire(id, &name, &datatype, &argument);
}

void fire_on_action(Err id, Type type) {
    Cell name = get_call_action_word();
    Cell datatype = Cell::of(Type::Datatype).set_named_type(type);
    fire(id, &name, &datatype);
}

void fire_refinement(const char* refinement, const Cell* value) {
    Cell name = word::load(refinement);
    fire(Err::script_invalid_refine_arg, &name, value);
}

void fire_with_bytes(Err id, const uint8_t* bytes, uint32_t length) {
    std::vector<uint8_t> copy(bytes, bytes + length);
    fire(id, binary::load(copy.data(), length));
}

}  // namespace error

namespace {

// A stack overflow leaves no room for the tracer's call, so the tracer does not hear of it; and a mold
// or copy that overflowed left its nodes on the cycle stack.
[[noreturn]] void raise_overflow(const Cell& error) {
    trace::Untraced untraced;
    cycles::reset();
    stack::throw_error(error);
}

}  // namespace

void fire(Err id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    error::Raised& e = error::raised;
    e.id = id;
    e.arg_count = 0;
    for (const Cell* arg : {arg1, arg2, arg3}) {
        if (!arg) break;
        e.args[e.arg_count++] = *arg;
    }
    // Errors raised before the catalogue exists (during start-up) can only be reported.
    if (!error::catalog_ready()) {
        error::print_raised();
        std::exit(-2);
    }
    if (const Cell* ready = error::ready_made(id)) {
        OKA_ASSERT(!arg1 && "a ready-made error takes no arguments");
        if (id == Err::internal_stack_overflow) raise_overflow(*ready);
        stack::throw_error(*ready);
    }
    stack::throw_error(*error::create(id, arg1, arg2, arg3));
}

}  // namespace oka
