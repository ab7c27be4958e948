/* The web bridge's threads: the accept loop hands client sockets through the connection queue to 8
 * workers; a health checker watches the HTTP service. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVER_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/snmp_web_bridge/bridge_queue.h"
#include "apps/snmp_web_bridge/bridge_service.h"
#include "apps/snmp_web_bridge/bridge_socket.h"

namespace bridge {

inline constexpr size_t kWorkerCount = 8;
inline constexpr int kListenBacklog = 16;
inline constexpr auto kAcceptWait = 100ms;

/* A listening TCP socket on port of all addresses (with address reuse); on failure an invalid
 * descriptor and *error describing why. */
unique_fd open_listener(uint16_t port, std::string *error);

/* Starts the health checker and the workers (detached), logs the start, then accepts connections
 * forever. service and queue must live as long as the process. */
[[noreturn]] void serve(unique_fd listener, uint16_t port, service_link &service, connection_queue &queue);

} // namespace bridge

#endif
