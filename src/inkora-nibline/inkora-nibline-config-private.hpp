// Helpers shared by the configuration, procedure and region sources of the
// device library: one feature-report exchange in a buffer of the report's
// exact length, the colour byte order, the interlock budgets.
#ifndef INKORA_NIBLINE_CONFIG_PRIVATE_HPP
#define INKORA_NIBLINE_CONFIG_PRIVATE_HPP

#include <cstdint>
#include <cstring>
#include <span>

#include "inkora-debug.h"
#include "inkora-nibline-config.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline.h"

namespace inkora::config {

// Polls of a firmware interlock wait where no other budget applies.
inline constexpr int32_t interlock_tries = 100;

// Zeroes the buffer, puts the id into byte 0 and reads the report. On failure
// logs "Unable to get report: %s" at WARNING and returns false.
inline bool get_report(inkora_device* device, uint8_t id, std::span<uint8_t> buffer) {
    std::memset(buffer.data(), 0, buffer.size());
    buffer[0] = id;
    if (device != nullptr &&
        inkora_hid_get_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size())) ==
            INKORA_CODE_SUCCESS)
        return true;
    if (device == nullptr)
        inkora_report_error_internal("Device was null.");
    INKORA_LOG_WARNING("Unable to get report: %s", inkora_get_last_error());
    return false;
}

// Writes a report whose byte 0 already holds its id.
inline inkora_error_code set_report(inkora_device* device, std::span<uint8_t> buffer) {
    if (device == nullptr) {
        inkora_report_error_internal("Device was null.");
        return INKORA_CODE_ERROR;
    }
    return inkora_hid_set_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size()));
}

// Colours travel as red, green, blue, alpha whatever the record's field order.
inline void put_color(uint8_t* at, const inkora_color& color) {
    at[0] = color.red;
    at[1] = color.green;
    at[2] = color.blue;
    at[3] = color.alpha;
}

inline inkora_color get_color(const uint8_t* at) {
    inkora_color color;
    color.red = at[0];
    color.green = at[1];
    color.blue = at[2];
    color.alpha = at[3];
    return color;
}

inline uint16_t get_u16(const uint8_t* buffer, int32_t offset) { return static_cast<uint16_t>(get2(buffer, offset)); }

} // namespace inkora::config

#endif
