// The actions that change a string in place (append, insert, change, swap, trim), the set operations
// and the change of letter case. Every change is reported to the string's owner before and after.
#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/string_internal.h"
#include "datatypes/words.h"
#include "runtime/case_folding.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"
#include "runtime/unicode.h"

namespace oka::string {

namespace {

void append_literal(Cell* string, const char* text) { concatenate_literal(string, text, uint32_t(std::strlen(text))); }

// Forms the values of a block from its head one after the other, until `part` code points are written
// when `part` is not negative.
void form_each(Cell* string, const Cell& block, int32_t part) {
    Cell limit;
    Cell* budget_cell = part >= 0 ? integer::make_at(&limit, part) : nullptr;
    int32_t budget = part;
    for (uint32_t i = block.head(); i < rs_abs_length_q(block) && (part < 0 || budget > 0); i++) {
        Cell* item = stack::push(*block::rs_abs_at(block, i));
        budget = actions::call<Act::form>(item, string, budget_cell, budget);
        stack::pop(1);
    }
}

// ---- trim ----

bool is_white(uint32_t code_point) { return (code_point >= 1 && code_point <= ' ') || unicode::space_q(code_point); }

// The spaces that line cleaning drops: not line feeds.
bool is_line_space(uint32_t code_point) {
    return code_point == ' ' || code_point == '\t' || unicode::space_q(code_point);
}

std::u32string without(const std::u32string& text, const std::u32string& characters) {
    std::u32string out;
    for (char32_t c : text)
        if (characters.find(c) == std::u32string::npos) out += c;
    return out;
}

// The characters /with names: those of a string or binary, or one code point; by default the white
// space of lines. Any other value names none: an error.
std::u32string characters_of(const Cell* with) {
    if (!with) return U"\t\n\r ";
    if (with->is(Type::Char) || with->is(Type::Integer)) return std::u32string(1, char32_t(with->int32()));
    if (!is_a(with->type(), TypeClass::any_string) && !with->is(Type::Binary)) error::fire_refinement("with", with);
    return code_points_of(*with);
}

// Each run of white becomes one space; none is left at either end.
std::u32string trim_lines(const std::u32string& text) {
    std::u32string out;
    bool gap = false;
    for (char32_t c : text) {
        if (is_white(c)) {
            gap = !out.empty();
            continue;
        }
        if (gap) out += U' ';
        gap = false;
        out += c;
    }
    return out;
}

// Drops the spaces at the start of each line and just before each line feed.
std::u32string clean_lines(std::u32string_view text) {
    std::u32string out;
    bool line_start = true;
    for (char32_t c : text) {
        if (c == '\n') {
            while (!out.empty() && is_line_space(out.back())) out.pop_back();
            line_start = true;
        } else if (line_start && is_line_space(c)) {
            continue;
        } else {
            line_start = false;
        }
        out += c;
    }
    return out;
}

// White goes from the start unless only the tail is asked for, from the end unless only the head is;
// with neither, the lines between are cleaned too. A line feed cut from the end comes back unless the
// tail is asked for: the text keeps ending its last line.
std::u32string trim_head_tail(const std::u32string& text, bool head, bool tail) {
    size_t first = 0, end = text.size();
    if (head || !tail)
        while (first < end && is_white(text[first])) first++;
    bool cut_line_feed = false;
    if (tail || !head) {
        for (; end > first && is_white(text[end - 1]); end--) cut_line_feed = cut_line_feed || text[end - 1] == '\n';
    }
    std::u32string_view kept(text.data() + first, end - first);
    std::u32string out = head || tail ? std::u32string(kept) : clean_lines(kept);
    if (cut_line_feed && !tail) out += U'\n';
    return out;
}

// Writes code points over the units from `start` and cuts the tail after them. They come from the text
// there, or are ASCII, so they fit its unit.
void rewrite_from(const Cell& string, uint32_t start, const std::u32string& text) {
    BufPtr<SeriesBuffer> b = mem::buffer(string.node());
    uint32_t unit = b->unit();
    for (uint32_t i = 0; i < text.size(); i++) unicode::set_unit_at(mem::ptr(b->offset), unit, start + i, text[i]);
    b->tail = b->offset + (start + uint32_t(text.size())) * unit;
}

// Writes a code point over a unit: a binary takes its low eight bits, as a poke does.
void write_unit(const Cell& series, uint32_t index, uint32_t code_point) {
    if (series.is(Type::Binary))
        *series::unit_at(series, index) = uint8_t(code_point);
    else
        write_char(series.node(), index, code_point);
}

// ---- set operations ----

// Appends to `result` each record of `from` that the op keeps: a record is tested by its first code
// point against the records of `other`, and never enters the result twice. The records a pass takes are
// looked up from where the pass began: a short last record of an earlier pass would put them off the
// grid of the result's head.
void collect(const Cell& result, const Cell& from, const Cell& other, SetOp op, uint32_t skip, bool case_) {
    Cell taken = result;
    taken.set_head(rs_abs_length_q(result));
    for (uint32_t i = from.head(); i < rs_abs_length_q(from); i += skip) {
        uint32_t code_point = rs_abs_at(from, i);
        bool kept = true;
        if (op == SetOp::intersect) kept = find_char_step(other, code_point, skip, case_);
        if (op == SetOp::exclude || op == SetOp::difference) kept = !find_char_step(other, code_point, skip, case_);
        if (!kept || find_char_step(taken, code_point, skip, case_)) continue;
        uint32_t count = std::min(skip, rs_abs_length_q(from) - i);
        append_text(result.node(), Run{nullptr, from.node(), i, mem::buffer(from.node())->unit(), count});
    }
}

}  // namespace

Run contribution(Cell* value, int32_t part, bool only) {
    Type type = value->type();
    if (is_a(type, TypeClass::any_string) && type != Type::Tag) return run_of(*value, part);
    Cell* formed = rs_make_at(stack::push_next(), 16);
    if (type == Type::Tag) {
        append_literal(formed, "<");
        concatenate(*formed, *value, -1, 0, Mode::append);
        append_literal(formed, ">");
    } else if (is_a(type, TypeClass::any_list) && !only) {  // a path is one value, formed with its slashes
        form_each(formed, *value, part);
    } else {
        Cell limit;
        actions::call<Act::form>(value, formed, part >= 0 ? integer::make_at(&limit, part) : nullptr, part);
    }
    clip_tail(formed, part);
    return run_of(*formed);
}

namespace {

// Where an append, insert or change writes and what: `dup` copies of the run at `at`, `written` units
// in all in place of `replaced`. An owner's handler may change the string or the value, so an edit is
// planned again after the report before the change.
struct Edit {
    uint32_t at;
    Run run;
    uint64_t written;
    uint32_t replaced;
};

// The text an edit writes for a value: a char's code point, or the contribution of any other value.
Run text_written(Cell* value, int32_t part, bool only) {
    return value->is(Type::Char) ? run_of_char(value->code_point()) : contribution(value, part, only);
}

// An append writes at the tail, an insert at the head (a head past the tail counting as the tail).
Edit plan_addition(Cell* series, Cell* value, const EditOptions& options, bool append) {
    Run run = text_written(value, options.part, options.only);
    uint32_t at = append ? rs_abs_length_q(*series) : clamped_head(*series);
    return {at, run, uint64_t(run.count) * uint32_t(options.dup), 0};
}

// A change replaces the units after the head that the value writes, or the /part count of them.
Edit plan_change(Cell* series, Cell* value, const EditOptions& options) {
    Run run = text_written(value, -1, options.only);
    uint32_t head = clamped_head(*series), available = rs_abs_length_q(*series) - head;
    uint64_t written = uint64_t(run.count) * uint32_t(options.dup);
    uint64_t replaced = options.part >= 0 ? uint64_t(options.part) : written;
    return {head, run, written, uint32_t(std::min<uint64_t>(replaced, available))};
}

// Any append or insert. Kept out of line, so that the common append does not take on its stack frame.
[[gnu::noinline]] void add_any(Cell* series, Cell* value, const EditOptions& options, bool append) {
    Edit edit = plan_addition(series, value, options, append);
    if (edit.run.count == 0) return;
    Word before = append ? Word::append : Word::insert, after = append ? Word::appended : Word::inserted;
    bool owned = ownership::check(*series, before, value, int32_t(edit.at), int32_t(edit.written));
    if (owned) edit = plan_addition(series, value, options, append);
    splice(series->node(), edit.at, 0, edit.run, uint32_t(options.dup));
    if (owned) ownership::check(*series, after, value, int32_t(edit.at), int32_t(edit.written));
    series->set_head(append ? 0 : edit.at + uint32_t(edit.written));
}

// What the common append writes: the text of a string-like value other than a tag.
bool is_plain_text(Type type) { return is_a(type, TypeClass::any_string) && type != Type::Tag; }

// Appends such a text once. When no object owns the string and its buffer has the room, there is no
// change to report and nothing to allocate: the text goes straight to the tail.
void append_plain_text(Cell* series, Cell* value, int32_t part) {
    Node node = series->node();
    Run run = run_of(*value, part);
    if (!(mem::buffer(node)->flags & kSeriesOwned) && run.count > 0 && appended_in_place(node, run, run.buffer_units()))
        series->set_head(0);
    else
        add_any(series, value, EditOptions{.part = part}, true);
}

}  // namespace

// One entry serves append and insert.
void append(Cell* series, Cell* value, const EditOptions& options, bool append) {
    if (append && options.dup == 1 && is_plain_text(value->type()))
        append_plain_text(series, value, options.part);
    else
        add_any(series, value, options, append);
    stack::set_last(*series);
}

void change(Cell* series, Cell* value, const EditOptions& options) {
    Edit edit = plan_change(series, value, options);
    bool owned = ownership::check(*series, Word::change, value, int32_t(edit.at), int32_t(edit.replaced));
    if (owned) edit = plan_change(series, value, options);
    splice(series->node(), edit.at, edit.replaced, edit.run, uint32_t(options.dup));
    if (owned) ownership::check(*series, Word::changed, value, int32_t(edit.at), int32_t(edit.written));
    series->set_head(edit.at + uint32_t(edit.written));
    stack::set_last(*series);
}

void swap(Cell* series1, Cell* series2) {
    if (!is_a(series2->type(), TypeClass::any_string) && !series2->is(Type::Binary))
        fire(Err::script_invalid_arg, series2);
    if (series::both_at_units_q(*series1, *series2)) {
        uint32_t head1 = series1->head(), head2 = series2->head();
        bool owned1 = ownership::check(*series1, Word::swap, series2, int32_t(head1), 1);
        bool owned2 = ownership::check(*series2, Word::swap, series1, int32_t(head2), 1);
        // The code points are read after the reports, whose handlers may change either string; one
        // shortened past its head leaves nothing there to swap.
        if (series::both_at_units_q(*series1, *series2)) {
            uint32_t code_point1 = rs_abs_at(*series1, head1), code_point2 = rs_abs_at(*series2, head2);
            write_unit(*series1, head1, code_point2);
            write_unit(*series2, head2, code_point1);
        }
        if (owned1) ownership::check(*series1, Word::swaped, series2, int32_t(head1), 1);
        if (owned2) ownership::check(*series2, Word::swaped, series1, int32_t(head2), 1);
    }
    stack::set_last(*series1);
}

// The text is read after the report, whose handler may change the string.
void trim(Cell* series, const TrimOptions& options) {
    bool listed = options.all || options.with;
    if (options.auto_ && !listed) fire(Err::internal_not_done);
    bool owned =
        ownership::check(*series, Word::trim, nullptr, int32_t(clamped_head(*series)), int32_t(rs_length_q(*series)));
    std::u32string text = code_points_of(*series);
    std::u32string trimmed = listed          ? without(text, characters_of(options.with))
                             : options.lines ? trim_lines(text)
                                             : trim_head_tail(text, options.head, options.tail);
    uint32_t start = clamped_head(*series);
    rewrite_from(*series, start, trimmed);
    if (owned) ownership::check(*series, Word::trimmed, nullptr, int32_t(start), int32_t(trimmed.size()));
    stack::set_last(*series);
}

void do_set_op(bool case_, int32_t skip, SetOp op) {
    Cell* first = stack::arguments();
    Cell* second = first + 1;
    first->set_head(clamped_head(*first));
    if (op != SetOp::unique) second->set_head(clamped_head(*second));  // unique has no second set
    Cell* result = rs_make_at(stack::push_next(), rs_length_q(*first));
    collect(*result, *first, *second, op, uint32_t(skip), case_);
    // The second set's records go after the first's, and only those that the first lacks.
    if (op == SetOp::union_ || op == SetOp::difference)
        collect(*result, *second, *first, SetOp::difference, uint32_t(skip), case_);
    stack::set_last(*result);
}

}  // namespace oka::string

namespace oka::case_folding {

namespace {

// The code points from the head that a change of case covers: those up to /part, else all.
int32_t case_count(const Cell& text, const Cell* part) {
    int64_t available = string::rs_length_q(text);
    return int32_t(part ? std::clamp<int64_t>(series::part_count(text, *part), 0, available) : available);
}

}  // namespace

Cell* change_case(Cell* value, Cell* part, bool upper) {
    if (value->is(Type::Char)) {
        value->set_code_point(change_char(value->code_point(), upper));
        return value;
    }
    Word action = upper ? Word::uppercase : Word::lowercase;
    ownership::check(*value, action, nullptr, int32_t(string::clamped_head(*value)), case_count(*value, part));
    value->set_head(string::clamped_head(*value));  // read after the report, whose handler may change the text
    change_part(value->node(), value->head(), uint32_t(case_count(*value, part)), upper);
    return value;
}

}  // namespace oka::case_folding
