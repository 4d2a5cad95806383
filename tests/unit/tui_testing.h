// Helpers of the text-mode views' tests and benchmark: a face tree realised as the view engine's show
// realises it, and the characters of a row of the screen.
#pragma once

#include <string>

#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "runtime/stack.h"
#include "view/tui/faces.h"
#include "view/tui/screen.h"
#include "view/tui/widgets.h"

namespace oka::gui::tui_test {

// Makes the widgets of a face and of the faces of its pane, each face's state [handle 0 none false]
// and each pane face's parent its face.
inline WidgetId realise(const Cell& face, WidgetId parent) {
    WidgetId id = make_view(face, parent);
    Cell* state = block::make_at(stack::push_next(), 4);
    make_handle(&*block::rs_append(*state, none::value), id);
    Cell zero;
    block::rs_append(*state, *integer::make_at(&zero, 0));
    block::rs_append(*state, none::value);
    block::rs_append(*state, logic::false_value);
    set_facet_quiet(face, GuiWord::state, *state);
    stack::top--;
    Cell pane = facet(face, GuiWord::pane);
    if (pane.is(Type::Block)) {
        for (uint32_t i = pane.head(); i < series::rs_buffer_length_q(pane); i++) {
            Cell child = *block::rs_abs_at(pane, i);
            set_facet_quiet(child, GuiWord::parent, face);
            realise(child, id);
        }
    }
    return id;
}

// The characters of a row of the screen, continuation cells left out and blank cells as ".".
inline std::u32string row(int y) {
    std::u32string text;
    for (int x = 0; x < screen().width; x++) {
        const ScreenCell& cell = *cell_at(x, y);
        if (!(cell.attrs & kContinuation)) text += cell.ch ? char32_t(cell.ch) : U'.';
    }
    return text;
}

}  // namespace oka::gui::tui_test
