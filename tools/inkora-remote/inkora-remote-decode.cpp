// Decoding of the pads' feature and input reports as the client receives
// them through the agent: raw bytes, report id first, multi-byte fields
// little-endian. Every length is checked before a field is read.
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "inkora-remote.h"

namespace inkora::tool {
namespace {

uint16_t le16(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char buffer[256];
    const int n = std::snprintf(buffer, sizeof buffer, pattern, args...);
    if (n < 0)
        return {};
    return std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

std::string flag_list(uint8_t flags) {
    static constexpr std::string_view names[] = {"accept-touch", "decode", "visible", "in-use", "frame"};
    std::string text;
    for (size_t bit = 0; bit < std::size(names); ++bit) {
        if ((flags & (1u << bit)) != 0) {
            if (!text.empty())
                text += ',';
            text += names[bit];
        }
    }
    return text.empty() ? "none" : text;
}

// Track bytes as text: printable ASCII kept, the field ends at the first NUL.
std::string track_text(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        if (byte == 0)
            break;
        text += std::isprint(byte) ? static_cast<char>(byte) : '.';
    }
    return text;
}

std::string_view track_status(uint8_t status) {
    switch (status) {
    case 0: return "valid";
    case 1: return "parity-error";
    case 16: return "unknown-format";
    case 17: return "corrupt";
    default: return "?";
    }
}

} // namespace

std::optional<DisplayInfo> parse_display_info(std::span<const uint8_t> report) {
    // 10 bytes: id 100; 1-2 width; 3-4 height; 5 depth; 6 text width;
    // 7 text height; 8 region count; 9 caption length.
    if (report.size() < 10 || report[0] != 100)
        return std::nullopt;
    DisplayInfo info;
    info.width = le16(report, 1);
    info.height = le16(report, 3);
    info.color_depth = report[5];
    info.text_width = report[6];
    info.text_height = report[7];
    info.region_count = report[8];
    info.caption_length = report[9];
    return info;
}

std::optional<VersionInfo> parse_version(std::span<const uint8_t> report) {
    // 9 bytes: id 22; 1-3 kernel; 4-6 firmware; 7-8 ASIC signature.
    if (report.size() < 9 || report[0] != 22)
        return std::nullopt;
    VersionInfo version;
    std::copy_n(report.begin() + 1, 3, version.kernel);
    std::copy_n(report.begin() + 4, 3, version.firmware);
    version.asic_signature = le16(report, 7);
    return version;
}

std::string firmware_text(const VersionInfo& version) {
    return format("%u.%u.%u", version.firmware[0], version.firmware[1], version.firmware[2]);
}

std::vector<Region> parse_regions(std::span<const uint8_t> report, unsigned count, unsigned caption_length) {
    std::vector<Region> regions;
    const size_t record = caption_length + 29u;
    for (unsigned i = 0; i < count; ++i) {
        const size_t start = 1 + i * record;
        if (start + record > report.size())
            break;
        const auto r = report.subspan(start, record);
        Region region;
        region.number = r[0];
        region.type = r[1];
        region.flags = r[2];
        region.x1 = le16(r, 8);
        region.x2 = le16(r, 10);
        region.y1 = le16(r, 12);
        region.y2 = le16(r, 14);
        region.type_byte0 = r[24];
        region.type_byte1 = r[25];
        if (region.type == kButton) {
            const auto caption = r.subspan(28, caption_length);
            region.caption = track_text(caption);
        }
        regions.push_back(std::move(region));
    }
    return regions;
}

std::string region_type_name(uint8_t type) {
    switch (type) {
    case kContainer: return "container";
    case kButton: return "button";
    case kLine: return "line";
    case kGraphic: return "graphic";
    case kText: return "text";
    default: return format("type-%u", type);
    }
}

std::string describe_region(const Region& region) {
    std::string text = format("region %u: %s x %u-%u y %u-%u flags %s", region.number,
                              region_type_name(region.type).c_str(), region.x1, region.x2, region.y1, region.y2,
                              flag_list(region.flags).c_str());
    if (region.type == kButton)
        text += " caption \"" + region.caption + "\"";
    else if (region.type == kContainer)
        text += (region.type_byte0 & 1) != 0 ? " ink" : " no-ink";
    else if (region.type == kLine)
        text += format(" parent %u width %u", region.type_byte0, region.type_byte1);
    return text;
}

uint8_t find_button(const std::vector<Region>& regions, std::string_view caption) {
    for (const Region& region : regions) {
        if (region.type != kButton || region.caption.size() != caption.size())
            continue;
        if (std::equal(caption.begin(), caption.end(), region.caption.begin(),
                       [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                   std::tolower(static_cast<unsigned char>(b)); }))
            return region.number;
    }
    return 0;
}

std::vector<std::string> describe_status(std::span<const uint8_t> report) {
    // 73 bytes: id 13; 1 starting (bit 0), idle (bit 4); 2 calibration
    // required (bit 0), calibrating (bit 1); 3 six interlocks; 7-8 last error;
    // 9-72 error text.
    if (report.size() < 73 || report[0] != 13)
        return {"status: not available"};
    std::vector<std::string> lines;
    lines.push_back(format("status: %s, %s", (report[1] & 1) != 0 ? "starting" : "started",
                           (report[1] & 0x10) != 0 ? "idle" : "not idle"));
    lines.push_back(format("calibration: %s%s", (report[2] & 1) != 0 ? "required" : "not required",
                           (report[2] & 2) != 0 ? ", in progress" : ""));
    static constexpr std::string_view locks[] = {"report-buffer", "operating-mode", "region",
                                                 "screen", "display", "calibration"};
    std::string held;
    for (size_t bit = 0; bit < std::size(locks); ++bit) {
        if ((report[3] & (1u << bit)) != 0)
            held += (held.empty() ? "" : ",") + std::string(locks[bit]);
    }
    lines.push_back("interlocks held: " + (held.empty() ? std::string("none") : held));
    const std::string error = track_text(report.subspan(9, 64));
    lines.push_back(format("last error: %u%s%s", le16(report, 7), error.empty() ? "" : " ", error.c_str()));
    return lines;
}

std::optional<CoordinateRange> parse_coordinate_range(std::span<const uint8_t> report) {
    if (report.size() < 65 || report[0] != 11)
        return std::nullopt;
    return CoordinateRange{le16(report, 17), le16(report, 19), le16(report, 21), le16(report, 23)};
}

std::vector<std::string> describe_capabilities(std::span<const uint8_t> report) {
    // 65 bytes: id 11; 1-2 supported reports; 3 coordinate modes; 5 display
    // id; 6 brightness levels; 7 contrast levels; 8 colour depth; 9-12
    // display size; 13-16 digitizer size; 17-24 coordinate range; 25-32
    // calibration range; 41 card reader id; 45 screens and resources.
    if (report.size() < 65 || report[0] != 11)
        return {"capabilities: not available"};
    std::vector<std::string> lines;
    const uint8_t modes = report[3];
    std::string mode_text;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((modes & (1u << bit)) != 0)
            mode_text += (mode_text.empty() ? "bit " : ", ") + std::to_string(bit);
    }
    lines.push_back(format("coordinate modes: 0x%02x (%s)", modes, mode_text.empty() ? "none" : mode_text.c_str()));
    lines.push_back(format("supported reports: 0x%04x", le16(report, 1)));
    lines.push_back(format("display: id %u, %u x %u pixels, colour depth %u, %u brightness and %u contrast levels",
                           report[5], le16(report, 9), le16(report, 11), report[8], report[6], report[7]));
    lines.push_back(format("digitizer: %u x %u, coordinates x %u-%u y %u-%u", le16(report, 13), le16(report, 15),
                           le16(report, 17), le16(report, 19), le16(report, 21), le16(report, 23)));
    const uint8_t reader = report[41];
    lines.push_back(format("card reader: %s (id 0x%02x)", (reader & 0x80) != 0 ? "present" : "none", reader));
    lines.push_back(format("screens and resources: %s", report[45] != 0 ? "supported" : "not supported"));
    return lines;
}

std::string uuid_text(std::span<const uint8_t> d) {
    if (d.size() < 16)
        return {};
    char text[40];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", d[0], d[1],
                  d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10], d[11], d[12], d[13], d[14], d[15]);
    return text;
}

std::optional<std::string> uuid_from_table(std::span<const uint8_t> report) {
    if (report.size() < 2049 || report[0] != 26)
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(report.data() + 1, 2048, digest, &length, EVP_md5(), nullptr) != 1 || length != 16)
        return std::nullopt;
    return uuid_text(std::span<const uint8_t>(digest, 16));
}

std::optional<PenSample> pen_sample(std::span<const uint8_t> report) {
    // 1: id, sample byte (bit 0 down), x, y; 2: the same and the region.
    if (report.empty())
        return std::nullopt;
    if ((report[0] == 1 && report.size() >= 6) || (report[0] == 2 && report.size() >= 7)) {
        PenSample sample;
        sample.report_id = report[0];
        sample.down = (report[1] & 1) != 0;
        sample.x = le16(report, 2);
        sample.y = le16(report, 4);
        sample.region = report[0] == 2 ? report[6] : 0;
        return sample;
    }
    return std::nullopt;
}

std::string describe_input(std::span<const uint8_t> report, const std::vector<Region>& regions) {
    if (report.empty())
        return "empty report";
    switch (report[0]) {
    case 1:
    case 2: {
        const auto sample = pen_sample(report);
        if (!sample)
            break;
        std::string text = format("%s x=%u y=%u pen=%s source=%s", report[0] == 1 ? "coordinate" : "extended",
                                  sample->x, sample->y, sample->down ? "down" : "up",
                                  (report[1] & 0x10) != 0 ? "touch" : "pen");
        if (report[0] == 2) {
            text += format(" region=%u", sample->region);
            for (const Region& region : regions) {
                if (region.number == sample->region && sample->region != 0) {
                    text += " (" + region_type_name(region.type);
                    if (region.type == kButton)
                        text += " \"" + region.caption + "\"";
                    text += ")";
                }
            }
        }
        return text;
    }
    case 3:
        if (report.size() < 11)
            break;
        if (report[1] == 2)
            return format("adc scan pen=%s x-max=%u x-min=%u y-max=%u y-min=%u", (report[2] & 1) != 0 ? "down" : "up",
                          le16(report, 3), le16(report, 5), le16(report, 7), le16(report, 9));
        if (report[1] == 3)
            return format("adc channel=%u samples=%u,%u,%u,%u", report[2], le16(report, 3), le16(report, 5),
                          le16(report, 7), le16(report, 9));
        return format("adc data-type=%u", report[1]);
    case 12: {
        if (report.size() < 231)
            break;
        const char* kind = report[1] == 1 ? "financial" : report[1] == 2 ? "identification" : "unknown";
        std::string text = format("card swipe format=%s", kind);
        const std::span<const uint8_t> tracks[] = {report.subspan(5, 79), report.subspan(84, 40),
                                                   report.subspan(124, 107)};
        for (int t = 0; t < 3; ++t) {
            text += format(" track%d=%s", t + 1, std::string(track_status(report[2 + t])).c_str());
            const std::string data = track_text(tracks[t]);
            if (!data.empty())
                text += ":\"" + data + "\"";
        }
        return text;
    }
    case 254:
        if (report.size() < 22)
            break;
        return format("debug pen=%s offset=%u x=%u-%u y=%u-%u errcor=%u,%u mapped=%u,%u region=%u",
                      (report[2] & 1) != 0 ? "down" : "up", le16(report, 3), le16(report, 7), le16(report, 5),
                      le16(report, 11), le16(report, 9), le16(report, 13), le16(report, 15), le16(report, 17),
                      le16(report, 19), report[21]);
    default:
        return format("report %u: %s", report[0], hex_text(report).c_str());
    }
    return format("report %u too short (%zu bytes): %s", report[0], report.size(), hex_text(report).c_str());
}

std::optional<std::vector<PenStep>> parse_pen_script(std::string_view text, std::string* error) {
    std::vector<PenStep> steps;
    size_t line_number = 0;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string line(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        ++line_number;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        char word[8] = {};
        unsigned x = 0, y = 0, type = 2;
        char rest = 0;
        const int fields = std::sscanf(line.c_str(), " %7s %u %u %u %c", word, &x, &y, &type, &rest);
        const std::string_view verb = word;
        if (fields < 3 || fields > 4 || (verb != "down" && verb != "up") || x > 65535 || y > 65535 ||
            (type != 1 && type != 2)) {
            if (error != nullptr)
                *error = "line " + std::to_string(line_number) + ": expected \"down|up X Y [1|2]\"";
            return std::nullopt;
        }
        steps.push_back(PenStep{static_cast<uint16_t>(x), static_cast<uint16_t>(y), verb == "down",
                                static_cast<uint8_t>(type)});
    }
    return steps;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text) {
    std::vector<uint8_t> bytes;
    int pending = -1;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == ':' || c == ',' || c == '\t' || c == '\n') {
            if (pending >= 0)
                return std::nullopt; // a lone digit before a separator
            continue;
        }
        if (pending < 0 && c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        int value = -1;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        if (value < 0)
            return std::nullopt;
        if (pending < 0) {
            pending = value;
        } else {
            bytes.push_back(static_cast<uint8_t>(pending * 16 + value));
            pending = -1;
        }
    }
    if (pending >= 0 || bytes.empty())
        return std::nullopt;
    return bytes;
}

std::string hex_text(std::span<const uint8_t> bytes, size_t limit) {
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < limit; ++i)
        text += format(i == 0 ? "%02x" : " %02x", bytes[i]);
    if (bytes.size() > limit)
        text += format(" ... (%zu bytes)", bytes.size());
    return text;
}

} // namespace inkora::tool
