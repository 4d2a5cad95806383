// The commands of the parse dialect: the keywords that stack an entry and settle it once their rule has
// been tried (to and thru, copy and set, into, case, remove, insert and change, collect and keep), and
// those that act at once on what follows them.
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "evaluator/parse_engine.h"
#include "evaluator/parse_internal.h"
#include "runtime/error.h"
#include "runtime/types.h"

namespace oka::parse {

namespace {

// A series `into` can enter: the block and string kinds, and binary!.
bool enterable_q(Type type) {
    return is_a(type, TypeClass::any_block) || is_a(type, TypeClass::any_string) || type == Type::Binary;
}

}  // namespace

State Engine::command(Code code, const Cell& keyword) {
    push_command(code, none::value, progress(need_rule(keyword)), 0);
    return State::next_rule;
}

State Engine::to_thru(Code code, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell rule = rule_at(position);
    Keyword k = keyword_of(rule);
    if (k == Keyword::end) {
        rules().set_head(position + 1);
        set_index(end());
        return matched(true);
    }
    if (k == Keyword::not_keyword && rule.is(Type::Word)) rule = value_of(rule);
    if (literal_q(input(), rule)) {
        rules().set_head(position + 1);
        int64_t next = find_literal(input(), index(), end(), rule, case_, code == Code::thru);
        if (next >= 0) set_index(next);
        return tried(next >= 0);
    }
    push_command(code, triple(index(), 0, 0), progress(position), 0);
    return State::next_rule;
}

// The rule is tried at each position from where the command began, up to the end.
State Engine::settle_to(uint32_t at, bool thru) {
    Cell first = entry(at, 0), start = entry(at, 1);
    if (match_) {
        if (!thru) set_index(start.second());
        return end_command(at, true);
    }
    uint32_t next = start.second() + 1;
    if (next > end()) {
        set_index(first.first());
        return end_command(at, false);
    }
    block::rs_abs_at(rule_stack, at + 1)->set_second(next);
    set_index(next);
    rules().set_head(start.first());
    return State::next_rule;
}

State Engine::copy_set(Code code, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell target = rule_at(position);
    if (!target.is(Type::Word)) rule_error(Err::script_parse_rule, target);
    rules().set_head(position + 1);
    push_command(code, target, progress(need_rule(target)), 0);
    return State::next_rule;
}

State Engine::into(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    if (!block_input()) rule_error(Err::script_parse_block, input());
    uint32_t outer = index();
    if (outer >= end() || !enterable_q(block::rs_abs_at(input(), outer)->type())) {
        rules().set_head(rule_end(position));
        return matched(false);
    }
    stack_command(Code::into, triple(limit_, 0, 0), progress(position), 0);
    reserve(input_stack, 1);
    append(input_stack, input());
    input() = *block::rs_abs_at(input(), outer);
    set_index(std::min(index(), input_length()));
    limit_ = kNoEnd;
    report(words::word(Word::push));
    return State::next_rule;
}

// The sub-rule must have matched the value entered to its tail; then the outer input moves past it.
State Engine::settle_into(uint32_t at) {
    bool whole = match_ && index() >= end();
    uint32_t outer = entry(at, 1).second();
    leave_input(entry(at, 0).first());
    set_index(outer + (whole ? 1 : 0));
    return end_command(at, whole);
}

State Engine::if_(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell test = rule_at(position);
    if (!test.is(Type::Paren)) rule_error(Err::script_parse_rule, test);
    rules().set_head(position + 1);
    return matched(logic::true_q(eval_paren(test)));
}

State Engine::case_rule(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell flag = rule_at(position);
    if (!flag.is(Type::Word)) rule_error(Err::script_parse_rule, flag);
    bool sensitive = logic::true_q(value_of(flag));
    rules().set_head(position + 1);
    push_command(Code::case_, triple(case_, 0, 0), progress(need_rule(flag)), 0);
    case_ = sensitive;
    return State::next_rule;
}

// Removes the part of the input between two positions; the input stands where it was.
void Engine::cut(uint32_t a, uint32_t b) {
    auto [from, to] = range(a, b);
    remove_range(input(), from, to);
    adjust_limit(from, -int64_t(to - from));
    set_index(from);
}

// Replaces the part of the input between two positions by a value; the input stands after it.
void Engine::put(uint32_t a, uint32_t b, const Cell& value, bool only) {
    auto [from, to] = range(a, b);
    uint32_t written = replace_range(input(), from, to, value, only);
    adjust_limit(from, int64_t(written) - (to - from));
    set_index(from + written);
}

State Engine::remove(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell rule = rule_at(position);
    if (is_a(rule.type(), TypeClass::any_path)) rule_error(Err::script_parse_rule, rule);
    uint32_t mark;
    if (!held_position(rule, &mark)) {
        push_command(Code::remove, none::value, progress(position), 0);
        return State::next_rule;
    }
    rules().set_head(position + 1);
    cut(mark, index());
    return matched(true);
}

State Engine::insert(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    bool only = keyword_of(rule_at(position)) == Keyword::only;
    if (only) rules().set_head(position + 1);
    Cell where = rule_at(need_rule(keyword));
    if (is_a(where.type(), TypeClass::any_path)) rule_error(Err::script_parse_rule, where);
    uint32_t at = index(), current = index();
    if (held_position(where, &at)) rules().set_head(rules().head() + 1);
    at = std::min(at, input_length());
    const Cell& value = value_to_put(need_rule(keyword));
    rules().set_head(rules().head() + 1);
    uint32_t written = replace_range(input(), at, at, value, only);
    adjust_limit(at, written);
    set_index(at <= current ? current + written : current);
    return matched(true);
}

State Engine::change(const Cell& keyword) {
    uint32_t position = rules().head();
    bool only = keyword_at(position) == Keyword::only;
    if (only) position++;
    if (position >= rule_length()) rule_error(Err::script_parse_rule, keyword);
    Cell rule = rule_at(position);
    if (is_a(rule.type(), TypeClass::any_path)) rule_error(Err::script_parse_rule, rule);
    uint32_t mark;
    if (held_position(rule, &mark)) {
        if (position + 1 >= rule_length()) rule_error(Err::script_parse_rule, keyword);
        rules().set_head(position + 2);
        put(mark, index(), value_to_put(position + 1), only);
        return matched(true);
    }
    if (rule_end(position) >= rule_length()) rule_error(Err::script_parse_rule, keyword);
    rules().set_head(position);
    push_command(only ? Code::change_only : Code::change, none::value, progress(position), 0);
    return State::next_rule;
}

// The matched part gives way to the value that follows the rule.
State Engine::settle_change(uint32_t at, bool only) {
    uint32_t position = rules().head(), start = entry(at, 1).second();
    bool there = position < rule_length();
    if (there) rules().set_head(position + 1);
    if (match_ && there) put(start, index(), value_to_put(position), only);
    return end_command(at, match_);
}

// collect into / after: a series of a kind that can take what the input gives, other than the input.
void Engine::check_target(const Cell& target) {
    Type type = target.type();
    bool takes_units = is_a(type, TypeClass::any_string) || type == Type::Binary;
    if (!is_a(type, TypeClass::any_block) && !(takes_units && !block_input())) fire(Err::script_parse_into_type);
    if (target.node() == input().node()) fire(Err::script_parse_into_bad);
}

State Engine::collect(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell way = rule_at(position), target = none::value;
    Keyword k = keyword_of(way);
    CollectWay delivery = k == Keyword::set                           ? kSetWord
                          : k == Keyword::into || k == Keyword::after ? kIntoSeries
                                                                      : kIntoCollection;
    if (delivery != kIntoCollection) {
        rules().set_head(position + 1);
        target = rule_at(need_rule(way));
        if (!target.is(Type::Word)) rule_error(Err::script_parse_rule, target);
        if (delivery == kIntoSeries) check_target(*word::get_cell(target));
        rules().set_head(rules().head() + 1);
        need_rule(target);
    }
    block::make_at(&reg_[kHold], 8);
    push_command(Code::collect, reg_[kHold], target, delivery);
    return State::next_rule;
}

// Hands the block of the collect entry at `at` to where it goes.
void Engine::deliver(uint32_t at) {
    Cell collected = entry(at, 0), target = entry(at, 1);
    switch (uint32_t(entry(at, 2).x())) {
    case kSetWord: word::set_value(&target, collected); break;
    case kIntoSeries: {
        Cell series = *word::get_cell(target);
        check_target(series);
        insert_collected(series, collected);
        break;
    }
    default: {
        int64_t outer = find_entry(at, [&](uint32_t below) { return code_of(below) == Code::collect; });
        if (outer >= 0) {
            block::rs_append(entry(uint32_t(outer), 0), collected);
        } else {
            reg_[kResult] = collected;
            collected_ = true;
        }
    }
    }
}

State Engine::keep(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    bool pick = keyword_of(rule_at(position)) == Keyword::pick;
    if (pick) {
        rules().set_head(position + 1);
        position = need_rule(keyword);
    }
    int64_t collection = find_collection();
    if (collection < 0) fire(Err::script_parse_keep);
    Cell rule = rule_at(position);
    if (!rule.is(Type::Paren)) {
        push_command(Code::keep, none::value, progress(position), pick);
        return State::next_rule;
    }
    rules().set_head(position + 1);
    // The paren's code may run a parse of its own, which leaves the entries below its own as it found them.
    const Cell& value = eval_paren(rule);
    keep_value(entry(uint32_t(collection), 0), value, pick);
    return matched(true);
}

}  // namespace oka::parse
