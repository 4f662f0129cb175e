/*
 * The Linux HID driver "REAL": pads found through udev among the hidraw
 * nodes (USB vendor 0x18FB, any product but 0x1001), input read from the node
 * with a one-second wait, feature reports through the hidraw ioctls, and the
 * hot-plug monitor thread on the udev netlink source.
 *
 * Texts of this driver that quote a system error carry errno and its
 * strerror text and end with a line feed.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_NIBLINE_LINUX_H
#define INKORA_NIBLINE_LINUX_H

#include <stdint.h>

#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define INKORA_PAD_VENDOR_ID 0x18FBu
#define INKORA_EXCLUDED_PRODUCT_ID 0x1001u

/* The built-in driver table; registered by inkora_init. */
INKORA_API extern inkora_device_driver inkora_real_driver;

INKORA_API inkora_error_code inkora_real_list_devices(inkora_device_driver* driver, inkora_device** head);
INKORA_API inkora_error_code inkora_real_open_device(inkora_device* device);
INKORA_API inkora_error_code inkora_real_close_device(inkora_device* device);
/* One read cycle: select up to 1 s, read up to 512 bytes, parse, call the input callbacks. */
INKORA_API inkora_error_code inkora_real_device_read(inkora_device* device);
/* Refused (nothing sent) when the report id is not declared by the pad's report descriptor. */
INKORA_API inkora_error_code inkora_real_hid_set_feature_report(inkora_device* device, uint8_t* bytes,
                                                                uint32_t length);
INKORA_API inkora_error_code inkora_real_hid_get_feature_report(inkora_device* device, uint8_t* bytes,
                                                                uint32_t length);
/* Sends nothing: output reports travel as feature reports. */
INKORA_API inkora_error_code inkora_real_hid_set_output_report(inkora_device* device, uint8_t* bytes,
                                                               uint32_t length);
INKORA_API const char* inkora_real_get_driver_name(void);
INKORA_API void inkora_real_shutdown(void);
INKORA_API void inkora_device_notify_close(inkora_device* device);
INKORA_API void inkora_device_read_until_done(inkora_device* device);
INKORA_API void inkora_device_read_done(inkora_device* device);

/* Lower-case hex text to a number: -1 for any other character, 0 for the empty text. */
INKORA_API int32_t inkora_hex_to_decimal(const char* text);
INKORA_API inkora_error_code fill_hid_report_map(inkora_device* device);
/* Sets map[id] for every Report ID item (ids 0-254; an item naming 255 is ignored). */
INKORA_API void parse_hid_descriptor(const uint8_t* descriptor, uint32_t length, uint8_t* map);

/* Hot-plug monitor. */
INKORA_API inkora_error_code inkora_real_driver_init(void);
INKORA_API inkora_error_code inkora_real_driver_destroy(inkora_device_driver* driver);
INKORA_API void* inkora_hotplug_thread(void* argument);
INKORA_API uint8_t inkora_real_thread_running(void);
/* Joins the monitor thread; returns at once when it was joined already or never started. */
INKORA_API void inkora_real_thread_wait(void);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_LINUX_H */
