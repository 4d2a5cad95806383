/* Start-up from the heap image (boot/heap_image.h): the build writes the image of the language memory
   as finish_start_up leaves it, beside the program; start-up maps it in place of decoding and running
   the boot data, and puts back the C++ state it carries (runtime/image_state.h).

   Rules: both run after runtime::init, which every start-up runs whole (its C++ tables are the same
   in every process; what it made in the language memory is given up for the image's). */
#pragma once

#include <string>

namespace oka::boot {

// The image of this program: its path with ".heap" added.
std::string heap_image_path();

// Writes the image of the language memory and C++ state as they are now (after finish_start_up), after
// one full collection; answers why it could not, "" once written.
std::string write_heap_image(const std::string& path);

// Maps the image in place of the memory runtime::init made and puts back the C++ state: true when it
// did. A missing image, or OKA_HEAP_IMAGE=off, gives false quietly; an image that is refused (made by
// another build, truncated, damaged) is reported on the standard error with its reason, and nothing
// changed, so that start-up goes on from the boot data.
bool start_from_heap_image();

}  // namespace oka::boot
