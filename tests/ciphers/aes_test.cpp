// AES block, CBC and CFB-128 operations: published vectors on both code paths, argument checks,
// in-place use, the AES-128-CBC debug trace and the self-test routines.
#include <array>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/aes_vek.h"
#include "tests/ciphers/cipher_test_util.h"

namespace {

using cipher_test::Bytes;
using cipher_test::captured_stdout;
using cipher_test::from_hex;
using cipher_test::LogLevel;
using cipher_test::to_hex;

using CbcFunction = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, uint32_t);

struct CbcVariant {
    const char *name;
    uint32_t key_len;
    CbcFunction encrypt;
    CbcFunction decrypt;
    const char *encrypt_error;
    const char *decrypt_error;
};

const std::array<CbcVariant, 3> kVariants = {{
    {"AES-128", 16, vek_aes128_cbc_encrypt, vek_aes128_cbc_decrypt, "[AES-128-CBC加密] 参数无效",
     "[AES-128-CBC解密] 参数无效"},
    {"AES-192", 24, vek_aes192_cbc_encrypt, vek_aes192_cbc_decrypt, "[AES-192-CBC加密] 参数无效",
     "[AES-192-CBC解密] 参数无效"},
    {"AES-256", 32, vek_aes256_cbc_encrypt, vek_aes256_cbc_decrypt, "[AES-256-CBC加密] 参数无效",
     "[AES-256-CBC解密] 参数无效"},
}};

// NIST SP 800-38A F.2.1 .. F.2.6: one IV and plaintext, a key and ciphertext per size.
const std::string kSpIv = "000102030405060708090a0b0c0d0e0f";
const std::string kSpPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const std::array<std::string, 3> kSpKeys = {
    "2b7e151628aed2a6abf7158809cf4f3c",
    "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
    "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
};
const std::array<std::string, 3> kSpCipher = {
    "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7",
    "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
    "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd",
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b",
};

// Every test runs once on the portable code and once on the AES instructions.
class AesTest : public testing::TestWithParam<bool> {
   protected:
    void SetUp() override {
        if (vek_aes_set_hw_accel(GetParam() ? 1 : 0) != (GetParam() ? 1 : 0)) {
            GTEST_SKIP() << "processor without AES instructions";
        }
    }
    void TearDown() override { vek_aes_set_hw_accel(1); }
};

TEST_P(AesTest, Fips197AppendixCBlocks) {
    const Bytes plain = from_hex("00112233445566778899aabbccddeeff");
    const std::array<std::pair<std::string, std::string>, 3> cases = {{
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "8ea2b7ca516745bfeafc49904b496089"},
    }};
    for (const auto &[key_hex, cipher_hex] : cases) {
        const Bytes key = from_hex(key_hex);
        Bytes out(16);
        vek_aes_encrypt_block(key.data(), static_cast<uint32_t>(key.size()), plain.data(), out.data());
        EXPECT_EQ(to_hex(out), cipher_hex) << "key " << key_hex;
        Bytes back(16);
        const Bytes cipher = from_hex(cipher_hex);
        vek_aes_decrypt_block(key.data(), static_cast<uint32_t>(key.size()), cipher.data(), back.data());
        EXPECT_EQ(back, plain) << "key " << key_hex;
    }
}

TEST_P(AesTest, Sp80038aCbcVectors) {
    const Bytes iv = from_hex(kSpIv);
    const Bytes plain = from_hex(kSpPlain);
    for (size_t i = 0; i < kVariants.size(); ++i) {
        const Bytes key = from_hex(kSpKeys[i]);
        Bytes out(plain.size());
        kVariants[i].encrypt(key.data(), iv.data(), plain.data(), out.data(),
                             static_cast<uint32_t>(plain.size()));
        EXPECT_EQ(to_hex(out), kSpCipher[i]) << kVariants[i].name;
        Bytes back(plain.size());
        const Bytes cipher = from_hex(kSpCipher[i]);
        kVariants[i].decrypt(key.data(), iv.data(), cipher.data(), back.data(),
                             static_cast<uint32_t>(cipher.size()));
        EXPECT_EQ(back, plain) << kVariants[i].name;
    }
}

TEST_P(AesTest, InPlaceMatchesSeparateBuffers) {
    std::mt19937 rng(7);
    constexpr size_t kLen = 16 * 9;  // odd number of blocks exercises the tail after groups of four
    for (const CbcVariant &v : kVariants) {
        Bytes key(v.key_len), iv(16), plain(kLen);
        for (auto *buf : {&key, &iv, &plain}) {
            for (auto &b : *buf) {
                b = static_cast<uint8_t>(rng());
            }
        }
        Bytes separate(kLen);
        v.encrypt(key.data(), iv.data(), plain.data(), separate.data(), kLen);
        Bytes inplace = plain;
        v.encrypt(key.data(), iv.data(), inplace.data(), inplace.data(), kLen);
        EXPECT_EQ(inplace, separate) << v.name << " encrypt";
        v.decrypt(key.data(), iv.data(), inplace.data(), inplace.data(), kLen);
        EXPECT_EQ(inplace, plain) << v.name << " decrypt";

        Bytes block(plain.begin(), plain.begin() + 16);
        Bytes block_out(16);
        vek_aes_encrypt_block(key.data(), v.key_len, block.data(), block_out.data());
        vek_aes_encrypt_block(key.data(), v.key_len, block.data(), block.data());
        EXPECT_EQ(block, block_out) << v.name << " block";
        vek_aes_decrypt_block(key.data(), v.key_len, block.data(), block.data());
        EXPECT_EQ(block, Bytes(plain.begin(), plain.begin() + 16)) << v.name << " block";
    }
}

TEST_P(AesTest, InvalidArgumentsLogAndLeaveOutputUntouched) {
    LogLevel level(AGENT_LOG_WARN);
    const Bytes key(32, 0x11), iv(16, 0x22), in(48, 0x33);
    for (const CbcVariant &v : kVariants) {
        Bytes out(48, 0xA5);
        const std::string expected_enc = std::string("[ERROR] ") + v.encrypt_error + "\n";
        const std::string expected_dec = std::string("[ERROR] ") + v.decrypt_error + "\n";
        auto ends_with = [](const std::string &s, const std::string &tail) {
            return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
        };
        std::string log =
            captured_stdout([&] { v.encrypt(key.data(), iv.data(), in.data(), out.data(), 20); });
        EXPECT_TRUE(ends_with(log, expected_enc)) << log;
        log = captured_stdout([&] { v.decrypt(key.data(), iv.data(), in.data(), out.data(), 17); });
        EXPECT_TRUE(ends_with(log, expected_dec)) << log;
        log = captured_stdout([&] {
            v.encrypt(nullptr, iv.data(), in.data(), out.data(), 16);
            v.encrypt(key.data(), nullptr, in.data(), out.data(), 16);
            v.encrypt(key.data(), iv.data(), nullptr, out.data(), 16);
            v.encrypt(key.data(), iv.data(), in.data(), nullptr, 16);
            v.decrypt(nullptr, iv.data(), in.data(), out.data(), 16);
            v.decrypt(key.data(), iv.data(), in.data(), nullptr, 16);
        });
        size_t count = 0;
        for (size_t pos = log.find(v.encrypt_error); pos != std::string::npos;
             pos = log.find(v.encrypt_error, pos + 1)) {
            ++count;
        }
        EXPECT_EQ(count, 4u) << log;
        EXPECT_NE(log.find(v.decrypt_error), std::string::npos) << log;
        EXPECT_EQ(out, Bytes(48, 0xA5)) << v.name;
    }

    Bytes out(16, 0xA5);
    std::string log = captured_stdout([&] {
        vek_aes_encrypt_block(key.data(), 20, in.data(), out.data());
        vek_aes_decrypt_block(key.data(), 0, in.data(), out.data());
        vek_aes_encrypt_block(nullptr, 16, in.data(), out.data());
    });
    EXPECT_NE(log.find("vek_aes_encrypt_block: invalid arguments (key_len=20)"), std::string::npos) << log;
    EXPECT_NE(log.find("vek_aes_decrypt_block: invalid arguments (key_len=0)"), std::string::npos) << log;
    EXPECT_EQ(out, Bytes(16, 0xA5));
}

TEST_P(AesTest, ZeroLengthWritesAndLogsNothing) {
    LogLevel level(AGENT_LOG_DEBUG);
    const Bytes key(32, 1), iv(16, 2), in(16, 3);
    Bytes out(16, 0xA5);
    for (const CbcVariant &v : kVariants) {
        std::string log = captured_stdout([&] {
            v.encrypt(key.data(), iv.data(), in.data(), out.data(), 0);
            v.decrypt(key.data(), iv.data(), in.data(), out.data(), 0);
        });
        EXPECT_EQ(log.find("[ERROR]"), std::string::npos) << log;
        EXPECT_EQ(out, Bytes(16, 0xA5));
    }
}

// NIST SP 800-38A F.3.13, F.3.15, F.3.17 (CFB128, same IV, plaintext and keys as F.2).
const std::array<std::string, 3> kSpCfbCipher = {
    "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
    "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6",
    "cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a"
    "2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff",
    "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
    "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471",
};

// Every length, whole blocks or not, gives the front of the published cipher text, and decrypts
// back, in separate buffers and in place.
TEST_P(AesTest, Sp80038aCfb128VectorsAtEveryLength) {
    const Bytes iv = from_hex(kSpIv);
    const Bytes plain = from_hex(kSpPlain);
    for (size_t i = 0; i < kVariants.size(); ++i) {
        const Bytes key = from_hex(kSpKeys[i]);
        const Bytes cipher = from_hex(kSpCfbCipher[i]);
        for (uint32_t len = 0; len <= plain.size(); ++len) {
            SCOPED_TRACE(std::string(kVariants[i].name) + " length " + std::to_string(len));
            const Bytes expected(cipher.begin(), cipher.begin() + len);
            Bytes out(len + 1, 0xA5);  // one byte more: nothing may be written past len
            vek_aes_cfb128_encrypt(key.data(), kVariants[i].key_len, iv.data(), plain.data(), out.data(),
                                   len);
            EXPECT_EQ(Bytes(out.begin(), out.begin() + len), expected);
            EXPECT_EQ(out[len], 0xA5);
            Bytes inplace(plain.begin(), plain.begin() + len);
            inplace.push_back(0);
            vek_aes_cfb128_encrypt(key.data(), kVariants[i].key_len, iv.data(), inplace.data(),
                                   inplace.data(), len);
            EXPECT_EQ(Bytes(inplace.begin(), inplace.begin() + len), expected);
            vek_aes_cfb128_decrypt(key.data(), kVariants[i].key_len, iv.data(), inplace.data(),
                                   inplace.data(), len);
            EXPECT_EQ(Bytes(inplace.begin(), inplace.begin() + len),
                      Bytes(plain.begin(), plain.begin() + len));
        }
    }
}

TEST_P(AesTest, Cfb128RefusesBadArgumentsAndLeavesOutputUntouched) {
    LogLevel level(AGENT_LOG_WARN);
    const Bytes key(32, 0x11), iv(16, 0x22), in(20, 0x33);
    Bytes out(20, 0xA5);
    const std::string log = captured_stdout([&] {
        vek_aes_cfb128_encrypt(key.data(), 20, iv.data(), in.data(), out.data(), 20);
        vek_aes_cfb128_encrypt(nullptr, 16, iv.data(), in.data(), out.data(), 20);
        vek_aes_cfb128_encrypt(key.data(), 16, nullptr, in.data(), out.data(), 20);
        vek_aes_cfb128_decrypt(key.data(), 0, iv.data(), in.data(), out.data(), 20);
        vek_aes_cfb128_decrypt(key.data(), 32, iv.data(), nullptr, out.data(), 20);
        vek_aes_cfb128_decrypt(key.data(), 24, iv.data(), in.data(), nullptr, 20);
    });
    auto count = [&log](const std::string &text) {
        size_t n = 0;
        for (size_t pos = log.find(text); pos != std::string::npos; pos = log.find(text, pos + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("[ERROR] [AES-CFB128加密] 参数无效\n"), 3u) << log;
    EXPECT_EQ(count("[ERROR] [AES-CFB128解密] 参数无效\n"), 3u) << log;
    EXPECT_EQ(out, Bytes(20, 0xA5));
}

INSTANTIATE_TEST_SUITE_P(Paths, AesTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &p) {
                             return p.param ? "AesNi" : "Portable";
                         });

// ---- Both paths against each other ----

TEST(AesPaths, PortableAndHardwareAgreeOnRandomInput) {
    if (vek_aes_set_hw_accel(1) == 0) {
        GTEST_SKIP() << "processor without AES instructions";
    }
    std::mt19937 rng(2024);
    for (int i = 0; i < 600; ++i) {
        const CbcVariant &v = kVariants[static_cast<size_t>(i) % kVariants.size()];
        const uint32_t len = 16 * static_cast<uint32_t>(rng() % 12);
        Bytes key(v.key_len), iv(16), plain(len);
        for (auto *buf : {&key, &iv, &plain}) {
            for (auto &b : *buf) {
                b = static_cast<uint8_t>(rng());
            }
        }
        Bytes hw(len), sw(len), hw_back(len), sw_back(len);
        vek_aes_set_hw_accel(1);
        v.encrypt(key.data(), iv.data(), plain.data(), hw.data(), len);
        v.decrypt(key.data(), iv.data(), plain.data(), hw_back.data(), len);
        vek_aes_set_hw_accel(0);
        v.encrypt(key.data(), iv.data(), plain.data(), sw.data(), len);
        v.decrypt(key.data(), iv.data(), plain.data(), sw_back.data(), len);
        ASSERT_EQ(hw, sw) << v.name << " len " << len;
        ASSERT_EQ(hw_back, sw_back) << v.name << " len " << len;
    }
    vek_aes_set_hw_accel(1);
}

// ---- AES-128-CBC trace ----

std::string hex_spaced(const uint8_t *p, size_t n) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof(buf), "%02x ", p[i]);
        out += buf;
    }
    return out;
}

std::string hex_wrapped(const Bytes &bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 16) {
        if (i != 0) {
            out += "\n      ";
        }
        out += hex_spaced(bytes.data() + i, 16);
    }
    return out;
}

TEST(AesTrace, WrittenOnlyAtDebug) {
    const Bytes key = from_hex(kSpKeys[0]);
    const Bytes iv = from_hex(kSpIv);
    const Bytes plain = from_hex(kSpPlain.substr(0, 64));
    Bytes out(32);
    {
        LogLevel level(AGENT_LOG_INFO);
        EXPECT_EQ(captured_stdout(
                      [&] { vek_aes128_cbc_encrypt(key.data(), iv.data(), plain.data(), out.data(), 32); }),
                  "");
        EXPECT_EQ(to_hex(out), kSpCipher[0].substr(0, 64));
    }
    LogLevel level(AGENT_LOG_DEBUG);
    Bytes traced(32);
    std::string trace = captured_stdout(
        [&] { vek_aes128_cbc_encrypt(key.data(), iv.data(), plain.data(), traced.data(), 32); });
    EXPECT_EQ(traced, out);

    std::string expected = "\n=== AES-128-CBC 加密调试开始 ===\n数据长度: 32 字节 (2 个块)\n";
    // The key and the plaintext (and what only they decide) are masked; IV and cipher text are public.
    expected += "密钥: ***\n";
    expected += "IV: " + hex_spaced(iv.data(), 16) + "\n";
    expected += "明文: ***\n";
    const uint8_t *chain = iv.data();
    for (int k = 0; k < 2; ++k) {
        expected += "\n--- 处理块 " + std::to_string(k) + " ---\n";
        expected += "前一个块: " + hex_spaced(chain, 16) + "\n";
        expected += "当前明文: ***\n";
        expected += "异或结果: ***\n";
        expected += "加密结果: " + hex_spaced(out.data() + 16 * k, 16) + "\n";
        chain = out.data() + 16 * k;
    }
    expected +=
        "\n=== 最终密文输出 ===\n密文: " + hex_wrapped(out) + "\n=== AES-128-CBC 加密调试结束 ===\n\n";
    EXPECT_EQ(trace, expected);
}

TEST(AesTrace, ZeroLengthPrintsHeadingsOnly) {
    LogLevel level(AGENT_LOG_DEBUG);
    const Bytes key(16, 0), iv(16, 0xFF);
    uint8_t dummy = 0x5A;
    std::string trace =
        captured_stdout([&] { vek_aes128_cbc_encrypt(key.data(), iv.data(), &dummy, &dummy, 0); });
    const std::string expected =
        "\n=== AES-128-CBC 加密调试开始 ===\n数据长度: 0 字节 (0 个块)\n密钥: ***"
        "\nIV: " + hex_spaced(iv.data(), 16) +
        "\n明文: ***\n\n=== 最终密文输出 ===\n密文: \n=== AES-128-CBC 加密调试结束 ===\n\n";
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(dummy, 0x5A);
}

TEST(AesTrace, OtherOperationsNeverTrace) {
    LogLevel level(AGENT_LOG_DEBUG);
    const Bytes key(32, 3), iv(16, 4), in(32, 5);
    Bytes out(32);
    std::string log = captured_stdout([&] {
        vek_aes128_cbc_decrypt(key.data(), iv.data(), in.data(), out.data(), 32);
        vek_aes192_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 32);
        vek_aes256_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 32);
        vek_aes_encrypt_block(key.data(), 16, in.data(), out.data());
    });
    EXPECT_EQ(log, "");
}

// ---- Self-tests ----

TEST(AesSelfTest, RoutinesPassOnBothPaths) {
    LogLevel level(AGENT_LOG_WARN);
    for (int hw : {0, 1}) {
        vek_aes_set_hw_accel(hw);
        int raw_failures = -1;
        std::string raw = captured_stdout([&] { raw_failures = test_raw_aes_ecb_standard_vectors(); });
        EXPECT_EQ(raw_failures, 0) << raw;
        EXPECT_EQ(raw.rfind("\n=== 测试7：AES-ECB标准测试（NIST FIPS 197附录C） ===\n", 0), 0u) << raw;
        EXPECT_NE(raw.find("总测试数: 6, 通过: 6, 失败: 0\n"), std::string::npos) << raw;
        EXPECT_EQ(raw.find("❌ [FAIL]"), std::string::npos) << raw;

        int cbc_failures = -1;
        std::string cbc = captured_stdout([&] { cbc_failures = test_aes_with_standard_vectors(); });
        EXPECT_EQ(cbc_failures, 0) << cbc;
        EXPECT_EQ(cbc.rfind("\n=== 测试6：AES加密模块标准测试（基于NIST SP 800-38A标准测试向量） ===\n", 0),
                  0u)
            << cbc;
        EXPECT_NE(cbc.find("总测试数: 10, 通过: 10, 失败: 0\n"), std::string::npos) << cbc;
        size_t passes = 0;
        for (size_t pos = cbc.find("✅ [PASS] "); pos != std::string::npos;
             pos = cbc.find("✅ [PASS] ", pos + 1)) {
            ++passes;
        }
        EXPECT_EQ(passes, 10u);

        int cfb_failures = -1;
        std::string cfb = captured_stdout([&] { cfb_failures = test_aes_cfb_standard_vectors(); });
        EXPECT_EQ(cfb_failures, 0) << cfb;
        EXPECT_NE(cfb.find("总测试数: 7, 通过: 7, 失败: 0\n"), std::string::npos) << cfb;
    }
    vek_aes_set_hw_accel(1);
}

}  // namespace
