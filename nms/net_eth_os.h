/* The operating system's side of the ETH interface kind, one unit per system (net_eth_linux.cpp,
 * net_eth_win32.cpp): the socket wrappers of net_interface.h, receiving one datagram from a ready
 * socket, and the socket poller on which the receive thread waits. Internal to the layer. */
#ifndef VEK_NMS_NET_ETH_OS_H
#define VEK_NMS_NET_ETH_OS_H

#ifdef __cplusplus

#include <cstdint>
#include <span>

#include "base/platform.h"
#include "nms/net_interface.h"

namespace vek::nms::net {

// Local port of a bound socket; false when it cannot be read back.
bool local_port(platform_socket_t sock, uint16_t &port) noexcept;

// What one receive attempt on a socket that the poller reported ready brought.
enum class Received {
    kDatagram, // packet holds a datagram of 1 to NET_MAX_PACKET_SIZE bytes with its sender
    kNothing,  // nothing usable (no datagram after all, an empty or oversized one, an error)
};

// Receives one datagram from sock without waiting, into packet (data, len, ip, port).
Received receive_ready(platform_socket_t sock, net_recv_packet &packet) noexcept;

// The set of sockets the receive thread waits on, kept by the system (an epoll instance on Linux, a
// WSAPoll list on Windows), and a wake-up that ends a wait at once. open() and close() bracket the
// set's life; watch() and unwatch() are called with the socket set's mutex held; wait() and wake()
// without it, from any thread.
namespace poller {

bool open() noexcept;
void close() noexcept;
bool watch(platform_socket_t sock) noexcept;
void unwatch(platform_socket_t sock) noexcept;

bool open_wake() noexcept;
void close_wake() noexcept;
void wake() noexcept;

// Waits at most timeout_ms (0: only looks) for ready sockets and stores up to ready.size() of them;
// returns how many, or a negative value on failure. A wake-up ends the wait too: it is consumed and
// reported through woken.
int wait(std::span<platform_socket_t> ready, int timeout_ms, bool &woken) noexcept;

}  // namespace poller

}  // namespace vek::nms::net

#endif

#endif
