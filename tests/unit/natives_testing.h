// Helpers of the tests that run code: the built-in functions and the library's base environment, as
// the program boots them, and code written as text (function_testing.h's reader) evaluated under a
// try frame.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "boot/boot.h"
#include "evaluator/interpreter.h"
#include "function_testing.h"
#include "runtime/collector.h"

namespace oka::test {

// The value of the code written as text, molded; "*** " and the error's id when it raises one.
inline std::string eval(std::string_view text) {
    Cell code = load(text), result = none::value, error;
    auto run_code = [&] {
        interpreter::eval_block(code, false);
        result = keep(stack::top[-1]);
    };
    if (error::trap(run_code, &error))
        return std::string("*** ") + error::info(Err(integer::get(*error::field(error, error::kCode)))).word;
    return mold(result);
}

// Tests that run code in the environment the program boots into: booted by the first of them, and given
// back its global words as the boot left them to each.
//
// The boot runs the library's scripts: some twenty seconds of processor time under the collector's
// stress mode at every allocation, the same code for each file of tests (ctest runs each file in a
// process of its own), and every transcript boots so too. So the library boots with the stress mode
// paused, save where a fixture asks for it (stressed_boot): there a boot at every allocation follows
// tests that leave the heap in states the transcripts' boot never starts from.
class CodeTest : public testing::Test {
protected:
    void SetUp() override {
        if (booted_global_words.remembered_q()) return booted_global_words.restore();
        boot::define_built_ins();
        boot_library(stressed_boot());
        booted_global_words.remember();
    }
    virtual bool stressed_boot() const { return false; }

private:
    static void boot_library(bool stressed) {
        uint32_t interval = collector::stress_interval;
        if (!stressed) collector::stress_interval = 0;
        boot::build_library();
        boot::start_run();
        collector::stress_interval = interval;
    }
};

// A case of a table: code and the molded value it gives ("*** id" for an error).
struct CodeCase {
    const char* code;
    const char* result;
};

inline void expect_results(std::initializer_list<CodeCase> cases) {
    for (const CodeCase& c : cases) EXPECT_EQ(eval(c.code), c.result) << c.code;
}

}  // namespace oka::test
