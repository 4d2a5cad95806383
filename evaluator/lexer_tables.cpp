// The lexer's tables, each built by a constexpr function from a readable description: the class of
// every byte from the class list, and the automaton from the token shapes written out below, one
// working state at a time.
#include "evaluator/lexer_tables.h"

namespace oka::lexer {

namespace {

using C = CharClass;
using S = State;
using T = Token;

// ---- character classes ----

constexpr const char* kClassBytes[] = {
#define OKA_CHAR_CLASS(Name, bytes) bytes,
#include "evaluator/lexer_classes.def"
};

constexpr uint32_t flags_of(uint8_t byte) {
    uint32_t flags = 0;
    if (byte == '^') flags |= kCaretFlag;
    if (byte == ':') flags |= kColonFlag;
    if (byte >= 0x80) flags |= kNonAsciiFlag;
    if (byte >= 0xF0 && byte <= 0xF7) flags |= kFourByteLeadFlag;
    return flags;
}

// The classes given by ranges: whatever the listed classes leave.
constexpr CharClass range_class(uint8_t byte) {
    if (byte == 0) return C::End;
    if (byte < 0x20) return C::Control;
    if (byte >= 0x7F && byte <= 0xBF) return C::Continuation;
    if (byte == 0xC0 || byte == 0xC1 || byte >= 0xF8) return C::Invalid;
    return C::WordChar;
}

constexpr std::array<CharInfo, 256> build_char_table() {
    std::array<CharInfo, 256> table{};
    for (int byte = 0; byte < 256; byte++)
        table[byte].bits = uint32_t(range_class(uint8_t(byte))) | flags_of(uint8_t(byte));
    for (int c = 0; c < kCharClassCount; c++)
        for (const char* p = kClassBytes[c]; *p; p++) table[uint8_t(*p)].bits = uint32_t(c) | flags_of(uint8_t(*p));
    return table;
}

constexpr std::array<CharInfo, 256> kCharTable = build_char_table();
static_assert(kCharTable['g'].char_class() == C::WordChar && kCharTable['?'].char_class() == C::WordChar);
static_assert(kCharTable['e'].char_class() == C::LowerE && kCharTable[0x80].char_class() == C::Continuation);
static_assert(kCharTable[0xC3].char_class() == C::WordChar && kCharTable[0xF8].char_class() == C::Invalid);
static_assert(kCharTable[1].char_class() == C::Control && kCharTable[0].char_class() == C::End);

// ---- the automaton ----

// A set of character classes.
struct Classes {
    uint64_t bits;

    constexpr Classes(CharClass c) : bits(uint64_t(1) << int(c)) {}
    constexpr explicit Classes(uint64_t b) : bits(b) {}
    constexpr bool has(CharClass c) const { return bits >> int(c) & 1; }
};
constexpr Classes operator|(Classes a, Classes b) { return Classes(a.bits | b.bits); }
constexpr Classes operator|(CharClass a, CharClass b) { return Classes(a) | Classes(b); }

constexpr Classes kDigits = C::Digit | C::Zero;
constexpr Classes kHexLetters = C::UpperHex | C::UpperE;
constexpr Classes kLetters =
    C::LetterX | C::LetterT | C::LetterH | C::LowerE | C::UpperE | C::LowerHex | C::UpperHex | C::WordChar;
constexpr Classes kBlanks = C::Blank | C::Control;
// What ends a token of most kinds.
constexpr Classes kDelimiters = kBlanks | C::LineFeed | C::BlockOpen | C::BlockClose | C::ParenOpen | C::ParenClose |
                                C::BraceOpen | C::BraceClose | C::DoubleQuote | C::Semicolon | C::Comma | C::End;
// What a word may start with, and go on with.
constexpr Classes kWordStart = kLetters | C::Plus | C::Minus | C::Dot | C::Equal | C::Greater | C::Caret;
constexpr Classes kWordBody = kWordStart | kDigits | C::Continuation | C::Apostrophe | C::Less;
constexpr Classes kDateBody = kDigits | kLetters | C::Minus | C::Plus | C::Slash | C::Colon | C::Dot;
constexpr Classes kPointBody =
    kDigits | kLetters | C::Plus | C::Minus | C::Dot | C::Comma | C::Blank | C::Hash | C::Apostrophe;

// Where a transition goes: a working state, or the end of the token.
struct Go {
    uint8_t code;

    constexpr Go(State s) : code(uint8_t(s)) {}
    constexpr explicit Go(uint8_t c) : code(c) {}
};
// The token ends before the byte.
constexpr Go end(Token t) { return Go(uint8_t(kFinal + uint8_t(t))); }
// The byte is the token's last.
constexpr Go take(Token t) { return Go(uint8_t((kFinal + uint8_t(t)) | kTake)); }
constexpr Go kInvalid = end(T::Error);

constexpr uint8_t kUnset = 0xFF;

class Automaton {
public:
    class Row {
    public:
        constexpr explicit Row(TransitionRow& row) : row_(row) {}
        constexpr Row& otherwise(Go go) {
            row_.fill(go.code);
            return *this;
        }
        constexpr Row& on(Classes classes, Go go) {
            for (int c = 0; c < kCharClassCount; c++)
                if (classes.has(CharClass(c))) row_[c] = go.code;
            return *this;
        }

    private:
        TransitionRow& row_;
    };

    constexpr Automaton() {
        for (TransitionRow& row : rows_) row.fill(kUnset);
    }
    // A new row; rules given later override earlier ones.
    constexpr Row row(State s) { return Row(rows_[int(s)]); }
    // A row that starts as a copy of another.
    constexpr Row row_like(State s, State model) {
        rows_[int(s)] = rows_[int(model)];
        return row(s);
    }
    constexpr const std::array<TransitionRow, kStateCount>& rows() const { return rows_; }

private:
    std::array<TransitionRow, kStateCount> rows_{};
};

constexpr void describe_structure(Automaton& a) {
    // Between tokens: blanks and line ends are skipped, and the first byte of a token picks its kind.
    a.row(S::Start)
        .otherwise(kInvalid)
        .on(kBlanks | C::LineFeed, S::Start)
        .on(C::End, end(T::Eof))
        .on(C::BlockOpen, take(T::BlockOpen))
        .on(C::BlockClose, take(T::BlockClose))
        .on(C::ParenOpen, take(T::ParenOpen))
        .on(C::ParenClose, take(T::ParenClose))
        .on(C::BraceOpen, take(T::BraceOpen))
        .on(C::Comma, take(T::Comma))
        .on(C::DoubleQuote, S::Quoted)
        .on(C::Semicolon, S::Comment)
        .on(C::Hash, S::Hash)
        .on(C::Apostrophe, S::LitPrefix)
        .on(C::Colon, S::GetPrefix)
        .on(C::Slash, S::Slash)
        .on(C::Percent, S::PercentStart)
        .on(C::At, S::Ref)
        .on(kLetters | C::Equal | C::Greater | C::Caret, S::Word)
        .on(kHexLetters, S::HexWord)
        .on(C::Dot, S::Dot)
        .on(C::Dollar, S::Money)
        .on(C::Plus | C::Minus, S::Sign)
        .on(C::Less, S::Less)
        .on(kDigits, S::Integer);

    // Inside braces a braced string goes on over lines; each brace is a token of its own, which the
    // scanners count, and ^ escapes the next byte.
    a.row(S::Braced)
        .otherwise(S::Braced)
        .on(C::BraceOpen, take(T::BraceOpen))
        .on(C::BraceClose, take(T::BraceClose))
        .on(C::Caret, S::BracedEscape)
        .on(C::End, end(T::Eof));
    a.row(S::BracedEscape).otherwise(S::Braced).on(C::End, end(T::Eof));

    // ; up to the end of the line.
    a.row(S::Comment).otherwise(S::Comment).on(C::LineFeed | C::End, end(T::Comment)).on(C::Invalid, kInvalid);

    // "text" on one line, ^ escaping the next byte.
    a.row(S::Quoted)
        .otherwise(S::Quoted)
        .on(C::DoubleQuote, take(T::String))
        .on(C::Caret, S::QuotedEscape)
        .on(C::LineFeed | C::End, kInvalid);
    a.row(S::QuotedEscape).otherwise(S::Quoted).on(C::LineFeed | C::End, kInvalid);

    // A point literal, (x, y) or (x, y, z), after its opening parenthesis (the scanner of "(" looks
    // ahead for it).
    a.row(S::Point).otherwise(kInvalid).on(kPointBody, S::Point).on(C::ParenClose, take(T::Point));
}

constexpr void describe_percent_and_slash(Automaton& a) {
    // After %: a file %name or %"name", a raw string %{...}% (%%{...}%% and so on; the raw string's
    // scanner finds its end), or the word % alone.
    a.row(S::PercentStart)
        .otherwise(S::File)
        .on(kDelimiters, end(T::Word))
        .on(C::BraceOpen, take(T::RawString))
        .on(C::Percent, S::PercentRun)
        .on(C::DoubleQuote, S::FileQuoted)
        .on(C::Invalid, kInvalid);
    a.row(S::PercentRun).otherwise(kInvalid).on(C::Percent, S::PercentRun).on(C::BraceOpen, take(T::RawString));
    a.row(S::File).otherwise(S::File).on(kDelimiters, end(T::File)).on(C::Invalid, kInvalid);
    a.row(S::FileQuoted).otherwise(S::FileQuoted).on(C::DoubleQuote, take(T::File)).on(C::LineFeed | C::End, kInvalid);

    // After / at a token's start: a refinement /name (/< too, as < is a word), the words / and //, or
    // /: (the set-word of /). The words of slashes also follow ' and : and take a closing :.
    a.row(S::Slash)
        .otherwise(kInvalid)
        .on(kWordStart | kDigits | C::Less, S::Refinement)
        .on(kDelimiters, end(T::Refinement))
        .on(C::Slash, S::SlashRun)
        .on(C::Colon, S::SlashColon);
    a.row(S::SlashRun)
        .otherwise(kInvalid)
        .on(C::Slash, S::SlashRun)
        .on(C::Colon, S::WordColon)
        .on(kDelimiters, end(T::Word));
    a.row(S::SlashColon).otherwise(kInvalid).on(kDelimiters, end(T::Refinement));
    a.row(S::Refinement).otherwise(kInvalid).on(kWordBody, S::Refinement).on(kDelimiters, end(T::Refinement));
}

constexpr void describe_hash(Automaton& a) {
    // After #: an issue #name, a char #"x", a binary #{...}, a construction #(...) or a map #[...].
    a.row(S::Hash)
        .otherwise(kInvalid)
        .on(kWordBody, S::Issue)
        .on(kDelimiters, end(T::Issue))
        .on(C::DoubleQuote, S::CharBody)
        .on(C::BraceOpen, S::BinaryBody)
        .on(C::ParenOpen, S::Construct)
        .on(C::BlockOpen, take(T::MapOpen));
    a.row(S::Issue).otherwise(kInvalid).on(kWordBody, S::Issue).on(kDelimiters, end(T::Issue));
    a.row(S::CharBody)
        .otherwise(S::CharBody)
        .on(C::DoubleQuote, take(T::Char))
        .on(C::Caret, S::CharEscape)
        .on(C::LineFeed | C::End, kInvalid);
    a.row(S::CharEscape).otherwise(S::CharBody).on(C::LineFeed | C::End, kInvalid);
    // An unterminated construction still ends as one: its scanner reports it.
    a.row(S::Construct)
        .otherwise(S::Construct)
        .on(C::ParenClose, take(T::Construct))
        .on(C::LineFeed | C::End, end(T::Construct));
    // Digits of any base, blanks, line ends and ; comments, up to the closing brace.
    a.row(S::BinaryBody)
        .otherwise(S::BinaryBody)
        .on(C::BraceClose, take(T::Binary))
        .on(C::Semicolon, S::BinaryComment)
        .on(C::End, kInvalid);
    a.row(S::BinaryComment).otherwise(S::BinaryComment).on(C::LineFeed, S::BinaryBody).on(C::End, kInvalid);
    // 2#{...} and 64#{...}: the base before the #.
    a.row(S::BasePrefix).otherwise(kInvalid).on(C::BraceOpen, S::BinaryBody);
}

constexpr void describe_numbers(Automaton& a) {
    // Digits with ' separators; what follows them decides the literal.
    a.row(S::Integer)
        .otherwise(kInvalid)
        .on(kDigits | C::Apostrophe, S::Integer)
        .on(kDelimiters | C::Less, end(T::Integer))
        .on(C::Dot, S::IntegerDot)
        .on(C::LowerE | C::UpperE, S::Exponent)
        .on(C::UpperHex, S::HexDigits)
        .on(C::LetterH, S::HexEnd)
        .on(C::LetterX, S::PairX)
        .on(C::Colon, S::TimeColon)
        .on(C::Minus | C::Slash | C::LetterT, S::Date)
        .on(C::Percent, S::PercentSign)
        .on(C::Hash, S::BasePrefix)
        .on(C::At, S::Email);
    // Upper-case hexadecimal digits ended by h: FFh, 0FFh.
    a.row(S::HexDigits).otherwise(kInvalid).on(kDigits | kHexLetters, S::HexDigits).on(C::LetterH, S::HexEnd);
    a.row(S::HexEnd).otherwise(kInvalid).on(kDelimiters, end(T::Hex));
    // 1. 1.5 1.5e3 .5 1e3, 1.#INF; a second dot makes a tuple, an x a pair, a % a percent.
    a.row(S::IntegerDot)
        .otherwise(kInvalid)
        .on(kDigits, S::Fraction)
        .on(kDelimiters, end(T::Float))
        .on(C::LowerE | C::UpperE, S::Exponent)
        .on(C::Hash, S::FloatSpecial)
        .on(C::Dot, S::Tuple)
        .on(C::Percent, S::PercentSign)
        .on(C::LetterX, S::PairX);
    a.row(S::Fraction)
        .otherwise(kInvalid)
        .on(kDigits | C::Apostrophe, S::Fraction)
        .on(kDelimiters, end(T::Float))
        .on(C::Dot, S::Tuple)
        .on(C::LowerE | C::UpperE, S::Exponent)
        .on(C::Percent, S::PercentSign)
        .on(C::LetterX, S::PairX);
    // After e or E, which may also be a hexadecimal digit (1E0Ah).
    a.row(S::Exponent)
        .otherwise(kInvalid)
        .on(C::Plus | C::Minus, S::ExponentSign)
        .on(kDigits, S::ExponentDigits)
        .on(kHexLetters, S::HexDigits)
        .on(C::LetterH, S::HexEnd);
    a.row(S::ExponentSign).otherwise(kInvalid).on(kDigits, S::ExponentDigits);
    a.row(S::ExponentDigits)
        .otherwise(kInvalid)
        .on(kDigits, S::ExponentDigits)
        .on(kDelimiters, end(T::Float))
        .on(C::Percent, S::PercentSign)
        .on(kHexLetters, S::HexDigits)
        .on(C::LetterH, S::HexEnd);
    a.row(S::FloatSpecial).otherwise(kInvalid).on(kLetters, S::FloatSpecial).on(kDelimiters, end(T::FloatSpecial));
    a.row(S::Tuple).otherwise(kInvalid).on(kDigits | C::Dot, S::Tuple).on(kDelimiters, end(T::Tuple));
    a.row(S::PercentSign).otherwise(kInvalid).on(kDelimiters, end(T::Percent));
    // 10x20, either side signed.
    a.row(S::PairX).otherwise(kInvalid).on(C::Plus | C::Minus, S::PairSign).on(kDigits, S::PairY);
    a.row(S::PairSign).otherwise(kInvalid).on(kDigits, S::PairY);
    a.row(S::PairY).otherwise(kInvalid).on(kDigits | C::Apostrophe | C::Dot, S::PairY).on(kDelimiters, end(T::Pair));
    // 1:30, 1:30:15.5, 1:30,5; the loader checks the fields.
    a.row(S::TimeColon).otherwise(kInvalid).on(kDigits, S::Time).on(kDelimiters, end(T::Time));
    a.row(S::Time)
        .otherwise(kInvalid)
        .on(kDelimiters, end(T::Time))
        .on(kDigits | C::Dot | C::Comma | C::LowerE | C::UpperE, S::Time)
        .on(C::Colon, S::TimeColon);
    // 1-Jan-2020, 1/1/2020/10:30+2:00, 2020-01-01T10:30Z; the loader checks the fields.
    a.row(S::Date).otherwise(kInvalid).on(kDateBody, S::Date).on(kDelimiters, end(T::Date));
    // $1'000.50, and after a sign or a currency code.
    a.row(S::Money)
        .otherwise(kInvalid)
        .on(kDelimiters, end(T::Money))
        .on(kDigits | C::Apostrophe | C::Dot | C::Comma, S::Money);
}

constexpr void describe_words(Automaton& a) {
    // A word; a : after it makes a set-word, or a url when more follows; a / starts a path.
    a.row(S::Word)
        .otherwise(kInvalid)
        .on(kWordBody, S::Word)
        .on(kDelimiters, end(T::Word))
        .on(C::Colon, S::WordColon)
        .on(C::Slash, end(T::PathSeparator))
        .on(C::At, S::Email)
        .on(C::Dollar, S::Money);
    a.row(S::WordColon).otherwise(S::Url).on(kDelimiters, end(T::Word)).on(C::Invalid, kInvalid);
    // Words that may turn out numbers: + and - before digits, . before digits, hexadecimal letters
    // ended by h.
    a.row_like(S::Sign, S::Word).on(kDigits, S::Integer).on(C::Dot, S::Dot).on(C::Dollar, S::Money);
    a.row_like(S::Dot, S::Word).on(kDigits, S::Fraction);
    a.row_like(S::HexWord, S::Word).on(kDigits | kHexLetters, S::HexWord).on(C::LetterH, S::HexWordEnd);
    a.row_like(S::HexWordEnd, S::Word).on(kDelimiters, end(T::Hex));
    // 'word and :word.
    for (State prefix : {S::LitPrefix, S::GetPrefix})
        a.row(prefix)
            .otherwise(kInvalid)
            .on(kWordStart, S::Word)
            .on(C::Less, S::LessOperator)
            .on(C::Slash, S::SlashRun);
    // scheme:anything, name@host, @reference: everything up to a delimiter (a url takes commas too).
    a.row(S::Url).otherwise(S::Url).on(kDelimiters, end(T::Url)).on(C::Comma, S::Url).on(C::Invalid, kInvalid);
    a.row(S::Email).otherwise(S::Email).on(kDelimiters, end(T::Email)).on(C::Invalid, kInvalid);
    // In a reference a caret escape takes the byte after it whatever it is, and ^(...) its parentheses,
    // so that every text a ref! holds can be written (a molded ref escapes its blanks and brackets).
    a.row(S::Ref).otherwise(S::Ref).on(kDelimiters, end(T::Ref)).on(C::Caret, S::RefEscape).on(C::Invalid, kInvalid);
    a.row(S::RefEscape)
        .otherwise(S::Ref)
        .on(C::ParenOpen, S::RefEscapeParens)
        .on(C::LineFeed | C::End | C::Invalid, kInvalid);
    a.row(S::RefEscapeParens)
        .otherwise(S::RefEscapeParens)
        .on(kDelimiters | C::Invalid, kInvalid)
        .on(C::ParenClose, S::Ref);

    // After <: the words < <= <> << and the like (set-words too: <: <>:), or a tag <...> with quoted
    // parts.
    a.row(S::Less)
        .otherwise(S::Tag)
        .on(kDelimiters, end(T::Word))
        .on(C::Less | C::Equal | C::Greater, S::LessOperator)
        .on(C::Colon, S::WordColon)
        .on(C::Invalid, kInvalid);
    a.row(S::LessOperator)
        .otherwise(kInvalid)
        .on(C::Less | C::Equal | C::Greater, S::LessOperator)
        .on(C::Colon, S::WordColon)
        .on(kDelimiters, end(T::Word));
    a.row(S::Tag)
        .otherwise(S::Tag)
        .on(C::Greater, take(T::Tag))
        .on(C::DoubleQuote, S::TagDoubleQuoted)
        .on(C::Apostrophe, S::TagSingleQuoted)
        .on(C::LineFeed | C::End | C::Invalid, kInvalid);
    a.row(S::TagDoubleQuoted)
        .otherwise(S::TagDoubleQuoted)
        .on(C::DoubleQuote, S::Tag)
        .on(C::LineFeed | C::End, kInvalid);
    a.row(S::TagSingleQuoted)
        .otherwise(S::TagSingleQuoted)
        .on(C::Apostrophe, S::Tag)
        .on(C::LineFeed | C::End, kInvalid);
}

constexpr void describe_paths(Automaton& a) {
    // After a path separator: words, integers, texts (quoted or braced), chars, issues, constructions
    // (as mold/all writes true, none or a datatype) and parens, each ended by / or : as well, which the
    // path's routines then read.
    a.row(S::PathElement)
        .otherwise(kInvalid)
        .on(kWordStart, S::PathWord)
        .on(kDigits, S::PathNumber)
        .on(C::Plus | C::Minus, S::PathSign)
        .on(C::ParenOpen, take(T::ParenOpen))
        .on(C::DoubleQuote, S::Quoted)
        .on(C::BraceOpen, take(T::BraceOpen))
        .on(C::Hash, S::PathHash)
        .on(C::Apostrophe, S::PathLitPrefix)
        .on(C::Colon, S::PathGetPrefix);
    constexpr Classes kElementEnd = kDelimiters | C::Slash | C::Colon;
    a.row(S::PathWord).otherwise(kInvalid).on(kWordBody, S::PathWord).on(kElementEnd, end(T::Word));
    a.row_like(S::PathSign, S::PathWord).on(kDigits, S::PathNumber);
    // Digits stay in the element, so that / and : end every integer, not only one of a single digit.
    a.row_like(S::PathNumber, S::Integer).on(kDigits | C::Apostrophe, S::PathNumber).on(kElementEnd, end(T::Integer));
    a.row(S::PathHash)
        .otherwise(kInvalid)
        .on(kWordBody, S::PathIssue)
        .on(C::DoubleQuote, S::CharBody)
        .on(C::ParenOpen, S::Construct);
    a.row(S::PathIssue).otherwise(kInvalid).on(kWordBody, S::PathIssue).on(kElementEnd, end(T::Issue));
    a.row(S::PathLitPrefix).otherwise(kInvalid).on(kWordStart, S::PathWord);
    a.row(S::PathGetPrefix).otherwise(kInvalid).on(kWordStart, S::PathWord);
}

constexpr Automaton describe_automaton() {
    Automaton a;
    describe_structure(a);
    describe_percent_and_slash(a);
    describe_hash(a);
    describe_numbers(a);
    describe_words(a);
    describe_paths(a);
    return a;
}

constexpr bool final_q(uint8_t transition) { return (transition & ~kTake) >= kFinal; }

// Every state has a row, and every row ends a token at the end of the input without taking a byte.
constexpr bool complete_q(const std::array<TransitionRow, kStateCount>& rows) {
    for (const TransitionRow& row : rows) {
        for (uint8_t transition : row)
            if (transition == kUnset) return false;
        if (!final_q(row[int(C::End)]) || (row[int(C::End)] & kTake)) return false;
    }
    return true;
}

constexpr std::array<TransitionRow, kStateCount> kTransitions = describe_automaton().rows();
static_assert(complete_q(kTransitions), "lexer automaton: a state lacks a transition, or runs past the end");

constexpr Type kStateTypes[] = {
#define OKA_STATE(Name, type) Type::type,
#include "evaluator/lexer_states.def"
};

constexpr Type kTokenTypes[] = {
#define OKA_TOKEN(Name, type, scanner, loader, prescanned, exit) Type::type,
#include "evaluator/lexer_tokens.def"
};

// ---- the float syntax ----

enum FloatColumn : uint8_t { kOther, kSign, kDigit, kExponent, kPoint, kQuote, kEnd, kFloatColumns };

constexpr FloatColumn float_column(char c) {
    switch (c) {
    case '+':
    case '-': return kSign;
    case 'e':
    case 'E': return kExponent;
    case '.': return kPoint;
    case '\'': return kQuote;
    default: return c >= '0' && c <= '9' ? kDigit : kOther;
    }
}

enum FloatState : uint8_t {
    kBegin,
    kSigned,
    kWhole,
    kWholeQuote,
    kWholePoint,
    kLeadingPoint,
    kFraction,
    kFractionQuote,
    kExponentMark,
    kExponentSign,
    kExponentDigits,
    kFloatStates,
    kAccept = kFloatStates,
    kReject,
};

// A ' stands only between two digits; a point needs digits on one side at least.
// clang-format off
constexpr uint8_t kFloatTransitions[kFloatStates][kFloatColumns] = {
    //                     other    sign           digit            exponent       point          quote           end
    /* kBegin */          {kReject, kSigned,       kWhole,          kReject,       kLeadingPoint, kReject,        kReject},
    /* kSigned */         {kReject, kReject,       kWhole,          kReject,       kLeadingPoint, kReject,        kReject},
    /* kWhole */          {kReject, kReject,       kWhole,          kExponentMark, kWholePoint,   kWholeQuote,    kAccept},
    /* kWholeQuote */     {kReject, kReject,       kWhole,          kReject,       kReject,       kReject,        kReject},
    /* kWholePoint */     {kReject, kReject,       kFraction,       kExponentMark, kReject,       kReject,        kAccept},
    /* kLeadingPoint */   {kReject, kReject,       kFraction,       kReject,       kReject,       kReject,        kReject},
    /* kFraction */       {kReject, kReject,       kFraction,       kExponentMark, kReject,       kFractionQuote, kAccept},
    /* kFractionQuote */  {kReject, kReject,       kFraction,       kReject,       kReject,       kReject,        kReject},
    /* kExponentMark */   {kReject, kExponentSign, kExponentDigits, kReject,       kReject,       kReject,        kReject},
    /* kExponentSign */   {kReject, kReject,       kExponentDigits, kReject,       kReject,       kReject,        kReject},
    /* kExponentDigits */ {kReject, kReject,       kExponentDigits, kReject,       kReject,       kReject,        kAccept},
};
// clang-format on

}  // namespace

const std::array<CharInfo, 256> char_table = kCharTable;
const std::array<TransitionRow, kStateCount> transitions = kTransitions;

Type state_type(State state) { return kStateTypes[int(state)]; }
Type token_type(Token token) { return kTokenTypes[int(token)]; }

bool delimiter_q(CharClass c) { return kDelimiters.has(c); }

bool float_syntax_q(std::string_view text) {
    uint8_t state = kBegin;
    for (char c : text) {
        state = kFloatTransitions[state][float_column(c)];
        if (state == kReject) return false;
    }
    return kFloatTransitions[state][kEnd] == kAccept;
}

}  // namespace oka::lexer
