// Helpers of the agent unit tests: plain UDP peers on 127.0.0.1, free ports, log capture.
#ifndef VEK_TESTS_AGENT_TEST_UTIL_H
#define VEK_TESTS_AGENT_TEST_UTIL_H

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/app_os/app_os.h"
#include "base/agent_log.h"

namespace agent_test {

constexpr int kReceiveTimeoutMs = 2000;
constexpr size_t kDatagramMax = 4096;

inline uint16_t local_port_of(app_os::socket_t fd) { return app_os::local_port(fd); }

inline sockaddr_in loopback(uint16_t port) { return app_os::ipv4_address(INADDR_LOOPBACK, port); }

// A port the system reports free right now (bound and released again).
inline uint16_t free_udp_port() {
    const app_os::socket_t fd = app_os::udp_socket();
    app_os::bind_ipv4(fd, loopback(0));
    const uint16_t port = local_port_of(fd);
    app_os::close_socket(fd);
    return port;
}

struct Datagram {
    std::vector<uint8_t> bytes;
    uint16_t from_port = 0;
};

// A plain UDP socket on 127.0.0.1 (port 0: chosen by the system); closed on scope exit.
class Peer {
public:
    explicit Peer(uint16_t port = 0) : fd_(app_os::udp_socket()) { bound_ = app_os::bind_ipv4(fd_, loopback(port)); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    ~Peer() { app_os::close_socket(fd_); }

    bool bound() const { return bound_; }
    uint16_t port() const { return local_port_of(fd_); }

    void send_to(uint16_t port, const void *data, size_t length) const {
        ASSERT_EQ(app_os::send_datagram(fd_, data, length, loopback(port)), static_cast<app_os::io_result>(length));
    }

    void send_to(uint16_t port, const std::string &text) const { send_to(port, text.data(), text.size()); }

    // The next datagram within timeout_ms, or nothing.
    std::optional<Datagram> receive(int timeout_ms = kReceiveTimeoutMs) const {
        app_os::poll_entry entry{fd_, POLLIN, 0};
        if (app_os::poll(&entry, 1, timeout_ms) != 1) {
            return std::nullopt;
        }
        std::array<uint8_t, kDatagramMax> buf{};
        sockaddr_in from{};
        const app_os::io_result received = app_os::receive_datagram(fd_, buf.data(), buf.size(), from);
        if (received < 0) {
            return std::nullopt;
        }
        return Datagram{std::vector<uint8_t>(buf.begin(), buf.begin() + received), ntohs(from.sin_port)};
    }

private:
    app_os::socket_t fd_;
    bool bound_ = false;
};

// Captures what the log facility writes to standard output while it lives.
class LogCapture {
public:
    LogCapture() { testing::internal::CaptureStdout(); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;
    ~LogCapture() {
        if (!taken_) {
            testing::internal::GetCapturedStdout();
        }
    }
    std::string take() {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

inline bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

inline size_t count_of(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) {
        ++count;
    }
    return count;
}

}  // namespace agent_test

#endif
