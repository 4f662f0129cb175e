// The Linux HID driver: hex conversion and the report-descriptor walk on
// their own, and the driver's enumeration, open, feature requests, read
// cycle and hot-plug monitor against an emulated hidraw node (umockdev)
// answered by the pad model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inkora-debug.h"
#include "inkora-nibline-linux.h"
#include "inkora-nibline.h"
#include "inkora-pad-model.hpp"
#include "inkora-nibline-private.h"

#ifdef INKORA_HAVE_UMOCKDEV
#include "support/umockdev-pad.hpp"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

TEST(HexToDecimal, LowerCaseHexOnly) {
    const std::array<std::pair<const char*, int32_t>, 7> table{{{"18fb", 6395},
                                                               {"1001", 4097},
                                                               {"18FB", -1},
                                                               {"", 0},
                                                               {"0100", 256},
                                                               {"12g4", -1},
                                                               {"ffffffffff", -1}}};
    for (const auto& [text, value] : table)
        EXPECT_EQ(inkora_hex_to_decimal(text), value) << text;
}

struct DescriptorCase {
    const char* name;
    Bytes descriptor;
    std::vector<uint8_t> declared;
};

void PrintTo(const DescriptorCase& c, std::ostream* out) { *out << c.name; }

class Descriptor : public testing::TestWithParam<DescriptorCase> {};

TEST_P(Descriptor, MapsTheReportIdsItNames) {
    std::array<uint8_t, INKORA_HID_REPORT_MAP_SIZE> map{};
    const Bytes& d = GetParam().descriptor;
    parse_hid_descriptor(d.data(), static_cast<uint32_t>(d.size()), map.data());
    std::vector<uint8_t> declared;
    for (size_t id = 0; id < map.size(); ++id)
        if (map[id] != 0)
            declared.push_back(static_cast<uint8_t>(id));
    EXPECT_EQ(declared, GetParam().declared);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Descriptor,
    testing::Values(
        DescriptorCase{"StatusAndDisplayInfo", {0x06, 0x00, 0xFF, 0x85, 0x0D, 0x95, 0x48, 0xB1, 0x02, 0x85, 0x64, 0xC0},
                       {13, 100}},
        // A four-byte item whose data happens to hold 0x85 0x16 is stepped over whole.
        DescriptorCase{"DataOfOtherItemsIsSkipped", {0x27, 0x85, 0x16, 0x00, 0x00, 0x85, 0x01}, {1}},
        // Id 255 lies outside the 255-entry map and counts as undeclared.
        DescriptorCase{"Id255IsIgnored", {0x85, 0xFF, 0x85, 0xFE}, {254}},
        DescriptorCase{"ItemCutByTheEnd", {0x85, 0x02, 0x85}, {2}},
        DescriptorCase{"LongItemPrefixIsAShortItemWithTwoBytes", {0xFE, 0x85, 0x09, 0x85, 0x03}, {3}}),
    [](const testing::TestParamInfo<DescriptorCase>& info) { return std::string(info.param.name); });

TEST(Descriptor, PadModelDescriptorDeclaresExactlyItsReports) {
    const Bytes d = inkora::sim::PadModel::report_descriptor();
    std::array<uint8_t, INKORA_HID_REPORT_MAP_SIZE> map{};
    parse_hid_descriptor(d.data(), static_cast<uint32_t>(d.size()), map.data());
    for (uint32_t id = 0; id < map.size(); ++id)
        EXPECT_EQ(map[id] != 0, inkora::sim::PadModel::declares(static_cast<uint8_t>(id))) << id;
    EXPECT_EQ(map[13], 1);
    EXPECT_EQ(map[253], 1);
    EXPECT_EQ(map[99], 0);
}

TEST(OutputReport, SendsNothingAndSucceeds) {
    inkora_device device;
    std::memset(&device, 0, sizeof device);
    device.parameters.handle = -1;
    uint8_t report[2] = {5, 1};
    EXPECT_EQ(inkora_real_hid_set_output_report(&device, report, 2), INKORA_CODE_SUCCESS);
    EXPECT_STREQ(inkora_real_get_driver_name(), "REAL");
}


// ---------------------------------------------------------------------------
// Against an emulated hidraw node

#ifdef INKORA_HAVE_UMOCKDEV

using inkora::sim::PadModel;
using inkora::test::HidrawTestbed;
using inkora::test::UsbIdentity;

class EmulatedPad : public testing::Test {
protected:
    void SetUp() override {
        if (!HidrawTestbed::running())
            GTEST_SKIP() << "not running under umockdev-wrapper: the emulated hidraw tests are skipped";
        testbed = std::make_unique<HidrawTestbed>();
        inkora_set_startup_poll_interval_ms(1);
    }
    void TearDown() override {
        // Devices are closed before the testbed goes (an ioctl on a node
        // whose testbed is gone would hang).
        for (inkora_device* d = chain; d != nullptr; d = d->next)
            if (inkora_device_is_open(d) == 1)
                inkora_close_device(d);
        inkora_free_device_list(chain);
        chain = nullptr;
        testbed.reset();
        inkora_set_startup_poll_interval_ms(100);
    }
    inkora_device* list() {
        inkora_free_device_list(chain);
        chain = nullptr;
        EXPECT_EQ(inkora_real_list_devices(&inkora_real_driver, &chain), INKORA_CODE_SUCCESS) << inkora_get_last_error();
        return chain;
    }
    // A further pad; it lives as long as the fixture, so beyond the testbed.
    PadModel& another_pad(uint32_t k) {
        more_pads.push_back(std::make_unique<PadModel>(k));
        return *more_pads.back();
    }
    PadModel pad{1};
    std::vector<std::unique_ptr<PadModel>> more_pads;
    std::unique_ptr<HidrawTestbed> testbed;
    inkora_device* chain = nullptr;
};

TEST_F(EmulatedPad, EnumerationListsThePadWithItsUsbStrings) {
    const std::string node = testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->next, nullptr);
    EXPECT_EQ(node, device->path);
    EXPECT_EQ(device->vendor_id, 0x18FB);
    EXPECT_EQ(device->product_id, 0x0100);
    EXPECT_STREQ(device->model, "Simulated Pad");
    EXPECT_STREQ(device->manufacturer, "Inkora");
    EXPECT_EQ(device->driver, &inkora_real_driver);
    EXPECT_EQ(device->open, 0);
}

TEST_F(EmulatedPad, EnumerationSkipsProduct1001AndOtherVendors) {
    PadModel& excluded = another_pad(2);
    PadModel& keyboard = another_pad(3);
    testbed->plug(excluded, UsbIdentity{0x18FB, 0x1001, "Inkora", "Bootloader"});
    testbed->plug(keyboard, UsbIdentity{0x046D, 0xC31C, "Logitech", "Keyboard"});
    EXPECT_EQ(list(), nullptr);
    const std::string node = testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(node, device->path);
    EXPECT_EQ(device->next, nullptr);
}

TEST_F(EmulatedPad, NodeWithoutUsbParentFailsTheWholeEnumeration) {
    testbed->plug(pad);
    PadModel& bluetooth = another_pad(2);
    testbed->plug_without_usb_parent(bluetooth);
    inkora_device* head = reinterpret_cast<inkora_device*>(0x1);
    EXPECT_EQ(inkora_real_list_devices(&inkora_real_driver, &head), INKORA_CODE_ERROR);
    EXPECT_EQ(head, reinterpret_cast<inkora_device*>(0x1)); // left untouched
    EXPECT_EQ(std::string(inkora_get_last_error()).rfind("Problem getting parent device of HID child (", 0), 0u);
    EXPECT_EQ(std::string(inkora_get_last_error()).back(), '\n');
}

TEST_F(EmulatedPad, MissingUsbStringsGiveEmptyTexts) {
    testbed->plug(pad, UsbIdentity{0x18FB, 0x0200, nullptr, nullptr});
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(device->model, "");
    EXPECT_STREQ(device->manufacturer, "");
    EXPECT_EQ(device->product_id, 0x0200);
}

TEST_F(EmulatedPad, OpenBuildsTheReportMapAndRefusesUndeclaredIds) {
    testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(inkora_real_open_device(device), INKORA_CODE_SUCCESS) << inkora_get_last_error();
    for (uint32_t id = 0; id < INKORA_HID_REPORT_MAP_SIZE; ++id)
        EXPECT_EQ(device->parameters.hid_report_map[id] != 0, PadModel::declares(static_cast<uint8_t>(id))) << id;

    std::array<uint8_t, 9> version{22};
    ASSERT_EQ(inkora_real_hid_get_feature_report(device, version.data(), version.size()), INKORA_CODE_SUCCESS);
    EXPECT_EQ(version, (std::array<uint8_t, 9>{0x16, 1, 2, 3, 4, 5, 6, 0x34, 0x12}));

    std::array<uint8_t, 2> run_mode{10, 0};
    ASSERT_EQ(inkora_real_hid_set_feature_report(device, run_mode.data(), run_mode.size()), INKORA_CODE_SUCCESS);
    ASSERT_EQ(pad.written().size(), 1u);
    EXPECT_EQ(pad.written()[0], (Bytes{10, 0}));

    const uint64_t gets = pad.feature_gets();
    for (const uint8_t id : {uint8_t{99}, uint8_t{255}}) {
        std::array<uint8_t, 4> report{id};
        EXPECT_EQ(inkora_real_hid_get_feature_report(device, report.data(), report.size()), INKORA_CODE_ERROR);
        EXPECT_EQ(std::string(inkora_get_last_error()),
                  "Report id " + std::to_string(id) + " isn't supported by this device.\n");
        EXPECT_EQ(inkora_real_hid_set_feature_report(device, report.data(), report.size()), INKORA_CODE_ERROR);
    }
    EXPECT_EQ(pad.feature_gets(), gets); // no ioctl reached the pad
    EXPECT_EQ(pad.written().size(), 1u);
    EXPECT_EQ(inkora_real_close_device(device), INKORA_CODE_SUCCESS);
}

std::mutex received_mutex;
std::vector<std::pair<uint8_t, Bytes>> received;

void record_input(inkora_device*, inkora_input_report* report, uint8_t type, const uint8_t* raw, uint32_t length) {
    const std::lock_guard lock(received_mutex);
    EXPECT_EQ(type, report->type.report_id);
    received.emplace_back(type, Bytes(raw, raw + length));
}

TEST_F(EmulatedPad, OpenedPadDeliversItsReportsToTheCallbacks) {
    testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS) << inkora_get_last_error();
    EXPECT_EQ(device->display_info.region_count, 5);
    ASSERT_NE(device->uuid, nullptr);
    EXPECT_STREQ(device->regions[3].button.caption, "Cancel");
    received.clear();
    inkora_register_input_callback(device, record_input);

    const Bytes coordinate{1, 0x11, 0x10, 0x00, 0x20, 0x00};
    pad.queue_input(coordinate);
    const Bytes unknown{0x42, 1, 2};
    pad.queue_input(unknown);
    const Bytes in_button{2, 0x01, 250, 0, 170, 0, 5};
    pad.queue_input(in_button);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].first, 1);
    EXPECT_EQ(received[0].second, coordinate);
    EXPECT_EQ(received[1].first, 250); // the raw bytes still start with 2
    EXPECT_EQ(received[1].second, in_button);
}

TEST_F(EmulatedPad, ReadCycleTimesOutAfterASecondWithoutInput) {
    testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    received.clear();
    inkora_register_input_callback(device, record_input);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(received.empty());
}

TEST_F(EmulatedPad, UnplugMakesTheReadFailAndClosesTheDevice) {
    const std::string node = testbed->plug(pad);
    inkora_device* device = list();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    testbed->unplug(node);
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_ERROR);
    EXPECT_EQ(device->open, 0);
    EXPECT_EQ(device->regions, nullptr);
    EXPECT_STREQ(inkora_get_last_error(), "Problem reading from the device (5): Input/output error\n");
    std::array<uint8_t, 9> version{22};
    EXPECT_EQ(inkora_real_hid_get_feature_report(device, version.data(), version.size()), INKORA_CODE_ERROR);
}

// A reading thread reads while this thread sends feature reports, then closes
// the device, then the pad is unplugged; repeated with a fresh pad each time.
TEST_F(EmulatedPad, ReadingFeatureRequestsCloseAndUnplugAcrossThreads) {
    for (int round = 0; round < 12; ++round) {
        PadModel& model = another_pad(static_cast<uint32_t>(round + 1));
        const std::string node = testbed->plug(model);
        inkora_device* device = nullptr;
        for (inkora_device* d = list(); d != nullptr; d = d->next)
            if (node == d->path)
                device = d;
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS) << inkora_get_last_error();
        inkora_register_input_callback(device, record_input);
        std::thread reader([device] {
            while (inkora_device_is_open(device) == 1)
                if (inkora_device_read(device) != INKORA_CODE_SUCCESS)
                    break;
        });
        std::array<uint8_t, 67> pen{253, 100, 1, 0, 0, 0, 0x11, 10, 0, 20, 0};
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(inkora_hid_set_feature_report(device, pen.data(), pen.size()), INKORA_CODE_SUCCESS);
            EXPECT_EQ(inkora_get_version(device).report_id, 22);
        }
        if (round % 2 == 0) {
            inkora_close_device(device);
            testbed->unplug(node);
        } else {
            testbed->unplug(node); // the reader's failing read closes the device
        }
        reader.join();
        EXPECT_EQ(device->open, 0);
    }
    const std::lock_guard lock(received_mutex);
    received.clear();
}

struct HotplugLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events; // "<callback>:<type>:<path>"
};
HotplugLog hotplug_log;

void log_event(const char* who, inkora_hotplug_type type, const char* path) {
    const std::lock_guard lock(hotplug_log.mutex);
    hotplug_log.events.push_back(std::string(who) + ":" + std::to_string(type) + ":" + path);
    hotplug_log.changed.notify_all();
}
void first_hotplug(inkora_hotplug_type type, const char* path) { log_event("first", type, path); }
void second_hotplug(inkora_hotplug_type type, const char* path) { log_event("second", type, path); }

bool wait_for_events(size_t count) {
    std::unique_lock lock(hotplug_log.mutex);
    return hotplug_log.changed.wait_for(lock, std::chrono::seconds(10),
                                        [count] { return hotplug_log.events.size() >= count; });
}

std::mutex info_mutex;
std::vector<std::string> info_lines; // guarded by info_mutex

void capture_info(inkora_debug_handler*, inkora_debug_message* message) {
    if (message->level != INKORA_DEBUG_LEVEL_INFO)
        return;
    const std::lock_guard lock(info_mutex);
    info_lines.emplace_back(message->message);
}

TEST_F(EmulatedPad, HotplugReachesTwoCallbacksInOrderAndStopsWithoutAnEvent) {
    unsetenv("INKORA_SIMULATED_PADS");
    setenv("INKORA_DEBUG", "1", 1);
    setenv("INKORA_DEBUG_HANDLERS", "none", 1);
    inkora_debug_init("test");
    inkora_debug_handler capture;
    std::memset(&capture, 0, sizeof capture);
    capture.publish = capture_info;
    capture.level = INKORA_DEBUG_LEVEL_ALL;
    inkora_debug_add_handler(&capture);
    inkora_init();
    ASSERT_EQ(inkora_real_thread_running(), 1);
    {
        const std::lock_guard lock(hotplug_log.mutex);
        hotplug_log.events.clear();
    }
    inkora_register_hotplug_callback(first_hotplug);
    inkora_register_hotplug_callback(second_hotplug);
    const std::string node = testbed->plug(pad);
    ASSERT_TRUE(wait_for_events(2));
    testbed->unplug(node);
    ASSERT_TRUE(wait_for_events(4));
    {
        const std::lock_guard lock(hotplug_log.mutex);
        // The usb, interface and hid events of the same plug announce nothing.
        EXPECT_EQ(hotplug_log.events, (std::vector<std::string>{"first:0:" + node, "second:0:" + node,
                                                                 "first:1:" + node, "second:1:" + node}));
    }
    inkora_unregister_hotplug_callback(first_hotplug);
    const std::string second_node = testbed->plug(another_pad(2));
    ASSERT_TRUE(wait_for_events(5));
    {
        const std::lock_guard lock(hotplug_log.mutex);
        EXPECT_EQ(hotplug_log.events.back(), "second:0:" + second_node);
    }
    {
        const std::lock_guard lock(info_mutex);
        const std::string added = "Detected hotplug event: path: " + node + ", type: add, subsystem: hidraw";
        const std::string removed = "Detected hotplug event: path: " + node + ", type: remove, subsystem: hidraw";
        EXPECT_NE(std::find(info_lines.begin(), info_lines.end(), added), info_lines.end());
        EXPECT_NE(std::find(info_lines.begin(), info_lines.end(), removed), info_lines.end());
    }
    // Stopping wakes the monitor: no device event is needed for it to end.
    inkora_real_driver_destroy(&inkora_real_driver);
    EXPECT_EQ(inkora_real_thread_running(), 0);
    inkora_real_thread_wait();
    inkora_destroy(); // shuts the log down too
    unsetenv("INKORA_DEBUG");
    unsetenv("INKORA_DEBUG_HANDLERS");
}

#else

TEST(EmulatedPad, Skipped) { GTEST_SKIP() << "built without umockdev: the emulated hidraw tests are skipped"; }

#endif

} // namespace
