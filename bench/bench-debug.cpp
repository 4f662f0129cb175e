// Cost of a log report below the gate, with the log off: through the
// INKORA_DEBUG_REPORT macro (the caller's one comparison) and through a
// direct call of inkora_debug_report_message (a call and the log's own
// checks). Each runs with the log never initialised (gate UINT32_MAX) and
// initialised with no variable set (gate NONE), the state of the agent when
// diagnostics are off. ClobberMemory makes every iteration load the gate
// again, as a report between other work would.

#include "inkora-debug.h"

#include "inkora-debug-scope.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

void report_gated_macro(benchmark::State& state) {
    int value = 1;
    for (auto _ : state) {
        INKORA_LOG_FINEST("value %d", value);
        benchmark::ClobberMemory();
    }
}

void report_direct_call(benchmark::State& state) {
    int value = 1;
    for (auto _ : state) {
        inkora_debug_report_message(__func__, __FILE__, __LINE__, INKORA_DEBUG_LEVEL_FINEST, "value %d", value);
        benchmark::ClobberMemory();
    }
}

__attribute__((noinline)) int scoped_work(int x) {
    INKORA_FUNCTION_SCOPE();
    return x + 1;
}

void function_scope_pair(benchmark::State& state) {
    int x = 0;
    for (auto _ : state) {
        x = scoped_work(x);
        benchmark::DoNotOptimize(x);
        benchmark::ClobberMemory();
    }
}

// The log with no diagnostic variable set: the state of a production agent.
struct log_off {
    log_off() {
        for (const char* name : {"INKORA_DEBUG", "INKORA_TRACE"}) {
            unsetenv(name);
        }
        inkora_debug_init("bench");
    }
    ~log_off() { inkora_debug_destroy(); }
    log_off(const log_off&) = delete;
    log_off& operator=(const log_off&) = delete;
};

void BM_MacroUninitialised(benchmark::State& state) {
    report_gated_macro(state);
}
void BM_DirectCallUninitialised(benchmark::State& state) {
    report_direct_call(state);
}
void BM_MacroLogOff(benchmark::State& state) {
    const log_off off;
    report_gated_macro(state);
}
void BM_DirectCallLogOff(benchmark::State& state) {
    const log_off off;
    report_direct_call(state);
}
void BM_FunctionScopeLogOff(benchmark::State& state) {
    const log_off off;
    function_scope_pair(state);
}

BENCHMARK(BM_MacroUninitialised);
BENCHMARK(BM_DirectCallUninitialised);
BENCHMARK(BM_MacroLogOff);
BENCHMARK(BM_DirectCallLogOff);
BENCHMARK(BM_FunctionScopeLogOff);

} // namespace

BENCHMARK_MAIN();
