/* One client request of the web bridge, its head already read: refuse it when another site's page
 * sent it or when it lacks the credentials, else answer it by its path (the page, the bridge's own
 * /status, /log and /favicon.ico, or a short path forwarded to the HTTP service); close the
 * connection, then write the request's log line. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_HANDLER_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_HANDLER_H

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "apps/http_intake/http_intake.h"
#include "apps/snmp_web_bridge/bridge_auth.h"
#include "apps/snmp_web_bridge/bridge_service.h"
#include "apps/snmp_web_bridge/bridge_socket.h"

namespace bridge {

inline constexpr size_t kMaxRequest = 4095;       /* bytes of a request head that are read */
inline constexpr auto kClientReadLimit = 5000ms;  /* for the whole request head to arrive */
inline constexpr auto kClientSendLimit = 10000ms; /* for the answer to be taken */
inline constexpr auto kClientDrainLimit = 500ms;  /* for the client to close after the answer */

inline constexpr std::string_view kJsonHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kLogHeaderStart =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: ";
inline constexpr std::string_view kPageHeader =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kNoContent = "HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n";
inline constexpr std::string_view kStatusBody = R"({"running":1,"mode":"full-bridge"})";
inline constexpr std::string_view kLogAllocFailBody = R"({"ret":-1,"msg":"mem alloc fail"})";

/* What one request gets: the bytes to send and the log line written after the connection closed
 * (empty: none). */
struct bridge_reply {
    std::string bytes;
    std::string done_log;
};

/* Answers one request (forwarding it when its path is a short path of the service). Writes the log
 * lines that come before the answer. */
bridge_reply answer_request(std::string_view request, const service_link &service);

/* Screens and answers the request, closes its connection, then logs. */
void handle_request(http_intake::request request, const service_link &service, basic_auth &auth);

} // namespace bridge

#endif
