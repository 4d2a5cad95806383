#include "runtime/image_store.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "runtime/base.h"
#include "runtime/error.h"
#include "runtime/handles.h"

namespace oka::os_image {

namespace {

int image_kind = 0;

// The records by the index of their handle. The handle table lies in the language memory, where leak
// checkers do not look: owned here, a live record is never taken for lost.
std::vector<std::unique_ptr<Record>> records;

// A lock's span would dangle past the record.
void release_pixels(void* object) {
    auto* record = static_cast<Record*>(object);
    OKA_ASSERT(record->locks == 0);
    records[size_t(record->handle)].reset();
}

Record& record_of(int32_t handle) { return *static_cast<Record*>(handles::slot(handle).object); }

// A new record of that size with the pixels left to the caller. Every size is checked here, so no
// constructor makes a record the store cannot hold.
int32_t make_record(uint32_t width, uint32_t height, uint32_t flags) {
    if (width == 0 || height == 0 || !fits_q(width, height)) fire(Err::internal_no_memory);
    auto made =
        std::make_unique<Record>(Record{flags, width, height, 0, -1, std::vector<uint32_t>(size_t(width) * height)});
    // Room first, so that nothing can fail between taking the handle and owning the record: the table
    // at most doubles when it hands out a slot.
    records.resize(std::max(records.size(), size_t(handles::capacity()) * 2));
    made->handle = handles::alloc(made.get(), image_kind);
    int32_t handle = made->handle;
    records[size_t(handle)] = std::move(made);
    return handle;
}

}  // namespace

void init() { image_kind = handles::register_kind("image", release_pixels); }

bool fits_q(int64_t width, int64_t height) {
    return width >= 0 && height >= 0 && width <= kMaxSide && height <= kMaxSide &&
           uint64_t(width) * uint64_t(height) <= kMaxPixels;
}

int32_t make(uint32_t width, uint32_t height, uint32_t fill) {
    int32_t handle = make_record(width, height, pixels_valid | source_stale);
    std::ranges::fill(record_of(handle).pixels, fill);
    return handle;
}

int32_t make_from(uint32_t width, uint32_t height, const void* pixels) {
    int32_t handle = make_record(width, height, pixels_valid | source_stale);
    std::vector<uint32_t>& to = record_of(handle).pixels;
    std::memcpy(to.data(), pixels, to.size() * sizeof(uint32_t));
    return handle;
}

int32_t copy_rect(int32_t handle, uint32_t x, uint32_t y, uint32_t width, uint32_t height) {
    const Record& from = record_of(handle);
    OKA_ASSERT(x + uint64_t(width) <= from.width && y + uint64_t(height) <= from.height);
    int32_t made = make_record(width, height, pixels_valid | source_stale);
    Record& to = record_of(made);
    for (uint32_t row = 0; row < height; row++) {
        auto first = from.pixels.begin() + ptrdiff_t(size_t(y + row) * from.width + x);
        std::copy(first, first + width, to.pixels.begin() + ptrdiff_t(size_t(row) * width));
    }
    return made;
}

int32_t clone(int32_t handle) { return copy_rect(handle, 0, 0, width(handle), height(handle)); }

int32_t resize(int32_t handle, uint32_t width, uint32_t height) {
    int32_t made = make_record(width, height, pixels_valid | source_stale);
    const Record& from = record_of(handle);
    Record& to = record_of(made);
    for (uint32_t row = 0; row < height; row++) {
        size_t source_row = size_t(row) * from.height / height;
        for (uint32_t column = 0; column < width; column++)
            to.pixels[size_t(row) * width + column] =
                from.pixels[source_row * from.width + size_t(column) * from.width / width];
    }
    return made;
}

int32_t flip_vertical(int32_t handle) {
    int32_t made = clone(handle);
    Record& to = record_of(made);
    for (uint32_t top = 0, bottom = to.height - 1; top < bottom; top++, bottom--)
        std::swap_ranges(to.pixels.begin() + ptrdiff_t(size_t(top) * to.width),
                         to.pixels.begin() + ptrdiff_t(size_t(top + 1) * to.width),
                         to.pixels.begin() + ptrdiff_t(size_t(bottom) * to.width));
    return made;
}

const Record& record(int32_t handle) { return record_of(handle); }

uint32_t get_pixel(int32_t handle, uint32_t index) {
    const Record& r = record_of(handle);
    if (index >= r.pixels.size()) error::fire_with_integer(Err::script_out_of_range, int32_t(index));
    return r.pixels[index];
}

void set_pixel(int32_t handle, uint32_t index, uint32_t pixel) {
    Record& r = record_of(handle);
    if (index >= r.pixels.size()) error::fire_with_integer(Err::script_out_of_range, int32_t(index));
    r.pixels[index] = pixel;
    r.flags |= source_stale;
}

Lock::Lock(int32_t handle, bool write) : record_(&record_of(handle)) {
    record_->locks++;
    if (write) record_->flags |= source_stale;
}

Lock::~Lock() { record_->locks--; }

}  // namespace oka::os_image
