// The Linux HID driver's start and stop, and its hot-plug monitor thread: a
// udev monitor on the "udev" netlink source, polled beside an eventfd that
// the stop signals, so that stopping never waits for a device event.
#include <libudev.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "inkora-debug.h"
#include "inkora-list.h"
#include "inkora-nibline-linux.h"
#include "inkora-nibline-private.h"
#include "inkora-debug-scope.hpp"

namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using UdevPtr = std::unique_ptr<udev, UdevDeleter>;
using UdevMonitorPtr = std::unique_ptr<udev_monitor, UdevDeleter>;
using UdevDevicePtr = std::unique_ptr<udev_device, UdevDeleter>;

// Written by driver_init and driver_destroy, read by the monitor thread.
std::atomic<uint8_t> hotplug_thread_running{0};

// The monitor thread and what it owns while it runs. Guarded by
// monitor_mutex on the init, destroy and wait paths; the thread itself only
// reads context/monitor/wake_fd, which stay valid until it has been joined.
std::mutex monitor_mutex;
pthread_t thread{};
bool thread_started = false;
int wake_fd = -1;
UdevPtr context;
UdevMonitorPtr monitor;

// Calls every hot-plug callback with one event. The callbacks are copied
// under the list's lock and called without it, so a callback may register
// or remove callbacks (and the driver may be stopped) meanwhile.
void notify(inkora_hotplug_type type, const char* path) {
    std::vector<inkora_hotplug_callback> callbacks(16);
    uint32_t count = inkora_copy_device_callbacks(callbacks.data(), static_cast<uint32_t>(callbacks.size()));
    if (count > callbacks.size()) {
        callbacks.resize(count);
        count = inkora_copy_device_callbacks(callbacks.data(), static_cast<uint32_t>(callbacks.size()));
        count = std::min<uint32_t>(count, static_cast<uint32_t>(callbacks.size()));
    }
    for (uint32_t i = 0; i < count; ++i)
        callbacks[i](type, path);
}

void handle_event(udev_monitor* source) {
    const UdevDevicePtr device(udev_monitor_receive_device(source));
    if (device == nullptr)
        return;
    const char* path = udev_device_get_devnode(device.get());
    const char* action = udev_device_get_action(device.get());
    const char* subsystem = udev_device_get_subsystem(device.get());
    if (path == nullptr || action == nullptr || subsystem == nullptr || std::strcmp(subsystem, "hidraw") != 0)
        return;
    inkora_hotplug_type type;
    if (std::strcmp(action, "add") == 0)
        type = INKORA_HOTPLUG_ATTACHED;
    else if (std::strcmp(action, "remove") == 0)
        type = INKORA_HOTPLUG_DETACHED;
    else
        return;
    INKORA_LOG_INFO("Detected hotplug event: path: %s, type: %s, subsystem: %s", path, action, subsystem);
    notify(type, path);
}

} // namespace

extern "C" {

void* inkora_hotplug_thread(void* argument) {
    INKORA_FUNCTION_SCOPE();
    (void)argument;
    udev_monitor* source = monitor.get();
    const int monitor_fd = udev_monitor_get_fd(source);
    std::array<pollfd, 2> fds{};
    fds[0].fd = monitor_fd;
    fds[0].events = POLLIN;
    fds[1].fd = wake_fd;
    fds[1].events = POLLIN;
    while (hotplug_thread_running.load() == 1) {
        fds[0].revents = 0;
        fds[1].revents = 0;
        const int ready = poll(fds.data(), fds.size(), -1);
        if (ready <= 0)
            continue; // interrupted or failed: the loop retries
        if ((fds[1].revents & POLLIN) != 0)
            continue; // woken by the stop: the loop condition decides
        if ((fds[0].revents & POLLIN) != 0)
            handle_event(source);
    }
    return nullptr;
}

inkora_error_code inkora_real_driver_init(void) {
    INKORA_FUNCTION_SCOPE();
    inkora_list* callbacks = inkora_create_list();
    inkora_lock_device_callbacks();
    inkora_list* previous = inkora_get_device_callbacks_locked();
    inkora_set_device_callbacks_locked(callbacks);
    inkora_unlock_device_callbacks();
    inkora_list_free(previous);

    const std::lock_guard lock(monitor_mutex);
    if (thread_started) {
        // Started before and never waited for: finish that run first.
        hotplug_thread_running.store(0);
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_fd, &one, sizeof one);
        pthread_join(thread, nullptr);
        thread_started = false;
    }
    monitor.reset();
    context.reset();
    if (wake_fd >= 0)
        close(wake_fd);
    wake_fd = -1;

    hotplug_thread_running.store(1);
    // The monitor is made here rather than on the thread, so that no event
    // after a successful init is missed while the thread starts up.
    context.reset(udev_new());
    if (context != nullptr)
        monitor.reset(udev_monitor_new_from_netlink(context.get(), "udev"));
    if (monitor == nullptr || udev_monitor_enable_receiving(monitor.get()) < 0) {
        INKORA_LOG_WARNING("Unable to create the udev monitor: no hot-plug notices.");
        monitor.reset();
        context.reset();
        return INKORA_CODE_SUCCESS;
    }
    wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0 || pthread_create(&thread, nullptr, inkora_hotplug_thread, nullptr) != 0) {
        INKORA_LOG_WARNING("Unable to start the hot-plug monitor thread: no hot-plug notices.");
        if (wake_fd >= 0)
            close(wake_fd);
        wake_fd = -1;
        monitor.reset();
        context.reset();
        return INKORA_CODE_SUCCESS;
    }
    thread_started = true;
    return INKORA_CODE_SUCCESS;
}

inkora_error_code inkora_real_driver_destroy(inkora_device_driver* driver) {
    INKORA_FUNCTION_SCOPE();
    (void)driver;
    inkora_lock_device_callbacks();
    inkora_list* callbacks = inkora_get_device_callbacks_locked();
    inkora_set_device_callbacks_locked(nullptr);
    inkora_unlock_device_callbacks();
    inkora_list_free(callbacks);

    hotplug_thread_running.store(0);
    const std::lock_guard lock(monitor_mutex);
    if (wake_fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_fd, &one, sizeof one);
    }
    return INKORA_CODE_SUCCESS;
}

uint8_t inkora_real_thread_running(void) { return hotplug_thread_running.load(); }

void inkora_real_thread_wait(void) {
    const std::lock_guard lock(monitor_mutex);
    if (!thread_started)
        return;
    pthread_join(thread, nullptr);
    thread_started = false;
    monitor.reset();
    context.reset();
    if (wake_fd >= 0)
        close(wake_fd);
    wake_fd = -1;
}

} // extern "C"
