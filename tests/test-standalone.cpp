// End-to-end tests of penlark-remote-standalone: the real program runs as a
// child with pipes on its standard input and output, with simulated pads
// (INKORA_SIMULATED_PADS), and the remote peer speaks the wire protocol to it.
// Pen input is injected with the pads' set-feature report 253.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "inkora-nibline-serial.h"
#include "remote-peer.h"
#include "support/inkora-child-process.hpp"

using namespace std::chrono_literals;
using inkora::peer::AgentOptions;
using inkora::peer::Message;
using inkora::peer::RemotePeer;
using inkora::peer::Result;

namespace {

constexpr const char* sim_path_1 = "/dev/inkora-sim/pad1";
constexpr const char* sim_path_2 = "/dev/inkora-sim/pad2";

AgentOptions agent_options(int pads, bool answer_pings, const std::string& stderr_path) {
    AgentOptions options;
    options.stderr_path = stderr_path;
    options.executable = INKORA_AGENT_PATH;
    // Under ThreadSanitizer the agent would wait a second at exit for late races.
    const char* tsan = std::getenv("TSAN_OPTIONS");
    options.environment = {{"INKORA_SIMULATED_PADS", std::to_string(pads)},
                           {"TSAN_OPTIONS", std::string(tsan != nullptr ? tsan : "") + ":atexit_sleep_ms=0"}};
    options.unset_environment = {"INKORA_DEBUG", "INKORA_TRACE", "INKORA_DEBUG_HANDLERS"};
    options.answer_pings = answer_pings;
    return options;
}

// The report the simulated pad emits for a type-1 pen simulation.
std::vector<uint8_t> coordinate_report(uint16_t x, uint16_t y, bool down) {
    return {1, static_cast<uint8_t>(down ? 1 : 0), static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8),
            static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8)};
}

class Agent : public ::testing::Test {
protected:
    void start(int pads = 2, bool answer_pings = true) {
        peer = std::make_unique<RemotePeer>(agent_options(pads, answer_pings, stderr_file()));
        ASSERT_TRUE(peer->started());
    }
    void SetUp() override { start(); }
    void TearDown() override {
        if (peer) {
            // End of standard input ends the agent with exit status 0.
            EXPECT_EQ(peer->close_and_wait(5s), 0);
            peer.reset();
            // Nothing on standard error: no sanitizer report, no stray print.
            EXPECT_EQ(inkora::test::read_file(stderr_file()).value_or(""), "");
        }
    }
    std::string stderr_file() const { return (scratch.path() / "agent-stderr.txt").string(); }
    void open_ok(const std::string& name, const std::string& alias) {
        const Result opened = peer->open(name);
        ASSERT_TRUE(opened.answered);
        ASSERT_TRUE(opened.success) << opened.error;
        EXPECT_EQ(opened.path, alias);
    }
    void inject(const std::string& name, uint16_t x, uint16_t y, bool down = true) {
        const Result set = peer->set_feature(name, inkora::peer::pen_simulation_report(1, x, y, down));
        ASSERT_TRUE(set.answered);
        ASSERT_TRUE(set.success) << set.error;
    }
    // The reports of a bulk read answer, as byte vectors.
    static std::vector<std::vector<uint8_t>> bulk_reports(const Message& reply) {
        std::vector<std::vector<uint8_t>> reports;
        const auto& body = reply->read_bulk_resp;
        for (uint32_t i = 0; i < body.report_count; ++i) {
            const auto& r = body.reports[i];
            EXPECT_EQ(r.report_id, r.report_len != 0 ? r.report[0] : 0);
            reports.emplace_back(r.report, r.report + r.report_len);
        }
        return reports;
    }
    inkora::test::scratch_dir scratch;
    std::unique_ptr<RemotePeer> peer;
};

TEST_F(Agent, EnumerationNumbersAliasesFromOneAndKeepsThem) {
    for (int round = 0; round < 2; ++round) {
        const auto devices = peer->enumerate();
        ASSERT_TRUE(devices.has_value());
        ASSERT_EQ(devices->size(), 2u);
        for (size_t i = 0; i < devices->size(); ++i) {
            const auto& device = (*devices)[i];
            EXPECT_EQ(device.alias, std::to_string(i + 1)) << "round " << round;
            EXPECT_EQ(device.vendor_id, 0x18FB);
            EXPECT_EQ(device.product_id, 0x0100);
            EXPECT_EQ(device.model, "Simulated Pad");
            EXPECT_EQ(device.manufacturer, "Inkora");
        }
    }
}

TEST_F(Agent, OpenByPathBeforeEnumerationCreatesTheAliasThen) {
    open_ok(sim_path_2, "1");
    const auto devices = peer->enumerate();
    ASSERT_TRUE(devices.has_value());
    ASSERT_EQ(devices->size(), 2u);
    EXPECT_EQ((*devices)[0].alias, "2"); // pad1 is seen second
    EXPECT_EQ((*devices)[1].alias, "1");
    // Enumeration lists the open pad too and leaves its session alone.
    const Result busy = peer->open("1");
    EXPECT_FALSE(busy.success);
    EXPECT_EQ(busy.error, "Device is already open in another program: 1");
}

struct OpenFailureCase {
    const char* label;
    const char* first;  // opened successfully first (nullptr: nothing)
    const char* second; // then this one fails
    const char* error;
};

class OpenFailures : public Agent, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailures, AnswerWithTheNameAsReceivedAndNoPath) {
    ASSERT_TRUE(peer->enumerate().has_value());
    const OpenFailureCase& c = GetParam();
    if (c.first != nullptr) {
        ASSERT_TRUE(peer->open(c.first).success);
    }
    const Result failed = peer->open(c.second);
    ASSERT_TRUE(failed.answered);
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.error, c.error);
    EXPECT_EQ(failed.path, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailures,
    ::testing::Values(OpenFailureCase{"UnknownName", nullptr, "nope", "Unable to locate device: nope"},
                      OpenFailureCase{"UnknownAlias", nullptr, "7", "Unable to locate device: 7"},
                      OpenFailureCase{"AliasAfterAlias", "1", "1", "Device is already open in another program: 1"},
                      OpenFailureCase{"PathAfterAlias", "1", sim_path_1,
                                      "Device is already open in another program: /dev/inkora-sim/pad1"},
                      OpenFailureCase{"AliasAfterPath", sim_path_2, "2",
                                      "Device is already open in another program: 2"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Agent, CloseEchoesTheNameOnSuccessAndFailure) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    open_ok(sim_path_2, "2");
    const Result by_alias = peer->close("1");
    EXPECT_TRUE(by_alias.success) << by_alias.error;
    EXPECT_EQ(by_alias.path, "1");
    EXPECT_EQ(by_alias.error, "");
    const Result by_path = peer->close(sim_path_2);
    EXPECT_TRUE(by_path.success) << by_path.error;
    EXPECT_EQ(by_path.path, sim_path_2);
    const Result again = peer->close("1");
    EXPECT_FALSE(again.success);
    EXPECT_EQ(again.path, "1");
    EXPECT_EQ(again.error, "Unable to find device with path: 1");
    // A closed pad opens again.
    open_ok("1", "1");
}

TEST_F(Agent, ParkedReadIsAnsweredByTheNextReportWithItsOwnBytes) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    const uint32_t seq = peer->send_read("1");
    EXPECT_FALSE(peer->wait_read(seq, 300ms).answered) << "answered with nothing queued";
    inject("1", 0x1234, 0x0567);
    const Result read = peer->wait_read(seq, 3s);
    ASSERT_TRUE(read.answered);
    EXPECT_TRUE(read.success);
    EXPECT_EQ(read.seq_num, seq);
    EXPECT_EQ(read.path, "1");
    EXPECT_EQ(read.report_id, 1);
    EXPECT_EQ(read.report, coordinate_report(0x1234, 0x0567, true));
}

TEST_F(Agent, ReportsAndReadsPairOldestFirstPerPad) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    open_ok("2", "2");
    // Queued before any request: pad 2's reports sit between pad 1's.
    inject("1", 1, 1);
    inject("2", 100, 100);
    inject("1", 2, 2, false);
    inject("1", 3, 3);
    // Parked before the reports: answered in request order.
    const uint32_t a = peer->send_read("1");
    const uint32_t b = peer->send_read("1");
    const uint32_t c = peer->send_read("1");
    const uint32_t d = peer->send_read(sim_path_2);
    EXPECT_EQ(peer->wait_read(a, 3s).report, coordinate_report(1, 1, true));
    EXPECT_EQ(peer->wait_read(b, 3s).report, coordinate_report(2, 2, false));
    EXPECT_EQ(peer->wait_read(c, 3s).report, coordinate_report(3, 3, true));
    const Result other = peer->wait_read(d, 3s);
    EXPECT_EQ(other.report, coordinate_report(100, 100, true));
    EXPECT_EQ(other.path, "2"); // the alias, though the request named the path

    const uint32_t e = peer->send_read("1");
    const uint32_t f = peer->send_read("1");
    inject("1", 7, 7);
    inject("1", 8, 8);
    EXPECT_EQ(peer->wait_read(e, 3s).report, coordinate_report(7, 7, true));
    EXPECT_EQ(peer->wait_read(f, 3s).report, coordinate_report(8, 8, true));
}

// A short signature with extended coordinates: the reports pass byte for
// byte, the region byte included (the "OK" button is region 5).
TEST_F(Agent, ExtendedCoordinatesCarryTheirRegion) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    const uint32_t stroke = peer->send_read_bulk("1", 3);
    ASSERT_TRUE(peer->pen_sample("1", 100, 50, true).success);
    ASSERT_TRUE(peer->pen_sample("1", 101, 52, true).success);
    ASSERT_TRUE(peer->pen_sample("1", 250, 170, false).success);
    std::vector<std::vector<uint8_t>> reports;
    while (reports.size() < 3) {
        const Message reply = peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s);
        ASSERT_TRUE(reply);
        for (auto& r : bulk_reports(reply))
            reports.push_back(r);
        if (reports.size() < 3)
            peer->send_read_bulk("1", 3);
    }
    (void)stroke;
    EXPECT_EQ(reports[0], (std::vector<uint8_t>{2, 1, 100, 0, 50, 0, 1}));
    EXPECT_EQ(reports[1], (std::vector<uint8_t>{2, 1, 101, 0, 52, 0, 1}));
    EXPECT_EQ(reports[2], (std::vector<uint8_t>{2, 0, 250, 0, 170, 0, 5}));
}

TEST_F(Agent, BulkReadTakesAtMostItsMaximumAndLeavesTheRestQueued) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    for (uint16_t i = 0; i < 3; ++i) {
        inject("1", i, i);
    }
    // The pump pairs as soon as input is queued; wait for the reports to be in.
    std::this_thread::sleep_for(100ms);
    const uint32_t three = peer->send_read_bulk("1", 5);
    Message reply = peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s, three);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->read_bulk_resp.success, 1);
    EXPECT_EQ(inkora::peer::text_of(reply->read_bulk_resp.path, reply->read_bulk_resp.path_len), "1");
    auto reports = bulk_reports(reply);
    ASSERT_EQ(reports.size(), 3u);
    for (uint16_t i = 0; i < 3; ++i) {
        EXPECT_EQ(reports[i], coordinate_report(i, i, true));
    }

    for (uint16_t i = 10; i < 17; ++i) {
        inject("1", i, i);
    }
    std::this_thread::sleep_for(100ms);
    const uint32_t five = peer->send_read_bulk("1", 5);
    reply = peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s, five);
    ASSERT_TRUE(reply);
    reports = bulk_reports(reply);
    ASSERT_EQ(reports.size(), 5u);
    for (uint16_t i = 0; i < 5; ++i) {
        EXPECT_EQ(reports[i], coordinate_report(10 + i, 10 + i, true));
    }
    // The two left over answer the next reads.
    const uint32_t next = peer->send_read("1");
    EXPECT_EQ(peer->wait_read(next, 3s).report, coordinate_report(15, 15, true));
    const uint32_t last = peer->send_read_bulk("1", 5);
    reply = peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s, last);
    ASSERT_TRUE(reply);
    reports = bulk_reports(reply);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], coordinate_report(16, 16, true));

    // A maximum of 0 is never answered.
    const uint32_t none = peer->send_read_bulk("1", 0);
    inject("1", 20, 20);
    EXPECT_FALSE(peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 300ms, none));
}

TEST_F(Agent, ReadsForPadsThatAreNotOpenAreAnsweredAtOnce) {
    ASSERT_TRUE(peer->enumerate().has_value());
    const uint32_t single = peer->send_read("1");
    const Result read = peer->wait_read(single, 3s);
    ASSERT_TRUE(read.answered);
    EXPECT_FALSE(read.success);
    EXPECT_EQ(read.report_id, 0);
    EXPECT_EQ(read.path, "1");
    EXPECT_EQ(read.error, "Device does not appear to be open: 1");

    const uint32_t bulk = peer->send_read_bulk(sim_path_2, 4);
    const Message reply = peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 3s, bulk);
    ASSERT_TRUE(reply);
    const auto& body = reply->read_bulk_resp;
    EXPECT_EQ(body.success, 0);
    EXPECT_EQ(body.report_count, 0u);
    EXPECT_EQ(inkora::peer::text_of(body.path, body.path_len), sim_path_2);
    EXPECT_EQ(inkora::peer::text_of(body.error_msg, body.error_len),
              std::string("Device does not appear to be open: ") + sim_path_2);
}

TEST_F(Agent, CloseDropsQueuedInputButLeavesParkedReadsForTheNextSession) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    inject("1", 1, 1);
    inject("1", 2, 2);
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(peer->close("1").success);
    open_ok("1", "1");
    const uint32_t seq = peer->send_read("1");
    EXPECT_FALSE(peer->wait_read(seq, 300ms).answered) << "input of the earlier session survived the close";
    ASSERT_TRUE(peer->close("1").success);
    // Parked across the close: answered by the first report of the next session.
    open_ok("1", "1");
    inject("1", 9, 9);
    const Result read = peer->wait_read(seq, 3s);
    ASSERT_TRUE(read.answered);
    EXPECT_EQ(read.seq_num, seq);
    EXPECT_EQ(read.report, coordinate_report(9, 9, true));
}

TEST_F(Agent, FeatureReportsPassThroughBothWays) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    const std::vector<uint8_t> written{60, 0xde, 0xad, 0xbe, 0xef};
    const Result set = peer->set_feature("1", written);
    ASSERT_TRUE(set.answered);
    EXPECT_TRUE(set.success) << set.error;
    EXPECT_EQ(set.path, "1");
    EXPECT_EQ(set.error, "");
    const Result got = peer->get_feature(sim_path_1, 60, 5);
    EXPECT_TRUE(got.success) << got.error;
    EXPECT_EQ(got.path, sim_path_1);
    EXPECT_EQ(got.report, written);
    // A longer get carries exactly the requested length, id first.
    const Result longer = peer->get_feature("1", 60, 9);
    ASSERT_EQ(longer.report.size(), 9u);
    EXPECT_EQ(longer.report[0], 60);

    // Output reports reach the pad as feature reports with the same bytes.
    const std::vector<uint8_t> output{91, 1, 2, 3};
    const Result out = peer->set_output("1", output);
    EXPECT_TRUE(out.success) << out.error;
    EXPECT_EQ(peer->get_feature("1", 91, 4).report, output);
}

struct RefusalCase {
    const char* label;
    bool open;               // the pad is open
    bool get;                // a get (else a set)
    uint8_t report_id;
    uint32_t report_len;     // for a get
    const char* error;       // expected text (exact), nullptr: any non-empty text
};

class FeatureRefusals : public Agent, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(FeatureRefusals, AnswerSuccessZeroWithTheRightText) {
    ASSERT_TRUE(peer->enumerate().has_value());
    const RefusalCase& c = GetParam();
    if (c.open) {
        open_ok("1", "1");
    }
    const Result result = c.get ? peer->get_feature("1", c.report_id, c.report_len)
                                : peer->set_feature("1", {c.report_id, 1, 2, 3});
    ASSERT_TRUE(result.answered);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.path, "1");
    EXPECT_TRUE(result.report.empty());
    if (c.error != nullptr) {
        EXPECT_EQ(result.error, c.error);
    } else {
        EXPECT_FALSE(result.error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FeatureRefusals,
    ::testing::Values(
        RefusalCase{"SetUndeclaredId", true, false, 7, 0, "Report id 7 isn't supported by this device.\n"},
        RefusalCase{"GetUndeclaredId", true, true, 7, 4, "Report id 7 isn't supported by this device.\n"},
        RefusalCase{"SetNotOpen", false, false, 60, 0, ""},
        RefusalCase{"GetNotOpen", false, true, 60, 4, ""},
        RefusalCase{"GetLengthZero", true, true, 60, 0,
                    "Invalid report length 0 for report 60: no room for the report id."},
        RefusalCase{"GetTooLargeForAResponse", true, true, 60, 4096, nullptr}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Agent, LargestGetFeatureThatFitsAResponseIsAnswered) {
    ASSERT_TRUE(peer->enumerate().has_value());
    open_ok("1", "1");
    // Header 5, path length 4 + 1, success 1, report length 4.
    const uint32_t largest = INKORA_SERIAL_SEND_BUFFER_LEN - 15;
    EXPECT_TRUE(peer->get_feature("1", 60, largest).success);
    const Result refused = peer->get_feature("1", 60, largest + 1);
    EXPECT_FALSE(refused.success);
    EXPECT_NE(refused.error.find("too large"), std::string::npos) << refused.error;
}

TEST_F(Agent, VersionAndPingAreAnsweredWithSequenceNumberZero) {
    Message version = inkora::peer::make_version(9, 8, 7, 0);
    peer->send(*version);
    const Message answer = peer->wait_for(INKORA_MESSAGE_VERSION_INFO, 3s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->common.seq_num, 0u);
    EXPECT_EQ(answer->version.total_len, 4u);
    EXPECT_EQ(answer->version.version_major, 2);
    EXPECT_EQ(answer->version.version_minor, 0);
    EXPECT_EQ(answer->version.version_release, 0);
    EXPECT_EQ(answer->version.supports_bulk, 1);

    // Responses sent to the agent and codes it does not know are ignored;
    // the stream stays in step.
    Message stray = inkora::peer::make_path_message(INKORA_MESSAGE_DEVICE_ATTACH, "/dev/hidraw9");
    peer->send(*stray);
    Message stray_enum = inkora::peer::make_message(INKORA_MESSAGE_DEVICEENUM_RESPONSE);
    peer->send(*stray_enum);
    Message ping = inkora::peer::make_message(INKORA_MESSAGE_PING, 4242);
    peer->send_as_is(*ping);
    const Message pong = peer->wait_for(INKORA_MESSAGE_PONG, 3s);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->common.seq_num, 0u);
}

// The agent must not end, nor lose a message, when the remote side sends far
// more than the 51200-byte input ring holds while a handler is busy.
TEST_F(Agent, BurstLargerThanTheInputRingIsDecodedWhole) {
    ASSERT_TRUE(peer->enumerate().has_value());
    constexpr uint32_t pings = 16000; // 80000 bytes
    std::vector<uint8_t> burst;
    // An open first (it waits for the pad to start), then the pings.
    Message open = inkora::peer::make_path_message(INKORA_MESSAGE_OPEN_REQUEST, "1");
    const uint32_t open_seq = peer->send(*open);
    for (uint32_t i = 0; i < pings; ++i)
        burst.insert(burst.end(), {INKORA_MESSAGE_PING, static_cast<uint8_t>(i), 0, 0, 0});
    ASSERT_TRUE(peer->send_bytes(burst.data(), burst.size()));
    const Message opened = peer->wait_for(INKORA_MESSAGE_OPEN_RESPONSE, 5s, open_seq);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->open_response.success, 1);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (peer->count(INKORA_MESSAGE_PONG) < pings && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(peer->count(INKORA_MESSAGE_PONG), pings);
    // And the stream is still in step.
    EXPECT_TRUE(peer->close("1").success);
}

// Pings every 2.5 s with sequence number 1, the first 2.5 s after start; and
// a remote side that stays silent for more than 10 s while a pad is open has
// its sessions and queues wiped at its next message, which is then handled.
TEST_F(Agent, SilentRemoteSideIsPingedAndCleanedUpAfterTenSeconds) {
    peer.reset();
    const auto started = std::chrono::steady_clock::now();
    start(2, /*answer_pings=*/false);
    ASSERT_TRUE(peer->enumerate().has_value());
    const auto answered = std::chrono::steady_clock::now(); // the agent was running by then
    open_ok("1", "1");
    // A bulk read that takes nothing stays parked, so the report stays queued.
    const uint32_t waiting = peer->send_read_bulk("1", 0);
    inject("1", 5, 5);
    std::this_thread::sleep_for(10300ms);

    const auto pings = peer->ping_times();
    ASSERT_GE(pings.size(), 4u);
    EXPECT_LE(pings.size(), 5u);
    // The first ping leaves 2.5 s after the agent's start, which lies
    // between the peer's start and the first answer.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(pings[0] - started).count(), 2450);
    EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(pings[0] - answered).count(), 2700);
    for (size_t i = 1; i < pings.size(); ++i) {
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(pings[i] - pings[i - 1]).count();
        EXPECT_GE(gap, 2300) << "ping " << i;
        EXPECT_LE(gap, 2800) << "ping " << i;
    }
    while (Message ping = peer->wait_for(INKORA_MESSAGE_PING, 0ms)) {
        EXPECT_EQ(ping->common.seq_num, 1u);
    }

    // The next message triggers the clean-up first, then is handled.
    const uint32_t seq = peer->send_read("1");
    const Result read = peer->wait_read(seq, 3s);
    ASSERT_TRUE(read.answered);
    EXPECT_FALSE(read.success);
    EXPECT_EQ(read.error, "Device does not appear to be open: 1");
    EXPECT_FALSE(peer->wait_for(INKORA_MESSAGE_READ_BULK_RESPONSE, 100ms, waiting));
    const auto devices = peer->enumerate();
    ASSERT_TRUE(devices.has_value());
    ASSERT_EQ(devices->size(), 2u);
    EXPECT_EQ((*devices)[0].alias, "1");
    EXPECT_EQ((*devices)[1].alias, "2");
    // The queue was wiped: a new session sees only new input (the earlier
    // report would be older).
    open_ok("1", "1");
    const uint32_t fresh = peer->send_read("1");
    inject("1", 6, 6);
    EXPECT_EQ(peer->wait_read(fresh, 3s).report, coordinate_report(6, 6, true));
}

} // namespace
