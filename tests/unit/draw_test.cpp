// The draw dialect's checks: which blocks it takes, where it refuses one, and what the pens become.
#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/object.h"
#include "evaluator/lexer.h"
#include "test_support.h"
#include "view/tui/draw.h"

namespace oka {
namespace {

Cell load_block(const char* text) { return test::keep(*lexer::load(text)); }

// The error a draw block raises on a target that only checks, and its argument molded.
struct Outcome {
    Err id;
    std::string at;
};

Outcome check(const Cell& commands) {
    draw::Target target;
    Cell error;
    if (!error::trap([&] { draw::do_draw(target, commands); }, &error)) return {Err(0), ""};
    Err id = Err(integer::get(*error::field(error, error::kCode)));
    return {id, test::mold(*error::field(error, error::kArg1))};
}

TEST(Draw, TakesEveryCommandWithItsArguments) {
    const char* blocks[] = {
        "pen 255.0.0 pen off fill-pen 1.2.3.4 fill-pen off",
        "pen linear 255.0.0 0.0.255 fill-pen radial 0x0 0 10 1.2.3 0.5 4.5.6 1.0 reflect",
        "fill-pen diamond 1x1 2x2 1.2.3 4.5.6 pad pen pattern 4x4 [box 0x0 1x1] tile",
        "pen pattern 4x4 1x1 2x2 [] flip-xy line-width 2 line-width 1.5 line-join round line-cap square",
        "line-pattern line-pattern 1 2 3 box 0x0 4x2 box (1.5, 2.5) 3x3 2",
        "triangle 0x0 4x0 2x2 polygon 0x0 4x0 2x2 1x1 0x3 circle 10x5 3 circle 1x1 2 1.5 ellipse 0x0 5x3",
        "anti-alias off anti-alias on text 1x1 \"hi\" arc 0x0 5x5 0 90 arc 0x0 5x5 0 90 closed",
        "curve 0x0 1x1 2x2 curve 0x0 1x1 2x2 3x3 spline 0x0 1x1 spline 0x0 1x1 2x2 closed",
        "shadow off shadow 2x2 shadow 2x2 3 4 0.0.0 inset clip 0x0 5x5 clip 0x0 5x5 intersect [box 0x0 1x1]",
        "clip [move 0x0 line 1x1 2x2] [pen off] shape [move 0x0 'line 1x1 hline 3 'vline 2 arc 1x1 2 2 0 sweep large]",
        "shape [curve 1x1 2x2 3x3 curv 1x1 qcurve 1x1 2x2 qcurv 1x1 close [move 1x1]]",
        "rotate 45 rotate 'pen 30 5x5 [box 0x0 1x1] scale 2 3 scale 'fill-pen 1 1 1x1 [] translate 2x2 [line 0x0 1x1]",
        "skew 10 skew 10 20 [] transform 0 1 1 0x0 transform 'pen 1x1 45 2 2 3x3 [] push [pen off]",
        "matrix [1 0 0 1 0 0] matrix 'pen [1.0 0 0 1 5 5] reset-matrix invert-matrix 'fill-pen line 0x0 1x1 2x2 3x3",
        "[pen 1.2.3 [box 0x0 1x1]] PEN 4.5.6 Box 0x0 1x1",
    };
    for (const char* text : blocks) EXPECT_EQ(check(load_block(text)).id, Err(0)) << text;
}

// Each refusal names the rest of the block from the value refused, or an empty block when an argument
// is missing at the end.
TEST(Draw, RefusesAMissingOrWrongArgumentWhereItIs) {
    struct Case {
        const char* text;
        const char* at;
    } cases[] = {
        {"polygon 0x0 1x1", "[]"},
        {"box 0x0 \"a\"", "[\"a\"]"},
        {"pen 255.0.0 circle 1x1", "[]"},
        {"circle 1x1 3x3", "[3x3]"},
        {"pen", "[]"},
        {"pen 1", "[1]"},
        {"pen linear pad", "[pad]"},
        {"fill-pen pattern 4x4 [nothing]", "[nothing]"},
        {"line 0x0", "[]"},
        {"line-width \"2\"", "[\"2\"]"},
        {"line-join 2", "[2]"},
        {"off", "[off]"},
        {"closed 1", "[closed 1]"},
        {"1x1 box", "[1x1 box]"},
        {"box 0x0 1x1 nothing 1", "[nothing 1]"},
        {"[box 0x0 1x1 [triangle 0x0 1x1]]", "[]"},
        {"text 1x1 2", "[2]"},
        {"font 1.2.3", "[1.2.3]"},
        {"image 0x0", "[0x0]"},
        {"matrix [1 0 0 1 0]", "[]"},
        {"matrix [1 0 0 1 0 0 0]", "[0]"},
        {"rotate 'box 45", "['box 45]"},
        {"shape [move 0x0 hline]", "[]"},
        {"shape [jump 1x1]", "[jump 1x1]"},
        {"push 1", "[1]"},
        {"box (1.#NaN, 0) 1x1", "[(1.#NaN, 0) 1x1]"},
    };
    for (const Case& c : cases) {
        Outcome outcome = check(load_block(c.text));
        EXPECT_EQ(outcome.id, Err::script_draw_invalid) << c.text;
        EXPECT_EQ(outcome.at, c.at) << c.text;
    }
}

// A block met again inside itself, directly or through another block, or in a shape, is refused
// where it is met; the same block twice side by side is no recursion.
TEST(Draw, RefusesABlockThatHoldsItself) {
    Cell looped = load_block("box 0x0 1x1");
    block::rs_append(looped, looped);
    EXPECT_EQ(check(looped).id, Err::script_draw_infinite);

    Cell outer = load_block("pen off");
    Cell inner = load_block("box 0x0 1x1");
    block::rs_append(outer, inner);
    block::rs_append(inner, outer);
    EXPECT_EQ(check(outer).id, Err::script_draw_infinite);

    Cell shape = load_block("move 0x0");
    block::rs_append(shape, shape);
    Cell commands = load_block("shape");
    block::rs_append(commands, shape);
    EXPECT_EQ(check(commands).id, Err::script_draw_infinite);

    Cell twice = load_block("pen off");
    block::rs_append(twice, inner = load_block("box 0x0 1x1"));
    block::rs_append(twice, inner);
    EXPECT_EQ(check(twice).id, Err(0));
}

// Colours become the terminal palette's. The pen colours text until a font with a colour takes it
// over; push and the transforms give back the pens they found.
TEST(Draw, PensAndFonts) {
    draw::Target target;
    draw::do_draw(target, load_block("fill-pen 1.2.3 pen 4.5.6 push [pen off fill-pen off]"));
    EXPECT_TRUE(target.pens.pen_on);
    EXPECT_TRUE(target.pens.fill_on);
    EXPECT_EQ(target.pens.fill, gui::rgb_to_xterm256(0x030201));
    EXPECT_EQ(target.pens.text_colour, gui::rgb_to_xterm256(0x060504));

    Cell commands = load_block("font");
    block::rs_append(commands, test::keep(*object::construct(load_block("color: 7.8.9"), nullptr, true)));
    block::rs_append_block(commands, load_block("pen 1.1.1"));
    draw::do_draw(target, commands);
    EXPECT_TRUE(target.pens.font_colour);
    EXPECT_EQ(target.pens.text_colour, gui::rgb_to_xterm256(0x090807));
    EXPECT_EQ(target.pens.pen, gui::rgb_to_xterm256(0x010101));
}

TEST(Draw, NothingToDrawIsNoError) {
    draw::Target target;
    EXPECT_NO_THROW(draw::do_draw(target, load_block("")));
    EXPECT_NO_THROW(draw::do_draw(target, test::int_cell(1)));
}

}  // namespace
}  // namespace oka
