// The pad model: feature reports answered and acted on as a pad's firmware
// does, and input reports queued for the reader.
#include "inkora-pad-model.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace inkora::sim {

namespace {

struct ReportLength {
    uint8_t id;
    uint16_t length; // including the id byte
};

// Feature reports of the pad with their lengths.
constexpr std::array<ReportLength, 55> feature_reports{{
    {2, 2},     {10, 2},   {11, 65},   {13, 73},  {15, 3},   {16, 2},   {20, 4},   {21, 2},   {22, 9},
    {23, 9},    {25, 134}, {26, 2049}, {27, 35},  {28, 2},   {29, 3},   {40, 5},   {41, 6},   {42, 2},
    {43, 9},    {44, 3},   {50, 18},   {60, 22},  {91, 10},  {92, 17},  {100, 10}, {101, 2},  {102, 7},
    {103, 2049}, {104, 5}, {105, 1031}, {110, 226}, {111, 226}, {112, 46}, {113, 12}, {114, 2}, {115, 2},
    {130, 2},   {131, 49}, {140, 2},   {141, 20}, {142, 1045}, {143, 2}, {144, 18}, {150, 2},  {152, 50},
    {153, 2},   {160, 2},  {162, 80},  {163, 2},  {164, 13}, {170, 25}, {171, 2},  {172, 2},  {230, 69},
    {253, 67},
}};

// Input reports of the pad with their lengths.
constexpr std::array<ReportLength, 5> input_reports{{{1, 6}, {2, 7}, {3, 11}, {12, 231}, {254, 22}}};

constexpr uint32_t white = 0xFFFFFF;
constexpr size_t region_record_length = PadModel::caption_length + 29; // report 110/111 record
constexpr size_t pixels_per_report = 256;                              // report 105: (1031 - 7) / 4

uint16_t le16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
uint16_t be16(std::span<const uint8_t> b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }
void put_le16(std::span<uint8_t> b, size_t at, uint16_t v) {
    if (at + 1 < b.size()) {
        b[at] = static_cast<uint8_t>(v & 0xFF);
        b[at + 1] = static_cast<uint8_t>(v >> 8);
    }
}
void put_byte(std::span<uint8_t> b, size_t at, uint8_t v) {
    if (at < b.size())
        b[at] = v;
}

inkora_color rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    inkora_color c;
    c.red = r;
    c.green = g;
    c.blue = b;
    c.alpha = a;
    return c;
}

inkora_device_region_info make_region(uint8_t number, inkora_region_type type, uint16_t x1, uint16_t x2, uint16_t y1,
                                      uint16_t y2, bool touch, bool frame) {
    inkora_device_region_info r;
    std::memset(&r, 0, sizeof r);
    r.common.region_number = number;
    r.common.region_type = type;
    r.common.accept_touch = touch ? 1 : 0;
    r.common.visible = 1;
    r.common.in_use = 1;
    r.common.has_frame = frame ? 1 : 0;
    r.common.x1 = x1;
    r.common.x2 = x2;
    r.common.y1 = y1;
    r.common.y2 = y2;
    r.common.color_foreground = rgba(0, 0, 0, 255);
    r.common.color_background = rgba(255, 255, 255, 255);
    return r;
}

inkora_device_region_info make_button(uint8_t number, uint16_t x1, uint16_t x2, const char* caption) {
    inkora_device_region_info r = make_region(number, INKORA_REGION_TYPE_BUTTON, x1, x2, 160, 191, true, true);
    r.button.enable = 1;
    r.button.highlight_on_select = 1;
    std::strncpy(r.button.caption, caption, sizeof r.button.caption - 1);
    return r;
}

std::vector<inkora_device_region_info> default_regions() {
    std::vector<inkora_device_region_info> table;
    inkora_device_region_info container =
        make_region(1, INKORA_REGION_TYPE_CONTAINER, 0, 319, 0, 151, true, false);
    container.container.ink_enable = 1;
    table.push_back(container);
    inkora_device_region_info line = make_region(2, INKORA_REGION_TYPE_LINE, 20, 299, 130, 131, false, false);
    line.line.parent = 1;
    line.line.width = 2;
    table.push_back(line);
    table.push_back(make_button(3, 0, 105, "Clear"));
    table.push_back(make_button(4, 107, 212, "Cancel"));
    table.push_back(make_button(5, 214, 319, "OK"));
    return table;
}

void put_color(std::span<uint8_t> out, size_t at, const inkora_color& c) {
    put_byte(out, at, c.red);
    put_byte(out, at + 1, c.green);
    put_byte(out, at + 2, c.blue);
    put_byte(out, at + 3, c.alpha);
}

inkora_color read_color(std::span<const uint8_t> in, size_t at) { return rgba(in[at], in[at + 1], in[at + 2], in[at + 3]); }

} // namespace

PadModel::PadModel(uint32_t index)
    : index_(index), defaults_(default_regions()), current_(defaults_),
      frame_(static_cast<size_t>(width) * height, white) {}

std::vector<uint8_t> PadModel::report_descriptor() {
    // Vendor page, one application collection, one 8-bit field array per report.
    std::vector<uint8_t> d{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    auto add = [&d](const ReportLength& r, uint8_t main_item) {
        const uint16_t count = static_cast<uint16_t>(r.length - 1);
        d.insert(d.end(), {0x85, r.id, 0x09, 0x01});
        if (count <= 0xFF)
            d.insert(d.end(), {0x95, static_cast<uint8_t>(count)});
        else
            d.insert(d.end(), {0x96, static_cast<uint8_t>(count & 0xFF), static_cast<uint8_t>(count >> 8)});
        d.insert(d.end(), {main_item, 0x02});
    };
    for (const auto& r : input_reports)
        add(r, 0x81); // Input
    for (const auto& r : feature_reports)
        add(r, 0xB1); // Feature
    d.push_back(0xC0);
    return d;
}

bool PadModel::declares(uint8_t report_id) {
    return std::any_of(feature_reports.begin(), feature_reports.end(),
                       [report_id](const ReportLength& r) { return r.id == report_id; }) ||
           std::any_of(input_reports.begin(), input_reports.end(),
                       [report_id](const ReportLength& r) { return r.id == report_id; });
}

void PadModel::opened() {
    const std::lock_guard lock(mutex_);
    status_reads_after_open_ = 2;
}

void PadModel::encode_regions(const std::vector<inkora_device_region_info>& table, std::span<uint8_t> out) const {
    for (size_t i = 0; i < table.size(); ++i) {
        const size_t at = 1 + i * region_record_length;
        if (at + region_record_length > out.size())
            return;
        const inkora_device_region_info& r = table[i];
        const inkora_device_region_common& c = r.common;
        out[at] = c.region_number;
        out[at + 1] = static_cast<uint8_t>(c.region_type);
        out[at + 2] = static_cast<uint8_t>(c.accept_touch | (c.decode << 1) | (c.visible << 2) | (c.in_use << 3) |
                                           (c.has_frame << 4));
        out[at + 3] = c.reserved_1;
        put_le16(out, at + 8, c.x1);
        put_le16(out, at + 10, c.x2);
        put_le16(out, at + 12, c.y1);
        put_le16(out, at + 14, c.y2);
        put_color(out, at + 16, c.color_foreground);
        put_color(out, at + 20, c.color_background);
        switch (c.region_type) {
        case INKORA_REGION_TYPE_CONTAINER:
            out[at + 24] = static_cast<uint8_t>(r.container.ink_enable | (r.container.reserved_1 << 1));
            out[at + 25] = r.container.reserved_2;
            break;
        case INKORA_REGION_TYPE_BUTTON:
            out[at + 24] = r.button.parent;
            out[at + 25] = static_cast<uint8_t>(r.button.enable | (r.button.highlight_on_select << 1) |
                                                (r.button.clear_on_select << 2));
            std::memcpy(&out[at + 28], r.button.caption,
                        std::min<size_t>(caption_length, std::strlen(r.button.caption)));
            break;
        case INKORA_REGION_TYPE_LINE:
            out[at + 24] = r.line.parent;
            out[at + 25] = r.line.width;
            break;
        default:
            break;
        }
    }
}

int PadModel::get_feature(std::span<uint8_t> buffer) {
    if (buffer.empty())
        return EINVAL;
    const uint8_t id = buffer[0];
    const std::lock_guard lock(mutex_);
    ++feature_gets_;
    if (unplugged_)
        return ENODEV;
    if (!declares(id))
        return EINVAL;
    std::fill(buffer.begin() + 1, buffer.end(), 0);
    switch (id) {
    case 13: { // status
        uint8_t state = 0;
        if (status_reads_after_open_ > 0) {
            state |= 0x01; // starting up
            --status_reads_after_open_;
        }
        if (run_mode_ == 0)
            state |= 0x10; // idle
        put_byte(buffer, 1, state);
        break;
    }
    case 100: { // display info
        constexpr std::array<uint8_t, 10> info{0x64, 0x40, 0x01, 0xC0, 0x00, 0x08, 0x1E, 0x08, 0x05, 0x10};
        std::copy_n(info.begin(), std::min(info.size(), buffer.size()), buffer.begin());
        break;
    }
    case 22: { // version
        constexpr std::array<uint8_t, 9> version{0x16, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x34, 0x12};
        std::copy_n(version.begin(), std::min(version.size(), buffer.size()), buffer.begin());
        break;
    }
    case 26: // error-correction table
        for (size_t i = 0; i + 1 < buffer.size() && i < 2048; ++i)
            buffer[i + 1] = static_cast<uint8_t>((i + 31u * index_) % 256u);
        break;
    case 110:
        encode_regions(current_, buffer);
        break;
    case 111:
        encode_regions(defaults_, buffer);
        break;
    case 11: // capabilities
        put_byte(buffer, 3, 0x0C); // coordinate modes
        put_byte(buffer, 5, 2);    // display id
        put_le16(buffer, 9, width);
        put_le16(buffer, 11, height);
        put_le16(buffer, 13, 4096); // digitizer
        put_le16(buffer, 15, 4096);
        put_le16(buffer, 17, 0); // coordinate range
        put_le16(buffer, 19, 4095);
        put_le16(buffer, 21, 0);
        put_le16(buffer, 23, 4095);
        put_byte(buffer, 41, 0x83); // magnetic reader
        put_byte(buffer, 45, 1);    // screens and resources
        break;
    case 21:
        put_byte(buffer, 1, power_state_);
        break;
    case 105: { // pixel values from the location last set with 104, along rows
        const size_t start = static_cast<size_t>(pixel_y_) * width + pixel_x_;
        const size_t available = start < frame_.size() ? frame_.size() - start : 0;
        const size_t room = buffer.size() > 7 ? (buffer.size() - 7) / 4 : 0;
        const size_t count = std::min({pixels_per_report, available, room});
        put_le16(buffer, 1, pixel_x_);
        put_le16(buffer, 3, pixel_y_);
        put_le16(buffer, 5, static_cast<uint16_t>(count));
        for (size_t i = 0; i < count; ++i) {
            const uint32_t rgb = frame_[start + i];
            const size_t at = 7 + i * 4;
            buffer[at] = 0xFF;
            buffer[at + 1] = static_cast<uint8_t>(rgb >> 16);
            buffer[at + 2] = static_cast<uint8_t>(rgb >> 8);
            buffer[at + 3] = static_cast<uint8_t>(rgb);
        }
        break;
    }
    case 170: { // screen and region info
        constexpr std::array<uint8_t, 8> info{4, 5, 30, 16, 16, 30, 30, 8};
        for (size_t i = 0; i < info.size(); ++i)
            put_byte(buffer, 1 + i, info[i]);
        break;
    }
    case 171:
        put_byte(buffer, 1, active_screen_);
        break;
    default: { // a register file: the bytes last written
        const auto found = registers_.find(id);
        if (found != registers_.end())
            std::copy_n(found->second.begin() + 1, std::min(found->second.size(), buffer.size()) - 1,
                        buffer.begin() + 1);
        break;
    }
    }
    buffer[0] = id;
    return 0;
}

void PadModel::write_region(std::span<const uint8_t> report) {
    // Report 112: 0 id, 1 number, 2 type, 3 flags, 4 reserved, 5-8 reserved,
    // 9-16 bounds, 17-20 / 21-24 colours, 25-28 type part, 29.. caption.
    if (report.size() < 29)
        return;
    const uint8_t number = report[1];
    if (number == 0 || number > current_.size())
        return;
    inkora_device_region_info r;
    std::memset(&r, 0, sizeof r);
    r.common.region_number = number;
    r.common.region_type = static_cast<inkora_region_type>(report[2]);
    r.common.accept_touch = report[3] & 1;
    r.common.decode = (report[3] >> 1) & 1;
    r.common.visible = (report[3] >> 2) & 1;
    r.common.in_use = (report[3] >> 3) & 1;
    r.common.has_frame = (report[3] >> 4) & 1;
    r.common.reserved_1 = report[4];
    r.common.x1 = le16(report, 9);
    r.common.x2 = le16(report, 11);
    r.common.y1 = le16(report, 13);
    r.common.y2 = le16(report, 15);
    r.common.color_foreground = read_color(report, 17);
    r.common.color_background = read_color(report, 21);
    switch (report[2]) {
    case INKORA_REGION_TYPE_CONTAINER:
        r.container.ink_enable = report[25] & 1;
        r.container.reserved_1 = (report[25] >> 1) & 3;
        r.container.reserved_2 = report[26];
        r.container.reserved_3 = report[27];
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        r.button.parent = report[25];
        r.button.enable = report[26] & 1;
        r.button.highlight_on_select = (report[26] >> 1) & 1;
        r.button.clear_on_select = (report[26] >> 2) & 1;
        r.button.reserved = report[27];
        const size_t kept = std::min<size_t>(caption_length, report.size() - 29);
        for (size_t i = 0; i < kept && report[29 + i] != 0; ++i)
            r.button.caption[i] = static_cast<char>(report[29 + i]);
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        r.line.parent = report[25];
        r.line.width = report[26];
        r.line.reserved = report[27];
        break;
    default:
        break;
    }
    current_[number - 1] = r;
}

void PadModel::update_region(std::span<const uint8_t> report) {
    // Report 113: 1 number, 2 bit 0 function enable, bit 1 visible, 4-7 foreground.
    if (report.size() < 8)
        return;
    const uint8_t number = report[1];
    if (number == 0 || number > current_.size())
        return;
    inkora_device_region_info& r = current_[number - 1];
    if (r.common.region_type == INKORA_REGION_TYPE_BUTTON)
        r.button.enable = report[2] & 1;
    r.common.visible = (report[2] >> 1) & 1;
    r.common.color_foreground = read_color(report, 4);
}

void PadModel::write_indexed_region(std::span<const uint8_t> report) {
    // Report 152 at the index last set with report 150: 2 type, 3 flags,
    // 13-20 bounds, 21-24 / 25-28 colours, 29-32 type part, 33.. caption.
    if (report.size() < 33)
        return;
    const uint8_t number = region_index_;
    if (number == 0 || number > current_.size())
        return;
    inkora_device_region_info r;
    std::memset(&r, 0, sizeof r);
    r.common.region_number = number;
    r.common.region_type = static_cast<inkora_region_type>(report[2]);
    r.common.accept_touch = report[3] & 1;
    r.common.decode = (report[3] >> 1) & 1;
    r.common.has_frame = (report[3] >> 2) & 1;
    r.common.visible = 1;
    r.common.in_use = 1;
    r.common.x1 = le16(report, 13);
    r.common.x2 = le16(report, 15);
    r.common.y1 = le16(report, 17);
    r.common.y2 = le16(report, 19);
    r.common.color_foreground = read_color(report, 21);
    r.common.color_background = read_color(report, 25);
    switch (report[2]) {
    case INKORA_REGION_TYPE_CONTAINER:
        r.container.ink_enable = report[29] & 1;
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        r.button.enable = report[29] & 1;
        r.button.highlight_on_select = (report[29] >> 1) & 1;
        r.button.clear_on_select = (report[29] >> 2) & 1;
        if ((report[29] & 0x10) == 0) {
            const size_t kept = std::min<size_t>(caption_length, report.size() - 33);
            for (size_t i = 0; i < kept && report[33 + i] != 0; ++i)
                r.button.caption[i] = static_cast<char>(report[33 + i]);
        }
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        r.line.width = report[30];
        break;
    default:
        break;
    }
    current_[number - 1] = r;
}

void PadModel::unpack_chunk(std::span<const uint8_t> report) {
    // Report 103: 1-2 x, 3-4 y, 5-6 width, 7-8 height (big-endian), 9 depth,
    // 10.. pixels column by column.
    if (report.size() < 10)
        return;
    const uint32_t x0 = be16(report, 1);
    const uint32_t y0 = be16(report, 3);
    const uint32_t w = be16(report, 5);
    const uint32_t h = be16(report, 7);
    const uint8_t depth = report[9];
    const std::span<const uint8_t> graphic = report.subspan(10);
    size_t n = 0; // pixel number within the chunk
    for (uint32_t cx = 0; cx < w; ++cx) {
        for (uint32_t cy = 0; cy < h; ++cy, ++n) {
            uint32_t rgb = white;
            if (depth == 1) {
                if (n / 8 >= graphic.size())
                    return;
                const bool ink = ((graphic[n / 8] >> (7 - n % 8)) & 1) != 0;
                rgb = ink ? 0x000000 : white;
            } else if (depth == 4 || depth == 8) {
                if (n / 2 >= graphic.size())
                    return;
                const uint8_t level = (n % 2 == 0) ? (graphic[n / 2] & 0x0F) : (graphic[n / 2] >> 4);
                const uint32_t grey = level * 17u;
                rgb = (grey << 16) | (grey << 8) | grey;
            } else {
                if (n * 3 + 2 >= graphic.size())
                    return;
                rgb = (static_cast<uint32_t>(graphic[n * 3]) << 16) | (graphic[n * 3 + 1] << 8) | graphic[n * 3 + 2];
            }
            const uint32_t x = x0 + cx;
            const uint32_t y = y0 + cy;
            if (x < width && y < height)
                frame_[static_cast<size_t>(y) * width + x] = rgb;
        }
    }
}

uint8_t PadModel::region_at(uint16_t x, uint16_t y) const {
    uint8_t found = 0;
    for (const auto& r : current_) {
        const auto& c = r.common;
        if (c.region_type == INKORA_REGION_TYPE_NULL || c.accept_touch == 0)
            continue;
        if (x >= c.x1 && x <= c.x2 && y >= c.y1 && y <= c.y2)
            found = std::max(found, c.region_number);
    }
    return found;
}

void PadModel::simulate_pen(std::span<const uint8_t> report, std::vector<std::vector<uint8_t>>& emitted) {
    // Report 253: 2 coordinate type, 6 bit 0 pen down, 7-8 x, 9-10 y.
    if (report.size() < 11)
        return;
    const uint8_t type = report[2];
    const uint8_t sample = (report[6] & 1) != 0 ? 0x01 : 0x00;
    const uint16_t x = le16(report, 7);
    const uint16_t y = le16(report, 9);
    std::vector<uint8_t> input{0, sample, static_cast<uint8_t>(x & 0xFF), static_cast<uint8_t>(x >> 8),
                               static_cast<uint8_t>(y & 0xFF), static_cast<uint8_t>(y >> 8)};
    if (type == 1) {
        input[0] = 1;
    } else if (type == 2) {
        input[0] = 2;
        input.push_back(region_at(x, y));
    } else {
        return;
    }
    emitted.push_back(std::move(input));
}

int PadModel::set_feature(std::span<const uint8_t> buffer) {
    if (buffer.empty())
        return EINVAL;
    const uint8_t id = buffer[0];
    std::vector<std::vector<uint8_t>> emitted;
    std::function<void()> listener;
    {
        const std::lock_guard lock(mutex_);
        if (unplugged_)
            return ENODEV;
        if (!declares(id))
            return EINVAL;
        written_.emplace_back(buffer.begin(), buffer.end());
        switch (id) {
        case 10:
            if (buffer.size() > 1)
                run_mode_ = buffer[1];
            break;
        case 2:
            if (buffer.size() > 1)
                power_state_ = buffer[1];
            break;
        case 104:
            if (buffer.size() >= 5) {
                pixel_x_ = le16(buffer, 1);
                pixel_y_ = le16(buffer, 3);
            }
            break;
        case 112:
            write_region(buffer);
            break;
        case 113:
            update_region(buffer);
            break;
        case 114:
            if (buffer.size() >= 2 && buffer[1] != 0 && buffer[1] <= current_.size()) {
                inkora_device_region_info& r = current_[buffer[1] - 1];
                std::memset(&r, 0, sizeof r);
                r.common.region_number = buffer[1];
                r.common.region_type = INKORA_REGION_TYPE_NULL;
            }
            break;
        case 150:
            if (buffer.size() > 1)
                region_index_ = buffer[1];
            break;
        case 152:
            write_indexed_region(buffer);
            break;
        case 103:
            unpack_chunk(buffer);
            break;
        case 171:
            if (buffer.size() > 1)
                active_screen_ = buffer[1];
            break;
        case 253:
            simulate_pen(buffer, emitted);
            break;
        default:
            break;
        }
        registers_[id] = std::vector<uint8_t>(buffer.begin(), buffer.end());
        for (auto& report : emitted)
            input_.push_back(std::move(report));
        if (!emitted.empty())
            input_ready_.notify_all();
        listener = listener_;
    }
    if (!emitted.empty() && listener)
        listener();
    return 0;
}

void PadModel::queue_input(std::span<const uint8_t> report) {
    std::function<void()> listener;
    {
        const std::lock_guard lock(mutex_);
        input_.emplace_back(report.begin(), report.end());
        input_ready_.notify_all();
        listener = listener_;
    }
    if (listener)
        listener();
}

bool PadModel::pop_input(std::vector<uint8_t>& report) {
    const std::lock_guard lock(mutex_);
    if (input_.empty())
        return false;
    report = std::move(input_.front());
    input_.erase(input_.begin());
    return true;
}

bool PadModel::has_input() const {
    const std::lock_guard lock(mutex_);
    return !input_.empty();
}

PadModel::Wait PadModel::wait_input(std::vector<uint8_t>& report, std::chrono::milliseconds timeout,
                                    const std::atomic<bool>* keep_waiting) {
    std::unique_lock lock(mutex_);
    const uint64_t generation = cancel_generation_;
    const bool woken = input_ready_.wait_for(lock, timeout, [&] {
        return unplugged_ || !input_.empty() || cancel_generation_ != generation ||
               (keep_waiting != nullptr && !keep_waiting->load());
    });
    if (unplugged_)
        return Wait::unplugged;
    if (!input_.empty()) {
        report = std::move(input_.front());
        input_.erase(input_.begin());
        return Wait::report;
    }
    return woken ? Wait::cancelled : Wait::timeout;
}

void PadModel::cancel() {
    const std::lock_guard lock(mutex_);
    ++cancel_generation_;
    input_ready_.notify_all();
}

void PadModel::unplug() {
    std::function<void()> listener;
    {
        const std::lock_guard lock(mutex_);
        unplugged_ = true;
        input_ready_.notify_all();
        listener = listener_;
    }
    // A reader waiting for readiness learns of the unplug through its next read.
    if (listener)
        listener();
}

bool PadModel::unplugged() const {
    const std::lock_guard lock(mutex_);
    return unplugged_;
}

uint64_t PadModel::feature_gets() const {
    const std::lock_guard lock(mutex_);
    return feature_gets_;
}

std::vector<std::vector<uint8_t>> PadModel::written() const {
    const std::lock_guard lock(mutex_);
    return written_;
}

void PadModel::set_input_listener(std::function<void()> listener) {
    const std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

uint32_t PadModel::pixel(uint32_t x, uint32_t y) const {
    const std::lock_guard lock(mutex_);
    if (x >= width || y >= height)
        return 0;
    return frame_[static_cast<size_t>(y) * width + x];
}

} // namespace inkora::sim
