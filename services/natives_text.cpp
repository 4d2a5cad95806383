// The text natives served by the run-time's codecs: enbase and debase over binary!'s base 2, 16, 58
// and 64 codecs, to-hex, uppercase and lowercase, checksum over the checksums and the platform's
// digests, compress and decompress over DEFLATE and its gzip and zlib wrappers.
#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>

#include "datatypes/binary.h"
#include "datatypes/integer.h"
#include "datatypes/issue.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/words.h"
#include "evaluator/refinements.h"
#include "platform/crypto.h"
#include "runtime/console_output.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/unicode.h"
#include "services/crypto.h"
#include "services/deflate.h"
#include "services/natives.h"

namespace oka::natives {

namespace {

// The base of /base, 64 without it; another base than the four raises script invalid-arg.
int32_t base_of(const Cell* refinement) {
    if (!refinement) return 64;
    int32_t base = refinement->int32();
    if (!binary::base_q(base)) fire(Err::script_invalid_arg, refinement);
    return base;
}

// The text can never be longer than a series may be: a size beyond raises script too-long before anything
// is written.
Cell* push_enbased(int32_t base, const uint8_t* bytes, uint32_t count) {
    if (binary::enbase_room(base, count) >= 0x80000000u) fire(Err::script_too_long);
    std::string text = binary::enbase(base, bytes, count);
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), unicode::kUtf8);
}

// The bytes a codec reads: those of a binary from its head, read in place, or the UTF-8 encoding of a
// text, held here. Read them again after anything that allocates: the binary's buffer may have moved.
class Bytes {
public:
    // The value must be fixed (a frame argument).
    explicit Bytes(const Cell& value) : value_(value) {
        if (!value.is(Type::Binary)) utf8_ = binary::utf8_of(value);
    }
    const uint8_t* data() const {
        if (utf8_) return reinterpret_cast<const uint8_t*>(utf8_->data());
        return string::text_of(value_).data.get();
    }
    size_t size() const { return utf8_ ? utf8_->size() : string::text_of(value_).length; }

private:
    const Cell& value_;
    std::optional<std::string> utf8_;
};

// A new binary! of `size` bytes on the data stack, filled by `fill`(destination) → bytes written, which
// may read the bytes of a binary argument: nothing allocates between the two.
template <class Fill>
Cell* push_filled(size_t size, Fill fill) {
    Cell* result = binary::make_at(stack::push_next(), uint32_t(std::min<size_t>(size, UINT32_MAX)));
    BufPtr<SeriesBuffer> buffer = mem::buffer(result->node());
    buffer->tail = buffer->offset + uint32_t(fill(mem::ptr(buffer->offset)));
    return result;
}

bool symbol_q(const Cell& word, Sym symbol) {
    return symbol::resolve(word.symbol()) == symbol::resolve(words::id(symbol));
}

// ---- checksum ----

// The methods of checksum, in the order of their words.
enum class Method { tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash };
constexpr Sym kMethodWords[] = {Sym::tcp,    Sym::md5,    Sym::sha1,   Sym::crc32, Sym::adler32,
                                Sym::sha256, Sym::sha384, Sym::sha512, Sym::hash};

Method method_of(const Cell& word) {
    for (size_t i = 0; i < std::size(kMethodWords); i++)
        if (symbol_q(word, kMethodWords[i])) return Method(i);
    fire(Err::script_invalid_arg, &word);
}

std::optional<platform::Digest> digest_of(Method method) {
    switch (method) {
    case Method::md5: return platform::Digest::md5;
    case Method::sha1: return platform::Digest::sha1;
    case Method::sha256: return platform::Digest::sha256;
    case Method::sha384: return platform::Digest::sha384;
    case Method::sha512: return platform::Digest::sha512;
    default: return std::nullopt;
    }
}

// The checksums that answer an integer!, and take no key: crc32, adler32 and tcp.
int32_t plain_checksum(Method method, const Bytes& bytes) {
    if (method == Method::crc32) return int32_t(crypto::crc32(bytes.data(), bytes.size()));
    if (method == Method::adler32) return int32_t(crypto::adler32(bytes.data(), bytes.size()));
    return crypto::tcp_checksum(bytes.data(), bytes.size());
}

[[noreturn]] void fire_with_refinement(const Cell& value) {
    fire(Err::script_invalid_refine_arg, &words::spec_word(SpecWord::with), &value);
}

// The digest of the bytes, or with a key their HMAC, as a binary!. A digest the platform cannot make
// raises internal not-here with the method: what it would have answered is no digest.
void digest_s(Method method, const Bytes& bytes, const Bytes* key) {
    platform::Digest digest = *digest_of(method);
    uint8_t out[platform::kMaxDigestSize];
    bool made = key ? platform::hmac(digest, key->data(), key->size(), bytes.data(), bytes.size(), out)
                    : platform::digest(digest, bytes.data(), bytes.size(), out);
    if (!made) fire(Err::internal_not_here, stack::arguments() + 1);
    stack::set_last(*binary::load(out, uint32_t(platform::digest_size(digest))));
}

// /with and an integer ask for the data hashed into a table of that size, a checksum that was never
// designed: its notice, and 0.
void hash_not_done() {
    constexpr std::string_view kNotice = "** /hash support not yet implemented; algorithm TBD.";
    io::PrintScope scope;
    console::print_latin1(kNotice.data(), uint32_t(kNotice.size()));
    integer::box(0);
}

// ---- compress and decompress ----

using deflate::Result;
using CodecEntry = Result (*)(uint8_t* destination, size_t& capacity, const uint8_t* source, size_t length);

struct Codec {
    Sym method;
    CodecEntry compress, uncompress;
    bool sized_by_trailer;  // answers a measuring call from the size its data records
};
constexpr Codec kCodecs[] = {
    {Sym::zlib, zlib::compress, zlib::uncompress, false},
    {Sym::deflate, deflate::compress, deflate::uncompress, false},
    {Sym::gzip, gzip::compress, gzip::uncompress, true},
};

const Codec& codec_of(const Cell& word) {
    for (const Codec& codec : kCodecs)
        if (symbol_q(word, codec.method)) return codec;
    fire(Err::script_invalid_arg, &word);
}

// Runs a codec entry into a new binary of `capacity` bytes, and once more at the size it asks for when
// that was too small; any other failure raises script invalid-data with the method.
void run_codec(CodecEntry entry, size_t capacity, const Bytes& source) {
    for (int attempt = 0; attempt < 2; attempt++) {
        Result result = Result::ok;
        Cell* made = push_filled(capacity, [&](uint8_t* destination) {
            result = entry(destination, capacity, source.data(), source.size());
            return result == Result::ok ? capacity : 0;
        });
        if (result == Result::ok) {
            stack::set_last(*made);
            return;
        }
        if (result != Result::too_small) break;
        stack::pop(1);
    }
    fire(Err::script_invalid_data, stack::arguments() + 1);
}

}  // namespace

// A binary's bytes from its head, or a string's UTF-8 encoding, as text.
void enbase_s(const int32_t* positions) {
    int32_t base = base_of(Refinements<enbase_slot>(positions).arg("base"));
    Cell* value = stack::arguments();
    if (value->is(Type::Binary)) {
        string::Text bytes = string::text_of(*value);
        stack::set_last(*push_enbased(base, bytes.data.get(), bytes.length));
    } else {
        std::string utf8 = binary::utf8_of(*value);
        stack::set_last(*push_enbased(base, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size())));
    }
}

// The bytes that a string's text from its head stands for in the base, or none when it is not valid.
void debase_s(const int32_t* positions) {
    int32_t base = base_of(Refinements<debase_slot>(positions).arg("base"));
    string::Text text = string::text_of(*stack::arguments());
    std::optional<std::vector<uint8_t>> bytes = binary::debase(base, {text.data.get(), text.unit, text.length}, false);
    if (!bytes)
        none::box();
    else
        stack::set_last(*binary::load(bytes->data(), uint32_t(bytes->size())));
}

// The text from its head with its percent escapes decoded, as a new string!.
void dehex_s(const int32_t*) {
    std::string utf8 = binary::utf8_of(*stack::arguments());
    std::string text = url::decode(reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()));
    stack::set_last(
        *string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), unicode::kUtf8));
}

// The text from its head percent-encoded as a new string!: a string! keeps only letters, digits and
// "-._~" bare, the other texts also the characters a URL holds bare.
void enhex_s(const int32_t*) {
    Cell* value = stack::arguments();
    Cell* encoded = string::rs_make_at(stack::push_next(), string::text_of(*value).length);
    url::encode(*value, encoded, value->is(Type::String) ? url::Table::strict : url::Table::url,
                std::numeric_limits<int32_t>::max());
    stack::set_last(*encoded);
}

// The integer's 8 hexadecimal digits as an issue!, or with /size its last `length` of them.
void to_hex_s(const int32_t* positions) {
    const Cell* size = Refinements<to_hex_slot>(positions).arg("size");
    int32_t digits = size ? integer::get(*size) : 8;
    if (digits <= 0) fire(Err::script_invalid_arg, size);
    digits = std::min(digits, 8);
    const char* hex = string::to_hex(integer::get(*stack::arguments()), false);
    issue::make_at(stack::arguments(), std::string_view(hex + 8 - digits, size_t(digits)));
}

void uppercase_s(const int32_t* positions) {
    Cell* part = Refinements<uppercase_slot>(positions).arg("part");
    stack::set_last(*case_folding::change_case(stack::arguments(), part, true));
}

void lowercase_s(const int32_t* positions) {
    Cell* part = Refinements<lowercase_slot>(positions).arg("part");
    stack::set_last(*case_folding::change_case(stack::arguments(), part, false));
}

// The checksum, digest or HMAC of a binary's bytes from its head, of a string's UTF-8 encoding, or of
// the bytes of a file, read whole first.
void checksum_s(const int32_t* positions) {
    Cell* args = stack::arguments();
    const Cell* spec = Refinements<checksum_slot>(positions).arg("with");
    if (args[0].is(Type::File)) args[0] = *actions::call<Act::read>(&args[0], ReadOptions{.binary = true});
    if (!args[0].is(Type::Binary) && !args[0].is(Type::String)) fire(Err::script_invalid_arg, &args[0]);
    Method method = method_of(args[1]);
    bool keyed = digest_of(method) || method == Method::hash;
    if (spec && !keyed) fire_with_refinement(args[1]);
    Bytes bytes(args[0]);
    if (!keyed) {
        integer::box(plain_checksum(method, bytes));
        return;
    }
    if (!spec) {
        if (method == Method::hash) fire_with_refinement(args[1]);
        return digest_s(method, bytes, nullptr);
    }
    if (spec->is(Type::Integer)) return hash_not_done();
    if (!spec->is(Type::Binary) && !spec->is(Type::String)) fire(Err::script_invalid_arg, spec);
    if (method == Method::hash) fire_with_refinement(*spec);
    Bytes key(*spec);
    digest_s(method, bytes, &key);
}

// A binary's bytes from its head, or a string's UTF-8 encoding, compressed with the method.
void compress_s(const int32_t*) {
    Cell* args = stack::arguments();
    const Codec& codec = codec_of(args[1]);
    Bytes source(args[0]);
    run_codec(codec.compress, source.size() + 32, source);
}

// The bytes a compressed binary stands for. The size to make room for is /size's when that is more
// than the data's length (but never more than the data could stand for); otherwise, and always for
// gzip, the data is asked first.
void decompress_s(const int32_t* positions) {
    Cell* args = stack::arguments();
    const Cell* size = Refinements<decompress_slot>(positions).arg("size");
    const Codec& codec = codec_of(args[1]);
    Bytes source(args[0]);
    int64_t expected = size ? integer::get(*size) : 0;
    size_t capacity = size_t(std::clamp<int64_t>(expected, 0, int64_t(deflate::most_expanded(source.size()))));
    if (codec.sized_by_trailer || expected <= int64_t(source.size())) {
        capacity = 0;
        Result result = codec.uncompress(nullptr, capacity, source.data(), source.size());
        if (result != Result::ok && result != Result::too_small) fire(Err::script_invalid_data, &args[1]);
    }
    run_codec(codec.uncompress, capacity, source);
}

}  // namespace oka::natives
