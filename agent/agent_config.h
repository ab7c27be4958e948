/* The agent's process-wide configuration record, its local SNMPv3 engine identity and clock. */
#ifndef VEK_AGENT_AGENT_CONFIG_H
#define VEK_AGENT_AGENT_CONFIG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Capacities of the configuration fields ---- */
#define AGENT_COMMUNITY_SIZE 32u       /* ro/rw community buffer (at most 31 characters through the API) */
#define AGENT_V3_USERNAME_SIZE 32u     /* configured SNMPv3 user name */
#define AGENT_V3_PASS_SIZE 64u         /* authentication / privacy password */
#define AGENT_ENGINE_ID_SIZE 32u       /* local snmpEngineID */
#define AGENT_CFG_RESERVED_SIZE 128u   /* reserved block, left zero */
#define AGENT_MAX_TRUSTED_NMS 8u       /* whitelist entries */

#define AGENT_DEFAULT_ETH_PORT 161u    /* usual UDP port of the TRANS_ETH transport */
#define AGENT_DEFAULT_TRAP_PORT 162u   /* notifications go to this manager port */

/* Byte arrays carry a separate length and need not be terminated. */
typedef struct agent_config {
    uint8_t reserved_flag0;            /* set to 1 by agent_snmp_init; not consulted by the core */
    uint8_t reserved_flag1;            /* set to 1 by agent_snmp_init; not consulted by the core */
    uint8_t v3_user_enabled;           /* non-zero: install the configured SNMPv3 user at start */

    uint8_t ro_community[AGENT_COMMUNITY_SIZE];
    uint8_t ro_community_len;
    uint8_t rw_community[AGENT_COMMUNITY_SIZE];
    uint8_t rw_community_len;

    uint8_t v3_username[AGENT_V3_USERNAME_SIZE];
    uint8_t v3_username_len;
    uint8_t v3_auth_pass[AGENT_V3_PASS_SIZE]; /* also the fallback for users without their own */
    uint8_t v3_auth_pass_len;
    uint8_t v3_priv_pass[AGENT_V3_PASS_SIZE]; /* also the fallback for users without their own */
    uint8_t v3_priv_pass_len;
    uint32_t v3_auth_proto;            /* codec authentication code (0 none, 1 MD5, 2 SHA-1, 3/4 SHA-256) */
    uint32_t v3_priv_proto;            /* Agent SDK privacy numbering (AGENT_PRIV_*, agent/snmpv3_user_mgr.h) */

    uint8_t engine_id[AGENT_ENGINE_ID_SIZE];
    uint16_t engine_id_len;            /* 0 = agent not initialised */
    uint32_t engine_boots;             /* agent_init: boots of the previous start (the next adds one);
                                          then the engine clock's mirror (agent/agent_engine.h) */
    uint32_t engine_time;              /* the engine clock's mirror: written inside platform_irq_save */

    uint16_t eth_port;                 /* UDP port of TRANS_ETH (normally 161) */
    uint16_t es_port;                  /* port of TRANS_ES (0 = not used) */
    uint32_t poll_period;              /* milliseconds between collection runs */

    uint8_t reserved[AGENT_CFG_RESERVED_SIZE];

    uint32_t trusted_nms[AGENT_MAX_TRUSTED_NMS]; /* accepted manager addresses, network order */
    uint8_t trusted_nms_count;         /* 0..8; 0 accepts every manager */
} agent_config;

/* The one configuration of the process; agent_init copies its record in here. */
extern agent_config agent_cfg;

/* Zero the whole record (engine ID length 0 = not initialised). */
void agent_config_reset(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_CONFIG_H */
