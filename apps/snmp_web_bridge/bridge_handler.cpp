/* One client connection of the web bridge (see bridge_handler.h). */
#include "apps/snmp_web_bridge/bridge_handler.h"

#include <arpa/inet.h>

#include <array>
#include <new>
#include <optional>

#include "apps/http_intake/http_head.h"
#include "apps/snmp_web_bridge/bridge_http.h"
#include "apps/snmp_web_bridge/bridge_log.h"
#include "apps/snmp_web_bridge/bridge_page.h"
#include "apps/snmp_web_bridge/bridge_routes.h"

namespace bridge {

namespace {

constexpr std::string_view kPathStatus = "/status";
constexpr std::string_view kPathLog = "/log";
constexpr std::string_view kPathFavicon = "/favicon.ico";
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

constexpr std::string_view kLogNewClient = "新客户端请求接入";
constexpr std::string_view kLogStatus = "请求：状态查询";
constexpr std::string_view kLogPage = "已返回Web主页";
constexpr std::string_view kLogForwardUrl = "[GETBULK_FORWARD_URL] ";
constexpr const char *kLogOtherSite = "已拒绝其他网站页面发来的请求 | 客户端 %s 路径 %.*s";
constexpr const char *kLogAuthFailed = "认证失败 | 客户端 %s";

/* Paths the page polls, and the icon: they leave no access line in the log. */
bool is_quiet(std::string_view path) {
    if (path == kPathLog || path == kPathFavicon) {
        return true;
    }
    const forward_route *route = find_route(path);
    return route != nullptr && route->quiet;
}

std::string json_reply(std::string_view body) {
    std::string bytes(kJsonHeader);
    bytes += body;
    return bytes;
}

std::string log_reply() {
    std::string body;
    try {
        body = bridge_log_json();
    } catch (const std::bad_alloc &) {
        body = kLogAllocFailBody;
    }
    std::string bytes(kLogHeaderStart);
    bytes += std::to_string(body.size());
    bytes += kHeaderEnd;
    bytes += body;
    return bytes;
}

bridge_reply forward_reply(const forward_route &route, std::string_view request, const service_link &service) {
    const std::vector<std::string> values = route_values(route, request_query(request));
    const std::string path = forward_path(route, values);
    const std::string shown = route.quiet ? std::string{} : logged_path(route, values);
    if (!route.input_log.text.empty()) {
        bridge_log_text(fill_log(route, route.input_log, values));
        bridge_log_text(std::string(kLogForwardUrl) + shown);
    }
    const std::string answer = service.forward(path, shown);
    bridge_reply reply{json_reply(answer), {}};
    if (!route.done_log.text.empty()) {
        reply.done_log = fill_log(route, route.done_log, values, answer);
    }
    return reply;
}

std::string address_text(in_addr address) {
    std::array<char, INET_ADDRSTRLEN> text{};
    ::inet_ntop(AF_INET, &address, text.data(), text.size());
    return text.data();
}

/* The refusal for a request from another site's page or without the credentials; nothing when the
 * request may be answered. */
std::optional<bridge_reply> screen(const http_intake::request &request, basic_auth &auth) {
    if (http_intake::from_other_site(request.head)) {
        const std::string_view path = request_path(request.head);
        bridge_log(kLogOtherSite, address_text(request.peer).c_str(), static_cast<int>(path.size()), path.data());
        return bridge_reply{std::string(http_intake::k_forbidden_answer), {}};
    }
    switch (auth.check(request.head, request.peer.s_addr, basic_auth::clock::now())) {
    case auth_verdict::admitted:
        return std::nullopt;
    case auth_verdict::blocked:
        return bridge_reply{std::string(kTooManyFailures), {}};
    case auth_verdict::refused:
        break;
    }
    if (http_intake::header_value(request.head, "Authorization")) {
        bridge_log(kLogAuthFailed, address_text(request.peer).c_str());
    }
    return bridge_reply{std::string(kUnauthorized), {}};
}

} // namespace

bridge_reply answer_request(std::string_view request, const service_link &service) {
    const std::string_view path = request_path(request);
    if (!is_quiet(path)) {
        bridge_log_text(kLogNewClient);
    }
    if (path == kPathFavicon) {
        return {std::string(kNoContent), {}};
    }
    if (path == kPathLog) {
        return {log_reply(), {}};
    }
    if (path == kPathStatus) {
        return {json_reply(kStatusBody), std::string(kLogStatus)};
    }
    if (const forward_route *route = find_route(path)) {
        return forward_reply(*route, request, service);
    }
    std::string page(kPageHeader);
    page += index_html();
    return {std::move(page), std::string(kLogPage)};
}

void handle_request(http_intake::request request, const service_link &service, basic_auth &auth) {
    const std::optional<bridge_reply> refusal = screen(request, auth);
    const bridge_reply reply = refusal ? *refusal : answer_request(request.head, service);
    send_all(request.conn.get(), reply.bytes, clock_type::now() + kClientSendLimit);
    close_gracefully(request.conn, kClientDrainLimit);
    if (!reply.done_log.empty()) {
        bridge_log_text(reply.done_log);
    }
}

} // namespace bridge
