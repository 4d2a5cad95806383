#include "evaluator/trace.h"

#include <initializer_list>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace oka::trace {

namespace {

Cell tracer_cell;
uint32_t event_mask = kDefaultMask;
bool tracer_runs = false;  // no function turns tracing on meanwhile: the tracer would be called again

// Marks the tracer's run however it ends. Its call, as every call back, is untraced.
struct TracerRun {
    TracerRun() { tracer_runs = true; }
    ~TracerRun() { tracer_runs = false; }
};

Cell& tracer() { return tracer_cell; }

// An error, throw or break on its way out has unrolled the call frames up to its target, while the C++
// calls of the natives it passed (a catch among them) are yet to be unwound. A tracer called meanwhile
// runs behind a try/all frame: a throw of its own stops there as the no-catch error, which goes on to
// the target, and never resumes in a catch whose frame is gone. A return or exit has unrolled nothing
// beyond the body it leaves.
bool unwinding = false;

struct Unwinding {
    explicit Unwinding(uint32_t code) : outer(unwinding) {
        unwinding = code != 0 && code != kThrowReturn && code != kThrowExit;
    }
    ~Unwinding() { unwinding = outer; }
    Unwinding(const Unwinding&) = delete;
    Unwinding& operator=(const Unwinding&) = delete;
    bool outer;
};

// The word of each event, in bit order.
struct EventName {
    Event event;
    bool global;  // named by a global word rather than one of the run-time's word cells
    uint16_t id;
};
constexpr EventName kEventNames[] = {
    {kInit, false, uint16_t(Word::init)},     {kEnd, true, uint16_t(Sym::end)},
    {kProlog, false, uint16_t(Word::prolog)}, {kEpilog, false, uint16_t(Word::epilog)},
    {kEnter, false, uint16_t(Word::enter)},   {kExit, false, uint16_t(Word::exit)},
    {kOpen, false, uint16_t(Word::open)},     {kReturn, false, uint16_t(Word::return_)},
    {kFetch, false, uint16_t(Word::fetch)},   {kPush, false, uint16_t(Word::push)},
    {kSet, true, uint16_t(Sym::set)},         {kCall, false, uint16_t(Word::call)},
    {kError, false, uint16_t(Word::error)},   {kThrow, false, uint16_t(Word::throw_)},
    {kCatch, false, uint16_t(Word::catch_)},  {kExpr, false, uint16_t(Word::expr)},
};

uint32_t event_symbol(const EventName& e) { return e.global ? words::id(Sym(e.id)) : words::word(Word(e.id)).symbol(); }

Cell event_word(Event event) {
    for (const EventName& e : kEventNames)
        if (e.event == event) return _context::add_global(event_symbol(e));
    return none::value;
}

bool carries_reference(Event event) {
    return event == kSet || event == kEpilog || event == kProlog || event == kReturn || event == kCall;
}

// A position in the code as an offset from its head; -1 outside the code, or without code. The tail is
// in the code: a block's exit is reported there.
int32_t offset_in(const Cell* code, int32_t position) {
    if (!code || position < int32_t(code->head())) return -1;
    uint32_t length = mem::buffer(code->node())->length();
    return uint32_t(position) <= length ? position - int32_t(code->head()) : -1;
}

// A break, return or exit under way leaves its value in the result slot of the frame it resumes, which
// it empties: the cell at top, where the tracer's call would start. Counted in, the value is kept.
void keep_pending_result() {
    if (stack::top == stack::frame_base) stack::keep();
}

// An error on its way to try leaves the frames it passed as they were, for try to name; a tracer called
// with the event meanwhile would make its calls in their place, so their names are taken first.
void keep_error_frames(Event event, uint32_t code) {
    if (code == kThrowError && (event_mask & event)) error::capture_stack(stack::thrown);
}

// The events a tracer asks for: the words of the first block of its body, or every event.
uint32_t tracer_event_mask(const Cell& function) {
    Cell body = *function::extra(function, function::kBody);
    if (!body.is(Type::Block) || block::rs_length_q(body) == 0) return kDefaultMask;
    Cell first = *block::rs_abs_at(body, body.head());
    if (!first.is(Type::Block)) return kDefaultMask;
    uint32_t mask = 0;
    for (uint32_t i = first.head(); i < mem::buffer(first.node())->length(); i++) {
        Cell word = *block::rs_abs_at(first, i);
        if (!word.is(Type::Word)) continue;
        for (const EventName& e : kEventNames)
            if (symbol::resolve(word.symbol()) == symbol::resolve(event_symbol(e))) mask |= e.event;
    }
    return mask;
}

}  // namespace

void init() {
    none::make_at(&tracer_cell);
    runtime::register_root(&tracer_cell);
}

void set_tracer(const Cell& function) {
    tracer() = function;
    event_mask = tracer_event_mask(function);
}

void clear_tracer() { none::make_at(&tracer_cell); }

void fire_event(Event event, const Cell* code, int32_t position, const Cell* reference, const Cell* value) {
    if (!(event_mask & event)) return;
    // The stacks as the interrupted code left them, put back once the tracer returns. A throw out of the
    // tracer leaves them as it set them for its target.
    Cell* interrupted_top = stack::top;
    Cell* interrupted_base = stack::frame_base;
    stack::CallFrame* interrupted_calls = stack::call_top;
    int32_t base = int32_t(stack::frame_base - stack::bottom), top = int32_t(stack::top - stack::bottom);
    Cell function = tracer();
    Cell word = event_word(event);
    Cell block = code ? *code : none::value;
    Cell observed = value && value->type() != Type::Void ? *value : none::value;
    Cell referenced = reference && carries_reference(event) ? *reference : none::value;
    int32_t offset = offset_in(code, position);
    // A cell the interrupted code may have reserved, to fill once the tracer returns. It holds unset
    // meanwhile, since the collector reads every cell below top.
    stack::push_next();
    // The event's values wait below the tracer's frame while it runs: it may overwrite its arguments,
    // and the interrupted code may hold them nowhere else once the tracer drops them from the code.
    for (const Cell& kept : {block, observed, referenced}) stack::push(kept);
    // An error may be in flight (the end and epilog events come while one unwinds the stacks): an error
    // the tracer raises and catches takes its place where throws keep it, so it waits here and goes back.
    Cell* in_flight = stack::push(stack::thrown);
    if (unwinding) stack::mark_try_all(words::word(Word::interp_callback_tag));
    // A tracer's spec may name fewer or more than these six arguments: it takes those it has room for,
    // and its other arguments, refinements and locals start as in any call.
    Cell* arguments = stack::top;
    stack::push(word);
    stack::push(block);
    integer::push(offset);
    stack::push(observed);
    stack::push(referenced);
    pair::push(base, top);
    TracerRun run;
    interpreter::call_handler(function, arguments, uint32_t(stack::top - arguments), Word::interp_callback_tag);
    stack::thrown = *in_flight;
    stack::frame_base = interrupted_base;
    stack::top = interrupted_top;
    stack::call_top = interrupted_calls;
}

void fire_init() { fire_event(kInit, nullptr, -1, nullptr, nullptr); }
void fire_end(uint32_t code) {
    keep_error_frames(kEnd, code);
    keep_pending_result();
    Unwinding unwinding_now(code);
    fire_event(kEnd, nullptr, -1, nullptr, nullptr);
}
void fire_enter(const Cell& block) { fire_event(kEnter, &block, int32_t(block.head()), nullptr, nullptr); }
void fire_exit(const Cell& block, const Cell& result) {
    fire_event(kExit, &block, int32_t(mem::buffer(block.node())->length()), nullptr, &result);
}
void fire_fetch(const Cell& block, uint32_t position) {
    Cell value = *block::rs_abs_at(block, position);
    fire_event(kFetch, &block, int32_t(position), nullptr, &value);
}
void fire_push(const Cell& value) { fire_event(kPush, nullptr, -1, nullptr, &value); }
void fire_set(const Cell& target, const Cell& value) { fire_event(kSet, nullptr, -1, &target, &value); }
void fire_open(const Cell& name) { fire_event(kOpen, nullptr, -1, &name, &name); }
// An operator runs as the function it wraps; its call is reported with the operator its word names.
void fire_call(const Cell& name, const Cell& function) {
    Cell called = function;
    if (name.is(Type::Word) && name.context()) {
        Cell value = *word::get_cell(name);
        // The op! wraps this very function when it holds the function's own extras block.
        Cell wrapped = op::unwrap(value);
        if (value.is(Type::Op) && wrapped.type() == function.type() && wrapped.spec() == function.spec() &&
            wrapped.extras() == function.extras())
            called = value;
    }
    fire_event(kCall, nullptr, -1, &name, &called);
}
// Fired once the call's frame is popped, which leaves its result as the last cell pushed.
void fire_return(const Cell& name) { fire_event(kReturn, nullptr, -1, &name, stack::top - 1); }
void fire_expr(const Cell& block, uint32_t position) {
    fire_event(kExpr, &block, int32_t(position), nullptr, stack::frame_base);
}
void fire_error(const Cell& error) { fire_event(kError, nullptr, -1, nullptr, &error); }
void fire_throw() { fire_event(kThrow, nullptr, -1, nullptr, stack::frame_base); }
void fire_catch() { fire_event(kCatch, nullptr, -1, nullptr, stack::frame_base); }

void enter_body(const Cell& function, const Cell& name) {
    if (trace_mode && !tracer_runs && (function.header & function::kTrace)) tracing = true;
    if (function.header & (function::kNoTrace | function::kCompiled)) tracing = false;
    if (tracing) fire_event(kProlog, nullptr, -1, &name, nullptr);
}

void leave_body(const Cell& name, uint32_t code) {
    if (!tracing) return;
    keep_error_frames(kEpilog, code);
    keep_pending_result();
    Unwinding unwinding_now(code);
    fire_event(kEpilog, nullptr, -1, &name, nullptr);
}

void switch_for_caller(bool on) {
    if (!trace_mode) return;
    if (TracingRestored* scope = TracingRestored::innermost_)
        scope->saved_ = on;
    else
        tracing = on;
}

}  // namespace oka::trace
