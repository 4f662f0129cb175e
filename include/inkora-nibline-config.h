/*
 * The Nibline device configuration API: the pad's configuration feature
 * reports (one record, getter, setter and printer per report), the
 * procedures built on them (run mode, serial number, calibration,
 * error-correction table, firmware download, the extended command report,
 * pen input simulation), the region, screen and resource reports, clearing
 * the display, restoring the default regions and the two signature modes.
 *
 * Access pattern, for every report:
 * - inkora_get_X(device) returns the record by value; on failure the record
 *   is all zero (report_id 0) and "Unable to get report: %s" is logged at
 *   WARNING. inkora_get_X_ref(device, record) fills the caller's record with
 *   the same result.
 * - inkora_set_X(device, record) encodes the record (its own report_id is
 *   not sent: the id is the report's) and returns INKORA_CODE_SUCCESS when
 *   the pad took the report, INKORA_CODE_ERROR otherwise with the cause in
 *   the last-error text (inkora_get_last_error).
 * - Records are not validated: out-of-range values and over-wide bit fields
 *   are sent as they are.
 *
 * Threads: no operation takes a lock of its own beyond the device's region
 * table lock; each is one or more feature-report exchanges on the caller's
 * thread. A caller configuring one pad from several threads serialises the
 * calls itself, and must not run a procedure while another thread relies on
 * the pad's run mode.
 *
 * PRINTERS (inkora_print_*) WRITE TO THE PROCESS'S STANDARD OUTPUT. In the
 * agent program standard output carries the wire protocol, so no agent code
 * path may call a printer; they are for applications and tools linked
 * against the library.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_NIBLINE_CONFIG_H
#define INKORA_NIBLINE_CONFIG_H

#include <stdint.h>

#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Report ids and lengths (lengths count the report-id byte)                */
/* ------------------------------------------------------------------------ */

#define INKORA_REPORT_ID_POWER_STATE_WRITE 2u
#define INKORA_REPORT_ID_RUN_MODE 10u
#define INKORA_REPORT_ID_CAPABILITIES 11u
#define INKORA_REPORT_ID_DEVICE_CONFIGURE 15u
#define INKORA_REPORT_ID_CONTACT_COUNT_MAXIMUM 16u
#define INKORA_REPORT_ID_FREQUENCY_AMPLITUDE 20u
#define INKORA_REPORT_ID_POWER_STATE 21u
#define INKORA_REPORT_ID_COORDINATE_RANGE 23u
#define INKORA_REPORT_ID_FIRMWARE_DOWNLOAD 25u
#define INKORA_REPORT_ID_SERIAL_NUMBER 27u
#define INKORA_REPORT_ID_STARTUP_MODE 28u
#define INKORA_REPORT_ID_DOWNLOAD_COMMAND_STATUS 29u
#define INKORA_REPORT_ID_OPERATING_MODES 40u
#define INKORA_REPORT_ID_GENERAL_PARAMETERS 41u
#define INKORA_REPORT_ID_ASIC_RESET 42u
#define INKORA_REPORT_ID_ASIC_REGISTER_READ 43u
#define INKORA_REPORT_ID_ASIC_REGISTER_WRITE 44u
#define INKORA_REPORT_ID_PEN_PARAMETERS 50u
#define INKORA_REPORT_ID_TOUCH_PARAMETERS 60u
#define INKORA_REPORT_ID_OUTPUT_CONFIGURATION 91u
#define INKORA_REPORT_ID_PERIPHERAL_CONFIGURATION 92u
#define INKORA_REPORT_ID_DISPLAY_SETTINGS 102u
#define INKORA_REPORT_ID_REGION_WRITE 112u
#define INKORA_REPORT_ID_REGION_UPDATE 113u
#define INKORA_REPORT_ID_REGION_DELETE 114u
#define INKORA_REPORT_ID_REGION_COMMIT 115u
#define INKORA_REPORT_ID_CALIBRATE 130u
#define INKORA_REPORT_ID_CALIBRATION_DATA 131u
#define INKORA_REPORT_ID_RESOURCE_INDEX 140u
#define INKORA_REPORT_ID_RESOURCE_INFO 141u
#define INKORA_REPORT_ID_RESOURCE 142u
#define INKORA_REPORT_ID_RESOURCE_DELETE 143u
#define INKORA_REPORT_ID_RESOURCE_AVAILABILITY 144u
#define INKORA_REPORT_ID_REGION_INDEX 150u
#define INKORA_REPORT_ID_INDEXED_REGION 152u
#define INKORA_REPORT_ID_DEVICE_REGION_DELETE 153u
#define INKORA_REPORT_ID_SCREEN_INDEX 160u
#define INKORA_REPORT_ID_SCREEN 162u
#define INKORA_REPORT_ID_SCREEN_DELETE 163u
#define INKORA_REPORT_ID_EDIT_SCREEN 164u
#define INKORA_REPORT_ID_SCREEN_REGION_INFO 170u
#define INKORA_REPORT_ID_ACTIVE_SCREEN 171u
#define INKORA_REPORT_ID_SCREEN_REGION_COMMIT 172u
#define INKORA_REPORT_ID_EXTENDED_COMMAND 230u
#define INKORA_REPORT_ID_PEN_INPUT_SIMULATION 253u

#define INKORA_CAPABILITIES_LENGTH 65u
#define INKORA_DISPLAY_SETTINGS_LENGTH 7u
#define INKORA_DEVICE_CONFIGURE_LENGTH 3u
#define INKORA_CONTACT_COUNT_MAXIMUM_LENGTH 2u
#define INKORA_FREQUENCY_AMPLITUDE_LENGTH 4u
#define INKORA_POWER_STATE_LENGTH 2u
#define INKORA_COORDINATE_RANGE_LENGTH 9u
#define INKORA_SERIAL_NUMBER_LENGTH 35u
#define INKORA_OPERATING_MODES_LENGTH 5u
#define INKORA_GENERAL_PARAMETERS_LENGTH 6u
#define INKORA_ASIC_RESET_LENGTH 2u
#define INKORA_ASIC_REGISTER_READ_LENGTH 9u
#define INKORA_ASIC_REGISTER_WRITE_LENGTH 3u
#define INKORA_PEN_PARAMETERS_LENGTH 18u
#define INKORA_TOUCH_PARAMETERS_LENGTH 22u
#define INKORA_OUTPUT_CONFIGURATION_LENGTH 10u
#define INKORA_PERIPHERAL_CONFIGURATION_LENGTH 17u
#define INKORA_CALIBRATION_DATA_LENGTH 49u
#define INKORA_RUN_MODE_LENGTH 2u
#define INKORA_FIRMWARE_DOWNLOAD_LENGTH 134u
#define INKORA_STARTUP_MODE_LENGTH 2u
#define INKORA_DOWNLOAD_COMMAND_STATUS_LENGTH 3u
#define INKORA_REGION_COMMIT_LENGTH 2u
#define INKORA_CALIBRATE_LENGTH 2u
#define INKORA_EXTENDED_COMMAND_LENGTH 69u
#define INKORA_PEN_INPUT_SIMULATION_LENGTH 67u
/* Region reports: fixed bytes beyond the caption (c = max_caption_length). */
#define INKORA_REGION_WRITE_FIXED_LENGTH 30u   /* report 112: c + 30 */
#define INKORA_REGION_UPDATE_LENGTH 12u
#define INKORA_REGION_DELETE_LENGTH 2u
#define INKORA_REGION_INDEX_LENGTH 2u
#define INKORA_INDEXED_REGION_FIXED_LENGTH 34u /* report 152: c + 34 */
#define INKORA_RESOURCE_INDEX_LENGTH 2u
#define INKORA_RESOURCE_INFO_LENGTH 20u
#define INKORA_RESOURCE_LENGTH 1045u
#define INKORA_RESOURCE_DELETE_LENGTH 2u
#define INKORA_RESOURCE_AVAILABILITY_LENGTH 18u
#define INKORA_SCREEN_INDEX_LENGTH 2u
#define INKORA_SCREEN_LENGTH 80u
#define INKORA_SCREEN_DELETE_LENGTH 2u
#define INKORA_EDIT_SCREEN_LENGTH 13u
#define INKORA_SCREEN_REGION_INFO_LENGTH 25u
#define INKORA_ACTIVE_SCREEN_LENGTH 2u
#define INKORA_SCREEN_REGION_COMMIT_LENGTH 2u
/* Entries of a screen's region and follow-on lists: in the record / in report 162. */
#define INKORA_SCREEN_LIST_CAPACITY 100u
#define INKORA_SCREEN_REPORT_LIST_LENGTH 30u

/*
 * Write keys: the two bytes that the library sends with a serial-number write
 * (report 27, bytes 33 and 34) and with a hardware-identifier write (report
 * 230 command 0x75, bytes 2 and 3). The pad accepts those writes only with
 * the keys its firmware expects; these are the values this library sends,
 * kept here in one place.
 */
#define INKORA_SERIAL_NUMBER_WRITE_KEY_1 0x53u
#define INKORA_SERIAL_NUMBER_WRITE_KEY_2 0xAAu
#define INKORA_HARDWARE_GUID_WRITE_KEY_1 0x47u
#define INKORA_HARDWARE_GUID_WRITE_KEY_2 0xB8u

/* Extended commands: byte 1 of report 230. */
#define INKORA_EXTENDED_COMMAND_TUNING 0x54u
#define INKORA_EXTENDED_COMMAND_HARDWARE_CONFIGURATION 0xCDu
#define INKORA_EXTENDED_COMMAND_HARDWARE_GUID 0x75u

/* Byte 1 of a calibrate write. */
#define INKORA_CALIBRATE_START 0u
#define INKORA_CALIBRATE_CANCEL 253u

/* ------------------------------------------------------------------------ */
/* Enumerations (held as 32-bit numbers in records, one byte on the wire)  */
/* ------------------------------------------------------------------------ */
/*
 * Each enumeration ends with a ..._FORCE_32BIT member, not a value the pad
 * knows: it makes the type 32 bits wide in C and C++ alike and lets a record
 * hold any value a pad sends (one byte) or a caller sets, named or not.
 */

typedef enum inkora_device_run_mode {
    INKORA_RUNMODE_COMMAND = 0,
    INKORA_RUNMODE_TOUCH = 1,
    INKORA_RUNMODE_PEN = 2,
    INKORA_RUNMODE_AUTOTOUCH = 4,
    INKORA_RUNMODE_TOUCHSINGLE = 8,
    INKORA_RUNMODE_TOUCHSTREAM = 10,
    INKORA_RUNMODE_PENSINGLE = 16,
    INKORA_RUNMODE_PENSTREAM = 18,
    INKORA_RUNMODE_PENCONTINUOUS = 20,
    INKORA_DEVICE_RUN_MODE_FORCE_32BIT = 0x7FFFFFFF
} inkora_device_run_mode;

typedef enum inkora_device_acquisition_mode {
    INKORA_ACQMODE_TOUCH = 0,
    INKORA_ACQMODE_PEN = 1,
    INKORA_ACQMODE_AUTOTOUCH = 2,
    INKORA_ACQMODE_COMMAND = 3,
    INKORA_DEVICE_ACQUISITION_MODE_FORCE_32BIT = 0x7FFFFFFF
} inkora_device_acquisition_mode;

typedef enum inkora_output_mode {
    REAL_TIME = 0,
    TRANSMIT_ON_CONFIRM = 1,
    TRANSMIT_ON_HOST_COMMAND = 2,
    INKORA_OUTPUT_MODE_FORCE_32BIT = 0x7FFFFFFF
} inkora_output_mode;

typedef enum inkora_compression_mode {
    INKORA_OUTPUT_UNCOMPRESSED_LORES = 0,
    INKORA_OUTPUT_COMPRESSED_LORES = 1,
    INKORA_OUTPUT_UNCOMPRESSED_HIRES = 2,
    INKORA_OUTPUT_COMPRESSED_HIRES = 3,
    INKORA_COMPRESSION_MODE_FORCE_32BIT = 0x7FFFFFFF
} inkora_compression_mode;

/* A bit set. */
typedef enum inkora_mag_card_output {
    INKORA_MAG_CARD_OEM_FORMAT = 1,
    INKORA_MAG_CARD_KEYBOARD = 4,
    INKORA_MAG_CARD_KEYBOARD_PREAMBLE = 8,
    INKORA_MAG_CARD_OUTPUT_FORCE_32BIT = 0x7FFFFFFF
} inkora_mag_card_output;

typedef enum inkora_asic_power_state {
    INKORA_ASIC_POWER_STATE_NORMAL = 0,
    INKORA_ASIC_POWER_STATE_POWERDOWN = 1,
    INKORA_ASIC_POWER_STATE_STANDBY = 2,
    INKORA_ASIC_POWER_STATE_FORCE_32BIT = 0x7FFFFFFF
} inkora_asic_power_state;

typedef enum inkora_calibration_point {
    INKORA_CALIBRATION_POINT_CENTER = 0,
    INKORA_CALIBRATION_POINT_UPPERLEFT = 2,
    INKORA_CALIBRATION_POINT_LOWERLEFT = 4,
    INKORA_CALIBRATION_POINT_LOWERRIGHT = 6,
    INKORA_CALIBRATION_POINT_UPPERRIGHT = 8,
    INKORA_CALIBRATION_POINT_FORCE_32BIT = 0x7FFFFFFF
} inkora_calibration_point;

typedef enum inkora_tuning_state {
    INKORA_LOCATION_1_STYLUS_DOWN = 0,
    INKORA_LOCATION_1_STYLUS_UP = 1,
    INKORA_LOCATION_2_STYLUS_DOWN = 2,
    INKORA_LOCATION_2_STYLUS_UP = 3,
    INKORA_TUNING_STATE_FORCE_32BIT = 0x7FFFFFFF
} inkora_tuning_state;

typedef enum inkora_display_type {
    INKORA_DISPLAY_TYPE_NONE = 0,
    INKORA_DISPLAY_TYPE_240X64_1X5_BLACKWHITE = 1,
    INKORA_DISPLAY_TYPE_240X64_1X5_GRAYSCALE = 2,
    INKORA_DISPLAY_TYPE_FORCE_32BIT = 0x7FFFFFFF
} inkora_display_type;

typedef enum inkora_card_reader {
    INKORA_CARDREADER_NONE = 0,
    INKORA_CARDREADER_HID = 1,
    INKORA_CARDREADER_KEYBOARD_BASIC = 2,
    INKORA_CARDREADER_KEYBOARD_PREAMBLE = 3,
    INKORA_CARDREADER_INTERCHANGEABLE = 131,
    INKORA_MAG_CARDREADER_HID = 1,
    INKORA_MAG_CARDREADER_KEYBOARD = 2,
    INKORA_MAG_CARDREADER_CHANGEABLE = 128,
    INKORA_CARD_READER_FORCE_32BIT = 0x7FFFFFFF
} inkora_card_reader;

typedef enum inkora_region_save_changes {
    INKORA_REGION_DISCARD_CHANGES = 0,
    INKORA_REGION_SAVE_CHANGES = 1,
    INKORA_REGION_SAVE_CHANGES_FORCE_32BIT = 0x7FFFFFFF
} inkora_region_save_changes;

typedef enum inkora_screen_region_save_changes {
    INKORA_SCREEN_REGION_DISCARD_CHANGES = 0,
    INKORA_SCREEN_REGION_SAVE_CHANGES = 1,
    INKORA_SCREEN_REGION_FACTORY_DEFAULTS = 90,
    INKORA_SCREEN_REGION_SAVE_CHANGES_FORCE_32BIT = 0x7FFFFFFF
} inkora_screen_region_save_changes;

typedef enum inkora_resource_justification {
    INKORA_JUSTIFICATION_LEFT = 0,
    INKORA_JUSTIFICATION_TOP = 0,
    INKORA_JUSTIFICATION_RIGHT = 1,
    INKORA_JUSTIFICATION_BOTTOM = 1,
    INKORA_JUSTIFICATION_CENTER = 8,
    INKORA_RESOURCE_JUSTIFICATION_FORCE_32BIT = 0x7FFFFFFF
} inkora_resource_justification;

typedef enum inkora_resource_type {
    INKORA_RESOURCE_TYPE_TEXT = 0,
    INKORA_RESOURCE_TYPE_GRAPHIC = 1,
    INKORA_RESOURCE_TYPE_INVALID = 255,
    INKORA_RESOURCE_TYPE_FORCE_32BIT = 0x7FFFFFFF
} inkora_resource_type;

/* ------------------------------------------------------------------------ */
/* Configuration report records                                             */
/* ------------------------------------------------------------------------ */

/* Report 11, 65 bytes, read only. */
typedef struct inkora_hid_capabilities {
    uint8_t report_id;
    uint16_t supported_reports;
    uint8_t coordinate_modes;
    uint8_t reserved1;
    inkora_display_type display_id;
    uint8_t brightness_levels;
    uint8_t contrast_levels;
    uint8_t color_depth;
    uint16_t display_width;
    uint16_t display_height;
    uint16_t digitizer_width;
    uint16_t digitizer_height;
    uint16_t coordinate_xmin;
    uint16_t coordinate_xmax;
    uint16_t coordinate_ymin;
    uint16_t coordinate_ymax;
    uint16_t calibration_xmin;
    uint16_t calibration_xmax;
    uint16_t calibration_ymin;
    uint16_t calibration_ymax;
    uint32_t reserved_4;
    uint32_t reserved_5;
    inkora_card_reader mag_reader_id;
    uint8_t reserved_6;
    uint16_t reserved_7;
    uint8_t supports_screens_resources;
    uint8_t reserved_9;
    uint32_t reserved_10; /* 16 bits on the wire, sign-extended */
    uint32_t reserved_11;
    uint32_t reserved_12;
    uint32_t reserved_13;
    uint32_t reserved_14;
} inkora_hid_capabilities;

/* Report 102, 7 bytes. */
typedef struct inkora_hid_feature_display_settings {
    uint8_t report_id;
    uint8_t brightness;
    uint8_t contrast;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t set_command;
} inkora_hid_feature_display_settings;

/* Report 15, 3 bytes. */
typedef struct inkora_hid_feature_device_configure {
    uint8_t report_id;
    uint8_t device_mode;
    uint8_t device_id;
} inkora_hid_feature_device_configure;

/* Report 16, 2 bytes, read only. */
typedef struct inkora_hid_feature_contact_count_maximum {
    uint8_t report_id;
    uint8_t contact_count_max;
} inkora_hid_feature_contact_count_maximum;

/* Report 20, 4 bytes. */
typedef struct inkora_hid_feature_frequency_amplitude {
    uint8_t report_id;
    uint8_t frequency;
    uint8_t pen_amplitude;
    uint8_t touch_amplitude;
} inkora_hid_feature_frequency_amplitude;

/* Read as report 21, written as report 2; 2 bytes each. */
typedef struct inkora_hid_feature_power_state {
    uint8_t report_id;
    inkora_asic_power_state power_state;
} inkora_hid_feature_power_state;

/* Report 23, 9 bytes, read only. */
typedef struct inkora_hid_feature_coordinate_range {
    uint8_t report_id;
    uint16_t x_min;
    uint16_t x_max;
    uint16_t y_min;
    uint16_t y_max;
} inkora_hid_feature_coordinate_range;

/*
 * Report 27, 35 bytes. A read keeps at most 31 characters, always
 * terminated, with every 0xFF byte (unwritten memory) turned into 0; the
 * write keys are not decoded and stay 0.
 */
typedef struct inkora_hid_feature_serial_number {
    uint8_t report_id;
    char serial_number[32];
    uint8_t write_key_1;
    uint8_t write_key_2;
} inkora_hid_feature_serial_number;

/* Report 40, 5 bytes, read only; reserved is filled by no wire byte. */
typedef struct inkora_hid_feature_operating_modes {
    uint8_t report_id;
    uint8_t supported_modes;
    uint8_t reserved;
    uint8_t acquisition_mode;
    uint8_t touch_mode;
    uint8_t pen_mode;
} inkora_hid_feature_operating_modes;

/*
 * Report 41, 6 bytes. Each field holds its bit field's value; writing shifts
 * the fields into place and ORs them without masking, so keep each value
 * within its width (channel_lock_number 3 bits, the corners 2 bits each).
 */
typedef struct inkora_hid_feature_general_parameters {
    uint8_t report_id;
    uint8_t xy_output_enable;    /* byte 1 bit 0 */
    uint8_t adc_output_enable;   /* byte 1 bit 1 */
    uint8_t map_coordinates;     /* byte 1 bit 2 */
    uint8_t channel_lock_enable; /* byte 1 bit 3 */
    uint8_t channel_lock_number; /* byte 1 bits 4-6 */
    uint8_t reserved;            /* byte 1 bit 7 */
    uint8_t corner_lower_left;   /* byte 2 bits 0-1 */
    uint8_t corner_upper_left;   /* byte 2 bits 2-3 */
    uint8_t corner_lower_right;  /* byte 2 bits 4-5 */
    uint8_t corner_upper_right;  /* byte 2 bits 6-7 */
    uint16_t samples;
    uint8_t filter_frequency;
} inkora_hid_feature_general_parameters;

/* Report 42, 2 bytes, written only. */
typedef struct inkora_hid_feature_asic_reset {
    uint8_t report_id;
    uint8_t hardware_reset; /* bit 0 */
    uint8_t reserved;       /* shifted left by 1 */
} inkora_hid_feature_asic_reset;

/* Report 43, 9 bytes, read only. */
typedef struct inkora_hid_feature_register_get {
    uint8_t report_id;
    uint8_t register_info[8];
} inkora_hid_feature_register_get;

/* Report 44, 3 bytes, written only. */
typedef struct inkora_hid_feature_register_set {
    uint8_t report_id;
    uint8_t register_id;
    uint8_t register_value;
} inkora_hid_feature_register_set;

/* Report 50, 18 bytes. */
typedef struct inkora_hid_feature_pen_parameters {
    uint8_t report_id;
    uint16_t proximity;
    uint16_t auto_pen_threshold;
    uint16_t auto_touch_threshold;
    uint8_t adc_average;
    uint8_t coordinate_average;
    uint16_t offset_interval;
    uint8_t debounce_pre_down;
    uint8_t debounce_post_down;
    uint8_t debounce_pre_up;
    uint8_t debounce_post_up;
    uint8_t error_correction_enable;  /* byte 15 bit 0 */
    uint8_t reserved_1;               /* bits 1-3 */
    uint8_t offset_correction_enable; /* bit 4 */
    uint8_t reserved_2;               /* bit 5 */
    uint8_t tip_inverted;             /* bit 6 */
    uint8_t reserved_3;               /* bit 7 */
    uint16_t interrupt_rate;
} inkora_hid_feature_pen_parameters;

/* Report 60, 22 bytes. */
typedef struct inkora_hid_feature_touch_parameters {
    uint8_t report_id;
    uint8_t adc_average;
    uint8_t coordinate_average;
    int16_t slope_down;
    int16_t slope_liftoff;
    uint8_t slope_minimum;
    uint16_t pressure_single;
    uint16_t pressure_multiple;
    uint8_t gain;
    uint8_t error_correction_enable; /* byte 13 bit 0 */
    uint8_t reserved;                /* bits 1-7 */
    uint16_t scale_x;
    int16_t offset_x;
    uint16_t scale_y;
    int16_t offset_y;
} inkora_hid_feature_touch_parameters;

/* Report 91, 10 bytes. */
typedef struct inkora_hid_feature_output_parameters {
    uint8_t report_id;
    uint64_t output_report; /* 32 bits on the wire, sign-extended on reading */
    inkora_output_mode output_mode;
    inkora_compression_mode compression; /* reading keeps bits 0-1 */
    uint16_t packets_per_second;
    uint8_t save_as_default;       /* byte 9 bit 0, sent as 1 when nonzero */
    uint8_t load_factory_settings; /* byte 9 bit 7, sent as 1 when nonzero */
} inkora_hid_feature_output_parameters;

/* Report 92, 17 bytes. */
typedef struct inkora_hid_feature_peripheral_configuration {
    uint8_t report_id;
    inkora_mag_card_output mag_card_output; /* bits of inkora_mag_card_output */
    uint8_t reserved1;
    uint8_t reserved2;
    uint8_t reserved3;
    uint8_t reserved4;
    uint8_t reserved5;
    uint8_t reserved6;
    uint8_t reserved7;
    uint8_t reserved8;
    uint8_t reserved9;
    uint8_t reserved10;
    uint8_t reserved11;
    uint8_t reserved12;
    uint8_t reserved13;
    uint8_t reserved14;
    uint8_t save_as_default;       /* byte 16 bit 0 */
    uint8_t load_factory_settings; /* byte 16 bit 7 */
} inkora_hid_feature_peripheral_configuration;

/* Report 131, 49 bytes; report_id reads as 131 whatever the pad's byte 0. */
typedef struct inkora_hid_feature_calibration_data {
    uint8_t report_id;
    uint8_t calibration_type;
    uint8_t is_calibrated; /* byte 2 bit 0 */
    uint16_t rotation_scale;
    uint16_t local_multiplier_scale;
    uint16_t host_multiplier_scale;
    int16_t rotation_sin_scaled;
    int16_t rotation_cos_scaled;
    uint16_t local_width_calibrated;
    uint16_t local_height_calibrated;
    int64_t local_x_multiplier_scaled; /* signed 32 bits on the wire */
    int64_t local_x_offset;
    int64_t local_y_multiplier_scaled;
    int64_t local_y_offset;
    int64_t host_x_multiplier_scaled;
    int64_t host_x_offset;
    int64_t host_y_multiplier_scaled;
    int64_t host_y_offset;
} inkora_hid_feature_calibration_data;

/* ------------------------------------------------------------------------ */
/* Procedure records                                                        */
/* ------------------------------------------------------------------------ */

/* Report 25, 134 bytes, sent exactly as given. */
typedef struct inkora_hid_feature_firmware_download {
    uint8_t report_id;
    uint32_t address;
    uint8_t data[128];
    uint8_t checksum;
} inkora_hid_feature_firmware_download;

/* Report 29, 3 bytes. */
typedef struct inkora_hid_feature_download_command_status {
    uint8_t report_id;
    uint16_t command_status;
} inkora_hid_feature_download_command_status;

/* Report 130, 2 bytes: byte 1 bit 0 calibration_mode, bits 3-7 point. */
typedef struct inkora_hid_feature_calibrate {
    uint8_t report_id;
    uint8_t calibration_mode;
    inkora_calibration_point point;
} inkora_hid_feature_calibrate;

/* Answer of the tuning-status command of report 230. */
typedef struct inkora_hid_feature_tuning_status {
    uint8_t report_id;
    uint8_t command_id;
    uint8_t tuning_mode;    /* byte 2 bit 0 */
    uint8_t tuning_aborted; /* byte 2 bit 1, kept in place: 0 or 2 */
    inkora_tuning_state tuning_state; /* byte 2 bits 2-7 */
    uint8_t gain_setting;
} inkora_hid_feature_tuning_status;

/* The pad's hardware identifier, report 230 command 0x75, bytes 4-19. */
typedef struct inkora_hid_feature_guid {
    uint8_t report_id;
    uint8_t guid[16];
} inkora_hid_feature_guid;

/* Report 253, 67 bytes; report_id is not sent. */
typedef struct inkora_pen_coordinate {
    uint8_t report_id;
    uint8_t coordinate_type; /* 1: coordinate report, 2: extended coordinate report */
    uint16_t x;
    uint16_t y;
    uint8_t pen_down;
} inkora_pen_coordinate;

/* ------------------------------------------------------------------------ */
/* Region, screen and resource records                                      */
/* ------------------------------------------------------------------------ */

/* Report 113, 12 bytes. */
typedef struct inkora_hid_feature_region_update {
    uint8_t report_id;
    uint8_t region_number;
    uint8_t function_enable; /* byte 2 bit 0 */
    uint8_t visible;         /* byte 2 bit 1 */
    uint8_t reserved1;
    inkora_color color_foreground;
    uint32_t reserved2;
} inkora_hid_feature_region_update;

/* The indexed region, report 152 (c + 34 bytes). */
typedef struct inkora_hid_feature_region_common {
    uint8_t report_id;
    uint8_t region_index;
    inkora_region_type region_type;
    uint8_t accepts_touch;  /* byte 3 bit 0 */
    uint8_t decode_region;  /* bit 1 */
    uint8_t has_frame;      /* bit 2 */
    uint8_t output_to_host; /* bit 6 */
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t reserved_7;
    uint8_t reserved_8;
    uint8_t reserved_9;
    uint16_t x1;
    uint16_t x2;
    uint16_t y1;
    uint16_t y2;
    inkora_color foreground_color;
    inkora_color background_color;
} inkora_hid_feature_region_common;

typedef struct inkora_hid_feature_region_container {
    inkora_hid_feature_region_common common;
    uint8_t ink_enabled;
    uint8_t ink_width;
    uint8_t reserved_1;
    uint8_t reserved_2;
} inkora_hid_feature_region_container;

typedef struct inkora_hid_feature_region_button {
    inkora_hid_feature_region_common common;
    uint8_t enabled;             /* byte 29 bit 0 */
    uint8_t highlight_on_select; /* bit 1 */
    uint8_t clear_on_select;     /* bit 2 */
    uint8_t confirm_on_select;   /* bit 3 */
    uint8_t use_resource;        /* bit 4: resource numbers instead of a caption */
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t resource_number_normal;
    uint8_t resource_number_selected;
    char caption[100];
} inkora_hid_feature_region_button;

typedef struct inkora_hid_feature_region_line {
    inkora_hid_feature_region_common common;
    uint8_t reserved_1;
    uint8_t line_width;
    uint8_t reserved_2;
    uint8_t reserved_3;
} inkora_hid_feature_region_line;

typedef struct inkora_hid_feature_region_graphic {
    inkora_hid_feature_region_common common;
    uint8_t reserved_1;
    uint8_t graphic_number;
    inkora_resource_justification horizontal_justification;
    inkora_resource_justification vertical_justification;
    uint8_t reserved_2;
} inkora_hid_feature_region_graphic;

typedef struct inkora_hid_feature_region_text {
    inkora_hid_feature_region_common common;
    uint8_t reserved_1;
    uint8_t resource_number;
    uint8_t font_number;
    inkora_resource_justification horizontal_justification;
    inkora_resource_justification vertical_justification;
} inkora_hid_feature_region_text;

typedef union inkora_hid_feature_region {
    inkora_hid_feature_region_common common;
    inkora_hid_feature_region_container container;
    inkora_hid_feature_region_button button;
    inkora_hid_feature_region_line line;
    inkora_hid_feature_region_graphic graphic;
    inkora_hid_feature_region_text text;
} inkora_hid_feature_region;

/* Report 162, 80 bytes: the report carries the first 30 entries of each list. */
typedef struct inkora_hid_feature_screen {
    uint8_t report_id;
    uint8_t screen_number;
    uint8_t reset_timeout_on_activity; /* byte 2 bit 4 */
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t reserved_7;
    uint8_t reserved_8;
    uint8_t reserved_9;
    uint8_t reserved_10;
    uint8_t reserved_11;
    uint8_t reserved_12;
    uint8_t reserved_13;
    uint8_t reserved_14;
    uint8_t timeout;
    uint8_t timeout_screen_next;
    uint8_t region_count;
    uint8_t region_list[100];      /* region numbers */
    uint8_t screen_next_list[100]; /* entry i: next screen of the region in region_list[i] */
} inkora_hid_feature_screen;

/* Report 164, 13 bytes, written only. */
typedef struct inkora_hid_feature_edit_screen {
    uint8_t report_id;
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t region_add;    /* byte 7 bit 0 */
    uint8_t region_delete; /* bit 1 */
    uint8_t timeout_set;   /* bit 2 */
    uint8_t screen_index;
    uint8_t region_index;
    uint8_t region_screen_next;
    uint8_t timeout;
    uint8_t timeout_screen_next;
} inkora_hid_feature_edit_screen;

/* Report 170, 25 bytes, read only. */
typedef struct inkora_hid_feature_screen_region_info {
    uint8_t report_id;
    uint8_t screen_count;
    uint8_t region_count;
    uint8_t regions_per_screen;
    uint8_t resource_count;
    uint8_t caption_length;
    uint8_t text_region_length;
    uint8_t text_width;
    uint8_t text_height;
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t reserved_7;
    uint8_t reserved_8;
    uint8_t reserved_9;
    uint8_t reserved_10;
    uint8_t reserved_11;
    uint8_t reserved_12;
    uint8_t reserved_13;
    uint8_t reserved_14;
    uint8_t reserved_15;
    uint8_t reserved_16;
} inkora_hid_feature_screen_region_info;

/* Report 141, 20 bytes, read only. */
typedef struct inkora_hid_feature_resource_info {
    uint8_t report_id;
    uint8_t resource_number;
    inkora_resource_type resource_type;
    uint8_t reserved_1;
    uint64_t resource_size; /* 32 bits on the wire */
    uint64_t resource_crc;  /* 32 bits on the wire */
    uint8_t reserved_2;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t reserved_7;
    uint8_t reserved_8;
    uint8_t reserved_9;
} inkora_hid_feature_resource_info;

/* Report 142, 1045 bytes. */
typedef struct inkora_hid_feature_resource {
    uint8_t report_id;
    uint8_t resource_number;
    inkora_resource_type resource_type;
    uint8_t reserved_1;
    uint8_t reserved_2;
    uint64_t resource_size;
    uint64_t resource_crc;
    uint8_t reserved_3;
    uint8_t reserved_4;
    uint8_t reserved_5;
    uint8_t reserved_6;
    uint8_t reserved_7;
    uint8_t reserved_8;
    uint16_t bytes_valid;
    uint8_t resource_data[1024];
} inkora_hid_feature_resource;

/* Report 144, 18 bytes, read only; the reserved fields take one byte each. */
typedef struct inkora_hid_feature_resource_availability {
    uint8_t report_id;
    uint8_t number_available;
    uint64_t space_available; /* 32 bits on the wire */
    uint32_t reserved_1;
    uint32_t reserved_2;
    uint32_t reserved_3;
    uint32_t reserved_4;
    uint32_t reserved_5;
    uint32_t reserved_6;
    uint32_t reserved_7;
    uint32_t reserved_8;
    uint32_t reserved_9;
    uint32_t reserved_10;
    uint32_t reserved_11;
    uint32_t reserved_12;
} inkora_hid_feature_resource_availability;

/* ------------------------------------------------------------------------ */
/* Configuration reports                                                    */
/* ------------------------------------------------------------------------ */

INKORA_API inkora_hid_capabilities inkora_get_capabilities(inkora_device* device);
INKORA_API void inkora_get_capabilities_ref(inkora_device* device, inkora_hid_capabilities* record);

INKORA_API inkora_hid_feature_display_settings inkora_get_display_settings(inkora_device* device);
INKORA_API void inkora_get_display_settings_ref(inkora_device* device, inkora_hid_feature_display_settings* record);
INKORA_API inkora_error_code inkora_set_display_settings(inkora_device* device,
                                                         inkora_hid_feature_display_settings record);

INKORA_API inkora_hid_feature_device_configure inkora_get_device_configure(inkora_device* device);
INKORA_API void inkora_get_device_configure_ref(inkora_device* device, inkora_hid_feature_device_configure* record);
INKORA_API inkora_error_code inkora_set_device_configure(inkora_device* device,
                                                         inkora_hid_feature_device_configure record);

INKORA_API inkora_hid_feature_contact_count_maximum inkora_get_contact_count_maximum(inkora_device* device);
INKORA_API void inkora_get_contact_count_maximum_ref(inkora_device* device,
                                                     inkora_hid_feature_contact_count_maximum* record);

INKORA_API inkora_hid_feature_frequency_amplitude inkora_get_frequency_amplitude(inkora_device* device);
INKORA_API void inkora_get_frequency_amplitude_ref(inkora_device* device,
                                                   inkora_hid_feature_frequency_amplitude* record);
INKORA_API inkora_error_code inkora_set_frequency_amplitude(inkora_device* device,
                                                            inkora_hid_feature_frequency_amplitude record);

/* Read as report 21, written as report 2. */
INKORA_API inkora_hid_feature_power_state inkora_get_power_state(inkora_device* device);
INKORA_API inkora_error_code inkora_set_power_state(inkora_device* device, inkora_hid_feature_power_state record);

INKORA_API inkora_hid_feature_coordinate_range inkora_get_coordinate_range(inkora_device* device);
INKORA_API void inkora_get_coordinate_range_ref(inkora_device* device, inkora_hid_feature_coordinate_range* record);

INKORA_API inkora_hid_feature_serial_number inkora_get_serial_number(inkora_device* device);
INKORA_API void inkora_get_serial_number_ref(inkora_device* device, inkora_hid_feature_serial_number* record);

INKORA_API inkora_hid_feature_operating_modes inkora_get_operating_modes(inkora_device* device);
INKORA_API void inkora_get_operating_modes_ref(inkora_device* device, inkora_hid_feature_operating_modes* record);

INKORA_API inkora_hid_feature_general_parameters inkora_get_general_parameters(inkora_device* device);
INKORA_API void inkora_get_general_parameters_ref(inkora_device* device,
                                                  inkora_hid_feature_general_parameters* record);
INKORA_API inkora_error_code inkora_set_general_parameters(inkora_device* device,
                                                           inkora_hid_feature_general_parameters record);

INKORA_API inkora_error_code inkora_set_asic_reset(inkora_device* device, inkora_hid_feature_asic_reset record);

INKORA_API inkora_hid_feature_register_get inkora_get_asic_register(inkora_device* device);
INKORA_API void inkora_get_asic_register_ref(inkora_device* device, inkora_hid_feature_register_get* record);
INKORA_API inkora_error_code inkora_set_asic_register(inkora_device* device, inkora_hid_feature_register_set record);

INKORA_API inkora_hid_feature_pen_parameters inkora_get_pen_parameters(inkora_device* device);
INKORA_API void inkora_get_pen_parameters_ref(inkora_device* device, inkora_hid_feature_pen_parameters* record);
INKORA_API inkora_error_code inkora_set_pen_parameters(inkora_device* device,
                                                       inkora_hid_feature_pen_parameters record);

INKORA_API inkora_hid_feature_touch_parameters inkora_get_touch_parameters(inkora_device* device);
INKORA_API void inkora_get_touch_parameters_ref(inkora_device* device, inkora_hid_feature_touch_parameters* record);
INKORA_API inkora_error_code inkora_set_touch_parameters(inkora_device* device,
                                                         inkora_hid_feature_touch_parameters record);

INKORA_API inkora_hid_feature_output_parameters inkora_get_output_configuration(inkora_device* device);
INKORA_API void inkora_get_output_configuration_ref(inkora_device* device,
                                                    inkora_hid_feature_output_parameters* record);
INKORA_API inkora_error_code inkora_set_output_configuration(inkora_device* device,
                                                             inkora_hid_feature_output_parameters record);

INKORA_API inkora_hid_feature_peripheral_configuration inkora_get_peripheral_configuration(inkora_device* device);
INKORA_API void inkora_get_peripheral_configuration_ref(inkora_device* device,
                                                        inkora_hid_feature_peripheral_configuration* record);
INKORA_API inkora_error_code inkora_set_peripheral_configuration(inkora_device* device,
                                                                 inkora_hid_feature_peripheral_configuration record);

INKORA_API inkora_hid_feature_calibration_data inkora_get_calibration_data(inkora_device* device);
INKORA_API void inkora_get_calibration_data_ref(inkora_device* device, inkora_hid_feature_calibration_data* record);
INKORA_API inkora_error_code inkora_set_calibration_data(inkora_device* device,
                                                         inkora_hid_feature_calibration_data record);

/* Report 28: the acquisition mode the pad starts in. */
INKORA_API inkora_error_code inkora_set_startup_mode(inkora_device* device, inkora_device_acquisition_mode mode);
/* Report 115: keep or drop the pending region edits. */
INKORA_API inkora_error_code inkora_set_region_commit(inkora_device* device, inkora_region_save_changes save);

/* ------------------------------------------------------------------------ */
/* Procedures                                                               */
/* ------------------------------------------------------------------------ */

/*
 * Report 10, between two waits for the report-buffer interlock (500 polls
 * each). ERROR without writing when the first wait times out, ERROR when the
 * second does, else the write's result.
 */
INKORA_API inkora_error_code inkora_set_run_mode(inkora_device* device, inkora_device_run_mode mode);
/*
 * Writes the serial number (at most 31 characters of text, fewer when the
 * text ends sooner) with the library's write keys: region interlock wait,
 * pending edits discarded, command mode, report 27, then back to pen mode
 * (command mode when the pad was idle). ERROR when the wait, the discard or
 * the switch to command mode fails (nothing written) or the write fails.
 */
INKORA_API inkora_error_code inkora_set_serial_number(inkora_device* device, const char* text, uint32_t length);
/* Starts (byte 1 = 0) or cancels (253) a calibration after the calibration interlock. */
INKORA_API inkora_error_code inkora_device_calibrate(inkora_device* device);
INKORA_API inkora_error_code inkora_device_cancel_calibrate(inkora_device* device);
/* Report 130 between calibration interlock waits of 2103 and 2104 polls; zero on failure. */
INKORA_API inkora_hid_feature_calibrate inkora_get_calibrate_state(inkora_device* device);
INKORA_API void inkora_get_calibrate_state_ref(inkora_device* device, inkora_hid_feature_calibrate* record);
/*
 * Writes the error-correction table (report 26) in command mode and returns
 * to pen mode on success; the pad stays in command mode when the report
 * buffer stays busy (2200 polls) or the write fails. The pad's unique
 * identifier derives from this table.
 */
INKORA_API inkora_error_code inkora_set_error_correction(inkora_device* device,
                                                         inkora_hid_feature_error_correction_table table);
/* One firmware block (report 25) and one download command (report 29), sent as given. */
INKORA_API inkora_error_code inkora_set_firmware(inkora_device* device, inkora_hid_feature_firmware_download block);
INKORA_API inkora_error_code inkora_set_firmware_download_status(inkora_device* device,
                                                                 inkora_hid_feature_download_command_status status);

/* Extended command report 230. */
INKORA_API inkora_error_code inkora_genII_tune(inkora_device* device);
INKORA_API inkora_error_code inkora_genII_abort_tune(inkora_device* device);
INKORA_API inkora_hid_feature_tuning_status inkora_genII_get_tuning_status(inkora_device* device);
INKORA_API inkora_error_code inkora_genII_set_device_pid(inkora_device* device, uint16_t product_id);
/* The configuration byte, or -1 when the command or its answer fails. */
INKORA_API int32_t inkora_genII_query_hardware_configuration(inkora_device* device);
INKORA_API inkora_hid_feature_guid inkora_genII_get_hardware_GUID(inkora_device* device);
/* Sends the identifier with the library's hardware-identifier write keys. */
INKORA_API inkora_error_code inkora_genII_set_hardware_GUID(inkora_device* device, inkora_hid_feature_guid guid);

/* Report 253: the pad emits the input report a pen at (x, y) would. */
INKORA_API inkora_error_code inkora_simulate_pen_input(inkora_device* device, const inkora_pen_coordinate* pen);

/* ------------------------------------------------------------------------ */
/* Regions                                                                  */
/* ------------------------------------------------------------------------ */

/*
 * Report 112 for region_number 1 to region_count, after the region
 * interlock. On success the device's own region table takes the record.
 */
INKORA_API inkora_error_code inkora_set_region(inkora_device* device, inkora_device_region_info region);
/* Report 113 at once; the device's region table is not touched. */
INKORA_API inkora_error_code inkora_update_region(inkora_device* device, inkora_hid_feature_region_update update);
/* Report 114 (after the region interlock) / 153 (region and screen interlocks). */
INKORA_API inkora_error_code inkora_delete_region(inkora_device* device, uint8_t region_number);
INKORA_API inkora_error_code inkora_delete_device_region(inkora_device* device, uint8_t region_number);
/* Report 150: the index (0-255), or -1 when the read fails. */
INKORA_API int32_t inkora_get_region_idx(inkora_device* device);
INKORA_API inkora_error_code inkora_set_region_idx(inkora_device* device, uint8_t index);
/* Report 152 for the region the index selects; zero record on failure. */
INKORA_API void inkora_get_region_ref(inkora_device* device, inkora_hid_feature_region* region);
INKORA_API inkora_hid_feature_region inkora_get_region(inkora_device* device);
/* Writes report 152; on success the device's region table is read again. */
INKORA_API inkora_error_code inkora_set_region_contents(inkora_device* device, inkora_hid_feature_region region);
/*
 * Every region through the region index: a new array of the screen-region
 * info's region_count records (at least one entry is allocated), or NULL.
 * Free with inkora_free_device_regions.
 */
INKORA_API inkora_hid_feature_region* inkora_get_device_regions(inkora_device* device);
INKORA_API void inkora_free_device_regions(inkora_hid_feature_region* regions);

/* ------------------------------------------------------------------------ */
/* Screens and resources                                                    */
/* ------------------------------------------------------------------------ */

/* Index reports 140 / 160: the index (0-255), or -1 when the read fails. */
INKORA_API int32_t inkora_get_resource_idx(inkora_device* device);
INKORA_API inkora_error_code inkora_set_resource_idx(inkora_device* device, uint8_t index);
INKORA_API void inkora_get_resource_info_ref(inkora_device* device, inkora_hid_feature_resource_info* record);
INKORA_API inkora_hid_feature_resource_info inkora_get_resource_info(inkora_device* device);
INKORA_API void inkora_get_resource_ref(inkora_device* device, inkora_hid_feature_resource* record);
INKORA_API inkora_hid_feature_resource inkora_get_resource(inkora_device* device);
INKORA_API inkora_error_code inkora_set_resource(inkora_device* device, inkora_hid_feature_resource record);
INKORA_API inkora_error_code inkora_delete_resource(inkora_device* device, uint8_t index);
INKORA_API void inkora_get_resource_availability_ref(inkora_device* device,
                                                     inkora_hid_feature_resource_availability* record);
INKORA_API inkora_hid_feature_resource_availability inkora_get_resource_availability(inkora_device* device);

INKORA_API int32_t inkora_get_screen_idx(inkora_device* device);
INKORA_API inkora_error_code inkora_set_screen_idx(inkora_device* device, uint8_t index);
/* Report 162: at most 30 entries of each list are carried either way. */
INKORA_API void inkora_get_screen_ref(inkora_device* device, inkora_hid_feature_screen* record);
INKORA_API inkora_hid_feature_screen inkora_get_screen(inkora_device* device);
INKORA_API inkora_error_code inkora_set_screen(inkora_device* device, inkora_hid_feature_screen record);
INKORA_API inkora_error_code inkora_delete_screen(inkora_device* device, uint8_t index);
INKORA_API inkora_error_code inkora_set_edit_screen(inkora_device* device, inkora_hid_feature_edit_screen record);
INKORA_API void inkora_get_screen_region_info_ref(inkora_device* device,
                                                  inkora_hid_feature_screen_region_info* record);
INKORA_API inkora_hid_feature_screen_region_info inkora_get_screen_region_info(inkora_device* device);
/* Report 171: the number of the screen shown, or -1. */
INKORA_API int32_t inkora_get_active_screen(inkora_device* device);
INKORA_API inkora_error_code inkora_set_active_screen(inkora_device* device, uint8_t screen);
/*
 * Report 172 between region-and-screen interlock waits of 2101 and 2100
 * polls; SUCCESS only when the write succeeded and the second wait cleared.
 */
INKORA_API inkora_error_code inkora_set_screen_region_commit(inkora_device* device,
                                                             inkora_screen_region_save_changes save);
/*
 * In memory only: gives region region_number the follow-on screen
 * screen_next, appending it when the screen does not list it yet. ERROR
 * (record unchanged) when a new region would be the 101st, or screen is NULL.
 */
INKORA_API inkora_error_code inkora_add_region_to_screen(inkora_hid_feature_screen* screen, int32_t region_number,
                                                         int32_t screen_next);

/* ------------------------------------------------------------------------ */
/* Display reset and operating modes                                        */
/* ------------------------------------------------------------------------ */

/*
 * Re-activates the active screen; failing that, writes the pad's last region
 * as a full-screen container, visible and then invisible.
 */
INKORA_API inkora_error_code inkora_clear_screen(inkora_device* device);
/* Drops pending edits by a commit, or rewrites every region but the first that differs from its default. */
INKORA_API inkora_error_code inkora_restore_default_regions(inkora_device* device);
/*
 * Configure a pad with screens and resources for the pad's own signature
 * mode or for the glidenote mode; commit_changes also saves the settings as
 * the pad's defaults. A pad without screen support gets nothing. Always
 * SUCCESS: the individual steps' results are not looked at.
 */
INKORA_API inkora_error_code inkora_set_nibline_mode(inkora_device* device, uint8_t commit_changes);
INKORA_API inkora_error_code inkora_set_glidenote_mode(inkora_device* device, uint8_t commit_changes);

/* ------------------------------------------------------------------------ */
/* Printers: WRITE TO STANDARD OUTPUT. Never call them from the agent,      */
/* whose standard output is the wire protocol.                              */
/* ------------------------------------------------------------------------ */
/*
 * Each prints a title line, then one "name = value" line per field with the
 * names right-aligned to a common column; a NULL record prints the title and
 * "  NULL".
 */
INKORA_API void inkora_print_display_info(const inkora_hid_feature_display_info* record);
INKORA_API void inkora_print_capabilities(const inkora_hid_capabilities* record);
INKORA_API void inkora_print_display_settings(const inkora_hid_feature_display_settings* record);
INKORA_API void inkora_print_device_configure(const inkora_hid_feature_device_configure* record);
INKORA_API void inkora_print_contact_count_maximum(const inkora_hid_feature_contact_count_maximum* record);
INKORA_API void inkora_print_frequency_amplitude(const inkora_hid_feature_frequency_amplitude* record);
INKORA_API void inkora_print_power_state(const inkora_hid_feature_power_state* record);
INKORA_API void inkora_print_version(const inkora_hid_feature_version* record);
INKORA_API void inkora_print_coordinate_range(const inkora_hid_feature_coordinate_range* record);
INKORA_API void inkora_print_error_correction_table(const inkora_hid_feature_error_correction_table* record);
INKORA_API void inkora_print_serial_number(const inkora_hid_feature_serial_number* record);
INKORA_API void inkora_print_operating_modes(const inkora_hid_feature_operating_modes* record);
INKORA_API void inkora_print_general_parameters(const inkora_hid_feature_general_parameters* record);
INKORA_API void inkora_print_asic_register(const inkora_hid_feature_register_get* record);
INKORA_API void inkora_print_pen_parameters(const inkora_hid_feature_pen_parameters* record);
INKORA_API void inkora_print_touch_parameters(const inkora_hid_feature_touch_parameters* record);
/* count regions of an array, as returned by inkora_get_regions. */
INKORA_API void inkora_print_regions(const inkora_device_region_info* regions, uint32_t count);
/* The region table held by an open device. */
INKORA_API void inkora_print_device_regions(const inkora_device* device);
INKORA_API void inkora_print_calibrate_state(const inkora_hid_feature_calibrate* record);
/* 16 bytes as 8-4-4-4-12 lower-case hex under "Device UUID:". */
INKORA_API void inkora_print_device_uuid(const uint8_t* uuid);
INKORA_API void inkora_print_output_configuration(const inkora_hid_feature_output_parameters* record);
INKORA_API void inkora_print_peripheral_configuration(const inkora_hid_feature_peripheral_configuration* record);
INKORA_API void inkora_print_calibration_data(const inkora_hid_feature_calibration_data* record);
INKORA_API void inkora_print_device_status(const inkora_hid_feature_device_status* record);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_CONFIG_H */
