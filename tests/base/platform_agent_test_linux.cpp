// Agent variant of the platform layer on Linux: the log line of its start, the random generator's
// refusal line, and the once-a-second soft timer thread that starts with its first registration.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
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

std::atomic<int> g_ticks{0};

void count_tick() {
    uint32_t state = platform_irq_save();  // as the engine-time callback does
    g_ticks.fetch_add(1);
    platform_irq_restore(state);
}

void exit_tick() {}

TEST(PlatformAgentLog, AgentLibraryDefaultsToDebug) {
    EXPECT_EQ(g_log_config.level, static_cast<uint32_t>(AGENT_LOG_DEBUG));
    EXPECT_EQ(g_log_config.targets, AGENT_LOG_TARGET_CONSOLE);
    EXPECT_EQ(g_log_config.max_entries, AGENT_LOG_MAX_ENTRIES_DEFAULT);
    std::string out = captured_stdout([] { platform_init(); });
    EXPECT_NE(out.find("] [INFO] platform_init: linux platform, use posix clock, no soft timer\n"), std::string::npos)
        << out;
}

TEST(PlatformAgentRandom, RejectsBadArgumentsWithALogLine) {
    std::array<uint8_t, 4> buf{};
    int result = 1;
    std::string out = captured_stdout([&] { result = platform_rand_generate_crypto(nullptr, 8); });
    EXPECT_EQ(result, 0);
    EXPECT_NE(out.find("] [ERROR] _platform_rand_c_std: invalid param (buf=(nil), len=8)\n"), std::string::npos)
        << out;
    out = captured_stdout([&] { result = platform_rand_generate_crypto(buf.data(), 0); });
    EXPECT_EQ(result, 0);
    EXPECT_NE(out.find(", len=0)\n"), std::string::npos) << out;
}

TEST(PlatformAgentSoftTimer, CallsBackOnceASecondUntilDeinit) {
    platform_deinit();  // harmless without a running timer
    platform_register_1ms_callback(nullptr);
    EXPECT_FALSE(pi::soft_timer_running());

    g_ticks = 0;
    platform_register_1ms_callback(count_tick);
    EXPECT_TRUE(pi::soft_timer_running());
    std::this_thread::sleep_for(2400ms);
    int counted = g_ticks.load();
    EXPECT_GE(counted, 2);
    EXPECT_LE(counted, 3);

    platform_deinit();
    EXPECT_FALSE(pi::soft_timer_running());
    int stopped_at = g_ticks.load();
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(g_ticks.load(), stopped_at);
}

TEST(PlatformAgentSoftTimerDeathTest, RunningTimerStopsCleanlyAtExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            platform_register_1ms_callback(exit_tick);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
