// Interim stand-in for the log library while it is not part of the tree:
// the same interface, the log always off. Removed once the log library lands.
#include <cstdint>

#include "inkora-debug.h"

extern "C" {
uint32_t inkora_debug_gate = UINT32_MAX;
void inkora_debug_init(const char*) {}
void inkora_debug_destroy(void) {}
void inkora_debug_report_message(const char*, const char*, int32_t, inkora_debug_level, const char*, ...) {}
}
