// The device library's lifecycle, driver list, device chains, and the
// public operations on a pad: listing, open with its start-up wait and
// queries, close, read cycles, callback registration, report forwarding.
#include "inkora-nibline.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "inkora-debug.h"
#include "inkora-graphics-enhanced-fonts.h"
#include "inkora-list.h"
#include "inkora-nibline-linux.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"
#include "inkora-nibline-simulated.h"

namespace {

constexpr const char* nibline_version = "2.3.15";
constexpr uint32_t nibline_version_major = 2;
constexpr uint32_t nibline_version_minor = 3;
constexpr uint32_t nibline_version_release = 15;
constexpr const char* nibline_build_date = "2023-09-22 13:25:09+0000";

// Registered drivers in registration order. Changed only by init, destroy and
// (un)registration, which the user calls before and after using devices.
inkora_list* inkora_driver_list = nullptr;

// Start-up wait: status polled every 100 ms until the pad has started, its
// status cannot be read, or more than 9 999 ms were waited.
constexpr uint32_t startup_wait_limit_ms = 9999;
uint32_t startup_poll_interval_ms = 100;

const char* driver_name(const inkora_device_driver* driver) {
    if (driver == nullptr || driver->get_name == nullptr)
        return "";
    const char* name = driver->get_name();
    return name != nullptr ? name : "";
}

// Releases what an open gathered: callback list, regions, uuid. Called with
// the device lock held, so no read cycle parses with them meanwhile.
void release_open_state(inkora_device* device) {
    inkora_list_free(device->input_callbacks);
    device->input_callbacks = nullptr;
    inkora_free_regions(device->regions);
    device->regions = nullptr;
    inkora_free_device_uuid(device->uuid);
    device->uuid = nullptr;
}

void add_to_open_devices(inkora_device* device) {
    inkora_lock_open_devices();
    inkora_list* list = inkora_get_open_devices();
    if (list == nullptr) {
        list = inkora_create_list();
        // Set directly: inkora_set_open_devices would take the lock again.
        if (list != nullptr)
            inkora_set_open_devices_locked(list);
    }
    if (list != nullptr && inkora_list_find(list, device) == nullptr)
        inkora_list_add(list, device);
    inkora_unlock_open_devices();
}

void remove_from_open_devices(inkora_device* device) {
    inkora_lock_open_devices();
    inkora_list_remove_ptr(inkora_get_open_devices(), device);
    inkora_unlock_open_devices();
}

// Calls every input callback of the device with one parsed report. Runs with
// the device lock held; a callback that closes the device ends the delivery
// (the list and the region table the record points into are gone then).
void deliver(inkora_device* device, inkora_input_report* report, const uint8_t* raw, uint32_t length) {
    const inkora_list* callbacks = device->input_callbacks;
    if (callbacks == nullptr)
        return;
    const inkora_list_item* item = callbacks->first;
    while (item != nullptr) {
        const auto callback = reinterpret_cast<inkora_input_callback>(item->ptr);
        // Taken before the call: a callback may unregister itself.
        const inkora_list_item* next = item->next;
        callback(device, report, report->type.report_id, raw, length);
        if (device->input_callbacks != callbacks)
            return;
        item = next;
    }
}

} // namespace

extern "C" {

void inkora_set_startup_poll_interval_ms(uint32_t interval_ms) { startup_poll_interval_ms = interval_ms; }

void inkora_parse_and_deliver(inkora_device* device, const uint8_t* bytes, uint32_t length) {
    inkora_lock_device(device);
    inkora_input_report* report = inkora_parse_input_report(device, bytes, length);
    if (report != nullptr)
        deliver(device, report, bytes, length);
    inkora_unlock_device(device);
    inkora_free_input_report(report);
}

uint8_t inkora_device_is_open(const inkora_device* device) {
    return device != nullptr ? __atomic_load_n(&device->open, __ATOMIC_ACQUIRE) : 0;
}

const char* inkora_get_nibline_version(void) { return nibline_version; }
uint32_t inkora_get_nibline_version_major(void) { return nibline_version_major; }
uint32_t inkora_get_nibline_version_minor(void) { return nibline_version_minor; }
uint32_t inkora_get_nibline_version_release(void) { return nibline_version_release; }
const char* inkora_get_nibline_build_date(void) { return nibline_build_date; }

void inkora_os_init(void) { INKORA_LOG_FINE("Initializing the Linux platform layer."); }

void inkora_os_destroy(void) {}

void inkora_load_additional_drivers(void) {
    const char* value = std::getenv("INKORA_SIMULATED_PADS");
    if (value == nullptr)
        return;
    // Exactly one digit from 1 to 8; anything else names no pad count.
    const std::string_view text(value);
    if (text.size() != 1 || text[0] < '1' || text[0] > '8') {
        INKORA_LOG_WARNING("INKORA_SIMULATED_PADS is '%s', not a number of pads from 1 to 8: no simulated pads.",
                           value);
        return;
    }
    inkora_simulated_set_pad_count(static_cast<uint32_t>(text[0] - '0'));
    inkora_add_device_driver(&inkora_simulated_driver);
}

void inkora_init(void) {
    INKORA_FUNCTION_SCOPE();
    inkora_debug_init("nibline");
    INKORA_LOG_INFO("Initalizing Nibline Native library, version: %s, date: %s", nibline_version,
                    nibline_build_date);
    // The open-devices lock exists before any thread can open a device.
    inkora_create_open_mutex();
    if (inkora_driver_list == nullptr)
        inkora_driver_list = inkora_create_list();
    inkora_add_device_driver(&inkora_real_driver);
    inkora_os_init();
    inkora_load_additional_drivers();
    INKORA_LOG_FINE("Attempting to initialize %u driver(s).", static_cast<unsigned>(inkora_get_driver_count()));
    if (inkora_driver_list == nullptr)
        return;
    for (inkora_list_item* item = inkora_driver_list->first; item != nullptr; item = item->next) {
        auto* driver = static_cast<inkora_device_driver*>(item->ptr);
        INKORA_LOG_FINE("Attempting to initialize driver '%s'.", driver_name(driver));
        if (driver->driver_init != nullptr && driver->driver_init() != 0) {
            INKORA_LOG_INFO("Successfully initialized '%s' driver.", driver_name(driver));
            driver->initialized = 1;
        } else {
            INKORA_LOG_WARNING("Failed to initialized '%s' driver: %s", driver_name(driver), inkora_get_last_error());
            driver->initialized = 0;
        }
    }
}

void inkora_destroy(void) {
    {
        INKORA_FUNCTION_SCOPE();
        if (inkora_driver_list != nullptr) {
            for (inkora_list_item* item = inkora_driver_list->first; item != nullptr; item = item->next) {
                auto* driver = static_cast<inkora_device_driver*>(item->ptr);
                if (driver->initialized == 1 && driver->driver_destroy != nullptr) {
                    driver->driver_destroy(driver);
                    // Stopping a driver's thread is only half of it: wait for
                    // it before the state it uses goes away.
                    if (driver->wait_thread != nullptr)
                        driver->wait_thread();
                    driver->initialized = 0;
                }
            }
        }
        inkora_lock_open_devices();
        inkora_list* open_devices = inkora_get_open_devices();
        if (open_devices != nullptr) {
            inkora_list_free(open_devices);
            inkora_set_open_devices_locked(nullptr);
        }
        inkora_unlock_open_devices();
        if (inkora_driver_list != nullptr) {
            for (inkora_list_item* item = inkora_driver_list->first; item != nullptr; item = item->next) {
                auto* driver = static_cast<inkora_device_driver*>(item->ptr);
                if (driver->shutdown != nullptr)
                    driver->shutdown();
            }
            inkora_list_free(inkora_driver_list);
            inkora_driver_list = nullptr;
        }
        inkora_os_destroy();
    }
    inkora_debug_destroy();
}

void inkora_add_device_driver(inkora_device_driver* driver) {
    INKORA_FUNCTION_SCOPE();
    if (driver == nullptr)
        return;
    if (inkora_driver_list == nullptr) {
        INKORA_LOG_INFO("Driver list was null loading driver '%s'.", driver_name(driver));
        return;
    }
    if (inkora_list_find(inkora_driver_list, driver) != nullptr) {
        INKORA_LOG_INFO("Driver was already in driver list '%s'.", driver_name(driver));
        return;
    }
    driver->debug = inkora_debug_report_message;
    driver->report_error = inkora_report_error_internal;
    driver->input_report = inkora_get_driver_input_report;
    driver->get_hotplug_callbacks = inkora_get_device_callbacks;
    INKORA_LOG_INFO("Adding driver to driver list: '%s'.", driver_name(driver));
    inkora_list_add(inkora_driver_list, driver);
}

void inkora_remove_device_driver(inkora_device_driver* driver) {
    if (inkora_driver_list == nullptr)
        return;
    inkora_list_remove_ptr(inkora_driver_list, driver);
}

size_t inkora_get_driver_count(void) { return inkora_list_count(inkora_driver_list); }

inkora_list* inkora_get_drivers(void) { return inkora_driver_list; }

void inkora_free_device_list(inkora_device* first) {
    INKORA_FUNCTION_SCOPE();
    inkora_device* device = first;
    while (device != nullptr) {
        remove_from_open_devices(device);
        inkora_device* next = device->next;
        if (device->driver != nullptr && device->driver->free_device != nullptr)
            device->driver->free_device(device);
        else
            inkora_real_free_device(device);
        device = next;
    }
}

uint32_t inkora_count_device_list(const inkora_device* first) {
    INKORA_FUNCTION_SCOPE();
    uint32_t count = 0;
    for (const inkora_device* device = first; device != nullptr; device = device->next)
        ++count;
    return count;
}

void inkora_handle_device_unplug(const char* path) {
    INKORA_FUNCTION_SCOPE();
    if (path == nullptr)
        return;
    // Collect the matching records under the lock, notify outside it: the
    // notification is a driver call and may take locks of its own.
    inkora_list* matches = inkora_create_list();
    if (matches == nullptr)
        return;
    inkora_lock_open_devices();
    const inkora_list* open_devices = inkora_get_open_devices();
    if (open_devices != nullptr) {
        for (const inkora_list_item* item = open_devices->first; item != nullptr; item = item->next) {
            auto* device = static_cast<inkora_device*>(item->ptr);
            if (device->path != nullptr && std::strcmp(device->path, path) == 0)
                inkora_list_add(matches, device);
        }
    }
    inkora_unlock_open_devices();
    for (inkora_list_item* item = matches->first; item != nullptr; item = item->next)
        inkora_device_notify_close(static_cast<inkora_device*>(item->ptr));
    inkora_list_free(matches);
}

inkora_error_code inkora_list_devices(inkora_device** head) {
    INKORA_FUNCTION_SCOPE();
    inkora_device* result = nullptr;
    inkora_device* last = nullptr;
    if (inkora_driver_list != nullptr) {
        for (inkora_list_item* item = inkora_driver_list->first; item != nullptr; item = item->next) {
            auto* driver = static_cast<inkora_device_driver*>(item->ptr);
            if (driver->initialized != 1 || driver->list_devices == nullptr)
                continue;
            inkora_device* chain = nullptr;
            if (driver->list_devices(driver, &chain) != INKORA_CODE_SUCCESS || chain == nullptr)
                continue;
            if (last == nullptr)
                result = chain;
            else
                last->next = chain;
            last = chain;
            while (last->next != nullptr)
                last = last->next;
        }
    }
    if (head != nullptr)
        *head = result;
    else
        inkora_free_device_list(result);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_open_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr) {
        INKORA_NIBLINE_ERROR("Parameter passed into inkora_open_device was null.");
        return INKORA_CODE_ERROR;
    }
    if (inkora_device_is_open(device) == 1) {
        INKORA_NIBLINE_ERROR("Device is already open.");
        return INKORA_CODE_ERROR;
    }
    const inkora_error_code opened = device->driver->open_device(device);
    if (opened != INKORA_CODE_SUCCESS)
        return opened;
    __atomic_store_n(&device->open, 1, __ATOMIC_RELEASE);

    // Start-up wait: a pad that answers is polled until it has started; one
    // whose status cannot be read is not waited for.
    bool initializing = true;
    uint32_t waited_ms = 0;
    while (initializing && waited_ms <= startup_wait_limit_ms) {
        inkora_hid_feature_device_status status;
        inkora_get_device_status_ref(device, &status);
        if (status.report_id != 0) {
            initializing = status.is_initializing != 0;
            usleep(startup_poll_interval_ms * 1000u);
            waited_ms += 100;
        } else {
            initializing = false;
        }
    }

    // Queries run outside the device lock (they only do feature requests);
    // their results are installed under it.
    inkora_hid_feature_display_info display_info;
    inkora_get_display_info_ref(device, &display_info);
    inkora_hid_feature_version version_info;
    inkora_get_version_ref(device, &version_info);
    inkora_lock_device(device);
    // The region read sizes its report from the record's display info.
    device->display_info = display_info;
    device->version_info = version_info;
    inkora_unlock_device(device);
    inkora_device_region_info* regions = inkora_get_regions(device);
    uint8_t* uuid = inkora_get_device_uuid(device);

    inkora_lock_device(device);
    release_open_state(device);
    device->input_callbacks = inkora_create_list();
    device->regions = regions;
    device->uuid = uuid;
    // Text drawn on the pad uses the device's font; the built-in default
    // until the application chooses another. The font tables are constant
    // data, the record keeps an untyped pointer.
    if (device->font == nullptr)
        device->font = const_cast<inkora_enhanced_font*>(&inkora_default);
    const bool complete = device->display_info.report_id != 0 && device->version_info.report_id != 0 &&
                          device->uuid != nullptr && device->regions != nullptr && device->input_callbacks != nullptr;
    inkora_unlock_device(device);
    if (complete) {
        add_to_open_devices(device);
        return INKORA_CODE_SUCCESS;
    }
    if (device->input_callbacks == nullptr)
        INKORA_NIBLINE_ERROR("Out of memory creating the input callback list.");
    device->driver->close_device(device);
    __atomic_store_n(&device->open, 0, __ATOMIC_RELEASE);
    return INKORA_CODE_ERROR;
}

inkora_error_code inkora_close_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr) {
        INKORA_NIBLINE_ERROR("Parameter passed into inkora_close_device was null.");
        return INKORA_CODE_ERROR;
    }
    // Exchange, not a test and a store: a read error on the reading thread
    // and a close request on another may arrive together, and only one of
    // them may close the node.
    if (__atomic_exchange_n(&device->open, 0, __ATOMIC_ACQ_REL) == 0) {
        INKORA_NIBLINE_ERROR("Device is already closed.");
        return INKORA_CODE_ERROR;
    }
    inkora_device_notify_close(device);
    inkora_lock_device(device);
    release_open_state(device);
    inkora_unlock_device(device);
    const inkora_error_code closed = device->driver->close_device(device);
    remove_from_open_devices(device);
    return closed;
}

inkora_error_code inkora_device_read(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return device->driver->device_read(device);
}

void inkora_register_input_callback(inkora_device* device, inkora_input_callback callback) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return;
    inkora_lock_device(device);
    if (device->input_callbacks != nullptr && callback != nullptr)
        inkora_list_add(device->input_callbacks, reinterpret_cast<void*>(callback));
    inkora_unlock_device(device);
    INKORA_LOG_INFO("Successfully added input callback to list.");
}

void inkora_unregister_input_callback(inkora_device* device, inkora_input_callback callback) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return;
    inkora_lock_device(device);
    if (device->input_callbacks == nullptr || device->input_callbacks->first == nullptr) {
        inkora_unlock_device(device);
        INKORA_LOG_INFO("Callbacks list is empty, nothing to remove.");
        return;
    }
    const uint8_t removed = inkora_list_remove_ptr(device->input_callbacks, reinterpret_cast<void*>(callback));
    inkora_unlock_device(device);
    if (removed != 0)
        INKORA_LOG_INFO("Successfully removed callback.");
}

void inkora_register_hotplug_callback(inkora_hotplug_callback callback) {
    INKORA_FUNCTION_SCOPE();
    inkora_lock_device_callbacks();
    inkora_list* list = inkora_get_device_callbacks_locked();
    if (list != nullptr && callback != nullptr)
        inkora_list_add(list, reinterpret_cast<void*>(callback));
    inkora_unlock_device_callbacks();
    INKORA_LOG_INFO("Successfully added hotplug callback to list.");
}

void inkora_unregister_hotplug_callback(inkora_hotplug_callback callback) {
    INKORA_FUNCTION_SCOPE();
    inkora_lock_device_callbacks();
    inkora_list* list = inkora_get_device_callbacks_locked();
    if (list == nullptr || list->first == nullptr) {
        inkora_unlock_device_callbacks();
        INKORA_LOG_INFO("Callbacks list is empty, nothing to remove.");
        return;
    }
    const uint8_t removed = inkora_list_remove_ptr(list, reinterpret_cast<void*>(callback));
    inkora_unlock_device_callbacks();
    if (removed != 0)
        INKORA_LOG_INFO("Successfully removed callback.");
}

void inkora_get_driver_input_report(inkora_device* device, const uint8_t* bytes, uint32_t length) {
    if (device == nullptr)
        return;
    // With no callback list (a record that is not open) nothing is delivered.
    inkora_parse_and_deliver(device, bytes, length);
}

inkora_error_code inkora_hid_set_output_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    return device->driver->set_output_report(device, bytes, length);
}

inkora_error_code inkora_hid_set_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    return device->driver->set_feature_report(device, bytes, length);
}

inkora_error_code inkora_hid_get_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    return device->driver->get_feature_report(device, bytes, length);
}

} // extern "C"
