/* SNMPv3 engine of the manager library: the users of an SNMPv3 agent and their localised keys, the
 * discovery of the agent's authoritative engine (engine ID, boots, time), the rule that decides when
 * that information is too old, and the two-step flow in which a command is held back, a discovery
 * request is sent and the held command follows authenticated once the agent's report arrived.
 *
 * The manager keeps the agent's engine boots and time from the discovery answer and from
 * authenticated messages only, sends the time it estimates from them, and treats the engine
 * information as valid for 150 seconds after the last of them; after that, or when the boots
 * change, it discovers again before the next command. An authenticated notInTimeWindows Report
 * resynchronises the clock and the held command goes out once more.
 *
 * Locking: core_snmpv3_user_add and core_snmpv3_user_remove take the core's list lock themselves;
 * every other function here expects the caller to hold it (they work on agent records). */
#ifndef VEK_NMS_CORE_SNMPV3_H
#define VEK_NMS_CORE_SNMPV3_H

#include <stdbool.h>
#include <stdint.h>

#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"
#include "nms/vek_nms_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

#define CORE_V3_MAX_PASSWORD_LEN 255u /* longest password accepted for key generation */

/* Clears the engine state, last_sync_time = now, key_boots 0; 1 (0 for no engine). */
int core_snmpv3_engine_init(snmp_core_v3_engine *engine);
void core_snmpv3_engine_destroy(snmp_core_v3_engine *engine);

/* The active user entry called name on an SNMPv3 agent, or null. */
snmp_core_v3_user *core_snmpv3_user_ex_find(snmp_core_agent *agent, const char *name);
/* Adds a user (the record and its texts are copied); takes the list lock. */
api_snmp_err core_snmpv3_user_add(const char *ip, uint16_t port, const api_snmp_v3_user_config *user_config);
/* Removes the active user called name and frees its slot; takes the list lock. */
api_snmp_err core_snmpv3_user_remove(const char *ip, uint16_t port, const char *name);

/* Makes both localised keys of one user from the engine's ID and boots. */
api_snmp_err core_snmpv3_gen_user_keys(snmp_core_v3_engine *engine, snmp_core_agent *agent, const char *name);
/* Remakes one user's authentication key when the engine's boots changed since the keys were made. */
api_snmp_err core_snmpv3_update_auth_key(snmp_core_agent *agent, const char *name);

/* Entry of every SNMPv3 request: holds the command and either sends it at once (engine known and in
 * time) or starts a discovery first. */
api_snmp_err core_snmpv3_std_start_flow(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name,
                                        const api_snmp_varbind *varbinds, uint8_t count, uint8_t non_repeaters,
                                        uint8_t max_repetitions, void *user_data);
/* Sends a discovery request (flow control applies). */
api_snmp_err core_snmpv3_send_discover(snmp_core_agent *agent, snmp_core_v3_engine *engine);
/* Takes engine ID, boots and time from a received SNMPv3 message. */
api_snmp_err core_snmpv3_handle_discover_response(snmp_core_v3_engine *engine, const adapter_msg *msg);
/* Completes the flow after the discovery report: stores the engine, makes the keys, sends the held
 * command (which then stays outstanding like any request). */
api_snmp_err core_snmpv3_handle_discover_phase_report(snmp_core_agent *agent, const adapter_msg *msg,
                                                      void *user_data);
/* True while the engine information is valid (discovered, same boots, fewer than 151 s old). */
bool core_snmpv3_check_time_sync(snmp_core_agent *agent, snmp_core_v3_engine *engine);
/* True while a discovery of the agent is outstanding (the encoders then build a discovery message). */
bool core_snmpv3_in_discovery(const snmp_core_agent *agent);
/* Re-enables the agent's users whose disabled-until time has passed. */
void core_snmpv3_expire_disabled_users(snmp_core_agent *agent, int64_t now);

/* The agent's engine time now as the manager estimates it: the last time an authenticated message
 * (or the discovery) showed, plus the seconds since it arrived. */
uint32_t core_snmpv3_estimated_time(const snmp_core_v3_engine *engine);
/* True for a Report without security: it may end the outstanding request, but nothing it carries
 * (engine boots or time) is taken. */
bool core_snmpv3_is_unsecured_report(const adapter_msg *msg);
/* After a message of a discovered agent passed the security checks: true when it names the
 * discovered engine and is timely for the manager's estimate of its clock, which it then moves on;
 * false (logged) when it is to be dropped. */
bool core_snmpv3_take_authenticated(snmp_core_agent *agent, const adapter_msg *msg);
/* Makes the user's keys for another engine (trap sender, or the manager's own for informs). */
api_snmp_err core_snmpv3_make_notify_keys(snmp_core_v3_user *user, const uint8_t *engine_id, uint8_t engine_id_len,
                                          uint32_t engine_boots, snmp_core_v3_notify_keys *keys);

/* Receive-path targets for SNMPv3 answers (list lock held). */
void snmp_core_handle_v3_get_response(snmp_core_agent *agent, const adapter_msg *msg, void *user_data);
void snmp_core_handle_v3_report(snmp_core_agent *agent, const adapter_msg *msg, void *user_data);

#ifdef __cplusplus
}
#endif

#endif
