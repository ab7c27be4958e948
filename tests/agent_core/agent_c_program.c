/* A C program with both libraries: links libvek_agent_sdk_v3_vekcrypto.so and libvek_nms_sdk.so,
 * runs an agent (agent_snmp_*) and a manager (api_snmp_*) in one process and completes a GET of
 * sysDescr.0 between them over 127.0.0.1. */
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "agent/vek_agent_sdk.h"
#include "nms/vek_nms_sdk.h"
#include "tests/support/free_port.h"

#define LOOPBACK "127.0.0.1"
#define SYS_DESCR_OID "1.3.6.1.2.1.1.1.0"
#define SYS_DESCR_TEXT "Embedded SNMP Agent / Firmware V1.0.0"
#define REQUEST_TIMEOUT_MS 3000u
#define ANSWER_WAIT_SECONDS 8
#define LOOP_WAIT_MS 20u
#define ENGINE_ID_LEN 9u
#define LOG_QUIET 4u

static atomic_int g_answered;
static char g_value[API_SNMP_VALUE_SIZE + 1];

static void on_response(const char *ip, uint16_t port, const char *user_name, api_snmp_cmd_type cmd_type,
                        const api_snmp_response *response, void *user_data) {
    (void)ip;
    (void)port;
    (void)user_name;
    (void)cmd_type;
    (void)user_data;
    if (response->error == API_SNMP_OK && response->var_count == 1) {
        const api_snmp_varbind *vb = &response->varbinds[0];
        size_t len = vb->value_len < API_SNMP_VALUE_SIZE ? vb->value_len : API_SNMP_VALUE_SIZE;
        memcpy(g_value, vb->value.bytes, len);
        g_value[len] = '\0';
    }
    atomic_store(&g_answered, 1);
}

static int check(int condition, const char *what) {
    if (!condition) {
        printf("agent_c_program: failed: %s\n", what);
    }
    return condition ? 0 : 1;
}

int main(void) {
    static const uint8_t engine_id[ENGINE_ID_LEN] = {0x80, 0x00, 0x30, 0x39, 0x04, 'c', 'a', 'p', 'p'};
    agent_snmp_cfg cfg;
    api_snmp_agent_config manager;
    api_snmp_varbind vb;
    time_t deadline;
    int failures = 0;

    memset(&cfg, 0, sizeof(cfg));
    strcpy(cfg.ro_community, "public");
    strcpy(cfg.rw_community, "private");
    memcpy(cfg.engine_id, engine_id, ENGINE_ID_LEN);
    cfg.engine_id_len = ENGINE_ID_LEN;
    cfg.port = test_free_udp_port();
    cfg.poll_period = 1000;
    cfg.log_level = LOG_QUIET;
    agent_snmp_set_log_level(LOG_QUIET);
    failures += check(agent_snmp_init(&cfg) == AGENT_SNMP_OK, "agent_snmp_init");
    failures += check(agent_snmp_start() == AGENT_SNMP_OK, "agent_snmp_start");
    failures += check(agent_snmp_get_state() == AGENT_SNMP_STATE_RUNNING, "agent_snmp_get_state");

    api_snmp_init();
    api_snmp_set_log_level(LOG_QUIET);
    api_snmp_register_response_callback(on_response);
    memset(&manager, 0, sizeof(manager));
    manager.version = API_SNMP_V2C;
    strcpy(manager.community, "public");
    failures += check(api_snmp_agent_create(LOOPBACK, cfg.port, &manager) == API_SNMP_OK, "api_snmp_agent_create");
    failures += check(api_snmp_create_get_varbind(SYS_DESCR_OID, &vb) == API_SNMP_OK, "api_snmp_create_get_varbind");
    failures += check(api_snmp_get(LOOPBACK, cfg.port, NULL, &vb, 1, REQUEST_TIMEOUT_MS, NULL) == API_SNMP_OK,
                      "api_snmp_get");

    deadline = time(NULL) + ANSWER_WAIT_SECONDS;
    while (!atomic_load(&g_answered) && time(NULL) < deadline) {
        agent_snmp_wait(LOOP_WAIT_MS);
        agent_snmp_loop();
    }
    failures += check(atomic_load(&g_answered), "answer within the time");
    failures += check(strcmp(g_value, SYS_DESCR_TEXT) == 0, "sysDescr value");

    api_snmp_destroy();
    agent_snmp_stop();
    if (failures == 0) {
        printf("agent_c_program: ok\n");
    }
    return failures == 0 ? 0 : 1;
}
