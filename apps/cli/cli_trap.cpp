/* Trap listener thread, its start and stop, the one-shot traplisten command and the signal handler. */
#include "apps/cli/cli_trap.h"

#include <cstdio>
#include <string_view>
#include <system_error>

#include "apps/cli/cli_command.h"
#include "apps/cli/cli_options.h"
#include "apps/cli/cli_output.h"
#include "apps/cli/cli_state.h"

namespace {

/* The listener thread announces itself alive every 500 waits of 10 ms. */
constexpr std::chrono::milliseconds k_heartbeat_period{5000};
constexpr uint16_t k_agent_port = 161;
constexpr uint16_t k_trap_port = 162;

bool listener_should_stop() { return !g_trap_running.load() || g_exit_flag.load(); }

void trap_listener_thread() {
    std::puts("[LOG] trap_listener_thread 线程启动");
    if (!g_trap_cb_reg.load()) {
        api_snmp_register_trap_callback(trap_callback, nullptr);
        g_trap_cb_reg.store(true);
        std::puts("[LOG] trap_callback 回调注册完成");
    } else {
        std::puts("[LOG] trap_callback 已注册，跳过重复注册");
    }
    const uint16_t port = g_trap_listen_port.load();
    const api_snmp_err rc = api_snmp_start_trap_listener(port);
    if (rc != API_SNMP_OK) {
        std::printf("[TRAP线程] 启动失败：%s（端口：%d）\n", api_snmp_error_to_str(rc), static_cast<int>(port));
        std::fflush(stdout);
        g_trap_running.store(false);
        cli_wake_waiters();
        return;
    }
    std::printf("[TRAP线程] 已启动（端口：%d），后台监听中...\n", static_cast<int>(port));
    std::fflush(stdout);
    while (!cli_wait_until(listener_should_stop, k_heartbeat_period)) {
        std::printf("[LOG] TRAP线程心跳正常，监听端口=%d\n", static_cast<int>(port));
        std::fflush(stdout);
    }
    std::puts("[LOG] TRAP线程退出循环，执行关闭监听");
    api_snmp_stop_trap_listener();
    std::puts("[TRAP线程] 监听套接字已关闭");
    std::fflush(stdout);
}

} // namespace

void sigint_handler(int /*sig*/) {
    std::puts("\n[LOG] 捕获Ctrl+C信号，准备退出");
    g_exit_flag.store(true);
    if (g_trap_running.load()) {
        std::puts("\n[提示] 停止TRAP监听...");
        g_trap_running.store(false);
    }
    std::fflush(stdout);
    cli_wake_waiters();
}

void trap_stop_all() {
    std::unique_lock<std::mutex> lock(g_agent_mtx);
    if (!g_trap_running.load() && !g_trap_thread.joinable()) {
        std::puts("[LOG] trap_stop_all: 当前无运行监听线程");
        return;
    }
    std::printf("[LOG] trap_stop_all: 开始停止监听，端口=%d\n", static_cast<int>(g_trap_listen_port.load()));
    g_trap_running.store(false);
    lock.unlock();
    cli_wake_waiters();
    if (g_trap_thread.joinable()) {
        g_trap_thread.join();
    }
    api_snmp_stop_trap_listener();
    g_trap_thread = std::thread();
    std::puts("[LOG] trap_stop_all: 仅关闭监听套接字，SDK全局Agent缓存常驻保留");
    std::fflush(stdout);
}

cli_listener_state cli_prepare_listener() {
    if (g_trap_running.load() && !g_trap_thread.joinable()) {
        std::puts("[警告] 检测到残留脏标记，自动清理旧监听资源");
        trap_stop_all();
    }
    if (!g_trap_running.load() && g_trap_thread.joinable()) {
        // The previous listener ended on its own (its port could not be bound): reap its thread.
        g_trap_thread.join();
        g_trap_thread = std::thread();
    }
    if (g_trap_thread.joinable()) {
        std::printf("TRAP监听已在运行（端口：%d）\n", static_cast<int>(g_trap_listen_port.load()));
        return cli_listener_state::already_running;
    }
    return cli_listener_state::idle;
}

bool cli_start_listener(uint16_t port) {
    g_trap_running.store(true);
    g_trap_listen_port.store(port);
    cli_safe_snmp_init();
    try {
        g_trap_thread = std::thread(trap_listener_thread);
    } catch (const std::system_error &) {
        g_trap_running.store(false);
        return false;
    }
    return true;
}

namespace {

/* "-p <port>" alone, as the listener without a user takes it; false (refusal printed) otherwise. */
bool parse_plain_listener(std::span<const char *const> words, uint16_t &port) {
    if (words.empty()) {
        return true;
    }
    if (std::string_view(words[0]) != "-p") {
        std::puts("错误：traplisten命令仅支持 -p 端口 参数");
        return false;
    }
    if (words.size() < 2) {
        std::puts("错误：-p参数后必须指定端口号");
        return false;
    }
    const auto parsed = cli_parse_port(words[1]);
    if (!parsed) {
        std::printf("错误：无效的TRAP监听端口 '%s'\n", words[1]);
        return false;
    }
    port = *parsed;
    return true;
}

} // namespace

void cli_traplisten_once(std::span<const char *const> words) {
    uint16_t port = k_trap_port;
    cli_request sender{};
    const bool with_user = cli_listener_has_user(words);
    const bool parsed = with_user ? cli_parse_listener(words, sender, port) == API_SNMP_OK
                                  : parse_plain_listener(words, port);
    if (!parsed) {
        cli_print_parse_failure(API_SNMP_ERR_NO_DATA);
        return;
    }
    // The agent port is never a listening port: 161 means the trap port.
    port = port == k_agent_port ? k_trap_port : port;
    std::printf("启动TRAP/INFORM监听（端口：%d）...\n", static_cast<int>(port));
    cli_install_signal_handler();
    if (cli_prepare_listener() == cli_listener_state::already_running) {
        return;
    }
    // SNMPv3 notifications reach the application only for a user of an agent record of their sender.
    if (with_user) {
        cli_safe_snmp_init();
        if (!cli_recreate_agent(sender)) {
            return;
        }
        std::printf("SNMPv3通知用户：%s（发送方：%s）\n", sender.user.data(), sender.ip.data());
    }
    if (!cli_start_listener(port)) {
        std::puts("错误：创建TRAP监听线程失败");
        return;
    }
    std::puts("TRAP后台监听已启动，Ctrl+C 停止");
    std::fflush(stdout);
    while (!cli_wait_until(listener_should_stop, std::chrono::hours(1))) {
    }
    trap_stop_all();
}
