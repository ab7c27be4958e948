/* The manager library as the HTTP service uses it: loaded at run time by file name, each of its 26
 * operations looked up by name. The service never links the library. */
#ifndef VEK_APPS_SNMP_SERVICE_SERVICE_SDK_H
#define VEK_APPS_SNMP_SERVICE_SERVICE_SDK_H

#include <string>
#include <string_view>

#include "nms/vek_nms_sdk.h"

namespace service {

/* The system's side of loading the library (service_loader_linux.cpp, service_loader_win32.cpp). */
namespace loader {

/* File name of the library: "libvek_nms_sdk.so" on Linux, where it is looked for next to the
 * service's executable first and then through the dynamic loader's search path; "vek_nms_sdk.dll"
 * on Windows, loaded from beside the executable only. */
extern const std::string_view k_sdk_file_name;

/* The loaded library, or null with the loader's reason in *why. */
void *open_sdk(std::string *why);

/* The address of the named function in the library, or null. */
void *find(void *library, const char *name);

} // namespace loader

/* One entry per SDK operation, named after it. */
struct sdk_entry_table {
    decltype(&api_snmp_init) fp_api_snmp_init = nullptr;
    decltype(&api_snmp_destroy) fp_api_snmp_destroy = nullptr;
    decltype(&api_snmp_register_response_callback) fp_api_snmp_register_response_callback = nullptr;
    decltype(&api_snmp_register_trap_callback) fp_api_snmp_register_trap_callback = nullptr;
    decltype(&api_snmp_start_trap_listener) fp_api_snmp_start_trap_listener = nullptr;
    decltype(&api_snmp_stop_trap_listener) fp_api_snmp_stop_trap_listener = nullptr;
    decltype(&api_snmp_agent_create) fp_api_snmp_agent_create = nullptr;
    decltype(&api_snmp_agent_remove) fp_api_snmp_agent_remove = nullptr;
    decltype(&api_snmp_agent_exist) fp_api_snmp_agent_exist = nullptr;
    decltype(&api_snmp_user_add) fp_api_snmp_user_add = nullptr;
    decltype(&api_snmp_user_remove) fp_api_snmp_user_remove = nullptr;
    decltype(&api_snmp_get) fp_api_snmp_get = nullptr;
    decltype(&api_snmp_get_next) fp_api_snmp_get_next = nullptr;
    decltype(&api_snmp_get_bulk) fp_api_snmp_get_bulk = nullptr;
    decltype(&api_snmp_set) fp_api_snmp_set = nullptr;
    decltype(&api_snmp_create_get_varbind) fp_api_snmp_create_get_varbind = nullptr;
    decltype(&api_snmp_create_set_varbind) fp_api_snmp_create_set_varbind = nullptr;
    decltype(&api_snmp_mib_load) fp_api_snmp_mib_load = nullptr;
    decltype(&api_snmp_oid_validate) fp_api_snmp_oid_validate = nullptr;
    decltype(&api_snmp_set_log_level) fp_api_snmp_set_log_level = nullptr;
    decltype(&api_snmp_error_to_str) fp_api_snmp_error_to_str = nullptr;
    decltype(&api_snmp_error_status_to_str) fp_api_snmp_error_status_to_str = nullptr;
    decltype(&api_snmp_get_agent_count) fp_api_snmp_get_agent_count = nullptr;
    decltype(&api_snmp_get_agent_list) fp_api_snmp_get_agent_list = nullptr;
    decltype(&api_snmp_get_user_count) fp_api_snmp_get_user_count = nullptr;
    decltype(&api_snmp_get_user_list) fp_api_snmp_get_user_list = nullptr;
};

/* Filled by sdk_load; read-only afterwards. */
extern sdk_entry_table g_sdk;

/* Loads the library and looks up every operation in the fixed order, printing "[NMS] 加载 DLL 失败"
 * or "[NMS] 动态库加载成功 ✅", and "[LOAD] <name> failed" for the first operation that is missing.
 * True when every entry of g_sdk is set. */
bool sdk_load();

} // namespace service

#endif
