#include "boot/heap_image.h"

#include <cstring>

#include "services/crypto.h"

namespace oka::heap_image {

namespace {

constexpr char kMagic[8] = {'O', 'K', 'A', 'H', 'E', 'A', 'P', 0};
constexpr uint32_t kVersion = 1;
constexpr uint64_t kSpaceBytes = uint64_t(1) << 32;

struct Header {
    char magic[8];
    uint32_t version;
    uint32_t page_size;
    uint64_t build;
    uint64_t space_address;
    uint32_t range_count;
    uint32_t piece_count;
    uint64_t body_bytes;  // everything after the header
    uint32_t body_crc;
    uint32_t header_crc;  // of the fields before it
};
static_assert(sizeof(Header) == 56);
constexpr size_t kHeaderCrcBytes = offsetof(Header, header_crc);

uint64_t round_up(uint64_t value, uint64_t page) { return (value + page - 1) / page * page; }

// Where the parts of the body lie, from the counts the header gives.
struct Offsets {
    uint64_t ranges, piece_sizes, piece_bytes;
};
Offsets offsets_of(const Header& h) {
    uint64_t ranges = sizeof(Header);
    uint64_t piece_sizes = ranges + uint64_t(h.range_count) * sizeof(Range);
    return {ranges, piece_sizes, piece_sizes + uint64_t(h.piece_count) * sizeof(uint32_t)};
}

template <class T>
void append(std::vector<uint8_t>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <class T>
T read(std::span<const uint8_t> file, uint64_t at) {
    T value;
    std::memcpy(&value, file.data() + at, sizeof(T));
    return value;
}

bool same_stamp(const Header& h, const Stamp& s) {
    return h.build == s.build && h.page_size == s.page_size && h.space_address == s.space_address;
}

// A range the space can hold: whole pages, not the null page, inside the 4 GiB, above the range before.
bool sound_range(const Range& r, uint64_t page, uint64_t above) {
    return r.offset != 0 && r.bytes != 0 && r.offset % page == 0 && r.bytes % page == 0 && r.offset >= above &&
           uint64_t(r.offset) + r.bytes <= kSpaceBytes;
}

}  // namespace

std::vector<uint8_t> write(const Stamp& stamp, std::span<const Range> ranges, const uint8_t* space,
                           std::span<const std::span<const uint8_t>> pieces) {
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.page_size = stamp.page_size;
    h.build = stamp.build;
    h.space_address = stamp.space_address;
    h.range_count = uint32_t(ranges.size());
    h.piece_count = uint32_t(pieces.size());
    std::vector<uint8_t> out(sizeof(Header));
    for (const Range& r : ranges) append(out, r);
    for (std::span<const uint8_t> piece : pieces) append(out, uint32_t(piece.size()));
    for (std::span<const uint8_t> piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    out.resize(round_up(out.size(), stamp.page_size));
    for (const Range& r : ranges) out.insert(out.end(), space + r.offset, space + r.offset + r.bytes);
    h.body_bytes = out.size() - sizeof(Header);
    h.body_crc = crypto::crc32(out.data() + sizeof(Header), h.body_bytes);
    h.header_crc = crypto::crc32(reinterpret_cast<const uint8_t*>(&h), kHeaderCrcBytes);
    std::memcpy(out.data(), &h, sizeof h);
    return out;
}

std::variant<Contents, std::string> check(std::span<const uint8_t> file, const Stamp& expected) {
    if (file.size() >= sizeof kMagic && std::memcmp(file.data(), kMagic, sizeof kMagic) != 0) return "not a heap image";
    if (file.size() < sizeof(Header)) return "truncated";
    auto h = read<Header>(file, 0);
    if (crypto::crc32(file.data(), kHeaderCrcBytes) != h.header_crc) return "damaged header";
    if (h.version != kVersion) return "format " + std::to_string(h.version) + ", not " + std::to_string(kVersion);
    if (!same_stamp(h, expected)) return "made by another build";
    uint64_t body = file.size() - sizeof(Header);
    if (body < h.body_bytes) return "truncated";
    if (body > h.body_bytes) return "bytes after its end";
    if (crypto::crc32(file.data() + sizeof(Header), body) != h.body_crc) return "damaged (checksum)";
    Offsets at = offsets_of(h);
    if (at.piece_bytes > file.size()) return "malformed tables";
    Contents contents;
    uint64_t above = 0, pages = 0;
    for (uint32_t i = 0; i < h.range_count; i++) {
        auto r = read<Range>(file, at.ranges + i * sizeof(Range));
        if (!sound_range(r, h.page_size, above)) return "a range outside the language memory";
        above = uint64_t(r.offset) + r.bytes;
        contents.ranges.push_back(r);
        pages += r.bytes;
    }
    uint64_t piece_at = at.piece_bytes;
    for (uint32_t i = 0; i < h.piece_count; i++) {
        auto size = read<uint32_t>(file, at.piece_sizes + i * sizeof(uint32_t));
        if (piece_at + size > file.size()) return "malformed tables";
        contents.pieces.emplace_back(file.data() + piece_at, size);
        piece_at += size;
    }
    uint64_t page_at = round_up(piece_at, h.page_size);
    if (page_at + pages != file.size()) return "malformed tables";
    for (const Range& r : contents.ranges) {
        contents.pages.push_back(page_at);
        page_at += r.bytes;
    }
    return contents;
}

std::string refusal_line(const std::string& reason) {
    return "*** Heap image refused: " + reason + "; starting from the boot data\n";
}

}  // namespace oka::heap_image
