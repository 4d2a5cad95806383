/* The boot data: the library scripts of boot/, library/, console/ and view/, in boot order, each a
   block as the lexer loads its text, serialised together as one block in the compact OKABIN form when
   the program is built (boot/make_boot_data.cpp), so that start-up decodes them instead of scanning
   their text. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::boot {

extern const uint8_t kBootData[];
extern const size_t kBootDataSize;

}  // namespace oka::boot
