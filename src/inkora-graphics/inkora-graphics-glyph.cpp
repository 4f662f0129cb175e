#include "inkora-graphics-glyph.h"

#include <utility>

namespace inkora::graphics {

void draw_glyph_image(inkora_bitmap* bitmap, const uint8_t* image, int64_t image_len, int32_t width,
                      int32_t height, int32_t bit_depth, int32_t x, int32_t y, inkora_gcolor color) {
    int64_t pixel = 0;
    for (int32_t r = 0; r < height; ++r) {
        for (int32_t c = 0; c < width; ++c, ++pixel) {
            if (bit_depth == 1) {
                const int64_t byte = pixel / 8;
                if (byte < image_len && (image[byte] & (0x80u >> (pixel % 8))) != 0) {
                    inkora_set_pixel(bitmap, x + c, y + r, color);
                }
            } else if (pixel < image_len && image[pixel] != 255) {
                const auto alpha = static_cast<uint8_t>(255 - image[pixel]);
                inkora_set_pixel(bitmap, x + c, y + r, (color & 0xFFFFFF00u) | alpha);
            }
        }
    }
}

int32_t align(int32_t lo, int32_t hi, int32_t extent, inkora_string_alignment alignment) {
    if (hi < lo) {
        std::swap(lo, hi);
    }
    switch (alignment) {
    case INKORA_ALIGN_MIDDLE:
        return lo + (hi - lo) / 2 - extent / 2;
    case INKORA_ALIGN_END:
        return hi - extent;
    case INKORA_ALIGN_BEGIN:
    default:
        return lo;
    }
}

}  // namespace inkora::graphics
