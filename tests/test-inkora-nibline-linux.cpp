// The Linux HID driver: hex conversion and the report-descriptor walk on
// their own, and the driver's enumeration, open, feature requests, read
// cycle and hot-plug monitor against an emulated hidraw node (umockdev)
// answered by the pad model.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "inkora-nibline-linux.h"
#include "inkora-nibline.h"
#include "inkora-pad-model.hpp"

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

} // namespace
