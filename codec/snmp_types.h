/* Records, capacities and result codes shared by every unit of the SNMP codec and by both SDKs. */
#ifndef VEK_CODEC_SNMP_TYPES_H
#define VEK_CODEC_SNMP_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Capacities ---- */
/* Sub-identifiers per OID, everywhere in the system: as many as the 127-character OID texts of both
 * public interfaces can carry ("0." per arc), enough for the address-indexed tables of standard
 * agents (IPv6 routes and connections have up to 52). */
#define SNMP_MAX_OID_LEN 64u
#define SNMP_MAX_OCTETS 300u         /* bytes of an OCTET STRING value */
#define SNMP_MAX_VARBINDS 16u        /* variable bindings per PDU */
#define SNMP_MAX_MSG_SIZE 1024u      /* bytes of one SNMP message */
#define SNMP_MAX_COMMUNITY_LEN 31u   /* bytes of a community / user name */
#define SNMP_USERNAME_SIZE 32u
#define SNMP_ENGINE_ID_SIZE 32u
#define SNMP_CONTEXT_NAME_SIZE 300u
#define SNMP_AUTH_PARAM_SIZE 48u     /* longest msgAuthenticationParameters (HMAC-SHA-512, RFC 7860) */
#define SNMP_PRIV_PARAM_SIZE 16u
#define SNMP_FULL_IV_SIZE 32u
#define SNMP_KEY_SIZE 64u            /* longest localised key (HMAC-SHA-512) */
#define SNMP_V3_PASS_SIZE 64u

/* ---- Codec result codes ---- */
#define SNMP_OK 0
#define SNMP_ERR_NO_ROOM (-1)       /* the output does not fit */
#define SNMP_ERR_INVALID (-2)       /* invalid argument, unexpected tag, unsupported type */
#define SNMP_ERR_MALFORMED (-3)     /* malformed input */
#define SNMP_ERR_OID (-4)           /* OID error */
#define SNMP_ERR_NULL (-5)          /* null argument */
#define SNMP_ERR_VERSION (-8)       /* not allowed in this version */
#define SNMP_ERR_AUTH (-31)         /* authentication failure */
#define SNMP_ERR_PRIV (-32)         /* privacy failure */

/* ---- BER tags ---- */
#define SNMP_TAG_INTEGER 0x02u
#define SNMP_TAG_OCTET_STRING 0x04u
#define SNMP_TAG_NULL 0x05u
#define SNMP_TAG_OID 0x06u
#define SNMP_TAG_SEQUENCE 0x30u
#define SNMP_TAG_IPADDRESS 0x40u
#define SNMP_TAG_COUNTER32 0x41u
#define SNMP_TAG_GAUGE32 0x42u
#define SNMP_TAG_TIMETICKS 0x43u
#define SNMP_TAG_OPAQUE 0x44u
#define SNMP_TAG_COUNTER64 0x46u
#define SNMP_TAG_NO_SUCH_OBJECT 0x80u
#define SNMP_TAG_NO_SUCH_INSTANCE 0x81u
#define SNMP_TAG_END_OF_MIB_VIEW 0x82u

#define SNMP_PDU_TAG_GET 0xA0u
#define SNMP_PDU_TAG_GETNEXT 0xA1u
#define SNMP_PDU_TAG_RESPONSE 0xA2u
#define SNMP_PDU_TAG_SET 0xA3u
#define SNMP_PDU_TAG_V1_TRAP 0xA4u
#define SNMP_PDU_TAG_GETBULK 0xA5u
#define SNMP_PDU_TAG_INFORM 0xA6u
#define SNMP_PDU_TAG_V2_TRAP 0xA7u
#define SNMP_PDU_TAG_REPORT 0xA8u

/* ---- Versions (wire values) ---- */
#define SNMP_VERSION_1 0u
#define SNMP_VERSION_2C 1u
#define SNMP_VERSION_3 3u

/* ---- SNMPv3 msgFlags ---- */
#define SNMP_V3_FLAG_AUTH 0x01u
#define SNMP_V3_FLAG_PRIV 0x02u
#define SNMP_V3_FLAG_REPORTABLE 0x04u

/* Operation codes; note SNMP_OP_TRAP is tag 0xA7 and SNMP_OP_INFORM tag 0xA6. */
typedef enum snmp_op {
    SNMP_OP_GET = 0,
    SNMP_OP_GETNEXT = 1,
    SNMP_OP_GET_RESPONSE = 2,
    SNMP_OP_SET = 3,
    SNMP_OP_GETBULK = 5,
    SNMP_OP_TRAP = 6,
    SNMP_OP_INFORM = 7,
    SNMP_OP_REPORT = 8,
    SNMP_OP_UNKNOWN = 255,
} snmp_op;

#define SNMP_OP_MAX 8u

typedef struct snmp_oid {
    uint32_t sub_ids[SNMP_MAX_OID_LEN];
    uint8_t len;
} snmp_oid;

typedef union snmp_value {
    int32_t integer; /* signed for INTEGER; read as uint32_t for Counter32, Gauge32, TimeTicks */
    uint64_t counter64;
    uint8_t octets[SNMP_MAX_OCTETS];
    snmp_oid oid_value;
} snmp_value;

typedef struct snmp_varbind {
    snmp_oid oid;
    uint8_t type; /* the BER tag of the value */
    snmp_value value;
    uint16_t value_len; /* bytes used in value.octets */
} snmp_varbind;

typedef struct snmp_pdu {
    uint32_t op;
    int32_t request_id;
    uint32_t error_status;
    uint32_t error_index;
    uint32_t non_repeaters;
    uint32_t max_repetitions;
    uint8_t context_engine_id[SNMP_ENGINE_ID_SIZE];
    uint16_t context_engine_id_len;
    uint8_t context_name[SNMP_CONTEXT_NAME_SIZE];
    uint16_t context_name_len;
    snmp_varbind varbinds[SNMP_MAX_VARBINDS];
    uint8_t varbind_count;
} snmp_pdu;

/* USM security parameters of one message, plus what the encoder and decoder record about it.
 * For v1/v2c messages username/user_len hold the community. */
typedef struct snmp_v3_usm {
    uint8_t username[SNMP_USERNAME_SIZE];
    uint8_t user_len;
    uint8_t auth_proto;
    uint8_t priv_proto;
    uint16_t auth_param_offset;
    uint8_t auth_param[SNMP_AUTH_PARAM_SIZE];
    uint16_t auth_param_len;
    uint16_t priv_param_offset;
    uint8_t priv_param[SNMP_PRIV_PARAM_SIZE];
    uint16_t priv_param_len;
    uint32_t engine_boots;
    uint32_t engine_time;
    uint8_t full_iv[SNMP_FULL_IV_SIZE];
    uint8_t full_iv_len;
    uint8_t engine_id[SNMP_ENGINE_ID_SIZE];
    uint16_t engine_id_len;
} snmp_v3_usm;

typedef struct snmp_message {
    uint32_t version;
    snmp_v3_usm usm;
    uint16_t scoped_pdu_type_offset;
    uint16_t scoped_pdu_len_offset;
    uint16_t scoped_pdu_value_offset;
    uint16_t scoped_pdu_value_len;
    snmp_pdu pdu;
    uint8_t encrypted_pdu[SNMP_MAX_MSG_SIZE];
    uint16_t encrypted_pdu_len;
    uint8_t msg_flags;
    uint32_t msg_id;
    uint16_t auth_param_abs_offset;
} snmp_message;

/* SNMPv3 user. The codec reads the fields up to priv_key_len; the agent stores the whole record. */
typedef struct snmp_v3_user {
    uint8_t enabled;
    uint8_t user_len;
    uint8_t username[SNMP_USERNAME_SIZE];
    uint8_t auth_proto;
    uint8_t priv_proto;
    uint8_t auth_key[SNMP_KEY_SIZE];
    uint16_t auth_key_len;
    uint8_t priv_key[SNMP_KEY_SIZE];
    uint16_t priv_key_len;
    uint8_t keys_valid;
    uint32_t key_engine_boots;
    uint32_t key_engine_time;
    uint8_t auth_pass[SNMP_V3_PASS_SIZE];
    uint16_t auth_pass_len;
    uint8_t priv_pass[SNMP_V3_PASS_SIZE];
    uint16_t priv_pass_len;
} snmp_v3_user;

#ifdef __cplusplus
}
#endif

#endif
