// Input streaming: the reading thread of a session, the input callback and
// queue, parked read requests, the pump that pairs them, and the assembly of
// read and bulk read responses.
#include <array>
#include <span>
#include <cstdio>

#include "inkora-remote-common-private.h"

using inkora::remote::MutexLock;

namespace {

// Most records one response can take: every bulk report needs at least five
// bytes besides the fixed part of the message.
constexpr size_t max_taken = (INKORA_SERIAL_SEND_BUFFER_LEN - INKORA_SERIAL_HEADER_LEN - 4u - 1u - 4u) / 5u + 1u;

// Parks a read request for an open pad, or answers at once that it is not open.
void handle_read(inkora_messages* message, const char* name, bool bulk, uint32_t max_reports) noexcept {
    const uint32_t seq = message->common.seq_num;
    if (inkora_lookup_open_device(name) != nullptr) {
        auto* handle = static_cast<inkora_read_handle*>(std::calloc(1, sizeof(inkora_read_handle)));
        char* path = inkora::remote::copy_text(inkora_get_device_path(name));
        if (handle == nullptr || path == nullptr) {
            std::free(handle);
            std::free(path);
            INKORA_LOG_WARNING("Out of memory parking a read request (seq: %u); dropped.", seq);
            return;
        }
        handle->seq_num = seq;
        handle->path = path;
        handle->is_bulk = bulk ? 1 : 0;
        handle->max_reports = bulk ? max_reports : 0;
        {
            MutexLock lock(readHandleMessagesMutex);
            inkora_list_add(readHandleMessages, handle);
        }
        inkora_event_trigger(&readMessagesEvent);
        INKORA_LOG_FINE("Successfully added read message to readHandleMessages and released mutex (seq: %u).", seq);
        return;
    }
    char text[INKORA_REMOTE_ERROR_TEXT_LEN] = {};
    std::snprintf(text, sizeof text, "Device does not appear to be open: %s", name);
    const auto& request = message->read_request;
    const uint32_t name_len = request.path != nullptr ? request.path_len : 0;
    inkora_messages* reply =
        inkora::remote::new_message(bulk ? INKORA_MESSAGE_READ_BULK_RESPONSE : INKORA_MESSAGE_READ_RESPONSE, seq);
    if (reply == nullptr)
        return;
    if (bulk) {
        auto& answer = reply->read_bulk_resp;
        inkora::remote::set_text(answer.path, answer.path_len, request.path, name_len);
        answer.success = 0;
        inkora::remote::set_text(answer.error_msg, answer.error_len, text);
        answer.report_count = 0;
    } else {
        auto& answer = reply->read_response;
        inkora::remote::set_text(answer.path, answer.path_len, request.path, name_len);
        answer.success = 0;
        answer.report_id = 0;
        const size_t length = std::strlen(text);
        answer.report = inkora::remote::copy_bytes(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(length));
        answer.report_len = answer.report != nullptr ? static_cast<uint32_t>(length) : 0;
    }
    inkora::remote::send_reply(reply, true);
}

bool same_path(const inkora_serial_input_report* record, const char* path) noexcept {
    return record->path != nullptr && path != nullptr && std::strcmp(record->path, path) == 0;
}

} // namespace

extern "C" {

void inkora_serial_free_input_report(inkora_serial_input_report* report) {
    if (report == nullptr)
        return;
    std::free(report->error_msg);
    std::free(report->path);
    std::free(report->report);
    std::free(report);
}

void inkora_handle_read_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    handle_read(message, inkora::remote::name_of(message->read_request.path), false, 0);
}

void inkora_handle_read_bulk_message(inkora_messages* message) {
    INKORA_FUNCTION_SCOPE();
    handle_read(message, inkora::remote::name_of(message->read_bulk_req.path), true,
                message->read_bulk_req.maximum_reports);
}

void inkora_add_message_to_queue(inkora_serial_input_report* report) {
    INKORA_FUNCTION_SCOPE();
    if (report == nullptr)
        return;
    {
        MutexLock lock(readMessagesMutex);
        if (readMessages == nullptr || inkora_list_add(readMessages, report) == nullptr) {
            lock.unlock();
            inkora_serial_free_input_report(report);
            return;
        }
    }
    inkora_event_trigger(&readMessagesEvent);
}

void inkora_remote_input_callback(inkora_device* device, inkora_input_report* report, uint8_t report_id,
                                  const uint8_t* raw, uint32_t raw_length) {
    INKORA_FUNCTION_SCOPE();
    (void)report;
    (void)report_id;
    auto* record = static_cast<inkora_serial_input_report*>(std::calloc(1, sizeof(inkora_serial_input_report)));
    if (record == nullptr)
        return;
    record->path = inkora::remote::copy_text(device->path);
    record->success = 1;
    record->report = inkora::remote::copy_bytes(raw, raw_length);
    record->report_len = record->report != nullptr ? raw_length : 0;
    if (record->path == nullptr || (raw_length != 0 && record->report == nullptr)) {
        INKORA_LOG_WARNING("Out of memory queueing an input report of %s; dropped.", device->path);
        inkora_serial_free_input_report(record);
        return;
    }
    inkora_add_message_to_queue(record);
}

void* inkora_open_device_read_thread(void* argument) {
    INKORA_FUNCTION_SCOPE();
    auto* device = static_cast<inkora_device*>(argument);
    INKORA_LOG_INFO("Device reading thread started for %s - %hhu", device->path, inkora_device_is_open(device));
    while (inkora_device_is_open(device) == 1) {
        if (inkora_device_read(device) == INKORA_CODE_SUCCESS)
            continue;
        auto* record = static_cast<inkora_serial_input_report*>(std::calloc(1, sizeof(inkora_serial_input_report)));
        if (record == nullptr)
            continue;
        record->path = inkora::remote::copy_text(device->path);
        record->success = 0;
        record->error_msg = inkora::remote::copy_text(inkora_get_last_error());
        inkora_add_message_to_queue(record);
    }
    INKORA_LOG_INFO("Device reading thread ended for %s - %s", device->path, inkora_get_last_error());
    return nullptr;
}

inkora_messages* inkora_batch_input_messages(inkora_read_handle* handle, inkora_list* queue) {
    if (handle == nullptr || queue == nullptr)
        return nullptr;
    const bool bulk = handle->is_bulk != 0;
    const uint32_t limit = bulk ? handle->max_reports : 1u;
    const char* alias = inkora_get_device_alias(handle->path);
    const char* alias_text = alias != nullptr ? alias : "";
    const auto alias_len = static_cast<uint32_t>(std::strlen(alias_text));

    // Bytes the bulk answer takes so far: as many reports go as fit one message.
    uint64_t size = inkora::remote::bulk_response_fixed_size(alias_len);
    std::array<inkora_serial_input_report*, max_taken> taken_records{};
    size_t taken_count = 0;
    inkora_list_item* item = queue->first;
    while (item != nullptr && taken_count < limit && taken_count < taken_records.size()) {
        inkora_list_item* next = item->next;
        auto* record = static_cast<inkora_serial_input_report*>(item->ptr);
        if (!same_path(record, handle->path)) {
            item = next;
            continue;
        }
        if (record->success == 0) {
            if (taken_count == 0) {
                taken_records[taken_count++] = record;
                inkora_list_remove(queue, item);
            }
            break;
        }
        if (bulk) {
            const uint64_t more = inkora::remote::bulk_report_size(record->report_len);
            if (size + more > INKORA_SERIAL_SEND_BUFFER_LEN) {
                if (taken_count != 0)
                    break; // the rest waits for the next request
                // A report no answer could carry would block its pad's queue for good.
                INKORA_LOG_WARNING("Input report of %u bytes from %s cannot fit a bulk read response; dropped.",
                                   record->report_len, record->path);
                inkora_serial_free_input_report(record);
                inkora_list_remove(queue, item);
                item = next;
                continue;
            }
            size += more;
        }
        taken_records[taken_count++] = record;
        inkora_list_remove(queue, item);
        item = next;
    }
    if (taken_count == 0)
        return nullptr;
    const std::span<inkora_serial_input_report*> taken(taken_records.data(), taken_count);

    const inkora_serial_input_report* first = taken.front();
    inkora_messages* response = nullptr;
    if (bulk) {
        response = inkora::remote::new_message(INKORA_MESSAGE_READ_BULK_RESPONSE, handle->seq_num);
        if (response != nullptr) {
            auto& answer = response->read_bulk_resp;
            answer.success = first->success;
            inkora::remote::set_text(answer.path, answer.path_len, alias_text, alias_len);
            if (first->success != 0) {
                answer.reports = static_cast<inkora_message_read_bulk_report*>(
                    std::calloc(taken.size(), sizeof(inkora_message_read_bulk_report)));
                if (answer.reports != nullptr) {
                    answer.report_count = static_cast<uint32_t>(taken.size());
                    for (size_t i = 0; i < taken.size(); ++i) {
                        const inkora_serial_input_report* record = taken[i];
                        inkora_message_read_bulk_report& entry = answer.reports[i];
                        entry.report_id = record->report_len != 0 ? record->report[0] : 0;
                        entry.report = inkora::remote::copy_bytes(record->report, record->report_len);
                        entry.report_len = entry.report != nullptr ? record->report_len : 0;
                    }
                }
            } else {
                inkora::remote::set_text(answer.error_msg, answer.error_len, first->error_msg);
                answer.report_count = 0;
            }
        }
    } else {
        response = inkora::remote::new_message(INKORA_MESSAGE_READ_RESPONSE, handle->seq_num);
        if (response != nullptr) {
            auto& answer = response->read_response;
            const char* record_alias = inkora_get_device_alias(first->path);
            inkora::remote::set_text(answer.path, answer.path_len, record_alias != nullptr ? record_alias : "");
            answer.success = first->success;
            if (first->success != 0) {
                answer.report_id = first->report_len != 0 ? first->report[0] : 0;
                answer.report = inkora::remote::copy_bytes(first->report, first->report_len);
                answer.report_len = answer.report != nullptr ? first->report_len : 0;
            } else {
                answer.report_id = 0;
                const size_t length = first->error_msg != nullptr ? std::strlen(first->error_msg) : 0;
                answer.report = inkora::remote::copy_bytes(reinterpret_cast<const uint8_t*>(first->error_msg),
                                                           static_cast<uint32_t>(length));
                answer.report_len = answer.report != nullptr ? static_cast<uint32_t>(length) : 0;
            }
        }
    }
    for (inkora_serial_input_report* record : taken)
        inkora_serial_free_input_report(record);
    return response;
}

void* inkora_pump_messages_thread(void* argument) {
    INKORA_FUNCTION_SCOPE();
    (void)argument;
    while (running.load() == 1) {
        inkora_event_wait(&readMessagesEvent);
        if (running.load() == 0)
            break;
        MutexLock messages_lock(readMessagesMutex);
        MutexLock handles_lock(readHandleMessagesMutex);
        if (readHandleMessages->first == nullptr)
            INKORA_LOG_WARNING("Device Read Message Pump: Unable to find current read handle from remote side.");
        bool progress = false;
        inkora_list_item* item = readHandleMessages->first;
        while (item != nullptr) {
            inkora_list_item* next = item->next;
            auto* handle = static_cast<inkora_read_handle*>(item->ptr);
            inkora_messages* response = inkora_batch_input_messages(handle, readMessages);
            if (response != nullptr) {
                inkora::remote::send_quiet(response, inkora::remote::QuietKind::read);
                inkora_free_message(response);
                std::free(handle->path);
                std::free(handle);
                inkora_list_remove(readHandleMessages, item);
                progress = true;
            }
            item = next;
        }
        if (!progress)
            inkora_event_reset(&readMessagesEvent);
    }
    return nullptr;
}

} // extern "C"
