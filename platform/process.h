/* Child processes: starting a program with its three standard streams joined to the parent's, to the
   null device, to files, or to pipes that the parent feeds and drains; waiting for it; and reaping the
   children that nobody waits for.

   Rules: nothing here knows of cells; text is bytes (UTF-8 by convention). Every descriptor opened here
   is close-on-exec and is closed again before run_process returns, on every path, the failing ones too.
   The pipes of one child are served together through poll, so no order in which a child reads and
   writes them can block the parent and the child on each other. SIGPIPE is held off while a child is
   fed: a child that stops reading ends the feeding, never the parent. What outlives a call is the
   process id of a child not waited for, until reap_children finds it ended; children still running
   when the parent ends are the system's to reap. */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace oka::platform {

// Where one of a child's standard streams comes from or goes to.
struct Stream {
    enum class Kind { inherit, null_device, file, pipe };
    Kind kind = Kind::null_device;
    // file: its name. The input is read from it; output and error are appended to it, made when missing.
    std::string path;
    // pipe: the bytes the child reads (input), or those it wrote (output and error), appended here.
    std::string bytes;
    // pipe: the child wrote more than the child's output limit; `bytes` holds the first of them.
    bool too_large = false;
};

struct ChildProcess {
    // The program, searched for on PATH when its name has no slash, then its arguments.
    std::vector<std::string> arguments;
    Stream input, output, error;
    bool wait = true;
    // The most bytes taken from each pipe the child writes to. A child that writes more is ended
    // (SIGKILL) and its pipes closed: one that never stops writing costs no more than the limit.
    size_t output_limit = SIZE_MAX;
};

// Starts the child and serves its pipes until it has closed them. Then, with `wait`, waits for it to
// end and returns its exit status (128 + the signal's number when a signal ended it); without, returns
// its process id. -1 when a file or pipe cannot be opened or the program cannot be started.
int32_t run_process(ChildProcess& child);

// The arguments that run a command line through the shell, /bin/sh -c.
std::vector<std::string> shell_command(const std::string& command_line);

// Collects the children started without waiting that have ended, so that none stays a zombie. Never
// blocks; run_process calls it before every start.
void reap_children();

}  // namespace oka::platform
