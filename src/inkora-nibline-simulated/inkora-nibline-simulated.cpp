// The simulated driver "SIMULATED": pad models behind a driver table, with
// the Linux driver's behaviour for reads, feature requests and refusals.
#include "inkora-nibline-simulated.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "inkora-debug.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"
#include "inkora-pad-model.hpp"

namespace {

using inkora::sim::PadModel;

constexpr auto read_wait = std::chrono::milliseconds(1000);

// What a simulated record's driver_defined points to.
struct SimulatedNode {
    std::shared_ptr<PadModel> pad;
    std::atomic<bool> node_open{false};
};

std::atomic<uint32_t> pad_count{1};
std::mutex pads_mutex; // guards pads
std::array<std::shared_ptr<PadModel>, INKORA_SIMULATED_MAX_PADS> pads;

std::shared_ptr<PadModel> pad_number(uint32_t k) {
    const std::lock_guard lock(pads_mutex);
    auto& slot = pads[k - 1];
    if (!slot)
        slot = std::make_shared<PadModel>(k);
    return slot;
}

SimulatedNode* node_of(inkora_device* device) {
    if (device == nullptr || device->driver != &inkora_simulated_driver)
        return nullptr;
    return static_cast<SimulatedNode*>(device->driver_defined);
}

void report_errno(const char* function, const char* format, uint8_t id, int error) {
    char text[128];
    inkora_report_error_logged(function, __FILE__, __LINE__, format, id, error, strerror_r(error, text, sizeof text));
}

bool refused(inkora_device* device, const uint8_t* bytes, uint32_t length) {
    if (bytes != nullptr && length != 0 && bytes[0] < INKORA_HID_REPORT_MAP_SIZE &&
        device->parameters.hid_report_map[bytes[0]] != 0)
        return false;
    INKORA_NIBLINE_ERROR("Report id %u isn't supported by this device.\n",
                         bytes != nullptr && length != 0 ? bytes[0] : 0u);
    return true;
}

inkora_error_code simulated_init(void) {
    INKORA_FUNCTION_SCOPE();
    const std::lock_guard lock(pads_mutex);
    for (auto& pad : pads)
        pad.reset(); // fresh pads, as after power-on
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_destroy(inkora_device_driver* driver) {
    INKORA_FUNCTION_SCOPE();
    (void)driver;
    const std::lock_guard lock(pads_mutex);
    for (auto& pad : pads)
        pad.reset(); // records still listed keep their pad until freed
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_free_device(inkora_device* device) {
    if (device == nullptr)
        return INKORA_CODE_SUCCESS;
    delete static_cast<SimulatedNode*>(device->driver_defined);
    device->driver_defined = nullptr;
    return inkora_real_free_device(device);
}

inkora_error_code simulated_list_devices(inkora_device_driver* driver, inkora_device** head) {
    INKORA_FUNCTION_SCOPE();
    inkora_device* first = nullptr;
    inkora_device* last = nullptr;
    const uint32_t count = pad_count.load();
    for (uint32_t k = 1; k <= count; ++k) {
        auto* device = static_cast<inkora_device*>(std::calloc(1, sizeof(inkora_device)));
        auto* node = new (std::nothrow) SimulatedNode;
        char path[64];
        std::snprintf(path, sizeof path, "/dev/inkora-sim/pad%u", static_cast<unsigned>(k));
        if (device != nullptr) {
            device->driver = driver;
            device->driver_defined = node;
            device->parameters.handle = -1;
            device->vendor_id = PadModel::vendor_id;
            device->product_id = PadModel::product_id;
            device->path = inkora_duplicate_text(path);
            device->model = inkora_duplicate_text(PadModel::model_name);
            device->manufacturer = inkora_duplicate_text(PadModel::manufacturer_name);
        }
        if (device == nullptr || node == nullptr || device->path == nullptr || device->model == nullptr ||
            device->manufacturer == nullptr) {
            if (device != nullptr)
                simulated_free_device(device);
            else
                delete node;
            while (first != nullptr) {
                inkora_device* next = first->next;
                simulated_free_device(first);
                first = next;
            }
            INKORA_NIBLINE_ERROR("Out of memory listing the simulated pads.\n");
            return INKORA_CODE_ERROR;
        }
        node->pad = pad_number(k);
        if (last == nullptr)
            first = device;
        else
            last->next = device;
        last = device;
    }
    *head = first;
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_open_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    SimulatedNode* node = node_of(device);
    if (node == nullptr || node->pad->unplugged()) {
        char text[128];
        INKORA_NIBLINE_ERROR("Problem opening device (%i): %s\n", ENODEV, strerror_r(ENODEV, text, sizeof text));
        return INKORA_CODE_ERROR;
    }
    // The report map, as the Linux driver builds it from the pad's descriptor.
    for (uint32_t id = 0; id < INKORA_HID_REPORT_MAP_SIZE; ++id)
        device->parameters.hid_report_map[id] = PadModel::declares(static_cast<uint8_t>(id)) ? 1 : 0;
    node->pad->opened();
    node->node_open.store(true);
    device->parameters.readUntilDoneThread = 0;
    device->parameters.interrupted = 0;
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_close_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    SimulatedNode* node = node_of(device);
    if (node == nullptr || !node->node_open.exchange(false)) {
        char text[128];
        INKORA_NIBLINE_ERROR("Problem closing device (%i): %s\n", EBADF, strerror_r(EBADF, text, sizeof text));
        return INKORA_CODE_ERROR;
    }
    node->pad->cancel(); // a reader waiting for input returns now
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_device_read(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    SimulatedNode* node = node_of(device);
    if (inkora_device_is_open(device) == 0 || node == nullptr || !node->node_open.load()) {
        INKORA_NIBLINE_ERROR("Device is not open.\n");
        return INKORA_CODE_ERROR;
    }
    std::vector<uint8_t> report;
    // A close on another thread clears node_open and then wakes the wait.
    switch (node->pad->wait_input(report, read_wait, &node->node_open)) {
    case PadModel::Wait::unplugged: {
        char text[128];
        INKORA_NIBLINE_ERROR("Problem reading from the device (%i): %s\n", ENODEV,
                             strerror_r(ENODEV, text, sizeof text));
        const std::string saved(inkora_get_last_error());
        inkora_close_device(device);
        inkora_report_error_internal("%s", saved.c_str());
        return INKORA_CODE_ERROR;
    }
    case PadModel::Wait::report: {
        // At most 512 bytes per read, as from a hidraw node.
        inkora_parse_and_deliver(device, report.data(), static_cast<uint32_t>(std::min<size_t>(report.size(), 512)));
        break;
    }
    case PadModel::Wait::timeout:
    case PadModel::Wait::cancelled:
        break;
    }
    if (__atomic_load_n(&device->parameters.interrupted, __ATOMIC_ACQUIRE) == 1)
        inkora_close_device(device);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code feature(inkora_device* device, uint8_t* bytes, uint32_t length, bool set) {
    const char* format = set ? "Problem sending HID report %hhu (%i): %s\n" : "Problem getting HID report %hhu (%i): %s\n";
    if (refused(device, bytes, length))
        return INKORA_CODE_ERROR;
    SimulatedNode* node = node_of(device);
    if (node == nullptr || !node->node_open.load()) {
        report_errno(set ? "inkora_simulated_set_feature_report" : "inkora_simulated_get_feature_report", format,
                     bytes[0], EBADF);
        return INKORA_CODE_ERROR;
    }
    const int error = set ? node->pad->set_feature(std::span<const uint8_t>(bytes, length))
                          : node->pad->get_feature(std::span<uint8_t>(bytes, length));
    if (error != 0) {
        report_errno(set ? "inkora_simulated_set_feature_report" : "inkora_simulated_get_feature_report", format,
                     bytes[0], error);
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code simulated_set_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    return feature(device, bytes, length, true);
}

inkora_error_code simulated_get_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    return feature(device, bytes, length, false);
}

inkora_error_code simulated_set_output_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    (void)device;
    (void)bytes;
    (void)length;
    return INKORA_CODE_SUCCESS;
}

const char* simulated_name(void) { return "SIMULATED"; }
uint8_t simulated_thread_running(void) { return 0; }
void simulated_thread_wait(void) {}
void simulated_shutdown(void) {}

} // namespace

extern "C" {

inkora_device_driver inkora_simulated_driver = {
    .driver_init = simulated_init,
    .driver_destroy = simulated_destroy,
    .open_device = simulated_open_device,
    .close_device = simulated_close_device,
    .list_devices = simulated_list_devices,
    .device_read = simulated_device_read,
    .set_output_report = simulated_set_output_report,
    .set_feature_report = simulated_set_feature_report,
    .get_feature_report = simulated_get_feature_report,
    .get_name = simulated_name,
    .thread_running = simulated_thread_running,
    .wait_thread = simulated_thread_wait,
    .initialized = 0,
    .shutdown = simulated_shutdown,
    .get_hotplug_callbacks = nullptr,
    .free_device = simulated_free_device,
    .report_error = nullptr,
    .debug = nullptr,
    .input_report = nullptr,
};

void inkora_simulated_set_pad_count(uint32_t count) {
    if (count >= 1 && count <= INKORA_SIMULATED_MAX_PADS)
        pad_count.store(count);
}

uint32_t inkora_simulated_get_pad_count(void) { return pad_count.load(); }

inkora_error_code inkora_simulated_queue_input_report(inkora_device* device, const uint8_t* bytes, uint32_t length) {
    SimulatedNode* node = node_of(device);
    if (node == nullptr || bytes == nullptr || length == 0)
        return INKORA_CODE_ERROR;
    node->pad->queue_input(std::span<const uint8_t>(bytes, length));
    return INKORA_CODE_SUCCESS;
}

void inkora_simulated_unplug(inkora_device* device) {
    if (SimulatedNode* node = node_of(device))
        node->pad->unplug();
}

uint32_t inkora_simulated_written_report_count(inkora_device* device) {
    SimulatedNode* node = node_of(device);
    return node != nullptr ? static_cast<uint32_t>(node->pad->written().size()) : 0;
}

uint32_t inkora_simulated_get_written_report(inkora_device* device, uint32_t index, uint8_t* out, uint32_t capacity) {
    SimulatedNode* node = node_of(device);
    if (node == nullptr)
        return 0;
    const auto written = node->pad->written();
    if (index >= written.size())
        return 0;
    const auto& report = written[index];
    if (out != nullptr)
        std::memcpy(out, report.data(), std::min<size_t>(capacity, report.size()));
    return static_cast<uint32_t>(report.size());
}

} // extern "C"
