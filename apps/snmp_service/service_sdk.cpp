#include "apps/snmp_service/service_sdk.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <cstdio>
#include <string>

namespace service {

sdk_entry_table g_sdk;

namespace {

constexpr std::string_view k_self_exe = "/proc/self/exe";

/* Directory of the running executable, with its trailing '/', or empty when it cannot be read. */
std::string executable_dir() {
    std::array<char, PATH_MAX> path{};
    const ssize_t len = readlink(k_self_exe.data(), path.data(), path.size() - 1);
    if (len <= 0) {
        return {};
    }
    const std::string_view exe(path.data(), static_cast<size_t>(len));
    const size_t slash = exe.rfind('/');
    return slash == std::string_view::npos ? std::string{} : std::string(exe.substr(0, slash + 1));
}

void *open_library() {
    const std::string dir = executable_dir();
    if (!dir.empty()) {
        const std::string beside = dir + std::string(k_sdk_file_name);
        if (void *handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL); handle != nullptr) {
            return handle;
        }
    }
    return dlopen(std::string(k_sdk_file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <typename Fn>
bool resolve(void *handle, const char *name, Fn &entry) {
    void *symbol = dlsym(handle, name);
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
    void *handle = open_library();
    if (handle == nullptr) {
        std::printf("[NMS] 加载 DLL 失败\n");
        // The loader's reason goes to the error stream, apart from the trace.
        const char *reason = dlerror();
        std::fprintf(stderr, "%s\n", reason != nullptr ? reason : "unknown loader error");
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
