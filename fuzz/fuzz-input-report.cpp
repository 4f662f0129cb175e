// Fuzzes the input-report parser on a device with a region table, so that the
// button logic runs too; the device's button state carries across reports of
// one input, which is cut into reports at 0xFF bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "inkora-nibline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    inkora_device device;
    std::memset(&device, 0, sizeof device);
    inkora_device_region_info regions[4];
    std::memset(regions, 0, sizeof regions);
    for (uint8_t i = 0; i < 4; ++i) {
        regions[i].common.region_number = static_cast<uint8_t>(i + 1);
        regions[i].common.region_type = (i % 2) != 0 ? INKORA_REGION_TYPE_BUTTON : INKORA_REGION_TYPE_CONTAINER;
    }
    device.regions = regions;
    device.display_info.region_count = 4;
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            inkora_input_report* report =
                inkora_parse_input_report(&device, data + start, static_cast<uint32_t>(i - start));
            if (report != nullptr && report->type.report_id >= INKORA_INPUT_REPORT_BUTTON_DOWN &&
                report->type.report_id <= INKORA_INPUT_REPORT_BUTTON_PRESS && report->button_down.region != nullptr &&
                (report->button_down.region < regions || report->button_down.region >= regions + 4))
                std::abort(); // a button report must point into the table
            inkora_free_input_report(report);
            (void)inkora_get_input_report_expected_length(i > start ? data + start : nullptr);
            start = i + 1;
        }
    }
    return 0;
}
