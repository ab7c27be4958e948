/* snmp_service: the manager library's operations as HTTP GET endpoints with JSON answers (port 8099),
 * with the library loaded at run time, and a notification listener on port 162.
 *
 * For tests and side-by-side installations the ports can be moved with the environment variables
 * VEK_SERVICE_PORT (HTTP) and VEK_SERVICE_TRAP_PORT (notifications). */
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_sdk.h"
#include "apps/snmp_service/service_server.h"
#include "apps/snmp_service/service_traps.h"

namespace {

using namespace service;

constexpr uint16_t k_default_trap_port = 162;
constexpr uint32_t k_sdk_log_level_debug = 0;
constexpr std::chrono::milliseconds k_main_sleep{500};
constexpr const char *k_http_port_env = "VEK_SERVICE_PORT";
constexpr const char *k_trap_port_env = "VEK_SERVICE_TRAP_PORT";
constexpr unsigned long k_max_port = 65535;
constexpr int k_decimal_base = 10;
constexpr int k_exit_bad_setting = 2;

/* Cleared by SIGINT and SIGTERM; ends the main loop, the workers and the trap consumer. */
std::atomic<bool> g_running{true};

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler stores into g_running");

extern "C" void signal_stop(int /*sig*/) { g_running.store(false); }

void install_signal_handlers() {
    struct sigaction action {};
    action.sa_handler = signal_stop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

/* The port from the environment variable, the default when it is not set, nothing when it is not a
 * port number. */
std::optional<uint16_t> port_setting(const char *name, uint16_t fallback) {
    const char *text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, k_decimal_base);
    if (errno != 0 || *end != '\0' || text[0] < '0' || text[0] > '9' || value == 0 || value > k_max_port) {
        std::printf("[NMS] 环境变量 %s 的值无效（%s），端口须为 1-65535\n", name, text);
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

void wait_for_stop() {
    while (g_running.load()) {
        std::this_thread::sleep_for(k_main_sleep);
    }
}

void start_sdk(uint16_t trap_port) {
    g_trap_ring.clear();
    g_sdk.fp_api_snmp_init();
    g_sdk.fp_api_snmp_register_response_callback(snmp_response_callback);
    g_sdk.fp_api_snmp_register_trap_callback(snmp_trap_callback, nullptr);
    std::printf("[API] api_snmp_start_trap_listener port=%u\n", static_cast<unsigned>(trap_port));
    const api_snmp_err ret = g_sdk.fp_api_snmp_start_trap_listener(trap_port);
    std::printf("[API] api_snmp_start_trap_listener ret=%d\n", static_cast<int>(ret));
    if (ret != API_SNMP_OK) {
        std::printf("[NMS] Trap 端口 %u 监听失败（%d：%s），不接收通知，HTTP 服务照常运行\n",
                    static_cast<unsigned>(trap_port), static_cast<int>(ret), g_sdk.fp_api_snmp_error_to_str(ret));
    }
    g_sdk.fp_api_snmp_set_log_level(k_sdk_log_level_debug);
}

void stop_sdk() {
    g_sdk.fp_api_snmp_stop_trap_listener();
    g_sdk.fp_api_snmp_destroy();
}

int snmp_service_start(uint16_t http_port, uint16_t trap_port) {
    if (!sdk_load()) {
        // Nothing starts; the service still ends only on its signal.
        wait_for_stop();
        return EXIT_FAILURE;
    }
    start_sdk(trap_port);
    std::thread consumer(trap_consume_thread, std::cref(g_running));
    const int listen_fd = open_http_listener(http_port);
    if (listen_fd < 0) {
        std::printf("[NMS] HTTP 端口 %u 绑定失败（%s），服务退出\n", static_cast<unsigned>(http_port),
                    std::strerror(errno));
        g_running.store(false);
        consumer.join();
        stop_sdk();
        return EXIT_FAILURE;
    }
    std::vector<std::thread> workers;
    workers.reserve(k_http_worker_count);
    for (size_t i = 0; i < k_http_worker_count; ++i) {
        workers.emplace_back(http_worker, listen_fd, std::cref(g_running));
    }
    std::printf("[NMS] SNMP 服务启动 | HTTP:%u | Trap:%d | 动态库模式 | 支持多OID批量\n",
                static_cast<unsigned>(http_port), static_cast<int>(trap_port));
    wait_for_stop();
    for (std::thread &worker : workers) {
        worker.join();
    }
    consumer.join();
    close(listen_fd);
    stop_sdk();
    return EXIT_SUCCESS;
}

} // namespace

int main() {
    // Line by line, so that a reader of a pipe or a file sees each trace line as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    install_signal_handlers();
    const std::optional<uint16_t> http_port = port_setting(k_http_port_env, k_default_http_port);
    const std::optional<uint16_t> trap_port = port_setting(k_trap_port_env, k_default_trap_port);
    if (!http_port || !trap_port) {
        return k_exit_bad_setting;
    }
    return snmp_service_start(*http_port, *trap_port);
}
