/* The HTTP side of the service: the listening socket and the workers that share it. A worker accepts
 * one connection at a time, reads one request, writes one JSON answer and closes the connection. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_SERVER_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_SERVER_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace service {

inline constexpr uint16_t k_default_http_port = 8099;
inline constexpr size_t k_http_worker_count = 8;

/* A TCP socket with address reuse, bound to 0.0.0.0:port and listening (backlog 64); -1 with errno
 * set when any step fails. */
int open_http_listener(uint16_t port);

/* Worker body: while running, accepts a connection on listen_fd and handles it completely. */
void http_worker(int listen_fd, const std::atomic<bool> &running);

/* Reads one request from the connection (nothing read: closed without an answer), answers it and
 * closes the connection. */
void handle_http_conn(int conn_fd, const std::atomic<bool> &running);

} // namespace service

#endif
