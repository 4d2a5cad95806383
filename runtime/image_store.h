/* The image layer: the pixels of every image! value, kept outside the language memory in one record per
   image, which the handle table holds (kind "image"); an image! cell names its record by the handle.

   A pixel is a 32-bit word 0xAARRGGBB with straight (not premultiplied) alpha, 255 opaque: in memory
   the bytes are blue, green, red, alpha. The pixels lie in rows, top row first, without padding.

   Rules: a record's size never changes; width and height are each at most 65535 and their product at
   most kMaxPixels: fits_q says so and every constructor here refuses other sizes (internal no-memory),
   so a record is always whole. Single-pixel reads and writes check the index against the size. Bulk
   work goes through a Lock, which is released however its scope ends; the pixels never move, so a
   lock's span stays valid while it lives, allocation or not. Nothing here allocates language memory. */
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace oka::os_image {

// The record's state bits. The store is the only bitmap, so a write marks the (absent) derived form
// stale and the pixels stay valid.
enum Flag : uint32_t {
    pixels_valid = 0x01,
    source_stale = 0x02,
};

inline constexpr uint32_t kMaxSide = 65535;
inline constexpr uint64_t kMaxPixels = uint64_t(1) << 28;  // a store of 1 GiB

struct Record {
    uint32_t flags;
    uint32_t width, height;
    uint32_t locks;
    int32_t handle;
    std::vector<uint32_t> pixels;
};

// Registers the handle kind of image records; start-up calls it once, before image! registers.
void init();

// Whether a record of that size can be made.
bool fits_q(int64_t width, int64_t height);

// A new record of that size, every pixel `fill`; its handle. The size must be non-empty and fit (else
// internal no-memory, as for a store the memory cannot hold).
int32_t make(uint32_t width, uint32_t height, uint32_t fill);
// A new record of that size holding a copy of `pixels`, width x height words that need not be
// aligned (a decoder's buffer, bytes of serialised data); its handle. The same conditions on the size.
int32_t make_from(uint32_t width, uint32_t height, const void* pixels);
// A new record holding the `width` x `height` pixels from (x, y) of the record's; the rectangle lies
// inside it.
int32_t copy_rect(int32_t handle, uint32_t x, uint32_t y, uint32_t width, uint32_t height);
int32_t clone(int32_t handle);
// A new record that scales the record's pixels to that size, taking the nearest pixel.
int32_t resize(int32_t handle, uint32_t width, uint32_t height);
// A new record with the rows in reverse order.
int32_t flip_vertical(int32_t handle);

const Record& record(int32_t handle);
inline uint32_t width(int32_t handle) { return record(handle).width; }
inline uint32_t height(int32_t handle) { return record(handle).height; }

// One pixel by its index from the first; an index at or past the last pixel raises script
// out-of-range.
uint32_t get_pixel(int32_t handle, uint32_t index);
void set_pixel(int32_t handle, uint32_t index, uint32_t pixel);

// The whole store, for reading or (`write`) writing, while the lock lives.
class Lock {
public:
    Lock(int32_t handle, bool write);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    std::span<uint32_t> pixels() const { return record_->pixels; }

private:
    Record* record_;
};

}  // namespace oka::os_image
