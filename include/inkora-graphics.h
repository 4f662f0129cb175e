/*
 * In-memory bitmaps laid out as 24-bit BMP images, colours with alpha
 * blending, drawing primitives, and text in fixed-cell bitmap fonts.
 *
 * Everything here is pure computation on memory the caller owns: nothing
 * allocates, logs, locks or fails. Drawing outside a bitmap is clipped pixel
 * by pixel; every primitive writes through inkora_set_pixel, so clipping and
 * blending apply everywhere. A bitmap may be used by one thread at a time.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_GRAPHICS_H
#define INKORA_GRAPHICS_H

#include <stdint.h>

#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * A colour 0xRRGGBBAA: red in bits 24-31, green 16-23, blue 8-15, alpha 0-7.
 * Alpha 255 is opaque, 0 fully transparent. 0x000000FF is opaque black,
 * 0xFFFFFFFF opaque white.
 */
typedef uint32_t inkora_gcolor;

/* Size of the BMP file header plus the information header. */
#define INKORA_BITMAP_HEADER_SIZE 54

/*
 * Descriptor of a bitmap over a buffer that the caller owns. The buffer holds
 * a complete 24-bit BMP image: a 54-byte header, then the pixel array with
 * rows stored bottom-up, each pixel as blue, green, red, each row padded to
 * rowSize bytes. Pixel (x, y), y = 0 the top row, lives at raster offset
 * rowSize * (height - 1 - y) + 3 * x. The bitmap holds no alpha.
 */
typedef struct inkora_bitmap {
    uint8_t* bitmap;    /* start of the BMP image (header, then pixel array) */
    uint8_t* raster;    /* start of the pixel array, 54 bytes after bitmap */
    int32_t width;      /* pixels per row */
    int32_t height;     /* number of rows */
    int32_t headerSize; /* 54 */
    int32_t arraySize;  /* height * rowSize */
    int32_t totalSize;  /* arraySize + 54: bytes the buffer must hold */
    int32_t rowSize;    /* ((width * 24 + 31) / 32) * 4: 3 * width rounded up to 4 */
} inkora_bitmap;

/*
 * Sets up bitmap over buffer, which must hold at least totalSize bytes
 * (54 + height * rowSize): fills the whole pixel array with 0xFF (every pixel
 * opaque white, padding too) and writes the BMP header. A negative width or
 * height is taken as 0.
 */
INKORA_API void inkora_bitmap_init(inkora_bitmap* bitmap, uint8_t* buffer, int32_t width, int32_t height);

/*
 * Writes the 54 header bytes of a 24-bit uncompressed BMP image at image:
 * "BM", totalSize, pixel array offset 54, information header size 40, width,
 * height, 1 plane, 24 bits per pixel, arraySize. The bytes in between are not
 * touched (inkora_bitmap_init zeroes them first).
 */
INKORA_API void inkora_bitmap_write_header(uint8_t* image, int32_t totalSize, int32_t arraySize, int32_t width,
                                           int32_t height);

/*
 * Blends foreground over background (single-precision "over" operator). An
 * opaque foreground is returned unchanged, a foreground with alpha 0 returns
 * the background unchanged; any other result is opaque.
 */
INKORA_API inkora_gcolor inkora_color_blend(inkora_gcolor foreground, inkora_gcolor background);

/* Sets (x, y), blending a translucent colour over the pixel; outside: nothing. */
INKORA_API void inkora_set_pixel(inkora_bitmap* bitmap, int32_t x, int32_t y, inkora_gcolor color);

/* Colour of (x, y), always opaque; 0xFFFFFFFF (white) outside the bitmap. */
INKORA_API inkora_gcolor inkora_get_pixel(const inkora_bitmap* bitmap, int32_t x, int32_t y);

/* One-pixel line, both end points included. */
INKORA_API void inkora_draw_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                 inkora_gcolor color);

/* Anti-aliased one-pixel line: the colour's alpha is replaced by the coverage. */
INKORA_API void inkora_draw_aa_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    inkora_gcolor color);

/* Line of the given width; only pixels covered at least 90 % are set, in the colour. */
INKORA_API void inkora_draw_thick_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                       float width, inkora_gcolor color);

/* Anti-aliased line of the given width: the colour's alpha is replaced by the coverage. */
INKORA_API void inkora_draw_thick_aa_line(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                          float width, inkora_gcolor color);

/* Outline of the circle of the given radius around (xm, ym); radius 0 sets the centre. */
INKORA_API void inkora_draw_circle(inkora_bitmap* bitmap, int32_t xm, int32_t ym, int32_t radius,
                                   inkora_gcolor color);

/* Outline of the ellipse inscribed in the rectangle with corners (x0, y0), (x1, y1), in any order. */
INKORA_API void inkora_draw_ellipse(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    inkora_gcolor color);

/* One-pixel outline of the rectangle with inclusive corners in any order. */
INKORA_API void inkora_draw_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                      inkora_gcolor color);

/* Outline border_width pixels thick, growing inward from the inclusive corners. */
INKORA_API void inkora_draw_thick_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                            int32_t border_width, inkora_gcolor color);

/* Every pixel of the rectangle with inclusive corners in any order. */
INKORA_API void inkora_fill_rectangle(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                      inkora_gcolor color);

/* Every pixel within radius of (x, y). */
INKORA_API void inkora_fill_circle(inkora_bitmap* bitmap, int32_t x, int32_t y, int32_t radius, inkora_gcolor color);

/*
 * Filled ellipse around a centre: after putting the corners in order, (x0, y0)
 * is the centre and x1 - x0, y1 - y0 are the radii. (Unlike
 * inkora_draw_ellipse, which takes a bounding rectangle.)
 */
INKORA_API void inkora_fill_ellipse(inkora_bitmap* bitmap, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                    inkora_gcolor color);

/* Sets every pixel to the colour (blended over each pixel when translucent). */
INKORA_API void inkora_bitmap_clear(inkora_bitmap* bitmap, inkora_gcolor color);

/*
 * Copies the width x height pixels at (src_x, src_y) of source to (dst_x,
 * dst_y) of destination. Source pixels outside the source copy as white;
 * destination pixels outside the destination are clipped. Source and
 * destination may be the same bitmap, with overlapping areas.
 */
INKORA_API void inkora_bitmap_copy(const inkora_bitmap* source, inkora_bitmap* destination, int32_t src_x,
                                   int32_t src_y, int32_t dst_x, int32_t dst_y, int32_t width, int32_t height);

/* Placement of a text in a box, per axis. */
typedef enum inkora_string_alignment {
    INKORA_ALIGN_BEGIN = 0,  /* left or top */
    INKORA_ALIGN_MIDDLE = 1, /* centred */
    INKORA_ALIGN_END = 2     /* right or bottom */
} inkora_string_alignment;

/*
 * A fixed-cell bitmap font addressed by byte codes: every glyph has the same
 * charWidth x charHeight cell. Glyph images run row after row from the top,
 * left to right; with bitDepth 1 as a continuous bit stream (most significant
 * bit first, 1 = ink, no padding at row ends), otherwise one byte per pixel
 * (255 = no ink, v < 255 = ink with alpha 255 - v). The library contains no
 * font of this kind; callers supply their own.
 */
typedef struct inkora_font {
    int32_t charWidth;      /* cell width in pixels */
    int32_t charHeight;     /* cell height in pixels */
    int32_t bitDepth;       /* 1: one bit per pixel; anything else: one byte per pixel */
    int32_t glyphCount;     /* number of glyphs */
    int32_t charByteLen;    /* bytes per glyph image */
    const uint8_t* indexes; /* glyphCount character codes; entry i names glyph i */
    const uint8_t* glyphs;  /* glyphCount * charByteLen bytes, glyph i at i * charByteLen */
} inkora_font;

/* Image of the first glyph whose code equals character, or NULL. */
INKORA_API const uint8_t* inkora_font_char_lookup(const inkora_font* font, uint8_t character);

/* Draws the cell of character with its top-left at (x, y); nothing for an unknown character. */
INKORA_API void inkora_draw_char(inkora_bitmap* bitmap, const inkora_font* font, uint8_t character, int32_t x,
                                 int32_t y, inkora_gcolor color);

/* Draws every byte of the zero-terminated text, advancing x by charWidth. */
INKORA_API void inkora_draw_string(inkora_bitmap* bitmap, const inkora_font* font, const char* text, int32_t x,
                                   int32_t y, inkora_gcolor color);

/*
 * Draws the zero-terminated text aligned in the box (x0, y0)-(x1, y1), whose
 * corners may come in any order; the text measures strlen * charWidth by
 * charHeight.
 */
INKORA_API void inkora_draw_string_aligned(inkora_bitmap* bitmap, const inkora_font* font, const char* text,
                                           int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                                           inkora_string_alignment horizontal, inkora_string_alignment vertical,
                                           inkora_gcolor color);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_GRAPHICS_H */
