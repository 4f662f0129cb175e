// The Linux HID driver: enumeration of hidraw nodes through udev, open with
// the report map from the report descriptor, feature reports through the
// hidraw ioctls, and the read cycle with its one-second wait.
#include "inkora-nibline-linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "inkora-debug.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"
#include "inkora-nibline.h"

namespace {

constexpr size_t read_buffer_size = 512;
constexpr uint8_t report_id_item_prefix_mask = 0xFC; // type and tag bits of a short item
constexpr uint8_t report_id_item = 0x84;             // global item (type 1), tag 8: Report ID

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

// The errno text, thread-safely.
const char* error_text(int error, char* buffer, size_t size) { return strerror_r(error, buffer, size); }

#define INKORA_LINUX_ERRNO_ERROR(format_prefix, ...)                                                                 \
    do {                                                                                                             \
        const int saved_errno_ = errno;                                                                              \
        char errno_text_[128];                                                                                       \
        INKORA_NIBLINE_ERROR(format_prefix __VA_OPT__(, ) __VA_ARGS__, saved_errno_,                                 \
                             error_text(saved_errno_, errno_text_, sizeof errno_text_));                             \
    } while (0)

// The node of an open device as the driver uses it across threads: the read
// cycle waits on the node and on wake_fd, which close signals, and holds
// the shared side of guard while it uses the descriptor; close takes the
// exclusive side before closing it. So the descriptor number is never closed
// (and possibly reused by another open) under a waiting reader or an ioctl.
struct OpenNode {
    std::shared_mutex guard;
    int wake_fd = -1;
    bool closed = false; // guarded by guard
};

std::mutex nodes_mutex; // guards nodes
std::unordered_map<const inkora_device*, std::shared_ptr<OpenNode>> nodes;

std::shared_ptr<OpenNode> node_of(const inkora_device* device) {
    const std::lock_guard lock(nodes_mutex);
    const auto found = nodes.find(device);
    return found != nodes.end() ? found->second : nullptr;
}

void free_chain(inkora_device* head) {
    while (head != nullptr) {
        inkora_device* next = head->next;
        inkora_real_free_device(head);
        head = next;
    }
}

// Issues a feature ioctl on the device's node; false with errno set.
bool feature_ioctl(inkora_device* device, bool set, uint8_t* bytes, uint32_t length) {
    const std::shared_ptr<OpenNode> node = node_of(device);
    if (node == nullptr) {
        errno = EBADF;
        return false;
    }
    const std::shared_lock lock(node->guard);
    if (node->closed) {
        errno = EBADF;
        return false;
    }
    const unsigned long request = set ? HIDIOCSFEATURE(length) : HIDIOCGFEATURE(length);
    return ioctl(device->parameters.handle, request, bytes) >= 0;
}

void* read_until_done_thread(void* argument) {
    auto* device = static_cast<inkora_device*>(argument);
    while (inkora_device_is_open(device) == 1) {
        if (inkora_device_read(device) != INKORA_CODE_SUCCESS)
            break;
    }
    return nullptr;
}

} // namespace

extern "C" {

int32_t inkora_hex_to_decimal(const char* text) {
    if (text == nullptr)
        return 0;
    const std::string_view digits(text);
    int64_t value = 0;
    int64_t weight = 1;
    for (size_t i = digits.size(); i-- > 0;) {
        const char c = digits[i];
        int64_t worth = 0;
        if (c >= '0' && c <= '9')
            worth = c - '0';
        else if (c >= 'a' && c <= 'f')
            worth = c - 'a' + 10;
        else
            return -1;
        value += worth * weight;
        // Past eight digits the weight would overflow; such texts are no ids.
        if (value > INT32_MAX || weight > (INT64_MAX >> 4))
            return -1;
        weight <<= 4;
    }
    return static_cast<int32_t>(value);
}

void parse_hid_descriptor(const uint8_t* descriptor, uint32_t length, uint8_t* map) {
    if (descriptor == nullptr || map == nullptr)
        return;
    uint32_t i = 0;
    while (i < length) {
        const uint8_t prefix = descriptor[i];
        const uint32_t size = (prefix & 3u) == 3u ? 4u : (prefix & 3u);
        // A Report ID item names its id in the next byte; an item cut off by
        // the end of the descriptor names none. Id 255 lies outside the map
        // (ids 0-254) and is treated as undeclared.
        if ((prefix & report_id_item_prefix_mask) == report_id_item && size >= 1 && i + 1 < length &&
            descriptor[i + 1] < INKORA_HID_REPORT_MAP_SIZE)
            map[descriptor[i + 1]] = 1;
        i += size + 1;
    }
}

inkora_error_code fill_hid_report_map(inkora_device* device) {
    hidraw_report_descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    std::memset(device->parameters.hid_report_map, 0, sizeof device->parameters.hid_report_map);
    int32_t size = 0;
    if (ioctl(device->parameters.handle, HIDIOCGRDESCSIZE, &size) < 0) {
        INKORA_LINUX_ERRNO_ERROR("Unable to get HID report descriptor size (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    // The kernel never reports more than its buffer holds; a larger size is not believed.
    if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
        errno = EINVAL;
        INKORA_LINUX_ERRNO_ERROR("Unable to get HID report descriptor size (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    descriptor.size = static_cast<uint32_t>(size);
    if (ioctl(device->parameters.handle, HIDIOCGRDESC, &descriptor) < 0) {
        INKORA_LINUX_ERRNO_ERROR("Unable to get HID report descriptor(%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    parse_hid_descriptor(descriptor.value, static_cast<uint32_t>(size), device->parameters.hid_report_map);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_list_devices(inkora_device_driver* driver, inkora_device** head) {
    INKORA_FUNCTION_SCOPE();
    const UdevPtr context(udev_new());
    if (context == nullptr) {
        INKORA_LINUX_ERRNO_ERROR("Problem getting a handle to udev (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    const UdevEnumeratePtr enumeration(udev_enumerate_new(context.get()));
    if (enumeration == nullptr) {
        INKORA_LINUX_ERRNO_ERROR("Problem getting a handle to udev (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    udev_enumerate_add_match_subsystem(enumeration.get(), "hidraw");
    udev_enumerate_scan_devices(enumeration.get());

    inkora_device* first = nullptr;
    inkora_device* last = nullptr;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        const UdevDevicePtr hid(udev_device_new_from_syspath(context.get(), syspath));
        if (hid == nullptr)
            continue;
        const char* node = udev_device_get_devnode(hid.get());
        // The parent is owned by its child and released with it.
        udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hid.get(), "usb", "usb_device");
        if (usb == nullptr) {
            INKORA_LINUX_ERRNO_ERROR("Problem getting parent device of HID child (%i): %s\n");
            free_chain(first);
            return INKORA_CODE_ERROR;
        }
        const int32_t vendor = inkora_hex_to_decimal(udev_device_get_sysattr_value(usb, "idVendor"));
        const int32_t product = inkora_hex_to_decimal(udev_device_get_sysattr_value(usb, "idProduct"));
        if (vendor != static_cast<int32_t>(INKORA_PAD_VENDOR_ID) ||
            product == static_cast<int32_t>(INKORA_EXCLUDED_PRODUCT_ID) || product < 0 || node == nullptr)
            continue;
        auto* device = static_cast<inkora_device*>(std::calloc(1, sizeof(inkora_device)));
        if (device == nullptr) {
            INKORA_NIBLINE_ERROR("Out of memory listing the devices.\n");
            free_chain(first);
            return INKORA_CODE_ERROR;
        }
        device->vendor_id = static_cast<uint16_t>(vendor);
        device->product_id = static_cast<uint16_t>(product);
        device->parameters.handle = -1;
        // A USB device without a manufacturer or product string gets an empty text.
        device->path = inkora_duplicate_text(node);
        device->manufacturer = inkora_duplicate_text(udev_device_get_sysattr_value(usb, "manufacturer"));
        device->model = inkora_duplicate_text(udev_device_get_sysattr_value(usb, "product"));
        device->driver = driver;
        if (device->path == nullptr || device->manufacturer == nullptr || device->model == nullptr) {
            inkora_real_free_device(device);
            INKORA_NIBLINE_ERROR("Out of memory listing the devices.\n");
            free_chain(first);
            return INKORA_CODE_ERROR;
        }
        if (last == nullptr)
            first = device;
        else
            last->next = device;
        last = device;
    }
    if (head != nullptr)
        *head = first;
    else
        free_chain(first);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_open_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    const int handle = open(device->path, O_RDWR | O_CLOEXEC);
    if (handle < 0) {
        INKORA_LINUX_ERRNO_ERROR("Problem opening device (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    device->parameters.handle = handle;
    if (fill_hid_report_map(device) != INKORA_CODE_SUCCESS) {
        close(handle);
        device->parameters.handle = -1;
        return INKORA_CODE_ERROR;
    }
    auto node = std::make_shared<OpenNode>();
    node->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (node->wake_fd < 0) {
        INKORA_LINUX_ERRNO_ERROR("Problem opening device (%i): %s\n");
        close(handle);
        device->parameters.handle = -1;
        return INKORA_CODE_ERROR;
    }
    {
        const std::lock_guard lock(nodes_mutex);
        nodes[device] = node;
    }
    device->parameters.readUntilDoneThread = 0;
    device->parameters.interrupted = 0;
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_close_device(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    std::shared_ptr<OpenNode> node;
    {
        const std::lock_guard lock(nodes_mutex);
        const auto found = nodes.find(device);
        if (found != nodes.end()) {
            node = found->second;
            nodes.erase(found);
        }
    }
    if (node == nullptr) {
        errno = EBADF;
        INKORA_LINUX_ERRNO_ERROR("Problem closing device (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    // Wake a reader waiting in select, then wait until it has let go of the node.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t woken = write(node->wake_fd, &one, sizeof one);
    const std::unique_lock lock(node->guard);
    node->closed = true;
    close(node->wake_fd);
    node->wake_fd = -1;
    const int handle = device->parameters.handle;
    device->parameters.handle = -1;
    if (close(handle) < 0) {
        INKORA_LINUX_ERRNO_ERROR("Problem closing device (%i): %s\n");
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_device_read(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (inkora_device_is_open(device) == 0) {
        INKORA_NIBLINE_ERROR("Device is not open.\n");
        return INKORA_CODE_ERROR;
    }
    std::array<uint8_t, read_buffer_size> buffer{};
    ssize_t got = 0;
    bool have_read = false;
    {
        const std::shared_ptr<OpenNode> node = node_of(device);
        if (node == nullptr) {
            INKORA_NIBLINE_ERROR("Device is not open.\n");
            return INKORA_CODE_ERROR;
        }
        std::shared_lock lock(node->guard);
        if (node->closed) {
            INKORA_NIBLINE_ERROR("Device is not open.\n");
            return INKORA_CODE_ERROR;
        }
        const int handle = device->parameters.handle;
        // select cannot watch descriptors past FD_SETSIZE; such a node is not read.
        if (handle < 0 || handle >= FD_SETSIZE || node->wake_fd >= FD_SETSIZE) {
            INKORA_NIBLINE_ERROR("Device is not open.\n");
            return INKORA_CODE_ERROR;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(handle, &readable);
        FD_SET(node->wake_fd, &readable);
        timeval timeout{1, 0};
        const int ready = select(std::max(handle, node->wake_fd) + 1, &readable, nullptr, nullptr, &timeout);
        if (ready > 0 && FD_ISSET(handle, &readable) && !FD_ISSET(node->wake_fd, &readable)) {
            // A constant size: a variable one would become __read_chk under
            // _FORTIFY_SOURCE, which bypasses emulated nodes in tests.
            got = read(handle, buffer.data(), read_buffer_size);
            have_read = true;
            if (got < 0) {
                const int saved = errno;
                lock.unlock();
                errno = saved;
                INKORA_LINUX_ERRNO_ERROR("Problem reading from the device (%i): %s\n");
                // Close outside the node's guard: close takes it exclusively.
                const std::string saved_error(inkora_get_last_error());
                inkora_close_device(device);
                inkora_report_error_internal("%s", saved_error.c_str());
                return INKORA_CODE_ERROR;
            }
        }
    }
    if (have_read)
        inkora_parse_and_deliver(device, buffer.data(), static_cast<uint32_t>(got));
    if (__atomic_load_n(&device->parameters.interrupted, __ATOMIC_ACQUIRE) == 1)
        inkora_close_device(device);
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_hid_set_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    if (bytes == nullptr || length == 0 || bytes[0] >= INKORA_HID_REPORT_MAP_SIZE ||
        device->parameters.hid_report_map[bytes[0]] == 0) {
        INKORA_NIBLINE_ERROR("Report id %u isn't supported by this device.\n", bytes != nullptr && length != 0 ? bytes[0] : 0u);
        return INKORA_CODE_ERROR;
    }
    if (!feature_ioctl(device, true, bytes, length)) {
        INKORA_LINUX_ERRNO_ERROR("Problem sending HID report %hhu (%i): %s\n", bytes[0]);
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_hid_get_feature_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    if (bytes == nullptr || length == 0 || bytes[0] >= INKORA_HID_REPORT_MAP_SIZE ||
        device->parameters.hid_report_map[bytes[0]] == 0) {
        INKORA_NIBLINE_ERROR("Report id %u isn't supported by this device.\n", bytes != nullptr && length != 0 ? bytes[0] : 0u);
        return INKORA_CODE_ERROR;
    }
    if (!feature_ioctl(device, false, bytes, length)) {
        INKORA_LINUX_ERRNO_ERROR("Problem getting HID report %hhu (%i): %s\n", bytes[0]);
        return INKORA_CODE_ERROR;
    }
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_hid_set_output_report(inkora_device* device, uint8_t* bytes, uint32_t length) {
    INKORA_FUNCTION_SCOPE();
    (void)device;
    (void)bytes;
    (void)length;
    return INKORA_CODE_SUCCESS;
}

const char* inkora_real_get_driver_name(void) { return "REAL"; }

void inkora_real_shutdown(void) {}

void inkora_device_notify_close(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    (void)device;
}

void inkora_device_read_until_done(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, read_until_done_thread, device) == 0) {
        device->parameters.readUntilDoneThread = thread;
        INKORA_LOG_INFO("Successfully created read thread: device: %p, thread: %p", static_cast<void*>(device),
                        reinterpret_cast<void*>(thread));
    } else {
        device->parameters.readUntilDoneThread = 0;
    }
}

void inkora_device_read_done(inkora_device* device) {
    INKORA_FUNCTION_SCOPE();
    if (device->parameters.readUntilDoneThread == 0)
        return;
    inkora_close_device(device);
    INKORA_LOG_INFO("Waiting for reading thread to close: device: %p, thread: %p", static_cast<void*>(device),
                    reinterpret_cast<void*>(device->parameters.readUntilDoneThread));
    pthread_join(device->parameters.readUntilDoneThread, nullptr);
    device->parameters.readUntilDoneThread = 0;
}

} // extern "C"

extern "C" {

inkora_device_driver inkora_real_driver = {
    .driver_init = inkora_real_driver_init,
    .driver_destroy = inkora_real_driver_destroy,
    .open_device = inkora_real_open_device,
    .close_device = inkora_real_close_device,
    .list_devices = inkora_real_list_devices,
    .device_read = inkora_real_device_read,
    .set_output_report = inkora_real_hid_set_output_report,
    .set_feature_report = inkora_real_hid_set_feature_report,
    .get_feature_report = inkora_real_hid_get_feature_report,
    .get_name = inkora_real_get_driver_name,
    .thread_running = inkora_real_thread_running,
    .wait_thread = inkora_real_thread_wait,
    .initialized = 0,
    .shutdown = inkora_real_shutdown,
    .get_hotplug_callbacks = nullptr,
    .free_device = inkora_real_free_device,
    .report_error = nullptr,
    .debug = nullptr,
    .input_report = nullptr,
};

} // extern "C"
