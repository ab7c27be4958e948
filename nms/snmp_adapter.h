/* Adapter between the manager library's public records (nms/vek_nms_sdk.h) and the SNMP codec's
 * records (codec/snmp_types.h).
 *
 * The core never builds or reads codec records itself: it hands an agent description and API
 * varbinds to this unit to obtain an encoded datagram, and hands a received datagram to it to obtain
 * a decoded message with API varbinds. The unit also maps the API's command and algorithm numbers to
 * the codec's and wraps SNMPv3 key generation.
 *
 * Agent description: the adapter does not depend on the core's agent record. The core fills an
 * adapter_agent (plain values and borrowed pointers, valid for the duration of the call) from its own
 * record before each encode. For SNMPv3 the core also resolves the request's user (the active entry
 * of that name) and passes it as adapter_agent.user, or null when the agent has no such user.
 *
 * Results: functions documented "1 / 0" return 1 on success and 0 on failure; the encoders and the
 * decoder return an api_snmp_err. Nothing here allocates memory; every work area is a fixed buffer.
 * On failure an output buffer has undefined contents and must not be sent. */
#ifndef VEK_NMS_SNMP_ADAPTER_H
#define VEK_NMS_SNMP_ADAPTER_H

#include <stdint.h>

#include "codec/snmp_types.h"
#include "nms/vek_nms_sdk.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Capacities ---- */
#define ADAPTER_MAX_VARBINDS 10u                      /* varbinds of one request or decoded message */
#define ADAPTER_OID_TEXT_MAX (API_SNMP_OID_SIZE - 1u) /* longest accepted OID text: 127 characters */
#define ADAPTER_AUTH_PARAM_SIZE SNMP_AUTH_PARAM_SIZE  /* 48 */
#define ADAPTER_USER_NAME_SIZE SNMP_USERNAME_SIZE     /* 32: 31 characters and the terminator */
#define ADAPTER_COMMUNITY_SIZE SNMP_USERNAME_SIZE     /* 32: the codec carries at most 31 bytes */
#define ADAPTER_ENGINE_ID_SIZE SNMP_ENGINE_ID_SIZE    /* 32 */
#define ADAPTER_KEY_SIZE SNMP_KEY_SIZE                /* 64: longest localised key */
#define ADAPTER_MAX_PASSWORD_LEN 255u                 /* longest password accepted for key generation */

/* SNMPv3 discovery states of an agent (adapter_agent.discovery_state). */
#define ADAPTER_V3_NOT_DISCOVERED 0u
#define ADAPTER_V3_DISCOVERY_SENT 1u /* a discovery is outstanding: encoders build a discovery message */
#define ADAPTER_V3_DISCOVERED 2u

/* msgFlags value the discovery encoder stores in the codec message (reportable discovery). */
#define ADAPTER_V3_DISCOVERY_MSG_FLAGS 0x80u

/* One SNMPv3 user of an agent, as the encoder needs it. The pointers are borrowed. */
typedef struct adapter_v3_user {
    const char *user_name;   /* NUL-terminated */
    uint32_t auth_alg;       /* api_snmp_auth_alg */
    uint32_t priv_alg;       /* api_snmp_priv_alg */
    const uint8_t *auth_key; /* localised authentication key (may be null when auth_key_len is 0) */
    uint16_t auth_key_len;
    const uint8_t *priv_key; /* localised privacy key (may be null when priv_key_len is 0) */
    uint16_t priv_key_len;
} adapter_v3_user;

/* What the encoders read of an agent. The core fills it from its agent record for each call. */
typedef struct adapter_agent {
    uint32_t version;           /* api_snmp_version: 0, 1 or 3 */
    const char *community;      /* SNMPv1/v2c community, NUL-terminated; the first 31 bytes are sent */
    int32_t next_request_id;    /* request-id (v1/v2c) or msgID (v3) of the message to encode */
    uint8_t bulk_non_repeaters; /* GET-BULK parameters last stored with the agent */
    uint8_t bulk_max_repetitions;
    /* SNMPv3 only */
    uint8_t discovery_state;  /* ADAPTER_V3_* */
    const uint8_t *engine_id; /* authoritative engine ID (engine_id_len bytes, at most 32) */
    uint8_t engine_id_len;
    uint32_t engine_boots;
    uint32_t engine_time;
    const adapter_v3_user *user; /* the active user named by the request, or null when there is none */
} adapter_agent;

/* A decoded datagram (adapter_decode_snmp_msg). */
typedef struct adapter_msg {
    uint32_t version;    /* 0, 1 or 3 */
    uint32_t cmd_type;   /* api_snmp_cmd_type of the PDU (0 for an operation without one) */
    uint32_t pdu_op;     /* the codec operation (snmp_op): tells an INFORM from a response */
    uint32_t request_id; /* PDU request-id; for SNMPv3 the msgID of the header */
    uint32_t error_status;
    uint8_t error_index;
    uint8_t var_count; /* 0 to 10 */
    api_snmp_varbind varbinds[ADAPTER_MAX_VARBINDS];
    const uint8_t *raw; /* the received datagram (borrowed from the caller) */
    uint32_t raw_len;
    /* SNMPv1/v2c: the received community (bytes and length; also NUL-terminated) */
    char community[ADAPTER_COMMUNITY_SIZE];
    uint8_t community_len;
    uint8_t community_truncated; /* 1 when the received community was longer than the 31 bytes kept */
    /* SNMPv3 only */
    uint8_t auth_param[ADAPTER_AUTH_PARAM_SIZE];
    char user_name[ADAPTER_USER_NAME_SIZE];
    uint8_t engine_id[ADAPTER_ENGINE_ID_SIZE];
    uint8_t engine_id_len;
    uint32_t engine_boots;
    uint32_t engine_time;
    uint8_t msg_flags;
    uint16_t auth_param_offset; /* offset of the authentication parameter in raw */
    const uint8_t *encrypted;   /* encrypted scoped PDU (points into the codec message) */
    uint16_t encrypted_len;
} adapter_msg;

/* Input of SNMPv3 key generation. */
typedef struct adapter_v3_key_params {
    uint32_t auth_alg; /* api_snmp_auth_alg */
    uint32_t priv_alg; /* api_snmp_priv_alg */
    uint8_t engine_id[ADAPTER_ENGINE_ID_SIZE];
    uint8_t engine_id_len; /* at most 32 */
    uint32_t engine_boots;
} adapter_v3_key_params;

/* ---- Lifecycle ---- */
/* Initialises the codec's SNMPv3 security module; returns 1. */
int adapter_snmp_init(void);
/* Nothing to release. */
void adapter_snmp_deinit(void);

/* ---- OIDs and varbinds ---- */
/* 1 / 0. Dotted decimal text (at most 127 characters, 1 to 32 sub-identifiers) to a codec OID. */
int adapter_oid_str_to_snmp_oid(const char *oid_str, snmp_oid *oid);
/* 1 / 0. Codec OID to dotted text into buffer (size bytes with the terminator). */
int adapter_snmp_oid_to_str(const snmp_oid *oid, char *buffer, uint32_t size);
/* 1 / 0. One API varbind (OID text, type, value) to a codec varbind. */
int adapter_varbind_to_snmp(const api_snmp_varbind *api_vb, snmp_varbind *codec_vb);
/* Converts count codec varbinds into api_vbs (room for count entries); count is at most
 * SNMP_MAX_VARBINDS. API_SNMP_OK, API_SNMP_ERR_INVALID_OID, or API_SNMP_ERR_INVALID_PARAM for
 * missing arguments or too large a count. */
api_snmp_err convert_varbinds_common(const snmp_varbind *codec_vbs, uint8_t count, api_snmp_varbind *api_vbs);

/* ---- Mappings ---- */
/* Codec authentication protocol of an api_snmp_auth_alg (unknown values: 0); the standard scheme's
 * numbers are the codec's own. */
uint8_t adapter_auth_alg_to_proto(uint32_t auth_alg);
/* Codec privacy protocol of an api_snmp_priv_alg (unknown values: 0). */
uint8_t adapter_priv_alg_to_proto(uint32_t priv_alg);
/* 1 when a user's two algorithms may go together: both of one scheme (codec/snmpv3_scheme.h), or
 * none; a number the SDK does not know counts as none. 0 for a mix. */
int adapter_v3_algorithms_match(uint32_t auth_alg, uint32_t priv_alg);
/* api_snmp_cmd_type reported for a received codec operation; 0 for an unknown operation. */
uint32_t snmp_operation_to_api_cmd_type(uint32_t op);
/* 1 / 0. Codec operation (snmp_op) of a request's api_snmp_cmd_type. */
int adapter_cmd_type_to_snmp_op(uint32_t cmd_type, uint32_t *op);

/* ---- Encoding ----
 * Common arguments: cmd_type is an api_snmp_cmd_type; varbinds/count the request's bindings (0 to 10);
 * *length_in_out holds the size of buffer on entry and the encoded length on return.
 *
 * user_name: for SNMPv3 the user that sends the command (ignored during discovery). For SNMPv1/v2c it
 * is used only with API_SNMP_CMD_RESPONSE (INFORM acknowledgement): a non-empty user_name is then the
 * community to answer with, so that the acknowledgement carries the community of the received INFORM
 * (pass adapter_msg.community); otherwise the agent's community is sent. */
api_snmp_err adapter_snmp_cmd_encode(const adapter_agent *agent, uint32_t cmd_type, const char *user_name,
                                     const api_snmp_varbind *varbinds, uint8_t count, uint8_t *buffer,
                                     uint32_t *length_in_out);
api_snmp_err adapter_snmp_v1v2_cmd_encode(const adapter_agent *agent, uint32_t cmd_type,
                                          const char *user_name, const api_snmp_varbind *varbinds,
                                          uint8_t count, uint8_t *buffer, uint32_t *length_in_out);
api_snmp_err adapter_snmp_v3_cmd_encode(const adapter_agent *agent, uint32_t cmd_type, const char *user_name,
                                        const api_snmp_varbind *varbinds, uint8_t count, uint8_t *buffer,
                                        uint32_t *length_in_out);
/* Discovery message: msgID = agent->next_request_id, empty security parameters, a PDU of the mapped
 * command with request-id 0 and no varbinds. */
api_snmp_err adapter_snmp_v3_discover_encode(const adapter_agent *agent, uint32_t cmd_type, uint8_t *buffer,
                                             uint32_t *length_in_out);
/* Acknowledgement of a received SNMPv1/v2c INFORM: a Response PDU with the INFORM's version,
 * community (exact bytes) and request-id and no varbinds. API_SNMP_ERR_VERSION_MISMATCH for SNMPv3,
 * API_SNMP_ERR_INVALID_PARAM when the message is not an INFORM. */
api_snmp_err adapter_snmp_inform_ack_encode(const adapter_msg *inform, uint8_t *buffer,
                                            uint32_t *length_in_out);

/* ---- Decoding ----
 * Decodes one datagram into msg_out (API view) and codec_msg_out (codec view; msg_out.encrypted
 * points into it). agent is the core's record of the sender; it is only checked for presence.
 * For an SNMPv3 message with the privacy flag var_count is 0 (the scoped PDU is still encrypted). */
api_snmp_err adapter_decode_snmp_msg(const void *agent, const uint8_t *data, uint32_t len,
                                     adapter_msg *msg_out, snmp_message *codec_msg_out);

/* 1 when a decoded SNMPv1/v2c message carries exactly the community that a request to an agent
 * configured with `community` carries on the wire (its first 31 bytes), else 0. */
int adapter_v1v2_community_matches(const adapter_msg *msg, const char *community);

/* Refills the PDU fields of msg (cmd_type, pdu_op, error_status, error_index, var_count, varbinds)
 * from codec_msg->pdu, e.g. after the scoped PDU of an SNMPv3 message has been decrypted.
 * API_SNMP_OK, API_SNMP_ERR_INVALID_OID, or API_SNMP_ERR_INVALID_PARAM for missing arguments. */
api_snmp_err adapter_msg_refresh_pdu(adapter_msg *msg, const snmp_message *codec_msg);

/* SNMPv3 security processing of a message decoded by adapter_decode_snmp_msg (same msg and
 * codec_msg): checks the authentication parameter and decrypts the scoped PDU with the user's
 * protocols (mapped from the API numbers) and localised keys, then refills the PDU fields of msg
 * (adapter_msg_refresh_pdu). enabled is 0 for a user that must not be used (disabled).
 * API_SNMP_OK; API_SNMP_ERR_AUTH_FAILED for an authentication failure; API_SNMP_ERR_V3_DECRYPT for
 * any other security failure; API_SNMP_ERR_INVALID_PARAM for missing arguments or a non-v3 message;
 * API_SNMP_ERR_INVALID_OID when the decrypted varbinds cannot be converted. */
api_snmp_err adapter_v3_process_security(const adapter_v3_user *user, uint8_t enabled, adapter_msg *msg,
                                         snmp_message *codec_msg);

/* ---- SNMPv3 keys ----
 * 1 / 0. Localised keys from a password for params (algorithm none: success with length 0).
 * *key_len_* receives the key length; when key_max is too small it receives the needed length and the
 * call fails. */
int adapter_v3_gen_auth_key(const adapter_v3_key_params *params, const uint8_t *password,
                            uint32_t password_len, uint8_t *key_out, uint16_t *key_len_in_out,
                            uint16_t key_max);
int adapter_v3_gen_priv_key(const adapter_v3_key_params *params, const uint8_t *password,
                            uint32_t password_len, uint8_t *key_out, uint16_t *key_len_out, uint16_t key_max);

/* ---- MIB ---- */
/* 1 for a non-empty path (no file is read), 0 otherwise. */
int adapter_mib_load(const char *path);

#ifdef __cplusplus
}
#endif

#endif
