// Agent variant of the platform layer on Windows: platform_init starts the 1 ms soft timer, whose
// tick counter advances about 1000 times a second and whose callback runs once a second until
// platform_deinit; the caller-visible clocks count as on Linux (microseconds and milliseconds of real
// time); the log lines of the start and of the random generator's refusal.
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/agent_log.h"
#include "base/platform.h"
#include "base/platform_internal.h"
#include "platform_test_util.h"

namespace {

namespace pi = vek::platform_internal;
using namespace platform_test;
using namespace std::chrono_literals;

std::atomic<int> g_calls{0};

void count_call() {
    uint32_t state = platform_irq_save();  // as the engine-time callback does
    g_calls.fetch_add(1);
    platform_irq_restore(state);
}

TEST(PlatformAgentWindowsLog, AgentLibraryDefaultsToDebugAndStartsItsTimer) {
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_DEBUG));
    std::string out = captured_stdout([] { EXPECT_EQ(platform_init(), 1); });
    EXPECT_NE(out.find("] [INFO] platform_init: windows platform, use performance counter, 1ms soft timer\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(pi::soft_timer_running());
}

TEST(PlatformAgentWindowsRandom, RejectsBadArgumentsWithALogLine) {
    int result = 1;
    std::string out = captured_stdout([&] { result = platform_rand_generate_crypto(nullptr, 8); });
    EXPECT_EQ(result, 0);
    EXPECT_NE(out.find("] [ERROR] _platform_rand_c_std: invalid param (buf=0000000000000000, len=8)\n"),
              std::string::npos)
        << out;
}

// About a thousand ticks a second, however late the system runs the timer's routine.
TEST(PlatformAgentWindowsSoftTimer, TicksAtOneMillisecond) {
    ASSERT_EQ(platform_init(), 1);
    const uint64_t first = pi::soft_timer_ticks();
    const auto start = Clock::now();
    std::this_thread::sleep_for(1s);
    const uint64_t ticks = pi::soft_timer_ticks() - first;
    const int64_t passed = elapsed_ms(start);
    EXPECT_GE(ticks + 50, static_cast<uint64_t>(passed)) << "ticks in " << passed << " ms";
    EXPECT_LE(ticks, static_cast<uint64_t>(passed) + 50) << "ticks in " << passed << " ms";
}

TEST(PlatformAgentWindowsSoftTimer, CallsBackOnceASecondUntilDeinit) {
    ASSERT_EQ(platform_init(), 1);
    g_calls = 0;
    platform_register_1ms_callback(count_call);
    std::this_thread::sleep_for(2400ms);
    const int counted = g_calls.load();
    EXPECT_GE(counted, 2);
    EXPECT_LE(counted, 3);

    platform_deinit();
    EXPECT_FALSE(pi::soft_timer_running());
    const int stopped_at = g_calls.load();
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(g_calls.load(), stopped_at);
    platform_register_1ms_callback(nullptr);
}

// The clocks callers compare with millisecond limits count real time, as on Linux.
TEST(PlatformAgentWindowsClock, MillisecondsAndMicrosecondsOfRealTime) {
    const uint64_t us_before = platform_get_tick_us();
    const uint32_t ms_before = platform_get_tick();
    const auto start = Clock::now();
    platform_delay_ms(500);  // sleeps on Windows
    const int64_t slept = elapsed_ms(start);
    EXPECT_GE(slept, 490);
    const uint64_t us_passed = platform_get_tick_us() - us_before;
    const uint32_t ms_passed = platform_get_tick() - ms_before;
    EXPECT_GE(us_passed, 490000u);
    EXPECT_LE(us_passed, static_cast<uint64_t>(slept + 20) * 1000u);
    EXPECT_GE(ms_passed, 490u);
    EXPECT_LE(ms_passed, static_cast<uint32_t>(slept + 20));
}

}  // namespace
