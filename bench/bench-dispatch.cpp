// Decode throughput of the dispatch for a realistic mix of messages fed in
// 4096-byte chunks (the agent's read size), next to baselines that move the
// same bytes through a plain ring with memcpy and no decoding:
//   - two threads, a feeder and a consumer around a mutex-guarded ring, the
//     shape the dispatch has (the owner feeds, the decoding thread takes);
//   - one thread copying each chunk into the ring and straight out again,
//     the bare cost of the copies.
// After the runs the ratios of decode to baseline throughput are printed.

#include "inkora-nibline-serial.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t chunk_len = 4096;

// ---------------------------------------------------------------------------
// The mix

Bytes g_captured;
inkora_error_code capture(const uint8_t* buffer, uint32_t len) {
    g_captured.insert(g_captured.end(), buffer, buffer + len);
    return INKORA_CODE_SUCCESS;
}

char* text(const char* s) {
    const size_t n = std::strlen(s);
    auto* p = static_cast<char*>(std::calloc(n + 1, 1));
    std::memcpy(p, s, n);
    return p;
}

uint8_t* filled(size_t n, uint8_t value) {
    auto* p = static_cast<uint8_t*>(std::calloc(n + 1, 1));
    std::memset(p, value, n);
    return p;
}

inkora_messages* record(inkora_serial_message_types type, uint32_t seq) {
    auto* m = static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages)));
    m->common.message_id = type;
    m->common.seq_num = seq;
    return m;
}

constexpr const char* pad_path = "/dev/hidraw3";

struct Mix {
    Bytes stream;
    uint64_t messages = 0;
};

// One cycle: 8 pings, 16 read responses with 10-byte reports, 4 read-bulk
// responses of 8 reports of 10 bytes, one set-feature request of 2049 bytes.
Mix build_mix(size_t cycles) {
    auto* d = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    inkora_message_create_dispatch(d);
    d->write_func = capture;
    g_captured.clear();
    Mix mix;
    uint32_t seq = 1;
    auto send = [&](inkora_messages* m) {
        inkora_serial_send_message(d, m);
        inkora_free_message(m);
        ++mix.messages;
    };
    for (size_t c = 0; c < cycles; ++c) {
        for (int i = 0; i < 8; ++i) {
            send(record(INKORA_MESSAGE_PING, seq++));
        }
        for (int i = 0; i < 16; ++i) {
            inkora_messages* m = record(INKORA_MESSAGE_READ_RESPONSE, seq++);
            m->read_response.path_len = static_cast<uint32_t>(std::strlen(pad_path));
            m->read_response.path = text(pad_path);
            m->read_response.success = 1;
            m->read_response.report_id = 0x01;
            m->read_response.report_len = 10;
            m->read_response.report = filled(10, 0x01);
            send(m);
        }
        for (int i = 0; i < 4; ++i) {
            inkora_messages* m = record(INKORA_MESSAGE_READ_BULK_RESPONSE, seq++);
            inkora_message_read_bulk_response& b = m->read_bulk_resp;
            b.path_len = static_cast<uint32_t>(std::strlen(pad_path));
            b.path = text(pad_path);
            b.success = 1;
            b.report_count = 8;
            b.reports = static_cast<inkora_message_read_bulk_report*>(
                std::calloc(8, sizeof(inkora_message_read_bulk_report)));
            for (int r = 0; r < 8; ++r) {
                b.reports[r].report_id = 0x01;
                b.reports[r].report_len = 10;
                b.reports[r].report = filled(10, static_cast<uint8_t>(r));
            }
            send(m);
        }
        inkora_messages* m = record(INKORA_MESSAGE_SET_FEATURE_REQUEST, seq++);
        m->set_feature_request.path_len = static_cast<uint32_t>(std::strlen(pad_path));
        m->set_feature_request.path = text(pad_path);
        m->set_feature_request.report_len = 2049;
        m->set_feature_request.report = filled(2049, 0x22);
        send(m);
    }
    inkora_message_destroy_dispatch(d);
    mix.stream.swap(g_captured);
    return mix;
}

const Mix& mix() {
    static const Mix m = build_mix(64);
    return m;
}

// Bytes per second of each run, for the ratios printed at the end.
std::map<std::string, double> g_rates;

void record_rate(benchmark::State& state, const char* name, std::chrono::steady_clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const double bytes = static_cast<double>(mix().stream.size()) * static_cast<double>(state.iterations());
    const double messages = static_cast<double>(mix().messages) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["msgs/s"] = benchmark::Counter(messages, benchmark::Counter::kIsRate);
    if (seconds > 0) {
        g_rates[name] = bytes / seconds;
    }
}

// A feeder that finds the ring full pauses briefly, as a writer blocked on a
// full pipe would, instead of hammering the ring's lock while the consumer
// works. Both the dispatch run and the two-thread baseline use it.
void backoff() {
    std::this_thread::sleep_for(std::chrono::microseconds(20));
}

// ---------------------------------------------------------------------------
// Decoding through the dispatch

std::atomic<uint64_t> g_delivered{0};
void count_and_free(inkora_messages* m) {
    inkora_free_message(m);
    g_delivered.fetch_add(1, std::memory_order_release);
}

void BM_DispatchDecode(benchmark::State& state) {
    const Mix& m = mix();
    auto* d = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    inkora_message_create_dispatch(d);
    d->unhandled_func = count_and_free;
    inkora_message_create_dispatch_read_thread(d);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const uint64_t target = g_delivered.load() + m.messages;
        for (size_t offset = 0; offset < m.stream.size();) {
            const auto len = static_cast<uint32_t>(std::min(chunk_len, m.stream.size() - offset));
            if (inkora_message_write_to_dispatch(d, m.stream.data() + offset, len) == INKORA_CODE_SUCCESS) {
                offset += len;
            } else {
                backoff(); // ring full: the decoder catches up
            }
        }
        while (g_delivered.load(std::memory_order_acquire) < target) {
            std::this_thread::yield();
        }
    }
    record_rate(state, "decode", std::chrono::steady_clock::now() - start);
    inkora_message_destroy_dispatch(d);
}

// ---------------------------------------------------------------------------
// Baselines: the same bytes through a plain ring, no decoding

struct PlainRing {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(INKORA_SERIAL_INPUT_BUFFER_LEN);
    size_t read_pos = 0;
    size_t write_pos = 0;
    size_t held = 0;
    std::mutex mutex;
    std::condition_variable cv;

    void put(const uint8_t* bytes, size_t n) {
        const size_t first = std::min(n, buffer.size() - write_pos);
        std::memcpy(buffer.data() + write_pos, bytes, first);
        std::memcpy(buffer.data(), bytes + first, n - first);
        write_pos = (write_pos + n) % buffer.size();
        held += n;
    }
    void take(uint8_t* out, size_t n) {
        const size_t first = std::min(n, buffer.size() - read_pos);
        std::memcpy(out, buffer.data() + read_pos, first);
        std::memcpy(out + first, buffer.data(), n - first);
        read_pos = (read_pos + n) % buffer.size();
        held -= n;
    }
};

void BM_PlainRingTwoThreads(benchmark::State& state) {
    const Mix& m = mix();
    PlainRing ring;
    std::atomic<uint64_t> consumed{0};
    std::atomic<bool> stop{false};
    std::thread consumer([&] {
        std::vector<uint8_t> scratch(INKORA_SERIAL_SCRATCH_LEN);
        for (;;) {
            std::unique_lock lock(ring.mutex);
            ring.cv.wait(lock, [&] { return ring.held > 0 || stop.load(); });
            if (ring.held == 0) {
                return;
            }
            const size_t n = std::min(ring.held, scratch.size());
            ring.take(scratch.data(), n);
            lock.unlock();
            benchmark::DoNotOptimize(scratch.data());
            consumed.fetch_add(n, std::memory_order_release);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const uint64_t target = consumed.load() + m.stream.size();
        for (size_t offset = 0; offset < m.stream.size();) {
            const size_t len = std::min(chunk_len, m.stream.size() - offset);
            bool stored = false;
            {
                std::lock_guard lock(ring.mutex);
                if (ring.buffer.size() - ring.held >= len) {
                    ring.put(m.stream.data() + offset, len);
                    offset += len;
                    stored = true;
                }
            }
            if (stored) {
                ring.cv.notify_one();
            } else {
                backoff();
            }
        }
        while (consumed.load(std::memory_order_acquire) < target) {
            std::this_thread::yield();
        }
    }
    record_rate(state, "ring2", std::chrono::steady_clock::now() - start);
    {
        std::lock_guard lock(ring.mutex);
        stop = true;
    }
    ring.cv.notify_one();
    consumer.join();
}

void BM_PlainRingOneThread(benchmark::State& state) {
    const Mix& m = mix();
    PlainRing ring;
    std::vector<uint8_t> scratch(chunk_len);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (size_t offset = 0; offset < m.stream.size(); offset += chunk_len) {
            const size_t len = std::min(chunk_len, m.stream.size() - offset);
            ring.put(m.stream.data() + offset, len);
            ring.take(scratch.data(), len);
            benchmark::DoNotOptimize(scratch.data());
        }
    }
    record_rate(state, "ring1", std::chrono::steady_clock::now() - start);
}

BENCHMARK(BM_DispatchDecode)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PlainRingTwoThreads)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_PlainRingOneThread)->UseRealTime()->MinTime(1.0);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::printf("mix: %llu messages, %zu bytes per pass, fed in %zu-byte chunks\n",
                static_cast<unsigned long long>(mix().messages), mix().stream.size(), chunk_len);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto rate = [](const char* name) {
        const auto it = g_rates.find(name);
        return it != g_rates.end() ? it->second : 0.0;
    };
    const double decode = rate("decode");
    const double per_message = static_cast<double>(mix().stream.size()) / static_cast<double>(mix().messages);
    if (decode > 0) {
        std::printf("decode: %.0f messages/s, %.1f MB/s\n", decode / per_message, decode / 1e6);
    }
    for (const auto& [name, label] : {std::pair{"ring2", "two-thread plain ring"}, std::pair{"ring1", "one-thread plain ring"}}) {
        const double base = rate(name);
        if (base > 0 && decode > 0) {
            std::printf("baseline %s: %.1f MB/s; decode/baseline = %.1f%%\n", label, base / 1e6, 100.0 * decode / base);
        }
    }
    return 0;
}
