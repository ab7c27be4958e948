// DES and triple DES: known answers, modes, argument checks and their messages, in-place use and
// the self-test routine.
#include <array>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "crypto/des_vek.h"
#include "tests/ciphers/cipher_test_util.h"

namespace {

using cipher_test::Bytes;
using cipher_test::captured_stdout;
using cipher_test::from_hex;
using cipher_test::LogLevel;
using cipher_test::to_hex;

size_t count_of(const std::string &haystack, const std::string &needle) {
    size_t count = 0;
    for (size_t pos = haystack.find(needle); pos != std::string::npos; pos = haystack.find(needle, pos + 1)) {
        ++count;
    }
    return count;
}

Bytes random_bytes(std::mt19937 &rng, size_t n) {
    Bytes out(n);
    for (auto &b : out) {
        b = static_cast<uint8_t>(rng());
    }
    return out;
}

TEST(DesBlock, KnownAnswers) {
    struct Case {
        const char *key, *plain, *cipher;
    };
    // FIPS 81 "Now is t", the textbook worked example, and the classic key/plaintext vectors.
    const Case cases[] = {
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0000000000000000", "0000000000000000", "8ca64de9c1b123a7"},
        {"ffffffffffffffff", "ffffffffffffffff", "7359b2163e4edc58"},
        {"3000000000000000", "1000000000000001", "958e6e627a05557b"},
        {"1111111111111111", "1111111111111111", "f40379ab9e0ec533"},
        {"0123456789abcdef", "1111111111111111", "17668dfc7292532d"},
        {"1111111111111111", "0123456789abcdef", "8a5ae1f81ab8f2dd"},
        {"fedcba9876543210", "0123456789abcdef", "ed39d950fa74bcc4"},
        {"7ca110454a1a6e57", "01a1d6d039776742", "690f5b0d9a26939b"},
        {"0131d9619dc1376e", "5cd54ca83def57da", "7a389d10354bd271"},
    };
    for (const Case &c : cases) {
        const Bytes key = from_hex(c.key), plain = from_hex(c.plain), cipher = from_hex(c.cipher);
        Bytes out(8);
        vek_des_encrypt_block(key.data(), plain.data(), out.data());
        EXPECT_EQ(to_hex(out), c.cipher) << "key " << c.key;
        vek_des_decrypt_block(key.data(), cipher.data(), out.data());
        EXPECT_EQ(to_hex(out), c.plain) << "key " << c.key;
    }
}

TEST(DesBlock, ParityBitsAreIgnored) {
    const Bytes plain = from_hex("4e6f772069732074");
    Bytes a(8), b(8);
    vek_des_encrypt_block(from_hex("0123456789abcdef").data(), plain.data(), a.data());
    vek_des_encrypt_block(from_hex("0022446688aaccee").data(), plain.data(), b.data());
    EXPECT_EQ(a, b);
}

TEST(DesBlock, TripleDesKnownAnswerAndKeyOrder) {
    // NIST SP 800-67 example, all three blocks.
    const Bytes key = from_hex("0123456789abcdef23456789abcdef01456789abcdef0123");
    const Bytes plain = from_hex(
        "5468652071756663"  // "The qufc"
        "6b2062726f776e20666f78206a756d70");
    const std::string cipher = "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900";
    Bytes out(24);
    vek_des3_ecb_encrypt(key.data(), plain.data(), 24, out.data());
    EXPECT_EQ(to_hex(out), cipher);
    vek_des3_ecb_decrypt(key.data(), out.data(), 24, out.data());
    EXPECT_EQ(out, plain);

    // Encrypt is E(K1) D(K2) E(K3): build it from single DES.
    Bytes step(8), expected(8);
    vek_des_encrypt_block(key.data(), plain.data(), step.data());
    vek_des_decrypt_block(key.data() + 8, step.data(), step.data());
    vek_des_encrypt_block(key.data() + 16, step.data(), expected.data());
    Bytes block(8);
    vek_des3_encrypt_block(key.data(), plain.data(), block.data());
    EXPECT_EQ(block, expected);
    vek_des3_decrypt_block(key.data(), block.data(), block.data());
    EXPECT_EQ(block, Bytes(plain.begin(), plain.begin() + 8));
}

TEST(DesModes, Fips81EcbAndCbc) {
    const Bytes key = from_hex("0123456789abcdef"), iv = from_hex("1234567890abcdef");
    const std::string text = "Now is the time for all ";
    const Bytes plain(text.begin(), text.end());
    Bytes out(24);
    vek_des_ecb_encrypt(key.data(), plain.data(), 24, out.data());
    EXPECT_EQ(to_hex(out), "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53");
    vek_des_ecb_decrypt(key.data(), out.data(), 24, out.data());
    EXPECT_EQ(out, plain);
    vek_des_cbc_encrypt(key.data(), iv.data(), plain.data(), out.data(), 24);
    EXPECT_EQ(to_hex(out), "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");
    Bytes back(24);
    vek_des_cbc_decrypt(key.data(), iv.data(), out.data(), back.data(), 24);
    EXPECT_EQ(back, plain);
    EXPECT_EQ(iv, from_hex("1234567890abcdef"));
}

TEST(DesModes, TripleWithEqualKeysEqualsSingle) {
    std::mt19937 rng(11);
    for (int i = 0; i < 20; ++i) {
        const Bytes key = random_bytes(rng, 8), iv = random_bytes(rng, 8), plain = random_bytes(rng, 40);
        Bytes key3;
        for (int k = 0; k < 3; ++k) {
            key3.insert(key3.end(), key.begin(), key.end());
        }
        Bytes single(40), triple(40);
        vek_des_cbc_encrypt(key.data(), iv.data(), plain.data(), single.data(), 40);
        vek_des3_cbc_encrypt(key3.data(), iv.data(), plain.data(), triple.data(), 40);
        EXPECT_EQ(single, triple);
        vek_des_ecb_encrypt(key.data(), plain.data(), 40, single.data());
        vek_des3_ecb_encrypt(key3.data(), plain.data(), 40, triple.data());
        EXPECT_EQ(single, triple);
        vek_des_encrypt_block(key.data(), plain.data(), single.data());
        vek_des3_encrypt_block(key3.data(), plain.data(), triple.data());
        EXPECT_EQ(Bytes(single.begin(), single.begin() + 8), Bytes(triple.begin(), triple.begin() + 8));
        vek_des_decrypt_block(key.data(), plain.data(), single.data());
        vek_des3_decrypt_block(key3.data(), plain.data(), triple.data());
        EXPECT_EQ(Bytes(single.begin(), single.begin() + 8), Bytes(triple.begin(), triple.begin() + 8));
    }
}

// Every operation may write its output over its input, including both CBC decryptions.
TEST(DesModes, InPlaceMatchesSeparateBuffers) {
    using Mode = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, uint32_t);
    using Ecb = void (*)(const uint8_t *, const uint8_t *, uint32_t, uint8_t *);
    std::mt19937 rng(5);
    const Bytes key = random_bytes(rng, 24), iv = random_bytes(rng, 8), plain = random_bytes(rng, 64);
    for (Mode mode : {vek_des_cbc_encrypt, vek_des_cbc_decrypt, vek_des3_cbc_encrypt, vek_des3_cbc_decrypt}) {
        Bytes separate(64);
        mode(key.data(), iv.data(), plain.data(), separate.data(), 64);
        Bytes inplace = plain;
        mode(key.data(), iv.data(), inplace.data(), inplace.data(), 64);
        EXPECT_EQ(inplace, separate);
    }
    for (Ecb mode : {vek_des_ecb_encrypt, vek_des_ecb_decrypt, vek_des3_ecb_encrypt, vek_des3_ecb_decrypt}) {
        Bytes separate(64);
        mode(key.data(), plain.data(), 64, separate.data());
        Bytes inplace = plain;
        mode(key.data(), inplace.data(), 64, inplace.data());
        EXPECT_EQ(inplace, separate);
    }
}

TEST(DesModes, ProgressMessagesAtInfo) {
    const Bytes key(24, 0x42), iv(8, 1), in(16, 2);
    Bytes out(16);
    {
        LogLevel level(AGENT_LOG_WARN);
        EXPECT_EQ(
            captured_stdout([&] { vek_des_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 16); }),
            "");
    }
    LogLevel level(AGENT_LOG_INFO);
    struct Case {
        std::function<void()> call;
        const char *start;
        const char *done;
    };
    const Case cases[] = {
        {[&] { vek_des_ecb_encrypt(key.data(), in.data(), 16, out.data()); }, "ECB加密开始: 处理 16 字节数据",
         "ECB加密完成"},
        {[&] { vek_des_ecb_decrypt(key.data(), in.data(), 16, out.data()); }, "ECB解密开始: 处理 16 字节数据",
         "ECB解密完成"},
        {[&] { vek_des_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 16); },
         "CBC加密开始: 处理 16 字节数据", "CBC加密完成"},
        {[&] { vek_des_cbc_decrypt(key.data(), iv.data(), in.data(), out.data(), 16); },
         "CBC解密开始: 处理 16 字节数据", "CBC解密完成"},
        {[&] { vek_des3_ecb_encrypt(key.data(), in.data(), 16, out.data()); },
         "3DES-ECB加密开始: 处理 16 字节数据", "3DES-ECB加密完成"},
        {[&] { vek_des3_ecb_decrypt(key.data(), in.data(), 16, out.data()); },
         "3DES-ECB解密开始: 处理 16 字节数据", "3DES-ECB解密完成"},
        {[&] { vek_des3_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 16); },
         "3DES-CBC加密开始: 处理 16 字节数据", "3DES-CBC加密完成"},
        {[&] { vek_des3_cbc_decrypt(key.data(), iv.data(), in.data(), out.data(), 16); },
         "3DES-CBC解密开始: 处理 16 字节数据", "3DES-CBC解密完成"},
    };
    for (const Case &c : cases) {
        std::string log = captured_stdout(c.call);
        size_t start = log.find(std::string("[INFO] ") + c.start + "\n");
        size_t done = log.find(std::string("[INFO] ") + c.done + "\n");
        EXPECT_NE(start, std::string::npos) << log;
        EXPECT_NE(done, std::string::npos) << log;
        EXPECT_LT(start, done) << log;
        EXPECT_EQ(count_of(log, "\n"), 2u) << log;
    }
}

TEST(DesModes, InvalidArgumentsLogAndLeaveOutputUntouched) {
    LogLevel level(AGENT_LOG_INFO);
    const Bytes key(24, 0x42), iv(8, 1), in(24, 2);
    Bytes out(24, 0xA5);
    const Bytes untouched = out;

    std::string log =
        captured_stdout([&] { vek_des_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), 12); });
    EXPECT_EQ(log.substr(log.find("] [") + 2), "[ERROR] CBC加密: 无效参数, len=12\n");
    EXPECT_EQ(out, untouched);

    struct Case {
        std::function<void(uint32_t)> call;
        const char *prefix;
    };
    const Case cases[] = {
        {[&](uint32_t n) { vek_des_ecb_encrypt(key.data(), in.data(), n, out.data()); }, "ECB加密"},
        {[&](uint32_t n) { vek_des_ecb_decrypt(key.data(), in.data(), n, out.data()); }, "ECB解密"},
        {[&](uint32_t n) { vek_des_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), n); },
         "CBC加密"},
        {[&](uint32_t n) { vek_des_cbc_decrypt(key.data(), iv.data(), in.data(), out.data(), n); },
         "CBC解密"},
        {[&](uint32_t n) { vek_des3_ecb_encrypt(key.data(), in.data(), n, out.data()); }, "3DES-ECB加密"},
        {[&](uint32_t n) { vek_des3_ecb_decrypt(key.data(), in.data(), n, out.data()); }, "3DES-ECB解密"},
        {[&](uint32_t n) { vek_des3_cbc_encrypt(key.data(), iv.data(), in.data(), out.data(), n); },
         "3DES-CBC加密"},
        {[&](uint32_t n) { vek_des3_cbc_decrypt(key.data(), iv.data(), in.data(), out.data(), n); },
         "3DES-CBC解密"},
    };
    for (const Case &c : cases) {
        for (uint32_t len : {0u, 7u, 12u, 23u}) {
            log = captured_stdout([&] { c.call(len); });
            const std::string expected =
                std::string("[ERROR] ") + c.prefix + ": 无效参数, len=" + std::to_string(len);
            EXPECT_NE(log.find(expected + "\n"), std::string::npos) << log;
            EXPECT_EQ(log.find("[INFO]"), std::string::npos) << log;
        }
    }
    EXPECT_EQ(out, untouched);

    log = captured_stdout([&] {
        vek_des_ecb_encrypt(nullptr, in.data(), 8, out.data());
        vek_des_ecb_decrypt(key.data(), nullptr, 8, out.data());
        vek_des3_ecb_encrypt(key.data(), in.data(), 8, nullptr);
        vek_des_cbc_encrypt(key.data(), nullptr, in.data(), out.data(), 8);
        vek_des_cbc_decrypt(nullptr, iv.data(), in.data(), out.data(), 8);
        vek_des3_cbc_encrypt(key.data(), iv.data(), nullptr, out.data(), 8);
        vek_des3_cbc_decrypt(key.data(), iv.data(), in.data(), nullptr, 8);
    });
    EXPECT_EQ(count_of(log, "无效参数, len=8\n"), 7u) << log;
    EXPECT_EQ(out, untouched);

    log = captured_stdout([&] {
        vek_des_encrypt_block(nullptr, in.data(), out.data());
        vek_des_decrypt_block(key.data(), nullptr, out.data());
        vek_des3_encrypt_block(key.data(), in.data(), nullptr);
        vek_des3_decrypt_block(nullptr, in.data(), out.data());
    });
    EXPECT_NE(log.find("[ERROR] DES加密块: 参数为空\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[ERROR] DES解密块: 参数为空\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[ERROR] 3DES加密块: 参数为空\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[ERROR] 3DES解密块: 参数为空\n"), std::string::npos) << log;
    EXPECT_EQ(out, untouched);
}

TEST(DesHelpers, BytesToUint64IsBigEndian) {
    const Bytes b = from_hex("0123456789abcdef");
    EXPECT_EQ(bytes_to_uint64(b.data()), 0x0123456789ABCDEFull);
    EXPECT_EQ(bytes_to_uint64(nullptr), 0u);
}

TEST(DesSelfTest, AllTwentyTwoChecksPass) {
    LogLevel level(AGENT_LOG_INFO);
    int failures = -1;
    std::string log = captured_stdout([&] { failures = test_vek_des_standard_cases(); });
    EXPECT_EQ(failures, 0) << log;
    EXPECT_EQ(count_of(log, "[INFO] ✅ [PASS] "), 22u) << log;
    EXPECT_NE(log.find("[INFO] 总测试数: 22\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] 通过数: 22\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] 失败数: 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[INFO] 通过率: 100.0%\n"), std::string::npos) << log;
}

}  // namespace
