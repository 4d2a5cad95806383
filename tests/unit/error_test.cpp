// error! values: made from the catalogue, by code, by words and from text, and their report.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "datatypes/words.h"
#include "runtime/root.h"
#include "runtime/unicode.h"
#include "series_testing.h"
#include "test_support.h"

using namespace oka;
using test::block_of;
using test::int_cell;
using test::run;

namespace {

Cell word_of(std::string_view name) { return word::load(name); }

Cell string_of(std::string_view text) {
    Node node = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    return test::keep(Cell::of(Type::String).set_node(node));
}

Cell make_error(const Cell& spec) { return run(actions::make_s, {test::type_cell(Type::Error), spec}); }

std::string name_of(const Cell& word) { return std::string(symbol::name(word.symbol())); }

// The code, type and id of an error value.
struct Identity {
    int32_t code;
    std::string type, id;
};
Identity identity(const Cell& error) {
    return {integer::get(*error::field(error, error::kCode)), name_of(*error::field(error, error::kType)),
            name_of(*error::field(error, error::kId))};
}

// The report of an error, split at its line ends.
std::string report(const Cell& error) { return test::form(error); }

}  // namespace

TEST(ErrorMake, FromACode) {
    struct Case {
        int32_t code;
        const char* type;
        const char* id;
    } cases[] = {{305, "script", "expect-arg"},
                 {0, "throw", "break"},
                 {393, "script", "ob-invalid-record"},
                 {800, "user", "message"},
                 {913, "internal", "deprecated"}};
    for (const Case& c : cases) {
        Identity e = identity(make_error(int_cell(c.code)));
        EXPECT_EQ(e.code, c.code);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.id, c.id);
    }
    for (int32_t bad : {-1, 1000, 394, 601})
        EXPECT_EQ(test::error_of([&] { make_error(int_cell(bad)); }), Err::script_out_of_range) << bad;
}

TEST(ErrorMake, FromWordsAndFromText) {
    Identity e = identity(make_error(block_of({word_of("script"), word_of("no-value")})));
    EXPECT_EQ(e.code, 300);
    EXPECT_EQ(e.id, "no-value");
    struct Bad {
        Cell spec;
        Err raised;
    } bad[] = {
        {block_of({word_of("script")}), Err::script_invalid_spec_field},
        {block_of({word_of("bogus-category"), word_of("x")}), Err::script_invalid_spec_field},
        {block_of({word_of("script"), word_of("bogus-id")}), Err::script_invalid_spec_field},
        {block_of({word_of("script"), int_cell(3)}), Err::script_invalid_arg},
        {block_of({int_cell(3)}), Err::internal_invalid_error},
        {int_cell(0), Err(0)},
    };
    for (const Bad& b : bad) EXPECT_EQ(test::error_of([&] { make_error(b.spec); }), b.raised);
    EXPECT_EQ(test::error_of([&] { make_error(logic::true_value); }), Err::script_bad_make_arg);

    Cell user = make_error(string_of("it broke"));
    EXPECT_EQ(identity(user).type, "user");
    EXPECT_EQ(report(user).substr(0, 24), "*** User Error: it broke");
}

TEST(ErrorReport, MessagesJoinTheirPiecesWithSpaces) {
    Cell foo = word_of("foo");
    Cell error = *error::create(Err::script_no_value, &foo, nullptr, nullptr);
    EXPECT_EQ(report(error), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");
    Cell n = int_cell(7);
    error = *error::create(Err::script_expect_arg, &foo, &n, &foo);
    EXPECT_EQ(report(error).substr(0, 60), "*** Script Error: foo does not allow 7 for its foo argument\n");
}

TEST(ErrorReport, UnknownTypeIsRewrittenAsInvalidError) {
    Cell error = *error::create(Err::math_overflow, nullptr, nullptr, nullptr);
    *error::field(error, error::kType) = word_of("no-such-category");
    EXPECT_EQ(report(error).substr(0, 74),
              "*** Internal Error: invalid error object field value: no-such-category\n***");
    EXPECT_EQ(identity(error).type, "internal");
    EXPECT_EQ(identity(error).id, "invalid-error");
}

TEST(ErrorReport, ArgumentsAreCutTo80AndNearTo40) {
    Cell long_text = string_of(std::string(200, 'x'));
    Cell error = *error::create(Err::script_invalid_arg, &long_text, nullptr, nullptr);
    *error::field(error, error::kNear) = block_of({string_of(std::string(100, 'y'))});
    std::string text = report(error);
    // Long text molds between braces; the cut counts them.
    EXPECT_EQ(text.find("invalid argument: {" + std::string(79, 'x') + "\n"), 18u) << text;
    EXPECT_NE(text.find("*** Near : {" + std::string(39, 'y')), std::string::npos) << text;
    EXPECT_EQ(text.size() - text.find("*** Near : "), 11u + 40);
}

// The name is one made at start-up: a frame keeps 16 bits of its name's symbol id, and the tests run
// before this one may have made symbols beyond them.
TEST(ErrorThrow, WhereNamesTheFunctionAndStackRecordsTheFrame) {
    Cell error;
    Cell name = words::word(Word::append);
    EXPECT_TRUE(error::trap(
        [&] {
            stack::mark_native(name);
            fire(Err::math_zero_divide);
        },
        &error));
    EXPECT_EQ(name_of(*error::field(error, error::kWhere)), "append");
    EXPECT_EQ(error::field(error, error::kStack)->type(), Type::Integer);
}

TEST(Words, CaseVariantsAddNoRootCellsAtRunTime) {
    bool collecting = _context::collecting_new_words;
    _context::collecting_new_words = false;
    word::load("variant-word");
    uint32_t before = mem::buffer(runtime::root.node())->length();
    for (int i = 0; i < 3; i++) word::load("VARIANT-Word");
    EXPECT_EQ(mem::buffer(runtime::root.node())->length(), before);
    _context::collecting_new_words = collecting;
}
