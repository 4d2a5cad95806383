#include "evaluator/interpreter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/compiled_forms.h"
#include "evaluator/fast_paths.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/routines.h"
#include "evaluator/trace.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/hashtable.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "runtime/types.h"

namespace oka::interpreter {

namespace {

// ---- the two evaluators ----
//
// The evaluator's hot path is compiled twice from one code. The traced version tests the tracing flag
// wherever an event may fire; the untraced one runs while the flag is clear and has no such test. The
// flag only changes where an evaluation starts (do/trace, a function body marked trace or no-trace, a
// call of the tracer), and each such start chooses its version by the flag; so does each entry point
// of this file. The traced version is always right, and serves the rarer paths of both.
enum class Tracing : bool { off, on };

template <Tracing t>
OKA_ALWAYS_INLINE bool traced() {
    return t == Tracing::on && trace::tracing;
}

// ---- reading code ----

// Code is a series of cells.
uint32_t length_of(const Cell& block) { return mem::buffer(block.node())->used_bytes() / sizeof(Cell); }

// The cells of a block's buffer, for reading where nothing allocates.
BufPtr<Cell> cells_of(const Cell& block) { return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(block.node())->offset)); }

// The cell at an index of a block, copied: evaluating anything may move the block's buffer.
Cell code_at(const Cell& block, uint32_t index) { return mem::ptr<Cell>(mem::buffer(block.node())->offset)[index]; }

// The code ends at `end`, or earlier when the block shrank while it was evaluated.
bool at_end(const Cell& block, uint32_t position, uint32_t end) {
    return position >= end || position >= length_of(block);
}

// Tells the tracer of the value at `position` of the code, about to be taken; false when the tracer
// shortened the code and the value is gone.
bool fetch_survives(const Cell& block, uint32_t position, uint32_t end) {
    trace::fire_fetch(block, position);
    return !at_end(block, position, end);
}

// The code of a block as it stands, for reading where nothing allocates: its cells, up to `end` or to
// the block's tail when the block shrank while it was evaluated.
struct Code {
    BufPtr<Cell> cells;
    uint32_t length;

    // The cell at a position, or null at the end of the code.
    BufPtr<Cell> at(uint32_t position) const { return position < length ? cells + position : BufPtr<Cell>(); }
};

OKA_ALWAYS_INLINE Code code_of(const Cell& block, uint32_t end) {
    BufPtr<SeriesBuffer> buffer = mem::buffer(block.node());
    return {BufPtr<Cell>(mem::ptr<Cell>(buffer->offset)), std::min(end, uint32_t(buffer->used_bytes() / sizeof(Cell)))};
}

// Writes a result: pushed with `sub`, else into the result slot with the frame keeping that one cell.
OKA_ALWAYS_INLINE void put_result(const Cell& value, bool sub) {
    if (sub)
        stack::push(value);
    else
        stack::set_last_keep(value);
}

// The functions that a word or a path calls: an op! is called only between its arguments.
bool is_function(Type t) { return in_mask(class_mask(TypeClass::any_function) & ~type_mask({Type::Op}), t); }

const Cell& body_name() { return words::word(Word::body_tag); }

Cell frame_name(const Cell& name) { return name.is(Type::Word) ? name : words::word(Word::anon_tag); }

[[noreturn]] void fire_with(Err id, const Cell& a, const Cell* b = nullptr) {
    Cell first = a;
    if (!b) fire(id, &first);
    Cell second = *b;
    fire(id, &first, &second);
}

// Pops a frame the interpreter pushed: the result stays pushed (sub) or goes to the caller's result slot.
void unwind_for(bool sub) {
    if (sub)
        stack::unwind();
    else
        stack::unwind_last();
}

// The frame of an interpreted block or paren, named <body>: pushed while tracing, which reports it;
// else left out (stack::ElidedFrame), since no error names it and no non-local exit resumes it. Its
// evaluation's values go to its result slot all the same. The base goes back when the evaluation ends
// normally: a non-local exit sets the stacks for its target, as it does past pushed frames.
template <Tracing t>
class BodyFrame {
public:
    explicit BodyFrame(uint32_t header) {
        if constexpr (t == Tracing::on) {
            stack::mark(body_name(), header);
        } else {
            caller_base_ = stack::frame_base;
            stack::frame_base = stack::top;
        }
    }
    BodyFrame(const BodyFrame&) = delete;
    BodyFrame& operator=(const BodyFrame&) = delete;

    // Pops the frame: its result stays pushed (sub), or goes to the caller's result slot.
    void close(bool sub) {
        if constexpr (t == Tracing::on) {
            unwind_for(sub);
        } else {
            Cell* result = stack::frame_base;
            stack::frame_base = caller_base_;
            stack::top = result + 1;
            if (!sub) copy_cell(result, caller_base_);
        }
    }

private:
    struct Pushed {};
    [[no_unique_address]] std::conditional_t<t == Tracing::on, Pushed, stack::ElidedFrame> counted_;
    Cell* caller_base_ = nullptr;
};

// A block or paren whose code a compiled form took in: the form, and the step whose children are the
// code's expressions (see evaluator/compiled_forms.h).
struct Taken {
    const compiled::Form* form;
    const compiled::Step* code;
};

template <Tracing t>
void eval_block(const Cell& block, bool chain, const Taken* taken = nullptr);

// Evaluates a paren in a frame of its own: its value is pushed (sub) or goes to the result slot. The
// paren sits in that frame while it runs, since the code it came from may drop it meanwhile (a paren
// inside it that clears the block around both), and nothing else then keeps it alive.
template <Tracing t>
void eval_paren(const Cell& paren, bool sub, const Taken* taken = nullptr) {
    BodyFrame<t> frame(stack::kind_bits(stack::kFrameNative) | stack::kFrameInterpreted);
    Cell* code = stack::push(paren);
    eval_block<t>(*code, true, taken);
    frame.close(sub);
}

// ---- the spec cache ----

// The kinds of argument entries, in header bits 20-21 of their typeset.
enum ArgumentKind : uint32_t { kEvaluated = 0, kLiteral = 1, kSoftLiteral = 2, kReturn = 3 };
constexpr uint32_t kKindShift = 20;

ArgumentKind kind_of(const Cell& entry) { return ArgumentKind((entry.header >> kKindShift) & 3); }

bool native_like(const Cell& function) { return function.is(Type::Native) || function.is(Type::Action); }

// The extras cell that holds the spec cache: the second one, for functions and natives alike.
BufPtr<Cell> cache_cell(const Cell& function) {
    return BufPtr<Cell>(mem::ptr<Cell>(mem::buffer(function.extras())->offset) + 1);
}

void append_argument(const Cell& cache, const Cell& spec, uint32_t index, ArgumentKind kind) {
    uint32_t next = index + 1;
    Cell types = next < length_of(spec) ? code_at(spec, next) : none::value;
    BufPtr<Cell> entry = types.is(Type::Block) && length_of(types) > 0 ? typeset::make_from_block(cache, types)
                                                                       : typeset::make_any(cache);
    entry->header |= kind << kKindShift;
}

// What a call needs to know of the cache before it walks it, worked out once into the third payload
// word of the cache's own cell: how many entries open the cache as arguments that every call takes
// (up to the first refinement, local count or return: entry), whether all of those are evaluated, and
// whether nothing follows them. A call fetches those arguments without looking at the rest.
constexpr uint32_t kLeadingMask = 0xFFFF;
constexpr uint32_t kAllEvaluated = 1u << 16;
constexpr uint32_t kNothingElse = 1u << 17;

uint32_t leading_arguments(const Cell& cache) { return cache.call_plan() & kLeadingMask; }

uint32_t plan_of(const Cell& cache) {
    uint32_t count = 0, all_evaluated = kAllEvaluated;
    while (count < length_of(cache)) {
        Cell entry = code_at(cache, count);
        if (!entry.is(Type::Typeset) || kind_of(entry) == kReturn) break;
        if (kind_of(entry) != kEvaluated) all_evaluated = 0;
        count++;
    }
    return count | all_evaluated | (count == length_of(cache) ? kNothingElse : 0);
}

// A native's call hands it the positions of its refinements in an array of this size.
constexpr uint32_t kMaxRefinements = 32;

// Numbers a native's next refinement, `count` being numbered already: the number is the index (from 1)
// of its position among those a call hands the native. A refinement beyond their room raises internal
// limit-hit, naming it; make checks a spec so, and a call checks it again, since a spec may change.
uint32_t number_refinement(uint32_t& count, const Cell& refinement) {
    if (count == kMaxRefinements) fire_with(Err::internal_limit_hit, refinement);
    return ++count;
}

// Appends the cache entries of a spec block's words, in the order written, up to /local, which gets the count of
// the locals after it. The refinements of a native or an action are numbered.
void append_entries(const Cell& cache, const Cell& spec, bool native) {
    uint32_t refinements = 0;
    for (uint32_t i = 0; i < length_of(spec); i++) {
        Cell value = code_at(spec, i);
        switch (value.type()) {
        case Type::Word: append_argument(cache, spec, i, kEvaluated); break;
        case Type::GetWord: append_argument(cache, spec, i, kLiteral); break;
        case Type::LitWord: append_argument(cache, spec, i, kSoftLiteral); break;
        case Type::SetWord:
            if (!function::field_q(int32_t(value.symbol()), Sym::return_)) fire_with(Err::script_bad_func_def, value);
            append_argument(cache, spec, i, kReturn);
            break;
        case Type::Refinement:
            if (function::spec_refinement_q(value, SpecWord::local)) {
                integer::make_in(cache, function::count_locals(spec, i, false));
                return;
            }
            if (native) value.set_refinement_number(number_refinement(refinements, value));
            block::rs_append(cache, value);
            break;
        default: break;
        }
    }
}

// Reads a function's argument block once, at its first call, into the block of its cache entries: one
// per argument word or refinement, in the order they are written.
void preprocess_spec(const Cell& function) {
    Cell spec = function::spec_of(function);
    stack::Root keep_spec(spec);
    // The new block stays on the data stack, rooted, until keep_spec pops it with the spec.
    Cell cache = *block::push_only_s(int32_t(length_of(spec)) + 2);
    append_entries(cache, spec, native_like(function));
    cache.set_call_plan(plan_of(cache));
    *cache_cell(function) = cache;
}

// The spec cache of a function, made at its first call.
OKA_ALWAYS_INLINE Cell spec_cache(const Cell& function) {
    Cell cache = *cache_cell(function);
    if (cache.is(Type::Block)) return cache;
    preprocess_spec(function);
    return *cache_cell(function);
}

// The word of the function's context at an index: the word an argument's error names.
Cell argument_word(const Cell& function, uint32_t index) {
    Node table = native_like(function) ? mem::ptr<Cell>(mem::buffer(function.extras())->offset)->words()
                                       : _context::context_cell(function.context())->words();
    Node words = hashtable::record(table)->values;
    return mem::ptr<Cell>(mem::buffer(words)->offset)[index];
}

// ---- plain values ----

// The value of a word in code read without evaluating anything: null for a word that is not bound to
// a context with values.
OKA_ALWAYS_INLINE BufPtr<Cell> bound_value(const Cell& word) {
    if (!word.context() || !_context::context_cell(word.context())->values()) return {};
    return word::get_cell(word);
}

// The values that evaluate to something other than themselves: words, paths, parens, functions and
// issues (which may be systems code).
constexpr TypeMask kEvaluatedTypes = class_mask(TypeClass::any_word) | class_mask(TypeClass::any_path) |
                                     class_mask(TypeClass::any_function) | type_mask({Type::Paren, Type::Issue});
// The values of words that evaluation does not take as they are: calls, operators, lit-words and unset.
constexpr TypeMask kActiveWordValues = class_mask(TypeClass::any_function) | type_mask({Type::Unset, Type::LitWord});

bool has_type(TypeMask types, const Cell& value) { return in_mask(types, value.type()); }

// What a cell of code stands for before anything is evaluated: the cell itself when it is a value that
// evaluates to itself, the value of a bound word. Null for any other cell.
OKA_ALWAYS_INLINE BufPtr<Cell> referent(BufPtr<Cell> cell) {
    if (!has_type(kEvaluatedTypes, *cell)) return cell;
    return cell->is(Type::Word) ? bound_value(*cell) : BufPtr<Cell>();
}

// Whether `value`, the referent of a cell of code, is what the cell evaluates to, with no call and no
// failure: the cell itself, or a word's value that evaluation takes as it is.
OKA_ALWAYS_INLINE bool is_plain(BufPtr<Cell> value, BufPtr<Cell> cell) {
    return value.get() == cell.get() || !has_type(kActiveWordValues, *value);
}

// What a cell of code evaluates to when that needs no call and cannot fail: the cell itself when it is
// a value that evaluates to itself, the value of a word holding such a value. Null for any other cell.
OKA_ALWAYS_INLINE BufPtr<Cell> plain_value(BufPtr<Cell> cell) {
    BufPtr<Cell> value = referent(cell);
    return value && is_plain(value, cell) ? value : BufPtr<Cell>();
}

// An argument that is one plain value which no operator follows: what it evaluates to. Null when the
// argument needs evaluating, or the code ends before it.
OKA_ALWAYS_INLINE BufPtr<Cell> plain_argument(const Code& code, uint32_t position) {
    BufPtr<Cell> cell = code.at(position);
    if (!cell || (position + 1 < code.length && cell[1].is(Type::Word))) return {};
    return plain_value(cell);
}

// An infix operator follows: a word bound to a context with values, whose value is an op!.
OKA_ALWAYS_INLINE bool infix_follows(const Code& code, uint32_t position, Cell* op) {
    BufPtr<Cell> next = code.at(position);
    if (!next || !next->is(Type::Word)) return false;
    BufPtr<Cell> value = bound_value(*next);
    if (!value || !value->is(Type::Op)) return false;
    *op = *value;
    return true;
}

// ---- calls computed in place ----
//
// Math and comparisons on numbers at hand are computed without a call frame: the function's own rules
// give the same result, and it is only done where no error can arise, so that nothing can tell the
// difference. Tracing sees every call, so it always takes the call.

// Calls nested deeper than this are left to the full evaluation.
constexpr int kInPlaceDepth = 8;

// The positions below answer 0 where they decline: no expression ends at position 0.
constexpr uint32_t kDeclined = 0;

uint32_t expression_in_place(const Code& code, uint32_t position, int depth, Cell* result);

// An argument computed in place: a plain value that no operator follows, or an expression computed so.
// Answers the position after it.
OKA_ALWAYS_INLINE uint32_t argument_in_place(const Code& code, uint32_t position, int depth, Cell* result) {
    if (BufPtr<Cell> plain = plain_argument(code, position)) {
        *result = *plain;
        return position + 1;
    }
    return expression_in_place(code, position, depth, result);
}

// A call of the function that `how` describes, whose word is at `position`, computed in place with two
// arguments computed so. Answers the position after them.
[[gnu::noinline]] uint32_t call_in_place_at(actions::InPlace how, const Code& code, uint32_t position, int depth,
                                            Cell* result) {
    if (depth == 0) return kDeclined;
    Cell first, second;
    uint32_t next = argument_in_place(code, position + 1, depth - 1, &first);
    if (next != kDeclined) next = argument_in_place(code, next, depth - 1, &second);
    return next != kDeclined && actions::compute_in_place(how, first, second, result) ? next : kDeclined;
}

OKA_ALWAYS_INLINE bool paren_in_place(const Cell& paren, int depth, Cell* result);

// An operand computed in place: a plain value, such a call, or a paren of one expression computed so.
// Answers the position after it, having changed nothing where it declines.
OKA_ALWAYS_INLINE uint32_t operand_in_place(const Code& code, uint32_t position, int depth, Cell* result) {
    BufPtr<Cell> cell = code.at(position);
    BufPtr<Cell> value = cell ? referent(cell) : BufPtr<Cell>();
    if (!value) return cell && cell->is(Type::Paren) && paren_in_place(*cell, depth, result) ? position + 1 : kDeclined;
    if (is_plain(value, cell)) {
        *result = *value;
        return position + 1;
    }
    actions::InPlace how = actions::in_place_of(*value);
    return how.computes() ? call_in_place_at(how, code, position, depth, result) : kDeclined;
}

// An expression computed in place: an operand, then each operator that follows it.
uint32_t expression_in_place(const Code& code, uint32_t position, int depth, Cell* result) {
    uint32_t next = operand_in_place(code, position, depth, result);
    Cell op, right;
    while (next != kDeclined && infix_follows(code, next, &op)) {
        next = operand_in_place(code, next + 1, depth, &right);
        if (next != kDeclined && !actions::call_in_place(op::unwrap(op), *result, right, result)) return kDeclined;
    }
    return next;
}

// Whether the code at `position` opens with a call that is never computed in place: a word holding
// such a function.
bool opens_with_call(const Code& code, uint32_t position) {
    BufPtr<Cell> cell = code.at(position);
    BufPtr<Cell> value = cell && cell->is(Type::Word) ? bound_value(*cell) : BufPtr<Cell>();
    return value && is_function(value->type()) && !actions::in_place_of(*value).computes();
}

// A paren computed in place: its code is one expression computed so, whose value is the paren's. A
// paren found to open with a call is marked so in its buffer and not tried again: a call there is
// the rule in code such as `(f n - 1) + (f n - 2)`, and the mark, should the code change, only costs
// the evaluation the try.
[[gnu::noinline]] bool try_paren_in_place(const Cell& paren, int depth, Cell* result) {
    Code code = code_of(paren, UINT32_MAX);
    Cell computed;
    uint32_t next = expression_in_place(code, paren.head(), depth - 1, &computed);
    if (next != kDeclined && next == code.length) {
        *result = computed;
        return true;
    }
    if (opens_with_call(code, paren.head())) mem::buffer(paren.node())->flags |= kSeriesCallHint;
    return false;
}

OKA_ALWAYS_INLINE bool paren_in_place(const Cell& paren, int depth, Cell* result) {
    return depth > 0 && !(mem::buffer(paren.node())->flags & kSeriesCallHint) &&
           try_paren_in_place(paren, depth, result);
}

// Pushes the value of the expression at `position` of the code (of `block`, before its end), with the
// operators that follow it: computed in place when it can be, else evaluated, after which `code` is
// read again. Answers the position after it.
template <Tracing t>
uint32_t eval_expression(const Cell& block, uint32_t position, uint32_t end, ExpressionMode mode);

template <Tracing t>
OKA_ALWAYS_INLINE uint32_t push_expression(Code& code, const Cell& block, uint32_t position, uint32_t end) {
    Cell computed;
    uint32_t next = traced<t>() ? kDeclined : argument_in_place(code, position, kInPlaceDepth, &computed);
    if (next == kDeclined) {
        next = eval_expression<t>(block, position, end, {.sub = true});
        code = code_of(block, end);
        return next;
    }
    stack::push(computed);
    return next;
}

// ---- arguments ----

// A call being made: what is called, the code its arguments come from, and the position reached in it.
// The cells are ones that nothing moves or overwrites while the call is made.
struct Call {
    const Cell& function;
    const Cell& block;
    const Cell& name;  // the frame's name: the name word, or <anon>
    uint32_t position;
    uint32_t end;
    uint32_t mode;
    Cell* left;        // an infix call's left operand, evaluated already (a cell below the frame); else null
    const Cell* path;  // the path the function came from, whose elements from path_index on are refinements
    uint32_t path_index;

    bool infix() const { return left != nullptr; }
};

// apply's argument block: the arguments it lacks are none, and it may name refinements.
bool applying(const Call& call) { return call.mode & (kCallApplyAll | kCallApply); }
bool safer(const Call& call) { return call.mode & kCallApplySafer; }

[[noreturn]] void missing_argument(const Call& call, uint32_t index) {
    Cell word = argument_word(call.function, index);
    fire_with(Err::script_no_arg, call.name, &word);
}

// The value just fetched for the argument at `index` has a type the function does not take.
[[noreturn]] void refuse_argument(const Call& call, uint32_t index) {
    Cell name = call.name, datatype{uint8_t(Type::Datatype), uint32_t(stack::top[-1].type()), 0, 0},
         word = argument_word(call.function, index);
    fire(Err::script_expect_arg, &name, &datatype, &word);
}

void check_type(const Call& call, const Cell& entry, uint32_t index) {
    if (!typeset::has_q(entry, stack::top[-1].type())) refuse_argument(call, index);
}

// Evaluates the next expression of the code, pushed on the data stack. Under apply/safer it is one
// value: the code ends for it right after that value.
template <Tracing t>
void fetch_expression(Call& call) {
    uint32_t end = safer(call) ? std::min(call.end, call.position + 1) : call.end;
    call.position = eval_expression<t>(call.block, call.position, end, {.no_infix = call.infix(), .sub = true});
}

// Fetches a literal or soft-literal argument: the next value of the code as it is, or for a soft-literal
// one what a paren, get-word or get-path there stands for.
void fetch_literal(Call& call, const Cell& entry) {
    Cell value = code_at(call.block, call.position);
    if (kind_of(entry) == kSoftLiteral) {
        switch (value.type()) {
        case Type::Paren: eval_paren<Tracing::on>(value, true); break;
        case Type::GetWord: word::get_any(value); break;
        case Type::GetPath:
            call.position = eval_path(value, call.block, call.position, call.end, {.get = true, .sub = true});
            return;
        default: stack::push(value); break;
        }
    } else {
        stack::push(value);
    }
    call.position++;
}

// Fetches an argument that is not simply the next expression of the code: a literal or soft-literal
// one, one beyond the end of the code, or one under apply/safer.
template <Tracing t>
void fetch_unevaluated(Call& call, const Cell& entry, uint32_t index) {
    if (at_end(call.block, call.position, call.end)) {
        if (applying(call)) {
            none::push();
            return;
        }
        if (kind_of(entry) == kSoftLiteral && typeset::has_q(entry, Type::Unset)) {
            unset::push();
            return;
        }
        missing_argument(call, index);
    }
    if (kind_of(entry) == kEvaluated) {
        fetch_expression<t>(call);
        return;
    }
    if (traced<t>() && !fetch_survives(call.block, call.position, call.end)) missing_argument(call, index);
    fetch_literal(call, entry);
    if (traced<t>()) trace::fire_push(stack::top[-1]);
}

// Fetches one argument of the entry's kind from the code, pushed on the data stack.
template <Tracing t>
OKA_ALWAYS_INLINE void fetch_arg(Call& call, const Cell& entry, uint32_t index) {
    Code code = code_of(call.block, call.end);
    if (kind_of(entry) != kEvaluated || safer(call) || call.position >= code.length) {
        fetch_unevaluated<t>(call, entry, index);
        return;
    }
    BufPtr<Cell> plain = traced<t>() ? BufPtr<Cell>() : plain_argument(code, call.position);
    if (plain) {
        stack::push(*plain);
        call.position++;
    } else {
        call.position =
            eval_expression<t>(call.block, call.position, call.end, {.no_infix = call.infix(), .sub = true});
    }
}

// Passes over an argument of an inactive refinement: fetched and dropped, or under apply/safer left
// unevaluated.
void skip_arg(Call& call, const Cell& entry, uint32_t index) {
    if (safer(call)) {
        if (!at_end(call.block, call.position, call.end)) call.position++;
        return;
    }
    fetch_arg<Tracing::on>(call, entry, index);
    stack::pop(1);
}

// The truth of the next expression of an apply block, which decides whether a refinement is used; an
// exhausted block leaves it unused.
bool fetch_condition(Call& call) {
    if (at_end(call.block, call.position, call.end)) return false;
    fetch_expression<Tracing::on>(call);
    bool active = logic::true_q(stack::top[-1]);
    stack::pop(1);
    return active;
}

// apply/all gives each refinement a logic! value in its place among the arguments.
bool fetch_refinement_flag(Call& call, uint32_t index) {
    if (at_end(call.block, call.position, call.end)) return false;
    fetch_expression<Tracing::on>(call);
    if (!stack::top[-1].is(Type::Logic)) refuse_argument(call, index);
    bool active = logic::get(stack::top[-1]);
    stack::pop(1);
    return active;
}

// What a native learns of a call whose refinements no path or apply block names: none is used.
constexpr auto kNoRefinements = [] {
    std::array<int32_t, kMaxRefinements> positions{};
    positions.fill(-1);
    return positions;
}();

bool has_refinements(const Cell& cache) {
    for (uint32_t i = 0; i < length_of(cache); i++)
        if (code_at(cache, i).is(Type::Refinement)) return true;
    return false;
}

// The entry of the refinement named by a path element or an apply block value; script no-refine when
// the function has none of that name.
uint32_t refinement_entry(const Call& call, const Cell& cache, const Cell& element) {
    uint32_t wanted = symbol::resolve(element.symbol());
    for (uint32_t i = 0; i < length_of(cache); i++) {
        Cell entry = code_at(cache, i);
        if (entry.is(Type::Refinement) && symbol::resolve(entry.symbol()) == wanted) return i;
    }
    fire_with(Err::script_no_refine, call.name, &element);
}

// Fetches the arguments of a refinement: into their slots for a function, pushed for a native. The
// arguments of an inactive refinement are passed over.
void fetch_refinement_args(Call& call, const Cell& cache, uint32_t refinement, bool active) {
    bool native = native_like(call.function);
    for (uint32_t i = refinement + 1; i < length_of(cache); i++) {
        Cell entry = code_at(cache, i);
        if (!entry.is(Type::Typeset) || kind_of(entry) == kReturn) break;
        if (!active) {
            skip_arg(call, entry, i);
            continue;
        }
        fetch_arg<Tracing::on>(call, entry, i);
        check_type(call, entry, i);
        if (!native) {
            stack::frame_base[i] = stack::top[-1];
            stack::pop(1);
        }
    }
}

// Uses the refinement of the cache entry (or, inactive, passes over it) and fetches its arguments.
// `source`, the path or apply block that names it, is reported when it names it twice.
void use_refinement(Call& call, const Cell& cache, uint32_t entry, bool active, const Cell& source,
                    int32_t* positions) {
    if (native_like(call.function)) {
        int32_t& position = positions[code_at(cache, entry).refinement_number() - 1];
        if (position >= 0) fire_with(Err::script_dup_refine, source);
        if (active) position = int32_t(stack::top - stack::frame_base);
    } else {
        Cell& flag = stack::frame_base[entry];
        if (logic::get(flag)) fire_with(Err::script_dup_refine, source);
        logic::make_at(&flag, active);
    }
    fetch_refinement_args(call, cache, entry, active);
}

// The refinements a path names after the function (from `from`), activated in path order.
void use_path_refinements(Call& call, const Cell& cache, const Cell& path, uint32_t from, int32_t* positions) {
    for (uint32_t i = from; i < length_of(path); i++) {
        Cell element = code_at(path, i);
        bool active = true;
        if (element.is(Type::GetWord))
            active = logic::true_q(*word::get_cell(element));
        else if (!element.is(Type::Word))
            fire_with(Err::script_bad_refine, element);
        use_refinement(call, cache, refinement_entry(call, cache, element), active, path, positions);
    }
}

// apply without /all: after the arguments, each refinement the block names is followed by the
// expression whose truth activates it, then by its arguments. A value that names no refinement ends
// the block for a function without refinements.
void use_block_refinements(Call& call, const Cell& cache, int32_t* positions) {
    while (!at_end(call.block, call.position, call.end)) {
        Cell element = code_at(call.block, call.position);
        if (!element.is(Type::Refinement) && !element.is(Type::GetWord)) {
            if (has_refinements(cache)) fire_with(Err::script_bad_refine, element);
            return;
        }
        uint32_t entry = refinement_entry(call, cache, element);
        call.position++;
        bool active = fetch_condition(call);
        use_refinement(call, cache, entry, active, call.block, positions);
    }
}

// Fetches `count` evaluated arguments and checks their types: the common call, with no infix operand,
// apply block or tracing to mind. A plain value that no operator follows is taken as it is; anything
// else is evaluated, after which the code and the cache are read again.
template <Tracing t>
void fetch_evaluated(Call& call, const Cell& cache, uint32_t count) {
    uint32_t position = call.position;
    Code code = code_of(call.block, call.end);
    for (uint32_t i = 0; i < count; i++) {
        if (position >= code.length) missing_argument(call, i);
        position = push_expression<t>(code, call.block, position, call.end);
        if (!typeset::has_q(cells_of(cache)[i], stack::top[-1].type())) refuse_argument(call, i);
    }
    call.position = position;
}

// Fetches an active argument and checks its type; an infix call's left operand is in the frame already.
template <Tracing t>
OKA_ALWAYS_INLINE void use_argument(Call& call, const Cell& entry, uint32_t index, uint32_t fetched) {
    if (!(call.infix() && fetched == 0)) fetch_arg<t>(call, entry, index);
    check_type(call, entry, index);
}

// Runs a native or an action on the arguments of its frame. Answers the position after them.
template <Tracing t>
OKA_ALWAYS_INLINE uint32_t run_native(const Call& call, const int32_t* positions) {
    if (traced<t>()) trace::fire_call(call.name, call.function);
    Cell computed;
    if (!traced<t>() && actions::call_in_place(call.function, stack::frame_base[0], stack::frame_base[1], &computed))
        stack::set_last(computed);  // what the native gives, without its dispatch
    else if (call.function.is(Type::Action))
        actions::entry(Act(call.function.entry()))(positions);
    else
        natives::entry(call.function.entry())(positions);
    return call.position;
}

// A function! whose arguments are all in its frame, given its local count, gets its locals.
template <Tracing t>
uint32_t enter_function(const Call& call, int32_t locals) {
    if (traced<t>()) trace::fire_call(call.name, call.function);
    if (locals) function::init_locals(locals);
    return call.position;
}

// Gathers what follows the leading arguments in the cache: refinements, their arguments and the
// locals, with the refinements a path or an apply block names; then runs a native or an action.
// Answers the position after the arguments.
[[gnu::noinline]] uint32_t use_other_entries(Call& call, const Cell& cache, uint32_t fetched) {
    bool native = native_like(call.function);
    bool all = call.mode & kCallApplyAll;
    int32_t positions[kMaxRefinements];
    if (native) std::fill(std::begin(positions), std::end(positions), -1);
    bool active = true;
    int32_t locals = 0;
    for (uint32_t i = fetched; i < length_of(cache); i++) {
        Cell entry = code_at(cache, i);
        switch (entry.type()) {
        case Type::Typeset:
            if (kind_of(entry) == kReturn) break;
            if (!active) {
                if (all) skip_arg(call, entry, i);
                if (!native) none::push();
                break;
            }
            use_argument<Tracing::on>(call, entry, i, fetched++);
            break;
        case Type::Refinement:
            active = all && fetch_refinement_flag(call, i);
            if (!native)
                logic::push(active);
            else if (active)
                positions[entry.refinement_number() - 1] = int32_t(stack::top - stack::frame_base);
            break;
        case Type::Integer: locals = integer::get(entry); break;
        default: break;
        }
    }
    if (call.path) use_path_refinements(call, cache, *call.path, call.path_index, positions);
    if (call.mode & kCallApply) use_block_refinements(call, cache, positions);
    return native ? run_native<Tracing::on>(call, positions) : enter_function<Tracing::on>(call, locals);
}

// Gathers the arguments of a call in the current frame (the callee's); for a native or an action, then
// runs it. Answers the position after the arguments. Most calls take only arguments every call takes:
// those are fetched without looking at the rest of the cache.
template <Tracing t>
uint32_t eval_arguments(Call& call) {
    if (call.infix()) stack::push(*call.left);
    Cell cache = spec_cache(call.function);
    uint32_t leading = leading_arguments(cache);
    bool plain = !call.path && call.mode == kCallPlain;
    if (plain && !call.infix() && (cache.call_plan() & kAllEvaluated) && !traced<t>())
        fetch_evaluated<t>(call, cache, leading);
    else
        for (uint32_t i = 0; i < leading; i++) use_argument<t>(call, code_at(cache, i), i, i);
    if (plain && native_like(call.function)) return run_native<t>(call, kNoRefinements.data());
    if (plain && (cache.call_plan() & kNothingElse)) return enter_function<t>(call, 0);
    return use_other_entries(call, cache, leading);
}

// Makes a call found in code, in a frame of its own above the function value: the data stack keeps the
// function while it runs, since the word or op! it was found in may change meanwhile. The result takes
// the place of an infix call's left operand, else of the function value. Answers the position after the
// arguments. The open event comes after the push: the tracer may change that word too.
// A std::bad_alloc thrown while the arguments are gathered or the native runs becomes the no-memory
// error here, the callee's frame still in place to name it. The try costs the way through nothing; one
// around the native's own call would keep that call from being a tail call.
template <Tracing t>
OKA_ALWAYS_INLINE void run_body(const Cell& function, const Cell& name);

// A call's result, its frame popped: pushed in `place` (the function value's, or an infix call's left
// operand's) when sub, else in the caller's result slot, the stack back at `start`.
OKA_ALWAYS_INLINE void place_result(Cell* place, Cell* start, bool sub) {
    if (sub) {
        *place = stack::top[-1];
        stack::top = place + 1;
    } else {
        stack::top = start;
        stack::set_last_keep(*stack::frame_base);
    }
}

template <Tracing t>
uint32_t make_call(Call& call, bool sub) {
    Cell* start = stack::top;
    stack::push(call.function);
    if (traced<t>()) trace::fire_open(call.name);
    bool native = native_like(call.function);
    bool routine = call.function.is(Type::Routine);
    if (native)
        stack::mark_interp_native(call.name);
    else if (routine)
        stack::mark_native(call.name);  // compiled code: its frame is not an interpreted one
    else if (call.function.header & function::kCompiled)
        stack::mark(call.name, stack::kind_bits(stack::kFrameFunction));
    else if (call.function.is(Type::Function))
        stack::mark_interp_func(call.name);
    else
        sys::quit(101, OKA_CALLER_ADDRESS());
    no_memory_for_bad_alloc([&] {
        eval_arguments<t>(call);
        if (routine) routines::call(call.function);
    });
    if (!native && !routine) run_body<t>(call.function, call.name);
    unwind_for(sub);
    if (traced<t>()) trace::fire_return(call.name);
    place_result(call.infix() ? call.left : start, start, sub);
    return call.position;
}

// Lays out the frame of a function! called from C++ with values for its first `count` arguments (at
// `given`, below the frame): its other arguments get none, its refinements false, its locals their
// starting values. Answers how many of the values it takes.
uint32_t push_arguments(const Cell& function, const Cell* given, uint32_t count) {
    Cell cache = spec_cache(function);
    bool active = true;
    uint32_t used = 0;
    for (uint32_t i = 0; i < length_of(cache); i++) {
        Cell entry = code_at(cache, i);
        switch (entry.type()) {
        case Type::Typeset:
            if (kind_of(entry) != kReturn) stack::push(active && used < count ? given[used++] : none::value);
            break;
        case Type::Refinement:
            logic::push(false);
            active = false;
            break;
        case Type::Integer: function::init_locals(integer::get(entry)); break;
        default: break;
        }
    }
    return used;
}

// Runs a function! that the run-time calls back on the `count` argument cells at `arguments`, the top
// cells of the data stack, in a function frame named `name`. The argument cells it takes are left as
// its body left them, the first replaced by its result.
void call_back(const Cell& function, Cell* arguments, uint32_t count, const Cell& name) {
    trace::Untraced untraced;
    Cell frame_name = name;
    bool routine = function.is(Type::Routine);
    if (routine)
        stack::mark_native(frame_name);
    else
        stack::mark_func(frame_name, function.context());
    uint32_t taken = push_arguments(function, arguments, count);
    if (routine)
        routines::call(function);
    else
        eval_function_body(function, frame_name);
    if (taken > 1) std::copy(stack::frame_base + 1, stack::frame_base + taken, arguments + 1);
    arguments[0] = *stack::frame_base;
    if (routine)
        stack::unwind();
    else
        stack::unwind_func();
    stack::top = arguments + count;
}

struct BodyScope;
BodyScope* innermost_body = nullptr;

// Restores what a function call changed in its context and frame, however the body ends. The scopes
// of the bodies running form a chain, innermost first, whether or not a body has a frame of its own.
struct BodyScope {
    Node context;
    Addr saved;
    BodyScope* outer;
    BodyScope(Node context)
        : context(context), saved(_context::context_cell(context)->values()), outer(innermost_body) {
        _context::context_cell(context)->set_values(mem::addr(stack::frame_base));
        stack::set_in_body(true);
        innermost_body = this;
    }
    ~BodyScope() {
        innermost_body = outer;
        stack::set_in_body(false);
        _context::context_cell(context)->set_values(saved);
    }
};

// ---- expressions ----

// The value of a word in code; an unset value raises script no-value.
Cell value_of(const Cell& word) {
    Cell value = *word::get_cell(word);
    if (value.is(Type::Unset)) fire_with(Err::script_no_value, word);
    return value;
}

// The infix operator `op` computed in place on the value so far (at `start`) and the operand at
// `position`; false leaves it to the call.
template <Tracing t>
OKA_ALWAYS_INLINE bool eval_infix_in_place(const Cell& op, const Cell& block, uint32_t position, uint32_t end,
                                           Cell* start, bool sub, uint32_t* next) {
    Cell right, result;
    if (traced<t>()) return false;
    *next = operand_in_place(code_of(block, end), position, kInPlaceDepth, &right);
    if (*next == kDeclined) return false;
    const Cell& left = sub ? *start : *stack::frame_base;
    if (!actions::call_in_place(op::unwrap(op), left, right, &result)) return false;
    if (sub) {
        *start = result;
        stack::top = start + 1;
    } else {
        stack::set_last_keep(result);
    }
    return true;
}

// Applies the infix operator `op`, whose word is at `position`, to the value so far (at `start`) and
// the operand after it. Answers the position after the operand.
template <Tracing t>
[[gnu::noinline]] uint32_t apply_infix(const Cell& op, const Cell& block, uint32_t position, uint32_t end, Cell* start,
                                       bool sub) {
    uint32_t next;
    if (eval_infix_in_place<t>(op, block, position + 1, end, start, sub, &next)) return next;
    Cell name = code_at(block, position);
    Cell function = op::unwrap(op);
    if (traced<t>()) {
        stack::push(function);  // the tracer may change the op's word; the call drops this cell
        trace::fire_fetch(block, position);
    }
    Cell* left = sub ? start : stack::frame_base;  // the value so far
    Call call{function, block, name, position + 1, end, kCallPlain, left, nullptr, 0};
    return make_call<t>(call, sub);
}

template <Tracing t>
OKA_ALWAYS_INLINE uint32_t eval_infix(const Cell& block, uint32_t position, uint32_t end, Cell* start, bool sub) {
    Cell op;
    while (position < end && infix_follows(code_of(block, end), position, &op))
        position = apply_infix<t>(op, block, position, end, start, sub);
    return position;
}

// A set-word's set made in a frame of its own, named by the word: of `computed` when the value was
// computed in place already (`next` is then the position after it), else of the expression after the
// set-word, evaluated.
template <Tracing t>
[[gnu::noinline]] uint32_t set_word_in_frame(const Cell& word, const Cell& block, uint32_t position, uint32_t end,
                                             bool sub, const Cell* computed, uint32_t next) {
    stack::mark_interp_native(word);
    stack::push(word);
    if (traced<t>()) trace::fire_push(word);
    if (at_end(block, position + 1, end)) fire_with(Err::script_need_value, word);
    if (computed)
        stack::push(*computed);
    else
        next = eval_expression<t>(block, position + 1, end, {.sub = true});
    if (traced<t>()) trace::fire_set(word, stack::top[-1]);
    word::set_arg();
    unwind_for(sub);
    return next;
}

// A set-word: the value of the expression after it becomes the word's value, and the set-word's. A
// value computed in place goes straight into a word with a plain slot, since nothing runs or fails in
// between; any other set is made in a frame.
template <Tracing t>
OKA_ALWAYS_INLINE uint32_t eval_set_word(const Cell& word, const Cell& block, uint32_t position, uint32_t end,
                                         bool sub) {
    Cell computed;
    uint32_t next =
        traced<t>() ? kDeclined : argument_in_place(code_of(block, end), position + 1, kInPlaceDepth, &computed);
    if (next == kDeclined) return set_word_in_frame<t>(word, block, position, end, sub, nullptr, 0);
    BufPtr<Cell> slot =
        word.context() && !computed.is(Type::Unset) ? _context::plain_slot(word, word.context()) : BufPtr<Cell>();
    if (!slot) return set_word_in_frame<t>(word, block, position, end, sub, &computed, next);
    *slot = computed;
    put_result(computed, sub);
    return next;
}

// A set-path: the value of the expression after it is set through the path. The path waits in the
// frame while the expression runs, which may drop it from the code; the value then becomes the frame's
// argument, where the path's walk takes it.
uint32_t eval_set_path(const Cell& path, const Cell& block, uint32_t position, uint32_t end, bool sub) {
    if (trace::tracing) trace::fire_push(path);
    if (at_end(block, position + 1, end)) fire_with(Err::script_need_value, path);
    stack::mark_interp_native(words::word(Word::set_path));
    stack::push(path);
    position = eval_expression<Tracing::on>(block, position + 1, end, {.sub = true});
    Cell* frame = stack::frame_base;
    std::swap(frame[0], frame[1]);
    if (trace::tracing) trace::fire_set(frame[1], frame[0]);
    eval_path(frame[1], block, position, end, {.set = true, .sub = true});
    unwind_for(sub);
    return position;
}

// Calls the function that the word at `position` of the code holds (the cells given are copies).
template <Tracing t>
uint32_t call_word(const Cell& function, const Cell& word, const Cell& block, uint32_t position, uint32_t end,
                   bool sub) {
    Call call{function, block, word, position + 1, end, kCallPlain, nullptr, nullptr, 0};
    return make_call<t>(call, sub);
}

template <Tracing t>
uint32_t eval_word(const Cell& word, const Cell& block, uint32_t position, uint32_t end, bool sub) {
    Cell value = value_of(word);
    switch (value.type()) {
    case Type::LitWord:
        if (traced<t>()) trace::fire_push(value);
        stack::push(value);
        return position + 1;
    case Type::Native:
    case Type::Action:
    case Type::Function:
    case Type::Routine: return call_word<t>(value, word, block, position, end, sub);
    case Type::Op: fire_with(Err::script_no_op_arg, word);
    default:
        if (traced<t>()) trace::fire_push(value);
        put_result(value, sub);
        return position + 1;
    }
}

// The commonest expressions, taken without the general dispatch while tracing is off: a value that
// evaluates to itself, a word holding a plain value or a function, a set-word and a paren. Answers false,
// having done nothing, for the other expressions.
template <Tracing t>
bool eval_common(const Cell& block, uint32_t position, uint32_t end, bool sub, uint32_t* next) {
    BufPtr<Cell> cell(mem::ptr<Cell>(mem::buffer(block.node())->offset) + position);
    if (!has_type(kEvaluatedTypes, *cell)) {
        put_result(*cell, sub);
        *next = position + 1;
        return true;
    }
    if (cell->is(Type::SetWord)) {
        Cell word = *cell;
        *next = eval_set_word<t>(word, block, position, end, sub);
        return true;
    }
    if (cell->is(Type::Paren)) {
        Cell paren = *cell, computed;
        if (paren_in_place(paren, kInPlaceDepth, &computed))
            put_result(computed, sub);
        else
            eval_paren<t>(paren, sub);
        *next = position + 1;
        return true;
    }
    BufPtr<Cell> value = cell->is(Type::Word) ? bound_value(*cell) : BufPtr<Cell>();
    if (!value) return false;
    if (!has_type(kActiveWordValues, *value)) {
        put_result(*value, sub);
        *next = position + 1;
        return true;
    }
    if (!is_function(value->type())) return false;
    Cell function = *value, word = *cell, computed;
    actions::InPlace how = actions::in_place_of(function);
    if (how.computes() &&
        (*next = call_in_place_at(how, code_of(block, end), position, kInPlaceDepth, &computed)) != kDeclined)
        put_result(computed, sub);
    else
        *next = call_word<t>(function, word, block, position, end, sub);
    return true;
}

bool is_system_issue(const Cell& issue) {
    uint32_t symbol = symbol::resolve(issue.symbol());
    return symbol == symbol::resolve(words::id(Sym::system)) ||
           symbol == symbol::resolve(words::id(Sym::system_global));
}

// Every expression but the plain values that eval_expression takes itself.
template <Tracing t>
[[gnu::noinline]] uint32_t eval_value(const Cell& block, uint32_t position, uint32_t end, bool sub) {
    Cell value = code_at(block, position);
    switch (value.type()) {
    case Type::Paren: eval_paren<t>(value, sub); return position + 1;
    case Type::SetWord: return eval_set_word<t>(value, block, position, end, sub);
    case Type::SetPath: return eval_set_path(value, block, position, end, sub);
    case Type::GetWord: {
        Cell got = *word::get_cell(value);
        if (traced<t>()) trace::fire_push(got);
        put_result(got, sub);
        return position + 1;
    }
    case Type::LitWord:
        value.header = uint8_t(Type::Word);
        if (traced<t>()) trace::fire_push(value);
        put_result(value, sub);
        return position + 1;
    case Type::Word: return eval_word<t>(value, block, position, end, sub);
    case Type::Path:
    case Type::GetPath: {
        uint32_t next = eval_path(value, block, position, end, {.get = value.is(Type::GetPath), .sub = sub});
        if (traced<t>()) trace::fire_push(sub ? stack::top[-1] : *stack::frame_base);
        return next;
    }
    case Type::LitPath:
        value = Cell::of(Type::Path).set_head(value.head()).set_node(value.node());
        if (traced<t>()) trace::fire_push(value);
        put_result(value, sub);
        return position + 1;
    case Type::Op: fire(Err::internal_not_done);
    case Type::Native:
    case Type::Action:
    case Type::Function:
    case Type::Routine: return eval_code(value, block, position + 1, end, sub, nullptr, 0, value, kCallPlain);
    case Type::Issue:
        if (is_system_issue(value) && !at_end(block, position + 1, end) && code_at(block, position + 1).is(Type::Block))
            fire(Err::internal_oka_system);
        [[fallthrough]];
    default:
        if (traced<t>()) trace::fire_push(value);
        put_result(value, sub);
        return position + 1;
    }
}

// ---- paths ----

// The selection of one path step through the current value's eval-path action; `step` says where the
// step stands and how it selects, and its cells are filled in here. A set may change `current` itself
// when it is a value held in its cell, such as a time whose hour is set.
Cell select_step(Cell& current, const Cell& selector, const Cell* new_value, const Cell& path, const Cell& container,
                 const Cell& previous, EvalPathOptions step) {
    Cell* args = stack::top;
    Cell* value = stack::push(current);
    Cell* element = stack::push(selector);
    step.path = stack::push(path);
    step.container = stack::push(container);
    step.previous = stack::push(previous);
    Cell* incoming = new_value ? stack::push(*new_value) : nullptr;
    auto select = actions::get_path_action_ptr(value, step.path, element, step.index);
    Cell result = *select(value, element, incoming, step);
    if (new_value) current = *value;
    stack::top = args;
    return result;
}

bool same_cell(const Cell& a, const Cell& b) { return std::memcmp(&a, &b, sizeof(Cell)) == 0; }

// A set that changed a value held in its cell stores the changed value back where the path took it
// from: into the head word, or through the step before into its container.
void store_back(const Cell& changed, const Cell& head, const Cell& container, const Cell& selector, const Cell& path,
                uint32_t index, bool case_) {
    if (index == 0) {
        Cell word = head;
        word::set_value(&word, changed);
        return;
    }
    Cell parent = container;
    select_step(parent, selector, &changed, path, none::value, none::value,
                {.index = int32_t(index - 1), .case_ = case_, .last = true});
}

// The selector a path element stands for: the element, the value of a get-word, or a paren's value.
Cell selector_of(const Cell& element, const Cell& path) {
    switch (element.type()) {
    case Type::GetWord: return *word::get_cell(element);
    case Type::Paren: {
        Cell* saved = stack::top;
        eval_paren<Tracing::on>(element, true);
        Cell value = stack::top[-1];
        stack::top = saved;
        if (value.is(Type::Unset)) fire_with(Err::script_invalid_path, path, &element);
        return value;
    }
    default: return element;
    }
}

// The container of a path's first step: the value owning the context the head word is bound to, such
// as the function whose argument or local the word is. An object is left out: an object container
// means a field a path step selected from it, a set through which notifies the object (see notifies),
// while the head word reaches its field directly.
Cell first_container(const Cell& head) {
    if (!head.context() || head.context() == _context::global) return none::value;
    Cell owner = *_context::self_cell(head.context());
    return owner.is(Type::Object) ? none::value : owner;
}

bool notifies(const Cell& container, const Cell& selected_by) {
    if (container.is(Type::Object)) return container.handlers() != 0 && selected_by.is(Type::Word);
    return is_a(container.type(), TypeClass::any_block);
}

// Puts the current-code cell back however a block's evaluation ends. What it held belongs to an
// evaluation further out, which keeps that block alive; a block whose evaluation failed may be gone by
// the time the cell is read again.
//
// The cell is kept as two 64-bit halves: compilers then hold it in two registers across the block's
// evaluation rather than repacking four 32-bit words before every call.
class CurrentCodeScope {
public:
    CurrentCodeScope() { std::memcpy(saved_, &current_code, sizeof saved_); }
    ~CurrentCodeScope() { std::memcpy(&current_code, saved_, sizeof saved_); }
    CurrentCodeScope(const CurrentCodeScope&) = delete;
    CurrentCodeScope& operator=(const CurrentCodeScope&) = delete;

private:
    uint64_t saved_[2];
};
static_assert(sizeof(uint64_t[2]) == sizeof(Cell));

// Tells the tracer of the value about to be evaluated; false when the tracer shortened the code and the
// value is gone, which leaves nothing to evaluate: the expression then gives unset.
bool fetch_traced(const Cell& block, uint32_t position, uint32_t end, bool sub) {
    if (fetch_survives(block, position, end)) return true;
    put_result(unset::value, sub);
    return false;
}

}  // namespace

void init() {
    for (Cell* code : {&current_code, &thrower_code}) {
        unset::make_at(code);
        runtime::register_root(code);
    }
    series::call_sort_function = call_comparator;
    lexer::call_callback = call_lexer_callback;
    compiled::init();
}

namespace {

// The general evaluation of a block's expressions from `position` on.
template <Tracing t>
OKA_ALWAYS_INLINE void run_from(const Cell& code, uint32_t position, uint32_t end, bool shown) {
    for (;;) {
        if (shown) current_code.set_head(position);
        position = eval_expression<t>(code, position, end, {});
        if (at_end(code, position, end)) break;
        stack::reset();
    }
}

// run_expressions by the block's compiled form where it has one, or by the form that took it in (set
// apart, so that the general path stays as it is when forms are off).
[[gnu::noinline]] void run_expressions_compiled(const Cell& code, uint32_t end, bool shown, const Taken* taken);

// Evaluates the expressions of a block in the current frame, an eval frame; see eval_in_frame.
template <Tracing t>
OKA_ALWAYS_INLINE void run_expressions(const Cell& code, const Taken* taken = nullptr) {
    uint32_t end = length_of(code);
    if (code.head() >= end) {
        unset::box();
        return;
    }
    // Library code leaves the cell at the user's expression that called into it.
    bool shown = !(mem::buffer(code.node())->flags & kSeriesLibrary);
    if (shown) current_code = code;
    if (t == Tracing::off && compiled::enabled) [[unlikely]]
        return run_expressions_compiled(code, end, shown, taken);
    run_from<t>(code, code.head(), end, shown);
}

template <Tracing t>
void eval_block(const Cell& block, bool chain, const Taken* taken) {
    Cell code = block;
    CurrentCodeScope scope;
    BodyFrame<t> frame(stack::kind_bits(stack::kFrameEval) | stack::kFrameInterpreted);
    if (traced<t>()) trace::fire_enter(code);
    run_expressions<t>(code, taken);
    if (traced<t>()) trace::fire_exit(code, *stack::frame_base);
    frame.close(!chain);
}

template <Tracing t>
uint32_t eval_expression(const Cell& block, uint32_t position, uint32_t end, ExpressionMode mode) {
    Cell* start = stack::top;
    uint32_t next;
    if (traced<t>() || !eval_common<t>(block, position, end, mode.sub, &next)) {
        if (traced<t>() && !fetch_traced(block, position, end, mode.sub)) return position;
        next = eval_value<t>(block, position, end, mode.sub);
    }
    if (!mode.no_infix) next = eval_infix<t>(block, next, end, start, mode.sub);
    if (!mode.sub && traced<t>()) trace::fire_expr(block, position);
    return next;
}

template <Tracing t>
void eval_body(const Cell& body) {
    if (body.is(Type::Block))
        eval_block<t>(body, true);
    else
        unset::box();
}

// A function's body, run on the arguments of its frame: the body's value goes to the frame's result
// slot; return and exit end it there. In trace mode, a function marked trace turns tracing on for its
// body and one marked no-trace turns it off, and the body runs in the version of the evaluator the flag
// then asks for; outside trace mode an untraced body stays so.
template <Tracing t>
OKA_ALWAYS_INLINE void run_body(const Cell& function, const Cell& name) {
    Cell body = *function::extra(function, function::kBody);
    Cell* base = stack::frame_base;
    uint32_t code;
    {
        BodyScope scope(function.context());
        if (t == Tracing::off && !trace::trace_mode) {
            code = sys::protect(kCatchAll, [&] { eval_body<Tracing::off>(body); });
        } else {
            trace::TracingRestored tracing_restored;
            trace::enter_body(function, name);
            code = sys::protect(kCatchAll, [&] {
                if (trace::tracing)
                    eval_body<Tracing::on>(body);
                else
                    eval_body<Tracing::off>(body);
            });
            trace::leave_body(name, code);
        }
    }
    if (code != 0 && code != kThrowReturn && code != kThrowExit) sys::throw_(code);
    if (code != 0 && stack::frame_base != base) {
        // A return resumed where the body's left-out frame began: its value belongs in the result slot.
        copy_cell(stack::frame_base, base);
        stack::frame_base = stack::top = base;
    }
}

// ---- compiled forms ----
//
// The untraced evaluator runs a block by its compiled form where it has one (evaluator/compiled_forms.h):
// the same evaluation, without working out again at every step what each cell of the code stands for.
// A step that meets what it was not made for (a word holding another kind of value, code changed under
// it) hands over to the general evaluation at its position, and the step around it goes on from where
// that one ended, in the general way too when that is not where the form expected.

using compiled::Form;
using compiled::Step;
using compiled::StepKind;

// The same function or operator: the same type and payload (a function's context, a native's entry,
// the same spec and extras).
bool same_function(const Cell& value, const Cell& expected) {
    constexpr size_t kHeader = sizeof value.header;
    return ((value.header ^ expected.header) & ~kCellNewLine) == 0 &&
           std::memcmp(reinterpret_cast<const char*>(&value) + kHeader,
                       reinterpret_cast<const char*>(&expected) + kHeader, sizeof(Cell) - kHeader) == 0;
}

// The value cell of a word of a form, as bound_value finds it (`set`: the cell a set stores into as it
// is, as _context::plain_slot finds it), noted for the next use.
template <bool set>
[[gnu::noinline]] BufPtr<Cell> find_value(const Cell& word, compiled::Slot& slot) {
    if (!word.context()) return {};
    BufPtr<Cell> value = set ? _context::plain_slot(word, word.context()) : bound_value(word);
    if (!value || word.position() < 0) return value;
    BufPtr<Cell> context = _context::context_cell(word.context());
    bool frame = context->header & kValuesOnStack;
    slot = {mem::epoch, mem::addr(frame ? context.get() : value.get()), frame};
    return value;
}

// find_value, from where the cell was at the last use while no buffer has moved since.
template <bool set = false>
OKA_ALWAYS_INLINE BufPtr<Cell> word_value(const Cell& word, compiled::Slot& slot) {
    if (slot.epoch != mem::epoch) [[unlikely]]
        return find_value<set>(word, slot);
    BufPtr<Cell> value;
    if (!slot.frame) {
        value = BufPtr<Cell>(mem::ptr<Cell>(slot.at));
    } else if (Addr values = mem::ptr<Cell>(slot.at)->values()) {
        value = BufPtr<Cell>(mem::ptr<Cell>(values) + word.position());
    }
    if constexpr (kChecks) {
        BufPtr<Cell> found = set ? _context::plain_slot(word, word.context()) : bound_value(word);
        OKA_ASSERT(value.get() == found.get() && "a word's value moved unseen");
    }
    return value;
}

// The value of the step's word when it is the function the step was made for; else null.
OKA_ALWAYS_INLINE BufPtr<Cell> expected_value(const Step& step) {
    BufPtr<Cell> value = word_value(step.cell, step.slot);
    return value && same_function(*value, step.expect) ? value : BufPtr<Cell>();
}

bool op_follows(const Cell& word, compiled::Slot& slot) {
    BufPtr<Cell> value = word_value(word, slot);
    return value && value->is(Type::Op);
}

// The value of a word of a program, where it is one that evaluation takes as it is; else null.
OKA_ALWAYS_INLINE BufPtr<Cell> plain_word_value(const Cell& word, compiled::Slot& slot) {
    BufPtr<Cell> value = word_value(word, slot);
    return value && !has_type(kActiveWordValues, *value) ? value : BufPtr<Cell>();
}

// A computing op on `left` (the value below the top of the program's stack) and `right`, into `left`:
// false where its word no longer holds the function or the values are not computed in place.
OKA_ALWAYS_INLINE bool compute_op(const compiled::Op& op, Cell* left, const Cell& right) {
    BufPtr<Cell> function = word_value(op.cell, op.slot);
    return function && same_function(*function, op.expect) &&
           actions::compute_in_place({actions::InPlace::Kind(op.in_place_kind), op.in_place_op}, *left, right, left);
}

// A pure step computed in place into `result` by its program; false, having changed nothing, where it
// cannot be. An infix step's program works on the value so far, `left`.
bool computed(const Form& form, const Step& step, Cell* result, const Cell* left = nullptr) {
    Cell values[compiled::kProgramDepth];
    Cell* top = values;
    const compiled::Op* op = form.ops.data() + step.program;
    const compiled::Op* end = form.ops.data() + step.program_end;
    if (left) {
        *top++ = *left;
    } else if (op->code == compiled::OpCode::Word) {
        // Most programs open with a word, and many are that word's value or it computed with a
        // constant: those need no stack.
        BufPtr<Cell> value = plain_word_value(op->cell, op->slot);
        if (!value) return false;
        if (end - op == 1) {
            *result = *value;
            return true;
        }
        if (end - op == 2 && op[1].code == compiled::OpCode::ComputeConstant) {
            *result = *value;
            return compute_op(op[1], result, op[1].operand);
        }
        *top++ = *value;
        op++;
    }
    for (; op < end; op++) {
        switch (op->code) {
        case compiled::OpCode::Constant: *top++ = op->cell; break;
        case compiled::OpCode::Word: {
            BufPtr<Cell> value = plain_word_value(op->cell, op->slot);
            if (!value) return false;
            *top++ = *value;
            break;
        }
        case compiled::OpCode::Compute:
            top--;
            if (!compute_op(*op, &top[-1], top[0])) return false;
            break;
        case compiled::OpCode::ComputeConstant:
            if (!compute_op(*op, &top[-1], op->operand)) return false;
            break;
        case compiled::OpCode::ComputeWord: {
            BufPtr<Cell> value = plain_word_value(op->operand, op->operand_slot);
            if (!value || !compute_op(*op, &top[-1], *value)) return false;
            break;
        }
        case compiled::OpCode::NoOp:
            if (op_follows(op->cell, op->slot)) return false;
            break;
        }
    }
    *result = values[0];
    return true;
}

// The general evaluation of the step's expression, or of its operand alone.
uint32_t step_in_general(const Step& step, const Cell& block, uint32_t end, bool sub) {
    return eval_expression<Tracing::off>(block, step.position, end, {.no_infix = !step.with_infix, .sub = sub});
}

uint32_t run_evaluated_step(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub);

// Runs a step: its value is pushed (sub) or goes to the result slot. Answers the position after it.
// The constants and the steps computed in place run where it is called.
OKA_ALWAYS_INLINE uint32_t run_step(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    if (step.kind == StepKind::Constant) {
        put_result(step.cell, sub);
        return step.next;
    }
    if (step.pure) {
        Cell value;
        if (!computed(form, step, &value)) return step_in_general(step, block, end, sub);
        put_result(value, sub);
        return step.next;
    }
    return run_evaluated_step(form, step, block, end, sub);
}

// The arguments of a call step from `index` on (at `position`), where the code is not what the form
// expects: gathered and checked as the general evaluation gathers them. `fetched`: an infix call's left
// operand, in the frame already.
[[gnu::noinline]] uint32_t gather_rest(const Cell& function, const Step& step, const Cell& block, uint32_t position,
                                       uint32_t end, uint32_t index, uint32_t fetched) {
    Call call{function, block, step.cell, position, end, kCallPlain, nullptr, nullptr, 0};
    Cell cache = spec_cache(function);
    for (uint32_t i = index + fetched; i < fetched + step.count; i++) {
        if (at_end(block, position, end)) missing_argument(call, i);
        position = eval_expression<Tracing::off>(block, position, end, {.no_infix = fetched != 0, .sub = true});
        if (!typeset::has_q(cells_of(cache)[i], stack::top[-1].type())) refuse_argument(call, i);
    }
    return position;
}

[[gnu::noinline, noreturn]] void refuse_step_argument(const Cell& function, const Step& step, const Cell& block,
                                                      uint32_t end, uint32_t index) {
    refuse_argument({function, block, step.cell, step.position + 1, end, kCallPlain, nullptr, nullptr, 0}, index);
}

// Pushes the arguments of a call step, in its callee's frame: by the step's children while the code is
// where the form expects, the rest in the general way. Answers the position after them. `checked`: their
// types are checked as they come (else the form has made sure of them). `fetched`: an infix call's left
// operand, pushed already and checked here.
template <bool checked>
OKA_ALWAYS_INLINE uint32_t push_step_arguments(const Form& form, const Step& step, const Cell& function,
                                               const Cell& block, uint32_t end, uint32_t fetched = 0) {
    auto check = [&](uint32_t index) {
        if (checked && !typeset::has_q(cells_of(spec_cache(function))[index], stack::top[-1].type()))
            refuse_step_argument(function, step, block, end, index);
    };
    if (fetched) check(0);
    uint32_t position = step.position + 1;
    for (uint32_t k = 0; k < step.count; k++) {
        const Step& argument = form.child(step, k);
        if (position != argument.position || form.dropped())
            return gather_rest(function, step, block, position, end, k, fetched);
        position = run_step(form, argument, block, end, true);
        check(fetched + k);
    }
    return position;
}

// A call of a native or an action that takes a fixed count of evaluated arguments, after the left
// operand at `left` for an infix one: the frame make_call would lay out, without the ways of other calls.
uint32_t call_native(const Form& form, const Step& step, const Cell& function, const Cell& block, uint32_t end,
                     Cell* left, bool sub) {
    Cell* start = stack::top;
    stack::push(function);
    stack::mark_interp_native(step.cell);
    uint32_t position;
    no_memory_for_bad_alloc([&] {
        if (left) stack::push(*left);
        position = push_step_arguments<true>(form, step, function, block, end, left ? 1 : 0);
        Call call{function, block, step.cell, position, end, kCallPlain, left, nullptr, 0};
        run_native<Tracing::off>(call, kNoRefinements.data());
    });
    unwind_for(sub);
    place_result(left ? left : start, start, sub);
    return position;
}

// A call of an interpreted function!, whose arguments are all evaluated and which has no locals (see
// fixed_arity): the frame make_call would lay out, without the ways of other calls.
uint32_t call_function(const Form& form, const Step& step, const Cell& function, const Cell& block, uint32_t end,
                       bool sub) {
    Cell* start = stack::top;
    stack::push(function);
    stack::mark_interp_func(step.cell);
    uint32_t position;
    no_memory_for_bad_alloc([&] { position = push_step_arguments<true>(form, step, function, block, end); });
    run_body<Tracing::off>(function, step.cell);
    unwind_for(sub);
    place_result(start, start, sub);
    return position;
}

uint32_t run_call(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    BufPtr<Cell> value = expected_value(step);
    if (!value) return step_in_general(step, block, end, sub);
    Cell function = *value;
    if (function.is(Type::Function)) return call_function(form, step, function, block, end, sub);
    return call_native(form, step, function, block, end, nullptr, sub);
}

// An infix step on the value so far (at `start`): computed in place where it can be, else called.
uint32_t run_infix(const Form& form, const Step& infix, const Cell& op, const Cell& block, uint32_t end, Cell* start,
                   bool sub) {
    Cell* left = sub ? start : stack::frame_base;
    if (infix.pure) {
        Cell result;
        if (!computed(form, infix, &result, left))
            return apply_infix<Tracing::off>(op, block, infix.position, end, start, sub);
        if (sub) {
            *start = result;
            stack::top = start + 1;
        } else {
            stack::set_last_keep(result);
        }
        return infix.next;
    }
    Cell function = op::unwrap(op);
    if (function.is(Type::Function)) {
        Call call{function, block, infix.cell, infix.position + 1, end, kCallPlain, left, nullptr, 0};
        return make_call<Tracing::off>(call, sub);
    }
    return call_native(form, infix, function, block, end, left, sub);
}

// An expression with calls in it: its operand, then its infix steps while the code is as the form
// expects, then the general evaluation of any operator that follows.
uint32_t run_expression(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    Cell* start = stack::top;
    uint32_t next = run_step(form, form.child(step, 0), block, end, sub);
    bool general = false;
    for (uint32_t k = 1; k < step.count && !general; k++) {
        const Step& infix = form.child(step, k);
        BufPtr<Cell> op = next == infix.position && !form.dropped() ? expected_value(infix) : BufPtr<Cell>();
        if (!op) {
            general = true;
            break;
        }
        Cell function = *op;
        next = run_infix(form, infix, function, block, end, start, sub);
    }
    if (general || step.word_follows || form.dropped()) next = eval_infix<Tracing::off>(block, next, end, start, sub);
    return next;
}

// A set-word's step: a value computed in place goes straight into a word with a plain slot; any other
// set is made in a frame named by the word, as the general evaluation makes it.
uint32_t run_set_word(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    const Step& value = form.child(step, 0);
    if (value.pure) {
        Cell result;
        BufPtr<Cell> slot;
        if (!computed(form, value, &result) || result.is(Type::Unset) ||
            !(slot = word_value<true>(step.cell, step.slot)))
            return eval_set_word<Tracing::off>(step.cell, block, step.position, end, sub);
        *slot = result;
        put_result(result, sub);
        return value.next;
    }
    stack::mark_interp_native(step.cell);
    stack::push(step.cell);
    uint32_t next = run_step(form, value, block, end, true);
    word::set_arg();
    unwind_for(sub);
    return next;
}

// `either` or `if` on a condition and literal blocks: the native's own frame and arguments, then the
// chosen block evaluated by the statements the form took in from it, with no call of the native.
uint32_t run_branch(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    BufPtr<Cell> value = expected_value(step);
    if (!value) return step_in_general(step, block, end, sub);
    Cell function = *value;
    Cell* start = stack::top;
    stack::push(function);
    stack::mark_interp_native(step.cell);
    uint32_t position;
    // The condition takes any value and each block is one by the form: no type to check.
    no_memory_for_bad_alloc([&] { position = push_step_arguments<false>(form, step, function, block, end); });
    uint32_t chosen = step.count == 3 ? (logic::check_q() ? 1 : 2) : logic::false_q() ? 0 : 1;
    if (chosen == 0) {
        none::box();
    } else {
        const Step* code = &form.child(step, chosen);
        if (code->kind == StepKind::Expression) code = &form.child(*code, 0);
        const Cell& given = stack::frame_base[chosen];
        Taken taken{&form, code};
        bool same = given.is(Type::Block) && given.node() == code->cell.node() && given.head() == code->cell.head();
        eval_block<Tracing::off>(given, true, same && code->count ? &taken : nullptr);
    }
    unwind_for(sub);
    place_result(start, start, sub);
    return position;
}

// run_step for a step that may run code.
uint32_t run_evaluated_step(const Form& form, const Step& step, const Cell& block, uint32_t end, bool sub) {
    Cell* start = stack::top;
    uint32_t next;
    switch (step.kind) {
    case StepKind::Call: next = run_call(form, step, block, end, sub); break;
    case StepKind::Paren: {
        Taken taken{&form, &step};
        eval_paren<Tracing::off>(step.cell, sub, step.count ? &taken : nullptr);
        next = step.next;
        break;
    }
    case StepKind::Branch: next = run_branch(form, step, block, end, sub); break;
    case StepKind::SetWord: next = run_set_word(form, step, block, end, sub); break;
    case StepKind::Expression: return run_expression(form, step, block, end, sub);
    default: return step_in_general(step, block, end, sub);
    }
    // An operator may follow where the code changed under the form.
    if (step.with_infix && (next != step.next || form.dropped()))
        next = eval_infix<Tracing::off>(block, next, end, start, sub);
    return next;
}

// run_compiled's answer when the form ran the whole block.
constexpr uint32_t kFinished = UINT32_MAX;

// Runs the expressions of a block by statements of a compiled form, as run_expressions would, while the
// form stands and the code is where the form expects. Answers the position where the general evaluation
// goes on, or kFinished when the block's evaluation ended.
OKA_ALWAYS_INLINE uint32_t run_statements(const Form& form, const uint32_t* statements, uint32_t count,
                                          const Cell& code, uint32_t end, bool shown) {
    uint32_t position = code.head();
    for (const uint32_t* statement = statements; statement < statements + count; statement++) {
        const Step& step = form.steps[*statement];
        if (position != step.position || form.dropped()) break;
        if (shown) current_code.set_head(position);
        position = run_step(form, step, code, end, false);
        if (position >= end || (form.dropped() && at_end(code, position, end))) return kFinished;
        stack::reset();
    }
    return position;
}

// run_statements by the block's own form, found by its code.
uint32_t run_compiled(const Cell& code, uint32_t end, bool shown) {
    Form* form = compiled::form_of(code);
    if (!form) return code.head();
    compiled::Hold hold(*form);
    return run_statements(*form, form->statements.data(), uint32_t(form->statements.size()), code, end, shown);
}

// A block that a running form took in needs no hold of its own: the form runs around it.
void run_expressions_compiled(const Cell& code, uint32_t end, bool shown, const Taken* taken) {
    uint32_t position = taken ? run_statements(*taken->form, &taken->form->children[taken->code->children],
                                               taken->code->count, code, end, shown)
                              : run_compiled(code, end, shown);
    if (position != kFinished) run_from<Tracing::off>(code, position, end, shown);
}

}  // namespace

void eval_block(const Cell& block, bool chain) {
    if (trace::tracing)
        eval_block<Tracing::on>(block, chain);
    else
        eval_block<Tracing::off>(block, chain);
}

void eval_in_frame(const Cell& block) {
    OKA_ASSERT(!trace::tracing);
    Cell code = block;
    run_expressions<Tracing::off>(code);
}

uint32_t eval_expression(const Cell& block, uint32_t position, uint32_t end, ExpressionMode mode) {
    if (trace::tracing) return eval_expression<Tracing::on>(block, position, end, mode);
    return eval_expression<Tracing::off>(block, position, end, mode);
}

uint32_t eval_next(const Cell& block, uint32_t position, uint32_t end, bool sub) {
    Cell code = block;
    stack::mark_interp_native(body_name());
    position = eval_expression(code, position, end, {.sub = true});
    unwind_for(sub);
    return position;
}

uint32_t eval_next_index(const Cell& block) {
    Cell code = block;
    uint32_t end = length_of(code);
    if (code.head() >= end) {
        unset::box();
        return code.head();
    }
    return eval_next(code, code.head(), end, false);
}

void reduce_into(const Cell& block, const Cell& into) {
    Cell code = block, target = into;
    stack::Root keep_code(code);
    stack::Root keep_target(target);
    stack::mark_interp_native(body_name());
    uint32_t end = length_of(code);
    for (uint32_t position = code.head(); !at_end(code, position, end);) {
        position = eval_expression(code, position, end, {.sub = true});
        block::rs_append(target, stack::top[-1]);
        stack::pop(1);
    }
    stack::unwind();
}

uint32_t eval_path(const Cell& path, const Cell& block, uint32_t position, uint32_t end, PathMode mode) {
    auto [set, get, sub, case_] = mode;
    Cell steps = path, code = block;
    Cell* new_value = set ? stack::arguments() : nullptr;
    if (trace::tracing) trace::fire_enter(steps);
    // The path needs its head, also after the tracer was shown it: the tracer may empty the path.
    bool empty =
        at_end(steps, steps.head(), UINT32_MAX) || (trace::tracing && !fetch_survives(steps, steps.head(), UINT32_MAX));
    if (empty) fire(Err::script_empty_path);
    Cell* saved_top = stack::top;
    Cell head = code_at(steps, steps.head());
    if (!head.is(Type::Word)) fire_with(Err::script_word_first, steps);
    if (set && steps.head() + 1 >= length_of(steps)) {
        // A path of its head alone sets that word, as its set-word would: there is no step to set through.
        word::set_value(&head, *new_value);
        if (trace::tracing) trace::fire_exit(steps, *new_value);
        return position + 1;
    }
    Cell value = *word::get_cell(head);
    if (is_function(value.type())) {
        if (set) fire_with(Err::script_invalid_path_set, steps);
        if (get) fire_with(Err::script_invalid_path_get, steps);
        // The call reads its refinements from the path after its arguments, one of which may drop the
        // path from the code: the data stack keeps it meanwhile.
        const Cell* kept = stack::push(steps);
        position = eval_code(value, code, position + 1, end, true, kept, steps.head() + 1, head, kCallPlain);
        Cell result = stack::top[-1];
        stack::top = saved_top;
        put_result(result, sub);
        if (trace::tracing) trace::fire_exit(steps, sub ? stack::top[-1] : *stack::frame_base);
        return position;
    }
    if (value.is(Type::Unset)) fire_with(Err::script_unset_path, steps, &head);
    // What the walk carries from step to step sits in data-stack cells, read again after every step: a
    // paren element may change whatever held these values, and evaluating it may collect any value that
    // nothing roots.
    stack::push(steps);
    Cell* current = stack::push(value);
    if (trace::tracing) trace::fire_push(*current);
    Cell* container = stack::push(first_container(head));
    Cell* previous = stack::push(head);           // the element that selected the current value
    Cell* previous_selector = stack::push(head);  // and what that element stood for
    Cell* selector = stack::push_next();
    position++;
    // The path is read as it stands after each step: a paren element may shorten it.
    for (uint32_t i = steps.head() + 1; i < length_of(steps); i++) {
        if (trace::tracing && !fetch_survives(steps, i, UINT32_MAX)) break;  // the tracer shortened the path
        Cell element = code_at(steps, i);
        *selector = selector_of(element, steps);
        if (selector->is(Type::Unset)) fire_with(Err::script_invalid_path, steps, &element);
        if (trace::tracing) trace::fire_push(*selector);
        uint32_t length = length_of(steps);
        bool last = i + 1 >= length;
        bool notify = set && last && length - steps.head() > 2 && notifies(*container, *previous);
        Cell stored = new_value ? *new_value : none::value;
        Cell held = *current;
        uint32_t index = i - steps.head() - 1;
        Cell selected =
            select_step(*current, *selector, set && last ? &stored : nullptr, steps, *container, *previous,
                        {.index = int32_t(index), .case_ = case_, .get = get, .last = last, .notify = notify});
        // `selected` is a plain copy across this: only a set changes the current value, and a set's result
        // is the new value, which the frame holds.
        if (!same_cell(held, *current)) store_back(*current, head, *container, *previous_selector, steps, index, case_);
        *container = *current;
        *previous = element;
        *previous_selector = *selector;
        *current = selected;
        if (!set && !get && is_function(current->type())) {
            Cell* base = stack::top;
            position = eval_code(*current, code, position, end, true, &steps, i + 1, element, kCallPlain);
            *current = stack::top[-1];
            stack::top = base;
            break;
        }
    }
    if (trace::tracing) trace::fire_exit(steps, *current);
    Cell result = *current;
    stack::top = saved_top;
    if (!set) put_result(result, sub);
    return position;
}

uint32_t eval_code(const Cell& function, const Cell& block, uint32_t position, uint32_t end, bool sub, const Cell* path,
                   uint32_t path_index, const Cell& name, uint32_t mode) {
    Cell fn = function, code = block, caller = frame_name(name);
    Call call{fn, code, caller, position, end, mode, nullptr, path, path_index};
    return trace::tracing ? make_call<Tracing::on>(call, sub) : make_call<Tracing::off>(call, sub);
}

int32_t fixed_arity(const Cell& function) {
    Cell cache = spec_cache(function);
    bool all_evaluated = cache.call_plan() & kAllEvaluated, nothing_else = cache.call_plan() & kNothingElse;
    return all_evaluated && (native_like(function) || nothing_else) ? int32_t(leading_arguments(cache)) : -1;
}

void check_native_spec(const Cell& spec) {
    uint32_t count = 0;
    for (uint32_t i = 0; i < length_of(spec); i++) {
        Cell value = code_at(spec, i);
        if (!value.is(Type::Refinement)) continue;
        if (function::spec_refinement_q(value, SpecWord::local)) return;
        number_refinement(count, value);
    }
}

void eval_function_body(const Cell& function, const Cell& name) { run_body<Tracing::on>(function, name); }

void call_comparator(const Cell& function, Cell* arguments) {
    call_back(function, arguments, 2, words::word(Word::compare_callback_tag));
}

void call_lexer_callback(const Cell& callback, Cell* arguments) {
    call_back(callback, arguments, 5, words::word(Word::lexer_callback_tag));
}

void call_parse_callback(const Cell& callback, Cell* arguments) {
    call_back(callback, arguments, 5, words::word(Word::parse_callback_tag));
}

void call_handler(const Cell& handler, Cell* arguments, uint32_t count, Word name) {
    call_back(handler, arguments, count, words::word(name));
}

void call_function(const Cell& function, Cell* arguments, uint32_t count, const Cell& name) {
    call_back(function, arguments, count, name);
}

Cell* running_body_base() {
    return innermost_body ? mem::ptr<Cell>(_context::context_cell(innermost_body->context)->values()) : nullptr;
}

}  // namespace oka::interpreter
