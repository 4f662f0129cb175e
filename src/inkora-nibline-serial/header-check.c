/* Compiled as C: the wire-protocol header must not need a C++ compiler. */
#include "inkora-nibline-serial.h"

/* Touches the records so that the compiler checks their declarations. */
size_t inkora_nibline_serial_header_check(void);
size_t inkora_nibline_serial_header_check(void) {
    inkora_messages message = {0};
    message.common.message_id = INKORA_MESSAGE_PING;
    return sizeof(inkora_serial_dispatch) + sizeof(message) + sizeof(inkora_serial_event);
}
