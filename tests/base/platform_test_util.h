// Helpers of the platform layer's tests: captured output, elapsed time and a loopback UDP socket.
#ifndef VEK_TESTS_BASE_PLATFORM_TEST_UTIL_H
#define VEK_TESTS_BASE_PLATFORM_TEST_UTIL_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"

namespace platform_test {

using Clock = std::chrono::steady_clock;

// What the action writes to standard output.
template <typename Action>
std::string captured_stdout(Action action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline int64_t elapsed_ms(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A UDP socket bound to 127.0.0.1 on a port of the system's choosing; closed on scope exit.
class LoopbackSocket {
public:
    LoopbackSocket() : fd_(app_os::udp_socket()) { app_os::bind_ipv4(fd_, app_os::ipv4_address(INADDR_LOOPBACK, 0)); }
    LoopbackSocket(const LoopbackSocket &) = delete;
    LoopbackSocket &operator=(const LoopbackSocket &) = delete;
    ~LoopbackSocket() { app_os::close_socket(fd_); }

    app_os::socket_t fd() const { return fd_; }
    uint16_t port() const { return app_os::local_port(fd_); }
    void send_to(uint16_t port, const void *data, size_t length) const {
        ASSERT_EQ(app_os::send_datagram(fd_, data, length, app_os::ipv4_address(INADDR_LOOPBACK, port)),
                  static_cast<app_os::io_result>(length));
    }

private:
    app_os::socket_t fd_;
};

}  // namespace platform_test

#endif
