// Draw blocks and rich text on real faces: windows of faces made in the language, realised as the view
// engine's show realises them and drawn into the screen buffer by the renderer.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/lexer.h"
#include "natives_testing.h"
#include "platform/terminal.h"
#include "tui_testing.h"
#include "view/tui/render.h"
#include "view/tui/screen.h"
#include "view/tui/widgets.h"

namespace oka::gui {
namespace {

using tui_test::row;

const uint32_t kRed = xterm_colour(196);
const uint32_t kGreen = xterm_colour(46);
const uint32_t kBlue = xterm_colour(21);

void discard(const char*, size_t) {}

class DrawFaces : public test::CodeTest {
protected:
    void SetUp() override {
        CodeTest::SetUp();
        reset_screen();
        screen().in_screen = true;
        screen().console_width = 80;
        screen().console_height = 24;
        platform::set_output_sink(discard);
    }
    void TearDown() override {
        release_all();
        platform::set_output_sink(nullptr);
        reset_screen();
    }

    // Shows a window of 20x6 cells whose pane holds the faces the code makes, and draws it.
    void show(const std::string& pane) {
        interpreter::eval_block(
            test::keep(*lexer::load("make face! [type: 'window size: 20x6 pane: reduce [" + pane + "]]")), false);
        show_window(tui_test::realise(test::keep(stack::top[-1]), kNoWidget));
        screen().dirty = true;
        refresh_screen();
    }
};

// A face's draw block is drawn from the face's origin and kept inside the face, and inside its parent
// where the parent cuts the face.
TEST_F(DrawFaces, DrawBlocksStayInTheirFace) {
    show(
        "make face! [type: 'base offset: 2x1 size: 6x3 color: 0.0.255 draw: [fill-pen 255.0.0 box 0x0 3x2 "
        "line 0x1 40x1]] "
        "make face! [type: 'panel offset: 12x1 size: 4x2 pane: reduce [make face! [type: 'base offset: 1x0 "
        "size: 8x8 draw: [circle 3x3 3]]]]");
    // the window's own cells are "."; a face's are blanks
    EXPECT_EQ(row(0).substr(0, 18), U"..................");
    EXPECT_EQ(row(1).substr(0, 18), U"..┌──┐  .... ███..");
    EXPECT_EQ(row(2).substr(0, 18), U"..██████....    ..");
    EXPECT_EQ(row(3).substr(0, 18), U"..└──┘  ..........");
    EXPECT_EQ(cell_at(3, 1)->bg, kRed);
    EXPECT_EQ(cell_at(6, 1)->bg, kBlue);  // beside the box: the face's own colour
}

// A rich-text face shows its styles on its colour: a backdrop shows, and a range past the text ends
// with it.
TEST_F(DrawFaces, RichTextShowsItsStyles) {
    show(
        "make face! [type: 'rich-text offset: 0x0 size: 14x1 color: 0.0.255 text: \"hello world\" "
        "data: [1x5 bold 255.0.0 7x20 backdrop 0.255.0]]");
    EXPECT_EQ(row(0).substr(0, 12), U"hello world ");
    for (int x = 0; x < 12; x++) {
        const ScreenCell& cell = *cell_at(x, 0);
        EXPECT_EQ(cell.attrs & kBold, x < 5 ? uint32_t(kBold) : 0u) << x;
        EXPECT_EQ(cell.fg, x < 5 ? kRed : 0u) << x;
        EXPECT_EQ(cell.bg, x >= 6 && x < 11 ? kGreen : kBlue) << x;
    }
}

}  // namespace
}  // namespace oka::gui
