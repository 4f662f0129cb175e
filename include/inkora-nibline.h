/*
 * The Nibline device library: signature pads as device records, the table of
 * driver operations behind them, opening, closing and reading pads with input
 * callbacks, parsed input reports, and the feature reports read at open.
 *
 * Threads: the library may be used from several threads at once for
 * different devices. For one device, the read cycle runs on its reading
 * thread while open, close and feature requests may come from another; a
 * per-device lock keeps close from freeing the callback list or the region
 * table under a running parse. Input callbacks run on the reading thread,
 * hot-plug callbacks on the library's hot-plug monitor thread.
 *
 * Failures: operations return INKORA_CODE_ERROR and leave a text in the
 * process-wide last-error buffer (inkora_get_last_error). Feature getters
 * return a zero-filled record (report_id 0) on failure.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_NIBLINE_H
#define INKORA_NIBLINE_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>

#include "inkora-debug.h"
#include "inkora-list.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Feature-report records read at open                                      */
/* ------------------------------------------------------------------------ */

/* Report 13, 73 bytes. report_id is 13 after a successful read, else all 0. */
typedef struct inkora_hid_feature_device_status {
    uint8_t report_id;
    uint8_t is_initializing;
    uint8_t is_idle;
    uint8_t calibration_required;
    uint8_t is_calibrating;
    uint8_t all_output_commands_locked;     /* interlock bit 0 */
    uint8_t operating_mode_commands_locked; /* interlock bit 1 */
    uint8_t region_commands_locked;         /* interlock bit 2 */
    uint8_t screen_commands_locked;         /* interlock bit 3 */
    uint8_t display_commands_locked;        /* interlock bit 4 */
    uint8_t calibration_commands_locked;    /* interlock bit 5 */
    uint8_t reserved1;
    uint16_t reserved2;
    uint16_t last_error;
    char error_info[64]; /* as sent, not necessarily terminated */
} inkora_hid_feature_device_status;

/* Report 100, 10 bytes. */
typedef struct inkora_hid_feature_display_info {
    uint8_t report_id;
    uint16_t width;  /* pixels */
    uint16_t height; /* pixels */
    uint8_t color_depth;
    uint8_t text_width;
    uint8_t text_height;
    uint8_t region_count;       /* number of regions of the pad */
    uint8_t max_caption_length; /* caption length in the region report */
} inkora_hid_feature_display_info;

/* Report 22, 9 bytes. */
typedef struct inkora_hid_feature_version {
    uint8_t report_id;
    uint8_t kernel_version[3];
    uint8_t firmware_version[3];
    uint16_t asic_signature;
} inkora_hid_feature_version;

/* Report 26, 2049 bytes. */
typedef struct inkora_hid_feature_error_correction_table {
    uint8_t report_id;
    uint8_t data[2048];
} inkora_hid_feature_error_correction_table;

#define INKORA_REPORT_ID_DEVICE_STATUS 13u
#define INKORA_REPORT_ID_DISPLAY_INFO 100u
#define INKORA_REPORT_ID_VERSION 22u
#define INKORA_REPORT_ID_ERROR_CORRECTION_TABLE 26u
#define INKORA_REPORT_ID_REGIONS 110u
#define INKORA_REPORT_ID_DEFAULT_REGIONS 111u

#define INKORA_DEVICE_STATUS_LENGTH 73u
#define INKORA_DISPLAY_INFO_LENGTH 10u
#define INKORA_VERSION_LENGTH 9u
#define INKORA_ERROR_CORRECTION_TABLE_LENGTH 2049u
/* Bytes of one region record beyond its caption. */
#define INKORA_REGION_RECORD_FIXED_LENGTH 29u
/* Longest caption kept in a button region (plus its NUL). */
#define INKORA_REGION_CAPTION_MAX 99u

/* ------------------------------------------------------------------------ */
/* Regions                                                                  */
/* ------------------------------------------------------------------------ */

typedef enum inkora_region_type {
    INKORA_REGION_TYPE_CONTAINER = 0,
    INKORA_REGION_TYPE_BUTTON = 1,
    INKORA_REGION_TYPE_LINE = 2,
    INKORA_REGION_TYPE_GRAPHIC = 3,
    INKORA_REGION_TYPE_TEXT = 4,
    INKORA_REGION_TYPE_NULL = 255
} inkora_region_type;

typedef struct inkora_color {
    uint8_t alpha;
    uint8_t blue;
    uint8_t green;
    uint8_t red;
} inkora_color;

typedef struct inkora_device_region_common {
    uint8_t region_number; /* 1-based */
    inkora_region_type region_type;
    uint8_t accept_touch;
    uint8_t decode;
    uint8_t visible;
    uint8_t in_use;
    uint8_t has_frame;
    uint8_t reserved_1;
    uint32_t reserved_2;
    uint16_t x1;
    uint16_t x2;
    uint16_t y1;
    uint16_t y2;
    inkora_color color_foreground;
    inkora_color color_background;
} inkora_device_region_common;

typedef struct inkora_device_region_container {
    inkora_device_region_common region_info;
    uint8_t ink_enable;
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint16_t reserved_3;
} inkora_device_region_container;

typedef struct inkora_device_region_button {
    inkora_device_region_common region_info;
    uint8_t parent;
    uint8_t enable;
    uint8_t highlight_on_select;
    uint8_t clear_on_select;
    uint16_t reserved;
    char caption[100]; /* NUL-terminated; at most 99 characters */
} inkora_device_region_button;

typedef struct inkora_device_region_line {
    inkora_device_region_common region_info;
    uint8_t parent;
    uint8_t width;
    uint16_t reserved;
} inkora_device_region_line;

/* Graphic and text regions use common only. */
typedef union inkora_device_region_info {
    inkora_device_region_common common;
    inkora_device_region_container container;
    inkora_device_region_button button;
    inkora_device_region_line line;
} inkora_device_region_info;

/* Interlock bits: bit k is the k-th locked flag of the device status. */
typedef enum interlock_types {
    INTERLOCK_REPORTBUFFER = 1,
    INTERLOCK_OPERATINGMODE = 2,
    INTERLOCK_REGION = 4,
    INTERLOCK_SCREEN = 8,
    INTERLOCK_DISPLAY = 16,
    INTERLOCK_CALIBRATE = 32
} interlock_types;

/* ------------------------------------------------------------------------ */
/* Parsed input reports                                                     */
/* ------------------------------------------------------------------------ */

typedef struct inkora_sample_info_common {
    uint8_t down; /* pen or contact down, 0/1 */
    uint8_t reserved1;
    uint8_t data_source; /* bit 4 of the sample byte kept in place: 0 or 0x10 */
    uint8_t reserved2;
} inkora_sample_info_common;

typedef struct inkora_sample_info_pen {
    uint8_t tip_switch;
    uint8_t reserved1;
    uint8_t data_source;
    uint8_t reserved2;
} inkora_sample_info_pen;

typedef struct inkora_sample_info_touch {
    uint8_t contact;
    uint8_t contact_id;
    uint8_t reserved1;
    uint8_t data_source;
    uint8_t reserved2;
} inkora_sample_info_touch;

/* Five bytes; the parser fills byte 0 (down) and byte 2 (data source). */
typedef union inkora_sample_info {
    inkora_sample_info_common common;
    inkora_sample_info_pen pen;
    inkora_sample_info_touch touch;
} inkora_sample_info;

typedef enum inkora_adc_data_type {
    INKORA_ADC_DATA_TYPE_SCAN = 2,
    INKORA_ADC_DATA_TYPE_CHANNEL = 3
} inkora_adc_data_type;

typedef enum inkora_cardswipe_type {
    INKORA_CARDSWIPE_TYPE_FINANCIAL = 1,
    INKORA_CARDSWIPE_TYPE_IDENTIFICATION = 2,
    INKORA_CARDSWIPE_TYPE_UNKNOWN = 255
} inkora_cardswipe_type;

typedef enum inkora_cardswipe_track_status {
    INKORA_CARDSWIPE_STATUS_VALID = 0,
    INKORA_CARDSWIPE_STATUS_PARITY_ERROR = 1,
    INKORA_CARDSWIPE_STATUS_UNKNOWN_FORMAT = 16,
    INKORA_CARDSWIPE_STATUS_CORRUPT = 17
} inkora_cardswipe_track_status;

/* Report ids sent by the pad. */
#define INKORA_INPUT_REPORT_COORDINATE 1u
#define INKORA_INPUT_REPORT_EXTENDED_COORDINATE 2u
#define INKORA_INPUT_REPORT_ADC_VALUES 3u
#define INKORA_INPUT_REPORT_CARD_SWIPE 12u
#define INKORA_INPUT_REPORT_DEBUG_COORDINATE 254u
/* Report ids made by the parser for button regions. */
#define INKORA_INPUT_REPORT_BUTTON_DOWN 250u
#define INKORA_INPUT_REPORT_BUTTON_MOVE 251u
#define INKORA_INPUT_REPORT_BUTTON_UP 252u
#define INKORA_INPUT_REPORT_BUTTON_PRESS 253u

typedef struct inkora_hid_input_type {
    uint8_t report_id;
} inkora_hid_input_type;

typedef struct inkora_hid_input_coordinate {
    uint8_t report_id;
    inkora_sample_info sample_info;
    uint16_t x;
    uint16_t y;
} inkora_hid_input_coordinate;

typedef struct inkora_hid_input_extended_coordinate {
    uint8_t report_id;
    inkora_sample_info sample_info;
    uint16_t x;
    uint16_t y;
    uint8_t region; /* region number, 0 = none */
} inkora_hid_input_extended_coordinate;

typedef struct inkora_hid_input_scan_values {
    inkora_sample_info sample_info;
    uint16_t x_max;
    uint16_t x_min;
    uint16_t y_max;
    uint16_t y_min;
} inkora_hid_input_scan_values;

typedef struct inkora_hid_input_channel_values {
    uint8_t channel_number;
    uint16_t sample1;
    uint16_t sample2;
    uint16_t sample3;
    uint16_t sample4;
} inkora_hid_input_channel_values;

typedef struct inkora_hid_input_adc_values {
    uint8_t report_id;
    inkora_adc_data_type data_type;
    union {
        inkora_hid_input_scan_values scan_values;
        inkora_hid_input_channel_values channel_values;
    } adc_data;
} inkora_hid_input_adc_values;

typedef struct inkora_hid_input_card_swipe {
    uint8_t report_id;
    inkora_cardswipe_type card_format;
    inkora_cardswipe_track_status track1_status;
    inkora_cardswipe_track_status track2_status;
    inkora_cardswipe_track_status track3_status;
    uint8_t track1[79]; /* copied as sent, no terminator added */
    uint8_t track2[40];
    uint8_t track3[107];
} inkora_hid_input_card_swipe;

typedef struct inkora_hid_input_debug_coordinate {
    uint8_t report_id;
    inkora_sample_info sample_info;
    uint16_t offset;
    uint16_t x_max;
    uint16_t x_min;
    uint16_t y_max;
    uint16_t y_min;
    uint16_t x_errcor;
    uint16_t y_errcor;
    uint16_t x_mapped;
    uint16_t y_mapped;
    uint8_t region;
} inkora_hid_input_debug_coordinate;

/* A synthesized button report; region points into the device's region table. */
typedef struct inkora_hid_input_button {
    uint8_t report_id;
    uint16_t x;
    uint16_t y;
    inkora_device_region_info* region;
} inkora_hid_input_button;

typedef inkora_hid_input_button inkora_hid_input_button_down;
typedef inkora_hid_input_button inkora_hid_input_button_move;
typedef inkora_hid_input_button inkora_hid_input_button_up;
typedef inkora_hid_input_button inkora_hid_input_button_press;

/* A parsed input report: every member starts with report_id. */
typedef union inkora_input_report {
    inkora_hid_input_type type;
    inkora_hid_input_coordinate coordinate;
    inkora_hid_input_extended_coordinate extended_coordinate;
    inkora_hid_input_adc_values adc_values;
    inkora_hid_input_card_swipe card_swipe;
    inkora_hid_input_debug_coordinate debug_coordinate;
    inkora_hid_input_button_down button_down;
    inkora_hid_input_button_move button_move;
    inkora_hid_input_button_up button_up;
    inkora_hid_input_button_press button_press;
} inkora_input_report;

/* ------------------------------------------------------------------------ */
/* Devices and drivers                                                      */
/* ------------------------------------------------------------------------ */

#define INKORA_HID_REPORT_MAP_SIZE 255u

/* The Linux HID driver's per-device state. */
typedef struct inkora_device_os_params {
    int32_t handle;              /* descriptor of the open hidraw node */
    uint8_t interrupted;         /* 1: the next read cycle closes the device */
    pthread_t readUntilDoneThread; /* 0 when no read-until-done loop runs */
    uint8_t hid_report_map[INKORA_HID_REPORT_MAP_SIZE]; /* index = report id 0-254 */
} inkora_device_os_params;

typedef struct inkora_device_driver inkora_device_driver;
typedef struct inkora_device inkora_device;

/* One pad. Made zero-filled by a driver's list_devices. */
struct inkora_device {
    char* path;             /* node path: the pad's identity; owned */
    uint16_t product_id;
    uint16_t vendor_id;
    char* model;            /* USB product string; owned */
    char* manufacturer;     /* USB manufacturer string; owned */
    uint8_t* uuid;          /* 16 bytes while open, else NULL; owned */
    uint8_t open;           /* 1 while open */
    uint8_t button_down;    /* parser state: a contact begun in a button is going on */
    uint8_t last_button;    /* 1-based number of that button region */
    inkora_hid_feature_display_info display_info;
    inkora_hid_feature_version version_info;
    inkora_device_region_info* regions; /* display_info.region_count entries while open */
    inkora_list* input_callbacks;       /* of inkora_input_callback; while open */
    void* user_defined;     /* the library's user's; never touched by the library */
    inkora_device* next;    /* next record of an enumeration chain */
    inkora_device_driver* driver;
    void* driver_defined;   /* a driver's own per-device data */
    void* font;             /* font for text drawn on the pad */
    inkora_device_os_params parameters;
};

typedef enum inkora_hotplug_type {
    INKORA_HOTPLUG_ATTACHED = 0,
    INKORA_HOTPLUG_DETACHED = 1
} inkora_hotplug_type;

/*
 * Input callback: (device, parsed record, report type = the record's first
 * byte, raw bytes as read, raw length). Record and bytes are valid only during
 * the call.
 */
typedef void (*inkora_input_callback)(inkora_device* device, inkora_input_report* report, uint8_t report_type,
                                      const uint8_t* raw, uint32_t raw_length);
/* Hot-plug callback: (type, node path); the path is valid only during the call. */
typedef void (*inkora_hotplug_callback)(inkora_hotplug_type type, const char* path);

typedef inkora_error_code (*inkora_driver_init_func)(void);
typedef inkora_error_code (*inkora_driver_destroy_func)(inkora_device_driver* driver);
typedef inkora_error_code (*inkora_open_device_func)(inkora_device* device);
typedef inkora_error_code (*inkora_close_device_func)(inkora_device* device);
typedef inkora_error_code (*inkora_list_devices_func)(inkora_device_driver* driver, inkora_device** head);
typedef inkora_error_code (*inkora_read_device_func)(inkora_device* device);
typedef inkora_error_code (*inkora_set_output_report_func)(inkora_device* device, uint8_t* bytes, uint32_t length);
typedef inkora_error_code (*inkora_set_feature_report_func)(inkora_device* device, uint8_t* bytes, uint32_t length);
typedef inkora_error_code (*inkora_get_feature_report_func)(inkora_device* device, uint8_t* bytes, uint32_t length);
typedef const char* (*inkora_get_driver_name_func)(void);
typedef uint8_t (*inkora_driver_thread_func)(void);
typedef void (*inkora_driver_thread_wait_func)(void);
typedef void (*inkora_driver_shutdown_func)(void);
typedef inkora_list* (*get_hotplug_callbacks_func)(void);
typedef inkora_error_code (*inkora_driver_device_free_func)(inkora_device* device);
typedef void (*inkora_report_error_func)(const char* format, ...);
typedef void (*inkora_debug_func)(const char* function, const char* file, int32_t line, inkora_debug_level level,
                                  const char* format, ...);
typedef void (*inkora_deliver_input_report_func)(inkora_device* device, const uint8_t* bytes, uint32_t length);

/*
 * The operations of one driver. Slots get_hotplug_callbacks, report_error,
 * debug and input_report are left NULL by the driver and filled in by
 * inkora_add_device_driver.
 */
struct inkora_device_driver {
    inkora_driver_init_func driver_init;       /* any non-zero result is success */
    inkora_driver_destroy_func driver_destroy;
    inkora_open_device_func open_device;       /* does not touch open */
    inkora_close_device_func close_device;
    inkora_list_devices_func list_devices;     /* new records, driver set, linked by next */
    inkora_read_device_func device_read;       /* one read cycle */
    inkora_set_output_report_func set_output_report;
    inkora_set_feature_report_func set_feature_report;
    inkora_get_feature_report_func get_feature_report; /* byte 0 = id in, whole report out */
    inkora_get_driver_name_func get_name;
    inkora_driver_thread_func thread_running;
    inkora_driver_thread_wait_func wait_thread;
    uint8_t initialized; /* 1 when driver_init succeeded at inkora_init */
    inkora_driver_shutdown_func shutdown;
    get_hotplug_callbacks_func get_hotplug_callbacks;
    inkora_driver_device_free_func free_device;
    inkora_report_error_func report_error;
    inkora_debug_func debug;
    inkora_deliver_input_report_func input_report;
};

/* ------------------------------------------------------------------------ */
/* Library lifecycle, drivers, versions, last error, chains                 */
/* ------------------------------------------------------------------------ */

/* Starts the library once per process: log, driver list, built-in driver, hot-plug monitor. */
INKORA_API void inkora_init(void);
/* Stops the library: destroys and shuts the drivers down, waits for their threads, frees the lists. */
INKORA_API void inkora_destroy(void);
INKORA_API void inkora_add_device_driver(inkora_device_driver* driver);
INKORA_API void inkora_remove_device_driver(inkora_device_driver* driver);
INKORA_API size_t inkora_get_driver_count(void);
/* The driver list itself, not a copy. */
INKORA_API inkora_list* inkora_get_drivers(void);
INKORA_API void inkora_os_init(void);
INKORA_API void inkora_os_destroy(void);
/* Registers the simulated driver when INKORA_SIMULATED_PADS is a number from 1 to 8. */
INKORA_API void inkora_load_additional_drivers(void);

INKORA_API const char* inkora_get_nibline_version(void);
INKORA_API uint32_t inkora_get_nibline_version_major(void);
INKORA_API uint32_t inkora_get_nibline_version_minor(void);
INKORA_API uint32_t inkora_get_nibline_version_release(void);
INKORA_API const char* inkora_get_nibline_build_date(void);

/* Sets the process-wide last-error text (at most 1022 characters kept). */
INKORA_API void inkora_report_error_internal(const char* format, ...) INKORA_PRINTF(1, 2);
/* The last-error buffer itself; its last byte is always NUL. */
INKORA_API const char* inkora_get_last_error_internal(void);
INKORA_API const char* inkora_get_last_error(void);

/* Frees the record and every record after it; open records are first taken off the open-devices list. */
INKORA_API void inkora_free_device_list(inkora_device* first);
INKORA_API uint32_t inkora_count_device_list(const inkora_device* first);
/* Calls the close notification for every open record whose path equals path. */
INKORA_API void inkora_handle_device_unplug(const char* path);
/*
 * The open flag read atomically: a reading loop on one thread checks it while
 * close on another thread clears it. Use this rather than reading the field.
 */
INKORA_API uint8_t inkora_device_is_open(const inkora_device* device);

/* ------------------------------------------------------------------------ */
/* Open, close, read, callbacks, report forwarding                          */
/* ------------------------------------------------------------------------ */

/* Lists the pads of every initialised driver; the chain belongs to the caller. Always SUCCESS. */
INKORA_API inkora_error_code inkora_list_devices(inkora_device** head);
/* Opens a listed record: driver open, start-up wait, display info, version, regions, uuid. */
INKORA_API inkora_error_code inkora_open_device(inkora_device* device);
/* Closes an open record; the record stays with the caller. */
INKORA_API inkora_error_code inkora_close_device(inkora_device* device);
/* One read cycle: waits up to one second for an input report and delivers it. */
INKORA_API inkora_error_code inkora_device_read(inkora_device* device);
INKORA_API void inkora_register_input_callback(inkora_device* device, inkora_input_callback callback);
INKORA_API void inkora_unregister_input_callback(inkora_device* device, inkora_input_callback callback);
INKORA_API void inkora_register_hotplug_callback(inkora_hotplug_callback callback);
INKORA_API void inkora_unregister_hotplug_callback(inkora_hotplug_callback callback);
/* Parses and delivers one raw input report (for drivers that receive input by their own means). */
INKORA_API void inkora_get_driver_input_report(inkora_device* device, const uint8_t* bytes, uint32_t length);
INKORA_API inkora_error_code inkora_hid_set_output_report(inkora_device* device, uint8_t* bytes, uint32_t length);
INKORA_API inkora_error_code inkora_hid_set_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length);
INKORA_API inkora_error_code inkora_hid_get_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length);

/* ------------------------------------------------------------------------ */
/* Input report parsing                                                     */
/* ------------------------------------------------------------------------ */

/* A new record (free with inkora_free_input_report), or NULL with the last error set. */
INKORA_API inkora_input_report* inkora_parse_input_report(inkora_device* device, const uint8_t* bytes,
                                                          uint32_t length);
INKORA_API void inkora_free_input_report(inkora_input_report* report);
/* Minimum length for the report id in byte 0; 0 (last error set) for an unknown id or NULL. */
INKORA_API uint32_t inkora_get_input_report_expected_length(const uint8_t* bytes);

/* ------------------------------------------------------------------------ */
/* Feature reports read at open                                             */
/* ------------------------------------------------------------------------ */

/* Little-endian access at a byte offset. */
INKORA_API int16_t get2(const uint8_t* buffer, int32_t offset);
INKORA_API int64_t get4(const uint8_t* buffer, int32_t offset);
INKORA_API void put2(uint8_t* buffer, int32_t offset, uint16_t value);
INKORA_API void put4(uint8_t* buffer, int32_t offset, uint64_t value);

/* Polls the status until none of the interlock bits is set: 1 when free, 0 after tries polls. */
INKORA_API uint8_t wait_for_interlock(inkora_device* device, int32_t tries, int32_t interlock);
/* Sets use_legacy_firmware (skips interlock waits); version is ignored. */
INKORA_API void inkora_set_legacy_firmware(int32_t version, uint8_t legacy);

INKORA_API void inkora_get_device_status_ref(inkora_device* device, inkora_hid_feature_device_status* status);
INKORA_API inkora_hid_feature_device_status inkora_get_device_status(inkora_device* device);
/* Clears the pad's own error by sending an empty status report. */
INKORA_API inkora_error_code inkora_clear_last_error(inkora_device* device);
INKORA_API inkora_hid_feature_display_info inkora_get_display_info(inkora_device* device);
INKORA_API void inkora_get_display_info_ref(inkora_device* device, inkora_hid_feature_display_info* info);
INKORA_API inkora_hid_feature_version inkora_get_version(inkora_device* device);
INKORA_API void inkora_get_version_ref(inkora_device* device, inkora_hid_feature_version* version);
INKORA_API inkora_hid_feature_error_correction_table inkora_get_error_correction_table(inkora_device* device);
INKORA_API void inkora_get_error_correction_table_ref(inkora_device* device,
                                                      inkora_hid_feature_error_correction_table* table);
/* 16 new bytes (MD5 of the error-correction table), or NULL. Free with inkora_free_device_uuid. */
INKORA_API uint8_t* inkora_get_device_uuid(inkora_device* device);
INKORA_API void inkora_free_device_uuid(uint8_t* uuid);
/* New arrays of display_info.region_count entries (current / default regions), or NULL. */
INKORA_API inkora_device_region_info* inkora_get_regions(inkora_device* device);
INKORA_API inkora_device_region_info* inkora_get_default_regions(inkora_device* device);
/* Decodes count region records of caption length caption_length from a region report. */
INKORA_API void inkora_parse_regions(const uint8_t* report, inkora_device_region_info* regions, uint32_t count,
                                     uint32_t caption_length);
INKORA_API void inkora_free_regions(inkora_device_region_info* regions);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_H */
