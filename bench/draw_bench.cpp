// The draw dialect on the screen: a block of 1,000 commands (pens, fill pens, boxes, lines, circles,
// ellipses, triangles and text, at places and sizes spread over the face) checked and drawn into a
// face that covers a screen of 80x24 cells. Reports the time of one run, the median of many, against
// the target of 5 ms.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "evaluator/lexer.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "view/tui/draw.h"
#include "view/tui/screen.h"

namespace {

using namespace oka;

constexpr int kCommands = 1000;
constexpr int kRuns = 201;
constexpr int kWidth = 80, kHeight = 24;
constexpr double kTargetMs = 5.0;

// The same commands at every run of the program: a small linear congruential generator.
uint32_t state = 12345;
int next(int below) {
    state = state * 1103515245u + 12345u;
    return int((state >> 16) % uint32_t(below));
}

std::string point() { return std::to_string(next(kWidth)) + "x" + std::to_string(next(kHeight)); }
std::string colour() {
    return std::to_string(next(256)) + "." + std::to_string(next(256)) + "." + std::to_string(next(256));
}

std::string commands() {
    std::string text;
    for (int i = 0; i < kCommands; i++) {
        switch (i % 10) {
        case 0: text += "pen " + colour(); break;
        case 1: text += "fill-pen " + colour(); break;
        case 2: text += "box " + point() + " " + point(); break;
        case 3: text += "line " + point() + " " + point() + " " + point(); break;
        case 4: text += "circle " + point() + " " + std::to_string(1 + next(8)); break;
        case 5: text += "triangle " + point() + " " + point() + " " + point(); break;
        case 6:
            text += "ellipse " + point() + " " + std::to_string(1 + next(30)) + "x" + std::to_string(1 + next(10));
            break;
        case 7: text += "text " + point() + " {a label}"; break;
        case 8: text += "fill-pen off"; break;
        case 9: text += "push [pen off box " + point() + " " + point() + "]"; break;
        }
        text += "\n";
    }
    return text;
}

}  // namespace

int main() {
    mem::reserve();
    runtime::init();
    Cell block = *lexer::load(commands());
    runtime::register_root(&block);
    gui::screen().in_screen = true;
    gui::size_screen_buffer(kWidth, kHeight);
    draw::Target target;
    target.clip = {0, 0, kWidth, kHeight};
    std::vector<double> times;
    for (int run = 0; run < kRuns; run++) {
        gui::clear_screen_buffer();
        auto start = std::chrono::steady_clock::now();
        draw::do_draw(target, block);
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    double median = times[kRuns / 2];
    std::printf("draw: a block of %d commands on a face of %dx%d cells: %.3f ms (median of %d; target %.0f ms: %s)\n",
                kCommands, kWidth, kHeight, median, kRuns, kTargetMs, median < kTargetMs ? "met" : "NOT met");
}
