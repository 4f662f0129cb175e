// Emulated hidraw nodes: umockdev answers the driver's udev queries from a
// described device tree, and an ioctl handler answers the hidraw ioctls and
// reads from the pad model. Reports are kept in the model's queue; the node's
// PTY carries one marker byte only, so that select sees the node readable.
#include "umockdev-pad.hpp"

#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace inkora::test {

struct HidrawTestbed::Node {
    sim::PadModel* model = nullptr;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string devnode;
    std::vector<std::string> syspaths; // leaf first
    std::mutex mutex;
    bool marker_pending = false; // guarded by mutex
    std::atomic<bool> unplugged{false};

    // Makes the node readable: one marker byte on the PTY, if none waits.
    void arm() {
        const std::lock_guard lock(mutex);
        if (marker_pending)
            return;
        const int fd = umockdev_testbed_get_dev_fd(testbed, devnode.c_str());
        const char marker = 'm';
        if (fd >= 0 && write(fd, &marker, 1) == 1)
            marker_pending = true;
    }
};

struct HidrawTestbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::vector<std::unique_ptr<Node>> nodes;
    unsigned next_number = 1;
};

namespace {

gboolean handle_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
    auto* node = static_cast<HidrawTestbed::Node*>(user_data);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (_IOC_TYPE(request) != 'H')
        return FALSE;
    if (node->unplugged.load()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, _IOC_SIZE(request), &error);
    if (data == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    long result = 0;
    int errno_value = 0;
    const std::vector<uint8_t> descriptor = sim::PadModel::report_descriptor();
    switch (_IOC_NR(request)) {
    case 0x01: { // HIDIOCGRDESCSIZE: a new open of the node
        node->model->opened();
        const int size = static_cast<int>(descriptor.size());
        std::memcpy(data->data, &size, sizeof size);
        break;
    }
    case 0x02: { // HIDIOCGRDESC
        hidraw_report_descriptor out;
        std::memcpy(&out, data->data, sizeof out);
        const size_t size = std::min<size_t>(out.size, descriptor.size());
        std::memcpy(out.value, descriptor.data(), size);
        std::memcpy(data->data, &out, sizeof out);
        break;
    }
    case 0x06: // HIDIOCSFEATURE(len)
        errno_value = node->model->set_feature(std::span<const uint8_t>(data->data, data->data_len));
        result = errno_value == 0 ? data->data_len : -1;
        break;
    case 0x07: // HIDIOCGFEATURE(len)
        errno_value = node->model->get_feature(std::span<uint8_t>(data->data, data->data_len));
        result = errno_value == 0 ? data->data_len : -1;
        break;
    default:
        result = -1;
        errno_value = ENOTTY;
        break;
    }
    umockdev_ioctl_client_complete(client, result, errno_value);
    g_object_unref(data);
    return TRUE;
}

gboolean handle_read(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user_data) {
    auto* node = static_cast<HidrawTestbed::Node*>(user_data);
    // The read's buffer, as large as the caller asked for.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t size = arg->data_len > 0 ? static_cast<size_t>(arg->data_len) : 0;
    int errno_value = 0;
    GError* error = nullptr;
    // Drains the marker byte from the PTY.
    umockdev_ioctl_client_execute(client, &errno_value, &error);
    g_clear_error(&error);
    {
        const std::lock_guard lock(node->mutex);
        node->marker_pending = false;
    }
    if (node->unplugged.load()) {
        node->arm(); // every later wait wakes and fails too
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    std::vector<uint8_t> report;
    const bool have = node->model->pop_input(report);
    if (node->model->has_input())
        node->arm();
    const size_t length = have ? std::min(size, report.size()) : 0;
    if (length > 0)
        std::memcpy(arg->data, report.data(), length);
    umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    return TRUE;
}

std::string hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

} // namespace

bool HidrawTestbed::running() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

HidrawTestbed::HidrawTestbed() : impl_(std::make_unique<Impl>()) { impl_->testbed = umockdev_testbed_new(); }

HidrawTestbed::~HidrawTestbed() {
    for (auto& node : impl_->nodes) {
        node->model->set_input_listener(nullptr);
        g_object_unref(node->handler);
    }
    g_object_unref(impl_->testbed);
}

std::string HidrawTestbed::add(sim::PadModel& model, const std::string& description,
                               const std::vector<std::string>& syspaths, const std::string& devnode) {
    auto node = std::make_unique<Node>();
    node->model = &model;
    node->testbed = impl_->testbed;
    node->devnode = devnode;
    node->syspaths = syspaths;
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(handle_ioctl), node.get());
    g_signal_connect(node->handler, "handle-read", G_CALLBACK(handle_read), node.get());
    GError* error = nullptr;
    // Attached before the node exists, so that no open reaches a bare PTY.
    if (!umockdev_testbed_attach_ioctl(impl_->testbed, devnode.c_str(), node->handler, &error) ||
        !umockdev_testbed_add_from_string(impl_->testbed, description.c_str(), &error)) {
        const std::string message = error != nullptr ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("umockdev: " + message);
    }
    Node* raw = node.get();
    model.set_input_listener([raw] { raw->arm(); });
    impl_->nodes.push_back(std::move(node));
    return devnode;
}

std::string HidrawTestbed::plug(sim::PadModel& model, const UsbIdentity& identity) {
    const unsigned n = impl_->next_number++;
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(n);
    const std::string interface = usb + "/1-" + std::to_string(n) + ":1.0";
    char hid_name[32];
    std::snprintf(hid_name, sizeof hid_name, "0003:%04X:%04X.%04X", identity.vendor, identity.product, n);
    const std::string hid = interface + "/" + hid_name;
    const std::string name = "hidraw" + std::to_string(n);
    const std::string hidraw = hid + "/hidraw/" + name;
    std::string description = "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" +
                              hex4(identity.vendor) + "\nA: idProduct=" + hex4(identity.product) + "\n";
    if (identity.manufacturer != nullptr)
        description += std::string("A: manufacturer=") + identity.manufacturer + "\n";
    if (identity.product_name != nullptr)
        description += std::string("A: product=") + identity.product_name + "\n";
    description += "\nP: " + interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\nP: " + hid +
                   "\nE: SUBSYSTEM=hid\n\nP: " + hidraw + "\nN: " + name + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
                   name + "\nA: dev=243:" + std::to_string(n) + "\n";
    return add(model, description, {hidraw, hid, interface, usb}, "/dev/" + name);
}

std::string HidrawTestbed::plug_without_usb_parent(sim::PadModel& model) {
    const unsigned n = impl_->next_number++;
    char hid_name[32];
    std::snprintf(hid_name, sizeof hid_name, "0005:046D:B01A.%04X", n);
    const std::string hid = std::string("/devices/virtual/misc/uhid/") + hid_name;
    const std::string name = "hidraw" + std::to_string(n);
    const std::string hidraw = hid + "/hidraw/" + name;
    const std::string description = "P: " + hid + "\nE: SUBSYSTEM=hid\n\nP: " + hidraw + "\nN: " + name +
                                    "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + name + "\nA: dev=243:" +
                                    std::to_string(n) + "\n";
    return add(model, description, {hidraw, hid}, "/dev/" + name);
}

void HidrawTestbed::unplug(const std::string& devnode) {
    for (auto& node : impl_->nodes) {
        if (node->devnode != devnode)
            continue;
        node->unplugged = true;
        node->arm(); // a reader waiting in select wakes and its read fails
        for (const std::string& syspath : node->syspaths)
            umockdev_testbed_uevent(impl_->testbed, ("/sys" + syspath).c_str(), "remove");
    }
}

} // namespace inkora::test

// umockdev, GLib and libudev are not built for the thread sanitizer: their
// own locking (GLib's atomics) is invisible to it, and libudev seeds its
// hash tables once per process without a lock (the monitor thread and
// umockdev's testbed both make udev objects). Reports from inside them are
// not about the code under test.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libudev.so\n"
           "race:libglib-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libumockdev.so\n"
           "race:libumockdev-preload.so\n";
}

namespace {

// The test program starts itself again under umockdev-wrapper when it was not
// started so (as CTest starts it), before anything else runs: the preload
// must be in place from the process's start. Runs as an ELF constructor,
// which glibc calls with the program's arguments.
__attribute__((constructor)) void restart_under_umockdev(int argc, char** argv, char**) {
    if (inkora::test::HidrawTestbed::running() || std::getenv("INKORA_UMOCKDEV_RESTARTED") != nullptr)
        return;
    setenv("INKORA_UMOCKDEV_RESTARTED", "1", 1);
    // The sanitizer's link-order check would refuse the preloaded library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::string options = asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : std::string();
    options += "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    // The program's own path: /proc/self/exe would name the wrapper's shell.
    static char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    self[length] = '\0';
    std::vector<char*> arguments;
    static char wrapper[] = "umockdev-wrapper";
    arguments.push_back(wrapper);
    arguments.push_back(self);
    for (int i = 1; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    execvp(wrapper, arguments.data());
    // No wrapper on this machine: go on without the preload; the tests that
    // need it skip with their reason.
}

} // namespace
