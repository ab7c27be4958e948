// SHA-256 and SHA-224 (FIPS 180) and the run-time choice between the portable compression and the
// processor's SHA instructions.
#include "crypto/sha256_vek.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/platform.h"
#include "crypto/md_block_vek.h"
#include "crypto/self_test_vek.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VEK_SHA256_HAVE_SHA_NI 1
#include <immintrin.h>
#define VEK_SHA_NI_TARGET __attribute__((target("sha,sse4.1")))
#endif

namespace {

constexpr uint32_t kRounds = 64;

using State = std::array<uint32_t, VEK_SHA256_STATE_WORDS>;

constexpr State kInitialState = {0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
                                 0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u};
constexpr State kInitialState224 = {0xC1059ED8u, 0x367CD507u, 0x3070DD17u, 0xF70E5939u,
                                    0xFFC00B31u, 0x68581511u, 0x64F98FA7u, 0xBEFA4FA4u};

alignas(16) constexpr std::array<uint32_t, kRounds> kRoundConstants = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u, 0xAB1C5ED5u,
    0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u,
    0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u, 0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u,
    0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u,
    0xA2BFE8A1u, 0xA81A664Bu, 0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u,
};

// ---- Portable compression ----

struct Sha256Rounds {
    using Word = uint32_t;
    static constexpr const std::array<uint32_t, kRounds> &kConstants = kRoundConstants;
    static uint32_t big_sigma0(uint32_t x) { return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22); }
    static uint32_t big_sigma1(uint32_t x) { return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25); }
    static uint32_t small_sigma0(uint32_t x) { return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3); }
    static uint32_t small_sigma1(uint32_t x) { return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10); }
};

void compress_blocks_portable(uint32_t *state, const uint8_t *blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        vek::md::sha2_compress<Sha256Rounds>(state, blocks + i * VEK_SHA256_BLOCK_SIZE);
    }
}

// ---- SHA-NI compression ----
#ifdef VEK_SHA256_HAVE_SHA_NI

constexpr int kRoundGroups = 16;       // four rounds per group (two sha256rnds2)
constexpr int kUpperHalf = 0x0E;       // _mm_shuffle_epi32: move words 2,3 down for the second rnds2
constexpr int kSwapPairs = 0xB1;       // _mm_shuffle_epi32 order 2,3,0,1
constexpr int kReverseWords = 0x1B;    // _mm_shuffle_epi32 order 3,2,1,0
constexpr int kUpperWordsMask = 0xF0;  // _mm_blend_epi16: the upper four 16-bit lanes
constexpr int kWordBytes = 4;
constexpr int kHalfBytes = 8;

// Four rounds. W[] holds the schedule for the next sixteen rounds; state0 = ABEF, state1 = CDGH.
template <int G>
VEK_SHA_NI_TARGET inline void sha256_ni_group(__m128i &state0, __m128i &state1, __m128i (&w)[4]) {
    constexpr int cur = G % 4;
    constexpr int next = (G + 1) % 4;
    constexpr int prev = (G + 3) % 4;
    __m128i msg = _mm_add_epi32(w[cur], _mm_load_si128(reinterpret_cast<const __m128i *>(&kRoundConstants[4 * G])));
    state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
    if constexpr (G >= 3 && G <= 14) {
        w[next] = _mm_add_epi32(w[next], _mm_alignr_epi8(w[cur], w[prev], kWordBytes));
        w[next] = _mm_sha256msg2_epu32(w[next], w[cur]);
    }
    msg = _mm_shuffle_epi32(msg, kUpperHalf);
    state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    if constexpr (G >= 1 && G <= 12) {
        w[prev] = _mm_sha256msg1_epu32(w[prev], w[cur]);
    }
}

template <int... G>
VEK_SHA_NI_TARGET inline void sha256_ni_all_groups(__m128i &state0, __m128i &state1, __m128i (&w)[4],
                                                   std::integer_sequence<int, G...>) {
    (sha256_ni_group<G>(state0, state1, w), ...);
}

VEK_SHA_NI_TARGET void compress_blocks_sha_ni(uint32_t *state, const uint8_t *blocks, size_t count) {
    const __m128i byte_swap = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);
    __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), kSwapPairs);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), kReverseWords);
    __m128i state0 = _mm_alignr_epi8(dcba, efgh, kHalfBytes);         // ABEF
    __m128i state1 = _mm_blend_epi16(efgh, dcba, kUpperWordsMask);    // CDGH
    for (size_t n = 0; n < count; ++n) {
        const uint8_t *block = blocks + n * VEK_SHA256_BLOCK_SIZE;
        const __m128i abef_saved = state0;
        const __m128i cdgh_saved = state1;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), byte_swap);
        }
        sha256_ni_all_groups(state0, state1, w, std::make_integer_sequence<int, kRoundGroups>{});
        state0 = _mm_add_epi32(state0, abef_saved);
        state1 = _mm_add_epi32(state1, cdgh_saved);
    }
    const __m128i feba = _mm_shuffle_epi32(state0, kReverseWords);
    const __m128i dchg = _mm_shuffle_epi32(state1, kSwapPairs);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_blend_epi16(feba, dchg, kUpperWordsMask));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_alignr_epi8(dchg, feba, kHalfBytes));
}
#endif

using BlocksFn = void (*)(uint32_t *, const uint8_t *, size_t);

constinit std::atomic<BlocksFn> g_blocks{nullptr};

BlocksFn backend_fn(int backend) {
#ifdef VEK_SHA256_HAVE_SHA_NI
    if (backend == VEK_SHA_BACKEND_SHA_NI && vek_cpu_has_sha_ni() != 0) {
        return compress_blocks_sha_ni;
    }
#else
    (void)backend;
#endif
    return compress_blocks_portable;
}

void compress_blocks(uint32_t *state, const uint8_t *blocks, size_t count) {
    BlocksFn fn = g_blocks.load(std::memory_order_relaxed);
    if (fn == nullptr) {
        fn = backend_fn(VEK_SHA_BACKEND_SHA_NI);
        g_blocks.store(fn, std::memory_order_relaxed);
    }
    fn(state, blocks, count);
}

// ---- SHA-224 self-test ----

using vek::self_test::fill_input;
using vek::self_test::Input;
using vek::self_test::text_input;

constexpr uint32_t kMillion = 1000000;

using vek::self_test::DigestCase;

constexpr std::array<DigestCase, 6> kSha224Cases = {{
    {"SHA-224 \"abc\"", text_input("abc"), "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {"SHA-224 448位消息", text_input("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
     "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {"SHA-224 百万个a", fill_input('a', kMillion),
     "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {"SHA-224 空消息", text_input(""), "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {"SHA-224 填充边界 55字节", fill_input('a', 55),
     "fb0bd626a70c28541dfa781bb5cc4d7d7f56622a58f01a0b1ddd646f"},
    {"SHA-224 填充边界 56字节", fill_input('a', 56),
     "d40854fc9caf172067136f2e29e1380b14626bf6f0dd06779f820dcd"},
}};

}  // namespace

extern "C" {

int vek_sha256_set_backend(int backend) {
    g_blocks.store(backend_fn(backend), std::memory_order_relaxed);
    return vek_sha256_get_backend();
}

int vek_sha256_get_backend(void) {
    BlocksFn fn = g_blocks.load(std::memory_order_relaxed);
    if (fn == nullptr) {
        fn = backend_fn(VEK_SHA_BACKEND_SHA_NI);
    }
    return fn == compress_blocks_portable ? VEK_SHA_BACKEND_PORTABLE : VEK_SHA_BACKEND_SHA_NI;
}

void vek_sha256_init(vek_sha256_ctx *ctx) {
    vek::md::start(ctx, kInitialState);
}

void vek_sha256_update(vek_sha256_ctx *ctx, const uint8_t *data, uint32_t len) {
    vek::md::update(ctx, data, len, compress_blocks);
}

void vek_sha256_final(vek_sha256_ctx *ctx, uint8_t digest[VEK_SHA256_DIGEST_SIZE]) {
    vek::md::finish(ctx, digest, VEK_SHA256_DIGEST_SIZE, compress_blocks);
}

void vek_sha224_init(vek_sha224_ctx *ctx) {
    vek::md::start(ctx, kInitialState224);
}

void vek_sha224_update(vek_sha224_ctx *ctx, const uint8_t *data, uint32_t len) { vek_sha256_update(ctx, data, len); }

void vek_sha224_final(vek_sha224_ctx *ctx, uint8_t digest[VEK_SHA224_DIGEST_SIZE]) {
    vek::md::finish(ctx, digest, VEK_SHA224_DIGEST_SIZE, compress_blocks);
}

int test_sha224_standard_cases(void) {
    vek::self_test::Tally tally("SHA224", "SHA-224标准测试（FIPS 180）");
    vek::self_test::check_digests(
        tally,
        vek::self_test::DigestSteps<vek_sha224_ctx>{vek_sha224_init, vek_sha224_update, vek_sha224_final,
                                                    VEK_SHA224_DIGEST_SIZE},
        kSha224Cases);
    return tally.finish();
}

void vek_sha256_compress(uint32_t state[VEK_SHA256_STATE_WORDS], const uint8_t block[VEK_SHA256_BLOCK_SIZE]) {
    if (state == nullptr || block == nullptr) {
        return;
    }
    compress_blocks(state, block, 1);
}

}  // extern "C"
