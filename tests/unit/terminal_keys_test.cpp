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

namespace oka::platform {
namespace {

constexpr int kFailed = int(Key::failed);
constexpr int kNone = int(Key::none);

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
        // sequences the table does not name (F5, Shift+Tab) are swallowed whole
        {"\x1b[15~x\x1b[Zy\x1b[?1;2cz", {kNone, 'x', kNone, 'y', kNone, 'z'}},
        // Esc before a byte that starts no sequence, Esc at the end, Esc Esc
        {"\x1bx", {27, 'x'}},
        {"\x1b", {27}},
        {"\x1b\x1b[A", {27, int(Key::up)}},
        // UTF-8: two, three and four bytes
        {"\xc3\xa9\xe2\x82\xac\xe4\xb8\xad\xf0\x9f\x98\x80", {0xE9, 0x20AC, 0x4E2D, 0x1F600}},
        // broken UTF-8: a lead without its continuation keeps the next byte, stray and overlong bytes
        // and surrogates are no key
        {"\xc3(", {kNone, '('}},
        {"\xff\x80z", {kNone, kNone, 'z'}},
        {"\xc0\xaf\xed\xa0\x80!", {kNone, kNone, '!'}},
        // a sequence cut short by the end
        {"\x1b[1", {kNone}},
    };
    for (const Case& c : cases) EXPECT_EQ(keys_of(c.bytes), c.keys) << testing::PrintToString(c.bytes);
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

// A signal that ends the process while the terminal is raw gives the terminal its mode back first,
// and still ends the process.
TEST_F(RawMode, RestoredWhenASignalEndsTheProcess) {
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(signo, SIG_DFL);
            if (!enter_raw_mode(slave_) || !raw_q(slave_)) _exit(3);
            kill(getpid(), signo);
            _exit(4);  // not reached
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << signo << " " << status;
        EXPECT_TRUE(same_mode(mode(), cooked_)) << signo;
    }
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
