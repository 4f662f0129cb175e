// Mutex, manual-reset event, thread and tick wrappers over POSIX threads.

#include "inkora-event.h"

#include <sched.h>
#include <sys/time.h>

#include <cerrno>
#include <ctime>

extern "C" {

void inkora_mutex_init(inkora_mutex* mutex) {
    pthread_mutex_init(&mutex->mutex, nullptr);
}

void inkora_mutex_lock(inkora_mutex* mutex) {
    pthread_mutex_lock(&mutex->mutex);
}

void inkora_mutex_unlock(inkora_mutex* mutex) {
    pthread_mutex_unlock(&mutex->mutex);
}

void inkora_mutex_destroy(inkora_mutex* mutex) {
    pthread_mutex_destroy(&mutex->mutex);
}

inkora_event* inkora_event_init(inkora_event* event) {
    pthread_mutex_init(&event->mutex, nullptr);
    // Timed waits measure against the monotonic clock, so that a change of the
    // wall clock neither shortens nor stretches them.
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&event->cond, &attr);
    pthread_condattr_destroy(&attr);
    event->triggered = 0;
    event->waiters = 0;
    return event;
}

void inkora_event_trigger(inkora_event* event) {
    pthread_mutex_lock(&event->mutex);
    event->triggered = 1;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void inkora_event_reset(inkora_event* event) {
    pthread_mutex_lock(&event->mutex);
    event->triggered = 0;
    pthread_mutex_unlock(&event->mutex);
}

void inkora_event_wait(inkora_event* event) {
    pthread_mutex_lock(&event->mutex);
    ++event->waiters;
    while (event->triggered == 0) {
        pthread_cond_wait(&event->cond, &event->mutex);
    }
    --event->waiters;
    pthread_mutex_unlock(&event->mutex);
}

uint8_t inkora_event_wait_timeout(inkora_event* event, uint32_t timeout_ms) {
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeout_ms / 1000u);
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&event->mutex);
    ++event->waiters;
    while (event->triggered == 0) {
        if (pthread_cond_timedwait(&event->cond, &event->mutex, &deadline) == ETIMEDOUT) {
            break;
        }
    }
    --event->waiters;
    const uint8_t triggered = event->triggered;
    pthread_mutex_unlock(&event->mutex);
    return triggered;
}

inkora_event* inkora_event_destroy(inkora_event* event) {
    // Tearing the condition and mutex down under a thread that is still inside
    // a wait would be undefined behaviour, so release every waiter and let
    // them leave before destroying anything.
    pthread_mutex_lock(&event->mutex);
    event->triggered = 1;
    pthread_cond_broadcast(&event->cond);
    while (event->waiters != 0) {
        pthread_mutex_unlock(&event->mutex);
        sched_yield();
        pthread_mutex_lock(&event->mutex);
    }
    pthread_mutex_unlock(&event->mutex);
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    event->triggered = 0;
    return event;
}

inkora_error_code inkora_thread_init(inkora_thread* thread, inkora_thread_func func, void* data) {
    return pthread_create(&thread->thread, nullptr, func, data) == 0 ? INKORA_CODE_SUCCESS : INKORA_CODE_ERROR;
}

void inkora_thread_join(inkora_thread* thread) {
    pthread_join(thread->thread, nullptr);
}

uint32_t inkora_get_ticks(void) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_usec) / 1000u;
    return static_cast<uint32_t>(ms);
}

} // extern "C"
