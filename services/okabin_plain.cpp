// The OKABIN plain record form (32-bit record headers and fields). Not built yet: reading or writing
// it raises internal not-done.
#include "runtime/error.h"
#include "services/okabin_internal.h"

namespace oka::okabin {

void read_plain(Input&, bool, const uint8_t*) { fire(Err::internal_not_done); }
void write_plain(Output&, const Cell&) { fire(Err::internal_not_done); }

}  // namespace oka::okabin
