// Runs console transcripts: each case is one input line after ">> " and the exact lines the console
// shows for it. The cases of a file run in order in one session, the way a user would type them.
//
//     ; a comment
//     >> append [1 2] 3
//     == [1 2 3]
//
// A line "..." ends the comparison of its case early; a blank line or a comment line ends a case.
//
// With --fail-each-allocation the runner runs each case once for each series allocation it makes,
// failing that one allocation as a full language memory would (see fail_each_allocation below).
//
// With --piped <oka> the cases go to the console itself: the program given reads them from its
// redirected standard input, one session per file, and each case must show the same lines there.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "console/repl.h"
#include "datatypes/cycles.h"
#include "evaluator/trace.h"
#include "platform/thread_stack.h"
#include "platform/virtual_memory.h"
#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/throw.h"

namespace {

struct Case {
    int line;
    std::string input;
    std::vector<std::string> expected;
    bool prefix_only = false;
};

std::vector<Case> read_cases(const char* path) {
    std::ifstream file(path);
    std::vector<Case> cases;
    std::string line;
    bool open = false;
    for (int number = 1; std::getline(file, line); number++) {
        if (line.rfind(">> ", 0) == 0) {
            cases.push_back({number, line.substr(3), {}});
            open = true;
        } else if (line.empty() || line[0] == ';') {
            open = false;
        } else if (open && line == "...") {
            cases.back().prefix_only = true;
            open = false;
        } else if (open) {
            cases.back().expected.push_back(line);
        }
    }
    return cases;
}

std::string contents_of(FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += char(c);
    return text;
}

// Printed text as lines, without the empty lines that end it.
std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// The output of the case being run, and where standard error went before: should the run-time end the
// process in the middle of a case (a failed assertion), what the case wrote is shown there.
FILE* capture = nullptr;
int saved_error = -1;

void show_capture_at_exit() {
    if (!capture) return;
    std::fflush(stderr);
    std::string text = contents_of(capture);
    [[maybe_unused]] ssize_t written = write(saved_error, text.data(), text.size());
}

// What the console prints for the input, as lines, without the empty lines that end it: standard
// output and standard error in the order they were written, as the piped console shows them.
std::vector<std::string> output_of(const std::string& input) {
    std::fflush(stdout);
    std::fflush(stderr);
    capture = std::tmpfile();
    int saved_out = dup(1);
    saved_error = dup(2);
    dup2(fileno(capture), 1);
    dup2(fileno(capture), 2);
    oka::console::do_command(input + "\n");
    std::fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_error, 2);
    close(saved_out);
    close(saved_error);
    std::vector<std::string> lines = lines_of(contents_of(capture));
    std::fclose(capture);
    capture = nullptr;
    return lines;
}

bool matches(const Case& c, const std::vector<std::string>& actual) {
    if (c.prefix_only) {
        if (actual.size() < c.expected.size()) return false;
        return std::equal(c.expected.begin(), c.expected.end(), actual.begin());
    }
    return actual == c.expected;
}

// Compares what a case showed with what it should; answers 1 for a failure, which it reports.
int compare(const char* path, const Case& c, const std::vector<std::string>& actual) {
    if (matches(c, actual)) return 0;
    std::cerr << path << ":" << c.line << ": >> " << c.input << "\n  expected:\n";
    for (const std::string& line : c.expected) std::cerr << "    " << line << "\n";
    std::cerr << "  actual:\n";
    for (const std::string& line : actual) std::cerr << "    " << line << "\n";
    return 1;
}

int run_file(const char* path) {
    int failures = 0;
    for (const Case& c : read_cases(path)) {
        std::vector<std::string> actual = output_of(c.input);
        if constexpr (oka::kChecks) oka::collector::verify(oka::collector::Moment::AtRest);
        failures += compare(path, c, actual);
    }
    return failures;
}

// ---- piped through the console ----

// A line the console prints after each case, by a command typed after it; it starts a line of its own
// whether or not the case ended its last line.
constexpr std::string_view kEndOfCase = "~~~ end of case ~~~";

std::string end_of_case_command() { return "prin \"^/" + std::string(kEndOfCase) + "^/\"\n"; }

// The session typed at the console: the cases, each followed by the command that marks its end, and
// one such command first, which ends the banner.
std::string session_of(const std::vector<Case>& cases) {
    std::string session = end_of_case_command();
    for (const Case& c : cases) session += c.input + "\n" + end_of_case_command();
    return session;
}

// Runs the program with `input` as its standard input; answers what it wrote on standard output and
// error, and its exit status in `status`.
std::string run_program(const char* program, const std::string& input, int& status) {
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    pid_t child = fork();
    if (child == 0) {
        dup2(fileno(in), 0);
        dup2(fileno(out), 1);
        dup2(fileno(out), 2);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    waitpid(child, &status, 0);
    status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::string output = contents_of(out);
    std::fclose(in);
    std::fclose(out);
    return output;
}

// The output of each case, in order: the text between the marks that end the cases.
std::vector<std::string> outputs_per_case(const std::string& output) {
    std::string mark = "\n" + std::string(kEndOfCase) + "\n";
    std::vector<std::string> outputs;
    size_t start = output.find(mark);
    while (start != std::string::npos) {
        start += mark.size();
        size_t end = output.find(mark, start);
        if (end == std::string::npos) break;
        outputs.push_back(output.substr(start, end - start));
        start = end;
    }
    return outputs;
}

int pipe_file(const char* program, const char* path) {
    std::vector<Case> cases = read_cases(path);
    int status = 0;
    std::string output = run_program(program, session_of(cases), status);
    std::vector<std::string> outputs = outputs_per_case(output);
    int failures = 0;
    for (size_t i = 0; i < cases.size(); i++)
        failures += compare(path, cases[i], i < outputs.size() ? lines_of(outputs[i]) : std::vector<std::string>{});
    if (status != 0 || outputs.size() != cases.size()) {
        std::cerr << path << ": the console ended with status " << status << " after " << outputs.size() << " of "
                  << cases.size() << " cases\n";
        failures++;
    }
    return failures;
}

// ---- failing each allocation ----

// What every command leaves as it found it, however it ends.
struct Balance {
    oka::Cell* frame_base = oka::stack::frame_base;
    oka::Cell* top = oka::stack::top;
    oka::Cell* end = oka::stack::end;
    oka::stack::CallFrame* call_top = oka::stack::call_top;
    uint32_t cycle_depth = oka::cycles::depth();
    bool collector_on = oka::collector::on;
    bool tracing = oka::trace::tracing || oka::trace::trace_mode;

    bool operator==(const Balance&) const = default;
};

// The checks of the heap after each run, all in this one place: a collection marks everything
// reachable (asserting that every node it meets has its buffer) and moves what it can.
void check_heap() { oka::collector::do_cycle(); }

constexpr const char* kNoMemoryReport = "*** Internal Error: not enough memory";

// The report may follow text the case printed on the same line.
bool shows_no_memory(const std::vector<std::string>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const std::string& line) { return line.find(kNoMemoryReport) != std::string::npos; });
}

// A case that may catch the error itself shows what its code makes of it.
bool catches_errors(const Case& c) {
    return c.input.find("try") != std::string::npos || c.input.find("attempt") != std::string::npos;
}

void report(const char* path, const Case& c, uint32_t failed_at, const char* fault,
            const std::vector<std::string>& actual) {
    std::cerr << path << ":" << c.line << ": >> " << c.input << "\n  allocation " << failed_at << " failed: " << fault
              << "\n  output:\n";
    for (const std::string& line : actual) std::cerr << "    " << line << "\n";
}

// Which allocations of a case are failed: every `step`th of the first kDense; beyond them a case repeats
// the code paths of its first allocations (a loop of many passes, a deep recursion), and the next one
// failed is a 1/`tail` part of the allocations made so far further on, or none with no tail.
constexpr uint32_t kDense = 256;

struct Spacing {
    uint32_t step, tail;

    uint32_t next(uint32_t k) const {
        if (k <= kDense) return k + step;
        return tail ? k + k / tail : UINT32_MAX;
    }
};

// Runs the case failing its allocation k, for k = 1 and on as `spacing` says, until a run makes no
// allocation k.
// Each run that fails one must report the no-memory error (or may show anything when the case catches
// errors itself) and leave the stacks, the guards and the heap sound. The state a run leaves carries
// over to the next, so the run that fails nothing is not compared with the transcript.
// Answers the faults found; `runs` counts the runs.
int fail_each_allocation(const char* path, const Case& c, const Spacing& spacing, uint64_t& runs) {
    int faults = 0;
    for (uint32_t k = 1;; k = spacing.next(k)) {
        Balance before;
        oka::collector::fail_at(k);
        std::vector<std::string> actual = output_of(c.input);
        bool failed = !oka::collector::fail_armed_q();
        oka::collector::fail_at(0);
        runs++;
        check_heap();
        Balance after;
        // A case that fails nothing may switch the collector off or on, as recycle/off does.
        if (!failed) after.collector_on = before.collector_on;
        const char* fault = nullptr;
        if (!(after == before))
            fault = "the stacks or a guard were left changed";
        else if (failed && !shows_no_memory(actual) && !catches_errors(c))
            fault = "no report of the no-memory error";
        if (fault) {
            faults++;
            report(path, c, k, fault, actual);
            // The later runs start from sound stacks, so that they show faults of their own.
            oka::stack::frame_base = before.frame_base;
            oka::stack::top = before.top;
            oka::stack::call_top = before.call_top;
        }
        if (!failed) return faults;
    }
}

// Under the collector's stress mode each allocation of a run collects: fewer allocations are failed, and
// none beyond the dense ones, so that the run takes about as long as the plain one. Under the address
// sanitizer every run costs many times the plain one: every eighth of the dense ones is failed, and
// the sparse ones beyond come twice as far apart. The plain run fails every one and checks the stacks
// and the heap after each; what the sanitizer adds (a C++ buffer overrun or leaked on the failure's way
// out) mostly shows at any failed allocation of the same code path, which a case meets many times.
Spacing spacing() {
    if (oka::collector::stress_interval) return Spacing{5, 0};
#if OKA_ADDRESS_SANITIZER
    return Spacing{8, 1};
#else
    return Spacing{1, 2};
#endif
}

int fail_file(const char* path) {
    int faults = 0;
    uint64_t runs = 0;
    for (const Case& c : read_cases(path)) faults += fail_each_allocation(path, c, spacing(), runs);
    std::cout << path << ": " << runs << " runs, " << faults << " faults\n";
    return faults;
}

struct Arguments {
    int count;
    char** values;
};

int run_files(const Arguments& args) {
    oka::runtime::init();
    oka::boot::finish_start_up();
    oka::collector::on = true;
    oka::console::use_size_without_terminal();
    bool failing = args.count > 1 && std::strcmp(args.values[1], "--fail-each-allocation") == 0;
    int failures = 0;
    for (int i = failing ? 2 : 1; i < args.count; i++)
        failures += failing ? fail_file(args.values[i]) : run_file(args.values[i]);
    return failures ? 1 : 0;
}

int run(void* data) {
    try {
        return run_files(*static_cast<Arguments*>(data));
    } catch (const oka::Throw& t) {
        oka::sys::top_handler(t.code);
    } catch (...) {
        oka::sys::on_escaped_exception();
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--piped") == 0) {
        int failures = 0;
        for (int i = 3; i < argc; i++) failures += pipe_file(argv[2], argv[i]);
        return failures ? 1 : 0;
    }
    std::set_terminate(oka::sys::on_terminate);
    std::atexit(show_capture_at_exit);
    oka::mem::reserve();
    Arguments args{argc, argv};
    return oka::platform::run_with_stack(size_t(512) << 20, run, &args);
}
