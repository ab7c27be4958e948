/* What the endpoint units of the HTTP service share: parameter access with the field sizes of the
 * answers' inputs, the common answer shapes, the lock around the SDK's agent table, and the handlers
 * of the requests that go to an agent. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINT_SUPPORT_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINT_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_json.h"
#include "nms/vek_nms_sdk.h"

namespace service {

// Sizes of the fields that parameters fill, terminator included.
inline constexpr size_t k_ip_field = 32;
inline constexpr size_t k_number_field = 32;
inline constexpr size_t k_user_field = 32;

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

// Requests that go to an agent and wait for its answer.
void api_get(const request_context &ctx, json_writer &json);
void api_getnext(const request_context &ctx, json_writer &json);
void api_get_bulk(const request_context &ctx, json_writer &json);
void api_set(const request_context &ctx, json_writer &json);

} // namespace service

#endif
