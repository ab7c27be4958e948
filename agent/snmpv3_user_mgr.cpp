// The agent's SNMPv3 user table (five entries) and the localisation of its users' keys to the local
// engine (its ID and the boots of this start).
#include "agent/snmpv3_user_mgr.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "agent/agent_engine.h"
#include "base/agent_log.h"
#include "base/log_mask.h"
#include "codec/snmpv3_crypto.h"

extern "C" {
snmp_v3_user_mgr g_snmpv3_user_mgr{};
}

namespace {

constexpr uint8_t kAuthTable = 1;
constexpr uint16_t kMaxStoredPass = SNMP_V3_PASS_SIZE - 1;       // passwords keep a terminating zero
constexpr uint8_t kMaxUserName = SNMP_MAX_COMMUNITY_LEN;        // 31 bytes
constexpr uint32_t kProtoByteMask = 0xFFu;

// Agent privacy numbers 0..5 in codec codes.
constexpr std::array<uint8_t, AGENT_PRIV_AES256 + 1> kAgentPrivToCodec{
    SNMP_V3_PRIV_NONE, SNMP_V3_PRIV_DES, SNMP_V3_PRIV_AES128, SNMP_V3_PRIV_3DES, SNMP_V3_PRIV_AES192,
    SNMP_V3_PRIV_AES256,
};

std::span<snmp_v3_user> used_entries() {
    const size_t count = std::min<size_t>(g_snmpv3_user_mgr.user_count, MAX_V3_USERS);
    return std::span<snmp_v3_user>(g_snmpv3_user_mgr.users).first(count);
}

bool same_name(const snmp_v3_user &user, const uint8_t *name, uint8_t len) {
    return user.user_len == len && len <= SNMP_USERNAME_SIZE && std::memcmp(user.username, name, len) == 0;
}

// Index of the enabled entry with this name, or -1.
int find_enabled(const uint8_t *name, uint8_t len) {
    const auto users = used_entries();
    for (size_t i = 0; i < users.size(); ++i) {
        if (users[i].enabled != 0 && same_name(users[i], name, len)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const char *as_text(const uint8_t *bytes) { return reinterpret_cast<const char *>(bytes); }

int name_len(uint8_t len) { return static_cast<int>(len); }

// The password a key is derived from: the user's own, else the configuration's fallback.
std::span<const uint8_t> auth_password(const snmp_v3_user &user) {
    if (user.auth_pass_len > 0) {
        return {user.auth_pass, std::min<size_t>(user.auth_pass_len, SNMP_V3_PASS_SIZE)};
    }
    return {agent_cfg.v3_auth_pass, std::min<size_t>(agent_cfg.v3_auth_pass_len, AGENT_V3_PASS_SIZE)};
}

std::span<const uint8_t> priv_password(const snmp_v3_user &user) {
    if (user.priv_pass_len > 0) {
        return {user.priv_pass, std::min<size_t>(user.priv_pass_len, SNMP_V3_PASS_SIZE)};
    }
    return {agent_cfg.v3_priv_pass, std::min<size_t>(agent_cfg.v3_priv_pass_len, AGENT_V3_PASS_SIZE)};
}

uint8_t pass_len(std::span<const uint8_t> pass) { return static_cast<uint8_t>(pass.size()); }

// Copies at most kMaxStoredPass bytes, zero-terminated; returns the stored length.
uint16_t store_password(uint8_t *dst, const uint8_t *src, uint8_t src_len) {
    const uint16_t len = std::min<uint16_t>(src_len, kMaxStoredPass);
    std::memcpy(dst, src, len);
    dst[len] = 0;
    return len;
}

snmp_v3_user user_from_cfg(const agent_config &cfg) {
    snmp_v3_user user{};
    user.enabled = 1;
    user.user_len = std::min<uint8_t>(cfg.v3_username_len, kMaxUserName);
    std::memcpy(user.username, cfg.v3_username, user.user_len);
    user.auth_proto = static_cast<uint8_t>(cfg.v3_auth_proto & kProtoByteMask);
    user.priv_proto = snmp_v3_agent_priv_to_codec(cfg.v3_priv_proto);
    user.auth_pass_len = store_password(user.auth_pass, cfg.v3_auth_pass, cfg.v3_auth_pass_len);
    user.priv_pass_len = store_password(user.priv_pass, cfg.v3_priv_pass, cfg.v3_priv_pass_len);
    return user;
}

}  // namespace

extern "C" {

uint8_t snmp_v3_agent_priv_to_codec(uint32_t agent_priv) {
    if (agent_priv < kAgentPrivToCodec.size()) {
        return kAgentPrivToCodec[agent_priv];
    }
    // The standard scheme's numbers are the codec's own.
    return agent_priv >= SNMP_V3_PRIV_STD_DES && agent_priv <= SNMP_V3_PRIV_CODE_MAX
               ? static_cast<uint8_t>(agent_priv)
               : static_cast<uint8_t>(SNMP_V3_PRIV_UNKNOWN);
}

void snmp_v3_user_mgr_init(void) {
    g_snmpv3_user_mgr = snmp_v3_user_mgr{};
    AGENT_LOG(AGENT_LOG_INFO, "SNMPv3 多用户管理器初始化完成（最大支持%d个用户）", static_cast<int>(MAX_V3_USERS));
}

bool snmp_v3_user_add(const snmp_v3_user *user) {
    if (user == nullptr || user->user_len == 0 || user->user_len > SNMP_USERNAME_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_user_add：无效用户参数");
        return false;
    }
    if (g_snmpv3_user_mgr.user_count >= MAX_V3_USERS) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_user_add：用户数已达上限（%d）", static_cast<int>(MAX_V3_USERS));
        return false;
    }
    for (const snmp_v3_user &existing : used_entries()) {
        if (same_name(existing, user->username, user->user_len)) {
            AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_user_add：用户名重复（%.*s）", name_len(user->user_len),
                      as_text(user->username));
            return false;
        }
    }
    g_snmpv3_user_mgr.users[g_snmpv3_user_mgr.user_count] = *user;
    ++g_snmpv3_user_mgr.user_count;
    AGENT_LOG(AGENT_LOG_INFO, "snmp_v3_user_add：添加用户成功（%.*s）", name_len(user->user_len),
              as_text(user->username));
    return true;
}

snmp_v3_user *snmp_v3_user_find(const uint8_t *name, uint8_t len) {
    if (name == nullptr || len == 0) {
        return nullptr;
    }
    const int index = find_enabled(name, len);
    if (index < 0) {
        AGENT_LOG(AGENT_LOG_WARN, "snmp_v3_user_find：用户未找到或未启用（%.*s）", name_len(len), as_text(name));
        return nullptr;
    }
    return &g_snmpv3_user_mgr.users[index];
}

bool snmp_v3_user_remove(const char *name) {
    if (name == nullptr || name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_user_remove: username empty");
        return false;
    }
    const size_t len = std::strlen(name);
    const int index = len <= SNMP_USERNAME_SIZE
                          ? find_enabled(reinterpret_cast<const uint8_t *>(name), static_cast<uint8_t>(len))
                          : -1;
    if (index < 0) {
        AGENT_LOG(AGENT_LOG_WARN, "snmp_v3_user_remove: user [%s] not found", name);
        return false;
    }
    const auto users = used_entries();
    std::copy(users.begin() + index + 1, users.end(), users.begin() + index);
    users.back() = snmp_v3_user{};
    --g_snmpv3_user_mgr.user_count;
    AGENT_LOG(AGENT_LOG_INFO, "snmp_v3_user_remove: delete user [%s] success, remain count=%d", name,
              static_cast<int>(g_snmpv3_user_mgr.user_count));
    return true;
}

bool snmp_v3_regenerate_auth_key(const uint8_t *name, uint8_t len) {
    if (name == nullptr || len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：无效用户名（空指针或长度为0）");
        return false;
    }
    const int index = find_enabled(name, len);
    if (index < 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：用户不存在或未启用（%.*s）", name_len(len),
                  as_text(name));
        return false;
    }
    snmp_v3_user &user = g_snmpv3_user_mgr.users[index];
    if (user.auth_proto == SNMP_V3_AUTH_NONE) {
        AGENT_LOG(AGENT_LOG_WARN, "snmp_v3_regenerate_auth_key：用户 %.*s 未启用认证，无需生成密钥", name_len(len),
                  as_text(name));
    }
    const std::span<const uint8_t> auth_pass = auth_password(user);
    if (user.auth_proto != SNMP_V3_AUTH_NONE && auth_pass.empty()) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：无可用认证密码");
        return false;
    }
    if (agent_cfg.engine_id_len == 0 || agent_cfg.engine_id_len > AGENT_ENGINE_ID_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：无效全局引擎ID长度 %u",
                  static_cast<unsigned>(agent_cfg.engine_id_len));
        return false;
    }
    const uint16_t key_len = snmpv3_get_key_length(user.auth_proto, kAuthTable);
    if (user.auth_proto != SNMP_V3_AUTH_NONE && (key_len == 0 || key_len > SNMP_KEY_SIZE)) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：不支持密钥长度 %u", static_cast<unsigned>(key_len));
        return false;
    }
    // Both keys follow the local engine: its ID and the boots of this start.
    const std::span<const uint8_t> priv_pass = priv_password(user);
    if (snmp_v3_localize_user_keys(&user, agent_cfg.engine_id, agent_cfg.engine_id_len, agent_engine_boots(),
                                   auth_pass.data(), pass_len(auth_pass), priv_pass.data(),
                                   pass_len(priv_pass)) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "snmp_v3_regenerate_auth_key：密钥生成失败（用户%.*s）", name_len(len),
                  as_text(name));
        return false;
    }
    if (user.auth_proto != SNMP_V3_AUTH_NONE) {
        AGENT_LOG(AGENT_LOG_INFO, "snmp_v3_regenerate_auth_key：用户%.*s密钥更新成功，长度%u", name_len(len),
                  as_text(name), static_cast<unsigned>(key_len));
        vek::log_masked_dump("新认证密钥前8字节：");
    }
    return true;
}

bool snmp_v3_user_keyed_for(const snmp_v3_user *user, const uint8_t *engine_id, uint16_t engine_id_len,
                            uint32_t engine_boots, snmp_v3_user *out) {
    if (user == nullptr || out == nullptr) {
        return false;
    }
    *out = *user;
    const std::span<const uint8_t> auth_pass = auth_password(*user);
    const std::span<const uint8_t> priv_pass = priv_password(*user);
    return snmp_v3_localize_user_keys(out, engine_id, engine_id_len, engine_boots, auth_pass.data(),
                                      pass_len(auth_pass), priv_pass.data(), pass_len(priv_pass)) == 1;
}

uint32_t snmp_v3_regenerate_all_auth_keys(void) {
    if (g_snmpv3_user_mgr.user_count == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "snmp_v3_regenerate_all_auth_keys：无任何用户，无需更新");
        return 0;
    }
    uint32_t succeeded = 0;
    for (const snmp_v3_user &user : used_entries()) {
        if (user.enabled != 0 && snmp_v3_regenerate_auth_key(user.username, user.user_len)) {
            ++succeeded;
        }
    }
    AGENT_LOG(AGENT_LOG_INFO, "snmp_v3_regenerate_all_auth_keys：更新完成（成功%d/%d）", static_cast<int>(succeeded),
              static_cast<int>(g_snmpv3_user_mgr.user_count));
    return succeeded;
}

void snmp_v3_user_migrate_from_cfg(const agent_config *cfg) {
    if (cfg == nullptr || cfg->v3_user_enabled == 0 || cfg->v3_username_len == 0) {
        AGENT_LOG(AGENT_LOG_INFO, "用户迁移：未启用V3或无默认用户，跳过");
        return;
    }
    const snmp_v3_user user = user_from_cfg(*cfg);
    AGENT_LOG(AGENT_LOG_INFO, "用户迁移：开始处理用户 '%.*s' (密钥暂未生成)", name_len(user.user_len),
              as_text(user.username));
    if (snmp_v3_user_add(&user)) {
        AGENT_LOG(AGENT_LOG_INFO, "用户迁移：用户 '%.*s' 迁移完成，等待第一个认证请求以生成密钥",
                  name_len(user.user_len), as_text(user.username));
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "用户迁移：添加用户 '%.*s' 失败", name_len(user.user_len), as_text(user.username));
    }
}

}  // extern "C"
