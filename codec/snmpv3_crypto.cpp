// SNMPv3 USM security on top of the crypto facade: algorithm tables, the privacy IV, scoped-PDU
// encryption and decryption, the authentication parameter, password-to-key derivation and the
// security processing of received messages. All work areas are fixed-size locals or caller-supplied.
#include "codec/snmpv3_crypto.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "base/agent_log.h"
#include "base/log_mask.h"
#include "codec/ber_octets.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmpv3_ber.h"
#include "codec/snmpv3_scheme.h"
#include "codec/usm_secret.h"
#include "crypto/aes_vek.h"
#include "crypto/crypto_vek.h"

namespace {

using vek::codec::same_bytes;
using vek::codec::wipe;

constexpr uint16_t kParamValueAt = 2;  // the parameter's value follows its tag and one length octet
constexpr uint16_t kMinPlaintextLen = 2;

static_assert(SNMP_V3_MAX_BLOCK_SIZE == VEK_AES_BLOCK_SIZE, "largest block is the AES block");
static_assert(SNMP_V3_IV_FIXED_LEN == VEK_IV_FIXED_SIZE, "IV fixed part is boots and time");

// Copies data unchanged (privacy algorithm 0) into an output of *out_len bytes.
int32_t copy_through(const uint8_t *data, uint16_t len, uint8_t *out, uint16_t *out_len) {
    if (len > *out_len) {
        return 0;
    }
    if (len != 0) {
        std::memmove(out, data, len);
    }
    *out_len = len;
    return 1;
}

bool usm_engine_id_ok(const snmp_v3_usm &usm) { return usm.engine_id_len <= SNMP_ENGINE_ID_SIZE; }

// What a key of the record's engine is made from.
snmp_v3_key_source key_source(const snmp_v3_usm &usm, const uint8_t *pass, uint8_t pass_len) {
    return {pass, pass_len, usm.engine_id, usm.engine_id_len, usm.engine_boots, usm.engine_time};
}

// ---- Checks of a received message ----

// A verdict and the codec result code that snmp_v3_process_security reports for it.
struct Check {
    uint8_t verdict;
    int32_t code;
};

constexpr Check kPassed{SNMP_V3_VERDICT_OK, SNMP_OK};

bool flag_set(const snmp_message &msg, uint8_t flag) { return (msg.msg_flags & flag) != 0; }

// The message must ask for exactly the user's security level: a lower one would let a request be
// answered in clear text (or unauthenticated) for a user who has keys, a higher one claims what the
// user cannot check.
Check check_security_level(const snmp_message &msg, const snmp_v3_user &user) {
    const bool auth_differs = flag_set(msg, SNMP_V3_FLAG_AUTH) != (user.auth_proto != SNMP_V3_AUTH_NONE);
    const bool priv_differs = flag_set(msg, SNMP_V3_FLAG_PRIV) != (user.priv_proto != SNMP_V3_PRIV_NONE);
    if (!auth_differs && !priv_differs) {
        return kPassed;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 安全级别与用户配置不符（msgFlags=0x%02X，用户鉴权：%d，用户加密：%d）",
              static_cast<unsigned>(msg.msg_flags), static_cast<int>(user.auth_proto),
              static_cast<int>(user.priv_proto));
    return {SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL, auth_differs ? SNMP_ERR_AUTH : SNMP_ERR_PRIV};
}

using MessageArea = std::array<uint8_t, SNMP_MAX_MSG_SIZE>;

Check authenticate_received(const uint8_t *data, uint16_t len, const snmp_message &msg, const snmp_v3_user &user,
                            MessageArea &work) {
    snmp_v3_usm usm = msg.usm;
    usm.auth_proto = user.auth_proto;
    if (user.auth_key_len > SNMP_KEY_SIZE ||
        snmp_v3_validate_auth_param(data, len, &usm, user.auth_key, user.auth_key_len, msg.usm.auth_param, work.data(),
                                    static_cast<uint16_t>(work.size())) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 鉴权失败");
        return {SNMP_V3_VERDICT_WRONG_DIGEST, SNMP_ERR_AUTH};
    }
    return kPassed;
}

Check decrypt_received(snmp_message &msg, const snmp_v3_user &user, MessageArea &work) {
    snmp_v3_usm usm = msg.usm;
    usm.priv_proto = user.priv_proto;
    MessageArea plain;  // written by the decryption before it is read
    auto plain_len = static_cast<uint16_t>(plain.size());
    uint16_t encrypted_len = std::min<uint16_t>(msg.encrypted_pdu_len, sizeof msg.encrypted_pdu);
    if (user.priv_key_len > SNMP_KEY_SIZE ||
        snmp_v3_decrypt_pdu(msg.encrypted_pdu, encrypted_len, &usm, user.priv_key, user.priv_key_len, plain.data(),
                            &plain_len, work.data(), static_cast<uint16_t>(work.size())) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 解密失败");
        return {SNMP_V3_VERDICT_DECRYPTION_ERROR, SNMP_ERR_PRIV};
    }
    if (plain_len < kMinPlaintextLen) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 明文过短（%d字节 < 2字节）", static_cast<int>(plain_len));
        return {SNMP_V3_VERDICT_DECRYPTION_ERROR, SNMP_ERR_MALFORMED};
    }
    uint16_t used = 0;
    int32_t ret = snmp_ber_decode_v3_scoped_pdu(plain.data(), plain_len, &msg.pdu, &used);
    wipe(plain.data(), plain.size());
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] ScopedPDU解码失败（错误码：%d）", static_cast<int>(ret));
        return {SNMP_V3_VERDICT_DECRYPTION_ERROR, ret};
    }
    return kPassed;
}

bool names_engine(const snmp_v3_usm &usm, const snmp_v3_local_engine &engine) {
    return engine.engine_id != nullptr && usm.engine_id_len == engine.engine_id_len &&
           usm.engine_id_len <= SNMP_ENGINE_ID_SIZE &&
           std::equal(usm.engine_id, usm.engine_id + usm.engine_id_len, engine.engine_id);
}

Check check_timeliness(const snmp_message &msg, const snmp_v3_local_engine &engine) {
    if (snmp_v3_in_time_window(engine.engine_boots, engine.engine_time, msg.usm.engine_boots,
                               msg.usm.engine_time) != 0) {
        return kPassed;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 消息不在时间窗口内（本地boots=%u，time=%u；消息boots=%u，time=%u）",
              engine.engine_boots, engine.engine_time, msg.usm.engine_boots, msg.usm.engine_time);
    return {SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, SNMP_ERR_AUTH};
}

// RFC 3414 section 3.2: engine, user, level, digest, time window (after the digest, so that an
// unauthenticated message learns nothing about the clock), decryption.
Check run_checks(const uint8_t *data, uint16_t len, snmp_message &msg, const snmp_v3_local_engine *authoritative,
                 const snmp_v3_user *user) {
    if (authoritative != nullptr && !names_engine(msg.usm, *authoritative)) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 消息的权威引擎ID不是本引擎（长度=%u）",
                  static_cast<unsigned>(msg.usm.engine_id_len));
        return {SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, SNMP_ERR_AUTH};
    }
    if (user == nullptr) {
        return {SNMP_V3_VERDICT_UNKNOWN_USER_NAME, SNMP_ERR_AUTH};
    }
    Check check = check_security_level(msg, *user);
    MessageArea work;  // message copy for the HMAC, then cipher text; written before it is read
    if (check.verdict == SNMP_V3_VERDICT_OK && flag_set(msg, SNMP_V3_FLAG_AUTH)) {
        check = authenticate_received(data, len, msg, *user, work);
        if (check.verdict == SNMP_V3_VERDICT_OK && authoritative != nullptr) {
            check = check_timeliness(msg, *authoritative);
        }
    }
    if (check.verdict == SNMP_V3_VERDICT_OK && flag_set(msg, SNMP_V3_FLAG_PRIV)) {
        check = decrypt_received(msg, *user, work);
    }
    return check;
}

// ---- Keys ----

constexpr uint8_t kAuthTable = 1;
constexpr uint8_t kPrivTable = 0;

using KeyGenerator = int32_t (*)(const snmp_v3_usm *, const uint8_t *, uint8_t, uint8_t *, uint16_t);

// One localised key of the algorithm `proto` into key / key_len.
bool localize_key(const snmp_v3_usm &usm, uint8_t proto, uint8_t table, KeyGenerator generate,
                  std::span<const uint8_t> pass, uint8_t *key, uint16_t &key_len) {
    const uint16_t len = snmpv3_get_key_length(proto, table);
    if (len == 0 || len > SNMP_KEY_SIZE ||
        generate(&usm, pass.data(), static_cast<uint8_t>(pass.size()), key, len) != 1) {
        return false;
    }
    key_len = len;
    return true;
}

// ---- Reports ----

constexpr uint32_t kUsmStatsArc[] = {1, 3, 6, 1, 6, 3, 15, 1, 1};  // usmStats; counter n is .n, instance .n.0
constexpr uint8_t kUsmStatsArcLen = sizeof kUsmStatsArc / sizeof kUsmStatsArc[0];
constexpr uint32_t kInstanceSubId = 0;

// One row per failure verdict, indexed by the verdict (the counter's sub-identifier).
struct UsmReport {
    uint8_t verdict;
    uint8_t at_request_level;
};

constexpr std::array<UsmReport, SNMP_V3_VERDICT_COUNT> kUsmReports = {{
    {SNMP_V3_VERDICT_OK, 0},
    {SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL, 0},
    {SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW, 1},
    {SNMP_V3_VERDICT_UNKNOWN_USER_NAME, 0},
    {SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, 0},
    {SNMP_V3_VERDICT_WRONG_DIGEST, 0},
    {SNMP_V3_VERDICT_DECRYPTION_ERROR, 0},
}};

constexpr bool report_rows_in_order() {
    for (size_t i = 0; i < kUsmReports.size(); ++i) {
        if (kUsmReports[i].verdict != i) {
            return false;
        }
    }
    return true;
}
static_assert(report_rows_in_order(), "each report row sits at its verdict");
static_assert(kUsmStatsArcLen + 2 <= SNMP_MAX_OID_LEN, "a usmStats instance fits an OID");

}  // namespace

extern "C" {

// ---- Tables ----

uint16_t snmpv3_get_key_length(uint8_t alg, uint8_t is_auth) {
    if (is_auth != 0) {
        const snmp_v3_auth_alg *auth = snmp_v3_auth_alg_of(alg);
        return auth != nullptr ? auth->key_len : 0;
    }
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(alg);
    return priv != nullptr ? priv->key_len : 0;
}

uint8_t snmpv3_get_iv_length(uint8_t priv_proto) {
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(priv_proto);
    return priv != nullptr ? priv->iv_len : 0;
}

uint8_t snmpv3_get_block_size(uint8_t priv_proto) {
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(priv_proto);
    if (priv == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_get_block_size: unknown algorithm=%d", static_cast<int>(priv_proto));
        return 0;
    }
    return priv->block;
}

uint16_t snmpv3_get_auth_param_length(uint8_t auth_proto) {
    const snmp_v3_auth_alg *auth = snmp_v3_auth_alg_of(auth_proto);
    return auth != nullptr ? auth->param_len : 0;
}

uint16_t snmpv3_get_encrypted_length(uint8_t priv_proto, uint16_t plain_len) {
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(priv_proto);
    return priv != nullptr ? priv->encrypted_len(priv, plain_len) : 0;
}

void snmpv3_crypto_init(void) { AGENT_LOG(AGENT_LOG_INFO, "Using vek self-developed crypto implementation"); }

// ---- IV ----

int32_t snmpv3_crypto_gen_full_iv(snmp_v3_usm *usm) {
    if (usm == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_crypto_gen_full_iv: usm is NULL");
        return 0;
    }
    if (usm->priv_proto == SNMP_V3_PRIV_NONE) {
        std::memset(usm->full_iv, 0, sizeof usm->full_iv);
        std::memset(usm->priv_param, 0, sizeof usm->priv_param);
        usm->full_iv_len = 0;
        usm->priv_param_len = 0;
        AGENT_LOG(AGENT_LOG_DEBUG, "snmpv3_crypto_gen_full_iv: no encryption, skip IV generation");
        return 1;
    }
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(usm->priv_proto);
    if (priv == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_crypto_gen_full_iv: unsupported vek algorithm (priv_proto=%d)",
                  static_cast<int>(usm->priv_proto));
        return 0;
    }
    if (priv->make_iv(priv, usm) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_crypto_gen_full_iv: generate IV random part failed");
        return 0;
    }
    vek::log_masked_dump("IV fixed part (engine_boots+engine_time)");
    vek::log_masked_dump("IV random part");
    return 1;
}

// ---- Encryption ----

int32_t snmp_v3_encrypt_pdu(const uint8_t *plain, uint16_t plain_len, const snmp_v3_usm *usm, const uint8_t *key,
                            uint16_t key_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len) {
    if (plain == nullptr || usm == nullptr || key == nullptr || out == nullptr || out_len == nullptr || key_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: invalid input parameters (fixed_priv_key is NULL/empty)");
        return 0;
    }
    if (usm->priv_proto == SNMP_V3_PRIV_NONE) {
        return copy_through(plain, plain_len, out, out_len);
    }
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(usm->priv_proto);
    if (priv == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: unsupported vek algorithm (%d)", static_cast<int>(usm->priv_proto));
        return 0;
    }
    if (key_len != priv->key_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: key length mismatch (need=%d, got=%d)",
                  static_cast<int>(priv->key_len), static_cast<int>(key_len));
        return 0;
    }
    vek::log_masked_dump("加密密钥 fixed_priv_key");
    const uint16_t encrypted_len = priv->encrypted_len(priv, plain_len);
    if (work == nullptr || usm->priv_param_len > SNMP_PRIV_PARAM_SIZE || encrypted_len > *out_len ||
        priv->encrypt(priv, usm, key, plain, plain_len, out, work, work_len) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_encrypt_pdu: vek cipher encrypt failed");
        return 0;
    }
    *out_len = encrypted_len;
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_v3_encrypt_pdu: vek encryption completed (plain=%d bytes, cipher=%d bytes)",
              static_cast<int>(plain_len), static_cast<int>(*out_len));
    return 1;
}

int32_t snmp_v3_decrypt_pdu(const uint8_t *data, uint16_t data_len, const snmp_v3_usm *usm, const uint8_t *key,
                            uint16_t key_len, uint8_t *out, uint16_t *out_len, uint8_t *work, uint16_t work_len) {
    if (data == nullptr || usm == nullptr || key == nullptr || out == nullptr || out_len == nullptr || key_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: invalid input parameters (fixed_priv_key is NULL/empty)");
        return 0;
    }
    if (usm->priv_proto == SNMP_V3_PRIV_NONE) {
        return copy_through(data, data_len, out, out_len);
    }
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(usm->priv_proto);
    if (priv == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: unsupported vek algorithm (%d)", static_cast<int>(usm->priv_proto));
        return 0;
    }
    if (key_len != priv->key_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_decrypt_pdu: key length mismatch (need=%d, got=%d)",
                  static_cast<int>(priv->key_len), static_cast<int>(key_len));
        return 0;
    }
    vek::log_masked_dump("解密密钥 fixed_priv_key");
    if (priv->decrypt(priv, usm, key, data, data_len, out, out_len, work, work_len) != 1) {
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmp_v3_decrypt_pdu: vek decryption completed (cipher=%d bytes, plain=%d bytes)",
              static_cast<int>(data_len), static_cast<int>(*out_len));
    return 1;
}

// ---- Authentication parameter ----

int32_t snmpv3_crypto_gen_auth_param(const snmp_v3_usm *usm, const uint8_t *key, uint16_t key_len,
                                     const uint8_t *msg, uint16_t msg_len, uint8_t *out_param, uint8_t * /*work*/,
                                     uint16_t /*work_len*/) {
    if (usm == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "  usm 为 NULL");
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "snmpv3_crypto_gen_auth_param: auth_proto=%d, key_len=%d, msg_len=%d",
              static_cast<int>(usm->auth_proto), static_cast<int>(key_len), static_cast<int>(msg_len));
    vek::log_masked_dump("认证密钥 auth_key");
    const snmp_v3_auth_alg *auth = snmp_v3_auth_alg_of(usm->auth_proto);
    if (auth == nullptr || key == nullptr || key_len == 0 || msg == nullptr || msg_len == 0 || out_param == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmpv3_crypto_gen_auth_param: VEK生成认证参数失败，错误码：%d",
                  static_cast<int>(VEK_ERR_INVALID_PARAM));
        return 0;
    }
    return auth->authenticate(auth, key, key_len, msg, msg_len, out_param);
}

int32_t snmp_v3_gen_auth_param(const snmp_v3_usm *usm, const uint8_t *key, uint16_t key_len, const uint8_t *msg,
                               uint16_t msg_len, uint8_t *out_param, uint8_t *work, uint16_t work_len) {
    static constexpr char kFn[] = "snmp_v3_gen_auth_param";
    if (usm == nullptr || key == nullptr || key_len == 0 || msg == nullptr || out_param == nullptr ||
        work == nullptr || work_len == 0 || msg_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效输入参数（usm=%p, auth_key=%p, msg_data=%p, buf_len=%d）", kFn,
                  static_cast<const void *>(usm), static_cast<const void *>(key), static_cast<const void *>(msg),
                  static_cast<int>(work_len));
        return 0;
    }
    uint16_t param_len = snmpv3_get_auth_param_length(usm->auth_proto);
    if (param_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的认证算法（proto=%d）", kFn, static_cast<int>(usm->auth_proto));
        return 0;
    }
    uint16_t at = usm->auth_param_offset;
    if (at >= msg_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: AuthParam偏移量越界（offset=%u >= 消息长度=%u）", kFn, static_cast<unsigned>(at),
                  static_cast<unsigned>(msg_len));
        return 0;
    }
    uint32_t tlv_end = static_cast<uint32_t>(at) + kParamValueAt + param_len;
    if (tlv_end > msg_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: AuthParam TLV越界（offset+TLV长度=%u > 消息长度=%u）", kFn,
                  static_cast<unsigned>(tlv_end), static_cast<unsigned>(msg_len));
        return 0;
    }
    if (work_len < msg_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 工作缓冲区不足（需要=%u字节，实际=%u字节）", kFn, static_cast<unsigned>(msg_len),
                  static_cast<unsigned>(work_len));
        return 0;
    }
    std::memcpy(work, msg, msg_len);
    std::memset(work + at + kParamValueAt, 0, param_len);
    return snmpv3_crypto_gen_auth_param(usm, key, key_len, work, msg_len, out_param, nullptr, 0);
}

int32_t snmp_v3_validate_auth_param(const uint8_t *msg, uint16_t msg_len, const snmp_v3_usm *usm,
                                    const uint8_t *key, uint16_t key_len, const uint8_t *received_param,
                                    uint8_t *work, uint16_t work_len) {
    if (usm == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: 空指针输入");
        return 0;
    }
    if (usm->auth_proto == SNMP_V3_AUTH_NONE) {
        AGENT_LOG(AGENT_LOG_DEBUG, "无鉴权模式，直接通过");
        return 1;
    }
    if (msg == nullptr || key == nullptr || received_param == nullptr || work == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: 空指针输入");
        return 0;
    }
    uint16_t param_len = snmpv3_get_auth_param_length(usm->auth_proto);
    uint32_t tlv_end = static_cast<uint32_t>(usm->auth_param_offset) + kParamValueAt + param_len;
    if (usm->auth_param_offset == 0 || tlv_end > msg_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: AuthParam TLV越界（偏移+完整长度=%lu > 消息长度=%d）",
                  static_cast<unsigned long>(tlv_end), static_cast<int>(msg_len));
        return 0;
    }
    if (work_len < msg_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: 工作缓冲区不足（需要=%u, 提供=%u）", static_cast<unsigned>(msg_len),
                  static_cast<unsigned>(work_len));
        return 0;
    }
    std::array<uint8_t, SNMP_AUTH_PARAM_SIZE> computed{};
    if (param_len == 0 || snmp_v3_gen_auth_param(usm, key, key_len, msg, msg_len, computed.data(), work, work_len) == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: 生成认证参数失败");
        return 0;
    }
    // A received parameter of another length than the algorithm's never matches.
    if (usm->auth_param_len != param_len || !same_bytes(computed.data(), received_param, param_len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "鉴权失败: 参数不匹配");
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "鉴权成功: 参数匹配");
    return 1;
}

// ---- Password to key ----

uint16_t snmp_v3_pass_encode(const uint8_t *pass, uint8_t pass_len, uint8_t mode, uint8_t *out, uint16_t capacity) {
    if (pass == nullptr || out == nullptr || pass_len == 0 || capacity == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "Invalid parameters for password encoding");
        return 0;
    }
    if (mode != SNMP_V3_PASS_ENCODE_UTF16LE) {
        if (capacity < pass_len) {
            AGENT_LOG(AGENT_LOG_ERROR, "Buffer too small for ASCII encoding");
            return 0;
        }
        std::memcpy(out, pass, pass_len);
        return pass_len;
    }
    auto need = static_cast<uint16_t>(2u * pass_len);
    if (capacity < need) {
        AGENT_LOG(AGENT_LOG_ERROR, "Buffer too small for UTF-16LE encoding (need %d, have %d)", static_cast<int>(need),
                  static_cast<int>(capacity));
        return 0;
    }
    for (uint16_t i = 0; i < pass_len; ++i) {
        out[2u * i] = pass[i];
        out[2u * i + 1u] = 0;
    }
    return need;
}

int32_t snmp_v3_generate_auth_key(const snmp_v3_usm *usm, const uint8_t *pass, uint8_t pass_len, uint8_t *key,
                                  uint16_t key_len) {
    if (usm == nullptr || pass == nullptr || key == nullptr || key_len == 0 || !usm_engine_id_ok(*usm)) {
        AGENT_LOG(AGENT_LOG_ERROR, "Invalid parameters for auth key generation");
        return 0;
    }
    const snmp_v3_auth_alg *auth = snmp_v3_auth_alg_of(usm->auth_proto);
    if (auth == nullptr || key_len != auth->key_len) {
        AGENT_LOG(AGENT_LOG_ERROR, "VEK auth key generation failed with error: %d", static_cast<int>(VEK_ERR_KEY_LENGTH));
        return 0;
    }
    const snmp_v3_key_source src = key_source(*usm, pass, pass_len);
    if (auth->derive(auth, &src, key) != 1) {
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "VEK auth key generated successfully (len=%d)", static_cast<int>(key_len));
    return 1;
}

int32_t snmp_v3_generate_priv_key(const snmp_v3_usm *usm, const uint8_t *pass, uint8_t pass_len, uint8_t *key,
                                  uint16_t key_len) {
    if (usm == nullptr || pass == nullptr || key == nullptr || key_len == 0 || !usm_engine_id_ok(*usm)) {
        AGENT_LOG(AGENT_LOG_ERROR, "无效参数（空指针或密钥长度为0）");
        return 0;
    }
    const snmp_v3_priv_alg *priv = snmp_v3_priv_alg_of(usm->priv_proto);
    const uint16_t need = priv != nullptr ? priv->key_len : 0;
    if (key_len != need) {
        AGENT_LOG(AGENT_LOG_ERROR, "密钥长度不匹配（算法要求%d字节，实际%d字节）", static_cast<int>(need),
                  static_cast<int>(key_len));
        return 0;
    }
    const snmp_v3_key_source src = key_source(*usm, pass, pass_len);
    if (priv->derive(priv, snmp_v3_auth_alg_of(usm->auth_proto), &src, key) != 1) {
        return 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "隐私密钥生成成功（算法=%d，长度=%d字节）", static_cast<int>(usm->priv_proto),
              static_cast<int>(key_len));
    return 1;
}

// ---- Received messages ----

int32_t snmp_v3_verdict_report(uint8_t verdict, snmp_oid *oid, uint8_t *at_request_level) {
    if (verdict == SNMP_V3_VERDICT_OK || verdict >= kUsmReports.size() || oid == nullptr) {
        return 0;
    }
    *oid = snmp_oid{};
    std::copy(std::begin(kUsmStatsArc), std::end(kUsmStatsArc), oid->sub_ids);
    oid->sub_ids[kUsmStatsArcLen] = verdict;
    oid->sub_ids[kUsmStatsArcLen + 1] = kInstanceSubId;
    oid->len = kUsmStatsArcLen + 2;
    if (at_request_level != nullptr) {
        *at_request_level = kUsmReports[verdict].at_request_level;
    }
    return 1;
}

uint8_t snmp_v3_verdict_of_oid(const snmp_oid *oid) {
    if (oid == nullptr || oid->len <= kUsmStatsArcLen || oid->len > kUsmStatsArcLen + 2 ||
        !std::equal(std::begin(kUsmStatsArc), std::end(kUsmStatsArc), oid->sub_ids) ||
        (oid->len == kUsmStatsArcLen + 2 && oid->sub_ids[kUsmStatsArcLen + 1] != kInstanceSubId)) {
        return SNMP_V3_VERDICT_OK;
    }
    const uint32_t counter = oid->sub_ids[kUsmStatsArcLen];
    return counter > SNMP_V3_VERDICT_OK && counter < kUsmReports.size() ? kUsmReports[counter].verdict
                                                                        : static_cast<uint8_t>(SNMP_V3_VERDICT_OK);
}

int32_t snmp_v3_in_time_window(uint32_t local_boots, uint32_t local_time, uint32_t boots, uint32_t time) {
    if (local_boots >= SNMP_V3_ENGINE_VALUE_MAX || boots != local_boots) {
        return 0;
    }
    const uint32_t gap = local_time > time ? local_time - time : time - local_time;
    return gap <= SNMP_V3_TIME_WINDOW_S ? 1 : 0;
}

int32_t snmp_v3_timely_for_estimate(uint32_t estimated_boots, uint32_t estimated_time, uint32_t boots, uint32_t time) {
    if (boots >= SNMP_V3_ENGINE_VALUE_MAX || boots < estimated_boots) {
        return 0;
    }
    return boots > estimated_boots || static_cast<uint64_t>(time) + SNMP_V3_TIME_WINDOW_S >= estimated_time ? 1 : 0;
}

int32_t snmp_v3_keys_stale(uint8_t auth_proto, uint8_t priv_proto, uint8_t keys_valid, uint32_t key_boots,
                           uint32_t engine_boots) {
    const snmp_v3_scheme *scheme = snmp_v3_scheme_of(auth_proto, priv_proto);
    const bool follow_boots = scheme == nullptr || scheme->keys_follow_boots != 0;
    return keys_valid == 0 || (follow_boots && key_boots != engine_boots) ? 1 : 0;
}

int32_t snmp_v3_localize_user_keys(snmp_v3_user *user, const uint8_t *engine_id, uint16_t engine_id_len,
                                   uint32_t engine_boots, const uint8_t *auth_pass, uint8_t auth_pass_len,
                                   const uint8_t *priv_pass, uint8_t priv_pass_len) {
    if (user == nullptr || engine_id == nullptr || engine_id_len == 0 || engine_id_len > SNMP_ENGINE_ID_SIZE) {
        return 0;
    }
    user->keys_valid = 0;  // half-made keys never count as valid
    snmp_v3_usm usm{};
    std::memcpy(usm.engine_id, engine_id, engine_id_len);
    usm.engine_id_len = engine_id_len;
    usm.engine_boots = engine_boots;
    usm.engine_time = SNMP_V3_KEY_ENGINE_TIME;
    usm.auth_proto = user->auth_proto;
    usm.priv_proto = user->priv_proto;
    if ((user->auth_proto != SNMP_V3_AUTH_NONE &&
         !localize_key(usm, user->auth_proto, kAuthTable, snmp_v3_generate_auth_key, {auth_pass, auth_pass_len},
                       user->auth_key, user->auth_key_len)) ||
        (user->priv_proto != SNMP_V3_PRIV_NONE &&
         !localize_key(usm, user->priv_proto, kPrivTable, snmp_v3_generate_priv_key, {priv_pass, priv_pass_len},
                       user->priv_key, user->priv_key_len))) {
        return 0;
    }
    user->key_engine_boots = engine_boots;
    user->key_engine_time = SNMP_V3_KEY_ENGINE_TIME;
    user->keys_valid = 1;
    return 1;
}

uint8_t snmp_v3_check_message(const uint8_t *data, uint16_t len, snmp_message *msg,
                              const snmp_v3_local_engine *authoritative, const snmp_v3_user *user) {
    if (data == nullptr || msg == nullptr) {
        return SNMP_V3_VERDICT_UNKNOWN_USER_NAME;
    }
    return run_checks(data, len, *msg, authoritative, user).verdict;
}

int32_t snmp_v3_process_security(const uint8_t *data, uint16_t len, snmp_message *msg, const void *ctx,
                                 const snmp_v3_user *user) {
    if (data == nullptr || msg == nullptr || ctx == nullptr || user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 无效参数（usr=%p）", static_cast<const void *>(user));
        return SNMP_ERR_NULL;
    }
    if (msg->usm.engine_id_len == 0) {
        AGENT_LOG(AGENT_LOG_INFO, "[SEC_PROC] Discover阶段，跳过安全处理");
        return SNMP_OK;
    }
    int user_len = user->user_len < SNMP_USERNAME_SIZE ? user->user_len : static_cast<int>(SNMP_USERNAME_SIZE);
    AGENT_LOG(AGENT_LOG_INFO, "[SEC_PROC] 处理用户：%.*s（鉴权：%d，加密：%d）", user_len,
              reinterpret_cast<const char *>(user->username), static_cast<int>(user->auth_proto),
              static_cast<int>(user->priv_proto));
    if (user->enabled == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "[SEC_PROC] 用户未启用：%.*s", user_len, reinterpret_cast<const char *>(user->username));
        return SNMP_ERR_AUTH;
    }
    const Check check = run_checks(data, len, *msg, nullptr, user);
    if (check.verdict != SNMP_V3_VERDICT_OK) {
        return check.code;
    }
    snmp_v3_store_engine_info(msg->usm.engine_id, msg->usm.engine_id_len, msg->usm.engine_boots, msg->usm.engine_time);
    AGENT_LOG(AGENT_LOG_INFO, "[SEC_PROC] 安全处理全流程完成");
    return SNMP_OK;
}

}  // extern "C"
