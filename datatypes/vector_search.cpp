// Search and sorting of vector!: elements compare as numbers, as the element type reads them (floats at
// their own precision, so that a 32-bit float element is found by the number it was made from).
#include <cmath>
#include <vector>

#include "datatypes/none.h"
#include "datatypes/ownership.h"
#include "datatypes/string_internal.h"
#include "datatypes/vector_internal.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace oka::vector {

namespace {

// ---- find and select ----

// The numbers a search looks for: one number (an integer!, char!, float! or percent!), or the
// elements of a vector from its head in turn; any other value raises script invalid-arg.
std::vector<double> target_of(const Cell& value) {
    switch (value.type()) {
    case Type::Integer:
    case Type::Char: return {double(integer::get(value))};
    case Type::Float:
    case Type::Percent: return {value.f64()};
    case Type::Vector: {
        std::vector<double> numbers(series::rs_length_q(value));
        Type element = element_type(value);
        uint32_t size = element_size(value), head = clamped_head(value);
        for (uint32_t i = 0; i < numbers.size(); i++)
            numbers[i] = read_number(element_at(value, head + i).get(), size, element);
        return numbers;
    }
    default: fire(Err::script_invalid_arg, &value);
    }
}

// A number equals an element when it does at the element's precision.
bool equal_at_q(const uint8_t* element, uint32_t size, Type type, double number) {
    double found = read_number(element, size, type);
    return size == 4 && type == Type::Float ? float(number) == float(found) : number == found;
}

string::Found search(const Cell& series, const Cell& value, const SelectOptions& options, bool match) {
    std::optional<string::SearchPlan> plan = string::plan_search(series, options, match);
    if (!plan) return string::kNotFound;
    std::vector<double> target = target_of(value);
    Type type = element_type(series);
    uint32_t size = element_size(series);
    const uint8_t* elements = element_at(series, 0).get();
    return string::scan(*plan, int64_t(target.size()), [&](uint32_t at) {
        for (uint32_t k = 0; k < target.size(); k++)
            if (!equal_at_q(elements + size_t(at + k) * size, size, type, target[k])) return false;
        return true;
    });
}

// ---- sort ----

// How two records of a sort compare: by the element at `offset`, or element by element when `whole`.
struct SortOrder {
    Type type;
    uint32_t size;
    uint32_t record;
    uint32_t offset;
    bool whole;
    bool reverse;
    const Cell* function;  // a /compare function (a frame argument), or null
};

// Numbers in ascending order, a NaN after every number.
int order_of(const uint8_t* a, const uint8_t* b, const SortOrder& order) {
    if (!floating_q(order.type)) {
        int64_t x = read_int(a, order.size, order.type), y = read_int(b, order.size, order.type);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    double x = read_float(a, order.size), y = read_float(b, order.size);
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) - std::isnan(y);
    return x < y ? -1 : x > y ? 1 : 0;
}

int compare_records(const void* a, const void* b, intptr_t order_address, intptr_t) {
    const SortOrder& order = *reinterpret_cast<const SortOrder*>(order_address);
    auto x = static_cast<const uint8_t*>(a), y = static_cast<const uint8_t*>(b);
    uint32_t from = order.whole ? 0 : order.offset, to = order.whole ? order.record : order.offset + 1;
    for (uint32_t i = from; i < to; i++) {
        int found = order_of(x + i * order.size, y + i * order.size, order);
        if (found != 0) return (found < 0) != order.reverse ? -1 : 1;
    }
    return 0;
}

// A function's argument for a record: its element at the offset (the first one when whole) as a value.
void make_argument(Cell* cell, const uint8_t* record, const SortOrder& order) {
    element_value(record + (order.whole ? 0 : order.offset) * order.size, order.size, order.type, cell);
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

void sort_records(uint8_t* elements, uint32_t records, const SortOrder& order, bool stable) {
    SortCompare compare = order.function ? call_function : compare_records;
    (stable ? sort::merge_sort : sort::qsort)(elements, records, order.record * order.size, intptr_t(&order), 0,
                                              compare);
}

// A function may change the very vector being sorted, so its elements are sorted in a copy outside the
// series buffers and written back through the node; a vector whose length the function changed keeps
// what the function made of it, and the sort raises script protected.
void sort_by_function(const Cell& series, uint32_t head, uint32_t count, const SortOrder& order, bool stable) {
    const uint8_t* first = element_at(series, head).get();
    std::vector<uint8_t> elements(first, first + size_t(count) * order.size);
    uint32_t length = series::rs_buffer_length_q(series);
    sort_records(elements.data(), count / order.record, order, stable);
    if (series::rs_buffer_length_q(series) != length) fire(Err::script_protected);
    if (!elements.empty()) std::memcpy(element_at(series, head).get(), elements.data(), elements.size());
}

}  // namespace

const Cell* find(Cell* series, Cell* value, const FindOptions& options) {
    string::Found found = search(*series, *value, options, options.match);
    if (found.at < 0) return &none::value;
    Cell* position = stack::push(*series);
    position->set_head(uint32_t(found.at + (options.tail ? found.length : 0)));
    return position;
}

const Cell* select(Cell* series, Cell* value, const SelectOptions& options) {
    string::Found found = search(*series, *value, options, false);
    uint64_t after = uint64_t(found.at) + found.length;
    if (found.at < 0 || after >= series::rs_buffer_length_q(*series)) return &none::value;
    return get_value(*series, uint32_t(after), stack::push_next());
}

const Cell* sort(Cell* series, const SortOptions& options) {
    series::SortPlan plan = series::plan_sort(*series, options);
    bool owned = ownership::check(*series, Word::sort, nullptr, int32_t(plan.head), int32_t(plan.count));
    if (owned) plan = series::plan_sort(*series, options);  // the handler may have changed the vector
    series->set_head(plan.head);
    SortOrder order{element_type(*series), element_size(*series), plan.record, plan.offset, plan.whole,
                    options.reverse,       plan.function};
    if (order.function)
        sort_by_function(*series, plan.head, plan.count, order, options.stable);
    else
        sort_records(element_at(*series, plan.head).get(), plan.count / plan.record, order, options.stable);
    if (owned) ownership::check(*series, Word::sorted, nullptr, int32_t(plan.head), int32_t(plan.count));
    return series;
}

}  // namespace oka::vector
