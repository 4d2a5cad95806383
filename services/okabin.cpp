// The OKABIN container: the magic, version and flags, the symbol table, compression of the rest with
// the LZ codec, and the entry points that encode a value and decode data in codec or boot mode.
#include "services/okabin.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/symbol.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"
#include "services/compressor.h"
#include "services/okabin_internal.h"

namespace oka::okabin {

namespace {

constexpr char kMagic[] = "OKABIN";
constexpr uint8_t kVersion = 2;

// A fault of the data in boot mode: the run-time cannot start without its boot data.
[[noreturn]] void boot_failure(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    sys::release_heap();
    std::exit(1);
}

void put_u32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    out.insert(out.end(), bytes, bytes + 4);
}

void put_varint(std::vector<uint8_t>& out, uint32_t value) {
    while (value >= 0x80) {
        out.push_back(uint8_t(value | 0x80));
        value >>= 7;
    }
    out.push_back(uint8_t(value));
}

// The form header and the symbol table: what stands between the flags byte and the records.
std::vector<uint8_t> container_head(const Output& out) {
    std::vector<uint8_t> head;
    bool symbols = !out.symbol_ids.empty();
    uint32_t length = uint32_t(out.bytes.size()), count = uint32_t(out.symbol_ids.size());
    uint32_t size = uint32_t(out.strings.size());
    if (out.compact) {
        put_varint(head, 1);
        put_varint(head, length);
        if (symbols) put_varint(head, count), put_varint(head, size);
    } else {
        put_u32(head, 1);
        put_u32(head, length);
        if (symbols) put_u32(head, count), put_u32(head, size);
    }
    for (uint32_t offset : out.offsets) put_u32(head, offset);
    head.insert(head.end(), out.strings.begin(), out.strings.end());
    return head;
}

// A new binary of the magic, version and flags and the pieces that follow them, copied once.
Cell* push_container(uint8_t flags, std::initializer_list<std::pair<const uint8_t*, size_t>> pieces) {
    uint64_t size = kPrefixSize;
    for (const auto& piece : pieces) size += piece.second;
    if (size >= 0x80000000u) fire(Err::internal_no_memory);
    Cell* result = binary::make_at(stack::push_next(), uint32_t(size));
    BufPtr<SeriesBuffer> buffer = mem::buffer(result->node());
    uint8_t* at = mem::ptr(buffer->offset);
    std::memcpy(at, kMagic, kMagicSize);
    at[kMagicSize] = kVersion;
    at[kMagicSize + 1] = flags;
    at += kPrefixSize;
    for (const auto& piece : pieces) {
        if (piece.second) std::memcpy(at, piece.first, piece.second);
        at += piece.second;
    }
    buffer->tail = buffer->offset + uint32_t(size);
    return result;
}

// The rest of the container packed, when packing makes it smaller.
std::optional<std::vector<uint8_t>> packed(const std::vector<uint8_t>& rest) {
    std::vector<uint8_t> block(rest.size());
    std::optional<size_t> size = compressor::compress(rest.data(), rest.size(), block.data());
    if (!size) return std::nullopt;
    block.resize(*size);
    return block;
}

// NUL-terminated UTF-8 text of one character at least.
bool utf8_name_q(const uint8_t* p) {
    if (!*p) return false;
    while (*p) {
        if (*p < 0x80) {  // most names are ASCII
            p++;
            continue;
        }
        int32_t code_point;
        p = unicode::fast_decode_utf8_char(p, code_point);
        if (code_point < 0) return false;
    }
    return true;
}

struct Decoding {
    std::vector<uint8_t> copy;      // the container, when it lies where decoding may move it
    std::vector<uint8_t> unpacked;  // the rest of a compressed container
};

// A series buffer moves when decoding allocates; bytes anywhere else stay where they are.
bool in_language_memory(const uint8_t* bytes) {
    return uint64_t(reinterpret_cast<uintptr_t>(bytes) - mem::kBase) < (uint64_t(1) << 32);
}

}  // namespace

// ---- reading ----

void Input::fail(const uint8_t* at) const {
    error::fire_with_integer(Err::script_ob_invalid_record, int32_t(position(at)));
}

uint32_t Input::u32() {
    need(4);
    uint32_t value;
    std::memcpy(&value, pos, 4);
    pos += 4;
    return value;
}

void Input::read_symbol_table(uint32_t count, uint32_t size, const uint8_t* container_end, const uint8_t* at) {
    uint64_t table = uint64_t(count) * 4 + size;
    if (table > uint64_t(container_end - pos) || (count && !size)) fail(at);
    offsets = pos;
    strings = pos + uint64_t(count) * 4;
    pos = strings + size;
    if (size && strings[size - 1] != 0) fail(pos - 1);
    symbol_count = count;
    strings_size = size;
    symbols.assign(count, {});
}

// A name must be UTF-8 text of at least one character: the symbol table keeps names as they come.
uint32_t Input::intern(uint32_t index, const uint8_t* at, Spelling spelling) {
    if (index >= symbol_count) fail(at);
    uint32_t offset;
    std::memcpy(&offset, offsets + size_t(index) * 4, 4);
    if (offset >= strings_size) fail(at);
    const char* name = reinterpret_cast<const char*>(strings + offset);
    Symbol& symbol = symbols[index];
    if (!symbol.id) {
        if (!utf8_name_q(strings + offset)) fail(at);
        symbol.id = symbol::make(name);
    }
    if (codec) {
        bool spelled = spelling == Spelling::issue ? lexer::single_token_q(std::string("#") + name, Type::Issue)
                                                   : lexer::single_token_q(name, Type::Word);
        if (!spelled) fail(at);
        symbol.spelled |= uint8_t(spelling);
    }
    return symbol.id;
}

void decode(const uint8_t* bytes, size_t length, const Cell& target, Mode mode) {
    bool codec = mode == Mode::codec;
    Decoding decoding;
    const uint8_t* data = bytes;
    if (in_language_memory(bytes)) {
        decoding.copy.assign(bytes, bytes + length);
        data = decoding.copy.data();
    }
    if (length < kPrefixSize || std::memcmp(data, kMagic, kMagicSize) != 0) {
        if (!codec) boot_failure("Error: Not a Okabin file!");
        error::fire_with_bytes(Err::script_invalid_data, data, uint32_t(std::min<size_t>(length, 16)));
    }
    uint8_t flags = data[7];
    Input in;
    in.data = data, in.pos = data + kPrefixSize, in.end = data + length;
    in.base = 0, in.codec = codec, in.target = target.node();
    if (flags & kCompressed) {
        auto unpacked = compressor::decompress(data + kPrefixSize, length - kPrefixSize);
        if (!unpacked) {
            if (!codec) boot_failure("Error: Okabin compressed data corrupted!");
            error::fire_with_bytes(Err::script_invalid_data, data, uint32_t(std::min<size_t>(length, 16)));
        }
        decoding.unpacked = std::move(*unpacked);
        in.data = in.pos = decoding.unpacked.data();
        in.end = in.data + decoding.unpacked.size();
        in.base = kPrefixSize;
    }
    const uint8_t* container_end = in.end;
    in.root_base = mem::buffer(target.node())->length();
    // A root left half made (an object with fewer values than words) must not stay in the target.
    uint32_t kept = in.root_base;
    try {
        if (flags & kCompact)
            read_compact(in, flags & kSymbols, container_end);
        else
            read_plain(in, flags & kSymbols, container_end);
    } catch (const Throw&) {
        block::rs_clear_at(target, kept);
        throw;
    }
}

Cell* decode_binary(const Cell& binary) {
    Cell* result = stack::push(binary);
    uint32_t length = series::rs_length_q(binary);
    if (!binary.is(Type::Binary) || length <= 10) fire(Err::script_invalid_data, &binary);
    std::vector<uint8_t> bytes(length);
    std::memcpy(bytes.data(), series::unit_at(binary, binary.head()).get(), length);
    block::make_at(result, 1);
    decode(bytes.data(), length, *result, Mode::codec);
    if (series::rs_length_q(*result) == 1) *result = *block::rs_abs_at(*result, 0);
    return result;
}

uint32_t boot_load(const uint8_t* data, size_t length) {
    bool collecting = collector::on;
    collector::on = false;
    uint32_t first = mem::buffer(runtime::root.node())->length();
    if (error::trap([&] { decode(data, length, runtime::root, Mode::boot); }))
        boot_failure("Error: Okabin boot data corrupted!");
    collector::on = collecting;
    return first;
}

// ---- writing ----

Cell* encode(const Cell& value, EncodeOptions options) {
    Output out;
    out.compact = options.compact;
    out.bytes.reserve(1 << 12);
    if (options.compact)
        write_compact(out, value);
    else
        write_plain(out, value);
    uint8_t flags = (options.compact ? kCompact : 0) | (out.symbol_ids.empty() ? 0 : kSymbols);
    std::vector<uint8_t> head = container_head(out);
    if (options.compress) {
        std::vector<uint8_t> rest(head);
        rest.insert(rest.end(), out.bytes.begin(), out.bytes.end());
        if (std::optional<std::vector<uint8_t>> block = packed(rest))
            return push_container(flags | kCompressed, {{block->data(), block->size()}});
    }
    return push_container(flags, {{head.data(), head.size()}, {out.bytes.data(), out.bytes.size()}});
}

}  // namespace oka::okabin
