/* Minimal manager: reads sysDescr.0 from an agent with SNMPv2c.
 * Build: cc minimal_manager.c $(pkg-config --cflags --libs vek_nms_sdk) -o minimal_manager
 * Run:   ./minimal_manager 127.0.0.1 1161 */
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <vek_nms_sdk.h>

static atomic_int done; /* 1 answered, 2 failed */

static void on_response(const char *ip, uint16_t port, const char *user, api_snmp_cmd_type cmd,
                        const api_snmp_response *r, void *user_data) {
    (void)ip; (void)port; (void)user; (void)cmd; (void)user_data;
    if (r->error == API_SNMP_OK && r->error_status == 0 && r->var_count > 0)
        printf("%s = %.*s\n", r->varbinds[0].oid, r->varbinds[0].value_len, r->varbinds[0].value.str);
    atomic_store(&done, r->error == API_SNMP_OK ? 1 : 2);
}

int main(int argc, char **argv) {
    const char *ip = argc > 1 ? argv[1] : "127.0.0.1";
    uint16_t port = (uint16_t)(argc > 2 ? atoi(argv[2]) : 161);
    api_snmp_agent_config config = {API_SNMP_V2C, "public"};
    api_snmp_varbind vb;
    api_snmp_init();
    api_snmp_register_response_callback(on_response);
    if (api_snmp_agent_create(ip, port, &config) != API_SNMP_OK ||
        api_snmp_create_get_varbind("1.3.6.1.2.1.1.1.0", &vb) != API_SNMP_OK ||
        api_snmp_get(ip, port, NULL, &vb, 1, 2000, NULL) != API_SNMP_OK)
        return 1;
    while (atomic_load(&done) == 0)
        usleep(10000);
    api_snmp_destroy();
    return atomic_load(&done) == 1 ? 0 : 1;
}
