// The evaluation natives: evaluating values and blocks on demand, reading and writing words, paths and
// objects, making functions and objects, and retyping series.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/system_objects.h"
#include "datatypes/unset.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/actions.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/raise.h"
#include "evaluator/refinements.h"
#include "evaluator/trace.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "runtime/types.h"

namespace oka::natives {

namespace {

Cell* args() { return stack::arguments(); }

uint32_t length_of(const Cell& series) { return series::rs_buffer_length_q(series); }

[[noreturn]] void fire_with(Err id, const Cell& value) {
    Cell copy = value;
    fire(id, &copy);
}

// A head past the tail is moved back to the tail.
void clamp_head(Cell* series) { series->set_head(std::min(series->head(), length_of(*series))); }

Cell datatype_of(Type type) {
    Cell datatype;
    return *datatype::make_at(&datatype, type);
}

// Evaluates a value as the one expression of a code block of its own; its value becomes the result.
void eval_alone(const Cell& value) {
    Cell* code = block::push_only_s(1);
    block::rs_append(*code, value);
    interpreter::eval_next(*code, 0, 1, false);
}

// ---- do ----

using DoRefinements = Refinements<do_slot>;

// do/expand's first step: the preprocessor's expand rewrites the block in place, with no job.
void expand_directives(const Cell& block) {
    const Cell& preprocessor = system_objects::references.preprocessor;
    uint32_t expand = words::id(Sym::expand);
    if (!preprocessor.is(Type::Object)) fire(Err::internal_feature_na);
    Cell function = *object::rs_select(preprocessor, expand);
    if (!function.is(Type::Function)) fire(Err::internal_feature_na);
    Cell name;
    word::make_at(expand, &name);
    Cell* saved = stack::top;
    Cell* arguments = stack::push(block);
    stack::push(none::value);
    interpreter::call_function(function, arguments, 2, name);
    stack::top = saved;
}

// do of a block, a paren or a loaded text: the whole of it, or with /next one expression, after which
// the word of /next holds the block at the position that follows.
void do_block(DoRefinements refinements) {
    Cell* block = args();
    clamp_head(block);
    if (refinements.given("expand")) {
        expand_directives(*block);
        clamp_head(block);
    }
    if (!refinements.given("next")) {
        interpreter::eval_block(*block, true);
        return;
    }
    Cell* code = stack::push(*block);  // the result slot takes the expression's value
    code->set_head(interpreter::eval_next_index(*code));
    word::set_value(refinements.arg("next"), *code);
}

// A file or URL runs as a script, with the tracer of /trace and the value of /args.
void do_file(DoRefinements refinements) {
    const Cell* tracer = refinements.arg("trace");
    const Cell* script_args = refinements.arg("args");
    Cell* value = run_script(*args(), tracer ? *tracer : none::value, script_args ? *script_args : none::value);
    stack::set_last(*value);
}

// An error raised again. An exit that a try/all stopped goes on as that exit, to the loop, function or
// catch it was bound for, with its value (and a throw with its name), so that code which restores
// something after a try/all passes every exit on. do's own frame holds them as the exit's native
// held them: the value first, the name after it.
[[noreturn]] void raise_again(Cell* raised) {
    Cell code = *error::field(*raised, error::kCode);
    Cell value = *error::field(*raised, error::kArg1);
    Cell name = *error::field(*raised, error::kArg2);
    bool has_value = !value.is(Type::None);
    if (code.is(Type::Integer)) switch (Err(integer::get(code))) {
        case Err::throw_break: raised[0] = value; stack::throw_break(has_value);
        case Err::throw_continue: stack::throw_continue();
        case Err::throw_return: raised[0] = value; stack::throw_exit(has_value);
        case Err::throw_throw:
            raised[0] = value;
            if (name.is(Type::None)) name.header = uint8_t(Type::Unset);
            raised[1] = name;
            stack::throw_throw(kThrowThrow);
        default: break;
        }
    stack::throw_error(*raised);
}

void do_value(DoRefinements refinements) {
    Cell* value = args();
    switch (value->type()) {
    case Type::Block:
    case Type::Paren:
    case Type::Hash: do_block(refinements); return;
    case Type::String: {
        Cell* text = stack::push(*value);
        uint32_t consumed;
        lexer::scan_string(value, *text, -1, lexer::Options{}, &consumed);
        do_block(refinements);
        return;
    }
    case Type::File:
    case Type::Url: do_file(refinements); return;
    case Type::Path: interpreter::eval_path(*value, *value, 0, 0, {.get = true}); return;
    case Type::Error: raise_again(value);
    default: eval_alone(*value);
    }
}

// Tracing for the life of a do/trace: flags on, cleared however the evaluation ends.
struct TraceSession {
    explicit TraceSession(const Cell& tracer) {
        trace::set_tracer(tracer);
        trace::tracing = trace::trace_mode = true;
    }
    ~TraceSession() {
        trace::tracing = trace::trace_mode = false;
        trace::clear_tracer();
    }
    TraceSession(const TraceSession&) = delete;
    TraceSession& operator=(const TraceSession&) = delete;
};

// ---- reduce and compose ----

// Where reduce and compose put their values: a new block, or with /into the block `out`, appended to at
// its tail, else inserted into at its position. The target is the first cell of a frame of its own,
// where the insert action leaves the position it moves on.
struct Target {
    enum Mode { fresh, append, insert };
    Cell* cell;
    Mode mode;
    uint32_t appended = 0;  // the cells added at the tail so far
};

Target open_target(const Cell* out, uint32_t capacity) {
    stack::mark_native(words::word(Word::body_tag));
    if (!out) return {block::push_only_s(int32_t(capacity)), Target::fresh};
    Cell* cell = stack::push(*out);
    return {cell, series::rs_tail_q(*cell) ? Target::append : Target::insert};
}

// Adds a value (a cell on the data stack) as one value, or with `spread` a block's values one by one.
void add(Target& target, Cell* value, bool spread) {
    if (target.mode == Target::insert) {
        actions::call<Act::insert>(target.cell, value, EditOptions{.only = !spread}, false);
        return;
    }
    uint32_t before = length_of(*target.cell);
    if (spread)
        block::rs_append_block(*target.cell, *value);
    else
        block::rs_append(*target.cell, *value);
    target.appended += length_of(*target.cell) - before;
}

// Closes the target's frame, leaving as the next cell of the caller's frame the new block at its head,
// or `out` where the appended values begin, or just past the inserted ones. The evaluation may have
// shortened `out` meanwhile: the appended values are then the ones still at its tail.
Cell* close_target(const Target& target) {
    if (target.mode == Target::append) {
        uint32_t length = length_of(*target.cell), added = std::min(target.appended, length);
        ownership::check(*target.cell, Word::insert, nullptr, int32_t(length - added), int32_t(added));
        target.cell->set_head(length - added);
    }
    stack::unwind();
    return stack::top - 1;
}

// A block reduced or composed into itself is read from a copy of it: the values added to the target
// must not be read again, or the block would grow until memory runs out.
void read_from_copy_if_target(Cell* source, const Cell* out) {
    if (!out || out->node() != source->node()) return;
    *source = *block::clone(*source, block::Nested::shared);
    stack::pop(1);
}

// reduce of a value that is not a block: a function stays a value, anything else is evaluated.
void reduce_value(const Cell* out) {
    Cell* value = args();
    if (!is_a(value->type(), TypeClass::any_function)) eval_alone(*value);
    if (!out) return;
    Target target = open_target(out, 1);
    add(target, stack::push(*value), false);
    stack::set_last(*close_target(target));
}

// Composes `source` into the target: the value of each paren in place of it (nothing for an empty paren
// or an unset value, the values of a block one by one unless `only`), nested blocks composed too when
// `deep`.
void compose_block(const Cell& source, Target& target, bool deep, bool only) {
    for (uint32_t i = source.head(); i < length_of(source); i++) {
        Cell* value = stack::push(*block::rs_abs_at(source, i));
        if (value->is(Type::Block) && deep) {
            Target inner = open_target(nullptr, series::rs_length_q(*value));
            compose_block(*value, inner, deep, only);
            add(target, close_target(inner), false);
        } else if (value->is(Type::Paren)) {
            if (!series::rs_tail_q(*value)) {
                interpreter::eval_block(*value, false);
                Cell* result = stack::top - 1;
                if (!result->is(Type::Unset)) add(target, result, result->is(Type::Block) && !only);
            }
        } else {
            add(target, value, false);
        }
        stack::top = value;
    }
}

// ---- words, paths and objects ----

// The context that bind and in work on: a word's, an object's or a function's.
Node context_of(const Cell& value) {
    switch (value.type()) {
    case Type::Word:
    case Type::SetWord:
    case Type::LitWord:
    case Type::GetWord:
        if (!value.context()) fire_with(Err::script_not_defined, value);
        return value.context();
    case Type::Object:
    case Type::Error:
    case Type::Port:
    case Type::Function:
    case Type::Routine: return value.context();
    default: fire_with(Err::script_invalid_arg, value);  // natives and actions have no context to bind to
    }
}

void set_path(const Cell& path, const Cell& value, bool case_) {
    stack::mark_native(words::word(Word::set_path));
    stack::push(value);  // the path evaluator takes the new value from the frame's first cell
    interpreter::eval_path(path, path, 0, 0, {.set = true, .sub = true, .case_ = case_});
    stack::unwind();
}

// Sets each word of the block `words`: to the value at the same place of a block `value`, none past its
// tail, or with `only`, or to a value that is no block, to `value` itself. The words and the values they
// get are checked first; with `some`, a none value leaves its word alone.
void set_many(const Cell& words, const Cell& value, bool any, bool only, bool some) {
    bool spread = !only && is_a(value.type(), TypeClass::any_block);
    auto value_for = [&](uint32_t i) {
        if (!spread) return value;
        uint32_t at = value.head() + i;
        return at < length_of(value) ? *block::rs_abs_at(value, at) : none::value;
    };
    auto checked_value_for = [&](uint32_t i, const Cell& word) {
        Cell given = value_for(i);
        if (!any && given.is(Type::Unset)) fire_with(Err::script_need_value, word);
        return given;
    };
    uint32_t count = series::rs_length_q(words);
    for (uint32_t i = 0; i < count; i++) checked_value_for(i, word::settable_at(words, words.head() + i));
    // A change handler a set runs may shrink the block of words, ending the sets at its tail, or put an
    // unset value into the block of values, checked again as it is read.
    for (uint32_t i = 0; i < count && words.head() + i < length_of(words); i++) {
        Cell word = word::settable_at(words, words.head() + i), assigned = checked_value_for(i, word);
        if (!(some && assigned.is(Type::None))) word::set_value(&word, assigned);
    }
}

// ---- functions ----

// Makes a function! of a spec and a body (cells on the data stack); it becomes the result.
void make_function(Cell* spec, Cell* body) {
    clamp_head(spec);
    clamp_head(body);
    uint32_t flags = function::validate(*spec);
    function::push(*spec, *body, 0, 0, 0, flags);
    stack::set_last(stack::top[-1]);
}

// ---- as ----

enum class SeriesClass { other, block, string };

SeriesClass class_of(Type type) {
    if (is_a(type, TypeClass::any_string)) return SeriesClass::string;
    if (is_a(type, TypeClass::any_block) && type != Type::Hash) return SeriesClass::block;
    return SeriesClass::other;
}

// ---- transcode ----

// The units transcode reads from the head of `source`: a /part count or the distance to a /part position
// (0 when negative), or, without /part, the rest of it.
int32_t transcode_length(const Cell& source, const Cell* part) {
    int32_t rest = int32_t(series::rs_length_q(source));
    if (!part) return rest;
    if (!part->is(Type::Integer) && !part->is(source.type())) fire(Err::script_not_same_type);
    int32_t length = part->is(Type::Integer) ? integer::get(*part) : int32_t(part->head()) - int32_t(source.head());
    return std::clamp(length, 0, rest);
}

// Scans `length` bytes of a binary! from its head, a UTF-8 byte-order mark skipped; counts in `consumed`
// the bytes read.
Type scan_binary(Cell* destination, Cell* binary, int32_t length, const lexer::Options& options, uint32_t* consumed) {
    static constexpr uint8_t kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
    const uint8_t* head = series::unit_at(*binary, binary->head()).get();
    std::vector<uint8_t> text(head, head + length);  // the lexer reads text that cannot move
    uint32_t skipped = text.size() > 2 && std::equal(text.begin(), text.begin() + 3, kByteOrderMark) ? 3 : 0;
    Type found =
        lexer::scan(destination, text.data() + skipped, uint32_t(text.size()) - skipped, options, consumed, binary);
    *consumed += skipped;
    return found;
}

}  // namespace

// ---- evaluation ----

Cell* run_script(const Cell& file, const Cell& tracer, const Cell& args) {
    const Cell& name = words::word(Word::do_file);
    Cell function = *word::get_cell(name);
    if (!function.is(Type::Function)) fire_with(Err::script_no_value, name);
    Cell* arguments = stack::push(file);
    stack::push(tracer);
    stack::push(args);
    interpreter::call_function(function, arguments, 3, name);
    stack::top = arguments + 1;
    return arguments;
}

// With /trace, the first do/trace of a nesting sets the tracer and ends the trace however its
// evaluation ends; the ones nested in it trace with the same tracer. A script hands its tracer to
// do-file, which traces the script's code alone.
void do_s(const int32_t* positions) {
    DoRefinements refinements(positions);
    bool script = args()->is(Type::File) || args()->is(Type::Url);
    if (!refinements.given("trace") || trace::trace_mode || script) {
        do_value(refinements);
        return;
    }
    TraceSession session(*refinements.arg("trace"));
    trace::fire_init();
    uint32_t code = sys::protect(kThrowError, [&] { do_value(refinements); });
    if (trace::tracing) trace::fire_end(code);
    if (code) sys::throw_(code);
}

void reduce_s(const int32_t* positions) {
    Cell* source = args();
    const Cell* out = Refinements<reduce_slot>(positions).arg("into");
    if (!source->is(Type::Block)) {
        reduce_value(out);
        return;
    }
    read_from_copy_if_target(source, out);
    Target target = open_target(out, series::rs_length_q(*source));
    for (uint32_t position = source->head(); position < length_of(*source);) {
        position = interpreter::eval_next(*source, position, length_of(*source), true);
        stack::top[-1].clear_new_line();
        add(target, stack::top - 1, false);
        stack::pop(1);
    }
    stack::set_last(*close_target(target));
}

void compose_s(const int32_t* positions) {
    Refinements<compose_slot> refinements(positions);
    Cell* source = args();
    const Cell* out = refinements.arg("into");
    read_from_copy_if_target(source, out);
    Target target = open_target(out, series::rs_length_q(*source));
    compose_block(*source, target, refinements.given("deep"), refinements.given("only"));
    stack::set_last(*close_target(target));
}

// apply calls the function over the values of its argument block, as the interpreter's apply call
// modes read them. A path names the function by its head; its further words are refinements.
void apply_s(const int32_t* positions) {
    Refinements<apply_slot> refinements(positions);
    Cell* apply_args = args();  // function, argument block
    Cell named = apply_args[0];
    if (named.is(Type::Path)) named = series::rs_tail_q(named) ? none::value : *block::rs_abs_at(named, named.head());
    Cell function = op::unwrap(named.is(Type::Word) ? *word::get_cell(named) : named);
    if (!is_a(function.type(), TypeClass::any_function)) fire_with(Err::script_invalid_arg, function);
    uint32_t mode = refinements.given("all") ? interpreter::kCallApplyAll : interpreter::kCallApply;
    if (refinements.given("safer")) mode |= interpreter::kCallApplySafer;
    const Cell* path = apply_args[0].is(Type::Path) ? &apply_args[0] : nullptr;
    stack::set_interp_flag();
    interpreter::eval_code(function, apply_args[1], apply_args[1].head(), length_of(apply_args[1]), false, path,
                           path ? path->head() + 1 : 0, named, mode);
}

// ---- words, paths and objects ----

void get_s(const int32_t* positions) {
    Refinements<get_slot> refinements(positions);
    Cell* target = args();
    if (is_a(target->type(), TypeClass::any_path)) {
        interpreter::eval_path(*target, *target, 0, 0, {.get = true, .case_ = refinements.given("case")});
    } else if (target->is(Type::Object)) {
        Cell values = Cell::of(Type::Block).set_node(_context::context_cell(target->context())->values());
        stack::set_last(*block::clone(values, block::Nested::shared));
    } else {
        Cell value = *word::get_cell(*target);
        if (value.is(Type::Unset) && !refinements.given("any")) fire_with(Err::script_no_value, *target);
        stack::set_last(value);
    }
}

void set_s(const int32_t* positions) {
    Refinements<set_slot> refinements(positions);
    Cell* set_args = args();  // target, value
    bool any = refinements.given("any"), only = refinements.given("only"), some = refinements.given("some");
    switch (set_args[0].type()) {
    case Type::Block: {
        // A map gives its keys (as stored) and values in turn.
        bool entries = set_args[1].is(Type::Map) && !only;
        set_many(set_args[0], entries ? *map::push_body(set_args[1]) : set_args[1], any, only, some);
        break;
    }
    case Type::Object: object::set(set_args[0], set_args[1], any, only, some); break;
    case Type::Path:
    case Type::LitPath:
    case Type::SetPath:
    case Type::GetPath: set_path(set_args[0], set_args[1], refinements.given("case")); break;
    default:
        if (set_args[1].is(Type::Unset) && !any) fire_with(Err::script_need_value, set_args[0]);
        word::set_value(&set_args[0], set_args[1]);
    }
    stack::set_last(set_args[1]);
}

void unset_s(const int32_t*) {
    Cell* target = args();
    if (target->is(Type::Word)) {
        word::set_value(target, unset::value);
    } else {
        for (uint32_t i = target->head(); i < length_of(*target); i++) {
            Cell word = *block::rs_abs_at(*target, i);
            if (is_a(word.type(), TypeClass::any_word)) word::set_value(&word, unset::value);
        }
    }
    unset::box();
}

void value_q_s(const int32_t*) { logic::box(!word::get_cell(*args())->is(Type::Unset)); }

void type_q_s(const int32_t* positions) {
    Type type = args()->type();
    stack::set_last(Refinements<type_q_slot>(positions).given("word") ? datatype::word_of(type) : datatype_of(type));
}

void bind_s(const int32_t* positions) {
    Cell* bind_args = args();  // block or word, context
    Node context = context_of(bind_args[1]);
    if (!bind_args[0].is(Type::Block)) {
        _context::bind_word(context, &bind_args[0]);
        return;
    }
    if (Refinements<bind_slot>(positions).given("copy"))
        bind_args[0] = *block::clone(bind_args[0], block::Nested::code);
    _context::bind(bind_args[0], context, bind_args[1].is(Type::Object));
}

void in_s(const int32_t*) {
    Cell* in_args = args();  // object or function, word
    Cell word = in_args[1];
    if (_context::bind_word(context_of(in_args[0]), &word) < 0) {
        none::box();
        return;
    }
    if (word.is(Type::Refinement)) word.set_type(Type::Word);
    stack::set_last(word);
}

// The object or function a word is bound to; none for an unbound word and for one of a context that no
// value stands for (the global one, a routine's), whose self cell stays unset.
void context_q_s(const int32_t*) {
    Cell word = *args();
    Cell owner = word.context() ? *_context::self_cell(word.context()) : none::value;
    stack::set_last(owner.is(Type::Unset) ? none::value : owner);
}

// ---- functions ----

void func_s(const int32_t*) { make_function(&args()[0], &args()[1]); }

// The words the body sets become locals of a copy of the spec, but those named after /extern.
void function_s(const int32_t*) {
    Cell* spec = block::clone(args()[0], block::Nested::shared);
    function::collect_words(*spec, args()[1]);
    make_function(spec, &args()[1]);
}

void does_s(const int32_t*) { make_function(block::push_only_s(1), &args()[0]); }

void has_s(const int32_t*) {
    Cell* spec = block::clone(args()[0], block::Nested::shared);
    block::insert_value(spec, words::spec_word(SpecWord::local), {.at_start = true});
    make_function(spec, &args()[1]);
}

// ---- objects ----

void construct_s(const int32_t* positions) {
    Refinements<construct_slot> refinements(positions);
    stack::set_last(*object::construct(args()[0], refinements.arg("with"), refinements.given("only")));
}

void extend_s(const int32_t* positions) {
    if (args()->is(Type::Object)) fire(Err::internal_not_done);
    bool case_ = Refinements<extend_slot>(positions).given("case");
    stack::set_last(*map::extend(args(), args() + 1, case_));
}

// ---- series ----

// The value is the same series seen as another type of its class: same buffer, same position.
void as_s(const int32_t*) {
    Cell* as_args = args();  // type, series
    Type target = as_args[0].is(Type::Datatype) ? as_args[0].named_type() : as_args[0].type();
    Type source = as_args[1].type();
    if (class_of(source) != class_of(target)) {
        Cell from = datatype_of(source), to = datatype_of(target);
        fire(Err::script_not_same_class, &from, &to);
    }
    Cell result = as_args[1];
    result.set_type(target);
    stack::set_last(result);
}

// Without /all and /skip only the cell at the position changes; with them, every cell from it on: the
// first of each run of `size` cells gets the flag as asked, the others the opposite.
void new_line_s(const int32_t* positions) {
    Refinements<new_line_slot> refinements(positions);
    Cell* line_args = args();  // position, flag, size
    Cell position = line_args[0];
    bool flag = logic::get(line_args[1]);
    Cell* skip = refinements.arg("skip");
    bool every = refinements.given("all") || skip;
    int32_t size = skip ? integer::get(*skip) : 1;
    if (every && size <= 0) fire_with(Err::script_out_of_range, *skip);
    uint32_t end = every ? length_of(position) : std::min(position.head() + 1, length_of(position));
    for (uint32_t i = position.head(); i < end; i++) {
        BufPtr<Cell> cell = block::rs_abs_at(position, i);
        if (((i - position.head()) % uint32_t(size) == 0) == flag)
            cell->header |= kCellNewLine;
        else
            cell->clear_new_line();
    }
}

void new_line_q_s(const int32_t*) {
    Cell position = *args();
    logic::box(!series::rs_tail_q(position) && block::rs_abs_at(position, position.head())->new_line());
}

// /next and /one take the first value only; /prescan and /scan answer its datatype instead of loading
// it. With /next the value comes in a block with the input after it.
void transcode_s(const int32_t* positions) {
    Refinements<transcode_slot> refinements(positions);
    bool next = refinements.given("next"), one = refinements.given("one");
    bool prescan = refinements.given("prescan"), scan = refinements.given("scan");
    Cell* source = args();
    clamp_head(source);
    int32_t length = transcode_length(*source, refinements.arg("part"));
    lexer::Options options;
    options.one = next || one || scan;
    options.scan = !prescan;
    options.load = !prescan && !scan;
    options.into = refinements.arg("into");
    options.callback = refinements.arg("trace");
    Cell* result = unset::push();
    uint32_t consumed = 0;
    Type found = source->is(Type::Binary) ? scan_binary(result, source, length, options, &consumed)
                                          : lexer::scan_string(result, *source, length, options, &consumed);
    if (prescan || scan) *result = found == Type::Void ? none::value : datatype_of(found);
    if (next && (scan || !one)) {
        Cell* pair = block::push_only_s(2);
        block::rs_append(*pair, *result);
        Cell rest = *source;
        rest.set_head(rest.head() + consumed);
        block::rs_append(*pair, rest);
        result = pair;
    }
    stack::set_last(*result);
}

}  // namespace oka::natives
