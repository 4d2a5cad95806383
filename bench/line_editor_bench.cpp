// The line editor's answer to one key press, and the console's start, on a pseudo-terminal of 80x24.
//
// One key: a line of 77 characters (80 columns with its prompt) is typed, and then, in the middle of
// the line, a character and Backspace by turns, each of which redraws the prompt and the whole line.
// Reports the time from writing a key to reading its whole redraw back, the median and the 99th
// percentile over many keys (on a busy machine mostly the wait for the processor), and the processor
// time the editing process spent per key. It runs twice: in a child that only edits lines (the editor
// alone), and in the console of the oka program (its prompt made by the console written in Oka).
//
// The console's start: the time from starting oka without a script to its prompt after the banner,
// the median and the slowest of several starts.
//
// A pasted line: the processor time the editing process spends on a line pasted at once, of 50,000
// characters and of four times as many. The longer line may take at most five times as long: drawing
// each character as it comes must not measure the whole line again (the square of its length, 16 times
// as long). The run ends with status 1 when it takes longer.
//
//     line_editor_bench [OKA]    (OKA: the oka program, by default the one next to this one)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
constexpr int kStarts = 20;
constexpr int kLineLength = 77;  // with the prompt, one full row of 80 columns
constexpr int kPatienceMillis = 5000;
constexpr int kPasted = 50000;
constexpr int kPasteScale = 4;
constexpr double kMaxPasteGrowth = 5;

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

// The console of `oka` without a script, its settings in a folder of its own.
[[noreturn]] void run_console(const std::string& oka, const std::string& cache) {
    setenv("TERM", "xterm-256color", 1);
    setenv("LANG", "C.UTF-8", 1);
    setenv("APPDATA", cache.c_str(), 1);
    execl(oka.c_str(), oka.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

struct Child {
    pid_t pid;
    int master;
};

template <class Body>
Child start_on_pty(Body body) {
    Child child = {-1, -1};
    winsize size = {24, 80, 0, 0};
    child.pid = forkpty(&child.master, nullptr, nullptr, &size);
    if (child.pid == 0) body();
    return child;
}

void stop(Child child) {
    kill(child.pid, SIGKILL);
    waitpid(child.pid, nullptr, 0);
    close(child.master);
}

// Reads what the child writes until `ends` holds for it, answering the editor's question for the
// cursor's position; false when nothing more came for a while.
template <class Ends>
bool read_until(int master, Ends ends) {
    std::string seen;
    char bytes[4096];
    for (;;) {
        pollfd fd = {master, POLLIN, 0};
        if (poll(&fd, 1, kPatienceMillis) <= 0) return false;
        ssize_t n = read(master, bytes, sizeof bytes);
        if (n <= 0) return false;
        seen.append(bytes, size_t(n));
        if (size_t asked = seen.find("\x1b[6n"); asked != std::string::npos) {
            (void)!write(master, "\x1b[4;1R", 6);
            seen.erase(0, asked + 4);
        }
        if (ends(seen)) return true;
    }
}

// The redraw ends when its last sequence places the cursor ("C" after a column).
bool redrawn(const std::string& seen) { return !seen.empty() && seen.back() == 'C'; }

bool prompted(const std::string& seen) { return seen.find(">> ") != std::string::npos; }

// The processor time the process has spent so far, in microseconds.
double processor_micros(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 15 && stat >> field; i++)
        if (i >= 14) ticks += std::atof(field.c_str());  // utime, stime
    return ticks * 1e6 / double(sysconf(_SC_CLK_TCK));
}

double percentile(std::vector<double> values, int percent) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(percent) / 100)];
}

// Types the line, goes to its middle, and times each key that follows.
void time_keys(const char* what, Child child) {
    std::string typed(kLineLength, 'a');
    (void)!write(child.master, typed.data(), typed.size());
    for (int i = 0; i < kLineLength / 2; i++) (void)!write(child.master, "\x1b[D", 3);
    usleep(200000);
    char drain[65536];
    while (read(child.master, drain, sizeof drain) == sizeof drain) {
    }
    std::vector<double> micros;
    double processor = processor_micros(child.pid);
    for (int i = 0; i < kKeys; i++) {
        auto start = Clock::now();
        (void)!write(child.master, i % 2 ? "\x7f" : "x", 1);
        read_until(child.master, redrawn);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    processor = processor_micros(child.pid) - processor;
    std::printf(
        "%s: one key redrawing a line of %d columns: median %.0f us, 99%% %.0f us, processor time %.1f us "
        "(%d keys)\n",
        what, kLineLength + 3, percentile(micros, 50), percentile(micros, 99), processor / kKeys, kKeys);
}

// Reads what there is, answering the editor's question for the cursor's position; false at the end.
bool drain(int master) {
    char bytes[65536];
    ssize_t n = read(master, bytes, sizeof bytes);
    if (n > 0 && std::string(bytes, size_t(n)).find("\x1b[6n") != std::string::npos)
        (void)!write(master, "\x1b[4;1R", 6);
    return n > 0 || (n < 0 && errno == EAGAIN);
}

// The processor time, in microseconds, that an editing child spends on a line of `count` characters
// pasted at once and entered; negative when the child did not end its edit.
double paste_micros(int count) {
    Child editor = start_on_pty(edit_in_child);
    if (!read_until(editor.master, prompted)) {
        stop(editor);
        return -1;
    }
    double before = processor_micros(editor.pid);
    std::string line;
    for (int i = 0; i < count; i++) line += char('a' + i % 26);
    line += '\r';
    // Written as the child reads it, its echo read meanwhile: a terminal whose output is full would stop
    // the child, and then the writing.
    fcntl(editor.master, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    for (bool open = true; open;) {
        pollfd fd = {editor.master, short(POLLIN | (written < line.size() ? POLLOUT : 0)), 0};
        if (poll(&fd, 1, kPatienceMillis) <= 0) break;
        if (fd.revents & (POLLIN | POLLHUP | POLLERR)) open = drain(editor.master);
        if (fd.revents & POLLOUT) {
            ssize_t n = write(editor.master, line.data() + written, std::min<size_t>(4096, line.size() - written));
            if (n > 0) written += size_t(n);
        }
    }
    int status = 0;
    rusage usage = {};
    pid_t ended = wait4(editor.pid, &status, 0, &usage);
    close(editor.master);
    if (ended != editor.pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    double total = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    return total - before;
}

// Pastes a line and one of kPasteScale times its length; false when the longer one took more than
// kMaxPasteGrowth times as long.
bool time_paste() {
    double short_line = paste_micros(kPasted), long_line = paste_micros(kPasted * kPasteScale);
    if (short_line < 0 || long_line < 0) {
        std::fprintf(stderr, "line editor: a pasted line was not entered\n");
        return false;
    }
    double growth = long_line / std::max(short_line, 1000.0);
    bool holds = growth <= kMaxPasteGrowth;
    std::printf(
        "line editor: a line pasted at once: %d characters %.0f ms, %d characters %.0f ms of processor "
        "time (%.1f times; at most %.0f)%s\n",
        kPasted, short_line / 1000, kPasted * kPasteScale, long_line / 1000, growth, kMaxPasteGrowth,
        holds ? "" : ": grows faster than the line");
    return holds;
}

// Starts the console, waits for its prompt; the time it took, or a negative one when it did not come.
double start_console(const std::string& oka, const std::string& cache, Child* child) {
    auto start = Clock::now();
    *child = start_on_pty([&] { run_console(oka, cache); });
    if (!read_until(child->master, prompted)) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string oka_next_to_this() { return (std::filesystem::canonical("/proc/self/exe").parent_path() / "oka").string(); }

}  // namespace

int main(int argc, char** argv) {
    Child editor = start_on_pty(edit_in_child);
    usleep(200000);  // the child enters raw mode
    time_keys("line editor", editor);
    stop(editor);
    bool paste_holds = time_paste();

    std::string oka = argc > 1 ? argv[1] : oka_next_to_this();
    std::string cache =
        (std::filesystem::temp_directory_path() / ("line_editor_bench-" + std::to_string(getpid()))).string();
    std::vector<double> millis;
    Child console = {-1, -1};
    for (int i = 0; i < kStarts; i++) {
        double taken = start_console(oka, cache, &console);
        if (taken < 0) {
            std::fprintf(stderr, "%s showed no prompt\n", oka.c_str());
            stop(console);
            return 1;
        }
        millis.push_back(taken);
        if (i + 1 < kStarts) stop(console);
    }
    std::printf("console: from start to the prompt after the banner: median %.1f ms, slowest %.1f ms (%d starts)\n",
                percentile(millis, 50), percentile(millis, 100), kStarts);
    time_keys("console", console);
    stop(console);
    std::filesystem::remove_all(cache);
    return paste_holds ? 0 : 1;
}
