// GET, GET-NEXT, GET-BULK and SET: sent through the SDK and answered when the response callback
// delivers the outcome.
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include "apps/snmp_service/service_endpoint_support.h"
#include "apps/snmp_service/service_query.h"
#include "apps/snmp_service/service_sdk.h"
#include "apps/snmp_service/service_server.h"
#include "apps/snmp_service/service_waiters.h"

namespace service {

/* The agents whose turn is held, each at most once. Every HTTP worker holds at most one turn at a
 * time, so the table has a place per worker; a request waits while its own agent is in the table,
 * never behind another agent's request. */
class turn_table {
public:
    /* Waits until the agent's turn is free and takes it; false when the deadline passes or the service
     * stops first. */
    bool enter(const std::string &ip, uint16_t port, std::chrono::steady_clock::time_point deadline,
               const std::atomic<bool> &running) {
        std::unique_lock<std::mutex> lock(mtx_);
        holder *place = nullptr;
        while (held_by(ip, port) != nullptr || (place = free_place()) == nullptr) {
            const auto now = std::chrono::steady_clock::now();
            if (!running.load() || now >= deadline) {
                return false;
            }
            changed_.wait_until(lock, std::min(deadline, now + k_turn_slice));
        }
        *place = holder{ip, port, true};
        return true;
    }

    void leave(const std::string &ip, uint16_t port) {
        {
            const std::lock_guard<std::mutex> lock(mtx_);
            if (holder *place = held_by(ip, port); place != nullptr) {
                *place = holder{};
            }
        }
        changed_.notify_all();
    }

private:
    struct holder {
        std::string ip;
        uint16_t port = 0;
        bool used = false;
    };

    holder *held_by(const std::string &ip, uint16_t port) {
        const auto it = std::find_if(holders_.begin(), holders_.end(),
                                     [&](const holder &h) { return h.used && h.port == port && h.ip == ip; });
        return it != holders_.end() ? &*it : nullptr;
    }

    holder *free_place() {
        const auto it = std::find_if(holders_.begin(), holders_.end(), [](const holder &h) { return !h.used; });
        return it != holders_.end() ? &*it : nullptr;
    }

    /* How often a request waiting for its turn looks at the running flag. */
    static constexpr std::chrono::milliseconds k_turn_slice{200};
    std::mutex mtx_;
    std::condition_variable changed_;
    std::array<holder, k_http_worker_count> holders_{};
};

namespace {

constexpr size_t k_value_list_field = 1024;
constexpr size_t k_max_request_varbinds = 32; /* OIDs (or OID/value pairs) taken from one request */
constexpr uint8_t k_default_max_repeat = 10;
constexpr uint32_t k_low_byte = 0xFFu;

turn_table g_agent_turns;

const char *user_or_null(const std::string &user) { return user.empty() ? nullptr : user.c_str(); }

const char *trace_user(const std::string &user) { return user.empty() ? "NULL" : user.c_str(); }

uint8_t low_byte(const std::string &text) { return static_cast<uint8_t>(parse_decimal(text) & k_low_byte); }

/* The SDK's name for a type word of the web page; other words pass unchanged. */
std::string sdk_type_name(std::string type) {
    if (type == "octet_string") {
        return "string";
    }
    if (type == "integer") {
        return "int";
    }
    return type;
}

/* One GET varbind per OID of the list; the SDK refuses the request when one of them is invalid. */
std::vector<api_snmp_varbind> get_varbinds(const std::vector<std::string> &oids) {
    std::vector<api_snmp_varbind> varbinds(oids.size());
    for (size_t i = 0; i < oids.size(); ++i) {
        g_sdk.fp_api_snmp_create_get_varbind(oids[i].c_str(), &varbinds[i]);
    }
    return varbinds;
}

void write_agent_answer(json_writer &json, agent_op op, const api_snmp_response &response) {
    if (response.error_status != 0) {
        // Printed signed: the local-failure marker 0xFFFFFFFF shows as -1.
        write_ret_msg(json, static_cast<int32_t>(response.error_status),
                      g_sdk.fp_api_snmp_error_status_to_str(response.error_status));
        return;
    }
    const size_t count = std::min<size_t>(response.var_count, API_SNMP_MAX_RESPONSE_VARBINDS);
    if (count == 0 || op == agent_op::set) {
        write_ret_msg(json, 0, g_sdk.fp_api_snmp_error_status_to_str(0));
        return;
    }
    json.raw("{\"ret\":0,\"msg\":\"success\",\"data\":[");
    for (size_t i = 0; i < count; ++i) {
        if (i != 0) {
            json.raw(",");
        }
        append_varbind_item(json, response.varbinds[i]);
    }
    json.raw("]}");
}

void write_wait_expired(json_writer &json, const agent_request &req) {
    std::printf("[API] %s no answer within %lld s\n", req.name, static_cast<long long>(k_agent_request_limit.count()));
    write_sdk_result(json, API_SNMP_ERR_TIMEOUT);
}

} // namespace

agent_turn::agent_turn(const std::string &ip, uint16_t port, std::chrono::steady_clock::time_point deadline,
                       const std::atomic<bool> &running)
    : ip_(ip), port_(port), held_(g_agent_turns.enter(ip, port, deadline, running)) {}

agent_turn::~agent_turn() {
    if (held_) {
        g_agent_turns.leave(ip_, port_);
    }
}

api_snmp_err send_agent_request(const agent_request &req, uint64_t waiter_id) {
    void *user_data = reinterpret_cast<void *>(static_cast<uintptr_t>(waiter_id));
    const auto count = static_cast<uint8_t>(req.varbinds.size());
    const char *user = user_or_null(req.user);
    const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
    switch (req.op) {
        case agent_op::get:
            return g_sdk.fp_api_snmp_get(req.ip.c_str(), req.port, user, req.varbinds.data(), count, req.timeout_ms,
                                         user_data);
        case agent_op::get_next:
            return g_sdk.fp_api_snmp_get_next(req.ip.c_str(), req.port, user, req.varbinds.data(), count,
                                              req.timeout_ms, user_data);
        case agent_op::set:
            return g_sdk.fp_api_snmp_set(req.ip.c_str(), req.port, user, req.varbinds.data(), count, req.timeout_ms,
                                         user_data);
        case agent_op::get_bulk:
            return g_sdk.fp_api_snmp_get_bulk(req.ip.c_str(), req.port, user, req.non_repeaters, req.max_repetitions,
                                              req.varbinds.data(), count, req.timeout_ms, user_data);
    }
    return API_SNMP_ERR_INVALID_CMD_TYPE;
}

std::string target_trace(const agent_request &req) {
    return "ip=" + req.ip + " port=" + std::to_string(req.port) + " user=" + trace_user(req.user);
}

agent_request agent_target(const request_context &ctx, agent_op op, const char *name) {
    agent_request req;
    req.op = op;
    req.name = name;
    req.ip = param(ctx, "ip", k_ip_field);
    req.port = port_param(ctx);
    req.user = param(ctx, "username", k_user_field);
    req.timeout_ms = timeout_param(ctx);
    return req;
}

uint8_t max_repeat_param(const std::string &raw) {
    const uint8_t repetitions = raw.empty() ? k_default_max_repeat : low_byte(raw);
    if (repetitions != 0) {
        return repetitions;
    }
    std::printf("[WARN_GETBULK_ZERO] max_repeat cannot be zero, reset default to 10\n");
    return k_default_max_repeat;
}

namespace {

/* Waits for the agent's turn, sends, and waits for the answer; the whole request takes at most
 * k_agent_request_limit. */
void run_agent_request(const request_context &ctx, const agent_request &req, json_writer &json) {
    const auto deadline = std::chrono::steady_clock::now() + k_agent_request_limit;
    const agent_turn turn(req.ip, req.port, deadline, ctx.running);
    if (!turn.held()) {
        write_wait_expired(json, req);
        return;
    }
    waiter w(ctx.waiter_id);
    const waiter_entry entry(w);
    std::printf("[API] %s %s\n", req.name, req.trace_args.c_str());
    const api_snmp_err ret = send_agent_request(req, w.id);
    std::printf("[API] %s ret=%d\n", req.name, static_cast<int>(ret));
    if (ret != API_SNMP_OK) {
        write_sdk_result(json, ret);
        return;
    }
    if (!wait_for_response(w, deadline, ctx.running)) {
        write_wait_expired(json, req);
        return;
    }
    write_agent_answer(json, req.op, w.response);
}

void get_like(const request_context &ctx, json_writer &json, agent_op op, const char *name) {
    agent_request req = agent_target(ctx, op, name);
    const std::string oid_text = param(ctx, "oid", k_oid_list_field);
    req.varbinds = get_varbinds(split_list(oid_text, k_max_request_varbinds));
    if (req.varbinds.empty()) {
        write_ret_msg(json, 1, "no oid");
        return;
    }
    req.trace_args = target_trace(req) + " oid=" + oid_text;
    run_agent_request(ctx, req, json);
}

} // namespace

void api_get(const request_context &ctx, json_writer &json) { get_like(ctx, json, agent_op::get, "api_snmp_get"); }

void api_getnext(const request_context &ctx, json_writer &json) {
    get_like(ctx, json, agent_op::get_next, "api_snmp_get_next");
}

void api_get_bulk(const request_context &ctx, json_writer &json) {
    agent_request req = agent_target(ctx, agent_op::get_bulk, "api_snmp_get_bulk");
    const std::string raw_nr = param(ctx, "non_repeat", k_number_field);
    const std::string raw_mr = param(ctx, "max_repeat", k_number_field);
    const std::string oid_text = param(ctx, "oid", k_oid_list_field);
    req.non_repeaters = raw_nr.empty() ? 0 : low_byte(raw_nr);
    req.max_repetitions = max_repeat_param(raw_mr);
    std::printf(
        "[NMS_HTTP_PARSE_GETBULK] ip=%s port=%u username=%s non_repeat=%u max_repeat=%u timeout=%u "
        "raw_nr_str=\"%s\" raw_mr_str=\"%s\" oids=%s\n",
        req.ip.c_str(), static_cast<unsigned>(req.port), req.user.c_str(), static_cast<unsigned>(req.non_repeaters),
        static_cast<unsigned>(req.max_repetitions), static_cast<unsigned>(req.timeout_ms), raw_nr.c_str(),
        raw_mr.c_str(), oid_text.c_str());
    req.varbinds = get_varbinds(split_list(oid_text, k_max_request_varbinds));
    std::printf("[NMS_HTTP_PARSE_GETBULK] varbind_count=%u\n", static_cast<unsigned>(req.varbinds.size()));
    if (req.varbinds.empty()) {
        write_ret_msg(json, 1, "no oid");
        return;
    }
    req.trace_args = target_trace(req) + " non_repeat=" + std::to_string(req.non_repeaters) +
                     " max_repeat=" + std::to_string(req.max_repetitions) + " oid=" + oid_text;
    run_agent_request(ctx, req, json);
}

void api_set(const request_context &ctx, json_writer &json) {
    agent_request req = agent_target(ctx, agent_op::set, "api_snmp_set");
    const std::string oid_text = param(ctx, "oid", k_oid_list_field);
    const std::string value_text = param(ctx, "value", k_value_list_field);
    const std::string type = sdk_type_name(param(ctx, "type", k_number_field));
    const std::vector<std::string> oids = split_list(oid_text, k_max_request_varbinds);
    const std::vector<std::string> values = split_list(value_text, k_max_request_varbinds);
    const size_t pairs = std::min(oids.size(), values.size());
    if (pairs == 0) {
        write_ret_msg(json, 1, "no oid or value");
        return;
    }
    req.varbinds.resize(pairs);
    for (size_t i = 0; i < pairs; ++i) {
        g_sdk.fp_api_snmp_create_set_varbind(oids[i].c_str(), type.c_str(), values[i].c_str(), &req.varbinds[i]);
    }
    req.trace_args = target_trace(req) + " oid=" + oid_text + " type=" + type + " value=" + value_text;
    run_agent_request(ctx, req, json);
}

void snmp_response_callback(const char *ip, uint16_t port, const char * /*user_name*/, api_snmp_cmd_type /*cmd_type*/,
                            const api_snmp_response *response, void *user_data) {
    std::printf("[CALLBACK] SNMP response ip=%s port=%d error=%d\n", ip != nullptr ? ip : "", port,
                response != nullptr ? static_cast<int>(response->error) : -1);
    if (response != nullptr) {
        deliver_response(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(user_data)), *response);
    }
}

} // namespace service
