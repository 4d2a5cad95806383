// Runs console transcripts: each case is one input line after ">> " and the exact lines the console
// shows for it. The cases of a file run in order in one session, the way a user would type them.
//
//     ; a comment
//     >> append [1 2] 3
//     == [1 2 3]
//
// A line "..." ends the comparison of its case early; a blank line or a comment line ends a case.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "console/repl.h"
#include "platform/thread_stack.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

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

// What the console prints for the input, as lines, without the empty lines that end it.
std::vector<std::string> output_of(const std::string& input) {
    std::fflush(stdout);
    FILE* capture = std::tmpfile();
    int saved = dup(1);
    dup2(fileno(capture), 1);
    oka::console::do_command(input + "\n", 80);
    dup2(saved, 1);
    close(saved);
    std::rewind(capture);
    std::vector<std::string> lines;
    std::string current;
    for (int c; (c = std::fgetc(capture)) != EOF;) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += char(c);
        }
    }
    if (!current.empty()) lines.push_back(current);
    std::fclose(capture);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

bool matches(const Case& c, const std::vector<std::string>& actual) {
    if (c.prefix_only) {
        if (actual.size() < c.expected.size()) return false;
        return std::equal(c.expected.begin(), c.expected.end(), actual.begin());
    }
    return actual == c.expected;
}

int run_file(const char* path) {
    int failures = 0;
    for (const Case& c : read_cases(path)) {
        std::vector<std::string> actual = output_of(c.input);
        if constexpr (oka::kChecks) oka::collector::verify(oka::collector::Moment::AtRest);
        if (matches(c, actual)) continue;
        failures++;
        std::cerr << path << ":" << c.line << ": >> " << c.input << "\n  expected:\n";
        for (const std::string& line : c.expected) std::cerr << "    " << line << "\n";
        std::cerr << "  actual:\n";
        for (const std::string& line : actual) std::cerr << "    " << line << "\n";
    }
    return failures;
}

struct Arguments {
    int count;
    char** values;
};

int run(void* data) {
    auto* args = static_cast<Arguments*>(data);
    oka::runtime::init();
    oka::boot::finish_start_up();
    oka::collector::on = true;
    int failures = 0;
    for (int i = 1; i < args->count; i++) failures += run_file(args->values[i]);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    oka::mem::reserve();
    Arguments args{argc, argv};
    return oka::platform::run_with_stack(size_t(512) << 20, run, &args);
}
