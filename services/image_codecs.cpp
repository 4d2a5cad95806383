#include "services/image_codecs.h"

#include <iterator>

namespace oka::image_codecs {

namespace {

using Decoder = int32_t (*)(std::span<const uint8_t>);
using Encoder = std::optional<std::vector<uint8_t>> (*)(int32_t);

struct Codec {
    Decoder decode;
    Encoder encode;
};

constexpr Codec kCodecs[] = {
#define OKA_CONTAINER(number, Name) {Name::decode, Name::encode},
#include "services/image_containers.def"
#undef OKA_CONTAINER
};
static_assert(std::size(kCodecs) == image::kContainerCount, "a codec for each container image! names");

constexpr int kNumbers[] = {
#define OKA_CONTAINER(number, Name) number,
#include "services/image_containers.def"
#undef OKA_CONTAINER
};
constexpr bool numbered_in_order() {
    for (size_t i = 0; i < std::size(kNumbers); i++)
        if (kNumbers[i] != int(i)) return false;
    return true;
}
static_assert(numbered_in_order(), "the containers are listed by their numbers, from 0");

// image! checks the container numbers it hands on.
int32_t decode(std::span<const uint8_t> bytes, int container) { return kCodecs[container].decode(bytes); }
std::optional<std::vector<uint8_t>> encode(int32_t pixels, int container) { return kCodecs[container].encode(pixels); }

constexpr image::Codecs kImageCodecs{decode, encode};

}  // namespace

const image::Codecs& codecs() { return kImageCodecs; }

}  // namespace oka::image_codecs
