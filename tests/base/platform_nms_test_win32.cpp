// Manager variant of the platform layer on Windows: semaphores refuse a post beyond their maximum,
// the clocks (GetTickCount64, the performance counter, the system file time) count real time, the
// random source fills large buffers, program paths are cut at backslashes, Winsock starts and stops,
// and a mutex can be re-entered by its owner.
#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/platform.h"
#include "base/platform_internal.h"
#include "platform_test_util.h"

namespace {

namespace pi = vek::platform_internal;
using namespace platform_test;
using namespace std::chrono_literals;

TEST(PlatformNmsWindowsSemaphore, PostBeyondTheMaximumFails) {
    platform_sem_t sem = platform_sem_create(0, 2);
    ASSERT_NE(sem, nullptr);
    EXPECT_EQ(platform_sem_post(sem), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_post(sem), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_post(sem), PLATFORM_SEM_ERROR);  // a third count would pass the maximum
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_post(sem), PLATFORM_SEM_OK);     // room again
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_TIMEOUT);
    platform_sem_destroy(sem);
    EXPECT_EQ(platform_sem_create(3, 2), nullptr) << "an initial count above the maximum";
}

TEST(PlatformNmsWindowsClock, ClocksCountRealTime) {
    const uint64_t boot_ms = GetTickCount64();
    const uint32_t tick_ms = platform_get_tick_ms();
    EXPECT_LT(tick_ms - static_cast<uint32_t>(boot_ms), 100u) << "milliseconds since the system started";

    const auto wall_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    EXPECT_LT(std::abs(static_cast<int64_t>(platform_get_utc_ms()) - wall_ms), 1000) << "file time since 1970";
    EXPECT_LE(std::abs(platform_get_utc_seconds() - static_cast<int64_t>(std::time(nullptr))), 1);

    const uint64_t us_before = platform_get_tick_us();
    const uint32_t ms_before = platform_get_tick_ms();
    const auto start = Clock::now();
    platform_delay_ms(300);
    const int64_t slept = elapsed_ms(start);
    EXPECT_GE(slept, 290);
    const uint64_t us_passed = platform_get_tick_us() - us_before;
    EXPECT_GE(us_passed, 290000u) << "the performance counter in microseconds";
    EXPECT_LE(us_passed, static_cast<uint64_t>(slept + 50) * 1000u);
    const uint32_t ms_passed = platform_get_tick_ms() - ms_before;
    EXPECT_GE(ms_passed, 250u);  // GetTickCount64 moves in steps of up to 16 ms
    EXPECT_LE(ms_passed, static_cast<uint32_t>(slept + 50));
}

TEST(PlatformNmsWindowsRandom, SystemSourceFillsLargeBuffers) {
    std::vector<uint8_t> big(1u << 22, 0);
    ASSERT_TRUE(pi::fill_from_os(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_NE(std::vector<uint8_t>(big.end() - 64, big.end()), std::vector<uint8_t>(64, 0));
    std::array<uint8_t, 32> first{};
    std::array<uint8_t, 32> second{};
    ASSERT_EQ(platform_rand_generate_crypto(first.data(), first.size()), 1);
    ASSERT_EQ(platform_rand_generate_crypto(second.data(), second.size()), 1);
    EXPECT_NE(first, second);
}

TEST(PlatformNmsWindowsRuntimeName, CutsAtBackslashes) {
    std::array<char, 64> buf{};
    EXPECT_EQ(pi::cut_runtime_name("C:\\Program Files\\vek\\veksnmpnms.exe", buf.data(), buf.size(), '\\'), 10u);
    EXPECT_STREQ(buf.data(), "veksnmpnms");
}

TEST(PlatformNmsWindowsSockets, WinsockStartsAndStops) {
    EXPECT_EQ(platform_init(), 1);
    EXPECT_EQ(platform_init(), 1);  // counted: one more start, one more stop
    platform_deinit();
    platform_deinit();
}

TEST(PlatformNmsWindowsMutex, OwnerMayLockAgain) {
    platform_mutex_t mutex = platform_mutex_create();
    ASSERT_NE(mutex, nullptr);
    platform_mutex_lock(mutex);
    platform_mutex_lock(mutex);  // a Windows mutex can be re-entered by its owner
    std::atomic<bool> entered{false};
    std::thread other([&] {
        platform_mutex_lock(mutex);
        entered = true;
        platform_mutex_unlock(mutex);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());
    platform_mutex_unlock(mutex);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load()) << "still held once";
    platform_mutex_unlock(mutex);
    other.join();
    EXPECT_TRUE(entered.load());
    platform_mutex_destroy(mutex);
}

}  // namespace
