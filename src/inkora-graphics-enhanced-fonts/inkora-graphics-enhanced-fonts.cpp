// Measuring and drawing text in enhanced fonts.

#include "inkora-graphics-enhanced-fonts.h"

#include <algorithm>
#include <cstdint>

#include "inkora-graphics-glyph.h"

namespace {

const inkora_font_char* find_glyph(const inkora_enhanced_font* font, UChar32 code_point) {
    for (int32_t i = 0; i < font->glyphCount; ++i) {
        if (font->indexes[i] == code_point) {
            return &font->glyphs[i];
        }
    }
    return nullptr;
}

bool usable(const inkora_enhanced_font* font) {
    return font != nullptr && font->indexes != nullptr && font->glyphs != nullptr;
}

// Rows of a glyph above the baseline; a glyph claiming more descent than
// height has none.
int32_t above_baseline(const inkora_font_char& g) { return std::max(0, g.height - g.decent); }

}  // namespace

extern "C" {

uint32_t u_strlen32(const UChar32* text) {
    uint32_t n = 0;
    if (text != nullptr) {
        while (text[n] != 0) {
            ++n;
        }
    }
    return n;
}

const inkora_font_char* enhanced_get_font_character(const inkora_enhanced_font* font, UChar32 code_point) {
    if (!usable(font)) {
        return nullptr;
    }
    const inkora_font_char* g = find_glyph(font, code_point);
    if (g == nullptr && code_point != 0) {
        g = find_glyph(font, 0);
    }
    return g;
}

uint32_t enhanced_get_string_width(const inkora_enhanced_font* font, const UChar32* text) {
    uint32_t width = 0;
    for (const UChar32* p = text; p != nullptr && *p != 0; ++p) {
        if (const inkora_font_char* g = enhanced_get_font_character(font, *p)) {
            width += static_cast<uint32_t>(g->width) + 1;
        }
    }
    return width;
}

uint32_t enhanced_get_string_height(const inkora_enhanced_font* font, const UChar32* text) {
    int32_t ascent = 0;
    int32_t descent = 0;
    for (const UChar32* p = text; p != nullptr && *p != 0; ++p) {
        if (const inkora_font_char* g = enhanced_get_font_character(font, *p)) {
            ascent = std::max(ascent, above_baseline(*g));
            descent = std::max<int32_t>(descent, g->decent);
        }
    }
    return static_cast<uint32_t>(ascent + descent);
}

void enhanced_draw_char(inkora_bitmap* bitmap, const inkora_enhanced_font* font, UChar32 code_point, int32_t x,
                        int32_t y, inkora_gcolor color) {
    const inkora_font_char* g = enhanced_get_font_character(font, code_point);
    if (g == nullptr) {
        return;
    }
    // rasterLen comes with the font: never read past the record's image.
    const int64_t image_len = std::min<int64_t>(g->rasterLen, sizeof g->raster);
    inkora::graphics::draw_glyph_image(bitmap, g->raster, image_len, g->width, g->height, font->bitDepth, x, y,
                                       color);
}

void enhanced_draw_string(inkora_bitmap* bitmap, const inkora_enhanced_font* font, const UChar32* text, int32_t x,
                          int32_t y, inkora_gcolor color) {
    if (text == nullptr) {
        return;
    }
    int32_t ceiling = 0;
    for (const UChar32* p = text; *p != 0; ++p) {
        if (const inkora_font_char* g = enhanced_get_font_character(font, *p)) {
            ceiling = std::max(ceiling, above_baseline(*g));
        }
    }
    for (const UChar32* p = text; *p != 0; ++p) {
        const inkora_font_char* g = enhanced_get_font_character(font, *p);
        if (g == nullptr) {
            continue;
        }
        enhanced_draw_char(bitmap, font, *p, x, y + ceiling + g->decent - g->height, color);
        x += g->width + 1;
    }
}

void enhanced_draw_string_aligned(inkora_bitmap* bitmap, const inkora_enhanced_font* font, const UChar32* text,
                                  int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                  inkora_string_alignment horizontal, inkora_string_alignment vertical,
                                  inkora_gcolor color) {
    const auto width = static_cast<int32_t>(enhanced_get_string_width(font, text));
    const auto height = static_cast<int32_t>(enhanced_get_string_height(font, text));
    enhanced_draw_string(bitmap, font, text, inkora::graphics::align(x0, x1, width, horizontal),
                         inkora::graphics::align(y0, y1, height, vertical), color);
}

}  // extern "C"
