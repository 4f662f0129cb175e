// Content on the pad's display: the chunk plans of bitmap transfers, the
// packing of pixels at each depth, bitmaps and text drawn on the pad model and
// read back from its frame buffer pixel for pixel, the off-screen and encoding
// errors, invert, and the interlock and failure paths against a small
// scripted driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "inkora-graphics-enhanced-fonts.h"
#include "inkora-graphics.h"
#include "inkora-nibline-display.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"

extern "C" size_t inkora_display_c_layout(size_t index);

namespace {

using Bytes = std::vector<uint8_t>;

constexpr inkora_gcolor white = 0xFFFFFFFFu;
constexpr inkora_gcolor black = 0x000000FFu;
constexpr uint32_t rgb_white = 0xFFFFFF;
constexpr uint32_t rgb_black = 0x000000;

// A bitmap with its own buffer.
struct Image {
    Image(int32_t width, int32_t height) {
        const int32_t row = ((width * 24 + 31) / 32) * 4;
        buffer.resize(static_cast<size_t>(row) * static_cast<size_t>(height) + INKORA_BITMAP_HEADER_SIZE);
        inkora_bitmap_init(&bitmap, buffer.data(), width, height);
    }
    Bytes buffer;
    inkora_bitmap bitmap{};
};

struct Chunk {
    uint16_t x, y, width, height;
    uint8_t depth;
    bool operator==(const Chunk&) const = default;
};

void PrintTo(const Chunk& c, std::ostream* out) {
    *out << "(" << c.x << "," << c.y << " " << c.width << "x" << c.height << " d" << int(c.depth) << ")";
}

uint16_t be16(const Bytes& report, size_t at) { return static_cast<uint16_t>((report[at] << 8) | report[at + 1]); }

Chunk chunk_of(const Bytes& report) {
    return Chunk{be16(report, 1), be16(report, 3), be16(report, 5), be16(report, 7), report[9]};
}

TEST(DisplayHeader, RecordsHaveTheSameLayoutInC) {
    const std::array<size_t, 6> layout{sizeof(inkora_hid_feature_display_content),
                                       sizeof(inkora_hid_feature_display_chunk),
                                       offsetof(inkora_hid_feature_display_chunk, graphic),
                                       sizeof(inkora_hid_feature_pixel_values),
                                       offsetof(inkora_hid_feature_pixel_values, color_data),
                                       sizeof(inkora_font_alignment)};
    for (size_t i = 0; i < layout.size(); ++i)
        EXPECT_EQ(inkora_display_c_layout(i), layout[i]) << i;
    // One 32-bit word of composit per pixel of color.
    EXPECT_EQ(sizeof(inkora_hid_feature_pixel_values::color_data), 4u * INKORA_PIXEL_VALUES_MAX);
}

// ---------------------------------------------------------------------------
// The pad model behind the simulated driver: 320 x 192, colour depth 8.

class Pad : public testing::Test {
protected:
    void SetUp() override {
        setenv("INKORA_SIMULATED_PADS", "1", 1);
        inkora_init();
        inkora_set_startup_poll_interval_ms(0);
        ASSERT_EQ(inkora_list_devices(&chain), INKORA_CODE_SUCCESS);
        for (inkora_device* d = chain; d != nullptr; d = d->next)
            if (d->driver == &inkora_simulated_driver)
                device = d;
        ASSERT_NE(device, nullptr);
        ASSERT_EQ(inkora_open_device(device), INKORA_CODE_SUCCESS);
        ASSERT_EQ(device->display_info.width, 320);
        ASSERT_EQ(device->display_info.height, 192);
        first_unseen = inkora_simulated_written_report_count(device);
    }
    void TearDown() override {
        if (device != nullptr && inkora_device_is_open(device) == 1)
            inkora_close_device(device);
        inkora_free_device_list(chain);
        inkora_destroy();
        unsetenv("INKORA_SIMULATED_PADS");
        inkora_set_startup_poll_interval_ms(100);
    }

    // The reports written since the last call (or since open).
    std::vector<Bytes> new_reports() {
        std::vector<Bytes> reports;
        const uint32_t count = inkora_simulated_written_report_count(device);
        for (uint32_t i = first_unseen; i < count; ++i) {
            Bytes report(INKORA_DISPLAY_CHUNK_LENGTH);
            report.resize(inkora_simulated_get_written_report(device, i, report.data(),
                                                              static_cast<uint32_t>(report.size())));
            reports.push_back(report);
        }
        first_unseen = count;
        return reports;
    }
    std::vector<Bytes> new_chunks() {
        std::vector<Bytes> chunks;
        for (Bytes& r : new_reports())
            if (!r.empty() && r[0] == INKORA_REPORT_ID_DISPLAY_CHUNK)
                chunks.push_back(std::move(r));
        return chunks;
    }

    // The frame buffer's pixels in (x, y, w, h) as 0xRRGGBB, row by row, read
    // back through the pixel reports.
    std::vector<uint32_t> read_back(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
        std::vector<uint32_t> pixels;
        for (uint32_t row = y; row < y + h; ++row) {
            uint32_t column = x;
            while (column < x + w) {
                inkora_hid_feature_pixel_values values{};
                values.start_x = static_cast<uint16_t>(column);
                values.start_y = static_cast<uint16_t>(row);
                EXPECT_EQ(inkora_get_pixels(device, &values), INKORA_CODE_SUCCESS);
                EXPECT_EQ(values.start_x, column);
                EXPECT_EQ(values.start_y, row);
                const uint32_t take = std::min<uint32_t>(values.number_of_pixels, x + w - column);
                if (take == 0) {
                    ADD_FAILURE() << "no pixels at " << column << "," << row;
                    return pixels;
                }
                for (uint32_t i = 0; i < take; ++i) {
                    const inkora_pixel_argb& p = values.color_data.color[i];
                    EXPECT_EQ(p.a, 0xFF);
                    pixels.push_back((uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b);
                }
                column += take;
            }
        }
        return pixels;
    }

    inkora_device* chain = nullptr;
    inkora_device* device = nullptr;
    uint32_t first_unseen = 0;
};

// Chunk plans of transfers, as the pad received them.
struct PlanCase {
    const char* name;
    int32_t width, height, depth;
    uint32_t at_x, at_y;
    std::vector<Chunk> chunks;
    size_t graphic_bytes; // packed bytes of the first chunk (all bytes after them are zero)
};

void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }

class ChunkPlan : public Pad, public testing::WithParamInterface<PlanCase> {};

TEST_P(ChunkPlan, ChunksCoverTheBitmapInTheExpectedOrder) {
    const PlanCase& c = GetParam();
    Image image(c.width, c.height);
    inkora_bitmap_clear(&image.bitmap, 0x404040FFu); // ink at depth 1, no zero nibble or byte elsewhere
    ASSERT_EQ(inkora_transfer_bitmap_to_device(device, &image.bitmap, c.at_x, c.at_y, c.depth), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> chunks = new_chunks();
    std::vector<Chunk> got;
    for (const Bytes& r : chunks) {
        ASSERT_EQ(r.size(), INKORA_DISPLAY_CHUNK_LENGTH);
        got.push_back(chunk_of(r));
    }
    EXPECT_EQ(got, c.chunks);
    ASSERT_FALSE(chunks.empty());
    const Bytes& first = chunks.front();
    EXPECT_TRUE(std::all_of(first.begin() + 10, first.begin() + 10 + static_cast<long>(c.graphic_bytes),
                            [](uint8_t b) { return b != 0; }));
    EXPECT_TRUE(std::all_of(first.begin() + 10 + static_cast<long>(c.graphic_bytes), first.end(),
                            [](uint8_t b) { return b == 0; }));
}

std::vector<Chunk> columns(std::initializer_list<uint16_t> xs, std::initializer_list<uint16_t> widths,
                           uint16_t height, uint8_t depth) {
    std::vector<Chunk> out;
    auto w = widths.begin();
    for (uint16_t x : xs)
        out.push_back(Chunk{x, 0, *w++, height, depth});
    return out;
}

std::vector<Chunk> rows(uint16_t width, uint16_t height, uint16_t last, size_t count, uint8_t depth,
                        uint16_t x = 0, uint16_t y = 0) {
    std::vector<Chunk> out;
    for (size_t i = 0; i < count; ++i)
        out.push_back(Chunk{x, static_cast<uint16_t>(y + i * height), width, i + 1 == count ? last : height, depth});
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkPlan,
    testing::Values(
        // 2000 bits: one chunk, 250 bytes of graphic.
        PlanCase{"Small100x20Depth1IsOneChunk", 100, 20, 1, 0, 0, {Chunk{0, 0, 100, 20, 1}}, 250},
        // 76800 bits, wider than high: full-height chunks 16312 / 240 = 67 wide.
        PlanCase{"Wide320x240Depth1InFiveColumns", 320, 240, 1, 0, 0,
                 columns({0, 67, 134, 201, 268}, {67, 67, 67, 67, 52}, 240, 1), 67 * 240 / 8},
        // Higher than wide: full-width chunks 240 x 67.
        PlanCase{"Tall240x320Depth1InFullWidthRows", 240, 320, 1, 0, 0, rows(240, 67, 52, 5, 1), 240 * 67 / 8},
        // 16312 / 2400 = 6 rows per chunk: 16 chunks of 100 x 6 and one of 100 x 4.
        PlanCase{"Colour100x100Depth24In17Chunks", 100, 100, 24, 0, 0, rows(100, 6, 4, 17, 24), 100 * 6 * 3},
        // Depth 16 packs three bytes per pixel, so it is sized as depth 24 is.
        PlanCase{"Depth16IsSizedByItsThreeBytes", 100, 100, 16, 0, 0, rows(100, 6, 4, 17, 16), 100 * 6 * 3},
        // Depth 4 packs two pixels per byte: 16312 / (100 * 4) = 40 rows.
        PlanCase{"Grey100x100Depth4", 100, 100, 4, 0, 0, rows(100, 40, 20, 3, 4), 100 * 40 / 2},
        // Chunk positions are offset by the place on the display.
        PlanCase{"PlacedAt10And20", 100, 20, 1, 10, 20, {Chunk{10, 20, 100, 20, 1}}, 250},
        // Exactly 16312 bits: one full-height column of 16312 / 8 = 2039, every graphic byte used.
        PlanCase{"ExactCapacityFillsEveryByte", 2039, 8, 1, 0, 0, {Chunk{0, 0, 2039, 8, 1}}, 2039}),
    [](const testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

// A packed value at each depth: two pixels of one column, top then bottom.
struct PackCase {
    const char* name;
    int32_t depth;
    inkora_gcolor top, bottom;
    Bytes packed; // first bytes of graphic
};

void PrintTo(const PackCase& c, std::ostream* out) { *out << c.name; }

class Packing : public Pad, public testing::WithParamInterface<PackCase> {};

TEST_P(Packing, PixelsPackAsThePadExpects) {
    const PackCase& c = GetParam();
    Image image(1, 2);
    inkora_set_pixel(&image.bitmap, 0, 0, c.top);
    inkora_set_pixel(&image.bitmap, 0, 1, c.bottom);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(device, &image.bitmap, 0, 0, c.depth), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> chunks = new_chunks();
    ASSERT_EQ(chunks.size(), 1u);
    const Bytes& r = chunks[0];
    EXPECT_EQ(Bytes(r.begin() + 10, r.begin() + 10 + static_cast<long>(c.packed.size())), c.packed);
    EXPECT_TRUE(std::all_of(r.begin() + 10 + static_cast<long>(c.packed.size()), r.end(),
                            [](uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Table, Packing,
    testing::Values(PackCase{"Depth1WhiteIsNoInk", 1, white, white, {0x00}},
                    PackCase{"Depth1FirstPixelInTheTopBit", 1, black, white, {0x80}},
                    PackCase{"Depth1SecondPixelInTheNextBit", 1, white, black, {0x40}},
                    PackCase{"Depth1Sum383IsInk", 1, 0x80807FFFu, white, {0x80}},
                    PackCase{"Depth1Sum384IsNoInk", 1, 0x808080FFu, white, {0x00}},
                    PackCase{"Depth4WhiteIs15BlackIs0", 4, white, black, {0x0F}},
                    PackCase{"Depth4FirstPixelInTheLowNibble", 4, black, white, {0xF0}},
                    PackCase{"Depth4MidGreyRoundsUpTo8", 4, 0x808080FFu, white, {0xF8}},
                    PackCase{"Depth8PacksAsDepth4", 8, 0x808080FFu, black, {0x08}},
                    PackCase{"Depth4DarkGreyRoundsDownTo7", 4, 0x777777FFu, white, {0xF7}},
                    PackCase{"Depth24IsRedGreenBlue", 24, 0x102030FFu, 0xA0B0C0FFu,
                             {0x10, 0x20, 0x30, 0xA0, 0xB0, 0xC0}}),
    [](const testing::TestParamInfo<PackCase>& info) { return std::string(info.param.name); });

TEST_F(Pad, ColourBitmapComesBackPixelForPixelColumnsFirst) {
    // A pattern whose every pixel differs, over several chunks (depth 24:
    // 30 x 40 goes in chunks of 30 x 22), placed off the origin.
    Image image(30, 40);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 30; ++x)
            inkora_set_pixel(&image.bitmap, x, y,
                             (static_cast<uint32_t>(x * 8) << 24) | (static_cast<uint32_t>(y * 6) << 16) |
                                 (static_cast<uint32_t>((x + y) & 0xFF) << 8) | 0xFF);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(device, &image.bitmap, 250, 100, 24), INKORA_CODE_SUCCESS);
    EXPECT_EQ(new_chunks().size(), 2u);
    const std::vector<uint32_t> pixels = read_back(250, 100, 30, 40);
    ASSERT_EQ(pixels.size(), 30u * 40u);
    for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < 30; ++x)
            ASSERT_EQ(pixels[y * 30 + x], inkora_get_pixel(&image.bitmap, static_cast<int32_t>(x),
                                                           static_cast<int32_t>(y)) >> 8)
                << x << "," << y;
    // Next to the image the display is still white.
    EXPECT_EQ(read_back(249, 100, 1, 1)[0], rgb_white);
}

TEST_F(Pad, FullScreenAtDepth1ComesBackInkForInk) {
    // 61440 bits: full-height columns 16312 / 192 = 84 wide.
    Image image(320, 192);
    for (int32_t y = 0; y < 192; ++y)
        for (int32_t x = 0; x < 320; ++x)
            if ((x * 7 + y * 3) % 5 == 0 || x == 319 || y == 191)
                inkora_set_pixel(&image.bitmap, x, y, black);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(device, &image.bitmap, 0, 0, 1), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> chunks = new_chunks();
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunk_of(chunks[3]), (Chunk{252, 0, 68, 192, 1}));
    const std::vector<uint32_t> pixels = read_back(0, 0, 320, 192);
    ASSERT_EQ(pixels.size(), 320u * 192u);
    for (uint32_t y = 0; y < 192; ++y)
        for (uint32_t x = 0; x < 320; ++x) {
            const bool ink = inkora_get_pixel(&image.bitmap, static_cast<int32_t>(x), static_cast<int32_t>(y)) == black;
            ASSERT_EQ(pixels[y * 320 + x], ink ? rgb_black : rgb_white) << x << "," << y;
        }
}

// The expected picture of a text in inkora_default drawn with its top-left at
// (0, 0): glyphs decoded from the font's own rasters, sitting on a common
// baseline and advancing by width + 1.
std::vector<std::vector<bool>> expected_ink(const std::u32string& text, uint32_t w, uint32_t h) {
    std::vector<std::vector<bool>> ink(h, std::vector<bool>(w, false));
    int32_t ceiling = 0;
    for (char32_t c : text) {
        const inkora_font_char* g = enhanced_get_font_character(&inkora_default, static_cast<UChar32>(c));
        ceiling = std::max<int32_t>(ceiling, g->height - g->decent);
    }
    uint32_t x = 0;
    for (char32_t c : text) {
        const inkora_font_char* g = enhanced_get_font_character(&inkora_default, static_cast<UChar32>(c));
        const int32_t top = ceiling + g->decent - g->height;
        for (uint32_t r = 0; r < g->height; ++r)
            for (uint32_t col = 0; col < g->width; ++col) {
                const uint32_t bit = r * g->width + col;
                if ((g->raster[bit / 8] >> (7 - bit % 8)) & 1)
                    ink.at(static_cast<size_t>(top) + r).at(x + col) = true;
            }
        x += g->width + 1u;
    }
    return ink;
}

struct TextCase {
    const char* name;
    const char* utf8;
    std::u32string code_points;
    uint32_t x, y;
    inkora_font_alignment alignment;
    uint8_t invert;
};

void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

class TextOnThePad : public Pad, public testing::WithParamInterface<TextCase> {};

TEST_P(TextOnThePad, TextComesBackPixelForPixel) {
    const TextCase& c = GetParam();
    const uint32_t w = inkora_measure_text_width(device, c.utf8);
    const uint32_t h = inkora_measure_text_height(device, c.utf8);
    ASSERT_GT(w, 0u);
    const uint32_t left = c.alignment == INKORA_ALIGN_LEFT    ? c.x
                          : c.alignment == INKORA_ALIGN_RIGHT ? c.x - w
                                                              : c.x - w / 2;
    ASSERT_EQ(inkora_device_draw_text(device, c.utf8, c.x, c.y, c.alignment, c.invert), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> chunks = new_chunks();
    ASSERT_EQ(chunks.size(), 1u);
    // The font is one bit deep and the display 8: depth 1.
    EXPECT_EQ(chunk_of(chunks[0]), (Chunk{static_cast<uint16_t>(left), static_cast<uint16_t>(c.y),
                                          static_cast<uint16_t>(w), static_cast<uint16_t>(h), 1}));

    const auto ink = expected_ink(c.code_points, w, h);
    size_t ink_pixels = 0;
    // One pixel of margin around the text: the display there is untouched white.
    const std::vector<uint32_t> pixels = read_back(left - 1, c.y - 1, w + 2, h + 2);
    ASSERT_EQ(pixels.size(), static_cast<size_t>(w + 2) * (h + 2));
    for (uint32_t y = 0; y < h + 2; ++y)
        for (uint32_t x = 0; x < w + 2; ++x) {
            const bool inside = x >= 1 && x <= w && y >= 1 && y <= h;
            uint32_t want = rgb_white;
            if (inside) {
                const bool is_ink = ink[y - 1][x - 1];
                ink_pixels += is_ink ? 1 : 0;
                want = is_ink != (c.invert != 0) ? rgb_black : rgb_white;
            }
            ASSERT_EQ(pixels[y * (w + 2) + x], want) << x << "," << y;
        }
    EXPECT_GT(ink_pixels, 10u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextOnThePad,
    testing::Values(TextCase{"AgLeft", "Ag", U"Ag", 10, 20, INKORA_ALIGN_LEFT, 0},
                    TextCase{"AccentsAndEuroRight", "\xC3\x89t\xC3\xA9 \xE2\x82\xAC" "5", U"\u00C9t\u00E9 \u20AC5",
                             300, 100, INKORA_ALIGN_RIGHT, 0},
                    TextCase{"CyrillicCentred", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
                             U"\u041F\u0440\u0438\u0432\u0435\u0442", 160, 150, INKORA_ALIGN_CENTER, 0},
                    TextCase{"InvertedIsWhiteOnBlack", "Signature: OK.", U"Signature: OK.", 40, 60,
                             INKORA_ALIGN_LEFT, 1}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST_F(Pad, TextInANamedEncodingMatchesTheSameTextInUtf8) {
    // "Été" in ISO-8859-1.
    const char latin1[] = "\xC9t\xE9";
    EXPECT_EQ(inkora_measure_text_width_encoding(device, latin1, 3, "ISO-8859-1"),
              inkora_measure_text_width(device, "\xC3\x89t\xC3\xA9"));
    ASSERT_EQ(inkora_device_draw_text_encoded(device, latin1, 3, 0, 0, INKORA_ALIGN_LEFT, 0, "ISO-8859-1"),
              INKORA_CODE_SUCCESS);
    const std::vector<Bytes> latin = new_chunks();
    ASSERT_EQ(inkora_device_draw_text(device, "\xC3\x89t\xC3\xA9", 0, 0, INKORA_ALIGN_LEFT, 0), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> utf8 = new_chunks();
    ASSERT_EQ(latin.size(), 1u);
    ASSERT_EQ(utf8.size(), 1u);
    EXPECT_EQ(latin[0], utf8[0]);
}

TEST_F(Pad, DeviceFontIsTheOneTextIsMeasuredAndDrawnWith) {
    device->font = const_cast<inkora_enhanced_font*>(&ubuntu_mono_e_16pt);
    EXPECT_EQ(inkora_measure_text_width(device, "Hello"), 5u * (8u + 1u));
    EXPECT_EQ(inkora_measure_text_height(device, "Hello"), 17u);
    ASSERT_EQ(inkora_device_draw_text(device, "Hello", 0, 0, INKORA_ALIGN_LEFT, 0), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> chunks = new_chunks();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunk_of(chunks[0]), (Chunk{0, 0, 45, 17, 1}));
}

// Texts that would leave the 320 x 192 display: refused, nothing sent.
struct OffScreenCase {
    const char* name;
    const char* text;
    uint32_t x, y;
    inkora_font_alignment alignment;
    const char* error; // nullptr: drawn
};

void PrintTo(const OffScreenCase& c, std::ostream* out) { *out << c.name; }

class OffScreen : public Pad, public testing::WithParamInterface<OffScreenCase> {};

constexpr const char* horizontal_coordinate = "Requested coordinate is off the screen in the horizontal direction.";
constexpr const char* horizontal_string = "Requested string would draw off the screen in the horizontal direction.";
constexpr const char* vertical_coordinate = "Requested coordinate is off the screen in the vertical direction.";
constexpr const char* vertical_string = "Requested string would draw off the screen in the vertical direction.";

TEST_P(OffScreen, RefusedWithItsMessageOrDrawnAtTheEdge) {
    const OffScreenCase& c = GetParam();
    inkora_report_error_internal("%s", "none");
    const inkora_error_code result = inkora_device_draw_text(device, c.text, c.x, c.y, c.alignment, 0);
    const std::vector<Bytes> chunks = new_chunks();
    if (c.error == nullptr) {
        EXPECT_EQ(result, INKORA_CODE_SUCCESS);
        EXPECT_EQ(chunks.size(), 1u);
    } else {
        EXPECT_EQ(result, INKORA_CODE_ERROR);
        EXPECT_STREQ(inkora_get_last_error(), c.error);
        EXPECT_TRUE(chunks.empty());
    }
}

// "AB" is 10 x 5 in inkora_default, "Ag" 10 x 6.
INSTANTIATE_TEST_SUITE_P(
    Table, OffScreen,
    testing::Values(OffScreenCase{"RightAlignedAt5StartsLeftOfZero", "AB", 5, 0, INKORA_ALIGN_RIGHT,
                                  horizontal_coordinate},
                    OffScreenCase{"CentredAt4StartsLeftOfZero", "AB", 4, 0, INKORA_ALIGN_CENTER, horizontal_coordinate},
                    OffScreenCase{"StartsBeyondTheWidth", "AB", 321, 0, INKORA_ALIGN_LEFT, horizontal_coordinate},
                    OffScreenCase{"RunsOverTheRightEdge", "AB", 311, 0, INKORA_ALIGN_LEFT, horizontal_string},
                    OffScreenCase{"StartsBelowTheHeight", "AB", 0, 193, INKORA_ALIGN_LEFT, vertical_coordinate},
                    OffScreenCase{"RunsOverTheBottomEdge", "Ag", 0, 187, INKORA_ALIGN_LEFT, vertical_string},
                    OffScreenCase{"HorizontalIsCheckedFirst", "AB", 400, 400, INKORA_ALIGN_LEFT, horizontal_coordinate},
                    OffScreenCase{"EndsExactlyAtTheRightEdge", "AB", 310, 0, INKORA_ALIGN_LEFT, nullptr},
                    OffScreenCase{"RightAlignedAtTheWidth", "AB", 320, 0, INKORA_ALIGN_RIGHT, nullptr},
                    OffScreenCase{"RightAlignedAtItsWidth", "AB", 10, 0, INKORA_ALIGN_RIGHT, nullptr},
                    OffScreenCase{"EndsExactlyAtTheBottomEdge", "Ag", 0, 186, INKORA_ALIGN_LEFT, nullptr}),
    [](const testing::TestParamInfo<OffScreenCase>& info) { return std::string(info.param.name); });

TEST_F(Pad, TextThatCannotBeConvertedIsRefusedAndMeasuresZero) {
    constexpr const char* problem = "String encoding problem, unable to convert string.";
    EXPECT_EQ(inkora_device_draw_text_encoded(device, "AB", 2, 0, 0, INKORA_ALIGN_LEFT, 0, "no-such-encoding"),
              INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), problem);
    EXPECT_TRUE(new_chunks().empty());

    inkora_report_error_internal("%s", "none");
    EXPECT_EQ(inkora_measure_text_width_encoding(device, "AB", 2, "no-such-encoding"), 0u);
    EXPECT_STREQ(inkora_get_last_error(), problem);
    inkora_report_error_internal("%s", "none");
    EXPECT_EQ(inkora_measure_text_height_encoding(device, "Ag", 2, nullptr), 0u);
    EXPECT_STREQ(inkora_get_last_error(), problem);
    // A convertible text measures as the font says.
    EXPECT_EQ(inkora_measure_text_width(device, "AB"), 10u);
    EXPECT_EQ(inkora_measure_text_height(device, "Ag"), 6u);
}

TEST_F(Pad, DisplayContentIsSentAs101WithItsSelector) {
    inkora_hid_feature_display_content content{};
    content.report_id = 7; // not what goes out
    content.content = 0x5A;
    ASSERT_EQ(inkora_set_display_content(device, content), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> reports = new_reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (Bytes{101, 0x5A}));
}

TEST_F(Pad, ChunkFieldsGoBigEndian) {
    inkora_hid_feature_display_chunk chunk{};
    chunk.report_id = 0;
    chunk.x = 0x0102;
    chunk.y = 0x0304;
    chunk.width = 0x0506;
    chunk.height = 0x0708;
    chunk.bits_per_pixel = 24;
    chunk.graphic[0] = 0xAB;
    chunk.graphic[INKORA_DISPLAY_CHUNK_GRAPHIC_SIZE - 1] = 0xCD;
    ASSERT_EQ(inkora_set_display_chunk(device, chunk), INKORA_CODE_SUCCESS);
    const std::vector<Bytes> reports = new_reports();
    ASSERT_EQ(reports.size(), 1u);
    const Bytes& r = reports[0];
    ASSERT_EQ(r.size(), INKORA_DISPLAY_CHUNK_LENGTH);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 11), (Bytes{103, 1, 2, 3, 4, 5, 6, 7, 8, 24, 0xAB}));
    EXPECT_EQ(r.back(), 0xCD);
}

TEST_F(Pad, PixelReadBeyondColumn255ReadsThatColumn) {
    // A black pixel at (300, 5); column 300 by its low byte alone would be
    // column 44, which is white.
    Image dot(1, 1);
    inkora_bitmap_clear(&dot.bitmap, black);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(device, &dot.bitmap, 300, 5, 24), INKORA_CODE_SUCCESS);
    inkora_hid_feature_pixel_values values{};
    values.start_x = 300;
    values.start_y = 5;
    ASSERT_EQ(inkora_get_pixels(device, &values), INKORA_CODE_SUCCESS);
    EXPECT_EQ(values.report_id, INKORA_REPORT_ID_PIXEL_VALUES);
    EXPECT_EQ(values.start_x, 300);
    EXPECT_EQ(values.start_y, 5);
    EXPECT_EQ(values.number_of_pixels, INKORA_PIXEL_VALUES_MAX); // along the row, then on to the next
    EXPECT_EQ(values.color_data.color[0].r, 0);
    EXPECT_EQ(values.color_data.color[1].r, 0xFF);
    const std::vector<Bytes> reports = new_reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (Bytes{104, 0x2C, 0x01, 5, 0}));
}

TEST_F(Pad, InvalidDepthOrMissingBitmapSendsNothing) {
    Image image(10, 10);
    for (int32_t depth : {0, -1, 33, 1000000})
        EXPECT_EQ(inkora_transfer_bitmap_to_device(device, &image.bitmap, 0, 0, depth), INKORA_CODE_ERROR) << depth;
    EXPECT_EQ(inkora_transfer_bitmap_to_device(device, nullptr, 0, 0, 1), INKORA_CODE_ERROR);
    EXPECT_TRUE(new_chunks().empty());
    // An empty bitmap has nothing to send and succeeds.
    Image empty(0, 5);
    EXPECT_EQ(inkora_transfer_bitmap_to_device(device, &empty.bitmap, 0, 0, 1), INKORA_CODE_SUCCESS);
    EXPECT_TRUE(new_chunks().empty());
}

// ---------------------------------------------------------------------------
// A scripted pad: status with chosen interlocks, failing sets, chosen pixel
// answers, and every chunk header recorded.

struct Script {
    uint8_t locked = 0;          // byte 3 of the status
    int fail_set_at = -1;        // number of the set that fails (0-based), -1 never
    bool fail_get_pixels = false;
    Bytes pixel_answer;          // answer to report 105 (copied over the buffer)
    int sets = 0;
    int status_reads = 0;
    std::vector<Chunk> chunks;
    std::vector<Bytes> locations;
};
Script script;

inkora_error_code scripted_set(inkora_device*, uint8_t* bytes, uint32_t length) {
    const int number = script.sets++;
    if (number == script.fail_set_at) {
        inkora_report_error_internal("%s", "set refused");
        return INKORA_CODE_ERROR;
    }
    if (bytes[0] == INKORA_REPORT_ID_DISPLAY_CHUNK && length == INKORA_DISPLAY_CHUNK_LENGTH)
        script.chunks.push_back(chunk_of(Bytes(bytes, bytes + 10)));
    if (bytes[0] == INKORA_REPORT_ID_PIXEL_LOCATION)
        script.locations.emplace_back(bytes, bytes + length);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code scripted_get(inkora_device*, uint8_t* bytes, uint32_t length) {
    if (bytes[0] == INKORA_REPORT_ID_DEVICE_STATUS) {
        ++script.status_reads;
        std::memset(bytes + 1, 0, length - 1);
        bytes[3] = script.locked;
        return INKORA_CODE_SUCCESS;
    }
    if (bytes[0] == INKORA_REPORT_ID_PIXEL_VALUES) {
        if (script.fail_get_pixels) {
            inkora_report_error_internal("%s", "get refused");
            return INKORA_CODE_ERROR;
        }
        std::memcpy(bytes, script.pixel_answer.data(), std::min<size_t>(length, script.pixel_answer.size()));
        return INKORA_CODE_SUCCESS;
    }
    inkora_report_error_internal("%s", "not scripted");
    return INKORA_CODE_ERROR;
}

class ScriptedPad : public testing::Test {
protected:
    void SetUp() override {
        script = Script{};
        driver.set_feature_report = scripted_set;
        driver.get_feature_report = scripted_get;
        std::memset(&device, 0, sizeof device);
        device.driver = &driver;
        device.display_info.width = 320;
        device.display_info.height = 192;
        device.display_info.color_depth = 8;
        inkora_set_legacy_firmware(0, 0);
    }
    void TearDown() override { inkora_set_legacy_firmware(0, 0); }
    inkora_device_driver driver{};
    inkora_device device{};
};

TEST_F(ScriptedPad, HeldDisplayInterlockKeepsContentAndChunksUnsent) {
    script.locked = 0x10; // display commands locked
    EXPECT_EQ(inkora_set_display_content(&device, inkora_hid_feature_display_content{101, 1}), INKORA_CODE_ERROR);
    EXPECT_NE(std::string(inkora_get_last_error()).find("Problem waiting for firmware interlock"), std::string::npos);
    EXPECT_EQ(script.status_reads, 100);
    Image image(4, 4);
    EXPECT_EQ(inkora_transfer_bitmap_to_device(&device, &image.bitmap, 0, 0, 1), INKORA_CODE_ERROR);
    EXPECT_EQ(inkora_device_draw_text(&device, "A", 0, 0, INKORA_ALIGN_LEFT, 0), INKORA_CODE_ERROR);
    EXPECT_EQ(script.sets, 0);
}

TEST_F(ScriptedPad, OtherInterlocksOrLegacyFirmwareDoNotHoldTheDisplay) {
    script.locked = 0x2F; // every lock but the display's
    EXPECT_EQ(inkora_set_display_content(&device, inkora_hid_feature_display_content{101, 1}), INKORA_CODE_SUCCESS);
    EXPECT_EQ(script.status_reads, 1);
    script.locked = 0x10;
    inkora_set_legacy_firmware(0, 1);
    EXPECT_EQ(inkora_set_display_content(&device, inkora_hid_feature_display_content{101, 1}), INKORA_CODE_SUCCESS);
    EXPECT_EQ(script.status_reads, 1);
    EXPECT_EQ(script.sets, 2);
}

TEST_F(ScriptedPad, TransferStopsAtTheFirstFailingChunk) {
    Image image(320, 240); // five chunks at depth 1
    script.fail_set_at = 2;
    EXPECT_EQ(inkora_transfer_bitmap_to_device(&device, &image.bitmap, 0, 0, 1), INKORA_CODE_ERROR);
    EXPECT_EQ(script.sets, 3);
    EXPECT_EQ(script.chunks, (std::vector<Chunk>{{0, 0, 67, 240, 1}, {67, 0, 67, 240, 1}}));
    EXPECT_STREQ(inkora_get_last_error(), "set refused");
}

TEST_F(ScriptedPad, BitmapTooWideForFullColumnsGoesInSquares) {
    // 520 x 520 at depth 32: neither a full row (16640 bits) nor a full
    // column fits, so squares of sqrt(16312 / 32 = 509) = 22.
    Image image(520, 520);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(&device, &image.bitmap, 0, 0, 32), INKORA_CODE_SUCCESS);
    ASSERT_EQ(script.chunks.size(), 24u * 24u);
    EXPECT_EQ(script.chunks[0], (Chunk{0, 0, 22, 22, 32}));
    EXPECT_EQ(script.chunks[1], (Chunk{0, 22, 22, 22, 32}));
    EXPECT_EQ(script.chunks[23], (Chunk{0, 506, 22, 14, 32}));
    EXPECT_EQ(script.chunks[24], (Chunk{22, 0, 22, 22, 32}));
    EXPECT_EQ(script.chunks.back(), (Chunk{506, 506, 14, 14, 32}));
}

TEST_F(ScriptedPad, ChunkPositionsAreCutTo16Bits) {
    Image image(2, 2);
    ASSERT_EQ(inkora_transfer_bitmap_to_device(&device, &image.bitmap, 0x10005, 0x20007, 1), INKORA_CODE_SUCCESS);
    EXPECT_EQ(script.chunks, (std::vector<Chunk>{{5, 7, 2, 2, 1}}));
}

Bytes pixel_answer(uint16_t x, uint16_t y, uint16_t count) {
    Bytes answer(INKORA_PIXEL_VALUES_LENGTH, 0);
    answer[0] = INKORA_REPORT_ID_PIXEL_VALUES;
    put2(answer.data(), 1, x);
    put2(answer.data(), 3, y);
    put2(answer.data(), 5, count);
    for (size_t i = 7; i < answer.size(); ++i)
        answer[i] = static_cast<uint8_t>(i);
    return answer;
}

TEST_F(ScriptedPad, ThreePixelsFillThreeEntriesAndZeroTheRest) {
    script.pixel_answer = pixel_answer(0x0123, 0x0045, 3);
    inkora_hid_feature_pixel_values values;
    std::memset(&values, 0xEE, sizeof values); // stale content everywhere
    values.start_x = 0x0123;
    values.start_y = 0x0045;
    ASSERT_EQ(inkora_get_pixels(&device, &values), INKORA_CODE_SUCCESS);
    EXPECT_EQ(script.locations, (std::vector<Bytes>{{104, 0x23, 0x01, 0x45, 0x00}}));
    EXPECT_EQ(values.report_id, 105);
    EXPECT_EQ(values.start_x, 0x0123);
    EXPECT_EQ(values.start_y, 0x0045);
    EXPECT_EQ(values.number_of_pixels, 3);
    for (size_t i = 0; i < 3; ++i) {
        const inkora_pixel_argb& p = values.color_data.color[i];
        EXPECT_EQ((Bytes{p.a, p.r, p.g, p.b}),
                  (Bytes{uint8_t(7 + 4 * i), uint8_t(8 + 4 * i), uint8_t(9 + 4 * i), uint8_t(10 + 4 * i)}));
    }
    for (size_t i = 3; i < INKORA_PIXEL_VALUES_MAX; ++i)
        ASSERT_EQ(values.color_data.composit[i], 0u) << i;
    // No interlock is waited for.
    EXPECT_EQ(script.status_reads, 0);
}

TEST_F(ScriptedPad, AnswerClaimingMoreThan256PixelsKeeps256) {
    script.pixel_answer = pixel_answer(0, 0, 300);
    inkora_hid_feature_pixel_values values{};
    ASSERT_EQ(inkora_get_pixels(&device, &values), INKORA_CODE_SUCCESS);
    EXPECT_EQ(values.number_of_pixels, INKORA_PIXEL_VALUES_MAX);
    const inkora_pixel_argb& last = values.color_data.color[255];
    EXPECT_EQ(last.b, static_cast<uint8_t>(7 + 4 * 255 + 3));
}

TEST_F(ScriptedPad, FailedPixelReportsAreErrors) {
    inkora_hid_feature_pixel_values values{};
    script.fail_set_at = 0;
    EXPECT_EQ(inkora_get_pixels(&device, &values), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "set refused");
    script.fail_get_pixels = true;
    EXPECT_EQ(inkora_get_pixels(&device, &values), INKORA_CODE_ERROR);
    EXPECT_STREQ(inkora_get_last_error(), "get refused");
    EXPECT_EQ(values.report_id, 0);
}

} // namespace
