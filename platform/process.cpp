#include "platform/process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>

extern char** environ;

namespace oka::platform {

namespace {

// A descriptor closed when it goes out of scope.
class Fd {
public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The two ends of one of the child's streams: the one the child gets as its stream, and the parent's
// end of a pipe.
struct Ends {
    Fd child, parent;
};

constexpr int kWriteMode = 0666;

// The descriptor moved to 3 or above (a parent may run with its standard streams closed), so that
// placing one of the child's ends as its stream 0, 1 or 2 never replaces another of them; -1 stays.
int above_standard_streams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// Opens the child's end of a stream (and the parent's end of a pipe); false when that fails. `reads`:
// the child reads this stream.
bool open_ends(const Stream& stream, bool reads, Ends& ends) {
    switch (stream.kind) {
    case Stream::Kind::inherit: return true;
    case Stream::Kind::null_device:
        ends.child.reset(above_standard_streams(open("/dev/null", O_RDWR | O_CLOEXEC)));
        break;
    case Stream::Kind::file:
        ends.child.reset(above_standard_streams(
            reads ? open(stream.path.c_str(), O_RDONLY | O_CLOEXEC)
                  : open(stream.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kWriteMode)));
        break;
    case Stream::Kind::pipe: {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        ends.parent.reset(reads ? fds[1] : fds[0]);
        ends.child.reset(above_standard_streams(reads ? fds[0] : fds[1]));
        if (!ends.child.open()) return false;
        // The parent never waits on one pipe while the others need serving.
        return fcntl(ends.parent.get(), F_SETFL, O_NONBLOCK) == 0;
    }
    }
    return ends.child.open();
}

// posix_spawn's file actions, destroyed when done.
struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

// Starts the program with the child's ends as its streams 0, 1 and 2 (those given); its process id,
// or -1.
pid_t spawn(const std::vector<std::string>& arguments, const std::array<Ends, 3>& ends) {
    FileActions file_actions;
    for (int stream = 0; stream < 3; stream++) {
        int fd = ends[size_t(stream)].child.get();
        if (fd >= 0 && posix_spawn_file_actions_adddup2(&file_actions.actions, fd, stream) != 0) return -1;
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &file_actions.actions, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

// Holds SIGPIPE off while the child is fed; a SIGPIPE that a write raised meanwhile is taken away
// before the old mask comes back, so that it never ends the parent.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeHeld() {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            timespec now{0, 0};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t pipe_, old_;
    bool was_pending_;
};

// One pipe the parent serves: the input it feeds from the stream's bytes, or an output it appends to
// them.
struct Channel {
    Fd* fd;
    Stream* stream;
    bool feeds;
    size_t fed = 0;
};

constexpr size_t kChunk = 65536;

// Moves what one ready pipe allows; closes it when it is done with or fails. False when the child wrote
// more than the limit.
bool serve(Channel& channel, size_t limit) {
    std::string& bytes = channel.stream->bytes;
    if (channel.feeds) {
        size_t count = std::min(kChunk, bytes.size() - channel.fed);
        ssize_t written = write(channel.fd->get(), bytes.data() + channel.fed, count);
        if (written > 0) channel.fed += size_t(written);
        if ((written < 0 && errno != EAGAIN && errno != EINTR) || channel.fed == bytes.size())
            channel.fd->reset();  // done, or the child stopped reading (EPIPE)
        return true;
    }
    char block[kChunk];
    ssize_t got = read(channel.fd->get(), block, sizeof block);
    if (got > 0 && size_t(got) > limit - bytes.size()) {
        bytes.append(block, limit - bytes.size());
        channel.stream->too_large = true;
        return false;
    }
    if (got > 0)
        bytes.append(block, size_t(got));
    else if (got == 0 || (errno != EAGAIN && errno != EINTR))
        channel.fd->reset();
    return true;
}

// Feeds the input pipe and drains the output and error pipes at once, until all are closed; ends the
// child and closes them all when it writes more than the limit.
void serve_pipes(ChildProcess& child, pid_t pid, std::array<Ends, 3>& ends) {
    SigpipeHeld held;
    Channel channels[] = {{&ends[0].parent, &child.input, true},
                          {&ends[1].parent, &child.output, false},
                          {&ends[2].parent, &child.error, false}};
    if (ends[0].parent.open() && child.input.bytes.empty()) ends[0].parent.reset();
    for (;;) {
        pollfd polled[3];
        Channel* served[3];
        nfds_t count = 0;
        for (Channel& channel : channels) {
            if (!channel.fd->open()) continue;
            polled[count] = {channel.fd->get(), short(channel.feeds ? POLLOUT : POLLIN), 0};
            served[count++] = &channel;
        }
        if (count == 0) return;
        if (poll(polled, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;  // the descriptors close with their ends
        }
        for (nfds_t i = 0; i < count; i++) {
            if (polled[i].revents == 0) continue;
            if (polled[i].revents & POLLNVAL) {
                served[i]->fd->reset();
            } else if (!serve(*served[i], child.output_limit)) {
                kill(pid, SIGKILL);
                for (Ends& end : ends) end.parent.reset();
                return;
            }
        }
    }
}

int32_t exit_status(int status) {
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int32_t wait_for(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return exit_status(status);
}

// The children started without waiting that may not have been collected yet.
std::vector<pid_t>& unreaped() {
    static std::vector<pid_t> children;
    return children;
}

}  // namespace

int32_t run_process(ChildProcess& child) {
    reap_children();
    if (child.arguments.empty()) return -1;
    std::array<Ends, 3> ends;
    if (!open_ends(child.input, true, ends[0]) || !open_ends(child.output, false, ends[1]) ||
        !open_ends(child.error, false, ends[2]))
        return -1;
    unreaped().reserve(unreaped().size() + 1);  // so that recording the child below cannot fail
    pid_t pid = spawn(child.arguments, ends);
    if (pid < 0) return -1;
    // Recorded until waited for, so that it is reaped even when serving its pipes fails (no memory).
    unreaped().push_back(pid);
    for (Ends& end : ends) end.child.reset();  // the parent sees the end of output when the child closes its own
    serve_pipes(child, pid, ends);
    if (!child.wait) return int32_t(pid);
    std::erase(unreaped(), pid);
    return wait_for(pid);
}

std::vector<std::string> shell_command(const std::string& command_line) { return {"/bin/sh", "-c", command_line}; }

void reap_children() {
    std::erase_if(unreaped(), [](pid_t pid) {
        int status;
        pid_t got = waitpid(pid, &status, WNOHANG);
        return got == pid || (got < 0 && errno == ECHILD);
    });
}

}  // namespace oka::platform
