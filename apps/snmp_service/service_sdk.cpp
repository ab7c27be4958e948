#include "apps/snmp_service/service_sdk.h"

#include <cstdio>
#include <string>

namespace service {

sdk_entry_table g_sdk;

namespace {

template <typename Fn>
bool resolve(void *handle, const char *name, Fn &entry) {
    void *symbol = loader::find(handle, name);
    if (symbol == nullptr) {
        std::printf("[LOAD] %s failed\n", name);
        return false;
    }
    entry = reinterpret_cast<Fn>(symbol);
    return true;
}

#define VEK_SERVICE_RESOLVE(name) resolve(handle, #name, table.fp_##name)

bool resolve_all(void *handle, sdk_entry_table &table) {
    return VEK_SERVICE_RESOLVE(api_snmp_init) && VEK_SERVICE_RESOLVE(api_snmp_destroy) &&
           VEK_SERVICE_RESOLVE(api_snmp_register_response_callback) &&
           VEK_SERVICE_RESOLVE(api_snmp_register_trap_callback) && VEK_SERVICE_RESOLVE(api_snmp_start_trap_listener) &&
           VEK_SERVICE_RESOLVE(api_snmp_stop_trap_listener) && VEK_SERVICE_RESOLVE(api_snmp_agent_create) &&
           VEK_SERVICE_RESOLVE(api_snmp_agent_remove) && VEK_SERVICE_RESOLVE(api_snmp_agent_exist) &&
           VEK_SERVICE_RESOLVE(api_snmp_user_add) && VEK_SERVICE_RESOLVE(api_snmp_user_remove) &&
           VEK_SERVICE_RESOLVE(api_snmp_get) && VEK_SERVICE_RESOLVE(api_snmp_get_next) &&
           VEK_SERVICE_RESOLVE(api_snmp_get_bulk) && VEK_SERVICE_RESOLVE(api_snmp_set) &&
           VEK_SERVICE_RESOLVE(api_snmp_create_get_varbind) && VEK_SERVICE_RESOLVE(api_snmp_create_set_varbind) &&
           VEK_SERVICE_RESOLVE(api_snmp_mib_load) && VEK_SERVICE_RESOLVE(api_snmp_oid_validate) &&
           VEK_SERVICE_RESOLVE(api_snmp_set_log_level) && VEK_SERVICE_RESOLVE(api_snmp_error_to_str) &&
           VEK_SERVICE_RESOLVE(api_snmp_error_status_to_str) && VEK_SERVICE_RESOLVE(api_snmp_get_agent_count) &&
           VEK_SERVICE_RESOLVE(api_snmp_get_agent_list) && VEK_SERVICE_RESOLVE(api_snmp_get_user_count) &&
           VEK_SERVICE_RESOLVE(api_snmp_get_user_list);
}

#undef VEK_SERVICE_RESOLVE

} // namespace

bool sdk_load() {
    std::string reason;
    void *handle = loader::open_sdk(&reason);
    if (handle == nullptr) {
        std::printf("[NMS] 加载 DLL 失败\n");
        // The loader's reason goes to the error stream, apart from the trace.
        std::fprintf(stderr, "%s\n", reason.empty() ? "unknown loader error" : reason.c_str());
        return false;
    }
    std::printf("[NMS] 动态库加载成功 ✅\n");
    // The library stays loaded for the life of the process, also when an entry is missing.
    sdk_entry_table table;
    if (!resolve_all(handle, table)) {
        return false;
    }
    g_sdk = table;
    return true;
}

} // namespace service
