/* The screen of the text-mode views: one buffer of character cells that everything is drawn into,
   turned by a flush into one run of UTF-8 text and ANSI escape sequences written to the terminal in a
   single write; the terminal's modes around a shown view; and the hand-over between a shown view and
   the run-time's printing.

   Two display modes: inline (the default), where the view is drawn under the prompt, starting in the
   row the cursor stood in, and redrawn in place by moving the cursor up over it; and full screen (a
   window with the fullscreen flag), on the terminal's alternate screen, each frame from its home
   position. Every flush rewrites every cell: there is no comparison with the frame before.

   Cell writers (for text, widgets and the draw dialect): cell_at, put_cell and fill_rect, always
   inside the buffer; drawing code clips to a Rect of its own first (view/tui/text.h draws text).

   Colour values: the top byte is the kind (ColourKind), the rest its payload. Face colours arrive as
   tuple words (R in bits 0-7, G 8-15, B 16-23, alpha in 24-31, 255 fully transparent) and become
   xterm 256-colour indexes; image pixels arrive as 0xAARRGGBB and keep their 24 bits at colour depth 4.

   Without a terminal (standard input or output is none) the console is 80x24, and no mode escape, no
   question for the cursor's position and no frame is written: a view's output would be noise in a pipe
   or a file.

   Rules: one screen per process, on the thread of the event loop. Nothing here allocates language
   memory or throws; the cell buffer is a C++ one. */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace oka::gui {

// ---- cells

enum CellAttribute : uint32_t {
    kBlink = 0x1,
    kBold = 0x2,
    kDim = 0x4,
    kReverse = 0x8,
    kUnderline = 0x10,
    kStrike = 0x40,
    kItalic = 0x100,
    kHidden = 0x200,
    kContinuation = 0x400,  // the right half of a double-width character: written by its left half
    kMasked = 0x800,        // written as "*" whatever its character (password fields)
};

struct ScreenCell {
    uint32_t ch;  // the code point shown; 0 shows as a blank
    uint32_t bg;  // colour values
    uint32_t fg;
    uint32_t attrs;  // CellAttribute bits
};
static_assert(sizeof(ScreenCell) == 16, "four 32-bit words");

// ---- colours

enum ColourKind : uint32_t {
    kDefaultColour = 0,  // the terminal's own
    kSystemColour = 1,   // an index of the system colour table, 0-17
    kXtermColour = 2,    // an index of the xterm 256-colour palette
    kTrueColour = 4,     // 24 bits, R in bits 16-23, G 8-15, B 0-7
};
constexpr uint32_t kind_of(uint32_t colour) { return colour >> 24; }
constexpr uint32_t system_colour(uint32_t index) { return kSystemColour << 24 | index; }
constexpr uint32_t xterm_colour(uint32_t index) { return kXtermColour << 24 | index; }
constexpr uint32_t true_colour(uint32_t rgb) { return kTrueColour << 24 | (rgb & 0xFFFFFF); }

// The levels of the colour depth: what image pixels can keep.
inline constexpr int kDepth256 = 2;
inline constexpr int kDepthTrueColour = 4;

// The cube level (0-5) of one colour component.
int colour_level(int component);
// A face colour as a colour value of kind 2; the default colour (0) for a fully transparent one.
uint32_t rgb_to_xterm256(uint32_t face_colour);
// An image pixel (0xAARRGGBB, alpha 255 opaque) as a colour value at the screen's colour depth.
uint32_t pixel_colour(uint32_t argb);

// Appends one SGR sequence setting the foreground (`foreground`) or the background to `colour`.
void emit_colour(std::string& out, uint32_t colour, bool foreground);
// Appends the attribute and colour changes from `prev` to `cur`, in a fixed order: dim, reverse, bold,
// italic, strike-through, underline, then foreground and background.
void emit_attributes(std::string& out, const ScreenCell& prev, const ScreenCell& cur);

// ---- the screen

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom excluded

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

struct Screen {
    std::vector<ScreenCell> cells;  // width x height, row by row; grows, never shrinks
    int width = 0, height = 0;
    std::string out;                   // the frame being built
    int rows_above = 0;                // inline: the rows between the drawn area's top row and the cursor
    bool dirty = false;                // a redraw is due
    int cursor_x = -1, cursor_y = -1;  // the focused widget's text cursor in the drawn area; -1: none
    int top_row = 0, left_col = 0;     // inline: where the drawn area starts in the console
    bool fullscreen = false;
    bool alt_screen = false;
    bool drawn = false;  // something was flushed since the last print
    int colour_depth = kDepth256;
    bool cursor_hidden = false;

    // the console
    int console_width = 80, console_height = 24;
    bool in_screen = false;  // the terminal is in the views' modes
    bool terminal = false;   // standard input and output are a terminal: modes may be set
    bool raw = false;        // raw mode was entered for the views
    bool mouse_tracking = false;
};

Screen& screen();
// The whole screen back to its state at start-up, without writing anything (tests).
void reset_screen();

// The area the buffer covers.
Rect screen_rect();
// The cell at (x, y), or null outside the buffer.
ScreenCell* cell_at(int x, int y);
void put_cell(int x, int y, const ScreenCell& cell);
// Every cell of `rect` (clipped to the buffer) becomes a blank on `bg`; fg and attrs stay.
void fill_rect(const Rect& rect, uint32_t bg);
// All cells zero.
void clear_screen_buffer();
// Sizes the buffer to a window of `width` x `height` cells, at most the console's size; only while in
// screen.
void size_screen_buffer(int width, int height);

// Writes the whole buffer to the terminal (nothing when it is 0 wide or high) and clears `dirty`.
void flush_screen();

// Reads the console's size into the screen: 0, or -1 when the default 80 x 24 is used.
int read_console_size();

// Puts the terminal into the views' modes (raw input, the print bracket) once; in inline mode asks the
// terminal where its cursor is, so that the first frame is drawn there.
void enter_screen();
void leave_screen();
void enter_alt_screen();
void leave_alt_screen();
void clear_alt_screen();
void mouse_tracking(bool on);
void hide_cursor();
void show_cursor();
void request_cursor_position();
// Where the outermost event loop ends: the cursor goes to the row under the drawn area.
void move_below_ui();

// The bracket around every print of the run-time while a view may be shown: the drawn area is erased
// before the text, and the next frame is drawn under it.
void print_begin();
void print_end();

}  // namespace oka::gui
