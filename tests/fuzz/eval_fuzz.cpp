// A fuzz target for the evaluator (libFuzzer): the input is one console input, loaded as Oka code and
// evaluated as the console evaluates a line typed at it, result and error report included. An Oka error
// is a fine answer; a crash, a sanitizer report, an internal assertion or a "*** Runtime Error" exit
// (which libFuzzer sees as the target exiting) is a fault, and so is an input that never ends.
//
// Each input starts from the environment that start-up left: the global words and the console's fields
// get back the values they had and the collector is switched on again, so that a word that one input
// redefined (`if: 1`), a console that it broke or `recycle/off` does not change what the next one
// does, and a finding replays from its input alone.
//
// The stress mode of the collector applies as everywhere: run with OKA_GC_STRESS=N set. The inputs run
// with compiled forms of code on (evaluator/compiled_forms.h), unless OKA_COMPILE=0 is set.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "boot/boot.h"
#include "boot/startup.h"
#include "console/repl.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/system_objects.h"
#include "datatypes/unset.h"
#include "platform/thread_stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/root.h"

namespace {

using namespace oka;

// The console's own stack size (boot/main.cpp): how deep the C++ code may recurse must be the same.
constexpr size_t kStackBytes = size_t(512) << 20;

// The values of the global words and of the fields of the console, whose do-command evaluates each
// input, just after start-up, kept by the collector.
struct Kept {
    Node context;
    Cell values;
};
Kept startup_values[2];

Cell values_of(Node context) { return Cell::of(Type::Block).set_node(_context::context_cell(context)->values()); }

void remember_startup_values() {
    Node contexts[] = {_context::global, system_objects::references.console.context()};
    for (size_t i = 0; i < std::size(contexts); i++) {
        Cell* saved = stack::top;
        startup_values[i] = {contexts[i], *block::clone(values_of(contexts[i]), block::Nested::shared)};
        stack::top = saved;
        runtime::register_root(&startup_values[i].values);
    }
}

// Words that inputs added since have no value again: they are still known, as in a console session.
void restore_startup_values() {
    for (const Kept& kept : startup_values) {
        Cell values = values_of(kept.context);
        uint32_t count = series::rs_length_q(kept.values);
        for (uint32_t i = 0; i < series::rs_length_q(values); i++)
            *block::rs_abs_at(values, i) = i < count ? *block::rs_abs_at(kept.values, i) : unset::value;
    }
}

// Inputs that contain one of these names, in any letter case, are skipped (a longer word that
// contains one as well, which keeps the check simple):
// - `while`, `until` and `forever` loop until their body or condition says stop, which a mutated input
//   almost never does: such an input would run until libFuzzer's timeout, a hang that is no fault of the
//   run-time's, and the time spent there is time not spent finding faults. Counted loops stay in:
//   libFuzzer's -timeout stops an input that counts too far. `wait` sleeps as long as it is told.
// - `call` and `browse` run other programs, and a mutated command line may run any program at all on
//   the fuzzing machine.
// - `write`, `delete` and `rename` change the file system, and a mutated path may name any file the
//   fuzzer's user may change. Reading stays in, but for `http`: reading an http or https URL is a
//   request over the network, which a fuzzing machine may not reach or should not be sent.
bool skipped_q(std::string_view input) {
    std::string lower(input);
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    for (std::string_view name :
         {"while", "until", "forever", "wait", "call", "browse", "write", "delete", "rename", "http"})
        if (lower.find(name) != lower.npos) return true;
    return false;
}

// Start-up as the console's (boot/main.cpp), then the environment it left remembered. An input that
// quits (`quit`, `q`, `quit-return`) would end the fuzzing process: there ending the program halts.
int start_up(void*) {
    runtime::init();
    boot::finish_start_up();
    console::use_size_without_terminal();
    console::do_command("quit-return: func [status] [halt]");
    remember_startup_values();
    return 0;
}

// One input, evaluated in the environment that start-up left.
int evaluate(void* input) {
    restore_startup_values();
    collector::on = true;
    console::do_command(*static_cast<std::string_view*>(input));
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // What the inputs print is no part of a finding, and writing it would slow every run.
    int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDOUT_FILENO);
    close(null_device);
    setenv("OKA_COMPILE", "1", 0);
    mem::reserve();
    platform::run_with_stack(kStackBytes, start_up, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (skipped_q(input)) return -1;  // kept out of the corpus
    platform::run_with_stack(kStackBytes, evaluate, &input);
    return 0;
}
