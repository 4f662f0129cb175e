// Process-wide state of the agent core and the helpers its handlers share.
// Not part of the public interface.
#ifndef INKORA_REMOTE_COMMON_PRIVATE_H
#define INKORA_REMOTE_COMMON_PRIVATE_H

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "inkora-debug-scope.hpp"
#include "inkora-debug.h"
#include "inkora-event.h"
#include "inkora-mutex-lock.hpp"
#include "inkora-list.h"
#include "inkora-nibline-serial.h"
#include "inkora-nibline.h"
#include "inkora-remote-common.h"

// The state below is created by remote_init and lives until the process ends
// (or remote_destroy). Who touches what:
//   dispatch            - every thread that sends; its own locks
//   openDevices         - openDevicesMutex: decoding thread (handlers,
//                         clean-up) and hot-plug thread (detach)
//   deviceAliases       - deviceAliasesMutex: decoding thread adds, the pump
//                         thread looks up
//   readMessages        - readMessagesMutex: reading threads, pump, close,
//                         clean-up
//   readHandleMessages  - readHandleMessagesMutex: decoding thread, pump
//   lastPong, lastPongRandom - decoding thread only
extern inkora_serial_dispatch* dispatch;
extern inkora_list* openDevices;
extern inkora_list* deviceAliases;
extern inkora_list* readMessages;
extern inkora_list* readHandleMessages;
extern inkora_mutex readMessagesMutex;
extern inkora_mutex readHandleMessagesMutex;
extern inkora_mutex enumDevicesMutex;
extern inkora_mutex openDevicesMutex;
extern inkora_mutex deviceAliasesMutex;
extern inkora_event readMessagesEvent;
extern inkora_thread pumpThreadHandle;
extern inkora_thread pingThreadHandle;
extern std::atomic<uint8_t> running;
extern uint32_t lastPong;
extern uint32_t lastPongRandom;
extern uint32_t aliasCounter;

namespace inkora::remote {

using inkora::MutexLock;

// A zero-filled copy of length bytes plus a terminator; NULL when out of
// memory. length 0 gives a one-byte empty text.
inline char* copy_text(const char* text, size_t length) noexcept {
    auto* copy = static_cast<char*>(std::calloc(length + 1, 1));
    if (copy != nullptr && length != 0 && text != nullptr)
        std::memcpy(copy, text, length);
    return copy;
}
inline char* copy_text(const char* text) noexcept {
    return copy_text(text, text != nullptr ? std::strlen(text) : 0);
}
inline uint8_t* copy_bytes(const uint8_t* bytes, uint32_t length) noexcept {
    if (length == 0)
        return nullptr;
    auto* copy = static_cast<uint8_t*>(std::calloc(length, 1));
    if (copy != nullptr && bytes != nullptr)
        std::memcpy(copy, bytes, length);
    return copy;
}

// A request's name as a text: the decoder stores every text field zero
// terminated, but a name may hold a zero byte of its own; the text is what
// precedes the first zero.
inline const char* name_of(const char* path) noexcept { return path != nullptr ? path : ""; }

// Sets a reply's text field (path/error pairs) to a copy of text.
inline void set_text(char*& field, uint32_t& length, const char* text, size_t text_length) noexcept {
    field = copy_text(text, text_length);
    length = field != nullptr ? static_cast<uint32_t>(text_length) : 0;
}
inline void set_text(char*& field, uint32_t& length, const char* text) noexcept {
    set_text(field, length, text, text != nullptr ? std::strlen(text) : 0);
}

// A zero-filled message record, or NULL.
inline inkora_messages* new_message(inkora_serial_message_types id, uint32_t seq_num) noexcept {
    auto* message = static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages)));
    if (message != nullptr) {
        message->common.message_id = id;
        message->common.seq_num = seq_num;
    }
    return message;
}

// The reply steps: log the rendering at FINE, send, warn "Failed to send
// message: %s" (or "Failed to send message (seq: %u): %s" when seq_in_text
// is set) when the send fails, free the reply. NULL: nothing.
void send_reply(inkora_messages* reply, bool seq_in_text = false) noexcept;

// Sends without rendering, warns with the text of kind on failure. The record
// stays the caller's.
enum class QuietKind { ping, hotplug, read };
void send_quiet(inkora_messages* message, QuietKind kind) noexcept;

// Ends one session that the caller has already taken out of openDevices:
// closes the device if it is still open, joins its reading thread, frees it.
// Never call it with openDevicesMutex held (the join may wait up to a read
// cycle).
void end_session(inkora_device* device, bool warn_on_close_failure) noexcept;

// Takes the session whose path equals path out of openDevices; NULL if none.
inkora_device* take_open_device(const char* path) noexcept;

// The session of a device path (resolve an alias with inkora_get_device_path
// first); the caller holds openDevicesMutex and uses the record only while it
// holds it.
inkora_device* find_session_locked(const char* path) noexcept;

// Size on the wire of a read bulk response header with a path of path_len
// bytes, and of one report in it.
constexpr uint64_t bulk_response_fixed_size(uint32_t path_len) noexcept {
    return INKORA_SERIAL_HEADER_LEN + 4ull + path_len + 1ull + 4ull;
}
constexpr uint64_t bulk_report_size(uint32_t report_len) noexcept { return 1ull + 4ull + report_len; }

} // namespace inkora::remote

#endif
