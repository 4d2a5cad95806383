// A fuzz target for the lexer (libFuzzer): any bytes, scanned in every mode transcode has, and from a
// string! as well as from raw text. A syntax error is a fine answer; a crash, a sanitizer report or an
// internal assertion is a fault. What loads is molded, and the molded text must load again as the
// same: mold/all writes what the lexer reads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/boot.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/none.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/types.h"

namespace {

using namespace oka;

const lexer::Options kModes[] = {
    {},                            // every value, built
    {.one = true},                 // the first value
    {.one = true, .wrap = true},   // the first value, in a block
    {.load = false},               // the tokens checked, nothing built
    {.one = true, .scan = false},  // a prescan: the first value's type guessed
    {.one = true, .load = false},  // the first value's type, its token checked
};

// The text of mold/all of a value, as UTF-8.
std::string mold(Cell* value) {
    Cell* buffer = string::rs_make_at(stack::push(none::value), 64);
    actions::call<Act::mold>(value, buffer, MoldOptions{.all = true}, -1, 0);
    std::string text(series::rs_length_q(*buffer) * 4 + 1, '\0');
    text.resize(unicode::to_utf8_buffer(buffer, reinterpret_cast<uint8_t*>(text.data()), -1, false));
    return text;
}

// The one value that a molded text loads as, molded again.
std::string reload(const std::string& molded) {
    Cell* values = lexer::load(molded);
    if (series::rs_length_q(*values) != 1) return "(not one value)";
    return mold(stack::push(*block::rs_head(values)));
}

// False when a value holds what its formers write otherwise than the lexer reads it, which is no
// fault of the lexer's: a time, whose former splits the hours off in floating point and rounds the
// seconds as it writes them (a large time or one a hair below a full minute molds an hour or a second
// off); inside a path a date with a time or of a year below zero, whose text has slashes in it; and
// inside a path a float, which a path's text cannot hold (an integer too large for its type loads as
// one). A map is read through its keys and values.
bool molds_as_read_q(const Cell& value, bool in_path = false) {
    if (value.is(Type::Time)) return false;
    if (value.is(Type::Float)) return !in_path;
    if (value.is(Type::Date))
        return !in_path || (date::year_of(value.date_word()) >= 0 && !date::time_q(value.date_word()));
    if (value.is(Type::Map)) return molds_as_read_q(Cell::of(Type::Block).set_node(value.node()));
    if (!is_a(value.type(), TypeClass::any_block)) return true;
    bool path = is_a(value.type(), TypeClass::any_path);
    for (uint32_t i = value.head(); i < series::rs_length_q(value) + value.head(); i++)
        if (!molds_as_read_q(*block::rs_abs_at(value, i), path)) return false;
    return true;
}

// Loads the text; when it loads, the block of its values molded must load as the same block.
void round_trip(const uint8_t* data, size_t size) {
    std::string first, second;
    bool comparable = false;
    error::trap([&] {
        Cell* values = lexer::load({reinterpret_cast<const char*>(data), size});
        comparable = molds_as_read_q(*values);
        if (comparable) first = mold(values);
    });
    if (!comparable) return;
    if (error::trap([&] { second = reload(first); })) {
        std::fprintf(stderr, "the molded form does not load: %s\n", first.c_str());
        std::abort();
    }
    if (first != second) {
        std::fprintf(stderr, "the molded form loads as another value:\n%s\n%s\n", first.c_str(), second.c_str());
        std::abort();
    }
}

void scan_in_every_mode(const uint8_t* data, size_t size) {
    for (const lexer::Options& mode : kModes) {
        uint32_t consumed;
        error::trap([&] { lexer::scan(stack::push(none::value), data, uint32_t(size), mode, &consumed); });
        error::trap([&] {
            Cell* text = string::load(data, uint32_t(size), unicode::kUtf8);
            lexer::scan_string(stack::push(none::value), *text, -1, mode, &consumed);
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mem::reserve();
    runtime::init();
    boot::finish_start_up();  // dates mold with the month names of system/locale
    collector::on = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scan_in_every_mode(data, size);
    round_trip(data, size);
    return 0;
}
