/* Minimal agent: serves the system group and one read-only counter of its own until Ctrl+C.
 * Build: cc minimal_agent.c $(pkg-config --cflags --libs vek_agent_sdk) -o minimal_agent
 * Run:   ./minimal_agent 1161      then: veksnmpnms get -v 2c -c public 127.0.0.1:1161 1.3.6.1.4.1.54321.1.0 */
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <vek_agent_sdk.h>

static volatile sig_atomic_t running = 1;
static uint32_t requests;

static void on_signal(int sig) { (void)sig; running = 0; }

static int32_t read_counter(agent_snmp_vb *in, agent_snmp_vb *out, void *ctx) {
    (void)in; (void)ctx;
    out->type = AGENT_SNMP_TYPE_COUNTER32;
    out->value.u32 = ++requests;
    out->len = sizeof out->value.u32;
    return 0;
}

int main(int argc, char **argv) {
    agent_snmp_cfg cfg;
    memset(&cfg, 0, sizeof cfg);
    strcpy(cfg.ro_community, "public");
    strcpy(cfg.rw_community, "private");
    memcpy(cfg.engine_id, "\x80\x00\x30\x39\x04" "minimal", 12);
    cfg.engine_id_len = 12;
    cfg.port = (uint16_t)(argc > 1 ? atoi(argv[1]) : 161);
    cfg.poll_period = 1000;
    cfg.log_level = 3; /* ERROR */
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    if (agent_snmp_init(&cfg) != AGENT_SNMP_OK ||
        agent_snmp_mib_register("1.3.6.1.4.1.54321.1.0", 0, read_counter, NULL, 0, NULL) != AGENT_SNMP_OK ||
        agent_snmp_start() != AGENT_SNMP_OK)
        return 1;
    while (running) {
        agent_snmp_wait(100);
        agent_snmp_loop();
    }
    agent_snmp_stop();
    return 0;
}
