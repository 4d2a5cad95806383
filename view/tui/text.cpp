#include "view/tui/text.h"

#include <algorithm>

#include "datatypes/string.h"
#include "runtime/case_folding.h"
#include "runtime/unicode.h"

namespace oka::gui {

namespace {

constexpr uint32_t kEsc = 0x1B;
constexpr uint32_t kLineFeed = 10;
constexpr uint32_t kParameterModulus = 65535;
constexpr int kGroupSize = 3;

// The colours and attributes of the characters being drawn.
struct Pen {
    uint32_t fg, bg, attrs;
};

bool sequence_at(const TextRun& text, uint32_t i) {
    return text.at(i) == kEsc && i + 1 < text.length && text.at(i + 1) == '[';
}

// One SGR parameter.
void apply_parameter(Pen& pen, const Pen& base, int32_t p) {
    // the attribute of each of 1 to 9 (6 has none); 21 to 29 clear the same
    static constexpr uint32_t kAttributes[] = {0,      kBold, kDim,     kItalic, kUnderline,
                                               kBlink, 0,     kReverse, kHidden, kStrike};
    if (p == 0) {
        pen = base;
    } else if (p >= 1 && p <= 9) {
        pen.attrs |= kAttributes[p];
    } else if (p >= 21 && p <= 29) {
        pen.attrs &= ~kAttributes[p - 20];
    } else if ((p >= 30 && p <= 37) || p == 39) {
        pen.fg = system_colour(uint32_t(p - 30));
    } else if ((p >= 40 && p <= 47) || p == 49) {
        pen.bg = system_colour(uint32_t(p - 40));
    } else if (p >= 90 && p <= 97) {
        pen.fg = system_colour(uint32_t(p - 90 + 10));
    } else if (p >= 100 && p <= 107) {
        pen.bg = system_colour(uint32_t(p - 100 + 10));
    }
}

void apply_sgr(Pen& pen, const Pen& base, const int32_t* group, int count) {
    if (count == kGroupSize && (group[0] == 38 || group[0] == 48) && group[1] == 5) {
        (group[0] == 38 ? pen.fg : pen.bg) = xterm_colour(uint32_t(group[2]) & 0xFF);
        return;
    }
    for (int k = 0; k < count; k++) apply_parameter(pen, base, group[k]);
}

// Reads the sequence that starts at `i` (Esc "[") and answers the index after it; with a pen, applies
// what it sets. Its parameters come in groups of three: a ";" after a third drops the group and starts
// the next, so that only the last group reaches the final.
uint32_t read_sequence(const TextRun& text, uint32_t i, Pen* pen, const Pen& base) {
    int32_t group[kGroupSize];
    int count = 0;
    uint32_t current = 0;
    bool pending = false;  // a parameter is being read
    for (uint32_t j = i + 2; j < text.length; j++) {
        uint32_t c = text.at(j);
        if (c >= '0' && c <= '9') {
            current = (current * 10 + (c - '0')) % kParameterModulus;
            pending = true;
        } else if (c == ';') {
            group[count++] = int32_t(current);
            if (count == kGroupSize) count = 0;
            current = 0;
            pending = true;
        } else {
            if (pending) group[count++] = int32_t(current);
            if (c == 'm' && pen) apply_sgr(*pen, base, group, count);
            return j + 1;  // the cursor and erase finals, and any other, change nothing
        }
    }
    return text.length;  // cut short: the rest is the sequence
}

int width_of(uint32_t c) { return c < 0x300 ? (c == 0 ? 0 : 1) : char_width_q(c); }

}  // namespace

uint32_t TextRun::at(uint32_t i) const { return cells ? cells[i].ch : unicode::unit_at(units, unit, i); }

TextRun text_run_of(const Cell& string) {
    string::Text text = string::text_of(string);
    return {text.data.get(), text.unit, nullptr, text.length};
}

TextRun styled_run_of(const ScreenCell* cells, uint32_t count) { return {nullptr, 1, cells, count}; }

void draw_text(const TextRun& text, int x, int y, const Rect& clip, const TextAttributes& attributes) {
    const Pen base = {attributes.fg, attributes.bg, attributes.text_flags & kCellAttributeMask};
    Pen pen = base;
    bool escapes = (attributes.text_flags & kTextEscapes) && !text.styled();
    bool wrap = attributes.para_flags & kWrap;
    int col = x, row = y;
    bool rest_of_line = false;  // the line ran past the right edge and does not wrap
    for (uint32_t i = 0; i < text.length && row < clip.bottom; i++) {
        uint32_t c = text.at(i);
        if (c == kLineFeed) {
            row++;
            col = x;
            rest_of_line = false;
            continue;
        }
        if (escapes && sequence_at(text, i)) {
            i = read_sequence(text, i, &pen, base) - 1;
            continue;
        }
        if (rest_of_line || (text.styled() && (text.cells[i].attrs & kContinuation))) continue;
        Pen cell_pen = pen;
        if (text.styled()) cell_pen = {text.cells[i].fg, text.cells[i].bg, base.attrs | text.cells[i].attrs};
        int w = (cell_pen.attrs & kMasked) ? 1 : width_of(c);  // a masked character shows as one "*"
        if (w == 0) continue;
        if (col + w > clip.right && col >= clip.left) {
            if (!wrap) {
                rest_of_line = true;
                continue;
            }
            if (col == x) continue;  // wider than the whole row
            row++;
            col = x;
            if (row >= clip.bottom) break;
        }
        if (col < clip.left || col + w > clip.right) {
            col += w;  // left of the clip: the part inside stays as it is
            continue;
        }
        if (row >= clip.top) {
            put_cell(col, row, {c, cell_pen.bg, cell_pen.fg, cell_pen.attrs});
            if (w == 2) put_cell(col + 1, row, {0, cell_pen.bg, cell_pen.fg, cell_pen.attrs | kContinuation});
        }
        col += w;
    }
}

TextSize measure_text(const TextRun& text, int max_width) {
    TextSize size = {0, 1};
    int line = 0;
    const Pen none = {0, 0, 0};
    for (uint32_t i = 0; i < text.length; i++) {
        uint32_t c = text.at(i);
        if (c == kLineFeed) {
            size.lines++;
            line = 0;
            continue;
        }
        if (!text.styled() && sequence_at(text, i)) {
            i = read_sequence(text, i, nullptr, none) - 1;
            continue;
        }
        if (text.styled() && (text.cells[i].attrs & kContinuation)) continue;
        int w = width_of(c);
        if (max_width >= 0 && line + w > max_width) {
            if (line == 0) break;  // too wide for a line of its own
            size.lines++;
            line = 0;
        }
        line += w;
        size.width = std::max(size.width, line);
    }
    return size;
}

std::vector<TextPlace> place_text(const TextRun& text, int max_width) {
    std::vector<TextPlace> places;
    places.reserve(text.length + 1);
    int column = 0, line = 0;
    const Pen none = {0, 0, 0};
    for (uint32_t i = 0; i < text.length; i++) {
        uint32_t c = text.at(i);
        if (!text.styled() && sequence_at(text, i)) {
            uint32_t end = read_sequence(text, i, nullptr, none);
            for (; i < end; i++) places.push_back({column, line, 0});
            i--;
            continue;
        }
        int w = c == kLineFeed || (text.styled() && (text.cells[i].attrs & kContinuation)) ? 0 : width_of(c);
        if (max_width >= 0 && w > 0 && column + w > max_width && column > 0) {
            line++;
            column = 0;
        }
        places.push_back({column, line, w});
        column += w;
        if (c == kLineFeed) {
            line++;
            column = 0;
        }
    }
    places.push_back({column, line, 0});
    return places;
}

Offset align_text(const TextSize& size, int box_width, int box_height, uint32_t para_flags) {
    Offset offset = {0, 0};
    if (size.width < box_width) {
        if (para_flags & kAlignCenter)
            offset.x = (box_width - size.width) / 2;
        else if (para_flags & kAlignRight)
            offset.x = box_width - size.width;
    }
    if (size.lines < box_height) {
        if (para_flags & kAlignMiddle)
            offset.y = (box_height - size.lines) / 2;
        else if (para_flags & kAlignBottom)
            offset.y = box_height - size.lines;
    }
    return offset;
}

}  // namespace oka::gui
