// The crypto facade against OpenSSL's libcrypto as the reference: HMAC over every digest, cipher
// padding lengths and round trips, PBKDF2, the localized keys and the authentication parameter's
// truncation. Linux only: there is no OpenSSL for the Windows build.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/agent_log.h"
#include "crypto/aes_vek.h"
#include "crypto/crypto_vek.h"
#include "digest_test_util.h"
#include "facade_test_util.h"

namespace {

using digest_test::Bytes;
using digest_test::from_hex;
using digest_test::from_text;
using digest_test::to_hex;
using testing::HasSubstr;
using namespace facade_test;

// OpenSSL's matching cipher, or null where the default provider has none (single DES).
const EVP_CIPHER *openssl_cipher(int32_t alg) {
    switch (alg) {
        case VEK_ALG_AES128_CBC: return EVP_aes_128_cbc();
        case VEK_ALG_AES192_CBC: return EVP_aes_192_cbc();
        case VEK_ALG_AES256_CBC: return EVP_aes_256_cbc();
        case VEK_ALG_3DES_CBC: return EVP_des_ede3_cbc();
        default: return nullptr;
    }
}

Bytes openssl_encrypt(const EVP_CIPHER *cipher, const Bytes &key, const Bytes &iv, const Bytes &plain) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    Bytes out(plain.size() + 32);
    int len1 = 0;
    int len2 = 0;
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(ctx, out.data(), &len1, plain.data(), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + len1, &len2);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(len1 + len2));
    return out;
}

Bytes openssl_hmac(const EVP_MD *md, const Bytes &key, const Bytes &msg) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned len = 0;
    HMAC(md, key.data(), static_cast<int>(key.size()), msg.data(), msg.size(), out.data(), &len);
    out.resize(len);
    return out;
}

Bytes openssl_pbkdf2(const EVP_MD *md, const Bytes &password, const Bytes &salt, int iterations, size_t len) {
    Bytes out(len);
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(password.data()), static_cast<int>(password.size()),
                      salt.data(), static_cast<int>(salt.size()), iterations, md, static_cast<int>(len), out.data());
    return out;
}

TEST(CryptoFacadeHmac, ArgumentChecksAndEmptyMessage) {
    const Bytes key = from_text("key");
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
    uint32_t out_len = 99;
    EXPECT_EQ(vek_hmac(VEK_ALG_SHA1, key.data(), 3, key.data(), 3, nullptr, &out_len), -1);
    EXPECT_EQ(vek_hmac(VEK_ALG_SHA1, key.data(), 3, key.data(), 3, out.data(), nullptr), -1);
    EXPECT_EQ(vek_hmac(VEK_ALG_SHA1, nullptr, 3, key.data(), 3, out.data(), &out_len), -1);
    EXPECT_EQ(vek_hmac(VEK_ALG_SHA1, key.data(), 3, nullptr, 3, out.data(), &out_len), -1);
    EXPECT_EQ(vek_hmac(0, key.data(), 3, key.data(), 3, out.data(), &out_len), -2);
    EXPECT_EQ(vek_hmac(VEK_ALG_3DES_CBC, key.data(), 3, key.data(), 3, out.data(), &out_len), -2);

    const struct {
        int32_t alg;
        const EVP_MD *md;
    } digests[] = {{VEK_ALG_MD5, EVP_md5()},       {VEK_ALG_SHA1, EVP_sha1()},
                   {VEK_ALG_SHA224, EVP_sha224()}, {VEK_ALG_SHA256, EVP_sha256()},
                   {VEK_ALG_SHA384, EVP_sha384()}, {VEK_ALG_SHA512, EVP_sha512()}};
    for (const auto &d : digests) {
        ASSERT_EQ(vek_hmac(d.alg, key.data(), 3, nullptr, 0, out.data(), &out_len), 0);
        EXPECT_EQ(to_hex(out.data(), out_len), to_hex(openssl_hmac(d.md, key, {})));
        ASSERT_EQ(vek_hmac(d.alg, key.data(), 0, key.data(), 3, out.data(), &out_len), 0);
        EXPECT_EQ(to_hex(out.data(), out_len), to_hex(openssl_hmac(d.md, {}, key))) << "zero-length key";
    }
}

TEST(CryptoFacadeCipher, PaddingLengthsAndLimit) {
    vek_cipher_ctx aes;
    vek_cipher_ctx des;
    const Bytes key(24, 0x5A);
    const Bytes iv(16, 0xA5);
    ASSERT_EQ(vek_cipher_init(&aes, VEK_ALG_AES128_CBC, key.data(), 16, iv.data(), 16), 0);
    ASSERT_EQ(vek_cipher_init(&des, VEK_ALG_DES_CBC, key.data(), 8, iv.data(), 8), 0);
    Bytes plain(VEK_CIPHER_SCRATCH_SIZE + 16, 0x33);
    Bytes out(VEK_CIPHER_SCRATCH_SIZE + 32, 0);
    uint32_t out_len = 0;

    ASSERT_EQ(vek_cipher_encrypt(&aes, plain.data(), 32, out.data(), &out_len), 0);
    EXPECT_EQ(out_len, 48u) << "a whole block of padding when the length is a multiple";
    const Bytes expected = openssl_encrypt(EVP_aes_128_cbc(), Bytes(key.begin(), key.begin() + 16), iv,
                                           Bytes(plain.begin(), plain.begin() + 32));
    EXPECT_EQ(to_hex(out.data(), out_len), to_hex(expected));

    ASSERT_EQ(vek_cipher_encrypt(&aes, plain.data(), 2047, out.data(), &out_len), 0);
    EXPECT_EQ(out_len, 2048u);
    EXPECT_EQ(vek_cipher_encrypt(&aes, plain.data(), 2048, out.data(), &out_len), -3);
    ASSERT_EQ(vek_cipher_encrypt(&des, plain.data(), 2047, out.data(), &out_len), 0);
    EXPECT_EQ(out_len, 2048u);
    EXPECT_EQ(vek_cipher_encrypt(&des, plain.data(), 2048, out.data(), &out_len), -3);
    EXPECT_EQ(vek_cipher_encrypt(&des, plain.data(), 0, out.data(), &out_len), -1);
    EXPECT_EQ(vek_cipher_encrypt(nullptr, plain.data(), 8, out.data(), &out_len), -1);
    vek_cipher_ctx bad = aes;
    bad.alg = VEK_ALG_MD5;
    EXPECT_EQ(vek_cipher_encrypt(&bad, plain.data(), 8, out.data(), &out_len), -2);
    EXPECT_EQ(vek_cipher_decrypt(&bad, out.data(), 16, plain.data(), &out_len), -2);
}

TEST(CryptoFacadeCipher, RandomRoundTripsForEveryCipher) {
    std::mt19937 rng(7);
    auto random_bytes = [&](size_t n) {
        Bytes b(n);
        for (auto &x : b) {
            x = static_cast<uint8_t>(rng());
        }
        return b;
    };
    constexpr int kCasesPerCipher = 60;
    for (int32_t alg : kCipherIds) {
        for (int i = 0; i < kCasesPerCipher; ++i) {
            const size_t len = 1 + rng() % (VEK_CIPHER_SCRATCH_SIZE - 1);
            const Bytes key = random_bytes(key_size(alg));
            const Bytes iv = random_bytes(block_size(alg));
            const Bytes plain = random_bytes(len);
            vek_cipher_ctx ctx;
            ASSERT_EQ(vek_cipher_init(&ctx, alg, key.data(), key_size(alg), iv.data(), block_size(alg)), 0);
            Bytes cipher(VEK_CIPHER_SCRATCH_SIZE);
            uint32_t cipher_len = 0;
            ASSERT_EQ(vek_cipher_encrypt(&ctx, plain.data(), static_cast<uint32_t>(len), cipher.data(), &cipher_len),
                      0);
            const uint32_t block = block_size(alg);
            ASSERT_EQ(cipher_len, (len / block + 1) * block);
            cipher.resize(cipher_len);
            if (const EVP_CIPHER *reference = openssl_cipher(alg)) {
                ASSERT_EQ(to_hex(cipher), to_hex(openssl_encrypt(reference, key, iv, plain))) << "alg " << alg;
            }
            // Decrypt in place: out is the cipher text's own buffer.
            Bytes work = cipher;
            uint32_t plain_len = 0;
            ASSERT_EQ(vek_cipher_decrypt(&ctx, work.data(), cipher_len, work.data(), &plain_len), 0);
            ASSERT_EQ(plain_len, len);
            work.resize(plain_len);
            ASSERT_EQ(work, plain) << "alg " << alg << " len " << len;
        }
    }
}

TEST(CryptoFacadePbkdf2, ArgumentsAndLimits) {
    const Bytes pass = from_text("password");
    const Bytes salt(VEK_PBKDF2_MAX_SALT + 1, 0x5A);
    Bytes out(VEK_PBKDF2_MAX_OUTPUT + 1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, nullptr, 8, salt.data(), 4, 2, out.data(), 20), -1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 4, 2, nullptr, 20), -1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 4, 2, out.data(), 0), -1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 4, 0, out.data(), 20), -1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, nullptr, 4, 2, out.data(), 20), -1);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_AES128_CBC, pass.data(), 8, salt.data(), 4, 2, out.data(), 20), -2);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA224, pass.data(), 8, salt.data(), 4, 2, out.data(), 20), -2);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA512, pass.data(), 8, salt.data(), 4, 2, out.data(), 20), -2);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 65, 2, out.data(), 20), -4);
    // 102 SHA-1 blocks are 2040 bytes; one byte more needs a 103rd block (2060 > 2048).
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 4, 2, out.data(), 2041), -3);
    ASSERT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, pass.data(), 8, salt.data(), 64, 2, out.data(), 2040), 0);
    EXPECT_EQ(to_hex(out.data(), 2040), to_hex(openssl_pbkdf2(EVP_sha1(), pass, Bytes(salt.begin(), salt.begin() + 64),
                                                             2, 2040)));
    ASSERT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA256, pass.data(), 8, salt.data(), 4, 2, out.data(), 2048), 0);
    EXPECT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA256, pass.data(), 8, salt.data(), 4, 2, out.data(), 2049), -3);
    // Empty salt (null with length 0) and empty password are valid PBKDF2 inputs.
    ASSERT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_MD5, pass.data(), 0, nullptr, 0, 3, out.data(), 40), 0);
    EXPECT_EQ(to_hex(out.data(), 40), to_hex(openssl_pbkdf2(EVP_md5(), {}, {}, 3, 40)));
}

TEST(CryptoFacadeKeys, AuthKeysArePbkdf2OverTheEngineSalt) {
    const Bytes salt13 = from_hex("80001f88040000000000000000");
    const struct {
        int32_t proto;
        const EVP_MD *md;
        int iterations;
        uint32_t len;
    } cases[] = {{1, EVP_md5(), 1000, 16}, {2, EVP_sha1(), 1000, 20}, {3, EVP_sha256(), 2048, 32},
                 {4, EVP_sha256(), 2048, 32}};
    for (const auto &c : cases) {
        Bytes key(c.len);
        ASSERT_EQ(vek_generate_auth_key(kWidePassword.data(), static_cast<uint32_t>(kWidePassword.size()),
                                        kEngineId.data(), 5, 0, 0, c.proto, key.data(), c.len),
                  0);
        EXPECT_EQ(to_hex(key), to_hex(openssl_pbkdf2(c.md, kWidePassword, salt13, c.iterations, c.len)))
            << "auth_proto " << c.proto;
    }
    // Boots and time follow the engine ID big-endian.
    Bytes key(20);
    ASSERT_EQ(vek_generate_auth_key(kWidePassword.data(), static_cast<uint32_t>(kWidePassword.size()),
                                    kEngineId.data(), 5, 0x01020304u, 0xA0B0C0D0u, 2, key.data(), 20),
              0);
    EXPECT_EQ(to_hex(key), to_hex(openssl_pbkdf2(EVP_sha1(), kWidePassword, from_hex("80001f880401020304a0b0c0d0"),
                                                 1000, 20)));
}

TEST(CryptoFacadeKeys, PrivKeysUseTheProtocolDigestIncludingAes192) {
    const Bytes salt13 = from_hex("80001f88040000000700000009");
    const struct {
        int32_t proto;
        const EVP_MD *md;
        int iterations;
        uint32_t len;
    } cases[] = {{1, EVP_md5(), 1000, 8},
                 {2, EVP_sha1(), 1000, 16},
                 {3, EVP_sha256(), 2048, 24},
                 {4, EVP_sha256(), 2048, 32},
                 {5, EVP_md5(), 1000, 24}};
    for (const auto &c : cases) {
        Bytes key(c.len);
        ASSERT_EQ(vek_generate_priv_key(kWidePassword.data(), static_cast<uint32_t>(kWidePassword.size()),
                                        kEngineId.data(), 5, 7, 9, c.proto, key.data(), c.len),
                  0);
        EXPECT_EQ(to_hex(key), to_hex(openssl_pbkdf2(c.md, kWidePassword, salt13, c.iterations, c.len)))
            << "priv_proto " << c.proto;
    }
}

TEST(CryptoFacadeAuthParam, TruncationByAlgorithm) {
    const Bytes key(20, 0x0B);
    const Bytes msg = from_text("an SNMPv3 message with a zeroed authentication parameter");
    const struct {
        int32_t proto;
        const EVP_MD *md;
        size_t param_len;
    } cases[] = {{1, EVP_md5(), 12}, {2, EVP_sha1(), 12}, {3, EVP_sha256(), 12}, {4, EVP_sha256(), 32}};
    for (const auto &c : cases) {
        std::array<uint8_t, 40> param;
        param.fill(0xEE);
        ASSERT_EQ(vek_snmpv3_generate_auth_param(c.proto, key.data(), 20, msg.data(), static_cast<uint32_t>(msg.size()),
                                                 param.data()),
                  0);
        const Bytes full = openssl_hmac(c.md, key, msg);
        EXPECT_EQ(to_hex(param.data(), c.param_len), to_hex(full.data(), c.param_len)) << c.proto;
        EXPECT_EQ(param[c.param_len], 0xEE) << "nothing written beyond the parameter";
    }
    std::array<uint8_t, 32> param{};
    EXPECT_EQ(vek_snmpv3_generate_auth_param(0, key.data(), 20, msg.data(), 5, param.data()), -2);
    EXPECT_EQ(vek_snmpv3_generate_auth_param(5, key.data(), 20, msg.data(), 5, param.data()), -2);
    EXPECT_EQ(vek_snmpv3_generate_auth_param(1, nullptr, 20, msg.data(), 5, param.data()), -1);
    EXPECT_EQ(vek_snmpv3_generate_auth_param(1, key.data(), 20, msg.data(), 5, nullptr), -1);
    EXPECT_EQ(vek_snmpv3_generate_auth_param(1, key.data(), 0, msg.data(), 5, param.data()), -1);
    EXPECT_EQ(vek_snmpv3_generate_auth_param(1, key.data(), 20, msg.data(), 0, param.data()), -1);
}

}  // namespace
