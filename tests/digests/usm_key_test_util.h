// Helpers shared by the USM key tests (usm_key_test.cpp, usm_key_openssl_test.cpp): our password to
// key and localisation, and the engine ID of RFC 3414's appendix A.3.
#pragma once

#include <cstdint>

#include "crypto/usm_key_vek.h"
#include "digest_test_util.h"

namespace usm_key_test {

using digest_test::Bytes;
using digest_test::from_hex;

inline const Bytes kRfcEngineId = from_hex("000000000000000000000002");

inline Bytes our_ku(int32_t alg, const Bytes &password) {
    Bytes ku(VEK_MAX_DIGEST_SIZE);
    uint32_t len = 0;
    EXPECT_EQ(vek_usm_password_to_key(alg, password.data(), static_cast<uint32_t>(password.size()), ku.data(),
                                      &len),
              VEK_OK);
    ku.resize(len);
    return ku;
}

inline Bytes our_kul(int32_t alg, const Bytes &ku, const Bytes &engine_id) {
    Bytes kul(VEK_MAX_DIGEST_SIZE);
    uint32_t len = 0;
    EXPECT_EQ(vek_usm_localize_key(alg, ku.data(), static_cast<uint32_t>(ku.size()), engine_id.data(),
                                   static_cast<uint32_t>(engine_id.size()), kul.data(), &len),
              VEK_OK);
    kul.resize(len);
    return kul;
}

}  // namespace usm_key_test
