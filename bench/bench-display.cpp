// Figures for drawing on the pad's display through the simulated driver and
// the pad model: a full 320 x 192 screen of text rendered and sent (lines of
// inkora_default text as wide as the display, each drawn on the pad as its own
// bitmap, every other one inverted), the same screen rendered into one bitmap
// and sent in one transfer at depth 1, and the transfer of a full-screen
// bitmap at depths 1, 8 and 24.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "inkora-graphics-enhanced-fonts.h"
#include "inkora-graphics.h"
#include "inkora-nibline-display.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"

namespace {

constexpr int32_t screen_width = 320;
constexpr int32_t screen_height = 192;
constexpr const char* line_start = "Please sign here \xC3\xA9\xE2\x82\xAC ";
constexpr int32_t line_spacing = 2;

// A line of text as wide as the display allows in inkora_default.
std::string full_line(inkora_device* device) {
    std::string line = line_start;
    for (char c = 'a';; c = c == 'z' ? 'a' : static_cast<char>(c + 1)) {
        const std::string longer = line + c;
        if (inkora_measure_text_width(device, longer.c_str()) > static_cast<uint32_t>(screen_width))
            return line;
        line = longer;
    }
}

// One simulated pad, opened for the benchmark's whole run.
class SimulatedPad {
public:
    SimulatedPad() {
        inkora_simulated_driver.driver_init();
        inkora_simulated_set_pad_count(1);
        inkora_simulated_driver.list_devices(&inkora_simulated_driver, &device_);
        inkora_simulated_driver.open_device(device_);
        device_->display_info = inkora_get_display_info(device_);
        device_->font = const_cast<inkora_enhanced_font*>(&inkora_default);
    }
    ~SimulatedPad() {
        inkora_simulated_driver.close_device(device_);
        inkora_free_device_list(device_);
        inkora_simulated_driver.driver_destroy(&inkora_simulated_driver);
    }
    SimulatedPad(const SimulatedPad&) = delete;
    SimulatedPad& operator=(const SimulatedPad&) = delete;
    inkora_device* device() const { return device_; }

private:
    inkora_device* device_ = nullptr;
};

void BM_TextScreenLineByLine(benchmark::State& state) {
    SimulatedPad pad;
    const std::string text = full_line(pad.device());
    const uint32_t line_height = inkora_measure_text_height(pad.device(), text.c_str()) + line_spacing;
    const uint32_t lines = screen_height / line_height;
    for (auto _ : state) {
        for (uint32_t line = 0; line < lines; ++line) {
            if (inkora_device_draw_text(pad.device(), text.c_str(), 0, line * line_height, INKORA_ALIGN_LEFT,
                                        static_cast<uint8_t>(line % 2)) != INKORA_CODE_SUCCESS) {
                state.SkipWithError(inkora_get_last_error());
                return;
            }
        }
    }
    state.counters["lines"] = lines;
    state.counters["line_width"] = inkora_measure_text_width(pad.device(), text.c_str());
}
BENCHMARK(BM_TextScreenLineByLine)->Unit(benchmark::kMillisecond);

void BM_TextScreenAsOneBitmap(benchmark::State& state) {
    SimulatedPad pad;
    std::vector<uint8_t> buffer(static_cast<size_t>(((screen_width * 24 + 31) / 32) * 4) * screen_height +
                                INKORA_BITMAP_HEADER_SIZE);
    const std::string line = full_line(pad.device());
    uint32_t count = 0;
    UChar32* text = parse_string_encoding(line.c_str(), static_cast<uint32_t>(line.size()), "utf-8", &count);
    const auto line_height = static_cast<int32_t>(enhanced_get_string_height(&inkora_default, text)) + line_spacing;
    for (auto _ : state) {
        inkora_bitmap bitmap;
        inkora_bitmap_init(&bitmap, buffer.data(), screen_width, screen_height);
        for (int32_t y = 0; y + line_height <= screen_height; y += line_height)
            enhanced_draw_string(&bitmap, &inkora_default, text, 0, y, 0x000000FFu);
        if (inkora_transfer_bitmap_to_device(pad.device(), &bitmap, 0, 0, 1) != INKORA_CODE_SUCCESS) {
            state.SkipWithError(inkora_get_last_error());
            break;
        }
    }
    std::free(text);
}
BENCHMARK(BM_TextScreenAsOneBitmap)->Unit(benchmark::kMillisecond);

void BM_FullScreenTransfer(benchmark::State& state) {
    SimulatedPad pad;
    std::vector<uint8_t> buffer(static_cast<size_t>(((screen_width * 24 + 31) / 32) * 4) * screen_height +
                                INKORA_BITMAP_HEADER_SIZE);
    inkora_bitmap bitmap;
    inkora_bitmap_init(&bitmap, buffer.data(), screen_width, screen_height);
    inkora_fill_circle(&bitmap, 160, 96, 80, 0x204080FFu);
    const auto depth = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        if (inkora_transfer_bitmap_to_device(pad.device(), &bitmap, 0, 0, depth) != INKORA_CODE_SUCCESS) {
            state.SkipWithError(inkora_get_last_error());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * screen_width * screen_height);
}
BENCHMARK(BM_FullScreenTransfer)->Arg(1)->Arg(8)->Arg(24)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
