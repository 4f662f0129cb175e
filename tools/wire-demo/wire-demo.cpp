// Demonstrates the wire-protocol engine end to end: a few messages are built,
// encoded by one dispatch, whose writer hands the bytes to a second dispatch,
// and decoded there on its decoding thread. Each message is shown as the hex
// bytes on the wire and as the decoded record's rendering.
//
// With INKORA_DEBUG (and INKORA_TRACE) set, the log and the traffic trace
// record the exchange as they would in the agent.

#include "inkora-debug.h"
#include "inkora-nibline-serial.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::atomic<inkora_serial_dispatch*> g_receiver{nullptr};
std::mutex g_mutex;
std::condition_variable g_decoded_cv;
unsigned g_decoded = 0;

// The sender's writer: shows the bytes, then feeds the receiver as a pipe
// would.
inkora_error_code to_receiver(const uint8_t* buffer, uint32_t len) {
    std::printf("wire (%u bytes):", len);
    for (uint32_t i = 0; i < len; ++i) {
        std::printf(i % 24 == 0 ? "\n    %02X" : " %02X", static_cast<unsigned>(buffer[i]));
    }
    std::printf("\n");
    return inkora_message_write_to_dispatch(g_receiver.load(), buffer, len);
}

// The receiver's handler: renders and releases every decoded message.
void show_decoded(inkora_messages* message) {
    std::array<char, 8192> text{};
    inkora_print_message(message, text.data(), static_cast<uint32_t>(text.size()));
    inkora_free_message(message);
    std::lock_guard lock(g_mutex);
    std::printf("decoded:\n%s\n", text.data());
    std::fflush(stdout);
    ++g_decoded;
    g_decoded_cv.notify_all();
}

char* copy_text(const char* s) {
    const size_t n = std::strlen(s);
    auto* p = static_cast<char*>(std::calloc(n + 1, 1));
    if (p != nullptr) {
        std::memcpy(p, s, n);
    }
    return p;
}

inkora_messages* new_record(inkora_serial_message_types type, uint32_t seq) {
    auto* m = static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages)));
    if (m != nullptr) {
        m->common.message_id = type;
        m->common.seq_num = seq;
    }
    return m;
}

void set_pad(inkora_message_device& pad, const char* path, uint16_t product, const char* model) {
    pad.path_len = static_cast<uint32_t>(std::strlen(path));
    pad.path = copy_text(path);
    pad.product_id = product;
    pad.vendor_id = 0x2133;
    pad.model_len = static_cast<uint32_t>(std::strlen(model));
    pad.model = copy_text(model);
    pad.manufacturer_len = 7;
    pad.manufacturer = copy_text("Penlark");
}

inkora_messages* version_info() {
    inkora_messages* m = new_record(INKORA_MESSAGE_VERSION_INFO, 7);
    m->version.total_len = 4;
    m->version.version_major = 2;
    m->version.supports_bulk = 1;
    return m;
}

inkora_messages* enumeration_answer() {
    inkora_messages* m = new_record(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 10);
    m->enum_response.device_count = 2;
    m->enum_response.device_list = static_cast<inkora_message_device*>(std::calloc(2, sizeof(inkora_message_device)));
    set_pad(m->enum_response.device_list[0], "pad-0001", 0x0001, "Sigma Pad");
    set_pad(m->enum_response.device_list[1], "pad-0002", 0x0ABC, "Omega Pad");
    return m;
}

inkora_messages* read_response() {
    static constexpr uint8_t report[] = {0x01, 0xA0, 0xFF, 0x10, 0x27, 0x00, 0x08};
    inkora_messages* m = new_record(INKORA_MESSAGE_READ_RESPONSE, 11);
    m->read_response.path_len = 8;
    m->read_response.path = copy_text("pad-0001");
    m->read_response.success = 1;
    m->read_response.report_id = report[0];
    m->read_response.report_len = sizeof(report);
    m->read_response.report = static_cast<uint8_t*>(std::calloc(sizeof(report) + 1, 1));
    std::memcpy(m->read_response.report, report, sizeof(report));
    return m;
}

inkora_serial_dispatch* new_dispatch() {
    auto* d = static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch)));
    if (d != nullptr) {
        inkora_message_create_dispatch(d);
    }
    return d;
}

} // namespace

int main() {
    inkora_debug_init("wire-demo");
    inkora_serial_dispatch* sender = new_dispatch();
    inkora_serial_dispatch* receiver = new_dispatch();
    if (sender == nullptr || receiver == nullptr) {
        std::fprintf(stderr, "wire-demo: out of memory\n");
        return 1;
    }
    receiver->unhandled_func = show_decoded;
    g_receiver = receiver;
    inkora_message_create_dispatch_read_thread(receiver);
    sender->write_func = to_receiver;
    inkora_debug_write_trace_header();
    inkora_debug_trace_wrap_dispatch(sender);

    std::printf("wire-demo: messages encoded by one dispatch and decoded by another\n\n");
    inkora_messages* (*const builders[])() = {version_info, enumeration_answer, read_response,
                                             [] { return new_record(INKORA_MESSAGE_PING, 12); }};
    int status = 0;
    unsigned sent = 0;
    for (auto build : builders) {
        inkora_messages* m = build();
        if (m == nullptr || inkora_serial_send_message(sender, m) != INKORA_CODE_SUCCESS) {
            std::fprintf(stderr, "wire-demo: sending failed\n");
            status = 1;
            inkora_free_message(m);
            break;
        }
        inkora_free_message(m);
        ++sent;
        // One message at a time, so that its rendering follows its bytes.
        std::unique_lock lock(g_mutex);
        if (!g_decoded_cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return g_decoded == sent; })) {
            std::fprintf(stderr, "wire-demo: message %u was not decoded\n", sent);
            status = 1;
            break;
        }
    }
    inkora_message_destroy_dispatch(sender);
    inkora_message_destroy_dispatch(receiver);
    inkora_debug_destroy();
    return status;
}
