// The console line editor driven through a pseudo-terminal of 80x24: a child process edits lines with
// the terminal as its standard input and output, the test types keys and reads what the screen shows
// through a small terminal model, and the child reports each line it read and its history.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "console/terminal.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "platform/os.h"
#include "runtime/case_folding.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "test_support.h"

namespace oka {
namespace {

std::string utf8(uint32_t code_point) {
    uint8_t bytes[4];
    return std::string(reinterpret_cast<char*>(bytes), unicode::cp_to_utf8(code_point, bytes));
}

// What a terminal shows: the cells of its rows and its cursor. It understands what the editor writes:
// characters (wide ones wrap when they do not fit, a character in the last column leaves the cursor
// there until the next one), CR, LF, cursor moves (CSI A, B, C, D), erasing (CSI J, K); a title or
// other sequences are skipped.
class Screen {
public:
    Screen(int columns, int rows, int row = 0, int column = 0)
        : cursor_row(row),
          cursor_column(column),
          columns_(columns),
          rows_(rows),
          cells_(size_t(rows), std::vector<uint32_t>(size_t(columns), ' ')) {}

    void feed(const std::string& bytes) {
        for (size_t i = 0; i < bytes.size();) {
            auto byte = static_cast<unsigned char>(bytes[i]);
            if (byte == 0x1b) {
                i = sequence(bytes, i + 1);
            } else if (byte < 0x20) {
                control(byte);
                i++;
            } else {
                int32_t code_point;
                auto start = reinterpret_cast<const uint8_t*>(bytes.c_str() + i);
                i += size_t(unicode::fast_decode_utf8_char(start, code_point) - start);
                put(uint32_t(code_point));
            }
        }
    }
    // The row's text without the blanks at its end.
    std::string row(int r) const {
        std::string text;
        for (uint32_t c : cells_[size_t(r)])
            if (c) text += utf8(c);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    int cursor_row, cursor_column;
    std::string replies;           // what the terminal answers to the questions asked (where the cursor is)
    int shown_since_question = 0;  // the characters put on the screen since the last question

private:
    void line_feed() {
        if (++cursor_row < rows_) return;
        cursor_row = rows_ - 1;
        cells_.erase(cells_.begin());
        cells_.emplace_back(size_t(columns_), ' ');
    }
    void put(uint32_t c) {
        int width = c >= 0x1F300 && c <= 0x1F5FF ? 2 : char_width_q(c);
        if (width == 0) return;
        if (pending_ || (width == 2 && cursor_column == columns_ - 1)) {
            cursor_column = 0;
            line_feed();
        }
        pending_ = false;
        shown_since_question++;
        auto& row = cells_[size_t(cursor_row)];
        row[size_t(cursor_column)] = c;
        if (width == 2) row[size_t(cursor_column + 1)] = 0;  // the right half of a wide character
        cursor_column += width;
        if (cursor_column >= columns_) {
            cursor_column = columns_ - 1;
            pending_ = true;
        }
    }
    void control(unsigned char byte) {
        pending_ = false;
        if (byte == '\r') cursor_column = 0;
        if (byte == '\n') line_feed();
    }
    size_t sequence(const std::string& bytes, size_t i) {
        if (i < bytes.size() && bytes[i] == ']') {  // a title, up to BEL
            size_t end = bytes.find('\a', i);
            return end == std::string::npos ? bytes.size() : end + 1;
        }
        if (i >= bytes.size() || bytes[i] != '[') return i + 1;
        int n = 0;
        for (i++; i < bytes.size() && (isdigit(bytes[i]) || bytes[i] == ';'); i++)
            if (isdigit(bytes[i])) n = n * 10 + (bytes[i] - '0');
        if (i >= bytes.size()) return i;
        csi(bytes[i], std::max(n, 1), n);
        return i + 1;
    }
    void csi(char final, int count, int n) {
        pending_ = false;
        switch (final) {
        case 'n':
            if (n == 6) {
                replies += "\x1b[" + std::to_string(cursor_row + 1) + ";" + std::to_string(cursor_column + 1) + "R";
                shown_since_question = 0;
            }
            break;
        case 'A': cursor_row = std::max(0, cursor_row - count); break;
        case 'B': cursor_row = std::min(rows_ - 1, cursor_row + count); break;
        case 'C': cursor_column = std::min(columns_ - 1, cursor_column + count); break;
        case 'D': cursor_column = std::max(0, cursor_column - count); break;
        case 'K': erase(cursor_row, cursor_column, cursor_row + 1); break;
        case 'J':
            if (n == 0) erase(cursor_row, cursor_column, rows_);
            break;
        }
    }
    void erase(int row, int column, int end_row) {
        for (int r = row; r < end_row; r++)
            for (int c = r == row ? column : 0; c < columns_; c++) cells_[size_t(r)][size_t(c)] = ' ';
    }
    int columns_, rows_;
    std::vector<std::vector<uint32_t>> cells_;
    bool pending_ = false;
};

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);  // every wait of a session ends by then

// One child editing lines on a pseudo-terminal of 80x24. Each line read, and then the history block,
// come back through a pipe as text, a line per value.
class Session {
public:
    struct Options {
        int edits = 1;
        bool hidden = false;
        std::string prompt = ">> ";
        std::vector<std::string> history;  // the block the edits start with, newest first
        // What completion answers, the first value positioned at its end; none: no completion.
        std::vector<std::string> completions = {};
        bool completion_raises = false;
        bool completion_fails = false;  // the completer leaves its result none
        bool ignore_hangup = false;
        std::string before;         // written before the edits, the prompt follows it in its row
        bool answering = true;      // the terminal tells where its cursor is
        bool answers_late = false;  // ... but only once something after the question is on the screen
    };

    explicit Session(const Options& options)
        : screen(80, 24), answering_(options.answering), answers_late_(options.answers_late) {
        int report[2];
        EXPECT_EQ(pipe(report), 0);
        winsize size = {24, 80, 0, 0};
        child_ = forkpty(&master_, nullptr, nullptr, &size);
        if (child_ == 0) {
            close(report[0]);
            run_child(options, report[1]);
        }
        close(report[1]);
        report_ = report[0];
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);  // tells how many keys wait to be read
        fcntl(master_, F_SETFL, O_NONBLOCK);
        fcntl(report_, F_SETFL, O_NONBLOCK);
    }
    ~Session() {
        if (child_ > 0) {
            kill(child_, SIGKILL);
            waitpid(child_, nullptr, 0);
        }
        close(master_);
        close(slave_);
        close(report_);
    }

    // Types keys once the editor waits for them in raw mode, and lets the screen settle.
    void type(const std::string& keys) {
        wait_for([&] { return raw_q(); });
        long read_before = bytes_read();
        EXPECT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
        settle(read_before < 0 ? -1 : read_before + long(keys.size()));
    }
    // The next line the child reports.
    std::string next_report() {
        wait_for([&] { return reports_.find('\n') != std::string::npos; });
        size_t end = reports_.find('\n');
        std::string line = reports_.substr(0, end);
        reports_.erase(0, end == std::string::npos ? end : end + 1);
        return line;
    }
    // The child's exit status once it ended.
    int wait_exit() {
        int status = -1;
        wait_for([&] { return waitpid(child_, &status, WNOHANG) == child_; });
        child_ = -1;
        return status;
    }
    // The window changes size; the screen forgets what it showed.
    void resize(int columns) {
        winsize size = {24, uint16_t(columns), 0, 0};
        ioctl(master_, TIOCSWINSZ, &size);
        screen = Screen(columns, 24, screen.cursor_row, screen.cursor_column);
    }
    // The terminal goes away.
    void hang_up() {
        close(slave_);
        close(master_);
        master_ = slave_ = -1;
    }
    bool raw_q() {
        termios mode;
        return tcgetattr(master_, &mode) == 0 && !(mode.c_lflag & ICANON);
    }
    pid_t child() const { return child_; }

    Screen screen;

private:
    static inline std::vector<std::string> completions;

    static inline bool completion_raises = false;
    static inline bool completion_fails = false;

    static void complete(const Cell&, Cell* result) {
        if (completion_raises) throw std::runtime_error("completion failed");
        if (completion_fails) return;
        block::make_at(result, 4);
        for (const std::string& value : completions) {
            auto bytes = reinterpret_cast<const uint8_t*>(value.data());
            block::rs_append(*result, *string::load_utf8_checked(bytes, uint32_t(value.size())));
            stack::top--;
        }
        if (!completions.empty()) block::rs_abs_at(*result, 0)->set_head(uint32_t(completions[0].size()));
    }

    [[noreturn]] static void run_child(const Options& options, int report) {
        setenv("TERM", "xterm-256color", 1);  // what the editor must do without: it asks no terminal database
        setenv("LANG", "C.UTF-8", 1);
        if (options.ignore_hangup) signal(SIGHUP, SIG_IGN);
        completions = options.completions;
        completion_raises = options.completion_raises;
        completion_fails = options.completion_fails;
        if (!completions.empty() || completion_raises || completion_fails) terminal::set_completer(complete);
        terminal::init();
        terminal::init_globals();
        Cell* history = block::make_at(stack::push_next(), 8);
        for (const std::string& entry : options.history)
            block::rs_append(*history, *string::load_utf8_checked(reinterpret_cast<const uint8_t*>(entry.data()),
                                                                  uint32_t(entry.size())));
        Cell* prompt = string::load_utf8_checked(reinterpret_cast<const uint8_t*>(options.prompt.data()),
                                                 uint32_t(options.prompt.size()));
        platform::write_all(1, options.before.data(), options.before.size());
        std::string text;
        for (int i = 0; i < options.edits; i++) {
            Cell* line = string::rs_make_at(stack::push_next(), 1);
            terminal::setup(*line, *history);
            bool read = false;
            try {
                read = terminal::edit(*prompt, options.hidden);
            } catch (const std::runtime_error&) {
                text = "raised\n";
                write(report, text.data(), text.size());
                _exit(0);
            }
            text = (read ? "" : "ended:") + binary::utf8_of(*line) + "\n";
            write(report, text.data(), text.size());
        }
        for (uint32_t i = 0; i < block::rs_length_q(*history); i++) {
            text = "history:" + binary::utf8_of(*block::rs_abs_at(*history, i)) + "\n";
            write(report, text.data(), text.size());
        }
        _exit(0);
    }

    // Reads what the child writes until `done` holds; fails the test at the end of its patience.
    template <class Done>
    void wait_for(Done done) {
        auto deadline = Clock::now() + kPatience;
        while (!done()) {
            if (Clock::now() > deadline) {
                ADD_FAILURE() << "the child did not get there";
                return;
            }
            drain(5);
        }
    }
    // Waits until the child has read every key and waits for the next one (or the edit ended), then reads
    // what it wrote.
    // A child that cannot be watched so is given until nothing has come for a moment.
    // A busy machine may hand the keys to the terminal's input late, so that for a moment none seem to
    // wait: the child must also have read as many bytes as `until_read` (-1: when that cannot be seen).
    void settle(long until_read) {
        wait_for([&] {
            long read = until_read < 0 ? -1 : bytes_read();
            return (read < 0 || read >= until_read) && keys_pending() == 0 && (!raw_q() || waiting_for_key() != 0);
        });
        while (drain(30)) {
        }
    }
    // The bytes the child has read so far (keys, and the terminal's answers), or -1 once it ended or
    // when that cannot be seen.
    long bytes_read() {
        siginfo_t info = {};
        if (waitid(P_PID, id_t(child_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child_) return -1;
        std::ifstream file("/proc/" + std::to_string(child_) + "/io");
        std::string key;
        long count;
        while (file >> key >> count)
            if (key == "rchar:") return count;
        return -1;
    }
    // The bytes typed that the child has not read yet.
    int keys_pending() {
        int count = 0;
        return ioctl(slave_, FIONREAD, &count) == 0 ? count : 0;
    }
    // 1 when the child waits in ppoll, 0 when it does not, -1 when that cannot be seen. A child that is
    // running (or waits for a processor) does not wait.
    int waiting_for_key() {
        std::ifstream file("/proc/" + std::to_string(child_) + "/syscall");
        std::string first;
        if (file >> first && first == "running") return 0;
        char* end = nullptr;
        long number = std::strtol(first.c_str(), &end, 10);
        if (first.empty() || *end) return drain(100) ? 0 : -1;
        return number == SYS_ppoll;
    }
    // Reads what there is within `millis`; true when anything came.
    bool drain(int millis) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {report_, POLLIN, 0}};
        if (poll(fds, 2, millis) <= 0) return false;
        char bytes[4096];
        bool any = false;
        for (ssize_t n; (n = read(master_, bytes, sizeof bytes)) > 0; any = true)
            screen.feed(std::string(bytes, size_t(n)));
        if (!answering_) screen.replies.clear();
        if (!screen.replies.empty() && (!answers_late_ || screen.shown_since_question > 0)) {
            EXPECT_EQ(write(master_, screen.replies.data(), screen.replies.size()), ssize_t(screen.replies.size()));
            screen.replies.clear();
        }
        for (ssize_t n; (n = read(report_, bytes, sizeof bytes)) > 0; any = true) reports_.append(bytes, size_t(n));
        return any;
    }

    pid_t child_ = -1;
    int master_ = -1, slave_ = -1, report_ = -1;
    bool answering_, answers_late_;
    std::string reports_;
};

Session::Options options(int edits, bool hidden = false, std::string prompt = ">> ",
                         std::vector<std::string> history = {}) {
    Session::Options made;
    made.edits = edits;
    made.hidden = hidden;
    made.prompt = std::move(prompt);
    made.history = std::move(history);
    return made;
}

const std::string kUp = "\x1b[A", kDown = "\x1b[B", kRight = "\x1b[C", kLeft = "\x1b[D", kHome = "\x1b[H",
                  kEnd = "\x1b[F", kDelete = "\x1b[3~";

// One line typed and entered: what the editor reads.
std::string entered(const std::string& keys, Session::Options options = {}) {
    Session session(options);
    session.type(keys);
    std::string line = session.next_report();
    EXPECT_EQ(session.wait_exit(), 0);
    return line;
}

TEST(LineEditor, Keys) {
    struct Case {
        std::string keys, line;
    };
    const Case cases[] = {
        {"abc" + kLeft + "X\r", "abXc"},
        {"abc\x02\x02Y\x06Z\r", "aYbZc"},                           // Ctrl+B, Ctrl+F
        {"abcd" + kHome + kDelete + kEnd + "\x7f" + "e\r", "bce"},  // Home, Delete, End, Backspace
        {"abcd\x01\x08x\x05y\r", "xabcdy"},                         // Backspace at the start does nothing
        {"abcd" + kLeft + kLeft + "\x0b!\r", "ab!"},                // Ctrl+K cuts to the end
        {"abc" + kLeft + "\x04\r", "ab"},                           // Ctrl+D deletes under the cursor
        {"abc\x04\r", "abc"},                                       // ... and nothing at the end
        {"ab\x03", "q"},                                            // Ctrl+C at any time
        {"\x04", "q"},                                              // Ctrl+D on an empty line
        {"ab" + kLeft + "\x1b", "ab\x1b"},                          // Esc: the line ends with character 27
        {"a\tb\r", "a\tb"},                                         // Tab without completion is a character
        {"\xc3\xa9t\xc3\xa9" + kLeft + "\xe4\xb8\xad\r", "\xc3\xa9t\xe4\xb8\xad\xc3\xa9"},
        {"x" + kUp + kDown + "\x1b[5~\x1b[2~\r", ""},  // Up, Down on an empty history empty the line
    };
    for (const Case& c : cases) EXPECT_EQ(entered(c.keys), c.line) << testing::PrintToString(c.keys);
}

TEST(LineEditor, History) {
    struct Case {
        std::vector<std::string> history;
        std::string keys, line;
    };
    const std::vector<std::string> three = {"new", "mid", "old"};
    const Case cases[] = {
        {three, kUp + "\r", "new"},
        {three, kUp + kUp + "\r", "mid"},
        {three, "\x10\x10\x10\r", "old"},                  // Ctrl+P
        {three, kUp + kUp + kUp + kUp + "\r", ""},         // past the oldest: empty
        {three, kUp + kUp + kDown + "\r", "mid"},          // Down shows the entry shown first
        {three, kUp + kUp + kDown + kDown + "\r", "new"},  // ... then goes down
        {three, kUp + kDown + kDown + "\r", ""},           // below the newest: empty
        {three, kUp + "!" + kUp + "\x0e\r", "mid"},        // Ctrl+N
        {three, kUp + kLeft + "X\r", "neXw"},              // the cursor comes at the end
    };
    for (const Case& c : cases)
        EXPECT_EQ(entered(c.keys, options(1, false, ">> ", c.history)), c.line) << testing::PrintToString(c.keys);
}

// The entered line goes to the head of the history, once when entered twice in a row, again when its
// case differs; the entry is the entered string itself.
TEST(LineEditor, HistoryGrows) {
    Session session(options(4));
    for (const char* keys : {"one\r", "one\r", "One\r"}) {
        session.type(keys);
        session.next_report();
    }
    session.type(kUp + kUp + "\r");
    EXPECT_EQ(session.next_report(), "one");
    for (const char* entry : {"history:one", "history:One", "history:one"}) EXPECT_EQ(session.next_report(), entry);
    EXPECT_EQ(session.wait_exit(), 0);
}

TEST(LineEditor, HiddenInput) {
    Session session(options(2, true, ">> ", {"old"}));
    session.type("secret");
    EXPECT_EQ(session.screen.row(0), ">> ******");
    session.type(kLeft + kLeft + "X");
    EXPECT_EQ(session.screen.row(0), ">> *******");
    EXPECT_EQ(session.screen.cursor_column, 3 + 5);
    session.type("\xe4\xb8\xad\t" + kLeft);  // a "*" takes one column, whatever it stands for
    EXPECT_EQ(session.screen.row(0), ">> *********");
    EXPECT_EQ(session.screen.cursor_column, 3 + 6);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "secrX\xe4\xb8\xad\tet");
    session.type("\x1b[A\r");  // the hidden line is not in the history
    EXPECT_EQ(session.next_report(), "old");
    EXPECT_EQ(session.next_report(), "history:old");
    EXPECT_EQ(session.wait_exit(), 0);
}

TEST(LineEditor, EchoAndCursor) {
    Session session({});
    session.type("abc");
    EXPECT_EQ(session.screen.row(0), ">> abc");
    EXPECT_EQ(session.screen.cursor_column, 6);
    session.type(kLeft + "X");
    EXPECT_EQ(session.screen.row(0), ">> abXc");
    EXPECT_EQ(session.screen.cursor_column, 6);
    session.type(kHome);
    EXPECT_EQ(session.screen.cursor_column, 3);
    session.type(kDelete + kEnd + "\x7f");
    EXPECT_EQ(session.screen.row(0), ">> bX");
    EXPECT_EQ(session.screen.cursor_column, 5);
    session.type("\t");
    EXPECT_EQ(session.screen.row(0), ">> bX");  // four blanks
    EXPECT_EQ(session.screen.cursor_column, 9);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "bX\t");
    EXPECT_EQ(session.wait_exit(), 0);
    EXPECT_EQ(session.screen.cursor_row, 1);  // output goes on below the line
}

// A prompt's colour sequences take no columns.
TEST(LineEditor, ColouredPrompt) {
    Session session(options(1, false, "\x1b[31m>>\x1b[0m "));
    session.type("ab" + kLeft);
    EXPECT_EQ(session.screen.row(0), ">> ab");
    EXPECT_EQ(session.screen.cursor_column, 4);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "ab");
}

TEST(LineEditor, LongLinesWrap) {
    Session session({});
    std::string a77(77, 'a'), a23(23, 'a');
    session.type(a77);  // fills the first row: the cursor goes to the next one
    EXPECT_EQ(session.screen.row(0), ">> " + a77);
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type(a23);
    EXPECT_EQ(session.screen.row(1), a23);
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 23);
    session.type(kHome);
    EXPECT_EQ(session.screen.cursor_row, 0);
    EXPECT_EQ(session.screen.cursor_column, 3);
    session.type("B");  // an insertion redraws both rows
    EXPECT_EQ(session.screen.row(0), ">> B" + std::string(76, 'a'));
    EXPECT_EQ(session.screen.row(1), std::string(24, 'a'));
    EXPECT_EQ(session.screen.cursor_column, 4);
    session.type(kEnd + "\x7f\x7f");  // Backspace at the end blanks the removed cells
    EXPECT_EQ(session.screen.row(1), std::string(22, 'a'));
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 22);
    session.type(std::string(22, '\x7f'));  // back to the end of the first row
    EXPECT_EQ(session.screen.row(1), "");
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type("\x7f");
    EXPECT_EQ(session.screen.cursor_row, 0);
    EXPECT_EQ(session.screen.cursor_column, 79);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "B" + std::string(75, 'a'));
    EXPECT_EQ(session.screen.cursor_row, 1);
}

TEST(LineEditor, WideCharacters) {
    Session session({});
    const std::string wide = "\xe4\xb8\xad";  // U+4E2D, two columns
    session.type(std::string(76, 'a'));       // the cursor in the last column
    EXPECT_EQ(session.screen.cursor_column, 79);
    session.type("\xd0\x96" + kLeft);  // on a narrow character there, U+0416, the cursor stays in that column
    EXPECT_EQ(session.screen.cursor_row, 0);
    EXPECT_EQ(session.screen.cursor_column, 79);
    session.type(kEnd + "\x7f" + wide);  // a wide one does not fit: it starts the next row
    EXPECT_EQ(session.screen.row(0), ">> " + std::string(76, 'a'));
    EXPECT_EQ(session.screen.row(1), wide);
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 2);
    session.type("z" + kLeft);  // the cell it left counts: "z" is in the third column
    EXPECT_EQ(session.screen.row(1), wide + "z");
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 2);
    session.type(kLeft);  // on the wide character: the cursor is where it is drawn
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type(kEnd + "\x7f");
    session.type(kHome + "b" + kEnd);  // the first row is full without it: it stays in the next
    EXPECT_EQ(session.screen.row(1), wide);
    EXPECT_EQ(session.screen.cursor_column, 2);
    session.type(kHome + kDelete + kDelete + kEnd);  // now it fits in the first row
    EXPECT_EQ(session.screen.row(0), ">> " + std::string(75, 'a') + wide);
    EXPECT_EQ(session.screen.row(1), "");
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type("\r");
    EXPECT_EQ(session.next_report(), std::string(75, 'a') + wide);
}

// A line pasted at the end, longer than the screen is wide, with tabs and wide characters (one of them
// due in a row's last column): each character is drawn as it comes and the editor keeps the width of
// the text up to date as it grows. A redraw of the whole line then finds it where the paste left it.
TEST(LineEditor, PastedLineEndsWhereARedrawPutsIt) {
    Session session({});
    const std::string wide = "\xe4\xb8\xad";
    std::string pasted;
    for (int i = 0; i < 40; i++) pasted += "ab\t" + wide + "cdefghijklmnopq";
    session.type(pasted);
    auto shown = [&] {
        std::vector<std::string> rows;
        for (int r = 0; r < 24; r++) rows.push_back(session.screen.row(r));
        return std::make_tuple(rows, session.screen.cursor_row, session.screen.cursor_column);
    };
    auto after_paste = shown();
    EXPECT_EQ(std::get<0>(after_paste)[0].substr(0, 5), ">> ab");
    session.type(kHome + kEnd);
    EXPECT_EQ(shown(), after_paste);
    session.type("\r");
    EXPECT_EQ(session.next_report(), pasted);
}

// Raw mode lasts for the edit only, and a signal during the edit gives the terminal back.
TEST(LineEditor, TerminalModeRestored) {
    {
        Session session({});
        session.type("x");
        EXPECT_TRUE(session.raw_q());
        session.type("\r");
        session.next_report();
        EXPECT_FALSE(session.raw_q());
        EXPECT_EQ(session.wait_exit(), 0);
    }
    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        Session session({});
        session.type("x");
        ASSERT_TRUE(session.raw_q());
        kill(session.child(), signo);
        int status = session.wait_exit();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signo) << signo;
        EXPECT_FALSE(session.raw_q()) << signo;
    }
}

// Tab asks for completion: one candidate completes the line; several end the edit with an empty line
// after showing them, and the next edit starts with the completed part.
TEST(LineEditor, Completion) {
    Session::Options one = options(1);
    one.completions = {"print"};
    EXPECT_EQ(entered("pri\t!\r", one), "print!");
    Session::Options several = options(2);
    several.completions = {"prin", "prin", "print"};
    Session session(several);
    session.type("pri\t");
    EXPECT_EQ(session.next_report(), "");
    EXPECT_EQ(session.screen.row(0), ">> prin print");
    session.type("t\r");
    EXPECT_EQ(session.next_report(), "print");
    EXPECT_EQ(session.screen.row(1), ">> print");
}

// The prompt starts where the text before it left the cursor: that text stays, and the line wraps
// where the screen does. A terminal that does not tell where its cursor is gets the line from column 0.
// The prompt does not wait for the answer: it is on the screen before a terminal that answers only then
// tells where it starts.
TEST(LineEditor, PromptAfterText) {
    Session::Options after_text = options(2, false, "> ");
    after_text.before = "say: ";
    Session session(after_text);
    session.type("abc" + kHome + "X");
    EXPECT_EQ(session.screen.row(0), "say: > Xabc");
    EXPECT_EQ(session.screen.cursor_column, 8);
    session.type(kEnd + std::string(69, 'd'));  // the row is full: the cursor goes to the next
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "Xabc" + std::string(69, 'd'));
    session.type("ab" + kLeft + "c");  // the next prompt starts its own row
    EXPECT_EQ(session.screen.row(2), "> acb");
    session.type("\r");
    EXPECT_EQ(session.next_report(), "acb");

    Session::Options silent = options(1);
    silent.answering = false;
    EXPECT_EQ(entered("ab" + kLeft + "c\r", silent), "acb");

    Session::Options late = options(1, false, "> ");
    late.before = "say: ";
    late.answers_late = true;
    Session answered_late(late);
    answered_late.type("ab" + kLeft + "c");
    EXPECT_EQ(answered_late.screen.row(0), "say: > acb");
    EXPECT_EQ(answered_late.screen.cursor_column, 9);
    answered_late.type("\r");
    EXPECT_EQ(answered_late.next_report(), "acb");
}

// A completion that fails leaves the line as it was, and the edit goes on; hidden input is never
// completed, Tab is a character there.
TEST(LineEditor, CompletionLeavesTheLine) {
    Session::Options failing = options(1);
    failing.completion_fails = true;
    Session session(failing);
    session.type("ab" + kLeft + "\t");
    EXPECT_EQ(session.screen.row(0), ">> ab");
    EXPECT_EQ(session.screen.cursor_column, 4);
    session.type("c\r");
    EXPECT_EQ(session.next_report(), "acb");
    Session::Options hidden = options(1, true);
    hidden.completions = {"print"};
    EXPECT_EQ(entered("pri\t\r", hidden), "pri\t");
}

// An error raised by completion leaves the edit with the terminal's mode given back.
TEST(LineEditor, ErrorInCompletion) {
    Session::Options raising = options(1);
    raising.completion_raises = true;
    Session session(raising);
    session.type("ab");
    EXPECT_TRUE(session.raw_q());
    session.type("\t");
    EXPECT_EQ(session.next_report(), "raised");
    EXPECT_FALSE(session.raw_q());
    EXPECT_EQ(session.wait_exit(), 0);
}

// A changed window size counts from the next key on.
TEST(LineEditor, WindowResized) {
    Session session({});
    session.type("x");
    session.resize(40);
    session.type(std::string(36, 'b'));  // the row is full at 40 columns: the cursor goes to the next
    EXPECT_EQ(session.screen.cursor_row, 1);
    EXPECT_EQ(session.screen.cursor_column, 0);
    session.type("\r");
    EXPECT_EQ(session.next_report(), "x" + std::string(36, 'b'));
}

// A terminal that goes away ends the edit with "q" and reports the end of the input, instead of
// waiting on reads that fail at once.
TEST(LineEditor, TerminalGone) {
    Session::Options ignoring = options(1);
    ignoring.ignore_hangup = true;
    Session session(ignoring);
    session.type("ab");
    session.hang_up();
    EXPECT_EQ(session.next_report(), "ended:q");
    EXPECT_EQ(session.wait_exit(), 0);
}

// Standard input read from `bytes` while it lives.
class StdinFrom {
public:
    explicit StdinFrom(const std::string& bytes) : saved_(dup(0)) {
        FILE* file = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fflush(file);
        lseek(fileno(file), 0, SEEK_SET);
        dup2(fileno(file), 0);
        std::fclose(file);
    }
    ~StdinFrom() {
        dup2(saved_, 0);
        close(saved_);
    }

private:
    int saved_;
};

// Redirected input is read line by line without prompt or echo, as UTF-8; its end is reported.
TEST(LineEditor, RedirectedInput) {
    struct Case {
        std::string input;
        std::vector<std::string> lines;  // up to the end of the input
    };
    const std::string replacement = utf8(0xFFFD);
    const Case cases[] = {
        {"one\ntwo\r\nthree", {"one", "two\r", "three"}},
        {"", {}},
        {"\n\n", {"", ""}},
        {"\xe4\xb8\xad\xf0\x9f\x98\x80\n", {"\xe4\xb8\xad\xf0\x9f\x98\x80"}},
        // a byte that is no UTF-8 reads as U+FFFD, and a cut sequence leaves the byte after it alone
        {"a\xff"
         "b\n\xc3\nc",
         {"a" + replacement + "b", replacement, "c"}},
    };
    for (const Case& c : cases) {
        StdinFrom input(c.input);
        testing::internal::CaptureStdout();
        terminal::Size size = terminal::console_init("Oka Console");  // no terminal: no title, and on
        EXPECT_EQ(size.columns, 80);
        EXPECT_FALSE(terminal::console_q());
        EXPECT_EQ(terminal::size().columns, 80);
        EXPECT_EQ(terminal::size().rows, 50);
        Cell* prompt = string::load_utf8_checked(reinterpret_cast<const uint8_t*>(">> "), 3);
        Cell* history = block::make_at(stack::push_next(), 1);
        std::vector<std::string> lines;
        for (;;) {
            Cell* line = string::rs_make_at(stack::push_next(), 1);
            terminal::setup(*line, *history);
            if (!terminal::edit(*prompt, false)) {
                EXPECT_EQ(binary::utf8_of(*line), "");
                break;
            }
            lines.push_back(binary::utf8_of(*line));
        }
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.input);
        EXPECT_EQ(block::rs_length_q(*history), 0u);
    }
}

TEST(LineEditor, InputStdin) {
    StdinFrom input("first\nsecond");
    for (const char* line : {"first", "second", "", ""})
        EXPECT_EQ(binary::utf8_of(*terminal::input_stdin(stack::push_next())), line);
}

std::string bytes_of(const Cell& binary) {
    auto buffer = mem::buffer(binary.node());
    Addr head = buffer->offset + binary.head();
    return std::string(mem::ptr<char>(head), buffer->tail - head);
}

// Raw bytes of standard input land in a binary!, never past its capacity.
TEST(LineEditor, ReadStdinKeepsToTheCapacity) {
    std::string input(1000, 'x');
    for (int i = 0; i < 1000; i++) input[size_t(i)] = char('a' + i % 26);
    StdinFrom redirected(input);
    Cell* bytes = binary::make_at(stack::push_next(), 16);
    auto buffer = mem::buffer(bytes->node());
    uint32_t room = buffer->data_end() - buffer->offset;
    int32_t count = terminal::read_stdin(*bytes, 10);  // what the caller asks for
    EXPECT_EQ(count, 10);
    EXPECT_EQ(bytes_of(*bytes), input.substr(0, 10));
    Cell* more = binary::make_at(stack::push_next(), 16);
    count = terminal::read_stdin(*more, 100000);  // more than it holds
    EXPECT_EQ(uint32_t(count), room);
    EXPECT_EQ(mem::buffer(more->node())->tail, mem::buffer(more->node())->data_end());
    EXPECT_EQ(bytes_of(*more), input.substr(10, room));
    EXPECT_EQ(terminal::read_stdin(*more, 0), 0);
    EXPECT_EQ(terminal::read_stdin(*more, -5), 0);
}

}  // namespace
}  // namespace oka
