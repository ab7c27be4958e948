/* Keys of the standard User-based Security Model: password to key and key localisation
 * (RFC 3414 A.2), over any digest of the facade, and the two ways of extending a localised key for
 * the longer AES keys found in the field.
 *
 * hash_alg is a digest id of crypto/crypto_vek.h (MD5, SHA-1, SHA-224, SHA-256, SHA-384, SHA-512).
 * Results are VEK_OK or a negative VEK_ERR_* code: -1 (VEK_ERR_INVALID_PARAM) a null pointer or a
 * length out of range, -2 (VEK_ERR_UNSUPPORTED_ALG) not a digest id, -33 (VEK_ERR_KEY_LENGTH) a key
 * whose length is not the digest's. Nothing is allocated, and every intermediate key is wiped. */
#ifndef VEK_CRYPTO_USM_KEY_VEK_H
#define VEK_CRYPTO_USM_KEY_VEK_H

#include <stdint.h>

#include "crypto/crypto_vek.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_USM_KEY_EXPANSION_SIZE 1048576u /* bytes of repeated password hashed into Ku */
#define VEK_USM_MIN_ENGINE_ID_LEN 1u
#define VEK_USM_MAX_ENGINE_ID_LEN 32u
#define VEK_USM_MAX_EXTENDED_KEY_SIZE 64u   /* largest `want` of the key extensions */

/* Ku = H(the password repeated to 1,048,576 bytes). password_len >= 1; ku receives the digest
 * (vek_hash_digest_size(hash_alg) bytes) and *ku_len its length. */
int32_t vek_usm_password_to_key(int32_t hash_alg, const uint8_t *password, uint32_t password_len, uint8_t *ku,
                                uint32_t *ku_len);

/* Kul = H(Ku || engineID || Ku). ku_len is the digest's length, engine_id_len 1..32; kul receives
 * the digest and *kul_len its length. kul may be ku itself. */
int32_t vek_usm_localize_key(int32_t hash_alg, const uint8_t *ku, uint32_t ku_len, const uint8_t *engine_id,
                             uint32_t engine_id_len, uint8_t *kul, uint32_t *kul_len);

/* The extension most managers use for AES-192 / AES-256: out = Kul || H(Kul) || ..., each further
 * piece the digest of everything before it, cut to `want` bytes (1..64). kul_len is the digest's
 * length. */
int32_t vek_usm_extend_key_hash(int32_t hash_alg, const uint8_t *kul, uint32_t kul_len, uint8_t *out,
                                uint32_t want);

/* The extension of AES-192-C / AES-256-C (and of 3DES-EDE): out = K1 || K2 || ..., K1 = Kul and
 * each next piece localize(password_to_key(previous piece)) for the same engine ID, cut to `want`
 * bytes (1..64). kul_len is the digest's length, engine_id_len 1..32. */
int32_t vek_usm_extend_key_p2k(int32_t hash_alg, const uint8_t *kul, uint32_t kul_len, const uint8_t *engine_id,
                               uint32_t engine_id_len, uint8_t *out, uint32_t want);

/* Self-test: the RFC 3414 A.3 keys (password "maplesyrup", engine ID 00..02) for MD5 and SHA-1,
 * Ku and Kul; logs at INFO, returns the number of failed checks. */
int test_usm_key_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
