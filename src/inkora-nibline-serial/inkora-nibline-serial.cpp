// The dispatch: a ring of received bytes, the decoding thread that cuts it
// into messages, waiters matched to their replies by sequence number, the
// watchdog that ends waits that allowed a time-out, the optional input thread
// and the encoder that hands every message to write_func in one call.
//
// Locks: input_buffer_mutex guards the ring and its counters; dispatch_mutex
// guards the waiter list and every waiter record in it; seq_mutex guards the
// counter. None of them is held while write_func or unhandled_func runs, and
// no other dispatch mutex is taken under dispatch_mutex.
//
// The thread flags (read_thread_running, read_thread_closing,
// input_thread_running, watchdog_thread_running) and the installed functions
// are read and written with atomic accesses, since the owner and the threads
// touch them without a common lock.

#include "inkora-nibline-serial-private.h"

#include "inkora-mutex-lock.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

using inkora::serial::load_flag;
using inkora::serial::store_flag;

namespace {

constexpr uint32_t watchdog_pause_ms = 1000;

using inkora::MutexLock;

bool is_message_type(uint32_t type) noexcept {
    return type >= INKORA_MESSAGE_DEVICEENUM_REQUEST && type <= INKORA_MESSAGE_VERSION_INFO;
}

constexpr std::array<inkora_serial_body_reader, 22> body_readers = {
    nullptr,
    inkora_serial_process_deviceenum_request,
    inkora_serial_process_deviceenum_response,
    inkora_serial_process_open_request,
    inkora_serial_process_open_response,
    inkora_serial_process_close_request,
    inkora_serial_process_close_response,
    inkora_serial_process_read_request,
    inkora_serial_process_read_response,
    inkora_serial_process_set_output_request,
    inkora_serial_process_set_output_response,
    inkora_serial_process_set_feature_request,
    inkora_serial_process_set_feature_response,
    inkora_serial_process_get_feature_request,
    inkora_serial_process_get_feature_response,
    inkora_serial_process_device_attach,
    inkora_serial_process_device_detach,
    inkora_serial_process_ping,
    inkora_serial_process_pong,
    inkora_serial_process_read_bulk_request,
    inkora_serial_process_read_bulk_response,
    inkora_serial_process_version_info,
};

// Frees a waiter record that no thread uses any more.
void free_waiter(inkora_serial_event* waiter) noexcept {
    inkora_event_destroy(&waiter->signal_event);
    inkora_event_destroy(&waiter->pickedup_event);
    std::free(waiter->path);
    std::free(waiter);
}

// Copies count bytes into the ring at the write position, in at most two
// spans (the second one when the copy passes the end of the ring). The
// caller holds input_buffer_mutex and has checked the free space.
void ring_put(inkora_serial_dispatch* d, const uint8_t* bytes, uint32_t count) noexcept {
    const uint32_t first = std::min(count, d->input_buffer_len - d->input_buffer_write_pos);
    std::memcpy(d->input_buffer + d->input_buffer_write_pos, bytes, first);
    std::memcpy(d->input_buffer, bytes + first, count - first);
    d->input_buffer_write_pos += count;
    if (d->input_buffer_write_pos >= d->input_buffer_len) {
        d->input_buffer_write_pos -= d->input_buffer_len;
    }
    d->input_buffer_data_len += count;
}

// Takes count bytes from the read position; the caller holds the mutex and
// has checked that they are there.
void ring_take(inkora_serial_dispatch* d, uint8_t* out, uint32_t count) noexcept {
    const uint32_t first = std::min(count, d->input_buffer_len - d->input_buffer_read_pos);
    std::memcpy(out, d->input_buffer + d->input_buffer_read_pos, first);
    std::memcpy(out + first, d->input_buffer, count - first);
    d->input_buffer_read_pos += count;
    if (d->input_buffer_read_pos >= d->input_buffer_len) {
        d->input_buffer_read_pos -= d->input_buffer_len;
    }
    d->input_buffer_data_len -= count;
}

// Hands a decoded message to the waiter whose sequence number it carries.
// Returns false when no waiter is listed for it. A reply for a waiter that
// was already interrupted is released here: its caller has gone with
// INKORA_CODE_ERROR and nobody else expects it.
bool deliver_to_waiter(inkora_serial_dispatch* d, inkora_messages* message) noexcept {
    MutexLock lock(&d->dispatch_mutex);
    if (d->dispatch_events == nullptr) {
        return false;
    }
    for (inkora_list_item* item = d->dispatch_events->first; item != nullptr; item = item->next) {
        auto* waiter = static_cast<inkora_serial_event*>(item->ptr);
        if (waiter->seq_num != message->common.seq_num) {
            continue;
        }
        if (waiter->interrupted != 0 || waiter->message != nullptr) {
            lock.unlock();
            INKORA_LOG_WARNING("Reply (seq: %u) arrived for a waiter that has gone; released.",
                               message->common.seq_num);
            inkora_free_message(message);
            return true;
        }
        waiter->message = message;
        inkora_event_trigger(&waiter->signal_event);
        return true;
    }
    return false;
}

} // namespace

extern "C" {

void inkora_message_create_dispatch(inkora_serial_dispatch* dispatch) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr) {
        return;
    }
    inkora_mutex_init(&dispatch->seq_mutex);
    inkora_mutex_init(&dispatch->dispatch_mutex);
    dispatch->dispatch_events = inkora_create_list();
    dispatch->input_buffer = static_cast<uint8_t*>(std::calloc(INKORA_SERIAL_INPUT_BUFFER_LEN, 1));
    // Without memory for the ring the dispatch takes no bytes: every chunk
    // is refused as larger than the free space.
    dispatch->input_buffer_len = dispatch->input_buffer != nullptr ? INKORA_SERIAL_INPUT_BUFFER_LEN : 0;
    dispatch->input_buffer_write_pos = 0;
    dispatch->input_buffer_read_pos = 0;
    dispatch->input_buffer_data_len = 0;
    inkora_mutex_init(&dispatch->input_buffer_mutex);
    inkora_event_init(&dispatch->input_buffer_event);
    inkora_event_init(&dispatch->watchdog_event);
    dispatch->seq_num = INKORA_SERIAL_FIRST_SEQ_NUM;
    store_flag(&dispatch->write_func, static_cast<inkora_serial_write_func>(nullptr));
    store_flag(&dispatch->read_func, static_cast<inkora_serial_read_func>(nullptr));
}

void inkora_message_create_dispatch_read_thread(inkora_serial_dispatch* dispatch) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr) {
        return;
    }
    // A thread handle stays zero (as in the zero-filled record) unless its
    // thread started: destroy joins exactly the threads whose handle is set.
    store_flag(&dispatch->read_thread_running, uint8_t{1});
    store_flag(&dispatch->read_thread_closing, uint8_t{0});
    if (inkora_thread_init(&dispatch->read_thread, inkora_message_read_thread, dispatch) != INKORA_CODE_SUCCESS) {
        store_flag(&dispatch->read_thread_running, uint8_t{0});
        dispatch->read_thread = inkora_thread{};
        INKORA_LOG_WARNING("Could not start the dispatch's decoding thread.");
    }
    store_flag(&dispatch->watchdog_thread_running, uint32_t{1});
    if (inkora_thread_init(&dispatch->watchdog_thread, inkora_message_watchdog, dispatch) != INKORA_CODE_SUCCESS) {
        store_flag(&dispatch->watchdog_thread_running, uint32_t{0});
        dispatch->watchdog_thread = inkora_thread{};
        INKORA_LOG_WARNING("Could not start the dispatch's watchdog thread.");
    }
    if (load_flag(&dispatch->read_func) != nullptr) {
        store_flag(&dispatch->input_thread_running, uint8_t{1});
        if (inkora_thread_init(&dispatch->input_thread, inkora_message_input_thread, dispatch) !=
            INKORA_CODE_SUCCESS) {
            store_flag(&dispatch->input_thread_running, uint8_t{0});
            dispatch->input_thread = inkora_thread{};
            INKORA_LOG_WARNING("Could not start the dispatch's input thread.");
        }
    }
}

void inkora_message_destroy_dispatch(inkora_serial_dispatch* dispatch) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr) {
        return;
    }
    store_flag(&dispatch->read_thread_running, uint8_t{0});
    store_flag(&dispatch->input_thread_running, uint8_t{0});
    store_flag(&dispatch->watchdog_thread_running, uint32_t{0});
    {
        // Setting the flag under the ring's mutex closes the gap between a
        // puller's look at the flag and its wait: either it sees the flag, or
        // it has reset the event before this trigger and wakes from it.
        MutexLock lock(&dispatch->input_buffer_mutex);
        store_flag(&dispatch->read_thread_closing, uint8_t{1});
        inkora_event_trigger(&dispatch->input_buffer_event);
    }
    inkora_event_trigger(&dispatch->watchdog_event);

    // A thread is joined when it was started, whether or not it already
    // ended on its own (the input thread does when its source finishes).
    // The input thread leaves once read_func returns: the owner ends its
    // byte source before or while destroying the dispatch.
    for (inkora_thread* thread : {&dispatch->input_thread, &dispatch->read_thread, &dispatch->watchdog_thread}) {
        if (thread->thread != pthread_t{}) {
            inkora_thread_join(thread);
        }
    }

    // Release the waiters. No reply can arrive any more. A waiter that
    // already holds its reply takes it, removes its own record and frees
    // it; wait until those are gone. Every other one is interrupted and,
    // once it has left, triggers pickedup_event as its last touch of the
    // dispatch.
    while (dispatch->dispatch_events != nullptr) {
        MutexLock lock(&dispatch->dispatch_mutex);
        bool replies_pending = false;
        for (inkora_list_item* item = dispatch->dispatch_events->first; item != nullptr; item = item->next) {
            auto* waiter = static_cast<inkora_serial_event*>(item->ptr);
            if (waiter->message != nullptr && waiter->interrupted == 0) {
                replies_pending = true;
            } else {
                waiter->interrupted = 1;
                inkora_event_trigger(&waiter->signal_event);
            }
        }
        if (!replies_pending) {
            break;
        }
        lock.unlock();
        std::this_thread::yield();
    }
    // The remaining records stay where they are: an interrupted waiter never
    // removes its record, and nobody else touches the list now.
    for (inkora_list_item* item = dispatch->dispatch_events != nullptr ? dispatch->dispatch_events->first : nullptr;
         item != nullptr; item = item->next) {
        auto* waiter = static_cast<inkora_serial_event*>(item->ptr);
        inkora_event_wait(&waiter->pickedup_event);
        inkora_free_message(waiter->message);
        free_waiter(waiter);
    }

    inkora_mutex_destroy(&dispatch->seq_mutex);
    inkora_list_free(dispatch->dispatch_events);
    inkora_mutex_destroy(&dispatch->dispatch_mutex);
    inkora_mutex_destroy(&dispatch->input_buffer_mutex);
    inkora_event_destroy(&dispatch->input_buffer_event);
    inkora_event_destroy(&dispatch->watchdog_event);
    std::free(dispatch->input_buffer);
    std::memset(static_cast<void*>(dispatch), 0, sizeof(*dispatch));
    std::free(dispatch);
}

inkora_error_code inkora_message_write_to_dispatch(inkora_serial_dispatch* dispatch, const uint8_t* buffer,
                                                   uint32_t len) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr || (buffer == nullptr && len != 0)) {
        return INKORA_CODE_ERROR;
    }
    MutexLock lock(&dispatch->input_buffer_mutex);
    const uint32_t free_space = dispatch->input_buffer_len - dispatch->input_buffer_data_len;
    if (len > free_space) {
        lock.unlock();
        INKORA_LOG_WARNING("Attempted to write to dispatch buffer more than it could store: %u attempted, %u remaining.",
                           len, free_space);
        return INKORA_CODE_ERROR;
    }
    ring_put(dispatch, buffer, len);
    inkora_event_trigger(&dispatch->input_buffer_event);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_message_read_from_dispatch(inkora_serial_dispatch* dispatch, uint8_t* buffer,
                                                    uint32_t len) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr || (buffer == nullptr && len != 0)) {
        return INKORA_CODE_ERROR;
    }
    if (len > dispatch->input_buffer_len) {
        // Could never be satisfied: the ring cannot hold that many bytes.
        INKORA_LOG_WARNING("Attempted to read %u bytes from a dispatch buffer of %u.", len,
                           dispatch->input_buffer_len);
        return INKORA_CODE_ERROR;
    }
    for (;;) {
        {
            MutexLock lock(&dispatch->input_buffer_mutex);
            // At shutdown the bytes left are discarded, so a pull fails even
            // when they would suffice: the decoding thread stops at once.
            if (load_flag(&dispatch->read_thread_closing) != 0) {
                return INKORA_CODE_ERROR;
            }
            if (dispatch->input_buffer_data_len >= len) {
                ring_take(dispatch, buffer, len);
                // The event is left as it is: it only matters to a pull that
                // is about to wait, and that one resets it below first.
                return INKORA_CODE_SUCCESS;
            }
            // Reset under the mutex: a feeder triggers under it too, so no
            // trigger can fall between this look at the ring and the wait.
            inkora_event_reset(&dispatch->input_buffer_event);
        }
        inkora_event_wait(&dispatch->input_buffer_event);
    }
}

inkora_error_code inkora_serial_get_message(inkora_serial_dispatch* dispatch, inkora_messages** message) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr || message == nullptr) {
        return INKORA_CODE_ERROR;
    }
    // Not zero-filled: only the bytes just pulled are ever read from it.
    std::array<uint8_t, INKORA_SERIAL_SCRATCH_LEN> scratch;
    // Header: type byte, then the sequence number little-endian.
    const inkora_error_code pulled = inkora_message_read_from_dispatch(dispatch, scratch.data(),
                                                                       INKORA_SERIAL_HEADER_LEN);
    if (pulled != INKORA_CODE_SUCCESS) {
        return pulled;
    }
    const uint8_t type = scratch[0];
    const uint32_t seq_num = static_cast<uint32_t>(scratch[1]) | (static_cast<uint32_t>(scratch[2]) << 8) |
                             (static_cast<uint32_t>(scratch[3]) << 16) | (static_cast<uint32_t>(scratch[4]) << 24);
    if (!is_message_type(type)) {
        INKORA_LOG_WARNING("Unknown message type %hhu", type);
        return INKORA_CODE_ERROR;
    }
    auto* record = static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages)));
    if (record == nullptr) {
        INKORA_LOG_WARNING("Out of memory for a message of type %hhu (seq: %u); dropped.", type, seq_num);
        return INKORA_CODE_ERROR;
    }
    record->common.message_id = static_cast<inkora_serial_message_types>(type);
    record->common.seq_num = seq_num;
    const inkora_error_code result = body_readers[type](dispatch, record, scratch.data());
    *message = result == INKORA_CODE_SUCCESS ? record : nullptr;
    return result;
}

inkora_error_code inkora_serial_send_message(inkora_serial_dispatch* dispatch, inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr || message == nullptr) {
        return INKORA_CODE_ERROR;
    }
    // Not zero-filled: only the encoded bytes are written out.
    std::array<uint8_t, INKORA_SERIAL_SEND_BUFFER_LEN> buffer;
    const uint32_t type = inkora::serial::message_type(*message);
    if (!is_message_type(type)) {
        INKORA_LOG_WARNING("Unknown message type %hhu", static_cast<unsigned char>(type));
        return INKORA_CODE_ERROR;
    }
    inkora::serial::Encoder encoder(buffer);
    encoder.u8(static_cast<uint8_t>(type));
    encoder.le32(message->common.seq_num);
    inkora::serial::encode_body(encoder, *message);
    if (encoder.missing()) {
        INKORA_LOG_WARNING("Message of type %u (seq: %u) has a field with a length but no bytes; not sent.", type,
                           message->common.seq_num);
        return INKORA_CODE_ERROR;
    }
    if (encoder.overflowed()) {
        INKORA_LOG_WARNING("Message of type %u (seq: %u) needs %llu bytes, more than the %u-byte send buffer; not sent.",
                           type, message->common.seq_num, static_cast<unsigned long long>(encoder.needed()),
                           INKORA_SERIAL_SEND_BUFFER_LEN);
        return INKORA_CODE_ERROR;
    }
    const inkora_serial_write_func write = load_flag(&dispatch->write_func);
    if (write == nullptr) {
        return INKORA_CODE_SUCCESS;
    }
    return write(buffer.data(), encoder.length()) == INKORA_CODE_SUCCESS ? INKORA_CODE_SUCCESS : INKORA_CODE_ERROR;
}

inkora_error_code inkora_serial_send_get_message(inkora_serial_dispatch* dispatch, inkora_messages* request,
                                                 inkora_messages** reply, const char* path, uint8_t allowTimeout) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr || request == nullptr || reply == nullptr) {
        return INKORA_CODE_ERROR;
    }
    *reply = nullptr;
    request->common.seq_num = inkora_serial_get_seq_num(dispatch);

    auto* waiter = static_cast<inkora_serial_event*>(std::calloc(1, sizeof(inkora_serial_event)));
    if (waiter == nullptr) {
        return INKORA_CODE_ERROR;
    }
    if (path != nullptr) {
        waiter->path = strdup(path);
        if (waiter->path == nullptr) {
            std::free(waiter);
            return INKORA_CODE_ERROR;
        }
    }
    waiter->seq_num = request->common.seq_num;
    inkora_event_init(&waiter->signal_event);
    inkora_event_init(&waiter->pickedup_event);
    waiter->interrupted = 0;
    waiter->sent_time = time(nullptr);
    waiter->timeout_allowed = allowTimeout;
    {
        MutexLock lock(&dispatch->dispatch_mutex);
        if (inkora_list_add(dispatch->dispatch_events, waiter) == nullptr) {
            lock.unlock();
            free_waiter(waiter);
            return INKORA_CODE_ERROR;
        }
    }

    const bool sent = inkora_serial_send_message(dispatch, request) == INKORA_CODE_SUCCESS;
    if (sent) {
        inkora_event_wait(&waiter->signal_event);
    }

    MutexLock lock(&dispatch->dispatch_mutex);
    inkora_messages* const message = waiter->message;
    if (waiter->interrupted != 0 || message == nullptr) {
        if (!sent && waiter->interrupted == 0) {
            // Nothing went out, so no reply can come: the record leaves now.
            inkora_list_remove_ptr(dispatch->dispatch_events, waiter);
            lock.unlock();
            free_waiter(waiter);
            return INKORA_CODE_ERROR;
        }
        // Interrupted by the watchdog or by destroy. The record stays listed
        // (destroy releases it, and a late reply is released on arrival);
        // triggering pickedup_event is the last touch of the dispatch, since
        // destroy may free it right after.
        lock.unlock();
        if (message == nullptr && waiter->interrupted == 0) {
            INKORA_LOG_WARNING("Acquired message was null and it shouldn't be.");
        }
        inkora_event_reset(&waiter->signal_event);
        inkora_event_trigger(&waiter->pickedup_event);
        return INKORA_CODE_ERROR;
    }
    // A reply: take it and remove the record while still holding the mutex,
    // so that destroy, which waits for records with replies to leave, never
    // frees the dispatch under this caller.
    waiter->message = nullptr;
    inkora_list_remove_ptr(dispatch->dispatch_events, waiter);
    lock.unlock();
    free_waiter(waiter);
    *reply = message;
    return INKORA_CODE_SUCCESS;
}

uint32_t inkora_serial_get_seq_num(inkora_serial_dispatch* dispatch) {
    INKORA_FUNCTION_SCOPE();
    if (dispatch == nullptr) {
        return 0;
    }
    MutexLock lock(&dispatch->seq_mutex);
    return dispatch->seq_num++;
}

void* inkora_message_read_thread(void* data) {
    INKORA_FUNCTION_SCOPE();
    auto* dispatch = static_cast<inkora_serial_dispatch*>(data);
    while (load_flag(&dispatch->read_thread_running) != 0) {
        inkora_messages* message = nullptr;
        if (inkora_serial_get_message(dispatch, &message) != INKORA_CODE_SUCCESS) {
            continue;
        }
        if (deliver_to_waiter(dispatch, message)) {
            continue;
        }
        const inkora_serial_unhandled_func unhandled = load_flag(&dispatch->unhandled_func);
        if (unhandled != nullptr) {
            unhandled(message);
        } else {
            inkora_free_message(message);
        }
    }
    return nullptr;
}

void* inkora_message_input_thread(void* data) {
    INKORA_FUNCTION_SCOPE();
    auto* dispatch = static_cast<inkora_serial_dispatch*>(data);
    auto* buffer = static_cast<uint8_t*>(std::calloc(INKORA_SERIAL_INPUT_BUFFER_LEN, 1));
    if (buffer == nullptr) {
        store_flag(&dispatch->input_thread_running, uint8_t{0});
        return nullptr;
    }
    while (load_flag(&dispatch->input_thread_running) != 0) {
        const inkora_serial_read_func read = load_flag(&dispatch->read_func);
        uint32_t count = 0;
        if (read == nullptr || read(buffer, INKORA_SERIAL_INPUT_BUFFER_LEN, &count) != INKORA_CODE_SUCCESS) {
            store_flag(&dispatch->input_thread_running, uint8_t{0});
            break;
        }
        if (count > INKORA_SERIAL_INPUT_BUFFER_LEN) {
            INKORA_LOG_WARNING("Byte source reported %u bytes for a buffer of %u; chunk dropped.", count,
                               INKORA_SERIAL_INPUT_BUFFER_LEN);
            continue;
        }
        // A chunk that does not fit yet waits for the decoder to make room:
        // dropping it would cut a message and put the stream out of step for
        // good. The wait ends at shutdown.
        while (inkora_message_write_to_dispatch(dispatch, buffer, count) != INKORA_CODE_SUCCESS &&
               load_flag(&dispatch->input_thread_running) != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::free(buffer);
    return nullptr;
}

void* inkora_message_watchdog(void* data) {
    INKORA_FUNCTION_SCOPE();
    auto* dispatch = static_cast<inkora_serial_dispatch*>(data);
    while (load_flag(&dispatch->watchdog_thread_running) != 0) {
        {
            MutexLock lock(&dispatch->dispatch_mutex);
            const time_t now = time(nullptr);
            for (inkora_list_item* item = dispatch->dispatch_events != nullptr ? dispatch->dispatch_events->first
                                                                                : nullptr;
                 item != nullptr; item = item->next) {
                auto* waiter = static_cast<inkora_serial_event*>(item->ptr);
                const double diff = difftime(now, waiter->sent_time);
                // A waiter whose reply is in but not yet taken is left alone.
                if (waiter->timeout_allowed != 0 && diff > INKORA_SERIAL_TIMEOUT_SECONDS &&
                    waiter->message == nullptr) {
                    waiter->interrupted = 1;
                    inkora_event_trigger(&waiter->signal_event);
                    INKORA_LOG_WARNING("A timeout event occurred on a message event handle (seq: %u, diff: %f).",
                                       waiter->seq_num, diff);
                }
            }
        }
        inkora_event_wait_timeout(&dispatch->watchdog_event, watchdog_pause_ms);
    }
    return nullptr;
}

} // extern "C"
