// The agent core's state, its start-up and tear-down, the router with its
// keep-alive clock, the ping and pong handlers and the reply steps.
#include "inkora-remote-common-private.h"

#include <array>

using inkora::remote::MutexLock;

inkora_serial_dispatch* dispatch = nullptr;
inkora_list* openDevices = nullptr;
inkora_list* deviceAliases = nullptr;
inkora_list* readMessages = nullptr;
inkora_list* readHandleMessages = nullptr;
inkora_mutex readMessagesMutex;
inkora_mutex readHandleMessagesMutex;
inkora_mutex enumDevicesMutex;
inkora_mutex openDevicesMutex;
inkora_mutex deviceAliasesMutex;
inkora_event readMessagesEvent;
inkora_thread pumpThreadHandle;
inkora_thread pingThreadHandle;
std::atomic<uint8_t> running{1};
uint32_t lastPong = 0;
uint32_t lastPongRandom = 0;
uint32_t aliasCounter = 1;

namespace inkora::remote {

void send_reply(inkora_messages* reply, bool seq_in_text) noexcept {
    if (reply == nullptr)
        return;
    if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINE) >= INKORA_DEBUG_GATE_VALUE()) {
        // Rendered into a buffer, never to standard output: standard output
        // carries the wire protocol.
        auto* text = static_cast<char*>(std::calloc(INKORA_REMOTE_PRINT_BUFFER_LEN, 1));
        if (text != nullptr) {
            inkora_print_message(reply, text, INKORA_REMOTE_PRINT_BUFFER_LEN);
            INKORA_LOG_FINE("Sending: %s", text);
            std::free(text);
        }
    }
    if (inkora_serial_send_message(dispatch, reply) != INKORA_CODE_SUCCESS) {
        if (seq_in_text)
            INKORA_LOG_WARNING("Failed to send message (seq: %u): %s", reply->common.seq_num, inkora_get_last_error());
        else
            INKORA_LOG_WARNING("Failed to send message: %s", inkora_get_last_error());
    }
    inkora_free_message(reply);
}

void send_quiet(inkora_messages* message, QuietKind kind) noexcept {
    if (inkora_serial_send_message(dispatch, message) == INKORA_CODE_SUCCESS)
        return;
    switch (kind) {
    case QuietKind::ping:
        INKORA_LOG_WARNING("Failed to send ping: %s", inkora_get_last_error());
        break;
    case QuietKind::hotplug:
        INKORA_LOG_WARNING("Failed to send hotplug message: %s", inkora_get_last_error());
        break;
    case QuietKind::read:
        INKORA_LOG_WARNING("Failed to send message: %s", inkora_get_last_error());
        break;
    }
}

void end_session(inkora_device* device, bool warn_on_close_failure) noexcept {
    if (device == nullptr)
        return;
    if (inkora_device_is_open(device) == 1 && inkora_close_device(device) != INKORA_CODE_SUCCESS &&
        warn_on_close_failure)
        INKORA_LOG_WARNING("Failed to close device: %s", inkora_get_last_error());
    auto* params = static_cast<remote_device_params*>(device->user_defined);
    if (params != nullptr) {
        inkora_thread_join(&params->read_thread);
        std::free(params);
        device->user_defined = nullptr;
    }
    inkora_free_device_list(device);
}

inkora_device* take_open_device(const char* path) noexcept {
    MutexLock lock(openDevicesMutex);
    if (openDevices == nullptr || path == nullptr)
        return nullptr;
    for (inkora_list_item* item = openDevices->first; item != nullptr; item = item->next) {
        auto* device = static_cast<inkora_device*>(item->ptr);
        if (device->path != nullptr && std::strcmp(device->path, path) == 0) {
            inkora_list_remove(openDevices, item);
            return device;
        }
    }
    return nullptr;
}

} // namespace inkora::remote

namespace {

using Handler = void (*)(inkora_messages*);

// Handlers by message code; codes without one are ignored.
constexpr std::array<Handler, 22> handlers = [] {
    std::array<Handler, 22> table{};
    table[INKORA_MESSAGE_DEVICEENUM_REQUEST] = inkora_handle_deviceenum_message;
    table[INKORA_MESSAGE_OPEN_REQUEST] = inkora_handle_open_message;
    table[INKORA_MESSAGE_CLOSE_REQUEST] = inkora_handle_close_message;
    table[INKORA_MESSAGE_READ_REQUEST] = inkora_handle_read_message;
    table[INKORA_MESSAGE_SET_OUTPUT_REQUEST] = inkora_handle_set_output;
    table[INKORA_MESSAGE_SET_FEATURE_REQUEST] = inkora_handle_set_feature;
    table[INKORA_MESSAGE_GET_FEATURE_REQUEST] = inkora_handle_get_feature;
    table[INKORA_MESSAGE_PING] = inkora_handle_ping;
    table[INKORA_MESSAGE_PONG] = inkora_handle_pong;
    table[INKORA_MESSAGE_READ_BULK_REQUEST] = inkora_handle_read_bulk_message;
    table[INKORA_MESSAGE_VERSION_INFO] = inkora_handle_version_info;
    return table;
}();

bool sessions_open() noexcept {
    MutexLock lock(openDevicesMutex);
    return openDevices != nullptr && openDevices->first != nullptr;
}

template <typename Free>
void free_list(inkora_list*& list, Free free_element) noexcept {
    if (list == nullptr)
        return;
    for (inkora_list_item* item = list->first; item != nullptr; item = item->next)
        free_element(item->ptr);
    inkora_list_free(list);
    list = nullptr;
}

} // namespace

extern "C" {

uint8_t inkora_remote_keepalive_expired(uint32_t last, uint32_t now) {
    return static_cast<uint32_t>(now - last) > INKORA_REMOTE_KEEPALIVE_TIMEOUT_MS ? 1 : 0;
}

inkora_serial_dispatch* get_dispatch(void) { return dispatch; }

void remote_init(void) {
    INKORA_FUNCTION_SCOPE();
    dispatch = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    if (dispatch != nullptr) {
        inkora_message_create_dispatch(dispatch);
        dispatch->read_func = nullptr;
        dispatch->write_func = nullptr;
        dispatch->unhandled_func = inkora_handle_message;
    }
    // The locks and lists exist before the decoding thread can route a
    // message: the dispatch's threads start last of the agent's own state.
    inkora_mutex_init(&openDevicesMutex);
    inkora_mutex_init(&deviceAliasesMutex);
    openDevices = inkora_create_list();
    deviceAliases = inkora_create_list();
    readMessages = inkora_create_list();
    readHandleMessages = inkora_create_list();
    inkora_mutex_init(&readMessagesMutex);
    inkora_mutex_init(&readHandleMessagesMutex);
    inkora_event_init(&readMessagesEvent);
    inkora_mutex_init(&enumDevicesMutex);
    if (dispatch != nullptr)
        inkora_message_create_dispatch_read_thread(dispatch);
    inkora_register_hotplug_callback(inkora_remote_hotplug_callback);
    running.store(1);
    if (inkora_thread_init(&pumpThreadHandle, inkora_pump_messages_thread, nullptr) != INKORA_CODE_SUCCESS)
        INKORA_LOG_WARNING("Could not start the message pump thread.");
    if (inkora_thread_init(&pingThreadHandle, inkora_ping_thread, nullptr) != INKORA_CODE_SUCCESS)
        INKORA_LOG_WARNING("Could not start the ping thread.");
}

void remote_destroy(void) {
    INKORA_FUNCTION_SCOPE();
    running.store(0);
    inkora_unregister_hotplug_callback(inkora_remote_hotplug_callback);
    inkora_event_trigger(&readMessagesEvent);
    if (pumpThreadHandle.thread != pthread_t{})
        inkora_thread_join(&pumpThreadHandle);
    if (pingThreadHandle.thread != pthread_t{})
        inkora_thread_join(&pingThreadHandle);
    pumpThreadHandle = inkora_thread{};
    pingThreadHandle = inkora_thread{};

    // The sessions are taken out under the lock and ended outside it.
    inkora_list* sessions = nullptr;
    {
        MutexLock lock(openDevicesMutex);
        sessions = openDevices;
        openDevices = nullptr;
    }
    free_list(sessions, [](void* element) { inkora::remote::end_session(static_cast<inkora_device*>(element), false); });

    // The decoding thread goes before the locks its handlers take.
    inkora_message_destroy_dispatch(dispatch);
    dispatch = nullptr;

    inkora_mutex_destroy(&enumDevicesMutex);
    inkora_mutex_destroy(&readHandleMessagesMutex);
    inkora_mutex_destroy(&readMessagesMutex);
    inkora_event_destroy(&readMessagesEvent);

    free_list(deviceAliases, [](void* element) {
        auto* alias = static_cast<inkora_device_alias*>(element);
        std::free(alias->alias);
        std::free(alias->path);
        std::free(alias);
    });
    free_list(readMessages,
              [](void* element) { inkora_serial_free_input_report(static_cast<inkora_serial_input_report*>(element)); });
    free_list(readHandleMessages, [](void* element) {
        auto* handle = static_cast<inkora_read_handle*>(element);
        std::free(handle->path);
        std::free(handle);
    });
    inkora_mutex_destroy(&deviceAliasesMutex);
    inkora_mutex_destroy(&openDevicesMutex);
    lastPong = 0;
    lastPongRandom = 0;
    // The alias table is gone: a later start numbers from "1" again.
    aliasCounter = 1;
}

void inkora_handle_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    const uint32_t now = inkora_get_ticks();
    if (lastPong == 0 || !sessions_open())
        lastPong = now;
    const uint32_t gap = now - lastPong;
    if (inkora_remote_keepalive_expired(lastPong, now) == 1) {
        INKORA_LOG_WARNING("Timeout occurred, last ping at %u, currently %u, max %u, duration %u", lastPong, now,
                           INKORA_REMOTE_KEEPALIVE_TIMEOUT_MS, gap);
        inkora_timeout_cleanup();
        lastPong = 0;
        lastPongRandom = 0;
    }
    if (message == nullptr)
        return;
    uint32_t code = 0;
    std::memcpy(&code, &message->common.message_id, sizeof code);
    if (code < handlers.size() && handlers[code] != nullptr)
        handlers[code](message);
    lastPong = now;
    inkora_free_message(message);
}

void inkora_handle_ping(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    (void)message;
    // The ping's own sequence number is not echoed.
    inkora::remote::send_reply(inkora::remote::new_message(INKORA_MESSAGE_PONG, 0));
}

void inkora_handle_pong(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    const uint32_t now = inkora_get_ticks();
    const uint32_t seq = message->common.seq_num;
    if (lastPongRandom == 0)
        lastPongRandom = seq;
    if (seq == lastPongRandom) {
        lastPong = now;
        INKORA_LOG_FINE("Pingpong last time successfully set to %u.", now);
    } else {
        INKORA_LOG_WARNING("Was expecting pingpong seq of %u but got %u instead.", lastPongRandom, seq);
    }
}

} // extern "C"
