/* snmp_service: the manager library's operations as HTTP GET endpoints with JSON answers (port 8099 of
 * 127.0.0.1 unless told otherwise), with the library loaded at run time, and a notification listener
 * on port 162. Settings: see service_options.h. */
#include <arpa/inet.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "apps/http_intake/http_intake.h"
#include "apps/snmp_service/service_endpoints.h"
#include "apps/snmp_service/service_options.h"
#include "apps/snmp_service/service_sdk.h"
#include "apps/snmp_service/service_server.h"
#include "apps/snmp_service/service_traps.h"

namespace {

using namespace service;

constexpr std::chrono::milliseconds k_main_sleep{500};
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

void wait_for_stop() {
    while (g_running.load()) {
        std::this_thread::sleep_for(k_main_sleep);
    }
}

void start_sdk(uint16_t trap_port, uint32_t log_level) {
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
    g_sdk.fp_api_snmp_set_log_level(log_level);
}

void stop_sdk() {
    g_sdk.fp_api_snmp_stop_trap_listener();
    g_sdk.fp_api_snmp_destroy();
}

/* Serves HTTP until the stop signal: the intake runs on this thread, the workers on their own. */
void serve_http(int listen_fd) {
    http_intake::intake intake(k_intake_limits);
    std::vector<std::thread> workers;
    workers.reserve(k_http_worker_count);
    for (size_t i = 0; i < k_http_worker_count; ++i) {
        workers.emplace_back(http_worker, std::ref(intake), std::cref(g_running));
    }
    intake.run(listen_fd, g_running);
    intake.stop();
    for (std::thread &worker : workers) {
        worker.join();
    }
}

void warn_if_reachable_by_others(const service_options &options, in_addr address) {
    if (!http_intake::is_loopback(address)) {
        std::printf("[NMS] 警告：HTTP 服务监听 %s:%u，本机以外也能访问；本服务没有认证，"
                    "能连到此端口的任何人都能操作设备\n",
                    options.listen.c_str(), static_cast<unsigned>(options.http_port));
    }
}

int snmp_service_start(const service_options &options) {
    if (!sdk_load()) {
        // Nothing starts; the service still ends only on its signal.
        wait_for_stop();
        return EXIT_FAILURE;
    }
    start_sdk(options.trap_port, options.log_level);
    std::thread consumer(trap_consume_thread, std::cref(g_running));
    in_addr address{};
    inet_pton(AF_INET, options.listen.c_str(), &address);
    const http_intake::unique_fd listener = http_intake::open_listener(address, options.http_port, k_listen_backlog);
    if (!listener.valid()) {
        std::printf("[NMS] HTTP 端口 %u 绑定失败（%s），服务退出\n", static_cast<unsigned>(options.http_port),
                    std::strerror(errno));
        g_running.store(false);
        consumer.join();
        stop_sdk();
        return EXIT_FAILURE;
    }
    std::printf("[NMS] SNMP 服务启动 | HTTP:%u | Trap:%d | 动态库模式 | 支持多OID批量\n",
                static_cast<unsigned>(options.http_port), static_cast<int>(options.trap_port));
    warn_if_reachable_by_others(options, address);
    serve_http(listener.get());
    consumer.join();
    stop_sdk();
    return EXIT_SUCCESS;
}

} // namespace

int main(int argc, char **argv) {
    // Line by line, so that a reader of a pipe or a file sees each trace line as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    install_signal_handlers();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const options_result parsed = parse_options(args, [](const char *name) { return std::getenv(name); });
    if (parsed.help) {
        std::fputs(options_usage(argv[0]).c_str(), stdout);
        return EXIT_SUCCESS;
    }
    if (!parsed.options) {
        std::printf("%s\n%s", parsed.error.c_str(), options_usage(argv[0]).c_str());
        return k_exit_bad_setting;
    }
    return snmp_service_start(*parsed.options);
}
