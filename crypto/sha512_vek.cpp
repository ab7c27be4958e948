// SHA-512 and SHA-384 (FIPS 180) with portable compression, and their self-test.
#include "crypto/sha512_vek.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "crypto/md_block_vek.h"
#include "crypto/self_test_vek.h"

namespace {

constexpr uint32_t kRounds = 80;

using State = std::array<uint64_t, VEK_SHA512_STATE_WORDS>;

constexpr State kInitialState512 = {0x6A09E667F3BCC908ULL, 0xBB67AE8584CAA73BULL, 0x3C6EF372FE94F82BULL,
                                    0xA54FF53A5F1D36F1ULL, 0x510E527FADE682D1ULL, 0x9B05688C2B3E6C1FULL,
                                    0x1F83D9ABFB41BD6BULL, 0x5BE0CD19137E2179ULL};
constexpr State kInitialState384 = {0xCBBB9D5DC1059ED8ULL, 0x629A292A367CD507ULL, 0x9159015A3070DD17ULL,
                                    0x152FECD8F70E5939ULL, 0x67332667FFC00B31ULL, 0x8EB44A8768581511ULL,
                                    0xDB0C2E0D64F98FA7ULL, 0x47B5481DBEFA4FA4ULL};

constexpr std::array<uint64_t, kRounds> kRoundConstants = {
    0x428A2F98D728AE22ULL, 0x7137449123EF65CDULL, 0xB5C0FBCFEC4D3B2FULL, 0xE9B5DBA58189DBBCULL,
    0x3956C25BF348B538ULL, 0x59F111F1B605D019ULL, 0x923F82A4AF194F9BULL, 0xAB1C5ED5DA6D8118ULL,
    0xD807AA98A3030242ULL, 0x12835B0145706FBEULL, 0x243185BE4EE4B28CULL, 0x550C7DC3D5FFB4E2ULL,
    0x72BE5D74F27B896FULL, 0x80DEB1FE3B1696B1ULL, 0x9BDC06A725C71235ULL, 0xC19BF174CF692694ULL,
    0xE49B69C19EF14AD2ULL, 0xEFBE4786384F25E3ULL, 0x0FC19DC68B8CD5B5ULL, 0x240CA1CC77AC9C65ULL,
    0x2DE92C6F592B0275ULL, 0x4A7484AA6EA6E483ULL, 0x5CB0A9DCBD41FBD4ULL, 0x76F988DA831153B5ULL,
    0x983E5152EE66DFABULL, 0xA831C66D2DB43210ULL, 0xB00327C898FB213FULL, 0xBF597FC7BEEF0EE4ULL,
    0xC6E00BF33DA88FC2ULL, 0xD5A79147930AA725ULL, 0x06CA6351E003826FULL, 0x142929670A0E6E70ULL,
    0x27B70A8546D22FFCULL, 0x2E1B21385C26C926ULL, 0x4D2C6DFC5AC42AEDULL, 0x53380D139D95B3DFULL,
    0x650A73548BAF63DEULL, 0x766A0ABB3C77B2A8ULL, 0x81C2C92E47EDAEE6ULL, 0x92722C851482353BULL,
    0xA2BFE8A14CF10364ULL, 0xA81A664BBC423001ULL, 0xC24B8B70D0F89791ULL, 0xC76C51A30654BE30ULL,
    0xD192E819D6EF5218ULL, 0xD69906245565A910ULL, 0xF40E35855771202AULL, 0x106AA07032BBD1B8ULL,
    0x19A4C116B8D2D0C8ULL, 0x1E376C085141AB53ULL, 0x2748774CDF8EEB99ULL, 0x34B0BCB5E19B48A8ULL,
    0x391C0CB3C5C95A63ULL, 0x4ED8AA4AE3418ACBULL, 0x5B9CCA4F7763E373ULL, 0x682E6FF3D6B2B8A3ULL,
    0x748F82EE5DEFB2FCULL, 0x78A5636F43172F60ULL, 0x84C87814A1F0AB72ULL, 0x8CC702081A6439ECULL,
    0x90BEFFFA23631E28ULL, 0xA4506CEBDE82BDE9ULL, 0xBEF9A3F7B2C67915ULL, 0xC67178F2E372532BULL,
    0xCA273ECEEA26619CULL, 0xD186B8C721C0C207ULL, 0xEADA7DD6CDE0EB1EULL, 0xF57D4F7FEE6ED178ULL,
    0x06F067AA72176FBAULL, 0x0A637DC5A2C898A6ULL, 0x113F9804BEF90DAEULL, 0x1B710B35131C471BULL,
    0x28DB77F523047D84ULL, 0x32CAAB7B40C72493ULL, 0x3C9EBE0A15C9BEBCULL, 0x431D67C49C100D4CULL,
    0x4CC5D4BECB3E42B6ULL, 0x597F299CFC657E2AULL, 0x5FCB6FAB3AD6FAECULL, 0x6C44198C4A475817ULL,
};

// ---- Compression ----

struct Sha512Rounds {
    using Word = uint64_t;
    static constexpr const std::array<uint64_t, kRounds> &kConstants = kRoundConstants;
    static uint64_t big_sigma0(uint64_t x) { return std::rotr(x, 28) ^ std::rotr(x, 34) ^ std::rotr(x, 39); }
    static uint64_t big_sigma1(uint64_t x) { return std::rotr(x, 14) ^ std::rotr(x, 18) ^ std::rotr(x, 41); }
    static uint64_t small_sigma0(uint64_t x) { return std::rotr(x, 1) ^ std::rotr(x, 8) ^ (x >> 7); }
    static uint64_t small_sigma1(uint64_t x) { return std::rotr(x, 19) ^ std::rotr(x, 61) ^ (x >> 6); }
};

void compress_blocks(uint64_t *state, const uint8_t *blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        vek::md::sha2_compress<Sha512Rounds>(state, blocks + i * VEK_SHA512_BLOCK_SIZE);
    }
}

// ---- Self-test ----

using vek::self_test::fill_input;
using vek::self_test::Input;
using vek::self_test::text_input;

constexpr uint32_t kMillion = 1000000;

using vek::self_test::DigestCase;

constexpr std::string_view kMessage896 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
    "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

constexpr std::array<DigestCase, 6> kSha512Cases = {{
    {"SHA-512 \"abc\"", text_input("abc"),
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d442"
     "3643ce80e2a9ac94fa54ca49f"},
    {"SHA-512 896位消息", text_input(kMessage896),
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329e"
     "eb6dd26545e96e55b874be909"},
    {"SHA-512 百万个a", fill_input('a', kMillion),
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5"
     "c2c49aa2e4eadb217ad8cc09b"},
    {"SHA-512 空消息", text_input(""),
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931b"
     "d47417a81a538327af927da3e"},
    {"SHA-512 填充边界 111字节", fill_input('a', 111),
     "fa9121c7b32b9e01733d034cfc78cbf67f926c7ed83e82200ef86818196921760b4beff48404df811b953828274461673c68d04"
     "e297b0eb7b2b4d60fc6b566a2"},
    {"SHA-512 填充边界 112字节", fill_input('a', 112),
     "c01d080efd492776a1c43bd23dd99d0a2e626d481e16782e75d54c2503b5dc32bd05f0f1ba33e568b88fd2d970929b719ecbb15"
     "2f58f130a407c8830604b70ca"},
}};

constexpr std::array<DigestCase, 4> kSha384Cases = {{
    {"SHA-384 \"abc\"", text_input("abc"),
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {"SHA-384 896位消息", text_input(kMessage896),
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {"SHA-384 百万个a", fill_input('a', kMillion),
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {"SHA-384 空消息", text_input(""),
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
}};

}  // namespace

extern "C" {

void vek_sha512_init(vek_sha512_ctx *ctx) {
    vek::md::start(ctx, kInitialState512);
}

void vek_sha512_update(vek_sha512_ctx *ctx, const uint8_t *data, uint32_t len) {
    vek::md::update(ctx, data, len, compress_blocks);
}

void vek_sha512_final(vek_sha512_ctx *ctx, uint8_t digest[VEK_SHA512_DIGEST_SIZE]) {
    vek::md::finish(ctx, digest, VEK_SHA512_DIGEST_SIZE, compress_blocks);
}

void vek_sha384_init(vek_sha384_ctx *ctx) {
    vek::md::start(ctx, kInitialState384);
}

void vek_sha384_update(vek_sha384_ctx *ctx, const uint8_t *data, uint32_t len) {
    vek::md::update(ctx, data, len, compress_blocks);
}

void vek_sha384_final(vek_sha384_ctx *ctx, uint8_t digest[VEK_SHA384_DIGEST_SIZE]) {
    vek::md::finish(ctx, digest, VEK_SHA384_DIGEST_SIZE, compress_blocks);
}

void vek_sha512_compress(uint64_t state[VEK_SHA512_STATE_WORDS], const uint8_t block[VEK_SHA512_BLOCK_SIZE]) {
    if (state == nullptr || block == nullptr) {
        return;
    }
    compress_blocks(state, block, 1);
}

int test_sha512_standard_cases(void) {
    vek::self_test::Tally tally("SHA512", "SHA-384/SHA-512标准测试（FIPS 180）");
    vek::self_test::check_digests(
        tally,
        vek::self_test::DigestSteps<vek_sha512_ctx>{vek_sha512_init, vek_sha512_update, vek_sha512_final,
                                                    VEK_SHA512_DIGEST_SIZE},
        kSha512Cases);
    vek::self_test::check_digests(
        tally,
        vek::self_test::DigestSteps<vek_sha384_ctx>{vek_sha384_init, vek_sha384_update, vek_sha384_final,
                                                    VEK_SHA384_DIGEST_SIZE},
        kSha384Cases);
    return tally.finish();
}

}  // extern "C"
