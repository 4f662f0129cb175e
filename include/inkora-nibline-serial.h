/*
 * The wire protocol between the agent and the application in the remote
 * session: message records, their encoding and the dispatch that cuts a byte
 * stream into messages.
 *
 * Framing: every message is a five-byte header (type byte, then the sequence
 * number as 32-bit little-endian) followed by the body of its type. Every
 * integer inside a body is big-endian. There is no length field: where a
 * message ends follows from its type and the lengths inside its body.
 */
#ifndef INKORA_NIBLINE_SERIAL_H
#define INKORA_NIBLINE_SERIAL_H

#include <stdint.h>
#include <time.h>

#include "inkora-event.h"
#include "inkora-list.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Capacity of the dispatch's ring of received bytes. */
#define INKORA_SERIAL_INPUT_BUFFER_LEN 51200u
/* Scratch buffer for decoding: every variable field received must fit. */
#define INKORA_SERIAL_SCRATCH_LEN 4096u
/* Send buffer: every encoded message, header included, must fit. */
#define INKORA_SERIAL_SEND_BUFFER_LEN 4096u
/* Size of the wire header. */
#define INKORA_SERIAL_HEADER_LEN 5u
/* First sequence number handed out by a new dispatch. */
#define INKORA_SERIAL_FIRST_SEQ_NUM 10u
/* A waiter that allows a time-out is interrupted after more than this many seconds. */
#define INKORA_SERIAL_TIMEOUT_SECONDS 4.0

typedef enum inkora_serial_message_types {
    INKORA_MESSAGE_DEVICEENUM_REQUEST = 1,
    INKORA_MESSAGE_DEVICEENUM_RESPONSE = 2,
    INKORA_MESSAGE_OPEN_REQUEST = 3,
    INKORA_MESSAGE_OPEN_RESPONSE = 4,
    INKORA_MESSAGE_CLOSE_REQUEST = 5,
    INKORA_MESSAGE_CLOSE_RESPONSE = 6,
    INKORA_MESSAGE_READ_REQUEST = 7,
    INKORA_MESSAGE_READ_RESPONSE = 8,
    INKORA_MESSAGE_SET_OUTPUT_REQUEST = 9,
    INKORA_MESSAGE_SET_OUTPUT_RESPONSE = 10,
    INKORA_MESSAGE_SET_FEATURE_REQUEST = 11,
    INKORA_MESSAGE_SET_FEATURE_RESPONSE = 12,
    INKORA_MESSAGE_GET_FEATURE_REQUEST = 13,
    INKORA_MESSAGE_GET_FEATURE_RESPONSE = 14,
    INKORA_MESSAGE_DEVICE_ATTACH = 15,
    INKORA_MESSAGE_DEVICE_DETACH = 16,
    INKORA_MESSAGE_PING = 17,
    INKORA_MESSAGE_PONG = 18,
    INKORA_MESSAGE_READ_BULK_REQUEST = 19,
    INKORA_MESSAGE_READ_BULK_RESPONSE = 20,
    INKORA_MESSAGE_VERSION_INFO = 21
} inkora_serial_message_types;

/* Opens every message record. */
typedef struct inkora_message_common {
    inkora_serial_message_types message_id; /* the header's type byte, widened */
    uint32_t seq_num;                       /* the header's sequence number */
} inkora_message_common;

/* Types 1, 17, 18: empty bodies. */
typedef struct inkora_message_deviceenum_request {
    inkora_message_common common;
} inkora_message_deviceenum_request;

typedef struct inkora_message_ping {
    inkora_message_common common;
} inkora_message_ping;

typedef struct inkora_message_pong {
    inkora_message_common common;
} inkora_message_pong;

/* One pad of an enumeration answer. */
typedef struct inkora_message_device {
    uint32_t path_len;
    char* path;
    uint16_t product_id; /* USB product id; travels before the vendor id */
    uint16_t vendor_id;  /* USB vendor id */
    uint32_t model_len;
    char* model;
    uint32_t manufacturer_len;
    char* manufacturer;
} inkora_message_device;

/* Type 2. */
typedef struct inkora_message_deviceenum_response {
    inkora_message_common common;
    uint8_t device_count; /* at most 255 pads per answer */
    inkora_message_device* device_list;
} inkora_message_deviceenum_response;

/* Types 3, 5, 7, 15, 16: path-only bodies. */
typedef struct inkora_message_path_body {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
} inkora_message_path_body;

typedef inkora_message_path_body inkora_message_open_request;
typedef inkora_message_path_body inkora_message_close_request;
typedef inkora_message_path_body inkora_message_read_request;
typedef inkora_message_path_body inkora_message_device_attach;
typedef inkora_message_path_body inkora_message_device_detach;

/* Types 4, 6, 10, 12: result bodies. */
typedef struct inkora_message_result_body {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint8_t success; /* 1 = done, 0 = failed */
    uint32_t error_len;
    char* error;
} inkora_message_result_body;

typedef inkora_message_result_body inkora_message_open_response;
typedef inkora_message_result_body inkora_message_close_response;
typedef inkora_message_result_body inkora_message_set_output_response;
typedef inkora_message_result_body inkora_message_set_feature_response;

/* Types 9, 11: report requests. */
typedef struct inkora_message_report_request {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint32_t report_len;
    uint8_t* report; /* identifier byte first */
} inkora_message_report_request;

typedef inkora_message_report_request inkora_message_set_output_request;
typedef inkora_message_report_request inkora_message_set_feature_request;

/* Type 8. */
typedef struct inkora_message_read_response {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint8_t success;
    uint8_t report_id;
    uint32_t report_len;
    uint8_t* report;
} inkora_message_read_response;

/* Type 13. */
typedef struct inkora_message_get_feature_request {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint8_t report_id;
    uint32_t report_len; /* size of the report to fetch, identifier byte included */
} inkora_message_get_feature_request;

/* Type 14. */
typedef struct inkora_message_get_feature_response {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint8_t success;
    uint32_t report_len;
    uint8_t* report;
} inkora_message_get_feature_response;

/* Type 19. */
typedef struct inkora_message_read_bulk_request {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint32_t maximum_reports;
} inkora_message_read_bulk_request;

/* One report of a read-bulk answer. */
typedef struct inkora_message_read_bulk_report {
    uint8_t report_id;
    uint32_t report_len;
    uint8_t* report; /* exactly report_len bytes, no terminator */
} inkora_message_read_bulk_report;

/*
 * Type 20. On the wire a successful answer carries report_count and the
 * reports, a failed one error_len and error_msg; a record owns either the
 * report array (success) or the error text (failure), never both.
 */
typedef struct inkora_message_read_bulk_response {
    inkora_message_common common;
    uint32_t path_len;
    char* path;
    uint8_t success;
    uint32_t error_len;
    char* error_msg;
    uint32_t report_count;
    inkora_message_read_bulk_report* reports;
} inkora_message_read_bulk_response;

/* Type 21. */
typedef struct inkora_message_version_info {
    inkora_message_common common;
    uint32_t total_len; /* bytes after this field; writers set 4 */
    uint8_t version_major;
    uint8_t version_minor;
    uint8_t version_release;
    uint8_t supports_bulk; /* 1 = the read-bulk messages are understood */
} inkora_message_version_info;

/* Every message record; decoded messages are allocated as one zero-filled union. */
typedef union inkora_messages {
    inkora_message_common common;
    inkora_message_deviceenum_request enum_request;
    inkora_message_deviceenum_response enum_response;
    inkora_message_open_request open_request;
    inkora_message_open_response open_response;
    inkora_message_close_request close_request;
    inkora_message_close_response close_response;
    inkora_message_read_request read_request;
    inkora_message_read_bulk_request read_bulk_req;
    inkora_message_read_response read_response;
    inkora_message_read_bulk_response read_bulk_resp;
    inkora_message_set_output_request output_request;
    inkora_message_set_output_response output_response;
    inkora_message_set_feature_request set_feature_request;
    inkora_message_set_feature_response set_feature_response;
    inkora_message_get_feature_request get_feature_request;
    inkora_message_get_feature_response get_feature_response;
    inkora_message_device_attach device_attach;
    inkora_message_device_detach device_detach;
    inkora_message_ping ping;
    inkora_message_pong pong;
    inkora_message_version_info version;
} inkora_messages;

/* Sends len bytes; INKORA_CODE_SUCCESS when all went out. Called concurrently. */
typedef inkora_error_code (*inkora_serial_write_func)(const uint8_t* buffer, uint32_t len);
/* Blocks until it has bytes, stores up to len of them and their count. */
typedef inkora_error_code (*inkora_serial_read_func)(uint8_t* buffer, uint32_t len, uint32_t* readLen);
/* Receives a decoded message no waiter claimed, and its ownership. */
typedef void (*inkora_serial_unhandled_func)(inkora_messages* message);

/* One caller of inkora_serial_send_get_message waiting for its reply. */
typedef struct inkora_serial_event {
    char* path;              /* owned copy of the caller's path, or NULL */
    uint32_t seq_num;        /* the reply must carry this number */
    inkora_event signal_event;   /* reply arrived or wait interrupted */
    inkora_event pickedup_event; /* the waiter has taken its result */
    inkora_messages* message;    /* the reply; NULL until then */
    uint8_t interrupted;         /* 1 = ended by time-out or shutdown */
    time_t sent_time;            /* wall-clock second of registration */
    uint8_t timeout_allowed;     /* 1 = the watchdog may interrupt */
} inkora_serial_event;

/*
 * The dispatch. Allocate it zero-filled, call inkora_message_create_dispatch,
 * set unhandled_func (and read_func if the dispatch pulls its own bytes),
 * call inkora_message_create_dispatch_read_thread, set write_func, then feed
 * bytes and send from any thread; finally inkora_message_destroy_dispatch.
 *
 * The thread flags and the installed functions are shared by the owner and
 * the dispatch's threads without a lock: the dispatch reads and writes them
 * atomically, and an owner that replaces write_func while threads run should
 * store it atomically too (__atomic_store_n in C or C++).
 */
typedef struct inkora_serial_dispatch {
    uint32_t seq_num;                 /* next number to hand out; guarded by seq_mutex */
    inkora_mutex seq_mutex;
    inkora_list* dispatch_events;     /* waiters; guarded by dispatch_mutex */
    inkora_mutex dispatch_mutex;
    uint8_t* input_buffer;            /* ring of undecoded bytes; guarded by input_buffer_mutex */
    uint32_t input_buffer_len;
    uint32_t input_buffer_write_pos;
    uint32_t input_buffer_read_pos;
    uint32_t input_buffer_data_len;
    inkora_mutex input_buffer_mutex;
    inkora_event input_buffer_event;  /* bytes were added, or shutdown */
    inkora_thread read_thread;        /* the decoding thread */
    uint8_t read_thread_closing;      /* 1 = shutting down */
    uint8_t read_thread_running;
    inkora_thread input_thread;       /* only when read_func is set */
    uint8_t input_thread_running;
    inkora_serial_write_func write_func;
    inkora_serial_read_func read_func;
    inkora_serial_unhandled_func unhandled_func;
    inkora_thread watchdog_thread;
    uint32_t watchdog_thread_running;
    /* Wakes the watchdog from its one-second pause at shutdown, so that
     * destroy does not wait for the pause to run out. */
    inkora_event watchdog_event;
} inkora_serial_dispatch;

INKORA_API void inkora_message_create_dispatch(inkora_serial_dispatch* dispatch);
INKORA_API void inkora_message_create_dispatch_read_thread(inkora_serial_dispatch* dispatch);
/*
 * Stops the threads, releases waiters and frees the dispatch. NULL: nothing.
 * Bytes left in the ring are discarded; a half-received message is dropped.
 * Waiters still blocked return INKORA_CODE_ERROR; destroy waits until each
 * of them has let go of the dispatch. The input thread (if any) is joined,
 * so read_func must return (its source end) for destroy to finish. No new
 * call may start once destroy has begun.
 */
INKORA_API void inkora_message_destroy_dispatch(inkora_serial_dispatch* dispatch);
/* Adds a chunk to the ring, whole or not at all; never blocks. A chunk larger
 * than the free space is refused (INKORA_CODE_ERROR) and the ring unchanged. */
INKORA_API inkora_error_code inkora_message_write_to_dispatch(inkora_serial_dispatch* dispatch,
                                                              const uint8_t* buffer, uint32_t len);
/* Pulls exactly len bytes, waiting for them; fails only at shutdown (and for
 * a length the ring could never hold). */
INKORA_API inkora_error_code inkora_message_read_from_dispatch(inkora_serial_dispatch* dispatch,
                                                               uint8_t* buffer, uint32_t len);
/*
 * Decodes one message from the ring (decoding thread). INKORA_CODE_ERROR for
 * an unknown type (its five header bytes consumed), for a message dropped
 * because a field was longer than the scratch buffer (the whole message
 * consumed) and at shutdown; *message is then not set.
 */
INKORA_API inkora_error_code inkora_serial_get_message(inkora_serial_dispatch* dispatch, inkora_messages** message);
/*
 * Encodes message and hands it to write_func in one call. Any thread; the
 * record stays the caller's. INKORA_CODE_ERROR, with nothing written, for an
 * unknown type, a record with a length but no bytes behind it, and a message
 * larger than the 4096-byte send buffer. Without write_func: success, nothing
 * written.
 */
INKORA_API inkora_error_code inkora_serial_send_message(inkora_serial_dispatch* dispatch, inkora_messages* message);
/*
 * Sends request with the next sequence number and waits for the reply with
 * the same number, stored in *reply (the caller frees it). Never call this on
 * the decoding thread. With allowTimeout 1 the watchdog ends the wait after
 * more than 4 seconds. A wait ended by the watchdog or by destroy returns
 * INKORA_CODE_ERROR; its record stays listed until destroy, and a reply that
 * arrives for it later is released, not handed to unhandled_func.
 */
INKORA_API inkora_error_code inkora_serial_send_get_message(inkora_serial_dispatch* dispatch, inkora_messages* request,
                                                            inkora_messages** reply, const char* path,
                                                            uint8_t allowTimeout);
INKORA_API uint32_t inkora_serial_get_seq_num(inkora_serial_dispatch* dispatch);

INKORA_API void* inkora_message_read_thread(void* dispatch);
INKORA_API void* inkora_message_input_thread(void* dispatch);
INKORA_API void* inkora_message_watchdog(void* dispatch);

/* Body readers: pull the body into the scratch buffer (4096 bytes) and fill
 * the record. On failure the record is released and the failure returned. A
 * field longer than the scratch buffer is consumed in pieces as it arrives
 * and the message dropped (WARNING, INKORA_CODE_ERROR), so the next message
 * decodes normally; so is a read-bulk response claiming more reports than
 * fit a message. */
typedef inkora_error_code (*inkora_serial_body_reader)(inkora_serial_dispatch* dispatch, inkora_messages* message,
                                                       uint8_t* scratch);
INKORA_API inkora_error_code inkora_serial_process_deviceenum_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_deviceenum_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_open_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_open_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_close_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_close_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_read_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_read_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_set_output_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_set_output_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_set_feature_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_set_feature_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_get_feature_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_get_feature_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_device_attach(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_device_detach(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_ping(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_pong(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_read_bulk_request(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_read_bulk_response(inkora_serial_dispatch*, inkora_messages*, uint8_t*);
INKORA_API inkora_error_code inkora_serial_process_version_info(inkora_serial_dispatch*, inkora_messages*, uint8_t*);

/* Releases a record of any type and every buffer it points to. NULL: nothing. */
INKORA_API void inkora_free_message(inkora_messages* message);

/*
 * Renders message as text for the log into buffer (length bytes, terminator
 * included; a rendering that does not fit is cut and always terminated).
 * With a NULL buffer the text goes to standard output.
 */
INKORA_API void inkora_print_message(const inkora_messages* message, char* buffer, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_NIBLINE_SERIAL_H */
