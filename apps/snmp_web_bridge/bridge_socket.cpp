/* TCP helpers of the web bridge (see bridge_socket.h). */
#include "apps/snmp_web_bridge/bridge_socket.h"

#include <algorithm>
#include <array>

namespace bridge {

namespace {

constexpr size_t kReadChunk = 4096;

/* Milliseconds left until the deadline, for poll (0 once it has passed). */
int millis_left(clock_type::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

/* Waits until fd is ready for the given poll events or the deadline passes. */
bool wait_ready(socket_t fd, short events, clock_type::time_point deadline) {
    app_os::poll_entry pfd{fd, events, 0};
    for (;;) {
        const int rc = app_os::poll(&pfd, 1, millis_left(deadline));
        if (rc > 0) {
            return true;
        }
        if (rc == 0 || !app_os::interrupted(app_os::last_socket_error())) {
            return false;
        }
    }
}

/* Worth another try after a failed send or receive on a ready socket. */
bool transient(int error) { return app_os::interrupted(error) || app_os::would_block(error); }

} // namespace

std::optional<sockaddr_in> ipv4_endpoint(const std::string &host, uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        return std::nullopt;
    }
    return addr;
}

unique_fd connect_with_limit(const sockaddr_in &addr, std::chrono::milliseconds limit) {
    app_os::net_start();
    unique_fd sock(app_os::tcp_socket());
    if (!sock.valid() || !app_os::set_blocking(sock.get(), false)) {
        return {};
    }
    const auto *sa = reinterpret_cast<const sockaddr *>(&addr);
    if (::connect(sock.get(), sa, sizeof addr) != 0) {
        if (!app_os::would_block(app_os::last_socket_error()) ||
            !wait_ready(sock.get(), POLLOUT, clock_type::now() + limit) || app_os::pending_error(sock.get()) != 0) {
            return {};
        }
    }
    if (!app_os::set_blocking(sock.get(), true)) {
        return {};
    }
    return sock;
}

bool send_all(socket_t fd, std::string_view data, clock_type::time_point deadline) {
    while (!data.empty()) {
        if (!wait_ready(fd, POLLOUT, deadline)) {
            return false;
        }
        const app_os::io_result sent = app_os::send_some(fd, data.data(), data.size(), false);
        if (sent < 0) {
            if (transient(app_os::last_socket_error())) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

receive_status receive_some(socket_t fd, std::string &out, size_t max_bytes, clock_type::time_point deadline) {
    std::array<char, kReadChunk> chunk{};
    for (;;) {
        if (!wait_ready(fd, POLLIN, deadline)) {
            return receive_status::failed;
        }
        const app_os::io_result got = app_os::recv_some(fd, chunk.data(), std::min(chunk.size(), max_bytes), false);
        if (got > 0) {
            out.append(chunk.data(), static_cast<size_t>(got));
            return receive_status::data;
        }
        if (got == 0) {
            return receive_status::closed;
        }
        if (!transient(app_os::last_socket_error())) {
            return receive_status::failed;
        }
    }
}

std::string receive_until_close(socket_t fd, size_t max_bytes, clock_type::time_point deadline, bool *too_large) {
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
    app_os::shutdown_send(sock.get());
    const auto deadline = clock_type::now() + drain_limit;
    std::string discarded;
    while (receive_some(sock.get(), discarded, kReadChunk, deadline) == receive_status::data) {
        discarded.clear();
    }
    sock.reset();
}

} // namespace bridge
