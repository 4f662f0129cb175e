// Unit tests of the agent core, in process: the keep-alive decision, the
// assembly of read responses from the input queue, and the enumeration
// answer's limits with a driver that lists more pads than fit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "inkora-nibline-serial.h"
#include "inkora-nibline.h"
#include "inkora-remote-common.h"

namespace {

struct GapCase {
    uint32_t last;
    uint32_t now;
    uint8_t expired;
};

class KeepAlive : public ::testing::TestWithParam<GapCase> {};

TEST_P(KeepAlive, MoreThanTenSecondsExpireMeasuredAcrossTheWrap) {
    EXPECT_EQ(inkora_remote_keepalive_expired(GetParam().last, GetParam().now), GetParam().expired);
}

INSTANTIATE_TEST_SUITE_P(Gaps, KeepAlive,
                         ::testing::Values(GapCase{1000, 1000, 0}, GapCase{1000, 11000, 0}, GapCase{1000, 11001, 1},
                                           GapCase{0xFFFFFF00u, 0xFFFFFF00u + 10000u, 0},
                                           GapCase{0xFFFFFF00u, 0xFFFFFF00u + 10001u, 1},
                                           GapCase{0xFFFFFFFFu, 5000u, 0}, GapCase{0xFFFFFFFFu, 20000u, 1}));

// What the agent's dispatch writes, one entry per message.
std::mutex written_mutex;
std::vector<std::vector<uint8_t>> written;

inkora_error_code capture(const uint8_t* buffer, uint32_t len) {
    const std::lock_guard lock(written_mutex);
    written.emplace_back(buffer, buffer + len);
    return INKORA_CODE_SUCCESS;
}

class Core : public ::testing::Test {
protected:
    static void SetUpTestSuite() { inkora_init(); }
    void SetUp() override {
        remote_init();
        const inkora_serial_write_func writer = capture;
        __atomic_store_n(&get_dispatch()->write_func, writer, __ATOMIC_RELEASE);
        const std::lock_guard lock(written_mutex);
        written.clear();
        queue = inkora_create_list();
    }
    void TearDown() override {
        for (inkora_list_item* item = queue->first; item != nullptr; item = item->next)
            inkora_serial_free_input_report(static_cast<inkora_serial_input_report*>(item->ptr));
        inkora_list_free(queue);
        remote_destroy();
    }
    void add_report(const char* path, std::vector<uint8_t> bytes) {
        auto* record = static_cast<inkora_serial_input_report*>(std::calloc(1, sizeof(inkora_serial_input_report)));
        record->path = strdup(path);
        record->success = 1;
        record->report_len = static_cast<uint32_t>(bytes.size());
        if (!bytes.empty()) {
            record->report = static_cast<uint8_t*>(std::malloc(bytes.size()));
            std::memcpy(record->report, bytes.data(), bytes.size());
        }
        inkora_list_add(queue, record);
    }
    void add_failure(const char* path, const char* text) {
        auto* record = static_cast<inkora_serial_input_report*>(std::calloc(1, sizeof(inkora_serial_input_report)));
        record->path = strdup(path);
        record->success = 0;
        record->error_msg = strdup(text);
        inkora_list_add(queue, record);
    }
    // The first bytes of the queued records' reports, and 'F' for failures.
    std::string queued() const {
        std::string left;
        for (inkora_list_item* item = queue->first; item != nullptr; item = item->next) {
            const auto* record = static_cast<inkora_serial_input_report*>(item->ptr);
            left += record->success != 0 ? static_cast<char>('0' + record->report[0]) : 'F';
        }
        return left;
    }
    inkora_messages* batch(const char* path, bool bulk, uint32_t max_reports) {
        handle.seq_num = 77;
        handle.path = const_cast<char*>(path);
        handle.is_bulk = bulk ? 1 : 0;
        handle.max_reports = max_reports;
        return inkora_batch_input_messages(&handle, queue);
    }
    inkora_list* queue = nullptr;
    inkora_read_handle handle{};
};

constexpr const char* pad_a = "/dev/hidraw3";
constexpr const char* pad_b = "/dev/hidraw4";

TEST_F(Core, SingleReadTakesTheOldestReportOfItsPadOnly) {
    ASSERT_STREQ(inkora_get_device_alias(pad_a), "1");
    add_report(pad_b, {9, 9});
    add_report(pad_a, {1, 0x11, 0x22});
    add_report(pad_a, {2, 0x33});
    inkora_messages* response = batch(pad_a, false, 0);
    ASSERT_NE(response, nullptr);
    const auto& body = response->read_response;
    EXPECT_EQ(body.common.message_id, INKORA_MESSAGE_READ_RESPONSE);
    EXPECT_EQ(body.common.seq_num, 77u);
    EXPECT_EQ(std::string(body.path, body.path_len), "1");
    EXPECT_EQ(body.success, 1);
    EXPECT_EQ(body.report_id, 1);
    EXPECT_EQ(std::vector<uint8_t>(body.report, body.report + body.report_len), (std::vector<uint8_t>{1, 0x11, 0x22}));
    inkora_free_message(response);
    EXPECT_EQ(queued(), "92");
}

TEST_F(Core, FailureRecordsGoAloneAndWaitBehindReports) {
    add_failure(pad_a, "Problem reading from the device (5): Input/output error\n");
    add_report(pad_a, {1});
    inkora_messages* alone = batch(pad_a, true, 5);
    ASSERT_NE(alone, nullptr);
    EXPECT_EQ(alone->read_bulk_resp.success, 0);
    EXPECT_EQ(alone->read_bulk_resp.report_count, 0u);
    EXPECT_EQ(std::string(alone->read_bulk_resp.error_msg, alone->read_bulk_resp.error_len),
              "Problem reading from the device (5): Input/output error\n");
    inkora_free_message(alone);
    EXPECT_EQ(queued(), "1");

    add_report(pad_a, {2});
    add_failure(pad_a, "gone");
    add_report(pad_a, {3});
    inkora_messages* two = batch(pad_a, true, 5);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->read_bulk_resp.success, 1);
    ASSERT_EQ(two->read_bulk_resp.report_count, 2u);
    EXPECT_EQ(two->read_bulk_resp.reports[0].report_id, 1);
    EXPECT_EQ(two->read_bulk_resp.reports[1].report_id, 2);
    inkora_free_message(two);
    EXPECT_EQ(queued(), "F3");

    inkora_messages* single = batch(pad_a, false, 0);
    ASSERT_NE(single, nullptr);
    EXPECT_EQ(single->read_response.success, 0);
    EXPECT_EQ(single->read_response.report_id, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(single->read_response.report), single->read_response.report_len),
              "gone");
    inkora_free_message(single);
    EXPECT_EQ(queued(), "3");
}

TEST_F(Core, NothingMatchingOrAMaximumOfZeroLeavesTheRequestParked) {
    add_report(pad_b, {1});
    EXPECT_EQ(batch(pad_a, false, 0), nullptr);
    add_report(pad_a, {2});
    EXPECT_EQ(batch(pad_a, true, 0), nullptr);
    EXPECT_EQ(queued(), "12");
}

TEST_F(Core, EmptyReportHasReportIdZero) {
    add_report(pad_a, {});
    inkora_messages* response = batch(pad_a, false, 0);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->read_response.success, 1);
    EXPECT_EQ(response->read_response.report_id, 0);
    EXPECT_EQ(response->read_response.report_len, 0u);
    inkora_free_message(response);
}

// Reports of 500 bytes: the bulk answer takes as many as fit the 4096-byte
// send buffer, and the rest stay queued in order for the next request.
TEST_F(Core, BulkAnswerNeverOutgrowsTheSendBuffer) {
    for (uint8_t i = 1; i <= 9; ++i) {
        std::vector<uint8_t> report(500, i);
        add_report(pad_a, report);
    }
    inkora_messages* response = batch(pad_a, true, 100);
    ASSERT_NE(response, nullptr);
    // 15 fixed bytes (header, path "1", success, count), 505 per report.
    EXPECT_EQ(response->read_bulk_resp.report_count, (INKORA_SERIAL_SEND_BUFFER_LEN - 15) / 505);
    EXPECT_EQ(inkora_serial_send_message(get_dispatch(), response), INKORA_CODE_SUCCESS);
    inkora_free_message(response);
    EXPECT_EQ(queued(), "9");
    const std::lock_guard lock(written_mutex);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_LE(written[0].size(), INKORA_SERIAL_SEND_BUFFER_LEN);
}

// A driver that lists more pads than one enumeration answer can carry.
constexpr uint32_t many_pads = 300;

inkora_error_code list_many(inkora_device_driver* driver, inkora_device** head) {
    inkora_device* first = nullptr;
    for (uint32_t i = many_pads; i > 0; --i) {
        auto* device = static_cast<inkora_device*>(std::calloc(1, sizeof(inkora_device)));
        char path[32];
        std::snprintf(path, sizeof path, "/dev/many%u", static_cast<unsigned>(i));
        device->path = strdup(path);
        device->model = strdup("M");
        device->manufacturer = strdup("X");
        device->driver = driver;
        device->parameters.handle = -1;
        device->next = first;
        first = device;
    }
    *head = first;
    return INKORA_CODE_SUCCESS;
}
inkora_error_code init_many(void) { return INKORA_CODE_SUCCESS; }
const char* name_many(void) { return "MANY"; }

TEST_F(Core, EnumerationAnswerLeavesOutThePadsThatDoNotFit) {
    inkora_device_driver driver{};
    driver.driver_init = init_many;
    driver.list_devices = list_many;
    driver.get_name = name_many;
    inkora_add_device_driver(&driver);
    driver.initialized = 1;
    inkora_messages request{};
    request.common.message_id = INKORA_MESSAGE_DEVICEENUM_REQUEST;
    request.common.seq_num = 5;
    inkora_handle_deviceenum_message(&request);
    inkora_remove_device_driver(&driver);

    // Expected: as many records as fit after the 6 fixed bytes, each
    // 4 + alias + 2 + 2 + 4 + 1 + 4 + 1 bytes.
    uint32_t size = 6;
    uint32_t fit = 0;
    for (uint32_t i = 1; i <= many_pads; ++i) {
        const uint32_t record = 18 + static_cast<uint32_t>(std::to_string(i).size());
        if (size + record > INKORA_SERIAL_SEND_BUFFER_LEN)
            break;
        size += record;
        ++fit;
    }
    const std::lock_guard lock(written_mutex);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0][0], INKORA_MESSAGE_DEVICEENUM_RESPONSE);
    EXPECT_EQ(written[0][5], fit);
    EXPECT_LT(fit, 255u);
    EXPECT_EQ(written[0].size(), size);
}

} // namespace
