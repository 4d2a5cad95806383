// The lexer: source text to values, read back as molded text or as the report of the syntax error the
// text raises; the automaton's guesses; the scan modes; trace events through a C++ callback caller;
// and a round trip of every value case through mold.
#include <functional>
#include <string>
#include <vector>

#include "datatypes/function.h"
#include "evaluator/lexer.h"
#include "string_testing.h"

using namespace oka;
using namespace oka::test;

namespace {

// The block of values a text loads as.
Cell load(const std::string& text) { return keep(*lexer::load(text)); }

// The first line of an error's report.
std::string report_of(const Cell& error) {
    std::string report = form(error);
    return report.substr(0, report.find('\n'));
}

// The text loaded and molded, or the first line of the report of the error it raises.
std::string loaded(const std::string& text) {
    std::string out;
    Cell error;
    if (error::trap([&] { out = mold(load(text)); }, &error)) return report_of(error);
    return out;
}

struct Case {
    std::string text;
    std::string expected;
};

const std::vector<Case> kValueCases = {
    // words of every kind
    {"a b c", "[a b c]"},
    {"a: :a 'a /a", "[a: :a 'a /a]"},
    {"+ - * / // % < > <= >= <> << = == =? -> ** ^ .", "[+ - * / // % < > <= >= <> << = == =? -> ** ^ .]"},
    {"abc-def? ok! _x ~y |z `w &q a.b don't a<b> a=b", "[abc-def? ok! _x ~y |z `w &q a.b don't a<b> a=b]"},
    {"-a +b .c -> /:", "[-a +b .c -> /:]"},
    {"A F E AB Bah DEADbeef FFhex", "[A F E AB Bah DEADbeef FFhex]"},
    {"a;comment\nb", "[a\nb]"},
    {"#a #1 #a-b #a.b #a'b", "[#a #1 #a-b #a.b #a'b]"},
    // integers
    {"0 007 +5 -0 1'000 1' 2147483647 -2147483648", "[0 7 5 0 1000 1 2147483647 -2147483648]"},
    {"2147483648 -2147483649 12345678901 00000000001", "[2147483648.0 -2147483649.0 12345678901.0 1.0]"},
    {"[1][-1](2)", "[[1] [-1] (2)]"},
    {"0FFh 00h FFFFFFFFh 7FFFFFFFh 12h 1E0Ah", "[255 0 -1 2147483647 18 7690]"},
    // floats
    {"1.5 .5 -.5 1. 1.5e3 1e3 1E-3 +1.5 1'000.5 0.1", "[1.5 0.5 -0.5 1.0 1500.0 1000.0 0.001 1.5 1000.5 0.1]"},
    {"1.#INF -1.#INF 1.#nan +1.#inf", "[1.#INF -1.#INF 1.#NaN 1.#INF]"},
    // pairs and points
    {"1x2 -1x+2 1'000X-5 -2147483648x2147483647", "[1x2 -1x2 1000x-5 -2147483648x2147483647]"},
    {"(1, 2) ( 1.5 , -2, 3) (1.#INF,-0.5) (1e10, .5) [(0,0)]",
     "[(1, 2) (1.5, -2, 3) (1.#INF, -0.5) (1e10, 0.5) [(0, 0)]]"},
    // times
    {"1:30 -0:30 1:30:15 1:30.5 1:30:15,25 100:00 0:90",
     "[1:30:00 -0:30:00 1:30:15 0:01:30.5 1:30:15.25 100:00:00 1:30:00]"},
    {"35786912480337:10:08 -35786912480337:10:08 2:35786912480337.5",  // rounded once, however large
     "[35786912480337:10:08 -35786912480337:10:08 9940809022:20:57.5]"},
    // chars
    {"#\"a\" #\"^/\" #\"^(line)\" #\"^(41)\" #\"^(TAB)\" #\"^-\" #\"^^\" #\"^\"\" #\"^A\" #\"^[\"",
     "[#\"a\" #\"^/\" #\"^/\" #\"A\" #\"^-\" #\"^-\" #\"^^\" #\"^\"\" #\"^A\" #\"^[\"]"},
    {"#\"^(null)\" #\"^@\" #\"^~\" #\"^(back)\" #\"^(page)\" #\"^(esc)\" #\"^(del)\" #\"\xC3\xA9\"",
     "[#\"^@\" #\"^@\" #\"^~\" #\"^H\" #\"^L\" #\"^[\" #\"^~\" #\"\xE9\"]"},
    // strings
    {"\"abc\" \"\" \"a^\"b\" \"a^-b\" \"^(tab)x\" \"^{^}\" \"a{\"",
     "[\"abc\" \"\" {a\"b} \"a^-b\" \"^-x\" \"{}\" \"a{\"]"},
    {"{a{b}c} {a^}b} {} {{}} {a\nb} {a\"b}", "[\"a{b}c\" \"a}b\" \"\" \"{}\" \"a^/b\" {a\"b}]"},
    {"%{a}% %{^}% %%{a}%b}%% %{a\nb}%", "[\"a\" \"^^\" \"a}%b\" \"a^/b\"]"},
    {"\"\xC3\xA9t\xC3\xA9\"", "[\"\xE9t\xE9\"]"},
    // blocks, parens, paths
    {"[] [[]] ([]) [a (b [c])]", "[[] [[]] ([]) [a (b [c])]]"},
    {"a/b a/b/c 'a/b :a/b a/b: a/1 a/-1 a/(b) a/\"s\" a/#i a/'b a/:b a/#\"c\"",
     "[a/b a/b/c 'a/b :a/b a/b: a/1 a/-1 a/(b) a/\"s\" a/#i a/'b a/:b a/#\"c\"]"},
    {"[a/b] (a/b) a/(b/c)/d a/b/c: 1 a/1.5", "[[a/b] (a/b) a/(b/c)/d a/b/c: 1 a/1.5]"},
    // line breaks before values
    {"\n1\n2", "[\n    1\n    2\n]"},
    {"[\n1\n]", "[[\n    1\n]]"},
    {"1 ; one\n2\n; three\n[3]", "[1\n2\n[3]]"},
    {"a [b\nc] {x\ny}\nz", "[a [b\nc] \"x^/y\"\nz]"},
    // blanks: ASCII controls and Unicode blanks separate tokens
    {"a\x01"
     "b\tc\rd",
     "[a b c d]"},
    {"a\xC2\xA0"
     "b \xE3\x80\x80"
     "1 \xC2\xA0\xC2\xA0",
     "[a b 1]"},
    // binaries in base 16, 2 and 64, blanks and comments between the digits
    {"#{00 ff} #{} #{0A ; comment\n0B} 2#{00000001 1111 0000} 16#{AB} 64#{AAAA} 64#{TWE=} 64#{ TQ = = }",
     "[#{00FF} #{} #{0A0B} #{01F0} #{AB} #{000000} #{4D61} #{4D}]"},
    {"#(true) #(FALSE) #(none) #(unset) #(integer!) #(Block) #(string)",
     "[true false none unset integer! block! string!]"},
    {"1\x00 2", "[1]"},
    {"", "[]"},
    {"; only a comment", "[]"},
};

// What the automaton makes of each token shape (a prescan's guess), and what the token turns out to be
// once its routines checked it.
struct TypeCase {
    std::string text;
    Type guessed;
    Type checked;
};
const std::vector<TypeCase> kTypeCases = {
    {"abc", Type::Word, Type::Word},
    {"abc:", Type::Word, Type::SetWord},
    {"'abc", Type::Word, Type::LitWord},
    {":abc", Type::Word, Type::GetWord},
    {"<=", Type::Word, Type::Word},
    {"%", Type::Word, Type::Word},
    {"//", Type::Word, Type::Word},
    {"/abc", Type::Refinement, Type::Refinement},
    {"/", Type::Refinement, Type::Word},
    {"/:", Type::Refinement, Type::SetWord},
    {"#abc", Type::Issue, Type::Issue},
    {"123", Type::Integer, Type::Integer},
    {"2147483648", Type::Integer, Type::Float},
    {"1''2", Type::Integer, Type::Error},
    {"FFh", Type::Integer, Type::Integer},
    {"1.5", Type::Float, Type::Float},
    {"-1.#INF", Type::Float, Type::Float},
    {"1:30", Type::Time, Type::Time},
    {"1:", Type::Time, Type::Error},
    {"#\"a\"", Type::Char, Type::Char},
    {"\"abc\"", Type::String, Type::String},
    {"{a{b}c}", Type::String, Type::String},
    {"%{abc}%", Type::String, Type::String},
    {"[a b]", Type::Block, Type::Block},
    {"(a b)", Type::Paren, Type::Paren},
    {"a/b", Type::Path, Type::Path},
    {"a/b:", Type::SetPath, Type::SetPath},
    {"'a/b", Type::LitPath, Type::LitPath},
    {":a/b", Type::GetPath, Type::GetPath},
    {"#[a 1]", Type::Map, Type::Map},
    {"#(true)", Type::Logic, Type::Logic},
    {"#(none)", Type::None, Type::None},
    {"#(integer!)", Type::Datatype, Type::Datatype},
    {"1.2.3", Type::Tuple, Type::Tuple},
    {"1..2", Type::Tuple, Type::Error},
    {"1.2.256", Type::Tuple, Type::Error},
    {"1x2", Type::Pair, Type::Pair},
    {"(1, 2)", Type::Point2D, Type::Point2D},
    {"(1.5, -2, 1.#INF)", Type::Point3D, Type::Point3D},
    {"$1", Type::Money, Type::Money},
    {"1-Jan-2000", Type::Date, Type::Date},
    {"%abc", Type::File, Type::File},
    {"<a>", Type::Tag, Type::Tag},
    {"a@b", Type::Email, Type::Email},
    {"a:b", Type::Url, Type::Url},
    {"@abc", Type::Ref, Type::Ref},
    {"#{00}", Type::Binary, Type::Binary},
    {"12%", Type::Percent, Type::Percent},
    {"}", Type::Error, Type::Error},
    {"[1", Type::Error, Type::Error},
    {"; comment", Type::Void, Type::Void},
    {"", Type::Void, Type::Void},
    {" 1 2", Type::Integer, Type::Integer},
    {"[1 2] 3", Type::Block, Type::Block},
};

// The report of each kind of syntax error: the line, the datatype or the character at stake, and the
// text from the error's position to the end of its line.
const std::vector<Case> kErrorCases = {
    {"1''2", "invalid integer at 1''2"},
    {"123abc", "invalid integer at 123abc"},
    {"0fh", "invalid integer at 0fh"},
    {"1h", "invalid integer at 1h"},
    {"123456789h", "invalid integer at 123456789h"},
    {"Ah", "invalid word at Ah"},
    {"1e", "invalid float at 1e"},
    {"1.5e+ x", "invalid float at 1.5e+ x"},
    {"2.#INF", "invalid float at 2.#INF"},
    {"1.#INFO", "invalid float at 1.#INFO"},
    {"1:", "invalid time at 1:"},
    {"1:2:3:4", "invalid time at 1:2:3:4"},
    {"1:30e", "invalid time at 1:30e"},
    {"1:30.", "invalid time at 1:30."},
    {"\"abc", "invalid string at \"abc"},
    {"\"abc\ndef\"", "invalid string at \"abc"},
    {"\"^(zz)\"", "invalid string at \"^(zz)\""},
    {"\"^(1234567)\"", "invalid string at \"^(1234567)\""},
    {"\"\xFF\"", "invalid string at \"^(FF)\""},
    {"{abc", "invalid string at {abc"},
    {"a {b {c} d", "invalid string at {b {c} d"},
    {"%%{a}%", "invalid string at %%{a}%"},
    {"%{a}%%", "invalid string at %{a}%%"},
    {"%{abc", "invalid string at %{abc"},
    {"#\"ab\"", "invalid char at #\"ab\""},
    {"#\"\"", "invalid char at #\"\""},
    {"#\"^(110000)\"", "invalid char at #\"^(110000)\""},
    {"#", "invalid issue at #"},
    {"a\\b", "invalid word at a\\b"},
    {"x%", "invalid word at x%"},
    {"a\xC3", "invalid word at a^(C3)"},
    {":a:", "invalid word at :a:"},
    {"'\xC2\xA0"
     "b",
     "invalid lit-word at '\xA0"
     "b"},  // a Unicode blank ends the word, leaving no name
    {":\xE3\x80\x80"
     "b",
     "invalid get-word at :?b"},
    {"'a:", "invalid lit-word at 'a:"},
    {"'1", "invalid lit-word at '1"},
    {":1", "invalid get-word at :1"},
    {"/a/b", "invalid refinement at /a/b"},
    {"a/ b", "invalid path at a/ b"},
    {"x a/", "invalid path at a/"},
    {"a//b", "invalid path at a//b"},
    {"a/b:c", "invalid path at a/b:c"},
    {"'a/b: 1", "invalid path at 'a/b: 1"},
    {"a/[b]", "invalid path at a/[b]"},
    {"1, 2", "invalid point2D at , 2"},
    {"}", "invalid character at }"},
    {"\\", "invalid character at \\"},
    {"\x80", "invalid character at ^(80)"},
    {"#{0}", "invalid binary at #{0}"},
    {"#{0G}", "invalid binary at #{0G}"},
    {"#{\xC3\xA9}", "invalid binary at #{\xE9}"},
    {"#{00", "invalid binary at #{00"},
    {"#{00 ; }", "invalid binary at #{00 ; }"},
    {"2#{0101}", "invalid binary at 2#{0101}"},
    {"64#{TQ}", "invalid binary at 64#{TQ}"},
    {"64#{T===}", "invalid binary at 64#{T===}"},
    {"64#{TQ==TQ==}", "invalid binary at 64#{TQ==TQ==}"},
    {"3#{}", "invalid binary at 3#{}"},
    {"58#{1}", "invalid binary at 58#{1}"},
    {"#(foo)", "invalid construction spec at #(foo)"},
    {"#(true", "invalid construction spec at #(true"},
    {"#()", "invalid construction spec at #()"},
    {"[1 2", "missing ] at [1 2"},
    {"(1 [2)", "missing ] at )"},
    {"1 2]", "missing [ at ]"},
    {"(1 2]", "missing ) at ]"},
    {"(a, b)", "missing ( at )"},
    {"(1 a, b)", "missing ( at )"},
    {"a b [c", "missing ] at [c"},
    {"1''2345678901234567890123456789012345", "invalid integer at 1''234567890123456789012345678"},
};

// Errors report the line of their position, which line breaks inside tokens count too.
const std::vector<Case> kLineCases = {
    {"1\n2\n1''2", "*** Syntax Error: (line 3) invalid integer at 1''2"},
    {"{a\nb} {c\nd}\n}", "*** Syntax Error: (line 4) invalid character at }"},
    {"%{a\nb}% 1''2", "*** Syntax Error: (line 2) invalid integer at 1''2"},
    {"a\n{abc\ndef", "*** Syntax Error: (line 2) invalid string at {abc"},
    {"[\n1\n", "*** Syntax Error: (line 1) missing ] at ["},
    {"[a\nb] (\n1 2]", "*** Syntax Error: (line 3) missing ) at ]"},
    {"; [\n\"x\" 1''2", "*** Syntax Error: (line 2) invalid integer at 1''2"},
};

// ---- tracing through a C++ callback caller ----

// A trace callback: a function! whose body starts as `body` does (the lexer reads the events it wants
// from the block the body begins with).
Cell callback_with_body(const std::string& body) {
    Cell spec = load("event input type line token");
    function::push(spec, load(body), 0, 0, 0, 0);
    return keep(*(stack::top - 1));
}

// Stands for the interpreter while it lives: records each event as "event type line token @input" (the
// token a start x end pair, or the value loaded) and answers with `answer`, which may also move the
// input argument.
class Tracer {
public:
    using Answer = std::function<bool(const std::string& event, Cell* arguments)>;

    explicit Tracer(Answer answer = [](const std::string&, Cell*) { return true; })
        : answer_(std::move(answer)), outer_(active), outer_caller_(lexer::call_callback) {
        active = this;
        lexer::call_callback = record;
    }
    ~Tracer() {
        active = outer_;
        lexer::call_callback = outer_caller_;
    }
    const std::vector<std::string>& events() const { return events_; }

private:
    static void record(const Cell&, Cell* arguments) {
        Cell token = arguments[4];
        std::string event = mold(arguments[0]);
        std::string token_text =
            token.is(Type::Pair) ? std::to_string(token.x()) + "x" + std::to_string(token.y()) : mold(token);
        active->events_.push_back(event + " " + mold(arguments[2]) + " " + std::to_string(integer::get(arguments[3])) +
                                  " " + token_text + " @" + std::to_string(arguments[1].head()));
        logic::make_at(&arguments[0], active->answer_(event, arguments));
    }

    static inline Tracer* active = nullptr;
    Answer answer_;
    Tracer* outer_;
    lexer::CallbackCaller outer_caller_;
    std::vector<std::string> events_;
};

// The text transcoded with a trace callback: the values, or the report of the error raised.
std::string traced(const std::string& text, const Cell& callback, lexer::Options options = {}) {
    options.callback = &callback;
    std::string out;
    Cell error;
    bool failed = error::trap(
        [&] {
            Cell* result = stack::push(none::value);
            lexer::scan_string(result, str(text), -1, options, nullptr);
            out = mold(*result);
        },
        &error);
    return failed ? report_of(error) : out;
}

}  // namespace

TEST(LexerLoad, EveryLiteralKind) {
    for (const Case& c : kValueCases) EXPECT_EQ(loaded(c.text), c.expected) << c.text;
}

TEST(LexerErrors, EachKindReportsItsTextAndLine) {
    for (const Case& c : kErrorCases) EXPECT_EQ(loaded(c.text), "*** Syntax Error: (line 1) " + c.expected) << c.text;
    for (const Case& c : kLineCases) EXPECT_EQ(loaded(c.text), c.expected) << c.text;
}

TEST(LexerAutomaton, GuessesAndChecksEveryTokenShape) {
    for (const TypeCase& c : kTypeCases) {
        Cell unused;
        const auto* text = reinterpret_cast<const uint8_t*>(c.text.data());
        uint32_t size = uint32_t(c.text.size());
        EXPECT_EQ(lexer::scan(&unused, text, size, {.one = true, .scan = false}, nullptr), c.guessed) << c.text;
        EXPECT_EQ(lexer::scan_type(c.text), c.checked) << c.text;
    }
}

TEST(LexerModes, OneValueAtATimeAndParts) {
    struct ModeCase {
        std::string text;
        lexer::Options options;
        int32_t length;
        std::string molded;
        uint32_t consumed;
    };
    const ModeCase cases[] = {
        {"[1 2] 3", {.one = true}, -1, "[1 2]", 5},
        {" 1 2", {.one = true}, -1, "1", 2},
        {"; c\n 1 2", {.one = true}, -1, "1", 6},
        {"1 2", {.one = true, .wrap = true}, -1, "[1]", 1},
        {"a/b c", {.one = true}, -1, "a/b", 3},
        {"{a\nb} c", {.one = true}, -1, "\"a^/b\"", 5},
        {"%{a}%}%", {.one = true}, -1, "\"a\"", 5},
        {"", {.one = true}, -1, "#(unset)", 0},
        {"\xC3\xA9t\xC3\xA9 1", {.one = true}, -1, "\xE9t\xE9", 3},
        {"a b c", {}, 3, "[a b]", 3},
        {"\xC3\xA9 1 2", {}, 3, "[\xE9 1]", 3},
    };
    for (const ModeCase& c : cases) {
        Cell source = str(c.text);
        Cell* result = stack::push(none::value);
        uint32_t consumed;
        lexer::scan_string(result, source, c.length, c.options, &consumed);
        EXPECT_EQ(mold_all(keep(*result)), c.molded) << c.text;
        EXPECT_EQ(consumed, c.consumed) << c.text;
    }
}

TEST(LexerModes, IntoAppendsToTheBlockGiven) {
    Cell into = load("x");
    Cell* result = stack::push(none::value);
    lexer::scan_string(result, str("1 [2]"), -1, {.into = &into}, nullptr);
    EXPECT_EQ(mold(*result), "[x 1 [2]]");
    EXPECT_EQ(result->node(), into.node());
}

TEST(LexerModes, StringsTakeTheNarrowestUnitPastAscii) {
    struct UnitCase {
        std::string text;
        uint32_t unit;
    };
    const UnitCase cases[] = {
        {"\"abc\"", 1},          {"\"\xC3\xA9\"", 2},         {"\"^(E9)\"", 2},
        {"\"\xE2\x82\xAC\"", 2}, {"\"\xF0\x9F\x98\x80\"", 4}, {"{a^(1F600)}", 4},
    };
    for (const UnitCase& c : cases) {
        Cell block = load(c.text);
        EXPECT_EQ(unit_of(*block::rs_head(&block)), c.unit) << c.text;
    }
    Cell wide = load("\"a\xF0\x9F\x98\x80^(20AC)\"");
    EXPECT_EQ(utf8(*block::rs_head(&wide)), "a\xF0\x9F\x98\x80\xE2\x82\xAC");
}

TEST(LexerEvents, EveryEventOfEveryToken) {
    Tracer tracer;
    EXPECT_EQ(traced("[1 \"a\"] ; c\n{x}", callback_with_body("true")), "[[1 \"a\"]\n\"x\"]");
    const std::vector<std::string> expected = {
        "prescan block! 1 1x2 @0",     "open block! 1 1x2 @0",      "prescan integer! 1 2x3 @2",
        "scan integer! 1 2x3 @2",      "load integer! 1 1 @2",      "prescan string! 1 4x7 @6",
        "scan string! 1 4x7 @6",       "load string! 1 \"a\" @6",   "prescan block! 1 7x8 @6",
        "close block! 1 1x8 @7",       "prescan comment 1 9x12 @8", "scan comment 1 9x12 @11",
        "prescan string! 2 13x14 @12", "open string! 2 13x14 @12",  "close string! 2 13x16 @15",
        "scan string! 2 13x16 @15",    "load string! 2 \"x\" @15",  "prescan eof 2 16x16 @15",
    };
    EXPECT_EQ(tracer.events(), expected);
}

TEST(LexerEvents, TheBodysFirstBlockChoosesTheEvents) {
    Tracer tracer;
    EXPECT_EQ(traced("a [b (c)]", callback_with_body("[open close] true")), "[a [b (c)]]");
    const std::vector<std::string> expected = {"open block! 1 3x4 @2", "open paren! 1 6x7 @5", "close paren! 1 6x9 @8",
                                               "close block! 1 3x10 @9"};
    EXPECT_EQ(tracer.events(), expected);
}

TEST(LexerEvents, RefusalsDropValuesAndSkipTokens) {
    Tracer no_integers(
        [](const std::string& event, Cell* arguments) { return event != "load" || !arguments[4].is(Type::Integer); });
    EXPECT_EQ(traced("1 a [2 b] 3", callback_with_body("[load] true")), "[a [b]]");

    Tracer no_words([](const std::string& event, Cell* arguments) {
        return event != "prescan" || !arguments[2].is(Type::Datatype) || arguments[2].named_type() != Type::Word;
    });
    EXPECT_EQ(traced("1 a \"s\" b", callback_with_body("true")), "[1 \"s\"]");

    Tracer no_closing([](const std::string& event, Cell*) { return event != "close"; });
    EXPECT_EQ(traced("[1]", callback_with_body("[close error] true")), "*** Syntax Error: (line 1) missing ] at [1]");
}

TEST(LexerEvents, ErrorsTheCallbackTakesOrPassesOn) {
    Tracer passes;
    EXPECT_EQ(traced("[1", callback_with_body("[error] true")), "*** Syntax Error: (line 1) missing ] at [1");
    EXPECT_EQ(passes.events(), std::vector<std::string>{"error block! 1 1x3 @2"});

    // Taking the error and moving the input one character on goes on after the bad character.
    Tracer skips([](const std::string& event, Cell* arguments) {
        if (event == "error") arguments[1].set_head(arguments[1].head() + 1);
        return event != "error";
    });
    EXPECT_EQ(traced("1 }2 a\\b 3", callback_with_body("[error] true")), "[1 2 b 3]");
    const std::vector<std::string> expected = {"error error! 1 3x3 @2", "error word! 1 6x7 @6"};
    EXPECT_EQ(skips.events(), expected);

    // Taking a missing closer at the end leaves none.
    Tracer takes([](const std::string&, Cell*) { return false; });
    EXPECT_EQ(traced("[1 2", callback_with_body("[error] true")), "none");
}

TEST(LexerEvents, ACallbackMayScanAgain) {
    std::vector<std::string> inner;
    Tracer nested([&](const std::string& event, Cell* arguments) {
        if (event == "load" && arguments[4].is(Type::Word)) inner.push_back(mold(*lexer::load("[9 (8)] 7")));
        return true;
    });
    EXPECT_EQ(traced("[a (b [c", callback_with_body("[load] true")).substr(0, 18), "*** Syntax Error: ");
    EXPECT_EQ(traced("[a (b [c])] d", callback_with_body("[load] true")), "[[a (b [c])] d]");
    EXPECT_EQ(inner.size(), 7u);
    EXPECT_EQ(inner.back(), "[[9 (8)] 7]");
}

TEST(LexerEvents, PrescanningAnnouncesTheGuesses) {
    Tracer tracer;
    Cell unused;
    Cell callback = callback_with_body("[prescan open close] true");
    lexer::Options prescan{.scan = false, .callback = &callback};
    EXPECT_EQ(lexer::scan_string(&unused, str("[a 1''2 (1, 2)] x"), -1, prescan, nullptr), Type::Block);
    const std::vector<std::string> expected = {"prescan block! 1 1x2 @0",     "open block! 1 1x2 @0",
                                               "prescan word! 1 2x3 @2",      "prescan integer! 1 4x8 @7",
                                               "prescan point2D! 1 9x15 @14", "prescan block! 1 15x16 @14",
                                               "close block! 1 1x16 @15"};
    EXPECT_EQ(tracer.events(), expected);
}

// mold/all writes what loads back as the same values.
TEST(LexerRoundTrip, MoldedValuesLoadBackEqual) {
    auto molded = [](const Cell& value) { return utf8(run(actions::mold_s, {value}, {-1, 0})); };
    for (const Case& c : kValueCases) {
        std::string text = molded(load(c.text));
        Cell again = load(text);
        ASSERT_EQ(series::rs_length_q(again), 1u) << text;
        EXPECT_EQ(molded(*block::rs_head(&again)), text) << c.text;
        EXPECT_EQ(mold(*block::rs_head(&again)), c.expected) << c.text;
    }
}

// The output slots grow as they must, and containers nest without the C++ stack growing with them.
TEST(LexerLoad, ManyValuesAndDeepNesting) {
    std::string many;
    for (int i = 0; i < 5000; i++) many += std::to_string(i) + " ";
    Cell values = load(many);
    ASSERT_EQ(series::rs_length_q(values), 5000u);
    EXPECT_EQ(integer::get(*block::rs_abs_at(values, 4999)), 4999);

    constexpr int kDepth = 3000;
    Cell nested = load(std::string(kDepth, '[') + "x" + std::string(kDepth, ']'));
    for (int depth = 0; depth < kDepth; depth++) {
        ASSERT_EQ(series::rs_length_q(nested), 1u);
        nested = *block::rs_head(&nested);
    }
    EXPECT_EQ(mold(nested), "[x]");
}
