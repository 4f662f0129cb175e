// Throughput of the plug-in's relay, channel to agent and back, through the
// client harness with /bin/cat as the agent: one iteration delivers a block
// of range(0) bytes on the channel and waits until the same number of bytes
// has come back, in buffered mode (a poll per millisecond, as the harness
// polls) and in direct-send mode. Reports bytes per second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "ica-harness.h"

namespace {

void relay_round_trip(benchmark::State& state, bool direct) {
    setenv("INKORA_ICA_PIPE_EXEC", "/bin/cat", 1);
    inkora::harness::ClientOptions options;
    options.offerDirectSend = direct;
    inkora::harness::IcaClient client(options);
    std::string error;
    if (!client.load(INKORA_ICA_PIPE_PLUGIN, &error) || !client.moduleInfo() || client.open() != 0) {
        state.SkipWithError(("cannot open the plug-in: " + error).c_str());
        return;
    }
    const std::vector<uint8_t> block(static_cast<std::size_t>(state.range(0)), 0x5a);
    for (auto _ : state) {
        client.deliver(block.data(), block.size());
        if (!client.waitForReceived(block.size(), std::chrono::seconds(10))) {
            state.SkipWithError("the relay did not answer");
            break;
        }
        benchmark::DoNotOptimize(client.takeReceived());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    client.close();
}

void buffered(benchmark::State& state) {
    relay_round_trip(state, false);
}

void direct(benchmark::State& state) {
    relay_round_trip(state, true);
}

} // namespace

BENCHMARK(buffered)->Arg(64)->Arg(4096)->Arg(65536)->UseRealTime();
BENCHMARK(direct)->Arg(64)->Arg(4096)->Arg(65536)->UseRealTime();

BENCHMARK_MAIN();
