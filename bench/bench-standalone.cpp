// Figures of the agent program with one open simulated pad, measured through
// its pipes by the remote peer:
//  - input latency: from sending the set-feature request that injects a
//    report to the read response that carries it, p50 and p99 over 10000
//    reports, beside the round trip of the same bytes through a bare pipe
//    echo child (cat) measured in the same run, and their ratio;
//  - bulk-read throughput in reports per second;
//  - the agent's CPU time and resident memory while idle for 30 s.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "remote-peer.h"

using namespace std::chrono_literals;
using inkora::peer::Message;
using inkora::peer::RemotePeer;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int latency_reports = 10000;

inkora::peer::AgentOptions options() {
    inkora::peer::AgentOptions o;
    o.executable = INKORA_AGENT_PATH;
    o.environment = {{"INKORA_SIMULATED_PADS", "1"}};
    o.unset_environment = {"INKORA_DEBUG", "INKORA_TRACE"};
    return o;
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())));
    return values[index];
}

// The wire bytes of the set-feature request that injects one report.
std::vector<uint8_t> inject_bytes() {
    std::vector<uint8_t> bytes{INKORA_MESSAGE_SET_FEATURE_REQUEST, 1, 0, 0, 0, 0, 0, 0, 1, '1'};
    const std::vector<uint8_t> report = inkora::peer::pen_simulation_report(1, 10, 10, true);
    const auto n = static_cast<uint32_t>(report.size());
    bytes.insert(bytes.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                               static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    bytes.insert(bytes.end(), report.begin(), report.end());
    return bytes;
}

// Round trips of bytes through a child that echoes its input (cat).
std::vector<double> pipe_echo_round_trips(const std::vector<uint8_t>& bytes, int count) {
    int to_child[2];
    int from_child[2];
    std::vector<double> trips;
    if (pipe(to_child) != 0 || pipe(from_child) != 0)
        return trips;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        execlp("cat", "cat", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    std::vector<uint8_t> back(bytes.size());
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        if (write(to_child[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            break;
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(from_child[0], back.data() + got, back.size() - got);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    close(to_child[1]);
    close(from_child[0]);
    waitpid(pid, nullptr, 0);
    return trips;
}

void BM_InputLatency(benchmark::State& state) {
    for (auto _ : state) {
        RemotePeer peer(options());
        if (!peer.enumerate() || !peer.open("1").success) {
            state.SkipWithError("agent or pad did not start");
            return;
        }
        std::vector<double> latencies;
        latencies.reserve(latency_reports);
        const std::vector<uint8_t> report = inkora::peer::pen_simulation_report(1, 10, 10, true);
        for (int i = 0; i < latency_reports; ++i) {
            const uint32_t read_seq = peer.send_read("1");
            Message inject = inkora::peer::make_report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "1", report);
            const auto start = Clock::now();
            const uint32_t set_seq = peer.send(*inject);
            Message read = peer.wait_for(INKORA_MESSAGE_READ_RESPONSE, 5s, read_seq);
            const auto end = Clock::now();
            if (!read) {
                state.SkipWithError("a read was not answered");
                return;
            }
            latencies.push_back(std::chrono::duration<double, std::micro>(end - start).count());
            peer.wait_for(INKORA_MESSAGE_SET_FEATURE_RESPONSE, 5s, set_seq);
        }
        const std::vector<double> echo = pipe_echo_round_trips(inject_bytes(), latency_reports);
        const double p50 = percentile(latencies, 0.50);
        const double p99 = percentile(latencies, 0.99);
        const double echo_p50 = echo.empty() ? 0.0 : percentile(echo, 0.50);
        const double echo_p99 = echo.empty() ? 0.0 : percentile(echo, 0.99);
        state.counters["agent_p50_us"] = p50;
        state.counters["agent_p99_us"] = p99;
        state.counters["echo_p50_us"] = echo_p50;
        state.counters["echo_p99_us"] = echo_p99;
        state.counters["ratio_p50"] = echo_p50 > 0 ? p50 / echo_p50 : 0;
        state.counters["ratio_p99"] = echo_p99 > 0 ? p99 / echo_p99 : 0;
        state.counters["reports"] = static_cast<double>(latencies.size());
    }
}
BENCHMARK(BM_InputLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BulkReadThroughput(benchmark::State& state) {
    constexpr int queued = 2000;
    constexpr uint32_t per_request = 100;
    RemotePeer peer(options());
    if (!peer.enumerate() || !peer.open("1").success) {
        state.SkipWithError("agent or pad did not start");
        return;
    }
    const std::vector<uint8_t> report = inkora::peer::pen_simulation_report(1, 10, 10, true);
    double reports_total = 0;
    double seconds_total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < queued; ++i)
            peer.set_feature("1", report);
        std::this_thread::sleep_for(200ms); // let the reading thread queue them all
        state.ResumeTiming();
        const auto start = Clock::now();
        int received = 0;
        while (received < queued) {
            const uint32_t seq = peer.send_read_bulk("1", per_request);
            Message reply = peer.wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 5s, seq);
            if (!reply) {
                state.SkipWithError("a bulk read was not answered");
                return;
            }
            received += static_cast<int>(reply->read_bulk_resp.report_count);
        }
        seconds_total += std::chrono::duration<double>(Clock::now() - start).count();
        reports_total += received;
    }
    state.counters["reports_per_s"] = seconds_total > 0 ? reports_total / seconds_total : 0;
}
BENCHMARK(BM_BulkReadThroughput)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// utime + stime of a process in seconds, and its VmRSS in kB.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close_paren = content.rfind(')');
    if (close_paren == std::string::npos)
        return 0;
    std::istringstream fields(content.substr(close_paren + 2));
    std::string field;
    unsigned long utime = 0;
    unsigned long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double rss_kb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6));
    }
    return 0;
}

void BM_IdleWithOnePadOpen(benchmark::State& state) {
    for (auto _ : state) {
        RemotePeer peer(options());
        if (!peer.enumerate() || !peer.open("1").success) {
            state.SkipWithError("agent or pad did not start");
            return;
        }
        const double cpu_before = cpu_seconds(peer.pid());
        std::this_thread::sleep_for(30s);
        state.counters["idle_cpu_ms"] = (cpu_seconds(peer.pid()) - cpu_before) * 1000.0;
        state.counters["rss_kB"] = rss_kb(peer.pid());
    }
}
BENCHMARK(BM_IdleWithOnePadOpen)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
