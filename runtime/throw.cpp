#include "runtime/throw.h"

namespace oka::sys {

void throw_(uint32_t code) { throw Throw{code}; }

}  // namespace oka::sys
