// The routine of the help module.
#include "datatypes/logic.h"
#include "library/routines.h"
#include "platform/os.h"

namespace oka::library {

// A view that help would open to show an image needs someone to see and close it.
void output_terminal_q_r(Cell* arguments) { logic::make_at(arguments, platform::stdout_is_terminal()); }

}  // namespace oka::library
