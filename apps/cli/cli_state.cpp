/* Process-wide state, the shared wake-up and one-time SDK initialisation. The signal handling and
 * the 1 ms timer are the system's (cli_os_linux.cpp, cli_os_win32.cpp). */
#include "apps/cli/cli_state.h"

#include <condition_variable>
#include <cstdio>

#include "nms/vek_nms_sdk.h"

std::atomic<uint32_t> g_snmp_log_lvl{k_cli_default_log_level};
std::atomic<uint16_t> g_trap_listen_port{k_cli_default_trap_port};
std::atomic<uint16_t> g_dev_snmp_port{k_cli_default_agent_port};
std::mutex g_agent_mtx;
std::thread g_trap_thread;
std::atomic<bool> g_trap_cb_reg{false};
std::atomic<bool> g_cli_snmp_inited{false};
std::atomic<bool> g_exit_flag{false};
std::atomic<bool> g_trap_running{false};
std::atomic<bool> g_response_received{false};
std::atomic<bool> g_request_failed{false};
uint32_t g_timer_id = 0;

namespace {

std::mutex g_wait_mtx;
std::condition_variable g_wait_cv;

} // namespace

void cli_wake_waiters() {
    {
        // Taking the lock orders the flag change before a waiter's next check of its condition.
        std::lock_guard<std::mutex> lock(g_wait_mtx);
    }
    g_wait_cv.notify_all();
}

bool cli_wait_until(const std::function<bool()> &ready, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_wait_mtx);
    return g_wait_cv.wait_for(lock, timeout, ready);
}

void cli_safe_snmp_init() {
    if (g_cli_snmp_inited.load()) {
        std::puts("[LOG] cli_safe_snmp_init: SNMP库已初始化，跳过");
        return;
    }
    api_snmp_init();
    api_snmp_set_log_level(g_snmp_log_lvl.load());
    // g_agent_mtx is a process-lifetime mutex, so there is nothing to create here. The SDK's own timer
    // thread drives its tick; the 1 ms timer (Windows only) adds nothing to it.
    if (g_timer_id == 0) {
        start_snmp_1ms_timer();
    }
    g_cli_snmp_inited.store(true);
    std::printf("[调试] SNMP核心已初始化（仅执行一次），当前日志等级=%d\n", static_cast<int>(g_snmp_log_lvl.load()));
}
