/* SHA-1 (FIPS 180 / RFC 3174) with an incremental interface, a one-shot digest, HMAC-SHA-1
 * (RFC 2104) and the compression function.
 *
 * Contexts are plain records owned by the caller; vek_sha1_final wipes the whole context after
 * writing the digest. Bad arguments make an operation do nothing.
 *
 * The compression runs on the processor's SHA instructions when it has them (chosen once at run
 * time) and on portable code otherwise; both give identical results. */
#ifndef VEK_CRYPTO_SHA1_VEK_H
#define VEK_CRYPTO_SHA1_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_SHA1_DIGEST_SIZE 20u
#define VEK_SHA1_BLOCK_SIZE 64u
#define VEK_SHA1_STATE_WORDS 5u

/* Compression back ends of SHA-1 and SHA-256. */
#define VEK_SHA_BACKEND_PORTABLE 0
#define VEK_SHA_BACKEND_SHA_NI 1

typedef struct vek_sha1_ctx {
    uint32_t count[2];                    /* message length in bytes, low word then high word */
    uint32_t state[VEK_SHA1_STATE_WORDS]; /* H0..H4 */
    uint8_t buffer[VEK_SHA1_BLOCK_SIZE];  /* bytes of the block not yet compressed */
} vek_sha1_ctx;

void vek_sha1_init(vek_sha1_ctx *ctx);
void vek_sha1_update(vek_sha1_ctx *ctx, const uint8_t *data, uint32_t len);
void vek_sha1_final(vek_sha1_ctx *ctx, uint8_t digest[VEK_SHA1_DIGEST_SIZE]);

/* One-shot SHA-1; does nothing if digest is null (null data hashes as the empty message). */
void sha1(const uint8_t *data, uint32_t len, uint8_t digest[VEK_SHA1_DIGEST_SIZE]);

/* HMAC-SHA-1; does nothing if data or out is null (or key is null with a non-zero length); a
 * zero-length key is allowed. */
void hmac_sha1(const uint8_t *key, uint32_t key_len, const uint8_t *data, uint32_t data_len,
               uint8_t out[VEK_SHA1_DIGEST_SIZE]);

/* The SHA-1 compression function over one 64-byte block (words read big-endian). */
void sha1_compress(uint32_t state[VEK_SHA1_STATE_WORDS], const uint8_t block[VEK_SHA1_BLOCK_SIZE]);

/* 1 when the processor offers the SHA instructions (with SSSE3 and SSE4.1), else 0. */
int vek_cpu_has_sha_ni(void);

/* Selects the SHA-1 compression back end (VEK_SHA_BACKEND_*); SHA-NI is taken only when the
 * processor has it. Returns the back end now in use. Meant for tests and measurements; the
 * default is the fastest one available. */
int vek_sha1_set_backend(int backend);
int vek_sha1_get_backend(void);

/* Self-test: RFC 3174 vectors, RFC 2202 HMAC-SHA-1 vectors and the padding boundaries; logs at
 * INFO, returns the number of failed checks. */
int test_sha1_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
