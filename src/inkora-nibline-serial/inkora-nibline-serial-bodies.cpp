// Message bodies: one reader per type that pulls the body from the
// dispatch's ring, the body writer used by inkora_serial_send_message, and
// inkora_free_message.
//
// Every integer inside a body is big-endian. A variable field is a 32-bit
// length followed by exactly that many bytes. Every field received must fit
// the 4096-byte scratch buffer; a longer one is consumed in pieces of at most
// that size, as its bytes arrive, and its message is dropped, so that the
// stream stays in step and the next message decodes normally.

#include "inkora-nibline-serial-private.h"

#include <algorithm>
#include <cstdlib>

namespace inkora::serial {
namespace {

// What a received field becomes in the record.
enum class Storage {
    Text,        // length + 1 zero-filled bytes, so a text ends with a zero
    NullIfEmpty, // as Text, but a length of 0 leaves the pointer null
    Exact,       // exactly length bytes, no terminator (bulk report data)
};

// Reads one body. Pull failures (the dispatch is shutting down) end the
// reading at once; a field that cannot be kept (too long for the scratch
// buffer, or no memory) makes the message dropped, and the rest of the body
// is then still consumed field by field, without storing anything.
class BodyReader {
public:
    BodyReader(inkora_serial_dispatch* dispatch, inkora_messages* record, uint8_t* scratch) noexcept
        : dispatch_(dispatch), record_(record), scratch_(scratch) {}

    [[nodiscard]] bool ok() const noexcept { return !failed_; }

    // Pulls a fixed part of count bytes (count <= scratch size) into the
    // scratch buffer. Returns it, or nullptr once a pull failed.
    const uint8_t* fixed(uint32_t count) noexcept {
        if (failed_) {
            return nullptr;
        }
        if (inkora_message_read_from_dispatch(dispatch_, scratch_, count) != INKORA_CODE_SUCCESS) {
            failed_ = true;
            return nullptr;
        }
        return scratch_;
    }

    bool u8(uint8_t& out) noexcept {
        const uint8_t* p = fixed(1);
        if (p != nullptr) {
            out = p[0];
        }
        return p != nullptr;
    }

    bool be32(uint32_t& out) noexcept {
        const uint8_t* p = fixed(4);
        if (p != nullptr) {
            out = get_be32(p);
        }
        return p != nullptr;
    }

    // Pulls the length bytes of a variable field and stores a copy in *out.
    template <typename T>
    bool field(uint32_t length, T** out, Storage storage) noexcept {
        if (failed_) {
            return false;
        }
        if (length > INKORA_SERIAL_SCRATCH_LEN) {
            if (!dropped_) {
                INKORA_LOG_WARNING("Received a field of %u bytes, more than the %u-byte scratch buffer; message of "
                                   "type %u (seq: %u) dropped.",
                                   length, INKORA_SERIAL_SCRATCH_LEN,
                                   static_cast<unsigned>(record_->common.message_id), record_->common.seq_num);
            }
            dropped_ = true;
            return skip(length);
        }
        if (fixed(length) == nullptr) {
            return false;
        }
        if (dropped_ || (storage == Storage::NullIfEmpty && length == 0)) {
            return true;
        }
        const size_t size = storage == Storage::Exact ? std::max<size_t>(length, 1) : size_t{length} + 1;
        auto* copy = static_cast<uint8_t*>(std::calloc(size, 1));
        if (copy == nullptr) {
            drop("no memory for a field");
            return true;
        }
        std::memcpy(copy, scratch_, length);
        *out = reinterpret_cast<T*>(copy);
        return true;
    }

    // Drops the message for a reason other than a long field; the rest of
    // the body is still consumed.
    void drop(const char* reason) noexcept {
        if (!dropped_) {
            INKORA_LOG_WARNING("Message of type %u (seq: %u) dropped: %s.",
                               static_cast<unsigned>(record_->common.message_id), record_->common.seq_num, reason);
        }
        dropped_ = true;
    }
    [[nodiscard]] bool dropped() const noexcept { return dropped_; }

    // Ends the reader's work: a message that failed or was dropped is
    // released with everything allocated for it.
    inkora_error_code finish() noexcept {
        if (failed_ || dropped_) {
            inkora_free_message(record_);
            return INKORA_CODE_ERROR;
        }
        return INKORA_CODE_SUCCESS;
    }

private:
    // Consumes length bytes in pieces that fit the scratch buffer, taking
    // each piece as soon as it is in the ring.
    bool skip(uint32_t length) noexcept {
        while (length > 0) {
            const uint32_t piece = std::min(length, INKORA_SERIAL_SCRATCH_LEN);
            if (fixed(piece) == nullptr) {
                return false;
            }
            length -= piece;
        }
        return true;
    }

    inkora_serial_dispatch* dispatch_;
    inkora_messages* record_;
    uint8_t* scratch_;
    bool failed_ = false;
    bool dropped_ = false;
};

// A path: its 4-byte length, then the bytes.
bool read_path(BodyReader& reader, uint32_t& path_len, char** path, Storage storage) {
    return reader.be32(path_len) && reader.field(path_len, path, storage);
}

inkora_error_code read_path_body(inkora_serial_dispatch* d, inkora_messages* m, uint8_t* scratch,
                                 bool null_when_empty) {
    BodyReader reader(d, m, scratch);
    inkora_message_path_body& body = m->open_request;
    if (reader.be32(body.path_len) && !(null_when_empty && body.path_len == 0)) {
        // An open or close request without a path has nothing more to read.
        reader.field(body.path_len, &body.path, Storage::Text);
    }
    return reader.finish();
}

inkora_error_code read_result_body(inkora_serial_dispatch* d, inkora_messages* m, uint8_t* scratch,
                                   Storage error_storage) {
    BodyReader reader(d, m, scratch);
    inkora_message_result_body& body = m->open_response;
    if (read_path(reader, body.path_len, &body.path, Storage::Text)) {
        // success (1), error_len (4)
        if (const uint8_t* p = reader.fixed(5); p != nullptr) {
            body.success = p[0];
            body.error_len = get_be32(p + 1);
            reader.field(body.error_len, &body.error, error_storage);
        }
    }
    return reader.finish();
}

inkora_error_code read_report_request(inkora_serial_dispatch* d, inkora_messages* m, uint8_t* scratch) {
    BodyReader reader(d, m, scratch);
    inkora_message_report_request& body = m->output_request;
    if (read_path(reader, body.path_len, &body.path, Storage::Text) && reader.be32(body.report_len)) {
        reader.field(body.report_len, &body.report, Storage::Text);
    }
    return reader.finish();
}

} // namespace

void encode_body(Encoder& e, const inkora_messages& m) noexcept {
    switch (message_type(m)) {
    case INKORA_MESSAGE_DEVICEENUM_REQUEST:
    case INKORA_MESSAGE_PING:
    case INKORA_MESSAGE_PONG:
        break;
    case INKORA_MESSAGE_DEVICEENUM_RESPONSE: {
        const inkora_message_deviceenum_response& body = m.enum_response;
        e.u8(body.device_count);
        if (body.device_count != 0 && body.device_list == nullptr) {
            e.mark_missing();
            break;
        }
        for (uint32_t i = 0; i < body.device_count; ++i) {
            const inkora_message_device& dev = body.device_list[i];
            e.field(dev.path_len, dev.path);
            e.be16(dev.product_id); // product before vendor
            e.be16(dev.vendor_id);
            e.field(dev.model_len, dev.model);
            e.field(dev.manufacturer_len, dev.manufacturer);
        }
        break;
    }
    case INKORA_MESSAGE_OPEN_REQUEST:
    case INKORA_MESSAGE_CLOSE_REQUEST:
    case INKORA_MESSAGE_READ_REQUEST:
    case INKORA_MESSAGE_DEVICE_ATTACH:
    case INKORA_MESSAGE_DEVICE_DETACH:
        e.field(m.open_request.path_len, m.open_request.path);
        break;
    case INKORA_MESSAGE_OPEN_RESPONSE:
    case INKORA_MESSAGE_CLOSE_RESPONSE:
    case INKORA_MESSAGE_SET_OUTPUT_RESPONSE:
    case INKORA_MESSAGE_SET_FEATURE_RESPONSE: {
        const inkora_message_result_body& body = m.open_response;
        e.field(body.path_len, body.path);
        e.u8(body.success);
        e.field(body.error_len, body.error);
        break;
    }
    case INKORA_MESSAGE_READ_RESPONSE: {
        const inkora_message_read_response& body = m.read_response;
        e.field(body.path_len, body.path);
        e.u8(body.success);
        e.u8(body.report_id);
        e.field(body.report_len, body.report);
        break;
    }
    case INKORA_MESSAGE_SET_OUTPUT_REQUEST:
    case INKORA_MESSAGE_SET_FEATURE_REQUEST:
        e.field(m.output_request.path_len, m.output_request.path);
        e.field(m.output_request.report_len, m.output_request.report);
        break;
    case INKORA_MESSAGE_GET_FEATURE_REQUEST:
        e.field(m.get_feature_request.path_len, m.get_feature_request.path);
        e.u8(m.get_feature_request.report_id);
        e.be32(m.get_feature_request.report_len);
        break;
    case INKORA_MESSAGE_GET_FEATURE_RESPONSE:
        e.field(m.get_feature_response.path_len, m.get_feature_response.path);
        e.u8(m.get_feature_response.success);
        e.field(m.get_feature_response.report_len, m.get_feature_response.report);
        break;
    case INKORA_MESSAGE_READ_BULK_REQUEST:
        e.field(m.read_bulk_req.path_len, m.read_bulk_req.path);
        e.be32(m.read_bulk_req.maximum_reports);
        break;
    case INKORA_MESSAGE_READ_BULK_RESPONSE: {
        const inkora_message_read_bulk_response& body = m.read_bulk_resp;
        e.field(body.path_len, body.path);
        e.u8(body.success);
        if (body.success != 0) {
            e.be32(body.report_count);
            if (body.report_count != 0 && body.reports == nullptr) {
                e.mark_missing();
                break;
            }
            for (uint32_t i = 0; i < body.report_count && !e.overflowed(); ++i) {
                e.u8(body.reports[i].report_id);
                e.field(body.reports[i].report_len, body.reports[i].report);
            }
        } else {
            e.field(body.error_len, body.error_msg);
        }
        break;
    }
    case INKORA_MESSAGE_VERSION_INFO:
        // Exactly four bytes follow, whatever total_len says.
        e.be32(m.version.total_len);
        e.u8(m.version.version_major);
        e.u8(m.version.version_minor);
        e.u8(m.version.version_release);
        e.u8(m.version.supports_bulk);
        break;
    }
}

} // namespace inkora::serial

using inkora::serial::BodyReader;
using inkora::serial::get_be16;
using inkora::serial::get_be32;
using inkora::serial::Storage;

extern "C" {

inkora_error_code inkora_serial_process_deviceenum_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*) {
    INKORA_FUNCTION_SCOPE();
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_serial_process_ping(inkora_serial_dispatch*, inkora_messages*, uint8_t*) {
    INKORA_FUNCTION_SCOPE();
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_serial_process_pong(inkora_serial_dispatch*, inkora_messages*, uint8_t*) {
    INKORA_FUNCTION_SCOPE();
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_serial_process_deviceenum_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                            uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_deviceenum_response& body = m->enum_response;
    if (!reader.u8(body.device_count)) {
        return reader.finish();
    }
    if (body.device_count != 0) {
        body.device_list =
            static_cast<inkora_message_device*>(std::calloc(body.device_count, sizeof(inkora_message_device)));
        if (body.device_list == nullptr) {
            reader.drop("no memory for the device list");
        }
    }
    for (uint32_t i = 0; i < body.device_count && reader.ok(); ++i) {
        // Once dropped, the pads are still consumed, into a record of the stack.
        inkora_message_device spare{};
        inkora_message_device& dev = body.device_list != nullptr ? body.device_list[i] : spare;
        if (!inkora::serial::read_path(reader, dev.path_len, &dev.path, Storage::Text)) {
            break;
        }
        // product_id (2), vendor_id (2), model_len (4)
        const uint8_t* p = reader.fixed(8);
        if (p == nullptr) {
            break;
        }
        dev.product_id = get_be16(p);
        dev.vendor_id = get_be16(p + 2);
        dev.model_len = get_be32(p + 4);
        if (!reader.field(dev.model_len, &dev.model, Storage::Text) || !reader.be32(dev.manufacturer_len)) {
            break;
        }
        reader.field(dev.manufacturer_len, &dev.manufacturer, Storage::Text);
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_open_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                     uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_path_body(d, m, scratch, true);
}

inkora_error_code inkora_serial_process_close_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                      uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_path_body(d, m, scratch, true);
}

inkora_error_code inkora_serial_process_read_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                     uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_path_body(d, m, scratch, false);
}

inkora_error_code inkora_serial_process_device_attach(inkora_serial_dispatch* d, inkora_messages* m,
                                                      uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_path_body(d, m, scratch, false);
}

inkora_error_code inkora_serial_process_device_detach(inkora_serial_dispatch* d, inkora_messages* m,
                                                      uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_path_body(d, m, scratch, false);
}

inkora_error_code inkora_serial_process_open_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                      uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_result_body(d, m, scratch, Storage::NullIfEmpty);
}

inkora_error_code inkora_serial_process_close_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                       uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_result_body(d, m, scratch, Storage::NullIfEmpty);
}

inkora_error_code inkora_serial_process_set_output_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                            uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_result_body(d, m, scratch, Storage::Text);
}

inkora_error_code inkora_serial_process_set_feature_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                             uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_result_body(d, m, scratch, Storage::Text);
}

inkora_error_code inkora_serial_process_read_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                      uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_read_response& body = m->read_response;
    if (inkora::serial::read_path(reader, body.path_len, &body.path, Storage::Text)) {
        // success (1), report_id (1), report_len (4)
        if (const uint8_t* p = reader.fixed(6); p != nullptr) {
            body.success = p[0];
            body.report_id = p[1];
            body.report_len = get_be32(p + 2);
            reader.field(body.report_len, &body.report, Storage::NullIfEmpty);
        }
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_set_output_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                           uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_report_request(d, m, scratch);
}

inkora_error_code inkora_serial_process_set_feature_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                            uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    return inkora::serial::read_report_request(d, m, scratch);
}

inkora_error_code inkora_serial_process_get_feature_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                            uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_get_feature_request& body = m->get_feature_request;
    if (inkora::serial::read_path(reader, body.path_len, &body.path, Storage::Text)) {
        // report_id (1), report_len (4); no report bytes follow
        if (const uint8_t* p = reader.fixed(5); p != nullptr) {
            body.report_id = p[0];
            body.report_len = get_be32(p + 1);
        }
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_get_feature_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                             uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_get_feature_response& body = m->get_feature_response;
    if (inkora::serial::read_path(reader, body.path_len, &body.path, Storage::Text)) {
        // success (1), report_len (4)
        if (const uint8_t* p = reader.fixed(5); p != nullptr) {
            body.success = p[0];
            body.report_len = get_be32(p + 1);
            reader.field(body.report_len, &body.report, Storage::Text);
        }
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_read_bulk_request(inkora_serial_dispatch* d, inkora_messages* m,
                                                          uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_read_bulk_request& body = m->read_bulk_req;
    if (inkora::serial::read_path(reader, body.path_len, &body.path, Storage::Text)) {
        reader.be32(body.maximum_reports);
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_read_bulk_response(inkora_serial_dispatch* d, inkora_messages* m,
                                                           uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_read_bulk_response& body = m->read_bulk_resp;
    if (!inkora::serial::read_path(reader, body.path_len, &body.path, Storage::Text) || !reader.u8(body.success)) {
        return reader.finish();
    }
    if (body.success == 0) {
        body.report_count = 0;
        body.reports = nullptr;
        if (reader.be32(body.error_len)) {
            reader.field(body.error_len, &body.error_msg, Storage::Text);
        }
        return reader.finish();
    }
    body.error_len = 0;
    body.error_msg = nullptr;
    if (!reader.be32(body.report_count)) {
        return reader.finish();
    }
    if (body.report_count > inkora::serial::max_bulk_reports) {
        // More reports than any message the peer can send: the array is not
        // allocated from a count nobody can back with bytes. The reports are
        // still consumed to keep the stream in step.
        INKORA_LOG_WARNING("Received a read-bulk response with %u reports, more than the %u that fit a message; "
                           "message (seq: %u) dropped.",
                           body.report_count, inkora::serial::max_bulk_reports, m->common.seq_num);
        reader.drop("too many reports");
    } else if (body.report_count != 0) {
        body.reports = static_cast<inkora_message_read_bulk_report*>(
            std::calloc(body.report_count, sizeof(inkora_message_read_bulk_report)));
        if (body.reports == nullptr) {
            reader.drop("no memory for the report array");
        }
    }
    for (uint32_t i = 0; i < body.report_count && reader.ok(); ++i) {
        inkora_message_read_bulk_report spare{};
        inkora_message_read_bulk_report& report = body.reports != nullptr ? body.reports[i] : spare;
        // report_id (1), report_len (4)
        const uint8_t* p = reader.fixed(5);
        if (p == nullptr) {
            break;
        }
        report.report_id = p[0];
        report.report_len = get_be32(p + 1);
        reader.field(report.report_len, &report.report, Storage::Exact);
    }
    return reader.finish();
}

inkora_error_code inkora_serial_process_version_info(inkora_serial_dispatch* d, inkora_messages* m,
                                                     uint8_t* scratch) {
    INKORA_FUNCTION_SCOPE();
    BodyReader reader(d, m, scratch);
    inkora_message_version_info& body = m->version;
    if (!reader.be32(body.total_len)) {
        return reader.finish();
    }
    // total_len bytes follow; the first four are the version, anything past
    // them is consumed and ignored. A shorter body leaves the fields it does
    // not cover at zero.
    uint8_t* ignored = nullptr;
    if (body.total_len > INKORA_SERIAL_SCRATCH_LEN) {
        reader.field(body.total_len, &ignored, Storage::Exact);
        return reader.finish();
    }
    if (const uint8_t* p = reader.fixed(body.total_len); p != nullptr) {
        uint8_t* const fields[] = {&body.version_major, &body.version_minor, &body.version_release,
                                   &body.supports_bulk};
        for (uint32_t i = 0; i < 4 && i < body.total_len; ++i) {
            *fields[i] = p[i];
        }
    }
    return reader.finish();
}

void inkora_free_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    if (message == nullptr) {
        return;
    }
    switch (inkora::serial::message_type(*message)) {
    case INKORA_MESSAGE_DEVICEENUM_RESPONSE: {
        inkora_message_deviceenum_response& body = message->enum_response;
        if (body.device_list != nullptr) {
            for (uint32_t i = 0; i < body.device_count; ++i) {
                std::free(body.device_list[i].path);
                std::free(body.device_list[i].manufacturer);
                std::free(body.device_list[i].model);
            }
        }
        std::free(body.device_list);
        break;
    }
    case INKORA_MESSAGE_OPEN_REQUEST:
    case INKORA_MESSAGE_CLOSE_REQUEST:
    case INKORA_MESSAGE_READ_REQUEST:
    case INKORA_MESSAGE_DEVICE_ATTACH:
    case INKORA_MESSAGE_DEVICE_DETACH:
        std::free(message->open_request.path);
        break;
    case INKORA_MESSAGE_GET_FEATURE_REQUEST:
        std::free(message->get_feature_request.path);
        break;
    case INKORA_MESSAGE_READ_BULK_REQUEST:
        std::free(message->read_bulk_req.path);
        break;
    case INKORA_MESSAGE_OPEN_RESPONSE:
    case INKORA_MESSAGE_CLOSE_RESPONSE:
    case INKORA_MESSAGE_SET_OUTPUT_RESPONSE:
    case INKORA_MESSAGE_SET_FEATURE_RESPONSE:
        std::free(message->open_response.path);
        std::free(message->open_response.error);
        break;
    case INKORA_MESSAGE_READ_RESPONSE:
        std::free(message->read_response.path);
        std::free(message->read_response.report);
        break;
    case INKORA_MESSAGE_GET_FEATURE_RESPONSE:
        std::free(message->get_feature_response.path);
        std::free(message->get_feature_response.report);
        break;
    case INKORA_MESSAGE_SET_OUTPUT_REQUEST:
    case INKORA_MESSAGE_SET_FEATURE_REQUEST:
        std::free(message->output_request.path);
        std::free(message->output_request.report);
        break;
    case INKORA_MESSAGE_READ_BULK_RESPONSE: {
        inkora_message_read_bulk_response& body = message->read_bulk_resp;
        std::free(body.path);
        // A record owns the report array when it reports success and the
        // error text otherwise, never both.
        if (body.success != 0) {
            if (body.reports != nullptr) {
                for (uint32_t i = 0; i < body.report_count; ++i) {
                    std::free(body.reports[i].report);
                }
            }
            std::free(body.reports);
        } else {
            std::free(body.error_msg);
        }
        break;
    }
    case INKORA_MESSAGE_DEVICEENUM_REQUEST:
    case INKORA_MESSAGE_PING:
    case INKORA_MESSAGE_PONG:
    case INKORA_MESSAGE_VERSION_INFO:
        break;
    }
    std::free(message);
}

} // extern "C"
