// Helpers shared by the fixed-cell and the enhanced fonts: walking a glyph
// image onto a bitmap and placing a text in a box.
#ifndef INKORA_GRAPHICS_GLYPH_H
#define INKORA_GRAPHICS_GLYPH_H

#include <cstdint>

#include "inkora-graphics.h"

namespace inkora::graphics {

// Draws a width x height glyph image with its top-left at (x, y). With
// bit_depth 1 the image is a bit stream (most significant bit first, 1 = ink),
// otherwise one byte per pixel (255 = no ink, v = ink with alpha 255 - v).
// Never reads beyond image_len bytes: pixels past the end count as no ink.
void draw_glyph_image(inkora_bitmap* bitmap, const uint8_t* image, int64_t image_len, int32_t width,
                      int32_t height, int32_t bit_depth, int32_t x, int32_t y, inkora_gcolor color);

// Start of a text of the given extent aligned between lo and hi (in any order).
int32_t align(int32_t lo, int32_t hi, int32_t extent, inkora_string_alignment alignment);

}  // namespace inkora::graphics

#endif  // INKORA_GRAPHICS_GLYPH_H
