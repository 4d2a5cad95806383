// The text-mode views' drawing: a frame of 80x24 cells built and written (targets: under 1 ms), and
// the redraw of a window of 40 faces after one facet changed (under 2 ms: the update of the face's
// widget, the rendering of the whole window and the frame written).
//
// Frames are written to /dev/null with one write each, as they would be to a terminal. Reports the
// median and the 99th percentile over many frames.
//
//     tui_bench
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/none.h"
#include "datatypes/series.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "platform/terminal.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"
#include "tests/unit/tui_testing.h"
#include "view/tui/faces.h"
#include "view/tui/render.h"
#include "view/tui/screen.h"
#include "view/tui/widgets.h"

namespace {

using namespace oka;
using namespace oka::gui;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 5000;
constexpr int kRedraws = 2000;

int null_device = -1;
size_t bytes_written = 0;
int writes = 0;
void write_to_null(const char* bytes, size_t n) {
    if (write(null_device, bytes, n) < 0) std::perror("write");
    bytes_written += n;
    writes++;
}

struct Times {
    double median, p99;  // microseconds
};

template <class F>
Times measure(int runs, F&& once) {
    std::vector<double> times;
    times.reserve(size_t(runs));
    for (int i = 0; i < runs; i++) {
        Clock::time_point start = Clock::now();
        once(i);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

void screen_of(int width, int height) {
    reset_screen();
    screen().in_screen = true;
    screen().terminal = true;  // frames are written as they are to a terminal
    screen().console_width = width;
    screen().console_height = height;
    size_screen_buffer(width, height);
}

// A frame as varied as a view's: words of text, the colours changing every few cells, a bold run.
void fill_frame() {
    const char* text = "The quick brown fox jumps over the lazy dog; 0123456789 ";
    for (int y = 0; y < screen().height; y++) {
        for (int x = 0; x < screen().width; x++) {
            uint32_t ch = uint32_t(text[(x + y * 7) % 56]);
            uint32_t bg = (x / 8 + y) % 3 == 0 ? xterm_colour(uint32_t(17 + y)) : 0;
            uint32_t fg = xterm_colour(uint32_t(196 + x / 16));
            put_cell(x, y, {ch, bg, fg, (x / 20) % 2 ? uint32_t(kBold) : 0u});
        }
    }
}

Cell run(std::string_view code) {
    Cell* block = lexer::load(code);
    Cell kept = *block;
    interpreter::eval_block(kept, false);
    return stack::top[-1];
}

}  // namespace

int main() {
    mem::reserve();
    runtime::init();
    boot::define_built_ins();
    boot::build_library();
    boot::start_run();
    null_device = open("/dev/null", O_WRONLY);
    platform::set_output_sink(write_to_null);

    screen_of(80, 24);
    fill_frame();
    Times frame = measure(kFrames, [](int) {
        screen().rows_above = 23;
        flush_screen();
    });
    std::printf(
        "frame of 80x24 cells built and written: median %.1f us, 99%% %.1f us (target: under 1000 us); %zu "
        "bytes in %d writes a frame\n",
        frame.median, frame.p99, bytes_written / kFrames, writes / kFrames);

    // 40 faces: labels, fields, buttons and check boxes in four columns of ten rows
    screen_of(80, 24);
    run("bench-window: make face! [type: 'window size: 80x24 pane: copy []] "
        "repeat i 40 [append bench-window/pane make face! compose [type: (to lit-word! pick [text field button check] "
        "i "
        "% 4 + 1) offset: (as-pair 20 * to integer! ((i - 1) / 10) (i - 1) % 10 * 2) size: 18x1 text: (rejoin [\"face "
        "\" i]) color: (pick [20.40.60 none 200.200.200 none] i % 4 + 1) flags: 'focusable]]");
    Cell window_face = run("bench-window");
    runtime::register_root(&window_face);
    WidgetId window = tui_test::realise(window_face, kNoWidget);
    show_window(window);
    bytes_written = 0;
    writes = 0;
    Times redraw = measure(kRedraws, [&](int i) {
        run(i % 2 ? "bench-window/pane/7/text: \"changed\" bench-window/pane/7/state/2: 8"
                  : "bench-window/pane/7/text: \"face 7\" bench-window/pane/7/state/2: 8");
        update_view(run("bench-window/pane/7"));
        stack::top = stack::bottom;
        refresh_screen();
    });
    std::printf(
        "redraw of a window of 40 faces after one facet changed: median %.1f us, 99%% %.1f us (target: "
        "under 2000 us); %zu bytes in %d writes a redraw\n",
        redraw.median, redraw.p99, bytes_written / kRedraws, writes / kRedraws);
    platform::set_output_sink(nullptr);
    return 0;
}
