// Agent variant of the platform layer (library vek_base_agent) on Windows: the performance counter
// as the monotonic clock, a sleeping delay, the interrupt bracket (a process-wide critical section)
// and the 1 ms soft timer that counts ticks and calls the registered callback once a second.
//
// The soft timer is a periodic waitable timer whose completion routine runs on a thread of its own,
// which waits alertably for nothing but its stop event. A routine that comes late (a busy system
// coalesces expirations) catches up: the tick counter follows the performance counter, so a second
// of ticks is a second of real time and the callback runs once for every second that passed.
#include <windows.h>
#include <process.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <utility>

#include "base/agent_log.h"
#include "base/platform.h"
#include "base/platform_internal.h"

namespace pi = vek::platform_internal;

namespace {

constexpr uint64_t kUsPerMs = 1000;
constexpr LONGLONG kFileTimeUnitsPerMs = 10000;  // 100 ns units of a waitable timer's due time
constexpr LONG kTimerPeriodMs = 1;
constexpr uint64_t kTicksPerCallback = 1000;     // the callback runs once a second

// ---- Interrupt bracket ----
// Created on first use and never deleted, so the soft timer and late callers can still enter it
// while the library's static objects are torn down.
CRITICAL_SECTION &irq_section() {
    static CRITICAL_SECTION *const section = [] {
        auto *created = new CRITICAL_SECTION;
        InitializeCriticalSection(created);
        return created;
    }();
    return *section;
}
thread_local uint32_t t_irq_depth = 0;

// ---- Soft timer ----
class SoftTimer {
public:
    SoftTimer() noexcept { InitializeCriticalSection(&cs_timer_); }
    SoftTimer(const SoftTimer &) = delete;
    SoftTimer &operator=(const SoftTimer &) = delete;

    // Starts the timer thread unless it runs; false when the timer could not be armed.
    bool start() {
        EnterCriticalSection(&cs_timer_);
        const bool ok = thread_ != nullptr || launch();
        LeaveCriticalSection(&cs_timer_);
        return ok;
    }

    void stop() {
        EnterCriticalSection(&cs_timer_);
        const HANDLE thread = std::exchange(thread_, nullptr);
        const HANDLE stop_event = std::exchange(stop_event_, nullptr);
        LeaveCriticalSection(&cs_timer_);
        if (thread == nullptr) {
            return;
        }
        SetEvent(stop_event);
        if (GetCurrentThreadId() != GetThreadId(thread)) {  // stopped from its own callback: it ends on return
            WaitForSingleObject(thread, INFINITE);
        }
        CloseHandle(thread);
        CloseHandle(stop_event);
    }

    void register_callback(platform_1ms_cb callback) { callback_.store(callback, std::memory_order_release); }

    bool running() {
        EnterCriticalSection(&cs_timer_);
        const bool active = thread_ != nullptr;
        LeaveCriticalSection(&cs_timer_);
        return active;
    }

    uint64_t ticks() {
        EnterCriticalSection(&cs_timer_);
        const uint64_t value = sys_tick_1ms_;
        LeaveCriticalSection(&cs_timer_);
        return value;
    }

private:
    // What the timer's thread is started with.
    struct Start {
        SoftTimer *timer;
        HANDLE stop_event;  // ends the thread
        HANDLE armed;       // set once the timer runs
    };

    // The timer's thread: arms the periodic timer (its completion routine runs on the thread that
    // armed it, and only while that thread waits alertably) and waits for the stop event.
    static unsigned __stdcall run(void *start_arg) {
        const Start start = *static_cast<const Start *>(start_arg);
        const HANDLE waitable = CreateWaitableTimerW(nullptr, FALSE, nullptr);
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>(kTimerPeriodMs) * kFileTimeUnitsPerMs;  // relative: 1 ms from now
        start.timer->start_us_ = pi::performance_counter_us();
        if (waitable == nullptr || !SetWaitableTimer(waitable, &due, kTimerPeriodMs, on_expiry, start.timer, FALSE)) {
            if (waitable != nullptr) {
                CloseHandle(waitable);
            }
            return 1;
        }
        SetEvent(start.armed);
        while (WaitForSingleObjectEx(start.stop_event, INFINITE, TRUE) == WAIT_IO_COMPLETION) {
        }
        CancelWaitableTimer(waitable);
        CloseHandle(waitable);
        return 0;
    }

    // Completion routine: one call per expiry, on the timer's thread.
    static void CALLBACK on_expiry(void *self, DWORD /*low*/, DWORD /*high*/) { static_cast<SoftTimer *>(self)->tick(); }

    void tick() {
        EnterCriticalSection(&cs_timer_);
        const uint64_t elapsed_ms = (pi::performance_counter_us() - start_us_) / kUsPerMs;
        const uint64_t advance = elapsed_ms > sys_tick_1ms_ ? elapsed_ms - sys_tick_1ms_ : 0;
        sys_tick_1ms_ += advance;
        div_1ms_cnt_ += advance;
        const platform_1ms_cb callback = callback_.load(std::memory_order_acquire);
        if (callback == nullptr) {
            div_1ms_cnt_ %= kTicksPerCallback;  // seconds without a callback are not made up later
        }
        while (callback != nullptr && div_1ms_cnt_ >= kTicksPerCallback) {
            div_1ms_cnt_ -= kTicksPerCallback;
            callback();  // with cs_timer held, as the contract says
        }
        LeaveCriticalSection(&cs_timer_);
    }

    // cs_timer held: starts the thread and waits until its timer is armed, or the thread has ended.
    bool launch() {
        Start start{this, CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        sys_tick_1ms_ = 0;
        div_1ms_cnt_ = 0;
        const uintptr_t thread =
            start.stop_event != nullptr && start.armed != nullptr ? _beginthreadex(nullptr, 0, run, &start, 0, nullptr) : 0;
        bool armed = false;
        if (thread != 0) {
            const std::array<HANDLE, 2> outcome{start.armed, reinterpret_cast<HANDLE>(thread)};
            armed = WaitForMultipleObjects(outcome.size(), outcome.data(), FALSE, INFINITE) == WAIT_OBJECT_0;
            if (!armed) {
                CloseHandle(reinterpret_cast<HANDLE>(thread));
            }
        }
        if (start.armed != nullptr) {
            CloseHandle(start.armed);
        }
        if (!armed) {
            if (start.stop_event != nullptr) {
                CloseHandle(start.stop_event);
            }
            return false;
        }
        thread_ = reinterpret_cast<HANDLE>(thread);
        stop_event_ = start.stop_event;
        return true;
    }

    CRITICAL_SECTION cs_timer_{};
    HANDLE thread_ = nullptr;
    HANDLE stop_event_ = nullptr;
    uint64_t start_us_ = 0;
    uint64_t sys_tick_1ms_ = 0;  // the tick counter: 1 ms periods since the timer started
    uint64_t div_1ms_cnt_ = 0;   // ticks since the callback last ran
    std::atomic<platform_1ms_cb> callback_{nullptr};
};

// Never destroyed: its thread may outlive the library's static objects until the process ends.
SoftTimer &soft_timer() {
    static SoftTimer *const timer = new SoftTimer;
    return *timer;
}

}  // namespace

namespace vek::platform_internal {

bool soft_timer_running() { return soft_timer().running(); }

uint64_t soft_timer_ticks() { return soft_timer().ticks(); }

}  // namespace vek::platform_internal

extern "C" {

// ---- Initialisation ----

int platform_init(void) {
    if (!soft_timer().start()) {
        AGENT_LOG(AGENT_LOG_ERROR, "platform_init: windows platform, 1ms soft timer start failed");
        return 0;
    }
    AGENT_LOG(AGENT_LOG_INFO, "platform_init: windows platform, use performance counter, 1ms soft timer");
    return 1;
}

void platform_deinit(void) { soft_timer().stop(); }

// ---- Clocks and delay ----

uint64_t platform_get_tick_us(void) { return pi::performance_counter_us(); }

void platform_delay_ms(uint32_t ms) { Sleep(ms); }

// ---- Interrupt bracket ----

uint32_t platform_irq_save(void) {
    EnterCriticalSection(&irq_section());
    return t_irq_depth++;
}

void platform_irq_restore(uint32_t /*state*/) {
    // A restore without a matching save on this thread must not release another thread's hold.
    if (t_irq_depth == 0) {
        return;
    }
    --t_irq_depth;
    LeaveCriticalSection(&irq_section());
}

// ---- Soft timer ----

void platform_register_1ms_callback(platform_1ms_cb callback) { soft_timer().register_callback(callback); }

}  // extern "C"
