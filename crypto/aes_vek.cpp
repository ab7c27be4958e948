/* AES (FIPS 197) block cipher, CBC mode and CFB-128 mode (NIST SP 800-38A).
 *
 * Two code paths share one key expansion: portable 32-bit table code (the S-box, its inverse and the
 * round tables are computed at compile time from the field arithmetic) and the processor's AES
 * instructions, chosen at run time. A CBC or CFB call expands its key once and wipes the schedule
 * before returning. */
#include "crypto/aes_vek.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "crypto/self_test_vek.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define VEK_AES_HAVE_AESNI 1
#include <wmmintrin.h>
#else
#define VEK_AES_HAVE_AESNI 0
#endif

namespace {

// ---- Sizes ----

constexpr uint32_t kBlockBytes = VEK_AES_BLOCK_SIZE;
constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kBlockWords = kBlockBytes / kWordBytes;  // Nb
constexpr uint32_t kRoundsBeyondKeyWords = 6;               // Nr = Nk + 6
constexpr uint32_t kMaxKeyWords = VEK_AES256_KEY_SIZE / kWordBytes;
constexpr uint32_t kMaxRounds = kMaxKeyWords + kRoundsBeyondKeyWords;
constexpr uint32_t kMaxRoundKeys = kMaxRounds + 1;
constexpr uint32_t kMaxScheduleWords = kBlockWords * kMaxRoundKeys;
constexpr uint32_t kByteBits = 8;
constexpr uint32_t kWordBits = kWordBytes * kByteBits;
constexpr uint32_t kTopByteShift = kWordBits - kByteBits;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kTableSize = 256;

// ---- Field arithmetic in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 ----

constexpr uint8_t kReductionByte = 0x1B;  // x^8 reduced: x^4 + x^3 + x + 1
constexpr uint8_t kHighBit = 0x80;
constexpr uint8_t kAffineConstant = 0x63;
constexpr uint32_t kInverseExponent = 254;  // a^254 = a^-1 in GF(2^8)*

constexpr uint8_t xtime(uint8_t a) {
    return static_cast<uint8_t>((a << 1) ^ ((a & kHighBit) != 0 ? kReductionByte : 0));
}

constexpr uint8_t gf_mul(uint8_t a, uint8_t b) {
    uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

constexpr uint8_t gf_inverse(uint8_t a) {
    uint8_t result = 1;
    uint8_t base = a;
    for (uint32_t e = kInverseExponent; e != 0; e >>= 1) {
        if ((e & 1) != 0) {
            result = gf_mul(result, base);
        }
        base = gf_mul(base, base);
    }
    return a == 0 ? 0 : result;
}

constexpr uint8_t rotl8(uint8_t v, uint32_t n) {
    return static_cast<uint8_t>((v << n) | (v >> (kByteBits - n)));
}

constexpr std::array<uint8_t, kTableSize> make_sbox() {
    std::array<uint8_t, kTableSize> box{};
    for (uint32_t i = 0; i < kTableSize; ++i) {
        uint8_t inv = gf_inverse(static_cast<uint8_t>(i));
        box[i] = static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^ rotl8(inv, 4) ^
                                      kAffineConstant);
    }
    return box;
}

constexpr std::array<uint8_t, kTableSize> kSbox = make_sbox();

constexpr std::array<uint8_t, kTableSize> make_inverse_sbox() {
    std::array<uint8_t, kTableSize> box{};
    for (uint32_t i = 0; i < kTableSize; ++i) {
        box[kSbox[i]] = static_cast<uint8_t>(i);
    }
    return box;
}

constexpr std::array<uint8_t, kTableSize> kInverseSbox = make_inverse_sbox();

// Spot checks from the published tables.
static_assert(kSbox[0x00] == 0x63 && kSbox[0x01] == 0x7C && kSbox[0x53] == 0xED && kSbox[0xFF] == 0x16);
static_assert(kInverseSbox[0x00] == 0x52 && kInverseSbox[0xED] == 0x53 && kInverseSbox[0xFF] == 0x7D);

// Round constants x^(i-1): 01 02 04 08 10 20 40 80 1B 36.
constexpr uint32_t kRconCount = 10;

constexpr std::array<uint8_t, kRconCount + 1> make_rcon() {
    std::array<uint8_t, kRconCount + 1> rcon{};
    uint8_t value = 1;
    for (uint32_t i = 1; i <= kRconCount; ++i) {
        rcon[i] = value;
        value = xtime(value);
    }
    return rcon;
}

constexpr std::array<uint8_t, kRconCount + 1> kRcon = make_rcon();
static_assert(kRcon[1] == 0x01 && kRcon[8] == 0x80 && kRcon[9] == 0x1B && kRcon[10] == 0x36);

// ---- Words: byte 0 of a column is the most significant byte ----

constexpr uint32_t pack_word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return (uint32_t{b0} << kTopByteShift) | (uint32_t{b1} << (2 * kByteBits)) | (uint32_t{b2} << kByteBits) |
           uint32_t{b3};
}

constexpr uint8_t word_byte(uint32_t w, uint32_t index) {
    return static_cast<uint8_t>((w >> ((kWordBytes - 1 - index) * kByteBits)) & kByteMask);
}

constexpr uint32_t rotr32(uint32_t w, uint32_t n) {
    return (w >> n) | (w << (kWordBits - n));
}

uint32_t load_word(const uint8_t *p) {
    return pack_word(p[0], p[1], p[2], p[3]);
}

void store_word(uint8_t *p, uint32_t w) {
    for (uint32_t i = 0; i < kWordBytes; ++i) {
        p[i] = word_byte(w, i);
    }
}

// ---- Round tables: SubBytes, ShiftRows' column byte and MixColumns fused per byte position ----

using RoundTables = std::array<std::array<uint32_t, kTableSize>, kWordBytes>;

// Column multipliers of MixColumns (2 3 1 1) and InvMixColumns (14 11 13 9), as the column a single
// byte at row 0 contributes.
constexpr std::array<uint8_t, kWordBytes> kMixColumn = {2, 1, 1, 3};
constexpr std::array<uint8_t, kWordBytes> kInvMixColumn = {14, 9, 13, 11};

constexpr RoundTables make_round_tables(const std::array<uint8_t, kTableSize> &box,
                                        const std::array<uint8_t, kWordBytes> &column) {
    RoundTables tables{};
    for (uint32_t i = 0; i < kTableSize; ++i) {
        uint8_t s = box[i];
        uint32_t w =
            pack_word(gf_mul(s, column[0]), gf_mul(s, column[1]), gf_mul(s, column[2]), gf_mul(s, column[3]));
        for (uint32_t t = 0; t < kWordBytes; ++t) {
            tables[t][i] = t == 0 ? w : rotr32(w, t * kByteBits);
        }
    }
    return tables;
}

constexpr RoundTables kEncTables = make_round_tables(kSbox, kMixColumn);
constexpr RoundTables kDecTables = make_round_tables(kInverseSbox, kInvMixColumn);

// ---- Key schedule ----

struct AesSchedule {
    std::array<uint32_t, kMaxScheduleWords> words;
    uint32_t rounds;
};

bool valid_key_length(uint32_t key_len) {
    return key_len == VEK_AES128_KEY_SIZE || key_len == VEK_AES192_KEY_SIZE || key_len == VEK_AES256_KEY_SIZE;
}

uint32_t sub_word(uint32_t w) {
    return pack_word(kSbox[word_byte(w, 0)], kSbox[word_byte(w, 1)], kSbox[word_byte(w, 2)],
                     kSbox[word_byte(w, 3)]);
}

constexpr uint32_t rot_word(uint32_t w) {
    return (w << kByteBits) | (w >> kTopByteShift);
}

// FIPS 197 KeyExpansion; key_len must already be valid.
void expand_key(const uint8_t *key, uint32_t key_len, AesSchedule &ks) {
    const uint32_t nk = key_len / kWordBytes;
    ks.rounds = nk + kRoundsBeyondKeyWords;
    const uint32_t total = kBlockWords * (ks.rounds + 1);
    for (uint32_t i = 0; i < nk; ++i) {
        ks.words[i] = load_word(key + i * kWordBytes);
    }
    constexpr uint32_t kLongKeyWords = 6;  // keys above 6 words add a SubWord half-way
    constexpr uint32_t kHalfKeyWords = 4;
    for (uint32_t i = nk; i < total; ++i) {
        uint32_t temp = ks.words[i - 1];
        if (i % nk == 0) {
            temp = sub_word(rot_word(temp)) ^ (uint32_t{kRcon[i / nk]} << kTopByteShift);
        } else if (nk > kLongKeyWords && i % nk == kHalfKeyWords) {
            temp = sub_word(temp);
        }
        ks.words[i] = ks.words[i - nk] ^ temp;
    }
}

uint32_t inv_mix_column(uint32_t w) {
    // Td tables applied to S-box outputs undo the S-box: Td[t][S[b]] = InvMixColumns of b at row t.
    return kDecTables[0][kSbox[word_byte(w, 0)]] ^ kDecTables[1][kSbox[word_byte(w, 1)]] ^
           kDecTables[2][kSbox[word_byte(w, 2)]] ^ kDecTables[3][kSbox[word_byte(w, 3)]];
}

// Round keys of the equivalent inverse cipher: reversed, InvMixColumns on all but the outer two.
void make_decrypt_schedule(const AesSchedule &enc, AesSchedule &dec) {
    dec.rounds = enc.rounds;
    for (uint32_t r = 0; r <= enc.rounds; ++r) {
        for (uint32_t c = 0; c < kBlockWords; ++c) {
            uint32_t w = enc.words[(enc.rounds - r) * kBlockWords + c];
            bool outer = r == 0 || r == enc.rounds;
            dec.words[r * kBlockWords + c] = outer ? w : inv_mix_column(w);
        }
    }
}

// Overwrites key material in a way the optimiser may not drop.
template <typename T>
void wipe(T &object) {
    std::memset(&object, 0, sizeof(object));
    __asm__ __volatile__("" : : "r"(&object) : "memory");
}

// ---- Portable block code ----

using State = std::array<uint32_t, kBlockWords>;

void sw_encrypt_block(const AesSchedule &ks, const uint8_t *in, uint8_t *out) {
    const uint32_t *rk = ks.words.data();
    State s{};
    for (uint32_t c = 0; c < kBlockWords; ++c) {
        s[c] = load_word(in + c * kWordBytes) ^ rk[c];
    }
    for (uint32_t round = 1; round < ks.rounds; ++round) {
        rk += kBlockWords;
        State t{};
        for (uint32_t c = 0; c < kBlockWords; ++c) {
            t[c] = kEncTables[0][word_byte(s[c], 0)] ^ kEncTables[1][word_byte(s[(c + 1) % kBlockWords], 1)] ^
                   kEncTables[2][word_byte(s[(c + 2) % kBlockWords], 2)] ^
                   kEncTables[3][word_byte(s[(c + 3) % kBlockWords], 3)] ^ rk[c];
        }
        s = t;
    }
    rk += kBlockWords;
    for (uint32_t c = 0; c < kBlockWords; ++c) {
        uint32_t w = pack_word(kSbox[word_byte(s[c], 0)], kSbox[word_byte(s[(c + 1) % kBlockWords], 1)],
                               kSbox[word_byte(s[(c + 2) % kBlockWords], 2)],
                               kSbox[word_byte(s[(c + 3) % kBlockWords], 3)]);
        store_word(out + c * kWordBytes, w ^ rk[c]);
    }
}

// dec must come from make_decrypt_schedule.
void sw_decrypt_block(const AesSchedule &dec, const uint8_t *in, uint8_t *out) {
    const uint32_t *rk = dec.words.data();
    State s{};
    for (uint32_t c = 0; c < kBlockWords; ++c) {
        s[c] = load_word(in + c * kWordBytes) ^ rk[c];
    }
    for (uint32_t round = 1; round < dec.rounds; ++round) {
        rk += kBlockWords;
        State t{};
        for (uint32_t c = 0; c < kBlockWords; ++c) {
            t[c] = kDecTables[0][word_byte(s[c], 0)] ^ kDecTables[1][word_byte(s[(c + 3) % kBlockWords], 1)] ^
                   kDecTables[2][word_byte(s[(c + 2) % kBlockWords], 2)] ^
                   kDecTables[3][word_byte(s[(c + 1) % kBlockWords], 3)] ^ rk[c];
        }
        s = t;
    }
    rk += kBlockWords;
    for (uint32_t c = 0; c < kBlockWords; ++c) {
        uint32_t w =
            pack_word(kInverseSbox[word_byte(s[c], 0)], kInverseSbox[word_byte(s[(c + 3) % kBlockWords], 1)],
                      kInverseSbox[word_byte(s[(c + 2) % kBlockWords], 2)],
                      kInverseSbox[word_byte(s[(c + 1) % kBlockWords], 3)]);
        store_word(out + c * kWordBytes, w ^ rk[c]);
    }
}

using Block = std::array<uint8_t, kBlockBytes>;

void xor_block(Block &dst, const uint8_t *src) {
    for (uint32_t i = 0; i < kBlockBytes; ++i) {
        dst[i] ^= src[i];
    }
}

void sw_cbc_encrypt(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                    uint32_t blocks) {
    Block chain{};
    std::memcpy(chain.data(), iv, kBlockBytes);
    for (uint32_t b = 0; b < blocks; ++b) {
        xor_block(chain, in + b * kBlockBytes);
        sw_encrypt_block(ks, chain.data(), chain.data());
        std::memcpy(out + b * kBlockBytes, chain.data(), kBlockBytes);
    }
}

void sw_cbc_decrypt(const AesSchedule &enc, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                    uint32_t blocks) {
    AesSchedule dec{};
    make_decrypt_schedule(enc, dec);
    Block chain{};
    std::memcpy(chain.data(), iv, kBlockBytes);
    for (uint32_t b = 0; b < blocks; ++b) {
        Block cipher{};  // kept before the output is written, so in-place use is safe
        std::memcpy(cipher.data(), in + b * kBlockBytes, kBlockBytes);
        Block plain{};
        sw_decrypt_block(dec, cipher.data(), plain.data());
        xor_block(plain, chain.data());
        std::memcpy(out + b * kBlockBytes, plain.data(), kBlockBytes);
        chain = cipher;
    }
    wipe(dec);
}

// CFB-128: each keystream block is the encryption of the previous cipher text block (the IV
// first); a short last block uses the front of its keystream block. Every input byte is read before
// its output byte is written, so in-place use is safe.
void xor_stream(const Block &stream, const uint8_t *in, uint8_t *out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<uint8_t>(in[i] ^ stream[i]);
    }
}

template <bool Decrypt>
void sw_cfb(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t len) {
    Block feedback{};
    std::memcpy(feedback.data(), iv, kBlockBytes);
    Block stream{};
    for (uint32_t off = 0; off < len; off += kBlockBytes) {
        const uint32_t n = len - off < kBlockBytes ? len - off : kBlockBytes;
        sw_encrypt_block(ks, feedback.data(), stream.data());
        if constexpr (Decrypt) {
            std::memcpy(feedback.data(), in + off, n);
            xor_stream(stream, in + off, out + off, n);
        } else {
            xor_stream(stream, in + off, out + off, n);
            std::memcpy(feedback.data(), out + off, n);
        }
    }
    wipe(stream);
    wipe(feedback);
}

// ---- AES instruction code ----

#if VEK_AES_HAVE_AESNI

#define VEK_AESNI_TARGET __attribute__((target("aes,sse2")))

// std::array would drop the vector type's alignment attribute, so the key list is a plain member array.
struct RoundKeys {
    __m128i key[kMaxRoundKeys];

    __m128i &operator[](uint32_t i) { return key[i]; }
    const __m128i &operator[](uint32_t i) const { return key[i]; }
};

VEK_AESNI_TARGET __m128i load_block(const uint8_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

VEK_AESNI_TARGET void store_block(uint8_t *p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v);
}

VEK_AESNI_TARGET void load_encrypt_keys(const AesSchedule &ks, RoundKeys &rk) {
    Block bytes{};
    for (uint32_t r = 0; r <= ks.rounds; ++r) {
        for (uint32_t c = 0; c < kBlockWords; ++c) {
            store_word(bytes.data() + c * kWordBytes, ks.words[r * kBlockWords + c]);
        }
        rk[r] = load_block(bytes.data());
    }
    wipe(bytes);
}

// The instructions implement the equivalent inverse cipher: reversed keys, InvMixColumns inside.
VEK_AESNI_TARGET void load_decrypt_keys(const AesSchedule &ks, RoundKeys &rk) {
    RoundKeys enc{};
    load_encrypt_keys(ks, enc);
    rk[0] = enc[ks.rounds];
    for (uint32_t r = 1; r < ks.rounds; ++r) {
        rk[r] = _mm_aesimc_si128(enc[ks.rounds - r]);
    }
    rk[ks.rounds] = enc[0];
    wipe(enc);
}

template <uint32_t Rounds>
VEK_AESNI_TARGET __m128i hw_encrypt(const RoundKeys &rk, __m128i x) {
    x = _mm_xor_si128(x, rk[0]);
    for (uint32_t r = 1; r < Rounds; ++r) {
        x = _mm_aesenc_si128(x, rk[r]);
    }
    return _mm_aesenclast_si128(x, rk[Rounds]);
}

template <uint32_t Rounds>
VEK_AESNI_TARGET __m128i hw_decrypt(const RoundKeys &rk, __m128i x) {
    x = _mm_xor_si128(x, rk[0]);
    for (uint32_t r = 1; r < Rounds; ++r) {
        x = _mm_aesdec_si128(x, rk[r]);
    }
    return _mm_aesdeclast_si128(x, rk[Rounds]);
}

template <uint32_t Rounds>
VEK_AESNI_TARGET void hw_cbc_encrypt_rounds(const RoundKeys &rk, const uint8_t *iv, const uint8_t *in,
                                            uint8_t *out, uint32_t blocks) {
    __m128i chain = load_block(iv);
    for (uint32_t b = 0; b < blocks; ++b) {
        chain = hw_encrypt<Rounds>(rk, _mm_xor_si128(load_block(in + b * kBlockBytes), chain));
        store_block(out + b * kBlockBytes, chain);
    }
}

// Decryption blocks are independent, so several go through the pipeline together. All inputs of a
// group are read before any output is written, which keeps in-place use safe.
constexpr uint32_t kParallelBlocks = 4;

template <uint32_t Rounds>
VEK_AESNI_TARGET void hw_cbc_decrypt_rounds(const RoundKeys &rk, const uint8_t *iv, const uint8_t *in,
                                            uint8_t *out, uint32_t blocks) {
    __m128i chain = load_block(iv);
    uint32_t b = 0;
    for (; b + kParallelBlocks <= blocks; b += kParallelBlocks) {
        __m128i cipher[kParallelBlocks];
        __m128i x[kParallelBlocks];
        for (uint32_t i = 0; i < kParallelBlocks; ++i) {
            cipher[i] = load_block(in + (b + i) * kBlockBytes);
            x[i] = _mm_xor_si128(cipher[i], rk[0]);
        }
        for (uint32_t r = 1; r < Rounds; ++r) {
            for (uint32_t i = 0; i < kParallelBlocks; ++i) {
                x[i] = _mm_aesdec_si128(x[i], rk[r]);
            }
        }
        for (uint32_t i = 0; i < kParallelBlocks; ++i) {
            __m128i prev = i == 0 ? chain : cipher[i - 1];
            store_block(out + (b + i) * kBlockBytes,
                        _mm_xor_si128(_mm_aesdeclast_si128(x[i], rk[Rounds]), prev));
        }
        chain = cipher[kParallelBlocks - 1];
    }
    for (; b < blocks; ++b) {
        __m128i cipher = load_block(in + b * kBlockBytes);
        store_block(out + b * kBlockBytes, _mm_xor_si128(hw_decrypt<Rounds>(rk, cipher), chain));
        chain = cipher;
    }
}

template <uint32_t Rounds, bool Decrypt>
VEK_AESNI_TARGET void hw_cfb_rounds(const RoundKeys &rk, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                                    uint32_t len) {
    __m128i feedback = load_block(iv);
    uint32_t off = 0;
    for (; off + kBlockBytes <= len; off += kBlockBytes) {
        const __m128i source = load_block(in + off);
        const __m128i result = _mm_xor_si128(source, hw_encrypt<Rounds>(rk, feedback));
        store_block(out + off, result);
        feedback = Decrypt ? source : result;
    }
    if (off < len) {
        Block stream{};
        store_block(stream.data(), hw_encrypt<Rounds>(rk, feedback));
        xor_stream(stream, in + off, out + off, len - off);
        wipe(stream);
    }
}

constexpr uint32_t kRounds128 = VEK_AES128_KEY_SIZE / kWordBytes + kRoundsBeyondKeyWords;
constexpr uint32_t kRounds192 = VEK_AES192_KEY_SIZE / kWordBytes + kRoundsBeyondKeyWords;
constexpr uint32_t kRounds256 = VEK_AES256_KEY_SIZE / kWordBytes + kRoundsBeyondKeyWords;

VEK_AESNI_TARGET void hw_cbc_encrypt(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in,
                                     uint8_t *out, uint32_t blocks) {
    RoundKeys rk{};
    load_encrypt_keys(ks, rk);
    switch (ks.rounds) {
        case kRounds128:
            hw_cbc_encrypt_rounds<kRounds128>(rk, iv, in, out, blocks);
            break;
        case kRounds192:
            hw_cbc_encrypt_rounds<kRounds192>(rk, iv, in, out, blocks);
            break;
        default:
            hw_cbc_encrypt_rounds<kRounds256>(rk, iv, in, out, blocks);
            break;
    }
    wipe(rk);
}

VEK_AESNI_TARGET void hw_cbc_decrypt(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in,
                                     uint8_t *out, uint32_t blocks) {
    RoundKeys rk{};
    load_decrypt_keys(ks, rk);
    switch (ks.rounds) {
        case kRounds128:
            hw_cbc_decrypt_rounds<kRounds128>(rk, iv, in, out, blocks);
            break;
        case kRounds192:
            hw_cbc_decrypt_rounds<kRounds192>(rk, iv, in, out, blocks);
            break;
        default:
            hw_cbc_decrypt_rounds<kRounds256>(rk, iv, in, out, blocks);
            break;
    }
    wipe(rk);
}

template <bool Decrypt>
VEK_AESNI_TARGET void hw_cfb(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                             uint32_t len) {
    RoundKeys rk{};
    load_encrypt_keys(ks, rk);
    switch (ks.rounds) {
        case kRounds128:
            hw_cfb_rounds<kRounds128, Decrypt>(rk, iv, in, out, len);
            break;
        case kRounds192:
            hw_cfb_rounds<kRounds192, Decrypt>(rk, iv, in, out, len);
            break;
        default:
            hw_cfb_rounds<kRounds256, Decrypt>(rk, iv, in, out, len);
            break;
    }
    wipe(rk);
}

bool cpu_has_aes() {
    static const bool has_aes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") != 0;
    }();
    return has_aes;
}

#else

bool cpu_has_aes() {
    return false;
}

#endif

std::atomic<bool> g_hw_requested{true};

bool use_hw() {
    return g_hw_requested.load(std::memory_order_relaxed) && cpu_has_aes();
}

// ---- Dispatch ----

void cbc_encrypt_blocks(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                        uint32_t blocks) {
#if VEK_AES_HAVE_AESNI
    if (use_hw()) {
        hw_cbc_encrypt(ks, iv, in, out, blocks);
        return;
    }
#endif
    sw_cbc_encrypt(ks, iv, in, out, blocks);
}

void cbc_decrypt_blocks(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                        uint32_t blocks) {
#if VEK_AES_HAVE_AESNI
    if (use_hw()) {
        hw_cbc_decrypt(ks, iv, in, out, blocks);
        return;
    }
#endif
    sw_cbc_decrypt(ks, iv, in, out, blocks);
}

template <bool Decrypt>
void cfb_bytes(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t len) {
#if VEK_AES_HAVE_AESNI
    if (use_hw()) {
        hw_cfb<Decrypt>(ks, iv, in, out, len);
        return;
    }
#endif
    sw_cfb<Decrypt>(ks, iv, in, out, len);
}

// One block is CBC with a zero IV.
constexpr Block kZeroBlock{};

// ---- AES-128-CBC debug trace (standard output, DEBUG level only) ----

constexpr uint32_t kTraceBytesPerLine = 16;
constexpr const char *kTraceContinuation = "\n      ";

void trace_bytes(const char *label, std::span<const uint8_t> bytes) {
    std::fputs(label, stdout);
    for (uint8_t b : bytes) {
        std::printf("%02x ", b);
    }
    std::fputc('\n', stdout);
}

void trace_wrapped(const char *label, std::span<const uint8_t> bytes) {
    std::fputs(label, stdout);
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::printf("%02x ", bytes[i]);
        if ((i + 1) % kTraceBytesPerLine == 0 && i + 1 < bytes.size()) {
            std::fputs(kTraceContinuation, stdout);
        }
    }
    std::fputc('\n', stdout);
}

// The trace of a secret: its label and the mask instead of its bytes.
void trace_secret(const char *label) {
    std::fputs(label, stdout);
    std::fputs(vek::kLogMask, stdout);
    std::fputc('\n', stdout);
}

// CBC encryption block by block, printing every public intermediate value (IV and cipher text);
// the key, the plaintext and what is derived from it alone show the mask.
void traced_cbc_encrypt(const AesSchedule &ks, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t len) {
    const uint32_t blocks = len / kBlockBytes;
    std::fputs("\n=== AES-128-CBC 加密调试开始 ===\n", stdout);
    std::printf("数据长度: %u 字节 (%u 个块)\n", len, blocks);
    trace_secret("密钥: ");
    trace_bytes("IV: ", {iv, kBlockBytes});
    trace_secret("明文: ");
    Block chain{};
    std::memcpy(chain.data(), iv, kBlockBytes);
    for (uint32_t b = 0; b < blocks; ++b) {
        Block x{};
        std::memcpy(x.data(), in + b * kBlockBytes, kBlockBytes);
        std::printf("\n--- 处理块 %u ---\n", b);
        trace_bytes("前一个块: ", chain);
        trace_secret("当前明文: ");
        xor_block(x, chain.data());
        trace_secret("异或结果: ");
        cbc_encrypt_blocks(ks, kZeroBlock.data(), x.data(), chain.data(), 1);
        trace_bytes("加密结果: ", chain);
        std::memcpy(out + b * kBlockBytes, chain.data(), kBlockBytes);
    }
    std::fputs("\n=== 最终密文输出 ===\n", stdout);
    trace_wrapped("密文: ", {out, len});
    std::fputs("=== AES-128-CBC 加密调试结束 ===\n\n", stdout);
}

// ---- Checked entry points ----

bool cbc_arguments_valid(const uint8_t *key, const uint8_t *iv, const uint8_t *in, const uint8_t *out,
                         uint32_t len) {
    return key != nullptr && iv != nullptr && in != nullptr && out != nullptr && len % kBlockBytes == 0;
}

void cbc_encrypt(uint32_t key_len, const char *error, const uint8_t *key, const uint8_t *iv,
                 const uint8_t *in, uint8_t *out, uint32_t len, bool trace) {
    if (!cbc_arguments_valid(key, iv, in, out, len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", error);
        return;
    }
    AesSchedule ks{};
    expand_key(key, key_len, ks);
    if (trace) {
        traced_cbc_encrypt(ks, iv, in, out, len);
    } else {
        cbc_encrypt_blocks(ks, iv, in, out, len / kBlockBytes);
    }
    wipe(ks);
}

void cbc_decrypt(uint32_t key_len, const char *error, const uint8_t *key, const uint8_t *iv,
                 const uint8_t *in, uint8_t *out, uint32_t len) {
    if (!cbc_arguments_valid(key, iv, in, out, len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", error);
        return;
    }
    AesSchedule ks{};
    expand_key(key, key_len, ks);
    cbc_decrypt_blocks(ks, iv, in, out, len / kBlockBytes);
    wipe(ks);
}

template <bool Decrypt>
void cfb(const char *error, const uint8_t *key, uint32_t key_len, const uint8_t *iv, const uint8_t *in,
         uint8_t *out, uint32_t len) {
    if (key == nullptr || iv == nullptr || in == nullptr || out == nullptr || !valid_key_length(key_len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", error);
        return;
    }
    AesSchedule ks{};
    expand_key(key, key_len, ks);
    cfb_bytes<Decrypt>(ks, iv, in, out, len);
    wipe(ks);
}

bool block_arguments_valid(const char *function, const uint8_t *key, uint32_t key_len, const uint8_t *in,
                           const uint8_t *out) {
    if (key == nullptr || in == nullptr || out == nullptr || !valid_key_length(key_len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: invalid arguments (key_len=%u)", function, key_len);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

void vek_aes_encrypt_block(const uint8_t *key, uint32_t key_len, const uint8_t in[16], uint8_t out[16]) {
    if (!block_arguments_valid(__func__, key, key_len, in, out)) {
        return;
    }
    AesSchedule ks{};
    expand_key(key, key_len, ks);
    cbc_encrypt_blocks(ks, kZeroBlock.data(), in, out, 1);
    wipe(ks);
}

void vek_aes_decrypt_block(const uint8_t *key, uint32_t key_len, const uint8_t in[16], uint8_t out[16]) {
    if (!block_arguments_valid(__func__, key, key_len, in, out)) {
        return;
    }
    AesSchedule ks{};
    expand_key(key, key_len, ks);
    cbc_decrypt_blocks(ks, kZeroBlock.data(), in, out, 1);
    wipe(ks);
}

void vek_aes128_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    // The trace shows the key and the plaintext, so it is written only when debugging is switched on.
    cbc_encrypt(VEK_AES128_KEY_SIZE, "[AES-128-CBC加密] 参数无效", key, iv, in, out, len,
                agent_log_enabled(AGENT_LOG_DEBUG) != 0);
}

void vek_aes192_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    cbc_encrypt(VEK_AES192_KEY_SIZE, "[AES-192-CBC加密] 参数无效", key, iv, in, out, len, false);
}

void vek_aes256_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    cbc_encrypt(VEK_AES256_KEY_SIZE, "[AES-256-CBC加密] 参数无效", key, iv, in, out, len, false);
}

void vek_aes128_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    cbc_decrypt(VEK_AES128_KEY_SIZE, "[AES-128-CBC解密] 参数无效", key, iv, in, out, len);
}

void vek_aes192_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    cbc_decrypt(VEK_AES192_KEY_SIZE, "[AES-192-CBC解密] 参数无效", key, iv, in, out, len);
}

void vek_aes256_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                            uint32_t len) {
    cbc_decrypt(VEK_AES256_KEY_SIZE, "[AES-256-CBC解密] 参数无效", key, iv, in, out, len);
}

void vek_aes_cfb128_encrypt(const uint8_t *key, uint32_t key_len, const uint8_t iv[16], const uint8_t *in,
                            uint8_t *out, uint32_t len) {
    cfb<false>("[AES-CFB128加密] 参数无效", key, key_len, iv, in, out, len);
}

void vek_aes_cfb128_decrypt(const uint8_t *key, uint32_t key_len, const uint8_t iv[16], const uint8_t *in,
                            uint8_t *out, uint32_t len) {
    cfb<true>("[AES-CFB128解密] 参数无效", key, key_len, iv, in, out, len);
}

int vek_aes_set_hw_accel(int enable) {
    g_hw_requested.store(enable != 0, std::memory_order_relaxed);
    return use_hw() ? 1 : 0;
}

}  // extern "C"

namespace {

// ---- Self-tests ----

using vek::self_test::hex;
using vek::self_test::same;

// FIPS 197 appendix C: one plaintext, keys 00 01 02 ... of each length.
constexpr auto kFipsPlain = hex("00112233445566778899aabbccddeeff");
constexpr auto kFipsKey128 = hex("000102030405060708090a0b0c0d0e0f");
constexpr auto kFipsKey192 = hex("000102030405060708090a0b0c0d0e0f1011121314151617");
constexpr auto kFipsKey256 = hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
constexpr auto kFipsCipher128 = hex("69c4e0d86a7b0430d8cdb78070b4c55a");
constexpr auto kFipsCipher192 = hex("dda97ca4864cdfe06eaf70a0ec0d7191");
constexpr auto kFipsCipher256 = hex("8ea2b7ca516745bfeafc49904b496089");

// NIST SP 800-38A F.2: one IV and four plaintext blocks for all key sizes.
constexpr auto kSp800Iv = hex("000102030405060708090a0b0c0d0e0f");
constexpr auto kSp800Plain =
    hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
constexpr auto kSp800Key128 = hex("2b7e151628aed2a6abf7158809cf4f3c");
constexpr auto kSp800Key192 = hex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
constexpr auto kSp800Key256 = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
constexpr auto kSp800Cipher128 =
    hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
constexpr auto kSp800Cipher192Block1 = hex("4f021db243bc633d7178183a9fa071e8");
constexpr auto kSp800Cipher256Block1 = hex("f58c4c04d6e5f1ba779eabfb5f7bfbd6");

// NIST SP 800-38A F.3.13 .. F.3.18: CFB128 with the same IV, plaintext and keys.
constexpr auto kSp800CfbCipher128 =
    hex("3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
        "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
constexpr auto kSp800CfbCipher192 =
    hex("cdc80d6fddf18cab34c25909c99a417467ce7f7f81173621961a2b70171d3d7a"
        "2e1e8a1dd59b88b1c8e60fed1efac4c9c05f9f9ca9834fa042ae8fba584b09ff");
constexpr auto kSp800CfbCipher256 =
    hex("dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
        "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471");
constexpr uint32_t kPartialLength = 20;  // one whole block and a short one

constexpr uint32_t kPatternBlocks = 4;
constexpr uint8_t kAllOnesByte = 0xFF;

class SelfTestTally {
   public:
    explicit SelfTestTally(const char *heading) { std::fputs(heading, stdout); }

    void check(bool passed, const char *name) {
        ++total_;
        if (passed) {
            ++passed_;
        }
        std::printf("%s %s\n", passed ? "✅ [PASS]" : "❌ [FAIL]", name);
    }

    int finish() const {
        std::printf("总测试数: %d, 通过: %d, 失败: %d\n", total_, passed_, total_ - passed_);
        return total_ - passed_;
    }

   private:
    int total_ = 0;
    int passed_ = 0;
};

template <size_t KeyBytes>
void check_raw_block(SelfTestTally &tally, const std::array<uint8_t, KeyBytes> &key, const Block &expected,
                     const char *encrypt_name, const char *decrypt_name) {
    Block out{};
    vek_aes_encrypt_block(key.data(), KeyBytes, kFipsPlain.data(), out.data());
    tally.check(same(out, expected), encrypt_name);
    Block back{};
    vek_aes_decrypt_block(key.data(), KeyBytes, expected.data(), back.data());
    tally.check(same(back, kFipsPlain), decrypt_name);
}

using CbcFunction = void (*)(const uint8_t *, const uint8_t *, const uint8_t *, uint8_t *, uint32_t);

void check_cbc_first_block(SelfTestTally &tally, CbcFunction encrypt, CbcFunction decrypt, const uint8_t *key,
                           const Block &expected, const char *encrypt_name, const char *decrypt_name) {
    Block out{};
    encrypt(key, kSp800Iv.data(), kSp800Plain.data(), out.data(), kBlockBytes);
    tally.check(same(out, expected), encrypt_name);
    Block back{};
    decrypt(key, kSp800Iv.data(), expected.data(), back.data(), kBlockBytes);
    tally.check(same(back, std::span(kSp800Plain).first(kBlockBytes)), decrypt_name);
}

bool pattern_round_trip(uint8_t fill) {
    std::array<uint8_t, kPatternBlocks * kBlockBytes> plain{};
    plain.fill(fill);
    std::array<uint8_t, kPatternBlocks * kBlockBytes> cipher{};
    std::array<uint8_t, kPatternBlocks * kBlockBytes> back{};
    vek_aes128_cbc_encrypt(kSp800Key128.data(), kSp800Iv.data(), plain.data(), cipher.data(), plain.size());
    vek_aes128_cbc_decrypt(kSp800Key128.data(), kSp800Iv.data(), cipher.data(), back.data(), cipher.size());
    // Chaining must keep equal plaintext blocks from giving equal ciphertext blocks.
    bool chained =
        !same(std::span(cipher).first(kBlockBytes), std::span(cipher).subspan(kBlockBytes, kBlockBytes));
    return chained && same(back, plain);
}

template <size_t KeyBytes>
void check_cfb(SelfTestTally &tally, const std::array<uint8_t, KeyBytes> &key,
               const std::array<uint8_t, kSp800Plain.size()> &expected, const char *encrypt_name,
               const char *decrypt_name) {
    std::array<uint8_t, kSp800Plain.size()> out{};
    vek_aes_cfb128_encrypt(key.data(), KeyBytes, kSp800Iv.data(), kSp800Plain.data(), out.data(), out.size());
    tally.check(same(out, expected), encrypt_name);
    std::array<uint8_t, kSp800Plain.size()> back{};
    vek_aes_cfb128_decrypt(key.data(), KeyBytes, kSp800Iv.data(), expected.data(), back.data(), back.size());
    tally.check(same(back, kSp800Plain), decrypt_name);
}

// A length that is not a whole number of blocks gives the front of the full cipher text.
bool cfb_partial_matches() {
    std::array<uint8_t, kPartialLength> out{};
    vek_aes_cfb128_encrypt(kSp800Key128.data(), VEK_AES128_KEY_SIZE, kSp800Iv.data(), kSp800Plain.data(),
                           out.data(), kPartialLength);
    std::array<uint8_t, kPartialLength> back{};
    vek_aes_cfb128_decrypt(kSp800Key128.data(), VEK_AES128_KEY_SIZE, kSp800Iv.data(), out.data(), back.data(),
                           kPartialLength);
    return same(out, std::span(kSp800CfbCipher128).first(kPartialLength)) &&
           same(back, std::span(kSp800Plain).first(kPartialLength));
}

}  // namespace

extern "C" {

int test_aes_cfb_standard_vectors(void) {
    SelfTestTally tally("\n=== AES-CFB128标准测试（NIST SP 800-38A F.3.13-F.3.18） ===\n");
    check_cfb(tally, kSp800Key128, kSp800CfbCipher128, "AES-128-CFB128 加密 (SP 800-38A F.3.13)",
              "AES-128-CFB128 解密 (SP 800-38A F.3.14)");
    check_cfb(tally, kSp800Key192, kSp800CfbCipher192, "AES-192-CFB128 加密 (SP 800-38A F.3.15)",
              "AES-192-CFB128 解密 (SP 800-38A F.3.16)");
    check_cfb(tally, kSp800Key256, kSp800CfbCipher256, "AES-256-CFB128 加密 (SP 800-38A F.3.17)",
              "AES-256-CFB128 解密 (SP 800-38A F.3.18)");
    tally.check(cfb_partial_matches(), "AES-128-CFB128 非整块长度 (20 字节)");
    return tally.finish();
}

int test_raw_aes_ecb_standard_vectors(void) {
    SelfTestTally tally("\n=== 测试7：AES-ECB标准测试（NIST FIPS 197附录C） ===\n");
    check_raw_block(tally, kFipsKey128, kFipsCipher128, "AES-128 加密 (FIPS 197 C.1)",
                    "AES-128 解密 (FIPS 197 C.1)");
    check_raw_block(tally, kFipsKey192, kFipsCipher192, "AES-192 加密 (FIPS 197 C.2)",
                    "AES-192 解密 (FIPS 197 C.2)");
    check_raw_block(tally, kFipsKey256, kFipsCipher256, "AES-256 加密 (FIPS 197 C.3)",
                    "AES-256 解密 (FIPS 197 C.3)");
    return tally.finish();
}

int test_aes_with_standard_vectors(void) {
    SelfTestTally tally("\n=== 测试6：AES加密模块标准测试（基于NIST SP 800-38A标准测试向量） ===\n");
    Block first128{};
    std::memcpy(first128.data(), kSp800Cipher128.data(), kBlockBytes);
    check_cbc_first_block(tally, vek_aes128_cbc_encrypt, vek_aes128_cbc_decrypt, kSp800Key128.data(),
                          first128, "AES-128-CBC 加密 (SP 800-38A F.2.1)",
                          "AES-128-CBC 解密 (SP 800-38A F.2.2)");
    check_cbc_first_block(tally, vek_aes192_cbc_encrypt, vek_aes192_cbc_decrypt, kSp800Key192.data(),
                          kSp800Cipher192Block1, "AES-192-CBC 加密 (SP 800-38A F.2.3)",
                          "AES-192-CBC 解密 (SP 800-38A F.2.4)");
    check_cbc_first_block(tally, vek_aes256_cbc_encrypt, vek_aes256_cbc_decrypt, kSp800Key256.data(),
                          kSp800Cipher256Block1, "AES-256-CBC 加密 (SP 800-38A F.2.5)",
                          "AES-256-CBC 解密 (SP 800-38A F.2.6)");

    std::array<uint8_t, kSp800Plain.size()> out{};
    vek_aes128_cbc_encrypt(kSp800Key128.data(), kSp800Iv.data(), kSp800Plain.data(), out.data(), out.size());
    tally.check(same(out, kSp800Cipher128), "AES-128-CBC 多块链接加密 (4 个块)");
    std::array<uint8_t, kSp800Plain.size()> back{};
    vek_aes128_cbc_decrypt(kSp800Key128.data(), kSp800Iv.data(), kSp800Cipher128.data(), back.data(),
                           back.size());
    tally.check(same(back, kSp800Plain), "AES-128-CBC 多块链接解密 (4 个块)");

    tally.check(pattern_round_trip(0), "全零数据加解密往返");
    tally.check(pattern_round_trip(kAllOnesByte), "全0xFF数据加解密往返");
    return tally.finish();
}

}  // extern "C"
