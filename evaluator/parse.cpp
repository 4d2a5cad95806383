// The parse dialect's engine: its states, the rule values, the iterations; start-up and the native.
#include "evaluator/parse.h"

#include <algorithm>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse_engine.h"
#include "evaluator/parse_internal.h"
#include "evaluator/refinements.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::parse {

Cell Engine::run() {
    reserve(rule_stack, 2);
    append(rule_stack, none::value);
    append(rule_stack, triple(index(), input_length(), 0));
    State state = State::next_rule;
    while (state != State::finish && !stopped_) {
        switch (state) {
        case State::next_rule: state = next_rule(); break;
        case State::after_match: state = after_match(); break;
        case State::block_end: state = block_end(); break;
        case State::finish: break;
        }
    }
    // A parse the callback stopped ends as break ends it outside any iteration: judged on the input it
    // was given, whatever `into` had entered.
    if (stopped_) unwind_to(rule_base_);
    match_ = match_ && index() >= end();
    if (!stopped_) report(end_word);
    return collected_ ? reg_[kResult] : match_ ? logic::true_value : logic::false_value;
}

void Engine::report(const Cell& event) {
    if (!reporting_ || stopped_) return;
    Cell* arguments = stack::push(event);
    logic::push(match_);
    stack::push(rules());
    stack::push(input());
    push_copy(rule_stack, rule_base_, rs_buffer_length_q(rule_stack));
    interpreter::call_parse_callback(reg_[kCallback], arguments);
    if (!logic::true_q(*arguments)) stopped_ = true;
    stack::top = arguments;
}

void Engine::stack_command(Code code, const Cell& own, const Cell& second, uint32_t flags) {
    reserve(rule_stack, 3);
    append(rule_stack, own);
    append(rule_stack, second);
    append(rule_stack, Cell::of(Type::Pair).set_parse_code(uint32_t(code)).set_x(flags).set_y(parens_));
}

void Engine::leave_input(uint32_t outer_limit) {
    uint32_t n = rs_buffer_length_q(input_stack);
    input() = *block::rs_abs_at(input_stack, n - 1);
    truncate(input_stack, n - 1);
    limit_ = outer_limit;
}

bool Engine::held_position(const Cell& value, uint32_t* index) {
    if (!value.is(Type::Word) || keyword_of(value) != Keyword::not_keyword) return false;
    Cell held = *word::get_cell(value);
    if (!is_a(held.type(), TypeClass::series) || held.node() != input().node()) return false;
    *index = std::min(held.head(), input_length());
    return true;
}

// ---- the states ----

State Engine::next_rule() {
    uint32_t position = rules().head();
    if (position >= rule_length()) return State::block_end;
    report(words::word(Word::fetch));
    // The callback may have refused the rule, which then does not run, or changed the rules.
    if (stopped_) return State::finish;
    if (position >= rule_length()) return State::block_end;
    Cell value = rule_at(position);
    rules().set_head(position + 1);
    return dispatch(value);
}

State Engine::after_match() {
    Entry e = top();
    if (e.command) return settle(e.at);
    return match_ ? State::next_rule : alternative(e.at);
}

// A command whose rule is gone (a paren emptied the block) fails.
State Engine::block_end() {
    Entry e = top();
    if (e.command) return matched(false);
    return pass_again(e.at) ? State::next_rule : leave_block(true);
}

State Engine::leave_block(bool matched) {
    uint32_t at = top().at;
    Cell parent = entry(at, 0);
    truncate(rule_stack, at);
    match_ = matched;
    if (parent.is(Type::None)) return State::finish;  // the rules parse was given: never pushed
    rules() = parent;
    report(words::word(Word::pop));
    return State::after_match;
}

// After a failure in a block: the next alternative, from the input where the block began.
State Engine::alternative(uint32_t at) {
    set_index(entry(at, 1).first());
    int64_t bar = find_bar(rules().head());
    if (bar < 0) return leave_block(false);
    rules().set_head(uint32_t(bar) + 1);
    match_ = true;
    return State::next_rule;
}

int64_t Engine::find_bar(uint32_t from) {
    for (uint32_t i = from; i < rule_length(); i++) {
        Keyword k = keyword_of(rule_at(i));
        if (k == Keyword::bar) return i;
        if (k == Keyword::quote) i++;
    }
    return -1;
}

// ---- rules ----

State Engine::dispatch(const Cell& value) {
    Keyword k = keyword_of(value);
    if (k != Keyword::not_keyword) return keyword(k, value);
    if (value.is(Type::Word)) return dispatch_value(value_of(value), value);
    return dispatch_value(value, value);
}

// A rule value, or the value of the word `source` that stood in the rules.
State Engine::dispatch_value(const Cell& value, const Cell& source) {
    switch (value.type()) {
    case Type::Block: return enter_block(value);
    case Type::Paren: eval_paren(value); return matched(true);
    case Type::SetWord: return mark_position(value);
    case Type::GetWord: return move_to(value);
    case Type::Integer: return repeat(value);
    case Type::Datatype:
    case Type::Typeset: return match_type(value);
    case Type::Word:
    case Type::Path:
    case Type::SetPath:
    case Type::GetPath: rule_error(Err::script_parse_rule, source);
    case Type::LitWord: {
        Cell word = value;
        word.set_type(Type::Word);
        return match_value(word);
    }
    case Type::LitPath: {
        Cell path = value;
        path.set_type(Type::Path);
        return match_value(path);
    }
    default: return match_value(value);
    }
}

State Engine::keyword(Keyword keyword, const Cell& word) {
    switch (keyword) {
    case Keyword::skip: {
        bool more = index() < end();
        if (more) set_index(index() + 1);
        return tried(more);
    }
    case Keyword::end: return tried(index() >= end());
    case Keyword::none: return matched(true);
    case Keyword::fail: return matched(false);
    case Keyword::bar:
        // The alternative before it matched: so did its block.
        if (top().command) rule_error(Err::script_parse_rule, word);
        rules().set_head(rule_length());
        return State::block_end;
    case Keyword::break_: return stop_iteration(false);
    case Keyword::reject: return stop_iteration(true);
    case Keyword::any: return iterate(Code::iterate, 0, kUnbounded, word);
    case Keyword::some: return iterate(Code::iterate, 1, kUnbounded, word);
    case Keyword::opt: return iterate(Code::iterate, 0, 1, word);
    case Keyword::while_: return iterate(Code::while_, 0, kUnbounded, word);
    case Keyword::to: return to_thru(Code::to, word);
    case Keyword::thru: return to_thru(Code::thru, word);
    case Keyword::copy: return copy_set(Code::copy, word);
    case Keyword::set: return copy_set(Code::set, word);
    case Keyword::not_: return command(Code::not_, word);
    case Keyword::ahead: return command(Code::ahead, word);
    case Keyword::into: return into(word);
    case Keyword::if_: return if_(word);
    case Keyword::quote: {
        uint32_t position = need_rule(word);
        rules().set_head(position + 1);
        return match_value(rule_at(position));
    }
    case Keyword::case_: return case_rule(word);
    case Keyword::remove: return remove(word);
    case Keyword::insert: return insert(word);
    case Keyword::change: return change(word);
    case Keyword::collect: return collect(word);
    case Keyword::keep: return keep(word);
    default: rule_error(Err::script_parse_rule, word);  // only, pick, after: not rules of their own
    }
}

State Engine::enter_block(const Cell& block) {
    reg_[kHold] = block;
    reserve(rule_stack, 2);
    append(rule_stack, rules());
    append(rule_stack, triple(index(), input_length(), 0));
    rules() = reg_[kHold];
    report(words::word(Word::push));
    return State::next_rule;
}

State Engine::match_value(const Cell& literal) {
    int64_t next = match_literal(input(), index(), end(), literal, case_);
    if (next >= 0) set_index(next);
    return tried(next >= 0);
}

State Engine::match_type(const Cell& types) {
    int64_t next = parse::match_type(input(), index(), end(), types);
    if (next >= 0) set_index(uint32_t(next));
    return tried(next >= 0);
}

State Engine::mark_position(const Cell& set_word) {
    Cell word = set_word;
    word::set_value(&word, input());
    return matched(true);
}

State Engine::move_to(const Cell& get_word) {
    Cell held = *word::get_cell(get_word);
    if (!is_a(held.type(), TypeClass::series) || held.node() != input().node())
        rule_error(Err::script_parse_invalid_ref, get_word);
    set_index(std::min(held.head(), input_length()));
    return matched(true);
}

// Evaluates a paren of the rules in a block-evaluation frame of its own; its value is left in the hold
// register.
const Cell& Engine::eval_paren(const Cell& paren) {
    Cell* code = stack::push(paren);  // kept alive while it runs, whatever it does to the rules
    interpreter::eval_block(*code, false);
    reg_[kHold] = stack::top[-1];
    stack::top = code;
    parens_++;
    report(words::word(Word::paren));
    return reg_[kHold];
}

// The value that insert and change put: a paren's result, a word's value, else the value itself.
const Cell& Engine::value_to_put(uint32_t position) {
    Cell value = rule_at(position);
    if (value.is(Type::Paren)) return eval_paren(value);
    reg_[kHold] = value.is(Type::Word) ? value_of(value) : value;
    return reg_[kHold];
}

// The position after the rule that starts at `position`: what a count of zero skips, what a failing
// `into` or a stopped iteration leaves behind. Keywords take their arguments, counts and keywords that
// take a rule take the rule after them, and change takes its value after its rule.
uint32_t Engine::rule_end(uint32_t position) {
    uint32_t length = rule_length(), pending = 0;
    while (position < length) {
        Cell value = rule_at(position);
        uint32_t skipped = 1;  // the values before the rule that follows
        switch (keyword_of(value)) {
        case Keyword::not_keyword:
            if (!count_of(value).is(Type::Integer)) return std::min(position + 1 + pending, length);
            if (position + 1 < length && count_of(rule_at(position + 1)).is(Type::Integer)) skipped = 2;
            break;
        case Keyword::any:
        case Keyword::some:
        case Keyword::opt:
        case Keyword::while_:
        case Keyword::not_:
        case Keyword::ahead:
        case Keyword::to:
        case Keyword::thru:
        case Keyword::into:
        case Keyword::remove: break;
        case Keyword::copy:
        case Keyword::set:
        case Keyword::case_: skipped = 2; break;
        case Keyword::keep: skipped = keyword_at(position + 1) == Keyword::pick ? 2 : 1; break;
        case Keyword::collect: {
            Keyword way = keyword_at(position + 1);
            skipped = way == Keyword::set || way == Keyword::into || way == Keyword::after ? 3 : 1;
            break;
        }
        case Keyword::change:
            pending++;
            skipped = keyword_at(position + 1) == Keyword::only ? 2 : 1;
            break;
        case Keyword::if_:
        case Keyword::quote: return std::min(position + 2 + pending, length);
        case Keyword::insert: {
            uint32_t at = position + 1 + (keyword_at(position + 1) == Keyword::only ? 1 : 0), mark;
            if (at < length && held_position(rule_at(at), &mark)) at++;
            return std::min(at + 1 + pending, length);
        }
        default: return std::min(position + 1 + pending, length);
        }
        position += skipped;
    }
    return length;
}

// ---- iterations ----

State Engine::repeat(const Cell& count) {
    int32_t min = integer::get(count), max = min;
    if (min < 0) rule_error(Err::script_out_of_range, count);
    uint32_t position = rules().head();
    Cell upper = position < rule_length() ? count_of(rule_at(position)) : none::value;
    if (upper.is(Type::Integer)) {
        max = integer::get(upper);
        if (max < 0) rule_error(Err::script_out_of_range, upper);
        if (max < min) rule_error(Err::script_parse_rule, upper);
        rules().set_head(++position);
    }
    if (position >= rule_length()) rule_error(Err::script_parse_rule, count);
    return iterate(Code::iterate, uint32_t(min), uint32_t(max), count);
}

State Engine::iterate(Code code, uint32_t min, uint32_t max, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    if (max == 0) {
        rules().set_head(rule_end(position));
        return matched(true);
    }
    Cell rule = rule_at(position);
    if (rule.is(Type::Word) && keyword_of(rule) == Keyword::not_keyword) rule = value_of(rule);
    if (literal_q(input(), rule)) {  // the counted fast path
        rules().set_head(position + 1);
        int64_t next = match_repeated(input(), index(), end(), rule, case_, min, max);
        if (next >= 0) set_index(next);
        return tried(next >= 0);
    }
    push_command(code, triple(min, max, 0), progress(position), 0);
    return begin_pass(top().at);
}

// Counts a new pass and records where the input stands at its start.
void Engine::record_pass(uint32_t at) {
    BufPtr<Cell> e = entry_at(at);
    e[0].set_third(e[0].third() + 1);
    e[1].set_second(index());
    e[1].set_third(input_length());
    e[2].set_y(parens_);
}

State Engine::begin_pass(uint32_t at) {
    record_pass(at);
    rules().set_head(entry(at, 1).first());
    report(words::word(Word::iterate));
    return State::next_rule;
}

// After a pass that matched: whether another one follows. A pass that matched without moving the input
// (nor shortening it; under while, nor changing it in any way nor running user code) would repeat
// itself forever: the iteration ends there, matched, as its remaining passes would all match.
bool Engine::another_pass(uint32_t at) {
    BufPtr<Cell> e = entry_at(at);
    bool still = index() == e[1].second();
    bool stalled = Code(int32_t(e[2].parse_code())) == Code::while_
                       ? still && input_length() == e[1].third() && parens_ == uint32_t(e[2].y())
                       : still && input_length() >= e[1].third();
    return !stalled && e[0].third() < e[0].second();
}

State Engine::settle_iteration(uint32_t at) {
    if (match_) return another_pass(at) ? begin_pass(at) : end_command(at, true);
    Cell bounds = entry(at, 0);
    set_index(entry(at, 1).second());
    return end_command(at, bounds.third() > bounds.first());  // the passes before this one reached the minimum
}

// At the end of a block that matched: when the block is the rule of the iteration below it, written as
// it is in the rules, its next pass runs in place, its entry kept. Not while a callback listens, which
// hears every block entered and left.
bool Engine::pass_again(uint32_t block_at) {
    if (reporting_ || block_at < rule_base_ + 3 || !block::rs_abs_at(rule_stack, block_at - 1)->is(Type::Pair))
        return false;
    uint32_t at = block_at - 3;
    Code code = code_of(at);
    if (code != Code::iterate && code != Code::while_) return false;
    Cell parent = entry(block_at, 0);
    uint32_t position = entry(at, 1).first();
    if (position >= rs_buffer_length_q(parent)) return false;
    Cell rule = *block::rs_abs_at(parent, position);
    if (!rule.is(Type::Block) || rule.node() != rules().node() || !another_pass(at)) return false;
    record_pass(at);
    *block::rs_abs_at(rule_stack, block_at + 1) = triple(index(), input_length(), 0);
    rules().set_head(rule.head());
    return true;
}

// break and reject: the innermost iteration stops, the current pass matching or failing. With no
// iteration, the whole parse stops so.
State Engine::stop_iteration(bool reject) {
    int64_t found = find_entry(rs_buffer_length_q(rule_stack), [&](uint32_t at) {
        Code code = code_of(at);
        return code == Code::iterate || code == Code::while_;
    });
    if (found < 0) {
        unwind_to(rule_base_);
        match_ = !reject;
        return State::finish;
    }
    auto at = uint32_t(found);
    unwind_to(at + 3);
    Cell bounds = entry(at, 0), start = entry(at, 1);
    rules().set_head(rule_end(start.first()));
    if (!reject) return end_command(at, bounds.third() >= bounds.first());
    set_index(start.second());
    return end_command(at, bounds.third() > bounds.first());
}

// Drops the entries above `level`, restoring what each of them changed.
void Engine::unwind_to(uint32_t level) {
    while (rs_buffer_length_q(rule_stack) > level) {
        Entry e = top();
        if (!e.command) {
            Cell parent = entry(e.at, 0);
            if (!parent.is(Type::None)) rules() = parent;
        } else {
            switch (code_of(e.at)) {
            case Code::into: leave_input(entry(e.at, 0).first()); break;
            case Code::case_: case_ = entry(e.at, 0).first(); break;
            case Code::collect: deliver(e.at); break;
            default: break;
            }
        }
        truncate(rule_stack, e.at);
        report(words::word(Word::pop));
    }
}

// ---- settling ----

State Engine::settle(uint32_t at) {
    BufPtr<Cell> e = entry_at(at);
    Cell own = e[0], tag = e[2];
    uint32_t start = e[1].is(Type::Triple) ? e[1].second() : 0;  // none where the command keeps no start
    switch (Code(int32_t(tag.parse_code()))) {
    case Code::iterate:
    case Code::while_: return settle_iteration(at);
    case Code::to: return settle_to(at, false);
    case Code::thru: return settle_to(at, true);
    case Code::copy:
        if (match_) {
            auto [from, to] = range(start, index());
            Cell* copied = push_copy(input(), from, to);
            Cell word = entry(at, 0);
            word::set_value(&word, *copied);
            stack::pop(1);
        }
        break;
    case Code::set:
        if (match_) {
            Cell* first = start < std::min(index(), input_length()) ? push_value_at(input(), start) : none::push();
            word::set_value(&own, *first);
            stack::pop(1);
        }
        break;
    case Code::not_: set_index(start); return end_command(at, !match_);
    case Code::ahead: set_index(start); break;
    case Code::into: return settle_into(at);
    case Code::remove:
        if (match_) cut(start, index());
        break;
    case Code::collect: deliver(at); break;
    case Code::keep:
        if (match_) {
            auto [from, to] = range(start, index());
            keep_range(entry(uint32_t(find_collection()), 0), input(), from, to, tag.x());
        }
        break;
    case Code::change: return settle_change(at, false);
    case Code::change_only: return settle_change(at, true);
    case Code::case_: case_ = own.first(); break;
    }
    return end_command(at, match_);
}

void init() {
    runtime::register_root(&rule_stack);
    runtime::register_root(&input_stack);
    runtime::register_root(&end_word);
    block::make_at(&rule_stack, 100);
    block::make_at(&input_stack, 8);
    word::make_at(words::id(Sym::end), &end_word);
    for (size_t k = 0; k < std::size(kKeywordSymbols); k++) {
        uint32_t id = symbol::resolve(words::id(kKeywordSymbols[k]));
        if (id >= keyword_ids.size()) keyword_ids.resize(id + 1, kUnknown);
        keyword_ids[id] = uint8_t(k + 1);
    }
}

Cell process(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell* callback) {
    Engine engine(input, rules, case_, limit, callback);
    return engine.run();
}

}  // namespace oka::parse

namespace oka::natives {

namespace {

// The absolute index a /part argument ends the input at: a count (a float truncated) or a position in
// the same series; never before the input's head nor past its tail.
int64_t part_limit(const Cell& input, const Cell& part) {
    uint32_t length = series::rs_buffer_length_q(input), head = std::min(input.head(), length);
    int64_t count;
    if (part.is(Type::Float))
        count = std::isnan(part.f64()) ? 0 : int64_t(std::clamp(part.f64(), -1e10, 1e10));
    else
        count = series::part_count(input, part);
    return head + std::clamp<int64_t>(count, 0, length - head);
}

}  // namespace

void parse_s(const int32_t* positions) {
    Refinements<parse_slot> refinements(positions);
    Cell* args = stack::arguments();
    Cell* part = refinements.arg("part");
    int64_t limit = part ? part_limit(args[0], *part) : parse::kNoLimit;
    Cell result = parse::process(args[0], args[1], refinements.given("case"), limit, refinements.arg("trace"));
    stack::set_last(result);
}

}  // namespace oka::natives