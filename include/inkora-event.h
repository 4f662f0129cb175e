/*
 * Mutex, manual-reset event, thread handle and millisecond ticks: thin
 * wrappers over POSIX threads and the system clock, shared by the agent and
 * the channel plug-in. None of them logs.
 */
#ifndef INKORA_EVENT_H
#define INKORA_EVENT_H

#include <pthread.h>
#include <stdint.h>

#include "inkora-types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct inkora_mutex {
    pthread_mutex_t mutex; /* default attributes: not recursive */
} inkora_mutex;

/*
 * A manual-reset event: once triggered it stays signalled, and every wait
 * returns at once, until inkora_event_reset. Trigger wakes at most one waiter,
 * so an event is meant to have a single waiter at a time.
 */
typedef struct inkora_event {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    uint8_t triggered; /* 1 = signalled; guarded by mutex */
    uint32_t waiters;  /* threads inside a wait; guarded by mutex; destroy waits for 0 */
} inkora_event;

typedef struct inkora_thread {
    pthread_t thread;
} inkora_thread;

typedef void* (*inkora_thread_func)(void* data);

INKORA_API void inkora_mutex_init(inkora_mutex* mutex);
INKORA_API void inkora_mutex_lock(inkora_mutex* mutex);
INKORA_API void inkora_mutex_unlock(inkora_mutex* mutex);
INKORA_API void inkora_mutex_destroy(inkora_mutex* mutex);

/* Creates the mutex and condition, clears triggered; returns event. */
INKORA_API inkora_event* inkora_event_init(inkora_event* event);
/* Sets triggered and wakes at most one waiter. Safe from any thread. */
INKORA_API void inkora_event_trigger(inkora_event* event);
/* Clears triggered. */
INKORA_API void inkora_event_reset(inkora_event* event);
/* Waits until triggered is set; does not clear it. */
INKORA_API void inkora_event_wait(inkora_event* event);
/*
 * Waits until triggered is set or timeout_ms milliseconds passed. Returns 1
 * when the event is triggered, 0 on time-out. Does not clear the event.
 */
INKORA_API uint8_t inkora_event_wait_timeout(inkora_event* event, uint32_t timeout_ms);
/*
 * Triggers the event, releasing every waiter, waits until they have left
 * their wait, then destroys it; returns event. No wait may start afterwards.
 */
INKORA_API inkora_event* inkora_event_destroy(inkora_event* event);

/*
 * Starts a joinable thread running func(data). Returns INKORA_CODE_SUCCESS, or
 * INKORA_CODE_ERROR when the thread could not be created.
 */
INKORA_API inkora_error_code inkora_thread_init(inkora_thread* thread, inkora_thread_func func, void* data);
/* Joins the thread, discarding its result. */
INKORA_API void inkora_thread_join(inkora_thread* thread);

/*
 * Wall-clock milliseconds (gettimeofday), truncated to 32 bits. Values wrap
 * every 2^32 ms: compare ticks by unsigned subtraction.
 */
INKORA_API uint32_t inkora_get_ticks(void);

#ifdef __cplusplus
}
#endif

#endif /* INKORA_EVENT_H */
