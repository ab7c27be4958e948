/* The service's settings. The HTTP and notification ports come from the environment (for tests and
 * side-by-side installations); the listening address and the manager library's log level from the
 * command line or the environment (options win):
 *   VEK_SERVICE_PORT                               HTTP port (8099)
 *   VEK_SERVICE_TRAP_PORT                          notification port (162)
 *   --listen A       VEK_SERVICE_LISTEN            IPv4 address of the HTTP port (127.0.0.1: only
 *                                                  this host, where the bridge runs, can reach it)
 *   --log-level L    VEK_SERVICE_LOG_LEVEL         DEBUG, INFO, WARN, ERROR, FATAL or 0-4 (DEBUG) */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_OPTIONS_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_OPTIONS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace service {

inline constexpr uint16_t k_default_trap_port = 162;
inline constexpr std::string_view k_default_listen = "127.0.0.1";
inline constexpr uint32_t k_default_sdk_log_level = 0; /* DEBUG */

struct service_options {
    uint16_t http_port;
    uint16_t trap_port = k_default_trap_port;
    std::string listen{k_default_listen};
    uint32_t log_level = k_default_sdk_log_level;
};

/* Settings, or an error text, or a request for the usage text. */
struct options_result {
    std::optional<service_options> options;
    std::string error;
    bool help = false;
};

/* Looks up an environment variable; nullptr when it is not set. */
using env_lookup = std::function<const char *(const char *)>;

/* Reads the settings from the arguments after the program name and from the environment. */
options_result parse_options(std::span<const std::string_view> args, const env_lookup &env);

std::string options_usage(std::string_view program);

} // namespace service

#endif
