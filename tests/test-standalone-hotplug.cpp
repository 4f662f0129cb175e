// End-to-end tests of penlark-remote-standalone through the real Linux HID
// driver: the agent runs as a child of this test, under umockdev's preload,
// against emulated hidraw nodes answered by pad models in this process.
// Plugging and unplugging the nodes sends the udev events the agent's
// hot-plug monitor receives.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/inkora-child-process.hpp"
#include "inkora-pad-model.hpp"
#include "remote-peer.h"
#include "support/umockdev-pad.hpp"

using namespace std::chrono_literals;
using inkora::peer::AgentOptions;
using inkora::peer::Message;
using inkora::peer::RemotePeer;
using inkora::peer::Result;
using inkora::sim::PadModel;
using inkora::test::HidrawTestbed;

namespace {

#ifdef INKORA_HAVE_UMOCKDEV

std::vector<uint8_t> coordinate_report(uint16_t x, uint16_t y) {
    return {1, 1, static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y),
            static_cast<uint8_t>(y >> 8)};
}

std::string path_of(const Message& notice) {
    return inkora::peer::text_of(notice->device_attach.path, notice->device_attach.path_len);
}

class HotplugAgent : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HidrawTestbed::running())
            GTEST_SKIP() << "not running under umockdev-wrapper: the emulated hidraw tests are skipped";
        testbed = std::make_unique<HidrawTestbed>();
    }
    void start() {
        AgentOptions options;
        options.executable = INKORA_AGENT_PATH;
        options.unset_environment = {"INKORA_SIMULATED_PADS", "INKORA_DEBUG", "INKORA_TRACE"};
        options.stderr_path = (scratch.path() / "agent-stderr.txt").string();
        // As in this process, libraries not built for the thread sanitizer
        // (libudev's lock-free start-up, GLib inside the preload) are not
        // the agent's races.
        const auto suppressions = scratch.path() / "tsan.supp";
        inkora::test::write_file(suppressions, "race:libudev.so\nrace:libglib-2.0.so\nrace:libgobject-2.0.so\n"
                                               "race:libgio-2.0.so\nrace:libumockdev.so\n"
                                               "race:libumockdev-preload.so\n");
        options.environment = {{"TSAN_OPTIONS", "suppressions=" + suppressions.string() + ":atexit_sleep_ms=0"}};
        peer = std::make_unique<RemotePeer>(options);
        ASSERT_TRUE(peer->started());
    }
    void TearDown() override {
        // The agent goes before the testbed: an ioctl on a node whose testbed
        // is gone would hang.
        if (peer) {
            EXPECT_EQ(peer->close_and_wait(10s), 0);
            peer.reset();
            // Nothing on standard error: no sanitizer report, no stray print.
            EXPECT_EQ(inkora::test::read_file(scratch.path() / "agent-stderr.txt").value_or(""), "");
        }
        testbed.reset();
    }
    void inject(const std::string& name, uint16_t x, uint16_t y) {
        const Result set = peer->set_feature(name, inkora::peer::pen_simulation_report(1, x, y, true));
        ASSERT_TRUE(set.success) << set.error;
    }
    PadModel first{1};
    PadModel second{2};
    inkora::test::scratch_dir scratch;
    std::unique_ptr<HidrawTestbed> testbed;
    std::unique_ptr<RemotePeer> peer;
};

TEST_F(HotplugAgent, PlugAndUnplugSendNoticesAndTheDetachEndsTheSession) {
    const std::string node = testbed->plug(first);
    start();
    const auto devices = peer->enumerate();
    ASSERT_TRUE(devices.has_value());
    ASSERT_EQ(devices->size(), 1u);
    EXPECT_EQ((*devices)[0].alias, "1");
    const Result opened = peer->open("1");
    ASSERT_TRUE(opened.success) << opened.error;

    // Input through the real driver.
    const uint32_t seq = peer->send_read("1");
    inject("1", 300, 200);
    EXPECT_EQ(peer->wait_read(seq, 3s).report, coordinate_report(300, 200));

    const std::string other = testbed->plug(second);
    const Message attach = peer->wait_for(INKORA_MESSAGE_DEVICE_ATTACH, 5s);
    ASSERT_TRUE(attach);
    EXPECT_EQ(path_of(attach), other);
    EXPECT_EQ(attach->common.seq_num, 0u);

    const uint32_t parked = peer->send_read("1");
    EXPECT_FALSE(peer->wait_read(parked, 200ms).answered);
    testbed->unplug(node);
    const Message detach = peer->wait_for(INKORA_MESSAGE_DEVICE_DETACH, 5s);
    ASSERT_TRUE(detach);
    EXPECT_EQ(path_of(detach), node);
    // The parked read gets the driver's read error.
    const Result failed = peer->wait_read(parked, 3s);
    ASSERT_TRUE(failed.answered);
    EXPECT_FALSE(failed.success);
    EXPECT_EQ(failed.path, "1");
    EXPECT_NE(failed.error.find("Problem reading from the device"), std::string::npos) << failed.error;

    // The session has ended: the pad answers as one that is not open.
    const uint32_t later = peer->send_read("1");
    EXPECT_EQ(peer->wait_read(later, 3s).error, "Device does not appear to be open: 1");
    EXPECT_EQ(peer->close("1").error, "Unable to find device with path: 1");
    EXPECT_FALSE(peer->set_feature("1", {60, 1}).success);
    // The pad plugged in later gets the next alias. (The testbed keeps the
    // unplugged node's description, so enumeration may still list it.)
    const auto remaining = peer->enumerate();
    ASSERT_TRUE(remaining.has_value());
    bool listed = false;
    for (const auto& device : *remaining)
        listed = listed || device.alias == "2";
    EXPECT_TRUE(listed);
}

// Two pads stream input while they are closed and reopened, pings go both
// ways, and one pad is unplugged in the middle. Run under ThreadSanitizer,
// the agent's standard error (checked at tear-down) carries any race found.
TEST_F(HotplugAgent, TwoPadsStreamCloseReopenAndUnplugConcurrentlyWithPings) {
    const std::string node1 = testbed->plug(first);
    const std::string node2 = testbed->plug(second);
    start();
    ASSERT_TRUE(peer->enumerate().has_value());

    std::atomic<bool> stop{false};
    std::thread pinger([&] {
        while (!stop.load()) {
            Message ping = inkora::peer::make_message(INKORA_MESSAGE_PING, 99);
            peer->send_as_is(*ping);
            std::this_thread::sleep_for(5ms);
        }
    });
    auto stream = [&](const std::string& alias, int reports) {
        for (int i = 0; i < reports; ++i) {
            const uint32_t seq = peer->send_read(alias);
            const Result set = peer->set_feature(alias, inkora::peer::pen_simulation_report(1, 10, 20, true));
            if (!set.success)
                return false;
            const Result read = peer->wait_read(seq, 3s);
            if (!read.success || read.report != coordinate_report(10, 20))
                return false;
        }
        return true;
    };
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(peer->open("1").success);
        ASSERT_TRUE(peer->open("2").success);
        bool ok1 = false;
        bool ok2 = false;
        std::thread a([&] { ok1 = stream("1", 20); });
        std::thread b([&] { ok2 = stream("2", 20); });
        a.join();
        b.join();
        EXPECT_TRUE(ok1) << "round " << round;
        EXPECT_TRUE(ok2) << "round " << round;
        EXPECT_TRUE(peer->close("1").success);
        EXPECT_TRUE(peer->close("2").success);
    }
    ASSERT_TRUE(peer->open("1").success);
    ASSERT_TRUE(peer->open("2").success);
    bool streamed = false;
    std::thread b([&] { streamed = stream("2", 30); });
    const uint32_t parked = peer->send_read("1");
    testbed->unplug(node1);
    b.join();
    EXPECT_TRUE(streamed);
    const Message detach = peer->wait_for(INKORA_MESSAGE_DEVICE_DETACH, 5s);
    ASSERT_TRUE(detach);
    EXPECT_EQ(path_of(detach), node1);
    EXPECT_FALSE(peer->wait_read(parked, 3s).success);
    stop.store(true);
    pinger.join();
    EXPECT_GT(peer->count(INKORA_MESSAGE_PONG), 0u);
    EXPECT_TRUE(peer->close("2").success);
    (void)node2;
}

#else

TEST(HotplugAgent, NeedsUmockdev) { GTEST_SKIP() << "built without umockdev: the emulated hidraw tests are skipped"; }

#endif

} // namespace
