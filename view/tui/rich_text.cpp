#include "view/tui/rich_text.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/tuple.h"
#include "view/tui/draw.h"
#include "view/tui/draw_internal.h"
#include "view/tui/text.h"
#include "view/tui/words.h"

namespace oka::draw {

namespace {

// Reads a style block from its head, keeping the range its styles apply to.
class StyleReader {
public:
    StyleReader(std::vector<gui::ScreenCell>& cells, const Cell& styles)
        : cells_(cells), styles_(styles), at_(styles.head()) {}

    void styles() {
        while (at_ < series::rs_buffer_length_q(styles_)) {
            Cell value = take();
            if (value.is(Type::Pair)) {
                range(pair::x_of(value), pair::y_of(value));
            } else if (value.is(Type::Tuple)) {
                for_range([&](gui::ScreenCell& cell) { cell.fg = gui::rgb_to_xterm256(colour_of(value)); });
            } else if (value.is(Type::Word)) {
                style(value);
            } else if (!value.is(Type::String) && !value.is(Type::Integer) && !value.is(Type::Float)) {
                refuse(at_ - 1);  // font names and sizes change nothing here; anything else is no style
            }
        }
    }

private:
    std::vector<gui::ScreenCell>& cells_;
    Cell styles_;
    uint32_t at_;
    size_t start_ = 0, end_ = 0;  // the cells of the range: from start_ up to end_, left out

    Cell peek() const {
        if (at_ >= series::rs_buffer_length_q(styles_)) return Cell::of(Type::Void);
        return *block::rs_abs_at(styles_, at_);
    }
    Cell take() {
        Cell value = peek();
        at_++;
        return value;
    }
    [[noreturn]] void refuse(uint32_t index) const {
        Cell rest = styles_;
        rest.set_head(index);
        rest.clear_new_line();
        throw_error(rest, index == at_ ? peek() : *block::rs_abs_at(styles_, index));
    }

    // From the 1-based start, `length` characters, cut to the text.
    void range(int32_t start, int32_t length) {
        int64_t size = int64_t(cells_.size());
        int64_t from = std::clamp(int64_t(start) - 1, int64_t(0), size);
        start_ = size_t(from);
        end_ = size_t(std::clamp(int64_t(start) - 1 + length, from, size));
    }
    template <class F>
    void for_range(F&& change) {
        for (size_t i = start_; i < end_; i++) change(cells_[i]);
    }
    void set_attribute(uint32_t attribute) {
        for_range([&](gui::ScreenCell& cell) { cell.attrs |= attribute; });
    }

    void style(const Cell& word) {
        switch (keyword_of(word)) {
        case Keyword::bold: set_attribute(gui::kBold); break;
        case Keyword::italic: set_attribute(gui::kItalic); break;
        case Keyword::underline:
            set_attribute(gui::kUnderline);
            line_options();
            break;
        case Keyword::strike:
            set_attribute(gui::kStrike);
            line_options();
            break;
        case Keyword::border: line_options(); break;
        case Keyword::backdrop: backdrop(); break;
        default: refuse(at_ - 1);
        }
    }
    // underline, strike and border may name their colour and style: cells have no room for either.
    void line_options() {
        if (peek().is(Type::Tuple)) at_++;
        if (peek().is(Type::LitWord)) at_++;
    }
    void backdrop() {
        Cell colour = peek();
        if (colour.is(Type::Word)) colour = value_of_word(colour);
        if (!colour.is(Type::Tuple)) refuse(at_);
        at_++;
        for_range([&](gui::ScreenCell& cell) { cell.bg = gui::rgb_to_xterm256(colour_of(colour)); });
    }
};

// A face colour shows when it is a tuple of three bytes, or of four whose alpha is not 255.
uint32_t background_of(const Cell& colour) {
    if (!colour.is(Type::Tuple) || tuple::length_of(colour) > 4) return 0;
    return gui::rgb_to_xterm256(colour_of(colour));
}

}  // namespace

void parse_rich_text(std::vector<gui::ScreenCell>& cells, const Cell& styles) {
    learn_keywords();
    StyleReader(cells, styles).styles();
}

std::vector<gui::ScreenCell> rich_text_cells(const Cell& face) {
    Cell text = *object::rs_select(face, gui::id(gui::GuiWord::text));
    Cell data = *object::rs_select(face, gui::id(gui::GuiWord::data));
    if (!text.is(Type::String) || !data.is(Type::Block)) return {};
    uint32_t bg = background_of(*object::rs_select(face, gui::id(gui::GuiWord::color)));
    gui::TextRun run = gui::text_run_of(text);
    std::vector<gui::ScreenCell> cells(run.length);
    for (uint32_t i = 0; i < run.length; i++) cells[i] = {run.at(i), bg, 0, 0};
    if (!cells.empty()) parse_rich_text(cells, data);
    return cells;
}

}  // namespace oka::draw
