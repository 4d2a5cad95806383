// The line editor's answer to one key press: a child edits a line of 77 characters (80 columns with its prompt) on a
// pseudo-terminal of 80x24 while this process types, in the middle of the line, a character and then Backspace, each of
// which redraws the prompt and the whole line. Reports the time from writing a key to reading its whole
// redraw back, the median and the 99th percentile over many keys (on a busy machine mostly the wait
// for the processor), and the processor time the editing process spent per key, its start-up included.
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "boot/startup.h"
#include "console/terminal.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/root.h"
#include "runtime/stack.h"

namespace {

using namespace oka;
using Clock = std::chrono::steady_clock;

constexpr int kKeys = 4000;
constexpr int kLineLength = 77;  // with the prompt, one full row of 80 columns

[[noreturn]] void edit_in_child() {
    mem::reserve();
    runtime::init();
    terminal::init();
    terminal::init_globals();
    Cell* history = block::make_at(stack::push_next(), 1);
    Cell* prompt = string::load(reinterpret_cast<const uint8_t*>(">> "), 3, unicode::kUtf8);
    Cell* line = string::rs_make_at(stack::push_next(), 1);
    terminal::setup(*line, *history);
    terminal::edit(*prompt, false);
    _exit(0);
}

// Reads until the redraw ends: its last sequence places the cursor ("C" after a column).
void read_redraw(int master) {
    std::string seen;
    char bytes[4096];
    for (;;) {
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, 1000) <= 0) return;
        ssize_t n = read(master, bytes, sizeof bytes);
        if (n <= 0) return;
        seen.append(bytes, size_t(n));
        if (seen.back() == 'C') return;
    }
}

}  // namespace

int main() {
    int master;
    winsize size = {24, 80, 0, 0};
    pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child < 0) return 1;
    if (child == 0) edit_in_child();
    usleep(200000);  // the child enters raw mode
    std::string typed(kLineLength, 'a');
    (void)!write(master, typed.data(), typed.size());
    for (int i = 0; i < kLineLength / 2; i++) (void)!write(master, "\x1b[D", 3);
    usleep(200000);
    char drain[65536];
    while (read(master, drain, sizeof drain) == sizeof drain) {
    }
    std::vector<double> micros;
    for (int i = 0; i < kKeys; i++) {
        auto start = Clock::now();
        (void)!write(master, i % 2 ? "\x7f" : "x", 1);
        read_redraw(master);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    (void)!write(master, "\r", 1);
    rusage usage = {};
    wait4(child, nullptr, 0, &usage);
    double cpu_micros = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::sort(micros.begin(), micros.end());
    std::printf(
        "line editor: one key redrawing a line of %d columns: median %.0f us, 99%% %.0f us, processor time %.0f us "
        "(%d keys)\n",
        kLineLength + 3, micros[micros.size() / 2], micros[micros.size() * 99 / 100], cpu_micros / kKeys, kKeys);
    return 0;
}
