#include "view/tui/gui.h"

#include <cstdio>

namespace oka::gui {

void print_begin() {}

void print_end() {}

void do_events_pending() {}

PrintScope::~PrintScope() {
    std::fflush(stdout);
    print_end();
}

}  // namespace oka::gui
