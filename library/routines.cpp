#include "library/routines.h"

#include <array>
#include <iterator>
#include <vector>

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
static_assert(std::size(kRows) == 24 + kTypeTests + kTypesetTests + 1 + 1 + 3 + 5 * 2 + 2 + 1 + 1 + 1,
              "the boot routines, the type tests, the call-stack test, the float switch, the three collector "
              "statistics, the encode and decode of the five image codecs and of the serialised-value codec, "
              "the tracing switch, the JSON decoder's and help's terminal test");

// The whole table: the library's rows, then those the layers above add.
struct TableRow {
    std::string_view target;
    std::string spec;
    bool bound = false;  // its routine! is in its place
};
std::vector<TableRow> table_rows;
std::vector<routines::Entry> table_entries;

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
    Cell* body = lexer::load("<native: " + std::string(table_rows[row].target) + ">");
    return routine::push(*spec_block, *body, row, return_type(spec), false);
}

bool field_target_q(uint32_t row) { return table_rows[row].target.find('/') != std::string_view::npos; }

// The spec of a typeset test names its typeset.
std::string typeset_test_spec(std::string_view typeset) {
    typeset.remove_suffix(1);
    return R"~(["Returns true if the value is any type of )~" + std::string(typeset) +
           R"~(" value [any-type!] return: [logic!]])~";
}

void append_row(std::string_view target, std::string spec, routines::Entry entry) {
    table_rows.push_back({target, std::move(spec)});
    table_entries.push_back(entry);
}

}  // namespace

void last_lf_q_r(Cell* arguments) { logic::make_at(arguments, last_lf); }

void add_routines(std::span<const RoutineRow> rows) {
    for (const RoutineRow& row : rows) append_row(row.target, std::string(row.spec), row.entry);
    routines::install(table_entries.data(), uint32_t(table_entries.size()));
}

void init() {
    table_rows.clear();
    table_entries.clear();
    for (const Row& row : kRows)
        append_row(row.target, row.spec.empty() ? typeset_test_spec(row.typeset) : std::string(row.spec), row.entry);
    routines::install(table_entries.data(), uint32_t(table_entries.size()));
    for (uint32_t i = 0; i < kTypesetTests; i++) typeset_words[i] = word::load(kTypesetWords[i]);
    io::add_print_hooks(nullptr, watch_output);
}

namespace {

// The value cell of a field of an object, or of a word key of a map (where word keys are stored as
// set-words: the entries are key, value pairs); null when there is none.
BufPtr<Cell> member_cell(const Cell& holder, uint32_t symbol) {
    if (holder.is(Type::Map)) {
        Cell entries = Cell::of(Type::Block).set_node(holder.node());
        uint32_t length = block::rs_length_q(entries);
        for (uint32_t i = 0; i + 1 < length; i += 2) {
            BufPtr<Cell> key = block::rs_abs_at(entries, i);
            if (key->is(Type::SetWord) && key->symbol() == symbol) return key + 1;
        }
        return {};
    }
    if (!holder.is(Type::Object)) return {};
    int32_t position = object::find_word(holder, symbol);
    if (position < 0) return {};
    return BufPtr<Cell>(object::get_values(holder).get() + position);
}

}  // namespace

BufPtr<Cell> find_field_cell(std::string_view path) {
    size_t slash = path.find('/');
    Cell holder = *word::get_cell(word::load(path.substr(0, slash)));
    for (;;) {
        path.remove_prefix(slash + 1);
        slash = path.find('/');
        BufPtr<Cell> cell = member_cell(holder, symbol::make(path.substr(0, slash)));
        if (!cell || slash == std::string_view::npos) return cell;
        holder = *cell;
    }
}

BufPtr<Cell> field_cell(std::string_view path) {
    BufPtr<Cell> cell = find_field_cell(path);
    OKA_ASSERT(cell);
    return cell;
}

uint32_t routine_count() { return uint32_t(table_rows.size()); }
std::string_view routine_target(uint32_t row) { return table_rows[row].target; }
std::string routine_spec(uint32_t row) { return table_rows[row].spec; }

void bind_global_routines() {
    for (uint32_t row = 0; row < routine_count(); row++) {
        if (field_target_q(row)) continue;
        Cell* saved = stack::top;
        Cell* routine = push_routine(row);
        Cell name = word::load(table_rows[row].target);
        word::set_value(&name, *routine);
        table_rows[row].bound = true;
        stack::top = saved;
    }
}

uint32_t bind_field_routines() {
    uint32_t waiting = 0;
    for (uint32_t row = 0; row < routine_count(); row++) {
        if (!field_target_q(row) || table_rows[row].bound) continue;
        if (!find_field_cell(table_rows[row].target)) {
            waiting++;
            continue;
        }
        Cell* saved = stack::top;
        Cell* routine = push_routine(row);
        *field_cell(table_rows[row].target) = *routine;
        table_rows[row].bound = true;
        stack::top = saved;
    }
    return waiting;
}

}  // namespace oka::library
