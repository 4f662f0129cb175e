/* The display header compiles as plain C, and its records have the same
 * layout in C as in C++. */
#include <stddef.h>

#include "inkora-nibline-display.h"

size_t inkora_display_c_layout(size_t index);

size_t inkora_display_c_layout(size_t index) {
    const size_t layout[] = {
        sizeof(inkora_hid_feature_display_content),
        sizeof(inkora_hid_feature_display_chunk),
        offsetof(inkora_hid_feature_display_chunk, graphic),
        sizeof(inkora_hid_feature_pixel_values),
        offsetof(inkora_hid_feature_pixel_values, color_data),
        sizeof(inkora_font_alignment),
    };
    return index < sizeof layout / sizeof layout[0] ? layout[index] : 0;
}
