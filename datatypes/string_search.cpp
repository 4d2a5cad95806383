// Comparison, search and sorting of string!. Case folds both sides through case_folding::change_char,
// the same for every unit size, so that two texts compare, and a text sorts, alike however they are
// stored: to upper case where texts are matched (the case that string hashes fold to, so that texts
// that match hash alike), to lower case where they are ordered (so that "_" and the other signs that lie
// between the two cases of the letters sort before the letters, whatever their case).
#include <algorithm>
#include <optional>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/string_internal.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/case_folding.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/sort.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::string {

namespace {

uint32_t fold(uint32_t code_point) { return case_folding::change_char(code_point, true); }
uint32_t fold_for_order(uint32_t code_point) { return case_folding::change_char(code_point, false); }

enum class Fold : uint8_t { none, to_match, to_order };

uint32_t folded(uint32_t code_point, Fold how) {
    return how == Fold::to_match ? fold(code_point) : how == Fold::to_order ? fold_for_order(code_point) : code_point;
}

bool is_ordering(int32_t op) { return op >= kCompareLesser && op <= kCompareCaseSort; }

bool is_case_sensitive(int32_t op) {
    return op == kCompareStrictEqual || op == kCompareCaseSort || op == kCompareStrictEqualWord;
}

// ---- comparing texts ----

template <class A, class B>
int32_t compare_units(const uint8_t* a, const uint8_t* b, uint32_t count, Fold how) {
    for (uint32_t i = 0; i < count; i++) {
        uint32_t x = unicode::unit_at<A>(a, i), y = unicode::unit_at<B>(b, i);
        if (x != y) {
            x = folded(x, how);
            y = folded(y, how);
        }
        if (x != y) return x > y ? 1 : -1;
    }
    return 0;
}

// The order of the first `count` code points of two texts.
int32_t compare_texts(const Text& a, const Text& b, uint32_t count, Fold how) {
    return unicode::with_unit(a.unit, [&]<class A>(A) {
        return unicode::with_unit(
            b.unit, [&]<class B>(B) { return compare_units<A, B>(a.data.get(), b.data.get(), count, how); });
    });
}

uint32_t head_char(const Cell& position) { return rs_abs_at(position, position.head()); }

// ---- find and select ----

// What a search looks for: code points (folded when the search folds), or the members of a bitset.
struct Target {
    std::u32string text;
    const Cell* bitset = nullptr;

    uint32_t length() const { return bitset ? 1 : uint32_t(text.size()); }
};

Target target_of(Cell* value, bool folded) {
    Target target;
    switch (value->type()) {
    case Type::Char: target.text = char32_t(value->code_point()); break;
    case Type::Bitset: target.bitset = value; return target;
    case Type::Word: {
        Cell name = Cell::of(Type::String).set_node(word::to_string(*value));
        target.text = code_points_of(name);
        break;
    }
    case Type::String:
    case Type::File:
    case Type::Url:
    case Type::Email:
    case Type::Ref: target.text = code_points_of(*value); break;
    case Type::Binary: fire(Err::script_invalid_arg, value);
    default: {
        Cell* formed = rs_make_at(stack::push_next(), 16);
        actions::call<Act::form>(value, formed, nullptr, 0);
        target.text = code_points_of(*formed);
        stack::pop(1);
    }
    }
    if (folded) std::transform(target.text.begin(), target.text.end(), target.text.begin(), fold);
    return target;
}

// What a search of a binary looks for: bytes. A number is the byte of its value (binary::kNoByte when
// it is no byte), a char the byte of its code point, a binary its bytes; any other value its text's
// UTF-8 encoding, as it stands among bytes.
Target byte_target_of(Cell* value) {
    Target target;
    switch (value->type()) {
    case Type::Integer:
    case Type::Float: {
        double number = float_::number_of(*value);
        bool byte = number >= 0 && number <= 255 && number == double(uint8_t(number));
        target.text = byte ? char32_t(number) : char32_t(binary::kNoByte);
        break;
    }
    case Type::Char: target.text = char32_t(value->code_point()); break;
    case Type::Bitset: target.bitset = value; break;
    case Type::Binary: target.text = code_points_of(*value); break;
    default:
        for (char32_t c : target_of(value, false).text) {
            uint8_t utf8[4];
            uint32_t length = unicode::cp_to_utf8(c, utf8);
            target.text.append(utf8, utf8 + length);
        }
    }
    return target;
}

template <class Unit>
bool matches_at(const uint8_t* units, uint32_t at, const Target& target, bool folded) {
    if (target.bitset) return bitset::has_codepoint(*target.bitset, unicode::unit_at<Unit>(units, at));
    for (uint32_t k = 0; k < target.text.size(); k++) {
        uint32_t code_point = unicode::unit_at<Unit>(units, at + k);
        if ((folded ? fold(code_point) : code_point) != target.text[k]) return false;
    }
    return true;
}

// The search of find and select: the positions of the plan, tested for the target's code points.
Found search(Cell* series, Cell* value, const SelectOptions& options, bool match) {
    std::optional<SearchPlan> plan = plan_search(*series, options, match);
    if (!plan) return kNotFound;
    bool bytes = series->is(Type::Binary);
    bool folded = !options.case_ && !options.same && !bytes;
    Target target = bytes ? byte_target_of(value) : target_of(value, folded);
    BufPtr<uint8_t> units = series::unit_at(*series, 0);
    return unicode::with_unit(mem::buffer(series->node())->unit(), [&]<class Unit>(Unit) {
        return scan(*plan, target.length(),
                    [&](uint32_t at) { return matches_at<Unit>(units.get(), at, target, folded); });
    });
}

// ---- sort ----

// How two elements of a sort compare: a record of `record` units, compared whole or by the unit at
// `offset`, or by a function. Bytes never fold.
struct SortOrder {
    bool bytes;
    uint32_t unit;
    uint32_t record;
    uint32_t offset;
    bool whole;
    bool folded;
    bool reverse;
    const Cell* function;  // a /compare function (a frame argument), or null
};

template <class Unit>
int compare_elements(const void* a, const void* b, intptr_t order_address, intptr_t) {
    const SortOrder& order = *reinterpret_cast<const SortOrder*>(order_address);
    auto x = static_cast<const uint8_t*>(a), y = static_cast<const uint8_t*>(b);
    uint32_t from = order.whole ? 0 : order.offset, to = order.whole ? order.record : order.offset + 1;
    for (uint32_t i = from; i < to; i++) {
        uint32_t p = unicode::unit_at<Unit>(x, i), q = unicode::unit_at<Unit>(y, i);
        if (order.folded) {
            p = fold_for_order(p);
            q = fold_for_order(q);
        }
        if (p != q) return (p < q) != order.reverse ? -1 : 1;
    }
    return 0;
}

// A function's argument for an element: its record as a new string (binary), or its code point as a
// char! (its byte as an integer!).
void make_argument(Cell* cell, const uint8_t* element, const SortOrder& order) {
    if (!order.whole) {
        uint32_t unit = unicode::unit_at(element, order.unit, 0);
        order.bytes ? integer::make_at(cell, int32_t(unit)) : char_::make_at(cell, unit);
        return;
    }
    make_at_unit(cell, order.record, order.unit);
    splice(cell->node(), 0, 0, Run{element, 0, 0, order.unit, order.record});
    if (order.bytes) cell->set_type(Type::Binary);
}

// The element that should come second is the function's first argument, so that true keeps the order;
// /reverse swaps them.
int call_function(const void* a, const void* b, intptr_t order_address, intptr_t) {
    const SortOrder& order = *reinterpret_cast<const SortOrder*>(order_address);
    Cell* arguments = none::push();
    none::push();
    make_argument(arguments, static_cast<const uint8_t*>(order.reverse ? a : b), order);
    make_argument(arguments + 1, static_cast<const uint8_t*>(order.reverse ? b : a), order);
    return series::function_order(*order.function, arguments);
}

void sort_elements(uint8_t* units, uint32_t elements, const SortOrder& order, bool stable) {
    SortCompare compare =
        order.function
            ? call_function
            : unicode::with_unit(order.unit, []<class Unit>(Unit) -> SortCompare { return compare_elements<Unit>; });
    (stable ? sort::merge_sort : sort::qsort)(units, elements, order.record * order.unit, intptr_t(&order), 0, compare);
}

// A function may change the very string being sorted (grow it into a new buffer, clear it), so its
// elements are sorted in a copy outside the series buffers, which nothing can move. The order is
// written back through the node; a string whose length the function changed keeps what the function
// made of it, and the sort raises script protected, as a block's does.
void sort_by_function(const Cell& series, uint32_t head, uint32_t count, const SortOrder& order, bool stable) {
    const uint8_t* first = series::unit_at(series, head).get();
    std::vector<uint8_t> units(first, first + count * order.unit);
    uint32_t length = rs_abs_length_q(series);
    sort_elements(units.data(), count / order.record, order, stable);
    if (rs_abs_length_q(series) != length) fire(Err::script_protected);
    for (uint32_t i = 0; i < count; i++)
        write_char(series.node(), head + i, unicode::unit_at(units.data(), order.unit, i));
}

}  // namespace

// ---- the positions a search tests ----

std::optional<SearchPlan> plan_search(const Cell& series, const SelectOptions& options, bool match) {
    bool reverse = options.reverse;
    uint32_t length = rs_abs_length_q(series);
    if (length == 0 || (series.head() >= length && !reverse)) return std::nullopt;
    if (options.any || options.with) fire(Err::internal_not_done);
    int64_t step = series::record_size(options.skip);
    if (step < 1) fire(Err::script_out_of_range, options.skip);
    int64_t head = clamped_head(series);
    int64_t count = reverse ? head : length - head;
    if (options.part) {
        int64_t limit = series::search_part_count(series, *options.part, reverse);
        if (limit < 1) return std::nullopt;
        count = std::min(count, limit);
    }
    if (reverse && (head == 0 || match)) return std::nullopt;
    return SearchPlan{head, count, step, length, reverse, options.last, match};
}

// ---- comparison ----

int32_t equal_q(const Cell& value1, const Cell& value2, int32_t op, bool match) {
    Text a = text_of(value1), b = text_of(value2);
    bool same = a.data.get() == b.data.get() && a.length == b.length;
    if (op == kCompareSame) return same ? 0 : -1;
    if (same) return 0;
    Fold how = is_case_sensitive(op) ? Fold::none : is_ordering(op) ? Fold::to_order : Fold::to_match;
    if (match) {
        if (b.length == 0) return op == kCompareFind ? 1 : 0;
        return a.length < b.length ? 1 : compare_texts(a, b, b.length, how);
    }
    if (a.length != b.length && !is_ordering(op)) return 1;
    int32_t order = compare_texts(a, b, std::min(a.length, b.length), how);
    if (order != 0) return order;
    return a.length < b.length ? -1 : a.length > b.length ? 1 : 0;
}

// Texts of two string-like types are only equal or unequal, never ordered; a bounded view compares
// as the string! it shows.
int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint8_t type2 = uint8_t(value2->header);
    Type other = type2 == kBoundedStringType ? Type::String : Type(type2);
    bool mixed = value1->type() != other;
    if (mixed && !(is_a(other, TypeClass::any_string) && (op == kCompareEqual || op == kCompareNotEqual)))
        return kNotComparable;
    return equal_q(*value1, *value2, op, false);
}

bool match_value_q(const Cell& position, const Cell& value, int32_t op) {
    switch (value.type()) {
    case Type::String:
    case Type::File:
    case Type::Url:
    case Type::Email:
    case Type::Ref: return equal_q(position, value, op, true) == 0;
    case Type::Char: {
        if (rs_tail_q(position)) return false;
        uint32_t code_point = head_char(position);
        return op == kCompareStrictEqual ? code_point == value.code_point()
                                         : fold(code_point) == fold(value.code_point());
    }
    case Type::Tag: {
        if (!tag_delimited_q(position, value)) return false;
        Cell inside = position;
        inside.set_head(inside.head() + 1);
        return equal_q(inside, value, op, true) == 0;
    }
    default: return false;
    }
}

bool tag_delimited_q(const Cell& position, const Cell& tag) {
    uint64_t close = uint64_t(position.head()) + rs_length_q(tag) + 1;
    return close < rs_abs_length_q(position) && head_char(position) == '<' &&
           rs_abs_at(position, uint32_t(close)) == '>';
}

bool char_in_bitset_q(const Cell& position, const Cell& bitset) {
    return !rs_tail_q(position) && bitset::has_codepoint(bitset, head_char(position));
}

int32_t rs_find_char(const Cell& string, uint32_t code_point) {
    for (uint32_t i = clamped_head(string); i < rs_abs_length_q(string); i++)
        if (rs_abs_at(string, i) == code_point) return int32_t(i);
    return -1;
}

bool find_char_step(const Cell& string, uint32_t code_point, uint32_t step, bool case_) {
    uint32_t wanted = case_ ? code_point : fold(code_point);
    for (uint32_t i = clamped_head(string); i < rs_abs_length_q(string); i += step) {
        uint32_t found = rs_abs_at(string, i);
        if ((case_ ? found : fold(found)) == wanted) return true;
    }
    return false;
}

bool match_q(const Cell& string, const char* literal) {
    uint32_t head = clamped_head(string), length = rs_abs_length_q(string);
    for (uint32_t i = 0; literal[i]; i++)
        if (head + i >= length || rs_abs_at(string, head + i) != uint8_t(literal[i])) return false;
    return true;
}

// ---- actions ----

const Cell* find(Cell* series, Cell* value, const FindOptions& options) {
    Found found = search(series, value, options, options.match);
    if (found.at < 0) return &none::value;
    Cell* position = stack::push(*series);
    position->set_head(uint32_t(found.at + (options.tail ? found.length : 0)));
    return position;
}

const Cell* select(Cell* series, Cell* value, const SelectOptions& options) {
    Found found = search(series, value, options, false);
    uint64_t after = uint64_t(found.at) + found.length;
    if (found.at < 0 || after >= rs_abs_length_q(*series)) return &none::value;
    uint32_t unit = rs_abs_at(*series, uint32_t(after));
    return series->is(Type::Binary) ? integer::push(int32_t(unit)) : char_::push(unit);
}

const Cell* sort(Cell* series, const SortOptions& options) {
    series::SortPlan plan = series::plan_sort(*series, options);
    bool owned = ownership::check(*series, Word::sort, nullptr, int32_t(plan.head), int32_t(plan.count));
    if (owned) plan = series::plan_sort(*series, options);  // the handler may have changed the string
    series->set_head(plan.head);
    bool bytes = series->is(Type::Binary);
    SortOrder order{bytes,           mem::buffer(series->node())->unit(),
                    plan.record,     plan.offset,
                    plan.whole,      !options.case_ && !bytes,
                    options.reverse, plan.function};
    if (order.function)
        sort_by_function(*series, plan.head, plan.count, order, options.stable);
    else
        sort_elements(series::unit_at(*series, plan.head).get(), plan.count / plan.record, order, options.stable);
    if (owned) ownership::check(*series, Word::sorted, nullptr, int32_t(plan.head), int32_t(plan.count));
    return series;
}

}  // namespace oka::string
