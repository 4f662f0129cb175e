/*
 * The simulated driver "SIMULATED": pads that exist only in memory, answered
 * by the pad model (the same model that tests put behind an emulated hidraw
 * node). inkora_load_additional_drivers registers it when the environment
 * variable INKORA_SIMULATED_PADS is a number n from 1 to 8; it then lists n
 * pads with the paths "/dev/inkora-sim/pad1" ... "/dev/inkora-sim/padn",
 * vendor 0x18FB, product 0x0100, model "Simulated Pad", manufacturer "Inkora".
 *
 * The pads' state (registers, regions, frame buffer) lives from the driver's
 * driver_init to its driver_destroy, across enumerations and opens, as a
 * pad's firmware state would.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_NIBLINE_SIMULATED_H
#define INKORA_NIBLINE_SIMULATED_H

#include <stdint.h>

#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define INKORA_SIMULATED_MAX_PADS 8u

INKORA_API extern inkora_device_driver inkora_simulated_driver;

/* Number of pads the driver lists (1-8); values outside are ignored. Default 1. */
INKORA_API void inkora_simulated_set_pad_count(uint32_t count);
INKORA_API uint32_t inkora_simulated_get_pad_count(void);

/*
 * Test controls (not reachable through the wire protocol). device must be a
 * record listed by the simulated driver.
 */
/* Queues a raw input report (report id first) in the pad's input queue. */
INKORA_API inkora_error_code inkora_simulated_queue_input_report(inkora_device* device, const uint8_t* bytes,
                                                                 uint32_t length);
/* From now on the pad's reads and feature requests fail as an unplugged pad's do (ENODEV). */
INKORA_API void inkora_simulated_unplug(inkora_device* device);
/* Number of feature reports written to the pad since the driver started. */
INKORA_API uint32_t inkora_simulated_written_report_count(inkora_device* device);
/*
 * Copies the index-th written report (oldest first) into out, at most capacity
 * bytes; returns its full length, or 0 when there is no such report.
 */
INKORA_API uint32_t inkora_simulated_get_written_report(inkora_device* device, uint32_t index, uint8_t* out,
                                                        uint32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_SIMULATED_H */
