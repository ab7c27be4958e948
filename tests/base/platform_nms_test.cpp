// Manager variant of the platform layer: text and memory helpers, byte order, semaphores, UDP
// reception, the port probe, the program's name, threads, mutexes and random bytes, on every
// system. What only one system has is in platform_nms_test_linux.cpp and platform_nms_test_win32.cpp.
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"
#include "base/platform.h"
#include "base/platform_internal.h"
#include "platform_test_util.h"

namespace {

namespace pi = vek::platform_internal;
using namespace platform_test;
TEST(PlatformNmsText, StrcpySCutsTerminatesAndRejectsBadArguments) {
    const std::string source(40, 'x');
    std::array<char, 33> dst{};
    dst.fill('#');
    EXPECT_EQ(platform_strcpy_s(dst.data(), 32, source.c_str()), 31u);
    EXPECT_EQ(std::string(dst.data()), std::string(31, 'x'));
    EXPECT_EQ(dst[32], '#');  // nothing written past the given size

    dst.fill('#');
    EXPECT_EQ(platform_strcpy_s(dst.data(), 1, source.c_str()), 0u);
    EXPECT_EQ(dst[0], '\0');
    EXPECT_EQ(dst[1], '#');

    dst.fill('#');
    EXPECT_EQ(platform_strcpy_s(dst.data(), 32, "abc"), 3u);
    EXPECT_STREQ(dst.data(), "abc");

    dst.fill('#');
    EXPECT_EQ(platform_strcpy_s(dst.data(), 0, "abc"), 0u);
    EXPECT_EQ(platform_strcpy_s(dst.data(), 32, nullptr), 0u);
    EXPECT_EQ(platform_strcpy_s(nullptr, 32, "abc"), 0u);
    EXPECT_EQ(dst[0], '#');
}

TEST(PlatformNmsText, MemcpySCopiesAtMostTheDestinationSize) {
    std::array<uint8_t, 20> source{};
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i + 1);
    }
    std::array<uint8_t, 16> dst{};
    EXPECT_EQ(platform_memcpy_s(dst.data(), 8, source.data(), 20), 8u);
    EXPECT_EQ(std::memcmp(dst.data(), source.data(), 8), 0);
    EXPECT_EQ(dst[8], 0);

    dst.fill(0);
    EXPECT_EQ(platform_memcpy_s(dst.data(), 16, source.data(), 3), 3u);
    EXPECT_EQ(dst[2], 3);
    EXPECT_EQ(dst[3], 0);

    // Overlapping ranges are allowed.
    std::array<uint8_t, 6> overlap = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(platform_memcpy_s(overlap.data() + 1, 5, overlap.data(), 5), 5u);
    EXPECT_EQ(overlap, (std::array<uint8_t, 6>{1, 1, 2, 3, 4, 5}));

    EXPECT_EQ(platform_memcpy_s(nullptr, 8, source.data(), 8), 0u);
    EXPECT_EQ(platform_memcpy_s(dst.data(), 8, nullptr, 8), 0u);
    EXPECT_EQ(platform_memcpy_s(dst.data(), 0, source.data(), 8), 0u);
}

TEST(PlatformNmsText, StrlenAndStrcmpTolerateNull) {
    EXPECT_EQ(platform_strlen(nullptr), 0u);
    EXPECT_EQ(platform_strlen("public"), 6u);
    EXPECT_EQ(platform_strcmp("abc", "abc"), 0);
    EXPECT_LT(platform_strcmp("abc", "abd"), 0);
    EXPECT_GT(platform_strcmp("b", "abc"), 0);
    EXPECT_EQ(platform_strcmp(nullptr, nullptr), 0);
    EXPECT_LT(platform_strcmp(nullptr, ""), 0);
    EXPECT_GT(platform_strcmp("", nullptr), 0);
}

TEST(PlatformNmsByteOrder, ConvertsBothWidthsAndToleratesNull) {
    const std::array<uint8_t, 4> bytes = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(platform_be32_to_cpu(bytes.data()), 0x01020304u);
    EXPECT_EQ(platform_be16_to_cpu(bytes.data()), 0x0102u);
    EXPECT_EQ(platform_be32_to_cpu(nullptr), 0u);
    EXPECT_EQ(platform_be16_to_cpu(nullptr), 0u);

    std::array<uint8_t, 4> out{};
    platform_cpu_to_be32(out.data(), 0xA1B2C3D4u);
    EXPECT_EQ(out, (std::array<uint8_t, 4>{0xA1, 0xB2, 0xC3, 0xD4}));
    out.fill(0);
    platform_cpu_to_be16(out.data(), 0xFE01u);
    EXPECT_EQ(out, (std::array<uint8_t, 4>{0xFE, 0x01, 0, 0}));
    platform_cpu_to_be32(nullptr, 1);
    platform_cpu_to_be16(nullptr, 1);
}

TEST(PlatformNmsSemaphore, TimedWaitTimesOutAfterTheGivenTime) {
    platform_sem_t sem = platform_sem_create(0, 1);
    ASSERT_NE(sem, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(platform_sem_timedwait(sem, 1500), PLATFORM_SEM_TIMEOUT);
    int64_t waited = elapsed_ms(start);
    EXPECT_GE(waited, 1450);
    EXPECT_LT(waited, 2500);
    platform_sem_destroy(sem);
}

TEST(PlatformNmsSemaphore, CountsPostsAndWakesAWaiter) {
    platform_sem_t sem = platform_sem_create(2, 10);
    ASSERT_NE(sem, nullptr);
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_timedwait(sem, 0), PLATFORM_SEM_OK);
    EXPECT_EQ(platform_sem_timedwait(sem, 20), PLATFORM_SEM_TIMEOUT);

    std::thread poster([sem] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        platform_sem_post(sem);
    });
    auto start = Clock::now();
    EXPECT_EQ(platform_sem_timedwait(sem, 5000), PLATFORM_SEM_OK);
    EXPECT_LT(elapsed_ms(start), 2000);
    poster.join();

    EXPECT_EQ(platform_sem_post(nullptr), PLATFORM_SEM_ERROR);
    EXPECT_EQ(platform_sem_timedwait(nullptr, 10), PLATFORM_SEM_ERROR);
    platform_sem_destroy(sem);
    platform_sem_destroy(nullptr);
}

TEST(PlatformNmsUdp, ReceiveReportsSenderTimeOutAndBadArguments) {
    LoopbackSocket receiver;
    LoopbackSocket sender;
    std::array<uint8_t, 64> buf{};
    std::array<char, PLATFORM_ADDR_TEXT_SIZE> from{};
    uint16_t port = 0;

    auto start = Clock::now();
    EXPECT_EQ(platform_udp_recvfrom(receiver.fd(), buf.data(), buf.size(), from.data(), &port, 100), 0);
    EXPECT_GE(elapsed_ms(start), 90);

    EXPECT_EQ(platform_udp_recvfrom(PLATFORM_INVALID_SOCKET, buf.data(), buf.size(), nullptr, nullptr, 10), -1);
    EXPECT_EQ(platform_udp_recvfrom(receiver.fd(), nullptr, 64, nullptr, nullptr, 10), -1);
    EXPECT_EQ(platform_udp_recvfrom(receiver.fd(), buf.data(), 0, nullptr, nullptr, 10), -1);

    const std::string payload = "hello agent";
    sender.send_to(receiver.port(), payload.data(), payload.size());
    int received = platform_udp_recvfrom(receiver.fd(), buf.data(), buf.size(), from.data(), &port, 1000);
    ASSERT_EQ(received, static_cast<int>(payload.size()));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(buf.data()), payload.size()), payload);
    EXPECT_STREQ(from.data(), "127.0.0.1");
    EXPECT_EQ(port, sender.port());

    // The sender's address and port are optional; an empty datagram counts as a failure.
    sender.send_to(receiver.port(), payload.data(), 3);
    EXPECT_EQ(platform_udp_recvfrom(receiver.fd(), buf.data(), buf.size(), nullptr, nullptr, 1000), 3);
    sender.send_to(receiver.port(), payload.data(), 0);
    EXPECT_EQ(platform_udp_recvfrom(receiver.fd(), buf.data(), buf.size(), from.data(), &port, 1000), -1);
}

TEST(PlatformNmsPort, ProbeSeesABoundPortAndAFreedOne) {
    const app_os::socket_t fd = app_os::udp_socket();
    ASSERT_NE(fd, app_os::k_invalid_socket);
    ASSERT_TRUE(app_os::bind_ipv4(fd, app_os::ipv4_address(INADDR_ANY, 0)));
    const uint16_t port = app_os::local_port(fd);
    EXPECT_EQ(platform_check_port_in_use(port), 1);
    app_os::close_socket(fd);
    EXPECT_EQ(platform_check_port_in_use(port), 0);
}

TEST(PlatformNmsRuntimeName, CutsDirectoryExeSuffixAndLength) {
    std::array<char, 64> buf{};
    EXPECT_EQ(pi::cut_runtime_name("/opt/bin/snmp_tool.exe", buf.data(), buf.size()), 9u);
    EXPECT_STREQ(buf.data(), "snmp_tool");

    buf.fill('Z');
    EXPECT_EQ(pi::cut_runtime_name("/opt/bin/tool.exe.bak", buf.data(), buf.size()), 12u);
    EXPECT_STREQ(buf.data(), "tool.exe.bak");
    EXPECT_EQ(buf[40], '\0');  // the whole buffer is cleared

    EXPECT_EQ(pi::cut_runtime_name("/usr/bin/abcdefghijkl", buf.data(), 8), 7u);
    EXPECT_STREQ(buf.data(), "abcdefg");
    EXPECT_EQ(pi::cut_runtime_name("plain", buf.data(), buf.size()), 5u);
    EXPECT_STREQ(buf.data(), "plain");
    EXPECT_EQ(pi::cut_runtime_name("/dir/", buf.data(), buf.size()), 0u);
    EXPECT_EQ(pi::cut_runtime_name(nullptr, buf.data(), buf.size()), 0u);
    EXPECT_EQ(pi::cut_runtime_name("/a/b", nullptr, 8), 0u);
}

TEST(PlatformNmsRuntimeName, ReportsThisProgram) {
    std::array<char, 64> buf{};
    EXPECT_EQ(platform_get_runtime_filename(buf.data(), buf.size()), 22u);
    EXPECT_STREQ(buf.data(), "base_platform_nms_test");
    EXPECT_EQ(platform_get_runtime_filename(buf.data(), 5), 4u);
    EXPECT_STREQ(buf.data(), "base");
    EXPECT_EQ(platform_get_runtime_filename(buf.data(), 0), 0u);
    EXPECT_EQ(platform_get_runtime_filename(nullptr, 64), 0u);
}

void *store_thread_id(void *arg) {
    static_cast<std::atomic<uint64_t> *>(arg)->store(platform_thread_id());
    return nullptr;
}

TEST(PlatformNmsThread, CreateJoinDetachAndNullHandles) {
    std::atomic<uint64_t> seen{0};
    platform_thread_t thread = platform_thread_create(store_thread_id, &seen);
    ASSERT_NE(thread, nullptr);
    platform_thread_join(thread);
    EXPECT_NE(seen.load(), 0u);
    EXPECT_NE(seen.load(), platform_thread_id());

    std::atomic<uint64_t> detached_seen{0};
    platform_thread_t detached = platform_thread_create(store_thread_id, &detached_seen);
    ASSERT_NE(detached, nullptr);
    platform_thread_detach(detached);
    for (int i = 0; i < 200 && detached_seen.load() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(detached_seen.load(), 0u);

    EXPECT_EQ(platform_thread_create(nullptr, nullptr), nullptr);
    platform_thread_join(nullptr);
    platform_thread_detach(nullptr);
}

TEST(PlatformNmsMutex, ExcludesOtherThreads) {
    platform_mutex_t mutex = platform_mutex_create();
    ASSERT_NE(mutex, nullptr);
    constexpr int kRounds = 20000;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            platform_mutex_lock(mutex);
            int value = counter;
            counter = value + 1;
            platform_mutex_unlock(mutex);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 2 * kRounds);
    platform_mutex_destroy(mutex);
    platform_mutex_destroy(nullptr);
}

TEST(PlatformNmsMemory, MallocIsZeroFilled) {
    constexpr uint32_t kSize = 4096;
    auto *block = static_cast<uint8_t *>(platform_malloc(kSize));
    ASSERT_NE(block, nullptr);
    for (uint32_t i = 0; i < kSize; ++i) {
        ASSERT_EQ(block[i], 0) << "byte " << i;
    }
    platform_free(block);
    platform_free(nullptr);
}

TEST(PlatformNmsRandom, FillsBuffersAndRejectsBadArguments) {
    std::array<uint8_t, 32> first{};
    std::array<uint8_t, 32> second{};
    EXPECT_EQ(platform_rand_generate_crypto(first.data(), first.size()), 1);
    EXPECT_EQ(platform_rand_generate_crypto(second.data(), second.size()), 1);
    EXPECT_NE(first, second);
    EXPECT_EQ(platform_rand_generate_crypto(nullptr, 8), 0);
    EXPECT_EQ(platform_rand_generate_crypto(first.data(), 0), 0);
    EXPECT_EQ(platform_rand_generate(first.data(), first.size()), 1);
    EXPECT_EQ(platform_rand_generate(nullptr, 8), 0);
    EXPECT_EQ(platform_rand_generate(first.data(), 0), 0);
}

}  // namespace
