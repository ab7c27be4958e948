// Manager variant of the platform layer on Linux: the semaphore's absolute deadline, descriptors
// beyond select()'s limit, the random device read in full, and the clocks on the wall clock.
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <gtest/gtest.h>

#include "base/platform.h"
#include "base/platform_internal.h"
#include "platform_test_util.h"

namespace {

namespace pi = vek::platform_internal;
using namespace platform_test;

TEST(PlatformNmsSemaphore, DeadlineNanosecondsAreNormalised) {
    timespec late = pi::deadline_after(timespec{10, 999000000}, 1500);
    EXPECT_EQ(late.tv_sec, 12);
    EXPECT_EQ(late.tv_nsec, 499000000);
    timespec exact = pi::deadline_after(timespec{10, 1000000}, 999);
    EXPECT_EQ(exact.tv_sec, 11);
    EXPECT_EQ(exact.tv_nsec, 0);
    timespec plain = pi::deadline_after(timespec{10, 0}, 999);
    EXPECT_EQ(plain.tv_sec, 10);
    EXPECT_EQ(plain.tv_nsec, 999000000);
}

TEST(PlatformNmsUdp, ReceiveWorksOnDescriptorsBeyondSelectLimit) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t high_fd = FD_SETSIZE + 16;
    if (limit.rlim_cur <= high_fd) {
        if (limit.rlim_max <= high_fd) {
            GTEST_SKIP() << "descriptor limit too low";
        }
        limit.rlim_cur = high_fd + 1;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    LoopbackSocket receiver;
    LoopbackSocket sender;
    int fd = dup2(receiver.fd(), static_cast<int>(high_fd));
    ASSERT_EQ(fd, static_cast<int>(high_fd));
    std::array<uint8_t, 16> buf{};
    EXPECT_EQ(platform_udp_recvfrom(fd, buf.data(), buf.size(), nullptr, nullptr, 20), 0);
    sender.send_to(receiver.port(), "x", 1);
    EXPECT_EQ(platform_udp_recvfrom(fd, buf.data(), buf.size(), nullptr, nullptr, 1000), 1);
    close(fd);
}

// A source that cannot deliver every byte asked for is a failure, never a short success.
TEST(PlatformRandom, FillsEveryByteOrFails) {
    char path[] = "/tmp/vek_random_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "abcd", 4), 4);
    close(fd);
    std::array<uint8_t, 16> buf{};
    EXPECT_FALSE(pi::fill_from_device(path, buf.data(), static_cast<uint32_t>(buf.size())));
    EXPECT_TRUE(pi::fill_from_device(path, buf.data(), 4));
    unlink(path);
    EXPECT_FALSE(pi::fill_from_device("/nonexistent/random", buf.data(), 4));

    // Large requests come in several pieces; the last bytes are filled too.
    std::vector<uint8_t> big(1u << 22, 0);
    ASSERT_TRUE(pi::fill_from_os(big.data(), static_cast<uint32_t>(big.size())));
    EXPECT_NE(std::vector<uint8_t>(big.end() - 64, big.end()), std::vector<uint8_t>(64, 0));
}

TEST(PlatformNmsClock, TicksFollowTheWallClockAndDelaySleeps) {
    timeval now{};
    gettimeofday(&now, nullptr);
    uint64_t wall_us = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_usec);
    uint64_t tick_us = platform_get_tick_us();
    EXPECT_GE(tick_us, wall_us);
    EXPECT_LT(tick_us - wall_us, 1000000u);
    uint32_t tick_ms = platform_get_tick_ms();
    EXPECT_LT(tick_ms - static_cast<uint32_t>(wall_us / 1000u), 1000u);  // wraps like the tick itself

    int64_t seconds = platform_get_utc_seconds();
    EXPECT_LE(std::abs(seconds - static_cast<int64_t>(time(nullptr))), 1);
    EXPECT_LE(std::abs(static_cast<int64_t>(platform_get_utc_ms() / 1000u) - seconds), 1);

    auto start = Clock::now();
    platform_delay_ms(30);
    EXPECT_GE(elapsed_ms(start), 30);
    EXPECT_EQ(platform_init(), 1);
    platform_deinit();
}

}  // namespace
