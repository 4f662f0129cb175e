/*
 * The agent child process and the relay of its output.
 *
 * inkora_create_process starts a program with its standard input on one pipe
 * and its standard output and standard error on another; a reading thread
 * hands every chunk the program writes to the record's read_incoming, and
 * write_outgoing writes bytes to the program's standard input. The module
 * knows nothing of what the bytes mean.
 *
 * Threads: inkora_create_process, write_outgoing and inkora_destroy_process
 * are called by the owner's thread (in the plug-in, the Citrix client's
 * thread); read_incoming runs on the reading thread.
 */
#ifndef INKORA_PROCESS_H
#define INKORA_PROCESS_H

#include <stdint.h>
#include <sys/types.h>

#include "inkora-event.h"
#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct inkora_process inkora_process;

/*
 * Receives one chunk the child wrote (1 to 10240 bytes), on the reading
 * thread. The bytes are valid during the call only. The result is the
 * receiver's own (the plug-in: 1 sent or buffered, 0 refused); the relay
 * does not look at it.
 */
typedef int (*inkora_read_incoming)(inkora_process* process, const uint8_t* bytes, int32_t length);

/* Writes bytes to the child's standard input; count written or -1. */
typedef int (*inkora_write_outgoing)(inkora_process* process, const uint8_t* bytes, int32_t length);

typedef struct inkora_process_private {
    pid_t pid;         /* the child; 0 before the start */
    int stdoutPipe[2]; /* read end, write end: child's stdout and stderr to us */
    int stdinPipe[2];  /* read end, write end: us to the child's stdin */
    int wakePipe[2];   /* read end, write end: tells the reading thread to stop */
    int pidfd;         /* process descriptor of the child, -1 if the kernel has none */
    uint8_t started;   /* 1 from a successful start until the tear-down */
    uint8_t reaped;    /* 1 once the child's exit status has been collected */
    int status;        /* the child's wait status, valid once reaped is 1 */
} inkora_process_private;

struct inkora_process {
    const char* path;                     /* program to run; needed only during the start */
    char* const* argv;                    /* arguments, NULL-terminated; NULL: just the path as argv[0] */
    const char* startPath;                /* working directory of the child; NULL keeps ours */
    uint8_t running;                      /* 1 while the reading thread is to go on */
    inkora_read_incoming read_incoming;   /* set by the user before the start */
    inkora_write_outgoing write_outgoing; /* set by the start */
    inkora_thread reading_thread;
    inkora_process_private priv;
};

/*
 * Starts path with argv (environment inherited) in startPath. The child's
 * stdin, stdout and stderr are the pipes; our pipe ends are not inherited by
 * it. Returns INKORA_CODE_SUCCESS when the child was forked and the reading
 * thread runs (a child that then cannot enter startPath or execute path ends
 * at once with exit status 127, which the reading thread sees as end of
 * output); INKORA_CODE_ERROR when a pipe, the fork or the thread could not be
 * made, with nothing left behind. The record must be zero-filled or torn down.
 */
INKORA_API inkora_error_code inkora_create_process(inkora_process* process);

/* 1 while the child exists (also as a not yet collected zombie), else 0. */
INKORA_API uint8_t inkora_process_running(inkora_process* process);

/*
 * Kills the child (signal 9) if it still exists, stops and joins the reading
 * thread, collects the child's exit status (no zombie is left) and closes
 * every pipe; the descriptors in the record become -1. A record that was never
 * started is left alone. Returns 1.
 */
INKORA_API int inkora_destroy_process(inkora_process* process);

/* Blocks until the child has ended: 1, or -1 when waiting fails or no child was started. */
INKORA_API int inkora_wait_for_process(inkora_process* process);

/*
 * One write of the bytes to the child's stdin. Returns the count written, or
 * -1 when the write fails (among others when the child has ended: the
 * broken-pipe signal is then neither delivered nor left pending).
 */
INKORA_API int inkora_default_write_outgoing(inkora_process* process, const uint8_t* bytes, int32_t length);

/* The reading thread's function; its argument is the process record. */
INKORA_API void* inkora_process_read_thread(void* process);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_PROCESS_H */
