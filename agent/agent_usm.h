/* The agent's side of the User-based Security Model: every received SNMPv3 message is checked
 * against the agent's own engine, the agent being the authoritative engine of every request it
 * answers (RFC 3414 section 3.2: engine ID, user, security level, digest, time window, decryption).
 * A message that passes is executed; one that fails is counted in its usmStats counter and, when
 * it asks for reports, answered with the Report of that counter, never executed. */
#ifndef VEK_AGENT_AGENT_USM_H
#define VEK_AGENT_AGENT_USM_H

#include <stdint.h>

#include "agent/agent.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum agent_usm_outcome {
    AGENT_USM_ACCEPTED = 0, /* ctx->v3_user is the user; the PDU (decrypted) is ready to execute */
    AGENT_USM_REPORT = 1,   /* ctx->msg is now the Report to send (ctx->v3_user set when it is sent
                               at the request's security level) */
    AGENT_USM_DROPPED = 2   /* nothing to answer */
} agent_usm_outcome;

/* Checks the decoded SNMPv3 message of a request context (data/len: the datagram as received). */
agent_usm_outcome agent_usm_check_request(agent_msg_ctx *ctx, const uint8_t *data, uint16_t len);

/* Stamps the local engine (ID, boots, time now) into an answer's USM parameters and context. */
void agent_usm_stamp_local_engine(snmp_message *msg);

/* The usmStats counter of a verdict (snmp_v3_verdict; 0 for SNMP_V3_VERDICT_OK). */
uint32_t agent_usm_stat(uint8_t verdict);
/* Sets every usmStats counter to 0 (at agent initialisation). */
void agent_usm_reset_stats(void);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_USM_H */
