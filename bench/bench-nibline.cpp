// Figures for the device library's hot paths: parsing an input report (with
// and without the button logic), and a feature-report round trip through the
// simulated driver and the pad model.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "inkora-nibline-private.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"

namespace {

void BM_ParseCoordinate(benchmark::State& state) {
    const std::array<uint8_t, 6> report{1, 0x01, 0x10, 0x00, 0x20, 0x00};
    for (auto _ : state) {
        inkora_input_report* parsed = inkora_parse_input_report(nullptr, report.data(), report.size());
        benchmark::DoNotOptimize(parsed);
        inkora_free_input_report(parsed);
    }
}
BENCHMARK(BM_ParseCoordinate);

void BM_ParseButtonSequence(benchmark::State& state) {
    inkora_device device;
    std::memset(&device, 0, sizeof device);
    std::array<inkora_device_region_info, 5> regions{};
    std::memset(regions.data(), 0, sizeof regions);
    regions[2].common.region_type = INKORA_REGION_TYPE_BUTTON;
    device.regions = regions.data();
    device.display_info.region_count = 5;
    // Down, move, press in button 3, then a plain extended coordinate.
    const std::array<std::array<uint8_t, 7>, 4> reports{{{2, 1, 1, 0, 1, 0, 3},
                                                         {2, 1, 2, 0, 2, 0, 3},
                                                         {2, 0, 3, 0, 3, 0, 3},
                                                         {2, 1, 4, 0, 4, 0, 0}}};
    for (auto _ : state) {
        for (const auto& report : reports) {
            inkora_input_report* parsed = inkora_parse_input_report(&device, report.data(), report.size());
            benchmark::DoNotOptimize(parsed);
            inkora_free_input_report(parsed);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(reports.size()));
    inkora_forget_device_lock(&device);
}
BENCHMARK(BM_ParseButtonSequence);

void BM_SimulatedVersionRead(benchmark::State& state) {
    inkora_simulated_driver.driver_init();
    inkora_device* chain = nullptr;
    inkora_simulated_driver.list_devices(&inkora_simulated_driver, &chain);
    inkora_simulated_driver.open_device(chain);
    for (auto _ : state) {
        const inkora_hid_feature_version version = inkora_get_version(chain);
        benchmark::DoNotOptimize(version);
    }
    inkora_simulated_driver.close_device(chain);
    inkora_free_device_list(chain);
    inkora_simulated_driver.driver_destroy(&inkora_simulated_driver);
}
BENCHMARK(BM_SimulatedVersionRead);

} // namespace

BENCHMARK_MAIN();
