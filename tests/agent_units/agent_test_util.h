// Helpers of the agent unit tests: plain UDP peers on 127.0.0.1, free ports, log capture.
#ifndef VEK_TESTS_AGENT_TEST_UTIL_H
#define VEK_TESTS_AGENT_TEST_UTIL_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/agent_log.h"

namespace agent_test {

constexpr int kReceiveTimeoutMs = 2000;
constexpr size_t kDatagramMax = 4096;

inline uint16_t local_port_of(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

inline sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A port the system reports free right now (bound and released again).
inline uint16_t free_udp_port() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = loopback(0);
    bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any);
    const uint16_t port = local_port_of(fd);
    close(fd);
    return port;
}

struct Datagram {
    std::vector<uint8_t> bytes;
    uint16_t from_port = 0;
};

// A plain UDP socket on 127.0.0.1 (port 0: chosen by the system); closed on scope exit.
class Peer {
public:
    explicit Peer(uint16_t port = 0) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        const sockaddr_in local = loopback(port);
        bound_ = bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0;
    }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;
    ~Peer() { close(fd_); }

    bool bound() const { return bound_; }
    uint16_t port() const { return local_port_of(fd_); }

    void send_to(uint16_t port, const void *data, size_t length) const {
        const sockaddr_in target = loopback(port);
        ASSERT_EQ(sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr *>(&target), sizeof target),
                  static_cast<ssize_t>(length));
    }

    void send_to(uint16_t port, const std::string &text) const { send_to(port, text.data(), text.size()); }

    // The next datagram within timeout_ms, or nothing.
    std::optional<Datagram> receive(int timeout_ms = kReceiveTimeoutMs) const {
        pollfd entry{fd_, POLLIN, 0};
        if (poll(&entry, 1, timeout_ms) != 1) {
            return std::nullopt;
        }
        std::array<uint8_t, kDatagramMax> buf{};
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t received =
            recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (received < 0) {
            return std::nullopt;
        }
        return Datagram{std::vector<uint8_t>(buf.begin(), buf.begin() + received), ntohs(from.sin_port)};
    }

private:
    int fd_;
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
