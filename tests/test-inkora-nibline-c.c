/* The device library's public headers compile as plain C, and their records
 * have the same layout in C as in C++. */
#include <stddef.h>

#include "inkora-nibline-linux.h"
#include "inkora-nibline-simulated.h"
#include "inkora-nibline.h"

size_t inkora_nibline_c_sizes(size_t index);

size_t inkora_nibline_c_sizes(size_t index) {
    const size_t sizes[] = {
        sizeof(inkora_device),
        sizeof(inkora_device_driver),
        sizeof(inkora_input_report),
        sizeof(inkora_device_region_info),
        sizeof(inkora_hid_feature_device_status),
        offsetof(inkora_device, parameters),
        offsetof(inkora_device_driver, input_report),
        offsetof(inkora_device_os_params, hid_report_map),
    };
    return index < sizeof sizes / sizeof sizes[0] ? sizes[index] : 0;
}
