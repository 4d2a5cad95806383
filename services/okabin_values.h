/* The checks that the OKABIN readers make on the payloads of values before they make them, and the
   few constructors they share: a value made from data must keep its datatype's rules (a code point in
   range, a real calendar day, digits in a money amount, an element type a vector may have), since
   every other routine relies on them.

   Rules: the checks read raw bytes of the data and never allocate; the constructors allocate. */
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "runtime/cell.h"
#include "runtime/image_store.h"

namespace oka::okabin {

// True when `count` units of `unit` bytes are code points a string may hold (no surrogate, none above
// 10FFFFh).
bool code_points_q(const uint8_t* units, uint32_t count, uint32_t unit);
// Copies `bytes` bytes into a new buffer's data and sets its tail; returns the node.
Node fill_series(Node node, const uint8_t* bytes, uint32_t length);

// The element types and sizes a vector may have, and elements that are values of the type.
bool vector_element_q(Type element, uint32_t size);
bool vector_elements_q(Type element, uint32_t size, const uint8_t* bytes, uint32_t count);
// Appends a new vector of `count` elements to a block.
void append_vector(Node block, uint32_t header, uint32_t head, Type element, uint32_t size, const uint8_t* bytes,
                   uint32_t count);

// A date whose word names a day of the calendar, with a finite time that is 0 without the time flag.
bool date_q(const Cell& date);
// Eleven bytes of packed decimal digits after the currency byte.
bool money_digits_q(const uint8_t* twelve_bytes);
bool money_zero_q(const Cell& money);

// The codes of the error catalogue, and an error's code.
bool error_code_q(uint32_t code);
uint32_t error_code_of(const Cell& error);

bool bitset_negated_q(const Cell& bitset);

// The units of a series value's whole buffer: the cells of a block, the characters of a text, the
// pixels of an image.
uint32_t series_length(const Cell& series);
// A series value's head as data holds it: at most the series' length. A head past the tail (of a series
// cut since) reads as the tail, and data holds no head past its series: a reader refuses one.
uint32_t head_of(const Cell& series);

// An image's sides as data may give them: each at most 65,535 pixels, their product what the image
// layer holds, and the head at most the pixel count.
bool image_size_q(uint32_t width, uint32_t height, uint32_t head);
// Appends a new image of `width` x `height` pixels from their argb bytes to a block.
void append_image(Node block, uint32_t header, uint32_t head, uint32_t width, uint32_t height, const uint8_t* argb);
// The pixels of an image as their argb bytes lie, readable while this lives (none for an empty image).
class ImagePixels {
public:
    explicit ImagePixels(const Cell& image);
    std::span<const uint8_t> bytes() const;

private:
    std::optional<os_image::Lock> lock_;
};

}  // namespace oka::okabin
