/* The configuration API's public header compiles as plain C, and its records
 * have the same layout in C as in C++. */
#include <stddef.h>

#include "inkora-nibline-config.h"

size_t inkora_nibline_config_c_sizes(size_t index);

size_t inkora_nibline_config_c_sizes(size_t index) {
    const size_t sizes[] = {
        sizeof(inkora_hid_capabilities),
        sizeof(inkora_hid_feature_output_parameters),
        sizeof(inkora_hid_feature_peripheral_configuration),
        sizeof(inkora_hid_feature_calibration_data),
        sizeof(inkora_hid_feature_region),
        sizeof(inkora_hid_feature_screen),
        sizeof(inkora_hid_feature_resource),
        sizeof(inkora_hid_feature_resource_availability),
        offsetof(inkora_hid_capabilities, mag_reader_id),
        offsetof(inkora_hid_feature_region_button, caption),
        offsetof(inkora_hid_feature_resource, resource_data),
        offsetof(inkora_hid_feature_calibration_data, local_x_multiplier_scaled),
    };
    return index < sizeof sizes / sizeof sizes[0] ? sizes[index] : 0;
}
