#include "inkora-graphics-enhanced-fonts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

extern "C" int inkora_enhanced_fonts_header_check_c(void);

namespace {

constexpr inkora_gcolor kWhite = 0xFFFFFFFFu;
constexpr inkora_gcolor kBlack = 0x000000FFu;

struct Canvas {
    std::vector<uint8_t> buffer;
    inkora_bitmap bmp{};
    Canvas(int32_t width, int32_t height) {
        const size_t row = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
        buffer.assign(54 + row * static_cast<size_t>(height), 0);
        inkora_bitmap_init(&bmp, buffer.data(), width, height);
    }
    bool inked(int32_t x, int32_t y) const { return inkora_get_pixel(&bmp, x, y) != kWhite; }
    int32_t ink_count() const {
        int32_t n = 0;
        for (int32_t y = 0; y < bmp.height; ++y) {
            for (int32_t x = 0; x < bmp.width; ++x) {
                n += inked(x, y) ? 1 : 0;
            }
        }
        return n;
    }
};

bool glyph_bit(const inkora_font_char& g, int32_t c, int32_t r) {
    const int32_t i = r * g.width + c;
    return (g.raster[i / 8] & (0x80u >> (i % 8))) != 0;
}

// True when the bitmap shows exactly the glyph's ink in its box at (x, y).
::testing::AssertionResult shows_glyph(const Canvas& canvas, const inkora_font_char& g, int32_t x, int32_t y) {
    for (int32_t r = 0; r < g.height; ++r) {
        for (int32_t c = 0; c < g.width; ++c) {
            if (canvas.inked(x + c, y + r) != glyph_bit(g, c, r)) {
                return ::testing::AssertionFailure() << "pixel " << c << "," << r << " of the glyph at " << x << ","
                                                     << y;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<UChar32> text(std::initializer_list<UChar32> cps) {
    std::vector<UChar32> out(cps);
    out.push_back(0);
    return out;
}

std::vector<int32_t> covered_code_points() {
    const std::pair<int32_t, int32_t> ranges[] = {{0x20, 0x7E},     {0xA1, 0x17F},     {0x192, 0x192},
                                                  {0x400, 0x49B},   {0x1E00, 0x1E2B}, {0x1EC8, 0x1EC9},
                                                  {0x20A7, 0x20A7}, {0x20AC, 0x20AC}, {0x2190, 0x2193}};
    std::vector<int32_t> out;
    for (const auto& [lo, hi] : ranges) {
        for (int32_t c = lo; c <= hi; ++c) {
            out.push_back(c);
        }
    }
    return out;
}

TEST(EnhancedFontsHeader, CompilesAsC) { EXPECT_EQ(inkora_enhanced_fonts_header_check_c(), 10); }

// ---------------------------------------------------------------- built-in fonts

struct BuiltIn {
    const char* name;
    const inkora_enhanced_font* font;
    const inkora_font_char* data;
    const int32_t* lookup;
    int32_t cell_width;  // 0 for the proportional font
    int32_t cell_height;
    int32_t descent;
};

const BuiltIn kBuiltIns[] = {
    {"inkora_default", &inkora_default, inkora_default_data, inkora_default_lookup, 0, 0, 0},
    {"ubuntu_mono_e_12pt", &ubuntu_mono_e_12pt, ubuntu_mono_e_12pt_data, ubuntu_mono_e_12pt_lookup, 6, 12, 2},
    {"ubuntu_mono_e_16pt", &ubuntu_mono_e_16pt, ubuntu_mono_e_16pt_data, ubuntu_mono_e_16pt_lookup, 8, 17, 3},
    {"ubuntu_mono_e_24pt", &ubuntu_mono_e_24pt, ubuntu_mono_e_24pt_data, ubuntu_mono_e_24pt_lookup, 12, 25, 5},
    {"ubuntu_mono_e_30pt", &ubuntu_mono_e_30pt, ubuntu_mono_e_30pt_data, ubuntu_mono_e_30pt_lookup, 15, 31, 6},
};

class BuiltInFonts : public ::testing::TestWithParam<BuiltIn> {};

TEST_P(BuiltInFonts, CoverExactlyTheirCodePointsInOrder) {
    const BuiltIn& b = GetParam();
    std::vector<int32_t> expected = covered_code_points();
    if (b.cell_width == 0) {
        expected.push_back(0);
        expected.push_back(0xA0);
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(b.font->bitDepth, 1);
    EXPECT_EQ(b.font->indexes, b.lookup);
    EXPECT_EQ(b.font->glyphs, b.data);
    ASSERT_EQ(b.font->glyphCount, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(std::vector<int32_t>(b.lookup, b.lookup + b.font->glyphCount), expected);
}

TEST_P(BuiltInFonts, GlyphRecordsAreConsistent) {
    const BuiltIn& b = GetParam();
    for (int32_t i = 0; i < b.font->glyphCount; ++i) {
        const inkora_font_char& g = b.data[i];
        SCOPED_TRACE(::testing::Message() << "U+" << std::hex << b.lookup[i]);
        const uint32_t bits = static_cast<uint32_t>(g.width) * g.height;
        ASSERT_EQ(g.rasterLen, (bits + 7) / 8);
        // No stray bits after the image.
        for (uint32_t bit = bits; bit < g.rasterLen * 8; ++bit) {
            EXPECT_EQ(g.raster[bit / 8] & (0x80u >> (bit % 8)), 0);
        }
        for (uint32_t byte = g.rasterLen; byte < sizeof g.raster; ++byte) {
            EXPECT_EQ(g.raster[byte], 0);
        }
        if (b.cell_width != 0) {
            EXPECT_EQ(g.width, b.cell_width);
            EXPECT_EQ(g.height, b.cell_height);
            EXPECT_EQ(g.decent, b.descent);
        } else {
            EXPECT_GE(g.width, 1);
            EXPECT_LE(g.width, 9);
            EXPECT_GE(g.height, 1);
            EXPECT_LE(g.height, 10);
            EXPECT_LE(g.decent, 3);
            EXPECT_LT(g.decent, g.height);
        }
        const bool combining = b.cell_width == 0 && (b.lookup[i] == 0xA8 || b.lookup[i] == 0xB8);
        EXPECT_EQ(g.combine, combining ? 1 : 0);
        // Every glyph but the spaces has ink.
        int32_t ink = 0;
        for (int32_t r = 0; r < g.height; ++r) {
            for (int32_t c = 0; c < g.width; ++c) {
                ink += glyph_bit(g, c, r) ? 1 : 0;
            }
        }
        if (b.lookup[i] == 0x20 || b.lookup[i] == 0xA0) {
            EXPECT_EQ(ink, 0);
        } else {
            EXPECT_GT(ink, 0);
        }
    }
}

// Rows of ink of a glyph above and below the baseline.
struct InkRows {
    int32_t above = 0, below = 0;
};

InkRows ink_rows(const inkora_font_char& g) {
    InkRows out;
    const int32_t baseline = g.height - g.decent;  // first row below the baseline
    for (int32_t r = 0; r < g.height; ++r) {
        for (int32_t c = 0; c < g.width; ++c) {
            if (glyph_bit(g, c, r)) {
                if (r < baseline) {
                    out.above = std::max(out.above, baseline - r);
                } else {
                    out.below = std::max(out.below, r - baseline + 1);
                }
            }
        }
    }
    return out;
}

TEST_P(BuiltInFonts, LettersSitOnTheBaseline) {
    const BuiltIn& b = GetParam();
    const auto glyph = [&](UChar32 c) { return ink_rows(*enhanced_get_font_character(b.font, c)); };
    for (UChar32 c : {'A', 'H', 'x', 'a', 'o', '1'}) {
        EXPECT_GT(glyph(c).above, 0) << static_cast<char>(c);
        EXPECT_EQ(glyph(c).below, 0) << static_cast<char>(c);
    }
    for (UChar32 c : {UChar32{'g'}, UChar32{'p'}, UChar32{'y'}, UChar32{0x0444} /* Cyrillic ef */}) {
        EXPECT_GT(glyph(c).below, 0) << std::hex << c;
    }
    // Capitals are taller than the x-height, accents rise above capitals and
    // a cedilla hangs below.
    EXPECT_GT(glyph('H').above, glyph('x').above);
    EXPECT_GT(glyph(0x00C9).above, glyph('E').above);
    EXPECT_GT(glyph(0x1E1E).above, glyph('F').above);  // composed where the typeface lacks it
    EXPECT_GT(glyph(0x00C7).below, 0);
}

INSTANTIATE_TEST_SUITE_P(All, BuiltInFonts, ::testing::ValuesIn(kBuiltIns),
                         [](const auto& info) { return std::string(info.param.name); });

struct Metrics {
    UChar32 cp;
    int width, height, decent;
};

class DefaultFontRows : public ::testing::TestWithParam<Metrics> {};

TEST_P(DefaultFontRows, HaveTheirMetrics) {
    const Metrics& m = GetParam();
    const inkora_font_char* g = enhanced_get_font_character(&inkora_default, m.cp);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->width, m.width);
    EXPECT_EQ(g->height, m.height);
    EXPECT_EQ(g->decent, m.decent);
}

INSTANTIATE_TEST_SUITE_P(Pinned, DefaultFontRows,
                         ::testing::Values(Metrics{0x0000, 4, 6, 1}, Metrics{0x0041, 4, 5, 0},
                                           Metrics{0x0042, 4, 5, 0}, Metrics{0x0067, 4, 5, 1},
                                           Metrics{0x0069, 1, 5, 0}, Metrics{0x002E, 2, 1, 0},
                                           Metrics{0x0020, 2, 1, 0}, Metrics{0x20AC, 5, 7, 2}));

TEST(DefaultFont, CapitalsAreFiveHigh) {
    for (UChar32 c = 'A'; c <= 'Z'; ++c) {
        const inkora_font_char* g = enhanced_get_font_character(&inkora_default, c);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->height - g->decent, 5) << static_cast<char>(c);
    }
    for (UChar32 c : {0x00C9, 0x00C5, 0x0106, 0x1E02}) {  // accented capitals rise above the cap height
        const inkora_font_char* g = enhanced_get_font_character(&inkora_default, c);
        ASSERT_NE(g, nullptr);
        EXPECT_GT(g->height - g->decent, 5) << std::hex << c;
    }
}

// ---------------------------------------------------------------- lookup and measuring

// A font with one glyph of each kind; with or without the stand-in for 0.
struct TinyFont {
    std::vector<int32_t> indexes;
    std::vector<inkora_font_char> glyphs;
    inkora_enhanced_font font{};

    explicit TinyFont(bool with_stand_in) {
        if (with_stand_in) {
            add(0, 3, 3, 0, {0xFF, 0x80});  // full 3 x 3 box
        }
        add('a', 2, 2, 0, {0xF0});
        add('q', 2, 4, 2, {0xFF});
        font = inkora_enhanced_font{1, static_cast<int32_t>(indexes.size()), indexes.data(), glyphs.data()};
    }
    void add(int32_t cp, uint8_t w, uint8_t h, uint8_t d, std::vector<uint8_t> raster) {
        inkora_font_char g{};
        g.width = w;
        g.height = h;
        g.decent = d;
        g.rasterLen = static_cast<uint32_t>(raster.size());
        std::copy(raster.begin(), raster.end(), g.raster);
        indexes.push_back(cp);
        glyphs.push_back(g);
    }
};

TEST(Lookup, MissingCodePointFallsBackToZeroOrNothing) {
    TinyFont with(true);
    TinyFont without(false);
    EXPECT_EQ(enhanced_get_font_character(&with.font, 'a'), &with.glyphs[1]);
    EXPECT_EQ(enhanced_get_font_character(&with.font, 'z'), &with.glyphs[0]);
    EXPECT_EQ(enhanced_get_font_character(&with.font, 0), &with.glyphs[0]);
    EXPECT_EQ(enhanced_get_font_character(&without.font, 'z'), nullptr);
    EXPECT_EQ(enhanced_get_font_character(&without.font, 0), nullptr);
    EXPECT_EQ(enhanced_get_font_character(nullptr, 'a'), nullptr);
    EXPECT_EQ(enhanced_get_font_character(&inkora_default, 0x4E00), enhanced_get_font_character(&inkora_default, 0));
    EXPECT_EQ(enhanced_get_font_character(&ubuntu_mono_e_12pt, 0x4E00), nullptr);
}

struct MeasureCase {
    const char* name;
    const inkora_enhanced_font* font;
    std::vector<UChar32> text;
    uint32_t width, height;
};

class Measuring : public ::testing::TestWithParam<MeasureCase> {};

TEST_P(Measuring, WidthAndHeight) {
    const MeasureCase& c = GetParam();
    EXPECT_EQ(enhanced_get_string_width(c.font, c.text.data()), c.width);
    EXPECT_EQ(enhanced_get_string_height(c.font, c.text.data()), c.height);
}

TinyFont kTinyWithout(false);

INSTANTIATE_TEST_SUITE_P(
    Cases, Measuring,
    ::testing::Values(MeasureCase{"AB", &inkora_default, text({'A', 'B'}), 10, 5},
                      MeasureCase{"Ag", &inkora_default, text({'A', 'g'}), 10, 6},
                      MeasureCase{"empty", &inkora_default, text({}), 0, 0},
                      MeasureCase{"g_dot", &inkora_default, text({'g', '.'}), 8, 5},
                      MeasureCase{"missing_default", &inkora_default, text({0x4E00}), 5, 6},
                      MeasureCase{"missing_between", &inkora_default, text({'A', 0x4E00, 'B'}), 15, 6},
                      MeasureCase{"mono16_one", &ubuntu_mono_e_16pt, text({'x'}), 9, 17},
                      MeasureCase{"mono16_three", &ubuntu_mono_e_16pt, text({'A', 'g', 0x0416}), 27, 17},
                      MeasureCase{"mono12_missing_adds_nothing", &ubuntu_mono_e_12pt, text({'A', 0x4E00}), 7, 12},
                      MeasureCase{"mono30_only_missing", &ubuntu_mono_e_30pt, text({0x4E00}), 0, 0},
                      MeasureCase{"mono24", &ubuntu_mono_e_24pt, text({'a', 'b'}), 26, 25},
                      MeasureCase{"font_without_stand_in_skips", &kTinyWithout.font, text({'a', 'z', 'q'}), 6, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Measuring, NullTextMeasuresNothing) {
    EXPECT_EQ(u_strlen32(nullptr), 0u);
    EXPECT_EQ(enhanced_get_string_width(&inkora_default, nullptr), 0u);
    EXPECT_EQ(enhanced_get_string_height(&inkora_default, nullptr), 0u);
    const auto t = text({'a', 'b', 'c'});
    EXPECT_EQ(u_strlen32(t.data()), 3u);
}

// ---------------------------------------------------------------- drawing

TEST(Drawing, GAndDotShareTheBaseline) {
    Canvas canvas(20, 10);
    const auto t = text({'g', '.'});
    enhanced_draw_string(&canvas.bmp, &inkora_default, t.data(), 0, 0, kBlack);
    const inkora_font_char* g = enhanced_get_font_character(&inkora_default, 'g');
    const inkora_font_char* dot = enhanced_get_font_character(&inkora_default, '.');
    EXPECT_TRUE(shows_glyph(canvas, *g, 0, 0));     // rows 0-4
    EXPECT_TRUE(shows_glyph(canvas, *dot, 5, 3));   // row 3, after 4 + 1 pixels
    EXPECT_TRUE(canvas.inked(5, 3) && canvas.inked(6, 3));
    int32_t ink = 0;
    for (int32_t r = 0; r < g->height; ++r) {
        for (int32_t c = 0; c < g->width; ++c) {
            ink += glyph_bit(*g, c, r) ? 1 : 0;
        }
    }
    EXPECT_EQ(canvas.ink_count(), ink + 2);  // nothing else drawn
}

TEST(Drawing, MissingCodePointDrawsTheStandInOrNothing) {
    Canvas with_default(20, 10);
    const auto t = text({0x4E00});
    enhanced_draw_string(&with_default.bmp, &inkora_default, t.data(), 2, 1, kBlack);
    EXPECT_TRUE(shows_glyph(with_default, *enhanced_get_font_character(&inkora_default, 0), 2, 1));
    EXPECT_GT(with_default.ink_count(), 0);

    Canvas mono(20, 20);
    enhanced_draw_string(&mono.bmp, &ubuntu_mono_e_12pt, t.data(), 2, 1, kBlack);
    EXPECT_EQ(mono.ink_count(), 0);

    // A skipped character does not advance: 'a' then 'q' sit side by side.
    Canvas tiny(10, 10);
    const auto aq = text({'a', 0x4E00, 'q'});
    enhanced_draw_string(&tiny.bmp, &kTinyWithout.font, aq.data(), 0, 0, kBlack);
    EXPECT_TRUE(shows_glyph(tiny, kTinyWithout.glyphs[0], 0, 0));  // ceiling 2: 'a' at row 0
    EXPECT_TRUE(shows_glyph(tiny, kTinyWithout.glyphs[1], 3, 0));  // 'q' 4 high, 2 below the baseline
    EXPECT_EQ(tiny.ink_count(), 4 + 8);
}

TEST(Drawing, BytePerPixelGlyphsBlend) {
    std::vector<int32_t> indexes = {'x'};
    inkora_font_char g{};
    g.width = 3;
    g.height = 1;
    g.rasterLen = 3;
    g.raster[0] = 0;    // full ink
    g.raster[1] = 127;  // alpha 128
    g.raster[2] = 255;  // no ink
    const inkora_enhanced_font font{8, 1, indexes.data(), &g};
    Canvas canvas(4, 1);
    enhanced_draw_char(&canvas.bmp, &font, 'x', 0, 0, 0xFF0000FFu);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 1, 0), 0xFF7E7EFFu);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 2, 0), kWhite);
}

TEST(Drawing, RasterLengthBoundsTheImage) {
    // A record claiming a larger glyph than its image holds draws only what
    // the image has.
    std::vector<int32_t> indexes = {'x'};
    inkora_font_char g{};
    g.width = 255;
    g.height = 255;
    g.rasterLen = 0xFFFFFFFFu;
    std::fill(std::begin(g.raster), std::end(g.raster), 0xFF);
    const inkora_enhanced_font font{1, 1, indexes.data(), &g};
    Canvas canvas(300, 20);
    enhanced_draw_char(&canvas.bmp, &font, 'x', 0, 0, kBlack);
    EXPECT_EQ(canvas.ink_count(), 200 * 8);
}

struct AlignCase {
    const char* name;
    inkora_string_alignment h, v;
};

class Aligned : public ::testing::TestWithParam<AlignCase> {};

TEST_P(Aligned, SameResultForTheBoxInEitherOrder) {
    const AlignCase& c = GetParam();
    const auto t = text({'A', 'g', 0x20AC});
    const auto w = static_cast<int32_t>(enhanced_get_string_width(&inkora_default, t.data()));
    const auto h = static_cast<int32_t>(enhanced_get_string_height(&inkora_default, t.data()));
    const auto start = [](int32_t lo, int32_t hi, int32_t extent, inkora_string_alignment a) {
        return a == INKORA_ALIGN_BEGIN ? lo : a == INKORA_ALIGN_MIDDLE ? lo + (hi - lo) / 2 - extent / 2 : hi - extent;
    };
    Canvas expected(110, 30);
    enhanced_draw_string(&expected.bmp, &inkora_default, t.data(), start(0, 100, w, c.h), start(0, 20, h, c.v),
                         kBlack);
    for (const bool reversed : {false, true}) {
        Canvas canvas(110, 30);
        if (reversed) {
            enhanced_draw_string_aligned(&canvas.bmp, &inkora_default, t.data(), 100, 20, 0, 0, c.h, c.v, kBlack);
        } else {
            enhanced_draw_string_aligned(&canvas.bmp, &inkora_default, t.data(), 0, 0, 100, 20, c.h, c.v, kBlack);
        }
        EXPECT_EQ(canvas.buffer, expected.buffer) << (reversed ? "reversed box" : "box");
        EXPECT_GT(canvas.ink_count(), 10);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Aligned,
                         ::testing::Values(AlignCase{"end_end", INKORA_ALIGN_END, INKORA_ALIGN_END},
                                           AlignCase{"begin_begin", INKORA_ALIGN_BEGIN, INKORA_ALIGN_BEGIN},
                                           AlignCase{"middle_end", INKORA_ALIGN_MIDDLE, INKORA_ALIGN_END},
                                           AlignCase{"end_middle", INKORA_ALIGN_END, INKORA_ALIGN_MIDDLE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Aligned, EndEndTouchesTheBottomRightCorner) {
    const auto t = text({'A', 'g'});
    Canvas canvas(110, 30);
    enhanced_draw_string_aligned(&canvas.bmp, &inkora_default, t.data(), 100, 20, 0, 0, INKORA_ALIGN_END,
                                 INKORA_ALIGN_END, kBlack);
    // 10 x 6: drawn from (90, 14); g's descender reaches row 19, A starts at x 90.
    const inkora_font_char* a = enhanced_get_font_character(&inkora_default, 'A');
    EXPECT_TRUE(shows_glyph(canvas, *a, 90, 14));
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 110; ++x) {
            if (canvas.inked(x, y)) {
                EXPECT_TRUE(x >= 90 && x < 100 && y >= 14 && y < 20) << x << "," << y;
            }
        }
    }
}

// ---------------------------------------------------------------- encodings

struct EncodingCase {
    const char* name;
    std::string bytes;
    const char* encoding;
    bool ok;
    std::vector<UChar32> expected;
};

class Encodings : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(Encodings, Convert) {
    const EncodingCase& c = GetParam();
    uint32_t count = 0xDEAD;
    std::unique_ptr<UChar32, decltype(&std::free)> out(
        parse_string_encoding(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), c.encoding, &count),
        &std::free);
    if (!c.ok) {
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(count, 0xDEADu);
        return;
    }
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(count, c.expected.size());
    std::vector<UChar32> expected = c.expected;
    expected.push_back(0);  // the terminating entry
    EXPECT_EQ(std::vector<UChar32>(out.get(), out.get() + count + 1), expected);
    EXPECT_EQ(u_strlen32(out.get()), count);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, Encodings,
    ::testing::Values(
        EncodingCase{"utf8_e_acute", "\xC3\xA9"s, "utf-8", true, {0xE9}},
        EncodingCase{"utf8_stops_at_zero", "\x41\x00\x42"s, "utf-8", true, {0x41}},
        EncodingCase{"utf8_leading_zero", "\x00\x41"s, "UTF-8", true, {}},
        EncodingCase{"utf8_mixed", "A\xE2\x82\xAC\xF0\x9F\x98\x80"s, "utf8", true, {0x41, 0x20AC, 0x1F600}},
        EncodingCase{"empty_text", ""s, "utf-8", true, {}},
        EncodingCase{"latin1", "\xE9t\xE9"s, "ISO-8859-1", true, {0xE9, 't', 0xE9}},
        EncodingCase{"windows_1251", "\xC6\xE6"s, "windows-1251", true, {0x416, 0x436}},
        EncodingCase{"utf16le", "A\x00\xAC\x20"s, "UTF-16LE", true, {0x41, 0x20AC}},
        // Names that several converters share only warn; they still convert.
        EncodingCase{"ambiguous_alias_shift_jis", "A\x82\xA0"s, "Shift_JIS", true, {0x41, 0x3042}},
        // A stateful encoding: both passes start in the initial state.
        EncodingCase{"iso_2022_jp", "\x1B$B\x30\x21\x1B(BA"s, "ISO-2022-JP", true, {0x4E9C, 0x41}},
        // ICU's converters substitute malformed input.
        EncodingCase{"malformed_utf8_substituted", "A\xFF"s, "utf-8", true, {0x41, 0xFFFD}},
        EncodingCase{"unknown_encoding", "abc"s, "no-such-encoding", false, {}},
        EncodingCase{"unknown_encoding_empty_text", ""s, "no-such-encoding", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Encodings, NullArgumentsGiveNull) {
    uint32_t count = 0;
    EXPECT_EQ(parse_string_encoding(nullptr, 3, "utf-8", &count), nullptr);
    EXPECT_EQ(parse_string_encoding("abc", 3, nullptr, &count), nullptr);
    EXPECT_EQ(parse_string_encoding("abc", 3, "utf-8", nullptr), nullptr);
}

TEST(Encodings, ConvertedTextDrawsLikeCodePoints) {
    const std::string utf8 = "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC";
    uint32_t count = 0;
    std::unique_ptr<UChar32, decltype(&std::free)> converted(
        parse_string_encoding(utf8.data(), static_cast<uint32_t>(utf8.size()), "utf-8", &count), &std::free);
    ASSERT_NE(converted, nullptr);
    const auto direct = text({'G', 'r', 0xFC, 0xDF, ' ', 0x20AC});
    EXPECT_EQ(enhanced_get_string_width(&inkora_default, converted.get()),
              enhanced_get_string_width(&inkora_default, direct.data()));
}

// ---------------------------------------------------------------- specimens

// Renders every glyph of a font in rows of 32 with the code point of each row
// in front, checks that every glyph landed as its data says, and writes the
// bitmap as a BMP file (into INKORA_FONT_SPECIMEN_DIR, else the test's build
// directory) for people to look at.
TEST_P(BuiltInFonts, Specimen) {
    const BuiltIn& b = GetParam();
    constexpr int32_t kPerRow = 32;
    int32_t max_w = 0, ascent = 0, descent = 0;
    for (int32_t i = 0; i < b.font->glyphCount; ++i) {
        max_w = std::max<int32_t>(max_w, b.data[i].width);
        ascent = std::max<int32_t>(ascent, b.data[i].height - b.data[i].decent);
        descent = std::max<int32_t>(descent, b.data[i].decent);
    }
    const int32_t cell_w = max_w + 3, cell_h = std::max(ascent + descent, 7) + 4;
    const int32_t margin = 36;
    const int32_t rows = (b.font->glyphCount + kPerRow - 1) / kPerRow;
    Canvas canvas(margin + kPerRow * cell_w + 2, rows * cell_h + 4);

    for (int32_t i = 0; i < b.font->glyphCount; ++i) {
        const int32_t row = i / kPerRow, col = i % kPerRow;
        const int32_t x = margin + col * cell_w + 2;
        const int32_t line = row * cell_h + 3;  // every glyph of a row on one baseline
        const inkora_font_char& g = b.data[i];
        const int32_t y = line + ascent + g.decent - g.height;
        if (col == 0) {
            char label[16];
            std::snprintf(label, sizeof label, "%04X", static_cast<unsigned>(b.lookup[i]));
            std::vector<UChar32> t;
            for (const char* p = label; *p != 0; ++p) {
                t.push_back(static_cast<unsigned char>(*p));
            }
            t.push_back(0);
            enhanced_draw_string(&canvas.bmp, &inkora_default, t.data(), 2, line + ascent - 5, 0x2050A0FFu);
        }
        // Glyph box tinted, so that widths and heights show.
        inkora_fill_rectangle(&canvas.bmp, x, y, x + g.width - 1, y + g.height - 1, 0xFFD8A0FFu);
        enhanced_draw_char(&canvas.bmp, b.font, b.lookup[i], x, y, kBlack);
        for (int32_t r = 0; r < g.height; ++r) {
            for (int32_t c = 0; c < g.width; ++c) {
                ASSERT_EQ(inkora_get_pixel(&canvas.bmp, x + c, y + r) == kBlack, glyph_bit(g, c, r))
                    << "U+" << std::hex << b.lookup[i];
            }
        }
    }

    const char* dir = std::getenv("INKORA_FONT_SPECIMEN_DIR");
    const std::string path =
        std::string(dir != nullptr ? dir : INKORA_FONT_SPECIMEN_DEFAULT_DIR) + "/font-specimen-" + b.name + ".bmp";
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(canvas.bmp.bitmap), canvas.bmp.totalSize);
    out.close();
    EXPECT_TRUE(out.good()) << path;
    std::ifstream back(path, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<int64_t>(back.tellg()), canvas.bmp.totalSize);
}

}  // namespace
