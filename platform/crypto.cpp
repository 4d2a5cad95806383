#include "platform/crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <cstring>

namespace oka::platform {

namespace {

const EVP_MD* algorithm(Digest digest) {
    // The configuration file could load other providers in place of the default one: it is skipped.
    static const bool ready = OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
    if (!ready) return nullptr;
    switch (digest) {
    case Digest::md5: return EVP_md5();
    case Digest::sha1: return EVP_sha1();
    case Digest::sha256: return EVP_sha256();
    case Digest::sha384: return EVP_sha384();
    case Digest::sha512: return EVP_sha512();
    }
    return nullptr;
}

// The answer of a library call that wrote `written` bytes to `out`: a digest that came out short is a
// failure too, and a failure leaves zeros.
bool finished(bool ok, unsigned written, Digest digest, uint8_t* out) {
    if (ok && written == digest_size(digest)) return true;
    std::memset(out, 0, digest_size(digest));
    return false;
}

}  // namespace

size_t digest_size(Digest digest) {
    constexpr size_t kSizes[] = {16, 20, 32, 48, 64};
    return kSizes[size_t(digest)];
}

bool digest(Digest digest, const uint8_t* bytes, size_t count, uint8_t* out) {
    const EVP_MD* md = algorithm(digest);
    unsigned written = 0;
    bool ok = md && EVP_Digest(bytes, count, out, &written, md, nullptr) == 1;
    return finished(ok, written, digest, out);
}

bool hmac(Digest digest, const uint8_t* key, size_t key_count, const uint8_t* bytes, size_t count, uint8_t* out) {
    const EVP_MD* md = algorithm(digest);
    unsigned written = 0;
    // The library takes the key's length as an int; an empty key needs an address all the same.
    static const uint8_t kNoKey = 0;
    bool ok = md && key_count <= INT_MAX &&
              HMAC(md, key_count ? key : &kNoKey, int(key_count), bytes, count, out, &written) != nullptr;
    return finished(ok, written, digest, out);
}

}  // namespace oka::platform
