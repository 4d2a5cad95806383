// The checksums the run-time computes (CRC-32, CRC-32C, Adler-32, the internet checksum) against their
// definitions computed the slow way, and the platform's digests and HMAC against published vectors.
// Scripts reach them through checksum; tests/oracles/codecs.py compares them with python3's.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crypto.h"
#include "services/crypto.h"

using namespace oka;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes counting(uint8_t first, uint8_t last) {
    Bytes b;
    for (int i = first; i <= last; i++) b.push_back(uint8_t(i));
    return b;
}

std::string hex(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; i++)
        text += "0123456789abcdef"[bytes[i] >> 4], text += "0123456789abcdef"[bytes[i] & 15];
    return text;
}

// A CRC one bit at a time, as its (reflected) polynomial defines it: CRC-32's by default.
uint32_t crc32_by_bits(const uint8_t* bytes, size_t count, uint32_t polynomial = 0xEDB88320u) {
    uint32_t c = 0xFFFFFFFF;
    for (size_t i = 0; i < count; i++) {
        c ^= bytes[i];
        for (int k = 0; k < 8; k++) c = c & 1 ? (c >> 1) ^ polynomial : c >> 1;
    }
    return ~c;
}
constexpr uint32_t kCastagnoli = 0x82F63B78u;

// Adler-32 reduced at every byte, as its definition reads.
uint32_t adler32_by_bytes(const uint8_t* bytes, size_t count) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < count; i++) {
        a = (a + bytes[i]) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

Bytes noise(size_t count) {
    Bytes b(count);
    uint32_t x = 7;
    for (uint8_t& byte : b) byte = uint8_t((x = x * 1664525 + 1013904223) >> 24);
    return b;
}

}  // namespace

TEST(Checksums, KnownValues) {
    Bytes check = bytes_of("123456789");
    EXPECT_EQ(crypto::crc32(check.data(), check.size()), 0xCBF43926u);
    EXPECT_EQ(crypto::crc32(nullptr, 0), 0u);
    EXPECT_EQ(crypto::crc32c(check.data(), check.size()), 0xE3069283u);
    Bytes wikipedia = bytes_of("Wikipedia");
    EXPECT_EQ(crypto::adler32(wikipedia.data(), wikipedia.size()), 0x11E60398u);
    EXPECT_EQ(crypto::adler32(nullptr, 0), 1u);
}

// The steps of CRC-32 (eight bytes by tables, 16 and 64 by folding) and the deferred reduction of
// Adler-32 give what the definitions give, for every length around their steps, at every alignment,
// and when continued from a running value.
TEST(Checksums, MatchTheirDefinitions) {
    Bytes data = noise(20000);
    for (size_t offset = 0; offset < 16; offset++)
        for (size_t count = 0; count < 300; count++) {
            EXPECT_EQ(crypto::crc32(data.data() + offset, count), crc32_by_bits(data.data() + offset, count));
            EXPECT_EQ(crypto::crc32c(data.data() + offset, count),
                      crc32_by_bits(data.data() + offset, count, kCastagnoli));
            EXPECT_EQ(crypto::adler32(data.data() + offset, count), adler32_by_bytes(data.data() + offset, count));
        }
    Bytes high(12000, 0xFF);  // the largest sums, past a run of 5552 bytes
    EXPECT_EQ(crypto::adler32(high.data(), high.size()), adler32_by_bytes(high.data(), high.size()));
    EXPECT_EQ(crypto::crc32(data.data(), data.size()), crc32_by_bits(data.data(), data.size()));
    uint32_t running = crypto::crc32(data.data(), 777);
    EXPECT_EQ(crypto::crc32(data.data() + 777, data.size() - 777, running), crc32_by_bits(data.data(), data.size()));
    uint32_t running_c = crypto::crc32c(data.data(), 777);
    EXPECT_EQ(crypto::crc32c(data.data() + 777, data.size() - 777, running_c),
              crc32_by_bits(data.data(), data.size(), kCastagnoli));
    uint32_t adler = crypto::adler32(data.data(), 6000);
    EXPECT_EQ(crypto::adler32(data.data() + 6000, data.size() - 6000, adler),
              adler32_by_bytes(data.data(), data.size()));
}

// The thirds summed side by side are the CRC-32C of each third, for lengths that leave the last third
// a tail of every size and lengths too short to give the first two any word.
TEST(Checksums, Crc32cOfThirdsIsEachThirdsCrc) {
    Bytes data = noise(5000);
    for (size_t count : {size_t(0), size_t(1), size_t(23), size_t(24), size_t(25), size_t(47), size_t(4999)}) {
        size_t third = count / 3 / 8 * 8;
        std::array<uint32_t, 3> sums = crypto::crc32c_of_thirds(data.data(), count);
        EXPECT_EQ(sums[0], crc32_by_bits(data.data(), third, kCastagnoli)) << count;
        EXPECT_EQ(sums[1], crc32_by_bits(data.data() + third, third, kCastagnoli)) << count;
        EXPECT_EQ(sums[2], crc32_by_bits(data.data() + 2 * third, count - 2 * third, kCastagnoli)) << count;
    }
}

TEST(Checksums, InternetChecksum) {
    struct Case {
        Bytes data;
        uint16_t sum;
    } cases[] = {
        {{}, 0xFFFF},
        {{0x00, 0x01}, 0xFFFE},
        {{0x01}, 0xFFFE},  // an odd last byte counts as a low-order byte
        {{0x12, 0x34, 0x56}, uint16_t(~(0x1234 + 0x56))},
        {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},  // the carry comes back in
        // 100,000 words of FFFF: a sum far past 32 bits, which is still FFFF in ones' complement
        {Bytes(200000, 0xFF), 0x0000},
    };
    for (const Case& c : cases) EXPECT_EQ(crypto::tcp_checksum(c.data.data(), c.data.size()), c.sum) << c.data.size();
}

TEST(Digests, KnownValues) {
    struct Case {
        platform::Digest digest;
        std::string data, expected;
    } cases[] = {
        {platform::Digest::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {platform::Digest::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {platform::Digest::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {platform::Digest::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {platform::Digest::sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {platform::Digest::sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce"
         "80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        uint8_t out[platform::kMaxDigestSize];
        Bytes data = bytes_of(c.data);
        ASSERT_TRUE(platform::digest(c.digest, data.data(), data.size(), out));
        EXPECT_EQ(hex(out, platform::digest_size(c.digest)), c.expected);
    }
}

// The test cases of RFC 4231 with a full-length result: short keys, keys and data of repeated bytes,
// and keys longer than the block, which are digested first.
TEST(Digests, HmacVectors) {
    struct Case {
        Bytes key, data;
        std::string sha256, sha384, sha512;
    } cases[] = {
        {Bytes(20, 0x0B), bytes_of("Hi There"), "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f"
         "1702e696c203a126854"},
        {bytes_of("Jefe"), bytes_of("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6"
         "b4b636e070a38bce737"},
        {Bytes(20, 0xAA), Bytes(50, 0xDD), "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
         "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee89"
         "42674278859e13292fb"},
        {counting(1, 25), Bytes(50, 0xCD), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4"
         "f2de2adebeb10a298dd"},
        {Bytes(131, 0xAA), bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0"
         "aec8b915a985d786598"},
        {Bytes(131, 0xAA),
         bytes_of(
             "This is a test using a larger than block-size key and a larger than block-size data. The key needs to "
             "be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de04"
         "46065c97440fa8c6a58"},
    };
    for (const Case& c : cases) {
        for (auto [digest, expected] : {std::pair{platform::Digest::sha256, c.sha256},
                                        {platform::Digest::sha384, c.sha384},
                                        {platform::Digest::sha512, c.sha512}}) {
            uint8_t out[platform::kMaxDigestSize];
            ASSERT_TRUE(platform::hmac(digest, c.key.data(), c.key.size(), c.data.data(), c.data.size(), out));
            EXPECT_EQ(hex(out, platform::digest_size(digest)), expected);
        }
    }
}

// A digest the library cannot make is reported, and leaves zeros where the digest would be, never the
// bytes the memory held: here an HMAC key longer than the library takes, refused before it is read.
TEST(Digests, AFailureLeavesZeros) {
    uint8_t key = 0x6B;
    for (platform::Digest digest : {platform::Digest::md5, platform::Digest::sha512}) {
        uint8_t out[platform::kMaxDigestSize];
        std::memset(out, 0xA5, sizeof out);
        EXPECT_FALSE(platform::hmac(digest, &key, size_t(INT_MAX) + 1, &key, 1, out));
        EXPECT_EQ(hex(out, platform::digest_size(digest)), std::string(2 * platform::digest_size(digest), '0'));
    }
}
