// Block buffering and the final padding shared by the big-endian digests (SHA-1, SHA-224/256,
// SHA-384/512), and the SHA-2 compression rounds for 32-bit and 64-bit words. The contexts have the
// same shape: count[2] (message length in bytes, low word then high word), state[] and
// buffer[block], with counter and state words of one width.
#ifndef VEK_CRYPTO_MD_BLOCK_VEK_H
#define VEK_CRYPTO_MD_BLOCK_VEK_H

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vek::md {

constexpr uint8_t kPadFirstByte = 0x80;
constexpr uint32_t kBitsPerByteShift = 3;

// The word width of a context, taken from its counter.
template <class Ctx>
using Word = std::remove_cvref_t<decltype(Ctx{}.count[0])>;

template <class W>
void store_be(uint8_t *p, W value) {
    for (size_t i = 0; i < sizeof(W); ++i) {
        p[i] = static_cast<uint8_t>(value >> ((sizeof(W) - 1 - i) * CHAR_BIT));
    }
}

template <class W>
W load_be(const uint8_t *p) {
    W value = 0;
    for (size_t i = 0; i < sizeof(W); ++i) {
        value = static_cast<W>((value << CHAR_BIT) | p[i]);
    }
    return value;
}

inline void wipe(void *p, size_t n) {
    auto *bytes = static_cast<volatile uint8_t *>(p);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = 0;
    }
}

// Sets the initial state (an array of the state's words) and a zero length.
template <class Ctx, class State>
void start(Ctx *ctx, const State &initial) {
    static_assert(sizeof initial == sizeof ctx->state);
    if (ctx == nullptr) {
        return;
    }
    ctx->count[0] = 0;
    ctx->count[1] = 0;
    std::memcpy(ctx->state, initial.data(), sizeof ctx->state);
    std::memset(ctx->buffer, 0, sizeof ctx->buffer);
}

// Absorbs data: fills the buffered block, then hands every whole block of data straight to
// compress(state, blocks, count), and keeps the rest. Null context or data, or length 0: nothing.
template <class Ctx, class Compress>
void update(Ctx *ctx, const uint8_t *data, uint32_t len, Compress compress) {
    if (ctx == nullptr || data == nullptr || len == 0) {
        return;
    }
    constexpr uint32_t block = sizeof ctx->buffer;
    const auto used = static_cast<uint32_t>(ctx->count[0] % block);
    const Word<Ctx> old = ctx->count[0];
    ctx->count[0] += len;
    if (ctx->count[0] < old) {
        ++ctx->count[1];
    }
    if (used != 0) {
        const uint32_t room = block - used;
        if (len < room) {
            std::memcpy(ctx->buffer + used, data, len);
            return;
        }
        std::memcpy(ctx->buffer + used, data, room);
        compress(ctx->state, ctx->buffer, 1);
        data += room;
        len -= room;
    }
    const uint32_t whole = len / block;
    if (whole != 0) {
        compress(ctx->state, data, whole);
        data += whole * block;
        len -= whole * block;
    }
    if (len != 0) {
        std::memcpy(ctx->buffer, data, len);
    }
}

// Pads (0x80, zeros, the bit length big-endian in two words), compresses the last block(s), writes
// the first digest_size bytes of the state big-endian and wipes the context. Null arguments: nothing.
template <class Ctx, class Compress>
void finish(Ctx *ctx, uint8_t *digest, uint32_t digest_size, Compress compress) {
    if (ctx == nullptr || digest == nullptr) {
        return;
    }
    using W = Word<Ctx>;
    constexpr uint32_t block = sizeof ctx->buffer;
    constexpr uint32_t length_offset = block - 2 * sizeof(W);
    constexpr uint32_t high_bits_shift = sizeof(W) * CHAR_BIT - kBitsPerByteShift;
    const auto used = static_cast<uint32_t>(ctx->count[0] % block);
    ctx->buffer[used] = kPadFirstByte;
    if (used + 1 > length_offset) {
        std::memset(ctx->buffer + used + 1, 0, block - used - 1);
        compress(ctx->state, ctx->buffer, 1);
        std::memset(ctx->buffer, 0, length_offset);
    } else {
        std::memset(ctx->buffer + used + 1, 0, length_offset - used - 1);
    }
    const W bits_high =
        static_cast<W>((ctx->count[1] << kBitsPerByteShift) | (ctx->count[0] >> high_bits_shift));
    const W bits_low = static_cast<W>(ctx->count[0] << kBitsPerByteShift);
    store_be(ctx->buffer + length_offset, bits_high);
    store_be(ctx->buffer + length_offset + sizeof(W), bits_low);
    compress(ctx->state, ctx->buffer, 1);
    for (uint32_t i = 0; i < digest_size / sizeof(W); ++i) {
        store_be(digest + i * sizeof(W), ctx->state[i]);
    }
    wipe(ctx, sizeof *ctx);
}

// The SHA-2 compression function (FIPS 180 6.2.2 and 6.4.2) over one block of 16 words. P gives
// the Word type, the round constants kConstants and the functions big_sigma0/1, small_sigma0/1.
constexpr uint32_t kSha2ScheduleWords = 16;

template <class P>
void sha2_compress(typename P::Word *state, const uint8_t *block) {
    using W = typename P::Word;
    std::array<W, kSha2ScheduleWords> w;
    for (uint32_t i = 0; i < kSha2ScheduleWords; ++i) {
        w[i] = load_be<W>(block + i * sizeof(W));
    }
    W a = state[0];
    W b = state[1];
    W c = state[2];
    W d = state[3];
    W e = state[4];
    W f = state[5];
    W g = state[6];
    W h = state[7];
    constexpr uint32_t mask = kSha2ScheduleWords - 1;
#pragma GCC unroll 80
    for (uint32_t i = 0; i < P::kConstants.size(); ++i) {
        if (i >= kSha2ScheduleWords) {
            w[i & mask] +=
                P::small_sigma1(w[(i - 2) & mask]) + w[(i - 7) & mask] + P::small_sigma0(w[(i - 15) & mask]);
        }
        const W t1 = h + P::big_sigma1(e) + (g ^ (e & (f ^ g))) + P::kConstants[i] + w[i & mask];
        const W t2 = P::big_sigma0(a) + ((a & b) | (c & (a | b)));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace vek::md

#endif
