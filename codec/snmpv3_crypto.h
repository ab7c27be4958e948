/* SNMPv3 USM security: per-algorithm sizes, the privacy IV of an outgoing message, encryption and
 * decryption of scoped PDUs, the authentication parameter, password-to-key derivation and the
 * security processing of a received v3 message. Each algorithm code names a row of one of the two
 * schemes (codec/snmpv3_scheme.h), whose steps do the work through the crypto facade.
 *
 * The functions documented "1 / 0" return 1 on success and 0 on failure. */
#ifndef VEK_CODEC_SNMPV3_CRYPTO_H
#define VEK_CODEC_SNMPV3_CRYPTO_H

#include <stdint.h>

#include "codec/snmp_types.h"
#include "codec/snmpv3_scheme.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Authentication algorithms (auth_proto) of the system's own scheme; the standard ones follow
 * (SNMP_V3_AUTH_STD_*, codec/snmpv3_scheme.h). */
#define SNMP_V3_AUTH_NONE 0u
#define SNMP_V3_AUTH_MD5 1u
#define SNMP_V3_AUTH_SHA1 2u
#define SNMP_V3_AUTH_SHA256 3u      /* HMAC-SHA-256 truncated to 12 bytes */
#define SNMP_V3_AUTH_SHA256_FULL 4u /* HMAC-SHA-256, all 32 bytes */
#define SNMP_V3_AUTH_MAX SNMP_V3_AUTH_SHA256_FULL /* largest code of the system's own scheme */

/* Privacy algorithms (priv_proto) of the system's own scheme, codec numbering; the standard ones
 * follow (SNMP_V3_PRIV_STD_*). */
#define SNMP_V3_PRIV_NONE 0u
#define SNMP_V3_PRIV_DES 1u
#define SNMP_V3_PRIV_AES128 2u
#define SNMP_V3_PRIV_AES192 3u
#define SNMP_V3_PRIV_AES256 4u
#define SNMP_V3_PRIV_3DES 5u
#define SNMP_V3_PRIV_MAX SNMP_V3_PRIV_3DES /* largest code of the system's own scheme */

#define SNMP_V3_AUTH_PARAM_TRUNCATED_LEN 12u
#define SNMP_V3_AUTH_PARAM_FULL_LEN 32u
#define SNMP_V3_IV_FIXED_LEN 8u            /* BE32 boots and BE32 time */
#define SNMP_V3_MAX_BLOCK_SIZE 16u         /* largest cipher block (AES) */
#define SNMP_V3_PASS_ENCODE_UTF16LE 1u     /* snmp_v3_pass_encode mode */
#define SNMP_V3_WIDE_PASS_SIZE (2u * SNMP_V3_PASS_SIZE) /* widened password area: 64 password bytes */

/* Key length of an algorithm: is_auth non-zero looks up auth_proto, zero priv_proto; 0 if unknown. */
uint16_t snmpv3_get_key_length(uint8_t alg, uint8_t is_auth);
/* 8 (DES, 3DES), 16 (AES) or 0. */
uint8_t snmpv3_get_iv_length(uint8_t priv_proto);
/* 8 (DES, 3DES), 16 (AES) or 0 (logged as an unknown algorithm). */
uint8_t snmpv3_get_block_size(uint8_t priv_proto);
/* msgAuthenticationParameters bytes: 12, 16, 24, 32 or 48; 0 for none or an unknown code. */
uint16_t snmpv3_get_auth_param_length(uint8_t auth_proto);
/* Bytes of the encryptedPDU of plain_len plaintext bytes (privacy parameter included where the
 * scheme puts it there); 0 for none or an unknown code. */
uint16_t snmpv3_get_encrypted_length(uint8_t priv_proto, uint16_t plain_len);

/* Announces the crypto implementation; called once by each SDK's initialisation. */
void snmpv3_crypto_init(void);

/* 1 / 0. Fills full_iv / full_iv_len and priv_param / priv_param_len of the record from its
 * priv_proto, engine_boots and engine_time (cleared for priv_proto 0). */
int32_t snmpv3_crypto_gen_full_iv(snmp_v3_usm *usm);

/* 1 / 0. Encrypts plain (plain_len bytes) with the record's priv_proto, full_iv and priv_param; out
 * receives the encryptedPDU: for the system's own scheme priv_param (priv_param_len bytes) followed
 * by the cipher text, for the standard one the cipher text alone. *out_len: the capacity of out on
 * entry, the output length on return. The cipher text is produced in the work area first
 * (work_len bytes), so out may overlap the plaintext. priv_proto 0 copies the plaintext. */
int32_t snmp_v3_encrypt_pdu(const uint8_t *plain, uint16_t plain_len, const snmp_v3_usm *usm, const uint8_t *key,
                            uint16_t key_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len);
/* 1 / 0. The inverse: the IV comes from the record's engine_boots and engine_time (those of the
 * received message) and the salt (the first 8 bytes of data for the system's own AES, the record's
 * priv_param for the standard scheme). *out_len: capacity in, length out. The cipher text is
 * decrypted in the work area, which must hold it. */
int32_t snmp_v3_decrypt_pdu(const uint8_t *data, uint16_t data_len, const snmp_v3_usm *usm, const uint8_t *key,
                            uint16_t key_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len);

/* 1 / 0. HMAC of msg as it is (parameter bytes already zeroed), truncated by the record's
 * auth_proto; out_param receives the parameter's length. The work area is not needed by this step. */
int32_t snmpv3_crypto_gen_auth_param(const snmp_v3_usm *usm, const uint8_t *key, uint16_t key_len,
                                     const uint8_t *msg, uint16_t msg_len, uint8_t *out_param, uint8_t *work,
                                     uint16_t work_len);
/* 1 / 0. Authentication parameter of an outgoing message: msg is copied into the work area, the
 * parameter's value bytes (at usm->auth_param_offset + 2) are zeroed in the copy and its HMAC is
 * written to out_param (SNMP_AUTH_PARAM_SIZE bytes of room). msg itself is not changed. */
int32_t snmp_v3_gen_auth_param(const snmp_v3_usm *usm, const uint8_t *key, uint16_t key_len, const uint8_t *msg,
                               uint16_t msg_len, uint8_t *out_param, uint8_t *work, uint16_t work_len);
/* 1 when msg carries the right authentication parameter (or usm->auth_proto is 0), else 0.
 * usm: auth_proto and the received auth_param_offset / auth_param_len. */
int32_t snmp_v3_validate_auth_param(const uint8_t *msg, uint16_t msg_len, const snmp_v3_usm *usm,
                                    const uint8_t *key, uint16_t key_len, const uint8_t *received_param,
                                    uint8_t *work, uint16_t work_len);

/* Password bytes in the form used for key derivation: mode SNMP_V3_PASS_ENCODE_UTF16LE widens each
 * byte to two (byte, 0x00), any other mode copies. Returns the encoded length, 0 on failure. */
uint16_t snmp_v3_pass_encode(const uint8_t *pass, uint8_t pass_len, uint8_t mode, uint8_t *out, uint16_t capacity);

/* 1 / 0. Localized keys from a password and the record's engine ID, engine_boots, engine_time and
 * auth_proto / priv_proto (a standard privacy key is made with the digest of auth_proto); key_len
 * must be the algorithm's key length. The system's own scheme takes at most 64 password bytes. */
int32_t snmp_v3_generate_auth_key(const snmp_v3_usm *usm, const uint8_t *pass, uint8_t pass_len, uint8_t *key,
                                  uint16_t key_len);
int32_t snmp_v3_generate_priv_key(const snmp_v3_usm *usm, const uint8_t *pass, uint8_t pass_len, uint8_t *key,
                                  uint16_t key_len);

/* ---- Keys, time window and the checks of a received message ---- */

#define SNMP_V3_TIME_WINDOW_S 150u        /* a message is timely within 150 s of the engine time */
#define SNMP_V3_ENGINE_VALUE_MAX 2147483647u /* largest engine boots and engine time */
#define SNMP_V3_KEY_ENGINE_TIME 0u        /* keys are localised with this engine time, whatever the clock says */

/* Outcome of the checks of a received message. A failure carries the last sub-identifier of the
 * usmStats counter that counts it (1.3.6.1.6.3.15.1.1.n). */
typedef enum snmp_v3_verdict {
    SNMP_V3_VERDICT_OK = 0,
    SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL = 1,
    SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW = 2,
    SNMP_V3_VERDICT_UNKNOWN_USER_NAME = 3,
    SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID = 4,
    SNMP_V3_VERDICT_WRONG_DIGEST = 5,
    SNMP_V3_VERDICT_DECRYPTION_ERROR = 6
} snmp_v3_verdict;
#define SNMP_V3_VERDICT_COUNT 7u

/* The authoritative engine a received message must name, with its clock now. */
typedef struct snmp_v3_local_engine {
    const uint8_t *engine_id;
    uint16_t engine_id_len;
    uint32_t engine_boots;
    uint32_t engine_time;
} snmp_v3_local_engine;

/* The Report of a failed verdict: the instance OID of its usmStats counter and whether the Report
 * goes out at the request's security level (1, so that the sender can trust the engine clock it
 * carries) or without security (0). 1 for a failure verdict, 0 otherwise. */
int32_t snmp_v3_verdict_report(uint8_t verdict, snmp_oid *oid, uint8_t *at_request_level);
/* The failure a Report binding names (its usmStats OID, with or without the .0 instance);
 * SNMP_V3_VERDICT_OK for any other OID. */
uint8_t snmp_v3_verdict_of_oid(const snmp_oid *oid);

/* 1 when a message of (boots, time) is timely for an engine at (local_boots, local_time): same
 * boots, below the latched maximum, and time within SNMP_V3_TIME_WINDOW_S either way. */
int32_t snmp_v3_in_time_window(uint32_t local_boots, uint32_t local_time, uint32_t boots, uint32_t time);
/* 1 when a message of (boots, time) from another engine is timely for the receiver's estimate of
 * that engine's clock (RFC 3414 section 3.2 step 7b): boots not below the estimate (nor latched at
 * the maximum), and with the estimated boots a time at most SNMP_V3_TIME_WINDOW_S behind it. */
int32_t snmp_v3_timely_for_estimate(uint32_t estimated_boots, uint32_t estimated_time, uint32_t boots, uint32_t time);
/* 1 when the keys of a user with these algorithms, localised for engine boots key_boots (keys_valid
 * non-zero), must be made again for an engine now at engine_boots. The system's own keys follow the
 * engine ID and its boots, standard keys the engine ID only; a change of the engine ID always makes
 * them again. */
int32_t snmp_v3_keys_stale(uint8_t auth_proto, uint8_t priv_proto, uint8_t keys_valid, uint32_t key_boots,
                           uint32_t engine_boots);
/* 1 / 0. Localises both keys of the user (by its auth_proto / priv_proto) to the engine ID (and, for
 * the system's own scheme, its boots); records the boots, marks the keys valid. On failure no key
 * is valid. */
int32_t snmp_v3_localize_user_keys(snmp_v3_user *user, const uint8_t *engine_id, uint16_t engine_id_len,
                                   uint32_t engine_boots, const uint8_t *auth_pass, uint8_t auth_pass_len,
                                   const uint8_t *priv_pass, uint8_t priv_pass_len);

/* The checks of a received (decoded, non-discovery) message in the order of RFC 3414 section 3.2:
 * the authoritative engine (only when `authoritative` is given), the user (null: unknown), the
 * security level (it must be the user's own), the digest, the time window (authoritative engine and
 * authenticated messages only) and the decryption of the scoped PDU into msg->pdu. Returns the
 * snmp_v3_verdict; nothing is recorded. */
uint8_t snmp_v3_check_message(const uint8_t *data, uint16_t len, snmp_message *msg,
                              const snmp_v3_local_engine *authoritative, const snmp_v3_user *user);

/* Security processing of a received v3 message after snmp_ber_decode_snmp_message: checks the
 * security level, the authentication parameter, decrypts and decodes the scoped PDU into msg->pdu
 * (snmp_v3_check_message without an authoritative engine), and records the
 * sender's engine (snmp_v3_store_engine_info). A discovery message (empty engine ID) passes
 * unchecked. ctx is the caller's context and must be non-null. 0, SNMP_ERR_NULL,
 * SNMP_ERR_AUTH (authentication), SNMP_ERR_PRIV (privacy) or a scoped-PDU decode code. */
int32_t snmp_v3_process_security(const uint8_t *data, uint16_t len, snmp_message *msg, const void *ctx,
                                 const snmp_v3_user *user);

#ifdef __cplusplus
}
#endif

#endif
