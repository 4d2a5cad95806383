// tuple!: the bytes in the cell. The bytes past the count stay 0 whatever made or changed the tuple,
// which comparison relies on.
#include <gtest/gtest.h>

#include <string_view>

#include "datatypes/tuple.h"
#include "evaluator/lexer.h"
#include "natives_testing.h"

using namespace oka;

namespace {

class TupleTest : public test::CodeTest {};

// The value of code written as text.
Cell evaluated(std::string_view text) {
    Cell code = test::keep(*lexer::load(text)), result = none::value;
    stack::pop(1);
    bool failed = error::trap([&] {
        interpreter::eval_block(code, false);
        result = test::keep(stack::top[-1]);
    });
    EXPECT_FALSE(failed) << text;
    return result;
}

}  // namespace

TEST_F(TupleTest, BytesLieInPayloadOrderWithTheCountInTheHeader) {
    Cell t = evaluated("1.2.3.4.5");
    EXPECT_EQ(tuple::length_of(t), 5u);
    EXPECT_EQ(t.content_words(), (Words3{0x04030201u, 5u, 0u}));
}

TEST_F(TupleTest, BytesPastTheCountStayZero) {
    struct Case {
        const char* code;
        uint32_t count;
        Words3 words;
    } cases[] = {
        {"t: 1.2.3.4 t/4: none t", 3, {0x030201, 0, 0}},
        {"t: 1.2.3.4.5 t/2: none t", 3, {0x000001, 0, 0}},
        {"to tuple! [1 2]", 3, {0x0201, 0, 0}},
        {"to tuple! #FF00AA", 3, {0xAA00FF, 0, 0}},
        {"1.2.3 + 1.1.1.1", 4, {0x01040302, 0, 0}},
        {"complement 255.255.255", 3, {0, 0, 0}},
        {"t: 1.2.3.4.5.6.7.8.9 reverse/part t 2", 9, {0x04030102, 0x08070605, 0x09}},
    };
    for (const Case& c : cases) {
        Cell t = evaluated(c.code);
        EXPECT_EQ(tuple::length_of(t), c.count) << c.code;
        EXPECT_EQ(t.content_words(), c.words) << c.code;
    }
}
