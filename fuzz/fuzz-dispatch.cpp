// Pushes arbitrary bytes through a running dispatch, in chunks, with a
// handler that renders every decoded message (into a roomy buffer and into a
// small one that forces cutting), encodes it again and releases it. The
// dispatch is destroyed whatever state the decoder is in, half-received
// message included.
//
// Input: byte 0 chooses the chunk size (1 to 256 bytes); the rest is the
// stream.

#include "inkora-nibline-serial.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

namespace {

std::atomic<inkora_serial_dispatch*> g_dispatch{nullptr};

inkora_error_code discard_write(const uint8_t* buffer, uint32_t len) {
    // Touch every byte so that the sanitizers see reads past the encoding.
    volatile uint8_t sum = 0;
    for (uint32_t i = 0; i < len; ++i) {
        sum = static_cast<uint8_t>(sum + buffer[i]);
    }
    return INKORA_CODE_SUCCESS;
}

void handle(inkora_messages* message) {
    std::array<char, 8192> text{};
    inkora_print_message(message, text.data(), static_cast<uint32_t>(text.size()));
    std::array<char, 48> small{};
    inkora_print_message(message, small.data(), static_cast<uint32_t>(small.size()));
    inkora_serial_send_message(g_dispatch.load(), message);
    inkora_free_message(message);
}

// True once the decoder has taken every byte, or has looked at the ring
// since the last chunk and is waiting for bytes that will not come: a pull
// that comes up short resets input_buffer_event under the ring's mutex,
// and a chunk triggers it under the same mutex.
bool decoder_idle(inkora_serial_dispatch* dispatch) {
    inkora_mutex_lock(&dispatch->input_buffer_mutex);
    pthread_mutex_lock(&dispatch->input_buffer_event.mutex);
    const bool idle = dispatch->input_buffer_data_len == 0 || dispatch->input_buffer_event.triggered == 0;
    pthread_mutex_unlock(&dispatch->input_buffer_event.mutex);
    inkora_mutex_unlock(&dispatch->input_buffer_mutex);
    return idle;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t chunk = static_cast<size_t>(data[0]) + 1;
    ++data;
    --size;

    auto* dispatch = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    if (dispatch == nullptr) {
        return 0;
    }
    inkora_message_create_dispatch(dispatch);
    dispatch->unhandled_func = handle;
    g_dispatch = dispatch;
    inkora_message_create_dispatch_read_thread(dispatch);
    __atomic_store_n(&dispatch->write_func, &discard_write, __ATOMIC_RELEASE);

    // Feed as a pipe would: a chunk that does not fit yet waits for the
    // decoder to make room.
    for (size_t offset = 0; offset < size;) {
        const auto len = static_cast<uint32_t>(std::min(chunk, size - offset));
        if (inkora_message_write_to_dispatch(dispatch, data + offset, len) == INKORA_CODE_SUCCESS) {
            offset += len;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    // Let the decoder take what it can, then stop it wherever it is.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!decoder_idle(dispatch) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    inkora_message_destroy_dispatch(dispatch);
    g_dispatch = nullptr;
    return 0;
}
