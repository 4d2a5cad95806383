// The text natives served by the run-time's codecs: enbase and debase over binary!'s base 2, 16, 58
// and 64 codecs.
#include "datatypes/binary.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::natives {

namespace {

// The base of /base, 64 without it; another base than the four raises script invalid-arg.
int32_t base_of(const Cell* refinement) {
    if (!refinement) return 64;
    int32_t base = int32_t(refinement->data2);
    if (!binary::base_q(base)) fire(Err::script_invalid_arg, refinement);
    return base;
}

// The text can never be longer than a series may be: a size beyond raises script too-long before anything
// is written.
Cell* push_enbased(int32_t base, const uint8_t* bytes, uint32_t count) {
    if (binary::enbase_room(base, count) >= 0x80000000u) fire(Err::script_too_long);
    std::string text = binary::enbase(base, bytes, count);
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), unicode::kUtf8);
}

}  // namespace

// A binary's bytes from its head, or a string's UTF-8 encoding, as text.
void enbase_s(const int32_t* positions) {
    int32_t base = base_of(Refinements<enbase_slot>(positions).arg("base"));
    Cell* value = stack::arguments();
    if (value->is(Type::Binary)) {
        string::Text bytes = string::text_of(*value);
        stack::set_last(*push_enbased(base, bytes.data.get(), bytes.length));
    } else {
        std::string utf8 = binary::utf8_of(*value);
        stack::set_last(*push_enbased(base, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size())));
    }
}

// The bytes that a string's text from its head stands for in the base, or none when it is not valid.
void debase_s(const int32_t* positions) {
    int32_t base = base_of(Refinements<debase_slot>(positions).arg("base"));
    string::Text text = string::text_of(*stack::arguments());
    std::optional<std::vector<uint8_t>> bytes = binary::debase(base, {text.data.get(), text.unit, text.length}, false);
    if (!bytes)
        none::box();
    else
        stack::set_last(*binary::load(bytes->data(), uint32_t(bytes->size())));
}

}  // namespace oka::natives
