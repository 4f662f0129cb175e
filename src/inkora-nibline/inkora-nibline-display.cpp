// Content on the pad's display: the display-content and display-chunk
// reports, a bitmap sent as a series of chunks sized to the chunk report,
// text drawn with the device's font and sent as a bitmap, text measuring, and
// the pixel read-back through the pixel-location and pixel-values reports.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "inkora-debug-scope.hpp"
#include "inkora-debug.h"
#include "inkora-graphics-enhanced-fonts.h"
#include "inkora-graphics.h"
#include "inkora-nibline-display.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline.h"

namespace {

constexpr int32_t interlock_tries = 100;
constexpr uint32_t max_chunk_bits = INKORA_DISPLAY_CHUNK_GRAPHIC_SIZE * 8u; // 16312
constexpr int32_t max_depth = 32;
constexpr const char* encoding_problem = "String encoding problem, unable to convert string.";
constexpr inkora_gcolor opaque_black = 0x000000FFu;

// Offsets in the chunk report.
constexpr size_t chunk_graphic_offset = 10;
// Offsets in the pixel-values report.
constexpr size_t pixel_values_offset = 7;

void put_be16(std::span<uint8_t> buffer, size_t offset, uint16_t value) {
    buffer[offset] = static_cast<uint8_t>(value >> 8);
    buffer[offset + 1] = static_cast<uint8_t>(value & 0xFF);
}

// The font text is drawn with: the device's, or the built-in default while
// the device has none (a record that was never opened).
const inkora_enhanced_font* font_of(const inkora_device* device) {
    if (device->font != nullptr)
        return static_cast<const inkora_enhanced_font*>(device->font);
    return &inkora_default;
}

// Converted text, freed with free() when it goes out of scope.
struct code_points_free {
    void operator()(UChar32* text) const { std::free(text); }
};
using code_points = std::unique_ptr<UChar32, code_points_free>;

code_points convert(const char* text, uint32_t byte_count, const char* encoding) {
    uint32_t count = 0;
    return code_points(parse_string_encoding(text, byte_count, encoding, &count));
}

// Bits one pixel takes in a chunk at this depth: depth 1 packs one bit,
// depths 4 and 8 a nibble (sized by the depth, as the pad expects), every
// other depth three bytes, so a depth below 24 is sized by those 24 bits.
uint32_t planning_bits(int32_t depth) {
    if (depth == 1 || depth == 4 || depth == 8)
        return static_cast<uint32_t>(depth);
    return std::max<uint32_t>(24u, static_cast<uint32_t>(depth));
}

uint32_t integer_sqrt(uint32_t value) {
    uint32_t root = 0;
    while ((root + 1) * (root + 1) <= value)
        ++root;
    return root;
}

struct chunk_size {
    uint32_t width;
    uint32_t height;
};

chunk_size plan_chunks(uint32_t width, uint32_t height, uint32_t bits) {
    const uint64_t all = static_cast<uint64_t>(width) * height * bits;
    if (max_chunk_bits > all)
        return {width, height};
    if (width > height && max_chunk_bits > static_cast<uint64_t>(height) * bits)
        return {static_cast<uint32_t>(max_chunk_bits / (static_cast<uint64_t>(height) * bits)), height};
    if (max_chunk_bits > static_cast<uint64_t>(width) * bits)
        return {width, static_cast<uint32_t>(max_chunk_bits / (static_cast<uint64_t>(width) * bits))};
    const uint32_t side = integer_sqrt(max_chunk_bits / bits);
    return {side, side};
}

// Grey level 0 (black) to 15 (white) of a colour 0xRRGGBBAA:
// round(15 * ((R + G + B) / 3) / 255) = round(sum / 51), halves away from zero.
uint8_t grey_level(inkora_gcolor color) {
    const uint32_t sum = ((color >> 24) & 0xFF) + ((color >> 16) & 0xFF) + ((color >> 8) & 0xFF);
    return static_cast<uint8_t>((2 * sum + 51) / 102);
}

bool is_ink(inkora_gcolor color) {
    const uint32_t sum = ((color >> 24) & 0xFF) + ((color >> 16) & 0xFF) + ((color >> 8) & 0xFF);
    return sum <= 383;
}

// Packs the chunk's pixels (sx, sy, w x h of the bitmap) into graphic, which
// is zero on entry: column by column, each column from the top.
void pack_chunk(const inkora_bitmap* bitmap, int32_t depth, uint32_t sx, uint32_t sy, uint32_t w, uint32_t h,
                std::span<uint8_t> graphic) {
    size_t n = 0; // pixel number within the chunk
    for (uint32_t cx = 0; cx < w; ++cx) {
        for (uint32_t cy = 0; cy < h; ++cy, ++n) {
            const inkora_gcolor color =
                inkora_get_pixel(bitmap, static_cast<int32_t>(sx + cx), static_cast<int32_t>(sy + cy));
            if (depth == 1) {
                if (n / 8 >= graphic.size())
                    return;
                if (is_ink(color))
                    graphic[n / 8] = static_cast<uint8_t>(graphic[n / 8] | (0x80u >> (n % 8)));
            } else if (depth == 4 || depth == 8) {
                if (n / 2 >= graphic.size())
                    return;
                const uint8_t level = grey_level(color);
                graphic[n / 2] = static_cast<uint8_t>(graphic[n / 2] | (n % 2 == 0 ? level : level << 4));
            } else {
                if (n * 3 + 2 >= graphic.size())
                    return;
                graphic[n * 3] = static_cast<uint8_t>(color >> 24);
                graphic[n * 3 + 1] = static_cast<uint8_t>(color >> 16);
                graphic[n * 3 + 2] = static_cast<uint8_t>(color >> 8);
            }
        }
    }
}

} // namespace

extern "C" {

inkora_error_code inkora_set_display_content(inkora_device* device, inkora_hid_feature_display_content content) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr) {
        INKORA_NIBLINE_ERROR("No device to set the display content of.");
        return INKORA_CODE_ERROR;
    }
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_DISPLAY) == 0)
        return INKORA_CODE_ERROR;
    std::array<uint8_t, INKORA_DISPLAY_CONTENT_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_DISPLAY_CONTENT;
    buffer[1] = content.content;
    return inkora_hid_set_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size())) ==
                   INKORA_CODE_SUCCESS
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_error_code inkora_set_display_chunk(inkora_device* device, inkora_hid_feature_display_chunk chunk) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr) {
        INKORA_NIBLINE_ERROR("No device to send the display chunk to.");
        return INKORA_CODE_ERROR;
    }
    if (wait_for_interlock(device, interlock_tries, INTERLOCK_DISPLAY) == 0)
        return INKORA_CODE_ERROR;
    std::array<uint8_t, INKORA_DISPLAY_CHUNK_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_DISPLAY_CHUNK;
    put_be16(buffer, 1, chunk.x);
    put_be16(buffer, 3, chunk.y);
    put_be16(buffer, 5, chunk.width);
    put_be16(buffer, 7, chunk.height);
    buffer[9] = chunk.bits_per_pixel;
    std::memcpy(buffer.data() + chunk_graphic_offset, chunk.graphic, sizeof chunk.graphic);
    return inkora_hid_set_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size())) ==
                   INKORA_CODE_SUCCESS
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_error_code inkora_transfer_bitmap_to_device(inkora_device* device, const inkora_bitmap* bitmap, uint32_t x,
                                                   uint32_t y, int32_t depth) {
    if (device == nullptr || bitmap == nullptr) {
        INKORA_NIBLINE_ERROR("No device or no bitmap to transfer.");
        return INKORA_CODE_ERROR;
    }
    // A depth of 0 or less gives no chunk size at all (a division by zero),
    // and a very large one chunks of no pixels, so neither is sent.
    if (depth < 1 || depth > max_depth) {
        INKORA_NIBLINE_ERROR("Unsupported colour depth %d for a bitmap transfer.", static_cast<int>(depth));
        return INKORA_CODE_ERROR;
    }
    const uint32_t width = bitmap->width > 0 ? static_cast<uint32_t>(bitmap->width) : 0u;
    const uint32_t height = bitmap->height > 0 ? static_cast<uint32_t>(bitmap->height) : 0u;
    if (width == 0 || height == 0)
        return INKORA_CODE_SUCCESS; // nothing to show
    if (bitmap->raster == nullptr) {
        INKORA_NIBLINE_ERROR("The bitmap to transfer has no pixels.");
        return INKORA_CODE_ERROR;
    }
    const chunk_size size = plan_chunks(width, height, planning_bits(depth));
    inkora_hid_feature_display_chunk chunk;
    for (uint32_t sx = 0; sx < width; sx += size.width) {
        for (uint32_t sy = 0; sy < height; sy += size.height) {
            std::memset(&chunk, 0, sizeof chunk);
            chunk.report_id = INKORA_REPORT_ID_DISPLAY_CHUNK;
            chunk.width = static_cast<uint16_t>(std::min(size.width, width - sx));
            chunk.height = static_cast<uint16_t>(std::min(size.height, height - sy));
            chunk.bits_per_pixel = static_cast<uint8_t>(depth);
            chunk.x = static_cast<uint16_t>(x + sx);
            chunk.y = static_cast<uint16_t>(y + sy);
            pack_chunk(bitmap, depth, sx, sy, chunk.width, chunk.height, chunk.graphic);
            if (inkora_set_display_chunk(device, chunk) != INKORA_CODE_SUCCESS)
                return INKORA_CODE_ERROR;
        }
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_device_draw_text_encoded(inkora_device* device, const char* text, uint32_t byte_count,
                                                  uint32_t x, uint32_t y, inkora_font_alignment alignment,
                                                  uint8_t invert, const char* encoding) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr) {
        INKORA_NIBLINE_ERROR("No device to draw the text on.");
        return INKORA_CODE_ERROR;
    }
    const code_points converted = convert(text, byte_count, encoding);
    if (converted == nullptr) {
        INKORA_NIBLINE_ERROR("%s", encoding_problem);
        return INKORA_CODE_ERROR;
    }
    const inkora_enhanced_font* font = font_of(device);
    const uint32_t w = enhanced_get_string_width(font, converted.get());
    const uint32_t h = enhanced_get_string_height(font, converted.get());

    // Unsigned arithmetic: a text that would start left of 0 gets a very
    // large x and fails the first check below.
    if (alignment == INKORA_ALIGN_CENTER)
        x -= w / 2;
    else if (alignment == INKORA_ALIGN_RIGHT)
        x -= w;

    const uint64_t display_width = device->display_info.width;
    const uint64_t display_height = device->display_info.height;
    if (x > display_width) {
        INKORA_NIBLINE_ERROR("Requested coordinate is off the screen in the horizontal direction.");
        return INKORA_CODE_ERROR;
    }
    if (static_cast<uint64_t>(x) + w > display_width) {
        INKORA_NIBLINE_ERROR("Requested string would draw off the screen in the horizontal direction.");
        return INKORA_CODE_ERROR;
    }
    if (y > display_height) {
        INKORA_NIBLINE_ERROR("Requested coordinate is off the screen in the vertical direction.");
        return INKORA_CODE_ERROR;
    }
    if (static_cast<uint64_t>(y) + h > display_height) {
        INKORA_NIBLINE_ERROR("Requested string would draw off the screen in the vertical direction.");
        return INKORA_CODE_ERROR;
    }

    // w and h now fit the display, so the sizes below are small.
    const auto bw = static_cast<int32_t>(w);
    const auto bh = static_cast<int32_t>(h);
    const size_t row_size = static_cast<size_t>(((bw * 24 + 31) / 32) * 4);
    std::vector<uint8_t> buffer(row_size * h + INKORA_BITMAP_HEADER_SIZE);
    inkora_bitmap bitmap;
    inkora_bitmap_init(&bitmap, buffer.data(), bw, bh);
    enhanced_draw_string_aligned(&bitmap, font, converted.get(), 0, 0, bw, bh, INKORA_ALIGN_BEGIN, INKORA_ALIGN_BEGIN,
                                 opaque_black);
    if (invert != 0) {
        for (uint8_t& byte : std::span<uint8_t>(bitmap.raster, static_cast<size_t>(bitmap.arraySize)))
            byte = static_cast<uint8_t>(~byte);
    }
    const int32_t depth = std::min<int32_t>(font->bitDepth, device->display_info.color_depth);
    return inkora_transfer_bitmap_to_device(device, &bitmap, x, y, depth) == INKORA_CODE_SUCCESS
               ? INKORA_CODE_SUCCESS
               : INKORA_CODE_ERROR;
}

inkora_error_code inkora_device_draw_text(inkora_device* device, const char* text, uint32_t x, uint32_t y,
                                          inkora_font_alignment alignment, uint8_t invert) {
    const auto length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0u;
    return inkora_device_draw_text_encoded(device, text, length, x, y, alignment, invert, "utf-8");
}

uint32_t inkora_measure_text_width_encoding(inkora_device* device, const char* text, uint32_t byte_count,
                                            const char* encoding) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return 0;
    const code_points converted = convert(text, byte_count, encoding);
    if (converted == nullptr) {
        INKORA_NIBLINE_ERROR("%s", encoding_problem);
        return 0;
    }
    return enhanced_get_string_width(font_of(device), converted.get());
}

uint32_t inkora_measure_text_height_encoding(inkora_device* device, const char* text, uint32_t byte_count,
                                             const char* encoding) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr)
        return 0;
    const code_points converted = convert(text, byte_count, encoding);
    if (converted == nullptr) {
        INKORA_NIBLINE_ERROR("%s", encoding_problem);
        return 0;
    }
    return enhanced_get_string_height(font_of(device), converted.get());
}

uint32_t inkora_measure_text_width(inkora_device* device, const char* text) {
    const auto length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0u;
    return inkora_measure_text_width_encoding(device, text, length, "utf-8");
}

uint32_t inkora_measure_text_height(inkora_device* device, const char* text) {
    const auto length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0u;
    return inkora_measure_text_height_encoding(device, text, length, "utf-8");
}

inkora_error_code inkora_get_pixels(inkora_device* device, inkora_hid_feature_pixel_values* values) {
    INKORA_FUNCTION_SCOPE();
    if (device == nullptr || values == nullptr) {
        INKORA_NIBLINE_ERROR("No device or no record to read pixels into.");
        return INKORA_CODE_ERROR;
    }
    // Both coordinates go in full: the display is wider than 255 pixels, and
    // a low byte alone would read the pixels of another place.
    std::array<uint8_t, INKORA_PIXEL_LOCATION_LENGTH> location{};
    location[0] = INKORA_REPORT_ID_PIXEL_LOCATION;
    put2(location.data(), 1, values->start_x);
    put2(location.data(), 3, values->start_y);
    if (inkora_hid_set_feature_report(device, location.data(), static_cast<uint32_t>(location.size())) !=
        INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Unable to get report: %s", inkora_get_last_error());
        return INKORA_CODE_ERROR;
    }
    std::array<uint8_t, INKORA_PIXEL_VALUES_LENGTH> buffer{};
    buffer[0] = INKORA_REPORT_ID_PIXEL_VALUES;
    if (inkora_hid_get_feature_report(device, buffer.data(), static_cast<uint32_t>(buffer.size())) !=
        INKORA_CODE_SUCCESS) {
        INKORA_LOG_WARNING("Unable to get report: %s", inkora_get_last_error());
        return INKORA_CODE_ERROR;
    }
    values->report_id = buffer[0];
    values->start_x = static_cast<uint16_t>(get2(buffer.data(), 1));
    values->start_y = static_cast<uint16_t>(get2(buffer.data(), 3));
    uint32_t count = static_cast<uint16_t>(get2(buffer.data(), 5));
    if (count > INKORA_PIXEL_VALUES_MAX) {
        // The report carries 256 pixels at most; the claim beyond is not believed.
        INKORA_LOG_WARNING("Pixel values report claims %u pixels, keeping %u", count, INKORA_PIXEL_VALUES_MAX);
        count = INKORA_PIXEL_VALUES_MAX;
    }
    values->number_of_pixels = static_cast<uint16_t>(count);
    std::memset(&values->color_data, 0, sizeof values->color_data);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = pixel_values_offset + static_cast<size_t>(i) * 4;
        values->color_data.color[i].a = buffer[at];
        values->color_data.color[i].r = buffer[at + 1];
        values->color_data.color[i].g = buffer[at + 2];
        values->color_data.color[i].b = buffer[at + 3];
    }
    return INKORA_CODE_SUCCESS;
}

} // extern "C"
