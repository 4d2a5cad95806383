/* The record of one running scan, and the machinery the token routines share: output slots,
   container markers, trace events and syntax errors. Private to the lexer's files.

   Positions are plain pointers into the text, which never lies in a series buffer. Output slots are
   addressed by index: the slot buffer grows (and moves) when a slot is taken and when a callback runs
   a nested scan, so a slot pointer is valid only until the next alloc_slot or event. Series
   allocations never move it.

   Every routine here may allocate, may raise an error, and may end the token with stop(): the
   token is then abandoned and the main loop goes on with the next one, or ends the scan when no
   values are being built. */
#pragma once

#include <algorithm>
#include <string_view>

#include "evaluator/lexer.h"
#include "evaluator/lexer_tables.h"

namespace oka::lexer {

// The events a trace callback hears, as bits of its event mask.
enum Event : uint32_t {
    kPrescanEvent = 1,
    kScanEvent = 2,
    kLoadEvent = 4,
    kOpenEvent = 8,
    kCloseEvent = 16,
    kErrorEvent = 32,
};

enum class SyntaxError : uint8_t {
#define OKA_SYNTAX_ERROR(Name, id) Name,
#include "evaluator/lexer_errors.def"
};

// An open container in the output slots: a cell of this type whose word 1 counts the slots from the
// enclosing container's first value to the marker, word 2 holds the container type (low 16 bits) and
// the commas seen in it (high 16 bits), and word 3 the byte offset of its opener.
inline constexpr Type kMarker = Type::Triple;

struct Lexer {
    Lexer(const uint8_t* text, uint32_t size, const Options& options, const Cell* input);
    ~Lexer();
    Lexer(const Lexer&) = delete;
    Lexer& operator=(const Lexer&) = delete;

    // ---- the scan ----
    Lexer* outer;  // the scan whose callback started this one
    const uint8_t* const input_start;
    const uint8_t* const input_end;
    const uint8_t* position;  // where the next token starts
    const bool one, scan, loading;
    bool line_break = false;  // a line ended since the last token but comments
    uint32_t line = 1;        // the line at the position
    uint32_t token_line = 1;  // the line the current token is on, for its events

    // ---- output slots: this scan's run from head to tail; level is the current container's first ----
    uint32_t head, level, tail;

    // ---- the current token ----
    Token token = Token::Eof;
    State entry = State::Start;        // where the next token starts
    State token_entry = State::Start;  // where this one started
    State exit_state = State::Start;   // its last working state
    State after_point = State::Start;  // where a point literal returns to
    uint32_t flags = 0;                // CharFlag bits of its bytes
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr;
    uint32_t token_lines = 0;  // line ends inside it
    Type type = Type::Void;    // what it turned out to be

    // ---- a braced string read brace by brace ----
    uint32_t brace_depth = 0;
    const uint8_t* brace_start = nullptr;
    uint32_t brace_flags = 0;
    uint32_t brace_line = 0;
    bool brace_line_break = false;
    State brace_exit = State::Start;  // where the scan goes on after it: between tokens, or in a path

    // ---- tracing ----
    Cell callback;
    uint32_t event_mask;
    Cell input;  // the series of the text, or none
    uint32_t input_head;
    const uint8_t* counted_position;  // the last position turned into a character count
    uint32_t counted_chars;

    // ---- scanning ----
    void run();
    void process_token();
    void deliver();
    void finish(Cell* destination, const Options& options);

    // ---- output slots ----
    Cell* slot(uint32_t index);
    // A new slot for the token's value (deliver marks it when it begins a line).
    Cell* new_value();
    // Appends a value made by a structural token.
    void store(const Cell& value);

    // ---- containers ----
    int32_t innermost_marker();
    Type innermost_type();
    // Opens a container unless the open event is refused.
    void open_container(Type type);
    void push_marker(Type type, const uint8_t* opener);
    // Closes the innermost container with a closer of type `closer`, which must match it.
    void close_container(Type closer, bool silent);
    // After a path element: goes on with the next element or closes the path.
    void close_path();
    const uint8_t* opener_of(int32_t marker);

    // ---- events ----
    bool wants(Event event) const { return event_mask & event; }
    // Calls the callback for an event it wants; answers false when it refuses the step. `type` Void
    // stands for the current structural token.
    bool fire(Event event, Type type, const uint8_t* start, const uint8_t* end, const Cell* value = nullptr);
    uint32_t count_chars(const uint8_t* at);

    // After "(": whether a point literal follows.
    bool point_follows() const;

    // ---- errors ----
    [[noreturn]] void syntax_error(SyntaxError kind, Type type, const uint8_t* at);
    [[noreturn]] void invalid(Type type) { syntax_error(SyntaxError::invalid, type, token_start); }
    // Abandons the current token.
    [[noreturn]] static void stop();

private:
    uint32_t alloc_slot();
    uint32_t line_at(const uint8_t* at) const;
    void next_token();
    void read_token(const uint8_t* end);
    void pass_over_error();
    void move_to(const uint8_t* at);
    [[noreturn]] void raise(SyntaxError kind, Type type, const uint8_t* at);
};

// True when two texts are the same, the letter case of ASCII letters ignored.
inline bool same_text_q(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// ---- the token routines of lexer_tokens.cpp ----

// A structure scanner (build: values are built) or a value loader (build false: only check the token).
using Routine = void (*)(Lexer& lexer, bool build);
struct TokenRoutines {
    Routine scanner;
    Routine loader;
    bool prescanned;  // it is checked even when only prescanning

    // What checks a token: its scanner, or its loader told not to build.
    Routine check() const { return scanner ? scanner : loader; }
};
const TokenRoutines& routines(Token token);
// The value a callback receives as the type of a structural token.
void exit_value(Token token, Cell* out);
// The date loader (lexer_dates.cpp).
void load_date(Lexer& lx, bool build);
// True when the text from `at` starts with a Unicode blank (beyond ASCII); `length` receives its bytes.
bool unicode_blank_q(const uint8_t* at, const uint8_t* end, uint32_t& length);
// A character of text: a code point (-1 when the bytes are not UTF-8), `at` moved past it.
int32_t read_utf8(const uint8_t*& at, const uint8_t* end);

// ---- numbers, shared with the tokenizer (lexer_numbers.cpp) ----

inline constexpr uint32_t kMaxFloatText = 312;
// The value of a number text of float syntax (' allowed between digits), its decimal exponent moved by
// `shift` (-2 reads a percent's number as its fraction), or false.
bool decimal_value(std::string_view text, double& value, int32_t shift = 0);
// The value of [+|-]1.#INF or [+|-]1.#NaN, letter case ignored, or false.
bool special_float_value(std::string_view text, double& value);
// The parts of a money text (the rules of tokenizer::scan_money), or false.
bool money_parts(std::string_view text, tokenizer::MoneyText& money);

}  // namespace oka::lexer
