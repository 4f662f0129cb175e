/*
 * Process-wide state of the device library shared by its modules: the
 * open-devices list and its lock, the hot-plug callback list and its lock,
 * the per-device lock that keeps close and a running read cycle apart, the
 * legacy-firmware switch, and the freeing of one device record.
 *
 * Lock order: a device lock may be held while taking the open-devices lock or
 * the hot-plug list lock, never the other way round.
 */
#ifndef INKORA_NIBLINE_PRIVATE_H
#define INKORA_NIBLINE_PRIVATE_H

#include <stdint.h>

#include "inkora-list.h"
#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Open devices: guarded by open_mutex; the list owns neither records nor their contents. */
INKORA_API inkora_list* inkora_get_open_devices(void);
INKORA_API void inkora_set_open_devices(inkora_list* list);
/* Creates open_mutex if it does not exist yet; called by inkora_init so that no first lock races. */
INKORA_API void inkora_create_open_mutex(void);
INKORA_API void inkora_lock_open_devices(void);
/* Replaces the list pointer; the caller holds the open-devices lock. */
INKORA_API void inkora_set_open_devices_locked(inkora_list* list);
INKORA_API void inkora_unlock_open_devices(void);

/* Hot-plug callbacks: the list pointer, and a lock held around every change and walk. */
INKORA_API inkora_list* inkora_get_device_callbacks(void);
INKORA_API void inkora_set_device_callbacks(inkora_list* list);
INKORA_API void inkora_lock_device_callbacks(void);
/* The list pointer, read and replaced; the caller holds the hot-plug list lock. */
INKORA_API inkora_list* inkora_get_device_callbacks_locked(void);
INKORA_API void inkora_set_device_callbacks_locked(inkora_list* list);
INKORA_API void inkora_unlock_device_callbacks(void);
/*
 * Copies up to capacity callbacks of the list into out, under the list's
 * lock, and returns how many the list holds (which may exceed capacity).
 * The monitor thread calls the copies without holding the lock.
 */
INKORA_API uint32_t inkora_copy_device_callbacks(inkora_hotplug_callback* out, uint32_t capacity);

/*
 * Per-device lock, recursive: held by a read cycle while it parses a report
 * and calls the input callbacks, by close while it releases the callback list
 * and the region table, and by callback registration. The lock lives beside
 * the record (the record layout is fixed) and is forgotten when the record
 * is freed.
 */
INKORA_API void inkora_lock_device(const inkora_device* device);
INKORA_API void inkora_unlock_device(const inkora_device* device);
INKORA_API void inkora_forget_device_lock(const inkora_device* device);

/* use_legacy_firmware: when 1 interlock waits are skipped. */
INKORA_API uint8_t inkora_get_use_legacy_firmware(void);
INKORA_API void inkora_set_use_legacy_firmware(uint8_t legacy);

/* Sets the last-error text and logs "Error reported: %s" at WARNING with the caller's location. */
INKORA_API void inkora_report_error_logged(const char* function, const char* file, int32_t line, const char* format,
                                           ...) INKORA_PRINTF(4, 5);

/*
 * Defined by the public module for the drivers: the start-up poll interval
 * (100 ms; tests shorten it), and the read cycle's last step: parse one raw
 * report and call the device's input callbacks with it, all under the device
 * lock (nothing is called when parsing fails or the device has no list).
 */
INKORA_API void inkora_set_startup_poll_interval_ms(uint32_t interval_ms);
INKORA_API void inkora_parse_and_deliver(inkora_device* device, const uint8_t* bytes, uint32_t length);

/* A new copy of text (an empty one for NULL), or NULL when memory runs out. */
INKORA_API char* inkora_duplicate_text(const char* text);

/* The Linux driver's free_device: frees the record and everything it owns. */
INKORA_API inkora_error_code inkora_real_free_device(inkora_device* device);

#ifdef __cplusplus
}
#endif

/* Set the last error and log it, from inside the library. */
#define INKORA_NIBLINE_ERROR(...) inkora_report_error_logged(__func__, __FILE__, __LINE__, __VA_ARGS__)

#endif /* INKORA_NIBLINE_PRIVATE_H */
