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
 * is not initialised; otherwise the lowest level that is reported, kept equal
 * to the log's internal gate whenever that changes (init, add_handler,
 * recalculate, destroy). Written by the log only; read it through
 * INKORA_DEBUG_GATE_VALUE, a relaxed atomic load that costs a plain load.
 */
INKORA_API extern uint32_t inkora_debug_gate;

#if defined(__GNUC__)
#define INKORA_DEBUG_GATE_VALUE() __atomic_load_n(&inkora_debug_gate, __ATOMIC_RELAXED)
#else
#define INKORA_DEBUG_GATE_VALUE() (inkora_debug_gate)
#endif

/*
 * Reads the environment (INKORA_DEBUG, INKORA_DEBUG_LEVEL,
 * INKORA_DEBUG_LOCATION or else TMPDIR, TEMP, TMP, "/tmp/",
 * INKORA_DEBUG_FILE, INKORA_DEBUG_HANDLERS, INKORA_TRACE, INKORA_TRACE_FILE),
 * opens the registered handlers and reports the process fingerprint at INFO.
 * The label pointer is stored, not copied: it must outlive the log. While
 * initialised a further call does nothing. Call it before other threads
 * report.
 */
INKORA_API void inkora_debug_init(const char* label);
/*
 * Closes every handler and the trace file and frees the configuration; then
 * reports are dropped until the next init. Nothing when not initialised.
 * Call it when no other thread reports any more.
 */
INKORA_API void inkora_debug_destroy(void);
/*
 * Reports one record when the log is initialised and level is not below the
 * gate (unsigned comparison). Any thread. The text is cut at 8190 characters.
 */
INKORA_API void inkora_debug_report_message(const char* function, const char* file, int32_t line_num,
                                            inkora_debug_level level, const char* message, ...)
    INKORA_PRINTF(5, 6);
INKORA_API void inkora_debug_report_message_va(const char* function, const char* file, int32_t line_num,
                                               inkora_debug_level level, const char* message, va_list args)
    INKORA_PRINTF(5, 0);
/*
 * Handlers are held by pointer, never freed. Add and remove only while no
 * other thread reports (reports walk the list without a lock). Adding
 * recalculates the gate; removing leaves it; neither opens nor closes.
 */
INKORA_API void inkora_debug_add_handler(inkora_debug_handler* handler);
INKORA_API void inkora_debug_remove_handler(inkora_debug_handler* handler);
INKORA_API void inkora_debug_recalculate_debug_level(void);
INKORA_API inkora_list* inkora_debug_get_handlers(void);
INKORA_API const char* inkora_debug_get_level_name(inkora_debug_level level);
INKORA_API uint32_t inkora_debug_get_current_process_id(void);
INKORA_API uint32_t inkora_debug_get_current_thread_id(void);

/*
 * Building blocks of the report path and the file handler. create_message
 * returns a new record (free it with inkora_debug_free_message) or NULL when
 * memory runs out; the formatter returns a new text of at most 8191
 * characters and its length, which the caller frees.
 */
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

/*
 * Configuration steps of inkora_debug_init, in the order init runs them. They
 * work on the log's process-wide state and are meant to be called by init
 * only: setup runs the others; read_env_debug_path sets the location,
 * read_env_debug_level the configured level, read_env_debug_file and
 * read_env_trace_file the file names (tokens substituted), read_env_handlers
 * registers the file handler when selected.
 */
INKORA_API void inkora_debug_setup(void);
INKORA_API void inkora_read_env_debug_path(void);
INKORA_API void inkora_read_env_debug_level(void);
INKORA_API void inkora_read_env_debug_file(void);
INKORA_API void inkora_read_env_trace_file(void);
INKORA_API void inkora_read_env_handlers(void);
/*
 * Replaces, in the owned text *name, the first "${pid}" by the process id,
 * the first "${label}" by the label given to init and the first "${random}"
 * by nine decimal digits (drawn at every call). *name is freed and replaced.
 */
INKORA_API void inkora_debug_file_sub(char** name);
/*
 * Replaces the first occurrence of token in the owned (malloc) text *text by
 * replacement: *text is freed and replaced by a new text. No occurrence, or a
 * NULL or empty argument: *text stays as it is.
 */
INKORA_API void replace_token(char** text, const char* token, const char* replacement);

/*
 * Traffic trace, a classic pcap capture (microsecond time stamps, Ethernet).
 * Every record is a synthetic 42-byte Ethernet/IPv4/UDP header (port 1000 to
 * 1000) and the chunk. Direction 1 = received from the remote side (host
 * 1.0.0.0 to 2.0.0.0), anything else = sent (2.0.0.0 to 1.0.0.0).
 *
 * write_trace_header opens the file (mode "wb") and writes the 24-byte global
 * header; once a file is open further calls do nothing, so the header stays
 * at the start. write_trace appends one record and flushes; any thread;
 * records never interleave. A chunk longer than 65507 bytes (the most the
 * 16-bit length fields can describe) is cut to 65507 captured bytes, and
 * orig_len keeps its real length. The wrappers have the signatures of the
 * dispatch's write_func and read_func; wrap_dispatch installs them in place of
 * the dispatch's own functions (one dispatch per process), only when the trace
 * is on.
 */
#define INKORA_TRACE_DIRECTION_INCOMING 1u
#define INKORA_TRACE_DIRECTION_OUTGOING 2u
INKORA_API void inkora_debug_write_trace_header(void);
INKORA_API void inkora_debug_write_trace(const uint8_t* buffer, uint32_t len, uint32_t direction);
INKORA_API void inkora_debug_trace_wrap_dispatch(struct inkora_serial_dispatch* dispatch);
INKORA_API inkora_error_code inkora_debug_trace_write_wrapper(const uint8_t* buffer, uint32_t len);
INKORA_API inkora_error_code inkora_debug_trace_reader_wrapper(uint8_t* buffer, uint32_t len, uint32_t* readLen);

/*
 * Process fingerprint: reports at INFO "Process starting, proccess name: ...",
 * preceded, the first time in a process, by "Linux kernel version is ...".
 * get_current_process_name returns a new text (caller frees; empty when
 * /proc/self/exe cannot be read). get_native_architecture and
 * get_operating_system return texts cached for the life of the process
 * (borrowed; filled on first use without a lock, which init does first).
 */
INKORA_API void inkora_debug_print_fingerprint(void);
INKORA_API char* inkora_debug_get_current_process_name(void);
INKORA_API const char* inkora_debug_get_native_architecture(void);
INKORA_API const char* inkora_debug_get_process_architecture(void);
INKORA_API const char* inkora_debug_get_operating_system(void);

/* One "key=value" line of an os-release style file; both texts owned. */
typedef struct key_value_pair {
    char* key;
    char* value;
} key_value_pair;

/*
 * The distribution: PRETTY_NAME or DISTRIB_DESCRIPTION from /etc/os-release,
 * /usr/lib/os-release, /etc/lsb-release (first file that has one), else the
 * first line of /etc/redhat-release, else "Linux (Unknown)". Always a new
 * text, which the caller frees.
 */
INKORA_API char* linux_get_distribution(void);
/* First line of /etc/redhat-release without its newline (new text), or NULL. */
INKORA_API char* linux_get_redhat_distribution(void);
/*
 * Appends one key_value_pair per line holding "=" to list, in file order
 * (lines are read in pieces of at most 2047 bytes, each piece a line; one
 * enclosing pair of double quotes is removed from the value). Returns 1 when
 * the file could be opened, 0 otherwise (list untouched).
 */
INKORA_API uint8_t read_key_value_pair_file(const char* path, inkora_list* list);
/* Frees every pair with its texts, then the list. NULL: nothing. */
INKORA_API void free_keypair_list(inkora_list* list);

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
        if ((uint32_t)(level) >= INKORA_DEBUG_GATE_VALUE())                                        \
            inkora_debug_report_message(__func__, __FILE__, __LINE__, (level), __VA_ARGS__);       \
    } while (0)

#define INKORA_LOG_FINEST(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINEST, __VA_ARGS__)
#define INKORA_LOG_FINE(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_FINE, __VA_ARGS__)
#define INKORA_LOG_INFO(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_INFO, __VA_ARGS__)
#define INKORA_LOG_WARNING(...) INKORA_DEBUG_REPORT(INKORA_DEBUG_LEVEL_WARNING, __VA_ARGS__)

#endif /* INKORA_DEBUG_H */
