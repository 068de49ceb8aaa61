// Log throughput and heap allocations per written line. Lines go to a real file in a
// temporary folder; the allocation counter sees every malloc of the process, including those
// made inside the C library's formatting.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>

#include "base/log.h"
#include "platform/log_environment.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);

static std::atomic<long> allocationCount{0};

void* malloc(size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}
}

namespace {

using namespace quillon;

void BM_LogWriteTypicalLine(benchmark::State& state) {
    sim::SimSystem system;
    sim::VirtualClock clock;
    if (!InitializeLogging(system, clock)) {
        state.SkipWithError("log could not be opened");
        return;
    }
    const long before = allocationCount.load();
    int64_t lines = 0;
    for (auto _ : state) {
        LogWrite(Info, "Hop %d: %s (%s) rtt %lu ms, loss %.1f%%", 4, "203.0.113.9",
                 "ae-1.core1.example.net", 12ul, 0.5);
        ++lines;
    }
    const long allocations = allocationCount.load() - before;
    ShutdownLogging();
    state.SetItemsProcessed(lines);
    // Rotation (every 10 MiB) allocates; an ordinary line must not.
    state.counters["allocs_per_line"] = static_cast<double>(allocations) / lines;
    state.counters["allocations"] = static_cast<double>(allocations);
}
BENCHMARK(BM_LogWriteTypicalLine)->Iterations(50000);

void BM_LogWriteDebugIsDropped(benchmark::State& state) {
    for (auto _ : state) {
        LogWrite(Debug, "Hop %d: %s", 4, "dropped before formatting");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogWriteDebugIsDropped);

}  // namespace

BENCHMARK_MAIN();
