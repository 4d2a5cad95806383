#include "runtime/random.h"

#include <sys/random.h>

#include <cerrno>

#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/image_state.h"

namespace oka::random {

namespace {

constexpr int kWords = 624;
constexpr int kShift = 397;
constexpr uint32_t kStartSeed = 19650218;
constexpr uint32_t kHashSeed = 7340117;

uint32_t state[kWords];
int index = 0;  // the next word to temper; kWords when the state must be twisted first

// C++20 defines >> on a negative value as the sign-copying shift.
uint32_t shift_right(uint32_t word, int n) { return uint32_t(int32_t(word) >> n); }

uint32_t twisted(uint32_t word, uint32_t next_word, uint32_t far_word) {
    uint32_t y = (word & 0x80000000u) | (next_word & 0x7FFFFFFFu);
    return shift_right(y, 1) ^ far_word ^ (y & 1 ? 0x9908B0DFu : 0);
}

// In place and in order, so that the last words see the new values of the first ones.
void twist() {
    for (int k = 0; k < kWords; k++)
        state[k] = twisted(state[k], state[(k + 1) % kWords], state[(k + kShift) % kWords]);
    index = 0;
}

uint32_t tempered(uint32_t y) {
    y ^= shift_right(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    return y ^ shift_right(y, 18);
}

int32_t draw(bool secure) { return secure ? next_secure() : next() & 0x7FFFFFFF; }

}  // namespace

void init() {
    seed(kStartSeed);
    hashtable::set_seed(kHashSeed);
}

void keep_in_images() { image_state::keep(state, index); }

void seed(uint32_t value) {
    state[0] = value;
    for (uint32_t i = 1; i < kWords; i++) state[i] = 1812433253u * (state[i - 1] ^ shift_right(state[i - 1], 30)) + i;
    index = 0;
}

int32_t next() {
    if (index == kWords) twist();
    return int32_t(tempered(state[index++]));
}

int32_t next_secure() {
    uint32_t bytes;
    while (getrandom(&bytes, sizeof bytes, 0) != sizeof bytes) {
        if (errno != EINTR) fire(Err::internal_feature_na);
    }
    return int32_t(bytes & 0x7FFFFFFF);
}

int32_t int_(bool secure, int32_t n) {
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw(secure);
    int32_t magnitude = n < 0 ? -n : n;
    // Draws at or above the largest multiple of n are thrown back, so every result is as likely.
    int32_t limit = 0x7FFFFFFF / magnitude * magnitude;
    int32_t d;
    do d = draw(secure);
    while (d >= limit);
    int32_t result = d % magnitude + 1;
    return n < 0 ? -result : result;
}

}  // namespace oka::random
