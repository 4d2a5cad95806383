#include "evaluator/port_actor.h"

#include <algorithm>
#include <initializer_list>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/error.h"
#include "runtime/stack.h"

namespace oka::port_actor {

namespace {

// ---- the cells an actor function receives ----

Cell flag(bool on) { return on ? logic::true_value : logic::false_value; }
Cell or_none(const Cell* argument) { return argument ? *argument : none::value; }
Cell given(const Cell* argument) { return flag(argument != nullptr); }
// A count of the edit actions: -1 when the refinement is absent.
Cell count_or_none(int32_t count) {
    Cell cell = none::value;
    if (count >= 0) integer::make_at(&cell, count);
    return cell;
}

// Calls the actor's function named after action A on the port and `cells`, in a frame named by the
// action's word. The port's copy on the data stack receives the result and is answered.
template <Act A>
Cell* forward(Cell* port, std::initializer_list<Cell> cells) {
    Cell* arguments = stack::push(*port);
    Cell actor = port::get_actor(*arguments);
    for (const Cell& cell : cells) stack::push(cell);
    uint32_t symbol = symbol::make(kActionWords[int(A) - 1]);
    Cell name;
    word::make_at(symbol, &name);
    Cell function = *object::rs_select(actor, symbol);
    if (!function.is(Type::Function)) fire(Err::access_no_port_action, &name);
    interpreter::call_function(function, arguments, uint32_t(cells.size()) + 1, name);
    return arguments;
}

// The actions whose result goes to the frame's result slot.
template <Act A>
void forward_to_frame(Cell* port, std::initializer_list<Cell> cells) {
    stack::set_last(*forward<A>(port, cells));
}

// The actions that read their operands from the frame: the port and, for some, one more argument.
template <Act A>
void forward_frame() {
    forward_to_frame<A>(stack::arguments(), {});
}
template <Act A>
void forward_frame_with_argument() {
    forward_to_frame<A>(stack::arguments(), {stack::arguments()[1]});
}

template <Act A>
const Cell* forward_alone(Cell* port) {
    return forward<A>(port, {});
}

template <Act A>
void forward_edit(Cell* port, Cell* value, const EditOptions& options) {
    forward_to_frame<A>(port, {*value, flag(options.part >= 0), count_or_none(options.part), flag(options.only),
                               flag(options.dup != 1), count_or_none(options.dup != 1 ? options.dup : -1)});
}

template <Act A>
void forward_insertion(Cell* port, Cell* value, const EditOptions& options, bool) {
    forward_edit<A>(port, value, options);
}

const Cell* copy(Cell* port, Cell* result, const CopyOptions& options) {
    *result = *forward<Act::copy>(port, {given(options.part), or_none(options.part), flag(options.deep),
                                         given(options.types), or_none(options.types)});
    return result;
}

const Cell* find(Cell* port, Cell* value, const FindOptions& o) {
    return forward<Act::find>(port, {*value, given(o.part), or_none(o.part), flag(o.only), flag(o.case_), flag(o.same),
                                     flag(o.any), given(o.with), or_none(o.with), given(o.skip), or_none(o.skip),
                                     flag(o.last), flag(o.reverse), flag(o.tail), flag(o.match)});
}

const Cell* select(Cell* port, Cell* value, const SelectOptions& o) {
    return forward<Act::select>(
        port, {*value, given(o.part), or_none(o.part), flag(o.only), flag(o.case_), flag(o.same), flag(o.any),
               given(o.with), or_none(o.with), given(o.skip), or_none(o.skip), flag(o.last), flag(o.reverse)});
}

// An actor's answer of length?: an integer!, or none as anything else is.
int32_t length_q(Cell* port) {
    const Cell* length = forward<Act::length_q>(port, {});
    return length->is(Type::Integer) && integer::get(*length) >= 0 ? integer::get(*length) : -1;
}

const Cell* move(Cell* port, Cell* target, Cell* part) {
    return forward<Act::move>(port, {*target, given(part), or_none(part)});
}

const Cell* pick(Cell* port, int32_t, Cell* index) { return forward<Act::pick>(port, {*index}); }

const Cell* poke(Cell* port, int32_t, Cell* value, Cell* index) { return forward<Act::poke>(port, {*index, *value}); }

const Cell* put(Cell* port, Cell* key, Cell* value, bool case_) {
    return forward<Act::put>(port, {*key, *value, flag(case_)});
}

const Cell* modify(Cell* port, Cell* field, Cell* value, bool case_) {
    return stack::set_last(*forward<Act::modify>(port, {*field, *value, flag(case_)}));
}

void clear(Cell* port) { forward_to_frame<Act::clear>(port, {}); }

void remove(Cell* port, Cell* part, Cell*) { forward_to_frame<Act::remove>(port, {given(part), or_none(part)}); }

void reverse(Cell* port, Cell* part, Cell*) { forward_to_frame<Act::reverse>(port, {given(part), or_none(part)}); }

const Cell* sort(Cell* port, const SortOptions& o) {
    return forward<Act::sort>(
        port, {flag(o.case_), given(o.skip), or_none(o.skip), given(o.compare), or_none(o.compare), given(o.part),
               or_none(o.part), flag(o.all), flag(o.reverse), flag(o.stable)});
}

void swap(Cell* port, Cell* other) { forward_to_frame<Act::swap>(port, {*other}); }

const Cell* take(Cell* port, Cell* part, bool deep, bool last) {
    return forward<Act::take>(port, {given(part), or_none(part), flag(deep), flag(last)});
}

void trim(Cell* port, const TrimOptions& o) {
    forward_to_frame<Act::trim>(
        port, {flag(o.head), flag(o.tail), flag(o.auto_), flag(o.lines), flag(o.all), given(o.with), or_none(o.with)});
}

const Cell* open(Cell* port, const OpenOptions& o) {
    return forward<Act::open>(port, {flag(o.new_), flag(o.read), flag(o.write), flag(o.seek), or_none(o.allow)});
}

const Cell* rename(Cell* port, Cell* to) { return forward<Act::rename>(port, {*to}); }

// ---- read and write ----

// The call frames that an error unwound stay as they were until the try that takes it has named them
// (try/keep): the frame above them, which the error recorded, or the call stack's top for any other
// throw.
stack::CallFrame* above_unwound_frames() {
    if (!stack::thrown.is(Type::Error)) return stack::call_top;
    Cell recorded = *error::field(stack::thrown, error::kStack);
    if (!recorded.is(Type::Integer)) return stack::call_top;
    return std::max(stack::call_top, mem::ptr<stack::CallFrame>(Addr(integer::get(recorded))));
}

// Runs `step` on an open port and answers its result; when the step ends in a throw of any kind, the
// port is closed first. The throw has already put the stacks where it goes on from, with what it carries
// at their top, so the port is taken before anything is pushed and the close runs above all that: its
// values above the data stack's top, its frames above those the throw unwound.
template <class Step>
Cell* closing_on_throw(Cell* port, Step step) {
    try {
        return step();
    } catch (...) {
        Cell open_port = *port;
        Cell* thrown = stack::push(stack::thrown);
        Cell* base = stack::frame_base;
        stack::CallFrame* calls = stack::call_top;
        stack::frame_base = stack::top;
        stack::call_top = above_unwound_frames();
        forward<Act::close>(stack::push(open_port), {});
        stack::frame_base = base;
        stack::call_top = calls;
        stack::thrown = *thrown;
        stack::top = thrown;
        throw;
    }
}

// The port's contents, up to /part.
Cell* copy_part(Cell* port, Cell* part) {
    return forward<Act::copy>(port, {given(part), or_none(part), flag(false), flag(false), none::value});
}

// Ends a read or write: the port is closed and the copy is the result.
const Cell* close_with(Cell* port, Cell* copied) {
    forward<Act::close>(port, {});
    stack::top = copied + 1;
    return copied;
}

const Cell* read(Cell* source, const ReadOptions& options) {
    Cell* port = stack::push(*source);
    forward<Act::open>(port, {flag(false), flag(false), flag(false), given(options.seek), none::value});
    stack::top = port + 1;
    return close_with(port, closing_on_throw(port, [&] { return copy_part(port, options.part); }));
}

const Cell* write(Cell* destination, Cell* data, const WriteOptions& options) {
    Cell* port = stack::push(*destination);
    Cell* value = stack::push(*data);
    int32_t length = options.part && options.part->is(Type::Integer) ? integer::get(*options.part) : -1;
    forward<Act::open>(port, {flag(false), flag(false), flag(true), given(options.seek), none::value});
    stack::top = value + 1;
    Cell* copied = closing_on_throw(port, [&] {
        forward<Act::insert>(port,
                             {*value, flag(length >= 0), count_or_none(length), flag(false), flag(false), none::value});
        stack::top = value + 1;
        return copy_part(port, options.part);
    });
    return close_with(port, copied);
}

const ActionEntry kForwarders[] = {
    implements<Act::append>(forward_insertion<Act::append>),
    implements<Act::at>(forward_frame_with_argument<Act::at>),
    implements<Act::back>(forward_frame<Act::back>),
    implements<Act::change>(forward_edit<Act::change>),
    implements<Act::clear>(clear),
    implements<Act::copy>(copy),
    implements<Act::find>(find),
    implements<Act::head>(forward_frame<Act::head>),
    implements<Act::head_q>(forward_frame<Act::head_q>),
    implements<Act::index_q>(forward_frame<Act::index_q>),
    implements<Act::insert>(forward_insertion<Act::insert>),
    implements<Act::length_q>(length_q),
    implements<Act::move>(move),
    implements<Act::next>(forward_frame<Act::next>),
    implements<Act::pick>(pick),
    implements<Act::poke>(poke),
    implements<Act::put>(put),
    implements<Act::remove>(remove),
    implements<Act::reverse>(reverse),
    implements<Act::select>(select),
    implements<Act::sort>(sort),
    implements<Act::skip>(forward_frame_with_argument<Act::skip>),
    implements<Act::swap>(swap),
    implements<Act::tail>(forward_frame<Act::tail>),
    implements<Act::tail_q>(forward_frame<Act::tail_q>),
    implements<Act::take>(take),
    implements<Act::trim>(trim),
    implements<Act::create>(forward_alone<Act::create>),
    implements<Act::close>(forward_alone<Act::close>),
    implements<Act::delete_>(forward_alone<Act::delete_>),
    implements<Act::modify>(modify),
    implements<Act::open>(open),
    implements<Act::query>(forward_alone<Act::query>),
    implements<Act::read>(read),
    implements<Act::rename>(rename),
    implements<Act::update>(forward_alone<Act::update>),
    implements<Act::write>(write),
};
static_assert(std::size(kForwarders) == 37, "every action from append to write but open? is forwarded");

}  // namespace

std::span<const ActionEntry> forwarders() { return kForwarders; }

}  // namespace oka::port_actor
