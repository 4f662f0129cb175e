/*
 * Enhanced bitmap fonts addressed by Unicode code points, the fonts built into
 * the library, conversion of text in a named character encoding into code
 * points, and measuring and drawing such text on a bitmap.
 *
 * Nothing here logs or locks; the built-in fonts are read-only data and may be
 * used from any thread. Drawing writes through inkora_set_pixel, so it is
 * clipped and blended like every other primitive.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_GRAPHICS_ENHANCED_FONTS_H
#define INKORA_GRAPHICS_ENHANCED_FONTS_H

#include <stdint.h>

#include "inkora-graphics.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A Unicode code point, as ICU declares it. */
typedef int32_t UChar32;

/*
 * One glyph. The image runs row after row from the top, left to right: with
 * one bit per pixel as a continuous bit stream (most significant bit of each
 * byte first, 1 = ink, no padding at row ends); with one byte per pixel,
 * 255 = no ink and v < 255 = ink with alpha 255 - v. The glyph's bottom row
 * lies decent rows below the baseline.
 */
typedef struct inkora_font_char {
    uint8_t width;      /* pixels */
    uint8_t height;     /* pixels */
    uint8_t decent;     /* rows below the baseline (descent) */
    uint8_t combine;    /* flag carried with the glyph; not used in measuring or drawing */
    uint32_t rasterLen; /* bytes of raster used */
    uint8_t raster[200];
} inkora_font_char;

/* A font of glyphs addressed by code point. */
typedef struct inkora_enhanced_font {
    int32_t bitDepth;                /* 1: one bit per pixel; anything else: one byte per pixel */
    int32_t glyphCount;              /* entries of indexes and glyphs */
    const int32_t* indexes;          /* code points in ascending order; entry i names glyph i */
    const inkora_font_char* glyphs;  /* glyph records */
} inkora_enhanced_font;

/*
 * The built-in fonts, one bit per pixel. All cover U+0020-U+007E,
 * U+00A1-U+017F, U+0192, U+0400-U+049B, U+1E00-U+1E2B, U+1EC8-U+1EC9, U+20A7,
 * U+20AC and U+2190-U+2193 (527 code points). inkora_default is proportional
 * with a cap height of 5 and also has U+00A0 and a glyph for code point 0,
 * which stands in for every code point it lacks. The Ubuntu Mono fonts have
 * fixed cells: 6 x 12 (descent 2), 8 x 17 (3), 12 x 25 (5), 15 x 31 (6).
 */
INKORA_API extern const inkora_enhanced_font inkora_default;
INKORA_API extern const inkora_font_char inkora_default_data[529];
INKORA_API extern const int32_t inkora_default_lookup[529];
INKORA_API extern const inkora_enhanced_font ubuntu_mono_e_12pt;
INKORA_API extern const inkora_font_char ubuntu_mono_e_12pt_data[527];
INKORA_API extern const int32_t ubuntu_mono_e_12pt_lookup[527];
INKORA_API extern const inkora_enhanced_font ubuntu_mono_e_16pt;
INKORA_API extern const inkora_font_char ubuntu_mono_e_16pt_data[527];
INKORA_API extern const int32_t ubuntu_mono_e_16pt_lookup[527];
INKORA_API extern const inkora_enhanced_font ubuntu_mono_e_24pt;
INKORA_API extern const inkora_font_char ubuntu_mono_e_24pt_data[527];
INKORA_API extern const int32_t ubuntu_mono_e_24pt_lookup[527];
INKORA_API extern const inkora_enhanced_font ubuntu_mono_e_30pt;
INKORA_API extern const inkora_font_char ubuntu_mono_e_30pt_data[527];
INKORA_API extern const int32_t ubuntu_mono_e_30pt_lookup[527];

/*
 * Converts byte_count bytes of text in the named encoding (any name ICU's
 * converters accept, such as "utf-8") into a new array of code points ended
 * by a 0 entry, and stores the number of code points (without the 0) in
 * *out_count. A code point 0 in the input ends the text there. Malformed
 * bytes are replaced by U+FFFD, as ICU's converters do by default, and drawn
 * as the font's stand-in glyph. Returns NULL, allocating nothing, when the
 * encoding is unknown, the converter reports an error or any warning while
 * converting, an argument is NULL, or memory runs out. Empty input gives an
 * empty array. The caller frees the array with free().
 */
INKORA_API UChar32* parse_string_encoding(const char* bytes, uint32_t byte_count, const char* encoding,
                                          uint32_t* out_count);

/* Number of code points before the 0 entry; 0 for NULL. */
INKORA_API uint32_t u_strlen32(const UChar32* text);

/*
 * The glyph of code point in font; for a code point the font lacks, its glyph
 * for code point 0; NULL when it has neither (such a character is skipped by
 * every operation below).
 */
INKORA_API const inkora_font_char* enhanced_get_font_character(const inkora_enhanced_font* font, UChar32 code_point);

/* Width in pixels: glyph width + 1 spacing pixel for every character. */
INKORA_API uint32_t enhanced_get_string_width(const inkora_enhanced_font* font, const UChar32* text);

/* Height in pixels: the largest part above the baseline plus the largest descent. */
INKORA_API uint32_t enhanced_get_string_height(const inkora_enhanced_font* font, const UChar32* text);

/* Draws the glyph of code_point with its top-left at (x, y). */
INKORA_API void enhanced_draw_char(inkora_bitmap* bitmap, const inkora_enhanced_font* font, UChar32 code_point,
                                   int32_t x, int32_t y, inkora_gcolor color);

/*
 * Draws the text with the top of its tallest glyph at y: every glyph sits on a
 * common baseline, the glyphs advance by width + 1.
 */
INKORA_API void enhanced_draw_string(inkora_bitmap* bitmap, const inkora_enhanced_font* font, const UChar32* text,
                                     int32_t x, int32_t y, inkora_gcolor color);

/* Draws the text aligned in the box (x0, y0)-(x1, y1), whose corners may come in any order. */
INKORA_API void enhanced_draw_string_aligned(inkora_bitmap* bitmap, const inkora_enhanced_font* font,
                                             const UChar32* text, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                             inkora_string_alignment horizontal, inkora_string_alignment vertical,
                                             inkora_gcolor color);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_GRAPHICS_ENHANCED_FONTS_H */
