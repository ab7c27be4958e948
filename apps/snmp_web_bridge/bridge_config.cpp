/* Where the web bridge listens and where the HTTP service is (see bridge_config.h). */
#include "apps/snmp_web_bridge/bridge_config.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <charconv>

namespace bridge {

namespace {

constexpr std::string_view kOptHelp = "--help";
constexpr std::string_view kOptHelpShort = "-h";
constexpr unsigned kMaxPort = 65535;
constexpr uint64_t kMaxLogLimit = uint64_t{1} << 40;
constexpr char kCredentialSeparator = ':';

template <typename T>
std::optional<T> parse_number(std::string_view text, T low, T high) {
    T value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

/* Stores a port; an error text when the value is none. */
std::string set_port(uint16_t &field, std::string_view value) {
    const auto port = parse_number<unsigned>(value, 1, kMaxPort);
    if (!port) {
        return "无效端口：" + std::string(value) + "（应为 1-65535）";
    }
    field = static_cast<uint16_t>(*port);
    return {};
}

std::string set_address(std::string &field, std::string_view value) {
    std::string host(value);
    in_addr addr{};
    if (::inet_pton(AF_INET, host.c_str(), &addr) != 1) {
        return "无效的IPv4地址：" + host;
    }
    field = std::move(host);
    return {};
}

std::string set_credentials(std::string &field, std::string_view value) {
    const size_t colon = value.find(kCredentialSeparator);
    if (colon == 0 || colon == std::string_view::npos || colon + 1 == value.size()) {
        return "认证信息应为 用户名:口令（两者都不能为空）";
    }
    field = value;
    return {};
}

std::string set_log_limit(uint64_t &field, std::string_view value) {
    const auto limit = parse_number<uint64_t>(value, kMinLogLimit, kMaxLogLimit);
    if (!limit) {
        return "无效的日志大小上限：" + std::string(value) + "（应为 " + std::to_string(kMinLogLimit) + " 字节以上）";
    }
    field = *limit;
    return {};
}

/* One setting: its option, its environment variable, and how its value is stored. */
struct setting {
    std::string_view option;
    const char *env;
    std::string (*apply)(bridge_config &, std::string_view);
};

constexpr setting kSettings[] = {
    {"--port", "VEK_BRIDGE_PORT", [](bridge_config &c, std::string_view v) { return set_port(c.port, v); }},
    {"--listen", "VEK_BRIDGE_LISTEN", [](bridge_config &c, std::string_view v) { return set_address(c.listen, v); }},
    {"--service-host", "VEK_BRIDGE_SERVICE_HOST",
     [](bridge_config &c, std::string_view v) { return set_address(c.service_host, v); }},
    {"--service-port", "VEK_BRIDGE_SERVICE_PORT",
     [](bridge_config &c, std::string_view v) { return set_port(c.service_port, v); }},
    {"--agent-port", "VEK_BRIDGE_AGENT_PORT",
     [](bridge_config &c, std::string_view v) { return set_port(c.agent_port, v); }},
    {"--auth", "VEK_BRIDGE_AUTH",
     [](bridge_config &c, std::string_view v) { return set_credentials(c.credentials, v); }},
    {"--log-limit", "VEK_BRIDGE_LOG_LIMIT",
     [](bridge_config &c, std::string_view v) { return set_log_limit(c.log_limit, v); }},
};

const setting *find_setting(std::string_view option) {
    for (const setting &s : kSettings) {
        if (s.option == option) {
            return &s;
        }
    }
    return nullptr;
}

} // namespace

config_result parse_config(std::span<const std::string_view> args, const env_lookup &env) {
    config_result result;
    bridge_config config;
    for (const setting &s : kSettings) {
        if (const char *value = env(s.env); value != nullptr && *value != '\0') {
            if (std::string error = s.apply(config, value); !error.empty()) {
                result.error = std::string(s.env) + "：" + error;
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
        const setting *s = find_setting(arg);
        if (s == nullptr) {
            result.error = "未知参数：" + std::string(arg);
            return result;
        }
        if (i + 1 == args.size()) {
            result.error = "参数缺少取值：" + std::string(arg);
            return result;
        }
        if (std::string error = s->apply(config, args[++i]); !error.empty()) {
            /* The value itself is not repeated: it may be a password. */
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
    text += " [--port N] [--listen IPv4] [--service-host IPv4] [--service-port N] [--agent-port N]\n"
            "       [--auth 用户名:口令] [--log-limit 字节数]\n"
            "  --port N            网桥监听端口（默认 8098，环境变量 VEK_BRIDGE_PORT）\n"
            "  --listen A          网桥监听地址（默认 0.0.0.0 即全部地址，环境变量 VEK_BRIDGE_LISTEN）\n"
            "  --service-host A    SNMP HTTP 服务地址（默认 127.0.0.1，环境变量 VEK_BRIDGE_SERVICE_HOST）\n"
            "  --service-port N    SNMP HTTP 服务端口（默认 8099，环境变量 VEK_BRIDGE_SERVICE_PORT）\n"
            "  --agent-port N      页面预填的Agent端口（默认 161，环境变量 VEK_BRIDGE_AGENT_PORT）\n"
            "  --auth U:P          HTTP Basic 认证的用户名和口令（默认不认证，环境变量 VEK_BRIDGE_AUTH；\n"
            "                      口令写在命令行上会被同机用户看到，宜用环境变量）\n"
            "  --log-limit N       bridge.log 达到 N 字节时轮转为 bridge.log.1（默认 10485760，环境变量\n"
            "                      VEK_BRIDGE_LOG_LIMIT）\n";
    return text;
}

} // namespace bridge
