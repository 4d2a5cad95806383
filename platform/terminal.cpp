#include "platform/terminal.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/os.h"

namespace oka::platform {

namespace {

// ---- raw mode

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

struct RawState {
    termios saved;
    int fd = -1;
    struct sigaction ending[kEndingSignalCount];
    struct sigaction winch;
    sigset_t mask;  // the signal mask before raw mode, which blocks SIGWINCH outside the wait for a key
};
RawState raw_state;
volatile sig_atomic_t raw = 0;
volatile sig_atomic_t resized = 0;

// The terminal gets its mode back, then the signal takes the course it had before raw mode: it is
// blocked while its handler runs, so the raise lands once the handler returns.
void on_ending_signal(int signo) {
    int saved_errno = errno;
    leave_raw_mode();
    raise(signo);
    errno = saved_errno;
}

void on_resize(int) { resized = 1; }

// A poll that finds input ready returns without letting a pending signal in: a SIGWINCH that came while
// keys were waiting is taken here, so that the keys typed after it see the new size.
void take_pending_resize() {
    sigset_t pending;
    if (sigpending(&pending) != 0 || !sigismember(&pending, SIGWINCH)) return;
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    timespec now = {0, 0};
    if (sigtimedwait(&winch, nullptr, &now) == SIGWINCH) resized = 1;
}

void install_handlers() {
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = on_ending_signal;
    // A signal the process ignores stays ignored: it must not take raw mode away in the middle of an edit.
    for (int i = 0; i < kEndingSignalCount; i++) {
        sigaction(kEndingSignals[i], nullptr, &raw_state.ending[i]);
        if (raw_state.ending[i].sa_handler != SIG_IGN) sigaction(kEndingSignals[i], &action, nullptr);
    }
    action.sa_handler = on_resize;  // without SA_RESTART: the wait for a key ends to report it
    sigaction(SIGWINCH, &action, &raw_state.winch);
    sigset_t winch;
    sigemptyset(&winch);
    sigaddset(&winch, SIGWINCH);
    sigprocmask(SIG_BLOCK, &winch, &raw_state.mask);
}

void restore_handlers() {
    for (int i = 0; i < kEndingSignalCount; i++) sigaction(kEndingSignals[i], &raw_state.ending[i], nullptr);
    sigaction(SIGWINCH, &raw_state.winch, nullptr);
    sigprocmask(SIG_SETMASK, &raw_state.mask, nullptr);
}

termios raw_form(termios mode) {
    mode.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INPCK | ISTRIP | IXON);
    mode.c_cflag |= CS8;
    mode.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN | ISIG);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    return mode;
}

// ---- reading bytes

constexpr int kTimedOut = -100;
constexpr int kEnded = -101;
constexpr int kResized = -102;
// Bytes read before their turn: the one after a lone Esc or a broken UTF-8 sequence, keys typed before
// the terminal answered a question.
std::string read_ahead;

void put_back(int byte) { read_ahead.insert(read_ahead.begin(), char(byte)); }

// Waits up to `millis` (forever when negative) for a byte. While raw, SIGWINCH is let in only during
// the wait, and reported when `report_resize`; inside a sequence the wait just goes on.
int next_byte(int fd, int millis, bool report_resize) {
    if (!read_ahead.empty()) {
        int byte = static_cast<unsigned char>(read_ahead.front());
        read_ahead.erase(0, 1);
        return byte;
    }
    for (;;) {
        if (report_resize && raw) take_pending_resize();
        if (report_resize && resized) {
            resized = 0;
            return kResized;
        }
        pollfd poll_fd = {fd, POLLIN, 0};
        timespec timeout = {millis / 1000, long(millis % 1000) * 1000000};
        sigset_t during = raw_state.mask;
        sigdelset(&during, SIGWINCH);
        int ready = ppoll(&poll_fd, 1, millis < 0 ? nullptr : &timeout, raw ? &during : nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return kEnded;
        if (ready == 0) return kTimedOut;
        if (report_resize && resized) continue;  // came with the byte: the size goes first, the byte waits
        unsigned char byte;
        ssize_t n = read(fd, &byte, 1);
        if (n == 1) return byte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return kEnded;
    }
}

// ---- escape sequences

struct Sequence {
    char final;  // the last byte: a letter, or "~" after a number
    int number;  // the number before "~"; 0 for the letters
    Key key;
};
constexpr Sequence kSequences[] = {
    {'A', 0, Key::up},      {'B', 0, Key::down},      {'C', 0, Key::right},  {'D', 0, Key::left},    {'F', 0, Key::end},
    {'H', 0, Key::home},    {'~', 1, Key::home},      {'~', 2, Key::insert}, {'~', 3, Key::delete_}, {'~', 4, Key::end},
    {'~', 5, Key::page_up}, {'~', 6, Key::page_down}, {'~', 7, Key::home},   {'~', 8, Key::end},
};

int key_of_sequence(int final, int number) {
    for (const Sequence& sequence : kSequences)
        if (sequence.final == final && (final != '~' || sequence.number == number)) return int(sequence.key);
    return int(Key::none);
}

// After "Esc [": the parameters (the first number counts, modifiers after ";" do not), intermediate
// bytes, then the final byte.
int read_control_sequence(int fd) {
    int number = 0;
    bool first_parameter = true;
    for (;;) {
        int byte = next_byte(fd, kEscapeMillis, false);
        if (byte < 0) return int(Key::none);
        if (byte >= '0' && byte <= '9') {
            if (first_parameter && number < 1000) number = number * 10 + (byte - '0');
        } else if (byte == ';') {
            first_parameter = false;
        } else if (byte >= 0x40 && byte <= 0x7E) {
            return key_of_sequence(byte, number);
        }
    }
}

int read_escape(int fd) {
    int byte = next_byte(fd, kEscapeMillis, false);
    if (byte == '[') return read_control_sequence(fd);
    if (byte == 'O') {
        int final = next_byte(fd, kEscapeMillis, false);
        return final < 0 ? int(Key::none) : key_of_sequence(final, 0);
    }
    if (byte >= 0) put_back(byte);
    return 27;
}

// ---- UTF-8

// The rest of a character whose first byte is `lead`; a byte that does not continue it is kept for
// the next key, and a malformed, overlong or surrogate sequence reads as Key::none.
int read_utf8(int fd, int lead) {
    int more = (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0) return int(Key::none);
    constexpr int kLeast[] = {0, 0x80, 0x800, 0x10000};
    int code_point = lead & (0x3F >> more);
    for (int i = 0; i < more; i++) {
        int byte = next_byte(fd, kEscapeMillis, false);
        if (byte < 0) return int(Key::none);
        if ((byte & 0xC0) != 0x80) {
            put_back(byte);
            return int(Key::none);
        }
        code_point = code_point << 6 | (byte & 0x3F);
    }
    bool valid = code_point >= kLeast[more] && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
    return valid ? code_point : int(Key::none);
}

// ---- the cursor position report

// The column of a report "Esc [ row ; column R" that `seen` ends with, 1-based; 0 when it ends with none.
int reported_column(const std::string& seen, size_t& start) {
    size_t end = seen.size();
    if (end < 6 || seen[end - 1] != 'R') return 0;
    size_t semicolon = seen.find_last_of(';');
    size_t bracket = seen.rfind("\x1b[");
    if (semicolon == std::string::npos || bracket == std::string::npos || bracket > semicolon) return 0;
    std::string row = seen.substr(bracket + 2, semicolon - bracket - 2);
    std::string column = seen.substr(semicolon + 1, end - semicolon - 2);
    auto digits = [](const std::string& text) {
        return !text.empty() && text.size() < 6 && text.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(row) || !digits(column)) return 0;
    start = bracket;
    return std::stoi(column);
}

bool terminal_answers = true;  // cleared when a terminal let a question go unanswered

}  // namespace

int cursor_column(int in, int out) {
    if (!terminal_answers || !raw) return -1;
    write_all(out, "\x1b[6n", 4);
    std::string seen;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyMillis);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int byte = left.count() > 0 ? next_byte(in, int(left.count()), false) : kTimedOut;
        if (byte < 0) {
            terminal_answers = false;
            read_ahead += seen;
            return -1;
        }
        seen += char(byte);
        size_t start = 0;
        if (int column = reported_column(seen, start)) {
            read_ahead += seen.substr(0, start);  // keys typed meanwhile
            return column - 1;
        }
    }
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool enter_raw_mode(int fd) {
    if (raw) return true;
    if (tcgetattr(fd, &raw_state.saved) != 0) return false;
    termios mode = raw_form(raw_state.saved);
    // TCSADRAIN: keys typed ahead stay to be read.
    if (tcsetattr(fd, TCSADRAIN, &mode) != 0) return false;
    static bool exit_hook = std::atexit(leave_raw_mode) == 0;
    (void)exit_hook;
    raw_state.fd = fd;
    install_handlers();
    raw = 1;
    return true;
}

void leave_raw_mode() {
    if (!raw) return;
    raw = 0;
    tcsetattr(raw_state.fd, TCSADRAIN, &raw_state.saved);
    restore_handlers();
}

bool raw_mode_q() { return raw != 0; }

bool window_size(int fd, int& columns, int& rows) {
    winsize size = {};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

int read_key(int fd) {
    int byte = next_byte(fd, -1, true);
    if (byte == kResized) return int(Key::resized);
    if (byte < 0) return int(Key::failed);
    if (byte == 27) return read_escape(fd);
    return byte < 0x80 ? byte : read_utf8(fd, byte);
}

bool set_title(const char* utf8_title) {
    if (!is_terminal(1)) return false;
    // Control characters would end the sequence early and let the title's text talk to the terminal.
    std::string sequence = "\x1b]0;";
    for (const char* c = utf8_title; *c; c++)
        if (static_cast<unsigned char>(*c) >= 0x20 && *c != 0x7F) sequence += *c;
    sequence += '\a';
    write_all(1, sequence.data(), sequence.size());
    return true;
}

long read_some(int fd, void* bytes, size_t n) {
    for (;;) {
        ssize_t count = read(fd, bytes, n);
        if (count >= 0 || errno != EINTR) return long(count);
    }
}

}  // namespace oka::platform
