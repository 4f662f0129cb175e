// Process-wide state of the device library: last error, open devices,
// hot-plug callbacks, per-device locks, and freeing of one record.
#include "inkora-nibline-private.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "inkora-debug.h"
#include "inkora-event.h"
#include "inkora-list.h"

namespace {

constexpr size_t error_buffer_size = 1024;
// vsnprintf is given one byte less than the buffer, so at most 1022
// characters and a NUL are written and the buffer's last byte stays NUL: a
// reader racing a writer always finds a terminator.
constexpr size_t error_format_limit = error_buffer_size - 1;

char inkora_error_buffer[error_buffer_size];
// Serialises writers of the error buffer; readers take the buffer as it is.
std::mutex error_write_mutex;

// Open devices. open_mutex is an inkora_mutex as the rest of the system
// uses; open_mutex_init is set once it exists. Creation happens in
// inkora_init (inkora_create_open_mutex); the once_flag keeps a lock from any
// other thread before that from racing the creation.
inkora_list* inkora_open_devices = nullptr; // guarded by open_mutex
inkora_mutex open_mutex;
uint8_t open_mutex_init = 0;
std::once_flag open_mutex_once;

// Hot-plug callbacks: the pointer and the list's contents are guarded by
// callbacks_mutex (registration, removal, driver start and stop, and the
// monitor thread's copy).
inkora_list* inkora_device_callbacks = nullptr;
std::mutex callbacks_mutex;

// Per-device locks, kept beside the records.
std::mutex device_locks_mutex; // guards device_locks
std::unordered_map<const inkora_device*, std::shared_ptr<std::recursive_mutex>> device_locks;

// The legacy-firmware switch is set by the user and read by interlock waits
// on any thread.
std::atomic<uint8_t> use_legacy_firmware{0};

std::shared_ptr<std::recursive_mutex> lock_of(const inkora_device* device) {
    const std::lock_guard guard(device_locks_mutex);
    auto& slot = device_locks[device];
    if (!slot)
        slot = std::make_shared<std::recursive_mutex>();
    return slot;
}

void set_error_text(const char* format, va_list args) {
    char text[error_buffer_size] = {};
    std::vsnprintf(text, error_format_limit, format, args);
    const std::lock_guard guard(error_write_mutex);
    std::memcpy(inkora_error_buffer, text, error_format_limit);
}

} // namespace

extern "C" {

void inkora_report_error_internal(const char* format, ...) {
    va_list args;
    va_start(args, format);
    set_error_text(format, args);
    va_end(args);
}

void inkora_report_error_logged(const char* function, const char* file, int32_t line, const char* format, ...) {
    va_list args;
    va_start(args, format);
    set_error_text(format, args);
    va_end(args);
    if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_WARNING) >= INKORA_DEBUG_GATE_VALUE())
        inkora_debug_report_message(function, file, line, INKORA_DEBUG_LEVEL_WARNING, "Error reported: %s",
                                    inkora_error_buffer);
}

const char* inkora_get_last_error_internal(void) { return inkora_error_buffer; }

const char* inkora_get_last_error(void) { return inkora_error_buffer; }

inkora_list* inkora_get_open_devices(void) { return inkora_open_devices; }

void inkora_create_open_mutex(void) {
    std::call_once(open_mutex_once, [] {
        inkora_mutex_init(&open_mutex);
        open_mutex_init = 1;
    });
}

void inkora_lock_open_devices(void) {
    inkora_create_open_mutex();
    inkora_mutex_lock(&open_mutex);
}

void inkora_unlock_open_devices(void) { inkora_mutex_unlock(&open_mutex); }

void inkora_set_open_devices_locked(inkora_list* list) { inkora_open_devices = list; }

void inkora_set_open_devices(inkora_list* list) {
    inkora_lock_open_devices();
    inkora_open_devices = list;
    inkora_unlock_open_devices();
}

inkora_list* inkora_get_device_callbacks(void) {
    const std::lock_guard guard(callbacks_mutex);
    return inkora_device_callbacks;
}

void inkora_set_device_callbacks(inkora_list* list) {
    const std::lock_guard guard(callbacks_mutex);
    inkora_device_callbacks = list;
}

void inkora_lock_device_callbacks(void) { callbacks_mutex.lock(); }

inkora_list* inkora_get_device_callbacks_locked(void) { return inkora_device_callbacks; }

void inkora_set_device_callbacks_locked(inkora_list* list) { inkora_device_callbacks = list; }

void inkora_unlock_device_callbacks(void) { callbacks_mutex.unlock(); }

uint32_t inkora_copy_device_callbacks(inkora_hotplug_callback* out, uint32_t capacity) {
    const std::lock_guard guard(callbacks_mutex);
    uint32_t count = 0;
    if (inkora_device_callbacks == nullptr)
        return 0;
    for (const inkora_list_item* item = inkora_device_callbacks->first; item != nullptr; item = item->next) {
        if (count < capacity && out != nullptr)
            out[count] = reinterpret_cast<inkora_hotplug_callback>(item->ptr);
        ++count;
    }
    return count;
}

void inkora_lock_device(const inkora_device* device) {
    // The shared pointer keeps the mutex alive while the map may rehash; the
    // mutex itself lives until the record is freed, after every user of the
    // record has finished.
    lock_of(device)->lock();
}

void inkora_unlock_device(const inkora_device* device) { lock_of(device)->unlock(); }

void inkora_forget_device_lock(const inkora_device* device) {
    const std::lock_guard guard(device_locks_mutex);
    device_locks.erase(device);
}

uint8_t inkora_get_use_legacy_firmware(void) { return use_legacy_firmware.load(); }

void inkora_set_use_legacy_firmware(uint8_t legacy) { use_legacy_firmware.store(legacy); }

char* inkora_duplicate_text(const char* text) {
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    auto* copy = static_cast<char*>(std::calloc(length + 1, 1));
    if (copy != nullptr && length > 0)
        std::memcpy(copy, text, length);
    return copy;
}

inkora_error_code inkora_real_free_device(inkora_device* device) {
    if (device == nullptr)
        return INKORA_CODE_SUCCESS;
    std::free(device->manufacturer);
    std::free(device->model);
    std::free(device->path);
    // The region array and the uuid are plain allocations of the library
    // (inkora_free_regions and inkora_free_device_uuid are free as well).
    std::free(device->regions);
    std::free(device->uuid);
    inkora_list_free(device->input_callbacks);
    inkora_forget_device_lock(device);
    std::free(device);
    return INKORA_CODE_SUCCESS;
}

} // extern "C"
