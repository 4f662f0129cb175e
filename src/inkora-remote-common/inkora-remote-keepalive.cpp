// Keep-alive (the ping thread and the clean-up after a silent remote side)
// and the hot-plug notices.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "inkora-remote-common-private.h"

using inkora::remote::MutexLock;

namespace {

// How long a detach waits for the session's reading thread to meet the
// vanished node by itself, so that the driver's read error is queued for a
// parked read request: one read cycle and a margin.
constexpr uint32_t detach_read_wait_ms = 1500;
constexpr uint32_t detach_poll_ms = 10;
// Longest single sleep of the ping thread.
constexpr auto ping_slice = std::chrono::milliseconds(50);

// Takes every session out of openDevices (under the lock) into a list the
// caller owns.
inkora_list* take_all_sessions() noexcept {
    MutexLock lock(openDevicesMutex);
    inkora_list* sessions = openDevices;
    openDevices = inkora_create_list();
    if (openDevices == nullptr) {
        // No memory for a fresh list: keep the old one and end nothing.
        openDevices = sessions;
        return nullptr;
    }
    return sessions;
}

template <typename Free>
void wipe(inkora_mutex& mutex, inkora_list* list, Free free_element) noexcept {
    MutexLock lock(mutex);
    if (list == nullptr)
        return;
    inkora_list_item* item = list->first;
    while (item != nullptr) {
        inkora_list_item* next = item->next;
        free_element(item->ptr);
        inkora_list_remove(list, item);
        item = next;
    }
}

void end_detached_session(inkora_device* device) noexcept {
    INKORA_LOG_INFO("Freeing %s because of hotplug callback.", device->path);
    for (uint32_t waited = 0; inkora_device_is_open(device) == 1 && waited < detach_read_wait_ms;
         waited += detach_poll_ms)
        usleep(detach_poll_ms * 1000u);
    if (inkora_device_is_open(device) == 1) {
        // The node still answered: close it here, and tell a parked read
        // request why its pad went away.
        inkora_close_device(device);
        auto* record = static_cast<inkora_serial_input_report*>(std::calloc(1, sizeof(inkora_serial_input_report)));
        if (record != nullptr) {
            char text[INKORA_REMOTE_ERROR_TEXT_LEN] = {};
            std::snprintf(text, sizeof text, "Device was unplugged: %s", device->path);
            record->path = inkora::remote::copy_text(device->path);
            record->success = 0;
            record->error_msg = inkora::remote::copy_text(text);
            inkora_add_message_to_queue(record);
        }
    }
    inkora::remote::end_session(device, false);
}

} // namespace

extern "C" {

void* inkora_ping_thread(void* argument) {
    INKORA_FUNCTION_SCOPE();
    (void)argument;
    inkora_messages ping{};
    ping.common.message_id = INKORA_MESSAGE_PING;
    ping.common.seq_num = INKORA_REMOTE_PING_SEQ_NUM;
    // Each ping is due one period after the one before, on the monotonic
    // clock, so the pauses do not drift; they are slept in slices so that
    // remote_destroy does not wait a whole period.
    const auto period = std::chrono::microseconds(INKORA_REMOTE_PING_INTERVAL_US);
    auto due = std::chrono::steady_clock::now() + period;
    while (running.load() == 1) {
        while (running.load() == 1 && std::chrono::steady_clock::now() < due) {
            const auto left = due - std::chrono::steady_clock::now();
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, ping_slice));
        }
        if (running.load() == 0)
            break;
        inkora::remote::send_quiet(&ping, inkora::remote::QuietKind::ping);
        due += period;
    }
    return nullptr;
}

void inkora_timeout_cleanup(void) {
    INKORA_FUNCTION_SCOPE();
    INKORA_LOG_WARNING("Pingpong timeout occurred, closing open devices.");
    inkora_list* sessions = take_all_sessions();
    if (sessions != nullptr) {
        for (inkora_list_item* item = sessions->first; item != nullptr; item = item->next) {
            auto* device = static_cast<inkora_device*>(item->ptr);
            INKORA_LOG_INFO("Closing device: %s", device->path);
            if (inkora_close_device(device) != INKORA_CODE_SUCCESS)
                INKORA_LOG_WARNING("Failed to close device: %s", inkora_get_last_error());
            auto* params = static_cast<remote_device_params*>(device->user_defined);
            if (params != nullptr) {
                inkora_thread_join(&params->read_thread);
                std::free(params);
                device->user_defined = nullptr;
            }
            INKORA_LOG_INFO("Freeing device because of timeout: %s", device->path);
            inkora_free_device_list(device);
        }
        inkora_list_free(sessions);
    }
    INKORA_LOG_INFO("Pingpong timeout occurred, wiping messages.");
    wipe(readMessagesMutex, readMessages,
         [](void* element) { inkora_serial_free_input_report(static_cast<inkora_serial_input_report*>(element)); });
    INKORA_LOG_INFO("Pingpong timeout occurred, wiping read queue.");
    wipe(readHandleMessagesMutex, readHandleMessages, [](void* element) {
        auto* handle = static_cast<inkora_read_handle*>(element);
        std::free(handle->path);
        std::free(handle);
    });
}

void inkora_remote_hotplug_callback(inkora_hotplug_type type, const char* path) {
    INKORA_FUNCTION_SCOPE();
    if (path == nullptr)
        return;
    const bool attached = type == INKORA_HOTPLUG_ATTACHED;
    if (attached) {
        INKORA_LOG_INFO("Device Attached: %s", path);
    } else {
        INKORA_LOG_INFO("Device Detached: %s", path);
        // Each session of the path is taken out under the lock and ended
        // outside it: ending joins the reading thread.
        while (inkora_device* device = inkora::remote::take_open_device(path))
            end_detached_session(device);
    }
    inkora_messages* notice =
        inkora::remote::new_message(attached ? INKORA_MESSAGE_DEVICE_ATTACH : INKORA_MESSAGE_DEVICE_DETACH, 0);
    if (notice == nullptr)
        return;
    inkora::remote::set_text(notice->device_attach.path, notice->device_attach.path_len, path);
    inkora::remote::send_quiet(notice, inkora::remote::QuietKind::hotplug);
    inkora_free_message(notice);
}

} // extern "C"
