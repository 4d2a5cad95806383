#include "library/routines.h"

#include <array>
#include <iterator>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "runtime/error.h"
#include "runtime/print_hooks.h"
#include "runtime/stack.h"

namespace oka::library {

namespace {

constexpr std::string_view kTypeTestSpec =
    R"~(["Returns true if the value is this type" value [any-type!] return: [logic!]])~";

template <Type type>
void type_test_r(Cell* arguments) {
    logic::make_at(arguments, arguments->is(type));
}

enum TypesetTest : uint32_t {
#define OKA_TYPESET_TEST(Name, word, typeset) Name##_test,
#include "library/routines.def"
    kTypesetTests
};

constexpr const char* kTypesetWords[] = {
#define OKA_TYPESET_TEST(Name, word, typeset) typeset,
#include "library/routines.def"
};
static_assert(std::size(kTypesetWords) == 14, "fourteen typeset tests");

// The global words that the typeset tests read, made at init: bound to the global context, which never
// goes away.
Cell typeset_words[kTypesetTests];

// Reads the typeset the word holds at the time of the call, so that a script that redefines series!
// changes what series? answers. A word holding no typeset answers false.
template <TypesetTest test>
void typeset_test_r(Cell* arguments) {
    const Cell& word = typeset_words[test];
    BufPtr<Cell> set = word::get_cell(word);
    if (set->is(Type::Unset)) fire(Err::script_no_value, &word);
    logic::make_at(arguments, set->is(Type::Typeset) && typeset::has_q(*set, arguments->type()));
}

struct Row {
    std::string_view target;
    std::string_view spec;     // empty for a typeset test, whose doc string names its typeset
    std::string_view typeset;  // a typeset test's typeset word
    routines::Entry entry;
};

constexpr Row kRows[] = {
#define OKA_ROUTINE(Name, target, spec) {target, spec, {}, &Name##_r},
#define OKA_TYPE_TEST(Name, word, type) {word, kTypeTestSpec, {}, &type_test_r<Type::type>},
#define OKA_TYPESET_TEST(Name, word, typeset) {word, {}, typeset, &typeset_test_r<Name##_test>},
#include "library/routines.def"
};

constexpr size_t kTypeTests = [] {
    size_t count = 0;
#define OKA_TYPE_TEST(Name, word, type) count++;
#include "library/routines.def"
    return count;
}();
static_assert(kTypeTests == 48, "forty-eight datatype tests");
static_assert(std::size(kRows) == 24 + kTypeTests + kTypesetTests + 1 + 1 + 3 + 5 * 2 + 2 + 1 + 1 + 8 + 1,
              "the boot routines, the type tests, the call-stack test, the float switch, the three collector "
              "statistics, the encode and decode of the five image codecs and of the serialised-value codec, "
              "the tracing switch, the JSON decoder's, the eight routines of line input and help's terminal "
              "test");

constexpr auto kEntries = [] {
    std::array<routines::Entry, std::size(kRows)> entries{};
    for (size_t i = 0; i < entries.size(); i++) entries[i] = kRows[i].entry;
    return entries;
}();

// Whether the last byte written to standard output was a line feed; nothing written counts as one.
bool last_lf = true;

void watch_output(const char* text, uint32_t length) {
    if (length) last_lf = text[length - 1] == '\n';
}

// The native result type that the call boxes, as the routine! keeps it: logic!, integer! or none (-1).
int32_t return_type(std::string_view spec) {
    if (spec.find("return: [logic!]") != spec.npos) return int32_t(Type::Logic);
    if (spec.find("return: [integer!]") != spec.npos) return int32_t(Type::Integer);
    return -1;
}

// Pushes the routine! of a row: its spec and the body [<native: target>].
Cell* push_routine(uint32_t row) {
    std::string spec = routine_spec(row);
    Cell* spec_block = lexer::load(std::string_view(spec).substr(1, spec.size() - 2));
    Cell* body = lexer::load("<native: " + std::string(kRows[row].target) + ">");
    return routine::push(*spec_block, *body, row, return_type(spec), false);
}

bool field_target_q(uint32_t row) { return kRows[row].target.find('/') != std::string_view::npos; }

}  // namespace

void last_lf_q_r(Cell* arguments) { logic::make_at(arguments, last_lf); }

void init() {
    routines::install(kEntries.data(), uint32_t(kEntries.size()));
    for (uint32_t i = 0; i < kTypesetTests; i++) typeset_words[i] = word::load(kTypesetWords[i]);
    io::add_print_hooks(nullptr, watch_output);
}

namespace {

// The value cell of a field of an object, or of a word key of a map (where word keys are stored as
// set-words: the entries are key, value pairs).
BufPtr<Cell> member_cell(const Cell& holder, uint32_t symbol) {
    if (holder.is(Type::Map)) {
        Cell entries{uint8_t(Type::Block), 0, holder.data2, 0};
        uint32_t length = block::rs_length_q(entries);
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            BufPtr<Cell> key = block::rs_abs_at(entries, i);
            if (key->is(Type::SetWord) && key->data2 == symbol) return key + 1;
        }
        OKA_ASSERT(false);
    }
    OKA_ASSERT(holder.is(Type::Object));
    int32_t position = object::find_word(holder, symbol);
    OKA_ASSERT(position >= 0);
    return BufPtr<Cell>(object::get_values(holder).get() + position);
}

}  // namespace

BufPtr<Cell> field_cell(std::string_view path) {
    size_t slash = path.find('/');
    Cell holder = *word::get_cell(word::load(path.substr(0, slash)));
    for (;;) {
        path.remove_prefix(slash + 1);
        slash = path.find('/');
        BufPtr<Cell> cell = member_cell(holder, symbol::make(path.substr(0, slash)));
        if (slash == std::string_view::npos) return cell;
        holder = *cell;
    }
}

uint32_t routine_count() { return uint32_t(std::size(kRows)); }
std::string_view routine_target(uint32_t row) { return kRows[row].target; }

std::string routine_spec(uint32_t row) {
    if (!kRows[row].spec.empty()) return std::string(kRows[row].spec);
    std::string_view name = kRows[row].typeset;
    name.remove_suffix(1);
    return R"~(["Returns true if the value is any type of )~" + std::string(name) +
           R"~(" value [any-type!] return: [logic!]])~";
}

void bind_global_routines() {
    for (uint32_t row = 0; row < routine_count(); row++) {
        if (field_target_q(row)) continue;
        Cell* saved = stack::top;
        Cell* routine = push_routine(row);
        Cell name = word::load(kRows[row].target);
        word::set_value(&name, *routine);
        stack::top = saved;
    }
}

void bind_field_routines() {
    for (uint32_t row = 0; row < routine_count(); row++) {
        if (!field_target_q(row)) continue;
        Cell* saved = stack::top;
        Cell* routine = push_routine(row);
        *field_cell(kRows[row].target) = *routine;
        stack::top = saved;
    }
}

}  // namespace oka::library
