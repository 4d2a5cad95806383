// The widgets of the text-mode views, driven without a terminal: faces made in the language and
// realised as the view engine's show realises them, drawn into the screen buffer, and sent the keys,
// mouse reports and timer ticks that the event loop decodes, with every event that reaches
// system/view/awake logged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "natives_testing.h"
#include "platform/terminal.h"
#include "tui_testing.h"
#include "view/tui/events.h"
#include "view/tui/faces.h"
#include "view/tui/render.h"
#include "view/tui/routines.h"
#include "view/tui/screen.h"
#include "view/tui/text.h"
#include "view/tui/widgets.h"

namespace oka::gui {
namespace {

using tui_test::row;

std::string received;
void receive(const char* bytes, size_t n) { received.append(bytes, n); }

class TuiWidgets : public test::CodeTest {
protected:
    void SetUp() override {
        CodeTest::SetUp();
        reset_screen();
        received.clear();
        platform::set_output_sink(receive);
        screen().in_screen = true;
        screen().console_width = 80;
        screen().console_height = 24;
        // every event that reaches the view engine is logged; tui-stop holds the event types it stops
        run("tui-log: copy [] tui-stop: copy []");
        run("tui-awake: func [event] [append/only tui-log reduce [event/type event/key event/offset event/picked "
            "event/flags] either find tui-stop event/type ['done] [none]]");
        run("tui-saved: either in system/view 'awake [:system/view/awake] [none]");
        run("either in system/view 'awake [system/view/awake: :tui-awake] [system/view: make system/view [awake: "
            ":tui-awake]]");
    }
    void TearDown() override {
        run("system/view/awake: :tui-saved");
        release_all();
        platform::set_output_sink(nullptr);
        reset_screen();
    }

    Cell run(std::string_view code) {
        Cell block = test::keep(*lexer::load(code));
        Cell result = none::value;
        Cell error;
        EXPECT_FALSE(error::trap(
            [&] {
                interpreter::eval_block(block, false);
                result = test::keep(stack::top[-1]);
            },
            &error))
            << code;
        return result;
    }
    // The value of the code, molded.
    std::string molded(std::string_view code) { return test::mold(run(code)); }

    // A window of the faces the code makes (a block of faces in the window's pane), shown.
    WidgetId window(std::string_view pane, std::string_view window_spec = "size: 20x4") {
        Cell face = run("tui-win: make face! [type: 'window " + std::string(window_spec) + " pane: reduce [" +
                        std::string(pane) + "]]");
        WidgetId id = tui_test::realise(face, kNoWidget);
        show_window(id);
        return id;
    }
    Cell pane_face(WidgetId window, uint32_t index) {
        Cell pane = facet(widget(window)->face, GuiWord::pane);
        return *block::rs_abs_at(pane, pane.head() + index);
    }
    void redraw_now() {
        screen().dirty = true;
        refresh_screen();
    }
    std::string log() { return molded("tui-log"); }
    void clear_log() { run("clear tui-log"); }
    void keys(std::string_view bytes) {
        feed_input(bytes);
        decode_input();
    }
};

TEST_F(TuiWidgets, FacesDrawnWithTheirTextColoursAndHints) {
    window(
        "make face! [type: 'text offset: 0x0 size: 6x1 text: \"OK\" para: make para! [align: 'center]] "
        "make face! [type: 'field offset: 0x1 size: 5x1 text: \"\" options: [hint \"x\"]] "
        "make face! [type: 'button offset: 6x0 size: 8x1 text: \"^[[1;31mX^[[2JY\" color: 0.0.128]");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 8), U"  OK  XY");
    EXPECT_EQ(cell_at(2, 0)->ch, U'O');
    EXPECT_EQ(cell_at(0, 1)->ch, U'x');
    EXPECT_TRUE(cell_at(0, 1)->attrs & kDim);
    EXPECT_EQ(cell_at(6, 0)->attrs & kBold, uint32_t(kBold));
    EXPECT_EQ(cell_at(6, 0)->fg, system_colour(1));
    EXPECT_EQ(cell_at(6, 0)->bg, xterm_colour(18));
    EXPECT_EQ(cell_at(7, 0)->fg, system_colour(1));   // "\e[2J" inside the text changes nothing
    EXPECT_EQ(cell_at(10, 0)->bg, xterm_colour(18));  // the face's colour fills it
}

TEST_F(TuiWidgets, ChecksRadiosAndProgressBars) {
    window(
        "make face! [type: 'check offset: 0x0 size: 10x1 text: \"a\" flags: 'focusable] "
        "make face! [type: 'radio offset: 0x1 size: 10x1 text: \"b\" data: true] "
        "make face! [type: 'radio offset: 10x1 size: 10x1 text: \"c\"] "
        "make face! [type: 'progress offset: 0x2 size: 12x1 data: 0.5] "
        "make face! [type: 'progress offset: 0x3 size: 6x1]");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 3), U"☐ a");
    EXPECT_EQ(row(1).substr(0, 3), U"◉ b");
    EXPECT_EQ(row(1).substr(10, 3), U"○ c");
    EXPECT_EQ(row(2).substr(0, 12), U"[#####     ]");
    EXPECT_EQ(row(3).substr(0, 6), U"[    ]");     // a progress bar without data shows 0%
    EXPECT_TRUE(cell_at(0, 0)->attrs & kReverse);  // the focused check box

    // the check box has the focus first: Space checks it, then its face gets change
    clear_log();
    keys(" ");
    EXPECT_EQ(log(), "[[key-down #\" \" 0x0 0 []] [key #\" \" 0x0 0 []] [change none 0x0 0 []]]");
    EXPECT_EQ(molded("tui-win/pane/1/data"), "true");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 3), U"🞕 a");
    keys(" ");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 3), U"☐ a");

    // a click on the other radio button sets it and clears the first
    mouse_report(0, 11, 2, false);
    mouse_report(0, 11, 2, true);
    redraw_now();
    EXPECT_EQ(row(1).substr(0, 3), U"○ b");
    EXPECT_EQ(row(1).substr(10, 3), U"◉ c");
    EXPECT_EQ(molded("reduce [tui-win/pane/2/data tui-win/pane/3/data]"), "[false true]");
}

TEST_F(TuiWidgets, FieldsTakeTypedText) {
    window("make face! [type: 'field offset: 2x1 size: 5x1 text: \"ab\" flags: 'focusable]");
    keys("cd");
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"abcd\"");
    keys("\x1b[D\x1b[D\x7f");  // Left, Left, Backspace
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"acd\"");
    keys("\x1b[H\x1b[3~\x1b[F");  // Home, Delete, End
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"cd\"");
    keys("xyzw");  // the field does not scroll: what does not fit is refused
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"cdxyz\"");
    keys("\x1b[H\x7f\x1b[C");  // Backspace at the start does nothing; Right moves on
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"cdxyz\"");
    redraw_now();
    EXPECT_EQ(row(1).substr(0, 8), U"..cdxyz.");
    EXPECT_EQ(screen().cursor_x, 3);  // the terminal's cursor stands after the first character
    EXPECT_EQ(screen().cursor_y, 1);
    // Enter and Tab are the script's
    clear_log();
    keys("\r\t");
    EXPECT_EQ(molded("tui-win/pane/1/text"), "\"cdxyz\"");
    EXPECT_EQ(log(),
              "[[key-down #\"^M\" 0x0 0 []] [key #\"^M\" 0x0 0 []] [key-down #\"^-\" 0x0 0 []] [key "
              "#\"^-\" 0x0 0 []]]");
}

TEST_F(TuiWidgets, TextListsMoveTheirSelection) {
    window("make face! [type: 'text-list offset: 0x0 size: 10x3 flags: 'focusable data: [\"a\" \"b\" \"c\" \"d\"]]");
    redraw_now();
    // focused from the start, it shows its selection
    EXPECT_EQ(molded("tui-win/pane/1/selected"), "1");
    EXPECT_TRUE(cell_at(0, 0)->attrs & kReverse);
    EXPECT_FALSE(cell_at(0, 1)->attrs & kReverse);
    clear_log();
    keys("\x1b[B");
    EXPECT_EQ(log(),
              "[[key-down down 0x0 0 []] [key down 0x0 0 []] [select none 0x0 2 []] [change none 0x0 0 "
              "[]]]");
    EXPECT_EQ(molded("tui-win/pane/1/selected"), "2");
    redraw_now();
    EXPECT_TRUE(cell_at(0, 1)->attrs & kReverse);
    keys("\x1b[B\x1b[B\x1b[B");  // down to the last line, and no further: the list scrolls
    EXPECT_EQ(molded("tui-win/pane/1/selected"), "4");
    EXPECT_EQ(molded("TUI-helpers/widget-data tui-win/pane/1"), "1");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 1), U"b");
    EXPECT_TRUE(cell_at(0, 2)->attrs & kReverse);
    clear_log();
    keys("\x1b[A\x1b[A\x1b[A\x1b[A");
    EXPECT_EQ(molded("tui-win/pane/1/selected"), "1");
    EXPECT_EQ(molded("TUI-helpers/widget-data tui-win/pane/1"), "0");
    // a selection stopped at select sends no change
    run("tui-stop: [select]");
    clear_log();
    keys("\x1b[B");
    EXPECT_EQ(molded("last tui-log"), "[select none 0x0 2 []]");
}

// A list that gets the focus later (Tab, set-focus) shows its selection from then on, and Down moves it.
TEST_F(TuiWidgets, TextListsFocusedLaterShowTheirSelection) {
    WidgetId win = window(
        "make face! [type: 'text-list offset: 0x0 size: 5x2 flags: 'focusable data: [\"a\" \"b\"]] "
        "make face! [type: 'text-list offset: 6x0 size: 5x2 flags: 'focusable data: [\"c\" \"d\"]]");
    redraw_now();
    EXPECT_EQ(molded("tui-win/pane/2/selected"), "none");
    EXPECT_FALSE(cell_at(6, 0)->attrs & kReverse);
    set_focus(face_handle(pane_face(win, 1)));
    redraw_now();
    EXPECT_EQ(molded("tui-win/pane/2/selected"), "1");
    EXPECT_TRUE(cell_at(6, 0)->attrs & kReverse);
    keys("\x1b[B");
    EXPECT_EQ(molded("tui-win/pane/2/selected"), "2");
}

TEST_F(TuiWidgets, ImagesAsHalfBlocks) {
    window("make face! [type: 'base offset: 0x0 size: 2x1 image: make image! [2x2 #{FF0000 00FF00 0000FF FFFFFF}]]");
    redraw_now();
    EXPECT_EQ(row(0).substr(0, 2), U"\u2584\u2584");
    EXPECT_EQ(cell_at(0, 0)->bg, xterm_colour(196));  // an opaque red pixel draws red
    EXPECT_EQ(cell_at(0, 0)->fg, xterm_colour(21));
    EXPECT_EQ(cell_at(1, 0)->bg, xterm_colour(46));
    EXPECT_EQ(cell_at(1, 0)->fg, xterm_colour(231));
    screen().colour_depth = kDepthTrueColour;
    run("tui-win/pane/1/state/2: 16");  // the image changed
    update_view(pane_face(active_window(), 0));
    redraw_now();
    EXPECT_EQ(cell_at(0, 0)->bg, true_colour(0xFF0000));
}

TEST_F(TuiWidgets, ClicksAndDoubleClicks) {
    window("make face! [type: 'button offset: 1x1 size: 4x1 text: \"go\"]");
    auto click = [&] {
        mouse_report(0, 3, 2, false);
        mouse_report(0, 3, 2, true);
    };
    click();
    advance_click_clock(100);
    click();
    advance_click_clock(100);
    click();
    EXPECT_EQ(log(),
              "[[down none 1x0 0 []] [up none 1x0 0 []] [click none 1x0 0 []] [down none 1x0 0 []] "
              "[up none 1x0 0 []] [click none 1x0 0 []] [dbl-click none 1x0 0 []] [down none 1x0 0 "
              "[]] [up none 1x0 0 []] [click none 1x0 0 []]]");
    clear_log();
    advance_click_clock(600);  // too late for a double click
    click();
    EXPECT_EQ(log(), "[[down none 1x0 0 []] [up none 1x0 0 []] [click none 1x0 0 []]]");
    // the wheel, with its delta as picked; the widget's parents are the view engine's to reach
    clear_log();
    run("tui-stop: copy []");
    mouse_report(64 + 16, 3, 2, false);
    EXPECT_EQ(log(), "[[wheel none 1x0 1.0 [control]]]");
}

// A drag goes on past the edge of the face pressed: with the button held, a face with the all-over
// flag gets over at every move, its offset relative to the face, wherever the pointer is; a face
// without the flag hears only that the pointer went away.
TEST_F(TuiWidgets, DragsPastTheEdgeOfThePressedFace) {
    window(
        "make face! [type: 'base offset: 1x1 size: 3x1 flags: [all-over]] "
        "make face! [type: 'base offset: 1x2 size: 3x1]");
    mouse_report(35, 3, 2, false);  // the pointer comes onto the face
    mouse_report(0, 3, 2, false);
    mouse_report(32, 16, 4, false);  // one move far out of the face, into the window
    mouse_report(32, 26, 4, false);  // and on, past the window's width
    mouse_report(0, 26, 4, true);
    EXPECT_EQ(log(),
              "[[over none 1x0 0 []] [down none 1x0 0 []] [over none 14x2 0 [down away]] [over none 14x2 0 [down]] "
              "[over none 24x2 0 [down]] [up none 25x3 0 []]]");
    // once the button is up, moves out of the face reach it no more
    clear_log();
    mouse_report(35, 10, 4, false);
    EXPECT_EQ(log(), "[]");
    // the face without the flag
    mouse_report(35, 3, 3, false);
    clear_log();
    mouse_report(0, 3, 3, false);
    mouse_report(32, 16, 4, false);
    mouse_report(32, 18, 4, false);
    mouse_report(0, 18, 4, true);
    EXPECT_EQ(log(), "[[down none 1x0 0 []] [over none 14x1 0 [down away]] [up none 17x3 0 []]]");
}

TEST_F(TuiWidgets, KeysFromTheTerminal) {
    window("make face! [type: 'base offset: 0x0 size: 4x1 flags: 'focusable]");
    clear_log();
    keys("\x1b[Z\x1b[1;5C\x1bOP\x08\n\xc3");  // the last byte waits for the rest of its character
    EXPECT_EQ(log(),
              "[[key-down #\"^-\" 0x0 0 [shift]] [key #\"^-\" 0x0 0 [shift]] [key-down right 0x0 0 "
              "[control]] [key right 0x0 0 [control]] [key-down F1 0x0 0 []] [key F1 0x0 0 []] "
              "[key-down #\"^~\" 0x0 0 []] [key #\"^~\" 0x0 0 []] [key-down #\"^M\" 0x0 0 []] [key "
              "#\"^M\" 0x0 0 []]]");
    clear_log();
    keys("\xa9\xff");
    EXPECT_EQ(molded("collect [foreach event tui-log [keep to integer! event/2]]"), "[233 233 65533 65533]");
    clear_log();
    keys("\x1b");  // Esc alone in the input is the key Esc
    EXPECT_EQ(molded("first tui-log"), "[key-down #\"^[\" 0x0 0 []]");
}

TEST_F(TuiWidgets, Timers) {
    struct Case {
        const char* rate;
        int millis;  // -1: invalid-facet-type
    };
    const Case cases[] = {{"3", 333},     {"1", 1000},   {"0:0:0.5", 500}, {"0", -1},
                          {"-0:0:1", -1}, {"0:0:0", -1}, {"\"x\"", -1}};
    for (const Case& c : cases) {
        Cell rate = run(c.rate);
        int millis = -1;
        error::trap([&] { millis = rate_millis(rate); });
        EXPECT_EQ(millis, c.millis) << c.rate;
    }
    window("make face! [type: 'base offset: 0x0 size: 4x1 rate: 10]");
    clear_log();
    run_timers(60);
    EXPECT_EQ(log(), "[]");
    run_timers(60);
    EXPECT_EQ(log(), "[[time none 0x0 0 []]]");
    // a rate that is none stops the timer
    run("tui-win/pane/1/rate: none tui-win/pane/1/state/2: 65536");
    update_view(pane_face(active_window(), 0));
    clear_log();
    run_timers(1000);
    EXPECT_EQ(log(), "[]");
}

TEST_F(TuiWidgets, TwoWindows) {
    WidgetId first = window(
        "make face! [type: 'field offset: 0x0 size: 5x1 flags: 'focusable] "
        "make face! [type: 'field offset: 0x1 size: 5x1 flags: 'focusable]");
    run("tui-first: tui-win");
    keys("\x1b[B");
    set_focus(face_handle(pane_face(first, 1)));
    WidgetId second = window("make face! [type: 'button offset: 0x0 size: 5x1 flags: 'focusable]");
    EXPECT_EQ(active_window(), second);
    EXPECT_EQ(windows().size(), 2u);
    destroy_view(widget(second)->face, false);
    EXPECT_EQ(windows().size(), 1u);
    EXPECT_EQ(active_window(), first);
    EXPECT_EQ(focused_widget(), face_handle(pane_face(first, 1)));
    EXPECT_EQ(molded("tui-win/state"), "none");
    EXPECT_EQ(face_handle(run("tui-win")), kNoWidget);
}

// Faces made from one prototype are alike but not the same: destroying one lets go of it alone, here in
// the parent block of the font the two faces share.
TEST_F(TuiWidgets, FacesOfOnePrototype) {
    run("tui-font: make font! [parent: copy []] tui-proto: make face! [type: 'base size: 4x1 font: tui-font]");
    WidgetId win = window("make tui-proto [offset: 0x0] make tui-proto [offset: 0x1]");
    run("append tui-font/parent tui-win/pane");
    WidgetId first = face_handle(pane_face(win, 0));
    EXPECT_NE(first, face_handle(pane_face(win, 1)));
    destroy_view(pane_face(win, 1), false);
    EXPECT_EQ(molded("reduce [length? tui-font/parent same? tui-font/parent/1 tui-win/pane/1]"), "[1 true]");
    EXPECT_EQ(face_handle(pane_face(win, 0)), first);
    EXPECT_EQ(face_handle(pane_face(win, 1)), kNoWidget);
}

TEST_F(TuiWidgets, PlatformRoutines) {
    auto call = [&](void (*routine)(Cell*), std::initializer_list<std::string_view> arguments) {
        std::vector<Cell> values;
        for (std::string_view argument : arguments) values.push_back(run(argument));  // each kept by run
        Cell* args = stack::top;
        for (const Cell& value : values) stack::push(value);
        if (values.empty()) stack::push_next();
        Cell error;
        std::string result = error::trap([&] { routine(args); }, &error) ? "***" : test::mold(*args);
        stack::top = args;
        return result;
    };
    EXPECT_EQ(call(size_text_r, {"make face! [text: none]", "none"}), "none");
    EXPECT_EQ(call(size_text_r, {"make face! [text: \"ab^/cde\"]", "none"}), "(3, 2)");
    EXPECT_EQ(call(size_text_r, {"make face! [type: 'rich-text text: \"^[[1mab\"]", "none"}), "(2, 1)");
    EXPECT_EQ(call(size_text_r, {"make face! []", "\"\u4E2Dx\""}), "(3, 1)");
    EXPECT_EQ(call(update_view_r, {"reduce [make face! [] 1]"}), "***");
    EXPECT_EQ(call(update_view_r, {"make face! [type: 'screen]"}), "none");
    EXPECT_EQ(call(text_box_metrics_r, {"make face! [type: 'rich-text text: \"ab^/cd\" size: 10x2]", "2", "2"}), "1.0");
    EXPECT_EQ(call(text_box_metrics_r, {"make face! [type: 'rich-text text: \"ab^/cd\" size: 10x2]", "5", "0"}),
              "(1, 1)");
    EXPECT_EQ(call(text_box_metrics_r, {"make face! [type: 'rich-text text: \"abcdef\" size: 4x2]", "none", "4"}), "2");
    EXPECT_EQ(call(text_box_metrics_r, {"make face! [type: 'base text: \"ab\"]", "1", "0"}), "***");
    EXPECT_EQ(call(make_null_handle_r, {}), "handle!");
    EXPECT_EQ(call(support_dark_mode_q_r, {}), "false");
}

}  // namespace
}  // namespace oka::gui
