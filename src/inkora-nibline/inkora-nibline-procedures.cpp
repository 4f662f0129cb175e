// Device procedures: configuration steps that take more than one report
// (interlock waits, discarding pending edits, run-mode switches), the
// extended command report 230 and pen input simulation.
#include <array>
#include <cstring>
#include <vector>

#include "inkora-debug-scope.hpp"
#include "inkora-nibline-config-private.hpp"
#include "inkora-nibline-config.h"

namespace {

using inkora::config::get_report;
using inkora::config::interlock_tries;
using inkora::config::set_report;

// Interlock budgets, in polls of about 1 ms each.
constexpr int32_t run_mode_tries = 500;
constexpr int32_t error_correction_tries = 2200;
constexpr int32_t calibrate_state_tries_before = 2103;
constexpr int32_t calibrate_state_tries_after = 2104;

// Longest serial-number text the report carries (byte 32 stays zero).
constexpr uint32_t serial_number_max = 31;

// Drops pending screen and region edits: the screen-and-region commit, and
// only when that fails, the region commit.
inkora_error_code discard_pending_edits(inkora_device* device) {
    if (inkora_set_screen_region_commit(device, INKORA_SCREEN_REGION_DISCARD_CHANGES) == INKORA_CODE_SUCCESS)
        return INKORA_CODE_SUCCESS;
    return inkora_set_region_commit(device, INKORA_REGION_DISCARD_CHANGES);
}

inkora_error_code write_calibrate(inkora_device* device, uint8_t command) {
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_CALIBRATE) == 0)
        return INKORA_CODE_ERROR;
    std::array<uint8_t, INKORA_CALIBRATE_LENGTH> buffer{INKORA_REPORT_ID_CALIBRATE, command};
    if (set_report(device, buffer) == INKORA_CODE_SUCCESS)
        return INKORA_CODE_SUCCESS;
    // Let the pad settle before the caller tries again; the result stays an error.
    wait_for_interlock(device, interlock_tries, INTERLOCK_CALIBRATE);
    return INKORA_CODE_ERROR;
}

using extended_report = std::array<uint8_t, INKORA_EXTENDED_COMMAND_LENGTH>;

// Writes report 230 with the given bytes after the id; logs a failure.
bool extended_write(inkora_device* device, std::initializer_list<uint8_t> bytes, extended_report* prepared = nullptr) {
    extended_report buffer{};
    if (prepared != nullptr)
        buffer = *prepared;
    buffer[0] = INKORA_REPORT_ID_EXTENDED_COMMAND;
    size_t at = 1;
    for (uint8_t byte : bytes)
        buffer[at++] = byte;
    if (set_report(device, buffer) != INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Unable to set report: %s", inkora_get_last_error());
        return false;
    }
    return true;
}

// Reads the answer of an extended command: report 230, all zero after the id.
bool extended_read(inkora_device* device, extended_report& answer) {
    return get_report(device, INKORA_REPORT_ID_EXTENDED_COMMAND, answer);
}

} // namespace

extern "C" {

inkora_error_code inkora_set_run_mode(inkora_device* device, inkora_device_run_mode mode) {
    INKORA_FUNCTION_SCOPE();
    if (wait_for_interlock(device, run_mode_tries, INTERLOCK_REPORTBUFFER) == 0)
        return INKORA_CODE_ERROR;
    std::array<uint8_t, INKORA_RUN_MODE_LENGTH> buffer{INKORA_REPORT_ID_RUN_MODE, static_cast<uint8_t>(mode)};
    const inkora_error_code written = set_report(device, buffer);
    if (wait_for_interlock(device, run_mode_tries, INTERLOCK_REPORTBUFFER) == 0)
        return INKORA_CODE_ERROR;
    return written;
}

inkora_error_code inkora_set_serial_number(inkora_device* device, const char* text, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    if (text == nullptr) {
        INKORA_NIBLINE_ERROR("Serial number text was null.");
        return INKORA_CODE_ERROR;
    }
    // At most 31 characters, and never past the text's own end.
    const size_t kept = strnlen(text, length < serial_number_max ? length : serial_number_max);
    std::array<uint8_t, INKORA_SERIAL_NUMBER_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_SERIAL_NUMBER;
    std::memcpy(&buffer[1], text, kept); // bytes 1-31, byte 32 stays zero
    buffer[33] = INKORA_SERIAL_NUMBER_WRITE_KEY_1;
    buffer[34] = INKORA_SERIAL_NUMBER_WRITE_KEY_2;

    if (wait_for_interlock(device, interlock_tries, INTERLOCK_REGION) == 0)
        return INKORA_CODE_ERROR;
    if (discard_pending_edits(device) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    const inkora_hid_feature_device_status status = inkora_get_device_status(device);
    const inkora_device_run_mode back =
        status.report_id != 0 && status.is_idle != 0 ? INKORA_RUNMODE_COMMAND : INKORA_RUNMODE_PEN;
    if (inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    const inkora_error_code written = set_report(device, buffer);
    inkora_set_run_mode(device, back);
    return written == INKORA_CODE_SUCCESS ? INKORA_CODE_SUCCESS : INKORA_CODE_ERROR;
}

inkora_error_code inkora_device_calibrate(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    discard_pending_edits(device);
    return write_calibrate(device, INKORA_CALIBRATE_START);
}

inkora_error_code inkora_device_cancel_calibrate(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return write_calibrate(device, INKORA_CALIBRATE_CANCEL);
}

inkora_hid_feature_calibrate inkora_get_calibrate_state(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_calibrate record;
    std::memset(&record, 0, sizeof record);
    if (wait_for_interlock(device, calibrate_state_tries_before, INTERLOCK_CALIBRATE) == 0)
        return record;
    std::array<uint8_t, INKORA_CALIBRATE_LENGTH> buffer{};
    if (get_report(device, INKORA_REPORT_ID_CALIBRATE, buffer)) {
        record.report_id = buffer[0];
        record.calibration_mode = static_cast<uint8_t>(buffer[1] & 0x01);
        record.point = static_cast<inkora_calibration_point>(buffer[1] >> 3);
    }
    wait_for_interlock(device, calibrate_state_tries_after, INTERLOCK_CALIBRATE);
    return record;
}

void inkora_get_calibrate_state_ref(inkora_device* device, inkora_hid_feature_calibrate* record) {
    INKORA_FUNCTION_SCOPE();
    if (record != nullptr)
        *record = inkora_get_calibrate_state(device);
}

inkora_error_code inkora_set_error_correction(inkora_device* device, inkora_hid_feature_error_correction_table table) {
    INKORA_FUNCTION_SCOPE();
    std::vector<uint8_t> buffer(INKORA_ERROR_CORRECTION_TABLE_LENGTH, 0);
    buffer[0] = INKORA_REPORT_ID_ERROR_CORRECTION_TABLE;
    std::memcpy(&buffer[1], table.data, sizeof table.data); // bytes 1-2048
    discard_pending_edits(device);
    inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND);
    // From here on a failure leaves the pad in command mode.
    if (wait_for_interlock(device, error_correction_tries, INTERLOCK_REPORTBUFFER) == 0)
        return INKORA_CODE_ERROR;
    if (set_report(device, buffer) != INKORA_CODE_SUCCESS)
        return INKORA_CODE_ERROR;
    inkora_set_run_mode(device, INKORA_RUNMODE_PEN);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_set_firmware(inkora_device* device, inkora_hid_feature_firmware_download block) {
    INKORA_FUNCTION_SCOPE();
    std::array<uint8_t, INKORA_FIRMWARE_DOWNLOAD_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_FIRMWARE_DOWNLOAD;
    put4(buffer.data(), 1, block.address);                    // bytes 1-4
    std::memcpy(&buffer[5], block.data, sizeof block.data);   // bytes 5-132
    buffer[133] = block.checksum;
    return set_report(device, buffer);
}

inkora_error_code inkora_set_firmware_download_status(inkora_device* device,
                                                      inkora_hid_feature_download_command_status status) {
    INKORA_FUNCTION_SCOPE();
    std::array<uint8_t, INKORA_DOWNLOAD_COMMAND_STATUS_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_DOWNLOAD_COMMAND_STATUS;
    put2(buffer.data(), 1, status.command_status); // bytes 1-2
    return set_report(device, buffer);
}

inkora_error_code inkora_genII_tune(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return extended_write(device, {INKORA_EXTENDED_COMMAND_TUNING, INKORA_EXTENDED_COMMAND_TUNING, 0x2B})
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_error_code inkora_genII_abort_tune(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    return extended_write(device, {INKORA_EXTENDED_COMMAND_TUNING, INKORA_EXTENDED_COMMAND_TUNING, 0x2D})
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_hid_feature_tuning_status inkora_genII_get_tuning_status(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_tuning_status record;
    std::memset(&record, 0, sizeof record);
    extended_report answer{};
    if (!extended_write(device, {INKORA_EXTENDED_COMMAND_TUNING, INKORA_EXTENDED_COMMAND_TUNING, 0x35}) ||
        !extended_read(device, answer))
        return record;
    record.report_id = answer[0];
    record.command_id = answer[1];
    record.tuning_mode = static_cast<uint8_t>(answer[2] & 0x01);
    record.tuning_aborted = static_cast<uint8_t>(answer[2] & 0x02); // kept in place
    record.tuning_state = static_cast<inkora_tuning_state>(answer[2] >> 2);
    record.gain_setting = answer[3];
    return record;
}

inkora_error_code inkora_genII_set_device_pid(inkora_device* device, uint16_t product_id) {
    INKORA_FUNCTION_SCOPE();
    INKORA_LOG_WARNING("Attempting to set PID: %u", static_cast<unsigned>(product_id));
    extended_report prepared{};
    put2(prepared.data(), 5, product_id); // bytes 5-6; bytes 2-4 zero
    return extended_write(device, {INKORA_EXTENDED_COMMAND_HARDWARE_CONFIGURATION}, &prepared)
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

int32_t inkora_genII_query_hardware_configuration(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    extended_report answer{};
    if (!extended_write(device, {INKORA_EXTENDED_COMMAND_HARDWARE_CONFIGURATION}) || !extended_read(device, answer))
        return -1;
    return answer[2];
}

inkora_hid_feature_guid inkora_genII_get_hardware_GUID(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    inkora_hid_feature_guid record;
    std::memset(&record, 0, sizeof record);
    extended_report answer{};
    if (!extended_write(device, {INKORA_EXTENDED_COMMAND_HARDWARE_GUID}) || !extended_read(device, answer))
        return record;
    record.report_id = answer[0];
    std::memcpy(record.guid, &answer[4], sizeof record.guid); // bytes 4-19
    return record;
}

inkora_error_code inkora_genII_set_hardware_GUID(inkora_device* device, inkora_hid_feature_guid guid) {
    INKORA_FUNCTION_SCOPE();
    extended_report prepared{};
    std::memcpy(&prepared[4], guid.guid, sizeof guid.guid); // bytes 4-19
    return extended_write(device,
                          {INKORA_EXTENDED_COMMAND_HARDWARE_GUID, INKORA_HARDWARE_GUID_WRITE_KEY_1,
                           INKORA_HARDWARE_GUID_WRITE_KEY_2},
                          &prepared)
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_error_code inkora_simulate_pen_input(inkora_device* device, const inkora_pen_coordinate* pen) {
    INKORA_FUNCTION_SCOPE();
    if (pen == nullptr) {
        INKORA_NIBLINE_ERROR("Pen coordinate was null.");
        return INKORA_CODE_ERROR;
    }
    std::array<uint8_t, INKORA_PEN_INPUT_SIMULATION_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_PEN_INPUT_SIMULATION;
    buffer[1] = 100;
    buffer[2] = pen->coordinate_type;
    buffer[6] = pen->pen_down != 0 ? 0x11 : 0x10;
    put2(buffer.data(), 7, pen->x); // bytes 7-8
    put2(buffer.data(), 9, pen->y); // bytes 9-10
    if (set_report(device, buffer) != INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Unable to set report: %s", inkora_get_last_error());
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

} // extern "C"
