// SNMPv3 notifications at the manager: its own engine, discovery probes, authenticated traps and
// informs, the Reports and acknowledgements they get, and the drop of everything else.
#include "nms/core_v3_notify.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <utility>

#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/snmpv3_reply.h"
#include "nms/core_snmpv3.h"
#include "nms/net_interface.h"
#include "nms/nms_core_internal.h"

namespace {

using namespace vek::nms::core;
using SteadyClock = std::chrono::steady_clock;

constexpr char kTag[] = "core_v3_notification";
// RFC 3411 snmpEngineID: the sample enterprise with the top bit set, format 5 (octets), random bytes.
constexpr std::array<uint8_t, 5> kEngineIdHead{0x80, 0x00, 0x30, 0x39, 0x05};
constexpr size_t kEngineIdRandomBytes = 8;
constexpr size_t kEngineIdLen = kEngineIdHead.size() + kEngineIdRandomBytes;
static_assert(kEngineIdLen <= SNMP_ENGINE_ID_SIZE, "the manager's engine ID fits the codec's field");

struct LocalEngine {
    std::array<uint8_t, kEngineIdLen> id{};
    SteadyClock::time_point started;
    bool ready = false;
};

LocalEngine make_local_engine() {
    LocalEngine engine;
    std::copy(kEngineIdHead.begin(), kEngineIdHead.end(), engine.id.begin());
    engine.ready = platform_rand_generate_crypto(engine.id.data() + kEngineIdHead.size(), kEngineIdRandomBytes) == 1;
    engine.started = SteadyClock::now();
    if (!engine.ready) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无法生成本地引擎ID（系统随机源失败），不接收SNMPv3通知", kTag);
    }
    return engine;
}

const LocalEngine &local_engine() {
    static const LocalEngine engine = make_local_engine();
    return engine;
}

// usmStats counters of the manager's engine, indexed by verdict.
std::array<uint32_t, SNMP_V3_VERDICT_COUNT> g_usm_stats{};

// ---- Rate limits ----

// Seconds-granular budget: at most `limit` events in one second of the UTC clock.
class PerSecond {
   public:
    explicit constexpr PerSecond(uint32_t limit) : limit_(limit) {}
    bool take(int64_t now) {
        if (now != second_) {
            second_ = now;
            used_ = 0;
        }
        if (used_ >= limit_) {
            ++held_back_;
            return false;
        }
        ++used_;
        return true;
    }
    uint32_t take_held_back() { return std::exchange(held_back_, 0u); }

   private:
    uint32_t limit_;
    int64_t second_ = 0;
    uint32_t used_ = 0;
    uint32_t held_back_ = 0;
};

PerSecond g_drop_warnings{1};
PerSecond g_key_makes{CORE_V3_NOTIFY_KEY_MAKES_PER_SECOND};

// One WARN line a second at most; it counts the drops it stands for.
void warn_dropped(const char *ip, uint16_t port, const char *why) {
    if (g_drop_warnings.take(now_seconds())) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 丢弃SNMPv3通知（%s:%d，原因：%s；此前未记录的丢弃：%u条）", kTag, ip,
                  static_cast<int>(port), why, g_drop_warnings.take_held_back());
    }
}

const char *verdict_text(uint8_t verdict) {
    switch (verdict) {
        case SNMP_V3_VERDICT_UNSUPPORTED_SEC_LEVEL:
            return "安全级别与用户不符";
        case SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW:
            return "不在时间窗口内";
        case SNMP_V3_VERDICT_UNKNOWN_USER_NAME:
            return "未知用户";
        case SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID:
            return "未知引擎ID";
        case SNMP_V3_VERDICT_WRONG_DIGEST:
            return "认证失败";
        default:
            return "解密失败";
    }
}

// ---- Users of the sender ----

bool same_ip(const snmp_core_agent &agent, const char *ip) {
    return agent.version == API_SNMP_V3 && std::strcmp(agent.ip, ip) == 0;
}

bool usable(const snmp_core_v3_user *user) { return user != nullptr && user->active != 0 && user->disabled == 0; }

// The codec's record of a user with the keys of one engine.
snmp_v3_user keyed_record(const snmp_core_v3_user &user, const snmp_core_v3_notify_keys &keys) {
    snmp_v3_user record{};
    record.enabled = 1;
    record.user_len = static_cast<uint8_t>(strnlen(user.user_name, SNMP_MAX_COMMUNITY_LEN));
    std::memcpy(record.username, user.user_name, record.user_len);
    record.auth_proto = adapter_auth_alg_to_proto(user.auth_alg);
    record.priv_proto = adapter_priv_alg_to_proto(user.priv_alg);
    std::memcpy(record.auth_key, keys.auth_key, keys.auth_key_len);
    record.auth_key_len = keys.auth_key_len;
    std::memcpy(record.priv_key, keys.priv_key, keys.priv_key_len);
    record.priv_key_len = keys.priv_key_len;
    record.keys_valid = 1;
    return record;
}

bool names_engine(const adapter_msg &msg, const uint8_t *id, size_t len) {
    return msg.engine_id_len == len && std::memcmp(msg.engine_id, id, len) == 0;
}

// ---- Answers ----

// The socket answers leave from: the trap listener's, else that of an agent record of the sender.
int reply_socket(const char *ip) {
    int sock = trap_socket();
    for_each_agent([&](snmp_core_agent &agent) {
        if (sock == NET_INVALID_SOCKET && std::strcmp(agent.ip, ip) == 0) {
            sock = agent.sock;
        }
    });
    return sock;
}

// Sends `reply` (PDU set) from the manager's engine, at the level of the user record given (null:
// without security). Its context is the manager's engine unless the caller set one.
void send_reply(const char *ip, uint16_t port, snmp_message &reply, const snmp_v3_user *user, uint8_t request_flags) {
    snmp_v3_local_engine engine{};
    if (!core_v3_local_engine(&engine)) {
        return;
    }
    std::memcpy(reply.usm.engine_id, engine.engine_id, engine.engine_id_len);
    reply.usm.engine_id_len = engine.engine_id_len;
    reply.usm.engine_boots = engine.engine_boots;
    reply.usm.engine_time = engine.engine_time;
    if (reply.pdu.context_engine_id_len == 0) {
        std::memcpy(reply.pdu.context_engine_id, engine.engine_id, engine.engine_id_len);
        reply.pdu.context_engine_id_len = engine.engine_id_len;
        reply.pdu.context_name_len = 0;
    }
    const snmp_v3_user no_user{};
    const bool secured = user != nullptr;
    const uint8_t auth = secured && (request_flags & SNMP_V3_FLAG_AUTH) != 0 ? user->auth_proto : 0;
    const uint8_t priv = secured && (request_flags & SNMP_V3_FLAG_PRIV) != 0 ? user->priv_proto : 0;
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> out{};
    auto len = static_cast<uint16_t>(out.size());
    const int sock = reply_socket(ip);
    if (sock == NET_INVALID_SOCKET ||
        snmp_v3_encode_reply(&reply, secured ? user : &no_user, auth, priv, out.data(), &len) != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 应答编码或发送准备失败（%s:%d）", kTag, ip, static_cast<int>(port));
        return;
    }
    (void)net_interface_send_to(sock, ip, port, out.data(), len);
}

// The Report of a failed check, at the request's level (notInTimeWindows, so that the sender may
// trust the clock it carries) or without security.
void send_report(const char *ip, uint16_t port, const snmp_message &request, uint8_t verdict,
                 const snmp_v3_user *user) {
    const uint32_t counter = ++g_usm_stats[verdict];
    if ((request.msg_flags & SNMP_V3_FLAG_REPORTABLE) == 0) {
        return;
    }
    snmp_message reply{};
    reply.version = SNMP_VERSION_3;
    reply.msg_id = request.msg_id;
    uint8_t at_request_level = 0;
    snmp_varbind &vb = reply.pdu.varbinds[0];
    snmp_v3_verdict_report(verdict, &vb.oid, &at_request_level);
    vb.type = SNMP_TAG_COUNTER32;
    vb.value.integer = static_cast<int32_t>(counter);
    reply.pdu.varbind_count = 1;
    reply.pdu.op = SNMP_OP_REPORT;
    reply.pdu.request_id = request.pdu.request_id;
    std::memcpy(reply.usm.username, request.usm.username, std::min<uint8_t>(request.usm.user_len, SNMP_MAX_COMMUNITY_LEN));
    reply.usm.user_len = std::min<uint8_t>(request.usm.user_len, SNMP_MAX_COMMUNITY_LEN);
    send_reply(ip, port, reply, at_request_level != 0 ? user : nullptr, request.msg_flags);
}

// The acknowledgement of an authenticated INFORM: a Response with its request-id and context (its
// sender matches the answer by them), at its level.
void acknowledge(const char *ip, uint16_t port, const snmp_message &inform, const snmp_v3_user &user) {
    snmp_message reply{};
    reply.version = SNMP_VERSION_3;
    reply.msg_id = inform.msg_id;
    reply.pdu.op = SNMP_OP_GET_RESPONSE;
    reply.pdu.request_id = inform.pdu.request_id;
    const uint16_t context_len = std::min<uint16_t>(inform.pdu.context_engine_id_len, SNMP_ENGINE_ID_SIZE);
    std::memcpy(reply.pdu.context_engine_id, inform.pdu.context_engine_id, context_len);
    reply.pdu.context_engine_id_len = context_len;
    const uint16_t name_len = std::min<uint16_t>(inform.pdu.context_name_len, SNMP_CONTEXT_NAME_SIZE);
    std::memcpy(reply.pdu.context_name, inform.pdu.context_name, name_len);
    reply.pdu.context_name_len = name_len;
    send_reply(ip, port, reply, &user, inform.msg_flags);
    AGENT_LOG(AGENT_LOG_INFO, "%s: 发送INFORM响应（ID=%u）到 %s:%d", "core_send_inform_response",
              static_cast<unsigned>(inform.pdu.request_id), ip, static_cast<int>(port));
}

// ---- Checks ----

void fill_delivery(const adapter_msg &msg, api_snmp_trap &trap) {
    trap = api_snmp_trap{};
    trap.version = API_SNMP_V3;
    copy_text(trap.community, sizeof trap.community, msg.user_name);
    trap.var_count = static_cast<uint8_t>(std::min<uint32_t>(msg.var_count, API_SNMP_MAX_TRAP_VARBINDS));
    std::copy_n(msg.varbinds, trap.var_count, trap.varbinds);
}

// The checked PDU is the one expected (an INFORM for the manager's engine, a TRAP for the sender's).
bool pdu_is(adapter_msg &msg, const snmp_message &codec, uint32_t op) {
    return adapter_msg_refresh_pdu(&msg, &codec) == API_SNMP_OK && msg.pdu_op == op;
}

// The keys of the user for the trap's engine: those kept when they fit, else new ones (within the
// process-wide budget). Nothing is kept until a trap authenticates with them.
bool trap_keys_for(snmp_core_v3_user &user, const adapter_msg &msg, snmp_core_v3_notify_keys &keys) {
    keys = user.trap_keys;
    const bool stale = snmp_v3_keys_stale(adapter_auth_alg_to_proto(user.auth_alg), adapter_priv_alg_to_proto(user.priv_alg),
                                          1, keys.key_boots, msg.engine_boots) != 0;
    if (keys.engine_id_len != 0 && names_engine(msg, keys.engine_id, keys.engine_id_len) && !stale) {
        return true;
    }
    if (!g_key_makes.take(now_seconds())) {
        return false;
    }
    const snmp_core_v3_notify_keys kept = keys;
    if (core_snmpv3_make_notify_keys(&user, msg.engine_id, msg.engine_id_len, msg.engine_boots, &keys) != API_SNMP_OK) {
        return false;
    }
    // A new engine (or new boots) starts a clock of its own; the same engine keeps what it showed.
    const bool same_engine = kept.engine_id_len != 0 && names_engine(msg, kept.engine_id, kept.engine_id_len);
    keys.latest_boots = same_engine ? kept.latest_boots : 0;
    keys.latest_time = same_engine ? kept.latest_time : 0;
    keys.latest_at = same_engine ? kept.latest_at : 0;
    return true;
}

// RFC 3414 section 3.2 step 7b for the trap's engine: never older than what authenticated traps of
// it showed (boots), nor more than 150 s behind the clock they let us estimate.
bool trap_timely(const snmp_core_v3_notify_keys &keys, const adapter_msg &msg, int64_t now) {
    if (keys.latest_at == 0) {
        return true;
    }
    const int64_t elapsed = std::max<int64_t>(now - keys.latest_at, 0);
    const auto estimate = static_cast<uint32_t>(
        std::min<int64_t>(static_cast<int64_t>(keys.latest_time) + elapsed, SNMP_V3_ENGINE_VALUE_MAX));
    return snmp_v3_timely_for_estimate(keys.latest_boots, estimate, msg.engine_boots, msg.engine_time) != 0;
}

void note_trap_clock(snmp_core_v3_notify_keys &keys, const adapter_msg &msg, int64_t now) {
    if (keys.latest_at == 0 || msg.engine_boots > keys.latest_boots || msg.engine_time > keys.latest_time) {
        keys.latest_boots = msg.engine_boots;
        keys.latest_time = msg.engine_time;
        keys.latest_at = now;
    }
}

// An INFORM for an engine that is not the manager's (of an earlier run, say): the sender learns the
// manager's engine from the Report and may send again.
void refuse_foreign_inform(const char *ip, uint16_t port, const snmp_message &codec) {
    send_report(ip, port, codec, SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, nullptr);
    warn_dropped(ip, port, verdict_text(SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID));
}

// A message for another engine than the manager's: a TRAP, whose authoritative engine is its sender.
// Tried against every agent record of the sender's address that has the user; delivered when one
// authenticates it.
bool receive_trap(const char *ip, uint16_t port, adapter_msg &msg, snmp_message &codec, api_snmp_trap &trap) {
    if (msg.pdu_op == SNMP_OP_INFORM) {
        refuse_foreign_inform(ip, port, codec);
        return false;
    }
    uint8_t verdict = SNMP_V3_VERDICT_UNKNOWN_USER_NAME;
    const char *why = nullptr;
    bool delivered = false;
    const int64_t now = now_seconds();
    for_each_agent([&](snmp_core_agent &agent) {
        snmp_core_v3_user *user = same_ip(agent, ip) ? core_snmpv3_user_ex_find(&agent, msg.user_name) : nullptr;
        snmp_core_v3_notify_keys keys{};
        if (delivered || !usable(user)) {
            return;
        }
        // A message older than what the sender showed is refused before any key is made for it.
        const snmp_core_v3_notify_keys &kept = user->trap_keys;
        if (kept.engine_id_len != 0 && names_engine(msg, kept.engine_id, kept.engine_id_len) &&
            !trap_timely(kept, msg, now)) {
            verdict = SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW;
            return;
        }
        if (!trap_keys_for(*user, msg, keys)) {
            why = "该引擎的密钥暂不能生成";
            return;
        }
        why = nullptr;
        const snmp_v3_user record = keyed_record(*user, keys);
        verdict = snmp_v3_check_message(msg.raw, static_cast<uint16_t>(msg.raw_len), &codec, nullptr, &record);
        if (verdict == SNMP_V3_VERDICT_OK && !trap_timely(keys, msg, now)) {
            verdict = SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW;
        }
        if (verdict != SNMP_V3_VERDICT_OK) {
            return;
        }
        note_trap_clock(keys, msg, now);
        user->trap_keys = keys;
        delivered = pdu_is(msg, codec, SNMP_OP_TRAP);
        why = delivered ? nullptr : "不是TRAP";
    });
    if (!delivered && msg.pdu_op == SNMP_OP_INFORM) {
        refuse_foreign_inform(ip, port, codec);  // it was encrypted: known only now
        return false;
    }
    if (!delivered) {
        warn_dropped(ip, port, why != nullptr ? why : verdict_text(verdict));
        return false;
    }
    fill_delivery(msg, trap);
    return true;
}

// An INFORM (or anything else for the manager's engine): authoritative is the manager.
bool receive_inform(const char *ip, uint16_t port, adapter_msg &msg, snmp_message &codec, api_snmp_trap &trap) {
    snmp_v3_local_engine local{};
    (void)core_v3_local_engine(&local);
    uint8_t verdict = SNMP_V3_VERDICT_UNKNOWN_USER_NAME;
    snmp_v3_user accepted{};
    snmp_v3_user report_keys{};
    bool has_keys = false;
    for_each_agent([&](snmp_core_agent &agent) {
        snmp_core_v3_user *user = same_ip(agent, ip) ? core_snmpv3_user_ex_find(&agent, msg.user_name) : nullptr;
        if (verdict == SNMP_V3_VERDICT_OK || !usable(user) || user->inform_keys.engine_id_len == 0) {
            return;
        }
        const snmp_v3_user record = keyed_record(*user, user->inform_keys);
        verdict = snmp_v3_check_message(msg.raw, static_cast<uint16_t>(msg.raw_len), &codec, &local, &record);
        if (verdict == SNMP_V3_VERDICT_OK || verdict == SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW) {
            (verdict == SNMP_V3_VERDICT_OK ? accepted : report_keys) = record;
            has_keys = true;
        }
    });
    if (verdict != SNMP_V3_VERDICT_OK) {
        send_report(ip, port, codec, verdict, has_keys ? &report_keys : nullptr);
        warn_dropped(ip, port, verdict_text(verdict));
        return false;
    }
    if (!pdu_is(msg, codec, SNMP_OP_INFORM)) {
        warn_dropped(ip, port, "不是INFORM");
        return false;
    }
    acknowledge(ip, port, codec, accepted);
    fill_delivery(msg, trap);
    return true;
}

bool has_v3_agent(const char *ip) {
    bool found = false;
    for_each_agent([&](snmp_core_agent &agent) { found = found || same_ip(agent, ip); });
    return found;
}

}  // namespace

extern "C" {

bool core_v3_local_engine(snmp_v3_local_engine *out) {
    const LocalEngine &engine = local_engine();
    if (out == nullptr || !engine.ready) {
        return false;
    }
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(SteadyClock::now() - engine.started).count();
    *out = snmp_v3_local_engine{engine.id.data(), static_cast<uint16_t>(engine.id.size()), CORE_V3_LOCAL_BOOTS,
                                static_cast<uint32_t>(std::min<int64_t>(seconds, SNMP_V3_ENGINE_VALUE_MAX))};
    return true;
}

void core_v3_localize_inform_user(snmp_core_v3_user *user) {
    snmp_v3_local_engine engine{};
    if (user == nullptr || !core_v3_local_engine(&engine)) {
        return;
    }
    if (core_snmpv3_make_notify_keys(user, engine.engine_id, static_cast<uint8_t>(engine.engine_id_len),
                                     engine.engine_boots, &user->inform_keys) != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 用户[%s]的INFORM密钥生成失败，不接收其INFORM", kTag, user->user_name);
    }
}

bool core_v3_is_notification(const snmp_core_agent *agent, const adapter_msg *msg) {
    if (msg == nullptr || msg->version != API_SNMP_V3) {
        return false;
    }
    if (msg->engine_id_len == 0 || msg->pdu_op == SNMP_OP_TRAP || msg->pdu_op == SNMP_OP_INFORM) {
        return true;  // a probe, or a notification in clear text
    }
    // An encrypted message is an answer only when it answers the request outstanding.
    const bool encrypted = (msg->msg_flags & SNMP_V3_FLAG_PRIV) != 0;
    const bool answers = agent != nullptr && agent->version == API_SNMP_V3 && agent->pending != 0 &&
                         msg->request_id == agent->pending_request_id;
    return encrypted && !answers;
}

bool core_v3_receive_notification(const char *ip, uint16_t port, adapter_msg *msg, snmp_message *codec,
                                  api_snmp_trap *trap) {
    if (ip == nullptr || msg == nullptr || codec == nullptr || trap == nullptr || msg->raw == nullptr) {
        return false;
    }
    // Only the addresses of SNMPv3 agent records may send notifications: nobody else is answered.
    const LocalEngine &local = local_engine();
    if (!local.ready || !has_v3_agent(ip)) {
        warn_dropped(ip, port, "发送方不是SNMPv3 Agent");
        return false;
    }
    if (msg->engine_id_len == 0) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 收到发现请求，回复本地引擎（%s:%d）", kTag, ip, static_cast<int>(port));
        send_report(ip, port, *codec, SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, nullptr);
        return false;
    }
    if (names_engine(*msg, local.id.data(), local.id.size())) {
        return receive_inform(ip, port, *msg, *codec, *trap);
    }
    return receive_trap(ip, port, *msg, *codec, *trap);
}

uint32_t core_v3_usm_stat(uint8_t verdict) {
    return verdict > SNMP_V3_VERDICT_OK && verdict < g_usm_stats.size() ? g_usm_stats[verdict] : 0;
}

}  // extern "C"
