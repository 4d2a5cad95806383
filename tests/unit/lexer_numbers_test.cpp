// Numbers read from the text of strings (the tokenizer), and the conversions of text that `to` and
// `make` run through the lexer: integer!, float!, time!, block! and the word family.
#include <cmath>
#include <limits>
#include <string>

#include "evaluator/lexer.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

using tokenizer::NumberError;

constexpr int32_t kSmallest = std::numeric_limits<int32_t>::min();
constexpr double kInfinity = HUGE_VAL;

// The text in a buffer of each unit size: the tokenizer reads any.
std::vector<Cell> in_every_unit(const std::string& ascii) {
    std::u32string text(ascii.begin(), ascii.end());
    return {keep(text_of_unit(text, 1)), keep(text_of_unit(text, 2)), keep(text_of_unit(text, 4))};
}

// The first value of a text.
Cell first_value(const std::string& text) {
    Cell values = keep(*lexer::load(text));
    return keep(*block::rs_head(&values));
}

}  // namespace

TEST(ScanNumbers, Integers) {
    struct IntegerCase {
        std::string text;
        int32_t value;
        NumberError error;
    };
    const IntegerCase cases[] = {
        {"0", 0, NumberError::none},
        {"12", 12, NumberError::none},
        {"-12", -12, NumberError::none},
        {"+7", 7, NumberError::none},
        {"1'000", 1000, NumberError::none},
        {"'1''2'", 12, NumberError::none},
        {"2147483647", 2147483647, NumberError::none},
        {"-2147483648", kSmallest, NumberError::none},
        {"2147483648", 0, NumberError::overflow},
        {"-2147483649", 0, NumberError::overflow},
        {"99999999999999999999", 0, NumberError::overflow},
        {"", 0, NumberError::malformed},
        {"-", 0, NumberError::malformed},
        {"'", 0, NumberError::malformed},
        {"1.5", 0, NumberError::malformed},
        {" 1", 0, NumberError::malformed},
        {"1a", 0, NumberError::malformed},
    };
    for (const IntegerCase& c : cases) {
        for (const Cell& text : in_every_unit(c.text)) {
            NumberError error;
            int32_t value = tokenizer::scan_integer(string::text_of(text), error);
            EXPECT_EQ(error, c.error) << c.text;
            if (c.error == NumberError::none) {
                EXPECT_EQ(value, c.value) << c.text;
            }
        }
    }
}

TEST(ScanNumbers, Floats) {
    struct FloatCase {
        std::string text;
        double value;  // NaN: malformed
    };
    const double kMalformed = std::numeric_limits<double>::quiet_NaN();
    const FloatCase cases[] = {
        {"1.5", 1.5},
        {"1,5", 1.5},
        {"-0.5", -0.5},
        {".5", 0.5},
        {"1.", 1.0},
        {"7", 7.0},
        {"1e3", 1000.0},
        {"1E-3", 0.001},
        {"+2.5e+2", 250.0},
        {"1'000.5", 1000.5},
        {"1.#INF", kInfinity},
        {"-1.#inf", -kInfinity},
        {"", kMalformed},
        {"1.2.3", kMalformed},
        {"abc", kMalformed},
        {"1e", kMalformed},
        {"1''0", kMalformed},
        {"'1", kMalformed},
        {"1 ", kMalformed},
        {"2.#INF", kMalformed},
        {std::string(312, '1'), kInfinity},  // the longest text taken: too large a number
        {std::string(313, '1'), kMalformed},
    };
    for (const FloatCase& c : cases) {
        for (const Cell& text : in_every_unit(c.text)) {
            NumberError error;
            double value = tokenizer::scan_float(string::text_of(text), error);
            EXPECT_EQ(error, std::isnan(c.value) ? NumberError::malformed : NumberError::none) << c.text;
            if (!std::isnan(c.value)) {
                EXPECT_EQ(value, c.value) << c.text;
            }
        }
    }
    NumberError error;
    EXPECT_TRUE(std::isnan(tokenizer::scan_float(string::text_of(str("1.#NaN")), error)));
    EXPECT_EQ(error, NumberError::none);
    tokenizer::scan_float(string::text_of(str("1\xC3\xA9")), error);
    EXPECT_EQ(error, NumberError::malformed);
}

TEST(ScanNumbers, Money) {
    struct MoneyCase {
        std::string text;
        bool valid;
        bool negative = false;
        std::string currency = "";
        std::string whole = "", fraction = "";
    };
    const MoneyCase cases[] = {
        {"USD$1.50", true, false, "USD", "1", "50"},
        {"1.50", true, false, "", "1", "50"},
        {"$1", true, false, "", "1", ""},
        {"-$1'000.5", true, true, "", "1000", "5"},
        {"+eur$5", true, false, "eur", "5", ""},
        {"$12,25", true, false, "", "12", "25"},
        {"US$1", false},
        {"USD1", false},
        {"USD$", false},
        {"$.5", false},
        {"$1.", false},
        {"$'1", false},
        {"$1'", false},
        {"$1''0", false},
        {"$1.'5", false},
        {"$1'.5", false},
        {"$1.2.3", false},
        {"$1.2,3", false},
        {"$1a", false},
        {"$1\xC3\xA9", false},
        {"$", false},
        {"", false},
    };
    for (const MoneyCase& c : cases) {
        tokenizer::MoneyText money;
        ASSERT_EQ(tokenizer::scan_money(string::text_of(str(c.text)), money), c.valid) << c.text;
        if (!c.valid) continue;
        EXPECT_EQ(money.negative, c.negative) << c.text;
        EXPECT_EQ(money.currency, c.currency) << c.text;
        EXPECT_EQ(money.whole, c.whole) << c.text;
        EXPECT_EQ(money.fraction, c.fraction) << c.text;
    }
}

TEST(ScanConversions, TextToNumbersAndTimes) {
    struct ConversionCase {
        Type target;
        std::string text;
        std::string molded;  // empty: refused with `error`
        Err error = Err::script_bad_to_arg;
    };
    const ConversionCase cases[] = {
        {Type::Integer, "12", "12"},
        {Type::Integer, "-2147483648", "-2147483648"},
        {Type::Integer, "1'000", "1000"},
        {Type::Integer, "2147483648", ""},
        {Type::Integer, "1.5", ""},
        {Type::Integer, "", ""},
        {Type::Float, "1,5", "1.5"},
        {Type::Float, "-1e3", "-1000.0"},
        {Type::Float, "1.#INF", "1.#INF"},
        {Type::Float, "", ""},
        {Type::Float, "1 ", ""},
        {Type::Time, "1:30", "1:30:00"},
        {Type::Time, "-0:00:01.5", "-0:00:01.5"},
        {Type::Time, "1:30 ", ""},
        {Type::Time, "12", ""},
        {Type::Time, "1:", "", Err::syntax_invalid},
    };
    for (const ConversionCase& c : cases) {
        for (auto entry : {actions::to_s, actions::make_s}) {
            if (c.molded.empty()) {
                EXPECT_EQ(error_of([&] { run(entry, {type_cell(c.target), str(c.text)}); }), c.error) << c.text;
            } else {
                EXPECT_EQ(mold(run(entry, {type_cell(c.target), str(c.text)})), c.molded) << c.text;
            }
        }
    }
}

TEST(ScanConversions, TextToBlocks) {
    EXPECT_EQ(mold(run(actions::to_s, {type_cell(Type::Block), str("a [b 1] \"c\"")})), "[a [b 1] \"c\"]");
    EXPECT_EQ(mold(run(actions::to_s, {type_cell(Type::Paren), str("1 + 2")})), "(1 + 2)");
    EXPECT_EQ(mold(run(actions::to_s, {type_cell(Type::Block), str("")})), "[]");
    EXPECT_EQ(error_of([] { run(actions::to_s, {type_cell(Type::Block), str("[1")}); }), Err::syntax_missing);
}

TEST(ScanConversions, TextAndNamesToWords) {
    struct WordCase {
        Type target;
        Cell source;
        std::string molded;  // empty: refused with `error`
        Err error = Err(0);
    };
    const WordCase cases[] = {
        {Type::Word, str("abc"), "abc"},
        {Type::Word, str("abc:"), "abc"},
        {Type::SetWord, str("'abc"), "abc:"},
        {Type::Word, str("#abc"), "abc"},
        {Type::Refinement, str("abc"), "/abc"},
        {Type::Word, str("1"), "", Err::script_invalid_chars},
        {Type::Word, str("a b"), "", Err::script_invalid_chars},
        {Type::Word, str(""), "", Err::script_invalid_chars},
        {Type::Word, char_cell('x'), "x"},
        {Type::Word, char_cell('1'), "", Err::script_invalid_chars},
        {Type::Word, first_value("#abc"), "abc"},
        {Type::Word, first_value("/abc"), "abc"},
        {Type::Word, first_value("#123"), "", Err::script_bad_to_arg},
        {Type::Word, first_value("#1.5"), "", Err::script_bad_to_arg},
    };
    for (const WordCase& c : cases) {
        if (c.molded.empty()) {
            EXPECT_EQ(error_of([&] {
                          run(actions::to_s, {type_cell(c.target), c.source});
                      }),
                      c.error)
                << mold(c.source);
            continue;
        }
        Cell made = run(actions::to_s, {type_cell(c.target), c.source});
        EXPECT_EQ(made.type(), c.target) << c.molded;
        EXPECT_EQ(mold(made), c.molded);
    }
}
