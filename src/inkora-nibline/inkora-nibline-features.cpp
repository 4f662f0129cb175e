// Feature reports read at open: device status, display info, version, the
// error-correction table with the unique identifier derived from it, and the
// region table; the byte-order helpers and the firmware interlock wait.
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "inkora-debug.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"
#include "inkora-nibline.h"

namespace {

constexpr int32_t interlock_tries = 100;

// The interlock wait logs only its leaving line, at every exit.
class leaving_scope {
public:
    leaving_scope(const char* function, const char* file, int32_t line) noexcept
        : function_(function), file_(file), line_(line) {}
    ~leaving_scope() {
        if (static_cast<uint32_t>(INKORA_DEBUG_LEVEL_FINEST) >= INKORA_DEBUG_GATE_VALUE())
            inkora_debug_report_message(function_, file_, line_, INKORA_DEBUG_LEVEL_FINEST, "<== Leaving Function");
    }
    leaving_scope(const leaving_scope&) = delete;
    leaving_scope& operator=(const leaving_scope&) = delete;

private:
    const char* function_;
    const char* file_;
    int32_t line_;
};
constexpr uint32_t uuid_length = 16;

// Status bits of the interlock wait: bit k is the k-th locked flag.
uint32_t interlock_bits(const inkora_hid_feature_device_status& status) {
    return (status.all_output_commands_locked ? 1u : 0u) | (status.operating_mode_commands_locked ? 2u : 0u) |
           (status.region_commands_locked ? 4u : 0u) | (status.screen_commands_locked ? 8u : 0u) |
           (status.display_commands_locked ? 16u : 0u) | (status.calibration_commands_locked ? 32u : 0u);
}

// Reads a feature report into buffer (byte 0 set to id). On failure logs
// "Unable to get report" unless quiet, and returns false.
bool get_report(inkora_device* device, uint8_t id, std::vector<uint8_t>& buffer, bool quiet = false) {
    std::fill(buffer.begin(), buffer.end(), 0);
    buffer[0] = id;
    if (inkora_hid_get_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size())) ==
        INKORA_CODE_SUCCESS)
        return true;
    if (!quiet)
        INKORA_LOG_WARNING("Unable to get report: %s", inkora_get_last_error());
    return false;
}

inkora_color color_of(const uint8_t* bytes) {
    // Sent as red, green, blue, alpha.
    inkora_color color;
    color.red = bytes[0];
    color.green = bytes[1];
    color.blue = bytes[2];
    color.alpha = bytes[3];
    return color;
}

inkora_device_region_info* read_regions(inkora_device* device, uint8_t id) {
    const uint32_t count = device->display_info.region_count;
    const uint32_t caption = device->display_info.max_caption_length;
    const size_t length = static_cast<size_t>(count) * (caption + INKORA_REGION_RECORD_FIXED_LENGTH) + 1;
    std::vector<uint8_t> buffer(length, 0);
    // One entry at least, so that an empty table is a present, non-null array.
    auto* regions = static_cast<inkora_device_region_info*>(
        std::calloc(std::max<uint32_t>(count, 1), sizeof(inkora_device_region_info)));
    if (regions == nullptr) {
        INKORA_NIBLINE_ERROR("Out of memory reading the regions.");
        return nullptr;
    }
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0) {
        std::free(regions);
        return nullptr;
    }
    // The current-regions read keeps quiet about a failure; the default-regions read logs it.
    if (!get_report(device, id, buffer, id == INKORA_REPORT_ID_REGIONS)) {
        std::free(regions);
        return nullptr;
    }
    inkora_parse_regions(buffer.data(), regions, count, caption);
    return regions;
}

} // namespace

extern "C" {

int16_t get2(const uint8_t* buffer, int32_t offset) {
    return static_cast<int16_t>(static_cast<uint16_t>(buffer[offset] | (buffer[offset + 1] << 8)));
}

int64_t get4(const uint8_t* buffer, int32_t offset) {
    const uint32_t value = static_cast<uint32_t>(buffer[offset]) | (static_cast<uint32_t>(buffer[offset + 1]) << 8) |
                           (static_cast<uint32_t>(buffer[offset + 2]) << 16) |
                           (static_cast<uint32_t>(buffer[offset + 3]) << 24);
    return static_cast<int64_t>(static_cast<int32_t>(value));
}

void put2(uint8_t* buffer, int32_t offset, uint16_t value) {
    buffer[offset] = static_cast<uint8_t>(value & 0xFF);
    buffer[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put4(uint8_t* buffer, int32_t offset, uint64_t value) {
    for (int32_t i = 0; i < 4; ++i)
        buffer[offset + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

void inkora_set_legacy_firmware(int32_t version, uint8_t legacy) {
    INKORA_FUNCTION_SCOPE();
    (void)version;
    inkora_set_use_legacy_firmware(legacy);
}

uint8_t wait_for_interlock(inkora_device* device, int32_t tries, int32_t interlock) {
    const leaving_scope scope(__func__, __FILE__, __LINE__);
    if (inkora_get_use_legacy_firmware() == 1)
        return 1;
    const auto requested = static_cast<uint32_t>(interlock);
    uint32_t status_bits = 0;
    int32_t remaining = tries;
    while (remaining > 0) {
        inkora_hid_feature_device_status status;
        inkora_get_device_status_ref(device, &status);
        status_bits = interlock_bits(status);
        if ((requested & status_bits) == 0) {
            INKORA_LOG_INFO("Firmware interlock successfully waited for, sleep: %u, requested interlock: %u, "
                            "returned status: %u, took: %u",
                            static_cast<unsigned>(tries), requested, status_bits,
                            static_cast<unsigned>(tries - remaining));
            return 1;
        }
        usleep(1000);
        --remaining;
    }
    INKORA_NIBLINE_ERROR("Problem waiting for firmware interlock: device didn't respond in time, sleep: %u, "
                         "requested interlock: %u, Returned status: %u",
                         static_cast<unsigned>(tries), requested, status_bits);
    return 0;
}

void inkora_get_device_status_ref(inkora_device* device, inkora_hid_feature_device_status* status) {
    INKORA_FUNCTION_SCOPE();
    if (status == nullptr)
        return;
    std::memset(status, 0, sizeof *status);
    std::vector<uint8_t> buffer(INKORA_DEVICE_STATUS_LENGTH);
    if (!get_report(device, INKORA_REPORT_ID_DEVICE_STATUS, buffer, true))
        return;
    status->report_id = INKORA_REPORT_ID_DEVICE_STATUS;
    status->is_initializing = buffer[1] & 0x01;
    status->is_idle = (buffer[1] >> 4) & 0x01;
    status->calibration_required = buffer[2] & 0x01;
    status->is_calibrating = (buffer[2] >> 1) & 0x01;
    status->all_output_commands_locked = buffer[3] & 0x01;
    status->operating_mode_commands_locked = (buffer[3] >> 1) & 0x01;
    status->region_commands_locked = (buffer[3] >> 2) & 0x01;
    status->screen_commands_locked = (buffer[3] >> 3) & 0x01;
    status->display_commands_locked = (buffer[3] >> 4) & 0x01;
    status->calibration_commands_locked = (buffer[3] >> 5) & 0x01;
    status->reserved1 = buffer[4];
    status->reserved2 = static_cast<uint16_t>(get2(buffer.data(), 5));
    status->last_error = static_cast<uint16_t>(get2(buffer.data(), 7));
    std::memcpy(status->error_info, &buffer[9], sizeof status->error_info); // bytes 9-72
}

inkora_hid_feature_device_status inkora_get_device_status(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_device_status status;
    inkora_get_device_status_ref(device, &status);
    return status;
}

inkora_error_code inkora_clear_last_error(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    std::array<uint8_t, INKORA_DEVICE_STATUS_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_DEVICE_STATUS;
    return inkora_hid_set_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size()));
}

inkora_hid_feature_display_info inkora_get_display_info(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_display_info info;
    std::memset(&info, 0, sizeof info);
    std::vector<uint8_t> buffer(INKORA_DISPLAY_INFO_LENGTH);
    if (!get_report(device, INKORA_REPORT_ID_DISPLAY_INFO, buffer))
        return info;
    info.report_id = buffer[0];
    info.width = static_cast<uint16_t>(get2(buffer.data(), 1));
    info.height = static_cast<uint16_t>(get2(buffer.data(), 3));
    info.color_depth = buffer[5];
    info.text_width = buffer[6];
    info.text_height = buffer[7];
    info.region_count = buffer[8];
    info.max_caption_length = buffer[9];
    return info;
}

void inkora_get_display_info_ref(inkora_device* device, inkora_hid_feature_display_info* info) {
    INKORA_FUNCTION_SCOPE();
    if (info != nullptr)
        *info = inkora_get_display_info(device);
}

inkora_hid_feature_version inkora_get_version(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_version version;
    std::memset(&version, 0, sizeof version);
    std::vector<uint8_t> buffer(INKORA_VERSION_LENGTH);
    if (!get_report(device, INKORA_REPORT_ID_VERSION, buffer))
        return version;
    version.report_id = buffer[0];
    std::memcpy(version.kernel_version, &buffer[1], 3);   // bytes 1-3
    std::memcpy(version.firmware_version, &buffer[4], 3); // bytes 4-6
    version.asic_signature = static_cast<uint16_t>(get2(buffer.data(), 7));
    return version;
}

void inkora_get_version_ref(inkora_device* device, inkora_hid_feature_version* version) {
    INKORA_FUNCTION_SCOPE();
    if (version != nullptr)
        *version = inkora_get_version(device);
}

inkora_hid_feature_error_correction_table inkora_get_error_correction_table(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_error_correction_table table;
    std::memset(&table, 0, sizeof table);
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REPORTBUFFER) == 0)
        return table;
    std::vector<uint8_t> buffer(INKORA_ERROR_CORRECTION_TABLE_LENGTH);
    if (!get_report(device, INKORA_REPORT_ID_ERROR_CORRECTION_TABLE, buffer))
        return table;
    table.report_id = buffer[0];
    std::memcpy(table.data, &buffer[1], sizeof table.data); // bytes 1-2048
    return table;
}

void inkora_get_error_correction_table_ref(inkora_device* device, inkora_hid_feature_error_correction_table* table) {
    INKORA_FUNCTION_SCOPE();
    if (table != nullptr)
        *table = inkora_get_error_correction_table(device);
}

uint8_t* inkora_get_device_uuid(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    // The table is 2 kB: keep it off the stack of a caller's thread.
    auto* table = static_cast<inkora_hid_feature_error_correction_table*>(std::malloc(sizeof(inkora_hid_feature_error_correction_table)));
    if (table == nullptr) {
        INKORA_NIBLINE_ERROR("Out of memory reading the error-correction table.");
        return nullptr;
    }
    inkora_get_error_correction_table_ref(device, table);
    if (table->report_id == 0) {
        std::free(table);
        return nullptr;
    }
    auto* uuid = static_cast<uint8_t*>(std::calloc(1, uuid_length));
    unsigned int digest_length = 0;
    if (uuid == nullptr ||
        EVP_Digest(table->data, sizeof table->data, uuid, &digest_length, EVP_md5(), nullptr) != 1 ||
        digest_length != uuid_length) {
        INKORA_NIBLINE_ERROR("Unable to compute the device's unique identifier.");
        std::free(uuid);
        std::free(table);
        return nullptr;
    }
    std::free(table);
    return uuid;
}

void inkora_free_device_uuid(uint8_t* uuid) { std::free(uuid); }

inkora_device_region_info* inkora_get_regions(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_regions(device, INKORA_REPORT_ID_REGIONS);
}

inkora_device_region_info* inkora_get_default_regions(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return read_regions(device, INKORA_REPORT_ID_DEFAULT_REGIONS);
}

void inkora_parse_regions(const uint8_t* report, inkora_device_region_info* regions, uint32_t count,
                          uint32_t caption_length) {
    INKORA_FUNCTION_SCOPE();
    if (report == nullptr || regions == nullptr)
        return;
    const size_t record_length = caption_length + INKORA_REGION_RECORD_FIXED_LENGTH;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = report + 1 + i * record_length;
        inkora_device_region_info& entry = regions[i];
        std::memset(&entry, 0, sizeof entry);
        inkora_device_region_common& common = entry.common;
        common.region_number = record[0];
        common.region_type = static_cast<inkora_region_type>(record[1]);
        common.accept_touch = record[2] & 0x01;
        common.decode = (record[2] >> 1) & 0x01;
        common.visible = (record[2] >> 2) & 0x01;
        common.in_use = (record[2] >> 3) & 0x01;
        common.has_frame = (record[2] >> 4) & 0x01;
        common.reserved_1 = record[3];
        common.reserved_2 = static_cast<uint32_t>(get4(record, 4));
        common.x1 = static_cast<uint16_t>(get2(record, 8));
        common.x2 = static_cast<uint16_t>(get2(record, 10));
        common.y1 = static_cast<uint16_t>(get2(record, 12));
        common.y2 = static_cast<uint16_t>(get2(record, 14));
        common.color_foreground = color_of(record + 16);
        common.color_background = color_of(record + 20);
        switch (record[1]) {
        case INKORA_REGION_TYPE_CONTAINER:
            entry.container.ink_enable = record[24] & 0x01;
            entry.container.reserved_1 = (record[24] >> 1) & 0x03;
            entry.container.reserved_2 = record[25];
            entry.container.reserved_3 = static_cast<uint16_t>(get2(record, 26));
            break;
        case INKORA_REGION_TYPE_BUTTON: {
            entry.button.parent = record[24];
            entry.button.enable = record[25] & 0x01;
            entry.button.highlight_on_select = (record[25] >> 1) & 0x01;
            entry.button.clear_on_select = (record[25] >> 2) & 0x01;
            entry.button.reserved = static_cast<uint16_t>(get2(record, 26));
            // A caption longer than the field is cut to 99 characters; the
            // field ends with a NUL either way (the entry was zeroed).
            const size_t kept = std::min<size_t>(caption_length, INKORA_REGION_CAPTION_MAX);
            std::memcpy(entry.button.caption, record + 28, kept);
            break;
        }
        case INKORA_REGION_TYPE_LINE:
            entry.line.parent = record[24];
            entry.line.width = record[25];
            entry.line.reserved = static_cast<uint16_t>(get2(record, 26));
            break;
        default:
            break;
        }
    }
}

void inkora_free_regions(inkora_device_region_info* regions) { std::free(regions); }

} // extern "C"
