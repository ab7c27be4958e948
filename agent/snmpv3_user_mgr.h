/* The agent's table of SNMPv3 USM users: add, find, remove, key localisation to the local engine,
 * and installation of the user carried by the agent configuration. Used from the application's
 * thread only (main loop and API). */
#ifndef VEK_AGENT_SNMPV3_USER_MGR_H
#define VEK_AGENT_SNMPV3_USER_MGR_H

#include <stdbool.h>
#include <stdint.h>

#include "agent/agent_config.h"
#include "codec/snmp_types.h"
#include "codec/snmpv3_crypto.h"

#ifdef __cplusplus
extern "C" {
#endif

#define MAX_V3_USERS 5u

/* The Agent SDK's own privacy numbering (agent_config.v3_priv_proto); the standard scheme's numbers
 * (6..11) are the codec's. */
#define AGENT_PRIV_NONE 0u
#define AGENT_PRIV_DES 1u
#define AGENT_PRIV_AES128 2u
#define AGENT_PRIV_3DES 3u
#define AGENT_PRIV_AES192 4u
#define AGENT_PRIV_AES256 5u

/* Result of the conversion for a number the agent does not know: no privacy operation accepts it. */
#define SNMP_V3_PRIV_UNKNOWN 0xFFu

/* Entries 0 .. user_count - 1 are in use, in insertion order; the rest are zero. */
typedef struct snmp_v3_user_mgr {
    snmp_v3_user users[MAX_V3_USERS];
    uint32_t user_count;
} snmp_v3_user_mgr;

extern snmp_v3_user_mgr g_snmpv3_user_mgr;

void snmp_v3_user_mgr_init(void);
/* Copies the whole record into the next free entry. */
bool snmp_v3_user_add(const snmp_v3_user *user);
/* The enabled entry with exactly this name, or null. */
snmp_v3_user *snmp_v3_user_find(const uint8_t *name, uint8_t len);
bool snmp_v3_user_remove(const char *name);
/* Localises one user's keys (authentication and privacy) to the local engine: the engine ID of
 * agent_cfg and the boots of this start. Done when the user is added to a running agent, at every
 * start and when the engine ID changes; never per message. */
bool snmp_v3_regenerate_auth_key(const uint8_t *name, uint8_t len);
/* Localises every enabled user's keys; the number of users whose keys were made. */
uint32_t snmp_v3_regenerate_all_auth_keys(void);
/* A copy of the user with its keys localised to another engine (the receiver of an inform): true
 * when both keys were made. */
bool snmp_v3_user_keyed_for(const snmp_v3_user *user, const uint8_t *engine_id, uint16_t engine_id_len,
                            uint32_t engine_boots, snmp_v3_user *out);
/* Installs the user of the configuration (v3_user_enabled, v3_username ...). */
void snmp_v3_user_migrate_from_cfg(const agent_config *cfg);

/* Agent privacy number to codec privacy code; SNMP_V3_PRIV_UNKNOWN for a number it does not know. */
uint8_t snmp_v3_agent_priv_to_codec(uint32_t agent_priv);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_SNMPV3_USER_MGR_H */
