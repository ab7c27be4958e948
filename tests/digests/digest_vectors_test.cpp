// Published test vectors for MD5, SHA-1 and the SHA-2 digests, their HMACs and PBKDF2, on every SHA
// back end.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/crypto_vek.h"
#include "crypto/md5_vek.h"
#include "crypto/sha1_vek.h"
#include "crypto/sha256_vek.h"
#include "crypto/sha512_vek.h"
#include "digest_test_util.h"

namespace {

using digest_test::Bytes;
using digest_test::from_hex;
using digest_test::from_text;
using digest_test::to_hex;

struct DigestVector {
    Bytes message;
    const char *hex;
};

Bytes repeated(uint8_t byte, size_t count) { return Bytes(count, byte); }

// The hash of `message` through vek_hash_* fed in pieces of `piece` bytes (0: one update).
std::string hash_in_pieces(int32_t alg, const Bytes &message, size_t piece) {
    vek_hash_ctx ctx;
    EXPECT_EQ(vek_hash_init(&ctx, alg), VEK_OK);
    const size_t step = piece == 0 ? message.size() : piece;
    for (size_t off = 0; off < message.size(); off += step) {
        const size_t n = std::min(step, message.size() - off);
        EXPECT_EQ(vek_hash_update(&ctx, message.data() + off, static_cast<uint32_t>(n)), VEK_OK);
    }
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
    uint32_t out_len = 0;
    EXPECT_EQ(vek_hash_final(&ctx, out.data(), &out_len), VEK_OK);
    return to_hex(out.data(), out_len);
}

void expect_digest_vectors(int32_t alg, const std::vector<DigestVector> &vectors) {
    for (const auto &v : vectors) {
        SCOPED_TRACE("message length " + std::to_string(v.message.size()));
        EXPECT_EQ(hash_in_pieces(alg, v.message, 0), v.hex);
        EXPECT_EQ(hash_in_pieces(alg, v.message, 1), v.hex);
        EXPECT_EQ(hash_in_pieces(alg, v.message, 63), v.hex);
    }
}

// Padding boundaries: 55 bytes fit with the length in one block, 56 need a second block.
Bytes a_times(size_t n) { return repeated('a', n); }

// ---- MD5 (no back ends) ----

TEST(Md5Vectors, Rfc1321SuiteAndPaddingBoundaries) {
    expect_digest_vectors(VEK_ALG_MD5,
                          {
                              {from_text(""), "d41d8cd98f00b204e9800998ecf8427e"},
                              {from_text("a"), "0cc175b9c0f1b6a831c399e269772661"},
                              {from_text("abc"), "900150983cd24fb0d6963f7d28e17f72"},
                              {from_text("message digest"), "f96b697d7cb7938d525a2f31aaf161d0"},
                              {from_text("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b"},
                              {from_text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
                               "d174ab98d277d9f5a5611c2c9f419d9f"},
                              {from_text("1234567890123456789012345678901234567890123456789012345678901234567890"
                                         "1234567890"),
                               "57edf4a22be3c955ac49da2e2107b67a"},
                              {a_times(55), "ef1772b6dff9a122358552954ad0df65"},
                              {a_times(56), "3b0c8ac703f828b04c6c197006d17218"},
                              {a_times(63), "b06521f39153d618550606be297466d5"},
                              {a_times(64), "014842d480b571495a4a0363793f7367"},
                          });
}

TEST(Md5Vectors, OneShotFinalWipeAndNullArguments) {
    std::array<uint8_t, VEK_MD5_DIGEST_SIZE> out{};
    const Bytes abc = from_text("abc");
    vek_md5(abc.data(), 3, out.data());
    EXPECT_EQ(to_hex(out.data(), out.size()), "900150983cd24fb0d6963f7d28e17f72");

    vek_md5_ctx ctx;
    vek_md5_init(&ctx);
    vek_md5_update(&ctx, abc.data(), 3);
    vek_md5_final(&ctx, out.data());
    const vek_md5_ctx zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0) << "final must wipe the context";

    std::array<uint8_t, VEK_MD5_DIGEST_SIZE> untouched;
    untouched.fill(0xEE);
    out = untouched;
    vek_md5(nullptr, 3, out.data());
    vek_hmac_md5(abc.data(), 0, abc.data(), 3, out.data());
    vek_hmac_md5(abc.data(), 3, abc.data(), 0, out.data());
    vek_hmac_md5(nullptr, 3, abc.data(), 3, out.data());
    EXPECT_EQ(out, untouched) << "refused calls must leave the output untouched";
}

TEST(Md5Vectors, BitCounterCarriesIntoHighWord) {
    vek_md5_ctx ctx;
    vek_md5_init(&ctx);
    ctx.count[0] = 0xFFFFFE00u;  // 64 bytes short of 2^32 bits, empty buffer
    const Bytes block = a_times(VEK_MD5_BLOCK_SIZE);
    vek_md5_update(&ctx, block.data(), VEK_MD5_BLOCK_SIZE);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5Vectors, HmacRfc2202ThroughBothInterfaces) {
    struct Case {
        Bytes key;
        Bytes data;
        const char *hex;
    };
    const Bytes key25 = from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819");
    const std::vector<Case> cases = {
        {repeated(0x0B, 16), from_text("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {from_text("Jefe"), from_text("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {repeated(0xAA, 16), repeated(0xDD, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key25, repeated(0xCD, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
        {repeated(0x0C, 16), from_text("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        {repeated(0xAA, 80), from_text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {repeated(0xAA, 80),
         from_text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto &c : cases) {
        std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
        uint32_t out_len = 0;
        ASSERT_EQ(vek_hmac(VEK_ALG_MD5, c.key.data(), static_cast<uint32_t>(c.key.size()), c.data.data(),
                           static_cast<uint32_t>(c.data.size()), out.data(), &out_len),
                  VEK_OK);
        EXPECT_EQ(to_hex(out.data(), out_len), c.hex);
        out.fill(0);
        vek_hmac_md5(c.key.data(), static_cast<uint16_t>(c.key.size()), c.data.data(),
                     static_cast<uint16_t>(c.data.size()), out.data());
        EXPECT_EQ(to_hex(out.data(), VEK_MD5_DIGEST_SIZE), c.hex);
    }
}

TEST(Md5Vectors, SelfTestPasses) { EXPECT_EQ(test_vek_md5_standard_cases(), 0); }

// ---- SHA-1 and SHA-256 on each back end ----

class ShaVectors : public digest_test::ShaBackendTest {};

TEST_P(ShaVectors, Sha1Rfc3174AndPaddingBoundaries) {
    expect_digest_vectors(VEK_ALG_SHA1,
                          {
                              {from_text(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
                              {from_text("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
                              {from_text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                               "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
                              {[] {
                                   Bytes b;
                                   for (int i = 0; i < 80; ++i) {
                                       const Bytes part = from_text("01234567");
                                       b.insert(b.end(), part.begin(), part.end());
                                   }
                                   return b;
                               }(),
                               "dea356a2cddd90c7a7ecedc5ebb563934f460452"},
                              {a_times(55), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
                              {a_times(56), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
                              {a_times(63), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
                              {a_times(64), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
                          });
    std::array<uint8_t, VEK_SHA1_DIGEST_SIZE> out{};
    const Bytes million = a_times(1000000);
    sha1(million.data(), static_cast<uint32_t>(million.size()), out.data());
    EXPECT_EQ(to_hex(out.data(), out.size()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    sha1(nullptr, 0, out.data());
    EXPECT_EQ(to_hex(out.data(), out.size()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST_P(ShaVectors, Sha256Fips180AndPaddingBoundaries) {
    expect_digest_vectors(VEK_ALG_SHA256,
                          {
                              {from_text(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                              {from_text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                              {from_text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
                              {a_times(55), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
                              {a_times(56), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
                              {a_times(63), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
                              {a_times(64), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
                          });
    const Bytes million = a_times(1000000);
    EXPECT_EQ(hash_in_pieces(VEK_ALG_SHA256, million, 1000),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(ShaVectors, Sha224Fips180AndPaddingBoundaries) {
    expect_digest_vectors(VEK_ALG_SHA224,
                          {
                              {from_text(""), "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
                              {from_text("abc"), "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
                              {from_text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
                               "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
                              {a_times(55), "fb0bd626a70c28541dfa781bb5cc4d7d7f56622a58f01a0b1ddd646f"},
                              {a_times(56), "d40854fc9caf172067136f2e29e1380b14626bf6f0dd06779f820dcd"},
                              {a_times(64), "a88cd5cde6d6fe9136a4e58b49167461ea95d388ca2bdb7afdc3cbf4"},
                          });
    EXPECT_EQ(hash_in_pieces(VEK_ALG_SHA224, a_times(1000000), 1000),
              "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67");
}

TEST_P(ShaVectors, CompressionFunctionsOnAPaddedBlock) {
    // "abc" padded into one block: the compression from the initial state is the digest.
    std::array<uint8_t, 64> block{};
    block[0] = 'a';
    block[1] = 'b';
    block[2] = 'c';
    block[3] = 0x80;
    block[63] = 24;  // bit length
    std::array<uint32_t, 5> s1 = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    sha1_compress(s1.data(), block.data());
    EXPECT_EQ(s1, (std::array<uint32_t, 5>{0xA9993E36u, 0x4706816Au, 0xBA3E2571u, 0x7850C26Cu, 0x9CD0D89Du}));
    std::array<uint32_t, 8> s256 = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};
    vek_sha256_compress(s256.data(), block.data());
    EXPECT_EQ(s256, (std::array<uint32_t, 8>{0xBA7816BFu, 0x8F01CFEAu, 0x414140DEu, 0x5DAE2223u, 0xB00361A3u,
                                             0x96177A9Cu, 0xB410FF61u, 0xF20015ADu}));
}

TEST_P(ShaVectors, ByteCountersCarryAndFinalWipes) {
    const Bytes block = a_times(64);
    vek_sha1_ctx c1;
    vek_sha1_init(&c1);
    c1.count[0] = 0xFFFFFFC0u;
    vek_sha1_update(&c1, block.data(), 64);
    EXPECT_EQ(c1.count[0], 0u);
    EXPECT_EQ(c1.count[1], 1u);
    vek_sha256_ctx c256;
    vek_sha256_init(&c256);
    c256.count[0] = 0xFFFFFFC0u;
    vek_sha256_update(&c256, block.data(), 64);
    EXPECT_EQ(c256.count[1], 1u);

    std::array<uint8_t, 32> out{};
    vek_sha1_final(&c1, out.data());
    vek_sha256_final(&c256, out.data());
    const vek_sha1_ctx zero1{};
    const vek_sha256_ctx zero256{};
    EXPECT_EQ(std::memcmp(&c1, &zero1, sizeof c1), 0);
    EXPECT_EQ(std::memcmp(&c256, &zero256, sizeof c256), 0);
}

TEST_P(ShaVectors, HmacSha1Rfc2202ThroughBothInterfaces) {
    struct Case {
        Bytes key;
        Bytes data;
        const char *hex;
    };
    const Bytes key25 = from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819");
    const std::vector<Case> cases = {
        {repeated(0x0B, 20), from_text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {from_text("Jefe"), from_text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {repeated(0xAA, 20), repeated(0xDD, 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key25, repeated(0xCD, 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {repeated(0x0C, 20), from_text("Test With Truncation"), "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {repeated(0xAA, 80), from_text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {repeated(0xAA, 80),
         from_text("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto &c : cases) {
        std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
        uint32_t out_len = 0;
        ASSERT_EQ(vek_hmac(VEK_ALG_SHA1, c.key.data(), static_cast<uint32_t>(c.key.size()), c.data.data(),
                           static_cast<uint32_t>(c.data.size()), out.data(), &out_len),
                  VEK_OK);
        EXPECT_EQ(to_hex(out.data(), out_len), c.hex);
        out.fill(0);
        hmac_sha1(c.key.data(), static_cast<uint32_t>(c.key.size()), c.data.data(),
                  static_cast<uint32_t>(c.data.size()), out.data());
        EXPECT_EQ(to_hex(out.data(), VEK_SHA1_DIGEST_SIZE), c.hex);
    }
}

// RFC 4231: one set of keys and messages, the MACs of each SHA-2 digest (test case 5 publishes
// only the first 128 bits). Keys of 131 bytes are longer than every block and are hashed first.
TEST_P(ShaVectors, HmacSha2Rfc4231IncludingLongKeys) {
    struct Inputs {
        Bytes key;
        Bytes data;
    };
    const std::vector<Inputs> inputs = {
        {repeated(0x0B, 20), from_text("Hi There")},
        {from_text("Jefe"), from_text("what do ya want for nothing?")},
        {repeated(0xAA, 20), repeated(0xDD, 50)},
        {from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"), repeated(0xCD, 50)},
        {repeated(0x0C, 20), from_text("Test With Truncation")},
        {repeated(0xAA, 131), from_text("Test Using Larger Than Block-Size Key - Hash Key First")},
        {repeated(0xAA, 131),
         from_text(
             "This is a test using a larger than block-size key and a larger than block-size data. The key "
             "needs to be hashed before being used by the HMAC algorithm.")},
    };
    struct Macs {
        int32_t alg;
        uint32_t size;
        std::array<const char *, 7> hex;
    };
    // clang-format off
    const std::vector<Macs> macs = {
        {VEK_ALG_SHA224, 28, {
            "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22",
            "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
            "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea",
            "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
            "0e2aea68a90c8d37c988bcdb9fca6fa8",
            "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
            "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1",
        }},
        {VEK_ALG_SHA256, 32, {
            "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
            "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
            "a3b6167473100ee06e0c796c2955552b",
            "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
            "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
        }},
        {VEK_ALG_SHA384, 48, {
            "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
            "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
            "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
            "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
            "3abf34c3503b2a23a46efc619baef897",
            "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
            "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
        }},
        {VEK_ALG_SHA512, 64, {
            "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
            "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854",
            "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea250554"
            "9758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737",
            "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39"
            "bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb",
            "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3db"
            "a91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd",
            "415fad6271580a531d4179bc891d87a6",
            "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
            "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598",
            "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944"
            "b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58",
        }},
    };
    // clang-format on
    for (const auto &m : macs) {
        for (size_t i = 0; i < inputs.size(); ++i) {
            std::array<uint8_t, VEK_MAX_DIGEST_SIZE> out{};
            uint32_t out_len = 0;
            ASSERT_EQ(vek_hmac(m.alg, inputs[i].key.data(), static_cast<uint32_t>(inputs[i].key.size()),
                               inputs[i].data.data(), static_cast<uint32_t>(inputs[i].data.size()),
                               out.data(), &out_len),
                      VEK_OK);
            ASSERT_EQ(out_len, m.size);
            const std::string hex = to_hex(out.data(), out_len);
            EXPECT_EQ(hex.substr(0, std::strlen(m.hex[i])), m.hex[i])
                << "alg " << m.alg << " test case " << i + 1;
        }
    }
}

TEST_P(ShaVectors, Pbkdf2HmacSha1Rfc6070) {
    struct Case {
        Bytes password;
        Bytes salt;
        uint32_t iterations;
        const char *hex;
    };
    const std::vector<Case> cases = {
        {from_text("password"), from_text("salt"), 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {from_text("password"), from_text("salt"), 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {from_text("password"), from_text("salt"), 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {from_text("passwordPASSWORDpassword"), from_text("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {Bytes{'p', 'a', 's', 's', 0, 'w', 'o', 'r', 'd'}, Bytes{'s', 'a', 0, 'l', 't'}, 4096,
         "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto &c : cases) {
        const Bytes expected = from_hex(c.hex);
        Bytes out(expected.size());
        ASSERT_EQ(vek_snmpv3_pbkdf2(VEK_ALG_SHA1, c.password.data(), static_cast<uint32_t>(c.password.size()),
                                    c.salt.data(), static_cast<uint32_t>(c.salt.size()), c.iterations, out.data(),
                                    static_cast<uint32_t>(out.size())),
                  VEK_OK);
        EXPECT_EQ(to_hex(out), c.hex) << "iterations " << c.iterations;
    }
}

TEST_P(ShaVectors, Sha1SelfTestPasses) { EXPECT_EQ(test_sha1_standard_cases(), 0); }

TEST_P(ShaVectors, Sha2SelfTestsPass) {
    EXPECT_EQ(test_sha224_standard_cases(), 0);
    EXPECT_EQ(test_sha512_standard_cases(), 0);
    EXPECT_EQ(test_vek_hmac_sha2_standard_cases(), 0);
}

DIGEST_INSTANTIATE_BACKENDS(ShaVectors);

// ---- SHA-384 and SHA-512 (one portable back end) ----

TEST(Sha512Vectors, Fips180AndPaddingBoundaries) {
    const Bytes message896 = from_text(
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
        "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu");
    expect_digest_vectors(
        VEK_ALG_SHA384,
        {
            {from_text(""),
             "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f1"
             "4898b95b"},
            {from_text("abc"),
             "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca1"
             "34c825a7"},
            {message896,
             "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa"
             "91746039"},
            {a_times(111),
             "3c37955051cb5c3026f94d551d5b5e2ac38d572ae4e07172085fed81f8466b8f90dc23a8ffcdea0b8d8e58e8"
             "fdacc80a"},
            {a_times(112),
             "187d4e07cb306103c69967bf544d0dfbe9042577599c73c330abc0cb64c61236d5ed565ee19119d8c31779a3"
             "8f791fcd"},
        });
    expect_digest_vectors(
        VEK_ALG_SHA512,
        {
            {from_text(""),
             "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2"
             "877eec2f63b931bd47417a81a538327af927da3e"},
            {from_text("abc"),
             "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23"
             "a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
            {message896,
             "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99de"
             "c4b5433ac7d329eeb6dd26545e96e55b874be909"},
            {a_times(111),
             "fa9121c7b32b9e01733d034cfc78cbf67f926c7ed83e82200ef86818196921760b4beff48404df811b953828"
             "274461673c68d04e297b0eb7b2b4d60fc6b566a2"},
            {a_times(112),
             "c01d080efd492776a1c43bd23dd99d0a2e626d481e16782e75d54c2503b5dc32bd05f0f1ba33e568b88fd2d9"
             "70929b719ecbb152f58f130a407c8830604b70ca"},
            {a_times(128),
             "b73d1929aa615934e61a871596b3f3b33359f42b8175602e89f7e06e5f658a243667807ed300314b95cacdd5"
             "79f3e33abdfbe351909519a846d465c59582f321"},
        });
    EXPECT_EQ(hash_in_pieces(VEK_ALG_SHA512, a_times(1000000), 1000),
              "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c3"
              "1beb009c5c"
              "2c49aa2e4eadb217ad8cc09b");
}

TEST(Sha512Vectors, ByteCounterCarriesAndFinalWipes) {
    vek_sha512_ctx ctx;
    vek_sha512_init(&ctx);
    ctx.count[0] = UINT64_MAX - (VEK_SHA512_BLOCK_SIZE - 1);
    const Bytes block = a_times(VEK_SHA512_BLOCK_SIZE);
    vek_sha512_update(&ctx, block.data(), VEK_SHA512_BLOCK_SIZE);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
    std::array<uint8_t, VEK_SHA512_DIGEST_SIZE> out{};
    vek_sha512_final(&ctx, out.data());
    const vek_sha512_ctx zero{};
    EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
}

}  // namespace
