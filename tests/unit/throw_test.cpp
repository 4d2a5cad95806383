// Throws with catch levels, raising errors from the catalogue, and fatal errors ending the process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "platform/signals.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/throw.h"

using namespace oka;

TEST(Throw, CatchLevelsAreUnsignedBounds) {
    uint32_t inner = 0, outer = 0;
    outer = sys::protect(0x7FFFFFF8, [&] {
        inner = sys::protect(0x7FFFFFF6, [] { sys::throw_(0x7FFFFFF7); });
        ADD_FAILURE() << "the inner frame must not catch";
    });
    EXPECT_EQ(inner, 0u);
    EXPECT_EQ(outer, 0x7FFFFFF7u);
    EXPECT_EQ(sys::protect(0x7FFFFFF8, [] {}), 0u);
    EXPECT_EQ(sys::protect(kCatchAll, [] { sys::throw_(kThrowQuit); }), uint32_t(kThrowQuit));
    EXPECT_THROW(sys::protect(0, [] { sys::throw_(1); }), Throw);  // level 0 catches nothing
}

TEST(Throw, LoopLevelTakesBreakAndContinueButNotErrors) {
    EXPECT_EQ(sys::protect(kThrowBreak, [] { sys::throw_(kThrowContinue); }), uint32_t(kThrowContinue));
    EXPECT_TRUE(error::trap([] {
        sys::protect(kThrowBreak, [] { fire(Err::math_zero_divide); });
        ADD_FAILURE() << "a loop must not take an error";
    }));
}

TEST(ErrorCatalogue, CodesWordsAndCategories) {
    struct Case {
        Err id;
        int code;
        const char* word;
        const char* category;
        const char* text;
    } cases[] = {
        {Err::throw_break, 0, "break", "throw", "Throw Error"},
        {Err::throw_while_cond, 4, "while-cond", "throw", "Throw Error"},
        {Err::note_no_load, 100, "no-load", "note", "note"},
        {Err::syntax_bad_char, 206, "bad-char", "syntax", "Syntax Error"},
        {Err::script_expect_arg, 305, "expect-arg", "script", "Script Error"},
        {Err::script_ob_invalid_record, 393, "ob-invalid-record", "script", "Script Error"},
        {Err::math_positive, 402, "positive", "math", "Math Error"},
        {Err::access_invalid_cmd, 514, "invalid-cmd", "access", "Access Error"},
        {Err::user_message, 800, "message", "user", "User Error"},
        {Err::internal_deprecated, 913, "deprecated", "internal", "Internal Error"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(int(c.id), c.code);
        EXPECT_STREQ(error::info(c.id).word, c.word);
        const error::CategoryInfo& cat = error::category_info(error::category_of(c.id));
        EXPECT_STREQ(cat.word, c.category);
        EXPECT_STREQ(cat.text, c.text);
    }
    EXPECT_STREQ(error::category_info(ErrorCategory::Reserved2).text, "Reserved2 Error");
}

TEST(ErrorCatalogue, MessagesAreStringsBlocksOrTheFirstArgument) {
    EXPECT_STREQ(error::info(Err::script_expect_arg).message,
                 R"([:arg1 "does not allow" :arg2 "for its" :arg3 "argument"])");
    EXPECT_STREQ(error::info(Err::math_zero_divide).message, R"("attempt to divide by zero")");
    EXPECT_STREQ(error::info(Err::user_message).message, "arg1");
    EXPECT_STREQ(error::info(Err::internal_not_here).message, R"([arg1 "not supported on your system"])");
}

namespace {

std::string report_of(void (*raise)()) {
    EXPECT_TRUE(error::trap(raise));
    testing::internal::CaptureStdout();
    error::print_raised();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(ErrorReport, MessageWithArgumentsJoinedBySpaces) {
    EXPECT_EQ(report_of([] { fire(Err::math_zero_divide); }), "*** Math Error: attempt to divide by zero\n");
    EXPECT_EQ(report_of([] {
                  Cell n;
                  integer::make_at(&n, 42);
                  fire(Err::script_out_of_range, &n);
              }),
              "*** Script Error: value out of range: 42\n");
    EXPECT_EQ(error::raised.arg_count, 1);
    EXPECT_EQ(error::raised.args[0].int32(), 42);
}

namespace {

// The operands and the quotient are volatile so that the division really runs.
__attribute__((no_sanitize("integer-divide-by-zero"))) void divide_by_zero() {
    volatile int numerator = 1, divisor = 0;
    volatile int quotient = numerator / divisor;
    (void)quotient;
}

}  // namespace

TEST(FatalError, IntegerDivisionByZeroInNativeCodeIsRuntimeError13) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            platform::install_fatal_handlers(sys::on_fatal_signal);
            divide_by_zero();
        },
        testing::ExitedWithCode(13),
        "\n\\*\\*\\* Runtime Error 13: integer divide by zero\n\\*\\*\\* at: [0-9A-F]{8}h\n");
}
