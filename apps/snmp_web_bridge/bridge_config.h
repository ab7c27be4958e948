/* Where the web bridge listens and where the HTTP service is: port 8098 of every address and
 * 127.0.0.1:8099 unless the environment or the command line says otherwise (options win over the
 * environment):
 *   --port N            VEK_BRIDGE_PORT            port the bridge listens on
 *   --listen A          VEK_BRIDGE_LISTEN          IPv4 address it listens on (default 0.0.0.0)
 *   --service-host A    VEK_BRIDGE_SERVICE_HOST    IPv4 address of the HTTP service
 *   --service-port N    VEK_BRIDGE_SERVICE_PORT    port of the HTTP service
 *   --agent-port N      VEK_BRIDGE_AGENT_PORT      agent port the page proposes (default 161)
 *   --auth USER:PASS    VEK_BRIDGE_AUTH            HTTP Basic credentials every request must carry
 *   --log-limit BYTES   VEK_BRIDGE_LOG_LIMIT       size at which bridge.log is rotated (10 MiB) */
#ifndef VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_CONFIG_H
#define VEK_APPS_SNMP_WEB_BRIDGE_BRIDGE_CONFIG_H

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace bridge {

inline constexpr uint16_t kDefaultPort = 8098;
inline constexpr std::string_view kDefaultServiceHost = "127.0.0.1";
inline constexpr uint16_t kDefaultServicePort = 8099;
inline constexpr uint16_t kDefaultAgentPort = 161;
inline constexpr std::string_view kDefaultListen = "0.0.0.0";
inline constexpr uint64_t kDefaultLogLimit = 10u << 20;
inline constexpr uint64_t kMinLogLimit = 4096;

struct bridge_config {
    uint16_t port = kDefaultPort;
    std::string service_host{kDefaultServiceHost};
    uint16_t service_port = kDefaultServicePort;
    uint16_t agent_port = kDefaultAgentPort;
    std::string listen{kDefaultListen};
    std::string credentials; /* "user:password"; empty: no authentication */
    uint64_t log_limit = kDefaultLogLimit;
};

/* The outcome of reading the configuration: a configuration, or an error text, or a help request. */
struct config_result {
    std::optional<bridge_config> config;
    std::string error;
    bool help = false;
};

/* Looks up an environment variable; nullptr when it is not set. */
using env_lookup = std::function<const char *(const char *)>;

/* Reads the configuration from the arguments after the program name and the environment. */
config_result parse_config(std::span<const std::string_view> args, const env_lookup &env);

/* The usage text for --help and for mistakes. */
std::string usage_text(std::string_view program);

} // namespace bridge

#endif
