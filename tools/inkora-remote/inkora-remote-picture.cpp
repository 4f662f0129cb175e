// Signature pictures: SVG paths of the strokes as captured, and a PNG
// rendered with the project's drawing primitives and written with zlib.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "inkora-graphics.h"
#include "inkora-remote.h"

namespace inkora::tool {
namespace {

std::string number(double value) {
    // Two decimals at most, trailing zeros dropped: 12, 12.5, 7.79.
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    std::string out = text;
    while (!out.empty() && out.back() == '0')
        out.pop_back();
    if (!out.empty() && out.back() == '.')
        out.pop_back();
    return out == "-0" ? "0" : out;
}

void put_be32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// One chunk: length, type, data, CRC over type and data.
void put_chunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    put_be32(out, static_cast<uint32_t>(data.size()));
    const size_t type_at = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, out.data() + type_at, static_cast<uInt>(4 + data.size()));
    put_be32(out, static_cast<uint32_t>(crc));
}

constexpr double kStrokeWidth = 2.5;

} // namespace

std::string signature_svg(const Signature& signature) {
    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(signature.width) + "\" height=\"" +
           std::to_string(signature.height) + "\" viewBox=\"0 0 " + std::to_string(signature.width) + " " +
           std::to_string(signature.height) + "\">\n";
    svg += "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    for (const auto& stroke : signature.strokes) {
        if (stroke.empty())
            continue;
        std::string d = "M " + number(stroke[0].x) + " " + number(stroke[0].y);
        // A lone point still shows, as a dot drawn by the round cap.
        if (stroke.size() == 1)
            d += " L " + number(stroke[0].x) + " " + number(stroke[0].y);
        for (size_t i = 1; i < stroke.size(); ++i)
            d += " L " + number(stroke[i].x) + " " + number(stroke[i].y);
        svg += "  <path d=\"" + d + "\" fill=\"none\" stroke=\"black\" stroke-width=\"" + number(kStrokeWidth) +
               "\" stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

std::vector<uint8_t> signature_png(const Signature& signature) {
    const int width = std::max(1, signature.width);
    const int height = std::max(1, signature.height);
    const int32_t row_size = ((width * 24 + 31) / 32) * 4;
    std::vector<uint8_t> buffer(static_cast<size_t>(INKORA_BITMAP_HEADER_SIZE) + static_cast<size_t>(row_size) * height);
    inkora_bitmap bitmap{};
    inkora_bitmap_init(&bitmap, buffer.data(), width, height);
    constexpr inkora_gcolor black = 0x000000FF;
    for (const auto& stroke : signature.strokes) {
        for (size_t i = 0; i < stroke.size(); ++i) {
            const Point& a = stroke[i == 0 ? 0 : i - 1];
            const Point& b = stroke[i];
            inkora_draw_thick_aa_line(&bitmap, static_cast<int32_t>(std::lround(a.x)),
                                      static_cast<int32_t>(std::lround(a.y)), static_cast<int32_t>(std::lround(b.x)),
                                      static_cast<int32_t>(std::lround(b.y)), static_cast<float>(kStrokeWidth), black);
        }
    }

    // Raw image data: per row a filter byte 0 and RGB triples, top row first.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            const inkora_gcolor c = inkora_get_pixel(&bitmap, x, y);
            raw.push_back(static_cast<uint8_t>(c >> 24));
            raw.push_back(static_cast<uint8_t>(c >> 16));
            raw.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packed_size);
    if (compress2(packed.data(), &packed_size, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        return {};
    packed.resize(packed_size);

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put_be32(header, static_cast<uint32_t>(width));
    put_be32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, adaptive filters, no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", {});
    return png;
}

bool write_file(const std::string& path, std::string_view bytes, std::string* error) {
    struct Closer {
        void operator()(FILE* file) const noexcept { std::fclose(file); }
    };
    std::unique_ptr<FILE, Closer> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        if (error != nullptr)
            *error = std::strerror(errno);
        return false;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() || std::fflush(file.get()) != 0) {
        if (error != nullptr)
            *error = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace inkora::tool
