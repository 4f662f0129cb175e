// Process-wide state of the device library: the last-error text, the
// open-devices lock, the per-device lock, the hot-plug callback list and
// freeing of one record.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "inkora-list.h"
#include "inkora-nibline-private.h"
#include "inkora-nibline.h"

namespace {

TEST(LastError, KeepsAtMost1022CharactersAndTheLastByteStaysNul) {
    const std::string long_text(1500, 'x');
    inkora_report_error_internal("%s", long_text.c_str());
    const char* buffer = inkora_get_last_error();
    EXPECT_EQ(std::strlen(buffer), 1022u);
    EXPECT_EQ(buffer[1023], '\0');
    EXPECT_EQ(inkora_get_last_error_internal(), buffer);

    inkora_report_error_internal("Report id %u isn't supported by this device.\n", 22u);
    EXPECT_STREQ(inkora_get_last_error(), "Report id 22 isn't supported by this device.\n");
}

TEST(OpenDevices, ListPointerIsReplacedUnderTheLock) {
    inkora_list* list = inkora_create_list();
    inkora_set_open_devices(list);
    EXPECT_EQ(inkora_get_open_devices(), list);
    inkora_lock_open_devices();
    inkora_set_open_devices_locked(nullptr);
    inkora_unlock_open_devices();
    EXPECT_EQ(inkora_get_open_devices(), nullptr);
    inkora_list_free(list);
}

TEST(DeviceLock, IsRecursiveOnOneThreadAndExclusiveAcrossThreads) {
    inkora_device device;
    std::memset(&device, 0, sizeof device);
    inkora_lock_device(&device);
    inkora_lock_device(&device); // the read cycle's callback may close the device
    std::atomic<bool> other_has_it{false};
    std::thread other([&] {
        inkora_lock_device(&device);
        other_has_it = true;
        inkora_unlock_device(&device);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(other_has_it.load());
    inkora_unlock_device(&device);
    EXPECT_FALSE(other_has_it.load()); // still held once
    inkora_unlock_device(&device);
    other.join();
    EXPECT_TRUE(other_has_it.load());
    inkora_forget_device_lock(&device);
}

void first_callback(inkora_hotplug_type, const char*) {}
void second_callback(inkora_hotplug_type, const char*) {}

TEST(HotplugCallbacks, CopyKeepsRegistrationOrderAndReportsTheFullCount) {
    inkora_list* list = inkora_create_list();
    inkora_list_add(list, reinterpret_cast<void*>(&first_callback));
    inkora_list_add(list, reinterpret_cast<void*>(&second_callback));
    inkora_list_add(list, reinterpret_cast<void*>(&first_callback));
    inkora_set_device_callbacks(list);

    inkora_hotplug_callback copies[2] = {};
    EXPECT_EQ(inkora_copy_device_callbacks(copies, 2), 3u);
    EXPECT_EQ(copies[0], &first_callback);
    EXPECT_EQ(copies[1], &second_callback);

    inkora_set_device_callbacks(nullptr);
    EXPECT_EQ(inkora_copy_device_callbacks(copies, 2), 0u);
    inkora_list_free(list);
}

char* duplicate(const char* text) {
    char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
    std::strcpy(copy, text);
    return copy;
}

TEST(FreeDevice, FreesTheRecordAndEverythingItOwns) {
    // Under the address sanitizer a leak of any owned part fails the run.
    auto* device = static_cast<inkora_device*>(std::calloc(1, sizeof(inkora_device)));
    device->path = duplicate("/dev/hidraw3");
    device->model = duplicate("Pad");
    device->manufacturer = duplicate("Maker");
    device->uuid = static_cast<uint8_t*>(std::calloc(16, 1));
    device->regions = static_cast<inkora_device_region_info*>(std::calloc(5, sizeof(inkora_device_region_info)));
    device->input_callbacks = inkora_create_list();
    inkora_list_add(device->input_callbacks, device);
    inkora_lock_device(device);
    inkora_unlock_device(device);
    EXPECT_EQ(inkora_real_free_device(device), INKORA_CODE_SUCCESS);
    EXPECT_EQ(inkora_real_free_device(nullptr), INKORA_CODE_SUCCESS);
}

} // namespace
