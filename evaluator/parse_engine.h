/* The parse dialect's engine: one loop over four states (take the next rule, settle what a match
   means, leave a block, finish) that walks nested rule blocks with a stack of its own. parse.cpp holds
   the states, the rule values and the iterations, parse_commands.cpp the commands that keywords stack
   (to, copy, into, collect, change ...); only those two include this header.

   The rule stack holds two kinds of entries, told apart by their last cell:
     a block entry, 2 cells: the rule block that was left for a sub-block, positioned after it (none for
       the rules parse was given); a triple! of the input index and length when the block was entered.
     a command entry, 3 cells: its own cell (an iteration's minimum, maximum and pass count; the word of
       copy and set; the collection of collect; what case and into restore); a triple! of the position
       of its rule in the current block and the input index and length when it (or its pass) began
       (collect: the word it delivers to); a pair! of its code, its flags and the number of parens
       evaluated before the pass.
   The input stack holds the series that `into` left, each at the position it left.

   Every rule leaves the position in its block after itself, matched or not, and a rule that fails
   leaves the input where it found it; the commands rely on both. */
#pragma once

#include <algorithm>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::parse {

using series::rs_buffer_length_q;

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
inline std::vector<uint8_t> keyword_ids;

inline Keyword learn_keyword(uint32_t id) {
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
    uint32_t id = value.symbol();
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

inline Cell rule_stack;
inline Cell input_stack;
inline Cell end_word;  // the event `end`

// Makes room for `count` more cells on a stack, so that appending them allocates nothing; script
// parse-stack past the limit. Allocates.
inline void reserve(const Cell& stack, uint32_t count) {
    if (rs_buffer_length_q(stack) + count > kStackLimit) fire(Err::script_parse_stack);
    BufPtr<SeriesBuffer> b = mem::buffer(stack.node());
    if (b->tail + count * sizeof(Cell) > b->data_end()) series::grow(stack.node(), count, true);
}

inline void append(const Cell& stack, const Cell& cell) {
    BufPtr<SeriesBuffer> b = mem::buffer(stack.node());
    *mem::ptr<Cell>(b->tail) = cell;
    b->tail += sizeof(Cell);
}

// Drops the cells of a stack from `length` on.
inline void truncate(const Cell& stack, uint32_t length) {
    BufPtr<SeriesBuffer> b = mem::buffer(stack.node());
    b->tail = std::min<Addr>(b->tail, b->offset + length * sizeof(Cell));
}

inline Cell triple(uint32_t a, uint32_t b, uint32_t c) {
    return Cell::of(Type::Triple).set_first(a).set_second(b).set_third(c);
}

[[noreturn]] inline void rule_error(Err id, const Cell& rule) { fire(id, &rule); }

// ---- the engine ----

enum class State { next_rule, after_match, block_end, finish };

// The cells the engine works in, on the data stack: fixed, and roots for the collector.
enum Register { kRules, kInput, kCallback, kResult, kHold, kRegisters };

constexpr uint32_t kNoEnd = UINT32_MAX;  // the input ends at its tail

class Engine {
public:
    Engine(const Cell& input, const Cell& rules, bool case_, int64_t limit, const Cell* callback)
        : reg_(stack::top),
          rule_base_(rs_buffer_length_q(rule_stack)),
          input_base_(rs_buffer_length_q(input_stack)),
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
    uint32_t index() { return input().head(); }
    void set_index(int64_t index) { input().set_head(uint32_t(index)); }
    uint32_t input_length() { return rs_buffer_length_q(input()); }
    uint32_t end() { return std::min(limit_, input_length()); }
    bool block_input() { return is_a(input().type(), TypeClass::any_block); }
    uint32_t rule_length() { return rs_buffer_length_q(rules()); }
    Cell rule_at(uint32_t position) { return *block::rs_abs_at(rules(), position); }
    Keyword keyword_at(uint32_t position) {
        return position < rule_length() ? keyword_of(rule_at(position)) : Keyword::not_keyword;
    }
    // The triple! of a command entry: where its rule is, and where the input is now.
    Cell progress(uint32_t position) { return triple(position, index(), input_length()); }
    // The position of the rule after a keyword: script parse-end when the keyword ends its block.
    uint32_t need_rule(const Cell& keyword) {
        if (rules().head() >= rule_length()) rule_error(Err::script_parse_end, keyword);
        return rules().head();
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
    // The part of the input from `a` to `b`, in either order, cut to the tail: user code run during a
    // match may have shortened the input.
    std::pair<uint32_t, uint32_t> range(uint32_t a, uint32_t b) {
        uint32_t to = std::min(std::max(a, b), input_length());
        return {std::min(std::min(a, b), to), to};
    }
    // Moves the input limit with an edit of `delta` units at `at`.
    void adjust_limit(uint32_t at, int64_t delta) {
        if (limit_ != kNoEnd && at <= limit_) limit_ = uint32_t(std::max<int64_t>(at, limit_ + delta));
    }

    // ---- the rule stack ----

    Entry top() {
        uint32_t n = rs_buffer_length_q(rule_stack);
        bool command = block::rs_abs_at(rule_stack, n - 1)->is(Type::Pair);
        return {n - (command ? 3 : 2), command};
    }
    BufPtr<Cell> entry_at(uint32_t at) { return block::rs_abs_at(rule_stack, at); }
    Cell entry(uint32_t at, uint32_t k) { return entry_at(at)[k]; }
    Code code_of(uint32_t at) { return Code(int32_t(entry(at, 2).parse_code())); }
    // The innermost entry below `above` that `wanted` accepts, or -1.
    template <class F>
    int64_t find_entry(uint32_t above, F wanted);
    int64_t find_collection() {
        return find_entry(rs_buffer_length_q(rule_stack), [&](uint32_t at) { return code_of(at) == Code::collect; });
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
    void cut(uint32_t a, uint32_t b);
    void put(uint32_t a, uint32_t b, const Cell& value, bool only);

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

template <class F>
int64_t Engine::find_entry(uint32_t above, F wanted) {
    for (uint32_t n = above; n > rule_base_;) {
        bool command = block::rs_abs_at(rule_stack, n - 1)->is(Type::Pair);
        n -= command ? 3 : 2;
        if (command && wanted(n)) return n;
    }
    return -1;
}

}  // namespace oka::parse
