// The two SNMPv3 security schemes as tables of algorithm rows: the system's own (PBKDF2 keys per
// engine and boots, CBC with PKCS#7) and the standard User-based Security Model (RFC 3414 keys,
// HMAC-MD5/SHA-96, HMAC-SHA-2 of RFC 7860, DES-CBC of RFC 3414, AES-CFB of RFC 3826).
#include "codec/snmpv3_scheme.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>
#include <span>

#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/ber_octets.h"
#include "codec/snmpv3_crypto.h"
#include "codec/usm_secret.h"
#include "crypto/aes_vek.h"
#include "crypto/crypto_vek.h"
#include "crypto/des_vek.h"
#include "crypto/sha256_vek.h"
#include "crypto/sha512_vek.h"
#include "crypto/usm_key_vek.h"

namespace {

using vek::codec::put_big_endian;
using vek::codec::wipe;

constexpr uint16_t kBoots = sizeof(uint32_t);  // bytes of engine boots (and of engine time) in an IV or salt

// BE32(boots) || BE32(time) at the start of an IV.
void put_boots_and_time(uint8_t *iv, uint32_t boots, uint32_t time) {
    const std::span<uint8_t> fixed(iv, SNMP_V3_IV_FIXED_LEN);
    put_big_endian(fixed, boots, kBoots);
    put_big_endian(fixed.subspan(kBoots), time, kBoots);
}

// ---------------------------------------------------------------------------------------------
// The system's own scheme

using WidePassword = std::array<uint8_t, SNMP_V3_WIDE_PASS_SIZE>;

// The password widened to UTF-16LE, as the system's key derivation takes it; 0 on failure.
uint16_t widen(const snmp_v3_key_source &src, WidePassword &wide) {
    return snmp_v3_pass_encode(src.password, src.password_len, SNMP_V3_PASS_ENCODE_UTF16LE, wide.data(),
                               static_cast<uint16_t>(wide.size()));
}

// The system's localised-key functions of the facade (vek_generate_auth_key / _priv_key).
using VekKeyFunction = int32_t (*)(const uint8_t *, uint32_t, const uint8_t *, uint32_t, uint32_t, uint32_t, int32_t,
                                   uint8_t *, uint32_t);

// A localised key of the system's scheme; the two texts are the log lines of a failed widening and
// of a failed derivation.
int32_t vek_derive(VekKeyFunction derive, uint8_t proto, uint16_t key_len, const snmp_v3_key_source &src,
                   uint8_t *key, const char *widen_failed, const char *derive_failed) {
    WidePassword wide{};
    const uint16_t wide_len = widen(src, wide);
    if (wide_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s", widen_failed);
        return 0;
    }
    const int32_t ret = derive(wide.data(), wide_len, src.engine_id, src.engine_id_len, src.engine_boots,
                               src.engine_time, proto, key, key_len);
    wipe(wide);
    if (ret != VEK_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, derive_failed, static_cast<int>(ret));
        return 0;
    }
    return 1;
}

int32_t vek_derive_auth(const snmp_v3_auth_alg *alg, const snmp_v3_key_source *src, uint8_t *key) {
    return vek_derive(vek_generate_auth_key, alg->proto, alg->key_len, *src, key, "Password encoding failed",
                      "VEK auth key generation failed with error: %d");
}

int32_t vek_derive_priv(const snmp_v3_priv_alg *alg, const snmp_v3_auth_alg * /*auth*/, const snmp_v3_key_source *src,
                        uint8_t *key) {
    return vek_derive(vek_generate_priv_key, alg->proto, alg->key_len, *src, key, "密码UTF-16LE编码失败",
                      "自研算法生成隐私密钥失败（错误码=%d）");
}

int32_t vek_authenticate(const snmp_v3_auth_alg *alg, const uint8_t *key, uint16_t key_len, const uint8_t *msg,
                         uint16_t msg_len, uint8_t *param) {
    const int32_t ret = vek_snmpv3_generate_auth_param(alg->proto, key, key_len, msg, msg_len, param);
    if (ret != VEK_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_crypto_gen_auth_param: VEK生成认证参数失败，错误码：%d", static_cast<int>(ret));
        return 0;
    }
    return 1;
}

// IV = BE32(boots) || BE32(time) || random bytes (AES); the random part is the privacy parameter.
int32_t vek_make_iv(const snmp_v3_priv_alg *alg, snmp_v3_usm *usm) {
    std::memset(usm->full_iv, 0, sizeof usm->full_iv);
    std::memset(usm->priv_param, 0, sizeof usm->priv_param);
    put_boots_and_time(usm->full_iv, usm->engine_boots, usm->engine_time);
    uint8_t *random_part = usm->full_iv + SNMP_V3_IV_FIXED_LEN;
    if (alg->salt_len != 0 && vek_snmpv3_gen_iv_rand(alg->cipher, random_part, alg->salt_len) != 1) {
        return 0;
    }
    usm->full_iv_len = alg->iv_len;
    std::memcpy(usm->priv_param, random_part, alg->salt_len);
    usm->priv_param_len = alg->salt_len;
    return 1;
}

// PKCS#7 adds 1..block bytes: the cipher text is the next whole block above the plaintext.
uint16_t vek_encrypted_len(const snmp_v3_priv_alg *alg, uint16_t plain_len) {
    return static_cast<uint16_t>(alg->salt_len + (plain_len / alg->block + 1u) * alg->block);
}

// Key set-up of a facade cipher, wiped when it goes.
class CipherContext {
public:
    CipherContext() = default;
    CipherContext(const CipherContext &) = delete;
    CipherContext &operator=(const CipherContext &) = delete;
    ~CipherContext() { wipe(ctx_); }

    bool init(const snmp_v3_priv_alg &alg, const uint8_t *key, const uint8_t *iv) {
        return vek_cipher_init(&ctx_, alg.cipher, key, alg.key_len, iv, alg.iv_len) == VEK_OK;
    }
    const vek_cipher_ctx *get() const { return &ctx_; }

private:
    vek_cipher_ctx ctx_{};
};

// encryptedPDU = the IV's random part || CBC(PKCS#7(plain)).
int32_t vek_encrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *plain,
                    uint16_t plain_len, uint8_t *out, uint8_t *work, uint16_t work_len) {
    CipherContext cipher;
    if (usm->full_iv_len != alg->iv_len || !cipher.init(*alg, key, usm->full_iv)) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: vek cipher init failed");
        return 0;
    }
    const auto cipher_len = static_cast<uint16_t>(vek_encrypted_len(alg, plain_len) - alg->salt_len);
    uint32_t written = 0;
    if (cipher_len > work_len || vek_cipher_encrypt(cipher.get(), plain, plain_len, work, &written) != VEK_OK ||
        written != cipher_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: vek cipher encrypt failed");
        return 0;
    }
    // The plaintext has been read in full, so out may overlap it.
    std::memcpy(out, usm->priv_param, alg->salt_len);
    std::memcpy(out + alg->salt_len, work, cipher_len);
    return 1;
}

int32_t vek_decrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *data,
                    uint16_t data_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len) {
    const auto min_len = static_cast<uint16_t>(alg->salt_len + alg->block);
    if (data_len < min_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: invalid cipher length (len=%d, min=%d)",
                  static_cast<int>(data_len), static_cast<int>(min_len));
        return 0;
    }
    std::array<uint8_t, SNMP_FULL_IV_SIZE> iv{};
    put_boots_and_time(iv.data(), usm->engine_boots, usm->engine_time);
    std::memcpy(iv.data() + SNMP_V3_IV_FIXED_LEN, data, alg->salt_len);
    const auto cipher_len = static_cast<uint16_t>(data_len - alg->salt_len);
    if (work == nullptr || work_len < cipher_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: work buffer too small (required=%d, provided=%d)",
                  static_cast<int>(cipher_len), static_cast<int>(work_len));
        return 0;
    }
    CipherContext cipher;
    if (!cipher.init(*alg, key, iv.data())) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: vek cipher init failed");
        return 0;
    }
    uint32_t plain_len = 0;
    if (vek_cipher_decrypt(cipher.get(), data + alg->salt_len, cipher_len, work, &plain_len) != VEK_OK ||
        plain_len > *out_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: vek cipher decrypt failed");
        return 0;
    }
    std::memcpy(out, work, plain_len);
    *out_len = static_cast<uint16_t>(plain_len);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// The standard User-based Security Model

constexpr size_t kMaxDigest = VEK_MAX_DIGEST_SIZE;
using DigestArea = std::array<uint8_t, kMaxDigest>;

// Kul = localise(password-to-key(password)) with the digest of `digest` (RFC 3414 A.2); its length
// in kul_len.
bool localized_password_key(int32_t digest, const snmp_v3_key_source &src, DigestArea &kul, uint32_t &kul_len) {
    DigestArea ku{};
    uint32_t ku_len = static_cast<uint32_t>(ku.size());
    kul_len = static_cast<uint32_t>(kul.size());
    const bool made = src.password_len > 0 &&
                      vek_usm_password_to_key(digest, src.password, src.password_len, ku.data(), &ku_len) == VEK_OK &&
                      vek_usm_localize_key(digest, ku.data(), ku_len, src.engine_id, src.engine_id_len, kul.data(),
                                           &kul_len) == VEK_OK;
    wipe(ku);
    return made;
}

int32_t std_derive_auth(const snmp_v3_auth_alg *alg, const snmp_v3_key_source *src, uint8_t *key) {
    DigestArea kul{};
    uint32_t kul_len = 0;
    const bool made = localized_password_key(alg->digest, *src, kul, kul_len) && kul_len == alg->key_len;
    if (made) {
        std::memcpy(key, kul.data(), alg->key_len);
    }
    wipe(kul);
    return made ? 1 : 0;
}

// How a privacy key longer than the localised key is made.
enum class KeyExtension { kNone, kDigest, kPasswordToKey };

// The privacy key (alg->key_len bytes): the localised key made with the authentication digest,
// cut, or extended when it is shorter.
int32_t std_derive_priv_key(const snmp_v3_priv_alg &alg, const snmp_v3_auth_alg *auth, const snmp_v3_key_source &src,
                            KeyExtension extension, uint8_t *key) {
    if (auth == nullptr || auth->scheme != SNMP_V3_SCHEME_STD) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准隐私密钥需要标准认证算法（加密算法=%s）", alg.name);
        return 0;
    }
    DigestArea kul{};
    uint32_t kul_len = 0;
    bool made = localized_password_key(auth->digest, src, kul, kul_len);
    if (made && kul_len >= alg.key_len) {
        std::memcpy(key, kul.data(), alg.key_len);
    } else if (made && extension == KeyExtension::kDigest) {
        made = vek_usm_extend_key_hash(auth->digest, kul.data(), kul_len, key, alg.key_len) == VEK_OK;
    } else if (made && extension == KeyExtension::kPasswordToKey) {
        made = vek_usm_extend_key_p2k(auth->digest, kul.data(), kul_len, src.engine_id, src.engine_id_len, key,
                                      alg.key_len) == VEK_OK;
    } else {
        made = false;
    }
    wipe(kul);
    return made ? 1 : 0;
}

int32_t std_derive_priv(const snmp_v3_priv_alg *alg, const snmp_v3_auth_alg *auth, const snmp_v3_key_source *src,
                        uint8_t *key) {
    return std_derive_priv_key(*alg, auth, *src, KeyExtension::kNone, key);
}

int32_t std_derive_priv_digest_ext(const snmp_v3_priv_alg *alg, const snmp_v3_auth_alg *auth,
                                   const snmp_v3_key_source *src, uint8_t *key) {
    return std_derive_priv_key(*alg, auth, *src, KeyExtension::kDigest, key);
}

int32_t std_derive_priv_p2k_ext(const snmp_v3_priv_alg *alg, const snmp_v3_auth_alg *auth,
                                const snmp_v3_key_source *src, uint8_t *key) {
    return std_derive_priv_key(*alg, auth, *src, KeyExtension::kPasswordToKey, key);
}

// HMAC of the message, cut to the parameter's length.
int32_t std_authenticate(const snmp_v3_auth_alg *alg, const uint8_t *key, uint16_t key_len, const uint8_t *msg,
                         uint16_t msg_len, uint8_t *param) {
    DigestArea mac{};
    uint32_t mac_len = 0;
    const int32_t ret = vek_hmac(alg->digest, key, key_len, msg, msg_len, mac.data(), &mac_len);
    if (ret != VEK_OK || mac_len < alg->param_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准认证参数计算失败（算法=%s，错误码=%d）", alg->name, static_cast<int>(ret));
        return 0;
    }
    std::memcpy(param, mac.data(), alg->param_len);
    return 1;
}

// The salt of every outgoing standard message: a 64-bit counter that starts at a random value at the
// first use, so that no two messages of this process share a salt (and so an IV) under one key.
class SaltCounter {
public:
    SaltCounter() {
        std::array<uint8_t, sizeof(uint64_t)> seed{};
        seeded_ = platform_rand_generate_crypto(seed.data(), static_cast<uint32_t>(seed.size())) == 1;
        next_.store(vek::codec::get_big_endian(seed), std::memory_order_relaxed);
    }
    std::optional<uint64_t> take() {
        if (!seeded_) {
            return std::nullopt;
        }
        return next_.fetch_add(1, std::memory_order_relaxed);
    }

private:
    std::atomic<uint64_t> next_{0};
    bool seeded_ = false;
};

std::optional<uint64_t> next_salt() {
    static SaltCounter counter;
    return counter.take();
}

bool salt_ok(const snmp_v3_priv_alg &alg, const snmp_v3_usm &usm) { return usm.priv_param_len == alg.salt_len; }

void clear_iv(snmp_v3_usm &usm) {
    std::memset(usm.full_iv, 0, sizeof usm.full_iv);
    std::memset(usm.priv_param, 0, sizeof usm.priv_param);
}

// DES (RFC 3414 8.1.1.1): salt = BE32(engine boots) || BE32(counter); IV = pre-IV XOR salt, made by
// the encryption from the key. full_iv holds the salt.
int32_t std_des_make_iv(const snmp_v3_priv_alg *alg, snmp_v3_usm *usm) {
    const std::optional<uint64_t> counter = next_salt();
    if (!counter) {
        return 0;
    }
    clear_iv(*usm);
    put_boots_and_time(usm->priv_param, usm->engine_boots, static_cast<uint32_t>(*counter));
    std::memcpy(usm->full_iv, usm->priv_param, alg->salt_len);
    usm->priv_param_len = alg->salt_len;
    usm->full_iv_len = alg->salt_len;
    return 1;
}

// AES (RFC 3826 3.1.2.1): salt = BE64(counter); IV = BE32(boots) || BE32(time) || salt.
int32_t std_aes_make_iv(const snmp_v3_priv_alg *alg, snmp_v3_usm *usm) {
    const std::optional<uint64_t> counter = next_salt();
    if (!counter) {
        return 0;
    }
    clear_iv(*usm);
    put_big_endian(std::span<uint8_t>(usm->priv_param, alg->salt_len), *counter, alg->salt_len);
    put_boots_and_time(usm->full_iv, usm->engine_boots, usm->engine_time);
    std::memcpy(usm->full_iv + SNMP_V3_IV_FIXED_LEN, usm->priv_param, alg->salt_len);
    usm->priv_param_len = alg->salt_len;
    usm->full_iv_len = alg->iv_len;
    return 1;
}

// DES-CBC pads to a whole block (any padding; the scoped PDU's length tells where it ends).
uint16_t std_des_encrypted_len(const snmp_v3_priv_alg *alg, uint16_t plain_len) {
    return static_cast<uint16_t>((plain_len + alg->block - 1u) / alg->block * alg->block);
}

// CFB needs no padding.
uint16_t std_aes_encrypted_len(const snmp_v3_priv_alg * /*alg*/, uint16_t plain_len) { return plain_len; }

// The DES key is the first 8 key bytes; the pre-IV the next 8, XORed with the salt.
std::array<uint8_t, VEK_DES_BLOCK_SIZE> des_iv(const uint8_t *key, const uint8_t *salt) {
    std::array<uint8_t, VEK_DES_BLOCK_SIZE> iv{};
    for (size_t i = 0; i < iv.size(); ++i) {
        iv[i] = static_cast<uint8_t>(key[VEK_DES_KEY_SIZE + i] ^ salt[i]);
    }
    return iv;
}

int32_t std_des_encrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *plain,
                        uint16_t plain_len, uint8_t *out, uint8_t *work, uint16_t work_len) {
    const uint16_t padded = std_des_encrypted_len(alg, plain_len);
    if (!salt_ok(*alg, *usm) || padded == 0 || padded > work_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准DES加密失败（明文=%d字节）", static_cast<int>(plain_len));
        return 0;
    }
    std::memmove(work, plain, plain_len);
    std::memset(work + plain_len, 0, padded - plain_len);
    auto iv = des_iv(key, usm->priv_param);
    vek_des_cbc_encrypt(key, iv.data(), work, work, padded);
    wipe(iv);
    std::memcpy(out, work, padded);
    return 1;
}

int32_t std_des_decrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *data,
                        uint16_t data_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len) {
    if (!salt_ok(*alg, *usm) || data_len == 0 || data_len % alg->block != 0 || data_len > work_len ||
        data_len > *out_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准DES解密失败（密文=%d字节，隐私参数=%d字节）", static_cast<int>(data_len),
                  static_cast<int>(usm->priv_param_len));
        return 0;
    }
    auto iv = des_iv(key, usm->priv_param);
    vek_des_cbc_decrypt(key, iv.data(), data, work, data_len);
    wipe(iv);
    std::memcpy(out, work, data_len);
    *out_len = data_len;
    return 1;
}

int32_t std_aes_encrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *plain,
                        uint16_t plain_len, uint8_t *out, uint8_t *work, uint16_t work_len) {
    if (!salt_ok(*alg, *usm) || usm->full_iv_len != alg->iv_len || plain_len == 0 || plain_len > work_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准AES加密失败（明文=%d字节）", static_cast<int>(plain_len));
        return 0;
    }
    vek_aes_cfb128_encrypt(key, alg->key_len, usm->full_iv, plain, work, plain_len);
    std::memcpy(out, work, plain_len);
    return 1;
}

int32_t std_aes_decrypt(const snmp_v3_priv_alg *alg, const snmp_v3_usm *usm, const uint8_t *key, const uint8_t *data,
                        uint16_t data_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len) {
    if (!salt_ok(*alg, *usm) || data_len == 0 || data_len > work_len || data_len > *out_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "标准AES解密失败（密文=%d字节，隐私参数=%d字节）", static_cast<int>(data_len),
                  static_cast<int>(usm->priv_param_len));
        return 0;
    }
    std::array<uint8_t, VEK_AES_BLOCK_SIZE> iv{};
    put_boots_and_time(iv.data(), usm->engine_boots, usm->engine_time);
    std::memcpy(iv.data() + SNMP_V3_IV_FIXED_LEN, usm->priv_param, alg->salt_len);
    vek_aes_cfb128_decrypt(key, alg->key_len, iv.data(), data, work, data_len);
    std::memcpy(out, work, data_len);
    *out_len = data_len;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// The tables

constexpr uint8_t kVek = SNMP_V3_SCHEME_VEK;
constexpr uint8_t kStd = SNMP_V3_SCHEME_STD;
constexpr uint8_t kNoSalt = 0;

constexpr std::array kVekAuth = {
    snmp_v3_auth_alg{SNMP_V3_AUTH_MD5, kVek, VEK_ALG_MD5, VEK_MD5_DIGEST_SIZE, SNMP_V3_AUTH_PARAM_TRUNCATED_LEN,
                     "MD5-96", vek_derive_auth, vek_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_SHA1, kVek, VEK_ALG_SHA1, VEK_SHA1_DIGEST_SIZE, SNMP_V3_AUTH_PARAM_TRUNCATED_LEN,
                     "SHA1-96", vek_derive_auth, vek_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_SHA256, kVek, VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE,
                     SNMP_V3_AUTH_PARAM_TRUNCATED_LEN, "SHA256-96", vek_derive_auth, vek_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_SHA256_FULL, kVek, VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE,
                     SNMP_V3_AUTH_PARAM_FULL_LEN, "SHA256-FULL", vek_derive_auth, vek_authenticate},
};

// RFC 7860 section 4.2: the parameter of HMAC-SHA-2 is half the digest, rounded to whole bytes as given.
constexpr uint16_t kSha224Param = 16;
constexpr uint16_t kSha256Param = 24;
constexpr uint16_t kSha384Param = 32;
constexpr uint16_t kSha512Param = 48;

constexpr std::array kStdAuth = {
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_MD5, kStd, VEK_ALG_MD5, VEK_MD5_DIGEST_SIZE, SNMP_V3_AUTH_PARAM_TRUNCATED_LEN,
                     "HMAC-MD5-96", std_derive_auth, std_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_SHA1, kStd, VEK_ALG_SHA1, VEK_SHA1_DIGEST_SIZE,
                     SNMP_V3_AUTH_PARAM_TRUNCATED_LEN, "HMAC-SHA-96", std_derive_auth, std_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_SHA224, kStd, VEK_ALG_SHA224, VEK_SHA224_DIGEST_SIZE, kSha224Param,
                     "HMAC-SHA-224", std_derive_auth, std_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_SHA256, kStd, VEK_ALG_SHA256, VEK_SHA256_DIGEST_SIZE, kSha256Param,
                     "HMAC-SHA-256", std_derive_auth, std_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_SHA384, kStd, VEK_ALG_SHA384, VEK_SHA384_DIGEST_SIZE, kSha384Param,
                     "HMAC-SHA-384", std_derive_auth, std_authenticate},
    snmp_v3_auth_alg{SNMP_V3_AUTH_STD_SHA512, kStd, VEK_ALG_SHA512, VEK_SHA512_DIGEST_SIZE, kSha512Param,
                     "HMAC-SHA-512", std_derive_auth, std_authenticate},
};

constexpr std::array kVekPriv = {
    snmp_v3_priv_alg{SNMP_V3_PRIV_DES, kVek, VEK_ALG_DES_CBC, VEK_DES_KEY_SIZE, VEK_DES_BLOCK_SIZE, VEK_DES_BLOCK_SIZE,
                     kNoSalt, "DES-CBC", vek_derive_priv, vek_make_iv, vek_encrypted_len, vek_encrypt, vek_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_AES128, kVek, VEK_ALG_AES128_CBC, VEK_AES128_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-128-CBC", vek_derive_priv, vek_make_iv,
                     vek_encrypted_len, vek_encrypt, vek_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_AES192, kVek, VEK_ALG_AES192_CBC, VEK_AES192_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-192-CBC", vek_derive_priv, vek_make_iv,
                     vek_encrypted_len, vek_encrypt, vek_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_AES256, kVek, VEK_ALG_AES256_CBC, VEK_AES256_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-256-CBC", vek_derive_priv, vek_make_iv,
                     vek_encrypted_len, vek_encrypt, vek_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_3DES, kVek, VEK_ALG_3DES_CBC, VEK_DES3_KEY_SIZE, VEK_DES_BLOCK_SIZE,
                     VEK_DES_BLOCK_SIZE, kNoSalt, "3DES-CBC", vek_derive_priv, vek_make_iv, vek_encrypted_len,
                     vek_encrypt, vek_decrypt},
};

constexpr uint16_t kStdDesKeyLen = VEK_DES_KEY_SIZE + VEK_DES_BLOCK_SIZE;  // DES key and pre-IV

constexpr std::array kStdPriv = {
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_DES, kStd, VEK_ALG_DES_CBC, kStdDesKeyLen, VEK_DES_BLOCK_SIZE,
                     VEK_DES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "DES-CBC", std_derive_priv, std_des_make_iv,
                     std_des_encrypted_len, std_des_encrypt, std_des_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_AES128, kStd, VEK_ALG_AES128_CFB, VEK_AES128_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-128-CFB", std_derive_priv, std_aes_make_iv,
                     std_aes_encrypted_len, std_aes_encrypt, std_aes_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_AES192, kStd, VEK_ALG_AES192_CFB, VEK_AES192_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-192-CFB", std_derive_priv_digest_ext,
                     std_aes_make_iv, std_aes_encrypted_len, std_aes_encrypt, std_aes_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_AES256, kStd, VEK_ALG_AES256_CFB, VEK_AES256_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-256-CFB", std_derive_priv_digest_ext,
                     std_aes_make_iv, std_aes_encrypted_len, std_aes_encrypt, std_aes_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_AES192C, kStd, VEK_ALG_AES192_CFB, VEK_AES192_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-192-CFB-C", std_derive_priv_p2k_ext,
                     std_aes_make_iv, std_aes_encrypted_len, std_aes_encrypt, std_aes_decrypt},
    snmp_v3_priv_alg{SNMP_V3_PRIV_STD_AES256C, kStd, VEK_ALG_AES256_CFB, VEK_AES256_KEY_SIZE, VEK_AES_BLOCK_SIZE,
                     VEK_AES_BLOCK_SIZE, SNMP_V3_SALT_LEN, "AES-256-CFB-C", std_derive_priv_p2k_ext,
                     std_aes_make_iv, std_aes_encrypted_len, std_aes_encrypt, std_aes_decrypt},
};

constexpr std::array kSchemes = {
    snmp_v3_scheme{SNMP_V3_SCHEME_VEK, "vek", 1, kVekAuth.data(), kVekAuth.size(), kVekPriv.data(), kVekPriv.size()},
    snmp_v3_scheme{SNMP_V3_SCHEME_STD, "std", 0, kStdAuth.data(), kStdAuth.size(), kStdPriv.data(), kStdPriv.size()},
};

// Every row fits the codec's fields, and every code has exactly one row.
template <typename Rows> constexpr bool auth_rows_fit(const Rows &rows) {
    return std::all_of(rows.begin(), rows.end(), [](const snmp_v3_auth_alg &a) {
        return a.key_len <= SNMP_KEY_SIZE && a.param_len <= SNMP_AUTH_PARAM_SIZE && a.param_len <= a.key_len &&
               a.proto != SNMP_V3_AUTH_NONE && a.proto <= SNMP_V3_AUTH_CODE_MAX;
    });
}
template <typename Rows> constexpr bool priv_rows_fit(const Rows &rows) {
    return std::all_of(rows.begin(), rows.end(), [](const snmp_v3_priv_alg &p) {
        return p.key_len <= SNMP_KEY_SIZE && p.iv_len <= SNMP_FULL_IV_SIZE && p.iv_len <= VEK_MAX_CIPHER_IV_SIZE &&
               p.salt_len <= SNMP_PRIV_PARAM_SIZE && p.block <= SNMP_V3_MAX_BLOCK_SIZE &&
               p.proto != SNMP_V3_PRIV_NONE && p.proto <= SNMP_V3_PRIV_CODE_MAX;
    });
}
static_assert(auth_rows_fit(kVekAuth) && auth_rows_fit(kStdAuth), "authentication rows fit the codec's fields");
static_assert(priv_rows_fit(kVekPriv) && priv_rows_fit(kStdPriv), "privacy rows fit the codec's fields");
static_assert(kVekAuth.size() + kStdAuth.size() == SNMP_V3_AUTH_CODE_MAX, "one row per authentication code");
static_assert(kVekPriv.size() + kStdPriv.size() == SNMP_V3_PRIV_CODE_MAX, "one row per privacy code");

}  // namespace

extern "C" {

const snmp_v3_auth_alg *snmp_v3_auth_alg_of(uint8_t auth_proto) {
    for (const snmp_v3_scheme &scheme : kSchemes) {
        for (const snmp_v3_auth_alg &alg : std::span(scheme.auth, scheme.auth_count)) {
            if (alg.proto == auth_proto) {
                return &alg;
            }
        }
    }
    return nullptr;
}

const snmp_v3_priv_alg *snmp_v3_priv_alg_of(uint8_t priv_proto) {
    for (const snmp_v3_scheme &scheme : kSchemes) {
        for (const snmp_v3_priv_alg &alg : std::span(scheme.priv, scheme.priv_count)) {
            if (alg.proto == priv_proto) {
                return &alg;
            }
        }
    }
    return nullptr;
}

const snmp_v3_scheme *snmp_v3_scheme_by_id(uint8_t id) {
    const auto *it = std::find_if(kSchemes.begin(), kSchemes.end(), [id](const snmp_v3_scheme &s) { return s.id == id; });
    return it != kSchemes.end() ? &*it : nullptr;
}

const snmp_v3_scheme *snmp_v3_scheme_of(uint8_t auth_proto, uint8_t priv_proto) {
    const snmp_v3_auth_alg *auth = snmp_v3_auth_alg_of(auth_proto);
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(priv_proto);
    if ((auth_proto != SNMP_V3_AUTH_NONE && auth == nullptr) || (priv_proto != SNMP_V3_PRIV_NONE && priv == nullptr) ||
        (auth != nullptr && priv != nullptr && auth->scheme != priv->scheme)) {
        return nullptr;
    }
    if (auth == nullptr && priv != nullptr && priv->scheme == SNMP_V3_SCHEME_STD) {
        return nullptr;
    }
    const uint8_t id = auth != nullptr ? auth->scheme : priv != nullptr ? priv->scheme : SNMP_V3_SCHEME_VEK;
    return snmp_v3_scheme_by_id(id);
}

}  // extern "C"
