// SNMPv3 USM security against OpenSSL's libcrypto as the reference: scoped-PDU encryption is CBC
// with PKCS#7 padding under the message's IV, the authentication parameter is the HMAC of the
// zeroed message, and the keys are PBKDF2 over the widened password with the engine salt. Linux
// only: there is no OpenSSL for the Windows build.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "v3_test_util.h"

namespace {

using namespace v3_test;

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

Bytes reference_cbc(const EVP_CIPHER *cipher, const Bytes &key, const uint8_t *iv, const Bytes &plain) {
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    Bytes out(plain.size() + EVP_MAX_BLOCK_LENGTH);
    int n = 0;
    int tail = 0;
    if (EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), iv) != 1 ||
        EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail) != 1) {
        return {};
    }
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

TEST(V3Cipher, MatchesCbcWithPkcs7PaddingUnderTheMessageIv) {
    struct Case {
        uint8_t priv;
        const EVP_CIPHER *(*cipher)();
    };
    const Case cases[] = {{SNMP_V3_PRIV_AES128, EVP_aes_128_cbc},
                          {SNMP_V3_PRIV_AES192, EVP_aes_192_cbc},
                          {SNMP_V3_PRIV_AES256, EVP_aes_256_cbc},
                          {SNMP_V3_PRIV_3DES, EVP_des_ede3_cbc}};
    for (const Case &c : cases) {
        snmp_v3_usm usm = key_usm(0, c.priv);
        ASSERT_EQ(snmpv3_crypto_gen_full_iv(&usm), 1);
        const Bytes &key = keys().priv[c.priv];
        for (size_t len : {size_t{1}, size_t{16}, size_t{120}, size_t{1000}}) {
            Bytes plain = pattern(len);
            Bytes out;
            ASSERT_EQ(encrypt(plain, usm, key, out), 1);
            Bytes expected = cat_priv(usm, reference_cbc(c.cipher(), key, usm.full_iv, plain));
            EXPECT_EQ(out, expected) << "priv " << int(c.priv) << ", " << len << " bytes";
            Bytes back;
            ASSERT_EQ(decrypt(out, usm, key, back), 1);
            EXPECT_EQ(back, plain);
        }
    }
    // Sixteen bytes under AES: 8 IV bytes and two blocks (the second all padding).
    snmp_v3_usm aes = key_usm(0, SNMP_V3_PRIV_AES128);
    ASSERT_EQ(snmpv3_crypto_gen_full_iv(&aes), 1);
    Bytes out;
    ASSERT_EQ(encrypt(pattern(16), aes, keys().priv[SNMP_V3_PRIV_AES128], out), 1);
    EXPECT_EQ(out.size(), 8u + 32u);
    ASSERT_EQ(encrypt(pattern(120), aes, keys().priv[SNMP_V3_PRIV_AES128], out), 1);
    EXPECT_EQ(out.size(), 8u + 128u);
}

TEST(V3Auth, ParameterIsTheHmacOfTheZeroedMessage) {
    constexpr uint16_t kAt = 10;
    for (uint8_t auth : {SNMP_V3_AUTH_SHA256, SNMP_V3_AUTH_SHA256_FULL}) {
        uint16_t param_len = auth == SNMP_V3_AUTH_SHA256 ? 12 : 32;
        Bytes msg = pattern(100);
        msg[kAt] = 0x04;
        msg[kAt + 1] = static_cast<uint8_t>(param_len);
        snmp_v3_usm usm{};
        usm.auth_proto = auth;
        usm.auth_param_offset = kAt;
        usm.auth_param_len = param_len;
        const Bytes &key = keys().auth[auth];
        Bytes work(msg.size());
        std::array<uint8_t, 32> param{};
        Bytes before = msg;
        ASSERT_EQ(snmp_v3_gen_auth_param(&usm, key.data(), static_cast<uint16_t>(key.size()), msg.data(),
                                         static_cast<uint16_t>(msg.size()), param.data(), work.data(),
                                         static_cast<uint16_t>(work.size())),
                  1);
        EXPECT_EQ(msg, before);

        Bytes zeroed = msg;
        std::fill(zeroed.begin() + kAt + 2, zeroed.begin() + kAt + 2 + param_len, 0);
        std::array<uint8_t, EVP_MAX_MD_SIZE> mac{};
        unsigned mac_len = 0;
        HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), zeroed.data(), zeroed.size(), mac.data(), &mac_len);
        EXPECT_EQ(Bytes(param.begin(), param.begin() + param_len), Bytes(mac.begin(), mac.begin() + param_len));

        // Placed in the message it validates; one changed bit anywhere does not.
        std::copy(param.begin(), param.begin() + param_len, msg.begin() + kAt + 2);
        auto validate = [&](const Bytes &m) {
            return snmp_v3_validate_auth_param(m.data(), static_cast<uint16_t>(m.size()), &usm, key.data(),
                                               static_cast<uint16_t>(key.size()), m.data() + kAt + 2, work.data(),
                                               static_cast<uint16_t>(work.size()));
        };
        EXPECT_EQ(validate(msg), 1);
        for (size_t bit_at : {size_t{0}, size_t{kAt + 2}, msg.size() - 1}) {
            Bytes tampered = msg;
            tampered[bit_at] ^= 0x01;
            EXPECT_EQ(validate(tampered), 0) << "byte " << bit_at;
        }
        // A work area shorter than the message is refused rather than overrun.
        EXPECT_EQ(snmp_v3_validate_auth_param(msg.data(), static_cast<uint16_t>(msg.size()), &usm, key.data(),
                                              static_cast<uint16_t>(key.size()), msg.data() + kAt + 2, work.data(), 99),
                  0);
        usm.auth_param_offset = static_cast<uint16_t>(msg.size() - param_len - 1);
        EXPECT_EQ(validate(msg), 0);
    }
    snmp_v3_usm none{};
    uint8_t byte = 0;
    EXPECT_EQ(snmp_v3_validate_auth_param(&byte, 1, &none, nullptr, 0, nullptr, nullptr, 0), 1);
}

TEST(V3Keys, DerivedFromTheWidenedPasswordWithTheEngineSalt) {
    std::array<uint8_t, 8> wide{};
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(snmp_v3_pass_encode(abc, 3, SNMP_V3_PASS_ENCODE_UTF16LE, wide.data(), 8), 6);
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 6), Bytes({'a', 0, 'b', 0, 'c', 0}));
    EXPECT_EQ(snmp_v3_pass_encode(abc, 3, SNMP_V3_PASS_ENCODE_UTF16LE, wide.data(), 5), 0);
    EXPECT_EQ(snmp_v3_pass_encode(abc, 3, 0, wide.data(), 3), 3);

    Bytes salt = kEngineId;
    for (uint32_t v : {kBoots, kTime}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            salt.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
    Bytes password;
    for (char ch : std::string(kAuthPass)) {
        password.push_back(static_cast<uint8_t>(ch));
        password.push_back(0);
    }
    Bytes expected(20);
    ASSERT_EQ(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(password.data()), static_cast<int>(password.size()),
                                salt.data(), static_cast<int>(salt.size()), 1000, EVP_sha1(), 20, expected.data()),
              1);
    EXPECT_EQ(keys().auth[SNMP_V3_AUTH_SHA1], expected);

    // AES-192 is completed with SHA-256 and 2048 iterations.
    Bytes priv_password;
    for (char ch : std::string(kPrivPass)) {
        priv_password.push_back(static_cast<uint8_t>(ch));
        priv_password.push_back(0);
    }
    Bytes expected_priv(24);
    ASSERT_EQ(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(priv_password.data()),
                                static_cast<int>(priv_password.size()), salt.data(), static_cast<int>(salt.size()), 2048,
                                EVP_sha256(), 24, expected_priv.data()),
              1);
    EXPECT_EQ(keys().priv[SNMP_V3_PRIV_AES192], expected_priv);

    // 64 password bytes widen into the 128-byte area, 65 do not.
    snmp_v3_usm usm = key_usm(SNMP_V3_AUTH_MD5, SNMP_V3_PRIV_DES);
    Bytes key(16);
    Bytes longest(64, 'p');
    EXPECT_EQ(snmp_v3_generate_auth_key(&usm, longest.data(), 64, key.data(), 16), 1);
    Bytes too_long(65, 'p');
    EXPECT_EQ(snmp_v3_generate_auth_key(&usm, too_long.data(), 65, key.data(), 16), 0);
    EXPECT_EQ(snmp_v3_generate_priv_key(&usm, too_long.data(), 65, key.data(), 8), 0);
    // The key length must be the algorithm's.
    EXPECT_EQ(snmp_v3_generate_priv_key(&usm, longest.data(), 8, key.data(), 16), 0);
    EXPECT_EQ(snmp_v3_generate_auth_key(&usm, longest.data(), 8, key.data(), 20), 0);
}

}  // namespace
