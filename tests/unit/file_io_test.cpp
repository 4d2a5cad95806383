// Reading a file that tells no size: a pipe is read once, to its end or to what /part asks, however
// its writer splits the bytes. (The other file services show in tests/transcripts/files.txt.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "natives_testing.h"

namespace oka::test {
namespace {

class FileIo : public CodeTest {};

constexpr size_t kPipeBytes = 200000;

// Writes the bytes into the pipe in pieces of 1000, so that the reader's reads come back short; stops
// when the reader has closed its end.
void feed(const std::string& pipe) {
    int fd = open(pipe.c_str(), O_WRONLY);
    std::string piece(1000, 'x');
    for (size_t sent = 0; sent < kPipeBytes; sent += piece.size())
        if (write(fd, piece.data(), piece.size()) < 0) break;
    close(fd);
}

TEST_F(FileIo, APipeIsReadOnceToItsEnd) {
    char folder[] = "/tmp/oka-pipe-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string pipe = std::string(folder) + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);  // a reader that stops early leaves the writer an error instead
    struct Case {
        std::string code;
        const char* result;
    };
    std::string file = "to file! \"" + pipe + "\"";
    const Case cases[] = {
        {"length? read/binary " + file, "200000"},
        {"length? read " + file, "200000"},
        {"length? read/seek/binary " + file + " 150000", "50000"},
        {"length? read/seek/binary " + file + " 300000", "0"},
        {"length? read/part/binary " + file + " 70000", "70000"},
        {"read/seek/part " + file + " 199998 5", "\"xx\""},
    };
    for (const Case& c : cases) {
        std::thread writer(feed, pipe);
        EXPECT_EQ(eval(c.code), c.result) << c.code;
        writer.join();
    }
    sigaction(SIGPIPE, &saved, nullptr);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace oka::test
