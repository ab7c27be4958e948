// Notifications of the agent (SNMPv2c, or SNMPv3 through agent_v3_notify) and the table of informs
// waiting for the manager's Response.
#include "agent/agent_trap.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "agent/agent_config.h"
#include "agent/agent_v3_notify.h"
#include "agent/trans.h"
#include "base/irq_section.h"
#include "base/agent_log.h"
#include "base/platform.h"
#include "codec/snmp_ber.h"
#include "codec/snmp_protocol.h"
#include "codec/snmp_trap.h"

extern "C" {
agent_inform_entry g_inform_pending[AGENT_MAX_PENDING_INFORMS]{};
}

namespace {

using Ipv4 = std::array<uint8_t, TRANS_IPV4_LEN>;

constexpr uint32_t kRequestIdModulus = 2147483647u;
constexpr uint32_t kRequestIdMax = 0x7FFFFFFFu;
constexpr uint32_t kTicksPerHundredth = 10;
constexpr size_t kIpTextMax = 63;          // characters of a destination text taken into account
constexpr uint32_t kIpByteMax = 255;
constexpr uint32_t kIpPieceCap = 0x7FFFFFFFu;
constexpr unsigned kDecimalBase = 10;
constexpr size_t kMinCustomOidText = 5;    // a notification OID text needs more than four characters
constexpr uint8_t kNoEntry = 0xFF;
constexpr const char *kNullText = "NULL";

// Request-id of the next notification built by this module (separate from the codec's counter).
uint32_t g_trap_request_id = AGENT_TRAP_REQUEST_ID_FLOOR;

// Text of the last agent_trap_get_nms_ip_str result.
std::array<char, AGENT_TRAP_IP_TEXT_SIZE> g_nms_ip_text{};

using vek::IrqSection;

const char *or_null(const char *text) { return text != nullptr ? text : kNullText; }

// The request-id of the first notification: random, so that a host that cannot see the agent's
// informs cannot guess the id a forged Response must carry to end one. The clock serves only when
// the system's random source fails.
uint32_t first_request_id() {
    std::array<uint8_t, sizeof(uint32_t)> bytes{};
    uint32_t seed = platform_get_tick();
    if (platform_rand_generate_crypto(bytes.data(), static_cast<uint32_t>(bytes.size())) == 1) {
        seed = platform_be32_to_cpu(bytes.data());
    }
    return std::max(seed % kRequestIdModulus, AGENT_TRAP_REQUEST_ID_FLOOR);
}

uint32_t next_request_id() {
    const uint32_t id = g_trap_request_id;
    // Kept within the positive Integer32 range that every manager matches on.
    g_trap_request_id = id >= kRequestIdMax ? AGENT_TRAP_REQUEST_ID_FLOOR : id + 1;
    return id;
}

// Community of outgoing notifications: the read-only community when it is usable, else "public".
void set_community(snmp_message &msg) {
    const uint8_t len = agent_cfg.ro_community_len;
    if (len >= 1 && len <= SNMP_MAX_COMMUNITY_LEN) {
        std::memcpy(msg.usm.username, agent_cfg.ro_community, len);
        msg.usm.user_len = len;
        return;
    }
    AGENT_LOG(AGENT_LOG_WARN, "配置的只读共同体无效，使用默认public");
    const std::string_view fallback = AGENT_TRAP_DEFAULT_COMMUNITY;
    std::memcpy(msg.usm.username, fallback.data(), fallback.size());
    msg.usm.user_len = static_cast<uint8_t>(fallback.size());
}

void append_extras(snmp_pdu &pdu, uint8_t extra_count, const snmp_varbind *extra) {
    if (extra_count == 0 || extra == nullptr) {
        return;
    }
    const size_t room = SNMP_MAX_VARBINDS - std::min<size_t>(pdu.varbind_count, SNMP_MAX_VARBINDS);
    if (extra_count > room) {
        AGENT_LOG(AGENT_LOG_ERROR, "自定义VarBind数量超限，截断");
    }
    const size_t appended = std::min<size_t>(extra_count, room);
    for (size_t i = 0; i < appended; ++i) {
        snmp_varbind *slot = snmp_pdu_add_varbind(&pdu);
        if (slot == nullptr) {
            break;
        }
        *slot = extra[i];
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "追加自定义变量绑定，新增%u条", static_cast<unsigned>(appended));
}

// One dotted piece: digits only, at most 255. Logs the failure.
bool parse_ip_piece(std::string_view piece, const char *text, uint8_t &out) {
    if (piece.empty()) {
        AGENT_LOG(AGENT_LOG_ERROR, "IP转换失败：格式错误 [%s]", text);
        return false;
    }
    uint32_t value = 0;
    for (char c : piece) {
        if (c < '0' || c > '9') {
            std::array<char, kIpTextMax + 1> shown{};
            std::memcpy(shown.data(), piece.data(), std::min(piece.size(), kIpTextMax));
            AGENT_LOG(AGENT_LOG_ERROR, "IP转换失败：包含非数字字符 [%s]", shown.data());
            return false;
        }
        value = std::min<uint32_t>(value * kDecimalBase + static_cast<uint32_t>(c - '0'), kIpPieceCap);
    }
    if (value > kIpByteMax) {
        AGENT_LOG(AGENT_LOG_ERROR, "IP转换失败：字节值超出范围 [%d]", static_cast<int>(value));
        return false;
    }
    out = static_cast<uint8_t>(value);
    return true;
}

// Dotted IPv4 text to bytes (network order). Pieces after the fourth are ignored.
std::optional<Ipv4> parse_ip(const char *text) {
    const std::string_view whole(text, strnlen(text, kIpTextMax));
    Ipv4 ip{};
    size_t start = 0;
    size_t pieces = 0;
    while (pieces < ip.size() && start <= whole.size()) {
        const size_t dot = whole.find('.', start);
        const size_t end = dot == std::string_view::npos ? whole.size() : dot;
        if (!parse_ip_piece(whole.substr(start, end - start), text, ip[pieces])) {
            return std::nullopt;
        }
        ++pieces;
        if (dot == std::string_view::npos) {
            break;
        }
        start = dot + 1;
    }
    if (pieces < ip.size()) {
        AGENT_LOG(AGENT_LOG_ERROR, "IP转换失败：格式错误 [%s]", text);
        return std::nullopt;
    }
    return ip;
}

// Takes the first free pending entry for request_id; kNoEntry when the table is full.
uint8_t take_inform_entry(uint32_t request_id) {
    IrqSection section;
    for (uint8_t i = 0; i < AGENT_MAX_PENDING_INFORMS; ++i) {
        agent_inform_entry &entry = g_inform_pending[i];
        if (entry.in_use == 0) {
            entry = agent_inform_entry{1, request_id, 0, 0};
            return i;
        }
    }
    return kNoEntry;
}

void mark_sent(uint8_t index, uint32_t tick) {
    IrqSection section;
    g_inform_pending[index].sent_tick = tick;
}

bool send_trap(const uint8_t *buf, uint16_t len, const Ipv4 &ip, uint16_t port, const char *dst_ip,
               const char *trap_oid, uint32_t request_id) {
    if (trans_send(&eth_trans_ctx, buf, len, ip.data(), port)) {
        AGENT_LOG(AGENT_LOG_INFO, "Trap发送成功 [NMS:%s:%d, OID:%s, RequestID:%u]", dst_ip, static_cast<int>(port),
                  trap_oid, request_id);
        return true;
    }
    AGENT_LOG(AGENT_LOG_ERROR, "Trap发送失败 [NMS:%s:%d, OID:%s, RequestID:%u]", dst_ip, static_cast<int>(port),
              trap_oid, request_id);
    return false;
}

bool send_inform(const uint8_t *buf, uint16_t len, const Ipv4 &ip, uint16_t port, const char *dst_ip,
                 const char *trap_oid, uint32_t request_id) {
    const uint8_t index = take_inform_entry(request_id);
    if (index != kNoEntry) {
        AGENT_LOG(AGENT_LOG_DEBUG, "Inform缓存申请成功 [索引:%u, RequestID:%u]", static_cast<unsigned>(index),
                  request_id);
    } else {
        AGENT_LOG(AGENT_LOG_ERROR, "Inform缓存已满，无法申请新缓存 [RequestID:%u]", request_id);
        AGENT_LOG(AGENT_LOG_WARN, "Inform缓存已满，发送可能无法匹配响应 [NMS:%s:%d, RequestID:%u]", dst_ip,
                  static_cast<int>(port), request_id);
    }
    // Sent outside the interrupt bracket: a failed send may rebuild the socket and join its thread.
    if (!trans_send(&eth_trans_ctx, buf, len, ip.data(), port)) {
        if (index != kNoEntry) {
            agent_inform_free(index);
        }
        AGENT_LOG(AGENT_LOG_ERROR, "Inform发送失败 [NMS:%s:%d, OID:%s, RequestID:%u]", dst_ip,
                  static_cast<int>(port), trap_oid, request_id);
        return false;
    }
    if (index != kNoEntry) {
        mark_sent(index, platform_get_tick());
    }
    AGENT_LOG(AGENT_LOG_INFO, "Inform发送成功（等待响应） [NMS:%s:%d, OID:%s, RequestID:%u, 超时:%dms]", dst_ip,
              static_cast<int>(port), trap_oid, request_id, static_cast<int>(AGENT_INFORM_TIMEOUT_MS));
    return true;
}

// Manager port known to the TRANS_ETH context, for the automatic senders' log line.
int auto_nms_port() {
    uint16_t port = 0;
    if (trans_get_nms_addr(&eth_trans_ctx, nullptr, &port) && port != 0) {
        return port;
    }
    AGENT_LOG(AGENT_LOG_WARN, "传输层无NMS端口记录，使用默认值：%d", static_cast<int>(AGENT_TRAP_DEFAULT_PORT));
    return static_cast<int>(AGENT_TRAP_DEFAULT_PORT);
}

bool send_custom(const char *who, const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t is_inform,
                 uint8_t count, const snmp_varbind *vbs) {
    if (dst_ip == nullptr || trap_oid == nullptr || vbs == nullptr || count == 0) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s param invalid", who);
        return false;
    }
    if (strnlen(trap_oid, kMinCustomOidText) < kMinCustomOidText) {
        AGENT_LOG(AGENT_LOG_ERROR, "%s trap oid invalid", who);
        return false;
    }
    return agent_send_v2c_trap_inform(dst_ip, dst_port, trap_oid, is_inform, count, vbs);
}

// An SNMPv3 notification (agent/agent_v3_notify.h); an inform is tracked like the SNMPv2c ones.
bool send_v3(const snmp_pdu &pdu, const Ipv4 &ip, uint16_t port, const char *dst_ip, const char *trap_oid,
             uint32_t request_id, bool inform) {
    const uint8_t index = inform ? take_inform_entry(request_id) : kNoEntry;
    if (inform && index == kNoEntry) {
        AGENT_LOG(AGENT_LOG_ERROR, "Inform缓存已满，无法申请新缓存 [RequestID:%u]", request_id);
    }
    if (!agent_v3_notify_send(ip.data(), port, &pdu, inform)) {
        if (index != kNoEntry) {
            agent_inform_free(index);
        }
        AGENT_LOG(AGENT_LOG_ERROR, "SNMPv3 %s发送失败 [NMS:%s:%d, OID:%s, RequestID:%u]", inform ? "Inform" : "Trap",
                  dst_ip, static_cast<int>(port), trap_oid, request_id);
        return false;
    }
    if (index != kNoEntry) {
        mark_sent(index, platform_get_tick());
    }
    AGENT_LOG(AGENT_LOG_INFO, "SNMPv3 %s发送成功 [NMS:%s:%d, OID:%s, RequestID:%u]", inform ? "Inform" : "Trap", dst_ip,
              static_cast<int>(port), trap_oid, request_id);
    return true;
}

}  // namespace

extern "C" {

void agent_trap_init(void) {
    agent_v3_notify_reset();
    {
        IrqSection section;
        std::fill(std::begin(g_inform_pending), std::end(g_inform_pending), agent_inform_entry{});
    }
    g_trap_request_id = first_request_id();
}

bool agent_send_v2c_trap_inform(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t is_inform,
                                uint8_t extra_count, const snmp_varbind *extra) {
    if (dst_ip == nullptr || trap_oid == nullptr) {
        AGENT_LOG(AGENT_LOG_ERROR, "Trap/Inform入参无效 [ip=%s, oid=%s]", or_null(dst_ip), or_null(trap_oid));
        return false;
    }
    snmp_message msg{};
    msg.version = SNMP_VERSION_2C;
    set_community(msg);
    const uint32_t uptime = platform_get_tick() / kTicksPerHundredth;
    const uint32_t request_id = next_request_id();
    AGENT_LOG(AGENT_LOG_DEBUG, "构造Trap/Inform PDU [RequestID:%u, Uptime:%u, OID:%s]", request_id, uptime, trap_oid);

    const int32_t built = snmp_trap_build_v2c_v3_pdu(&msg.pdu, is_inform, uptime, trap_oid, request_id);
    if (built != SNMP_OK) {
        AGENT_LOG(AGENT_LOG_ERROR, "调用协议层构造PDU失败 [err=%d]", built);
        return false;
    }
    append_extras(msg.pdu, extra_count, extra);
    if (agent_v3_notify_enabled()) {
        const std::optional<Ipv4> v3_ip = parse_ip(dst_ip);
        const uint16_t v3_port = dst_port != 0 ? dst_port : static_cast<uint16_t>(AGENT_TRAP_DEFAULT_PORT);
        return v3_ip && send_v3(msg.pdu, *v3_ip, v3_port, dst_ip, trap_oid, request_id, is_inform != 0);
    }

    std::array<uint8_t, SNMP_MAX_MSG_SIZE> buf{};
    uint16_t len = 0;
    const int32_t encoded =
        snmp_ber_encode_snmp_message(buf.data(), static_cast<uint16_t>(buf.size()), nullptr, &msg, &len);
    if (encoded != SNMP_OK || len == 0 || len >= SNMP_MAX_MSG_SIZE) {
        AGENT_LOG(AGENT_LOG_ERROR, "协议层编码失败 [err=%d, len=%u]", encoded, static_cast<unsigned>(len));
        return false;
    }

    const std::optional<Ipv4> ip = parse_ip(dst_ip);
    if (!ip) {
        AGENT_LOG(AGENT_LOG_ERROR, "IP地址转换失败 [%s]", dst_ip);
        return false;
    }
    const uint16_t port = dst_port != 0 ? dst_port : static_cast<uint16_t>(AGENT_TRAP_DEFAULT_PORT);
    if (is_inform == 0) {
        return send_trap(buf.data(), len, *ip, port, dst_ip, trap_oid, request_id);
    }
    return send_inform(buf.data(), len, *ip, port, dst_ip, trap_oid, request_id);
}


bool agent_send_v2c_link_down_trap(const char *dst_ip) {
    return agent_send_v2c_trap_inform(dst_ip, AGENT_TRAP_DEFAULT_PORT, AGENT_TRAP_OID_LINK_DOWN, 0, 0, nullptr);
}

bool agent_send_v2c_link_up_inform(const char *dst_ip) {
    return agent_send_v2c_trap_inform(dst_ip, AGENT_TRAP_DEFAULT_PORT, AGENT_TRAP_OID_LINK_UP, 1, 0, nullptr);
}

bool agent_send_v2c_link_down_trap_auto(void) {
    const char *ip = agent_trap_get_nms_ip_str();
    const int port = auto_nms_port();
    AGENT_LOG(AGENT_LOG_INFO, "自动选择NMS地址发送链路断开Trap：%s:%d", ip, port);
    return agent_send_v2c_link_down_trap(ip);
}

bool agent_send_v2c_link_up_inform_auto(void) {
    const char *ip = agent_trap_get_nms_ip_str();
    const int port = auto_nms_port();
    AGENT_LOG(AGENT_LOG_INFO, "自动选择NMS地址发送链路恢复Inform：%s:%d", ip, port);
    return agent_send_v2c_link_up_inform(ip);
}

bool agent_send_custom_trap(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t count,
                            const snmp_varbind *vbs) {
    return send_custom("agent_send_custom_trap", dst_ip, dst_port, trap_oid, 0, count, vbs);
}

bool agent_send_custom_inform(const char *dst_ip, uint16_t dst_port, const char *trap_oid, uint8_t count,
                              const snmp_varbind *vbs) {
    return send_custom("agent_send_custom_inform", dst_ip, dst_port, trap_oid, 1, count, vbs);
}

bool agent_trap_match_inform_resp(uint32_t request_id) {
    uint8_t matched = kNoEntry;
    {
        IrqSection section;
        for (uint8_t i = 0; i < AGENT_MAX_PENDING_INFORMS; ++i) {
            agent_inform_entry &entry = g_inform_pending[i];
            if (entry.in_use != 0 && entry.request_id == request_id) {
                entry.response_received = 1;
                matched = i;
                break;
            }
        }
    }
    if (matched != kNoEntry) {
        AGENT_LOG(AGENT_LOG_DEBUG, "Inform响应标记已收到 [索引:%u, RequestID:%u]", static_cast<unsigned>(matched),
                  request_id);
        agent_inform_free(matched);
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "Inform响应匹配结果 [RequestID:%u, 是否Inform:%d]", request_id,
              matched != kNoEntry ? 1 : 0);
    return matched != kNoEntry;
}

void agent_inform_timeout_check(void) {
    const uint32_t now = platform_get_tick();
    std::array<uint8_t, AGENT_MAX_PENDING_INFORMS> expired{};
    std::array<uint32_t, AGENT_MAX_PENDING_INFORMS> expired_ids{};
    size_t expired_count = 0;
    {
        IrqSection section;
        for (uint8_t i = 0; i < AGENT_MAX_PENDING_INFORMS; ++i) {
            const agent_inform_entry &entry = g_inform_pending[i];
            if (entry.in_use != 0 && entry.response_received == 0 &&
                static_cast<uint32_t>(now - entry.sent_tick) >= AGENT_INFORM_TIMEOUT_MS) {
                expired[expired_count] = i;
                expired_ids[expired_count] = entry.request_id;
                ++expired_count;
            }
        }
    }
    for (size_t i = 0; i < expired_count; ++i) {
        AGENT_LOG(AGENT_LOG_WARN, "Inform响应超时 [RequestID:%u, 超时:%dms]", expired_ids[i],
                  static_cast<int>(AGENT_INFORM_TIMEOUT_MS));
        agent_inform_free(expired[i]);
    }
}

void agent_inform_free(uint8_t index) {
    if (index >= AGENT_MAX_PENDING_INFORMS) {
        AGENT_LOG(AGENT_LOG_ERROR, "Inform缓存释放失败：索引越界 [索引:%u]", static_cast<unsigned>(index));
        return;
    }
    uint32_t request_id = 0;
    {
        IrqSection section;
        agent_inform_entry &entry = g_inform_pending[index];
        request_id = entry.request_id;
        entry.in_use = 0;
        entry.request_id = 0;
        entry.response_received = 0;
    }
    AGENT_LOG(AGENT_LOG_DEBUG, "Inform缓存释放成功 [索引:%u, RequestID:%u]", static_cast<unsigned>(index), request_id);
}

const char *agent_trap_get_nms_ip_str(void) {
    Ipv4 ip{};
    const bool seen = trans_get_nms_addr(&eth_trans_ctx, ip.data(), nullptr);
    if (!seen && ip == Ipv4{}) {
        std::snprintf(g_nms_ip_text.data(), g_nms_ip_text.size(), "%s", AGENT_TRAP_DEFAULT_NMS_IP);
        AGENT_LOG(AGENT_LOG_WARN, "传输层无NMS IP记录，使用默认值：%s", g_nms_ip_text.data());
        return g_nms_ip_text.data();
    }
    std::snprintf(g_nms_ip_text.data(), g_nms_ip_text.size(), "%d.%d.%d.%d", static_cast<int>(ip[0]),
                  static_cast<int>(ip[1]), static_cast<int>(ip[2]), static_cast<int>(ip[3]));
    return g_nms_ip_text.data();
}

}  // extern "C"
