/* The web bridge's threads: the intake thread accepts connections and reads request heads (see
 * apps/http_intake) and hands complete ones to 8 workers; a health checker watches the HTTP
 * service. */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVER_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_SERVER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/snmp_web_bridge/bridge_auth.h"
#include "apps/snmp_web_bridge/bridge_config.h"
#include "apps/snmp_web_bridge/bridge_service.h"
#include "apps/snmp_web_bridge/bridge_socket.h"

namespace bridge {

inline constexpr size_t kWorkerCount = 8;
inline constexpr int kListenBacklog = 16;
inline constexpr size_t kQueueSlots = 32; /* complete requests waiting for a worker; 31 usable */
inline constexpr size_t kMaxPerAddress = 32;
inline constexpr size_t kMaxReading = 256;

/* A listening TCP socket on the configured address and port (with address reuse); on failure an
 * invalid descriptor and *error describing why. */
unique_fd open_listener(const bridge_config &config, std::string *error);

/* Starts the health checker and the workers (detached), logs the start (and a warning when anyone
 * beyond this host can reach an unauthenticated bridge), then serves forever. service and auth must
 * live as long as the process. */
[[noreturn]] void serve(unique_fd listener, const bridge_config &config, service_link &service, basic_auth &auth);

} // namespace bridge

#endif
