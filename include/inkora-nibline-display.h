/*
 * Content on a pad's display: selecting the display content, sending
 * rectangular chunks of packed pixels, sending a whole bitmap as a series of
 * chunks sized to the chunk report, drawing and measuring text with the
 * device's font, and reading pixels back from the display.
 *
 * Every operation works on an open device and uses its display_info (width,
 * height, colour depth). They run on the caller's thread, talk to the pad
 * synchronously through its driver's feature-report calls and take no lock of
 * their own. Failures return INKORA_CODE_ERROR and leave a text in the
 * library's last-error buffer (inkora_get_last_error).
 *
 * This header is C-compatible.
 */
#ifndef INKORA_NIBLINE_DISPLAY_H
#define INKORA_NIBLINE_DISPLAY_H

#include <stdint.h>

#include "inkora-graphics.h"
#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define INKORA_REPORT_ID_DISPLAY_CONTENT 101u
#define INKORA_REPORT_ID_DISPLAY_CHUNK 103u
#define INKORA_REPORT_ID_PIXEL_LOCATION 104u
#define INKORA_REPORT_ID_PIXEL_VALUES 105u

#define INKORA_DISPLAY_CONTENT_LENGTH 2u
#define INKORA_DISPLAY_CHUNK_LENGTH 2049u
#define INKORA_PIXEL_LOCATION_LENGTH 5u
#define INKORA_PIXEL_VALUES_LENGTH 1031u

/* Bytes of packed pixels one chunk report carries. */
#define INKORA_DISPLAY_CHUNK_GRAPHIC_SIZE 2039u
/* Pixels one pixel-values report carries: (1031 - 7) / 4. */
#define INKORA_PIXEL_VALUES_MAX 256u

/* Report 101, 2 bytes: content is the pad's content selector, passed through. */
typedef struct inkora_hid_feature_display_content {
    uint8_t report_id;
    uint8_t content;
} inkora_hid_feature_display_content;

/*
 * Report 103, 2049 bytes: one rectangle of the display. On the device the
 * 16-bit fields are big-endian. graphic holds the packed pixels column by
 * column (for each x from the left, every y from the top):
 *   depth 1:     8 pixels per byte, first pixel in the most significant bit,
 *                continuous across columns; 1 = ink (R + G + B <= 383);
 *   depth 4, 8:  2 pixels per byte, first pixel in the low nibble; grey level
 *                0 (black) to 15 (white);
 *   other:       3 bytes per pixel, R, G, B.
 * Bytes after the last packed pixel are zero.
 */
typedef struct inkora_hid_feature_display_chunk {
    uint8_t report_id;
    uint16_t x;
    uint16_t y;
    uint16_t width;
    uint16_t height;
    uint8_t bits_per_pixel;
    uint8_t graphic[INKORA_DISPLAY_CHUNK_GRAPHIC_SIZE];
} inkora_hid_feature_display_chunk;

typedef struct inkora_pixel_argb {
    uint8_t a;
    uint8_t r;
    uint8_t g;
    uint8_t b;
} inkora_pixel_argb;

/*
 * Report 105, 1031 bytes (16-bit fields little-endian on the device): up to
 * 256 pixels of the display starting at (start_x, start_y), four bytes each
 * (a, r, g, b). composit overlays color entry for entry, one 32-bit word per
 * pixel.
 */
typedef struct inkora_hid_feature_pixel_values {
    uint8_t report_id;
    uint16_t start_x;
    uint16_t start_y;
    uint16_t number_of_pixels;
    union {
        inkora_pixel_argb color[INKORA_PIXEL_VALUES_MAX];
        uint32_t composit[INKORA_PIXEL_VALUES_MAX];
    } color_data;
} inkora_hid_feature_pixel_values;

/* Anchor of the x coordinate of a text drawn on the display. */
typedef enum inkora_font_alignment {
    INKORA_ALIGN_LEFT = 0,  /* x is the left edge */
    INKORA_ALIGN_RIGHT = 1, /* x is the right edge */
    INKORA_ALIGN_CENTER = 2 /* x is the centre */
} inkora_font_alignment;

/* Waits for the display interlock, then sends report 101. */
INKORA_API inkora_error_code inkora_set_display_content(inkora_device* device,
                                                        inkora_hid_feature_display_content content);

/* Waits for the display interlock, then sends report 103 (id 103 whatever chunk.report_id holds). */
INKORA_API inkora_error_code inkora_set_display_chunk(inkora_device* device, inkora_hid_feature_display_chunk chunk);

/*
 * Sends the bitmap with its top-left corner at (x, y) of the display, packed
 * at depth bits per pixel, in as few chunks as the chunk report allows:
 * one chunk when it fits, else full-height chunks (wider than high), else
 * full-width chunks, else squares. Stops at the first chunk that fails;
 * chunks already sent stay on the display. Depths from 1 to 32 are accepted;
 * depths whose packing takes more bits than the depth (2, 3, 5-7, 9-23) are
 * sized by the 24 bits their pixels take.
 */
INKORA_API inkora_error_code inkora_transfer_bitmap_to_device(inkora_device* device, const inkora_bitmap* bitmap,
                                                              uint32_t x, uint32_t y, int32_t depth);

/*
 * Draws byte_count bytes of text in the named encoding with the device's font
 * (inkora_default when the device has none yet), in black on white, or white
 * on black when invert is not 0, anchored at x by alignment with its top at y.
 * A text that would leave the display is refused and nothing is sent.
 */
INKORA_API inkora_error_code inkora_device_draw_text_encoded(inkora_device* device, const char* text,
                                                             uint32_t byte_count, uint32_t x, uint32_t y,
                                                             inkora_font_alignment alignment, uint8_t invert,
                                                             const char* encoding);
/* As inkora_device_draw_text_encoded with a zero-terminated UTF-8 text. */
INKORA_API inkora_error_code inkora_device_draw_text(inkora_device* device, const char* text, uint32_t x, uint32_t y,
                                                     inkora_font_alignment alignment, uint8_t invert);

/*
 * Width and height in pixels of the text in the device's font. A text that
 * cannot be converted measures 0 and leaves
 * "String encoding problem, unable to convert string." in the last error.
 */
INKORA_API uint32_t inkora_measure_text_width_encoding(inkora_device* device, const char* text, uint32_t byte_count,
                                                       const char* encoding);
INKORA_API uint32_t inkora_measure_text_height_encoding(inkora_device* device, const char* text, uint32_t byte_count,
                                                        const char* encoding);
INKORA_API uint32_t inkora_measure_text_width(inkora_device* device, const char* text);
INKORA_API uint32_t inkora_measure_text_height(inkora_device* device, const char* text);

/*
 * Reads pixels back from the display starting at values->start_x,
 * values->start_y: sends the pixel location (report 104, both coordinates in
 * full, little-endian) and reads report 105 into *values. The color entries
 * after the last pixel are zero. An answer that claims more than 256 pixels
 * keeps the 256 the report carries and number_of_pixels is cut to 256.
 */
INKORA_API inkora_error_code inkora_get_pixels(inkora_device* device, inkora_hid_feature_pixel_values* values);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_DISPLAY_H */
