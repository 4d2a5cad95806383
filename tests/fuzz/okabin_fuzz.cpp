// A fuzz target for the decoder of serialised values (libFuzzer): the input is data given to the decoder
// in codec mode, as a script's decode gives it. An error is a fine answer; a crash, a sanitizer report, an
// internal assertion (the language memory checked after every collection) or an exit is a fault. What
// decodes is then molded, encoded in both record forms and decoded again, which must give no error.
//
// The stress mode of the collector applies as everywhere: run with OKA_GC_STRESS=N set.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/actions.h"
#include "platform/thread_stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "services/okabin.h"

namespace {

using namespace oka;

constexpr size_t kStackBytes = size_t(512) << 20;

struct Input {
    const uint8_t* data;
    size_t size;
};

int start_up(void*) {
    runtime::init();
    boot::finish_start_up();
    return 0;
}

// Molds the value on a frame of its own, as a call of mold would.
void mold(const Cell& value) {
    Cell* base = stack::frame_base;
    Cell* top = stack::top;
    stack::frame_base = stack::top;
    stack::push(value);
    int32_t no_refinements[16];
    std::fill(std::begin(no_refinements), std::end(no_refinements), -1);
    error::trap([&] { actions::mold_s(no_refinements); });
    stack::frame_base = base;
    stack::top = top;
}

// A value that decoded encodes again, in each form, to data that decodes without an error. A value
// the encoders refuse (a word bound where no record can say) is no fault. The data and the block it
// decodes into are held on the data stack, which is then as it was.
void round_trip(const Cell& value) {
    for (bool compact : {true, false}) {
        Cell* saved = stack::top;
        Cell encoded;
        if (error::trap([&] { encoded = *okabin::encode(value, {compact, false}); })) continue;
        Cell* data = stack::push(encoded);
        Cell* again = block::make_at(stack::push_next(), 1);
        string::Text bytes = string::text_of(*data);
        std::vector<uint8_t> copy(bytes.data.get(), bytes.data.get() + bytes.length);
        Cell error;
        if (error::trap([&] { okabin::decode(copy.data(), copy.size(), *again, okabin::Mode::codec); }, &error)) {
            std::fprintf(stderr, "a decoded value encoded (%s) to data that does not decode: %s\n",
                         compact ? "compact" : "plain", std::string(symbol::name(error::get_id(error))).c_str());
            std::abort();
        }
        stack::top = saved;
    }
}

// Every input leaves the data stack as it found it: a cell left behind by each would fill it after some
// thousands of inputs, and the overflow would then be reported against whatever input came next.
int decode(void* argument) {
    const Input& input = *static_cast<Input*>(argument);
    collector::on = true;
    Cell* saved = stack::top;
    Cell* target = block::make_at(stack::push_next(), 1);
    bool failed = error::trap([&] { okabin::decode(input.data, input.size, *target, okabin::Mode::codec); });
    if (!failed) {
        for (uint32_t i = 0; i < series::rs_length_q(*target); i++) {
            Cell value = *block::rs_abs_at(*target, i);
            mold(value);
            round_trip(value);
        }
    }
    stack::top = saved;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    close(null_device);
    mem::reserve();
    platform::run_with_stack(kStackBytes, start_up, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Cell* const start = stack::top;
    Input input{data, size};
    platform::run_with_stack(kStackBytes, decode, &input);
    if (stack::top != start) {
        std::fprintf(stderr, "the input left %td cells on the data stack\n", stack::top - start);
        std::abort();
    }
    return 0;
}
