/* The HTTP side of the service: the listening socket, the intake thread that accepts connections and
 * reads request heads (see apps/http_intake), and the workers that answer complete requests. A
 * request that another site's page made a browser send, or that names this host by a name some
 * other site could point here, is refused before any work. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_SERVER_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_SERVER_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "apps/http_intake/http_intake.h"
#include "apps/snmp_service/service_http.h"

namespace service {

inline constexpr uint16_t k_default_http_port = 8099;
inline constexpr size_t k_http_worker_count = 8;
inline constexpr int k_listen_backlog = 64;

/* Limits of the intake: the whole head within 5 s, 32 connections per client address, 256 heads
 * read at once, 31 complete requests waiting for a worker. */
inline constexpr std::chrono::milliseconds k_head_limit{5000};
inline constexpr size_t k_max_per_address = 32;
inline constexpr size_t k_max_reading = 256;
inline constexpr size_t k_queue_slots = 32;
inline constexpr http_intake::limits k_intake_limits{k_request_read_size, k_head_limit, k_max_per_address,
                                                     k_max_reading, k_queue_slots};

/* Worker body: while running, takes complete requests from the intake and answers them. */
void http_worker(http_intake::intake &intake, const std::atomic<bool> &running);

/* Screens and answers one request and closes its connection. */
void handle_http_request(http_intake::request request, const std::atomic<bool> &running);

} // namespace service

#endif
