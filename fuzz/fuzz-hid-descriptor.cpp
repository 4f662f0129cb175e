// Fuzzes the report-descriptor walk that builds a pad's report map.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "inkora-nibline-linux.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    std::vector<uint8_t> descriptor(data, data + size);
    uint8_t map[INKORA_HID_REPORT_MAP_SIZE + 1] = {};
    map[INKORA_HID_REPORT_MAP_SIZE] = 0xA5; // guard byte past the 255 flags
    parse_hid_descriptor(descriptor.data(), static_cast<uint32_t>(descriptor.size()), map);
    if (map[INKORA_HID_REPORT_MAP_SIZE] != 0xA5)
        std::abort();
    for (size_t i = 0; i < INKORA_HID_REPORT_MAP_SIZE; ++i)
        if (map[i] > 1)
            std::abort();
    return 0;
}
