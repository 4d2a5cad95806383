// Calls computed in place: where the interpreter computes a call itself, it answers what the call
// would; every case where the call would raise an error or apply another type's rules is left to it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/time.h"
#include "evaluator/fast_paths.h"
#include "runtime/registry.h"
#include "test_support.h"

using namespace oka;
using test::float_cell;
using test::int_cell;
using test::time_cell;
using test::typed;

namespace {

Cell action(Act act) { return Cell{uint8_t(Type::Action), uint32_t(act), 0, 0}; }
Cell native(int32_t slot) { return Cell{uint8_t(Type::Native), uint32_t(slot), 0, 0}; }
Cell datatype_cell(Type type) { return Cell::of(Type::Datatype).set_named_type(type); }
Cell logic_cell(bool flag) {
    Cell c;
    return *logic::make_at(&c, flag);
}

}  // namespace

TEST(InPlace, ComputesOnlyWhatTheCallWouldAnswer) {
    struct Case {
        Cell function, a, b;
        const char* expected;  // null: left to the call
    } cases[] = {
        {action(Act::add), int_cell(2147483647), int_cell(1), "float! 2147483648.0"},
        {action(Act::subtract), int_cell(INT32_MIN), int_cell(1), "float! -2147483649.0"},
        {action(Act::multiply), int_cell(65536), int_cell(65536), "float! 4294967296.0"},
        {action(Act::multiply), int_cell(-7), int_cell(6), "integer! -42"},
        {action(Act::divide), int_cell(7), int_cell(2), "float! 3.5"},
        {action(Act::divide), int_cell(6), int_cell(3), "integer! 2"},
        {action(Act::remainder), int_cell(-7), int_cell(3), "integer! -1"},
        {action(Act::add), float_cell(1.5), float_cell(2.25), "float! 3.75"},
        {action(Act::multiply), float_cell(0.1), float_cell(3.0), "float! 0.30000000000000004"},
        {native(natives::lesser_q_slot), int_cell(INT32_MIN), int_cell(INT32_MAX), "logic! true"},
        {native(natives::not_equal_q_slot), int_cell(3), int_cell(3), "logic! false"},
        {native(natives::greater_or_equal_q_slot), int_cell(3), int_cell(3), "logic! true"},
        {action(Act::and_), int_cell(12), int_cell(10), "integer! 8"},
        {action(Act::or_), int_cell(-16), int_cell(3), "integer! -13"},
        {action(Act::xor_), int_cell(12), int_cell(10), "integer! 6"},
        {action(Act::and_), logic_cell(true), logic_cell(false), "logic! false"},
        {action(Act::or_), logic_cell(false), logic_cell(true), "logic! true"},
        {action(Act::xor_), logic_cell(true), logic_cell(true), "logic! false"},
        {action(Act::power), int_cell(-2), int_cell(31), "integer! -2147483648"},
        {action(Act::power), int_cell(7), int_cell(0), "integer! 1"},
        // Errors are the call's to raise.
        {action(Act::divide), int_cell(1), int_cell(0), nullptr},
        {action(Act::remainder), int_cell(1), int_cell(0), nullptr},
        {action(Act::divide), int_cell(INT32_MIN), int_cell(-1), nullptr},
        // An integer and a float, or two floats, give the float math's answer, which is never an error.
        {action(Act::add), float_cell(1.5), int_cell(2), "float! 3.5"},
        {action(Act::subtract), int_cell(1), float_cell(2.5), "float! -1.5"},
        {action(Act::divide), float_cell(1.0), float_cell(4.0), "float! 0.25"},
        {action(Act::divide), int_cell(1), float_cell(0.0), "float! 1.#INF"},
        {action(Act::remainder), float_cell(-5.5), int_cell(2), "float! -1.5"},
        {action(Act::remainder), int_cell(7), float_cell(2.5), "float! 2.0"},
        // to integer! of a number that fits; anything else is the conversion's to refuse.
        {action(Act::to), datatype_cell(Type::Integer), float_cell(-2147483648.0), "integer! -2147483648"},
        {action(Act::to), datatype_cell(Type::Integer), float_cell(-2147483648.5), nullptr},
        {action(Act::to), datatype_cell(Type::Integer), float_cell(2147483647.9), nullptr},
        {action(Act::to), datatype_cell(Type::Integer), float_cell(-3.7), "integer! -3"},
        {action(Act::to), datatype_cell(Type::Integer), int_cell(5), "integer! 5"},
        {action(Act::to), datatype_cell(Type::Integer), float_cell(2147483648.0), nullptr},
        {action(Act::to), datatype_cell(Type::Integer), float_cell(std::nan("")), nullptr},
        {action(Act::to), datatype_cell(Type::Integer), time_cell(1.5), nullptr},
        {action(Act::to), datatype_cell(Type::Float), int_cell(1), nullptr},
        {action(Act::to), int_cell(0), int_cell(1), nullptr},
        // Other types keep their datatypes' rules.
        {action(Act::subtract), time_cell(90), int_cell(30), nullptr},
        {native(natives::equal_q_slot), int_cell(1), float_cell(1.0), nullptr},
        {native(natives::lesser_q_slot), float_cell(std::nan("")), float_cell(1.0), nullptr},
        {action(Act::and_), int_cell(1), logic_cell(true), nullptr},
        {action(Act::or_), logic_cell(true), int_cell(1), nullptr},
        {action(Act::and_), float_cell(1.0), float_cell(1.0), nullptr},
        // A power beyond 32 bits, or with a negative or float exponent, is the float power's.
        {action(Act::power), int_cell(2), int_cell(31), nullptr},
        {action(Act::power), int_cell(2), int_cell(-1), nullptr},
        {action(Act::power), int_cell(2), float_cell(2.0), nullptr},
        // Other functions are always called.
        {action(Act::absolute), int_cell(-3), int_cell(1), nullptr},
        {int_cell(1), int_cell(1), int_cell(1), nullptr},
    };
    for (const Case& c : cases) {
        Cell result = test::int_cell(0);
        bool computed = actions::call_in_place(c.function, c.a, c.b, &result);
        EXPECT_EQ(computed, c.expected != nullptr) << typed(c.a) << ", " << typed(c.b);
        if (computed && c.expected) {
            EXPECT_EQ(typed(result), c.expected);
        }
    }
}
