// penlark-remote-standalone: the agent program. Its standard input and
// standard output carry the wire protocol to and from the application in the
// remote session; everything else goes to the debug log.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "inkora-debug-scope.hpp"
#include "inkora-debug.h"
#include "inkora-nibline-serial.h"
#include "inkora-nibline.h"
#include "inkora-remote-common.h"

namespace {

constexpr uint32_t chunk_size = 4096;
constexpr useconds_t ring_full_pause_us = 1000;

// Serialises the writers (decoding, pump, ping and hot-plug threads): a
// message that the pipe takes in parts must not have another writer's bytes
// between its parts.
std::mutex write_mutex;

// Standard output is the wire: the stdio stream of that name is pointed at
// /dev/null, so that no printing anywhere in the process (a library printer,
// a stray printf) can put bytes between two messages. The wire itself is
// written with write(2) on descriptor 1, which this does not touch.
void divert_stdio_stdout() noexcept {
    std::fflush(stdout);
    if (FILE* sink = std::fopen("/dev/null", "w"))
        stdout = sink;
}

// The agent does no tear-down: its threads end with the process. The process
// ends without running static destructors, which would free state that the
// reading, hot-plug and pump threads may still be using; the log file is
// flushed first.
[[noreturn]] void end_process() noexcept {
    std::fflush(nullptr);
    _exit(0);
}

} // namespace

extern "C" inkora_error_code inkora_vc_write(const uint8_t* buffer, uint32_t len) {
    const std::lock_guard lock(write_mutex);
    uint32_t written = 0;
    while (written < len) {
        const ssize_t count = write(STDOUT_FILENO, buffer + written, len - written);
        if (count < 0) {
            if (errno == EINTR)
                continue; // interrupted before anything went out: not a failure of the pipe
            return INKORA_CODE_ERROR;
        }
        written += static_cast<uint32_t>(count);
    }
    return INKORA_CODE_SUCCESS;
}

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    divert_stdio_stdout();
    inkora_debug_init("remote");
    inkora_init();
    remote_init();
    INKORA_FUNCTION_SCOPE();
    inkora_debug_write_trace_header();
    inkora_serial_dispatch* const dispatch = get_dispatch();
    if (dispatch == nullptr) {
        INKORA_LOG_WARNING("No dispatch could be created, aborting execution.");
        end_process();
    }
    const inkora_serial_write_func writer = inkora_vc_write;
    __atomic_store_n(&dispatch->write_func, writer, __ATOMIC_RELEASE);
    inkora_debug_trace_wrap_dispatch(dispatch);

    std::array<uint8_t, chunk_size> buffer{};
    for (;;) {
        // A constant size, so that the read is never a checked variant.
        const ssize_t count = read(STDIN_FILENO, buffer.data(), chunk_size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            INKORA_LOG_WARNING("Reading from parent process failed, aborting execution.");
            break;
        }
        const auto length = static_cast<uint32_t>(count);
        INKORA_LOG_INFO("Got %i bytes from remote channel.", static_cast<int>(count));
        inkora_debug_write_trace(buffer.data(), length, INKORA_TRACE_DIRECTION_INCOMING);
        // A slow handler (an open waits for the pad to start) can leave the
        // ring too full for this chunk: wait for the decoding thread to make
        // room rather than drop the chunk (which would put the stream out of
        // step) or end the agent. A chunk never exceeds the ring.
        bool warned = false;
        while (inkora_message_write_to_dispatch(dispatch, buffer.data(), length) != INKORA_CODE_SUCCESS) {
            if (dispatch->input_buffer_len < length) {
                INKORA_LOG_WARNING("Writing to dispatch failed, aborting execution.");
                end_process();
            }
            if (!warned) {
                INKORA_LOG_WARNING("Dispatch input buffer full, waiting for room for %u bytes.", length);
                warned = true;
            }
            usleep(ring_full_pause_us);
        }
    }
    end_process();
}
