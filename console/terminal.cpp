#include "console/terminal.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "platform/os.h"
#include "platform/terminal.h"
#include "runtime/case_folding.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace oka::terminal {

namespace {

constexpr int kTabColumns = 4;

// Key codes that are characters.
enum : int {
    kCtrlA = 1,
    kCtrlB = 2,
    kCtrlC = 3,
    kCtrlD = 4,
    kCtrlE = 5,
    kCtrlF = 6,
    kBackspace = 8,  // Ctrl+H
    kTab = 9,
    kCtrlK = 11,
    kEnter = 13,
    kCtrlN = 14,
    kCtrlP = 16,
    kEsc = 27,
    kRubout = 127,  // what most terminals send for Backspace
};

bool console = true;
Size window = {0, 0};  // the window's size as the console reports it
int columns = -1;      // the width that the editor wraps at
Completer completer = nullptr;
SizeListener size_listener = nullptr;

Cell line, prompt, history, saved_line;
bool roots_registered = false;

// ---- one edit's state

bool hidden = false;
bool full_redraw = true;
bool first_refresh = true;
int cursor_row = 0;     // the terminal cursor's row, counted from the prompt's first row
int prompt_column = 0;  // where the prompt starts in its row
int last_row = 0;       // the row of the end of the text
int history_index = -1;
int history_count = 0;
// The width at the end of the text as the last redraw measured it, or -1 when unknown. A character
// appended adds its own width to it, so that typing or pasting at the end never measures the whole
// line again; not once the line holds an Esc, which may start a sequence that the next characters
// continue, nor after the window changed its width.
int end_width = -1;

// ---- the line

uint32_t line_length() { return string::rs_abs_length_q(line); }
uint32_t cursor() { return line.head(); }
void set_cursor(uint32_t at) { line.set_head(at); }
bool at_end() { return cursor() >= line_length(); }

void empty_line() {
    line.set_head(0);
    string::rs_reset(&line);
}

Cell whole_of(const Cell& string) {
    Cell whole = string;
    whole.set_head(0);
    return whole;
}

// `target` becomes the whole text of `source` (from its buffer's start), positioned at `position`.
void copy_whole(Cell* target, const Cell& source, uint32_t position) {
    Cell* kept = stack::push(whole_of(source));  // a value out of a block stays reachable while `target` grows
    target->set_head(0);
    string::rs_reset(target);
    string::concatenate(*target, *kept, -1, 0, string::Mode::append);
    target->set_head(position);
    stack::top--;
}

// The line becomes the whole text of `source`, the cursor at its end.
void set_line_text(const Cell& source) { copy_whole(&line, source, string::rs_abs_length_q(source)); }

void set_line_literal(const char* text) {
    empty_line();
    string::concatenate_literal(&line, text, uint32_t(std::char_traits<char>::length(text)));
    set_cursor(line_length());
}

// ---- widths

int char_columns(uint32_t code_point) {
    if (code_point >= 0x1F300 && code_point <= 0x1F5FF) return 2;
    return char_width_q(code_point);
}

// The absolute width after one character `char_cols` columns wide placed at `width`: a wide one that would
// start in a row's last column takes that cell too.
int advance(int width, int char_cols) {
    if (char_cols == 2 && width % columns == columns - 1) return width + 3;
    return width + char_cols;
}

void emit_code_point(uint32_t code_point, bool write) {
    if (!write) return;
    uint8_t bytes[4];
    platform::out_append({reinterpret_cast<const char*>(bytes), unicode::cp_to_utf8(code_point, bytes)});
}

bool bracket_q(uint32_t c) { return c == '[' || c == '('; }
bool parameter_q(uint32_t c) { return (c >= '0' && c <= '9') || c == ';'; }

// Emits the escape sequence at `at` (Esc, its bracket, digits and ";", one more character), which takes
// no columns; returns the index of its last character.
uint32_t emit_sequence(const Cell& text, uint32_t at, uint32_t to, bool write) {
    emit_code_point(kEsc, write);
    emit_code_point(string::rs_abs_at(text, ++at), write);
    while (at + 1 < to && parameter_q(string::rs_abs_at(text, at + 1)))
        emit_code_point(string::rs_abs_at(text, ++at), write);
    if (at + 1 < to) emit_code_point(string::rs_abs_at(text, ++at), write);
    return at;
}

// Emits (when `write`) and measures the characters of `text` from absolute index `from` to `to`,
// starting at absolute width `width`; returns the width after them.
int emit(const Cell& text, uint32_t from, uint32_t to, bool mask, int width, bool write) {
    for (uint32_t i = from; i < to; i++) {
        uint32_t c = string::rs_abs_at(text, i);
        if (mask) {
            emit_code_point('*', write);
            width = advance(width, 1);
        } else if (c == '\t') {
            for (int k = 0; k < kTabColumns; k++) emit_code_point(' ', write);
            width += kTabColumns;
        } else if (c == kEsc && i + 1 < to && bracket_q(string::rs_abs_at(text, i + 1))) {
            i = emit_sequence(text, i, to, write);
        } else {
            emit_code_point(c, write);
            width = advance(width, char_columns(c));
        }
    }
    return width;
}

// The row that the terminal's cursor is on after text that ends at `width`: text that fills its last
// row leaves the cursor there, in the last column, until the next character.
int row_after_text(int width) { return width > 0 && width % columns == 0 ? width / columns - 1 : width / columns; }

void flush_out() { platform::out_flush(); }

// Moves the terminal's cursor to the start of `row` (relative to the prompt's), then `column` right.
// A line feed goes down, so that the screen scrolls when the row lies below its end.
void move_cursor(int row, int column) {
    platform::out_append("\r");
    if (row > cursor_row) platform::out_append(std::string(size_t(row - cursor_row), '\n'));
    if (row < cursor_row) platform::out_append("\x1b[" + std::to_string(cursor_row - row) + "A");
    if (column > 0) platform::out_append("\x1b[" + std::to_string(column) + "C");
    cursor_row = row;
}

// Places the cursor at width `at` of text `total` wide. A wide character under the cursor in the last
// column is drawn at the start of the next row, and so is the cursor.
void place_cursor(int at, int total) {
    int row = at / columns, column = at % columns;
    if (column == columns - 1 && !at_end() && !hidden && char_columns(string::rs_abs_at(line, cursor())) == 2) {
        row++;
        column = 0;
    }
    move_cursor(row, column);
    last_row = total / columns;
}

// What the terminal shows since the last redraw, which tells how the next one starts.
enum class Shown {
    as_placed,         // the cursor is where the last redraw placed it
    appended,          // one character was written after the text's end
    cleared_after_it,  // as placed, and the cells from the cursor on are to be blanked
};

bool holds_escape(const Cell& text) {
    for (uint32_t i = 0; i < string::rs_abs_length_q(text); i++)
        if (string::rs_abs_at(text, i) == kEsc) return true;
    return false;
}

// Draws prompt and line where the edit starts, behind the question for where the cursor is: they are
// on the screen while the answer is on its way, and the answer, which tells the prompt's column (0 when
// none comes), only serves to place the cursor. The characters written do not depend on that column.
void draw_first() {
    bool asked = platform::ask_cursor_column();
    emit(prompt, prompt.head(), string::rs_abs_length_q(prompt), false, 0, true);
    emit(line, 0, line_length(), hidden, 0, true);
    int column = asked ? platform::answered_cursor_column(0) : -1;
    prompt_column = std::clamp(column, 0, columns - 1);
}

// Redraws prompt and line (full_redraw) or only places the cursor.
void refresh_line(Shown shown = Shown::as_placed) {
    bool drawn = full_redraw;
    bool write = full_redraw;
    if (first_refresh) {
        first_refresh = false;
        cursor_row = 0;
        draw_first();
        write = false;  // measured below at the column the terminal told
    } else if (write) {
        move_cursor(0, prompt_column);
        platform::out_append("\x1b[J");
    }
    int w2, w3;
    if (shown == Shown::appended && end_width >= 0) {
        w2 = w3 = emit(line, cursor() - 1, cursor(), hidden, end_width, false);
        end_width = hidden || string::rs_abs_at(line, cursor() - 1) != kEsc ? w3 : -1;
    } else {
        int w1 = emit(prompt, prompt.head(), string::rs_abs_length_q(prompt), false, prompt_column, write);
        w2 = emit(line, 0, cursor(), hidden, w1, write);
        w3 = emit(line, cursor(), line_length(), hidden, w2, write);
        end_width = hidden || !holds_escape(line) ? w3 : -1;
    }
    if (drawn || shown == Shown::appended) cursor_row = row_after_text(w3);
    if (shown == Shown::appended && w3 % columns != 0) {
        last_row = cursor_row;  // the cursor already follows the character written
        return;
    }
    place_cursor(w2, w3);
    if (shown == Shown::cleared_after_it) platform::out_append("\x1b[J");
    flush_out();
}

void update_size() {
    int c = 0, r = 0;
    if (platform::window_size(1, c, r) || platform::window_size(0, c, r)) window = {c, r};
    columns = window.columns;
    if (columns <= 0) columns = window.columns = kNoSize.columns;
    prompt_column = std::min(prompt_column, columns - 1);
    if (size_listener) size_listener(window);
    end_width = -1;  // a wide character that would start in a row's last column wraps elsewhere
}

// The width from the prompt's start to the cursor, as the line is drawn at the current width.
int cursor_width() {
    int w1 = emit(prompt, prompt.head(), string::rs_abs_length_q(prompt), false, prompt_column, false);
    return emit(line, 0, cursor(), hidden, w1, false);
}

// Reads keys until one is not a change of the window's size. A terminal rewraps the rows of the line at
// the new width, its cursor staying on the same character: the line is drawn again from the prompt's
// start, found from there, over what the old width drew.
int read_key() {
    for (;;) {
        int key = platform::read_key(0);
        if (key != int(platform::Key::resized)) return key;
        update_size();
        int at = cursor_width();
        cursor_row = at_end() ? row_after_text(at) : at / columns;
        full_redraw = true;
        refresh_line();
    }
}

// ---- history

bool same_text(const Cell& a, const Cell& b) {
    string::Text x = string::text_of(a), y = string::text_of(b);
    if (x.length != y.length) return false;
    for (uint32_t i = 0; i < x.length; i++)
        if (x.at(i) != y.at(i)) return false;
    return true;
}

void add_history() {
    set_cursor(0);
    if (hidden || line_length() == 0) return;
    history.set_head(0);
    if (history_count > 0) {
        Cell first = *block::rs_abs_at(history, 0);
        if (first.is(Type::String) && same_text(first, line)) return;
    }
    block::insert_value(&history, line, {.at_start = true});
}

void fetch_history(int index) { set_line_text(*block::rs_abs_at(history, uint32_t(index))); }

// ---- completion

uint32_t block_count(const Cell& block) { return series::rs_buffer_length_q(block) - block.head(); }

constexpr int kCompletionFailed = -1;

// Asks the completer for the candidates; returns their count (0: none, Tab is a character), or
// kCompletionFailed (the key does nothing). Hidden input is never completed: its text is nobody's
// word, and a list of candidates would end the edit.
int complete() {
    if (!completer || hidden) return 0;
    Cell* saved_top = stack::top;
    Cell* result = stack::push_next();
    none::make_at(result);
    completer(line, result);
    int n = result->is(Type::Block) ? int(block_count(*result)) : kCompletionFailed;
    if (n > 0) {
        copy_whole(&saved_line, line, cursor());
        Cell* first = stack::push(*block::rs_abs_at(*result, result->head()));
        if (n == 1) {
            set_line_text(*first);
            set_cursor(first->head());
        } else {
            copy_whole(&saved_line, *first, first->head());
            empty_line();
            for (uint32_t i = result->head() + 1; i < series::rs_buffer_length_q(*result); i++) {
                Cell* candidate = stack::push(*block::rs_abs_at(*result, i));
                string::concatenate(line, *candidate, -1, 0, string::Mode::append);
                string::concatenate_literal(&line, " ", 1);
                stack::top--;
            }
            set_cursor(line_length());
        }
        full_redraw = true;
        refresh_line();
    }
    stack::top = saved_top;
    return n;
}

// ---- keys

void insert_char(uint32_t c) {
    if (at_end()) {
        string::append_char(line.node(), c);
        set_cursor(cursor() + 1);
        emit(line, cursor() - 1, cursor(), hidden, 0, true);
        flush_out();
        full_redraw = false;
        refresh_line(Shown::appended);
        return;
    }
    string::insert_char(line.node(), cursor(), c);
    set_cursor(cursor() + 1);
    refresh_line();
}

void backspace() {
    if (cursor() == 0) return;
    set_cursor(cursor() - 1);
    string::remove_char(line.node(), cursor());
    if (at_end()) {
        full_redraw = false;
        refresh_line(Shown::cleared_after_it);
    } else {
        refresh_line();
    }
}

void move_by(int step) {
    if (step < 0 ? cursor() == 0 : at_end()) return;
    set_cursor(cursor() + step);
    full_redraw = false;
    refresh_line();
}

void history_up() {
    if (history_index < history_count - 1)
        fetch_history(++history_index);
    else
        empty_line();
    refresh_line();
}

void history_down() {
    if (history_index < 0) {
        empty_line();
    } else {
        fetch_history(history_index--);
    }
    refresh_line();
}

void delete_part(uint32_t count) {
    if (at_end()) return;
    string::remove_part(line.node(), cursor(), count);
    refresh_line();
}

// Puts the cursor after the text, at the start of its last row.
void leave_line() {
    move_cursor(last_row, 0);
    flush_out();
}

enum class Step { go_on, done, ended_input };

// Acts on one key.
Step act(int key) {
    switch (key) {
    case kEnter:
        leave_line();
        add_history();
        string::rs_reset(&saved_line);
        return Step::done;
    case kBackspace:
    case kRubout: backspace(); return Step::go_on;
    case int(platform::Key::left):
    case kCtrlB: move_by(-1); return Step::go_on;
    case int(platform::Key::right):
    case kCtrlF: move_by(1); return Step::go_on;
    case int(platform::Key::up):
    case kCtrlP: history_up(); return Step::go_on;
    case int(platform::Key::down):
    case kCtrlN: history_down(); return Step::go_on;
    case int(platform::Key::home):
    case kCtrlA:
        set_cursor(0);
        refresh_line();
        return Step::go_on;
    case int(platform::Key::end):
    case kCtrlE:
        set_cursor(line_length());
        refresh_line();
        return Step::go_on;
    case int(platform::Key::delete_): delete_part(1); return Step::go_on;
    case kCtrlK: delete_part(line_length() - cursor()); return Step::go_on;
    case kCtrlD:
        if (line_length() == 0) {
            leave_line();
            set_line_literal("q");
            return Step::done;
        }
        delete_part(1);
        return Step::go_on;
    case kCtrlC:
        leave_line();
        set_line_literal("q");
        return Step::done;
    case kEsc:
        leave_line();
        string::rs_reset(&saved_line);
        set_cursor(line_length());
        string::append_char(line.node(), kEsc);
        return Step::done;
    case int(platform::Key::failed):
        // The terminal is gone (hung up, closed): waiting on would spin on failing reads.
        leave_line();
        set_line_literal("q");
        return Step::ended_input;
    default:
        if (key > 31 || key == kTab) insert_char(uint32_t(key));
        return Step::go_on;
    }
}

bool edit_line() {
    history.set_head(0);
    history_index = -1;
    history_count = int(block_count(history));
    update_size();
    if (string::rs_abs_length_q(saved_line) > 0) {
        uint32_t start = line_length();
        string::concatenate(line, whole_of(saved_line), -1, 0, string::Mode::append);
        set_cursor(start + saved_line.head());
    } else {
        set_cursor(line_length());
    }
    full_redraw = true;
    refresh_line();
    for (;;) {
        full_redraw = true;
        int key = read_key();
        if (key == kTab) {
            int n = complete();
            if (n > 1) {
                leave_line();
                empty_line();
                return true;
            }
            if (n == 1 || n == kCompletionFailed) continue;
        }
        Step step = act(key);
        if (step != Step::go_on) return step == Step::done;
    }
}

void register_roots() {
    if (roots_registered) return;
    for (Cell* cell : {&line, &prompt, &history, &saved_line}) {
        cell->header = uint8_t(Type::Unset);
        runtime::register_root(cell);
    }
    roots_registered = true;
}

// ---- plain input

int pending_byte = -1;  // a byte read past a broken UTF-8 sequence, the next character's first

int read_byte() {
    if (pending_byte >= 0) return std::exchange(pending_byte, -1);
    uint8_t byte;
    return platform::read_some(0, &byte, 1) == 1 ? byte : -1;
}

// One character of standard input; -1 at the end.
int32_t read_char() {
    int lead = read_byte();
    if (lead < 0x80) return lead;
    uint32_t length = unicode::utf8_lead_length(uint8_t(lead));
    if (length == 0) return unicode::kReplacementCharacter;
    uint8_t bytes[5] = {uint8_t(lead)};
    for (uint32_t i = 1; i < length; i++) {
        int byte = read_byte();
        if (byte < 0 || (byte & 0xC0) != 0x80) {
            pending_byte = byte;
            return unicode::kReplacementCharacter;
        }
        bytes[i] = uint8_t(byte);
    }
    int32_t code_point;
    unicode::fast_decode_utf8_char(bytes, code_point);
    return code_point < 0 ? int32_t(unicode::kReplacementCharacter) : code_point;
}

}  // namespace

void init() {
    console = platform::is_terminal(0) && platform::is_terminal(1);
    window = {0, 0};
    if (console) update_size();
    if (window.columns <= 0 || window.rows <= 0) window = kNoSize;
}

void init_globals() {
    register_roots();
    string::rs_make_at(&saved_line, 1);
}

Size size() { return window; }
bool console_q() { return console; }

void setup(const Cell& line_, const Cell& history_) {
    register_roots();
    line = line_;
    history = history_;
}

bool edit(const Cell& prompt_, bool hidden_) {
    if (!console) {
        hidden = false;
        return stdin_readline(line);
    }
    if (!saved_line.is(Type::String)) init_globals();
    prompt = prompt_;
    hidden = hidden_;
    first_refresh = true;
    bool entered;
    {
        platform::RawModeScope raw(0);
        entered = edit_line();
    }
    platform::out_write("\n", 1);
    return entered;
}

bool stdin_readline(const Cell& string) {
    int32_t c = read_char();
    if (c < 0) return false;
    for (; c >= 0 && c != '\n'; c = read_char()) string::append_char(string.node(), uint32_t(c));
    return true;
}

Cell* input_stdin(Cell* result) {
    string::rs_make_at(result, 256);
    stdin_readline(*result);
    return result;
}

int32_t read_stdin(const Cell& binary, int32_t length) {
    auto buffer = mem::buffer(binary.node());
    Addr head = buffer->offset + binary.head();
    if (head > buffer->data_end() || length <= 0) return 0;
    size_t room = std::min<size_t>(size_t(length), buffer->data_end() - head);
    long count = platform::read_some(0, mem::ptr<uint8_t>(head), room);
    if (count > 0) {
        buffer = mem::buffer(binary.node());
        buffer->tail = std::max<Addr>(buffer->tail, head + Addr(count));
    }
    return int32_t(count);
}

Size console_init(const char* title) {
    platform::set_title(title);
    init();
    init_globals();
    return window;
}

void set_completer(Completer completer_) { completer = completer_; }

void set_size_listener(SizeListener listener) { size_listener = listener; }

}  // namespace oka::terminal
