/*
 * Diagnostics: the levelled debug log, the pcap trace of channel traffic and
 * the process fingerprint.
 *
 * Everything is configured by environment variables read once by
 * inkora_debug_init. With none of them set the log is off, no file is
 * created, and a report costs one comparison.
 */
#ifndef INKORA_DEBUG_H
#define INKORA_DEBUG_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "inkora-list.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct inkora_serial_dispatch;

/* Levels compare as unsigned numbers; higher is more severe. */
typedef enum inkora_debug_level {
    INKORA_DEBUG_LEVEL_ALL = 0,
    INKORA_DEBUG_LEVEL_FINEST = 100,
    INKORA_DEBUG_LEVEL_FINER = 200,
    INKORA_DEBUG_LEVEL_FINE = 300,
    INKORA_DEBUG_LEVEL_INFO = 400,
    INKORA_DEBUG_LEVEL_WARNING = 500,
    INKORA_DEBUG_LEVEL_SEVERE = 600,
    INKORA_DEBUG_LEVEL_NONE = 700
} inkora_debug_level;

/* One report; lives only for the length of one report. */
typedef struct inkora_debug_message {
    inkora_debug_level level;
    char* message;        /* formatted text, owned, 8192-byte zero-filled buffer */
    time_t time;          /* wall-clock seconds */
    uint32_t thread_id;   /* kernel thread id (gettid) */
    uint32_t process_id;  /* getpid */
    const char* function; /* borrowed */
    const char* file;     /* borrowed */
    int32_t line_num;
} inkora_debug_message;

typedef struct inkora_debug_handler inkora_debug_handler;

/* One output of the log. The log holds handlers by pointer and never frees them. */
struct inkora_debug_handler {
    void (*open)(inkora_debug_handler* handler);
    void (*close)(inkora_debug_handler* handler);
    void (*flush)(inkora_debug_handler* handler);
    void (*publish)(inkora_debug_handler* handler, inkora_debug_message* message);
    /* Returns a new text (caller frees) and stores its length in *length. */
    char* (*formatter)(inkora_debug_handler* handler, inkora_debug_message* message, size_t* length);
    uint8_t (*filter)(inkora_debug_handler* handler, inkora_debug_message* message);
    inkora_debug_level level;
    void* handlerData;
};

typedef struct inkora_debug_file_handler_data {
    FILE* file;
    uint8_t open;
} inkora_debug_file_handler_data;

/* The built-in handler that appends records to the log file. */
INKORA_API extern inkora_debug_handler inkora_debug_file_handler;

/*
 * The level gate as a plain variable, so that a report below it costs one
 * comparison in the caller (see INKORA_DEBUG_REPORT). UINT32_MAX while the log
 * is not initialised; otherwise the lowest level that is reported.
 */
INKORA_API extern uint32_t inkora_debug_gate;

INKORA_API void inkora_debug_init(const char* label);
INKORA_API void inkora_debug_destroy(void);
INKORA_API void inkora_debug_report_message(const char* function, const char* file, int32_t line_num,
                                            inkora_debug_level level, const char* message, ...)
    INKORA_PRINTF(5, 6);
INKORA_API void inkora_debug_report_message_va(const char* function, const char* file, int32_t line_num,
                                               inkora_debug_level level, const char* message, va_list args)
    INKORA_PRINTF(5, 0);
INKORA_API void inkora_debug_add_handler(inkora_debug_handler* handler);
INKORA_API void inkora_debug_remove_handler(inkora_debug_handler* handler);
INKORA_API void inkora_debug_recalculate_debug_level(void);
INKORA_API inkora_list* inkora_debug_get_handlers(void);
INKORA_API const char* inkora_debug_get_level_name(inkora_debug_level level);
INKORA_API uint32_t inkora_debug_get_current_process_id(void);
INKORA_API uint32_t inkora_debug_get_current_thread_id(void);

/* Building blocks of the report path and the file handler. */
INKORA_API inkora_debug_message* inkora_debug_create_message(const char* function, const char* file, int32_t line_num,
                                                             time_t time, uint32_t process_id, uint32_t thread_id,
                                                             inkora_debug_level level, const char* format,
                                                             va_list args) INKORA_PRINTF(8, 0);
INKORA_API void inkora_debug_free_message(inkora_debug_message* message);
INKORA_API char* inkora_debug_default_formatter(inkora_debug_handler* handler, inkora_debug_message* message,
                                                size_t* length);
INKORA_API uint8_t inkora_debug_default_filter(inkora_debug_handler* handler, inkora_debug_message* message);
INKORA_API void inkora_debug_file_publisher(inkora_debug_handler* handler, inkora_debug_message* message);
INKORA_API void inkora_debug_file_handler_open(inkora_debug_handler* handler);
INKORA_API void inkora_debug_file_handler_close(inkora_debug_handler* handler);
INKORA_API void inkora_debug_file_handler_flush(inkora_debug_handler* handler);

/* Traffic trace. Direction 1 = received from the remote side, anything else = sent. */
#define INKORA_TRACE_DIRECTION_INCOMING 1u
#define INKORA_TRACE_DIRECTION_OUTGOING 2u
INKORA_API void inkora_debug_write_trace_header(void);
INKORA_API void inkora_debug_write_trace(const uint8_t* buffer, uint32_t len, uint32_t direction);
INKORA_API void inkora_debug_trace_wrap_dispatch(struct inkora_serial_dispatch* dispatch);
INKORA_API inkora_error_code inkora_debug_trace_write_wrapper(const uint8_t* buffer, uint32_t len);
INKORA_API inkora_error_code inkora_debug_trace_reader_wrapper(uint8_t* buffer, uint32_t len, uint32_t* readLen);

/* Process fingerprint. */
INKORA_API void inkora_debug_print_fingerprint(void);
INKORA_API char* inkora_debug_get_current_process_name(void);
INKORA_API const char* inkora_debug_get_native_architecture(void);
INKORA_API const char* inkora_debug_get_process_architecture(void);
INKORA_API const char* inkora_debug_get_operating_system(void);

#ifdef __cplusplus
}
#endif

/*
 * Report with the caller's function, file and line. The gate is tested
 * before the call, so a report below it costs one comparison and evaluates
 * none of its arguments.
 */
#define INKORA_DEBUG_REPORT(level, ...)                                                            \
    do {                                                                                           \
        if ((uint32_t)(level) >= inkora_debug_gate)                                                \
            inkora_debug_report_message(__func__, __FILE__, __LINE__, (level), __VA_ARGS__);       \
    } while (0)

#define INKORA_LOG_FINEST(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINEST, __VA_ARGS__)
#define INKORA_LOG_FINE(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINE, __VA_ARGS__)
#define INKORA_LOG_INFO(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_INFO, __VA_ARGS__)
#define INKORA_LOG_WARNING(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_WARNING, __VA_ARGS__)

#endif /* INKORA_DEBUG_H */
