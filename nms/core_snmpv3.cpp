// SNMPv3 engine of the manager: users and their localised keys, engine discovery, the time window
// and the two-step command flow (hold the command, discover, send it authenticated).
//
// Everything here works on agent records under the core's list lock; only user addition and
// removal take the lock themselves (they are entered from the application's threads).
#include <algorithm>
#include <cstring>

#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/snmpv3_crypto.h"
#include "nms/core_v3_notify.h"
#include "nms/core_snmpv3.h"
#include "nms/nms_core_internal.h"
#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"

namespace {

using namespace vek::nms::core;

constexpr int kV3TimeWindowCheck = static_cast<int>(CORE_V3_TIME_WINDOW_S);
constexpr uint8_t kFailCountCeiling = UINT8_MAX;

static_assert(CORE_V3_KEY_SIZE == SNMP_KEY_SIZE, "the core keeps keys of the codec's longest length");

uint8_t auth_proto_of(const snmp_core_v3_user &user) noexcept { return adapter_auth_alg_to_proto(user.auth_alg); }

uint8_t priv_proto_of(const snmp_core_v3_user &user) noexcept { return adapter_priv_alg_to_proto(user.priv_alg); }

bool auth_enabled(const snmp_core_v3_user &user) noexcept { return auth_proto_of(user) != SNMP_V3_AUTH_NONE; }

bool priv_enabled(const snmp_core_v3_user &user) noexcept { return priv_proto_of(user) != SNMP_V3_PRIV_NONE; }

// Keys made for an engine at engine_boots (key_boots) that must be made again, by the user's scheme:
// the system's own keys follow the boots, standard keys the engine ID alone.
bool keys_stale(const snmp_core_v3_user &user, uint32_t key_boots, uint32_t engine_boots) noexcept {
    return snmp_v3_keys_stale(auth_proto_of(user), priv_proto_of(user), 1, key_boots, engine_boots) != 0;
}

// The user's agent keys were made for this engine (ID and, where the scheme needs it, boots).
bool agent_keys_current(const snmp_core_v3_user &user, const snmp_core_v3_engine &engine) noexcept {
    return user.key_engine_id_len != 0 && user.key_engine_id_len == engine.engine_id_len &&
           std::memcmp(user.key_engine_id, engine.engine_id, engine.engine_id_len) == 0 &&
           !keys_stale(user, user.key_engine_boots, engine.engine_boots);
}

void note_agent_keys(snmp_core_v3_user &user, const snmp_core_v3_engine &engine) noexcept {
    user.key_engine_id_len = std::min<uint8_t>(engine.engine_id_len, CORE_V3_ENGINE_ID_SIZE);
    std::memcpy(user.key_engine_id, engine.engine_id, user.key_engine_id_len);
    user.key_engine_boots = engine.engine_boots;
}

// Overwrites a user's slot, keys and passwords included.
void wipe_user(snmp_core_v3_user &user) noexcept {
    volatile auto *bytes = reinterpret_cast<volatile uint8_t *>(&user);
    for (size_t i = 0; i < sizeof(user); ++i) {
        bytes[i] = 0;
    }
}

snmp_core_v3_user *free_user_slot(snmp_core_agent &agent) noexcept {
    for (snmp_core_v3_user &user : agent.users) {
        if (user.active == 0) {
            return &user;
        }
    }
    return nullptr;
}

adapter_v3_key_params key_params(const snmp_core_v3_engine &engine, const snmp_core_v3_user &user) noexcept {
    adapter_v3_key_params params{};
    params.auth_alg = user.auth_alg;
    params.priv_alg = user.priv_alg;
    params.engine_id_len = std::min<uint8_t>(engine.engine_id_len, ADAPTER_ENGINE_ID_SIZE);
    std::memcpy(params.engine_id, engine.engine_id, params.engine_id_len);
    params.engine_boots = engine.engine_boots;
    return params;
}

const uint8_t *password_bytes(const char *password) noexcept { return reinterpret_cast<const uint8_t *>(password); }

// Where a user's keys for one engine go: the agent's keys in the user record, or notification keys.
struct KeySlots {
    uint8_t *auth_key;
    uint8_t &auth_key_len;
    uint8_t *priv_key;
    uint8_t &priv_key_len;
};

KeySlots agent_key_slots(snmp_core_v3_user &user) noexcept {
    return {user.auth_key, user.auth_key_len, user.priv_key, user.priv_key_len};
}

api_snmp_err make_auth_key(const adapter_v3_key_params &params, snmp_core_v3_user &user, const KeySlots &slots,
                           const char *func, const char *too_long_format) {
    size_t len = std::strlen(user.auth_password);
    if (len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]认证密码为空", func, user.user_name);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (len > CORE_V3_MAX_PASSWORD_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, too_long_format, func, user.user_name, static_cast<int>(len));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    uint16_t key_len = CORE_V3_KEY_SIZE;
    if (adapter_v3_gen_auth_key(&params, password_bytes(user.auth_password), static_cast<uint32_t>(len),
                                slots.auth_key, &key_len, CORE_V3_KEY_SIZE) != 1) {
        return API_SNMP_ERR_AUTH_FAILED;
    }
    slots.auth_key_len = static_cast<uint8_t>(key_len);
    return API_SNMP_OK;
}

api_snmp_err make_priv_key(const adapter_v3_key_params &params, snmp_core_v3_user &user, const KeySlots &slots,
                           const char *func) {
    size_t len = std::strlen(user.priv_password);
    if (len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]加密密码为空", func, user.user_name);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (len > CORE_V3_MAX_PASSWORD_LEN) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]加密密码过长（最大255字节）", func, user.user_name);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    uint16_t key_len = 0;
    if (adapter_v3_gen_priv_key(&params, password_bytes(user.priv_password), static_cast<uint32_t>(len),
                                slots.priv_key, &key_len, CORE_V3_KEY_SIZE) != 1) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]加密密钥生成失败（适配层返回失败）", func, user.user_name);
        return API_SNMP_ERR_ENCRYPT_FAILED;
    }
    if (key_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]加密密钥长度为0（无效密钥）", func, user.user_name);
        return API_SNMP_ERR_ENCRYPT_FAILED;
    }
    slots.priv_key_len = static_cast<uint8_t>(key_len);
    return API_SNMP_OK;
}

// Both keys of a user for an engine (its ID and boots) into the slots; logged like the agent's keys.
api_snmp_err make_keys(const adapter_v3_key_params &params, snmp_core_v3_user &user, const KeySlots &slots,
                       const char *func) {
    slots.auth_key_len = 0;
    slots.priv_key_len = 0;
    if (auth_enabled(user)) {
        api_snmp_err rc = make_auth_key(params, user, slots, func, "%s: 用户[%s]认证密码过长（最大255字节）");
        if (rc == API_SNMP_ERR_AUTH_FAILED) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]认证密钥生成失败", func, user.user_name);
        }
        if (rc != API_SNMP_OK) {
            return rc;
        }
    }
    return priv_enabled(user) ? make_priv_key(params, user, slots, func) : API_SNMP_OK;
}

// Makes the keys of every active user except skip_name for the agent's current engine; a user whose
// keys cannot be made is logged by the key generation and keeps no usable keys.
void refresh_other_user_keys(snmp_core_agent &agent, const char *skip_name) {
    for (snmp_core_v3_user &user : agent.users) {
        if (user.active != 0 && (skip_name == nullptr || std::strcmp(user.user_name, skip_name) != 0)) {
            (void)core_snmpv3_gen_user_keys(&agent.v3_engine, &agent, user.user_name);
        }
    }
}

bool is_v3(const snmp_core_agent *agent) noexcept { return agent != nullptr && agent->version == API_SNMP_V3; }

const char *command_label(uint32_t cmd_type) noexcept {
    if (cmd_type == API_SNMP_CMD_GETBULK) {
        return "GET-BULK";
    }
    return cmd_type == API_SNMP_CMD_SET ? "SET" : "GET/GET-NEXT";
}

void store_command(snmp_core_agent &agent, uint32_t cmd_type, const char *user_name, const api_snmp_varbind *varbinds,
                   uint8_t count, uint8_t non_repeaters, uint8_t max_repetitions, void *user_data) {
    snmp_core_v3_pending_cmd &held = agent.v3_pending_cmd;
    held = snmp_core_v3_pending_cmd{};
    held.cmd_type = cmd_type;
    copy_text(held.user_name, sizeof(held.user_name), user_name);
    held.count = std::min<uint8_t>(count, API_SNMP_MAX_REQUEST_VARBINDS);
    std::copy_n(varbinds, held.count, held.varbinds);
    held.non_repeaters = non_repeaters;
    held.max_repetitions = max_repetitions;
    agent.user_data = user_data;
    if (cmd_type == API_SNMP_CMD_GETBULK) {
        agent.bulk_non_repeaters = non_repeaters;
        agent.bulk_max_repetitions = max_repetitions;
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 同步刷新Agent全局BULK参数 non_repeaters=%u, max_repetitions=%u",
                  "core_snmpv3_std_start_flow", static_cast<unsigned>(non_repeaters),
                  static_cast<unsigned>(max_repetitions));
    }
}

// A periodic re-discovery (no held command) has completed: take the engine and remake the keys.
void complete_periodic_discovery(snmp_core_agent &agent, const adapter_msg &msg) {
    api_snmp_err rc = core_snmpv3_handle_discover_response(&agent.v3_engine, &msg);
    end_request(agent);
    if (rc != API_SNMP_OK) {
        return;
    }
    refresh_other_user_keys(agent, nullptr);
}

void count_auth_failure(snmp_core_agent &agent, const char *user_name) {
    snmp_core_v3_user *user = core_snmpv3_user_ex_find(&agent, user_name);
    if (user == nullptr) {
        return;
    }
    if (user->auth_fail_count < kFailCountCeiling) {
        ++user->auth_fail_count;
    }
    if (user->auth_fail_count > CORE_V3_AUTH_FAIL_LIMIT) {
        user->disabled = 1;
        user->disabled_until = now_seconds() + CORE_V3_DISABLE_SECONDS;
        AGENT_LOG(AGENT_LOG_WARN, "%s: 用户%s鉴权失败超限（%d次），临时禁用10分钟", "snmp_core_handle_v3_report",
                  user->user_name, static_cast<int>(CORE_V3_AUTH_FAIL_LIMIT + 1));
    }
}

enum class ReportVerdict { kContinue, kStop };

constexpr char kReportTag[] = "snmp_core_handle_v3_report";

// The held command goes out once more after a fresh discovery (the agent may have restarted, which
// gives its engine new boots or a new ID, and this system's keys follow both); false when it was
// sent twice already or nothing is held. List lock held.
bool rediscover_and_resend(snmp_core_agent &agent) {
    snmp_core_v3_pending_cmd &held = agent.v3_pending_cmd;
    if (held.cmd_type == 0 || held.resent != 0) {
        return false;
    }
    held.resent = 1;
    AGENT_LOG(AGENT_LOG_WARN, "%s: 重新发现引擎后重发请求一次（%s:%d）", kReportTag, agent.ip, static_cast<int>(agent.port));
    agent.v3_engine.discovery_state = CORE_V3_NOT_DISCOVERED;
    void *user_data = agent.user_data;
    if (core_snmpv3_send_discover(&agent, &agent.v3_engine) != API_SNMP_OK) {
        fail_request(agent, held.cmd_type, held.user_name, API_SNMP_ERR_NETWORK, user_data);
    }
    return true;
}

// An authenticated notInTimeWindows Report carries the engine's clock: take it and send the held
// command once more. false when the Report cannot be trusted or the command went twice already.
bool resync_and_resend(snmp_core_agent &agent, const adapter_msg &msg, bool authenticated) {
    snmp_core_v3_pending_cmd &held = agent.v3_pending_cmd;
    if (!authenticated || held.cmd_type == 0 || held.resent != 0) {
        return false;
    }
    held.resent = 1;
    snmp_core_v3_engine &engine = agent.v3_engine;
    engine.engine_boots = msg.engine_boots;
    engine.engine_time = msg.engine_time;
    engine.last_sync_time = now_seconds();
    if (engine.engine_boots != engine.key_boots) {
        engine.key_boots = engine.engine_boots;
        refresh_other_user_keys(agent, nullptr);
    }
    AGENT_LOG(AGENT_LOG_WARN, "%s: 按REPORT校准引擎时钟（启动次数：%u，时间：%u），重发请求一次", kReportTag,
              static_cast<unsigned>(msg.engine_boots), static_cast<unsigned>(msg.engine_time));
    if (held.cmd_type == API_SNMP_CMD_GETBULK) {
        agent.bulk_non_repeaters = held.non_repeaters;
        agent.bulk_max_repetitions = held.max_repetitions;
    }
    (void)send_request(agent, held.cmd_type, held.user_name, held.varbinds, held.count, agent.user_data, false);
    return true;
}

// Fails the request; the next command discovers the engine again first.
void fail_and_forget_engine(snmp_core_agent &agent, const adapter_msg &msg, uint32_t error, bool discovering,
                            void *user_data) {
    fail_request(agent, API_SNMP_CMD_REPORT, msg.user_name, error, user_data);
    agent.v3_engine.discovery_state = CORE_V3_NOT_DISCOVERED;
    if (discovering) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 发现阶段安全错误，允许重新发起发现", kReportTag);
    }
}

// Looks at one varbind of a report: the usmStats counter it names says what went wrong (the one table
// of the codec). List lock held.
ReportVerdict judge_report_oid(snmp_core_agent &agent, const adapter_msg &msg, const char *oid_text, bool discovering,
                               bool authenticated, void *user_data) {
    snmp_oid oid{};
    if (adapter_oid_str_to_snmp_oid(oid_text, &oid) != 1) {
        return ReportVerdict::kContinue;
    }
    switch (snmp_v3_verdict_of_oid(&oid)) {
        case SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID:
            if (discovering) {
                AGENT_LOG(AGENT_LOG_INFO, "%s: 发现阶段REPORT无用户名，符合SNMPv3协议（仅传递引擎信息）", kReportTag);
                return ReportVerdict::kContinue;
            }
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 业务阶段REPORT反馈USM错误 - 未知引擎ID（%s）", kReportTag, msg.user_name);
            if (!rediscover_and_resend(agent)) {
                fail_and_forget_engine(agent, msg, API_SNMP_ERR_NO_ENGINE_ID, false, user_data);
            }
            return ReportVerdict::kStop;
        case SNMP_V3_VERDICT_UNKNOWN_USER_NAME:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 业务阶段REPORT反馈USM错误 - 未知用户（%s）", kReportTag, msg.user_name);
            fail_request(agent, API_SNMP_CMD_REPORT, msg.user_name, API_SNMP_ERR_USER_NOT_FOUND, user_data);
            return ReportVerdict::kStop;
        case SNMP_V3_VERDICT_WRONG_DIGEST:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: REPORT反馈USM错误 - 认证失败（%s）", kReportTag, msg.user_name);
            if (discovering) {
                fail_and_forget_engine(agent, msg, API_SNMP_ERR_AUTH_FAILED, true, user_data);
                return ReportVerdict::kStop;
            }
            if (!rediscover_and_resend(agent)) {
                count_auth_failure(agent, msg.user_name);
                fail_request(agent, API_SNMP_CMD_REPORT, msg.user_name, API_SNMP_ERR_AUTH_FAILED, user_data);
            }
            return ReportVerdict::kStop;
        case SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: REPORT反馈USM错误 - 引擎时间同步失败（超出±%ds窗口）", kReportTag,
                      kV3TimeWindowCheck);
            if (!discovering && resync_and_resend(agent, msg, authenticated)) {
                return ReportVerdict::kStop;
            }
            // The engine time we send is no longer accepted: discover again before the next command.
            fail_and_forget_engine(agent, msg, API_SNMP_ERR_V3_TIME_EXPIRED, discovering, user_data);
            return ReportVerdict::kStop;
        case SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: REPORT反馈USM错误 - 安全级别不被支持（%s）", kReportTag, msg.user_name);
            fail_request(agent, API_SNMP_CMD_REPORT, msg.user_name, API_SNMP_ERR_AUTH_FAILED, user_data);
            return ReportVerdict::kStop;
        case SNMP_V3_VERDICT_DECRYPTION_ERROR:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: REPORT反馈USM错误 - 解密失败（%s）", kReportTag, msg.user_name);
            fail_request(agent, API_SNMP_CMD_REPORT, msg.user_name, API_SNMP_ERR_V3_DECRYPT, user_data);
            return ReportVerdict::kStop;
        default:
            return ReportVerdict::kContinue;
    }
}

// The discovery report of a held command: complete the flow, or fail the held command.
void finish_discovery_phase(snmp_core_agent &agent, const adapter_msg &msg, void *user_data) {
    snmp_core_v3_pending_cmd held = agent.v3_pending_cmd;
    api_snmp_err rc = core_snmpv3_handle_discover_phase_report(&agent, &msg, user_data);
    if (rc == API_SNMP_OK) {
        return;  // the held command is now the outstanding request
    }
    fail_request(agent, held.cmd_type, held.user_name, rc, user_data);
    agent.v3_engine.discovery_state = CORE_V3_NOT_DISCOVERED;
}

// The SNMPv3 agent at ip:port whose users are to change; null, with the refusal logged and in
// `refusal`, when there is no agent there or it is not an SNMPv3 agent. List lock held.
snmp_core_agent *find_v3_agent(const char *tag, const char *ip, uint16_t port, api_snmp_err &refusal) {
    snmp_core_agent *agent = find_agent_or_log(tag, ip, port);
    if (agent == nullptr) {
        refusal = API_SNMP_ERR_AGENT_NOT_FOUND;
        return nullptr;
    }
    if (agent->version != API_SNMP_V3) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent非V3版本（%s:%d）", tag, ip, static_cast<int>(port));
        refusal = API_SNMP_ERR_INVALID_VERSION;
        return nullptr;
    }
    return agent;
}

}  // namespace

extern "C" {

int core_snmpv3_engine_init(snmp_core_v3_engine *engine) {
    if (engine == nullptr) {
        return 0;
    }
    *engine = snmp_core_v3_engine{};
    engine->last_sync_time = now_seconds();
    engine->key_boots = 0;
    return 1;
}

void core_snmpv3_engine_destroy(snmp_core_v3_engine *engine) {
    if (engine != nullptr) {
        *engine = snmp_core_v3_engine{};
    }
}

bool core_snmpv3_in_discovery(const snmp_core_agent *agent) {
    return is_v3(agent) && agent->v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT;
}

snmp_core_v3_user *core_snmpv3_user_ex_find(snmp_core_agent *agent, const char *name) {
    if (!is_v3(agent) || name == nullptr) {
        return nullptr;
    }
    for (snmp_core_v3_user &user : agent->users) {
        if (user.active != 0 && std::strcmp(user.user_name, name) == 0) {
            return &user;
        }
    }
    return nullptr;
}

void core_snmpv3_expire_disabled_users(snmp_core_agent *agent, int64_t now) {
    if (!is_v3(agent)) {
        return;
    }
    for (snmp_core_v3_user &user : agent->users) {
        if (user.active != 0 && user.disabled != 0 && now >= user.disabled_until) {
            user.disabled = 0;
            user.auth_fail_count = 0;
            user.disabled_until = 0;
            AGENT_LOG(AGENT_LOG_INFO, "%s: 用户%s禁用期满，已重新启用", __func__, user.user_name);
        }
    }
}

api_snmp_err core_snmpv3_user_add(const char *ip, uint16_t port, const api_snmp_v3_user_config *cfg) {
    if (ip == nullptr || cfg == nullptr || cfg->user_name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（IP、配置或用户名为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (std::memchr(cfg->user_name, '\0', sizeof(cfg->user_name)) == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户名过长（最大%d字节）", __func__, static_cast<int>(sizeof(cfg->user_name)));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    api_snmp_err found = API_SNMP_OK;
    snmp_core_agent *agent = find_v3_agent(__func__, ip, port, found);
    if (agent == nullptr) {
        return found;
    }
    snmp_core_v3_user *slot = free_user_slot(*agent);
    if (slot == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户数达上限（%s:%d）", __func__, ip, static_cast<int>(port));
        return API_SNMP_ERR_USER_COUNT_LIMIT;
    }
    if (core_snmpv3_user_ex_find(agent, cfg->user_name) != nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户已存在（%s@%s:%d）", __func__, cfg->user_name, ip, static_cast<int>(port));
        return API_SNMP_ERR_USER_EXISTS;
    }
    wipe_user(*slot);
    copy_text(slot->user_name, sizeof(slot->user_name), cfg->user_name);
    slot->auth_alg = cfg->auth_alg;
    slot->priv_alg = cfg->priv_alg;
    copy_text(slot->auth_password, sizeof(slot->auth_password), cfg->auth_password);
    copy_text(slot->priv_password, sizeof(slot->priv_password), cfg->priv_password);
    slot->active = 1;
    ++agent->user_count;
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3用户添加成功（%s@%s:%d）", __func__, slot->user_name, ip, static_cast<int>(port));
    core_v3_localize_inform_user(slot);
    const snmp_core_v3_engine &engine = agent->v3_engine;
    if (engine.discovery_state == CORE_V3_DISCOVERED && engine.engine_id_len > 0) {
        api_snmp_err rc = core_snmpv3_gen_user_keys(&agent->v3_engine, agent, slot->user_name);
        if (rc != API_SNMP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]密钥生成失败，回滚用户添加", __func__, slot->user_name);
            --agent->user_count;
            wipe_user(*slot);
            return rc;
        }
    }
    return API_SNMP_OK;
}

api_snmp_err core_snmpv3_user_remove(const char *ip, uint16_t port, const char *name) {
    if (ip == nullptr || name == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（IP或用户名为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    CoreSection section;
    api_snmp_err found = API_SNMP_OK;
    snmp_core_agent *agent = find_v3_agent(__func__, ip, port, found);
    if (agent == nullptr) {
        return found;
    }
    snmp_core_v3_user *user = core_snmpv3_user_ex_find(agent, name);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户不存在（%s@%s:%d）", __func__, name, ip, static_cast<int>(port));
        return API_SNMP_ERR_USER_NOT_FOUND;
    }
    wipe_user(*user);
    --agent->user_count;
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3用户移除成功（%s@%s:%d）", __func__, name, ip, static_cast<int>(port));
    return API_SNMP_OK;
}

api_snmp_err core_snmpv3_gen_user_keys(snmp_core_v3_engine *engine, snmp_core_agent *agent, const char *name) {
    if (agent == nullptr || name == nullptr || engine == nullptr || engine->engine_id_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（引擎未初始化或用户名为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    snmp_core_v3_user *user = core_snmpv3_user_ex_find(agent, name);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]不存在", __func__, name);
        return API_SNMP_ERR_USER_NOT_FOUND;
    }
    if (agent_keys_current(*user, *engine)) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 引擎参数未变化，无需更新用户[%s]密钥", __func__, user->user_name);
        return API_SNMP_OK;
    }
    user->key_engine_id_len = 0;  // no keys count until both are made
    api_snmp_err rc = make_keys(key_params(*engine, *user), *user, agent_key_slots(*user), __func__);
    if (rc != API_SNMP_OK) {
        return rc;
    }
    note_agent_keys(*user, *engine);
    AGENT_LOG(AGENT_LOG_INFO, "%s: 用户[%s]密钥生成成功（认证算法：%d，加密算法：%d）", __func__, user->user_name,
              static_cast<int>(user->auth_alg), static_cast<int>(user->priv_alg));
    return API_SNMP_OK;
}

api_snmp_err core_snmpv3_update_auth_key(snmp_core_agent *agent, const char *name) {
    if (!is_v3(agent) || name == nullptr || name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（非V3 Agent或用户名为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    snmp_core_v3_user *user = core_snmpv3_user_ex_find(agent, name);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]不存在，无法更新密钥", __func__, name);
        return API_SNMP_ERR_USER_NOT_FOUND;
    }
    if (!auth_enabled(*user)) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 用户[%s]未启用认证，无需更新密钥", __func__, name);
        return API_SNMP_OK;
    }
    snmp_core_v3_engine &engine = agent->v3_engine;
    if (!keys_stale(*user, engine.key_boots, engine.engine_boots)) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 引擎参数未变化，无需更新用户[%s]密钥", __func__, name);
        return API_SNMP_OK;
    }
    api_snmp_err rc = make_auth_key(key_params(engine, *user), *user, agent_key_slots(*user), __func__,
                                    "%s: 用户[%s]密码过长（%d字节）");
    if (rc != API_SNMP_OK) {
        if (rc == API_SNMP_ERR_AUTH_FAILED) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户[%s]密钥生成失败", __func__, name);
        }
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 用户[%s]密钥更新成功", __func__, name);
    engine.key_boots = engine.engine_boots;
    return API_SNMP_OK;
}

bool core_snmpv3_check_time_sync(snmp_core_agent *agent, snmp_core_v3_engine *engine) {
    if (agent == nullptr || engine == nullptr || engine->discovery_state != CORE_V3_DISCOVERED) {
        return false;
    }
    if (engine->engine_boots != engine->key_boots) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 引擎启动次数不匹配（当前：%d，上次：%d），批量刷新密钥", __func__,
                  static_cast<int>(engine->engine_boots), static_cast<int>(engine->key_boots));
        return false;
    }
    int64_t elapsed = now_seconds() - engine->last_sync_time;
    if (elapsed <= static_cast<int64_t>(CORE_V3_TIME_WINDOW_S)) {
        return true;
    }
    AGENT_LOG(AGENT_LOG_WARN, "%s: 时间同步过期（当前差：%ds，窗口：%ds），批量刷新密钥", __func__,
              static_cast<int>(elapsed), kV3TimeWindowCheck);
    return false;
}

api_snmp_err core_snmpv3_std_start_flow(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name,
                                        const api_snmp_varbind *varbinds, uint8_t count, uint8_t non_repeaters,
                                        uint8_t max_repetitions, void *user_data) {
    if (agent == nullptr || varbinds == nullptr || count == 0 || count > API_SNMP_MAX_REQUEST_VARBINDS ||
        cmd_type == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（Agent为空/命令类型错误/变量绑定为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (agent->pending != 0) {
        if (agent->v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT && agent->v3_pending_cmd.cmd_type == 0) {
            // A periodic re-discovery is in flight: the command waits for its report.
            store_command(*agent, cmd_type, user_name, varbinds, count, non_repeaters, max_repetitions, user_data);
            AGENT_LOG(AGENT_LOG_INFO, "%s: 引擎发现进行中，命令等待发现完成（类型：%d）", __func__,
                      static_cast<int>(cmd_type));
            return API_SNMP_OK;
        }
        AGENT_LOG(AGENT_LOG_WARN, "%s: Agent存在未完成的请求（%s:%d，请求ID：%u），拒绝新请求", __func__, agent->ip,
                  static_cast<int>(agent->port), static_cast<unsigned>(agent->pending_request_id));
        return API_SNMP_ERR_IN_PROGRESS;
    }
    store_command(*agent, cmd_type, user_name, varbinds, count, non_repeaters, max_repetitions, user_data);
    // The time check comes first, so that changed boots lead to a new discovery (which remakes every
    // key) rather than to a key made for an engine time we do not know.
    if (core_snmpv3_check_time_sync(agent, &agent->v3_engine)) {
        if (user_name != nullptr && user_name[0] != '\0') {
            (void)core_snmpv3_update_auth_key(agent, user_name);
        }
        AGENT_LOG(AGENT_LOG_INFO, "%s: 引擎已发现，发送业务命令（类型：%d）", __func__, static_cast<int>(cmd_type));
        // The command stays held until its request ends: a Report may ask for it once more.
        api_snmp_err rc = send_request(*agent, cmd_type, user_name, varbinds, count, user_data, true);
        if (rc != API_SNMP_OK) {
            agent->v3_pending_cmd = snmp_core_v3_pending_cmd{};
        }
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 引擎未发现，触发发现流程（命令类型：%d）", __func__, static_cast<int>(cmd_type));
    api_snmp_err rc = core_snmpv3_send_discover(agent, &agent->v3_engine);
    if (rc != API_SNMP_OK) {
        agent->v3_pending_cmd = snmp_core_v3_pending_cmd{};
    }
    return rc;
}

api_snmp_err core_snmpv3_send_discover(snmp_core_agent *agent, snmp_core_v3_engine *engine) {
    if (!is_v3(agent) || engine == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（非V3 Agent或引擎上下文为空）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (!snmp_core_flow_allow()) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 触发全局发包流控，暂缓发送Discover %s", __func__, agent->ip);
        return API_SNMP_ERR_NO_RESOURCE;
    }
    engine->discovery_state = CORE_V3_DISCOVERY_SENT;
    engine->discovery_request_id = static_cast<uint32_t>(agent->next_request_id);
    api_snmp_err rc = send_request(*agent, API_SNMP_CMD_GET, nullptr, nullptr, 0, agent->user_data, false);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 发现请求发送失败（错误码：%d）", __func__, static_cast<int>(rc));
        engine->discovery_state = CORE_V3_NOT_DISCOVERED;
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: Engine Discover请求发送（%s:%d，请求ID：%d，无OID）", __func__, agent->ip,
              static_cast<int>(agent->port), static_cast<int>(engine->discovery_request_id));
    return API_SNMP_OK;
}

api_snmp_err core_snmpv3_handle_discover_response(snmp_core_v3_engine *engine, const adapter_msg *msg) {
    if (engine == nullptr || msg == nullptr || msg->version != API_SNMP_V3) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（引擎/消息为空或非V3版本）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    if (msg->engine_id_len == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 未提取到引擎ID（安全参数中缺失，RFC 3414必选）", __func__);
        return API_SNMP_ERR_NO_ENGINE_ID;
    }
    if (msg->engine_id_len > CORE_V3_ENGINE_ID_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎ID长度超限（实际：%d，最大：%d）", __func__,
                  static_cast<int>(msg->engine_id_len), static_cast<int>(CORE_V3_ENGINE_ID_SIZE));
        return API_SNMP_ERR_INVALID_PARAM;
    }
    std::memcpy(engine->engine_id, msg->engine_id, msg->engine_id_len);
    engine->engine_id_len = msg->engine_id_len;
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        agent_log_hexdump("从安全参数提取引擎ID", engine->engine_id, engine->engine_id_len);
    }
    if (msg->engine_boots == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 引擎启动次数为0（可能是设备初始状态，按协议兼容）", __func__);
    }
    engine->engine_boots = msg->engine_boots;
    engine->engine_time = msg->engine_time;
    AGENT_LOG(AGENT_LOG_INFO, "%s: 从安全参数提取引擎启动次数：%u", __func__, static_cast<unsigned>(msg->engine_boots));
    AGENT_LOG(AGENT_LOG_INFO, "%s: 提取引擎时间：%u秒（安全参数直接解析）", __func__,
              static_cast<unsigned>(msg->engine_time));
    engine->last_sync_time = now_seconds();
    engine->key_boots = msg->engine_boots;
    engine->discovery_state = CORE_V3_DISCOVERED;
    AGENT_LOG(AGENT_LOG_INFO, "%s: 引擎发现完成（启动次数：%d，时间：%ds）", __func__,
              static_cast<int>(engine->engine_boots), static_cast<int>(engine->engine_time));
    if (agent_log_enabled(AGENT_LOG_DEBUG)) {
        agent_log_hexdump("引擎发现完成ID", engine->engine_id, engine->engine_id_len);
    }
    return API_SNMP_OK;
}

api_snmp_err core_snmpv3_handle_discover_phase_report(snmp_core_agent *agent, const adapter_msg *msg,
                                                      void *user_data) {
    if (!is_v3(agent) || msg == nullptr || agent->v3_engine.discovery_state != CORE_V3_DISCOVERY_SENT ||
        agent->v3_pending_cmd.cmd_type == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效发现阶段上下文（状态错误或无预存命令）", __func__);
        return API_SNMP_ERR_INVALID_PARAM;
    }
    snmp_core_v3_engine &engine = agent->v3_engine;
    AGENT_LOG(AGENT_LOG_INFO, "%s: 开始处理发现阶段REPORT报文（请求ID：%d）", __func__, static_cast<int>(msg->request_id));
    api_snmp_err rc = core_snmpv3_handle_discover_response(&engine, msg);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎信息提取失败（错误码：%d）", __func__, static_cast<int>(rc));
        return rc;
    }
    if (!core_snmpv3_check_time_sync(agent, &engine)) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 引擎时间同步失效（超出±%ds窗口）", __func__, kV3TimeWindowCheck);
        return API_SNMP_ERR_V3_TIME_EXPIRED;
    }
    engine.discovery_state = CORE_V3_DISCOVERED;
    engine.key_boots = engine.engine_boots;
    AGENT_LOG(AGENT_LOG_INFO, "%s: boots：%d", __func__, static_cast<int>(engine.engine_boots));
    const snmp_core_v3_pending_cmd held = agent->v3_pending_cmd;
    if (held.user_name[0] == '\0') {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 发现后无目标用户名，无法生成密钥", __func__);
        return API_SNMP_ERR_USER_NOT_FOUND;
    }
    rc = core_snmpv3_gen_user_keys(&engine, agent, held.user_name);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 用户%s密钥生成失败（错误码：%d）", __func__, held.user_name, static_cast<int>(rc));
        return rc;
    }
    refresh_other_user_keys(*agent, held.user_name);
    AGENT_LOG(AGENT_LOG_INFO, "%s: 发送带鉴权的%s请求（用户：%s）", __func__, command_label(held.cmd_type), held.user_name);
    if (held.cmd_type == API_SNMP_CMD_GETBULK) {
        agent->bulk_non_repeaters = held.non_repeaters;
        agent->bulk_max_repetitions = held.max_repetitions;
    }
    // The held command was admitted by flow control together with its discovery.
    rc = send_request(*agent, held.cmd_type, held.user_name, held.varbinds, held.count, user_data, false);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 带鉴权请求发送失败（错误码：%d）", __func__, static_cast<int>(rc));
        return rc;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 带鉴权请求发送成功，清理发现阶段上下文", __func__);
    return API_SNMP_OK;
}

uint32_t core_snmpv3_estimated_time(const snmp_core_v3_engine *engine) {
    if (engine == nullptr) {
        return 0;
    }
    const int64_t elapsed = std::max<int64_t>(now_seconds() - engine->last_sync_time, 0);
    return static_cast<uint32_t>(
        std::min<int64_t>(static_cast<int64_t>(engine->engine_time) + elapsed, SNMP_V3_ENGINE_VALUE_MAX));
}

bool core_snmpv3_is_unsecured_report(const adapter_msg *msg) {
    return msg != nullptr && msg->cmd_type == API_SNMP_CMD_REPORT &&
           (msg->msg_flags & (SNMP_V3_FLAG_AUTH | SNMP_V3_FLAG_PRIV)) == 0;
}

bool core_snmpv3_take_authenticated(snmp_core_agent *agent, const adapter_msg *msg) {
    if (!is_v3(agent) || msg == nullptr) {
        return false;
    }
    snmp_core_v3_engine &engine = agent->v3_engine;
    if (msg->engine_id_len != engine.engine_id_len ||
        std::memcmp(msg->engine_id, engine.engine_id, engine.engine_id_len) != 0) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 消息的引擎ID与已发现的引擎不符，丢弃（%s:%d）", __func__, agent->ip,
                  static_cast<int>(agent->port));
        return false;
    }
    const uint32_t estimated = core_snmpv3_estimated_time(&engine);
    if (snmp_v3_timely_for_estimate(engine.engine_boots, estimated, msg->engine_boots, msg->engine_time) == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 消息不在时间窗口内（启动次数：%u，时间：%u；本地估计：%u，%u），丢弃", __func__,
                  static_cast<unsigned>(msg->engine_boots), static_cast<unsigned>(msg->engine_time),
                  static_cast<unsigned>(engine.engine_boots), static_cast<unsigned>(estimated));
        return false;
    }
    if (msg->engine_boots > engine.engine_boots || msg->engine_time > engine.engine_time) {
        engine.engine_boots = msg->engine_boots;
        engine.engine_time = msg->engine_time;
        engine.last_sync_time = now_seconds();
    }
    return true;
}

api_snmp_err core_snmpv3_make_notify_keys(snmp_core_v3_user *user, const uint8_t *engine_id, uint8_t engine_id_len,
                                          uint32_t engine_boots, snmp_core_v3_notify_keys *keys) {
    if (user == nullptr || engine_id == nullptr || keys == nullptr || engine_id_len == 0 ||
        engine_id_len > CORE_V3_ENGINE_ID_SIZE) {
        return API_SNMP_ERR_INVALID_PARAM;
    }
    adapter_v3_key_params params{};
    params.auth_alg = user->auth_alg;
    params.priv_alg = user->priv_alg;
    std::memcpy(params.engine_id, engine_id, engine_id_len);
    params.engine_id_len = engine_id_len;
    params.engine_boots = engine_boots;
    keys->engine_id_len = 0;  // no keys count until both are made
    api_snmp_err rc = make_keys(params, *user, {keys->auth_key, keys->auth_key_len, keys->priv_key, keys->priv_key_len},
                                __func__);
    if (rc != API_SNMP_OK) {
        return rc;
    }
    std::memcpy(keys->engine_id, engine_id, engine_id_len);
    keys->engine_id_len = engine_id_len;
    keys->key_boots = engine_boots;
    return API_SNMP_OK;
}

void snmp_core_handle_v3_get_response(snmp_core_agent *agent, const adapter_msg *msg, void *user_data) {
    if (agent == nullptr || msg == nullptr || msg->version != API_SNMP_V3) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效业务参数（Agent:%p, Msg:%p）", __func__, static_cast<void *>(agent),
                  static_cast<const void *>(msg));
        if (agent != nullptr) {
            fail_request(*agent, API_SNMP_CMD_RESPONSE, nullptr, API_SNMP_ERR_INVALID_PARAM, user_data);
        }
        return;
    }
    const snmp_core_v3_user *user = core_snmpv3_user_ex_find(agent, msg->user_name);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 业务处理失败 - 用户不存在（%s）", __func__, msg->user_name);
        fail_request(*agent, msg->cmd_type, msg->user_name, API_SNMP_ERR_USER_NOT_FOUND, user_data);
        return;
    }
    api_snmp_response response{};
    response.request_id = msg->request_id;
    response.error = API_SNMP_OK;
    response.error_status = msg->error_status;
    response.var_count = std::min<uint8_t>(msg->var_count, API_SNMP_MAX_RESPONSE_VARBINDS);
    std::copy_n(msg->varbinds, response.var_count, response.varbinds);
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3 GET业务处理完成（请求ID：%d，变量数：%d，用户：%s）", __func__,
              static_cast<int>(msg->request_id), static_cast<int>(response.var_count), user->user_name);
    bool notify = request_has_owner(*agent);
    char name[API_SNMP_USER_NAME_SIZE];
    copy_text(name, sizeof(name), user->user_name);
    end_request(*agent);
    if (notify) {
        post_agent_response(*agent, name, msg->cmd_type, response, user_data);
    }
}

void snmp_core_handle_v3_report(snmp_core_agent *agent, const adapter_msg *msg, void *user_data) {
    if (!is_v3(agent) || msg == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（Agent为空/非V3版本/消息为空）", __func__);
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 处理SNMPv3 REPORT报文（请求ID：%d，用户：%s）", __func__,
              static_cast<int>(msg->request_id), msg->user_name);
    bool discovering = agent->v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT;
    // Only a discovered engine's messages went through the security checks.
    bool authenticated = !discovering && agent->v3_engine.discovery_state == CORE_V3_DISCOVERED &&
                         (msg->msg_flags & SNMP_V3_FLAG_AUTH) != 0;
    for (uint8_t i = 0; i < msg->var_count && i < ADAPTER_MAX_VARBINDS; ++i) {
        if (judge_report_oid(*agent, *msg, msg->varbinds[i].oid, discovering, authenticated, user_data) ==
            ReportVerdict::kStop) {
            return;
        }
    }
    if (discovering) {
        if (agent->v3_pending_cmd.cmd_type != 0) {
            finish_discovery_phase(*agent, *msg, user_data);
        } else {
            complete_periodic_discovery(*agent, *msg);
        }
        return;
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: 业务阶段REPORT报文（安全状态正常）", __func__);
    bool notify = request_has_owner(*agent);
    end_request(*agent);
    if (notify) {
        api_snmp_response response{};
        response.request_id = msg->request_id;
        post_agent_response(*agent, msg->user_name, msg->cmd_type, response, user_data);
    }
}

}  // extern "C"
