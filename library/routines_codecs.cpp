// The encode and decode routines of the codec objects of system/codecs: the image codecs, which hand
// their arguments to image!, and the serialised-value codec.
#include "datatypes/image.h"
#include "datatypes/logic.h"
#include "library/routines.h"
#include "runtime/action_options.h"
#include "runtime/dispatch.h"
#include "runtime/error.h"
#include "services/okabin.h"

namespace oka::library {

namespace {

bool file_or_url_q(const Cell& value) { return value.is(Type::File) || value.is(Type::Url); }

// The whole contents of a file or url as a binary!, pushed on the data stack.
const Cell* read_binary(Cell* where) { return actions::call<Act::read>(where, ReadOptions{.binary = true}); }

void encode_image(Cell* arguments, int32_t container) { arguments[0] = *image::encode(arguments[0], container); }

// An image from the bytes of a binary, or from those of a file or url; anything that holds no image is
// access cannot-open with the data.
void decode_image(Cell* arguments) {
    Cell& data = arguments[0];
    if (data.is(Type::Binary)) {
        data = *image::load_binary(data);
        return;
    }
    if (!file_or_url_q(data)) fire(Err::access_cannot_open, &data);
    const Cell* image = image::load_binary(*read_binary(&data));
    if (image->is(Type::None)) fire(Err::access_cannot_open, &data);
    data = *image;
}

}  // namespace

// The image codecs' routines, by their container number.
#define OKA_IMAGE_CODEC(name, container)                                          \
    void name##_encode_r(Cell* arguments) { encode_image(arguments, container); } \
    void name##_decode_r(Cell* arguments) { decode_image(arguments); }
OKA_IMAGE_CODEC(bmp, 0)
OKA_IMAGE_CODEC(png, 1)
OKA_IMAGE_CODEC(gif, 2)
OKA_IMAGE_CODEC(jpeg, 3)
OKA_IMAGE_CODEC(tiff, 4)
#undef OKA_IMAGE_CODEC

void okabin_encode_star_r(Cell* arguments) {
    bool compact = logic::get(arguments[1]);
    arguments[0] = *(compact ? okabin::encode_compact(arguments[0]) : okabin::encode_plain(arguments[0]));
}

// A file or url is decoded from its contents; a binary from its head; anything else is script
// invalid-data, as is data too short to hold a container.
void okabin_decode_r(Cell* arguments) {
    Cell& payload = arguments[0];
    if (file_or_url_q(payload)) payload = *read_binary(&payload);
    if (!payload.is(Type::Binary)) fire(Err::script_invalid_data, &payload);
    payload = *okabin::decode_binary(payload);
}

}  // namespace oka::library
