/* A table of three switch ports (index, name, enabled) served by one row callback; column 3 is
 * writable. Walk it with  veksnmpnms bulkwalk -v 2c -c public 127.0.0.1:PORT 1.3.6.1.4.1.54321.2
 * and switch a port on with  veksnmpnms set -v 2c -c private 127.0.0.1:PORT 1.3.6.1.4.1.54321.2.1.3.3 i 1 */
#include <stdlib.h>
#include <string.h>
#include <vek_agent_sdk.h>

#define PORTS 3u
static const char *names[PORTS] = {"uplink", "lan1", "lan2"};
static int32_t enabled[PORTS] = {1, 1, 0};

static int32_t port_row(uint32_t op, uint32_t *index, uint32_t column, agent_snmp_vb *vb, void *ctx) {
    (void)ctx;
    if (op == AGENT_SNMP_ROW_NEXT && *index == 0)
        *index = 1; /* the first row at or after the one asked for */
    if (*index == 0 || *index > PORTS)
        return AGENT_SNMP_CB_NO_SUCH;
    if (op == AGENT_SNMP_ROW_CHECK) /* only the writable column 3 gets here: 0 or 1 */
        return vb->type == AGENT_SNMP_TYPE_INTEGER && vb->value.u32 <= 1 ? AGENT_SNMP_CB_OK : AGENT_SNMP_CB_WRONG_VALUE;
    if (op == AGENT_SNMP_ROW_COMMIT || op == AGENT_SNMP_ROW_UNDO) {
        enabled[*index - 1] = vb->value.i32;
    } else if (column == 2) {
        vb->type = AGENT_SNMP_TYPE_OCTET_STRING;
        vb->len = (uint16_t)strlen(names[*index - 1]);
        memcpy(vb->value.bytes, names[*index - 1], vb->len);
    } else {
        vb->type = AGENT_SNMP_TYPE_INTEGER;
        vb->value.i32 = column == 1 ? (int32_t)*index : enabled[*index - 1];
        vb->len = sizeof vb->value.i32;
    }
    return AGENT_SNMP_CB_OK;
}

int main(int argc, char **argv) {
    /* communities, engine ID and its length, UDP port, collection period (ms), log level 3 (ERROR) */
    agent_snmp_cfg cfg = {"public", "private", "\x80\x00\x30\x39\x04" "tables", 11,
                          (uint16_t)(argc > 1 ? atoi(argv[1]) : 161), 1000, 3};
    if (agent_snmp_init(&cfg) != AGENT_SNMP_OK || agent_snmp_set_sys_name("table-agent") != AGENT_SNMP_OK ||
        agent_snmp_table_register("1.3.6.1.4.1.54321.2.1", AGENT_SNMP_INDEX_INTEGER, 3, 1u << 2 /* column 3 */,
                                  port_row, NULL) != AGENT_SNMP_OK ||
        agent_snmp_start() != AGENT_SNMP_OK)
        return 1;
    for (;;) { /* until the process is stopped */
        agent_snmp_wait(100);
        agent_snmp_loop();
    }
}
