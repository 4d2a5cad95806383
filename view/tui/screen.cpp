#include "view/tui/screen.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/terminal.h"
#include "runtime/case_folding.h"
#include "runtime/print_hooks.h"
#include "runtime/unicode.h"

namespace oka::gui {

namespace {

Screen the_screen;

// ---- colours

struct Rgb {
    int r, g, b;
};

constexpr int kCubeLevels[] = {0, 95, 135, 175, 215, 255};

// The xterm 256-colour palette: the sixteen system colours, the 6x6x6 cube, the 24 greys.
constexpr Rgb palette_entry(int index) {
    constexpr Rgb kSystem[] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                               {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                               {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                               {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    if (index < 16) return kSystem[index];
    if (index < 232) {
        int i = index - 16;
        return {kCubeLevels[i / 36], kCubeLevels[i / 6 % 6], kCubeLevels[i % 6]};
    }
    int grey = 8 + 10 * (index - 232);
    return {grey, grey, grey};
}

int distance(const Rgb& a, int r, int g, int b) {
    return (a.r - r) * (a.r - r) + (a.g - g) * (a.g - g) + (a.b - b) * (a.b - b);
}

// The system colour table: the background and foreground parameter of each index.
struct SystemPair {
    const char* background;
    const char* foreground;
};
constexpr SystemPair kSystemColours[] = {
    {"40", "30"},  {"41", "31"},  {"42", "32"},  {"43", "33"},  {"44", "34"},  {"45", "35"},
    {"46", "36"},  {"47", "37"},  {"0", "0"},    {"49", "39"},  {"100", "90"}, {"101", "91"},
    {"102", "92"}, {"103", "93"}, {"104", "94"}, {"105", "95"}, {"106", "96"}, {"107", "97"},
};
static_assert(std::size(kSystemColours) == 18, "eight standard colours, none, default, eight bright ones");

void append_number(std::string& out, uint32_t n) {
    char digits[12];
    out.append(digits, std::to_chars(digits, std::end(digits), n).ptr);
}

void append_sgr(std::string& out, const char* parameter) {
    out += "\x1b[";
    out += parameter;
    out += 'm';
}

// ---- the frame

constexpr ScreenCell kBlankCell = {0, 0, 0, 0};

// The columns a cell's character takes; a blank (0) takes one.
int width_of(uint32_t c) { return c < 0x300 ? 1 : char_width_q(c); }

// Control characters would speak to the terminal instead of showing: they show as blanks.
bool control_q(uint32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void append_utf8(std::string& out, uint32_t c) {
    if (c > unicode::kMaxCodePoint || unicode::surrogate_q(c)) c = platform::kReplacementCharacter;
    uint8_t bytes[4];
    out.append(reinterpret_cast<const char*>(bytes), unicode::cp_to_utf8(c, bytes));
}

void append_char_of(std::string& out, const ScreenCell& cell) {
    if (cell.attrs & kMasked)
        out += '*';
    else if (cell.ch == 0 || control_q(cell.ch))
        out += ' ';
    else
        append_utf8(out, cell.ch);
}

// "Esc [ n <final>" for a cursor move.
void append_move(std::string& out, int n, char final) {
    out += "\x1b[";
    append_number(out, uint32_t(n));
    out += final;
}

// ---- modes

// Writes a mode escape, only to a terminal.
void write_mode(const char* bytes) {
    if (the_screen.terminal) platform::out_write(bytes, std::strlen(bytes));
}

// What undoes the modes the screen holds, should the process end while it holds them.
void update_restore_sequence() {
    std::string undo;
    if (the_screen.mouse_tracking) undo += "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";
    if (the_screen.alt_screen) undo += "\x1b[?1049l";
    if (the_screen.cursor_hidden) undo += "\x1b[?25h";
    platform::set_restore_sequence(undo);
}

}  // namespace

// ---- colours

int colour_level(int v) {
    if (v < 48) return 0;
    if (v < 115) return 1;
    return (v - 35) / 40;
}

uint32_t rgb_to_xterm256(uint32_t c) {
    if (c >> 24 == 255) return 0;
    int r = int(c & 0xFF), g = int(c >> 8 & 0xFF), b = int(c >> 16 & 0xFF);
    int cube = 16 + 36 * colour_level(r) + 6 * colour_level(g) + colour_level(b);
    int average = (r + g + b) / 3;
    int grey = 232 + (average > 238 ? 23 : (average - 3) / 10);
    bool cube_nearer = distance(palette_entry(cube), r, g, b) < distance(palette_entry(grey), r, g, b);
    return xterm_colour(uint32_t(cube_nearer ? cube : grey));
}

uint32_t pixel_colour(uint32_t argb) {
    if (the_screen.colour_depth == kDepthTrueColour) return true_colour(argb);
    // a face colour word: R in the low byte, alpha 0 opaque
    uint32_t r = argb >> 16 & 0xFF, g = argb >> 8 & 0xFF, b = argb & 0xFF;
    return rgb_to_xterm256(r | g << 8 | b << 16);
}

void emit_colour(std::string& out, uint32_t colour, bool foreground) {
    out += "\x1b[";
    uint32_t payload = colour & 0xFFFFFF;
    switch (kind_of(colour)) {
    case kDefaultColour: out += foreground ? "39" : "49"; break;
    case kSystemColour:
        if (payload < std::size(kSystemColours)) {
            out += foreground ? kSystemColours[payload].foreground : kSystemColours[payload].background;
        } else {
            out += '0';
        }
        break;
    case kXtermColour:
        out += foreground ? "38;5;" : "48;5;";
        append_number(out, payload & 0xFF);
        break;
    case kTrueColour:
        out += foreground ? "38;2;" : "48;2;";
        append_number(out, payload >> 16);
        out += ';';
        append_number(out, payload >> 8 & 0xFF);
        out += ';';
        append_number(out, payload & 0xFF);
        break;
    default: out += '0';
    }
    out += 'm';
}

void emit_attributes(std::string& out, const ScreenCell& prev, const ScreenCell& cur) {
    struct Switch {
        uint32_t bit;
        const char* on;
        const char* off;
    };
    static constexpr Switch kSwitches[] = {
        {kDim, "2", "22"},    {kReverse, "7", "27"}, {kBold, "1", "22"},
        {kItalic, "3", "23"}, {kStrike, "9", "29"},  {kUnderline, "4", "24"},
    };
    uint32_t changed = prev.attrs ^ cur.attrs;
    bool intensity_reset = false;  // "22" ends bold and dim alike
    for (const Switch& s : kSwitches) {
        if (!(changed & s.bit)) continue;
        bool on = cur.attrs & s.bit;
        append_sgr(out, on ? s.on : s.off);
        if (!on && (s.bit == kBold || s.bit == kDim)) intensity_reset = true;
    }
    // Whichever of bold and dim is to stay on is set again after a "22" that ended it.
    if (intensity_reset) {
        if (cur.attrs & kDim) append_sgr(out, "2");
        if (cur.attrs & kBold) append_sgr(out, "1");
    }
    if (cur.fg != prev.fg) emit_colour(out, cur.fg, true);
    if (cur.bg != prev.bg) emit_colour(out, cur.bg, false);
}

// ---- the screen

Screen& screen() { return the_screen; }

void reset_screen() { the_screen = Screen{}; }

Rect screen_rect() { return {0, 0, the_screen.width, the_screen.height}; }

ScreenCell* cell_at(int x, int y) {
    if (x < 0 || y < 0 || x >= the_screen.width || y >= the_screen.height) return nullptr;
    return &the_screen.cells[size_t(y) * size_t(the_screen.width) + size_t(x)];
}

void put_cell(int x, int y, const ScreenCell& cell) {
    if (ScreenCell* target = cell_at(x, y)) *target = cell;
}

void fill_rect(const Rect& rect, uint32_t bg) {
    int left = std::max(rect.left, 0), right = std::min(rect.right, the_screen.width);
    int top = std::max(rect.top, 0), bottom = std::min(rect.bottom, the_screen.height);
    for (int y = top; y < bottom; y++) {
        for (int x = left; x < right; x++) {
            ScreenCell& cell = *cell_at(x, y);
            cell.ch = ' ';
            cell.bg = bg;
        }
    }
}

void clear_screen_buffer() {
    std::fill_n(the_screen.cells.begin(), size_t(the_screen.width) * size_t(the_screen.height), kBlankCell);
}

void size_screen_buffer(int width, int height) {
    if (!the_screen.in_screen) return;
    width = std::clamp(width, 0, the_screen.console_width);
    height = std::clamp(height, 0, the_screen.console_height);
    if (width == the_screen.width && height == the_screen.height) return;
    size_t needed = size_t(width) * size_t(height);
    if (needed > the_screen.cells.size()) the_screen.cells.assign(needed, kBlankCell);
    the_screen.width = width;
    the_screen.height = height;
}

void flush_screen() {
    Screen& s = the_screen;
    if (s.width < 1 || s.height < 1) return;
    std::string& out = s.out;
    if (s.fullscreen) {
        out += "\x1b[H";
    } else {
        out += '\r';
        if (s.rows_above > 0) append_move(out, s.rows_above, 'A');
        out += "\x1b[0J";
    }
    ScreenCell prev = kBlankCell;
    for (int y = 0; y < s.height; y++) {
        const ScreenCell* row = cell_at(0, y);
        bool right_half_due = false;  // the last character written was wide: its right half is written
        for (int x = 0; x < s.width; x++) {
            ScreenCell cell = row[x];
            if (cell.attrs & kContinuation) {
                if (std::exchange(right_half_due, false)) continue;
                cell = {' ', cell.bg, cell.fg, cell.attrs & ~kContinuation};  // its left half was drawn over
            } else {
                // A character shows in the cells it has, so that the rest of the row stays in its columns.
                int w = (cell.attrs & kMasked) ? 1 : width_of(cell.ch);
                right_half_due = w == 2 && x + 1 < s.width && (row[x + 1].attrs & kContinuation);
                if (w == 0 || (w == 2 && !right_half_due)) cell.ch = ' ';
            }
            emit_attributes(out, prev, cell);
            prev = cell;
            append_char_of(out, cell);
        }
        if (y + 1 < s.height) {
            // the rest of the terminal's row keeps the default background
            prev.bg = 0;
            out += "\x1b[49m\r\n";
        }
    }
    emit_attributes(out, prev, kBlankCell);
    if (s.cursor_x >= 0 || s.cursor_y >= 0) {
        out += '\r';
        if (s.height - (s.cursor_y + 1) > 0) append_move(out, s.height - (s.cursor_y + 1), 'A');
        if (s.cursor_x > 0) append_move(out, s.cursor_x, 'C');
        s.rows_above = s.cursor_y;
    } else {
        s.rows_above = s.height - 1;
    }
    platform::out_append(out);
    platform::out_flush();
    out.clear();
    s.drawn = true;
    s.dirty = false;
}

int read_console_size() {
    Screen& s = the_screen;
    s.console_width = 80;
    s.console_height = 24;
    int columns = 0, rows = 0;
    bool terminal = platform::is_terminal(0) && platform::is_terminal(1);
    if (!terminal || !platform::window_size(1, columns, rows) || columns < 1 || rows < 1) return -1;
    s.console_width = columns;
    s.console_height = rows;
    return 0;
}

void enter_screen() {
    Screen& s = the_screen;
    if (s.in_screen) return;
    s.terminal = platform::is_terminal(0) && platform::is_terminal(1);
    s.raw = platform::is_terminal(0) && platform::enter_raw_mode(0);
    read_console_size();
    io::set_print_bracket({print_begin, print_end});
    s.in_screen = true;
    if (!s.fullscreen) request_cursor_position();
}

void leave_screen() {
    Screen& s = the_screen;
    if (!s.in_screen) return;
    io::set_print_bracket({});
    platform::out_flush();
    if (s.raw) platform::leave_raw_mode();
    s.raw = false;
    s.in_screen = false;
}

void enter_alt_screen() {
    Screen& s = the_screen;
    if (!s.fullscreen || s.alt_screen || !s.terminal) return;
    write_mode("\x1b[?1049h\x1b[2J");
    s.alt_screen = true;
    update_restore_sequence();
}

void leave_alt_screen() {
    Screen& s = the_screen;
    if (!s.alt_screen) return;
    write_mode("\x1b[?1049l");
    s.alt_screen = false;
    update_restore_sequence();
}

void clear_alt_screen() {
    if (the_screen.alt_screen) write_mode("\x1b[2J");
}

void mouse_tracking(bool on) {
    Screen& s = the_screen;
    if (on == s.mouse_tracking || !s.terminal) return;
    write_mode(on ? "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h" : "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l");
    s.mouse_tracking = on;
    update_restore_sequence();
}

void hide_cursor() {
    Screen& s = the_screen;
    if (s.cursor_hidden || !s.terminal) return;
    write_mode("\x1b[?25l");
    s.cursor_hidden = true;
    update_restore_sequence();
}

void show_cursor() {
    Screen& s = the_screen;
    if (!s.cursor_hidden) return;
    write_mode("\x1b[?25h");
    s.cursor_hidden = false;
    update_restore_sequence();
}

void request_cursor_position() { write_mode("\x1b[6n"); }

void move_below_ui() {
    Screen& s = the_screen;
    if (!s.drawn) return;
    std::string& out = s.out;
    int down = s.height - 1 - s.rows_above;
    if (down > 0) append_move(out, down, 'B');
    out += "\r\n";
    platform::out_append(out);
    platform::out_flush();
    out.clear();
    s.rows_above = 0;
    s.drawn = false;
}

void print_begin() {
    Screen& s = the_screen;
    if (!s.in_screen) return;
    if (s.drawn) {
        std::string& out = s.out;
        out += '\r';
        if (s.rows_above > 0) append_move(out, s.rows_above, 'A');
        out += "\x1b[0J";
        platform::out_append(out);
        out.clear();
        s.rows_above = 0;
    }
    s.drawn = false;
    platform::out_flush();
}

void print_end() {
    Screen& s = the_screen;
    if (!s.in_screen) return;
    s.dirty = true;
    if (!s.fullscreen) request_cursor_position();
}

}  // namespace oka::gui
