// A fuzz target for the image decoders (libFuzzer): the first byte picks the container (BMP, PNG, GIF,
// JPEG, TIFF), the rest is the file. Bad data is a fine answer; a crash, a sanitizer report (a read past
// the data) or a broken promise is a fault: a decoded image has a size the store holds, and encoding it
// again into a lossless container and decoding that gives the same pixels.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "boot/startup.h"
#include "runtime/handles.h"
#include "runtime/image_store.h"
#include "runtime/memory.h"
#include "services/image_codecs.h"

namespace {

using namespace oka;

void fault(const char* what, size_t length) {
    std::fprintf(stderr, "%s (data of %zu bytes)\n", what, length);
    std::abort();
}

std::vector<uint32_t> pixels_of(int32_t handle) {
    os_image::Lock lock(handle, false);
    return {lock.pixels().begin(), lock.pixels().end()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        mem::reserve();
        runtime::init();  // the language memory and the handle table, which the pixels take
        return true;
    }();
    (void)ready;
    if (size < 1) return 0;
    int container = data[0] % image::kContainerCount;
    // A heap block of exactly the file's size, so that the sanitizers see a step past it.
    std::unique_ptr<uint8_t[]> file(new uint8_t[size - 1 ? size - 1 : 1]);
    std::memcpy(file.get(), data + 1, size - 1);
    const image::Codecs& codecs = image_codecs::codecs();
    int32_t handle = codecs.decode({file.get(), size - 1}, container);
    if (handle < 0) return 0;
    const os_image::Record& record = os_image::record(handle);
    if (!os_image::fits_q(record.width, record.height) || record.width == 0 || record.height == 0 ||
        record.pixels.size() != size_t(record.width) * record.height)
        fault("a decoded image of a size the store cannot hold", size);
    if (record.pixels.size() <= 1 << 16) {
        std::optional<std::vector<uint8_t>> again = codecs.encode(handle, 1);
        if (!again) fault("a decoded image that PNG cannot encode", size);
        int32_t copy = codecs.decode(*again, 1);
        if (copy < 0 || pixels_of(copy) != pixels_of(handle)) fault("a PNG round trip that changed the pixels", size);
        handles::free(copy, true);
    }
    handles::free(handle, true);
    return 0;
}
