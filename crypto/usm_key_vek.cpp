// Standard USM keys. Not implemented yet: every operation refuses.
#include "crypto/usm_key_vek.h"

extern "C" {

int32_t vek_usm_password_to_key(int32_t, const uint8_t *, uint32_t, uint8_t *, uint32_t *) {
    return VEK_ERR_UNSUPPORTED_ALG;
}

int32_t vek_usm_localize_key(int32_t, const uint8_t *, uint32_t, const uint8_t *, uint32_t, uint8_t *,
                             uint32_t *) {
    return VEK_ERR_UNSUPPORTED_ALG;
}

int32_t vek_usm_extend_key_hash(int32_t, const uint8_t *, uint32_t, uint8_t *, uint32_t) {
    return VEK_ERR_UNSUPPORTED_ALG;
}

int32_t vek_usm_extend_key_p2k(int32_t, const uint8_t *, uint32_t, const uint8_t *, uint32_t, uint8_t *,
                               uint32_t) {
    return VEK_ERR_UNSUPPORTED_ALG;
}

int test_usm_key_standard_cases(void) { return 1; }

}  // extern "C"
