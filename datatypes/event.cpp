#include "datatypes/event.h"

#include <iterator>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/registry.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace oka::event {

namespace {

constexpr Cell kMade = Cell::of(Type::Event, kEventHoldsSeries);
constexpr uint32_t kKeyMask = 0xFFFF;
// The offset of an event whose spec set none: the pair 0x0.
constexpr Cell kNoOffset = Cell::of(Type::Pair);

// ---- the words of events ----

constexpr Sym kTypeWords[] = {
#define OKA_EVENT_TYPE(Name, text) Sym::event_##Name,
#include "datatypes/event_words.def"
};
static_assert(std::size(kTypeWords) == 38, "event type codes run from 1 to 38");

struct Flag {
    Sym word;
    uint32_t bit;
};
constexpr Flag kFlagWords[] = {
#define OKA_EVENT_FLAG(Name, text, bit) {Sym::flag_##Name, bit},
#include "datatypes/event_words.def"
};

// The type code a word names, or 0 for a word that names no event type.
uint32_t type_code(const Cell& word) {
    for (uint32_t code = 1; code <= std::size(kTypeWords); code++)
        if (symbol::named_q(word.symbol(), kTypeWords[code - 1])) return code;
    return 0;
}

uint32_t flag_bit(const Cell& word) {
    for (const Flag& flag : kFlagWords)
        if (symbol::named_q(word.symbol(), flag.word)) return flag.bit;
    return 0;
}

// ---- fields ----

enum Field : int32_t {
    kType = 1,
    kFace,
    kWindow,
    kOffset,
    kKey,
    kPicked,
    kFlags,
    kAway,
    kDown,
    kMidDown,
    kAltDown,
    kAuxDown,
    kCtrl,
    kShift,
    kOrientation,
};

constexpr Sym kFieldWords[] = {Sym::type,       Sym::face,       Sym::window, Sym::offset,  Sym::key,
                               Sym::picked,     Sym::flags,      Sym::away_q, Sym::down_q,  Sym::mid_down_q,
                               Sym::alt_down_q, Sym::aux_down_q, Sym::ctrl_q, Sym::shift_q, Sym::orientation};
static_assert(std::size(kFieldWords) == kOrientation, "one word per field");

// The flag bit that fields away? to shift? read.
constexpr uint32_t kFieldBits[] = {0x04000000, 0x02000000, 0x01000000, 0x00800000, 0x00400000, 0x10000000, 0x20000000};
static_assert(std::size(kFieldBits) == kShift - kAway + 1, "one bit per flag field");

// The field a word names, or 0.
int32_t field_index(const Cell& word) {
    for (int32_t field = kType; field <= kOrientation; field++)
        if (symbol::named_q(word.symbol(), kFieldWords[field - 1])) return field;
    return 0;
}

Cell result;  // the answer of a field that allocates nothing, copied out by the caller at once

// The cells of a made event's block: face, window, offset and picked, in that order; a delivered
// event's block has a fifth, its key.
constexpr uint32_t kBlockCells = 4;
constexpr uint32_t kKeySlot = 4;
uint32_t block_slot(int32_t field) { return field == kPicked ? 3 : field == kKey ? kKeySlot : uint32_t(field - kFace); }

bool holds_key_q(const Cell& event) {
    if (!(event.header & kEventHoldsSeries) || !event.event_block()) return false;
    return series::rs_buffer_length_q(Cell::of(Type::Block).set_node(event.event_block())) > kKeySlot;
}

// A field kept in the event's block, or its value when the spec set none of the four.
const Cell* kept_field(const Cell& event, int32_t field) {
    if ((event.header & kEventHoldsSeries) && event.event_block()) {
        Cell block = Cell::of(Type::Block).set_node(event.event_block());
        return copy_cell(block::rs_abs_at(block, block_slot(field)).get(), &result);
    }
    if (field == kOffset) return &kNoOffset;
    if (field == kPicked) return integer::make_at(&result, 0);
    return &none::value;
}

// The words of the flags set, in the order of the flag table.
const Cell* flag_words(const Cell& event) {
    Cell* words = block::push_only_s(std::size(kFlagWords));
    for (const Flag& flag : kFlagWords)
        if (event.key_flags() & flag.bit) word::make_in(words::id(flag.word), *words);
    return words;
}

const Cell* get_field(const Cell& event, int32_t field) {
    switch (field) {
    case kType:
        if (event.event_type() < 1 || event.event_type() > std::size(kTypeWords)) return &none::value;
        return word::push_new(words::id(kTypeWords[event.event_type() - 1]));
    case kFace:
    case kWindow:
    case kOffset:
    case kPicked: return kept_field(event, field);
    case kKey:
        if (holds_key_q(event)) return kept_field(event, field);
        return event.key_flags() & kKeyMask ? char_::make_at(&result, event.key_flags() & kKeyMask) : &none::value;
    case kFlags: return flag_words(event);
    case kOrientation: return &none::value;
    default: return logic::make_at(&result, event.key_flags() & kFieldBits[field - kAway]);
    }
}

// ---- make ----

// A word or get-word that has a value stands for it; any other value stands for itself.
Cell* resolved(const Cell& value) {
    if ((value.is(Type::Word) || value.is(Type::GetWord)) && value.context()) {
        Cell* found = word::get_any(value);
        if (!found->is(Type::Unset)) return found;
        stack::pop(1);
    }
    return stack::push(value);
}

// What the fields of a spec set: the cells of the block, and whether any of them was set.
struct Kept {
    Cell* cells;
    bool any = false;

    void keep(int32_t field, const Cell& value) {
        cells[block_slot(field)] = value;
        any = true;
    }
};

void set_from_spec(Cell* event, Kept& kept, int32_t field, const Cell& value) {
    Type type = value.type();
    switch (field) {
    case kType:
        if (type != Type::Word && type != Type::LitWord) return;
        event->set_event_type(type_code(value));
        if (!event->event_type()) fire(Err::script_not_event_type, &value);
        return;
    case kKey:
        if (type == Type::Char) event->set_key_flags(event->key_flags() | (value.code_point() & kKeyMask));
        return;
    case kFlags:
        if (type != Type::Block) return;
        for (uint32_t i = value.head(); i < series::rs_buffer_length_q(value); i++) {
            Cell flag = *block::rs_abs_at(value, i);
            if (flag.is(Type::Word)) event->set_key_flags(event->key_flags() | flag_bit(flag));
        }
        return;
    case kFace:
    case kWindow:
        if (type == Type::Object) kept.keep(field, value);
        return;
    case kOffset:
        if (type == Type::Pair || type == Type::Point2D) kept.keep(field, value);
        return;
    case kPicked:
        if (type == Type::Integer) kept.keep(field, value);
        return;
    default: return;
    }
}

// A spec block of set-words each followed by its value sets the fields it names; the fields it does
// not name, values of other types and any other cell are passed over.
const Cell* make(Cell*, Cell* spec, Type) {
    Cell* event = stack::push(kMade);
    if (!spec->is(Type::Block)) return event;
    Kept kept{stack::push(none::value)};
    stack::push(none::value);
    stack::push(kNoOffset);
    integer::push(0);
    for (uint32_t i = spec->head(); i + 1 < series::rs_buffer_length_q(*spec);) {
        Cell name = *block::rs_abs_at(*spec, i);
        if (!name.is(Type::SetWord)) {
            i++;
            continue;
        }
        Cell* value = resolved(*block::rs_abs_at(*spec, i + 1));
        set_from_spec(event, kept, field_index(name), *value);
        stack::pop(1);
        i += 2;
    }
    if (kept.any) {
        Cell* block = block::push_only_s(kBlockCells);
        for (uint32_t k = 0; k < kBlockCells; k++) block::rs_append(*block, kept.cells[k]);
        event->set_event_block(block->node());
    }
    return event;
}

// ---- paths and pick ----

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, const EvalPathOptions& step) {
    const Cell* path = step.path ? step.path : &none::value;
    int32_t field = element->is(Type::Word) ? field_index(*element) : 0;
    if (!value) {
        if (!field) fire(Err::script_invalid_path, path, element);
        return get_field(*parent, field);
    }
    if (field != kType) fire(Err::script_bad_path_set, path, element);
    if (!value->is(Type::Word)) fire(Err::script_bad_path_set, path, value);
    uint32_t code = type_code(*value);
    if (!code) fire(Err::script_not_event_type, value);
    parent->set_event_type(code);
    return value;
}

const Cell* pick(Cell* event, int32_t index, Cell* index_cell) {
    if (index_cell->is(Type::Word)) {
        index = field_index(*index_cell);
        if (!index) fire(Err::script_cannot_use, index_cell, event);
    }
    if (index < kType || index > kOrientation) fire(Err::script_out_of_range, index_cell);
    return get_field(*event, index);
}

// ---- form, mold, compare ----

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) { return string::write_token(buffer, "event", false, part); }

int32_t mold(Cell* value, Cell* buffer, const MoldOptions& options, int32_t part, int32_t) {
    return form(value, buffer, options.limit, part);
}

// Any two events are equal, and sort alike; they have no other order.
int32_t compare(Cell*, Cell* value2, int32_t op) {
    if (!value2->is(Type::Event)) return kNotComparable;
    switch (op) {
    case kCompareEqual:
    case kCompareNotEqual:
    case kCompareStrictEqual:
    case kCompareSort:
    case kCompareCaseSort:
    case kCompareSame:
    case kCompareFind: return 0;
    default: return kNotComparable;
    }
}

}  // namespace

void init() {
    datatype::register_(Type::Event, {
                                         implements<Act::make>(make),
                                         implements<Act::form>(form),
                                         implements<Act::mold>(mold),
                                         implements<Act::eval_path>(eval_path),
                                         implements<Act::compare>(compare),
                                         implements<Act::pick>(pick),
                                     });
}

}  // namespace oka::event
