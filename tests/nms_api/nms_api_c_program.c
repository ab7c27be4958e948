/* A C application of the manager library: includes the public header as C, links only
 * libvek_nms_sdk.so, and walks the calling order (init, callbacks, agent, varbinds, destroy). */
#include <stdio.h>
#include <string.h>

#include "nms/vek_nms_sdk.h"

#define AGENT_IP "127.0.0.1"
#define AGENT_PORT 16162u

static void on_response(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                        const api_snmp_response *response, void *user_data) {
    (void)ip;
    (void)port;
    (void)user_name;
    (void)cmd_type;
    (void)response;
    (void)user_data;
}

static void on_trap(const char *ip, uint16_t port, const api_snmp_trap *trap, api_snmp_err error, void *user_data) {
    (void)ip;
    (void)port;
    (void)trap;
    (void)error;
    (void)user_data;
}

static int check(int condition, const char *what) {
    if (!condition) {
        printf("nms_api_c_program: failed: %s\n", what);
    }
    return condition ? 0 : 1;
}

int main(void) {
    api_snmp_agent_config config;
    api_snmp_agent_info agents[2];
    api_snmp_varbind vb;
    int failures = 0;

    memset(&config, 0, sizeof(config));
    config.version = API_SNMP_V2C;
    strcpy(config.community, "public");

    api_snmp_init();
    api_snmp_register_response_callback(on_response);
    api_snmp_register_trap_callback(on_trap, NULL);
    failures += check(api_snmp_agent_create(AGENT_IP, AGENT_PORT, &config) == API_SNMP_OK, "agent_create");
    failures += check(api_snmp_agent_exist(AGENT_IP, AGENT_PORT), "agent_exist");
    failures += check(api_snmp_get_agent_count() == 1u, "agent_count");
    failures += check(api_snmp_get_agent_list(agents, 2) == 1u && agents[0].port == AGENT_PORT, "agent_list");
    failures += check(api_snmp_create_set_varbind("1.3.6.1.2.1.1.5.0", "ip", "10.0.0.1", &vb) == API_SNMP_OK &&
                          vb.value.u32 == 0x0A000001u,
                      "create_set_varbind");
    failures += check(!api_snmp_oid_validate("3.1"), "oid_validate");
    failures += check(strcmp(api_snmp_error_status_to_str(2), "noSuchName") == 0, "error_status_to_str");
    failures += check(api_snmp_agent_remove(AGENT_IP, AGENT_PORT) == API_SNMP_OK, "agent_remove");
    api_snmp_destroy();

    if (failures == 0) {
        printf("nms_api_c_program: ok\n");
    }
    return failures == 0 ? 0 : 1;
}
