/*
 * The agent core of penlark-remote-standalone: process-wide state, the router
 * of incoming wire messages, enumeration and sessions, input streaming,
 * report pass-through, keep-alive and hot-plug notices.
 *
 * Threads: remote_init starts the dispatch's decoding thread (which runs the
 * router and every handler, one message at a time), the pump thread and the
 * ping thread; every open session has a reading thread; the device library's
 * hot-plug thread calls inkora_remote_hotplug_callback. The handlers are
 * public so that the agent's own tests can call them; in the program only the
 * router calls them, on the decoding thread.
 *
 * Locks, in the order they may nest (a lock is only ever taken while holding
 * locks listed before it):
 *   enumDevicesMutex -> readMessagesMutex -> readHandleMessagesMutex
 *   -> deviceAliasesMutex, openDevicesMutex (leaves, never nested together).
 * openDevicesMutex is never held while sending a message or joining a
 * reading thread; the writer's own lock (in the program) is taken last.
 *
 * This header is C-compatible.
 */
#ifndef INKORA_REMOTE_COMMON_H
#define INKORA_REMOTE_COMMON_H

#include <stdint.h>

#include "inkora-event.h"
#include "inkora-list.h"
#include "inkora-nibline-serial.h"
#include "inkora-nibline.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest gap between incoming messages, in ms, while a pad is open. */
#define INKORA_REMOTE_KEEPALIVE_TIMEOUT_MS 10000u
/* Pause of the ping thread between pings, in microseconds. */
#define INKORA_REMOTE_PING_INTERVAL_US 2500000u
/* Sequence number of every ping the agent sends. */
#define INKORA_REMOTE_PING_SEQ_NUM 1u
/* Size of an alias buffer, terminator included. */
#define INKORA_REMOTE_ALIAS_LEN 10u
/* Buffers for error texts the agent formats itself. */
#define INKORA_REMOTE_ERROR_TEXT_LEN 2048u
/* Text buffer a reply is rendered into for the log. */
#define INKORA_REMOTE_PRINT_BUFFER_LEN 8192u

/* One entry of the alias table; both texts owned; entries live until remote_destroy. */
typedef struct inkora_device_alias {
    char* path;  /* the device path as the device library reports it */
    char* alias; /* INKORA_REMOTE_ALIAS_LEN zero-filled bytes: the decimal number */
} inkora_device_alias;

/* What a session's inkora_device.user_defined points to. */
typedef struct remote_device_params {
    inkora_thread read_thread; /* the session's reading thread */
} remote_device_params;

/* One queued input report (success 1) or read failure (success 0). */
typedef struct inkora_serial_input_report {
    char* path;         /* owned: the device path of the session */
    uint8_t success;
    uint32_t report_len;
    uint8_t* report;    /* owned: the raw report, id first (reports only) */
    char* error_msg;    /* owned: the library's text (failures only) */
} inkora_serial_input_report;

/* One parked read request. */
typedef struct inkora_read_handle {
    uint32_t seq_num;     /* the request's; the response carries it */
    char* path;           /* owned: the device path the request resolved to */
    uint8_t is_bulk;      /* 1 for a bulk read */
    uint32_t max_reports; /* most reports of a bulk answer; 0 for a single read */
} inkora_read_handle;

/* Lifecycle: main calls remote_init once, after inkora_init. */
INKORA_API void remote_init(void);
/* Stops the agent core's threads, ends every session and frees the state. */
INKORA_API void remote_destroy(void);
/* The agent's dispatch; NULL before remote_init and after remote_destroy. */
INKORA_API inkora_serial_dispatch* get_dispatch(void);

/* Router: installed as the dispatch's unhandled_func; owns and frees message. */
INKORA_API void inkora_handle_message(inkora_messages* message);
INKORA_API void inkora_handle_ping(inkora_messages* message);
INKORA_API void inkora_handle_pong(inkora_messages* message);

/* Aliases and sessions (decoding thread; the alias table is locked inside). */
INKORA_API const char* inkora_get_device_alias(const char* path);
INKORA_API const char* inkora_get_device_path(const char* name);
/* Returns the session of name, or NULL. The record may be ended by a detach on
 * the hot-plug thread as soon as this returns: hold on to it only on the
 * decoding thread, and only for membership tests. */
INKORA_API inkora_device* inkora_lookup_open_device(const char* name);
INKORA_API void inkora_handle_deviceenum_message(inkora_messages* message);
INKORA_API void inkora_handle_open_message(inkora_messages* message);
INKORA_API void inkora_handle_close_message(inkora_messages* message);

/* Input streaming. */
INKORA_API void inkora_handle_read_message(inkora_messages* message);
INKORA_API void inkora_handle_read_bulk_message(inkora_messages* message);
INKORA_API void inkora_remote_input_callback(inkora_device* device, inkora_input_report* report, uint8_t report_id,
                                             const uint8_t* raw, uint32_t raw_length);
/* Ownership of report passes to the queue. */
INKORA_API void inkora_add_message_to_queue(inkora_serial_input_report* report);
INKORA_API void* inkora_open_device_read_thread(void* device);
INKORA_API void* inkora_pump_messages_thread(void* unused);
/*
 * Takes the queued records that answer handle (caller holds readMessagesMutex)
 * and returns a new read or bulk read response, or NULL when nothing matches.
 * A bulk answer never grows beyond the send buffer: records that do not fit
 * stay queued for the next request.
 */
INKORA_API inkora_messages* inkora_batch_input_messages(inkora_read_handle* handle, inkora_list* queue);
INKORA_API void inkora_serial_free_input_report(inkora_serial_input_report* report);

/* Report pass-through and version. */
INKORA_API void inkora_handle_set_output(inkora_messages* message);
INKORA_API void inkora_handle_set_feature(inkora_messages* message);
INKORA_API void inkora_handle_get_feature(inkora_messages* message);
INKORA_API void inkora_handle_version_info(inkora_messages* message);

/* Keep-alive and hot-plug. */
INKORA_API void* inkora_ping_thread(void* unused);
INKORA_API void inkora_timeout_cleanup(void);
INKORA_API void inkora_remote_hotplug_callback(inkora_hotplug_type type, const char* path);

/*
 * The keep-alive decision of the router: 1 when more than
 * INKORA_REMOTE_KEEPALIVE_TIMEOUT_MS passed from last to now (unsigned 32-bit
 * arithmetic, so a gap across the tick counter's wrap counts right).
 */
INKORA_API uint8_t inkora_remote_keepalive_expired(uint32_t last, uint32_t now);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_REMOTE_COMMON_H */
