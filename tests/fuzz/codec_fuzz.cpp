// A fuzz target for the decoders of compressed data (libFuzzer): the first byte picks raw DEFLATE,
// zlib, gzip or the run-time's LZ format, the rest is the data. Bad data is a fine answer; a crash, a
// sanitizer report (a read past the data, a write past the destination) or a broken promise is a
// fault:
// - a measuring call and a call into a destination of the size it answered agree (the wrappers may
//   still find their trailer wrong), and a destination one byte short gets the same bytes, as far as
//   they fit, and the same size asked for;
// - the data itself, compressed by each compressor, decompresses to itself.
// Every buffer is heap memory of exactly its size, so that the sanitizers see a step past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "services/compressor.h"
#include "services/deflate.h"

namespace {

using namespace oka;
using deflate::Result;
using Entry = Result (*)(uint8_t*, size_t&, const uint8_t*, size_t);

struct Codec {
    Entry compress, uncompress;
};
constexpr Codec kCodecs[] = {
    {deflate::compress, deflate::uncompress},
    {zlib::compress, zlib::uncompress},
    {gzip::compress, gzip::uncompress},
};

// A broken promise: reported with the data's length, then stop.
void fault(const char* what, size_t length) {
    std::fprintf(stderr, "%s (data of %zu bytes)\n", what, length);
    std::abort();
}

// A copy of bytes in a heap block of exactly their size.
std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* bytes, size_t length) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[length ? length : 1]);
    if (length) std::memcpy(copy.get(), bytes, length);
    return copy;
}

// The outputs a decoder gives a stream must agree whatever room it is given.
void decode(Entry uncompress, const uint8_t* data, size_t length) {
    std::unique_ptr<uint8_t[]> source = exact_copy(data, length);
    size_t needed = 0;
    Result measured = uncompress(nullptr, needed, source.get(), length);
    if (measured != Result::ok && measured != Result::too_small) return;
    if (needed > (size_t(1) << 26)) return;  // far beyond what the fuzzer's inputs can honestly hold
    std::unique_ptr<uint8_t[]> full(new uint8_t[needed ? needed : 1]);
    size_t size = needed;
    Result result = uncompress(full.get(), size, source.get(), length);
    // Only raw data is read whole by a measuring call: a wrapper may take the size its trailer claims,
    // so a fault of the stream itself, as a wrong trailer, shows only once the stream is decoded.
    bool wrapped = uncompress != deflate::uncompress;
    if (wrapped && result != Result::ok && result != Result::too_small) return;
    if (result != Result::ok || size != needed) fault("a destination of the measured size is not enough", length);
    if (needed == 0) return;
    std::unique_ptr<uint8_t[]> short_of_one(new uint8_t[needed - 1]);
    size = needed - 1;
    result = uncompress(short_of_one.get(), size, source.get(), length);
    // gzip answers a short destination from its trailer; the others decode as far as it goes.
    if (result != Result::too_small || size != needed) fault("a short destination is not reported as such", length);
    if (uncompress != gzip::uncompress && std::memcmp(full.get(), short_of_one.get(), needed - 1) != 0)
        fault("a short destination gets other bytes", length);
}

void round_trip(const Codec& codec, const uint8_t* data, size_t length) {
    size_t capacity = length + 32;
    std::unique_ptr<uint8_t[]> packed(new uint8_t[capacity]);
    Result result = codec.compress(packed.get(), capacity, data, length);
    if (result == Result::too_small) {
        packed.reset(new uint8_t[capacity]);
        result = codec.compress(packed.get(), capacity, data, length);
    }
    if (result != Result::ok) fault("compress fails", length);
    std::unique_ptr<uint8_t[]> out(new uint8_t[length ? length : 1]);
    size_t size = length;
    if (codec.uncompress(out.get(), size, packed.get(), capacity) != Result::ok || size != length ||
        std::memcmp(out.get(), data, length) != 0)
        fault("compressed data does not decompress to itself", length);
}

void lz(const uint8_t* data, size_t length) {
    std::unique_ptr<uint8_t[]> block = exact_copy(data, length);
    compressor::decompress(block.get(), length);
    std::unique_ptr<uint8_t[]> packed(new uint8_t[length ? length : 1]);
    std::optional<size_t> size = compressor::compress(data, length, packed.get());
    if (!size) return;
    std::optional<std::vector<uint8_t>> back = compressor::decompress(packed.get(), *size);
    if (!back || back->size() != length || std::memcmp(back->data(), data, length) != 0)
        fault("packed data does not unpack to itself", length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    if (size == 0) return 0;
    const uint8_t* data = input + 1;
    size_t length = size - 1;
    size_t pick = input[0] % (std::size(kCodecs) + 1);
    if (pick == std::size(kCodecs)) {
        lz(data, length);
        return 0;
    }
    decode(kCodecs[pick].uncompress, data, length);
    // gzip data is passed through by the compressor as it is.
    bool gzip_data = length > 2 && data[0] == 0x1F && data[1] == 0x8B && data[2] == 8;
    if (!(kCodecs[pick].compress == gzip::compress && gzip_data)) round_trip(kCodecs[pick], data, length);
    return 0;
}
