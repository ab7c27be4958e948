/* Encoder of the agent's answers to authenticated SNMPv3 requests.
 *
 * The answer carries the response PDU as it stands (request-id, error-status, error-index and
 * bindings), under the request's authoritative engine ID, engine boots and time and msgID, at the
 * security level chosen by the caller: the scoped PDU is encrypted with the user's privacy key when
 * privacy is asked for, and the whole message is authenticated with the user's authentication key
 * when authentication is asked for. Stateless; scratch areas live on the stack. */
#ifndef VEK_AGENT_AGENT_V3_RESPONSE_H
#define VEK_AGENT_AGENT_V3_RESPONSE_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* request: the request message turned into its response (pdu edited in place; usm, msg_id as
 * received). auth_proto / priv_proto: the algorithms to answer with (0 = none), the user's own.
 * *out_len: the size of out on entry (at most SNMP_MAX_MSG_SIZE is used), the message length on
 * return. Codec result code. */
int32_t agent_v3_encode_response(const snmp_message *request, const snmp_v3_user *user, uint8_t auth_proto,
                                 uint8_t priv_proto, uint8_t *out, uint16_t *out_len);

#ifdef __cplusplus
}
#endif

#endif /* VEK_AGENT_AGENT_V3_RESPONSE_H */
