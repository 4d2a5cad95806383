#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "natives_testing.h"
#include "platform/process.h"
#include "services/natives.h"
#include "string_testing.h"

namespace oka {
namespace {

using platform::ChildProcess;
using platform::Stream;

const Stream kNull{};
const Stream kPipe{Stream::Kind::pipe, {}, {}};
Stream file_stream(const std::string& path) { return {Stream::Kind::file, path, {}}; }

size_t open_descriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) count++;
    return count;
}

// A temporary folder, removed with what it holds.
struct Scratch {
    std::filesystem::path path;
    Scratch() {
        char name[] = "/tmp/oka-process-XXXXXX";
        path = mkdtemp(name);
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
};

// Whether the child has ended, without collecting it; waits up to five seconds when asked to.
bool ended(pid_t pid, bool wait) {
    siginfo_t info{};
    int options = WEXITED | WNOWAIT | (wait ? 0 : WNOHANG);
    return waitid(P_PID, id_t(pid), &info, options) == 0 && info.si_pid == pid;
}

// Every path through a run, the failing ones first, leaves no descriptor open: the ends of the pipes,
// files and null device made before a failure are closed again.
TEST(Process, NoDescriptorOutlivesARun) {
    Scratch scratch;
    struct Case {
        const char* what;
        ChildProcess child;
        int32_t status;
    };
    Case cases[] = {
        {"a program that is not there", {{"/no/such/program"}, kPipe, kPipe, kPipe}, -1},
        {"a program not found on PATH", {{"no-such-program-oka"}, kPipe, kPipe, kNull}, -1},
        {"an input file that is not there", {{"true"}, file_stream(scratch.file("none/in")), kPipe, kPipe}, -1},
        {"an output file in a missing folder", {{"true"}, kPipe, kPipe, file_stream(scratch.file("none/out"))}, -1},
        {"no arguments", {{}, kPipe, kPipe, kPipe}, -1},
        {"a failing shell command", {platform::shell_command("echo x; echo y >&2; exit 7"), kPipe, kPipe, kPipe}, 7},
        {"a missing program through the shell",
         {platform::shell_command("no-such-program-oka"), kNull, kNull, kPipe},
         127},
        {"a run that succeeds", {platform::shell_command("cat"), kPipe, file_stream(scratch.file("o")), kNull}, 0},
    };
    for (Case& c : cases) {
        size_t before = open_descriptors();
        EXPECT_EQ(platform::run_process(c.child), c.status) << c.what;
        EXPECT_EQ(open_descriptors(), before) << c.what;
    }
}

// The three pipes are served together: a child that fills its error pipe before it reads its input,
// or its output pipe before it reads, ends as it would alone.
TEST(Process, PipesServedInAnyOrder) {
    const std::string megabyte(1 << 20, 'x');
    for (const char* command : {"head -c 1048576 /dev/zero >&2; wc -c", "head -c 1048576 /dev/zero; wc -c >&2",
                                "wc -c; head -c 1048576 /dev/zero >&2"}) {
        ChildProcess child{platform::shell_command(command), {Stream::Kind::pipe, {}, megabyte}, kPipe, kPipe};
        EXPECT_EQ(platform::run_process(child), 0) << command;
        std::string counted = child.output.bytes.size() < 100 ? child.output.bytes : child.error.bytes;
        std::string zeros = child.output.bytes.size() < 100 ? child.error.bytes : child.output.bytes;
        EXPECT_EQ(counted, "1048576\n") << command;
        EXPECT_EQ(zeros, std::string(1 << 20, '\0')) << command;
    }
}

// A child that stops reading its input ends the feeding, not the parent (SIGPIPE is held off and any
// SIGPIPE raised is taken away).
TEST(Process, ChildThatStopsReading) {
    ChildProcess child{platform::shell_command("head -c 1 >/dev/null; exit 4"),
                       {Stream::Kind::pipe, {}, std::string(1 << 20, 'x')},
                       kNull,
                       kNull};
    EXPECT_EQ(platform::run_process(child), 4);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

// Without waiting the answer is the process id, at once; the child is collected by a later run once
// it has ended, so that it does not stay a zombie.
TEST(Process, ChildNotWaitedForIsReaped) {
    ChildProcess sleeper{{"sleep", "10"}, kNull, kNull, kNull, false};
    pid_t running = platform::run_process(sleeper);
    ASSERT_GT(running, 0);
    EXPECT_FALSE(ended(running, false));
    kill(running, SIGKILL);

    ChildProcess quick{{"true"}, kNull, kNull, kNull, false};
    pid_t pid = platform::run_process(quick);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(ended(pid, true));
    ASSERT_TRUE(ended(running, true));
    platform::reap_children();
    int status;
    for (pid_t child : {pid, running}) {
        EXPECT_EQ(waitpid(child, &status, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

// Output to a file is appended; input from a file is its contents.
TEST(Process, FilesAppendedAndRead) {
    Scratch scratch;
    std::string out = scratch.file("out");
    std::ofstream(out) << "kept\n";
    for (const char* line : {"one", "two"}) {
        ChildProcess child{platform::shell_command(std::string("echo ") + line), kNull, file_stream(out), kNull};
        EXPECT_EQ(platform::run_process(child), 0);
    }
    ChildProcess reader{{"cat"}, file_stream(out), kPipe, kNull};
    EXPECT_EQ(platform::run_process(reader), 0);
    EXPECT_EQ(reader.output.bytes, "kept\none\ntwo\n");
}

// A parent that runs with its standard input and output closed makes the child's ends where those
// were; each stream still reaches its own file.
// A child that writes more than the limit to a pipe is ended and the pipe's bytes stop at the limit:
// one that never stops writing costs no more, even when it ignores the closed pipe (SIGPIPE). A child
// that writes no more than the limit is left alone.
TEST(Process, AChildThatWritesPastTheLimitIsEnded) {
    constexpr size_t kLimit = 1 << 20;
    struct Case {
        const char* command;
        bool to_error;
    };
    for (const Case& c :
         {Case{"yes", false}, Case{"trap '' PIPE; while :; do echo x; done", false}, Case{"yes >&2", true}}) {
        ChildProcess child{platform::shell_command(c.command), kNull, kPipe, kPipe};
        child.output_limit = kLimit;
        EXPECT_EQ(platform::run_process(child), 128 + SIGKILL) << c.command;
        const Stream& stream = c.to_error ? child.error : child.output;
        EXPECT_TRUE(stream.too_large) << c.command;
        EXPECT_EQ(stream.bytes.size(), kLimit) << c.command;
    }
    ChildProcess child{platform::shell_command("head -c 1048576 /dev/zero"), kNull, kPipe, kPipe};
    child.output_limit = kLimit;
    EXPECT_EQ(platform::run_process(child), 0);
    EXPECT_FALSE(child.output.too_large);
    EXPECT_EQ(child.output.bytes.size(), kLimit);
}

TEST(Process, ParentWithoutStandardStreams) {
    Scratch scratch;
    std::string out = scratch.file("out"), err = scratch.file("err");
    ChildProcess child{platform::shell_command("echo O; echo E >&2"),
                       {Stream::Kind::inherit, {}, {}},
                       file_stream(out),
                       file_stream(err)};
    int saved_in = dup(STDIN_FILENO), saved_out = dup(STDOUT_FILENO);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    int32_t status = platform::run_process(child);
    dup2(saved_in, STDIN_FILENO);
    dup2(saved_out, STDOUT_FILENO);
    close(saved_in);
    close(saved_out);
    EXPECT_EQ(status, 0);
    std::ifstream out_file(out), err_file(err);
    std::string out_line, err_line;
    std::getline(out_file, out_line);
    std::getline(err_file, err_line);
    EXPECT_EQ(out_line, "O");
    EXPECT_EQ(err_line, "E");
}

// call through the native, with file! values (the names of files) for its streams. The refinements'
// positions, in the order of the spec: /wait /show /console /shell /input /output /error.
class Call : public test::CodeTest {
protected:
    static Cell file(const std::string& path) { return test::with_type(test::str(path), Type::File); }
    static int32_t call(std::initializer_list<Cell> args, std::vector<int32_t> positions) {
        return integer::get(test::run(natives::call_s, args, std::move(positions)));
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

// A file! output is appended to, made when missing; a file! input is read; an input file that is not
// there answers -1 and runs nothing.
TEST_F(Call, FilesForTheStreams) {
    Scratch scratch;
    std::string in = scratch.file("in"), out = scratch.file("out"), err = scratch.file("err");
    std::ofstream(in) << "abc";
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(call({test::str("cat; echo E >&2"), file(in), file(out), file(err)}, {-1, -1, -1, -1, 1, 2, 3}), 0);
    EXPECT_EQ(contents(out), "abcabc");
    EXPECT_EQ(contents(err), "E\nE\n");
    EXPECT_EQ(call({test::str("echo ran"), file(scratch.file("missing")), file(out)}, {-1, -1, -1, -1, 1, 2, -1}), -1);
    EXPECT_EQ(contents(out), "abcabc");
    EXPECT_EQ(call({file("/bin/true")}, {0, -1, -1, -1, -1, -1, -1}), 0);
}

// Output and error not redirected go to the null device, unless /console leaves them the console's.
TEST_F(Call, ConsoleKeepsTheStreams) {
    Scratch scratch;
    std::string seen = scratch.file("seen");
    struct Row {
        std::vector<int32_t> positions;
        const char* shown;
    };
    const Row rows[] = {{{0, -1, -1, -1, -1, -1, -1}, ""}, {{-1, -1, 0, -1, -1, -1, -1}, "out\nerr\n"}};
    for (const Row& row : rows) {
        int saved_out = dup(STDOUT_FILENO), saved_err = dup(STDERR_FILENO);
        int target = open(seen.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(target, STDOUT_FILENO);
        dup2(target, STDERR_FILENO);
        int32_t status = call({test::str("echo out; echo err >&2")}, row.positions);
        dup2(saved_out, STDOUT_FILENO);
        dup2(saved_err, STDERR_FILENO);
        for (int fd : {saved_out, saved_err, target}) close(fd);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(contents(seen), row.shown);
    }
}

// browse hands the name to xdg-open, found on PATH, and does not wait; without one it raises access
// cannot-open.
class Browse : public test::CodeTest {
protected:
    void TearDown() override { setenv("PATH", path_.c_str(), 1); }
    std::string path_ = std::getenv("PATH");
};

TEST_F(Browse, OpensWithXdgOpen) {
    Scratch scratch;
    std::string opened = scratch.file("opened");
    std::ofstream(scratch.file("xdg-open"))
        << "#!/bin/sh\nprintf %s \"$1\" > " << opened << ".part\nmv " << opened << ".part " << opened << "\n";
    std::filesystem::permissions(scratch.file("xdg-open"), std::filesystem::perms::owner_all);
    setenv("PATH", (scratch.path.string() + ":" + path_).c_str(), 1);
    Cell file = test::with_type(test::str("/tmp/a b.html"), Type::File);
    EXPECT_EQ(test::run(natives::browse_s, {file}).type(), Type::Unset);
    for (int i = 0; i < 500 && !std::filesystem::exists(opened); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(opened);
    std::string argument((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(argument, "/tmp/a b.html");

    setenv("PATH", scratch.file("none").c_str(), 1);
    EXPECT_EQ(test::error_of([&] { test::run(natives::browse_s, {file}); }), Err::access_cannot_open);
}

}  // namespace
}  // namespace oka
