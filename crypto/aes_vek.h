/* AES block cipher (FIPS 197) with 128, 192 and 256-bit keys, CBC mode without padding, and CFB
 * mode with 128-bit feedback (NIST SP 800-38A), as the standard USM privacy uses it (RFC 3826).
 *
 * CBC callers supply whole 16-byte blocks; CFB takes any length. The IV is never modified. Bad arguments are logged at ERROR
 * and the operation then leaves its output untouched. Every operation may write its output over its
 * input (in-place use), including the CBC decryptions. */
#ifndef VEK_CRYPTO_AES_VEK_H
#define VEK_CRYPTO_AES_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_AES_BLOCK_SIZE 16u
#define VEK_AES128_KEY_SIZE 16u
#define VEK_AES192_KEY_SIZE 24u
#define VEK_AES256_KEY_SIZE 32u

/* One block; key_len is 16, 24 or 32 bytes. */
void vek_aes_encrypt_block(const uint8_t *key, uint32_t key_len, const uint8_t in[16], uint8_t out[16]);
void vek_aes_decrypt_block(const uint8_t *key, uint32_t key_len, const uint8_t in[16], uint8_t out[16]);

/* CBC over len bytes (a multiple of 16; 0 does nothing). vek_aes128_cbc_encrypt also writes a
 * byte-level trace of its work to standard output when the log level is DEBUG (the key and the
 * plaintext appear there masked as "***"). */
void vek_aes128_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);
void vek_aes192_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);
void vek_aes256_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);
void vek_aes128_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);
void vek_aes192_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);
void vek_aes256_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len);

/* CFB-128 over len bytes of any length (no padding; 0 does nothing); key_len is 16, 24 or 32.
 * Bad arguments are logged at ERROR ("[AES-CFB128加密] 参数无效" / "[AES-CFB128解密] 参数无效") and
 * the output is left untouched. */
void vek_aes_cfb128_encrypt(const uint8_t *key, uint32_t key_len, const uint8_t iv[16], const uint8_t *in,
                            uint8_t *out, uint32_t len);
void vek_aes_cfb128_decrypt(const uint8_t *key, uint32_t key_len, const uint8_t iv[16], const uint8_t *in,
                            uint8_t *out, uint32_t len);

/* Selects the code path of every AES operation: non-zero asks for the processor's AES instructions
 * (used only when the processor has them), zero forces the portable table code. Both give identical
 * results; the default is the AES instructions when available. Returns 1 when the AES instructions
 * are in use after the call, else 0. */
int vek_aes_set_hw_accel(int enable);

/* Self-tests against published vectors; print their results to standard output and return the
 * number of failed checks. */
int test_raw_aes_ecb_standard_vectors(void);
int test_aes_with_standard_vectors(void);
int test_aes_cfb_standard_vectors(void);

#ifdef __cplusplus
}
#endif

#endif
