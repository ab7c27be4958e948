/* Crypto facade: digests, HMAC and CBC ciphers selected by a numeric algorithm id, plus the SNMPv3
 * operations built on them (PBKDF2, localized key derivation, IV construction, the authentication
 * parameter and standalone message encryption). The standard USM keys are in crypto/usm_key_vek.h,
 * AES-CFB-128 in crypto/aes_vek.h.
 *
 * Every operation returns 0 on success and a negative code on failure (listed per operation);
 * nothing is allocated: all work areas are fixed and on the stack. */
#ifndef VEK_CRYPTO_CRYPTO_VEK_H
#define VEK_CRYPTO_CRYPTO_VEK_H

#include <stdint.h>

#include "crypto/md5_vek.h"
#include "crypto/sha1_vek.h"
#include "crypto/sha256_vek.h"
#include "crypto/sha512_vek.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Algorithm ids of the facade. The AES-CFB ids name the standard USM ciphers
 * (vek_aes_cfb128_encrypt / _decrypt); the CBC operations below refuse them. */
typedef enum vek_alg {
    VEK_ALG_MD5 = 1,
    VEK_ALG_SHA1 = 2,
    VEK_ALG_SHA256 = 3,
    VEK_ALG_AES128_CBC = 4,
    VEK_ALG_AES192_CBC = 5,
    VEK_ALG_AES256_CBC = 6,
    VEK_ALG_DES_CBC = 7,
    VEK_ALG_3DES_CBC = 8,
    VEK_ALG_SHA224 = 9,
    VEK_ALG_SHA384 = 10,
    VEK_ALG_SHA512 = 11,
    VEK_ALG_AES128_CFB = 12,
    VEK_ALG_AES192_CFB = 13,
    VEK_ALG_AES256_CFB = 14,
} vek_alg;

/* Capacities. */
#define VEK_HMAC_BLOCK_SIZE 64u      /* block of MD5, SHA-1, SHA-224 and SHA-256 (PBKDF2 uses these) */
#define VEK_MAX_HMAC_BLOCK_SIZE 128u /* block of SHA-384 and SHA-512 */
#define VEK_MAX_DIGEST_SIZE 64u
#define VEK_MAX_CIPHER_KEY_SIZE 32u
#define VEK_MAX_CIPHER_IV_SIZE 16u
#define VEK_CIPHER_SCRATCH_SIZE 2048u /* largest padded plaintext of vek_cipher_encrypt */
#define VEK_PBKDF2_MAX_OUTPUT 2048u   /* largest whole-block PBKDF2 output */
#define VEK_PBKDF2_MAX_SALT 64u
#define VEK_ENGINE_TIME_FIELDS_SIZE 8u /* BE32 boots and BE32 time behind the engine ID in a salt */
#define VEK_MAX_ENGINE_ID_LEN (VEK_PBKDF2_MAX_SALT - VEK_ENGINE_TIME_FIELDS_SIZE)
#define VEK_IV_FIXED_SIZE 8u          /* BE32 boots and BE32 time at the start of every IV */
#define VEK_SNMPV3_ENCRYPT_MIN_CAPACITY 2048u
#define VEK_AUTH_PARAM_TRUNCATED_SIZE 12u
#define VEK_AUTH_PARAM_FULL_SIZE 32u

/* Result codes shared by several operations (the others are listed per operation). */
#define VEK_OK 0
#define VEK_ERR_INVALID_PARAM (-1)
#define VEK_ERR_UNSUPPORTED_ALG (-2)
#define VEK_ERR_HMAC_FAILED (-20)
#define VEK_ERR_KEY_LENGTH (-33)
#define VEK_ERR_IV_LENGTH (-34)
#define VEK_ERR_BAD_PADDING (-52)

/* Digest context: the digest id, then storage for each digest (only the selected one is used;
 * SHA-224 uses the SHA-256 storage, SHA-384 the SHA-512 storage). */
typedef struct vek_hash_ctx {
    int32_t alg;
    vek_md5_ctx md5;
    vek_sha1_ctx sha1;
    vek_sha256_ctx sha256;
    vek_sha512_ctx sha512;
} vek_hash_ctx;

/* Cipher context, set by vek_cipher_init and read-only afterwards (the IV is not advanced). */
typedef struct vek_cipher_ctx {
    int32_t alg;
    uint8_t key[VEK_MAX_CIPHER_KEY_SIZE];
    uint8_t iv[VEK_MAX_CIPHER_IV_SIZE];
    uint32_t key_len;
    uint32_t iv_len;
} vek_cipher_ctx;

/* Digest operations accept MD5, SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512.
 * -1 null context, -2 not a digest id. */
int32_t vek_hash_init(vek_hash_ctx *ctx, int32_t alg);
/* -1 null context, null data or length 0; -2 unknown id. */
int32_t vek_hash_update(vek_hash_ctx *ctx, const uint8_t *data, uint32_t len);
/* Writes the digest (16 to 64 bytes, vek_hash_digest_size) to out. -1 null argument, -2 unknown id. */
int32_t vek_hash_final(vek_hash_ctx *ctx, uint8_t *out, uint32_t *out_len);

/* Output bytes and HMAC block bytes of a digest id; 0 for any other id. */
int32_t vek_hash_digest_size(int32_t alg);
int32_t vek_hash_block_size(int32_t alg);

/* HMAC (RFC 2104, with the digest's own block: 64 bytes, 128 for SHA-384 and SHA-512) of msg; out
 * receives the digest length (at most VEK_MAX_DIGEST_SIZE bytes).
 * -1 null out, out_len or key, or a null message with a non-zero length; -2 not a digest id;
 * -3..-11 a digest step failed (out_len set to 0). An empty message is accepted. */
int32_t vek_hmac(int32_t alg, const uint8_t *key, uint32_t key_len, const uint8_t *msg, uint32_t msg_len,
                 uint8_t *out, uint32_t *out_len);

/* -1 null argument, -2 id not 4..8, -33 key length not the id's, -34 IV length not the id's. */
int32_t vek_cipher_init(vek_cipher_ctx *ctx, int32_t alg, const uint8_t *key, uint32_t key_len, const uint8_t *iv,
                        uint32_t iv_len);
/* 16 for the AES ids, 8 for DES and 3DES, -1 otherwise. */
int32_t vek_cipher_block_size(int32_t alg);
/* CBC with PKCS#7 padding (1..block bytes). out must hold the padded length: len rounded up to
 * the next whole block above it (at most VEK_CIPHER_SCRATCH_SIZE). out may be the input itself.
 * -1 null argument or length 0, -2 unknown id, -3 padded length above 2048. */
int32_t vek_cipher_encrypt(const vek_cipher_ctx *ctx, const uint8_t *in, uint32_t len, uint8_t *out,
                           uint32_t *out_len);
/* CBC decryption and padding removal. out must hold len bytes; it may be the input itself.
 * -1 null argument or length 0, -2 unknown id, -4 length not a multiple of the block,
 * -52 bad padding (out is then cleared). */
int32_t vek_cipher_decrypt(const vek_cipher_ctx *ctx, const uint8_t *in, uint32_t len, uint8_t *out,
                           uint32_t *out_len);

/* The value with its bytes in big-endian (network) order. */
uint32_t vek_snmpv3_htonl(uint32_t value);

/* PBKDF2 (RFC 8018) with HMAC of digest alg (MD5, SHA-1 or SHA-256). -1 null password or out, null
 * salt with a non-zero length, zero iterations or key length 0; -2 id not 1..3; -3 derived blocks above 2048 bytes;
 * -4 salt above 64 bytes; -20 an HMAC failed. */
int32_t vek_snmpv3_pbkdf2(int32_t alg, const uint8_t *password, uint32_t password_len, const uint8_t *salt,
                          uint32_t salt_len, uint32_t iterations, uint8_t *out, uint32_t key_len);

/* Localized keys: PBKDF2 over the (UTF-16LE widened) password with the salt
 * engine ID || BE32(boots) || BE32(time). auth_proto: 1 MD5, 2 SHA-1, 3 and 4 SHA-256;
 * priv_proto: 1 DES, 2 AES-128, 3 AES-192, 4 AES-256, 5 3DES. key_len must be the protocol's.
 * -1 invalid input, -2 key length mismatch, -3 engine ID above 56 bytes, -4 unsupported protocol,
 * -5 PBKDF2 failed. */
int32_t vek_generate_auth_key(const uint8_t *password, uint32_t password_len, const uint8_t *engine_id,
                              uint32_t engine_id_len, uint32_t engine_boots, uint32_t engine_time,
                              int32_t auth_proto, uint8_t *key, uint32_t key_len);
int32_t vek_generate_priv_key(const uint8_t *password, uint32_t password_len, const uint8_t *engine_id,
                              uint32_t engine_id_len, uint32_t engine_boots, uint32_t engine_time,
                              int32_t priv_proto, uint8_t *key, uint32_t key_len);

/* IV = BE32(boots) || BE32(time), plus 8 random bytes for 16-byte blocks; iv must hold 16 bytes.
 * -1 null argument, -2 unknown cipher, -3 random source failed. */
int32_t vek_snmpv3_gen_iv(int32_t alg, uint8_t *iv, uint32_t *iv_len, uint32_t engine_boots, uint32_t engine_time);
/* Fills count random bytes; 1 on success, 0 on failure. alg is not used. */
int32_t vek_snmpv3_gen_iv_rand(int32_t alg, uint8_t *iv_rand_part, uint32_t rand_len);

/* Standalone message encryption: out = IV random part (8 bytes for AES, none for DES/3DES) ||
 * cipher text. *out_len is the capacity on entry (at least 2048 and enough for the output) and
 * the output length on return. reserved must be non-null and reserved_len non-zero; neither is
 * otherwise used. -1 null argument; -2 zero length, zero reserved_len or capacity below 2048;
 * -3 unknown cipher; -4 IV failure; -5 padded length above 2048 or output above the capacity;
 * -6 cipher set-up failed; -7 encryption failed. */
int32_t vek_snmpv3_encrypt(int32_t alg, const uint8_t *plain, uint32_t len, const uint8_t *key, uint32_t key_len,
                           const void *reserved, uint32_t reserved_len, uint32_t engine_boots,
                           uint32_t engine_time, uint8_t *out, uint32_t *out_len);
/* The inverse; out must hold len bytes. -1 null argument; -2 zero length or zero reserved_len;
 * -3 unknown cipher; -4 data shorter than the random part plus one block; -5 cipher set-up
 * failed; -6 decryption failed. */
int32_t vek_snmpv3_decrypt(int32_t alg, const uint8_t *data, uint32_t len, const uint8_t *key, uint32_t key_len,
                           const void *reserved, uint32_t reserved_len, uint32_t engine_boots,
                           uint32_t engine_time, uint8_t *out, uint32_t *out_len);

/* HMAC of the whole message, truncated to 12 bytes (auth_proto 1..3) or kept at 32 (auth_proto 4);
 * out_param must hold that many bytes. -1 null argument or zero length, -2 unsupported
 * algorithm, -3 digest shorter than the parameter, -4 digest length not the expected one,
 * -20 HMAC failed. */
int32_t vek_snmpv3_generate_auth_param(int32_t auth_proto, const uint8_t *key, uint32_t key_len, const uint8_t *msg,
                                       uint32_t msg_len, uint8_t *out_param);

/* Self-test: the RFC 4231 HMAC-SHA-224, -384 and -512 vectors through vek_hmac; logs at INFO,
 * returns the number of failed checks. */
int test_vek_hmac_sha2_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
