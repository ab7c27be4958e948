/* MD5 (RFC 1321) with an incremental interface, a one-shot digest and HMAC-MD5 (RFC 2104).
 *
 * Contexts are plain records owned by the caller; vek_md5_final wipes the whole context after
 * writing the digest. Bad arguments make an operation do nothing. */
#ifndef VEK_CRYPTO_MD5_VEK_H
#define VEK_CRYPTO_MD5_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_MD5_DIGEST_SIZE 16u
#define VEK_MD5_BLOCK_SIZE 64u
#define VEK_MD5_STATE_WORDS 4u

typedef struct vek_md5_ctx {
    uint32_t state[VEK_MD5_STATE_WORDS]; /* A, B, C, D */
    uint32_t count[2];                   /* message length in bits, low word then high word */
    uint8_t buffer[VEK_MD5_BLOCK_SIZE];  /* bytes of the block not yet compressed */
} vek_md5_ctx;

void vek_md5_init(vek_md5_ctx *ctx);
void vek_md5_update(vek_md5_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_md5_final(vek_md5_ctx *ctx, uint8_t digest[VEK_MD5_DIGEST_SIZE]);

/* The MD5 compression function over one 64-byte block (words read little-endian). */
void vek_md5_compress(uint32_t state[VEK_MD5_STATE_WORDS], const uint8_t block[VEK_MD5_BLOCK_SIZE]);

/* One-shot MD5; does nothing if data or digest is null. */
void vek_md5(const uint8_t *data, uint32_t len, uint8_t digest[VEK_MD5_DIGEST_SIZE]);

/* HMAC-MD5; does nothing unless key, data and out are non-null and both lengths are non-zero. */
void vek_hmac_md5(const uint8_t *key, uint16_t key_len, const uint8_t *data, uint16_t data_len,
                  uint8_t out[VEK_MD5_DIGEST_SIZE]);

/* Self-test: the RFC 1321 test suite and a piecewise update; logs at INFO, returns the number of
 * failed checks. */
int test_vek_md5_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
