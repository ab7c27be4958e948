// SHA-512 and SHA-384 (FIPS 180). Not implemented yet: every operation does nothing.
#include "crypto/sha512_vek.h"

extern "C" {

void vek_sha512_init(vek_sha512_ctx *) {}
void vek_sha512_update(vek_sha512_ctx *, const uint8_t *, uint32_t) {}
void vek_sha512_final(vek_sha512_ctx *, uint8_t *) {}
void vek_sha384_init(vek_sha384_ctx *) {}
void vek_sha384_update(vek_sha384_ctx *, const uint8_t *, uint32_t) {}
void vek_sha384_final(vek_sha384_ctx *, uint8_t *) {}
void vek_sha512_compress(uint64_t *, const uint8_t *) {}
int test_sha512_standard_cases(void) { return 1; }

}  // extern "C"
