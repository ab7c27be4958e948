/* SHA-512 and SHA-384 (FIPS 180) with incremental interfaces and the compression function.
 *
 * SHA-384 is SHA-512 with its own initial state, cut to 48 bytes; both use the same context.
 * Contexts are plain records owned by the caller; the final operations wipe the whole context after
 * writing the digest. Bad arguments make an operation do nothing. */
#ifndef VEK_CRYPTO_SHA512_VEK_H
#define VEK_CRYPTO_SHA512_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_SHA512_DIGEST_SIZE 64u
#define VEK_SHA384_DIGEST_SIZE 48u
#define VEK_SHA512_BLOCK_SIZE 128u
#define VEK_SHA512_STATE_WORDS 8u

typedef struct vek_sha512_ctx {
    uint64_t count[2];                      /* message length in bytes, low word then high word */
    uint64_t state[VEK_SHA512_STATE_WORDS]; /* H0..H7 */
    uint8_t buffer[VEK_SHA512_BLOCK_SIZE];  /* bytes of the block not yet compressed */
} vek_sha512_ctx;

typedef vek_sha512_ctx vek_sha384_ctx;

void vek_sha512_init(vek_sha512_ctx *ctx);
void vek_sha512_update(vek_sha512_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_sha512_final(vek_sha512_ctx *ctx, uint8_t digest[VEK_SHA512_DIGEST_SIZE]);

void vek_sha384_init(vek_sha384_ctx *ctx);
void vek_sha384_update(vek_sha384_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_sha384_final(vek_sha384_ctx *ctx, uint8_t digest[VEK_SHA384_DIGEST_SIZE]);

/* The SHA-512 compression function over one 128-byte block (words read big-endian). */
void vek_sha512_compress(uint64_t state[VEK_SHA512_STATE_WORDS], const uint8_t block[VEK_SHA512_BLOCK_SIZE]);

/* Self-test: the FIPS 180 examples of SHA-384 and SHA-512 and the padding boundaries; logs at
 * INFO, returns the number of failed checks. */
int test_sha512_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
