// Helpers of the tests that run code: the built-in functions bound to their words as start-up binds
// them, with the base typesets and the operators, and code written as text (function_testing.h's
// reader) evaluated under a try frame.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "datatypes/datatype.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/trace.h"
#include "function_testing.h"

namespace oka::test {

// The typesets and operators of the boot scripts, in the words the reader knows.
inline constexpr std::string_view kBaseDefinitions = R"(
    internal!: make typeset! [unset!]
    external!: make typeset! [event!]
    number!: make typeset! [integer! float! percent!]
    any-point!: make typeset! [point2D! point3D!]
    any-word!: make typeset! [word! set-word! lit-word! get-word!]
    any-list!: make typeset! [block! paren! hash!]
    any-path!: make typeset! [path! lit-path! set-path! get-path!]
    any-function!: make typeset! [native! action! op! function! routine!]
    any-object!: make typeset! [object! error! port!]
    any-string!: make typeset! [string! file! url! tag! email! ref!]
    scalar!: or~ or~ number! any-point! make typeset! [money! char! pair! tuple! time! date!]
    all-word!: or~ any-word! make typeset! [refinement! issue!]
    any-block!: or~ any-path! any-list!
    series!: or~ or~ make typeset! [binary! image! vector!] any-block! any-string!
    immediate!: or~ or~ scalar! all-word! make typeset! [none! logic! datatype! typeset! handle! date!]
    default!: or~ or~ or~ or~ or~ series! immediate! any-object! external! any-function! make typeset! [map! bitset!]
    any-type!: or~ default! internal!
    +: make op! :add
    -: make op! :subtract
    *: make op! :multiply
    =: make op! :equal?
    <>: make op! :not-equal?
    <: make op! :lesser?
    >: make op! :greater?
)";

// A native! or action! made from its spec text and table slot, bound to its word.
inline void define_built_in(Type type, std::string_view word, std::string_view spec, uint32_t slot) {
    Cell recipe = block_of({load(spec), int_cell(int32_t(slot))});
    define(word, run(actions::make_s, {type_cell(type), recipe}));
}

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

// Brings up what start-up has not brought up yet: the interpreter, the natives table and the words of
// the built-in functions, the datatypes, the base values, typesets and operators.
inline void define_built_ins() {
    if (interpreter::current_code.is(Type::Void)) {
        interpreter::init();
        trace::init();
        natives::init();
    }
    if (word::get_cell(word::load("if"))->is(Type::Native)) return;
    datatype::set_words();
    for (uint32_t slot = 1; slot <= natives::count(); slot++) {
        std::string_view spec = natives::spec_of(slot);
        define_built_in(Type::Native, natives::word_of(slot), spec.substr(1, spec.size() - 2), slot);
    }
#define OKA_ACTION(slot, Name, word, Result, Params, arguments) \
    define_built_in(Type::Action, word, arguments, uint32_t(Act::Name));
#include "runtime/actions.def"
#undef OKA_ACTION
    define("none", none::value);
    for (const char* name : {"true", "yes", "on"}) define(name, logic::true_value);
    for (const char* name : {"false", "no", "off"}) define(name, logic::false_value);
    std::string definitions(kBaseDefinitions);
    std::replace(definitions.begin(), definitions.end(), '\n', ' ');  // the reader's separator is the space
    std::string outcome = eval(definitions);
    EXPECT_FALSE(outcome.starts_with("***")) << outcome;
}

// Tests that run code in the run-time's base environment.
class CodeTest : public testing::Test {
protected:
    void SetUp() override { define_built_ins(); }
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
