/* Compiled as C: the public header must be valid C, and the records must have the same layout as
 * the library (compiled as C++) sees them. */
#include <stddef.h>

#include "nms/vek_nms_sdk.h"
#include "tests/nms_net/nms_header_probe.h"

static void on_response(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                        const api_snmp_response *response, void *user_data) {
    (void)ip;
    (void)port;
    (void)user_name;
    (void)cmd_type;
    (void)response;
    (void)user_data;
}

static void on_trap(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error,
                    void *user_data) {
    (void)ip;
    (void)port;
    (void)trap;
    (void)error;
    (void)user_data;
}

void nms_header_probe_layout(nms_header_layout *layout) {
    api_snmp_response_cb response_cb = on_response;
    api_snmp_trap_cb trap_cb = on_trap;
    (void)response_cb;
    (void)trap_cb;
    layout->varbind_size = sizeof(api_snmp_varbind);
    layout->varbind_type = offsetof(api_snmp_varbind, type);
    layout->varbind_value = offsetof(api_snmp_varbind, value);
    layout->varbind_value_len = offsetof(api_snmp_varbind, value_len);
    layout->agent_config_size = sizeof(api_snmp_agent_config);
    layout->user_config_size = sizeof(api_snmp_v3_user_config);
    layout->user_config_priv_password = offsetof(api_snmp_v3_user_config, priv_password);
    layout->response_size = sizeof(api_snmp_response);
    layout->response_varbinds = offsetof(api_snmp_response, varbinds);
    layout->trap_size = sizeof(api_snmp_trap);
    layout->trap_varbinds = offsetof(api_snmp_trap, varbinds);
    layout->agent_info_size = sizeof(api_snmp_agent_info);
    layout->user_info_size = sizeof(api_snmp_user_info);
    layout->error_text = api_snmp_error_to_str(API_SNMP_ERR_TIMEOUT);
}
