/* The forwarded short paths of the web bridge (see bridge_routes.h). */
#include "apps/snmp_web_bridge/bridge_routes.h"

#include <algorithm>

#include "apps/snmp_web_bridge/bridge_http.h"

namespace bridge {

namespace {

constexpr std::string_view kSlot = "%s";
constexpr std::string_view kHiddenValue = "***";
/* Values never logged (the log is readable through /log): passwords and communities. */
constexpr std::array<std::string_view, 3> kSecretParams = {"auth_pass", "priv_pass", "community"};
constexpr size_t kRouteCount = 13;

constexpr std::array<forward_route, kRouteCount> kRoutes = {{
    {"/agent_add", "/api_snmp_agent_create", {"ip", "port", "version", "community"},
     {"请求：添加Agent | ip=%s port=%s ver=%s com=%s", {"ip", "port", "version", "community"}}, {}, false},
    {"/agent_remove", "/api_snmp_agent_remove", {"ip", "port"},
     {"请求：删除Agent | ip=%s port=%s", {"ip", "port"}}, {}, false},
    {"/agent_exist", "/api_snmp_agent_exist", {"ip", "port"},
     {"请求：检查Agent | ip=%s port=%s", {"ip", "port"}}, {}, false},
    {"/agent_list", "/api_snmp_get_agent_list", {}, {"请求：Agent列表", {}}, {}, false},
    {"/user_add", "/api_snmp_user_add", {"ip", "port", "username", "auth_alg", "auth_pass", "priv_alg", "priv_pass"},
     {"请求：添加SNMPv3用户 | ip=%s port=%s user=%s auth_alg=%s priv_alg=%s",
      {"ip", "port", "username", "auth_alg", "priv_alg"}},
     {}, false},
    {"/user_remove", "/api_snmp_user_remove", {"ip", "port", "username"},
     {"请求：删除SNMPv3用户 | ip=%s port=%s user=%s", {"ip", "port", "username"}}, {}, false},
    {"/user_list", "/api_snmp_get_user_list", {"ip", "port"},
     {"请求：SNMPv3用户列表 | ip=%s port=%s", {"ip", "port"}}, {}, false},
    {"/snmp_get", "/api_snmp_get", {"ip", "port", "username", "oid"},
     {"请求：SNMP GET | ip=%s port=%s oid=%s", {"ip", "port", "oid"}}, {}, false},
    {"/snmp_getnext", "/api_snmp_getnext", {"ip", "port", "username", "oid"},
     {"请求：SNMP GETNEXT | ip=%s port=%s oid=%s", {"ip", "port", "oid"}}, {}, false},
    {"/snmp_getbulk", "/api_snmp_get_bulk", {"ip", "port", "username", "oid", "non_repeat", "max_repeat"},
     {"请求：SNMP GETBULK | ip=%s port=%s oid=%s nr=%s mr=%s 后端返回=%s",
      {"ip", "port", "oid", "non_repeat", "max_repeat"}},
     {"[GETBULK_BRIDGE_INPUT] ip=%s port=%s user=%s non_repeat=%s max_repeat=%s oid=%s",
      {"ip", "port", "username", "non_repeat", "max_repeat", "oid"}},
     false},
    {"/snmp_walk", "/api_snmp_walk", {"ip", "port", "username", "oid", "max_repeat", "limit"},
     {"请求：SNMP WALK | ip=%s port=%s oid=%s mr=%s limit=%s", {"ip", "port", "oid", "max_repeat", "limit"}}, {},
     false},
    {"/snmp_set", "/api_snmp_set", {"ip", "port", "username", "oid", "type", "value"},
     {"请求：SNMP SET | ip=%s port=%s oid=%s type=%s val=%s", {"ip", "port", "oid", "type", "value"}}, {}, false},
    /* Notifications the service received; the page polls it together with the log. */
    {"/trap_list", "/api_snmp_trap_list", {}, {}, {}, true},
}};

/* The value of the named parameter of the route, or empty. */
std::string_view value_of(const forward_route &route, std::span<const std::string> values, std::string_view name) {
    const auto names = route_params(route);
    const auto it = std::find(names.begin(), names.end(), name);
    const auto index = static_cast<size_t>(it - names.begin());
    return it == names.end() || index >= values.size() ? std::string_view{} : std::string_view{values[index]};
}

bool is_secret(std::string_view name) {
    return std::find(kSecretParams.begin(), kSecretParams.end(), name) != kSecretParams.end();
}

/* A value as the log shows it: a given secret as "***". */
std::string_view shown_value(std::string_view name, std::string_view value) {
    return is_secret(name) && !value.empty() ? kHiddenValue : value;
}

/* The service path with the values percent-encoded; with hide_secrets, given secrets as "***". */
std::string build_path(const forward_route &route, std::span<const std::string> values, bool hide_secrets) {
    std::string path(route.service_path);
    const auto names = route_params(route);
    for (size_t i = 0; i < names.size(); ++i) {
        path += i == 0 ? '?' : '&';
        path += names[i];
        path += '=';
        if (i >= values.size()) {
            continue;
        }
        const bool hide = hide_secrets && is_secret(names[i]) && !values[i].empty();
        path += hide ? std::string(kHiddenValue) : percent_encode(values[i]);
    }
    return path;
}

} // namespace

const forward_route *find_route(std::string_view path) {
    const auto it = std::find_if(kRoutes.begin(), kRoutes.end(),
                                 [&](const forward_route &route) { return route.bridge_path == path; });
    return it == kRoutes.end() ? nullptr : &*it;
}

std::span<const std::string_view> route_params(const forward_route &route) {
    const auto end = std::find(route.params.begin(), route.params.end(), std::string_view{});
    return {route.params.begin(), end};
}

std::vector<std::string> route_values(const forward_route &route, std::string_view query) {
    std::vector<std::string> values;
    for (const std::string_view name : route_params(route)) {
        values.push_back(query_param(query, name));
    }
    return values;
}

std::string forward_path(const forward_route &route, std::span<const std::string> values) {
    return build_path(route, values, false);
}

std::string logged_path(const forward_route &route, std::span<const std::string> values) {
    return build_path(route, values, true);
}

std::string fill_log(const forward_route &route, const log_template &tmpl, std::span<const std::string> values,
                     std::string_view answer) {
    std::string out;
    std::string_view rest = tmpl.text;
    size_t slot = 0;
    for (size_t at = rest.find(kSlot); at != std::string_view::npos; at = rest.find(kSlot)) {
        out += rest.substr(0, at);
        rest.remove_prefix(at + kSlot.size());
        const bool named = slot < tmpl.params.size() && !tmpl.params[slot].empty();
        out += named ? shown_value(tmpl.params[slot], value_of(route, values, tmpl.params[slot])) : answer;
        ++slot;
    }
    out += rest;
    return out;
}

} // namespace bridge
