/* Compiles the plug-in's public headers as plain C: their records, the
   layout checks in them and their declarations must stay valid C. */
#include "ica-pipe-client.h"
#include "ica-pipe-settings.h"
#include "inkora-process.h"

/* Referenced from the tests so that the C translation unit is linked in. */
size_t inkora_c_module_info_size(void);
size_t inkora_c_module_info_size(void) {
    return sizeof(inkora_citrix_virtual_channel_info);
}
