/* The lexer: source text into values, and the number scanner that `to` uses on text.

   A scan runs an automaton over the classes of the bytes (evaluator/lexer_tables.h) to find each
   token and what it is; the token's routines (evaluator/lexer_tokens.cpp) check it and build its
   value. Values collect in one buffer of output slots shared by every running scan; an open
   container is a marker slot until its closer packs the slots after it into a block, paren or path.

   Modes, as transcode's refinements set them: `one` stops after the first complete top-level value;
   without `scan` only the automaton and the structure scanners run (a prescan, which guesses the
   type of the first value); without `load` the token routines only check the tokens. An invalid
   token raises a syntax error naming its line and its text, unless a trace callback takes it. A
   trace callback (a function! or routine!) hears the events prescan, scan, load, open, close and
   error, may refuse the step each stands for, and may move the scan by moving its input argument.

   Rules:
   - Scanning allocates, and a callback may run any code, nested scans included.
   - The text must not lie in a series buffer and must stay in place for the whole scan; the string
     entry points copy it out first.
   - A cell passed by pointer must be fixed (on the data stack): results are written after
     allocating.
   - The output slots, the input series and the callback of every running scan are roots of the
     collector through mark_gc. */
#pragma once

#include <string>
#include <string_view>

#include "datatypes/string.h"

namespace oka::lexer {

struct Options {
    bool one = false;                // stop after the first complete top-level value
    bool scan = true;                // run the token routines (false: prescan)
    bool load = true;                // build values (false: check the tokens only)
    bool wrap = false;               // in one mode, still answer a block of the value
    const Cell* callback = nullptr;  // a trace function! or routine!, or none
    const Cell* into = nullptr;      // a block to append the values to, instead of a new one
};

// Scans `size` bytes of UTF-8 text. When values are built they end in `destination`: a block of the
// top-level values (the into block, appended to), or in one mode without wrap the first value itself
// (unset when there is none). `input` is the series the text came from, which a callback sees; then
// `consumed` counts its units (characters of a string), else bytes. Answers the type of the last token
// scanned (Void for none); error! when a prescan or a check met an invalid token, which they report so
// instead of raising a syntax error.
Type scan(Cell* destination, const uint8_t* text, uint32_t size, const Options& options, uint32_t* consumed,
          const Cell* input = nullptr);
// The same for the characters of a string from its head, at most `length` (-1: all).
Type scan_string(Cell* destination, const Cell& string, int32_t length, const Options& options, uint32_t* consumed);

// The one value of a string's text, in `result` (unset for an empty text); the shared none value when
// the text holds more than one value.
const Cell* scan_single(const Cell& string, Cell* result);
// Every value of a UTF-8 text, in a new block pushed on the data stack.
Cell* load(std::string_view utf8);
// The datatype of the first value of a UTF-8 text, its token checked (Void for none, error! when
// invalid), as transcode/scan answers.
Type scan_type(std::string_view utf8);
// True when the whole UTF-8 text is one valid token of the type: the text that a word, an issue ... of
// a name must mold to for the lexer to read the same value back.
bool single_token_q(std::string_view utf8, Type type);

// Runs a trace callback on the five argument cells at `arguments`, the top of the data stack: event,
// input, type, line and token. Leaves its result in the first cell and the input argument, as the
// callback left it, in the second. Calling functions is the interpreter's, which sets this; until it
// does, a scan with a callback raises internal not-done.
using CallbackCaller = void (*)(const Cell& callback, Cell* arguments);
inline CallbackCaller call_callback = nullptr;

// Makes the collector mark, at every cycle, what the running scans hold outside its other roots: their
// output slots, input series and callbacks (mark_gc). Runs once at start-up.
void init();
void mark_gc();

}  // namespace oka::lexer

// Numbers read from the text of a string, with the lexer's syntax: for the conversions of `to`.
namespace oka::tokenizer {

enum class NumberError { none, malformed, overflow };

// An optional sign and decimal digits, ' skipped anywhere.
int32_t scan_integer(const string::Text& text, NumberError& error);
// A decimal number, with , as well as . for the decimal point, or a special form 1.#INF, 1.#NaN; at
// most 312 characters. NaN when malformed.
double scan_float(const string::Text& text, NumberError& error);

// The parts of a money text that the money constructor takes (datatypes/money.h), which checks the
// currency and how many digits there are.
struct MoneyText {
    bool negative = false;
    std::string currency;         // three letters, or empty
    std::string whole, fraction;  // the digits before and after the decimal point, without separators
};
// An optional sign, an optional currency code of three letters ended by $ (the $ is optional without
// one), then digits with ' between two of them and at most one decimal point, . or ",", neither first
// nor last. False when malformed. The lexer reads money literals by the same rules.
bool scan_money(const string::Text& text, MoneyText& money);

}  // namespace oka::tokenizer
