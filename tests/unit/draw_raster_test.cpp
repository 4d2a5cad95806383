// The draw raster: what a draw block makes of the screen's cells inside a face, and that it writes
// nothing outside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "evaluator/lexer.h"
#include "test_support.h"
#include "view/tui/draw.h"
#include "view/tui/faces.h"
#include "view/tui/screen.h"

namespace oka {
namespace {

using gui::ScreenCell;

constexpr uint32_t kRed = 0x02000000 | 196;  // 255.0.0 on the terminal's palette
constexpr uint32_t kBlue = 0x02000000 | 21;  // 0.0.255

// A screen of 24 x 12 cells, every cell a "." on background 7, so that what a drawing leaves alone
// shows; faces are drawn into it with their own origin and clip rectangle.
class DrawRaster : public testing::Test {
protected:
    void SetUp() override {
        gui::reset_screen();
        gui::screen().in_screen = true;
        gui::size_screen_buffer(24, 12);
        for (ScreenCell& cell : gui::screen().cells) cell = {'.', 7, 0, 0};
    }
    void TearDown() override { gui::reset_screen(); }

    // Draws the commands on a face whose top left corner is at (x, y), of `width` x `height` cells.
    void draw(const char* commands, int x, int y, int width, int height) {
        draw::Target target;
        target.x = x, target.y = y;
        target.clip = {x, y, x + width, y + height};
        draw::do_draw(target, test::keep(*lexer::load(commands)));
    }
    // The characters of the rows from `top`, `count` of them.
    std::vector<std::u32string> rows(int top, int count) {
        std::vector<std::u32string> picture;
        for (int y = top; y < top + count; y++) {
            std::u32string row;
            for (int x = 0; x < gui::screen().width; x++) row += char32_t(gui::cell_at(x, y)->ch);
            picture.push_back(row);
        }
        return picture;
    }
    // The cells that are no longer a plain ".", as a box: left, top, right, bottom (included).
    std::vector<int> changed_box() {
        std::vector<int> box = {100, 100, -1, -1};
        for (int y = 0; y < gui::screen().height; y++)
            for (int x = 0; x < gui::screen().width; x++) {
                const ScreenCell& cell = *gui::cell_at(x, y);
                if (cell.ch == '.' && cell.bg == 7) continue;
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
            }
        return box;
    }
};

// A box with the pen on is framed: its corners are included, 5 x 3 cells for 0x0 4x2; with the fill
// on every cell of it is on the fill colour, and the inner ones are blanks.
TEST_F(DrawRaster, BoxesAreFramedAndFilled) {
    draw("fill-pen 255.0.0 box 0x0 4x2", 2, 1, 10, 5);
    EXPECT_EQ(rows(0, 5), (std::vector<std::u32string>{
                              U"........................",
                              U"..┌───┐.................",
                              U"..│   │.................",
                              U"..└───┘.................",
                              U"........................",
                          }));
    for (int y = 1; y <= 3; y++)
        for (int x = 2; x <= 6; x++) EXPECT_EQ(gui::cell_at(x, y)->bg, kRed) << x << "x" << y;

    // the pen colours the frame; corners come in any order
    SetUp();
    draw("pen 0.0.255 box 4x2 0x0", 0, 0, 10, 5);
    EXPECT_EQ(gui::cell_at(0, 0)->ch, U'┌');
    EXPECT_EQ(gui::cell_at(0, 0)->fg, kBlue);
    EXPECT_EQ(gui::cell_at(2, 1)->ch, U'.');  // no fill: the inside stays
    EXPECT_EQ(gui::cell_at(2, 1)->bg, 7u);
}

TEST_F(DrawRaster, WithoutPenNoFrame) {
    draw("pen off fill-pen 0.0.255 box 0x0 4x2", 0, 0, 10, 5);
    EXPECT_EQ(rows(0, 1)[0], U"     ...................");
    SetUp();
    draw("pen off box 0x0 4x2", 0, 0, 10, 5);
    EXPECT_EQ(changed_box(), (std::vector<int>{100, 100, -1, -1}));
}

// A box that the face cuts shows only its own edges, and none where the face cut it.
TEST_F(DrawRaster, BoxesAreClippedToTheFace) {
    draw("box -3x-1 20x1", 2, 2, 6, 3);
    EXPECT_EQ(rows(2, 2), (std::vector<std::u32string>{
                              U"........................",
                              U"..──────................",
                          }));
    EXPECT_EQ(changed_box(), (std::vector<int>{2, 3, 7, 3}));
}

// circle 10x5 3 is an ellipse twice as wide as high: 13 columns and 7 rows, inside its face.
TEST_F(DrawRaster, CirclesAndEllipses) {
    draw("circle 10x5 3", 1, 0, 23, 12);
    EXPECT_EQ(changed_box(), (std::vector<int>{5, 2, 17, 8}));
    EXPECT_EQ(rows(2, 7), (std::vector<std::u32string>{
                              U"........███████.........",
                              U"......██.......██.......",
                              U".....█...........█......",
                              U".....█...........█......",
                              U".....█...........█......",
                              U"......██.......██.......",
                              U"........███████.........",
                          }));

    // filled: the inside is blanks on the fill colour; without the pen the outline's cells stay
    SetUp();
    draw("pen off fill-pen 255.0.0 ellipse 0x0 8x4", 0, 0, 24, 12);
    EXPECT_EQ(rows(0, 5), (std::vector<std::u32string>{
                              U"...   ..................",
                              U"..     .................",
                              U".       ................",
                              U"..     .................",
                              U"...   ..................",
                          }));
    EXPECT_EQ(gui::cell_at(4, 2)->bg, kRed);

    // a circle larger than its face fills the face and writes nothing outside
    SetUp();
    draw("fill-pen 255.0.0 circle 5x5 2000000000", 3, 3, 4, 2);
    EXPECT_EQ(changed_box(), (std::vector<int>{3, 3, 6, 4}));
}

// A line stops at its face's edge; cells left of or above the face are never written, however far
// the line comes from.
TEST_F(DrawRaster, LinesStayInTheirFace) {
    draw("line 2x1 50x1", 3, 2, 10, 4);
    EXPECT_EQ(rows(3, 1)[0], U".....████████...........");
    SetUp();
    draw("line -2000000000x-2000000000 2000000000x2000000000 line -5x3 0x3 4x0", 4, 4, 5, 5);
    EXPECT_EQ(changed_box(), (std::vector<int>{4, 4, 8, 8}));
    EXPECT_EQ(rows(4, 5), (std::vector<std::u32string>{
                              U"....█...█...............",
                              U".....███................",
                              U".....██.................",
                              U"....█..█................",
                              U"........█...............",
                          }));
}

TEST_F(DrawRaster, Triangles) {
    draw("fill-pen 0.0.255 triangle 0x4 4x0 8x4", 0, 0, 24, 12);
    EXPECT_EQ(rows(0, 5), (std::vector<std::u32string>{
                              U"....█...................",
                              U"...█ █..................",
                              U"..█   █.................",
                              U".█     █................",
                              U"█████████...............",
                          }));
    EXPECT_EQ(gui::cell_at(4, 2)->bg, kBlue);
    EXPECT_EQ(gui::cell_at(4, 4)->bg, 7u);  // the bottom row is the outline's only
}

// Text takes the pen's colour until a font with a colour sets its own; the cells keep the face's
// background and get the face's text attributes.
TEST_F(DrawRaster, Text) {
    draw::Target target;
    target.x = 2, target.y = 1;
    target.clip = {2, 1, 8, 3};
    target.text_flags = gui::kBold;
    target.background = 9;
    draw::do_draw(target, test::keep(*lexer::load("pen 255.0.0 text 1x0 {hi} pen off text 0x1 {abcdefghij}")));
    EXPECT_EQ(rows(1, 2), (std::vector<std::u32string>{
                              U"...hi...................",
                              U"..abcdef................",
                          }));
    const ScreenCell& h = *gui::cell_at(3, 1);
    EXPECT_EQ(h.fg, kRed);
    EXPECT_EQ(h.bg, 9u);
    EXPECT_EQ(h.attrs, uint32_t(gui::kBold));
    EXPECT_EQ(gui::cell_at(2, 2)->fg, 0u);
}

// A face given to text shows its text placed in the face's size by its paragraph settings, and nothing
// of it outside that size.
TEST_F(DrawRaster, TextOfAFace) {
    gui::make_words();
    auto face = [](const char* fields, const char* para) {
        Cell made = test::keep(*object::construct(test::keep(*lexer::load(fields)), nullptr, true));
        gui::set_facet_quiet(made, gui::GuiWord::para,
                             test::keep(*object::construct(test::keep(*lexer::load(para)), nullptr, true)));
        return made;
    };
    Cell commands = test::keep(*lexer::load("text 1x1 a text 0x3 b"));
    Cell centred = face("text: {ab} size: 6x3 para: none", "align: right v-align: middle");
    Cell cut = face("text: {abcdefgh} size: 3x1 para: none", "align: left");
    *block::rs_abs_at(commands, 2) = centred;
    *block::rs_abs_at(commands, 5) = cut;
    draw::Target target;
    target.x = 2, target.y = 1;
    target.clip = {2, 1, 12, 6};
    draw::do_draw(target, commands);
    EXPECT_EQ(rows(1, 5), (std::vector<std::u32string>{
                              U"........................",
                              U"........................",
                              U".......ab...............",
                              U"..abc...................",
                              U"........................",
                          }));
}

// The block of a pattern pen is checked, not drawn; a target without a clip rectangle (an image) is
// checked only.
TEST_F(DrawRaster, NothingDrawnWhereOnlyChecked) {
    draw("pen pattern 2x2 [box 0x0 1x1] box 0x0 1x1", 0, 0, 0, 0);
    draw("fill-pen pattern 2x2 [box 0x0 1x1]", 0, 0, 10, 5);
    EXPECT_EQ(changed_box(), (std::vector<int>{100, 100, -1, -1}));
}

}  // namespace
}  // namespace oka
