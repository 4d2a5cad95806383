#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "runtime/console_output.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/throw.h"
#include "test_support.h"

namespace oka {
namespace {

// ---- Helpers

// Sends file descriptor 1 to a temporary file while it lives.
class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()), saved_(dup(1)) {
        std::fflush(stdout);
        dup2(fileno(file_), 1);
    }
    ~StdoutCapture() {
        dup2(saved_, 1);
        close(saved_);
        std::fclose(file_);
    }
    std::string text() const {
        std::string out(size_t(lseek(fileno(file_), 0, SEEK_END)), '\0');
        EXPECT_EQ(pread(fileno(file_), out.data(), out.size(), 0), ssize_t(out.size()));
        return out;
    }

private:
    FILE* file_;
    int saved_;
};

template <class F>
std::string stdout_of(F&& body) {
    StdoutCapture capture;
    body();
    return capture.text();
}

// Death tests match what the dying process wrote to stderr; the report goes to stdout.
void send_stdout_to_stderr() { dup2(2, 1); }

// Code points laid out as text of `unit`-byte units.
std::string units_of(std::u32string_view code_points, int unit) {
    std::string bytes;
    for (char32_t c : code_points) {
        uint32_t value = c;
        bytes.append(reinterpret_cast<const char*>(&value), unit);  // little-endian: the low bytes first
    }
    return bytes;
}

// A string! cell over a new buffer holding `code_points` in `unit`-byte units.
Cell make_string(std::u32string_view code_points, int unit, uint32_t head) {
    Node node = alloc::alloc_codepoints(uint32_t(code_points.size()), uint32_t(unit));
    std::string bytes = units_of(code_points, unit);
    BufPtr<SeriesBuffer> buffer = mem::buffer(node);
    std::memcpy(mem::ptr(buffer->offset), bytes.data(), bytes.size());
    buffer->tail = buffer->offset + uint32_t(bytes.size());
    return test::keep(Cell::of(Type::String).set_head(head).set_node(node));
}

std::vector<std::string> parts_seen;
void record_part(const char* text, uint32_t length) { parts_seen.emplace_back(text, length); }

// Registers record_part for the fixture's lifetime; each test starts from freshly made hook lists.
class ConsoleOutput : public testing::Test {
protected:
    void SetUp() override {
        io::init_print_hooks();
        io::add_print_hooks(nullptr, record_part);
        parts_seen.clear();
    }
    void TearDown() override { io::remove_print_hooks(nullptr, record_part); }
};

// ---- Console writer

TEST_F(ConsoleOutput, EncodesEveryUnitSizeAsUtf8) {
    struct Case {
        int unit;
        std::u32string code_points;
        bool newline;
        std::string expected;
    };
    const Case cases[] = {
        {1, U"caf\u00E9", false, "caf\xC3\xA9"},
        {1, U"\x1B[1;31mred\x1B[0m", false, "\x1B[1;31mred\x1B[0m"},
        {1, U"line", true, "line\n"},
        {2, U"A\u20AC\x1B[K", false, "A\xE2\x82\xAC\x1B[K"},
        {2, {0xD800, 'x', 0xDFFF}, true, "\xEF\xBF\xBDx\xEF\xBF\xBD\n"},
        {4, U"\U0001F600", false, "\xF0\x9F\x98\x80"},
        {4,
         {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF},
         true,
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\n"},
        {4, U"", true, "\n"},
    };
    for (const Case& c : cases) {
        std::string text = units_of(c.code_points, c.unit);
        auto write = [&] { console::write_text(text.data(), uint32_t(text.size()), c.unit, c.newline); };
        std::string out = stdout_of(write);
        EXPECT_EQ(out, c.expected) << "unit " << c.unit;
    }
}

TEST_F(ConsoleOutput, LongLineArrivesWholeInBatchesOfWholeCharacters) {
    std::string line;
    for (int i = 0; i < 1500; i++) line += i % 3 ? char('a' + i % 26) : '\xE9';
    std::string expected;
    for (unsigned char c : line) expected += c < 0x80 ? std::string(1, char(c)) : "\xC3\xA9";

    std::string out = stdout_of([&] { console::print_latin1(line.data(), uint32_t(line.size())); });

    EXPECT_EQ(out, expected + "\n");
    ASSERT_GT(parts_seen.size(), 1u);
    std::string joined;
    for (const std::string& part : parts_seen) {
        EXPECT_LE(part.size(), 1024u);
        EXPECT_NE(uint8_t(part[0]) & 0xC0, 0x80) << "a batch starts inside a character";
        joined += part;
    }
    EXPECT_EQ(joined, out);
}

TEST_F(ConsoleOutput, CodePointAboveUnicodeRaisesInvalidCharAndLeavesNothingPending) {
    std::string text = units_of(std::u32string{'A', 0x110000}, 4);
    bool raised = false;
    stdout_of([&] { raised = error::trap([&] { console::prin_ucs4(text.data(), uint32_t(text.size())); }); });
    EXPECT_TRUE(raised);
    EXPECT_EQ(stdout_of([] { console::print_latin1("B", 1); }), "B\n");
}

TEST_F(ConsoleOutput, CTextGoesOutAsItStandsAndWholeToThePartHooks) {
    std::string out = stdout_of([] { sys::prin_cstring("na\xC3\xAFve \x1B[0m"); });
    EXPECT_EQ(out, "na\xC3\xAFve \x1B[0m");
    EXPECT_EQ(parts_seen, std::vector<std::string>{out});
}

using ConsoleOutputDeathTest = ConsoleOutput;

TEST_F(ConsoleOutputDeathTest, UnknownUnitSizeIsRuntimeError101) {
    EXPECT_EXIT(
        {
            send_stdout_to_stderr();
            console::write_text("x", 1, 3, false);
        },
        testing::ExitedWithCode(101), "\\*\\*\\* Runtime Error 101: no value matched in SWITCH\n");
}

// ---- Typed print

TEST_F(ConsoleOutput, TypedPrintOfEveryKind) {
    std::string out = stdout_of([] {
        sys::prin_items_with({true, false, -42, 'x', 0.1f, 1.0 / 3, "text", sys::PrintItem::address(0xBEEF)}, true);
    });
    EXPECT_EQ(out, "true false -42 x 0.1 0.3333333333333333 text 0000BEEF");
}

TEST_F(ConsoleOutput, TypedPrintAddsNoSpaceAfterABlank) {
    EXPECT_EQ(stdout_of([] { sys::prin_items_with({"a", "b\n", 3}, true); }), "a b\n3");
    EXPECT_EQ(stdout_of([] { sys::prin_items_with({'\t', "x ", "y\r", "", 'z'}, true); }), "\tx y\r z");
    EXPECT_EQ(stdout_of([] { sys::prin_items({"a", "b\n", 3}); }), "ab\n3");
    EXPECT_EQ(stdout_of([] { sys::print_items({"n", 1}); }), "n1\n");
}

// ---- Output hooks

template <int N>
void print_hook(const Cell*, bool) {}

std::vector<int> part_calls;
template <int N>
void part_hook(const char*, uint32_t) {
    part_calls.push_back(N);
}

template <class Callback>
std::vector<Callback> entries_of(const io::CallbackList<Callback>& list) {
    return {list.entries, list.entries + list.count};
}

class PrintHooks : public testing::Test {
protected:
    void SetUp() override { io::init_print_hooks(); }
};

TEST_F(PrintHooks, ASixthCallbackGrowsTheListToTenInOrder) {
    const std::vector<io::PrintCallback> prints = {print_hook<0>, print_hook<1>, print_hook<2>, print_hook<3>,
                                                   print_hook<4>};
    const std::vector<io::PartCallback> parts = {part_hook<0>, part_hook<1>, part_hook<2>, part_hook<3>, part_hook<4>};
    ASSERT_EQ(io::print_list().capacity, 5u);
    for (size_t i = 0; i < prints.size(); i++) io::add_print_hooks(prints[i], parts[i]);

    std::vector<io::PrintCallback> expected = {io::print_string};
    expected.insert(expected.end(), prints.begin(), prints.end());
    EXPECT_EQ(io::print_list().capacity, 10u);
    EXPECT_EQ(entries_of(io::print_list()), expected);
    EXPECT_EQ(io::part_list().capacity, 5u);

    part_calls.clear();
    io::call_print_part_hooks("x", 1);
    EXPECT_EQ(part_calls, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST_F(PrintHooks, RemovingTakesTheFirstOccurrenceAndIgnoresUnregistered) {
    io::add_print_hooks(print_hook<0>, nullptr);
    io::add_print_hooks(print_hook<1>, nullptr);
    io::add_print_hooks(print_hook<0>, nullptr);
    const std::vector<io::PrintCallback> two_left = {io::print_string, print_hook<1>, print_hook<0>};

    io::remove_print_hooks(print_hook<0>, nullptr);
    EXPECT_EQ(entries_of(io::print_list()), two_left);
    io::remove_print_hooks(print_hook<2>, part_hook<2>);
    io::remove_print_hooks(nullptr, nullptr);
    EXPECT_EQ(entries_of(io::print_list()), two_left);
    EXPECT_EQ(io::part_list().count, 0u);
}

TEST_F(PrintHooks, PrintStringWritesFromTheHeadByUnit) {
    struct Case {
        std::u32string code_points;
        int unit;
        uint32_t head;
        bool line;
        std::string expected;
    };
    const Case cases[] = {
        {U"h\u00E9llo", 1, 1, false, "\xC3\xA9llo"},
        {U"\u00E9t\u00E9", 2, 0, true, "\xC3\xA9t\xC3\xA9\n"},
        {U"a\U0001F600", 4, 1, true, "\xF0\x9F\x98\x80\n"},
        {U"abc", 1, 3, false, ""},
        {U"abc", 2, 5, false, ""},
    };
    for (const Case& c : cases) {
        Cell string = make_string(c.code_points, c.unit, c.head);
        EXPECT_EQ(stdout_of([&] { io::print_string(&string, c.line); }), c.expected)
            << "unit " << c.unit << ", head " << c.head;
    }
}

TEST_F(PrintHooks, PrintStringOfAnUnknownUnitSaysSo) {
    Cell string = make_string(U"abcd", 1, 0);
    BufPtr<SeriesBuffer> buffer = mem::buffer(string.node());
    buffer->flags = (buffer->flags & ~kSeriesUnitMask) | 16;
    EXPECT_EQ(stdout_of([&] { io::print_string(&string, true); }), "Error: unknown string encoding: 16\n");
    mem::buffer(string.node())->flags = (mem::buffer(string.node())->flags & ~kSeriesUnitMask) | 1;  // sound again
}

TEST(PrintHooksBuildDate, IsTheFixedStamp) { EXPECT_STREQ(sys::build_date(), "17-Nov-2026/17:57:26"); }

// ---- Process end

TEST(FatalDeathTest, QuitReportsTheRuntimeErrorAndExitsWithItsNumber) {
    struct Case {
        int status;
        uint32_t address;
        const char* report;  // a regular expression; ^$ is no output at all
    };
    const Case cases[] = {
        {6, 0x1234, "^\n\\*\\*\\* Runtime Error 6: float denormal operan\n\\*\\*\\* at: 00001234h\n$"},
        {77, 0xABCDEF01, "^\n\\*\\*\\* Runtime Error 77: unknown error code!\n\\*\\*\\* at: ABCDEF01h\n$"},
        {0, 0x1234, "^$"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                send_stdout_to_stderr();
                sys::quit(c.status, c.address);
            },
            testing::ExitedWithCode(c.status), c.report);
    }
}

TEST(FatalDeathTest, TopHandlerQuitsQuietlyOnlyForAQuitRequest) {
    EXPECT_EXIT(
        {
            send_stdout_to_stderr();
            sys::top_handler(kThrowQuit);
        },
        testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(
        {
            send_stdout_to_stderr();
            sys::top_handler(kThrowBreak);
        },
        testing::ExitedWithCode(95), "\\*\\*\\* Runtime Error 95: no CATCH for THROW\n");
}

TEST(FatalDeathTest, FatalSignalHandlerWritesTheSameReport) {
    EXPECT_EXIT(
        {
            send_stdout_to_stderr();
            sys::on_fatal_signal(13, 0x42);
        },
        testing::ExitedWithCode(13),
        "^\n\\*\\*\\* Runtime Error 13: integer divide by zero\n\\*\\*\\* at: 00000042h\n$");
}

TEST(FatalDeathTest, FailedAssertionNamesItsPlaceAndIsRuntimeError98) {
    EXPECT_EXIT(
        {
            send_stdout_to_stderr();
            assertion_failed("count > 0", "series.cpp", 12);
        },
        testing::ExitedWithCode(98),
        "series.cpp:12: assertion failed: count > 0\n\n\\*\\*\\* Runtime Error 98: assertion failed\n");
}

// A C++ exception that nothing in the run-time takes is runtime error 99, whether it reaches the
// outermost handler or std::terminate (thrown out of a noexcept function); standard error names it.
[[noreturn]] void throw_runtime_error() { throw std::runtime_error("no room for the table"); }
void call_without_exceptions(void (*body)()) noexcept { body(); }

TEST(FatalDeathTest, AnEscapedCppExceptionIsRuntimeError99) {
    const char* report = "\n\n\\*\\*\\* Runtime Error 99: unknown error\n\\*\\*\\* at: [0-9A-F]{8}h\n$";
    struct Case {
        void (*body)();
        const char* named;
    } cases[] = {
        {[] {
             try {
                 throw_runtime_error();
             } catch (...) {
                 sys::on_escaped_exception();
             }
         },
         "C\\+\\+ exception: no room for the table"},
        {[] {
             try {
                 throw 42;
             } catch (...) {
                 sys::on_escaped_exception();
             }
         },
         "C\\+\\+ exception: an exception of no standard type"},
        {[] {
             std::set_terminate(sys::on_terminate);
             call_without_exceptions(throw_runtime_error);
         },
         "C\\+\\+ exception: no room for the table"},
    };
    for (const Case& c : cases) {
        EXPECT_EXIT(
            {
                send_stdout_to_stderr();
                c.body();
            },
            testing::ExitedWithCode(99), std::string("^") + c.named + report);
    }
}

}  // namespace
}  // namespace oka
