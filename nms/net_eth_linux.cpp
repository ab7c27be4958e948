// The ETH interface kind on Linux: BSD sockets, and an epoll instance with an eventfd wake-up as the
// set the receive thread waits on. The kernel keeps the set, so a round costs the same with a
// thousand idle sockets as with one, and only ready sockets are looked at.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <span>

#include "nms/net_eth_os.h"
#include "nms/net_interface.h"

namespace {

constexpr size_t kEventBatch = 64;  // ready descriptors taken from one wait

std::atomic<int> g_epoll_fd{NET_INVALID_SOCKET};
std::atomic<int> g_wake_fd{NET_INVALID_SOCKET};

sockaddr_in any_address(uint16_t port) noexcept {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return address;
}

bool add_to_epoll(int epoll_fd, int fd) noexcept {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) == 0;
}

void close_if_open(std::atomic<int> &fd) noexcept {
    const int stale = fd.exchange(NET_INVALID_SOCKET, std::memory_order_acq_rel);
    if (stale >= 0) {
        close(stale);
    }
}

}  // namespace

namespace vek::nms::net {

bool local_port(platform_socket_t sock, uint16_t &port) noexcept {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (getsockname(sock, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

Received receive_ready(platform_socket_t sock, net_recv_packet &packet) noexcept {
    sockaddr_in from{};
    socklen_t from_len = sizeof(from);
    ssize_t received = recvfrom(sock, packet.data, sizeof(packet.data), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr *>(&from), &from_len);
    if (received < 1 || from.sin_family != AF_INET) {
        return Received::kNothing;
    }
    packet.len = static_cast<uint32_t>(received);
    inet_ntop(AF_INET, &from.sin_addr, packet.ip, sizeof(packet.ip));
    packet.port = ntohs(from.sin_port);
    return Received::kDatagram;
}

namespace poller {

bool open() noexcept {
    const int stale = g_epoll_fd.exchange(epoll_create1(EPOLL_CLOEXEC), std::memory_order_acq_rel);
    if (stale >= 0) {
        ::close(stale);
    }
    return g_epoll_fd.load(std::memory_order_acquire) >= 0;
}

void close() noexcept { close_if_open(g_epoll_fd); }

bool watch(platform_socket_t sock) noexcept { return add_to_epoll(g_epoll_fd.load(std::memory_order_acquire), sock); }

void unwatch(platform_socket_t sock) noexcept {
    static_cast<void>(epoll_ctl(g_epoll_fd.load(std::memory_order_acquire), EPOLL_CTL_DEL, sock, nullptr));
}

bool open_wake() noexcept {
    const int epoll_fd = g_epoll_fd.load(std::memory_order_acquire);
    const int wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) {
        return false;
    }
    if (epoll_fd < 0 || !add_to_epoll(epoll_fd, wake_fd)) {
        ::close(wake_fd);
        return false;
    }
    g_wake_fd.store(wake_fd, std::memory_order_release);
    return true;
}

void close_wake() noexcept { close_if_open(g_wake_fd); }

void wake() noexcept {
    const int wake_fd = g_wake_fd.load(std::memory_order_acquire);
    if (wake_fd >= 0) {
        static_cast<void>(eventfd_write(wake_fd, 1));
    }
}

int wait(std::span<platform_socket_t> ready, int timeout_ms, bool &woken) noexcept {
    std::array<epoll_event, kEventBatch> events{};
    const int capacity = static_cast<int>(std::min(events.size(), ready.size()));
    const int count = epoll_wait(g_epoll_fd.load(std::memory_order_acquire), events.data(), capacity, timeout_ms);
    woken = false;
    if (count < 0) {
        return count;
    }
    const int wake_fd = g_wake_fd.load(std::memory_order_acquire);
    size_t sockets = 0;
    for (const epoll_event &event : std::span(events).first(static_cast<size_t>(count))) {
        if (event.data.fd == wake_fd) {
            eventfd_t ignored = 0;
            static_cast<void>(eventfd_read(wake_fd, &ignored));
            woken = true;
        } else {
            ready[sockets++] = event.data.fd;
        }
    }
    return static_cast<int>(sockets);
}

}  // namespace poller

}  // namespace vek::nms::net

extern "C" {

// ---- Socket wrappers ----

platform_socket_t net_udp_socket_create(void) {
    int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return sock < 0 ? NET_INVALID_SOCKET : sock;
}

int net_udp_bind(platform_socket_t sock, uint16_t port) {
    if (sock < 0) {
        return -1;
    }
    sockaddr_in address = any_address(port);
    return bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0 ? 0 : -1;
}

int net_udp_sendto(platform_socket_t sock, const char *ip, uint16_t port, const uint8_t *data, uint32_t len) {
    if (sock < 0 || ip == nullptr || data == nullptr) {
        return -1;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (inet_pton(AF_INET, ip, &target.sin_addr) != 1) {
        return -1;
    }
    ssize_t sent =
        sendto(sock, data, len, MSG_NOSIGNAL, reinterpret_cast<const sockaddr *>(&target), sizeof(target));
    return sent < 0 ? -1 : static_cast<int>(sent);
}

void net_socket_close(platform_socket_t sock) {
    if (sock >= 0) {
        close(sock);
    }
}

}  // extern "C"
