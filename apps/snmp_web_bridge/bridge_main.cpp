/* snmp_web_bridge: serves the browser page and the short paths on port 8098 and forwards management
 * requests to the HTTP service on 127.0.0.1:8099. Runs until the process is ended. */
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "apps/snmp_web_bridge/bridge_auth.h"
#include "apps/snmp_web_bridge/bridge_config.h"
#include "apps/snmp_web_bridge/bridge_log.h"
#include "apps/snmp_web_bridge/bridge_page.h"
#include "apps/snmp_web_bridge/bridge_server.h"
#include "apps/snmp_web_bridge/bridge_service.h"
#include "apps/snmp_web_bridge/bridge_socket.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitStartFailed = 1;

void print_banner(uint16_t port) {
    std::printf("=============================================\n");
    std::printf(" SNMP NMS Web 网桥【全透传无限制版】\n");
    std::printf(" 端口：%u\n", static_cast<unsigned>(port));
    std::printf(" 模式：全部接口全部透传\n");
    std::printf("=============================================\n\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    /* A client that goes away while its answer is sent must not end the bridge. */
    std::signal(SIGPIPE, SIG_IGN);

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const bridge::config_result parsed =
        bridge::parse_config(args, [](const char *name) { return std::getenv(name); });
    const std::string usage = bridge::usage_text(argv[0]);
    if (parsed.help) {
        std::fputs(usage.c_str(), stdout);
        return 0;
    }
    if (!parsed.config) {
        std::fprintf(stderr, "%s\n%s", parsed.error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const bridge::bridge_config &config = *parsed.config;
    const auto service_addr = bridge::ipv4_endpoint(config.service_host, config.service_port);
    if (!service_addr) {
        std::fprintf(stderr, "无效的IPv4地址：%s\n", config.service_host.c_str());
        return kExitUsage;
    }

    std::string error;
    bridge::unique_fd listener = bridge::open_listener(config, &error);
    if (!listener.valid()) {
        std::fprintf(stderr, "Web网桥启动失败：无法监听端口 %u（%s）\n", static_cast<unsigned>(config.port),
                     error.c_str());
        return kExitStartFailed;
    }
    bridge::set_page_agent_port(config.agent_port);
    bridge::bridge_log_set_file(std::string(bridge::kLogFileName), config.log_limit);
    print_banner(config.port);
    bridge::bridge_log_text("连接池初始化完成");
    static bridge::service_link service(*service_addr);
    static bridge::basic_auth auth(config.credentials);
    bridge::serve(std::move(listener), config, service, auth);
}
