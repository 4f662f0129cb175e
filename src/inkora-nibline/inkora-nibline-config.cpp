// The pad's configuration feature reports: one getter (by value and _ref),
// setter and layout per report. Printers are in inkora-nibline-printers.cpp.
#include <array>
#include <cstring>

#include "inkora-debug-scope.hpp"
#include "inkora-nibline-config-private.hpp"
#include "inkora-nibline-config.h"

namespace {

using inkora::config::get_report;
using inkora::config::get_u16;
using inkora::config::set_report;

// Reads report id of Length bytes and decodes it into a zeroed record; the
// record stays zero when the read fails.
template <typename Record, size_t Length, typename Decode>
Record read_record(inkora_device* device, uint8_t id, Decode decode) {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::array<uint8_t, Length> buffer{};
    if (get_report(device, id, buffer)) {
        record.report_id = buffer[0];
        decode(buffer.data(), record);
    }
    return record;
}

// Encodes into a zeroed report of Length bytes with the id in byte 0 and writes it.
template <size_t Length, typename Encode>
inkora_error_code write_record(inkora_device* device, uint8_t id, Encode encode) {
    std::array<uint8_t, Length> buffer{};
    buffer[0] = id;
    encode(buffer.data());
    return set_report(device, buffer);
}

template <typename Record>
void copy_to(Record* target, const Record& value) {
    if (target != nullptr)
        *target = value;
}

uint8_t bit(uint8_t byte, unsigned position) { return static_cast<uint8_t>((byte >> position) & 0x01); }

inkora_hid_feature_output_parameters decode_output(const uint8_t* b) {
    inkora_hid_feature_output_parameters r;
    std::memset(&r, 0, sizeof r);
    r.report_id = b[0];
    r.output_report = static_cast<uint64_t>(get4(b, 1)); // bytes 1-4, sign-extended
    r.output_mode = static_cast<inkora_output_mode>(b[5]);
    r.compression = static_cast<inkora_compression_mode>(b[6] & 0x03);
    r.packets_per_second = get_u16(b, 7);                  // bytes 7-8
    r.save_as_default = bit(b[9], 0);
    r.load_factory_settings = bit(b[9], 7);
    return r;
}

} // namespace

extern "C" {

// Capabilities, report 11, 65 bytes, read only.
inkora_hid_capabilities inkora_get_capabilities(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_capabilities, INKORA_CAPABILITIES_LENGTH>(
        device, INKORA_REPORT_ID_CAPABILITIES, [](const uint8_t* b, inkora_hid_capabilities& r) {
            r.supported_reports = get_u16(b, 1);
            r.coordinate_modes = b[3];
            r.reserved1 = b[4];
            r.display_id = static_cast<inkora_display_type>(b[5]);
            r.brightness_levels = b[6];
            r.contrast_levels = b[7];
            r.color_depth = b[8];
            r.display_width = get_u16(b, 9);
            r.display_height = get_u16(b, 11);
            r.digitizer_width = get_u16(b, 13);
            r.digitizer_height = get_u16(b, 15);
            r.coordinate_xmin = get_u16(b, 17);
            r.coordinate_xmax = get_u16(b, 19);
            r.coordinate_ymin = get_u16(b, 21);
            r.coordinate_ymax = get_u16(b, 23);
            r.calibration_xmin = get_u16(b, 25);
            r.calibration_xmax = get_u16(b, 27);
            r.calibration_ymin = get_u16(b, 29);
            r.calibration_ymax = get_u16(b, 31);
            r.reserved_4 = static_cast<uint32_t>(get4(b, 33));
            r.reserved_5 = static_cast<uint32_t>(get4(b, 37));
            r.mag_reader_id = static_cast<inkora_card_reader>(b[41]);
            r.reserved_6 = b[42];
            r.reserved_7 = get_u16(b, 43);
            r.supports_screens_resources = b[45];
            r.reserved_9 = b[46];
            r.reserved_10 = static_cast<uint32_t>(static_cast<int32_t>(get2(b, 47))); // sign-extended
            r.reserved_11 = static_cast<uint32_t>(get4(b, 49));
            r.reserved_12 = static_cast<uint32_t>(get4(b, 53));
            r.reserved_13 = static_cast<uint32_t>(get4(b, 57));
            r.reserved_14 = static_cast<uint32_t>(get4(b, 61));
        });
}

void inkora_get_capabilities_ref(inkora_device* device, inkora_hid_capabilities* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_capabilities(device));
}

// Display settings, report 102, 7 bytes.
inkora_hid_feature_display_settings inkora_get_display_settings(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_display_settings, INKORA_DISPLAY_SETTINGS_LENGTH>(
        device, INKORA_REPORT_ID_DISPLAY_SETTINGS, [](const uint8_t* b, inkora_hid_feature_display_settings& r) {
            r.brightness = b[1];
            r.contrast = b[2];
            r.red = b[3];
            r.green = b[4];
            r.blue = b[5];
            r.set_command = b[6];
        });
}

void inkora_get_display_settings_ref(inkora_device* device, inkora_hid_feature_display_settings* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_display_settings(device));
}

inkora_error_code inkora_set_display_settings(inkora_device* device, inkora_hid_feature_display_settings r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_DISPLAY_SETTINGS_LENGTH>(device, INKORA_REPORT_ID_DISPLAY_SETTINGS, [&](uint8_t* b) {
        b[1] = r.brightness;
        b[2] = r.contrast;
        b[3] = r.red;
        b[4] = r.green;
        b[5] = r.blue;
        b[6] = r.set_command;
    });
}

// Device configure, report 15, 3 bytes.
inkora_hid_feature_device_configure inkora_get_device_configure(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_device_configure, INKORA_DEVICE_CONFIGURE_LENGTH>(
        device, INKORA_REPORT_ID_DEVICE_CONFIGURE, [](const uint8_t* b, inkora_hid_feature_device_configure& r) {
            r.device_mode = b[1];
            r.device_id = b[2];
        });
}

void inkora_get_device_configure_ref(inkora_device* device, inkora_hid_feature_device_configure* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_device_configure(device));
}

inkora_error_code inkora_set_device_configure(inkora_device* device, inkora_hid_feature_device_configure r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_DEVICE_CONFIGURE_LENGTH>(device, INKORA_REPORT_ID_DEVICE_CONFIGURE, [&](uint8_t* b) {
        b[1] = r.device_mode;
        b[2] = r.device_id;
    });
}

// Contact count maximum, report 16, 2 bytes, read only.
inkora_hid_feature_contact_count_maximum inkora_get_contact_count_maximum(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_contact_count_maximum, INKORA_CONTACT_COUNT_MAXIMUM_LENGTH>(
        device, INKORA_REPORT_ID_CONTACT_COUNT_MAXIMUM,
        [](const uint8_t* b, inkora_hid_feature_contact_count_maximum& r) { r.contact_count_max = b[1]; });
}

void inkora_get_contact_count_maximum_ref(inkora_device* device, inkora_hid_feature_contact_count_maximum* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_contact_count_maximum(device));
}

// Frequency and amplitude, report 20, 4 bytes.
inkora_hid_feature_frequency_amplitude inkora_get_frequency_amplitude(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_frequency_amplitude, INKORA_FREQUENCY_AMPLITUDE_LENGTH>(
        device, INKORA_REPORT_ID_FREQUENCY_AMPLITUDE,
        [](const uint8_t* b, inkora_hid_feature_frequency_amplitude& r) {
            r.frequency = b[1];
            r.pen_amplitude = b[2];
            r.touch_amplitude = b[3];
        });
}

void inkora_get_frequency_amplitude_ref(inkora_device* device, inkora_hid_feature_frequency_amplitude* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_frequency_amplitude(device));
}

inkora_error_code inkora_set_frequency_amplitude(inkora_device* device, inkora_hid_feature_frequency_amplitude r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_FREQUENCY_AMPLITUDE_LENGTH>(device, INKORA_REPORT_ID_FREQUENCY_AMPLITUDE,
                                                           [&](uint8_t* b) {
                                                               b[1] = r.frequency;
                                                               b[2] = r.pen_amplitude;
                                                               b[3] = r.touch_amplitude;
                                                           });
}

// Power state: read as report 21, written as report 2, 2 bytes each.
inkora_hid_feature_power_state inkora_get_power_state(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_power_state, INKORA_POWER_STATE_LENGTH>(
        device, INKORA_REPORT_ID_POWER_STATE, [](const uint8_t* b, inkora_hid_feature_power_state& r) {
            r.power_state = static_cast<inkora_asic_power_state>(b[1]);
        });
}

inkora_error_code inkora_set_power_state(inkora_device* device, inkora_hid_feature_power_state r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_POWER_STATE_LENGTH>(device, INKORA_REPORT_ID_POWER_STATE_WRITE, [&](uint8_t* b) {
        b[1] = static_cast<uint8_t>(r.power_state);
    });
}

// Coordinate range, report 23, 9 bytes, read only.
inkora_hid_feature_coordinate_range inkora_get_coordinate_range(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_coordinate_range, INKORA_COORDINATE_RANGE_LENGTH>(
        device, INKORA_REPORT_ID_COORDINATE_RANGE, [](const uint8_t* b, inkora_hid_feature_coordinate_range& r) {
            r.x_min = get_u16(b, 1);
            r.x_max = get_u16(b, 3);
            r.y_min = get_u16(b, 5);
            r.y_max = get_u16(b, 7);
        });
}

void inkora_get_coordinate_range_ref(inkora_device* device, inkora_hid_feature_coordinate_range* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_coordinate_range(device));
}

// Serial number, report 27, 35 bytes: bytes 1-32 text, 33-34 write keys (not decoded).
inkora_hid_feature_serial_number inkora_get_serial_number(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_serial_number, INKORA_SERIAL_NUMBER_LENGTH>(
        device, INKORA_REPORT_ID_SERIAL_NUMBER, [](const uint8_t* b, inkora_hid_feature_serial_number& r) {
            std::memcpy(r.serial_number, b + 1, sizeof r.serial_number);
            r.serial_number[sizeof r.serial_number - 1] = 0; // at most 31 characters, terminated
            for (char& c : r.serial_number)
                if (static_cast<uint8_t>(c) == 0xFF) // unwritten memory
                    c = 0;
        });
}

void inkora_get_serial_number_ref(inkora_device* device, inkora_hid_feature_serial_number* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_serial_number(device));
}

// Operating modes, report 40, 5 bytes, read only.
inkora_hid_feature_operating_modes inkora_get_operating_modes(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_operating_modes, INKORA_OPERATING_MODES_LENGTH>(
        device, INKORA_REPORT_ID_OPERATING_MODES, [](const uint8_t* b, inkora_hid_feature_operating_modes& r) {
            r.supported_modes = b[1];
            r.acquisition_mode = b[2];
            r.touch_mode = b[3];
            r.pen_mode = b[4];
        });
}

void inkora_get_operating_modes_ref(inkora_device* device, inkora_hid_feature_operating_modes* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_operating_modes(device));
}

// General parameters, report 41, 6 bytes: bit fields in bytes 1 and 2.
inkora_hid_feature_general_parameters inkora_get_general_parameters(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_general_parameters, INKORA_GENERAL_PARAMETERS_LENGTH>(
        device, INKORA_REPORT_ID_GENERAL_PARAMETERS, [](const uint8_t* b, inkora_hid_feature_general_parameters& r) {
            r.xy_output_enable = bit(b[1], 0);
            r.adc_output_enable = bit(b[1], 1);
            r.map_coordinates = bit(b[1], 2);
            r.channel_lock_enable = bit(b[1], 3);
            r.channel_lock_number = static_cast<uint8_t>((b[1] >> 4) & 0x07);
            r.reserved = bit(b[1], 7);
            r.corner_lower_left = static_cast<uint8_t>(b[2] & 0x03);
            r.corner_upper_left = static_cast<uint8_t>((b[2] >> 2) & 0x03);
            r.corner_lower_right = static_cast<uint8_t>((b[2] >> 4) & 0x03);
            r.corner_upper_right = static_cast<uint8_t>((b[2] >> 6) & 0x03);
            r.samples = get_u16(b, 3);
            r.filter_frequency = b[5];
        });
}

void inkora_get_general_parameters_ref(inkora_device* device, inkora_hid_feature_general_parameters* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_general_parameters(device));
}

inkora_error_code inkora_set_general_parameters(inkora_device* device, inkora_hid_feature_general_parameters r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_GENERAL_PARAMETERS_LENGTH>(device, INKORA_REPORT_ID_GENERAL_PARAMETERS,
                                                          [&](uint8_t* b) {
        // Shifted into place and OR-ed without masking: the caller keeps
        // every value within its width.
        b[1] = static_cast<uint8_t>(r.xy_output_enable | (r.adc_output_enable << 1) | (r.map_coordinates << 2) |
                                    (r.channel_lock_enable << 3) | (r.channel_lock_number << 4) |
                                    (r.reserved << 7));
        b[2] = static_cast<uint8_t>(r.corner_lower_left | (r.corner_upper_left << 2) | (r.corner_lower_right << 4) |
                                    (r.corner_upper_right << 6));
        put2(b, 3, r.samples);
        b[5] = r.filter_frequency;
    });
}

// ASIC reset, report 42, 2 bytes, written only.
inkora_error_code inkora_set_asic_reset(inkora_device* device, inkora_hid_feature_asic_reset r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_ASIC_RESET_LENGTH>(device, INKORA_REPORT_ID_ASIC_RESET, [&](uint8_t* b) {
        b[1] = static_cast<uint8_t>((r.hardware_reset & 0x01) | (r.reserved << 1));
    });
}

// ASIC register read, report 43, 9 bytes: 8 bytes of register information.
inkora_hid_feature_register_get inkora_get_asic_register(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_register_get, INKORA_ASIC_REGISTER_READ_LENGTH>(
        device, INKORA_REPORT_ID_ASIC_REGISTER_READ, [](const uint8_t* b, inkora_hid_feature_register_get& r) {
            std::memcpy(r.register_info, b + 1, sizeof r.register_info);
        });
}

void inkora_get_asic_register_ref(inkora_device* device, inkora_hid_feature_register_get* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_asic_register(device));
}

// ASIC register write, report 44, 3 bytes.
inkora_error_code inkora_set_asic_register(inkora_device* device, inkora_hid_feature_register_set r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_ASIC_REGISTER_WRITE_LENGTH>(device, INKORA_REPORT_ID_ASIC_REGISTER_WRITE,
                                                           [&](uint8_t* b) {
                                                               b[1] = r.register_id;
                                                               b[2] = r.register_value;
                                                           });
}

// Pen parameters, report 50, 18 bytes.
inkora_hid_feature_pen_parameters inkora_get_pen_parameters(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_pen_parameters, INKORA_PEN_PARAMETERS_LENGTH>(
        device, INKORA_REPORT_ID_PEN_PARAMETERS, [](const uint8_t* b, inkora_hid_feature_pen_parameters& r) {
            r.proximity = get_u16(b, 1);
            r.auto_pen_threshold = get_u16(b, 3);
            r.auto_touch_threshold = get_u16(b, 5);
            r.adc_average = b[7];
            r.coordinate_average = b[8];
            r.offset_interval = get_u16(b, 9);
            r.debounce_pre_down = b[11];
            r.debounce_post_down = b[12];
            r.debounce_pre_up = b[13];
            r.debounce_post_up = b[14];
            r.error_correction_enable = bit(b[15], 0);
            r.reserved_1 = static_cast<uint8_t>((b[15] >> 1) & 0x07);
            r.offset_correction_enable = bit(b[15], 4);
            r.reserved_2 = bit(b[15], 5);
            r.tip_inverted = bit(b[15], 6);
            r.reserved_3 = bit(b[15], 7);
            r.interrupt_rate = get_u16(b, 16);
        });
}

void inkora_get_pen_parameters_ref(inkora_device* device, inkora_hid_feature_pen_parameters* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_pen_parameters(device));
}

inkora_error_code inkora_set_pen_parameters(inkora_device* device, inkora_hid_feature_pen_parameters r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_PEN_PARAMETERS_LENGTH>(device, INKORA_REPORT_ID_PEN_PARAMETERS, [&](uint8_t* b) {
        put2(b, 1, r.proximity);
        put2(b, 3, r.auto_pen_threshold);
        put2(b, 5, r.auto_touch_threshold);
        b[7] = r.adc_average;
        b[8] = r.coordinate_average;
        put2(b, 9, r.offset_interval);
        b[11] = r.debounce_pre_down;
        b[12] = r.debounce_post_down;
        b[13] = r.debounce_pre_up;
        b[14] = r.debounce_post_up;
        b[15] = static_cast<uint8_t>(r.error_correction_enable | (r.reserved_1 << 1) |
                                     (r.offset_correction_enable << 4) | (r.reserved_2 << 5) |
                                     (r.tip_inverted << 6) | (r.reserved_3 << 7));
        put2(b, 16, r.interrupt_rate);
    });
}

// Touch parameters, report 60, 22 bytes.
inkora_hid_feature_touch_parameters inkora_get_touch_parameters(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_record<inkora_hid_feature_touch_parameters, INKORA_TOUCH_PARAMETERS_LENGTH>(
        device, INKORA_REPORT_ID_TOUCH_PARAMETERS, [](const uint8_t* b, inkora_hid_feature_touch_parameters& r) {
            r.adc_average = b[1];
            r.coordinate_average = b[2];
            r.slope_down = get2(b, 3);
            r.slope_liftoff = get2(b, 5);
            r.slope_minimum = b[7];
            r.pressure_single = get_u16(b, 8);
            r.pressure_multiple = get_u16(b, 10);
            r.gain = b[12];
            r.error_correction_enable = bit(b[13], 0);
            r.reserved = static_cast<uint8_t>(b[13] >> 1);
            r.scale_x = get_u16(b, 14);
            r.offset_x = get2(b, 16);
            r.scale_y = get_u16(b, 18);
            r.offset_y = get2(b, 20);
        });
}

void inkora_get_touch_parameters_ref(inkora_device* device, inkora_hid_feature_touch_parameters* record) {
    INKORA_FUNCTION_SCOPE();
    copy_to(record, inkora_get_touch_parameters(device));
}

inkora_error_code inkora_set_touch_parameters(inkora_device* device, inkora_hid_feature_touch_parameters r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_TOUCH_PARAMETERS_LENGTH>(device, INKORA_REPORT_ID_TOUCH_PARAMETERS, [&](uint8_t* b) {
        b[1] = r.adc_average;
        b[2] = r.coordinate_average;
        put2(b, 3, static_cast<uint16_t>(r.slope_down));
        put2(b, 5, static_cast<uint16_t>(r.slope_liftoff));
        b[7] = r.slope_minimum;
        put2(b, 8, r.pressure_single);
        put2(b, 10, r.pressure_multiple);
        b[12] = r.gain;
        b[13] = static_cast<uint8_t>(r.error_correction_enable | (r.reserved << 1));
        put2(b, 14, r.scale_x);
        put2(b, 16, static_cast<uint16_t>(r.offset_x));
        put2(b, 18, r.scale_y);
        put2(b, 20, static_cast<uint16_t>(r.offset_y));
    });
}

// Output configuration, report 91, 10 bytes. The _ref form reads.
void inkora_get_output_configuration_ref(inkora_device* device, inkora_hid_feature_output_parameters* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_OUTPUT_CONFIGURATION_LENGTH> buffer{};
    if (get_report(device, INKORA_REPORT_ID_OUTPUT_CONFIGURATION, buffer))
        *record = decode_output(buffer.data());
}

inkora_hid_feature_output_parameters inkora_get_output_configuration(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_output_parameters record;
    inkora_get_output_configuration_ref(device, &record);
    return record;
}

inkora_error_code inkora_set_output_configuration(inkora_device* device, inkora_hid_feature_output_parameters r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_OUTPUT_CONFIGURATION_LENGTH>(device, INKORA_REPORT_ID_OUTPUT_CONFIGURATION,
                                                            [&](uint8_t* b) {
        put4(b, 1, r.output_report);
        b[5] = static_cast<uint8_t>(r.output_mode);
        b[6] = static_cast<uint8_t>(r.compression); // the low byte
        put2(b, 7, r.packets_per_second);
        b[9] = static_cast<uint8_t>((r.save_as_default != 0 ? 0x01 : 0) | (r.load_factory_settings != 0 ? 0x80 : 0));
    });
}

// Peripheral configuration, report 92, 17 bytes. The _ref form reads.
void inkora_get_peripheral_configuration_ref(inkora_device* device,
                                             inkora_hid_feature_peripheral_configuration* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_PERIPHERAL_CONFIGURATION_LENGTH> buffer{};
    if (!get_report(device, INKORA_REPORT_ID_PERIPHERAL_CONFIGURATION, buffer))
        return;
    const uint8_t* b = buffer.data();
    record->report_id = b[0];
    record->mag_card_output = static_cast<inkora_mag_card_output>(b[1]);
    uint8_t* reserved[] = {&record->reserved1,  &record->reserved2,  &record->reserved3,  &record->reserved4,
                           &record->reserved5,  &record->reserved6,  &record->reserved7,  &record->reserved8,
                           &record->reserved9,  &record->reserved10, &record->reserved11, &record->reserved12,
                           &record->reserved13, &record->reserved14};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[2 + i]; // bytes 2-15
    record->save_as_default = bit(b[16], 0);
    record->load_factory_settings = bit(b[16], 7);
}

inkora_hid_feature_peripheral_configuration inkora_get_peripheral_configuration(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_peripheral_configuration record;
    inkora_get_peripheral_configuration_ref(device, &record);
    return record;
}

inkora_error_code inkora_set_peripheral_configuration(inkora_device* device,
                                                      inkora_hid_feature_peripheral_configuration r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_PERIPHERAL_CONFIGURATION_LENGTH>(
        device, INKORA_REPORT_ID_PERIPHERAL_CONFIGURATION, [&](uint8_t* b) {
            b[1] = static_cast<uint8_t>(r.mag_card_output);
            const uint8_t reserved[] = {r.reserved1, r.reserved2,  r.reserved3,  r.reserved4,  r.reserved5,
                                        r.reserved6, r.reserved7,  r.reserved8,  r.reserved9,  r.reserved10,
                                        r.reserved11, r.reserved12, r.reserved13, r.reserved14};
            std::memcpy(b + 2, reserved, sizeof reserved); // bytes 2-15
            b[16] = static_cast<uint8_t>((r.save_as_default != 0 ? 0x01 : 0) |
                                         (r.load_factory_settings != 0 ? 0x80 : 0));
        });
}

// Calibration data, report 131, 49 bytes. The _ref form reads; report_id is
// the report's id whatever byte 0 of the answer holds.
void inkora_get_calibration_data_ref(inkora_device* device, inkora_hid_feature_calibration_data* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_CALIBRATION_DATA_LENGTH> buffer{};
    if (!get_report(device, INKORA_REPORT_ID_CALIBRATION_DATA, buffer))
        return;
    const uint8_t* b = buffer.data();
    record->report_id = INKORA_REPORT_ID_CALIBRATION_DATA;
    record->calibration_type = b[1];
    record->is_calibrated = bit(b[2], 0);
    record->rotation_scale = get_u16(b, 3);
    record->local_multiplier_scale = get_u16(b, 5);
    record->host_multiplier_scale = get_u16(b, 7);
    record->rotation_sin_scaled = get2(b, 9);
    record->rotation_cos_scaled = get2(b, 11);
    record->local_width_calibrated = get_u16(b, 13);
    record->local_height_calibrated = get_u16(b, 15);
    record->local_x_multiplier_scaled = get4(b, 17);
    record->local_x_offset = get4(b, 21);
    record->local_y_multiplier_scaled = get4(b, 25);
    record->local_y_offset = get4(b, 29);
    record->host_x_multiplier_scaled = get4(b, 33);
    record->host_x_offset = get4(b, 37);
    record->host_y_multiplier_scaled = get4(b, 41);
    record->host_y_offset = get4(b, 45);
}

inkora_hid_feature_calibration_data inkora_get_calibration_data(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_calibration_data record;
    inkora_get_calibration_data_ref(device, &record);
    return record;
}

inkora_error_code inkora_set_calibration_data(inkora_device* device, inkora_hid_feature_calibration_data r) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_CALIBRATION_DATA_LENGTH>(device, INKORA_REPORT_ID_CALIBRATION_DATA, [&](uint8_t* b) {
        b[1] = r.calibration_type;
        b[2] = r.is_calibrated != 0 ? 1 : 0;
        put2(b, 3, r.rotation_scale);
        put2(b, 5, r.local_multiplier_scale);
        put2(b, 7, r.host_multiplier_scale);
        put2(b, 9, static_cast<uint16_t>(r.rotation_sin_scaled));
        put2(b, 11, static_cast<uint16_t>(r.rotation_cos_scaled));
        put2(b, 13, r.local_width_calibrated);
        put2(b, 15, r.local_height_calibrated);
        put4(b, 17, static_cast<uint64_t>(r.local_x_multiplier_scaled));
        put4(b, 21, static_cast<uint64_t>(r.local_x_offset));
        put4(b, 25, static_cast<uint64_t>(r.local_y_multiplier_scaled));
        put4(b, 29, static_cast<uint64_t>(r.local_y_offset));
        put4(b, 33, static_cast<uint64_t>(r.host_x_multiplier_scaled));
        put4(b, 37, static_cast<uint64_t>(r.host_x_offset));
        put4(b, 41, static_cast<uint64_t>(r.host_y_multiplier_scaled));
        put4(b, 45, static_cast<uint64_t>(r.host_y_offset));
    });
}

// Startup mode, report 28, and region commit, report 115: 2 bytes each, written only.
inkora_error_code inkora_set_startup_mode(inkora_device* device, inkora_device_acquisition_mode mode) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_STARTUP_MODE_LENGTH>(device, INKORA_REPORT_ID_STARTUP_MODE,
                                                    [&](uint8_t* b) { b[1] = static_cast<uint8_t>(mode); });
}

inkora_error_code inkora_set_region_commit(inkora_device* device, inkora_region_save_changes save) {
    INKORA_FUNCTION_SCOPE();
    return write_record<INKORA_REGION_COMMIT_LENGTH>(device, INKORA_REPORT_ID_REGION_COMMIT,
                                                     [&](uint8_t* b) { b[1] = static_cast<uint8_t>(save); });
}

} // extern "C"
