#include "apps/snmp_service/service_server.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "apps/http_intake/http_head.h"
#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_http.h"
#include "apps/snmp_service/service_waiters.h"

namespace service {

namespace {

constexpr auto k_worker_wait = std::chrono::milliseconds(200); /* how often an idle worker looks at the running flag */
/* A client that does not take its answer within this time gives up its worker. */
constexpr std::chrono::seconds k_client_send_limit{5};
/* After the answer, what the client still sends is read and dropped for this long (so that closing
 * does not reset the connection before the client has the answer), up to k_max_drain bytes. */
constexpr std::chrono::milliseconds k_drain_limit{200};
constexpr size_t k_max_drain = 65536;
constexpr size_t k_drain_chunk = 4096;

void set_io_limit(int fd, int option, std::chrono::microseconds limit) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(limit).count());
    tv.tv_usec = static_cast<suseconds_t>((limit - std::chrono::seconds(tv.tv_sec)).count());
    setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

void send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

/* Ends our side and reads what the client still sends, for a short while. */
void finish_connection(int fd) {
    shutdown(fd, SHUT_WR);
    set_io_limit(fd, SO_RCVTIMEO, k_drain_limit);
    std::array<char, k_drain_chunk> sink{};
    size_t drained = 0;
    while (drained < k_max_drain) {
        const ssize_t n = recv(fd, sink.data(), sink.size(), 0);
        if (n <= 0) {
            return;
        }
        drained += static_cast<size_t>(n);
    }
}

/* The whole answer to a request: a refusal before any work, or the endpoint's JSON. */
std::string answer_for(std::string_view head, const std::atomic<bool> &running) {
    if (http_intake::from_other_site(head) || !http_intake::host_is_address(head)) {
        std::printf("[HTTP] refused: request from another site's page\n");
        return std::string(http_intake::k_forbidden_answer);
    }
    const http_request request = parse_http_request(head);
    const request_context ctx{request.query, next_waiter_id(), running};
    std::printf("[HTTP] path=%.*s\n", static_cast<int>(request.path.size()), request.path.data());
    const std::string json = handle_api_request(request.path, ctx);
    std::printf("[HTTP] response: %s\n", json.c_str());
    return std::string(k_answer_header) + json;
}

} // namespace

void http_worker(http_intake::intake &intake, const std::atomic<bool> &running) {
    while (running.load()) {
        if (auto request = intake.pop(k_worker_wait)) {
            handle_http_request(std::move(*request), running);
        }
    }
}

void handle_http_request(http_intake::request request, const std::atomic<bool> &running) {
    const int fd = request.conn.get();
    set_io_limit(fd, SO_SNDTIMEO, k_client_send_limit);
    send_all(fd, answer_for(request.head, running));
    finish_connection(fd);
}

} // namespace service
