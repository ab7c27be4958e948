// Differential tests: digests, HMACs and PBKDF2 against OpenSSL's libcrypto on random inputs, and
// the two SHA compression back ends against each other.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "crypto/crypto_vek.h"
#include "digest_test_util.h"

namespace {

using digest_test::Bytes;
using digest_test::to_hex;

constexpr uint32_t kSeed = 20240611;

const EVP_MD *openssl_md(int32_t alg) {
    switch (alg) {
        case VEK_ALG_MD5: return EVP_md5();
        case VEK_ALG_SHA1: return EVP_sha1();
        case VEK_ALG_SHA224:
            return EVP_sha224();
        case VEK_ALG_SHA384:
            return EVP_sha384();
        case VEK_ALG_SHA512:
            return EVP_sha512();
        default: return EVP_sha256();
    }
}

constexpr std::array<int32_t, 6> kDigests = {VEK_ALG_MD5,    VEK_ALG_SHA1,   VEK_ALG_SHA224,
                                             VEK_ALG_SHA256, VEK_ALG_SHA384, VEK_ALG_SHA512};
constexpr std::array<int32_t, 3> kPbkdf2Digests = {VEK_ALG_MD5, VEK_ALG_SHA1, VEK_ALG_SHA256};

class RandomBytes {
public:
    explicit RandomBytes(uint32_t seed) : rng_(seed) {}
    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
    uint32_t between(uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng_); }
    // Never an empty vector, so data() is a valid pointer even for zero-length inputs.
    Bytes bytes(uint32_t n) {
        Bytes b(n + 1);
        for (auto &x : b) {
            x = static_cast<uint8_t>(rng_());
        }
        b.resize(n);
        return b;
    }

private:
    std::mt19937 rng_;
};

class DigestOpenSslDiff : public digest_test::ShaBackendTest {};

TEST_P(DigestOpenSslDiff, DigestsInRandomPiecesMatch) {
    RandomBytes rnd(kSeed);
    constexpr int kCases = 2000;
    constexpr uint32_t kMaxLen = 700;  // several 64- and 128-byte blocks
    for (int32_t alg : kDigests) {
        for (int i = 0; i < kCases; ++i) {
            const Bytes msg = rnd.bytes(rnd.between(0, kMaxLen));
            vek_hash_ctx ctx;
            ASSERT_EQ(vek_hash_init(&ctx, alg), VEK_OK);
            for (size_t off = 0; off < msg.size();) {
                const size_t n = std::min<size_t>(rnd.between(1, 150), msg.size() - off);
                ASSERT_EQ(vek_hash_update(&ctx, msg.data() + off, static_cast<uint32_t>(n)), VEK_OK);
                off += n;
            }
            std::array<uint8_t, EVP_MAX_MD_SIZE> ours{};
            std::array<uint8_t, EVP_MAX_MD_SIZE> theirs{};
            uint32_t our_len = 0;
            unsigned their_len = 0;
            ASSERT_EQ(vek_hash_final(&ctx, ours.data(), &our_len), VEK_OK);
            ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), theirs.data(), &their_len, openssl_md(alg), nullptr), 1);
            ASSERT_EQ(to_hex(ours.data(), our_len), to_hex(theirs.data(), their_len))
                << "alg " << alg << " length " << msg.size();
        }
    }
}

TEST_P(DigestOpenSslDiff, HmacsMatch) {
    RandomBytes rnd(kSeed + 1);
    constexpr int kCases = 1500;
    for (int32_t alg : kDigests) {
        for (int i = 0; i < kCases; ++i) {
            // Keys on both sides of the 64- and 128-byte blocks.
            const Bytes key = rnd.bytes(rnd.between(0, 200));
            const Bytes msg = rnd.bytes(rnd.between(0, 500));
            std::array<uint8_t, EVP_MAX_MD_SIZE> ours{};
            std::array<uint8_t, EVP_MAX_MD_SIZE> theirs{};
            uint32_t our_len = 0;
            unsigned their_len = 0;
            ASSERT_EQ(vek_hmac(alg, key.data(), static_cast<uint32_t>(key.size()), msg.data(),
                               static_cast<uint32_t>(msg.size()), ours.data(), &our_len),
                      VEK_OK);
            ASSERT_NE(HMAC(openssl_md(alg), key.data(), static_cast<int>(key.size()), msg.data(), msg.size(),
                           theirs.data(), &their_len),
                      nullptr);
            ASSERT_EQ(to_hex(ours.data(), our_len), to_hex(theirs.data(), their_len))
                << "alg " << alg << " key " << key.size() << " msg " << msg.size();
            // The module-level HMACs agree where their arguments allow.
            if (alg == VEK_ALG_SHA1) {
                std::array<uint8_t, VEK_SHA1_DIGEST_SIZE> legacy{};
                hmac_sha1(key.data(), static_cast<uint32_t>(key.size()), msg.data(),
                          static_cast<uint32_t>(msg.size()), legacy.data());
                ASSERT_EQ(to_hex(legacy.data(), legacy.size()), to_hex(theirs.data(), their_len));
            } else if (alg == VEK_ALG_MD5 && !key.empty() && !msg.empty()) {
                std::array<uint8_t, VEK_MD5_DIGEST_SIZE> legacy{};
                vek_hmac_md5(key.data(), static_cast<uint16_t>(key.size()), msg.data(),
                             static_cast<uint16_t>(msg.size()), legacy.data());
                ASSERT_EQ(to_hex(legacy.data(), legacy.size()), to_hex(theirs.data(), their_len));
            }
        }
    }
}

TEST_P(DigestOpenSslDiff, Pbkdf2Matches) {
    RandomBytes rnd(kSeed + 2);
    constexpr int kCases = 1000;
    for (int32_t alg : kPbkdf2Digests) {
        for (int i = 0; i < kCases; ++i) {
            const Bytes password = rnd.bytes(rnd.between(0, 100));
            const Bytes salt = rnd.bytes(rnd.between(0, VEK_PBKDF2_MAX_SALT));
            const uint32_t iterations = rnd.between(1, 8);
            const uint32_t key_len = rnd.between(1, 80);
            Bytes ours(key_len);
            Bytes theirs(key_len);
            ASSERT_EQ(vek_snmpv3_pbkdf2(alg, password.data(), static_cast<uint32_t>(password.size()), salt.data(),
                                        static_cast<uint32_t>(salt.size()), iterations, ours.data(), key_len),
                      VEK_OK);
            ASSERT_EQ(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(password.data()),
                                        static_cast<int>(password.size()), salt.data(), static_cast<int>(salt.size()),
                                        static_cast<int>(iterations), openssl_md(alg), static_cast<int>(key_len),
                                        theirs.data()),
                      1);
            ASSERT_EQ(to_hex(ours), to_hex(theirs)) << "alg " << alg << " iterations " << iterations;
        }
    }
}

DIGEST_INSTANTIATE_BACKENDS(DigestOpenSslDiff);

TEST(ShaBackends, CompressionsAgreeOnRandomStatesAndBlocks) {
    if (vek_cpu_has_sha_ni() == 0) {
        GTEST_SKIP() << "processor has no SHA instructions";
    }
    const int saved1 = vek_sha1_get_backend();
    const int saved256 = vek_sha256_get_backend();
    RandomBytes rnd(kSeed + 3);
    constexpr int kCases = 5000;
    for (int i = 0; i < kCases; ++i) {
        const Bytes block = rnd.bytes(VEK_SHA1_BLOCK_SIZE);
        std::array<uint32_t, VEK_SHA256_STATE_WORDS> start;
        for (auto &w : start) {
            w = rnd.between(0, UINT32_MAX);
        }
        std::array<uint32_t, VEK_SHA1_STATE_WORDS> p1;
        std::array<uint32_t, VEK_SHA1_STATE_WORDS> n1;
        std::copy_n(start.begin(), p1.size(), p1.begin());
        n1 = p1;
        auto p256 = start;
        auto n256 = start;
        vek_sha1_set_backend(VEK_SHA_BACKEND_PORTABLE);
        vek_sha256_set_backend(VEK_SHA_BACKEND_PORTABLE);
        sha1_compress(p1.data(), block.data());
        vek_sha256_compress(p256.data(), block.data());
        vek_sha1_set_backend(VEK_SHA_BACKEND_SHA_NI);
        vek_sha256_set_backend(VEK_SHA_BACKEND_SHA_NI);
        sha1_compress(n1.data(), block.data());
        vek_sha256_compress(n256.data(), block.data());
        ASSERT_EQ(p1, n1) << "case " << i;
        ASSERT_EQ(p256, n256) << "case " << i;
    }
    vek_sha1_set_backend(saved1);
    vek_sha256_set_backend(saved256);
}

}  // namespace
