// The parse dialect's engine: one loop over four states (take the next rule, settle what a match
// means, leave a block, finish) that walks nested rule blocks with a stack of its own.
//
// The rule stack holds two kinds of entries, told apart by their last cell:
//   a block entry, 2 cells: the rule block that was left for a sub-block, positioned after it (none for
//     the rules parse was given); a triple! of the input index and length when the block was entered.
//   a command entry, 3 cells: its own cell (an iteration's minimum, maximum and pass count; the word of
//     copy and set; the collection of collect; what case and into restore); a triple! of the position
//     of its rule in the current block and the input index and length when it (or its pass) began
//     (collect: the word it delivers to); a pair! of its code, its flags and the number of parens
//     evaluated before the pass.
// The input stack holds the series that `into` left, each at the position it left.
//
// Every rule leaves the position in its block after itself, matched or not, and a rule that fails
// leaves the input where it found it; the commands rely on both.
#include "evaluator/parse.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/parse_internal.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "runtime/words.h"

namespace oka::parse {

namespace {

using series::is_block_like;
using series::is_string_like;

// ---- keywords ----

enum class Keyword : uint8_t {
    not_keyword,
#define OKA_PARSE_KEYWORD(Name) Name,
#include "evaluator/parse_keywords.def"
};

constexpr Sym kKeywordSymbols[] = {
#define OKA_PARSE_KEYWORD(Name) Sym::Name,
#include "evaluator/parse_keywords.def"
};
static_assert(std::size(kKeywordSymbols) == 29, "the parse dialect has 29 keywords");

// The keyword of each symbol id, learnt as the ids are met (kUnknown until then): a word's letter-case
// variants are keywords too, found through the symbol's alias once.
constexpr uint8_t kUnknown = 0xFF;
std::vector<uint8_t> keyword_ids;

Keyword learn_keyword(uint32_t id) {
    uint32_t canonical = symbol::resolve(id);
    // Every canonical keyword id is known from the start: an unknown canonical id is no keyword.
    uint8_t known = canonical < keyword_ids.size() ? keyword_ids[canonical] : kUnknown;
    Keyword keyword = known == kUnknown ? Keyword::not_keyword : Keyword(known);
    if (id >= keyword_ids.size()) keyword_ids.resize(id + 1, kUnknown);
    keyword_ids[id] = uint8_t(keyword);
    return keyword;
}

inline Keyword keyword_of(const Cell& value) {
    if (!value.is(Type::Word)) return Keyword::not_keyword;
    uint32_t id = value.data2;
    uint8_t known = id < keyword_ids.size() ? keyword_ids[id] : kUnknown;
    return known != kUnknown ? Keyword(known) : learn_keyword(id);
}

// ---- commands ----

// The pending operation of a command entry, settled when its rule has been tried.
enum class Code : int32_t {
    iterate = -1,  // any, some, opt, a count
    to = -2,
    thru = -3,
    copy = -4,
    set = -5,
    not_ = -6,
    into = -7,
    remove = -9,
    while_ = -11,
    collect = -12,
    keep = -13,
    ahead = -16,
    change = -17,
    change_only = -18,
    case_ = -19,
};

// Where collect puts its block: the flags of its entry.
enum CollectWay : uint32_t { kIntoCollection, kSetWord, kIntoSeries };

// ---- the stacks ----

constexpr uint32_t kStackLimit = 10001;  // cells, on each stack

Cell rule_stack;
Cell input_stack;
Cell end_word;  // the event `end`

uint32_t cells_in(const Cell& block) {
    BufPtr<SeriesBuffer> b = mem::buffer(block.data2);
    return (b->tail - b->offset) / sizeof(Cell);
}

// Makes room for `count` more cells on a stack, so that appending them allocates nothing; script
// parse-stack past the limit. Allocates.
void reserve(const Cell& stack, uint32_t count) {
    BufPtr<SeriesBuffer> b = mem::buffer(stack.data2);
    if ((b->tail - b->offset) / sizeof(Cell) + count > kStackLimit) fire(Err::script_parse_stack);
    if (b->tail + count * sizeof(Cell) > b->data_end()) series::grow(stack.data2, count, true);
}

void append(const Cell& stack, const Cell& cell) {
    BufPtr<SeriesBuffer> b = mem::buffer(stack.data2);
    *mem::ptr<Cell>(b->tail) = cell;
    b->tail += sizeof(Cell);
}

// Drops the cells of a stack from `length` on.
void truncate(const Cell& stack, uint32_t length) {
    BufPtr<SeriesBuffer> b = mem::buffer(stack.data2);
    b->tail = std::min<Addr>(b->tail, b->offset + length * sizeof(Cell));
}

Cell triple(uint32_t a, uint32_t b, uint32_t c) { return Cell{uint8_t(Type::Triple), a, b, c}; }

bool path_q(Type type) {
    return type == Type::Path || type == Type::LitPath || type == Type::SetPath || type == Type::GetPath;
}

// A series `into` can enter: the block and string kinds.
bool enterable_q(Type type) { return is_block_like(type) || is_string_like(type); }

[[noreturn]] void rule_error(Err id, const Cell& rule) {
    Cell argument = rule;
    fire(id, &argument);
}

// ---- the engine ----

enum class State { next_rule, after_match, block_end, finish };

// The cells the engine works in, on the data stack: fixed, and roots for the collector.
enum Register { kRules, kInput, kCallback, kResult, kHold, kRegisters };

constexpr uint32_t kNoEnd = UINT32_MAX;  // the input ends at its tail

class Engine {
public:
    Engine(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell* callback)
        : reg_(stack::top),
          rule_base_(cells_in(rule_stack)),
          input_base_(cells_in(input_stack)),
          limit_(limit < 0 ? kNoEnd : uint32_t(limit)),
          case_(case_),
          reporting_(callback != nullptr) {
        for (int i = 0; i < kRegisters; i++) none::push();
        reg_[kRules] = rules;
        reg_[kInput] = input;
        if (callback) reg_[kCallback] = *callback;
        set_index(std::min(index(), input_length()));
    }
    // However the parse ends, a parse that called this one finds the stacks as it left them.
    ~Engine() {
        truncate(rule_stack, rule_base_);
        truncate(input_stack, input_base_);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Cell run();

private:
    struct Entry {
        uint32_t at;  // its first cell
        bool command;
    };

    // ---- registers and positions ----

    Cell& rules() { return reg_[kRules]; }
    Cell& input() { return reg_[kInput]; }
    uint32_t index() { return input().data1; }
    void set_index(int64_t index) { input().data1 = uint32_t(index); }
    uint32_t input_length() { return series::rs_buffer_length_q(input()); }
    uint32_t end() { return std::min(limit_, input_length()); }
    bool block_input() { return is_block_like(input().type()); }
    uint32_t rule_length() { return cells_in(rules()); }
    Cell rule_at(uint32_t position) { return *block::rs_abs_at(rules(), position); }
    Keyword keyword_at(uint32_t position) {
        return position < rule_length() ? keyword_of(rule_at(position)) : Keyword::not_keyword;
    }
    // The triple! of a command entry: where its rule is, and where the input is now.
    Cell progress(uint32_t position) { return triple(position, index(), input_length()); }
    // The position of the rule after a keyword: script parse-end when the keyword ends its block.
    uint32_t need_rule(const Cell& keyword) {
        if (rules().data1 >= rule_length()) rule_error(Err::script_parse_end, keyword);
        return rules().data1;
    }
    // A word's value in the rules; script parse-rule when it has none.
    Cell value_of(const Cell& word) {
        Cell value = *word::get_cell(word);
        if (value.is(Type::Unset)) rule_error(Err::script_parse_rule, word);
        return value;
    }
    // An integer, or the integer a word holds; none for anything else.
    Cell count_of(const Cell& value) {
        Cell count = value.is(Type::Word) && keyword_of(value) == Keyword::not_keyword ? *word::get_cell(value) : value;
        return count.is(Type::Integer) ? count : none::value;
    }
    // A word (not a keyword) whose value is a position in the input series: its index, clamped.
    bool held_position(const Cell& value, uint32_t* index);
    // Moves the input limit with an edit of `delta` units at `at`.
    void adjust_limit(uint32_t at, int64_t delta) {
        if (limit_ != kNoEnd && at <= limit_) limit_ = uint32_t(std::max<int64_t>(at, limit_ + delta));
    }

    // ---- the rule stack ----

    Entry top() {
        uint32_t n = cells_in(rule_stack);
        bool command = block::rs_abs_at(rule_stack, n - 1)->is(Type::Pair);
        return {n - (command ? 3 : 2), command};
    }
    BufPtr<Cell> entry_at(uint32_t at) { return block::rs_abs_at(rule_stack, at); }
    Cell entry(uint32_t at, uint32_t k) { return entry_at(at)[k]; }
    Code code_of(uint32_t at) { return Code(int32_t(entry(at, 2).data1)); }
    // The innermost entry below `above` that `wanted` accepts, or -1.
    template <class F>
    int64_t find_entry(uint32_t above, F wanted);
    int64_t find_collection() {
        return find_entry(cells_in(rule_stack), [&](uint32_t at) { return code_of(at) == Code::collect; });
    }
    // Stacks a command without telling the callback; `own` and `second` must be kept alive by the
    // caller (a register, or values that refer to nothing new).
    void stack_command(Code code, const Cell& own, const Cell& second, uint32_t flags);
    void push_command(Code code, const Cell& own, const Cell& second, uint32_t flags) {
        stack_command(code, own, second, flags);
        report(words::word(Word::push));
    }
    State end_command(uint32_t at, bool matched) {
        truncate(rule_stack, at);
        match_ = matched;
        report(words::word(Word::pop));
        return State::after_match;
    }
    void leave_input(uint32_t outer_limit);

    // ---- the states ----

    State next_rule();
    State after_match();
    State block_end();
    State leave_block(bool matched);
    State alternative(uint32_t at);
    int64_t find_bar(uint32_t from);
    State matched(bool matched) {
        match_ = matched;
        return State::after_match;
    }
    // The end of a value rule's try, told to the callback.
    State tried(bool matched) {
        match_ = matched;
        report(words::word(Word::match));
        return State::after_match;
    }

    // ---- rules ----

    State dispatch(const Cell& value);
    State dispatch_value(const Cell& value, const Cell& source);
    State keyword(Keyword keyword, const Cell& word);
    State enter_block(const Cell& block);
    State match_value(const Cell& literal);
    State match_type(const Cell& types);
    State mark_position(const Cell& set_word);
    State move_to(const Cell& get_word);
    const Cell& eval_paren(const Cell& paren);
    const Cell& value_to_put(uint32_t position);
    uint32_t rule_end(uint32_t position);

    State repeat(const Cell& count);
    State iterate(Code code, uint32_t min, uint32_t max, const Cell& keyword);
    void record_pass(uint32_t at);
    State begin_pass(uint32_t at);
    bool another_pass(uint32_t at);
    bool pass_again(uint32_t block_at);
    State stop_iteration(bool reject);
    void unwind_to(uint32_t level);
    State to_thru(Code code, const Cell& keyword);
    State command(Code code, const Cell& keyword);
    State copy_set(Code code, const Cell& keyword);
    State into(const Cell& keyword);
    State if_(const Cell& keyword);
    State case_rule(const Cell& keyword);
    State remove(const Cell& keyword);
    State insert(const Cell& keyword);
    State change(const Cell& keyword);
    State collect(const Cell& keyword);
    State keep(const Cell& keyword);
    void check_target(const Cell& target);
    void put(uint32_t from, uint32_t to, const Cell& value, bool only);

    // ---- settling commands ----

    State settle(uint32_t at);
    State settle_iteration(uint32_t at);
    State settle_to(uint32_t at, bool thru);
    State settle_into(uint32_t at);
    State settle_change(uint32_t at, bool only);
    void deliver(uint32_t at);

    void report(const Cell& event);

    Cell* reg_;
    uint32_t rule_base_, input_base_;
    uint32_t limit_;
    bool case_;
    bool reporting_;
    bool match_ = true;
    bool stopped_ = false;    // the callback asked to stop
    bool collected_ = false;  // a top-level collect left its block in kResult
    uint32_t parens_ = 0;     // parens evaluated so far
};

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
    push_copy(rule_stack, rule_base_, cells_in(rule_stack));
    interpreter::call_parse_callback(reg_[kCallback], arguments);
    if (!logic::true_q(*arguments)) stopped_ = true;
    stack::top = arguments;
}

// ---- the stacks ----

template <class F>
int64_t Engine::find_entry(uint32_t above, F wanted) {
    for (uint32_t n = above; n > rule_base_;) {
        bool command = block::rs_abs_at(rule_stack, n - 1)->is(Type::Pair);
        n -= command ? 3 : 2;
        if (command && wanted(n)) return n;
    }
    return -1;
}

void Engine::stack_command(Code code, const Cell& own, const Cell& second, uint32_t flags) {
    reserve(rule_stack, 3);
    append(rule_stack, own);
    append(rule_stack, second);
    append(rule_stack, Cell{uint8_t(Type::Pair), uint32_t(code), flags, parens_});
}

void Engine::leave_input(uint32_t outer_limit) {
    uint32_t n = cells_in(input_stack);
    input() = *block::rs_abs_at(input_stack, n - 1);
    truncate(input_stack, n - 1);
    limit_ = outer_limit;
}

bool Engine::held_position(const Cell& value, uint32_t* index) {
    if (!value.is(Type::Word) || keyword_of(value) != Keyword::not_keyword) return false;
    Cell held = *word::get_cell(value);
    if (!series::is_series(held.type()) || held.data2 != input().data2) return false;
    *index = std::min(held.data1, input_length());
    return true;
}

// ---- the states ----

State Engine::next_rule() {
    uint32_t position = rules().data1;
    if (position >= rule_length()) return State::block_end;
    report(words::word(Word::fetch));
    if (position >= rule_length()) return State::block_end;  // the callback may change the rules
    Cell value = rule_at(position);
    rules().data1 = position + 1;
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
    set_index(entry(at, 1).data1);
    int64_t bar = find_bar(rules().data1);
    if (bar < 0) return leave_block(false);
    rules().data1 = uint32_t(bar) + 1;
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
        rules().data1 = rule_length();
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
        rules().data1 = position + 1;
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
    if (!block_input()) fire(Err::script_parse_unsupported);
    bool matched = type_matches(input(), index(), end(), types);
    if (matched) set_index(index() + 1);
    return tried(matched);
}

State Engine::mark_position(const Cell& set_word) {
    Cell word = set_word;
    word::set_value(&word, input());
    return matched(true);
}

State Engine::move_to(const Cell& get_word) {
    Cell held = *word::get_cell(get_word);
    if (!series::is_series(held.type()) || held.data2 != input().data2)
        rule_error(Err::script_parse_invalid_ref, get_word);
    set_index(std::min(held.data1, input_length()));
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
    uint32_t position = rules().data1;
    Cell upper = position < rule_length() ? count_of(rule_at(position)) : none::value;
    if (upper.is(Type::Integer)) {
        max = integer::get(upper);
        if (max < 0) rule_error(Err::script_out_of_range, upper);
        if (max < min) rule_error(Err::script_parse_rule, upper);
        rules().data1 = ++position;
    }
    if (position >= rule_length()) rule_error(Err::script_parse_rule, count);
    return iterate(Code::iterate, uint32_t(min), uint32_t(max), count);
}

State Engine::iterate(Code code, uint32_t min, uint32_t max, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    if (max == 0) {
        rules().data1 = rule_end(position);
        return matched(true);
    }
    Cell rule = rule_at(position);
    if (rule.is(Type::Word) && keyword_of(rule) == Keyword::not_keyword) rule = value_of(rule);
    if (literal_q(input(), rule)) {  // the counted fast path
        rules().data1 = position + 1;
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
    e[0].data3++;
    e[1].data2 = index();
    e[1].data3 = input_length();
    e[2].data3 = parens_;
}

State Engine::begin_pass(uint32_t at) {
    record_pass(at);
    rules().data1 = entry(at, 1).data1;
    report(words::word(Word::iterate));
    return State::next_rule;
}

// After a pass that matched: whether another one follows. A pass that matched without moving the input
// (nor shortening it; under while, nor changing it in any way nor running user code) would repeat
// itself forever: the iteration ends there, matched, as its remaining passes would all match.
bool Engine::another_pass(uint32_t at) {
    BufPtr<Cell> e = entry_at(at);
    bool still = index() == e[1].data2;
    bool stalled = Code(int32_t(e[2].data1)) == Code::while_
                       ? still && input_length() == e[1].data3 && parens_ == e[2].data3
                       : still && input_length() >= e[1].data3;
    return !stalled && e[0].data3 < e[0].data2;
}

State Engine::settle_iteration(uint32_t at) {
    if (match_) return another_pass(at) ? begin_pass(at) : end_command(at, true);
    Cell bounds = entry(at, 0);
    set_index(entry(at, 1).data2);
    return end_command(at, bounds.data3 > bounds.data1);  // the passes before this one reached the minimum
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
    uint32_t position = entry(at, 1).data1;
    if (position >= cells_in(parent)) return false;
    Cell rule = *block::rs_abs_at(parent, position);
    if (!rule.is(Type::Block) || rule.data2 != rules().data2 || !another_pass(at)) return false;
    record_pass(at);
    *block::rs_abs_at(rule_stack, block_at + 1) = triple(index(), input_length(), 0);
    rules().data1 = rule.data1;
    return true;
}

// break and reject: the innermost iteration stops, the current pass matching or failing. With no
// iteration, the whole parse stops so.
State Engine::stop_iteration(bool reject) {
    int64_t found = find_entry(cells_in(rule_stack), [&](uint32_t at) {
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
    rules().data1 = rule_end(start.data1);
    if (!reject) return end_command(at, bounds.data3 >= bounds.data1);
    set_index(start.data2);
    return end_command(at, bounds.data3 > bounds.data1);
}

// Drops the entries above `level`, restoring what each of them changed.
void Engine::unwind_to(uint32_t level) {
    while (cells_in(rule_stack) > level) {
        Entry e = top();
        if (!e.command) {
            Cell parent = entry(e.at, 0);
            if (!parent.is(Type::None)) rules() = parent;
        } else {
            switch (code_of(e.at)) {
            case Code::into: leave_input(entry(e.at, 0).data1); break;
            case Code::case_: case_ = entry(e.at, 0).data1; break;
            case Code::collect: deliver(e.at); break;
            default: break;
            }
        }
        truncate(rule_stack, e.at);
        report(words::word(Word::pop));
    }
}

// ---- commands ----

State Engine::command(Code code, const Cell& keyword) {
    push_command(code, none::value, progress(need_rule(keyword)), 0);
    return State::next_rule;
}

State Engine::to_thru(Code code, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell rule = rule_at(position);
    Keyword k = keyword_of(rule);
    if (k == Keyword::end) {
        rules().data1 = position + 1;
        set_index(end());
        return matched(true);
    }
    if (k == Keyword::not_keyword && rule.is(Type::Word)) rule = value_of(rule);
    if (literal_q(input(), rule)) {
        rules().data1 = position + 1;
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
        if (!thru) set_index(start.data2);
        return end_command(at, true);
    }
    uint32_t next = start.data2 + 1;
    if (next > end()) {
        set_index(first.data1);
        return end_command(at, false);
    }
    block::rs_abs_at(rule_stack, at + 1)->data2 = next;
    set_index(next);
    rules().data1 = start.data1;
    return State::next_rule;
}

State Engine::copy_set(Code code, const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell target = rule_at(position);
    if (!target.is(Type::Word)) rule_error(Err::script_parse_rule, target);
    rules().data1 = position + 1;
    push_command(code, target, progress(need_rule(target)), 0);
    return State::next_rule;
}

State Engine::into(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    if (!block_input()) rule_error(Err::script_parse_block, input());
    uint32_t outer = index();
    if (outer >= end() || !enterable_q(block::rs_abs_at(input(), outer)->type())) {
        rules().data1 = rule_end(position);
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
    uint32_t outer = entry(at, 1).data2;
    leave_input(entry(at, 0).data1);
    set_index(outer + (whole ? 1 : 0));
    return end_command(at, whole);
}

State Engine::if_(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell test = rule_at(position);
    if (!test.is(Type::Paren)) rule_error(Err::script_parse_rule, test);
    rules().data1 = position + 1;
    return matched(logic::true_q(eval_paren(test)));
}

State Engine::case_rule(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell flag = rule_at(position);
    if (!flag.is(Type::Word)) rule_error(Err::script_parse_rule, flag);
    bool sensitive = logic::true_q(value_of(flag));
    rules().data1 = position + 1;
    push_command(Code::case_, triple(case_, 0, 0), progress(need_rule(flag)), 0);
    case_ = sensitive;
    return State::next_rule;
}

void Engine::put(uint32_t from, uint32_t to, const Cell& value, bool only) {
    uint32_t written = replace_range(input(), from, to, value, only);
    adjust_limit(from, int64_t(written) - (to - from));
    set_index(from + written);
}

State Engine::remove(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell rule = rule_at(position);
    if (path_q(rule.type())) rule_error(Err::script_parse_rule, rule);
    uint32_t mark;
    if (!held_position(rule, &mark)) {
        push_command(Code::remove, none::value, progress(position), 0);
        return State::next_rule;
    }
    rules().data1 = position + 1;
    uint32_t from = std::min(mark, index()), to = std::max(mark, index());
    remove_range(input(), from, to);
    adjust_limit(from, -int64_t(to - from));
    set_index(from);
    return matched(true);
}

State Engine::insert(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    bool only = keyword_of(rule_at(position)) == Keyword::only;
    if (only) rules().data1 = position + 1;
    Cell where = rule_at(need_rule(keyword));
    if (path_q(where.type())) rule_error(Err::script_parse_rule, where);
    uint32_t at = index(), current = index();
    if (held_position(where, &at)) rules().data1++;
    const Cell& value = value_to_put(need_rule(keyword));
    rules().data1++;
    uint32_t written = replace_range(input(), at, at, value, only);
    adjust_limit(at, written);
    set_index(at <= current ? current + written : current);
    return matched(true);
}

State Engine::change(const Cell& keyword) {
    uint32_t position = rules().data1;
    bool only = keyword_at(position) == Keyword::only;
    if (only) position++;
    if (position >= rule_length()) rule_error(Err::script_parse_rule, keyword);
    Cell rule = rule_at(position);
    if (path_q(rule.type())) rule_error(Err::script_parse_rule, rule);
    uint32_t mark;
    if (held_position(rule, &mark)) {
        if (position + 1 >= rule_length()) rule_error(Err::script_parse_rule, keyword);
        rules().data1 = position + 2;
        put(std::min(mark, index()), std::max(mark, index()), value_to_put(position + 1), only);
        return matched(true);
    }
    if (rule_end(position) >= rule_length()) rule_error(Err::script_parse_rule, keyword);
    rules().data1 = position;
    push_command(only ? Code::change_only : Code::change, none::value, progress(position), 0);
    return State::next_rule;
}

// The matched part gives way to the value that follows the rule.
State Engine::settle_change(uint32_t at, bool only) {
    uint32_t position = rules().data1, start = entry(at, 1).data2;
    bool there = position < rule_length();
    if (there) rules().data1 = position + 1;
    if (match_ && there) put(std::min(start, index()), std::max(start, index()), value_to_put(position), only);
    return end_command(at, match_);
}

// collect into / after: a series of a kind that can take what the input gives, other than the input.
void Engine::check_target(const Cell& target) {
    Type type = target.type();
    if (!is_block_like(type) && !(is_string_like(type) && !block_input())) fire(Err::script_parse_into_type);
    if (target.data2 == input().data2) fire(Err::script_parse_into_bad);
}

State Engine::collect(const Cell& keyword) {
    uint32_t position = need_rule(keyword);
    Cell way = rule_at(position), target = none::value;
    Keyword k = keyword_of(way);
    CollectWay delivery = k == Keyword::set                            ? kSetWord
                          : k == Keyword::into || k == Keyword::after ? kIntoSeries
                                                                       : kIntoCollection;
    if (delivery != kIntoCollection) {
        rules().data1 = position + 1;
        target = rule_at(need_rule(way));
        if (!target.is(Type::Word)) rule_error(Err::script_parse_rule, target);
        if (delivery == kIntoSeries) check_target(*word::get_cell(target));
        rules().data1++;
        need_rule(target);
    }
    block::make_at(&reg_[kHold], 8);
    push_command(Code::collect, reg_[kHold], target, delivery);
    return State::next_rule;
}

// Hands the block of the collect entry at `at` to where it goes.
void Engine::deliver(uint32_t at) {
    Cell collected = entry(at, 0), target = entry(at, 1);
    switch (entry(at, 2).data2) {
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
        rules().data1 = position + 1;
        position = need_rule(keyword);
    }
    if (find_collection() < 0) fire(Err::script_parse_keep);
    Cell rule = rule_at(position);
    if (!rule.is(Type::Paren)) {
        push_command(Code::keep, none::value, progress(position), pick);
        return State::next_rule;
    }
    rules().data1 = position + 1;
    const Cell& value = eval_paren(rule);
    keep_value(entry(uint32_t(find_collection()), 0), value, pick);
    return matched(true);
}

// ---- settling ----

State Engine::settle(uint32_t at) {
    BufPtr<Cell> e = entry_at(at);
    Cell own = e[0], tag = e[2];
    uint32_t start = e[1].data2;
    switch (Code(int32_t(tag.data1))) {
    case Code::iterate:
    case Code::while_: return settle_iteration(at);
    case Code::to: return settle_to(at, false);
    case Code::thru: return settle_to(at, true);
    case Code::copy:
        if (match_) {
            Cell* copied = push_copy(input(), start, index());
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
    case Code::not_:
        set_index(start);
        return end_command(at, !match_);
    case Code::ahead: set_index(start); break;
    case Code::into: return settle_into(at);
    case Code::remove:
        if (match_) {
            uint32_t from = std::min(start, index()), to = std::max(start, index());
            remove_range(input(), from, to);
            adjust_limit(from, -int64_t(to - from));
            set_index(from);
        }
        break;
    case Code::collect: deliver(at); break;
    case Code::keep:
        if (match_) keep_range(entry(uint32_t(find_collection()), 0), input(), start, index(), tag.data2);
        break;
    case Code::change: return settle_change(at, false);
    case Code::change_only: return settle_change(at, true);
    case Code::case_: case_ = own.data1; break;
    }
    return end_command(at, match_);
}

}  // namespace

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
    // Binary input is matched through the lexer's scanner, which waits for binary! to exist.
    if (input.is(Type::Binary)) fire(Err::internal_not_done);
    Engine engine(input, rules, case_, limit, callback);
    return engine.run();
}

}  // namespace oka::parse

namespace oka::natives {

namespace {

// The absolute index a /part argument ends the input at: a count (a float truncated) or a position in
// the same series; never before the input's head nor past its tail.
int64_t part_limit(const Cell& input, const Cell& part) {
    uint32_t length = series::rs_buffer_length_q(input), head = std::min(input.data1, length);
    int64_t count;
    if (part.is(Type::Float)) count = std::isnan(part.f64()) ? 0 : int64_t(std::clamp(part.f64(), -1e10, 1e10));
    else count = series::part_count(input, part);
    return head + std::clamp<int64_t>(count, 0, length - head);
}

}  // namespace

void parse_s(const int32_t* refinements) {
    enum { kCase, kPart, kTrace };
    Cell* args = stack::arguments();
    int64_t limit = refinements[kPart] >= 0 ? part_limit(args[0], args[refinements[kPart]]) : parse::kNoLimit;
    const Cell* callback = refinements[kTrace] >= 0 ? &args[refinements[kTrace]] : nullptr;
    Cell result = parse::process(args[0], args[1], refinements[kCase] >= 0, limit, callback);
    stack::set_last(result);
}

}  // namespace oka::natives
