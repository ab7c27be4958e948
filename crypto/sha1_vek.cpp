// SHA-1 (FIPS 180 / RFC 3174), HMAC-SHA-1 (RFC 2104), the SHA-1 self-test, and the run-time choice
// between the portable compression and the processor's SHA instructions.
#include "crypto/sha1_vek.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "base/agent_log.h"
#include "base/platform.h"
#include "crypto/md_block_vek.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VEK_SHA1_HAVE_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#define VEK_SHA_NI_TARGET __attribute__((target("sha,sse4.1")))
#endif

namespace {

constexpr uint8_t kHmacInnerPad = 0x36;
constexpr uint8_t kHmacOuterPad = 0x5C;
constexpr uint32_t kWordsPerBlock = VEK_SHA1_BLOCK_SIZE / sizeof(uint32_t);
constexpr uint32_t kRounds = 80;
constexpr uint32_t kRoundsPerStage = 20;

constexpr std::array<uint32_t, VEK_SHA1_STATE_WORDS> kInitialState = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                                      0x10325476u, 0xC3D2E1F0u};
constexpr std::array<uint32_t, 4> kStageConstants = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};

uint32_t load_be32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap32(v);
    }
    return v;
}

// ---- Portable compression ----

void compress_one_portable(uint32_t *state, const uint8_t *block) {
    std::array<uint32_t, kWordsPerBlock> w;
    for (uint32_t i = 0; i < kWordsPerBlock; ++i) {
        w[i] = load_be32(block + i * sizeof(uint32_t));
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
    uint32_t e = state[4];
    constexpr uint32_t mask = kWordsPerBlock - 1;
#pragma GCC unroll 80
    for (uint32_t i = 0; i < kRounds; ++i) {
        if (i >= kWordsPerBlock) {
            w[i & mask] = std::rotl(w[(i - 3) & mask] ^ w[(i - 8) & mask] ^ w[(i - 14) & mask] ^ w[i & mask], 1);
        }
        const uint32_t stage = i / kRoundsPerStage;
        uint32_t f;
        switch (stage) {
            case 0: f = d ^ (b & (c ^ d)); break;          // Ch
            case 2: f = (b & c) | (d & (b | c)); break;    // Maj
            default: f = b ^ c ^ d; break;                 // Parity
        }
        const uint32_t t = std::rotl(a, 5) + f + e + kStageConstants[stage] + w[i & mask];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
}

void compress_blocks_portable(uint32_t *state, const uint8_t *blocks, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        compress_one_portable(state, blocks + i * VEK_SHA1_BLOCK_SIZE);
    }
}

// ---- SHA-NI compression ----
#ifdef VEK_SHA1_HAVE_SHA_NI

constexpr int kReverseWords = 0x1B;   // _mm_shuffle_epi32 order 3,2,1,0
constexpr int kRoundGroups = 20;      // four rounds per sha1rnds4
constexpr int kGroupsPerFunction = 5; // 20 rounds share one round function
constexpr int kLastLane = 3;

// Four rounds. W[] holds the schedule for the next sixteen rounds, E[] alternates between the
// value that feeds the rounds and the one that receives the current A..D.
template <int G>
VEK_SHA_NI_TARGET inline void sha1_ni_group(__m128i &abcd, __m128i (&e)[2], __m128i (&w)[4]) {
    constexpr int cur = G % 4;
    __m128i &feed = e[G % 2];
    if constexpr (G == 0) {
        feed = _mm_add_epi32(feed, w[cur]);
    } else {
        feed = _mm_sha1nexte_epu32(feed, w[cur]);
    }
    e[(G + 1) % 2] = abcd;
    if constexpr (G >= 3 && G <= 18) {
        w[(G + 1) % 4] = _mm_sha1msg2_epu32(w[(G + 1) % 4], w[cur]);
    }
    abcd = _mm_sha1rnds4_epu32(abcd, feed, G / kGroupsPerFunction);
    if constexpr (G >= 1 && G <= 16) {
        w[(G + 3) % 4] = _mm_sha1msg1_epu32(w[(G + 3) % 4], w[cur]);
    }
    if constexpr (G >= 2 && G <= 17) {
        w[(G + 2) % 4] = _mm_xor_si128(w[(G + 2) % 4], w[cur]);
    }
}

template <int... G>
VEK_SHA_NI_TARGET inline void sha1_ni_all_groups(__m128i &abcd, __m128i (&e)[2], __m128i (&w)[4],
                                                 std::integer_sequence<int, G...>) {
    (sha1_ni_group<G>(abcd, e, w), ...);
}

VEK_SHA_NI_TARGET void compress_blocks_sha_ni(uint32_t *state, const uint8_t *blocks, size_t count) {
    const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), kReverseWords);
    __m128i e_word = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (size_t n = 0; n < count; ++n) {
        const uint8_t *block = blocks + n * VEK_SHA1_BLOCK_SIZE;
        const __m128i abcd_saved = abcd;
        const __m128i e_saved = e_word;
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), byte_swap);
        }
        __m128i e[2] = {e_word, _mm_setzero_si128()};
        sha1_ni_all_groups(abcd, e, w, std::make_integer_sequence<int, kRoundGroups>{});
        e_word = _mm_sha1nexte_epu32(e[0], e_saved);
        abcd = _mm_add_epi32(abcd, abcd_saved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, kReverseWords));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e_word, kLastLane));
}

constexpr unsigned kCpuidFeatures = 1;
constexpr unsigned kCpuidExtendedFeatures = 7;
constexpr unsigned kEcxSsse3 = 1u << 9;
constexpr unsigned kEcxSse41 = 1u << 19;
constexpr unsigned kEbxSha = 1u << 29;

bool detect_sha_ni() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    if (__get_cpuid(kCpuidFeatures, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    const bool sse_ok = (ecx & kEcxSsse3) != 0 && (ecx & kEcxSse41) != 0;
    if (!sse_ok || __get_cpuid_count(kCpuidExtendedFeatures, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return false;
    }
    return (ebx & kEbxSha) != 0;
}
#endif

using BlocksFn = void (*)(uint32_t *, const uint8_t *, size_t);

constinit std::atomic<BlocksFn> g_blocks{nullptr};

BlocksFn backend_fn(int backend) {
#ifdef VEK_SHA1_HAVE_SHA_NI
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

void hmac(std::span<const uint8_t> key, std::span<const uint8_t> data, uint8_t *out) {
    std::array<uint8_t, VEK_SHA1_BLOCK_SIZE> pad{};
    if (key.size() > VEK_SHA1_BLOCK_SIZE) {
        sha1(key.data(), static_cast<uint32_t>(key.size()), pad.data());
    } else if (!key.empty()) {
        std::memcpy(pad.data(), key.data(), key.size());
    }
    for (auto &byte : pad) {
        byte ^= kHmacInnerPad;
    }
    vek_sha1_ctx ctx;
    std::array<uint8_t, VEK_SHA1_DIGEST_SIZE> inner;
    vek_sha1_init(&ctx);
    vek_sha1_update(&ctx, pad.data(), VEK_SHA1_BLOCK_SIZE);
    vek_sha1_update(&ctx, data.data(), static_cast<uint32_t>(data.size()));
    vek_sha1_final(&ctx, inner.data());
    for (auto &byte : pad) {
        byte ^= kHmacInnerPad ^ kHmacOuterPad;
    }
    vek_sha1_init(&ctx);
    vek_sha1_update(&ctx, pad.data(), VEK_SHA1_BLOCK_SIZE);
    vek_sha1_update(&ctx, inner.data(), VEK_SHA1_DIGEST_SIZE);
    vek_sha1_final(&ctx, out);
    vek::md::wipe(pad.data(), pad.size());
    vek::md::wipe(inner.data(), inner.size());
}

// ---- Self-test ----

constexpr uint32_t kHexDigitBits = 4;
constexpr uint32_t kMillion = 1000000;

// A test input: either literal text or `count` copies of one byte.
struct Input {
    std::string_view text;
    uint8_t fill;
    uint32_t count;
};

constexpr Input text_input(std::string_view text) { return {text, 0, 0}; }
constexpr Input fill_input(uint8_t fill, uint32_t count) { return {{}, fill, count}; }

struct DigestCase {
    const char *name;
    Input message;
    std::string_view digest_hex;
};

struct HmacCase {
    const char *name;
    Input key;
    Input data;
    std::string_view digest_hex;
};

constexpr std::array<DigestCase, 8> kDigestCases = {{
    {"RFC 3174 \"abc\"", text_input("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"RFC 3174 56字节", text_input("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"RFC 3174 百万个a", fill_input('a', kMillion), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"空消息", text_input(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"填充边界 55字节", fill_input('a', 55), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
    {"填充边界 56字节", fill_input('a', 56), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
    {"填充边界 63字节", fill_input('a', 63), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
    {"填充边界 64字节", fill_input('a', 64), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
}};

constexpr std::array<HmacCase, 7> kHmacCases = {{
    {"RFC 2202 HMAC-SHA1 #1", fill_input(0x0B, 20), text_input("Hi There"),
     "b617318655057264e28bc0b6fb378c8ef146be00"},
    {"RFC 2202 HMAC-SHA1 #2", text_input("Jefe"), text_input("what do ya want for nothing?"),
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {"RFC 2202 HMAC-SHA1 #3", fill_input(0xAA, 20), fill_input(0xDD, 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {"RFC 2202 HMAC-SHA1 #4",
     text_input("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19"),
     fill_input(0xCD, 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {"RFC 2202 HMAC-SHA1 #5", fill_input(0x0C, 20), text_input("Test With Truncation"),
     "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
    {"RFC 2202 HMAC-SHA1 #6", fill_input(0xAA, 80), text_input("Test Using Larger Than Block-Size Key - Hash Key First"),
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {"RFC 2202 HMAC-SHA1 #7", fill_input(0xAA, 80),
     text_input("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
}};

constexpr uint32_t kSelfTestArea = 128;  // largest materialised key or data of the HMAC cases

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool digest_matches(const uint8_t *digest, std::string_view hex) {
    for (size_t i = 0; i < VEK_SHA1_DIGEST_SIZE; ++i) {
        const int hi = hex_value(hex[2 * i]);
        const int lo = hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0 || digest[i] != static_cast<uint8_t>((hi << kHexDigitBits) | lo)) {
            return false;
        }
    }
    return true;
}

// Puts a short input into `area`; returns its length.
uint32_t materialise(const Input &input, std::array<uint8_t, kSelfTestArea> &area) {
    if (input.count != 0) {
        std::memset(area.data(), input.fill, input.count);
        return input.count;
    }
    std::memcpy(area.data(), input.text.data(), input.text.size());
    return static_cast<uint32_t>(input.text.size());
}

// Hashes an input of any size, feeding repeated bytes through a small block.
void digest_input(const Input &input, uint8_t *digest) {
    vek_sha1_ctx ctx;
    vek_sha1_init(&ctx);
    if (input.count == 0) {
        vek_sha1_update(&ctx, reinterpret_cast<const uint8_t *>(input.text.data()),
                        static_cast<uint32_t>(input.text.size()));
    } else {
        std::array<uint8_t, kSelfTestArea> chunk;
        chunk.fill(input.fill);
        for (uint32_t left = input.count; left != 0;) {
            const uint32_t n = left < chunk.size() ? left : static_cast<uint32_t>(chunk.size());
            vek_sha1_update(&ctx, chunk.data(), n);
            left -= n;
        }
    }
    vek_sha1_final(&ctx, digest);
}

bool report(int index, const char *name, bool passed) {
    AGENT_LOG(AGENT_LOG_INFO, "SHA1测试%d [%s]: %s", index, name, passed ? "通过" : "失败");
    return passed;
}

}  // namespace

extern "C" {

int vek_cpu_has_sha_ni(void) {
#ifdef VEK_SHA1_HAVE_SHA_NI
    static const bool has = detect_sha_ni();
    return has ? 1 : 0;
#else
    return 0;
#endif
}

int vek_sha1_set_backend(int backend) {
    g_blocks.store(backend_fn(backend), std::memory_order_relaxed);
    return vek_sha1_get_backend();
}

int vek_sha1_get_backend(void) {
    BlocksFn fn = g_blocks.load(std::memory_order_relaxed);
    if (fn == nullptr) {
        fn = backend_fn(VEK_SHA_BACKEND_SHA_NI);
    }
    return fn == compress_blocks_portable ? VEK_SHA_BACKEND_PORTABLE : VEK_SHA_BACKEND_SHA_NI;
}

void vek_sha1_init(vek_sha1_ctx *ctx) {
    vek::md::start(ctx, kInitialState);
}

void vek_sha1_update(vek_sha1_ctx *ctx, const uint8_t *data, uint32_t len) {
    vek::md::update(ctx, data, len, compress_blocks);
}

void vek_sha1_final(vek_sha1_ctx *ctx, uint8_t digest[VEK_SHA1_DIGEST_SIZE]) {
    vek::md::finish(ctx, digest, VEK_SHA1_DIGEST_SIZE, compress_blocks);
}

void sha1(const uint8_t *data, uint32_t len, uint8_t digest[VEK_SHA1_DIGEST_SIZE]) {
    if (digest == nullptr) {
        return;
    }
    vek_sha1_ctx ctx;
    vek_sha1_init(&ctx);
    vek_sha1_update(&ctx, data, len);
    vek_sha1_final(&ctx, digest);
}

void hmac_sha1(const uint8_t *key, uint32_t key_len, const uint8_t *data, uint32_t data_len,
               uint8_t out[VEK_SHA1_DIGEST_SIZE]) {
    if (data == nullptr || out == nullptr || (key == nullptr && key_len != 0)) {
        return;
    }
    hmac({key, key_len}, {data, data_len}, out);
}

void sha1_compress(uint32_t state[VEK_SHA1_STATE_WORDS], const uint8_t block[VEK_SHA1_BLOCK_SIZE]) {
    if (state == nullptr || block == nullptr) {
        return;
    }
    compress_blocks(state, block, 1);
}

int test_sha1_standard_cases(void) {
    AGENT_LOG(AGENT_LOG_INFO, "========== SHA1标准测试（RFC 3174 / RFC 2202） ==========");
    int total = 0;
    int failed = 0;
    std::array<uint8_t, VEK_SHA1_DIGEST_SIZE> digest{};
    for (const auto &c : kDigestCases) {
        digest_input(c.message, digest.data());
        ++total;
        if (!report(total, c.name, digest_matches(digest.data(), c.digest_hex))) {
            ++failed;
        }
    }
    std::array<uint8_t, kSelfTestArea> key{};
    std::array<uint8_t, kSelfTestArea> data{};
    for (const auto &c : kHmacCases) {
        const uint32_t key_len = materialise(c.key, key);
        const uint32_t data_len = materialise(c.data, data);
        hmac_sha1(key.data(), key_len, data.data(), data_len, digest.data());
        ++total;
        if (!report(total, c.name, digest_matches(digest.data(), c.digest_hex))) {
            ++failed;
        }
    }
    const double percent = 100.0 * (total - failed) / total;
    AGENT_LOG(AGENT_LOG_INFO, "总测试数: %d", total);
    AGENT_LOG(AGENT_LOG_INFO, "通过数: %d", total - failed);
    AGENT_LOG(AGENT_LOG_INFO, "失败数: %d", failed);
    AGENT_LOG(AGENT_LOG_INFO, "通过率: %.1f%%", percent);
    return failed;
}

}  // extern "C"
