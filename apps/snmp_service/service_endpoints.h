/* The endpoints of the HTTP service: one GET path per SDK operation, arguments as query parameters,
 * a small JSON object as the answer.
 *
 * Requests that go to an agent (GET, GET-NEXT, GET-BULK, SET) are answered synchronously: the worker
 * sends the request through the SDK with its waiter's identifier as user data and waits until the
 * response callback hands over the answer, or until the SDK's own time-out report is overdue. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINTS_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_ENDPOINTS_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "nms/vek_nms_sdk.h"

namespace service {

inline constexpr uint16_t k_default_agent_port = 161;
inline constexpr uint32_t k_default_timeout_ms = 3000;

/* Longest time the SDK takes to report a request's time-out with its fixed settings (3000 ms, 3
 * retries, checked on a seconds clock once a second: four transmissions about 4 s apart, then the
 * report), and the margin a worker waits beyond it before it answers API_SNMP_ERR_TIMEOUT itself. */
inline constexpr std::chrono::seconds k_sdk_timeout_report{17};
inline constexpr std::chrono::seconds k_wait_margin{5};
inline constexpr std::chrono::seconds k_agent_request_limit = k_sdk_timeout_report + k_wait_margin;

struct request_context {
    std::string_view query;
    uint64_t waiter_id;               /* identifier for this request's waiter */
    const std::atomic<bool> &running; /* cleared when the service stops */
};

/* The JSON answer for the path (exact match) and its query; unknown paths get
 * {"ret":-404,"msg":"unknown api","path":"<path>"}. */
std::string handle_api_request(std::string_view path, const request_context &ctx);

/* The SDK's response callback: prints the callback line and hands the answer to the waiter whose
 * identifier is the user data, if that waiter is still waiting. */
void snmp_response_callback(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                            const api_snmp_response *response, void *user_data);

} // namespace service

#endif
