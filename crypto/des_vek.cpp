/* DES (FIPS 46-3) and triple DES (EDE, NIST SP 800-67) in ECB and CBC mode.
 *
 * The standard tables are kept as published (bit numbers from 1, bit 1 the most significant) and
 * everything the hot path uses is computed from them at compile time:
 *  - every bit permutation (IP, FP, PC-1, PC-2 with the subkey packing) becomes nibble-indexed
 *    lookup tables, checked against the bit-by-bit reference on every single-bit input;
 *  - S-boxes and P are fused into eight 64-entry tables;
 *  - the expansion E is done by two rotations of R (checked against the E table).
 * A mode call derives its subkeys once and wipes them before returning. */
#include "crypto/des_vek.h"

#include <array>
#include <bit>
#include <cstring>
#include <span>

#include "base/agent_log.h"

namespace {

// ---- Sizes ----

constexpr uint32_t kBlockBytes = VEK_DES_BLOCK_SIZE;
constexpr uint32_t kBlockBits = 64;
constexpr uint32_t kHalfBits = 32;
constexpr uint32_t kKeyBytes = VEK_DES_KEY_SIZE;
constexpr uint32_t kRounds = 16;
constexpr uint32_t kByteBits = 8;
constexpr uint32_t kSboxCount = 8;
constexpr uint32_t kSboxInputBits = 6;
constexpr uint32_t kSboxInputs = 1u << kSboxInputBits;
constexpr uint32_t kSboxOutputBits = 4;
constexpr uint32_t kSboxColumns = 16;
constexpr uint32_t kSixBitMask = kSboxInputs - 1;
constexpr uint32_t kKeyHalfBits = 28;
constexpr uint32_t kPermutedKeyBits = 2 * kKeyHalfBits;        // 56
constexpr uint32_t kSubkeyBits = kSboxCount * kSboxInputBits;  // 48
constexpr uint32_t kTripleKeyCount = VEK_DES3_KEY_SIZE / kKeyBytes;
constexpr uint64_t kHalfMask = 0xFFFFFFFFu;
constexpr uint64_t kKeyHalfMask = (uint64_t{1} << kKeyHalfBits) - 1;

// ---- The standard tables (laid out as published) ----

// clang-format off
constexpr std::array<uint8_t, kBlockBits> kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,
    62, 54, 46, 38, 30, 22, 14,  6,
    64, 56, 48, 40, 32, 24, 16,  8,
    57, 49, 41, 33, 25, 17,  9,  1,
    59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,
    63, 55, 47, 39, 31, 23, 15,  7};

constexpr std::array<uint8_t, kBlockBits> kFinalPermutation = {
    40,  8, 48, 16, 56, 24, 64, 32,
    39,  7, 47, 15, 55, 23, 63, 31,
    38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,
    36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,
    34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25};

constexpr std::array<uint8_t, kSubkeyBits> kExpansion = {
    32,  1,  2,  3,  4,  5,
     4,  5,  6,  7,  8,  9,
     8,  9, 10, 11, 12, 13,
    12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21,
    20, 21, 22, 23, 24, 25,
    24, 25, 26, 27, 28, 29,
    28, 29, 30, 31, 32,  1};

constexpr std::array<uint8_t, kHalfBits> kRoundPermutation = {
    16,  7, 20, 21,
    29, 12, 28, 17,
     1, 15, 23, 26,
     5, 18, 31, 10,
     2,  8, 24, 14,
    32, 27,  3,  9,
    19, 13, 30,  6,
    22, 11,  4, 25};

constexpr std::array<uint8_t, kPermutedKeyBits> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17,  9,
     1, 58, 50, 42, 34, 26, 18,
    10,  2, 59, 51, 43, 35, 27,
    19, 11,  3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15,
     7, 62, 54, 46, 38, 30, 22,
    14,  6, 61, 53, 45, 37, 29,
    21, 13,  5, 28, 20, 12,  4};

constexpr std::array<uint8_t, kSubkeyBits> kPermutedChoice2 = {
    14, 17, 11, 24,  1,  5,
     3, 28, 15,  6, 21, 10,
    23, 19, 12,  4, 26,  8,
    16,  7, 27, 20, 13,  2,
    41, 52, 31, 37, 47, 55,
    30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53,
    46, 42, 50, 36, 29, 32};

constexpr std::array<uint8_t, kRounds> kKeyShifts = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S1..S8, each four rows of sixteen columns.
constexpr std::array<std::array<uint8_t, kSboxInputs>, kSboxCount> kSboxes = {{
    {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
      0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
      4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
     15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
      3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
      0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
     13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
     13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
     13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
      1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
     13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
     10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
      3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
     14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
      4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
     11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
     10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
      9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
      4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
     13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
      1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
      6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
      1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
      7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
      2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11},
}};
// clang-format on

// ---- Reference bit permutation: output bit i (from 1, most significant first) is input bit table[i-1] ----

template <size_t OutBits>
constexpr uint64_t permute_bits(uint64_t in, uint32_t in_bits, const std::array<uint8_t, OutBits> &table) {
    uint64_t out = 0;
    for (uint8_t source : table) {
        out = (out << 1) | ((in >> (in_bits - source)) & 1);
    }
    return out;
}

// FP must undo IP.
constexpr bool final_undoes_initial() {
    for (uint32_t bit = 0; bit < kBlockBits; ++bit) {
        uint64_t x = uint64_t{1} << bit;
        if (permute_bits(permute_bits(x, kBlockBits, kInitialPermutation), kBlockBits, kFinalPermutation) !=
            x) {
            return false;
        }
    }
    return true;
}
static_assert(final_undoes_initial());

// ---- Nibble-sliced tables for any linear bit map ----

constexpr uint32_t kNibbleBits = 4;
constexpr uint32_t kNibbleValues = 1u << kNibbleBits;
constexpr uint32_t kNibbleMask = kNibbleValues - 1;

// Entry [n][v] is the image of the input whose nibble n (counted from the least significant end)
// is v and all other bits are zero; the image of any input is the OR of its nibbles' entries.
template <uint32_t InBits>
struct NibbleMap {
    std::array<std::array<uint64_t, kNibbleValues>, InBits / kNibbleBits> entries;

    constexpr uint64_t operator()(uint64_t in) const {
        uint64_t out = 0;
        for (uint32_t n = 0; n < InBits / kNibbleBits; ++n) {
            out |= entries[n][(in >> (n * kNibbleBits)) & kNibbleMask];
        }
        return out;
    }
};

template <uint32_t InBits, typename Map>
constexpr NibbleMap<InBits> make_nibble_map(Map reference) {
    static_assert(InBits % kNibbleBits == 0);
    NibbleMap<InBits> map{};
    for (uint32_t n = 0; n < InBits / kNibbleBits; ++n) {
        for (uint64_t v = 0; v < kNibbleValues; ++v) {
            map.entries[n][v] = reference(v << (n * kNibbleBits));
        }
    }
    return map;
}

// A bit map is linear when it is fixed by its single-bit images; checking every single bit against
// the reference therefore proves the tables for all inputs.
template <uint32_t InBits, typename Map>
constexpr bool nibble_map_matches(const NibbleMap<InBits> &map, Map reference) {
    for (uint32_t bit = 0; bit < InBits; ++bit) {
        uint64_t x = uint64_t{1} << bit;
        if (map(x) != reference(x)) {
            return false;
        }
    }
    return map(0) == 0;
}

constexpr uint64_t initial_permutation_reference(uint64_t x) {
    return permute_bits(x, kBlockBits, kInitialPermutation);
}
constexpr uint64_t final_permutation_reference(uint64_t x) {
    return permute_bits(x, kBlockBits, kFinalPermutation);
}
constexpr uint64_t pc1_reference(uint64_t x) {
    return permute_bits(x, kBlockBits, kPermutedChoice1);
}

constexpr NibbleMap<kBlockBits> kInitialMap = make_nibble_map<kBlockBits>(initial_permutation_reference);
constexpr NibbleMap<kBlockBits> kFinalMap = make_nibble_map<kBlockBits>(final_permutation_reference);
constexpr NibbleMap<kBlockBits> kPc1Map = make_nibble_map<kBlockBits>(pc1_reference);
static_assert(nibble_map_matches(kInitialMap, initial_permutation_reference));
static_assert(nibble_map_matches(kFinalMap, final_permutation_reference));
static_assert(nibble_map_matches(kPc1Map, pc1_reference));

// ---- Round function layout ----
//
// E gives S-box j (from 0) the six bits 4j .. 4j+5 of R (bit 0 meaning bit 32), which is
// rotl(R, 4j + 5) & 63. Rotating R left by 5 puts the inputs of S1, S3, S5, S7 at bit offsets
// 0, 24, 16, 8; rotating by 9 does the same for S2, S4, S6, S8. A subkey is kept in the same
// layout: the six bits of S-box j sit at kGroupOffset[j / 2] of word j % 2.

constexpr uint32_t kSboxStride = 4;     // E advances four bits per S-box
constexpr uint32_t kExpansionLead = 5;  // ... and S-box 0 starts one bit before bit 1
constexpr uint32_t kEvenRotation = kExpansionLead;
constexpr uint32_t kOddRotation = kExpansionLead + kSboxStride;
constexpr uint32_t kWordsPerSubkey = 2;
constexpr uint32_t kGroupsPerWord = kSboxCount / kWordsPerSubkey;
constexpr std::array<uint32_t, kGroupsPerWord> kGroupOffset = {0, 24, 16, 8};

constexpr bool expansion_layout_matches() {
    for (uint32_t j = 0; j < kSboxCount; ++j) {
        // Reading bits offset.. of a word rotated left by base is a left rotation by base - offset.
        uint32_t base = j % kWordsPerSubkey == 0 ? kEvenRotation : kOddRotation;
        uint32_t rotation = (base + kHalfBits - kGroupOffset[j / kWordsPerSubkey]) % kHalfBits;
        if ((kSboxStride * j + kExpansionLead) % kHalfBits != rotation) {
            return false;
        }
        for (uint32_t t = 0; t < kSboxInputBits; ++t) {
            // Bit t of the group (from the most significant) is R bit 4j + t, wrapping 0 to 32.
            uint32_t r_bit = (kSboxStride * j + t + kHalfBits - 1) % kHalfBits + 1;
            if (kExpansion[j * kSboxInputBits + t] != r_bit) {
                return false;
            }
        }
    }
    return true;
}
static_assert(expansion_layout_matches());

// Packs a 48-bit PC-2 output (S-box 0's bits most significant) into the two subkey words, as one
// 64-bit value: word 0 in the high half, word 1 in the low half.
constexpr uint64_t pack_subkey(uint64_t k48) {
    uint64_t packed = 0;
    for (uint32_t j = 0; j < kSboxCount; ++j) {
        uint64_t group = (k48 >> (kSubkeyBits - kSboxInputBits * (j + 1))) & kSixBitMask;
        uint32_t word_shift = j % kWordsPerSubkey == 0 ? kHalfBits : 0;
        packed |= group << (word_shift + kGroupOffset[j / kWordsPerSubkey]);
    }
    return packed;
}

constexpr uint64_t pc2_packed_reference(uint64_t cd) {
    return pack_subkey(permute_bits(cd, kPermutedKeyBits, kPermutedChoice2));
}

constexpr NibbleMap<kPermutedKeyBits> kPc2Map = make_nibble_map<kPermutedKeyBits>(pc2_packed_reference);
static_assert(nibble_map_matches(kPc2Map, pc2_packed_reference));

// S-box j followed by P, indexed by the six input bits of S-box j.
using SpTables = std::array<std::array<uint32_t, kSboxInputs>, kSboxCount>;

constexpr SpTables make_sp_tables() {
    SpTables sp{};
    for (uint32_t j = 0; j < kSboxCount; ++j) {
        for (uint32_t v = 0; v < kSboxInputs; ++v) {
            // Outer bits (first and last) choose the row, the middle four the column.
            uint32_t outer_high = (v >> (kSboxInputBits - 1)) & 1;
            uint32_t row = (outer_high << 1) | (v & 1);
            uint32_t column = (v >> 1) & (kSboxColumns - 1);
            uint64_t nibble = kSboxes[j][row * kSboxColumns + column];
            uint64_t placed = nibble << (kHalfBits - kSboxOutputBits * (j + 1));
            sp[j][v] = static_cast<uint32_t>(permute_bits(placed, kHalfBits, kRoundPermutation));
        }
    }
    return sp;
}

constexpr SpTables kSp = make_sp_tables();

// ---- Key schedule and rounds ----

struct Subkey {
    uint32_t even;  // S1, S3, S5, S7
    uint32_t odd;   // S2, S4, S6, S8
};

using Subkeys = std::array<Subkey, kRounds>;

enum class Direction { encrypt, decrypt };

constexpr uint64_t rotl28(uint64_t half, uint32_t n) {
    return ((half << n) | (half >> (kKeyHalfBits - n))) & kKeyHalfMask;
}

uint64_t load_block(const uint8_t *p) {
    uint64_t v = 0;
    for (uint32_t i = 0; i < kBlockBytes; ++i) {
        v = (v << kByteBits) | p[i];
    }
    return v;
}

void store_block(uint8_t *p, uint64_t v) {
    for (uint32_t i = 0; i < kBlockBytes; ++i) {
        p[kBlockBytes - 1 - i] = static_cast<uint8_t>(v);
        v >>= kByteBits;
    }
}

void make_subkeys(const uint8_t *key, Subkeys &subkeys) {
    uint64_t cd = kPc1Map(load_block(key));  // parity bits are dropped here
    uint64_t c = cd >> kKeyHalfBits;
    uint64_t d = cd & kKeyHalfMask;
    for (uint32_t round = 0; round < kRounds; ++round) {
        c = rotl28(c, kKeyShifts[round]);
        d = rotl28(d, kKeyShifts[round]);
        uint64_t packed = kPc2Map((c << kKeyHalfBits) | d);
        subkeys[round] = {static_cast<uint32_t>(packed >> kHalfBits),
                          static_cast<uint32_t>(packed & kHalfMask)};
    }
}

uint32_t sp_lookup(uint32_t j, uint32_t word, uint32_t offset) {
    return kSp[j][(word >> offset) & kSixBitMask];
}

uint32_t round_function(uint32_t r, const Subkey &k) {
    uint32_t even = std::rotl(r, static_cast<int>(kEvenRotation)) ^ k.even;
    uint32_t odd = std::rotl(r, static_cast<int>(kOddRotation)) ^ k.odd;
    uint32_t f = 0;
    for (uint32_t g = 0; g < kGroupsPerWord; ++g) {
        f ^= sp_lookup(kWordsPerSubkey * g, even, kGroupOffset[g]);
        f ^= sp_lookup(kWordsPerSubkey * g + 1, odd, kGroupOffset[g]);
    }
    return f;
}

// Sixteen rounds on an IP-permuted block; returns R16 || L16, the input of FP (and, since FP and IP
// cancel, directly the input of a following DES stage).
uint64_t feistel(uint64_t permuted, const Subkeys &subkeys, Direction direction) {
    auto left = static_cast<uint32_t>(permuted >> kHalfBits);
    auto right = static_cast<uint32_t>(permuted & kHalfMask);
    for (uint32_t i = 0; i < kRounds; i += 2) {
        uint32_t first = direction == Direction::encrypt ? i : kRounds - 1 - i;
        uint32_t second = direction == Direction::encrypt ? i + 1 : kRounds - 2 - i;
        left ^= round_function(right, subkeys[first]);
        right ^= round_function(left, subkeys[second]);
    }
    return (uint64_t{right} << kHalfBits) | left;
}

template <typename T>
void wipe(T &object) {
    std::memset(&object, 0, sizeof(object));
    __asm__ __volatile__("" : : "r"(&object) : "memory");
}

// ---- The two ciphers behind a common shape ----

class SingleDes {
   public:
    explicit SingleDes(const uint8_t *key) { make_subkeys(key, subkeys_); }
    ~SingleDes() { wipe(subkeys_); }
    SingleDes(const SingleDes &) = delete;
    SingleDes &operator=(const SingleDes &) = delete;

    uint64_t crypt(uint64_t block, Direction direction) const {
        return kFinalMap(feistel(kInitialMap(block), subkeys_, direction));
    }

   private:
    Subkeys subkeys_{};
};

class TripleDes {
   public:
    explicit TripleDes(const uint8_t *key) {
        for (uint32_t i = 0; i < kTripleKeyCount; ++i) {
            make_subkeys(key + i * kKeyBytes, subkeys_[i]);
        }
    }
    ~TripleDes() { wipe(subkeys_); }
    TripleDes(const TripleDes &) = delete;
    TripleDes &operator=(const TripleDes &) = delete;

    // Encrypt: E(K1), D(K2), E(K3). Decrypt: D(K3), E(K2), D(K1).
    uint64_t crypt(uint64_t block, Direction direction) const {
        bool enc = direction == Direction::encrypt;
        Direction inner = enc ? Direction::decrypt : Direction::encrypt;
        uint64_t x = kInitialMap(block);
        x = feistel(x, subkeys_[enc ? 0 : 2], direction);
        x = feistel(x, subkeys_[1], inner);
        x = feistel(x, subkeys_[enc ? 2 : 0], direction);
        return kFinalMap(x);
    }

   private:
    std::array<Subkeys, kTripleKeyCount> subkeys_{};
};

// ---- Modes ----

template <typename Cipher>
void ecb(const Cipher &cipher, Direction direction, const uint8_t *in, uint8_t *out, uint32_t blocks) {
    for (uint32_t b = 0; b < blocks; ++b) {
        store_block(out + b * kBlockBytes, cipher.crypt(load_block(in + b * kBlockBytes), direction));
    }
}

template <typename Cipher>
void cbc_encrypt(const Cipher &cipher, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t blocks) {
    uint64_t chain = load_block(iv);
    for (uint32_t b = 0; b < blocks; ++b) {
        chain = cipher.crypt(load_block(in + b * kBlockBytes) ^ chain, Direction::encrypt);
        store_block(out + b * kBlockBytes, chain);
    }
}

// The ciphertext block is read before its plaintext is written, so in-place use is safe.
template <typename Cipher>
void cbc_decrypt(const Cipher &cipher, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t blocks) {
    uint64_t chain = load_block(iv);
    for (uint32_t b = 0; b < blocks; ++b) {
        uint64_t block = load_block(in + b * kBlockBytes);
        store_block(out + b * kBlockBytes, cipher.crypt(block, Direction::decrypt) ^ chain);
        chain = block;
    }
}

// ---- Checked entry points ----

struct ModeTexts {
    const char *start;  // takes the length
    const char *done;
    const char *invalid;  // takes the length
};

constexpr ModeTexts kDesEcbEncrypt = {"ECB加密开始: 处理 %u 字节数据", "ECB加密完成",
                                      "ECB加密: 无效参数, len=%u"};
constexpr ModeTexts kDesEcbDecrypt = {"ECB解密开始: 处理 %u 字节数据", "ECB解密完成",
                                      "ECB解密: 无效参数, len=%u"};
constexpr ModeTexts kDesCbcEncrypt = {"CBC加密开始: 处理 %u 字节数据", "CBC加密完成",
                                      "CBC加密: 无效参数, len=%u"};
constexpr ModeTexts kDesCbcDecrypt = {"CBC解密开始: 处理 %u 字节数据", "CBC解密完成",
                                      "CBC解密: 无效参数, len=%u"};
constexpr ModeTexts kDes3EcbEncrypt = {"3DES-ECB加密开始: 处理 %u 字节数据", "3DES-ECB加密完成",
                                       "3DES-ECB加密: 无效参数, len=%u"};
constexpr ModeTexts kDes3EcbDecrypt = {"3DES-ECB解密开始: 处理 %u 字节数据", "3DES-ECB解密完成",
                                       "3DES-ECB解密: 无效参数, len=%u"};
constexpr ModeTexts kDes3CbcEncrypt = {"3DES-CBC加密开始: 处理 %u 字节数据", "3DES-CBC加密完成",
                                       "3DES-CBC加密: 无效参数, len=%u"};
constexpr ModeTexts kDes3CbcDecrypt = {"3DES-CBC解密开始: 处理 %u 字节数据", "3DES-CBC解密完成",
                                       "3DES-CBC解密: 无效参数, len=%u"};

// iv is checked only when the mode has one.
bool mode_arguments_valid(const ModeTexts &texts, const uint8_t *key, bool needs_iv, const uint8_t *iv,
                          const uint8_t *in, const uint8_t *out, uint32_t len) {
    bool valid = key != nullptr && (!needs_iv || iv != nullptr) && in != nullptr && out != nullptr &&
                 len != 0 && len % kBlockBytes == 0;
    if (!valid) {
        AGENT_LOG(AGENT_LOG_ERROR, texts.invalid, len);
    }
    return valid;
}

template <typename Cipher>
void run_ecb(const ModeTexts &texts, Direction direction, const uint8_t *key, const uint8_t *in, uint32_t len,
             uint8_t *out) {
    if (!mode_arguments_valid(texts, key, false, nullptr, in, out, len)) {
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, texts.start, len);
    const Cipher cipher(key);
    ecb(cipher, direction, in, out, len / kBlockBytes);
    AGENT_LOG(AGENT_LOG_INFO, "%s", texts.done);
}

template <typename Cipher>
void run_cbc(const ModeTexts &texts, Direction direction, const uint8_t *key, const uint8_t *iv,
             const uint8_t *in, uint8_t *out, uint32_t len) {
    if (!mode_arguments_valid(texts, key, true, iv, in, out, len)) {
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, texts.start, len);
    const Cipher cipher(key);
    if (direction == Direction::encrypt) {
        cbc_encrypt(cipher, iv, in, out, len / kBlockBytes);
    } else {
        cbc_decrypt(cipher, iv, in, out, len / kBlockBytes);
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s", texts.done);
}

template <typename Cipher>
void run_block(const char *null_message, Direction direction, const uint8_t *key, const uint8_t *in,
               uint8_t *out) {
    if (key == nullptr || in == nullptr || out == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", null_message);
        return;
    }
    const Cipher cipher(key);
    store_block(out, cipher.crypt(load_block(in), direction));
}

}  // namespace

extern "C" {

uint64_t bytes_to_uint64(const uint8_t *b) {
    return b == nullptr ? 0 : load_block(b);
}

void vek_des_encrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out) {
    run_block<SingleDes>("DES加密块: 参数为空", Direction::encrypt, key, in, out);
}

void vek_des_decrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out) {
    run_block<SingleDes>("DES解密块: 参数为空", Direction::decrypt, key, in, out);
}

void vek_des3_encrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out) {
    run_block<TripleDes>("3DES加密块: 参数为空", Direction::encrypt, key, in, out);
}

void vek_des3_decrypt_block(const uint8_t *key, const uint8_t *in, uint8_t *out) {
    run_block<TripleDes>("3DES解密块: 参数为空", Direction::decrypt, key, in, out);
}

void vek_des_ecb_encrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out) {
    run_ecb<SingleDes>(kDesEcbEncrypt, Direction::encrypt, key, in, len, out);
}

void vek_des_ecb_decrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out) {
    run_ecb<SingleDes>(kDesEcbDecrypt, Direction::decrypt, key, in, len, out);
}

void vek_des3_ecb_encrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out) {
    run_ecb<TripleDes>(kDes3EcbEncrypt, Direction::encrypt, key, in, len, out);
}

void vek_des3_ecb_decrypt(const uint8_t *key, const uint8_t *in, uint32_t len, uint8_t *out) {
    run_ecb<TripleDes>(kDes3EcbDecrypt, Direction::decrypt, key, in, len, out);
}

void vek_des_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                         uint32_t len) {
    run_cbc<SingleDes>(kDesCbcEncrypt, Direction::encrypt, key, iv, in, out, len);
}

void vek_des_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                         uint32_t len) {
    run_cbc<SingleDes>(kDesCbcDecrypt, Direction::decrypt, key, iv, in, out, len);
}

void vek_des3_cbc_encrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                          uint32_t len) {
    run_cbc<TripleDes>(kDes3CbcEncrypt, Direction::encrypt, key, iv, in, out, len);
}

void vek_des3_cbc_decrypt(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out,
                          uint32_t len) {
    run_cbc<TripleDes>(kDes3CbcDecrypt, Direction::decrypt, key, iv, in, out, len);
}

}  // extern "C"

// ---- Self-test ----

namespace {

template <size_t N>
consteval std::array<uint8_t, (N - 1) / 2> hex(const char (&text)[N]) {
    auto nibble = [](char c) -> uint8_t {
        return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    };
    std::array<uint8_t, (N - 1) / 2> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>((nibble(text[2 * i]) << 4) | nibble(text[2 * i + 1]));
    }
    return bytes;
}

using Block = std::array<uint8_t, kBlockBytes>;

struct KnownAnswer {
    const char *name;
    Block key;
    Block plain;
    Block cipher;
};

// Classic single-block known answers (FIPS 81 example, the textbook worked example, boundary keys).
constexpr std::array<KnownAnswer, 9> kKnownAnswers = {{
    {"\"Now is t\" (FIPS 81)", hex("0123456789abcdef"), hex("4e6f772069732074"), hex("3fa40e8a984d4815")},
    {"密钥 133457799BBCDFF1", hex("133457799bbcdff1"), hex("0123456789abcdef"), hex("85e813540f0ab405")},
    {"全零密钥/全零明文", hex("0000000000000000"), hex("0000000000000000"), hex("8ca64de9c1b123a7")},
    {"全1密钥/全1明文", hex("ffffffffffffffff"), hex("ffffffffffffffff"), hex("7359b2163e4edc58")},
    {"密钥 3000000000000000", hex("3000000000000000"), hex("1000000000000001"), hex("958e6e627a05557b")},
    {"密钥 1111111111111111", hex("1111111111111111"), hex("1111111111111111"), hex("f40379ab9e0ec533")},
    {"密钥 0123456789ABCDEF / 明文 1111111111111111", hex("0123456789abcdef"), hex("1111111111111111"),
     hex("17668dfc7292532d")},
    {"密钥 1111111111111111 / 明文 0123456789ABCDEF", hex("1111111111111111"), hex("0123456789abcdef"),
     hex("8a5ae1f81ab8f2dd")},
    {"密钥 FEDCBA9876543210", hex("fedcba9876543210"), hex("0123456789abcdef"), hex("ed39d950fa74bcc4")},
}};

// FIPS 81 "Now is the time for all " in ECB and CBC.
constexpr auto kFips81Key = hex("0123456789abcdef");
constexpr auto kFips81ParityFlipped = hex("0022446688aaccee");  // same key, every parity bit changed
constexpr auto kFips81Iv = hex("1234567890abcdef");
constexpr auto kFips81Plain = hex("4e6f77206973207468652074696d6520666f7220616c6c20");
constexpr auto kFips81Ecb = hex("3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53");
constexpr auto kFips81Cbc = hex("e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6");

// NIST SP 800-67 triple-DES example ("The qufck brown fox jump").
constexpr auto kTdeaKey = hex("0123456789abcdef23456789abcdef01456789abcdef0123");
constexpr auto kTdeaPlain = hex("5468652071756663");
constexpr auto kTdeaCipher = hex("a826fd8ce53b855f");

constexpr uint32_t kMultiBlockBytes = 64;

class DesTally {
   public:
    void check(bool passed, const char *name) {
        ++total_;
        if (passed) {
            ++passed_;
            AGENT_LOG(AGENT_LOG_INFO, "✅ [PASS] %s", name);
        } else {
            AGENT_LOG(AGENT_LOG_ERROR, "❌ [FAIL] %s", name);
        }
    }

    int finish() const {
        int failed = total_ - passed_;
        AGENT_LOG(AGENT_LOG_INFO, "总测试数: %d", total_);
        AGENT_LOG(AGENT_LOG_INFO, "通过数: %d", passed_);
        AGENT_LOG(AGENT_LOG_INFO, "失败数: %d", failed);
        constexpr double kPercent = 100.0;
        AGENT_LOG(AGENT_LOG_INFO, "通过率: %.1f%%", total_ == 0 ? 0.0 : kPercent * passed_ / total_);
        return failed;
    }

   private:
    int total_ = 0;
    int passed_ = 0;
};

bool same(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

template <size_t N>
std::array<uint8_t, N> counting_pattern() {
    std::array<uint8_t, N> data{};
    for (size_t i = 0; i < N; ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    return data;
}

void check_known_answers(DesTally &tally) {
    for (const KnownAnswer &ka : kKnownAnswers) {
        Block out{};
        vek_des_encrypt_block(ka.key.data(), ka.plain.data(), out.data());
        tally.check(same(out, ka.cipher), ka.name);
    }
    const KnownAnswer &first = kKnownAnswers[0];
    Block back{};
    vek_des_decrypt_block(first.key.data(), first.cipher.data(), back.data());
    tally.check(same(back, first.plain), "单块解密还原 \"Now is t\"");
    Block flipped{};
    vek_des_encrypt_block(kFips81ParityFlipped.data(), first.plain.data(), flipped.data());
    tally.check(same(flipped, first.cipher), "密钥奇偶校验位被忽略");
}

void check_single_modes(DesTally &tally) {
    std::array<uint8_t, kFips81Plain.size()> out{};
    vek_des_ecb_encrypt(kFips81Key.data(), kFips81Plain.data(), kFips81Plain.size(), out.data());
    tally.check(same(out, kFips81Ecb), "ECB 加密 (FIPS 81)");
    vek_des_ecb_decrypt(kFips81Key.data(), kFips81Ecb.data(), kFips81Ecb.size(), out.data());
    tally.check(same(out, kFips81Plain), "ECB 解密 (FIPS 81)");
    vek_des_cbc_encrypt(kFips81Key.data(), kFips81Iv.data(), kFips81Plain.data(), out.data(),
                        kFips81Plain.size());
    tally.check(same(out, kFips81Cbc), "CBC 加密 (FIPS 81)");
    vek_des_cbc_decrypt(kFips81Key.data(), kFips81Iv.data(), kFips81Cbc.data(), out.data(),
                        kFips81Cbc.size());
    tally.check(same(out, kFips81Plain), "CBC 解密 (FIPS 81)");

    const auto plain = counting_pattern<kMultiBlockBytes>();
    std::array<uint8_t, kMultiBlockBytes> cipher{};
    std::array<uint8_t, kMultiBlockBytes> back{};
    vek_des_cbc_encrypt(kFips81Key.data(), kFips81Iv.data(), plain.data(), cipher.data(), kMultiBlockBytes);
    vek_des_cbc_decrypt(kFips81Key.data(), kFips81Iv.data(), cipher.data(), back.data(), kMultiBlockBytes);
    tally.check(same(back, plain), "CBC 多块往返 (64 字节)");
}

void check_triple(DesTally &tally) {
    Block out{};
    vek_des3_encrypt_block(kTdeaKey.data(), kTdeaPlain.data(), out.data());
    tally.check(same(out, kTdeaCipher), "3DES 加密块 (SP 800-67)");
    Block back{};
    vek_des3_decrypt_block(kTdeaKey.data(), kTdeaCipher.data(), back.data());
    tally.check(same(back, kTdeaPlain), "3DES 解密块 (SP 800-67)");

    // K1 = K2 = K3 collapses to single DES.
    const KnownAnswer &first = kKnownAnswers[0];
    std::array<uint8_t, VEK_DES3_KEY_SIZE> repeated{};
    for (uint32_t i = 0; i < kTripleKeyCount; ++i) {
        std::memcpy(repeated.data() + i * kKeyBytes, first.key.data(), kKeyBytes);
    }
    vek_des3_encrypt_block(repeated.data(), first.plain.data(), out.data());
    tally.check(same(out, first.cipher), "3DES 三密钥相同等于单 DES");

    const auto plain = counting_pattern<kMultiBlockBytes>();
    std::array<uint8_t, kMultiBlockBytes> cipher{};
    std::array<uint8_t, kMultiBlockBytes> round_trip{};
    vek_des3_ecb_encrypt(kTdeaKey.data(), plain.data(), kMultiBlockBytes, cipher.data());
    vek_des3_ecb_decrypt(kTdeaKey.data(), cipher.data(), kMultiBlockBytes, round_trip.data());
    tally.check(same(round_trip, plain), "3DES-ECB 多块往返");
    vek_des3_cbc_encrypt(kTdeaKey.data(), kFips81Iv.data(), plain.data(), cipher.data(), kMultiBlockBytes);
    vek_des3_cbc_decrypt(kTdeaKey.data(), kFips81Iv.data(), cipher.data(), round_trip.data(),
                         kMultiBlockBytes);
    tally.check(same(round_trip, plain), "3DES-CBC 多块往返");
    vek_des3_cbc_decrypt(kTdeaKey.data(), kFips81Iv.data(), cipher.data(), cipher.data(), kMultiBlockBytes);
    tally.check(same(cipher, plain), "3DES-CBC 原地解密");
}

}  // namespace

extern "C" int test_vek_des_standard_cases(void) {
    AGENT_LOG(AGENT_LOG_INFO, "=== DES/3DES 标准测试 ===");
    DesTally tally;
    check_known_answers(tally);
    check_single_modes(tally);
    check_triple(tally);
    return tally.finish();
}
