// Fuzz target: browser requests through the web bridge's request parsing, the forwarded path and the
// JSON escaping. What a request's values become when forwarded must read back to the same values,
// and every escaped text must be free of raw control characters and invalid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "apps/snmp_web_bridge/bridge_http.h"
#include "apps/snmp_web_bridge/bridge_json.h"
#include "apps/snmp_web_bridge/bridge_routes.h"

namespace {

constexpr size_t kMaxInput = 16384;
constexpr std::string_view kRoutePaths[] = {"/agent_add", "/agent_remove", "/agent_exist", "/agent_list",
                                            "/user_add",  "/user_remove",  "/user_list",   "/snmp_get",
                                            "/snmp_getnext", "/snmp_getbulk", "/snmp_set", "/trap_list"};
constexpr unsigned char kFirstPrintable = 0x20;

void require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

// Every byte of an escaped JSON string is printable ASCII or part of a valid UTF-8 sequence.
void check_json_text(std::string_view json) {
    require(json.size() >= 2 && json.front() == '"' && json.back() == '"');
    while (!json.empty()) {
        const auto c = static_cast<unsigned char>(json.front());
        require(c >= kFirstPrintable);
        const size_t len = bridge::utf8_sequence_len(json);
        require(len != 0);
        json.remove_prefix(len);
    }
}

void check_route(const bridge::forward_route &route, std::string_view query) {
    const std::vector<std::string> values = bridge::route_values(route, query);
    const std::string path = bridge::forward_path(route, values);
    require(path.find_first_of(" #\r\n") == std::string::npos);
    const size_t mark = path.find('?');
    const std::string_view forwarded = mark == std::string::npos ? std::string_view{} : std::string_view(path).substr(mark + 1);
    const auto names = bridge::route_params(route);
    for (size_t i = 0; i < names.size(); ++i) {
        require(bridge::query_param(forwarded, names[i]) == values[i]);
    }
    (void)bridge::fill_log(route, route.done_log, values, query);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    const std::string_view request(reinterpret_cast<const char *>(data), size);

    const std::string_view path = bridge::request_path(request);
    require(path.size() <= bridge::kMaxPathLen);
    require(path.find_first_of(" ?\r\n") == std::string_view::npos);
    const std::string_view query = bridge::request_query(request);
    require(query.find_first_of(" \r\n") == std::string_view::npos);

    // The request's own route, and every route with the same query.
    if (const bridge::forward_route *route = bridge::find_route(path)) {
        check_route(*route, query);
    }
    for (const std::string_view route_path : kRoutePaths) {
        check_route(*bridge::find_route(route_path), query);
    }

    const std::string decoded = bridge::percent_decode(query);
    require(decoded.size() <= query.size());
    require(bridge::percent_decode(bridge::percent_encode(request)) == request);

    check_json_text(bridge::json_string(request));
    check_json_text(bridge::json_string(decoded));
    const std::string_view cut = bridge::utf8_prefix(request, size / 2);
    require(cut.size() <= size / 2 && request.starts_with(cut));
    (void)bridge::reply_body(request);
    return 0;
}
