// Agent variant of the platform layer on every system: clocks, byte order, random bytes from the
// operating system and the interrupt bracket. The soft timer, the log lines and the agent library's
// log defaults are in platform_agent_test_linux.cpp and platform_agent_test_win32.cpp.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "base/agent_log.h"
#include "base/platform.h"
#include "base/platform_internal.h"
#include "platform_test_util.h"

namespace {

using namespace platform_test;
using namespace std::chrono_literals;

std::string draw(size_t count) {
    std::string bytes(count, '\0');
    EXPECT_EQ(platform_rand_generate_crypto(reinterpret_cast<uint8_t *>(bytes.data()), static_cast<uint32_t>(count)),
              1);
    return bytes;
}

TEST(PlatformAgentClock, TicksAreMonotonicMillisecondsAndDelayWaits) {
    uint64_t before_us = platform_get_tick_us();
    uint32_t tick_ms = platform_get_tick_ms();
    uint32_t tick = platform_get_tick();
    uint64_t after_us = platform_get_tick_us();
    ASSERT_LE(before_us, after_us);
    // Both millisecond clocks lie between the two microsecond readings (differences wrap like the tick).
    auto window = static_cast<uint32_t>(after_us / 1000 - before_us / 1000);
    auto before_ms = static_cast<uint32_t>(before_us / 1000);
    EXPECT_LE(tick_ms - before_ms, window);
    EXPECT_LE(tick - before_ms, window);
    EXPECT_LE(tick - tick_ms, window);

    auto start = Clock::now();
    platform_delay_ms(25);
    EXPECT_GE(Clock::now() - start, 25ms);
    EXPECT_GE(platform_get_tick_us() - after_us, 25000u);
}

TEST(PlatformAgentByteOrder, MatchesTheManagerVariant) {
    const std::array<uint8_t, 4> bytes = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(platform_be32_to_cpu(bytes.data()), 0x01020304u);
    EXPECT_EQ(platform_be16_to_cpu(bytes.data()), 0x0102u);
    EXPECT_EQ(platform_be32_to_cpu(nullptr), 0u);
    std::array<uint8_t, 4> out{};
    platform_cpu_to_be32(out.data(), 0xCAFEBABEu);
    EXPECT_EQ(out, (std::array<uint8_t, 4>{0xCA, 0xFE, 0xBA, 0xBE}));
    platform_cpu_to_be16(out.data(), 0x1234u);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);
}

TEST(PlatformAgentRandom, DrawsAreIndependentAndLogged) {
    std::string first;
    std::string out = captured_stdout([&] { first = draw(3); });
    EXPECT_NE(out.find("] [DEBUG] _platform_rand_c_std: generate 3 bytes crypto-grade random success\n"),
              std::string::npos)
        << out;
    // The old shift register made each 4-byte word its predecessor shifted by one bit.
    const std::string a = draw(64);
    const std::string b = draw(64);
    EXPECT_NE(a, b);
    size_t shifted = 0;
    for (size_t i = 0; i + 8 <= a.size(); i += 4) {
        uint32_t w0 = 0;
        uint32_t w1 = 0;
        std::memcpy(&w0, a.data() + i, 4);
        std::memcpy(&w1, a.data() + i + 4, 4);
        shifted += (w1 & 0x7FFFFFFFu) == (w0 >> 1) ? 1 : 0;
    }
    EXPECT_LE(shifted, 1u);
}

TEST(PlatformAgentIrq, NestsInOneThreadAndExcludesOthers) {
    uint32_t outer = platform_irq_save();
    uint32_t inner = platform_irq_save();  // re-entering must not deadlock

    std::atomic<bool> entered{false};
    std::thread other([&] {
        uint32_t state = platform_irq_save();
        entered = true;
        platform_irq_restore(state);
    });
    // A restore from a thread that holds nothing must not release this thread's hold.
    std::thread stray([] { platform_irq_restore(0); });
    stray.join();

    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());
    platform_irq_restore(inner);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(entered.load());  // still held once
    platform_irq_restore(outer);
    other.join();
    EXPECT_TRUE(entered.load());
}

}  // namespace
