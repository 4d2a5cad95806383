/* The heap image: the language memory as the boot scripts leave it, written once at build time, so
   that start-up maps it instead of decoding and evaluating the boot data.

   An image holds the committed page ranges of the 4 GiB space, each at its own offset (the space lies
   at a fixed address, so nothing in it needs relocating), and the bytes of the C++ state that names
   things in the space (roots, stack pointers, the allocator's lists), as pieces restored in the order
   they were written. A file is laid out as:

       header | range table | piece sizes | piece bytes | padding | each range's pages, page-aligned

   so that each range can be mapped straight from the file. The header carries the build's stamp (the
   binary's identity, the page size and the space's address) and a CRC-32 of everything after it: an
   image of another build, a truncated or a damaged one is refused, and start-up then runs from the
   boot data as if there were none.

   Rules: nothing here touches the language memory; checking reads only the bytes it is given. */
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace oka::heap_image {

// What an image must have been made by to be used: the same binary, page size and space address.
struct Stamp {
    uint64_t build = 0;
    uint32_t page_size = 0;
    uint64_t space_address = 0;
};

// A committed range of the language memory: its offset in the space and its size, whole pages.
struct Range {
    uint32_t offset;
    uint32_t bytes;
};

// What an image holds. Written, the ranges' bytes are read from the space; found in a file, `pages`
// gives where each range's bytes start in it.
struct Contents {
    std::vector<Range> ranges;
    std::vector<uint64_t> pages;  // file offset of each range's bytes
    std::vector<std::span<const uint8_t>> pieces;
};

// The bytes of an image: the ranges' contents are read at `space` + their offsets.
std::vector<uint8_t> write(const Stamp& stamp, std::span<const Range> ranges, const uint8_t* space,
                           std::span<const std::span<const uint8_t>> pieces);

// The image in `file` when it was made for `expected` and is whole, else why it is refused.
std::variant<Contents, std::string> check(std::span<const uint8_t> file, const Stamp& expected);

// The line start-up prints on the standard error when it refuses an image.
std::string refusal_line(const std::string& reason);

}  // namespace oka::heap_image
