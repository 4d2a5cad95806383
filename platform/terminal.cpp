#include "platform/terminal.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/os.h"

namespace oka::platform {

namespace {

// ---- raw mode and the paths that end the process

// The signals whose default action ends the process, but for the faults, which the run-time reports
// itself (platform/signals.h) and which put the terminal back through restore_terminal, and SIGTRAP,
// which belongs to debuggers. The real-time signals end it as well.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGABRT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1,  SIGUSR2,
                                  SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS,  SIGSTKFLT};

struct RawState {
    termios saved;
    int fd = -1;
    struct sigaction before[NSIG];  // each handled signal's disposition before raw mode
    bool handled[NSIG] = {};
};
RawState raw_state;
volatile sig_atomic_t raw_depth = 0;

char restore_bytes[kRestoreBytes];
volatile sig_atomic_t restore_length = 0;

int resize_pipe[2] = {-1, -1};

template <class Each>
void for_each_ending_signal(Each each) {
    for (int signo : kEndingSignals) each(signo);
    for (int signo = SIGRTMIN; signo <= SIGRTMAX; signo++) each(signo);
}

void restore_handlers() {
    for (int signo = 1; signo < NSIG; signo++) {
        if (!raw_state.handled[signo]) continue;
        sigaction(signo, &raw_state.before[signo], nullptr);
        raw_state.handled[signo] = false;
    }
}

// The terminal gets its mode back, then the signal takes the course it had before raw mode: it is
// blocked while its handler runs, so the raise lands once the handler returns.
void on_ending_signal(int signo) {
    int saved_errno = errno;
    restore_terminal();
    raise(signo);
    errno = saved_errno;
}

void on_resize(int) {
    int saved_errno = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(resize_pipe[1], &byte, 1);  // a full pipe already tells
    errno = saved_errno;
}

bool open_resize_pipe() {
    if (resize_pipe[0] >= 0) return true;
    return pipe2(resize_pipe, O_NONBLOCK | O_CLOEXEC) == 0;
}

// Takes the signal; `before` is its disposition until now, as the caller read it (raw mode comes with
// every edit, for some fifty signals: a second read of each would show in the time a prompt takes).
void handle(int signo, const struct sigaction& before, void (*handler)(int), int flags) {
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = handler;
    action.sa_flags = flags;
    raw_state.before[signo] = before;
    raw_state.handled[signo] = true;
    sigaction(signo, &action, nullptr);
}

void install_handlers() {
    // Only a signal that would end the process is taken: one that it ignores stays ignored (it must not
    // take raw mode away in the middle of an edit), and one that it handles is its own.
    for_each_ending_signal([](int signo) {
        struct sigaction now;
        if (sigaction(signo, nullptr, &now) == 0 && !(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_DFL)
            handle(signo, now, on_ending_signal, 0);
    });
    struct sigaction now;
    if (open_resize_pipe() && sigaction(SIGWINCH, nullptr, &now) == 0) handle(SIGWINCH, now, on_resize, SA_RESTART);
}

termios raw_form(termios mode) {
    mode.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    mode.c_cflag |= CS8;
    mode.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    return mode;
}

void restore_at_exit() { restore_terminal(); }

// ---- reading bytes

// Bytes read before their turn: the rest of a read that held more than one key, keys typed before the
// terminal answered a question.
std::string read_ahead;

// Reads what one read gives into read_ahead; false at the end of the input or on an error.
bool read_more(int fd) {
    char bytes[256];
    long n = read_some(fd, bytes, sizeof bytes);
    if (n <= 0) return false;
    read_ahead.append(bytes, size_t(n));
    return true;
}

bool drain_resize_pipe() {
    if (resize_pipe[0] < 0) return false;
    char bytes[64];
    bool any = false;
    while (read(resize_pipe[0], bytes, sizeof bytes) > 0) any = true;
    return any;
}

// Polls `fd` (and, with `watch_resize`, the resize pipe) for up to `millis`, for ever when negative.
Wait poll_input(int fd, int millis, bool watch_resize) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {resize_pipe[0], POLLIN, 0}};
    int count = watch_resize && resize_pipe[0] >= 0 ? 2 : 1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
        int left = millis;
        if (millis > 0) {
            auto rest =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            left = int(std::max<long>(0, rest.count()));
        }
        timespec timeout = {left / 1000, long(left % 1000) * 1000000};
        int ready = ppoll(fds, nfds_t(count), left < 0 ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Wait::failed;
        if (ready == 0) return Wait::timed_out;
        // A resize that came with the input counts first (its signal may land as the poll returns), so
        // that the keys typed after it see the new size.
        if (count == 2 && drain_resize_pipe()) return Wait::resized;
        if (fds[0].revents) return Wait::input;  // readable, closed or failed: the read tells which
    }
}

// Decodes the first event of read_ahead, waiting a moment for the rest of a sequence that it cuts
// short; the bytes it takes leave read_ahead.
InputEvent take_event(int fd) {
    InputEvent event;
    for (;;) {
        auto bytes = reinterpret_cast<const uint8_t*>(read_ahead.data());
        event = decode_input(bytes, read_ahead.size(), false);
        if (event.kind != InputEvent::Kind::incomplete) break;
        if (poll_input(fd, kEscapeMillis, false) == Wait::input && read_more(fd)) continue;
        event = decode_input(bytes, read_ahead.size(), true);
        break;
    }
    read_ahead.erase(0, event.length);
    return event;
}

bool terminal_answers = true;  // cleared when a terminal let a question go unanswered

// ---- output

std::string channel;
OutputSink sink = nullptr;

void write_out(const char* bytes, size_t n) {
    if (n == 0) return;
    if (sink)
        sink(bytes, n);
    else
        write_all(1, bytes, n);
}

}  // namespace

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool enter_raw_mode(int fd) {
    if (raw_depth > 0) {
        raw_depth = raw_depth + 1;
        return true;
    }
    if (tcgetattr(fd, &raw_state.saved) != 0) return false;
    static bool exit_hook = std::atexit(restore_at_exit) == 0;
    (void)exit_hook;
    // The handlers are in place before the mode changes: a signal that comes in between finds the
    // saved mode to put back.
    raw_state.fd = fd;
    raw_depth = 1;
    install_handlers();
    termios mode = raw_form(raw_state.saved);
    // TCSADRAIN: keys typed ahead stay to be read.
    if (tcsetattr(fd, TCSADRAIN, &mode) != 0) {
        raw_depth = 0;
        restore_handlers();
        return false;
    }
    return true;
}

void leave_raw_mode() {
    if (raw_depth == 0) return;
    raw_depth = raw_depth - 1;
    if (raw_depth > 0) return;
    tcsetattr(raw_state.fd, TCSADRAIN, &raw_state.saved);
    restore_handlers();
}

bool raw_mode_q() { return raw_depth > 0; }

void set_restore_sequence(std::string_view bytes) {
    restore_length = 0;
    size_t n = std::min(bytes.size(), kRestoreBytes - 1);
    std::memcpy(restore_bytes, bytes.data(), n);
    restore_length = sig_atomic_t(n);
}

void restore_terminal() {
    if (restore_length > 0) {
        [[maybe_unused]] ssize_t written = write(1, restore_bytes, size_t(restore_length));
        restore_length = 0;
    }
    if (raw_depth == 0) return;
    raw_depth = 0;
    tcsetattr(raw_state.fd, TCSADRAIN, &raw_state.saved);
    restore_handlers();
}

bool window_size(int fd, int& columns, int& rows) {
    winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

bool take_resize() { return drain_resize_pipe(); }

Wait wait_input(int fd, int millis) {
    if (!read_ahead.empty()) return Wait::input;
    return poll_input(fd, millis, true);
}

long read_available(int fd, std::string& bytes) {
    size_t before = bytes.size();
    bytes += read_ahead;
    read_ahead.clear();
    bool ended = false;
    for (;;) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0 || !ready.revents) break;
        char chunk[1024];
        long n = read_some(fd, chunk, sizeof chunk);
        if (n <= 0) {
            ended = true;
            break;
        }
        bytes.append(chunk, size_t(n));
    }
    long count = long(bytes.size() - before);
    return count == 0 && ended ? -1 : count;
}

int read_key(int fd) {
    if (read_ahead.empty()) {
        Wait wait = wait_input(fd, -1);
        if (wait == Wait::resized) return int(Key::resized);
        if (wait == Wait::failed || !read_more(fd)) return int(Key::failed);
    }
    InputEvent event = take_event(fd);
    return event.kind == InputEvent::Kind::key ? event.key : int(Key::none);
}

bool ask_cursor_column() {
    if (!terminal_answers || raw_depth == 0) return false;
    out_append("\x1b[6n");
    return true;
}

int answered_cursor_column(int in) {
    out_flush();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyMillis);
    size_t scanned = 0;  // the bytes of read_ahead known to hold no report
    for (;;) {
        while (scanned < read_ahead.size()) {
            auto bytes = reinterpret_cast<const uint8_t*>(read_ahead.data());
            InputEvent event = decode_input(bytes + scanned, read_ahead.size() - scanned, false);
            if (event.kind == InputEvent::Kind::incomplete) break;
            if (event.kind == InputEvent::Kind::cursor_report) {
                read_ahead.erase(scanned, event.length);  // keys typed meanwhile stay
                return event.x - 1;
            }
            scanned += event.length;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll_input(in, int(left.count()), false) != Wait::input || !read_more(in)) {
            terminal_answers = false;
            return -1;
        }
    }
}

long read_some(int fd, void* bytes, size_t n) {
    for (;;) {
        ssize_t count = read(fd, bytes, n);
        if (count >= 0 || errno != EINTR) return long(count);
    }
}

void out_append(std::string_view bytes) { channel.append(bytes); }

void out_flush() {
    std::fflush(stdout);
    write_out(channel.data(), channel.size());
    channel.clear();
}

void out_write(const char* bytes, size_t n) {
    out_flush();
    write_out(bytes, n);
}

void set_output_sink(OutputSink new_sink) {
    out_flush();
    sink = new_sink;
}

bool set_title(const char* utf8_title) {
    if (!is_terminal(1)) return false;
    // Control characters would end the sequence early and let the title's text talk to the terminal.
    std::string sequence = "\x1b]0;";
    for (const char* c = utf8_title; *c; c++)
        if (static_cast<unsigned char>(*c) >= 0x20 && *c != 0x7F) sequence += *c;
    sequence += '\a';
    out_write(sequence.data(), sequence.size());
    return true;
}

}  // namespace oka::platform
