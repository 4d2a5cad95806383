/* The oka program: the process entry. Everything runs on one thread with a large stack, inside the
   outermost protected call. */
#include <cstdlib>

#include "boot/startup.h"
#include "platform/signals.h"
#include "platform/thread_stack.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/throw.h"

namespace {

constexpr size_t kStackBytes = size_t(512) << 20;

int run(void*) {
    using namespace oka;
    platform::prepare_thread_for_faults();
    try {
        runtime::init();
    } catch (const Throw& t) {
        // An error that nothing caught is reported and ends the run as a failure.
        if (t.code == kThrowError) {
            error::print_raised();
            std::exit(-2);
        }
        sys::top_handler(t.code);
    }
    sys::quit(0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    oka::platform::install_fatal_handlers(oka::sys::on_fatal_signal);
    oka::mem::reserve();
    oka::sys::get_args(argc, argv);
    return oka::platform::run_with_stack(kStackBytes, run, nullptr);
}
