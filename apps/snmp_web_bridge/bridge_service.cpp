/* The web bridge's link to the HTTP service (see bridge_service.h). */
#include "apps/snmp_web_bridge/bridge_service.h"

#include <thread>

#include "apps/snmp_web_bridge/bridge_http.h"
#include "apps/snmp_web_bridge/bridge_log.h"
#include "apps/snmp_web_bridge/bridge_socket.h"

namespace bridge {

namespace {

constexpr std::string_view kRequestStart = "GET ";
constexpr std::string_view kRequestEnd = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

} // namespace

std::string service_link::forward(std::string_view path, std::string_view shown_path) const {
    if (!alive()) {
        return std::string(kBodyOffline);
    }
    const unique_fd sock = connect_with_limit(addr_, kForwardConnectLimit);
    if (!sock.valid()) {
        return std::string(kBodyConnectFailed);
    }
    std::string request(kRequestStart);
    request += path;
    request += kRequestEnd;
    send_all(sock.get(), request, clock_type::now() + kForwardSendLimit);

    bool too_large = false;
    const std::string reply =
        receive_until_close(sock.get(), kMaxServiceReply, clock_type::now() + kForwardReplyLimit, &too_large);
    if (reply.empty()) {
        return std::string(kBodyNoData);
    }
    const std::string answer(too_large ? kBodyTooLarge : reply_body(reply));
    if (!shown_path.empty()) {
        std::string line = "API ";
        line += shown_path;
        line += " → 响应：";
        line += answer;
        bridge_log_text(line);
    }
    return answer;
}

bool service_link::probe() const { return connect_with_limit(addr_, kHealthConnectLimit).valid(); }

void service_link::check_once() {
    const bool now_alive = probe();
    if (now_alive == alive_.exchange(now_alive)) {
        return;
    }
    bridge_log_text(now_alive ? kLogServiceUp : kLogServiceDown);
}

void service_link::run_health_checks() {
    for (;;) {
        std::this_thread::sleep_for(kHealthInterval);
        check_once();
    }
}

} // namespace bridge
