// The traffic trace: a classic pcap capture (version 2.4, microsecond time
// stamps, Ethernet link layer) in which every chunk of channel traffic is one
// synthetic Ethernet/IPv4/UDP frame between two pseudo-hosts, so that any
// network analyser can show it.
//
// Records come from several threads (the main loop for incoming chunks, every
// sending thread through the write wrapper). One mutex covers the whole of a
// record, header, payload and flush, so records never interleave.

#include "inkora-debug.h"
#include "inkora-nibline-serial.h"

#include "inkora-debug-private.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <span>

namespace {

using inkora::debug_detail::state;

constexpr size_t kGlobalHeaderLen = 24;
constexpr size_t kRecordHeaderLen = 16;
constexpr size_t kFrameHeaderLen = 42; // Ethernet 14 + IPv4 20 + UDP 8
// The IPv4 total length (payload + 28) must fit its 16 bits.
constexpr uint32_t kMaxPayload = 65535u - 28u;
constexpr uint16_t kPort = 1000;
constexpr uint8_t kRemoteEndpoint = 1;
constexpr uint8_t kAgentEndpoint = 2;

constexpr void put_le32(std::span<uint8_t> out, size_t at, uint32_t value) noexcept {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
    out[at + 2] = static_cast<uint8_t>(value >> 16);
    out[at + 3] = static_cast<uint8_t>(value >> 24);
}

constexpr void put_le16(std::span<uint8_t> out, size_t at, uint16_t value) noexcept {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

constexpr void put_be16(std::span<uint8_t> out, size_t at, uint16_t value) noexcept {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

constexpr std::array<uint8_t, kGlobalHeaderLen> make_global_header() {
    std::array<uint8_t, kGlobalHeaderLen> h{};
    put_le32(h, 0, 0xa1b2c3d4u); // magic_number: microseconds, little-endian
    put_le16(h, 4, 2);           // version_major
    put_le16(h, 6, 4);           // version_minor
    put_le32(h, 8, 0);           // thiszone
    put_le32(h, 12, 0);          // sigfigs
    put_le32(h, 16, 0xffffu);    // snaplen
    put_le32(h, 20, 1);          // network: Ethernet
    return h;
}

// Record header (16 bytes) and synthetic frame headers (42 bytes) of one chunk.
std::array<uint8_t, kRecordHeaderLen + kFrameHeaderLen> make_record_header(uint32_t captured, uint32_t original,
                                                                          uint32_t direction) noexcept {
    std::array<uint8_t, kRecordHeaderLen + kFrameHeaderLen> h{};
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    put_le32(h, 0, static_cast<uint32_t>(now.tv_sec));         // ts_sec, low 32 bits
    put_le32(h, 4, static_cast<uint32_t>(now.tv_nsec / 1000)); // ts_usec
    put_le32(h, 8, static_cast<uint32_t>(kFrameHeaderLen) + captured); // incl_len
    put_le32(h, 12, original);                                         // orig_len

    const uint8_t source = direction == INKORA_TRACE_DIRECTION_INCOMING ? kRemoteEndpoint : kAgentEndpoint;
    const uint8_t destination = source == kRemoteEndpoint ? kAgentEndpoint : kRemoteEndpoint;
    const std::span<uint8_t> f = std::span<uint8_t>(h).subspan(kRecordHeaderLen);
    f[0] = destination; // Ethernet destination: endpoint, 5 zero bytes
    f[6] = source;      // Ethernet source
    f[12] = 0x08;       // EtherType IPv4 (08 00)
    f[13] = 0x00;
    f[14] = 0x45;                                            // version 4, header 5 words
    f[15] = 0x00;                                            // DSCP, ECN
    put_be16(f, 16, static_cast<uint16_t>(captured + 28));   // IPv4 total length
    put_be16(f, 18, 0);                                      // identification
    f[20] = 0x40;                                            // don't fragment
    f[21] = 0x00;                                            // fragment offset
    f[22] = 0x80;                                            // time to live 128
    f[23] = 0x11;                                            // protocol UDP
    put_be16(f, 24, 0);                                      // header checksum, not computed
    f[26] = source;                                          // IPv4 source: endpoint.0.0.0
    f[30] = destination;                                     // IPv4 destination
    put_be16(f, 34, kPort);                                  // UDP source port
    put_be16(f, 36, kPort);                                  // UDP destination port
    put_be16(f, 38, static_cast<uint16_t>(captured + 8));    // UDP length
    put_be16(f, 40, 0);                                      // UDP checksum, not computed
    return h;
}

} // namespace

namespace inkora::debug_detail {

void close_trace() noexcept {
    auto& s = state();
    const std::lock_guard lock(s.traceMutex);
    if (s.traceHandle != nullptr) {
        std::fclose(s.traceHandle);
        s.traceHandle = nullptr;
    }
}

} // namespace inkora::debug_detail

extern "C" {

void inkora_debug_write_trace_header(void) {
    auto& s = state();
    if (s.traceEnabled.load(std::memory_order_relaxed) == 0 || s.initDone.load(std::memory_order_acquire) == 0) {
        return;
    }
    const std::lock_guard lock(s.traceMutex);
    // The header belongs at the start of the file only: once a file is open
    // it already holds one, and a second header would corrupt the capture.
    if (s.traceHandle != nullptr) {
        return;
    }
    const std::unique_ptr<char, decltype(&std::free)> path(inkora::debug_detail::full_path(s.debugPath, s.traceFile),
                                                           &std::free);
    if (!path) {
        return;
    }
    s.traceHandle = std::fopen(path.get(), "wb");
    if (s.traceHandle == nullptr) {
        return;
    }
    static constexpr auto kHeader = make_global_header();
    std::fwrite(kHeader.data(), 1, kHeader.size(), s.traceHandle);
    std::fflush(s.traceHandle);
}

void inkora_debug_write_trace(const uint8_t* buffer, uint32_t len, uint32_t direction) {
    auto& s = state();
    if (s.traceEnabled.load(std::memory_order_relaxed) == 0) {
        return;
    }
    if (buffer == nullptr) {
        len = 0;
    }
    const uint32_t captured = std::min(len, kMaxPayload);
    const uint32_t original = len <= UINT32_MAX - kFrameHeaderLen ? len + static_cast<uint32_t>(kFrameHeaderLen)
                                                                   : UINT32_MAX;
    const std::lock_guard lock(s.traceMutex);
    if (s.traceHandle == nullptr) {
        return;
    }
    // The clock is read under the lock, so time stamps rise in file order.
    const auto header = make_record_header(captured, original, direction);
    std::fwrite(header.data(), 1, header.size(), s.traceHandle);
    if (captured > 0) {
        std::fwrite(buffer, 1, captured, s.traceHandle);
    }
    std::fflush(s.traceHandle);
}

void inkora_debug_trace_wrap_dispatch(struct inkora_serial_dispatch* dispatch) {
    auto& s = state();
    if (dispatch == nullptr || s.traceEnabled.load(std::memory_order_relaxed) == 0) {
        return;
    }
    s.traceReadFunc.store(dispatch->read_func);
    s.traceWriteFunc.store(dispatch->write_func);
    if (dispatch->read_func != nullptr) {
        dispatch->read_func = inkora_debug_trace_reader_wrapper;
    }
    if (dispatch->write_func != nullptr) {
        dispatch->write_func = inkora_debug_trace_write_wrapper;
    }
}

inkora_error_code inkora_debug_trace_write_wrapper(const uint8_t* buffer, uint32_t len) {
    const auto write = state().traceWriteFunc.load();
    if (write == nullptr) {
        return INKORA_CODE_ERROR;
    }
    // Recorded before the bytes go out, whatever the write's result.
    inkora_debug_write_trace(buffer, len, INKORA_TRACE_DIRECTION_OUTGOING);
    return write(buffer, len);
}

inkora_error_code inkora_debug_trace_reader_wrapper(uint8_t* buffer, uint32_t len, uint32_t* readLen) {
    const auto read = state().traceReadFunc.load();
    if (read == nullptr) {
        return INKORA_CODE_ERROR;
    }
    if (readLen == nullptr) {
        return read(buffer, len, readLen);
    }
    // A failed read may leave the count untouched: start from zero, and never
    // record more than the buffer holds.
    *readLen = 0;
    const inkora_error_code result = read(buffer, len, readLen);
    inkora_debug_write_trace(buffer, std::min(*readLen, len), INKORA_TRACE_DIRECTION_INCOMING);
    return result;
}

} // extern "C"
