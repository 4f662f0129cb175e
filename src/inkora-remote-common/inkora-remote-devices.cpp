// The alias table, the lookup of sessions, and the enumeration, open and
// close handlers.
#include <cstdio>

#include "inkora-remote-common-private.h"

using inkora::remote::MutexLock;

namespace {

// The session whose path equals path; the caller holds openDevicesMutex.
inkora_device* find_open_device_locked(const char* path) noexcept {
    if (openDevices == nullptr || path == nullptr)
        return nullptr;
    for (inkora_list_item* item = openDevices->first; item != nullptr; item = item->next) {
        auto* device = static_cast<inkora_device*>(item->ptr);
        INKORA_LOG_FINE("Comparing '%s' to '%s'.", path, device->path != nullptr ? device->path : "");
        if (device->path != nullptr && std::strcmp(device->path, path) == 0) {
            INKORA_LOG_FINE("Found match.");
            return device;
        }
    }
    INKORA_LOG_FINE("No match found.");
    return nullptr;
}

// Wire size of one device record of an enumeration answer.
uint64_t device_record_size(size_t alias_len, const inkora_device& device) noexcept {
    const size_t model = device.model != nullptr ? std::strlen(device.model) : 0;
    const size_t manufacturer = device.manufacturer != nullptr ? std::strlen(device.manufacturer) : 0;
    return 4ull + alias_len + 2ull + 2ull + 4ull + model + 4ull + manufacturer;
}

// Unlinks device from the chain starting at head.
void unlink_device(inkora_device*& head, inkora_device* device) noexcept {
    if (head == device) {
        head = device->next;
    } else {
        for (inkora_device* d = head; d != nullptr; d = d->next) {
            if (d->next == device) {
                d->next = device->next;
                break;
            }
        }
    }
    device->next = nullptr;
}

} // namespace

namespace inkora::remote {

// The shared lookup, for the report handlers that use the session under the
// lock (see inkora-remote-reports.cpp).
inkora_device* find_session_locked(const char* path) noexcept { return find_open_device_locked(path); }

} // namespace inkora::remote

extern "C" {

const char* inkora_get_device_alias(const char* path) {
    if (path == nullptr || deviceAliases == nullptr)
        return nullptr;
    MutexLock lock(deviceAliasesMutex);
    for (inkora_list_item* item = deviceAliases->first; item != nullptr; item = item->next) {
        auto* entry = static_cast<inkora_device_alias*>(item->ptr);
        if (std::strcmp(entry->path, path) == 0)
            return entry->alias;
    }
    auto* entry = static_cast<inkora_device_alias*>(std::calloc(1, sizeof(inkora_device_alias)));
    char* path_copy = inkora::remote::copy_text(path);
    auto* alias = static_cast<char*>(std::calloc(INKORA_REMOTE_ALIAS_LEN, 1));
    if (entry == nullptr || path_copy == nullptr || alias == nullptr) {
        std::free(entry);
        std::free(path_copy);
        std::free(alias);
        return nullptr;
    }
    std::snprintf(alias, INKORA_REMOTE_ALIAS_LEN, "%u", aliasCounter);
    entry->path = path_copy;
    entry->alias = alias;
    if (inkora_list_add(deviceAliases, entry) == nullptr) {
        std::free(entry);
        std::free(path_copy);
        std::free(alias);
        return nullptr;
    }
    ++aliasCounter;
    return alias;
}

const char* inkora_get_device_path(const char* name) {
    if (name == nullptr || deviceAliases == nullptr)
        return name;
    MutexLock lock(deviceAliasesMutex);
    for (inkora_list_item* item = deviceAliases->first; item != nullptr; item = item->next) {
        auto* entry = static_cast<inkora_device_alias*>(item->ptr);
        if (std::strcmp(entry->alias, name) == 0)
            return entry->path;
    }
    return name;
}

inkora_device* inkora_lookup_open_device(const char* name) {
    INKORA_FUNCTION_SCOPE();
    const char* path = inkora_get_device_path(name);
    MutexLock lock(openDevicesMutex);
    return find_open_device_locked(path);
}

void inkora_handle_deviceenum_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    inkora_messages* reply = inkora::remote::new_message(INKORA_MESSAGE_DEVICEENUM_RESPONSE, message->common.seq_num);
    if (reply == nullptr)
        return;
    MutexLock lock(enumDevicesMutex);
    inkora_device* chain = nullptr;
    if (inkora_list_devices(&chain) != INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Failed to enumerate devices: %s", inkora_get_last_error());
        inkora::remote::send_reply(reply);
        return;
    }
    const uint32_t count = inkora_count_device_list(chain);
    // The count travels in one byte and the answer must fit the send
    // buffer: pads beyond either limit are left out of this answer.
    const uint32_t slots = count < 255u ? count : 255u;
    auto& answer = reply->enum_response;
    answer.device_list =
        slots != 0 ? static_cast<inkora_message_device*>(std::calloc(slots, sizeof(inkora_message_device))) : nullptr;
    uint64_t size = INKORA_SERIAL_HEADER_LEN + 1ull;
    uint32_t listed = 0;
    for (inkora_device* device = chain; device != nullptr && answer.device_list != nullptr && listed < slots;
         device = device->next) {
        const char* alias = inkora_get_device_alias(device->path);
        if (alias == nullptr)
            continue;
        const size_t alias_len = std::strlen(alias);
        const uint64_t record = device_record_size(alias_len, *device);
        if (size + record > INKORA_SERIAL_SEND_BUFFER_LEN)
            break;
        size += record;
        inkora_message_device& entry = answer.device_list[listed++];
        inkora::remote::set_text(entry.path, entry.path_len, alias, alias_len);
        inkora::remote::set_text(entry.model, entry.model_len, device->model);
        inkora::remote::set_text(entry.manufacturer, entry.manufacturer_len, device->manufacturer);
        entry.product_id = device->product_id;
        entry.vendor_id = device->vendor_id;
    }
    answer.device_count = static_cast<uint8_t>(listed);
    if (listed < count)
        INKORA_LOG_WARNING("Enumeration found %u pads; only %u fit one answer, the rest are left out.", count, listed);
    if (listed == 0) {
        std::free(answer.device_list);
        answer.device_list = nullptr;
    }
    inkora::remote::send_reply(reply);
    inkora_free_device_list(chain);
}

void inkora_handle_open_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    const inkora_message_open_request& request = message->open_request;
    const char* name = inkora::remote::name_of(request.path);
    inkora_messages* reply = inkora::remote::new_message(INKORA_MESSAGE_OPEN_RESPONSE, message->common.seq_num);
    if (reply == nullptr)
        return;
    auto& answer = reply->open_response;
    answer.success = 0;

    inkora_device* chain = nullptr;
    {
        MutexLock lock(enumDevicesMutex);
        inkora_list_devices(&chain);
    }
    const char* path = inkora_get_device_path(name);
    inkora_device* device = chain;
    while (device != nullptr && (device->path == nullptr || std::strcmp(device->path, path) != 0))
        device = device->next;

    char text[INKORA_REMOTE_ERROR_TEXT_LEN] = {};
    if (device == nullptr || inkora_lookup_open_device(name) != nullptr) {
        std::snprintf(text, sizeof text,
                      device == nullptr ? "Unable to locate device: %s" : "Device is already open in another program: %s",
                      name);
        inkora::remote::set_text(answer.error, answer.error_len, text);
    } else {
        inkora::remote::set_text(answer.path, answer.path_len, inkora_get_device_alias(path));
        unlink_device(chain, device);
        if (inkora_open_device(device) != INKORA_CODE_SUCCESS) {
            inkora::remote::set_text(answer.error, answer.error_len, inkora_get_last_error());
            inkora_free_device_list(device);
        } else {
            // The session is complete (callback, reading thread) before it
            // becomes visible in openDevices, so that a detach on the
            // hot-plug thread never meets half a session.
            auto* params = static_cast<remote_device_params*>(std::calloc(1, sizeof(remote_device_params)));
            device->user_defined = params;
            inkora_register_input_callback(device, inkora_remote_input_callback);
            if (params == nullptr ||
                inkora_thread_init(&params->read_thread, inkora_open_device_read_thread, device) != INKORA_CODE_SUCCESS) {
                inkora_close_device(device);
                std::free(params);
                device->user_defined = nullptr;
                inkora_free_device_list(device);
                inkora::remote::set_text(answer.error, answer.error_len, "Unable to start the device reading thread.");
            } else {
                MutexLock lock(openDevicesMutex);
                inkora_list_add(openDevices, device);
                answer.success = 1;
            }
        }
    }
    inkora::remote::send_reply(reply);
    inkora_free_device_list(chain);
}

void inkora_handle_close_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    const inkora_message_close_request& request = message->close_request;
    const char* name = inkora::remote::name_of(request.path);
    // Looked up and taken out in one step: a detach on the hot-plug thread
    // cannot end the same session meanwhile.
    inkora_device* device = inkora::remote::take_open_device(inkora_get_device_path(name));
    inkora_messages* reply = inkora::remote::new_message(INKORA_MESSAGE_CLOSE_RESPONSE, message->common.seq_num);
    if (reply == nullptr) {
        inkora::remote::end_session(device, false);
        return;
    }
    auto& answer = reply->close_response;
    inkora::remote::set_text(answer.path, answer.path_len, request.path, request.path != nullptr ? request.path_len : 0);
    if (device != nullptr) {
        if (inkora_close_device(device) == INKORA_CODE_SUCCESS) {
            answer.success = 1;
        } else {
            answer.success = 0;
            inkora::remote::set_text(answer.error, answer.error_len, inkora_get_last_error());
        }
        auto* params = static_cast<remote_device_params*>(device->user_defined);
        if (params != nullptr) {
            inkora_thread_join(&params->read_thread);
            std::free(params);
            device->user_defined = nullptr;
        }
        // Wiped after the join: a read cycle that was under way when the
        // pad closed can still queue its failure, and none of it may reach
        // a later session on the same path.
        {
            MutexLock lock(readMessagesMutex);
            inkora_list_item* item = readMessages->first;
            while (item != nullptr) {
                inkora_list_item* next = item->next;
                auto* record = static_cast<inkora_serial_input_report*>(item->ptr);
                if (record->path != nullptr && device->path != nullptr && std::strcmp(record->path, device->path) == 0) {
                    inkora_serial_free_input_report(record);
                    inkora_list_remove(readMessages, item);
                }
                item = next;
            }
        }
        INKORA_LOG_INFO("Freeing device %s", device->path);
        inkora_free_device_list(device);
    } else {
        char text[INKORA_REMOTE_ERROR_TEXT_LEN] = {};
        std::snprintf(text, sizeof text, "Unable to find device with path: %s", name);
        answer.success = 0;
        inkora::remote::set_text(answer.error, answer.error_len, text);
    }
    inkora::remote::send_reply(reply);
}

} // extern "C"
