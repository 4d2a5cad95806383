// The screen of the text-mode views: colours mapped to the terminal's palette, the escape sequences of
// attributes and colours, frames written to a fake terminal byte by byte, and text drawn into cells
// (clipping, alignment, wrapping, double-width characters, escape sequences inside the text).
#include <gtest/gtest.h>

#include <string>

#include "platform/terminal.h"
#include "tui_testing.h"
#include "view/tui/screen.h"
#include "view/tui/text.h"

namespace oka::gui {
namespace {

using tui_test::row;

// The terminal the tests write to: the bytes it received.
std::string received;
void receive(const char* bytes, size_t n) { received.append(bytes, n); }

// A screen of `width` x `height` cells, in screen mode without a terminal, writing to `received`.
class TuiScreen : public testing::Test {
protected:
    void SetUp() override {
        reset_screen();
        received.clear();
        platform::set_output_sink(receive);
        screen().in_screen = true;
        screen().console_width = 80;
        screen().console_height = 24;
    }
    void TearDown() override {
        platform::set_output_sink(nullptr);
        reset_screen();
    }
    void sized(int width, int height) {
        size_screen_buffer(width, height);
        clear_screen_buffer();
    }
    // The frame of the buffer as the terminal receives it.
    std::string frame() {
        received.clear();
        flush_screen();
        return received;
    }
    void draw(const std::u32string& text, int x, int y, const Rect& clip, TextAttributes attributes = {}) {
        draw_text({reinterpret_cast<const uint8_t*>(text.data()), 4, nullptr, uint32_t(text.size())}, x, y, clip,
                  attributes);
    }
};

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t alpha = 0) {
    return r | g << 8 | b << 16 | alpha << 24;
}

TEST(TuiColours, FaceColoursToThePalette) {
    struct Case {
        uint32_t colour;
        uint32_t value;
    };
    const Case cases[] = {
        {rgb(0, 0, 0), xterm_colour(16)},         // black is the cube's, not the grey ramp's
        {rgb(255, 255, 255), xterm_colour(231)},  // cube white beats grey 238
        {rgb(255, 0, 0), xterm_colour(196)},
        {rgb(0, 128, 255), xterm_colour(33)},
        {rgb(128, 128, 128), xterm_colour(244)},  // a grey: the ramp is strictly nearer
        {rgb(100, 100, 100), xterm_colour(241)},
        {rgb(4, 4, 4), xterm_colour(232)},         // as near the cube's black as the ramp's first: the grey
        {rgb(1, 2, 3, 255), 0},                    // fully transparent: the terminal's default, not black
        {rgb(255, 0, 0, 254), xterm_colour(196)},  // alpha below 255 is ignored
    };
    for (const Case& c : cases) EXPECT_EQ(rgb_to_xterm256(c.colour), c.value) << std::hex << c.colour;
    const int levels[][2] = {{0, 0},   {47, 0},  {48, 1},  {114, 1}, {115, 2},
                             {155, 3}, {195, 4}, {234, 4}, {235, 5}, {255, 5}};
    for (const auto& level : levels) EXPECT_EQ(colour_level(level[0]), level[1]) << level[0];
}

TEST(TuiColours, EscapeParameters) {
    struct Case {
        uint32_t colour;
        bool foreground;
        const char* bytes;
    };
    const Case cases[] = {
        {0, true, "\x1b[39m"},
        {0, false, "\x1b[49m"},
        {system_colour(1), true, "\x1b[31m"},
        {system_colour(1), false, "\x1b[41m"},
        {system_colour(8), true, "\x1b[0m"},
        {system_colour(9), false, "\x1b[49m"},
        {system_colour(16), true, "\x1b[96m"},
        {system_colour(17), true, "\x1b[97m"},
        {system_colour(16), false, "\x1b[106m"},
        {system_colour(17), false, "\x1b[107m"},
        {xterm_colour(196), true, "\x1b[38;5;196m"},
        {xterm_colour(16), false, "\x1b[48;5;16m"},
        {true_colour(0x010203), true, "\x1b[38;2;1;2;3m"},
        {true_colour(0xFF8000), false, "\x1b[48;2;255;128;0m"},
        {3u << 24, true, "\x1b[0m"},
    };
    for (const Case& c : cases) {
        std::string out;
        emit_colour(out, c.colour, c.foreground);
        EXPECT_EQ(out, c.bytes) << std::hex << c.colour;
    }
}

TEST(TuiColours, AttributeChangesInTheirOrder) {
    struct Case {
        ScreenCell prev, cur;
        const char* bytes;
    };
    const uint32_t all = kBlink | kBold | kDim | kReverse | kUnderline | kStrike | kItalic | kHidden;
    const Case cases[] = {
        {{'a', 0, 0, 0}, {'b', 0, 0, 0}, ""},
        {{'a', 0, 0, 0}, {'b', 0, 0, all}, "\x1b[2m\x1b[7m\x1b[1m\x1b[3m\x1b[9m\x1b[4m"},
        {{'a', 0, 0, all}, {'b', 0, 0, 0}, "\x1b[22m\x1b[27m\x1b[22m\x1b[23m\x1b[29m\x1b[24m"},
        // "22" ends bold and dim alike: the one that stays is set again
        {{'a', 0, 0, kBold | kDim}, {'b', 0, 0, kDim}, "\x1b[22m\x1b[2m"},
        {{'a', 0, 0, kBold}, {'b', 0, 0, kDim}, "\x1b[2m\x1b[22m\x1b[2m"},
        // the foreground before the background
        {{'a', 0, 0, 0}, {'b', xterm_colour(1), xterm_colour(2), kUnderline}, "\x1b[4m\x1b[38;5;2m\x1b[48;5;1m"},
    };
    for (const Case& c : cases) {
        std::string out;
        emit_attributes(out, c.prev, c.cur);
        EXPECT_EQ(out, c.bytes);
    }
}

TEST_F(TuiScreen, InlineFrames) {
    sized(2, 1);
    put_cell(0, 0, {'a', 0, 0, 0});
    put_cell(1, 0, {'b', 0, 0, 0});
    EXPECT_EQ(frame(), "\r\x1b[0Jab");
    EXPECT_FALSE(screen().dirty);
    EXPECT_TRUE(screen().drawn);

    // every row but the last ends by resetting the background; a redraw moves up over the last frame
    sized(3, 2);
    put_cell(0, 0, {'x', xterm_colour(196), 0, 0});
    put_cell(2, 1, {'y', 0, 0, kBold});
    EXPECT_EQ(frame(), "\r\x1b[0J\x1b[48;5;196mx\x1b[49m  \x1b[49m\r\n  \x1b[1my\x1b[22m");
    EXPECT_EQ(screen().rows_above, 1);
    EXPECT_TRUE(frame().starts_with("\r\x1b[1A\x1b[0J\x1b[48;5;196mx"));

    // the focused widget's text cursor
    screen().cursor_x = 2;
    screen().cursor_y = 0;
    EXPECT_TRUE(frame().ends_with("\x1b[22m\r\x1b[1A\x1b[2C"));
    EXPECT_EQ(screen().rows_above, 0);
}

TEST_F(TuiScreen, FullScreenFramesStartAtHome) {
    screen().fullscreen = true;
    sized(1, 1);
    put_cell(0, 0, {'z', 0, 0, 0});
    EXPECT_EQ(frame(), "\x1b[Hz");
}

TEST_F(TuiScreen, EmptyFramesWriteNothing) {
    sized(0, 3);
    EXPECT_EQ(frame(), "");
    sized(3, 0);
    EXPECT_EQ(frame(), "");
}

// What a cell holds never breaks the frame: control characters show as blanks, a masked cell as "*",
// a wide character whose right half was drawn over (or that has no room) as a blank, and so does a
// right half without its left.
TEST_F(TuiScreen, CellsThatCannotShowAsTheyAre) {
    sized(8, 1);
    put_cell(0, 0, {0x1B, 0, 0, 0});
    put_cell(1, 0, {'s', 0, 0, kMasked});
    put_cell(2, 0, {0x4E2D, 0, 0, 0});
    put_cell(3, 0, {0, 0, 0, kContinuation});
    put_cell(4, 0, {0x4E2D, 0, 0, 0});
    put_cell(5, 0, {'q', 0, 0, 0});
    put_cell(6, 0, {0, 0, 0, kContinuation});
    put_cell(7, 0, {0x4E2D, 0, 0, 0});
    EXPECT_EQ(frame(), "\r\x1b[0J *\xe4\xb8\xad q  ");
}

// Screen modes are written only to a terminal; the print bracket erases the drawn area, the one-row
// area included, and the end of the outermost loop leaves the cursor on the row under it.
TEST_F(TuiScreen, PrintBracketAndLeavingTheView) {
    sized(4, 3);
    frame();
    received.clear();
    print_begin();
    EXPECT_EQ(received, "\r\x1b[2A\x1b[0J");
    EXPECT_FALSE(screen().drawn);
    received.clear();
    print_end();
    EXPECT_TRUE(screen().dirty);
    EXPECT_EQ(received, "");  // no question for the cursor without a terminal

    sized(4, 1);
    frame();
    received.clear();
    print_begin();
    EXPECT_EQ(received, "\r\x1b[0J");

    sized(4, 3);
    screen().cursor_x = screen().cursor_y = 0;
    frame();
    received.clear();
    move_below_ui();
    EXPECT_EQ(received, "\x1b[2B\r\n");

    received.clear();
    hide_cursor();
    mouse_tracking(true);
    screen().fullscreen = true;
    enter_alt_screen();
    EXPECT_EQ(received, "");
}

TEST_F(TuiScreen, BufferKeepsInsideTheConsole) {
    sized(100, 30);
    EXPECT_EQ(screen().width, 80);
    EXPECT_EQ(screen().height, 24);
    fill_rect({-5, -5, 3, 2}, xterm_colour(4));
    EXPECT_EQ(cell_at(2, 1)->bg, xterm_colour(4));
    EXPECT_EQ(cell_at(2, 1)->ch, U' ');
    EXPECT_EQ(cell_at(3, 1)->bg, 0u);
    EXPECT_EQ(cell_at(80, 0), nullptr);
    screen().in_screen = false;
    size_screen_buffer(10, 10);  // only while in screen
    EXPECT_EQ(screen().width, 80);
}

TEST_F(TuiScreen, TextClippedAlignedAndWrapped) {
    sized(10, 3);
    Rect all = screen_rect();
    // a centred "OK" in a box 6 cells wide starts 2 cells in
    Offset centred = align_text({2, 1}, 6, 1, kAlignCenter);
    EXPECT_EQ(centred.x, 2);
    EXPECT_EQ(align_text({2, 1}, 6, 3, kAlignRight | kAlignBottom).x, 4);
    EXPECT_EQ(align_text({2, 1}, 6, 3, kAlignRight | kAlignBottom).y, 2);
    EXPECT_EQ(align_text({8, 1}, 6, 1, kAlignCenter).x, 0);

    draw(U"ab\ncd", 1, 0, all);
    EXPECT_EQ(row(0), U".ab.......");
    EXPECT_EQ(row(1), U".cd.......");

    // clipped on both sides, without wrapping the rest of a line is dropped
    clear_screen_buffer();
    draw(U"abcdefgh\nxy", 0, 0, {2, 0, 5, 2});
    EXPECT_EQ(row(0), U"..cde.....");
    EXPECT_EQ(row(1), U"..........");  // "xy" lies left of the clip

    // a double-width character that does not fit is not written; with wrapping it moves to the next row
    clear_screen_buffer();
    draw(U"abc\u4E2D", 0, 0, {0, 0, 4, 3});
    EXPECT_EQ(row(0), U"abc.......");
    clear_screen_buffer();
    draw(U"abc\u4E2Dd", 0, 0, {0, 0, 4, 3}, {0, kWrap, 0, 0});
    EXPECT_EQ(row(0), U"abc.......");
    EXPECT_EQ(row(1), U"\u4E2Dd.......");
    EXPECT_TRUE(cell_at(1, 1)->attrs & kContinuation);

    // a wide character straddling the clip's left edge leaves the cell inside as it was
    clear_screen_buffer();
    draw(U"\u4E2Dz", 0, 0, {1, 0, 10, 1});
    EXPECT_EQ(row(0), U"..z.......");
}

TEST_F(TuiScreen, EscapeSequencesInText) {
    sized(10, 1);
    TextAttributes escapes = {kTextEscapes, 0, xterm_colour(7), xterm_colour(8)};
    draw(U"\x1b[1;31mX\x1b[2JY\x1b[0mZ\x1b[mW", 0, 0, screen_rect(), escapes);
    EXPECT_EQ(row(0), U"XYZW......");
    EXPECT_EQ(cell_at(0, 0)->attrs, uint32_t(kBold));
    EXPECT_EQ(cell_at(0, 0)->fg, system_colour(1));
    EXPECT_EQ(cell_at(1, 0)->fg, system_colour(1));  // "\e[2J" changes nothing
    EXPECT_EQ(cell_at(2, 0)->fg, xterm_colour(7));   // 0 resets to the drawing's own
    EXPECT_EQ(cell_at(2, 0)->attrs, 0u);
    EXPECT_EQ(cell_at(3, 0)->bg, xterm_colour(8));

    // 256 colours in a group of three; a fourth parameter drops the group before it
    clear_screen_buffer();
    draw(U"\x1b[38;5;123ma\x1b[1;2;3;45mb\x1b[96;107mc\x1b[22;21md", 0, 0, screen_rect(),
         {uint32_t(kTextEscapes) | kDim, 0, 0, 0});
    EXPECT_EQ(cell_at(0, 0)->fg, xterm_colour(123));
    EXPECT_EQ(cell_at(1, 0)->attrs, uint32_t(kDim));
    EXPECT_EQ(cell_at(1, 0)->bg, system_colour(5));
    EXPECT_EQ(cell_at(2, 0)->fg, system_colour(16));
    EXPECT_EQ(cell_at(2, 0)->bg, system_colour(17));
    EXPECT_EQ(cell_at(3, 0)->attrs, 0u);

    // without the flag the escape is a character like any other (and a frame shows it as a blank)
    clear_screen_buffer();
    draw(U"\x1b[1mq", 0, 0, screen_rect());
    EXPECT_EQ(row(0), U"\x1b[1mq.....");
}

TEST(TuiText, Measured) {
    struct Case {
        std::u32string text;
        int max_width;
        int width, lines;
    };
    const Case cases[] = {
        {U"", -1, 0, 1},
        {U"abc\nde\n", -1, 3, 3},
        {U"\x1b[1;31mab\x1b[0m", -1, 2, 1},  // escape sequences take no cells
        {U"\u4E2D\u4E2Dx", -1, 5, 1},
        {U"abcdef", 4, 4, 2},
        {U"ab\u4E2D", 3, 2, 2},
        {U"\u4E2Dab", 1, 0, 1},  // a character wider than a line ends the walk
    };
    for (const Case& c : cases) {
        TextSize size = measure_text(
            {reinterpret_cast<const uint8_t*>(c.text.data()), 4, nullptr, uint32_t(c.text.size())}, c.max_width);
        EXPECT_EQ(size.width, c.width);
        EXPECT_EQ(size.lines, c.lines);
    }
}

}  // namespace
}  // namespace oka::gui
