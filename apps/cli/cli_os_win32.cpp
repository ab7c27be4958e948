/* The command-line manager's system part on Windows: Ctrl+C through the console's control handler
 * (which the system runs on a thread of its own), and the periodic 1 ms multimedia timer. */
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdio>

#include "apps/app_os/app_os.h"
#include "apps/cli/cli_state.h"
#include "apps/cli/cli_trap.h"

namespace {

constexpr UINT k_timer_period_ms = 1;
constexpr UINT k_timer_resolution_ms = 0; /* as exact as the system can */

std::atomic<bool> g_handler_installed{false};

void CALLBACK snmp_timer_callback(UINT /*id*/, UINT /*msg*/, DWORD_PTR /*user*/, DWORD_PTR /*dw1*/, DWORD_PTR /*dw2*/) {}

} // namespace

void start_snmp_1ms_timer() {
    g_timer_id = timeSetEvent(k_timer_period_ms, k_timer_resolution_ms, snmp_timer_callback, 0,
                              TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
    if (g_timer_id != 0) {
        std::printf("[调试] 1ms高精度定时器已启动（ID：%u）\n", static_cast<unsigned>(g_timer_id));
    } else {
        std::puts("[错误] 启动1ms定时器失败！");
    }
}

void stop_snmp_1ms_timer() {
    if (g_timer_id != 0) {
        timeKillEvent(g_timer_id);
        g_timer_id = 0;
        std::puts("[调试] 1ms定时器已停止");
    }
}

void cli_install_signal_handler() {
    if (g_handler_installed.exchange(true)) {
        return;
    }
    app_os::on_stop_request(sigint_handler);
}
