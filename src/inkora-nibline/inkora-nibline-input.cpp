// Parsing of the pad's input reports into inkora_input_report records, with
// the button logic that turns pen contacts in button regions into button
// down / move / up / press reports.
#include <cstdlib>
#include <cstring>
#include <span>

#include "inkora-debug.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"
#include "inkora-nibline.h"

namespace {

// Minimum lengths by report id; bytes beyond are ignored.
constexpr uint32_t coordinate_length = 6;          // id, sample, x(2), y(2)
constexpr uint32_t extended_coordinate_length = 7; // ... region number
constexpr uint32_t adc_values_length = 11;         // id, type, 9 bytes of values
constexpr uint32_t card_swipe_length = 231;        // id, format, 3 statuses, tracks 79 + 40 + 107
constexpr uint32_t debug_coordinate_length = 22;   // id, unread, sample, 9 x u16, region

constexpr uint8_t sample_down_bit = 0x01;
constexpr uint8_t sample_data_source_bit = 0x10;

uint16_t le16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inkora_sample_info sample_info_of(uint8_t sample) {
    inkora_sample_info info;
    std::memset(&info, 0, sizeof info);
    info.common.down = sample & sample_down_bit;
    info.common.data_source = sample & sample_data_source_bit;
    return info;
}

// The region entry of a 1-based region number, or null when the device has
// no region table (not open) or the number lies outside it.
inkora_device_region_info* region_entry(inkora_device* device, uint32_t number) {
    if (device == nullptr || device->regions == nullptr || number == 0 || number > device->display_info.region_count)
        return nullptr;
    return &device->regions[number - 1];
}

void parse_extended_coordinate(inkora_device* device, std::span<const uint8_t> bytes, inkora_input_report* out) {
    const uint8_t sample = bytes[1];
    const uint16_t x = le16(bytes, 2);
    const uint16_t y = le16(bytes, 4);
    const uint8_t region = bytes[6];
    inkora_device_region_info* entry = region_entry(device, region);
    const bool in_button = entry != nullptr && entry->common.region_type == INKORA_REGION_TYPE_BUTTON;
    const bool pressed = device != nullptr && device->button_down == 1;

    auto button = [&](uint8_t id, inkora_device_region_info* target) {
        out->button_down.report_id = id;
        out->button_down.x = x;
        out->button_down.y = y;
        out->button_down.region = target;
    };

    if (in_button && !pressed) {
        device->button_down = 1;
        device->last_button = region;
        button(INKORA_INPUT_REPORT_BUTTON_DOWN, entry);
    } else if (in_button && (sample & sample_down_bit) != 0) {
        button(INKORA_INPUT_REPORT_BUTTON_MOVE, entry);
    } else if (in_button) {
        device->button_down = 0;
        button(INKORA_INPUT_REPORT_BUTTON_PRESS, entry);
    } else if (pressed) {
        device->button_down = 0;
        // The button the contact began in; null when that entry no longer exists.
        button(INKORA_INPUT_REPORT_BUTTON_UP, region_entry(device, device->last_button));
    } else {
        out->extended_coordinate.report_id = INKORA_INPUT_REPORT_EXTENDED_COORDINATE;
        out->extended_coordinate.sample_info = sample_info_of(sample);
        out->extended_coordinate.x = x;
        out->extended_coordinate.y = y;
        out->extended_coordinate.region = region;
    }
}

void parse_adc_values(std::span<const uint8_t> bytes, inkora_hid_input_adc_values* out) {
    out->report_id = INKORA_INPUT_REPORT_ADC_VALUES;
    out->data_type = static_cast<inkora_adc_data_type>(bytes[1]);
    if (bytes[1] == INKORA_ADC_DATA_TYPE_SCAN) {
        auto& scan = out->adc_data.scan_values;
        scan.sample_info = sample_info_of(bytes[2]);
        scan.x_max = le16(bytes, 3);
        scan.x_min = le16(bytes, 5);
        scan.y_max = le16(bytes, 7);
        scan.y_min = le16(bytes, 9);
    } else if (bytes[1] == INKORA_ADC_DATA_TYPE_CHANNEL) {
        auto& channel = out->adc_data.channel_values;
        channel.channel_number = bytes[2];
        channel.sample1 = le16(bytes, 3);
        channel.sample2 = le16(bytes, 5);
        channel.sample3 = le16(bytes, 7);
        channel.sample4 = le16(bytes, 9);
    }
}

void parse_card_swipe(std::span<const uint8_t> bytes, inkora_hid_input_card_swipe* out) {
    out->report_id = INKORA_INPUT_REPORT_CARD_SWIPE;
    out->card_format = static_cast<inkora_cardswipe_type>(bytes[1]);
    out->track1_status = static_cast<inkora_cardswipe_track_status>(bytes[2]);
    out->track2_status = static_cast<inkora_cardswipe_track_status>(bytes[3]);
    out->track3_status = static_cast<inkora_cardswipe_track_status>(bytes[4]);
    std::memcpy(out->track1, &bytes[5], sizeof out->track1);   // bytes 5-83
    std::memcpy(out->track2, &bytes[84], sizeof out->track2);  // bytes 84-123
    std::memcpy(out->track3, &bytes[124], sizeof out->track3); // bytes 124-230
}

void parse_debug_coordinate(std::span<const uint8_t> bytes, inkora_hid_input_debug_coordinate* out) {
    out->report_id = INKORA_INPUT_REPORT_DEBUG_COORDINATE;
    out->sample_info = sample_info_of(bytes[2]); // byte 1 is not read
    out->offset = le16(bytes, 3);
    out->x_max = le16(bytes, 5);
    out->x_min = le16(bytes, 7);
    out->y_max = le16(bytes, 9);
    out->y_min = le16(bytes, 11);
    out->x_errcor = le16(bytes, 13);
    out->y_errcor = le16(bytes, 15);
    out->x_mapped = le16(bytes, 17);
    out->y_mapped = le16(bytes, 19);
    out->region = bytes[21];
}

// Fills out from bytes; false (last error set) when the report cannot be parsed.
bool parse_into(inkora_device* device, std::span<const uint8_t> bytes, inkora_input_report* out) {
    const auto length = static_cast<uint32_t>(bytes.size());
    switch (bytes[0]) {
    case INKORA_INPUT_REPORT_COORDINATE:
        INKORA_LOG_INFO("Input Coordinate received of length: %i", static_cast<int>(length));
        if (length < coordinate_length) {
            INKORA_NIBLINE_ERROR("Buffer was too small to be an input coordinate buffer.");
            return false;
        }
        out->coordinate.report_id = INKORA_INPUT_REPORT_COORDINATE;
        out->coordinate.sample_info = sample_info_of(bytes[1]);
        out->coordinate.x = le16(bytes, 2);
        out->coordinate.y = le16(bytes, 4);
        return true;
    case INKORA_INPUT_REPORT_EXTENDED_COORDINATE:
        INKORA_LOG_INFO("Input Extended Coordinate received of length: %i", static_cast<int>(length));
        if (length < extended_coordinate_length) {
            INKORA_NIBLINE_ERROR("Buffer was too small to be an extended input coordinate buffer.");
            return false;
        }
        parse_extended_coordinate(device, bytes, out);
        return true;
    case INKORA_INPUT_REPORT_ADC_VALUES:
        INKORA_LOG_INFO("ADC Value received of length: %i", static_cast<int>(length));
        if (length < adc_values_length) {
            INKORA_NIBLINE_ERROR("Buffer was too small to be an adc value buffer.");
            return false;
        }
        parse_adc_values(bytes, &out->adc_values);
        return true;
    case INKORA_INPUT_REPORT_CARD_SWIPE:
        if (length < card_swipe_length) {
            INKORA_NIBLINE_ERROR("Buffer was too small to be a card swipe buffer.");
            return false;
        }
        parse_card_swipe(bytes, &out->card_swipe);
        return true;
    case INKORA_INPUT_REPORT_DEBUG_COORDINATE:
        INKORA_LOG_INFO("Debug Coordinate received of length: %i", static_cast<int>(length));
        if (length < debug_coordinate_length) {
            INKORA_NIBLINE_ERROR("Buffer was too small to be a debug coordinate buffer.");
            return false;
        }
        parse_debug_coordinate(bytes, &out->debug_coordinate);
        return true;
    default:
        INKORA_NIBLINE_ERROR("Unknown input report in buffer.");
        return false;
    }
}

} // namespace

extern "C" {

inkora_input_report* inkora_parse_input_report(inkora_device* device, const uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    if (bytes == nullptr || length == 0) {
        INKORA_NIBLINE_ERROR("Buffer passed into inkora_parse_input_report was null or empty.");
        return nullptr;
    }
    auto* report = static_cast<inkora_input_report*>(std::calloc(1, sizeof(inkora_input_report)));
    if (report == nullptr) {
        INKORA_NIBLINE_ERROR("Out of memory parsing an input report.");
        return nullptr;
    }
    // The button state and the region table belong to the device: hold its
    // lock so that a close on another thread cannot free the table meanwhile.
    if (device != nullptr)
        inkora_lock_device(device);
    const bool parsed = parse_into(device, std::span<const uint8_t>(bytes, length), report);
    if (device != nullptr)
        inkora_unlock_device(device);
    if (!parsed) {
        std::free(report);
        return nullptr;
    }
    return report;
}

void inkora_free_input_report(inkora_input_report* report) { std::free(report); }

uint32_t inkora_get_input_report_expected_length(const uint8_t* bytes) {
    INKORA_FUNCTION_SCOPE();
    if (bytes == nullptr) {
        INKORA_NIBLINE_ERROR("Buffer passed into inkora_parse_input_report was null or empty.");
        return 0;
    }
    switch (bytes[0]) {
    case INKORA_INPUT_REPORT_COORDINATE:
        return coordinate_length;
    case INKORA_INPUT_REPORT_EXTENDED_COORDINATE:
        return extended_coordinate_length;
    case INKORA_INPUT_REPORT_ADC_VALUES:
        return adc_values_length;
    case INKORA_INPUT_REPORT_CARD_SWIPE:
        return card_swipe_length;
    case INKORA_INPUT_REPORT_DEBUG_COORDINATE:
        return debug_coordinate_length;
    default:
        INKORA_NIBLINE_ERROR("Unknown input report in buffer.");
        return 0;
    }
}

} // extern "C"
