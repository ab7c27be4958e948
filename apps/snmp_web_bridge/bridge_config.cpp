/* Where the web bridge listens and where the HTTP service is (see bridge_config.h). */
#include "apps/snmp_web_bridge/bridge_config.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace bridge {

namespace {

constexpr const char *kEnvPort = "VEK_BRIDGE_PORT";
constexpr const char *kEnvServiceHost = "VEK_BRIDGE_SERVICE_HOST";
constexpr const char *kEnvServicePort = "VEK_BRIDGE_SERVICE_PORT";
constexpr const char *kEnvAgentPort = "VEK_BRIDGE_AGENT_PORT";
constexpr std::string_view kOptPort = "--port";
constexpr std::string_view kOptServiceHost = "--service-host";
constexpr std::string_view kOptServicePort = "--service-port";
constexpr std::string_view kOptAgentPort = "--agent-port";
constexpr std::string_view kOptHelp = "--help";
constexpr std::string_view kOptHelpShort = "-h";
constexpr unsigned kMaxPort = 65535;

std::optional<uint16_t> parse_port(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value == 0 || value > kMaxPort) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

bool is_ipv4(const std::string &text) {
    in_addr addr{};
    return ::inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

/* Applies one setting; an error text when its value is not valid. */
std::string apply(bridge_config &config, std::string_view name, std::string_view value) {
    if (name == kOptServiceHost) {
        std::string host(value);
        if (!is_ipv4(host)) {
            return "无效的IPv4地址：" + host;
        }
        config.service_host = std::move(host);
        return {};
    }
    const auto port = parse_port(value);
    if (!port) {
        return "无效端口：" + std::string(value) + "（应为 1-65535）";
    }
    if (name == kOptPort) {
        config.port = *port;
    } else if (name == kOptAgentPort) {
        config.agent_port = *port;
    } else {
        config.service_port = *port;
    }
    return {};
}

} // namespace

config_result parse_config(std::span<const std::string_view> args, const env_lookup &env) {
    config_result result;
    bridge_config config;
    const std::pair<const char *, std::string_view> env_settings[] = {
        {kEnvPort, kOptPort},
        {kEnvServiceHost, kOptServiceHost},
        {kEnvServicePort, kOptServicePort},
        {kEnvAgentPort, kOptAgentPort}};
    for (const auto &[var, name] : env_settings) {
        if (const char *value = env(var); value != nullptr && *value != '\0') {
            if (std::string error = apply(config, name, value); !error.empty()) {
                result.error = std::string(var) + "：" + error;
                return result;
            }
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == kOptHelp || arg == kOptHelpShort) {
            result.help = true;
            return result;
        }
        if (arg != kOptPort && arg != kOptServiceHost && arg != kOptServicePort && arg != kOptAgentPort) {
            result.error = "未知参数：" + std::string(arg);
            return result;
        }
        if (i + 1 == args.size()) {
            result.error = "参数缺少取值：" + std::string(arg);
            return result;
        }
        if (std::string error = apply(config, arg, args[++i]); !error.empty()) {
            result.error = std::string(arg) + "：" + error;
            return result;
        }
    }
    result.config = std::move(config);
    return result;
}

std::string usage_text(std::string_view program) {
    std::string text = "用法：";
    text += program;
    text += " [--port N] [--service-host IPv4] [--service-port N] [--agent-port N]\n"
            "  --port N            网桥监听端口（默认 8098，环境变量 VEK_BRIDGE_PORT）\n"
            "  --service-host A    SNMP HTTP 服务地址（默认 127.0.0.1，环境变量 VEK_BRIDGE_SERVICE_HOST）\n"
            "  --service-port N    SNMP HTTP 服务端口（默认 8099，环境变量 VEK_BRIDGE_SERVICE_PORT）\n"
            "  --agent-port N      页面预填的Agent端口（默认 161，环境变量 VEK_BRIDGE_AGENT_PORT）\n";
    return text;
}

} // namespace bridge
