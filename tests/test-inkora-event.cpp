#include "inkora-event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct EventGuard {
    inkora_event event{};
    EventGuard() { inkora_event_init(&event); }
    ~EventGuard() { inkora_event_destroy(&event); }
};

TEST(InkoraEvent, TriggerBeforeWaitIsKeptUntilReset) {
    EventGuard g;
    inkora_event_trigger(&g.event);
    inkora_event_wait(&g.event); // returns at once
    inkora_event_wait(&g.event); // still signalled
    EXPECT_EQ(inkora_event_wait_timeout(&g.event, 0), 1);
    inkora_event_reset(&g.event);
    EXPECT_EQ(inkora_event_wait_timeout(&g.event, 20), 0);
}

TEST(InkoraEvent, TriggerFromAnotherThreadWakesTheWaiter) {
    EventGuard g;
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        inkora_event_wait(&g.event);
        woke = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(woke.load());
    inkora_event_trigger(&g.event);
    waiter.join();
    EXPECT_TRUE(woke.load());
}

TEST(InkoraEvent, TimedWaitReturnsOnTimeoutOrTrigger) {
    EventGuard g;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(inkora_event_wait_timeout(&g.event, 50), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    std::thread trigger([&] {
        std::this_thread::sleep_for(10ms);
        inkora_event_trigger(&g.event);
    });
    EXPECT_EQ(inkora_event_wait_timeout(&g.event, 10000), 1);
    trigger.join();
}

TEST(InkoraEvent, DestroyReleasesEveryWaiter) {
    inkora_event event{};
    inkora_event_init(&event);
    std::atomic<int> woke{0};
    struct Shared {
        inkora_event* event;
        std::atomic<int>* woke;
    } shared{&event, &woke};
    auto body = [](void* data) -> void* {
        auto* s = static_cast<Shared*>(data);
        inkora_event_wait(s->event);
        s->woke->fetch_add(1);
        return nullptr;
    };
    inkora_thread waiters[2]{};
    for (auto& waiter : waiters) {
        ASSERT_EQ(inkora_thread_init(&waiter, body, &shared), INKORA_CODE_SUCCESS);
    }
    // Destroy only once both threads are inside their wait.
    for (;;) {
        pthread_mutex_lock(&event.mutex);
        const uint32_t inside = event.waiters;
        pthread_mutex_unlock(&event.mutex);
        if (inside == 2) {
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(woke.load(), 0);
    EXPECT_EQ(inkora_event_destroy(&event), &event);
    for (auto& waiter : waiters) {
        inkora_thread_join(&waiter);
    }
    EXPECT_EQ(woke.load(), 2);
}

TEST(InkoraMutex, SerialisesThreads) {
    inkora_mutex mutex{};
    inkora_mutex_init(&mutex);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            inkora_mutex_lock(&mutex);
            ++counter;
            inkora_mutex_unlock(&mutex);
        }
    };
    std::thread t1(work), t2(work);
    t1.join();
    t2.join();
    inkora_mutex_destroy(&mutex);
    EXPECT_EQ(counter, 200000);
}

TEST(InkoraTicks, AdvanceWithTheClock) {
    const uint32_t before = inkora_get_ticks();
    std::this_thread::sleep_for(30ms);
    const uint32_t elapsed = inkora_get_ticks() - before;
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 5000u);
}

} // namespace
