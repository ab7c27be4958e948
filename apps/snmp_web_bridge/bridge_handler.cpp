/* One client connection of the web bridge (see bridge_handler.h). */
#include "apps/snmp_web_bridge/bridge_handler.h"

#include <new>

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

/* Reads until the request line is complete, the client closes, kMaxRequest bytes arrived, or the
 * time limit passes. */
std::string read_request(int fd) {
    std::string request;
    const auto deadline = clock_type::now() + kClientReadLimit;
    while (request.size() < kMaxRequest && !request_line_complete(request)) {
        if (receive_some(fd, request, kMaxRequest - request.size(), deadline) != receive_status::data) {
            break;
        }
    }
    return request;
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

void handle_client(unique_fd client, const service_link &service) {
    const std::string request = read_request(client.get());
    if (request.empty()) {
        return;
    }
    const bridge_reply reply = answer_request(request, service);
    send_all(client.get(), reply.bytes, clock_type::now() + kClientSendLimit);
    close_gracefully(client, kClientDrainLimit);
    if (!reply.done_log.empty()) {
        bridge_log_text(reply.done_log);
    }
}

} // namespace bridge
