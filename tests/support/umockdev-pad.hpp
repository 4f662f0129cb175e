// A umockdev testbed with emulated hidraw nodes answered by pad models, for
// tests that run the Linux HID driver unmodified. The test process must run
// under umockdev's preload (umockdev-wrapper); running() tells.
#ifndef INKORA_TESTS_UMOCKDEV_PAD_HPP
#define INKORA_TESTS_UMOCKDEV_PAD_HPP

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inkora-pad-model.hpp"

namespace inkora::test {

struct UsbIdentity {
    uint16_t vendor = 0x18FB;
    uint16_t product = 0x0100;
    const char* manufacturer = "Inkora"; // nullptr: no such attribute
    const char* product_name = "Simulated Pad";
};

class HidrawTestbed {
public:
    // True when the process runs under umockdev's preload.
    static bool running();

    HidrawTestbed();
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // Plugs in a USB HID device with a hidraw node answered by model (which
    // must outlive the testbed); returns the node path ("/dev/hidrawN").
    std::string plug(sim::PadModel& model, const UsbIdentity& identity = {});
    // A hidraw node with no USB ancestor (as a Bluetooth device has).
    std::string plug_without_usb_parent(sim::PadModel& model);
    // The node fails from now on as an unplugged node does (reads EIO,
    // ioctls ENODEV), and the remove events are sent.
    void unplug(const std::string& node);

    struct Node; // one emulated node and its handler

private:
    std::string add(sim::PadModel& model, const std::string& description, const std::vector<std::string>& syspaths,
                    const std::string& node);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace inkora::test

#endif
