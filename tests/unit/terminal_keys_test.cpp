// The terminal layer: keys decoded from the bytes a terminal sends, raw mode entered and left (also
// when a signal ends the process), and the window title's escape sequence.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/terminal.h"
#include "platform/terminal_input.h"

namespace oka::platform {
namespace {

constexpr int kFailed = int(Key::failed);
constexpr int kNone = int(Key::none);
constexpr int kFFFD = int(kReplacementCharacter);

// The keys read from `bytes` until the input ends (the end itself left out).
std::vector<int> keys_of(const std::string& bytes) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(ends[1]);
    std::vector<int> keys;
    for (int key; (key = read_key(ends[0])) != kFailed;) keys.push_back(key);
    close(ends[0]);
    return keys;
}

TEST(TerminalKeys, DecodedFromBytes) {
    struct Case {
        std::string bytes;
        std::vector<int> keys;
    };
    const Case cases[] = {
        // characters, control keys as their code
        {"a\x03\r\x7f\t", {'a', 3, 13, 127, 9}},
        // arrows, Home and End in both the CSI and the SS3 forms, with and without modifiers
        {"\x1b[A\x1b[B\x1b[C\x1b[D", {int(Key::up), int(Key::down), int(Key::right), int(Key::left)}},
        {"\x1bOA\x1bOD\x1bOH\x1bOF\x1b[H\x1b[F",
         {int(Key::up), int(Key::left), int(Key::home), int(Key::end), int(Key::home), int(Key::end)}},
        {"\x1b[1;5C\x1b[1;2D\x1b[3;5~", {int(Key::right), int(Key::left), int(Key::delete_)}},
        // the numbered keys
        {"\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~\x1b[7~\x1b[8~",
         {int(Key::home), int(Key::insert), int(Key::delete_), int(Key::end), int(Key::page_up), int(Key::page_down),
          int(Key::home), int(Key::end)}},
        // the function keys, Shift+Tab; sequences the table does not name are swallowed whole
        {"\x1bOP\x1bOS\x1b[15~\x1b[24~\x1b[Z",
         {int(Key::F1), int(Key::F4), int(Key::F5), int(Key::F12), int(Key::back_tab)}},
        {"\x1b[16~x\x1b[?1;2cy\x1b[<0;3;4Mz", {kNone, 'x', kNone, 'y', kNone, 'z'}},
        // Esc before a byte that starts no sequence, Esc at the end, Esc Esc
        {"\x1bx", {27, 'x'}},
        {"\x1b", {27}},
        {"\x1b\x1b[A", {27, int(Key::up)}},
        // UTF-8: two, three and four bytes
        {"\xc3\xa9\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80", {0xE9, 0x20AC, 0x4E2D, 0x1F600}},
        // broken UTF-8 reads as U+FFFD: a lead without its continuation keeps the next byte, a stray byte
        // is one, an overlong form or a surrogate is one for the whole sequence
        {"\xc3(", {kFFFD, '('}},
        {"\xff\x80z", {kFFFD, kFFFD, 'z'}},
        {"\xc0\xaf\xed\xa0\x80!", {kFFFD, kFFFD, '!'}},
        // a sequence or a character cut short by the end
        {"\x1b[1", {kNone}},
        {"a\xe2\x82", {'a', kFFFD}},
    };
    for (const Case& c : cases) EXPECT_EQ(keys_of(c.bytes), c.keys) << testing::PrintToString(c.bytes);
}

// The events a view reads without waiting: what the first event of a buffer is and how many bytes it
// takes, or that the buffer cuts it short (then nothing is taken, so it decodes whole later).
TEST(TerminalInput, FirstEventOfABuffer) {
    using Kind = InputEvent::Kind;
    struct Case {
        std::string bytes;
        bool ended;
        Kind kind;
        uint32_t length;
        int32_t key = 0;  // the key, or the mouse button
        uint32_t modifiers = 0;
        int32_t x = 0, y = 0;
        bool released = false;
    };
    const Case cases[] = {
        {"\x1b[1;5C", false, Kind::key, 6, int(Key::right), kControl},
        {"\x1b[1;2H", false, Kind::key, 6, int(Key::home), kShift},
        {"\x1b[4;7~", false, Kind::key, 6, int(Key::end), kAlt | kControl},
        {"\x1b[Zq", false, Kind::key, 3, int(Key::back_tab), 0},
        {"\x1b[<0;12;3M", false, Kind::mouse, 10, 0, 0, 12, 3, false},
        {"\x1b[<64;1;2m", false, Kind::mouse, 10, 64, 0, 1, 2, true},
        {"\x1b[5;17R", false, Kind::cursor_report, 7, 0, 0, 17, 5},
        {"\x1b]11;rgb:0/0/0\x07"
         "a",
         false, Kind::ignored, 15},
        {"\x1bP1$r0m\x1b\\a", false, Kind::ignored, 9},
        {"\x1b[12\x1b[A", false, Kind::ignored, 4},  // an Esc inside a sequence starts the next one
        // cut short: wait for the rest, unless nothing more comes
        {"\x1b", false, Kind::incomplete, 0},
        {"\x1b", true, Kind::key, 1, 27},
        {"\x1b[<0;1", false, Kind::incomplete, 0},
        {"\x1b[<0;1", true, Kind::ignored, 6},
        {"\xe4\xb8", false, Kind::incomplete, 0},
        {"\xe4\xb8", true, Kind::key, 2, int(kReplacementCharacter)},
        {"\xe4(", false, Kind::key, 1, int(kReplacementCharacter)},
        {"\x1bO", false, Kind::incomplete, 0},
    };
    for (const Case& c : cases) {
        InputEvent e = decode_input(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), c.ended);
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(int(e.kind), int(c.kind));
        EXPECT_EQ(e.length, c.length);
        if (c.kind == Kind::key) {
            EXPECT_EQ(e.key, c.key);
            EXPECT_EQ(e.modifiers, c.modifiers);
        }
        if (c.kind == Kind::mouse) {
            EXPECT_EQ(e.button, c.key);
        }
        if (c.kind == Kind::mouse || c.kind == Kind::cursor_report) {
            EXPECT_EQ(e.x, c.x);
            EXPECT_EQ(e.y, c.y);
            EXPECT_EQ(e.released, c.released);
        }
    }
}

// A lone Esc is the key once nothing follows for a moment: the reader does not wait for more.
TEST(TerminalKeys, LoneEscapeDoesNotWait) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "\x1b", 1), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_key(ends[0]), 27);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    ASSERT_EQ(write(ends[1], "[A", 2), 2);  // what comes later is no sequence any more
    EXPECT_EQ(read_key(ends[0]), '[');
    EXPECT_EQ(read_key(ends[0]), 'A');
    close(ends[1]);
    EXPECT_EQ(read_key(ends[0]), kFailed);
    close(ends[0]);
}

bool raw_q(int fd) {
    termios mode;
    tcgetattr(fd, &mode);
    return !(mode.c_lflag & (ICANON | ECHO | ISIG)) && !(mode.c_iflag & ICRNL);
}

bool same_mode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && a.c_cflag == b.c_cflag;
}

class RawMode : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        tcgetattr(slave_, &cooked_);
    }
    void TearDown() override {
        close(master_);
        close(slave_);
    }
    termios mode() const {
        termios now;
        tcgetattr(slave_, &now);
        return now;
    }
    int master_ = -1, slave_ = -1;
    termios cooked_;
};

TEST_F(RawMode, EnteredAndLeftByScope) {
    {
        RawModeScope raw(slave_);
        ASSERT_TRUE(raw.entered());
        EXPECT_TRUE(raw_q(slave_));
        EXPECT_TRUE(raw_mode_q());
        EXPECT_EQ(mode().c_oflag, cooked_.c_oflag);  // printed lines still end as usual
    }
    EXPECT_FALSE(raw_mode_q());
    EXPECT_TRUE(same_mode(mode(), cooked_));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_FALSE(enter_raw_mode(ends[0]));  // no terminal
    close(ends[0]);
    close(ends[1]);
}

// A signal that ends the process while the terminal is raw gives the terminal its mode back first
// (with the restore sequence of a view's modes), and still ends the process.
TEST_F(RawMode, RestoredWhenASignalEndsTheProcess) {
    for (int signo : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGABRT, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGRTMIN + 3}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(signo, SIG_DFL);
            dup2(slave_, 1);
            if (!enter_raw_mode(slave_) || !raw_q(slave_)) _exit(3);
            set_restore_sequence("\x1b[?25h");
            kill(getpid(), signo);
            _exit(4);  // not reached
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << signo << " " << status;
        EXPECT_TRUE(same_mode(mode(), cooked_)) << signo;
        char bytes[16] = {};
        ssize_t n = read(master_, bytes, sizeof bytes - 1);
        EXPECT_EQ(std::string(bytes, size_t(std::max<ssize_t>(n, 0))), "\x1b[?25h") << signo;
    }
}

// A signal that the process handles itself is left to its handler.
TEST_F(RawMode, HandledSignalsStayHandled) {
    static volatile sig_atomic_t seen = 0;
    signal(SIGUSR1, [](int) { seen = 1; });
    {
        RawModeScope raw(slave_);
        raise(SIGUSR1);
        EXPECT_EQ(seen, 1);
        EXPECT_TRUE(raw_q(slave_));
    }
    signal(SIGUSR1, SIG_DFL);
}

// Raw mode nests: leaving an inner level keeps the terminal raw.
TEST_F(RawMode, Nests) {
    {
        RawModeScope outer(slave_);
        {
            RawModeScope inner(slave_);
            EXPECT_TRUE(inner.entered());
        }
        EXPECT_TRUE(raw_q(slave_));
        EXPECT_TRUE(raw_mode_q());
    }
    EXPECT_TRUE(same_mode(mode(), cooked_));
}

TEST_F(RawMode, WindowSize) {
    winsize size = {24, 80, 0, 0};
    ASSERT_EQ(ioctl(slave_, TIOCSWINSZ, &size), 0);
    int columns = 0, rows = 0;
    EXPECT_TRUE(window_size(slave_, columns, rows));
    EXPECT_EQ(columns, 80);
    EXPECT_EQ(rows, 24);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_FALSE(window_size(ends[0], columns, rows));
    close(ends[0]);
    close(ends[1]);
}

// The title goes out as one escape sequence, only to a terminal, with its control characters dropped
// so that it cannot end the sequence and speak to the terminal itself.
TEST_F(RawMode, TitleOnlyOnATerminal) {
    int saved = dup(1);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    dup2(ends[1], 1);
    EXPECT_FALSE(set_title("Oka Console"));
    dup2(slave_, 1);
    EXPECT_TRUE(set_title("Oka\x1b]0;x\a\n Console"));
    dup2(saved, 1);
    close(saved);
    close(ends[0]);
    close(ends[1]);
    char bytes[64] = {};
    ssize_t n = read(master_, bytes, sizeof bytes - 1);
    EXPECT_EQ(std::string(bytes, size_t(std::max<ssize_t>(n, 0))), "\x1b]0;Oka]0;x Console\a");
}

}  // namespace
}  // namespace oka::platform
