/* DES (FIPS 46-3) and triple DES (EDE, NIST SP 800-67) on 64-bit blocks, in ECB and CBC mode
 * without padding.
 *
 * Keys: DES 8 bytes (parity bits ignored); triple DES 24 bytes, K1 = bytes 0..7, K2 = 8..15,
 * K3 = 16..23. Lengths are non-zero multiples of 8; the IV is never modified. Bad arguments are
 * logged at ERROR and the operation then leaves its output untouched. Every operation may write
 * its output over its input (in-place use), including the CBC decryptions. */
#ifndef VEK_CRYPTO_DES_VEK_H
#define VEK_CRYPTO_DES_VEK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VEK_DES_BLOCK_SIZE 8u
#define VEK_DES_KEY_SIZE 8u
#define VEK_DES3_KEY_SIZE 24u

/* 8 bytes read as one big-endian 64-bit value; 0 for a null pointer. */
uint64_t bytes_to_uint64(const uint8_t *b);

void vek_des_encrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out);
void vek_des_decrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out);
void vek_des3_encrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out);
void vek_des3_decrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out);

/* ECB: note the argument order (key, input, length, output). */
void vek_des_ecb_encrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out);
void vek_des_ecb_decrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out);
void vek_des3_ecb_encrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out);
void vek_des3_ecb_decrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out);

/* CBC: (key, IV, input, output, length). */
void vek_des_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                         uint32_t len);
void vek_des_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                         uint32_t len);
void vek_des3_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                          uint32_t len);
void vek_des3_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                          uint32_t len);

/* Self-test against published known answers and round trips; logs at INFO and returns the number
 * of failed checks. */
int test_vek_des_standard_cases(void);

#ifdef __cplusplus
}
#endif

#endif
