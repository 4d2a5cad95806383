// The collector's throughput: one full cycle over a heap that holds 1,000,000 live cells (10,000 blocks
// of 100 cells, a tenth of them strings) and as much garbage, laid out so that every live buffer has
// to slide. Reports the live data the cycle kept per second of its run, the median of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/stats.h"

namespace {

using namespace oka;

constexpr int kBlocks = 10000;
constexpr int kCellsPerBlock = 100;
constexpr int kRuns = 7;

// A block of integers and strings, appended to `holder`; a dead twin of it follows it in memory.
void add_block(const Cell& holder, int seed) {
    Cell* block = block::push_only_s(kCellsPerBlock);
    for (int i = 0; i < kCellsPerBlock; i++) {
        if (i % 10 == 0)
            block::rs_append(*block, *string::load(reinterpret_cast<const uint8_t*>("a string"), 8, unicode::kUtf8));
        else
            block::rs_append(*block, *integer::push(seed + i));
        stack::pop(1);
    }
    block::rs_append(holder, *block);
    stack::pop(1);
    alloc::alloc_cells(kCellsPerBlock);  // garbage the live block's successors slide over
}

double seconds_of_one_cycle() {
    auto start = std::chrono::steady_clock::now();
    collector::do_cycle();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    mem::reserve();
    runtime::init();  // the collector stays off: cycles run only when asked for here
    std::vector<double> rates;
    double live_mb = 0;
    for (int run = 0; run < kRuns; run++) {
        Cell* holder = block::push_only_s(kBlocks);
        for (int i = 0; i < kBlocks; i++) add_block(*holder, i);
        double seconds = seconds_of_one_cycle();
        live_mb = stats::memory_in_use() / 1e6;
        rates.push_back(live_mb / seconds);
        stack::pop(1);
        collector::do_cycle();
    }
    std::sort(rates.begin(), rates.end());
    std::printf("gc: a full cycle over %.1f MB of live data (%d cells) and as much garbage: %.0f MB/s (median of %d)\n",
                live_mb, kBlocks * kCellsPerBlock, rates[kRuns / 2], kRuns);
}
