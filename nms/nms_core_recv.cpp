// SNMP core, second half: the receive thread and the dispatch of received datagrams (responses,
// SNMPv3 responses and reports, traps and INFORMs with their acknowledgement), the error path that
// turns a failure into a response outcome, and the 1 ms tick (retransmission, time-out, periodic
// SNMPv3 time-synchronisation check) with the pacing of the timer thread that drives it.
//
// Every decision is taken under the list lock (CoreSection); response outcomes are queued and
// delivered after the lock is released, trap deliveries are prepared under the lock and made after
// it. A request's outcome is delivered exactly once: the request slot is ended under the lock in
// the same step that queues its outcome, and anything that arrives for an agent with nothing
// outstanding is dropped.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/snmp_types.h"
#include "nms/core_snmpv3.h"
#include "nms/core_v3_notify.h"
#include "nms/net_interface.h"
#include "nms/nms_core_internal.h"
#include "nms/nms_snmp_core.h"
#include "nms/snmp_adapter.h"

namespace {

using namespace vek::nms::core;

constexpr char kDispatchTag[] = "snmp_core_handle_response";
constexpr char kTrapTag[] = "snmp_core_handle_trap";
constexpr char kInformTag[] = "core_send_inform_response";
constexpr char kTimeoutTag[] = "core_check_all_agent_timeout";
constexpr char kTimeSyncTag[] = "core_v3_time_sync_callback";
constexpr char kV3ResponseTag[] = "snmp_core_handle_v3_response";
constexpr char kDiscoveryLabel[] = "发现请求";
constexpr char kCommandLabel[] = "命令";
constexpr uint32_t kRecvErrorBackoffMs = 100;
constexpr char kDropVersion[] = "SNMP版本与Agent不符";
constexpr char kDropCommunity[] = "共同体名与Agent不符";
constexpr char kDropNotNotification[] = "不是该地址Agent请求套接字上的应答，也不是通知";

// Tick counter, 0 to CORE_TIME_SYNC_CHECK_TICKS - 1.
std::atomic<uint32_t> g_tick_counter{0};

// Pacing of the timer thread. `g_outstanding` is true when the last once-a-second check left a
// request outstanding or a request has been sent since (both written under the list lock). When
// the tick found nothing outstanding, the timer thread's next sleep ends with the next send.
std::atomic<bool> g_outstanding{false};
std::mutex g_timer_mutex;
std::condition_variable g_timer_wake;
// Guarded by g_timer_mutex.
uint64_t g_requests_sent = 0;      // sends so far
bool g_sleep_until_request = false;  // the next sleep ends when g_requests_sent passes g_sleep_mark
uint64_t g_sleep_mark = 0;
bool g_timer_interrupted = false;

// A notification ready for the trap callback (prepared under the lock, delivered after it).
struct TrapDelivery {
    api_snmp_trap_cb cb;
    void *user_data;
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    api_snmp_trap trap;
};

// Decoding work areas of one datagram.
struct DecodeWork {
    adapter_msg msg;
    snmp_message codec;
};

// The receive thread's work areas, allocated once and reused for every datagram: the decoder
// resets what it fills, and a notification record is reset when one is prepared.
struct DispatchScratch {
    DecodeWork work;
    TrapDelivery trap;
};

bool is_notification(const adapter_msg &msg) noexcept {
    return msg.pdu_op == SNMP_OP_TRAP || msg.pdu_op == SNMP_OP_INFORM;
}

bool silent_error(uint32_t error) noexcept {
    return error == API_SNMP_ERR_INVALID_PARAM || error == API_SNMP_ERR_AGENT_NOT_FOUND ||
           error == API_SNMP_ERR_USER_NOT_FOUND || error == API_SNMP_ERR_VERSION_MISMATCH;
}

uint8_t capped_count(uint8_t count, uint32_t cap) noexcept {
    return static_cast<uint8_t>(std::min<uint32_t>(count, cap));
}

api_snmp_response answer_record(const adapter_msg &msg) noexcept {
    api_snmp_response response{};
    response.request_id = msg.request_id;
    response.error = API_SNMP_OK;
    response.error_status = msg.error_status;
    response.var_count = capped_count(msg.var_count, API_SNMP_MAX_RESPONSE_VARBINDS);
    std::copy_n(msg.varbinds, response.var_count, response.varbinds);
    return response;
}

// ---- INFORM acknowledgement ----

// A temporary responder for an INFORM from an address that is not a created agent: it lives only
// for the acknowledgement and is never entered into the agent list.
std::unique_ptr<snmp_core_agent> make_temporary_agent(const char *ip, uint16_t port, const adapter_msg &msg) {
    auto agent = std::make_unique<snmp_core_agent>();
    copy_text(agent->ip, sizeof(agent->ip), ip);
    agent->port = port;
    agent->version = msg.version;
    copy_text(agent->community, sizeof(agent->community), msg.community);
    agent->sock = acquire_socket();
    if (agent->sock == NET_INVALID_SOCKET) {
        return nullptr;
    }
    return agent;
}

void send_inform_ack(snmp_core_agent *agent, const adapter_msg &msg, const char *ip, uint16_t port) {
    std::unique_ptr<snmp_core_agent> temporary;
    snmp_core_agent *responder = agent;
    if (responder == nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 未找到INFORM响应的Agent，创建临时Agent", kInformTag);
        temporary = make_temporary_agent(ip, port, msg);
        if (temporary == nullptr) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 创建临时Agent失败，无法响应INFORM", kInformTag);
            return;
        }
        responder = temporary.get();
    }
    std::array<uint8_t, CORE_MAX_PACKET_SIZE> packet{};
    auto len = static_cast<uint32_t>(packet.size());
    // SNMPv1/v2c: a Response with the INFORM's version, community and request-id (SNMPv3 INFORMs are
    // acknowledged where they are checked, nms/core_v3_notify.cpp).
    api_snmp_err rc = adapter_snmp_inform_ack_encode(&msg, packet.data(), &len);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 编码INFORM响应失败，错误码：%d", kInformTag, static_cast<int>(rc));
    } else {
        (void)net_interface_send_to(responder->sock, ip, port, packet.data(), len);
        AGENT_LOG(AGENT_LOG_INFO, "%s: 发送INFORM响应（ID=%u）到 %s:%d", kInformTag, static_cast<unsigned>(msg.request_id),
                  ip, static_cast<int>(port));
    }
    if (temporary != nullptr) {
        release_socket(temporary->sock);
    }
}

// ---- Trap path ----

// Prepares the delivery of a TRAP or INFORM (acknowledging an INFORM first); false when nothing is
// to be delivered. agent is the created agent at the source address, or null. List lock held.
bool prepare_trap(snmp_core_agent *agent, const adapter_msg &msg, const char *ip, uint16_t port, TrapDelivery &out) {
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 识别到TRAP/INFORM（%s:%d，类型=%d）", kDispatchTag, ip, static_cast<int>(port),
              static_cast<int>(msg.pdu_op));
    out = TrapDelivery{};
    out.cb = trap_callback(&out.user_data);
    if (out.cb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（src_ip=%s, trap_msg=%p）", kTrapTag, ip, static_cast<const void *>(&msg));
        return false;
    }
    if (msg.pdu_op == SNMP_OP_INFORM) {
        AGENT_LOG(AGENT_LOG_INFO, "%s: 处理INFORM报文，准备发送响应到 %s:%d", kTrapTag, ip, static_cast<int>(port));
        send_inform_ack(agent, msg, ip, port);
    }
    copy_text(out.ip, sizeof(out.ip), ip);
    out.port = port;
    out.trap.version = msg.version;
    // The community the notification carried, not the one configured for the agent record.
    copy_text(out.trap.community, sizeof(out.trap.community), msg.community);
    out.trap.var_count = capped_count(msg.var_count, API_SNMP_MAX_TRAP_VARBINDS);
    std::copy_n(msg.varbinds, out.trap.var_count, out.trap.varbinds);
    return true;
}

// An SNMPv3 probe, TRAP or INFORM: delivered only once it authenticates (nms/core_v3_notify.h).
// List lock held.
bool prepare_v3_notification(DecodeWork &work, const char *ip, uint16_t port, TrapDelivery &out) {
    out = TrapDelivery{};
    out.cb = trap_callback(&out.user_data);
    if (out.cb == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（src_ip=%s, trap_msg=%p）", kTrapTag, ip, static_cast<const void *>(&work.msg));
        return false;
    }
    copy_text(out.ip, sizeof(out.ip), ip);
    out.port = port;
    return core_v3_receive_notification(ip, port, &work.msg, &work.codec, &out.trap);
}

void deliver_trap(const TrapDelivery &delivery) {
    delivery.cb(delivery.ip, delivery.port, &delivery.trap, API_SNMP_OK, delivery.user_data);
    AGENT_LOG(AGENT_LOG_INFO, "%s: TRAP/INFORM处理完成，已触发回调（源：%s:%d）", kTrapTag, delivery.ip,
              static_cast<int>(delivery.port));
}

// ---- Responses ----

void handle_v1v2_response(snmp_core_agent &agent, const adapter_msg &msg) {
    void *user_data = agent.user_data;
    end_request(agent);
    post_agent_response(agent, kNoUser, msg.cmd_type, answer_record(msg), user_data);
}

// Verifies (and decrypts) a message of a discovered agent and takes its scoped PDU into work.msg.
// API_SNMP_OK, or the failure to report.
api_snmp_err secure_v3_message(const snmp_core_v3_user &user, DecodeWork &work) {
    adapter_v3_user described{user.user_name, user.auth_alg, user.priv_alg, user.auth_key,
                              user.auth_key_len, user.priv_key, user.priv_key_len};
    // A Report carries nothing confidential: agents send one authenticated but in clear text
    // (RFC 3414 does so for notInTimeWindows), and it is checked at that level.
    if (work.msg.cmd_type == API_SNMP_CMD_REPORT && (work.msg.msg_flags & SNMP_V3_FLAG_PRIV) == 0) {
        described.priv_alg = API_SNMP_PRIV_NONE;
    }
    uint8_t enabled = (user.active != 0 && user.disabled == 0) ? 1 : 0;
    return adapter_v3_process_security(&described, enabled, &work.msg, &work.codec);
}

void handle_v3_message(snmp_core_agent &agent, DecodeWork &work) {
    adapter_msg &msg = work.msg;
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 处理V3响应（命令：%d，请求ID：%d）", kV3ResponseTag, static_cast<int>(msg.cmd_type),
              static_cast<int>(msg.request_id));
    void *user_data = agent.user_data;
    // An unsecured Report is read as the request's failure; nothing it says is taken.
    if (agent.v3_engine.discovery_state == CORE_V3_DISCOVERED && !core_snmpv3_is_unsecured_report(&msg)) {
        core_snmpv3_expire_disabled_users(&agent, now_seconds());
        const snmp_core_v3_user *user = core_snmpv3_user_ex_find(&agent, msg.user_name);
        if (user == nullptr) {
            fail_request(agent, msg.cmd_type, msg.user_name, API_SNMP_ERR_USER_NOT_FOUND, user_data);
            return;
        }
        api_snmp_err rc = secure_v3_message(*user, work);
        if (rc != API_SNMP_OK) {
            // An encrypted PDU that could not be opened has no command of its own.
            uint32_t cmd = msg.cmd_type != 0 ? msg.cmd_type : static_cast<uint32_t>(API_SNMP_CMD_RESPONSE);
            fail_request(agent, cmd, msg.user_name, rc, user_data);
            return;
        }
        if (!core_snmpv3_take_authenticated(&agent, &msg)) {
            return;  // another engine's, or a replay: the request stays outstanding
        }
    }
    bool discovered = agent.v3_engine.discovery_state == CORE_V3_DISCOVERED;
    if (msg.cmd_type == API_SNMP_CMD_GETBULK || (discovered && msg.cmd_type == API_SNMP_CMD_RESPONSE)) {
        snmp_core_handle_v3_get_response(&agent, &msg, user_data);
    } else if (msg.cmd_type == API_SNMP_CMD_REPORT || msg.cmd_type == API_SNMP_CMD_RESPONSE) {
        snmp_core_handle_v3_report(&agent, &msg, user_data);
    } else {
        fail_request(agent, msg.cmd_type, msg.user_name, API_SNMP_ERR_NOT_SUPPORTED, user_data);
    }
}

void log_dropped(const char *ip, uint16_t port, const char *reason) {
    AGENT_LOG(AGENT_LOG_DEBUG, "%s: 丢弃报文（%s:%d）：%s", kDispatchTag, ip, static_cast<int>(port), reason);
}

// True when the message answers in the agent's own terms: its version and, for SNMPv1/v2c, the
// community that the agent's requests carry.
bool speaks_for_agent(const snmp_core_agent &agent, const adapter_msg &msg) {
    if (msg.version != agent.version) {
        log_dropped(agent.ip, agent.port, kDropVersion);
        return false;
    }
    if (agent.version != API_SNMP_V3 && adapter_v1v2_community_matches(&msg, agent.community) == 0) {
        log_dropped(agent.ip, agent.port, kDropCommunity);
        return false;
    }
    return true;
}

// Handles one datagram that arrived from a created agent on that agent's own socket; true when a
// notification is to be delivered. Anything that is not the answer to the outstanding request is
// dropped and leaves that request outstanding. List lock held.
bool process_agent_datagram(snmp_core_agent &agent, const uint8_t *data, uint32_t len, DecodeWork &work,
                            TrapDelivery &trap) {
    api_snmp_err rc = adapter_decode_snmp_msg(&agent, data, len, &work.msg, &work.codec);
    if (rc != API_SNMP_OK) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 报文解码失败（%s:%d，错误：%d）", kDispatchTag, agent.ip,
                  static_cast<int>(agent.port), static_cast<int>(rc));
        return false;
    }
    const adapter_msg &msg = work.msg;
    if (core_v3_is_notification(&agent, &msg)) {
        return prepare_v3_notification(work, agent.ip, agent.port, trap);
    }
    if (is_notification(msg)) {
        return prepare_trap(&agent, msg, agent.ip, agent.port, trap);
    }
    if (agent.pending == 0 || msg.request_id != agent.pending_request_id) {
        AGENT_LOG(AGENT_LOG_DEBUG, "%s: 请求ID不匹配（期待：%d，收到：%d）", kDispatchTag,
                  static_cast<int>(agent.pending_request_id), static_cast<int>(msg.request_id));
        return false;
    }
    if (!speaks_for_agent(agent, msg)) {
        return false;
    }
    switch (agent.version) {
        case API_SNMP_V1:
        case API_SNMP_V2C:
            handle_v1v2_response(agent, msg);
            break;
        case API_SNMP_V3:
            handle_v3_message(agent, work);
            break;
        default:
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 不支持的SNMP版本：%d", kDispatchTag, static_cast<int>(agent.version));
            fail_request(agent, msg.cmd_type, nullptr, API_SNMP_ERR_INVALID_VERSION, agent.user_data);
            break;
    }
    return false;
}

// A datagram that is not on the socket of a created agent at its source address (the trap listener's
// socket among others): only notifications are accepted. agent is the created agent at the source
// address, or null. List lock held.
bool process_notification_datagram(snmp_core_agent *agent, const uint8_t *data, uint32_t len, const char *ip,
                                   uint16_t port, DecodeWork &work, TrapDelivery &trap) {
    // The decoder only checks that a sender record is present.
    const void *sender_record = agent != nullptr ? static_cast<const void *>(agent) : &work;
    if (adapter_decode_snmp_msg(sender_record, data, len, &work.msg, &work.codec) != API_SNMP_OK) {
        log_dropped(ip, port, kDropNotNotification);
        return false;
    }
    // Nothing here answers a request, so an encrypted SNMPv3 message can only be a notification.
    if (core_v3_is_notification(nullptr, &work.msg)) {
        return prepare_v3_notification(work, ip, port, trap);
    }
    if (!is_notification(work.msg)) {
        log_dropped(ip, port, kDropNotNotification);
        return false;
    }
    return prepare_trap(agent, work.msg, ip, port, trap);
}

// ---- Tick ----

// Where a step of the tick counter arrived and which checks it reached on the way.
struct TickStep {
    uint32_t tick;
    bool second;     // a multiple of CORE_TICKS_PER_SECOND (once a second)
    bool time_sync;  // the counter's wrap to 0 (every CORE_TIME_SYNC_CHECK_TICKS)
};

TickStep advance_tick(uint32_t elapsed_ms) noexcept {
    uint32_t current = g_tick_counter.load(std::memory_order_relaxed);
    uint64_t reached = 0;
    do {
        reached = uint64_t{current} + elapsed_ms;
    } while (!g_tick_counter.compare_exchange_weak(current, static_cast<uint32_t>(reached % CORE_TIME_SYNC_CHECK_TICKS),
                                                   std::memory_order_relaxed));
    return TickStep{static_cast<uint32_t>(reached % CORE_TIME_SYNC_CHECK_TICKS),
                    reached / CORE_TICKS_PER_SECOND != current / CORE_TICKS_PER_SECOND,
                    reached >= CORE_TIME_SYNC_CHECK_TICKS};
}

// A retransmission decided under the list lock, sent after it and then committed to the agent's
// request slot if that still holds the same request.
struct Resend {
    char ip[API_SNMP_IP_SIZE];
    uint16_t port;
    platform_socket_t sock;
    uint32_t request_id;
    uint8_t retry_count;  // before this retransmission
    uint32_t retries;
    const char *label;
    uint32_t len;
    std::array<uint8_t, CORE_MAX_PACKET_SIZE> packet;
    bool sent;
};

// The retransmissions of one check; kept by the ticking thread so that its storage is reused.
thread_local std::vector<Resend> t_resends;

const char *request_label(const snmp_core_agent &agent) noexcept {
    bool discovering = agent.version == API_SNMP_V3 && agent.v3_engine.discovery_state == CORE_V3_DISCOVERY_SENT;
    return discovering ? kDiscoveryLabel : kCommandLabel;
}

void plan_resend(const snmp_core_agent &agent) noexcept {
    try {
        Resend &resend = t_resends.emplace_back();
        copy_text(resend.ip, sizeof(resend.ip), agent.ip);
        resend.port = agent.port;
        resend.sock = agent.sock;
        resend.request_id = agent.pending_request_id;
        resend.retry_count = agent.retry_count;
        resend.retries = agent.retries;
        resend.label = request_label(agent);
        resend.len = agent.last_packet_len;
        std::copy_n(agent.last_packet, agent.last_packet_len, resend.packet.begin());
    } catch (const std::bad_alloc &) {
        // Left as it is: the next second tries again.
    }
}

void time_out(snmp_core_agent &agent) {
    AGENT_LOG(AGENT_LOG_ERROR, "%s: %s超时（ID：%d，重试耗尽）", kTimeoutTag, request_label(agent),
              static_cast<int>(agent.pending_request_id));
    bool notify = request_has_owner(agent);
    void *user_data = agent.user_data;
    end_request(agent);
    if (notify) {
        api_snmp_response response{};
        response.request_id = agent.pending_request_id;
        response.error = API_SNMP_ERR_TIMEOUT;
        response.error_status = API_SNMP_ERROR_STATUS_LOCAL;
        post_agent_response(agent, kNoUser, API_SNMP_CMD_GET, response, user_data);
    }
}

// Plans the retransmission of a request that waited longer than its time-out, or times it out
// when its retries are spent. True while the request stays outstanding. List lock held.
bool retransmit_or_time_out(snmp_core_agent &agent, int64_t now) {
    if (agent.pending == 0 || agent.last_packet_len == 0) {
        return false;
    }
    int64_t elapsed_s = now - static_cast<int64_t>(agent.last_send_time);
    if (elapsed_s * kMsPerSecond <= static_cast<int64_t>(agent.timeout_ms)) {
        return true;
    }
    if (agent.retry_count < agent.retries) {
        plan_resend(agent);
        return true;
    }
    time_out(agent);
    return false;
}

// Counts the retransmission as made when the agent still waits for the same request. List lock held.
bool commit_resend(const Resend &resend, int64_t now) {
    snmp_core_agent *agent = core_find_agent_by_addr(resend.ip, resend.port);
    if (agent == nullptr || agent->pending == 0 || agent->last_packet_len == 0 ||
        agent->pending_request_id != resend.request_id || agent->retry_count != resend.retry_count) {
        return false;
    }
    ++agent->retry_count;
    agent->last_send_time = static_cast<uint32_t>(now);
    return true;
}

// Sends the planned retransmissions without the list lock, so that answers keep flowing meanwhile,
// then commits those that went out. A failed one is left as it was, for the next second. One WARN
// line names the first retransmission; when there were more, a second one gives their number.
void send_planned_resends(int64_t now) {
    for (Resend &resend : t_resends) {
        resend.sent = net_interface_send_to(resend.sock, resend.ip, resend.port, resend.packet.data(), resend.len) ==
                      API_SNMP_OK;
    }
    const Resend *first = nullptr;
    uint32_t committed = 0;
    {
        CoreSection section;
        for (const Resend &resend : t_resends) {
            if (resend.sent && commit_resend(resend, now)) {
                first = first == nullptr ? &resend : first;
                ++committed;
            }
        }
    }
    if (first != nullptr) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: %s重发（ID：%d，重试：%d/%d）", kTimeoutTag, first->label,
                  static_cast<int>(first->request_id), static_cast<int>(first->retry_count + 1),
                  static_cast<int>(first->retries));
    }
    if (committed > 1) {
        AGENT_LOG(AGENT_LOG_WARN, "%s: 本秒共重发%u个请求（仅列出第一个）", kTimeoutTag, static_cast<unsigned>(committed));
    }
}

void check_all_agent_timeout() {
    int64_t now = now_seconds();
    t_resends.clear();
    {
        CoreSection section;
        bool outstanding = false;
        for_each_agent([now, &outstanding](snmp_core_agent &agent) {
            if (agent.version == API_SNMP_V3) {
                core_snmpv3_expire_disabled_users(&agent, now);
            }
            outstanding = retransmit_or_time_out(agent, now) || outstanding;
        });
        g_outstanding.store(outstanding, std::memory_order_seq_cst);
    }
    if (!t_resends.empty()) {
        send_planned_resends(now);
    }
}

void check_v3_time_sync() {
    AGENT_LOG(AGENT_LOG_INFO, "%s: 开始V3引擎时间同步检查", kTimeSyncTag);
    {
        CoreSection section;
        for_each_agent([](snmp_core_agent &agent) {
            // A request in flight is left alone: its own outcome decides what happens next.
            if (agent.version != API_SNMP_V3 || agent.pending != 0 ||
                core_snmpv3_check_time_sync(&agent, &agent.v3_engine)) {
                return;
            }
            AGENT_LOG(AGENT_LOG_WARN, "%s: Agent[%s:%d]时间同步过期，触发重新发现", kTimeSyncTag, agent.ip,
                      static_cast<int>(agent.port));
            agent.user_data = nullptr;
            api_snmp_err rc = core_snmpv3_send_discover(&agent, &agent.v3_engine);
            if (rc != API_SNMP_OK) {
                AGENT_LOG(AGENT_LOG_ERROR, "%s: Agent[%s:%d]重新发现失败，错误码：%d", kTimeSyncTag, agent.ip,
                          static_cast<int>(agent.port), static_cast<int>(rc));
            }
        });
    }
    AGENT_LOG(AGENT_LOG_INFO, "%s: V3引擎时间同步检查完成", kTimeSyncTag);
}

// Dispatches one received datagram: answers are looked for only on the socket of the agent at the
// datagram's source address. Takes the list lock.
void dispatch_datagram(const net_recv_packet &packet, DispatchScratch &scratch) {
    bool deliver = false;
    {
        CoreSection section;
        snmp_core_agent *agent = core_find_agent_by_addr(packet.ip, packet.port);
        deliver = agent != nullptr && agent->sock == packet.sock
                      ? process_agent_datagram(*agent, packet.data, packet.len, scratch.work, scratch.trap)
                      : process_notification_datagram(agent, packet.data, packet.len, packet.ip, packet.port,
                                                      scratch.work, scratch.trap);
    }
    if (deliver) {
        deliver_trap(scratch.trap);
    }
}

}  // namespace

extern "C" {

void *core_net_recv_thread(void *arg) {
    (void)arg;
    auto packet = std::make_unique<net_recv_packet>();
    auto scratch = std::make_unique<DispatchScratch>();
    while (snmp_core_is_running()) {
        api_snmp_err rc = net_interface_dequeue(packet.get(), CORE_RECV_DEQUEUE_TIMEOUT_MS);
        if (rc == API_SNMP_ERR_TIMEOUT || rc == API_SNMP_ERR_NO_DATA) {
            continue;
        }
        if (rc != API_SNMP_OK) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 队列取数据失败：%d", "core_net_recv_thread", static_cast<int>(rc));
            platform_delay_ms(kRecvErrorBackoffMs);
            continue;
        }
        if (!snmp_core_is_running()) {
            break;
        }
        dispatch_datagram(*packet, *scratch);
    }
    return nullptr;
}

void snmp_core_handle_response(const uint8_t *data, uint32_t len, platform_socket_t sock, void *user_data) {
    (void)user_data;  // the agent's own user data is read under the lock
    if (data == nullptr || len < 1 || len > CORE_MAX_PACKET_SIZE || sock == NET_INVALID_SOCKET) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: 无效参数（data=%p, len=%u, sock=%lld）", __func__, static_cast<const void *>(data),
                  static_cast<unsigned>(len), static_cast<long long>(sock));
        return;
    }
    auto work = std::make_unique<DecodeWork>();
    auto trap = std::make_unique<TrapDelivery>();
    bool deliver = false;
    {
        CoreSection section;
        snmp_core_agent *agent = find_agent_by_socket(sock);
        if (agent == nullptr) {
            AGENT_LOG(AGENT_LOG_ERROR, "%s: 未找到匹配Agent（socket：%lld）", __func__, static_cast<long long>(sock));
            return;
        }
        deliver = process_agent_datagram(*agent, data, len, *work, *trap);
    }
    if (deliver) {
        deliver_trap(*trap);
    }
}

void core_handle_error(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                       void *user_data) {
    if (agent == nullptr) {
        return;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "%s: 请求处理错误（%s:%d，类型：%d，错误码：%d）", __func__, agent->ip,
              static_cast<int>(agent->port), static_cast<int>(cmd_type), static_cast<int>(error));
    bool notify = agent->pending != 0 && request_has_owner(*agent) && !silent_error(error);
    end_request(*agent);
    if (notify) {
        trigger_error_callback(agent, cmd_type, user_name, error, user_data);
    }
}

void trigger_error_callback(snmp_core_agent *agent, uint32_t cmd_type, const char *user_name, uint32_t error,
                            void *user_data) {
    if (agent == nullptr) {
        return;
    }
    api_snmp_response response{};
    response.request_id = agent->pending_request_id;
    response.error = error;
    response.error_status = API_SNMP_ERROR_STATUS_LOCAL;
    const char *name = agent->version == API_SNMP_V3 ? user_name : kNoUser;
    post_agent_response(*agent, name, cmd_type, response, user_data);
}

// Runs the checks that a step of the tick reached.
void run_tick_checks(const TickStep &step) {
    if (step.second) {
        check_all_agent_timeout();
    }
    if (step.time_sync) {
        check_v3_time_sync();
    }
}

api_snmp_err core_snmp_1ms_timer_tick(void) {
    if (!snmp_core_is_running()) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s: SNMP核心未初始化，拒绝1ms心跳", __func__);
        return API_SNMP_ERR_INIT_FAILED;
    }
    run_tick_checks(advance_tick(1));
    return API_SNMP_OK;
}

uint32_t core_snmp_timer_advance(uint32_t elapsed_ms) {
    if (!snmp_core_is_running()) {
        return CORE_TICKS_PER_SECOND;
    }
    const TickStep step = advance_tick(elapsed_ms);
    run_tick_checks(step);
    std::lock_guard<std::mutex> lock(g_timer_mutex);
    g_sleep_until_request = !g_outstanding.load(std::memory_order_seq_cst);
    g_sleep_mark = g_requests_sent;
    if (g_sleep_until_request) {
        return CORE_TIME_SYNC_CHECK_TICKS - step.tick;
    }
    return CORE_TICKS_PER_SECOND - step.tick % CORE_TICKS_PER_SECOND;
}

void core_snmp_timer_sleep(uint32_t ms) {
    std::unique_lock<std::mutex> lock(g_timer_mutex);
    g_timer_wake.wait_for(lock, std::chrono::milliseconds(ms), [] {
        return g_timer_interrupted || (g_sleep_until_request && g_requests_sent != g_sleep_mark);
    });
    g_timer_interrupted = false;
    g_sleep_until_request = false;
}

void core_snmp_timer_interrupt(void) {
    {
        std::lock_guard<std::mutex> lock(g_timer_mutex);
        g_timer_interrupted = true;
    }
    g_timer_wake.notify_all();
}

}  // extern "C"

namespace vek::nms::core {

void note_request_sent() {
    g_outstanding.store(true, std::memory_order_seq_cst);
    bool sleeping_until_request = false;
    {
        std::lock_guard<std::mutex> lock(g_timer_mutex);
        ++g_requests_sent;
        sleeping_until_request = g_sleep_until_request;
    }
    if (sleeping_until_request) {  // a timer sleeping until the next second needs no wake-up
        g_timer_wake.notify_all();
    }
}

}  // namespace vek::nms::core
