// The crypto facade: digests, HMAC and CBC ciphers by algorithm id, PBKDF2 and the SNMPv3 key,
// IV, encryption and authentication-parameter operations built on them.
#include "crypto/crypto_vek.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "base/platform.h"
#include "crypto/aes_vek.h"
#include "crypto/des_vek.h"
#include "crypto/self_test_vek.h"

namespace {

constexpr uint8_t kHmacInnerPad = 0x36;
constexpr uint8_t kHmacOuterPad = 0x5C;
constexpr uint8_t kPadFirstByte = 0x80;
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kLengthFieldOffset = 56;  // where the 64-bit bit count starts in a final block
constexpr uint32_t kBlockIndexSize = 4;      // BE32(i) behind the salt in PBKDF2's first HMAC
constexpr uint32_t kWordBytes = 4;

// vek_hmac step failures.
constexpr int32_t kErrHmacKeyInit = -3;
constexpr int32_t kErrHmacKeyUpdate = -4;
constexpr int32_t kErrHmacKeyFinal = -5;
constexpr int32_t kErrHmacInnerInit = -6;
constexpr int32_t kErrHmacInnerPad = -7;
constexpr int32_t kErrHmacMessage = -8;
constexpr int32_t kErrHmacInnerFinal = -9;
constexpr int32_t kErrHmacOuterInit = -10;
constexpr int32_t kErrHmacOuter = -11;

// vek_cipher_encrypt / vek_cipher_decrypt.
constexpr int32_t kErrPaddedTooLong = -3;
constexpr int32_t kErrNotWholeBlocks = -4;

// vek_snmpv3_pbkdf2.
constexpr int32_t kErrPbkdf2OutputTooLong = -3;
constexpr int32_t kErrPbkdf2SaltTooLong = -4;

// vek_generate_auth_key / vek_generate_priv_key.
constexpr int32_t kErrKeyLengthMismatch = -2;
constexpr int32_t kErrEngineIdTooLong = -3;
constexpr int32_t kErrUnsupportedKdf = -4;
constexpr int32_t kErrPbkdf2Failed = -5;

// vek_snmpv3_gen_iv.
constexpr int32_t kErrRandomFailed = -3;

// vek_snmpv3_encrypt / vek_snmpv3_decrypt.
constexpr int32_t kErrBadLength = -2;
constexpr int32_t kErrUnknownCipher = -3;
constexpr int32_t kErrEncryptIv = -4;
constexpr int32_t kErrEncryptTooLong = -5;
constexpr int32_t kErrEncryptSetup = -6;
constexpr int32_t kErrEncryptCipher = -7;
constexpr int32_t kErrDecryptTooShort = -4;
constexpr int32_t kErrDecryptSetup = -5;
constexpr int32_t kErrDecryptCipher = -6;

// vek_snmpv3_generate_auth_param.
constexpr int32_t kErrParamLongerThanDigest = -3;
constexpr int32_t kErrDigestLength = -4;

// Wipes memory in a way the compiler may not drop even when the object is about to die.
void wipe(void *p, size_t n) {
    auto *bytes = static_cast<volatile uint8_t *>(p);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = 0;
    }
}

void store_be32(uint8_t *p, uint32_t v) { platform_cpu_to_be32(p, v); }

// ---- Digests ----

struct Md5 {
    using Ctx = vek_md5_ctx;
    static constexpr int32_t kAlg = VEK_ALG_MD5;
    static constexpr uint32_t kSize = VEK_MD5_DIGEST_SIZE;
    static constexpr uint32_t kWords = VEK_MD5_STATE_WORDS;
    static constexpr bool kBigEndian = false;
    static void init(Ctx *c) { vek_md5_init(c); }
    static void update(Ctx *c, const uint8_t *d, uint32_t n) { vek_md5_update(c, d, n); }
    static void final(Ctx *c, uint8_t *out) { vek_md5_final(c, out); }
    static void compress(uint32_t *s, const uint8_t *b) { vek_md5_compress(s, b); }
};

struct Sha1 {
    using Ctx = vek_sha1_ctx;
    static constexpr int32_t kAlg = VEK_ALG_SHA1;
    static constexpr uint32_t kSize = VEK_SHA1_DIGEST_SIZE;
    static constexpr uint32_t kWords = VEK_SHA1_STATE_WORDS;
    static constexpr bool kBigEndian = true;
    static void init(Ctx *c) { vek_sha1_init(c); }
    static void update(Ctx *c, const uint8_t *d, uint32_t n) { vek_sha1_update(c, d, n); }
    static void final(Ctx *c, uint8_t *out) { vek_sha1_final(c, out); }
    static void compress(uint32_t *s, const uint8_t *b) { sha1_compress(s, b); }
};

struct Sha256 {
    using Ctx = vek_sha256_ctx;
    static constexpr int32_t kAlg = VEK_ALG_SHA256;
    static constexpr uint32_t kSize = VEK_SHA256_DIGEST_SIZE;
    static constexpr uint32_t kWords = VEK_SHA256_STATE_WORDS;
    static constexpr bool kBigEndian = true;
    static void init(Ctx *c) { vek_sha256_init(c); }
    static void update(Ctx *c, const uint8_t *d, uint32_t n) { vek_sha256_update(c, d, n); }
    static void final(Ctx *c, uint8_t *out) { vek_sha256_final(c, out); }
    static void compress(uint32_t *s, const uint8_t *b) { vek_sha256_compress(s, b); }
};

static_assert(VEK_MD5_BLOCK_SIZE == VEK_HMAC_BLOCK_SIZE && VEK_SHA1_BLOCK_SIZE == VEK_HMAC_BLOCK_SIZE &&
              VEK_SHA256_BLOCK_SIZE == VEK_HMAC_BLOCK_SIZE);

// One row per digest of the facade: its sizes and its steps over the facade context.
struct DigestInfo {
    int32_t alg;
    uint32_t size;
    uint32_t block;
    void (*init)(vek_hash_ctx *ctx);
    void (*update)(vek_hash_ctx *ctx, const uint8_t *data, uint32_t len);
    void (*final)(vek_hash_ctx *ctx, uint8_t *out);
};

constexpr std::array<DigestInfo, 6> kDigests = {{
    {VEK_ALG_MD5, VEK_MD5_DIGEST_SIZE, VEK_MD5_BLOCK_SIZE, [](vek_hash_ctx *c) { vek_md5_init(&c->md5); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_md5_update(&c->md5, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_md5_final(&c->md5, out); }},
    {VEK_ALG_SHA1, VEK_SHA1_DIGEST_SIZE, VEK_SHA1_BLOCK_SIZE,
     [](vek_hash_ctx *c) { vek_sha1_init(&c->sha1); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_sha1_update(&c->sha1, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_sha1_final(&c->sha1, out); }},
    {VEK_ALG_SHA224, VEK_SHA224_DIGEST_SIZE, VEK_SHA256_BLOCK_SIZE,
     [](vek_hash_ctx *c) { vek_sha224_init(&c->sha256); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_sha224_update(&c->sha256, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_sha224_final(&c->sha256, out); }},
    {VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE, VEK_SHA256_BLOCK_SIZE,
     [](vek_hash_ctx *c) { vek_sha256_init(&c->sha256); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_sha256_update(&c->sha256, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_sha256_final(&c->sha256, out); }},
    {VEK_ALG_SHA384, VEK_SHA384_DIGEST_SIZE, VEK_SHA512_BLOCK_SIZE,
     [](vek_hash_ctx *c) { vek_sha384_init(&c->sha512); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_sha384_update(&c->sha512, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_sha384_final(&c->sha512, out); }},
    {VEK_ALG_SHA512, VEK_SHA512_DIGEST_SIZE, VEK_SHA512_BLOCK_SIZE,
     [](vek_hash_ctx *c) { vek_sha512_init(&c->sha512); },
     [](vek_hash_ctx *c, const uint8_t *d, uint32_t n) { vek_sha512_update(&c->sha512, d, n); },
     [](vek_hash_ctx *c, uint8_t *out) { vek_sha512_final(&c->sha512, out); }},
}};

static_assert(VEK_SHA512_DIGEST_SIZE <= VEK_MAX_DIGEST_SIZE &&
              VEK_SHA512_BLOCK_SIZE <= VEK_MAX_HMAC_BLOCK_SIZE);

const DigestInfo *find_digest(int32_t alg) {
    for (const auto &info : kDigests) {
        if (info.alg == alg) {
            return &info;
        }
    }
    return nullptr;
}

// The digests PBKDF2 serves (64-byte blocks, 32-bit state words); 0 for any other id.
uint32_t pbkdf2_digest_size(int32_t alg) {
    switch (alg) {
        case VEK_ALG_MD5: return Md5::kSize;
        case VEK_ALG_SHA1: return Sha1::kSize;
        case VEK_ALG_SHA256: return Sha256::kSize;
        default: return 0;
    }
}

// One run of vek_hash_* steps that remembers the code of the first step that failed.
class HashSteps {
public:
    explicit HashSteps(int32_t alg) : alg_(alg) {}
    HashSteps(const HashSteps &) = delete;
    HashSteps &operator=(const HashSteps &) = delete;
    ~HashSteps() { wipe(&ctx_, sizeof ctx_); }

    void init(int32_t code) { check(vek_hash_init(&ctx_, alg_), code); }
    void update(const uint8_t *data, uint32_t len, int32_t code) {
        if (failed_ == 0) {
            check(vek_hash_update(&ctx_, data, len), code);
        }
    }
    void final(uint8_t *out, uint32_t *out_len, int32_t code) {
        if (failed_ == 0) {
            check(vek_hash_final(&ctx_, out, out_len), code);
        }
    }
    int32_t failed() const { return failed_; }

private:
    void check(int32_t result, int32_t code) {
        if (result != VEK_OK && failed_ == 0) {
            failed_ = code;
        }
    }

    vek_hash_ctx ctx_{};
    int32_t alg_;
    int32_t failed_ = 0;
};

// ---- PBKDF2 with precomputed HMAC states ----

// The digest state after compressing key XOR ipad and key XOR opad: every HMAC under the same key
// starts from these, so the padded key is compressed only once per derivation.
template <class D>
struct HmacStates {
    std::array<uint32_t, D::kWords> inner;
    std::array<uint32_t, D::kWords> outer;
};

template <class D>
std::array<uint32_t, D::kWords> initial_state() {
    typename D::Ctx ctx;
    D::init(&ctx);
    std::array<uint32_t, D::kWords> state;
    std::memcpy(state.data(), ctx.state, sizeof ctx.state);
    return state;
}

template <class D>
void prepare_hmac_states(std::span<const uint8_t> key, HmacStates<D> &states) {
    std::array<uint8_t, VEK_HMAC_BLOCK_SIZE> block{};
    if (key.size() > VEK_HMAC_BLOCK_SIZE) {
        typename D::Ctx ctx;
        D::init(&ctx);
        D::update(&ctx, key.data(), static_cast<uint32_t>(key.size()));
        D::final(&ctx, block.data());
    } else if (!key.empty()) {
        std::memcpy(block.data(), key.data(), key.size());
    }
    for (auto &byte : block) {
        byte ^= kHmacInnerPad;
    }
    states.inner = initial_state<D>();
    D::compress(states.inner.data(), block.data());
    for (auto &byte : block) {
        byte ^= kHmacInnerPad ^ kHmacOuterPad;
    }
    states.outer = initial_state<D>();
    D::compress(states.outer.data(), block.data());
    wipe(block.data(), block.size());
}

// The last block of an HMAC half whose message is one digest behind the 64-byte padded key:
// room for the digest, then the padding and the bit length of 64 + digest bytes.
template <class D>
std::array<uint8_t, VEK_HMAC_BLOCK_SIZE> digest_tail_block() {
    std::array<uint8_t, VEK_HMAC_BLOCK_SIZE> block{};
    block[D::kSize] = kPadFirstByte;
    const uint64_t bits = static_cast<uint64_t>(VEK_HMAC_BLOCK_SIZE + D::kSize) * kBitsPerByte;
    for (uint32_t i = 0; i < sizeof bits; ++i) {
        const uint32_t shift = (D::kBigEndian ? (sizeof bits - 1 - i) : i) * kBitsPerByte;
        block[kLengthFieldOffset + i] = static_cast<uint8_t>(bits >> shift);
    }
    return block;
}

template <class D>
void store_state(const uint32_t *state, uint8_t *out) {
    for (uint32_t i = 0; i < D::kWords; ++i) {
        uint32_t word = state[i];
        if constexpr (D::kBigEndian == (std::endian::native == std::endian::little)) {
            word = __builtin_bswap32(word);
        }
        std::memcpy(out + i * kWordBytes, &word, kWordBytes);
    }
}

// Derives `blocks` PBKDF2 output blocks into area.
template <class D>
int32_t pbkdf2_blocks(std::span<const uint8_t> password, std::span<const uint8_t> salt, uint32_t iterations,
                      uint32_t blocks, uint8_t *area) {
    std::array<uint8_t, VEK_PBKDF2_MAX_SALT + kBlockIndexSize> salt_index{};
    if (!salt.empty()) {
        std::memcpy(salt_index.data(), salt.data(), salt.size());
    }
    const auto salt_index_len = static_cast<uint32_t>(salt.size() + kBlockIndexSize);

    HmacStates<D> states;
    prepare_hmac_states<D>(password, states);
    auto u_block = digest_tail_block<D>();  // U(j-1) as the inner message
    auto inner_block = digest_tail_block<D>();  // inner digest as the outer message
    std::array<uint32_t, D::kWords> state;
    std::array<uint32_t, D::kWords> t;
    int32_t result = VEK_OK;

    for (uint32_t i = 1; i <= blocks && result == VEK_OK; ++i) {
        store_be32(salt_index.data() + salt.size(), i);
        uint32_t mac_len = 0;
        if (vek_hmac(D::kAlg, password.data(), static_cast<uint32_t>(password.size()), salt_index.data(),
                     salt_index_len, u_block.data(), &mac_len) != VEK_OK) {
            result = VEK_ERR_HMAC_FAILED;
            break;
        }
        std::memcpy(area + (i - 1) * D::kSize, u_block.data(), D::kSize);
        t.fill(0);
        for (uint32_t j = 1; j < iterations; ++j) {
            state = states.inner;
            D::compress(state.data(), u_block.data());
            store_state<D>(state.data(), inner_block.data());
            state = states.outer;
            D::compress(state.data(), inner_block.data());
            store_state<D>(state.data(), u_block.data());
            for (uint32_t w = 0; w < D::kWords; ++w) {
                t[w] ^= state[w];
            }
        }
        // T = U1 xor (U2 xor ... xor Uc); the later Us were gathered as state words.
        std::array<uint8_t, D::kSize> rest;
        store_state<D>(t.data(), rest.data());
        for (uint32_t b = 0; b < D::kSize; ++b) {
            area[(i - 1) * D::kSize + b] ^= rest[b];
        }
        wipe(rest.data(), rest.size());
    }
    wipe(&states, sizeof states);
    wipe(u_block.data(), u_block.size());
    wipe(inner_block.data(), inner_block.size());
    wipe(state.data(), sizeof state);
    wipe(t.data(), sizeof t);
    return result;
}

// ---- Ciphers ----

using CbcFn = void (*)(const uint8_t *key, const uint8_t *iv, const uint8_t *in, uint8_t *out, uint32_t len);

struct CipherInfo {
    int32_t alg;
    uint32_t key_len;
    uint32_t iv_len;
    uint32_t block;
    CbcFn encrypt;
    CbcFn decrypt;
};

constexpr std::array<CipherInfo, 5> kCiphers = {{
    {VEK_ALG_AES128_CBC, VEK_AES128_KEY_SIZE, VEK_AES_BLOCK_SIZE, VEK_AES_BLOCK_SIZE, vek_aes128_cbc_encrypt,
     vek_aes128_cbc_decrypt},
    {VEK_ALG_AES192_CBC, VEK_AES192_KEY_SIZE, VEK_AES_BLOCK_SIZE, VEK_AES_BLOCK_SIZE, vek_aes192_cbc_encrypt,
     vek_aes192_cbc_decrypt},
    {VEK_ALG_AES256_CBC, VEK_AES256_KEY_SIZE, VEK_AES_BLOCK_SIZE, VEK_AES_BLOCK_SIZE, vek_aes256_cbc_encrypt,
     vek_aes256_cbc_decrypt},
    {VEK_ALG_DES_CBC, VEK_DES_KEY_SIZE, VEK_DES_BLOCK_SIZE, VEK_DES_BLOCK_SIZE, vek_des_cbc_encrypt,
     vek_des_cbc_decrypt},
    {VEK_ALG_3DES_CBC, VEK_DES3_KEY_SIZE, VEK_DES_BLOCK_SIZE, VEK_DES_BLOCK_SIZE, vek_des3_cbc_encrypt,
     vek_des3_cbc_decrypt},
}};

static_assert(VEK_AES256_KEY_SIZE <= VEK_MAX_CIPHER_KEY_SIZE && VEK_AES_BLOCK_SIZE <= VEK_MAX_CIPHER_IV_SIZE);
static_assert(VEK_AES_BLOCK_SIZE > VEK_IV_FIXED_SIZE && VEK_DES_BLOCK_SIZE == VEK_IV_FIXED_SIZE);

const CipherInfo *find_cipher(int32_t alg) {
    for (const auto &info : kCiphers) {
        if (info.alg == alg) {
            return &info;
        }
    }
    return nullptr;
}

// PKCS#7: 1..block bytes of value n, a whole block when the length is already a multiple.
uint64_t padded_length(uint32_t len, uint32_t block) { return static_cast<uint64_t>(len) + block - len % block; }

// Checks PKCS#7 padding of the decrypted data without branching on the pad bytes' values.
std::optional<uint32_t> strip_padding(const uint8_t *data, uint32_t len, uint32_t block) {
    const uint32_t pad = data[len - 1];
    if (pad == 0 || pad > block || pad > len) {
        return std::nullopt;
    }
    uint32_t diff = 0;
    for (uint32_t i = 1; i < pad; ++i) {
        diff |= data[len - 1 - i] ^ pad;
    }
    if (diff != 0) {
        return std::nullopt;
    }
    return len - pad;
}

// ---- SNMPv3 tables (codec numbering of auth_proto / priv_proto) ----

struct KdfChoice {
    int32_t proto;
    uint32_t key_len;    // localized key bytes
    int32_t digest;      // vek_alg of the PBKDF2 pseudo-random function
    uint32_t iterations;
};

constexpr uint32_t kIterationsShort = 1000;
constexpr uint32_t kIterationsLong = 2048;

constexpr std::array<KdfChoice, 4> kAuthKdf = {{
    {1, VEK_MD5_DIGEST_SIZE, VEK_ALG_MD5, kIterationsShort},
    {2, VEK_SHA1_DIGEST_SIZE, VEK_ALG_SHA1, kIterationsShort},
    {3, VEK_SHA256_DIGEST_SIZE, VEK_ALG_SHA256, kIterationsLong},
    {4, VEK_SHA256_DIGEST_SIZE, VEK_ALG_SHA256, kIterationsLong},
}};

// AES-192 (3) uses SHA-256 with 2048 iterations, like AES-256.
constexpr std::array<KdfChoice, 5> kPrivKdf = {{
    {1, VEK_DES_KEY_SIZE, VEK_ALG_MD5, kIterationsShort},
    {2, VEK_AES128_KEY_SIZE, VEK_ALG_SHA1, kIterationsShort},
    {3, VEK_AES192_KEY_SIZE, VEK_ALG_SHA256, kIterationsLong},
    {4, VEK_AES256_KEY_SIZE, VEK_ALG_SHA256, kIterationsLong},
    {5, VEK_DES3_KEY_SIZE, VEK_ALG_MD5, kIterationsShort},
}};

template <size_t N>
const KdfChoice *find_kdf(const std::array<KdfChoice, N> &table, int32_t proto) {
    for (const auto &choice : table) {
        if (choice.proto == proto) {
            return &choice;
        }
    }
    return nullptr;
}

// The localized key length of a protocol (flag non-zero: authentication table, zero: privacy
// table); 0 for an unknown value.
uint32_t key_length_for(int32_t proto, bool auth) {
    const KdfChoice *choice = auth ? find_kdf(kAuthKdf, proto) : find_kdf(kPrivKdf, proto);
    return choice != nullptr ? choice->key_len : 0;
}

struct LocalizedKeyRequest {
    const uint8_t *password;
    uint32_t password_len;
    const uint8_t *engine_id;
    uint32_t engine_id_len;
    uint32_t engine_boots;
    uint32_t engine_time;
    int32_t proto;
    uint8_t *key;
    uint32_t key_len;
};

int32_t derive_localized_key(const char *func, bool auth, const LocalizedKeyRequest &req) {
    if (req.password == nullptr || req.engine_id == nullptr || req.key == nullptr || req.password_len == 0 ||
        req.engine_id_len == 0 || req.key_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Invalid input parameters", func);
        return VEK_ERR_INVALID_PARAM;
    }
    const uint32_t needed = key_length_for(req.proto, auth);
    if (needed != req.key_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Key length mismatch (alg needs=%d, got=%d)", func, static_cast<int>(needed),
                  static_cast<int>(req.key_len));
        return kErrKeyLengthMismatch;
    }
    if (req.engine_id_len > VEK_MAX_ENGINE_ID_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Engine ID too long (len=%d, max=%d)", func, static_cast<int>(req.engine_id_len),
                  static_cast<int>(VEK_MAX_ENGINE_ID_LEN));
        return kErrEngineIdTooLong;
    }
    std::array<uint8_t, VEK_PBKDF2_MAX_SALT> salt{};
    std::memcpy(salt.data(), req.engine_id, req.engine_id_len);
    store_be32(salt.data() + req.engine_id_len, req.engine_boots);
    store_be32(salt.data() + req.engine_id_len + kWordBytes, req.engine_time);
    const uint32_t salt_len = req.engine_id_len + VEK_ENGINE_TIME_FIELDS_SIZE;
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: Constructed salt (len=%d)", func, static_cast<int>(salt_len));
    agent_log_hexdump(auth ? "Auth Key Salt" : "Priv Key Salt", salt.data(), static_cast<uint16_t>(salt_len));

    const KdfChoice *kdf = auth ? find_kdf(kAuthKdf, req.proto) : find_kdf(kPrivKdf, req.proto);
    if (kdf == nullptr) {
        if (auth) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: Unsupported KDF algorithm(%d)", func, static_cast<int>(req.proto));
        } else {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: Unsupported privacy protocol(%d)", func, static_cast<int>(req.proto));
        }
        return kErrUnsupportedKdf;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: Mapped to VEK algorithm: %d", func, static_cast<int>(kdf->digest));
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: PBKDF2 iterations: %d", func, static_cast<int>(kdf->iterations));

    const int32_t rc = vek_snmpv3_pbkdf2(kdf->digest, req.password, req.password_len, salt.data(), salt_len,
                                         kdf->iterations, req.key, req.key_len);
    if (rc != VEK_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: PBKDF2 failed with error %d", func, static_cast<int>(rc));
        return kErrPbkdf2Failed;
    }
    if (auth) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: Authentication key generated successfully (len=%d)", func,
                  static_cast<int>(req.key_len));
        vek::log_masked_dump("Generated Auth Key (first 8 bytes)");
    } else {
        AGENT_LOG(AGENT_LOG_INFO, "%s: Privacy key generated successfully (len=%d)", func,
                  static_cast<int>(req.key_len));
        vek::log_masked_dump("Generated Priv Key (first 8 bytes)");
    }
    return VEK_OK;
}

struct AuthParamInfo {
    int32_t proto;
    int32_t digest;
    uint32_t digest_len;
    uint32_t param_len;
    const char *name;
};

constexpr std::array<AuthParamInfo, 4> kAuthParams = {{
    {1, VEK_ALG_MD5, VEK_MD5_DIGEST_SIZE, VEK_AUTH_PARAM_TRUNCATED_SIZE, "MD5-96"},
    {2, VEK_ALG_SHA1, VEK_SHA1_DIGEST_SIZE, VEK_AUTH_PARAM_TRUNCATED_SIZE, "SHA1-96"},
    {3, VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE, VEK_AUTH_PARAM_TRUNCATED_SIZE, "SHA256-96"},
    {4, VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE, VEK_AUTH_PARAM_FULL_SIZE, "SHA256-FULL"},
}};

const AuthParamInfo *find_auth_param(int32_t proto) {
    for (const auto &info : kAuthParams) {
        if (info.proto == proto) {
            return &info;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

// ---- Digests and HMAC ----

int32_t vek_hash_init(vek_hash_ctx *ctx, int32_t alg) {
    if (ctx == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    std::memset(ctx, 0, sizeof *ctx);
    const DigestInfo *info = find_digest(alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    info->init(ctx);
    ctx->alg = alg;
    return VEK_OK;
}

int32_t vek_hash_update(vek_hash_ctx *ctx, const uint8_t *data, uint32_t len) {
    if (ctx == nullptr || data == nullptr || len == 0) {
        return VEK_ERR_INVALID_PARAM;
    }
    const DigestInfo *info = find_digest(ctx->alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    info->update(ctx, data, len);
    return VEK_OK;
}

int32_t vek_hash_final(vek_hash_ctx *ctx, uint8_t *out, uint32_t *out_len) {
    if (ctx == nullptr || out == nullptr || out_len == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    const DigestInfo *info = find_digest(ctx->alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    info->final(ctx, out);
    *out_len = info->size;
    return VEK_OK;
}

int32_t vek_hash_digest_size(int32_t alg) {
    const DigestInfo *info = find_digest(alg);
    return info != nullptr ? static_cast<int32_t>(info->size) : 0;
}

int32_t vek_hash_block_size(int32_t alg) {
    const DigestInfo *info = find_digest(alg);
    return info != nullptr ? static_cast<int32_t>(info->block) : 0;
}

int32_t vek_hmac(int32_t alg, const uint8_t *key, uint32_t key_len, const uint8_t *msg, uint32_t msg_len,
                 uint8_t *out, uint32_t *out_len) {
    if (out == nullptr || out_len == nullptr || key == nullptr || (msg == nullptr && msg_len != 0)) {
        return VEK_ERR_INVALID_PARAM;
    }
    const DigestInfo *info = find_digest(alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    std::array<uint8_t, VEK_MAX_HMAC_BLOCK_SIZE> pad{};
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> inner{};
    uint32_t len = 0;
    int32_t failed = 0;
    if (key_len > info->block) {
        HashSteps key_hash(alg);
        key_hash.init(kErrHmacKeyInit);
        key_hash.update(key, key_len, kErrHmacKeyUpdate);
        key_hash.final(pad.data(), &len, kErrHmacKeyFinal);
        failed = key_hash.failed();
    } else if (key_len != 0) {
        std::memcpy(pad.data(), key, key_len);
    }
    if (failed == 0) {
        for (auto &byte : pad) {
            byte ^= kHmacInnerPad;
        }
        HashSteps inner_hash(alg);
        inner_hash.init(kErrHmacInnerInit);
        inner_hash.update(pad.data(), info->block, kErrHmacInnerPad);
        if (msg_len != 0) {
            inner_hash.update(msg, msg_len, kErrHmacMessage);
        }
        inner_hash.final(inner.data(), &len, kErrHmacInnerFinal);
        failed = inner_hash.failed();
    }
    if (failed == 0) {
        for (auto &byte : pad) {
            byte ^= kHmacInnerPad ^ kHmacOuterPad;
        }
        HashSteps outer_hash(alg);
        outer_hash.init(kErrHmacOuterInit);
        outer_hash.update(pad.data(), info->block, kErrHmacOuter);
        outer_hash.update(inner.data(), len, kErrHmacOuter);
        outer_hash.final(out, out_len, kErrHmacOuter);
        failed = outer_hash.failed();
    }
    wipe(pad.data(), pad.size());
    wipe(inner.data(), inner.size());
    if (failed != 0) {
        *out_len = 0;
        return failed;
    }
    return VEK_OK;
}

// ---- Ciphers ----

int32_t vek_cipher_init(vek_cipher_ctx *ctx, int32_t alg, const uint8_t *key, uint32_t key_len, const uint8_t *iv,
                        uint32_t iv_len) {
    if (ctx == nullptr || key == nullptr || iv == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    const CipherInfo *info = find_cipher(alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    if (key_len != info->key_len) {
        return VEK_ERR_KEY_LENGTH;
    }
    if (iv_len != info->iv_len) {
        return VEK_ERR_IV_LENGTH;
    }
    std::memset(ctx, 0, sizeof *ctx);
    ctx->alg = alg;
    std::memcpy(ctx->key, key, key_len);
    std::memcpy(ctx->iv, iv, iv_len);
    ctx->key_len = key_len;
    ctx->iv_len = iv_len;
    return VEK_OK;
}

int32_t vek_cipher_block_size(int32_t alg) {
    const CipherInfo *info = find_cipher(alg);
    return info != nullptr ? static_cast<int32_t>(info->block) : VEK_ERR_INVALID_PARAM;
}

int32_t vek_cipher_encrypt(const vek_cipher_ctx *ctx, const uint8_t *in, uint32_t len, uint8_t *out,
                           uint32_t *out_len) {
    if (ctx == nullptr || in == nullptr || out == nullptr || out_len == nullptr || len == 0) {
        return VEK_ERR_INVALID_PARAM;
    }
    const CipherInfo *info = find_cipher(ctx->alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    const uint64_t padded = padded_length(len, info->block);
    if (padded > VEK_CIPHER_SCRATCH_SIZE) {
        return kErrPaddedTooLong;
    }
    std::array<uint8_t, VEK_CIPHER_SCRATCH_SIZE> scratch;
    const auto pad = static_cast<uint8_t>(padded - len);
    std::memcpy(scratch.data(), in, len);
    std::memset(scratch.data() + len, pad, pad);
    info->encrypt(ctx->key, ctx->iv, scratch.data(), out, static_cast<uint32_t>(padded));
    wipe(scratch.data(), static_cast<size_t>(padded));
    *out_len = static_cast<uint32_t>(padded);
    return VEK_OK;
}

int32_t vek_cipher_decrypt(const vek_cipher_ctx *ctx, const uint8_t *in, uint32_t len, uint8_t *out,
                           uint32_t *out_len) {
    if (ctx == nullptr || in == nullptr || out == nullptr || out_len == nullptr || len == 0) {
        return VEK_ERR_INVALID_PARAM;
    }
    const CipherInfo *info = find_cipher(ctx->alg);
    if (info == nullptr) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    if (len % info->block != 0) {
        return kErrNotWholeBlocks;
    }
    if (len <= VEK_CIPHER_SCRATCH_SIZE) {
        // Through the scratch area, so that out may overlap the input in any way.
        std::array<uint8_t, VEK_CIPHER_SCRATCH_SIZE> scratch;
        std::memcpy(scratch.data(), in, len);
        info->decrypt(ctx->key, ctx->iv, scratch.data(), out, len);
    } else {
        info->decrypt(ctx->key, ctx->iv, in, out, len);
    }
    const std::optional<uint32_t> plain_len = strip_padding(out, len, info->block);
    if (!plain_len) {
        wipe(out, len);
        return VEK_ERR_BAD_PADDING;
    }
    *out_len = *plain_len;
    return VEK_OK;
}

// ---- PBKDF2 and localized keys ----

uint32_t vek_snmpv3_htonl(uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        return __builtin_bswap32(value);
    }
    return value;
}

int32_t vek_snmpv3_pbkdf2(int32_t alg, const uint8_t *password, uint32_t password_len, const uint8_t *salt,
                          uint32_t salt_len, uint32_t iterations, uint8_t *out, uint32_t key_len) {
    if (password == nullptr || out == nullptr || key_len == 0 || iterations == 0 ||
        (salt == nullptr && salt_len != 0)) {
        return VEK_ERR_INVALID_PARAM;
    }
    const uint32_t h_len = pbkdf2_digest_size(alg);
    if (h_len == 0) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    const uint64_t blocks = (static_cast<uint64_t>(key_len) + h_len - 1) / h_len;
    if (blocks * h_len > VEK_PBKDF2_MAX_OUTPUT) {
        return kErrPbkdf2OutputTooLong;
    }
    if (salt_len > VEK_PBKDF2_MAX_SALT) {
        return kErrPbkdf2SaltTooLong;
    }
    const std::span<const uint8_t> pass_span(password, password_len);
    const std::span<const uint8_t> salt_span(salt, salt_len);
    const auto block_count = static_cast<uint32_t>(blocks);
    std::array<uint8_t, VEK_PBKDF2_MAX_OUTPUT> area;
    int32_t rc = VEK_OK;
    switch (alg) {
        case VEK_ALG_MD5: rc = pbkdf2_blocks<Md5>(pass_span, salt_span, iterations, block_count, area.data()); break;
        case VEK_ALG_SHA1: rc = pbkdf2_blocks<Sha1>(pass_span, salt_span, iterations, block_count, area.data()); break;
        default: rc = pbkdf2_blocks<Sha256>(pass_span, salt_span, iterations, block_count, area.data()); break;
    }
    if (rc == VEK_OK) {
        std::memcpy(out, area.data(), key_len);
    }
    wipe(area.data(), block_count * h_len);
    return rc;
}

int32_t vek_generate_auth_key(const uint8_t *password, uint32_t password_len, const uint8_t *engine_id,
                              uint32_t engine_id_len, uint32_t engine_boots, uint32_t engine_time,
                              int32_t auth_proto, uint8_t *key, uint32_t key_len) {
    return derive_localized_key(__func__, true,
                                {password, password_len, engine_id, engine_id_len, engine_boots, engine_time,
                                 auth_proto, key, key_len});
}

int32_t vek_generate_priv_key(const uint8_t *password, uint32_t password_len, const uint8_t *engine_id,
                              uint32_t engine_id_len, uint32_t engine_boots, uint32_t engine_time,
                              int32_t priv_proto, uint8_t *key, uint32_t key_len) {
    return derive_localized_key(__func__, false,
                                {password, password_len, engine_id, engine_id_len, engine_boots, engine_time,
                                 priv_proto, key, key_len});
}

// ---- IVs ----

int32_t vek_snmpv3_gen_iv(int32_t alg, uint8_t *iv, uint32_t *iv_len, uint32_t engine_boots, uint32_t engine_time) {
    if (iv == nullptr || iv_len == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    const int32_t block = vek_cipher_block_size(alg);
    if (block < 0) {
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    const auto size = static_cast<uint32_t>(block);
    store_be32(iv, engine_boots);
    store_be32(iv + kWordBytes, engine_time);
    if (size > VEK_IV_FIXED_SIZE &&
        platform_rand_generate_crypto(iv + VEK_IV_FIXED_SIZE, size - VEK_IV_FIXED_SIZE) == 0) {
        return kErrRandomFailed;
    }
    *iv_len = size;
    return VEK_OK;
}

int32_t vek_snmpv3_gen_iv_rand(int32_t alg, uint8_t *iv_rand_part, uint32_t rand_len) {
    (void)alg;
    if (iv_rand_part == nullptr || rand_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "vek_snmpv3_gen_iv_rand: invalid param (iv_rand_part=%p, rand_len=%d)",
                  static_cast<void *>(iv_rand_part), static_cast<int>(rand_len));
        return 0;
    }
    if (platform_rand_generate_crypto(iv_rand_part, rand_len) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "vek_snmpv3_gen_iv_rand: platform_rand_generate_crypto failed");
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "vek_snmpv3_gen_iv_rand: generate random data success");
    return 1;
}

// ---- Standalone message encryption ----

int32_t vek_snmpv3_encrypt(int32_t alg, const uint8_t *plain, uint32_t len, const uint8_t *key, uint32_t key_len,
                           const void *reserved, uint32_t reserved_len, uint32_t engine_boots,
                           uint32_t engine_time, uint8_t *out, uint32_t *out_len) {
    if (plain == nullptr || key == nullptr || reserved == nullptr || out == nullptr || out_len == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    const uint32_t capacity = *out_len;
    if (len == 0 || reserved_len == 0 || capacity < VEK_SNMPV3_ENCRYPT_MIN_CAPACITY) {
        return kErrBadLength;
    }
    const int32_t block = vek_cipher_block_size(alg);
    if (block < 0) {
        return kErrUnknownCipher;
    }
    std::array<uint8_t, VEK_MAX_CIPHER_IV_SIZE> iv{};
    uint32_t iv_len = 0;
    if (vek_snmpv3_gen_iv(alg, iv.data(), &iv_len, engine_boots, engine_time) != VEK_OK) {
        return kErrEncryptIv;
    }
    const uint32_t rand_len = iv_len - VEK_IV_FIXED_SIZE;
    const uint64_t padded = padded_length(len, static_cast<uint32_t>(block));
    if (padded > VEK_CIPHER_SCRATCH_SIZE || rand_len + padded > capacity) {
        return kErrEncryptTooLong;
    }
    vek_cipher_ctx ctx;
    if (vek_cipher_init(&ctx, alg, key, key_len, iv.data(), iv_len) != VEK_OK) {
        return kErrEncryptSetup;
    }
    // Encrypt first: the cipher reads the whole plaintext before anything is written, so out may
    // be the plaintext's own buffer even though the random part goes in front.
    uint32_t cipher_len = 0;
    const int32_t rc = vek_cipher_encrypt(&ctx, plain, len, out + rand_len, &cipher_len);
    wipe(&ctx, sizeof ctx);
    if (rc != VEK_OK) {
        return kErrEncryptCipher;
    }
    std::memcpy(out, iv.data() + VEK_IV_FIXED_SIZE, rand_len);
    *out_len = rand_len + cipher_len;
    return VEK_OK;
}

int32_t vek_snmpv3_decrypt(int32_t alg, const uint8_t *data, uint32_t len, const uint8_t *key, uint32_t key_len,
                           const void *reserved, uint32_t reserved_len, uint32_t engine_boots,
                           uint32_t engine_time, uint8_t *out, uint32_t *out_len) {
    if (data == nullptr || key == nullptr || reserved == nullptr || out == nullptr || out_len == nullptr) {
        return VEK_ERR_INVALID_PARAM;
    }
    if (len == 0 || reserved_len == 0) {
        return kErrBadLength;
    }
    const int32_t block = vek_cipher_block_size(alg);
    if (block < 0) {
        return kErrUnknownCipher;
    }
    const auto iv_len = static_cast<uint32_t>(block);
    const uint32_t rand_len = iv_len - VEK_IV_FIXED_SIZE;
    if (len < rand_len + iv_len) {
        return kErrDecryptTooShort;
    }
    std::array<uint8_t, VEK_MAX_CIPHER_IV_SIZE> iv{};
    store_be32(iv.data(), engine_boots);
    store_be32(iv.data() + kWordBytes, engine_time);
    std::memcpy(iv.data() + VEK_IV_FIXED_SIZE, data, rand_len);
    vek_cipher_ctx ctx;
    if (vek_cipher_init(&ctx, alg, key, key_len, iv.data(), iv_len) != VEK_OK) {
        return kErrDecryptSetup;
    }
    const int32_t rc = vek_cipher_decrypt(&ctx, data + rand_len, len - rand_len, out, out_len);
    wipe(&ctx, sizeof ctx);
    return rc == VEK_OK ? VEK_OK : kErrDecryptCipher;
}

// ---- Authentication parameter ----

int32_t vek_snmpv3_generate_auth_param(int32_t auth_proto, const uint8_t *key, uint32_t key_len, const uint8_t *msg,
                                       uint32_t msg_len, uint8_t *out_param) {
    if (key == nullptr || msg == nullptr || out_param == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "[VEK_AUTH_PARAM] 无效参数（空指针）");
        return VEK_ERR_INVALID_PARAM;
    }
    if (key_len == 0 || msg_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[VEK_AUTH_PARAM] 无效参数（密钥长度/消息长度为0）");
        return VEK_ERR_INVALID_PARAM;
    }
    const AuthParamInfo *info = find_auth_param(auth_proto);
    if (info == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "[VEK_AUTH_PARAM] 不支持的认证算法：%d", static_cast<int>(auth_proto));
        return VEK_ERR_UNSUPPORTED_ALG;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "[VEK_AUTH_PARAM] 算法参数：哈希=%s，密钥长度=%lu，参数长度=%lu，完整HMAC长度=%lu",
              info->name, static_cast<unsigned long>(key_len), static_cast<unsigned long>(info->param_len),
              static_cast<unsigned long>(info->digest_len));
    if (info->digest_len < info->param_len) {
        return kErrParamLongerThanDigest;
    }
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> mac{};
    uint32_t mac_len = 0;
    const int32_t rc = vek_hmac(info->digest, key, key_len, msg, msg_len, mac.data(), &mac_len);
    if (rc != VEK_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "[VEK_AUTH_PARAM] HMAC计算失败，错误码：%d", static_cast<int>(rc));
        return VEK_ERR_HMAC_FAILED;
    }
    if (mac_len != info->digest_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "[VEK_AUTH_PARAM] HMAC长度不匹配（预期：%lu，实际：%lu）",
                  static_cast<unsigned long>(info->digest_len), static_cast<unsigned long>(mac_len));
        return kErrDigestLength;
    }
    std::memcpy(out_param, mac.data(), info->param_len);
    wipe(mac.data(), mac.size());
    return VEK_OK;
}

}  // extern "C"

namespace {

// ---- HMAC-SHA-2 self-test (RFC 4231; test case 5 publishes a truncated MAC and is left out) ----

using vek::self_test::fill_input;
using vek::self_test::Input;
using vek::self_test::text_input;

constexpr uint32_t kRfc4231Area = 160;  // largest key or message of the cases
constexpr uint32_t kLongKeyBytes = 131;

struct HmacInputs {
    const char *name;
    Input key;
    Input data;
};

constexpr std::array<HmacInputs, 6> kRfc4231Inputs = {{
    {"RFC 4231 #1", fill_input(0x0B, 20), text_input("Hi There")},
    {"RFC 4231 #2", text_input("Jefe"), text_input("what do ya want for nothing?")},
    {"RFC 4231 #3", fill_input(0xAA, 20), fill_input(0xDD, 50)},
    {"RFC 4231 #4",
     text_input("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17"
                "\x18\x19"),
     fill_input(0xCD, 50)},
    {"RFC 4231 #6", fill_input(0xAA, kLongKeyBytes),
     text_input("Test Using Larger Than Block-Size Key - Hash Key First")},
    {"RFC 4231 #7", fill_input(0xAA, kLongKeyBytes),
     text_input(
         "This is a test using a larger than block-size key and a larger than block-size data. The key needs "
         "to be hashed before being used by the HMAC algorithm.")},
}};

struct HmacExpected {
    int32_t alg;
    const char *name;
    std::array<std::string_view, kRfc4231Inputs.size()> mac_hex;
};

constexpr std::array<HmacExpected, 3> kRfc4231Macs = {{
    {VEK_ALG_SHA224,
     "HMAC-SHA-224",
     {"896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22",
      "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44",
      "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea",
      "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a",
      "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e",
      "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1"}},
    {VEK_ALG_SHA384,
     "HMAC-SHA-384",
     {"afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
      "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
      "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
      "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
      "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
      "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"}},
    {VEK_ALG_SHA512,
     "HMAC-SHA-512",
     {"87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d91"
      "4eeb61f1702e696c203a126854",
      "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1"
      "a34d4a6b4b636e070a38bce737",
      "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a3"
      "37bee8942674278859e13292fb",
      "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f197"
      "41120c4f2de2adebeb10a298dd",
      "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f"
      "73f63f0aec8b915a985d786598",
      "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676"
      "fb6de0446065c97440fa8c6a58"}},
}};

bool hmac_matches(int32_t alg, const HmacInputs &inputs, std::string_view mac_hex) {
    std::array<uint8_t, kRfc4231Area> key{};
    std::array<uint8_t, kRfc4231Area> data{};
    const uint32_t key_len = vek::self_test::materialise(inputs.key, key);
    const uint32_t data_len = vek::self_test::materialise(inputs.data, data);
    std::array<uint8_t, VEK_MAX_DIGEST_SIZE> mac{};
    uint32_t mac_len = 0;
    return vek_hmac(alg, key.data(), key_len, data.data(), data_len, mac.data(), &mac_len) == VEK_OK &&
           vek::self_test::matches_hex(std::span(mac).first(mac_len), mac_hex);
}

}  // namespace

extern "C" {

int test_vek_hmac_sha2_standard_cases(void) {
    vek::self_test::Tally tally("HMAC-SHA2", "HMAC-SHA-224/384/512标准测试（RFC 4231）");
    for (const auto &expected : kRfc4231Macs) {
        for (size_t i = 0; i < kRfc4231Inputs.size(); ++i) {
            tally.check(hmac_matches(expected.alg, kRfc4231Inputs[i], expected.mac_hex[i]), expected.name,
                        kRfc4231Inputs[i].name);
        }
    }
    return tally.finish();
}

}  // extern "C"
