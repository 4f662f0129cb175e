// The pad model as other parts of the system rely on it: what it answers,
// what writes change, the input it emits, and the test controls.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

#include "inkora-nibline.h"
#include "inkora-pad-model.hpp"

namespace {

using inkora::sim::PadModel;
using Bytes = std::vector<uint8_t>;

Bytes get(PadModel& pad, uint8_t id, size_t length) {
    Bytes buffer(length, 0);
    buffer[0] = id;
    EXPECT_EQ(pad.get_feature(buffer), 0) << int(id);
    return buffer;
}

int set(PadModel& pad, Bytes report) { return pad.set_feature(report); }

uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

TEST(PadModel, StatusStartsUpForTwoReadsAfterEachOpenAndShowsIdleInCommandMode) {
    PadModel pad(1);
    pad.opened();
    EXPECT_EQ(get(pad, 13, 73)[1], 0x01);
    EXPECT_EQ(get(pad, 13, 73)[1], 0x01);
    const Bytes started = get(pad, 13, 73);
    EXPECT_EQ(started[1], 0x00);
    EXPECT_EQ(std::count(started.begin() + 2, started.end(), 0), 71); // no interlock held
    ASSERT_EQ(set(pad, {10, 0}), 0);                                  // run mode: command
    EXPECT_EQ(get(pad, 13, 73)[1], 0x10);
    pad.opened();
    EXPECT_EQ(get(pad, 13, 73)[1], 0x11);
}

TEST(PadModel, FixedReports) {
    PadModel pad(2);
    EXPECT_EQ(get(pad, 100, 10), (Bytes{0x64, 0x40, 0x01, 0xC0, 0x00, 0x08, 0x1E, 0x08, 0x05, 0x10}));
    EXPECT_EQ(get(pad, 22, 9), (Bytes{0x16, 1, 2, 3, 4, 5, 6, 0x34, 0x12}));
    const Bytes table = get(pad, 26, 2049);
    for (size_t i = 0; i < 2048; ++i)
        ASSERT_EQ(table[i + 1], static_cast<uint8_t>((i + 31 * 2) % 256)) << i;
    const Bytes capabilities = get(pad, 11, 65);
    EXPECT_EQ(capabilities[3], 0x0C);
    EXPECT_EQ(capabilities[5], 2);
    EXPECT_EQ(le16(capabilities, 9), 320);
    EXPECT_EQ(le16(capabilities, 11), 192);
    EXPECT_EQ(le16(capabilities, 13), 4096);
    EXPECT_EQ(le16(capabilities, 19), 4095);
    EXPECT_EQ(le16(capabilities, 23), 4095);
    EXPECT_EQ(capabilities[41], 0x83);
    EXPECT_EQ(capabilities[45], 1);
    EXPECT_EQ(get(pad, 170, 25), (Bytes{170, 4, 5, 30, 16, 16, 30, 30, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0}));
    EXPECT_EQ(get(pad, 171, 2), (Bytes{171, 1}));
    EXPECT_EQ(get(pad, 21, 2), (Bytes{21, 0}));
}

TEST(PadModel, WritesReadBack) {
    PadModel pad(1);
    ASSERT_EQ(set(pad, {2, 1}), 0); // power state is written as 2, read as 21
    EXPECT_EQ(get(pad, 21, 2), (Bytes{21, 1}));
    ASSERT_EQ(set(pad, {171, 3}), 0);
    EXPECT_EQ(get(pad, 171, 2), (Bytes{171, 3}));
    EXPECT_EQ(get(pad, 41, 6), (Bytes{41, 0, 0, 0, 0, 0})); // before any write
    ASSERT_EQ(set(pad, {41, 1, 2, 3, 4, 5}), 0);
    EXPECT_EQ(get(pad, 41, 6), (Bytes{41, 1, 2, 3, 4, 5}));
    EXPECT_EQ(pad.written(), (std::vector<Bytes>{{2, 1}, {171, 3}, {41, 1, 2, 3, 4, 5}}));
}

TEST(PadModel, UndeclaredIdsAndUnplugFail) {
    PadModel pad(1);
    Bytes buffer{99, 0};
    EXPECT_EQ(pad.get_feature(buffer), EINVAL);
    EXPECT_EQ(pad.set_feature(buffer), EINVAL);
    EXPECT_FALSE(PadModel::declares(255));
    pad.unplug();
    Bytes status(73, 0);
    status[0] = 13;
    EXPECT_EQ(pad.get_feature(status), ENODEV);
    std::vector<uint8_t> report;
    EXPECT_EQ(pad.wait_input(report, std::chrono::milliseconds(1)), PadModel::Wait::unplugged);
}

inkora_device_region_info decode(const Bytes& report, size_t index) {
    inkora_device_region_info regions[5];
    inkora_parse_regions(report.data(), regions, 5, 16);
    return regions[index];
}

TEST(PadModel, RegionTableChangesWithRegionWrites) {
    PadModel pad(1);
    const Bytes defaults = get(pad, 111, 226);
    EXPECT_TRUE(std::equal(defaults.begin() + 1, defaults.end(), get(pad, 110, 226).begin() + 1));
    EXPECT_STREQ(decode(defaults, 3).button.caption, "Cancel");
    EXPECT_EQ(decode(defaults, 1).line.parent, 1);

    // Report 112: region 4 becomes a button "Sign" at 100-150, 10-20.
    Bytes write(46, 0);
    write[0] = 112;
    write[1] = 4;
    write[2] = INKORA_REGION_TYPE_BUTTON;
    write[3] = 0x0D; // accept touch, visible, in use
    write[9] = 100;
    write[11] = 150;
    write[13] = 10;
    write[15] = 20;
    write[26] = 0x01; // enabled
    std::memcpy(&write[29], "Sign", 4);
    ASSERT_EQ(set(pad, write), 0);
    inkora_device_region_info changed = decode(get(pad, 110, 226), 3);
    EXPECT_STREQ(changed.button.caption, "Sign");
    EXPECT_EQ(changed.common.x2, 150);
    EXPECT_EQ(changed.button.enable, 1);
    EXPECT_EQ(changed.common.visible, 1);

    // Report 113: hide it and change its colour.
    ASSERT_EQ(set(pad, {113, 4, 0x01, 0, 9, 8, 7, 6, 0, 0, 0, 0}), 0);
    changed = decode(get(pad, 110, 226), 3);
    EXPECT_EQ(changed.common.visible, 0);
    EXPECT_EQ(changed.common.color_foreground.red, 9);
    EXPECT_EQ(changed.common.color_foreground.alpha, 6);

    // Report 114: delete region 5.
    ASSERT_EQ(set(pad, {114, 5}), 0);
    EXPECT_EQ(decode(get(pad, 110, 226), 4).common.region_type, INKORA_REGION_TYPE_NULL);
    EXPECT_EQ(get(pad, 111, 226), defaults); // the defaults never change

    // Reports 150 + 152: region 3 rewritten through the index as a line.
    ASSERT_EQ(set(pad, {150, 3}), 0);
    Bytes indexed(50, 0);
    indexed[0] = 152;
    indexed[1] = 3;
    indexed[2] = INKORA_REGION_TYPE_LINE;
    indexed[13] = 5;
    indexed[30] = 4; // line width
    ASSERT_EQ(set(pad, indexed), 0);
    const inkora_device_region_info line = decode(get(pad, 110, 226), 2);
    EXPECT_EQ(line.common.region_type, INKORA_REGION_TYPE_LINE);
    EXPECT_EQ(line.common.x1, 5);
    EXPECT_EQ(line.line.width, 4);
}

struct PenCase {
    uint8_t type;
    uint16_t x;
    uint16_t y;
    bool down;
    Bytes expected; // empty: nothing emitted
};

void PrintTo(const PenCase& c, std::ostream* out) { *out << "type " << int(c.type) << " at " << c.x << "," << c.y; }

class PenSimulation : public testing::TestWithParam<PenCase> {};

TEST_P(PenSimulation, EmitsTheMatchingInputReport) {
    PadModel pad(1);
    const PenCase& c = GetParam();
    Bytes report(67, 0);
    report[0] = 253;
    report[1] = 100;
    report[2] = c.type;
    report[6] = c.down ? 0x11 : 0x10;
    report[7] = static_cast<uint8_t>(c.x);
    report[8] = static_cast<uint8_t>(c.x >> 8);
    report[9] = static_cast<uint8_t>(c.y);
    report[10] = static_cast<uint8_t>(c.y >> 8);
    int notified = 0;
    pad.set_input_listener([&notified] { ++notified; });
    ASSERT_EQ(pad.set_feature(report), 0);
    std::vector<uint8_t> input;
    if (c.expected.empty()) {
        EXPECT_FALSE(pad.pop_input(input));
        EXPECT_EQ(notified, 0);
    } else {
        ASSERT_TRUE(pad.pop_input(input));
        EXPECT_EQ(input, c.expected);
        EXPECT_EQ(notified, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PenSimulation,
                         testing::Values(PenCase{1, 0x0134, 0x0078, true, {1, 0x01, 0x34, 0x01, 0x78, 0x00}},
                                         PenCase{1, 5, 6, false, {1, 0x00, 5, 0, 6, 0}},
                                         PenCase{2, 250, 170, true, {2, 0x01, 250, 0, 170, 0, 5}},  // "OK"
                                         PenCase{2, 105, 191, true, {2, 0x01, 105, 0, 191, 0, 3}}, // corner of "Clear"
                                         PenCase{2, 106, 170, true, {2, 0x01, 106, 0, 170, 0, 0}}, // between buttons
                                         PenCase{2, 160, 130, true, {2, 0x01, 160, 0, 130, 0, 1}}, // line: no touch
                                         PenCase{2, 300, 155, false, {2, 0x00, 0x2C, 1, 155, 0, 0}},
                                         PenCase{3, 10, 10, true, {}}));

TEST(PadModel, DisplayChunksUnpackIntoTheFrameBufferAndReadBackAsPixels) {
    PadModel pad(1);
    EXPECT_EQ(pad.pixel(0, 0), 0xFFFFFFu); // white at start
    // Depth 1, 2 x 8 pixels at (10, 20), column by column: first column all
    // ink, second column ink at its top pixel only.
    Bytes chunk(2049, 0);
    chunk[0] = 103;
    chunk[2] = 10; // x, big-endian
    chunk[4] = 20; // y
    chunk[6] = 2;  // width
    chunk[8] = 8;  // height
    chunk[9] = 1;
    chunk[10] = 0xFF;
    chunk[11] = 0x80;
    ASSERT_EQ(pad.set_feature(chunk), 0);
    EXPECT_EQ(pad.pixel(10, 27), 0x000000u);
    EXPECT_EQ(pad.pixel(11, 20), 0x000000u);
    EXPECT_EQ(pad.pixel(11, 21), 0xFFFFFFu);
    // Depth 8: grey levels, two pixels per byte, low nibble first.
    chunk[6] = 1;
    chunk[8] = 2;
    chunk[9] = 8;
    chunk[10] = 0xF5; // level 5 then 15
    ASSERT_EQ(pad.set_feature(chunk), 0);
    EXPECT_EQ(pad.pixel(10, 20), 0x555555u);
    EXPECT_EQ(pad.pixel(10, 21), 0xFFFFFFu);
    // Depth 24: R, G, B.
    chunk[8] = 1;
    chunk[9] = 24;
    chunk[10] = 0x12;
    chunk[11] = 0x34;
    chunk[12] = 0x56;
    ASSERT_EQ(pad.set_feature(chunk), 0);
    EXPECT_EQ(pad.pixel(10, 20), 0x123456u);

    // Pixel location 104, then the pixel values 105 from there along the row.
    ASSERT_EQ(set(pad, {104, 10, 0, 20, 0}), 0);
    const Bytes pixels = get(pad, 105, 1031);
    EXPECT_EQ(le16(pixels, 1), 10);
    EXPECT_EQ(le16(pixels, 3), 20);
    EXPECT_EQ(le16(pixels, 5), 256);
    EXPECT_EQ((Bytes{pixels.begin() + 7, pixels.begin() + 15}), (Bytes{0xFF, 0x12, 0x34, 0x56, 0xFF, 0, 0, 0}));
}

TEST(PadModel, QueuedInputWakesAWaitingReader) {
    PadModel pad(1);
    std::vector<uint8_t> report;
    EXPECT_EQ(pad.wait_input(report, std::chrono::milliseconds(1)), PadModel::Wait::timeout);
    std::thread writer([&pad] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const Bytes coordinate{1, 1, 2, 0, 3, 0};
        pad.queue_input(coordinate);
    });
    EXPECT_EQ(pad.wait_input(report, std::chrono::seconds(10)), PadModel::Wait::report);
    writer.join();
    EXPECT_EQ(report, (Bytes{1, 1, 2, 0, 3, 0}));
    std::thread canceller([&pad] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pad.cancel();
    });
    EXPECT_EQ(pad.wait_input(report, std::chrono::seconds(10)), PadModel::Wait::cancelled);
    canceller.join();
}

} // namespace
