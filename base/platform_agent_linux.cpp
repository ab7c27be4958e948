// Agent variant of the platform layer (library vek_base_agent) on Linux: the monotonic clock, a
// busy-wait delay, the interrupt bracket (a process-wide re-entrant lock) and the once-a-second
// soft timer that refreshes the SNMPv3 engine clock.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/agent_log.h"
#include "base/platform.h"
#include "base/platform_internal.h"

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr uint64_t kUsPerSecond = 1000000;
constexpr uint64_t kNsPerUs = 1000;
constexpr auto kSoftTimerPeriod = std::chrono::seconds(1);

// ---- Interrupt bracket ----
// Statically initialised and never destroyed, so the soft timer and late callers can still use it
// while the library's static objects are torn down.
pthread_mutex_t g_irq_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
thread_local uint32_t t_irq_depth = 0;


// ---- Soft timer ----
// A thread that calls the registered callback once a second. It starts with the first
// registration and stops in platform_deinit or when the library is unloaded. The callback runs
// without the timer's lock held, so it may register again or take the interrupt bracket.
class SoftTimer {
public:
    SoftTimer() = default;
    SoftTimer(const SoftTimer &) = delete;
    SoftTimer &operator=(const SoftTimer &) = delete;
    ~SoftTimer() { stop(); }

    void register_callback(platform_1ms_cb callback) {
        callback_.store(callback, std::memory_order_release);
        if (callback != nullptr) {
            start();
        }
    }

    void stop() {
        std::thread worker;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++generation_;
            worker = std::move(worker_);
        }
        wake_.notify_all();
        if (!worker.joinable()) {
            return;
        }
        if (worker.get_id() == std::this_thread::get_id()) {
            worker.detach();  // stopped from its own callback: its loop ends as soon as the callback returns
        } else {
            worker.join();
        }
    }

    bool running() {
        std::lock_guard<std::mutex> guard(lock_);
        return worker_.joinable();
    }

private:
    void start() {
        std::lock_guard<std::mutex> guard(lock_);
        if (worker_.joinable()) {
            return;
        }
        try {
            worker_ = std::thread(&SoftTimer::run, this, generation_);
        } catch (const std::system_error &) {
            AGENT_LOG(AGENT_LOG_ERROR, "platform_register_1ms_callback: soft timer thread start failed");
        }
    }

    // Runs until stop() moves the generation on; each stop ends exactly the threads started before it.
    void run(uint64_t generation) {
        auto next_tick = std::chrono::steady_clock::now() + kSoftTimerPeriod;
        std::unique_lock<std::mutex> guard(lock_);
        auto stopped = [this, generation] { return generation_ != generation; };
        while (!wake_.wait_until(guard, next_tick, stopped)) {
            next_tick += kSoftTimerPeriod;
            guard.unlock();
            platform_1ms_cb callback = callback_.load(std::memory_order_acquire);
            if (callback != nullptr) {
                callback();
            }
            guard.lock();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::thread worker_;
    uint64_t generation_ = 0;
    std::atomic<platform_1ms_cb> callback_{nullptr};
};

SoftTimer g_soft_timer;

}  // namespace

namespace vek::platform_internal {

bool soft_timer_running() { return g_soft_timer.running(); }

}  // namespace vek::platform_internal

extern "C" {

// ---- Initialisation ----

int platform_init(void) {
    AGENT_LOG(AGENT_LOG_INFO, "platform_init: linux platform, use posix clock, no soft timer");
    return 1;
}

void platform_deinit(void) { g_soft_timer.stop(); }

// ---- Clocks and delay ----

uint64_t platform_get_tick_us(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * kUsPerSecond + static_cast<uint64_t>(now.tv_nsec) / kNsPerUs;
}

void platform_delay_ms(uint32_t ms) {
    // Counted in nanoseconds: whole microseconds would let the wait end up to 1 us early.
    const auto monotonic_ns = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint64_t>(now.tv_sec) * kUsPerSecond * kNsPerUs + static_cast<uint64_t>(now.tv_nsec);
    };
    const uint64_t start = monotonic_ns();
    const uint64_t wait_ns = static_cast<uint64_t>(ms) * kUsPerMs * kNsPerUs;
    while (monotonic_ns() - start < wait_ns) {
        // busy wait: the agent's delay never sleeps
    }
}

// ---- Interrupt bracket ----

uint32_t platform_irq_save(void) {
    pthread_mutex_lock(&g_irq_lock);
    return t_irq_depth++;
}

void platform_irq_restore(uint32_t /*state*/) {
    // A restore without a matching save on this thread must not release another thread's hold.
    if (t_irq_depth == 0) {
        return;
    }
    --t_irq_depth;
    pthread_mutex_unlock(&g_irq_lock);
}

// ---- Soft timer ----

void platform_register_1ms_callback(platform_1ms_cb callback) { g_soft_timer.register_callback(callback); }

}  // extern "C"
