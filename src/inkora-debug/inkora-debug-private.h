// Process-wide state shared by the log, the trace and the fingerprint, and
// the hooks that tests use to point the fingerprint at files of their own.
// Private to src/inkora-debug and its tests.
#ifndef INKORA_DEBUG_PRIVATE_H
#define INKORA_DEBUG_PRIVATE_H

#include "inkora-debug.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace inkora::debug_detail {

using trace_write_func = inkora_error_code (*)(const uint8_t* buffer, uint32_t len);
using trace_read_func = inkora_error_code (*)(uint8_t* buffer, uint32_t len, uint32_t* readLen);

// Threads: init and destroy run while no other thread reports (see the
// header), so the configuration texts and the handler list are written only
// then and read freely by reports. The flags and levels that reports test on
// every call are atomics; the trace file is guarded by traceMutex.
struct log_state {
    std::atomic<uint8_t> initDone{0};
    uint8_t debugEnabled = 0;
    std::atomic<uint8_t> traceEnabled{0};
    inkora_debug_level debugLevel = INKORA_DEBUG_LEVEL_NONE;
    std::atomic<uint32_t> maxLevel{INKORA_DEBUG_LEVEL_NONE};
    char* debugPath = nullptr; // malloc, owned
    char* debugFile = nullptr; // malloc, owned
    char* traceFile = nullptr; // malloc, owned
    const char* label = nullptr;
    inkora_list* handlers = nullptr;

    std::mutex traceMutex;
    std::FILE* traceHandle = nullptr; // guarded by traceMutex
    std::atomic<trace_write_func> traceWriteFunc{nullptr};
    std::atomic<trace_read_func> traceReadFunc{nullptr};
};

log_state& state() noexcept;

inline constexpr char pathChar = '/';

// location + "/" + name as a new malloc text, or nullptr.
char* full_path(const char* location, const char* name) noexcept;

// Closes the trace file if open (destroy).
void close_trace() noexcept;

// Test hooks for the fingerprint. The root is put in front of every
// distribution file path ("/etc/os-release" becomes root + "/etc/os-release");
// empty = the real files. The exe link replaces "/proc/self/exe". Set them
// while no other thread uses the fingerprint.
void set_distribution_root(const char* root) noexcept;
void set_exe_link_path(const char* path) noexcept;

} // namespace inkora::debug_detail

#endif // INKORA_DEBUG_PRIVATE_H
