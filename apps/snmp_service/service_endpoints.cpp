// Endpoints that manage agents and users, list them, and wrap the SDK's helpers; and the dispatch
// of every path to its handler.
#include "apps/snmp_service/service_endpoints.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "apps/snmp_service/service_endpoint_support.h"
#include "apps/snmp_service/service_json.h"
#include "apps/snmp_service/service_query.h"
#include "apps/snmp_service/service_sdk.h"
#include "apps/snmp_service/service_traps.h"

namespace service {

std::shared_mutex g_agent_table_lock;

std::string param(const request_context &ctx, std::string_view name, size_t field_size) {
    return get_param(ctx.query, name, field_size);
}

uint16_t port_param(const request_context &ctx) {
    const std::string text = param(ctx, "port", k_number_field);
    return text.empty() ? k_default_agent_port : static_cast<uint16_t>(parse_decimal(text));
}

uint32_t timeout_param(const request_context &ctx) {
    const std::string text = param(ctx, "timeout", k_number_field);
    return text.empty() ? k_default_timeout_ms : static_cast<uint32_t>(parse_decimal(text));
}

void write_ret_msg(json_writer &json, int64_t ret, std::string_view msg) {
    json.raw("{\"ret\":").num(ret).raw(",\"msg\":").str(msg).raw("}");
}

void write_sdk_result(json_writer &json, api_snmp_err ret) {
    write_ret_msg(json, ret, g_sdk.fp_api_snmp_error_to_str(ret));
}

namespace {

constexpr size_t k_community_field = 64;
constexpr size_t k_password_field = 64;
constexpr size_t k_path_field = 256;
constexpr size_t k_oid_field = 128;
constexpr size_t k_level_field = 16;

constexpr size_t k_agent_list_capacity = 128;
constexpr size_t k_user_list_capacity = 64;
constexpr size_t k_max_listed_text = 40; /* characters of an IP or user name in a list item */

constexpr int64_t k_max_auth_alg = API_SNMP_AUTH_STD_SHA512; /* both schemes (vek_nms_sdk.h) */
constexpr int64_t k_max_priv_alg = API_SNMP_PRIV_STD_AES256C;

using handler = void (*)(const request_context &, json_writer &);

std::string_view bounded(const char *text, size_t field_size, size_t max_len) {
    return {text, strnlen(text, std::min(field_size, max_len))};
}

/* {"ret":0,"msg":"success","<field>":<value>} */
void write_success_with(json_writer &json, std::string_view field, int64_t value) {
    json.raw("{\"ret\":0,\"msg\":\"success\",\"").raw(field).raw("\":").num(value).raw("}");
}

// ---- agents ----

void api_agent_create(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    const std::string version = param(ctx, "version", k_number_field);
    api_snmp_agent_config config{};
    config.version = version == "0" ? API_SNMP_V1 : version == "3" ? API_SNMP_V3 : API_SNMP_V2C;
    const std::string community = param(ctx, "community", k_community_field);
    std::memcpy(config.community, community.data(), std::min(community.size(), sizeof config.community - 1));
    /* The community is a secret of the devices: never printed. */
    std::printf("[API] api_snmp_agent_create ip=%s port=%d version=%u community=***\n", ip.c_str(), port,
                static_cast<unsigned>(config.version));
    api_snmp_err ret = API_SNMP_OK;
    {
        const std::unique_lock<std::shared_mutex> table(g_agent_table_lock);
        ret = g_sdk.fp_api_snmp_agent_create(ip.c_str(), port, &config);
    }
    std::printf("[API] api_snmp_agent_create ret=%d\n", static_cast<int>(ret));
    write_sdk_result(json, ret);
}

void api_agent_remove(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    std::printf("[API] api_snmp_agent_remove ip=%s port=%d\n", ip.c_str(), port);
    api_snmp_err ret = API_SNMP_OK;
    {
        const std::unique_lock<std::shared_mutex> table(g_agent_table_lock);
        ret = g_sdk.fp_api_snmp_agent_remove(ip.c_str(), port);
    }
    std::printf("[API] api_snmp_agent_remove ret=%d\n", static_cast<int>(ret));
    write_sdk_result(json, ret);
}

void api_agent_exist(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    std::printf("[API] api_snmp_agent_exist ip=%s port=%d\n", ip.c_str(), port);
    bool exist = false;
    {
        const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
        exist = g_sdk.fp_api_snmp_agent_exist(ip.c_str(), port);
    }
    std::printf("[API] api_snmp_agent_exist ret=%d\n", exist ? 1 : 0);
    write_success_with(json, "exist", exist ? 1 : 0);
}

void api_get_agent_count(const request_context & /*ctx*/, json_writer &json) {
    std::printf("[API] api_snmp_get_agent_count\n");
    uint32_t count = 0;
    {
        const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
        count = g_sdk.fp_api_snmp_get_agent_count();
    }
    std::printf("[API] api_snmp_get_agent_count ret=%u\n", static_cast<unsigned>(count));
    write_success_with(json, "count", count);
}

void api_get_agent_list(const request_context & /*ctx*/, json_writer &json) {
    std::vector<api_snmp_agent_info> agents(k_agent_list_capacity);
    std::printf("[API] api_snmp_get_agent_list capacity=%u\n", static_cast<unsigned>(agents.size()));
    uint32_t total = 0;
    {
        const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
        total = g_sdk.fp_api_snmp_get_agent_list(agents.data(), static_cast<uint32_t>(agents.size()));
    }
    total = std::min<uint32_t>(total, static_cast<uint32_t>(agents.size()));
    std::printf("[API] api_snmp_get_agent_list ret=%u\n", static_cast<unsigned>(total));
    json.raw("{\"ret\":0,\"msg\":\"success\",\"total\":").unum(total).raw(",\"list\":[");
    for (uint32_t i = 0; i < total; ++i) {
        const api_snmp_agent_info &agent = agents[i];
        json.raw(i == 0 ? "{\"ip\":" : ",{\"ip\":").str(bounded(agent.ip, sizeof agent.ip, k_max_listed_text));
        json.raw(",\"port\":").unum(agent.port).raw(",\"version\":").num(static_cast<int32_t>(agent.version));
        json.raw(",\"timeout\":").unum(agent.timeout_ms).raw(",\"max_retry\":").num(static_cast<int32_t>(agent.retries));
        json.raw("}");
    }
    json.raw("]}");
}

// ---- users ----

/* The refusal of the user checks, or empty when the parameters may go to the SDK. */
std::string user_add_refusal(int64_t auth_alg, int64_t priv_alg, const std::string &auth_pass,
                             const std::string &priv_pass) {
    // Negative numbers are refused as well: the SDK would read them as huge algorithm numbers.
    if (auth_alg < 0 || auth_alg > k_max_auth_alg) {
        return "invalid auth_alg value " + std::to_string(auth_alg);
    }
    if (priv_alg < 0 || priv_alg > k_max_priv_alg) {
        return "invalid priv_alg value " + std::to_string(priv_alg);
    }
    if (auth_alg != 0 && auth_pass.empty()) {
        return "auth algorithm selected, auth_pass cannot empty";
    }
    if (auth_alg != 0 && priv_alg != 0 && priv_pass.empty()) {
        return "priv algorithm selected, priv_pass cannot empty";
    }
    if (auth_alg == 0 && priv_alg != 0) {
        return priv_pass.empty() ? "priv algorithm selected, priv_pass cannot empty" : "priv requires auth enabled first";
    }
    return {};
}

void api_user_add(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    const std::string user = param(ctx, "username", k_user_field);
    const int64_t auth_alg = parse_decimal(param(ctx, "auth_alg", k_number_field));
    const int64_t priv_alg = parse_decimal(param(ctx, "priv_alg", k_number_field));
    const std::string auth_pass = param(ctx, "auth_pass", k_password_field);
    const std::string priv_pass = param(ctx, "priv_pass", k_password_field);
    if (const std::string refusal = user_add_refusal(auth_alg, priv_alg, auth_pass, priv_pass); !refusal.empty()) {
        write_ret_msg(json, 1, refusal);
        return;
    }
    api_snmp_v3_user_config config{};
    std::memcpy(config.user_name, user.data(), std::min(user.size(), sizeof config.user_name - 1));
    config.auth_alg = static_cast<uint32_t>(auth_alg);
    config.priv_alg = static_cast<uint32_t>(priv_alg);
    config.auth_password = auth_pass.c_str();
    config.priv_password = priv_pass.c_str();
    std::printf("[API] api_snmp_user_add ip=%s port=%d user=%s auth_alg=%u priv_alg=%u\n", ip.c_str(), port,
                config.user_name, static_cast<unsigned>(config.auth_alg), static_cast<unsigned>(config.priv_alg));
    api_snmp_err ret = API_SNMP_OK;
    {
        const std::unique_lock<std::shared_mutex> table(g_agent_table_lock);
        ret = g_sdk.fp_api_snmp_user_add(ip.c_str(), port, &config);
    }
    std::printf("[API] api_snmp_user_add ret=%d\n", static_cast<int>(ret));
    write_sdk_result(json, ret);
}

void api_user_remove(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    const std::string user = param(ctx, "username", k_user_field);
    std::printf("[API] api_snmp_user_remove ip=%s port=%d user=%s\n", ip.c_str(), port, user.c_str());
    api_snmp_err ret = API_SNMP_OK;
    {
        const std::unique_lock<std::shared_mutex> table(g_agent_table_lock);
        ret = g_sdk.fp_api_snmp_user_remove(ip.c_str(), port, user.c_str());
    }
    std::printf("[API] api_snmp_user_remove ret=%d\n", static_cast<int>(ret));
    write_sdk_result(json, ret);
}

void api_get_user_count(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    std::printf("[API] api_snmp_get_user_count ip=%s port=%d\n", ip.c_str(), port);
    uint32_t count = 0;
    {
        const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
        count = g_sdk.fp_api_snmp_get_user_count(ip.c_str(), port);
    }
    std::printf("[API] api_snmp_get_user_count ret=%u\n", static_cast<unsigned>(count));
    write_success_with(json, "count", count);
}

void api_get_user_list(const request_context &ctx, json_writer &json) {
    const std::string ip = param(ctx, "ip", k_ip_field);
    const uint16_t port = port_param(ctx);
    std::vector<api_snmp_user_info> users(k_user_list_capacity);
    std::printf("[API] api_snmp_get_user_list ip=%s port=%d\n", ip.c_str(), port);
    uint32_t total = 0;
    {
        const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
        total = g_sdk.fp_api_snmp_get_user_list(ip.c_str(), port, users.data(), static_cast<uint32_t>(users.size()));
    }
    total = std::min<uint32_t>(total, static_cast<uint32_t>(users.size()));
    std::printf("[API] api_snmp_get_user_list ret=%u\n", static_cast<unsigned>(total));
    json.raw("{\"ret\":0,\"msg\":\"success\",\"total\":").unum(total).raw(",\"list\":[");
    for (uint32_t i = 0; i < total; ++i) {
        const api_snmp_user_info &user = users[i];
        json.raw(i == 0 ? "{\"username\":" : ",{\"username\":")
            .str(bounded(user.user_name, sizeof user.user_name, k_max_listed_text));
        json.raw(",\"auth_alg\":").num(static_cast<int32_t>(user.auth_alg));
        json.raw(",\"priv_alg\":").num(static_cast<int32_t>(user.priv_alg)).raw("}");
    }
    json.raw("]}");
}

// ---- helpers of the SDK ----

void api_mib_load(const request_context &ctx, json_writer &json) {
    const std::string path = param(ctx, "path", k_path_field);
    std::printf("[API] api_snmp_mib_load path=%s\n", path.c_str());
    const api_snmp_err ret = g_sdk.fp_api_snmp_mib_load(path.c_str());
    std::printf("[API] api_snmp_mib_load ret=%d\n", static_cast<int>(ret));
    write_sdk_result(json, ret);
}

void api_oid_validate(const request_context &ctx, json_writer &json) {
    const std::string oid = param(ctx, "oid", k_oid_field);
    std::printf("[API] api_snmp_oid_validate oid=%s\n", oid.c_str());
    const bool valid = g_sdk.fp_api_snmp_oid_validate(oid.c_str());
    std::printf("[API] api_snmp_oid_validate ret=%d\n", valid ? 1 : 0);
    write_success_with(json, "valid", valid ? 1 : 0);
}

void api_set_log_level(const request_context &ctx, json_writer &json) {
    const auto level = static_cast<uint32_t>(parse_decimal(param(ctx, "level", k_level_field)));
    std::printf("[API] api_snmp_set_log_level level=%u\n", static_cast<unsigned>(level));
    g_sdk.fp_api_snmp_set_log_level(level);
    std::printf("[API] api_snmp_set_log_level done\n");
    write_ret_msg(json, 0, "success");
}

void api_error_to_str(const request_context &ctx, json_writer &json) {
    const auto code = static_cast<int32_t>(parse_decimal(param(ctx, "code", k_number_field)));
    std::printf("[API] api_snmp_error_to_str code=%d\n", static_cast<int>(code));
    const char *text = g_sdk.fp_api_snmp_error_to_str(static_cast<uint32_t>(code));
    std::printf("[API] api_snmp_error_to_str ret=%s\n", text);
    write_ret_msg(json, code, text);
}

void api_error_status_to_str(const request_context &ctx, json_writer &json) {
    const auto status = static_cast<int32_t>(parse_decimal(param(ctx, "status", k_number_field)));
    std::printf("[API] api_snmp_error_status_to_str status=%d\n", static_cast<int>(status));
    const char *text = g_sdk.fp_api_snmp_error_status_to_str(static_cast<uint32_t>(status));
    std::printf("[API] api_snmp_error_status_to_str ret=%s\n", text);
    write_ret_msg(json, status, text);
}

void api_trap_list(const request_context & /*ctx*/, json_writer &json) { g_recent_traps.write_json(json); }

struct endpoint {
    std::string_view path;
    handler handle;
};

constexpr std::array k_endpoints{
    endpoint{"/api_snmp_agent_create", api_agent_create},
    endpoint{"/api_snmp_agent_remove", api_agent_remove},
    endpoint{"/api_snmp_agent_exist", api_agent_exist},
    endpoint{"/api_snmp_user_add", api_user_add},
    endpoint{"/api_snmp_user_remove", api_user_remove},
    endpoint{"/api_snmp_get", api_get},
    endpoint{"/api_snmp_getnext", api_getnext},
    endpoint{"/api_snmp_get_bulk", api_get_bulk},
    endpoint{"/api_snmp_set", api_set},
    endpoint{"/api_snmp_walk", api_walk},
    endpoint{"/api_snmp_mib_load", api_mib_load},
    endpoint{"/api_snmp_oid_validate", api_oid_validate},
    endpoint{"/api_snmp_set_log_level", api_set_log_level},
    endpoint{"/api_snmp_error_to_str", api_error_to_str},
    endpoint{"/api_snmp_error_status_to_str", api_error_status_to_str},
    endpoint{"/api_snmp_get_agent_count", api_get_agent_count},
    endpoint{"/api_snmp_get_agent_list", api_get_agent_list},
    endpoint{"/api_snmp_get_user_count", api_get_user_count},
    endpoint{"/api_snmp_get_user_list", api_get_user_list},
    endpoint{"/api_snmp_trap_list", api_trap_list},
};

} // namespace

std::string handle_api_request(std::string_view path, const request_context &ctx) {
    json_writer json;
    const auto it =
        std::find_if(k_endpoints.begin(), k_endpoints.end(), [path](const endpoint &e) { return e.path == path; });
    if (it == k_endpoints.end()) {
        json.raw("{\"ret\":-404,\"msg\":\"unknown api\",\"path\":").str(path).raw("}");
    } else {
        it->handle(ctx, json);
    }
    return json.take();
}

} // namespace service
