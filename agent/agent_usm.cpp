// The agent's USM checks of received SNMPv3 messages, the Reports of their failures and the
// usmStats counters.
#include "agent/agent_usm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "agent/agent_engine.h"
#include "agent/snmpv3_user_mgr.h"
#include "base/agent_log.h"
#include "codec/snmpv3_crypto.h"

namespace {

constexpr uint32_t kNoBinding = 0;

// usmStats counters, indexed by verdict (entry 0 unused). Counter32 values wrap.
std::array<uint32_t, SNMP_V3_VERDICT_COUNT> g_usm_stats{};

int text_len(size_t len) { return static_cast<int>(std::min<size_t>(len, SNMP_USERNAME_SIZE)); }

const char *as_text(const uint8_t *bytes) { return reinterpret_cast<const char *>(bytes); }

uint32_t count(uint8_t verdict) { return ++g_usm_stats[verdict]; }

// A Report is sent only to a sender that asks for one, and never about a message of the unconfirmed
// class (Response, Report, Trap), which would let two engines keep each other busy. An encrypted
// message that failed its checks has no known PDU: its flag decides.
bool reportable(const snmp_message &msg) {
    const bool pdu_known = (msg.msg_flags & SNMP_V3_FLAG_PRIV) == 0;
    const uint32_t op = msg.pdu.op;
    const bool unconfirmed = op == SNMP_OP_REPORT || op == SNMP_OP_GET_RESPONSE || op == SNMP_OP_TRAP;
    return (msg.msg_flags & SNMP_V3_FLAG_REPORTABLE) != 0 && !(pdu_known && unconfirmed);
}

snmp_varbind counter_binding(uint8_t verdict, uint32_t value) {
    snmp_varbind vb{};
    snmp_v3_verdict_report(verdict, &vb.oid, nullptr);
    vb.type = SNMP_TAG_COUNTER32;
    vb.value.integer = static_cast<int32_t>(value);
    return vb;
}

void make_report_pdu(snmp_pdu &pdu) {
    pdu.op = SNMP_OP_REPORT;
    pdu.error_status = 0;
    pdu.error_index = kNoBinding;
}

// Turns a discovery request into the Report that tells the manager the local engine: its bindings
// come back as NULL, or, without bindings, the unknownEngineIDs counter.
void build_discovery_report(snmp_message &msg, uint32_t counter) {
    msg.msg_flags = 0;
    msg.usm = snmp_v3_usm{};
    agent_usm_stamp_local_engine(&msg);
    snmp_pdu &pdu = msg.pdu;
    make_report_pdu(pdu);
    if (pdu.varbind_count > 0) {
        for (snmp_varbind &vb : std::span<snmp_varbind>(pdu.varbinds, std::min<size_t>(pdu.varbind_count, SNMP_MAX_VARBINDS))) {
            vb.type = SNMP_TAG_NULL;
            vb.value = snmp_value{};
            vb.value_len = 0;
        }
        return;
    }
    pdu.varbinds[0] = counter_binding(SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID, counter);
    pdu.varbind_count = 1;
}

// Turns a request that failed a check into the Report of its counter. A notInTimeWindows Report
// goes out at the request's level, authenticated with the user's keys, so that the manager may take
// the engine clock it carries; every other Report goes without security.
void build_failure_report(agent_msg_ctx &ctx, uint8_t verdict, uint32_t counter, snmp_v3_user *user) {
    snmp_message &msg = ctx.msg;
    uint8_t at_request_level = 0;
    snmp_oid unused{};
    snmp_v3_verdict_report(verdict, &unused, &at_request_level);
    if (at_request_level != 0 && user != nullptr) {
        ctx.v3_user = user;
    } else {
        ctx.v3_user = nullptr;
        msg.msg_flags = 0;
    }
    agent_usm_stamp_local_engine(&msg);
    snmp_pdu &pdu = msg.pdu;
    make_report_pdu(pdu);
    snmp_pdu_clear_varbinds(&pdu);
    pdu.varbinds[0] = counter_binding(verdict, counter);
    pdu.varbind_count = 1;
}

// The user's keys, made for this start of the engine; null (logged) when they are not there, which
// only a user whose keys could not be made has.
snmp_v3_user *user_with_keys(snmp_v3_user *user) {
    if (user == nullptr || (user->auth_proto == SNMP_V3_AUTH_NONE && user->priv_proto == SNMP_V3_PRIV_NONE) ||
        snmp_v3_keys_stale(user->auth_proto, user->priv_proto, user->keys_valid, user->key_engine_boots,
                           agent_engine_boots()) == 0) {
        return user;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "V3用户 '%.*s' 密钥生成失败，丢弃消息", text_len(user->user_len), as_text(user->username));
    return nullptr;
}

agent_usm_outcome answer_discovery(agent_msg_ctx &ctx) {
    AGENT_LOG(AGENT_LOG_INFO, "agent_nms_snmp_msg: 检测到SNMPv3 Discover请求，生成Report响应");
    build_discovery_report(ctx.msg, count(SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID));
    return AGENT_USM_REPORT;
}

}  // namespace

extern "C" {

void agent_usm_stamp_local_engine(snmp_message *msg) {
    const uint16_t len = std::min<uint16_t>(agent_cfg.engine_id_len, SNMP_ENGINE_ID_SIZE);
    const snmp_engine_clock clock = agent_engine_now();
    snmp_v3_usm &usm = msg->usm;
    std::memcpy(usm.engine_id, agent_cfg.engine_id, len);
    usm.engine_id_len = len;
    usm.engine_boots = clock.engine_boots;
    usm.engine_time = clock.engine_time;
    snmp_pdu &pdu = msg->pdu;
    std::memcpy(pdu.context_engine_id, agent_cfg.engine_id, len);
    pdu.context_engine_id_len = len;
    pdu.context_name_len = 0;
}

agent_usm_outcome agent_usm_check_request(agent_msg_ctx *ctx, const uint8_t *data, uint16_t len) {
    snmp_message &msg = ctx->msg;
    if (msg.usm.engine_id_len == 0) {
        return answer_discovery(*ctx);
    }
    snmp_v3_user *user = snmp_v3_user_find(msg.usm.username, msg.usm.user_len);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "V3用户 '%.*s' 不存在或未启用，丢弃消息", text_len(msg.usm.user_len),
                  as_text(msg.usm.username));
    } else if (user_with_keys(user) == nullptr) {
        return AGENT_USM_DROPPED;
    }
    const snmp_engine_clock clock = agent_engine_now();
    const snmp_v3_local_engine local{agent_cfg.engine_id, std::min<uint16_t>(agent_cfg.engine_id_len, SNMP_ENGINE_ID_SIZE),
                                     clock.engine_boots, clock.engine_time};
    msg.usm.auth_proto = user != nullptr ? user->auth_proto : static_cast<uint8_t>(SNMP_V3_AUTH_NONE);
    msg.usm.priv_proto = user != nullptr ? user->priv_proto : static_cast<uint8_t>(SNMP_V3_PRIV_NONE);
    const uint8_t verdict = snmp_v3_check_message(data, len, &msg, &local, user);
    if (verdict == SNMP_V3_VERDICT_OK) {
        ctx->v3_user = user;
        AGENT_LOG(AGENT_LOG_DEBUG, "V3用户 '%.*s' 查找成功，已存入上下文", text_len(user->user_len),
                  as_text(user->username));
        return AGENT_USM_ACCEPTED;
    }
    const uint32_t counter = count(verdict);
    if (!reportable(msg)) {
        AGENT_LOG(AGENT_LOG_WARN, "V3安全检查未通过（usmStats.%u=%u），消息不可报告，丢弃", static_cast<unsigned>(verdict),
                  counter);
        return AGENT_USM_DROPPED;
    }
    AGENT_LOG(AGENT_LOG_WARN, "V3安全检查未通过（usmStats.%u=%u），回复Report，不执行请求", static_cast<unsigned>(verdict),
              counter);
    build_failure_report(*ctx, verdict, counter, user);
    return AGENT_USM_REPORT;
}

uint32_t agent_usm_stat(uint8_t verdict) {
    return verdict > SNMP_V3_VERDICT_OK && verdict < g_usm_stats.size() ? g_usm_stats[verdict] : 0;
}

void agent_usm_reset_stats(void) { g_usm_stats = {}; }

}  // extern "C"
