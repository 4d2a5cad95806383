#include "view/tui/draw.h"

#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <unordered_map>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "view/tui/draw_geometry.h"
#include "view/tui/draw_internal.h"

namespace oka::draw {

// ---- keywords ----

namespace {

constexpr const char* kKeywordTexts[] = {
#define OKA_DRAW_WORD(Name, text) text,
#include "view/tui/draw_words.def"
};
static_assert(std::size(kKeywordTexts) == 68, "the draw and rich-text dialects have 68 keywords");

// Canonical symbol id to keyword.
std::unordered_map<uint32_t, Keyword> keywords;

}  // namespace

void learn_keywords() {
    if (!keywords.empty()) return;
    for (size_t i = 0; i < std::size(kKeywordTexts); i++)
        keywords.emplace(symbol::resolve(symbol::make(kKeywordTexts[i])), Keyword(i + 1));
}

Keyword keyword_of(const Cell& value, Type type) {
    if (!value.is(type)) return Keyword::none;
    auto found = keywords.find(symbol::resolve(value.symbol()));
    return found == keywords.end() ? Keyword::none : found->second;
}

uint32_t colour_of(const Cell& tuple) {
    Bytes12 bytes = tuple.tuple_bytes();
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

Cell value_of_word(const Cell& word) {
    const Cell& context = *_context::context_cell(word.context());
    if (word.position() < 0 || !context.values()) return Cell::of(Type::Unset);
    return *_context::value_at(context, word.position());
}

// ---- errors ----

void throw_error(const Cell& block, const Cell& value) {
    bool infinite = value.is(Type::Block) && cycles::find_q(cycles::node_of(value));
    fire(infinite ? Err::script_draw_infinite : Err::script_draw_invalid, &block);
}

namespace {

bool point_q(const Cell& value) { return value.is(Type::Pair) || value.is(Type::Point2D); }
bool number_q(const Cell& value) { return value.is(Type::Integer) || value.is(Type::Float); }

// A length in cells: truncated, 0 for less than 1 (and for NaN), and at most as far as a shape may reach.
int64_t cells_of(double length) { return length >= 1.0 ? int64_t(std::min(length, double(geometry::kFar))) : 0; }

// A coordinate of a point2D!, truncated, and held inside the 32-bit range.
int32_t coordinate(float value) {
    if (value <= float(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    if (value >= float(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    return int32_t(value);
}

// ---- the walk ----

// Reads one block, command by command. Arguments are checked in order; a missing one, or one of the
// wrong kind, is draw-invalid at its position.
class Walker {
public:
    // `draws` is false where the commands are checked only: for a target that draws nothing, and in
    // the block of a pattern pen.
    Walker(Target& target, const Cell& block, bool draws)
        : target_(target), block_(block), at_(block.head()), draws_(draws && !target.clip.empty()) {}

    void commands() { walk(&Walker::command, Type::Word); }

private:
    Target& target_;
    Cell block_;
    uint32_t at_;  // absolute index of the next value
    bool draws_;

    bool at_end() const { return at_ >= series::rs_buffer_length_q(block_); }
    Cell peek() const {
        if (at_end()) return Cell::of(Type::Void);
        return *block::rs_abs_at(block_, at_);
    }
    Cell take() { return *block::rs_abs_at(block_, at_++); }
    [[noreturn]] void invalid() const {
        Cell rest = block_;
        rest.set_head(at_);
        rest.clear_new_line();
        throw_error(rest, peek());
    }

    // Reads the block's values: each word (or, with `also` a lit-word, one of those) is a command that
    // `step` reads the arguments of; a block is read the same way.
    using Step = void (Walker::*)(Keyword);
    void walk(Step step, Type also) {
        cycles::Scope scope(block_);
        while (!at_end()) {
            Cell value = peek();
            if (value.is(Type::Block)) {
                enter(value).walk(step, also);
                continue;
            }
            Keyword keyword = keyword_of(value, value.is(also) ? also : Type::Word);
            if (keyword == Keyword::none) invalid();
            at_++;
            (this->*step)(keyword);
        }
    }
    // A keyword that is no command where it stands.
    [[noreturn]] void refuse_keyword() {
        at_--;
        invalid();
    }

    // A nested block at the position, checked against the blocks being read; the position moves past it.
    Walker enter(const Cell& block, bool draws = true) {
        if (cycles::find_q(cycles::node_of(block))) invalid();
        at_++;
        return Walker(target_, block, draws && draws_);
    }
    // A block drawn with the pens saved around it.
    void saved_block() {
        Pens saved = target_.pens;
        enter(peek()).commands();
        target_.pens = saved;
    }
    void opt_saved_block() {
        if (block_q()) saved_block();
    }

    // ---- arguments ----

    bool keyword_q(Keyword keyword, Type type = Type::Word) const { return keyword_of(peek(), type) == keyword; }
    bool opt_keyword(Keyword keyword, Type type = Type::Word) {
        if (!keyword_q(keyword, type)) return false;
        at_++;
        return true;
    }
    // One of the keywords of a list, or none.
    template <size_t n>
    bool opt_keyword_of(const std::array<Keyword, n>& list) {
        for (Keyword keyword : list)
            if (opt_keyword(keyword)) return true;
        return false;
    }
    bool block_q() const { return peek().is(Type::Block); }
    void word() {
        if (!peek().is(Type::Word)) invalid();
        at_++;
    }

    bool point_next_q() const { return point_q(peek()); }
    Point point() {
        Cell value = peek();
        if (value.is(Type::Pair)) {
            at_++;
            return {pair::x_of(value), pair::y_of(value)};
        }
        if (!value.is(Type::Point2D) || std::isnan(point::get(value, 0)) || std::isnan(point::get(value, 1))) invalid();
        at_++;
        return {coordinate(point::get(value, 0)), coordinate(point::get(value, 1))};
    }
    void points(int count) {
        while (count-- > 0) point();
    }
    // Points as long as they come.
    void more_points() {
        while (point_next_q()) point();
    }
    void opt_point() {
        if (point_next_q()) point();
    }

    bool number_next_q() const { return number_q(peek()); }
    double number() {
        Cell value = peek();
        if (!number_q(value)) invalid();
        at_++;
        return value.is(Type::Integer) ? double(integer::get(value)) : float_::get(value);
    }
    void numbers(int count) {
        while (count-- > 0) number();
    }
    void opt_number() {
        if (number_next_q()) number();
    }

    // A value of `type`, or a word holding one.
    bool typed_next_q(Type type) const {
        Cell value = peek();
        return value.is(type) || (value.is(Type::Word) && value_of_word(value).is(type));
    }
    Cell typed(Type type) {
        if (!typed_next_q(type)) invalid();
        Cell value = take();
        return value.is(type) ? value : value_of_word(value);
    }
    // A colour as the face colour word: R, G and B from the low bytes, the alpha byte on top.
    uint32_t colour() { return colour_of(typed(Type::Tuple)); }
    bool colour_next_q() const { return typed_next_q(Type::Tuple); }
    void opt_colour() {
        if (colour_next_q()) colour();
    }

    // ---- commands ----

    void command(Keyword keyword) {
        switch (keyword) {
        case Keyword::pen: pen(false); break;
        case Keyword::fill_pen: pen(true); break;
        case Keyword::line_width: number(); break;
        case Keyword::line_join:
        case Keyword::line_cap:
        case Keyword::anti_alias: word(); break;
        case Keyword::line_pattern:
            while (peek().is(Type::Integer)) at_++;
            break;
        case Keyword::box: box(); break;
        case Keyword::triangle: triangle(); break;
        case Keyword::polygon:
            points(3);
            more_points();
            break;
        case Keyword::circle: circle(); break;
        case Keyword::ellipse: ellipse(); break;
        case Keyword::font: font(); break;
        case Keyword::text: text(); break;
        case Keyword::arc:
            points(2);
            numbers(2);
            opt_keyword(Keyword::closed);
            break;
        case Keyword::curve:
            points(3);
            opt_point();
            break;
        case Keyword::spline:
            points(2);
            more_points();
            opt_keyword(Keyword::closed);
            break;
        case Keyword::image: image(); break;
        case Keyword::shadow: shadow(); break;
        case Keyword::clip: clip(); break;
        case Keyword::shape:
            if (!block_q()) invalid();
            enter(peek()).shape_commands();
            break;
        case Keyword::rotate:
            transform_pen();
            number();
            opt_point();
            opt_saved_block();
            break;
        case Keyword::scale:
            transform_pen();
            numbers(2);
            opt_point();
            opt_saved_block();
            break;
        case Keyword::translate:
            transform_pen();
            point();
            opt_saved_block();
            break;
        case Keyword::skew:
            transform_pen();
            number();
            opt_number();
            opt_saved_block();
            break;
        case Keyword::transform:
            transform_pen();
            opt_point();
            numbers(3);
            point();
            opt_saved_block();
            break;
        case Keyword::push:
            if (!block_q()) invalid();
            saved_block();
            break;
        case Keyword::matrix: matrix(); break;
        case Keyword::reset_matrix:
        case Keyword::invert_matrix: transform_pen(); break;
        case Keyword::line: line(); break;
        default: refuse_keyword();
        }
    }

    // pen and fill-pen: a colour, off, a gradient, a pattern or a bitmap.
    void pen(bool fill) {
        Pens& pens = target_.pens;
        if (opt_keyword(Keyword::off)) {
            (fill ? pens.fill_on : pens.pen_on) = false;
        } else if (opt_keyword_of(std::array{Keyword::linear, Keyword::radial, Keyword::diamond})) {
            gradient();
        } else if (opt_keyword(Keyword::pattern)) {
            point();
            if (point_next_q()) points(2);
            if (!block_q()) invalid();
            enter(peek(), false).commands();
            tile_mode();
        } else if (opt_keyword(Keyword::bitmap)) {
            typed(Type::Image);
            if (point_next_q()) points(2);
            tile_mode();
        } else {
            uint32_t value = gui::rgb_to_xterm256(colour());
            if (fill) {
                pens.fill = value;
                pens.fill_on = true;
            } else {
                pens.pen = value;
                pens.pen_on = true;
                if (!pens.font_colour) pens.text_colour = value;
            }
        }
    }
    // Points and numbers of its geometry, then colour stops (a colour and an optional offset), then how
    // it spreads past its ends.
    void gradient() {
        while (point_next_q() || number_next_q()) at_++;
        if (!colour_next_q()) invalid();
        while (colour_next_q()) {
            colour();
            opt_number();
        }
        opt_keyword_of(std::array{Keyword::pad, Keyword::repeat, Keyword::reflect});
    }
    void tile_mode() {
        opt_keyword_of(std::array{Keyword::tile, Keyword::flip_x, Keyword::flip_y, Keyword::flip_xy, Keyword::clamp});
    }

    void font() {
        Cell font = typed(Type::Object);
        Cell colour = object::field_of(font, "color");
        target_.pens.font_colour = colour.is(Type::Tuple);
        if (target_.pens.font_colour) target_.pens.text_colour = gui::rgb_to_xterm256(colour_of(colour));
    }

    // ---- shapes on the screen ----

    void box() {
        Point corner1 = point(), corner2 = point();
        opt_number();  // the corners' radius: cells have no round corners
        if (draws_) raster::box(target_, corner1, corner2);
    }
    void triangle() {
        Point a = point(), b = point(), c = point();
        if (draws_) raster::triangle(target_, a, b, c);
    }
    // circle centre radius [radius down]: the second radius is not used
    void circle() {
        Point centre = point();
        int64_t radius = cells_of(number());
        opt_number();
        if (draws_ && radius > 0) raster::ellipse(target_, centre, 2 * radius, radius);
    }
    // ellipse top-left size
    void ellipse() {
        Point corner = point(), size = point();
        if (!draws_ || size.x < 1 || size.y < 1) return;
        auto centre = [](int32_t from, int32_t length) { return int32_t(geometry::near(int64_t(from) + length / 2)); };
        raster::ellipse(target_, {centre(corner.x, size.x), centre(corner.y, size.y)}, size.x / 2, size.y / 2);
    }
    // Connected segments through two points or more.
    void line() {
        Point from = point();
        do {
            Point to = point();
            if (draws_) raster::line(target_, from, to);
            from = to;
        } while (point_next_q());
    }

    void text() {
        Point at = point();
        Cell value = peek();
        if (!value.is(Type::String) && !value.is(Type::Object)) invalid();
        at_++;
        if (!draws_) return;
        if (value.is(Type::String))
            raster::text(target_, at, value);
        else
            raster::face_text(target_, at, value);
    }

    // image [top-left [bottom-right]] [key colour] [border | crop offset size]
    void image() {
        typed(Type::Image);
        if (point_next_q()) {
            point();
            opt_point();
        }
        opt_colour();
        if (opt_keyword(Keyword::border)) return;
        if (opt_keyword(Keyword::crop)) points(2);
    }

    // shadow offset-or-off [blur [spread]] [colour] [inset]
    void shadow() {
        if (opt_keyword(Keyword::off)) return;
        point();
        if (number_next_q()) {
            number();
            opt_number();
        }
        opt_colour();
        opt_keyword(Keyword::inset);
    }

    // clip: a rectangle or a shape block, how it combines with the clip in place, and a block drawn
    // inside it.
    void clip() {
        if (block_q()) {
            enter(peek()).shape_commands();
        } else {
            points(2);
        }
        opt_keyword_of(
            std::array{Keyword::replace, Keyword::intersect, Keyword::union_, Keyword::xor_, Keyword::exclude});
        opt_saved_block();
    }

    // The transforms apply to the pen or the fill pen when a lit-word names one.
    void transform_pen() {
        if (!opt_keyword(Keyword::pen, Type::LitWord)) opt_keyword(Keyword::fill_pen, Type::LitWord);
    }
    // matrix: the six numbers of an affine transform
    void matrix() {
        transform_pen();
        if (!block_q()) invalid();
        Walker inner = enter(peek());
        inner.numbers(6);
        if (!inner.at_end()) inner.invalid();
    }

    // ---- shapes ----

    // A shape's commands: each word may be written as a lit-word, which takes its coordinates as
    // relative to the pen's position.
    void shape_commands() { walk(&Walker::shape_command, Type::LitWord); }

    void shape_command(Keyword keyword) {
        switch (keyword) {
        case Keyword::move: point(); break;
        case Keyword::line:
        case Keyword::curve:
        case Keyword::curv:
        case Keyword::qcurve:
        case Keyword::qcurv:
            point();
            more_points();
            break;
        case Keyword::hline:
        case Keyword::vline: number(); break;
        case Keyword::arc:
            point();
            numbers(3);
            opt_keyword(Keyword::sweep);
            opt_keyword(Keyword::large);
            break;
        case Keyword::close: break;
        default: refuse_keyword();
        }
    }
};

}  // namespace

void parse_draw(Target& target, const Cell& commands) {
    learn_keywords();
    if (cycles::find_q(cycles::node_of(commands))) throw_error(commands, commands);
    Walker(target, commands, true).commands();
}

void do_draw(Target& target, const Cell& commands) {
    if (!commands.is(Type::Block) || series::rs_tail_q(commands)) return;
    target.pens = Pens{};
    parse_draw(target, commands);
}

}  // namespace oka::draw
