/* The demo's background trap listener and its printer. */
#include "apps/snmp_api_demo/snmp_api_demo.h"
#include "base/agent_log.h"
#include "nms/vek_nms_sdk.h"

std::atomic<bool> g_listen_running{false};
std::thread g_listen_thread;

namespace {

void trap_callback(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                   void * /*user_data*/) {
    if (error != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "TRAP 接收失败：%s", api_snmp_error_to_str(error));
        return;
    }
    if (trap == nullptr) {
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "========================================");
    AGENT_LOG(AGENT_LOG_INFO, "[TRAP] 来自 %s:%d", ip, static_cast<int>(port));
    const int count = trap->var_count < API_SNMP_MAX_TRAP_VARBINDS ? trap->var_count
                                                                   : static_cast<int>(API_SNMP_MAX_TRAP_VARBINDS);
    for (int i = 0; i < count; ++i) {
        const api_snmp_varbind &vb = trap->varbinds[i];
        const int index = i + 1;
        if (vb.type == API_SNMP_BER_OCTET_STRING) {
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = %.*s", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      static_cast<int>(vb.value_len < sizeof vb.value.str ? vb.value_len : sizeof vb.value.str),
                      vb.value.str);
        } else if (vb.type == API_SNMP_BER_TIMETICKS) {
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = %ums", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      vb.value.u32);
        } else {
            AGENT_LOG(AGENT_LOG_INFO, "[%d] %.*s = TYPE(0x%02X)", index, static_cast<int>(sizeof vb.oid), vb.oid,
                      static_cast<unsigned>(vb.type));
        }
    }
}

void listen_thread_proc() {
    demo_snmp_init();
    api_snmp_register_trap_callback(trap_callback, nullptr);
    const api_snmp_err rc = api_snmp_start_trap_listener(k_demo_trap_port);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "TRAP监听启动失败：%s", api_snmp_error_to_str(rc));
        g_listen_running.store(false);
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "TRAP 监听已启动（端口：%d）", static_cast<int>(k_demo_trap_port));
    while (g_listen_running.load() && !g_exit_flag.load()) {
        std::this_thread::sleep_for(k_demo_poll_step);
    }
    api_snmp_stop_trap_listener();
    g_listen_running.store(false);
}

} // namespace

void demo_start_listen() {
    if (g_listen_running.load()) {
        AGENT_LOG(AGENT_LOG_WARN, "TRAP 监听已在运行");
        return;
    }
    if (g_listen_thread.joinable()) {
        // The previous listener has ended on its own (its port could not be bound).
        g_listen_thread.join();
    }
    g_listen_running.store(true);
    g_listen_thread = std::thread(listen_thread_proc);
}

void demo_stop_listen() {
    g_listen_running.store(false);
    if (g_listen_thread.joinable()) {
        g_listen_thread.join();
    }
}
