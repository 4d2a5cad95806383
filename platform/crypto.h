/* Message digests and keyed digests (HMAC) of the platform's cryptographic library.

   MD5, SHA-1, SHA-256, SHA-384 and SHA-512 over bytes in memory, one call each. The library's own
   configuration file is not read: the digests are the standard ones whatever the machine sets up.
   Nothing here allocates language memory, throws or prints; a failure of the library shows as false,
   and the output is then all zeros, never what the memory held before. */
#pragma once

#include <cstddef>
#include <cstdint>

namespace oka::platform {

enum class Digest : uint8_t { md5, sha1, sha256, sha384, sha512 };

// The most bytes a digest has (SHA-512's 64).
inline constexpr size_t kMaxDigestSize = 64;
size_t digest_size(Digest digest);

// Writes the digest of `count` bytes to `out`, which has room for digest_size bytes.
bool digest(Digest digest, const uint8_t* bytes, size_t count, uint8_t* out);
// The HMAC of `count` bytes under `key`, to `out` (digest_size bytes); a key longer than the digest's
// block is digested first, as HMAC defines.
bool hmac(Digest digest, const uint8_t* key, size_t key_count, const uint8_t* bytes, size_t count, uint8_t* out);

}  // namespace oka::platform
