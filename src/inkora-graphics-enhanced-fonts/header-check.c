/* Compiled as C into the tests: the public header must stay C-clean. */
#include "inkora-graphics-enhanced-fonts.h"

int inkora_enhanced_fonts_header_check_c(void);

int inkora_enhanced_fonts_header_check_c(void) {
    const UChar32 text[] = {'A', 'B', 0};
    return (int)enhanced_get_string_width(&inkora_default, text);
}
