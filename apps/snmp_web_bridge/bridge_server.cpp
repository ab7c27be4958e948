/* The web bridge's threads (see bridge_server.h). */
#include "apps/snmp_web_bridge/bridge_server.h"

#include <arpa/inet.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "apps/http_intake/http_intake.h"
#include "apps/snmp_web_bridge/bridge_handler.h"
#include "apps/snmp_web_bridge/bridge_log.h"

namespace bridge {

namespace {

constexpr auto kWorkerWait = 1000ms;
constexpr const char *kLogOpenToAll =
    "警告：网桥监听 %s:%u，本机以外也能访问，且未设置访问口令：能连到此端口的任何人都能操作设备。"
    "请用 --auth 用户名:口令 或环境变量 VEK_BRIDGE_AUTH 设置口令，或用 --listen 127.0.0.1 只供本机使用";

in_addr listen_address(const bridge_config &config) {
    in_addr address{};
    ::inet_pton(AF_INET, config.listen.c_str(), &address);
    return address;
}

void trace_queue_full(int fd) {
    std::printf("[TRACE] 任务队列已满，丢弃客户端fd: %d\n", fd);
    std::fflush(stdout);
}

} // namespace

unique_fd open_listener(const bridge_config &config, std::string *error) {
    unique_fd sock = http_intake::open_listener(listen_address(config), config.port, kListenBacklog);
    if (!sock.valid()) {
        *error = std::strerror(errno);
    }
    return sock;
}

void serve(unique_fd listener, const bridge_config &config, service_link &service, basic_auth &auth) {
    static const std::atomic<bool> forever{true};
    static http_intake::intake intake(
        http_intake::limits{kMaxRequest, kClientReadLimit, kMaxPerAddress, kMaxReading, kQueueSlots},
        trace_queue_full);
    std::thread([&service] { service.run_health_checks(); }).detach();
    for (size_t i = 0; i < kWorkerCount; ++i) {
        std::thread([&service, &auth] {
            for (;;) {
                if (auto request = intake.pop(kWorkerWait)) {
                    handle_request(std::move(*request), service, auth);
                }
            }
        }).detach();
    }
    bridge_log("Web网桥启动成功，监听端口 %u", static_cast<unsigned>(config.port));
    if (!auth.enabled() && !http_intake::is_loopback(listen_address(config))) {
        bridge_log(kLogOpenToAll, config.listen.c_str(), static_cast<unsigned>(config.port));
    }
    for (;;) {
        intake.run(listener.get(), forever);
    }
}

} // namespace bridge
