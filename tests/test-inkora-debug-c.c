/* The debug header seen from C: the report macro and its gate compile and
 * work in a C translation unit. */
#include "inkora-debug.h"

void inkora_test_c_report(void);

void inkora_test_c_report(void) {
    INKORA_LOG_WARNING("from C %d", 42);
}
