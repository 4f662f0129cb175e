// Fuzzes the client's decoders of what the agent relays from a pad: the
// first byte picks a region count and a caption length for the region
// report, and the whole input goes through every report decoder, the input
// describer, the pen-script and hex parsers.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "inkora-remote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace inkora::tool;
    const std::span<const uint8_t> bytes(data, size);
    const unsigned count = size > 0 ? data[0] % 8 : 0;
    const unsigned caption = size > 1 ? data[1] % 40 : 0;
    const std::vector<Region> regions = parse_regions(bytes, count, caption);
    if (regions.size() > count)
        std::abort();
    for (const Region& region : regions) {
        if (region.caption.size() > caption)
            std::abort();
        (void)describe_region(region);
    }
    (void)describe_input(bytes, regions);
    (void)pen_sample(bytes);
    (void)parse_display_info(bytes);
    (void)parse_version(bytes);
    (void)describe_status(bytes);
    (void)describe_capabilities(bytes);
    (void)parse_coordinate_range(bytes);
    (void)uuid_from_table(bytes);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)parse_pen_script(text, nullptr);
    (void)parse_hex(text);
    return 0;
}
