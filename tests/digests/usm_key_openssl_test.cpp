// Standard USM keys against references computed with OpenSSL's libcrypto in the test: every digest's
// localised key and both key extensions. Linux only: there is no OpenSSL for the Windows build.
#include <gtest/gtest.h>
#include <openssl/evp.h>

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

struct Digest {
    int32_t alg;
    const EVP_MD *(*md)();
};

const std::array<Digest, 6> kDigests = {{{VEK_ALG_MD5, EVP_md5},
                                         {VEK_ALG_SHA1, EVP_sha1},
                                         {VEK_ALG_SHA224, EVP_sha224},
                                         {VEK_ALG_SHA256, EVP_sha256},
                                         {VEK_ALG_SHA384, EVP_sha384},
                                         {VEK_ALG_SHA512, EVP_sha512}}};

// ---- References: the RFC 3414 A.2 steps written out plainly over OpenSSL's digests ----

Bytes openssl_digest(const Digest &d, const Bytes &data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, d.md(), nullptr), 1);
    out.resize(len);
    return out;
}

Bytes reference_ku(const Digest &d, const Bytes &password) {
    Bytes expansion(VEK_USM_KEY_EXPANSION_SIZE);
    for (size_t i = 0; i < expansion.size(); ++i) {
        expansion[i] = password[i % password.size()];
    }
    return openssl_digest(d, expansion);
}

Bytes reference_kul(const Digest &d, const Bytes &ku, const Bytes &engine_id) {
    Bytes data = ku;
    data.insert(data.end(), engine_id.begin(), engine_id.end());
    data.insert(data.end(), ku.begin(), ku.end());
    return openssl_digest(d, data);
}

Bytes reference_extend_hash(const Digest &d, const Bytes &kul, size_t want) {
    Bytes key = kul;
    while (key.size() < want) {
        const Bytes piece = openssl_digest(d, key);
        key.insert(key.end(), piece.begin(), piece.end());
    }
    key.resize(want);
    return key;
}

Bytes reference_extend_p2k(const Digest &d, const Bytes &kul, const Bytes &engine_id, size_t want) {
    Bytes key = kul;
    Bytes piece = kul;
    while (key.size() < want) {
        piece = reference_kul(d, reference_ku(d, piece), engine_id);
        key.insert(key.end(), piece.begin(), piece.end());
    }
    key.resize(want);
    return key;
}

// Password lengths around the expansion's pieces: one byte, a divisor of the piece, the RFC's
// password, a length that divides neither the piece nor the expansion, exactly one piece and more
// than one piece. Engine IDs of the shortest, a common and the longest length.
TEST(UsmKeys, EveryDigestMatchesAnOpenSslReference) {
    const std::vector<Bytes> passwords = {from_text("x"),  from_text("authpass"), from_text("maplesyrup"),
                                          Bytes(31, 0xC3), Bytes(4096, 0x5A),     Bytes(5000, 0x17)};
    const std::vector<Bytes> engine_ids = {Bytes(1, 0x80), kRfcEngineId,
                                           Bytes(VEK_USM_MAX_ENGINE_ID_LEN, 0xE1)};
    for (const Digest &d : kDigests) {
        for (size_t p = 0; p < passwords.size(); ++p) {
            SCOPED_TRACE("alg " + std::to_string(d.alg) + ", password length " +
                         std::to_string(passwords[p].size()));
            const Bytes ku = our_ku(d.alg, passwords[p]);
            ASSERT_EQ(to_hex(ku), to_hex(reference_ku(d, passwords[p])));
            const Bytes &engine_id = engine_ids[p % engine_ids.size()];
            EXPECT_EQ(to_hex(our_kul(d.alg, ku, engine_id)), to_hex(reference_kul(d, ku, engine_id)));
        }
        // Localising in place (kul over ku).
        Bytes key = our_ku(d.alg, from_text("maplesyrup"));
        const Bytes expected = reference_kul(d, key, kRfcEngineId);
        uint32_t len = 0;
        ASSERT_EQ(
            vek_usm_localize_key(d.alg, key.data(), static_cast<uint32_t>(key.size()), kRfcEngineId.data(),
                                 static_cast<uint32_t>(kRfcEngineId.size()), key.data(), &len),
            VEK_OK);
        EXPECT_EQ(to_hex(key.data(), len), to_hex(expected)) << "alg " << d.alg;
    }
}

// AES-128 needs no extension (16 bytes), AES-192 and AES-256 need 24 and 32; 64 bytes take several
// pieces for every digest but SHA-512.
TEST(UsmKeys, BothKeyExtensionsMatchOpenSslReferences) {
    const Bytes engine_id = from_hex("8000000001020304");
    for (const Digest &d : kDigests) {
        const Bytes kul = reference_kul(d, reference_ku(d, from_text("privpass123")), engine_id);
        for (uint32_t want : {16u, 24u, 32u, 64u}) {
            SCOPED_TRACE("alg " + std::to_string(d.alg) + ", want " + std::to_string(want));
            Bytes out(want + 1, 0xA5);  // one byte more: nothing may be written past want
            ASSERT_EQ(vek_usm_extend_key_hash(d.alg, kul.data(), static_cast<uint32_t>(kul.size()),
                                              out.data(), want),
                      VEK_OK);
            EXPECT_EQ(out[want], 0xA5);
            out.resize(want);
            EXPECT_EQ(to_hex(out), to_hex(reference_extend_hash(d, kul, want)));
            out.assign(want + 1, 0xA5);
            ASSERT_EQ(
                vek_usm_extend_key_p2k(d.alg, kul.data(), static_cast<uint32_t>(kul.size()), engine_id.data(),
                                       static_cast<uint32_t>(engine_id.size()), out.data(), want),
                VEK_OK);
            EXPECT_EQ(out[want], 0xA5);
            out.resize(want);
            EXPECT_EQ(to_hex(out), to_hex(reference_extend_p2k(d, kul, engine_id, want)));
        }
    }
}

}  // namespace
