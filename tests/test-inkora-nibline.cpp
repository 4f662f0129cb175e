// The device library's public operations: lifecycle and driver list, input
// parsing with the button logic, the feature reports read at open, open,
// close, read cycles and callbacks, against the pad model (simulated driver)
// and against a small scripted driver where a pad must misbehave.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <ostream>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "inkora-debug.h"
#include "inkora-list.h"
#include "inkora-nibline-linux.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"
#include "inkora-graphics-enhanced-fonts.h"

extern "C" size_t inkora_nibline_c_sizes(size_t index);

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PublicHeaders, RecordsHaveTheSameLayoutInC) {
    const std::array<size_t, 8> sizes{sizeof(inkora_device),
                                      sizeof(inkora_device_driver),
                                      sizeof(inkora_input_report),
                                      sizeof(inkora_device_region_info),
                                      sizeof(inkora_hid_feature_device_status),
                                      offsetof(inkora_device, parameters),
                                      offsetof(inkora_device_driver, input_report),
                                      offsetof(inkora_device_os_params, hid_report_map)};
    for (size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(inkora_nibline_c_sizes(i), sizes[i]) << i;
}

// ---------------------------------------------------------------------------
// Byte order

TEST(ByteOrder, LittleEndianHelpers) {
    std::array<uint8_t, 8> buffer{0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
    EXPECT_EQ(get2(buffer.data(), 0), 0x1234);
    EXPECT_EQ(get2(buffer.data(), 2), -1);
    EXPECT_EQ(get4(buffer.data(), 2), -1); // sign-widened
    put2(buffer.data(), 4, 0xBEEF);
    EXPECT_EQ(buffer[4], 0xEF);
    EXPECT_EQ(buffer[5], 0xBE);
    put4(buffer.data(), 0, 0x1122334455ull); // bits 0-31 only
    EXPECT_EQ((Bytes{buffer.begin(), buffer.begin() + 4}), (Bytes{0x55, 0x44, 0x33, 0x22}));
    EXPECT_EQ(get4(buffer.data(), 0), 0x22334455);
}

// ---------------------------------------------------------------------------
// Input parsing

// A device record with a region table: region 1 container, 2 line, 3 and 4 buttons.
struct ParsedDevice {
    inkora_device device{};
    std::array<inkora_device_region_info, 4> regions{};
    ParsedDevice() {
        std::memset(&device, 0, sizeof device);
        std::memset(regions.data(), 0, sizeof regions);
        const std::array<inkora_region_type, 4> types{INKORA_REGION_TYPE_CONTAINER, INKORA_REGION_TYPE_LINE,
                                                      INKORA_REGION_TYPE_BUTTON, INKORA_REGION_TYPE_BUTTON};
        for (size_t i = 0; i < regions.size(); ++i) {
            regions[i].common.region_number = static_cast<uint8_t>(i + 1);
            regions[i].common.region_type = types[i];
        }
        device.regions = regions.data();
        device.display_info.region_count = 4;
    }
    ~ParsedDevice() { inkora_forget_device_lock(&device); }
};

struct Parsed {
    inkora_input_report* report;
    explicit Parsed(inkora_input_report* r) : report(r) {}
    ~Parsed() { inkora_free_input_report(report); }
};

Parsed parse(inkora_device* device, const Bytes& bytes) {
    return Parsed(inkora_parse_input_report(device, bytes.data(), static_cast<uint32_t>(bytes.size())));
}

TEST(InputParsing, CoordinateSampleBits) {
    Parsed down = parse(nullptr, {0x01, 0x01, 0x10, 0x00, 0x20, 0x00});
    ASSERT_NE(down.report, nullptr);
    EXPECT_EQ(down.report->coordinate.report_id, 1);
    EXPECT_EQ(down.report->coordinate.sample_info.common.down, 1);
    EXPECT_EQ(down.report->coordinate.sample_info.common.data_source, 0);
    EXPECT_EQ(down.report->coordinate.x, 16);
    EXPECT_EQ(down.report->coordinate.y, 32);
    Parsed source = parse(nullptr, {0x01, 0x11, 0x10, 0x00, 0x20, 0x00, 0x99});
    ASSERT_NE(source.report, nullptr);
    EXPECT_EQ(source.report->coordinate.sample_info.common.data_source, 0x10);
}

struct BadReport {
    Bytes bytes;
    const char* error;
};

void PrintTo(const BadReport& c, std::ostream* out) { *out << '"' << c.error << '"'; }

class InputParsingFailure : public testing::TestWithParam<BadReport> {};

TEST_P(InputParsingFailure, GivesNoRecordAndTheText) {
    inkora_report_error_internal("unchanged");
    Parsed parsed = parse(nullptr, GetParam().bytes);
    EXPECT_EQ(parsed.report, nullptr);
    EXPECT_STREQ(inkora_get_last_error(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InputParsingFailure,
    testing::Values(BadReport{{}, "Buffer passed into inkora_parse_input_report was null or empty."},
                    BadReport{{1, 1, 0, 0, 0}, "Buffer was too small to be an input coordinate buffer."},
                    BadReport{{2, 1, 0, 0, 0, 0}, "Buffer was too small to be an extended input coordinate buffer."},
                    BadReport{Bytes(10, 3), "Buffer was too small to be an adc value buffer."},
                    BadReport{[] { Bytes b(230, 0); b[0] = 12; return b; }(),
                              "Buffer was too small to be a card swipe buffer."},
                    BadReport{[] { Bytes b(21, 0); b[0] = 254; return b; }(),
                              "Buffer was too small to be a debug coordinate buffer."},
                    BadReport{{7, 0, 0, 0, 0, 0, 0}, "Unknown input report in buffer."},
                    BadReport{{250, 0, 0, 0, 0, 0, 0}, "Unknown input report in buffer."}));

TEST(InputParsing, NullBufferFails) {
    EXPECT_EQ(inkora_parse_input_report(nullptr, nullptr, 6), nullptr);
    EXPECT_STREQ(inkora_get_last_error(), "Buffer passed into inkora_parse_input_report was null or empty.");
}

// One step of a button sequence: the report's sample byte and region, and
// the expected report id, region entry (0 = none) and state afterwards.
struct ButtonStep {
    uint8_t sample;
    uint8_t region;
    uint8_t expected_id;
    uint8_t expected_entry;
    uint8_t button_down_after;
};

struct ButtonSequence {
    const char* name;
    std::vector<ButtonStep> steps;
};

void PrintTo(const ButtonSequence& c, std::ostream* out) { *out << c.name; }

class ButtonLogic : public testing::TestWithParam<ButtonSequence> {};

TEST_P(ButtonLogic, FollowsTheSequence) {
    ParsedDevice pad;
    for (const ButtonStep& step : GetParam().steps) {
        Parsed parsed = parse(&pad.device, {2, step.sample, 0x34, 0x01, 0x78, 0x00, step.region});
        ASSERT_NE(parsed.report, nullptr);
        EXPECT_EQ(parsed.report->type.report_id, step.expected_id) << "region " << int(step.region);
        EXPECT_EQ(pad.device.button_down, step.button_down_after);
        if (step.expected_id == 2) {
            EXPECT_EQ(parsed.report->extended_coordinate.region, step.region);
            EXPECT_EQ(parsed.report->extended_coordinate.x, 0x134);
            EXPECT_EQ(parsed.report->extended_coordinate.sample_info.common.down, step.sample & 1);
        } else {
            EXPECT_EQ(parsed.report->button_down.x, 0x134);
            EXPECT_EQ(parsed.report->button_down.y, 0x78);
            const inkora_device_region_info* expected =
                step.expected_entry != 0 ? &pad.regions[step.expected_entry - 1] : nullptr;
            EXPECT_EQ(parsed.report->button_down.region, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ButtonLogic,
    testing::Values(
        ButtonSequence{"DownMovePress", {{1, 3, 250, 3, 1}, {1, 3, 251, 3, 1}, {0, 3, 253, 3, 0}}},
        ButtonSequence{"FirstReportIsDownWhateverTheSample", {{0, 4, 250, 4, 1}}},
        ButtonSequence{"LeavingTheButtonsIsUpOnTheFirstButton", {{1, 3, 250, 3, 1}, {1, 0, 252, 3, 0}}},
        ButtonSequence{"MovingIntoAnotherButtonGoesOnWithIt", {{1, 3, 250, 3, 1}, {1, 4, 251, 4, 1}, {0, 4, 253, 4, 0}}},
        ButtonSequence{"NoButtonRegionsArePlain", {{1, 0, 2, 0, 0}, {1, 1, 2, 0, 0}, {1, 2, 2, 0, 0}, {1, 5, 2, 0, 0}}},
        ButtonSequence{"UpIntoANonButtonRegion", {{1, 4, 250, 4, 1}, {1, 1, 252, 4, 0}, {1, 1, 2, 0, 0}}}),
    [](const testing::TestParamInfo<ButtonSequence>& info) { return std::string(info.param.name); });

TEST(InputParsing, ButtonStateIsKeptInTheDevice) {
    ParsedDevice pad;
    Parsed first = parse(&pad.device, {2, 1, 0, 0, 0, 0, 3});
    EXPECT_EQ(pad.device.last_button, 3);
}

TEST(InputParsing, ExtendedCoordinateWithoutRegionTableIsPlain) {
    ParsedDevice pad;
    pad.device.regions = nullptr; // a record that is not open
    pad.device.display_info.region_count = 5;
    Parsed parsed = parse(&pad.device, {2, 1, 5, 0, 6, 0, 3});
    ASSERT_NE(parsed.report, nullptr);
    EXPECT_EQ(parsed.report->extended_coordinate.report_id, 2);
    EXPECT_EQ(parsed.report->extended_coordinate.region, 3);
    Parsed without_device = parse(nullptr, {2, 1, 5, 0, 6, 0, 3});
    ASSERT_NE(without_device.report, nullptr);
    EXPECT_EQ(without_device.report->extended_coordinate.report_id, 2);
}

TEST(InputParsing, ButtonUpWhoseButtonIsGoneHasNoRegion) {
    ParsedDevice pad;
    pad.device.button_down = 1;
    pad.device.last_button = 9; // beyond the table, as after a reopen with fewer regions
    Parsed parsed = parse(&pad.device, {2, 1, 0, 0, 0, 0, 0});
    ASSERT_NE(parsed.report, nullptr);
    EXPECT_EQ(parsed.report->button_up.report_id, 252);
    EXPECT_EQ(parsed.report->button_up.region, nullptr);
}

TEST(InputParsing, AdcValuesByDataType) {
    Parsed scan = parse(nullptr, {3, 2, 0x11, 1, 0, 2, 0, 3, 0, 4, 0});
    ASSERT_NE(scan.report, nullptr);
    EXPECT_EQ(scan.report->adc_values.data_type, INKORA_ADC_DATA_TYPE_SCAN);
    EXPECT_EQ(scan.report->adc_values.adc_data.scan_values.sample_info.common.down, 1);
    EXPECT_EQ(scan.report->adc_values.adc_data.scan_values.x_max, 1);
    EXPECT_EQ(scan.report->adc_values.adc_data.scan_values.y_min, 4);
    Parsed channel = parse(nullptr, {3, 3, 7, 1, 1, 2, 0, 3, 0, 4, 0});
    ASSERT_NE(channel.report, nullptr);
    EXPECT_EQ(channel.report->adc_values.adc_data.channel_values.channel_number, 7);
    EXPECT_EQ(channel.report->adc_values.adc_data.channel_values.sample1, 0x101);
    EXPECT_EQ(channel.report->adc_values.adc_data.channel_values.sample4, 4);
    Parsed other = parse(nullptr, {3, 5, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    ASSERT_NE(other.report, nullptr);
    inkora_input_report expected;
    std::memset(&expected, 0, sizeof expected);
    expected.adc_values.report_id = 3;
    expected.adc_values.data_type = static_cast<inkora_adc_data_type>(5);
    EXPECT_EQ(std::memcmp(other.report, &expected, sizeof expected), 0);
}

TEST(InputParsing, CardSwipeOfExactlyTheMinimumLength) {
    Bytes bytes(231, 0);
    bytes[0] = 12;
    bytes[1] = 1;
    bytes[2] = 0;
    bytes[3] = 16;
    bytes[4] = 17;
    for (size_t i = 5; i < 231; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    Parsed parsed = parse(nullptr, bytes);
    ASSERT_NE(parsed.report, nullptr);
    const auto& swipe = parsed.report->card_swipe;
    EXPECT_EQ(swipe.card_format, INKORA_CARDSWIPE_TYPE_FINANCIAL);
    EXPECT_EQ(swipe.track2_status, INKORA_CARDSWIPE_STATUS_UNKNOWN_FORMAT);
    EXPECT_EQ(swipe.track3_status, INKORA_CARDSWIPE_STATUS_CORRUPT);
    EXPECT_EQ(swipe.track1[0], 5);
    EXPECT_EQ(swipe.track1[78], 83);
    EXPECT_EQ(swipe.track2[0], 84);
    EXPECT_EQ(swipe.track3[0], 124);
    EXPECT_EQ(swipe.track3[106], 230);
}

TEST(InputParsing, DebugCoordinateIgnoresByteOne) {
    Bytes bytes{254, 0, 0x01, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 4};
    Parsed first = parse(nullptr, bytes);
    bytes[1] = 0xAA;
    Parsed second = parse(nullptr, bytes);
    ASSERT_NE(first.report, nullptr);
    ASSERT_NE(second.report, nullptr);
    EXPECT_EQ(std::memcmp(first.report, second.report, sizeof(inkora_input_report)), 0);
    EXPECT_EQ(first.report->debug_coordinate.offset, 1);
    EXPECT_EQ(first.report->debug_coordinate.y_mapped, 9);
    EXPECT_EQ(first.report->debug_coordinate.region, 4);
    EXPECT_EQ(first.report->debug_coordinate.sample_info.common.down, 1);
}

TEST(InputParsing, ExpectedLengths) {
    const std::array<std::pair<uint8_t, uint32_t>, 6> table{
        {{1, 6}, {2, 7}, {3, 11}, {12, 231}, {254, 22}, {7, 0}}};
    for (const auto& [id, length] : table) {
        const uint8_t byte = id;
        EXPECT_EQ(inkora_get_input_report_expected_length(&byte), length) << int(id);
    }
    EXPECT_STREQ(inkora_get_last_error(), "Unknown input report in buffer.");
    EXPECT_EQ(inkora_get_input_report_expected_length(nullptr), 0u);
}

// ---------------------------------------------------------------------------
// Region records

Bytes region_record(uint8_t caption_length) {
    Bytes record(caption_length + 29u, 0);
    record[0] = 3;    // number
    record[1] = 1;    // button
    record[2] = 0x05; // accept touch, visible
    record[8] = 0x10; // x1 = 16
    record[16] = 0xFF; // foreground red, green, blue, alpha
    record[17] = 0x00;
    record[18] = 0x80;
    record[19] = 0x10;
    record[24] = 1;    // parent
    record[25] = 0x06; // highlight, clear
    for (uint32_t i = 0; i < caption_length; ++i)
        record[28 + i] = static_cast<uint8_t>('a' + i % 26);
    return record;
}

TEST(Regions, ButtonRecordFields) {
    Bytes report{110};
    const Bytes record = region_record(16);
    report.insert(report.end(), record.begin(), record.end());
    inkora_device_region_info region;
    inkora_parse_regions(report.data(), &region, 1, 16);
    EXPECT_EQ(region.common.region_number, 3);
    EXPECT_EQ(region.common.region_type, INKORA_REGION_TYPE_BUTTON);
    EXPECT_EQ(region.common.accept_touch, 1);
    EXPECT_EQ(region.common.visible, 1);
    EXPECT_EQ(region.common.decode, 0);
    EXPECT_EQ(region.common.x1, 16);
    EXPECT_EQ(region.common.color_foreground.red, 255);
    EXPECT_EQ(region.common.color_foreground.green, 0);
    EXPECT_EQ(region.common.color_foreground.blue, 128);
    EXPECT_EQ(region.common.color_foreground.alpha, 16);
    EXPECT_EQ(region.button.parent, 1);
    EXPECT_EQ(region.button.enable, 0);
    EXPECT_EQ(region.button.highlight_on_select, 1);
    EXPECT_EQ(region.button.clear_on_select, 1);
    EXPECT_STREQ(region.button.caption, "abcdefghijklmnop");
}

TEST(Regions, CaptionLongerThan99IsCutAndTerminated) {
    Bytes report{110};
    const Bytes record = region_record(120);
    report.insert(report.end(), record.begin(), record.end());
    inkora_device_region_info region;
    std::memset(&region, 0x55, sizeof region);
    inkora_parse_regions(report.data(), &region, 1, 120);
    EXPECT_EQ(std::strlen(region.button.caption), 99u);
    EXPECT_EQ(region.button.caption[99], '\0');
}

// ---------------------------------------------------------------------------
// A scripted driver: a pad whose answers the test decides.

struct Script {
    uint8_t status_byte1 = 0;     // is_initializing / idle
    uint8_t status_byte3 = 0;     // interlock flags
    bool status_in_map = true;
    bool display_fails = false;
    int status_reads = 0;
    int opens = 0;
    int closes = 0;
    int gets = 0;
};
Script script;

inkora_error_code scripted_open(inkora_device* device) {
    ++script.opens;
    std::memset(device->parameters.hid_report_map, 1, sizeof device->parameters.hid_report_map);
    return INKORA_CODE_SUCCESS;
}
inkora_error_code scripted_close(inkora_device*) {
    ++script.closes;
    return INKORA_CODE_SUCCESS;
}
inkora_error_code scripted_get(inkora_device*, uint8_t* bytes, uint32_t length) {
    ++script.gets;
    const uint8_t id = bytes[0];
    std::memset(bytes + 1, 0, length - 1);
    switch (id) {
    case 13:
        ++script.status_reads;
        if (!script.status_in_map) {
            inkora_report_error_internal("Report id %u isn't supported by this device.\n", 13u);
            return INKORA_CODE_ERROR;
        }
        bytes[1] = script.status_byte1;
        bytes[3] = script.status_byte3;
        return INKORA_CODE_SUCCESS;
    case 100:
        if (script.display_fails) {
            inkora_report_error_internal("Report id %u isn't supported by this device.\n", 100u);
            return INKORA_CODE_ERROR;
        }
        bytes[8] = 0; // no regions
        return INKORA_CODE_SUCCESS;
    default:
        return INKORA_CODE_SUCCESS; // version, table and regions: all zero but present
    }
}
inkora_error_code scripted_set(inkora_device*, uint8_t*, uint32_t) { return INKORA_CODE_SUCCESS; }
inkora_error_code scripted_read(inkora_device*) { return INKORA_CODE_SUCCESS; }
inkora_error_code scripted_list(inkora_device_driver* driver, inkora_device** head) {
    inkora_device* first = nullptr;
    for (int i = 0; i < 2; ++i) {
        auto* device = static_cast<inkora_device*>(std::calloc(1, sizeof(inkora_device)));
        device->driver = driver;
        device->path = static_cast<char*>(std::calloc(16, 1));
        std::snprintf(device->path, 16, "/scripted/%d", 2 - i);
        device->next = first;
        first = device;
    }
    *head = first;
    return INKORA_CODE_SUCCESS;
}
inkora_error_code scripted_init(void) { return INKORA_CODE_SUCCESS; }
inkora_error_code scripted_destroy(inkora_device_driver*) { return INKORA_CODE_SUCCESS; }
const char* scripted_name(void) { return "SCRIPTED"; }

inkora_device_driver make_scripted_driver() {
    inkora_device_driver driver;
    std::memset(&driver, 0, sizeof driver);
    driver.driver_init = scripted_init;
    driver.driver_destroy = scripted_destroy;
    driver.open_device = scripted_open;
    driver.close_device = scripted_close;
    driver.list_devices = scripted_list;
    driver.device_read = scripted_read;
    driver.set_output_report = scripted_set;
    driver.set_feature_report = scripted_set;
    driver.get_feature_report = scripted_get;
    driver.get_name = scripted_name;
    driver.free_device = inkora_real_free_device;
    return driver;
}

class ScriptedPad : public testing::Test {
protected:
    void SetUp() override {
        script = Script{};
        driver = make_scripted_driver();
        std::memset(&device, 0, sizeof device);
        device.driver = &driver;
        inkora_set_startup_poll_interval_ms(0);
        inkora_set_legacy_firmware(0, 0);
    }
    void TearDown() override {
        if (inkora_device_is_open(&device) == 1)
            inkora_close_device(&device);
        inkora_free_regions(device.regions);
        inkora_free_device_uuid(device.uuid);
        inkora_list_free(device.input_callbacks);
        inkora_forget_device_lock(&device);
        inkora_set_startup_poll_interval_ms(100);
        inkora_set_legacy_firmware(0, 0);
    }
    inkora_device_driver driver{};
    inkora_device device{};
};

struct StartupCase {
    const char* name;
    uint8_t status_byte1;
    bool status_in_map;
    int expected_status_reads; // of the wait, plus one per interlock wait (table, regions)
};

void PrintTo(const StartupCase& c, std::ostream* out) { *out << c.name; }

class StartupWait : public ScriptedPad, public testing::WithParamInterface<StartupCase> {};

TEST_P(StartupWait, PollsTheStatusUntilThePadHasStarted) {
    script.status_byte1 = GetParam().status_byte1;
    script.status_in_map = GetParam().status_in_map;
    ASSERT_EQ(inkora_open_device(&device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(script.status_reads, GetParam().expected_status_reads);
    EXPECT_EQ(device.open, 1);
    inkora_lock_open_devices();
    EXPECT_NE(inkora_list_find(inkora_get_open_devices(), &device), nullptr);
    inkora_unlock_open_devices();
}

INSTANTIATE_TEST_SUITE_P(Table, StartupWait,
                         testing::Values(StartupCase{"StartedAtOnceIsOnePoll", 0x00, true, 1 + 2},
                                         StartupCase{"IdleFlagAloneIsStarted", 0x10, true, 1 + 2},
                                         StartupCase{"KeepsStartingEndsAfter100Polls", 0x01, true, 100 + 2},
                                         StartupCase{"UnreadableStatusIsNoWait", 0x01, false, 1 + 2}),
                         [](const testing::TestParamInfo<StartupCase>& info) { return std::string(info.param.name); });

TEST_F(ScriptedPad, FailedQueryClosesTheNodeAgain) {
    script.display_fails = true;
    EXPECT_EQ(inkora_open_device(&device), INKORA_CODE_ERROR);
    EXPECT_EQ(device.open, 0);
    EXPECT_EQ(script.opens, 1);
    EXPECT_EQ(script.closes, 1);
    EXPECT_STREQ(inkora_get_last_error(), "Report id 100 isn't supported by this device.\n");
    inkora_lock_open_devices();
    EXPECT_EQ(inkora_list_find(inkora_get_open_devices(), &device), nullptr);
    inkora_unlock_open_devices();
}

struct InterlockCase {
    uint8_t status_byte3;
    int32_t requested;
    uint8_t expected;
    int expected_reads;
};

void PrintTo(const InterlockCase& c, std::ostream* out) {
    *out << "status " << int(c.status_byte3) << ", requested " << c.requested;
}

class Interlock : public ScriptedPad, public testing::WithParamInterface<InterlockCase> {};

TEST_P(Interlock, PollsUntilFreeOrOutOfTries) {
    script.status_byte3 = GetParam().status_byte3;
    EXPECT_EQ(wait_for_interlock(&device, 5, GetParam().requested), GetParam().expected);
    EXPECT_EQ(script.status_reads, GetParam().expected_reads);
}

INSTANTIATE_TEST_SUITE_P(Table, Interlock,
                         testing::Values(InterlockCase{0x10, INTERLOCK_REGION, 1, 1}, // only display locked
                                         InterlockCase{0x24, INTERLOCK_REGION, 0, 5},
                                         InterlockCase{0x24, INTERLOCK_CALIBRATE | INTERLOCK_SCREEN, 0, 5},
                                         InterlockCase{0x00, 63, 1, 1}));

TEST_F(ScriptedPad, InterlockTimeOutText) {
    script.status_byte3 = 0x24;
    EXPECT_EQ(wait_for_interlock(&device, 3, INTERLOCK_REGION), 0);
    EXPECT_STREQ(inkora_get_last_error(), "Problem waiting for firmware interlock: device didn't respond in time, "
                                          "sleep: 3, requested interlock: 4, Returned status: 36");
    EXPECT_EQ(wait_for_interlock(&device, 0, INTERLOCK_REGION), 0);
    EXPECT_STREQ(inkora_get_last_error(), "Problem waiting for firmware interlock: device didn't respond in time, "
                                          "sleep: 0, requested interlock: 4, Returned status: 0");
}

TEST_F(ScriptedPad, LegacyFirmwareReadsNoStatus) {
    script.status_byte3 = 0x3F;
    inkora_set_legacy_firmware(0, 1);
    EXPECT_EQ(wait_for_interlock(&device, 100, 63), 1);
    EXPECT_EQ(script.status_reads, 0);
}

TEST_F(ScriptedPad, StatusFlags) {
    script.status_byte1 = 0x11;
    script.status_byte3 = 0x24;
    const inkora_hid_feature_device_status status = inkora_get_device_status(&device);
    EXPECT_EQ(status.report_id, 13);
    EXPECT_EQ(status.is_initializing, 1);
    EXPECT_EQ(status.is_idle, 1);
    EXPECT_EQ(status.region_commands_locked, 1);
    EXPECT_EQ(status.calibration_commands_locked, 1);
    EXPECT_EQ(status.display_commands_locked, 0);
    script.status_in_map = false;
    const inkora_hid_feature_device_status failed = inkora_get_device_status(&device);
    const inkora_hid_feature_device_status zero{};
    EXPECT_EQ(std::memcmp(&failed, &zero, sizeof zero), 0);
}

// ---------------------------------------------------------------------------
// The library with the simulated driver: the pad model behind the tables.

class Library : public testing::Test {
protected:
    void SetUp() override {
        setenv("INKORA_SIMULATED_PADS", "2", 1);
        inkora_init();
        ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
        for (inkora_device* d = chain; d != nullptr; d = d->next)
            if (d->driver == &inkora_simulated_driver)
                simulated.push_back(d);
        ASSERT_EQ(simulated.size(), 2u);
    }
    void TearDown() override {
        for (inkora_device* d = chain; d != nullptr; d = d->next)
            if (inkora_device_is_open(d) == 1)
                inkora_close_device(d);
        inkora_free_device_list(chain);
        inkora_destroy();
        unsetenv("INKORA_SIMULATED_PADS");
        inkora_set_startup_poll_interval_ms(100);
    }
    inkora_device* pad(size_t k) { return simulated[k - 1]; }
    inkora_device* chain = nullptr;
    std::vector<inkora_device*> simulated;
};

struct Received {
    inkora_device* device;
    uint8_t type;
    inkora_input_report report;
    Bytes raw;
};
std::vector<Received> received;

void record_input(inkora_device* device, inkora_input_report* report, uint8_t type, const uint8_t* raw,
                  uint32_t length) {
    received.push_back(Received{device, type, *report, Bytes(raw, raw + length)});
}

TEST_F(Library, SimulatedPadsAreListedAfterTheRealOnes) {
    EXPECT_EQ(inkora_get_driver_count(), 2u);
    // The simulated pads end the chain, in pad order.
    inkora_device* last = chain;
    while (last->next != nullptr && last->next->next != nullptr)
        last = last->next;
    EXPECT_EQ(last, pad(1));
    EXPECT_EQ(last->next, pad(2));
    EXPECT_STREQ(pad(1)->path, "/dev/inkora-sim/pad1");
    EXPECT_STREQ(pad(2)->path, "/dev/inkora-sim/pad2");
    EXPECT_EQ(pad(1)->vendor_id, 0x18FB);
    EXPECT_EQ(pad(1)->product_id, 0x0100);
    EXPECT_STREQ(pad(1)->model, "Simulated Pad");
    EXPECT_STREQ(pad(1)->manufacturer, "Inkora");
    EXPECT_EQ(inkora_count_device_list(pad(1)), 2u);
    EXPECT_EQ(inkora_count_device_list(pad(2)), 1u);
    EXPECT_EQ(inkora_count_device_list(nullptr), 0u);
}

TEST_F(Library, OpenWaitsForStartUpAndReadsTheFourQueries) {
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS) << inkora_get_last_error();
    EXPECT_EQ(device->open, 1);
    EXPECT_EQ(device->display_info.report_id, 100);
    EXPECT_EQ(device->display_info.width, 320);
    EXPECT_EQ(device->display_info.height, 192);
    EXPECT_EQ(device->display_info.color_depth, 8);
    EXPECT_EQ(device->display_info.text_width, 30);
    EXPECT_EQ(device->display_info.text_height, 8);
    EXPECT_EQ(device->display_info.region_count, 5);
    EXPECT_EQ(device->display_info.max_caption_length, 16);
    EXPECT_EQ(device->version_info.kernel_version[2], 3);
    EXPECT_EQ(device->version_info.firmware_version[0], 4);
    EXPECT_EQ(device->version_info.asic_signature, 0x1234);
    ASSERT_NE(device->regions, nullptr);
    EXPECT_EQ(device->regions[0].common.region_type, INKORA_REGION_TYPE_CONTAINER);
    EXPECT_EQ(device->regions[0].container.ink_enable, 1);
    EXPECT_EQ(device->regions[1].line.width, 2);
    EXPECT_STREQ(device->regions[2].button.caption, "Clear");
    EXPECT_STREQ(device->regions[4].button.caption, "OK");
    EXPECT_EQ(device->regions[4].common.x1, 214);
    EXPECT_EQ(device->regions[4].common.has_frame, 1);
    EXPECT_EQ(device->regions[4].button.highlight_on_select, 1);
    EXPECT_EQ(device->regions[4].common.color_background.red, 255);

    // The uuid is the MD5 digest of the pad's error-correction table.
    std::array<uint8_t, 2048> table{};
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint8_t>((i + 31) % 256);
    std::array<uint8_t, 16> digest{};
    unsigned int digest_length = 0;
    EVP_Digest(table.data(), table.size(), digest.data(), &digest_length, EVP_md5(), nullptr);
    ASSERT_NE(device->uuid, nullptr);
    EXPECT_EQ(std::memcmp(device->uuid, digest.data(), 16), 0);

    inkora_lock_open_devices();
    EXPECT_NE(inkora_list_find(inkora_get_open_devices(), device), nullptr);
    inkora_unlock_open_devices();

    // Text on the pad is drawn with the built-in default font until the
    // application picks another.
    EXPECT_EQ(device->font, &inkora_default);
}

TEST_F(Library, OpenKeepsAFontTheApplicationChose) {
    inkora_device* device = pad(1);
    device->font = const_cast<inkora_enhanced_font*>(&ubuntu_mono_e_16pt);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS) << inkora_get_last_error();
    EXPECT_EQ(device->font, &ubuntu_mono_e_16pt);
}

TEST_F(Library, EveryPadHasItsOwnUniqueIdentifier) {
    ASSERT_EQ(inkora_open_device(pad(1)), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_open_device(pad(2)), INKORA_CODE_SUCCESS);
    EXPECT_NE(std::memcmp(pad(1)->uuid, pad(2)->uuid, 16), 0);
}

TEST_F(Library, OpeningAnOpenRecordFailsAndLeavesItOpenOnce) {
    inkora_set_startup_poll_interval_ms(1);
    ASSERT_EQ(inkora_open_device(pad(1)), INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_open_device(pad(1)), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Device is already open.");
    EXPECT_EQ(pad(1)->open, 1);
    inkora_lock_open_devices();
    EXPECT_EQ(inkora_list_count(inkora_get_open_devices()), 1u);
    inkora_unlock_open_devices();
    EXPECT_EQ(inkora_open_device(nullptr), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Parameter passed into inkora_open_device was null.");
}

TEST_F(Library, CloseReleasesTheOpenStateAndKeepsTheDisplayInfo) {
    inkora_set_startup_poll_interval_ms(1);
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_close_device(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(device->open, 0);
    EXPECT_EQ(device->regions, nullptr);
    EXPECT_EQ(device->uuid, nullptr);
    EXPECT_EQ(device->input_callbacks, nullptr);
    EXPECT_EQ(device->display_info.width, 320);
    inkora_lock_open_devices();
    EXPECT_EQ(inkora_list_find(inkora_get_open_devices(), device), nullptr);
    inkora_unlock_open_devices();
    EXPECT_EQ(inkora_close_device(device), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Device is already closed.");
    EXPECT_EQ(inkora_close_device(nullptr), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Parameter passed into inkora_close_device was null.");
    // A closed record may be opened again.
    EXPECT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
}

TEST_F(Library, PenSimulationReachesTheCallbacksOfBothPads) {
    inkora_set_startup_poll_interval_ms(1);
    received.clear();
    for (size_t k = 1; k <= 2; ++k) {
        ASSERT_EQ(inkora_open_device(pad(k)), INKORA_CODE_SUCCESS);
        inkora_register_input_callback(pad(k), record_input);
    }
    // Report 253: 1 = 100, 2 coordinate type, 6 pen down, 7-8 x, 9-10 y.
    std::array<uint8_t, 67> pen{};
    pen[0] = 253;
    pen[1] = 100;
    pen[2] = 2;
    pen[6] = 0x11;
    put2(pen.data(), 7, 250); // inside button 5 "OK"
    put2(pen.data(), 9, 170);
    ASSERT_EQ(inkora_hid_set_feature_report(pad(2), pen.data(), pen.size()), INKORA_CODE_SUCCESS);
    pen[2] = 1;
    put2(pen.data(), 7, 40);
    put2(pen.data(), 9, 50);
    ASSERT_EQ(inkora_hid_set_feature_report(pad(1), pen.data(), pen.size()), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_device_read(pad(2)), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_device_read(pad(1)), INKORA_CODE_SUCCESS);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].device, pad(2));
    EXPECT_EQ(received[0].type, 250); // first report inside a button
    EXPECT_EQ(received[0].raw, (Bytes{2, 0x01, 250, 0, 170, 0, 5}));
    EXPECT_EQ(received[0].report.button_down.region, &pad(2)->regions[4]);
    EXPECT_EQ(received[1].device, pad(1));
    EXPECT_EQ(received[1].type, 1);
    EXPECT_EQ(received[1].raw, (Bytes{1, 0x01, 40, 0, 50, 0}));
    EXPECT_EQ(received[1].report.coordinate.x, 40);
}

TEST_F(Library, ReadCycleDeliversOnlyParsableReports) {
    inkora_set_startup_poll_interval_ms(1);
    received.clear();
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    inkora_register_input_callback(device, record_input);
    const Bytes unknown{9, 1, 2, 3};
    inkora_simulated_queue_input_report(device, unknown.data(), unknown.size());
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    EXPECT_TRUE(received.empty());
    EXPECT_STREQ(inkora_get_last_error(), "Unknown input report in buffer.");
}

TEST_F(Library, CallbackRegisteredTwiceIsCalledTwice) {
    inkora_set_startup_poll_interval_ms(1);
    received.clear();
    inkora_device* device = pad(1);
    inkora_register_input_callback(device, record_input); // not open: nothing added
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_list_count(device->input_callbacks), 0u);
    inkora_register_input_callback(device, record_input);
    inkora_register_input_callback(device, record_input);
    const Bytes coordinate{1, 0, 1, 0, 2, 0};
    inkora_simulated_queue_input_report(device, coordinate.data(), coordinate.size());
    ASSERT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(received.size(), 2u);
    inkora_unregister_input_callback(device, record_input);
    EXPECT_EQ(inkora_list_count(device->input_callbacks), 1u);
    received.clear();
    inkora_simulated_queue_input_report(device, coordinate.data(), coordinate.size());
    ASSERT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(Library, UnplugMakesTheReadFailAndClosesTheDevice) {
    inkora_set_startup_poll_interval_ms(1);
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    inkora_simulated_unplug(device);
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_ERROR);
    EXPECT_EQ(device->open, 0);
    EXPECT_EQ(device->regions, nullptr);
    EXPECT_STREQ(inkora_get_last_error(), "Problem reading from the device (19): No such device\n");
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Device is not open.\n");
}

TEST_F(Library, FeatureRequestsForUndeclaredIdsAreRefused) {
    inkora_set_startup_poll_interval_ms(1);
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    const uint32_t written = inkora_simulated_written_report_count(device);
    for (const uint8_t id : {uint8_t{0}, uint8_t{99}, uint8_t{255}}) {
        std::array<uint8_t, 4> report{id, 1, 2, 3};
        EXPECT_EQ(inkora_hid_set_feature_report(device, report.data(), report.size()), INKORA_CODE_ERROR);
        EXPECT_EQ(std::string(inkora_get_last_error()),
                  "Report id " + std::to_string(id) + " isn't supported by this device.\n");
        EXPECT_EQ(inkora_hid_get_feature_report(device, report.data(), report.size()), INKORA_CODE_ERROR);
    }
    EXPECT_EQ(inkora_simulated_written_report_count(device), written);
    // A declared register keeps what was written.
    std::array<uint8_t, 18> pen_parameters{50, 7, 8, 9};
    ASSERT_EQ(inkora_hid_set_feature_report(device, pen_parameters.data(), pen_parameters.size()), INKORA_CODE_SUCCESS);
    std::array<uint8_t, 18> back{50};
    ASSERT_EQ(inkora_hid_get_feature_report(device, back.data(), back.size()), INKORA_CODE_SUCCESS);
    EXPECT_EQ(back, pen_parameters);
    ASSERT_EQ(inkora_simulated_written_report_count(device), written + 1);
    std::array<uint8_t, 18> logged{};
    EXPECT_EQ(inkora_simulated_get_written_report(device, written, logged.data(), logged.size()), 18u);
    EXPECT_EQ(logged, pen_parameters);
}

TEST_F(Library, FreeingAChainTakesItsRecordsOffTheOpenList) {
    inkora_set_startup_poll_interval_ms(1);
    ASSERT_EQ(inkora_open_device(pad(2)), INKORA_CODE_SUCCESS);
    inkora_close_device(pad(2)); // closed before freed, as the caller must
    ASSERT_EQ(inkora_open_device(pad(1)), INKORA_CODE_SUCCESS);
    inkora_close_device(pad(1));
    inkora_free_device_list(chain);
    chain = nullptr;
    inkora_lock_open_devices();
    EXPECT_EQ(inkora_list_count(inkora_get_open_devices()), 0u);
    inkora_unlock_open_devices();
}

TEST_F(Library, UnplugNoticeForAnUnknownPathDoesNothing) {
    inkora_set_startup_poll_interval_ms(1);
    ASSERT_EQ(inkora_open_device(pad(1)), INKORA_CODE_SUCCESS);
    inkora_handle_device_unplug("/dev/hidraw99");
    inkora_handle_device_unplug(pad(1)->path);
    EXPECT_EQ(pad(1)->open, 1); // the notice does not close
}

// A reading thread reads while another thread sends feature reports, then
// closes the device, then the pad is unplugged; the thread sanitizer checks
// the interleavings.
TEST_F(Library, ReadingFeatureRequestsCloseAndUnplugAcrossThreads) {
    inkora_set_startup_poll_interval_ms(0);
    for (int round = 0; round < 40; ++round) {
        inkora_device* device = nullptr;
        ASSERT_EQ(inkora_list_devices(&device), INKORA_CODE_SUCCESS);
        inkora_device* keep = nullptr;
        for (inkora_device* d = device; d != nullptr; d = d->next)
            if (d->driver == &inkora_simulated_driver)
                keep = d;
        ASSERT_NE(keep, nullptr);
        // Unlink the kept record, free the rest.
        for (inkora_device** link = &device; *link != nullptr; link = &(*link)->next) {
            if (*link == keep) {
                *link = keep->next;
                keep->next = nullptr;
                break;
            }
        }
        inkora_free_device_list(device);
        ASSERT_EQ(inkora_open_device(keep), INKORA_CODE_SUCCESS);
        inkora_register_input_callback(keep, record_input);
        std::atomic<int> delivered{0};
        std::thread reader([&] {
            while (inkora_device_is_open(keep) == 1)
                if (inkora_device_read(keep) != INKORA_CODE_SUCCESS)
                    break;
            delivered = 1;
        });
        std::array<uint8_t, 67> pen{253, 100, 1, 0, 0, 0, 0x11, 10, 0, 20, 0};
        for (int i = 0; i < 20; ++i) {
            inkora_hid_set_feature_report(keep, pen.data(), pen.size());
            inkora_hid_feature_version version = inkora_get_version(keep);
            EXPECT_EQ(version.report_id, 22);
        }
        if (round % 2 == 0) {
            inkora_close_device(keep);
            inkora_simulated_unplug(keep);
        } else {
            inkora_simulated_unplug(keep); // the reader's failing read closes it
        }
        reader.join();
        EXPECT_EQ(delivered.load(), 1);
        EXPECT_EQ(keep->open, 0);
        inkora_free_device_list(keep);
        // The next round gets a fresh pad: restart the simulated driver.
        inkora_simulated_driver.driver_destroy(&inkora_simulated_driver);
        inkora_simulated_driver.driver_init();
    }
    received.clear();
}

TEST_F(Library, ClearingThePadErrorAndReadingTheDefaultRegions) {
    inkora_set_startup_poll_interval_ms(1);
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    const uint32_t before = inkora_simulated_written_report_count(device);
    ASSERT_EQ(inkora_clear_last_error(device), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_simulated_written_report_count(device), before + 1);
    Bytes sent(80, 0xEE);
    ASSERT_EQ(inkora_simulated_get_written_report(device, before, sent.data(), sent.size()), 73u);
    sent.resize(73);
    Bytes expected(73, 0);
    expected[0] = 13;
    EXPECT_EQ(sent, expected);

    // Region 5 deleted on the pad: the current table shows it, the defaults do not.
    std::array<uint8_t, 2> remove{114, 5};
    ASSERT_EQ(inkora_hid_set_feature_report(device, remove.data(), remove.size()), INKORA_CODE_SUCCESS);
    inkora_device_region_info* current = inkora_get_regions(device);
    inkora_device_region_info* defaults = inkora_get_default_regions(device);
    ASSERT_NE(current, nullptr);
    ASSERT_NE(defaults, nullptr);
    EXPECT_EQ(current[4].common.region_type, INKORA_REGION_TYPE_NULL);
    EXPECT_EQ(defaults[4].common.region_type, INKORA_REGION_TYPE_BUTTON);
    EXPECT_STREQ(defaults[4].button.caption, "OK");
    inkora_free_regions(current);
    inkora_free_regions(defaults);
}

TEST_F(Library, InterruptedDeviceIsClosedByItsNextReadCycle) {
    inkora_set_startup_poll_interval_ms(1);
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    const Bytes coordinate{1, 0, 1, 0, 1, 0};
    inkora_simulated_queue_input_report(device, coordinate.data(), coordinate.size());
    device->parameters.interrupted = 1;
    EXPECT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(device->open, 0);
    EXPECT_EQ(device->uuid, nullptr);
}

std::atomic<int> counted_inputs{0};

void count_input(inkora_device*, inkora_input_report*, uint8_t, const uint8_t*, uint32_t) { ++counted_inputs; }

TEST_F(Library, ReadUntilDoneDeliversUntilDone) {
    inkora_set_startup_poll_interval_ms(1);
    counted_inputs = 0;
    inkora_device* device = pad(1);
    ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
    inkora_register_input_callback(device, count_input);
    inkora_device_read_until_done(device);
    EXPECT_NE(device->parameters.readUntilDoneThread, pthread_t{});
    const Bytes coordinate{1, 1, 5, 0, 6, 0};
    for (int i = 0; i < 3; ++i)
        inkora_simulated_queue_input_report(device, coordinate.data(), coordinate.size());
    for (int wait = 0; wait < 2000 && counted_inputs.load() < 3; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(counted_inputs.load(), 3);
    inkora_device_read_done(device); // closes the device and joins the loop
    EXPECT_EQ(device->open, 0);
    EXPECT_EQ(device->parameters.readUntilDoneThread, pthread_t{});
}

TEST_F(ScriptedPad, DriverInputReportParsesAndDelivers) {
    received.clear();
    const Bytes coordinate{1, 0, 7, 0, 8, 0};
    inkora_get_driver_input_report(&device, coordinate.data(), coordinate.size()); // no callback list yet
    EXPECT_TRUE(received.empty());
    device.input_callbacks = inkora_create_list();
    inkora_list_add(device.input_callbacks, reinterpret_cast<void*>(&record_input));
    inkora_get_driver_input_report(&device, coordinate.data(), coordinate.size());
    const Bytes unknown{77, 1};
    inkora_get_driver_input_report(&device, unknown.data(), unknown.size());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].type, 1);
    EXPECT_EQ(received[0].raw, coordinate);
    EXPECT_EQ(received[0].report.coordinate.y, 8);
}

// ---------------------------------------------------------------------------
// Lifecycle and the driver list

TEST(Lifecycle, VersionValues) {
    EXPECT_STREQ(inkora_get_nibline_version(), "2.3.15");
    EXPECT_EQ(inkora_get_nibline_version_major(), 2u);
    EXPECT_EQ(inkora_get_nibline_version_minor(), 3u);
    EXPECT_EQ(inkora_get_nibline_version_release(), 15u);
    EXPECT_STREQ(inkora_get_nibline_build_date(), "2023-09-22 13:25:09+0000");
}

TEST(Lifecycle, RegisteringBeforeInitLeavesTheSlotsEmpty) {
    inkora_device_driver driver = make_scripted_driver();
    inkora_add_device_driver(&driver);
    EXPECT_EQ(inkora_get_driver_count(), 0u);
    EXPECT_EQ(driver.report_error, nullptr);
    EXPECT_EQ(driver.input_report, nullptr);
    EXPECT_EQ(inkora_get_drivers(), nullptr);
}

TEST(Lifecycle, DriversAreRegisteredOnceAndListedInOrder) {
    unsetenv("INKORA_SIMULATED_PADS");
    inkora_init();
    EXPECT_EQ(inkora_get_driver_count(), 1u); // the built-in driver alone
    inkora_device_driver scripted = make_scripted_driver();
    inkora_add_device_driver(&scripted);
    inkora_add_device_driver(&scripted);
    EXPECT_EQ(inkora_get_driver_count(), 2u);
    EXPECT_EQ(scripted.report_error, &inkora_report_error_internal);
    EXPECT_EQ(scripted.input_report, &inkora_get_driver_input_report);
    EXPECT_EQ(scripted.get_hotplug_callbacks, &inkora_get_device_callbacks);
    EXPECT_NE(scripted.debug, nullptr);

    // Listing skips a driver that was never initialised.
    inkora_device* chain = nullptr;
    ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
    for (inkora_device* d = chain; d != nullptr; d = d->next)
        EXPECT_NE(d->driver, &scripted);
    inkora_free_device_list(chain);

    scripted.initialized = 1;
    ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
    inkora_device* last = chain;
    while (last != nullptr && last->next != nullptr && last->next->next != nullptr)
        last = last->next;
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->path, "/scripted/1");
    EXPECT_STREQ(last->next->path, "/scripted/2");
    inkora_free_device_list(chain);

    inkora_remove_device_driver(&scripted);
    EXPECT_EQ(inkora_get_driver_count(), 1u);
    inkora_destroy();
    EXPECT_EQ(inkora_get_drivers(), nullptr);
    EXPECT_EQ(inkora_get_open_devices(), nullptr);
}

// Captures the log's records in memory (the monitor thread logs too).
std::mutex log_mutex;
std::vector<std::pair<inkora_debug_level, std::string>> log_records; // guarded by log_mutex

void capture_record(inkora_debug_handler*, inkora_debug_message* message) {
    const std::lock_guard lock(log_mutex);
    log_records.emplace_back(message->level, message->message);
}

TEST(Lifecycle, StartLogsVersionDriverCountAndNames) {
    unsetenv("INKORA_SIMULATED_PADS");
    setenv("INKORA_DEBUG", "1", 1);
    setenv("INKORA_DEBUG_HANDLERS", "none", 1);
    inkora_debug_init("test"); // first: the library's own init changes nothing then
    inkora_debug_handler capture;
    std::memset(&capture, 0, sizeof capture);
    capture.publish = capture_record;
    capture.level = INKORA_DEBUG_LEVEL_ALL;
    inkora_debug_add_handler(&capture);
    {
        const std::lock_guard lock(log_mutex);
        log_records.clear();
    }

    inkora_init();
    inkora_add_device_driver(&inkora_real_driver);
    auto index_of = [](inkora_debug_level level, const std::string& text) {
        const std::lock_guard lock(log_mutex);
        for (size_t i = 0; i < log_records.size(); ++i)
            if (log_records[i].first == level && log_records[i].second == text)
                return static_cast<long>(i);
        return -1L;
    };
    const long start = index_of(INKORA_DEBUG_LEVEL_INFO, "Initalizing Nibline Native library, version: 2.3.15, date: "
                                                         "2023-09-22 13:25:09+0000");
    const long count = index_of(INKORA_DEBUG_LEVEL_FINE, "Attempting to initialize 1 driver(s).");
    const long name = index_of(INKORA_DEBUG_LEVEL_FINE, "Attempting to initialize driver 'REAL'.");
    EXPECT_GE(start, 0);
    EXPECT_GT(count, start);
    EXPECT_GT(name, count);
    EXPECT_GT(index_of(INKORA_DEBUG_LEVEL_INFO, "Successfully initialized 'REAL' driver."), name);
    EXPECT_GE(index_of(INKORA_DEBUG_LEVEL_INFO, "Driver was already in driver list 'REAL'."), 0);
    EXPECT_GE(index_of(INKORA_DEBUG_LEVEL_FINEST, "==> Entering Function"), 0);

    // A failure detected by the library is logged with its text.
    {
        const std::lock_guard lock(log_mutex);
        log_records.clear();
    }
    inkora_device* missing = nullptr;
    EXPECT_EQ(inkora_open_device(missing), INKORA_CODE_ERROR);
    EXPECT_GE(index_of(INKORA_DEBUG_LEVEL_WARNING, "Error reported: Parameter passed into inkora_open_device was null."),
              0);
    inkora_destroy(); // shuts the log down too
    unsetenv("INKORA_DEBUG");
    unsetenv("INKORA_DEBUG_HANDLERS");
}

TEST(Lifecycle, ListingWithNoDriverGivesAnEmptyChain) {
    inkora_device* chain = reinterpret_cast<inkora_device*>(0x1);
    EXPECT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
    EXPECT_EQ(chain, nullptr);
}

class SimulatedPadCount : public testing::TestWithParam<const char*> {};

TEST_P(SimulatedPadCount, OtherValuesRegisterNothing) {
    setenv("INKORA_SIMULATED_PADS", GetParam(), 1);
    inkora_init();
    EXPECT_EQ(inkora_get_driver_count(), 1u);
    inkora_destroy();
    unsetenv("INKORA_SIMULATED_PADS");
}

INSTANTIATE_TEST_SUITE_P(Table, SimulatedPadCount, testing::Values("0", "9", "two", "", "18"));

TEST(Lifecycle, EightSimulatedPads) {
    setenv("INKORA_SIMULATED_PADS", "8", 1);
    inkora_init();
    inkora_device* chain = nullptr;
    ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
    uint32_t simulated = 0;
    for (inkora_device* d = chain; d != nullptr; d = d->next)
        simulated += d->driver == &inkora_simulated_driver ? 1u : 0u;
    EXPECT_EQ(simulated, 8u);
    inkora_free_device_list(chain);
    inkora_destroy();
    unsetenv("INKORA_SIMULATED_PADS");
}

} // namespace
