// A scope guard for inkora_mutex, for the C++ modules that use the C
// primitives: the mutex is held from construction to destruction, or until
// unlock() releases it early.
#ifndef INKORA_MUTEX_LOCK_HPP
#define INKORA_MUTEX_LOCK_HPP

#include "inkora-event.h"

namespace inkora {

class MutexLock {
public:
    explicit MutexLock(inkora_mutex* mutex) noexcept : mutex_(mutex) { inkora_mutex_lock(mutex_); }
    explicit MutexLock(inkora_mutex& mutex) noexcept : MutexLock(&mutex) {}
    ~MutexLock() { unlock(); }
    void unlock() noexcept {
        if (mutex_ != nullptr) {
            inkora_mutex_unlock(mutex_);
            mutex_ = nullptr;
        }
    }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    inkora_mutex* mutex_;
};

} // namespace inkora

#endif // INKORA_MUTEX_LOCK_HPP
