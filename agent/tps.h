/* How a device plugs into the agent.
 *
 * TPS: the hook through which a device's data-collection service delivers values. The agent's
 * periodic collector asks it for a value (tps_mib_coll_req) and it answers through the registered
 * collection callback.
 *
 * Sample device MIB (user_mib_*): a temperature sensor, a switchable LED and a fan speed under the
 * sample enterprise arc 1.3.6.1.4.1.12345.1, backed by a simulated register block. Writing the LED
 * sends the link notifications to the current manager. */
#ifndef VEK_AGENT_TPS_H
#define VEK_AGENT_TPS_H

#include <stdbool.h>
#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Sample device MIB ---- */
#define USER_MIB_ENTERPRISE 12345u
#define USER_MIB_OID_LEN 9u

/* Which node user_mib_get_oid returns. */
#define USER_MIB_NODE_TEMP 0u
#define USER_MIB_NODE_LED 1u
#define USER_MIB_NODE_FAN 2u

#define USER_MIB_TEMP_MIN_C (-40)
#define USER_MIB_TEMP_MAX_C 85
#define USER_MIB_FAN_PWM_MAX 1000u
#define USER_MIB_FAN_MAX_RPM 10000u

/* Registers tempSensor (.1.1), ledControl (.1.2) and fanSpeed (.1.3). */
void user_mib_init(void);
/* OID of USER_MIB_NODE_*, or null for any other value. */
const snmp_oid *user_mib_get_oid(uint32_t which);
/* Sets the simulated hardware; false (nothing changed) for a value out of range. */
bool user_mib_simulate_hw(int32_t temp_c, uint8_t led, uint16_t fan_pwm);

int32_t temp_read(void *user_data, snmp_varbind *vb);
int32_t led_read(void *user_data, snmp_varbind *vb);
int32_t led_write(void *user_data, const snmp_varbind *vb);
int32_t fan_read(void *user_data, snmp_varbind *vb);

/* ---- TPS collection ---- */
/* Receives one collected value; the agent's is agent_mib_coll_callback_response. */
typedef void (*tps_coll_cb)(const snmp_oid *oid, const snmp_varbind *value);

/* The registered collection callback (exported; null until tps_mib_coll_callback_reg). */
extern tps_coll_cb coll_callback;

/* Configure/start/stop hooks of the collection service; nothing to do in this system. */
void tps_cfg_tps(void);
void tps_start(void);
void tps_stop(void);
void tps_mib_coll_callback_reg(tps_coll_cb callback);
/* Serves one collection request: only hrProcessorLoad.1 (1.3.6.1.2.1.25.3.3.1.2.1) is known. Fills
 * out's type and value (not its oid), hands both to the callback and returns true. */
bool tps_mib_coll_req(const snmp_oid *oid, snmp_varbind *out);
/* The OID the agent's collector asks for (hrProcessorLoad.1). */
const snmp_oid *tps_get_collect_oid(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_TPS_H */
