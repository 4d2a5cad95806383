#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "platform/os.h"
#include "platform/signals.h"
#include "platform/thread_stack.h"
#include "platform/virtual_memory.h"

namespace oka::platform {
namespace {

// ---- Fatal signals

TEST(PlatformSignals, FatalNumberOfEachSignalAndCause) {
    struct Case {
        int signo, si_code;
        bool stack_overflow;
        int number;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, 1}, {SIGSEGV, SEGV_ACCERR, false, 1}, {SIGSEGV, SEGV_MAPERR, true, 19},
        {SIGBUS, BUS_ADRALN, false, 2},   {SIGBUS, BUS_ADRERR, false, 34},  {SIGBUS, BUS_OBJERR, false, 34},
        {SIGFPE, FPE_INTDIV, false, 13},  {SIGFPE, FPE_INTOVF, false, 14},  {SIGFPE, FPE_FLTDIV, false, 7},
        {SIGFPE, FPE_FLTOVF, false, 10},  {SIGFPE, FPE_FLTUND, false, 12},  {SIGFPE, FPE_FLTRES, false, 8},
        {SIGFPE, FPE_FLTINV, false, 9},   {SIGFPE, FPE_FLTSUB, false, 5},   {SIGFPE, SI_USER, false, 99},
        {SIGILL, ILL_PRVOPC, false, 15},  {SIGILL, ILL_ILLOPN, false, 23},  {SIGILL, ILL_ILLADR, false, 24},
        {SIGILL, ILL_ILLTRP, false, 25},  {SIGILL, ILL_COPROC, false, 26},  {SIGILL, ILL_PRVREG, false, 31},
        {SIGILL, ILL_ILLOPC, false, 17},  {SIGILL, ILL_BADSTK, false, 17},  {SIGTERM, SI_USER, false, 99},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fatal_number(c.signo, c.si_code, c.stack_overflow), c.number)
            << "signal " << c.signo << ", si_code " << c.si_code << ", overflow " << c.stack_overflow;
    }
}

// The death tests provoke real faults. The handler reports the number, checks that the address names
// the function where the fault was provoked, and exits with the number.

constexpr size_t kSmallStack = 256 * 1024;
constexpr uint32_t kFunctionBytes = 512;  // more than any provoking function below takes

uintptr_t faulting_function = 0;

void report_and_exit(int number, uint32_t address) {
    char text[64] = "fatal ";
    char* end = text + strlen(text);
    if (number >= 10) *end++ = char('0' + number / 10);
    *end++ = char('0' + number % 10);
    bool in_function = address - code_offset(faulting_function) < kFunctionBytes;
    strcpy(end, in_function ? " at the faulting function\n" : " elsewhere\n");
    (void)!write(STDERR_FILENO, text, strlen(text));
    _exit(number);
}

__attribute__((noinline, no_sanitize("integer-divide-by-zero"))) void divide_by_zero() {
    volatile int numerator = 1, denominator = 0;
    numerator = numerator / denominator;
}

[[gnu::noinline]] void write_to_wild_address() {
    volatile uintptr_t wild = 16;  // the lowest pages are never mapped
    *reinterpret_cast<volatile int*>(uintptr_t(wild)) = 1;
}

// Every level keeps its frame in use until the call below it returns, so only the stack ends it.
[[gnu::noinline]] unsigned descend(unsigned depth) {
    volatile char frame[1024];
    frame[0] = char(depth);
    if (depth == UINT_MAX) return 0;
    unsigned below = descend(depth + 1);
    return below + frame[0];
}

int descend_from_top(void*) { return int(descend(0)); }

void overflow_small_stack() { run_with_stack(kSmallStack, descend_from_top, nullptr); }

struct Fault {
    const char* name;
    void (*provoke)();
    uintptr_t function;  // where the fault happens
    int number;
};

void die_of(const Fault& fault) {
    faulting_function = fault.function;
    install_fatal_handlers(report_and_exit);
    fault.provoke();
}

TEST(PlatformSignalsDeathTest, FaultsAreReportedWithTheirNumberAndAddress) {
    const Fault faults[] = {
        {"integer division by zero", divide_by_zero, reinterpret_cast<uintptr_t>(divide_by_zero), 13},
        {"wild write", write_to_wild_address, reinterpret_cast<uintptr_t>(write_to_wild_address), 1},
        {"recursion past a small stack", overflow_small_stack, reinterpret_cast<uintptr_t>(descend), 19},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        std::string report = "fatal " + std::to_string(fault.number) + " at the faulting function";
        EXPECT_EXIT(die_of(fault), testing::ExitedWithCode(fault.number), report);
    }
}

void write_to_closed_pipe() {
    signal(SIGPIPE, SIG_IGN);  // as some parents leave it
    install_fatal_handlers(report_and_exit);
    int ends[2];
    if (pipe(ends) != 0) std::exit(2);
    close(ends[0]);
    [[maybe_unused]] ssize_t written = write(ends[1], "x", 1);
    std::exit(0);
}

TEST(PlatformSignalsDeathTest, AWriteToAClosedPipeEndsTheProcessEvenWhereTheParentIgnoredIt) {
    EXPECT_EXIT(write_to_closed_pipe(), testing::KilledBySignal(SIGPIPE), "");
}

// ---- The interpreter's stack

bool covers(StackBounds bounds, const void* address) {
    auto at = reinterpret_cast<uintptr_t>(address);
    return bounds.low <= at && at < bounds.high;
}

struct StackProbe {
    StackBounds bounds;
    bool covers_local;
};

int probe_stack(void* probe_pointer) {
    auto* probe = static_cast<StackProbe*>(probe_pointer);
    int local = 0;
    probe->bounds = current_stack_bounds();
    probe->covers_local = covers(probe->bounds, &local);
    return 42;
}

TEST(PlatformThreadStack, BodyRunsOnAStackOfTheSizeAskedAndItsResultIsReturned) {
    int local = 0;
    EXPECT_TRUE(covers(current_stack_bounds(), &local));
    for (size_t bytes : {size_t(1) << 20, size_t(512) << 20}) {
        StackProbe probe{};
        EXPECT_EQ(run_with_stack(bytes, probe_stack, &probe), 42);
        EXPECT_TRUE(probe.covers_local);
        EXPECT_FALSE(covers(probe.bounds, &local));
        EXPECT_GE(probe.bounds.high - probe.bounds.low, bytes) << "asked for " << bytes;
    }
}

// ---- Operating-system services

TEST(PlatformOs, ZonePacksSignHoursAndQuarterHours) {
    struct Case {
        int offset_minutes;
        uint32_t zone;
    };
    const Case cases[] = {
        {5 * 60 + 30, 22}, {-(3 * 60 + 30), 78}, {0, 0}, {-15, 64 | 1}, {14 * 60, 14 << 2}, {5 * 60 + 45, 23},
    };
    for (Case c : cases) EXPECT_EQ(pack_zone(c.offset_minutes), c.zone) << c.offset_minutes << " minutes";
}

TEST(PlatformOs, DateWordLayout) {
    EXPECT_EQ(pack_date(2024, 2, 29, 22), 0x0FD02E96u);
    EXPECT_EQ(pack_date(1999, 12, 31, 78), 0x0F9ECFCEu);
}

TEST(PlatformOs, SleepTakesWholeMillisecondsAndAtLeastOne) {
    struct Case {
        double seconds;
        uint32_t millis;
    };
    const Case cases[] = {
        {0.0005, 1}, {0.0, 1}, {-2.0, 1}, {std::nan(""), 1}, {0.001, 1}, {0.0029, 2}, {2.5, 2500}, {1e12, UINT32_MAX},
    };
    for (Case c : cases) EXPECT_EQ(sleep_millis(c.seconds), c.millis) << c.seconds << " s";
}

TEST(PlatformOs, TimeOfDayLiesWithinTheDayAndIsWholeUnlessPrecise) {
    for (bool precise : {false, true}) {
        double seconds = get_time(precise);
        EXPECT_GE(seconds, 0.0);
        EXPECT_LT(seconds, 86400.0);
        if (!precise) {
            EXPECT_EQ(seconds, std::floor(seconds));
        }
    }
}

// Sets an environment variable for the life of a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = get_env(name)) old_ = old;
        set_env(name, value);
    }
    ~ScopedEnv() { set_env(name_, old_ ? old_->c_str() : nullptr); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(PlatformOs, DateWordHoldsTodayAndTheLocalZone) {
    struct Case {
        const char* tz;  // a POSIX rule: the offset after the name counts hours west of UTC
        uint32_t zone;
    };
    const Case cases[] = {{"UTC0", 0}, {"IST-5:30", 22}, {"NST3:30", 78}};
    for (Case c : cases) {
        ScopedEnv tz("TZ", c.tz);
        for (bool utc : {true, false}) {
            uint32_t date = get_date(utc);
            EXPECT_GE(date >> 17, 2024u);
            EXPECT_GE(date >> 12 & 15, 1u);
            EXPECT_LE(date >> 12 & 15, 12u);
            EXPECT_GE(date >> 7 & 31, 1u);
            EXPECT_EQ(date >> 16 & 1, 0u) << "the time flag";
            EXPECT_EQ(date & 127, utc ? 0 : c.zone) << c.tz;
        }
    }
    tzset();
}

TEST(PlatformOs, EnvironmentVariablesAreSetReplacedAndRemoved) {
    const char* name = "OKA_PLATFORM_TEST";
    for (const char* value : {"first", "grüße, 2nd", ""}) {
        ASSERT_TRUE(set_env(name, value));
        ASSERT_NE(get_env(name), nullptr);
        EXPECT_STREQ(get_env(name), value);
    }
    EXPECT_TRUE(set_env(name, nullptr));
    EXPECT_EQ(get_env(name), nullptr);
}

TEST(PlatformOs, CurrentDirectoryFollowsChanges) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "oka-platform-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::path made = fs::canonical(pattern);
    std::string before = get_current_dir();

    ASSERT_TRUE(set_current_dir(made.c_str()));
    EXPECT_EQ(get_current_dir(), made.string());
    EXPECT_FALSE(set_current_dir((made / "missing").c_str()));
    EXPECT_EQ(get_current_dir(), made.string());

    ASSERT_TRUE(set_current_dir(before.c_str()));
    EXPECT_EQ(get_current_dir(), before);
    fs::remove(made);
}

TEST(PlatformOs, ReadFileTakesTheWholeFileAndFailsPastItsLimitOrWhereNoneCanBeRead) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "oka-platform-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::path file = fs::path(pattern) / "bytes";
    std::string written(200000, '\0');  // more than one read, with NULs and every byte value
    for (size_t i = 0; i < written.size(); ++i) written[i] = char(i * 13 + i / 256);
    FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(written.data(), 1, written.size(), out);
    std::fclose(out);

    std::string read;
    EXPECT_TRUE(read_file(file.c_str(), read, written.size()));
    EXPECT_TRUE(read == written) << read.size() << " of " << written.size() << " bytes read";
    auto reads = [](const char* path, size_t limit) {
        std::string contents;
        return read_file(path, contents, limit);
    };
    EXPECT_FALSE(reads(file.c_str(), written.size() - 1));
    EXPECT_FALSE(reads("/dev/zero", 1000000));   // stops at the limit
    EXPECT_FALSE(reads(pattern.c_str(), 1000));  // a directory
    EXPECT_FALSE(reads((fs::path(pattern) / "missing").c_str(), 1000));
    fs::remove_all(pattern);
}

TEST(PlatformOs, WriteAllDeliversMoreThanAPipeHolds) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::string sent(1 << 20, '\0');
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = char(i * 7 + i / 4096);
    std::string received;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) received.append(chunk, size_t(n));
    });
    write_all(ends[1], sent.data(), sent.size());
    close(ends[1]);
    reader.join();
    close(ends[0]);
    EXPECT_TRUE(received == sent) << received.size() << " of " << sent.size() << " bytes arrived";
}

}  // namespace
}  // namespace oka::platform

namespace oka::platform {
namespace {

// ---- The language memory's ranges

// In a child process, whose language memory it gives up: two ranges adopt pages (the first page of
// each, the rest zero), which then hold their bytes, and release as any range does; a range outside
// the free space, or a run outside the ranges, is refused with nothing left committed.
void adopt_pages_in_child() {
    uint32_t p = page_size();
    uint32_t base = 1u << 30;  // far above what the run-time of the tests committed
    std::vector<uint8_t> pages(2 * p, 1);
    std::fill(pages.begin() + p, pages.end(), 2);
    CommittedRange ranges[] = {{base, p}, {base + 2 * p, 3 * p}};
    PageRun runs[] = {{base, p, pages.data()}, {base + 2 * p, p, pages.data() + p}};
    bool ok = platform::adopt_ranges(ranges, runs) && committed_bytes() == 4 * p && committed_ranges().size() == 2;
    auto* first = reinterpret_cast<uint8_t*>(kSpaceAddress + base);
    auto* second = reinterpret_cast<uint8_t*>(kSpaceAddress + base + 2 * p);
    ok = ok && first[0] == 1 && first[p - 1] == 1 && second[0] == 2 && second[p - 1] == 2 && second[p] == 0 &&
         second[3 * p - 1] == 0;
    first[0] = 9;
    ok = ok && free_virtual(base) && alloc_virtual(p) != 0;
    CommittedRange outside[] = {{uint32_t(0), p}};
    ok = ok && !platform::adopt_ranges(outside, {}) && committed_bytes() == 0 && committed_ranges().empty();
    PageRun astray[] = {{base + 8 * p, p, pages.data()}};
    ok = ok && !platform::adopt_ranges(ranges, astray) && committed_bytes() == 0 && committed_ranges().empty();
    std::_Exit(ok ? 0 : 1);
}

TEST(PlatformVirtualMemoryDeathTest, RangesAdoptPagesAndZeroPages) {
    EXPECT_EXIT(adopt_pages_in_child(), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace oka::platform
