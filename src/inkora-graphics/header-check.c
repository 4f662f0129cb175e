/* Compiled as C into the tests: the public header must stay C-clean. */
#include "inkora-graphics.h"

int inkora_graphics_header_check_c(void);

int inkora_graphics_header_check_c(void) {
    inkora_bitmap bitmap;
    uint8_t buffer[INKORA_BITMAP_HEADER_SIZE + 4];
    inkora_bitmap_init(&bitmap, buffer, 1, 1);
    return inkora_get_pixel(&bitmap, 0, 0) == 0xFFFFFFFFu;
}
