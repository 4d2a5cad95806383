// The actions that change a vector in place (append, insert, change). The elements an edit writes are
// checked and encoded first, outside the series buffers; then the change is reported to the vector's
// owner, made, and reported again.
#include <vector>

#include "datatypes/block.h"
#include "datatypes/ownership.h"
#include "datatypes/string_internal.h"
#include "datatypes/vector_internal.h"
#include "datatypes/words.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::vector {

namespace {

// The elements of another vector in this one's format: of the same element type (else script
// not-same-type), each read as a number and written at this vector's size.
void encode_vector(const Cell& vector, const Cell& other, std::vector<uint8_t>& out) {
    Type element = element_type(vector);
    if (element_type(other) != element) fire(Err::script_not_same_type);
    uint32_t size = element_size(vector), other_size = element_size(other);
    uint32_t head = clamped_head(other), count = series::rs_length_q(other);
    out.resize(size_t(count) * size);
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t* from = element_at(other, head + i).get();
        uint8_t* to = out.data() + size_t(i) * size;
        if (floating_q(element))
            write_float(to, size, read_float(from, other_size));
        else
            write_int(to, size, read_int(from, other_size, element));
    }
}

// The elements an edit writes for a value, encoded: the values of a block from its head (at most
// `part` of them when not negative: insert and append take block!, paren! and hash!, change any block
// and path), for change the elements of a vector, else the value itself. A value of another type than
// the elements raises script invalid-arg. Never allocates a series.
std::vector<uint8_t> encode_values(const Cell& vector, const Cell& value, int32_t part, bool changing) {
    Type element = element_type(vector);
    uint32_t size = element_size(vector);
    std::vector<uint8_t> out;
    if (changing && value.is(Type::Vector)) {
        encode_vector(vector, value, out);
        return out;
    }
    if (!is_a(value.type(), changing ? TypeClass::any_block : TypeClass::any_list)) {
        out.resize(size);
        encode(element, size, value, out.data());
        return out;
    }
    uint32_t count = series::rs_length_q(value);
    if (part >= 0) count = std::min(count, uint32_t(part));
    out.resize(size_t(count) * size);
    for (uint32_t i = 0; i < count; i++)
        encode(element, size, *block::rs_abs_at(value, value.head() + i), out.data() + size_t(i) * size);
    return out;
}

// Where an edit writes: `written` elements at `at`, in place of `replaced`. An owner's handler may
// change the vector, so an edit is planned again after the report before the change.
struct Edit {
    uint32_t at;
    uint64_t written;
    uint32_t replaced;
};

Edit plan_addition(const Cell& vector, uint64_t written, bool append) {
    return {append ? series::rs_buffer_length_q(vector) : clamped_head(vector), written, 0};
}

Edit plan_change(const Cell& vector, uint64_t written, int32_t part) {
    uint32_t head = clamped_head(vector), available = series::rs_length_q(vector);
    uint64_t replaced = part >= 0 ? uint64_t(part) : written;
    return {head, written, uint32_t(std::min<uint64_t>(replaced, available))};
}

// Writes `dup` copies of the elements over the edit's range.
void splice(const Cell& vector, const Edit& edit, const std::vector<uint8_t>& elements, int32_t dup) {
    uint32_t size = element_size(vector);
    string::Run run{elements.data(), 0, 0, size, uint32_t(elements.size() / size)};
    string::splice(vector.node(), edit.at, edit.replaced, run, uint32_t(dup));
}

}  // namespace

// One entry serves append and insert: append leaves the head where it was, insert moves it past the
// elements written.
void append(Cell* series, Cell* value, const EditOptions& options, bool append) {
    std::vector<uint8_t> elements = encode_values(*series, *value, options.part, false);
    if (!elements.empty()) {
        uint64_t written = elements.size() / element_size(*series) * uint32_t(options.dup);
        Edit edit = plan_addition(*series, written, append);
        Word before = append ? Word::append : Word::insert, after = append ? Word::appended : Word::inserted;
        bool owned = ownership::check(*series, before, value, int32_t(edit.at), int32_t(written));
        if (owned) edit = plan_addition(*series, written, append);
        splice(*series, edit, elements, options.dup);
        if (owned) ownership::check(*series, after, value, int32_t(edit.at), int32_t(written));
        if (!append) series->set_head(edit.at + uint32_t(written));
    }
    stack::set_last(*series);
}

void change(Cell* series, Cell* value, const EditOptions& options) {
    std::vector<uint8_t> elements = encode_values(*series, *value, -1, true);
    uint64_t written = elements.size() / element_size(*series) * uint32_t(options.dup);
    Edit edit = plan_change(*series, written, options.part);
    bool owned = ownership::check(*series, Word::change, value, int32_t(edit.at), int32_t(edit.replaced));
    if (owned) edit = plan_change(*series, written, options.part);
    splice(*series, edit, elements, options.dup);
    if (owned) ownership::check(*series, Word::changed, value, int32_t(edit.at), int32_t(written));
    series->set_head(edit.at + uint32_t(written));
    stack::set_last(*series);
}

}  // namespace oka::vector
