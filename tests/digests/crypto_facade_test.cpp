// The crypto facade: argument checks, cipher padding, localized key refusals, IVs, standalone
// encryption. The results checked against OpenSSL as a reference (HMAC, padding lengths, cipher round
// trips, PBKDF2, localized keys, the authentication parameter) are in
// crypto_facade_openssl_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
#include "tests/support/test_os.h"

namespace {

using digest_test::Bytes;
using digest_test::from_hex;
using digest_test::from_text;
using digest_test::to_hex;
using testing::HasSubstr;
using namespace facade_test;

// ---- Digests and HMAC ----

TEST(CryptoFacadeHash, ArgumentChecks) {
    vek_hash_ctx ctx;
    const uint8_t byte = 0;
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
    uint32_t out_len = 0;
    EXPECT_EQ(vek_hash_init(nullptr, VEK_ALG_MD5), -1);
    EXPECT_EQ(vek_hash_init(&ctx, 0), -2);
    EXPECT_EQ(vek_hash_init(&ctx, VEK_ALG_AES128_CBC), -2);
    ASSERT_EQ(vek_hash_init(&ctx, VEK_ALG_SHA256), 0);
    EXPECT_EQ(vek_hash_update(&ctx, nullptr, 1), -1);
    EXPECT_EQ(vek_hash_update(&ctx, &byte, 0), -1);
    EXPECT_EQ(vek_hash_final(&ctx, nullptr, &out_len), -1);
    EXPECT_EQ(vek_hash_final(&ctx, out.data(), nullptr), -1);
    ASSERT_EQ(vek_hash_final(&ctx, out.data(), &out_len), 0);
    EXPECT_EQ(out_len, 32u);
    ctx.alg = VEK_ALG_AES128_CFB;
    EXPECT_EQ(vek_hash_update(&ctx, &byte, 1), -2);
    EXPECT_EQ(vek_hash_final(&ctx, out.data(), &out_len), -2);
}

TEST(CryptoFacadeHash, SizesById) {
    struct Row {
        int32_t alg;
        int32_t digest;
        int32_t block;
    };
    const Row rows[] = {{VEK_ALG_MD5, 16, 64},
                        {VEK_ALG_SHA1, 20, 64},
                        {VEK_ALG_SHA224, 28, 64},
                        {VEK_ALG_SHA256, 32, 64},
                        {VEK_ALG_SHA384, 48, 128},
                        {VEK_ALG_SHA512, 64, 128},
                        {0, 0, 0},
                        {VEK_ALG_AES128_CBC, 0, 0},
                        {VEK_ALG_AES256_CFB, 0, 0},
                        {-1, 0, 0}};
    for (const Row &row : rows) {
        EXPECT_EQ(vek_hash_digest_size(row.alg), row.digest) << "alg " << row.alg;
        EXPECT_EQ(vek_hash_block_size(row.alg), row.block) << "alg " << row.alg;
        vek_hash_ctx ctx;
        std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
        uint32_t out_len = 0;
        if (row.digest != 0) {
            ASSERT_EQ(vek_hash_init(&ctx, row.alg), VEK_OK);
            ASSERT_EQ(vek_hash_final(&ctx, out.data(), &out_len), VEK_OK);
            EXPECT_EQ(out_len, static_cast<uint32_t>(row.digest));
        } else {
            EXPECT_EQ(vek_hash_init(&ctx, row.alg), VEK_ERR_UNSUPPORTED_ALG);
        }
    }
}

// ---- Ciphers ----

TEST(CryptoFacadeCipher, InitChecksIdsAndLengths) {
    vek_cipher_ctx ctx;
    const Bytes key(32, 0x11);
    const Bytes iv(16, 0x22);
    EXPECT_EQ(vek_cipher_init(&ctx, VEK_ALG_AES128_CBC, key.data(), 15, iv.data(), 16), VEK_ERR_KEY_LENGTH);
    EXPECT_EQ(vek_cipher_init(&ctx, VEK_ALG_AES128_CBC, key.data(), 16, iv.data(), 8), VEK_ERR_IV_LENGTH);
    EXPECT_EQ(vek_cipher_init(&ctx, VEK_ALG_SHA256, key.data(), 16, iv.data(), 16), -2);
    EXPECT_EQ(vek_cipher_init(&ctx, 9, key.data(), 16, iv.data(), 16), -2);
    EXPECT_EQ(vek_cipher_init(nullptr, VEK_ALG_AES128_CBC, key.data(), 16, iv.data(), 16), -1);
    EXPECT_EQ(vek_cipher_init(&ctx, VEK_ALG_AES128_CBC, nullptr, 16, iv.data(), 16), -1);
    EXPECT_EQ(vek_cipher_init(&ctx, VEK_ALG_AES128_CBC, key.data(), 16, nullptr, 16), -1);
    for (int32_t alg : kCipherIds) {
        EXPECT_EQ(vek_cipher_init(&ctx, alg, key.data(), key_size(alg), iv.data(), block_size(alg)), 0) << alg;
        EXPECT_EQ(vek_cipher_block_size(alg), static_cast<int32_t>(block_size(alg)));
    }
    EXPECT_EQ(vek_cipher_block_size(VEK_ALG_SHA256), -1);
    EXPECT_EQ(vek_cipher_block_size(9), -1);
}

TEST(CryptoFacadeCipher, DecryptRejectsBadPaddingAndPartialBlocks) {
    const Bytes key(16, 0x01);
    const Bytes iv(16, 0x02);
    vek_cipher_ctx ctx;
    ASSERT_EQ(vek_cipher_init(&ctx, VEK_ALG_AES128_CBC, key.data(), 16, iv.data(), 16), 0);
    auto decrypt_raw = [&](Bytes plain) {
        Bytes cipher(plain.size());
        vek_aes128_cbc_encrypt(key.data(), iv.data(), plain.data(), cipher.data(), static_cast<uint32_t>(plain.size()));
        Bytes out(plain.size(), 0xEE);
        uint32_t out_len = 12345;
        const int32_t rc =
            vek_cipher_decrypt(&ctx, cipher.data(), static_cast<uint32_t>(cipher.size()), out.data(), &out_len);
        return std::make_pair(rc, std::make_pair(out, out_len));
    };
    Bytes plain(48, 0x07);
    plain[47] = 0x11;  // above the block size
    auto [rc, result] = decrypt_raw(plain);
    EXPECT_EQ(rc, VEK_ERR_BAD_PADDING);
    EXPECT_EQ(result.first, Bytes(48, 0)) << "a refused plaintext is cleared";
    EXPECT_EQ(result.second, 12345u);

    plain[47] = 0x00;
    EXPECT_EQ(decrypt_raw(plain).first, VEK_ERR_BAD_PADDING);
    plain[47] = 0x03;
    plain[46] = 0x03;
    plain[45] = 0x04;  // one pad byte differs
    EXPECT_EQ(decrypt_raw(plain).first, VEK_ERR_BAD_PADDING);
    plain[45] = 0x03;
    auto good = decrypt_raw(plain);
    EXPECT_EQ(good.first, 0);
    EXPECT_EQ(good.second.second, 45u);
    plain.assign(16, 0x10);  // a whole padding block
    good = decrypt_raw(plain);
    EXPECT_EQ(good.first, 0);
    EXPECT_EQ(good.second.second, 0u);

    Bytes buf(48, 0);
    uint32_t out_len = 0;
    EXPECT_EQ(vek_cipher_decrypt(&ctx, buf.data(), 47, buf.data(), &out_len), -4);
    EXPECT_EQ(vek_cipher_decrypt(&ctx, buf.data(), 0, buf.data(), &out_len), -1);
    vek_cipher_ctx des;
    ASSERT_EQ(vek_cipher_init(&des, VEK_ALG_DES_CBC, key.data(), 8, iv.data(), 8), 0);
    EXPECT_EQ(vek_cipher_decrypt(&des, buf.data(), 12, buf.data(), &out_len), -4);
}

// ---- PBKDF2 ----

// ---- Localized keys ----

TEST(CryptoFacadeKeys, RefusalsAndTheirLogLines) {
    LogLevelGuard level(AGENT_LOG_DEBUG);
    const Bytes long_id(57, 0x80);
    Bytes key(32);
    const auto pass_len = static_cast<uint32_t>(kWidePassword.size());

    testing::internal::CaptureStdout();
    EXPECT_EQ(vek_generate_auth_key(kWidePassword.data(), pass_len, long_id.data(), 57, 0, 0, 1, key.data(), 16), -3);
    EXPECT_EQ(vek_generate_priv_key(kWidePassword.data(), pass_len, kEngineId.data(), 5, 0, 0, 2, key.data(), 15), -2);
    EXPECT_EQ(vek_generate_auth_key(nullptr, pass_len, kEngineId.data(), 5, 0, 0, 1, key.data(), 16), -1);
    EXPECT_EQ(vek_generate_auth_key(kWidePassword.data(), pass_len, kEngineId.data(), 0, 0, 0, 1, key.data(), 16), -1);
    EXPECT_EQ(vek_generate_auth_key(kWidePassword.data(), pass_len, kEngineId.data(), 5, 0, 0, 5, key.data(), 16), -2);
    EXPECT_EQ(vek_generate_priv_key(kWidePassword.data(), pass_len, kEngineId.data(), 5, 0, 0, 0, key.data(), 8), -2);
    EXPECT_EQ(vek_generate_auth_key(kWidePassword.data(), pass_len, long_id.data(), 56, 0, 0, 1, key.data(), 16), 0);
    EXPECT_EQ(vek_generate_auth_key(kWidePassword.data(), pass_len, kEngineId.data(), 5, 0, 0, 1, key.data(), 16), 0);
    const std::string log = testing::internal::GetCapturedStdout();

    EXPECT_THAT(log, HasSubstr("[ERROR] vek_generate_auth_key: Engine ID too long (len=57, max=56)"));
    EXPECT_THAT(log, HasSubstr("[ERROR] vek_generate_priv_key: Key length mismatch (alg needs=16, got=15)"));
    EXPECT_THAT(log, HasSubstr("[ERROR] vek_generate_auth_key: Invalid input parameters"));
    EXPECT_THAT(log, HasSubstr("[ERROR] vek_generate_auth_key: Key length mismatch (alg needs=0, got=16)"));
    EXPECT_THAT(log, HasSubstr("vek_generate_auth_key: Constructed salt (len=13)"));
    EXPECT_THAT(log, HasSubstr("Auth Key Salt"));
    EXPECT_THAT(log, HasSubstr("80 00 1F 88 04 00 00 00 00 00 00 00 00"));
    EXPECT_THAT(log, HasSubstr("vek_generate_auth_key: Mapped to VEK algorithm: 1"));
    EXPECT_THAT(log, HasSubstr("vek_generate_auth_key: PBKDF2 iterations: 1000"));
    EXPECT_THAT(log, HasSubstr("[INFO] vek_generate_auth_key: Authentication key generated successfully (len=16)"));
    EXPECT_THAT(log, HasSubstr("Generated Auth Key (first 8 bytes)"));
}

TEST(CryptoFacadeKeys, KeyTracesStayOutOfTheDefaultLevel) {
    LogLevelGuard level(AGENT_LOG_WARN);
    Bytes key(16);
    testing::internal::CaptureStdout();
    ASSERT_EQ(vek_generate_priv_key(kWidePassword.data(), static_cast<uint32_t>(kWidePassword.size()),
                                    kEngineId.data(), 5, 0, 0, 2, key.data(), 16),
              0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// ---- IVs ----

TEST(CryptoFacadeIv, LayoutAndRandomPart) {
    std::array<uint8_t, 16> iv1{};
    std::array<uint8_t, 16> iv2{};
    uint32_t len = 0;
    ASSERT_EQ(vek_snmpv3_gen_iv(VEK_ALG_AES128_CBC, iv1.data(), &len, 1, 0x12345678u), 0);
    EXPECT_EQ(len, 16u);
    EXPECT_EQ(to_hex(iv1.data(), 8), "0000000112345678");
    ASSERT_EQ(vek_snmpv3_gen_iv(VEK_ALG_AES192_CBC, iv2.data(), &len, 1, 0x12345678u), 0);
    EXPECT_NE(to_hex(iv1.data() + 8, 8), to_hex(iv2.data() + 8, 8)) << "random part repeats";

    std::array<uint8_t, 16> des{};
    des.fill(0xEE);
    ASSERT_EQ(vek_snmpv3_gen_iv(VEK_ALG_3DES_CBC, des.data(), &len, 1, 0x12345678u), 0);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(to_hex(des.data(), 16), "0000000112345678eeeeeeeeeeeeeeee");
    EXPECT_EQ(vek_snmpv3_gen_iv(VEK_ALG_SHA1, des.data(), &len, 0, 0), -2);
    EXPECT_EQ(vek_snmpv3_gen_iv(VEK_ALG_DES_CBC, nullptr, &len, 0, 0), -1);
    EXPECT_EQ(vek_snmpv3_gen_iv(VEK_ALG_DES_CBC, des.data(), nullptr, 0, 0), -1);

    LogLevelGuard level(AGENT_LOG_DEBUG);
    testing::internal::CaptureStdout();
    EXPECT_EQ(vek_snmpv3_gen_iv_rand(0, nullptr, 8), 0);
    EXPECT_EQ(vek_snmpv3_gen_iv_rand(0, des.data(), 0), 0);
    EXPECT_EQ(vek_snmpv3_gen_iv_rand(0, des.data(), 8), 1);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_THAT(log, HasSubstr("vek_snmpv3_gen_iv_rand: invalid param (iv_rand_part=" + test_os::pointer_text(nullptr) +
                               ", rand_len=8)"));
    EXPECT_THAT(log, HasSubstr("vek_snmpv3_gen_iv_rand: generate random data success"));
    const uint32_t swapped = vek_snmpv3_htonl(0x01020304u);
    const std::array<uint8_t, 4> in_memory = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(&swapped, in_memory.data(), in_memory.size()), 0);
}

// ---- Standalone message encryption ----

TEST(CryptoFacadeStandalone, RoundTripsAndLayout) {
    const int marker = 1;
    for (int32_t alg : kCipherIds) {
        const Bytes key(key_size(alg), 0x42);
        const Bytes plain = from_text("a scoped PDU of some thirty-nine bytes.");
        Bytes out(VEK_SNMPV3_ENCRYPT_MIN_CAPACITY + 16);
        uint32_t out_len = static_cast<uint32_t>(out.size());
        ASSERT_EQ(vek_snmpv3_encrypt(alg, plain.data(), static_cast<uint32_t>(plain.size()), key.data(),
                                     key_size(alg), &marker, 1, 3, 0x100, out.data(), &out_len),
                  0);
        const uint32_t rand_len = block_size(alg) - 8;
        const uint32_t padded = (static_cast<uint32_t>(plain.size()) / block_size(alg) + 1) * block_size(alg);
        ASSERT_EQ(out_len, rand_len + padded) << "alg " << alg;

        // The random part is the IV's tail: decrypting by hand with boots||time||random works.
        Bytes iv = from_hex("0000000300000100");
        iv.insert(iv.end(), out.begin(), out.begin() + rand_len);
        vek_cipher_ctx ctx;
        ASSERT_EQ(vek_cipher_init(&ctx, alg, key.data(), key_size(alg), iv.data(), block_size(alg)), 0);
        Bytes manual(padded);
        uint32_t manual_len = 0;
        ASSERT_EQ(vek_cipher_decrypt(&ctx, out.data() + rand_len, padded, manual.data(), &manual_len), 0);
        manual.resize(manual_len);
        EXPECT_EQ(manual, plain);

        Bytes back(out_len);
        uint32_t back_len = 0;
        ASSERT_EQ(vek_snmpv3_decrypt(alg, out.data(), out_len, key.data(), key_size(alg), &marker, 1, 3, 0x100,
                                     back.data(), &back_len),
                  0);
        back.resize(back_len);
        EXPECT_EQ(back, plain);
    }
}

TEST(CryptoFacadeStandalone, OutputCapacityCoversTheRandomPart) {
    // 2041..2047 plaintext bytes pad to 2048; with the 8-byte random part that is 2056 bytes,
    // more than the minimum capacity of 2048.
    const int marker = 1;
    const Bytes key(16, 0x42);
    Bytes buffer(2056, 0x61);
    uint32_t out_len = 2048;
    EXPECT_EQ(vek_snmpv3_encrypt(VEK_ALG_AES128_CBC, buffer.data(), 2041, key.data(), 16, &marker, 1, 0, 0,
                                 buffer.data(), &out_len),
              -5);
    EXPECT_EQ(out_len, 2048u);
    // In place with enough room: the plaintext is consumed before the random part is written.
    const Bytes plain(buffer.begin(), buffer.begin() + 2041);
    out_len = 2056;
    ASSERT_EQ(vek_snmpv3_encrypt(VEK_ALG_AES128_CBC, buffer.data(), 2041, key.data(), 16, &marker, 1, 0, 0,
                                 buffer.data(), &out_len),
              0);
    EXPECT_EQ(out_len, 2056u);
    Bytes back(2056);
    uint32_t back_len = 0;
    ASSERT_EQ(vek_snmpv3_decrypt(VEK_ALG_AES128_CBC, buffer.data(), 2056, key.data(), 16, &marker, 1, 0, 0,
                                 back.data(), &back_len),
              0);
    back.resize(back_len);
    EXPECT_EQ(back, plain);
    out_len = 4096;
    EXPECT_EQ(vek_snmpv3_encrypt(VEK_ALG_AES128_CBC, buffer.data(), 2048, key.data(), 16, &marker, 1, 0, 0,
                                 back.data(), &out_len),
              -5);
}

TEST(CryptoFacadeStandalone, ResultCodes) {
    const int marker = 1;
    const Bytes key(32, 0x42);
    Bytes data(64, 0x10);
    Bytes out(4096);
    uint32_t len = 4096;
    auto enc = [&](int32_t alg, uint32_t n, uint32_t key_len, const void *reserved, uint32_t reserved_len,
                   uint32_t capacity) {
        len = capacity;
        return vek_snmpv3_encrypt(alg, data.data(), n, key.data(), key_len, reserved, reserved_len, 0, 0, out.data(),
                                  &len);
    };
    EXPECT_EQ(enc(VEK_ALG_AES128_CBC, 16, 16, nullptr, 1, 4096), -1);
    EXPECT_EQ(enc(VEK_ALG_AES128_CBC, 0, 16, &marker, 1, 4096), -2);
    EXPECT_EQ(enc(VEK_ALG_AES128_CBC, 16, 16, &marker, 0, 4096), -2);
    EXPECT_EQ(enc(VEK_ALG_AES128_CBC, 16, 16, &marker, 1, 2047), -2);
    EXPECT_EQ(enc(VEK_ALG_SHA1, 16, 16, &marker, 1, 4096), -3);
    EXPECT_EQ(enc(VEK_ALG_AES128_CBC, 16, 15, &marker, 1, 4096), -6);
    EXPECT_EQ(enc(VEK_ALG_DES_CBC, 16, 8, &marker, 1, 2048), 0);
    EXPECT_EQ(len, 24u);

    auto dec = [&](int32_t alg, uint32_t n, uint32_t key_len, const void *reserved, uint32_t reserved_len) {
        return vek_snmpv3_decrypt(alg, data.data(), n, key.data(), key_len, reserved, reserved_len, 0, 0, out.data(),
                                  &len);
    };
    EXPECT_EQ(dec(VEK_ALG_AES128_CBC, 32, 16, nullptr, 1), -1);
    EXPECT_EQ(dec(VEK_ALG_AES128_CBC, 0, 16, &marker, 1), -2);
    EXPECT_EQ(dec(VEK_ALG_AES128_CBC, 32, 16, &marker, 0), -2);
    EXPECT_EQ(dec(VEK_ALG_MD5, 32, 16, &marker, 1), -3);
    EXPECT_EQ(dec(VEK_ALG_AES128_CBC, 23, 16, &marker, 1), -4) << "8 random bytes + 15";
    EXPECT_EQ(dec(VEK_ALG_DES_CBC, 7, 8, &marker, 1), -4);
    EXPECT_EQ(dec(VEK_ALG_AES256_CBC, 40, 16, &marker, 1), -5);
    EXPECT_EQ(dec(VEK_ALG_AES128_CBC, 31, 16, &marker, 1), -6) << "cipher text not whole blocks";
}

// ---- Authentication parameter ----

}  // namespace
