/* Encoder of SNMPv3 answers (the Response to a request, or a Report) and notifications.
 *
 * The answer carries the PDU of `reply` as it stands (request-id, error-status, error-index and
 * bindings) under its msgID and its USM engine ID, boots and time (the authoritative engine's own,
 * filled by the caller), at the security level chosen by the caller: the scoped PDU is encrypted
 * with the user's privacy key when privacy is asked for, and the whole message is authenticated
 * with the user's authentication key when authentication is asked for. An answer without security
 * carries the user's name only. Stateless; scratch areas live on the stack. */
#ifndef VEK_CODEC_SNMPV3_REPLY_H
#define VEK_CODEC_SNMPV3_REPLY_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* reply: msg_id, usm.engine_id / engine_id_len / engine_boots / engine_time and pdu (with its
 * context) as they are to be sent. auth_proto / priv_proto: the algorithms to answer with (0 =
 * none), the user's own. *out_len: the size of out on entry (at most SNMP_MAX_MSG_SIZE is used), the
 * message length on return. Codec result code. */
int32_t snmp_v3_encode_reply(const snmp_message *reply, const snmp_v3_user *user, uint8_t auth_proto,
                             uint8_t priv_proto, uint8_t *out, uint16_t *out_len);

/* A notification (Trap or Inform PDU in msg->pdu, request-id included) in the same way: msg_id, the
 * authoritative engine of msg->usm (the sender's own for a trap, the receiver's for an inform) and
 * the PDU with its context. confirmed non-zero (an Inform) makes the message reportable. */
int32_t snmp_v3_encode_notification(const snmp_message *msg, const snmp_v3_user *user, uint8_t auth_proto,
                                    uint8_t priv_proto, uint8_t confirmed, uint8_t *out, uint16_t *out_len);

#ifdef __cplusplus
}
#endif

#endif /* VEK_CODEC_SNMPV3_REPLY_H */
