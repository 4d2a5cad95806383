#include "runtime/stack.h"

#include <algorithm>

#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/image_state.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/throw.h"
#include "runtime/types.h"

namespace oka::stack {

namespace {
Cell* block_end = nullptr;  // just past the data-stack block
}  // namespace

// The error is ready-made, and throwing it takes the two cells of the reserve and no call frame, so it
// cannot overflow again (raising it is the evaluator's, evaluator/raise.h). As the error leaves, the
// cells its throw took beyond `from` are given back with the reserve, so that a push on its way out (an
// epilog's tracer call) raises a new overflow rather than finding the reserve spent.
void overflow(Cell* from) {
    struct Reset {
        Cell* from;
        ~Reset() {
            end = block_end - kOverflowReserve;
            top = std::min(top, from);
        }
    } reset{from};
    top = from;
    end = block_end;
    fire(Err::internal_stack_overflow);
}

namespace {

// A context's node heads its context cell, whose word 2 is the values pointer.
Cell* context_cell(Node context) { return mem::ptr<Cell>(mem::buffer(context)->offset); }

Cell* cell_at(Addr address) { return mem::ptr<Cell>(address); }

// A function frame gives its context back the values pointer it had before the call.
void restore_context(const CallFrame& f) {
    if (f.function_context) context_cell(f.function_context)->set_values(f.saved_values);
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

void keep_in_images() {
    image_state::keep(bottom, end, frame_base, top, block_end);
    image_state::keep(call_bottom, call_top, call_end, saved_call_top);
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
    OKA_ASSERT(!function_context || (context_cell(function_context)->header & kValuesOnStack));
    push_frame(name, kind_bits(kFrameFunction), function_context,
               function_context ? context_cell(function_context)->values() : 0);
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
// return, whose target is a function, the nearest in-body frame). A try/all frame on the way hides
// every target behind it.
CallFrame* find_target(FrameKind target) {
    bool in_body = target == kFrameFunction;
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
// `missing` with the exit's value and name, so that the error can raise the exit again (do of it).
void resume_in_target(const Positions& at, FrameKind target, Err missing, const Cell* value = nullptr,
                      const Cell* name = nullptr) {
    CallFrame* frame = find_target(target);
    if (!frame) {
        at.restore();
        fire(missing, value, name);
    }
    call_top = frame + 1;
    frame_base = top = cell_at(frame[1].saved_base);
}

// break, continue, return and exit: the target frame resumes with the throwing native's first
// argument as its result when `has_value`, else with unset.
[[noreturn]] void throw_to(FrameKind target, bool has_value, Err missing, uint32_t code) {
    Positions at;
    resume_in_target(at, target, missing, has_value ? at.base : nullptr);
    if (has_value)
        copy_cell(at.base, frame_base);
    else
        frame_base->header = uint8_t(Type::Unset);
    sys::throw_(code);
}

}  // namespace

void throw_break(bool has_value) { throw_to(kFrameLoop, has_value, Err::throw_break, kThrowBreak); }

void throw_continue() { throw_to(kFrameLoop, false, Err::throw_continue, kThrowContinue); }

void throw_exit(bool has_value) {
    throw_to(kFrameFunction, has_value, Err::throw_return, has_value ? kThrowReturn : kThrowExit);
}

void throw_throw(uint32_t code) {
    Positions at;
    if (!saved_call_top) saved_call_top = call_top;
    resume_in_target(at, kFrameCatch, Err::throw_throw, at.base, at.base[1].is(Type::Unset) ? nullptr : at.base + 1);
    push(at.base[0]);
    push(at.base[1]);
    sys::throw_(code);
}

void mark_gc() {
    for (const CallFrame* f = call_bottom; f < call_top; f++) {
        collector::mark_series(f->name_context);
        collector::mark_series(f->function_context);
    }
}

}  // namespace oka::stack
