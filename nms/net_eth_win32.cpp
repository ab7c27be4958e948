// The ETH interface kind on Windows: Winsock 2.2 sockets, and a WSAPoll list as the set the receive
// thread waits on. WSAPoll watches any number of sockets (a Winsock select() set stops at 64), so
// every agent's socket is read however many there are. A loopback UDP socket that the waker sends
// one byte to ends a wait at once.
//
// The manager's sockets are non-blocking: the receive thread takes only what is there, and a send
// that finds the socket's buffer full waits a short while for room instead.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <new>
#include <span>
#include <vector>

#include "nms/net_eth_os.h"
#include "nms/net_interface.h"

namespace {

constexpr INT kSendRoomWaitMs = 100;  // longest wait for room in a full send buffer
constexpr size_t kWakeDrainSize = 64;
constexpr char kWakeByte = 1;

// The watched sockets as WSAPoll takes them. The receive thread waits on a copy of its own, which it
// renews when the generation has moved on.
struct PollList {
    std::mutex mutex;
    std::vector<WSAPOLLFD> entries;
    uint64_t generation = 0;
};

PollList g_list;
std::atomic<SOCKET> g_wake_sock{INVALID_SOCKET};
sockaddr_in g_wake_addr{};  // where the wake socket listens; written before the receive thread starts

// The receive thread's copy: the wake socket first, then the watched sockets.
thread_local std::vector<WSAPOLLFD> t_polled;
thread_local uint64_t t_generation = ~uint64_t{0};
thread_local size_t t_next_start = 0;  // where the next scan of ready sockets begins, for fairness

sockaddr_in ipv4_address(ULONG address, uint16_t port) noexcept {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
}

bool make_non_blocking(SOCKET sock) noexcept {
    u_long enable = 1;
    return ioctlsocket(sock, FIONBIO, &enable) == 0;
}

// An ICMP port-unreachable for an earlier send would fail the next receive with WSAECONNRESET;
// the manager has no use for that report.
void ignore_port_unreachable(SOCKET sock) noexcept {
    BOOL report = FALSE;
    DWORD returned = 0;
    static_cast<void>(WSAIoctl(sock, SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned, nullptr, nullptr));
}

SOCKET new_udp_socket() noexcept {
    const SOCKET sock =
        WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (sock == INVALID_SOCKET) {
        return INVALID_SOCKET;
    }
    if (!make_non_blocking(sock)) {
        closesocket(sock);
        return INVALID_SOCKET;
    }
    ignore_port_unreachable(sock);
    return sock;
}

bool wait_for_room(SOCKET sock) noexcept {
    WSAPOLLFD entry{};
    entry.fd = sock;
    entry.events = POLLWRNORM;
    return WSAPoll(&entry, 1, kSendRoomWaitMs) > 0;
}

// Renews the receive thread's copy of the list when it has changed.
void refresh_polled() {
    std::lock_guard<std::mutex> lock(g_list.mutex);
    if (t_generation == g_list.generation) {
        return;
    }
    t_polled.resize(g_list.entries.size() + 1);
    std::copy(g_list.entries.begin(), g_list.entries.end(), t_polled.begin() + 1);
    t_generation = g_list.generation;
}

void drain_wake(SOCKET wake) noexcept {
    std::array<char, kWakeDrainSize> sink{};
    while (recv(wake, sink.data(), static_cast<int>(sink.size()), 0) > 0) {
    }
}

}  // namespace

namespace vek::nms::net {

bool local_port(platform_socket_t sock, uint16_t &port) noexcept {
    sockaddr_in address{};
    int length = sizeof(address);
    if (getsockname(static_cast<SOCKET>(sock), reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        return false;
    }
    port = ntohs(address.sin_port);
    return true;
}

Received receive_ready(platform_socket_t sock, net_recv_packet &packet) noexcept {
    sockaddr_in from{};
    int from_len = sizeof(from);
    // A datagram longer than the buffer fails with WSAEMSGSIZE and is gone: skipped like an error.
    const int received = recvfrom(static_cast<SOCKET>(sock), reinterpret_cast<char *>(packet.data),
                                  static_cast<int>(sizeof(packet.data)), 0, reinterpret_cast<sockaddr *>(&from), &from_len);
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
    std::lock_guard<std::mutex> lock(g_list.mutex);
    g_list.entries.clear();
    ++g_list.generation;
    return true;
}

void close() noexcept {
    std::lock_guard<std::mutex> lock(g_list.mutex);
    std::vector<WSAPOLLFD>().swap(g_list.entries);
    ++g_list.generation;
}

bool watch(platform_socket_t sock) noexcept {
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(sock);
    entry.events = POLLRDNORM;
    try {
        std::lock_guard<std::mutex> lock(g_list.mutex);
        g_list.entries.push_back(entry);
        ++g_list.generation;
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void unwatch(platform_socket_t sock) noexcept {
    std::lock_guard<std::mutex> lock(g_list.mutex);
    std::erase_if(g_list.entries, [sock](const WSAPOLLFD &entry) { return entry.fd == static_cast<SOCKET>(sock); });
    ++g_list.generation;
}

bool open_wake() noexcept {
    const SOCKET wake = new_udp_socket();
    if (wake == INVALID_SOCKET) {
        return false;
    }
    sockaddr_in address = ipv4_address(INADDR_LOOPBACK, 0);
    int length = sizeof(address);
    if (bind(wake, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ||
        getsockname(wake, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        closesocket(wake);
        return false;
    }
    g_wake_addr = address;
    g_wake_sock.store(wake, std::memory_order_release);
    return true;
}

void close_wake() noexcept {
    const SOCKET wake = g_wake_sock.exchange(INVALID_SOCKET, std::memory_order_acq_rel);
    if (wake != INVALID_SOCKET) {
        closesocket(wake);
    }
}

void wake() noexcept {
    const SOCKET wake_sock = g_wake_sock.load(std::memory_order_acquire);
    if (wake_sock != INVALID_SOCKET) {
        static_cast<void>(sendto(wake_sock, &kWakeByte, sizeof(kWakeByte), 0,
                                 reinterpret_cast<const sockaddr *>(&g_wake_addr), sizeof(g_wake_addr)));
    }
}

int wait(std::span<platform_socket_t> ready, int timeout_ms, bool &woken) noexcept {
    woken = false;
    try {
        refresh_polled();
    } catch (const std::bad_alloc &) {
        return -1;
    }
    const SOCKET wake = g_wake_sock.load(std::memory_order_acquire);
    t_polled[0].fd = wake;
    t_polled[0].events = POLLRDNORM;
    for (WSAPOLLFD &entry : t_polled) {
        entry.revents = 0;
    }
    // Without a wake socket (no receive thread) only the watched sockets are polled.
    const std::span<WSAPOLLFD> polled = wake != INVALID_SOCKET ? std::span(t_polled) : std::span(t_polled).subspan(1);
    if (polled.empty()) {
        Sleep(static_cast<DWORD>(std::max(timeout_ms, 0)));
        return 0;
    }
    if (WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout_ms) < 0) {
        return -1;
    }
    if (t_polled[0].revents != 0 && wake != INVALID_SOCKET) {
        drain_wake(wake);
        woken = true;
    }
    const std::span<WSAPOLLFD> watched = std::span(t_polled).subspan(1);
    size_t found = 0;
    const size_t start = watched.empty() ? 0 : t_next_start % watched.size();
    for (size_t step = 0; step < watched.size() && found < ready.size(); ++step) {
        const WSAPOLLFD &entry = watched[(start + step) % watched.size()];
        if ((entry.revents & (POLLRDNORM | POLLERR | POLLHUP)) != 0) {
            ready[found++] = static_cast<platform_socket_t>(entry.fd);
        }
    }
    ++t_next_start;
    return static_cast<int>(found);
}

}  // namespace poller

}  // namespace vek::nms::net

extern "C" {

// ---- Socket wrappers ----

platform_socket_t net_udp_socket_create(void) {
    const SOCKET sock = new_udp_socket();
    return sock == INVALID_SOCKET ? NET_INVALID_SOCKET : static_cast<platform_socket_t>(sock);
}

int net_udp_bind(platform_socket_t sock, uint16_t port) {
    if (!platform_socket_valid(sock)) {
        return -1;
    }
    const sockaddr_in address = ipv4_address(INADDR_ANY, port);
    return bind(static_cast<SOCKET>(sock), reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0 ? 0 : -1;
}

int net_udp_sendto(platform_socket_t sock, const char *ip, uint16_t port, const uint8_t *data, uint32_t len) {
    if (!platform_socket_valid(sock) || ip == nullptr || data == nullptr) {
        return -1;
    }
    sockaddr_in target = ipv4_address(INADDR_ANY, port);
    if (inet_pton(AF_INET, ip, &target.sin_addr) != 1) {
        return -1;
    }
    const auto send_once = [&] {
        return sendto(static_cast<SOCKET>(sock), reinterpret_cast<const char *>(data), static_cast<int>(len), 0,
                      reinterpret_cast<const sockaddr *>(&target), sizeof(target));
    };
    int sent = send_once();
    if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK && wait_for_room(static_cast<SOCKET>(sock))) {
        sent = send_once();
    }
    return sent == SOCKET_ERROR ? -1 : sent;
}

void net_socket_close(platform_socket_t sock) {
    if (platform_socket_valid(sock)) {
        closesocket(static_cast<SOCKET>(sock));
    }
}

}  // extern "C"
