/* TCP helpers of the web bridge: an owning descriptor, connecting with a time limit, and sending and
 * receiving against a deadline. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SOCKET_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SOCKET_H

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "apps/http_intake/http_intake.h"

namespace bridge {

using clock_type = http_intake::clock_type;

using unique_fd = http_intake::unique_fd;

/* The IPv4 socket address of a dotted address and a port, or nothing when the text is no address. */
std::optional<sockaddr_in> ipv4_endpoint(const std::string &host, uint16_t port);

/* A TCP connection to addr, or an invalid descriptor when it is refused or not made within limit.
 * The returned socket is blocking. */
unique_fd connect_with_limit(const sockaddr_in &addr, std::chrono::milliseconds limit);

/* Sends all of data before the deadline; false on error or time-out. Never raises SIGPIPE. */
bool send_all(int fd, std::string_view data, clock_type::time_point deadline);

/* What one wait for data brought. */
enum class receive_status { data, closed, failed };

/* Waits for data until the deadline and appends what one read brings (at most max_bytes). */
receive_status receive_some(int fd, std::string &out, size_t max_bytes, clock_type::time_point deadline);

/* Receives until the peer closes the connection, an error, the deadline, or more than max_bytes
 * arrived (then *too_large is set and reading stops). */
std::string receive_until_close(int fd, size_t max_bytes, clock_type::time_point deadline, bool *too_large);

/* Ends the connection without losing the answer: stops sending, reads and discards what the peer
 * still sends until it closes or drain_limit passes (closing with unread data would reset the
 * connection and could destroy the answer on its way), then closes. */
void close_gracefully(unique_fd &sock, std::chrono::milliseconds drain_limit);

} // namespace bridge

#endif
