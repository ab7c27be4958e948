#include "apps/snmp_service/service_server.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "apps/app_os/app_os.h"
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

void send_all(app_os::socket_t fd, std::string_view data) {
    while (!data.empty()) {
        const app_os::io_result n = app_os::send_some(fd, data.data(), data.size(), true);
        if (n <= 0) {
            return;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

/* Ends our side and reads what the client still sends, for a short while. */
void finish_connection(app_os::socket_t fd) {
    app_os::shutdown_send(fd);
    app_os::set_io_limit(fd, false, k_drain_limit);
    std::array<char, k_drain_chunk> sink{};
    size_t drained = 0;
    while (drained < k_max_drain) {
        const app_os::io_result n = app_os::recv_some(fd, sink.data(), sink.size(), true);
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
    const app_os::socket_t fd = request.conn.get();
    app_os::set_io_limit(fd, true, k_client_send_limit);
    send_all(fd, answer_for(request.head, running));
    finish_connection(fd);
}

} // namespace service
