// Report pass-through (set output, set feature, get feature) and the
// version exchange.
//
// The report handlers use the session's device while holding
// openDevicesMutex, so that a detach on the hot-plug thread cannot free the
// record under a driver call; nothing is sent while the lock is held.
#include <cstdio>

#include "inkora-remote-common-private.h"

using inkora::remote::MutexLock;

namespace {

// Agent's own version record.
constexpr uint32_t version_total_len = 4;
constexpr uint8_t version_major = 2;
constexpr uint8_t version_minor = 0;
constexpr uint8_t version_release = 0;
constexpr uint8_t version_supports_bulk = 1;

// Bytes of a get-feature response besides its report.
uint64_t get_feature_response_fixed_size(uint32_t path_len) noexcept {
    return INKORA_SERIAL_HEADER_LEN + 4ull + path_len + 1ull + 4ull;
}

// Writes a report to the session (set output and set feature alike) and
// answers with message_id.
void handle_set_report(inkora_messages* message, inkora_serial_message_types reply_id) noexcept {
    const inkora_message_report_request& request = message->output_request;
    const char* name = inkora::remote::name_of(request.path);
    inkora_messages* reply = inkora::remote::new_message(reply_id, message->common.seq_num);
    if (reply == nullptr)
        return;
    auto& answer = reply->set_feature_response;
    inkora::remote::set_text(answer.path, answer.path_len, request.path, request.path != nullptr ? request.path_len : 0);
    answer.success = 0;
    const char* path = inkora_get_device_path(name);
    {
        MutexLock lock(openDevicesMutex);
        inkora_device* device = inkora::remote::find_session_locked(path);
        if (device != nullptr) {
            // Output reports go out as feature reports: the driver's output
            // operation sends nothing.
            if (device->driver->set_feature_report(device, request.report, request.report_len) == INKORA_CODE_SUCCESS)
                answer.success = 1;
            else
                inkora::remote::set_text(answer.error, answer.error_len, inkora_get_last_error());
        }
    }
    inkora::remote::send_reply(reply);
}

} // namespace

extern "C" {

void inkora_handle_set_output(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    handle_set_report(message, INKORA_MESSAGE_SET_OUTPUT_RESPONSE);
}

void inkora_handle_set_feature(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    handle_set_report(message, INKORA_MESSAGE_SET_FEATURE_RESPONSE);
}

void inkora_handle_get_feature(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    const inkora_message_get_feature_request& request = message->get_feature_request;
    const char* name = inkora::remote::name_of(request.path);
    const uint32_t length = request.report_len;
    inkora_messages* reply = inkora::remote::new_message(INKORA_MESSAGE_GET_FEATURE_RESPONSE, message->common.seq_num);
    if (reply == nullptr)
        return;
    auto& answer = reply->get_feature_response;
    const uint32_t name_len = request.path != nullptr ? request.path_len : 0;
    inkora::remote::set_text(answer.path, answer.path_len, request.path, name_len);
    answer.success = 0;

    const uint64_t fixed = get_feature_response_fixed_size(answer.path_len);
    const uint64_t room = fixed < INKORA_SERIAL_SEND_BUFFER_LEN ? INKORA_SERIAL_SEND_BUFFER_LEN - fixed : 0;
    const char* path = inkora_get_device_path(name);
    // The failure text, when there is one; it travels in the report field.
    char error[INKORA_REMOTE_ERROR_TEXT_LEN] = {};
    {
        MutexLock lock(openDevicesMutex);
        inkora_device* device = inkora::remote::find_session_locked(path);
        if (device != nullptr) {
            if (length == 0) {
                // The driver needs the report id in the first byte.
                std::snprintf(error, sizeof error, "Invalid report length 0 for report %u: no room for the report id.",
                              static_cast<unsigned>(request.report_id));
            } else if (length > room) {
                std::snprintf(error, sizeof error,
                              "Report length %u for report %u is too large: a response carries at most %u bytes.",
                              length, static_cast<unsigned>(request.report_id), static_cast<unsigned>(room));
            } else {
                auto* buffer = static_cast<uint8_t*>(std::calloc(length, 1));
                if (buffer == nullptr) {
                    std::snprintf(error, sizeof error, "Out of memory for a feature report of %u bytes.", length);
                } else {
                    buffer[0] = request.report_id;
                    if (device->driver->get_feature_report(device, buffer, length) == INKORA_CODE_SUCCESS) {
                        answer.success = 1;
                        answer.report = buffer;
                        answer.report_len = length;
                        buffer = nullptr;
                    } else {
                        std::snprintf(error, sizeof error, "%s", inkora_get_last_error());
                    }
                    std::free(buffer);
                }
            }
        }
    }
    const auto error_len = static_cast<uint32_t>(std::strlen(error));
    if (answer.success == 0 && error_len != 0) {
        answer.report = inkora::remote::copy_bytes(reinterpret_cast<const uint8_t*>(error), error_len);
        answer.report_len = answer.report != nullptr ? error_len : 0;
    }
    inkora::remote::send_reply(reply);
}

void inkora_handle_version_info(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    (void)message;
    inkora_messages* reply = inkora::remote::new_message(INKORA_MESSAGE_VERSION_INFO, 0);
    if (reply == nullptr)
        return;
    reply->version.total_len = version_total_len;
    reply->version.version_major = version_major;
    reply->version.version_minor = version_minor;
    reply->version.version_release = version_release;
    reply->version.supports_bulk = version_supports_bulk;
    inkora::remote::send_reply(reply, true);
}

} // extern "C"
