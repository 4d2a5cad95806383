/* The two stacks every call passes through.

   The data stack is one fixed block of value cells. The cells of the current frame run from
   `frame_base` up to (not including) `top`; a native or an action reads argument k at frame_base + k
   and leaves its result in the cell at frame_base (the result slot).

   The call stack is a fixed block used as an array of 20-byte call frames: one per function, native
   or action call, and one per try, catch, loop and interpreted block, so that non-local exits find
   their target and error reports can name the function they happened in. A block or paren that the
   interpreter evaluates while nothing traces goes without its frame (ElidedFrame): the evaluation moves
   the frame base as the frame would, and puts it back when it ends normally.

   A non-local exit resumes its target frame at the base that the first frame pushed above the target
   saved. That is the target's own base where the work above the target starts right at it (a loop's
   passes, a catch's block); a function body whose frame was left out starts above the arguments, and
   the interpreter moves a returned value down to the function's result slot itself.

   Both blocks are fixed series: they never move, so pointers into them stay valid across
   allocations. The cells of the data stack up to `top` and the contexts named by the frames are roots
   for the collector. */
#pragma once

#include "runtime/memory.h"

namespace oka::stack {

inline constexpr uint32_t kDataStackCells = 20000;
// Cells released to the error machinery on overflow: throw_error pushes the error and its thrown copy.
inline constexpr uint32_t kOverflowReserve = 2;

inline Cell* bottom = nullptr;  // first cell of the block
// Where pushes stop: kOverflowReserve cells short of the block's end, until an overflow releases those
// cells for building its error. The cells of the frames below stay as they are, so that a try frame
// among them still takes the error in its own slot.
inline Cell* end = nullptr;
inline Cell* frame_base = nullptr;
inline Cell* top = nullptr;  // next free cell

// Takes the data-stack block (a fixed series of kDataStackCells cells).
void init(Node data_stack);

inline Cell* arguments() { return frame_base; }

// Raises internal stack-overflow (for either stack); `from` is the data stack's top, which the error
// machinery takes with the reserve above `end` for room.
[[noreturn]] void overflow(Cell* from);

// Every call passes through the operations below, so they are defined here where they inline.

// Reserves the cell at top and returns it, holding unset. Reaching `end` raises internal
// stack-overflow. The cell holds unset until its caller fills it:
// callers often allocate before they write it, and the collector reads every cell below top.
OKA_ALWAYS_INLINE Cell* push_next() {
    Cell* cell = top++;
    if (top >= end) overflow(cell);
    cell->header = uint8_t(Type::Unset);
    return cell;
}

OKA_ALWAYS_INLINE Cell* push(const Cell& value) {
    Cell copy = value;  // the value may be the cell that push_next hands out
    Cell* cell = push_next();
    *cell = copy;
    return cell;
}

// Drops the last `n` cells pushed; there must be that many.
inline void pop(uint32_t n) {
    OKA_ASSERT(uint32_t(top - bottom) >= n);
    top -= n;
}
// The last cell pushed; the stack must hold one.
inline Cell* get_top() {
    OKA_ASSERT(top > bottom);
    return top - 1;
}
inline Cell* set_last(const Cell& value) { return copy_cell(&value, frame_base); }
inline Cell* set_last_keep(const Cell& value) {
    top = frame_base + 1;
    return set_last(value);
}
inline Cell* reset() {
    top = frame_base;
    return frame_base;
}
inline Cell* keep() {
    top = frame_base + 1;
    return frame_base;
}
// If the cell below top is an error!, it becomes the result; the frame keeps only its result slot.
void adjust_post_try();

// Keeps a value (and what it refers to) alive while C++ code builds it: a copy sits on the data stack
// for the life of the scope, which then drops everything pushed since.
class Root {
public:
    explicit Root(const Cell& value) : cell_(push(value)) {}
    // A series held by its node alone sits there as a block! when it holds cells, else as a string!: a
    // value of the kind its buffer holds, as whatever reads the stack expects.
    explicit Root(Node node) : Root(Cell::of(holding_type(node)).set_node(node)) {}
    ~Root() { top = cell_; }
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    Cell& cell() { return *cell_; }

private:
    static Type holding_type(Node node) {
        return mem::buffer(node)->unit() == sizeof(Cell) ? Type::Block : Type::String;
    }
    Cell* cell_;
};

// ---- call frames ----

enum FrameKind : uint32_t {
    kFrameFunction = 1,
    kFrameNative = 2,  // also actions and the bodies of library functions
    kFrameTry = 4,
    kFrameTryAll = 5,
    kFrameCatch = 6,
    kFrameEval = 7,  // an interpreted block evaluation
    kFrameLoop = 8,
};

inline constexpr uint32_t kFrameInBody = 1u << 28;       // the frame that return and exit leave
inline constexpr uint32_t kFrameInterpreted = 1u << 31;  // pushed by the interpreter

struct CallFrame {
    uint32_t header;        // bits 8-23 the name's symbol id, 24-27 the kind, plus the flags above
    Addr saved_base;        // the caller's frame base (a data-stack cell)
    Node name_context;      // context of the name word (a series node for a frame named self)
    Node function_context;  // context of the called function, 0 for other frames
    Addr saved_values;      // the values pointer that context held before the call (a data-stack cell)

    uint32_t symbol() const { return (header >> 8) & 0xFFFF; }
    FrameKind kind() const { return FrameKind((header >> 24) & 0xF); }
};
static_assert(sizeof(CallFrame) == 20);

inline constexpr uint32_t kCallStackCells = 15000;

inline CallFrame* call_bottom = nullptr;
inline CallFrame* call_end = nullptr;
inline CallFrame* call_top = nullptr;        // next free frame
inline CallFrame* saved_call_top = nullptr;  // the thrower's frame, kept for naming by throw_throw

// Takes the call-stack block (a fixed series of kCallStackCells cells).
void init_calls(Node call_stack);
// Keeps what this module holds of the language memory in every heap image (runtime/image_state.h).
void keep_in_images();

constexpr uint32_t kind_bits(FrameKind kind) { return uint32_t(kind) << 24; }

OKA_ALWAYS_INLINE void push_frame(const Cell& name, uint32_t header, Node function_context, Addr saved_values) {
    if (call_top >= call_end) overflow(top);
    *call_top++ = {(name.symbol() & 0xFFFF) << 8 | header, mem::addr(frame_base), name.context(), function_context,
                   saved_values};
    frame_base = top;
}

// Pushes a frame named by `name` (a word) with a header constant of kind and flags; the new frame's
// arguments start at top. Raises internal stack-overflow when the call stack is full.
inline void mark(const Cell& name, uint32_t header) { push_frame(name, header, 0, 0); }
void mark_func(const Cell& name, Node function_context);
inline void mark_native(const Cell& name) { mark(name, kind_bits(kFrameNative)); }
inline void mark_interp_native(const Cell& name) { mark(name, kind_bits(kFrameNative) | kFrameInterpreted); }
inline void mark_interp_func(const Cell& name) { mark(name, kind_bits(kFrameFunction) | kFrameInterpreted); }
inline void mark_try(const Cell& name) { mark(name, kind_bits(kFrameTry)); }
inline void mark_try_all(const Cell& name) { mark(name, kind_bits(kFrameTryAll)); }
inline void mark_catch(const Cell& name) { mark(name, kind_bits(kFrameCatch)); }
inline void mark_eval(const Cell& name) { mark(name, kind_bits(kFrameEval) | kFrameInterpreted); }
inline void mark_loop(const Cell& name) { mark(name, kind_bits(kFrameLoop)); }

// A frame that the interpreter leaves out where nothing can tell it from one pushed: it counts against
// the call stack's room while it lasts, so that runaway recursion overflows at the same depth, with or
// without the frames. Making it raises internal stack-overflow where pushing the frame would.
class ElidedFrame {
public:
    ElidedFrame() {
        if (call_top >= call_end) overflow(top);
        call_end--;
    }
    ~ElidedFrame() { call_end++; }
    ElidedFrame(const ElidedFrame&) = delete;
    ElidedFrame& operator=(const ElidedFrame&) = delete;
};

void set_in_body(bool flag);
void set_interp_flag();
inline CallFrame* get_ctop() { return call_top - 1; }

// Pop the top frame, leaving its result as the next cell of the caller's frame; unwind_last also
// copies it into the caller's result slot, unwind_func gives a function's context its values pointer
// back.
inline void unwind() {
    CallFrame& f = *--call_top;
    top = frame_base + 1;
    frame_base = mem::ptr<Cell>(f.saved_base);
}
inline void unwind_last() {
    Cell* result = frame_base;
    unwind();
    copy_cell(result, frame_base);
}
void unwind_func();

// Pops frames down to the nearest frame of `kind` (a try/all frame stops every unroll); the matched
// frame stays on the call stack. Answers the kind of the last frame popped, which tells whether the
// unroll found its frame or ran out of frames.
FrameKind unroll_to(FrameKind kind, bool inclusive);

// break and continue (code kThrowBreak / kThrowContinue), return and exit, and throw: each finds its
// target frame, puts the stacks in the state that frame resumes in, and throws.
[[noreturn]] void throw_break(bool has_value);
[[noreturn]] void throw_continue();
[[noreturn]] void throw_exit(bool has_value);
[[noreturn]] void throw_throw(uint32_t code);

// The value of the throw in flight (the error of kThrowError): C++ frames that a throw unwinds may
// restore the stack tops, so the value is kept here rather than only on the data stack. A root for the
// collector.
inline Cell thrown;

// An error goes to its try frame through stack::throw_error (evaluator/raise.h), which names the
// frames it passed by their words (datatypes/error.h).

// ---- the collector ----

// Marks what the call frames name: each frame's name context and called context.
void mark_gc();

}  // namespace oka::stack
