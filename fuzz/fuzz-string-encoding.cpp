// Fuzzes the conversion of text in a named encoding and the measuring and
// drawing of the result with the built-in fonts. The first byte picks the
// encoding, the second the font; the rest is the text.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inkora-graphics-enhanced-fonts.h"

namespace {

constexpr const char* kEncodings[] = {"utf-8",        "UTF-16LE", "UTF-16BE", "UTF-32", "ISO-8859-1",
                                      "windows-1251", "Shift_JIS", "ISO-2022-JP", "GB18030", "no-such-encoding"};
const inkora_enhanced_font* const kFonts[] = {&inkora_default, &ubuntu_mono_e_12pt, &ubuntu_mono_e_16pt,
                                              &ubuntu_mono_e_24pt, &ubuntu_mono_e_30pt};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const char* encoding = kEncodings[data[0] % (sizeof kEncodings / sizeof kEncodings[0])];
    const inkora_enhanced_font* font = kFonts[data[1] % (sizeof kFonts / sizeof kFonts[0])];
    uint32_t count = 0;
    UChar32* text = parse_string_encoding(reinterpret_cast<const char*>(data + 2), static_cast<uint32_t>(size - 2),
                                          encoding, &count);
    if (text == nullptr) {
        return 0;
    }
    if (u_strlen32(text) != count) {
        std::abort();
    }
    const uint32_t width = enhanced_get_string_width(font, text);
    const uint32_t height = enhanced_get_string_height(font, text);
    if (count > 0 && font == &inkora_default && width == 0) {
        std::abort();  // every code point draws, at least as the stand-in
    }
    std::vector<uint8_t> buffer(54 + 64 * 3 * 24);
    inkora_bitmap bitmap;
    inkora_bitmap_init(&bitmap, buffer.data(), 64, 24);
    enhanced_draw_string_aligned(&bitmap, font, text, 0, 0, 63, 23, INKORA_ALIGN_MIDDLE, INKORA_ALIGN_END, 255);
    (void)height;
    std::free(text);
    return 0;
}
