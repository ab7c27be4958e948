/* What the endpoint units of the HTTP service share: parameter access with the field sizes of the
 * answers' inputs, the common answer shapes, the lock around the SDK's agent table, and the handlers
 * of the requests that go to an agent. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINT_SUPPORT_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINT_SUPPORT_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_json.h"
#include "nms/vek_nms_sdk.h"

namespace service {

// Sizes of the fields that parameters fill, terminator included.
inline constexpr size_t k_ip_field = 32;
inline constexpr size_t k_number_field = 32;
inline constexpr size_t k_user_field = 32;
inline constexpr size_t k_oid_list_field = 1024;

/* The SDK's listing functions read its agent list without locking, and a send must not overlap the
 * removal of its agent: creation and removal of agents and users take this lock exclusively, every
 * other SDK call that reads the agent list takes it shared. */
extern std::shared_mutex g_agent_table_lock;

/* The decoded parameter, cut to field_size - 1 bytes; empty when absent. */
std::string param(const request_context &ctx, std::string_view name, size_t field_size);
/* The port parameter: 161 when absent, else the low 16 bits of its decimal value. */
uint16_t port_param(const request_context &ctx);
/* The timeout parameter in milliseconds: 3000 when absent, else its decimal value. */
uint32_t timeout_param(const request_context &ctx);

/* {"ret":<ret>,"msg":"<msg>"} */
void write_ret_msg(json_writer &json, int64_t ret, std::string_view msg);
/* {"ret":<code>,"msg":"<the SDK's text of code>"} */
void write_sdk_result(json_writer &json, api_snmp_err ret);

enum class agent_op { get, get_next, get_bulk, set };

/* One request to an agent as the SDK takes it. */
struct agent_request {
    agent_op op = agent_op::get;
    const char *name = "";  /* SDK operation, for the trace */
    std::string trace_args; /* main arguments, for the trace */
    std::string ip;
    uint16_t port = 0;
    std::string user;
    std::vector<api_snmp_varbind> varbinds;
    uint32_t timeout_ms = 0;
    uint8_t non_repeaters = 0;
    uint8_t max_repetitions = 0;
};

/* The target of an agent request from the query: ip, port, username and timeout. */
agent_request agent_target(const request_context &ctx, agent_op op, const char *name);

/* "ip=<ip> port=<port> user=<user or NULL>" for the trace lines. */
std::string target_trace(const agent_request &req);

/* The max_repeat parameter as GET-BULK takes it: the low 8 bits of its value, 10 when absent or
 * when those bits are 0 (with the warning line). */
uint8_t max_repeat_param(const std::string &raw);

/* Requests to one agent are sent one after the other: the SDK keeps a single request slot per agent,
 * and a second request would be refused while the first is outstanding. An agent_turn waits for the
 * agent's turn and holds it until it is destroyed; held() is false when the deadline passed or the
 * service stopped first. */
class agent_turn {
public:
    agent_turn(const std::string &ip, uint16_t port, std::chrono::steady_clock::time_point deadline,
               const std::atomic<bool> &running);
    ~agent_turn();
    agent_turn(const agent_turn &) = delete;
    agent_turn &operator=(const agent_turn &) = delete;
    bool held() const { return held_; }

private:
    std::string ip_;
    uint16_t port_;
    bool held_;
};

/* Sends the request through the SDK with the waiter identifier as its user data (the agent's turn
 * held); the SDK's result. */
api_snmp_err send_agent_request(const agent_request &req, uint64_t waiter_id);

// Requests that go to an agent and wait for its answer.
void api_get(const request_context &ctx, json_writer &json);
void api_getnext(const request_context &ctx, json_writer &json);
void api_get_bulk(const request_context &ctx, json_writer &json);
void api_set(const request_context &ctx, json_writer &json);
/* Every object of a subtree, read while the agent's turn is held (service_walk.cpp). */
void api_walk(const request_context &ctx, json_writer &json);

} // namespace service

#endif
