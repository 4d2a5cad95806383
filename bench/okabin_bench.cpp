// Serialised values: encoding and decoding a nested structure of about 20 MB in memory (12,500 blocks
// of 100 values: integers, floats, strings and words) in the compact form, against python3's pickle
// (highest protocol) and marshal on the same structure (lists of ints, floats, strings and short
// interned strings for the words). Prints each time, the median of several runs, and Oka's ratio to
// each peer: above 1 Oka is slower.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/stats.h"
#include "services/okabin.h"

namespace {

using namespace oka;

constexpr int kBlocks = 12500;
constexpr int kValuesPerBlock = 100;
constexpr int kRuns = 5;
constexpr const char* kText = "a string of some length";
constexpr const char* kWords[] = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"};

// The same structure in python3, timed there the same way.
constexpr const char* kPeer = R"(
import marshal, pickle, statistics, time
words = ['alpha', 'beta', 'gamma', 'delta', 'epsilon', 'zeta', 'eta', 'theta']
def block(b):
    out = []
    for i in range(100):
        k = i % 4
        out.append(b * 100 + i if k == 0 else (b + i) / 4.0 if k == 1 else 'a string of some length' if k == 2 else words[i % 8])
    return out
data = [block(b) for b in range(12500)]
def median(f):
    times = []
    for _ in range(5):
        start = time.perf_counter(); f(); times.append(time.perf_counter() - start)
    return statistics.median(times)
p = pickle.dumps(data, pickle.HIGHEST_PROTOCOL)
m = marshal.dumps(data)
print(median(lambda: pickle.dumps(data, pickle.HIGHEST_PROTOCOL)), median(lambda: pickle.loads(p)),
      median(lambda: marshal.dumps(data)), median(lambda: marshal.loads(m)))
)";

void append_value(const Cell& block, int b, int i) {
    Cell* saved = stack::top;
    switch (i % 4) {
    case 0: block::rs_append(block, *integer::push(b * 100 + i)); break;
    case 1: {
        Cell f{uint8_t(Type::Float), 0, 0, 0};
        f.set_f64((b + i) / 4.0);
        block::rs_append(block, f);
        break;
    }
    case 2:
        block::rs_append(block, *string::load(reinterpret_cast<const uint8_t*>(kText), uint32_t(std::strlen(kText)),
                                              unicode::kUtf8));
        break;
    default: block::rs_append(block, word::load(kWords[i % 8]));
    }
    stack::top = saved;
}

Cell* build() {
    Cell* data = block::push_only_s(kBlocks);
    for (int b = 0; b < kBlocks; b++) {
        Cell* inner = block::push_only_s(kValuesPerBlock);
        for (int i = 0; i < kValuesPerBlock; i++) append_value(*inner, b, i);
        block::rs_append(*data, *inner);
        stack::pop(1);
    }
    return data;
}

template <class F>
double median_seconds(F&& run) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; i++) {
        Cell* saved = stack::top;
        auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        stack::top = saved;
        collector::do_cycle();
    }
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

// pickle.dumps, pickle.loads, marshal.dumps, marshal.loads; zeros when python3 is not there.
std::vector<double> peer_seconds() {
    std::vector<double> seconds(4, 0.0);
    char script[] = "/tmp/okabin-bench-XXXXXX.py";
    int fd = mkstemps(script, 3);
    if (fd < 0) return seconds;
    bool written = write(fd, kPeer, std::strlen(kPeer)) == ssize_t(std::strlen(kPeer));
    close(fd);
    FILE* pipe = written ? popen(("/usr/bin/python3 " + std::string(script) + " 2>/dev/null").c_str(), "r") : nullptr;
    if (pipe) {
        if (std::fscanf(pipe, "%lf %lf %lf %lf", &seconds[0], &seconds[1], &seconds[2], &seconds[3]) != 4)
            seconds.assign(4, 0.0);
        pclose(pipe);
    }
    unlink(script);
    return seconds;
}

void report(const char* what, double oka, double pickle, double marshal) {
    std::printf("okabin %-7s %8.1f ms", what, oka * 1e3);
    if (pickle > 0)
        std::printf("   pickle %8.1f ms (ratio %.2f)   marshal %8.1f ms (ratio %.2f)", pickle * 1e3, oka / pickle,
                    marshal * 1e3, oka / marshal);
    std::printf("\n");
}

}  // namespace

int main() {
    mem::reserve();
    runtime::init();
    boot::finish_start_up();
    collector::on = true;
    Cell* data = build();
    Cell encoded = *okabin::encode_compact(*data);
    std::vector<uint8_t> bytes(series::rs_length_q(encoded));
    std::memcpy(bytes.data(), string::text_of(encoded).data.get(), bytes.size());
    stack::pop(1);
    std::printf("okabin: %d blocks of %d values, %.1f MB in memory, %.1f MB encoded\n", kBlocks, kValuesPerBlock,
                stats::memory_in_use() / 1e6, bytes.size() / 1e6);
    double encode = median_seconds([&] { okabin::encode_compact(*data); });
    double decode = median_seconds([&] {
        Cell* target = block::push_only_s(1);
        okabin::decode(bytes.data(), bytes.size(), *target, okabin::Mode::codec);
    });
    std::vector<double> peer = peer_seconds();
    report("encode", encode, peer[0], peer[2]);
    report("decode", decode, peer[1], peer[3]);
    return 0;
}
