#include "inkora-nibline-serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Records and bytes

struct MessageDeleter {
    void operator()(inkora_messages* m) const { inkora_free_message(m); }
};
using Record = std::unique_ptr<inkora_messages, MessageDeleter>;

Record make(inkora_serial_message_types type, uint32_t seq) {
    Record r(static_cast<inkora_messages*>(std::calloc(1, sizeof(inkora_messages))));
    r->common.message_id = type;
    r->common.seq_num = seq;
    return r;
}

char* text(std::string_view s) {
    auto* p = static_cast<char*>(std::calloc(s.size() + 1, 1));
    std::memcpy(p, s.data(), s.size());
    return p;
}

uint8_t* bytes(const Bytes& b) {
    auto* p = static_cast<uint8_t*>(std::calloc(std::max<size_t>(b.size(), 1), 1));
    std::memcpy(p, b.data(), b.size());
    return p;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes be32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

Bytes str(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes header(uint8_t type, uint32_t seq) {
    return {type, static_cast<uint8_t>(seq), static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq >> 16),
            static_cast<uint8_t>(seq >> 24)};
}

Bytes ping(uint32_t seq) {
    return header(INKORA_MESSAGE_PING, seq);
}

// ---------------------------------------------------------------------------
// Installed functions. They take no context, so their state is global; each
// test that uses them starts by clearing it.

std::mutex g_wire_mutex;
Bytes g_wire;
std::atomic<int> g_write_calls{0};

inkora_error_code capture_write(const uint8_t* buffer, uint32_t len) {
    std::lock_guard lock(g_wire_mutex);
    g_wire.insert(g_wire.end(), buffer, buffer + len);
    ++g_write_calls;
    return INKORA_CODE_SUCCESS;
}

inkora_error_code failing_write(const uint8_t*, uint32_t) {
    return INKORA_CODE_ERROR;
}

Bytes take_wire() {
    std::lock_guard lock(g_wire_mutex);
    Bytes out;
    out.swap(g_wire);
    g_write_calls = 0;
    return out;
}

// Messages handed to an unhandled_func, one inbox per function.
struct Inbox {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<inkora_messages*> messages;

    void push(inkora_messages* m) {
        {
            std::lock_guard lock(mutex);
            messages.push_back(m);
        }
        cv.notify_all();
    }
    Record pop(std::chrono::milliseconds timeout = 2000ms) {
        std::unique_lock lock(mutex);
        if (!cv.wait_for(lock, timeout, [&] { return !messages.empty(); })) {
            return nullptr;
        }
        Record r(messages.front());
        messages.pop_front();
        return r;
    }
    size_t size() {
        std::lock_guard lock(mutex);
        return messages.size();
    }
    void clear() {
        std::lock_guard lock(mutex);
        for (inkora_messages* m : messages) {
            inkora_free_message(m);
        }
        messages.clear();
    }
};

Inbox g_inbox[2];

template <int N>
void collect(inkora_messages* m) {
    g_inbox[N].push(m);
}

// ---------------------------------------------------------------------------
// Dispatches

struct DispatchDeleter {
    void operator()(inkora_serial_dispatch* d) const { inkora_message_destroy_dispatch(d); }
};
using Dispatch = std::unique_ptr<inkora_serial_dispatch, DispatchDeleter>;

// A created dispatch; with threads, its decoding thread hands messages to
// unhandled (or releases them when it is null).
Dispatch make_dispatch(bool threads, inkora_serial_unhandled_func unhandled = nullptr) {
    Dispatch d(static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch))));
    inkora_message_create_dispatch(d.get());
    d->unhandled_func = unhandled;
    if (threads) {
        inkora_message_create_dispatch_read_thread(d.get());
    }
    return d;
}

void feed(inkora_serial_dispatch* d, const Bytes& b) {
    ASSERT_EQ(inkora_message_write_to_dispatch(d, b.data(), static_cast<uint32_t>(b.size())), INKORA_CODE_SUCCESS);
}

uint32_t ring_bytes(inkora_serial_dispatch* d) {
    inkora_mutex_lock(&d->input_buffer_mutex);
    const uint32_t n = d->input_buffer_data_len;
    inkora_mutex_unlock(&d->input_buffer_mutex);
    return n;
}

uint32_t waiter_count(inkora_serial_dispatch* d) {
    inkora_mutex_lock(&d->dispatch_mutex);
    const uint32_t n = inkora_list_count(d->dispatch_events);
    inkora_mutex_unlock(&d->dispatch_mutex);
    return n;
}

// Decodes one message from bytes already in the ring (no threads, so every
// byte the message needs must be there).
Record decode_one(inkora_serial_dispatch* d, inkora_error_code expected = INKORA_CODE_SUCCESS) {
    inkora_messages* m = nullptr;
    EXPECT_EQ(inkora_serial_get_message(d, &m), expected);
    return Record(expected == INKORA_CODE_SUCCESS ? m : nullptr);
}

Bytes encode(const inkora_messages& m, inkora_error_code expected = INKORA_CODE_SUCCESS) {
    Dispatch d = make_dispatch(false);
    d->write_func = capture_write;
    take_wire();
    EXPECT_EQ(inkora_serial_send_message(d.get(), const_cast<inkora_messages*>(&m)), expected);
    return take_wire();
}

std::string render(const inkora_messages* m, uint32_t length = 8192) {
    std::vector<char> buffer(length, 'Z');
    inkora_print_message(m, buffer.data(), length);
    return std::string(buffer.data());
}

// ---------------------------------------------------------------------------
// Bodies: every type, encoded and decoded, against its bytes.

struct WireCase {
    std::string name;
    std::function<Record()> build;
    Bytes wire;
    // Checks on the decoded record beyond what re-encoding it shows: which
    // empty fields are null and which hold an empty text.
    std::function<void(const inkora_messages&)> check;
};

Record path_body(inkora_serial_message_types type, uint32_t seq, std::string_view path) {
    Record r = make(type, seq);
    r->open_request.path_len = static_cast<uint32_t>(path.size());
    r->open_request.path = text(path);
    return r;
}

Record result_body(inkora_serial_message_types type, uint32_t seq, std::string_view path, uint8_t success,
                   const char* error) {
    Record r = path_body(type, seq, path);
    r->open_response.success = success;
    if (error != nullptr) {
        r->open_response.error_len = static_cast<uint32_t>(std::strlen(error));
        r->open_response.error = text(error);
    }
    return r;
}

Record two_pads() {
    Record r = make(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 3);
    r->enum_response.device_count = 2;
    r->enum_response.device_list =
        static_cast<inkora_message_device*>(std::calloc(2, sizeof(inkora_message_device)));
    const char* names[2][3] = {{"a", "m", "x"}, {"bc", "n", "y"}};
    for (int i = 0; i < 2; ++i) {
        inkora_message_device& dev = r->enum_response.device_list[i];
        dev.path_len = static_cast<uint32_t>(std::strlen(names[i][0]));
        dev.path = text(names[i][0]);
        dev.product_id = i == 0 ? 0x0001 : 0x00A2;
        dev.vendor_id = 0x0ABC;
        dev.model_len = 1;
        dev.model = text(names[i][1]);
        dev.manufacturer_len = 1;
        dev.manufacturer = text(names[i][2]);
    }
    return r;
}

Record bulk_success(uint32_t count, uint32_t report_len) {
    Record r = path_body(INKORA_MESSAGE_READ_BULK_RESPONSE, 9, "p");
    r->read_bulk_resp.success = 1;
    r->read_bulk_resp.report_count = count;
    r->read_bulk_resp.reports = static_cast<inkora_message_read_bulk_report*>(
        std::calloc(std::max<uint32_t>(count, 1), sizeof(inkora_message_read_bulk_report)));
    for (uint32_t i = 0; i < count; ++i) {
        r->read_bulk_resp.reports[i].report_id = static_cast<uint8_t>(0x40 + i);
        r->read_bulk_resp.reports[i].report_len = report_len;
        r->read_bulk_resp.reports[i].report = bytes(Bytes(report_len, static_cast<uint8_t>(i + 1)));
    }
    return r;
}

Record version(uint32_t seq) {
    Record r = make(INKORA_MESSAGE_VERSION_INFO, seq);
    r->version.total_len = 4;
    r->version.version_major = 2;
    r->version.supports_bulk = 1;
    return r;
}

Record read_response(std::string_view path, const Bytes& report) {
    Record r = path_body(INKORA_MESSAGE_READ_RESPONSE, 4, path);
    r->read_response.success = 1;
    r->read_response.report_id = report.empty() ? 0 : report[0];
    r->read_response.report_len = static_cast<uint32_t>(report.size());
    r->read_response.report = report.empty() ? nullptr : bytes(report);
    return r;
}

Record report_request(inkora_serial_message_types type, std::string_view path, const Bytes& report) {
    Record r = path_body(type, 6, path);
    r->output_request.report_len = static_cast<uint32_t>(report.size());
    r->output_request.report = bytes(report);
    return r;
}

std::vector<WireCase> wire_cases() {
    std::vector<WireCase> cases;
    cases.push_back({"DeviceEnumRequest", [] { return make(INKORA_MESSAGE_DEVICEENUM_REQUEST, 1); },
                     header(1, 1), nullptr});
    cases.push_back({"EnumResponseNoPads", [] { return make(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 2); },
                     cat({header(2, 2), {0x00}}),
                     [](const inkora_messages& m) { EXPECT_EQ(m.enum_response.device_list, nullptr); }});
    cases.push_back({"EnumResponseTwoPads", two_pads,
                     cat({header(2, 3), {0x02},
                          // pad 1: path "a", product 0001 before vendor 0ABC, model "m", maker "x"
                          be32(1), str("a"), {0x00, 0x01, 0x0A, 0xBC}, be32(1), str("m"), be32(1), str("x"),
                          // pad 2 follows directly on the first pad's manufacturer bytes
                          be32(2), str("bc"), {0x00, 0xA2, 0x0A, 0xBC}, be32(1), str("n"), be32(1), str("y")}),
                     [](const inkora_messages& m) {
                         ASSERT_NE(m.enum_response.device_list, nullptr);
                         EXPECT_EQ(m.enum_response.device_list[0].product_id, 0x0001);
                         EXPECT_EQ(m.enum_response.device_list[0].vendor_id, 0x0ABC);
                         EXPECT_STREQ(m.enum_response.device_list[1].path, "bc");
                     }});
    cases.push_back({"OpenRequest", [] { return path_body(INKORA_MESSAGE_OPEN_REQUEST, 10, "ab"); },
                     {0x03, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x61, 0x62},
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.open_request.path_len, 2u);
                         ASSERT_NE(m.open_request.path, nullptr);
                         EXPECT_EQ(std::memcmp(m.open_request.path, "ab", 3), 0); // 61 62 00
                     }});
    cases.push_back({"OpenRequestNoPath", [] { return make(INKORA_MESSAGE_OPEN_REQUEST, 10); },
                     cat({header(3, 10), be32(0)}),
                     [](const inkora_messages& m) { EXPECT_EQ(m.open_request.path, nullptr); }});
    cases.push_back({"CloseRequestNoPath", [] { return make(INKORA_MESSAGE_CLOSE_REQUEST, 11); },
                     cat({header(5, 11), be32(0)}),
                     [](const inkora_messages& m) { EXPECT_EQ(m.close_request.path, nullptr); }});
    cases.push_back({"ReadRequestNoPath", [] { return path_body(INKORA_MESSAGE_READ_REQUEST, 12, ""); },
                     cat({header(7, 12), be32(0)}),
                     [](const inkora_messages& m) {
                         ASSERT_NE(m.read_request.path, nullptr);
                         EXPECT_STREQ(m.read_request.path, "");
                     }});
    cases.push_back({"OpenResponseNoError",
                     [] { return result_body(INKORA_MESSAGE_OPEN_RESPONSE, 13, "p", 1, nullptr); },
                     cat({header(4, 13), be32(1), str("p"), {0x01}, be32(0)}),
                     [](const inkora_messages& m) { EXPECT_EQ(m.open_response.error, nullptr); }});
    cases.push_back({"CloseResponseWithError",
                     [] { return result_body(INKORA_MESSAGE_CLOSE_RESPONSE, 14, "p", 0, "bad"); },
                     cat({header(6, 14), be32(1), str("p"), {0x00}, be32(3), str("bad")}),
                     [](const inkora_messages& m) { EXPECT_STREQ(m.close_response.error, "bad"); }});
    cases.push_back({"SetOutputResponseNoError",
                     [] {
                         Record r = result_body(INKORA_MESSAGE_SET_OUTPUT_RESPONSE, 15, "p", 1, nullptr);
                         r->output_response.error = text("");
                         return r;
                     },
                     cat({header(10, 15), be32(1), str("p"), {0x01}, be32(0)}),
                     [](const inkora_messages& m) {
                         ASSERT_NE(m.output_response.error, nullptr);
                         EXPECT_STREQ(m.output_response.error, "");
                     }});
    cases.push_back({"SetFeatureResponse",
                     [] { return result_body(INKORA_MESSAGE_SET_FEATURE_RESPONSE, 16, "pp", 0, "no"); },
                     cat({header(12, 16), be32(2), str("pp"), {0x00}, be32(2), str("no")}), nullptr});
    cases.push_back({"ReadResponse", [] { return read_response("p", {0x01, 0xA0, 0xFF}); },
                     cat({header(8, 4), be32(1), str("p"), {0x01, 0x01}, be32(3), {0x01, 0xA0, 0xFF}}),
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.read_response.success, 1);
                         EXPECT_EQ(m.read_response.report_id, 0x01);
                         EXPECT_EQ(m.read_response.report[3], 0); // terminated copy
                     }});
    cases.push_back({"ReadResponseEmptyReport", [] { return read_response("p", {}); },
                     cat({header(8, 4), be32(1), str("p"), {0x01, 0x00}, be32(0)}),
                     [](const inkora_messages& m) { EXPECT_EQ(m.read_response.report, nullptr); }});
    cases.push_back({"SetOutputRequest",
                     [] { return report_request(INKORA_MESSAGE_SET_OUTPUT_REQUEST, "p", {0x02, 0x10}); },
                     cat({header(9, 6), be32(1), str("p"), be32(2), {0x02, 0x10}}), nullptr});
    cases.push_back({"SetFeatureRequest",
                     [] { return report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "p", {0x05, 0x06, 0x07}); },
                     cat({header(11, 6), be32(1), str("p"), be32(3), {0x05, 0x06, 0x07}}), nullptr});
    cases.push_back({"GetFeatureRequest",
                     [] {
                         Record r = path_body(INKORA_MESSAGE_GET_FEATURE_REQUEST, 17, "p");
                         r->get_feature_request.report_id = 0x0B;
                         r->get_feature_request.report_len = 9;
                         return r;
                     },
                     // no report bytes after report_len
                     cat({header(13, 17), be32(1), str("p"), {0x0B}, be32(9)}),
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.get_feature_request.report_id, 0x0B);
                         EXPECT_EQ(m.get_feature_request.report_len, 9u);
                     }});
    cases.push_back({"GetFeatureResponse",
                     [] {
                         Record r = path_body(INKORA_MESSAGE_GET_FEATURE_RESPONSE, 18, "p");
                         r->get_feature_response.success = 1;
                         r->get_feature_response.report_len = 2;
                         r->get_feature_response.report = bytes({0x0B, 0x55});
                         return r;
                     },
                     cat({header(14, 18), be32(1), str("p"), {0x01}, be32(2), {0x0B, 0x55}}), nullptr});
    cases.push_back({"DeviceAttach", [] { return path_body(INKORA_MESSAGE_DEVICE_ATTACH, 19, "pad"); },
                     cat({header(15, 19), be32(3), str("pad")}), nullptr});
    cases.push_back({"DeviceDetach", [] { return path_body(INKORA_MESSAGE_DEVICE_DETACH, 20, "pad"); },
                     cat({header(16, 20), be32(3), str("pad")}), nullptr});
    cases.push_back({"Ping", [] { return make(INKORA_MESSAGE_PING, 42); }, {0x11, 0x2A, 0x00, 0x00, 0x00}, nullptr});
    cases.push_back({"Pong", [] { return make(INKORA_MESSAGE_PONG, 42); }, {0x12, 0x2A, 0x00, 0x00, 0x00}, nullptr});
    cases.push_back({"ReadBulkRequest",
                     [] {
                         Record r = path_body(INKORA_MESSAGE_READ_BULK_REQUEST, 21, "p");
                         r->read_bulk_req.maximum_reports = 8;
                         return r;
                     },
                     cat({header(19, 21), be32(1), str("p"), be32(8)}), nullptr});
    cases.push_back({"ReadBulkResponseSuccess", [] { return bulk_success(3, 8); },
                     cat({header(20, 9), be32(1), str("p"), {0x01}, be32(3),
                          {0x40}, be32(8), Bytes(8, 1), {0x41}, be32(8), Bytes(8, 2), {0x42}, be32(8), Bytes(8, 3)}),
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.read_bulk_resp.error_msg, nullptr);
                         EXPECT_EQ(m.read_bulk_resp.error_len, 0u);
                         ASSERT_NE(m.read_bulk_resp.reports, nullptr);
                         EXPECT_EQ(m.read_bulk_resp.reports[2].report_id, 0x42);
                     }});
    cases.push_back({"ReadBulkResponseFailure",
                     [] {
                         Record r = path_body(INKORA_MESSAGE_READ_BULK_RESPONSE, 9, "p");
                         r->read_bulk_resp.error_len = 4;
                         r->read_bulk_resp.error_msg = text("gone");
                         return r;
                     },
                     cat({header(20, 9), be32(1), str("p"), {0x00}, be32(4), str("gone")}),
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.read_bulk_resp.reports, nullptr);
                         EXPECT_EQ(m.read_bulk_resp.report_count, 0u);
                         EXPECT_STREQ(m.read_bulk_resp.error_msg, "gone");
                     }});
    cases.push_back({"ReadBulkResponseFailureNoText",
                     [] {
                         Record r = path_body(INKORA_MESSAGE_READ_BULK_RESPONSE, 9, "p");
                         r->read_bulk_resp.error_msg = text("");
                         return r;
                     },
                     cat({header(20, 9), be32(1), str("p"), {0x00}, be32(0)}),
                     [](const inkora_messages& m) {
                         ASSERT_NE(m.read_bulk_resp.error_msg, nullptr);
                         EXPECT_STREQ(m.read_bulk_resp.error_msg, "");
                     }});
    cases.push_back({"VersionInfo", [] { return version(7); },
                     {0x15, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x02, 0x00, 0x00, 0x01},
                     [](const inkora_messages& m) {
                         EXPECT_EQ(m.version.version_major, 2);
                         EXPECT_EQ(m.version.supports_bulk, 1);
                     }});
    return cases;
}

class WireBytes : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireBytes, EncodesToItsBytes) {
    const WireCase& c = GetParam();
    Record record = c.build();
    EXPECT_EQ(encode(*record), c.wire);
}

TEST_P(WireBytes, DecodesFromItsBytesAndReencodesThem) {
    const WireCase& c = GetParam();
    Dispatch d = make_dispatch(false);
    feed(d.get(), c.wire);
    Record decoded = decode_one(d.get());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(ring_bytes(d.get()), 0u) << "the body must be consumed exactly";
    EXPECT_EQ(static_cast<uint32_t>(decoded->common.message_id), c.wire[0]);
    EXPECT_EQ(encode(*decoded), c.wire);
    if (c.check) {
        c.check(*decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(AllTypes, WireBytes, ::testing::ValuesIn(wire_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(WireBodies, VersionInfoConsumesBytesPastTheFourthAndLeavesShortBodiesZero) {
    Dispatch d = make_dispatch(false);
    feed(d.get(), cat({header(21, 7), be32(6), {0x02, 0x01, 0x03, 0x01, 0xEE, 0xFF}, // total_len 6
                       header(21, 8), be32(2), {0x05, 0x06},                          // total_len 2
                       ping(1)}));
    Record longer = decode_one(d.get());
    ASSERT_NE(longer, nullptr);
    EXPECT_EQ(longer->version.total_len, 6u);
    EXPECT_EQ(longer->version.version_release, 3);
    Record shorter = decode_one(d.get());
    ASSERT_NE(shorter, nullptr);
    EXPECT_EQ(shorter->version.version_minor, 6);
    EXPECT_EQ(shorter->version.version_release, 0);
    EXPECT_EQ(shorter->version.supports_bulk, 0);
    Record next = decode_one(d.get());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->common.message_id, INKORA_MESSAGE_PING);
}

TEST(WireBodies, BulkReportDataHasNoTerminator) {
    // Eight data bytes land in an eight-byte allocation: the sanitizer
    // builds would flag the test's read of a ninth byte, so only the
    // contents are checked here.
    Dispatch d = make_dispatch(false);
    feed(d.get(), cat({header(20, 9), be32(0), {0x01}, be32(1), {0x07}, be32(8), Bytes(8, 0xAB)}));
    Record m = decode_one(d.get());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->read_bulk_resp.reports[0].report_len, 8u);
    EXPECT_EQ(Bytes(m->read_bulk_resp.reports[0].report, m->read_bulk_resp.reports[0].report + 8), Bytes(8, 0xAB));
}

TEST(WireBodies, FailedBulkResponseReleasesTheErrorAndIgnoresReports) {
    // reports points at memory the record does not own; freeing it would be
    // reported by the sanitizers.
    inkora_message_read_bulk_report not_owned[1] = {};
    Record r = path_body(INKORA_MESSAGE_READ_BULK_RESPONSE, 1, "p");
    r->read_bulk_resp.success = 0;
    r->read_bulk_resp.error_len = 1;
    r->read_bulk_resp.error_msg = text("e");
    r->read_bulk_resp.report_count = 1;
    r->read_bulk_resp.reports = not_owned;
    inkora_free_message(r.release());
    inkora_free_message(nullptr);
    SUCCEED();
}

// The fuzz target's seed corpus: one valid message of every kind above, and
// all of them in one stream. Byte 0 of a seed is the fuzz target's chunk
// size choice. With INKORA_WRITE_CORPUS set, the seeds are written afresh
// from the cases above before they are checked.
TEST(FuzzCorpus, SeedsHoldValidMessagesOfEveryType) {
    namespace fs = std::filesystem;
    const fs::path dir = INKORA_FUZZ_CORPUS_DIR;
    if (std::getenv("INKORA_WRITE_CORPUS") != nullptr) {
        fs::create_directories(dir);
        Bytes all = {0xFF};
        for (const WireCase& c : wire_cases()) {
            std::ofstream out(dir / ("seed-" + c.name), std::ios::binary);
            out.put(static_cast<char>(0x0F));
            out.write(reinterpret_cast<const char*>(c.wire.data()), static_cast<std::streamsize>(c.wire.size()));
            all.insert(all.end(), c.wire.begin(), c.wire.end());
        }
        std::ofstream out(dir / "seed-all-types", std::ios::binary);
        out.write(reinterpret_cast<const char*>(all.data()), static_cast<std::streamsize>(all.size()));
    }
    std::set<uint32_t> types;
    size_t seeds = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(seed.size(), 5u) << entry.path();
        Dispatch d = make_dispatch(false);
        feed(d.get(), Bytes(seed.begin() + 1, seed.end()));
        while (ring_bytes(d.get()) != 0) {
            Record m = decode_one(d.get());
            ASSERT_NE(m, nullptr) << entry.path();
            types.insert(static_cast<uint32_t>(m->common.message_id));
        }
        ++seeds;
    }
    EXPECT_GT(seeds, 21u);
    EXPECT_EQ(types.size(), 21u);
}

// ---------------------------------------------------------------------------
// Limits of the fixed buffers.

struct OversizedCase {
    const char* name;
    Bytes message; // one message with a field longer than the scratch buffer
};

std::vector<OversizedCase> oversized_cases() {
    const Bytes big(4097, 'x');
    return {
        {"OpenRequestPath", cat({header(3, 1), be32(4097), big})},
        {"OpenResponsePathThenError", cat({header(4, 1), be32(5000), Bytes(5000, 'p'), {0x00}, be32(2), str("no")})},
        {"OpenResponseError", cat({header(4, 1), be32(1), str("p"), {0x00}, be32(9000), Bytes(9000, 'e')})},
        {"SetFeatureReport", cat({header(11, 1), be32(1), str("p"), be32(4097), big})},
        {"ReadResponseReport", cat({header(8, 1), be32(1), str("p"), {0x01, 0x02}, be32(4097), big})},
        {"EnumModelOfSecondPad",
         cat({header(2, 1), {0x02}, be32(1), str("a"), {0, 1, 0, 2}, be32(1), str("m"), be32(1), str("x"), be32(1),
              str("b"), {0, 1, 0, 2}, be32(4097), big, be32(1), str("y")})},
        {"BulkReportThenMore",
         cat({header(20, 1), be32(1), str("p"), {0x01}, be32(2), {0x01}, be32(4097), big, {0x02}, be32(1), {0x09}})},
        {"BulkTooManyReports", [] {
             // 817 empty reports (5 bytes each) cannot fit any message a peer sends.
             Bytes m = cat({header(20, 1), be32(1), str("p"), {0x01}, be32(817)});
             for (int i = 0; i < 817; ++i) {
                 m.insert(m.end(), {0x01, 0, 0, 0, 0});
             }
             return m;
         }()},
        {"VersionTotalLen", cat({header(21, 1), be32(4097), big})},
    };
}

class OversizedField : public ::testing::TestWithParam<OversizedCase> {};

TEST_P(OversizedField, IsDroppedAndTheNextMessageDecodes) {
    Dispatch d = make_dispatch(false);
    feed(d.get(), cat({GetParam().message, ping(77)}));
    decode_one(d.get(), INKORA_CODE_ERROR);
    Record next = decode_one(d.get());
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->common.message_id, INKORA_MESSAGE_PING);
    EXPECT_EQ(next->common.seq_num, 77u);
    EXPECT_EQ(ring_bytes(d.get()), 0u);
}

INSTANTIATE_TEST_SUITE_P(Fields, OversizedField, ::testing::ValuesIn(oversized_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Limits, FieldOfExactlyTheScratchSizeIsKept) {
    Dispatch d = make_dispatch(false);
    feed(d.get(), cat({header(11, 1), be32(1), str("p"), be32(4096), Bytes(4096, 0x5A)}));
    Record m = decode_one(d.get());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->set_feature_request.report_len, 4096u);
    EXPECT_EQ(m->set_feature_request.report[4095], 0x5A);
}

TEST(Limits, FieldLongerThanTheRingIsConsumedAsItArrives) {
    // 100000 path bytes cannot sit in the 51200-byte ring at once: the
    // decoder has to take them as they come for the feeder to get through.
    Dispatch d = make_dispatch(true, collect<0>);
    g_inbox[0].clear();
    const Bytes stream = cat({header(3, 1), be32(100000), Bytes(100000, 'q'), ping(5)});
    size_t offset = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (offset < stream.size() && std::chrono::steady_clock::now() < deadline) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(4096, stream.size() - offset));
        if (inkora_message_write_to_dispatch(d.get(), stream.data() + offset, chunk) == INKORA_CODE_SUCCESS) {
            offset += chunk;
        } else {
            std::this_thread::sleep_for(1ms);
        }
    }
    ASSERT_EQ(offset, stream.size());
    Record m = g_inbox[0].pop();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->common.message_id, INKORA_MESSAGE_PING);
    EXPECT_EQ(m->common.seq_num, 5u);
    EXPECT_EQ(g_inbox[0].pop(50ms), nullptr);
}

struct SendLimitCase {
    const char* name;
    uint32_t report_len;
    inkora_error_code expected;
};

class SendLimit : public ::testing::TestWithParam<SendLimitCase> {};

TEST_P(SendLimit, MessagesLargerThanTheSendBufferAreNotWritten) {
    // header 5 + path_len 4 + path 1 + report_len 4 = 14 bytes before the report
    Record r = report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "p", Bytes(GetParam().report_len, 0x11));
    const Bytes wire = encode(*r, GetParam().expected);
    EXPECT_EQ(wire.size(), GetParam().expected == INKORA_CODE_SUCCESS ? 14u + GetParam().report_len : 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SendLimit,
                         ::testing::Values(SendLimitCase{"ExactlyFull", 4096 - 14, INKORA_CODE_SUCCESS},
                                           SendLimitCase{"OneByteOver", 4096 - 13, INKORA_CODE_ERROR},
                                           SendLimitCase{"FarOver", 70000, INKORA_CODE_ERROR}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Limits, LargeEnumerationOrBulkAnswerIsRefusedWhole) {
    Record bulk = bulk_success(400, 10); // 400 * 15 bytes
    EXPECT_TRUE(encode(*bulk, INKORA_CODE_ERROR).empty());
    Record pads = make(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 1);
    pads->enum_response.device_count = 255;
    pads->enum_response.device_list =
        static_cast<inkora_message_device*>(std::calloc(255, sizeof(inkora_message_device)));
    for (int i = 0; i < 255; ++i) {
        pads->enum_response.device_list[i].path_len = 20;
        pads->enum_response.device_list[i].path = text("01234567890123456789");
    }
    EXPECT_TRUE(encode(*pads, INKORA_CODE_ERROR).empty());
}

TEST(Sending, RecordsThatCannotBeEncodedAreRefused) {
    Record unknown = make(static_cast<inkora_serial_message_types>(22), 1);
    EXPECT_TRUE(encode(*unknown, INKORA_CODE_ERROR).empty());
    Record zero = make(static_cast<inkora_serial_message_types>(0), 1);
    EXPECT_TRUE(encode(*zero, INKORA_CODE_ERROR).empty());
    // A length without bytes behind it.
    Record hollow = make(INKORA_MESSAGE_OPEN_REQUEST, 1);
    hollow->open_request.path_len = 3;
    EXPECT_TRUE(encode(*hollow, INKORA_CODE_ERROR).empty());
    Record no_pads = make(INKORA_MESSAGE_DEVICEENUM_RESPONSE, 1);
    no_pads->enum_response.device_count = 1;
    EXPECT_TRUE(encode(*no_pads, INKORA_CODE_ERROR).empty());
}

TEST(Sending, WithoutWriterSucceedsSilentlyAndWriterFailureIsReported) {
    Dispatch d = make_dispatch(false);
    Record p = make(INKORA_MESSAGE_PONG, 42);
    take_wire();
    EXPECT_EQ(inkora_serial_send_message(d.get(), p.get()), INKORA_CODE_SUCCESS);
    EXPECT_TRUE(take_wire().empty());
    d->write_func = failing_write;
    EXPECT_EQ(inkora_serial_send_message(d.get(), p.get()), INKORA_CODE_ERROR);
    d->write_func = capture_write;
    EXPECT_EQ(inkora_serial_send_message(d.get(), p.get()), INKORA_CODE_SUCCESS);
    EXPECT_EQ(g_write_calls.load(), 1) << "one message, one call";
    EXPECT_EQ(take_wire(), (Bytes{0x12, 0x2A, 0x00, 0x00, 0x00}));
}

// ---------------------------------------------------------------------------
// Framing and the ring.

TEST(Framing, UnknownTypesConsumeTheirHeaderOnly) {
    Dispatch d = make_dispatch(false);
    feed(d.get(), cat({header(0, 1), header(22, 2), header(255, 3), ping(4)}));
    for (int i = 0; i < 3; ++i) {
        decode_one(d.get(), INKORA_CODE_ERROR);
    }
    Record m = decode_one(d.get());
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->common.seq_num, 4u);
}

TEST(Framing, HeaderSplitAcrossChunksAndSeveralMessagesInOne) {
    Dispatch d = make_dispatch(true, collect<0>);
    g_inbox[0].clear();
    const Bytes first = ping(0x01020304);
    feed(d.get(), Bytes(first.begin(), first.begin() + 2));
    EXPECT_EQ(g_inbox[0].pop(50ms), nullptr) << "two header bytes are no message";
    feed(d.get(), Bytes(first.begin() + 2, first.end()));
    Record m = g_inbox[0].pop();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->common.seq_num, 0x01020304u);

    feed(d.get(), cat({ping(1), ping(2), ping(3)}));
    for (uint32_t seq = 1; seq <= 3; ++seq) {
        Record next = g_inbox[0].pop();
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->common.seq_num, seq);
    }
}

TEST(Ring, ChunkLargerThanTheFreeSpaceIsRefusedWhole) {
    Dispatch d = make_dispatch(false);
    feed(d.get(), Bytes(INKORA_SERIAL_INPUT_BUFFER_LEN - 100, 0));
    const Bytes more(101, 1);
    EXPECT_EQ(inkora_message_write_to_dispatch(d.get(), more.data(), 101), INKORA_CODE_ERROR);
    EXPECT_EQ(ring_bytes(d.get()), INKORA_SERIAL_INPUT_BUFFER_LEN - 100);
    EXPECT_EQ(d->input_buffer_write_pos, INKORA_SERIAL_INPUT_BUFFER_LEN - 100);
    EXPECT_EQ(inkora_message_write_to_dispatch(d.get(), more.data(), 100), INKORA_CODE_SUCCESS);
    EXPECT_EQ(ring_bytes(d.get()), INKORA_SERIAL_INPUT_BUFFER_LEN);
    EXPECT_EQ(inkora_message_write_to_dispatch(d.get(), more.data(), 1), INKORA_CODE_ERROR);
}

TEST(Ring, MessageStraddlingTheEndOfTheRingDecodes) {
    Dispatch d = make_dispatch(false);
    // 10239 pings fill the ring up to 5 bytes before its end.
    Bytes pings;
    for (uint32_t i = 0; i < 10239; ++i) {
        const Bytes p = ping(i);
        pings.insert(pings.end(), p.begin(), p.end());
    }
    feed(d.get(), pings);
    for (uint32_t i = 0; i < 10239; ++i) {
        Record m = decode_one(d.get());
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->common.seq_num, i);
    }
    const Bytes open = {0x03, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x61, 0x62};
    feed(d.get(), open);
    EXPECT_EQ(d->input_buffer_write_pos, open.size() - 5) << "the write position wrapped";
    Record m = decode_one(d.get());
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->open_request.path, "ab");
    EXPECT_EQ(d->input_buffer_read_pos, open.size() - 5);
}

TEST(Dispatch, MessagesNoWaiterClaimsGoToTheHandlerOrAreReleased) {
    {
        Dispatch d = make_dispatch(true, collect<0>);
        g_inbox[0].clear();
        feed(d.get(), cat({header(7, 99), be32(1), str("p")}));
        Record m = g_inbox[0].pop();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->common.seq_num, 99u);
    }
    // Without a handler the record is released (the leak checker sees it).
    Dispatch d = make_dispatch(true, nullptr);
    feed(d.get(), cat({header(8, 99), be32(1), str("p"), {0x01, 0x01}, be32(2), {0x01, 0x02}}));
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (ring_bytes(d.get()) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(ring_bytes(d.get()), 0u);
}

TEST(Dispatch, SequenceNumbersStartAtTenAndWrap) {
    Dispatch d = make_dispatch(false);
    EXPECT_EQ(inkora_serial_get_seq_num(d.get()), 10u);
    EXPECT_EQ(inkora_serial_get_seq_num(d.get()), 11u);
    d->seq_num = 0xFFFFFFFFu;
    EXPECT_EQ(inkora_serial_get_seq_num(d.get()), 0xFFFFFFFFu);
    EXPECT_EQ(inkora_serial_get_seq_num(d.get()), 0u);
}

TEST(Dispatch, DestroyEndsWhileAMessageIsHalfReceived) {
    for (const Bytes& partial : {Bytes{0x11, 0x01}, cat({header(3, 1), be32(100), str("only-some")}),
                                 cat({header(3, 1), be32(1000000)})}) {
        Dispatch d = make_dispatch(true, collect<0>);
        feed(d.get(), partial);
        std::this_thread::sleep_for(10ms);
        const auto start = std::chrono::steady_clock::now();
        d.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    }
    EXPECT_EQ(g_inbox[0].size(), 0u);
    EXPECT_EQ(inkora_message_read_from_dispatch(nullptr, nullptr, 0), INKORA_CODE_ERROR);
    inkora_message_destroy_dispatch(nullptr);
}

// A byte source for the input thread: hands out the chunks queued here, then
// reports that it is finished.
std::mutex g_source_mutex;
std::deque<Bytes> g_source;

inkora_error_code queued_source(uint8_t* buffer, uint32_t len, uint32_t* read_len) {
    std::lock_guard lock(g_source_mutex);
    if (g_source.empty()) {
        return INKORA_CODE_ERROR;
    }
    const Bytes chunk = g_source.front();
    g_source.pop_front();
    if (chunk.size() > len) {
        return INKORA_CODE_ERROR;
    }
    std::memcpy(buffer, chunk.data(), chunk.size());
    *read_len = static_cast<uint32_t>(chunk.size());
    return INKORA_CODE_SUCCESS;
}

TEST(InputThread, ChunksThatDoNotFitYetWaitInsteadOfBeingDropped) {
    // Three chunks of 8000 pings each: 120000 bytes through a 51200-byte
    // ring, handed over faster than the decoder can take them.
    {
        std::lock_guard lock(g_source_mutex);
        g_source.clear();
        uint32_t seq = 0;
        for (int c = 0; c < 3; ++c) {
            Bytes chunk;
            for (int i = 0; i < 8000; ++i) {
                const Bytes p = ping(seq++);
                chunk.insert(chunk.end(), p.begin(), p.end());
            }
            g_source.push_back(chunk);
        }
    }
    g_inbox[0].clear();
    Dispatch d(static_cast<inkora_serial_dispatch*>(std::calloc(1, sizeof(inkora_serial_dispatch))));
    inkora_message_create_dispatch(d.get());
    d->unhandled_func = collect<0>;
    d->read_func = queued_source;
    inkora_message_create_dispatch_read_thread(d.get());
    for (uint32_t seq = 0; seq < 24000; ++seq) {
        Record m = g_inbox[0].pop();
        ASSERT_NE(m, nullptr) << seq;
        ASSERT_EQ(m->common.seq_num, seq);
    }
    // The source is finished: the input thread has ended on its own, and
    // destroy still joins it.
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (__atomic_load_n(&d->input_thread_running, __ATOMIC_ACQUIRE) != 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(__atomic_load_n(&d->input_thread_running, __ATOMIC_ACQUIRE), 0);
}

// ---------------------------------------------------------------------------
// Waiters: a client dispatch whose writer feeds a server dispatch and back.

std::atomic<inkora_serial_dispatch*> g_client{nullptr};
std::atomic<inkora_serial_dispatch*> g_server{nullptr};

// Feeds a peer, waiting while its ring is full, as a pipe would.
inkora_error_code write_to(inkora_serial_dispatch* peer, const uint8_t* buffer, uint32_t len) {
    if (peer == nullptr) {
        return INKORA_CODE_ERROR;
    }
    while (inkora_message_write_to_dispatch(peer, buffer, len) != INKORA_CODE_SUCCESS) {
        std::this_thread::sleep_for(100us);
    }
    return INKORA_CODE_SUCCESS;
}
inkora_error_code to_server(const uint8_t* buffer, uint32_t len) {
    return write_to(g_server.load(), buffer, len);
}
inkora_error_code to_client(const uint8_t* buffer, uint32_t len) {
    return write_to(g_client.load(), buffer, len);
}

// Answers every read request with a read response of the same number and
// path, except requests for the path "silent"; counts pings.
std::atomic<int> g_server_pings{0};
void answering_server(inkora_messages* m) {
    Record request(m);
    if (request->common.message_id == INKORA_MESSAGE_PING) {
        ++g_server_pings;
        return;
    }
    if (request->common.message_id != INKORA_MESSAGE_READ_REQUEST ||
        std::string_view(request->read_request.path) == "silent") {
        return;
    }
    Record reply = read_response(request->read_request.path, {0x01, 0x02});
    reply->common.seq_num = request->common.seq_num;
    inkora_serial_send_message(g_server.load(), reply.get());
}

class Loopback : public ::testing::Test {
protected:
    void start(inkora_serial_unhandled_func server_handler) {
        g_inbox[0].clear();
        g_inbox[1].clear();
        client_ = make_dispatch(true, collect<0>);
        server_ = make_dispatch(true, server_handler);
        g_client = client_.get();
        g_server = server_.get();
        __atomic_store_n(&client_->write_func, &to_server, __ATOMIC_RELEASE);
        __atomic_store_n(&server_->write_func, &to_client, __ATOMIC_RELEASE);
    }
    void TearDown() override {
        // The server first: its decoding thread is the one that writes to
        // the client.
        server_.reset();
        g_server = nullptr;
        client_.reset();
        g_client = nullptr;
        g_inbox[0].clear();
        g_inbox[1].clear();
    }
    Dispatch client_;
    Dispatch server_;
};

struct Call {
    inkora_error_code result = INKORA_CODE_ERROR;
    Record reply;
    uint32_t seq = 0;
};

void call(inkora_serial_dispatch* d, std::string_view path, uint8_t allow_timeout, Call& out) {
    Record request = path_body(INKORA_MESSAGE_READ_REQUEST, 0, path);
    inkora_messages* reply = nullptr;
    out.result = inkora_serial_send_get_message(d, request.get(), &reply, request->read_request.path, allow_timeout);
    out.seq = request->common.seq_num;
    out.reply.reset(reply);
}

Bytes make_reply_bytes(uint32_t seq) {
    return cat({header(INKORA_MESSAGE_READ_RESPONSE, seq), be32(1), str("p"), {0x01, 0x01}, be32(1), {0x01}});
}

TEST_F(Loopback, RepliesReachTheirWaitersBySequenceNumber) {
    start(collect<1>);
    Call first, second;
    std::thread a([&] { call(client_.get(), "first", 0, first); });
    Record request_a = g_inbox[1].pop();
    std::thread b([&] { call(client_.get(), "second", 0, second); });
    Record request_b = g_inbox[1].pop();
    ASSERT_NE(request_a, nullptr);
    ASSERT_NE(request_b, nullptr);
    EXPECT_EQ(request_a->common.seq_num, 10u);
    EXPECT_EQ(request_b->common.seq_num, 11u);
    EXPECT_EQ(waiter_count(client_.get()), 2u);

    // A reply that matches nobody, then both replies in reverse order; the
    // type and path of a reply are not what matches it.
    Record stray = make(INKORA_MESSAGE_PONG, 500);
    inkora_serial_send_message(server_.get(), stray.get());
    Record reply_b = make(INKORA_MESSAGE_PONG, request_b->common.seq_num);
    inkora_serial_send_message(server_.get(), reply_b.get());
    Record reply_a = read_response("unrelated", {0x07});
    reply_a->common.seq_num = request_a->common.seq_num;
    inkora_serial_send_message(server_.get(), reply_a.get());
    a.join();
    b.join();

    ASSERT_EQ(first.result, INKORA_CODE_SUCCESS);
    ASSERT_EQ(second.result, INKORA_CODE_SUCCESS);
    EXPECT_EQ(first.reply->common.message_id, INKORA_MESSAGE_READ_RESPONSE);
    EXPECT_EQ(first.reply->common.seq_num, 10u);
    EXPECT_EQ(second.reply->common.message_id, INKORA_MESSAGE_PONG);
    EXPECT_EQ(second.reply->common.seq_num, 11u);
    Record unclaimed = g_inbox[0].pop();
    ASSERT_NE(unclaimed, nullptr);
    EXPECT_EQ(unclaimed->common.seq_num, 500u);
    EXPECT_EQ(waiter_count(client_.get()), 0u) << "answered waiters leave the list";
}

TEST_F(Loopback, DestroyReleasesAWaiterWithoutTimeOut) {
    start(collect<1>);
    Call waiting;
    std::thread t([&] { call(client_.get(), "p", 0, waiting); });
    ASSERT_NE(g_inbox[1].pop(), nullptr);
    std::this_thread::sleep_for(20ms);
    server_.reset();
    g_server = nullptr;
    client_.reset(); // interrupts the waiter and waits for it to let go
    g_client = nullptr;
    t.join();
    EXPECT_EQ(waiting.result, INKORA_CODE_ERROR);
    EXPECT_EQ(waiting.reply, nullptr);
}

TEST(Waiters, DestroyRightAfterAReplyArrivesIsSafe) {
    // The reply and destroy race: the waiter either takes its reply or is
    // interrupted, and destroy never frees the dispatch under it (the
    // sanitizer builds watch the window between waking and leaving).
    for (int round = 0; round < 50; ++round) {
        Dispatch d = make_dispatch(true, collect<0>);
        d->write_func = capture_write;
        Call waiting;
        std::thread t([&] { call(d.get(), "p", 0, waiting); });
        while (waiter_count(d.get()) == 0) {
            std::this_thread::yield();
        }
        feed(d.get(), make_reply_bytes(INKORA_SERIAL_FIRST_SEQ_NUM));
        if (round % 2 == 1) {
            std::this_thread::yield();
        }
        d.reset();
        t.join();
        EXPECT_EQ(waiting.result == INKORA_CODE_SUCCESS, waiting.reply != nullptr);
    }
    take_wire();
    g_inbox[0].clear();
}

TEST_F(Loopback, FailedSendLeavesNoWaiter) {
    start(collect<1>);
    __atomic_store_n(&client_->write_func, &failing_write, __ATOMIC_RELEASE);
    Call failed;
    call(client_.get(), "p", 1, failed);
    EXPECT_EQ(failed.result, INKORA_CODE_ERROR);
    EXPECT_EQ(waiter_count(client_.get()), 0u);
}

// The one slow test (the watchdog counts whole seconds): several threads
// send while both decoding threads deliver, and one waiter times out.
TEST_F(Loopback, ConcurrentTrafficWhileAWaiterTimesOut) {
    g_server_pings = 0;
    start(answering_server);
    Call silent;
    std::chrono::steady_clock::duration silent_wait{};
    std::thread timing_out([&] {
        const auto start_time = std::chrono::steady_clock::now();
        call(client_.get(), "silent", 1, silent);
        silent_wait = std::chrono::steady_clock::now() - start_time;
    });

    constexpr int callers = 3;
    constexpr int calls_each = 100;
    constexpr int pings_each = 200;
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < calls_each; ++i) {
                const std::string path = "pad-" + std::to_string(t) + "-" + std::to_string(i);
                Call c;
                call(client_.get(), path, 1, c);
                if (c.result == INKORA_CODE_SUCCESS && c.reply->common.seq_num == c.seq &&
                    std::string_view(c.reply->read_response.path) == path) {
                    ++answered;
                }
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < pings_each; ++i) {
                Record p = make(INKORA_MESSAGE_PING, static_cast<uint32_t>(i));
                inkora_serial_send_message(client_.get(), p.get());
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    timing_out.join();
    EXPECT_EQ(answered.load(), callers * calls_each);
    EXPECT_EQ(silent.result, INKORA_CODE_ERROR);
    EXPECT_GE(silent_wait, 4s);
    EXPECT_LE(silent_wait, 6500ms);
    EXPECT_EQ(waiter_count(client_.get()), 1u) << "the timed-out record stays until destroy";

    // A reply that comes after the time-out is released, not handed on.
    Record late = read_response("silent", {0x01});
    late->common.seq_num = silent.seq;
    inkora_serial_send_message(server_.get(), late.get());
    Record marker = make(INKORA_MESSAGE_PONG, 1);
    inkora_serial_send_message(server_.get(), marker.get());
    Record first_unclaimed = g_inbox[0].pop();
    ASSERT_NE(first_unclaimed, nullptr);
    EXPECT_EQ(first_unclaimed->common.message_id, INKORA_MESSAGE_PONG);

    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (g_server_pings.load() < callers * pings_each && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(g_server_pings.load(), callers * pings_each);
}

// ---------------------------------------------------------------------------
// Printing.

struct PrintCase {
    const char* name;
    std::function<Record()> build;
    std::string text;
};

std::vector<PrintCase> print_cases() {
    return {
        {"Ping", [] { return make(INKORA_MESSAGE_PING, 5); }, "INKORA_MESSAGE_PING (seq: 5)\n"},
        {"VersionInfo", [] { return version(7); },
         "INKORA_MESSAGE_VERSION_INFO (seq: 7)\t        Total Len: 4\n\t    Version Major: 2\n"
         "\t    Version Minor: 0\n\t  Version Release: 0\n\t    Supports Bulk: 1\n\n"},
        {"ReadResponse", [] { return read_response("p", {0x01, 0xA0, 0xFF}); },
         "INKORA_MESSAGE_READ_RESPONSE (seq: 4)\n\t  Path Len: 1\n\t      Path: p\n\t   Success: 1\n"
         "\t Report Id: 1\n\tReport Len: 3\n\t    Report: 01 A0 FF \n"},
        {"SetOutputRequestWithReport",
         [] { return report_request(INKORA_MESSAGE_SET_OUTPUT_REQUEST, "p", {0x02, 0x10}); },
         "INKORA_MESSAGE_SET_OUTPUT_REQUEST (seq: 6)\n\t  Path Len: 1\n\t      Path: p\n\tReport Len: 2\n"
         "\t    Report: REPORT\n"},
        {"SetOutputRequestWithoutReport", [] { return path_body(INKORA_MESSAGE_SET_OUTPUT_REQUEST, 6, "p"); },
         "INKORA_MESSAGE_SET_OUTPUT_REQUEST (seq: 6)\n\t  Path Len: 1\n\t      Path: p\n\tReport Len: 0\n"
         "\t    Report: NULL\n"},
        {"SetFeatureRequest",
         [] { return report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "p", {0x05, 0x0A}); },
         "INKORA_MESSAGE_SET_FEATURE_REQUEST (seq: 6)\n\t  Path Len: 1\n\t      Path: p\n\tReport Len: 2\n"
         "\t    Report: 05 0A \n"},
        {"OpenResponseWithoutError", [] { return result_body(INKORA_MESSAGE_OPEN_RESPONSE, 13, "p", 1, nullptr); },
         "INKORA_MESSAGE_OPEN_RESPONSE (seq: 13)\n\t Path Len: 1\n\t     Path: p\n\t  Success: 1\n"
         "\tError Len: 0\n\t    Error: NULL\n"},
        {"SetFeatureResponse", [] { return result_body(INKORA_MESSAGE_SET_FEATURE_RESPONSE, 2, "p", 0, "no"); },
         "INKORA_MESSAGE_SET_FEATURE_RESPONSE (seq: 2)\n\t  Path Len: 1\n\t      Path: p\n\t   Success: 0\n"
         "\t Error Len: 2\n\t     Error: no\n"},
        {"OpenRequestWithoutPath", [] { return make(INKORA_MESSAGE_OPEN_REQUEST, 1); },
         "INKORA_MESSAGE_OPEN_REQUEST (seq: 1)\n\tPath Len: 0\n\t    Path: NULL\n"},
        {"EnumResponse", two_pads,
         "INKORA_MESSAGE_DEVICEENUM_RESPONSE (seq: 3)\n\tDevice Count: 2\n"
         "\t\tDevice 1\n\t\t        Path Len: 1\n\t\t            Path: a\n\t\t      Product Id: 0001\n"
         "\t\t       Vendor Id: 0ABC\n\t\t       Model Len: 1\n\t\t           Model: m\n"
         "\t\tManufacturer Len: 1\n\t\t    Manufacturer: x"
         "\t\tDevice 2\n\t\t        Path Len: 2\n\t\t            Path: bc\n\t\t      Product Id: 00A2\n"
         "\t\t       Vendor Id: 0ABC\n\t\t       Model Len: 1\n\t\t           Model: n\n"
         "\t\tManufacturer Len: 1\n\t\t    Manufacturer: y\n"},
        {"ReadBulkRequest",
         [] {
             Record r = path_body(INKORA_MESSAGE_READ_BULK_REQUEST, 21, "p");
             r->read_bulk_req.maximum_reports = 8;
             return r;
         },
         "INKORA_MESSAGE_READ_BULK_REQUEST (seq: 21)\n\t Path Len: 1\n\t     Path: p\t Max Rpts: 8\n"},
        {"ReadBulkResponseSuccess", [] { return bulk_success(2, 2); },
         "INKORA_MESSAGE_READ_BULK_RESPONSE (seq: 9)\n\t    Path Len: 1\n\t        Path: p\n\t     Success: 1\n"
         "\t   Rpt Count: 2\n"
         "\t\t    Report 0:\n\t\t    Report ID: 64\n\t\t   Report Len: 2\n\t\t       Report: 01 01 \n"
         "\t\t    Report 1:\n\t\t    Report ID: 65\n\t\t   Report Len: 2\n\t\t       Report: 02 02 \n\n"},
        {"ReadBulkResponseFailure",
         [] {
             Record r = path_body(INKORA_MESSAGE_READ_BULK_RESPONSE, 9, "p");
             r->read_bulk_resp.error_len = 4;
             r->read_bulk_resp.error_msg = text("gone");
             return r;
         },
         "INKORA_MESSAGE_READ_BULK_RESPONSE (seq: 9)\n\t    Path Len: 1\n\t        Path: p\n\t     Success: 0\n"
         "\t   Error Len: 4\n\t   Error Msg: gone\n\n"},
        {"GetFeatureRequest",
         [] {
             Record r = path_body(INKORA_MESSAGE_GET_FEATURE_REQUEST, 17, "p");
             r->get_feature_request.report_id = 11;
             r->get_feature_request.report_len = 9;
             return r;
         },
         "INKORA_MESSAGE_GET_FEATURE_REQUEST (seq: 17)\n\t  Path Len: 1\n\t      Path: p\n\tReport Len: 9\n"
         "\t Report Id: 11\n"},
        {"DeviceDetach", [] { return path_body(INKORA_MESSAGE_DEVICE_DETACH, 20, "pad"); },
         "INKORA_MESSAGE_DEVICE_DETACH (seq: 20)\n\t  Path Len: 3\n\t      Path: pad\n"},
        {"TypeZero", [] { return make(static_cast<inkora_serial_message_types>(0), 1); }, "\n"},
        {"TypeOutOfRange", [] { return make(static_cast<inkora_serial_message_types>(200), 1); }, "\n"},
    };
}

class Printing : public ::testing::TestWithParam<PrintCase> {};

TEST_P(Printing, RendersTheFixedText) {
    Record r = GetParam().build();
    EXPECT_EQ(render(r.get()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Types, Printing, ::testing::ValuesIn(print_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PrintingLimits, LongRenderingsAreCutInsideTheBuffer) {
    Record big = report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "p", Bytes(2049, 0xAB));
    const std::string full = render(big.get(), 16384);
    ASSERT_GT(full.size(), 6000u);
    for (const uint32_t length : {1u, 2u, 5u, 64u, 4096u, static_cast<uint32_t>(full.size())}) {
        // The buffer sits in a larger one whose tail must stay untouched.
        std::vector<char> outer(length + 16, 'Z');
        inkora_print_message(big.get(), outer.data(), length);
        const std::string cut(outer.data());
        EXPECT_EQ(cut.size(), length - 1) << length;
        EXPECT_EQ(std::string(outer.begin() + length, outer.end()), std::string(16, 'Z')) << length;
        if (length >= 5) {
            EXPECT_EQ(cut.substr(0, cut.size() - 4), full.substr(0, cut.size() - 4)) << length;
            EXPECT_EQ(cut.substr(cut.size() - 4), "...\n") << length;
        }
    }
    // One byte more and the whole text fits, unmarked.
    EXPECT_EQ(render(big.get(), static_cast<uint32_t>(full.size() + 1)), full);
    char untouched = 'Z';
    inkora_print_message(big.get(), &untouched, 0);
    EXPECT_EQ(untouched, 'Z');
}

TEST(PrintingLimits, NullBufferPrintsToStandardOutputWithinTheTemporaryBuffer) {
    Record p = make(INKORA_MESSAGE_PING, 5);
    ::testing::internal::CaptureStdout();
    inkora_print_message(p.get(), nullptr, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "INKORA_MESSAGE_PING (seq: 5)\n");

    Record big = report_request(INKORA_MESSAGE_SET_FEATURE_REQUEST, "p", Bytes(2049, 0xAB));
    ::testing::internal::CaptureStdout();
    inkora_print_message(big.get(), nullptr, 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.size(), 4095u);
    EXPECT_EQ(out.substr(out.size() - 4), "...\n");
}

} // namespace
