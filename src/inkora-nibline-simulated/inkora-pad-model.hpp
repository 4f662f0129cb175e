// A model of a signature pad's firmware as seen through its hidraw node: it
// answers feature-report gets and sets, emits input reports into its own
// queue, and keeps the state that later reports reveal. The simulated driver
// puts it behind a driver table; tests put it behind an emulated hidraw node.
#ifndef INKORA_PAD_MODEL_HPP
#define INKORA_PAD_MODEL_HPP

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "inkora-nibline.h"

namespace inkora::sim {

class PadModel {
public:
    static constexpr uint16_t vendor_id = 0x18FB;
    static constexpr uint16_t product_id = 0x0100;
    static constexpr const char* model_name = "Simulated Pad";
    static constexpr const char* manufacturer_name = "Inkora";
    static constexpr uint16_t width = 320;
    static constexpr uint16_t height = 192;
    static constexpr uint8_t region_count = 5;
    static constexpr uint8_t caption_length = 16;

    // Pad k (1-based) of a set; k makes its error-correction table, and so
    // its unique identifier, its own.
    explicit PadModel(uint32_t index);

    uint32_t index() const { return index_; }
    // The report descriptor: Report ID items for every input and feature id of the pad.
    static std::vector<uint8_t> report_descriptor();
    static bool declares(uint8_t report_id);

    // The node was opened: the pad reports that it is starting up for the next two status reads.
    void opened();

    // Feature requests; buffer[0] is the report id. 0 on success, else an
    // errno value (ENODEV once unplugged, EINVAL for an undeclared id).
    int get_feature(std::span<uint8_t> buffer);
    int set_feature(std::span<const uint8_t> buffer);

    // Input queue, oldest first.
    void queue_input(std::span<const uint8_t> report);
    // Takes the oldest report; false when none waits.
    bool pop_input(std::vector<uint8_t>& report);
    bool has_input() const;
    enum class Wait { report, timeout, unplugged, cancelled };
    // Waits up to timeout for a report (or until cancel() / unplug(), or
    // until *keep_waiting is false; whoever clears it then calls cancel()).
    Wait wait_input(std::vector<uint8_t>& report, std::chrono::milliseconds timeout,
                    const std::atomic<bool>* keep_waiting = nullptr);
    // Wakes every waiter of wait_input with Wait::cancelled.
    void cancel();

    // From now on reads and feature requests fail as an unplugged pad's (ENODEV).
    void unplug();
    bool unplugged() const;

    // Number of feature gets answered (refused ones included).
    uint64_t feature_gets() const;

    // Every feature report written (sets), in order.
    std::vector<std::vector<uint8_t>> written() const;

    // Called, without the model's lock, whenever a report is queued.
    void set_input_listener(std::function<void()> listener);

    // The pixel at (x, y) of the frame buffer as 0xRRGGBB.
    uint32_t pixel(uint32_t x, uint32_t y) const;

private:
    void encode_regions(const std::vector<inkora_device_region_info>& table, std::span<uint8_t> out) const;
    void write_region(std::span<const uint8_t> report);
    void update_region(std::span<const uint8_t> report);
    void write_indexed_region(std::span<const uint8_t> report);
    void unpack_chunk(std::span<const uint8_t> report);
    void simulate_pen(std::span<const uint8_t> report, std::vector<std::vector<uint8_t>>& emitted);
    uint8_t region_at(uint16_t x, uint16_t y) const;

    const uint32_t index_;
    mutable std::mutex mutex_;
    std::condition_variable input_ready_;
    std::vector<std::vector<uint8_t>> input_;        // guarded by mutex_
    std::vector<std::vector<uint8_t>> written_;      // guarded by mutex_
    std::map<uint8_t, std::vector<uint8_t>> registers_; // last write per id
    std::vector<inkora_device_region_info> defaults_;
    std::vector<inkora_device_region_info> current_;
    std::vector<uint32_t> frame_;                   // width * height, 0xRRGGBB
    uint32_t status_reads_after_open_ = 2;          // remaining "starting up" status reads
    uint8_t run_mode_ = 2;                          // pen
    uint8_t power_state_ = 0;
    uint8_t active_screen_ = 1;
    uint8_t region_index_ = 1;
    uint16_t pixel_x_ = 0;
    uint16_t pixel_y_ = 0;
    bool unplugged_ = false;
    uint64_t cancel_generation_ = 0;
    uint64_t feature_gets_ = 0;
    std::function<void()> listener_;
};

} // namespace inkora::sim

#endif
