#include "inkora-graphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

extern "C" int inkora_graphics_header_check_c(void);

namespace {

constexpr inkora_gcolor kWhite = 0xFFFFFFFFu;
constexpr inkora_gcolor kBlack = 0x000000FFu;
constexpr inkora_gcolor kRed = 0xFF0000FFu;

using Point = std::pair<int32_t, int32_t>;
using Points = std::set<Point>;

// A bitmap with its own buffer, plus a guard zone after the image that no
// primitive may touch.
struct Canvas {
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> buffer;
    inkora_bitmap bmp{};

    Canvas(int32_t width, int32_t height) {
        inkora_bitmap probe{};
        std::vector<uint8_t> scratch(INKORA_BITMAP_HEADER_SIZE);
        // The size is known only after init, so initialise over a zero-height
        // probe first to learn rowSize.
        inkora_bitmap_init(&probe, scratch.data(), width, 0);
        buffer.assign(static_cast<size_t>(INKORA_BITMAP_HEADER_SIZE) +
                          static_cast<size_t>(probe.rowSize) * static_cast<size_t>(height) + kGuard,
                      0xA5);
        inkora_bitmap_init(&bmp, buffer.data(), width, height);
    }

    // Every pixel that is not white.
    Points inked() const {
        Points out;
        for (int32_t y = 0; y < bmp.height; ++y) {
            for (int32_t x = 0; x < bmp.width; ++x) {
                if (inkora_get_pixel(&bmp, x, y) != kWhite) {
                    out.insert({x, y});
                }
            }
        }
        return out;
    }

    bool guard_intact() const {
        for (size_t i = static_cast<size_t>(bmp.totalSize); i < buffer.size(); ++i) {
            if (buffer[i] != 0xA5) {
                return false;
            }
        }
        return true;
    }
};

std::string show(const Points& points) {
    std::string out;
    for (const auto& [x, y] : points) {
        out += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    }
    return out;
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

TEST(InkoraGraphicsHeader, CompilesAsC) { EXPECT_EQ(inkora_graphics_header_check_c(), 1); }

// ---------------------------------------------------------------- layout

struct SizeCase {
    int32_t width, height, rowSize, arraySize, totalSize;
};

class BitmapSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BitmapSizes, RowArrayAndTotalSize) {
    const SizeCase& c = GetParam();
    Canvas canvas(c.width, c.height);
    EXPECT_EQ(canvas.bmp.width, std::max(c.width, 0));  // negative sizes are taken as 0
    EXPECT_EQ(canvas.bmp.height, std::max(c.height, 0));
    EXPECT_EQ(canvas.bmp.rowSize, c.rowSize);
    EXPECT_EQ(canvas.bmp.arraySize, c.arraySize);
    EXPECT_EQ(canvas.bmp.totalSize, c.totalSize);
    EXPECT_EQ(canvas.bmp.headerSize, 54);
    EXPECT_EQ(canvas.bmp.bitmap, canvas.buffer.data());
    EXPECT_EQ(canvas.bmp.raster, canvas.buffer.data() + 54);
    EXPECT_TRUE(canvas.guard_intact());
}

INSTANTIATE_TEST_SUITE_P(Cases, BitmapSizes,
                         ::testing::Values(SizeCase{1, 1, 4, 4, 58}, SizeCase{4, 1, 12, 12, 66},
                                           SizeCase{5, 1, 16, 16, 70}, SizeCase{10, 2, 32, 64, 118},
                                           SizeCase{320, 240, 960, 230400, 230454},
                                           SizeCase{0, 5, 0, 0, 54}, SizeCase{-3, -3, 0, 0, 54}));

TEST(Bitmap, FreshHeaderIsExactlyTheBmpHeader) {
    Canvas canvas(10, 2);
    std::vector<uint8_t> expected(54, 0);
    const auto put4 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            expected[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    expected[0] = 0x42;
    expected[1] = 0x4D;
    put4(2, 118);
    put4(10, 54);
    put4(14, 40);
    put4(18, 10);
    put4(22, 2);
    expected[26] = 1;
    expected[28] = 24;
    put4(34, 64);
    EXPECT_EQ(std::vector<uint8_t>(canvas.buffer.begin(), canvas.buffer.begin() + 54), expected);
}

TEST(Bitmap, FreshBitmapIsWhiteIncludingPadding) {
    Canvas canvas(5, 3);  // 15 bytes of pixels, one byte of padding per row
    for (int32_t i = 0; i < canvas.bmp.arraySize; ++i) {
        ASSERT_EQ(canvas.bmp.raster[i], 0xFF) << "byte " << i;
    }
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, y), kWhite);
        }
    }
}

TEST(Bitmap, WriteHeaderLeavesOtherBytesAlone) {
    std::vector<uint8_t> image(54, 0x77);
    inkora_bitmap_write_header(image.data(), 0x01020304, 0x0A0B0C0D, 640, 480);
    EXPECT_EQ(le32(&image[2]), 0x01020304u);
    EXPECT_EQ(le32(&image[34]), 0x0A0B0C0Du);
    EXPECT_EQ(le32(&image[18]), 640u);
    EXPECT_EQ(le32(&image[22]), 480u);
    EXPECT_EQ(image[6], 0x77);  // reserved bytes are init's business
    EXPECT_EQ(image[38], 0x77);
}

TEST(Bitmap, PixelZeroZeroIsFirstPixelOfLastStoredRow) {
    Canvas canvas(5, 3);
    inkora_set_pixel(&canvas.bmp, 0, 0, 0x112233FFu);
    const uint8_t* last_row = canvas.bmp.raster + 2 * canvas.bmp.rowSize;
    EXPECT_EQ(last_row[0], 0x33);  // blue
    EXPECT_EQ(last_row[1], 0x22);  // green
    EXPECT_EQ(last_row[2], 0x11);  // red
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 0, 0), 0x112233FFu);

    inkora_set_pixel(&canvas.bmp, 4, 2, 0x445566FFu);  // bottom-right: last pixel of the first stored row
    EXPECT_EQ(canvas.bmp.raster[12], 0x66);
    EXPECT_EQ(canvas.bmp.raster[13], 0x55);
    EXPECT_EQ(canvas.bmp.raster[14], 0x44);
    EXPECT_EQ(canvas.bmp.raster[15], 0xFF);  // padding untouched
}

class PixelClipping : public ::testing::TestWithParam<Point> {};

TEST_P(PixelClipping, OutsideChangesNothingAndReadsWhite) {
    Canvas canvas(5, 3);
    const std::vector<uint8_t> before = canvas.buffer;
    const auto [x, y] = GetParam();
    inkora_set_pixel(&canvas.bmp, x, y, kBlack);
    EXPECT_EQ(canvas.buffer, before);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, y), kWhite);
}

INSTANTIATE_TEST_SUITE_P(Cases, PixelClipping,
                         ::testing::Values(Point{-1, 0}, Point{5, 0}, Point{0, -1}, Point{0, 3}, Point{-1, -1},
                                           Point{INT32_MAX, 0}, Point{0, INT32_MIN}));

// ---------------------------------------------------------------- blending

struct BlendCase {
    const char* name;
    inkora_gcolor fg, bg, expected;
};

class Blending : public ::testing::TestWithParam<BlendCase> {};

TEST_P(Blending, Blend) {
    const BlendCase& c = GetParam();
    EXPECT_EQ(inkora_color_blend(c.fg, c.bg), c.expected) << std::hex << inkora_color_blend(c.fg, c.bg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Blending,
    ::testing::Values(BlendCase{"opaque_returns_foreground", 0x123456FFu, kWhite, 0x123456FFu},
                      BlendCase{"transparent_returns_background", 0x12345600u, 0xABCDEF80u, 0xABCDEF80u},
                      // 255 * (1 - 128/255) is 127 exactly, but truncating in single precision gives 126.
                      BlendCase{"half_red_over_white", 0xFF000080u, kWhite, 0xFF7E7EFFu},
                      BlendCase{"half_black_over_white", 0x00000080u, kWhite, 0x7E7E7EFFu},
                      BlendCase{"over_transparent_background_keeps_foreground", 0x20406080u, 0xFFFFFF00u,
                                0x204060FFu},
                      BlendCase{"result_is_opaque", 0xFF000001u, 0x00FF0080u, 0x01FD00FFu}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Blending, SetPixelBlendsTranslucentColours) {
    Canvas canvas(2, 1);
    inkora_set_pixel(&canvas.bmp, 0, 0, 0xFF000080u);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 0, 0), 0xFF7E7EFFu);
    inkora_set_pixel(&canvas.bmp, 1, 0, 0x00000000u);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 1, 0), kWhite);
}

// ---------------------------------------------------------------- lines

struct LineCase {
    const char* name;
    int32_t x0, y0, x1, y1;
    Points expected;
};

class Lines : public ::testing::TestWithParam<LineCase> {};

TEST_P(Lines, PlainLineSetsExactlyThesePixels) {
    const LineCase& c = GetParam();
    Canvas canvas(8, 8);
    inkora_draw_line(&canvas.bmp, c.x0, c.y0, c.x1, c.y1, kBlack);
    EXPECT_EQ(show(canvas.inked()), show(c.expected));
}

// Horizontal, vertical and diagonal lines: every pixel of the path lies
// exactly on the line.
class StraightLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(StraightLines, AntiAliasedLineHasFullInkOnThePlainPath) {
    const LineCase& c = GetParam();
    Canvas canvas(8, 8);
    inkora_draw_aa_line(&canvas.bmp, c.x0, c.y0, c.x1, c.y1, kBlack);
    for (const auto& [x, y] : c.expected) {
        EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, y), kBlack) << x << "," << y;
    }
    if (c.x0 == c.x1 || c.y0 == c.y1) {
        EXPECT_EQ(show(canvas.inked()), show(c.expected));  // nothing beside an axis-aligned line
    }
}

TEST_P(StraightLines, ThickLineOfWidthOneEqualsPlainLine) {
    const LineCase& c = GetParam();
    Canvas canvas(8, 8);
    inkora_draw_thick_line(&canvas.bmp, c.x0, c.y0, c.x1, c.y1, 1.0f, kBlack);
    if (c.x0 == c.x1 || c.y0 == c.y1) {
        EXPECT_EQ(show(canvas.inked()), show(c.expected));
    } else {
        for (const Point& p : c.expected) {
            EXPECT_TRUE(canvas.inked().count(p)) << p.first << "," << p.second;
        }
    }
}

const LineCase kStraightLines[] = {
    {"horizontal", 0, 0, 3, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}}},
    {"single_point", 0, 0, 0, 0, {{0, 0}}},
    {"reversed", 3, 1, 0, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
    {"forward", 0, 1, 3, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}}},
    {"vertical_up", 2, 5, 2, 2, {{2, 2}, {2, 3}, {2, 4}, {2, 5}}},
    {"diagonal", 0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
    {"anti_diagonal", 3, 0, 0, 3, {{3, 0}, {2, 1}, {1, 2}, {0, 3}}},
    {"clipped", -2, 1, 2, 1, {{0, 1}, {1, 1}, {2, 1}}},
};

const LineCase kSlopedLines[] = {
    {"shallow", 0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},
    {"steep", 0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
};

const auto kLineName = [](const auto& info) { return std::string(info.param.name); };

INSTANTIATE_TEST_SUITE_P(Straight, Lines, ::testing::ValuesIn(kStraightLines), kLineName);
INSTANTIATE_TEST_SUITE_P(Sloped, Lines, ::testing::ValuesIn(kSlopedLines), kLineName);
INSTANTIATE_TEST_SUITE_P(Cases, StraightLines, ::testing::ValuesIn(kStraightLines), kLineName);

TEST(AntiAliasedLine, SlopedLineShadesItsNeighbours) {
    Canvas canvas(12, 6);
    inkora_draw_aa_line(&canvas.bmp, 0, 0, 10, 3, kBlack);
    // The end points lie exactly on the line.
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 0, 0), kBlack);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 10, 3), kBlack);
    int grey = 0;
    for (const auto& [x, y] : canvas.inked()) {
        const inkora_gcolor c = inkora_get_pixel(&canvas.bmp, x, y);
        // Black blended over white stays grey: equal channels.
        EXPECT_EQ(c >> 24, (c >> 16) & 0xFF);
        EXPECT_EQ(c >> 24, (c >> 8) & 0xFF);
        // No pixel further than one pixel from the ideal line is touched.
        const double distance = std::fabs(3.0 * x - 10.0 * y) / std::sqrt(109.0);
        EXPECT_LT(distance, 1.0) << x << "," << y;
        if (c != kBlack) {
            ++grey;
        }
    }
    EXPECT_GT(grey, 5);
}

TEST(ThickLines, WiderLineContainsThePlainLineAndMore) {
    Canvas plain(20, 20);
    Canvas thick(20, 20);
    inkora_draw_line(&plain.bmp, 2, 3, 15, 12, kBlack);
    inkora_draw_thick_line(&thick.bmp, 2, 3, 15, 12, 4.0f, kBlack);
    const Points p = plain.inked();
    const Points t = thick.inked();
    for (const Point& point : p) {
        EXPECT_TRUE(t.count(point)) << point.first << "," << point.second;
    }
    EXPECT_GE(t.size(), 3 * p.size());
    for (const auto& [x, y] : t) {
        EXPECT_EQ(inkora_get_pixel(&thick.bmp, x, y), kBlack);  // never anti-aliased
    }
}

TEST(ThickLines, AntiAliasedWideLineIsSolidInTheMiddle) {
    Canvas canvas(20, 20);
    inkora_draw_thick_aa_line(&canvas.bmp, 2, 10, 17, 10, 5.0f, kRed);
    // wd = 3: the walk reaches three pixels to one side of the centre row.
    for (int32_t x = 2; x <= 17; ++x) {
        EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, 10), kRed);
        EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, 9), kRed);
    }
    for (const auto& [x, y] : canvas.inked()) {
        EXPECT_GE(x, 2);
        EXPECT_LE(x, 17);
        EXPECT_LE(std::abs(y - 10), 3);
    }
}

TEST(ThickLines, ThinAntiAliasedLineNeverInksFarPixels) {
    // With a width below one pixel the coverage formula goes negative a
    // little way from the line; such pixels must stay untouched instead of
    // wrapping round to a strong alpha.
    for (float width : {0.0f, 0.25f, 0.5f}) {
        Canvas canvas(16, 8);
        inkora_draw_thick_aa_line(&canvas.bmp, 0, 0, 12, 5, width, kBlack);
        for (const auto& [x, y] : canvas.inked()) {
            const double distance = std::fabs(5.0 * x - 12.0 * y) / 13.0;
            const inkora_gcolor c = inkora_get_pixel(&canvas.bmp, x, y);
            const int darkness = 255 - static_cast<int>(c >> 24);
            EXPECT_LE(darkness, static_cast<int>(255 * std::max(0.0, 1.0 - distance + width / 2.0)) + 2)
                << "width " << width << " at " << x << "," << y << " distance " << distance;
        }
    }
}

TEST(ThickLines, AbsurdWidthsEnd) {
    for (float width : {-5.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                        1e30f}) {
        Canvas canvas(8, 8);
        inkora_draw_thick_line(&canvas.bmp, 1, 1, 6, 3, width, kBlack);
        inkora_draw_thick_aa_line(&canvas.bmp, 1, 1, 6, 3, width, kBlack);
        EXPECT_TRUE(canvas.inked().count({1, 1})) << width;
        EXPECT_TRUE(canvas.guard_intact());
    }
}

TEST(Lines, ClippedLinesStayInsideTheBuffer) {
    Canvas canvas(7, 5);
    inkora_draw_line(&canvas.bmp, -50, -40, 60, 70, kBlack);
    inkora_draw_aa_line(&canvas.bmp, 60, -40, -50, 70, kBlack);
    inkora_draw_thick_line(&canvas.bmp, -10, 2, 30, 3, 6.0f, kBlack);
    inkora_draw_thick_aa_line(&canvas.bmp, 3, -10, 4, 30, 6.0f, kBlack);
    EXPECT_TRUE(canvas.guard_intact());
    for (int32_t y = 0; y < 5; ++y) {
        EXPECT_EQ(canvas.bmp.raster[y * canvas.bmp.rowSize + 21], 0xFF);  // row padding
    }
}

// ---------------------------------------------------------------- circles and ellipses

TEST(Circles, RadiusZeroAndOne) {
    Canvas zero(5, 5);
    inkora_draw_circle(&zero.bmp, 2, 2, 0, kBlack);
    EXPECT_EQ(show(zero.inked()), show({{2, 2}}));

    Canvas one(5, 5);
    inkora_draw_circle(&one.bmp, 2, 2, 1, kBlack);
    EXPECT_EQ(show(one.inked()), show({{1, 2}, {3, 2}, {2, 1}, {2, 3}}));
}

class CircleRadius : public ::testing::TestWithParam<int32_t> {};

TEST_P(CircleRadius, OutlineIsSymmetricClosedAndOnTheRadius) {
    const int32_t r = GetParam();
    const int32_t c = r + 2;
    Canvas canvas(2 * c + 1, 2 * c + 1);
    inkora_draw_circle(&canvas.bmp, c, c, r, kBlack);
    const Points inked = canvas.inked();
    for (const auto& [x, y] : inked) {
        const double d = std::hypot(x - c, y - c);
        EXPECT_LT(std::fabs(d - r), 1.0) << x << "," << y;
        // Mirror images are there too.
        EXPECT_TRUE(inked.count({2 * c - x, y}));
        EXPECT_TRUE(inked.count({x, 2 * c - y}));
        EXPECT_TRUE(inked.count({c + (y - c), c + (x - c)}));
        // Closed: every pixel has an 8-neighbour on the outline.
        int neighbours = 0;
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                neighbours += (dx != 0 || dy != 0) && inked.count({x + dx, y + dy}) ? 1 : 0;
            }
        }
        EXPECT_GE(neighbours, 2) << x << "," << y;
    }
    // The four extreme points.
    EXPECT_TRUE(inked.count({c + r, c}) && inked.count({c - r, c}) && inked.count({c, c + r}) &&
                inked.count({c, c - r}));
}

INSTANTIATE_TEST_SUITE_P(Cases, CircleRadius, ::testing::Values(2, 3, 5, 10, 17));

struct EllipseCase {
    int32_t x0, y0, x1, y1;
};

class Ellipses : public ::testing::TestWithParam<EllipseCase> {};

TEST_P(Ellipses, OutlineFillsItsBoundingRectangleSymmetrically) {
    const EllipseCase& e = GetParam();
    Canvas canvas(24, 24);
    inkora_draw_ellipse(&canvas.bmp, e.x0, e.y0, e.x1, e.y1, kBlack);
    const Points inked = canvas.inked();
    const int32_t left = std::min(e.x0, e.x1), right = std::max(e.x0, e.x1);
    const int32_t top = std::min(e.y0, e.y1), bottom = std::max(e.y0, e.y1);
    int32_t min_x = 99, max_x = -1, min_y = 99, max_y = -1;
    for (const auto& [x, y] : inked) {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
        EXPECT_TRUE(inked.count({left + right - x, y})) << x << "," << y;
        EXPECT_TRUE(inked.count({x, top + bottom - y})) << x << "," << y;
    }
    EXPECT_EQ(min_x, left);
    EXPECT_EQ(max_x, right);
    EXPECT_EQ(min_y, top);
    EXPECT_EQ(max_y, bottom);

    // The corners may come in any order.
    Canvas swapped(24, 24);
    inkora_draw_ellipse(&swapped.bmp, e.x1, e.y1, e.x0, e.y0, kBlack);
    EXPECT_EQ(show(swapped.inked()), show(inked));
}

INSTANTIATE_TEST_SUITE_P(Cases, Ellipses,
                         ::testing::Values(EllipseCase{2, 2, 12, 8}, EllipseCase{3, 1, 9, 20},
                                           EllipseCase{1, 5, 21, 6},    // very flat: the tips are finished
                                           EllipseCase{5, 5, 15, 15}));

TEST(FilledEllipse, CentreAndRadiiExample) {
    Canvas canvas(20, 20);
    inkora_fill_ellipse(&canvas.bmp, 10, 10, 13, 12, kBlack);
    const Points inked = canvas.inked();
    int32_t min_x = 99, max_x = -1, min_y = 99, max_y = -1;
    for (const auto& [x, y] : inked) {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
        const double nx = (x - 10) / 3.0, ny = (y - 10) / 2.0;
        EXPECT_LE(nx * nx + ny * ny, 1.0) << x << "," << y;
    }
    EXPECT_EQ(min_x, 7);
    EXPECT_EQ(max_x, 13);
    EXPECT_EQ(min_y, 8);
    EXPECT_EQ(max_y, 12);
    EXPECT_TRUE(inked.count({10, 10}));
    // Rows: cx^2 * 4 + cy^2 * 9 <= 36 gives 1 + 5 + 7 + 5 + 1 pixels.
    EXPECT_EQ(inked.size(), 19u);

    Canvas swapped(20, 20);
    inkora_fill_ellipse(&swapped.bmp, 13, 12, 10, 10, kBlack);
    EXPECT_EQ(show(swapped.inked()), show(inked));
}

TEST(FilledCircle, PixelsWithinTheRadius) {
    Canvas canvas(11, 11);
    inkora_fill_circle(&canvas.bmp, 5, 5, 1, kBlack);
    EXPECT_EQ(show(canvas.inked()), show({{5, 4}, {4, 5}, {5, 5}, {6, 5}, {5, 6}}));

    Canvas big(11, 11);
    inkora_fill_circle(&big.bmp, 5, 5, 4, kBlack);
    for (int32_t y = 0; y < 11; ++y) {
        for (int32_t x = 0; x < 11; ++x) {
            const bool inside = (x - 5) * (x - 5) + (y - 5) * (y - 5) <= 16;
            EXPECT_EQ(inkora_get_pixel(&big.bmp, x, y) == kBlack, inside) << x << "," << y;
        }
    }
}

// ---------------------------------------------------------------- rectangles

Points rect_outline(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    Points out;
    for (int32_t x = x0; x <= x1; ++x) {
        out.insert({x, y0});
        out.insert({x, y1});
    }
    for (int32_t y = y0; y <= y1; ++y) {
        out.insert({x0, y});
        out.insert({x1, y});
    }
    return out;
}

TEST(Rectangles, OutlineInAnyCornerOrder) {
    const Points expected = rect_outline(1, 1, 5, 5);
    ASSERT_EQ(expected.size(), 16u);
    for (const auto& corners : std::vector<std::array<int32_t, 4>>{{1, 1, 5, 5}, {5, 5, 1, 1}, {1, 5, 5, 1}}) {
        Canvas canvas(8, 8);
        inkora_draw_rectangle(&canvas.bmp, corners[0], corners[1], corners[2], corners[3], kBlack);
        EXPECT_EQ(show(canvas.inked()), show(expected));
    }
}

TEST(Rectangles, FilledInAnyCornerOrderWithClipping) {
    Canvas canvas(6, 6);
    inkora_fill_rectangle(&canvas.bmp, 4, 8, 2, 3, kBlack);
    Points expected;
    for (int32_t x = 2; x <= 4; ++x) {
        for (int32_t y = 3; y <= 5; ++y) {
            expected.insert({x, y});
        }
    }
    EXPECT_EQ(show(canvas.inked()), show(expected));
    EXPECT_TRUE(canvas.guard_intact());
}

struct ThickRectCase {
    int32_t border;
    Points expected;
};

Points ring(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t border) {
    Points out;
    for (int32_t i = 0; i < border; ++i) {
        if (x0 + i > x1 - i || y0 + i > y1 - i) {
            break;
        }
        const Points r = rect_outline(x0 + i, y0 + i, x1 - i, y1 - i);
        out.insert(r.begin(), r.end());
    }
    return out;
}

TEST(Rectangles, ThickBorderGrowsInwardAndFillsWhenWide) {
    Points full;
    for (int32_t x = 2; x <= 9; ++x) {
        for (int32_t y = 1; y <= 6; ++y) {
            full.insert({x, y});
        }
    }
    const std::vector<ThickRectCase> cases = {
        {0, {}},
        {1, rect_outline(2, 1, 9, 6)},
        {2, ring(2, 1, 9, 6, 2)},
        {4, full},   // more than half the height (6 rows)
        {50, full},  // much larger than the rectangle: still only the rectangle
    };
    for (const ThickRectCase& c : cases) {
        Canvas canvas(12, 12);
        inkora_draw_thick_rectangle(&canvas.bmp, 9, 6, 2, 1, c.border, kBlack);
        EXPECT_EQ(show(canvas.inked()), show(c.expected)) << "border " << c.border;
    }
}

// ---------------------------------------------------------------- clear and copy

TEST(Clear, OpaqueAndTranslucent) {
    Canvas canvas(3, 2);
    inkora_bitmap_clear(&canvas.bmp, 0x102030FFu);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(inkora_get_pixel(&canvas.bmp, x, y), 0x102030FFu);
        }
    }
    inkora_bitmap_clear(&canvas.bmp, kWhite);
    inkora_bitmap_clear(&canvas.bmp, 0xFF000080u);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 2, 1), 0xFF7E7EFFu);
    EXPECT_EQ(canvas.bmp.raster[9], 0xFF);  // padding stays as initialised
}

TEST(Copy, CopiesClipsAndFillsOutsideSourceWithWhite) {
    Canvas src(4, 4);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            inkora_set_pixel(&src.bmp, x, y, static_cast<inkora_gcolor>((x * 16 + y) << 8 | 0xFF));
        }
    }
    Canvas dst(5, 5);
    inkora_bitmap_clear(&dst.bmp, kBlack);
    // Source rows 2..4 and columns 2..4: row and column 4 are outside.
    inkora_bitmap_copy(&src.bmp, &dst.bmp, 2, 2, 3, 3, 3, 3);
    EXPECT_EQ(inkora_get_pixel(&dst.bmp, 3, 3), static_cast<inkora_gcolor>((2 * 16 + 2) << 8 | 0xFF));
    EXPECT_EQ(inkora_get_pixel(&dst.bmp, 4, 4), static_cast<inkora_gcolor>((3 * 16 + 3) << 8 | 0xFF));
    EXPECT_EQ(inkora_get_pixel(&dst.bmp, 2, 2), kBlack);  // outside the copied area
    EXPECT_TRUE(dst.guard_intact());

    inkora_bitmap_copy(&src.bmp, &dst.bmp, 3, 0, 0, 0, 2, 1);
    EXPECT_EQ(inkora_get_pixel(&dst.bmp, 0, 0), static_cast<inkora_gcolor>((3 * 16) << 8 | 0xFF));
    EXPECT_EQ(inkora_get_pixel(&dst.bmp, 1, 0), kWhite);  // source x 4 is outside
}

TEST(Copy, OverlappingAreasInOneBitmapMoveIntact) {
    for (const auto& [dx, dy] : std::vector<Point>{{1, 0}, {0, 1}, {2, 2}, {-1, 0}, {0, -2}, {-1, 1}}) {
        Canvas canvas(8, 8);
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                inkora_set_pixel(&canvas.bmp, x, y, static_cast<inkora_gcolor>((x << 4 | y) << 8 | 0xFF));
            }
        }
        inkora_bitmap_copy(&canvas.bmp, &canvas.bmp, 2, 2, 2 + dx, 2 + dy, 4, 4);
        for (int32_t y = 0; y < 4; ++y) {
            for (int32_t x = 0; x < 4; ++x) {
                EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 2 + dx + x, 2 + dy + y),
                          static_cast<inkora_gcolor>(((2 + x) << 4 | (2 + y)) << 8 | 0xFF))
                    << "move " << dx << "," << dy << " pixel " << x << "," << y;
            }
        }
    }
}

// ---------------------------------------------------------------- fixed-cell fonts

// A 3 x 2 cell font with one bit per pixel: 'a' is a full top row, 0xE9 a
// full bottom row (a byte above 0x7F, to catch signed comparisons).
struct CellFont {
    std::array<uint8_t, 2> indexes = {'a', 0xE9};
    std::array<uint8_t, 2> glyphs = {0xE0, 0x1C};
    inkora_font font{3, 2, 1, 2, 1, indexes.data(), glyphs.data()};
};

TEST(FixedCellFont, LookupComparesUnsignedBytes) {
    CellFont f;
    EXPECT_EQ(inkora_font_char_lookup(&f.font, 'a'), &f.glyphs[0]);
    EXPECT_EQ(inkora_font_char_lookup(&f.font, 0xE9), &f.glyphs[1]);
    EXPECT_EQ(inkora_font_char_lookup(&f.font, 'b'), nullptr);
    EXPECT_EQ(inkora_font_char_lookup(nullptr, 'a'), nullptr);
}

TEST(FixedCellFont, StringAdvancesByTheCellAndSkipsUnknownBytes) {
    CellFont f;
    Canvas canvas(12, 4);
    inkora_draw_string(&canvas.bmp, &f.font, "a?\xE9", 1, 1, kBlack);
    // 'a' top row at x 1-3, '?' unknown leaves x 4-6 blank, 0xE9 bottom row at x 7-9.
    EXPECT_EQ(show(canvas.inked()), show({{1, 1}, {2, 1}, {3, 1}, {7, 2}, {8, 2}, {9, 2}}));
}

TEST(FixedCellFont, AlignedInEitherBoxOrder) {
    CellFont f;
    struct Case {
        inkora_string_alignment h, v;
        int32_t x, y;  // where "aa" (6 x 2) starts in the box (0, 0)-(20, 10)
    };
    for (const Case& c : {Case{INKORA_ALIGN_BEGIN, INKORA_ALIGN_BEGIN, 0, 0},
                          Case{INKORA_ALIGN_END, INKORA_ALIGN_END, 14, 8},
                          Case{INKORA_ALIGN_MIDDLE, INKORA_ALIGN_MIDDLE, 7, 4}}) {
        Canvas expected(24, 12);
        inkora_draw_string(&expected.bmp, &f.font, "aa", c.x, c.y, kBlack);
        for (const bool reversed : {false, true}) {
            Canvas canvas(24, 12);
            if (reversed) {
                inkora_draw_string_aligned(&canvas.bmp, &f.font, "aa", 20, 10, 0, 0, c.h, c.v, kBlack);
            } else {
                inkora_draw_string_aligned(&canvas.bmp, &f.font, "aa", 0, 0, 20, 10, c.h, c.v, kBlack);
            }
            EXPECT_EQ(show(canvas.inked()), show(expected.inked())) << c.h << "," << c.v << " " << reversed;
            EXPECT_EQ(canvas.inked().size(), 6u);
        }
    }
}

TEST(FixedCellFont, BytePerPixelCellsBlend) {
    const std::array<uint8_t, 1> indexes = {'x'};
    const std::array<uint8_t, 3> glyph = {0, 127, 255};
    const inkora_font font{3, 1, 8, 1, 3, indexes.data(), glyph.data()};
    Canvas canvas(4, 1);
    inkora_draw_char(&canvas.bmp, &font, 'x', 0, 0, kRed);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 0, 0), kRed);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 1, 0), 0xFF7E7EFFu);
    EXPECT_EQ(inkora_get_pixel(&canvas.bmp, 2, 0), kWhite);
}

}  // namespace
