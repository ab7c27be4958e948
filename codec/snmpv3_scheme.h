/* The two SNMPv3 security schemes a user can be in, each one table of algorithm descriptions.
 *
 * - The system's own scheme (SNMP_V3_SCHEME_VEK, authentication codes 1..4, privacy codes 1..5):
 *   keys are PBKDF2 over the password widened to UTF-16LE, salted with the engine ID, boots and time;
 *   privacy is CBC with PKCS#7 padding, and the random IV part travels as msgPrivacyParameters and
 *   in front of the cipher text.
 * - The standard User-based Security Model (SNMP_V3_SCHEME_STD, authentication codes 5..10, privacy
 *   codes 6..11): RFC 3414 password-to-key and localisation to the authoritative engine ID (keys do
 *   not follow engine boots), HMAC-MD5-96 and HMAC-SHA-96 (RFC 3414) and HMAC-SHA-2 (RFC 7860),
 *   DES-CBC with the RFC 3414 salt and pre-IV, AES-CFB-128 with IV = boots || time || 64-bit salt
 *   (RFC 3826), the salt travelling only as msgPrivacyParameters.
 *
 * A user is in one scheme (its authentication and privacy codes belong to the same one, or are
 * none). Each algorithm is one row: its lengths and its derive, authenticate, encrypt and decrypt
 * steps. A row is found by its code (the codes of the two schemes never overlap), and the codec and
 * both SDK cores work through the row, never by testing the scheme. */
#ifndef VEK_CODEC_SNMPV3_SCHEME_H
#define VEK_CODEC_SNMPV3_SCHEME_H

#include <stdint.h>

#include "codec/snmp_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SNMP_V3_SCHEME_VEK 0u
#define SNMP_V3_SCHEME_STD 1u

/* Standard authentication algorithms (auth_proto), above the system's own 1..4. */
#define SNMP_V3_AUTH_STD_MD5 5u    /* HMAC-MD5-96 */
#define SNMP_V3_AUTH_STD_SHA1 6u   /* HMAC-SHA-96 */
#define SNMP_V3_AUTH_STD_SHA224 7u /* HMAC-SHA-224, 16-byte parameter */
#define SNMP_V3_AUTH_STD_SHA256 8u /* HMAC-SHA-256, 24-byte parameter */
#define SNMP_V3_AUTH_STD_SHA384 9u /* HMAC-SHA-384, 32-byte parameter */
#define SNMP_V3_AUTH_STD_SHA512 10u /* HMAC-SHA-512, 48-byte parameter */
#define SNMP_V3_AUTH_CODE_MAX SNMP_V3_AUTH_STD_SHA512

/* Standard privacy algorithms (priv_proto), above the system's own 1..5. */
#define SNMP_V3_PRIV_STD_DES 6u     /* DES-CBC */
#define SNMP_V3_PRIV_STD_AES128 7u  /* AES-128-CFB */
#define SNMP_V3_PRIV_STD_AES192 8u  /* AES-192-CFB, key extended by the digest of the localised key */
#define SNMP_V3_PRIV_STD_AES256 9u  /* AES-256-CFB, likewise */
#define SNMP_V3_PRIV_STD_AES192C 10u /* AES-192-CFB, key extended by password-to-key of the localised key */
#define SNMP_V3_PRIV_STD_AES256C 11u /* AES-256-CFB, likewise */
#define SNMP_V3_PRIV_CODE_MAX SNMP_V3_PRIV_STD_AES256C

#define SNMP_V3_SALT_LEN 8u /* msgPrivacyParameters of every privacy algorithm that has one */

/* What a localised key is made from. */
typedef struct snmp_v3_key_source {
    const uint8_t *password;
    uint8_t password_len;
    const uint8_t *engine_id; /* the authoritative engine's ID, 1..32 bytes */
    uint16_t engine_id_len;
    uint32_t engine_boots; /* the system's own keys follow boots and time as well */
    uint32_t engine_time;
} snmp_v3_key_source;

typedef struct snmp_v3_auth_alg snmp_v3_auth_alg;
typedef struct snmp_v3_priv_alg snmp_v3_priv_alg;

/* One authentication algorithm. The functions return 1 on success, 0 on failure. */
struct snmp_v3_auth_alg {
    uint8_t proto;      /* auth_proto code */
    uint8_t scheme;     /* SNMP_V3_SCHEME_* */
    int32_t digest;     /* crypto facade digest id */
    uint16_t key_len;   /* localised key bytes */
    uint16_t param_len; /* msgAuthenticationParameters bytes */
    const char *name;   /* in logs */
    /* The localised key (key_len bytes) of src. */
    int32_t (*derive)(const snmp_v3_auth_alg *alg, const snmp_v3_key_source *src, uint8_t *key);
    /* The parameter (param_len bytes) of msg, whose parameter bytes are already zero. */
    int32_t (*authenticate)(const snmp_v3_auth_alg *alg, const uint8_t *key, uint16_t key_len, const uint8_t *msg,
                            uint16_t msg_len, uint8_t *param);
};

/* One privacy algorithm. The functions return 1 on success, 0 on failure. */
struct snmp_v3_priv_alg {
    uint8_t proto;     /* priv_proto code */
    uint8_t scheme;    /* SNMP_V3_SCHEME_* */
    int32_t cipher;    /* crypto facade cipher id */
    uint16_t key_len;  /* localised key bytes (a standard DES key carries its pre-IV behind the cipher key) */
    uint8_t iv_len;    /* cipher IV bytes */
    uint8_t block;     /* cipher block bytes */
    uint8_t salt_len;  /* msgPrivacyParameters bytes */
    const char *name;  /* in logs */
    /* The localised key (key_len bytes) of src; auth is the user's authentication algorithm (its
     * digest makes a standard privacy key). */
    int32_t (*derive)(const snmp_v3_priv_alg *alg, const snmp_v3_auth_alg *auth, const snmp_v3_key_source *src,
                      uint8_t *key);
    /* Fills priv_param / priv_param_len and full_iv / full_iv_len of an outgoing message from its
     * engine_boots and engine_time and a salt never used before under the same key. */
    int32_t (*make_iv)(const snmp_v3_priv_alg *alg, snmp_v3_usm *usm);
    /* Bytes of the encryptedPDU of plain_len plaintext bytes. */
    uint16_t (*encrypted_len)(const snmp_v3_priv_alg *alg, uint16_t plain_len);
    /* Writes the encryptedPDU (encrypted_len bytes) of plain to out; work holds the cipher text
     * first (work_len bytes of room), so out may overlap plain. */
    int32_t (*encrypt)(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *plain,
                       uint16_t plain_len, uint8_t *out, uint8_t *work, uint16_t work_len);
    /* The plaintext of an encryptedPDU of a received message (usm: its boots, time and privacy
     * parameter) into out; *out_len: capacity in, length out (a standard DES plaintext keeps its
     * padding, which the scoped PDU's own length leaves behind). */
    int32_t (*decrypt)(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *data,
                       uint16_t data_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len);
};

/* A scheme: its algorithms and the rule of its keys. */
typedef struct snmp_v3_scheme {
    uint8_t id;                /* SNMP_V3_SCHEME_* */
    const char *name;          /* "vek" or "std" */
    uint8_t keys_follow_boots; /* 1: keys are localised to the engine ID and its boots; 0: the ID only */
    const snmp_v3_auth_alg *auth;
    uint8_t auth_count;
    const snmp_v3_priv_alg *priv;
    uint8_t priv_count;
} snmp_v3_scheme;

/* The row of a code; null for none (0) or an unknown code. */
const snmp_v3_auth_alg *snmp_v3_auth_alg_of(uint8_t auth_proto);
const snmp_v3_priv_alg *snmp_v3_priv_alg_of(uint8_t priv_proto);
/* A scheme by its id (null for an unknown id). */
const snmp_v3_scheme *snmp_v3_scheme_by_id(uint8_t id);
/* The scheme of a user's algorithms: that of its authentication (else privacy) algorithm, the
 * system's own when it has neither. Null when a code is unknown, the two codes belong to different
 * schemes, or standard privacy is asked for without authentication (its key needs the digest). */
const snmp_v3_scheme *snmp_v3_scheme_of(uint8_t auth_proto, uint8_t priv_proto);

#ifdef __cplusplus
}
#endif

#endif /* VEK_CODEC_SNMPV3_SCHEME_H */
