#include "view/tui/routines.h"

#include <iterator>

#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "library/routines.h"
#include "view/tui/words.h"

namespace oka::gui {

namespace {

constexpr library::RoutineRow kRows[] = {
#define OKA_ROUTINE(Name, target, spec) {target, spec, &Name##_r},
#include "view/tui/routines.def"
};
static_assert(std::size(kRows) == 3, "the globals event?, send-event-os and find-flag?");

}  // namespace

void add_routines() {
    make_words();
    library::add_routines(kRows);
}

void event_q_r(Cell* arguments) { logic::make_at(arguments, arguments->is(Type::Event)); }

// Events cannot be posted to a terminal.
void send_event_os_r(Cell* arguments) { logic::make_at(arguments, false); }

void find_flag_q_r(Cell* arguments) {
    const Cell& facet = arguments[0];
    uint32_t flag = arguments[1].symbol();
    bool found = false;
    if (facet.is(Type::Word)) {
        found = same_word_q(facet.symbol(), flag);
    } else if (facet.is(Type::Block)) {
        for (uint32_t i = facet.head(); i < series::rs_buffer_length_q(facet) && !found; i++) {
            Cell value = *block::rs_abs_at(facet, i);
            found = (value.is(Type::Word) || value.is(Type::LitWord)) && same_word_q(value.symbol(), flag);
        }
    }
    logic::make_at(arguments, found);
}

}  // namespace oka::gui
