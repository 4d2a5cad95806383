#include "boot/heap_image.h"

#include <algorithm>
#include <cstring>

#include "services/crypto.h"

namespace oka::heap_image {

namespace {

constexpr char kMagic[8] = {'O', 'K', 'A', 'H', 'E', 'A', 'P', 0};
constexpr uint32_t kVersion = 2;
constexpr uint64_t kSpaceBytes = uint64_t(1) << 32;

struct Header {
    char magic[8];
    uint32_t version;
    uint32_t page_size;
    uint64_t build;
    uint64_t space_address;
    uint32_t range_count;
    uint32_t run_count;
    uint32_t piece_count;
    uint32_t tables_crc;  // of the bytes from the header's end to the pages
    uint64_t pages_at;
    uint64_t page_bytes;
    uint32_t page_sums[3];
    uint32_t header_crc;  // of the fields before it
};
static_assert(sizeof(Header) == 80);
constexpr size_t kHeaderCrcBytes = offsetof(Header, header_crc);

uint64_t round_up(uint64_t value, uint64_t page) { return (value + page - 1) / page * page; }

// Where the tables lie, from the counts the header gives.
struct Offsets {
    uint64_t ranges, runs, piece_sizes, piece_bytes;
};
Offsets offsets_of(const Header& h) {
    uint64_t ranges = sizeof(Header);
    uint64_t runs = ranges + uint64_t(h.range_count) * sizeof(Range);
    uint64_t piece_sizes = runs + uint64_t(h.run_count) * sizeof(Range);
    return {ranges, runs, piece_sizes, piece_sizes + uint64_t(h.piece_count) * sizeof(uint32_t)};
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

uint64_t end_of(const Range& r) { return uint64_t(r.offset) + r.bytes; }

// Whole pages, not the null page, inside the 4 GiB, not below `above`.
bool sound_range(const Range& r, uint64_t page, uint64_t above) {
    return r.offset != 0 && r.bytes != 0 && r.offset % page == 0 && r.bytes % page == 0 && r.offset >= above &&
           end_of(r) <= kSpaceBytes;
}

bool all_zero(const uint8_t* bytes, size_t count) {
    return bytes[0] == 0 && std::memcmp(bytes, bytes + 1, count - 1) == 0;
}

// The stretches of `ranges`' pages that are not all zero, each inside one range.
std::vector<Range> runs_of(std::span<const Range> ranges, const uint8_t* space, uint32_t page) {
    std::vector<Range> runs;
    for (const Range& r : ranges)
        for (uint32_t at = r.offset; at < end_of(r); at += page) {
            if (all_zero(space + at, page)) continue;
            if (!runs.empty() && end_of(runs.back()) == at && at != r.offset)
                runs.back().bytes += page;
            else
                runs.push_back({at, page});
        }
    return runs;
}

// Reads the ranges and runs: each run inside a range, both in order and apart.
std::string read_ranges(std::span<const uint8_t> file, const Header& h, const Offsets& at, Contents& contents) {
    uint64_t above = 0;
    for (uint32_t i = 0; i < h.range_count; i++) {
        auto r = read<Range>(file, at.ranges + i * sizeof(Range));
        if (!sound_range(r, h.page_size, above)) return "a range outside the language memory";
        above = end_of(r);
        contents.ranges.push_back(r);
    }
    above = 0;
    size_t in = 0;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < h.run_count; i++) {
        auto run = read<Range>(file, at.runs + i * sizeof(Range));
        while (in < contents.ranges.size() && end_of(contents.ranges[in]) <= run.offset) in++;
        if (!sound_range(run, h.page_size, above) || in == contents.ranges.size() ||
            run.offset < contents.ranges[in].offset || end_of(run) > end_of(contents.ranges[in]))
            return "malformed tables";
        above = end_of(run);
        bytes += run.bytes;
        contents.runs.push_back(run);
    }
    return bytes == h.page_bytes ? "" : "malformed tables";
}

}  // namespace

std::vector<uint8_t> write(const Stamp& stamp, std::span<const Range> ranges, const uint8_t* space,
                           std::span<const std::span<const uint8_t>> pieces) {
    std::vector<Range> runs = runs_of(ranges, space, stamp.page_size);
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.page_size = stamp.page_size;
    h.build = stamp.build;
    h.space_address = stamp.space_address;
    h.range_count = uint32_t(ranges.size());
    h.run_count = uint32_t(runs.size());
    h.piece_count = uint32_t(pieces.size());
    std::vector<uint8_t> out(sizeof(Header));
    for (const Range& r : ranges) append(out, r);
    for (const Range& r : runs) append(out, r);
    for (std::span<const uint8_t> piece : pieces) append(out, uint32_t(piece.size()));
    for (std::span<const uint8_t> piece : pieces) out.insert(out.end(), piece.begin(), piece.end());
    out.resize(round_up(out.size(), stamp.page_size));
    h.pages_at = out.size();
    h.tables_crc = crypto::crc32(out.data() + sizeof(Header), h.pages_at - sizeof(Header));
    for (const Range& r : runs) out.insert(out.end(), space + r.offset, space + end_of(r));
    h.page_bytes = out.size() - h.pages_at;
    std::array<uint32_t, 3> sums = crypto::crc32c_of_thirds(out.data() + h.pages_at, h.page_bytes);
    std::copy(sums.begin(), sums.end(), h.page_sums);
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
    Offsets at = offsets_of(h);
    if (h.pages_at % h.page_size != 0 || h.pages_at < at.piece_bytes || h.pages_at > kSpaceBytes ||
        h.page_bytes > kSpaceBytes)
        return "malformed tables";
    if (file.size() < h.pages_at + h.page_bytes) return "truncated";
    if (file.size() > h.pages_at + h.page_bytes) return "bytes after its end";
    if (crypto::crc32(file.data() + sizeof(Header), h.pages_at - sizeof(Header)) != h.tables_crc)
        return "damaged (checksum)";
    Contents contents;
    if (std::string fault = read_ranges(file, h, at, contents); !fault.empty()) return fault;
    uint64_t piece_at = at.piece_bytes;
    for (uint32_t i = 0; i < h.piece_count; i++) {
        auto size = read<uint32_t>(file, at.piece_sizes + i * sizeof(uint32_t));
        if (piece_at + size > h.pages_at) return "malformed tables";
        contents.pieces.emplace_back(file.data() + piece_at, size);
        piece_at += size;
    }
    if (round_up(piece_at, h.page_size) != h.pages_at) return "malformed tables";
    contents.pages_at = h.pages_at;
    contents.page_bytes = h.page_bytes;
    std::copy(std::begin(h.page_sums), std::end(h.page_sums), contents.page_sums.begin());
    return contents;
}

std::string check_pages(const Contents& contents, std::span<const uint8_t> pages) {
    if (pages.size() != contents.page_bytes) return "truncated";
    return crypto::crc32c_of_thirds(pages.data(), pages.size()) == contents.page_sums ? "" : "damaged (checksum)";
}

std::string refusal_line(const std::string& reason) {
    return "*** Heap image refused: " + reason + "; starting from the boot data\n";
}

}  // namespace oka::heap_image
