/* SNMPv3 framing: the USM security parameters, the scoped PDU and the one-call command encoder.
 *
 * The whole-message entry points are snmp_ber_encode_snmp_message / snmp_ber_decode_snmp_message
 * (codec/snmp_ber.h), which hand every version-3 message to this unit. Every function here keeps no
 * state, allocates nothing and returns a codec result code (codec/snmp_types.h) unless stated
 * otherwise. Offsets are byte positions counted from the start of the buffer named. */
#ifndef VEK_CODEC_SNMPV3_BER_H
#define VEK_CODEC_SNMPV3_BER_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Wire constants of the messages this codec writes ---- */
#define SNMP_V3_MSG_MAX_SIZE SNMP_MAX_MSG_SIZE /* msgMaxSize, 02 02 04 00 */
#define SNMP_V3_SECURITY_MODEL_USM 3u
#define SNMP_V3_MSG_FLAGS_LEN 1u               /* msgFlags is a one-byte OCTET STRING */

/* ---- Largest received fields that are accepted (longer ones are refused, never cut) ---- */
#define SNMP_V3_MAX_ENGINE_ID_LEN SNMP_ENGINE_ID_SIZE          /* msgAuthoritativeEngineID, contextEngineID */
#define SNMP_V3_MAX_USER_LEN SNMP_MAX_COMMUNITY_LEN            /* msgUserName */
#define SNMP_V3_MAX_CONTEXT_NAME_LEN (SNMP_CONTEXT_NAME_SIZE - 1u)
#define SNMP_V3_MAX_ENCRYPTED_PDU_LEN (SNMP_MAX_MSG_SIZE - 1u)   /* encryptedPDU kept in snmp_message */

/* ---- snmp_v3_cmd_encode limits ---- */
#define SNMP_V3_CMD_MAX_VARBINDS 10u        /* bindings copied into one command */
#define SNMP_V3_CMD_MAX_REPETITIONS 16u     /* GetBulk max-repetitions ceiling */
#define SNMP_V3_MIN_SCOPED_PDU_ROOM 128u    /* room a message must leave for its scoped PDU */

/* USM SEQUENCE of `usm` into buf. An empty engine ID marks a discovery message: the user name of
 * `usm` is then cleared. auth_rel_off / priv_rel_off receive the position of the authentication /
 * privacy parameter element (its tag byte) counted from the start of the SEQUENCE's content;
 * usm_seq_header_len the SEQUENCE's tag and length octets. */
int32_t snmp_ber_encode_v3_usm(uint8_t *buf, uint16_t size, snmp_v3_usm *usm, uint16_t *out_len,
                               uint16_t *auth_rel_off, uint16_t *priv_rel_off, uint16_t *usm_seq_header_len);

/* Decodes the USM SEQUENCE at buf (len bytes: the content of msgSecurityParameters). The
 * authentication parameter is read only with msgFlags bit 0x01, the privacy parameter only with 0x02;
 * otherwise an empty element (04 00) is expected in its place. auth_offset (optional) receives the
 * position of the authentication parameter element in buf, 0 when there is none. */
int32_t snmp_ber_decode_v3_usm(const uint8_t *buf, uint16_t len, uint8_t msg_flags, snmp_v3_usm *usm,
                               uint16_t *consumed, uint16_t *auth_offset);

/* Advances *pos by 2 when the bytes there are 04 00; always returns 0. */
int32_t skip_null_octet_string(const uint8_t *buf, uint16_t len, uint16_t *pos);

/* Scoped PDU: SEQUENCE of contextEngineID, contextName and the PDU (encoded as version 3). */
int32_t snmp_ber_encode_v3_scoped_pdu(uint8_t *buf, uint16_t size, const snmp_pdu *pdu, uint16_t *out_len);
int32_t snmp_ber_decode_v3_scoped_pdu(const uint8_t *buf, uint16_t len, snmp_pdu *pdu, uint16_t *consumed);

/* Builds a complete v3 message for one command in one call: USM parameters, plaintext scoped PDU,
 * then (with a privacy algorithm) the encrypted scoped PDU in its place, and (with an
 * authentication algorithm) the authentication parameter over the final message.
 * op: snmp_op; username: zero-terminated, at most 31 bytes are used; engine_id: also the
 * contextEngineID, at most 32 bytes; msg_id travels as msgID (the PDU's request-id is 0);
 * at most 10 bindings and a GetBulk max-repetitions of at most 16 are sent.
 * *inout_len: the size of out_buf on entry, the message length on return. The message never exceeds
 * SNMP_MAX_MSG_SIZE nor the given size (SNMP_ERR_NO_ROOM otherwise; nothing is written past it). */
int32_t snmp_v3_cmd_encode(uint32_t op, const char *username, uint8_t auth_proto, uint8_t priv_proto,
                           const uint8_t *auth_key, uint16_t auth_key_len, const uint8_t *priv_key,
                           uint16_t priv_key_len, const uint8_t *engine_id, uint16_t engine_id_len,
                           uint32_t engine_boots, uint32_t engine_time, uint32_t msg_id, uint32_t non_repeaters,
                           uint32_t max_repetitions, const snmp_varbind *varbinds, uint16_t varbind_count,
                           uint8_t *out_buf, uint16_t *inout_len);

#ifdef __cplusplus
}
#endif

#endif
