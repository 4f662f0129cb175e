// Region, screen and resource reports; clearing the display, restoring the
// default regions and the two signature modes built on them.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "inkora-debug-scope.hpp"
#include "inkora-nibline-config-private.hpp"
#include "inkora-nibline-config.h"

namespace {

using inkora::config::get_color;
using inkora::config::get_report;
using inkora::config::get_u16;
using inkora::config::interlock_tries;
using inkora::config::put_color;
using inkora::config::set_report;

constexpr int32_t commit_tries_before = 2101;
constexpr int32_t commit_tries_after = 2100;
constexpr int32_t region_and_screen = INTERLOCK_REGION | INTERLOCK_SCREEN;

// Bytes of a button caption that fit the record's 100-character field.
constexpr size_t caption_field = 100;

uint8_t bit(uint8_t byte, unsigned position) { return static_cast<uint8_t>((byte >> position) & 0x01); }

bool region_in_bounds(const inkora_device* device, uint32_t number) {
    return number != 0 && number <= device->display_info.region_count;
}

inkora_error_code null_device() {
    INKORA_NIBLINE_ERROR("Device was null.");
    return INKORA_CODE_ERROR;
}

// A 2-byte report carrying one value, written after an optional interlock wait.
inkora_error_code write_byte_report(inkora_device* device, uint8_t id, uint8_t value, int32_t interlock,
                                    int32_t tries = interlock_tries) {
    if (device == nullptr)
        return null_device();
    if (interlock != 0 && wait_for_interlock(device, tries, interlock) == 0)
        return INKORA_CODE_ERROR;
    std::array<uint8_t, 2> buffer{id, value};
    return set_report(device, buffer);
}

// A 2-byte report read after an optional interlock wait: byte 1, or -1.
int32_t read_byte_report(inkora_device* device, uint8_t id, int32_t interlock) {
    if (device == nullptr) {
        null_device();
        return -1;
    }
    if (interlock != 0 && wait_for_interlock(device, interlock_tries, interlock) == 0)
        return -1;
    std::array<uint8_t, 2> buffer{};
    if (!get_report(device, id, buffer))
        return -1;
    return buffer[1];
}

// Report 112 from a region of the device's table layout.
std::vector<uint8_t> encode_region_write(const inkora_device_region_info& region, uint32_t caption_length) {
    std::vector<uint8_t> b(caption_length + INKORA_REGION_WRITE_FIXED_LENGTH, 0);
    const inkora_device_region_common& c = region.common;
    b[0] = INKORA_REPORT_ID_REGION_WRITE;
    b[1] = c.region_number;
    b[2] = static_cast<uint8_t>(c.region_type);
    b[3] = static_cast<uint8_t>((c.accept_touch & 1) | ((c.decode & 1) << 1) | ((c.visible & 1) << 2) |
                                ((c.in_use & 1) << 3) | ((c.has_frame & 1) << 4));
    b[4] = c.reserved_1;
    put4(b.data(), 5, c.reserved_2);
    put2(b.data(), 9, c.x1);
    put2(b.data(), 11, c.x2);
    put2(b.data(), 13, c.y1);
    put2(b.data(), 15, c.y2);
    put_color(&b[17], c.color_foreground);
    put_color(&b[21], c.color_background);
    switch (c.region_type) {
    case INKORA_REGION_TYPE_CONTAINER:
        b[25] = static_cast<uint8_t>(region.container.ink_enable | (region.container.reserved_1 << 1));
        b[26] = region.container.reserved_2;
        b[27] = static_cast<uint8_t>(region.container.reserved_3 & 0xFF);
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        b[25] = region.button.parent;
        b[26] = static_cast<uint8_t>((region.button.enable & 1) | ((region.button.highlight_on_select & 1) << 1) |
                                     ((region.button.clear_on_select & 1) << 2));
        b[27] = static_cast<uint8_t>(region.button.reserved & 0xFF);
        // The caption with its terminating zero, at most c bytes.
        const size_t text = strnlen(region.button.caption, sizeof region.button.caption);
        const size_t copied = std::min<size_t>(std::min(text + 1, sizeof region.button.caption), caption_length);
        std::memcpy(&b[29], region.button.caption, copied);
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        b[25] = region.line.parent;
        b[26] = region.line.width;
        b[27] = static_cast<uint8_t>(region.line.reserved & 0xFF);
        break;
    default:
        break;
    }
    return b;
}

// Report 152 from an indexed region record.
std::vector<uint8_t> encode_indexed_region(const inkora_hid_feature_region& region, uint32_t caption_length) {
    std::vector<uint8_t> b(caption_length + INKORA_INDEXED_REGION_FIXED_LENGTH, 0);
    const inkora_hid_feature_region_common& c = region.common;
    b[0] = INKORA_REPORT_ID_INDEXED_REGION;
    b[1] = c.region_index;
    b[2] = static_cast<uint8_t>(c.region_type);
    b[3] = static_cast<uint8_t>((c.accepts_touch & 1) | ((c.decode_region & 1) << 1) | ((c.has_frame & 1) << 2) |
                                ((c.output_to_host & 1) << 6));
    const uint8_t reserved[] = {c.reserved_1, c.reserved_2, c.reserved_3, c.reserved_4, c.reserved_5,
                                c.reserved_6, c.reserved_7, c.reserved_8, c.reserved_9};
    std::memcpy(&b[4], reserved, sizeof reserved); // bytes 4-12
    put2(b.data(), 13, c.x1);
    put2(b.data(), 15, c.x2);
    put2(b.data(), 17, c.y1);
    put2(b.data(), 19, c.y2);
    put_color(&b[21], c.foreground_color);
    put_color(&b[25], c.background_color);
    switch (c.region_type) {
    case INKORA_REGION_TYPE_CONTAINER:
        b[29] = region.container.ink_enabled;
        b[30] = region.container.ink_width;
        b[31] = region.container.reserved_1;
        b[32] = region.container.reserved_2;
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        const inkora_hid_feature_region_button& button = region.button;
        b[29] = static_cast<uint8_t>((button.enabled & 1) | ((button.highlight_on_select & 1) << 1) |
                                     ((button.clear_on_select & 1) << 2) | ((button.confirm_on_select & 1) << 3) |
                                     ((button.use_resource & 1) << 4));
        b[30] = button.reserved_1;
        b[31] = button.reserved_2;
        b[32] = button.reserved_3;
        if (button.use_resource != 0) {
            if (caption_length >= 1)
                b[33] = button.resource_number_normal;
            if (caption_length >= 2)
                b[34] = button.resource_number_selected;
        } else {
            // c bytes of the caption (never past its field), the last byte stays 0.
            std::memcpy(&b[33], button.caption, std::min<size_t>(caption_length, caption_field));
        }
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        b[29] = region.line.reserved_1;
        b[30] = region.line.line_width;
        b[31] = region.line.reserved_2;
        b[32] = region.line.reserved_3;
        break;
    case INKORA_REGION_TYPE_GRAPHIC:
        b[29] = region.graphic.reserved_1;
        b[30] = region.graphic.graphic_number;
        b[31] = static_cast<uint8_t>((region.graphic.horizontal_justification & 0x0F) |
                                     ((region.graphic.vertical_justification & 0x0F) << 4));
        b[32] = region.graphic.reserved_2;
        break;
    case INKORA_REGION_TYPE_TEXT:
        b[29] = region.text.reserved_1;
        b[30] = region.text.resource_number;
        b[31] = region.text.font_number;
        b[32] = static_cast<uint8_t>((region.text.horizontal_justification & 0x0F) |
                                     ((region.text.vertical_justification & 0x0F) << 4));
        break;
    default:
        break;
    }
    return b;
}

void decode_indexed_region(const std::vector<uint8_t>& b, inkora_hid_feature_region& region) {
    inkora_hid_feature_region_common& c = region.common;
    c.report_id = INKORA_REPORT_ID_INDEXED_REGION;
    c.region_index = b[1];
    c.region_type = static_cast<inkora_region_type>(b[2]);
    c.accepts_touch = bit(b[3], 0);
    c.decode_region = bit(b[3], 1);
    c.has_frame = bit(b[3], 2);
    c.output_to_host = bit(b[3], 6);
    uint8_t* reserved[] = {&c.reserved_1, &c.reserved_2, &c.reserved_3, &c.reserved_4, &c.reserved_5,
                           &c.reserved_6, &c.reserved_7, &c.reserved_8, &c.reserved_9};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[4 + i];
    c.x1 = get_u16(b.data(), 13);
    c.x2 = get_u16(b.data(), 15);
    c.y1 = get_u16(b.data(), 17);
    c.y2 = get_u16(b.data(), 19);
    c.foreground_color = get_color(&b[21]);
    c.background_color = get_color(&b[25]);
    switch (b[2]) {
    case INKORA_REGION_TYPE_CONTAINER:
        region.container.ink_enabled = b[29];
        region.container.ink_width = b[30];
        region.container.reserved_1 = b[31];
        region.container.reserved_2 = b[32];
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        inkora_hid_feature_region_button& button = region.button;
        button.enabled = bit(b[29], 0);
        button.highlight_on_select = bit(b[29], 1);
        button.clear_on_select = bit(b[29], 2);
        button.confirm_on_select = bit(b[29], 3);
        button.use_resource = bit(b[29], 4);
        button.reserved_1 = b[30];
        button.reserved_2 = b[31];
        button.reserved_3 = b[32];
        const size_t tail = b.size() - 33; // c + 1 bytes from byte 33 to the end
        if (button.use_resource != 0) {
            button.resource_number_normal = tail >= 1 ? b[33] : 0;
            button.resource_number_selected = tail >= 2 ? b[34] : 0;
        } else {
            // The caption keeps a terminating zero whatever the pad sent.
            std::memcpy(button.caption, &b[33], std::min(tail, caption_field - 1));
        }
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        region.line.reserved_1 = b[29];
        region.line.line_width = b[30];
        region.line.reserved_2 = b[31];
        region.line.reserved_3 = b[32];
        break;
    case INKORA_REGION_TYPE_GRAPHIC:
        region.graphic.reserved_1 = b[29];
        region.graphic.graphic_number = b[30];
        region.graphic.horizontal_justification = static_cast<inkora_resource_justification>(b[31] & 0x0F);
        region.graphic.vertical_justification = static_cast<inkora_resource_justification>(b[31] >> 4);
        region.graphic.reserved_2 = b[32];
        break;
    case INKORA_REGION_TYPE_TEXT:
        region.text.reserved_1 = b[29];
        region.text.resource_number = b[30];
        region.text.font_number = b[31];
        region.text.horizontal_justification = static_cast<inkora_resource_justification>(b[32] & 0x0F);
        region.text.vertical_justification = static_cast<inkora_resource_justification>(b[32] >> 4);
        break;
    default:
        break;
    }
}

// Replaces the device's region table by a fresh read of the pad's table.
void reread_region_table(inkora_device* device) {
    inkora_lock_device(device);
    const bool held = device->regions != nullptr;
    inkora_unlock_device(device);
    if (!held)
        return;
    inkora_device_region_info* fresh = inkora_get_regions(device);
    inkora_lock_device(device);
    inkora_device_region_info* old = device->regions;
    // A close in the meantime released the table: keep it released.
    device->regions = old != nullptr ? fresh : nullptr;
    inkora_unlock_device(device);
    inkora_free_regions(old != nullptr ? old : fresh);
}

struct region_arrays {
    inkora_device_region_info* defaults = nullptr;
    inkora_device_region_info* current = nullptr;
    ~region_arrays() {
        inkora_free_regions(defaults);
        inkora_free_regions(current);
    }
};

// The values that tell the two signature modes apart.
struct mode_values {
    uint8_t next_screen;        // S: after the time-out and for regions 3 and 4
    uint8_t timeout;            // T
    uint64_t output_report;     // R
    inkora_mag_card_output mag; // M
};

void set_mode(inkora_device* device, uint8_t commit_changes, const mode_values& values) {
    const inkora_hid_capabilities caps = inkora_get_capabilities(device);
    const uint8_t modes = caps.coordinate_modes;
    const bool coordinates = (modes & 0x0C) != 0 || (modes & 0x03) == 0x03;
    if (!coordinates || caps.supports_screens_resources == 0)
        return;
    inkora_set_screen_region_commit(device, INKORA_SCREEN_REGION_FACTORY_DEFAULTS);
    inkora_set_active_screen(device, 1);
    inkora_clear_screen(device);
    inkora_restore_default_regions(device);
    inkora_set_screen_idx(device, 1);
    if (caps.display_id != INKORA_DISPLAY_TYPE_NONE) {
        inkora_hid_feature_screen a = inkora_get_screen(device);
        inkora_hid_feature_screen b = inkora_get_screen(device);
        a.timeout_screen_next = values.next_screen;
        b.timeout = values.timeout;
        b.timeout_screen_next = values.next_screen;
        inkora_add_region_to_screen(&b, 3, values.next_screen);
        inkora_add_region_to_screen(&b, 4, values.next_screen);
        inkora_set_screen(device, a);
        inkora_set_screen(device, b);
    } else {
        inkora_hid_feature_screen b = inkora_get_screen(device);
        b.timeout = values.timeout;
        inkora_set_screen(device, b);
    }
    inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND);
    inkora_hid_feature_output_parameters output = inkora_get_output_configuration(device);
    output.output_report = values.output_report;
    output.compression = INKORA_OUTPUT_COMPRESSED_HIRES;
    output.output_mode = REAL_TIME;
    output.packets_per_second = 0;
    if (commit_changes != 0) {
        output.save_as_default = 1;
        inkora_set_screen_region_commit(device, INKORA_SCREEN_REGION_SAVE_CHANGES);
    }
    inkora_set_output_configuration(device, output);
    inkora_set_active_screen(device, 1);
    if ((caps.mag_reader_id & 0x80) != 0) {
        inkora_hid_feature_peripheral_configuration peripheral = inkora_get_peripheral_configuration(device);
        peripheral.mag_card_output = values.mag;
        if (commit_changes != 0)
            peripheral.save_as_default = 1;
        inkora_set_peripheral_configuration(device, peripheral);
    }
    inkora_set_run_mode(device, INKORA_RUNMODE_PEN);
}

} // namespace

extern "C" {

// ---------------------------------------------------------------------------
// Regions

inkora_error_code inkora_set_region(inkora_device* device, inkora_device_region_info region) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    const uint32_t number = region.common.region_number;
    if (!region_in_bounds(device, number)) {
        INKORA_NIBLINE_ERROR("Region number was out of bounds, min: 1, max: %u, specified: %u\n",
                             static_cast<unsigned>(device->display_info.region_count), static_cast<unsigned>(number));
        return INKORA_CODE_ERROR;
    }
    std::vector<uint8_t> buffer = encode_region_write(region, device->display_info.max_caption_length);
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return INKORA_CODE_ERROR;
    if (set_report(device, buffer) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    // Keep the device's table in step with the pad.
    inkora_lock_device(device);
    if (device->regions != nullptr)
        device->regions[number - 1] = region;
    inkora_unlock_device(device);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_update_region(inkora_device* device, inkora_hid_feature_region_update update) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    if (!region_in_bounds(device, update.region_number)) {
        INKORA_NIBLINE_ERROR("Region number out of bounds.");
        return INKORA_CODE_ERROR;
    }
    std::array<uint8_t, INKORA_REGION_UPDATE_LENGTH> b{};
    b[0] = INKORA_REPORT_ID_REGION_UPDATE;
    b[1] = update.region_number;
    b[2] = static_cast<uint8_t>((update.function_enable & 1) | ((update.visible & 1) << 1));
    b[3] = update.reserved1;
    put_color(&b[4], update.color_foreground);
    put4(b.data(), 8, update.reserved2);
    return set_report(device, b);
}

inkora_error_code inkora_delete_region(inkora_device* device, uint8_t region_number) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    if (!region_in_bounds(device, region_number)) {
        INKORA_NIBLINE_ERROR("Region number out of bounds.");
        return INKORA_CODE_ERROR;
    }
    return write_byte_report(device, INKORA_REPORT_ID_REGION_DELETE, region_number, INTERLOCK_REGION);
}

inkora_error_code inkora_delete_device_region(inkora_device* device, uint8_t region_number) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    if (!region_in_bounds(device, region_number)) {
        INKORA_NIBLINE_ERROR("Region number out of bounds.");
        return INKORA_CODE_ERROR;
    }
    return write_byte_report(device, INKORA_REPORT_ID_DEVICE_REGION_DELETE, region_number, region_and_screen);
}

int32_t inkora_get_region_idx(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_byte_report(device, INKORA_REPORT_ID_REGION_INDEX, 0);
}

inkora_error_code inkora_set_region_idx(inkora_device* device, uint8_t index) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_REGION_INDEX, index, 0);
}

void inkora_get_region_ref(inkora_device* device, inkora_hid_feature_region* region) {
    INKORA_FUNCTION_SCOPE();
    if (region == nullptr)
        return;
    std::memset(region, 0, sizeof *region);
    if (device == nullptr) {
        null_device();
        return;
    }
    std::vector<uint8_t> buffer(device->display_info.max_caption_length + INKORA_INDEXED_REGION_FIXED_LENGTH, 0);
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return;
    if (get_report(device, INKORA_REPORT_ID_INDEXED_REGION, buffer))
        decode_indexed_region(buffer, *region);
}

inkora_hid_feature_region inkora_get_region(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_region region;
    inkora_get_region_ref(device, &region);
    return region;
}

inkora_error_code inkora_set_region_contents(inkora_device* device, inkora_hid_feature_region region) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    std::vector<uint8_t> buffer = encode_indexed_region(region, device->display_info.max_caption_length);
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return INKORA_CODE_ERROR;
    if (set_report(device, buffer) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    reread_region_table(device);
    return INKORA_CODE_SUCCESS;
}

inkora_hid_feature_region* inkora_get_device_regions(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    const inkora_hid_feature_screen_region_info info = inkora_get_screen_region_info(device);
    if (info.report_id == 0)
        return nullptr;
    const uint32_t count = info.region_count;
    auto* regions = static_cast<inkora_hid_feature_region*>(
        std::calloc(std::max<uint32_t>(count, 1), sizeof(inkora_hid_feature_region)));
    if (regions == nullptr) {
        INKORA_NIBLINE_ERROR("Out of memory reading the regions.");
        return nullptr;
    }
    if (inkora_set_region_idx(device, 1) != INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Problem setting region index: %s\n", inkora_get_last_error());
        std::free(regions);
        return nullptr;
    }
    for (uint32_t i = 0; i < count; ++i) {
        inkora_get_region_ref(device, &regions[i]);
        if (regions[i].common.report_id != INKORA_REPORT_ID_INDEXED_REGION) {
            std::free(regions);
            return nullptr;
        }
    }
    return regions;
}

void inkora_free_device_regions(inkora_hid_feature_region* regions) { std::free(regions); }

// ---------------------------------------------------------------------------
// Resources

int32_t inkora_get_resource_idx(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_byte_report(device, INKORA_REPORT_ID_RESOURCE_INDEX, 0);
}

inkora_error_code inkora_set_resource_idx(inkora_device* device, uint8_t index) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_RESOURCE_INDEX, index, 0);
}

void inkora_get_resource_info_ref(inkora_device* device, inkora_hid_feature_resource_info* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_RESOURCE_INFO_LENGTH> b{};
    if (!get_report(device, INKORA_REPORT_ID_RESOURCE_INFO, b))
        return;
    record->report_id = INKORA_REPORT_ID_RESOURCE_INFO;
    record->resource_number = b[1];
    record->resource_type = static_cast<inkora_resource_type>(b[2]);
    record->reserved_1 = b[3];
    record->resource_size = static_cast<uint64_t>(get4(b.data(), 4));
    record->resource_crc = static_cast<uint64_t>(get4(b.data(), 8));
    uint8_t* reserved[] = {&record->reserved_2, &record->reserved_3, &record->reserved_4, &record->reserved_5,
                           &record->reserved_6, &record->reserved_7, &record->reserved_8, &record->reserved_9};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[12 + i]; // bytes 12-19
}

inkora_hid_feature_resource_info inkora_get_resource_info(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_resource_info record;
    inkora_get_resource_info_ref(device, &record);
    return record;
}

void inkora_get_resource_ref(inkora_device* device, inkora_hid_feature_resource* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::vector<uint8_t> b(INKORA_RESOURCE_LENGTH, 0);
    if (!get_report(device, INKORA_REPORT_ID_RESOURCE, b))
        return;
    record->report_id = INKORA_REPORT_ID_RESOURCE;
    record->resource_number = b[1];
    record->resource_type = static_cast<inkora_resource_type>(b[2]);
    record->reserved_1 = b[3];
    record->reserved_2 = b[4];
    record->resource_size = static_cast<uint64_t>(get4(b.data(), 5));
    record->resource_crc = static_cast<uint64_t>(get4(b.data(), 9));
    uint8_t* reserved[] = {&record->reserved_3, &record->reserved_4, &record->reserved_5,
                           &record->reserved_6, &record->reserved_7, &record->reserved_8};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[13 + i]; // bytes 13-18
    record->bytes_valid = get_u16(b.data(), 19);
    std::memcpy(record->resource_data, &b[21], sizeof record->resource_data); // bytes 21-1044
}

inkora_hid_feature_resource inkora_get_resource(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    // 1 kB of data: kept off the caller's stack until it is returned.
    std::vector<inkora_hid_feature_resource> record(1);
    inkora_get_resource_ref(device, record.data());
    return record[0];
}

inkora_error_code inkora_set_resource(inkora_device* device, inkora_hid_feature_resource r) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    std::vector<uint8_t> b(INKORA_RESOURCE_LENGTH, 0);
    b[0] = INKORA_REPORT_ID_RESOURCE;
    b[1] = r.resource_number;
    b[2] = static_cast<uint8_t>(r.resource_type);
    b[3] = r.reserved_1;
    b[4] = r.reserved_2;
    put4(b.data(), 5, r.resource_size);
    put4(b.data(), 9, r.resource_crc);
    const uint8_t reserved[] = {r.reserved_3, r.reserved_4, r.reserved_5, r.reserved_6, r.reserved_7, r.reserved_8};
    std::memcpy(&b[13], reserved, sizeof reserved);
    put2(b.data(), 19, r.bytes_valid);
    std::memcpy(&b[21], r.resource_data, sizeof r.resource_data);
    if (wait_for_interlock(device, interlock_tries, region_and_screen) == 0)
        return INKORA_CODE_ERROR;
    return set_report(device, b);
}

inkora_error_code inkora_delete_resource(inkora_device* device, uint8_t index) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_RESOURCE_DELETE, index, region_and_screen);
}

void inkora_get_resource_availability_ref(inkora_device* device, inkora_hid_feature_resource_availability* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_RESOURCE_AVAILABILITY_LENGTH> b{};
    if (!get_report(device, INKORA_REPORT_ID_RESOURCE_AVAILABILITY, b))
        return;
    record->report_id = INKORA_REPORT_ID_RESOURCE_AVAILABILITY;
    record->number_available = b[1];
    record->space_available = static_cast<uint64_t>(get4(b.data(), 2));
    uint32_t* reserved[] = {&record->reserved_1, &record->reserved_2,  &record->reserved_3,  &record->reserved_4,
                            &record->reserved_5, &record->reserved_6,  &record->reserved_7,  &record->reserved_8,
                            &record->reserved_9, &record->reserved_10, &record->reserved_11, &record->reserved_12};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[6 + i]; // bytes 6-17, one byte each
}

inkora_hid_feature_resource_availability inkora_get_resource_availability(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_resource_availability record;
    inkora_get_resource_availability_ref(device, &record);
    return record;
}

// ---------------------------------------------------------------------------
// Screens

int32_t inkora_get_screen_idx(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_byte_report(device, INKORA_REPORT_ID_SCREEN_INDEX, 0);
}

inkora_error_code inkora_set_screen_idx(inkora_device* device, uint8_t index) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_SCREEN_INDEX, index, 0);
}

void inkora_get_screen_ref(inkora_device* device, inkora_hid_feature_screen* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    if (device == nullptr) {
        null_device();
        return;
    }
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_SCREEN) == 0)
        return;
    std::array<uint8_t, INKORA_SCREEN_LENGTH> b{};
    if (!get_report(device, INKORA_REPORT_ID_SCREEN, b))
        return;
    record->report_id = INKORA_REPORT_ID_SCREEN;
    record->screen_number = b[1];
    record->reset_timeout_on_activity = bit(b[2], 4);
    uint8_t* reserved[] = {&record->reserved_1,  &record->reserved_2,  &record->reserved_3,  &record->reserved_4,
                           &record->reserved_5,  &record->reserved_6,  &record->reserved_7,  &record->reserved_8,
                           &record->reserved_9,  &record->reserved_10, &record->reserved_11, &record->reserved_12,
                           &record->reserved_13, &record->reserved_14};
    for (size_t i = 0; i < std::size(reserved); ++i)
        *reserved[i] = b[3 + i]; // bytes 3-16
    record->timeout = b[17];
    record->timeout_screen_next = b[18];
    // The report holds 30 entries of each list: a larger count cannot be true.
    const uint8_t count = std::min<uint8_t>(b[19], INKORA_SCREEN_REPORT_LIST_LENGTH);
    record->region_count = count;
    std::memcpy(record->region_list, &b[20], count);      // bytes 20-49
    std::memcpy(record->screen_next_list, &b[50], count); // bytes 50-79
}

inkora_hid_feature_screen inkora_get_screen(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_screen record;
    inkora_get_screen_ref(device, &record);
    return record;
}

inkora_error_code inkora_set_screen(inkora_device* device, inkora_hid_feature_screen r) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    std::array<uint8_t, INKORA_SCREEN_LENGTH> b{};
    b[0] = INKORA_REPORT_ID_SCREEN;
    b[1] = r.screen_number;
    b[2] = static_cast<uint8_t>(r.reset_timeout_on_activity != 0 ? 0x10 : 0);
    const uint8_t reserved[] = {r.reserved_1, r.reserved_2,  r.reserved_3,  r.reserved_4,  r.reserved_5,
                                r.reserved_6, r.reserved_7,  r.reserved_8,  r.reserved_9,  r.reserved_10,
                                r.reserved_11, r.reserved_12, r.reserved_13, r.reserved_14};
    std::memcpy(&b[3], reserved, sizeof reserved); // bytes 3-16
    b[17] = r.timeout;
    b[18] = r.timeout_screen_next;
    // The count sent never exceeds the 30 entries the report carries.
    b[19] = std::min<uint8_t>(r.region_count, INKORA_SCREEN_REPORT_LIST_LENGTH);
    std::memcpy(&b[20], r.region_list, INKORA_SCREEN_REPORT_LIST_LENGTH);
    std::memcpy(&b[50], r.screen_next_list, INKORA_SCREEN_REPORT_LIST_LENGTH);
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_SCREEN) == 0)
        return INKORA_CODE_ERROR;
    return set_report(device, b);
}

inkora_error_code inkora_delete_screen(inkora_device* device, uint8_t index) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_SCREEN_DELETE, index, INTERLOCK_SCREEN);
}

inkora_error_code inkora_set_edit_screen(inkora_device* device, inkora_hid_feature_edit_screen r) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    std::array<uint8_t, INKORA_EDIT_SCREEN_LENGTH> b{};
    b[0] = INKORA_REPORT_ID_EDIT_SCREEN;
    const uint8_t reserved[] = {r.reserved_1, r.reserved_2, r.reserved_3, r.reserved_4, r.reserved_5, r.reserved_6};
    std::memcpy(&b[1], reserved, sizeof reserved); // bytes 1-6
    b[7] = static_cast<uint8_t>((r.region_add & 1) | ((r.region_delete & 1) << 1) | ((r.timeout_set & 1) << 2));
    b[8] = r.screen_index;
    b[9] = r.region_index;
    b[10] = r.region_screen_next;
    b[11] = r.timeout;
    b[12] = r.timeout_screen_next;
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_SCREEN) == 0)
        return INKORA_CODE_ERROR;
    return set_report(device, b);
}

void inkora_get_screen_region_info_ref(inkora_device* device, inkora_hid_feature_screen_region_info* record) {
    INKORA_FUNCTION_SCOPE();
    if (record == nullptr)
        return;
    std::memset(record, 0, sizeof *record);
    std::array<uint8_t, INKORA_SCREEN_REGION_INFO_LENGTH> b{};
    if (!get_report(device, INKORA_REPORT_ID_SCREEN_REGION_INFO, b))
        return;
    record->report_id = INKORA_REPORT_ID_SCREEN_REGION_INFO;
    uint8_t* fields[] = {&record->screen_count,       &record->region_count, &record->regions_per_screen,
                         &record->resource_count,     &record->caption_length, &record->text_region_length,
                         &record->text_width,         &record->text_height,  &record->reserved_1,
                         &record->reserved_2,         &record->reserved_3,   &record->reserved_4,
                         &record->reserved_5,         &record->reserved_6,   &record->reserved_7,
                         &record->reserved_8,         &record->reserved_9,   &record->reserved_10,
                         &record->reserved_11,        &record->reserved_12,  &record->reserved_13,
                         &record->reserved_14,        &record->reserved_15,  &record->reserved_16};
    for (size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = b[1 + i]; // bytes 1-24
}

inkora_hid_feature_screen_region_info inkora_get_screen_region_info(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_screen_region_info record;
    inkora_get_screen_region_info_ref(device, &record);
    return record;
}

int32_t inkora_get_active_screen(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_byte_report(device, INKORA_REPORT_ID_ACTIVE_SCREEN, INTERLOCK_SCREEN);
}

inkora_error_code inkora_set_active_screen(inkora_device* device, uint8_t screen) {
    INKORA_FUNCTION_SCOPE();
    return write_byte_report(device, INKORA_REPORT_ID_ACTIVE_SCREEN, screen, INTERLOCK_SCREEN);
}

inkora_error_code inkora_set_screen_region_commit(inkora_device* device, inkora_screen_region_save_changes save) {
    INKORA_FUNCTION_SCOPE();
    if (write_byte_report(device, INKORA_REPORT_ID_SCREEN_REGION_COMMIT, static_cast<uint8_t>(save),
                          region_and_screen, commit_tries_before) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    return wait_for_interlock(device, commit_tries_after, region_and_screen) != 0 ? INKORA_CODE_SUCCESS
                                                                                  : INKORA_CODE_ERROR;
}

inkora_error_code inkora_add_region_to_screen(inkora_hid_feature_screen* screen, int32_t region_number,
                                              int32_t screen_next) {
    if (screen == nullptr)
        return INKORA_CODE_ERROR;
    // Never search past the record's 100 entries, whatever the count says.
    const uint32_t listed = std::min<uint32_t>(screen->region_count, INKORA_SCREEN_LIST_CAPACITY);
    for (uint32_t i = 0; i < listed; ++i) {
        if (screen->region_list[i] == static_cast<uint8_t>(region_number)) {
            screen->screen_next_list[i] = static_cast<uint8_t>(screen_next);
            return INKORA_CODE_SUCCESS;
        }
    }
    if (screen->region_count >= INKORA_SCREEN_LIST_CAPACITY)
        return INKORA_CODE_ERROR;
    screen->region_list[screen->region_count] = static_cast<uint8_t>(region_number);
    screen->screen_next_list[screen->region_count] = static_cast<uint8_t>(screen_next);
    ++screen->region_count;
    return INKORA_CODE_SUCCESS;
}

// ---------------------------------------------------------------------------
// Display reset and operating modes

inkora_error_code inkora_clear_screen(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    const int32_t active = inkora_get_active_screen(device);
    if (active != -1 && inkora_set_active_screen(device, static_cast<uint8_t>(active)) == INKORA_CODE_SUCCESS)
        return INKORA_CODE_SUCCESS;
    // No screens to re-activate: cover the display with the last region.
    inkora_device_region_info last;
    inkora_lock_device(device);
    const bool held = device->regions != nullptr && device->display_info.region_count != 0;
    if (held) {
        inkora_device_region_info& entry = device->regions[device->display_info.region_count - 1];
        if (device->display_info.report_id != 0) {
            inkora_device_region_common& c = entry.common;
            c.region_type = INKORA_REGION_TYPE_CONTAINER;
            c.x1 = 0;
            c.x2 = static_cast<uint16_t>(device->display_info.width - 1);
            c.y1 = 0;
            c.y2 = static_cast<uint16_t>(device->display_info.height - 1);
            c.has_frame = 0;
            c.in_use = 1;
            c.decode = 1;
            c.visible = 1;
            c.accept_touch = 0;
        }
        last = entry;
    }
    const bool has_display = device->display_info.report_id != 0;
    inkora_unlock_device(device);
    if (!held) {
        INKORA_NIBLINE_ERROR("Device regions is null, unable to clear screen.");
        return INKORA_CODE_ERROR;
    }
    if (!has_display) {
        INKORA_NIBLINE_ERROR("Device display info is unset, unable to clear screen.");
        return INKORA_CODE_ERROR;
    }
    inkora_set_region(device, last);
    last.common.visible = 0;
    inkora_set_region(device, last);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_restore_default_regions(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return null_device();
    const inkora_hid_feature_device_status status = inkora_get_device_status(device);
    if (status.report_id != 0) {
        const bool busy = status.is_idle == 0;
        if (busy)
            inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND);
        if (inkora_set_screen_region_commit(device, INKORA_SCREEN_REGION_DISCARD_CHANGES) == INKORA_CODE_SUCCESS) {
            if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
                return INKORA_CODE_ERROR;
            if (busy)
                inkora_set_run_mode(device, INKORA_RUNMODE_PEN);
            return INKORA_CODE_SUCCESS;
        }
        if (busy)
            inkora_set_run_mode(device, INKORA_RUNMODE_PEN);
    }
    // Region by region.
    region_arrays arrays;
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return INKORA_CODE_ERROR;
    arrays.defaults = inkora_get_default_regions(device);
    if (arrays.defaults == nullptr || wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return INKORA_CODE_ERROR;
    arrays.current = inkora_get_regions(device);
    if (arrays.current == nullptr)
        return INKORA_CODE_ERROR;
    const uint32_t count = device->display_info.region_count;
    for (uint32_t i = 1; i < count; ++i) { // region 1 is left alone
        if (std::memcmp(&arrays.current[i], &arrays.defaults[i], sizeof(inkora_device_region_info)) == 0)
            continue;
        if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0 ||
            inkora_set_region(device, arrays.defaults[i]) != INKORA_CODE_SUCCESS)
            return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_set_nibline_mode(inkora_device* device, uint8_t commit_changes) {
    INKORA_FUNCTION_SCOPE();
    set_mode(device, commit_changes, mode_values{2, 0, 0x40000002u, INKORA_MAG_CARD_OEM_FORMAT});
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_set_glidenote_mode(inkora_device* device, uint8_t commit_changes) {
    INKORA_FUNCTION_SCOPE();
    set_mode(device, commit_changes,
             mode_values{3, 15, 0x40010000u,
                         static_cast<inkora_mag_card_output>(INKORA_MAG_CARD_KEYBOARD |
                                                             INKORA_MAG_CARD_KEYBOARD_PREAMBLE)});
    return INKORA_CODE_SUCCESS;
}

} // extern "C"
