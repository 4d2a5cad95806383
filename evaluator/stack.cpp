#include "evaluator/stack.h"

#include <algorithm>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/root.h"
#include "runtime/throw.h"
#include "runtime/words.h"

namespace oka::stack {

namespace {
Cell* block_end = nullptr;  // just past the data-stack block
}  // namespace

// The error is ready-made, and throwing it takes the two cells of the reserve and no call frame, so it
// cannot overflow again. A tracer does not hear of the error: its call needs room on the stacks that
// are full. As the error leaves, the cells its throw took beyond `from` are given back with the reserve,
// so that a push on its way out (an epilog's tracer call) raises a new overflow rather than finding the
// reserve spent.
void overflow(Cell* from) {
    struct Reset {
        Cell* from;
        ~Reset() {
            end = block_end - kOverflowReserve;
            top = std::min(top, from);
        }
    } reset{from};
    trace::Untraced untraced;
    top = from;
    end = block_end;
    cycles::reset();
    fire(Err::internal_stack_overflow);
}

namespace {

using _context::context_cell;

Cell* cell_at(Addr address) { return mem::ptr<Cell>(address); }

// A function frame gives its context back the values pointer it had before the call.
void restore_context(const CallFrame& f) {
    if (f.function_context) context_cell(f.function_context)->data2 = f.saved_values;
}

void restore_function_context(const CallFrame& f) {
    if (f.kind() == kFrameFunction) restore_context(f);
}

CallFrame& pop_frame() { return *--call_top; }

}  // namespace

void init(Node data_stack) {
    SeriesBuffer* b = mem::buffer(data_stack).get();  // a fixed series: the pointer stays valid
    OKA_ASSERT(b->flags & kSeriesFixed);
    bottom = frame_base = top = mem::ptr<Cell>(b->offset);
    block_end = mem::ptr<Cell>(b->data_end());
    end = block_end - kOverflowReserve;
    runtime::register_root(&thrown);
}

void adjust_post_try() {
    if (top > frame_base && top[-1].is(Type::Error)) copy_cell(top - 1, frame_base);
    top = frame_base + 1;
}

void init_calls(Node call_stack) {
    SeriesBuffer* b = mem::buffer(call_stack).get();  // a fixed series: the pointer stays valid
    OKA_ASSERT(b->flags & kSeriesFixed);
    call_bottom = call_top = mem::ptr<CallFrame>(b->offset);
    call_end = call_bottom + b->size / sizeof(CallFrame);
    saved_call_top = nullptr;
}

// A function's context keeps its values on the data stack, so the values pointer the frame saves is a
// stack address, which the collector has no need to mark.
void mark_func(const Cell& name, Node function_context) {
    OKA_ASSERT(!function_context || (context_cell(function_context)->header & _context::kValuesOnStack));
    push_frame(name, kind_bits(kFrameFunction), function_context,
               function_context ? context_cell(function_context)->data2 : 0);
}

void set_in_body(bool flag) {
    if (flag)
        get_ctop()->header |= kFrameInBody;
    else
        get_ctop()->header &= ~kFrameInBody;
}

void set_interp_flag() { get_ctop()->header |= kFrameInterpreted; }

// ---- unwinding ----

void unwind_func() {
    restore_context(call_top[-1]);
    unwind();
}

// ---- non-local exits ----

FrameKind unroll_to(FrameKind kind, bool inclusive) {
    CallFrame* remembered = call_top;
    FrameKind last;
    for (;;) {
        CallFrame& f = pop_frame();
        restore_function_context(f);
        last = f.kind();
        if (call_top <= call_bottom || last == kind || last == kFrameTryAll) break;
    }
    if (inclusive) call_top++;
    if (call_top == remembered) {
        top = frame_base + 1;
    } else if (call_top == call_bottom) {
        frame_base = top = bottom;
    } else {
        top = frame_base + 1;
        frame_base = cell_at(call_top->saved_base);
    }
    if (!inclusive) call_top++;
    return last;
}

namespace {

// The positions a throw restores when it finds no target: the stacks as the throwing native had them.
struct Positions {
    Cell* base = frame_base;
    Cell* data_top = top;
    CallFrame* calls = call_top;
    void restore() const {
        frame_base = base;
        top = data_top;
        call_top = calls;
    }
};

// Walks down from the throwing native's own frame for the nearest frame of `target` kind (or, for a
// return, the nearest in-body frame). A try/all frame on the way hides every target behind it.
CallFrame* find_target(FrameKind target, bool in_body) {
    if (call_top == call_bottom) return nullptr;
    CallFrame* f = call_top - 1;  // the frame of the native that throws is never the target
    for (;;) {
        if (f->kind() == kFrameTryAll) return nullptr;
        if (f == call_bottom) return nullptr;
        f--;
        if (in_body ? (f->header & kFrameInBody) : f->kind() == target) return f;
    }
}

// Keeps the frame a throw goes to as the top frame and resumes in its own frame, which is left empty.
// Without such a frame, puts back the stacks as the throwing native had them (`at`) and raises
// `missing` with `argument`.
void resume_in_target(const Positions& at, FrameKind target, bool in_body, Err missing,
                      const Cell* argument = nullptr) {
    CallFrame* frame = find_target(target, in_body);
    if (!frame) {
        at.restore();
        fire(missing, argument);
    }
    call_top = frame + 1;
    frame_base = top = cell_at(frame[1].saved_base);
}

// break, continue, return and exit: the target frame resumes with the throwing native's first
// argument as its result when `has_value`, else with unset.
[[noreturn]] void throw_to(FrameKind target, bool in_body, bool has_value, Err missing, uint32_t code) {
    Positions at;
    resume_in_target(at, target, in_body, missing);
    if (has_value)
        copy_cell(at.base, frame_base);
    else
        unset::make_at(frame_base);
    sys::throw_(code);
}

}  // namespace

void throw_break(bool has_value, bool continue_) {
    if (continue_) throw_to(kFrameLoop, false, false, Err::throw_continue, kThrowContinue);
    throw_to(kFrameLoop, false, has_value, Err::throw_break, kThrowBreak);
}

void throw_exit(bool has_value) {
    throw_to(kFrameFunction, true, has_value, Err::throw_return, has_value ? kThrowReturn : kThrowExit);
}

void throw_throw(uint32_t code) {
    Positions at;
    if (!saved_call_top) saved_call_top = call_top;
    resume_in_target(at, kFrameCatch, false, Err::throw_throw, at.base);
    push(at.base[0]);
    push(at.base[1]);
    sys::throw_(code);
}

namespace {

uint32_t frame_symbol(Word w) { return words::word(w).data2 & 0xFFFF; }

// Frames named <body> or <anon>, or by no word at all, are skipped when frames are named.
bool is_named(const CallFrame& f) {
    return f.symbol() != 0 && f.symbol() != frame_symbol(Word::body_tag) && f.symbol() != frame_symbol(Word::anon_tag);
}

// The word that names a frame, read in the context its name was bound to. A frame named self holds a
// series node there, not a context, and a name that was never bound reads as a global word.
Cell name_of(const CallFrame& f) {
    uint32_t symbol = f.symbol();
    if (symbol == words::id(Sym::self)) return Cell{uint8_t(Type::Word), 0, symbol, uint32_t(-1)};
    return word::find_in(f.name_context ? f.name_context : _context::global, symbol);
}

// True when the frame's name is worth showing at `level`: any name above level 1, else functions.
bool listed_at(int32_t level, const CallFrame& f) {
    if (!is_named(f)) return false;
    if (level > 1) return true;
    Cell name = name_of(f);
    return name.data1 && word::get_cell(name)->is(Type::Function);
}

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

Cell get_call_name() {
    CallFrame* f = saved_call_top ? saved_call_top : call_top;
    saved_call_top = nullptr;
    while (f > call_bottom) {
        --f;
        if (is_named(*f)) return name_of(*f);
    }
    return words::word(Word::not_found_tag);
}

Cell* push_trace_words(int32_t level, CallFrame* end) {
    // The unwound frames stay roots while their names are read: a context that only they name must live
    // through the allocations below. Their records are intact, as no frame has been pushed since.
    CallFrame* saved = call_top;
    call_top = std::max(call_top, end);
    struct Restore {
        CallFrame* top;
        ~Restore() { call_top = top; }
    } restore{saved};
    Cell* names = block::push_only_s(20);
    for (CallFrame* f = call_bottom; f < end; f++)
        if (listed_at(level, *f)) *alloc::alloc_tail(*names) = name_of(*f);
    return names;
}

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

void mark_gc() {
    for (const CallFrame* f = call_bottom; f < call_top; f++) {
        collector::mark_series(f->name_context);
        collector::mark_series(f->function_context);
    }
}

}  // namespace oka::stack
