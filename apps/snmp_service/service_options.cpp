/* The service's settings (see service_options.h). */
#include "apps/snmp_service/service_options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "apps/snmp_service/service_server.h"

namespace service {

namespace {

constexpr const char *k_http_port_env = "VEK_SERVICE_PORT";
constexpr const char *k_trap_port_env = "VEK_SERVICE_TRAP_PORT";
constexpr const char *k_listen_env = "VEK_SERVICE_LISTEN";
constexpr const char *k_log_level_env = "VEK_SERVICE_LOG_LEVEL";
constexpr std::string_view k_listen_option = "--listen";
constexpr std::string_view k_log_level_option = "--log-level";
constexpr std::array<std::string_view, 2> k_help_options = {"--help", "-h"};
constexpr std::array<std::string_view, 5> k_level_names = {"DEBUG", "INFO", "WARN", "ERROR", "FATAL"};
constexpr unsigned k_max_port = 65535;

std::optional<unsigned> parse_unsigned(std::string_view text, unsigned high) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value > high) {
        return std::nullopt;
    }
    return value;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'a' && x <= 'z' ? static_cast<char>(x - 'a' + 'A') : x) == y;
           });
}

std::optional<uint32_t> parse_level(std::string_view text) {
    for (size_t i = 0; i < k_level_names.size(); ++i) {
        if (same_name(text, k_level_names[i])) {
            return static_cast<uint32_t>(i);
        }
    }
    return parse_unsigned(text, k_level_names.size() - 1);
}

/* Applies one of the two command-line settings; an error text when its value is not valid. */
std::string apply(service_options &options, std::string_view name, std::string_view value) {
    if (name == k_listen_option) {
        in_addr address{};
        if (inet_pton(AF_INET, std::string(value).c_str(), &address) != 1) {
            return "无效的IPv4地址：" + std::string(value);
        }
        options.listen = value;
        return {};
    }
    const auto level = parse_level(value);
    if (!level) {
        return "无效的日志级别：" + std::string(value) + "（应为 DEBUG、INFO、WARN、ERROR、FATAL 或 0-4）";
    }
    options.log_level = *level;
    return {};
}

std::string port_from_env(const env_lookup &env, const char *name, uint16_t &port) {
    const char *text = env(name);
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const auto value = parse_unsigned(text, k_max_port);
    if (!value || *value == 0) {
        return std::string("[NMS] 环境变量 ") + name + " 的值无效（" + text + "），端口须为 1-65535";
    }
    port = static_cast<uint16_t>(*value);
    return {};
}

} // namespace

options_result parse_options(std::span<const std::string_view> args, const env_lookup &env) {
    options_result result;
    service_options options{k_default_http_port};
    for (const auto &[name, port] : {std::pair{k_http_port_env, &options.http_port},
                                     std::pair{k_trap_port_env, &options.trap_port}}) {
        if (result.error = port_from_env(env, name, *port); !result.error.empty()) {
            return result;
        }
    }
    for (const auto &[var, name] : {std::pair{k_listen_env, k_listen_option}, std::pair{k_log_level_env, k_log_level_option}}) {
        if (const char *value = env(var); value != nullptr && *value != '\0') {
            if (std::string error = apply(options, name, value); !error.empty()) {
                result.error = std::string("[NMS] 环境变量 ") + var + "：" + error;
                return result;
            }
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (std::find(k_help_options.begin(), k_help_options.end(), arg) != k_help_options.end()) {
            result.help = true;
            return result;
        }
        if (arg != k_listen_option && arg != k_log_level_option) {
            result.error = "[NMS] 未知参数：" + std::string(arg);
            return result;
        }
        if (i + 1 == args.size()) {
            result.error = "[NMS] 参数缺少取值：" + std::string(arg);
            return result;
        }
        if (std::string error = apply(options, arg, args[++i]); !error.empty()) {
            result.error = "[NMS] " + std::string(arg) + "：" + error;
            return result;
        }
    }
    result.options = std::move(options);
    return result;
}

std::string options_usage(std::string_view program) {
    return "用法：" + std::string(program) +
           " [--listen IPv4] [--log-level 级别]\n"
           "  --listen A       HTTP 监听地址（默认 127.0.0.1 即只供本机，环境变量 VEK_SERVICE_LISTEN；\n"
           "                   本服务没有认证，只在可信网络上监听其他地址）\n"
           "  --log-level L    管理库日志级别 DEBUG、INFO、WARN、ERROR、FATAL 或 0-4（默认 DEBUG，\n"
           "                   环境变量 VEK_SERVICE_LOG_LEVEL）\n"
           "  端口：环境变量 VEK_SERVICE_PORT（HTTP，默认 8099）和 VEK_SERVICE_TRAP_PORT（通知，默认 162）\n";
}

} // namespace service
