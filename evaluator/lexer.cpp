// The scan: the main loop over tokens, the output slots and containers, trace events, syntax errors,
// and the entry points.
#include "evaluator/lexer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/unset.h"
#include "datatypes/words.h"
#include "evaluator/lexer_scanner.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/stack.h"
#include "runtime/symbol_table.h"
#include "runtime/throw.h"
#include "runtime/types.h"

namespace oka::lexer {

namespace {

// The lexer's own throw code: the current token is abandoned.
constexpr uint32_t kStop = 10;

// ---- the buffers every scan shares ----

constexpr uint32_t kFirstSlots = 1000;

// The output slots. A nested scan takes the slots above the tail of the scan that started it.
std::vector<Cell>& slot_buffer() {
    static std::vector<Cell> cells(kFirstSlots);
    return cells;
}

Lexer* innermost = nullptr;  // the running scan started last; each links to the one before

// The UTF-8 copies of the texts of strings being scanned, stacked as scans nest; a text that does not
// fit gets a buffer of its own. The stack never moves: the scans below go on reading their texts.
constexpr uint32_t kScratchSize = 100000;
uint8_t scratch[kScratchSize];
uint32_t scratch_fill = 0;

class ScratchText {
public:
    explicit ScratchText(uint32_t size) : mark_(scratch_fill) {
        if (size <= kScratchSize - scratch_fill) {
            data_ = scratch + scratch_fill;
            scratch_fill += size;
        } else {
            own_ = std::make_unique<uint8_t[]>(size);
            data_ = own_.get();
        }
    }
    ~ScratchText() { scratch_fill = mark_; }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;
    uint8_t* data() const { return data_; }

private:
    uint32_t mark_;
    uint8_t* data_;
    std::unique_ptr<uint8_t[]> own_;
};

// UTF-8 bytes a string unit may need.
uint32_t utf8_room(uint32_t unit) { return unit == 1 ? 2 : unit == 2 ? 3 : 4; }

// ---- helpers ----

bool callback_q(const Cell& value) { return value.is(Type::Function) || value.is(Type::Routine); }

// The event words, by bit of the event mask.
constexpr Word kEventWords[] = {Word::prescan, Word::scan, Word::load, Word::open, Word::close, Word::error};
constexpr uint32_t kAllEvents = (1u << std::size(kEventWords)) - 1;

bool same_word_q(const Cell& a, const Cell& b) { return symbol::resolve(a.symbol()) == symbol::resolve(b.symbol()); }

// The events of a callback's body when it begins with a non-empty block of event words; else all.
uint32_t event_mask_of(const Cell& callback) {
    if (!callback_q(callback)) return 0;
    Cell body = *function::extra(callback, function::kBody);
    if (!body.is(Type::Block) || series::rs_tail_q(body)) return kAllEvents;
    Cell first = *block::rs_head(&body);
    if (!first.is(Type::Block) || series::rs_tail_q(first)) return kAllEvents;
    uint32_t mask = 0;
    uint32_t count = series::rs_length_q(first);
    BufPtr<Cell> cells = block::rs_head(&first);
    for (uint32_t i = 0; i < count; i++)
        for (uint32_t e = 0; e < std::size(kEventWords); e++)
            if (cells[i].is(Type::Word) && same_word_q(cells[i], words::word(kEventWords[e]))) mask |= 1u << e;
    return mask;
}

// True when a callback's input argument is still the scanned series: only a move along it moves the
// scan, whatever else the callback may have put in its place.
bool same_series_q(const Cell& argument, const Cell& input) {
    return is_a(input.type(), TypeClass::series) && argument.type() == input.type() && argument.node() == input.node();
}

// The closer a container needs, and its opener.
char closer_of(Type container) { return container == Type::Block || container == Type::Map ? ']' : ')'; }
char opener_of_closer(char closer) { return closer == ']' ? '[' : '('; }

constexpr Err kSyntaxErrorIds[] = {
#define OKA_SYNTAX_ERROR(Name, id) Err::id,
#include "evaluator/lexer_errors.def"
};
static_assert(std::size(kSyntaxErrorIds) == 5, "lexer_errors.def: five kinds of syntax errors");

// A new block holding copies of `count` cells.
Node copy_cells(const Cell* cells, uint32_t count) {
    Node node = alloc::alloc_cells(std::max(count, 1u));
    BufPtr<SeriesBuffer> buffer = mem::buffer(node);
    std::memcpy(mem::ptr(buffer->offset), cells, count * sizeof(Cell));
    buffer->tail = buffer->offset + count * uint32_t(sizeof(Cell));
    return node;
}

// The text of a syntax error's report, pushed: from the error's position up to the end of its line, at
// most 30 bytes, never cutting a character. A byte that is not UTF-8 shows as its escape, ^(FF).
Cell* push_report_text(const uint8_t* at, const uint8_t* end) {
    constexpr uint32_t kReportBytes = 30;
    const uint8_t* limit = uint32_t(end - at) > kReportBytes ? at + kReportBytes : end;
    Cell* text = string::rs_make_at(stack::push(none::value), kReportBytes);
    for (const uint8_t* p = at; p < limit && *p != '\n' && *p != 0;) {
        const uint8_t* next = p;
        int32_t c = read_utf8(next, end);
        if (next > limit) break;
        if (c < 0) {
            next = p + 1;
            char escape[] = "^(..)";
            std::memcpy(escape + 2, string::byte_to_hex(*p), 2);
            string::concatenate_literal(text, escape, 5);
        } else {
            string::append_char(text->node(), uint32_t(c));
        }
        p = next;
    }
    return text;
}

Cell* push_text(std::string_view text) {
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), unicode::kUtf8);
}

}  // namespace

// ---- the scan record ----

Lexer::Lexer(const uint8_t* text, uint32_t size, const Options& options, const Cell* input_series)
    : outer(innermost),
      input_start(text),
      input_end(text + size),
      position(text),
      one(options.one),
      scan(options.scan),
      loading(options.scan && options.load),
      head(outer ? outer->tail : 0),
      level(head),
      tail(head),
      callback(options.callback ? *options.callback : none::value),
      event_mask(event_mask_of(callback)),
      input(input_series ? *input_series : none::value),
      input_head(input_series ? input_series->head() : 0),
      counted_position(text),
      counted_chars(0) {
    innermost = this;
}

Lexer::~Lexer() { innermost = outer; }

// ---- the main loop ----

// Runs the automaton from the entry state to the end of the next token, the text taken to end at `end`.
void Lexer::read_token(const uint8_t* end) {
    token_entry = entry;
    uint8_t state = uint8_t(entry);
    const uint8_t* at = position;
    const uint8_t* start = at;
    uint32_t bits = 0, skipped_lines = 0, inner_lines = 0;
    uint8_t transition;
    for (;; at++) {
        CharInfo info = char_table[at < end ? *at : 0];
        transition = transitions[state][int(info.char_class())];
        if (transition >= kFinal) {
            if (transition & kTake) {
                bits |= info.bits;
                at++;
            }
            break;
        }
        bits |= info.bits;
        bool line_feed = info.char_class() == CharClass::LineFeed;
        if (transition == uint8_t(State::Start)) {
            start = at + 1;  // blanks before a token are not part of it
            skipped_lines += line_feed;
        } else {
            inner_lines += line_feed;
        }
        state = transition;
    }
    token = Token((transition & ~kTake) - kFinal);
    exit_state = State(state);
    flags = bits & ~0xFFu;
    token_start = start;
    token_end = position = at;
    token_lines = inner_lines;
    line += skipped_lines;
    token_line = line;
    line_break |= skipped_lines > 0;
    type = token_type(token);
    if (token_entry == State::Point) {
        token_start--;  // the point's parenthesis
        entry = after_point;
        if (token == Token::Point && std::count(token_start, token_end, ',') == 2) type = Type::Point3D;
    }
}

// The next token. Unicode blanks separate tokens as blanks do, though the automaton takes their bytes
// for a word's: a word that starts with them is read again after them, and one holding them is read
// again up to the first, as if the text ended there (what is left of it may be no word: ' alone).
void Lexer::next_token() {
    for (;;) {
        read_token(input_end);
        if (!(flags & kNonAsciiFlag) || (token != Token::Word && token != Token::PathSeparator)) return;
        uint32_t length;
        const uint8_t* text = token_start;
        while (text < token_end && unicode_blank_q(text, token_end, length)) text += length;
        if (text != token_start && token_entry != State::Start) {
            token = Token::Error;  // a path element cannot start with a blank
            exit_state = token_entry;
            return;
        }
        if (text == token_start) break;
        position = text;
    }
    for (const uint8_t* at = token_start; at < token_end;) {
        uint32_t length;
        if (unicode_blank_q(at, token_end, length)) {
            position = token_start;
            entry = token_entry;
            read_token(at);
            return;
        }
        if (read_utf8(at, token_end) < 0) return;  // the word's routines report it
    }
}

// Scans tokens up to the end of the text; in one mode and when prescanning, only up to the end of the
// first value; when no values are built, only up to an invalid token.
void Lexer::run() {
    for (;;) {
        next_token();
        Token scanned = token;
        if (sys::protect(kStop, [&] { process_token(); })) {
            type = Type::Error;
            if (!loading) return;
            scanned = Token::Error;
        }
        if (scanned == Token::Error) pass_over_error();
        line += token_lines;
        // A comment leaves the next value on its line, and so does a point's parenthesis, which is part of
        // the point's token that follows.
        if (scanned != Token::Comment && entry != State::Point) line_break = false;
        if (scanned == Token::Eof) return;
        // One mode and prescans stop at the end of a top-level value, or at once when nothing is built. An
        // invalid token passed over builds nothing, but the path it ended is a value.
        if (!one && scan) continue;
        if (scanned != Token::Error && (type == Type::Void || scanned == Token::PathSeparator)) continue;
        if (entry == State::PathElement || entry == State::Braced) continue;
        bool one_value = tail == head + 1 && !slot(head)->is(kMarker);
        if (one_value || (tail == head && scanned != Token::Error)) return;
    }
}

// Goes on after an invalid token that a callback took, or passed over at its prescan: a path it broke
// ends before it, and the scan resumes where the callback left the input, a character on at least (the
// token may hold no byte: a stray "}" ends it at once, and so does the end of the text after a "/").
void Lexer::pass_over_error() {
    if (is_a(innermost_type(), TypeClass::any_path)) close_container(innermost_type(), true);
    if (position <= token_start && token_start < input_end)
        position = std::min(token_start + std::max(unicode::utf8_lead_length(*token_start), 1u), input_end);
}

// Announces a token, then runs its routines as the mode asks: when prescanning only the structure
// scanners and the checks that keep texts in step.
void Lexer::process_token() {
    Token scanned = token;
    const TokenRoutines& r = routines(scanned);
    // A point literal's parenthesis is not announced: the literal is, as one token.
    bool announced = token_entry != State::Braced && !(scanned == Token::ParenOpen && point_follows());
    if (!announced || fire(kPrescanEvent, type, token_start, token_end)) {
        if (!scan) {
            if (r.prescanned) r.check()(*this, false);
        } else if (r.loader) {
            deliver();
        } else if (r.scanner) {
            r.scanner(*this, loading);
        }
    }
    if (entry == State::PathElement && scanned != Token::PathSeparator && scanned != Token::Error) close_path();
}

// A value token: checked (with the scan event), then loaded (with the load event), as the mode asks
// and the callback lets.
void Lexer::deliver() {
    const TokenRoutines& r = routines(token);
    if (!loading || r.scanner || wants(kScanEvent)) {
        r.check()(*this, false);
        if (!fire(kScanEvent, type, token_start, token_end)) return;
    }
    if (!loading) return;
    r.loader(*this, true);
    if (line_break) slot(tail - 1)->header |= kCellNewLine;
    if (!fire(kLoadEvent, type, token_start, token_end, slot(tail - 1))) tail--;
}

// At the end of the scan a braced string or a container left open is an error; then the values built
// become the result.
void Lexer::finish(Cell* destination, const Options& options) {
    bool refused = sys::protect(kStop, [&] {
        if (entry == State::Braced) syntax_error(SyntaxError::invalid, Type::String, brace_start);
        int32_t marker = innermost_marker();
        // A path is left open only when a callback refused its close: it has no closer to name.
        SyntaxError open = is_a(innermost_type(), TypeClass::any_path) ? SyntaxError::bad_char : SyntaxError::unclosed;
        if (marker >= 0) syntax_error(open, innermost_type(), opener_of(marker));
    });
    if (refused) {
        type = Type::Error;
        if (loading) none::make_at(destination);
        return;
    }
    if (!loading) return;
    std::vector<Cell>& cells = slot_buffer();
    if (options.one && !options.wrap) {
        *destination = tail > head ? cells[head] : unset::value;
        destination->clear_new_line();
    } else if (options.into) {
        for (uint32_t i = head; i < tail; i++) block::rs_append(*options.into, cells[i]);
        *destination = *options.into;
    } else {
        Node node = copy_cells(cells.data() + head, tail - head);
        *destination = Cell::of(Type::Block).set_node(node);
    }
}

// ---- output slots ----

Cell* Lexer::slot(uint32_t index) { return slot_buffer().data() + index; }

uint32_t Lexer::alloc_slot() {
    std::vector<Cell>& cells = slot_buffer();
    if (tail == cells.size()) cells.resize(cells.size() * 2);
    cells[tail] = unset::value;
    return tail++;
}

Cell* Lexer::new_value() { return slot(alloc_slot()); }

void Lexer::store(const Cell& value) {
    Cell* cell = new_value();
    *cell = value;
    if (line_break) cell->header |= kCellNewLine;
}

// ---- containers ----

int32_t Lexer::innermost_marker() { return level > head ? int32_t(level - 1) : -1; }

Type Lexer::innermost_type() {
    int32_t marker = innermost_marker();
    return marker < 0 ? Type::Void : Type(slot(uint32_t(marker))->second() & 0xFFFF);
}

const uint8_t* Lexer::opener_of(int32_t marker) { return input_start + slot(uint32_t(marker))->third(); }

void Lexer::open_container(Type type) {
    if (!fire(kOpenEvent, type, token_start, token_end)) return;
    push_marker(type, token_start);
    entry = State::Start;
}

void Lexer::push_marker(Type type, const uint8_t* opener) {
    uint32_t index = alloc_slot();
    *slot(index) = Cell::of(kMarker, line_break ? kCellNewLine : 0)
                       .set_first(index - level)
                       .set_second(uint32_t(type))
                       .set_third(uint32_t(opener - input_start));
    level = tail;
    line_break = false;
}

void Lexer::close_container(Type closer, bool silent) {
    int32_t marker = innermost_marker();
    Type open = marker < 0 ? closer : innermost_type();
    const uint8_t* opener = marker < 0 ? token_start : opener_of(marker);
    if (!silent && !fire(kCloseEvent, open, opener, token_end)) {
        entry = State::Start;
        return;
    }
    bool matches = closer == open || (closer == Type::Block && open == Type::Map) ||
                   (closer == Type::SetPath && open == Type::Path);
    if (marker < 0 || !matches) syntax_error(SyntaxError::missing, open, token_start);
    // The slots after the marker become the container, written over the marker.
    uint32_t first = uint32_t(marker) + 1;
    Node node = copy_cells(slot(first), tail - first);
    Cell* cell = slot(uint32_t(marker));
    uint32_t enclosing = uint32_t(marker) - cell->first();
    *cell = Cell::of(closer, cell->header & kCellNewLine).set_node(node);
    tail = first;
    level = enclosing;
    entry = is_a(innermost_type(), TypeClass::any_path) ? State::PathElement : State::Start;
    type = closer;
}

void Lexer::close_path() {
    const uint8_t* at = position;
    auto delimiter_at = [this](const uint8_t* p) {
        uint32_t length;
        return p >= input_end || delimiter_byte_q(*p) || unicode_blank_q(p, input_end, length);
    };
    if (at < input_end && *at == '/') {
        position++;
    } else if (at < input_end && *at == ':' && innermost_type() == Type::Path && delimiter_at(at + 1)) {
        position++;
        close_container(Type::SetPath, false);
    } else if (delimiter_at(at)) {
        close_container(innermost_type(), false);
    } else {
        syntax_error(SyntaxError::invalid, Type::Path, at);
    }
}

// After "(": a number then a comma make a point literal, (1, 2) or (1.5, -2, 3).
bool Lexer::point_follows() const {
    constexpr std::string_view kNumberBytes = "\t #+-.'0123456789AEFINaefin";
    const uint8_t* comma = token_end;
    while (comma < input_end && kNumberBytes.find(char(*comma)) != std::string_view::npos) comma++;
    if (comma == input_end || *comma != ',') return false;
    std::string_view number(reinterpret_cast<const char*>(token_end), size_t(comma - token_end));
    number.remove_prefix(std::min(number.find_first_not_of(" \t"), number.size()));
    number.remove_suffix(number.size() - (number.find_last_not_of(" \t") + 1));
    double ignored;
    return float_syntax_q(number) || special_float_value(number, ignored);
}

// ---- events ----

uint32_t Lexer::count_chars(const uint8_t* at) {
    if (!is_a(input.type(), TypeClass::any_string)) return uint32_t(at - input_start);
    if (at < counted_position) {
        counted_position = input_start;
        counted_chars = 0;
    }
    counted_chars += unicode::count_utf8_chars(counted_position, at);
    counted_position = at;
    return counted_chars;
}

void Lexer::move_to(const uint8_t* at) {
    position = at;
    line = line_at(at);
    token_lines = 0;
}

bool Lexer::fire(Event event, Type type, const uint8_t* start, const uint8_t* end, const Cell* value) {
    if (!wants(event)) return true;
    if (!call_callback) ::oka::fire(Err::internal_not_done);
    const uint8_t* at = event == kOpenEvent || (event == kPrescanEvent && type == Type::Void) ? start : end;
    uint32_t first = input_head + count_chars(start);
    uint32_t last = input_head + count_chars(end);
    uint32_t index = at == start ? first : last;
    Cell* args = stack::push(words::word(kEventWords[std::countr_zero(uint32_t(event))]));
    Cell at_input = input;
    at_input.set_head(index);
    stack::push(at_input);
    Cell* type_arg = stack::push(none::value);
    integer::push(int32_t(token_line));
    if (value)
        stack::push(*value);
    else
        pair::push(int32_t(first) + 1, int32_t(last) + 1);
    if (type == Type::Void)
        exit_value(token, type_arg);
    else
        datatype::make_at(type_arg, type);
    call_callback(callback, args);
    bool go = logic::true_q(args[0]);
    uint32_t moved_to = same_series_q(args[1], input) ? args[1].head() : index;
    bool moved = moved_to != index;
    stack::top = args;
    if (moved) {
        uint32_t units = moved_to > input_head ? moved_to - input_head : 0;
        move_to(is_a(input.type(), TypeClass::any_string)
                    ? unicode::skip_utf8_chars(input_start, input_end, units)
                    : input_start + std::min(units, uint32_t(input_end - input_start)));
    }
    return go;
}

// ---- errors ----

void Lexer::stop() { sys::throw_(kStop); }

uint32_t Lexer::line_at(const uint8_t* at) const { return 1 + uint32_t(std::count(input_start, at, '\n')); }

void Lexer::syntax_error(SyntaxError kind, Type type, const uint8_t* at) {
    // A path's trouble is reported from the path's start.
    if (type == Type::Path && is_a(innermost_type(), TypeClass::any_path)) at = opener_of(innermost_marker());
    if (!loading) stop();
    if (wants(kErrorEvent)) {
        if (is_a(innermost_type(), TypeClass::any_path)) close_container(innermost_type(), true);
        if (!fire(kErrorEvent, type == Type::Void ? Type::Error : type, at, token_end)) stop();
    }
    raise(kind, type, at);
}

void Lexer::raise(SyntaxError kind, Type type, const uint8_t* at) {
    Err id = kSyntaxErrorIds[int(kind)];
    Cell* where = push_text("(line " + std::to_string(line_at(at)) + ")");
    Cell* text = push_report_text(at, input_end);
    switch (kind) {
    case SyntaxError::invalid: {
        Cell datatype;
        datatype::make_at(&datatype, type);
        ::oka::fire(id, where, &datatype, text);
    }
    case SyntaxError::missing:
    case SyntaxError::unclosed: {
        char closer = closer_of(type);
        bool at_closer = kind == SyntaxError::missing && at < input_end && *at == closer;
        Cell missing;
        char_::make_at(&missing, uint8_t(at_closer ? opener_of_closer(closer) : closer));
        ::oka::fire(id, where, &missing, text);
    }
    default: ::oka::fire(id, where, text);
    }
}

// ---- entry points ----

Type scan(Cell* destination, const uint8_t* text, uint32_t size, const Options& options, uint32_t* consumed,
          const Cell* input) {
    Lexer lexer(text, size, options, input);
    lexer.run();
    lexer.finish(destination, options);
    if (consumed) *consumed = lexer.count_chars(lexer.position);
    return lexer.type;
}

Type scan_string(Cell* destination, const Cell& string, int32_t length, const Options& options, uint32_t* consumed) {
    uint32_t available = series::rs_length_q(string);
    uint32_t count = length < 0 ? available : std::min(uint32_t(length), available);
    ScratchText text(count * utf8_room(mem::buffer(string.node())->unit()));
    uint32_t size = unicode::to_utf8_buffer(&string, text.data(), int32_t(count), false);
    return scan(destination, text.data(), size, options, consumed, &string);
}

const Cell* scan_single(const Cell& string, Cell* result) {
    uint32_t length = series::rs_length_q(string);
    stack::Root scanned(none::value);
    uint32_t consumed;
    scan_string(&scanned.cell(), string, -1, Options{.one = true, .wrap = true}, &consumed);
    if (consumed < length) return &none::value;
    Cell* values = &scanned.cell();
    *result = series::rs_tail_q(*values) ? unset::value : *block::rs_head(values);
    result->clear_new_line();
    return result;
}

Cell* load(std::string_view utf8) {
    Cell* block = stack::push(none::value);
    scan(block, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()), Options{}, nullptr);
    return block;
}

Type scan_type(std::string_view utf8) {
    Cell unused = none::value;
    return scan(&unused, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                Options{.one = true, .load = false}, nullptr);
}

bool single_token_q(std::string_view utf8, Type type) {
    Cell unused = none::value;
    uint32_t consumed = 0;
    Type scanned = scan(&unused, reinterpret_cast<const uint8_t*>(utf8.data()), uint32_t(utf8.size()),
                        Options{.one = true, .load = false}, &consumed);
    return scanned == type && consumed == utf8.size();
}

void init() { collector::register_(mark_gc); }

void mark_gc() {
    for (Lexer* scan = innermost; scan; scan = scan->outer) {
        const Cell* cells = slot_buffer().data();
        collector::mark_values(cells + scan->head, cells + scan->tail);
        collector::mark_value(scan->callback);
        collector::mark_value(scan->input);
    }
}

}  // namespace oka::lexer
