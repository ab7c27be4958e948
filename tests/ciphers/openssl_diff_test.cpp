// Differential runs against OpenSSL's EVP ciphers (no padding): random keys, IVs and lengths, both
// directions, both AES code paths; CBC on whole blocks, CFB-128 on any length. Single DES needs OpenSSL's
// legacy provider; without it that comparison is skipped and the known-answer tests stand alone.
#include <array>
#include <memory>
#include <random>
#include <string>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "crypto/aes_vek.h"
#include "crypto/des_vek.h"
#include "tests/ciphers/cipher_test_util.h"

namespace {

using cipher_test::Bytes;

using CbcFunction = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, uint32_t);

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX *ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// One OpenSSL pass without padding (CBC, or CFB of any length); false when the cipher is not
// available.
bool openssl_cbc(const EVP_CIPHER *cipher, bool encrypt, const Bytes &key, const Bytes &iv, const Bytes &in,
                 Bytes &out) {
    std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) != 1) {
        return false;
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    out.assign(in.size(), 0);
    int written = 0;
    int final_written = 0;
    if (!in.empty() &&
        EVP_CipherUpdate(ctx.get(), out.data(), &written, in.data(), static_cast<int>(in.size())) != 1) {
        return false;
    }
    if (EVP_CipherFinal_ex(ctx.get(), out.data() + written, &final_written) != 1) {
        return false;
    }
    return static_cast<size_t>(written + final_written) == in.size();
}

struct Algorithm {
    const char *name;
    const EVP_CIPHER *(*evp)();
    size_t key_len;
    size_t block;
    CbcFunction encrypt;
    CbcFunction decrypt;
};

Bytes random_bytes(std::mt19937 &rng, size_t n) {
    Bytes out(n);
    for (auto &b : out) {
        b = static_cast<uint8_t>(rng());
    }
    return out;
}

constexpr int kCases = 2000;
constexpr uint32_t kMaxBlocks = 24;

// Runs kCases random comparisons in both directions; our encrypt must equal OpenSSL's, and our
// decrypt of OpenSSL's ciphertext must return the plaintext.
void compare_with_openssl(const Algorithm &alg, uint32_t seed) {
    std::mt19937 rng(seed);
    // A non-zero length is required by the DES modes; AES accepts 0 as well.
    const uint32_t min_blocks = alg.block == 8 ? 1 : 0;
    for (int i = 0; i < kCases; ++i) {
        const uint32_t blocks = min_blocks + static_cast<uint32_t>(rng() % (kMaxBlocks - min_blocks + 1));
        const auto len = static_cast<uint32_t>(blocks * alg.block);
        const Bytes key = random_bytes(rng, alg.key_len), iv = random_bytes(rng, alg.block);
        const Bytes plain = random_bytes(rng, len);
        Bytes reference;
        ASSERT_TRUE(openssl_cbc(alg.evp(), true, key, iv, plain, reference)) << alg.name;
        Bytes ours(len);
        alg.encrypt(key.data(), iv.data(), plain.data(), ours.data(), len);
        ASSERT_EQ(ours, reference) << alg.name << " encrypt, case " << i << ", len " << len;
        Bytes back(len);
        alg.decrypt(key.data(), iv.data(), reference.data(), back.data(), len);
        ASSERT_EQ(back, plain) << alg.name << " decrypt, case " << i << ", len " << len;
    }
}

class AesDifferential : public testing::TestWithParam<bool> {
   protected:
    void SetUp() override {
        if (vek_aes_set_hw_accel(GetParam() ? 1 : 0) != (GetParam() ? 1 : 0)) {
            GTEST_SKIP() << "processor without AES instructions";
        }
    }
    void TearDown() override { vek_aes_set_hw_accel(1); }
};

TEST_P(AesDifferential, Aes128Cbc) {
    compare_with_openssl(
        {"AES-128-CBC", EVP_aes_128_cbc, 16, 16, vek_aes128_cbc_encrypt, vek_aes128_cbc_decrypt}, 128);
}

TEST_P(AesDifferential, Aes192Cbc) {
    compare_with_openssl(
        {"AES-192-CBC", EVP_aes_192_cbc, 24, 16, vek_aes192_cbc_encrypt, vek_aes192_cbc_decrypt}, 192);
}

TEST_P(AesDifferential, Aes256Cbc) {
    compare_with_openssl(
        {"AES-256-CBC", EVP_aes_256_cbc, 32, 16, vek_aes256_cbc_encrypt, vek_aes256_cbc_decrypt}, 256);
}

// CFB-128 with every key size on random lengths (mostly not whole blocks), in both directions;
// every fourth case runs in place.
TEST_P(AesDifferential, Cfb128AnyLength) {
    struct Size {
        const EVP_CIPHER *(*evp)();
        uint32_t key_len;
    };
    constexpr std::array<Size, 3> kSizes = {
        {{EVP_aes_128_cfb128, 16}, {EVP_aes_192_cfb128, 24}, {EVP_aes_256_cfb128, 32}}};
    constexpr uint32_t kMaxLength = 400;
    std::mt19937 rng(3826);
    for (int i = 0; i < kCases; ++i) {
        const Size &size = kSizes[static_cast<size_t>(i) % kSizes.size()];
        const auto len = static_cast<uint32_t>(rng() % (kMaxLength + 1));
        const Bytes key = random_bytes(rng, size.key_len), iv = random_bytes(rng, 16);
        const Bytes plain = random_bytes(rng, len);
        Bytes reference;
        ASSERT_TRUE(openssl_cbc(size.evp(), true, key, iv, plain, reference));
        const bool in_place = i % 4 == 0;
        Bytes ours = in_place ? plain : Bytes(len);
        vek_aes_cfb128_encrypt(key.data(), size.key_len, iv.data(), in_place ? ours.data() : plain.data(),
                               ours.data(), len);
        ASSERT_EQ(ours, reference) << "encrypt, case " << i << ", key " << size.key_len << ", len " << len;
        Bytes back = in_place ? reference : Bytes(len);
        vek_aes_cfb128_decrypt(key.data(), size.key_len, iv.data(), in_place ? back.data() : reference.data(),
                               back.data(), len);
        ASSERT_EQ(back, plain) << "decrypt, case " << i << ", key " << size.key_len << ", len " << len;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesDifferential, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &p) {
                             return p.param ? "AesNi" : "Portable";
                         });

TEST(DesDifferential, TripleDesCbc) {
    compare_with_openssl(
        {"DES-EDE3-CBC", EVP_des_ede3_cbc, 24, 8, vek_des3_cbc_encrypt, vek_des3_cbc_decrypt}, 3);
}

TEST(DesDifferential, SingleDesCbc) {
    // Loading a provider explicitly stops the default one from loading by itself, so load both.
    OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER *fallback = OSSL_PROVIDER_load(nullptr, "default");
    if (legacy == nullptr) {
        if (fallback != nullptr) {
            OSSL_PROVIDER_unload(fallback);
        }
        GTEST_SKIP() << "OpenSSL legacy provider not available";
    }
    compare_with_openssl({"DES-CBC", EVP_des_cbc, 8, 8, vek_des_cbc_encrypt, vek_des_cbc_decrypt}, 1);
    OSSL_PROVIDER_unload(legacy);
    OSSL_PROVIDER_unload(fallback);
}

}  // namespace
