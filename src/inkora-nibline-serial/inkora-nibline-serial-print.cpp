// Renders a message as text for the debug log.
//
// The text never runs past the buffer it is given: every piece is formatted
// with a bound, and a rendering that does not fit is cut and ends with
// "...\n" (when the buffer has room for that mark) and always with a zero.
// Received texts are only ever arguments, never formats.

#include "inkora-nibline-serial-private.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr uint32_t temporary_buffer_len = 4096;
constexpr char truncation_mark[] = "...\n";

class TextBuilder {
public:
    TextBuilder(char* buffer, size_t capacity) noexcept : buffer_(buffer), capacity_(capacity) {
        buffer_[0] = '\0';
    }

    void add(const char* format, ...) INKORA_PRINTF(2, 3) {
        if (truncated_) {
            return;
        }
        va_list args;
        va_start(args, format);
        const int written = std::vsnprintf(buffer_ + length_, capacity_ - length_, format, args);
        va_end(args);
        if (written < 0) {
            return;
        }
        if (static_cast<size_t>(written) >= capacity_ - length_) {
            length_ = capacity_ - 1;
            truncated_ = true;
            mark_truncation();
            return;
        }
        length_ += static_cast<size_t>(written);
    }

    // Report bytes: two upper-case hexadecimal digits and a space each.
    void hex(const uint8_t* bytes, uint32_t count) {
        if (bytes == nullptr) {
            return;
        }
        for (uint32_t i = 0; i < count && !truncated_; ++i) {
            add("%02X ", static_cast<unsigned>(bytes[i]));
        }
    }

private:
    void mark_truncation() noexcept {
        constexpr size_t mark_len = sizeof(truncation_mark) - 1;
        if (capacity_ > mark_len) {
            std::memcpy(buffer_ + capacity_ - 1 - mark_len, truncation_mark, mark_len);
        }
        buffer_[capacity_ - 1] = '\0';
    }

    char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
    bool truncated_ = false;
};

// A text that may be null prints as "NULL".
const char* text(const char* value) noexcept {
    return value != nullptr ? value : "NULL";
}

// The details of types 4 and 6 after their header.
void add_open_close_result(TextBuilder& out, const inkora_message_result_body& body) {
    out.add("\t Path Len: %u\n", body.path_len);
    out.add("\t     Path: %s\n", text(body.path));
    out.add("\t  Success: %hhu\n", body.success);
    out.add("\tError Len: %u\n", body.error_len);
    out.add("\t    Error: %s", text(body.error));
}

// The details of types 10 and 12 after their header.
void add_report_result(TextBuilder& out, const inkora_message_result_body& body) {
    out.add("\t  Path Len: %u\n", body.path_len);
    out.add("\t      Path: %s\n", text(body.path));
    out.add("\t   Success: %hhu\n", body.success);
    out.add("\t Error Len: %u\n", body.error_len);
    out.add("\t     Error: %s", text(body.error));
}

void render(TextBuilder& out, const inkora_messages& m) {
    const uint32_t seq = m.common.seq_num;
    switch (inkora::serial::message_type(m)) {
    case INKORA_MESSAGE_DEVICEENUM_REQUEST:
        out.add("INKORA_MESSAGE_DEVICEENUM_REQUEST (seq: %u)", seq);
        break;
    case INKORA_MESSAGE_DEVICEENUM_RESPONSE: {
        const inkora_message_deviceenum_response& body = m.enum_response;
        out.add("INKORA_MESSAGE_DEVICEENUM_RESPONSE (seq: %u)\n", seq);
        out.add("\tDevice Count: %u\n", static_cast<unsigned>(body.device_count));
        for (uint32_t i = 0; body.device_list != nullptr && i < body.device_count; ++i) {
            const inkora_message_device& dev = body.device_list[i];
            out.add("\t\tDevice %i\n", static_cast<int>(i + 1));
            out.add("\t\t        Path Len: %u\n", dev.path_len);
            out.add("\t\t            Path: %s\n", text(dev.path));
            out.add("\t\t      Product Id: %04X\n", static_cast<unsigned>(dev.product_id));
            out.add("\t\t       Vendor Id: %04X\n", static_cast<unsigned>(dev.vendor_id));
            out.add("\t\t       Model Len: %u\n", dev.model_len);
            out.add("\t\t           Model: %s\n", text(dev.model));
            out.add("\t\tManufacturer Len: %u\n", dev.manufacturer_len);
            out.add("\t\t    Manufacturer: %s", text(dev.manufacturer));
        }
        break;
    }
    case INKORA_MESSAGE_OPEN_REQUEST:
    case INKORA_MESSAGE_CLOSE_REQUEST:
        out.add(inkora::serial::message_type(m) == INKORA_MESSAGE_OPEN_REQUEST ? "INKORA_MESSAGE_OPEN_REQUEST (seq: %u)\n"
                                                                   : "INKORA_MESSAGE_CLOSE_REQUEST (seq: %u)\n",
                seq);
        out.add("\tPath Len: %u\n", m.open_request.path_len);
        // A request without a path (length 0) holds none; it shows as NULL.
        out.add("\t    Path: %s", text(m.open_request.path));
        break;
    case INKORA_MESSAGE_OPEN_RESPONSE:
        out.add("INKORA_MESSAGE_OPEN_RESPONSE (seq: %u)\n", seq);
        add_open_close_result(out, m.open_response);
        break;
    case INKORA_MESSAGE_CLOSE_RESPONSE:
        out.add("INKORA_MESSAGE_CLOSE_RESPONSE (seq: %u)\n", seq);
        add_open_close_result(out, m.close_response);
        break;
    case INKORA_MESSAGE_READ_REQUEST:
        out.add("INKORA_MESSAGE_READ_REQUEST (seq: %u)\n", seq);
        out.add("\t Path Len: %u\n", m.read_request.path_len);
        out.add("\t     Path: %s", text(m.read_request.path));
        break;
    case INKORA_MESSAGE_READ_RESPONSE: {
        const inkora_message_read_response& body = m.read_response;
        out.add("INKORA_MESSAGE_READ_RESPONSE (seq: %u)\n", seq);
        out.add("\t  Path Len: %u\n", body.path_len);
        out.add("\t      Path: %s\n", text(body.path));
        out.add("\t   Success: %hhu\n", body.success);
        out.add("\t Report Id: %u\n", static_cast<unsigned>(body.report_id));
        out.add("\tReport Len: %u\n", body.report_len);
        out.add("\t    Report: ");
        out.hex(body.report, body.report_len);
        break;
    }
    case INKORA_MESSAGE_SET_OUTPUT_REQUEST: {
        const inkora_message_set_output_request& body = m.output_request;
        out.add("INKORA_MESSAGE_SET_OUTPUT_REQUEST (seq: %u)\n", seq);
        out.add("\t  Path Len: %u\n", body.path_len);
        out.add("\t      Path: %s\n", text(body.path));
        out.add("\tReport Len: %u\n", body.report_len);
        out.add("\t    Report: %s", body.report != nullptr ? "REPORT" : "NULL");
        break;
    }
    case INKORA_MESSAGE_SET_OUTPUT_RESPONSE:
        out.add("INKORA_MESSAGE_SET_OUTPUT_RESPONSE (seq: %u)\n", seq);
        add_report_result(out, m.output_response);
        break;
    case INKORA_MESSAGE_SET_FEATURE_REQUEST: {
        const inkora_message_set_feature_request& body = m.set_feature_request;
        out.add("INKORA_MESSAGE_SET_FEATURE_REQUEST (seq: %u)\n", seq);
        out.add("\t  Path Len: %u\n", body.path_len);
        out.add("\t      Path: %s\n", text(body.path));
        out.add("\tReport Len: %u\n", body.report_len);
        out.add("\t    Report: ");
        out.hex(body.report, body.report_len);
        break;
    }
    case INKORA_MESSAGE_SET_FEATURE_RESPONSE:
        out.add("INKORA_MESSAGE_SET_FEATURE_RESPONSE (seq: %u)\n", seq);
        add_report_result(out, m.set_feature_response);
        break;
    case INKORA_MESSAGE_GET_FEATURE_REQUEST: {
        const inkora_message_get_feature_request& body = m.get_feature_request;
        out.add("INKORA_MESSAGE_GET_FEATURE_REQUEST (seq: %u)\n", seq);
        out.add("\t  Path Len: %u\n", body.path_len);
        out.add("\t      Path: %s\n", text(body.path));
        out.add("\tReport Len: %u\n", body.report_len);
        out.add("\t Report Id: %u", static_cast<unsigned>(body.report_id));
        break;
    }
    case INKORA_MESSAGE_GET_FEATURE_RESPONSE: {
        const inkora_message_get_feature_response& body = m.get_feature_response;
        out.add("INKORA_MESSAGE_GET_FEATURE_RESPONSE (seq: %u)\n", seq);
        out.add("\t  Path Len: %u\n", body.path_len);
        out.add("\t      Path: %s\n", text(body.path));
        out.add("\t   Success: %hhu\n", body.success);
        out.add("\tReport Len: %u\n", body.report_len);
        out.add("\t    Report: ");
        out.hex(body.report, body.report_len);
        break;
    }
    case INKORA_MESSAGE_DEVICE_ATTACH:
    case INKORA_MESSAGE_DEVICE_DETACH:
        out.add(inkora::serial::message_type(m) == INKORA_MESSAGE_DEVICE_ATTACH ? "INKORA_MESSAGE_DEVICE_ATTACH (seq: %u)\n"
                                                                    : "INKORA_MESSAGE_DEVICE_DETACH (seq: %u)\n",
                seq);
        out.add("\t  Path Len: %u\n", m.device_attach.path_len);
        out.add("\t      Path: %s", text(m.device_attach.path));
        break;
    case INKORA_MESSAGE_PING:
        out.add("INKORA_MESSAGE_PING (seq: %u)", seq);
        break;
    case INKORA_MESSAGE_PONG:
        out.add("INKORA_MESSAGE_PONG (seq: %u)", seq);
        break;
    case INKORA_MESSAGE_READ_BULK_REQUEST:
        out.add("INKORA_MESSAGE_READ_BULK_REQUEST (seq: %u)\n", seq);
        out.add("\t Path Len: %u\n", m.read_bulk_req.path_len);
        out.add("\t     Path: %s", text(m.read_bulk_req.path));
        out.add("\t Max Rpts: %u", m.read_bulk_req.maximum_reports);
        break;
    case INKORA_MESSAGE_READ_BULK_RESPONSE: {
        const inkora_message_read_bulk_response& body = m.read_bulk_resp;
        out.add("INKORA_MESSAGE_READ_BULK_RESPONSE (seq: %u)\n", seq);
        out.add("\t    Path Len: %u\n", body.path_len);
        out.add("\t        Path: %s\n", text(body.path));
        out.add("\t     Success: %hhu\n", body.success);
        if (body.success != 0) {
            out.add("\t   Rpt Count: %u\n", body.report_count);
            for (uint32_t i = 0; body.reports != nullptr && i < body.report_count; ++i) {
                const inkora_message_read_bulk_report& report = body.reports[i];
                out.add("\t\t    Report %u:\n", i);
                out.add("\t\t    Report ID: %hhu\n", report.report_id);
                out.add("\t\t   Report Len: %u\n", report.report_len);
                out.add("\t\t       Report: ");
                out.hex(report.report, report.report_len);
                out.add("\n");
            }
        } else {
            out.add("\t   Error Len: %u\n", body.error_len);
            out.add("\t   Error Msg: %s\n", text(body.error_msg));
        }
        break;
    }
    case INKORA_MESSAGE_VERSION_INFO: {
        const inkora_message_version_info& body = m.version;
        out.add("INKORA_MESSAGE_VERSION_INFO (seq: %u)", seq);
        out.add("\t        Total Len: %u\n", body.total_len);
        out.add("\t    Version Major: %u\n", static_cast<unsigned>(body.version_major));
        out.add("\t    Version Minor: %u\n", static_cast<unsigned>(body.version_minor));
        out.add("\t  Version Release: %u\n", static_cast<unsigned>(body.version_release));
        out.add("\t    Supports Bulk: %u\n", static_cast<unsigned>(body.supports_bulk));
        break;
    }
    }
    out.add("\n");
}

} // namespace

extern "C" {

void inkora_print_message(const inkora_messages* message, char* buffer, uint32_t length) {
    if (buffer == nullptr) {
        auto* temporary = static_cast<char*>(std::calloc(temporary_buffer_len, 1));
        if (temporary == nullptr) {
            return;
        }
        inkora_print_message(message, temporary, temporary_buffer_len);
        std::printf("%s", temporary);
        std::free(temporary);
        return;
    }
    if (length == 0) {
        return; // not even room for the terminator
    }
    TextBuilder out(buffer, length);
    if (message == nullptr) {
        out.add("\n");
        return;
    }
    render(out, *message);
}

} // extern "C"
