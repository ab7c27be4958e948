// /api_snmp_walk: every object of a subtree, read with GET-NEXT (SNMPv1) or GET-BULK (SNMPv2c/v3)
// requests one after the other while the agent's turn is held, so that other requests to that agent
// wait as they do for a single request. The answer has the shape of the GET answer with the number
// of objects and whether the walk stopped before the end of the subtree.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "apps/snmp_service/service_endpoint_support.h"
#include "apps/snmp_service/service_query.h"
#include "apps/snmp_service/service_sdk.h"
#include "apps/snmp_service/service_waiters.h"
#include "apps/subtree_walk/subtree_walk.h"

namespace service {

namespace {

using clock_type = std::chrono::steady_clock;

constexpr int64_t k_default_walk_limit = 1000;
constexpr int64_t k_max_walk_limit = 10000;
/* Answer code of a walk that an agent's answers ended (not increasing, or empty). */
constexpr int64_t k_ret_walk_broken = -2;

/* The walk's answer as it grows. */
struct walk_answer {
    int64_t ret = 0;
    std::string msg = "success";
    json_writer items;
    size_t count = 0;
    bool truncated = false;
};

void write_walk_answer(json_writer &json, const walk_answer &answer) {
    json.raw("{\"ret\":")
        .num(answer.ret)
        .raw(",\"msg\":")
        .str(answer.msg)
        .raw(",\"count\":")
        .unum(answer.count)
        .raw(",\"truncated\":")
        .raw(answer.truncated ? "true" : "false")
        .raw(",\"data\":[")
        .raw(answer.items.text())
        .raw("]}");
}

void set_sdk_error(walk_answer &answer, api_snmp_err code) {
    answer.ret = code;
    answer.msg = g_sdk.fp_api_snmp_error_to_str(code);
}

/* The limit parameter: 1000 when absent or below 1, at most 10000. */
size_t walk_limit(const request_context &ctx) {
    const std::string text = param(ctx, "limit", k_number_field);
    const int64_t limit = text.empty() ? k_default_walk_limit : parse_decimal(text);
    return static_cast<size_t>(limit < 1 ? k_default_walk_limit : std::min(limit, k_max_walk_limit));
}

/* The SNMP version of the agent at ip:port; nothing when the SDK has no such agent. */
std::optional<uint32_t> agent_version(const std::string &ip, uint16_t port) {
    const std::shared_lock<std::shared_mutex> table(g_agent_table_lock);
    std::vector<api_snmp_agent_info> agents(g_sdk.fp_api_snmp_get_agent_count());
    agents.resize(g_sdk.fp_api_snmp_get_agent_list(agents.data(), static_cast<uint32_t>(agents.size())));
    const auto it = std::find_if(agents.begin(), agents.end(), [&](const api_snmp_agent_info &agent) {
        return agent.port == port && ip == std::string_view(agent.ip, strnlen(agent.ip, sizeof agent.ip));
    });
    return it == agents.end() ? std::nullopt : std::optional<uint32_t>(it->version);
}

enum class exchange_result { answered, refused, expired };

/* Sends one request of the walk and waits for its answer until the deadline. The SDK sends at most
 * 300 new requests a second: a request it holds back is sent again in the next second. */
exchange_result exchange(const request_context &ctx, const agent_request &req, clock_type::time_point deadline,
                         api_snmp_response &response, api_snmp_err &refusal) {
    for (;;) {
        waiter w(next_waiter_id());
        const waiter_entry entry(w);
        refusal = send_agent_request(req, w.id);
        if (refusal == API_SNMP_ERR_NO_RESOURCE) {
            const auto reopens = subtree_walk::flow_window_reopens();
            if (!ctx.running.load() || clock_type::now() + (reopens - std::chrono::system_clock::now()) >= deadline) {
                return exchange_result::expired;
            }
            std::this_thread::sleep_until(reopens);
            continue;
        }
        if (refusal != API_SNMP_OK) {
            return exchange_result::refused;
        }
        if (!wait_for_response(w, deadline, ctx.running)) {
            return exchange_result::expired;
        }
        response = w.response;
        return exchange_result::answered;
    }
}

/* The request for the walk's next step. */
void prepare_step(agent_request &req, const subtree_walk::walk &rules) {
    switch (rules.next_kind()) {
        case subtree_walk::request_kind::get_root:
            req.op = agent_op::get;
            break;
        case subtree_walk::request_kind::get_next:
            req.op = agent_op::get_next;
            break;
        case subtree_walk::request_kind::get_bulk:
            req.op = agent_op::get_bulk;
            break;
    }
    req.varbinds.assign(1, rules.next_varbind());
}

void record_failure(walk_answer &answer, const subtree_walk::walk &rules) {
    switch (rules.why()) {
        case subtree_walk::failure::local_error:
            answer.ret = static_cast<int32_t>(API_SNMP_ERROR_STATUS_LOCAL);
            answer.msg = g_sdk.fp_api_snmp_error_to_str(rules.error());
            break;
        case subtree_walk::failure::error_status:
            answer.ret = static_cast<int32_t>(rules.error_status());
            answer.msg = g_sdk.fp_api_snmp_error_status_to_str(rules.error_status());
            break;
        case subtree_walk::failure::empty_answer:
            answer.ret = k_ret_walk_broken;
            answer.msg = "empty answer";
            break;
        case subtree_walk::failure::not_increasing:
            answer.ret = k_ret_walk_broken;
            answer.msg = "oid not increasing: " + std::string(rules.offending_oid()) + " after " +
                         std::string(rules.previous_oid());
            break;
        case subtree_walk::failure::none:
            break;
    }
}

/* Walks with the agent's turn held, until the subtree ends, the limit is passed, a failure, or the
 * deadline (the walk is then truncated, or timed out when it read nothing). */
void run_walk(const request_context &ctx, agent_request &req, subtree_walk::walk &rules, size_t limit,
              clock_type::time_point deadline, walk_answer &answer) {
    const auto keep = [&](const api_snmp_varbind &vb) {
        if (answer.count == limit) {
            answer.truncated = true; // one more object than the limit: the subtree goes on
            return;
        }
        answer.items.raw(answer.count == 0 ? "" : ",");
        append_varbind_item(answer.items, vb);
        ++answer.count;
    };
    subtree_walk::step step = subtree_walk::step::send;
    while (step == subtree_walk::step::send && !answer.truncated) {
        prepare_step(req, rules);
        api_snmp_response response{};
        api_snmp_err refusal = API_SNMP_OK;
        const exchange_result result = exchange(ctx, req, deadline, response, refusal);
        if (result == exchange_result::refused) {
            set_sdk_error(answer, refusal);
            return;
        }
        if (result == exchange_result::expired) {
            if (answer.count == 0) {
                set_sdk_error(answer, API_SNMP_ERR_TIMEOUT);
            } else {
                answer.truncated = true;
            }
            return;
        }
        step = rules.take(response, keep);
    }
    if (step == subtree_walk::step::failed) {
        record_failure(answer, rules);
    }
}

} // namespace

void api_walk(const request_context &ctx, json_writer &json) {
    agent_request req = agent_target(ctx, agent_op::get_bulk, "api_snmp_walk");
    const std::string oid_text = param(ctx, "oid", k_oid_list_field);
    const std::vector<std::string> oids = split_list(oid_text, 2);
    if (oids.empty()) {
        write_ret_msg(json, 1, "no oid");
        return;
    }
    if (oids.size() > 1) {
        write_ret_msg(json, 1, "one oid only");
        return;
    }
    req.max_repetitions = std::min(max_repeat_param(param(ctx, "max_repeat", k_number_field)),
                                   subtree_walk::k_max_repetitions);
    const size_t limit = walk_limit(ctx);
    req.trace_args = target_trace(req) + " max_repeat=" + std::to_string(req.max_repetitions) +
                     " limit=" + std::to_string(limit) + " oid=" + oids[0];
    std::printf("[API] %s %s\n", req.name, req.trace_args.c_str());
    walk_answer answer;
    const std::optional<uint32_t> version = agent_version(req.ip, req.port);
    std::optional<subtree_walk::walk> rules;
    if (version) {
        rules = subtree_walk::walk::start(oids[0], *version);
    }
    const auto deadline = clock_type::now() + k_agent_request_limit;
    if (!version) {
        set_sdk_error(answer, API_SNMP_ERR_AGENT_NOT_FOUND);
    } else if (!rules || !g_sdk.fp_api_snmp_oid_validate(oids[0].c_str())) {
        set_sdk_error(answer, API_SNMP_ERR_INVALID_OID);
    } else if (const agent_turn turn(req.ip, req.port, deadline, ctx.running); !turn.held()) {
        set_sdk_error(answer, API_SNMP_ERR_TIMEOUT);
    } else {
        run_walk(ctx, req, *rules, limit, deadline, answer);
    }
    std::printf("[API] %s ret=%lld count=%zu truncated=%d\n", req.name, static_cast<long long>(answer.ret),
                answer.count, answer.truncated ? 1 : 0);
    write_walk_answer(json, answer);
}

} // namespace service
