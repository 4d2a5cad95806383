// Ports whose actor is a native table, which scripts cannot make: every action from append on is the
// table's, an empty entry is refused, and the actions before append stay the port!'s own.
#include <cstring>
#include <utility>

#include "datatypes/handle.h"
#include "datatypes/port.h"
#include "datatypes/string.h"
#include "natives_testing.h"
#include "runtime/unicode.h"

using namespace oka;
using namespace oka::test;

namespace {

class NativeActor : public CodeTest {};

const Cell* read_text(Cell*, const ReadOptions& options) {
    const char* text = options.part ? "part" : "whole";
    return string::load(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)), unicode::kUtf8);
}

// An empty native actor and one with read and length?, each offered by a scheme of its own.
void define_schemes() {
    static const int32_t empty = port::register_native_actor({});
    static const int32_t reader = port::register_native_actor(
        {implements<Act::read>(read_text), implements<Act::length_q>([](Cell*) { return int32_t(42); })});
    for (auto [name, index] : {std::pair{"empty-actor", empty}, std::pair{"reader-actor", reader}})
        handle::make_at(word::get_cell(word::load(name)).get(), index, HandleClass::null);
    eval(
        "append system/schemes reduce ['empty make object! [actor: empty-actor] 'reader make object! "
        "[actor: reader-actor]]");
}

}  // namespace

TEST_F(NativeActor, TakesActionsFromAppendOnFromItsTable) {
    define_schemes();
    expect_results({
        {"read make port! [scheme: 'reader]", R"("whole")"},
        {"read/part make port! [scheme: 'reader] 2", R"("part")"},
        {"length? make port! [scheme: 'reader]", "42"},
        {"type? make port! [scheme: 'empty]", "port!"},
        {"copy/part mold make port! [scheme: 'empty] 12", R"("make port! [")"},
        {"read make port! [scheme: 'empty]", "*** no-port-action"},
        {"open? make port! [scheme: 'empty]", "*** no-port-action"},
        {"append make port! [scheme: 'reader] 1", "*** no-port-action"},
    });
}
