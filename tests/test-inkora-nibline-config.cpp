// The device configuration API against the pad model (simulated driver):
// the exact bytes each setter sends, the record each getter decodes from
// given bytes, the ordered reports of the procedures (with interlocks the
// test holds), regions, screens and resources, the display reset and the two
// signature modes, and the printers' output.
//
// A tap sits in the simulated driver's feature slots: it passes every
// exchange to the pad model, which records every report written, and lets a
// test replace the answer of a get, refuse a get or a set, or hold interlock
// bits in the pad's status.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "inkora-nibline-config.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"

extern "C" size_t inkora_nibline_config_c_sizes(size_t index);

namespace {

using Bytes = std::vector<uint8_t>;

// `prefix` followed by zeros up to `length` bytes.
Bytes padded(Bytes prefix, size_t length) {
    prefix.resize(length, 0);
    return prefix;
}

// ---------------------------------------------------------------------------
// The tap

struct Tap {
    std::map<uint8_t, Bytes> answers;  // replaces the pad's answer to a get
    std::set<uint8_t> refused_gets;
    std::set<uint8_t> refused_sets;
    uint8_t held = 0;                  // interlock bits shown in the status (byte 3)
    std::optional<uint8_t> hold_after; // hold these bits once a report with this id is written:
    uint8_t hold_after_bits = 0;
    int hold_after_skip = 0;           // ... after this many more free status reads
    bool armed = false;
    int skip_left = 0;
    int status_reads = 0;
    std::vector<uint8_t> gets;         // ids of every get but the status, in order
};

Tap tap;
inkora_get_feature_report_func model_get = nullptr;
inkora_set_feature_report_func model_set = nullptr;

inkora_error_code tap_get(inkora_device* device, uint8_t* bytes, uint32_t length) {
    const uint8_t id = bytes[0];
    if (id == INKORA_REPORT_ID_DEVICE_STATUS)
        ++tap.status_reads;
    else
        tap.gets.push_back(id);
    if (tap.refused_gets.count(id) != 0) {
        inkora_report_error_internal("Report %u refused by the test.", static_cast<unsigned>(id));
        return INKORA_CODE_ERROR;
    }
    const auto answer = tap.answers.find(id);
    if (answer != tap.answers.end()) {
        std::memset(bytes, 0, length);
        std::memcpy(bytes, answer->second.data(), std::min<size_t>(length, answer->second.size()));
        return INKORA_CODE_SUCCESS;
    }
    if (id == INKORA_REPORT_ID_DEVICE_STATUS && tap.armed) {
        if (tap.skip_left > 0) {
            --tap.skip_left;
        } else {
            tap.held = tap.hold_after_bits;
            tap.armed = false;
        }
    }
    const inkora_error_code result = model_get(device, bytes, length);
    if (id == INKORA_REPORT_ID_DEVICE_STATUS && result == INKORA_CODE_SUCCESS && length > 3)
        bytes[3] |= tap.held;
    return result;
}

inkora_error_code tap_set(inkora_device* device, uint8_t* bytes, uint32_t length) {
    const uint8_t id = bytes[0];
    if (tap.refused_sets.count(id) != 0) {
        inkora_report_error_internal("Report %u refused by the test.", static_cast<unsigned>(id));
        return INKORA_CODE_ERROR;
    }
    const inkora_error_code result = model_set(device, bytes, length);
    if (tap.hold_after && *tap.hold_after == id) {
        tap.armed = true;
        tap.skip_left = tap.hold_after_skip;
    }
    return result;
}

// One simulated pad, open, behind the tap. written() lists the reports the
// pad received since the test began (open's own reports excluded).
class ConfigPad : public testing::Test {
protected:
    void SetUp() override {
        setenv("INKORA_SIMULATED_PADS", "1", 1);
        inkora_set_startup_poll_interval_ms(0);
        inkora_set_legacy_firmware(0, 0);
        inkora_init();
        ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
        for (inkora_device* d = chain; d != nullptr; d = d->next)
            if (d->driver == &inkora_simulated_driver)
                device = d;
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
        tap = Tap{};
        model_get = inkora_simulated_driver.get_feature_report;
        model_set = inkora_simulated_driver.set_feature_report;
        inkora_simulated_driver.get_feature_report = tap_get;
        inkora_simulated_driver.set_feature_report = tap_set;
        baseline = inkora_simulated_written_report_count(device);
    }
    void TearDown() override {
        if (model_get != nullptr) {
            inkora_simulated_driver.get_feature_report = model_get;
            inkora_simulated_driver.set_feature_report = model_set;
        }
        if (device != nullptr && inkora_device_is_open(device) == 1)
            inkora_close_device(device);
        inkora_free_device_list(chain);
        inkora_destroy();
        unsetenv("INKORA_SIMULATED_PADS");
        inkora_set_startup_poll_interval_ms(100);
    }

    std::vector<Bytes> written() const {
        std::vector<Bytes> reports;
        const uint32_t count = inkora_simulated_written_report_count(device);
        for (uint32_t i = baseline; i < count; ++i) {
            Bytes report(inkora_simulated_get_written_report(device, i, nullptr, 0));
            inkora_simulated_get_written_report(device, i, report.data(), static_cast<uint32_t>(report.size()));
            reports.push_back(std::move(report));
        }
        return reports;
    }
    // The id and first value byte of each report written: enough to follow a sequence.
    std::vector<std::pair<int, int>> sequence() const {
        std::vector<std::pair<int, int>> steps;
        for (const Bytes& report : written())
            steps.emplace_back(report[0], report.size() > 1 ? report[1] : -1);
        return steps;
    }
    // The run mode the pad is in, as its status shows it (idle = command mode).
    bool pad_in_command_mode() {
        const uint8_t held = tap.held;
        tap.held = 0;
        const bool idle = inkora_get_device_status(device).is_idle == 1;
        tap.held = held;
        return idle;
    }

    inkora_device* chain = nullptr;
    inkora_device* device = nullptr;
    uint32_t baseline = 0;
};

using Steps = std::vector<std::pair<int, int>>;

TEST(ConfigHeader, CompilesAsCWithTheSameLayout) {
    const std::array<size_t, 12> sizes{sizeof(inkora_hid_capabilities),
                                       sizeof(inkora_hid_feature_output_parameters),
                                       sizeof(inkora_hid_feature_peripheral_configuration),
                                       sizeof(inkora_hid_feature_calibration_data),
                                       sizeof(inkora_hid_feature_region),
                                       sizeof(inkora_hid_feature_screen),
                                       sizeof(inkora_hid_feature_resource),
                                       sizeof(inkora_hid_feature_resource_availability),
                                       offsetof(inkora_hid_capabilities, mag_reader_id),
                                       offsetof(inkora_hid_feature_region_button, caption),
                                       offsetof(inkora_hid_feature_resource, resource_data),
                                       offsetof(inkora_hid_feature_calibration_data, local_x_multiplier_scaled)};
    for (size_t i = 0; i < sizes.size(); ++i)
        EXPECT_EQ(inkora_nibline_config_c_sizes(i), sizes[i]) << "entry " << i;
}

// ---------------------------------------------------------------------------
// Setters: the exact report sent for a record

struct SetCase {
    const char* name;
    std::function<inkora_error_code(inkora_device*)> set;
    Bytes expected;
};

void PrintTo(const SetCase& c, std::ostream* out) { *out << c.name; }

class Setter : public ConfigPad, public testing::WithParamInterface<SetCase> {};

TEST_P(Setter, SendsExactlyTheReport) {
    ASSERT_EQ(GetParam().set(device), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> reports = written();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], GetParam().expected);
}

template <typename Record>
Record zeroed() {
    Record record;
    std::memset(&record, 0, sizeof record);
    return record;
}

inkora_hid_feature_general_parameters general_parameters() {
    auto r = zeroed<inkora_hid_feature_general_parameters>();
    r.report_id = 99; // never sent
    r.xy_output_enable = 1;
    r.channel_lock_number = 9; // over-wide: spills into bit 7
    r.corner_lower_left = 1;
    r.corner_upper_left = 2;
    r.corner_lower_right = 3;
    r.corner_upper_right = 1;
    r.samples = 0x1234;
    r.filter_frequency = 7;
    return r;
}

inkora_hid_feature_pen_parameters pen_parameters() {
    auto r = zeroed<inkora_hid_feature_pen_parameters>();
    r.proximity = 0x0102;
    r.auto_pen_threshold = 0x0304;
    r.auto_touch_threshold = 0x0506;
    r.adc_average = 7;
    r.coordinate_average = 8;
    r.offset_interval = 0x090A;
    r.debounce_pre_down = 11;
    r.debounce_post_down = 12;
    r.debounce_pre_up = 13;
    r.debounce_post_up = 14;
    r.error_correction_enable = 1;
    r.reserved_1 = 5;
    r.offset_correction_enable = 1;
    r.tip_inverted = 1;
    r.interrupt_rate = 0x1112;
    return r;
}

inkora_hid_feature_touch_parameters touch_parameters() {
    auto r = zeroed<inkora_hid_feature_touch_parameters>();
    r.adc_average = 1;
    r.coordinate_average = 2;
    r.slope_down = -2;
    r.slope_liftoff = 0x0506;
    r.slope_minimum = 7;
    r.pressure_single = 0x0809;
    r.pressure_multiple = 0x0A0B;
    r.gain = 12;
    r.error_correction_enable = 1;
    r.reserved = 3;
    r.scale_x = 0x0E0F;
    r.offset_x = -256;
    r.scale_y = 0x1213;
    r.offset_y = 0x1415;
    return r;
}

inkora_hid_feature_output_parameters output_parameters() {
    auto r = zeroed<inkora_hid_feature_output_parameters>();
    r.output_report = 0x40000002;
    r.output_mode = TRANSMIT_ON_CONFIRM;
    r.compression = static_cast<inkora_compression_mode>(0x103); // the low byte goes
    r.packets_per_second = 0x0102;
    r.save_as_default = 5;
    r.load_factory_settings = 1;
    return r;
}

inkora_hid_feature_peripheral_configuration peripheral_configuration() {
    auto r = zeroed<inkora_hid_feature_peripheral_configuration>();
    r.mag_card_output = static_cast<inkora_mag_card_output>(12);
    r.reserved1 = 0xAA;
    r.reserved14 = 0xBB;
    r.save_as_default = 3;
    return r;
}

inkora_hid_feature_calibration_data calibration_data() {
    auto r = zeroed<inkora_hid_feature_calibration_data>();
    r.calibration_type = 2;
    r.is_calibrated = 7;
    r.rotation_scale = 0x0102;
    r.rotation_sin_scaled = -1;
    r.local_x_multiplier_scaled = -2;
    r.host_y_offset = 0x11223344;
    return r;
}

inkora_hid_feature_firmware_download firmware_block() {
    auto r = zeroed<inkora_hid_feature_firmware_download>();
    r.address = 0x01020304;
    r.data[0] = 0xAA;
    r.data[127] = 0xBB;
    r.checksum = 0x5A;
    return r;
}

inkora_hid_feature_screen screen_with_35_regions() {
    auto r = zeroed<inkora_hid_feature_screen>();
    r.screen_number = 2;
    r.reset_timeout_on_activity = 1;
    r.reserved_14 = 0x0E;
    r.timeout = 15;
    r.timeout_screen_next = 3;
    r.region_count = 35;
    for (uint8_t i = 0; i < 35; ++i) {
        r.region_list[i] = static_cast<uint8_t>(i + 1);
        r.screen_next_list[i] = static_cast<uint8_t>(100 + i);
    }
    return r;
}

Bytes screen_report_35_cut_to_30() {
    Bytes b(80, 0);
    b[0] = 162;
    b[1] = 2;
    b[2] = 0x10;
    b[16] = 0x0E;
    b[17] = 15;
    b[18] = 3;
    b[19] = 30;
    for (uint8_t i = 0; i < 30; ++i) {
        b[20 + i] = static_cast<uint8_t>(i + 1);
        b[50 + i] = static_cast<uint8_t>(100 + i);
    }
    return b;
}

inkora_device_region_info ok_button() {
    auto r = zeroed<inkora_device_region_info>();
    r.common.region_number = 5;
    r.common.region_type = INKORA_REGION_TYPE_BUTTON;
    r.common.accept_touch = 1;
    r.common.visible = 1;
    r.common.in_use = 1;
    r.common.has_frame = 1;
    r.common.reserved_2 = 0x01020304;
    r.common.x1 = 214;
    r.common.x2 = 319;
    r.common.y1 = 160;
    r.common.y2 = 191;
    r.common.color_foreground = inkora_color{0x10, 0x80, 0x00, 0xFF}; // alpha, blue, green, red
    r.common.color_background = inkora_color{0xFF, 0xFF, 0xFF, 0xFF};
    r.button.parent = 1;
    r.button.enable = 1;
    r.button.clear_on_select = 1;
    r.button.reserved = 0x1234;
    std::strcpy(r.button.caption, "OK");
    return r;
}

Bytes ok_button_report() {
    Bytes b(46, 0); // c + 30 with c = 16
    const Bytes head{112, 5, 1, 0x1D, 0, 0x04, 0x03, 0x02, 0x01, 214, 0, 0x3F, 0x01, 160, 0, 191, 0,
                     0xFF, 0x00, 0x80, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0x05, 0x34, 0, 'O', 'K', 0};
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

inkora_hid_feature_region graphic_region() {
    auto r = zeroed<inkora_hid_feature_region>();
    r.common.region_index = 3;
    r.common.region_type = INKORA_REGION_TYPE_GRAPHIC;
    r.common.accepts_touch = 1;
    r.common.has_frame = 1;
    r.common.output_to_host = 1;
    r.common.reserved_9 = 0x99;
    r.common.x1 = 1;
    r.common.x2 = 0x0102;
    r.common.y1 = 3;
    r.common.y2 = 4;
    r.common.foreground_color = inkora_color{4, 3, 2, 1};
    r.graphic.graphic_number = 7;
    r.graphic.horizontal_justification = INKORA_JUSTIFICATION_RIGHT;
    r.graphic.vertical_justification = INKORA_JUSTIFICATION_CENTER;
    r.graphic.reserved_2 = 0x22;
    return r;
}

Bytes graphic_region_report() {
    Bytes b(50, 0); // c + 34 with c = 16
    const Bytes head{152, 3, 3, 0x45, 0, 0, 0, 0, 0, 0, 0, 0, 0x99, 1, 0, 0x02, 0x01, 3, 0, 4, 0,
                     1, 2, 3, 4, 0, 0, 0, 0, 0, 7, 0x81, 0x22};
    std::copy(head.begin(), head.end(), b.begin());
    return b;
}

inkora_hid_feature_region resource_button() {
    auto r = zeroed<inkora_hid_feature_region>();
    r.common.region_index = 4;
    r.common.region_type = INKORA_REGION_TYPE_BUTTON;
    r.button.enabled = 1;
    r.button.confirm_on_select = 1;
    r.button.use_resource = 1;
    r.button.resource_number_normal = 9;
    r.button.resource_number_selected = 10;
    std::strcpy(r.button.caption, "never sent");
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, Setter,
    testing::Values(
        SetCase{"DisplaySettings",
                [](inkora_device* d) {
                    return inkora_set_display_settings(d, inkora_hid_feature_display_settings{0, 1, 2, 3, 4, 5, 6});
                },
                {102, 1, 2, 3, 4, 5, 6}},
        SetCase{"DeviceConfigure",
                [](inkora_device* d) {
                    return inkora_set_device_configure(d, inkora_hid_feature_device_configure{0, 4, 9});
                },
                {15, 4, 9}},
        SetCase{"FrequencyAmplitude",
                [](inkora_device* d) {
                    return inkora_set_frequency_amplitude(d, inkora_hid_feature_frequency_amplitude{0, 1, 2, 3});
                },
                {20, 1, 2, 3}},
        SetCase{"PowerStateWrittenAsReport2",
                [](inkora_device* d) {
                    return inkora_set_power_state(
                        d, inkora_hid_feature_power_state{21, INKORA_ASIC_POWER_STATE_STANDBY});
                },
                {2, 2}},
        SetCase{"GeneralParametersUnmasked",
                [](inkora_device* d) { return inkora_set_general_parameters(d, general_parameters()); },
                {41, 0x91, 0x79, 0x34, 0x12, 7}},
        SetCase{"AsicReset",
                [](inkora_device* d) { return inkora_set_asic_reset(d, inkora_hid_feature_asic_reset{0, 1, 3}); },
                {42, 0x07}},
        SetCase{"AsicRegister",
                [](inkora_device* d) {
                    return inkora_set_asic_register(d, inkora_hid_feature_register_set{0, 5, 0xAB});
                },
                {44, 5, 0xAB}},
        SetCase{"PenParameters", [](inkora_device* d) { return inkora_set_pen_parameters(d, pen_parameters()); },
                {50, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 7, 8, 0x0A, 0x09, 11, 12, 13, 14, 0x5B, 0x12, 0x11}},
        SetCase{"TouchParameters",
                [](inkora_device* d) { return inkora_set_touch_parameters(d, touch_parameters()); },
                {60, 1, 2, 0xFE, 0xFF, 0x06, 0x05, 7, 0x09, 0x08, 0x0B, 0x0A, 12, 0x07, 0x0F, 0x0E, 0x00, 0xFF,
                 0x13, 0x12, 0x15, 0x14}},
        SetCase{"OutputConfigurationByte9Is0x81",
                [](inkora_device* d) { return inkora_set_output_configuration(d, output_parameters()); },
                {91, 0x02, 0x00, 0x00, 0x40, 1, 0x03, 0x02, 0x01, 0x81}},
        SetCase{"PeripheralConfiguration",
                [](inkora_device* d) { return inkora_set_peripheral_configuration(d, peripheral_configuration()); },
                {92, 12, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB, 0x01}},
        SetCase{"CalibrationData",
                [](inkora_device* d) { return inkora_set_calibration_data(d, calibration_data()); },
                [] {
                    Bytes b = padded({131, 2, 1, 0x02, 0x01, 0, 0, 0, 0, 0xFF, 0xFF}, 49);
                    b[17] = 0xFE, b[18] = 0xFF, b[19] = 0xFF, b[20] = 0xFF;
                    b[45] = 0x44, b[46] = 0x33, b[47] = 0x22, b[48] = 0x11;
                    return b;
                }()},
        SetCase{"StartupMode", [](inkora_device* d) { return inkora_set_startup_mode(d, INKORA_ACQMODE_COMMAND); },
                {28, 3}},
        SetCase{"RegionCommit",
                [](inkora_device* d) { return inkora_set_region_commit(d, INKORA_REGION_SAVE_CHANGES); }, {115, 1}},
        SetCase{"FirmwareBlock", [](inkora_device* d) { return inkora_set_firmware(d, firmware_block()); },
                [] {
                    Bytes b = padded({25, 0x04, 0x03, 0x02, 0x01, 0xAA}, 134);
                    b[132] = 0xBB;
                    b[133] = 0x5A;
                    return b;
                }()},
        SetCase{"DownloadCommandStatus",
                [](inkora_device* d) {
                    return inkora_set_firmware_download_status(d, inkora_hid_feature_download_command_status{0, 0xBEEF});
                },
                {29, 0xEF, 0xBE}},
        SetCase{"PenDownAt300x200",
                [](inkora_device* d) {
                    const inkora_pen_coordinate pen{77, 1, 300, 200, 1};
                    return inkora_simulate_pen_input(d, &pen);
                },
                padded({253, 100, 1, 0, 0, 0, 0x11, 0x2C, 0x01, 0xC8, 0x00}, 67)},
        SetCase{"PenUp",
                [](inkora_device* d) {
                    const inkora_pen_coordinate pen{0, 3, 1, 2, 0};
                    return inkora_simulate_pen_input(d, &pen);
                },
                padded({253, 100, 3, 0, 0, 0, 0x10, 1, 0, 2, 0}, 67)},
        SetCase{"Tune", [](inkora_device* d) { return inkora_genII_tune(d); }, padded({230, 0x54, 0x54, 0x2B}, 69)},
        SetCase{"AbortTune", [](inkora_device* d) { return inkora_genII_abort_tune(d); },
                padded({230, 0x54, 0x54, 0x2D}, 69)},
        SetCase{"SetDevicePid", [](inkora_device* d) { return inkora_genII_set_device_pid(d, 0x0A0B); },
                padded({230, 0xCD, 0, 0, 0, 0x0B, 0x0A}, 69)},
        SetCase{"SetHardwareGuidWithItsWriteKeys",
                [](inkora_device* d) {
                    inkora_hid_feature_guid guid{0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
                    return inkora_genII_set_hardware_GUID(d, guid);
                },
                padded({230, 0x75, INKORA_HARDWARE_GUID_WRITE_KEY_1, INKORA_HARDWARE_GUID_WRITE_KEY_2, 1, 2, 3, 4,
                        5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                       69)},
        SetCase{"RegionWriteButtonOk", [](inkora_device* d) { return inkora_set_region(d, ok_button()); },
                ok_button_report()},
        SetCase{"RegionUpdate",
                [](inkora_device* d) {
                    inkora_hid_feature_region_update update{0, 3, 1, 1, 0x44, {4, 3, 2, 1}, 0x0A0B0C0D};
                    return inkora_update_region(d, update);
                },
                {113, 3, 0x03, 0x44, 1, 2, 3, 4, 0x0D, 0x0C, 0x0B, 0x0A}},
        SetCase{"RegionDelete", [](inkora_device* d) { return inkora_delete_region(d, 4); }, {114, 4}},
        SetCase{"RegionDeleteFromStore", [](inkora_device* d) { return inkora_delete_device_region(d, 5); },
                {153, 5}},
        SetCase{"RegionIndex", [](inkora_device* d) { return inkora_set_region_idx(d, 3); }, {150, 3}},
        SetCase{"IndexedGraphicRegion",
                [](inkora_device* d) { return inkora_set_region_contents(d, graphic_region()); },
                graphic_region_report()},
        SetCase{"IndexedButtonWithResources",
                [](inkora_device* d) { return inkora_set_region_contents(d, resource_button()); },
                [] {
                    Bytes b(50, 0);
                    b[0] = 152, b[1] = 4, b[2] = 1, b[29] = 0x19, b[33] = 9, b[34] = 10;
                    return b;
                }()},
        SetCase{"ResourceIndex", [](inkora_device* d) { return inkora_set_resource_idx(d, 7); }, {140, 7}},
        SetCase{"Resource",
                [](inkora_device* d) {
                    auto r = zeroed<inkora_hid_feature_resource>();
                    r.resource_number = 2;
                    r.resource_type = INKORA_RESOURCE_TYPE_GRAPHIC;
                    r.resource_size = 1024;
                    r.resource_crc = 0xDEADBEEF;
                    r.reserved_8 = 0x88;
                    r.bytes_valid = 0x0304;
                    r.resource_data[0] = 0x11;
                    r.resource_data[1023] = 0x22;
                    return inkora_set_resource(d, r);
                },
                [] {
                    Bytes b = padded({142, 2, 1, 0, 0, 0x00, 0x04, 0x00, 0x00, 0xEF, 0xBE, 0xAD, 0xDE, 0, 0, 0, 0, 0,
                                      0x88, 0x04, 0x03, 0x11},
                                     1045);
                    b[1044] = 0x22;
                    return b;
                }()},
        SetCase{"ResourceDelete", [](inkora_device* d) { return inkora_delete_resource(d, 6); }, {143, 6}},
        SetCase{"ScreenIndex", [](inkora_device* d) { return inkora_set_screen_idx(d, 2); }, {160, 2}},
        SetCase{"ScreenOf35RegionsCutTo30",
                [](inkora_device* d) { return inkora_set_screen(d, screen_with_35_regions()); },
                screen_report_35_cut_to_30()},
        SetCase{"ScreenDelete", [](inkora_device* d) { return inkora_delete_screen(d, 3); }, {163, 3}},
        SetCase{"EditScreenByte7Is0x05",
                [](inkora_device* d) {
                    inkora_hid_feature_edit_screen edit{0, 1, 2, 3, 4, 5, 6, 1, 0, 1, 7, 8, 9, 10, 11};
                    return inkora_set_edit_screen(d, edit);
                },
                {164, 1, 2, 3, 4, 5, 6, 0x05, 7, 8, 9, 10, 11}},
        SetCase{"ActiveScreen", [](inkora_device* d) { return inkora_set_active_screen(d, 3); }, {171, 3}},
        SetCase{"ScreenRegionCommit",
                [](inkora_device* d) {
                    return inkora_set_screen_region_commit(d, INKORA_SCREEN_REGION_FACTORY_DEFAULTS);
                },
                {172, 90}},
        SetCase{"RunMode", [](inkora_device* d) { return inkora_set_run_mode(d, INKORA_RUNMODE_PENSTREAM); },
                {10, 18}},
        SetCase{"CancelCalibration", [](inkora_device* d) { return inkora_device_cancel_calibrate(d); }, {130, 253}}),
    [](const testing::TestParamInfo<SetCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Getters: the record decoded from given bytes

struct GetCase {
    const char* name;
    uint8_t id;           // the report the getter reads
    Bytes answer;         // what the pad answers (byte 0 included)
    std::function<void(inkora_device*)> check;
};

void PrintTo(const GetCase& c, std::ostream* out) { *out << c.name; }

class Getter : public ConfigPad, public testing::WithParamInterface<GetCase> {};

TEST_P(Getter, DecodesTheAnswer) {
    tap.answers[GetParam().id] = GetParam().answer;
    GetParam().check(device);
    ASSERT_FALSE(tap.gets.empty());
    EXPECT_EQ(tap.gets.back(), GetParam().id);
}

Bytes capabilities_answer() {
    Bytes b(65, 0);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(i);
    b[0] = 11;
    b[47] = 0xFE; // reserved_10: 0xFFFE, sign-extended
    b[48] = 0xFF;
    return b;
}

Bytes serial_answer(uint8_t fill) {
    Bytes b(35, fill);
    b[0] = 27;
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, Getter,
    testing::Values(
        GetCase{"Capabilities", 11, capabilities_answer(),
                [](inkora_device* d) {
                    const inkora_hid_capabilities c = inkora_get_capabilities(d);
                    EXPECT_EQ(c.report_id, 11);
                    EXPECT_EQ(c.supported_reports, 0x0201);
                    EXPECT_EQ(c.coordinate_modes, 3);
                    EXPECT_EQ(c.display_id, 5);
                    EXPECT_EQ(c.color_depth, 8);
                    EXPECT_EQ(c.display_width, 0x0A09);
                    EXPECT_EQ(c.coordinate_ymax, 0x1817);
                    EXPECT_EQ(c.calibration_ymax, 0x201F);
                    EXPECT_EQ(c.reserved_5, 0x28272625u);
                    EXPECT_EQ(c.mag_reader_id, 41);
                    EXPECT_EQ(c.reserved_7, 0x2C2B);
                    EXPECT_EQ(c.supports_screens_resources, 45);
                    EXPECT_EQ(c.reserved_10, 0xFFFFFFFEu);
                    EXPECT_EQ(c.reserved_14, 0x403F3E3Du);
                }},
        GetCase{"DisplaySettings", 102, {102, 1, 2, 3, 4, 5, 6},
                [](inkora_device* d) {
                    inkora_hid_feature_display_settings s;
                    inkora_get_display_settings_ref(d, &s);
                    EXPECT_EQ(s.report_id, 102);
                    EXPECT_EQ(s.brightness, 1);
                    EXPECT_EQ(s.set_command, 6);
                }},
        GetCase{"ContactCountMaximum", 16, {16, 10},
                [](inkora_device* d) { EXPECT_EQ(inkora_get_contact_count_maximum(d).contact_count_max, 10); }},
        GetCase{"PowerStateReadAsReport21", 21, {21, 1},
                [](inkora_device* d) {
                    const inkora_hid_feature_power_state p = inkora_get_power_state(d);
                    EXPECT_EQ(p.report_id, 21);
                    EXPECT_EQ(p.power_state, INKORA_ASIC_POWER_STATE_POWERDOWN);
                }},
        GetCase{"CoordinateRange", 23, {23, 1, 0, 0xFF, 0x0F, 2, 0, 0xFF, 0x0E},
                [](inkora_device* d) {
                    const inkora_hid_feature_coordinate_range r = inkora_get_coordinate_range(d);
                    EXPECT_EQ(r.x_min, 1);
                    EXPECT_EQ(r.x_max, 4095);
                    EXPECT_EQ(r.y_max, 0x0EFF);
                }},
        GetCase{"SerialNumberOf32CharactersKeeps31", 27, serial_answer('A'),
                [](inkora_device* d) {
                    const inkora_hid_feature_serial_number s = inkora_get_serial_number(d);
                    EXPECT_EQ(std::string(s.serial_number), std::string(31, 'A'));
                    EXPECT_EQ(s.write_key_1, 0); // not decoded
                    EXPECT_EQ(s.write_key_2, 0);
                }},
        GetCase{"SerialNumberAll0xFFIsEmpty", 27, serial_answer(0xFF),
                [](inkora_device* d) {
                    const inkora_hid_feature_serial_number s = inkora_get_serial_number(d);
                    EXPECT_EQ(s.report_id, 27);
                    const char zero[32] = {};
                    EXPECT_EQ(std::memcmp(s.serial_number, zero, sizeof zero), 0);
                }},
        GetCase{"SerialNumberUnwrittenTail", 27, padded({27, 'S', 'N', '1', 0xFF, 0xFF}, 35),
                [](inkora_device* d) { EXPECT_STREQ(inkora_get_serial_number(d).serial_number, "SN1"); }},
        GetCase{"OperatingModes", 40, {40, 1, 2, 3, 4},
                [](inkora_device* d) {
                    const inkora_hid_feature_operating_modes m = inkora_get_operating_modes(d);
                    EXPECT_EQ(m.supported_modes, 1);
                    EXPECT_EQ(m.reserved, 0);
                    EXPECT_EQ(m.acquisition_mode, 2);
                    EXPECT_EQ(m.pen_mode, 4);
                }},
        GetCase{"GeneralParametersMaskedOnReading", 41, {41, 0xFF, 0xE4, 0x34, 0x12, 9},
                [](inkora_device* d) {
                    const inkora_hid_feature_general_parameters g = inkora_get_general_parameters(d);
                    EXPECT_EQ(g.xy_output_enable, 1);
                    EXPECT_EQ(g.channel_lock_enable, 1);
                    EXPECT_EQ(g.channel_lock_number, 7);
                    EXPECT_EQ(g.reserved, 1);
                    EXPECT_EQ(g.corner_lower_left, 0);
                    EXPECT_EQ(g.corner_upper_left, 1);
                    EXPECT_EQ(g.corner_lower_right, 2);
                    EXPECT_EQ(g.corner_upper_right, 3);
                    EXPECT_EQ(g.samples, 0x1234);
                    EXPECT_EQ(g.filter_frequency, 9);
                }},
        GetCase{"AsicRegister", 43, {43, 1, 2, 3, 4, 5, 6, 7, 8},
                [](inkora_device* d) {
                    const inkora_hid_feature_register_get r = inkora_get_asic_register(d);
                    EXPECT_EQ(Bytes(r.register_info, r.register_info + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
                }},
        GetCase{"PenParameters", 50,
                {50, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 7, 8, 0x0A, 0x09, 11, 12, 13, 14, 0xFF, 0x12, 0x11},
                [](inkora_device* d) {
                    const inkora_hid_feature_pen_parameters p = inkora_get_pen_parameters(d);
                    EXPECT_EQ(p.proximity, 0x0102);
                    EXPECT_EQ(p.offset_interval, 0x090A);
                    EXPECT_EQ(p.debounce_post_up, 14);
                    EXPECT_EQ(p.error_correction_enable, 1);
                    EXPECT_EQ(p.reserved_1, 7);
                    EXPECT_EQ(p.offset_correction_enable, 1);
                    EXPECT_EQ(p.tip_inverted, 1);
                    EXPECT_EQ(p.reserved_3, 1);
                    EXPECT_EQ(p.interrupt_rate, 0x1112);
                }},
        GetCase{"TouchParametersSigned", 60,
                padded({60, 1, 2, 0xFE, 0xFF, 0x06, 0x05, 7, 0x09, 0x08, 0x0B, 0x0A, 12, 0xFF, 0x0F, 0x0E, 0x00,
                        0xFF},
                       22),
                [](inkora_device* d) {
                    const inkora_hid_feature_touch_parameters t = inkora_get_touch_parameters(d);
                    EXPECT_EQ(t.slope_down, -2);
                    EXPECT_EQ(t.slope_liftoff, 0x0506);
                    EXPECT_EQ(t.pressure_multiple, 0x0A0B);
                    EXPECT_EQ(t.error_correction_enable, 1);
                    EXPECT_EQ(t.reserved, 0x7F);
                    EXPECT_EQ(t.offset_x, -256);
                }},
        GetCase{"OutputConfigurationSignExtendedAndMasked", 91, {91, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0xFF, 0x10, 0, 0x81},
                [](inkora_device* d) {
                    const inkora_hid_feature_output_parameters o = inkora_get_output_configuration(d);
                    EXPECT_EQ(o.report_id, 91);
                    EXPECT_EQ(o.output_report, 0xFFFFFFFFFFFFFFFFull);
                    EXPECT_EQ(o.output_mode, TRANSMIT_ON_HOST_COMMAND);
                    EXPECT_EQ(o.compression, INKORA_OUTPUT_COMPRESSED_HIRES);
                    EXPECT_EQ(o.packets_per_second, 16);
                    EXPECT_EQ(o.save_as_default, 1);
                    EXPECT_EQ(o.load_factory_settings, 1);
                }},
        GetCase{"PeripheralConfiguration", 92, {92, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x80},
                [](inkora_device* d) {
                    inkora_hid_feature_peripheral_configuration p;
                    inkora_get_peripheral_configuration_ref(d, &p);
                    EXPECT_EQ(p.mag_card_output, 9);
                    EXPECT_EQ(p.reserved1, 1);
                    EXPECT_EQ(p.reserved14, 14);
                    EXPECT_EQ(p.save_as_default, 0);
                    EXPECT_EQ(p.load_factory_settings, 1);
                }},
        GetCase{"CalibrationDataReportIdIs131", 131,
                [] {
                    Bytes b = padded({0x42, 3, 0xFF, 0x02, 0x01}, 49);
                    b[17] = 0xFE, b[18] = 0xFF, b[19] = 0xFF, b[20] = 0xFF; // -2
                    b[45] = 0x44, b[46] = 0x33, b[47] = 0x22, b[48] = 0x11;
                    return b;
                }(),
                [](inkora_device* d) {
                    const inkora_hid_feature_calibration_data c = inkora_get_calibration_data(d);
                    EXPECT_EQ(c.report_id, 131);
                    EXPECT_EQ(c.calibration_type, 3);
                    EXPECT_EQ(c.is_calibrated, 1);
                    EXPECT_EQ(c.rotation_scale, 0x0102);
                    EXPECT_EQ(c.local_x_multiplier_scaled, -2);
                    EXPECT_EQ(c.host_y_offset, 0x11223344);
                }},
        GetCase{"CalibrateState", 130, {130, 0x31},
                [](inkora_device* d) {
                    const inkora_hid_feature_calibrate c = inkora_get_calibrate_state(d);
                    EXPECT_EQ(c.report_id, 130);
                    EXPECT_EQ(c.calibration_mode, 1);
                    EXPECT_EQ(c.point, INKORA_CALIBRATION_POINT_LOWERRIGHT);
                }},
        GetCase{"TuningStatus0x07", 230, {230, 0x35, 0x07, 9},
                [](inkora_device* d) {
                    const inkora_hid_feature_tuning_status t = inkora_genII_get_tuning_status(d);
                    EXPECT_EQ(t.report_id, 230);
                    EXPECT_EQ(t.command_id, 0x35);
                    EXPECT_EQ(t.tuning_mode, 1);
                    EXPECT_EQ(t.tuning_aborted, 2);
                    EXPECT_EQ(t.tuning_state, INKORA_LOCATION_1_STYLUS_UP);
                    EXPECT_EQ(t.gain_setting, 9);
                }},
        GetCase{"HardwareConfiguration", 230, {230, 0xCD, 0x5A},
                [](inkora_device* d) { EXPECT_EQ(inkora_genII_query_hardware_configuration(d), 0x5A); }},
        GetCase{"HardwareGuid", 230,
                padded({230, 0x75, 0xEE, 0xEE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0xEE}, 69),
                [](inkora_device* d) {
                    const inkora_hid_feature_guid g = inkora_genII_get_hardware_GUID(d);
                    EXPECT_EQ(g.report_id, 230);
                    EXPECT_EQ(Bytes(g.guid, g.guid + 16),
                              (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
                }},
        GetCase{"RegionIndex", 150, {150, 200}, [](inkora_device* d) { EXPECT_EQ(inkora_get_region_idx(d), 200); }},
        GetCase{"IndexedGraphicJustification", 152, graphic_region_report(),
                [](inkora_device* d) {
                    const inkora_hid_feature_region r = inkora_get_region(d);
                    EXPECT_EQ(r.common.report_id, 152);
                    EXPECT_EQ(r.common.region_index, 3);
                    EXPECT_EQ(r.common.accepts_touch, 1);
                    EXPECT_EQ(r.common.decode_region, 0);
                    EXPECT_EQ(r.common.has_frame, 1);
                    EXPECT_EQ(r.common.output_to_host, 1);
                    EXPECT_EQ(r.common.reserved_9, 0x99);
                    EXPECT_EQ(r.common.x2, 0x0102);
                    EXPECT_EQ(r.common.foreground_color.red, 1);
                    EXPECT_EQ(r.common.foreground_color.alpha, 4);
                    EXPECT_EQ(r.graphic.graphic_number, 7);
                    EXPECT_EQ(r.graphic.horizontal_justification, INKORA_JUSTIFICATION_RIGHT);
                    EXPECT_EQ(r.graphic.vertical_justification, INKORA_JUSTIFICATION_CENTER);
                }},
        GetCase{"IndexedButtonWithResources", 152,
                [] {
                    Bytes b(50, 0);
                    b[0] = 152, b[2] = 1, b[29] = 0x10, b[33] = 9, b[34] = 10;
                    return b;
                }(),
                [](inkora_device* d) {
                    const inkora_hid_feature_region r = inkora_get_region(d);
                    EXPECT_EQ(r.button.use_resource, 1);
                    EXPECT_EQ(r.button.resource_number_normal, 9);
                    EXPECT_EQ(r.button.resource_number_selected, 10);
                    EXPECT_STREQ(r.button.caption, "");
                }},
        GetCase{"IndexedButtonCaptionTakesTheLastByte", 152,
                [] {
                    Bytes b(50, 'x'); // caption bytes 33-49: c + 1 = 17 of them
                    b[0] = 152, b[2] = 1, b[29] = 0x01;
                    return b;
                }(),
                [](inkora_device* d) {
                    const inkora_hid_feature_region r = inkora_get_region(d);
                    EXPECT_EQ(std::string(r.button.caption), std::string(17, 'x'));
                }},
        GetCase{"ResourceSize1024", 142,
                [] {
                    Bytes b = padded({142, 2, 1, 0, 0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0,
                                      0x88, 0x04, 0x03, 0x11},
                                     1045);
                    b[1044] = 0x22;
                    return b;
                }(),
                [](inkora_device* d) {
                    const inkora_hid_feature_resource r = inkora_get_resource(d);
                    EXPECT_EQ(r.report_id, 142);
                    EXPECT_EQ(r.resource_type, INKORA_RESOURCE_TYPE_GRAPHIC);
                    EXPECT_EQ(r.resource_size, 1024u);
                    EXPECT_EQ(r.resource_crc, 0xFFFFFFFFFFFFFFFFull); // through get4
                    EXPECT_EQ(r.reserved_8, 0x88);
                    EXPECT_EQ(r.bytes_valid, 0x0304);
                    EXPECT_EQ(r.resource_data[0], 0x11);
                    EXPECT_EQ(r.resource_data[1023], 0x22);
                }},
        GetCase{"ResourceInfo", 141,
                padded({141, 4, 0, 7, 0x00, 0x01, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 1, 2, 3, 4, 5, 6, 7, 8}, 20),
                [](inkora_device* d) {
                    const inkora_hid_feature_resource_info r = inkora_get_resource_info(d);
                    EXPECT_EQ(r.resource_number, 4);
                    EXPECT_EQ(r.resource_type, INKORA_RESOURCE_TYPE_TEXT);
                    EXPECT_EQ(r.reserved_1, 7);
                    EXPECT_EQ(r.resource_size, 256u);
                    EXPECT_EQ(r.resource_crc, 0x12345678u);
                    EXPECT_EQ(r.reserved_2, 1);
                    EXPECT_EQ(r.reserved_9, 8);
                }},
        GetCase{"ResourceAvailability", 144,
                {144, 3, 0x00, 0x10, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                [](inkora_device* d) {
                    const inkora_hid_feature_resource_availability r = inkora_get_resource_availability(d);
                    EXPECT_EQ(r.number_available, 3);
                    EXPECT_EQ(r.space_available, 4096u);
                    EXPECT_EQ(r.reserved_1, 1u);
                    EXPECT_EQ(r.reserved_12, 12u);
                }},
        GetCase{"ResourceIndex", 140, {140, 5}, [](inkora_device* d) { EXPECT_EQ(inkora_get_resource_idx(d), 5); }},
        GetCase{"ScreenIndex", 160, {160, 2}, [](inkora_device* d) { EXPECT_EQ(inkora_get_screen_idx(d), 2); }},
        GetCase{"ScreenByte2Is0x10", 162, padded({162, 4, 0x10, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0E, 15, 3, 2,
                                                  7, 8},
                                                 80),
                [](inkora_device* d) {
                    const inkora_hid_feature_screen s = inkora_get_screen(d);
                    EXPECT_EQ(s.report_id, 162);
                    EXPECT_EQ(s.screen_number, 4);
                    EXPECT_EQ(s.reset_timeout_on_activity, 1);
                    EXPECT_EQ(s.reserved_1, 9);
                    EXPECT_EQ(s.reserved_14, 0x0E);
                    EXPECT_EQ(s.timeout, 15);
                    EXPECT_EQ(s.timeout_screen_next, 3);
                    EXPECT_EQ(s.region_count, 2);
                    EXPECT_EQ(s.region_list[0], 7);
                    EXPECT_EQ(s.region_list[1], 8);
                    EXPECT_EQ(s.region_list[2], 0);
                }},
        GetCase{"ScreenByte2Is0x01", 162, padded({162, 1, 0x01}, 80),
                [](inkora_device* d) { EXPECT_EQ(inkora_get_screen(d).reset_timeout_on_activity, 0); }},
        GetCase{"ScreenCountBeyondTheReportIsCut", 162,
                [] {
                    Bytes b(80, 0x33);
                    b[0] = 162;
                    b[19] = 200;
                    return b;
                }(),
                [](inkora_device* d) {
                    const inkora_hid_feature_screen s = inkora_get_screen(d);
                    EXPECT_EQ(s.region_count, 30);
                    EXPECT_EQ(s.region_list[29], 0x33);
                    EXPECT_EQ(s.region_list[30], 0);
                    EXPECT_EQ(s.screen_next_list[29], 0x33);
                    EXPECT_EQ(s.screen_next_list[30], 0);
                }},
        GetCase{"ScreenRegionInfo", 170,
                padded({170, 4, 5, 30, 16, 16, 30, 30, 8, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16}, 25),
                [](inkora_device* d) {
                    const inkora_hid_feature_screen_region_info i = inkora_get_screen_region_info(d);
                    EXPECT_EQ(i.report_id, 170);
                    EXPECT_EQ(i.screen_count, 4);
                    EXPECT_EQ(i.regions_per_screen, 30);
                    EXPECT_EQ(i.text_height, 8);
                    EXPECT_EQ(i.reserved_1, 1);
                    EXPECT_EQ(i.reserved_16, 16);
                }},
        GetCase{"ActiveScreen", 171, {171, 3}, [](inkora_device* d) { EXPECT_EQ(inkora_get_active_screen(d), 3); }}),
    [](const testing::TestParamInfo<GetCase>& info) { return std::string(info.param.name); });

// A getter whose read fails returns the zero record; index readers return -1.
TEST_F(ConfigPad, FailedReadsGiveZeroRecordsAndMinusOne) {
    for (uint8_t id : {11, 27, 91, 92, 131, 142, 150, 152, 162, 171, 230})
        tap.refused_gets.insert(id);
    const inkora_hid_capabilities caps = inkora_get_capabilities(device);
    const inkora_hid_capabilities zero_caps = zeroed<inkora_hid_capabilities>();
    EXPECT_EQ(std::memcmp(&caps, &zero_caps, sizeof caps), 0);
    EXPECT_EQ(inkora_get_serial_number(device).report_id, 0);
    EXPECT_EQ(inkora_get_output_configuration(device).report_id, 0);
    EXPECT_EQ(inkora_get_peripheral_configuration(device).report_id, 0);
    EXPECT_EQ(inkora_get_calibration_data(device).report_id, 0);
    EXPECT_EQ(inkora_get_resource(device).report_id, 0);
    EXPECT_EQ(inkora_get_screen(device).report_id, 0);
    EXPECT_EQ(inkora_get_region(device).common.report_id, 0);
    EXPECT_EQ(inkora_get_region_idx(device), -1);
    EXPECT_EQ(inkora_get_active_screen(device), -1);
    EXPECT_EQ(inkora_genII_query_hardware_configuration(device), -1);
    EXPECT_EQ(inkora_genII_get_tuning_status(device).report_id, 0);
    EXPECT_EQ(inkora_genII_get_hardware_GUID(device).report_id, 0);
    EXPECT_STREQ(inkora_get_last_error(), "Report 230 refused by the test.");
}

TEST_F(ConfigPad, ExtendedCommandWhoseWriteFailsReadsNothing) {
    tap.refused_sets.insert(230);
    EXPECT_EQ(inkora_genII_query_hardware_configuration(device), -1);
    EXPECT_EQ(inkora_genII_tune(device), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_genII_set_device_pid(device, 1), INKORA_CODE_ERROR);
    EXPECT_TRUE(tap.gets.empty());
}

// The extended commands that read write the command first, then read back.
TEST_F(ConfigPad, ExtendedReadsWriteTheCommandFirst) {
    tap.answers[230] = {230, 0x35, 0x07};
    inkora_genII_get_tuning_status(device);
    inkora_genII_query_hardware_configuration(device);
    inkora_genII_get_hardware_GUID(device);
    const std::vector<Bytes> reports = written();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], padded({230, 0x54, 0x54, 0x35}, 69));
    EXPECT_EQ(reports[1], padded({230, 0xCD}, 69));
    EXPECT_EQ(reports[2], padded({230, 0x75}, 69));
    EXPECT_EQ(tap.gets, (std::vector<uint8_t>{230, 230, 230}));
}

TEST_F(ConfigPad, RecordsRoundTripThroughThePad) {
    // The pad keeps what it was sent: a record written and read back is the same.
    ASSERT_EQ(inkora_set_pen_parameters(device, pen_parameters()), INKORA_CODE_SUCCESS);
    inkora_hid_feature_pen_parameters expected = pen_parameters();
    expected.report_id = 50;
    const inkora_hid_feature_pen_parameters back = inkora_get_pen_parameters(device);
    EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0);

    ASSERT_EQ(inkora_set_calibration_data(device, calibration_data()), INKORA_CODE_SUCCESS);
    inkora_hid_feature_calibration_data calibration = calibration_data();
    calibration.report_id = 131;
    calibration.is_calibrated = 1;
    const inkora_hid_feature_calibration_data read = inkora_get_calibration_data(device);
    EXPECT_EQ(std::memcmp(&read, &calibration, sizeof read), 0);

    ASSERT_EQ(inkora_set_power_state(device, inkora_hid_feature_power_state{0, INKORA_ASIC_POWER_STATE_STANDBY}),
              INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_get_power_state(device).power_state, INKORA_ASIC_POWER_STATE_STANDBY);
}

// ---------------------------------------------------------------------------
// Procedures: the ordered reports the pad receives

TEST_F(ConfigPad, RunModeWaitsForTheReportBufferOnBothSides) {
    ASSERT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{10, 0}}));
    EXPECT_EQ(tap.status_reads, 2);
    EXPECT_TRUE(pad_in_command_mode());
}

TEST_F(ConfigPad, RunModeWithTheReportBufferHeldWritesNothing) {
    tap.held = INTERLOCK_REPORTBUFFER;
    EXPECT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_ERROR);
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(tap.status_reads, 500);
    EXPECT_STREQ(inkora_get_last_error(), "Problem waiting for firmware interlock: device didn't respond in time, "
                                          "sleep: 500, requested interlock: 1, Returned status: 1");
}

TEST_F(ConfigPad, RunModeWhoseSecondWaitTimesOutFails) {
    tap.hold_after = INKORA_REPORT_ID_RUN_MODE;
    tap.hold_after_bits = INTERLOCK_REPORTBUFFER | INTERLOCK_DISPLAY;
    EXPECT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{10, 0}})); // written all the same
}

Bytes serial_report(const std::string& text) {
    Bytes b(35, 0);
    b[0] = 27;
    std::copy(text.begin(), text.end(), b.begin() + 1);
    b[33] = INKORA_SERIAL_NUMBER_WRITE_KEY_1;
    b[34] = INKORA_SERIAL_NUMBER_WRITE_KEY_2;
    return b;
}

TEST_F(ConfigPad, SerialNumberOf40CharactersKeeps31AndReturnsToPenMode) {
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    ASSERT_EQ(text.size(), 40u);
    ASSERT_EQ(inkora_set_serial_number(device, text.c_str(), 40), INKORA_CODE_SUCCESS);
    // Discard (screen-and-region commit), command mode, the write, pen mode.
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}, {27, 'A'}, {10, 2}}));
    const Bytes report = written()[2];
    EXPECT_EQ(report, serial_report(text.substr(0, 31)));
    EXPECT_EQ(report[32], 0);
    EXPECT_FALSE(pad_in_command_mode());
    EXPECT_STREQ(inkora_get_serial_number(device).serial_number, text.substr(0, 31).c_str());
}

TEST_F(ConfigPad, SerialNumberStopsAtTheEndOfAShorterText) {
    ASSERT_EQ(inkora_set_serial_number(device, "SN-1", 31), INKORA_CODE_SUCCESS);
    EXPECT_EQ(written()[2], serial_report("SN-1"));
}

TEST_F(ConfigPad, SerialNumberToAnIdlePadReturnsToCommandMode) {
    ASSERT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_SUCCESS);
    baseline = inkora_simulated_written_report_count(device);
    ASSERT_EQ(inkora_set_serial_number(device, "IDLE", 4), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}, {27, 'I'}, {10, 0}}));
    EXPECT_TRUE(pad_in_command_mode());
}

TEST_F(ConfigPad, SerialNumberWithoutAReadableStatusReturnsToPenMode) {
    ASSERT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_SUCCESS);
    baseline = inkora_simulated_written_report_count(device);
    tap.refused_gets.insert(INKORA_REPORT_ID_DEVICE_STATUS); // waits then count as free
    ASSERT_EQ(inkora_set_serial_number(device, "X", 1), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}, {27, 'X'}, {10, 2}}));
}

TEST_F(ConfigPad, SerialNumberWithTheRegionInterlockHeldWritesNothing) {
    tap.held = INTERLOCK_REGION;
    EXPECT_EQ(inkora_set_serial_number(device, "X", 1), INKORA_CODE_ERROR);
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(tap.status_reads, 100);
    EXPECT_FALSE(pad_in_command_mode()); // run mode untouched
}

TEST_F(ConfigPad, SerialNumberFallsBackToTheRegionCommit) {
    tap.refused_sets.insert(INKORA_REPORT_ID_SCREEN_REGION_COMMIT);
    ASSERT_EQ(inkora_set_serial_number(device, "Y", 1), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{115, 0}, {10, 0}, {27, 'Y'}, {10, 2}}));
}

TEST_F(ConfigPad, SerialNumberFailsWhenNoDiscardSucceeds) {
    tap.refused_sets = {INKORA_REPORT_ID_SCREEN_REGION_COMMIT, INKORA_REPORT_ID_REGION_COMMIT};
    EXPECT_EQ(inkora_set_serial_number(device, "Y", 1), INKORA_CODE_ERROR);
    EXPECT_TRUE(written().empty());
}

TEST_F(ConfigPad, SerialNumberWriteRefusedStillRestoresTheRunMode) {
    tap.refused_sets.insert(INKORA_REPORT_ID_SERIAL_NUMBER);
    EXPECT_EQ(inkora_set_serial_number(device, "Z", 1), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}, {10, 2}}));
}

TEST_F(ConfigPad, CalibrationStartDiscardsEditsFirst) {
    ASSERT_EQ(inkora_device_calibrate(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {130, 0}}));
}

TEST_F(ConfigPad, CalibrationWithTheInterlockHeldWritesNoCalibrate) {
    tap.held = INTERLOCK_CALIBRATE;
    EXPECT_EQ(inkora_device_calibrate(device), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 0}}));
    tap.status_reads = 0;
    EXPECT_EQ(inkora_device_cancel_calibrate(device), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 0}}));
    EXPECT_EQ(tap.status_reads, 100);
}

TEST_F(ConfigPad, RefusedCalibrationWaitsOnceMore) {
    tap.refused_sets.insert(INKORA_REPORT_ID_CALIBRATE);
    EXPECT_EQ(inkora_device_cancel_calibrate(device), INKORA_CODE_ERROR);
    EXPECT_EQ(tap.status_reads, 2);
}

TEST_F(ConfigPad, CalibrationStateWithTheInterlockHeldReadsNothing) {
    tap.held = INTERLOCK_CALIBRATE | INTERLOCK_REGION;
    tap.answers[130] = {130, 0x31};
    // The 2103-poll budget runs out: a zero record without a read.
    const inkora_hid_feature_calibrate state = inkora_get_calibrate_state(device);
    EXPECT_EQ(state.report_id, 0);
    EXPECT_EQ(tap.status_reads, 2103);
    EXPECT_TRUE(tap.gets.empty());
}

inkora_hid_feature_error_correction_table table_of(uint8_t seed) {
    auto table = zeroed<inkora_hid_feature_error_correction_table>();
    for (size_t i = 0; i < sizeof table.data; ++i)
        table.data[i] = static_cast<uint8_t>(i * 7 + seed);
    return table;
}

TEST_F(ConfigPad, ErrorCorrectionTableInCommandModeChangesTheIdentifier) {
    const inkora_hid_feature_error_correction_table table = table_of(3);
    tap.answers[26] = Bytes(1, 26);
    tap.answers[26].insert(tap.answers[26].end(), table.data, table.data + sizeof table.data);
    ASSERT_EQ(inkora_set_error_correction(device, table), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}, {26, table.data[0]}, {10, 2}}));
    EXPECT_EQ(written()[2], tap.answers[26]);
    // The identifier is the MD5 of the table: a pad answering the new table shows a new one.
    uint8_t* fresh = inkora_get_device_uuid(device);
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(std::memcmp(fresh, device->uuid, 16), 0);
    inkora_free_device_uuid(fresh);
}

TEST_F(ConfigPad, ErrorCorrectionWhoseWaitTimesOutLeavesCommandMode) {
    tap.hold_after = INKORA_REPORT_ID_RUN_MODE;
    tap.hold_after_bits = INTERLOCK_REPORTBUFFER;
    EXPECT_EQ(inkora_set_error_correction(device, table_of(1)), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}}));
    EXPECT_EQ(tap.status_reads, 2 + 1 + 500 + 2200); // the discard's, run mode's, then the table's
    EXPECT_TRUE(pad_in_command_mode());
}

TEST_F(ConfigPad, ErrorCorrectionWriteRefusedLeavesCommandMode) {
    tap.refused_sets.insert(INKORA_REPORT_ID_ERROR_CORRECTION_TABLE);
    EXPECT_EQ(inkora_set_error_correction(device, table_of(1)), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 0}, {10, 0}}));
    EXPECT_TRUE(pad_in_command_mode());
}

int reports_received = 0;
inkora_hid_input_extended_coordinate last_coordinate;

void record_coordinate(inkora_device*, inkora_input_report* report, uint8_t type, const uint8_t*, uint32_t) {
    ++reports_received;
    if (type == INKORA_INPUT_REPORT_EXTENDED_COORDINATE)
        last_coordinate = report->extended_coordinate;
}

TEST_F(ConfigPad, SimulatedPenDownReachesTheInputCallback) {
    reports_received = 0;
    std::memset(&last_coordinate, 0, sizeof last_coordinate);
    inkora_register_input_callback(device, record_coordinate);
    const inkora_pen_coordinate pen{0, 2, 300, 100, 1};
    ASSERT_EQ(inkora_simulate_pen_input(device, &pen), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_device_read(device), INKORA_CODE_SUCCESS);
    ASSERT_EQ(reports_received, 1);
    EXPECT_EQ(last_coordinate.x, 300);
    EXPECT_EQ(last_coordinate.y, 100);
    EXPECT_EQ(last_coordinate.sample_info.common.down, 1);
    EXPECT_EQ(last_coordinate.region, 1); // the ink container
}

TEST_F(ConfigPad, RefusedPenSimulationFails) {
    tap.refused_sets.insert(INKORA_REPORT_ID_PEN_INPUT_SIMULATION);
    const inkora_pen_coordinate pen{0, 1, 1, 1, 1};
    EXPECT_EQ(inkora_simulate_pen_input(device, &pen), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_simulate_pen_input(device, nullptr), INKORA_CODE_ERROR);
    EXPECT_TRUE(written().empty());
}

// ---------------------------------------------------------------------------
// Regions

TEST_F(ConfigPad, RegionWriteChangesTheDevicesCopy) {
    ASSERT_EQ(device->display_info.max_caption_length, 16);
    ASSERT_EQ(inkora_set_region(device, ok_button()), INKORA_CODE_SUCCESS);
    const inkora_device_region_info expected = ok_button();
    EXPECT_EQ(std::memcmp(&device->regions[4], &expected, sizeof expected), 0);
    // The pad took it too: its table now holds the new bounds.
    inkora_device_region_info* table = inkora_get_regions(device);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table[4].common.x1, 214);
    EXPECT_EQ(table[4].button.clear_on_select, 1);
    EXPECT_STREQ(table[4].button.caption, "OK");
    inkora_free_regions(table);
}

struct OutOfBounds {
    const char* name;
    std::function<inkora_error_code(inkora_device*, uint8_t)> call;
    const char* text; // %u replaced by the number
};

void PrintTo(const OutOfBounds& c, std::ostream* out) { *out << c.name; }

class RegionBounds : public ConfigPad, public testing::WithParamInterface<std::tuple<OutOfBounds, uint8_t>> {};

TEST_P(RegionBounds, RefusedBeforeAnythingIsSent) {
    const auto& [c, number] = GetParam();
    EXPECT_EQ(c.call(device, number), INKORA_CODE_ERROR);
    EXPECT_TRUE(written().empty());
    EXPECT_EQ(tap.status_reads, 0);
    char text[160];
    std::snprintf(text, sizeof text, c.text, static_cast<unsigned>(number));
    EXPECT_STREQ(inkora_get_last_error(), text);
}

INSTANTIATE_TEST_SUITE_P(
    ZeroAndNPlusOne, RegionBounds,
    testing::Combine(
        testing::Values(
            OutOfBounds{"Write",
                        [](inkora_device* d, uint8_t n) {
                            inkora_device_region_info r = ok_button();
                            r.common.region_number = n;
                            return inkora_set_region(d, r);
                        },
                        "Region number was out of bounds, min: 1, max: 5, specified: %u\n"},
            OutOfBounds{"Update",
                        [](inkora_device* d, uint8_t n) {
                            auto update = zeroed<inkora_hid_feature_region_update>();
                            update.region_number = n;
                            return inkora_update_region(d, update);
                        },
                        "Region number out of bounds."},
            OutOfBounds{"Delete", [](inkora_device* d, uint8_t n) { return inkora_delete_region(d, n); },
                        "Region number out of bounds."},
            OutOfBounds{"DeleteFromStore",
                        [](inkora_device* d, uint8_t n) { return inkora_delete_device_region(d, n); },
                        "Region number out of bounds."}),
        testing::Values<uint8_t>(0, 6)),
    [](const testing::TestParamInfo<std::tuple<OutOfBounds, uint8_t>>& info) {
        return std::string(std::get<0>(info.param).name) + "Region" + std::to_string(std::get<1>(info.param));
    });

TEST_F(ConfigPad, UpdateAndDeletionsLeaveTheDevicesCopy) {
    const inkora_device_region_info before = device->regions[2];
    inkora_hid_feature_region_update update{0, 3, 0, 0, 0, {1, 2, 3, 4}, 0};
    ASSERT_EQ(inkora_update_region(device, update), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_delete_region(device, 3), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_delete_device_region(device, 3), INKORA_CODE_SUCCESS);
    EXPECT_EQ(std::memcmp(&device->regions[2], &before, sizeof before), 0);
    EXPECT_EQ(sequence(), (Steps{{113, 3}, {114, 3}, {153, 3}}));
}

TEST_F(ConfigPad, RegionWritesWaitForTheirInterlocks) {
    tap.held = INTERLOCK_SCREEN;
    EXPECT_EQ(inkora_set_region(device, ok_button()), INKORA_CODE_SUCCESS);  // region only
    EXPECT_EQ(inkora_delete_region(device, 2), INKORA_CODE_SUCCESS);        // region only
    EXPECT_EQ(inkora_delete_device_region(device, 2), INKORA_CODE_ERROR);   // region and screen
    tap.held = INTERLOCK_REGION;
    EXPECT_EQ(inkora_set_region_contents(device, graphic_region()), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_update_region(device, inkora_hid_feature_region_update{0, 2, 1, 1, 0, {}, 0}),
              INKORA_CODE_SUCCESS); // no wait at all
    EXPECT_EQ(sequence(), (Steps{{112, 5}, {114, 2}, {113, 2}}));
    EXPECT_EQ(inkora_get_region(device).common.report_id, 0);
}

TEST_F(ConfigPad, IndexedRegionWriteReReadsTheTable) {
    inkora_device_region_info* old = device->regions;
    ASSERT_EQ(inkora_set_region_idx(device, 2), INKORA_CODE_SUCCESS);
    tap.gets.clear();
    auto region = zeroed<inkora_hid_feature_region>();
    region.common.region_index = 2;
    region.common.region_type = INKORA_REGION_TYPE_LINE;
    region.common.x1 = 5;
    region.common.x2 = 300;
    region.line.line_width = 4;
    ASSERT_EQ(inkora_set_region_contents(device, region), INKORA_CODE_SUCCESS);
    EXPECT_EQ(tap.gets, (std::vector<uint8_t>{110}));
    ASSERT_NE(device->regions, nullptr);
    EXPECT_NE(device->regions, old);
    // The pad applied the indexed write to its table, and the copy shows it.
    EXPECT_EQ(device->regions[1].common.x1, 5);
    EXPECT_EQ(device->regions[1].common.x2, 300);
    EXPECT_EQ(device->regions[1].line.width, 4);
}

TEST_F(ConfigPad, PerRegionReadsThroughTheIndex) {
    inkora_hid_feature_region* regions = inkora_get_device_regions(device);
    ASSERT_NE(regions, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(regions[i].common.report_id, 152);
    inkora_free_device_regions(regions);
    EXPECT_EQ(sequence(), (Steps{{150, 1}}));
    EXPECT_EQ(tap.gets, (std::vector<uint8_t>{170, 152, 152, 152, 152, 152}));

    tap.refused_sets.insert(INKORA_REPORT_ID_REGION_INDEX);
    EXPECT_EQ(inkora_get_device_regions(device), nullptr);
    tap.refused_sets.clear();
    tap.answers[152] = {153};
    regions = inkora_get_device_regions(device); // the report id is the report's ...
    EXPECT_NE(regions, nullptr);
    inkora_free_device_regions(regions);
    tap.refused_gets.insert(152);
    EXPECT_EQ(inkora_get_device_regions(device), nullptr); // ... and a failed read stops it
    tap.refused_gets = {170};
    EXPECT_EQ(inkora_get_device_regions(device), nullptr);
}

// ---------------------------------------------------------------------------
// Screens

TEST_F(ConfigPad, ScreenOf35RegionsReadsBackWith30) {
    ASSERT_EQ(inkora_set_screen(device, screen_with_35_regions()), INKORA_CODE_SUCCESS);
    const inkora_hid_feature_screen back = inkora_get_screen(device);
    EXPECT_EQ(back.region_count, 30);
    EXPECT_EQ(back.region_list[29], 30);
    EXPECT_EQ(back.screen_next_list[29], 129);
    EXPECT_EQ(back.region_list[30], 0);
    EXPECT_EQ(back.reset_timeout_on_activity, 1);
}

struct AddCase {
    const char* name;
    uint8_t count_before;
    int32_t region;
    inkora_error_code result;
    uint8_t count_after;
    int entry;     // entry expected to hold region / next screen, -1 none
};

void PrintTo(const AddCase& c, std::ostream* out) { *out << c.name; }

class AddRegionToScreen : public testing::TestWithParam<AddCase> {};

TEST_P(AddRegionToScreen, ChangesOnlyTheRecord) {
    auto screen = zeroed<inkora_hid_feature_screen>();
    screen.region_count = GetParam().count_before;
    for (int i = 0; i < 100; ++i) {
        screen.region_list[i] = static_cast<uint8_t>(i + 1);
        screen.screen_next_list[i] = 1;
    }
    const inkora_hid_feature_screen before = screen;
    EXPECT_EQ(inkora_add_region_to_screen(&screen, GetParam().region, 7), GetParam().result);
    EXPECT_EQ(screen.region_count, GetParam().count_after);
    if (GetParam().entry < 0) {
        EXPECT_EQ(std::memcmp(&screen, &before, sizeof screen), 0);
    } else {
        EXPECT_EQ(screen.region_list[GetParam().entry], GetParam().region);
        EXPECT_EQ(screen.screen_next_list[GetParam().entry], 7);
        for (int i = 0; i < 100; ++i) {
            if (i != GetParam().entry) {
                EXPECT_EQ(screen.screen_next_list[i], 1) << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddRegionToScreen,
    testing::Values(AddCase{"ListedRegionKeepsTheCount", 5, 3, INKORA_CODE_SUCCESS, 5, 2},
                    AddCase{"NewRegionIsAppended", 5, 50, INKORA_CODE_SUCCESS, 6, 5},
                    AddCase{"RegionBeyondTheCountIsAppended", 5, 8, INKORA_CODE_SUCCESS, 6, 5},
                    AddCase{"ListedInAFullScreen", 100, 100, INKORA_CODE_SUCCESS, 100, 99},
                    AddCase{"The101stIsRefused", 100, 200, INKORA_CODE_ERROR, 100, -1},
                    AddCase{"CountAbove100IsRefused", 150, 200, INKORA_CODE_ERROR, 150, -1}),
    [](const testing::TestParamInfo<AddCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigPad, ScreenReportsWaitForTheScreenInterlock) {
    tap.held = INTERLOCK_SCREEN;
    EXPECT_EQ(inkora_get_active_screen(device), -1);
    EXPECT_TRUE(tap.gets.empty()); // read nothing
    EXPECT_EQ(inkora_set_active_screen(device, 1), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_set_screen(device, screen_with_35_regions()), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_get_screen(device).report_id, 0);
    EXPECT_EQ(inkora_delete_screen(device, 1), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_delete_resource(device, 1), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_set_edit_screen(device, zeroed<inkora_hid_feature_edit_screen>()), INKORA_CODE_ERROR);
    // The index reports do not wait.
    EXPECT_EQ(inkora_set_screen_idx(device, 1), INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_set_resource_idx(device, 1), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{160, 1}, {140, 1}}));
}

TEST_F(ConfigPad, CommitWhoseClosingWaitTimesOutFailsAfterWriting) {
    tap.hold_after = INKORA_REPORT_ID_SCREEN_REGION_COMMIT;
    tap.hold_after_bits = INTERLOCK_SCREEN;
    EXPECT_EQ(inkora_set_screen_region_commit(device, INKORA_SCREEN_REGION_SAVE_CHANGES), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{172, 1}}));
    EXPECT_EQ(tap.status_reads, 1 + 2100);
}

// ---------------------------------------------------------------------------
// Display reset and modes

TEST_F(ConfigPad, ClearReActivatesTheActiveScreen) {
    ASSERT_EQ(inkora_clear_screen(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{171, 1}}));
    EXPECT_EQ(tap.gets, (std::vector<uint8_t>{171}));
}

TEST_F(ConfigPad, ClearWithoutScreensCoversTheDisplayWithTheLastRegion) {
    tap.refused_gets.insert(INKORA_REPORT_ID_ACTIVE_SCREEN);
    ASSERT_EQ(inkora_clear_screen(device), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> reports = written();
    ASSERT_EQ(reports.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(reports[i].size(), 46u);
        EXPECT_EQ(reports[i][1], 5);                                   // region n
        EXPECT_EQ(reports[i][2], INKORA_REGION_TYPE_CONTAINER);
        EXPECT_EQ(reports[i][3], i == 0 ? 0x0E : 0x0A);                // decode, in use, visible then not
        EXPECT_EQ(Bytes(reports[i].begin() + 9, reports[i].begin() + 17),
                  (Bytes{0, 0, 0x3F, 0x01, 0, 0, 0xBF, 0x00}));          // 0-319, 0-191
    }
    // The copy keeps the changed values (the last write's, invisible).
    EXPECT_EQ(device->regions[4].common.region_type, INKORA_REGION_TYPE_CONTAINER);
    EXPECT_EQ(device->regions[4].common.x2, 319);
    EXPECT_EQ(device->regions[4].common.visible, 0);
}

TEST_F(ConfigPad, ClearFailsWithoutRegionsOrDisplayInfo) {
    tap.refused_gets.insert(INKORA_REPORT_ID_ACTIVE_SCREEN);
    inkora_device_region_info* regions = device->regions;
    device->regions = nullptr;
    EXPECT_EQ(inkora_clear_screen(device), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Device regions is null, unable to clear screen.");
    device->regions = regions;
    const inkora_hid_feature_display_info info = device->display_info;
    device->display_info.report_id = 0;
    EXPECT_EQ(inkora_clear_screen(device), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "Device display info is unset, unable to clear screen.");
    device->display_info = info;
    EXPECT_TRUE(written().empty());
}

TEST_F(ConfigPad, RestoreDefaultsByCommitOnABusyPad) {
    ASSERT_EQ(inkora_restore_default_regions(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{10, 0}, {172, 0}, {10, 2}}));
    EXPECT_FALSE(pad_in_command_mode());
}

TEST_F(ConfigPad, RestoreDefaultsByCommitOnAnIdlePadKeepsTheRunMode) {
    ASSERT_EQ(inkora_set_run_mode(device, INKORA_RUNMODE_COMMAND), INKORA_CODE_SUCCESS);
    baseline = inkora_simulated_written_report_count(device);
    ASSERT_EQ(inkora_restore_default_regions(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{172, 0}}));
}

TEST_F(ConfigPad, RestoreDefaultsRegionByRegionSkipsRegion1) {
    tap.refused_sets.insert(INKORA_REPORT_ID_SCREEN_REGION_COMMIT);
    // Region 1 and region 3 differ from their defaults on the pad.
    inkora_device_region_info first = device->regions[0];
    first.common.x2 = 100;
    inkora_device_region_info third = device->regions[2];
    std::strcpy(third.button.caption, "Erase");
    ASSERT_EQ(inkora_set_region(device, first), INKORA_CODE_SUCCESS);
    ASSERT_EQ(inkora_set_region(device, third), INKORA_CODE_SUCCESS);
    baseline = inkora_simulated_written_report_count(device);
    tap.gets.clear();

    ASSERT_EQ(inkora_restore_default_regions(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{10, 0}, {10, 2}, {112, 3}}));
    EXPECT_EQ(tap.gets, (std::vector<uint8_t>{111, 110}));
    inkora_device_region_info* defaults = inkora_get_default_regions(device);
    ASSERT_NE(defaults, nullptr);
    const inkora_device_region_info expected = defaults[2];
    inkora_free_regions(defaults);
    EXPECT_STREQ(device->regions[2].button.caption, "Clear");
    EXPECT_EQ(std::memcmp(&device->regions[2], &expected, sizeof expected), 0);
    // Restoring again finds only region 1 different and writes nothing.
    baseline = inkora_simulated_written_report_count(device);
    ASSERT_EQ(inkora_restore_default_regions(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(sequence(), (Steps{{10, 0}, {10, 2}}));
}

TEST_F(ConfigPad, RestoreDefaultsFailsWhenAReadFails) {
    tap.refused_sets.insert(INKORA_REPORT_ID_SCREEN_REGION_COMMIT);
    tap.refused_gets.insert(INKORA_REPORT_ID_DEFAULT_REGIONS);
    EXPECT_EQ(inkora_restore_default_regions(device), INKORA_CODE_ERROR);
}

TEST_F(ConfigPad, RestoreDefaultsWhoseWaitAfterTheDiscardTimesOutStaysInCommandMode) {
    // Held from the status read after the commit's own closing wait.
    tap.hold_after = INKORA_REPORT_ID_SCREEN_REGION_COMMIT;
    tap.hold_after_bits = INTERLOCK_REGION;
    tap.hold_after_skip = 1;
    EXPECT_EQ(inkora_restore_default_regions(device), INKORA_CODE_ERROR);
    EXPECT_EQ(sequence(), (Steps{{10, 0}, {172, 0}}));
    EXPECT_TRUE(pad_in_command_mode());
}

// The reports of a mode switch: [id, first value byte] and the key bytes.
Steps mode_steps(bool commit, bool mag) {
    Steps steps{{172, 90}, {171, 1}, {171, 1}, {10, 0}, {172, 0}, {10, 2}, {160, 1}, {162, 0}, {162, 0}, {10, 0}};
    if (commit)
        steps.emplace_back(172, 1);
    steps.emplace_back(91, 0); // first byte of output_report filled in by the test
    steps.emplace_back(171, 1);
    if (mag)
        steps.emplace_back(92, 0);
    steps.emplace_back(10, 2);
    return steps;
}

struct ModeCase {
    const char* name;
    inkora_error_code (*set)(inkora_device*, uint8_t);
    uint8_t commit;
    uint8_t mag_reader; // byte 41 of the capabilities
    uint8_t next;       // S
    uint8_t timeout;    // T
    Bytes output;       // report 91 expected
    uint8_t mag_output; // M
};

void PrintTo(const ModeCase& c, std::ostream* out) { *out << c.name; }

class Modes : public ConfigPad, public testing::WithParamInterface<ModeCase> {};

TEST_P(Modes, SendTheSequenceWithTheTablesValues) {
    const ModeCase& c = GetParam();
    // The pad's capabilities with the magnetic reader byte of the case.
    Bytes caps(65, 0);
    caps[0] = 11, caps[3] = 0x0C, caps[5] = 2, caps[41] = c.mag_reader, caps[45] = 1;
    tap.answers[11] = caps;
    // What the pad holds for output and peripheral configuration beforehand.
    ASSERT_EQ(model_set(device, padded({91, 0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0x20, 0, 0x80}, 10).data(), 10),
              INKORA_CODE_SUCCESS);
    ASSERT_EQ(model_set(device, padded({92, 0x01, 0x33}, 17).data(), 17), INKORA_CODE_SUCCESS);
    baseline = inkora_simulated_written_report_count(device);

    ASSERT_EQ(c.set(device, c.commit), INKORA_CODE_SUCCESS);
    Steps expected = mode_steps(c.commit != 0, (c.mag_reader & 0x80) != 0);
    const std::vector<Bytes> reports = written();
    ASSERT_EQ(reports.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(reports[i][0], expected[i].first) << "report " << i;

    // Screens A and B: A gets the follow-on screen, B also the time-out and regions 3 and 4.
    const Bytes& a = reports[7];
    const Bytes& b = reports[8];
    EXPECT_EQ(a[18], c.next);
    EXPECT_EQ(a[19], 0);
    EXPECT_EQ(b[17], c.timeout);
    EXPECT_EQ(b[18], c.next);
    EXPECT_EQ(Bytes(b.begin() + 19, b.begin() + 22), (Bytes{2, 3, 4}));
    EXPECT_EQ(Bytes(b.begin() + 50, b.begin() + 52), (Bytes{c.next, c.next}));

    const size_t output_at = c.commit != 0 ? 11 : 10;
    EXPECT_EQ(reports[output_at], c.output);
    if ((c.mag_reader & 0x80) != 0) {
        const Bytes& peripheral = reports[output_at + 2];
        EXPECT_EQ(peripheral[1], c.mag_output);
        EXPECT_EQ(peripheral[2], 0x33); // the rest as read
        EXPECT_EQ(peripheral[16], c.commit != 0 ? 0x01 : 0x00);
    }
    EXPECT_FALSE(pad_in_command_mode());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Modes,
    testing::Values(
        ModeCase{"NiblineWithoutCommit", inkora_set_nibline_mode, 0, 0x83, 2, 0,
                 {91, 0x02, 0x00, 0x00, 0x40, 0, 3, 0, 0, 0x80}, 1},
        ModeCase{"NiblineWithCommit", inkora_set_nibline_mode, 1, 0x83, 2, 0,
                 {91, 0x02, 0x00, 0x00, 0x40, 0, 3, 0, 0, 0x81}, 1},
        ModeCase{"GlidenoteWithCommit", inkora_set_glidenote_mode, 1, 0x83, 3, 15,
                 {91, 0x00, 0x00, 0x01, 0x40, 0, 3, 0, 0, 0x81}, 12},
        ModeCase{"GlidenoteWithoutMagneticReader", inkora_set_glidenote_mode, 0, 0x03, 3, 15,
                 {91, 0x00, 0x00, 0x01, 0x40, 0, 3, 0, 0, 0x80}, 12}),
    [](const testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

struct Qualifies {
    uint8_t coordinate_modes;
    uint8_t screens;
    bool expected;
};

void PrintTo(const Qualifies& c, std::ostream* out) {
    *out << "modes " << int(c.coordinate_modes) << " screens " << int(c.screens);
}

class ModeQualification : public ConfigPad, public testing::WithParamInterface<Qualifies> {};

TEST_P(ModeQualification, OnlyPadsWithScreensAndCoordinateModesGetReports) {
    Bytes caps(65, 0);
    caps[0] = 11, caps[3] = GetParam().coordinate_modes, caps[5] = 0, caps[45] = GetParam().screens;
    tap.answers[11] = caps;
    EXPECT_EQ(inkora_set_glidenote_mode(device, 0), INKORA_CODE_SUCCESS);
    EXPECT_EQ(written().empty(), !GetParam().expected);
    if (GetParam().expected) {
        // display_id 0: one screen read, its time-out set, written once.
        const std::vector<Bytes> reports = written();
        size_t screens = 0;
        for (const Bytes& r : reports)
            if (r[0] == 162) {
                ++screens;
                EXPECT_EQ(r[17], 15);
            }
        EXPECT_EQ(screens, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Capabilities, ModeQualification,
                         testing::Values(Qualifies{0x03, 1, true}, Qualifies{0x01, 1, false},
                                         Qualifies{0x04, 1, true}, Qualifies{0x08, 1, true},
                                         Qualifies{0x0C, 0, false}, Qualifies{0x00, 1, false}));

TEST_F(ConfigPad, ModesOnAPadThatDoesNotAnswerSendNothing) {
    tap.refused_gets.insert(INKORA_REPORT_ID_CAPABILITIES);
    EXPECT_EQ(inkora_set_nibline_mode(device, 1), INKORA_CODE_SUCCESS);
    EXPECT_TRUE(written().empty());
}

// ---------------------------------------------------------------------------
// Printers (standard output)

template <typename Print>
std::string printed(Print print) {
    testing::internal::CaptureStdout();
    print();
    return testing::internal::GetCapturedStdout();
}

TEST(Printers, DisplayInfoNamesRightAligned) {
    const inkora_hid_feature_display_info info{100, 320, 192, 8, 30, 8, 5, 16};
    EXPECT_EQ(printed([&] { inkora_print_display_info(&info); }),
              "inkora_hid_feature_display_info structure:\n"
              "           report_id = 100\n"
              "               width = 320\n"
              "              height = 192\n"
              "         color_depth = 8\n"
              "          text_width = 30\n"
              "         text_height = 8\n"
              "        region_count = 5\n"
              "  max_caption_length = 16\n");
}

TEST(Printers, SerialNumberBetweenQuotesAndVersionDotted) {
    inkora_hid_feature_serial_number serial = zeroed<inkora_hid_feature_serial_number>();
    serial.report_id = 27;
    std::strcpy(serial.serial_number, "SN-0042");
    EXPECT_EQ(printed([&] { inkora_print_serial_number(&serial); }),
              "inkora_hid_feature_serial_number structure:\n"
              "      report_id = 27\n"
              "  serial_number = 'SN-0042'\n"
              "    write_key_1 = 0\n"
              "    write_key_2 = 0\n");
    const inkora_hid_feature_version version{22, {1, 2, 3}, {4, 5, 255}, 0x1234};
    EXPECT_EQ(printed([&] { inkora_print_version(&version); }),
              "inkora_hid_feature_version structure:\n"
              "         report_id = 22\n"
              "    kernel_version = 1.2.3\n"
              "  firmware_version = 4.5.255\n"
              "    asic_signature = 4660\n");
}

TEST(Printers, OutputConfigurationNamesModeAndCompression) {
    auto output = zeroed<inkora_hid_feature_output_parameters>();
    output.report_id = 91;
    output.output_report = 0x40000002;
    output.output_mode = static_cast<inkora_output_mode>(9);
    output.compression = INKORA_OUTPUT_COMPRESSED_HIRES;
    output.save_as_default = 1;
    EXPECT_EQ(printed([&] { inkora_print_output_configuration(&output); }),
              "inkora_hid_feature_output_parameters:\n"
              "              report_id = 91\n"
              "          output_report = 0x40000002\n"
              "            output_mode = 9 (UNKNOWN)\n"
              "            compression = 3 (INKORA_OUTPUT_COMPRESSED_HIRES)\n"
              "     packets_per_second = 0\n"
              "        save_as_default = 1\n"
              "  load_factory_settings = 0\n");
}

TEST(Printers, PeripheralConfigurationShowsTheThreeFlags) {
    auto peripheral = zeroed<inkora_hid_feature_peripheral_configuration>();
    peripheral.mag_card_output = static_cast<inkora_mag_card_output>(12);
    const std::string text = printed([&] { inkora_print_peripheral_configuration(&peripheral); });
    EXPECT_EQ(text.rfind("inkora_hid_feature_peripheral_configuration:\n", 0), 0u);
    EXPECT_NE(text.find("             oem_output = 0\n"), std::string::npos);
    EXPECT_NE(text.find("        keyboard_output = 1\n"), std::string::npos);
    EXPECT_NE(text.find("      keyboard_preamble = 1\n"), std::string::npos);
}

TEST(Printers, ByteArraysTwentyToALine) {
    inkora_hid_feature_register_get reg{43, {0, 1, 2, 0xAB, 4, 5, 6, 0xFF}};
    EXPECT_EQ(printed([&] { inkora_print_asic_register(&reg); }),
              "inkora_hid_feature_register_get structure:\n"
              "      report_id = 43\n"
              "  register_info = \n"
              "    00 01 02 ab 04 05 06 ff \n");
    auto table = zeroed<inkora_hid_feature_error_correction_table>();
    const std::string text = printed([&] { inkora_print_error_correction_table(&table); });
    // 2048 bytes: 102 full lines of 20 and one of 8.
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n' ? 1 : 0;
    EXPECT_EQ(lines, 3u + 103u);
    EXPECT_NE(text.find("\n    00 00 00 00 00 00 00 00 \n"), std::string::npos);
}

TEST(Printers, DeviceUuidIn8_4_4_4_12Form) {
    const uint8_t uuid[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(printed([&] { inkora_print_device_uuid(uuid); }),
              "Device UUID:\n  00112233-4455-6677-8899-aabbccddeeff\n");
}

TEST(Printers, NullRecordsPrintTheTitleAndNull) {
    EXPECT_EQ(printed([] { inkora_print_capabilities(nullptr); }), "inkora_hid_capabilities structure:\n  NULL\n");
    EXPECT_EQ(printed([] { inkora_print_frequency_amplitude(nullptr); }),
              "inkora_print_frequency_amplitude structure:\n  NULL\n");
    EXPECT_EQ(printed([] { inkora_print_device_status(nullptr); }), "inkora_hid_feature_device_status:\n  NULL\n");
    EXPECT_EQ(printed([] { inkora_print_calibration_data(nullptr); }),
              "inkora_hid_feature_calibration_data:\n  NULL\n");
    EXPECT_EQ(printed([] { inkora_print_regions(nullptr, 3); }), "inkora_device_region_info structure:\n  NULL\n");
    EXPECT_EQ(printed([] { inkora_print_device_uuid(nullptr); }), "Device UUID:\n  NULL\n");
}

TEST(Printers, DeviceStatusTextIsBoundedByItsField) {
    auto status = zeroed<inkora_hid_feature_device_status>();
    status.report_id = 13;
    std::memset(status.error_info, 'e', sizeof status.error_info); // no terminator
    const std::string text = printed([&] { inkora_print_device_status(&status); });
    EXPECT_NE(text.find("error_info = '" + std::string(64, 'e') + "'\n"), std::string::npos);
}

TEST(Printers, RegionsOfAnArrayOnePerRecord) {
    std::array<inkora_device_region_info, 2> regions{};
    std::memset(regions.data(), 0, sizeof regions);
    regions[0].common.region_number = 1;
    regions[1] = ok_button();
    const std::string text = printed([&] { inkora_print_regions(regions.data(), 2); });
    EXPECT_EQ(text.find("inkora_device_region_info structure:\n"), 0u);
    EXPECT_NE(text.find("inkora_device_region_info structure:\n", 1), std::string::npos);
    EXPECT_NE(text.find("caption = 'OK'\n"), std::string::npos);
    EXPECT_NE(text.find("color_foreground = red 255, green 0, blue 128, alpha 16\n"), std::string::npos);
}

} // namespace
