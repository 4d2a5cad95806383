/* Trace events: while `do/trace` runs, the interpreter reports every step of its work to a tracer
   function (values fetched and pushed, blocks entered and left, calls opened, made and returned,
   assignments, errors, throws and catches, top-level expressions).

   Events fire only while `tracing` is set; it is cleared while the tracer itself runs, so a tracer is
   never traced. Each scope that puts the flag back when it ends (a function body run in trace mode, a
   call back) is the innermost one until it ends, and switch_for_caller changes what it puts back. A
   tracer call leaves both stacks as it found them, unless a throw leaves the tracer. */
#pragma once

#include "runtime/cell.h"

namespace oka::trace {

enum Event : uint32_t {
    kInit = 0x1,
    kEnd = 0x2,
    kProlog = 0x4,
    kEpilog = 0x8,
    kEnter = 0x10,
    kExit = 0x20,
    kOpen = 0x40,
    kReturn = 0x80,
    kFetch = 0x100,
    kPush = 0x200,
    kSet = 0x400,
    kCall = 0x800,
    kError = 0x1000,
    kThrow = 0x2000,
    kCatch = 0x4000,
    kExpr = 0x8000,
};
inline constexpr uint32_t kDefaultMask = 0x1FFFF;

inline bool tracing = false;     // events are fired
inline bool trace_mode = false;  // a do/trace evaluation runs

// Makes the tracer cell (kept in the root block).
void init();
// Installs a tracer for a do/trace evaluation: the function and its event mask.
void set_tracer(const Cell& tracer);
// Ends a do/trace evaluation's hold on its tracer, which the collector may then free.
void clear_tracer();

// Calls the tracer with the event when its mask selects it. Any pointer may be null.
void fire_event(Event event, const Cell* code, int32_t position, const Cell* reference, const Cell* value);

void fire_init();
// `code` is that of the throw under way, 0 for none.
void fire_end(uint32_t code);
void fire_enter(const Cell& block);
void fire_exit(const Cell& block, const Cell& result);
void fire_fetch(const Cell& block, uint32_t position);
void fire_push(const Cell& value);
void fire_set(const Cell& target, const Cell& value);
void fire_open(const Cell& name);
void fire_call(const Cell& name, const Cell& function);
void fire_return(const Cell& name);
void fire_expr(const Cell& block, uint32_t position);
void fire_error(const Cell& error);
void fire_throw();
void fire_catch();

// Around an interpreted function body, inside a TracingRestored scope: a function marked trace turns
// tracing on while trace mode is set, one marked no-trace turns it off; prolog and epilog are fired.
// `code` is that of the throw that ends the body, 0 for none.
void enter_body(const Cell& function, const Cell& name);
void leave_body(const Cell& name, uint32_t code);

// The tracing flag as it was, put back however the scope ends: also by a throw out of the tracer.
class TracingRestored {
public:
    TracingRestored() : saved_(tracing), outer_(innermost_) { innermost_ = this; }
    ~TracingRestored() {
        tracing = saved_;
        innermost_ = outer_;
    }
    TracingRestored(const TracingRestored&) = delete;
    TracingRestored& operator=(const TracingRestored&) = delete;

private:
    friend void switch_for_caller(bool on);
    bool saved_;
    TracingRestored* outer_;
    static inline TracingRestored* innermost_ = nullptr;
};

// Switches tracing on or off for the code that called the running function body, from the moment that
// body returns (`trace true` and `trace false`, whose own body is never traced). It stays off outside
// trace mode.
void switch_for_caller(bool on);

// Tracing is off for a function the run-time calls back (a sort's comparator, a parse or lexer
// callback, a change handler, the tracer), and as it was once that returns.
class Untraced : TracingRestored {
public:
    Untraced() { tracing = false; }
};

}  // namespace oka::trace
