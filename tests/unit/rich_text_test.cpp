// Rich text on cells: a face's text as styled cells, one per character, and the style records applied
// to them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "test_support.h"
#include "view/tui/rich_text.h"
#include "view/tui/words.h"

namespace oka {
namespace {

using gui::ScreenCell;

constexpr uint32_t kRed = 0x02000000 | 196;
constexpr uint32_t kBlue = 0x02000000 | 21;

Cell load_block(const char* text) { return test::keep(*lexer::load(text)); }

// A rich-text face of the fields given, written as set-words and values.
Cell face_of(const char* fields) {
    gui::make_words();
    return test::keep(*object::construct(load_block(fields), nullptr, true));
}

std::vector<ScreenCell> cells_of(const char* text, const char* styles) {
    std::vector<ScreenCell> cells(std::string(text).size(), ScreenCell{'x', 0, 0, 0});
    draw::parse_rich_text(cells, load_block(styles));
    return cells;
}

// The first five cells bold with foreground 196: [1x5 bold 255.0.0]; a range past the end of the text
// is cut there; styles before any range change nothing.
TEST(RichText, StylesApplyToTheirRange) {
    std::vector<ScreenCell> cells = cells_of("hello world", "bold 0.0.255 1x5 bold 255.0.0 9x20 italic");
    for (size_t i = 0; i < cells.size(); i++) {
        bool first = i < 5, last = i >= 8;
        EXPECT_EQ(cells[i].attrs, first ? gui::kBold : last ? gui::kItalic : 0u) << i;
        EXPECT_EQ(cells[i].fg, first ? kRed : 0u) << i;
    }

    cells =
        cells_of("abcd", "0x2 underline 'wavy -5x3 strike 0.0.255 2x2 border 1.2.3 backdrop 0.0.255 \"Mono\" 12 1.5");
    std::vector<uint32_t> attrs, bgs;
    for (const ScreenCell& cell : cells) attrs.push_back(cell.attrs), bgs.push_back(cell.bg);
    EXPECT_EQ(attrs, (std::vector<uint32_t>{gui::kUnderline, 0, 0, 0}));  // the strike's range is empty
    EXPECT_EQ(bgs, (std::vector<uint32_t>{0, kBlue, kBlue, 0}));
    EXPECT_EQ(cells[0].fg, 0u);  // a colour after underline is the line's, not the text's
}

TEST(RichText, BackdropTakesAColourOrAWordHoldingOne) {
    Cell styles = load_block("1x1 backdrop sky");
    Cell sky = *block::rs_abs_at(styles, 2);
    Cell blue = *block::rs_abs_at(load_block("0.0.255"), 0);
    word::set_value(&sky, blue);
    std::vector<ScreenCell> cells(2);
    draw::parse_rich_text(cells, styles);
    EXPECT_EQ(cells[0].bg, kBlue);
}

TEST(RichText, AnythingElseIsInvalidWhereItIs) {
    struct Case {
        const char* styles;
        const char* at;
    } cases[] = {
        {"1x2 bold heavy", "[heavy]"},
        {"1x2 backdrop 5 bold", "[5 bold]"},
        {"1x2 backdrop", "[]"},
        {"1x2 [bold]", "[[bold]]"},
        {"off", "[off]"},
    };
    for (const Case& c : cases) {
        std::vector<ScreenCell> cells(4);
        Cell error;
        ASSERT_TRUE(error::trap([&] { draw::parse_rich_text(cells, load_block(c.styles)); }, &error)) << c.styles;
        EXPECT_EQ(integer::get(*error::field(error, error::kCode)), int32_t(Err::script_draw_invalid)) << c.styles;
        EXPECT_EQ(test::mold(*error::field(error, error::kArg1)), c.at) << c.styles;
    }
}

// One cell per character, a character beyond U+FFFF too, so that ranges count characters; every cell
// on the face's colour unless it is fully transparent.
TEST(RichText, CellsOfAFace) {
    std::vector<ScreenCell> cells = draw::rich_text_cells(face_of("text: {😀ab} data: [2x1 bold] color: 255.0.0"));
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].ch, 0x1F600u);
    EXPECT_EQ(cells[1].ch, uint32_t('a'));
    EXPECT_EQ(cells[1].attrs, uint32_t(gui::kBold));
    EXPECT_EQ(cells[0].attrs, 0u);
    for (const ScreenCell& cell : cells) EXPECT_EQ(cell.bg, kRed);

    EXPECT_EQ(draw::rich_text_cells(face_of("text: {ab} data: [] color: 1.2.3.255"))[0].bg, 0u);
    EXPECT_TRUE(draw::rich_text_cells(face_of("text: {ab} data: none")).empty());
    EXPECT_TRUE(draw::rich_text_cells(face_of("text: 5 data: []")).empty());
    EXPECT_TRUE(draw::rich_text_cells(face_of("text: {} data: [1x1 bold]")).empty());
}

}  // namespace
}  // namespace oka
