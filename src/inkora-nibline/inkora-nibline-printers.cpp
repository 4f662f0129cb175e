// Printers of the configuration records. They write to the process's
// standard output and so must never run inside the agent, whose standard
// output carries the wire protocol; they live in their own object file, which
// a static link pulls in only when something calls a printer.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inkora-nibline-config.h"

namespace {

// Collects one record's lines and writes them in one go: a title, then
// "name = value" per field with the names right-aligned to a common column.
class record_printer {
public:
    explicit record_printer(std::string_view title) : title_(title) {}

    template <typename... Args>
    void field(const char* name, const char* format, Args... args) {
        char value[256];
        std::snprintf(value, sizeof value, format, args...);
        lines_.emplace_back(name, value);
    }
    void u(const char* name, uint64_t value) { field(name, "%" PRIu64, value); }
    void s(const char* name, int64_t value) { field(name, "%" PRId64, value); }
    // A byte array as "%02x " per byte, 20 to a line, below its name.
    void bytes(const char* name, const uint8_t* data, size_t length) {
        std::string text;
        char cell[4];
        for (size_t i = 0; i < length; ++i) {
            if (i % 20 == 0)
                text += "\n    ";
            std::snprintf(cell, sizeof cell, "%02x ", data[i]);
            text += cell;
        }
        lines_.emplace_back(name, std::move(text));
    }

    void print() const {
        size_t width = 0;
        for (const auto& line : lines_)
            width = std::max(width, line.first.size());
        std::string out(title_);
        out += '\n';
        for (const auto& [name, value] : lines_) {
            out += "  ";
            out.append(width - name.size(), ' ');
            out += name;
            out += " = ";
            out += value;
            out += '\n';
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    }

    static void print_null(std::string_view title) {
        std::string out(title);
        out += "\n  NULL\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    }

private:
    std::string title_;
    std::vector<std::pair<std::string, std::string>> lines_;
};

const char* output_mode_name(uint32_t mode) {
    switch (mode) {
    case REAL_TIME:
        return "REAL_TIME";
    case TRANSMIT_ON_CONFIRM:
        return "TRANSMIT_ON_CONFIRM";
    case TRANSMIT_ON_HOST_COMMAND:
        return "TRANSMIT_ON_HOST_COMMAND";
    default:
        return "UNKNOWN";
    }
}

const char* compression_name(uint32_t compression) {
    switch (compression) {
    case INKORA_OUTPUT_UNCOMPRESSED_LORES:
        return "INKORA_OUTPUT_UNCOMPRESSED_LORES";
    case INKORA_OUTPUT_COMPRESSED_LORES:
        return "INKORA_OUTPUT_COMPRESSED_LORES";
    case INKORA_OUTPUT_UNCOMPRESSED_HIRES:
        return "INKORA_OUTPUT_UNCOMPRESSED_HIRES";
    case INKORA_OUTPUT_COMPRESSED_HIRES:
        return "INKORA_OUTPUT_COMPRESSED_HIRES";
    default:
        return "UNKNOWN";
    }
}

void print_color(record_printer& p, const char* name, const inkora_color& c) {
    p.field(name, "red %u, green %u, blue %u, alpha %u", c.red, c.green, c.blue, c.alpha);
}

void print_region(const inkora_device_region_info& region) {
    record_printer p("inkora_device_region_info structure:");
    const inkora_device_region_common& c = region.common;
    p.u("region_number", c.region_number);
    p.u("region_type", c.region_type);
    p.u("accept_touch", c.accept_touch);
    p.u("decode", c.decode);
    p.u("visible", c.visible);
    p.u("in_use", c.in_use);
    p.u("has_frame", c.has_frame);
    p.u("reserved_1", c.reserved_1);
    p.u("reserved_2", c.reserved_2);
    p.u("x1", c.x1);
    p.u("x2", c.x2);
    p.u("y1", c.y1);
    p.u("y2", c.y2);
    print_color(p, "color_foreground", c.color_foreground);
    print_color(p, "color_background", c.color_background);
    switch (c.region_type) {
    case INKORA_REGION_TYPE_CONTAINER:
        p.u("ink_enable", region.container.ink_enable);
        p.u("reserved_1", region.container.reserved_1);
        p.u("reserved_2", region.container.reserved_2);
        p.u("reserved_3", region.container.reserved_3);
        break;
    case INKORA_REGION_TYPE_BUTTON: {
        p.u("parent", region.button.parent);
        p.u("enable", region.button.enable);
        p.u("highlight_on_select", region.button.highlight_on_select);
        p.u("clear_on_select", region.button.clear_on_select);
        p.u("reserved", region.button.reserved);
        const int length = static_cast<int>(strnlen(region.button.caption, sizeof region.button.caption));
        p.field("caption", "'%.*s'", length, region.button.caption);
        break;
    }
    case INKORA_REGION_TYPE_LINE:
        p.u("parent", region.line.parent);
        p.u("width", region.line.width);
        p.u("reserved", region.line.reserved);
        break;
    default:
        break;
    }
    p.print();
}

} // namespace

extern "C" {

void inkora_print_display_info(const inkora_hid_feature_display_info* r) {
    constexpr const char* title = "inkora_hid_feature_display_info structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("width", r->width);
    p.u("height", r->height);
    p.u("color_depth", r->color_depth);
    p.u("text_width", r->text_width);
    p.u("text_height", r->text_height);
    p.u("region_count", r->region_count);
    p.u("max_caption_length", r->max_caption_length);
    p.print();
}

void inkora_print_capabilities(const inkora_hid_capabilities* r) {
    constexpr const char* title = "inkora_hid_capabilities structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("supported_reports", r->supported_reports);
    p.u("coordinate_modes", r->coordinate_modes);
    p.u("reserved1", r->reserved1);
    p.u("display_id", r->display_id);
    p.u("brightness_levels", r->brightness_levels);
    p.u("contrast_levels", r->contrast_levels);
    p.u("color_depth", r->color_depth);
    p.u("display_width", r->display_width);
    p.u("display_height", r->display_height);
    p.u("digitizer_width", r->digitizer_width);
    p.u("digitizer_height", r->digitizer_height);
    p.u("coordinate_xmin", r->coordinate_xmin);
    p.u("coordinate_xmax", r->coordinate_xmax);
    p.u("coordinate_ymin", r->coordinate_ymin);
    p.u("coordinate_ymax", r->coordinate_ymax);
    p.u("calibration_xmin", r->calibration_xmin);
    p.u("calibration_xmax", r->calibration_xmax);
    p.u("calibration_ymin", r->calibration_ymin);
    p.u("calibration_ymax", r->calibration_ymax);
    p.u("reserved_4", r->reserved_4);
    p.u("reserved_5", r->reserved_5);
    p.u("mag_reader_id", r->mag_reader_id);
    p.u("reserved_6", r->reserved_6);
    p.u("reserved_7", r->reserved_7);
    p.u("supports_screens_resources", r->supports_screens_resources);
    p.u("reserved_9", r->reserved_9);
    p.u("reserved_10", r->reserved_10);
    p.u("reserved_11", r->reserved_11);
    p.u("reserved_12", r->reserved_12);
    p.u("reserved_13", r->reserved_13);
    p.u("reserved_14", r->reserved_14);
    p.print();
}

void inkora_print_display_settings(const inkora_hid_feature_display_settings* r) {
    constexpr const char* title = "inkora_hid_feature_display_settings structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("brightness", r->brightness);
    p.u("contrast", r->contrast);
    p.u("red", r->red);
    p.u("green", r->green);
    p.u("blue", r->blue);
    p.u("set_command", r->set_command);
    p.print();
}

void inkora_print_device_configure(const inkora_hid_feature_device_configure* r) {
    constexpr const char* title = "inkora_hid_feature_device_configure structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("device_mode", r->device_mode);
    p.u("device_id", r->device_id);
    p.print();
}

void inkora_print_contact_count_maximum(const inkora_hid_feature_contact_count_maximum* r) {
    constexpr const char* title = "inkora_hid_feature_contact_count_maximum structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("contact_count_max", r->contact_count_max);
    p.print();
}

void inkora_print_frequency_amplitude(const inkora_hid_feature_frequency_amplitude* r) {
    constexpr const char* title = "inkora_print_frequency_amplitude structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("frequency", r->frequency);
    p.u("pen_amplitude", r->pen_amplitude);
    p.u("touch_amplitude", r->touch_amplitude);
    p.print();
}

void inkora_print_power_state(const inkora_hid_feature_power_state* r) {
    constexpr const char* title = "inkora_hid_feature_power_state structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("power_state", r->power_state);
    p.print();
}

void inkora_print_version(const inkora_hid_feature_version* r) {
    constexpr const char* title = "inkora_hid_feature_version structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.field("kernel_version", "%hhu.%hhu.%hhu", r->kernel_version[0], r->kernel_version[1], r->kernel_version[2]);
    p.field("firmware_version", "%hhu.%hhu.%hhu", r->firmware_version[0], r->firmware_version[1],
            r->firmware_version[2]);
    p.u("asic_signature", r->asic_signature);
    p.print();
}

void inkora_print_coordinate_range(const inkora_hid_feature_coordinate_range* r) {
    constexpr const char* title = "inkora_hid_feature_coordinate_range structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("x_min", r->x_min);
    p.u("x_max", r->x_max);
    p.u("y_min", r->y_min);
    p.u("y_max", r->y_max);
    p.print();
}

void inkora_print_error_correction_table(const inkora_hid_feature_error_correction_table* r) {
    constexpr const char* title = "inkora_hid_feature_error_correction_table structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.bytes("data", r->data, sizeof r->data);
    p.print();
}

void inkora_print_serial_number(const inkora_hid_feature_serial_number* r) {
    constexpr const char* title = "inkora_hid_feature_serial_number structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    const int length = static_cast<int>(strnlen(r->serial_number, sizeof r->serial_number));
    p.field("serial_number", "'%.*s'", length, r->serial_number);
    p.u("write_key_1", r->write_key_1);
    p.u("write_key_2", r->write_key_2);
    p.print();
}

void inkora_print_operating_modes(const inkora_hid_feature_operating_modes* r) {
    constexpr const char* title = "inkora_hid_feature_operating_modes structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("supported_modes", r->supported_modes);
    p.u("reserved", r->reserved);
    p.u("acquisition_mode", r->acquisition_mode);
    p.u("touch_mode", r->touch_mode);
    p.u("pen_mode", r->pen_mode);
    p.print();
}

void inkora_print_general_parameters(const inkora_hid_feature_general_parameters* r) {
    constexpr const char* title = "inkora_hid_feature_general_parameters structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("xy_output_enable", r->xy_output_enable);
    p.u("adc_output_enable", r->adc_output_enable);
    p.u("map_coordinates", r->map_coordinates);
    p.u("channel_lock_enable", r->channel_lock_enable);
    p.u("channel_lock_number", r->channel_lock_number);
    p.u("reserved", r->reserved);
    p.u("corner_lower_left", r->corner_lower_left);
    p.u("corner_upper_left", r->corner_upper_left);
    p.u("corner_lower_right", r->corner_lower_right);
    p.u("corner_upper_right", r->corner_upper_right);
    p.u("samples", r->samples);
    p.u("filter_frequency", r->filter_frequency);
    p.print();
}

void inkora_print_asic_register(const inkora_hid_feature_register_get* r) {
    constexpr const char* title = "inkora_hid_feature_register_get structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.bytes("register_info", r->register_info, sizeof r->register_info);
    p.print();
}

void inkora_print_pen_parameters(const inkora_hid_feature_pen_parameters* r) {
    constexpr const char* title = "inkora_hid_feature_pen_parameters structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("proximity", r->proximity);
    p.u("auto_pen_threshold", r->auto_pen_threshold);
    p.u("auto_touch_threshold", r->auto_touch_threshold);
    p.u("adc_average", r->adc_average);
    p.u("coordinate_average", r->coordinate_average);
    p.u("offset_interval", r->offset_interval);
    p.u("debounce_pre_down", r->debounce_pre_down);
    p.u("debounce_post_down", r->debounce_post_down);
    p.u("debounce_pre_up", r->debounce_pre_up);
    p.u("debounce_post_up", r->debounce_post_up);
    p.u("error_correction_enable", r->error_correction_enable);
    p.u("reserved_1", r->reserved_1);
    p.u("offset_correction_enable", r->offset_correction_enable);
    p.u("reserved_2", r->reserved_2);
    p.u("tip_inverted", r->tip_inverted);
    p.u("reserved_3", r->reserved_3);
    p.u("interrupt_rate", r->interrupt_rate);
    p.print();
}

void inkora_print_touch_parameters(const inkora_hid_feature_touch_parameters* r) {
    constexpr const char* title = "inkora_hid_feature_touch_parameters structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("adc_average", r->adc_average);
    p.u("coordinate_average", r->coordinate_average);
    p.s("slope_down", r->slope_down);
    p.s("slope_liftoff", r->slope_liftoff);
    p.u("slope_minimum", r->slope_minimum);
    p.u("pressure_single", r->pressure_single);
    p.u("pressure_multiple", r->pressure_multiple);
    p.u("gain", r->gain);
    p.u("error_correction_enable", r->error_correction_enable);
    p.u("reserved", r->reserved);
    p.u("scale_x", r->scale_x);
    p.s("offset_x", r->offset_x);
    p.u("scale_y", r->scale_y);
    p.s("offset_y", r->offset_y);
    p.print();
}

void inkora_print_regions(const inkora_device_region_info* regions, uint32_t count) {
    if (regions == nullptr)
        return record_printer::print_null("inkora_device_region_info structure:");
    for (uint32_t i = 0; i < count; ++i)
        print_region(regions[i]);
}

void inkora_print_device_regions(const inkora_device* device) {
    if (device == nullptr || device->regions == nullptr)
        return record_printer::print_null("inkora_device_region_info structure:");
    inkora_print_regions(device->regions, device->display_info.region_count);
}

void inkora_print_calibrate_state(const inkora_hid_feature_calibrate* r) {
    constexpr const char* title = "inkora_hid_feature_calibrate structure:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("calibration_mode", r->calibration_mode);
    p.u("point", r->point);
    p.print();
}

void inkora_print_device_uuid(const uint8_t* u) {
    constexpr std::string_view title = "Device UUID:";
    if (u == nullptr)
        return record_printer::print_null(title);
    char text[64];
    std::snprintf(text, sizeof text,
                  "%.*s\n  %02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x\n",
                  static_cast<int>(title.size()), title.data(), u[0], u[1], u[2], u[3], u[4], u[5], u[6], u[7], u[8],
                  u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void inkora_print_output_configuration(const inkora_hid_feature_output_parameters* r) {
    constexpr const char* title = "inkora_hid_feature_output_parameters:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.field("output_report", "0x%08" PRIx64, r->output_report);
    p.field("output_mode", "%u (%s)", static_cast<unsigned>(r->output_mode), output_mode_name(r->output_mode));
    p.field("compression", "%u (%s)", static_cast<unsigned>(r->compression), compression_name(r->compression));
    p.u("packets_per_second", r->packets_per_second);
    p.u("save_as_default", r->save_as_default);
    p.u("load_factory_settings", r->load_factory_settings);
    p.print();
}

void inkora_print_peripheral_configuration(const inkora_hid_feature_peripheral_configuration* r) {
    constexpr const char* title = "inkora_hid_feature_peripheral_configuration:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    const auto output = static_cast<uint32_t>(r->mag_card_output);
    p.u("report_id", r->report_id);
    p.u("oem_output", output & 0x01);
    p.u("keyboard_output", (output >> 2) & 0x01);
    p.u("keyboard_preamble", (output >> 3) & 0x01);
    const uint8_t reserved[] = {r->reserved1,  r->reserved2,  r->reserved3,  r->reserved4,  r->reserved5,
                                r->reserved6,  r->reserved7,  r->reserved8,  r->reserved9,  r->reserved10,
                                r->reserved11, r->reserved12, r->reserved13, r->reserved14};
    static constexpr const char* names[] = {"reserved1",  "reserved2",  "reserved3",  "reserved4",  "reserved5",
                                            "reserved6",  "reserved7",  "reserved8",  "reserved9",  "reserved10",
                                            "reserved11", "reserved12", "reserved13", "reserved14"};
    for (size_t i = 0; i < std::size(reserved); ++i)
        p.u(names[i], reserved[i]);
    p.u("save_as_default", r->save_as_default);
    p.u("load_factory_settings", r->load_factory_settings);
    p.print();
}

void inkora_print_calibration_data(const inkora_hid_feature_calibration_data* r) {
    constexpr const char* title = "inkora_hid_feature_calibration_data:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("calibration_type", r->calibration_type);
    p.u("is_calibrated", r->is_calibrated);
    p.u("rotation_scale", r->rotation_scale);
    p.u("local_multiplier_scale", r->local_multiplier_scale);
    p.u("host_multiplier_scale", r->host_multiplier_scale);
    p.s("rotation_sin_scaled", r->rotation_sin_scaled);
    p.s("rotation_cos_scaled", r->rotation_cos_scaled);
    p.u("local_width_calibrated", r->local_width_calibrated);
    p.u("local_height_calibrated", r->local_height_calibrated);
    p.s("local_x_multiplier_scaled", r->local_x_multiplier_scaled);
    p.s("local_x_offset", r->local_x_offset);
    p.s("local_y_multiplier_scaled", r->local_y_multiplier_scaled);
    p.s("local_y_offset", r->local_y_offset);
    p.s("host_x_multiplier_scaled", r->host_x_multiplier_scaled);
    p.s("host_x_offset", r->host_x_offset);
    p.s("host_y_multiplier_scaled", r->host_y_multiplier_scaled);
    p.s("host_y_offset", r->host_y_offset);
    p.print();
}

void inkora_print_device_status(const inkora_hid_feature_device_status* r) {
    constexpr const char* title = "inkora_hid_feature_device_status:";
    if (r == nullptr)
        return record_printer::print_null(title);
    record_printer p(title);
    p.u("report_id", r->report_id);
    p.u("is_initializing", r->is_initializing);
    p.u("is_idle", r->is_idle);
    p.u("calibration_required", r->calibration_required);
    p.u("is_calibrating", r->is_calibrating);
    p.u("all_output_commands_locked", r->all_output_commands_locked);
    p.u("operating_mode_commands_locked", r->operating_mode_commands_locked);
    p.u("region_commands_locked", r->region_commands_locked);
    p.u("screen_commands_locked", r->screen_commands_locked);
    p.u("display_commands_locked", r->display_commands_locked);
    p.u("calibration_commands_locked", r->calibration_commands_locked);
    p.u("reserved1", r->reserved1);
    p.u("reserved2", r->reserved2);
    p.u("last_error", r->last_error);
    // The pad's text is not necessarily terminated: at most its 64 bytes.
    const int length = static_cast<int>(strnlen(r->error_info, sizeof r->error_info));
    p.field("error_info", "'%.*s'", length, r->error_info);
    p.print();
}

} // extern "C"
