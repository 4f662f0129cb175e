// Bitmaps laid out as 24-bit BMP images and the drawing primitives on them.
//
// The line, circle and ellipse rasterisers are integer error-term walks
// (Bresenham's family, in the compact form popularised by Alois Zingl). Every
// primitive ends in inkora_set_pixel, which clips and blends, so none of them
// needs bounds of its own.

#include "inkora-graphics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr int32_t kHeaderSize = INKORA_BITMAP_HEADER_SIZE;
constexpr int32_t kInfoHeaderSize = 40;

void put2(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put4(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

constexpr uint8_t red_of(inkora_gcolor c) { return static_cast<uint8_t>(c >> 24); }
constexpr uint8_t green_of(inkora_gcolor c) { return static_cast<uint8_t>(c >> 16); }
constexpr uint8_t blue_of(inkora_gcolor c) { return static_cast<uint8_t>(c >> 8); }
constexpr uint8_t alpha_of(inkora_gcolor c) { return static_cast<uint8_t>(c); }

constexpr inkora_gcolor with_alpha(inkora_gcolor c, uint8_t alpha) { return (c & 0xFFFFFF00u) | alpha; }

// Alpha byte of a coverage value of the anti-aliased one-pixel line: full ink
// at distance 0, none at distance ed or beyond. Beyond ed the raw formula
// would wrap around to a strong alpha, drawing a far pixel dark; it is held at
// 0 instead.
uint8_t aa_alpha(int64_t v, int64_t ed) {
    const int64_t a = 255 - v * 255 / ed;
    return static_cast<uint8_t>(std::clamp<int64_t>(a, 0, 255));
}

// Coverage 0..1 of a pixel at error value v from the centre of a line of
// half-width wd (plus half a pixel). A pixel farther away than the line
// reaches has no coverage (not a negative one).
float thick_coverage(float v, float ed, float wd) {
    const float d = std::fabs(v) / ed - wd + 1.0f;
    if (d < 0.0f) {
        return 1.0f;
    }
    return std::max(0.0f, 1.0f - d);
}

uint8_t coverage_alpha(float k) { return static_cast<uint8_t>(static_cast<int32_t>(255.0f * k)); }

template <typename T>
void order(T& lo, T& hi) {
    if (hi < lo) {
        std::swap(lo, hi);
    }
}

// The walk shared by the thick lines, anti-aliased or not. plot(x, y, k)
// receives each candidate pixel with its coverage and returns whether it set
// it; in the side loops the offset only advances past a pixel that was set.
// Far wider than any display; keeps an absurd or infinite width from turning
// the side loops into endless walks.
constexpr float kMaxLineWidth = 100000.0f;

template <typename Plot>
void thick_walk(int32_t x0, int32_t y0, int32_t x1, int32_t y1, float width, Plot plot) {
    if (!(width >= 0.0f)) {  // negative or NaN
        width = 0.0f;
    }
    width = std::min(width, kMaxLineWidth);
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
    const int32_t sx = x0 < x1 ? 1 : -1;
    const int32_t sy = y0 < y1 ? 1 : -1;
    int64_t err = dx - dy;
    const float ed = dx + dy == 0 ? 1.0f : std::sqrt(static_cast<float>(dx * dx + dy * dy));
    const float wd = (width + 1.0f) / 2.0f;
    const float reach = ed * wd;

    for (;;) {
        plot(x0, y0, thick_coverage(static_cast<float>(err - dx + dy), ed, wd));
        int64_t e2 = err;
        int32_t x2 = x0;
        if (2 * e2 >= -dx) {
            int64_t e = e2 + dy;
            int32_t y2 = y0;
            while (static_cast<float>(e) < reach && !(y2 == y1 && dx <= dy)) {
                if (plot(x0, y2 + sy, thick_coverage(static_cast<float>(e), ed, wd))) {
                    y2 += sy;
                }
                e += dx;
            }
            if (x0 == x1) {
                break;
            }
            e2 = err;
            err -= dy;
            x0 += sx;
        }
        if (2 * e2 <= dy) {
            int64_t e = dx - e2;
            while (static_cast<float>(e) < reach && !(x2 == x1 && dx >= dy)) {
                if (plot(x2 + sx, y0, thick_coverage(static_cast<float>(e), ed, wd))) {
                    x2 += sx;
                }
                e += dy;
            }
            if (y0 == y1) {
                break;
            }
            err += dx;
            y0 += sy;
        }
    }
}

}  // namespace

extern "C" {

void inkora_bitmap_write_header(uint8_t* image, int32_t totalSize, int32_t arraySize, int32_t width,
                                int32_t height) {
    image[0] = 'B';
    image[1] = 'M';
    put4(image + 2, static_cast<uint32_t>(totalSize));
    put4(image + 10, kHeaderSize);
    put4(image + 14, kInfoHeaderSize);
    put4(image + 18, static_cast<uint32_t>(width));
    put4(image + 22, static_cast<uint32_t>(height));
    put2(image + 26, 1);   // planes
    put2(image + 28, 24);  // bits per pixel
    put4(image + 30, 0);   // no compression
    put4(image + 34, static_cast<uint32_t>(arraySize));
}

void inkora_bitmap_init(inkora_bitmap* bitmap, uint8_t* buffer, int32_t width, int32_t height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    *bitmap = inkora_bitmap{};
    bitmap->width = width;
    bitmap->height = height;
    bitmap->rowSize = ((width * 24 + 31) / 32) * 4;
    bitmap->arraySize = height * bitmap->rowSize;
    bitmap->totalSize = bitmap->arraySize + kHeaderSize;
    bitmap->headerSize = kHeaderSize;
    std::memset(buffer, 0, kHeaderSize);
    bitmap->bitmap = buffer;
    bitmap->raster = buffer + kHeaderSize;
    std::memset(bitmap->raster, 0xFF, static_cast<size_t>(bitmap->arraySize));
    inkora_bitmap_write_header(buffer, bitmap->totalSize, bitmap->arraySize, width, height);
}

inkora_gcolor inkora_color_blend(inkora_gcolor foreground, inkora_gcolor background) {
    const float fgA = static_cast<float>(alpha_of(foreground)) / 255.0f;
    if (fgA == 1.0f) {
        return foreground;
    }
    if (fgA < 0.000001f) {
        return background;
    }
    const float bgA = static_cast<float>(alpha_of(background)) / 255.0f;
    const float a = 1.0f - (1.0f - fgA) * (1.0f - bgA);
    const auto channel = [&](uint8_t fg, uint8_t bg) -> uint32_t {
        const float f = static_cast<float>(fg) / 255.0f;
        const float b = static_cast<float>(bg) / 255.0f;
        const float c = (f * fgA) / a + (b * bgA * (1.0f - fgA)) / a;
        return static_cast<uint32_t>(c * 255.0f) & 0xFFu;
    };
    return channel(red_of(foreground), red_of(background)) << 24 |
           channel(green_of(foreground), green_of(background)) << 16 |
           channel(blue_of(foreground), blue_of(background)) << 8 | 0xFFu;
}

inkora_gcolor inkora_get_pixel(const inkora_bitmap* bitmap, int32_t x, int32_t y) {
    if (x < 0 || x >= bitmap->width || y < 0 || y >= bitmap->height) {
        return 0xFFFFFFFFu;
    }
    const uint8_t* p = bitmap->raster + static_cast<size_t>(bitmap->rowSize) * (bitmap->height - 1 - y) +
                       static_cast<size_t>(3) * x;
    return static_cast<uint32_t>(p[2]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[0]) << 8 |
           0xFFu;
}

void inkora_set_pixel(inkora_bitmap* bitmap, int32_t x, int32_t y, inkora_gcolor color) {
    if (x < 0 || x >= bitmap->width || y < 0 || y >= bitmap->height) {
        return;
    }
    if (alpha_of(color) != 255) {
        color = inkora_color_blend(color, inkora_get_pixel(bitmap, x, y));
    }
    uint8_t* p = bitmap->raster + static_cast<size_t>(bitmap->rowSize) * (bitmap->height - 1 - y) +
                 static_cast<size_t>(3) * x;
    p[0] = blue_of(color);
    p[1] = green_of(color);
    p[2] = red_of(color);
}

void inkora_draw_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, inkora_gcolor color) {
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = -std::llabs(static_cast<int64_t>(y1) - y0);
    const int32_t sx = x0 < x1 ? 1 : -1;
    const int32_t sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    for (;;) {
        inkora_set_pixel(bitmap, x0, y0, color);
        if (x0 == x1 && y0 == y1) {
            break;
        }
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

void inkora_draw_aa_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         inkora_gcolor color) {
    const int64_t dx = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t dy = std::llabs(static_cast<int64_t>(y1) - y0);
    const int32_t sx = x0 < x1 ? 1 : -1;
    const int32_t sy = y0 < y1 ? 1 : -1;
    int64_t err = dx - dy;
    const int64_t ed =
        dx + dy == 0 ? 1 : static_cast<int64_t>(std::sqrt(static_cast<float>(dx * dx + dy * dy)));
    for (;;) {
        inkora_set_pixel(bitmap, x0, y0, with_alpha(color, aa_alpha(std::llabs(err - dx + dy), ed)));
        const int64_t e2 = err;
        const int32_t x2 = x0;
        if (2 * e2 >= -dx) {
            if (x0 == x1) {
                break;
            }
            if (e2 + dy < ed) {
                inkora_set_pixel(bitmap, x0, y0 + sy, with_alpha(color, aa_alpha(e2 + dy, ed)));
            }
            err -= dy;
            x0 += sx;
        }
        if (2 * e2 <= dy) {
            if (y0 == y1) {
                break;
            }
            if (dx - e2 < ed) {
                inkora_set_pixel(bitmap, x2 + sx, y0, with_alpha(color, aa_alpha(dx - e2, ed)));
            }
            err += dx;
            y0 += sy;
        }
    }
}

void inkora_draw_thick_aa_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, float width,
                               inkora_gcolor color) {
    thick_walk(x0, y0, x1, y1, width, [&](int32_t x, int32_t y, float k) {
        inkora_set_pixel(bitmap, x, y, with_alpha(color, coverage_alpha(k)));
        return true;
    });
}

void inkora_draw_thick_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1, float width,
                            inkora_gcolor color) {
    thick_walk(x0, y0, x1, y1, width, [&](int32_t x, int32_t y, float k) {
        if (k < 0.9f) {
            return false;
        }
        inkora_set_pixel(bitmap, x, y, color);
        return true;
    });
}

void inkora_draw_circle(inkora_bitmap* bitmap, int32_t xm, int32_t ym, int32_t radius, inkora_gcolor color) {
    int32_t x = -radius;
    int32_t y = 0;
    int64_t err = 2 - 2 * static_cast<int64_t>(radius);
    do {
        inkora_set_pixel(bitmap, xm - x, ym + y, color);
        inkora_set_pixel(bitmap, xm - y, ym - x, color);
        inkora_set_pixel(bitmap, xm + x, ym - y, color);
        inkora_set_pixel(bitmap, xm + y, ym + x, color);
        const int64_t r = err;
        if (r <= y) {
            ++y;
            err += 2 * static_cast<int64_t>(y) + 1;
        }
        if (r > x || err > y) {
            ++x;
            err += 2 * static_cast<int64_t>(x) + 1;
        }
    } while (x < 0);
}

void inkora_draw_ellipse(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         inkora_gcolor color) {
    const int64_t a = std::llabs(static_cast<int64_t>(x1) - x0);
    const int64_t b = std::llabs(static_cast<int64_t>(y1) - y0);
    const int64_t b1 = b & 1;
    int64_t dx = 4 * (1 - a) * b * b;
    int64_t dy = 4 * (b1 + 1) * a * a;
    int64_t err = dx + dy + b1 * a * a;

    int64_t left = std::min(x0, x1);
    int64_t right = left + a;
    int64_t ya = std::min(y0, y1) + (b + 1) / 2;
    int64_t yb = ya - b1;
    const int64_t a8 = 8 * a * a;
    const int64_t b8 = 8 * b * b;

    const auto set = [&](int64_t x, int64_t y) {
        inkora_set_pixel(bitmap, static_cast<int32_t>(x), static_cast<int32_t>(y), color);
    };
    do {
        set(right, ya);
        set(left, ya);
        set(left, yb);
        set(right, yb);
        const int64_t e2 = 2 * err;
        if (e2 <= dy) {
            ++ya;
            --yb;
            dy += a8;
            err += dy;
        }
        if (e2 >= dx || 2 * err > dy) {
            ++left;
            --right;
            dx += b8;
            err += dx;
        }
    } while (left <= right);

    // Very flat ellipses: finish the tips.
    while (ya - yb < b) {
        set(left - 1, ya);
        set(right + 1, ya);
        set(left - 1, yb);
        set(right + 1, yb);
        ++ya;
        --yb;
    }
}

void inkora_draw_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           inkora_gcolor color) {
    order(x0, x1);
    order(y0, y1);
    for (int64_t x = x0; x <= x1; ++x) {
        inkora_set_pixel(bitmap, static_cast<int32_t>(x), y0, color);
        inkora_set_pixel(bitmap, static_cast<int32_t>(x), y1, color);
    }
    for (int64_t y = y0; y <= y1; ++y) {
        inkora_set_pixel(bitmap, x0, static_cast<int32_t>(y), color);
        inkora_set_pixel(bitmap, x1, static_cast<int32_t>(y), color);
    }
}

void inkora_draw_thick_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                 int32_t border_width, inkora_gcolor color) {
    order(x0, x1);
    order(y0, y1);
    // A border wider than half the rectangle fills it; it never spills out of
    // the rectangle on the far side.
    const int64_t rows = std::min<int64_t>(border_width, static_cast<int64_t>(y1) - y0 + 1);
    const int64_t columns = std::min<int64_t>(border_width, static_cast<int64_t>(x1) - x0 + 1);
    for (int64_t x = x0; x <= x1; ++x) {
        for (int64_t i = 0; i < rows; ++i) {
            inkora_set_pixel(bitmap, static_cast<int32_t>(x), static_cast<int32_t>(y0 + i), color);
            inkora_set_pixel(bitmap, static_cast<int32_t>(x), static_cast<int32_t>(y1 - i), color);
        }
    }
    for (int64_t y = y0; y <= y1; ++y) {
        for (int64_t i = 0; i < columns; ++i) {
            inkora_set_pixel(bitmap, static_cast<int32_t>(x0 + i), static_cast<int32_t>(y), color);
            inkora_set_pixel(bitmap, static_cast<int32_t>(x1 - i), static_cast<int32_t>(y), color);
        }
    }
}

void inkora_fill_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                           inkora_gcolor color) {
    order(x0, x1);
    order(y0, y1);
    for (int64_t x = x0; x <= x1; ++x) {
        for (int64_t y = y0; y <= y1; ++y) {
            inkora_set_pixel(bitmap, static_cast<int32_t>(x), static_cast<int32_t>(y), color);
        }
    }
}

void inkora_fill_circle(inkora_bitmap* bitmap, int32_t x, int32_t y, int32_t radius, inkora_gcolor color) {
    const int64_t r = radius;
    for (int64_t cy = -r; cy <= r; ++cy) {
        for (int64_t cx = -r; cx <= r; ++cx) {
            if (cx * cx + cy * cy <= r * r) {
                inkora_set_pixel(bitmap, static_cast<int32_t>(x + cx), static_cast<int32_t>(y + cy), color);
            }
        }
    }
}

void inkora_fill_ellipse(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         inkora_gcolor color) {
    order(x0, x1);
    order(y0, y1);
    const int64_t h = static_cast<int64_t>(y1) - y0;
    const int64_t w = static_cast<int64_t>(x1) - x0;
    for (int64_t cy = -h; cy <= h; ++cy) {
        for (int64_t cx = -w; cx <= w; ++cx) {
            if (cx * cx * h * h + cy * cy * w * w <= h * h * w * w) {
                inkora_set_pixel(bitmap, static_cast<int32_t>(x0 + cx), static_cast<int32_t>(y0 + cy), color);
            }
        }
    }
}

void inkora_bitmap_clear(inkora_bitmap* bitmap, inkora_gcolor color) {
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            inkora_set_pixel(bitmap, x, y, color);
        }
    }
}

void inkora_bitmap_copy(const inkora_bitmap* source, inkora_bitmap* destination, int32_t src_x, int32_t src_y,
                        int32_t dst_x, int32_t dst_y, int32_t width, int32_t height) {
    // Within one bitmap, walk away from the direction of the move so that no
    // source pixel is overwritten before it has been copied.
    const bool same = source->raster == destination->raster;
    const bool backward_x = same && dst_x > src_x;
    const bool backward_y = same && dst_y > src_y;
    for (int32_t i = 0; i < width; ++i) {
        const int32_t x = backward_x ? width - 1 - i : i;
        for (int32_t j = 0; j < height; ++j) {
            const int32_t y = backward_y ? height - 1 - j : j;
            inkora_set_pixel(destination, dst_x + x, dst_y + y, inkora_get_pixel(source, src_x + x, src_y + y));
        }
    }
}

}  // extern "C"
