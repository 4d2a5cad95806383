/* The lexer's tables, built at compile time: the character class and flags of every byte value, the
   automaton that finds where a token ends and what it is, and the automaton that checks the syntax
   of a decimal number.

   The automaton runs over the working states of lexer_states.def and the character classes of
   lexer_classes.def. A transition leads to another working state, or to a final state that ends the
   token and names its class (lexer_tokens.def): either before the byte that led there, or, for a
   closing character such as a quote or a bracket, after it. Every working state has a transition
   for the End class, so a token always ends at the end of the input. */
#pragma once

#include <array>
#include <string_view>

#include "runtime/cell.h"

namespace oka::lexer {

enum class CharClass : uint8_t {
#define OKA_CHAR_CLASS(Name, bytes) Name,
#include "evaluator/lexer_classes.def"
};
inline constexpr int kCharClassCount = 0
#define OKA_CHAR_CLASS(Name, bytes) +1
#include "evaluator/lexer_classes.def"
    ;
static_assert(kCharClassCount == 40, "the lexer sorts bytes into 40 classes");

enum class State : uint8_t {
#define OKA_STATE(Name, type) Name,
#include "evaluator/lexer_states.def"
};
inline constexpr int kStateCount = 0
#define OKA_STATE(Name, type) +1
#include "evaluator/lexer_states.def"
    ;
static_assert(kStateCount == 67, "lexer_states.def: the automaton has 67 working states");

enum class Token : uint8_t {
#define OKA_TOKEN(Name, type, scanner, loader, prescanned, exit) Name,
#include "evaluator/lexer_tokens.def"
};
inline constexpr int kTokenCount = 0
#define OKA_TOKEN(Name, type, scanner, loader, prescanned, exit) +1
#include "evaluator/lexer_tokens.def"
    ;
static_assert(kTokenCount == 36, "the lexer knows 36 token classes");

// Flags of the class table, above the class byte: the scanner ORs them over a token's bytes so that
// the token routines can take their fast paths.
enum CharFlag : uint32_t {
    kCaretFlag = 1u << 8,          // ^: an escape
    kColonFlag = 1u << 9,          // :
    kNonAsciiFlag = 1u << 10,      // a byte of 80h and above
    kFourByteLeadFlag = 1u << 11,  // a lead byte of a four-byte UTF-8 sequence
};

struct CharInfo {
    uint32_t bits;

    constexpr CharClass char_class() const { return CharClass(bits & 0xFF); }
};
extern const std::array<CharInfo, 256> char_table;

// A transition: a working state, or kFinal plus the token class, with kTake when the byte ends the
// token as its last byte.
inline constexpr uint8_t kFinal = kStateCount;
inline constexpr uint8_t kTake = 0x80;
static_assert(kFinal + kTokenCount <= kTake, "a transition fits in one byte");

using TransitionRow = std::array<uint8_t, kCharClassCount>;
extern const std::array<TransitionRow, kStateCount> transitions;

// The datatype each working state is heading for, and each token class stands for.
Type state_type(State state);
Type token_type(Token token);

// True for a class that ends a token of most kinds: blanks, line ends, brackets, braces, quotes,
// semicolons, commas and the end.
bool delimiter_q(CharClass c);
inline bool delimiter_byte_q(uint8_t byte) { return delimiter_q(char_table[byte].char_class()); }

// True when the text is a decimal number: an optional sign, digits with single ' between them, an
// optional . and fraction digits, an optional exponent; digits before or after the point, or both.
bool float_syntax_q(std::string_view text);

}  // namespace oka::lexer
