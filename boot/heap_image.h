/* The heap image: the language memory as the boot scripts leave it, written once at build time, so
   that start-up maps it instead of decoding and evaluating the boot data.

   An image holds the committed page ranges of the 4 GiB space (the space lies at a fixed address, so
   nothing in it needs relocating), the pages of them that are not all zero, and the bytes of the C++
   state that names things in the space (roots, stack pointers, the allocator's lists), as pieces
   restored in the order they were written. A file is laid out as:

       header | range table | run table | piece sizes | piece bytes | padding | the runs' pages

   A run is a stretch of pages of one range that holds something; the pages of a range outside its
   runs are all zero (free frames, the stacks' unused depth), so they take no room in the file and
   start-up commits them as fresh zero pages. The runs' pages follow each other from a page boundary,
   so that they can be mapped from the file in one piece. The header carries the build's stamp (the
   binary's identity, the page size and the space's address), a CRC-32 of the tables and pieces, the
   CRC-32C of each third of the pages (computed side by side, the pages being most of the file) and a
   CRC-32 of itself: an image of another build, a truncated or a damaged one is refused, and start-up
   then runs from the boot data as if there were none.

   Rules: nothing here touches the language memory; checking reads only the bytes it is given. */
#pragma once

#include <array>
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

// Whole pages of the language memory: their offset in the space and their size.
struct Range {
    uint32_t offset;
    uint32_t bytes;
};

// What an image holds. The runs' pages are the `page_bytes` bytes from `pages_at` in the file, run
// after run.
struct Contents {
    std::vector<Range> ranges;  // committed
    std::vector<Range> runs;    // the pages of the ranges that are not all zero
    uint64_t pages_at = 0;
    uint64_t page_bytes = 0;
    std::array<uint32_t, 3> page_sums{};
    std::vector<std::span<const uint8_t>> pieces;
};

// The bytes of an image: the ranges' contents are read at `space` + their offsets.
std::vector<uint8_t> write(const Stamp& stamp, std::span<const Range> ranges, const uint8_t* space,
                           std::span<const std::span<const uint8_t>> pieces);

// The image in `file` when it was made for `expected` and its header, tables and pieces are whole,
// else why it is refused. The pages are not read: check them with check_pages wherever they are.
std::variant<Contents, std::string> check(std::span<const uint8_t> file, const Stamp& expected);

// "" when `pages`, the image's pages (read or mapped from the file), are those it was written with;
// else why the image is refused.
std::string check_pages(const Contents& contents, std::span<const uint8_t> pages);

// The line start-up prints on the standard error when it refuses an image.
std::string refusal_line(const std::string& reason);

}  // namespace oka::heap_image
