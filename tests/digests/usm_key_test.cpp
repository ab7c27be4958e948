// Standard USM keys: the RFC 3414 A.3 known answers and the refusals (every digest's localised key and
// both key extensions against OpenSSL references are in usm_key_openssl_test.cpp).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "crypto/usm_key_vek.h"
#include "digest_test_util.h"
#include "usm_key_test_util.h"

namespace {

using digest_test::Bytes;
using digest_test::from_hex;
using digest_test::from_text;
using digest_test::to_hex;
using namespace usm_key_test;

TEST(UsmKeys, Rfc3414AppendixA3KnownAnswers) {
    struct Case {
        int32_t alg;
        const char *ku;
        const char *kul;
    };
    const Case cases[] = {
        {VEK_ALG_MD5, "9faf3283884e92834ebc9847d8edd963", "526f5eed9fcce26f8964c2930787d82b"},
        {VEK_ALG_SHA1, "9fb5cc0381497b3793528939ff788d5d79145211",
         "6695febc9288e36282235fc7151f128497b38f3f"},
    };
    for (const Case &c : cases) {
        const Bytes ku = our_ku(c.alg, from_text("maplesyrup"));
        EXPECT_EQ(to_hex(ku), c.ku) << "alg " << c.alg;
        EXPECT_EQ(to_hex(our_kul(c.alg, ku, kRfcEngineId)), c.kul) << "alg " << c.alg;
    }
    EXPECT_EQ(test_usm_key_standard_cases(), 0);
}

TEST(UsmKeys, RefusalsLeaveTheOutputAlone) {
    const Bytes pw = from_text("authpass");
    const Bytes ku(VEK_SHA1_DIGEST_SIZE, 0x11);
    const Bytes engine(VEK_USM_MAX_ENGINE_ID_LEN + 1, 0x80);
    Bytes out(VEK_USM_MAX_EXTENDED_KEY_SIZE + 1, 0xA5);
    uint32_t len = 0;
    struct Call {
        const char *what;
        int32_t rc;
        int32_t expected;
    };
    const Call calls[] = {
        {"p2k null password", vek_usm_password_to_key(VEK_ALG_SHA1, nullptr, 8, out.data(), &len), -1},
        {"p2k empty password", vek_usm_password_to_key(VEK_ALG_SHA1, pw.data(), 0, out.data(), &len), -1},
        {"p2k null out", vek_usm_password_to_key(VEK_ALG_SHA1, pw.data(), 8, nullptr, &len), -1},
        {"p2k null out length", vek_usm_password_to_key(VEK_ALG_SHA1, pw.data(), 8, out.data(), nullptr), -1},
        {"p2k cipher id", vek_usm_password_to_key(VEK_ALG_AES128_CFB, pw.data(), 8, out.data(), &len), -2},
        {"p2k unknown id", vek_usm_password_to_key(0, pw.data(), 8, out.data(), &len), -2},
        {"localize empty engine",
         vek_usm_localize_key(VEK_ALG_SHA1, ku.data(), 20, engine.data(), 0, out.data(), &len), -1},
        {"localize long engine",
         vek_usm_localize_key(VEK_ALG_SHA1, ku.data(), 20, engine.data(), 33, out.data(), &len), -1},
        {"localize null engine",
         vek_usm_localize_key(VEK_ALG_SHA1, ku.data(), 20, nullptr, 12, out.data(), &len), -1},
        {"localize null ku",
         vek_usm_localize_key(VEK_ALG_SHA1, nullptr, 20, engine.data(), 12, out.data(), &len), -1},
        {"localize MD5 key under SHA-1",
         vek_usm_localize_key(VEK_ALG_SHA1, ku.data(), 16, engine.data(), 12, out.data(), &len), -33},
        {"localize unknown id", vek_usm_localize_key(99, ku.data(), 20, engine.data(), 12, out.data(), &len),
         -2},
        {"hash extension want 0", vek_usm_extend_key_hash(VEK_ALG_SHA1, ku.data(), 20, out.data(), 0), -1},
        {"hash extension want 65", vek_usm_extend_key_hash(VEK_ALG_SHA1, ku.data(), 20, out.data(), 65), -1},
        {"hash extension null key", vek_usm_extend_key_hash(VEK_ALG_SHA1, nullptr, 20, out.data(), 32), -1},
        {"hash extension short key", vek_usm_extend_key_hash(VEK_ALG_SHA1, ku.data(), 19, out.data(), 32),
         -33},
        {"hash extension cipher id", vek_usm_extend_key_hash(VEK_ALG_DES_CBC, ku.data(), 20, out.data(), 32),
         -2},
        {"p2k extension long engine",
         vek_usm_extend_key_p2k(VEK_ALG_SHA1, ku.data(), 20, engine.data(), 33, out.data(), 32), -1},
        {"p2k extension null out",
         vek_usm_extend_key_p2k(VEK_ALG_SHA1, ku.data(), 20, engine.data(), 12, nullptr, 32), -1},
        {"p2k extension key of SHA-256 under SHA-1",
         vek_usm_extend_key_p2k(VEK_ALG_SHA1, ku.data(), 32, engine.data(), 12, out.data(), 32), -33},
    };
    for (const Call &c : calls) {
        EXPECT_EQ(c.rc, c.expected) << c.what;
    }
    EXPECT_EQ(out, Bytes(VEK_USM_MAX_EXTENDED_KEY_SIZE + 1, 0xA5));
    EXPECT_EQ(len, 0u);
}

}  // namespace
