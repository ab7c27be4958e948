/* SHA-256 and SHA-224 (FIPS 180) with incremental interfaces and the compression function.
 *
 * SHA-224 is SHA-256 with its own initial state, cut to 28 bytes; both use the same context.
 * Contexts are plain records owned by the caller; vek_sha256_final wipes the whole context after
 * writing the digest. Bad arguments make an operation do nothing.
 *
 * The compression runs on the processor's SHA instructions when it has them (chosen once at run
 * time) and on portable code otherwise; both give identical results. */
#ifndef VEK_CRYPTO_SHA256_VEK_H
#define VEK_CRYPTO_SHA256_VEK_H

#include <stdint.h>

#include "crypto/sha1_vek.h" /* VEK_SHA_BACKEND_* */

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_SHA256_DIGEST_SIZE 32u
#define VEK_SHA224_DIGEST_SIZE 28u
#define VEK_SHA256_BLOCK_SIZE 64u
#define VEK_SHA256_STATE_WORDS 8u

typedef struct vek_sha256_ctx {
    uint32_t count[2];                      /* message length in bytes, low word then high word */
    uint32_t state[VEK_SHA256_STATE_WORDS]; /* H0..H7 */
    uint8_t buffer[VEK_SHA256_BLOCK_SIZE];  /* bytes of the block not yet compressed */
} vek_sha256_ctx;

void vek_sha256_init(vek_sha256_ctx *ctx);
void vek_sha256_update(vek_sha256_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_sha256_final(vek_sha256_ctx *ctx, uint8_t digest[VEK_SHA256_DIGEST_SIZE]);

typedef vek_sha256_ctx vek_sha224_ctx;

void vek_sha224_init(vek_sha224_ctx *ctx);
void vek_sha224_update(vek_sha224_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_sha224_final(vek_sha224_ctx *ctx, uint8_t digest[VEK_SHA224_DIGEST_SIZE]);

/* The SHA-256 compression function over one 64-byte block (words read big-endian). */
void vek_sha256_compress(uint32_t state[VEK_SHA256_STATE_WORDS], const uint8_t block[VEK_SHA256_BLOCK_SIZE]);

/* Selects the compression back end of SHA-256 and SHA-224 (VEK_SHA_BACKEND_*); SHA-NI is taken
 * only when the processor has it. Returns the back end now in use. Meant for tests and measurements; the
 * default is the fastest one available. */
int vek_sha256_set_backend(int backend);
int vek_sha256_get_backend(void);

/* Self-test: the FIPS 180 examples of SHA-224 and the padding boundaries; logs at INFO, returns the
 * number of failed checks. */
int test_sha224_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
