// MD5 (RFC 1321), HMAC-MD5 (RFC 2104) and the MD5 self-test.
#include "crypto/md5_vek.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "base/agent_log.h"

namespace {

constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kLengthFieldOffset = 56;  // where the 64-bit bit count starts in the last block
constexpr uint8_t kPadFirstByte = 0x80;
constexpr uint8_t kHmacInnerPad = 0x36;
constexpr uint8_t kHmacOuterPad = 0x5C;
constexpr uint32_t kRounds = 4;
constexpr uint32_t kStepsPerRound = 16;
constexpr uint32_t kSteps = kRounds * kStepsPerRound;
constexpr uint32_t kWordsPerBlock = VEK_MD5_BLOCK_SIZE / sizeof(uint32_t);

constexpr std::array<uint32_t, VEK_MD5_STATE_WORDS> kInitialState = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                                     0x10325476u};

// T[i] = floor(2^32 * |sin(i + 1)|)
constexpr std::array<uint32_t, kSteps> kSines = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu, 0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu, 0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu, 0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu, 0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu, 0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u, 0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u, 0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u, 0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u,
};

// Left-rotation amounts, four per round.
constexpr std::array<std::array<int, 4>, kRounds> kShifts = {{{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23},
                                                              {6, 10, 15, 21}}};

// Message word used by step i of each round: X[(start + stride * i) mod 16].
constexpr std::array<uint32_t, kRounds> kWordStart = {0, 1, 5, 0};
constexpr std::array<uint32_t, kRounds> kWordStride = {1, 5, 3, 7};

uint32_t load_le32(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

void store_le32(uint8_t *p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, sizeof v);
}

// Wipes memory in a way the compiler may not drop even when the object is about to die.
void wipe(void *p, size_t n) {
    auto *bytes = static_cast<volatile uint8_t *>(p);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = 0;
    }
}

void compress(uint32_t *state, const uint8_t *block) {
    std::array<uint32_t, kWordsPerBlock> x;
    for (uint32_t i = 0; i < kWordsPerBlock; ++i) {
        x[i] = load_le32(block + i * sizeof(uint32_t));
    }
    uint32_t a = state[0];
    uint32_t b = state[1];
    uint32_t c = state[2];
    uint32_t d = state[3];
#pragma GCC unroll 64
    for (uint32_t i = 0; i < kSteps; ++i) {
        const uint32_t round = i / kStepsPerRound;
        uint32_t f;
        switch (round) {
            case 0: f = d ^ (b & (c ^ d)); break;     // F = (b & c) | (~b & d)
            case 1: f = c ^ (d & (b ^ c)); break;     // G = (b & d) | (c & ~d)
            case 2: f = b ^ c ^ d; break;             // H
            default: f = c ^ (b | ~d); break;         // I
        }
        const uint32_t word = x[(kWordStart[round] + kWordStride[round] * i) % kWordsPerBlock];
        const uint32_t sum = a + f + kSines[i] + word;
        a = d;
        d = c;
        c = b;
        b = b + std::rotl(sum, kShifts[round][i % 4]);
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

uint32_t buffered_bytes(const vek_md5_ctx *ctx) { return (ctx->count[0] / kBitsPerByte) % VEK_MD5_BLOCK_SIZE; }

void add_length(vek_md5_ctx *ctx, uint32_t len) {
    const uint32_t bits_low = len << 3;
    const uint32_t old = ctx->count[0];
    ctx->count[0] += bits_low;
    if (ctx->count[0] < old) {
        ++ctx->count[1];
    }
    ctx->count[1] += len >> 29;
}

void hmac_md5(std::span<const uint8_t> key, std::span<const uint8_t> data, uint8_t *out) {
    std::array<uint8_t, VEK_MD5_BLOCK_SIZE> pad{};
    if (key.size() > VEK_MD5_BLOCK_SIZE) {
        vek_md5(key.data(), static_cast<uint32_t>(key.size()), pad.data());
    } else {
        std::memcpy(pad.data(), key.data(), key.size());
    }
    for (auto &byte : pad) {
        byte ^= kHmacInnerPad;
    }
    vek_md5_ctx ctx;
    std::array<uint8_t, VEK_MD5_DIGEST_SIZE> inner;
    vek_md5_init(&ctx);
    vek_md5_update(&ctx, pad.data(), VEK_MD5_BLOCK_SIZE);
    vek_md5_update(&ctx, data.data(), static_cast<uint32_t>(data.size()));
    vek_md5_final(&ctx, inner.data());
    for (auto &byte : pad) {
        byte ^= kHmacInnerPad ^ kHmacOuterPad;
    }
    vek_md5_init(&ctx);
    vek_md5_update(&ctx, pad.data(), VEK_MD5_BLOCK_SIZE);
    vek_md5_update(&ctx, inner.data(), VEK_MD5_DIGEST_SIZE);
    vek_md5_final(&ctx, out);
    wipe(pad.data(), pad.size());
    wipe(inner.data(), inner.size());
}

// ---- Self-test ----

struct Md5Vector {
    std::string_view message;
    std::string_view digest_hex;
};

constexpr std::array<Md5Vector, 7> kRfc1321Suite = {{
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
}};

constexpr std::array<std::string_view, 3> kPieces = {"The quick brown", "fox jumps over", "the lazy dog"};

constexpr uint32_t kHexDigitBits = 4;

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
    for (size_t i = 0; i < VEK_MD5_DIGEST_SIZE; ++i) {
        const int hi = hex_value(hex[2 * i]);
        const int lo = hex_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0 || digest[i] != static_cast<uint8_t>((hi << kHexDigitBits) | lo)) {
            return false;
        }
    }
    return true;
}

const uint8_t *bytes_of(std::string_view text) { return reinterpret_cast<const uint8_t *>(text.data()); }

bool report(int index, const char *name, bool passed) {
    AGENT_LOG(AGENT_LOG_INFO, "MD5测试%d [%s]: %s", index, name, passed ? "通过" : "失败");
    return passed;
}

bool piecewise_matches_one_shot() {
    vek_md5_ctx ctx;
    vek_md5_init(&ctx);
    std::array<char, 64> joined{};
    size_t joined_len = 0;
    for (auto piece : kPieces) {
        vek_md5_update(&ctx, bytes_of(piece), static_cast<uint32_t>(piece.size()));
        std::memcpy(joined.data() + joined_len, piece.data(), piece.size());
        joined_len += piece.size();
    }
    std::array<uint8_t, VEK_MD5_DIGEST_SIZE> pieced;
    std::array<uint8_t, VEK_MD5_DIGEST_SIZE> whole;
    vek_md5_final(&ctx, pieced.data());
    vek_md5(reinterpret_cast<const uint8_t *>(joined.data()), static_cast<uint32_t>(joined_len), whole.data());
    return pieced == whole;
}

}  // namespace

extern "C" {

void vek_md5_init(vek_md5_ctx *ctx) {
    if (ctx == nullptr) {
        return;
    }
    std::memcpy(ctx->state, kInitialState.data(), sizeof ctx->state);
    ctx->count[0] = 0;
    ctx->count[1] = 0;
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
}

void vek_md5_update(vek_md5_ctx *ctx, const uint8_t *data, uint32_t len) {
    if (ctx == nullptr || data == nullptr || len == 0) {
        return;
    }
    uint32_t used = buffered_bytes(ctx);
    add_length(ctx, len);
    if (used != 0) {
        const uint32_t room = VEK_MD5_BLOCK_SIZE - used;
        if (len < room) {
            std::memcpy(ctx->buffer + used, data, len);
            return;
        }
        std::memcpy(ctx->buffer + used, data, room);
        compress(ctx->state, ctx->buffer);
        data += room;
        len -= room;
    }
    for (; len >= VEK_MD5_BLOCK_SIZE; len -= VEK_MD5_BLOCK_SIZE, data += VEK_MD5_BLOCK_SIZE) {
        compress(ctx->state, data);
    }
    if (len != 0) {
        std::memcpy(ctx->buffer, data, len);
    }
}

void vek_md5_final(vek_md5_ctx *ctx, uint8_t digest[VEK_MD5_DIGEST_SIZE]) {
    if (ctx == nullptr || digest == nullptr) {
        return;
    }
    const uint32_t used = buffered_bytes(ctx);
    ctx->buffer[used] = kPadFirstByte;
    if (used + 1 > kLengthFieldOffset) {
        std::memset(ctx->buffer + used + 1, 0, VEK_MD5_BLOCK_SIZE - used - 1);
        compress(ctx->state, ctx->buffer);
        std::memset(ctx->buffer, 0, kLengthFieldOffset);
    } else {
        std::memset(ctx->buffer + used + 1, 0, kLengthFieldOffset - used - 1);
    }
    store_le32(ctx->buffer + kLengthFieldOffset, ctx->count[0]);
    store_le32(ctx->buffer + kLengthFieldOffset + sizeof(uint32_t), ctx->count[1]);
    compress(ctx->state, ctx->buffer);
    for (uint32_t i = 0; i < VEK_MD5_STATE_WORDS; ++i) {
        store_le32(digest + i * sizeof(uint32_t), ctx->state[i]);
    }
    wipe(ctx, sizeof *ctx);
}

void vek_md5_compress(uint32_t state[VEK_MD5_STATE_WORDS], const uint8_t block[VEK_MD5_BLOCK_SIZE]) {
    if (state == nullptr || block == nullptr) {
        return;
    }
    compress(state, block);
}

void vek_md5(const uint8_t *data, uint32_t len, uint8_t digest[VEK_MD5_DIGEST_SIZE]) {
    if (data == nullptr || digest == nullptr) {
        return;
    }
    vek_md5_ctx ctx;
    vek_md5_init(&ctx);
    vek_md5_update(&ctx, data, len);
    vek_md5_final(&ctx, digest);
}

void vek_hmac_md5(const uint8_t *key, uint16_t key_len, const uint8_t *data, uint16_t data_len,
                  uint8_t out[VEK_MD5_DIGEST_SIZE]) {
    if (key == nullptr || data == nullptr || out == nullptr || key_len == 0 || data_len == 0) {
        return;
    }
    hmac_md5({key, key_len}, {data, data_len}, out);
}

int test_vek_md5_standard_cases(void) {
    AGENT_LOG(AGENT_LOG_INFO, "========== MD5标准测试（RFC 1321） ==========");
    int total = 0;
    int failed = 0;
    for (const auto &vector : kRfc1321Suite) {
        std::array<uint8_t, VEK_MD5_DIGEST_SIZE> digest{};
        vek_md5(bytes_of(vector.message), static_cast<uint32_t>(vector.message.size()), digest.data());
        ++total;
        if (!report(total, "RFC 1321", digest_matches(digest.data(), vector.digest_hex))) {
            ++failed;
        }
    }
    ++total;
    if (!report(total, "分段更新", piecewise_matches_one_shot())) {
        ++failed;
    }
    const double percent = 100.0 * (total - failed) / total;
    AGENT_LOG(AGENT_LOG_INFO, "总测试数: %d", total);
    AGENT_LOG(AGENT_LOG_INFO, "通过数: %d", total - failed);
    AGENT_LOG(AGENT_LOG_INFO, "失败数: %d", failed);
    AGENT_LOG(AGENT_LOG_INFO, "通过率: %.1f%%", percent);
    return failed;
}

}  // extern "C"
