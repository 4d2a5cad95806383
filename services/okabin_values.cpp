// The checks and constructors of services/okabin_values.h.
#include "services/okabin_values.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/vector.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "services/okabin_internal.h"

namespace oka::okabin {

namespace {

uint32_t unit_at(const uint8_t* units, uint32_t unit, uint32_t i) {
    uint32_t value = 0;
    std::memcpy(&value, units + size_t(i) * unit, unit);  // little-endian: the low bytes first
    return value;
}

bool code_point_q(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

constexpr uint16_t kErrorCodes[] = {
#define OKA_ERROR(Name, word, code, message) code,
#include "runtime/errors.def"
#undef OKA_ERROR
};

}  // namespace

bool code_points_q(const uint8_t* units, uint32_t count, uint32_t unit) {
    if (unit == 1) return true;
    for (uint32_t i = 0; i < count; i++)
        if (!code_point_q(unit_at(units, unit, i))) return false;
    return true;
}

Node fill_series(Node node, const uint8_t* bytes, uint32_t length) {
    BufPtr<SeriesBuffer> buffer = mem::buffer(node);
    if (length) std::memcpy(mem::ptr(buffer->offset), bytes, length);
    buffer->tail = buffer->offset + length;
    return node;
}

bool vector_element_q(Type element, uint32_t size) {
    switch (element) {
    case Type::Char:
    case Type::Integer: return size == 1 || size == 2 || size == 4;
    case Type::Float: return size == 4 || size == 8;
    case Type::Percent: return size == 8;
    default: return false;
    }
}

bool vector_elements_q(Type element, uint32_t size, const uint8_t* bytes, uint32_t count) {
    return element != Type::Char || size != 4 || code_points_q(bytes, count, size);
}

void append_vector(Node block, uint32_t header, uint32_t head, Type element, uint32_t size, const uint8_t* bytes,
                   uint32_t count) {
    Cell* vector = vector::make_at(stack::push_next(), count, element, size);
    fill_series(vector->node(), bytes, count * size);
    vector->header = header;
    vector->set_head(head);
    append(block, *vector);
    stack::pop(1);
}

bool date_q(const Cell& value) {
    uint32_t word = date::word_of(value);
    double time = date::slot_of(value);
    if (!std::isfinite(time) || (!date::time_q(word) && time != 0)) return false;
    int32_t month = date::month_of(word), day = date::day_of(word);
    if (month < 1 || month > 12 || day < 1) return false;
    return date::days_to_date(date::date_to_days(word), date::zone_of(word), date::time_q(word)) == word;
}

bool money_digits_q(const uint8_t* twelve_bytes) {
    for (int i = 1; i < 12; i++)
        if ((twelve_bytes[i] >> 4) > 9 || (twelve_bytes[i] & 15) > 9) return false;
    return true;
}

bool money_zero_q(const Cell& money) {
    Bytes12 bytes = money.money_bytes();
    for (int i = 1; i < 12; i++)
        if (bytes[i]) return false;
    return true;
}

bool error_code_q(uint32_t code) {
    for (uint16_t known : kErrorCodes)
        if (known == code) return true;
    return false;
}

uint32_t error_code_of(const Cell& error) {
    Cell code = *error::field(error, error::kCode);
    return code.is(Type::Integer) ? uint32_t(integer::get(code)) : 0;
}

bool bitset_negated_q(const Cell& bitset) { return bitset::negated_q(bitset); }

uint32_t series_length(const Cell& series) {
    if (series.is(Type::Image)) return series.node() ? image::width_of(series) * image::height_of(series) : 0;
    return mem::buffer(series.node())->length();
}

uint32_t head_of(const Cell& series) { return std::min(series.head(), series_length(series)); }

bool image_size_q(uint32_t width, uint32_t height, uint32_t head) {
    return width <= 0xFFFF && height <= 0xFFFF && head <= uint64_t(width) * height &&
           (width == 0 || height == 0 || os_image::fits_q(width, height));
}

void append_image(Node block, uint32_t header, uint32_t head, uint32_t width, uint32_t height, const uint8_t* argb) {
    Cell* image = image::make_from_argb(stack::push_next(), width, height, argb);
    image->header = header;
    image->set_head(head);
    append(block, *image);
    stack::pop(1);
}

ImagePixels::ImagePixels(const Cell& image) {
    if (image.node()) lock_.emplace(image::pixels_of(image), false);
}

std::span<const uint8_t> ImagePixels::bytes() const {
    if (!lock_) return {};
    std::span<const uint32_t> pixels = lock_->pixels();
    return {reinterpret_cast<const uint8_t*>(pixels.data()), pixels.size_bytes()};
}

}  // namespace oka::okabin
