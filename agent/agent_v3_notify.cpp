// SNMPv3 traps and informs of the agent: the notification user, the engines of inform receivers
// (discovered by a probe), the informs held back meanwhile, and the receivers' answers.
#include "agent/agent_v3_notify.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "agent/agent_config.h"
#include "agent/agent_engine.h"
#include "agent/agent_trap.h"
#include "agent/agent_usm.h"
#include "agent/snmpv3_user_mgr.h"
#include "agent/trans.h"
#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmpv3_crypto.h"
#include "codec/snmpv3_reply.h"

namespace {

using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;

constexpr uint32_t kMillisPerSecond = 1000;

// A receiver of informs and what the agent knows of its engine.
struct Receiver {
    bool used = false;
    Ipv4 ip{};
    uint16_t port = 0;
    std::array<uint8_t, SNMP_ENGINE_ID_SIZE> engine_id{};
    uint16_t engine_id_len = 0;  // 0: not discovered
    uint32_t boots = 0;
    uint32_t time = 0;
    uint32_t clock_tick = 0;  // millisecond tick at which boots and time were seen
    bool probing = false;
    uint32_t probe_msg_id = 0;
    uint32_t probe_tick = 0;
    snmp_v3_user keyed{};  // the notification user with keys localised to this engine
    bool keys_made = false;
};

struct HeldInform {
    bool used = false;
    size_t receiver = 0;
    uint32_t tick = 0;
    snmp_pdu pdu{};
};

std::array<uint8_t, SNMP_USERNAME_SIZE> g_user_name{};
uint8_t g_user_len = 0;
std::array<Receiver, AGENT_V3_NOTIFY_RECEIVERS> g_receivers{};
std::array<HeldInform, AGENT_V3_NOTIFY_HELD_INFORMS> g_held{};
size_t g_next_reuse = 0;  // the receiver slot given up when every slot is in use

Ipv4 to_ipv4(const uint8_t *ip) { return {ip[0], ip[1], ip[2], ip[3]}; }

bool expired(uint32_t since, uint32_t now) { return now - since >= AGENT_INFORM_TIMEOUT_MS; }

int name_len() { return static_cast<int>(g_user_len); }

const char *user_text() { return reinterpret_cast<const char *>(g_user_name.data()); }

snmp_v3_user *notify_user() {
    snmp_v3_user *user = snmp_v3_user_find(g_user_name.data(), g_user_len);
    if (user == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3通知用户 '%.*s' 不存在，通知未发送", name_len(), user_text());
    }
    return user;
}

Receiver *find_receiver(const Ipv4 &ip, uint16_t port) {
    for (Receiver &r : g_receivers) {
        if (r.used && r.ip == ip && r.port == port) {
            return &r;
        }
    }
    return nullptr;
}

size_t index_of(const Receiver &r) { return static_cast<size_t>(&r - g_receivers.data()); }

void drop_held_of(size_t receiver) {
    for (HeldInform &held : g_held) {
        if (held.used && held.receiver == receiver) {
            held = HeldInform{};
        }
    }
}

Receiver &take_receiver(const Ipv4 &ip, uint16_t port) {
    auto it = std::find_if(g_receivers.begin(), g_receivers.end(), [](const Receiver &r) { return !r.used; });
    if (it == g_receivers.end()) {
        it = g_receivers.begin() + static_cast<std::ptrdiff_t>(g_next_reuse);
        g_next_reuse = (g_next_reuse + 1) % g_receivers.size();
        drop_held_of(index_of(*it));
    }
    *it = Receiver{};
    it->used = true;
    it->ip = ip;
    it->port = port;
    return *it;
}

// The receiver's engine time now, as the agent estimates it from what it last saw.
uint32_t estimated_time(const Receiver &r) {
    const uint64_t elapsed = (platform_get_tick() - r.clock_tick) / kMillisPerSecond;
    return static_cast<uint32_t>(std::min<uint64_t>(r.time + elapsed, SNMP_V3_ENGINE_VALUE_MAX));
}

void note_clock(Receiver &r, uint32_t boots, uint32_t time) {
    r.boots = boots;
    r.time = time;
    r.clock_tick = platform_get_tick();
}

bool send_to(const Ipv4 &ip, uint16_t port, const uint8_t *data, uint16_t len) {
    return trans_send(&eth_trans_ctx, data, len, ip.data(), port);
}

// A notification message whose scoped PDU carries the agent's own engine as its context.
snmp_message notification(const snmp_pdu &pdu) {
    snmp_message msg{};
    msg.version = SNMP_VERSION_3;
    msg.msg_id = snmp_generate_request_id();
    msg.pdu = pdu;
    agent_usm_stamp_local_engine(&msg);
    return msg;
}

// Encodes msg at the user's own level (the user's keys must fit msg's engine) and sends it.
bool send_secured(const snmp_message &msg, const snmp_v3_user &user, bool confirmed, const Ipv4 &ip, uint16_t port) {
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> out{};
    auto len = static_cast<uint16_t>(out.size());
    const int32_t ret = snmp_v3_encode_notification(&msg, &user, user.auth_proto, user.priv_proto, confirmed ? 1 : 0,
                                                    out.data(), &len);
    if (ret != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3通知编码失败（错误码=%d）", static_cast<int>(ret));
        return false;
    }
    return send_to(ip, port, out.data(), len);
}

bool send_trap(const snmp_pdu &pdu, const Ipv4 &ip, uint16_t port) {
    const snmp_v3_user *user = notify_user();
    if (user == nullptr) {
        return false;
    }
    if ((user->auth_proto != SNMP_V3_AUTH_NONE || user->priv_proto != SNMP_V3_PRIV_NONE) &&
        snmp_v3_keys_stale(user->auth_proto, user->priv_proto, user->keys_valid, user->key_engine_boots,
                           agent_engine_boots()) != 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3通知用户 '%.*s' 密钥未生成，Trap未发送", name_len(), user_text());
        return false;
    }
    return send_secured(notification(pdu), *user, false, ip, port);
}

// The user's keys for the receiver's engine, made when missing or stale.
bool keys_for(Receiver &r) {
    const snmp_v3_user *user = notify_user();
    if (user == nullptr) {
        return false;
    }
    if (r.keys_made && snmp_v3_keys_stale(user->auth_proto, user->priv_proto, r.keyed.keys_valid,
                                          r.keyed.key_engine_boots, r.boots) == 0) {
        return true;
    }
    r.keys_made = snmp_v3_user_keyed_for(user, r.engine_id.data(), r.engine_id_len, r.boots, &r.keyed);
    if (!r.keys_made) {
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3通知用户 '%.*s' 的Inform密钥生成失败", name_len(), user_text());
    }
    return r.keys_made;
}

bool send_inform_now(Receiver &r, const snmp_pdu &pdu) {
    if (!keys_for(r)) {
        return false;
    }
    snmp_message msg = notification(pdu);
    std::memcpy(msg.usm.engine_id, r.engine_id.data(), r.engine_id_len);
    msg.usm.engine_id_len = r.engine_id_len;
    msg.usm.engine_boots = r.boots;
    msg.usm.engine_time = estimated_time(r);
    return send_secured(msg, r.keyed, true, r.ip, r.port);
}

// An empty reportable message without security: the receiver answers with a Report naming its engine.
bool send_probe(Receiver &r) {
    snmp_message probe{};
    probe.version = SNMP_VERSION_3;
    probe.msg_id = snmp_generate_request_id();
    probe.msg_flags = SNMP_V3_FLAG_REPORTABLE;
    probe.pdu.op = SNMP_OP_GET;
    probe.pdu.request_id = static_cast<int32_t>(probe.msg_id);
    std::array<uint8_t, SNMP_MAX_MSG_SIZE> out{};
    uint16_t len = 0;
    const snmp_v3_user no_user{};
    if (snmp_ber_encode_snmp_message(out.data(), static_cast<uint16_t>(out.size()), &no_user, &probe, &len) != SNMP_OK ||
        !send_to(r.ip, r.port, out.data(), len)) {
        AGENT_LOG(AGENT_LOG_ERROR, "Inform接收方引擎发现请求发送失败");
        return false;
    }
    r.probing = true;
    r.probe_msg_id = probe.msg_id;
    r.probe_tick = platform_get_tick();
    AGENT_LOG(AGENT_LOG_INFO, "发送Inform接收方引擎发现请求（消息ID=%u）", probe.msg_id);
    return true;
}

bool hold_inform(Receiver &r, const snmp_pdu &pdu) {
    const uint32_t now = platform_get_tick();
    for (HeldInform &held : g_held) {
        if (held.used && expired(held.tick, now)) {
            held = HeldInform{};
        }
    }
    auto it = std::find_if(g_held.begin(), g_held.end(), [](const HeldInform &h) { return !h.used; });
    if (it == g_held.end()) {
        AGENT_LOG(AGENT_LOG_ERROR, "等待接收方引擎的Inform已满，Inform未发送");
        return false;
    }
    if (!r.probing || expired(r.probe_tick, now)) {
        if (!send_probe(r)) {
            return false;
        }
    }
    *it = HeldInform{true, index_of(r), now, pdu};
    return true;
}

void send_held(Receiver &r) {
    const uint32_t now = platform_get_tick();
    for (HeldInform &held : g_held) {
        if (held.used && held.receiver == index_of(r)) {
            if (!expired(held.tick, now) && !send_inform_now(r, held.pdu)) {
                AGENT_LOG(AGENT_LOG_ERROR, "等待中的Inform发送失败 [RequestID:%u]",
                          static_cast<unsigned>(held.pdu.request_id));
            }
            held = HeldInform{};
        }
    }
}

bool names_engine(const snmp_message &msg, const Receiver &r) {
    return r.engine_id_len != 0 && msg.usm.engine_id_len == r.engine_id_len &&
           std::equal(r.engine_id.begin(), r.engine_id.begin() + r.engine_id_len, msg.usm.engine_id);
}

// The Report that answers a probe: the receiver's engine, boots and time.
void take_discovery(Receiver &r, const snmp_message &msg) {
    r.probing = false;
    if (msg.pdu.op != SNMP_OP_REPORT || (msg.msg_flags & SNMP_V3_FLAG_PRIV) != 0 || msg.usm.engine_id_len == 0 ||
        msg.usm.engine_id_len > SNMP_ENGINE_ID_SIZE) {
        AGENT_LOG(AGENT_LOG_WARN, "Inform接收方的发现应答无引擎ID，丢弃");
        return;
    }
    std::memcpy(r.engine_id.data(), msg.usm.engine_id, msg.usm.engine_id_len);
    r.engine_id_len = msg.usm.engine_id_len;
    note_clock(r, msg.usm.engine_boots, msg.usm.engine_time);
    r.keys_made = false;
    AGENT_LOG(AGENT_LOG_INFO, "Inform接收方引擎发现完成（引擎ID长度=%u，启动次数=%u，时间=%u）",
              static_cast<unsigned>(r.engine_id_len), r.boots, r.time);
    send_held(r);
}

bool unsecured_report(const snmp_message &msg) {
    return (msg.msg_flags & SNMP_V3_FLAG_AUTH) == 0 && msg.pdu.op == SNMP_OP_REPORT && msg.pdu.varbind_count > 0;
}

// A message of the receiver's engine: the Response that acknowledges an inform, or a Report.
void take_answer(Receiver &r, const uint8_t *data, uint16_t len, snmp_message &msg) {
    if (unsecured_report(msg)) {
        // Without security it can only say that the receiver's engine is not what the agent thinks:
        // the next inform discovers it again.
        if (snmp_v3_verdict_of_oid(&msg.pdu.varbinds[0].oid) == SNMP_V3_VERDICT_UNKNOWN_ENGINE_ID) {
            r.engine_id_len = 0;
            r.keys_made = false;
        }
        AGENT_LOG(AGENT_LOG_WARN, "Inform接收方返回未认证的REPORT");
        return;
    }
    const uint8_t verdict = r.keys_made ? snmp_v3_check_message(data, len, &msg, nullptr, &r.keyed)
                                        : static_cast<uint8_t>(SNMP_V3_VERDICT_UNKNOWN_USER_NAME);
    if (verdict != SNMP_V3_VERDICT_OK) {
        AGENT_LOG(AGENT_LOG_WARN, "Inform接收方的应答未通过安全检查（usmStats.%u），丢弃", static_cast<unsigned>(verdict));
        return;
    }
    const bool clock_report = msg.pdu.op == SNMP_OP_REPORT && msg.pdu.varbind_count > 0 &&
                              snmp_v3_verdict_of_oid(&msg.pdu.varbinds[0].oid) == SNMP_V3_VERDICT_NOT_IN_TIME_WINDOW;
    if (clock_report) {
        note_clock(r, msg.usm.engine_boots, msg.usm.engine_time);  // authenticated: the next inform is timely
        AGENT_LOG(AGENT_LOG_WARN, "Inform接收方报告时间窗口不符，已校准其引擎时钟");
        return;
    }
    if (snmp_v3_timely_for_estimate(r.boots, estimated_time(r), msg.usm.engine_boots, msg.usm.engine_time) == 0) {
        AGENT_LOG(AGENT_LOG_WARN, "Inform接收方的应答不在时间窗口内，丢弃");
        return;
    }
    if (msg.usm.engine_boots > r.boots || msg.usm.engine_time > estimated_time(r)) {
        note_clock(r, msg.usm.engine_boots, msg.usm.engine_time);
    }
    if (msg.pdu.op == SNMP_OP_GET_RESPONSE) {
        agent_trap_match_inform_resp(static_cast<uint32_t>(msg.pdu.request_id));
    }
}

}  // namespace

extern "C" {

void agent_v3_notify_reset(void) {
    g_user_name = {};
    g_user_len = 0;
    g_receivers = {};
    g_held = {};
    g_next_reuse = 0;
}

bool agent_v3_notify_set_user(const uint8_t *name, uint8_t len) {
    if (len != 0 && (name == nullptr || len > SNMP_MAX_COMMUNITY_LEN || snmp_v3_user_find(name, len) == nullptr)) {
        return false;
    }
    agent_v3_notify_reset();
    if (len != 0) {
        std::memcpy(g_user_name.data(), name, len);
        g_user_len = len;
    }
    if (len != 0) {
        AGENT_LOG(AGENT_LOG_INFO, "Trap/Inform改为SNMPv3发送（用户 '%.*s'）", name_len(), user_text());
    } else {
        AGENT_LOG(AGENT_LOG_INFO, "Trap/Inform改为SNMPv2c发送");
    }
    return true;
}

bool agent_v3_notify_enabled(void) { return g_user_len != 0; }

bool agent_v3_notify_send(const uint8_t *ip, uint16_t port, const snmp_pdu *pdu, bool inform) {
    if (ip == nullptr || pdu == nullptr || !agent_v3_notify_enabled()) {
        return false;
    }
    const Ipv4 to = to_ipv4(ip);
    if (!inform) {
        return send_trap(*pdu, to, port);
    }
    Receiver *known = find_receiver(to, port);
    Receiver &r = known != nullptr ? *known : take_receiver(to, port);
    return r.engine_id_len != 0 ? send_inform_now(r, *pdu) : hold_inform(r, *pdu);
}

bool agent_v3_notify_receive(const uint8_t *data, uint16_t len, snmp_message *msg, const uint8_t *ip, uint16_t port) {
    if (data == nullptr || msg == nullptr || ip == nullptr || !agent_v3_notify_enabled()) {
        return false;
    }
    Receiver *r = find_receiver(to_ipv4(ip), port);
    if (r == nullptr) {
        return false;
    }
    if (r->probing && msg->msg_id == r->probe_msg_id) {
        take_discovery(*r, *msg);
        return true;
    }
    if (!names_engine(*msg, *r)) {
        return false;
    }
    take_answer(*r, data, len, *msg);
    return true;
}

}  // extern "C"
