/* The short paths of the web bridge that are forwarded to the HTTP service: each maps to one path of
 * the service and a fixed list of query parameters, which are looked up by their exact names and
 * percent-encoded again when forwarded, and names the log lines written around it. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_ROUTES_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_ROUTES_H

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {

inline constexpr size_t kMaxRouteParams = 7; /* /user_add has the most */
inline constexpr size_t kMaxLogParams = 6;   /* the GET-BULK input line has the most */

/* A log line: a text with "%s" slots, filled in order from the route's parameters of these names;
 * slots beyond the names take the service's answer. */
struct log_template {
    std::string_view text;
    std::array<std::string_view, kMaxLogParams> params{};
};

/* One forwarded short path. Unused parameter names are empty. */
struct forward_route {
    std::string_view bridge_path;  /* "/snmp_get" */
    std::string_view service_path; /* "/api_snmp_get" */
    std::array<std::string_view, kMaxRouteParams> params{};
    log_template done_log;  /* written after answering; empty text: nothing */
    log_template input_log; /* written before forwarding, followed by the forwarded path; empty: nothing */
    bool quiet = false;     /* polled by the page: no access or forwarding log lines */
};

/* The forwarded route of a bridge path, or nullptr. */
const forward_route *find_route(std::string_view path);

/* The route's parameter names (without the unused ones). */
std::span<const std::string_view> route_params(const forward_route &route);

/* The route's parameters from the query, in the route's order (missing ones empty). */
std::vector<std::string> route_values(const forward_route &route, std::string_view query);

/* The service path with every value percent-encoded: "/api_snmp_get?ip=..&port=..". */
std::string forward_path(const forward_route &route, std::span<const std::string> values);

/* The service path as it is logged: forward_path with the values of passwords and communities shown
 * as "***" (the log is readable through /log). */
std::string logged_path(const forward_route &route, std::span<const std::string> values);

/* A log template filled with the route's values (a community as "***"); slots past its names take
 * `answer`. */
std::string fill_log(const forward_route &route, const log_template &tmpl, std::span<const std::string> values,
                     std::string_view answer = {});

} // namespace bridge

#endif
