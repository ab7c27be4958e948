/* TCP helpers of the web bridge (see bridge_socket.h). */
#include "apps/snmp_web_bridge/bridge_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace bridge {

namespace {

constexpr size_t kReadChunk = 4096;

/* Milliseconds left until the deadline, for poll (0 once it has passed). */
int millis_left(clock_type::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

/* Waits until fd is ready for the given poll events or the deadline passes. */
bool wait_ready(int fd, short events, clock_type::time_point deadline) {
    pollfd pfd{fd, events, 0};
    for (;;) {
        const int rc = ::poll(&pfd, 1, millis_left(deadline));
        if (rc > 0) {
            return true;
        }
        if (rc == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool set_blocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    return ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}

} // namespace

std::optional<sockaddr_in> ipv4_endpoint(const std::string &host, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        return std::nullopt;
    }
    return addr;
}

unique_fd connect_with_limit(const sockaddr_in &addr, std::chrono::milliseconds limit) {
    unique_fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock.valid() || !set_blocking(sock.get(), false)) {
        return {};
    }
    const auto *sa = reinterpret_cast<const sockaddr *>(&addr);
    if (::connect(sock.get(), sa, sizeof addr) != 0) {
        if (errno != EINPROGRESS || !wait_ready(sock.get(), POLLOUT, clock_type::now() + limit)) {
            return {};
        }
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
            return {};
        }
    }
    if (!set_blocking(sock.get(), true)) {
        return {};
    }
    return sock;
}

bool send_all(int fd, std::string_view data, clock_type::time_point deadline) {
    while (!data.empty()) {
        if (!wait_ready(fd, POLLOUT, deadline)) {
            return false;
        }
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

receive_status receive_some(int fd, std::string &out, size_t max_bytes, clock_type::time_point deadline) {
    std::array<char, kReadChunk> chunk{};
    for (;;) {
        if (!wait_ready(fd, POLLIN, deadline)) {
            return receive_status::failed;
        }
        const ssize_t got = ::recv(fd, chunk.data(), std::min(chunk.size(), max_bytes), MSG_DONTWAIT);
        if (got > 0) {
            out.append(chunk.data(), static_cast<size_t>(got));
            return receive_status::data;
        }
        if (got == 0) {
            return receive_status::closed;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return receive_status::failed;
        }
    }
}

std::string receive_until_close(int fd, size_t max_bytes, clock_type::time_point deadline, bool *too_large) {
    std::string out;
    *too_large = false;
    while (receive_some(fd, out, kReadChunk, deadline) == receive_status::data) {
        if (out.size() > max_bytes) {
            *too_large = true;
            break;
        }
    }
    return out;
}

void close_gracefully(unique_fd &sock, std::chrono::milliseconds drain_limit) {
    if (!sock.valid()) {
        return;
    }
    ::shutdown(sock.get(), SHUT_WR);
    const auto deadline = clock_type::now() + drain_limit;
    std::string discarded;
    while (receive_some(sock.get(), discarded, kReadChunk, deadline) == receive_status::data) {
        discarded.clear();
    }
    sock.reset();
}

} // namespace bridge
