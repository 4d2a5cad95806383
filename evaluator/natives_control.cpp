// The control natives: conditionals, loops, and the non-local exits with the natives that catch them.
//
// A loop runs its body in a loop frame of its own, the frame that break and continue unroll to; the
// value of each pass lands in that frame's result slot, and closing the frame makes the last one the
// native's result. What a loop keeps while it runs (the series it walks, a counter) sits on the data
// stack below that frame.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "evaluator/trace.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "runtime/types.h"

namespace oka::natives {

namespace {

Cell* args() { return stack::arguments(); }

uint32_t length_of(const Cell& block) { return series::rs_buffer_length_q(block); }

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

// Evaluates the block in argument `index`; its last value becomes the native's result.
void do_arg(uint32_t index) { interpreter::eval_block(args()[index], true); }

// Evaluates a block found inside another value, kept on the data stack while it runs.
void do_kept(const Cell& block) {
    Cell* kept = stack::push(block);
    interpreter::eval_block(*kept, true);
}

// ---- conditionals ----

// Evaluates the expressions of the block in argument 1 one by one until the truth of one is `wanted`;
// answers whether one was. The last value evaluated is then in the result slot, none for an empty
// block.
bool eval_until(bool wanted) {
    Cell* conds = stack::push(args()[0]);  // the result slot takes each value
    none::box();
    for (uint32_t position = conds->head(); position < length_of(*conds);) {
        position = interpreter::eval_next(*conds, position, length_of(*conds), false);
        stack::top = conds + 1;
        if (logic::true_q(*stack::arguments()) == wanted) return true;
    }
    return false;
}

// No value of the cases matches.
constexpr int64_t kNoCase = -1;

// The index of the block that follows the first value of `cases` of the same datatype as `value` and
// equal to it, the length of `cases` when no block follows that value, or kNoCase. A block is never
// looked for.
int64_t find_case(Cell* value, const Cell& cases) {
    if (value->is(Type::Block)) return kNoCase;
    for (uint32_t i = cases.head(); i < length_of(cases); i++) {
        Cell candidate = *block::rs_abs_at(cases, i);
        if (!candidate.is(value->type()) || !actions::compare(value, &candidate, kCompareEqual)) continue;
        while (i < length_of(cases) && !block::rs_abs_at(cases, i)->is(Type::Block)) i++;
        return i;
    }
    return kNoCase;
}

// Evaluates the branch of a case at `position`: a block whole, anything else as one expression. Its
// value goes to the result slot; answers the position after it.
uint32_t eval_branch(const Cell& cases, uint32_t position) {
    Cell branch = *block::rs_abs_at(cases, position);
    if (!branch.is(Type::Block)) return interpreter::eval_next(cases, position, length_of(cases), false);
    do_kept(branch);
    return position + 1;
}

// ---- loops ----

// How one pass of a loop body ended.
enum class Pass { done, broken, continued };

// A loop: the frame that break and continue unroll to, whose result slot holds the loop's value (unset
// so far), and the passes that evaluate its blocks. The passes share one eval frame, kept open from
// pass to pass, since opening and closing a frame costs more than many a short body; a break or a
// continue takes that frame down with it and the next pass opens another. Tracing, whose enter and exit
// events come with each eval frame, opens one per pass.
class Loop {
public:
    Loop() : code_(interpreter::current_code) {
        stack::mark_loop(words::word(Word::body_tag));
        unset::push();
    }
    ~Loop() { interpreter::current_code = code_; }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    // Evaluates a block, its value left in the loop's result slot (the pass frame's slot is the same
    // cell). Break and continue end here; the other non-local exits pass on.
    Pass pass(const Cell& block) {
        return step([&] { evaluate(block); });
    }

    // A pass that first does the loop's own work of setting its words: the block runs unless a change
    // handler's break or continue ended the pass there.
    template <class F>
    Pass pass(const Cell& block, F&& set_words) {
        Pass set = step(set_words);
        return set == Pass::done ? pass(block) : set;
    }

    // A pass that first sets the loop's word to `value`: straight into the word's value cell where no
    // change handler can see the set, else as the loop's own work.
    Pass pass(const Cell& block, Cell* word, const Cell& value) {
        if (BufPtr<Cell> slot = _context::plain_slot(*word, word->context())) {
            *slot = value;
            return pass(block);
        }
        return pass(block, [&] { word::set_value(word, value); });
    }

    // Runs the loop's own work of a pass (setting its words, moving on, removing what a pass took),
    // in which change handlers may run: a break or a continue they throw reaches this loop's frame,
    // and is taken here as one from the body.
    template <class F>
    Pass step(F&& work) {
        uint32_t code = sys::protect(kThrowBreak, work);
        interpreter::current_code = code_;
        if (code != 0) pass_frame_ = false;  // the exit unrolled the stacks to the loop frame
        switch (code) {
        case 0: return Pass::done;
        case kThrowBreak: return Pass::broken;
        case kThrowContinue: return Pass::continued;
        default: sys::throw_(code);
        }
    }

    // Closes the loop frame: the loop's value becomes the native's result.
    void close() {
        close_pass_frame();
        stack::unwind_last();
    }

private:
    void evaluate(const Cell& block) {
        if (trace::tracing) {
            close_pass_frame();
            stack::reset();
            interpreter::eval_block(block, true);
            return;
        }
        stack::reset();
        if (!pass_frame_) {
            stack::mark_eval(words::word(Word::body_tag));
            pass_frame_ = true;
        }
        interpreter::eval_in_frame(block);
    }

    void close_pass_frame() {
        if (pass_frame_) stack::unwind();
        pass_frame_ = false;
    }

    Cell code_;  // the current-code cell, which each pass leaves at its block
    bool pass_frame_ = false;
};

// A float! count truncated toward zero in place, beyond the integer range the nearest end of it.
int32_t coerce_count(Cell& count) {
    if (count.is(Type::Float)) {
        double value = std::isnan(count.f64()) ? 0 : std::trunc(count.f64());
        integer::make_at(&count, int32_t(std::clamp(value, double(INT32_MIN), double(INT32_MAX))));
    }
    return integer::get(count);
}

// How many values each pass of foreach or remove-each takes: one for a word, one per word of a block
// of words (script invalid-arg for an empty block and for a value in it that is no word).
uint32_t count_loop_words(const Cell& words) {
    if (words.is(Type::Word)) return 1;
    uint32_t count = series::rs_length_q(words);
    if (count == 0) fire_with(Err::script_invalid_arg, words);
    for (uint32_t i = words.head(); i < words.head() + count; i++) word::settable_at(words, i);
    return count;
}

// Sets the loop words to the next `count` values of the series (none past its tail), of a map to the
// keys and values of its next entries. The series moves past them first, so that a change handler
// that ends the pass early leaves them behind.
void assign_next(Cell* series, const Cell& words, uint32_t count) {
    stack::Root values(*series);
    const Cell* entries = series->is(Type::Map) ? map::push_entries(&values.cell(), count) : nullptr;
    series->set_head(entries ? values.cell().head() : series->head() + count);
    for (uint32_t i = 0; i < count; i++) {
        // A change handler run by one of the sets may shorten the block of words: the rest go unset.
        if (words.is(Type::Block) && words.head() + i >= series::rs_buffer_length_q(words)) break;
        Cell word = words.is(Type::Block) ? word::settable_at(words, words.head() + i) : words;
        Cell value = entries ? entries[i] : *actions::call<Act::pick>(&values.cell(), int32_t(i + 1), nullptr);
        word::set_value(&word, value);
    }
}

// Removes the `count` values of the pass just run, which the series has moved past: with the others
// when the walk ends, unless an owner hears of each removal (or the series is an image, which holds its
// pixels elsewhere), which then goes at once.
void remove_passed(Cell* series, uint32_t count, series::Removals* removals) {
    if (removals && !ownership::owned_flag_q(series->node())) {
        removals->add(series->head() - count, count);
        return;
    }
    if (removals) removals->carry_out();
    series->set_head(series->head() - count);
    Cell part;
    integer::make_at(&part, int32_t(count));
    actions::call<Act::remove>(series, &part, nullptr);
}

// An image counts its pixels, which lie outside the language memory.
bool at_tail_q(const Cell& series) {
    return series.is(Type::Image) ? image::tail_q(series) : series::rs_tail_q(series);
}

// Whether values are left at the position of a loop over a series; a map's position first moves
// past its vacant entries.
bool more_values_q(Cell* series) { return series->is(Type::Map) ? map::rs_skip_vacant(series) : !at_tail_q(*series); }

// The loops over the values of a series: foreach, and remove-each, which removes the values of each
// pass whose body ends with a true value. foreach takes a map's entries as a key and a value each,
// so an odd number of words is refused.
void walk_series(bool removing) {
    Cell* loop_args = args();  // word or words, series, body
    uint32_t count = count_loop_words(loop_args[0]);
    if (loop_args[1].is(Type::Map) && count % 2) fire_with(Err::script_invalid_arg, loop_args[0]);
    // A walk over a series whose removals another walk holds reads it as they leave it.
    if (ownership::has_entry_type(loop_args[1].type())) series::carry_out_removals(loop_args[1].node());
    Cell* series = stack::push(loop_args[1]);
    Loop loop;
    std::optional<series::Removals> removals;
    if (removing && !series->is(Type::Image)) removals.emplace(series);
    series::Removals* held = removals ? &*removals : nullptr;
    while (more_values_q(series)) {
        Pass pass = loop.pass(loop_args[2], [&] { assign_next(series, loop_args[0], count); });
        if (pass == Pass::broken) break;
        bool accepted = pass == Pass::done && logic::true_q(*stack::frame_base);  // the body's value
        if (removing && accepted && loop.step([&] { remove_passed(series, count, held); }) == Pass::broken) break;
    }
    if (held) held->carry_out();
    loop.close();
}

// The same series buffer, whatever the position.
bool same_series_q(const Cell& a, const Cell& b) { return is_a(b.type(), TypeClass::series) && a.node() == b.node(); }

// Moves forall's word on by one from where the body left it; script bad-loop-series when the body set
// it to another series than the one at `start`.
void advance_loop_word(Cell* word, const Cell& start) {
    Cell position = *word::get_cell(*word);
    if (!same_series_q(start, position)) fire_with(Err::script_bad_loop_series, position);
    position.set_head(position.head() + 1);
    word::set_value(word, position);
}

// ---- exits ----

bool same_name_q(const Cell& a, const Cell& b) { return symbol::resolve(a.symbol()) == symbol::resolve(b.symbol()); }

// Whether catch/name takes a throw of that name (unset for a throw without one): `wanted` is a word or
// a block of words.
bool takes_throw_q(const Cell& name, const Cell& wanted) {
    if (wanted.is(Type::Word)) return name.is(Type::Word) && same_name_q(name, wanted);
    bool taken = false;
    for (uint32_t i = wanted.head(); i < length_of(wanted); i++) {
        Cell word = *block::rs_abs_at(wanted, i);
        if (!word.is(Type::Word)) error::fire_refinement("name", &wanted);
        taken = taken || (name.is(Type::Word) && same_name_q(name, word));
    }
    return taken;
}

}  // namespace

// ---- conditionals ----

void if_s(const int32_t*) {
    if (logic::false_q())
        none::box();
    else
        do_arg(1);
}

void unless_s(const int32_t*) {
    if (logic::false_q())
        do_arg(1);
    else
        none::box();
}

void either_s(const int32_t*) { do_arg(logic::check_q() ? 1 : 2); }

void any_s(const int32_t*) {
    if (!eval_until(true)) none::box();
}

void all_s(const int32_t*) {
    if (eval_until(false)) none::box();
}

void switch_s(const int32_t* positions) {
    Refinements<switch_slot> refinements(positions);
    Cell* switch_args = args();  // value, cases, default case
    int64_t found = find_case(&switch_args[0], switch_args[1]);
    if (found == kNoCase) {
        if (refinements.given("default"))
            do_arg(uint32_t(refinements.position("default")));
        else
            none::box();
    } else if (found < length_of(switch_args[1])) {
        do_kept(*block::rs_abs_at(switch_args[1], uint32_t(found)));
    } else {
        none::box();
    }
}

// Each pass evaluates a condition and, when it holds, the branch after it; without /all the first
// branch taken ends the search. The value is the last branch's when the last condition held, else
// none.
void case_s(const int32_t* positions) {
    bool all = Refinements<case_slot>(positions).given("all");
    Cell* cases = args();
    stack::mark_native(words::word(Word::anon_tag));
    bool taken = false;
    for (uint32_t position = cases->head(); position < length_of(*cases);) {
        stack::reset();
        position = interpreter::eval_next(*cases, position, length_of(*cases), false);
        if (position >= length_of(*cases))
            fire_with(Err::script_need_value, _context::add_global(words::id(Sym::case_)));
        taken = logic::check_q();
        if (!taken) {
            position++;
            continue;
        }
        position = eval_branch(*cases, position);
        if (!all) break;
    }
    if (!taken) none::box();
    stack::unwind_last();
}

// ---- loops ----

void while_s(const int32_t*) {
    Cell* loop_args = args();  // condition, body
    Loop loop;
    for (;;) {
        if (loop.pass(loop_args[0]) != Pass::done) fire(Err::throw_while_cond);
        if (!logic::check_q() || loop.pass(loop_args[1]) == Pass::broken) break;
    }
    loop.close();
    unset::box();
}

void until_s(const int32_t*) {
    Cell* body = args();
    Loop loop;
    for (;;) {
        Pass pass = loop.pass(*body);
        if (pass == Pass::broken || (pass == Pass::done && logic::check_q())) break;
    }
    loop.close();
}

void loop_s(const int32_t*) {
    Cell* loop_args = args();  // count, body
    int32_t count = coerce_count(loop_args[0]);
    if (count <= 0) {
        none::box();
        return;
    }
    Loop loop;
    for (int32_t pass = 0; pass < count; pass++)
        if (loop.pass(loop_args[1]) == Pass::broken) break;
    loop.close();
}

// The word is set to the counter at the start of each pass, so the body's own assignments to it do
// not change the count.
void repeat_s(const int32_t*) {
    Cell* loop_args = args();  // word, count, body
    int32_t count = coerce_count(loop_args[1]);
    if (count <= 0) {
        none::box();
        return;
    }
    Loop loop;
    for (int32_t counter = 1;; counter++) {
        Cell value;
        integer::make_at(&value, counter);
        Pass pass = loop.pass(loop_args[2], &loop_args[0], value);
        if (pass == Pass::broken || counter == count) break;
    }
    loop.close();
}

void forever_s(const int32_t*) {
    Cell* body = args();
    Loop loop;
    while (loop.pass(*body) != Pass::broken) {
    }
    loop.close();
}

void foreach_s(const int32_t*) { walk_series(false); }

void remove_each_s(const int32_t*) {
    walk_series(true);
    stack::set_last(args()[1]);
}

// The word walks its series: after each pass the position it holds then moves on by one, so the body
// may move it too. A normal end puts it back where it started; a break leaves it where it is.
void forall_s(const int32_t*) {
    Cell* loop_args = args();  // word, body
    Cell* start = stack::push(*word::get_cell(loop_args[0]));
    if (!is_a(start->type(), TypeClass::series)) error::fire_in_function(Err::script_expect_arg, start->type(), 0);
    Loop loop;
    Pass pass = Pass::done;
    while (pass != Pass::broken && !at_tail_q(*word::get_cell(loop_args[0]))) {
        pass = loop.pass(loop_args[1]);
        if (pass != Pass::broken) pass = loop.step([&] { advance_loop_word(&loop_args[0], *start); });
    }
    if (pass != Pass::broken) loop.step([&] { word::set_value(&loop_args[0], *start); });
    loop.close();
}

// ---- exits ----

void break_s(const int32_t* positions) { stack::throw_break(Refinements<break_slot>(positions).given("return")); }
void continue_s(const int32_t*) { stack::throw_continue(); }
void exit_s(const int32_t*) { stack::throw_exit(false); }
void return_s(const int32_t*) { stack::throw_exit(true); }

// The catch frame receives the thrown value and, in the cell after it, the throw's name.
void throw_s(const int32_t* positions) {
    if (trace::tracing) trace::fire_throw();
    interpreter::thrower_code = interpreter::current_code;
    if (!Refinements<throw_slot>(positions).given("name")) {
        stack::keep();
        unset::push();
    }
    stack::throw_throw(kThrowThrow);
}

// A throw this catch does not take goes on to the next catch frame with its value and name.
void catch_s(const int32_t* positions) {
    Cell* names = Refinements<catch_slot>(positions).arg("name");
    Cell* catch_args = args();  // block, names
    stack::mark_catch(words::word(Word::catch_));
    uint32_t code = sys::protect(kThrowThrow, [&] { interpreter::eval_block(catch_args[0], true); });
    if (code != 0 && code != kThrowThrow) sys::throw_(code);
    if (code == kThrowThrow) {
        // An error in the names is catch's own, not the thrower's; a throw passed on keeps its thrower.
        stack::CallFrame* thrower = std::exchange(stack::saved_call_top, nullptr);
        if (names && !takes_throw_q(stack::frame_base[1], *names)) {
            stack::saved_call_top = thrower;
            interpreter::current_code = interpreter::thrower_code;
            stack::throw_throw(kThrowThrow);
        }
    }
    stack::unwind_last();
    if (code == kThrowThrow && trace::tracing) trace::fire_catch();
}

// Without /all, break, continue, return, exit and throw pass through the try; with /all its frame
// stops them, so that they reach it as errors. A std::bad_alloc that no call turned into the no-memory
// error (one thrown by the interpreter's own work between calls) is turned into it here, where the try
// frame still takes it. A caught error keeps the names of the calls it arose in, with or without /keep,
// so that its stack field can be read.
void try_s(const int32_t* positions) {
    Refinements<try_slot> refinements(positions);
    bool all = refinements.given("all");
    Cell* base = stack::frame_base;
    stack::CallFrame* calls = stack::call_top;
    if (all)
        stack::mark_try_all(words::word(Word::try_));
    else
        stack::mark_try(words::word(Word::try_));
    uint32_t code =
        sys::protect(kThrowError, [&] { no_memory_for_bad_alloc([&] { interpreter::eval_block(base[0], true); }); });
    if (code == 0) {
        stack::unwind_last();
        return;
    }
    if (code != kThrowError && !all) sys::throw_(code);
    stack::frame_base = base;
    stack::call_top = calls;
    if (code == kThrowError) {
        // The error is taken from where the throw keeps it: C++ frames it unwound (a sort comparing by
        // a function, the reduction of print) may have dropped the copy it pushed on the data stack.
        stack::set_last(stack::thrown);
        stack::top = base + 1;
    } else {
        stack::adjust_post_try();
    }
    if (base->is(Type::Error)) error::capture_stack(*base);
}

}  // namespace oka::natives
