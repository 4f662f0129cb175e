// Text in fixed-cell bitmap fonts addressed by byte codes.

#include "inkora-graphics.h"

#include <cstdint>
#include <cstring>

#include "inkora-graphics-glyph.h"

extern "C" {

const uint8_t* inkora_font_char_lookup(const inkora_font* font, uint8_t character) {
    if (font == nullptr || font->indexes == nullptr || font->glyphs == nullptr) {
        return nullptr;
    }
    for (int32_t i = 0; i < font->glyphCount; ++i) {
        if (font->indexes[i] == character) {
            return font->glyphs + static_cast<size_t>(i) * static_cast<size_t>(font->charByteLen);
        }
    }
    return nullptr;
}

void inkora_draw_char(inkora_bitmap* bitmap, const inkora_font* font, uint8_t character, int32_t x, int32_t y,
                      inkora_gcolor color) {
    const uint8_t* image = inkora_font_char_lookup(font, character);
    if (image == nullptr) {
        return;
    }
    inkora::graphics::draw_glyph_image(bitmap, image, font->charByteLen, font->charWidth, font->charHeight,
                                       font->bitDepth, x, y, color);
}

void inkora_draw_string(inkora_bitmap* bitmap, const inkora_font* font, const char* text, int32_t x, int32_t y,
                        inkora_gcolor color) {
    if (font == nullptr || text == nullptr) {
        return;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        inkora_draw_char(bitmap, font, static_cast<uint8_t>(*p), x, y, color);
        x += font->charWidth;
    }
}

void inkora_draw_string_aligned(inkora_bitmap* bitmap, const inkora_font* font, const char* text, int32_t x0,
                                int32_t y0, int32_t x1, int32_t y1, inkora_string_alignment horizontal,
                                inkora_string_alignment vertical, inkora_gcolor color) {
    if (font == nullptr || text == nullptr) {
        return;
    }
    const auto width = static_cast<int32_t>(std::strlen(text)) * font->charWidth;
    const int32_t x = inkora::graphics::align(x0, x1, width, horizontal);
    const int32_t y = inkora::graphics::align(y0, y1, font->charHeight, vertical);
    inkora_draw_string(bitmap, font, text, x, y, color);
}

}  // extern "C"
